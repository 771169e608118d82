#include "guard/HttpConnectionLimiter.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/listener.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/common/KWLog.h"

namespace KwLib {

namespace {

// evconnlistener hands its error callback the evhttp (the listener's user data
// belongs to evhttp), so the limiter of a server is found through it.
std::mutex g_registryMutex;
std::map<evhttp*, HttpConnectionLimiter*> g_registry;

timeval ToTimeval(std::chrono::milliseconds ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
    return tv;
}

}  // namespace

HttpConnectionLimiter::HttpConnectionLimiter(event_base* base, evhttp* http, Limits limits)
    : m_http(http), m_limits(limits) {
    m_settle = event_new(base, -1, 0, &HttpConnectionLimiter::OnSettle, this);
    m_trim = event_new(base, -1, 0, &HttpConnectionLimiter::OnTrim, this);
    m_sweep = event_new(base, -1, EV_PERSIST, &HttpConnectionLimiter::OnSweep, this);
    m_resume = event_new(base, -1, 0, &HttpConnectionLimiter::OnResume, this);
    if (m_sweep) {
        const timeval period = ToTimeval(m_limits.sweepPeriod);
        event_add(m_sweep, &period);
    }
    evhttp_set_bevcb(http, &HttpConnectionLimiter::OnNewConnection, this);
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_registry[http] = this;
}

HttpConnectionLimiter::~HttpConnectionLimiter() {
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        g_registry.erase(m_http);
    }
    for (event* ev : {m_settle, m_trim, m_sweep, m_resume})
        if (ev)
            event_free(ev);
    for (bufferevent* bev : m_fresh)
        bufferevent_decref(bev);
}

void HttpConnectionLimiter::Attach(evhttp_bound_socket* handle) {
    m_listener = handle ? evhttp_bound_socket_get_listener(handle) : nullptr;
    if (m_listener)
        evconnlistener_set_error_cb(m_listener, &HttpConnectionLimiter::OnAcceptError);
}

void HttpConnectionLimiter::Detach() {
    if (m_resume)
        event_del(m_resume);
    m_paused = false;
    m_listener = nullptr;
}

size_t HttpConnectionLimiter::EffectiveCap() const {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return m_limits.maxConnections;
    constexpr size_t kFloor = 4;
    const size_t soft = static_cast<size_t>(limit.rlim_cur);
    const size_t room = soft > m_limits.reservedDescriptors ? soft - m_limits.reservedDescriptors : 0;
    return std::clamp(room, kFloor, std::max(kFloor, m_limits.maxConnections));
}

bufferevent* HttpConnectionLimiter::OnNewConnection(event_base* base, void* arg) {
    auto* self = static_cast<HttpConnectionLimiter*>(arg);
    bufferevent* bev = bufferevent_socket_new(base, -1, BEV_OPT_CLOSE_ON_FREE);
    if (!bev)
        return nullptr;
    // evhttp builds the connection around this buffer event once we return;
    // the connection is known a moment later, when Settle runs. Our reference
    // keeps the buffer event readable even if evhttp drops it before then.
    bufferevent_incref(bev);
    self->m_fresh.push_back(bev);
    if (self->m_settle)
        event_active(self->m_settle, EV_TIMEOUT, 0);
    return bev;
}

void HttpConnectionLimiter::OnSettle(int, short, void* arg) {
    static_cast<HttpConnectionLimiter*>(arg)->Settle();
}

void HttpConnectionLimiter::Settle() {
    std::vector<bufferevent*> fresh;
    fresh.swap(m_fresh);
    for (bufferevent* bev : fresh) {
        // evhttp gives the connection's buffer event the connection as its
        // callback argument; a buffer event it has already freed has none.
        bufferevent_event_cb eventCb = nullptr;
        void* cbArg = nullptr;
        bufferevent_getcb(bev, nullptr, nullptr, &eventCb, &cbArg);
        auto* evcon = static_cast<evhttp_connection*>(cbArg);
        if (eventCb && evcon && evhttp_connection_get_bufferevent(evcon) == bev && !m_live.count(evcon)) {
            evhttp_connection_set_closecb(evcon, &HttpConnectionLimiter::OnClosed, this);
            m_live[evcon] = Connection{m_nextOrder++, std::chrono::steady_clock::now()};
        }
        bufferevent_decref(bev);
    }
    // Over the cap, the oldest idle connections go, but only after one more
    // turn of the loop: a page's request arrives whole right behind its
    // connection, is read and answered in that turn, and is then no longer
    // idle; a burst of empty connections accepted with it cannot push it out.
    if (m_trim && m_live.size() > EffectiveCap() && !event_pending(m_trim, EV_TIMEOUT, nullptr)) {
        const timeval now{0, 0};
        event_add(m_trim, &now);
    }
}

