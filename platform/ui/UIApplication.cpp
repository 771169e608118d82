#include "platform/ui/UIApplication.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/common/KWLog.h"
#include "platform/common/KWStringConvert.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIDesktopScale.h"
#include "platform/ui/UIInputLockWatchdog.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIWindowWnd.h"

namespace KwLib {

UIApplication& UIApplication::Instance() {
    static UIApplication instance;
    return instance;
}

UIApplication::UIApplication() {
    const char* env = std::getenv("VL_UI_HEADLESS");
    m_headless = env && std::string(env) == "1";
}

bool UIApplication::EnsureVideo() {
    if (m_videoActive)
        return true;
    // A Wayland session is served by SDL's Wayland driver, which SDL 2 only
    // takes when asked; X11 (or XWayland) stays the fallback. A driver the
    // user named in SDL_VIDEODRIVER is left alone.
    UIInputLockWatchdog::PrepareDisplayThreads();
    const char* named = std::getenv("SDL_VIDEODRIVER");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    bool started = false;
    if ((!named || !*named) && wayland && *wayland) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland");
        started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        if (!started)
            VL_LOG_WARN("SDL's Wayland driver did not start (%s); trying X11", SDL_GetError());
        SDL_ResetHint(SDL_HINT_VIDEODRIVER);
    }
    if (!started && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        VL_LOG_ERROR("SDL video: %s", SDL_GetError());
        return false;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    // Everything is drawn in software by cairo. X11 (XShm) and the offscreen
    // driver have a native framebuffer, the shortest way to the screen with no
    // GL context to load. Wayland has none: its window surface is a texture
    // that SDL's renderer shows, and turning that off leaves the window
    // without any surface, which the compositor shows black.
    if (!driver || std::string(driver) != "wayland")
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    VL_LOG_INFO("video driver %s", driver ? driver : "none");
    m_wakeEventType = SDL_RegisterEvents(1);
    SDL_StopTextInput();
    m_videoActive = true;
    return true;
}

void UIApplication::ShutdownVideo() {
    if (!m_videoActive)
        return;
    for (UIWindowWnd* w : m_windows)
        if (w->GetNativeWindow())
            return;
    m_videoActive = false;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

double UIApplication::GetDesktopScale() {
    if (m_desktopScale > 0)
        return m_desktopScale;
    if (m_headless || !m_videoActive)
        return 1.0;
    const char* driver = SDL_GetCurrentVideoDriver();
    double scale = 1.0;
    if (driver && std::string(driver) == "x11")
        scale = UIDesktopScale::FromXftDpi(UIDesktopScale::ReadX11Resources());
    m_desktopScale = scale;
    VL_LOG_INFO("desktop scale %.3f (%s)", scale, driver ? driver : "no video driver");
    return m_desktopScale;
}

double UIApplication::GetWindowScale() {
    return m_scaleOverride > 0 ? m_scaleOverride : GetDesktopScale();
}

void UIApplication::SetScaleOverride(double scale) {
    m_scaleOverride = scale > 0 ? std::clamp(scale, 1.0, 4.0) : 0.0;
}

double UIApplication::ParseScale(const std::string& text) {
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t')
        ++begin;
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    if (end == begin)
        return 0;
    while (*end == ' ' || *end == '\t' || *end == '\r')
        ++end;
    if (*end != '\0' || !(v > 0) || v > 100)
        return 0;
    return v;
}

UISize UIApplication::GetScreenSize() {
    if (m_headless || !m_videoActive)
        return m_headlessScreen;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0)
        return m_headlessScreen;
    return {mode.w, mode.h};
}

void UIApplication::Register(UIWindowWnd* window) {
    if (!IsAlive(window))
        m_windows.push_back(window);
}

void UIApplication::SetKeyboardLock(bool on) {
    if (on == m_keyboardLock)
        return;
    m_keyboardLock = on;
    VL_LOG_INFO("keyboard %s", on ? "held while the exam is shown" : "released");
    for (UIWindowWnd* w : m_windows)
        w->SetKeyboardLock(on);
}

void UIApplication::NoteFocus(UIWindowWnd* window, bool gained) {
    if (gained)
        m_focusWindow = window;
    else if (m_focusWindow == window)
        m_focusWindow = nullptr;
}

void UIApplication::Unregister(UIWindowWnd* window) {
    if (m_focusWindow == window)
        m_focusWindow = nullptr;
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), window), m_windows.end());
}

bool UIApplication::IsAlive(const UIWindowWnd* window) const {
    return std::find(m_windows.begin(), m_windows.end(), window) != m_windows.end();
}

