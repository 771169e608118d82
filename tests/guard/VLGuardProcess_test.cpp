// The real VLGuard program in a sandbox, with stand-ins for the client.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "tests/guard/VLGuardSandbox.h"

namespace KwLib {
namespace {

namespace fs = std::filesystem;
using TestSupport::HttpGet;
using TestSupport::HttpReply;
using TestSupport::VLGuardSandbox;
using TestSupport::VLTestProcess;
using TestSupport::WaitUntil;

// A blocking TCP connection to the guard, or -1.
int ConnectTo(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval wait{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// True once the other end has closed `fd` (nothing more will come).
bool PeerClosed(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0)
        return false;
    char buf[256];
    ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// User and system CPU time of a process, in clock ticks.
int64_t CpuTicks(pid_t pid) {
    std::string stat = VLGuardSandbox::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    int64_t utime = 0, stime = 0;
    // Fields after the name start with the state (field 3); utime and stime are 14 and 15.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15)
            stime = std::stoll(field);
    }
    return utime + stime;
}

// The platform's pages in these tests: the teacher's site from sys.db, and a
// school's own site listed in config.cfg.
constexpr const char* kPlatformOrigin = "https://teacher.platform.example";
constexpr const char* kSchoolOrigin = "http://music.school.example:8080";

class VLGuardProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        box.WritePlatform(kPlatformOrigin, kSchoolOrigin);
        ASSERT_TRUE(box.StartGuard(guard, port)) << box.GuardOutput() << box.ReadFile(box.root + "guard.err");
    }
    void TearDown() override {
        box.HoldStartedPrograms(false);
        if (guard.IsRunning())
            HttpGet(port, "/exit", 2000);
        auto status = guard.Wait(10000);
        ASSERT_TRUE(status) << "the guard did not end on /exit";
        // It ends through its normal exit path (code 1), which also means no leak report.
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << box.ReadFile(box.root + "guard.err");
    }
    // Waits until `count` client starts are recorded, then a little longer, so
    // a start too many would show.
    std::vector<std::vector<std::string>> ClientStarts(size_t count) {
        WaitUntil([&] { return box.Records("VLStudent").size() >= count; }, 10000);
        WaitUntil([] { return false; }, 300);
        return box.Records("VLStudent");
    }
    // The guard takes no new start within three seconds of the last.
    static void WaitOutTheStartPause() {
        WaitUntil([] { return false; }, 3200);
    }
    // One request with the given extra header lines, as a browser or a tool sends it.
    HttpReply Send(const std::string& method, const std::string& target, const std::string& headers,
                   const std::string& host = std::string()) {
        return TestSupport::HttpExchange(port, method + " " + target + " HTTP/1.1\r\nHost: " +
                                                   (host.empty() ? TestSupport::HostOf(port) : host) +
                                                   "\r\n" + headers + "Connection: close\r\n\r\n");
    }

    VLGuardSandbox box;
    VLTestProcess guard;
    int port = 0;
};

TEST_F(VLGuardProcessTest, ASecondGuardEndsAtOnceAndTheFirstStays) {
    VLTestProcess second;
    ASSERT_TRUE(second.Start(box.install + "VLGuard", {}, box.Env(), box.root + "second.out",
                             box.root + "second.err"));
    auto status = second.Wait(10000);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(box.ReadFile(box.root + "second.out"), "");
    EXPECT_TRUE(guard.IsRunning());
    EXPECT_EQ(HttpGet(port, "/request").status, 200);
}

TEST_F(VLGuardProcessTest, RunClientStartsTheClientOncePerQuestionId) {
    HttpReply reply = HttpGet(port, "/runClient?question_id=17");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.reason, "OK");
    EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
    EXPECT_EQ(reply.body, "");
    auto starts = ClientStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], (std::vector<std::string>{"-role=3", "-id=17"}));

    box.ClearRecords();
    WaitOutTheStartPause();
    EXPECT_EQ(HttpGet(port, "/runClient?question_id=1&question_id=2").status, 200);
    starts = ClientStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    std::set<std::string> ids{starts[0].at(1), starts[1].at(1)};
    EXPECT_EQ(ids, (std::set<std::string>{"-id=1", "-id=2"}));

    // Requests without an id start nothing and are no start either.
    box.ClearRecords();
    WaitOutTheStartPause();
    reply = HttpGet(port, "/runClient");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
    EXPECT_EQ(HttpGet(port, "/runClient?other=3&question_id").status, 200);
    EXPECT_EQ(HttpGet(port, "/runClient?question_id=").status, 200);
    EXPECT_EQ(HttpGet(port, "/runClient?question_id=41").status, 200);
    starts = ClientStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], (std::vector<std::string>{"-role=3", "-id=41"}));
}

