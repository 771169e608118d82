// The main window driven as a student would drive it, against the simulator.
#include "wnd/VLStudentWnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "audio/UIMusicPlayer.h"
#include "elements/UIQuestionElement.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIProgress.h"
#include "tests/wnd/VLStudentWndFixture.h"
#include "tools/platform-sim/VLSimAssets.h"
#include "wnd/VLMessagebox.h"

namespace KwLib {
namespace {

class StudentWnd : public VLStudentWndTest {
protected:
    void SetUp() override {
        VLStudentWndTest::SetUp();
        if (IsSkipped())
            return;
        s_sim->SetPaper(s_samplePaper.isNull() ? (s_samplePaper = s_sim->GetPaper()) : s_samplePaper);
        s_sim->SetExamState(1);
        s_sim->SetSignInExam(2, 3600, "1,2,3,4,5,6");
        s_sim->SetOfferedVersion(GetClientVersion());
        m_now = static_cast<int64_t>(std::time(nullptr));
    }

    // The sample paper with only the items named, in their sample order.
    void ServeOnly(const std::vector<std::string>& ids) {
        KWJsonValue paper = s_samplePaper;
        for (const char* section : {"1", "2", "3"}) {
            KWJsonValue kept(Json::arrayValue);
            for (const KWJsonValue& group : paper[section]) {
                KWJsonValue g = group;
                g["question"] = KWJsonValue(Json::arrayValue);
                for (const KWJsonValue& item : group["question"])
                    if (std::find(ids.begin(), ids.end(), item["id"].asString()) != ids.end())
                        g["question"].append(item);
                if (g["question"].size() > 0) {
                    g["conf"]["number"] = std::to_string(g["question"].size());
                    kept.append(g);
                }
            }
            paper[section] = kept;
        }
        s_sim->SetPaper(paper);
    }

    // Changes members of one item of the paper being served.
    void PatchItem(const std::string& id, const std::function<void(KWJsonValue&)>& patch) {
        KWJsonValue paper = s_sim->GetPaper();
        for (const char* section : {"1", "2", "3"})
            for (KWJsonValue& group : paper[section])
                for (KWJsonValue& item : group["question"])
                    if (item["id"].asString() == id)
                        patch(item);
        s_sim->SetPaper(paper);
    }

    VLQuestionBase* Q() const { return m_window ? m_window->GetCurQuestion() : nullptr; }
    int Phase() const { return Q() ? Q()->m_phase : -1; }

    uint32_t LengthMs(const std::string& path) const {
        UIMusicPlayer* player = m_window->GetPlayer();
        return player ? static_cast<uint32_t>(player->GetFileDuration(path) * 1000) : 0;
    }
    std::string Prompt(const std::string& name) const { return m_install + "Audio/" + name; }

    // Advances `ms` and checks that the phase changed then and not before (within
    // the few milliseconds by which a decoded length may differ); the clock is left
    // exactly at the change, so the next step is timed from there.
    void ExpectPhaseAfter(uint32_t ms, int expected) {
        const int before = Phase();
        constexpr uint32_t kSlack = 4;
        m_driver->Advance(ms > kSlack ? ms - kSlack : 0);
        EXPECT_EQ(Phase(), before) << "changed before " << ms << " ms";
        for (uint32_t i = 0; i < 2 * kSlack && Phase() == before; ++i)
            m_driver->Advance(1);
        EXPECT_EQ(Phase(), expected) << "after " << ms << " ms";
    }

    // Whether the options of the choice on screen take clicks.
    bool OptionsEnabled() const {
        bool enabled = false;
        m_window->GetCurElement()->ForEach([&](UIControl* c) {
            if (c->GetId() == 2058 || c->GetId() == 2059)
                enabled = enabled || c->IsEnabled();
        });
        return enabled;
    }

    // Runs a direct start until the first question is on screen.
    void OpenDirect(const std::string& ids, int runMode = 5) {
        ASSERT_TRUE(Open(runMode, ids));
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetPage() == 4 && Q() == nullptr; }));
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 5 && Q(); }, 30000)) << Text(kIdLoadingSpinner);
    }

    // Clicks the option of the current choice element whose user data is `index`.
    void ClickOption(const std::string& index) {
        UIControl* target = nullptr;
        m_window->GetCurElement()->ForEach([&](UIControl* c) {
            if (dynamic_cast<UIOption*>(c) && (c->GetId() == 2058 || c->GetId() == 2059) &&
                c->GetUserData() == index)
                target = c;
        });
        ASSERT_TRUE(target) << "no option " << index;
        const UIRect r = target->GetPos();
        m_driver->ClickAt({r.left + 8, (r.top + r.bottom) / 2});
    }

    // Answers the next message box with a click on `buttonId` of that box.
    void AnswerNextBox(int buttonId) {
        m_driver->QueueIdle([this, buttonId] {
            for (UIWindowWnd* w : UIApplication::Instance().Windows()) {
                if (w->GetWindowClassName() == "VLMessagebox") {
                    m_boxTexts.push_back(w->GetPaintManager()->FindControl(104)->GetText());
                    m_driver->Attach(w);
                    m_driver->Click(buttonId);
                    m_driver->Attach(m_window);
                    return;
                }
            }
        });
    }

    // Signs in as a student of the roster and goes through the device check to
    // the first question of the paper.
    void SignInAndStart(const std::string& number = "1001") {
        ASSERT_TRUE(Open(3));
        ASSERT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenSignIn);
        m_driver->Click(kIdStudentNumber);
        m_driver->TypeText(number);
        m_driver->Click(kIdSignIn);
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenConfirm; }));
        m_driver->Click(kIdConfirm);
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenExam; }));
        ASSERT_EQ(m_window->GetPage(), 0);
        m_driver->Click(kIdHeadphoneTest);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 1; }, 20000));
        m_driver->Click(kIdClear);
        ASSERT_EQ(m_window->GetPage(), 3);
        m_driver->Click(kIdStartExam);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 2 || m_window->GetPage() == 4; }, 20000));
        if (m_window->GetPage() == 2)
            m_driver->Click(kIdMethodOk);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 5 && Q(); }, 30000));
    }

    std::vector<VLExamAnswer> StoredAnswers() {
        VLDatabaseManager db(VLDatabaseConfig{m_paths.GetUserDataDir(), m_paths.GetUserDbPath(),
                                              m_install + "bin/sys.db", GetClientVersion(), 3});
        std::vector<VLExamAnswer> rows;
        db.LoadExamAnswer(VLAppState::Get().signIn.recordId, rows);
        db.Release();
        return rows;
    }

    static inline KWJsonValue s_samplePaper;
    std::vector<std::string> m_boxTexts;
};

