#include "platform/crash/KWCrashServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
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

struct KWCrashServer::Client {
    int fd = -1;
    ucred peer{};
    std::chrono::steady_clock::time_point deadline;
    std::chrono::steady_clock::time_point lastHeard;
    std::string stream;
};

void KWCrashServer::Loop() {
    using Clock = std::chrono::steady_clock;
    std::vector<Client> clients;
    auto drop = [](Client& c) {
        close(c.fd);
        c.fd = -1;
    };
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({m_wakeFds[0], POLLIN, 0});
        fds.push_back({m_listenFd, POLLIN, 0});
        auto now = Clock::now();
        int timeout = -1;
        for (const Client& c : clients) {
            fds.push_back({c.fd, POLLIN, 0});
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c.deadline - now).count();
            const int wait = static_cast<int>(std::max<int64_t>(0, left) + 1);
            timeout = timeout < 0 ? wait : std::min(timeout, wait);
        }
        if (poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            VL_LOG_ERROR("crash server poll: %s", strerror(errno));
            break;
        }
        if (fds[0].revents)
            break;
        for (size_t i = 0; i < clients.size(); ++i) {
            Client& c = clients[i];
            if (!fds[i + 2].revents)
                continue;
            const auto before = Clock::now();
            if (!ReadFrom(c))
                continue;
            drop(c);
            // A report being turned into a dump keeps the others waiting; that
            // time is not theirs to lose.
            const auto spent = Clock::now() - before;
            for (Client& other : clients)
                if (other.fd >= 0)
                    other.deadline += spent;
        }
        now = Clock::now();
        for (Client& c : clients) {
            if (c.fd >= 0 && now >= c.deadline) {
                VL_LOG_WARN("crash report of pid %d timed out", static_cast<int>(c.peer.pid));
                drop(c);
            }
        }
        clients.erase(
            std::remove_if(clients.begin(), clients.end(), [](const Client& c) { return c.fd < 0; }),
            clients.end());
        if (fds[1].revents & POLLIN)
            Accept(clients);
    }
    for (Client& c : clients)
        drop(c);
}

void KWCrashServer::Accept(std::vector<Client>& clients) {
    const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    Client client;
    client.fd = fd;
    socklen_t len = sizeof client.peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &client.peer, &len) != 0 || client.peer.uid != getuid()) {
        VL_LOG_WARN("crash report from another user refused");
        close(fd);
        return;
    }
    if (clients.size() >= kMaxClients) {
        // The one that has been quiet the longest goes: a crashing client sends
        // without a pause, so that one is the least likely to be a real report.
        auto quiet = std::min_element(clients.begin(), clients.end(), [](const Client& a, const Client& b) {
            return a.lastHeard < b.lastHeard;
        });
        VL_LOG_WARN("crash socket full: the connection of pid %d, quiet longest, is closed",
                    static_cast<int>(quiet->peer.pid));
        close(quiet->fd);
        clients.erase(quiet);
    }
    client.lastHeard = std::chrono::steady_clock::now();
    client.deadline = client.lastHeard + std::chrono::milliseconds(kClientTimeoutMs);
    clients.push_back(std::move(client));
}

bool KWCrashServer::ReadFrom(Client& client) {
    const size_t limit = sizeof(KWCrashWireHeader) + kCrashWireMaxStack + kCrashWireMaxMaps;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = read(client.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno != EAGAIN && errno != EWOULDBLOCK;
        if (n == 0) {
            Serve(client);
            return true;
        }
        client.lastHeard = std::chrono::steady_clock::now();
        client.stream.append(buffer, static_cast<size_t>(n));
        if (client.stream.size() > limit) {
            VL_LOG_WARN("crash report of pid %d too large", static_cast<int>(client.peer.pid));
            return true;
        }
    }
}

void KWCrashServer::Serve(Client& client) {
    const ucred& peer = client.peer;
    KWCrashReportData report;
    std::string error;
    if (!KWCrashWire::Parse(client.stream, report, &error)) {
        VL_LOG_WARN("crash report of pid %d refused: %s", static_cast<int>(peer.pid), error.c_str());
        return;
    }
    client.stream.clear();
    client.stream.shrink_to_fit();
    VL_LOG_INFO("pid %d crashed with signal %d", report.header.pid, report.header.signo);
    // The other threads, read while the client waits for the answer below. Only
    // from the process at the other end of the socket, whatever the report says.
    if (report.header.pid == peer.pid) {
        std::string why;
        report.otherThreads = KWCrashThreads::Read(peer.pid, report.header.tid, report.maps, &why);
        if (!why.empty())
            VL_LOG_WARN("threads of pid %d: %s", static_cast<int>(peer.pid), why.c_str());
    }
    if (m_onReport)
        m_onReport(report);
    const char ack = kCrashWireAck;
    send(client.fd, &ack, 1, MSG_NOSIGNAL);
}

}  // namespace KwLib
