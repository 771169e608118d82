#pragma once
#include <string>

struct event_base;
struct evhttp;

namespace KwLib {

// An evhttp server on an event base that someone else owns. Runs on the thread
// that calls Run, which is the thread of every handler.
class HttpServer {
public:
    virtual ~HttpServer() = default;
    // Registers the request handlers on the new server.
    virtual void RegisterHandlers(evhttp* http) = 0;

    // Binds `address`:`port` (0 picks a free port), prints "Listening on ...",
    // and dispatches `base` until its loop is told to exit. False, with the
    // reason on standard error, when the server cannot start.
    bool Run(event_base* base, const std::string& address, int port);

    event_base* GetEventBase() const { return m_base; }
    // "http://<address>:<port>" once bound.
    const std::string& GetBaseUrl() const { return m_baseUrl; }
    int GetBoundPort() const { return m_boundPort; }

    // Inactivity limit of a connection, reading or writing. Requests come
    // from a page on this machine and arrive at once.
    static constexpr int kConnectionTimeoutSeconds = 5;
    static constexpr long kMaxHeadersBytes = 16 * 1024;
    static constexpr long kMaxBodyBytes = 1024 * 1024;

private:
    event_base* m_base = nullptr;
    std::string m_baseUrl;
    int m_boundPort = 0;
};

}  // namespace KwLib
