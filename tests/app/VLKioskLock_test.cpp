// The exam holds the keyboard: the real client on an X display, another X
// program (vl_keywatch) standing for the desktop's window manager with Alt+Tab,
// Super and x as its shortcuts, and xdotool pressing keys as a student would.
// While an exam page is shown the shortcuts never reach the other program and
// the focus comes back to the exam; a UI thread made to hang lets the keyboard
// go; after the finished page, and before sign-in, the keys reach the desktop.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/common/KWFile.h"
#include "platform/common/KWJson.h"
#include "tests/app/VLRealClient.h"
#include "tools/vl-drive/VLAnswerChecks.h"
#include "tools/vl-drive/VLExamDriver.h"

namespace KwLib {
namespace {

using TestSupport::VLRealClient;
using Clock = std::chrono::steady_clock;

std::string DisplayOf(const std::vector<std::string>& env) {
    for (const std::string& e : env)
        if (e.rfind("DISPLAY=", 0) == 0)
            return e.substr(8);
    return {};
}

// Runs a program to its end with DISPLAY set; its exit status.
int RunProgram(const std::string& display, std::vector<std::string> argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", display.c_str(), 1);
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The stand-in window manager, talked to over its standard input and output.
class KeyWatch {
public:
    explicit KeyWatch(const std::string& display) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            setenv("DISPLAY", display.c_str(), 1);
            execl(VL_KEYWATCH_PATH, "vl_keywatch", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
        const std::string first = ReadLine(10000);
        if (first.rfind("window ", 0) == 0)
            m_window = first.substr(7);
    }
    ~KeyWatch() {
        if (m_in >= 0)
            close(m_in);
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }
    const std::string& Window() const { return m_window; }

    // The keys that reached it since the last call, once it has caught up with the X server.
    std::vector<std::string> Keys() {
        std::vector<std::string> keys;
        if (write(m_in, "sync\n", 5) != 5)
            return keys;
        for (;;) {
            const std::string line = ReadLine(10000);
            if (line.empty() || line == "synced")
                break;
            if (line.rfind("key ", 0) == 0)
                keys.push_back(line.substr(4));
        }
        return keys;
    }

private:
    std::string ReadLine(int timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t nl = m_buffer.find('\n');
            if (nl != std::string::npos) {
                std::string line = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return line;
            }
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            pollfd fd{m_out, POLLIN, 0};
            if (left <= 0 || poll(&fd, 1, left) <= 0)
                return {};
            char buf[256];
            const ssize_t n = read(m_out, buf, sizeof buf);
            if (n <= 0)
                return {};
            m_buffer.append(buf, static_cast<size_t>(n));
        }
    }

    pid_t m_pid = -1;
    int m_in = -1, m_out = -1;
    std::string m_buffer, m_window;
};

class KioskLock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_box.Ready()) << m_box.Error();
        m_display = DisplayOf(m_box.Env());
        if (m_display.empty())
            GTEST_SKIP() << "no X display (Xvfb is missing)";
        // One judgement question: the exam is short.
        ASSERT_TRUE(m_box.Sim().KeepItems({"203"}));
        ASSERT_TRUE(m_box.StartClient({"-automation=" + m_box.Socket()}));
        m_driver = std::make_unique<VLExamDriver>(Options());
        ASSERT_TRUE(m_driver->Connect()) << m_driver->LastError() << m_box.ReadClientOutput();
    }

    VLDriveOptions Options() {
        VLDriveOptions options;
        options.socket = m_box.Socket();
        options.student = "1001";
        options.timeoutSeconds = 300;
        return options;
    }

    KWJsonValue State() {
        KWJsonValue state;
        m_driver->State(state);
        return state;
    }

    // Polls the client's state until `done` says so (or a minute passes).
    bool WaitFor(const std::function<bool(const KWJsonValue&)>& done) {
        const auto end = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < end) {
            if (done(State()))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    void Press(const std::string& keys) { ASSERT_EQ(RunProgram(m_display, {"xdotool", "key", keys}), 0); }

    std::string Log() const { return KWFile::ReadAll((m_box.root / "tmp/VireloLog/vl.log").string()).value_or(""); }

    VLRealClient m_box;
    std::string m_display;
    std::unique_ptr<VLExamDriver> m_driver;
};

