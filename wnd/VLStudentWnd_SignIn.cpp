// The sign-in screens, the device check and the performance method of the main window.
#include <algorithm>

#include "app/core/VLAppState.h"
#include "audio/UIMusicPlayer.h"
#include "elements/UIQuestionElement.h"
#include "exam/VLDatabaseManager.h"
#include "exam/VLExamManager.h"
#include "net/VLHttpRequestManager.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringConvert.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILayout.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIRenderUtils.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

namespace {
constexpr int kDefaultPhoto = 1019;
constexpr int64_t kCacheAgeSeconds = 1296000;  // 15 days
constexpr UIColor kBadgeColor = 0xFFE8F5EC;
}  // namespace

void VLStudentWnd::ShowScreen(int kind) {
    m_pm.FindControl(kIdScreenSignIn)->SetVisible(kind == kScreenSignIn);
    m_pm.FindControl(kIdScreenConfirm)->SetVisible(kind == kScreenConfirm);
    m_pm.FindControl(kIdScreenExam)->SetVisible(kind == kScreenExam);
    m_pm.FindControl(kIdHeadsetRepair)->SetVisible(kind == kScreenExam);
    m_pm.FindControl(kIdStatusIcon)->SetVisible(kind == kScreenExam);
    m_pm.FindControl(kIdNetworkSettings)->SetVisible(kind == kScreenSignIn || kind == kScreenConfirm);
    UIControl* background = m_pm.FindControl(kIdBackground);
    if (kind == kScreenSignIn || kind == kScreenConfirm) {
        m_examInProgress = false;
        m_answersLoaded = false;
        m_focusLosses = 0;
        {
            auto lock = m_services.exam->Lock();
            m_services.exam->Clear();
        }
        background->SetBkImage("res='1008' restype='PNG'");
        m_pm.FindControl(kIdConfirmName)->SetText(m_studentName);
        m_pm.FindControl(kIdConfirmNumber)->SetText(m_studentNumber);
        UIControl* badge = m_pm.FindControl(kind == kScreenSignIn ? kIdBadgeSignIn : kIdBadgeConfirm);
        const std::string& school = m_binding.SchoolName;
        badge->SetText(school);
        if (school.empty()) {
            badge->SetBkImage("");
            badge->SetBkColor(0);
        } else {
            const UISize size = UIRenderUtils::GetTextSize(&m_pm, school, badge->GetFont(), DT_SINGLELINE);
            badge->SetFixedWidth(size.cx + 60);
            badge->SetBkColor(kBadgeColor);
        }
        if (kind == kScreenSignIn) {
            if (UIControl* field = m_pm.FindControl(kIdStudentNumber))
                field->SetFocus();
        }
    } else if (kind == kScreenExam) {
        background->SetBkImage("res='1001' restype='PNG'");
        // A direct start has no signed-in student.
        m_pm.FindControl(kIdPanelName)->SetText(m_studentName.empty() && IsDirectMode() ? "快速作答" : m_studentName);
        m_pm.FindControl(kIdPanelNumber)->SetText(m_studentNumber.empty() ? std::string()
                                                                          : "学号：" + m_studentNumber);
        if (m_player && m_player->IsInitialized()) {
            if (auto* slide = m_pm.FindControlAs<UISlide>(kIdSpeakerSlider))
                slide->SetValue(static_cast<int>(m_player->GetPlayer().Engine().GetVolume() * 100 + 0.5f));
        }
        SetProgressText(0, "00:00");
        SetPhoto(kIdPanelPhoto, m_headImagePath);
        m_pm.FindControl(kIdVersionText)->SetVisible(false);
        m_pm.FindControl(kIdClassroomText)->SetVisible(false);
        m_screen = kind;
        ShowPage(0);
    }
    m_screen = kind;
    UpdateKeyboardLock();
    m_pm.Invalidate();
}

void VLStudentWnd::SetPhoto(int controlId, const std::string& path) {
    UIControl* photo = m_pm.FindControl(controlId);
    if (!photo)
        return;
    if (!path.empty() && KWFilePathUtils::IsExistsFile(path))
        photo->SetBkImage(KWStringUtils::Format("file='%s'", path.c_str()));
    else
        photo->SetBkImage(KWStringUtils::Format("res='%d' restype='PNG'", kDefaultPhoto));
}

void VLStudentWnd::ReturnToSignIn() {
    KillTimer(kTimerSnapshot);
    KillTimer(kTimerCountdown);
    if (auto* area = dynamic_cast<UIContainer*>(m_pm.FindControl(kIdQuestionArea)))
        area->RemoveAll();
    m_curElement = nullptr;
    m_curQuestion = nullptr;
    m_curIndex = -1;
    ShowScreen(kScreenSignIn);
    UpdateStatusTexts();
}

// ---- sign-in ----

