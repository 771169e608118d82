// Sign-in, device check, hand-in, submission, closing and log sending of the
// main window, driven as a student would against the simulator.
#include <gtest/gtest.h>

#include <ctime>

#include "net/VLUploadTask.h"
#include "platform/common/KWStringConvert.h"
#include "tests/wnd/VLStudentWndFixture.h"
#include "wnd/VLHttpAgentWnd.h"
#include "wnd/VLMessagebox.h"
#include "wnd/VLWaitCloseWnd.h"

namespace KwLib {
namespace {

class SignIn : public StudentWnd {
protected:
    // Types a student number and asks for the information check.
    void EnterNumber(const std::string& text) {
        m_driver->Click(kIdStudentNumber);
        m_driver->TypeText(text);
        m_driver->Click(kIdSignIn);
    }
    // Information checks the simulator received, newest last.
    std::vector<std::string> CheckedNumbers() {
        std::vector<std::string> out;
        for (const auto& r : RecordsOfKind("information_check"))
            out.push_back(r["fields"]["student_no"].asString());
        return out;
    }
    // Signs in up to the device check (page 0).
    void ToDeviceCheck() {
        ASSERT_TRUE(Open(3));
        EnterNumber("1001");
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenConfirm; }));
        m_driver->Click(kIdConfirm);
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenExam; }));
    }
    void SaveUserWithClearTime(int64_t when) {
        VLDatabaseManager db(VLDatabaseConfig{m_paths.GetUserDataDir(), m_paths.GetUserDbPath(),
                                              m_install + "bin/sys.db", GetClientVersion(), 3});
        ASSERT_TRUE(db.Init());
        VLUserInfo user;
        user.UserId = 42;
        user.UserName = "someone";
        user.ClearTimestamp = when;
        ASSERT_TRUE(db.SaveUser(user));
        db.Release();
    }

    // What the wait window did while the program closed during an exam.
    struct CloseWait {
        bool answered = false;         // the result's answer (or its failure) reached the window
        bool upForItsSecond = false;   // still up one millisecond before its least time ran out
        bool closedOnTime = false;     // gone when it ran out
    };
    // Runs inside the wait window's modal loop. The wait window stays until the paper's result
    // is answered or lost, then for the rest of its least time and not a moment longer. The
    // program's clock stands still while the request and its answer go in real time, so how
    // slowly the machine answers does not change what is seen.
    void SeeTheCloseWaitThrough(CloseWait& seen) {
        auto* wait = dynamic_cast<VLWaitCloseWnd*>(TopWindow("VLWaitCloseWnd"));
        ASSERT_TRUE(wait);
        const uint64_t shown = wait->ShownAtMs();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!wait->ResultArrived() && std::chrono::steady_clock::now() < end) {
            m_driver->Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        seen.answered = wait->ResultArrived();
        if (!seen.answered)
            return;
        const uint64_t due = shown + VLWaitCloseWnd::kMinShownMs;
        ASSERT_LT(m_driver->Now(), due) << "the clock moved while the answer came";
        m_driver->Advance(due - 1 - m_driver->Now());
        m_driver->Pump();
        seen.upForItsSecond = TopWindow("VLWaitCloseWnd") == wait;
        m_driver->Advance(1);
        m_driver->Pump();
        seen.closedOnTime = TopWindow("VLWaitCloseWnd") == nullptr;
    }
};

TEST_F(SignIn, TheNumberIsTrimmedAndFullWidthDigitsAreSentAsAscii) {
    ASSERT_TRUE(Open(3));
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenSignIn);
    EXPECT_TRUE(Visible(kIdNetworkSettings));
    EXPECT_FALSE(Visible(kIdHeadsetRepair));
    EXPECT_EQ(Text(kIdVersionText), "版本：" + GetClientVersion());
    Screenshot("screen2_sign_in");
    // Full-width digits, an ideographic space inside, blanks around.
    EnterNumber(" \t１０\u3000０１ ");
    ASSERT_TRUE(PumpUntil([&] { return !CheckedNumbers().empty(); }));
    EXPECT_EQ(CheckedNumbers().back(), "1001");
    ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenConfirm; }));
    EXPECT_EQ(Text(kIdConfirmName), "张三");
    EXPECT_EQ(Text(kIdConfirmNumber), "1001");
    // The photo arrives by download and replaces the default picture.
    ASSERT_TRUE(PumpUntil([&] { return Find(kIdPhoto)->GetBkImage().find("file=") != std::string::npos; }));
    Screenshot("screen3_confirm");
    // Cancel returns to the first screen.
    m_driver->Click(kIdCancel);
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenSignIn);
}