TEST_F(KioskLock, ExamPagesHoldTheKeyboardAndTheFocusAHangAndTheFinishedPageLetItGo) {
    KeyWatch desktop(m_display);
    ASSERT_FALSE(desktop.Window().empty()) << "vl_keywatch did not start";

    // The sign-in holds nothing: the desktop's shortcuts work.
    ASSERT_TRUE(WaitFor([](const KWJsonValue& s) { return s["screen"].asInt() == 2; }));
    EXPECT_FALSE(State()["keyboardLocked"].asBool());
    Press("x");
    EXPECT_EQ(desktop.Keys(), std::vector<std::string>{"x"});

    // Signed in and on the question: the keyboard is the exam's.
    VLDriveOptions upToQuestion = Options();
    upToQuestion.stop = [](const KWJsonValue& s) { return s["page"].asInt() == 5; };
    VLExamDriver signIn(upToQuestion);
    ASSERT_EQ(signIn.Run(), 3) << signIn.LastError() << m_box.ReadClientOutput();
    ASSERT_TRUE(WaitFor([](const KWJsonValue& s) { return s["holdsKeyboard"].asBool(); })) << Log();
    Press("alt+Tab");
    Press("super");
    Press("x");
    EXPECT_TRUE(desktop.Keys().empty()) << "a shortcut left the exam";

    // Another program takes the focus: the loss is logged and counted, the
    // focus and the keyboard come back, and the count is stored with the answers.
    ASSERT_EQ(RunProgram(m_display, {"xdotool", "windowfocus", desktop.Window()}), 0);
    ASSERT_TRUE(WaitFor([](const KWJsonValue& s) {
        return s["focusLosses"].asInt() == 1 && s["holdsKeyboard"].asBool();
    })) << Log();
    EXPECT_NE(Log().find("lost the focus to another program"), std::string::npos);
    KWJsonValue answers;
    ASSERT_TRUE(m_driver->Cmd(R"({"cmd":"answers"})", &answers));
    ASSERT_EQ(answers["stored"].size(), 1u) << KWJsonWriter::Write(answers);
    EXPECT_EQ(answers["stored"][0]["focuslosses"].asInt(), 1) << KWJsonWriter::Write(answers);
    Press("x");
    EXPECT_TRUE(desktop.Keys().empty()) << "the focus came back without the keyboard";

    // The UI thread hangs: the keyboard is let go while it still hangs, and
    // taken up again once it answers.
    ASSERT_TRUE(m_driver->Cmd(R"({"cmd":"hang","ms":20000})"));
    std::vector<std::string> during;
    const auto end = Clock::now() + std::chrono::seconds(40);
    while (during.empty() && Clock::now() < end) {
        Press("x");
        during = desktop.Keys();
        if (during.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    EXPECT_EQ(during, std::vector<std::string>{"x"}) << "the keyboard stayed held by a hung client";
    const std::string logDuring = Log();
    EXPECT_NE(logDuring.find("the keyboard is released"), std::string::npos) << logDuring;
    EXPECT_EQ(logDuring.find("the keyboard is held again"), std::string::npos)
        << "the key went through only after the hang";
    ASSERT_TRUE(WaitFor([](const KWJsonValue& s) { return s["holdsKeyboard"].asBool(); }));
    EXPECT_NE(Log().find("the keyboard is held again"), std::string::npos);
    Press("x");
    EXPECT_TRUE(desktop.Keys().empty()) << "the keyboard was not taken up again after the hang";

    // Handed in: the finished page holds nothing.
    VLExamDriver rest(Options());
    ASSERT_EQ(rest.Run(), 0) << rest.LastError() << m_box.ReadClientOutput();
    ASSERT_TRUE(WaitFor([](const KWJsonValue& s) { return s["page"].asInt() == 8 && !s["keyboardLocked"].asBool(); }));
    EXPECT_FALSE(State()["holdsKeyboard"].asBool());
    Press("alt+Tab");
    Press("x");
    EXPECT_EQ(desktop.Keys(), (std::vector<std::string>{"Tab", "x"}));
}

// A client that stays hung on an exam page is ended by the real guard and
// started again with its arguments; the student signs in again and the exam
// goes on with the answer given before the hang.
TEST(HungClient, AClientThatStaysHungIsEndedAndStartedAgainAndTheExamGoesOnWithItsAnswers) {
    VLRealClient box(/*realGuard=*/true);
    ASSERT_TRUE(box.Ready()) << box.Error();
    const std::string display = DisplayOf(box.Env());
    if (display.empty())
        GTEST_SKIP() << "no X display (Xvfb is missing)";
    ASSERT_TRUE(box.Sim().KeepItems({"102", "203"}));
    // The keyboard is let go after 2 s of a hang; on X11 the guard ends the client after 6 s.
    std::vector<std::string> env = box.Env();
    env.push_back("VL_UI_HANG_LIMIT_MS=2000");
    ASSERT_TRUE(box.Client().Start(box.ClientProgram(), {"-automation=" + box.Socket()}, env, box.ClientOutput()));
    const pid_t first = box.Client().Pid();
    const std::string log = (box.root / "tmp/VireloLog/vl.log").string();
    auto options = [&] {
        VLDriveOptions o;
        o.socket = box.Socket();
        o.student = "1002";
        o.timeoutSeconds = 240;
        return o;
    };

    // The first question answered, the second on screen.
    VLDriveOptions upToSecond = options();
    upToSecond.stop = [](const KWJsonValue& s) { return s["page"].asInt() == 5 && s["index"].asInt() == 1; };
    VLExamDriver driver(upToSecond);
    ASSERT_EQ(driver.Run(), 3) << driver.LastError() << box.ReadClientOutput();
    KWJsonValue answers;
    ASSERT_TRUE(driver.Cmd(R"({"cmd":"answers"})", &answers));
    // The answer of question 102 in the rows of user.db the client reports.
    auto storedOf102 = [](const KWJsonValue& reply) {
        std::string stored;
        for (const KWJsonValue& row : reply["stored"])
            for (const KWJsonValue& item : row["answerlist"])
                if (item["id"].asString() == "102")
                    stored = item["answer"].asString();
        return stored;
    };
    const std::string given = storedOf102(answers);
    ASSERT_FALSE(given.empty()) << KWJsonWriter::Write(answers);
    KWJsonValue state;
    ASSERT_TRUE(driver.State(state));
    ASSERT_TRUE(state["holdsKeyboard"].asBool());

    // It hangs for longer than a student would wait: the guard ends it (its crash
    // handler's dump shows where it hung) and starts it again.
    ASSERT_TRUE(driver.Cmd(R"({"cmd":"hang","ms":120000})"));
    const auto status = box.Client().Wait(40000);
    ASSERT_TRUE(status.has_value()) << "the hung client was not ended\n" << KWFile::ReadAll(log).value_or("");
    EXPECT_TRUE(WIFSIGNALED(*status)) << *status;
    auto logHas = [&](const std::string& text) {
        const auto end = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < end) {
            if (KWFile::ReadAll(log).value_or("").find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    };
    EXPECT_TRUE(logHas("pid " + std::to_string(first) + ") holds the keyboard and has not answered"))
        << KWFile::ReadAll(log).value_or("");
    EXPECT_TRUE(logHas("the client is started again")) << KWFile::ReadAll(log).value_or("");
    // The dump of the hung client reached the guard.
    EXPECT_TRUE(logHas("dump of pid " + std::to_string(first))) << KWFile::ReadAll(log).value_or("");

    // The new client comes up on the same channel; signed in again, it shows the
    // exam with the answer given before the hang, and the exam goes on to the end.
    VLDriveOptions resumed = options();
    resumed.stop = [](const KWJsonValue& s) { return s["page"].asInt() == 5; };
    VLExamDriver again(resumed);
    ASSERT_EQ(again.Run(), 3) << again.LastError() << KWFile::ReadAll(log).value_or("");
    KWJsonValue back;
    ASSERT_TRUE(again.Cmd(R"({"cmd":"answers"})", &back));
    EXPECT_EQ(storedOf102(back), given) << KWJsonWriter::Write(back);
    VLExamDriver rest(options());
    ASSERT_EQ(rest.Run(), 0) << rest.LastError() << KWFile::ReadAll(log).value_or("");
    const KWJsonValue records = box.Sim().GetRecords();
    const KWJsonValue* result = VLAnswerChecks::LatestResult(records, 0, "1002");
    ASSERT_NE(result, nullptr);
    const std::string sent = (*result)["fields"]["result"].asString();
    EXPECT_NE(sent.find("102:"), std::string::npos) << sent;
    EXPECT_NE(sent.find("203:"), std::string::npos) << sent;
}

}  // namespace
}  // namespace KwLib
