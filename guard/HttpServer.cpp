#include "guard/HttpServer.h"

#include <event2/event.h>
#include <event2/http.h>
#include <event2/util.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

#include "guard/HttpConnectionLimiter.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

bool HttpServer::Run(event_base* base, const std::string& address, int port) {
    m_base = base;
    evhttp* http = evhttp_new(base);
    if (!http) {
        fprintf(stderr, "couldn't create evhttp. Exiting.\n");
        return false;
    }
    evhttp_set_timeout(http, kConnectionTimeoutSeconds);
    evhttp_set_max_headers_size(http, kMaxHeadersBytes);
    evhttp_set_max_body_size(http, kMaxBodyBytes);
    // OPTIONS too: a browser asks with it before a page may call the server
    // (CORS and private network access preflights).
    evhttp_set_allowed_methods(http, EVHTTP_REQ_GET | EVHTTP_REQ_POST | EVHTTP_REQ_HEAD | EVHTTP_REQ_PUT |
                                         EVHTTP_REQ_DELETE | EVHTTP_REQ_OPTIONS);
    // Declared before the server is freed below: freeing it closes the open
    // connections, which the limiter hears of.
    HttpConnectionLimiter limiter(base, http, HttpConnectionLimiter::Limits{});
    RegisterHandlers(http);

    evhttp_bound_socket* handle =
        evhttp_bind_socket_with_handle(http, address.c_str(), static_cast<uint16_t>(port));
    if (!handle) {
        fprintf(stderr, "couldn't bind to port %d. Exiting.\n", port);
        VL_LOG_ERROR("couldn't bind to %s:%d", address.c_str(), port);
        evhttp_free(http);
        return false;
    }
    limiter.Attach(handle);

    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    evutil_socket_t fd = evhttp_bound_socket_get_fd(handle);
    bool ok = true;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        perror("getsockname() failed");
        ok = false;
    }
    char text[128] = {};
    int bound = 0;
    if (ok) {
        const void* inaddr = nullptr;
        if (ss.ss_family == AF_INET) {
            const auto* sin = reinterpret_cast<const sockaddr_in*>(&ss);
            bound = ntohs(sin->sin_port);
            inaddr = &sin->sin_addr;
        } else if (ss.ss_family == AF_INET6) {
            const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(&ss);
            bound = ntohs(sin6->sin6_port);
            inaddr = &sin6->sin6_addr;
        } else {
            fprintf(stderr, "Weird address family %d\n", ss.ss_family);
            ok = false;
        }
        if (ok && !evutil_inet_ntop(ss.ss_family, inaddr, text, sizeof text)) {
            fprintf(stderr, "evutil_inet_ntop failed\n");
            ok = false;
        }
    }
    if (ok) {
        m_boundPort = bound;
        m_baseUrl = KWStringUtils::Format("http://%s:%d", text, bound);
        printf("Listening on %s:%d\n", text, bound);
        fflush(stdout);
        VL_LOG_INFO("control server listening on %s:%d", text, bound);
        event_base_dispatch(base);
    }
    limiter.Detach();
    evhttp_free(http);
    return ok;
}

}  // namespace KwLib
