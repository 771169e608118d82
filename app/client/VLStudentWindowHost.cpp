// The main window behind start-up's window seam: creates VLStudentWnd on the
// process-wide managers, runs the toolkit's message loop, and turns the
// signals a desktop session sends (SIGTERM at logout, SIGINT) into an orderly
// close that keeps every answer.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "app/client/VLMainWindowHost.h"
#include "app/client/VLUpdaterLauncher.h"
#include "app/core/VLConfigManager.h"
#include "app/core/VLPaths.h"
#include "net/VLAgentSettings.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWSystem.h"
#include "platform/crash/KWCrashHandler.h"
#include "exam/VLDatabaseManager.h"
#include "app/core/VLAppState.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIAutomationServer.h"
#include "platform/ui/UIInputLockWatchdog.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"
#include "elements/UIQuestionElement.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIButton.h"
#include "wnd/UISheetElement.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const char c = signal == SIGUSR1 ? 'c' : 's';
    (void)!write(g_signalPipe[1], &c, 1);
}

class VLStudentWindowHost : public IVLMainWindowHost, public IUIAutomationHost {
public:
    explicit VLStudentWindowHost(std::string automationSocket) : m_automationSocket(std::move(automationSocket)) {}

    ~VLStudentWindowHost() override {
        if (m_automation)
            m_automation->Stop();
        if (m_signalThread.joinable()) {
            const char c = 'q';
            (void)!write(g_signalPipe[1], &c, 1);
            m_signalThread.join();
        }
    }

