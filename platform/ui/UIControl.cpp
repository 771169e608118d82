#include "platform/ui/UIControl.h"

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

UIControl::UIControl() = default;

UIControl::~UIControl() {
    if (m_manager) {
        m_manager->KillTimer(this);
        m_manager->GetAnimationManager().RemoveAnimations(this);
    }
}

void UIControl::SetText(const std::string& text) {
    if (m_text == text)
        return;
    m_text = text;
    Invalidate();
}

void UIControl::SetManager(UIPaintManager* manager, UIControl* parent, bool init) {
    (void)init;
    m_manager = manager;
    m_parent = parent;
}

void UIControl::ForEach(const std::function<void(UIControl*)>& fn) {
    fn(this);
}

UIControl* UIControl::FindControlAt(UIPoint pt) {
    if (!IsVisible() || !m_mouseEnabled || !m_rcItem.Contains(pt))
        return nullptr;
    return this;
}

UIControl* UIControl::FindControlById(int id) {
    return m_id == id ? this : nullptr;
}

UIControl* UIControl::FindControlByName(const std::string& name) {
    return m_name == name ? this : nullptr;
}

void UIControl::SetPos(UIRect rc, bool needInvalidate) {
    if (rc.right < rc.left)
        rc.right = rc.left;
    if (rc.bottom < rc.top)
        rc.bottom = rc.top;
    m_updateNeeded = false;
    if (rc == m_rcItem)
        return;
    if (needInvalidate)
        Invalidate();
    m_rcItem = rc;
    if (needInvalidate)
        Invalidate();
}

void UIControl::SetPadding(const UIRect& padding) {
    m_rcPadding = ClampRect(padding);
    NeedParentUpdate();
}

void UIControl::SetFixedWidth(int cx) {
    if (cx < 0)
        return;
    m_cxyFixed.cx = ClampSize(cx);
    NeedParentUpdate();
}

void UIControl::SetFixedHeight(int cy) {
    if (cy < 0)
        return;
    m_cxyFixed.cy = ClampSize(cy);
    NeedParentUpdate();
}

void UIControl::SetMinWidth(int cx) {
    m_cxyMin.cx = ClampSize(cx);
    NeedParentUpdate();
}
void UIControl::SetMaxWidth(int cx) {
    m_cxyMax.cx = ClampSize(cx);
    NeedParentUpdate();
}
void UIControl::SetMinHeight(int cy) {
    m_cxyMin.cy = ClampSize(cy);
    NeedParentUpdate();
}
void UIControl::SetMaxHeight(int cy) {
    m_cxyMax.cy = ClampSize(cy);
    NeedParentUpdate();
}

UISize UIControl::EstimateSize(UISize available) {
    (void)available;
    return m_cxyFixed;
}

void UIControl::SetFloat(bool on) {
    m_float = on;
    NeedParentUpdate();
}

void UIControl::SetFloatPos(const UIRect& pos) {
    m_float = true;
    m_floatPos = ClampRect(pos);
    m_cxyFixed = {ClampSize(m_floatPos.Width()), ClampSize(m_floatPos.Height())};
    NeedParentUpdate();
}

void UIControl::SetVisible(bool visible) {
    if (m_visible == visible)
        return;
    bool wasVisible = IsVisible();
    m_visible = visible;
    if (!visible && m_manager)
        m_manager->ReapObjects(this, true);
    if (IsVisible() != wasVisible)
        NeedParentUpdate();
}

void UIControl::SetInternVisible(bool visible) {
    m_internVisible = visible;
    if (!visible && m_manager && m_manager->GetFocus() == this)
        m_manager->SetFocus(nullptr);
}

void UIControl::SetEnabled(bool enabled) {
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    if (enabled)
        m_state &= ~UISTATE_DISABLED;
    else
        m_state = (m_state & UISTATE_SELECTED) | UISTATE_DISABLED;
    Invalidate();
}

void UIControl::SetFocus() {
    if (m_manager)
        m_manager->SetFocus(this);
}

