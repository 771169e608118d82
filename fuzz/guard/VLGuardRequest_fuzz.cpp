// Feeds requests to the control server's rules. The input is the request
// URI, then (one per line) the Host, Origin and Sec-Fetch-Site values. The
// static-file mapping must never name anything outside the web folder,
// "/runClient" must always hand the client exactly two arguments of digits,
// and the gate must never let a request through that is not addressed to the
// server, nor one from an origin it was not given.
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "guard/VLClientStarter.h"
#include "guard/VLHttpLocalServer.h"
#include "guard/VLRequestGate.h"
#include "guard/VLStaticFiles.h"

namespace {
namespace fs = std::filesystem;

struct Sandbox {
    std::string top;
    std::string root;
    Sandbox() {
        char pattern[] = "/tmp/vlguard-fuzz-XXXXXX";
        top = mkdtemp(pattern);
        root = fs::canonical(top).string() + "/web";
        fs::create_directories(root + "/sub/deeper");
        std::ofstream(root + "/a.txt") << "a";
        std::ofstream(root + "/sub/Photo.PNG") << "p";
        std::ofstream(top + "/secret.txt") << "s";
        fs::create_symlink("../secret.txt", root + "/out");
        fs::create_symlink("..", root + "/sub/deeper/up");
        fs::create_symlink("/etc", root + "/etc");
    }
    ~Sandbox() { fs::remove_all(top); }
};

const Sandbox& TheSandbox() {
    static Sandbox sandbox;
    return sandbox;
}

// The next line of `text` from `at`, or nothing when there is none.
std::optional<std::string> NextLine(const std::string& text, size_t& at) {
    if (at > text.size())
        return std::nullopt;
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    at = end + 1;
    return line;
}

void CheckGate(const std::string& host, const std::optional<std::string>& origin,
               const std::optional<std::string>& site) {
    using KwLib::VLRequestGate;
    static const VLRequestGate gate(9182, {"https://teacher.platform.example", "http://school.example:8080"});
    const auto verdict =
        gate.Judge(host.c_str(), origin ? origin->c_str() : nullptr, site ? site->c_str() : nullptr);
    const bool own = host == "127.0.0.1:9182" || host == "[::1]:9182" ||
                     (host.size() == 14 && strncasecmp(host.c_str(), "localhost:9182", 14) == 0);
    if ((verdict == VLRequestGate::Verdict::WrongHost) == own)
        abort();
    if (verdict == VLRequestGate::Verdict::Allowed && origin) {
        const auto normalized = VLRequestGate::NormalizeOrigin(*origin);
        static const std::set<std::string> trusted = {"https://teacher.platform.example",
                                                      "http://school.example:8080", "http://127.0.0.1:9182",
                                                      "http://localhost:9182", "http://[::1]:9182"};
        if (!normalized || !trusted.count(*normalized))
            abort();
    }
    // A normalized origin is a fixed point, and never carries a path, user or blank.
    for (const std::string& text : {host, origin.value_or(""), site.value_or("")}) {
        for (const auto& o : {VLRequestGate::NormalizeOrigin(text), VLRequestGate::OriginOfUrl(text)}) {
            if (!o)
                continue;
            if (VLRequestGate::NormalizeOrigin(*o) != o)
                abort();
            if (o->find_first_of("@ \t\r\n?#", 0) != std::string::npos ||
                o->find('/', o->find("://") + 3) != std::string::npos)
                abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace KwLib;
    const Sandbox& box = TheSandbox();
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    const std::string uri = NextLine(input, at).value_or("");
    const std::string host = NextLine(input, at).value_or("");
    const auto origin = NextLine(input, at);
    const auto site = NextLine(input, at);
    if (host.find('\0') == std::string::npos && (!origin || origin->find('\0') == std::string::npos) &&
        (!site || site->find('\0') == std::string::npos))
        CheckGate(host, origin, site);
    const auto target = VLStaticFiles::MapUri(uri, box.root);
    if (target.kind == VLStaticFiles::Target::Found) {
        if (target.resolved != box.root && target.resolved.rfind(box.root + "/", 0) != 0)
            abort();
        if (VLStaticFiles::ContentTypeFor(target.decodedPath).empty())
            abort();
        if (auto names = VLStaticFiles::ListFolder(target.resolved)) {
            std::string page = VLStaticFiles::ListingPage(target.decodedPath,
                                                          "http://127.0.0.1:9182" + target.uriPath, *names);
            if (page.find("<script") != std::string::npos)
                abort();
        }
    }

    if (uri.find('\0') == std::string::npos) {
        for (const auto& id : VLHttpLocalServer::QuestionIds(uri.c_str())) {
            if (id.empty())
                abort();
            if (VLClientStarter::IsValidId(id) && id.find_first_not_of("0123456789") != std::string::npos)
                abort();
            auto args = VLHttpLocalServer::ClientArguments(id);
            if (args.size() != 2 || args[0] != "-role=3" || args[1].rfind("-id=", 0) != 0)
                abort();
            if (args[1].size() > 4 + 87)
                abort();
        }
    }
    return 0;
}
