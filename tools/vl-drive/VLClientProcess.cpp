#include "tools/vl-drive/VLClientProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

extern char** environ;

namespace KwLib {

VLClientProcess::~VLClientProcess() {
    if (IsRunning())
        Stop(SIGKILL, 10000);
}

bool VLClientProcess::Start(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::string>& env, const std::string& outputFile) {
    if (IsRunning())
        return false;
    std::map<std::string, std::string> merged;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        merged[entry.substr(0, entry.find('='))] = entry;
    }
    for (const std::string& entry : env)
        merged[entry.substr(0, entry.find('='))] = entry;
    std::vector<std::string> envStore;
    for (const auto& [name, entry] : merged)
        envStore.push_back(entry);
    std::vector<std::string> argStore = {program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    m_pid = pid;
    m_status.reset();
    return true;
}

bool VLClientProcess::IsRunning() {
    if (m_pid <= 0)
        return false;
    int status = 0;
    const pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_status = status;
        m_pid = -1;
        return false;
    }
    return r == 0;
}

std::optional<int> VLClientProcess::Wait(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (IsRunning()) {
        if (std::chrono::steady_clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_status;
}

std::optional<int> VLClientProcess::Stop(int signal, int timeoutMs) {
    if (IsRunning())
        kill(m_pid, signal);
    return Wait(timeoutMs);
}

}  // namespace KwLib
