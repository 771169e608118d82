// The main window off the straight path: a student who goes back, reopens
// questions from the answer sheet, leaves a question in any phase, closes the
// program while recordings upload, or is interrupted by the time running out.
// Whatever she does, an answer she gave changes only when she changes it.
#include <gtest/gtest.h>

#include <filesystem>

#include "elements/UIPinTuElement.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIButton.h"
#include "tests/wnd/VLStudentWndFixture.h"
#include "wnd/UISheetElement.h"
#include "wnd/VLHttpAgentWnd.h"
#include "wnd/VLWaitCloseWnd.h"

namespace KwLib {
namespace {

constexpr int64_t kRecordId = 8589934597LL;  // the simulator's exam record
constexpr int64_t kStudent = 7000001001LL;    // student 1001

class Revisit : public StudentWnd {
protected:
    void ToAnswering() {
        ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 120000, 10));
    }

    // Reopens a question from the answer sheet, as a click on its number.
    void JumpTo(const std::string& id) {
        if (m_window->GetPage() != 6)
            m_driver->Click(kIdAnswerSheet);
        ASSERT_EQ(m_window->GetPage(), 6);
        UIButton* number = nullptr;
        Find(kIdSheetArea)->ForEach([&](UIControl* c) {
            if (auto* entry = dynamic_cast<UISheetElement*>(c); entry && entry->GetRecord()->m_id == id)
                number = entry->GetNumber();
        });
        ASSERT_NE(number, nullptr) << id;
        const UIRect r = number->GetPos();
        m_driver->ClickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        ASSERT_TRUE(AdvanceUntil([&] { return Q() && Q()->m_id == id; }, 20000, 10));
    }

    // The stored answer list of student 1001, by question id.
    std::map<std::string, KWJsonValue> Stored() {
        std::map<std::string, KWJsonValue> byId;
        for (const VLExamAnswer& row : StoredAnswers()) {
            KWJsonValue root;
            if (row.UserId != kStudent || !KWJsonReader::Parse(row.AnswerParam, root))
                continue;
            for (const KWJsonValue& item : root["answerlist"])
                byId[item["id"].asString()] = item;
        }
        return byId;
    }

    // A point of the piece that no other piece of the tray covers.
    UIPoint Uncovered(UIControl* piece) {
        const UIRect& rc = piece->GetPos();
        for (int y = rc.top + 2; y < rc.bottom; y += 3)
            for (int x = rc.left + 2; x < rc.right; x += 3)
                if (m_window->PaintManager().FindControl(UIPoint{x, y}) == piece)
                    return {x, y};
        ADD_FAILURE() << "piece " << piece->GetUserData() << " is covered";
        return {rc.left + 2, rc.top + 2};
    }

    void HandIn() {
        m_driver->Click(kIdAnswerSheet);
        AnswerNextBox(105);
        m_driver->Click(kIdHandIn);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 60000, 100));
    }

    std::string ResultText() {
        const KWJsonValue results = RecordsOfKind("result");
        EXPECT_EQ(results.size(), 1u);
        return results.empty() ? std::string() : results[0]["fields"]["result"].asString();
    }

    size_t Recordings() {
        size_t n = 0;
        std::error_code ec;
        for (const auto& f : std::filesystem::directory_iterator(m_paths.GetAnswerDataDir(), ec))
            n += f.path().extension() == ".wav";
        return n;
    }
};

TEST_F(Revisit, AJigsawReopenedFromTheSheetShowsAndKeepsItsPieces) {
    ServeOnly({"206", "201"});
    s_sim->SetSignInExam(1, 0, "");
    SignInAndStart();
    ASSERT_EQ(Q()->m_id, "201");
    ToAnswering();
    ClickOption("1");
    m_driver->Click(kIdNext);
    ASSERT_TRUE(AdvanceUntil([&] { return Q() && Q()->m_id == "206"; }, 20000, 10));
    ToAnswering();
    auto* jigsaw = dynamic_cast<UIPinTuElement*>(m_window->GetCurElement());
    ASSERT_NE(jigsaw, nullptr);
    for (int k : {1, 2, 9}) {
        UIControl* cell = jigsaw->GetCells()[static_cast<size_t>(k - 1)];
        const UIRect c = cell->GetPos();
        m_driver->Drag(Uncovered(jigsaw->GetPieces()[static_cast<size_t>(k - 1)]),
                       {(c.left + c.right) / 2, (c.top + c.bottom) / 2}, 6);
    }
    const std::string given = jigsaw->GetAnswer();
    ASSERT_EQ(given, "1,2,-1,-1,-1,-1,-1,-1,9");
    // On to the end of the paper (the sheet), then back to check.
    m_driver->Click(kIdNext);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 6; }, 20000, 10));

    // Back to the jigsaw from the sheet: the pieces lie where she put them, on
    // screen, in user.db a moment later, and in the result.
    JumpTo("206");
    EXPECT_EQ(m_window->GetCurElement()->GetAnswer(), given);
    Screenshot("revisit_jigsaw_reopened");
    m_driver->Advance(2500);
    EXPECT_EQ(Stored()["206"]["answer"].asString(), given);
    ToAnswering();
    EXPECT_EQ(m_window->GetCurElement()->GetAnswer(), given);
    HandIn();
    EXPECT_NE(ResultText().find("206:" + given), std::string::npos) << ResultText();
}