TEST_F(SignIn, AnUnknownNumberIsRefusedWithThePlatformsMessage) {
    ASSERT_TRUE(Open(3));
    AnswerNextBox(105);
    EnterNumber("9999");
    ASSERT_TRUE(PumpUntil([&] { return !m_boxTexts.empty(); }));
    EXPECT_EQ(m_boxTexts[0], "学号不存在，请检查后重新输入。");
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenSignIn);
    // A check lost on the way says so, with the transfer's error code.
    VLSimFault drop;
    drop.m_drop = true;
    drop.m_times = 1;
    s_sim->SetFault("/api2/getStudentHeadImg", drop);
    AnswerNextBox(105);
    m_driver->Click(kIdSignIn);
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() == 2; }));
    EXPECT_EQ(m_boxTexts[1].rfind("请求发送失败，错误码：", 0), 0u) << m_boxTexts[1];
    EXPECT_NE(m_boxTexts[1].find("请检查代理是否正常。"), std::string::npos);
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenSignIn);
}

TEST_F(SignIn, TheDownloadCacheIsClearedAfterFifteenDaysExactlyNotAtThem) {
    constexpr int64_t kDays15 = 1296000;
    const int64_t t = 1765000000;
    struct Case {
        int64_t now;
        bool cleared;
    };
    for (const Case& c : {Case{t + kDays15 - 1, false}, Case{t + kDays15, false}, Case{t + kDays15 + 1, true},
                          Case{t - 100, false}}) {
        std::filesystem::remove_all(m_paths.GetUserDataDir());
        KWFilePathUtils::CreateDirectories(m_paths.GetDownloadDir());
        ASSERT_TRUE(KWFile::WriteAtomic(m_paths.GetDownloadDir() + "old.png", "cached"));
        WriteConfig("[AGENT]\nIP=127.0.0.1\nPort1=" + std::to_string(s_sim->ApiPort()) + "\n");
        SaveUserWithClearTime(t);
        m_now = c.now;
        ASSERT_TRUE(Open(3));
        EnterNumber("1001");
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenConfirm; }));
        EXPECT_EQ(!KWFilePathUtils::IsExistsFile(m_paths.GetDownloadDir() + "old.png"), c.cleared)
            << "now - T = " << c.now - t;
        CloseWindow();
        UIApplication::Instance().ResetQuit();
    }
}

TEST_F(SignIn, ThePCForgetsStudentsWhoSignedInBeforeTheCachesAge) {
    constexpr int64_t kDays15 = 1296000;
    const int64_t t = 1765000000;
    for (const bool aged : {false, true}) {
        std::filesystem::remove_all(m_paths.GetUserDataDir());
        WriteConfig("[AGENT]\nIP=127.0.0.1\nPort1=" + std::to_string(s_sim->ApiPort()) + "\n");
        SaveUserWithClearTime(t);  // student 42, who signed in some time ago
        m_now = aged ? t + kDays15 + 1 : t + kDays15;
        ASSERT_TRUE(Open(3));
        EnterNumber("1001");
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenConfirm; }));
        m_driver->Click(kIdConfirm);
        ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenExam; }));
        KWSqlite user;
        ASSERT_EQ(user.Open(m_paths.GetUserDbPath(), "pbrvosk7316", 11), 0);
        KWSqliteData rows;
        ASSERT_EQ(user.Query(rows, "select UserId from User where UserId = 42;"), 0);
        EXPECT_EQ(rows.RowCount(), aged ? 0 : 1) << "now - T = " << m_now - t;
        user.Close();
        CloseWindow();
        UIApplication::Instance().ResetQuit();
    }
}

