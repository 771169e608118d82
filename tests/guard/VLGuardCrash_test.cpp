// A program with the client's crash handler crashes on purpose while a real
// VLGuard runs: the guard writes a minidump and starts the stand-in reporter.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"
#include "platform/crash/KWCrashHandler.h"
#include "tests/guard/MinidumpReader.h"
#include "tests/guard/VLGuardSandbox.h"

namespace KwLib {
namespace {

namespace fs = std::filesystem;
using TestSupport::VLGuardSandbox;
using TestSupport::VLTestProcess;
using TestSupport::WaitUntil;

// The build id as binutils' readelf prints it.
std::string ReadelfBuildId(const std::string& path) {
    std::string out;
    if (FILE* pipe = popen(("readelf -n '" + path + "' 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
            out.append(buf, n);
        pclose(pipe);
    }
    const std::string key = "Build ID: ";
    size_t at = out.find(key);
    if (at == std::string::npos)
        return "<no build id>";
    size_t end = out.find_first_of("\r\n", at);
    return out.substr(at + key.size(), end - at - key.size());
}

class VLGuardCrashTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(box.StartGuard(guard, port)); }
    void TearDown() override {
        TestSupport::HttpGet(port, "/exit", 2000);
        EXPECT_TRUE(guard.Wait(10000).has_value());
    }
    // Crashes the victim (with the default socket of the sandbox's runtime
    // folder) and returns the reporter's single argument list.
    std::vector<std::string> CrashAndCollect(const std::string& mode = "segv") {
        VLTestProcess victim;
        EXPECT_TRUE(victim.Start(VL_CRASH_VICTIM, {mode}, TestSupport::CrashHandlerEnv(box.Env()),
                                 box.root + "victim.out", box.root + "victim.err"));
        auto status = victim.Wait(30000);
        EXPECT_TRUE(status.has_value());
        if (status) {
            EXPECT_FALSE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
        }
        victimPid = victim.Pid();
        // The guard starts the reporter before it answers, so it is there already
        // or a moment later; the extra wait would show a second start.
        WaitUntil([&] { return !box.Records("VLCrashReport").empty(); }, 10000);
        WaitUntil([] { return false; }, 300);
        auto records = box.Records("VLCrashReport");
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? std::vector<std::string>{} : records[0];
    }
    static std::string Unquote(const std::string& arg, const std::string& key) {
        std::string prefix = "-" + key + "=\"";
        if (arg.rfind(prefix, 0) != 0 || arg.back() != '"')
            return "<" + arg + ">";
        return arg.substr(prefix.size(), arg.size() - prefix.size() - 1);
    }

    VLGuardSandbox box;
    VLTestProcess guard;
    int port = 0;
    pid_t victimPid = 0;
};

TEST_F(VLGuardCrashTest, DumpIsWrittenAndTheReporterStartedOnceWithDefaults) {
    auto args = CrashAndCollect();
    ASSERT_EQ(args.size(), 12u);
    std::string windows;
    int major = 0, minor = 0;
    KWSystemInfo::GetWindowsVersion(windows, major, minor);
    EXPECT_EQ(args[0], "-log=\"" + box.tmp + "VireloLog/vl.log\"");
    EXPECT_EQ(args[2], "-version=\"1.7.1.1393\"");
    EXPECT_EQ(args[3], "-description=\"学生端崩溃！\"");
    EXPECT_EQ(args[4], "-windows=\"" + windows + "\"");
    EXPECT_EQ(args[5], "-mac_addr=\"" + KWNetworkAdapter::SelectMacAddress() + "\"");
    EXPECT_EQ(args[6], "-type=\"student\"");
    EXPECT_EQ(args[7], "-enable_agent=1");
    EXPECT_EQ(args[8], "-agent_ip=\"\"");
    EXPECT_EQ(args[9], "-agent_req_port=9500");
    EXPECT_EQ(args[10], "-agent_download_port=9501");
    EXPECT_EQ(args[11], "-agent_upload_port=9502");

    const std::string dumpPath = Unquote(args[1], "dump");
    EXPECT_EQ(fs::path(dumpPath).parent_path().string() + "/", box.tmp);
    EXPECT_EQ(fs::path(dumpPath).extension(), ".dmp");
    ASSERT_TRUE(fs::exists(dumpPath)) << dumpPath;
    EXPECT_EQ(fs::status(dumpPath).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    std::string error;
    auto dump = TestSupport::ReadMinidump(VLGuardSandbox::ReadFile(dumpPath), &error);
    ASSERT_TRUE(dump) << error;
    for (uint32_t stream : {3u, 4u, 6u, 7u})
        EXPECT_TRUE(dump->streams.count(stream)) << "stream " << stream;
    EXPECT_EQ(dump->exceptionCode, static_cast<uint32_t>(SIGSEGV));
    EXPECT_EQ(dump->exceptionAddress, KWCrashHandler::kTestCrashAddress);
    EXPECT_EQ(dump->exceptionThread, static_cast<uint32_t>(victimPid));
    // The crashing thread comes first in the list (the others have tests of their own).
    ASSERT_GE(dump->threads.size(), 1u);
    const auto& thread = dump->threads[0];
    EXPECT_EQ(thread.id, static_cast<uint32_t>(victimPid));
    EXPECT_GT(thread.stack.size(), 256u);
    EXPECT_NE(thread.stack.find_first_not_of('\0'), std::string::npos);
#if defined(__x86_64__)
    EXPECT_EQ(dump->cpu, 9u);
    const uint64_t rsp = TestSupport::MinidumpFile::ContextRsp(thread.context);
    EXPECT_GE(rsp, thread.stackStart);
    EXPECT_LT(rsp, thread.stackStart + thread.stack.size());
#endif
    EXPECT_EQ(dump->platformId, 0x8201u);
    EXPECT_FALSE(dump->osDescription.empty());
    // The crashing program is among the modules, and the instruction pointer lies in one of them.
    const std::string victim = fs::canonical(VL_CRASH_VICTIM).string();
    bool victimListed = false, ipInModule = false;
    const uint64_t rip = TestSupport::MinidumpFile::ContextRip(thread.context);
    for (const auto& m : dump->modules) {
        if (m.name == victim) {
            victimListed = true;
            // "BpEL" and the build id that readelf reports for the program.
            ASSERT_GT(m.cvRecord.size(), 4u);
            EXPECT_EQ(m.cvRecord.substr(0, 4), "LEpB");
            std::string hex;
            for (unsigned char b : m.cvRecord.substr(4))
                hex += KWStringUtils::Format("%02x", b);
            EXPECT_EQ(hex, ReadelfBuildId(victim));
        }
        ipInModule |= rip >= m.base && rip < m.base + m.size;
    }
    EXPECT_TRUE(victimListed);
    EXPECT_TRUE(ipInModule);
    EXPECT_GE(dump->modules.size(), 2u);
    // Symbol tools drop modules whose ranges overlap.
    auto modules = dump->modules;
    std::sort(modules.begin(), modules.end(), [](const auto& a, const auto& b) { return a.base < b.base; });
    for (size_t i = 1; i < modules.size(); ++i)
        EXPECT_LE(modules[i - 1].base + modules[i - 1].size, modules[i].base)
            << modules[i - 1].name << " overlaps " << modules[i].name;
}

TEST_F(VLGuardCrashTest, AStackOverflowOnAWorkerThreadGivesExactlyOneDump) {
    auto args = CrashAndCollect("worker-overflow");  // one reporter start, checked there
    ASSERT_EQ(args.size(), 12u);
    std::string error;
    auto dump = TestSupport::ReadMinidump(VLGuardSandbox::ReadFile(Unquote(args[1], "dump")), &error);
    ASSERT_TRUE(dump) << error;
    EXPECT_EQ(dump->exceptionCode, static_cast<uint32_t>(SIGSEGV));
    EXPECT_NE(dump->exceptionThread, static_cast<uint32_t>(victimPid))
        << "the worker crashed, not the main thread";
    // Exactly one dump file in the temporary folder.
    int dumps = 0;
    for (const auto& entry : fs::directory_iterator(box.tmp))
        dumps += entry.path().extension() == ".dmp";
    EXPECT_EQ(dumps, 1);
}

TEST_F(VLGuardCrashTest, EveryThreadOfTheClientIsInTheDump) {
    // Four busy workers; one of them crashes while the others run on.
    auto args = CrashAndCollect("busy-workers");
    ASSERT_EQ(args.size(), 12u);
    std::string error;
    auto dump = TestSupport::ReadMinidump(VLGuardSandbox::ReadFile(Unquote(args[1], "dump")), &error);
    ASSERT_TRUE(dump) << error;
    // The victim listed its threads just before the crash: its main thread, the
    // four workers and whatever threads its libraries run.
    std::set<uint32_t> listed;
    uint32_t crashing = 0;
    {
        std::istringstream lines(box.ReadFile(box.root + "victim.out"));
        std::string line;
        while (std::getline(lines, line)) {
            const uint32_t tid = static_cast<uint32_t>(std::stoul(line));
            listed.insert(tid);
            if (line.find("crashing") != std::string::npos)
                crashing = tid;
        }
    }
    ASSERT_GE(listed.size(), 5u);
    ASSERT_EQ(dump->threads.size(), listed.size()) << box.ReadFile(box.tmp + "VireloLog/vl.log");
    std::set<uint32_t> ids;
    for (const auto& thread : dump->threads) {
        ids.insert(thread.id);
        EXPECT_GT(thread.stack.size(), 0u) << thread.id;
        EXPECT_NE(thread.stack.find_first_not_of('\0'), std::string::npos) << thread.id;
#if defined(__x86_64__)
        // Each stack holds its thread's stack pointer.
        const uint64_t rsp = TestSupport::MinidumpFile::ContextRsp(thread.context);
        EXPECT_GE(rsp, thread.stackStart) << thread.id;
        EXPECT_LT(rsp, thread.stackStart + thread.stack.size()) << thread.id;
        EXPECT_NE(TestSupport::MinidumpFile::ContextRip(thread.context), 0u) << thread.id;
#endif
    }
    EXPECT_EQ(ids, listed);
    EXPECT_TRUE(ids.count(static_cast<uint32_t>(victimPid))) << "the main thread";
    // The crashing one is a worker, and it is the exception's thread.
    EXPECT_EQ(dump->exceptionThread, crashing);
    EXPECT_NE(dump->exceptionThread, static_cast<uint32_t>(victimPid));
    EXPECT_EQ(dump->threads[0].id, dump->exceptionThread);
    EXPECT_EQ(dump->exceptionAddress, KWCrashHandler::kTestCrashAddress);
}

TEST_F(VLGuardCrashTest, AgentSettingsOfTheInnerEditionReachTheReporter) {
    box.WriteFile(box.install + "bin/platform.txt", "# edition\ninner\n");
    box.WriteFile(box.data + "Virelo/Student_Inner/config.cfg",
                  "[AGENT]\nEnable=0\nIP=10.20.30.40\nPort1=7001\nPort2=7002\nPort3=7003\n");
    box.WriteFile(box.data + "Virelo/Student/config.cfg", "[AGENT]\nIP=1.1.1.1\n");
    auto args = CrashAndCollect();
    ASSERT_EQ(args.size(), 12u);
    EXPECT_EQ(args[7], "-enable_agent=1");
    EXPECT_EQ(args[8], "-agent_ip=\"10.20.30.40\"");
    EXPECT_EQ(args[9], "-agent_req_port=7001");
    EXPECT_EQ(args[10], "-agent_download_port=7002");
    EXPECT_EQ(args[11], "-agent_upload_port=7003");
}

}  // namespace
}  // namespace KwLib
