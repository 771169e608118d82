#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/common/KWBaseEvent.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWInstanceChannel.h"

using namespace KwLib;

namespace {
// A peer that says its request and hangs up without waiting for the answer.
void SendAndHangUp(const std::string& path, const std::string& text) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
}
}  // namespace

TEST(KWInstanceChannel, RequestsArriveAStaleSocketIsReplacedAndAVanishedPeerIsHarmless) {
    auto dir = std::filesystem::temp_directory_path() / ("kwchan" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string oldRun = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const std::string name = "VLStudentTest";
    std::string path = KWInstanceChannel::SocketPath(name);

    // Nobody listens: the sender learns it at once.
    EXPECT_FALSE(KWInstanceChannel::Send(name, "raise"));
    // A file left behind by a crashed holder of the single-instance lock.
    ASSERT_TRUE(KWFile::WriteAtomic(path, "stale"));

    std::mutex mutex;
    std::vector<std::string> received;
    KWBaseEvent arrived;
    arrived.Create(false, false);
    {
        KWInstanceChannel channel;
        ASSERT_TRUE(channel.Listen(name, [&](const std::string& request) {
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(request);
            arrived.Set();
        }));
        // Without a line end and gone before the answer: the listener must not die of SIGPIPE.
        SendAndHangUp(path, "raise");
        ASSERT_TRUE(arrived.Wait(10000));
        EXPECT_TRUE(KWInstanceChannel::Send(name, "raise"));
        ASSERT_TRUE(arrived.Wait(10000));
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(received, (std::vector<std::string>{"raise", "raise"}));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(KWInstanceChannel::Send(name, "raise"));

    if (oldRun.empty())
        unsetenv("XDG_RUNTIME_DIR");
    else
        setenv("XDG_RUNTIME_DIR", oldRun.c_str(), 1);
    std::filesystem::remove_all(dir);
}
