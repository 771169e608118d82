#pragma once
#include <string>

#include "app/client/VLMainWindowHost.h"

namespace KwLib {

// What start-up learnt from the command line and the installation.
struct VLStartupOptions {
    std::string role;
    std::string id;
    bool hasRole = false;
    bool crashTest = false;
    // "-check": the classroom readiness check instead of the window.
    bool check = false;
    // "-automation=<socket>", else $VL_AUTOMATION_SOCKET: scripts drive the window through this socket.
    std::string automation;
};

VLStartupOptions ParseStartupOptions(int argc, const char* const* argv);

// The client's start-up sequence up to and including the main window's message
// loop. Returns 0 when another instance runs (it was asked to raise its
// window), otherwise 1 after the main window ended.
int RunClient(int argc, const char* const* argv, const VLMainWindowFactory& createMainWindow);

}  // namespace KwLib
