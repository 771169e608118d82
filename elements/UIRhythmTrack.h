#pragma once
// UIRhythmTrack: the rhythm question's scrolling track, 684 x 155. Notes and
// long-note bars slide from the left towards the hit zone at the right; a
// note's right edge reaches x = 598 exactly at its time, counted from the
// answer origin. Feedback animations (hit, hold, miss) play over the hit zone.
//
// A thread of its own draws a picture about every 10 ms with SDL's software
// renderer and publishes it through a UIFrameExchange; whoever shows the
// track takes the newest picture when it likes. The thread never waits for
// the UI thread and the UI thread never waits for a picture: the origin and
// the feedback are single atomic values, the notes are fixed while it runs.
//
// Threads: SetNotes, Load, Start and Stop on the owner's thread (the UI
// thread); SetOrigin and SetFeedback from any thread; Render on the drawing
// thread, or on the owner's thread while the thread is not running.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ui/UIFrameExchange.h"

struct SDL_Rect;
struct SDL_Renderer;
struct SDL_Surface;
struct SDL_Texture;

namespace KwLib {

class KWThread;

class UIRhythmTrack {
public:
    static constexpr int kWidth = 684;
    static constexpr int kHeight = 155;
    static constexpr int kHitEdge = 598;  // a sprite's right edge at its time; nothing is drawn past it
    static constexpr int kSpriteY = 62;
    static constexpr int kNoteWidth = 37;
    static constexpr int kNoteHeight = 38;
    static constexpr int kBarHeight = 37;
    static constexpr int kBarExtra = 51;  // a bar is this much longer than its notes' distance
    static constexpr int kBarCap = 18;    // the bar's rounded ends; its middle stretches
    static constexpr int kFeedbackX = 534;
    static constexpr int kFeedbackY = 36;
    static constexpr int kFeedbackSize = 90;
    static constexpr uint32_t kAnimationFrameMs = 100;
    static constexpr uint32_t kRenderIntervalMs = 10;
    static constexpr uint32_t kClearColor = 0xFFA3C18D;  // RGB 163, 193, 141

    // Pictures: the frame with the hit zone (nine-grid, the right 200 pixels
    // kept), a note, a long-note bar, and the feedback frames.
    static constexpr int kFrameRes = 1100;
    static constexpr int kNoteRes = 1124;
    static constexpr int kBarRes = 1125;
    static constexpr int kHitRes = 1101;   // 8 frames, played once
    static constexpr int kHoldRes = 1109;  // 10 frames over kGlowRes, repeated while held
    static constexpr int kMissRes = 1119;  // 5 frames, played once
    static constexpr int kGlowRes = 1126;
    static constexpr int kHitFrames = 8;
    static constexpr int kHoldFrames = 10;
    static constexpr int kMissFrames = 5;

    enum Feedback : int { kNone = 0, kHit = 1, kHold = 2, kMiss = 3 };

    struct LongNote {
        uint32_t start = 0;
        uint32_t end = 0;
        bool operator==(const LongNote& o) const { return start == o.start && end == o.end; }
    };

    UIRhythmTrack();
    // Stops the thread and frees every picture.
    ~UIRhythmTrack();
    UIRhythmTrack(const UIRhythmTrack&) = delete;
    UIRhythmTrack& operator=(const UIRhythmTrack&) = delete;

    // Pixels per layout unit of the pictures (the screen's scale): the track
    // keeps its 684 x 155 units and is drawn at that many pixels, with the
    // twice-size pictures above 1. Not while running; call before Load.
    void SetScale(double scale);
    double GetScale() const { return m_scale; }

    // The notes to draw and their speed in units per millisecond. Not while running.
    void SetNotes(std::vector<uint32_t> beats, std::vector<LongNote> longNotes, float speed);
    // Loads the pictures from the resource folder once; false when one is
    // missing (the track then draws without it).
    bool Load();

    // Starts the drawing thread; true when it runs.
    bool Start();
    // Stops and joins the thread. The last picture stays in the exchange.
    void Stop();
    bool IsRunning() const { return m_thread != nullptr; }

    // The moment from which note times count, on the toolkit clock.
    void SetOrigin(int64_t originMs) { m_origin.store(originMs, std::memory_order_release); }
    int64_t GetOrigin() const { return m_origin.load(std::memory_order_acquire); }
    // Shows `feedback` from `atMs` on (its animation restarts at frame 0).
    void SetFeedback(int feedback, uint64_t atMs);
    int GetFeedback() const { return static_cast<int>(m_feedback.load() & 0xFF); }

    // Draws the picture at `nowMs` (toolkit clock) into `frame`.
    void Render(uint64_t nowMs, UIFrameExchange::Frame& frame);
    // The pictures the thread publishes.
    std::shared_ptr<UIFrameExchange> Frames() const { return m_frames; }

    // ---- measuring ----
    // Called on the drawing thread after each picture is published, with the
    // number of feedback changes the picture shows.
    using FrameObserver = std::function<void(const UIFrameExchange::Frame& frame, uint64_t feedbackSerial)>;
    void SetFrameObserver(FrameObserver observer) { m_observer = std::move(observer); }
    // How many times SetFeedback was called.
    uint64_t FeedbackSerial() const { return m_feedbackSerial.load(); }
    // Processor time the drawing thread has used so far.
    double ThreadCpuSeconds() const { return m_cpuNs.load() / 1e9; }

private:
    void Run();
    void FreePictures();
    void DrawSprites(int64_t sinceOrigin);
    void DrawFeedback(uint64_t nowMs);
    // A rectangle in units as the pixels it covers at the track's scale.
    SDL_Rect Px(int x, int y, int w, int h) const;
    int Px(double units) const;
    SDL_Surface* LoadPicture(int resId, int& density) const;

    std::vector<uint32_t> m_beats;
    std::vector<LongNote> m_longNotes;
    float m_speed = 0.2f;
    double m_scale = 1.0;
    int m_width = kWidth;  // pixels
    int m_height = kHeight;

    SDL_Surface* m_surface = nullptr;
    SDL_Renderer* m_renderer = nullptr;
    SDL_Texture* m_background = nullptr;  // the cleared track with the frame, drawn once
    SDL_Texture* m_note = nullptr;
    SDL_Texture* m_bar = nullptr;
    std::vector<SDL_Texture*> m_hit;
    std::vector<SDL_Texture*> m_hold;
    std::vector<SDL_Texture*> m_miss;
    SDL_Texture* m_glow = nullptr;
    bool m_loaded = false;

    std::atomic<int64_t> m_origin{0};
    // The feedback and its start in one value, so the thread never sees one without the other.
    std::atomic<uint64_t> m_feedback{0};
    std::atomic<uint64_t> m_feedbackSerial{0};

    std::shared_ptr<UIFrameExchange> m_frames;
    std::unique_ptr<KWThread> m_thread;
    std::mutex m_stopMutex;
    std::condition_variable m_stopCv;
    bool m_stop = false;
    FrameObserver m_observer;
    std::atomic<uint64_t> m_cpuNs{0};
};

}  // namespace KwLib
