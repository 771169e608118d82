#pragma once
#include <string>

#include "app/client/VLAutomationGate.h"
#include "app/client/VLMainWindowHost.h"
#include "app/core/VLPaths.h"

namespace KwLib {

// What start-up learnt from the command line and the installation.
struct VLStartupOptions {
    std::string role;
    std::string id;
    bool hasRole = false;
    bool crashTest = false;
    // "-check": the classroom readiness check instead of the window.
    bool check = false;
    // "-automation=<socket>" and $VL_AUTOMATION_SOCKET as given; VLAutomationGate
    // decides whether scripts may drive the window through that socket.
    bool hasAutomation = false;
    std::string automationFlag;
    std::string automationEnvironment;
};

VLStartupOptions ParseStartupOptions(int argc, const char* const* argv);

// The user's folders (the data folder, "Download", "AnswerData") created 0700
// or closed to others, and user.db and config.cfg closed to others.
void SecureUserData(const VLPathSet& paths);

// The window factory learns the automation socket the gate let through (empty: none).
using VLStudentWindowFactory =
    std::function<std::unique_ptr<IVLMainWindowHost>(const std::string& automation)>;

// The client's start-up sequence up to and including the main window's message
// loop. Returns 0 when another instance runs (it was asked to raise its
// window), 2 when the command line asked for an automation channel that this
// installation does not open, otherwise 1 after the main window ended.
int RunClient(int argc, const char* const* argv, const VLAutomationPolicy& automationPolicy,
              const VLStudentWindowFactory& createMainWindow);

}  // namespace KwLib