TEST_F(SignIn, RefusalsKeepTheStudentOnTheConfirmationWithTheButtonUsable) {
    ASSERT_TRUE(Open(3));
    EnterNumber("1001");
    ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenConfirm; }));

    // The platform refuses (an answer that is not its format counts as refused).
    VLSimFault garbled;
    garbled.m_nonJson = true;
    garbled.m_times = 1;
    garbled.m_delayMs = 500;  // the answer is still on its way when the button is looked at
    s_sim->SetFault("/api2/studentLogin", garbled);
    AnswerNextBox(105);
    m_driver->Click(kIdConfirm);
    EXPECT_FALSE(Enabled(kIdConfirm));  // no second request while one is under way
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() == 1; }));
    s_sim->ClearFaults();
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenConfirm);
    EXPECT_TRUE(Enabled(kIdConfirm));

    // The exam has not started.
    s_sim->SetExamState(0);
    AnswerNextBox(105);
    m_driver->Click(kIdConfirm);
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() == 2; }));
    EXPECT_EQ(m_boxTexts[1], "考试尚未开始。");
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenConfirm);
    s_sim->SetExamState(1);

    // The request is lost on the way.
    VLSimFault drop;
    drop.m_drop = true;
    drop.m_times = 1;
    s_sim->SetFault("/api2/studentLogin", drop);
    AnswerNextBox(105);
    m_driver->Click(kIdConfirm);
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() == 3; }));
    EXPECT_EQ(m_boxTexts[2].rfind("请求发送失败，错误码：", 0), 0u) << m_boxTexts[2];
    EXPECT_TRUE(Enabled(kIdConfirm));

    // No sound device: the student stays and may try again once it is plugged in.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    AnswerNextBox(105);
    m_driver->Click(kIdConfirm);
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() == 4; }));
    EXPECT_EQ(m_boxTexts[3], "设备初始化失败，请检查耳机、耳麦是否插好。");
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenConfirm);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    m_driver->Click(kIdConfirm);
    ASSERT_TRUE(PumpUntil([&] { return m_window->GetScreen() == VLStudentWnd::kScreenExam; }));
}

TEST_F(SignIn, TheDeviceCheckHearsTheMicrophoneAndThePerformanceMethodsFollowTheInstruments) {
    s_sim->SetSignInExam(2, 3600, "1,3");
    ServeOnly({"106"});
    ToDeviceCheck();
    EXPECT_EQ(m_window->GetPage(), 0);
    EXPECT_TRUE(Visible(kIdCountdown) == false);  // shown with the questions only
    EXPECT_TRUE(Visible(kIdHeadsetRepair));
    EXPECT_FALSE(Visible(kIdNetworkSettings));
    EXPECT_FALSE(Visible(kIdVersionText));
    Screenshot("page0_tips");
    m_driver->Click(kIdHeadphoneTest);
    EXPECT_FALSE(Enabled(kIdHeadphoneTest));
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 1; }, 20000, 10));
    // The student hears the microphone: recording without a file, headphones on.
    EXPECT_TRUE(m_window->GetPlayer()->IsRecording());
    EXPECT_EQ(m_window->GetPlayer()->GetMode(), 2);
    EXPECT_TRUE(Visible(kIdRecording));
    ASSERT_TRUE(PumpUntil([&] {
        const KWJsonValue p = RecordsOfKind("progress");
        return p.size() == 1 && p[0]["fields"]["status"].asString() == "0";
    }));
    Screenshot("page1_headphone_test");
    m_driver->Click(kIdClear);
    EXPECT_EQ(m_window->GetPage(), 3);
    EXPECT_FALSE(m_window->GetPlayer()->IsRecording());  // no longer heard in the exam
    EXPECT_TRUE(Enabled(kIdStartExam));
    Screenshot("page3_ready");
    m_driver->Click(kIdStartExam);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 2; }, 20000, 10));
    EXPECT_TRUE(Visible(kIdMethodFirstBox));      // 1: singing
    EXPECT_FALSE(Visible(kIdMethodFirstBox + 1));  // 2: harmonica
    EXPECT_TRUE(Visible(kIdMethodFirstBox + 2));  // 3: recorder
    EXPECT_FALSE(Visible(kIdMethodFirstBox + 5));
    EXPECT_TRUE(static_cast<UIOption*>(Find(kIdMethodFirstOption))->IsSelected());
    Screenshot("page2_performance_method");
    m_driver->Click(kIdMethodFirstOption + 2);
    m_driver->Click(kIdMethodOk);
    EXPECT_EQ(m_window->GetPage(), 4);
    ASSERT_TRUE(PumpUntil([&] { return RecordsOfKind("paper").size() == 1; }));
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 5; }, 20000, 10));
    EXPECT_TRUE(Visible(kIdCountdown));
    Screenshot("page5_question_timed");
}

