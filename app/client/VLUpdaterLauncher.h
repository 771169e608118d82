#pragma once
#include <string>
#include <vector>

namespace KwLib {

struct VLUpdaterAgent {
    bool useAgent = false;
    std::string agentIp;
    int reqPort = 9500;
    int downloadPort = 9501;
    int uploadPort = 9502;
};

// The updater's arguments, each pair one argument, so that nothing in a value
// (a URL from the server) can add or split arguments.
std::vector<std::string> BuildUpdaterArguments(const std::string& version, const std::string& url, int pid,
                                               const VLUpdaterAgent& agent);

// Starts the updater in its own folder without waiting for it; false when it
// could not be started (the caller ignores that, the next offer tries again).
bool LaunchUpdater(const std::string& updaterPath, const std::string& version, const std::string& url,
                   const VLUpdaterAgent& agent);

}  // namespace KwLib