// ---- timers ----

void UIApplication::SetTimer(const void* owner, const void* sub, int id, uint32_t elapseMs,
                             std::function<void()> fire) {
    KillTimer(owner, sub, id);
    elapseMs = std::max<uint32_t>(1, elapseMs);
    m_timers.push_back(
        {owner, sub, id, elapseMs, UIClock::NowMs() + elapseMs, ++m_timerSeq, std::move(fire)});
}

void UIApplication::KillTimer(const void* owner, const void* sub, int id) {
    m_timers.erase(
        std::remove_if(m_timers.begin(), m_timers.end(),
                       [&](const Timer& t) { return t.owner == owner && t.sub == sub && t.id == id; }),
        m_timers.end());
}

void UIApplication::KillTimers(const void* key) {
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                  [&](const Timer& t) { return t.owner == key || t.sub == key; }),
                   m_timers.end());
}

bool UIApplication::HasTimer(const void* owner, const void* sub, int id) const {
    return std::any_of(m_timers.begin(), m_timers.end(),
                       [&](const Timer& t) { return t.owner == owner && t.sub == sub && t.id == id; });
}

std::optional<uint64_t> UIApplication::NextTimerDue() const {
    std::optional<uint64_t> next;
    for (auto& t : m_timers)
        if (!next || t.due < *next)
            next = t.due;
    return next;
}

int UIApplication::FireDueTimers(uint64_t now) {
    // Each timer fires at most once per call, so a timer that re-arms itself
    // cannot starve the loop; a manual clock advances step by step instead.
    std::vector<uint64_t> fired;
    int count = 0;
    for (;;) {
        const Timer* best = nullptr;
        for (auto& t : m_timers) {
            if (t.due > now || std::find(fired.begin(), fired.end(), t.seq) != fired.end())
                continue;
            if (!best || t.due < best->due || (t.due == best->due && t.seq < best->seq))
                best = &t;
        }
        if (!best)
            break;
        Timer* t = const_cast<Timer*>(best);
        fired.push_back(t->seq);
        // A real clock that fell behind skips the missed ticks rather than bursting.
        t->due = UIClock::IsManual() ? t->due + t->elapse : std::max(t->due + t->elapse, now + 1);
        std::function<void()> fire = t->fire;  // the callback may kill or reset this timer
        fire();
        ++count;
    }
    return count;
}

// ---- wake-up ----

void UIApplication::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_woken = true;
    }
    m_wakeCv.notify_all();
    if (m_videoActive && m_wakeEventType != 0 && m_wakeEventType != static_cast<uint32_t>(-1) &&
        !m_wakeQueued.exchange(true)) {
        SDL_Event e{};
        e.type = m_wakeEventType;
        if (SDL_PushEvent(&e) != 1)
            m_wakeQueued = false;
    }
}

void UIApplication::RunOnUiThread(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_taskMutex);
        m_tasks.push_back(std::move(task));
    }
    Wake();
}

bool UIApplication::HasQueuedTasks() const {
    std::lock_guard<std::mutex> lock(m_taskMutex);
    return !m_tasks.empty();
}

bool UIApplication::RunQueuedTasks() {
    // Only the tasks queued when the pass began, one at a time: a task may
    // queue more, or run a nested loop that takes the following ones itself.
    size_t budget = 0;
    {
        std::lock_guard<std::mutex> lock(m_taskMutex);
        budget = m_tasks.size();
    }
    bool any = false;
    while (budget-- > 0) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(m_taskMutex);
            if (m_tasks.empty())
                break;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        any = true;
        task();
    }
    return any;
}

// ---- native events ----

