// The main window driven as a student would drive it, against the simulator.
#include "wnd/VLStudentWnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "audio/UIMusicPlayer.h"
#include "elements/UIQuestionElement.h"
#include "elements/UIRhythmElement.h"
#include "elements/UISingTips.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIButton.h"
#include "audio/UIVirtualMusicPlayer.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIProgress.h"
#include "tests/wnd/VLStudentWndFixture.h"
#include "tools/platform-sim/VLSimAssets.h"
#include "wnd/VLMessagebox.h"

namespace KwLib {
namespace {

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


// The singing countdown and the recording window for the start marks 0, 2 s and 5 s.
class StudentWndSinging : public StudentWnd, public ::testing::WithParamInterface<int> {};

TEST_P(StudentWndSinging, TipsAnswerPhaseAndRecordingFollowTheStartMark) {
    const int start = GetParam();
    // A 9 s accompaniment, so that even the 5 s mark falls inside it.
    const std::string longTune = s_sim->FilesDir() + "accompaniment_9s.wav";
    if (!KWFilePathUtils::IsExistsFile(longTune)) {
        ASSERT_TRUE(VLSimAssets::WriteTune(longTune, 9.0, 7));
    }
    PatchItem("104", [&](KWJsonValue& item) {
        item["answer"]["start"] = KWStringUtils::Format("%d.000", start / 1000);
        item["answer"]["banzou_file"] = s_sim->FileBase() + "/files/accompaniment_9s.wav";
    });
    OpenDirect("104");
    auto* sing = dynamic_cast<VLSingQuestion*>(Q());
    ASSERT_TRUE(sing);
    ASSERT_EQ(sing->m_startMs, start);
    auto* tips = dynamic_cast<UISingTips*>(Find(kIdSingTips));
    ASSERT_TRUE(tips);
    auto lit = [&] {
        if (!tips->IsVisible())
            return 0;
        int n = 0;
        for (int i = 0; i < 3; ++i)
            n += tips->GetLamp(i)->IsVisible();
        return n;
    };
    // To the moment the start-answering prompt begins (phase 5 -> 6), in 1 ms steps.
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == 6; }, 120000, 1));
    const uint64_t l = LengthMs(Prompt("开始答题.mp3")) + 1000;
    const uint64_t tipsAt = start > 3000 ? start - 3000 + l : l;
    const uint64_t answerAt = start == 0 ? l + 3500 : start <= 3000 ? l + (3000 - start) + 500 : l + 500;
    // Checks in time order: the lamps just after each tick, the phase around its start.
    struct Check {
        uint64_t t;
        std::function<void()> check;
    };
    std::vector<Check> checks = {
        {l + 5, [&] { EXPECT_EQ(lit(), 3) << "as the prompt ends"; }},
        {answerAt - 3, [&] { EXPECT_NE(Phase(), VLStudentWnd::kPhaseAnswering) << "too early"; }},
        {answerAt + 5,
         [&] {
             EXPECT_EQ(Phase(), VLStudentWnd::kPhaseAnswering);
             EXPECT_EQ(Visible(kIdRecordingBanner), start == 0);
             EXPECT_EQ(m_window->GetRecordState(), start == 0 ? 2 : 1);
         }},
    };
    for (int k = 1; k <= 3; ++k)
        checks.push_back({tipsAt + 1000 * k + 5, [&, k] {
                              EXPECT_EQ(lit(), k < 3 ? 3 - k : 0) << "tick " << k;
                              if (k == 1 && start == 0)
                                  Screenshot("question_singing_tips");
                          }});
    std::sort(checks.begin(), checks.end(), [](const Check& a, const Check& b) { return a.t < b.t; });
    EXPECT_EQ(lit(), 0);
    uint64_t now = 0;
    for (const Check& c : checks) {
        // Once the accompaniment plays, the program clock keeps pace with real time.
        while (now < c.t) {
            const uint64_t step = now < answerAt ? std::min(c.t, answerAt) - now : std::min<uint64_t>(10, c.t - now);
            m_driver->Advance(step);
            now += step;
            if (now > answerAt)
                std::this_thread::sleep_for(std::chrono::milliseconds(step));
        }
        c.check();
    }

    // From here the accompaniment plays in real time; the program clock keeps pace.
    UIMusicPlayer* player = m_window->GetPlayer();
    double startedAt = -1, stoppedAt = -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end && stoppedAt < 0) {
        const double before = player->GetPlayPosition();
        m_driver->Advance(10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (startedAt < 0 && m_window->GetRecordState() == 2)
            startedAt = before;
        if (m_window->GetRecordState() == 3)
            stoppedAt = before;
    }
    ASSERT_GE(startedAt, 0.0);
    ASSERT_GE(stoppedAt, 0.0);
    if (start > 0) {
        EXPECT_GE(startedAt * 1000 + 60, start) << "recorded before the start mark";
    }
    EXPECT_GE(stoppedAt * 1000 + 60, sing->m_endMs) << "stopped before the end mark";
    EXPECT_EQ(sing->m_endMs, static_cast<int>(LengthMs(sing->m_midFile) + start + 100));
    const std::string recording = sing->m_recordFile;
    ASSERT_FALSE(recording.empty());
    // The recording covers the accompaniment from the start mark to the end mark.
    const double seconds = (KWFilePathUtils::FileSize(recording) - 44) / 32000.0;
    EXPECT_NEAR(seconds, (sing->m_endMs - start) / 1000.0, 0.5) << recording;
    if (start == 2000)
        Screenshot("question_singing_recording");
}

