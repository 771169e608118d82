// Creation, pages, notifications, worker messages and destruction of the main window.
#include "wnd/VLStudentWnd.h"

#include <algorithm>
#include <ctime>

#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "audio/UIMusicPlayer.h"
#include "audio/VLDenoiseWorker.h"
#include "elements/UIQuestionElement.h"
#include "elements/UIRhythmElement.h"
#include "elements/UISingTips.h"
#include "exam/VLDatabaseManager.h"
#include "exam/VLExamManager.h"
#include "exam/VLQuestionTexts.h"
#include "net/VLAgentSettings.h"
#include "net/VLDownloadManager.h"
#include "net/VLHttpRequest.h"
#include "net/VLHttpRequestManager.h"
#include "net/VLNetMessages.h"
#include "net/VLPortCheckManager.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/crash/KWCrashHandler.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIProgress.h"
#include "platform/ui/UIRenderUtils.h"
#include "platform/ui/UIResource.h"
#include "wnd/VLMessagebox.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

namespace {
constexpr int kMaxUpdateRetrySeconds = 1800;
}  // namespace

VLStudentServices VLStudentServices::ProcessWide() {
    VLStudentServices s;
    s.db = &VLDatabaseManager::GetInstance();
    s.requests = VLHttpRequestManager::GetInstance();
    s.downloads = VLDownloadManager::GetInstance();
    s.uploads = VLUploadManager::GetInstance();
    s.exam = &VLExamManager::GetInstance();
    s.agent = VLAgentSettings::GetInstance();
    s.denoise = &VLDenoiseWorker::Instance();
    s.config = &VLConfigManager::GetInstance();
    s.paths = VLPaths::Get();
    s.runMode = VLAppState::Get().runMode;
    s.inner = VLAppState::Get().isInner;
    s.now = [] { return static_cast<int64_t>(std::time(nullptr)); };
    return s;
}

VLStudentWnd::VLStudentWnd(std::string paperId, VLStudentServices services)
    : m_services(std::move(services)), m_paperId(std::move(paperId)) {
    if (!m_services.now)
        m_services.now = [] { return static_cast<int64_t>(std::time(nullptr)); };
}

VLStudentWnd::~VLStudentWnd() = default;

UIControl* VLStudentWnd::CreateControl(const std::string& tag) {
    if (tag == UIMusicPlayer::kTag)
        return new UIMusicPlayer;
    return nullptr;
}

void VLStudentWnd::InitWindow() {
    SetIcon(100);
    m_player = m_pm.FindControlAs<UIMusicPlayer>(kIdPlayer);
    CreateManagers();
    m_binding = m_services.db->GetBinding();
    m_user = m_services.db->GetCurrentUser();
    StartControls();
    RegisterQuestionFonts();
    SetTimer(kTimerPortCheck, 5000);
    m_pm.AddMessageFilter(this);
    m_services.requests->SendUpdateCheckReq(2, m_binding.SchoolId, this);
    // A school's choice of scale (config.cfg) counts for every window from now on.
    if (m_services.config) {
        UIApplication::Instance().SetScaleOverride(
            UIApplication::ParseScale(m_services.config->GetString("DISPLAY", "Scale")));
        SetScale(UIApplication::Instance().GetWindowScale());
    }
    // The direct modes run on top of the page that started them.
    SetTopMost(IsDirectMode());
    CenterWindow();
}

void VLStudentWnd::CreateManagers() {
    m_userAgent = BuildUserAgent();
    m_answerDataDir = m_services.paths.GetAnswerDataDir();
    if (!KWFilePathUtils::IsExists(m_answerDataDir) && !KWFilePathUtils::CreateDirectories(m_answerDataDir))
        VL_LOG_ERROR("cannot create the answer folder %s", m_answerDataDir.c_str());

    VLDatabaseConfig dbConfig;
    dbConfig.userDataDir = m_services.paths.GetUserDataDir();
    dbConfig.userDbPath = m_services.paths.GetUserDbPath();
    dbConfig.sysDbPath = m_services.paths.GetSysDbPath();
    dbConfig.clientVersion = GetClientVersion();
    dbConfig.runMode = m_services.runMode;
    m_services.db->SetConfig(dbConfig);
    if (!m_services.db->Init())
        VL_LOG_ERROR("the local databases could not be opened");

    VLConfigManager* config = m_services.config;
    VLAgentSettings* agent = m_services.agent;
    agent->SetRunMode(m_services.runMode);
    agent->SetDownloadDir(m_services.paths.GetDownloadDir());
    agent->SetConfigReaders(
        [config](const std::string& section, const std::string& key) { return config->GetString(section, key); },
        [config](const std::string& section, const std::string& key, int fallback) {
            // GetInt answers 0 for pairs it does not know; the agent keys all have defaults.
            const int v = config->GetInt(section, key);
            return v == 0 ? fallback : v;
        });

    VLHttpRequestManager* requests = m_services.requests;
    requests->SetClientVersion(GetClientVersion());
    requests->SetSysUrls(m_services.db->GetSysUrlInfo());
    requests->SetAgentSettings(agent);
    requests->SetDownloadDir(m_services.paths.GetDownloadDir());
    requests->SetDownloadManager(m_services.downloads);
    requests->SetExamManager(m_services.exam);
    requests->Start();
    m_services.uploads->Start();
    m_services.downloads->Start();
    if (!m_services.denoise->Init(this) || !m_services.denoise->Start())
        VL_LOG_ERROR("the noise-reduction worker could not be started");
}

