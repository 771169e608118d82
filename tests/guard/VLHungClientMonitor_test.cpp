// The guard's monitor of a hung client, on stand-in programs named as the client:
// what it ends, what it leaves alone, the arguments it starts again with and the
// limit on restarts.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "guard/VLHungClientMonitor.h"
#include "platform/common/KWAliveRecord.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWProcess.h"
#include "platform/common/KWStringToken.h"

using namespace KwLib;
namespace fs = std::filesystem;

namespace {
bool WaitFor(const std::function<bool()>& done, int seconds = 15) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

class HungClient : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("vlhung_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_client = (m_dir / "VLStudent").string();
        fs::copy_file(VL_STANDIN_PATH, m_client);
        m_log = (m_dir / "standin.log").string();
    }
    void TearDown() override {
        for (const auto& line : Starts())
            kill(std::stoi(line[0]), SIGKILL);
        fs::remove_all(m_dir);
    }
    VLHungClientMonitor::Settings Settings(const std::vector<std::string>& extraEnv = {}) {
        VLHungClientMonitor::Settings s;
        s.alivePath = (m_dir / "VLStudent.alive").string();
        s.clientPath = m_client;
        s.environment = {"VL_STANDIN_LOG=" + m_log};
        s.environment.insert(s.environment.end(), extraEnv.begin(), extraEnv.end());
        s.graceMs = 2000;
        return s;
    }
    // Each start of the stand-in: pid, program, arguments.
    std::vector<std::vector<std::string>> Starts() const {
        std::vector<std::vector<std::string>> starts;
        std::vector<std::string> lines;
        KWStringToken::StringToArray(KWFile::ReadAll(m_log).value_or(""), "\n", lines);
        for (const std::string& line : lines) {
            std::vector<std::string> fields;
            KWStringToken::StringToArray(line, "\t", fields);
            if (!fields.empty())
                starts.push_back(fields);
        }
        return starts;
    }
    // A record that says `pid` has been busy for `busyMs` (past its 15 s limit unless said).
    void WriteHung(pid_t pid, uint64_t now, bool holding = true, uint64_t busyMs = 20000) {
        KWAliveState s;
        s.pid = pid;
        s.holding = holding;
        s.endAfterMs = 15000;
        s.heartbeatMs = now;
        s.busySinceMs = now - busyMs;
        ASSERT_TRUE(KWAliveRecord::Write((m_dir / "VLStudent.alive").string(), s));
    }
    pid_t StartClient(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
        KWProcess::SpawnOptions options;
        options.environment = std::vector<std::string>{"VL_STANDIN_LOG=" + m_log};
        options.environment->insert(options.environment->end(), extraEnv.begin(), extraEnv.end());
        const size_t before = Starts().size();
        const pid_t pid = KWProcess::Spawn(m_client, args, options);
        EXPECT_TRUE(WaitFor([&] { return Starts().size() == before + 1; }));
        return pid;
    }
    static bool Gone(pid_t pid) {
        auto stat = KWFile::ReadAll("/proc/" + std::to_string(pid) + "/stat");
        return !stat || stat->find(") Z") != std::string::npos;
    }

    fs::path m_dir;
    std::string m_client, m_log;
};

TEST_F(HungClient, AHungClientIsEndedAndStartedAgainWithItsArgumentsAtMostThreeTimes) {
    VLHungClientMonitor monitor(Settings());
    pid_t pid = StartClient({"-automation=/run/a b.sock", "-role=3", "-id=17"});
    uint64_t now = KWAliveRecord::NowMs();
    for (int round = 1; round <= 4; ++round) {
        WriteHung(pid, now);
        // Seen hung once is not enough: a read may meet a record half written.
        monitor.Check(now);
        EXPECT_FALSE(Gone(pid));
        monitor.Check(now + 1000);
        EXPECT_EQ(monitor.Ended(), round);
        ASSERT_TRUE(WaitFor([&] { return Gone(pid); })) << "SIGABRT did not end it";
        monitor.Check(now + 2000);
        now += 3000;
        if (round == 4)
            break;
        ASSERT_EQ(monitor.Restarts(), round);
        ASSERT_TRUE(WaitFor([&] { return Starts().size() == static_cast<size_t>(round + 1); }));
        const auto starts = Starts();
        EXPECT_EQ(std::vector<std::string>(starts.back().begin() + 1, starts.back().end()),
                  (std::vector<std::string>{m_client, "-automation=/run/a b.sock", "-role=3", "-id=17"}));
        pid = std::stoi(starts.back()[0]);
    }
    // The fourth hang within ten minutes: ended, not started again.
    EXPECT_EQ(monitor.Restarts(), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Starts().size(), 4u);
}

TEST_F(HungClient, AClientThatIgnoresSigabrtGetsSigkillAfterTheGraceTime) {
    VLHungClientMonitor monitor(Settings());
    const pid_t pid = StartClient({}, {"VL_STANDIN_IGNORE_ABRT=1"});
    const uint64_t now = KWAliveRecord::NowMs();
    WriteHung(pid, now);
    monitor.Check(now);
    monitor.Check(now + 1000);
    ASSERT_EQ(monitor.Ended(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(Gone(pid));
    monitor.Check(now + 2000);  // within the grace time
    EXPECT_FALSE(Gone(pid));
    monitor.Check(now + 3000);
    ASSERT_TRUE(WaitFor([&] { return Gone(pid); }));
    monitor.Check(now + 4000);
    EXPECT_EQ(monitor.Restarts(), 1);
}

TEST_F(HungClient, NothingElseIsEverEnded) {
    VLHungClientMonitor monitor(Settings());
    const pid_t pid = StartClient({});
    uint64_t now = KWAliveRecord::NowMs();
    auto twice = [&] {
        monitor.Check(now);
        monitor.Check(now + 1000);
        now += 2000;
    };
    // Not holding the keyboard: however long it hangs.
    WriteHung(pid, now, /*holding=*/false);
    twice();
    // Busy, but within its limit.
    WriteHung(pid, now, /*holding=*/true, /*busyMs=*/5000);
    twice();
    // A record naming a process that is not the client (a reused pid, or a forged record).
    WriteHung(getpid(), now);
    twice();
    WriteHung(getppid(), now);
    twice();
    // No record at all.
    fs::remove(m_dir / "VLStudent.alive");
    twice();
    EXPECT_EQ(monitor.Ended(), 0);
    EXPECT_FALSE(Gone(pid));
}
}  // namespace