void VLStudentWnd::AgeDownloadCache() {
    int64_t last = 0;
    m_services.db->GetMaxClearTimestamp(last);
    const int64_t now = m_services.now();
    if (last == 0) {
        m_user.ClearTimestamp = now;
    } else if (now - last > kCacheAgeSeconds) {
        const std::string dir = m_services.paths.GetDownloadDir();
        VL_LOG_INFO("clearing the download cache %s", dir.c_str());
        KWFilePathUtils::RemoveAll(dir);
        m_user.ClearTimestamp = now;
    }
    m_services.db->PruneUsers(now, kCacheAgeSeconds);
}

void VLStudentWnd::OnSignInClick() {
    UIControl* field = m_pm.FindControl(kIdStudentNumber);
    if (!field)
        return;
    const std::string typed = KWStringUtils::Trim(field->GetText(), " \r\t\n");
    m_studentNumber = KWStringConvert::FullWidthToAscii(typed);
    if (UIControl* button = m_pm.FindControl(kIdSignIn))
        button->SetFocus();
    AgeDownloadCache();
    ++m_infoChecksInFlight;
    m_services.requests->SendInfomationCheckReq(m_binding.SchoolId, m_studentNumber, this);
}

void VLStudentWnd::OnInformationCheck(std::unique_ptr<VLStudentInfoResult> result) {
    // The answer for a number typed before the one checked last is not this student's.
    m_infoChecksInFlight = std::max(0, m_infoChecksInFlight - 1);
    if (m_screen != kScreenSignIn || m_infoChecksInFlight > 0)
        return;
    if (result->m_code != 0) {
        // An answer that could not be read (a relay's error page) is the platform's
        // trouble, not a wrong number: the student is not told to retype it.
        if (result->m_msg.empty())
            ShowMessage(result->m_code == -1 ? "服务器的应答无法识别，请稍后重试。"
                                             : "没有找到这个学号的考生，请检查后重新输入。");
        else
            ShowMessage(result->m_msg);
        return;
    }
    m_studentName = result->m_studentName;
    m_headImagePath = result->m_headImagePath;
    SetPhoto(kIdPhoto, m_headImagePath);
    ShowScreen(kScreenConfirm);
}

bool VLStudentWnd::TakeLoginAnswerIsStale() {
    m_loginsInFlight = std::max(0, m_loginsInFlight - 1);
    if (m_loginsStale > 0) {
        --m_loginsStale;
        return true;
    }
    return false;
}

void VLStudentWnd::OnConfirmClick() {
    m_pm.FindControl(kIdConfirm)->SetEnabled(false);
    ++m_loginsInFlight;
    m_services.requests->SendStudentLoginReq(m_studentName, m_studentNumber, m_binding.SchoolId,
                                             m_binding.ClassId, m_userAgent, this);
}

void VLStudentWnd::OnStudentLogin(std::unique_ptr<VLStudentLoginResult> r) {
    if (TakeLoginAnswerIsStale()) {
        // Sent for a student who pressed "取 消": it must not sign in whoever confirms next.
        VL_LOG_INFO("a sign-in answer that came after its cancel was ignored");
        return;
    }
    m_pm.FindControl(kIdConfirm)->SetEnabled(true);
    VLSignInRecord& signIn = VLAppState::Get().signIn;
    signIn.code = r->m_code;
    signIn.msg = r->m_msg;
    signIn.examState = r->m_examState;
    signIn.recordId = r->m_recordId;
    signIn.studentId = r->m_studentId;
    signIn.timeType = r->m_timeType;
    signIn.deadline = r->m_deadline;
    signIn.schoolName = r->m_schoolName;
    signIn.schoolAddress = r->m_schoolAddress;
    signIn.classroomName = r->m_classroomName;
    signIn.paperName = r->m_paperName;
    signIn.teacherName = r->m_teacherName;
    signIn.instrument = r->m_instrument;
    if (m_screen != kScreenConfirm)
        return;
    if (r->m_code != 200) {
        ShowMessage(r->m_msg.empty() ? "登录失败，请重试。" : r->m_msg);
        return;
    }
    m_examState = r->m_examState;
    if (m_examState != 1) {
        ShowMessage("考试尚未开始。");
        return;
    }
    if (!m_player || !m_player->IsInitialized()) {
        if (!StartAudioEngine()) {
            ShowMessage("设备初始化失败，请检查耳机、耳麦是否插好。");
            return;
        }
        StartProgressTick(50);
    }
    const int64_t clearTimestamp = m_user.ClearTimestamp;
    m_user = VLUserInfo();
    m_user.UserId = r->m_studentId;
    m_user.UserName = m_studentName;
    m_user.Password = m_studentNumber;
    m_user.Used = 1;
    m_user.ClearTimestamp = clearTimestamp;
    if (!m_services.db->SaveUser(m_user))
        VL_LOG_ERROR("the signed-in user could not be stored");
    m_services.db->SetCurrentUser(m_user);
    m_instruments = r->m_instrument;
    m_services.exam->SetTiming({r->m_timeType, r->m_deadline});

    auto differs = [](const std::string& incoming, const std::string& current) {
        return !incoming.empty() && KWStringUtils::CompareNoCase(incoming, current) != 0;
    };
    if (differs(r->m_schoolName, m_binding.SchoolName) || differs(r->m_classroomName, m_binding.ClassName) ||
        differs(r->m_schoolAddress, m_binding.Addr)) {
        m_binding.SchoolName = r->m_schoolName;
        m_binding.ClassName = r->m_classroomName;
        m_binding.Addr = r->m_schoolAddress;
        if (!m_services.db->SaveBinding(m_binding))
            VL_LOG_ERROR("the classroom binding could not be stored");
        m_services.db->SetBinding(m_binding);
        UpdateStatusTexts();
    }
    m_services.requests->SendServerCfgReq(m_binding.SchoolId, this);
    ShowScreen(kScreenExam);
    SetTimer(kTimerFullScreen, 100);
    if (r->m_timeType == 2)
        SetTimer(kTimerCountdown, 1000);
}

