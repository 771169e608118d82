// The answer sheet, handing in, submission, closing and log sending of the main window.
#include "app/core/VLAppState.h"
#include "audio/UIMusicPlayer.h"
#include "exam/VLDatabaseManager.h"
#include "exam/VLExamManager.h"
#include "net/VLHttpRequestManager.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILayout.h"
#include "wnd/VLMessagebox.h"
#include "wnd/VLWaitCloseWnd.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

namespace {
constexpr int kSubmitMinTicks = 3;
constexpr int kSubmitMaxTicks = 90;
}  // namespace

// ---- the answer sheet ----

void VLStudentWnd::OnAnswerSheet() {
    VL_LOG_DEBUG("VLStudentWnd::OnAnswerSheet()");
    FinishQuestion();
    StopQuestionActivity();
    auto* area = dynamic_cast<UIContainer*>(m_pm.FindControl(kIdSheetArea));
    area->RemoveAll();
    BuildAnswerSheet(area);
    m_pm.FindControl(kIdStartAnswer)->SetVisible(false);
    m_pm.FindControl(kIdHandIn)->SetEnabled(true);
    ShowPage(6);
}

void VLStudentWnd::OnJump(UIControl* number) {
    // A recording being listened to stops here, and its timer with it.
    StopQuestionActivity();
    m_curIndex = KWStringUtils::ConvertStringToInt32(number->GetUserData()) - 1;
    ShowCurQuestion(true);
}

void VLStudentWnd::OnListenToggle(UIControl* toggle) {
    auto* option = dynamic_cast<UIOption*>(toggle);
    if (!option || !m_player)
        return;
    if (auto* other = dynamic_cast<UIOption*>(m_pm.GetGroupSelected(kGroupListen)); other && other != option)
        other->Selected(false, false);
    // The click arrives before the toggle changes.
    if (!option->IsSelected()) {
        const auto* sing = reinterpret_cast<const VLSingQuestion*>(option->GetTag());
        const uint32_t length = sing ? PlayAudioFile(sing->m_recordFile) : 0;
        SetTimer(kTimerListen, length + 500);
    } else {
        KillTimer(kTimerListen);
        m_player->StopPlayback();
    }
}

// ---- handing in and submission ----

void VLStudentWnd::HandIn(bool confirm) {
    if (confirm && ShowMessage("是否确认提交答案？", VLMessagebox::kOkCancel, 0) != IDOK)
        return;
    // The box was modal: the time may have run out and handed the paper in meanwhile.
    if (m_submitting || m_page != 6)
        return;
    if (m_player)
        m_player->StopPlayback();
    Submit();
    ShowPage(7);
}

void VLStudentWnd::Submit() {
    m_submitTicks = 0;
    m_submitting = true;
    m_resultRequested = false;
    m_pm.FindControl(kIdSubmitFailure)->SetVisible(false);
    m_pm.FindControl(kIdSubmitting)->SetVisible(true);
    std::vector<std::string> frames;
    for (int i = 0; i < 16; ++i)
        frames.push_back(KWStringUtils::Format("res='%d' restype='PNG'", 1215 - i));
    m_pm.GetAnimationManager().AddAnimation(m_pm.FindControl(kIdSubmitSpinner), kAnimSpinner, 100, frames);
    SetTimer(kTimerSubmit, 1000);
}

void VLStudentWnd::OnSubmitTick() {
    ++m_submitTicks;
    if (m_pendingUploads.empty() && m_submitTicks >= kSubmitMinTicks) {
        KillTimer(kTimerSubmit);
        m_resultRequested = true;
        const std::string answers = BuildShortAnswers();
        if (!IsDirectMode()) {
            const VLSignInRecord& signIn = VLAppState::Get().signIn;
            m_services.requests->SendExamResultReq(m_binding.SchoolId, m_binding.ClassId, signIn.recordId,
                                                   signIn.studentId, m_studentNumber, m_studentName, answers,
                                                   this);
        } else {
            m_services.requests->SendExamResultReq(answers, this);
        }
    }
    if (m_submitTicks >= kSubmitMaxTicks)
        ShowSubmitFailure();
}

void VLStudentWnd::OnPaperResult(int code) {
    if (!m_submitting)
        return;
    m_resultRequested = false;
    // A close waiting for this same result ends with it.
    if (m_closeWait && m_closeWaitsForSubmission)
        m_closeWait->Finish(code == 0);
    if (code != 0) {
        ShowSubmitFailure();
        return;
    }
    m_submitting = false;
    m_examInProgress = false;
    KillTimer(kTimerSnapshot);
    ShowPage(8);
    ReportExamState(3);
    ClearFinishedExam(false);
}

void VLStudentWnd::OnSingleResult(int code, int score) {
    if (!m_submitting)
        return;
    m_resultRequested = false;
    if (code != 0) {
        ShowSubmitFailure();
        return;
    }
    m_submitting = false;
    m_examInProgress = false;
    m_pm.FindControl(kIdScore)->SetText(std::to_string(score));
    m_pm.FindControl(kIdScore)->SetVisible(true);
    m_pm.FindControl(kIdScoreRow)->SetVisible(true);
    KillTimer(kTimerSubmit);
    ShowPage(8);
}

void VLStudentWnd::ShowSubmitFailure() {
    KillTimer(kTimerSubmit);
    m_resultRequested = false;
    if (m_closeWait && m_closeWaitsForSubmission)
        m_closeWait->Finish(false);
    m_pm.FindControl(kIdSubmitting)->SetVisible(false);
    m_pm.FindControl(kIdSubmitFailure)->SetVisible(true);
    m_pm.GetAnimationManager().RemoveAnimation(m_pm.FindControl(kIdSubmitSpinner), kAnimSpinner);
}

void VLStudentWnd::RetrySubmit() {
    for (const auto& [path, task] : m_pendingUploads) {
        VLUploadTask again = task;
        again.m_attempts = 0;
        QueueUpload(again);
    }
    Submit();
}

// ---- closing ----

intptr_t VLStudentWnd::OnClose(uint32_t, uintptr_t, intptr_t, bool& handled) {
    VL_LOG_DEBUG("VLStudentWnd::OnClose()");
    if (m_closing) {
        handled = false;
        return 0;
    }
    if (!IsDirectMode() && m_examInProgress && !ConfirmClose()) {
        handled = true;  // the exam goes on
        return 0;
    }
    StopQuestionActivity();
    if (m_player)
        m_player->StopPlayback();
    m_closing = true;
    handled = false;  // the default handling destroys the window
    return 0;
}

// ---- log sending ----

void VLStudentWnd::OnLogHotKey() {
    if (m_sendingLog)
        return;
    m_sendingLog = true;
    if (ShowMessage("是否发送日志？", VLMessagebox::kOkCancel, 0) != IDOK) {
        m_sendingLog = false;
        return;
    }
    QueueLogUpload();
}

void VLStudentWnd::OnLogUploaded(const VLUploadTask& task) {
    if (task.m_kind != VLUploadTask::kLogFile)
        return;
    m_services.requests->SendLogUploadReq(task.m_result, this);
}

void VLStudentWnd::OnLogUploadResult(int code) {
    if (code == 0)
        ShowMessage("日志发送成功！", VLMessagebox::kOkOnly, 2);
    else
        ShowMessage("日志发送失败！");
    m_sendingLog = false;
}

}  // namespace KwLib