void HttpConnectionLimiter::OnTrim(int, short, void* arg) {
    static_cast<HttpConnectionLimiter*>(arg)->Trim();
}

void HttpConnectionLimiter::Trim() {
    const size_t cap = EffectiveCap();
    // Connections that are all sending stay: they end when their reply is out
    // or the write time-out strikes.
    while (m_live.size() > cap && EvictOldestIdle())
        ;
}

bool HttpConnectionLimiter::IsSending(evhttp_connection* evcon) {
    bufferevent* bev = evhttp_connection_get_bufferevent(evcon);
    return bev && evbuffer_get_length(bufferevent_get_output(bev)) > 0;
}

bool HttpConnectionLimiter::HasUnreadRequest(evhttp_connection* evcon) {
    bufferevent* bev = evhttp_connection_get_bufferevent(evcon);
    const evutil_socket_t fd = bev ? bufferevent_getfd(bev) : -1;
    int pending = 0;
    return fd >= 0 && ioctl(fd, FIONREAD, &pending) == 0 && pending > 0;
}

bool HttpConnectionLimiter::EvictOldestIdle() {
    // The oldest connection that is not sending, preferring one without bytes
    // waiting unread in its socket (those may be a request that has just come).
    evhttp_connection* oldest = nullptr;
    uint64_t oldestOrder = UINT64_MAX;
    bool oldestHasUnread = true;
    for (const auto& [evcon, info] : m_live) {
        if (IsSending(evcon))
            continue;
        const bool unread = HasUnreadRequest(evcon);
        if (oldest && (unread > oldestHasUnread || (unread == oldestHasUnread && info.order > oldestOrder)))
            continue;
        oldest = evcon;
        oldestOrder = info.order;
        oldestHasUnread = unread;
    }
    if (!oldest)
        return false;
    // Frees the connection; OnClosed removes it from the list.
    evhttp_connection_free(oldest);
    m_live.erase(oldest);
    return true;
}

void HttpConnectionLimiter::OnClosed(evhttp_connection* evcon, void* arg) {
    auto* self = static_cast<HttpConnectionLimiter*>(arg);
    self->m_live.erase(evcon);
    if (self->m_paused)
        self->Resume();
}

void HttpConnectionLimiter::OnSweep(int, short, void* arg) {
    static_cast<HttpConnectionLimiter*>(arg)->Sweep();
}

void HttpConnectionLimiter::Sweep() {
    // Connections that have been open past the deadline without a request to
    // answer: half-open ones, and requests trickling in a byte at a time (each
    // byte would restart evhttp's own time-out).
    const auto now = std::chrono::steady_clock::now();
    std::vector<evhttp_connection*> expired;
    for (const auto& [evcon, info] : m_live)
        if (now - info.since >= m_limits.requestDeadline && !IsSending(evcon))
            expired.push_back(evcon);
    for (evhttp_connection* evcon : expired) {
        if (!m_live.count(evcon))
            continue;
        evhttp_connection_free(evcon);
        m_live.erase(evcon);
    }
}

void HttpConnectionLimiter::OnAcceptError(evconnlistener*, void* http) {
    HttpConnectionLimiter* self = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        auto it = g_registry.find(static_cast<evhttp*>(http));
        if (it != g_registry.end())
            self = it->second;
    }
    if (self)
        self->AcceptFailed();
}

void HttpConnectionLimiter::AcceptFailed() {
    const int error = errno;
    // One line per flood is enough: the log is shared with the client and sent to the platform.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastAcceptLog >= std::chrono::seconds(10)) {
        VL_LOG_WARN("control server cannot accept (%s) with %zu connections open; making room",
                    strerror(error), m_live.size());
        m_lastAcceptLog = now;
    }
    // A descriptor freed here lets the next round of the loop take the waiting
    // connection. With nothing to close, retrying at once would only spin:
    // the waiting connection keeps the listener readable.
    if (EvictOldestIdle())
        return;
    if (!m_listener || m_paused)
        return;
    evconnlistener_disable(m_listener);
    m_paused = true;
    if (m_resume) {
        const timeval pause = ToTimeval(m_limits.acceptPause);
        event_add(m_resume, &pause);
    }
}

void HttpConnectionLimiter::OnResume(int, short, void* arg) {
    static_cast<HttpConnectionLimiter*>(arg)->Resume();
}

void HttpConnectionLimiter::Resume() {
    if (!m_paused)
        return;
    m_paused = false;
    if (m_resume)
        event_del(m_resume);
    if (m_listener)
        evconnlistener_enable(m_listener);
}

}  // namespace KwLib