INSTANTIATE_TEST_SUITE_P(StartMarks, StudentWndSinging, ::testing::Values(0, 2000, 5000));


TEST_F(StudentWnd, ASingingRecordingIsCleanedUploadedAndSubmittedAsItsAddress) {
    OpenDirect("104");
    auto* sing = dynamic_cast<VLSingQuestion*>(Q());
    ASSERT_TRUE(sing);
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 120000, 10));
    SING_UNTIL(m_window->GetPage() == 7);  // the end of the time leads to the submission
    EXPECT_TRUE(sing->m_answered);
    const std::string recording = sing->m_recordFile;
    // The result waits for the upload, then carries the address the server gave.
    SING_UNTIL(m_window->GetPage() == 8);
    // Cleaned in place before the upload: the file as captured stays beside it.
    EXPECT_TRUE(KWFilePathUtils::IsExistsFile(recording + ".bak"));
    EXPECT_EQ(m_window->PendingUploadCount(), 0u);
    const KWJsonValue uploads = RecordsOfKind("upload");
    ASSERT_EQ(uploads.size(), 1u);
    const KWJsonValue results = RecordsOfKind("single_result");
    ASSERT_EQ(results.size(), 1u);
    const std::string result = results[0]["fields"]["result"].asString();
    EXPECT_EQ(result, "104:" + sing->m_answer);
    EXPECT_NE(sing->m_answer.find("/uploads/"), std::string::npos) << sing->m_answer;
}

