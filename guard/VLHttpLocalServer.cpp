#include "guard/VLHttpLocalServer.h"

#include <event2/buffer.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/keyvalq_struct.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "guard/VLStaticFiles.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWProcess.h"

namespace KwLib {

namespace {
const char* kNotFound = "Document was not found";

const char* MethodName(evhttp_cmd_type cmd) {
    switch (cmd) {
        case EVHTTP_REQ_GET: return "GET";
        case EVHTTP_REQ_POST: return "POST";
        case EVHTTP_REQ_HEAD: return "HEAD";
        case EVHTTP_REQ_PUT: return "PUT";
        case EVHTTP_REQ_DELETE: return "DELETE";
        case EVHTTP_REQ_OPTIONS: return "OPTIONS";
        case EVHTTP_REQ_TRACE: return "TRACE";
        case EVHTTP_REQ_CONNECT: return "CONNECT";
        case EVHTTP_REQ_PATCH: return "PATCH";
        default: return "unknown";
    }
}

std::string ResolveRoot(const std::string& root) {
    std::unique_ptr<char, decltype(&free)> real(realpath(root.c_str(), nullptr), &free);
    return real ? std::string(real.get()) : std::string();
}
}  // namespace

VLHttpLocalServer::VLHttpLocalServer(std::string clientPath, const std::string& documentRoot)
    : m_clientPath(std::move(clientPath)), m_documentRoot(ResolveRoot(documentRoot)) {}

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
        while (cut > 0 && (static_cast<unsigned char>(id[cut]) & 0xC0) == 0x80) --cut;
        id.resize(cut);
    }
    return {"-role=3", "-id=" + id};
}

void VLHttpLocalServer::OnRunClient(evhttp_request* req, void* arg) {
    auto* self = static_cast<VLHttpLocalServer*>(arg);
    evhttp_add_header(evhttp_request_get_output_headers(req), "Access-Control-Allow-Origin", "*");
    evkeyvalq params{};
    if (evhttp_parse_query(evhttp_request_get_uri(req), &params) == 0) {
        for (evkeyval* kv = params.tqh_first; kv; kv = kv->next.tqe_next) {
            if (!kv->key || !kv->value || strcmp(kv->key, "question_id") != 0) continue;
            pid_t pid = KWProcess::Spawn(self->m_clientPath, ClientArguments(kv->value));
            VL_LOG_INFO("runClient question %s: pid %d", kv->value, pid);
        }
    }
    evhttp_clear_headers(&params);
    evhttp_send_reply(req, 200, "OK", nullptr);
}

void VLHttpLocalServer::OnRequest(evhttp_request* req, void*) {
    printf("Received a %s request for %s\nHeaders:\n", MethodName(evhttp_request_get_command(req)),
           evhttp_request_get_uri(req));
    evkeyvalq* headers = evhttp_request_get_input_headers(req);
    for (evkeyval* h = headers->tqh_first; h; h = h->next.tqe_next) printf("  %s: %s\n", h->key, h->value);
    printf("Input data: <<<");
    evbuffer* body = evhttp_request_get_input_buffer(req);
    while (evbuffer_get_length(body) > 0) {
        char piece[128];
        int n = evbuffer_remove(body, piece, sizeof piece);
        if (n <= 0) break;
        fwrite(piece, 1, static_cast<size_t>(n), stdout);
    }
    printf(">>>\n");
    fflush(stdout);
    evhttp_send_reply(req, 200, "OK", nullptr);
}

void VLHttpLocalServer::OnExit(evhttp_request*, void* arg) {
    auto* self = static_cast<VLHttpLocalServer*>(arg);
    VL_LOG_INFO("exit requested");
    event_base_loopexit(self->GetEventBase(), nullptr);
}

void VLHttpLocalServer::OnGeneric(evhttp_request* req, void* arg) {
    // Other methods stay unanswered until the connection times out.
    if (evhttp_request_get_command(req) != EVHTTP_REQ_GET) return;
    static_cast<VLHttpLocalServer*>(arg)->ServeStatic(req);
}

void VLHttpLocalServer::ServeStatic(evhttp_request* req) {
    const char* uri = evhttp_request_get_uri(req);
    ++m_requestCounter;
    printf("%d--Got a GET request for <%s>\n", static_cast<int>(m_requestCounter), uri);
    fflush(stdout);

    std::unique_ptr<evhttp_uri, decltype(&evhttp_uri_free)> parsed(evhttp_uri_parse(uri), &evhttp_uri_free);
    if (!parsed) {
        printf("It's not a good URI. Sending BADREQUEST\n");
        fflush(stdout);
        evhttp_send_error(req, HTTP_BADREQUEST, nullptr);
        return;
    }
    const char* path = evhttp_uri_get_path(parsed.get());
    if (!path || !*path) path = "/";
    size_t decodedLength = 0;
    std::unique_ptr<char, decltype(&free)> decoded(evhttp_uridecode(path, 0, &decodedLength), &free);
    if (!decoded) {
        evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
        return;
    }
    const std::string decodedPath(decoded.get(), decodedLength);
    auto resolved = VLStaticFiles::Resolve(m_documentRoot, decodedPath);
    struct stat st {};
    if (!resolved || stat(resolved->c_str(), &st) != 0) {
        evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
        return;
    }

    std::unique_ptr<evbuffer, decltype(&evbuffer_free)> out(evbuffer_new(), &evbuffer_free);
    if (!out) {
        evhttp_send_error(req, HTTP_INTERNAL, nullptr);
        return;
    }
    evkeyvalq* headers = evhttp_request_get_output_headers(req);
    if (S_ISDIR(st.st_mode)) {
        auto names = VLStaticFiles::ListFolder(*resolved);
        if (!names) {
            evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
            return;
        }
        std::string href = GetBaseUrl() + path;
        if (href.back() != '/') href += '/';
        std::string page = VLStaticFiles::ListingPage(decodedPath, href, *names);
        evbuffer_add(out.get(), page.data(), page.size());
        evhttp_add_header(headers, "Content-Type", "text/html");
    } else {
        int fd = open(resolved->c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            perror("open");
            evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
            return;
        }
        struct stat fst {};
        if (fstat(fd, &fst) < 0 || !S_ISREG(fst.st_mode)) {
            perror("fstat");
            close(fd);
            evhttp_send_error(req, HTTP_NOTFOUND, kNotFound);
            return;
        }
        evhttp_add_header(headers, "Content-Type", VLStaticFiles::ContentTypeFor(decodedPath).c_str());
        // The buffer owns the descriptor from here on.
        if (fst.st_size > 0 && evbuffer_add_file(out.get(), fd, 0, fst.st_size) != 0) {
            evhttp_send_error(req, HTTP_INTERNAL, nullptr);
            return;
        }
        if (fst.st_size == 0) close(fd);
    }
    evhttp_send_reply(req, 200, "OK", out.get());
}

}  // namespace KwLib
