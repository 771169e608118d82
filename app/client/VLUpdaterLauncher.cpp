#include "app/client/VLUpdaterLauncher.h"

#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWProcess.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

std::vector<std::string> BuildUpdaterArguments(const std::string& version, const std::string& url, int pid,
                                               const VLUpdaterAgent& agent) {
    return {
        "-version=" + version,
        "-url=" + url,
        KWStringUtils::Format("-pid=%d", pid),
        KWStringUtils::Format("-bUseAgent=%d", agent.useAgent ? 1 : 0),
        "-agentIp=" + agent.agentIp,
        KWStringUtils::Format("-reqPort=%d", agent.reqPort),
        KWStringUtils::Format("-downloadPort=%d", agent.downloadPort),
        KWStringUtils::Format("-uploadPort=%d", agent.uploadPort),
    };
}

bool LaunchUpdater(const std::string& updaterPath, const std::string& version, const std::string& url,
                   const VLUpdaterAgent& agent) {
    auto args = BuildUpdaterArguments(version, url, KWProcess::CurrentId(), agent);
    pid_t pid = KWProcess::Spawn(updaterPath, args, KWFileSystemUtils::GetOnlyDirPrefix(updaterPath));
    VL_LOG_INFO("updater %s version %s: %s", updaterPath.c_str(), version.c_str(),
                pid > 0 ? "started" : "failed");
    return pid > 0;
}

}  // namespace KwLib
