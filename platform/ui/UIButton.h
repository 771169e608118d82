#pragma once
// Text labels, push buttons and options (check boxes and radio buttons).
// UI thread only.
#include "platform/ui/UIControl.h"

namespace KwLib {

// A text label. With "autocalcwidth" its width follows its text.
class UILabel : public UIControl {
public:
    UILabel();
    std::string GetClass() const override { return "Label"; }
    void SetText(const std::string& text) override;
    UISize EstimateSize(UISize available) override;
    void SetAttribute(const std::string& name, const std::string& value) override;
    bool IsAutoCalcWidth() const { return m_autoCalcWidth; }
    void SetAutoCalcWidth(bool on);

private:
    bool m_autoCalcWidth = false;
};

// A button: reports a click (kNotifyClick) when released over itself, and
// only then: keys never press a button, because students tap the space bar in
// rhythm questions and must not hand in their paper by it. Its
// state images or state colours ("normalbkcolor", "hotbkcolor",
// "pushedbkcolor", "disabledbkcolor") show normal, hot, pushed and disabled;
// a state without a colour of its own shows the normal one, and without that
// "bkcolor".
class UIButton : public UILabel {
public:
    UIButton();
    std::string GetClass() const override { return "Button"; }
    bool Activate() override;
    void PaintBkColor(cairo_t* cr) override;
    void SetAttribute(const std::string& name, const std::string& value) override;
    void SetHotBkColor(UIColor color) { m_hotBkColor = color; }
    void SetPushedBkColor(UIColor color) { m_pushedBkColor = color; }
    // The colour of the normal state (a colour swatch is one); bkcolor when none was set.
    UIColor GetNormalBkColor() const { return m_hasNormalBkColor ? m_normalBkColor : m_bkColor; }
    void SetNormalBkColor(UIColor color);

protected:
    UIColor m_normalBkColor = 0;
    bool m_hasNormalBkColor = false;
    UIColor m_hotBkColor = 0;
    UIColor m_pushedBkColor = 0;
    UIColor m_disabledBkColor = 0;
};

// An option. Options of one group ("group") select one at a time; without a
// group a click toggles. The click notification is sent before the option
// changes, so a notifier still sees the previous state; kNotifySelectChanged
// follows. The fifth state image is "selectedimage" ("selectedhotimage" for
// the hot selected state).
class UIOption : public UIButton {
public:
    UIOption();
    ~UIOption() override;
    std::string GetClass() const override { return "Option"; }

    void SetManager(UIPaintManager* manager, UIControl* parent, bool init = true) override;
    const std::string& GetGroup() const { return m_group; }
    void SetGroup(const std::string& group);
    bool IsSelected() const { return m_selected; }
    // Selects or deselects; other options of the group are deselected.
    virtual void Selected(bool selected, bool notify = true);

    bool Activate() override;
    void SetEnabled(bool enabled = true) override;
    void PaintStatusImage(cairo_t* cr) override;
    void PaintBkColor(cairo_t* cr) override;
    void PaintText(cairo_t* cr) override;
    void SetAttribute(const std::string& name, const std::string& value) override;
    // A toggle of a group ("toggle"): a click on the selected one switches it
    // off, leaving the group with none selected (a play/stop switch per row).
    bool IsToggle() const { return m_toggle; }
    void SetToggle(bool toggle) { m_toggle = toggle; }
    void SetSelectedImage(const std::string& image);
    void SetSelectedHotImage(const std::string& image);

protected:
    std::string m_group;
    bool m_selected = false;
    bool m_toggle = false;
    std::string m_selectedImage;
    std::string m_selectedHotImage;
    UIColor m_selectedBkColor = 0;
    UIColor m_selectedTextColor = 0;
};

}  // namespace KwLib
