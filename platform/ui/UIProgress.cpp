#include "platform/ui/UIProgress.h"

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

UIProgress::UIProgress() {
    m_textStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

void UIProgress::SetRange(int minValue, int maxValue) {
    if (maxValue < minValue)
        std::swap(minValue, maxValue);
    // Bounded so that the span and the positions derived from it stay in range.
    constexpr int kLimit = 1000000000;
    minValue = std::clamp(minValue, -kLimit, kLimit);
    maxValue = std::clamp(maxValue, -kLimit, kLimit);
    m_min = minValue;
    m_max = maxValue;
    m_value = std::clamp(m_value, m_min, m_max);
    Invalidate();
}

void UIProgress::SetValue(int value) {
    value = std::clamp(value, m_min, m_max);
    if (value == m_value)
        return;
    m_value = value;
    Invalidate();
}

void UIProgress::SetHorizontal(bool horizontal) {
    m_horizontal = horizontal;
    Invalidate();
}

UIRect UIProgress::GetFilledRect() const {
    UIRect rc = m_rcItem;
    int span = std::max(1, m_max - m_min);
    if (m_horizontal) {
        rc.right =
            rc.left + static_cast<int>(static_cast<int64_t>(m_rcItem.Width()) * (m_value - m_min) / span);
    } else {
        rc.top =
            rc.bottom - static_cast<int>(static_cast<int64_t>(m_rcItem.Height()) * (m_value - m_min) / span);
    }
    return rc;
}

void UIProgress::PaintStatusImage(cairo_t* cr) {
    UIRect filled = GetFilledRect();
    if (filled.IsEmpty())
        return;
    if (!m_foreImage.empty()) {
        // The fore image spans the whole bar; only its filled part shows.
        cairo_save(cr);
        UIRenderUtils::ClipRect(cr, filled);
        DrawImage(cr, m_foreImage);
        cairo_restore(cr);
    } else {
        int radius = m_borderRound ? m_borderRound : std::min(m_rcItem.Width(), m_rcItem.Height()) / 2;
        UIRenderUtils::FillRoundRect(cr, filled, radius, IsEnabled() ? m_foreColor : 0xFFB8BEC6);
    }
}

void UIProgress::SetAttribute(const std::string& name, const std::string& value) {
    UIColor color = 0;
    if (name == "min")
        SetRange(KWStringUtils::ConvertStringToInt32(value),
                 std::max(m_max, KWStringUtils::ConvertStringToInt32(value)));
    else if (name == "max")
        SetRange(m_min, KWStringUtils::ConvertStringToInt32(value));
    else if (name == "value")
        SetValue(KWStringUtils::ConvertStringToInt32(value));
    else if (name == "hor")
        SetHorizontal(value == "true");
    else if (name == "forecolor" && ParseColor(value, color))
        m_foreColor = color;
    else
        UIControl::SetAttribute(name, value);
}

// ---- slide ----

UISlide::UISlide() {
    m_cursor = "hand";
}

UIRect UISlide::GetThumbRect() const {
    int span = std::max(1, m_max - m_min);
    if (m_horizontal) {
        int travel = m_rcItem.Width() - m_thumbSize.cx;
        int left = m_rcItem.left + static_cast<int>(static_cast<int64_t>(travel) * (m_value - m_min) / span);
        int top = m_rcItem.top + (m_rcItem.Height() - m_thumbSize.cy) / 2;
        return {left, top, left + m_thumbSize.cx, top + m_thumbSize.cy};
    }
    int travel = m_rcItem.Height() - m_thumbSize.cy;
    int top = m_rcItem.bottom - m_thumbSize.cy -
              static_cast<int>(static_cast<int64_t>(travel) * (m_value - m_min) / span);
    int left = m_rcItem.left + (m_rcItem.Width() - m_thumbSize.cx) / 2;
    return {left, top, left + m_thumbSize.cx, top + m_thumbSize.cy};
}

int UISlide::ValueAt(UIPoint pt) const {
    int64_t span = static_cast<int64_t>(m_max) - m_min;
    int64_t travel, offset;
    if (m_horizontal) {
        travel = std::max(1, m_rcItem.Width() - m_thumbSize.cx);
        offset = std::clamp<int64_t>(pt.x - m_rcItem.left - m_thumbSize.cx / 2, 0, travel);
    } else {
        travel = std::max(1, m_rcItem.Height() - m_thumbSize.cy);
        offset = std::clamp<int64_t>(m_rcItem.bottom - pt.y - m_thumbSize.cy / 2, 0, travel);
    }
    return static_cast<int>(m_min + (offset * span + travel / 2) / travel);
}

void UISlide::ChangeTo(int value, int notifyType) {
    value = std::clamp(value, m_min, m_max);
    bool changed = value != m_value;
    SetValue(value);
    if (m_manager && (changed || notifyType == kNotifyValueChanged))
        m_manager->SendNotify(this, notifyType, static_cast<uintptr_t>(m_value));
}

void UISlide::Event(UIEvent& event) {
    if (event.sender == this && IsEnabled()) {
        switch (event.type) {
            case kEventButtonDown:
            case kEventDblClick:
                UIControl::Event(event);
                ChangeTo(ValueAt(event.ptMouse), kNotifyValueChanging);
                return;
            case kEventMouseMove:
                if (IsCaptured()) {
                    ChangeTo(ValueAt(event.ptMouse), kNotifyValueChanging);
                    OnMouseMove(event.ptMouse);
                    return;
                }
                break;
            case kEventButtonUp:
                if (IsCaptured()) {
                    m_state &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
                    if (event.ptMouse.x >= 0)
                        SetValue(ValueAt(event.ptMouse));
                    ChangeTo(m_value, kNotifyValueChanged);
                    Invalidate();
                    OnLButtonUp(event.ptMouse);
                    return;
                }
                break;
            case kEventScrollWheel: {
                int delta = static_cast<int>(static_cast<intptr_t>(event.wParam));
                ChangeTo(m_value + (delta > 0 ? m_step : -m_step), kNotifyValueChanged);
                return;
            }
            case kEventKeyDown:
                if (event.key == VK_LEFT || event.key == VK_DOWN)
                    ChangeTo(m_value - m_step, kNotifyValueChanged);
                else if (event.key == VK_RIGHT || event.key == VK_UP)
                    ChangeTo(m_value + m_step, kNotifyValueChanged);
                else if (event.key == VK_HOME)
                    ChangeTo(m_min, kNotifyValueChanged);
                else if (event.key == VK_END)
                    ChangeTo(m_max, kNotifyValueChanged);
                return;
            default:
                break;
        }
    }
    UIProgress::Event(event);
}

void UISlide::PaintStatusImage(cairo_t* cr) {
    if (m_foreImage.empty() && m_bkImage.empty()) {
        // A slim track under the thumb when no images are given.
        UIRect track = m_rcItem;
        if (m_horizontal) {
            track.top = m_rcItem.top + m_rcItem.Height() / 2 - 2;
            track.bottom = track.top + 4;
            track.left += m_thumbSize.cx / 2;
            track.right -= m_thumbSize.cx / 2;
        } else {
            track.left = m_rcItem.left + m_rcItem.Width() / 2 - 2;
            track.right = track.left + 4;
        }
        UIRenderUtils::FillRoundRect(cr, track, 2, 0xFFDDE1E6);
        UIRect thumb = GetThumbRect();
        UIRect filled = track;
        if (m_horizontal)
            filled.right = (thumb.left + thumb.right) / 2;
        else
            filled.top = (thumb.top + thumb.bottom) / 2;
        UIRenderUtils::FillRoundRect(cr, filled, 2, IsEnabled() ? m_foreColor : 0xFFB8BEC6);
    } else {
        UIProgress::PaintStatusImage(cr);
    }
    UIRect thumb = GetThumbRect();
    const std::string& image = IsPushed() && !m_thumbPushedImage.empty() ? m_thumbPushedImage
                               : IsHot() && !m_thumbHotImage.empty()     ? m_thumbHotImage
                                                                         : m_thumbImage;
    if (!image.empty()) {
        UIRenderUtils::DrawImageString(cr, thumb, image);
    } else {
        UIRenderUtils::FillRoundRect(cr, thumb, m_thumbSize.cx / 2, IsEnabled() ? m_foreColor : 0xFFB8BEC6);
        UIRect inner = thumb;
        inner.Deflate({3, 3, 3, 3});
        UIRenderUtils::FillRoundRect(cr, inner, inner.Width() / 2, m_thumbColor);
    }
}

void UISlide::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "step")
        SetChangeStep(KWStringUtils::ConvertStringToInt32(value));
    else if (name == "thumbsize") {
        UISize size = ParseSize(value);
        m_thumbSize = {ClampSize(size.cx), ClampSize(size.cy)};
    } else if (name == "thumbimage")
        m_thumbImage = value;
    else if (name == "thumbhotimage")
        m_thumbHotImage = value;
    else if (name == "thumbpushedimage")
        m_thumbPushedImage = value;
    else
        UIProgress::SetAttribute(name, value);
}

}  // namespace KwLib