void UIControl::SetBkColor(UIColor color) {
    m_bkColor = color;
    Invalidate();
}
void UIControl::SetBorderColor(UIColor color) {
    m_borderColor = color;
    Invalidate();
}
void UIControl::SetBorderSize(int size) {
    m_borderSize = std::clamp(size, 0, 1000);
    Invalidate();
}
void UIControl::SetBorderRound(int radius) {
    m_borderRound = std::clamp(radius, 0, 10000);
    Invalidate();
}
void UIControl::SetBkImage(const std::string& image) {
    if (m_bkImage == image)
        return;
    m_bkImage = image;
    Invalidate();
}
void UIControl::SetNormalImage(const std::string& image) {
    m_normalImage = image;
    Invalidate();
}
void UIControl::SetHotImage(const std::string& image) {
    m_hotImage = image;
    Invalidate();
}
void UIControl::SetPushedImage(const std::string& image) {
    m_pushedImage = image;
    Invalidate();
}
void UIControl::SetFocusedImage(const std::string& image) {
    m_focusedImage = image;
    Invalidate();
}
void UIControl::SetDisabledImage(const std::string& image) {
    m_disabledImage = image;
    Invalidate();
}
void UIControl::SetForeImage(const std::string& image) {
    m_foreImage = image;
    Invalidate();
}
void UIControl::SetTextColor(UIColor color) {
    m_textColor = color;
    Invalidate();
}
void UIControl::SetHotTextColor(UIColor color) {
    m_hotTextColor = color;
    Invalidate();
}
void UIControl::SetDisabledTextColor(UIColor color) {
    m_disabledTextColor = color;
    Invalidate();
}
void UIControl::SetFont(const std::string& fontName) {
    m_font = fontName;
    Invalidate();
}
void UIControl::SetTextStyle(uint32_t format) {
    m_textStyle = format;
    Invalidate();
}
void UIControl::SetTextPadding(const UIRect& padding) {
    m_rcTextPadding = ClampRect(padding);
    Invalidate();
}

void UIControl::SetControlDispatch(int flag, bool on) {
    if (flag < 0 || flag >= 64)
        return;
    if (on)
        m_dispatchFlags |= (1ull << flag);
    else
        m_dispatchFlags &= ~(1ull << flag);
}

bool UIControl::GetControlDispatch(int flag) const {
    return flag >= 0 && flag < 64 && (m_dispatchFlags & (1ull << flag)) != 0;
}

void UIControl::SetControlNotify(int type, bool on) {
    if (type < 0 || type >= 64)
        return;
    if (on)
        m_notifyFlags |= (1ull << type);
    else
        m_notifyFlags &= ~(1ull << type);
}

bool UIControl::GetControlNotify(int type) const {
    return type >= 0 && type < 64 && (m_notifyFlags & (1ull << type)) != 0;
}

namespace {
bool ParseBool(const std::string& v) {
    return v == "true" || v == "1";
}
int ToInt(const std::string& v) {
    return KWStringUtils::ConvertStringToInt32(v);
}
}  // namespace

void UIControl::SetAttribute(const std::string& name, const std::string& value) {
    UIColor color = 0;
    if (name == "pos") {
        // As layouts always had it: "pos" gives the place and the size; only a
        // control with float="true" is placed there, others just take the size.
        m_floatPos = ParseRect(value);
        m_cxyFixed = {ClampSize(m_floatPos.Width()), ClampSize(m_floatPos.Height())};
        NeedParentUpdate();
    } else if (name == "float")
        SetFloat(ParseBool(value));
    else if (name == "padding")
        SetPadding(ParseRect(value));
    else if (name == "width")
        SetFixedWidth(ToInt(value));
    else if (name == "height")
        SetFixedHeight(ToInt(value));
    else if (name == "minwidth")
        SetMinWidth(ToInt(value));
    else if (name == "minheight")
        SetMinHeight(ToInt(value));
    else if (name == "maxwidth")
        SetMaxWidth(ToInt(value));
    else if (name == "maxheight")
        SetMaxHeight(ToInt(value));
    else if (name == "name")
        SetName(value);
    else if (name == "id")
        SetId(ToInt(value));
    else if (name == "text")
        SetText(value);
    else if (name == "tooltip")
        SetToolTip(value);
    else if (name == "tooltipdelay")
        SetToolTipDelay(ToInt(value));
    else if (name == "userdata")
        SetUserData(value);
    else if (name == "tag")
        SetTag(ToInt(value));
    else if (name == "visible")
        SetVisible(ParseBool(value));
    else if (name == "enabled")
        SetEnabled(ParseBool(value));
    else if (name == "mouse")
        SetMouseEnabled(ParseBool(value));
    else if (name == "keyboard")
        SetKeyboardEnabled(ParseBool(value));
    else if (name == "bkcolor" && ParseColor(value, color))
        SetBkColor(color);
    else if (name == "bordercolor" && ParseColor(value, color))
        SetBorderColor(color);
    else if (name == "bordersize")
        SetBorderSize(ToInt(value));
    else if (name == "borderround")
        SetBorderRound(ParseSize(value).cx);
    else if (name == "bkimage")
        SetBkImage(value);
    else if (name == "normalimage")
        SetNormalImage(value);
    else if (name == "hotimage")
        SetHotImage(value);
    else if (name == "pushedimage")
        SetPushedImage(value);
    else if (name == "focusedimage")
        SetFocusedImage(value);
    else if (name == "disabledimage")
        SetDisabledImage(value);
    else if (name == "foreimage")
        SetForeImage(value);
    else if (name == "textcolor" && ParseColor(value, color))
        SetTextColor(color);
    else if (name == "hottextcolor" && ParseColor(value, color))
        SetHotTextColor(color);
    else if (name == "disabledtextcolor" && ParseColor(value, color))
        SetDisabledTextColor(color);
    else if (name == "font")
        SetFont(value);
    else if (name == "align")
        SetTextStyle(ParseTextAlign(value));
    else if (name == "textpadding")
        SetTextPadding(ParseRect(value));
    else if (name == "cursor")
        SetCursor(value);
    else if (name == "dispatch")
        SetControlDispatch(ToInt(value), true);
    else if (name == "notify")
        SetControlNotify(ToInt(value), true);
}

