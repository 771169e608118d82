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
#include "audio/UIMusicPlayer.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIButton.h"
#include "elements/UIQuestionElement.h"

// Runs the answering phase of the singing question on screen in real time until `done`.
#define SING_UNTIL(done)                                                                      \
    do {                                                                                      \
        const auto singEnd = std::chrono::steady_clock::now() + std::chrono::seconds(40);     \
        while (!(done) && std::chrono::steady_clock::now() < singEnd) {                       \
            m_driver->Advance(10);                                                            \
            std::this_thread::sleep_for(std::chrono::milliseconds(10));                       \
        }                                                                                     \
        ASSERT_TRUE(done);                                                                    \
    } while (0)

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

// The fixture with what most window tests do: a paper of chosen sample items,
// the sign-in, answering choice questions, answering message boxes.
class StudentWnd : public VLStudentWndTest {
protected:
    void SetUp() override {
        VLStudentWndTest::SetUp();
        if (IsSkipped())
            return;
        // Each test suite has a simulator of its own, with its own ports in the file addresses.
        if (s_samplePaperOf != s_sim->FileBase()) {
            s_samplePaper = s_sim->GetPaper();
            s_samplePaperOf = s_sim->FileBase();
        }
        s_sim->SetPaper(s_samplePaper);
        s_sim->SetExamState(1);
        s_sim->SetSignInExam(2, 3600, "1,2,3,4,5,6");
        s_sim->SetOfferedVersion(GetClientVersion());
        m_now = static_cast<int64_t>(std::time(nullptr));
    }

    // The sample paper with only the items named, in their sample order.
    void ServeOnly(const std::vector<std::string>& ids) {
        KWJsonValue paper = s_samplePaper;
        for (const char* section : {"1", "2", "3"}) {
            KWJsonValue kept(Json::arrayValue);
            for (const KWJsonValue& group : paper[section]) {
                KWJsonValue g = group;
                g["question"] = KWJsonValue(Json::arrayValue);
                for (const KWJsonValue& item : group["question"])
                    if (std::find(ids.begin(), ids.end(), item["id"].asString()) != ids.end())
                        g["question"].append(item);
                if (g["question"].size() > 0) {
                    g["conf"]["number"] = std::to_string(g["question"].size());
                    kept.append(g);
                }
            }
            paper[section] = kept;
        }
        s_sim->SetPaper(paper);
    }

    // Changes members of one item of the paper being served.
    void PatchItem(const std::string& id, const std::function<void(KWJsonValue&)>& patch) {
        KWJsonValue paper = s_sim->GetPaper();
        for (const char* section : {"1", "2", "3"})
            for (KWJsonValue& group : paper[section])
                for (KWJsonValue& item : group["question"])
                    if (item["id"].asString() == id)
                        patch(item);
        s_sim->SetPaper(paper);
    }

    VLQuestionBase* Q() const { return m_window ? m_window->GetCurQuestion() : nullptr; }
    int Phase() const { return Q() ? Q()->m_phase : -1; }

    uint32_t LengthMs(const std::string& path) const {
        UIMusicPlayer* player = m_window->GetPlayer();
        return player ? static_cast<uint32_t>(player->GetFileDuration(path) * 1000) : 0;
    }
    std::string Prompt(const std::string& name) const { return m_install + "Audio/" + name; }

    // Advances `ms` and checks that the phase changed then and not before (within
    // the few milliseconds by which a decoded length may differ); the clock is left
    // exactly at the change, so the next step is timed from there.
    void ExpectPhaseAfter(uint32_t ms, int expected) {
        const int before = Phase();
        constexpr uint32_t kSlack = 4;
        m_driver->Advance(ms > kSlack ? ms - kSlack : 0);
        EXPECT_EQ(Phase(), before) << "changed before " << ms << " ms";
        for (uint32_t i = 0; i < 2 * kSlack && Phase() == before; ++i)
            m_driver->Advance(1);
        EXPECT_EQ(Phase(), expected) << "after " << ms << " ms";
    }

    // Whether the options of the choice on screen take clicks.
    bool OptionsEnabled() const {
        bool enabled = false;
        m_window->GetCurElement()->ForEach([&](UIControl* c) {
            if (c->GetId() == 2058 || c->GetId() == 2059)
                enabled = enabled || c->IsEnabled();
        });
        return enabled;
    }

