// The guard's rules that need no running guard: the inner flag read in pieces,
// the library path, content types, path resolution, the client's and the crash
// reporter's arguments, and the minidump layout.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <random>

#include "app/core/VLAppState.h"
#include "guard/VLCrashReporterCommand.h"
#include "guard/VLGuardApp.h"
#include "guard/VLHttpLocalServer.h"
#include "guard/VLMinidumpWriter.h"
#include "guard/VLStaticFiles.h"
#include "tests/guard/MinidumpReader.h"
#include "tests/guard/VLGuardSandbox.h"

namespace KwLib {
namespace {

namespace fs = std::filesystem;
using TestSupport::VLGuardSandbox;

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/vlguardparts-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string path;
};

TEST(VLGuardInnerFlag, PiecewiseReadingDecidesLikeTheClient) {
    TempDir dir;
    const std::string file = dir.path + "/platform.txt";
    auto decide = [&](const std::string& text) {
        VLGuardSandbox::WriteFile(file, text);
        return VLGuardApp::ReadInnerFlag(file);
    };
    EXPECT_TRUE(decide("# comment\ninner\n# another comment\n"));
    EXPECT_FALSE(decide("inner\nouter\n"));
    EXPECT_TRUE(decide("INNER"));
    EXPECT_TRUE(decide("inner\r\n"));
    EXPECT_FALSE(decide(""));
    EXPECT_FALSE(decide("#inner\n"));
    // A line that crosses the 100-byte piece boundary is still one line.
    EXPECT_TRUE(decide(std::string(95, '#') + "\ninner\n"));
    EXPECT_FALSE(decide(std::string(97, 'x') + "inner\n"));
    EXPECT_TRUE(decide("#" + std::string(150, 'c') + "\n" + std::string(99, '#') + "\ninner"));
    EXPECT_FALSE(VLGuardApp::ReadInnerFlag(dir.path + "/missing.txt"));

    // Random texts of comment, inner and other lines, cut at every length around the pieces.
    std::mt19937 rng(7);
    const std::string parts[] = {"inner", "Inner", "#inner",  "# x",       "outer",
                                 "",      "\r",    "inner\r", "inner\r\r", std::string(60, 'y')};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        int lines = static_cast<int>(rng() % 8);
        for (int i = 0; i < lines; ++i)
            text += parts[rng() % 10] + "\n";
        if (rng() % 2)
            text += parts[rng() % 10];
        EXPECT_EQ(decide(text), IsInnerPlatformText(text)) << "text: " << text;
    }
}

TEST(VLGuardLibraryPath, GuardFoldersComeFirstAndNoEmptyEntry) {
    EXPECT_EQ(VLGuardApp::ExtendLibraryPath("/opt/vl/", "/usr/lib/x"), "/opt/vl/bin:/opt/vl/:/usr/lib/x");
    // An empty entry would search the current folder.
    EXPECT_EQ(VLGuardApp::ExtendLibraryPath("/opt/vl/", ""), "/opt/vl/bin:/opt/vl/");
}

TEST(VLStaticFiles, EveryRowOfTheContentTypeTableInAnyCase) {
    // Every type is one that browsers understand.
    const struct {
        const char* ext;
        const char* type;
    } kRows[] = {
        {"txt", "text/plain"}, {"c", "text/plain"},        {"h", "text/plain"},
        {"html", "text/html"}, {"htm", "text/html"},       {"css", "text/css"},
        {"gif", "image/gif"},  {"jpg", "image/jpeg"},      {"jpeg", "image/jpeg"},
        {"png", "image/png"},  {"pdf", "application/pdf"}, {"ps", "application/postscript"},
    };
    for (const auto& row : kRows) {
        const std::string lower = row.ext;
        std::string upper = lower;
        for (char& c : upper)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        std::string mixed = upper;
        mixed[0] = lower[0];
        for (const std::string& ext : {lower, upper, mixed}) {
            EXPECT_EQ(VLStaticFiles::ContentTypeFor("/web/sub/file." + ext), row.type) << ext;
            EXPECT_EQ(VLStaticFiles::ContentTypeFor("a.b." + ext), row.type) << ext;
        }
    }
}

