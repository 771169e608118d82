#pragma once
// VLClientProcess: one run of the client program for the kill trials: started
// from an argument vector (never through a shell) with the caller's
// environment plus some entries, its output in a file, ended hard or asked to
// close, and waited for. One thread.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace KwLib {

class VLClientProcess {
public:
    VLClientProcess() = default;
    // Kills a process still running: nothing started here outlives its owner.
    ~VLClientProcess();
    VLClientProcess(const VLClientProcess&) = delete;
    VLClientProcess& operator=(const VLClientProcess&) = delete;

    // `env` entries ("NAME=value") replace or add to the inherited environment.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env, const std::string& outputFile);
    bool IsRunning();
    pid_t Pid() const { return m_pid; }
    // Sends `signal` and waits up to `timeoutMs` for the end; the wait status, or
    // nothing when it did not end in time.
    std::optional<int> Stop(int signal, int timeoutMs);
    std::optional<int> Wait(int timeoutMs);

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

}  // namespace KwLib