namespace {

uint32_t VirtualKey(SDL_Keycode k) {
    if (k >= SDLK_a && k <= SDLK_z)
        return static_cast<uint32_t>('A' + (k - SDLK_a));
    if (k >= SDLK_0 && k <= SDLK_9)
        return static_cast<uint32_t>('0' + (k - SDLK_0));
    if (k >= SDLK_F1 && k <= SDLK_F12)
        return VK_F1 + static_cast<uint32_t>(k - SDLK_F1);
    switch (k) {
        case SDLK_SPACE:
            return VK_SPACE;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            return VK_RETURN;
        case SDLK_ESCAPE:
            return VK_ESCAPE;
        case SDLK_BACKSPACE:
            return VK_BACK;
        case SDLK_TAB:
            return VK_TAB;
        case SDLK_DELETE:
            return VK_DELETE;
        case SDLK_INSERT:
            return VK_INSERT;
        case SDLK_HOME:
            return VK_HOME;
        case SDLK_END:
            return VK_END;
        case SDLK_PAGEUP:
            return VK_PRIOR;
        case SDLK_PAGEDOWN:
            return VK_NEXT;
        case SDLK_LEFT:
            return VK_LEFT;
        case SDLK_RIGHT:
            return VK_RIGHT;
        case SDLK_UP:
            return VK_UP;
        case SDLK_DOWN:
            return VK_DOWN;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT:
            return VK_SHIFT;
        case SDLK_LCTRL:
        case SDLK_RCTRL:
            return VK_CONTROL;
        case SDLK_LALT:
        case SDLK_RALT:
            return VK_MENU;
        default:
            return 0;
    }
}

uintptr_t MouseFlags(uint32_t buttons) {
    uintptr_t f = 0;
    if (buttons & SDL_BUTTON_LMASK)
        f |= MK_LBUTTON;
    if (buttons & SDL_BUTTON_RMASK)
        f |= MK_RBUTTON;
    SDL_Keymod mod = SDL_GetModState();
    if (mod & KMOD_SHIFT)
        f |= MK_SHIFT;
    if (mod & KMOD_CTRL)
        f |= MK_CONTROL;
    return f;
}

UIWindowWnd* WindowById(const std::vector<UIWindowWnd*>& windows, uint32_t id) {
    for (UIWindowWnd* w : windows)
        if (w->GetNativeId() == id)
            return w;
    return nullptr;
}

bool IsInputMessage(uint32_t m) {
    return (m >= WM_KEYDOWN && m <= WM_SYSKEYUP) || (m >= WM_MOUSEMOVE && m <= WM_MOUSEWHEEL) ||
           m == WM_IME_COMPOSITION;
}

void Deliver(UIWindowWnd* w, uint32_t message, uintptr_t wParam, intptr_t lParam,
             std::optional<uint64_t> timeMs = std::nullopt) {
    if (!w || !w->IsWindow())
        return;
    if (IsInputMessage(message) && !w->IsInputEnabled())
        return;
    if (timeMs)
        w->DispatchMessage(message, wParam, lParam, *timeMs);
    else
        w->DispatchMessage(message, wParam, lParam);
}

// Mouse events come in the desktop's window coordinates; windows take them in layout units.
intptr_t ClientLParam(const UIWindowWnd* w, int x, int y) {
    const UIPoint pt = w->WindowPointToClient(x, y);
    return MakeMouseLParam(pt.x, pt.y);
}

// SDL stamps an event with its own millisecond ticks when the event enters its
// queue; the event is as old as the distance to SDL's ticks now. A key pressed
// while the loop was busy keeps the moment it was pressed.
uint64_t EventTime(uint32_t sdlTimestamp) {
    const uint64_t now = UIClock::NowMs();
    const uint32_t age = SDL_GetTicks() - sdlTimestamp;  // unsigned: right across the wrap
    // A stamp from the future or from more than a minute ago is not one to trust.
    if (sdlTimestamp == 0 || age > 60000)
        return now;
    return now > age ? now - age : 0;
}

}  // namespace

