// Starting the client for a page: ids, limits, and the environment it gets.
#include "guard/VLClientStarter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "guard/VLClientEnvironment.h"
#include "tests/guard/VLGuardSandbox.h"
#include "tests/guard/VLTestProcess.h"

namespace KwLib {
namespace {

namespace fs = std::filesystem;
using Outcome = VLClientStarter::Outcome;
using TestSupport::VLGuardSandbox;
using TestSupport::WaitUntil;

TEST(VLClientStarter, IdsAreDigitsOnly) {
    for (const char* id : {"17", "0", "00017", "12345678901234567890"})
        EXPECT_TRUE(VLClientStarter::IsValidId(id)) << id;
    for (const char* id : {"", "17&school_id=1#", "1 2", "-1", "+1", "17 ", "0x11", "1e3", "１７", "17\n",
                           "123456789012345678901", "17;rm", "../17"})
        EXPECT_FALSE(VLClientStarter::IsValidId(id)) << id;
}

class StarterTest : public ::testing::Test {
protected:
    // A client that records its arguments and environment and runs while the hold file exists.
    void SetUp() override {
        client = box.install + "bin/VLStudent";
        now = std::chrono::steady_clock::time_point(std::chrono::hours(1));
    }
    VLClientStarter MakeStarter(std::vector<std::string> env = {"HOME=/home/pupil", "STARTER_MARK=1"}) {
        return VLClientStarter(client, std::move(env), [this] { return now; });
    }
    bool Ended(VLClientStarter& starter) {
        return WaitUntil([&] { return !starter.AnyRunning(); }, 10000);
    }

    VLGuardSandbox box;
    std::string client;
    std::chrono::steady_clock::time_point now;
};

TEST_F(StarterTest, NothingStartsUnlessEveryIdIsValidAndThereAreAtMostTwo) {
    VLClientStarter starter = MakeStarter();
    EXPECT_EQ(starter.Start({}).outcome, Outcome::NothingToStart);
    EXPECT_EQ(starter.Start({"17", "17&school_id=1#"}).outcome, Outcome::BadId);
    EXPECT_EQ(starter.Start({"5 -role=0 -crashtest"}).outcome, Outcome::BadId);
    EXPECT_EQ(starter.Start({"1", "2", "3"}).outcome, Outcome::TooMany);
    EXPECT_EQ(starter.Start(std::vector<std::string>(1000, "17")).outcome, Outcome::TooMany);
    WaitUntil([] { return false; }, 200);
    EXPECT_TRUE(box.Records("VLStudent").empty());
    // None of those counted as a start: two clients go at once.
    const auto two = starter.Start({"1", "2"});
    EXPECT_EQ(two.outcome, Outcome::Started);
    EXPECT_EQ(two.pids.size(), 2u);
    ASSERT_TRUE(WaitUntil([&] { return box.Records("VLStudent").size() == 2; }, 10000));
    EXPECT_TRUE(Ended(starter));
}

TEST_F(StarterTest, NoNewStartWhileAClientRunsOrWithinThreeSecondsOfTheLast) {
    VLClientStarter starter = MakeStarter();
    box.HoldStartedPrograms(true);
    const auto first = starter.Start({"17"});
    ASSERT_EQ(first.outcome, Outcome::Started);
    ASSERT_EQ(first.pids.size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return box.Records("VLStudent").size() == 1; }, 10000));
    EXPECT_TRUE(starter.AnyRunning());
    // Long after the start, still refused while it runs.
    now += std::chrono::seconds(60);
    EXPECT_EQ(starter.Start({"18"}).outcome, Outcome::StillRunning);
    box.HoldStartedPrograms(false);
    ASSERT_TRUE(Ended(starter));
    EXPECT_EQ(starter.Start({"18"}).outcome, Outcome::Started);
    ASSERT_TRUE(Ended(starter));

    // Right after a start that ended at once: the pause holds, and says how long.
    now += std::chrono::milliseconds(1200);
    auto soon = starter.Start({"19"});
    EXPECT_EQ(soon.outcome, Outcome::TooSoon);
    EXPECT_EQ(soon.retryAfterSeconds, 2);
    now += std::chrono::milliseconds(1799);
    soon = starter.Start({"19"});
    EXPECT_EQ(soon.outcome, Outcome::TooSoon);
    EXPECT_EQ(soon.retryAfterSeconds, 1);
    now += std::chrono::milliseconds(1);
    EXPECT_EQ(starter.Start({"19"}).outcome, Outcome::Started);
    ASSERT_TRUE(WaitUntil([&] { return box.Records("VLStudent").size() == 3; }, 10000));
    ASSERT_TRUE(Ended(starter));
}

