#include "platform/crash/KWCrashServer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "tests/guard/VLTestProcess.h"

namespace KwLib {
namespace {

using TestSupport::WaitUntil;

class KWCrashServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vlcrashsrv-XXXXXX";
        m_dir = std::string(mkdtemp(pattern)) + "/";
        m_socket = m_dir + "VLStudentServer";
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // Sends `stream` as one client and returns the byte the server answered
    // with, or -1 when it closed without one.
    int SendReport(const std::string& stream, const timeval* wait = nullptr) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (wait) {
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, wait, sizeof *wait);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, wait, sizeof *wait);
        }
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, m_socket.c_str(), sizeof addr.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            return -2;
        }
        send(fd, stream.data(), stream.size(), MSG_NOSIGNAL);
        shutdown(fd, SHUT_WR);
        char answer = 0;
        ssize_t n = recv(fd, &answer, 1, 0);
        close(fd);
        return n == 1 ? answer : -1;
    }
    static std::string ValidStream(int32_t pid) {
        KWCrashWireHeader h{};
        h.magic = kCrashWireMagic;
        h.version = kCrashWireVersion;
        h.headerSize = sizeof h;
        h.pid = pid;
        h.signo = 11;
        h.stackSize = 8;
        return std::string(reinterpret_cast<const char*>(&h), sizeof h) + "STACK..." + "maps";
    }

    std::string m_dir;
    std::string m_socket;
};

TEST_F(KWCrashServerTest, AnswersValidReportsOnlyAndKeepsServing) {
    std::mutex mutex;
    std::vector<KWCrashReportData> reports;
    KWCrashServer server(m_socket, [&](const KWCrashReportData& r) {
        std::lock_guard<std::mutex> lock(mutex);
        reports.push_back(r);
    });
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(std::filesystem::status(m_socket).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    EXPECT_EQ(SendReport("not a crash report at all"), -1);
    std::string truncated = ValidStream(7);
    truncated.resize(truncated.size() - 10);
    EXPECT_EQ(SendReport(truncated), -1);
    EXPECT_EQ(SendReport(""), -1);
    EXPECT_EQ(SendReport(ValidStream(42)), kCrashWireAck);
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].header.pid, 42);
        EXPECT_EQ(reports[0].stack, "STACK...");
        EXPECT_EQ(reports[0].maps, "maps");
    }
    EXPECT_EQ(SendReport(ValidStream(43)), kCrashWireAck);
    server.Stop();
    EXPECT_FALSE(std::filesystem::exists(m_socket));
    EXPECT_EQ(SendReport(ValidStream(44)), -2);
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(KWCrashServerTest, AStaleSocketIsReplacedButNoOtherFile) {
    {
        // A socket file left behind by a server that ended without cleaning up.
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, m_socket.c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
    }
    std::atomic<int> count{0};
    {
        KWCrashServer server(m_socket, [&](const KWCrashReportData&) { ++count; });
        ASSERT_TRUE(server.Start());
        EXPECT_EQ(SendReport(ValidStream(1)), kCrashWireAck);
    }
    EXPECT_EQ(count, 1);

    std::ofstream(m_socket) << "a user's file";
    KWCrashServer server(m_socket, nullptr);
    EXPECT_FALSE(server.Start());
    std::ifstream in(m_socket);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a user's file");
    EXPECT_FALSE(KWCrashServer("/" + std::string(200, 'x'), nullptr).Start());
}

TEST_F(KWCrashServerTest, AClientThatNeverFinishesDoesNotHoldStop) {
    KWCrashServer server(m_socket, nullptr);
    ASSERT_TRUE(server.Start());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, m_socket.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    send(fd, "VLCR", 4, MSG_NOSIGNAL);  // and then nothing more
    server.Stop();                      // returns although the client is still connected
    EXPECT_FALSE(std::filesystem::exists(m_socket));
    close(fd);
}

}  // namespace
}  // namespace KwLib

