#include "platform/ui/UIButton.h"

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

// ---- label ----

UILabel::UILabel() {
    m_textStyle = DT_VCENTER | DT_SINGLELINE;
}

void UILabel::SetText(const std::string& text) {
    if (text == m_text)
        return;
    UIControl::SetText(text);
    if (m_autoCalcWidth)
        NeedParentUpdate();
}

void UILabel::SetAutoCalcWidth(bool on) {
    m_autoCalcWidth = on;
    NeedParentUpdate();
}

UISize UILabel::EstimateSize(UISize available) {
    if (!m_autoCalcWidth)
        return UIControl::EstimateSize(available);
    UISize text = UIRenderUtils::GetTextSize(m_manager, m_text, m_font, DT_SINGLELINE);
    int cx = text.cx + m_rcTextPadding.left + m_rcTextPadding.right + 2 * m_borderSize;
    return {cx, m_cxyFixed.cy};
}

void UILabel::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "autocalcwidth")
        SetAutoCalcWidth(value == "true");
    else
        UIControl::SetAttribute(name, value);
}

// ---- button ----

UIButton::UIButton() {
    m_textStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
    m_cursor = "hand";
}

bool UIButton::Activate() {
    if (!IsVisible() || !IsEnabled())
        return false;
    if (m_manager)
        m_manager->SendNotify(this, kNotifyClick);
    return true;
}

void UIButton::SetNormalBkColor(UIColor color) {
    m_normalBkColor = color;
    m_hasNormalBkColor = true;
    Invalidate();
}

void UIButton::PaintBkColor(cairo_t* cr) {
    UIColor color = GetNormalBkColor();
    if (!IsEnabled() && m_disabledBkColor)
        color = m_disabledBkColor;
    else if (IsPushed() && m_pushedBkColor)
        color = m_pushedBkColor;
    else if (IsHot() && m_hotBkColor)
        color = m_hotBkColor;
    UIRenderUtils::FillRect(cr, m_rcItem, color);
}

void UIButton::SetAttribute(const std::string& name, const std::string& value) {
    UIColor color = 0;
    if (name == "normalbkcolor" && ParseColor(value, color))
        SetNormalBkColor(color);
    else if (name == "hotbkcolor" && ParseColor(value, color))
        m_hotBkColor = color;
    else if (name == "pushedbkcolor" && ParseColor(value, color))
        m_pushedBkColor = color;
    else if (name == "disabledbkcolor" && ParseColor(value, color))
        m_disabledBkColor = color;
    else
        UILabel::SetAttribute(name, value);
}

// ---- option ----

UIOption::UIOption() {
    m_textStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

UIOption::~UIOption() {
    if (m_manager && !m_group.empty())
        m_manager->RemoveGroup(m_group, this);
}

void UIOption::SetManager(UIPaintManager* manager, UIControl* parent, bool init) {
    UIButton::SetManager(manager, parent, init);
    if (manager && !m_group.empty()) {
        manager->AddGroup(m_group, this);
        if (m_selected)
            Selected(true, false);
    }
}

void UIOption::SetGroup(const std::string& group) {
    if (group == m_group)
        return;
    if (m_manager && !m_group.empty())
        m_manager->RemoveGroup(m_group, this);
    m_group = group;
    if (m_manager && !m_group.empty())
        m_manager->AddGroup(m_group, this);
    Selected(m_selected, false);
}

void UIOption::Selected(bool selected, bool notify) {
    bool changed = m_selected != selected;
    m_selected = selected;
    if (selected)
        m_state |= UISTATE_SELECTED;
    else
        m_state &= ~UISTATE_SELECTED;
    if (m_manager && selected && !m_group.empty()) {
        if (const auto* list = m_manager->GetGroup(m_group)) {
            std::vector<UIControl*> others = *list;
            for (UIControl* c : others) {
                auto* other = dynamic_cast<UIOption*>(c);
                if (other && other != this && other->IsSelected())
                    other->Selected(false, notify);
            }
        }
    }
    if (changed) {
        Invalidate();
        if (notify && m_manager)
            m_manager->SendNotify(this, kNotifySelectChanged, selected ? 1 : 0);
    }
}

bool UIOption::Activate() {
    // The click goes out while the option still shows its previous state.
    if (!UIButton::Activate())
        return false;
    if (!m_group.empty() && !m_toggle)
        Selected(true);
    else
        Selected(!m_selected);
    return true;
}

void UIOption::SetEnabled(bool enabled) {
    UIButton::SetEnabled(enabled);
    if (m_selected)
        m_state |= UISTATE_SELECTED;
}

void UIOption::PaintStatusImage(cairo_t* cr) {
    if (m_selected) {
        if (!IsEnabled() && !m_disabledImage.empty()) {
            DrawImage(cr, m_disabledImage);
        } else if (IsHot() && !m_selectedHotImage.empty()) {
            DrawImage(cr, m_selectedHotImage);
        } else if (!m_selectedImage.empty()) {
            DrawImage(cr, m_selectedImage);
        } else {
            UIButton::PaintStatusImage(cr);
            return;
        }
        if (!m_foreImage.empty())
            DrawImage(cr, m_foreImage);
        return;
    }
    UIButton::PaintStatusImage(cr);
}

void UIOption::PaintBkColor(cairo_t* cr) {
    if (m_selected && m_selectedBkColor)
        UIRenderUtils::FillRect(cr, m_rcItem, m_selectedBkColor);
    else
        UIButton::PaintBkColor(cr);
}

void UIOption::PaintText(cairo_t* cr) {
    if (m_selected && m_selectedTextColor && IsEnabled() && !m_text.empty()) {
        UIRenderUtils::DrawText(cr, m_manager, GetTextRect(), m_text, m_selectedTextColor, m_font,
                                m_textStyle);
        return;
    }
    UIButton::PaintText(cr);
}

void UIOption::SetSelectedImage(const std::string& image) {
    m_selectedImage = image;
    Invalidate();
}

void UIOption::SetSelectedHotImage(const std::string& image) {
    m_selectedHotImage = image;
    Invalidate();
}

void UIOption::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "toggle") {
        SetToggle(value == "true");
        return;
    }
    UIColor color = 0;
    if (name == "group")
        SetGroup(value);
    else if (name == "selected")
        Selected(value == "true", false);
    else if (name == "selectedimage")
        SetSelectedImage(value);
    else if (name == "selectedhotimage")
        SetSelectedHotImage(value);
    else if (name == "selectedbkcolor" && ParseColor(value, color))
        m_selectedBkColor = color;
    else if (name == "selectedtextcolor" && ParseColor(value, color))
        m_selectedTextColor = color;
    else
        UIButton::SetAttribute(name, value);
}

}  // namespace KwLib