TEST_F(SignIn, WithoutAChoiceOfInstrumentsThePaperLoadsAtOnce) {
    for (const char* instruments : {"", "5"}) {
        s_sim->SetSignInExam(2, 3600, instruments);
        ServeOnly({"106"});
        ToDeviceCheck();
        m_driver->Click(kIdHeadphoneTest);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 1; }, 20000, 10));
        m_driver->Click(kIdClear);
        m_driver->Click(kIdStartExam);
        ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 4 || m_window->GetPage() == 2; }, 20000, 10));
        EXPECT_EQ(m_window->GetPage(), 4) << "instruments \"" << instruments << "\"";
        CloseWindow();
        UIApplication::Instance().ResetQuit();
    }
}

TEST_F(SignIn, StartingAnExamThePlatformReportsNotRunningReturnsToSignIn) {
    ToDeviceCheck();
    s_sim->SetExamState(0);  // the answer to the headphone test's report says so
    m_driver->Click(kIdHeadphoneTest);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 1; }, 20000, 10));
    ASSERT_TRUE(PumpUntil([&] { return m_window->GetExamState() == 0; }));
    m_driver->Click(kIdClear);
    AnswerNextBox(105);
    m_driver->Click(kIdStartExam);
    EXPECT_EQ(m_window->GetScreen(), VLStudentWnd::kScreenSignIn);
    ASSERT_EQ(m_boxTexts.size(), 1u);
    EXPECT_EQ(m_boxTexts[0], "考试尚未开始！");
}

TEST_F(SignIn, TimeTypeThreeMovesOnByItselfToTheAnswerSheet) {
    s_sim->SetSignInExam(3, 0, "");
    ServeOnly({"106", "203"});
    SignInAndStart();
    EXPECT_FALSE(Visible(kIdCountdown));
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 6; }, 120000, 20));
    EXPECT_TRUE(Enabled(kIdHandIn));
    EXPECT_FALSE(Visible(kIdStartAnswer));
    Screenshot("page6_answer_sheet");
    EXPECT_TRUE(RecordsOfKind("result").empty());  // handed in by the student only
}

TEST_F(SignIn, AQuestionReachedFromTheSheetShowsAsAnsweredBackOnTheSheet) {
    s_sim->SetSignInExam(1, 0, "");
    ServeOnly({"106", "203"});
    SignInAndStart();
    m_driver->Click(kIdAnswerSheet);
    ASSERT_EQ(m_window->GetPage(), 6);
    auto numberOf = [&](const std::string& sequence) {
        UIControl* found = nullptr;
        m_window->PaintManager().GetRoot()->ForEach([&](UIControl* c) {
            if (c->GetId() == kIdSheetNumber && c->GetUserData() == sequence && c->IsVisible())
                found = c;
        });
        return found;
    };
    UIControl* second = numberOf("1");
    ASSERT_TRUE(second);
    EXPECT_NE(second->GetNormalImage().find("source='32,0,64,32'"), std::string::npos);  // not answered
    const UIRect r = second->GetPos();
    m_driver->ClickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    EXPECT_EQ(m_window->GetPage(), 5);
    EXPECT_EQ(m_window->GetCurIndex(), 1);
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 60000, 10));
    ClickOption("0");
    m_driver->Click(kIdAnswerSheet);
    second = numberOf("1");
    ASSERT_TRUE(second);
    EXPECT_NE(second->GetNormalImage().find("source='0,0,32,32'"), std::string::npos);  // answered now
}