TEST_F(StudentWnd, ARhythmQuestionCountsTapsFromItsMusicAndSubmitsThem) {
    OpenDirect("105");
    ASSERT_EQ(Q()->m_type, 8);
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 120000, 10));
    auto* rhythm = dynamic_cast<UIRhythmElement*>(m_window->GetCurElement());
    ASSERT_NE(rhythm, nullptr);
    EXPECT_TRUE(rhythm->IsStarted());
    EXPECT_TRUE(rhythm->IsEnabled());
    // 90 beats a minute: the notes need 2657 ms to reach the hit zone, then the music starts.
    ASSERT_FALSE(rhythm->IsOriginFromAudio());
    m_driver->Advance(2657);
    // From then on taps count from the music's first sample at the output.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!rhythm->IsOriginFromAudio() && std::chrono::steady_clock::now() < end) {
        m_driver->Advance(5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(rhythm->IsOriginFromAudio());
    const int64_t origin = rhythm->GetOrigin();
    // The automation state shows what a driver needs to tap along.
    KWJsonValue state(Json::objectValue);
    m_window->FillAutomationState(state);
    EXPECT_EQ(state["rhythm"]["origin"].asInt64(), origin);
    EXPECT_EQ(state["rhythm"]["beats"].size(), 4u);
    EXPECT_EQ(state["rhythm"]["longNotes"][0][1].asInt(), 3000);

    auto key = [&](bool down, int64_t at) {
        const int64_t now = static_cast<int64_t>(UIClock::NowMs());
        if (origin + at + 3 > now)
            m_driver->Advance(static_cast<uint64_t>(origin + at + 3 - now));
        if (down)
            m_driver->KeyDownAt(VK_SPACE, static_cast<uint64_t>(origin + at));
        else
            m_driver->KeyUpAt(VK_SPACE, static_cast<uint64_t>(origin + at));
    };
    for (int64_t beat : {750, 1500}) {
        key(true, beat);
        key(false, beat + 80);
    }
    key(true, 2260);
    key(false, 3000);
    key(true, 3700);  // 50 ms early: still a hit
    key(false, 3780);
    EXPECT_EQ(rhythm->GetResult(), UIRhythmElement::kHit);
    // The last beat is never tapped; the music's end leads to the submission.
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 7; }, 20000));
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 20000, 100));
    const KWJsonValue results = RecordsOfKind("single_result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]["fields"]["result"].asString(), "105:750,1500,2260-3000,3700");
}

TEST_F(StudentWnd, ARecordingThatCannotBeWrittenLeavesTheQuestionUnanswered) {
    OpenDirect("104");
    auto* sing = dynamic_cast<VLSingQuestion*>(Q());
    ASSERT_TRUE(sing);
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 120000, 10));
    ASSERT_EQ(m_window->GetRecordState(), 2);
    // The answer folder disappears while the student sings (a full or removed disk).
    KWFilePathUtils::RemoveAll(m_paths.GetAnswerDataDir());
    SING_UNTIL(m_window->GetPage() == 7);
    EXPECT_FALSE(sing->m_answered);
    EXPECT_EQ(m_window->PendingUploadCount(), 0u);  // nothing that could hold up the submission
    SING_UNTIL(m_window->GetPage() == 8);
    EXPECT_TRUE(RecordsOfKind("upload").empty());
    const KWJsonValue results = RecordsOfKind("single_result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]["fields"]["result"].asString(), "104:");
}

TEST_F(StudentWnd, TheTestEditionSpeaksItsOwnPromptsAndStoresNothing) {
    // Run mode 6: the inner edition's direct start.
    OpenDirect("106", 6);
    if (Q()->m_indexInGroup == 0) {
        ASSERT_EQ(Phase(), 0);
        ExpectPhaseAfter(LengthMs(Prompt("10.判断题.mp3")) + 1000, 1);
    }
    ASSERT_EQ(LengthMs(Prompt("题目阅读_Inner.mp3")) == LengthMs(Prompt("题目阅读.mp3")), false)
        << "the two recordings must differ for this test to tell them apart";
    ExpectPhaseAfter(LengthMs(Prompt("题目阅读_Inner.mp3")) + 1000, 5);
    ExpectPhaseAfter(1, 6);
    ExpectPhaseAfter(LengthMs(Prompt("开始答题_Inner.mp3")) + 1500, VLStudentWnd::kPhaseAnswering);
    ClickOption("0");
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 30000, 100));
    EXPECT_TRUE(StoredAnswers().empty());
    EXPECT_EQ(RecordsOfKind("single_result").size(), 1u);
}

