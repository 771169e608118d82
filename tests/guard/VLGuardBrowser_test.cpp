// Pages in headless Chromium start the client through the real guard the way a
// teacher's site does: the same page from an origin of the platform starts it,
// from any other origin it is refused and can tell.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/guard/VLGuardSandbox.h"

namespace KwLib {
namespace {

namespace fs = std::filesystem;
using TestSupport::VLGuardSandbox;
using TestSupport::VLTestProcess;
using TestSupport::WaitUntil;

std::string FindNode() {
    for (const char* candidate : {"/usr/bin/node", "/usr/local/bin/node", "/usr/bin/nodejs"})
        if (access(candidate, X_OK) == 0)
            return candidate;
    return std::string();
}

TEST(VLGuardBrowser, APageOfThePlatformStartsTheClientAPageOfAnotherOriginDoesNot) {
    const std::string browserDir = std::string(VL_SOURCE_DIR) + "/tests/browser/";
    const std::string node = FindNode();
    if (access("/usr/bin/chromium", X_OK) != 0 || node.empty() ||
        !fs::exists(browserDir + "node_modules/playwright-core"))
        GTEST_SKIP() << "needs /usr/bin/chromium, node and tests/browser/node_modules (scripts/setup.sh)";

    const int pagePort = TestSupport::FreeLoopbackPort();
    ASSERT_GT(pagePort, 0);
    VLGuardSandbox box;
    // The platform's teacher site, as sys.db names it.
    box.WritePlatform("http://teacher.platform.example:" + std::to_string(pagePort));
    VLTestProcess guard;
    int port = 0;
    ASSERT_TRUE(box.StartGuard(guard, port));

    // First from origins the guard does not know: 127.0.0.1 itself (another
    // server on this PC) and another site; then from the platform's.
    VLTestProcess browser;
    auto env = box.Env();
    env.erase("VL_GUARD_PORT");
    ASSERT_TRUE(
        browser.Start(node,
                      {browserDir + "run_client_page.js", std::to_string(port), "17",
                       std::to_string(pagePort), "127.0.0.1", "evil.example", "teacher.platform.example"},
                      env, box.root + "browser.out", box.root + "browser.err"));
    auto status = browser.Wait(150000);
    ASSERT_TRUE(status.has_value()) << "the browser did not finish";
    const std::string out = box.ReadFile(box.root + "browser.out");
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << out << box.ReadFile(box.root + "browser.err");
    const std::string refused = "status 403 Forbidden body [Only the platform's pages can do this.\n]";
    EXPECT_NE(out.find("127.0.0.1: " + refused), std::string::npos) << out;
    EXPECT_NE(out.find("evil.example: " + refused), std::string::npos) << out;
    EXPECT_NE(out.find("teacher.platform.example: status 200 OK body []"), std::string::npos) << out;

    WaitUntil([&] { return !box.Records("VLStudent").empty(); }, 10000);
    WaitUntil([] { return false; }, 300);
    auto starts = box.Records("VLStudent");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], (std::vector<std::string>{"-role=3", "-id=17"}));
    const std::string log = box.ReadFile(box.tmp + "VireloLog/vl.log");
    // The refusals are logged, at most one line a second (the first of a burst).
    EXPECT_NE(log.find("refused: from origin \"http://127.0.0.1:" + std::to_string(pagePort)), std::string::npos)
        << log;

    TestSupport::HttpGet(port, "/exit", 2000);
    EXPECT_TRUE(guard.Wait(10000).has_value());
}

}  // namespace
}  // namespace KwLib
