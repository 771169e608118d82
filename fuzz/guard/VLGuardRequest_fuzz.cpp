// Feeds request URIs to the control server's request rules: the static-file
// mapping must never name anything outside the web folder, and "/runClient"
// must always hand the client exactly two arguments.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "guard/VLHttpLocalServer.h"
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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace KwLib;
    const Sandbox& box = TheSandbox();
    const std::string uri(reinterpret_cast<const char*>(data), size);

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
            auto args = VLHttpLocalServer::ClientArguments(id);
            if (args.size() != 2 || args[0] != "-role=3" || args[1].rfind("-id=", 0) != 0)
                abort();
            if (args[1].size() > 4 + 87)
                abort();
        }
    }
    return 0;
}