void VLStudentWnd::StartControls() {
    if (auto* progress = m_pm.FindControlAs<UIProgress>(kIdProgress))
        progress->SetRange(0, 1000);
    auto* singTips = new UISingTips;
    singTips->SetId(kIdSingTips);
    if (auto* exam = dynamic_cast<UIContainer*>(m_pm.FindControl(kIdScreenExam))) {
        exam->Add(singTips);
        singTips->UIControl::SetFloatPos(ParseRect(KWStringUtils::Format("%d,%d,%d,%d", 48, 535, 159, 604)));
        singTips->SetVisible(false);
        m_singTips = singTips;
    } else {
        delete singTips;
    }
    if (!IsDirectMode()) {
        ShowScreen(kScreenSignIn);
        UpdateStatusTexts();
    } else {
        if (UIControl* start = m_pm.FindControl(kIdStartExam))
            start->SetVisible(false);
        m_services.requests->SendServerCfgReq(m_binding.SchoolId, this);
        if (!StartAudioEngine()) {
            // Shown once the window is up, not in the middle of its creation.
            PostMessageW(WM_USER_TEXT,
                         reinterpret_cast<uintptr_t>(new std::string("设备初始化失败，请检查耳机、耳麦是否插好。")),
                         0);
        }
        StartProgressTick(10);
        m_examState = 1;
        ShowScreen(kScreenExam);
        LoadPaper();
    }
    if (m_services.runMode == 3) {
        if (UIControl* minimise = m_pm.FindControl(kIdMinimize))
            minimise->SetVisible(false);
    }
}

void VLStudentWnd::RegisterQuestionFonts() {
    const VLQuestionFontSizes sizes = QuestionFontSizes(m_services.config->GetInt("FONT", "QuesFont"));
    m_pm.AddFont("CustomFont16", kQuestionFontFace, sizes.font16);
    m_pm.AddFont("CustomFont14", kQuestionFontFace, sizes.font14);
    m_pm.AddFont("CustomFont18", kQuestionFontFace, sizes.font18);
}

bool VLStudentWnd::StartAudioEngine() {
    if (!m_player)
        return false;
    if (m_player->IsInitialized())
        return true;
    if (!m_player->InitAudio()) {
        VL_LOG_ERROR("the audio devices could not be opened");
        return false;
    }
    ApplySpeakerLevel();
    ApplyMicLevel();
    return true;
}

// ---- pages ----

namespace {

struct PageInfo {
    int container;
    int icon;  // 0 keeps the current one
    const char* title;
    std::vector<int> buttons;
};

const PageInfo& Page(int page) {
    static const std::vector<PageInfo> pages = {
        {kIdPageTips, 1018, "考生提示", {kIdHeadphoneTest}},
        {kIdPageTips, 1018, "考生提示", {kIdUnclear, kIdClear}},
        {kIdPageMethod, 1020, "选择演奏方式", {kIdMethodOk}},
        {kIdPageTips, 0, nullptr, {kIdStartExam}},
        {kIdPageLoading, 1020, "提示", {kIdStartExam}},
        {kIdQuestionArea, 1021, nullptr, {kIdPrevious, kIdNext, kIdAnswerSheet}},
        {kIdSheetArea, 1045, "答题卡", {kIdHandIn, kIdAnswerSheet}},
        {kIdPageSubmit, 0, nullptr, {kIdHandIn, kIdAnswerSheet}},
        {kIdPageFinished, 0, nullptr, {kIdHandIn, kIdAnswerSheet}},
    };
    return pages[static_cast<size_t>(page)];
}

constexpr int kPageButtons[] = {kIdHeadphoneTest, kIdClear,    kIdUnclear,     kIdStartExam, kIdMethodOk,
                                kIdPrevious,      kIdNext,     kIdAnswerSheet, kIdHandIn};

}  // namespace

