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
    // `extraEnv` is added to (or replaces in) Env().
    bool StartGuard(VLTestProcess& process, int& port, const std::string& tag = "guard",
                    const std::map<std::string, std::string>& extraEnv = {});
    // The platform the guard learns its web origins from: a sys.db whose
    // teacher and public web sites are `teacherWeb`, and the school's own
    // sites in config.cfg.
    void WritePlatform(const std::string& teacherWeb, const std::string& schoolOrigins = std::string()) const;
    std::string ConfigPath() const { return data + "Virelo/Student/config.cfg"; }
    std::string GuardOutput(const std::string& tag = "guard") const;

    // The argument lists recorded by a stand-in program ("VLStudent", "VLCrashReport").
    std::vector<std::vector<std::string>> Records(const std::string& program) const;
    // The environment one start of the stand-in got.
    std::map<std::string, std::string> RecordedEnvironment(const std::string& program) const;
    void ClearRecords() const;
    // While held, started stand-ins keep running (a client that is still open).
    void HoldStartedPrograms(bool hold) const;

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
// "GET <target> HTTP/1.1", addressed to the server (Host) as a local tool does, with Connection: close.
HttpReply HttpGet(int port, const std::string& target, int timeoutMs = 5000);
// "127.0.0.1:<port>", the Host of a request to the guard.
std::string HostOf(int port);

}  // namespace KwLib::TestSupport
