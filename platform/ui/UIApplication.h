#pragma once
// The toolkit's process-wide side: the back end (SDL2 windows or headless
// windows that render only into memory), the list of windows, timers, the
// wake-up of the message loop and one pass of it.
// UI thread only, except Wake and RunOnUiThread which any thread may call.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/UIDefines.h"

namespace KwLib {

class UIWindowWnd;

class UIApplication {
public:
    static UIApplication& Instance();

    // Headless windows never touch a display. Defaults to headless when the
    // environment variable VL_UI_HEADLESS is "1". Set before the first window.
    void SetHeadless(bool headless) { m_headless = headless; }
    bool IsHeadless() const { return m_headless; }
    // Starts SDL's video subsystem for real windows; false when there is no display.
    bool EnsureVideo();
    bool IsVideoActive() const { return m_videoActive.load(); }
    // Stops SDL's video subsystem once no SDL window is left (tests switch back ends).
    void ShutdownVideo();
    // The screen size in pixels (headless: 1920 x 1080 unless set).
    UISize GetScreenSize();
    void SetHeadlessScreenSize(UISize size) { m_headlessScreen = size; }

    // ---- scale ----
    // The desktop's scale for windows, screen pixels per layout unit: from
    // X11's Xft.dpi (144 gives 1.5), read once; 1 headless unless set.
    double GetDesktopScale();
    void SetDesktopScale(double scale) { m_desktopScale = scale; }
    // A scale chosen by the program's settings instead of the desktop's and
    // of the full screen's (0: none). Kept within 1 to 4.
    void SetScaleOverride(double scale);
    // A scale as a setting gives it ("1.5", "1", "auto"; 0 for none or nonsense).
    static double ParseScale(const std::string& text);
    double GetScaleOverride() const { return m_scaleOverride; }
    // The scale a window without owner starts with.
    double GetWindowScale();

    // ---- holding the keyboard ----
    // Every window of the program, present and to come, holds the keyboard
    // while it has the focus (UIWindowWnd::SetKeyboardLock); off releases it.
    // A UI thread that hangs gets it released (UIInputLockWatchdog).
    void SetKeyboardLock(bool on);
    bool IsKeyboardLocked() const { return m_keyboardLock; }
    // The window of this program that has the keyboard focus, or none.
    UIWindowWnd* GetFocusWindow() const { return m_focusWindow; }
    void NoteFocus(UIWindowWnd* window, bool gained);

    // ---- windows ----
    void Register(UIWindowWnd* window);
    void Unregister(UIWindowWnd* window);
    bool IsAlive(const UIWindowWnd* window) const;
    const std::vector<UIWindowWnd*>& Windows() const { return m_windows; }

    // ---- timers ----
    // A timer is keyed by (owner, sub, id); setting it again restarts it.
    void SetTimer(const void* owner, const void* sub, int id, uint32_t elapseMs, std::function<void()> fire);
    void KillTimer(const void* owner, const void* sub, int id);
    // Kills every timer whose owner or sub is `key`.
    void KillTimers(const void* key);
    bool HasTimer(const void* owner, const void* sub, int id) const;
    std::optional<uint64_t> NextTimerDue() const;
    // Fires every timer due at `now`, each once, earliest first. Returns how many fired.
    int FireDueTimers(uint64_t now);

    // ---- the loop ----
    // Wakes a waiting loop (from any thread).
    void Wake();
    // Runs `task` on the UI thread from the message loop, in the order queued,
    // and wakes a waiting loop. Nested loops (modal windows) run tasks too.
    // Any thread.
    void RunOnUiThread(std::function<void()> task);
    bool HasQueuedTasks() const;
    // One pass: native events, tasks from other threads, posted messages,
    // due timers, async notifications, painting. Waits up to `waitMs` when there is nothing to
    // do. Returns whether anything was done.
    bool PumpOnce(int waitMs);
    // Pumps until `done` returns true, the quit message arrives, or no window is left.
    void RunUntil(const std::function<bool()>& done);
    void PostQuitMessage(int exitCode);
    bool IsQuitRequested() const { return m_quit; }
    int GetExitCode() const { return m_exitCode; }
    // Forgets a previous quit (a test that ran one loop to its end starts another).
    void ResetQuit() { m_quit = false; }

