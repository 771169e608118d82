#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/common/KWFile.h"
#include "platform/common/KWProcess.h"

using namespace KwLib;

namespace {
// Polls for the result of another process; the bound only keeps a broken build from hanging.
bool WaitFor(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

bool Gone(pid_t pid) {
    return !std::filesystem::exists("/proc/" + std::to_string(pid));
}
}  // namespace

TEST(KWProcess, StartedProgramsInheritNoFilesNoBlockedSignalsAndAreReaped) {
    auto dir = std::filesystem::temp_directory_path() / ("kwproc" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string report = (dir / "report.txt").string();

    // An open file without close-on-exec, as libraries leave them, and a blocked
    // signal on the starting thread.
    int leaky = open((dir / "open.dat").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(leaky, 3);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    pid_t pid =
        KWProcess::Spawn("/bin/sh",
                         {"-c",
                          // Builtins first: the shell's mask as it started, before it forks anything.
                          "while read -r l; do case \"$l\" in SigBlk*) echo \"$l\" > sig.tmp;; esac; "
                          "done < /proc/self/status; ls /proc/$$/fd > fds.tmp; cat sig.tmp >> fds.tmp; "
                          "mv fds.tmp report.txt",
                          "sh"},
                         dir.string());
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(leaky);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitFor([&] { return KWFile::ReadAll(report).has_value(); }));

    std::string text = KWFile::ReadAll(report).value_or("");
    std::vector<std::string> fds;
    for (size_t pos = 0, next; (next = text.find('\n', pos)) != std::string::npos; pos = next + 1)
        fds.push_back(text.substr(pos, next - pos));
    ASSERT_FALSE(fds.empty());
    // The shell itself may hold one descriptor for its redirection; ours is not there.
    EXPECT_EQ(std::count(fds.begin(), fds.end(), std::to_string(leaky)), 0) << text;
    EXPECT_NE(text.find("SigBlk:\t0000000000000000"), std::string::npos) << text;

    // Nobody waits for it, yet it leaves no zombie behind.
    EXPECT_TRUE(WaitFor([&] { return Gone(pid); }));
    EXPECT_EQ(KWProcess::Spawn((dir / "missing").string(), {}), -1);
    std::filesystem::remove_all(dir);
}
