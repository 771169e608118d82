#include "platform/ui/UIFrameView.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

UIFrameView::UIFrameView() {
    SetMouseEnabled(false);
}

UIFrameView::~UIFrameView() {
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

void UIFrameView::SetExchange(std::shared_ptr<UIFrameExchange> frames) {
    if (m_surface) {
        cairo_surface_destroy(m_surface);
        m_surface = nullptr;
        m_surfacePixels = nullptr;
    }
    m_frames = std::move(frames);
    Invalidate();
}

void UIFrameView::SetFrameScale(double scale) {
    if (scale <= 0 || scale == m_frameScale)
        return;
    m_frameScale = scale;
    Invalidate();
}

void UIFrameView::StartPolling(uint32_t intervalMs) {
    m_polling = SetTimer(kPollTimerId, intervalMs);
}

void UIFrameView::StopPolling() {
    if (m_polling)
        KillTimer(kPollTimerId);
    m_polling = false;
}

bool UIFrameView::Refresh() {
    if (!m_frames || !m_frames->TakeLatest())
        return false;
    Invalidate();
    return true;
}

uint64_t UIFrameView::ShownSequence() const {
    return m_frames ? m_frames->Front().sequence : 0;
}

void UIFrameView::OnTimer(int timerId) {
    if (timerId == kPollTimerId)
        Refresh();
    else
        UIControl::OnTimer(timerId);
}

void UIFrameView::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    UIControl::DoPaint(cr, rcPaint);
    if (!m_frames)
        return;
    const UIFrameExchange::Frame& frame = m_frames->Front();
    if (frame.sequence == 0 || frame.pixels.empty())
        return;
    // The three buffers rotate, so the surface is rewrapped when the front one changed.
    if (m_surfacePixels != frame.pixels.data()) {
        if (m_surface)
            cairo_surface_destroy(m_surface);
        m_surface = cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(frame.pixels.data())), CAIRO_FORMAT_ARGB32,
            frame.width, frame.height, frame.width * 4);
        m_surfacePixels = frame.pixels.data();
    } else {
        cairo_surface_mark_dirty(m_surface);
    }
    const UIRect& rc = GetPos();
    cairo_save(cr);
    if (std::fabs(UIRenderUtils::DeviceScale(cr) - m_frameScale) < 1e-6) {
        // Drawn for this surface: pixel for pixel, from the control's corner.
        const UIRect dev = UIRenderUtils::DeviceRect(cr, rc);
        cairo_identity_matrix(cr);
        cairo_rectangle(cr, dev.left, dev.top, std::min(dev.Width(), frame.width),
                        std::min(dev.Height(), frame.height));
        cairo_clip(cr);
        cairo_set_source_surface(cr, m_surface, dev.left, dev.top);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    } else {
        const double w = std::min<double>(rc.Width(), frame.width / m_frameScale);
        const double h = std::min<double>(rc.Height(), frame.height / m_frameScale);
        cairo_rectangle(cr, rc.left, rc.top, w, h);
        cairo_clip(cr);
        cairo_translate(cr, rc.left, rc.top);
        cairo_scale(cr, 1 / m_frameScale, 1 / m_frameScale);
        cairo_set_source_surface(cr, m_surface, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    }
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace KwLib