TEST_F(Revisit, AnUploadEndingAfterTheExamLeftTheScreenOnlyAddsItsAddress) {
    ServeOnly({"104", "106"});
    s_sim->SetSignInExam(1, 0, "");
    const std::string recording = ResumeWithWaitingRecording();
    VLSimFault slow;
    // The upload server answers late: long enough for the steps below on a loaded
    // machine, short of the upload's own 10 s stall limit.
    slow.m_delayMs = 8000;
    s_sim->SetFault("/api2", slow);
    SignInAndStart();
    ASSERT_EQ(m_window->PendingUploadCount(), 1u);
    // The teacher ends the exam: the next move returns to the sign-in screen
    // while the recording is still on its way.
    s_sim->SetExamState(0);
    m_driver->Click(kIdNext);
    ASSERT_TRUE(AdvanceUntil([&] { return Q() && Q()->m_id == "106"; }, 20000, 10));
    ASSERT_TRUE(PumpUntil([&] { return m_window->GetExamState() == 0; }));
    AnswerNextBox(105);
    m_driver->Click(kIdPrevious);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenSignIn; }, 20000, 10));
    ASSERT_EQ(m_window->PendingUploadCount(), 1u) << "the upload was to end after the return";
    ASSERT_TRUE(PumpUntil([&] { return m_window->PendingUploadCount() == 0; }, 30000));
    // The stored answers are all still there, the recording's address added.
    auto stored = Stored();
    EXPECT_EQ(stored["106"]["answer"].asString(), "0");
    EXPECT_EQ(stored["104"]["userdata"].asString(), "rec_resume.wav");
    EXPECT_EQ(stored["104"]["answer"].asString().rfind("http://127.0.0.1:", 0), 0u)
        << stored["104"]["answer"].asString();
}

TEST_F(Revisit, ClosingWaitsForTheRecordingsUploadsAndSendsTheirAddresses) {
    ServeOnly({"104", "106"});
    s_sim->SetSignInExam(1, 0, "");
    const std::string recording = ResumeWithWaitingRecording();
    VLSimFault slow;
    slow.m_delayMs = 2500;
    s_sim->SetFault("/api2", slow);
    SignInAndStart();
    ASSERT_EQ(m_window->PendingUploadCount(), 1u);
    bool sentWhileUploading = false;
    std::string note;
    QueueSteps({
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
        {[] { return TopWindow("VLWaitCloseWnd") != nullptr; },
         [&] {
             for (int i = 0; i < 600 && TopWindow("VLWaitCloseWnd"); ++i) {
                 if (m_window->PendingUploadCount() > 0) {
                     sentWhileUploading = sentWhileUploading || !RecordsOfKind("result").empty();
                     if (note.empty())
                         note = TopWindow("VLWaitCloseWnd")->GetPaintManager()->FindControl(3902)->GetText();
                 }
                 m_driver->Advance(50);
                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
             }
         }},
    });
    m_window->Close();
    ASSERT_TRUE(PumpUntil([&] { return m_window == nullptr; }, 40000));
    EXPECT_FALSE(sentWhileUploading);
    EXPECT_EQ(note, "正在上传录音，还剩1个……");
    EXPECT_NE(ResultText().find("104:http://127.0.0.1:"), std::string::npos) << ResultText();
    // Accepted: this exam's answers and its recording are gone.
    EXPECT_TRUE(StoredAnswers().empty());
    EXPECT_FALSE(KWFilePathUtils::IsExistsFile(recording));
    EXPECT_FALSE(KWFilePathUtils::IsExistsFile(recording + ".bak"));
}

