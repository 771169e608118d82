// Who may make the control server act: the Host it is addressed to, the
// Origin and Sec-Fetch-Site of the page, and where the platform's origins
// come from.
#include "guard/VLRequestGate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "exam/VLDatabaseManager.h"
#include "guard/VLGuardApp.h"
#include "tests/guard/VLGuardSandbox.h"

namespace KwLib {
namespace {

namespace fs = std::filesystem;
using Verdict = VLRequestGate::Verdict;

TEST(VLRequestGate, OnlyRequestsAddressedToTheServerItself) {
    const VLRequestGate gate(9182, {});
    for (const char* host : {"127.0.0.1:9182", "localhost:9182", "LocalHost:9182", "[::1]:9182"})
        EXPECT_TRUE(gate.IsOwnHost(host)) << host;
    // A page whose own name its DNS points at 127.0.0.1 sends that name.
    for (const char* host :
         {"", "attacker.example:9182", "attacker.example", "127.0.0.1", "localhost", "127.0.0.1:80",
          "127.0.0.1:91820", "127.0.0.1:918", "127.0.0.1:9182.attacker.example", "localhost.:9182",
          "127.0.0.1:9182 ", " 127.0.0.1:9182", "0.0.0.0:9182", "127.1:9182", "[::ffff:127.0.0.1]:9182",
          "127.0.0.1:9182@attacker.example"})
        EXPECT_FALSE(gate.IsOwnHost(host)) << host;
    EXPECT_FALSE(gate.IsOwnHost(nullptr));
    EXPECT_EQ(gate.Judge("attacker.example:9182", nullptr, nullptr), Verdict::WrongHost);
    EXPECT_EQ(gate.Judge(nullptr, nullptr, nullptr), Verdict::WrongHost);
    // Even a page of the platform must address the server by its own name.
    const VLRequestGate withPlatform(9182, {"https://teacher.example"});
    EXPECT_EQ(withPlatform.Judge("teacher.example:9182", "https://teacher.example", "cross-site"),
              Verdict::WrongHost);
    // Another port is another server.
    EXPECT_TRUE(VLRequestGate(40001, {}).IsOwnHost("127.0.0.1:40001"));
    EXPECT_FALSE(VLRequestGate(40001, {}).IsOwnHost("127.0.0.1:9182"));
}

TEST(VLRequestGate, LocalToolsThePersonAtTheBrowserAndThePlatformsPagesMayActNobodyElse) {
    const VLRequestGate gate(9182,
                             {"https://teacher.platform.example", "http://school.example:8080/any/path"});
    const char* host = "127.0.0.1:9182";
    // A local tool (curl, a script) sends neither header.
    EXPECT_EQ(gate.Judge(host, nullptr, nullptr), Verdict::Allowed);
    // An address typed in, and a page of the server itself.
    EXPECT_EQ(gate.Judge(host, nullptr, "none"), Verdict::Allowed);
    EXPECT_EQ(gate.Judge(host, nullptr, "same-origin"), Verdict::Allowed);
    EXPECT_EQ(gate.Judge(host, "http://127.0.0.1:9182", "same-origin"), Verdict::Allowed);
    EXPECT_EQ(gate.Judge(host, "http://localhost:9182", "same-origin"), Verdict::Allowed);
    // A navigation, a picture or a form of another site sends no Origin with a GET.
    for (const char* site : {"cross-site", "CROSS-SITE", "same-site", "", "whatever"})
        EXPECT_EQ(gate.Judge(host, nullptr, site), Verdict::ForeignOrigin) << site;
    // The platform's pages: their fetch is cross-site and says where it comes from.
    for (const char* origin : {"https://teacher.platform.example", "https://TEACHER.platform.example",
                               "https://teacher.platform.example:443", "http://school.example:8080"})
        EXPECT_EQ(gate.Judge(host, origin, "cross-site"), Verdict::Allowed) << origin;
    for (const char* origin :
         {"https://evil.example", "null", "", "http://teacher.platform.example",
          "https://teacher.platform.example:444", "https://teacher.platform.example.evil.example",
          "https://evil.example/https://teacher.platform.example", "https://teacher.platform.example/",
          "https://x@teacher.platform.example", "http://school.example", "http://school.example:8081",
          "http://127.0.0.1:9183", "http://127.0.0.1", "file://", "chrome-extension://abc"})
        EXPECT_EQ(gate.Judge(host, origin, "cross-site"), Verdict::ForeignOrigin) << origin;
    // An Origin decides, whatever Sec-Fetch-Site claims.
    EXPECT_EQ(gate.Judge(host, "https://evil.example", "none"), Verdict::ForeignOrigin);
    EXPECT_EQ(gate.Judge(host, "https://evil.example", nullptr), Verdict::ForeignOrigin);
}

TEST(VLRequestGate, OriginsOfUrlsTemplatesAndLists) {
    EXPECT_EQ(
        VLRequestGate::OriginOfUrl("https://api.virelo.example/api2/getClientVersion?client_type=1&type=%d"),
        "https://api.virelo.example");
    EXPECT_EQ(VLRequestGate::OriginOfUrl("HTTP://Teacher.Example:80/index/index?url=monitor"),
              "http://teacher.example");
    EXPECT_EQ(VLRequestGate::OriginOfUrl("https://h.example:8443/?"), "https://h.example:8443");
    EXPECT_EQ(VLRequestGate::OriginOfUrl("http://127.0.0.1:9600/"), "http://127.0.0.1:9600");
    EXPECT_EQ(VLRequestGate::OriginOfUrl("https://[::1]:9000/x"), "https://[::1]:9000");
    EXPECT_EQ(VLRequestGate::OriginOfUrl("https://h.example#x"), "https://h.example");
    for (const char* bad : {"", "ftp://h.example/", "javascript:alert(1)", "https://user:pw@h.example/",
                            "https://h.example:0/", "https://h.example:65536/", "https://h.example:/",
                            "https://h.example:12a/", "https:///x", "https://h example/", "//h.example/",
                            "https://-h.example/", "https://[zz]/", "https://h_é.example/"})
        EXPECT_FALSE(VLRequestGate::OriginOfUrl(bad).has_value()) << bad;
    EXPECT_EQ(VLRequestGate::NormalizeOrigin("https://a.example"), "https://a.example");
    EXPECT_FALSE(VLRequestGate::NormalizeOrigin("https://a.example/").has_value());
    EXPECT_FALSE(VLRequestGate::NormalizeOrigin("null").has_value());

    EXPECT_EQ(
        VLRequestGate::ParseOriginList(" https://a.example, http://b.example:81;https://c.example/path\t"
                                       "bogus ftp://d.example,,HTTPS://E.example:443 "),
        (std::vector<std::string>{"https://a.example", "http://b.example:81", "https://c.example",
                                  "https://e.example"}));
    EXPECT_TRUE(VLRequestGate::ParseOriginList("").empty());
    // Unusable entries of the gate's own list are dropped, not matched.
    const VLRequestGate gate(1, {"bogus", "https://ok.example"});
    EXPECT_EQ(gate.PlatformOrigins(), (std::set<std::string>{"https://ok.example"}));
}

TEST(VLGuardApp, PlatformOriginsAreTheWebSitesOfTheEditionsRowAndTheSchoolsList) {
    char pattern[] = "/tmp/vlgate-XXXXXX";
    const std::string dir = std::string(mkdtemp(pattern)) + "/";
    const std::string sysDb = dir + "sys.db";
    const VLSysUrlHosts production{"https://api.platform.example", "https://teacher.platform.example",
                                   "https://upload.platform.example", "https://www.platform.example",
                                   "https://version.platform.example"};
    const VLSysUrlHosts test{"https://api.test.example", "https://teacher.test.example",
                             "https://upload.test.example", "https://www.test.example",
                             "https://version.test.example"};
    ASSERT_TRUE(VLDatabaseManager::CreateSysDb(
        sysDb, {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, production),
                VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName, test)}));
    const std::string config = dir + "config.cfg";
    TestSupport::VLGuardSandbox::WriteFile(
        config, "[AGENT]\nIP=10.0.0.1\n[GUARD]\nWebOrigins=https://music.school.example, not-an-origin\n");

    const auto origins = VLGuardApp::PlatformOrigins(sysDb, false, config);
    EXPECT_EQ(origins,
              (std::vector<std::string>{"https://teacher.platform.example", "https://www.platform.example",
                                        "https://music.school.example"}));
    auto inner = VLGuardApp::PlatformOrigins(sysDb, true, config);
    EXPECT_NE(std::find(inner.begin(), inner.end(), "https://teacher.test.example"), inner.end());
    EXPECT_EQ(std::find(inner.begin(), inner.end(), "https://teacher.platform.example"), inner.end());
    // The API and upload servers serve no pages.
    EXPECT_EQ(std::find(origins.begin(), origins.end(), "https://api.platform.example"), origins.end());

    // Without sys.db only the school's list counts, and no sys.db is made.
    const std::string missing = dir + "missing/sys.db";
    EXPECT_EQ(VLGuardApp::PlatformOrigins(missing, false, config),
              (std::vector<std::string>{"https://music.school.example"}));
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_TRUE(VLGuardApp::PlatformOrigins(missing, false, dir + "none.cfg").empty());
    fs::remove_all(dir);
}

}  // namespace
}  // namespace KwLib
