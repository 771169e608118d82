#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "guard/HttpServer.h"
#include "guard/VLClientStarter.h"
#include "guard/VLRequestGate.h"

struct evhttp_request;

namespace KwLib {

// The guard's local control server: "/runClient" starts the client on a
// question, "/request" traces a request, "/exit" ends the guard, and every other
// GET is served from the web folder of the install. Only requests addressed to
// the server itself are answered, and only the platform's pages and local tools
// make it act (VLRequestGate); starts are limited (VLClientStarter). Everything
// runs on the guard's main thread inside the event loop.
class VLHttpLocalServer : public HttpServer {
public:
    struct Settings {
        // The program "/runClient" starts, and the environment it gets.
        std::string clientPath;
        std::vector<std::string> clientEnvironment;
        // The only folder whose files are served (resolved once here; nothing
        // is served when it does not exist).
        std::string documentRoot;
        // Web origins whose pages may start the client and end the guard.
        std::vector<std::string> platformOrigins;
    };
    explicit VLHttpLocalServer(Settings settings);

    void RegisterHandlers(evhttp* http) override;

    // The client's arguments for one question id: "-role=3" and "-id=<id>",
    // with the id cut so that "-role=3 -id=<id>" keeps within 99 bytes, never
    // inside a character.
    static std::vector<std::string> ClientArguments(const std::string& questionId);

    // The values of every "question_id" parameter that has one, in order.
    static std::vector<std::string> QuestionIds(const char* uri);

    // What a refused or accepted "/runClient" answers, by the starter's outcome.
    struct Answer {
        int status;
        const char* reason;
        const char* body;  // empty for none
    };
    static Answer AnswerFor(VLClientStarter::Outcome outcome);

    static constexpr int kDefaultPort = 9182;

private:
    static void OnRunClient(evhttp_request* req, void* self);
    static void OnRequest(evhttp_request* req, void* self);
    static void OnGeneric(evhttp_request* req, void* self);
    static void OnExit(evhttp_request* req, void* self);
    void ServeStatic(evhttp_request* req);
    // Applies the gate to a request of an acting path. False when it was
    // answered here (refused, or a preflight); true when the caller goes on.
    // The reply's CORS headers are set either way.
    bool Admit(evhttp_request* req);
    const VLRequestGate& Gate();
    // A page may send refused requests as fast as it likes; the log, which is
    // shared and sent to the platform, takes one line a second about them.
    bool MayLogRefusal();

    std::vector<std::string> m_platformOrigins;
    std::unique_ptr<VLRequestGate> m_gate;  // made for the bound port
    VLClientStarter m_starter;
    std::string m_documentRoot;  // resolved, without a trailing "/"
    uint32_t m_requestCounter = 0;
    std::chrono::steady_clock::time_point m_lastRefusalLog{};
    uint32_t m_unloggedRefusals = 0;
};

}  // namespace KwLib
