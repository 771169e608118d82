#include "guard/VLCrashReporterCommand.h"

#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWProcess.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"

namespace KwLib {

std::vector<std::string> VLCrashReporterCommand::BuildArguments(const VLCrashReporterValues& v) {
    auto quoted = [](const char* key, const std::string& value) {
        return KWStringUtils::Format("-%s=\"%s\"", key, value.c_str());
    };
    auto number = [](const char* key, int value) { return KWStringUtils::Format("-%s=%d", key, value); };
    return {quoted("log", v.logPath),
            quoted("dump", v.dumpPath),
            quoted("version", v.version),
            quoted("description", v.description),
            quoted("windows", v.windows),
            quoted("mac_addr", v.macAddress),
            quoted("type", v.type),
            number("enable_agent", v.enableAgent),
            quoted("agent_ip", v.agentIp),
            number("agent_req_port", v.agentReqPort),
            number("agent_download_port", v.agentDownloadPort),
            number("agent_upload_port", v.agentUploadPort)};
}

VLCrashReporterValues VLCrashReporterCommand::Collect(const std::string& dumpPath, const std::string& logPath,
                                                      const std::string& configPath) {
    VLCrashReporterValues v;
    v.logPath = logPath;
    v.dumpPath = dumpPath;
    v.version = KWStringUtils::Format("%d.%d.%d.%d", 1, 7, 1, 1393);
    v.description = "学生端崩溃！";
    int major = 0, minor = 0;
    KWSystemInfo::GetWindowsVersion(v.windows, major, minor);
    v.macAddress = KWNetworkAdapter::SelectMacAddress();
    v.type = "student";
    v.enableAgent = 1;
    VLConfigManager config(configPath);
    config.Load();
    v.agentIp = config.GetString("AGENT", "IP");
    v.agentReqPort = config.GetInt("AGENT", "Port1");
    v.agentDownloadPort = config.GetInt("AGENT", "Port2");
    v.agentUploadPort = config.GetInt("AGENT", "Port3");
    return v;
}

bool VLCrashReporterCommand::Launch(const std::string& reporterPath, const VLCrashReporterValues& values) {
    pid_t pid = KWProcess::Spawn(reporterPath, BuildArguments(values));
    if (pid < 0) {
        VL_LOG_ERROR("crash reporter %s could not start; the dump stays at %s", reporterPath.c_str(),
                     values.dumpPath.c_str());
        return false;
    }
    VL_LOG_INFO("crash reporter started (pid %d) for %s", pid, values.dumpPath.c_str());
    return true;
}

}  // namespace KwLib
