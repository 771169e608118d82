#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/client/VLGuardWatchdog.h"
#include "app/client/VLUpdaterLauncher.h"
#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "app/core/VLPaths.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWIniFile.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringConvert.h"
#include "tests/platform/common/KWThreadHookProbe.h"

using namespace KwLib;

namespace {
std::filesystem::path TestDir() {
    auto dir = std::filesystem::temp_directory_path() /
               ("vlapp_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Restores an environment variable when the test ends.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (old)
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};
}  // namespace

TEST(VLAppState, PlatformFileDecidesInner) {
    EXPECT_TRUE(IsInnerPlatformText("# comment\ninner\n# another comment\n"));
    EXPECT_FALSE(IsInnerPlatformText("inner\nouter\n"));
    EXPECT_TRUE(IsInnerPlatformText("INNER"));
    EXPECT_TRUE(IsInnerPlatformText("# edited on another system\r\ninner\r\n"));
    EXPECT_FALSE(IsInnerPlatformText(""));
    EXPECT_FALSE(IsInnerPlatformText("# inner\n"));
    EXPECT_FALSE(IsInnerPlatformText("inner \n"));
    EXPECT_FALSE(IsInnerPlatformText("#x\ninner\nproduction\n#y\n"));

    auto dir = TestDir();
    EXPECT_FALSE(IsInnerPlatform((dir / "missing.txt").string()));
    ASSERT_TRUE(KWFile::WriteAtomic((dir / "platform.txt").string(), "#c\ninner\n"));
    EXPECT_TRUE(IsInnerPlatform((dir / "platform.txt").string()));
    std::filesystem::remove_all(dir);
}

TEST(VLAppState, RunModeFromRoleAndInner) {
    EXPECT_EQ(DecideRunMode(false, "", false), 3);
    EXPECT_EQ(DecideRunMode(false, "", true), 4);
    EXPECT_EQ(DecideRunMode(true, "3", false), 5);
    EXPECT_EQ(DecideRunMode(true, "3", true), 6);
    EXPECT_EQ(DecideRunMode(true, "2", false), 0);
    EXPECT_EQ(DecideRunMode(true, "2", true), 0);
    EXPECT_EQ(DecideRunMode(true, "abc", false), 0);
    EXPECT_TRUE(IsInnerRunMode(2) && IsInnerRunMode(4) && IsInnerRunMode(6));
    EXPECT_FALSE(IsInnerRunMode(3) || IsInnerRunMode(5) || IsInnerRunMode(0));
    EXPECT_EQ(GetClientVersion(), "1.7.1.1393");
}

TEST(VLAppState, UserAgentCarriesTheSystemReleaseAndKeepsWithinItsLimit) {
    // The release numbers as uname(2) reports them, read here on their own.
    utsname system{};
    ASSERT_EQ(uname(&system), 0);
    int major = -1, minor = -1;
    ASSERT_EQ(sscanf(system.release, "%d.%d", &major, &minor), 2) << system.release;
    EXPECT_EQ(BuildUserAgent(), "Mozilla/5.0 (Windows NT " + std::to_string(major) + "." +
                                    std::to_string(minor) +
                                    "; WOW64) AppleWebKit/537.1 (KHTML, like Gecko) Chrome/21.0.1180.91 "
                                    "Safari/537.1 /VL 1.7.1.1393");

    // Longer than the 511 characters that fit: cut there, never inside a character.
    const std::string longAscii = FormatUserAgent(6, 1, std::string(600, '9'));
    EXPECT_EQ(longAscii.size(), 511u);
    EXPECT_EQ(longAscii.rfind("Mozilla/5.0 (Windows NT 6.1; WOW64)", 0), 0u);
    EXPECT_EQ(longAscii.back(), '9');
    const std::string wide = FormatUserAgent(6, 1, std::string(400, 'x') + std::string(30, 'y') + "版本号");
    EXPECT_EQ(KWStringConvert::Utf8ToUtf32(wide).size(), 511u);
    EXPECT_TRUE(KWStringConvert::IsValidUtf8(wide));
    // Exactly 511 characters stay whole; shorter ones are not padded.
    const std::string prefix = FormatUserAgent(6, 1, "");
    const size_t room = 511 - KWStringConvert::Utf8ToUtf32(prefix).size();
    const std::string exact = FormatUserAgent(6, 1, std::string(room - 1, 'a') + "音");
    EXPECT_EQ(KWStringConvert::Utf8ToUtf32(exact).size(), 511u);
    EXPECT_EQ(exact.substr(exact.size() - 3), "音");
    EXPECT_EQ(
        FormatUserAgent(10, 0, "2.0"),
        "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.1 (KHTML, like Gecko) Chrome/21.0.1180.91 "
        "Safari/537.1 /VL 2.0");
}

TEST(VLAppState, QuestionFontSizesFollowTheConfiguredSize) {
    auto check = [](int configured, int a, int b, int c) {
        VLQuestionFontSizes s = QuestionFontSizes(configured);
        EXPECT_EQ(s.font16, a) << configured;
        EXPECT_EQ(s.font14, b) << configured;
        EXPECT_EQ(s.font18, c) << configured;
    };
    check(16, 16, 14, 18);
    check(0, 16, 14, 18);
    check(20, 20, 20, 20);
    check(12, 12, 12, 12);
}

TEST(VLConfigManager, DefaultsWhenFileOrKeysAreMissing) {
    auto dir = TestDir();
    VLConfigManager cfg((dir / "config.cfg").string());
    ASSERT_TRUE(cfg.Load());
    EXPECT_EQ(cfg.GetString("VERSION", "CurVersion"), "0.0.0.0");
    EXPECT_EQ(cfg.GetString("AGENT", "Version"), "0.0.0.0");
    EXPECT_EQ(cfg.GetAgentEnable(), 1);
    EXPECT_EQ(cfg.GetString("AGENT", "IP"), "");
    EXPECT_EQ(cfg.GetInt("AGENT", "Port1"), 9500);
    EXPECT_EQ(cfg.GetInt("AGENT", "Port2"), 9501);
    EXPECT_EQ(cfg.GetInt("AGENT", "Port3"), 9502);
    EXPECT_EQ(cfg.GetInt("REMOTESERVER", "Port1"), 9600);
    EXPECT_EQ(cfg.GetInt("REMOTESERVER", "Port2"), 9601);
    EXPECT_EQ(cfg.GetInt("FONT", "QuesFont"), 16);
    EXPECT_EQ(cfg.GetString("LOGINFO", "Level"), "");
    EXPECT_EQ(cfg.GetInt("SETTING", "ExitType"), 0);
    EXPECT_EQ(cfg.GetInt("AGENT", "NeedUpdate"), 0);
    EXPECT_EQ(cfg.GetInt("LOCALSERVER", "Port1"), 0);
    EXPECT_EQ(cfg.GetInt("LOCALSERVER", "Port2"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "config.cfg"));  // not created until Save

    // Only REMOTESERVER Port2 missing from the file: its default stays.
    ASSERT_TRUE(
        KWFile::WriteAtomic((dir / "config.cfg").string(),
                            "[REMOTESERVER]\nPort1=7000\n[FONT]\nQuesFont=20\n[LOGINFO]\nLevel=debug\n"
                            "[SETTING]\nExitType=5\n"));
    ASSERT_TRUE(cfg.Load());
    EXPECT_EQ(cfg.GetInt("REMOTESERVER", "Port1"), 7000);
    EXPECT_EQ(cfg.GetInt("REMOTESERVER", "Port2"), 9601);
    EXPECT_EQ(cfg.GetInt("FONT", "QuesFont"), 20);
    EXPECT_EQ(cfg.GetString("LOGINFO", "Level"), "");  // never read from the file
    EXPECT_EQ(cfg.GetInt("SETTING", "ExitType"), 0);

    // A key left empty by hand keeps its default rather than becoming port 0.
    ASSERT_TRUE(KWFile::WriteAtomic((dir / "config.cfg").string(),
                                    "[AGENT]\nPort1=\nIP=\nEnable=\n[FONT]\nQuesFont=\n"));
    ASSERT_TRUE(cfg.Load());
    EXPECT_EQ(cfg.GetInt("AGENT", "Port1"), 9500);
    EXPECT_EQ(cfg.GetAgentEnable(), 1);
    EXPECT_EQ(cfg.GetInt("FONT", "QuesFont"), 16);
    EXPECT_EQ(cfg.GetString("AGENT", "IP"), "");
    std::filesystem::remove_all(dir);
}

TEST(VLConfigManager, OnlyExactPairsAreAnsweredAndStored) {
    VLConfigManager cfg("/nonexistent/config.cfg");
    cfg.Load();
    EXPECT_EQ(cfg.GetInt("agent", "Port1"), 0);
    EXPECT_EQ(cfg.GetInt("AGENT", "port1"), 0);
    EXPECT_EQ(cfg.GetInt("AGENT", "Enable"), 0);
    EXPECT_EQ(cfg.GetInt("AGENT", "IP"), 0);
    EXPECT_EQ(cfg.GetString("AGENT", "Port1"), "");
    EXPECT_EQ(cfg.GetString("version", "CurVersion"), "");

    EXPECT_TRUE(cfg.SetString("AGENT", "IP", "127.0.0.1"));
    EXPECT_TRUE(cfg.SetString("VERSION", "CurVersion", "1.2.3.4"));
    EXPECT_TRUE(cfg.SetString("AGENT", "Version", "2.0.0.0"));
    EXPECT_FALSE(cfg.SetString("LOGINFO", "Level", "x"));
    EXPECT_FALSE(cfg.SetString("agent", "IP", "10.0.0.9"));
    EXPECT_EQ(cfg.GetString("AGENT", "IP"), "127.0.0.1");
    EXPECT_EQ(cfg.GetString("LOGINFO", "Level"), "");

    EXPECT_TRUE(cfg.SetInt("SETTING", "ExitType", 2));
    EXPECT_TRUE(cfg.SetInt("AGENT", "Port3", 1234));
    EXPECT_FALSE(cfg.SetInt("REMOTESERVER", "Port1", 1));
    EXPECT_FALSE(cfg.SetInt("FONT", "QuesFont", 30));
    EXPECT_FALSE(cfg.SetInt("AGENT", "NeedUpdate", 1));
    EXPECT_EQ(cfg.GetInt("SETTING", "ExitType"), 2);
    EXPECT_EQ(cfg.GetInt("AGENT", "Port3"), 1234);
    EXPECT_EQ(cfg.GetInt("REMOTESERVER", "Port1"), 9600);
    EXPECT_EQ(cfg.GetInt("FONT", "QuesFont"), 16);
    EXPECT_EQ(cfg.GetInt("AGENT", "NeedUpdate"), 0);
}

TEST(VLConfigManager, SaveThenLoadKeepsUnrelatedSections) {
    auto dir = TestDir();
    std::string path = (dir / "sub" / "config.cfg").string();
    std::filesystem::create_directories(dir / "sub");
    ASSERT_TRUE(KWFile::WriteAtomic(path, "[CUSTOM]\nKeep=me\n[AGENT]\nIP=1.1.1.1\nExtra=7\n"));
    VLConfigManager cfg(path);
    cfg.Load();
    cfg.SetString("AGENT", "IP", "127.0.0.1");
    cfg.SetInt("AGENT", "Port1", 19500);
    cfg.SetInt("SETTING", "ExitType", 3);  // memory only
    ASSERT_TRUE(cfg.Save());

    VLConfigManager again(path);
    again.Load();
    EXPECT_EQ(again.GetString("AGENT", "IP"), "127.0.0.1");
    EXPECT_EQ(again.GetInt("AGENT", "Port1"), 19500);
    EXPECT_EQ(again.GetInt("AGENT", "Port2"), 9501);
    EXPECT_EQ(again.GetInt("FONT", "QuesFont"), 16);
    EXPECT_EQ(again.GetInt("SETTING", "ExitType"), 0);
    EXPECT_EQ(KWIniFile::GetString(path, "CUSTOM", "Keep", ""), "me");
    EXPECT_EQ(KWIniFile::GetString(path, "AGENT", "Extra", ""), "7");
    EXPECT_EQ(KWIniFile::GetString(path, "REMOTESERVER", "Port2", ""), "9601");
    EXPECT_EQ(KWIniFile::GetString(path, "SETTING", "ExitType", "absent"), "absent");
    EXPECT_EQ(KWIniFile::GetString(path, "AGENT", "Enable", ""), "1");
    auto text = KWFile::ReadAll(path);
    ASSERT_TRUE(text);
    // The saved keys keep their order.
    EXPECT_LT(text->find("CurVersion"), text->find("QuesFont"));
    EXPECT_LT(text->find("Port1=19500"), text->find("Port3=9502"));

    // An address typed with a line break stays one line and cannot set other keys.
    cfg.SetString("AGENT", "IP", "10.0.0.2\n[FONT]\nQuesFont=40");
    ASSERT_TRUE(cfg.Save());
    VLConfigManager third(path);
    third.Load();
    EXPECT_EQ(third.GetInt("FONT", "QuesFont"), 16);
    EXPECT_EQ(third.GetString("AGENT", "IP"), "10.0.0.2 [FONT] QuesFont=40");
    EXPECT_EQ(KWIniFile::GetString(path, "CUSTOM", "Keep", ""), "me");

    // A save into a folder that does not exist yet creates it.
    VLConfigManager fresh((dir / "new" / "config.cfg").string());
    fresh.Load();
    fresh.Save();
    EXPECT_TRUE(std::filesystem::exists(dir / "new" / "config.cfg"));
    std::filesystem::remove_all(dir);
}

TEST(VLConfigManager, SaveReportsAFileItCouldNotWrite) {
    auto dir = TestDir();
    const std::string log = (dir / "VireloLog" / "vl.log").string();
    ASSERT_TRUE(LogImpl::Instance().Init(log));

    // A folder where the file should be: it can be neither read nor replaced.
    const std::string blockedPath = (dir / "blocked" / "config.cfg").string();
    std::filesystem::create_directories(blockedPath);
    VLConfigManager blocked(blockedPath);
    blocked.Load();
    blocked.SetString("AGENT", "IP", "10.1.2.3");
    EXPECT_FALSE(blocked.Save());
    EXPECT_EQ(blocked.GetString("AGENT", "IP"), "10.1.2.3");  // kept in memory

    // A folder that cannot be created: a file stands in its place.
    ASSERT_TRUE(KWFile::WriteAtomic((dir / "plain").string(), "x"));
    const std::string nowherePath = (dir / "plain" / "sub" / "config.cfg").string();
    VLConfigManager nowhere(nowherePath);
    nowhere.Load();
    EXPECT_FALSE(nowhere.Save());
    EXPECT_FALSE(std::filesystem::exists(nowherePath));

    // And a save that works still says so.
    VLConfigManager fine((dir / "fine" / "config.cfg").string());
    fine.Load();
    EXPECT_TRUE(fine.Save());
    LogImpl::Instance().Shutdown();

    const std::string text = KWFile::ReadAll(log).value_or("");
    EXPECT_NE(text.find("cannot save " + blockedPath + ": it exists but cannot be read"), std::string::npos)
        << text;
    EXPECT_NE(text.find("cannot save " + nowherePath), std::string::npos) << text;
    EXPECT_EQ(text.find("cannot save " + (dir / "fine").string()), std::string::npos) << text;
    std::filesystem::remove_all(dir);
}

TEST(VLPaths, FoldersFollowDataHomeTmpdirAndInnerFlag) {
    ScopedEnv data("XDG_DATA_HOME", "/home/pupil/data");
    ScopedEnv tmp("TMPDIR", "/var/tmp/vl");
    VLPathSet p = VLPathSet::Compute("/opt/virelo/bin", "/home/pupil/data/", false);
    EXPECT_EQ(p.GetExeDir(), "/opt/virelo/bin/");
    EXPECT_EQ(p.GetInstallDir(), "/opt/virelo/");
    EXPECT_EQ(p.GetBinDir(), "/opt/virelo/bin/");
    EXPECT_EQ(p.GetPlatformFilePath(), "/opt/virelo/bin/platform.txt");
    EXPECT_EQ(p.GetUpdaterPath(), "/opt/virelo/bin/VLUpdate");
    EXPECT_EQ(p.GetGuardPath(), "/opt/virelo/VLGuard");
    EXPECT_EQ(p.GetAudioDir(), "/opt/virelo/Audio/");
    EXPECT_EQ(p.GetSysDbPath(), "/opt/virelo/bin/sys.db");
    EXPECT_EQ(p.GetUserDataDir(), "/home/pupil/data/Virelo/Student/");
    EXPECT_EQ(p.GetUserDbPath(), "/home/pupil/data/Virelo/Student/user.db");
    EXPECT_EQ(p.GetConfigPath(), "/home/pupil/data/Virelo/Student/config.cfg");
    EXPECT_EQ(p.GetDownloadDir(), "/home/pupil/data/Virelo/Student/Download/");
    EXPECT_EQ(p.GetAnswerDataDir(), "/home/pupil/data/Virelo/Student/AnswerData/");
    EXPECT_EQ(VLPathSet::GetLogPath(), "/var/tmp/vl/VireloLog/vl.log");
    EXPECT_EQ(p.ExtendedLibraryPath("/usr/lib"), "/opt/virelo/oss:/opt/virelo/:/opt/virelo/bin/:/usr/lib");
    // No empty entry when the variable was unset: that would search the current folder.
    EXPECT_EQ(p.ExtendedLibraryPath(""), "/opt/virelo/oss:/opt/virelo/:/opt/virelo/bin/");

    VLPathSet inner = VLPathSet::ForCurrentProcess(true);
    EXPECT_EQ(inner.GetUserDataDir(), "/home/pupil/data/Virelo/Student_Inner/");
}

TEST(VLPaths, EmptyApplicationDataGivesRelativeUserFiles) {
    ScopedEnv data("XDG_DATA_HOME", "");
    ScopedEnv home("HOME", "");
    ScopedEnv tmp("TMPDIR", nullptr);
    VLPathSet p = VLPathSet::ForCurrentProcess(false);
    EXPECT_EQ(p.GetUserDataDir(), "");
    EXPECT_EQ(p.GetUserDbPath(), "user.db");
    EXPECT_EQ(p.GetConfigPath(), "config.cfg");
    EXPECT_EQ(p.GetDownloadDir(), "Download/");
    EXPECT_EQ(p.GetAnswerDataDir(), "AnswerData/");
    EXPECT_EQ(VLPathSet::GetLogPath(), "/tmp/VireloLog/vl.log");
}

TEST(VLUpdaterLauncher, EachPairIsOneArgument) {
    VLUpdaterAgent agent{true, "127.0.0.1", 9500, 9501, 9502};
    auto args = BuildUpdaterArguments("1.8.0.1", "http://h/x y.zip -pid=1", 4242, agent);
    ASSERT_EQ(args.size(), 8u);
    EXPECT_EQ(args[0], "-version=1.8.0.1");
    EXPECT_EQ(args[1], "-url=http://h/x y.zip -pid=1");
    EXPECT_EQ(args[2], "-pid=4242");
    EXPECT_EQ(args[3], "-bUseAgent=1");
    EXPECT_EQ(args[4], "-agentIp=127.0.0.1");
    EXPECT_EQ(args[5], "-reqPort=9500");
    EXPECT_EQ(args[6], "-downloadPort=9501");
    EXPECT_EQ(args[7], "-uploadPort=9502");
}

TEST(VLGuardWatchdog, RunsOnAThreadThatRanTheStartHook) {
    // The start hook is where the crash handler gives a thread its own signal
    // stack: without it a stack overflow on the watchdog would leave no dump.
    TestSupport::KWThreadHookProbe probe;
    VLGuardWatchdog watchdog("/nonexistent/VLGuard", 20);
    ASSERT_TRUE(watchdog.Start());
    EXPECT_TRUE(TestSupport::KWThreadHookProbe::Eventually([&] { return probe.RunCount() >= 1; }));
    EXPECT_EQ(probe.Unprepared(), std::set<long>{});
    watchdog.Stop();
}