TEST_F(VLGuardProcessTest, IdsThatAreNotDigitsAndFloodsOfIdsStartNothing) {
    std::string thousand = "/runClient?";
    for (int i = 0; i < 1000; ++i)
        thousand += (i ? "&" : "") + std::string("question_id=") + std::to_string(100 + i);
    const struct {
        std::string target;
        const char* body;
    } refused[] = {
        {"/runClient?question_id=5%20-role=0%20-crashtest%22%3B%20rm",
         "A question id is made of digits only.\n"},
        // An id that would add parameters to the client's requests to the platform.
        {"/runClient?question_id=17%26school_id%3D1%23", "A question id is made of digits only.\n"},
        {"/runClient?question_id=17&question_id=x", "A question id is made of digits only.\n"},
        {"/runClient?question_id=%EF%BC%91%EF%BC%97", "A question id is made of digits only.\n"},
        {"/runClient?question_id=1&question_id=2&question_id=3",
         "At most 2 questions can be started at once.\n"},
        {thousand, "At most 2 questions can be started at once.\n"},
    };
    for (const auto& r : refused) {
        HttpReply reply = HttpGet(port, r.target);
        EXPECT_EQ(reply.status, 400) << r.target.substr(0, 80);
        EXPECT_EQ(reply.body, r.body) << r.target.substr(0, 80);
        EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
    }
    EXPECT_TRUE(ClientStarts(1).empty());
    // Refusals are no starts: a good request goes through at once.
    EXPECT_EQ(HttpGet(port, "/runClient?question_id=17").status, 200);
    EXPECT_EQ(ClientStarts(1).size(), 1u);
}

TEST_F(VLGuardProcessTest, NoNewClientWhileOneRunsNorRightAfterAStart) {
    box.HoldStartedPrograms(true);
    ASSERT_EQ(HttpGet(port, "/runClient?question_id=17").status, 200);
    ASSERT_EQ(ClientStarts(1).size(), 1u);
    HttpReply reply = HttpGet(port, "/runClient?question_id=18");
    EXPECT_EQ(reply.status, 409);
    EXPECT_EQ(reply.body, "The exam client started before is still running.\n");
    EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
    // Once it has ended, the pause after its start still holds for a moment.
    box.HoldStartedPrograms(false);
    ASSERT_TRUE(
        WaitUntil([&] { return (reply = HttpGet(port, "/runClient?question_id=18")).status != 409; }, 10000));
    EXPECT_EQ(reply.status, 429);
    EXPECT_EQ(reply.body, "The exam client was started a moment ago.\n");
    const int retry = std::atoi(reply.headers["retry-after"].c_str());
    EXPECT_TRUE(retry >= 1 && retry <= 3) << reply.headers["retry-after"];
    WaitOutTheStartPause();
    EXPECT_EQ(HttpGet(port, "/runClient?question_id=18").status, 200);
    EXPECT_EQ(ClientStarts(2).size(), 2u);
}

TEST_F(VLGuardProcessTest, OnlyRequestsAddressedToTheGuardItselfAreAnswered) {
    box.WriteFile(box.install + "web/page.html", "<p>guard page</p>");
    const std::string p = std::to_string(port);
    // DNS rebinding: a page whose name now leads to 127.0.0.1 sends its own name.
    const std::vector<std::string> hosts = {"attacker.example:" + p,
                                            "attacker.example",
                                            "127.0.0.1",
                                            "localhost",
                                            "127.0.0.1:" + std::to_string(port + 1),
                                            "0.0.0.0:" + p};
    for (const std::string& host : hosts) {
        for (const char* target : {"/runClient?question_id=17", "/exit", "/request", "/page.html", "/"}) {
            HttpReply reply = Send("GET", target, "", host);
            EXPECT_EQ(reply.status, 403) << host << target;
            EXPECT_EQ(reply.body.find("guard page"), std::string::npos);
        }
    }
    // HTTP/1.0 without any Host.
    EXPECT_EQ(TestSupport::HttpExchange(port, "GET /runClient?question_id=17 HTTP/1.0\r\n\r\n").status, 403);
    EXPECT_TRUE(ClientStarts(1).empty());
    EXPECT_TRUE(guard.IsRunning());
    for (const std::string& host :
         std::vector<std::string>{"127.0.0.1:" + p, "localhost:" + p, "LOCALHOST:" + p, "[::1]:" + p})
        EXPECT_EQ(Send("GET", "/page.html", "", host).body, "<p>guard page</p>") << host;
}

