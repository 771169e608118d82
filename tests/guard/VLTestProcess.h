#pragma once
#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace KwLib::TestSupport {

// A child process for tests: started from an argument vector with extra
// environment variables and its output in files, ended on destruction.
class VLTestProcess {
public:
    VLTestProcess() = default;
    ~VLTestProcess();
    VLTestProcess(const VLTestProcess&) = delete;
    VLTestProcess& operator=(const VLTestProcess&) = delete;

    bool Start(const std::string& path, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env, const std::string& stdoutPath,
               const std::string& stderrPath);
    pid_t Pid() const { return m_pid; }
    bool IsRunning();
    // The wait status once the process ended within `timeoutMs`.
    std::optional<int> Wait(int timeoutMs);
    // SIGKILL to it and to everything left in its process group; reaps it.
    void Kill();

private:
    void StartKeeper(pid_t group);
    void ReleaseKeeper();

    pid_t m_pid = -1;
    std::optional<int> m_status;
    // A small process that ends the program's whole process group once this test program is
    // gone, however it went: the parent-death signal reaches only the program itself, not
    // what it started (the clients a guard starts). m_keeperFd is the one way to it.
    pid_t m_keeper = -1;
    int m_keeperFd = -1;
};

// Environment for a program with the client's crash handler: AddressSanitizer
// gives every thread a signal stack of its own, which would hide a thread
// that lacks ours; with this the program has only the ones we give it, as in
// a release build.
std::map<std::string, std::string> CrashHandlerEnv(std::map<std::string, std::string> env = {});

// A port of 127.0.0.1 that is free now (0 when none could be had), for a
// server that a test names before it starts.
int FreeLoopbackPort();

// Polls `condition` every 10 ms until it holds or `timeoutMs` passes. Only for
// waiting on other processes; nothing in-process is timed this way.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

}  // namespace KwLib::TestSupport
