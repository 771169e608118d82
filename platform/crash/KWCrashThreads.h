#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/crash/KWCrashWire.h"

namespace KwLib {

// Reads the threads of a crashed client while it waits for the guard's
// acknowledgement, the way Crashpad does on Linux: each thread is stopped
// with ptrace for a moment, its registers are read and its stack is copied
// with process_vm_readv, then it is let go. The client allows the guard to
// trace it (PR_SET_PTRACER) before it reports, so this works where Yama
// limits tracing to ancestors. Used on the crash server's thread.
class KWCrashThreads {
public:
    // Every thread of `pid` but `crashingTid` (whose state the report
    // carries), in the order of /proc/<pid>/task. `maps` is the process's
    // memory map, for the extent of each stack. Threads that cannot be read
    // are left out; `error`, when given, says why the first one could not be.
    static std::vector<KWCrashThread> Read(pid_t pid, pid_t crashingTid, const std::string& maps,
                                           std::string* error = nullptr);

    // The readable mapping of `maps` that holds `address`: its start and end.
    static bool FindMapping(const std::string& maps, uint64_t address, uint64_t& start, uint64_t& end);

    // Limits: threads read per report, and the time all of them may take.
    static constexpr size_t kMaxThreads = 256;
    static constexpr int kBudgetMs = 5000;
};

}  // namespace KwLib