TEST_F(VLGuardProcessTest, PagesOfOtherSitesAreRefusedThePlatformsPagesServed) {
    // A page of another site fetches /runClient: refused, and it can tell.
    HttpReply reply = Send("GET", "/runClient?question_id=17",
                           "Origin: https://evil.example\r\nSec-Fetch-Site: cross-site\r\n");
    EXPECT_EQ(reply.status, 403);
    EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
    EXPECT_EQ(reply.body, "Only the platform's pages can do this.\n");
    for (const char* origin : {"null", "https://teacher.platform.example.evil.example",
                               "http://teacher.platform.example", "http://music.school.example"})
        EXPECT_EQ(Send("GET", "/runClient?question_id=17", std::string("Origin: ") + origin + "\r\n").status,
                  403)
            << origin;
    // A picture or a link of another site: no Origin, but the browser says where it comes from.
    EXPECT_EQ(Send("GET", "/runClient?question_id=17", "Sec-Fetch-Site: cross-site\r\n").status, 403);
    // Another server on this PC's loopback is the same site, not the same origin.
    EXPECT_EQ(Send("GET", "/runClient?question_id=17", "Sec-Fetch-Site: same-site\r\n").status, 403);
    // A cross-site form posted to /exit.
    reply = Send("POST", "/exit",
                 "Origin: https://evil.example\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 3\r\n\r\nx=1");
    EXPECT_EQ(reply.status, 403);
    EXPECT_TRUE(guard.IsRunning());
    // A preflight of another site is refused and allows nothing.
    reply = Send("OPTIONS", "/runClient?question_id=17",
                 "Origin: https://evil.example\r\nAccess-Control-Request-Method: GET\r\n"
                 "Access-Control-Request-Private-Network: true\r\n");
    EXPECT_EQ(reply.status, 403);
    EXPECT_EQ(reply.headers.count("access-control-allow-private-network"), 0u);
    EXPECT_TRUE(ClientStarts(1).empty());

    // The platform's page: its browser asks first (private network access), which starts nothing...
    reply = Send("OPTIONS", "/runClient?question_id=17",
                 std::string("Origin: ") + kPlatformOrigin +
                     "\r\nAccess-Control-Request-Method: GET\r\n"
                     "Access-Control-Request-Private-Network: true\r\n");
    EXPECT_EQ(reply.status, 204);
    EXPECT_EQ(reply.headers["access-control-allow-origin"], kPlatformOrigin);
    EXPECT_EQ(reply.headers["access-control-allow-methods"], "GET");
    EXPECT_EQ(reply.headers["access-control-allow-private-network"], "true");
    EXPECT_EQ(reply.headers["vary"], "Origin");
    EXPECT_TRUE(ClientStarts(1).empty());
    // ...then the request itself starts the client; a school's own site too, after the pause.
    reply = Send("GET", "/runClient?question_id=17",
                 std::string("Origin: ") + kSchoolOrigin + "\r\nSec-Fetch-Site: cross-site\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["access-control-allow-origin"], kSchoolOrigin);
    auto starts = ClientStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], (std::vector<std::string>{"-role=3", "-id=17"}));
    reply = Send("GET", "/runClient?question_id=18", std::string("Origin: ") + kPlatformOrigin + "\r\n");
    EXPECT_EQ(reply.status, 429);
    EXPECT_EQ(reply.headers["access-control-allow-origin"], kPlatformOrigin);
    // And the platform's page may end the guard.
    reply = Send("GET", "/exit", std::string("Origin: ") + kPlatformOrigin + "\r\n");
    EXPECT_FALSE(reply.received);
    EXPECT_TRUE(guard.Wait(10000).has_value());
}

