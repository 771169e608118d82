// The classroom readiness check ("VLStudent -check") against the simulator on
// free ports, real database files, a port held on purpose and the real guard.
#include "app/client/VLReadinessCheck.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "exam/VLDatabaseManager.h"
#include "platform/common/KWFile.h"
#include "platform/ui/UIResource.h"
#include "tools/platform-sim/VLSimServer.h"
#include "tools/vl-drive/VLClientProcess.h"

namespace fs = std::filesystem;

namespace KwLib {
namespace {

// A listening socket on a free port of 127.0.0.1, held until destruction.
class HeldPort {
public:
    HeldPort() {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(m_fd, 4) == 0 &&
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~HeldPort() { Release(); }
    void Release() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

const VLReadinessItem* Find(const std::vector<VLReadinessItem>& items, const std::string& name) {
    auto it =
        std::find_if(items.begin(), items.end(), [&](const VLReadinessItem& i) { return i.name == name; });
    return it == items.end() ? nullptr : &*it;
}

class ReadinessCheck : public ::testing::Test {
protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        m_root = fs::temp_directory_path() / ("vlcheck_" + std::to_string(getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "install/bin");
        fs::create_directories(m_root / "data");
        UIResourceSingleton::Instance().SetResourcePath(
            (fs::path(VL_CLIENT_PATH).parent_path() / "res").string());

        VLSimConfig config;
        config.m_dataDir = (m_root / "sim").string() + "/";
        config.m_filesDir = std::string(VL_BINARY_DIR) + "/tests/sim-files/";
        config.m_apiPort = config.m_downloadPort = config.m_uploadPort = config.m_remotePort = 0;
        m_sim = std::make_unique<VLSimServer>(config);
        std::string error;
        ASSERT_TRUE(m_sim->Start(&error)) << error;

        m_in.paths = VLPathSet::Compute((m_root / "install/bin").string() + "/",
                                        (m_root / "data").string() + "/", false);
        m_in.clientVersion = "1.7.1.1393";
        m_in.agentHost = "127.0.0.1";
        m_in.requestPort = m_sim->ApiPort();
        m_in.downloadPort = m_sim->DownloadPort();
        m_in.uploadPort = m_sim->UploadPort();
        m_in.remotePort = m_sim->RemotePort();
        HeldPort probe;
        m_in.guardPort = probe.Port();  // free again once `probe` is gone
        ASSERT_TRUE(VLDatabaseManager::CreateSysDb(
            m_in.paths.GetSysDbPath(),
            {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName,
                                              VLDatabaseManager::ProductionHosts())}));
    }
    void TearDown() override {
        m_sim.reset();
        fs::remove_all(m_root);
    }

    fs::path m_root;
    std::unique_ptr<VLSimServer> m_sim;
    VLReadinessInputs m_in;
};

TEST_F(ReadinessCheck, AClassroomPcWithItsAgentAnsweringIsReady) {
    VLReadinessCheck check(m_in);
    const std::vector<VLReadinessItem> items = check.Run();
    for (const VLReadinessItem& item : items)
        EXPECT_NE(item.level, VLReadinessItem::kBlocker) << item.name << ": " << item.detail;
    EXPECT_FALSE(VLReadinessCheck::HasBlocker(items));
    for (const char* name : {"audio output", "recording", "agent address", "request port", "download port",
                             "upload port", "remote server port", "disk space", "fonts", "user.db", "sys.db"})
        ASSERT_NE(Find(items, name), nullptr) << name;
    EXPECT_NE(Find(items, "request port")->detail.find(std::to_string(m_sim->ApiPort()) + " answers"),
              std::string::npos);
    EXPECT_NE(Find(items, "user.db")->detail.find("not there yet"), std::string::npos);
    EXPECT_NE(Find(items, "fonts")->detail.find("WenQuanYi"), std::string::npos)
        << Find(items, "fonts")->detail;
    // The agent's own probe reached each port, signed like every request of the client.
    int probes = 0;
    for (const KWJsonValue& r : m_sim->GetRecords())
        if (r["path"].asString() == "/request") {
            ++probes;
            EXPECT_EQ(r["signature"].asString(), "ok");
        }
    EXPECT_EQ(probes, 4);
    const std::string report = VLReadinessCheck::Format(items, "1.7.1.1393");
    EXPECT_EQ(report.rfind("VLStudent 1.7.1.1393 classroom readiness check\n", 0), 0u) << report;
    EXPECT_NE(report.find("ready for the exam"), std::string::npos) << report;

    // A user.db the client wrote opens with its key.
    VLDatabaseConfig db;
    db.userDataDir = m_in.paths.GetUserDataDir();
    db.userDbPath = m_in.paths.GetUserDbPath();
    db.sysDbPath = m_in.paths.GetSysDbPath();
    db.clientVersion = "1.7.1.1393";
    db.runMode = 3;
    {
        VLDatabaseManager manager(db);
        ASSERT_TRUE(manager.Init());
        manager.Release();
    }
    const VLReadinessItem userDb = check.CheckUserDb();
    EXPECT_EQ(userDb.level, VLReadinessItem::kOk);
    EXPECT_NE(userDb.detail.find("opens with its key (version 1.7.1.1393)"), std::string::npos)
        << userDb.detail;
}

TEST_F(ReadinessCheck, EachThingAnExamNeedsBlocksWhenItIsMissing) {
    // The agent down on one port, another address missing altogether.
    HeldPort closed;
    const int deadPort = closed.Port();
    closed.Release();
    m_in.downloadPort = deadPort;
    VLReadinessCheck oneDown(m_in);
    const auto ports = oneDown.CheckAgentPorts();
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].level, VLReadinessItem::kOk);
    EXPECT_EQ(ports[1].level, VLReadinessItem::kBlocker);
    EXPECT_NE(ports[1].detail.find(std::to_string(deadPort) + " does not answer"), std::string::npos)
        << ports[1].detail;
    VLReadinessInputs noAgent = m_in;
    noAgent.agentHost.clear();
    VLReadinessCheck unset(noAgent);
    EXPECT_EQ(unset.CheckAgentAddress().level, VLReadinessItem::kBlocker);
    for (const VLReadinessItem& p : unset.CheckAgentPorts())
        EXPECT_EQ(p.level, VLReadinessItem::kBlocker);

