#include "platform/ui/UICombo.h"

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

UICombo::UICombo() {
    m_textStyle = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS;
    m_rcTextPadding = {10, 0, 30, 0};
}

UICombo::~UICombo() {
    if (m_manager && m_manager->GetOverlay() == this)
        m_manager->SetOverlay(nullptr);
}

bool UICombo::AddItem(UIControl* item) {
    if (!item)
        return false;
    m_items.emplace_back(item);
    item->SetManager(m_manager, this, m_manager != nullptr);
    if (item->GetState() & UISTATE_SELECTED)
        SelectItem(GetCount() - 1, false);
    return true;
}

bool UICombo::AddItem(const std::string& text) {
    auto* item = new UIComboElement;
    item->SetText(text);
    return AddItem(item);
}

void UICombo::RemoveAllItems() {
    ShowDropDown(false);
    m_items.clear();
    m_curSel = -1;
    m_hotItem = -1;
    SetText("");
}

UIControl* UICombo::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount())
        return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

bool UICombo::SelectItem(int index, bool notify) {
    if (index < -1 || index >= GetCount())
        return false;
    int old = m_curSel;
    m_curSel = index;
    SetText(index >= 0 ? m_items[static_cast<size_t>(index)]->GetText() : std::string());
    if (notify && old != index && m_manager)
        m_manager->SendNotify(this, kNotifyItemSelect, static_cast<uintptr_t>(index), old);
    return true;
}

void UICombo::ShowDropDown(bool show) {
    if (show == m_dropped)
        return;
    if (show && m_items.empty())
        return;
    if (m_manager) {
        m_manager->Invalidate(GetDropRect());
        if (show)
            m_manager->SetOverlay(this);
        else if (m_manager->GetOverlay() == this)
            m_manager->SetOverlay(nullptr);
    }
    m_dropped = show;
    m_hotItem = show ? m_curSel : -1;
    Invalidate();
    if (m_manager)
        m_manager->Invalidate(GetDropRect());
}

UIRect UICombo::GetDropRect() const {
    int height = std::min(m_dropHeight, GetCount() * m_itemHeight) + 8;
    UIRect rc{m_rcItem.left, m_rcItem.bottom + 4, m_rcItem.right, m_rcItem.bottom + 4 + height};
    // Open upwards when there is no room below.
    if (m_manager && rc.bottom > m_manager->GetClientSize().cy && m_rcItem.top - 4 - height >= 0)
        rc = {m_rcItem.left, m_rcItem.top - 4 - height, m_rcItem.right, m_rcItem.top - 4};
    return rc;
}

int UICombo::ItemAt(UIPoint pt) const {
    UIRect drop = GetDropRect();
    if (!drop.Contains(pt))
        return -1;
    int index = (pt.y - drop.top - 4) / m_itemHeight;
    return index >= 0 && index < GetCount() ? index : -1;
}

void UICombo::SetManager(UIPaintManager* manager, UIControl* parent, bool init) {
    UIButton::SetManager(manager, parent, init);
    for (auto& item : m_items)
        item->SetManager(manager, this, init);
}

UIControl* UICombo::FindControlAt(UIPoint pt) {
    if (m_dropped && IsVisible() && GetDropRect().Contains(pt))
        return this;
    return UIButton::FindControlAt(pt);
}

bool UICombo::Activate() {
    if (!IsVisible() || !IsEnabled())
        return false;
    return true;
}

