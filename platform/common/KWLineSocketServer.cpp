#include "platform/common/KWLineSocketServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/common/KWLog.h"

namespace KwLib {

namespace {

bool Fail(std::string* error, const std::string& text) {
    VL_LOG_ERROR("line socket: %s", text.c_str());
    if (error)
        *error = text;
    return false;
}

std::string Errno() {
    return std::strerror(errno);
}

std::string OctalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// True when a program accepts connections on the socket at `path`; a socket
// file whose program is gone refuses them.
bool SocketIsLive(const sockaddr_un& addr, bool& known) {
    known = true;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        known = false;
        return false;
    }
    bool live = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (!live && errno != ECONNREFUSED)
        known = false;
    close(fd);
    return live;
}

}  // namespace

KWLineSocketServer::~KWLineSocketServer() {
    Stop();
}

bool KWLineSocketServer::Start(const std::string& socketPath, Handler handler, Refusal refusal,
                               std::string* error, size_t maxLineBytes) {
    if (IsRunning())
        return Fail(error, "already listening on " + m_path);
    if (socketPath.empty() || socketPath.front() != '/')
        return Fail(error, "the socket path must be absolute: \"" + socketPath + "\"");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path)
        return Fail(error, "the socket path is too long (" + std::to_string(socketPath.size()) +
                               " bytes, at most " + std::to_string(sizeof addr.sun_path - 1) + ")");
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    size_t slash = socketPath.rfind('/');
    if (slash + 1 == socketPath.size())
        return Fail(error, "the socket path names a folder: " + socketPath);
    std::string folder = slash == 0 ? "/" : socketPath.substr(0, slash);

    // Whoever may write to the folder may replace the socket with their own
    // and read what the driver sends; only a private folder will do.
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0)
        return Fail(error, "socket folder " + folder + ": " + Errno());
    if (!S_ISDIR(st.st_mode))
        return Fail(error, "socket folder " + folder + " is not a folder");
    if (st.st_uid != geteuid())
        return Fail(error, "socket folder " + folder + " belongs to another user (uid " +
                               std::to_string(st.st_uid) + ")");
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return Fail(error, "socket folder " + folder + " is writable by group or others (mode " +
                               OctalMode(st.st_mode) + ")");

    struct stat existing {};
    if (lstat(socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode))
            return Fail(error, socketPath + " exists and is not a socket; it is left alone");
        if (existing.st_uid != geteuid())
            return Fail(error, socketPath + " is a socket of another user");
        bool known = false;
        if (SocketIsLive(addr, known))
            return Fail(error, "another program is listening on " + socketPath);
        if (!known)
            return Fail(error, "cannot tell whether " + socketPath + " is in use: " + Errno());
        // A socket of ours that nobody listens on is what a crashed run leaves behind.
        if (unlink(socketPath.c_str()) != 0)
            return Fail(error, "cannot remove the stale socket " + socketPath + ": " + Errno());
        VL_LOG_INFO("line socket: replaced the stale socket %s", socketPath.c_str());
    } else if (errno != ENOENT) {
        return Fail(error, socketPath + ": " + Errno());
    }

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Fail(error, "socket: " + Errno());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        std::string why = Errno();
        close(fd);
        return Fail(error, "cannot create the socket " + socketPath + ": " + why);
    }
    // Nobody can connect before listen(), so narrowing the mode here leaves no window.
    struct stat made {};
    if (chmod(socketPath.c_str(), S_IRUSR | S_IWUSR) != 0 || lstat(socketPath.c_str(), &made) != 0 ||
        listen(fd, 8) != 0) {
        std::string why = Errno();
        close(fd);
        unlink(socketPath.c_str());
        return Fail(error, "cannot set up the socket " + socketPath + ": " + why);
    }
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        std::string why = Errno();
        close(fd);
        unlink(socketPath.c_str());
        return Fail(error, "pipe: " + why);
    }
    m_listenFd = fd;
    m_path = socketPath;
    m_dev = made.st_dev;
    m_ino = made.st_ino;
    m_maxLine = maxLineBytes;
    m_handler = std::move(handler);
    m_refusal = std::move(refusal);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    VL_LOG_INFO("line socket: listening on %s", socketPath.c_str());
    return true;
}

void KWLineSocketServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            VL_LOG_ERROR("line socket: poll: %s", Errno().c_str());
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: wait a little (or for Stop) rather than spin.
                pollfd stop = {m_stopPipe[0], POLLIN, 0};
                poll(&stop, 1, 100);
            }
            continue;
        }
        ucred cred{};
        socklen_t len = sizeof cred;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 ||
            (cred.uid != geteuid() && cred.uid != 0)) {
            VL_LOG_WARN("line socket: refused a connection from uid %u", static_cast<unsigned>(cred.uid));
            close(fd);
            continue;
        }
        ReapFinished();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_connections.size() >= kMaxConnections) {
            SendAll(fd, m_refusal("too many connections (at most " + std::to_string(kMaxConnections) + ")") +
                            "\n");
            close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection* raw = connection.get();
        m_connections.push_back(std::move(connection));
        raw->thread = std::thread([this, raw] { Serve(raw); });
    }
}

void KWLineSocketServer::Serve(Connection* connection) {
    const int fd = connection->fd;
    std::string line;
    bool overlong = false;  // skipping the rest of a line past the limit
    std::string chunk(64 * 1024, '\0');
    auto answer = [&](const std::string& text) { return SendAll(fd, text + "\n"); };
    for (bool open = true; open;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        ssize_t n = recv(fd, chunk.data(), chunk.size(), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        const char* p = chunk.data();
        size_t left = static_cast<size_t>(n);
        while (left > 0 && open) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', left));
            size_t piece = nl ? static_cast<size_t>(nl - p) : left;
            if (!overlong) {
                if (line.size() + piece > m_maxLine) {
                    overlong = true;
                    line.clear();
                    line.shrink_to_fit();
                } else {
                    line.append(p, piece);
                }
            }
            if (!nl)
                break;
            if (overlong) {
                open = answer(
                    m_refusal("the request line is longer than " + std::to_string(m_maxLine) + " bytes"));
                overlong = false;
            } else {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                open = answer(m_handler(line));
                line.clear();
            }
            p = nl + 1;
            left -= piece + 1;
        }
    }
    connection->finished = true;
}

bool KWLineSocketServer::SendAll(int fd, const std::string& data) const {
    size_t sent = 0;
    while (sent < data.size()) {
        // MSG_NOSIGNAL: a client that went away must not end the program.
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        // A client that reads slowly is waited for, but Stop still ends the wait.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return false;
        if (fds[1].revents || (fds[0].revents & (POLLERR | POLLHUP)))
            return false;
    }
    return true;
}

void KWLineSocketServer::ReapFinished() {
    std::list<std::unique_ptr<Connection>> done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if ((*it)->finished) {
                done.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : done) {
        c->thread.join();
        close(c->fd);
    }
}

size_t KWLineSocketServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t open = 0;
    for (auto& c : m_connections)
        open += c->finished ? 0 : 1;
    return open;
}

void KWLineSocketServer::Stop() {
    if (m_acceptThread.joinable()) {
        // Never read: the byte keeps every poll of every thread woken.
        (void)!write(m_stopPipe[1], "x", 1);
        m_acceptThread.join();
    }
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all.swap(m_connections);
    }
    for (auto& c : all) {
        if (c->thread.joinable())
            c->thread.join();
        close(c->fd);
    }
    for (int* fd : {&m_listenFd, &m_stopPipe[0], &m_stopPipe[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    if (!m_path.empty()) {
        // Only our own socket: a later program may have put its own there.
        struct stat st {};
        if (lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino)
            unlink(m_path.c_str());
        VL_LOG_INFO("line socket: stopped listening on %s", m_path.c_str());
        m_path.clear();
    }
}

}  // namespace KwLib