    // Runs a direct start until the first question is on screen.
    void OpenDirect(const std::string& ids, int runMode = 5) {
        ASSERT_TRUE(Open(runMode, ids));
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetPage() == 4 && Q() == nullptr; }));
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 5 && Q(); }, 30000)) << Text(kIdLoadingSpinner);
    }

    // Clicks the option of the current choice element whose user data is `index`.
    void ClickOption(const std::string& index) {
        UIControl* target = nullptr;
        m_window->GetCurElement()->ForEach([&](UIControl* c) {
            if (dynamic_cast<UIOption*>(c) && (c->GetId() == 2058 || c->GetId() == 2059) &&
                c->GetUserData() == index)
                target = c;
        });
        ASSERT_TRUE(target) << "no option " << index;
        const UIRect r = target->GetPos();
        m_driver->ClickAt({r.left + 8, (r.top + r.bottom) / 2});
    }

    // Answers the next message box with a click on `buttonId` of that box.
    void AnswerNextBox(int buttonId) {
        QueueSteps({{[] { return TopWindow("VLMessagebox") != nullptr; }, [this, buttonId] { ClickInBox(buttonId); }}});
    }

    // The newest window of a class, or nullptr.
    static UIWindowWnd* TopWindow(const std::string& className) {
        UIWindowWnd* found = nullptr;
        for (UIWindowWnd* w : UIApplication::Instance().Windows())
            if (w->GetWindowClassName() == className)
                found = w;
        return found;
    }

    // Records the text of the open message box and clicks one of its buttons.
    void ClickInBox(int buttonId) {
        UIWindowWnd* box = TopWindow("VLMessagebox");
        ASSERT_TRUE(box);
        m_boxTexts.push_back(box->GetPaintManager()->FindControl(104)->GetText());
        UIWindowWnd* before = m_driver->GetWindow();
        m_driver->Attach(box);
        m_driver->Click(buttonId);
        m_driver->Attach(before == box ? m_window : before);
    }

    // What a student does inside modal windows, one step after the other: each
    // step waits until it is ready (a box has opened, an answer has come), so
    // the steps keep their order whatever arrives when.
    struct Step {
        std::function<bool()> ready;
        std::function<void()> act;
    };
    void QueueSteps(std::vector<Step> steps) {
        auto run = std::make_unique<std::function<void()>>();
        std::function<void()>* self = run.get();
        auto state = std::make_shared<std::pair<std::vector<Step>, size_t>>(std::move(steps), 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        *run = [this, self, state, deadline] {
            auto& [list, i] = *state;
            if (i >= list.size())
                return;
            if (!list[i].ready()) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ADD_FAILURE() << "step " << i << " never became ready";
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                m_driver->QueueIdle(*self);
                return;
            }
            const Step step = list[i++];
            // Queued before acting: the action may open a modal loop that runs the rest.
            if (i < list.size())
                m_driver->QueueIdle(*self);
            step.act();
        };
        m_driver->QueueIdle(*run);
        m_stepRunners.push_back(std::move(run));
    }

    // Signs in as a student of the roster and goes through the device check to
    // the first question of the paper.
    // Signs in and starts the headphone test (page 1, the microphone in the ears).
    void SignInToHeadphoneTest(const std::string& number = "1001", int runMode = 3) {
        ASSERT_TRUE(Open(runMode));
        ASSERT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenSignIn);
        m_driver->Click(kIdStudentNumber);
        m_driver->TypeText(number);
        m_driver->Click(kIdSignIn);
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenConfirm; }));
        m_driver->Click(kIdConfirm);
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenExam; }));
        ASSERT_EQ(m_window->GetPage(), 0);
        m_driver->Click(kIdHeadphoneTest);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 1; }, 20000));
    }

    void SignInAndStart(const std::string& number = "1001", int runMode = 3) {
        ASSERT_NO_FATAL_FAILURE(SignInToHeadphoneTest(number, runMode));
        m_driver->Click(kIdClear);
        ASSERT_EQ(m_window->GetPage(), 3);
        m_driver->Click(kIdStartExam);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 2 || m_window->GetPage() == 4; }, 20000));
        if (m_window->GetPage() == 2)
            m_driver->Click(kIdMethodOk);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 5 && Q(); }, 30000));
    }

    // A recording of 104 from an interrupted run of student 1001, cleaned already
    // and waiting to be uploaded, and the answer 0 given to 106.
    std::string ResumeWithWaitingRecording() {
        const std::string recording = m_paths.GetAnswerDataDir() + "rec_resume.wav";
        KWFilePathUtils::CreateDirectories(m_paths.GetAnswerDataDir());
        std::string wav(44 + 32000, '\0');
        std::memcpy(wav.data(), "RIFF", 4);
        EXPECT_TRUE(KWFile::WriteAtomic(recording, wav));
        EXPECT_TRUE(KWFile::WriteAtomic(recording + ".bak", wav));
        VLDatabaseManager db(VLDatabaseConfig{m_paths.GetUserDataDir(), m_paths.GetUserDbPath(),
                                              m_install + "bin/sys.db", GetClientVersion(), 3});
        EXPECT_TRUE(db.Init());
        EXPECT_TRUE(db.SaveExamAnswer({8589934597LL, 7000001001LL,
                                       R"({"uid":"7000001001","answerlist":[{"id":"104","answer":"",)"
                                       R"("userdata":"rec_resume.wav"},{"id":"106","answer":"0"}]})"}));
        db.Release();
        return recording;
    }

    std::vector<VLExamAnswer> StoredAnswers() {
        VLDatabaseManager db(VLDatabaseConfig{m_paths.GetUserDataDir(), m_paths.GetUserDbPath(),
                                              m_install + "bin/sys.db", GetClientVersion(), 3});
        std::vector<VLExamAnswer> rows;
        db.LoadExamAnswer(VLAppState::Get().signIn.recordId, rows);
        db.Release();
        return rows;
    }

    std::vector<std::unique_ptr<std::function<void()>>> m_stepRunners;
    static inline KWJsonValue s_samplePaper;
    static inline std::string s_samplePaperOf;  // the file address of the simulator it came from
    std::vector<std::string> m_boxTexts;
};

}  // namespace KwLib
