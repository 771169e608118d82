#include "platform/crash/KWCrashServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/common/KWLog.h"
#include "platform/crash/KWCrashThreads.h"

namespace KwLib {

KWCrashServer::KWCrashServer(std::string socketPath, ReportCallback onReport)
    : m_socketPath(std::move(socketPath)), m_onReport(std::move(onReport)) {}

KWCrashServer::~KWCrashServer() {
    Stop();
}

bool KWCrashServer::Start() {
    if (m_listenFd >= 0)
        return true;
    sockaddr_un addr{};
    if (m_socketPath.empty() || m_socketPath.size() >= sizeof addr.sun_path) {
        VL_LOG_ERROR("crash socket path unusable: %s", m_socketPath.c_str());
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, m_socketPath.c_str(), m_socketPath.size());

    // The caller holds the single-instance lock, so a socket file here is a leftover.
    struct stat st {};
    if (lstat(m_socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        unlink(m_socketPath.c_str());

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        VL_LOG_ERROR("crash socket %s: %s", m_socketPath.c_str(), strerror(errno));
        close(fd);
        return false;
    }
    chmod(m_socketPath.c_str(), 0600);
    if (pipe2(m_wakeFds, O_CLOEXEC) != 0) {
        close(fd);
        unlink(m_socketPath.c_str());
        return false;
    }
    m_listenFd = fd;
    m_thread = std::make_unique<KWThread>([this] { Loop(); });
    if (!m_thread->Start()) {
        m_thread.reset();
        close(m_listenFd);
        m_listenFd = -1;
        close(m_wakeFds[0]);
        close(m_wakeFds[1]);
        m_wakeFds[0] = m_wakeFds[1] = -1;
        unlink(m_socketPath.c_str());
        return false;
    }
    VL_LOG_INFO("crash server on %s", m_socketPath.c_str());
    return true;
}

void KWCrashServer::Stop() {
    if (m_listenFd < 0)
        return;
    char wake = 1;
    while (write(m_wakeFds[1], &wake, 1) < 0 && errno == EINTR) {
    }
    if (m_thread) {
        m_thread->Join();
        m_thread.reset();
    }
    close(m_listenFd);
    close(m_wakeFds[0]);
    close(m_wakeFds[1]);
    m_listenFd = -1;
    m_wakeFds[0] = m_wakeFds[1] = -1;
    unlink(m_socketPath.c_str());
}

void KWCrashServer::Loop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            VL_LOG_ERROR("crash server poll: %s", strerror(errno));
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        int client = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        Serve(client);
        close(client);
    }
}

void KWCrashServer::Serve(int fd) {
    ucred peer{};
    socklen_t len = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != getuid()) {
        VL_LOG_WARN("crash report from another user refused");
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kClientTimeoutMs);
    const size_t limit = sizeof(KWCrashWireHeader) + kCrashWireMaxStack + kCrashWireMaxMaps;
    std::string stream;
    char buffer[64 * 1024];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            VL_LOG_WARN("crash report of pid %d timed out", peer.pid);
            return;
        }
        pollfd pfd{fd, POLLIN, 0};
        pollfd wake{m_wakeFds[0], POLLIN, 0};
        pollfd both[2] = {pfd, wake};
        int ready = poll(both, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || both[1].revents)
            return;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return;
        if (n == 0)
            break;
        stream.append(buffer, static_cast<size_t>(n));
        if (stream.size() > limit) {
            VL_LOG_WARN("crash report of pid %d too large", peer.pid);
            return;
        }
    }
    KWCrashReportData report;
    std::string error;
    if (!KWCrashWire::Parse(stream, report, &error)) {
        VL_LOG_WARN("crash report of pid %d refused: %s", peer.pid, error.c_str());
        return;
    }
    VL_LOG_INFO("pid %d crashed with signal %d", report.header.pid, report.header.signo);
    // The other threads, read while the client waits for the answer below. Only
    // from the process at the other end of the socket, whatever the report says.
    if (report.header.pid == peer.pid) {
        std::string why;
        report.otherThreads = KWCrashThreads::Read(peer.pid, report.header.tid, report.maps, &why);
        if (!why.empty())
            VL_LOG_WARN("threads of pid %d: %s", peer.pid, why.c_str());
    }
    if (m_onReport)
        m_onReport(report);
    const char ack = kCrashWireAck;
    send(fd, &ack, 1, MSG_NOSIGNAL);
}

}  // namespace KwLib
