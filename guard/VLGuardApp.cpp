#include "guard/VLGuardApp.h"

#include <event2/event.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "app/core/VLPaths.h"
#include "exam/VLDatabaseManager.h"
#include "guard/VLClientEnvironment.h"
#include "guard/VLCrashReporterCommand.h"
#include "guard/VLHttpLocalServer.h"
#include "guard/VLHungClientMonitor.h"
#include "guard/VLMinidumpWriter.h"
#include "platform/common/KWAliveRecord.h"
#include "platform/common/KWBaseEvent.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWIniFile.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWShellUtils.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"
#include "platform/common/KWTypes.h"
#include "platform/crash/KWCrashHandler.h"
#include "platform/crash/KWCrashServer.h"

extern char** environ;

namespace KwLib {

namespace {
void IgnoreSignal(int) {}

// The user-data paths of the guard: it sits in the install folder, the client in bin/.
VLPathSet PathsFor(const std::string& guardDir, bool inner) {
    return VLPathSet::Compute(guardDir + "bin/", KWShellUtils::GetCUAppDataDirectory(), inner);
}
}  // namespace

VLGuardApp::VLGuardApp(VLGuardOptions options) : m_options(std::move(options)) {
    if (!m_options.guardDir.empty() && m_options.guardDir.back() != '/')
        m_options.guardDir += '/';
}

bool VLGuardApp::ReadInnerFlag(const std::string& platformFile) {
    KWFile file;
    if (!file.Create(platformFile, KWFile::ReadOnly))
        return false;
    // A line may straddle two pieces: the unfinished end of one piece is kept
    // and completed by the next, so the decision never depends on where a cut falls.
    std::string pending;
    std::string last;
    auto takeLine = [&last](std::string line) {
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            return;
        last = std::move(line);
    };
    char piece[kPlatformPieceSize];
    size_t n = 0;
    while (file.Read(piece, sizeof piece, n) && n > 0) {
        for (size_t i = 0; i < n; ++i) {
            if (piece[i] == '\n') {
                takeLine(std::move(pending));
                pending.clear();
            } else {
                pending += piece[i];
            }
        }
    }
    takeLine(std::move(pending));
    return KWStringUtils::CompareNoCase(last, "inner") == 0;
}

std::string VLGuardApp::ExtendLibraryPath(const std::string& guardDir, const std::string& oldValue) {
    std::string value = guardDir + "bin:" + guardDir;
    // An empty entry would mean the current folder; add the old value only when there is one.
    if (!oldValue.empty())
        value += ":" + oldValue;
    return value;
}

void VLGuardApp::UpdateDesktopShortcut(const std::string& desktopDir, const std::string& clientPath) {
    if (desktopDir.empty())
        return;
    const std::string former = KWStringUtils::Format("%s%s.desktop", desktopDir.c_str(), kFormerShortcutName);
    if (KWFilePathUtils::IsExists(former)) {
        if (KWFilePathUtils::RemoveFile(former))
            VL_LOG_INFO("removed the former shortcut %s", former.c_str());
        else
            VL_LOG_WARN("cannot remove the former shortcut %s", former.c_str());
    }
    const std::string current = KWStringUtils::Format("%s%s.desktop", desktopDir.c_str(), kShortcutName);
    if (!KWFilePathUtils::IsExists(current)) {
        if (!KWQuickLaunch::CreateQuickLaunch(clientPath, "", "", current, "", -1, "", true))
            VL_LOG_WARN("cannot create the shortcut %s", current.c_str());
    }
}

std::vector<std::string> VLGuardApp::PlatformOrigins(const std::string& sysDbPath, bool inner,
                                                     const std::string& configPath) {
    std::vector<std::string> urls;
    // Only an existing file: opening a missing one would create it.
    if (KWFilePathUtils::IsExists(sysDbPath)) {
        VLDatabaseConfig config;
        config.sysDbPath = sysDbPath;
        // The row of the clients the guard starts (direct start, run mode 5 or 6).
        config.runMode = inner ? 6 : 5;
        VLDatabaseManager db(config);
        if (db.ConnectSysDb() && db.LoadSysUrl()) {
            const VLSysUrlInfo row = db.GetSysUrlInfo();
            urls = {row.HomepageUrl, row.ExamMonitorUrl, row.WebLoginUrl, row.ShowResultUrl};
        }
        db.Release();
    }
    std::vector<std::string> origins;
    auto add = [&origins](const std::string& origin) {
        if (std::find(origins.begin(), origins.end(), origin) == origins.end())
            origins.push_back(origin);
    };
    for (const std::string& url : urls)
        if (auto origin = VLRequestGate::OriginOfUrl(url))
            add(*origin);
    for (const std::string& origin :
         VLRequestGate::ParseOriginList(KWIniFile::GetString(configPath, "GUARD", "WebOrigins", "")))
        add(origin);
    return origins;
}

int VLGuardApp::Run() {
    const std::string& guardDir = m_options.guardDir;

    // A reader that hangs up mid-answer must not end the guard. A handler rather
    // than SIG_IGN: handlers fall back to the default in started programs.
    struct sigaction onPipe {};
    onPipe.sa_handler = IgnoreSignal;
    sigemptyset(&onPipe.sa_mask);
    sigaction(SIGPIPE, &onPipe, nullptr);

    KWBaseEvent instance;
    if (!instance.Create(false, false, kGuardInstanceName) && instance.GetLastError() == ERROR_ALREADY_EXISTS_CODE)
        return 0;

    // The dump callback reads everything it needs afresh on the crash server's
    // thread, so it shares no state with the main thread.
    const std::string logPath = VLPathSet::GetLogPath();
    const std::string dumpDir = KWFileSystemUtils::MyGetTempPath();
    auto onReport = [guardDir, logPath, dumpDir](const KWCrashReportData& report) {
        const std::string dumpPath = VLMinidumpWriter::WriteToFolder(report, dumpDir);
        if (dumpPath.empty())
            return;
        VLMinidumpWriter::PruneFolder(dumpDir, dumpPath);
        VL_LOG_INFO("dump of pid %d written to %s", report.header.pid, dumpPath.c_str());
        bool inner = ReadInnerFlag(guardDir + "bin/platform.txt");
        VLPathSet paths = PathsFor(guardDir, inner);
        VLCrashReporterCommand::Launch(
            paths.GetCrashReporterPath(),
            VLCrashReporterCommand::Collect(dumpPath, logPath, paths.GetConfigPath()));
    };
    auto crashServer = std::make_unique<KWCrashServer>(KWCrashHandler::GetDefaultSocketPath(), onReport);
    if (!crashServer->Start())
        crashServer.reset();

    KWEnvironmentVariable::SetEnvironmentVar(
        "LD_LIBRARY_PATH",
        ExtendLibraryPath(guardDir, KWEnvironmentVariable::GetEnvironmentVar("LD_LIBRARY_PATH")));

    const bool inner = ReadInnerFlag(guardDir + "bin/platform.txt");
    const VLPathSet paths = PathsFor(guardDir, inner);
    VLPaths::Set(paths);
    VLConfigManager config(paths.GetConfigPath());
    config.Load();

    LogImpl::Instance().Init(logPath);
    // Dumps of earlier sessions beyond the quota.
    VLMinidumpWriter::PruneFolder(dumpDir);
    VL_LOG_INFO("VLGuard %s started, inner %d, crash server %s, agent %s:%d/%d/%d",
                GetClientVersion().c_str(), inner ? 1 : 0, crashServer ? "running" : "off",
                config.GetString("AGENT", "IP").c_str(), config.GetInt("AGENT", "Port1"),
                config.GetInt("AGENT", "Port2"), config.GetInt("AGENT", "Port3"));

    UpdateDesktopShortcut(KWShellUtils::GetDesktopDirectory(), paths.GetClientPath());

    std::unique_ptr<event_base, decltype(&event_base_free)> base(event_base_new(), &event_base_free);
    if (!base) {
        fprintf(stderr, "Couldn't create an event_base: exiting\n");
    } else {
        VLHttpLocalServer::Settings settings;
        settings.clientPath = paths.GetClientPath();
        settings.clientEnvironment = VLClientEnvironment::Clean(environ, m_options.developmentBuild);
        // The libraries beside the programs, and nothing inherited.
        settings.clientEnvironment.push_back("LD_LIBRARY_PATH=" + ExtendLibraryPath(guardDir, ""));
        settings.documentRoot = guardDir + "web/";
        settings.platformOrigins = PlatformOrigins(paths.GetSysDbPath(), inner, paths.GetConfigPath());
        std::string listed;
        for (const std::string& origin : settings.platformOrigins)
            listed += (listed.empty() ? "" : " ") + origin;
        VL_LOG_INFO("control server acts for local tools and the pages of: %s",
                    listed.empty() ? "(no platform origin known)" : listed.c_str());
        // Once a second: a client that stays hung while it holds the keyboard is ended and started again.
        VLHungClientMonitor::Settings hung;
        hung.alivePath = VLPathSet::GetClientAlivePath();
        hung.clientPath = settings.clientPath;
        hung.environment = settings.clientEnvironment;
        VLHungClientMonitor monitor(std::move(hung));
        auto onTick = [](evutil_socket_t, short, void* arg) {
            static_cast<VLHungClientMonitor*>(arg)->Check(KWAliveRecord::NowMs());
        };
        std::unique_ptr<event, decltype(&event_free)> tick(event_new(base.get(), -1, EV_PERSIST, onTick, &monitor),
                                                           &event_free);
        const timeval second{1, 0};
        if (tick)
            event_add(tick.get(), &second);
        VLHttpLocalServer server(std::move(settings));
        server.Run(base.get(), m_options.bindAddress, m_options.port);
    }

    crashServer.reset();
    VL_LOG_INFO("VLGuard ends");
    return 1;
}

}  // namespace KwLib
