#include "tests/guard/VLTestProcess.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace KwLib::TestSupport {

int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

std::map<std::string, std::string> CrashHandlerEnv(std::map<std::string, std::string> env) {
    const char* inherited = getenv("ASAN_OPTIONS");
    std::string options = inherited ? inherited : "";
    if (!options.empty())
        options += ":";
    env["ASAN_OPTIONS"] = options + "use_sigaltstack=0";
    return env;
}

VLTestProcess::~VLTestProcess() {
    Kill();
}

bool VLTestProcess::Start(const std::string& path, const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env, const std::string& stdoutPath,
                          const std::string& stderrPath) {
    ReleaseKeeper();
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

    const std::string out = stdoutPath.empty() ? "/dev/null" : stdoutPath;
    const std::string err = stderrPath.empty() ? "/dev/null" : stderrPath;
    // fork rather than posix_spawn, for the parent-death signal: a test program
    // that dies in the middle of a test still takes its children with it. Only
    // async-signal-safe calls between fork and exec.
    const pid_t parent = getpid();
    int execStatus[2];
    if (pipe2(execStatus, O_CLOEXEC) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        // A process group of its own, so that whatever it starts in turn
        // (stand-ins, a browser) ends with it.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int error = 0;
        if (getppid() == parent) {
            const int fds[3] = {open("/dev/null", O_RDONLY),
                                open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                                open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
            bool ready = true;
            for (int i = 0; i < 3; ++i)
                ready = ready && fds[i] >= 0 && dup2(fds[i], i) >= 0;
            for (int i = 0; i < 3; ++i)
                if (fds[i] > 2)
                    close(fds[i]);
            if (ready)
                execve(path.c_str(), argv.data(), envp.data());
            error = errno;
        }
        // Tells the parent why the program did not start; a successful exec
        // closes the pipe without a word.
        while (write(execStatus[1], &error, sizeof error) < 0 && errno == EINTR) {
        }
        _exit(127);
    }
    close(execStatus[1]);
    int rc = pid < 0 ? errno : 0;
    if (pid > 0) {
        int error = 0;
        ssize_t n;
        while ((n = read(execStatus[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        if (n > 0) {
            rc = error ? error : ECHILD;
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    close(execStatus[0]);
    m_pid = rc == 0 ? pid : -1;
    m_status.reset();
    if (rc == 0)
        StartKeeper(pid);
    return rc == 0;
}

void VLTestProcess::StartKeeper(pid_t group) {
    int keep[2];
    if (pipe2(keep, O_CLOEXEC) != 0)
        return;
    const pid_t keeper = fork();
    if (keeper == 0) {
        // Only async-signal-safe calls. It holds nothing but its end of the pipe: another
        // program's output pipe or another keeper's way in would keep them open.
        dup2(keep[0], 0);
        if (syscall(SYS_close_range, 1u, ~0u, 0u) != 0)
            for (int fd = 1; fd < 4096; ++fd)
                close(fd);
        char byte = 0;
        ssize_t n;
        while ((n = read(0, &byte, 1)) < 0 && errno == EINTR) {
        }
        // A byte: the owner ended the program in order. The end of the pipe: the test
        // program is gone, and whatever its program started goes with it.
        if (n == 0)
            kill(-group, SIGKILL);
        _exit(0);
    }
    close(keep[0]);
    if (keeper < 0) {
        close(keep[1]);
        return;
    }
    m_keeper = keeper;
    m_keeperFd = keep[1];
}

void VLTestProcess::ReleaseKeeper() {
    if (m_keeper < 0)
        return;
    const char done = 1;
    while (write(m_keeperFd, &done, 1) < 0 && errno == EINTR) {
    }
    close(m_keeperFd);
    while (waitpid(m_keeper, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_keeper = -1;
    m_keeperFd = -1;
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
    ReleaseKeeper();
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
