#pragma once
// A drop-down list. Its items are UIComboElement controls (or any control:
// its text is shown). Choosing an item reports kNotifyItemSelect with the new
// index in wParam and the old one in lParam. UI thread only.
#include <memory>
#include <vector>

#include "platform/ui/UIButton.h"

namespace KwLib {

class UIComboElement : public UILabel {
public:
    UIComboElement() { m_rcTextPadding = {10, 0, 10, 0}; }
    std::string GetClass() const override { return "ComboElement"; }
    // "selected" marks the item the combo shows first.
    void SetAttribute(const std::string& name, const std::string& value) override {
        if (name == "selected")
            m_state = value == "true" ? (m_state | UISTATE_SELECTED) : (m_state & ~UISTATE_SELECTED);
        else
            UILabel::SetAttribute(name, value);
    }
};

class UICombo : public UIButton {
public:
    UICombo();
    ~UICombo() override;
    std::string GetClass() const override { return "Combo"; }

    // Takes ownership.
    bool AddItem(UIControl* item);
    bool AddItem(const std::string& text);
    void RemoveAllItems();
    int GetCount() const { return static_cast<int>(m_items.size()); }
    UIControl* GetItemAt(int index) const;
    int GetCurSel() const { return m_curSel; }
    // Selects item `index` (-1 clears). False for an index out of range.
    bool SelectItem(int index, bool notify = true);
    bool IsDropped() const { return m_dropped; }
    void ShowDropDown(bool show);
    // Where the open list is drawn (window coordinates).
    UIRect GetDropRect() const;
    int GetItemHeight() const { return m_itemHeight; }

    void SetManager(UIPaintManager* manager, UIControl* parent, bool init = true) override;
    UIControl* FindControlAt(UIPoint pt) override;
    bool Activate() override;
    void Event(UIEvent& event) override;
    void PaintText(cairo_t* cr) override;
    void PaintStatusImage(cairo_t* cr) override;
    void DoPostPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void OnOverlayDismissed() override { ShowDropDown(false); }
    void SetAttribute(const std::string& name, const std::string& value) override;

private:
    int ItemAt(UIPoint pt) const;
    std::vector<std::unique_ptr<UIControl>> m_items;
    int m_curSel = -1;
    int m_hotItem = -1;
    bool m_dropped = false;
    int m_itemHeight = 30;
    int m_dropHeight = 200;
};

}  // namespace KwLib
