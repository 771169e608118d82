#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace KwLib {

// Message numbers keep the values the rest of the system was written against.
constexpr uint32_t WM_USER = 0x0400;

// Anything a worker can post a result to: a toolkit window, or a plain queue in
// tests. PostMessageW must be safe to call from any thread. A heap payload in
// lParam belongs to the receiver once the post succeeded.
class IKWMessageReceiver {
public:
    virtual ~IKWMessageReceiver() = default;
    virtual bool PostMessageW(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

struct KWMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// A thread-safe queue receiver, for workers' tests and command-line tools.
// Whoever owns it must stop every sender (Release of the managers) before it
// goes; Close lets a test check that nobody posts afterwards.
class KWMessageQueue : public IKWMessageReceiver {
public:
    bool PostMessageW(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        // Notified under the lock: the receiver may wake, take this message and
        // be destroyed as soon as the lock is free, so the sender must not touch
        // the queue after it lets go.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) {
            ++m_refused;
            return false;
        }
        m_queue.push_back({message, wParam, lParam});
        m_cv.notify_all();
        return true;
    }
    // Waits up to `timeout` for the next message.
    std::optional<KWMessage> Take(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [this] { return !m_queue.empty(); }))
            return std::nullopt;
        KWMessage m = m_queue.front();
        m_queue.pop_front();
        return m;
    }
    size_t Size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_queue.size();
    }
    // From here on every post is refused (the sender keeps its payload) and counted.
    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    size_t RefusedPosts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_refused;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<KWMessage> m_queue;
    bool m_closed = false;
    size_t m_refused = 0;
};

}  // namespace KwLib
