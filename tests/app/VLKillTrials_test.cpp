// Crash-and-resume trials of the real client (a real window under Xvfb when
// there is no display) on a short paper of the simulator: a choice, a singing
// and a judgement question. Each trial kills VLStudent with SIGKILL at a chosen
// moment, starts it again and lets VLKillTrials check what came back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/app/VLRealClient.h"
#include "tools/vl-drive/VLKillTrials.h"

namespace fs = std::filesystem;

namespace KwLib {
namespace {

using TestSupport::VLRealClient;

class KillTrials : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_box.Ready()) << m_box.Error();
        ASSERT_TRUE(m_box.Sim().KeepItems({"102", "104", "203"}));
        m_box.Sim().SetSignInExam(2, 3600, "1,3");
    }

    VLKillTrialOptions Options() {
        VLKillTrialOptions o;
        o.client = m_box.ClientProgram();
        o.clientEnv = m_box.Env();
        o.clientOutput = m_box.ClientOutput();
        o.socket = m_box.Socket();
        o.student = "1003";
        o.answerDir = m_box.AnswerDir();
        o.seed = 11;
        o.trialTimeoutSeconds = 240;
        o.records = [this] { return m_box.Sim().GetRecords(); };
        o.log = [this](const std::string& line) { m_log.push_back(line); };
        return o;
    }

    std::string Log() const {
        std::string all;
        for (const std::string& line : m_log)
            all += line + "\n";
        return all + m_box.ReadClientOutput();
    }

    static bool Contains(const std::vector<std::string>& problems, const std::string& text) {
        return std::any_of(problems.begin(), problems.end(),
                           [&](const std::string& p) { return p.find(text) != std::string::npos; });
    }

    VLRealClient m_box;
    std::vector<std::string> m_log;
};

TEST_F(KillTrials, KilledWhileARecordingRunsTheChoiceBeforeItIsBackAndTheUnfinishedRecordingIsNoAnswer) {
    VLKillTrialOptions o = Options();
    o.killWhen = [](const KWJsonValue& state) {
        return state["page"].asInt() == 5 && state["recordState"].asInt() == 2 && state["phase"].asInt() == 7;
    };
    VLKillTrials trials(o);
    EXPECT_TRUE(trials.RunOne(1)) << Log();
    ASSERT_FALSE(m_log.empty());
    EXPECT_NE(m_log.front().find("recording"), std::string::npos) << m_log.front();
    EXPECT_NE(m_log.front().find("1 answer(s) stored, 0 recording(s) finished"), std::string::npos)
        << m_log.front();
}

TEST_F(KillTrials, KilledWhileAFinishedRecordingWaitsForItsUploadItGoesUpBeforeTheResult) {
    // The upload port answers only after 4 s: the kill comes while the recording waits.
    VLSimFault slowUploads;
    slowUploads.m_delayMs = 4000;
    ASSERT_TRUE(m_box.Sim().SetPortFault("upload", slowUploads));
    VLKillTrialOptions o = Options();
    o.killWhen = [](const KWJsonValue& state) {
        return state["page"].asInt() == 5 && state["pendingUploads"].asInt() > 0;
    };
    o.afterKill = [this] { m_box.Sim().ClearFaults(); };
    VLKillTrials trials(o);
    EXPECT_TRUE(trials.RunOne(1)) << Log();
    ASSERT_FALSE(m_log.empty());
    EXPECT_NE(m_log.front().find("upload(s) under way"), std::string::npos) << m_log.front();
    EXPECT_NE(m_log.front().find("1 recording(s) finished"), std::string::npos) << m_log.front();
    // The recording reached the platform before the result did.
    int64_t lastUpload = 0, result = 0;
    for (const KWJsonValue& r : m_box.Sim().GetRecords()) {
        if (r["kind"].asString() == "upload")
            lastUpload = std::max<int64_t>(lastUpload, r["seq"].asInt64());
        if (r["kind"].asString() == "result")
            result = r["seq"].asInt64();
    }
    EXPECT_GT(lastUpload, 0);
    EXPECT_GT(result, lastUpload);
}

TEST_F(KillTrials, AnswersThatDoNotSurviveTheKillAreReportedAsLost) {
    // user.db removed between the kill and the new start: the choice stored when
    // the first question was left is gone, and the trial must say so.
    VLKillTrialOptions o = Options();
    o.killWhen = [](const KWJsonValue& state) {
        return state["page"].asInt() == 5 && state["index"].asInt() == 1;
    };
    o.afterKill = [this] {
        for (const char* name : {"user.db", "user.db-journal", "user.db-wal", "user.db-shm"})
            fs::remove(fs::path(m_box.UserDir()) / name);
    };
    VLKillTrials trials(o);
    EXPECT_FALSE(trials.RunOne(1)) << Log();
    EXPECT_TRUE(Contains(trials.Problems(), "question 102: the stored answer")) << Log();
    EXPECT_TRUE(Contains(trials.Problems(), "question 102 shows as unanswered")) << Log();
    ASSERT_FALSE(m_log.empty());
    EXPECT_NE(m_log.front().find("LOST SOMETHING"), std::string::npos) << m_log.front();
}

}  // namespace
}  // namespace KwLib
