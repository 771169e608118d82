// The windows the main window opens on top of itself.
#include "app/core/VLAppState.h"
#include "exam/VLDatabaseManager.h"
#include "net/VLAgentSettings.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWLog.h"
#include "platform/ui/UIContainer.h"
#include "exam/VLExamManager.h"
#include "wnd/UIAnswerSheet.h"
#include "wnd/VLImageViewWnd.h"
#include "wnd/VLInformationWnd.h"
#include "wnd/VLMessagebox.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

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
    // FIXME: the network settings window.
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
    // FIXME: the closing wait window and the result sent on closing.
    return ShowMessage("考试正在进行中，是否确认关闭？", VLMessagebox::kOkCancel, 0) == IDOK;
}

void VLStudentWnd::QueueLogUpload() {
    VLUploadTask task;
    task.m_kind = kUploadLog;
    task.m_url = m_services.agent->RewriteUploadUrl(m_services.db->GetSysUrlInfo().FileUploadUrl);
    task.m_filePath = VLPathSet::GetLogPath();
    task.m_receiver = this;
    QueueUpload(task);
}

}  // namespace KwLib
