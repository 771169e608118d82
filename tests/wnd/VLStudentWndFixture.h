#pragma once
// The main window in a sandbox of its own: an install tree whose sys.db points at
// the simulator on loopback, a user folder, its own managers, the headless
// toolkit under the manual clock and SDL's dummy audio driver.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "app/core/VLPaths.h"
#include "audio/VLDenoiseWorker.h"
#include "exam/VLDatabaseManager.h"
#include "exam/VLExamManager.h"
#include "net/VLAgentSettings.h"
#include "net/VLDownloadManager.h"
#include "net/VLHttpRequestManager.h"
#include "net/VLUploadManager.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "tests/net/VLNetTestSupport.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

class VLStudentWndTest : public VLSimTest {
protected:
    void SetUp() override {
        VLSimTest::SetUp();
        if (IsSkipped())
            return;
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        m_install = m_work + "install/";
        KWFilePathUtils::CreateDirectories(m_install + "bin");
        // The prompts as the build made them.
        std::error_code ec;
        std::filesystem::create_directory_symlink(std::string(VL_BINARY_DIR) + "/install/Audio",
                                                  m_install + "Audio", ec);
        const std::string api = "http://127.0.0.1:" + std::to_string(s_sim->ApiPort());
        const std::string upload = "http://127.0.0.1:" + std::to_string(s_sim->UploadPort());
        const VLSysUrlHosts hosts{api, api, upload, api, api};
        ASSERT_TRUE(VLDatabaseManager::CreateSysDb(
            m_install + "bin/sys.db", {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, hosts),
                                       VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName, hosts)}));
        m_paths = VLPathSet::Compute(m_install + "bin/", m_work + "data/", false);
        KWFilePathUtils::CreateDirectories(m_paths.GetUserDataDir());
        // Agent mode towards the simulator, as in a classroom.
        WriteConfig("[AGENT]\nEnable=1\nIP=127.0.0.1\nPort1=" + std::to_string(s_sim->ApiPort()) +
                    "\nPort2=" + std::to_string(s_sim->DownloadPort()) +
                    "\nPort3=" + std::to_string(s_sim->UploadPort()) + "\n[REMOTESERVER]\nPort1=" +
                    std::to_string(s_sim->RemotePort()) + "\n");
        m_now = 1765000000;
        m_driver = std::make_unique<UITestDriver>();
    }

    void TearDown() override {
        CloseWindow();
        m_driver.reset();
        UIApplication::Instance().ResetQuit();
        VLAppState::Get().signIn = VLSignInRecord();
    }

    void WriteConfig(const std::string& text) {
        KWFile::WriteAtomic(m_paths.GetConfigPath(), text);
        m_config = std::make_unique<VLConfigManager>(m_paths.GetConfigPath());
        m_config->Load();
    }

    VLStudentServices Services(int runMode) {
        m_db = std::make_unique<VLDatabaseManager>();
        m_requests = std::make_unique<VLHttpRequestManager>();
        m_downloads = std::make_unique<VLDownloadManager>();
        m_uploads = std::make_unique<VLUploadManager>();
        m_exam = std::make_unique<VLExamManager>();
        m_agent = std::make_unique<VLAgentSettings>();
        m_denoise = std::make_unique<VLDenoiseWorker>();
        VLStudentServices s;
        s.db = m_db.get();
        s.requests = m_requests.get();
        s.downloads = m_downloads.get();
        s.uploads = m_uploads.get();
        s.exam = m_exam.get();
        s.agent = m_agent.get();
        s.denoise = m_denoise.get();
        s.config = m_config.get();
        s.paths = m_paths;
        s.runMode = runMode;
        s.now = [this] { return m_now; };
        s.launchUpdater = [this](const std::string& version, const std::string& url) {
            m_updaterLaunches.push_back(version + " " + url);
        };
        return s;
    }

    // Creates the window as start-up does and points the driver at it.
    VLStudentWnd* Open(int runMode, const std::string& paperId = std::string()) {
        VLAppState::Get().runMode = runMode;
        m_window = new VLStudentWnd(paperId, Services(runMode));
        m_window->SetFinalCallback([this] { m_window = nullptr; });
        if (!m_window->Create(nullptr, "VLStudent"))
            return nullptr;
        m_window->ShowWindow(true);
        m_driver->Attach(m_window);
        m_driver->Pump();
        return m_window;
    }

    void CloseWindow() {
        if (!m_window)
            return;
        m_window->PostMessageW(VLStudentWnd::WM_END_SESSION, 0, 0);
        PumpUntil([this] { return m_window == nullptr; }, 20000);
    }

    // Handles posted messages (workers answer in real time) until `done`.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            m_driver->Pump();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_driver->Pump();
        return done();
    }

    // Moves the manual clock in small steps until `done` or `maxMs` of program
    // time. Workers answer in real time, so each step also gives them a moment.
    bool AdvanceUntil(const std::function<bool()>& done, uint64_t maxMs, uint64_t stepMs = 50) {
        for (uint64_t t = 0; t <= maxMs; t += stepMs) {
            m_driver->Pump();
            if (done())
                return true;
            m_driver->Advance(stepMs);
            if (stepMs >= 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_driver->Pump();
        return done();
    }

    UIControl* Find(int id) const { return m_driver->Find(id); }
    bool Visible(int id) const {
        UIControl* c = Find(id);
        return c && c->IsVisible();
    }
    bool Enabled(int id) const {
        UIControl* c = Find(id);
        return c && c->IsEnabled();
    }
    std::string Text(int id) const {
        UIControl* c = Find(id);
        return c ? c->GetText() : std::string("<missing>");
    }
    std::string Screenshot(const std::string& name) {
        const std::string dir = std::string(VL_BINARY_DIR) + "/tests/wnd/screens/";
        KWFilePathUtils::CreateDirectories(dir);
        const std::string path = dir + name + ".png";
        EXPECT_TRUE(m_driver->Screenshot(path)) << path;
        return path;
    }

    std::string m_install;
    VLPathSet m_paths;
    int64_t m_now = 0;
    std::vector<std::string> m_updaterLaunches;
    std::unique_ptr<VLConfigManager> m_config;
    std::unique_ptr<VLDatabaseManager> m_db;
    std::unique_ptr<VLHttpRequestManager> m_requests;
    std::unique_ptr<VLDownloadManager> m_downloads;
    std::unique_ptr<VLUploadManager> m_uploads;
    std::unique_ptr<VLExamManager> m_exam;
    std::unique_ptr<VLAgentSettings> m_agent;
    std::unique_ptr<VLDenoiseWorker> m_denoise;
    std::unique_ptr<UITestDriver> m_driver;
    VLStudentWnd* m_window = nullptr;  // deletes itself when closed
};

}  // namespace KwLib