namespace KwLib {
namespace {

// A connection to the server that sends nothing until told.
int ConnectSilently(const std::string& socketPath) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// True once the server has closed `fd`.
bool ClosedByServer(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0)
        return false;
    char c;
    return recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

TEST_F(KWCrashServerTest, SilentConnectionsNeitherDelayARealReportNorStayForever) {
    // Shorter than the crashing client's own wait for the answer.
    EXPECT_LT(KWCrashServer::kClientTimeoutMs, 15000);
    std::atomic<int> reports{0};
    KWCrashServer server(m_socket, [&](const KWCrashReportData&) { ++reports; });
    ASSERT_TRUE(server.Start());
    // Something of this user's holds a connection open and says nothing.
    std::vector<int> silent;
    for (int i = 0; i < 3; ++i)
        silent.push_back(ConnectSilently(m_socket));
    send(silent[1], "VLCR", 4, MSG_NOSIGNAL);
    // A real report is answered all the same, within the client's patience
    // (before, it waited behind them for 20 s each).
    timeval wait{5, 0};
    EXPECT_EQ(SendReport(ValidStream(42), &wait), kCrashWireAck);
    EXPECT_EQ(reports, 1);
    // The quiet ones are closed by the server once their time is up.
    EXPECT_TRUE(WaitUntil(
        [&] {
            bool all = true;
            for (int fd : silent)
                all = all && ClosedByServer(fd);
            return all;
        },
        KWCrashServer::kClientTimeoutMs + 5000));
    for (int fd : silent)
        close(fd);
}

TEST_F(KWCrashServerTest, AFullSocketPushesOutTheQuietestConnectionForANewOne) {
    std::atomic<int> reports{0};
    KWCrashServer server(m_socket, [&](const KWCrashReportData&) { ++reports; });
    ASSERT_TRUE(server.Start());
    std::vector<int> held;
    for (size_t i = 0; i < KWCrashServer::kMaxClients; ++i) {
        held.push_back(ConnectSilently(m_socket));
        WaitUntil([] { return false; }, 20);
    }
    // Each new connection beyond the limit closes the one quiet the longest.
    timeval wait{5, 0};
    EXPECT_EQ(SendReport(ValidStream(7), &wait), kCrashWireAck);
    EXPECT_TRUE(WaitUntil([&] { return ClosedByServer(held[0]); }, 5000));
    EXPECT_FALSE(ClosedByServer(held.back()));
    EXPECT_EQ(reports, 1);
    for (int fd : held)
        close(fd);
}

TEST_F(KWCrashServerTest, AReportLargerThanAnyClientSendsIsRefused) {
    std::atomic<int> reports{0};
    KWCrashServer server(m_socket, [&](const KWCrashReportData&) { ++reports; });
    ASSERT_TRUE(server.Start());
    KWCrashWireHeader h{};
    h.magic = kCrashWireMagic;
    h.version = kCrashWireVersion;
    h.headerSize = sizeof h;
    h.pid = 9;
    h.stackSize = 0;
    // Six megabytes of "maps", each line a module of its own in a dump.
    std::string maps;
    while (maps.size() < 6u * 1024 * 1024)
        maps +=
            "7f0000000000-7f0000001000 r--p 00000000 08:01 1 /usr/lib/x" + std::to_string(maps.size()) + "\n";
    timeval wait{10, 0};
    EXPECT_EQ(SendReport(std::string(reinterpret_cast<const char*>(&h), sizeof h) + maps, &wait), -1);
    EXPECT_EQ(reports, 0);
    EXPECT_LE(kCrashWireMaxMaps, 1024u * 1024u);
    // And one of the size a client sends still goes through.
    EXPECT_EQ(SendReport(std::string(reinterpret_cast<const char*>(&h), sizeof h) +
                             maps.substr(0, kCrashWireMaxMaps),
                         &wait),
              kCrashWireAck);
    EXPECT_EQ(reports, 1);
}

}  // namespace
}  // namespace KwLib