TEST_F(SignIn, HandingInWaitsThreeTicksAndUploadsThatNeverFinishFailAtNinety) {
    s_sim->SetSignInExam(1, 0, "");
    ServeOnly({"106", "104"});
    // A recording left from an interrupted run, already cleaned, waiting to be uploaded.
    ResumeWithWaitingRecording();
    VLSimFault broken;
    broken.m_status = 500;
    s_sim->SetFault("/api2", broken);  // the upload server is down
    SignInAndStart();
    EXPECT_EQ(m_window->PendingUploadCount(), 1u);
    m_driver->Click(kIdAnswerSheet);
    ASSERT_EQ(m_window->GetPage(), 6);
    AnswerNextBox(105);
    m_driver->Click(kIdHandIn);
    ASSERT_EQ(m_window->GetPage(), 7);
    ASSERT_EQ(m_boxTexts.back(), "是否确认提交答案？");
    // Still waiting for the upload after 89 ticks; failed at the 90th.
    for (int tick = 1; tick < 90; ++tick)
        m_driver->Advance(1000);
    m_driver->Pump();
    EXPECT_TRUE(Visible(kIdSubmitting));
    EXPECT_TRUE(RecordsOfKind("result").empty());
    m_driver->Advance(1000);
    EXPECT_TRUE(Visible(kIdSubmitFailure));
    EXPECT_FALSE(Visible(kIdSubmitting));
    // Once the server is back, the retry sends the recording again and then the result.
    s_sim->ClearFaults();
    m_driver->Click(kIdSubmitRetry);
    ASSERT_TRUE(AdvanceUntil([&] { return m_window->GetPage() == 8; }, 60000, 100));
    const KWJsonValue results = RecordsOfKind("result");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results[0]["fields"]["result"].asString().find("104:http://127.0.0.1:"), std::string::npos)
        << results[0]["fields"]["result"].asString();
    Screenshot("page8_finished");
}

TEST_F(SignIn, WithNothingToUploadTheResultLeavesAtTheThirdTick) {
    s_sim->SetSignInExam(1, 0, "");
    ServeOnly({"106"});
    SignInAndStart();
    m_driver->Click(kIdAnswerSheet);
    AnswerNextBox(105);
    m_driver->Click(kIdHandIn);
    m_driver->Advance(2000);
    PumpUntil([] { return false; }, 300);
    EXPECT_TRUE(RecordsOfKind("result").empty()) << "sent before the third tick";
    m_driver->Advance(1000);
    EXPECT_TRUE(PumpUntil([&] { return RecordsOfKind("result").size() == 1; }));
}

TEST_F(SignIn, ClosingDuringTheExamAsksAndKeepsTheAnswersWhenTheResultIsLost) {
    s_sim->SetSignInExam(1, 0, "");
    ServeOnly({"106", "203"});
    SignInAndStart();
    ASSERT_TRUE(AdvanceUntil([&] { return Phase() == VLStudentWnd::kPhaseAnswering; }, 60000, 10));
    ClickOption("1");

    // Cancel: nothing changes, the exam goes on.
    AnswerNextBox(106);
    m_window->Close();
    m_driver->Pump();
    ASSERT_TRUE(m_window);
    EXPECT_EQ(m_window->GetPage(), 5);
    EXPECT_TRUE(m_window->IsExamInProgress());

    // Confirm while the result request is lost: the wait window stays up until
    // the failure arrives, the answers stay stored, and the student is told so.
    VLSimFault drop;
    drop.m_drop = true;
    s_sim->SetFault("/api2/testResult", drop);
    CloseWait wait;
    QueueSteps({
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
        // The wait window stays until the lost request is reported, then the rest of its second.
        {[] { return TopWindow("VLWaitCloseWnd") != nullptr; }, [&] { SeeTheCloseWaitThrough(wait); }},
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
    });
    m_window->Close();
    ASSERT_TRUE(PumpUntil([&] { return m_window == nullptr; }, 30000));
    EXPECT_TRUE(wait.answered) << "the lost request was never reported to the wait window";
    EXPECT_TRUE(wait.upForItsSecond);
    EXPECT_TRUE(wait.closedOnTime);
    ASSERT_GE(m_boxTexts.size(), 3u);
    EXPECT_EQ(m_boxTexts[1], "考试正在进行中，是否确认关闭？");
    EXPECT_EQ(m_boxTexts.back(), "答案已保存在本机，下次登录可继续作答。");
    const auto rows = StoredAnswers();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NE(rows[0].AnswerParam.find(R"("answer":"1")"), std::string::npos) << rows[0].AnswerParam;
    const KWJsonValue progress = RecordsOfKind("progress");
    EXPECT_EQ(progress[progress.size() - 1]["fields"]["status"].asString(), "3");
}

