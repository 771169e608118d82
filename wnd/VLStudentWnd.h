#pragma once
// VLStudentWnd: the exam client's main window. It switches between the screens
// and pages of one layout, walks the paper's records one question at a time,
// creates each question's element, plays the prompts and the music, records
// singing answers, stores every answer locally and reports to the platform.
//
// One class, its handlers in several files by theme:
//   VLStudentWnd.cpp          creation, pages, notifications, worker messages, destruction
//   VLStudentWnd_Exam.cpp     paper loading, question switching, phases, timers, countdown
//   VLStudentWnd_Answers.cpp  taking, storing and restoring answers, recordings
//   VLStudentWnd_SignIn.cpp   screens, sign-in, device check, performance method
//   VLStudentWnd_Submit.cpp   answer sheet, hand-in, submission, closing, log sending
//
// Threads: everything here runs on the UI thread. Workers (requests,
// downloads, uploads, denoising) reach the window only through PostMessageW;
// the window frees every heap payload it takes, also the ones still queued
// when it is destroyed.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/core/VLPaths.h"
#include "exam/VLDatabaseRecords.h"
#include "exam/VLDownloadTask.h"
#include "net/VLServerApi.h"
#include "net/VLUploadTask.h"
#include "platform/common/KWJson.h"
#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {

class UIMusicPlayer;
class UIQuestionElement;
class UISingTips;
class VLAgentSettings;
class VLConfigManager;
class VLDatabaseManager;
class VLDenoiseWorker;
class VLDownloadManager;
class VLExamManager;
class VLHttpRequestManager;
class VLQuestionBase;
class VLSingQuestion;
class VLUploadManager;
class VLWaitCloseWnd;

// What the window drives. The program hands in the process-wide instances;
// tests construct their own managers, folders and clocks.
struct VLStudentServices {
    VLDatabaseManager* db = nullptr;
    VLHttpRequestManager* requests = nullptr;
    VLDownloadManager* downloads = nullptr;
    VLUploadManager* uploads = nullptr;
    VLExamManager* exam = nullptr;
    VLAgentSettings* agent = nullptr;
    VLDenoiseWorker* denoise = nullptr;
    VLConfigManager* config = nullptr;
    VLPathSet paths;
    int runMode = 3;
    bool inner = false;
    // Wall-clock seconds since 1970 (countdown, cache ageing).
    std::function<int64_t()> now;
    // Starts the updater with the offered version and address.
    std::function<void(const std::string& version, const std::string& url)> launchUpdater;

    // The process-wide managers, paths, run mode and configuration.
    static VLStudentServices ProcessWide();
};

class VLStudentWnd : public UIWindowImplBase, public IMessageFilterUI {
public:
    // Screens (ShowScreen).
    static constexpr int kScreenSignIn = 2;
    static constexpr int kScreenConfirm = 3;
    static constexpr int kScreenExam = 4;

    // Messages of this window beyond the workers' (WM_USER + n).
    static constexpr uint32_t WM_USER_TEXT = WM_USER + 16;  // wParam: std::string* shown in a box
    static constexpr uint32_t WM_RAISE = WM_USER + 300;     // a second start asked for the window
    // The desktop session ends (SIGTERM, SIGINT): store the answers and close without asking.
    static constexpr uint32_t WM_END_SESSION = WM_USER + 301;
    // The crash-report test ("-crashtest"), for scripts that cannot right-click.
    static constexpr uint32_t WM_CRASH_TEST = WM_USER + 302;

    // Phases of the current question (m_phase of its record).
    static constexpr int kPhaseAnswering = 7;

    VLStudentWnd(std::string paperId, VLStudentServices services);
    ~VLStudentWnd() override;

