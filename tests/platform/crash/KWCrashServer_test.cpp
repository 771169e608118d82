#include "platform/crash/KWCrashServer.h"

#include <gtest/gtest.h>
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
    int SendReport(const std::string& stream) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
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