TEST(VLStaticFiles, ContentTypeEdgesOfTheExtensionRule) {
    EXPECT_EQ(VLStaticFiles::ContentTypeFor("/dir.d/file"), "application/misc");
    EXPECT_EQ(VLStaticFiles::ContentTypeFor("x."), "application/misc");
    EXPECT_EQ(VLStaticFiles::ContentTypeFor("x.HTML"), "text/html");
    EXPECT_EQ(VLStaticFiles::ContentTypeFor("notes.md"), "application/misc");
    EXPECT_EQ(VLStaticFiles::ContentTypeFor("README"), "application/misc");
    // Only the whole extension counts: neither a prefix nor a longer name of a row.
    EXPECT_EQ(VLStaticFiles::ContentTypeFor("x.pst"), "application/misc");
    EXPECT_EQ(VLStaticFiles::ContentTypeFor("x.ht"), "application/misc");
    EXPECT_EQ(VLStaticFiles::ContentTypeFor("x.htmlx"), "application/misc");
}

TEST(VLStaticFiles, ResolveStaysInsideTheRoot) {
    TempDir dir;
    const std::string root = fs::canonical(dir.path).string() + "/web";
    fs::create_directories(root + "/sub");
    VLGuardSandbox::WriteFile(root + "/sub/a.txt", "a");
    VLGuardSandbox::WriteFile(dir.path + "/secret.txt", "s");
    fs::create_symlink("../secret.txt", root + "/out");
    fs::create_symlink("sub/a.txt", root + "/in");

    EXPECT_EQ(VLStaticFiles::Resolve(root, "/sub/a.txt"), root + "/sub/a.txt");
    EXPECT_EQ(VLStaticFiles::Resolve(root, "/"), root);
    EXPECT_EQ(VLStaticFiles::Resolve(root, "/in"), root + "/sub/a.txt");
    EXPECT_FALSE(VLStaticFiles::Resolve(root, "/out"));
    EXPECT_FALSE(VLStaticFiles::Resolve(root, "/../secret.txt"));
    EXPECT_FALSE(VLStaticFiles::Resolve(root, "/sub/../sub/a.txt"));
    EXPECT_FALSE(VLStaticFiles::Resolve(root, std::string("/sub/a.txt\0.png", 15)));
    EXPECT_FALSE(VLStaticFiles::Resolve(root, "/missing"));
    EXPECT_FALSE(VLStaticFiles::Resolve("", "/sub/a.txt"));
}