void VLStudentWnd::ShowPage(int page) {
    if (page < 0 || page > 8)
        return;
    const PageInfo& info = Page(page);
    for (int id : {kIdPageTips, kIdPageMethod, kIdPageLoading, kIdQuestionArea, kIdSheetArea, kIdPageSubmit,
                   kIdPageFinished}) {
        if (UIControl* c = m_pm.FindControl(id))
            c->SetVisible(id == info.container);
    }
    if (info.container == kIdPageTips) {
        if (page == 0) {
            m_pm.FindControl(kIdTipsPicture)->SetVisible(true);
            m_pm.FindControl(kIdHeadphonePanel)->SetVisible(false);
            m_pm.FindControl(kIdReadyPanel)->SetVisible(false);
        } else if (page == 1) {
            m_pm.FindControl(kIdHeadphonePanel)->SetVisible(true);
            m_pm.FindControl(kIdReadyPanel)->SetVisible(false);
        } else {
            m_pm.FindControl(kIdHeadphonePanel)->SetVisible(false);
            m_pm.FindControl(kIdReadyPanel)->SetVisible(true);
        }
    }
    for (int id : kPageButtons) {
        UIControl* button = m_pm.FindControl(id);
        if (!button)
            continue;
        bool visible = false;
        for (int b : info.buttons)
            visible = visible || b == id;
        // A direct start has no exam to start: its creation hid the button for good.
        if (id == kIdStartExam && IsDirectMode())
            visible = false;
        button->SetVisible(visible);
    }
    // The sheet button only works on a question; elsewhere it stays in place, greyed.
    if (UIControl* sheet = m_pm.FindControl(kIdAnswerSheet))
        sheet->SetEnabled(page == 5);
    // Handing in is offered on the sheet only: a second click while the first
    // submission is under way must not send the paper twice.
    if (UIControl* handIn = m_pm.FindControl(kIdHandIn))
        handIn->SetEnabled(page == 6);
    if (page == 7 || page == 8) {
        if (UIControl* startAnswer = m_pm.FindControl(kIdStartAnswer))
            startAnswer->SetVisible(false);
    }

    UIControl* icon = m_pm.FindControl(kIdHeaderIcon);
    UIControl* title = m_pm.FindControl(kIdHeaderTitle);
    if (icon && title) {
        icon->SetVisible(page != 7 && page != 8);
        title->SetVisible(page != 7 && page != 8);
        // Submitting and finished pages stand on their own: no empty header above them.
        m_pm.FindControl(kIdHeaderRow)->SetVisible(page != 7 && page != 8);
        m_pm.FindControl(kIdHeaderLine)->SetVisible(page != 7 && page != 8);
        if (info.icon)
            icon->SetBkImage(KWStringUtils::Format("res='%d' restype='PNG'", info.icon));
        if (info.title) {
            title->SetText(info.title);
        } else if (page == 5 && m_curQuestion) {
            const bool newSet = m_curQuestion->m_isNew != 0;
            title->SetText(KWStringUtils::Format(
                "%s（%s）", VLQuestionTexts::GetTypeName(m_curQuestion->m_type, newSet).c_str(),
                m_curQuestion->m_scoreText.c_str()));
        }
    }
    if (UIControl* countdown = m_pm.FindControl(kIdCountdown)) {
        const bool timed = m_services.exam->GetTiming().timeType == 2;
        countdown->SetVisible(timed && (page == 5 || page == 6));
    }
    if (m_services.runMode == 3) {
        if (UIControl* close = m_pm.FindControl(kIdClose))
            close->SetEnabled(page != 5 && page != 6 && page != 7);
    }
    m_page = page;
    // On the tips page only: on the headphone test the prompt would take the
    // player out of the microphone monitor the student is listening to.
    if (page == 0 && (m_services.runMode == 3 || m_services.runMode == 4))
        SetTimer(kTimerDeviceTips, 1000);
    if (page == 3)
        PlayAudioFile(m_services.paths.GetAudioDir() + "设备测试.mp3");
    UpdateKeyboardLock();
    m_pm.Invalidate();
}

void VLStudentWnd::UpdateStatusTexts() {
    const bool testEdition = m_services.runMode == 4 || m_services.runMode == 6;
    auto setText = [this](int id, const std::string& text) {
        if (UIControl* c = m_pm.FindControl(id)) {
            c->SetText(text);
            c->SetVisible(true);
        }
    };
    setText(kIdVersionText,
            KWStringUtils::Format(testEdition ? "测试版本：%s" : "版本：%s", GetClientVersion().c_str()));
    setText(kIdClassroomText, KWStringUtils::Format("教室：%s", m_binding.ClassName.c_str()));
}