    std::string GetWindowClassName() const override { return "VLStudentWnd"; }
    UIControl* CreateControl(const std::string& tag) override;
    void InitWindow() override;
    void Notify(UINotification& msg) override;
    intptr_t OnTimer(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnClose(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnDestroy(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t OnRButtonDown(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    intptr_t HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;
    void OnUnreadMessage(const KWMessage& message) override;
    void OnFinalMessage() override;
    // Called once the window object is about to be deleted (from any owner's point of view, gone).
    void SetFinalCallback(std::function<void()> callback) { m_onFinal = std::move(callback); }
    // Key filter: the log hot key Ctrl+Alt+Shift+P.
    intptr_t MessageHandler(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;

    // ---- pages and screens ----
    void ShowScreen(int kind);
    void ShowPage(int page);
    // ---- lockdown ----
    // Holds the keyboard on the exam's pages (after sign-in until the finished
    // page) of a normal run and releases it everywhere else.
    void UpdateKeyboardLock();
    void OnFocusLost();
    void OnFocusCheck();
    int GetFocusLosses() const { return m_focusLosses; }
    void UpdateStatusTexts();

    // ---- the exam ----
    void LoadPaper();
    void StartExam();
    void ShowCurQuestion(bool forward);
    // Plays one file through the player; its length in ms, 0 when it cannot be played.
    uint32_t PlayAudioFile(const std::string& path);
    void StopAudio();
    void StopQuestionActivity();

    // ---- answers ----
    void FinishQuestion();
    std::string BuildAnswerList();
    std::string BuildShortAnswers();
    void RestoreAnswers();

    // ---- sheet, submission, closing ----
    void OnAnswerSheet();
    void HandIn(bool confirm);
    void Submit();
    void ShowSubmitFailure();

    // A modal message box titled "提示"; returns 1 (OK), 2 (Cancel) or 8 (closed).
    int ShowMessage(const std::string& text, int buttonKind = 1, int iconKind = 0);
    // Closes every message box this window has open.
    void CloseMessageBoxes();
    size_t OpenMessageBoxCount() const { return m_openBoxes.size(); }

    // "%02d:%02d:%02d" with hours, else "%02d:%02d" (minutes may pass 59).
    static std::string FormatTime(int64_t seconds, bool withHours);

    // ---- read by tests and the automation channel ----
    int GetScreen() const { return m_screen; }
    int GetPage() const { return m_page; }
    int GetCurIndex() const { return m_curIndex; }
    int GetExamState() const { return m_examState; }
    bool IsExamInProgress() const { return m_examInProgress; }
    VLQuestionBase* GetCurQuestion() const { return m_curQuestion; }
    UIQuestionElement* GetCurElement() const { return m_curElement; }
    UIMusicPlayer* GetPlayer() const { return m_player; }
    int GetRecordState() const { return m_recordState; }
    size_t PendingUploadCount() const { return m_pendingUploads.size(); }
    const VLStudentServices& Services() const { return m_services; }
    // The answer list as stored (or, in the direct modes, as it would be).
    std::string CurrentAnswerList() { return BuildAnswerList(); }
    // Screen, page, question and phase for the automation channel's state.
    void FillAutomationState(KWJsonValue& state) const;

private:
    // Creation work, in order.
    void CreateManagers();
    void StartControls();
    void RegisterQuestionFonts();
    void ReleaseManagers();

    // Worker results (each frees its payload).
    void OnDownloadDone(std::unique_ptr<VLDownloadTask> task);
    void OnDownloadFailed(std::unique_ptr<VLDownloadTask> task);
    void OnQuestionList(int code, std::unique_ptr<VLQuestionList> list);
    void OnUploadDone(std::unique_ptr<VLUploadTask> task);
    void OnUploadFailed(std::unique_ptr<VLUploadTask> task);
    void OnDenoiseFinished(const std::string& path);
    void OnHttpFailed(int requestId, int code);
    void OnUpdateCheck(bool ok, bool offered, const std::string& version, const std::string& url);
    static void FreePayload(const KWMessage& message);

    // Question flow.
    void OnPhaseTimer();
    void StartAnswering();
    void EndAnswering();
    void ShowPaperFailure();
    void OnProgressTick();
    // The progress tick runs at `periodMs` while something plays or records; it
    // rests in between and wakes with the next sound, so an idle question costs nothing.
    void StartProgressTick(uint32_t periodMs);
    void WakeProgressTick();
    void OnCountdownTick();
    void OnSingTipsTick();
    void MoveByButton(bool forward);
    void AfterMoveTimer(bool forward);
    void OnClipOption(UIControl* option);
    void StopClip(const std::string& group, int timerId);
    void SetElementEnabled(bool enabled);
    void SetProgressText(int permille, const std::string& text);
    std::string PromptPath(int index) const;
    void SnapshotAnswers();
    bool IsSingType(int type) const { return type >= 3 && type <= 7; }
    bool IsDirectMode() const { return m_services.runMode == 5 || m_services.runMode == 6; }
    // Only a signed-in exam keeps its answers on the computer.
    bool StoresAnswers() const { return m_services.runMode == 3 || m_services.runMode == 4; }
    VLQuestionBase* QuestionAt(int index);
    int QuestionCount();

    // Recording.
    bool StartSingRecording(VLSingQuestion* sing);
    void StartRecording(const std::string& path, int mode);
    int StopRecording();
    // A progress report of the signed-in student: 0 the device check began,
    // 1 a question is shown, 3 the exam ended.
    void ReportExamState(int state, const std::string& questionId = std::string(), int first = 0, int second = 0);
    void ApplyMicLevel();
    void ApplySpeakerLevel();
    void QueueRecordingUpload(VLSingQuestion* sing, bool denoise);
    void QueueUpload(const VLUploadTask& task);
    // The take just recorded becomes the question's answer, or is dropped when
    // it was not written or was cut short while an earlier one exists.
    void TakeRecording(VLSingQuestion* sing);
    // A recording answers the question: its address, or an upload under way.
    bool HasRecordingAnswer(const VLQuestionBase* q) const;
    // The upload belongs to the exam whose answers are loaded now.
    bool IsLoadedExam(const VLUploadTask& task) const;
    // The address of an upload whose exam is not on screen, into its stored row only.
    void StoreUploadAddress(const VLUploadTask& upload, const std::string& address);
    // After an accepted result: this exam's stored row goes, with its recordings
    // when `recordings` (closing during the exam), never another exam's.
    void ClearFinishedExam(bool recordings);
    // A recording was uploaded: a close that waits for the uploads may go on.
    void OnPendingUploadsChanged();
    void SendCloseResult();
    void OnCloseUploadTick();
    VLUploadTask MakeRecordingUpload(const std::string& path, const std::string& questionId) const;
    void StoreAnswers();

    // Sign-in screens and device check (VLStudentWnd_SignIn.cpp).
    void OnSignInClick();
    void OnInformationCheck(std::unique_ptr<VLStudentInfoResult> result);
    void OnConfirmClick();
    void OnStudentLogin(std::unique_ptr<VLStudentLoginResult> result);
    void OnHeadphoneTestClick();
    void OnHeadphoneTestTimer();
    void OnClearClick();
    void OnUnclearClick();
    void OnStartExamClick();
    void OnPerformanceMethodTimer();
    void ReturnToSignIn();
    void SetPhoto(int controlId, const std::string& path);
    bool StartAudioEngine();
    void AgeDownloadCache();
    void OpenAgentSettings();
    void OpenInformation();
    void RepairHeadset();

    // Answer sheet, submission, closing, log (VLStudentWnd_Submit.cpp).
    void OnSubmitTick();
    void OnPaperResult(int code);
    void OnSingleResult(int code, int score);
    void RetrySubmit();
    void OnListenToggle(UIControl* toggle);
    void OnJump(UIControl* number);
    void OnLogHotKey();
    void OnLogUploaded(const VLUploadTask& task);
    void OnLogUploadResult(int code);
    bool ConfirmClose();
    void BuildAnswerSheet(UIContainer* area);
    void QueueLogUpload();
    void OpenPicture(UIControl* control);
    void OpenPictureViewer(const std::string& path, int width, int height);
    void EnterFullScreen();

    VLStudentServices m_services;

    // Window state.
    std::string m_paperId;
    std::string m_userAgent;
    std::string m_answerDataDir;
    VLUserInfo m_user;
    VLClassroomBinding m_binding;
    std::string m_instruments;
    int m_curIndex = -1;
    int m_examState = 0;
    VLQuestionBase* m_curQuestion = nullptr;  // owned by the exam manager
    UIQuestionElement* m_curElement = nullptr;  // owned by the question area
    int m_downloadTotal = 0;
    int m_downloadDone = 0;
    // Save paths of the paper's files not yet reported done: the exam starts
    // only when every one of them is on disk.
    std::set<std::string> m_missingFiles;
    bool m_paperRequested = false;
    int m_updateRetrySeconds = 1;
    int m_recordState = 0;
    bool m_recorded = false;
    // The recording of the question on screen was already handed to denoising and upload.
    bool m_recordingHandedOver = false;
    // What the last stop of a recording reported (negative: the file was not written).
    int m_lastStopResult = 0;
    // The recording being made on this visit, apart from the question's answer.
    std::string m_takeFile;
    // It ran to its end (the end mark or the answering time), not cut short.
    bool m_takeComplete = false;
    // A rhythm attempt of this visit, the taps it started over, and whether its music ran out:
    // taps of an attempt left early never replace an earlier answer.
    bool m_rhythmAttempt = false;
    bool m_rhythmComplete = false;
    std::string m_rhythmEarlier;
    // The exam manager holds the signed-in exam's restored answers: only then are they stored.
    bool m_answersLoaded = false;
    // A close during the exam that waits for the recordings' uploads (its window is modal).
    VLWaitCloseWnd* m_closeWait = nullptr;
    int m_closeTicks = 0;
    bool m_closeResultSent = false;
    bool m_closeWaitsForSubmission = false;  // the hand-in's own result ends the close
    int m_submitTicks = 0;
    bool m_submitting = false;
    // The submission's result request is out and not answered yet.
    bool m_resultRequested = false;
    std::map<std::string, VLUploadTask> m_pendingUploads;
    bool m_sendingLog = false;
    bool m_examInProgress = false;
    int m_questionCount = 0;

    // Answers come back in the order the requests went out: only the answer
    // to the newest number checked counts, and sign-ins sent before "取 消"
    // are no one's any more.
    int m_infoChecksInFlight = 0;
    int m_loginsInFlight = 0;
    int m_loginsStale = 0;
    // True when this answer of the sign-in is stale (and counts it as arrived).
    bool TakeLoginAnswerIsStale();

    std::string m_studentName;
    std::string m_studentNumber;
    std::string m_headImagePath;

    int m_screen = 0;
    int m_page = -1;
    bool m_keyboardLocked = false;
    // Times the exam's window lost the focus to another program while it held
    // the keyboard; kept with the exam's stored answers.
    int m_focusLosses = 0;
    uint64_t m_focusLostAt = 0;  // toolkit clock; 0 while no loss is pending
    // 0 after playing a prompt or music, 1 while the microphone test monitors,
    // 3 while an option's clip plays.
    int m_tickMode = 0;
    int m_singTipsCounter = 0;
    bool m_blinking = false;
    // The answer list as last stored, so the periodic snapshot writes only changes.
    std::string m_storedAnswers;
    int m_lastProgress = -1;
    uint32_t m_progressTickMs = 0;  // 0 until the audio engine runs
    bool m_progressTickArmed = false;
    std::string m_lastTimeText;

    UIMusicPlayer* m_player = nullptr;  // owned by the control tree
    UISingTips* m_singTips = nullptr;   // owned by the control tree
    std::vector<UIWindowWnd*> m_openBoxes;
    bool m_closing = false;
    bool m_managersReleased = false;
    std::function<void()> m_onFinal;
};

}  // namespace KwLib
