#include "platform/ui/UIInputLockWatchdog.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <chrono>

#include "platform/common/KWLog.h"

namespace KwLib {

UIInputLockWatchdog& UIInputLockWatchdog::Instance() {
    static UIInputLockWatchdog instance;
    return instance;
}

UIInputLockWatchdog::~UIInputLockWatchdog() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

uint64_t UIInputLockWatchdog::NowMs() {
    // The real clock, the one the guard reads the record with: a test's manual
    // clock stands still while the UI thread hangs.
    return KWAliveRecord::NowMs();
}

bool UIInputLockWatchdog::Publish(const std::string& path) {
    return m_record.Publish(path);
}

uint32_t UIInputLockWatchdog::EndAfterMs(bool releasesItself) const {
    return releasesItself ? 3 * m_limitMs.load() : m_limitMs.load();
}

void UIInputLockWatchdog::PublishHolding() {
    m_record.SetHolding(!m_holders.empty(), m_display != nullptr, EndAfterMs(m_display != nullptr));
}

void UIInputLockWatchdog::PrepareDisplayThreads() {
    static const bool done = XInitThreads() != 0;
    (void)done;
}

void UIInputLockWatchdog::SetLimit(uint32_t limitMs) {
    m_limitMs = limitMs > 0 ? limitMs : kDefaultLimitMs;
    m_cv.notify_all();
}

void UIInputLockWatchdog::Beat(bool busy) {
    const uint64_t since = busy ? NowMs() : 0;
    m_busySince.store(since);
    m_record.Busy(since);
}

void UIInputLockWatchdog::NoteGrab(SDL_Window* window, bool held) {
    void* display = nullptr;
    if (held && window) {
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
            display = info.info.x11.display;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (held) {
        m_holders.insert(window);
        if (display)
            m_display = display;
        else if (!m_display)
            // Wayland keeps its shortcut inhibition on a connection only SDL
            // holds; a hung client there is left to the compositor's own way
            // out and to the guard, which ends a hung client.
            VL_LOG_INFO("the keyboard is held through the compositor; no release on a hang from here");
        m_armed = true;
        EnsureThread();
    } else {
        m_holders.erase(window);
    }
    if (m_holders.empty())
        m_armed = false;
    PublishHolding();
}

bool UIInputLockWatchdog::TakeReleased() {
    return m_released.exchange(false);
}

void UIInputLockWatchdog::EnsureThread() {
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void UIInputLockWatchdog::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        m_cv.wait_for(lock, std::chrono::milliseconds(250));
        m_record.Heartbeat(NowMs());
        PublishHolding();
        if (m_stop || !m_display || !m_armed)
            continue;
        const uint64_t since = m_busySince.load();
        const uint64_t now = NowMs();
        if (since == 0 || now < since || now - since < m_limitMs.load())
            continue;
        // The connection is thread-safe (PrepareDisplayThreads), so this call waits for the hung thread only if it hangs inside Xlib itself.
        auto* display = static_cast<Display*>(m_display);
        XUngrabKeyboard(display, CurrentTime);
        XFlush(display);
        m_armed = false;
        m_released = true;
        ++m_releases;
        VL_LOG_ERROR("the UI thread has not answered for %llu ms: the keyboard is released",
                     static_cast<unsigned long long>(now - since));
    }
}

}  // namespace KwLib
