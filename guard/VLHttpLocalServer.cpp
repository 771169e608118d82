#include "guard/VLHttpLocalServer.h"

#include <event2/buffer.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/keyvalq_struct.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "guard/VLStaticFiles.h"
#include "platform/common/KWLog.h"

namespace KwLib {

namespace {
const char* kNotFound = "Document was not found";
constexpr int kForbidden = 403;  // libevent names no constant for it
const char* kClientNotStarted = "The exam client could not be started.\n";
const char* kWrongHost = "This server answers only requests addressed to it on this PC.\n";
const char* kForeignOrigin = "Only the platform's pages can do this.\n";

void SendText(evhttp_request* req, int status, const char* reason, const char* text) {
    std::unique_ptr<evbuffer, decltype(&evbuffer_free)> body(evbuffer_new(), &evbuffer_free);
    if (body && text && *text) {
        evbuffer_add_printf(body.get(), "%s", text);
        evhttp_add_header(evhttp_request_get_output_headers(req), "Content-Type",
                          "text/plain; charset=utf-8");
    }
    evhttp_send_reply(req, status, reason, body.get());
}

const char* HeaderOrNull(evhttp_request* req, const char* name) {
    return evhttp_find_header(evhttp_request_get_input_headers(req), name);
}

const char* MethodName(evhttp_cmd_type cmd) {
    switch (cmd) {
        case EVHTTP_REQ_GET:
            return "GET";
        case EVHTTP_REQ_POST:
            return "POST";
        case EVHTTP_REQ_HEAD:
            return "HEAD";
        case EVHTTP_REQ_PUT:
            return "PUT";
        case EVHTTP_REQ_DELETE:
            return "DELETE";
        case EVHTTP_REQ_OPTIONS:
            return "OPTIONS";
        case EVHTTP_REQ_TRACE:
            return "TRACE";
        case EVHTTP_REQ_CONNECT:
            return "CONNECT";
        case EVHTTP_REQ_PATCH:
            return "PATCH";
        default:
            return "unknown";
    }
}

std::string ResolveRoot(const std::string& root) {
    std::error_code ec;
    std::string resolved = std::filesystem::canonical(root, ec).string();
    return ec ? std::string() : resolved;
}
}  // namespace

VLHttpLocalServer::VLHttpLocalServer(Settings settings)
    : m_platformOrigins(std::move(settings.platformOrigins)),
      m_starter(std::move(settings.clientPath), std::move(settings.clientEnvironment)),
      m_documentRoot(ResolveRoot(settings.documentRoot)) {}

const VLRequestGate& VLHttpLocalServer::Gate() {
    // The port is known once the server is bound, which is before any request.
    if (!m_gate)
        m_gate = std::make_unique<VLRequestGate>(GetBoundPort(), m_platformOrigins);
    return *m_gate;
}

bool VLHttpLocalServer::Admit(evhttp_request* req) {
    const char* host = HeaderOrNull(req, "Host");
    const char* origin = HeaderOrNull(req, "Origin");
    const char* site = HeaderOrNull(req, "Sec-Fetch-Site");
    evkeyvalq* out = evhttp_request_get_output_headers(req);
    switch (Gate().Judge(host, origin, site)) {
        case VLRequestGate::Verdict::WrongHost:
            if (MayLogRefusal())
                VL_LOG_WARN("%s refused: addressed to host \"%s\"", evhttp_request_get_uri(req),
                        host ? host : "");
            SendText(req, kForbidden, "Forbidden", kWrongHost);
            return false;
        case VLRequestGate::Verdict::ForeignOrigin:
            if (MayLogRefusal())
                VL_LOG_WARN("%s refused: from origin \"%s\", site \"%s\"", evhttp_request_get_uri(req),
                        origin ? origin : "", site ? site : "");
            // With the header the refusing page can read the status and tell its user.
            evhttp_add_header(out, "Access-Control-Allow-Origin", "*");
            SendText(req, kForbidden, "Forbidden", kForeignOrigin);
            return false;
        case VLRequestGate::Verdict::Allowed:
            break;
    }
    if (origin) {
        evhttp_add_header(out, "Access-Control-Allow-Origin", origin);
        evhttp_add_header(out, "Vary", "Origin");
    } else {
        evhttp_add_header(out, "Access-Control-Allow-Origin", "*");
    }
    if (evhttp_request_get_command(req) == EVHTTP_REQ_OPTIONS) {
        // A preflight (CORS, or a browser's private network access check) asks
        // only whether the real request may follow; it never starts anything.
        evhttp_add_header(out, "Access-Control-Allow-Methods", "GET");
        evhttp_add_header(out, "Access-Control-Allow-Private-Network", "true");
        evhttp_add_header(out, "Access-Control-Max-Age", "600");
        evhttp_send_reply(req, HTTP_NOCONTENT, "No Content", nullptr);
        return false;
    }
    return true;
}

bool VLHttpLocalServer::MayLogRefusal() {
    const auto now = std::chrono::steady_clock::now();
    if (m_lastRefusalLog != std::chrono::steady_clock::time_point{} && now - m_lastRefusalLog < std::chrono::seconds(1)) {
        ++m_unloggedRefusals;
        return false;
    }
    if (m_unloggedRefusals > 0)
        VL_LOG_WARN("%u more refused requests were not logged", m_unloggedRefusals);
    m_unloggedRefusals = 0;
    m_lastRefusalLog = now;
    return true;
}

VLHttpLocalServer::Answer VLHttpLocalServer::AnswerFor(VLClientStarter::Outcome outcome) {
    using Outcome = VLClientStarter::Outcome;
    switch (outcome) {
        case Outcome::Started:
        case Outcome::NothingToStart:
            return {HTTP_OK, "OK", ""};
        case Outcome::BadId:
            return {HTTP_BADREQUEST, "Bad Request", "A question id is made of digits only.\n"};
        case Outcome::TooMany:
            return {HTTP_BADREQUEST, "Bad Request", "At most 2 questions can be started at once.\n"};
        case Outcome::StillRunning:
            return {409, "Conflict", "The exam client started before is still running.\n"};
        case Outcome::TooSoon:
            return {429, "Too Many Requests", "The exam client was started a moment ago.\n"};
        case Outcome::StartFailed:
            break;
    }
    return {HTTP_INTERNAL, "Internal Server Error", kClientNotStarted};
}

void VLHttpLocalServer::RegisterHandlers(evhttp* http) {
    evhttp_set_cb(http, "/runClient", &VLHttpLocalServer::OnRunClient, this);
    evhttp_set_cb(http, "/request", &VLHttpLocalServer::OnRequest, this);
    evhttp_set_gencb(http, &VLHttpLocalServer::OnGeneric, this);
    evhttp_set_cb(http, "/exit", &VLHttpLocalServer::OnExit, this);
}

std::vector<std::string> VLHttpLocalServer::ClientArguments(const std::string& questionId) {
    // The command line was once formatted into a buffer of 100 characters.
    constexpr size_t kLimit = 99;
    const std::string prefix = "-role=3 -id=";
    std::string id = questionId;
    if (prefix.size() + id.size() > kLimit) {
        size_t cut = kLimit - prefix.size();
        // Never end inside a character: back up to the start of the cut one.
        while (cut > 0 && (static_cast<unsigned char>(id[cut]) & 0xC0) == 0x80)
            --cut;
        id.resize(cut);
    }
    return {"-role=3", "-id=" + id};
}

std::vector<std::string> VLHttpLocalServer::QuestionIds(const char* uri) {
    std::vector<std::string> ids;
    evkeyvalq params{};
    if (uri && evhttp_parse_query(uri, &params) == 0) {
        for (evkeyval* kv = params.tqh_first; kv; kv = kv->next.tqe_next)
            if (kv->key && kv->value && *kv->value && strcmp(kv->key, "question_id") == 0)
                ids.emplace_back(kv->value);
    }
    evhttp_clear_headers(&params);
    return ids;
}

void VLHttpLocalServer::OnRunClient(evhttp_request* req, void* arg) {
    auto* self = static_cast<VLHttpLocalServer*>(arg);
    if (!self->Admit(req))
        return;
    const VLClientStarter::Result result = self->m_starter.Start(QuestionIds(evhttp_request_get_uri(req)));
    const Answer answer = AnswerFor(result.outcome);
    if (result.outcome == VLClientStarter::Outcome::StartFailed) {
        // The page tells the student that the exam did not open, instead of
        // waiting for a window that never comes.
        VL_LOG_ERROR("runClient: the exam client could not be started");
    } else if (answer.status != HTTP_OK && self->MayLogRefusal()) {
        VL_LOG_WARN("runClient %s refused: %d %s", evhttp_request_get_uri(req), answer.status, answer.reason);
    }
    if (result.outcome == VLClientStarter::Outcome::TooSoon)
        evhttp_add_header(evhttp_request_get_output_headers(req), "Retry-After",
                          std::to_string(result.retryAfterSeconds).c_str());
    SendText(req, answer.status, answer.reason, answer.body);
}

void VLHttpLocalServer::OnRequest(evhttp_request* req, void* arg) {
    auto* self = static_cast<VLHttpLocalServer*>(arg);
    if (!self->Gate().IsOwnHost(HeaderOrNull(req, "Host"))) {
        SendText(req, kForbidden, "Forbidden", kWrongHost);
        return;
    }
    printf("Received a %s request for %s\nHeaders:\n", MethodName(evhttp_request_get_command(req)),
           evhttp_request_get_uri(req));
    evkeyvalq* headers = evhttp_request_get_input_headers(req);
    for (evkeyval* h = headers->tqh_first; h; h = h->next.tqe_next)
        printf("  %s: %s\n", h->key, h->value);
    printf("Input data: <<<");
    evbuffer* body = evhttp_request_get_input_buffer(req);
    while (evbuffer_get_length(body) > 0) {
        char piece[128];
        int n = evbuffer_remove(body, piece, sizeof piece);
        if (n <= 0)
            break;
        fwrite(piece, 1, static_cast<size_t>(n), stdout);
    }
    printf(">>>\n");
    fflush(stdout);
    evhttp_send_reply(req, 200, "OK", nullptr);
}

void VLHttpLocalServer::OnExit(evhttp_request* req, void* arg) {
    auto* self = static_cast<VLHttpLocalServer*>(arg);
    if (!self->Admit(req))
        return;
    VL_LOG_INFO("exit requested");
    event_base_loopexit(self->GetEventBase(), nullptr);
}

void VLHttpLocalServer::OnGeneric(evhttp_request* req, void* arg) {
    auto* self = static_cast<VLHttpLocalServer*>(arg);
    // A page whose own name leads to 127.0.0.1 (DNS rebinding) could read
    // everything served here as its own; only requests addressed to us are answered.
    if (!self->Gate().IsOwnHost(HeaderOrNull(req, "Host"))) {
        evhttp_add_header(evhttp_request_get_output_headers(req), "Connection", "close");
        SendText(req, kForbidden, "Forbidden", kWrongHost);
        return;
    }
    // Only GET is served. Anything else is refused at once and its connection
    // closed: left unanswered, each one would hold a descriptor of the guard.
    if (evhttp_request_get_command(req) != EVHTTP_REQ_GET) {
        evhttp_add_header(evhttp_request_get_output_headers(req), "Connection", "close");
        evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
        return;
    }
    self->ServeStatic(req);
}

void VLHttpLocalServer::ServeStatic(evhttp_request* req) {
    const char* uri = evhttp_request_get_uri(req);
    ++m_requestCounter;
    printf("%d--Got a GET request for <%s>\n", static_cast<int>(m_requestCounter), uri);
    fflush(stdout);

    const VLStaticFiles::Target target = VLStaticFiles::MapUri(uri, m_documentRoot);
    if (target.kind == VLStaticFiles::Target::BadRequest) {
        printf("It's not a good URI. Sending BADREQUEST\n");
        fflush(stdout);
        evhttp_send_error(req, HTTP_BADREQUEST, nullptr);
        return;
    }
    struct stat st {};
    if (target.kind != VLStaticFiles::Target::Found || stat(target.resolved.c_str(), &st) != 0) {
        evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
        return;
    }
    const std::string& resolved = target.resolved;

    std::unique_ptr<evbuffer, decltype(&evbuffer_free)> out(evbuffer_new(), &evbuffer_free);
    if (!out) {
        evhttp_send_error(req, HTTP_INTERNAL, nullptr);
        return;
    }
    evkeyvalq* headers = evhttp_request_get_output_headers(req);
    if (S_ISDIR(st.st_mode)) {
        auto names = VLStaticFiles::ListFolder(resolved);
        if (!names) {
            evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
            return;
        }
        std::string href = GetBaseUrl() + target.uriPath;
        if (href.back() != '/')
            href += '/';
        std::string page = VLStaticFiles::ListingPage(target.decodedPath, href, *names);
        evbuffer_add(out.get(), page.data(), page.size());
        evhttp_add_header(headers, "Content-Type", "text/html");
    } else {
        // Non-blocking, so that a pipe placed in the folder cannot stall the event loop.
        int fd = open(resolved.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            perror("open");
            evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
            return;
        }
        struct stat fst {};
        if (fstat(fd, &fst) < 0 || !S_ISREG(fst.st_mode)) {
            if (!S_ISREG(fst.st_mode))
                errno = EINVAL;
            perror("fstat");
            close(fd);
            evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
            return;
        }
        evhttp_add_header(headers, "Content-Type", VLStaticFiles::ContentTypeFor(target.decodedPath).c_str());
        // The buffer owns the descriptor from here on.
        if (fst.st_size > 0 && evbuffer_add_file(out.get(), fd, 0, fst.st_size) != 0) {
            evhttp_send_error(req, HTTP_INTERNAL, nullptr);
            return;
        }
        if (fst.st_size == 0)
            close(fd);
    }
    evhttp_send_reply(req, 200, "OK", out.get());
}

}  // namespace KwLib
