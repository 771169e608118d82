#include "tests/guard/VLTestProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace KwLib::TestSupport {

VLTestProcess::~VLTestProcess() {
    Kill();
}

bool VLTestProcess::Start(const std::string& path, const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env, const std::string& stdoutPath,
                          const std::string& stderrPath) {
    std::vector<std::string> argvStore{path};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        std::string key = entry.substr(0, entry.find('='));
        if (!env.count(key))
            envStore.push_back(entry);
    }
    for (const auto& [key, value] : env)
        envStore.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // A process group of its own, so that whatever it starts in turn (stand-ins,
    // a browser) ends with it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    int rc = posix_spawn(&m_pid, path.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        m_pid = -1;
    m_status.reset();
    return rc == 0;
}

bool VLTestProcess::IsRunning() {
    if (m_pid < 0 || m_status)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = status;
        return false;
    }
    return true;
}

std::optional<int> VLTestProcess::Wait(int timeoutMs) {
    if (m_pid < 0)
        return std::nullopt;
    WaitUntil([this] { return !IsRunning(); }, timeoutMs);
    return m_status;
}

void VLTestProcess::Kill() {
    if (m_pid < 0)
        return;
    kill(-m_pid, SIGKILL);
    if (IsRunning()) {
        kill(m_pid, SIGKILL);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_status = status;
    }
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace KwLib::TestSupport
