#pragma once
// Builds a window's control tree from the XML layout file:
//
//   <Layouts>
//     <Font name="CustomFont16" face="微软雅黑" size="16" bold="false" default="true"/>
//     <Window name="VLMessagebox" size="420,220" mininfo="420,220" caption="0,0,0,40" roundcorner="6,6">
//       <Font .../>                       fonts of this window only
//       <VerticalLayout bkcolor="#FFFFFFFF"> ... controls ... </VerticalLayout>
//     </Window>
//   </Layouts>
//
// Tags: VerticalLayout, HorizontalLayout, Container, Control, Label (Text),
// Button, Option, Combo (with ComboElement children), GridList, Progress,
// Slide, RichEdit; any other tag goes to the IDialogBuilderCallback, then to
// the tags registered with RegisterControl. Every attribute of a tag is passed
// to the control's SetAttribute in document order.
// UI thread only.
#include <functional>
#include <string>

#include "platform/ui/UIControl.h"

namespace pugi {
class xml_node;
}

namespace KwLib {

class UIPaintManager;
class UIWindowWnd;

class IDialogBuilderCallback {
public:
    virtual ~IDialogBuilderCallback() = default;
    // A new control for `tag`, or nullptr when the tag is not this callback's.
    virtual UIControl* CreateControl(const std::string& tag) = 0;
};

class UIDialogBuilder {
public:
    // Builds window `windowName` of `xmlFile` (a path, or a file name in the
    // resource folder). Window attributes and fonts go to `pm` (and the
    // window's size to `window`) when given. Returns the root control, owned
    // by the caller (normally handed to UIPaintManager::AttachDialog), or
    // nullptr with GetError set.
    UIControl* Create(const std::string& xmlFile, const std::string& windowName,
                      IDialogBuilderCallback* callback = nullptr, UIPaintManager* pm = nullptr,
                      UIWindowWnd* window = nullptr);
    UIControl* CreateFromString(const std::string& xml, const std::string& windowName,
                                IDialogBuilderCallback* callback = nullptr, UIPaintManager* pm = nullptr,
                                UIWindowWnd* window = nullptr);
    const std::string& GetError() const { return m_error; }

    // The built-in controls by tag; nullptr for an unknown tag.
    static UIControl* CreateBuiltinControl(const std::string& tag);
    // Registers a tag for every layout (an alternative to the callback).
    static void RegisterControl(const std::string& tag, std::function<UIControl*()> factory);
    // Controls nest at most this deep; building, laying out and painting
    // recurse once per level, so a deeper layout is refused, not a crash.
    static constexpr int kMaxDepth = 100;

private:
    UIControl* Build(const pugi::xml_node& layouts, const std::string& windowName);
    UIControl* Parse(const pugi::xml_node& node, UIControl* parent, int depth);
    void ApplyFont(const pugi::xml_node& node);

    IDialogBuilderCallback* m_callback = nullptr;
    UIPaintManager* m_pm = nullptr;
    UIWindowWnd* m_window = nullptr;
    std::string m_error;
    bool m_tooDeep = false;
};

}  // namespace KwLib
