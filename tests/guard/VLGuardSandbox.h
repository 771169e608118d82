#pragma once
#include <map>
#include <string>
#include <vector>

#include "tests/guard/VLTestProcess.h"

namespace KwLib::TestSupport {

// A private world for one real VLGuard: its own install tree (a copy of the
// built guard, stand-in programs for the client and the crash reporter that
// record their arguments), home, runtime, temporary and data folders. Every
// process started through it is ended and the tree removed on destruction.
class VLGuardSandbox {
public:
    VLGuardSandbox();
    ~VLGuardSandbox();

    std::string root;     // ends with "/"
    std::string install;  // <root>install/
    std::string records;  // where stand-ins write "<program>-<pid>.args"
    std::string home, runtime, tmp, data;

    std::map<std::string, std::string> Env() const;

    // Starts the guard with a free port; true once it listens (port set).
    bool StartGuard(VLTestProcess& process, int& port, const std::string& tag = "guard");
    std::string GuardOutput(const std::string& tag = "guard") const;

    // The argument lists recorded by a stand-in program ("VLStudent", "VLCrashReport").
    std::vector<std::vector<std::string>> Records(const std::string& program) const;

    static void WriteFile(const std::string& path, const std::string& content);
    static std::string ReadFile(const std::string& path);
};

struct HttpReply {
    bool received = false;  // any byte came back before the time-out or close
    bool closed = false;    // the server closed the connection (rather than the time-out ending the wait)
    int status = 0;
    std::string reason;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// Sends `request` as it is to 127.0.0.1:`port` and reads until the server
// closes or `timeoutMs` passes.
HttpReply HttpExchange(int port, const std::string& request, int timeoutMs = 5000);
// "GET <target> HTTP/1.1" with Connection: close.
HttpReply HttpGet(int port, const std::string& target, int timeoutMs = 5000);

}  // namespace KwLib::TestSupport
