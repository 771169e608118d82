// The real VLStudent program in a real window (under Xvfb when there is no
// display), driven through its automation channel by the exam driver, against
// the simulator on loopback.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>
#include <map>
#include <algorithm>

#include "exam/VLDatabaseManager.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWJson.h"
#include "platform/common/KWStringToken.h"
#include "tests/app/VLRealClient.h"
#include "tools/platform-sim/VLSimServer.h"
#include "tools/vl-drive/VLExamDriver.h"

namespace fs = std::filesystem;

namespace KwLib {
namespace {

using TestSupport::VirtualScreen;

// An exam that has not ended by then fails with the driver's own account of where it stood,
// well before CTest's limit for the test (300 s) would kill it without a word.
constexpr int kExamSeconds = 240;

class ClientE2E : public ::testing::Test {
protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        m_root = fs::temp_directory_path() / ("vle2e_" + std::to_string(getpid()));
        fs::remove_all(m_root);
        for (auto d : {"install/bin", "run", "tmp", "data", "home", "sim", "shots"})
            fs::create_directories(m_root / d);
        fs::permissions(m_root / "run", fs::perms::owner_all, fs::perm_options::replace);
        const fs::path built = fs::path(VL_CLIENT_PATH).parent_path();
        fs::copy_file(VL_CLIENT_PATH, m_root / "install/bin/VLStudent");
        fs::copy(built / "res", m_root / "install/bin/res", fs::copy_options::recursive);
        // Without the spoken prompts each prompt is the flow's one-second pause: the cases that time
        // nothing run without them (scripts/e2e.sh plays every one); the rhythm case adds them.
        fs::create_directories(m_root / "install/Audio");
        fs::copy_file(VL_STANDIN_PATH, m_root / "install/VLGuard");