TEST_F(StudentWnd, AChoiceWithSoundOptionsWaitsForTheStudentAndPlaysItsClips) {
    OpenDirect("103");
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 60000, 10));
    // No time-out: the student listens to the clips and moves on when ready.
    m_driver->Advance(120000);
    EXPECT_EQ(Phase(), VLStudentWnd::kPhaseAnswering);
    EXPECT_EQ(m_window->GetPage(), 5);

    // A clip's toggle plays its file; a second toggle takes over from the first.
    std::vector<UIControl*> clips;
    m_window->GetCurElement()->ForEach([&](UIControl* c) {
        if (c->GetId() == kIdClipOption)
            clips.push_back(c);
    });
    ASSERT_EQ(clips.size(), 3u);
    const UIRect r0 = clips[0]->GetPos();
    m_driver->ClickAt({(r0.left + r0.right) / 2, (r0.top + r0.bottom) / 2});
    EXPECT_TRUE(static_cast<UIOption*>(clips[0])->IsSelected());
    EXPECT_TRUE(m_window->GetPlayer()->IsPlaying() || m_window->GetPlayer()->GetPlayLength() > 0);
    const UIRect r1 = clips[1]->GetPos();
    m_driver->ClickAt({(r1.left + r1.right) / 2, (r1.top + r1.bottom) / 2});
    EXPECT_FALSE(static_cast<UIOption*>(clips[0])->IsSelected());
    EXPECT_TRUE(static_cast<UIOption*>(clips[1])->IsSelected());
    // The clip ends by itself one second after its length.
    m_driver->Advance(LengthMs(static_cast<UIVirtualMusicPlayer*>(clips[1]->GetParent())->GetFilePath()) + 1001);
    EXPECT_FALSE(static_cast<UIOption*>(clips[1])->IsSelected());

    ClickOption("0");
    ClickOption("2");
    // In the order the (shuffled) options are shown.
    const std::string answer = m_window->GetCurElement()->GetAnswer();
    EXPECT_TRUE(answer == "0,2" || answer == "2,0") << answer;
    Screenshot("question_choice_audio");
}

TEST_F(StudentWnd, TheExamWaitsForEveryFileOfThePaperEvenTheLastOneInTransfer) {
    // The music of 101 arrives last and slowly: the queue is empty long before it is on disk.
    VLSimFault slow;
    slow.m_delayMs = 3000;
    s_sim->SetFault("/files/bg_2.wav", slow);
    ASSERT_TRUE(Open(5, "101"));
    ASSERT_TRUE(PumpUntil([&] { return m_window->GetPage() == 4; }));
    ASSERT_TRUE(PumpUntil([&] { return m_downloads->HasNoQueuedTask() && Text(kIdLoadingSpinner) != "0%"; }));
    Screenshot("page4_loading");
    m_driver->Advance(1500);
    EXPECT_EQ(m_window->GetPage(), 4) << "started with a file still missing";
    EXPECT_FALSE(Visible(kIdStartExam));  // nothing to start in a direct start
    ASSERT_TRUE(PumpUntil([&] { return Text(kIdLoadingSpinner) == "100%"; }));
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 5; }, 3000, 100));
    EXPECT_EQ(Text(kIdLoadingSpinner), "100%");
    ASSERT_TRUE(Q());
    EXPECT_TRUE(KWFilePathUtils::IsExistsFile(Q()->m_backgroundFile));
}

