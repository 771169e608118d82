#include "app/client/VLStartup.h"

#include <curl/curl.h>

#include <memory>

#include "app/client/VLGuardWatchdog.h"
#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "app/core/VLPaths.h"
#include "platform/common/KWBaseEvent.h"
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
    o.automation = parser.GetValue("-automation");
    // A client that another program starts (the guard's direct start from a page)
    // can be driven too: the socket then comes with the environment.
    if (o.automation.empty())
        o.automation = KWEnvironmentVariable::GetEnvironmentVar("VL_AUTOMATION_SOCKET");
    return o;
}

int RunClient(int argc, const char* const* argv, const VLMainWindowFactory& createMainWindow) {
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
    VL_LOG_INFO("VLStudent %s starting, role \"%s\" id \"%s\" inner %d", GetClientVersion().c_str(),
                options.role.c_str(), options.id.c_str(), inner ? 1 : 0);

    static VLGuardWatchdog watchdog(paths.GetGuardPath());
    watchdog.Start();

    VLAppState::Get().runMode = DecideRunMode(options.hasRole, options.role, inner);
    VL_LOG_INFO("run mode %d", VLAppState::Get().runMode);

    // Before the main window: its creation starts the request workers, and
    // libcurl must be set up before any thread uses it.
    curl_global_init(CURL_GLOBAL_ALL);
    std::unique_ptr<IVLMainWindowHost> mainWindow = createMainWindow();
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
