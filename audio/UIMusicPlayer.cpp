#include "audio/UIMusicPlayer.h"

#include "platform/ui/UIDialogBuilder.h"
#include "platform/ui/UIPaintManager.h"

namespace KwLib {

UIMusicPlayer::UIMusicPlayer() : m_player(std::make_unique<VLAudioPlayer>(0, 0)) {
    SetId(kControlId);
}

UIMusicPlayer::~UIMusicPlayer() {
    ReleaseAudio();
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

void UIMusicPlayer::RegisterLayoutTag() {
    UIDialogBuilder::RegisterControl(kTag, [] { return new UIMusicPlayer; });
}

bool UIMusicPlayer::InitAudio() {
    // The picture has the control's fixed size, as laid out ("width", "height").
    const int w = GetFixedWidth() > 0 ? GetFixedWidth() : GetWidth();
    const int h = GetFixedHeight() > 0 ? GetFixedHeight() : GetHeight();
    m_player->SetSpectrumSize(w, h);
    if (!m_player->InitAudio())
        return false;
    SetTimer(kRepaintTimerId, VLAudioPlayer::kTickMs);
    return true;
}

void UIMusicPlayer::ReleaseAudio() {
    if (m_manager)
        KillTimer(kRepaintTimerId);
    m_player->ReleaseAudio();
    if (m_manager)
        Invalidate();
}

bool UIMusicPlayer::PlayFile(const std::string& path) {
    const bool played = m_player->PlayFile(path);
    Invalidate();
    return played;
}

uint32_t UIMusicPlayer::StartPlayback(const std::string& path) {
    const uint32_t ms = m_player->StartPlayback(path);
    Invalidate();
    return ms;
}

void UIMusicPlayer::StopPlayback() {
    m_player->StopPlayback();
    Invalidate();
}

void UIMusicPlayer::SetVolume(int percent) {
    m_player->SetVolume(percent);
}

void UIMusicPlayer::SetMode(int mode) {
    m_player->SetMode(mode);
}

void UIMusicPlayer::OnTimer(int timerId) {
    if (timerId != kRepaintTimerId)
        return UIControl::OnTimer(timerId);
    if (m_player->SpectrumFrameCount() != m_paintedFrame)
        Invalidate();
}

void UIMusicPlayer::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    (void)rcPaint;
    // The size only changes in InitAudio, on this thread.
    const int w = m_player->SpectrumWidth(), h = m_player->SpectrumHeight();
    m_paintedFrame = m_player->SpectrumFrameCount();
    if (w <= 0 || h <= 0) {
        PaintBkColor(cr);
        return;
    }
    if (!m_surface || cairo_image_surface_get_width(m_surface) != w ||
        cairo_image_surface_get_height(m_surface) != h) {
        if (m_surface)
            cairo_surface_destroy(m_surface);
        m_surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    }
    cairo_surface_flush(m_surface);
    m_player->CopySpectrum(reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(m_surface)),
                           cairo_image_surface_get_stride(m_surface) / 4);
    cairo_surface_mark_dirty(m_surface);
    cairo_save(cr);
    cairo_rectangle(cr, m_rcItem.left, m_rcItem.top, m_rcItem.Width(), m_rcItem.Height());
    cairo_clip(cr);
    cairo_set_source_surface(cr, m_surface, m_rcItem.left, m_rcItem.top);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace KwLib