TEST_F(StudentWnd, PaperAndResultFailuresOfferARetryThatWorks) {
    VLSimFault drop;
    drop.m_drop = true;
    drop.m_times = 1;
    s_sim->SetFault("/api2/getQuestion", drop);
    ASSERT_TRUE(Open(5, "106"));
    ASSERT_TRUE(PumpUntil([&] { return Visible(kIdLoadingFailure); }));
    EXPECT_FALSE(Visible(kIdLoadingBox));
    Screenshot("page4_paper_failure");
    m_driver->Click(kIdPaperRetry);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 5 && Q(); }, 30000));

    // The result is lost once: the failure box and its retry, which sends it again.
    s_sim->SetFault("/api2/singleTestResult", drop);
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 60000, 10));
    ClickOption("0");
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 7; }, 20000, 10));
    ASSERT_TRUE(AdvanceUntil([&] { return Visible(kIdSubmitFailure); }, 20000, 100));
    EXPECT_FALSE(Visible(kIdSubmitting));
    Screenshot("page7_submit_failure");
    m_driver->Click(kIdSubmitRetry);
    EXPECT_TRUE(Visible(kIdSubmitting));
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 20000, 100));
    EXPECT_FALSE(RecordsOfKind("single_result").empty());
}

TEST_F(StudentWnd, AnswersAreStoredAsTheyAreGivenAndTheResultListsThemInPaperOrder) {
    ServeOnly({"101", "102", "106", "104"});
    s_sim->SetSignInExam(1, 0, "");  // untimed, no performance method
    SignInAndStart();
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenExam);
    EXPECT_FALSE(Visible(kIdCountdown));
    const std::string uid = std::to_string(VLAppState::Get().signIn.studentId);

    // The first question: an answer given is stored within two seconds, while the
    // question is still on screen.
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 60000, 10));
    const std::string firstId = Q()->m_id;
    ClickOption("1");
    m_driver->Advance(2000);
    auto rows = StoredAnswers();
    ASSERT_EQ(rows.size(), 1u);
    KWJsonValue stored;
    ASSERT_TRUE(KWJsonReader::Parse(rows[0].AnswerParam, stored));
    EXPECT_EQ(stored["uid"].asString(), uid);
    ASSERT_EQ(stored["answerlist"].size(), 4u);
    EXPECT_EQ(stored["answerlist"][0]["id"].asString(), firstId);
    EXPECT_EQ(stored["answerlist"][0]["answer"].asString(), "1");

    // Next by the button, answer the second, then the sheet takes the answers too.
    m_driver->Click(kIdNext);
    ASSERT_TRUE(AdvanceUntil([&] { return Q() && Q()->m_id != firstId; }, 20000, 10));
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 60000, 10));
    ClickOption("0");
    m_driver->Click(kIdAnswerSheet);
    EXPECT_EQ(m_window->GetPage(), 6);
    rows = StoredAnswers();
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_TRUE(KWJsonReader::Parse(rows[0].AnswerParam, stored));
    // Every record in list order, singing records with their (empty) recording name.
    std::map<std::string, KWJsonValue> byId;
    for (const auto& item : stored["answerlist"])
        byId[item["id"].asString()] = item;
    EXPECT_EQ(byId["104"]["answer"].asString(), "");
    EXPECT_TRUE(byId["104"].isMember("userdata"));
    EXPECT_FALSE(byId["101"].isMember("userdata"));
    EXPECT_EQ(byId[firstId]["answer"].asString(), "1");

    // Handing in sends "id:answer|..." in the order the records were added.
    AnswerNextBox(105);
    m_driver->Click(kIdHandIn);
    EXPECT_EQ(m_window->GetPage(), 7);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 20000, 100));
    const KWJsonValue results = RecordsOfKind("result");
    ASSERT_EQ(results.size(), 1u);
    std::vector<std::string> parts;
    KWStringToken::StringToArray(results[0]["fields"]["result"].asString(), "|", parts);
    ASSERT_EQ(parts.size(), 4u) << results[0]["fields"]["result"].asString();
    EXPECT_EQ(parts[0].substr(0, 4), "101:") << results[0]["fields"]["result"].asString();
    // An accepted result clears the stored answers and reports the end of the exam.
    EXPECT_TRUE(StoredAnswers().empty());
    const KWJsonValue progress = RecordsOfKind("progress");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress[progress.size() - 1]["fields"]["status"].asString(), "3");
}

