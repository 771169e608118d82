// The two programs together, as on a classroom PC: a page starts the client
// through the guard, the client keeps exactly one guard alive, and a client
// crash ends as a dump that the guard hands to the crash reporter.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <thread>

#include "exam/VLDatabaseManager.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWProcess.h"
#include "tests/guard/MinidumpReader.h"
#include "tests/guard/VLGuardSandbox.h"
#include "tests/guard/VLTestProcess.h"

using namespace KwLib;
using namespace KwLib::TestSupport;
namespace fs = std::filesystem;

namespace {
std::string ClientLog(const VLGuardSandbox& sb) {
    return KWFile::ReadAll(sb.tmp + "VireloLog/vl.log").value_or("");
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += what.size())
        ++n;
    return n;
}

// Processes of that name started from this test's install tree: other runs on
// the same machine (another build's tests, a demo) are neither counted nor killed.
std::vector<pid_t> OurProcesses(const VLGuardSandbox& sb, const std::string& name) {
    std::vector<pid_t> ours;
    std::error_code rootEc;
    std::string root = fs::canonical(sb.install, rootEc).string() + "/";
    for (pid_t pid : KWProcess::FindByName(name)) {
        std::error_code ec;
        auto exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
        if (!ec && exe.rfind(root, 0) == 0)
            ours.push_back(pid);
    }
    return ours;
}

std::string ArgValue(const std::vector<std::string>& args, const std::string& key) {
    for (const auto& a : args)
        if (a.rfind(key + "=", 0) == 0) {
            std::string v = a.substr(key.size() + 1);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
                v = v.substr(1, v.size() - 2);
            return v;
        }
    return std::string();
}
}  // namespace

TEST(VLSystem, PageStartsClientThroughGuardAndACrashReachesTheReporter) {
    VLGuardSandbox sb;
    fs::copy_file(VL_CLIENT_PATH, sb.install + "bin/VLStudent", fs::copy_options::overwrite_existing);
    fs::copy_file(VL_PLATFORM_FILE, sb.install + "bin/platform.txt");
    fs::copy(fs::path(VL_CLIENT_PATH).parent_path() / "res", sb.install + "bin/res", fs::copy_options::recursive);
    // The direct start must not reach out to a real platform: nothing listens here.
    const VLSysUrlHosts nowhere{"http://127.0.0.1:1", "http://127.0.0.1:1", "http://127.0.0.1:1",
                                "http://127.0.0.1:1", "http://127.0.0.1:1"};
    ASSERT_TRUE(VLDatabaseManager::CreateSysDb(
        sb.install + "bin/sys.db", {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, nowhere),
                                    VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName, nowhere)}));

    VLTestProcess guard;
    int port = 0;
    ASSERT_TRUE(sb.StartGuard(guard, port)) << sb.GuardOutput();

    // A teacher's page asks for question 17.
    HttpReply reply = HttpGet(port, "/runClient?question_id=17");
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.status, 200);
    ASSERT_TRUE(WaitUntil([&] { return ClientLog(sb).find("paper id \"17\"") != std::string::npos; }, 20000))
        << ClientLog(sb);
    EXPECT_NE(ClientLog(sb).find("run mode 5"), std::string::npos);

    // The client's watchdog sees the running guard and starts no second one.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(OurProcesses(sb, "VLGuard").size(), 1u);
    auto clients = OurProcesses(sb, "VLStudent");
    ASSERT_EQ(clients.size(), 1u);
    kill(clients[0], SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return OurProcesses(sb, "VLStudent").empty(); }, 20000));

    // A client started with -crashtest crashes on request; the guard writes the dump.
    VLTestProcess crashing;
    ASSERT_TRUE(crashing.Start(sb.install + "bin/VLStudent", {"-crashtest"}, sb.Env(), sb.root + "client.out",
                               sb.root + "client.err"));
    ASSERT_TRUE(WaitUntil([&] { return Count(ClientLog(sb), "VLStudent 1.7.1.1393 starting") == 2; }, 20000));
    ASSERT_TRUE(
        WaitUntil([&] { return Count(ClientLog(sb), "main window shown") == 2; }, 20000));
    kill(crashing.Pid(), SIGUSR1);
    auto status = crashing.Wait(30000);
    ASSERT_TRUE(status.has_value());
    // Under AddressSanitizer its own report ends the process after ours.
    EXPECT_TRUE(WIFSIGNALED(*status) || (WIFEXITED(*status) && WEXITSTATUS(*status) != 0));

    ASSERT_TRUE(WaitUntil([&] { return sb.Records("VLCrashReport").size() == 1; }, 20000));
    auto args = sb.Records("VLCrashReport")[0];
    std::string dumpPath = ArgValue(args, "-dump");
    EXPECT_EQ(ArgValue(args, "-type"), "student");
    EXPECT_EQ(ArgValue(args, "-agent_req_port"), "9500");
    auto dump = ReadMinidump(KWFile::ReadAll(dumpPath).value_or(""));
    ASSERT_TRUE(dump.has_value()) << dumpPath;
    EXPECT_EQ(dump->exceptionCode, static_cast<uint32_t>(SIGSEGV));
    EXPECT_EQ(dump->exceptionAddress, 0x40u);
    EXPECT_FALSE(dump->threads.empty());
    bool clientModule = false;
    for (const auto& m : dump->modules)
        clientModule |= m.name.find("VLStudent") != std::string::npos;
    EXPECT_TRUE(clientModule);

    // The page can stop the guard.
    HttpGet(port, "/exit", 1500);
    auto guardStatus = guard.Wait(20000);
    ASSERT_TRUE(guardStatus.has_value());
}
