#pragma once
// KWLineSocketServer: a private Unix stream socket that speaks one text line
// each way. The socket file is created with mode 0600 in a folder that only
// the current user may write to, and only the current user (or root) may
// connect. Several clients may be connected at once; each has its own thread,
// which calls the handler for every line it receives and sends back the line
// the handler returns. A client that goes away mid-answer only ends its own
// thread (answers are sent without SIGPIPE).
//
// Start and Stop from one thread; the handlers run on the connection threads
// and must return promptly once Stop has begun, since Stop waits for them.
#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace KwLib {

class KWLineSocketServer {
public:
    // Takes one request line (without its newline) and returns the answer line
    // (a newline is added).
    using Handler = std::function<std::string(const std::string& line)>;
    // Returns the answer to a line that was refused before the handler saw it
    // (longer than the limit); `problem` says why.
    using Refusal = std::function<std::string(const std::string& problem)>;

    KWLineSocketServer() = default;
    ~KWLineSocketServer();
    KWLineSocketServer(const KWLineSocketServer&) = delete;
    KWLineSocketServer& operator=(const KWLineSocketServer&) = delete;

    // Listens on `socketPath` (absolute). Refuses, with a reason in `error`, a
    // folder that is not the user's own or that group or others may write to,
    // and a path taken by anything but a stale socket of the user's (which is
    // replaced). Lines longer than `maxLineBytes` are answered with `refusal`
    // and skipped; the connection goes on.
    bool Start(const std::string& socketPath, Handler handler, Refusal refusal, std::string* error,
               size_t maxLineBytes = 1 << 20);
    // Stops listening, ends every connection and removes the socket file
    // (unless something else has replaced it meanwhile).
    void Stop();
    bool IsRunning() const { return m_listenFd >= 0; }
    const std::string& GetPath() const { return m_path; }
    // Connections open now.
    size_t ConnectionCount() const;

    static constexpr size_t kMaxConnections = 16;

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    void AcceptLoop();
    void Serve(Connection* connection);
    bool SendAll(int fd, const std::string& data) const;
    void ReapFinished();

    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    std::string m_path;
    unsigned long m_dev = 0;
    unsigned long m_ino = 0;
    size_t m_maxLine = 0;
    Handler m_handler;
    Refusal m_refusal;
    std::thread m_acceptThread;
    mutable std::mutex m_mutex;
    std::list<std::unique_ptr<Connection>> m_connections;
};

}  // namespace KwLib