std::string VLStudentWnd::FormatTime(int64_t seconds, bool withHours) {
    if (seconds < 0)
        seconds = 0;
    if (withHours) {
        return KWStringUtils::Format("%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                                     static_cast<int>((seconds % 3600) / 60), static_cast<int>(seconds % 60));
    }
    return KWStringUtils::Format("%02d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
}

// ---- message boxes ----

int VLStudentWnd::ShowMessage(const std::string& text, int buttonKind, int iconKind) {
    auto* box = new VLMessagebox(buttonKind, iconKind, text, "提示");
    if (!box->CreateOver(this)) {
        VL_LOG_ERROR("message box could not be created: %s", text.c_str());
        return IDCLOSE;
    }
    m_openBoxes.push_back(box);
    const int result = box->ShowModal();
    // The box has deleted itself by now; only its address is forgotten.
    std::erase(m_openBoxes, static_cast<UIWindowWnd*>(box));
    return result;
}

void VLStudentWnd::CloseMessageBoxes() {
    for (UIWindowWnd* box : m_openBoxes) {
        if (UIApplication::Instance().IsAlive(box))
            box->Close(IDCLOSE);
    }
}

// ---- notifications ----

namespace {
int SliderPercent(UIPaintManager& pm, int id) {
    auto* slide = pm.FindControlAs<UISlide>(id);
    if (!slide || slide->GetSlideRange() <= 0)
        return 100;
    return (slide->GetSlidePos() - slide->GetMinValue()) * 100 / slide->GetSlideRange();
}
bool IsOptionSelected(UIPaintManager& pm, int id) {
    auto* option = pm.FindControlAs<UIOption>(id);
    return option && option->IsSelected();
}
}  // namespace


void VLStudentWnd::Notify(UINotification& msg) {
    const int id = msg.sender ? msg.sender->GetId() : 0;
    switch (msg.type) {
        case kNotifyClick:
            switch (id) {
                case kIdMinimize:
                    Minimize();
                    break;
                case kIdClose:
                    Close(IDCLOSE);
                    break;
                case kIdSignIn:
                    OnSignInClick();
                    break;
                case kIdConfirm:
                    OnConfirmClick();
                    break;
                case kIdCancel:
                    // A sign-in still under way is given up with the screen.
                    m_loginsStale = m_loginsInFlight;
                    if (UIControl* confirm = m_pm.FindControl(kIdConfirm))
                        confirm->SetEnabled(true);
                    ShowScreen(kScreenSignIn);
                    break;
                case kIdHeadphoneTest:
                    OnHeadphoneTestClick();
                    break;
                case kIdClear:
                    OnClearClick();
                    break;
                case kIdUnclear:
                    OnUnclearClick();
                    break;
                case kIdStartExam:
                    OnStartExamClick();
                    break;
                case kIdMethodOk:
                case kIdPaperRetry:
                    LoadPaper();
                    break;
                case kIdPrevious:
                    MoveByButton(false);
                    break;
                case kIdNext:
                    MoveByButton(true);
                    break;
                case kIdStartAnswer:
                    // Skips the rest of the listening: the start-answering prompt follows.
                    if (m_curQuestion) {
                        KillTimer(kTimerPhase);
                        m_curQuestion->m_phase = 5;
                        SetTimer(kTimerPhase, 100);
                    }
                    break;
                case kIdAnswerSheet:
                    OnAnswerSheet();
                    break;
                case kIdHandIn:
                    HandIn(true);
                    break;
                case kIdSubmitRetry:
                    RetrySubmit();
                    break;
                case kIdSheetNumber:
                    OnJump(msg.sender);
                    break;
                case kIdListenToggle:
                    OnListenToggle(msg.sender);
                    break;
                case kIdClipOption:
                    OnClipOption(msg.sender);
                    break;
                case kIdZoomButton:
                    OpenPicture(msg.sender);
                    break;
                case kIdSpeakerMute:
                case kIdMicMute: {
                    // The click arrives before the option changes: it is about to flip.
                    auto* option = dynamic_cast<UIOption*>(msg.sender);
                    const bool mutedAfter = option && !option->IsSelected();
                    if (m_player && m_player->IsInitialized()) {
                        const int sliderId = id == kIdSpeakerMute ? kIdSpeakerSlider : kIdMicSlider;
                        const int level = mutedAfter ? 0 : SliderPercent(m_pm, sliderId);
                        if (id == kIdSpeakerMute)
                            m_player->SetVolume(level);
                        else
                            m_player->SetRecordVolume(level);
                    }
                    break;
                }
                case kIdHeadsetRepair:
                    RepairHeadset();
                    break;
                case kIdStatusIcon:
                    OpenInformation();
                    break;
                case kIdNetworkSettings:
                    OpenAgentSettings();
                    break;
                default:
                    break;
            }
            break;
        case kNotifyDblClick:
            if (id == kIdPictureBox || id == kIdScoreImage)
                OpenPicture(msg.sender);
            break;
        case kNotifyReturn:
            if (id == kIdStudentNumber)
                OnSignInClick();
            break;
        case kNotifyValueChanged:
            if (id == kIdSpeakerSlider)
                ApplySpeakerLevel();
            else if (id == kIdMicSlider)
                ApplyMicLevel();
            break;
        default:
            break;
    }
}

void VLStudentWnd::ApplySpeakerLevel() {
    if (m_player && m_player->IsInitialized())
        m_player->SetVolume(IsOptionSelected(m_pm, kIdSpeakerMute) ? 0 : SliderPercent(m_pm, kIdSpeakerSlider));
}

void VLStudentWnd::ApplyMicLevel() {
    if (m_player && m_player->IsInitialized())
        m_player->SetRecordVolume(IsOptionSelected(m_pm, kIdMicMute) ? 0 : SliderPercent(m_pm, kIdMicSlider));
}

void VLStudentWnd::OpenPicture(UIControl* control) {
    const std::string& path = control ? control->GetUserData() : std::string();
    if (path.empty())
        return;
    UIImageInfo info;
    if (!UILoadResource::ImageInfoFromFile(path, info)) {
        VL_LOG_ERROR("picture %s cannot be read", path.c_str());
        return;
    }
    OpenPictureViewer(path, info.width, info.height);
}

// ---- timers ----

intptr_t VLStudentWnd::OnTimer(uint32_t, uintptr_t wParam, intptr_t, bool& handled) {
    handled = true;
    const int id = static_cast<int>(wParam);
    switch (id) {
        // One-shot timers end as they fire.
        case kTimerPhase:
        case kTimerPrevious:
        case kTimerNext:
        case kTimerMethod:
        case kTimerDeviceTips:
        case kTimerHeadphone:
        case kTimerStartExam:
        case kTimerPaperError:
        case kTimerRhythmMusic:
        case kTimerClip:
        case kTimerListen:
        case kTimerUpdateRetry:
        case kTimerFullScreen:
        case kTimerPortCheck:
        case kTimerSingTipsShow:
            KillTimer(id);
            break;
        default:
            break;
    }
    switch (id) {
        case kTimerPhase:
            OnPhaseTimer();
            break;
        case kTimerPrevious:
        case kTimerNext:
            AfterMoveTimer(id == kTimerNext);
            break;
        case kTimerMethod:
            OnPerformanceMethodTimer();
            break;
        case kTimerDeviceTips:
            PlayAudioFile(m_services.paths.GetAudioDir() + "设备检查提示.mp3");
            break;
        case kTimerHeadphone:
            OnHeadphoneTestTimer();
            break;
        case kTimerSubmit:
            OnSubmitTick();
            break;
        case kTimerStartExam:
            StartExam();
            break;
        case kTimerPaperError:
            ShowPaperFailure();
            break;
        case kTimerRhythmMusic:
            if (m_curQuestion) {
                const uint32_t length = PlayAudioFile(m_curQuestion->m_backgroundFile);
                // The rhythm element counts taps from this music's first sample.
                if (m_curElement && m_player && length > 0)
                    m_curElement->OnActivityMusicStarted(&m_player->GetPlayer());
                SetTimer(kTimerPhase, length + 1000);
            }
            break;
        case kTimerProgress:
            OnProgressTick();
            break;
        case kTimerClip:
            StopClip(kGroupClip, kTimerClip);
            break;
        case kTimerListen:
            StopClip(kGroupListen, kTimerListen);
            break;
        case kTimerUpdateRetry:
            // Doubled up to the half hour the pause is capped at, never beyond: an int
            // doubled without end wraps round to a pause of nothing.
            m_updateRetrySeconds = std::min(m_updateRetrySeconds * 2, kMaxUpdateRetrySeconds);
            m_services.requests->SendUpdateCheckReq(2, m_binding.SchoolId, this);
            break;
        case kTimerFullScreen:
            EnterFullScreen();
            break;
        case kTimerCountdown:
            OnCountdownTick();
            break;
        case kTimerPortCheck:
            VLPortCheckManager::GetInstance()->StartCheck(this);
            break;
        case kTimerSingTips:
            OnSingTipsTick();
            break;
        case kTimerSingTipsShow:
            if (m_singTips) {
                m_singTips->SetLevel(3);
                m_singTips->SetVisible(true);
            }
            break;
        case kTimerCloseAfterUpdate:
            if (m_openBoxes.empty()) {
                KillTimer(kTimerCloseAfterUpdate);
                PostMessageW(WM_CLOSE, IDCLOSE, 0);
            }
            break;
        case kTimerSnapshot:
            SnapshotAnswers();
            break;
        case kTimerCloseUploads:
            OnCloseUploadTick();
            break;
        case kTimerFocusCheck:
            OnFocusCheck();
            break;
        default:
            handled = false;
            break;
    }
    return 0;
}

void VLStudentWnd::EnterFullScreen() {
    // The exam fills the screen: its layout drawn as large as the screen's
    // shape allows (a school's config.cfg may ask for less), centred, the
    // page's background reaching the screen's edges.
    const UISize layout = m_pm.GetMinInfo().cx > 0 ? m_pm.GetMinInfo() : UISize{1024, 768};
    m_pm.SetMaxWindow(UIApplication::Instance().GetScreenSize());
    SetTopMost(true);
    m_pm.SetFullScreenFit(layout, UIApplication::Instance().GetScaleOverride());
    m_pm.UpdateAndInvalidate();
}

// ---- worker messages ----

intptr_t VLStudentWnd::HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) {
    handled = true;
    switch (msg) {
        case WM_DOWNLOAD_FAILED:
            OnDownloadFailed(std::unique_ptr<VLDownloadTask>(reinterpret_cast<VLDownloadTask*>(wParam)));
            break;
        case WM_DOWNLOAD_DONE:
            OnDownloadDone(std::unique_ptr<VLDownloadTask>(reinterpret_cast<VLDownloadTask*>(wParam)));
            break;
        case WM_DOWNLOAD_PROGRESS:
            break;
        case WM_UPLOAD_DONE:
            OnUploadDone(std::unique_ptr<VLUploadTask>(reinterpret_cast<VLUploadTask*>(wParam)));
            break;
        case WM_UPLOAD_FAILED:
            OnUploadFailed(std::unique_ptr<VLUploadTask>(reinterpret_cast<VLUploadTask*>(wParam)));
            break;
        case WM_UPLOAD_PROGRESS:
            delete reinterpret_cast<VLUploadTask*>(wParam);
            break;
        case WM_DENOISE_FINISHED: {
            std::unique_ptr<std::string> path(reinterpret_cast<std::string*>(wParam));
            OnDenoiseFinished(*path);
            break;
        }
        case WM_USER_TEXT: {
            std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(wParam));
            ShowMessage(*text, VLMessagebox::kOkOnly, 1);
            break;
        }
        case WM_HTTP_FAILED:
            OnHttpFailed(static_cast<int>(wParam), static_cast<int>(lParam));
            break;
        case WM_SERVER_CFG_RSP: {
            std::unique_ptr<VLServerCfgResult> r(reinterpret_cast<VLServerCfgResult*>(wParam));
            VLAppState::Get().serverCfgCode = r->m_code;
            VLAppState::Get().rhythmDeviation = r->m_rhythmDeviation;
            break;
        }
        case WM_INFORMATION_CHECK_RSP:
            OnInformationCheck(
                std::unique_ptr<VLStudentInfoResult>(reinterpret_cast<VLStudentInfoResult*>(wParam)));
            break;
        case WM_STUDENT_LOGIN_RSP:
            OnStudentLogin(std::unique_ptr<VLStudentLoginResult>(reinterpret_cast<VLStudentLoginResult*>(wParam)));
            break;
        case WM_EXAM_QUESTION_RSP:
        case WM_EXAM_QUESTION_SIGNAL_RSP:
            OnQuestionList(static_cast<int>(static_cast<intptr_t>(wParam)),
                           std::unique_ptr<VLQuestionList>(reinterpret_cast<VLQuestionList*>(lParam)));
            break;
        case WM_EXAM_STATE_RSP: {
            std::unique_ptr<VLExamStateResult> r(reinterpret_cast<VLExamStateResult*>(wParam));
            // A refused or unreadable answer carries state 0: the next question switch returns to sign-in.
            m_examState = r->m_examState;
            break;
        }
        case WM_EXAM_RESULT_RSP: {
            std::unique_ptr<VLExamResultResult> r(reinterpret_cast<VLExamResultResult*>(wParam));
            OnPaperResult(r->m_code);
            break;
        }
        case WM_EXAM_RESULT_SIGNAL_RSP: {
            std::unique_ptr<VLExamResultResult> r(reinterpret_cast<VLExamResultResult*>(wParam));
            OnSingleResult(r->m_code, r->m_score);
            break;
        }
        case WM_UPDATE_CHECK_RSP: {
            std::unique_ptr<VLUpdateCheckResult> r(reinterpret_cast<VLUpdateCheckResult*>(wParam));
            OnUpdateCheck(r->m_code == 0, r->m_updateAvailable, r->m_versionNumber, r->m_downloadUrl);
            break;
        }
        case WM_LOG_UPLOAD_RSP: {
            std::unique_ptr<VLLogUploadResult> r(reinterpret_cast<VLLogUploadResult*>(wParam));
            OnLogUploadResult(r->m_code);
            break;
        }
        case WM_EXAM_SCORE_RSP:
            delete reinterpret_cast<VLExamScoreResult*>(wParam);
            break;
        case WM_AGENT_RELAY_RSP:
            break;
        case WM_RAISE:
            BringToFront();
            break;
        case WM_END_SESSION:
            VL_LOG_INFO("the session ends: the answers are stored and the window closes");
            if (m_examInProgress)
                FinishQuestion();
            StopQuestionActivity();
            m_closing = true;
            CloseMessageBoxes();
            PostMessageW(WM_CLOSE, IDCLOSE, 0);
            break;
        case WM_CRASH_TEST:
            KWCrashHandler::TriggerTestCrash();
            break;
        case WM_HOTKEY:
            OnLogHotKey();
            break;
        default:
            handled = false;
            break;
    }
    return 0;
}

