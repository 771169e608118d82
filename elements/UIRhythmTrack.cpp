#include "elements/UIRhythmTrack.h"

#include <SDL.h>
#include <SDL_image.h>

#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/common/KWLog.h"
#include "platform/common/KWThread.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

namespace {

// The frame picture keeps its right 200 pixels (the hit zone) and stretches the rest.
constexpr int kFrameKeptRight = 200;

}  // namespace

// Above one pixel per unit the twice-size picture, when there is one.
SDL_Surface* UIRhythmTrack::LoadPicture(int resId, int& density) const {
    auto& res = UIResourceSingleton::Instance();
    density = 1;
    if (m_scale > 1.0 + 1e-6) {
        const std::string path2x = res.GetResourceFile2x(resId);
        if (SDL_Surface* s = IMG_Load(path2x.c_str())) {
            density = 2;
            return s;
        }
    }
    const std::string path = res.GetResourceFile(resId);
    SDL_Surface* s = IMG_Load(path.c_str());
    if (!s)
        VL_LOG_ERROR("rhythm picture %d (%s) cannot be read: %s", resId, path.c_str(), IMG_GetError());
    return s;
}

int UIRhythmTrack::Px(double units) const {
    return static_cast<int>(std::lround(units * m_scale));
}

SDL_Rect UIRhythmTrack::Px(int x, int y, int w, int h) const {
    const int left = Px(x), top = Px(y);
    return SDL_Rect{left, top, Px(x + w) - left, Px(y + h) - top};
}

UIRhythmTrack::UIRhythmTrack() : m_frames(std::make_shared<UIFrameExchange>(kWidth, kHeight)) {}

void UIRhythmTrack::SetScale(double scale) {
    if (m_thread || scale <= 0 || scale == m_scale)
        return;
    FreePictures();
    m_scale = scale;
    m_width = Px(kWidth);
    m_height = Px(kHeight);
    m_frames = std::make_shared<UIFrameExchange>(m_width, m_height);
}

UIRhythmTrack::~UIRhythmTrack() {
    Stop();
    FreePictures();
}

void UIRhythmTrack::SetNotes(std::vector<uint32_t> beats, std::vector<LongNote> longNotes, float speed) {
    if (m_thread)
        return;
    m_beats = std::move(beats);
    m_longNotes = std::move(longNotes);
    m_speed = speed;
}

