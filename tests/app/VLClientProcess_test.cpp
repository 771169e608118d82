#include <gtest/gtest.h>

#include "exam/VLDatabaseManager.h"
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "app/client/VLAutomationGate.h"
#include "app/client/VLGuardWatchdog.h"
#include "app/client/VLUpdaterLauncher.h"
#include "app/core/VLPaths.h"
#include "exam/VLDatabaseManager.h"
#include "platform/common/KWBaseEvent.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWProcess.h"
#include "platform/common/KWStringToken.h"

using namespace KwLib;
namespace fs = std::filesystem;

namespace {
// Waits for a condition that the processes under test make true; the bound only
// keeps a broken build from hanging the suite.
bool WaitFor(const std::function<bool()>& done, int seconds = 15) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

std::vector<std::string> LogLines(const fs::path& log) {
    std::vector<std::string> lines;
    KWStringToken::StringToArray(KWFile::ReadAll(log.string()).value_or(""), "\n", lines);
    return lines;
}

// Points this process's runtime folder elsewhere while it lives.
class ScopedRuntime {
public:
    explicit ScopedRuntime(const fs::path& dir) {
        if (const char* old = getenv("XDG_RUNTIME_DIR"))
            m_old = old;
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    ~ScopedRuntime() {
        if (m_old)
            setenv("XDG_RUNTIME_DIR", m_old->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }

private:
    std::optional<std::string> m_old;
};

// A temporary install tree and user environment of its own.
class ClientTree : public ::testing::Test {
protected:
    void SetUp() override {
        m_root =
            fs::temp_directory_path() / ("vlclient_" + std::to_string(getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        for (auto d : {"install/bin", "run", "tmp", "data", "home"})
            fs::create_directories(m_root / d);
        fs::copy_file(VL_STANDIN_PATH, m_root / "install" / "VLGuard");
        // The client's layouts and pictures lie beside it.
        fs::copy(fs::path(VL_CLIENT_PATH).parent_path() / "res", m_root / "install" / "bin" / "res",
                 fs::copy_options::recursive);
        m_standinLog = m_root / "standin.log";
        // A platform address on this machine where nothing listens: a client of
        // these tests never reaches out to a real server.
        const VLSysUrlHosts nowhere{"http://127.0.0.1:1", "http://127.0.0.1:1", "http://127.0.0.1:1",
                                    "http://127.0.0.1:1", "http://127.0.0.1:1"};
        ASSERT_TRUE(VLDatabaseManager::CreateSysDb(
            (m_root / "install" / "bin" / "sys.db").string(),
            {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, nowhere),
             VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName, nowhere)}));
    }
    void TearDown() override {
        for (pid_t pid : m_children) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        // Only stand-ins still running from this tree: a pid of one that has ended
        // may belong to someone else by now.
        for (const auto& line : LogLines(m_standinLog)) {
            pid_t pid = std::stoi(line);
            std::error_code ec;
            auto exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
            if (!ec && exe.rfind(m_root.string(), 0) == 0)
                kill(pid, SIGKILL);
        }
        fs::remove_all(m_root);
    }
    pid_t Start(const fs::path& program, const std::vector<std::string>& args,
                const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> env = {
            "XDG_RUNTIME_DIR=" + (m_root / "run").string(), "TMPDIR=" + (m_root / "tmp").string(),
            "XDG_DATA_HOME=" + (m_root / "data").string(), "HOME=" + (m_root / "home").string(),
            "VL_STANDIN_LOG=" + m_standinLog.string(),
            // The window without a display, and audio without a sound card.
            "VL_UI_HEADLESS=1", "SDL_AUDIODRIVER=dummy"};
        for (const char* keep : {"PATH", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* v = getenv(keep))
                env.push_back(std::string(keep) + "=" + v);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        pid_t pid = fork();
        if (pid == 0) {
            std::vector<std::string> argvStore = {program.string()};
            argvStore.insert(argvStore.end(), args.begin(), args.end());
            std::vector<char*> argv, envp;
            for (auto& a : argvStore)
                argv.push_back(a.data());
            for (auto& e : env)
                envp.push_back(e.data());
            argv.push_back(nullptr);
            envp.push_back(nullptr);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        m_children.push_back(pid);
        return pid;
    }
    // The exit code, or -1 when it did not end in time.
    int WaitExit(pid_t pid) {
        int status = 0;
        if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }))
            return -1;
        m_children.erase(std::remove(m_children.begin(), m_children.end(), pid), m_children.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string Log() const {
        return KWFile::ReadAll((m_root / "tmp" / "VireloLog" / "vl.log").string()).value_or("");
    }
    bool LogHas(const std::string& text) {
        return WaitFor([&] { return Log().find(text) != std::string::npos; });
    }
    // A folder for the automation socket, as the channel requires: ours and closed to others.
    fs::path SocketPath() {
        fs::create_directories(m_root / "run" / "vl");
        fs::permissions(m_root / "run" / "vl", fs::perms::owner_all, fs::perm_options::replace);
        return m_root / "run" / "vl" / "auto.sock";
    }
    static fs::perms Mode(const fs::path& path) {
        return fs::symlink_status(path).permissions() & fs::perms::all;
    }

    fs::path m_root;
    fs::path m_standinLog;
    std::vector<pid_t> m_children;
};

// The package's gate file for the package-kind test program, removed when the test ends.
struct GateFile {
    GateFile() { fs::create_directories(fs::path(VL_PACKAGE_KIND_GATE).parent_path()); }
    ~GateFile() { fs::remove(VL_PACKAGE_KIND_GATE); }
    void Create(bool ownedByRoot) {
        std::ofstream(VL_PACKAGE_KIND_GATE) << "on\n";
        fs::permissions(VL_PACKAGE_KIND_GATE, fs::perms(0644), fs::perm_options::replace);
        // Running as root, a file the tests make is root's: a student's is another account's.
        if (geteuid() == 0 && !ownedByRoot) {
            EXPECT_EQ(chown(VL_PACKAGE_KIND_GATE, 65534, 65534), 0);
        }
    }
};
}  // namespace

TEST_F(ClientTree, WatchdogStartsTheGuardAndRestartsItAfterAKill) {
    // The guard's own name: guards other tests or demos run on this machine are
    // not this session's and must not hide the one under test.
    fs::path guard = m_root / "install" / "VLGuard";
    ScopedRuntime runtime(m_root / "run");
    VLGuardWatchdog watchdog(guard.string());
    setenv("VL_STANDIN_LOG", m_standinLog.string().c_str(), 1);
    ASSERT_TRUE(watchdog.Start());
    ASSERT_TRUE(WaitFor([&] { return LogLines(m_standinLog).size() == 1; }, 5));
    pid_t first = std::stoi(LogLines(m_standinLog)[0]);
    // While it runs, no second copy is started, though it holds no lock yet.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(LogLines(m_standinLog).size(), 1u);

    kill(first, SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return LogLines(m_standinLog).size() == 2; }, 5));
    EXPECT_NE(std::stoi(LogLines(m_standinLog)[1]), first);
    EXPECT_EQ(watchdog.StartCount(), 2);
    watchdog.Stop();
    unsetenv("VL_STANDIN_LOG");
}

TEST_F(ClientTree, WatchdogAdoptsTheSessionsGuardAndIgnoresAnotherSessions) {
    fs::path guard = m_root / "install" / "VLGuard";
    ScopedRuntime runtime(m_root / "run");
    const std::string ourLock = KWBaseEvent::LockPathForName(kGuardInstanceName);
    fs::create_directories(m_root / "other-run");
    const std::string otherLock = (m_root / "other-run" / "VLGuard.lock").string();
    // Another session's guard: the same program, its lock in its own runtime folder.
    pid_t other = Start(guard, {}, {"VL_STANDIN_LOCK=" + otherLock});
    ASSERT_TRUE(WaitFor([&] { return LogLines(m_standinLog).size() == 1; }, 5));
    setenv("VL_STANDIN_LOG", m_standinLog.string().c_str(), 1);
    {
        VLGuardWatchdog watchdog(guard.string(), 50);
        ASSERT_TRUE(watchdog.Start());
        EXPECT_TRUE(WaitFor([&] { return watchdog.StartCount() == 1; }, 5));
        // Its line in the log, so that TearDown ends it too (a loaded machine may start it late).
        EXPECT_TRUE(WaitFor([&] { return LogLines(m_standinLog).size() == 2; }, 15))
            << LogLines(m_standinLog).size() << " stand-ins started";
        watchdog.Stop();
    }
    kill(other, SIGKILL);
    EXPECT_NE(WaitExit(other), -1);

    // The guard that started this session's client holds our lock: it is adopted,
    // whoever started it, and nothing else is started beside it.
    pid_t ours = Start(guard, {}, {"VL_STANDIN_LOCK=" + ourLock});
    ASSERT_TRUE(WaitFor([&] { return KWProcess::HasOpen(ours, ourLock); }, 5));
    {
        VLGuardWatchdog watchdog(guard.string(), 50);
        ASSERT_TRUE(watchdog.Start());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(watchdog.StartCount(), 0);
        // Once it is gone, the watchdog starts one at once.
        kill(ours, SIGKILL);
        EXPECT_NE(WaitExit(ours), -1);
        EXPECT_TRUE(WaitFor([&] { return watchdog.StartCount() == 1; }, 5));
        EXPECT_TRUE(WaitFor([&] { return LogLines(m_standinLog).size() == 4; }, 15))
            << LogLines(m_standinLog).size() << " stand-ins started";
    }
    unsetenv("VL_STANDIN_LOG");
}

TEST_F(ClientTree, WatchdogWaitsQuietlyForAMissingGuard) {
    std::string log = (m_root / "tmp" / "vl.log").string();
    ASSERT_TRUE(LogImpl::Instance().Init(log));
    fs::path guard = m_root / "install" / ("VLGuard-late-" + std::to_string(getpid()));
    setenv("VL_STANDIN_LOG", m_standinLog.string().c_str(), 1);
    {
        VLGuardWatchdog watchdog(guard.string(), 10);
        ASSERT_TRUE(watchdog.Start());
        // Many cycles without the program on disk: said once, nothing started. (Waited
        // for, not slept: on a loaded machine the thread's first cycle may come late.)
        EXPECT_TRUE(WaitFor([&] { return KWFile::ReadAll(log).value_or("").find("is missing") != std::string::npos; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(watchdog.StartCount(), 0);
        // Installed later, it is started.
        fs::copy_file(VL_STANDIN_PATH, guard);
        EXPECT_TRUE(WaitFor([&] { return LogLines(m_standinLog).size() == 1; }, 5));
        EXPECT_EQ(watchdog.StartCount(), 1);
    }
    unsetenv("VL_STANDIN_LOG");
    LogImpl::Instance().Shutdown();
    std::string text = KWFile::ReadAll(log).value_or("");
    size_t lines = 0;
    for (size_t pos = 0; (pos = text.find(guard.string(), pos)) != std::string::npos; ++pos)
        ++lines;
    // One line for the missing program, one for its start.
    EXPECT_EQ(lines, 2u) << text;
}

TEST_F(ClientTree, SecondStartAsksTheFirstToRaiseAndExitsWithZero) {
    fs::path client = m_root / "install" / "bin" / "VLStudent";
    fs::copy_file(VL_CLIENT_PATH, client);
    pid_t first = Start(client, {"-role=3", "-id=17"});
    fs::path socket = m_root / "run" / "VLStudent.sock";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(socket); })) << "first client did not come up";

    pid_t second = Start(client, {});
    EXPECT_EQ(WaitExit(second), 0);

    fs::path log = m_root / "tmp" / "VireloLog" / "vl.log";
    EXPECT_TRUE(WaitFor([&] {
        return KWFile::ReadAll(log.string()).value_or("").find("raise request received (1)") !=
               std::string::npos;
    }));
    std::string text = KWFile::ReadAll(log.string()).value_or("");
    EXPECT_NE(text.find("run mode 5"), std::string::npos);
    EXPECT_NE(text.find("paper id \"17\""), std::string::npos);
    // Only one client ever started the program's work.
    size_t starts = 0;
    for (size_t pos = 0; (pos = text.find("VLStudent 1.7.1.1393 starting", pos)) != std::string::npos; ++pos)
        ++starts;
    EXPECT_EQ(starts, 1u);

    // The client's watchdog started the guard from the install tree, whatever
    // guards other sessions of this machine run.
    EXPECT_TRUE(WaitFor([&] { return !LogLines(m_standinLog).empty(); }));

    kill(first, SIGTERM);
    EXPECT_EQ(WaitExit(first), 1);
    EXPECT_FALSE(fs::exists(socket));
}

TEST_F(ClientTree, TwoStartsAtTheSameMomentLeaveExactlyOneClient) {
    fs::path client = m_root / "install" / "bin" / "VLStudent";
    fs::copy_file(VL_CLIENT_PATH, client);
    // A crashed earlier client left its socket file behind.
    fs::path socket = m_root / "run" / "VLStudent.sock";
    ASSERT_TRUE(KWFile::WriteAtomic(socket.string(), ""));
    pid_t a = Start(client, {});
    pid_t b = Start(client, {});
    int statusA = 0, statusB = 0;
    bool aEnded = false, bEnded = false;
    // One of them gives way with 0; the other comes up and takes the socket over.
    ASSERT_TRUE(WaitFor([&] {
        if (!aEnded)
            aEnded = waitpid(a, &statusA, WNOHANG) == a;
        if (!bEnded)
            bEnded = waitpid(b, &statusB, WNOHANG) == b;
        return aEnded || bEnded;
    }));
    pid_t survivor = aEnded ? b : a;
    int status = aEnded ? statusA : statusB;
    m_children.erase(std::remove(m_children.begin(), m_children.end(), aEnded ? a : b), m_children.end());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(WaitFor([&] { return fs::is_socket(socket); }));
    fs::path log = m_root / "tmp" / "VireloLog" / "vl.log";
    ASSERT_TRUE(WaitFor([&] {
        return KWFile::ReadAll(log.string()).value_or("").find("main window shown") != std::string::npos;
    }));
    EXPECT_EQ(waitpid(survivor, nullptr, WNOHANG), 0) << "the remaining client must keep running";
    kill(survivor, SIGTERM);
    EXPECT_EQ(WaitExit(survivor), 1);
}

TEST_F(ClientTree, UpdaterStartsInItsFolderWithOneArgumentPerPair) {
    fs::path updater = m_root / "install" / "bin" / "VLUpdate";
    fs::copy_file(VL_STANDIN_PATH, updater);
    setenv("VL_STANDIN_LOG", m_standinLog.string().c_str(), 1);
    setenv("VL_STANDIN_EXIT", "1", 1);
    VLUpdaterAgent agent{false, "", 9500, 9501, 9502};
    EXPECT_TRUE(LaunchUpdater(updater.string(), "1.8.0.0", "http://127.0.0.1/a b.zip", agent));
    unsetenv("VL_STANDIN_EXIT");
    ASSERT_TRUE(WaitFor([&] { return LogLines(m_standinLog).size() == 1; }));
    std::vector<std::string> fields;
    KWStringToken::StringToArray(LogLines(m_standinLog)[0], "\t", fields);
    ASSERT_EQ(fields.size(), 10u);
    EXPECT_EQ(fields[2], "-version=1.8.0.0");
    EXPECT_EQ(fields[3], "-url=http://127.0.0.1/a b.zip");
    EXPECT_EQ(fields[4], "-pid=" + std::to_string(getpid()));
    EXPECT_EQ(fields[9], "-uploadPort=9502");
    EXPECT_FALSE(LaunchUpdater((m_root / "missing" / "VLUpdate").string(), "1", "u", agent));
    unsetenv("VL_STANDIN_LOG");
}

TEST_F(ClientTree, ThePackagesProgramRefusesAutomationWithoutTheAdministratorsFile) {
    fs::path client = m_root / "install" / "bin" / "VLStudent";
    fs::copy_file(VL_PACKAGE_KIND_CLIENT_PATH, client);
    GateFile gate;
    const fs::path socket = SocketPath();
    // No file: the program ends at once with 2 and no channel, no window.
    EXPECT_EQ(WaitExit(Start(client, {"-automation=" + socket.string()})), 2);
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_NE(Log().find("the automation channel is off in this installation"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("main window shown"), std::string::npos);

    // A file the student made at that name changes nothing.
    gate.Create(false);
    EXPECT_EQ(WaitExit(Start(client, {"-automation=" + socket.string()})), 2);
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_NE(Log().find("is not owned by root"), std::string::npos) << Log();

    // The socket in the environment is not even read: the exam window opens without a channel.
    pid_t quiet = Start(client, {"-role=3", "-id=17"}, {"VL_AUTOMATION_SOCKET=" + socket.string()});
    ASSERT_TRUE(LogHas("main window shown")) << Log();
    EXPECT_NE(Log().find("VL_AUTOMATION_SOCKET is set and ignored"), std::string::npos);
    EXPECT_FALSE(fs::exists(socket));
    kill(quiet, SIGTERM);
    EXPECT_EQ(WaitExit(quiet), 1);

    // With the administrator's file (root's, in folders only root may change:
    // this build folder when the tests run as root) the rehearsal's channel opens.
    gate.Create(true);
    if (VLAutomationGate::AdministratorEnabled(VL_PACKAGE_KIND_GATE)) {
        pid_t driven = Start(client, {"-role=3", "-id=17", "-automation=" + socket.string()});
        EXPECT_TRUE(WaitFor([&] { return fs::is_socket(socket); })) << Log();
        kill(driven, SIGTERM);
        EXPECT_EQ(WaitExit(driven), 1);
    }
}

TEST_F(ClientTree, ADevelopmentBuildOpensTheChannelForTheEnvironmentsSocket) {
    fs::path client = m_root / "install" / "bin" / "VLStudent";
    fs::copy_file(VL_CLIENT_PATH, client);
    const fs::path socket = SocketPath();
    pid_t driven = Start(client, {"-role=3", "-id=17"}, {"VL_AUTOMATION_SOCKET=" + socket.string()});
    EXPECT_TRUE(WaitFor([&] { return fs::is_socket(socket); })) << Log();
    kill(driven, SIGTERM);
    EXPECT_EQ(WaitExit(driven), 1);
}

TEST_F(ClientTree, TheStudentsFilesAndTheLogAreClosedToOtherAccounts) {
    fs::path client = m_root / "install" / "bin" / "VLStudent";
    fs::copy_file(VL_CLIENT_PATH, client);
    // What an earlier version left: folders and files open to everybody.
    const fs::path user = m_root / "data" / "Virelo" / "Student";
    fs::create_directories(user / "AnswerData");
    fs::create_directories(m_root / "tmp" / "VireloLog");
    for (const fs::path& dir :
         {m_root / "data" / "Virelo", user, user / "AnswerData", m_root / "tmp" / "VireloLog"})
        fs::permissions(dir, fs::perms(0755), fs::perm_options::replace);
    {
        VLDatabaseManager db(VLDatabaseConfig{user.string() + "/", (user / "user.db").string(),
                                              (m_root / "install" / "bin" / "sys.db").string(), "1.7.1.1393",
                                              3});
        ASSERT_TRUE(db.Init());
        db.Release();
    }
    fs::permissions(user / "user.db", fs::perms(0644), fs::perm_options::replace);
    std::ofstream(user / "config.cfg") << "[AGENT]\nIP=127.0.0.1\n";
    fs::permissions(user / "config.cfg", fs::perms(0644), fs::perm_options::replace);
    std::ofstream(m_root / "tmp" / "VireloLog" / "vl.log") << "earlier\n";
    fs::permissions(m_root / "tmp" / "VireloLog" / "vl.log", fs::perms(0644), fs::perm_options::replace);

    pid_t pid = Start(client, {"-role=3", "-id=17"});
    ASSERT_TRUE(LogHas("main window shown")) << Log();
    for (const fs::path& dir : {m_root / "data" / "Virelo", user, user / "AnswerData", user / "Download",
                                m_root / "tmp" / "VireloLog"})
        EXPECT_EQ(Mode(dir), fs::perms::owner_all) << dir;
    for (const fs::path& file :
         {user / "user.db", user / "config.cfg", m_root / "tmp" / "VireloLog" / "vl.log"})
        EXPECT_EQ(Mode(file), fs::perms::owner_read | fs::perms::owner_write) << file;
    EXPECT_EQ(Log().rfind("earlier\n", 0), 0u);
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 1);
}