void VLStudentWnd::FreePayload(const KWMessage& m) {
    switch (m.message) {
        case WM_DOWNLOAD_FAILED:
        case WM_DOWNLOAD_DONE:
            delete reinterpret_cast<VLDownloadTask*>(m.wParam);
            break;
        case WM_UPLOAD_DONE:
        case WM_UPLOAD_FAILED:
        case WM_UPLOAD_PROGRESS:
            delete reinterpret_cast<VLUploadTask*>(m.wParam);
            break;
        case WM_DENOISE_FINISHED:
        case WM_USER_TEXT:
            delete reinterpret_cast<std::string*>(m.wParam);
            break;
        case WM_SERVER_CFG_RSP:
            delete reinterpret_cast<VLServerCfgResult*>(m.wParam);
            break;
        case WM_INFORMATION_CHECK_RSP:
            delete reinterpret_cast<VLStudentInfoResult*>(m.wParam);
            break;
        case WM_STUDENT_LOGIN_RSP:
            delete reinterpret_cast<VLStudentLoginResult*>(m.wParam);
            break;
        case WM_EXAM_QUESTION_RSP:
        case WM_EXAM_QUESTION_SIGNAL_RSP:
            delete reinterpret_cast<VLQuestionList*>(m.lParam);
            break;
        case WM_EXAM_STATE_RSP:
            delete reinterpret_cast<VLExamStateResult*>(m.wParam);
            break;
        case WM_EXAM_RESULT_RSP:
        case WM_EXAM_RESULT_SIGNAL_RSP:
            delete reinterpret_cast<VLExamResultResult*>(m.wParam);
            break;
        case WM_UPDATE_CHECK_RSP:
            delete reinterpret_cast<VLUpdateCheckResult*>(m.wParam);
            break;
        case WM_LOG_UPLOAD_RSP:
            delete reinterpret_cast<VLLogUploadResult*>(m.wParam);
            break;
        case WM_EXAM_SCORE_RSP:
            delete reinterpret_cast<VLExamScoreResult*>(m.wParam);
            break;
        default:
            break;
    }
}

