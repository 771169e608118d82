#include "platform/common/KWInstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/common/KWLog.h"
#include "platform/common/KWShellUtils.h"
#include "platform/common/KWThread.h"

namespace KwLib {

namespace {
bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}
}  // namespace

KWInstanceChannel::~KWInstanceChannel() {
    Stop();
}

std::string KWInstanceChannel::SocketPath(const std::string& name) {
    return KWShellUtils::GetRuntimeDirectory() + name + ".sock";
}

bool KWInstanceChannel::Listen(const std::string& name, Handler handler) {
    Stop();
    sockaddr_un addr;
    m_path = SocketPath(name);
    if (!FillAddress(m_path, addr))
        return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // The caller holds the single-instance lock, so a leftover socket file is stale.
    unlink(m_path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        VL_LOG_ERROR("instance channel %s: %s", m_path.c_str(), std::strerror(errno));
        close(fd);
        return false;
    }
    if (pipe2(m_wakeFd, O_CLOEXEC) != 0) {
        close(fd);
        return false;
    }
    m_fd = fd;
    m_handler = std::move(handler);
    m_thread = std::make_unique<KWThread>([this] { Run(); });
    if (!m_thread->Start()) {
        m_thread.reset();
        Stop();
        return false;
    }
    return true;
}

void KWInstanceChannel::Run() {
    while (true) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        int client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::string request;
        char buf[256];
        pollfd cp = {client, POLLIN, 0};
        // A well-behaved peer sends one short line; never wait long for it.
        while (request.size() < 4096 && poll(&cp, 1, 1000) > 0) {
            ssize_t n = read(client, buf, sizeof buf);
            if (n <= 0)
                break;
            request.append(buf, static_cast<size_t>(n));
            if (request.find('\n') != std::string::npos)
                break;
        }
        // A peer that has already gone must not end this process with SIGPIPE.
        (void)!send(client, "ok\n", 3, MSG_NOSIGNAL);
        close(client);
        if (!request.empty() && request.back() == '\n')
            request.pop_back();
        if (m_handler)
            m_handler(request);
    }
}

void KWInstanceChannel::Stop() {
    if (m_thread) {
        (void)!write(m_wakeFd[1], "x", 1);
        m_thread->Join();
        m_thread.reset();
    }
    for (int* fd : {&m_fd, &m_wakeFd[0], &m_wakeFd[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    if (!m_path.empty())
        unlink(m_path.c_str());
    m_path.clear();
}

bool KWInstanceChannel::Send(const std::string& name, const std::string& request) {
    sockaddr_un addr;
    if (!FillAddress(SocketPath(name), addr))
        return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (ok) {
        std::string line = request + "\n";
        ok = send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
        char ack[8];
        pollfd p = {fd, POLLIN, 0};
        ok = ok && poll(&p, 1, 2000) > 0 && read(fd, ack, sizeof ack) > 0;
    }
    close(fd);
    return ok;
}

}  // namespace KwLib