TEST_F(StudentWnd, AResumedExamTakesOnlyTheSignedInStudentsAnswers) {
    ServeOnly({"101", "106"});
    s_sim->SetSignInExam(1, 0, "");
    // Answers of another student and of this one from an interrupted run on this PC.
    {
        VLDatabaseManager db(VLDatabaseConfig{m_paths.GetUserDataDir(), m_paths.GetUserDbPath(),
                                              m_install + "bin/sys.db", GetClientVersion(), 3});
        ASSERT_TRUE(db.Init());
        const int64_t record = 8589934597LL;
        ASSERT_TRUE(db.SaveExamAnswer({record, 7000001002LL,
                                       R"({"uid":"7000001002","answerlist":[{"id":"101","answer":"3"}]})"}));
        ASSERT_TRUE(db.SaveExamAnswer({record, 7000001001LL,
                                       R"({"uid":"7000001001","answerlist":[{"id":"101","answer":"2"},)"
                                       R"({"id":"106","answer":"1"}]})"}));
        db.Release();
    }
    SignInAndStart("1001");
    ASSERT_EQ(Q()->m_id, "101");
    EXPECT_EQ(Q()->m_answer, "2");
    EXPECT_TRUE(Q()->m_answered);
    EXPECT_EQ(m_window->GetCurElement()->GetAnswer(), "2");  // shown selected
}

TEST_F(StudentWnd, ARefusedProgressReportReturnsToSignInAtTheNextMove) {
    ServeOnly({"101", "106"});
    s_sim->SetSignInExam(1, 0, "");
    SignInAndStart();
    // The teacher ends the exam: the report of this question is answered with state 0.
    s_sim->SetExamState(0);
    m_driver->Click(kIdNext);
    ASSERT_TRUE(AdvanceUntil([&] { return Q() && Q()->m_id == "106"; }, 20000, 10));
    ASSERT_TRUE(PumpUntil([&] { return m_window->GetExamState() == 0; }));
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenExam);  // the question stays
    AnswerNextBox(105);
    m_driver->Click(kIdPrevious);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenSignIn; }, 20000, 10));
    ASSERT_EQ(m_boxTexts.size(), 1u);
    EXPECT_EQ(m_boxTexts[0], "考试尚未开始/已结束。");
    EXPECT_FALSE(m_window->IsExamInProgress());
    EXPECT_FALSE(StoredAnswers().empty());  // kept for a later resume
}

TEST_F(StudentWnd, TheCountdownTurnsRedUnderFiveMinutesAndHandsInAtZero) {
    ServeOnly({"106"});
    s_sim->SetSignInExam(2, 310, "");
    SignInAndStart();
    ASSERT_TRUE(Visible(kIdCountdown));
    const auto* countdown = Find(kIdCountdown);
    const UIColor normal = countdown->GetTextColor();
    // The deadline came from the platform's answer; the window's clock is ours.
    const int64_t deadline = m_exam->GetTiming().deadline;
    m_now = deadline - 301;
    m_driver->Advance(1000);
    EXPECT_EQ(Text(kIdCountdown), "00:05:01");
    EXPECT_EQ(countdown->GetTextColor(), normal);
    m_now = deadline - 299;
    m_driver->Advance(1000);
    EXPECT_EQ(Text(kIdCountdown), "00:04:59");
    EXPECT_EQ(countdown->GetTextColor(), 0xFFFF0000u);
    EXPECT_TRUE(m_window->PaintManager().GetAnimationManager().IsAnimating(Find(kIdCountdown), kAnimSpinner));
    Screenshot("question_countdown_red");
    m_now = deadline;
    m_driver->Advance(1000);
    EXPECT_EQ(m_window->GetPage(), 7);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 20000, 100));
    EXPECT_EQ(RecordsOfKind("result").size(), 1u);
}

