#pragma once
#include <cstdint>
#include <string>

namespace KwLib {

// The client's half of crash reporting. Install() puts handlers for SIGSEGV,
// SIGBUS, SIGFPE, SIGILL and SIGABRT on an alternate stack. On a crash the
// handler gathers the registers, the crashing thread's stack and the memory map
// without allocating, sends them to the guard's socket (only when the process
// listening there is of the same user), waits (bounded) for the
// guard's acknowledgement and then lets the signal take its previous course.
// Install and Uninstall belong to the start-up thread; the handler itself runs
// on whichever thread crashes.
class KWCrashHandler {
public:
    // The guard's crash socket: the runtime folder + "VLStudentServer".
    static std::string GetDefaultSocketPath();

    // False when the path does not fit a Unix socket address or the handlers
    // cannot be set. Installing again replaces the socket path.
    static bool Install(const std::string& socketPath);
    // Puts back the handlers that were there before Install.
    static void Uninstall();
    static bool IsInstalled();

    // Threads other than the installing one get an alternate stack of their own
    // with this call, so that a stack overflow there is reported too. Install
    // makes every KWThread call it first; the stack is freed when the thread ends.
    static bool PrepareCurrentThread();

    // "-crashtest": TriggerTestCrash only crashes once this is enabled.
    static void EnableTestCrash(bool enable);
    static bool IsTestCrashEnabled();
    // Writes to kTestCrashAddress (never mapped) when enabled; else returns.
    static void TriggerTestCrash();
    static constexpr uintptr_t kTestCrashAddress = 0x40;

    // How long a crashing client waits for the guard's answer.
    static constexpr int kAckTimeoutMs = 15000;
};

}  // namespace KwLib