TEST_F(SignIn, ClosingDuringTheExamClearsTheAnswersOnceTheResultIsAccepted) {
    s_sim->SetSignInExam(1, 0, "");
    ServeOnly({"106"});
    // Another student's interrupted exam on this PC, with a recording of hers.
    const std::string hers = m_paths.GetAnswerDataDir() + "rec_other.wav";
    {
        KWFilePathUtils::CreateDirectories(m_paths.GetAnswerDataDir());
        KWFile::WriteAtomic(hers, std::string(4000, 'x'));
        VLDatabaseManager db(VLDatabaseConfig{m_paths.GetUserDataDir(), m_paths.GetUserDbPath(),
                                              m_install + "bin/sys.db", GetClientVersion(), 3});
        ASSERT_TRUE(db.Init());
        ASSERT_TRUE(db.SaveExamAnswer({8589934597LL, 7000001002LL,
                                       R"({"uid":"7000001002","answerlist":[{"id":"104","answer":"",)"
                                       R"("userdata":"rec_other.wav"}]})"}));
        db.Release();
    }
    SignInAndStart();
    CloseWait wait;
    QueueSteps({
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
        {[] { return TopWindow("VLWaitCloseWnd") != nullptr; }, [&] { SeeTheCloseWaitThrough(wait); }},
    });
    m_window->Close();
    ASSERT_TRUE(PumpUntil([&] { return m_window == nullptr; }, 30000));
    // Up until the answer came, and for exactly a second from when it was shown.
    EXPECT_TRUE(wait.answered);
    EXPECT_TRUE(wait.upForItsSecond);
    EXPECT_TRUE(wait.closedOnTime);
    EXPECT_EQ(RecordsOfKind("result").size(), 1u);
    // This student's answers go; the other student's row and recording stay for her resume.
    const auto rows = StoredAnswers();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].UserId, 7000001002LL);
    EXPECT_TRUE(KWFilePathUtils::IsExistsFile(hers));
}

TEST_F(SignIn, TheLogHotKeyAsksOnceAndSendsTheLog) {
    KWFilePathUtils::CreateDirectories(KWFileName::GetDirectory(VLPathSet::GetLogPath()));
    ASSERT_TRUE(KWFile::WriteAtomic(VLPathSet::GetLogPath(), "2026-12-07 a line of the client's log\n"));
    ASSERT_TRUE(Open(3));
    QueueSteps({
        {[] { return TopWindow("VLMessagebox") != nullptr; },
         [this] {
             // Pressed again while the first question is still open: nothing more is asked.
             m_driver->PressKey('P', kModCtrl | kModAlt | kModShift);
             m_driver->Pump();
             ClickInBox(105);
         }},
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
    });
    m_driver->PressKey('P', kModCtrl | kModAlt | kModShift);
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() >= 2; }, 30000));
    EXPECT_EQ(m_boxTexts[0], "是否发送日志？");
    EXPECT_EQ(m_boxTexts[1], "日志发送成功！");
    EXPECT_EQ(RecordsOfKind("upload").size(), 1u);
    const KWJsonValue logs = RecordsOfKind("log_upload");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0]["fields"]["log_url"].asString().find("/uploads/"), std::string::npos);
    EXPECT_EQ(logs[0]["fields"]["type"].asString(), "student");
    // A failed upload of the log is said as such, and the key works again.
    VLSimFault broken;
    broken.m_status = 500;
    s_sim->SetFault("/api2", broken);
    AnswerNextBox(105);
    AnswerNextBox(105);
    m_driver->PressKey('P', kModCtrl | kModAlt | kModShift);
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() >= 4; }, 30000));
    EXPECT_EQ(m_boxTexts[3], "日志发送失败！");
    // The log is uploaded, but the report naming it never gets an answer: said too, and the key works again.
    s_sim->ClearFaults();
    VLSimFault lost;
    lost.m_drop = true;
    s_sim->SetFault("/api2/clientUploadBreakdown", lost);
    AnswerNextBox(105);
    AnswerNextBox(105);
    m_driver->PressKey('P', kModCtrl | kModAlt | kModShift);
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() >= 6; }, 30000));
    EXPECT_EQ(m_boxTexts[5], "日志发送失败！");
    s_sim->ClearFaults();
    AnswerNextBox(105);
    AnswerNextBox(105);
    m_driver->PressKey('P', kModCtrl | kModAlt | kModShift);
    ASSERT_TRUE(PumpUntil([&] { return m_boxTexts.size() >= 8; }, 30000));
    EXPECT_EQ(m_boxTexts[7], "日志发送成功！");
}

