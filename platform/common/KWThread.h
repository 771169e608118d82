#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace KwLib {

// A joinable worker thread. The owner calls Start once and Join (or TimeJoin)
// before destruction; the destructor joins a thread that is still running.
class KWThread {
public:
    using Function = unsigned (*)(void*);
    KWThread(Function function, void* argument);
    explicit KWThread(std::function<void()> body);
    ~KWThread();
    KWThread(const KWThread&) = delete;
    KWThread& operator=(const KWThread&) = delete;

    bool Start();
    void Join();
    // Runs first on every thread a KWThread starts (the crash handler gives
    // each worker its own signal stack this way). Set once at start-up. Every
    // thread of the program is started through this class so that none misses it.
    static void SetThreadStartHook(void (*hook)());
    // Starts `body` on a thread that nobody joins (it ends by itself), with the
    // start hook. False when no thread could be started.
    static bool StartDetached(std::function<void()> body);
    // Runs the start hook on the calling thread unless it ran there already:
    // for threads a library starts (the audio device's), called from the
    // first callback that reaches our code on them.
    static void PrepareForeignThread();
    // Waits at most `milliseconds`; true when the thread ended and was joined.
    bool TimeJoin(int milliseconds);
    bool IsRunning() const;
    // Processor time the calling thread has used so far, in nanoseconds.
    static uint64_t CurrentThreadCpuNs();

private:
    std::function<void()> m_body;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_doneCv;
    bool m_started = false;
    bool m_done = false;
};

class KWMutex {
public:
    void Lock() { m_mutex.lock(); }
    void UnLock() { m_mutex.unlock(); }
    bool TryLock() { return m_mutex.try_lock(); }
    // Lets std::lock_guard and std::unique_lock take a KWMutex.
    void lock() { Lock(); }
    void unlock() { UnLock(); }

private:
    std::recursive_mutex m_mutex;
};

using KWMutexGuard = std::lock_guard<KWMutex>;

}  // namespace KwLib
