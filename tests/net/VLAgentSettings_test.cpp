#include "net/VLAgentSettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "net/VLPortCheckManager.h"
#include "platform/common/KWThread.h"

namespace KwLib {
namespace {

const std::string kLogin =
    "http://api.virelo-music.com/api2/"
    "studentLogin?account=a&password=p&school_id=1&classroom_id=2&useragent=u";
const std::string kPaper =
    "http://api.virelo-music.com/api2/get_exam_question?school_id=1&classroom_id=2&record_id=3";

TEST(VLAgentSettingsTest, RewritesToTheAgentAndTheMatchingPort) {
    VLAgentSettings agent;
    agent.SetRunMode(3);
    agent.SetValues("192.168.1.10", 9500, 9501, 9502, 9600);
    EXPECT_TRUE(agent.IsAgentMode());
    EXPECT_EQ(
        agent.RewriteRequestUrl(kLogin),
        "192.168.1.10:9500/api2/studentLogin?account=a&password=p&school_id=1&classroom_id=2&useragent=u");
    EXPECT_EQ(agent.RewriteRequestUrl(kPaper, true),
              "192.168.1.10:9600/api2/get_exam_question?school_id=1&classroom_id=2&record_id=3");
    EXPECT_EQ(agent.RewriteDownloadUrl("https://files.virelo.com/a/b.mp3"), "192.168.1.10:9501/a/b.mp3");
    EXPECT_EQ(agent.RewriteUploadUrl("http://up.virelo.com/api2?c=file"), "192.168.1.10:9502/api2?c=file");
    EXPECT_EQ(agent.RewriteUploadUrl("http://up.virelo.com/api2?c=file", true),
              "192.168.1.10:9600/api2?c=file");
    // Capitals are found too; a host without ".com" keeps its own address.
    EXPECT_EQ(agent.RewriteRequestUrl("HTTP://API.VIRELO.COM/api2/getCfg?school_id=1"),
              "192.168.1.10:9500/api2/getCfg?school_id=1");
    EXPECT_EQ(agent.RewriteRequestUrl("http://10.0.0.5:8080/api2/getCfg"),
              "http://10.0.0.5:8080/api2/getCfg");
    // The first ".com" ends the host.
    EXPECT_EQ(agent.RewriteDownloadUrl("http://a.com/x.com/y"), "192.168.1.10:9501/x.com/y");

    // The classroom set-up of the demo: the agent is the simulator on this PC.
    VLAgentSettings local;
    local.SetRunMode(3);
    local.SetValues("127.0.0.1", 9500, 9501, 9502, 9600);
    EXPECT_EQ(local.RewriteRequestUrl(kLogin),
              "127.0.0.1:9500/api2/studentLogin?account=a&password=p&school_id=1&classroom_id=2&useragent=u");
    EXPECT_EQ(local.RewriteRequestUrl(kPaper, true).substr(0, 40),
              "127.0.0.1:9600/api2/get_exam_question?sc");

    VLAgentSettings empty;
    empty.SetRunMode(0);
    EXPECT_EQ(empty.GetAgentHost(), "0.0.0.0");
    EXPECT_EQ(empty.RewriteRequestUrl(kLogin).substr(0, 13), "0.0.0.0:9500/");
}

TEST(VLAgentSettingsTest, OnlyTheHostDecidesAndItsPortIsDropped) {
    VLAgentSettings agent;
    agent.SetRunMode(3);
    agent.SetValues("192.168.1.10", 9500, 9501, 9502, 9600);
    // ".com" only in the query or the path: the URL goes to its own host, whole.
    for (const std::string url : {
             "http://10.0.0.5:8080/api2/singleTestResult?result=http://up.virelo.com/a.wav",
             "http://10.0.0.5/log?to=https%3A%2F%2Flogs.virelo.com%2Fx",
             "http://files.virelo.cn/a.com/b.png",
             "https://127.0.0.1:9443/x?ref=mail.com#top",
             "http://user.com@10.0.0.5/x",
         }) {
        EXPECT_EQ(agent.RewriteRequestUrl(url), url);
        EXPECT_EQ(agent.RewriteDownloadUrl(url), url);
        EXPECT_EQ(agent.RewriteUploadUrl(url, true), url);
    }
    // A host with its own port: the agent's port replaces it.
    EXPECT_EQ(agent.RewriteRequestUrl("https://api.virelo.com:8443/api2/getCfg?school_id=1"),
              "192.168.1.10:9500/api2/getCfg?school_id=1");
    EXPECT_EQ(agent.RewriteDownloadUrl("x.com:8443/a.png"), "192.168.1.10:9501/a.png");
    // A result whose query holds another ".com" address is relayed whole.
    EXPECT_EQ(
        agent.RewriteRequestUrl("http://api.virelo.com/api2/singleTestResult?result=http://up.virelo.com/"
                                "a.wav&x=.com"),
        "192.168.1.10:9500/api2/singleTestResult?result=http://up.virelo.com/a.wav&x=.com");
    // ".com" inside the host name, and a host with nothing after it.
    EXPECT_EQ(agent.RewriteDownloadUrl("http://cdn.company.com/p/q.jpg"), "192.168.1.10:9501/p/q.jpg");
    EXPECT_EQ(agent.RewriteRequestUrl("http://api.virelo.com"), "192.168.1.10:9500");
    EXPECT_EQ(agent.RewriteRequestUrl("http://api.virelo.com?x=1"), "192.168.1.10:9500?x=1");
    EXPECT_EQ(agent.RewriteUploadUrl("http://user:pw@up.virelo.com/api2?c=file"),
              "192.168.1.10:9502/api2?c=file");
}

TEST(VLAgentSettingsTest, DirectRunModesKeepThePlatformAddress) {
    for (int mode : {5, 6}) {
        VLAgentSettings agent;
        agent.SetRunMode(mode);
        agent.SetValues("127.0.0.1", 9500, 9501, 9502, 9600);
        EXPECT_FALSE(agent.IsAgentMode());
        EXPECT_EQ(agent.RewriteRequestUrl(kLogin), kLogin);
        EXPECT_EQ(agent.RewriteRequestUrl(kPaper, true), kPaper);
        EXPECT_EQ(agent.RewriteDownloadUrl("http://f.virelo.com/a.png"), "http://f.virelo.com/a.png");
    }
    for (int mode : {0, 3, 4}) {
        VLAgentSettings agent;
        agent.SetRunMode(mode);
        EXPECT_TRUE(agent.IsAgentMode()) << mode;
    }
}

TEST(VLAgentSettingsTest, LoadsTheFiveValuesWithTheirDefaults) {
    std::map<std::string, int> ints = {{"AGENT/Port1", 7000}, {"REMOTESERVER/Port1", 7600}};
    VLAgentSettings agent;
    agent.SetConfigReaders([](const std::string& s,
                              const std::string& k) { return s + "/" + k == "AGENT/IP" ? "10.1.1.1" : ""; },
                           [&](const std::string& s, const std::string& k, int fallback) {
                               auto it = ints.find(s + "/" + k);
                               return it == ints.end() ? fallback : it->second;
                           });
    EXPECT_EQ(agent.GetAgentHost(), "10.1.1.1");
    EXPECT_EQ(agent.GetRequestPort(), 7000);
    EXPECT_EQ(agent.GetDownloadPort(), 9501);
    EXPECT_EQ(agent.GetUploadPort(), 9502);
    EXPECT_EQ(agent.GetRemotePort(), 7600);
    // Saved again from the settings window: the next load sees the change.
    ints["AGENT/Port2"] = 7001;
    agent.LoadAgentSettings();
    EXPECT_EQ(agent.GetDownloadPort(), 7001);
}

TEST(VLAgentSettingsTest, SavingTheSettingsWhileTheWorkerRewritesNeverTearsAnAddress) {
    // Hosts longer than any in-place string buffer, so that a torn copy shows.
    const std::string hostA = "agent-a.classroom.example.internal";
    const std::string hostB = "agent-b.second-classroom.example.internal";
    std::atomic<int> loads{0};
    VLAgentSettings agent;
    agent.SetRunMode(3);
    agent.SetConfigReaders(
        [&](const std::string&, const std::string&) { return (loads.fetch_add(1) % 2) ? hostB : hostA; },
        [](const std::string&, const std::string&, int fallback) { return fallback; });
    std::atomic<bool> stop{false};
    // The settings window's OK, over and over, on its own thread.
    std::thread ui([&] {
        for (int i = 0; i < 20000 && !stop; ++i)
            agent.LoadAgentSettings();
    });
    int bad = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string url = agent.RewriteDownloadUrl("http://f.virelo.com/a.png");
        if (url != hostA + ":9501/a.png" && url != hostB + ":9501/a.png")
            ++bad;
    }
    stop = true;
    ui.join();
    EXPECT_EQ(bad, 0);
}

TEST(VLAgentSettingsTest, CachePathIsFolderDigestAndExtension) {
    VLAgentSettings agent;
    agent.SetDownloadDir("/data/Download/");
    // The folder, the MD5 of the URL in upper-case hex (computed apart from
    // this code: md5sum over the URL's bytes) and the URL's extension.
    EXPECT_EQ(agent.GetCachePath("http://f.virelo.com/a.png"),
              "/data/Download/B257A3620A6B831C0999241F93EB340F.png");
    // A name without an extension (the dot of a folder does not count).
    EXPECT_EQ(agent.GetCachePath("http://f.virelo.com/dir.d/file"),
              "/data/Download/D04C795BF7F6F76039A2FFEA63C9EE88");
    // The same rule as the paper parser's, whoever asks.
    EXPECT_EQ(VLAgentSettings::CachePath("/other/", "http://f.virelo.com/a.png"),
              "/other/B257A3620A6B831C0999241F93EB340F.png");
}

// Threads started through KWThread while a test watches (its start hook runs on each).
std::atomic<int> g_threadsStarted{0};

TEST(VLPortCheckManagerTest, StartsOnceAndReleases) {
    VLPortCheckManager& manager = *VLPortCheckManager::GetInstance();
    EXPECT_FALSE(manager.HasStarted());
    g_threadsStarted = 0;
    KWThread::SetThreadStartHook([] { ++g_threadsStarted; });
    manager.StartCheck(nullptr);
    manager.StartCheck(nullptr);
    EXPECT_TRUE(manager.HasStarted());
    manager.Release();
    KWThread::SetThreadStartHook(nullptr);
    EXPECT_FALSE(manager.HasStarted());
    // The second start found the first thread and started none; Release joined it, so its
    // start hook has run by now.
    EXPECT_EQ(g_threadsStarted.load(), 1);
    // Released, it may start again.
    g_threadsStarted = 0;
    KWThread::SetThreadStartHook([] { ++g_threadsStarted; });
    manager.StartCheck(nullptr);
    EXPECT_TRUE(manager.HasStarted());
    manager.Release();
    KWThread::SetThreadStartHook(nullptr);
    EXPECT_EQ(g_threadsStarted.load(), 1);
}

}  // namespace
}  // namespace KwLib