    // Too little disk for recordings; tight is only a warning.
    VLReadinessInputs full = m_in;
    full.blockerFreeBytes = full.warningFreeBytes = uint64_t{1} << 62;
    EXPECT_EQ(VLReadinessCheck(full).CheckDiskSpace().level, VLReadinessItem::kBlocker);
    full.blockerFreeBytes = 0;
    EXPECT_EQ(VLReadinessCheck(full).CheckDiskSpace().level, VLReadinessItem::kWarning);

    // A user.db that is no database under the client's key, and a missing sys.db.
    VLReadinessCheck check(m_in);
    fs::create_directories(m_in.paths.GetUserDataDir());
    ASSERT_TRUE(KWFile::WriteAtomic(m_in.paths.GetUserDbPath(), std::string(4096, 'x')));
    const VLReadinessItem userDb = check.CheckUserDb();
    EXPECT_EQ(userDb.level, VLReadinessItem::kBlocker);
    EXPECT_NE(userDb.detail.find("cannot be read with the client's key"), std::string::npos) << userDb.detail;
    EXPECT_EQ(KWFile::ReadAll(m_in.paths.GetUserDbPath()).value_or(""),
              std::string(4096, 'x'));  // left alone
    fs::remove(m_in.paths.GetSysDbPath());
    EXPECT_EQ(check.CheckSysDb().level, VLReadinessItem::kBlocker);