TEST(VLStaticFiles, ListingEscapesNames) {
    std::string page =
        VLStaticFiles::ListingPage("/d", "http://127.0.0.1:9182/d/", {".", "..", "<b>&'x\".txt"});
    EXPECT_NE(page.find("<title>/d</title>"), std::string::npos);
    EXPECT_NE(page.find("<base href='http://127.0.0.1:9182/d/'>"), std::string::npos);
    EXPECT_NE(page.find("    <li><a href=\"..\">..</a>\n"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;&amp;&#39;x&quot;.txt"), std::string::npos);
    EXPECT_NE(page.find("href=\"%3Cb%3E%26%27x%22.txt\""), std::string::npos);
}

TEST(VLHttpLocalServer, ClientArgumentsKeepTheIdInOneArgument) {
    EXPECT_EQ(VLHttpLocalServer::ClientArguments("17"), (std::vector<std::string>{"-role=3", "-id=17"}));
    EXPECT_EQ(VLHttpLocalServer::ClientArguments("1 -role=0 -crashtest"),
              (std::vector<std::string>{"-role=3", "-id=1 -role=0 -crashtest"}));
    // "-role=3 -id=" and the id fit in 99 bytes; a cut never splits a character.
    auto longId = VLHttpLocalServer::ClientArguments(std::string(200, '9'));
    EXPECT_EQ(longId[1].size(), 4u + 87u);
    auto wide = VLHttpLocalServer::ClientArguments(std::string(86, 'a') + "题");
    EXPECT_EQ(wide[1], "-id=" + std::string(86, 'a'));
}

TEST(VLCrashReporterCommand, AgentValuesComeFromTheFileWithDefaultsForMissingKeys) {
    TempDir dir;
    VLGuardSandbox::WriteFile(dir.path + "/config.cfg", "[AGENT]\nEnable=0\nIP=192.168.1.9\nPort1=7001\n");
    auto collected = VLCrashReporterCommand::Collect("/d.dmp", "/l.log", dir.path + "/config.cfg");
    EXPECT_EQ(collected.enableAgent, 1);
    EXPECT_EQ(collected.agentIp, "192.168.1.9");
    EXPECT_EQ(collected.agentReqPort, 7001);
    EXPECT_EQ(collected.agentDownloadPort, 9501);
    EXPECT_EQ(collected.agentUploadPort, 9502);
    EXPECT_EQ(collected.type, "student");
    EXPECT_EQ(collected.version, "1.7.1.1393");
}

TEST(VLMinidumpWriter, ModulesAndStreamsOfAReport) {
    const std::string maps =
        "55d000000000-55d000001000 r--p 00000000 08:01 100 /opt/vl/bin/VLStudent\n"
        "55d000001000-55d000005000 r-xp 00001000 08:01 100 /opt/vl/bin/VLStudent\n"
        "7f0000000000-7f0000021000 rw-p 00000000 00:00 0 \n"
        "7f1000000000-7f1000100000 r-xp 00000000 08:01 200 /usr/lib/libc.so.6\n"
        "7f2000000000-7f2000001000 rw-s 00000000 00:05 300 /dev/shm/x\n"
        "7ffc00000000-7ffc00021000 rw-p 00000000 00:00 0 [stack]\n";
    auto modules = VLMinidumpWriter::ModulesFromMaps(maps);
    ASSERT_EQ(modules.size(), 2u);
    EXPECT_EQ(modules[0].path, "/opt/vl/bin/VLStudent");
    EXPECT_EQ(modules[0].base, 0x55d000000000u);
    EXPECT_EQ(modules[0].size, 0x5000u);
    EXPECT_EQ(modules[1].path, "/usr/lib/libc.so.6");
    // A file mapped again beyond another module is a second entry, so no
    // module's range covers another one.
    const std::string twice =
        "7f1000000000-7f1000100000 r--s 00000000 08:01 300 /usr/share/fonts/wqy.ttc\n"
        "7f2000000000-7f2000001000 r--p 00000000 08:01 200 /usr/lib/libc.so.6\n"
        "7f2000001000-7f2000002000 ---p 00001000 08:01 200 /usr/lib/libc.so.6\n"
        "7f2000002000-7f2000003000 rw-p 00000000 00:00 0 \n"
        "7f2000003000-7f2000004000 rw-p 00002000 08:01 200 /usr/lib/libc.so.6\n"
        "7f3000000000-7f3000100000 r--s 00000000 08:01 300 /usr/share/fonts/wqy.ttc\n";
    auto separate = VLMinidumpWriter::ModulesFromMaps(twice);
    ASSERT_EQ(separate.size(), 3u);
    EXPECT_EQ(separate[0].size, 0x100000u);
    EXPECT_EQ(separate[1].path, "/usr/lib/libc.so.6");
    EXPECT_EQ(separate[1].size, 0x4000u);
    EXPECT_EQ(separate[2].base, 0x7f3000000000u);
    for (size_t i = 1; i < separate.size(); ++i)
        EXPECT_LE(separate[i - 1].base + separate[i - 1].size, separate[i].base);

    KWCrashReportData report;
    report.header.arch = static_cast<uint32_t>(KWCrashArch::X86_64);
    report.header.tid = 4242;
    report.header.signo = 11;
    report.header.code = 1;
    report.header.faultAddress = 0x40;
    report.header.gregCount = 23;
    report.header.gregs[16] = 0x55d000001234;  // rip
    report.header.gregs[15] = 0x7ffc00000100;  // rsp
    report.header.stackStart = 0x7ffc00000080;
    report.header.stackSize = 64;
    report.header.crashTime = 1700000000;
    report.stack = std::string(64, '\x5a');
    report.maps = maps;
    auto dump = TestSupport::ReadMinidump(VLMinidumpWriter::Build(report));
    ASSERT_TRUE(dump);
    for (uint32_t stream : {3u, 4u, 5u, 6u, 7u, 0x47670009u})
        EXPECT_TRUE(dump->streams.count(stream)) << stream;
    EXPECT_EQ(dump->version, 0xa793u);
    EXPECT_EQ(dump->timeStamp, 1700000000u);
    ASSERT_EQ(dump->threads.size(), 1u);
    EXPECT_EQ(dump->threads[0].id, 4242u);
    EXPECT_EQ(dump->threads[0].stackStart, 0x7ffc00000080u);
    EXPECT_EQ(dump->threads[0].stack, report.stack);
    EXPECT_EQ(dump->threads[0].context.size(), 1232u);
    EXPECT_EQ(TestSupport::MinidumpFile::ContextRip(dump->threads[0].context), 0x55d000001234u);
    EXPECT_EQ(TestSupport::MinidumpFile::ContextRsp(dump->threads[0].context), 0x7ffc00000100u);
    EXPECT_EQ(TestSupport::MinidumpFile::ContextFlags(dump->threads[0].context) & 0xfff00000u, 0x00100000u);
    EXPECT_EQ(dump->exceptionCode, 11u);
    EXPECT_EQ(dump->exceptionFlags, 1u);
    EXPECT_EQ(dump->exceptionAddress, 0x40u);
    EXPECT_EQ(dump->exceptionThread, 4242u);
    EXPECT_EQ(dump->exceptionContext, dump->threads[0].context);
    ASSERT_EQ(dump->modules.size(), 2u);
    EXPECT_EQ(dump->modules[0].name, "/opt/vl/bin/VLStudent");
    EXPECT_EQ(dump->modules[1].base, 0x7f1000000000u);
    EXPECT_EQ(dump->modules[1].size, 0x100000u);
    EXPECT_EQ(dump->cpu, 9u);
    EXPECT_EQ(dump->platformId, 0x8201u);
    EXPECT_EQ(dump->streams[0x47670009], maps);

    // Two more threads read by the guard: listed after the crashing one, each
    // with its own stack and registers; the exception stays the crashing one's.
    for (int i = 0; i < 2; ++i) {
        KWCrashThread other;
        other.tid = 4243 + i;
        other.arch = static_cast<uint32_t>(KWCrashArch::X86_64);
        other.gregCount = 23;
        other.gregs[16] = 0x55d000002000 + i;  // rip
        other.gregs[15] = 0x7f0000010000 + i;  // rsp
        other.stackStart = 0x7f000000ff80 + i;
        other.stack = std::string(32 + i, static_cast<char>('a' + i));
        report.otherThreads.push_back(other);
    }
    dump = TestSupport::ReadMinidump(VLMinidumpWriter::Build(report));
    ASSERT_TRUE(dump);
    ASSERT_EQ(dump->threads.size(), 3u);
    EXPECT_EQ(dump->threads[0].id, 4242u);
    for (int i = 0; i < 2; ++i) {
        const auto& thread = dump->threads[1 + i];
        EXPECT_EQ(thread.id, 4243u + i);
        EXPECT_EQ(thread.stackStart, 0x7f000000ff80u + i);
        EXPECT_EQ(thread.stack, report.otherThreads[i].stack);
        EXPECT_EQ(TestSupport::MinidumpFile::ContextRip(thread.context), 0x55d000002000u + i);
        EXPECT_EQ(TestSupport::MinidumpFile::ContextRsp(thread.context), 0x7f0000010000u + i);
    }
    EXPECT_EQ(dump->exceptionThread, 4242u);
    EXPECT_EQ(dump->exceptionContext, dump->threads[0].context);
}

TEST(VLMinidumpWriter, EachDumpIsANewOwnerOnlyFile) {
    TempDir dir;
    KWCrashReportData report;
    report.header.arch = static_cast<uint32_t>(KWCrashArch::X86_64);
    report.header.signo = 11;
    report.stack = "stack";
    // Whatever the umask, a dump is never readable by others.
    const mode_t old = umask(0);
    const std::string first = VLMinidumpWriter::WriteToFolder(report, dir.path + "/");
    const std::string second = VLMinidumpWriter::WriteToFolder(report, dir.path + "/");
    umask(old);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(VLGuardSandbox::ReadFile(first), VLMinidumpWriter::Build(report));
    EXPECT_EQ(fs::status(first).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(VLMinidumpWriter::WriteToFolder(report, dir.path + "/missing/"), "");
    EXPECT_FALSE(fs::exists(dir.path + "/missing"));
}

TEST(VLMinidumpWriter, DumpsBeyondTheQuotaGoOldestFirstAndNothingElse) {
    TempDir dir;
    const std::string folder = dir.path + "/";
    KWCrashReportData report;
    report.header.arch = static_cast<uint32_t>(KWCrashArch::X86_64);
    report.stack = std::string(1000, 's');
    const uint64_t size = VLMinidumpWriter::Build(report).size();
    // Twelve dumps, a minute apart, the first the oldest.
    std::vector<std::string> dumps;
    const auto start = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int i = 0; i < 12; ++i) {
        dumps.push_back(VLMinidumpWriter::WriteToFolder(report, folder));
        ASSERT_FALSE(dumps.back().empty());
        EXPECT_TRUE(VLMinidumpWriter::IsDumpName(fs::path(dumps.back()).filename()));
        fs::last_write_time(dumps.back(), start + std::chrono::minutes(i));
    }
    // What is not a dump of ours stays, however old.
    const std::string notes = folder + "notes.dmp";
    const std::string otherFile = folder + "0f3c2a1b-1111-4222-8333-444455556666.dmp";
    const std::string link = folder + "0f3c2a1b-1111-4222-8333-444455557777.dmp";
    VLGuardSandbox::WriteFile(notes, "MDMP but not named like a dump");
    VLGuardSandbox::WriteFile(otherFile, "not a minidump");
    fs::create_symlink(dumps[0], link);
    for (const std::string& path : {notes, otherFile})
        fs::last_write_time(path, start - std::chrono::hours(5));
    EXPECT_FALSE(VLMinidumpWriter::IsDumpName("notes.dmp"));
    EXPECT_FALSE(VLMinidumpWriter::IsDumpName("0f3c2a1b-1111-4222-8333-44445555666.dmp"));
    EXPECT_FALSE(VLMinidumpWriter::IsDumpName("0f3c2a1b-1111-4222-8333-444455556666.dmp.part"));
    EXPECT_FALSE(VLMinidumpWriter::IsDumpName("0f3c2a1b_1111-4222-8333-444455556666.dmp"));

    VLMinidumpWriter::PruneFolder(folder, dumps.back());
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(fs::exists(dumps[i]), i >= 2) << i;
    EXPECT_TRUE(fs::exists(notes));
    EXPECT_TRUE(fs::exists(otherFile));
    EXPECT_TRUE(fs::is_symlink(link));

    // The byte quota: the dump just written always stays, even the oldest.
    VLMinidumpWriter::PruneFolder(folder, dumps[2], 10, 3 * size);
    for (int i = 2; i < 12; ++i)
        EXPECT_EQ(fs::exists(dumps[i]), i == 2 || i >= 10) << i;
    VLMinidumpWriter::PruneFolder(folder, dumps[11], 10, size - 1);
    EXPECT_TRUE(fs::exists(dumps[11]));
    EXPECT_FALSE(fs::exists(dumps[10]));
    EXPECT_FALSE(fs::exists(dumps[2]));
    EXPECT_GE(VLMinidumpWriter::kMaxDumps, 3u);
    // A quiet folder is left alone; a missing one is no failure.
    VLMinidumpWriter::PruneFolder(dir.path + "/missing/");
}

// What a test program that is about to die tells the test watching it.
struct LeftBehind {
    pid_t sleeper = -1;
    pid_t guard = -1;
    pid_t client = -1;  // the stand-in client the guard started
    char root[256] = {};
};

bool Alive(pid_t pid) {
    std::string stat = VLGuardSandbox::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

TEST(VLTestProcessSupport, StartedProgramsEndWithATestProgramThatDies) {
    // A test program that dies without running its destructors (a crash, a kill, CTest's
    // time-out) must not leave a guard behind, nor a client that guard started: on a shared
    // machine they would answer the next run's tests.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t testProgram = fork();
    ASSERT_GE(testProgram, 0);
    if (testProgram == 0) {
        LeftBehind left;
        auto* sleeper = new TestSupport::VLTestProcess;
        if (sleeper->Start("/bin/sleep", {"60"}, {}, "", ""))
            left.sleeper = sleeper->Pid();
        auto* box = new VLGuardSandbox;
        std::snprintf(left.root, sizeof left.root, "%s", box->root.c_str());
        box->HoldStartedPrograms(true);
        auto* guard = new TestSupport::VLTestProcess;
        int port = 0;
        if (box->StartGuard(*guard, port)) {
            left.guard = guard->Pid();
            TestSupport::HttpGet(port, "/runClient?question_id=17");
            // The stand-in names its record after its pid: "VLStudent-<pid>.args".
            TestSupport::WaitUntil(
                [&] {
                    std::error_code ec;
                    for (const auto& entry : fs::directory_iterator(box->records, ec)) {
                        const std::string name = entry.path().filename().string();
                        if (name.rfind("VLStudent-", 0) == 0 && name.size() > 15)
                            left.client = static_cast<pid_t>(std::atoi(name.c_str() + 10));
                    }
                    return left.client > 0;
                },
                10000);
        }
        write(report[1], &left, sizeof left);
        _exit(0);
    }
    close(report[1]);
    LeftBehind left;
    ASSERT_EQ(read(report[0], &left, sizeof left), static_cast<ssize_t>(sizeof left));
    close(report[0]);
    waitpid(testProgram, nullptr, 0);
    ASSERT_GT(left.sleeper, 0);
    ASSERT_GT(left.guard, 0) << "the guard did not start";
    ASSERT_GT(left.client, 0) << "the guard started no client";
    // Orphans are reparented and reaped elsewhere; their /proc entries go with them.
    for (const pid_t pid : {left.sleeper, left.guard, left.client}) {
        EXPECT_TRUE(TestSupport::WaitUntil([&] { return !Alive(pid); }, 10000)) << "pid " << pid << " stayed";
        if (Alive(pid))
            kill(pid, SIGKILL);
    }
    std::error_code ec;
    if (std::string(left.root).find("/vlguard-") != std::string::npos)
        fs::remove_all(left.root, ec);

    TestSupport::VLTestProcess missing;
    EXPECT_FALSE(missing.Start("/nonexistent/program", {}, {}, "", ""));
}

}  // namespace
}  // namespace KwLib