void UIControl::ApplyAttributeList(const std::string& list) {
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && list[i] == ' ')
            ++i;
        size_t eq = list.find('=', i);
        if (eq == std::string::npos)
            break;
        std::string name = KWStringUtils::Trim(list.substr(i, eq - i));
        size_t q = list.find_first_of("\"'", eq);
        if (q == std::string::npos)
            break;
        size_t close = list.find(list[q], q + 1);
        if (close == std::string::npos)
            break;
        SetAttribute(name, list.substr(q + 1, close - q - 1));
        i = close + 1;
    }
}

// ---- painting ----

void UIControl::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    if (!m_rcItem.Intersects(rcPaint))
        return;
    if (m_borderRound > 0) {
        cairo_save(cr);
        UIRenderUtils::RoundRectPath(cr, m_rcItem, m_borderRound);
        cairo_clip(cr);
    }
    PaintBkColor(cr);
    PaintBkImage(cr);
    PaintStatusImage(cr);
    PaintText(cr);
    if (m_borderRound > 0)
        cairo_restore(cr);
    PaintBorder(cr);
}

void UIControl::PaintBkColor(cairo_t* cr) {
    UIRenderUtils::FillRect(cr, m_rcItem, m_bkColor);
}

void UIControl::PaintBkImage(cairo_t* cr) {
    if (!m_bkImage.empty())
        DrawImage(cr, m_bkImage);
}

void UIControl::PaintStatusImage(cairo_t* cr) {
    if (!IsEnabled() && !m_disabledImage.empty()) {
        DrawImage(cr, m_disabledImage);
    } else if (IsPushed() && !m_pushedImage.empty()) {
        DrawImage(cr, m_pushedImage);
    } else if (IsHot() && !m_hotImage.empty()) {
        DrawImage(cr, m_hotImage);
    } else if (IsFocused() && !m_focusedImage.empty()) {
        DrawImage(cr, m_focusedImage);
    } else if (!m_normalImage.empty()) {
        DrawImage(cr, m_normalImage);
    }
    if (!m_foreImage.empty())
        DrawImage(cr, m_foreImage);
}

UIRect UIControl::GetTextRect() const {
    UIRect rc = m_rcItem;
    rc.Deflate(m_rcTextPadding);
    rc.Deflate({m_borderSize, m_borderSize, m_borderSize, m_borderSize});
    return rc;
}

void UIControl::PaintText(cairo_t* cr) {
    if (m_text.empty())
        return;
    UIColor color =
        !IsEnabled() ? m_disabledTextColor : (IsHot() && m_hotTextColor ? m_hotTextColor : m_textColor);
    UIRenderUtils::DrawText(cr, m_manager, GetTextRect(), m_text, color, m_font, m_textStyle);
}

void UIControl::PaintBorder(cairo_t* cr) {
    UIRenderUtils::DrawBorder(cr, m_rcItem, m_borderSize, m_borderColor, m_borderRound);
}

void UIControl::DoPostPaint(cairo_t* cr, const UIRect& rcPaint) {
    (void)cr;
    (void)rcPaint;
}

bool UIControl::DrawImage(cairo_t* cr, const std::string& imageString) {
    return UIRenderUtils::DrawImageString(cr, m_rcItem, imageString);
}

