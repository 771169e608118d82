#include "platform/common/KWLineSocketClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace KwLib {

KWLineSocketClient::~KWLineSocketClient() {
    Close();
}

bool KWLineSocketClient::Connect(const std::string& socketPath, std::string* error) {
    Close();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path) {
        if (error)
            *error = "bad socket path \"" + socketPath + "\"";
        return false;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (error)
            *error = socketPath + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

bool KWLineSocketClient::SendLine(const std::string& line) {
    if (m_fd < 0)
        return false;
    std::string data = line + "\n";
    size_t sent = 0;
    while (sent < data.size()) {
        // The server may have gone: no SIGPIPE for the caller.
        ssize_t n = send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool KWLineSocketClient::ReadLine(std::string& line, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        size_t nl = m_buffer.find('\n');
        if (nl != std::string::npos) {
            line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            return true;
        }
        if (m_fd < 0)
            return false;
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            wait = static_cast<int>(left);
        }
        pollfd p = {m_fd, POLLIN, 0};
        int r = poll(&p, 1, wait);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        char chunk[64 * 1024];
        ssize_t n = recv(m_fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        m_buffer.append(chunk, static_cast<size_t>(n));
    }
}

bool KWLineSocketClient::Exchange(const std::string& request, std::string& answer, int timeoutMs) {
    return SendLine(request) && ReadLine(answer, timeoutMs);
}

void KWLineSocketClient::Close() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}

}  // namespace KwLib
