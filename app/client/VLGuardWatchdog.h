#pragma once
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <sys/types.h>

#include "platform/common/KWThread.h"

namespace KwLib {

// Keeps the guard running: once a second, starts it when no guard of this
// session runs. A guard of this session is a process of the guard's name that
// holds the guard's single-instance lock in our runtime folder, or the one this
// watchdog started while it lives (it takes the lock a moment after its start).
// A guard of another account or session on the same machine (fast user
// switching, a second seat, another checkout's demo) is not ours: the pages of
// this session could not reach the client through it. Lives on its own thread
// and touches nothing but the process list.
class VLGuardWatchdog {
public:
    explicit VLGuardWatchdog(std::string guardPath, int periodMs = 1000);
    ~VLGuardWatchdog();
    VLGuardWatchdog(const VLGuardWatchdog&) = delete;
    VLGuardWatchdog& operator=(const VLGuardWatchdog&) = delete;

    bool Start();
    // Nothing in the client stops it; tests and a clean shutdown may.
    void Stop();
    int StartCount() const { return m_starts.load(); }

private:
    void Run();
    bool OurGuardRuns() const;
    std::string m_guardPath;
    std::string m_guardName;
    std::string m_lockPath;
    pid_t m_started = -1;
    int m_periodMs;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_starts{0};
    // Lets Stop() end the sleep at once instead of after up to a second.
    std::mutex m_sleepMutex;
    std::condition_variable m_sleepCv;
    std::unique_ptr<KWThread> m_thread;
};

}  // namespace KwLib