TEST_F(StudentWnd, DirectPaperWalksThePhasesMovesOnByItselfAndShowsTheScore) {
    // 101 has listening material, 106 (judgement) has none.
    OpenDirect("101,106");
    EXPECT_EQ(Text(kIdHeaderTitle).rfind("单项选择题（", 0), 0u) << Text(kIdHeaderTitle);
    EXPECT_FALSE(Visible(kIdCountdown));  // a direct start is not timed
    VLQuestionBase* first = Q();
    ASSERT_EQ(first->m_id, "101");
    ASSERT_FALSE(first->m_backgroundFile.empty());
    EXPECT_FALSE(Enabled(kIdPrevious));
    EXPECT_FALSE(OptionsEnabled());  // not before the answering phase

    // Type introduction, reading prompt, first and second playing, start prompt.
    ASSERT_EQ(Phase(), 0);
    ExpectPhaseAfter(LengthMs(Prompt("01.单项选择题.mp3")) + 1000, 1);
    ExpectPhaseAfter(LengthMs(Prompt("题目阅读.mp3")) + 1000, 2);
    ExpectPhaseAfter(LengthMs(Prompt("第一遍.mp3")) + 1000, 3);
    ExpectPhaseAfter(LengthMs(first->m_backgroundFile) + 1000, 4);
    ExpectPhaseAfter(LengthMs(Prompt("第二遍.mp3")) + 1000, 5);
    ExpectPhaseAfter(LengthMs(first->m_backgroundFile) + 1000, 6);
    ExpectPhaseAfter(LengthMs(Prompt("开始答题.mp3")) + 1000 + 500, VLStudentWnd::kPhaseAnswering);
    EXPECT_TRUE(OptionsEnabled());
    EXPECT_FALSE(Visible(kIdStartAnswer));  // choice questions cannot skip the listening
    ClickOption("2");
    EXPECT_EQ(m_window->GetCurElement()->GetAnswer(), "2");

    // The answering time is the third duration; a paper of time type 3 then moves on.
    m_driver->Advance(static_cast<uint64_t>(first->m_durations[2]) - 5);
    EXPECT_EQ(Q(), first);
    m_driver->Advance(10);
    EXPECT_EQ(first->m_answer, "2");
    EXPECT_TRUE(first->m_answered);
    EXPECT_FALSE(Enabled(kIdNext));  // the next-question prompt plays first
    // In 1 ms steps, so that the clock stands exactly where the question appeared.
    ASSERT_TRUE(AdvanceUntil([&] { return Q() && Q()->m_id == "106"; }, 10000, 1));

    // Without listening material the reading prompt leads straight to the start prompt.
    VLQuestionBase* second = Q();
    if (second->m_indexInGroup == 0) {
        ASSERT_EQ(Phase(), 0);  // the first of a group starts with its type's introduction
        ExpectPhaseAfter(LengthMs(Prompt("10.判断题.mp3")) + 1000, 1);
    }
    ASSERT_EQ(Phase(), 1);
    ExpectPhaseAfter(LengthMs(Prompt("题目阅读.mp3")) + 1000, 5);
    ExpectPhaseAfter(1, 6);
    ExpectPhaseAfter(LengthMs(Prompt("开始答题.mp3")) + 1500, VLStudentWnd::kPhaseAnswering);
    ClickOption("1");
    // The last question of a direct start ends in the submission, sent at the third tick.
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 7; }, 6000));
    EXPECT_EQ(second->m_answer, "1");
    EXPECT_TRUE(Visible(kIdSubmitting));
    m_driver->Advance(2000);
    m_driver->Pump();
    EXPECT_TRUE(RecordsOfKind("single_result").empty());
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 10000, 100));
    EXPECT_TRUE(Visible(kIdScore));
    EXPECT_EQ(Text(kIdScore), "85");
    const KWJsonValue results = RecordsOfKind("single_result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]["fields"]["result"].asString(), "101:2|106:1");
    Screenshot("page8_finished_direct");

    // A direct start stores nothing on the computer.
    EXPECT_TRUE(StoredAnswers().empty());
    EXPECT_TRUE(RecordsOfKind("progress").empty());
}

}  // namespace
}  // namespace KwLib
