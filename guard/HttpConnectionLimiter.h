#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

struct bufferevent;
struct event;
struct event_base;
struct evconnlistener;
struct evhttp;
struct evhttp_bound_socket;
struct evhttp_connection;

namespace KwLib {

// Keeps the control server answering while something on the machine floods
// it with connections (any web page can open them). evhttp alone would keep
// every half-open connection until its time-out, run out of descriptors (and
// take the crash-dump path down with it), then spin on the failing accept.
// Here:
//   - at most `maxConnections` are open, fewer when the descriptor limit is
//     low; new connections push out the oldest ones that are not sending a
//     reply, a moment after they came, so a page's real request still gets in;
//   - a connection whose request has not arrived within the deadline is
//     closed, however slowly it trickles;
//   - a failing accept (no descriptors) closes the oldest idle connection, or
//     pauses the listener for a moment, instead of being retried at once.
// Everything runs on the thread of the event loop.
class HttpConnectionLimiter {
public:
    struct Limits {
        size_t maxConnections = 64;
        // Descriptors kept free for everything else the guard does: the crash
        // socket, the dump file, the log, starting programs.
        size_t reservedDescriptors = 32;
        std::chrono::milliseconds requestDeadline{5000};
        std::chrono::milliseconds sweepPeriod{500};
        std::chrono::milliseconds acceptPause{250};
    };

    // Hooks into `http` (which must outlive nothing of this object: free the
    // server first, then this).
    HttpConnectionLimiter(event_base* base, evhttp* http, Limits limits);
    ~HttpConnectionLimiter();
    HttpConnectionLimiter(const HttpConnectionLimiter&) = delete;
    HttpConnectionLimiter& operator=(const HttpConnectionLimiter&) = delete;

    // Takes over the accept errors of the bound socket.
    void Attach(evhttp_bound_socket* handle);
    // Lets go of the listener before the server is freed: freeing it frees the
    // listener first and closes the connections after, which must not wake it.
    void Detach();

    size_t OpenConnections() const { return m_live.size(); }
    // The cap in force: maxConnections, or less when the descriptor limit
    // leaves no room for the reserve.
    size_t EffectiveCap() const;

private:
    struct Connection {
        uint64_t order = 0;  // arrival order
        std::chrono::steady_clock::time_point since;
    };

    static bufferevent* OnNewConnection(event_base* base, void* self);
    static void OnSettle(int, short, void* self);
    static void OnTrim(int, short, void* self);
    static void OnClosed(evhttp_connection* evcon, void* self);
    static void OnSweep(int, short, void* self);
    static void OnResume(int, short, void* self);
    static void OnAcceptError(evconnlistener* listener, void* http);

    void Settle();
    void Trim();
    void Sweep();
    void AcceptFailed();
    void Resume();
    // True when a reply is still being written on the connection.
    static bool IsSending(evhttp_connection* evcon);
    // True when bytes wait in the connection's socket that evhttp has not read yet.
    static bool HasUnreadRequest(evhttp_connection* evcon);
    // Closes the oldest connection that is not sending; false when there is none.
    bool EvictOldestIdle();

    evhttp* m_http;
    Limits m_limits;
    evconnlistener* m_listener = nullptr;
    event* m_settle = nullptr;
    event* m_trim = nullptr;
    event* m_sweep = nullptr;
    event* m_resume = nullptr;
    bool m_paused = false;
    std::chrono::steady_clock::time_point m_lastAcceptLog{};
    uint64_t m_nextOrder = 0;
    // Buffer events handed to evhttp whose connection is not known yet; each
    // holds one reference of ours until Settle.
    std::vector<bufferevent*> m_fresh;
    std::map<evhttp_connection*, Connection> m_live;
};

}  // namespace KwLib