void VLStudentWnd::OnUnreadMessage(const KWMessage& message) {
    FreePayload(message);
}

void VLStudentWnd::OnHttpFailed(int requestId, int code) {
    const std::string text =
        KWStringUtils::Format("请求发送失败，错误码：%d，请检查代理是否正常。", code);
    VL_LOG_ERROR("request %d failed with code %d", requestId, code);
    switch (requestId) {
        case kReqInformationCheck:
            m_infoChecksInFlight = std::max(0, m_infoChecksInFlight - 1);
            if (m_infoChecksInFlight == 0)
                ShowMessage(text);
            break;
        case kReqStudentLogin:
            if (TakeLoginAnswerIsStale())
                break;
            if (UIControl* confirm = m_pm.FindControl(kIdConfirm))
                confirm->SetEnabled(true);
            ShowMessage(text);
            break;
        case kReqExamQuestion:
        case kReqExamQuestionSignal:
            ShowPaperFailure();
            break;
        case kReqExamResult:
        case kReqExamResultSignal:
            ShowSubmitFailure();
            break;
        case kReqUpdateCheck:
            OnUpdateCheck(false, false, std::string(), std::string());
            break;
        case kReqLogUpload:
            // Said like any failed sending, and the hot key works again.
            if (m_sendingLog)
                OnLogUploadResult(-1);
            break;
        default:
            break;
    }
}

