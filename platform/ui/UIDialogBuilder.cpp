#include "platform/ui/UIDialogBuilder.h"

#include <map>
#include <pugixml.hpp>

#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UICombo.h"
#include "platform/ui/UILayout.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UIRichEdit.h"
#include "platform/ui/UIWindowWnd.h"

namespace KwLib {

namespace {
std::map<std::string, std::function<UIControl*()>>& Registry() {
    static std::map<std::string, std::function<UIControl*()>> registry;
    return registry;
}
}  // namespace

void UIDialogBuilder::RegisterControl(const std::string& tag, std::function<UIControl*()> factory) {
    Registry()[tag] = std::move(factory);
}

UIControl* UIDialogBuilder::CreateBuiltinControl(const std::string& tag) {
    if (tag == "VerticalLayout")
        return new UIVerticalLayout;
    if (tag == "HorizontalLayout")
        return new UIHorizontalLayout;
    if (tag == "Container")
        return new UIContainer;
    if (tag == "GridList")
        return new UIGridList;
    if (tag == "Control")
        return new UIControl;
    if (tag == "Label" || tag == "Text")
        return new UILabel;
    if (tag == "Button")
        return new UIButton;
    if (tag == "Option")
        return new UIOption;
    if (tag == "Combo")
        return new UICombo;
    if (tag == "ComboElement")
        return new UIComboElement;
    if (tag == "Progress")
        return new UIProgress;
    if (tag == "Slide")
        return new UISlide;
    if (tag == "RichEdit")
        return new UIRichEdit;
    return nullptr;
}

UIControl* UIDialogBuilder::Create(const std::string& xmlFile, const std::string& windowName,
                                   IDialogBuilderCallback* callback, UIPaintManager* pm,
                                   UIWindowWnd* window) {
    std::string path = UIResourceSingleton::Instance().ResolvePath(xmlFile);
    pugi::xml_document doc;
    pugi::xml_parse_result r = doc.load_file(path.c_str());
    if (!r) {
        m_error = "cannot load layout " + path + ": " + r.description();
        return nullptr;
    }
    m_callback = callback;
    m_pm = pm;
    m_window = window;
    m_tooDeep = false;
    return Build(doc.document_element(), windowName);
}

UIControl* UIDialogBuilder::CreateFromString(const std::string& xml, const std::string& windowName,
                                             IDialogBuilderCallback* callback, UIPaintManager* pm,
                                             UIWindowWnd* window) {
    pugi::xml_document doc;
    pugi::xml_parse_result r = doc.load_string(xml.c_str());
    if (!r) {
        m_error = std::string("bad layout text: ") + r.description();
        return nullptr;
    }
    m_callback = callback;
    m_pm = pm;
    m_window = window;
    m_tooDeep = false;
    return Build(doc.document_element(), windowName);
}

void UIDialogBuilder::ApplyFont(const pugi::xml_node& node) {
    if (!m_pm)
        return;
    std::string name = node.attribute("name").value();
    if (name.empty())
        name = node.attribute("id").value();
    m_pm->AddFont(name, node.attribute("face").value(), node.attribute("size").as_int(12),
                  node.attribute("bold").as_bool(), node.attribute("underline").as_bool(),
                  node.attribute("italic").as_bool(), node.attribute("default").as_bool());
}

UIControl* UIDialogBuilder::Build(const pugi::xml_node& layouts, const std::string& windowName) {
    pugi::xml_node windowNode;
    if (std::string(layouts.name()) == "Window" && windowName.empty())
        windowNode = layouts;
    else
        windowNode = layouts.find_child_by_attribute("Window", "name", windowName.c_str());
    if (!windowNode) {
        m_error = "no Window named " + windowName;
        return nullptr;
    }
    for (auto font : layouts.children("Font"))
        ApplyFont(font);
    for (auto font : windowNode.children("Font"))
        ApplyFont(font);
    if (m_pm) {
        for (auto attr : windowNode.attributes()) {
            std::string name = attr.name();
            std::string value = attr.value();
            if (name == "mininfo")
                m_pm->SetMinInfo(ParseSize(value));
            else if (name == "maxinfo")
                m_pm->SetMaxInfo(ParseSize(value));
            else if (name == "caption")
                m_pm->SetCaptionRect(ParseRect(value));
            else if (name == "roundcorner")
                m_pm->SetRoundCorner(ParseSize(value));
            else if (name == "backdrop")
                m_pm->SetBackdrop(KWStringUtils::ConvertStringToInt32(value));
            // "shadowwindow" and "shadowimage" belong to window managers that
            // draw shadows for borderless windows; there is nothing to draw here.
        }
    }
    if (m_window) {
        UISize size = ParseSize(windowNode.attribute("size").value());
        if (size.cx <= 0 || size.cy <= 0)
            size = ParseSize(windowNode.attribute("mininfo").value());
        if (size.cx > 0 && size.cy > 0)
            m_window->ResizeClient(size.cx, size.cy);
        if (auto title = windowNode.attribute("title"))
            m_window->SetWindowText(title.value());
    }
    for (auto child : windowNode.children()) {
        std::string tag = child.name();
        if (tag == "Font" || child.type() != pugi::node_element)
            continue;
        UIControl* root = Parse(child, nullptr, 1);
        if (m_tooDeep) {
            delete root;
            return nullptr;
        }
        if (root)
            return root;
    }
    m_error = "window " + windowName + " has no control";
    return nullptr;
}

UIControl* UIDialogBuilder::Parse(const pugi::xml_node& node, UIControl* parent, int depth) {
    std::string tag = node.name();
    if (depth > kMaxDepth) {
        m_tooDeep = true;
        m_error = "layout nested deeper than " + std::to_string(kMaxDepth) + " levels";
        return nullptr;
    }
    UIControl* control = nullptr;
    if (m_callback)
        control = m_callback->CreateControl(tag);
    if (!control)
        control = CreateBuiltinControl(tag);
    if (!control) {
        auto it = Registry().find(tag);
        if (it != Registry().end())
            control = it->second();
    }
    if (!control) {
        m_error = "unknown tag " + tag;
        VL_LOG_WARN("layout: unknown tag %s skipped", tag.c_str());
        return nullptr;
    }
    // Attributes first, so children see the parent's settings (an option
    // group name, for example) only once they are attached.
    for (auto attr : node.attributes())
        control->SetAttribute(attr.name(), attr.value());
    auto* container = dynamic_cast<UIContainer*>(control);
    auto* combo = dynamic_cast<UICombo*>(control);
    for (auto child : node.children()) {
        if (child.type() != pugi::node_element)
            continue;
        UIControl* item = Parse(child, control, depth + 1);
        if (m_tooDeep) {
            delete item;
            break;
        }
        if (!item)
            continue;
        if (combo)
            combo->AddItem(item);
        else if (container)
            container->Add(item);
        else
            delete item;  // a plain control cannot hold children
    }
    (void)parent;
    return control;
}

}  // namespace KwLib
