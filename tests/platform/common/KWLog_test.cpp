#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/common/KWFile.h"
#include "platform/common/KWLog.h"

using namespace KwLib;

namespace {
void LogSomething(int n) {
    VL_LOG_DEBUG("value %d and 音乐", n);
}
}  // namespace

TEST(LogImpl, LinesCarryLevelFunctionFileAndLineAndAppend) {
    auto dir = std::filesystem::temp_directory_path() / ("kwlog" + std::to_string(getpid()));
    std::string path = (dir / "VireloLog" / "vl.log").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "VireloLog");
    ASSERT_TRUE(KWFile::WriteAtomic(path, "earlier line\n"));

    ASSERT_TRUE(LogImpl::Instance().Init(path));
    LogSomething(42);
    // Programs started later must not inherit the open log file.
    int logFds = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) != std::filesystem::canonical(path))
            continue;
        ++logFds;
        EXPECT_TRUE(fcntl(std::atoi(entry.path().filename().c_str()), F_GETFD) & FD_CLOEXEC);
    }
    EXPECT_EQ(logFds, 1);
    LogImpl::Instance().Shutdown();
    VL_LOG_ERROR("after shutdown");  // dropped, not crashing

    auto text = KWFile::ReadAll(path);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->rfind("earlier line\n", 0), 0u);
    EXPECT_NE(text->find("DEBUG"), std::string::npos);
    EXPECT_NE(text->find("LogSomething(int)"), std::string::npos);
    EXPECT_NE(text->find("KWLog_test.cpp:"), std::string::npos);
    EXPECT_NE(text->find("value 42 and 音乐"), std::string::npos);
    EXPECT_EQ(text->find("after shutdown"), std::string::npos);

    // A link planted at the log's name is not followed.
    std::string victim = (dir / "victim.txt").string();
    ASSERT_TRUE(KWFile::WriteAtomic(victim, "keep\n"));
    std::filesystem::remove(path);
    std::filesystem::create_symlink(victim, path);
    EXPECT_FALSE(LogImpl::Instance().Init(path));
    VL_LOG_ERROR("must not reach the victim");
    LogImpl::Instance().Shutdown();
    EXPECT_EQ(KWFile::ReadAll(victim).value_or(""), "keep\n");
    std::filesystem::remove_all(dir);
}