    bool Create(const std::string& paperId) override {
        VLStudentServices services = VLStudentServices::ProcessWide();
        services.launchUpdater = [](const std::string& version, const std::string& url) {
            VLAgentSettings* agent = VLAgentSettings::GetInstance();
            VLUpdaterAgent info;
            info.useAgent = agent->IsAgentMode();
            info.agentIp = agent->GetAgentHost();
            info.reqPort = agent->GetRequestPort();
            info.downloadPort = agent->GetDownloadPort();
            info.uploadPort = agent->GetUploadPort();
            if (!LaunchUpdater(VLPaths::Get().GetUpdaterPath(), version, url, info))
                VL_LOG_ERROR("the updater could not be started");
        };
        // Before the first grab: the guard tells a hung client from a busy one by it.
        UIInputLockWatchdog& watchdog = UIInputLockWatchdog::Instance();
        if (!watchdog.Publish(VLPathSet::GetClientAlivePath()))
            VL_LOG_WARN("the alive record %s could not be written: the guard cannot end a hung client",
                        VLPathSet::GetClientAlivePath().c_str());
#if VL_DEVELOPMENT_BUILD
        // Test hook: the tests of a hung client shorten the wait.
        if (const char* limit = std::getenv("VL_UI_HANG_LIMIT_MS"))
            watchdog.SetLimit(static_cast<uint32_t>(std::strtoul(limit, nullptr, 10)));
#endif
        auto* window = new VLStudentWnd(paperId, std::move(services));
        window->SetFinalCallback([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_window = nullptr;
        });
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_window = window;
        }
        // A window that fails to build deletes itself (its final callback clears m_window).
        if (!window->Create(nullptr, LoadStr(1000))) {
            VL_LOG_ERROR("the main window could not be created (display or layout)");
            return false;
        }
        window->ShowWindow(true, true);
        VL_LOG_INFO("main window shown, paper id \"%s\"", paperId.c_str());
        StartSignalThread();
        if (!m_automationSocket.empty()) {
            m_automation = std::make_unique<UIAutomationServer>();
            std::string error;
            if (!m_automation->Start(m_automationSocket, this, &error)) {
                // A script that asked for the channel must not wait for one that is not there.
                VL_LOG_ERROR("automation channel refused: %s", error.c_str());
                std::fprintf(stderr, "VLStudent: automation channel refused: %s\n", error.c_str());
                m_automation.reset();
                window->DestroyWindow();
                return false;
            }
            VL_LOG_INFO("automation channel on %s", m_automationSocket.c_str());
        }
        return true;
    }

    // ---- the automation channel (UI thread) ----
    UIWindowWnd* GetAutomationMainWindow() override { return m_window; }
    void FillState(KWJsonValue& state) override {
        if (m_window)
            m_window->FillAutomationState(state);
    }
    bool HandleCommand(const std::string& cmd, const KWJsonValue& request, KWJsonValue& answer) override {
#if VL_DEVELOPMENT_BUILD
        if (cmd == "hang") {
            // Test hook of development builds: the UI thread stops answering
            // (after this reply), as a client stuck in a bug would.
            const int ms = std::clamp(request["ms"].isInt() ? request["ms"].asInt() : 0, 0, 120000);
            VL_LOG_INFO("the UI thread is made to hang for %d ms", ms);
            UIApplication::Instance().RunOnUiThread(
                [ms] { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
            answer["hangMs"] = ms;
            return true;
        }
#else
        (void)request;
#endif
        if (cmd != "answers" || !m_window)
            return false;
        // What the window would store now, and what the database holds.
        KWJsonValue list;
        KWJsonReader::Parse(m_window->CurrentAnswerList(), list);
        answer["list"] = list;
        KWJsonValue stored(Json::arrayValue);
        std::vector<VLExamAnswer> rows;
        if (m_window->Services().db->LoadExamAnswer(VLAppState::Get().signIn.recordId, rows)) {
            for (const VLExamAnswer& row : rows) {
                KWJsonValue parsed;
                if (KWJsonReader::Parse(row.AnswerParam, parsed))
                    stored.append(parsed);
            }
        }
        answer["stored"] = stored;
        // The answer being given on screen, which the window stores within two seconds.
        const VLQuestionBase* q = m_window->GetCurQuestion();
        UIQuestionElement* element = m_window->GetCurElement();
        if (q && element && !(q->m_type >= 3 && q->m_type <= 7) && q->m_type != 12) {
            KWJsonValue current(Json::objectValue);
            current["id"] = q->m_id;
            current["answer"] = element->GetAnswer();
            answer["current"] = current;
        }
        // The answer sheet as the student sees it, while it is open.
        if (m_window->GetPage() == 6)
            answer["sheet"] = SheetEntries();
        return true;
    }

    void RequestRaise() override {
        VL_LOG_INFO("raise request received (%d)", ++m_raises);
        Post(VLStudentWnd::WM_RAISE);
    }

    void RunMessageLoop() override {
        // The first frame on screen, for the start-up benchmark.
        UIApplication& app = UIApplication::Instance();
        for (int i = 0; i < 50 && m_window && m_window->PaintManager().GetPaintCount() == 0; ++i)
            app.PumpOnce(0);
        if (m_window && m_window->PaintManager().GetPaintCount() > 0)
            VL_LOG_INFO("first frame painted %lld ms after the start",
                        static_cast<long long>(KWSystemInfo::ProcessAgeMs()));
        UIPaintManager::MessageLoop();
        if (m_automation)
            m_automation->Stop();
        VL_LOG_INFO("client stopping");
    }

private:
    KWJsonValue SheetEntries() {
        KWJsonValue entries(Json::arrayValue);
        std::function<void(UIControl*)> walk = [&](UIControl* control) {
            if (auto* entry = dynamic_cast<UISheetElement*>(control)) {
                if (const VLQuestionBase* record = entry->GetRecord()) {
                    KWJsonValue item(Json::objectValue);
                    item["id"] = record->m_id;
                    item["number"] = entry->GetNumber() ? entry->GetNumber()->GetText() : std::string();
                    item["answered"] = entry->ShowsAnswered();
                    entries.append(item);
                }
                return;
            }
            if (auto* container = dynamic_cast<UIContainer*>(control))
                for (int i = 0; i < container->GetCount(); ++i)
                    walk(container->GetItemAt(i));
        };
        walk(m_window->PaintManager().FindControl(kIdSheetArea));
        return entries;
    }

    void Post(uint32_t message) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_window)
            m_window->PostMessageW(message, 0, 0);
    }

    void StartSignalThread() {
        if (g_signalPipe[0] < 0 && pipe2(g_signalPipe, O_CLOEXEC) != 0)
            return;
        struct sigaction sa = {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        // A stand-in for the right click of the crash test, for scripts.
        sigaction(SIGUSR1, &sa, nullptr);
        m_signalThread = std::thread([this] {
            KWCrashHandler::PrepareCurrentThread();
            char c = 0;
            while (read(g_signalPipe[0], &c, 1) == 1 && c != 'q')
                Post(c == 'c' ? VLStudentWnd::WM_CRASH_TEST : VLStudentWnd::WM_END_SESSION);
        });
    }

    std::string m_automationSocket;
    std::unique_ptr<UIAutomationServer> m_automation;
    std::mutex m_mutex;  // guards m_window, cleared when the window is gone
    VLStudentWnd* m_window = nullptr;
    std::thread m_signalThread;
    std::atomic<int> m_raises{0};
};

}  // namespace

std::unique_ptr<IVLMainWindowHost> CreateStudentWindowHost(const std::string& automationSocket) {
    return std::make_unique<VLStudentWindowHost>(automationSocket);
}

}  // namespace KwLib