    // ---- input time ----
    // When the input message being handled happened, on the toolkit clock: the
    // moment the key went down or the mouse moved, not the moment the loop got
    // round to it (what GetMessageTime told a window elsewhere). Any other
    // message, and code outside a message, get the current time.
    uint64_t GetMessageTime() const;
    // Sets the message time while a message is dispatched; nests.
    class MessageTimeScope {
    public:
        explicit MessageTimeScope(std::optional<uint64_t> timeMs);
        ~MessageTimeScope();
        MessageTimeScope(const MessageTimeScope&) = delete;
        MessageTimeScope& operator=(const MessageTimeScope&) = delete;

    private:
        std::optional<uint64_t> m_saved;
    };

    // ---- keyboard state ----
    // Modifier keys held now (kModShift | kModCtrl | kModAlt), as the windows
    // saw them; what GetKeyState told a window elsewhere.
    uint32_t GetModifiers() const { return m_modifiers; }
    void SetModifierKey(uint32_t vk, bool down);
    void SetModifiers(uint32_t modifiers) { m_modifiers = modifiers; }

    // ---- headless modal loops ----
    // A headless modal loop under a manual clock has nobody to click for it: when it runs out of
    // work it runs the next queued action (the test driver queues them). With
    // none queued the modal window is ended with -1 rather than hanging.
    void QueueIdleAction(std::function<void()> action);
    bool RunIdleAction();
    void ClearIdleActions() { m_idleActions.clear(); }
    size_t PendingIdleActions() const { return m_idleActions.size(); }
    int ModalDepth() const { return m_modalDepth; }
    void EnterModal() { ++m_modalDepth; }
    void LeaveModal() { --m_modalDepth; }
    // While a driver outside the process may still send input (the automation
    // channel), loops under a manual clock wait for it instead of ending when
    // they run out of work.
    void AddExternalDriver() { ++m_externalDrivers; }
    void RemoveExternalDriver() { m_externalDrivers = std::max(0, m_externalDrivers - 1); }
    bool HasExternalDriver() const { return m_externalDrivers > 0; }

private:
    UIApplication();
    bool HandleNativeEvents(int waitMs);
    bool RunQueuedTasks();
    bool DispatchPosted();
    bool PaintAll();

    bool m_headless = false;
    bool m_keyboardLock = false;
    UIWindowWnd* m_focusWindow = nullptr;
    std::atomic<bool> m_videoActive{false};
    UISize m_headlessScreen{1920, 1080};
    double m_desktopScale = 0;  // 0: not read yet
    double m_scaleOverride = 0;
    std::vector<UIWindowWnd*> m_windows;

    struct Timer {
        const void* owner;
        const void* sub;
        int id;
        uint32_t elapse;
        uint64_t due;
        uint64_t seq;
        std::function<void()> fire;
    };
    std::vector<Timer> m_timers;
    uint64_t m_timerSeq = 0;

    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCv;
    bool m_woken = false;
    std::atomic<uint32_t> m_wakeEventType{0};
    // One wake-up event in SDL's queue is enough: a worker posting thousands
    // of results must not fill the queue and push out the user's input.
    std::atomic<bool> m_wakeQueued{false};

    std::optional<uint64_t> m_messageTime;
    uint32_t m_modifiers = 0;
    bool m_quit = false;
    int m_exitCode = 0;
    std::vector<std::function<void()>> m_idleActions;
    int m_modalDepth = 0;
    int m_externalDrivers = 0;

    mutable std::mutex m_taskMutex;
    std::deque<std::function<void()>> m_tasks;
};

// True while the key is held; answers for VK_SHIFT, VK_CONTROL and VK_MENU.
bool UIIsKeyDown(uint32_t vk);

}  // namespace KwLib