TEST_F(VLGuardProcessTest, AFloodOfRefusedRequestsDoesNotFloodTheLog) {
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(Send("GET", "/runClient?question_id=17", "Origin: https://evil.example\r\n").status, 403);
    const std::string log = box.ReadFile(box.tmp + "VireloLog/vl.log");
    size_t lines = 0;
    for (size_t at = 0; (at = log.find("refused: from origin", at)) != std::string::npos; ++at)
        ++lines;
    // One line a second, however fast they come.
    EXPECT_GE(lines, 1u);
    EXPECT_LT(lines, 20u) << log;
    EXPECT_TRUE(ClientStarts(1).empty());
}

TEST_F(VLGuardProcessTest, RunClientAnswers500WhenTheClientCannotStart) {
    const std::string client = box.install + "bin/VLStudent";
    // Not executable: the start fails although the file is there.
    fs::permissions(client, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    HttpReply reply = HttpGet(port, "/runClient?question_id=17");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
    EXPECT_EQ(reply.body, "The exam client could not be started.\n");

    // Missing altogether.
    fs::remove(client);
    reply = HttpGet(port, "/runClient?question_id=17&question_id=18");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
    // Nothing to start is not a failure.
    EXPECT_EQ(HttpGet(port, "/runClient").status, 200);
    EXPECT_TRUE(box.Records("VLStudent").empty());
    EXPECT_TRUE(guard.IsRunning());
}

TEST_F(VLGuardProcessTest, RequestPrintsItsTrace) {
    HttpReply reply =
        TestSupport::HttpExchange(port, "POST /request?x=1 HTTP/1.1\r\nHost: " + TestSupport::HostOf(port) +
                                            "\r\nX-Probe: yes\r\n"
                                            "Content-Length: 5\r\nConnection: close\r\n\r\nhello");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "");
    std::string out = box.GuardOutput();
    EXPECT_NE(out.find("Received a POST request for /request?x=1\nHeaders:\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  X-Probe: yes\n"), std::string::npos);
    EXPECT_NE(out.find("Input data: <<<hello>>>"), std::string::npos);
}

TEST_F(VLGuardProcessTest, ExitEndsTheGuardWithoutAnAnswer) {
    HttpReply reply = HttpGet(port, "/exit", 5000);
    EXPECT_FALSE(reply.received);
    EXPECT_TRUE(guard.Wait(10000).has_value());
    // The crash socket and the instance lock are free again for the next guard.
    EXPECT_FALSE(fs::exists(box.runtime + "VLStudentServer"));
    VLTestProcess next;
    int nextPort = 0;
    ASSERT_TRUE(box.StartGuard(next, nextPort, "next"));
    HttpGet(nextPort, "/exit");
    EXPECT_TRUE(next.Wait(10000).has_value());
}

TEST_F(VLGuardProcessTest, StaticFilesWithTheirContentTypesAndListings) {
    box.WriteFile(box.install + "web/Picture.PNG", "\x89PNG-bytes");
    box.WriteFile(box.install + "web/notes.md", "# notes");
    box.WriteFile(box.install + "web/sub/page.html", "<p>hi</p>");
    box.WriteFile(box.install + "web/sub/empty.txt", "");
    fs::create_symlink("sub/page.html", box.install + "web/inside-link.html");

    HttpReply png = HttpGet(port, "/Picture.PNG");
    EXPECT_EQ(png.status, 200);
    EXPECT_EQ(png.headers["content-type"], "image/png");
    EXPECT_EQ(png.body, "\x89PNG-bytes");
    HttpReply md = HttpGet(port, "/notes.md");
    EXPECT_EQ(md.headers["content-type"], "application/misc");
    EXPECT_EQ(md.body, "# notes");
    EXPECT_EQ(HttpGet(port, "/inside-link.html").body, "<p>hi</p>");
    HttpReply empty = HttpGet(port, "/sub/empty.txt");
    EXPECT_EQ(empty.status, 200);
    EXPECT_EQ(empty.body, "");
    EXPECT_EQ(HttpGet(port, "/sub/page%2Ehtml").body, "<p>hi</p>");

    HttpReply listing = HttpGet(port, "/sub");
    EXPECT_EQ(listing.status, 200);
    EXPECT_EQ(listing.headers["content-type"], "text/html");
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    EXPECT_NE(listing.body.find("<title>/sub</title>"), std::string::npos) << listing.body;
    EXPECT_NE(listing.body.find("<base href='" + base + "/sub/'>"), std::string::npos) << listing.body;
    EXPECT_NE(listing.body.find("<h1>/sub</h1>"), std::string::npos);
    for (const char* name : {".", "..", "empty.txt", "page.html"})
        EXPECT_NE(listing.body.find("<li><a href=\"" + std::string(name) + "\">" + name + "</a>"),
                  std::string::npos)
            << name;
    EXPECT_NE(HttpGet(port, "/sub/").body.find("<base href='" + base + "/sub/'>"), std::string::npos);

    HttpReply missing = HttpGet(port, "/nothing-here.txt");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.reason, "Document was not found");
    std::string out = box.GuardOutput();
    EXPECT_NE(out.find("--Got a GET request for </Picture.PNG>"), std::string::npos) << out;
}

