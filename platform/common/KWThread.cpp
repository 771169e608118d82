#include "platform/common/KWThread.h"

#include <time.h>

#include <atomic>
#include <chrono>

namespace KwLib {

namespace {
std::atomic<void (*)()> g_threadStartHook{nullptr};
thread_local bool t_prepared = false;

void RunStartHook() {
    t_prepared = true;
    if (auto hook = g_threadStartHook.load())
        hook();
}
}  // namespace

void KWThread::SetThreadStartHook(void (*hook)()) {
    g_threadStartHook = hook;
}

void KWThread::PrepareForeignThread() {
    if (!t_prepared)
        RunStartHook();
}

bool KWThread::StartDetached(std::function<void()> body) {
    if (!body)
        return false;
    try {
        std::thread([body = std::move(body)] {
            RunStartHook();
            body();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

KWThread::KWThread(Function function, void* argument)
    : m_body([function, argument] { function(argument); }) {}

KWThread::KWThread(std::function<void()> body) : m_body(std::move(body)) {}

KWThread::~KWThread() {
    Join();
}

bool KWThread::Start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started || !m_body)
        return false;
    try {
        m_thread = std::thread([this] {
            RunStartHook();
            m_body();
            std::lock_guard<std::mutex> done(m_mutex);
            m_done = true;
            m_doneCv.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_started = true;
    return true;
}

void KWThread::Join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

bool KWThread::TimeJoin(int milliseconds) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_started)
            return true;
        if (!m_doneCv.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_done; }))
            return false;
    }
    Join();
    return true;
}

uint64_t KWThread::CurrentThreadCpuNs() {
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0)
        return 0;
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

bool KWThread::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started && !m_done;
}

}  // namespace KwLib
