// The windows the main window opens on top of itself.
#include "exam/VLDatabaseManager.h"
#include "net/VLAgentSettings.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWLog.h"
#include "platform/ui/UIContainer.h"
#include "wnd/VLMessagebox.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

void VLStudentWnd::OpenPictureViewer(const std::string& path, int width, int height) {
    // FIXME: the picture viewer window.
    VL_LOG_INFO("picture %s (%dx%d)", path.c_str(), width, height);
}

void VLStudentWnd::OpenInformation() {
    // FIXME: the information window.
}

void VLStudentWnd::OpenAgentSettings() {
    // FIXME: the network settings window.
}

void VLStudentWnd::BuildAnswerSheet(UIContainer* area) {
    // FIXME: the answer sheet.
    (void)area;
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