// ---- device check ----

void VLStudentWnd::OnHeadphoneTestClick() {
    KillTimer(kTimerDeviceTips);
    const uint32_t length = PlayAudioFile(PromptPath(1));
    m_pm.FindControl(kIdHeadphoneTest)->SetEnabled(false);
    SetTimer(kTimerHeadphone, length + 1000);
}

void VLStudentWnd::OnHeadphoneTestTimer() {
    m_pm.FindControl(kIdHeadphoneTest)->SetEnabled(true);
    m_tickMode = 1;
    StartRecording(std::string(), 2);
    ShowPage(1);
    ReportExamState(0);
}

void VLStudentWnd::OnUnclearClick() {
    m_tickMode = 1;
    StartRecording(std::string(), 2);
}

void VLStudentWnd::OnClearClick() {
    // The student heard the microphone: it is not left playing into the headphones.
    StopRecording();
    m_tickMode = 0;
    if (m_player)
        m_player->SetMode(0);
    m_pm.FindControl(kIdTipsPicture)->SetVisible(false);
    m_pm.FindControl(kIdStartExam)->SetEnabled(true);
    ShowPage(3);
}

void VLStudentWnd::OnStartExamClick() {
    m_curIndex = -1;
    m_answersLoaded = false;
    {
        auto lock = m_services.exam->Lock();
        m_services.exam->Clear();
    }
    KillTimer(kTimerPhase);
    if (m_examState == 0) {
        ShowMessage("考试尚未开始！");
        if (m_player)
            m_player->StopPlayback();
        StopAudio();
        ShowScreen(kScreenSignIn);
        m_pendingUploads.clear();
        return;
    }
    m_services.uploads->Start();
    const uint32_t length = PlayAudioFile(PromptPath(3));
    m_pm.FindControl(kIdStartExam)->SetEnabled(false);
    SetTimer(kTimerMethod, length + 1000);
}

void VLStudentWnd::OnPerformanceMethodTimer() {
    for (int i = 0; i < 6; ++i) {
        auto* option = m_pm.FindControlAs<UIOption>(kIdMethodFirstOption + i);
        if (option && option->GetGroup() != kGroupMethod)
            option->SetGroup(kGroupMethod);
        m_pm.FindControl(kIdMethodFirstBox + i)->SetVisible(false);
    }
    if (auto* selected = dynamic_cast<UIOption*>(m_pm.GetGroupSelected(kGroupMethod)))
        selected->Selected(false, false);
    if (auto* first = m_pm.FindControlAs<UIOption>(kIdMethodFirstOption))
        first->Selected(true, false);
    if (KWStringConvert::CodePointCount(m_instruments) < 3) {
        LoadPaper();
        return;
    }
    std::vector<std::string> items;
    KWStringToken::StringToArray(m_instruments, ",", items);
    static const char* kCodes[] = {"1", "2", "3", "4", "5", "6"};
    for (const std::string& item : items) {
        for (int k = 0; k < 6; ++k) {
            if (KWStringUtils::FindNoCase(item, kCodes[k]) != std::string::npos) {
                m_pm.FindControl(kIdMethodFirstBox + k)->SetVisible(true);
                break;
            }
        }
    }
    ShowPage(2);
}

void VLStudentWnd::RepairHeadset() {
    if (!m_player)
        return;
    m_player->ReleaseAudio();
    if (m_player->InitAudio()) {
        ApplySpeakerLevel();
        ApplyMicLevel();
        ShowMessage("设备修复完成。", 1, 2);
    } else {
        ShowMessage("设备修复失败，请检查耳机、耳麦是否插好。");
    }
}

}  // namespace KwLib
