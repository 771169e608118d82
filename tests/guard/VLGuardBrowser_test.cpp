// A page in headless Chromium, served from another origin, starts the client
// through the real guard the way a teacher's site does.
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

TEST(VLGuardBrowser, PageOnAnotherOriginStartsTheClientOnce) {
    const std::string browserDir = std::string(VL_SOURCE_DIR) + "/tests/browser/";
    const std::string node = FindNode();
    if (access("/usr/bin/chromium", X_OK) != 0 || node.empty() ||
        !fs::exists(browserDir + "node_modules/playwright-core"))
        GTEST_SKIP() << "needs /usr/bin/chromium, node and tests/browser/node_modules (scripts/setup.sh)";

    VLGuardSandbox box;
    VLTestProcess guard;
    int port = 0;
    ASSERT_TRUE(box.StartGuard(guard, port));

    VLTestProcess browser;
    auto env = box.Env();
    env.erase("VL_GUARD_PORT");
    ASSERT_TRUE(browser.Start(node, {browserDir + "run_client_page.js", std::to_string(port), "17"}, env,
                              box.root + "browser.out", box.root + "browser.err"));
    auto status = browser.Wait(120000);
    ASSERT_TRUE(status.has_value()) << "the browser did not finish";
    const std::string out = box.ReadFile(box.root + "browser.out");
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << out << box.ReadFile(box.root + "browser.err");
    EXPECT_NE(out.find("status 200 OK body []"), std::string::npos) << out;

    WaitUntil([&] { return !box.Records("VLStudent").empty(); }, 10000);
    WaitUntil([] { return false; }, 300);
    auto starts = box.Records("VLStudent");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], (std::vector<std::string>{"-role=3", "-id=17"}));

    TestSupport::HttpGet(port, "/exit", 2000);
    EXPECT_TRUE(guard.Wait(10000).has_value());
}

}  // namespace
}  // namespace KwLib