TEST_F(SignIn, NetworkSettingsAreValidatedTestedAndSaved) {
    // The agent answers its test after a moment, as over a classroom network.
    VLSimFault slow;
    slow.m_delayMs = 400;
    s_sim->SetFault("/request", slow);
    ASSERT_TRUE(Open(3));
    auto agent = [] { return dynamic_cast<VLHttpAgentWnd*>(TopWindow("QNHttpAgentWnd")); };
    auto field = [&](int id) { return agent()->GetPaintManager()->FindControl(id); };
    auto click = [&](int id) {
        m_driver->Attach(agent());
        m_driver->Click(id);
    };
    QueueSteps({
        {[&] { return agent() != nullptr; },
         [&] {
             EXPECT_EQ(field(VLHttpAgentWnd::kAddressId)->GetText(), "127.0.0.1");
             EXPECT_EQ(field(VLHttpAgentWnd::kPort1Id)->GetText(), std::to_string(s_sim->ApiPort()));
             m_driver->Attach(agent());
             Screenshot("agent_settings");
             // An empty address leaves nothing to test.
             click(VLHttpAgentWnd::kAddressId);
             m_driver->PressKey(VK_END);
             for (int i = 0; i < 12; ++i)
                 m_driver->PressKey(VK_BACK);
             EXPECT_FALSE(field(VLHttpAgentWnd::kTestId)->IsEnabled());
             m_driver->TypeText("127.0.0.1");
             EXPECT_TRUE(field(VLHttpAgentWnd::kTestId)->IsEnabled());
             // The test asks the agent's request port; every field waits for the answer.
             EXPECT_EQ(field(VLHttpAgentWnd::kAddressId)->GetText(), "127.0.0.1");
             click(VLHttpAgentWnd::kTestId);
             EXPECT_FALSE(field(VLHttpAgentWnd::kOkId)->IsEnabled());
             EXPECT_FALSE(field(VLHttpAgentWnd::kAddressId)->IsEnabled());
         }},
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
        // A port out of range is refused before anything is saved.
        {[&] { return !TopWindow("VLMessagebox") && field(VLHttpAgentWnd::kOkId)->IsEnabled(); },
         [&] {
             field(VLHttpAgentWnd::kPort3Id)->SetText("70000");
             click(VLHttpAgentWnd::kOkId);
         }},
        {[] { return TopWindow("VLMessagebox") != nullptr; }, [this] { ClickInBox(105); }},
        {[&] { return !TopWindow("VLMessagebox"); },
         [&] {
             field(VLHttpAgentWnd::kPort3Id)->SetText("9602");
             click(VLHttpAgentWnd::kOkId);
         }},
    });
    m_driver->Click(kIdNetworkSettings);
    m_driver->Attach(m_window);
    ASSERT_EQ(m_boxTexts.size(), 2u);
    EXPECT_EQ(m_boxTexts[0], "该代理正常。");
    EXPECT_EQ(m_boxTexts[1], "端口号应为1到65535之间的数字。");
    // Saved to config.cfg and in force at once.
    VLConfigManager reread(m_paths.GetConfigPath());
    reread.Load();
    EXPECT_EQ(reread.GetInt("AGENT", "Port3"), 9602);
    EXPECT_EQ(m_agent->GetUploadPort(), 9602);
}

TEST(VLHttpAgentWndRules, PortsAndAddresses) {
    EXPECT_EQ(VLHttpAgentWnd::ParsePort("9500"), 9500);
    EXPECT_EQ(VLHttpAgentWnd::ParsePort(" 1 "), 1);
    for (const char* bad : {"", "0", "65536", "-1", "95a0", "123456"})
        EXPECT_EQ(VLHttpAgentWnd::ParsePort(bad), 0) << bad;
    for (const char* good : {"192.168.1.10", "127.0.0.1", "agent-pc", "agent.school.local"})
        EXPECT_TRUE(VLHttpAgentWnd::IsValidAddress(good)) << good;
    for (const char* bad : {"", "192.168.1", "256.1.1.1", "1.2.3.4.5", "a b", "-x", "http://x"})
        EXPECT_FALSE(VLHttpAgentWnd::IsValidAddress(bad)) << bad;
}

}  // namespace
}  // namespace KwLib