TEST_F(VLGuardProcessTest, EveryWayOutOfTheWebFolderIsNotFound) {
    const std::string secret = "TOP-SECRET-MARKER";
    box.WriteFile(box.install + "secret.txt", secret);
    box.WriteFile(box.root + "outside/secret.txt", secret);
    box.WriteFile(box.install + "web/a/b.txt", "inside");
    fs::create_symlink("../secret.txt", box.install + "web/link-out");
    fs::create_symlink(box.root + "outside/secret.txt", box.install + "web/abs-link");
    fs::create_symlink(box.root + "outside", box.install + "web/dir-link");
    fs::create_symlink("/etc", box.install + "web/etc-link");
    fs::create_symlink("../..", box.install + "web/a/up");

    const std::vector<std::string> attempts = {
        "/../secret.txt",
        "/a/../../secret.txt",
        "/a/../b.txt",
        "/%2e%2e/secret.txt",
        "/%2E%2E/secret.txt",
        "/.%2e/secret.txt",
        "/%2e./secret.txt",
        "/..%2fsecret.txt",
        "/..%2Fsecret.txt",
        "/%2e%2e%2fsecret.txt",
        "/%2e%2e%5csecret.txt",
        "/..%5csecret.txt",
        "/....//secret.txt",
        "/./../secret.txt",
        "/a/./../../secret.txt",
        "/..",
        "/%2e%2e",
        "/%252e%252e/secret.txt",
        "/%c0%ae%c0%ae/secret.txt",
        "/..%00/secret.txt",
        "/a/b.txt%00.png",
        "//etc/passwd",
        "/%2fetc%2fpasswd",
        "/etc/passwd",
        "/link-out",
        "/abs-link",
        "/dir-link/secret.txt",
        "/dir-link",
        "/etc-link/passwd",
        "/a/up/secret.txt",
        "/a/up/../secret.txt",
        "/a/up",
        "http://127.0.0.1/../secret.txt",
        "/..;/secret.txt",
        "/%2e%2e;/secret.txt",
    };
    for (const auto& target : attempts) {
        HttpReply reply = HttpGet(port, target);
        EXPECT_EQ(reply.status, 404) << target;
        EXPECT_EQ(reply.body.find(secret), std::string::npos) << target;
        EXPECT_EQ(reply.body.find("root:"), std::string::npos) << target;
    }
    // The guard keeps serving after all of that.
    EXPECT_EQ(HttpGet(port, "/a/b.txt").body, "inside");
}

TEST_F(VLGuardProcessTest, OtherMethodsOnUnknownPathsAreRefusedAtOnceAndClosed) {
    for (const std::string method : {"POST", "PUT", "DELETE", "HEAD"}) {
        // HTTP/1.1 without "Connection: close": the guard must end the connection itself.
        HttpReply reply =
            TestSupport::HttpExchange(port,
                                      method + " /unknown HTTP/1.1\r\nHost: " + TestSupport::HostOf(port) +
                                          "\r\nContent-Length: 2\r\n\r\nhi",
                                      10000);
        EXPECT_EQ(reply.status, 404) << method;
        EXPECT_EQ(reply.reason, "Document was not found") << method;
        EXPECT_TRUE(reply.closed) << method;
    }
    EXPECT_TRUE(guard.IsRunning());
    EXPECT_EQ(HttpGet(port, "/request").status, 200);
}

