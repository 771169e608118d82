#include <gtest/gtest.h>

#include <filesystem>

#include "platform/common/KWFile.h"
#include "platform/common/KWJson.h"
#include "platform/common/KWMD5Utils.h"
#include "platform/common/KWShellUtils.h"
#include "platform/common/KWSystem.h"

using namespace KwLib;

TEST(KWMD5Utils, KnownVectors) {
    EXPECT_EQ(KWMD5Utils::CalcuteMD5String(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(KWMD5Utils::CalcuteMD5String("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(KWMD5Utils::CalcuteMD5String("The quick brown fox jumps over the lazy dog"),
              "9E107D9D372BB6826BD81D3542A419D6");
    EXPECT_EQ(KWMD5Utils::CalcuteMD5String(
                  "12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57EDF4A22BE3C955AC49DA2E2107B67A");
    KWTempFile f;
    ASSERT_TRUE(f.CreateTempFile());
    ASSERT_TRUE(KWFile::WriteAtomic(f.Path(), "abc"));
    EXPECT_EQ(KWMD5Utils::CalcuteFileMD5String(f.Path()), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(KWMD5Utils::CalcuteFileMD5String(f.Path() + ".missing"), "");
}

TEST(KWVersionUtils, ComparesNumericallyPartByPart) {
    EXPECT_EQ(KWVersionUtils::VersionCompare("1.7.1.1393", "1.7.1.1393"), 0);
    EXPECT_LT(KWVersionUtils::VersionCompare("1.7.1.999", "1.7.1.1393"), 0);
    EXPECT_GT(KWVersionUtils::VersionCompare("1.10.0.0", "1.9.9.9"), 0);
    EXPECT_EQ(KWVersionUtils::VersionCompare("1.7", "1.7.0.0"), 0);
    EXPECT_LT(KWVersionUtils::VersionCompare("0.0.0.0", "1.7.1.1393"), 0);
    EXPECT_GT(KWVersionUtils::VersionCompare("2", "1.99"), 0);
}

TEST(KWCmdLineParser, KeysWithValuesFromArgvAndText) {
    const char* argv[] = {"VLStudent", "-role=3", "-id=a b=c", "-crashtest", "plain"};
    KWCmdLineParser p(5, argv);
    EXPECT_TRUE(p.HasKey("-role"));
    EXPECT_EQ(p.GetValue("-role"), "3");
    EXPECT_EQ(p.GetValue("id"), "a b=c");
    EXPECT_TRUE(p.HasKey("-crashtest"));
    EXPECT_EQ(p.GetValue("-crashtest"), "");
    EXPECT_FALSE(p.HasKey("-plain"));
    EXPECT_EQ(p.GetValue("-missing"), "");

    KWCmdLineParser text("\"/opt/vl/VLStudent\" -ROLE=2 -id=\"x y\"", 0);
    EXPECT_EQ(text.GetValue("-role"), "2");
    EXPECT_EQ(text.GetValue("-id"), "x y");
}

TEST(KWSystemInfo, ReportsKernelAndMacFormat) {
    std::string name;
    int major = -1, minor = -1;
    EXPECT_TRUE(KWSystemInfo::GetWindowsVersion(name, major, minor));
    EXPECT_EQ(name.rfind("Linux ", 0), 0u);
    EXPECT_GT(major, 0);
    std::string mac = KWNetworkAdapter::SelectMacAddress();
    if (!mac.empty()) {
        EXPECT_EQ(mac.size(), 17u);
        EXPECT_EQ(mac[2], '-');
    }
}

TEST(KWNetworkAdapter, PrefersAnAdapterBackedByADevice) {
    auto net = std::filesystem::temp_directory_path() / ("kwnet" + std::to_string(getpid()));
    std::filesystem::remove_all(net);
    auto adapter = [&](const std::string& name, const std::string& mac, bool device) {
        std::filesystem::create_directories(net / name);
        ASSERT_TRUE(KWFile::WriteAtomic((net / name / "address").string(), mac + "\n"));
        if (device)
            std::filesystem::create_directories(net / name / "device");
    };
    adapter("lo", "00:00:00:00:00:00", false);
    adapter("br-1a2b", "02:42:aa:bb:cc:01", false);
    adapter("docker0", "02:42:aa:bb:cc:02", false);
    adapter("enp3s0", "3c:97:0e:12:34:56", true);
    EXPECT_EQ(KWNetworkAdapter::SelectMacAddress(net.string()), "3C-97-0E-12-34-56");
    // Without any device, the first virtual one by name still identifies the machine.
    std::filesystem::remove_all(net / "enp3s0");
    EXPECT_EQ(KWNetworkAdapter::SelectMacAddress(net.string()), "02-42-AA-BB-CC-01");
    std::filesystem::remove_all(net);
    EXPECT_EQ(KWNetworkAdapter::SelectMacAddress(net.string()), "");
}

TEST(KWQuickLaunch, WritesAnExecutableDesktopEntry) {
    auto dir = std::filesystem::temp_directory_path() / ("kwql" + std::to_string(getpid()));
    std::string path = (dir / "学生端.desktop").string();
    ASSERT_TRUE(KWQuickLaunch::CreateQuickLaunch("/opt/vl $x/bin/VLStudent", "", "", path, "", -1, "", true));
    auto text = KWFile::ReadAll(path);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("[Desktop Entry]"), std::string::npos);
    EXPECT_NE(text->find("Exec=\"/opt/vl \\$x/bin/VLStudent\""), std::string::npos);
    EXPECT_NE(text->find("Name=学生端"), std::string::npos);
    EXPECT_TRUE((std::filesystem::status(path).permissions() & std::filesystem::perms::owner_exec) !=
                std::filesystem::perms::none);
    EXPECT_FALSE(KWQuickLaunch::CreateQuickLaunch("/x", "", "", path, "", -1, "", false));
    std::filesystem::remove_all(dir);
}

TEST(KWJsonReader, MalformedAndDeeplyNestedInputFailsCleanly) {
    KWJsonValue v;
    EXPECT_TRUE(KWJsonReader::Parse("{\"a\":[1,\"音\"]}", v));
    EXPECT_EQ(v["a"][1].asString(), "音");
    EXPECT_EQ(KWJsonWriter::Write(v), "{\"a\":[1,\"音\"]}");
    EXPECT_FALSE(KWJsonReader::Parse("{\"a\":", v));
    EXPECT_TRUE(v.isNull());
    EXPECT_FALSE(KWJsonReader::Parse(std::string(5000, '[') + std::string(5000, ']'), v));
    EXPECT_TRUE(v.isNull());
    EXPECT_FALSE(KWJsonReader::Parse("<html>502 Bad Gateway</html>", v));
}

TEST(KWShellUtils, RuntimeFolderFallsBackToAPrivateFolder) {
    std::string oldRun = KWEnvironmentVariable::GetEnvironmentVar("XDG_RUNTIME_DIR");
    std::string oldTmp = KWEnvironmentVariable::GetEnvironmentVar("TMPDIR");
    auto tmp = std::filesystem::temp_directory_path() / ("kwrun" + std::to_string(getpid()));
    std::filesystem::create_directories(tmp);
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", tmp.c_str(), 1);
    std::string run = KWShellUtils::GetRuntimeDirectory();
    EXPECT_EQ(run, tmp.string() + "/virelo-" + std::to_string(getuid()) + "/");
    EXPECT_EQ(std::filesystem::status(run).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    // A folder of that name that others can write is not used.
    std::filesystem::permissions(run, std::filesystem::perms::all);
    EXPECT_EQ(KWShellUtils::GetRuntimeDirectory(), tmp.string() + "/");
    setenv("XDG_RUNTIME_DIR", tmp.c_str(), 1);
    EXPECT_EQ(KWShellUtils::GetRuntimeDirectory(), tmp.string() + "/");
    if (oldRun.empty())
        unsetenv("XDG_RUNTIME_DIR");
    else
        setenv("XDG_RUNTIME_DIR", oldRun.c_str(), 1);
    if (oldTmp.empty())
        unsetenv("TMPDIR");
    else
        setenv("TMPDIR", oldTmp.c_str(), 1);
    std::filesystem::remove_all(tmp);
}