bool UIApplication::HandleNativeEvents(int waitMs) {
    if (!m_videoActive)
        return false;
    SDL_Event e;
    bool any = false;
    bool got = waitMs > 0 ? SDL_WaitEventTimeout(&e, waitMs) != 0 : SDL_PollEvent(&e) != 0;
    while (got) {
        any = true;
        UIWindowWnd* w = nullptr;
        // Taken before the posted messages are read (later in this pass), so
        // a post after this point queues a new wake-up.
        if (e.type == m_wakeEventType)
            m_wakeQueued = false;
        switch (e.type) {
            case SDL_WINDOWEVENT:
                w = WindowById(m_windows, e.window.windowID);
                if (!w)
                    break;
                switch (e.window.event) {
                    case SDL_WINDOWEVENT_CLOSE:
                        w->PostMessageW(WM_CLOSE, IDCLOSE, 0);
                        break;
                    case SDL_WINDOWEVENT_SIZE_CHANGED:
                        w->OnNativeResize(e.window.data1, e.window.data2);
                        break;
                    case SDL_WINDOWEVENT_EXPOSED:
                        if (UIPaintManager* pm = w->GetPaintManager())
                            pm->Invalidate();
                        break;
                    case SDL_WINDOWEVENT_MOVED: {
                        const int x = static_cast<int>(std::lround(e.window.data1 * w->m_pixelRatio));
                        const int y = static_cast<int>(std::lround(e.window.data2 * w->m_pixelRatio));
                        w->m_rcWindow = {x, y, x + w->m_rcWindow.Width(), y + w->m_rcWindow.Height()};
                        break;
                    }
                    case SDL_WINDOWEVENT_FOCUS_GAINED:
                        Deliver(w, WM_SETFOCUS, 0, 0);
                        break;
                    case SDL_WINDOWEVENT_FOCUS_LOST:
                        Deliver(w, WM_KILLFOCUS, 0, 0);
                        break;
                    case SDL_WINDOWEVENT_LEAVE:
                        Deliver(w, WM_MOUSELEAVE, 0, 0);
                        break;
                    case SDL_WINDOWEVENT_MINIMIZED:
                        w->m_minimized = true;
                        break;
                    case SDL_WINDOWEVENT_RESTORED:
                        w->m_minimized = false;
                        break;
                    default:
                        break;
                }
                break;
            case SDL_MOUSEMOTION:
                w = WindowById(m_windows, e.motion.windowID);
                if (w)
                    Deliver(w, WM_MOUSEMOVE, MouseFlags(e.motion.state),
                            ClientLParam(w, e.motion.x, e.motion.y), EventTime(e.motion.timestamp));
                break;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: {
                w = WindowById(m_windows, e.button.windowID);
                bool down = e.type == SDL_MOUSEBUTTONDOWN;
                uint32_t msg = 0;
                if (e.button.button == SDL_BUTTON_LEFT)
                    msg = down ? (e.button.clicks == 2 ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN) : WM_LBUTTONUP;
                else if (e.button.button == SDL_BUTTON_RIGHT)
                    msg = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
                if (msg && w)
                    Deliver(w, msg, MouseFlags(SDL_GetMouseState(nullptr, nullptr)),
                            ClientLParam(w, e.button.x, e.button.y), EventTime(e.button.timestamp));
                break;
            }
            case SDL_MOUSEWHEEL: {
                w = WindowById(m_windows, e.wheel.windowID);
                int x = 0, y = 0;
                SDL_GetMouseState(&x, &y);
                int delta = e.wheel.y * 120;
                if (w)
                    Deliver(w, WM_MOUSEWHEEL, static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16,
                            ClientLParam(w, x, y), EventTime(e.wheel.timestamp));
                break;
            }
            case SDL_KEYDOWN:
            case SDL_KEYUP: {
                w = WindowById(m_windows, e.key.windowID);
                // Modifiers pressed while another window had the focus count too.
                SDL_Keymod mod = SDL_GetModState();
                m_modifiers = ((mod & KMOD_SHIFT) ? kModShift : 0) | ((mod & KMOD_CTRL) ? kModCtrl : 0) |
                              ((mod & KMOD_ALT) ? kModAlt : 0);
                uint32_t vk = VirtualKey(e.key.keysym.sym);
                if (vk)
                    Deliver(w, e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, vk, e.key.repeat ? 1 : 0,
                            EventTime(e.key.timestamp));
                break;
            }
            case SDL_TEXTINPUT: {
                w = WindowById(m_windows, e.text.windowID);
                for (char32_t cp : KWStringConvert::Utf8ToUtf32(e.text.text))
                    Deliver(w, WM_CHAR, cp, 0, EventTime(e.text.timestamp));
                break;
            }
            case SDL_TEXTEDITING: {
                w = WindowById(m_windows, e.edit.windowID);
                std::string composition = e.edit.text;
                Deliver(w, WM_IME_COMPOSITION, 0, reinterpret_cast<intptr_t>(&composition));
                break;
            }
            default:
                break;
        }
        got = SDL_PollEvent(&e) != 0;
    }
    return any;
}

bool UIApplication::DispatchPosted() {
    bool any = false;
    std::vector<UIWindowWnd*> windows = m_windows;
    for (UIWindowWnd* w : windows) {
        if (!IsAlive(w))
            continue;
        // One message at a time, and only those queued when the pass began
        // (a handler that posts to itself cannot starve the loop). A message
        // stays queued until it is handled, so when a handler destroys the
        // window, the rest reach OnUnreadMessage instead of vanishing.
        size_t budget = w->PostedCount();
        KWMessage m;
        while (budget-- > 0 && IsAlive(w) && w->IsWindow() && w->TakeOnePosted(m)) {
            any = true;
            if (IsInputMessage(m.message) && !w->IsInputEnabled())
                continue;
            w->DispatchMessage(m.message, m.wParam, m.lParam);
        }
    }
    return any;
}

