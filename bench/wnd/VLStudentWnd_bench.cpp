// Switching to another question in the main window, with the element built,
// the stem's pictures measured and the prompt opened, as the window does it
// for a student (headless toolkit, the simulator on loopback, a direct paper of
// text, picture and singing questions). Goal: median under 16 ms, at scale 1
// and drawn for a 2560 x 1440 screen (the argument is the scale in
// thousandths: 1875).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>

#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "audio/VLDenoiseWorker.h"
#include "exam/VLDatabaseManager.h"
#include "exam/VLExamManager.h"
#include "net/VLAgentSettings.h"
#include "net/VLDownloadManager.h"
#include "net/VLHttpRequestManager.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "tools/platform-sim/VLSimServer.h"
#include "wnd/VLStudentWnd.h"

using namespace KwLib;

namespace {

void BM_QuestionSwitch(benchmark::State& state) {
    std::signal(SIGPIPE, SIG_IGN);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const std::string root = "/tmp/vl-switch-bench-" + std::to_string(getpid()) + "/";
    KWFilePathUtils::CreateDirectories(root + "install/bin");
    symlink((std::string(VL_BINARY_DIR) + "/install/Audio").c_str(), (root + "install/Audio").c_str());
    UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
    VLSimConfig config;
    config.m_dataDir = root + "sim/";
    config.m_apiPort = config.m_downloadPort = config.m_uploadPort = config.m_remotePort = 0;
    VLSimServer sim(config);
    if (!sim.Start()) {
        state.SkipWithError("simulator");
        return;
    }
    const std::string api = "http://127.0.0.1:" + std::to_string(sim.ApiPort());
    const VLSysUrlHosts hosts{api, api, api, api, api};
    VLDatabaseManager::CreateSysDb(root + "install/bin/sys.db",
                                   {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, hosts)});

    VLDatabaseManager db;
    VLHttpRequestManager requests;
    VLDownloadManager downloads;
    VLUploadManager uploads;
    VLExamManager exam;
    VLAgentSettings agent;
    VLDenoiseWorker denoise;
    VLConfigManager configFile(root + "config.cfg");
    VLStudentServices s;
    s.db = &db;
    s.requests = &requests;
    s.downloads = &downloads;
    s.uploads = &uploads;
    s.exam = &exam;
    s.agent = &agent;
    s.denoise = &denoise;
    s.config = &configFile;
    s.paths = VLPathSet::Compute(root + "install/bin/", root + "data/", false);
    s.runMode = 5;
    s.now = [] { return static_cast<int64_t>(std::time(nullptr)); };
    VLAppState::Get().runMode = 5;

    UITestDriver driver;
    // A 2560 x 1440 screen, on which the window may be drawn at 1.875.
    UIApplication::Instance().SetHeadlessScreenSize({2560, 1440});
    UIApplication::Instance().SetDesktopScale(state.range(0) / 1000.0);
    auto* window = new VLStudentWnd("101,102,104,106,201,202,203", s);
    window->Create(nullptr, "VLStudent");
    window->ShowWindow(true);
    driver.Attach(window);
    // Until the paper's files are down and the first question is on screen.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(window->GetPage() == 5 && window->GetCurQuestion()) && std::chrono::steady_clock::now() < end) {
        driver.Advance(50);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!window->GetCurQuestion()) {
        state.SkipWithError("the paper did not load");
        UIApplication::Instance().SetDesktopScale(0);
        return;
    }
    bool forward = true;
    for (auto _ : state) {
        // Forth and back through the paper, never past its ends.
        if (window->GetCurIndex() >= 5)
            forward = false;
        else if (window->GetCurIndex() <= 0)
            forward = true;
        window->ShowCurQuestion(forward);
        driver.Pump();  // laid out and painted, as the student sees it
    }
    state.counters["scale"] = window->GetScale();
    window->PostMessageW(VLStudentWnd::WM_END_SESSION, 0, 0);
    for (int i = 0; i < 2000 && UIApplication::Instance().IsAlive(window); ++i) {
        driver.Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    UIApplication::Instance().ResetQuit();
    UIApplication::Instance().SetDesktopScale(0);
    sim.Stop();
    KWFilePathUtils::RemoveAll(root);
}

}  // namespace

BENCHMARK(BM_QuestionSwitch)
    ->Arg(1000)
    ->Arg(1875)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