TEST_F(Revisit, ClosingWhileTheUploadServerIsDownSendsNothingAndKeepsEverything) {
    ServeOnly({"104", "106"});
    s_sim->SetSignInExam(1, 0, "");
    const std::string recording = ResumeWithWaitingRecording();
    VLSimFault broken;
    broken.m_status = 500;
    s_sim->SetFault("/api2", broken);
    SignInAndStart();
    QueueSteps({
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
        {[] { return TopWindow("VLWaitCloseWnd") != nullptr; },
         [&] {
             // As long as a hand-in would wait for its uploads, then it gives up.
             for (int i = 0; i < 95 && TopWindow("VLWaitCloseWnd"); ++i) {
                 m_driver->Advance(1000);
                 std::this_thread::sleep_for(std::chrono::milliseconds(5));
             }
         }},
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
    });
    m_window->Close();
    ASSERT_TRUE(PumpUntil([&] { return m_window == nullptr; }, 60000));
    ASSERT_EQ(m_boxTexts.size(), 2u);
    EXPECT_EQ(m_boxTexts[1], "答案已保存在本机，下次登录可继续作答。");
    EXPECT_TRUE(RecordsOfKind("result").empty());
    EXPECT_EQ(Stored()["104"]["userdata"].asString(), "rec_resume.wav");
    EXPECT_EQ(Stored()["106"]["answer"].asString(), "0");
    EXPECT_TRUE(KWFilePathUtils::IsExistsFile(recording));
}

TEST_F(Revisit, LeavingASingingQuestionEarlyOnARevisitKeepsTheWholeEarlierTake) {
    ServeOnly({"104", "111"});
    s_sim->SetSignInExam(1, 0, "");
    SignInAndStart();
    // Both sung to their end, both uploaded.
    std::map<std::string, std::pair<std::string, std::string>> takes;  // id: file, address
    for (int i = 0; i < 2; ++i) {
        if (i > 0) {
            const std::string before = Q()->m_id;
            m_driver->Click(kIdNext);
            ASSERT_TRUE(AdvanceUntil([&] { return Q() && Q()->m_id != before; }, 20000, 10));
        }
        auto* sing = dynamic_cast<VLSingQuestion*>(Q());
        ASSERT_NE(sing, nullptr);
        ToAnswering();
        SING_UNTIL(m_window->GetRecordState() == 3);
        SING_UNTIL(m_window->PendingUploadCount() == 0 && !sing->m_answer.empty());
        takes[sing->m_id] = {sing->m_recordFile, sing->m_answer};
    }
    ASSERT_EQ(takes.size(), 2u);
    ASSERT_EQ(Recordings(), 2u);

    // 104 (no start mark): reopened, a new take begins at once; she leaves after a moment.
    JumpTo("104");
    ToAnswering();
    ASSERT_EQ(m_window->GetRecordState(), 2);
    SING_UNTIL(m_window->GetPlayer()->GetRecordPosition() > 0.3);
    m_driver->Click(kIdAnswerSheet);
    // 111 (start mark 2.5 s): reopened and left before the mark.
    JumpTo("111");
    ToAnswering();
    ASSERT_EQ(m_window->GetRecordState(), 1);
    m_driver->Click(kIdAnswerSheet);

    auto stored = Stored();
    for (const auto& [id, take] : takes) {
        const VLSingQuestion* sing = nullptr;
        for (int i = 0; i < m_exam->GetCount(); ++i)
            if (m_exam->GetQuestion(i)->m_id == id)
                sing = dynamic_cast<VLSingQuestion*>(m_exam->GetQuestion(i));
        ASSERT_NE(sing, nullptr);
        EXPECT_EQ(sing->m_recordFile, take.first) << id;
        EXPECT_EQ(sing->m_answer, take.second) << id;
        EXPECT_TRUE(sing->m_answered) << id;
        EXPECT_EQ(stored[id]["answer"].asString(), take.second) << id;
        EXPECT_EQ(stored[id]["userdata"].asString(), KWFilePathUtils::FileName(take.first)) << id;
        EXPECT_TRUE(KWFilePathUtils::IsExistsFile(take.first)) << id;
    }
    EXPECT_EQ(Recordings(), 2u) << "the fragment is not kept as a recording";
    EXPECT_EQ(m_window->PendingUploadCount(), 0u);
    HandIn();
    EXPECT_EQ(RecordsOfKind("upload").size(), 2u);
    const std::string result = ResultText();
    EXPECT_NE(result.find("104:" + takes["104"].second), std::string::npos) << result;
    EXPECT_NE(result.find("111:" + takes["111"].second), std::string::npos) << result;
}