void VLStudentWnd::ReportExamState(int state, const std::string& questionId, int first, int second) {
    const VLSignInRecord& signIn = VLAppState::Get().signIn;
    m_services.requests->SendExamStateReq(m_binding.SchoolId, m_binding.ClassId, signIn.recordId, signIn.studentId,
                                          questionId, state, static_cast<uint32_t>(first),
                                          static_cast<uint32_t>(second), this);
}

void VLStudentWnd::OnUpdateCheck(bool ok, bool offered, const std::string& version, const std::string& url) {
    if (!ok) {
        SetTimer(kTimerUpdateRetry,
                 static_cast<uint32_t>(std::min<int64_t>(m_updateRetrySeconds * 1000LL, kMaxUpdateRetrySeconds * 1000LL)));
        return;
    }
    if (!offered)
        return;
    if (ShowMessage("发现新版本，是否立即升级？", VLMessagebox::kOkCancel, 0) == IDOK &&
        m_services.launchUpdater)
        m_services.launchUpdater(version, url);
    // Either way the client ends: the new version must not meet an old client running.
    CloseMessageBoxes();
    SetTimer(kTimerCloseAfterUpdate, 100);
}

intptr_t VLStudentWnd::OnRButtonDown(uint32_t, uintptr_t, intptr_t, bool& handled) {
    // Does nothing unless "-crashtest" was given on the command line.
    KWCrashHandler::TriggerTestCrash();
    handled = false;
    return 0;
}