TEST_F(StarterTest, AClientThatCannotStartIsAFailureAndNoStart) {
    fs::remove(client);
    VLClientStarter starter = MakeStarter();
    EXPECT_EQ(starter.Start({"17"}).outcome, Outcome::StartFailed);
    EXPECT_FALSE(starter.AnyRunning());
    box.WriteFile(client, "#!/bin/sh\nexit 0\n");
    fs::permissions(client, fs::perms::owner_all);
    // The failed start did not start the pause.
    EXPECT_EQ(starter.Start({"17"}).outcome, Outcome::Started);
    EXPECT_TRUE(Ended(starter));
}

TEST_F(StarterTest, TheClientGetsTheGivenEnvironmentOnly) {
    VLClientStarter starter = MakeStarter();
    ASSERT_EQ(starter.Start({"17"}).outcome, Outcome::Started);
    ASSERT_TRUE(WaitUntil([&] { return box.Records("VLStudent").size() == 1; }, 10000));
    auto env = box.RecordedEnvironment("VLStudent");
    EXPECT_EQ(env["HOME"], "/home/pupil");
    EXPECT_EQ(env["STARTER_MARK"], "1");
    // Nothing of the test's own environment.
    EXPECT_EQ(env.count("VL_TEST"), 0u);
    EXPECT_EQ(env.count("LD_PRELOAD"), 0u);
    EXPECT_TRUE(Ended(starter));
}

TEST(VLClientEnvironment, TheInstalledGuardPassesOnlyWhatADesktopProgramNeeds) {
    std::vector<std::string> given = {
        "DISPLAY=:0", "WAYLAND_DISPLAY=wayland-0", "XAUTHORITY=/run/user/1000/xauth", "HOME=/home/pupil",
        "USER=pupil", "LANG=zh_CN.UTF-8", "LC_ALL=zh_CN.UTF-8", "LANGUAGE=zh_CN", "PATH=/usr/bin:/bin",
        "TMPDIR=/tmp/pupil", "TZ=Asia/Shanghai", "XDG_RUNTIME_DIR=/run/user/1000",
        "XDG_DATA_HOME=/home/pupil/d", "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus",
        "PULSE_SERVER=unix:/run/pulse", "SDL_AUDIODRIVER=pulseaudio", "SDL_VIDEODRIVER=x11",
        "GTK_IM_MODULE=fcitx", "XMODIFIERS=@im=fcitx",
        // Never: what changes how a program loads, or feeds it input.
        "LD_PRELOAD=/home/pupil/hook.so", "LD_LIBRARY_PATH=/home/pupil/lib", "LD_AUDIT=/x.so",
        "GCONV_PATH=/x", "PYTHONPATH=/x", "BASH_ENV=/x", "EVIL_SETTING=1", "XDG_=odd", "LC_=odd", "NOEQUALS",
        // Development switches.
        "VL_AUTOMATION_SOCKET=/run/user/1000/vl/auto.sock", "VL_UI_HEADLESS=1", "SDL_DISKAUDIOFILEIN=/x.raw",
        "ASAN_OPTIONS=detect_leaks=0"};
    std::vector<char*> environment;
    for (auto& entry : given)
        environment.push_back(entry.data());
    environment.push_back(nullptr);

    const auto package = VLClientEnvironment::Clean(environment.data(), false);
    const std::vector<std::string> expected(given.begin(), given.begin() + 19);
    EXPECT_EQ(package, expected);

    const auto development = VLClientEnvironment::Clean(environment.data(), true);
    std::vector<std::string> expectedDevelopment = expected;
    expectedDevelopment.insert(expectedDevelopment.end(), given.end() - 4, given.end());
    EXPECT_EQ(development, expectedDevelopment);
    EXPECT_TRUE(VLClientEnvironment::Clean(nullptr, true).empty());
}

}  // namespace
}  // namespace KwLib
