#include "app/client/VLStartup.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "app/client/VLGuardWatchdog.h"
#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "app/core/VLPaths.h"
#include "platform/common/KWBaseEvent.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWInstanceChannel.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWShellUtils.h"
#include "platform/common/KWSystem.h"
#include "platform/common/KWTypes.h"
#include "platform/crash/KWCrashHandler.h"

namespace KwLib {

namespace {
constexpr const char* kInstanceName = "VLStudent";
constexpr const char* kRaiseRequest = "raise";
}  // namespace

VLStartupOptions ParseStartupOptions(int argc, const char* const* argv) {
    KWCmdLineParser parser(argc, argv);
    VLStartupOptions o;
    o.hasRole = parser.HasKey("-role");
    o.role = parser.GetValue("-role");
    o.id = parser.GetValue("-id");
    o.crashTest = parser.HasKey("-crashtest");
    o.check = parser.HasKey("-check");
    o.hasAutomation = parser.HasKey("-automation");
    o.automationFlag = parser.GetValue("-automation");
    // A client that another program starts (the guard's direct start from a page)
    // can be driven in development builds: the socket then comes with the environment.
    o.automationEnvironment = KWEnvironmentVariable::GetEnvironmentVar("VL_AUTOMATION_SOCKET");
    return o;
}

void SecureUserData(const VLPathSet& paths) {
    const std::string userDir = paths.GetUserDataDir();
    // An empty application-data folder puts the files in the current folder,
    // which is not ours to close.
    if (userDir.empty())
        return;
    KWFilePathUtils::CreatePrivateDirectories(KWFileName::GetParentDirectory(userDir));
    for (const std::string& dir : {userDir, paths.GetDownloadDir(), paths.GetAnswerDataDir()})
        if (!KWFilePathUtils::CreatePrivateDirectories(dir))
            VL_LOG_ERROR("cannot make the private folder %s", dir.c_str());
    for (const std::string& file : {paths.GetUserDbPath(), paths.GetConfigPath()})
        KWFilePathUtils::MakePrivateFile(file);
}

int RunClient(int argc, const char* const* argv, const VLAutomationPolicy& automationPolicy,
              const VLStudentWindowFactory& createMainWindow) {
    // Libraries beside the program are found before the system's.
    VLPathSet paths = VLPathSet::ForCurrentProcess(false);
    KWEnvironmentVariable::SetEnvironmentVar(
        "LD_LIBRARY_PATH",
        paths.ExtendedLibraryPath(KWEnvironmentVariable::GetEnvironmentVar("LD_LIBRARY_PATH")));

    // One client per user session: a second start asks the first to come to the front.
    static KWBaseEvent instanceEvent;
    if (!instanceEvent.Create(false, false, kInstanceName) &&
        instanceEvent.GetLastError() == ERROR_ALREADY_EXISTS_CODE) {
        KWInstanceChannel::Send(kInstanceName, kRaiseRequest);
        return 0;
    }

    VLStartupOptions options = ParseStartupOptions(argc, argv);

    // Crash dumps go to the guard's socket; the handler lives as long as the process.
    KWCrashHandler::Install(KWCrashHandler::GetDefaultSocketPath());
    KWCrashHandler::EnableTestCrash(options.crashTest);

    bool inner = IsInnerPlatform(paths.GetPlatformFilePath());
    paths = VLPathSet::ForCurrentProcess(inner);
    VLPaths::Set(paths);
    VLAppState::Get().isInner = inner;

    VLConfigManager& config = VLConfigManager::GetInstance();
    config.SetPath(paths.GetConfigPath());
    config.Load();

    LogImpl::Instance().Init(VLPathSet::GetLogPath());
    SecureUserData(paths);
    VL_LOG_INFO("VLStudent %s starting, role \"%s\" id \"%s\" inner %d", GetClientVersion().c_str(),
                options.role.c_str(), options.id.c_str(), inner ? 1 : 0);

    const VLAutomationDecision automation = VLAutomationGate::Decide(
        options.hasAutomation, options.automationFlag, options.automationEnvironment, automationPolicy);
    if (automation.ignoredEnvironment)
        VL_LOG_WARN(
            "VL_AUTOMATION_SOCKET is set and ignored: this installation reads it in development builds only");
    if (!automation.refusal.empty()) {
        // Before anything shows: a script that asked for the channel learns at
        // once that it will not get one, and no exam window opens for it.
        VL_LOG_ERROR("%s", automation.refusal.c_str());
        std::fprintf(stderr, "VLStudent: %s\n", automation.refusal.c_str());
        return 2;
    }

    static VLGuardWatchdog watchdog(paths.GetGuardPath());
    watchdog.Start();

    VLAppState::Get().runMode = DecideRunMode(options.hasRole, options.role, inner);
    VL_LOG_INFO("run mode %d", VLAppState::Get().runMode);

    // Before the main window: its creation starts the request workers, and
    // libcurl must be set up before any thread uses it.
    curl_global_init(CURL_GLOBAL_ALL);
    std::unique_ptr<IVLMainWindowHost> mainWindow = createMainWindow(automation.socket);
    if (!mainWindow || !mainWindow->Create(options.id)) {
        VL_LOG_ERROR("the main window could not be created");
        mainWindow.reset();
        curl_global_cleanup();
        return 1;
    }
    KWInstanceChannel raiseChannel;
    IVLMainWindowHost* window = mainWindow.get();
    raiseChannel.Listen(kInstanceName, [window](const std::string& request) {
        if (request == kRaiseRequest)
            window->RequestRaise();
    });

    mainWindow->RunMessageLoop();
    raiseChannel.Stop();
    mainWindow.reset();
    curl_global_cleanup();
    return 1;
}

}  // namespace KwLib
