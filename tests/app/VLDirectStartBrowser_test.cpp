// A direct start from a browser, the whole way: headless Chromium opens a
// teacher's page on the school's own site (listed for the guard in config.cfg), the page calls the real
// guard's /runClient?question_id=..., the guard starts the real client from its install tree (run mode 5, no
// sign-in, its sys.db pointing at the simulator), the exam driver answers the question in the client's window
// and the score page shows the score the platform returned.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "platform/common/KWFile.h"
#include "platform/common/KWIniFile.h"
#include "platform/common/KWLineSocketClient.h"
#include "tests/app/VLRealClient.h"
#include "tests/guard/VLTestProcess.h"
#include "tools/vl-drive/VLExamDriver.h"

namespace fs = std::filesystem;

namespace KwLib {
namespace {

using TestSupport::VLRealClient;

std::string FindNode() {
    for (const char* candidate : {"/usr/bin/node", "/usr/local/bin/node", "/usr/bin/nodejs"})
        if (access(candidate, X_OK) == 0)
            return candidate;
    return std::string();
}

const KWJsonValue* ControlById(const KWJsonValue& state, int id) {
    for (const KWJsonValue& c : state["controls"])
        if (c["id"].asInt() == id)
            return &c;
    return nullptr;
}

TEST(DirectStartBrowser, APageOfTheSchoolsSiteStartsAQuestionThatIsAnsweredAndScored) {
    const std::string browserDir = std::string(VL_SOURCE_DIR) + "/tests/browser/";
    const std::string node = FindNode();
    if (access("/usr/bin/chromium", X_OK) != 0 || node.empty() ||
        !fs::exists(browserDir + "node_modules/playwright-core"))
        GTEST_SKIP() << "needs /usr/bin/chromium, node and tests/browser/node_modules (scripts/setup.sh)";

    VLRealClient box(true);
    ASSERT_TRUE(box.Ready()) << box.Error();
    // The teacher's page comes from a site the school lists for the guard.
    const int pagePort = TestSupport::FreeLoopbackPort();
    ASSERT_GT(pagePort, 0);
    const std::string pageHost = "teacher.school.example";
    ASSERT_TRUE(KWIniFile::WriteString(box.UserDir() + "config.cfg", "GUARD", "WebOrigins",
                                       "http://" + pageHost + ":" + std::to_string(pagePort)));
    // The client the guard starts gets the automation socket the driver talks
    // to from the guard's environment (a development build passes it on).
    std::vector<std::string> env = box.Env();
    env.push_back("VL_AUTOMATION_SOCKET=" + box.Socket());
    VLClientProcess guard;
    const std::string guardOut = (box.root / "guard.out").string();
    ASSERT_TRUE(guard.Start((box.Install() / "VLGuard").string(), {}, env, guardOut));
    int port = 0;
    const std::regex listening("Listening on 127\\.0\\.0\\.1:([0-9]+)");
    for (int i = 0; i < 400 && port == 0 && guard.IsRunning(); ++i) {
        std::smatch m;
        const std::string out = KWFile::ReadAll(guardOut).value_or("");
        if (std::regex_search(out, m, listening))
            port = std::stoi(m[1]);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GT(port, 0) << KWFile::ReadAll(guardOut).value_or("");

    VLClientProcess browser;
    const std::string browserOut = (box.root / "browser.out").string();
    ASSERT_TRUE(browser.Start(
        node,
        {browserDir + "run_client_page.js", std::to_string(port), "106", std::to_string(pagePort), pageHost},
        {}, browserOut));
    const auto status = browser.Wait(120000);
    ASSERT_TRUE(status.has_value()) << "the browser did not finish";
    const std::string page = KWFile::ReadAll(browserOut).value_or("");
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << page;
    EXPECT_NE(page.find(pageHost + ": status 200 OK body []"), std::string::npos) << page;

    // The client on screen: a direct start, answered by the driver to the score.
    VLDriveOptions options;
    options.socket = box.Socket();
    options.timeoutSeconds = 240;
    options.screenshotDir = (box.root / "shots").string();
    fs::create_directories(options.screenshotDir);
    std::vector<std::string> steps;
    options.log = [&](const std::string& line) { steps.push_back(line); };
    VLExamDriver driver(options);
    ASSERT_EQ(driver.Run(), 0) << driver.LastError() << "\n" << box.ReadClientOutput();
    EXPECT_EQ(driver.AnsweredCount(), 1);
    EXPECT_NE(std::find(steps.begin(), steps.end(), "direct start, no sign-in"), steps.end());

    KWLineSocketClient channel;
    ASSERT_TRUE(channel.Connect(box.Socket()));
    std::string line;
    ASSERT_TRUE(channel.Exchange("{\"cmd\":\"state\"}", line, 30000));
    KWJsonValue state;
    ASSERT_TRUE(KWJsonReader::Parse(line, state));
    EXPECT_EQ(state["runMode"].asInt(), 5);
    EXPECT_EQ(state["page"].asInt(), 8);
    const KWJsonValue* score = ControlById(state, 1752);
    ASSERT_NE(score, nullptr) << line;
    EXPECT_EQ((*score)["text"].asString(), "85");  // the simulator's score for a single question
    EXPECT_TRUE(fs::exists(box.root / "shots/page8-finished.png"));

    // The platform saw one single-question result, for question 106, and no sign-in.
    const KWJsonValue results = box.RecordsOfKind("single_result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]["fields"]["result"].asString().rfind("106:", 0), 0u);
    EXPECT_EQ(box.RecordsOfKind("sign_in").size(), 0u);
}

}  // namespace
}  // namespace KwLib
