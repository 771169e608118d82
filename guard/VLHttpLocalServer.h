#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "guard/HttpServer.h"

struct evhttp_request;

namespace KwLib {

// The guard's local control server: "/runClient" starts the client on a
// question, "/request" traces a request, "/exit" ends the guard, and every other
// GET is served from the web folder of the install. Everything runs on the
// guard's main thread inside the event loop.
class VLHttpLocalServer : public HttpServer {
public:
    // `clientPath` is the program "/runClient" starts; `documentRoot` the only
    // folder whose files are served (resolved once here; nothing is served when
    // it does not exist).
    VLHttpLocalServer(std::string clientPath, const std::string& documentRoot);

    void RegisterHandlers(evhttp* http) override;

    // The client's arguments for one question id: "-role=3" and "-id=<id>",
    // with the id cut so that "-role=3 -id=<id>" keeps within 99 bytes, never
    // inside a character.
    static std::vector<std::string> ClientArguments(const std::string& questionId);

    // The values of every "question_id" parameter that has one, in order.
    static std::vector<std::string> QuestionIds(const char* uri);

    static constexpr int kDefaultPort = 9182;

private:
    static void OnRunClient(evhttp_request* req, void* self);
    static void OnRequest(evhttp_request* req, void* self);
    static void OnGeneric(evhttp_request* req, void* self);
    static void OnExit(evhttp_request* req, void* self);
    void ServeStatic(evhttp_request* req);

    std::string m_clientPath;
    std::string m_documentRoot;  // resolved, without a trailing "/"
    uint32_t m_requestCounter = 0;
};

}  // namespace KwLib