void UIControl::Invalidate() {
    if (!m_manager || !IsVisible())
        return;
    UIRect rc = m_rcItem;
    // Clip to the ancestors, so a scrolled-out child does not repaint its parent's neighbours.
    for (UIControl* p = m_parent; p; p = p->m_parent) {
        rc = rc.Intersect(p->m_rcItem);
        if (rc.IsEmpty())
            return;
    }
    m_manager->Invalidate(rc);
}

void UIControl::NeedUpdate() {
    if (!IsVisible())
        return;
    m_updateNeeded = true;
    Invalidate();
    if (m_manager)
        m_manager->NeedUpdate();
}

void UIControl::NeedParentUpdate() {
    if (m_parent) {
        m_parent->NeedUpdate();
        m_parent->Invalidate();
    } else {
        NeedUpdate();
    }
    if (m_manager)
        m_manager->NeedUpdate();
}

// ---- events ----

void UIControl::Event(UIEvent& event) {
    switch (event.type) {
        // Only the control pressed shows it: an ancestor that sees the event
        // passed on is not pushed, and need not be drawn again.
        case kEventButtonDown:
            if (event.sender == this && IsEnabled()) {
                m_state |= UISTATE_PUSHED | UISTATE_CAPTURED;
                Invalidate();
            }
            OnLButtonDown(event.ptMouse);
            break;
        case kEventButtonUp: {
            bool wasCaptured = event.sender == this && IsCaptured();
            if (wasCaptured) {
                m_state &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
                Invalidate();
            }
            OnLButtonUp(event.ptMouse);
            // Only the control the press began on is clicked, and only when
            // the release is still over it.
            if (wasCaptured && event.sender == this && m_rcItem.Contains(event.ptMouse) && IsEnabled())
                Activate();
            break;
        }
        case kEventDblClick:
            if (event.sender == this && IsEnabled()) {
                m_state |= UISTATE_PUSHED | UISTATE_CAPTURED;
                Invalidate();
            }
            OnLButtonDblClk(event.ptMouse);
            if (event.sender == this && IsEnabled() && GetControlNotify(kNotifyDblClick) && m_manager)
                m_manager->SendNotify(this, kNotifyDblClick);
            break;
        case kEventMouseMove:
            if (IsCaptured() && event.sender == this) {
                bool inside = m_rcItem.Contains(event.ptMouse);
                if (inside != IsPushed()) {
                    m_state = inside ? (m_state | UISTATE_PUSHED) : (m_state & ~UISTATE_PUSHED);
                    Invalidate();
                }
            }
            OnMouseMove(event.ptMouse);
            break;
        case kEventMouseEnter:
            if (event.sender == this && IsEnabled()) {
                m_state |= UISTATE_HOT;
                Invalidate();
            }
            OnMouseEnter(event.ptMouse);
            break;
        case kEventMouseLeave:
            if (event.sender == this) {
                m_state &= ~UISTATE_HOT;
                Invalidate();
            }
            OnMouseLeave(event.ptMouse);
            break;
        case kEventSetFocus:
            m_state |= UISTATE_FOCUSED;
            Invalidate();
            break;
        case kEventKillFocus:
            m_state &= ~UISTATE_FOCUSED;
            Invalidate();
            break;
        case kEventTimer:
            OnTimer(static_cast<int>(event.wParam));
            break;
        default:
            break;
    }
}

void UIControl::OnLButtonDown(UIPoint) {}
void UIControl::OnLButtonUp(UIPoint) {}
void UIControl::OnLButtonDblClk(UIPoint) {}
void UIControl::OnMouseMove(UIPoint) {}
void UIControl::OnMouseEnter(UIPoint) {}
void UIControl::OnMouseLeave(UIPoint) {}
void UIControl::OnTimer(int) {}

bool UIControl::Activate() {
    if (!IsVisible() || !IsEnabled())
        return false;
    if (GetControlNotify(kNotifyClick) && m_manager)
        m_manager->SendNotify(this, kNotifyClick);
    return true;
}

void UIControl::OnAnimationStep(int animationId, int frame, int frameCount) {
    (void)frameCount;
    auto it = m_animationFrames.find(animationId);
    if (it == m_animationFrames.end() || it->second.empty())
        return;
    SetBkImage(it->second[static_cast<size_t>(frame) % it->second.size()]);
}

bool UIControl::SetTimer(int timerId, uint32_t elapseMs) {
    return m_manager && m_manager->SetTimer(this, timerId, elapseMs);
}

void UIControl::KillTimer(int timerId) {
    if (m_manager)
        m_manager->KillTimer(this, timerId);
}

}  // namespace KwLib