    // No sound device at all.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_EQ(check.CheckAudioOutput().level, VLReadinessItem::kBlocker);
    EXPECT_EQ(check.CheckRecording().level, VLReadinessItem::kBlocker);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    std::vector<VLReadinessItem> items = {check.CheckAgentAddress(), check.CheckSysDb()};
    EXPECT_TRUE(VLReadinessCheck::HasBlocker(items));
    const std::string report = VLReadinessCheck::Format(items, "1.7.1.1393");
    EXPECT_NE(report.find("  BLOCKER  sys.db"), std::string::npos) << report;
    EXPECT_NE(report.find("NOT READY: 1 blocker(s), 0 warning(s)"), std::string::npos) << report;
}

TEST_F(ReadinessCheck, TheGuardPortMayBeFreeOrOursButNobodyElses) {
    VLReadinessCheck freePort(m_in);
    const VLReadinessItem free = freePort.CheckGuardPort();
    EXPECT_EQ(free.level, VLReadinessItem::kOk);
    EXPECT_NE(free.detail.find("free"), std::string::npos);

    // Held by some other program (this test).
    HeldPort other;
    VLReadinessInputs taken = m_in;
    taken.guardPort = other.Port();
    const VLReadinessItem held = VLReadinessCheck(taken).CheckGuardPort();
    EXPECT_EQ(held.level, VLReadinessItem::kBlocker);
    EXPECT_NE(held.detail.find("held by VLReadinessCheck_test (pid " + std::to_string(getpid()) + ")"),
              std::string::npos)
        << held.detail;

    // Held by our guard.
    fs::create_directories(m_root / "guard/bin");
    fs::copy_file(VL_GUARD_PATH, m_root / "guard/VLGuard");
    // The guard takes a free port of its own choosing and says which: a port freed here for it
    // could be taken by any other program before the guard binds it.
    VLClientProcess guard;
    const std::string out = (m_root / "guard.out").string();
    fs::create_directories(m_root / "run");
    fs::create_directories(m_root / "tmp");
    ASSERT_TRUE(guard.Start((m_root / "guard/VLGuard").string(), {},
                            {"VL_GUARD_PORT=0", "HOME=" + (m_root / "home").string(),
                             "XDG_DATA_HOME=" + (m_root / "data").string(), "TMPDIR=" + (m_root / "tmp").string(),
                             "XDG_RUNTIME_DIR=" + (m_root / "run").string()},
                            out));
    int guardPort = 0;
    const std::regex listening(R"(Listening on [^\s:]+:([0-9]+))");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (guardPort == 0 && std::chrono::steady_clock::now() < end) {
        std::smatch m;
        const std::string text = KWFile::ReadAll(out).value_or("");
        if (std::regex_search(text, m, listening))
            guardPort = std::stoi(m[1].str());
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GT(guardPort, 0) << "the guard never said where it listens:\n" << KWFile::ReadAll(out).value_or("");
    VLReadinessInputs ours = m_in;
    ours.guardPort = guardPort;
    const VLReadinessItem guarded = VLReadinessCheck(ours).CheckGuardPort();
    EXPECT_EQ(guarded.level, VLReadinessItem::kOk) << guarded.detail << "\n"
                                                   << KWFile::ReadAll(out).value_or("");
    EXPECT_NE(guarded.detail.find("held by VLGuard (pid " + std::to_string(guard.Pid()) + ")"),
              std::string::npos)
        << guarded.detail;
    guard.Stop(SIGTERM, 10000);
}

TEST_F(ReadinessCheck, TheProgramPrintsTheReportAndSaysNoOnABlocker) {
    // The built client with this PC's settings: the simulator as its agent.
    const fs::path data = m_root / "pc";
    fs::create_directories(data / "Virelo/Student");
    auto writeConfig = [&](int requestPort) {
        ASSERT_TRUE(KWFile::WriteAtomic(
            (data / "Virelo/Student/config.cfg").string(),
            "[AGENT]\nIP=127.0.0.1\nPort1=" + std::to_string(requestPort) + "\nPort2=" +
                std::to_string(m_sim->DownloadPort()) + "\nPort3=" + std::to_string(m_sim->UploadPort()) +
                "\n[REMOTESERVER]\nPort1=" + std::to_string(m_sim->RemotePort()) + "\n"));
    };
    const std::vector<std::string> env = {"XDG_DATA_HOME=" + data.string(),
                                          "TMPDIR=" + (m_root / "tmp").string(),
                                          "XDG_RUNTIME_DIR=" + (m_root / "run").string(),
                                          "HOME=" + (m_root / "home").string(),
                                          "VL_GUARD_PORT=" + std::to_string(m_in.guardPort),
                                          "SDL_AUDIODRIVER=dummy"};
    fs::create_directories(m_root / "tmp");
    fs::create_directories(m_root / "run");
    auto runCheck = [&](std::string& output) {
        const std::string out = (m_root / "check.out").string();
        fs::remove(out);
        VLClientProcess program;
        EXPECT_TRUE(program.Start(VL_CLIENT_PATH, {"-check"}, env, out));
        const auto status = program.Wait(60000);
        output = KWFile::ReadAll(out).value_or("");
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    };
    std::string output;
    writeConfig(m_sim->ApiPort());
    EXPECT_EQ(runCheck(output), 0) << output;
    EXPECT_NE(output.find("classroom readiness check"), std::string::npos) << output;
    EXPECT_NE(output.find("ready for the exam"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(data / "Virelo/Student/user.db"));  // the check changes nothing

    HeldPort closed;
    const int deadPort = closed.Port();
    closed.Release();
    writeConfig(deadPort);
    EXPECT_EQ(runCheck(output), 1) << output;
    EXPECT_TRUE(std::regex_search(output, std::regex("BLOCKER +request port +127\\.0\\.0\\.1:" +
                                                     std::to_string(deadPort) + " does not answer")))
        << output;
    EXPECT_NE(output.find("NOT READY"), std::string::npos) << output;
}

}  // namespace
}  // namespace KwLib
