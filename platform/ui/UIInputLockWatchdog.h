#pragma once
// UIInputLockWatchdog: a hung program must never lock a PC. While a window
// holds the keyboard, a thread of its own watches the UI thread: every pass of
// the message loop says when it started working and when it went back to
// waiting. When one piece of work runs past the limit (15 s), the thread
// releases the keyboard itself, on the display connection the grab was made
// on, so the desktop gets its keys back though the UI thread never answers.
// When the UI thread answers again it finds the grab released and takes it up
// again (UIApplication does this). What it sees goes into an alive record
// (KWAliveRecord) when one is published, for the guard: a client that stays
// hung is ended there and started again, and on desktops where the keyboard
// cannot be let go from here (Wayland) that is what frees it, so it is ended
// at the limit itself; where it can (X11), after three times the limit.
// NoteGrab and TakeReleased: UI thread; the watchdog's own thread otherwise.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/common/KWAliveRecord.h"

struct SDL_Window;

namespace KwLib {

class UIInputLockWatchdog {
public:
    static UIInputLockWatchdog& Instance();
    ~UIInputLockWatchdog();
    // Before the video system starts: makes the X11 connections SDL opens
    // usable from the watchdog's thread.
    static void PrepareDisplayThreads();
    UIInputLockWatchdog(const UIInputLockWatchdog&) = delete;
    UIInputLockWatchdog& operator=(const UIInputLockWatchdog&) = delete;

    static constexpr uint32_t kDefaultLimitMs = 15000;
    // The longest piece of UI work before the keyboard is released; 0 the default.
    // The thread starts with the first grab and ends with the process.
    void SetLimit(uint32_t limitMs);
    uint32_t GetLimit() const { return m_limitMs.load(); }

    // UI thread, before the first grab: publishes the alive record at `path`.
    bool Publish(const std::string& path);
    // The longest hang before the guard is to end the program, for the desktop
    // the keyboard is held on now.
    uint32_t EndAfterMs(bool releasesItself) const;

    // The UI thread starts a piece of work (`busy`) or goes back to waiting.
    void Beat(bool busy);
    // UI thread: `window` holds the keyboard now (held) or no longer.
    void NoteGrab(SDL_Window* window, bool held);
    // UI thread: whether the watchdog released a grab since the last call.
    bool TakeReleased();
    // How many times the keyboard was released for a hang.
    int ReleaseCount() const { return m_releases.load(); }

private:
    UIInputLockWatchdog() = default;
    void EnsureThread();
    void Run();
    void PublishHolding();  // with m_mutex held
    static uint64_t NowMs();

    std::atomic<uint32_t> m_limitMs{kDefaultLimitMs};
    std::atomic<uint64_t> m_busySince{0};  // 0: waiting for events
    std::atomic<bool> m_released{false};
    std::atomic<int> m_releases{0};

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_cv;
    void* m_display = nullptr;  // the X11 connection of the grabs; null on other desktops
    std::set<SDL_Window*> m_holders;  // windows locked now
    bool m_armed = false;  // a grab is held and not yet released for a hang
    bool m_stop = false;
    std::thread m_thread;
    KWAliveRecord m_record;
};

}  // namespace KwLib
