#pragma once
// Shows whether every thread a part of the program starts runs the thread start
// hook (where the crash handler gives each thread its own signal stack): it
// records the threads the hook ran on and compares them with the threads of
// the process.
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <set>
#include <string>

#include "platform/common/KWThread.h"

namespace KwLib::TestSupport {

class KWThreadHookProbe {
public:
    // Installs the recording hook; the threads running now are the baseline.
    KWThreadHookProbe() {
        {
            std::lock_guard<std::mutex> lock(Mutex());
            Hooked().clear();
            Runs() = 0;
        }
        m_before = Threads();
        KWThread::SetThreadStartHook(&KWThreadHookProbe::Record);
    }
    ~KWThreadHookProbe() { KWThread::SetThreadStartHook(nullptr); }
    KWThreadHookProbe(const KWThreadHookProbe&) = delete;
    KWThreadHookProbe& operator=(const KWThreadHookProbe&) = delete;

    // Threads of the process that were not there at construction and have not
    // run the hook.
    std::set<long> Unprepared() const {
        std::set<long> out;
        std::lock_guard<std::mutex> lock(Mutex());
        for (long tid : Threads())
            if (!m_before.count(tid) && !Hooked().count(tid))
                out.insert(tid);
        return out;
    }
    bool Ran(long tid) const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Hooked().count(tid) > 0;
    }
    size_t RunCount() const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Runs();
    }
    static long CurrentTid() { return static_cast<long>(syscall(SYS_gettid)); }
    // Polls `condition` every 5 ms for up to ten seconds: for threads that start
    // and report on their own schedule.
    template <typename Condition>
    static bool Eventually(Condition condition) {
        for (int i = 0; i < 2000; ++i) {
            if (condition())
                return true;
            usleep(5000);
        }
        return condition();
    }
    static std::set<long> Threads() {
        std::set<long> tids;
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            tids.insert(std::stol(it->path().filename().string()));
        return tids;
    }

private:
    static void Record() {
        std::lock_guard<std::mutex> lock(Mutex());
        Hooked().insert(CurrentTid());
        ++Runs();
    }
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::set<long>& Hooked() {
        static std::set<long> tids;
        return tids;
    }
    static size_t& Runs() {
        static size_t runs = 0;
        return runs;
    }
    std::set<long> m_before;
};

}  // namespace KwLib::TestSupport