TEST_F(Revisit, TimeRunningOutDuringTheHandInQuestionHandsInOnce) {
    ServeOnly({"106"});
    s_sim->SetSignInExam(2, 310, "");
    SignInAndStart();
    ToAnswering();
    ClickOption("1");
    m_driver->Click(kIdAnswerSheet);
    const int64_t deadline = m_exam->GetTiming().deadline;
    QueueSteps({
        {[] { return TopWindow("VLMessagebox") != nullptr; },
         [&] {
             // The time runs out while she thinks about it, and a while passes.
             m_now = deadline;
             for (int i = 0; i < 80; ++i) {
                 m_driver->Advance(100);
                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
             }
         }},
        // Should the question still be open, she says yes to it.
        {[] { return true; },
         [&] {
             if (TopWindow("VLMessagebox"))
                 ClickInBox(105);
         }},
    });
    m_driver->Click(kIdHandIn);
    m_driver->Advance(1000);
    EXPECT_EQ(m_window->GetPage(), 7);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 20000, 100));
    m_driver->Advance(5000);
    EXPECT_EQ(RecordsOfKind("result").size(), 1u);
    EXPECT_EQ(m_window->GetPage(), 8);
    EXPECT_FALSE(Visible(kIdSubmitFailure));
    EXPECT_EQ(ResultText(), "106:1");
}

TEST_F(Revisit, ASignInAnsweredAfterItsCancelSignsNobodyIn) {
    ASSERT_TRUE(Open(3));
    VLSimFault slow;
    slow.m_delayMs = 1500;
    s_sim->SetFault("/api2/studentLogin", slow);
    auto number = [&](const std::string& n) {
        m_driver->Click(kIdStudentNumber);
        m_driver->PressKey(VK_END);
        for (int i = 0; i < 8; ++i)
            m_driver->PressKey(VK_BACK);
        m_driver->TypeText(n);
        m_driver->Click(kIdSignIn);
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenConfirm; }));
    };
    number("1001");
    m_driver->Click(kIdConfirm);
    m_driver->Click(kIdCancel);
    ASSERT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenSignIn);
    // Another student at once: her confirmation screen comes after the late answer.
    number("1002");
    EXPECT_TRUE(Enabled(kIdConfirm));
    EXPECT_EQ(VLAppState::Get().signIn.studentId, 0) << "the cancelled sign-in was taken";
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenConfirm);
    s_sim->ClearFaults();
    m_driver->Click(kIdConfirm);
    ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenExam; }));
    EXPECT_EQ(VLAppState::Get().signIn.studentId, 7000001002LL);
}

TEST_F(Revisit, TheHeadphoneTestKeepsTheStudentsVoiceInHerEars) {
    SignInToHeadphoneTest();
    // Well past the second after which the tips page speaks: nothing plays over the microphone.
    m_driver->Advance(3000);
    EXPECT_FALSE(m_window->GetPlayer()->IsPlaying());
    EXPECT_TRUE(m_window->GetPlayer()->HasOpenRecording());
}

TEST_F(Revisit, AClipLeftPlayingDoesNotStopTheNextQuestionsSound) {
    ServeOnly({"103", "106"});
    // Clips of 4 s: still playing when the next question has begun to speak.
    PatchItem("103", [](KWJsonValue& item) {
        for (KWJsonValue& option : item["answer"]["options"])
            option["audio"] = FileUrl("bg_1.mp3");
    });
    s_sim->SetSignInExam(1, 0, "");
    SignInAndStart();
    ToAnswering();
    UIControl* clip = nullptr;
    m_window->GetCurElement()->ForEach([&](UIControl* c) {
        if (!clip && c->GetId() == kIdClipOption)
            clip = c;
    });
    ASSERT_NE(clip, nullptr);
    const UIRect r = clip->GetPos();
    const uint64_t clicked = m_driver->Now();
    m_driver->ClickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    m_driver->Click(kIdNext);
    ASSERT_TRUE(AdvanceUntil([&] { return Q() && Q()->m_id == "106"; }, 20000, 1));
    // The clip's own end (its length and a second) passes during 106's first prompt.
    const uint64_t clipEnd = clicked + LengthMs(s_sim->FilesDir() + "bg_1.mp3") + 1000 + 50;
    ASSERT_LT(m_driver->Now(), clipEnd);
    m_driver->Advance(clipEnd - m_driver->Now());
    EXPECT_TRUE(m_window->GetPlayer()->IsPlaying());
}

TEST_F(Revisit, WithoutNoiseReductionARecordingIsUploadedAsRecorded) {
    OpenDirect("104");
    m_denoise->Stop();
    ToAnswering();
    SING_UNTIL(m_window->GetPage() == 7);
    const std::string recording = dynamic_cast<VLSingQuestion*>(Q())->m_recordFile;
    // Handed in without the 90 s wait for a cleaning that would never come.
    SING_UNTIL(m_window->GetPage() == 8);
    EXPECT_EQ(RecordsOfKind("upload").size(), 1u);
    EXPECT_FALSE(KWFilePathUtils::IsExistsFile(recording + ".bak"));
}