TEST_F(VLGuardProcessTest, SilentAndTricklingConnectionsAreClosedByTheGuard) {
    int silent = ConnectTo(port);
    int trickle = ConnectTo(port);
    ASSERT_GE(silent, 0);
    ASSERT_GE(trickle, 0);
    // One byte at a time keeps evhttp's own inactivity time-out from ever firing;
    // the request never completes.
    const std::string slow = "GET /request HTTP/1.1\r\nHost: " + TestSupport::HostOf(port) +
                             "\r\nX-Slow: " + std::string(400, 'x');
    size_t sent = 0;
    bool silentClosed = false, trickleClosed = false;
    WaitUntil(
        [&] {
            if (sent < slow.size() && send(trickle, slow.data() + sent, 1, MSG_NOSIGNAL) == 1)
                ++sent;
            silentClosed = silentClosed || PeerClosed(silent);
            trickleClosed = trickleClosed || PeerClosed(trickle);
            WaitUntil([] { return false; }, 200);
            return silentClosed && trickleClosed;
        },
        60000);
    EXPECT_TRUE(silentClosed);
    EXPECT_TRUE(trickleClosed);
    EXPECT_LT(sent, slow.size()) << "the trickle ran out before the guard closed it";
    close(silent);
    close(trickle);
    EXPECT_EQ(HttpGet(port, "/request").status, 200);
}

TEST_F(VLGuardProcessTest, AFloodOfSlowAndHalfOpenConnectionsDoesNotStopTheGuard) {
    // Few descriptors, as on a machine with a low limit; the flood asks for more.
    rlimit low{256, 256};
    ASSERT_EQ(prlimit(guard.Pid(), RLIMIT_NOFILE, &low, nullptr), 0);
    const std::vector<std::string> partials = {
        "",  // half-open: connected, nothing sent
        "GET /request HTTP/1.1\r\nHost: " + TestSupport::HostOf(port) + "\r\n",
        "POST /unknown HTTP/1.1\r\nHost: " + TestSupport::HostOf(port) + "\r\nContent-Length: 100\r\n\r\nab",
        "GE",
    };
    std::deque<int> held;
    auto openOne = [&](size_t i) {
        int fd = ConnectTo(port);
        if (fd < 0)
            return;
        const std::string& start = partials[i % partials.size()];
        if (!start.empty())
            send(fd, start.data(), start.size(), MSG_NOSIGNAL);
        held.push_back(fd);
    };
    for (size_t i = 0; i < 371; ++i)
        openOne(i);
    EXPECT_GT(held.size(), 300u);
    const int64_t cpuBefore = CpuTicks(guard.Pid());

    // Everything a page or a crashing client needs still works while the
    // flood holds its connections.
    EXPECT_EQ(HttpGet(port, "/request").status, 200);
    EXPECT_EQ(HttpGet(port, "/runClient?question_id=41").status, 200);
    auto starts = ClientStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], (std::vector<std::string>{"-role=3", "-id=41"}));
    VLTestProcess victim;
    ASSERT_TRUE(
        victim.Start(VL_CRASH_VICTIM, {"segv"}, box.Env(), box.root + "victim.out", box.root + "victim.err"));
    EXPECT_TRUE(victim.Wait(30000).has_value());
    EXPECT_TRUE(WaitUntil([&] { return box.Records("VLCrashReport").size() == 1; }, 20000));

    // With the connections held and nothing new arriving the guard is quiet:
    // a failing accept retried in a loop would burn a whole core here. (CPU
    // time, not wall time: a busy machine can only make this smaller.)
    WaitUntil([] { return false; }, 1000);
    const int64_t ticksPerSecond = sysconf(_SC_CLK_TCK);
    EXPECT_LT(CpuTicks(guard.Pid()) - cpuBefore, ticksPerSecond / 2);

    // New connections keep coming while a page asks: its requests are still answered.
    std::atomic<bool> stop{false};
    std::thread flooder([&] {
        for (size_t i = 0; !stop; ++i) {
            openOne(i);
            if (held.size() > 371) {
                close(held.front());
                held.pop_front();
            }
        }
    });
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(HttpGet(port, "/request", 10000).status, 200) << "round " << i;
    stop = true;
    flooder.join();
    // And "/exit" still ends it, through its normal way out (TearDown checks the code).
    EXPECT_TRUE(guard.IsRunning());
    HttpGet(port, "/exit", 5000);
    EXPECT_TRUE(guard.Wait(10000).has_value());
    for (int fd : held)
        close(fd);
}