void UICombo::Event(UIEvent& event) {
    if (event.sender == this && IsEnabled()) {
        switch (event.type) {
            case kEventButtonDown:
                if (m_dropped && GetDropRect().Contains(event.ptMouse)) {
                    int index = ItemAt(event.ptMouse);
                    ShowDropDown(false);
                    if (index >= 0)
                        SelectItem(index);
                    return;
                }
                UIButton::Event(event);
                ShowDropDown(!m_dropped);
                return;
            case kEventMouseMove:
                if (m_dropped) {
                    int hot = ItemAt(event.ptMouse);
                    if (hot != m_hotItem && hot >= 0) {
                        m_hotItem = hot;
                        if (m_manager)
                            m_manager->Invalidate(GetDropRect());
                    }
                }
                break;
            case kEventKillFocus:
                ShowDropDown(false);
                break;
            case kEventKeyDown:
                if (event.key == VK_DOWN)
                    SelectItem(std::min(GetCount() - 1, m_curSel + 1));
                else if (event.key == VK_UP)
                    SelectItem(std::max(0, m_curSel - 1));
                else if (event.key == VK_ESCAPE)
                    ShowDropDown(false);
                else if (event.key == VK_RETURN || event.key == VK_SPACE)
                    ShowDropDown(!m_dropped);
                return;
            default:
                break;
        }
    }
    UIButton::Event(event);
}

void UICombo::PaintStatusImage(cairo_t* cr) {
    UIButton::PaintStatusImage(cr);
    // The chevron at the right edge.
    double cx = m_rcItem.right - 16, cy = (m_rcItem.top + m_rcItem.bottom) / 2.0;
    UIRenderUtils::SetSourceColor(cr, IsEnabled() ? 0xFF57606A : 0xFFB8BEC6);
    cairo_set_line_width(cr, 1.6);
    double d = m_dropped ? -1 : 1;
    cairo_move_to(cr, cx - 4.5, cy - 2 * d);
    cairo_line_to(cr, cx, cy + 2.5 * d);
    cairo_line_to(cr, cx + 4.5, cy - 2 * d);
    cairo_stroke(cr);
}

void UICombo::PaintText(cairo_t* cr) {
    UIButton::PaintText(cr);
}

void UICombo::DoPostPaint(cairo_t* cr, const UIRect& rcPaint) {
    if (!m_dropped)
        return;
    UIRect drop = GetDropRect();
    if (!drop.Intersects(rcPaint))
        return;
    // A soft shadow, the panel, then the items.
    for (int i = 3; i >= 1; --i) {
        UIRect s = drop;
        s.Offset(0, i);
        s.Deflate({-i, -i, -i, -i});
        UIRenderUtils::FillRoundRect(cr, s, 6 + i, 0x0C000000);
    }
    UIRenderUtils::FillRoundRect(cr, drop, 6, 0xFFFFFFFF);
    UIRenderUtils::DrawBorder(cr, drop, 1, 0xFFD0D7DE, 6);
    cairo_save(cr);
    UIRenderUtils::ClipRect(cr, {drop.left, drop.top + 4, drop.right, drop.bottom - 4});
    for (int i = 0; i < GetCount(); ++i) {
        UIRect row{drop.left + 4, drop.top + 4 + i * m_itemHeight, drop.right - 4,
                   drop.top + 4 + (i + 1) * m_itemHeight};
        if (i == m_hotItem)
            UIRenderUtils::FillRoundRect(cr, row, 4, 0xFFEAF2FD);
        UIControl* item = m_items[static_cast<size_t>(i)].get();
        UIRect text = row;
        text.Deflate({10, 0, 10, 0});
        UIColor color = i == m_curSel ? 0xFF1F6FEB : item->GetTextColor();
        UIRenderUtils::DrawText(cr, m_manager, text, item->GetText(), color,
                                item->GetFont().empty() ? m_font : item->GetFont(),
                                DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    }
    cairo_restore(cr);
}

void UICombo::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "itemheight")
        m_itemHeight = std::clamp(KWStringUtils::ConvertStringToInt32(value), 10, 1000);
    else if (name == "dropboxsize" || name == "dropboxheight") {
        UIRect r = ParseRect(value);
        m_dropHeight = std::clamp(value.find(',') == std::string::npos ? r.left : r.top, 20, 10000);
    } else
        UIButton::SetAttribute(name, value);
}

}  // namespace KwLib