bool UIApplication::PaintAll() {
    bool any = false;
    std::vector<UIWindowWnd*> windows = m_windows;
    for (UIWindowWnd* w : windows) {
        if (!IsAlive(w))
            continue;
        UIPaintManager* pm = w->GetPaintManager();
        if (!pm)
            continue;
        if (pm->HasAsyncNotify()) {
            pm->FlushAsyncNotify();
            any = true;
        }
        if (IsAlive(w) && pm->IsPaintPending() && (w->IsVisible() || !m_videoActive || m_headless)) {
            pm->Paint();
            any = true;
        }
    }
    return any;
}

bool UIApplication::PumpOnce(int waitMs) {
    // A nested loop run from inside a handler hands its own messages their own times.
    MessageTimeScope outside(std::nullopt);
    bool posted = HasQueuedTasks();
    for (UIWindowWnd* w : m_windows)
        posted = posted || w->HasPosted();
    int wait = posted ? 0 : waitMs;
    if (wait > 0) {
        if (auto due = NextTimerDue()) {
            uint64_t now = UIClock::NowMs();
            wait = *due <= now
                       ? 0
                       : static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(wait), *due - now));
        }
    }
    bool any = false;
    UIInputLockWatchdog& watchdog = UIInputLockWatchdog::Instance();
    if (m_videoActive) {
        // Waiting for events is answering; the events' handling is work.
        watchdog.Beat(false);
        any |= HandleNativeEvents(wait);
    } else if (wait > 0) {
        watchdog.Beat(false);
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        m_wakeCv.wait_for(lock, std::chrono::milliseconds(wait), [this] { return m_woken; });
    }
    watchdog.Beat(true);
    if (watchdog.TakeReleased() && m_keyboardLock) {
        // Back from a hang: the exam holds the keyboard again.
        VL_LOG_INFO("the UI thread answers again; the keyboard is held again");
        for (UIWindowWnd* w : m_windows) {
            w->SetKeyboardLock(false);
            w->SetKeyboardLock(true);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_woken = false;
    }
    // After the wake-up flag is cleared, so a task queued from now on wakes the next pass.
    any |= RunQueuedTasks();
    any |= DispatchPosted();
    any |= FireDueTimers(UIClock::NowMs()) > 0;
    any |= PaintAll();
    return any;
}

void UIApplication::RunUntil(const std::function<bool()>& done) {
    while (!m_quit && !m_windows.empty() && !done()) {
        bool manual = m_headless && UIClock::IsManual() && !HasExternalDriver();
        if (PumpOnce(manual ? 0 : 10) || !manual)
            continue;
        // Under a manual clock nothing changes by waiting: run queued test
        // actions, and stop when there are none rather than spin.
        if (!RunIdleAction()) {
            VL_LOG_WARN("headless loop under a manual clock ran out of work");
            break;
        }
    }
}

void UIApplication::PostQuitMessage(int exitCode) {
    m_quit = true;
    m_exitCode = exitCode;
    Wake();
}

uint64_t UIApplication::GetMessageTime() const {
    return m_messageTime ? *m_messageTime : UIClock::NowMs();
}

UIApplication::MessageTimeScope::MessageTimeScope(std::optional<uint64_t> timeMs)
    : m_saved(UIApplication::Instance().m_messageTime) {
    UIApplication::Instance().m_messageTime = timeMs;
}

UIApplication::MessageTimeScope::~MessageTimeScope() {
    UIApplication::Instance().m_messageTime = m_saved;
}

void UIApplication::SetModifierKey(uint32_t vk, bool down) {
    uint32_t bit = vk == VK_SHIFT ? kModShift : vk == VK_CONTROL ? kModCtrl : vk == VK_MENU ? kModAlt : 0;
    m_modifiers = down ? (m_modifiers | bit) : (m_modifiers & ~bit);
}

bool UIIsKeyDown(uint32_t vk) {
    uint32_t m = UIApplication::Instance().GetModifiers();
    if (vk == VK_SHIFT)
        return (m & kModShift) != 0;
    if (vk == VK_CONTROL)
        return (m & kModCtrl) != 0;
    if (vk == VK_MENU)
        return (m & kModAlt) != 0;
    return false;
}

void UIApplication::QueueIdleAction(std::function<void()> action) {
    m_idleActions.push_back(std::move(action));
}

bool UIApplication::RunIdleAction() {
    if (m_idleActions.empty())
        return false;
    auto action = std::move(m_idleActions.front());
    m_idleActions.erase(m_idleActions.begin());
    action();
    return true;
}

}  // namespace KwLib