TEST_F(VLGuardProcessTest, AReaderThatHangsUpMidFileDoesNotEndTheGuard) {
    box.WriteFile(box.install + "web/big.bin", std::string(48 << 20, 'b'));
    for (int round = 0; round < 3; ++round) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        const std::string request =
            "GET /big.bin HTTP/1.1\r\nHost: " + TestSupport::HostOf(port) + "\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char first[4096];
        EXPECT_GT(recv(fd, first, sizeof first, 0), 0);
        // Hang up while the guard is still sending: politely, then hard.
        if (round % 2) {
            linger hard{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        close(fd);
    }
    EXPECT_EQ(HttpGet(port, "/request").status, 200);
    EXPECT_TRUE(guard.IsRunning());
}

TEST(VLGuardClientEnvironment, TheClientAPageStartsGetsACleanEnvironment) {
    VLGuardSandbox box;
    VLTestProcess guard;
    int port = 0;
    ASSERT_TRUE(box.StartGuard(guard, port, "guard",
                               {{"LD_LIBRARY_PATH", "/home/pupil/lib"},
                                {"EVIL_SETTING", "1"},
                                {"LANG", "zh_CN.UTF-8"},
                                {"VL_AUTOMATION_SOCKET", box.runtime + "auto.sock"}}));
    ASSERT_EQ(HttpGet(port, "/runClient?question_id=17").status, 200);
    ASSERT_TRUE(WaitUntil([&] { return !box.RecordedEnvironment("VLStudent").empty(); }, 10000));
    auto env = box.RecordedEnvironment("VLStudent");
    EXPECT_EQ(env.count("EVIL_SETTING"), 0u);
    // The libraries beside the programs, and nothing the guard inherited.
    EXPECT_EQ(env["LD_LIBRARY_PATH"], box.install + "bin:" + box.install);
    EXPECT_EQ(env["LANG"], "zh_CN.UTF-8");
    EXPECT_EQ(env["HOME"], box.home);
    EXPECT_EQ(env["XDG_RUNTIME_DIR"], box.runtime);
    EXPECT_EQ(env["TMPDIR"], box.tmp);
    // A development build hands its tests' switches on (the installed package does not).
    EXPECT_EQ(env["VL_AUTOMATION_SOCKET"], box.runtime + "auto.sock");
    HttpGet(port, "/exit");
    EXPECT_TRUE(guard.Wait(10000));
}

TEST(VLGuardShortcut, FormerShortcutGoesAndTheCurrentOneIsKept) {
    VLGuardSandbox box;
    const std::string desktop = box.home + "Desktop/";
    box.WriteFile(desktop + "Virelo Student.desktop", "[Desktop Entry]\nName=old\n");
    {
        VLTestProcess guard;
        int port = 0;
        ASSERT_TRUE(box.StartGuard(guard, port));
        HttpGet(port, "/exit");
        ASSERT_TRUE(guard.Wait(10000));
    }
    EXPECT_FALSE(fs::exists(desktop + "Virelo Student.desktop"));
    std::string entry = box.ReadFile(desktop + "Virelo学生端.desktop");
    EXPECT_NE(entry.find("Exec=\"" + box.install + "bin/VLStudent\"\n"), std::string::npos) << entry;

    // An existing shortcut under the current name is left as it is.
    box.WriteFile(desktop + "Virelo学生端.desktop", "[Desktop Entry]\nName=mine\n");
    {
        VLTestProcess guard;
        int port = 0;
        ASSERT_TRUE(box.StartGuard(guard, port));
        HttpGet(port, "/exit");
        ASSERT_TRUE(guard.Wait(10000));
    }
    EXPECT_EQ(box.ReadFile(desktop + "Virelo学生端.desktop"), "[Desktop Entry]\nName=mine\n");
    EXPECT_NE(box.ReadFile(box.tmp + "VireloLog/vl.log").find("VLGuard 1.7.1.1393 started"),
              std::string::npos);
}

}  // namespace
}  // namespace KwLib