bool UIRhythmTrack::Load() {
    if (m_loaded)
        return true;
    m_surface = SDL_CreateRGBSurfaceWithFormat(0, m_width, m_height, 32, SDL_PIXELFORMAT_ARGB8888);
    m_renderer = m_surface ? SDL_CreateSoftwareRenderer(m_surface) : nullptr;
    if (!m_renderer) {
        VL_LOG_ERROR("the rhythm track cannot draw: %s", SDL_GetError());
        FreePictures();
        return false;
    }
    bool complete = true;
    auto texture = [&](int resId) -> SDL_Texture* {
        int density = 1;
        SDL_Surface* s = LoadPicture(resId, density);
        SDL_Texture* t = s ? SDL_CreateTextureFromSurface(m_renderer, s) : nullptr;
        if (s)
            SDL_FreeSurface(s);
        if (t) {
            SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
            // Pictures shown at other than their size are smoothed, not blocky.
            SDL_SetTextureScaleMode(t, m_scale == density ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
        }
        complete = complete && t;
        return t;
    };

    // The background is the same in every picture: the cleared track with the
    // frame over it, the hit zone at its right end. Drawn once.
    SDL_Surface* background =
        SDL_CreateRGBSurfaceWithFormat(0, m_width, m_height, 32, SDL_PIXELFORMAT_ARGB8888);
    if (background) {
        SDL_FillRect(background, nullptr,
                     SDL_MapRGB(background->format, (kClearColor >> 16) & 0xFF, (kClearColor >> 8) & 0xFF,
                                kClearColor & 0xFF));
        int density = 1;
        if (SDL_Surface* frame = LoadPicture(kFrameRes, density)) {
            SDL_SetSurfaceBlendMode(frame, SDL_BLENDMODE_BLEND);
            const int kept = std::min(kFrameKeptRight * density, frame->w);
            const int keptPx = m_width - Px(kWidth - std::min(kFrameKeptRight, frame->w / density));
            SDL_Rect leftSrc{0, 0, frame->w - kept, frame->h};
            SDL_Rect leftDst{0, 0, m_width - keptPx, m_height};
            if (leftSrc.w > 0)
                SDL_BlitScaled(frame, &leftSrc, background, &leftDst);
            SDL_Rect rightSrc{frame->w - kept, 0, kept, frame->h};
            SDL_Rect rightDst{m_width - keptPx, 0, keptPx, m_height};
            SDL_BlitScaled(frame, &rightSrc, background, &rightDst);
            SDL_FreeSurface(frame);
        } else {
            complete = false;
        }
        m_background = SDL_CreateTextureFromSurface(m_renderer, background);
        if (m_background)
            SDL_SetTextureBlendMode(m_background, SDL_BLENDMODE_NONE);
        SDL_FreeSurface(background);
    }
    m_note = texture(kNoteRes);
    m_bar = texture(kBarRes);
    for (int i = 0; i < kHitFrames; ++i)
        m_hit.push_back(texture(kHitRes + i));
    for (int i = 0; i < kHoldFrames; ++i)
        m_hold.push_back(texture(kHoldRes + i));
    for (int i = 0; i < kMissFrames; ++i)
        m_miss.push_back(texture(kMissRes + i));
    m_glow = texture(kGlowRes);
    m_loaded = true;
    return complete && m_background;
}

void UIRhythmTrack::FreePictures() {
    auto destroy = [](SDL_Texture*& t) {
        if (t)
            SDL_DestroyTexture(t);
        t = nullptr;
    };
    destroy(m_background);
    destroy(m_note);
    destroy(m_bar);
    destroy(m_glow);
    for (auto* list : {&m_hit, &m_hold, &m_miss}) {
        for (SDL_Texture*& t : *list)
            destroy(t);
        list->clear();
    }
    if (m_renderer)
        SDL_DestroyRenderer(m_renderer);
    m_renderer = nullptr;
    if (m_surface)
        SDL_FreeSurface(m_surface);
    m_surface = nullptr;
    m_loaded = false;
}

void UIRhythmTrack::SetFeedback(int feedback, uint64_t atMs) {
    m_feedback.store((atMs << 8) | static_cast<uint64_t>(feedback & 0xFF), std::memory_order_release);
    m_feedbackSerial.fetch_add(1, std::memory_order_acq_rel);
}

void UIRhythmTrack::DrawSprites(int64_t sinceOrigin) {
    // Nothing passes the hit zone: sprites sliding into it are cut there.
    const SDL_Rect clip = Px(0, 0, kHitEdge, kHeight);
    SDL_RenderSetClipRect(m_renderer, &clip);
    // A sprite's right edge in pixels: at the hit edge at its time, moving
    // with the music in units and placed on the pixels of the track's scale.
    auto rightEdge = [&](uint32_t time) {
        const float units = (sinceOrigin - static_cast<int64_t>(time)) * m_speed;
        return Px(kHitEdge) + static_cast<int>(std::lround(units * m_scale));
    };
    const int spriteY = Px(kSpriteY);
    const int hitEdge = Px(kHitEdge);
    if (m_note) {
        const int noteW = Px(kNoteWidth), noteH = Px(kSpriteY + kNoteHeight) - spriteY;
        for (uint32_t beat : m_beats) {
            const int right = rightEdge(beat);
            if (right <= 0 || right - noteW >= hitEdge)
                continue;
            const SDL_Rect dst{right - noteW, spriteY, noteW, noteH};
            SDL_RenderCopy(m_renderer, m_note, nullptr, &dst);
        }
    }
    if (m_bar) {
        int barW = 0, barH = 0;
        SDL_QueryTexture(m_bar, nullptr, nullptr, &barW, &barH);
        // The picture's rounded ends, in its own pixels and on the track.
        const int density =
            std::max(1, static_cast<int>(std::lround(barH / static_cast<double>(kBarHeight))));
        const int cap = std::min(kBarCap * density, barW / 2);
        const int capPx = Px(cap / static_cast<double>(density));
        const int barPx = Px(kSpriteY + kBarHeight) - spriteY;
        for (const LongNote& note : m_longNotes) {
            // The bar's leading edge reaches the hit zone at the note's start;
            // its tail passes it at the end.
            const int right = rightEdge(note.start);
            const int width = static_cast<int>(
                std::lround((static_cast<double>(note.end - note.start) * m_speed + kBarExtra) * m_scale));
            const int left = right - width;
            if (right <= 0 || left >= hitEdge)
                continue;
            // Three pieces: the two rounded ends as they are, the plain middle stretched.
            const SDL_Rect leftSrc{0, 0, cap, barH}, midSrc{cap, 0, barW - 2 * cap, barH},
                rightSrc{barW - cap, 0, cap, barH};
            const SDL_Rect leftDst{left, spriteY, capPx, barPx},
                midDst{left + capPx, spriteY, width - 2 * capPx, barPx},
                rightDst{right - capPx, spriteY, capPx, barPx};
            SDL_RenderCopy(m_renderer, m_bar, &leftSrc, &leftDst);
            if (midDst.w > 0)
                SDL_RenderCopy(m_renderer, m_bar, &midSrc, &midDst);
            SDL_RenderCopy(m_renderer, m_bar, &rightSrc, &rightDst);
        }
    }
    SDL_RenderSetClipRect(m_renderer, nullptr);
}

void UIRhythmTrack::DrawFeedback(uint64_t nowMs) {
    const uint64_t packed = m_feedback.load(std::memory_order_acquire);
    const int feedback = static_cast<int>(packed & 0xFF);
    const uint64_t since = packed >> 8;
    const uint64_t frame = nowMs > since ? (nowMs - since) / kAnimationFrameMs : 0;
    const SDL_Rect dst = Px(kFeedbackX, kFeedbackY, kFeedbackSize, kFeedbackSize);
    auto draw = [&](SDL_Texture* t) {
        if (t)
            SDL_RenderCopy(m_renderer, t, nullptr, &dst);
    };
    switch (feedback) {
        case kHit:
            if (frame < m_hit.size())
                draw(m_hit[frame]);
            break;
        case kHold:
            // Repeats for as long as the key is held.
            draw(m_glow);
            if (!m_hold.empty())
                draw(m_hold[frame % m_hold.size()]);
            break;
        case kMiss:
            if (frame < m_miss.size())
                draw(m_miss[frame]);
            break;
        default:
            break;
    }
}

void UIRhythmTrack::Render(uint64_t nowMs, UIFrameExchange::Frame& frame) {
    if (!m_renderer)
        return;
    SDL_SetRenderDrawBlendMode(m_renderer, SDL_BLENDMODE_NONE);
    if (m_background) {
        SDL_RenderCopy(m_renderer, m_background, nullptr, nullptr);
    } else {
        SDL_SetRenderDrawColor(m_renderer, (kClearColor >> 16) & 0xFF, (kClearColor >> 8) & 0xFF,
                               kClearColor & 0xFF, 0xFF);
        SDL_RenderClear(m_renderer);
    }
    DrawSprites(static_cast<int64_t>(nowMs) - GetOrigin());
    DrawFeedback(nowMs);
    SDL_RenderFlush(m_renderer);

    // The surface is ARGB8888: the same words as cairo's ARGB32, and opaque.
    SDL_LockSurface(m_surface);
    const auto* src = static_cast<const uint8_t*>(m_surface->pixels);
    for (int y = 0; y < m_height && y < frame.height; ++y)
        std::memcpy(&frame.pixels[static_cast<size_t>(y) * frame.width],
                    src + static_cast<size_t>(y) * m_surface->pitch,
                    static_cast<size_t>(std::min(m_width, frame.width)) * 4);
    SDL_UnlockSurface(m_surface);
}

bool UIRhythmTrack::Start() {
    if (m_thread)
        return true;
    if (!m_renderer && !Load() && !m_renderer)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = false;
    }
    m_thread = std::make_unique<KWThread>([this] { Run(); });
    if (!m_thread->Start()) {
        VL_LOG_ERROR("the rhythm track's thread cannot start");
        m_thread.reset();
        return false;
    }
    return true;
}

void UIRhythmTrack::Stop() {
    if (!m_thread)
        return;
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = true;
    }
    m_stopCv.notify_all();
    m_thread->Join();
    m_thread.reset();
}

void UIRhythmTrack::Run() {
    using clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(kRenderIntervalMs);
    auto next = clock::now();
    std::unique_lock<std::mutex> lock(m_stopMutex);
    while (!m_stop) {
        lock.unlock();
        const uint64_t serial = m_feedbackSerial.load(std::memory_order_acquire);
        const uint64_t now = UIClock::NowMs();
        UIFrameExchange::Frame& frame = m_frames->Back();
        Render(now, frame);
        m_frames->Publish(now);
        if (m_observer)
            m_observer(frame, serial);
        m_cpuNs.store(KWThread::CurrentThreadCpuNs(), std::memory_order_relaxed);
        // Ticks keep their own rhythm rather than drifting by the drawing time;
        // after a stall the next one is a whole interval away, not a burst.
        next += interval;
        const auto t = clock::now();
        if (next <= t)
            next = t + interval;
        lock.lock();
        m_stopCv.wait_until(lock, next, [this] { return m_stop; });
    }
}

}  // namespace KwLib
