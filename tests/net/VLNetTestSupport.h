#pragma once
// Shared by the network tests: a simulator on free loopback ports with its own
// data folder, and a message queue that hands out owned payloads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "exam/VLDownloadTask.h"
#include "net/VLNetMessages.h"
#include "net/VLUploadTask.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWMessage.h"
#include "tools/platform-sim/VLSimServer.h"

namespace KwLib {

inline std::string MakeTestDir(const std::string& name) {
    std::string dir =
        KWFileSystemUtils::MyGetTempPath() + "vlnet-" + name + "-" + std::to_string(::getpid()) + "/";
    KWFilePathUtils::RemoveAll(dir);
    KWFilePathUtils::CreateDirectories(dir);
    return dir;
}

// Frees the heap payload a network message carries.
inline void DropPayload(const KWMessage& m) {
    switch (m.message) {
        case WM_DOWNLOAD_DONE:
        case WM_DOWNLOAD_FAILED:
            delete reinterpret_cast<VLDownloadTask*>(m.wParam);
            break;
        case WM_UPLOAD_DONE:
        case WM_UPLOAD_FAILED:
        case WM_UPLOAD_PROGRESS:
            delete reinterpret_cast<VLUploadTask*>(m.wParam);
            break;
        default:
            break;
    }
}

inline void DrainQueue(KWMessageQueue& queue) {
    while (auto m = queue.Take(std::chrono::milliseconds(0)))
        DropPayload(*m);
}

// One simulator per test suite: generating its sample files is the slow part.
class VLSimTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The in-process simulator writes to sockets whose client may have gone
        // (aborted transfers): that must be an error code, not the end of the test.
        std::signal(SIGPIPE, SIG_IGN);
        s_dir = MakeTestDir(::testing::UnitTest::GetInstance()->current_test_suite()->name());
        VLSimConfig config;
        config.m_dataDir = s_dir + "sim/";
        config.m_filesDir = std::string(VL_BINARY_DIR) + "/tests/sim-files/";
        config.m_apiPort = config.m_downloadPort = config.m_uploadPort = config.m_remotePort = 0;
        s_sim = new VLSimServer(config);
        std::string error;
        ASSERT_TRUE(s_sim->Start(&error)) << error;
    }
    static void TearDownTestSuite() {
        delete s_sim;
        s_sim = nullptr;
        KWFilePathUtils::RemoveAll(s_dir);
    }
    void SetUp() override {
        m_threadsAtStart = ThreadCount();
        if (!s_sim)
            GTEST_SKIP() << "simulator did not start";
        s_sim->ClearFaults();
        s_sim->ClearRecords();
        m_work = s_dir + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        KWFilePathUtils::CreateDirectories(m_work);
    }

    // Records of one kind, in arrival order.
    static KWJsonValue RecordsOfKind(const std::string& kind) {
        KWJsonValue out(Json::arrayValue);
        for (const auto& r : s_sim->GetRecords())
            if (r["kind"].asString() == kind)
                out.append(r);
        return out;
    }
    static std::string FileUrl(const std::string& name) { return s_sim->FileBase() + "/files/" + name; }
    static std::string ReadFile(const std::string& path) {
        return KWFile::ReadAll(path).value_or("<missing>");
    }

    // Threads of this process. Once the managers are released and the receivers
    // closed, the count is back where the test began: no worker is left that
    // could post to a receiver that has gone.
    static size_t ThreadCount() {
        size_t count = 0;
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            ++count;
        return count;
    }
    // Closes `queue` after its senders were released and checks that nothing
    // is left to post to it.
    void ExpectNoSenderLeft(KWMessageQueue& queue) {
        queue.Close();
        EXPECT_EQ(ThreadCount(), m_threadsAtStart) << "a worker outlived its Release";
        DrainQueue(queue);
        EXPECT_EQ(queue.RefusedPosts(), 0u);
    }

    static inline VLSimServer* s_sim = nullptr;
    static inline std::string s_dir;
    std::string m_work;
    size_t m_threadsAtStart = 0;
};

// How long Release may take while a transfer runs: it sets the abort byte,
// which libcurl's progress callback (called at least once a second, also while
// the server keeps quiet) turns into the end of the transfer; the download
// manager waits 1000 ms for its worker. The rest is room for a loaded machine.
constexpr std::chrono::milliseconds kReleaseBound{1000};
constexpr std::chrono::milliseconds kReleaseSlack{1500};

// Waits for the next message with the wanted number, skipping others (which it
// counts) so that a test can ignore progress reports.
inline std::optional<KWMessage> WaitFor(KWMessageQueue& queue, uint32_t message,
                                        std::chrono::milliseconds timeout = std::chrono::seconds(20),
                                        int* skipped = nullptr) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (true) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        auto m = queue.Take(left);
        if (!m)
            return std::nullopt;
        if (m->message == message)
            return m;
        if (skipped)
            ++*skipped;
        DropPayload(*m);
    }
}

}  // namespace KwLib
