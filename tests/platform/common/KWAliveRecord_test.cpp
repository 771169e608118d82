#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/common/KWAliveRecord.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWProcess.h"

using namespace KwLib;
namespace fs = std::filesystem;

namespace {
fs::path Dir() {
    fs::path dir = fs::temp_directory_path() /
                   ("kwalive_" + std::to_string(getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}
}  // namespace

TEST(KWAliveRecord, APublishedRecordIsReadBackAsItIsWrittenAndReplacesAnEarlierProgramsFile) {
    const fs::path dir = Dir();
    const std::string path = (dir / "VLStudent.alive").string();
    // An earlier program's record, still naming it.
    KWAliveState old;
    old.pid = 1;
    old.holding = true;
    old.endAfterMs = 5;
    old.heartbeatMs = 1;
    ASSERT_TRUE(KWAliveRecord::Write(path, old));
    {
        KWAliveRecord record;
        ASSERT_TRUE(record.Publish(path));
        auto state = KWAliveRecord::Read(path);
        ASSERT_TRUE(state);
        EXPECT_EQ(state->pid, getpid());
        EXPECT_FALSE(state->holding);
        EXPECT_EQ(state->heartbeatMs, 0u);

        record.SetHolding(true, true, 45000);
        record.Heartbeat(1234567);
        record.Busy(1230000);
        state = KWAliveRecord::Read(path);
        ASSERT_TRUE(state);
        EXPECT_TRUE(state->holding);
        EXPECT_TRUE(state->releasesItself);
        EXPECT_EQ(state->endAfterMs, 45000u);
        EXPECT_EQ(state->heartbeatMs, 1234567u);
        EXPECT_EQ(state->busySinceMs, 1230000u);
        EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    }
    fs::remove_all(dir);
}

TEST(KWAliveRecord, WhatIsNotARecordIsNothing) {
    const fs::path dir = Dir();
    const std::string path = (dir / "r").string();
    EXPECT_FALSE(KWAliveRecord::Read(path));  // missing
    ASSERT_TRUE(KWFile::WriteAtomic(path, "short"));
    EXPECT_FALSE(KWAliveRecord::Read(path));
    ASSERT_TRUE(KWFile::WriteAtomic(path, std::string(40, 'x')));  // no magic
    EXPECT_FALSE(KWAliveRecord::Read(path));
    // A link another program left in the folder is not followed, by the reader or the writer.
    KWAliveState state;
    state.pid = getpid();
    ASSERT_TRUE(KWAliveRecord::Write((dir / "real").string(), state));
    fs::create_symlink(dir / "real", dir / "link");
    EXPECT_FALSE(KWAliveRecord::Read((dir / "link").string()));
    EXPECT_FALSE(KWAliveRecord::Write((dir / "link").string(), state));
    fs::remove_all(dir);
}

TEST(KWAliveRecord, OnlyAProgramThatHoldsTheKeyboardAndIsBusyOrSilentTooLongIsHung) {
    KWAliveState s;
    s.pid = 42;
    s.holding = true;
    s.endAfterMs = 15000;
    s.heartbeatMs = 100000;
    s.busySinceMs = 90000;
    EXPECT_FALSE(KWAliveRecord::IsHung(s, 100000));  // busy 10 s: within the limit
    EXPECT_FALSE(KWAliveRecord::IsHung(s, 105000));  // 15 s exactly is still within it
    EXPECT_TRUE(KWAliveRecord::IsHung(s, 105001));
    s.busySinceMs = 0;  // waiting for events, the watchdog beating: fine however long
    EXPECT_FALSE(KWAliveRecord::IsHung(s, 110000));
    // The whole program silent (stopped, or its watchdog stuck too).
    EXPECT_TRUE(KWAliveRecord::IsHung(s, 115001));
    s.busySinceMs = 90000;
    s.holding = false;  // sign-in or the finished page: a hang locks nothing
    EXPECT_FALSE(KWAliveRecord::IsHung(s, 200000));
    s.holding = true;
    s.heartbeatMs = 0;  // its watchdog never ran
    EXPECT_FALSE(KWAliveRecord::IsHung(s, 200000));
}

TEST(KWProcess, HasOpenTellsAFileAProcessHoldsByTheFileNotItsName) {
    const fs::path dir = Dir();
    const std::string path = (dir / "lock").string();
    ASSERT_TRUE(KWFile::WriteAtomic(path, ""));
    EXPECT_FALSE(KWProcess::HasOpen(getpid(), path));
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(KWProcess::HasOpen(getpid(), path));
    EXPECT_TRUE(KWProcess::HasOpen(getpid(), (dir / "." / "lock").string()));
    close(fd);
    EXPECT_FALSE(KWProcess::HasOpen(getpid(), path));
    EXPECT_FALSE(KWProcess::HasOpen(getpid(), (dir / "missing").string()));
    fs::remove_all(dir);
}