TEST_F(StudentWnd, AnOfferedUpdateClosesTheClientWhetherAcceptedOrNot) {
    for (int button : {105, 106}) {
        s_sim->SetOfferedVersion("9.0.0.1");
        m_updaterLaunches.clear();
        AnswerNextBox(button);
        ASSERT_TRUE(Open(3));
        ASSERT_TRUE(AdvanceUntil([&] { return m_window == nullptr; }, 20000, 50)) << "button " << button;
        ASSERT_EQ(m_boxTexts.size(), button == 105 ? 1u : 2u);
        EXPECT_EQ(m_boxTexts.back(), "发现新版本，是否立即升级？");
        if (button == 105) {
            ASSERT_EQ(m_updaterLaunches.size(), 1u);
            EXPECT_EQ(m_updaterLaunches[0].rfind("9.0.0.1 http://127.0.0.1:", 0), 0u) << m_updaterLaunches[0];
        } else {
            EXPECT_TRUE(m_updaterLaunches.empty());
        }
        UIApplication::Instance().ResetQuit();
    }
}

TEST_F(StudentWnd, AFailedUpdateCheckIsRetriedWithDoublingPauses) {
    VLSimFault broken;
    broken.m_status = 500;
    s_sim->SetFault("/api2/getClientVersion", broken);
    auto checks = [] {
        size_t n = 0;
        for (const auto& r : s_sim->GetRecords())
            n += r["path"].asString() == "/api2/getClientVersion";
        return n;
    };
    ASSERT_TRUE(Open(3));
    // Each failed answer arms the pause before the next check: 1 s, then 2 s, then 4 s of the
    // program's clock from that answer. The clock stands still while a check and its answer go
    // in real time, so the test holds however slowly the machine answers.
    const UIWindowWnd* window = m_window;
    const auto pauseArmed = [window] {
        return UIApplication::Instance().HasTimer(window, nullptr, kTimerUpdateRetry);
    };
    // A check can only go out once its pause has fired, so with the clock standing still after
    // the pause's last millisecond, the next check arriving shows the pause ended in time.
    for (size_t i = 1; i <= 4; ++i) {
        ASSERT_TRUE(PumpUntil([&] { return checks() == i; }))
            << "check " << i << (i > 1 ? " did not follow its pause to the millisecond" : "");
        if (i == 4)
            break;
        ASSERT_TRUE(PumpUntil(pauseArmed)) << "no pause after the failure of check " << i;
        const uint64_t pause = 1000u << (i - 1);
        m_driver->Advance(pause - 1);
        EXPECT_TRUE(pauseArmed()) << "the pause after check " << i << " ended before " << pause << " ms";
        EXPECT_EQ(checks(), i);
        m_driver->Advance(1);
    }
}

TEST_F(StudentWnd, AnUpdateCheckThatNeverWorksIsTriedEveryHalfHourForEver) {
    VLSimFault broken;
    broken.m_status = 500;
    s_sim->SetFault("/api2/getClientVersion", broken);
    auto checks = [] {
        size_t n = 0;
        for (const auto& r : s_sim->GetRecords())
            n += r["path"].asString() == "/api2/getClientVersion";
        return n;
    };
    ASSERT_TRUE(Open(3));
    ASSERT_TRUE(PumpUntil([&] { return checks() == 1; }));
    // Through the doubling pauses to the half hour they stop at...
    while (checks() < 12) {
        PumpUntil([] { return false; }, 10);  // the failed answer arms the next pause
        m_driver->Advance(60000);
    }
    // ...and on, long past where a pause doubled 31 times no longer fits an int:
    // every half hour of the program's clock brings exactly one more check.
    PumpUntil([] { return false; }, 50);
    size_t expected = checks();
    for (int i = 0; i < 22; ++i) {
        m_driver->Advance(1800000);
        ++expected;
        ASSERT_TRUE(PumpUntil([&] { return checks() >= expected; }, 5000)) << "no check within half an hour " << i;
        EXPECT_EQ(checks(), expected);
        PumpUntil([] { return false; }, 20);
    }
}

}  // namespace
}  // namespace KwLib
