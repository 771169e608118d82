#pragma once
#include <string>

namespace KwLib {

// Whether the automation channel may open, and on which socket. The channel
// lets a program click and type in the exam window, so in the installed
// package a student's account must never be able to open it: there it opens
// only on the command line's request and only where the machine's
// administrator has created the root-owned gate file (a rehearsal PC). A
// development build keeps it open to every script, tests and rehearsals.
struct VLAutomationPolicy {
    bool developmentBuild = true;
    std::string gateFile;
};

struct VLAutomationDecision {
    std::string socket;   // empty: no channel
    std::string refusal;  // set when "-automation" was given and may not open; the client then ends
    bool ignoredEnvironment = false;  // $VL_AUTOMATION_SOCKET was set and not honoured
};

class VLAutomationGate {
public:
    // `flagGiven` and `flagValue` are "-automation=<socket>"; `environmentValue`
    // is $VL_AUTOMATION_SOCKET, read by development builds only.
    static VLAutomationDecision Decide(bool flagGiven, const std::string& flagValue,
                                       const std::string& environmentValue, const VLAutomationPolicy& policy);

    // True when `path` is a regular file (not a link) owned by root and writable
    // by nobody else, in folders up to "/" that only root can change. `why`
    // tells which condition failed.
    static bool AdministratorEnabled(const std::string& path, std::string* why = nullptr);
};

}  // namespace KwLib