        VLSimConfig config;
        config.m_dataDir = (m_root / "sim").string() + "/";
        config.m_filesDir = std::string(VL_BINARY_DIR) + "/tests/sim-files/";
        config.m_apiPort = config.m_downloadPort = config.m_uploadPort = config.m_remotePort = 0;
        m_sim = std::make_unique<VLSimServer>(config);
        std::string error;
        ASSERT_TRUE(m_sim->Start(&error)) << error;
        const std::string api = "http://127.0.0.1:" + std::to_string(m_sim->ApiPort());
        const std::string upload = "http://127.0.0.1:" + std::to_string(m_sim->UploadPort());
        const VLSysUrlHosts hosts{api, api, upload, api, api};
        ASSERT_TRUE(VLDatabaseManager::CreateSysDb(
            (m_root / "install/bin/sys.db").string(),
            {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, hosts),
             VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName, hosts)}));
    }
    void TearDown() override {
        if (m_client > 0) {
            kill(m_client, SIGKILL);
            waitpid(m_client, nullptr, 0);
        }
        m_sim.reset();
        fs::remove_all(m_root);
    }

    // The spoken prompts of the build, for a case that times the student against them.
    void AddPrompts() {
        const fs::path built = fs::path(VL_CLIENT_PATH).parent_path();
        fs::copy(built.parent_path() / "Audio", m_root / "install/Audio",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    void StartClient(const std::vector<std::string>& args) {
        std::vector<std::string> env = {
            "XDG_RUNTIME_DIR=" + (m_root / "run").string(), "TMPDIR=" + (m_root / "tmp").string(),
            "XDG_DATA_HOME=" + (m_root / "data").string(),  "HOME=" + (m_root / "home").string(),
            "VL_STANDIN_LOG=" + (m_root / "standin.log").string(), "SDL_AUDIODRIVER=dummy"};
        const std::string display = m_screen.Display();
        env.push_back(display.empty() ? "VL_UI_HEADLESS=1" : "DISPLAY=" + display);
        for (const char* keep : {"PATH", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* v = getenv(keep))
                env.push_back(std::string(keep) + "=" + v);
        m_client = fork();
        if (m_client == 0) {
            std::vector<std::string> argvStore = {(m_root / "install/bin/VLStudent").string()};
            argvStore.insert(argvStore.end(), args.begin(), args.end());
            std::vector<char*> argv, envp;
            for (auto& a : argvStore)
                argv.push_back(a.data());
            for (auto& e : env)
                envp.push_back(e.data());
            argv.push_back(nullptr);
            envp.push_back(nullptr);
            const int log = open((m_root / "client.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(log, 1);
            dup2(log, 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }

    std::string Socket() const { return (m_root / "run/auto.sock").string(); }

    std::vector<std::string> Kinds(const std::string& kind) const {
        std::vector<std::string> out;
        for (const auto& r : m_sim->GetRecords())
            if (r["kind"].asString() == kind)
                out.push_back(r["fields"]["result"].asString());
        return out;
    }

    fs::path m_root;
    VirtualScreen m_screen;
    std::unique_ptr<VLSimServer> m_sim;
    pid_t m_client = -1;
};

TEST_F(ClientE2E, ADirectStartIsTakenThroughTheRealWindowToTheScore) {
    StartClient({"-role=3", "-id=106,104", "-automation=" + Socket()});
    VLDriveOptions options;
    options.socket = Socket();
    options.screenshotDir = (m_root / "shots").string();
    options.timeoutSeconds = kExamSeconds;
    std::vector<std::string> steps;
    options.log = [&](const std::string& line) { steps.push_back(line); };
    VLExamDriver driver(options);
    ASSERT_EQ(driver.Run(), 0) << driver.LastError() << "\n"
                               << KWFile::ReadAll((m_root / "client.out").string()).value_or("");
    EXPECT_EQ(driver.AnsweredCount(), 2);
    EXPECT_EQ(driver.SkippedCount(), 0);
    EXPECT_NE(std::find(steps.begin(), steps.end(), "question 2/2 singing recorded"), steps.end());

    // The platform got the choice and the address of the uploaded recording.
    const auto results = Kinds("single_result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].rfind("106:", 0), 0u) << results[0];
    EXPECT_NE(results[0].find("|104:http://127.0.0.1:"), std::string::npos) << results[0];
    EXPECT_EQ(Kinds("upload").size(), 1u);
    EXPECT_TRUE(fs::exists(m_root / "shots/page8-finished.png"));
    EXPECT_TRUE(fs::exists(m_root / "shots/q02-singing.png"));

    // SIGTERM, as at the end of a desktop session, ends it in order.
    kill(m_client, SIGTERM);
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(m_client, &status, WNOHANG) != m_client && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    m_client = -1;
}

TEST_F(ClientE2E, AClassroomExamIsTakenFromSignInToTheFinishedPage) {
    // A short paper: a choice, a judgement and a singing question of the sample.
    KWJsonValue paper = m_sim->GetPaper();
    for (const char* section : {"1", "2", "3"}) {
        KWJsonValue kept(Json::arrayValue);
        for (const KWJsonValue& group : paper[section]) {
            KWJsonValue g = group;
            g["question"] = KWJsonValue(Json::arrayValue);
            for (const KWJsonValue& item : group["question"]) {
                const std::string id = item["id"].asString();
                if (id == "102" || id == "104" || id == "203")
                    g["question"].append(item);
            }
            if (g["question"].size() > 0) {
                g["conf"]["number"] = std::to_string(g["question"].size());
                kept.append(g);
            }
        }
        paper[section] = kept;
    }
    m_sim->SetPaper(paper);
    m_sim->SetSignInExam(2, 3600, "1,3");
    // The classroom's agent is the simulator.
    fs::create_directories(m_root / "data/Virelo/Student");
    ASSERT_TRUE(KWFile::WriteAtomic(
        (m_root / "data/Virelo/Student/config.cfg").string(),
        "[AGENT]\nEnable=1\nIP=127.0.0.1\nPort1=" + std::to_string(m_sim->ApiPort()) +
            "\nPort2=" + std::to_string(m_sim->DownloadPort()) + "\nPort3=" + std::to_string(m_sim->UploadPort()) +
            "\n[REMOTESERVER]\nPort1=" + std::to_string(m_sim->RemotePort()) + "\n"));
    StartClient({"-automation=" + Socket()});
    VLDriveOptions options;
    options.socket = Socket();
    options.student = "1002";
    options.screenshotDir = (m_root / "shots").string();
    options.timeoutSeconds = kExamSeconds;
    std::vector<std::string> steps;
    options.log = [&](const std::string& line) { steps.push_back(line); };
    VLExamDriver driver(options);
    ASSERT_EQ(driver.Run(), 0) << driver.LastError() << "\n"
                               << KWFile::ReadAll((m_root / "client.out").string()).value_or("");
    EXPECT_EQ(driver.AnsweredCount(), 3);
    for (const char* step : {"signed in", "headphone test", "performance method chosen", "answer sheet: handing in"})
        EXPECT_NE(std::find(steps.begin(), steps.end(), step), steps.end()) << step;

    // What the platform saw: the sign-in of 李四, progress 0 (headphones), 1 per question, 3 at the end.
    std::vector<std::string> states;
    bool signedIn = false;
    for (const auto& r : m_sim->GetRecords()) {
        if (r["kind"].asString() == "sign_in")
            signedIn = signedIn || r["fields"]["account"].asString() == "李四";
        if (r["kind"].asString() == "progress")
            states.push_back(r["fields"]["status"].asString());
    }
    EXPECT_TRUE(signedIn);
    ASSERT_GE(states.size(), 5u);
    EXPECT_EQ(states.front(), "0");
    EXPECT_EQ(std::count(states.begin(), states.end(), "1"), 3);
    EXPECT_EQ(states.back(), "3");
    const auto results = Kinds("result");
    ASSERT_EQ(results.size(), 1u);
    for (const char* id : {"102:", "104:http://127.0.0.1:", "203:"})
        EXPECT_NE(results[0].find(id), std::string::npos) << id << " in " << results[0];
    for (const char* shot : {"screen2-sign-in", "screen3-confirm", "page0", "page1", "page2", "page6", "page8-finished"})
        EXPECT_TRUE(fs::exists(m_root / "shots" / (std::string(shot) + ".png"))) << shot;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines)
        out += l + "\n";
    return out;
}

// The taps of an answer string: "750,2250-3000" gives 750, 2250, 3000.
std::vector<int> Taps(const std::string& answer) {
    std::vector<int> out;
    std::string number;
    for (char c : answer + ",") {
        if (c >= '0' && c <= '9') {
            number += c;
        } else if (!number.empty()) {
            out.push_back(std::stoi(number));
            number.clear();
        }
    }
    return out;
}

TEST_F(ClientE2E, RhythmQuestionsAreTappedOnTheBeatWithKeyEvents) {
    // With its prompts, as a student hears it: the taps follow the music after them.
    AddPrompts();
    StartClient({"-role=3", "-id=105,116,117", "-automation=" + Socket()});
    VLDriveOptions options;
    options.socket = Socket();
    options.screenshotDir = (m_root / "shots").string();
    options.timeoutSeconds = kExamSeconds;
    std::vector<std::string> steps;
    options.log = [&](const std::string& line) { steps.push_back(line); };
    VLExamDriver driver(options);
    ASSERT_EQ(driver.Run(), 0) << driver.LastError() << "\n"
                               << KWFile::ReadAll((m_root / "client.out").string()).value_or("");
    EXPECT_EQ(driver.AnsweredCount(), 3);
    EXPECT_EQ(driver.SkippedCount(), 0);
    for (const char* step :
         {"question 1/3 rhythm tapped", "question 2/3 rhythm tapped", "question 3/3 rhythm tapped"})
        EXPECT_NE(std::find(steps.begin(), steps.end(), step), steps.end()) << step;
    // Every beat and the long note were judged hits.
    EXPECT_EQ(driver.RhythmBeatsMissed(), 0);

    // The stored answers: the beats of "750\n1500\n2250-3000\n3750\n4500". The driver presses the
    // keys from another process on the beat, so how close they land depends on the machine's load;
    // 20 ms still tells a beat from its neighbours (750 ms apart) and from a misjudged one (a hit is
    // within the tolerance, 100 ms by default). The element's own stamping of a key event is tested
    // to the millisecond in tests/elements.
    const auto results = Kinds("single_result");
    ASSERT_EQ(results.size(), 1u);
    const std::vector<int> beats = {750, 1500, 2250, 3000, 3750, 4500};
    std::vector<std::string> parts;
    KWStringToken::StringToken(results[0], "|", parts);
    int answers = 0;
    for (const std::string& part : parts) {
        const size_t colon = part.find(':');
        ASSERT_NE(colon, std::string::npos) << results[0];
        const std::string answer = part.substr(colon + 1);
        EXPECT_NE(answer.find('-'), std::string::npos) << answer;
        const std::vector<int> taps = Taps(answer);
        ASSERT_EQ(taps.size(), beats.size()) << part << "\n" << Lines(steps);
        for (size_t i = 0; i < beats.size(); ++i)
            EXPECT_LE(std::abs(taps[i] - beats[i]), 20) << part << "\n" << Lines(steps);
        ++answers;
    }
    EXPECT_EQ(answers, 3);
    EXPECT_TRUE(fs::exists(m_root / "shots/q01-rhythm.png"));
    EXPECT_TRUE(fs::exists(m_root / "shots/rhythm-116-tapped.png"));
}

TEST_F(ClientE2E, EveryDragAndDrawKindIsAnsweredWithTheMouse) {
    // Matching with pictures and sounds (music), then the art kinds: matching
    // names to pictures, ordering, jigsaw, dot-line and colouring.
    const std::vector<std::string> ids = {"107", "204", "205", "206", "207", "208"};
    StartClient({"-role=3", "-id=107,204,205,206,207,208", "-automation=" + Socket()});
    VLDriveOptions options;
    options.socket = Socket();
    options.screenshotDir = (m_root / "shots").string();
    options.timeoutSeconds = kExamSeconds;
    std::vector<std::string> steps;
    options.log = [&](const std::string& line) { steps.push_back(line); };
    VLExamDriver driver(options);
    ASSERT_EQ(driver.Run(), 0) << driver.LastError() << "\n"
                               << KWFile::ReadAll((m_root / "client.out").string()).value_or("");
    EXPECT_EQ(driver.AnsweredCount(), 6);
    EXPECT_EQ(driver.SkippedCount(), 0);
    for (const char* kind : {"connection", "sort", "jigsaw", "dot-line", "colouring"}) {
        const bool answered = std::any_of(steps.begin(), steps.end(), [&](const std::string& s) {
            return s.find(std::string(kind) + " answered") != std::string::npos;
        });
        EXPECT_TRUE(answered) << kind;
    }

    // The platform got an answer for every question, each in its element's own form.
    const auto results = Kinds("single_result");
    ASSERT_EQ(results.size(), 1u);
    std::map<std::string, std::string> answers;
    for (size_t start = 0; start < results[0].size();) {
        size_t bar = results[0].find('|', start);
        if (bar == std::string::npos)
            bar = results[0].size();
        const std::string entry = results[0].substr(start, bar - start);
        const size_t colon = entry.find(':');
        if (colon != std::string::npos)
            answers[entry.substr(0, colon)] = entry.substr(colon + 1);
        start = bar + 1;
    }
    for (const std::string& id : ids)
        EXPECT_FALSE(answers[id].empty()) << id << " in " << results[0] << "\n" << Lines(steps);
    EXPECT_NE(answers["107"].find('-'), std::string::npos) << answers["107"];
    EXPECT_NE(answers["205"].find(','), std::string::npos) << answers["205"];
    EXPECT_NE(answers["207"].find('^'), std::string::npos) << answers["207"];
    // The default piece's cell answers "-1", every other cell took a piece.
    EXPECT_EQ(std::count(answers["206"].begin(), answers["206"].end(), ','), 8) << answers["206"];
    // What the student saw, kept beside the build for a look.
    const fs::path kept = fs::path(VL_BINARY_DIR) / "tests/app/drag-and-draw-shots";
    fs::remove_all(kept);
    fs::create_directories(kept);
    for (const char* shot : {"q01-connection.png", "q02-connection.png", "q03-sort.png", "q04-jigsaw.png",
                             "q05-dot-line.png", "q06-colouring.png"}) {
        EXPECT_TRUE(fs::exists(m_root / "shots" / shot)) << shot;
        std::error_code ec;
        fs::copy_file(m_root / "shots" / shot, kept / shot, ec);
    }
}

TEST_F(ClientE2E, AnAutomationSocketInAFolderOthersCanWriteIsRefused) {
    fs::create_directories(m_root / "open");
    fs::permissions(m_root / "open", fs::perms::all, fs::perm_options::replace);
    StartClient({"-role=3", "-id=106", "-automation=" + (m_root / "open/auto.sock").string()});
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(m_client, &status, WNOHANG) != m_client && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    m_client = -1;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(m_root / "open/auto.sock"));
    EXPECT_NE(KWFile::ReadAll((m_root / "client.out").string()).value_or("").find("automation channel refused"),
              std::string::npos);
}

}  // namespace
}  // namespace KwLib