TEST_F(Revisit, APaperWithoutQuestionsShowsTheFailureScreenAndStartsNothing) {
    ServeOnly({});
    s_sim->SetSignInExam(1, 0, "");
    SignInToHeadphoneTest();
    m_driver->Click(kIdClear);
    m_driver->Click(kIdStartExam);
    ASSERT_TRUE(AdvanceUntil([&] { return Visible(kIdLoadingFailure); }, 30000));
    m_driver->Advance(3000);
    EXPECT_EQ(m_window->GetPage(), 4);
    EXPECT_FALSE(m_window->IsExamInProgress());
    EXPECT_TRUE(Visible(kIdLoadingFailure));
}

TEST_F(Revisit, AStoredRecordingNameThatLeadsOutOfTheAnswerFolderIsIgnored) {
    ServeOnly({"104", "111", "106"});
    s_sim->SetSignInExam(1, 0, "");
    // Files of the student's elsewhere, named by a tampered user.db.
    const std::string secret = m_paths.GetUserDataDir() + "secret.wav";
    std::string wav(44 + 3200, '\0');
    std::memcpy(wav.data(), "RIFF", 4);
    ASSERT_TRUE(KWFile::WriteAtomic(secret, wav));
    KWFilePathUtils::CreateDirectories(m_paths.GetAnswerDataDir());
    {
        VLDatabaseManager db(VLDatabaseConfig{m_paths.GetUserDataDir(), m_paths.GetUserDbPath(),
                                              m_install + "bin/sys.db", GetClientVersion(), 3});
        ASSERT_TRUE(db.Init());
        ASSERT_TRUE(db.SaveExamAnswer({kRecordId, kStudent,
                                       R"({"uid":"7000001001","answerlist":[{"id":"104","answer":"",)"
                                       R"("userdata":"../secret.wav"},{"id":"111","answer":"","userdata":"/etc/passwd"},)"
                                       R"({"id":"106","answer":"1"}]})"}));
        db.Release();
    }
    SignInAndStart();
    // Nothing outside the folder is uploaded, cleaned in place or named as an answer.
    EXPECT_EQ(m_window->PendingUploadCount(), 0u);
    PumpUntil([] { return false; }, 500);
    EXPECT_TRUE(RecordsOfKind("upload").empty());
    EXPECT_FALSE(KWFilePathUtils::IsExistsFile(secret + ".bak"));
    for (int i = 0; i < m_exam->GetCount(); ++i) {
        if (const auto* sing = dynamic_cast<const VLSingQuestion*>(m_exam->GetQuestion(i))) {
            EXPECT_TRUE(sing->m_recordFile.empty()) << sing->m_recordFile;
            EXPECT_FALSE(sing->m_answered);
        }
    }
    // The other answers come back as they were.
    EXPECT_EQ(Stored()["106"]["answer"].asString(), "1");
}

TEST_F(Revisit, RunModeZeroKeepsNoAnswersOnTheComputer) {
    ServeOnly({"106"});
    s_sim->SetSignInExam(1, 0, "");
    SignInAndStart("1001", 0);
    ToAnswering();
    ClickOption("1");
    m_driver->Advance(2500);
    m_driver->Click(kIdAnswerSheet);
    EXPECT_TRUE(StoredAnswers().empty());
}

TEST_F(Revisit, ClosingTheNetworkSettingsDuringTheirTestIsSafe) {
    // The agent takes its time to answer the test (an agent PC that is off).
    VLSimFault slow;
    slow.m_delayMs = 1500;
    s_sim->SetFault("/request", slow);
    ASSERT_TRUE(Open(3));
    auto agent = [] { return dynamic_cast<VLHttpAgentWnd*>(TopWindow("QNHttpAgentWnd")); };
    QueueSteps({{[&] { return agent() != nullptr; },
                 [&] {
                     m_driver->Attach(agent());
                     m_driver->Click(VLHttpAgentWnd::kTestId);
                     ASSERT_TRUE(agent()->IsTesting());
                     m_driver->Click(VLHttpAgentWnd::kCloseId);
                 }}});
    m_driver->Click(kIdNetworkSettings);
    m_driver->Attach(m_window);
    EXPECT_EQ(agent(), nullptr);
    // The answer arrives after the window has gone: nothing receives it, nothing opens.
    PumpUntil([] { return false; }, 2500);
    EXPECT_EQ(TopWindow("VLMessagebox"), nullptr);
}

}  // namespace
}  // namespace KwLib