intptr_t VLStudentWnd::MessageHandler(uint32_t msg, uintptr_t wParam, intptr_t, bool& handled) {
    if (msg == WM_KILLFOCUS)
        OnFocusLost();
    if (msg == WM_KEYDOWN && wParam == 'P' &&
        UIApplication::Instance().GetModifiers() == (kModCtrl | kModAlt | kModShift)) {
        handled = true;
        PostMessageW(WM_HOTKEY, 0, 0);
    }
    return 0;
}

// ---- destruction ----

intptr_t VLStudentWnd::OnDestroy(uint32_t, uintptr_t, intptr_t, bool& handled) {
    // Nothing stays held once the exam's window is going.
    m_keyboardLocked = false;
    KillTimer(kTimerFocusCheck);
    UIApplication::Instance().SetKeyboardLock(false);
    m_pm.RemoveMessageFilter(this);
    ReleaseManagers();
    UIWindowWnd::PostQuitMessage(0);
    handled = false;
    return 0;
}

void VLStudentWnd::ReleaseManagers() {
    if (m_managersReleased)
        return;
    m_managersReleased = true;
    KillTimer(kTimerSnapshot);
    // The element may still point at its record: it goes before the records do.
    if (auto* area = dynamic_cast<UIContainer*>(m_pm.FindControl(kIdQuestionArea)))
        area->RemoveAll();
    m_curElement = nullptr;
    m_curQuestion = nullptr;
    if (m_player)
        m_player->ReleaseAudio();
    m_services.requests->Release();
    m_services.downloads->Release();
    m_services.uploads->Release();
    VLPortCheckManager::GetInstance()->Release();
    m_services.denoise->Stop();
    m_services.db->Release();
    m_services.exam->Release();
    VL_LOG_DEBUG("VLStudentWnd::ReleaseManagers()");
}

void VLStudentWnd::OnFinalMessage() {
    if (m_onFinal)
        m_onFinal();
    delete this;
}

namespace {

// What a driver needs to tap a rhythm question in time: the expected taps and
// the moment they count from (the state's "now" is on the same clock).
KWJsonValue RhythmAutomationState(const UIRhythmElement& rhythm) {
    KWJsonValue state(Json::objectValue);
    state["started"] = rhythm.IsStarted();
    state["origin"] = static_cast<Json::Int64>(rhythm.GetOrigin());
    state["originFromAudio"] = rhythm.IsOriginFromAudio();
    state["tolerance"] = rhythm.GetTolerance();
    state["result"] = rhythm.GetResult();
    KWJsonValue beats(Json::arrayValue);
    for (uint32_t beat : rhythm.GetAllBeats())
        beats.append(beat);
    state["beats"] = beats;
    KWJsonValue longNotes(Json::arrayValue);
    for (const auto& note : rhythm.GetAllLongNotes()) {
        KWJsonValue pair(Json::arrayValue);
        pair.append(note.start);
        pair.append(note.end);
        longNotes.append(pair);
    }
    state["longNotes"] = longNotes;
    state["pendingBeats"] = static_cast<int>(rhythm.GetBeats().size() + rhythm.GetLongNotes().size());
    return state;
}

}  // namespace

void VLStudentWnd::FillAutomationState(KWJsonValue& state) const {
    state["screen"] = m_screen;
    state["page"] = m_page;
    state["index"] = m_curIndex;
    state["count"] = m_questionCount;
    state["type"] = m_curQuestion ? m_curQuestion->m_type : 0;
    state["phase"] = m_curQuestion ? m_curQuestion->m_phase : -1;
    state["questionId"] = m_curQuestion ? m_curQuestion->m_id : std::string();
    state["examState"] = m_examState;
    state["recordState"] = m_recordState;
    state["pendingUploads"] = static_cast<int>(m_pendingUploads.size());
    state["runMode"] = m_services.runMode;
    state["keyboardLocked"] = m_keyboardLocked;
    state["holdsKeyboard"] = HoldsKeyboard();
    state["focusLosses"] = m_focusLosses;
    if (auto* rhythm = dynamic_cast<const UIRhythmElement*>(m_curElement))
        state["rhythm"] = RhythmAutomationState(*rhythm);
}

}  // namespace KwLib
