// The windows the main window opens on top of itself.
#include "app/core/VLAppState.h"
#include "exam/VLDatabaseManager.h"
#include "audio/UIMusicPlayer.h"
#include "net/VLAgentSettings.h"
#include "net/VLHttpRequestManager.h"
#include "platform/common/KWFilePathUtils.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIContainer.h"
#include "exam/VLExamManager.h"
#include "wnd/UIAnswerSheet.h"
#include "wnd/VLHttpAgentWnd.h"
#include "wnd/VLImageViewWnd.h"
#include "wnd/VLInformationWnd.h"
#include "wnd/VLMessagebox.h"
#include "wnd/VLWaitCloseWnd.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

namespace {
constexpr const char* kAnswersKeptNote = "答案已保存在本机，下次登录可继续作答。";
constexpr const char* kUploadingNote = "正在上传录音，还剩%d个……";
// As long as a hand-in waits for its uploads.
constexpr int kCloseUploadTicks = 90;
}  // namespace

void VLStudentWnd::OpenPictureViewer(const std::string& path, int width, int height) {
    VLImageViewWnd::Show(this, path, width, height);
}

void VLStudentWnd::OpenInformation() {
    UIControl* icon = m_pm.FindControl(kIdStatusIcon);
    if (!icon)
        return;
    const UIPoint anchor = ClientToScreen({icon->GetPos().left, icon->GetPos().bottom});
    const VLSignInRecord& signIn = VLAppState::Get().signIn;
    VLInformationWnd::Show(this, anchor.x, anchor.y, m_binding.ClassName, signIn.paperName, signIn.teacherName,
                           m_services.inner);
}

void VLStudentWnd::OpenAgentSettings() {
    VLHttpAgentWnd::Show(this, m_services.config, m_services.agent, m_services.requests);
}

void VLStudentWnd::BuildAnswerSheet(UIContainer* area) {
    std::vector<VLQuestionBase*> records;
    {
        auto lock = m_services.exam->Lock();
        for (int i = 0; i < m_services.exam->GetCount(); ++i)
            records.push_back(m_services.exam->GetQuestion(i));
    }
    auto* sheet = new UIAnswerSheet;
    area->Add(sheet);
    sheet->Init(records, VLAppState::Get().signIn.paperName);
}

bool VLStudentWnd::ConfirmClose() {
    if (ShowMessage("考试正在进行中，是否确认关闭？", VLMessagebox::kOkCancel, 0) != IDOK)
        return false;
    // The box was modal: the paper may have been accepted meanwhile, and then
    // there is nothing left to send or store.
    if (!m_examInProgress)
        return true;
    // The answer on screen is taken and stored before anything is sent.
    FinishQuestion();
    StopQuestionActivity();
    if (m_player)
        m_player->StopPlayback();
    VLWaitCloseWnd wait;
    if (!wait.CreateOver(this)) {
        VL_LOG_ERROR("the closing window could not be created; the answers stay stored");
        return true;
    }
    wait.SetOnResult([&wait](bool accepted) {
        if (!accepted)
            wait.SetNote(kAnswersKeptNote);
    });
    m_closeWait = &wait;
    m_closeTicks = 0;
    m_closeResultSent = false;
    m_closeWaitsForSubmission = m_submitting && m_resultRequested;
    if (m_closeWaitsForSubmission) {
        // A hand-in already sent the result: its answer ends the wait (OnPaperResult).
        m_closeResultSent = true;
    } else {
        KillTimer(kTimerSubmit);
        // Recordings still waiting are uploaded first, as a hand-in would: the
        // result must carry their addresses, and their files must not go.
        OnPendingUploadsChanged();
        if (!m_closeResultSent)
            SetTimer(kTimerCloseUploads, 1000);
    }
    wait.ShowModal();
    m_services.requests->ForgetReceiver(&wait);
    KillTimer(kTimerCloseUploads);
    m_closeWait = nullptr;
    m_closeWaitsForSubmission = false;
    if (wait.ResultAccepted()) {
        m_examInProgress = false;
        ClearFinishedExam(true);
    } else {
        // A refused or lost result, or recordings not uploaded, must not take the
        // answers with them: the next start resumes them, recordings included.
        VL_LOG_ERROR("the result was not accepted while closing; the answers stay on this computer");
        ShowMessage(kAnswersKeptNote);
    }
    return true;
}

void VLStudentWnd::OnPendingUploadsChanged() {
    if (!m_closeWait || m_closeResultSent)
        return;
    if (!m_pendingUploads.empty()) {
        m_closeWait->SetNote(KWStringUtils::Format(kUploadingNote, static_cast<int>(m_pendingUploads.size())));
        return;
    }
    SendCloseResult();
}

void VLStudentWnd::SendCloseResult() {
    KillTimer(kTimerCloseUploads);
    m_closeResultSent = true;
    m_closeWait->SetNote("");
    const VLSignInRecord& signIn = VLAppState::Get().signIn;
    m_services.requests->SendExamResultReq(m_binding.SchoolId, m_binding.ClassId, signIn.recordId, signIn.studentId,
                                           m_studentNumber, m_studentName, BuildShortAnswers(), m_closeWait);
    ReportExamState(3);
}

void VLStudentWnd::OnCloseUploadTick() {
    if (!m_closeWait || m_closeResultSent) {
        KillTimer(kTimerCloseUploads);
        return;
    }
    if (++m_closeTicks < kCloseUploadTicks) {
        OnPendingUploadsChanged();
        return;
    }
    // Given up: nothing is sent, so nothing is cleared; the next sign-in
    // resumes the exam and uploads the recordings then.
    VL_LOG_ERROR("%d recording(s) not uploaded after %d s; the result is not sent while closing",
                 static_cast<int>(m_pendingUploads.size()), m_closeTicks);
    KillTimer(kTimerCloseUploads);
    m_closeWait->Finish(false);
}

void VLStudentWnd::QueueLogUpload() {
    VLUploadTask task;
    task.m_kind = VLUploadTask::kLogFile;
    task.m_url = m_services.agent->RewriteUploadUrl(m_services.db->GetSysUrlInfo().FileUploadUrl);
    task.m_filePath = VLPathSet::GetLogPath();
    task.m_receiver = this;
    QueueUpload(task);
}

}  // namespace KwLib
