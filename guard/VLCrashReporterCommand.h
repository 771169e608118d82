#pragma once
#include <string>
#include <vector>

namespace KwLib {

// The values the crash reporter receives for one dump.
struct VLCrashReporterValues {
    std::string logPath;
    std::string dumpPath;
    std::string version;
    std::string description;
    std::string windows;
    std::string macAddress;
    std::string type;
    int enableAgent = 1;
    std::string agentIp;
    int agentReqPort = 0;
    int agentDownloadPort = 0;
    int agentUploadPort = 0;
};

// The command line of VLCrashReport. Each "-key=value" is one argument, text
// values in double quotes as the reporter has always received them; nothing in
// a value can add an argument. Used on the crash server's thread; it keeps no state.
class VLCrashReporterCommand {
public:
    static std::vector<std::string> BuildArguments(const VLCrashReporterValues& values);

    // Collects the values for a dump: the agent settings come from `configPath`,
    // read afresh (defaults when the file or section is missing).
    static VLCrashReporterValues Collect(const std::string& dumpPath, const std::string& logPath,
                                         const std::string& configPath);

    // Starts the reporter without waiting for it. False when it cannot be started.
    static bool Launch(const std::string& reporterPath, const VLCrashReporterValues& values);
};

}  // namespace KwLib
