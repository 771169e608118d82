#include "platform/crash/KWCrashHandler.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/crash/KWCrashWire.h"
#include "tests/guard/VLTestProcess.h"

namespace KwLib {
namespace {

using TestSupport::VLTestProcess;
using TestSupport::WaitUntil;

// A stand-in for the guard's socket that keeps what one client sent and
// answers only when the test says so.
class ReportCollector {
public:
    explicit ReportCollector(const std::string& path) : m_path(path) {
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(listen(m_fd, 4), 0);
        m_thread = std::thread([this] {
            int client = accept(m_fd, nullptr, nullptr);
            if (client < 0)
                return;
            char buf[65536];
            ssize_t n;
            while ((n = read(client, buf, sizeof buf)) > 0)
                m_stream.append(buf, static_cast<size_t>(n));
            m_complete = true;
            while (!m_release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            char ack = kCrashWireAck;
            write(client, &ack, 1);
            close(client);
        });
    }
    ~ReportCollector() {
        m_release = true;
        shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
        unlink(m_path.c_str());
    }
    bool Complete() const { return m_complete; }
    void Acknowledge() { m_release = true; }
    const std::string& Stream() const { return m_stream; }

private:
    std::string m_path;
    int m_fd = -1;
    std::thread m_thread;
    std::string m_stream;
    std::atomic<bool> m_complete{false};
    std::atomic<bool> m_release{false};
};

class KWCrashHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vlcrash-XXXXXX";
        m_dir = std::string(mkdtemp(pattern)) + "/";
        m_socket = m_dir + "VLStudentServer";
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    bool StartVictim(VLTestProcess& victim, const std::string& mode) {
        return victim.Start(VL_CRASH_VICTIM, {mode, m_socket}, TestSupport::CrashHandlerEnv(),
                            m_dir + "victim.out", m_dir + "victim.err");
    }
    std::string m_dir;
    std::string m_socket;
};

TEST_F(KWCrashHandlerTest, TestCrashSendsRegistersStackAndMapThenWaitsForTheAnswer) {
    ReportCollector collector(m_socket);
    VLTestProcess victim;
    ASSERT_TRUE(StartVictim(victim, "segv"));
    ASSERT_TRUE(WaitUntil([&] { return collector.Complete(); }, 20000));
    // The report is complete, but without the guard's answer the client stays.
    EXPECT_TRUE(victim.IsRunning());

    KWCrashReportData report;
    std::string error;
    ASSERT_TRUE(KWCrashWire::Parse(collector.Stream(), report, &error)) << error;
    const KWCrashWireHeader& h = report.header;
    EXPECT_EQ(h.pid, victim.Pid());
    EXPECT_EQ(h.tid, victim.Pid());  // the main thread crashed
    EXPECT_EQ(h.signo, SIGSEGV);
    EXPECT_EQ(h.code, SEGV_MAPERR);
    EXPECT_EQ(h.faultAddress, KWCrashHandler::kTestCrashAddress);
    EXPECT_NE(h.instructionPointer, 0u);
#if defined(__x86_64__)
    EXPECT_EQ(h.arch, static_cast<uint32_t>(KWCrashArch::X86_64));
    EXPECT_EQ(h.gregCount, 23u);
    EXPECT_EQ(h.gregs[16], h.instructionPointer);  // REG_RIP
    EXPECT_EQ(h.hasFpregs, 1u);
#endif
    // The stack starts at (or just below) the stack pointer and holds bytes.
    EXPECT_GT(report.stack.size(), 256u);
    EXPECT_EQ(report.stack.size(), h.stackSize);
    EXPECT_LE(h.stackStart, h.stackPointer);
    EXPECT_LT(h.stackPointer, h.stackStart + h.stackSize);
    EXPECT_NE(report.maps.find("[stack]"), std::string::npos);
    EXPECT_NE(report.maps.find(std::filesystem::canonical(VL_CRASH_VICTIM).string()), std::string::npos);

    collector.Acknowledge();
    auto status = victim.Wait(20000);
    ASSERT_TRUE(status.has_value());
    // Afterwards the signal takes its previous course: the process does not go on.
    EXPECT_FALSE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(std::string(), [&] {
        std::ifstream in(m_dir + "victim.out");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }());
}

TEST_F(KWCrashHandlerTest, AbortStackOverflowAndOtherThreadsAreReportedToo) {
    {
        ReportCollector collector(m_socket);
        VLTestProcess victim;
        ASSERT_TRUE(StartVictim(victim, "abort"));
        ASSERT_TRUE(WaitUntil([&] { return collector.Complete(); }, 20000));
        collector.Acknowledge();
        auto status = victim.Wait(20000);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT);
        KWCrashReportData report;
        ASSERT_TRUE(KWCrashWire::Parse(collector.Stream(), report));
        EXPECT_EQ(report.header.signo, SIGABRT);
        EXPECT_GT(report.stack.size(), 0u);
    }
    {
        ReportCollector collector(m_socket);
        VLTestProcess victim;
        ASSERT_TRUE(StartVictim(victim, "overflow"));
        ASSERT_TRUE(WaitUntil([&] { return collector.Complete(); }, 30000));
        collector.Acknowledge();
        auto status = victim.Wait(20000);
        ASSERT_TRUE(status.has_value());
        EXPECT_FALSE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
        KWCrashReportData report;
        ASSERT_TRUE(KWCrashWire::Parse(collector.Stream(), report));
        EXPECT_EQ(report.header.signo, SIGSEGV);
    }
    {
        // A worker started the way the program starts them (KWThread) has its
        // own signal stack without doing anything for it.
        ReportCollector collector(m_socket);
        VLTestProcess victim;
        ASSERT_TRUE(StartVictim(victim, "worker-overflow"));
        ASSERT_TRUE(WaitUntil([&] { return collector.Complete(); }, 30000));
        collector.Acknowledge();
        ASSERT_TRUE(victim.Wait(20000).has_value());
        KWCrashReportData report;
        ASSERT_TRUE(KWCrashWire::Parse(collector.Stream(), report));
        EXPECT_EQ(report.header.signo, SIGSEGV);
        EXPECT_EQ(report.header.pid, victim.Pid());
        EXPECT_NE(report.header.tid, victim.Pid());
    }
    {
        ReportCollector collector(m_socket);
        VLTestProcess victim;
        ASSERT_TRUE(StartVictim(victim, "thread"));
        ASSERT_TRUE(WaitUntil([&] { return collector.Complete(); }, 20000));
        collector.Acknowledge();
        ASSERT_TRUE(victim.Wait(20000).has_value());
        KWCrashReportData report;
        ASSERT_TRUE(KWCrashWire::Parse(collector.Stream(), report));
        EXPECT_EQ(report.header.pid, victim.Pid());
        EXPECT_NE(report.header.tid, victim.Pid());
        EXPECT_EQ(report.header.faultAddress, KWCrashHandler::kTestCrashAddress);
        EXPECT_GT(report.stack.size(), 256u);
    }
}

TEST_F(KWCrashHandlerTest, WithoutAGuardTheClientStillEndsAndWithoutCrashTestNothingHappens) {
    VLTestProcess victim;
    ASSERT_TRUE(StartVictim(victim, "segv"));
    auto status = victim.Wait(10000);  // well below the acknowledgement wait: nobody listens
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

    VLTestProcess calm;
    ASSERT_TRUE(StartVictim(calm, "disabled"));
    status = calm.Wait(20000);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST_F(KWCrashHandlerTest, AListenerOfAnotherUserGetsNothing) {
    // Without a runtime folder the socket sits in the shared temporary folder,
    // where another account may be listening under the guard's name.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to listen as another user";
    ASSERT_EQ(chmod(m_dir.c_str(), 0777), 0);
    int received[2];
    ASSERT_EQ(pipe(received), 0);
    pid_t listener = fork();
    ASSERT_GE(listener, 0);
    if (listener == 0) {
        // Another user's listener that keeps what it is sent and answers like a guard.
        long total = -1;
        if (setgid(65534) == 0 && setuid(65534) == 0) {
            int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strncpy(addr.sun_path, m_socket.c_str(), sizeof addr.sun_path - 1);
            if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 1) == 0) {
                chmod(m_socket.c_str(), 0777);
                write(received[1], "R", 1);
                int client = accept(fd, nullptr, nullptr);
                total = 0;
                char buf[65536];
                ssize_t n;
                while ((n = read(client, buf, sizeof buf)) > 0)
                    total += n;
                char ack = kCrashWireAck;
                send(client, &ack, 1, MSG_NOSIGNAL);
            }
        }
        write(received[1], &total, sizeof total);
        _exit(0);
    }
    struct EndListener {
        pid_t pid;
        ~EndListener() {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    } endListener{listener};
    close(received[1]);
    char ready = 0;
    ASSERT_EQ(read(received[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'R') << "the other user's listener could not start";

    VLTestProcess victim;
    ASSERT_TRUE(StartVictim(victim, "segv"));
    auto status = victim.Wait(20000);
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    long total = -2;
    EXPECT_EQ(read(received[0], &total, sizeof total), static_cast<ssize_t>(sizeof total));
    EXPECT_EQ(total, 0) << "bytes of the crashed process reached another user";
    close(received[0]);
}

TEST(KWCrashHandlerApi, SocketPathAndInstallLimits) {
    EXPECT_TRUE(KWCrashHandler::GetDefaultSocketPath().ends_with("/VLStudentServer"));
    EXPECT_FALSE(KWCrashHandler::Install(""));
    EXPECT_FALSE(KWCrashHandler::Install("/" + std::string(200, 'x')));
    EXPECT_FALSE(KWCrashHandler::IsInstalled());
    // Not enabled: the test crash is a no-op.
    KWCrashHandler::TriggerTestCrash();
    EXPECT_FALSE(KWCrashHandler::IsTestCrashEnabled());
}

TEST(KWCrashWire, RefusesStreamsThatDoNotAddUp) {
    KWCrashWireHeader h{};
    h.magic = kCrashWireMagic;
    h.version = kCrashWireVersion;
    h.headerSize = sizeof h;
    h.stackSize = 16;
    std::string good(reinterpret_cast<const char*>(&h), sizeof h);
    good += std::string(16, 's') + "maps text";
    KWCrashReportData out;
    ASSERT_TRUE(KWCrashWire::Parse(good, out));
    EXPECT_EQ(out.stack, std::string(16, 's'));
    EXPECT_EQ(out.maps, "maps text");

    std::string why;
    EXPECT_FALSE(KWCrashWire::Parse(good.substr(0, sizeof h + 8), out, &why)) << "stack cut short";
    EXPECT_FALSE(KWCrashWire::Parse(good.substr(0, 100), out, &why));
    auto patched = [&](auto change) {
        KWCrashWireHeader copy = h;
        change(copy);
        return std::string(reinterpret_cast<const char*>(&copy), sizeof copy) + good.substr(sizeof h);
    };
    EXPECT_FALSE(KWCrashWire::Parse(patched([](auto& c) { c.magic = 0; }), out));
    EXPECT_FALSE(KWCrashWire::Parse(patched([](auto& c) { c.version = 2; }), out));
    EXPECT_FALSE(KWCrashWire::Parse(patched([](auto& c) { c.gregCount = 99; }), out));
    EXPECT_FALSE(KWCrashWire::Parse(patched([](auto& c) { c.stackSize = kCrashWireMaxStack + 1; }), out));
    EXPECT_FALSE(KWCrashWire::Parse(patched([](auto& c) { c.stackStart = ~0ull; }), out));
}

}  // namespace
}  // namespace KwLib
