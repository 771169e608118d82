// The exam flow of the main window: loading the paper, switching questions,
// the phases of a question, the progress tick, the singing schedule and the countdown.
#include <algorithm>

#include "app/core/VLAppState.h"
#include "audio/UIMusicPlayer.h"
#include "audio/UIVirtualMusicPlayer.h"
#include "elements/UIQuestionElement.h"
#include "elements/UISingTips.h"
#include "exam/VLExamManager.h"
#include "exam/VLQuestionTexts.h"
#include "net/VLDownloadManager.h"
#include "net/VLHttpRequestManager.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIProgress.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

namespace {

std::vector<std::string> SpinnerFrames(bool reverse) {
    std::vector<std::string> frames;
    for (int i = 0; i < 16; ++i)
        frames.push_back(KWStringUtils::Format("res='%d' restype='PNG'", reverse ? 1215 - i : 1200 + i));
    return frames;
}

bool HasAudioOption(const VLQuestionBase* q) {
    const auto* choice = dynamic_cast<const VLChoiceQuestion*>(q);
    if (!choice)
        return false;
    return std::any_of(choice->m_options.begin(), choice->m_options.end(),
                       [](const auto& o) { return o && o->kind == VLQuestionOption::kAudio; });
}

bool IsChoiceType(int type) {
    return type == 1 || type == 2 || type == 10;
}

}  // namespace

VLQuestionBase* VLStudentWnd::QuestionAt(int index) {
    auto lock = m_services.exam->Lock();
    if (index < 0 || index >= m_services.exam->GetCount())
        return nullptr;
    return m_services.exam->GetQuestion(index);
}

int VLStudentWnd::QuestionCount() {
    auto lock = m_services.exam->Lock();
    return m_services.exam->GetCount();
}

std::string VLStudentWnd::PromptPath(int index) const {
    static const char* kFiles[] = {"设备检查提示", "开始测试", "设备测试", "开始考试", "题目阅读",
                                   "第一遍",       "第二遍",   "开始答题", "下一题",   "上一题"};
    if (index < 0 || index > 9)
        return std::string();
    // The test edition has its own recordings of the prompts said during a question.
    const bool inner = index >= 4 && (m_services.runMode == 4 || m_services.runMode == 6);
    return m_services.paths.GetAudioDir() + kFiles[index] + (inner ? "_Inner.mp3" : ".mp3");
}

uint32_t VLStudentWnd::PlayAudioFile(const std::string& path) {
    if (!m_player)
        return 0;
    m_tickMode = 0;
    const uint32_t ms = m_player->StartPlayback(path);
    WakeProgressTick();
    if (ms == 0 && !path.empty())
        VL_LOG_ERROR("cannot play %s", path.c_str());
    else if (ms > 0)
        VL_LOG_DEBUG("playing %s (%u ms)", path.c_str(), ms);  // the rehearsal adds these up
    return ms;
}

void VLStudentWnd::StopAudio() {
    if (!m_player)
        return;
    m_player->StopPlayback();
    if (m_player->HasOpenRecording())
        StopRecording();
}

void VLStudentWnd::SetProgressText(int permille, const std::string& text) {
    // The tick runs every few milliseconds: only real changes repaint.
    if (permille != m_lastProgress) {
        if (auto* progress = m_pm.FindControlAs<UIProgress>(kIdProgress))
            progress->SetValue(permille);
        m_lastProgress = permille;
    }
    if (text != m_lastTimeText) {
        if (UIControl* time = m_pm.FindControl(kIdTimeText))
            time->SetText(text);
        m_lastTimeText = text;
    }
}

void VLStudentWnd::StopQuestionActivity() {
    // The clip timers too: firing later they would stop the next question's music.
    for (int id : {kTimerPhase, kTimerPrevious, kTimerNext, kTimerRhythmMusic, kTimerSingTips, kTimerSingTipsShow,
                   kTimerClip, kTimerListen})
        KillTimer(id);
    SetProgressText(0, "00:00");
    if (m_player)
        m_player->StopPlayback();
    StopAudio();
    if (m_singTips)
        m_singTips->SetVisible(false);
    if (m_curElement)
        m_curElement->StopActivity();
}

void VLStudentWnd::SetElementEnabled(bool enabled) {
    if (m_curElement)
        m_curElement->SetEnabled(enabled);
}

// ---- the paper ----

void VLStudentWnd::LoadPaper() {
    ShowPage(4);
    m_pm.FindControl(kIdLoadingBox)->SetVisible(true);
    m_pm.FindControl(kIdLoadingFailure)->SetVisible(false);
    UIControl* spinner = m_pm.FindControl(kIdLoadingSpinner);
    spinner->SetText("");
    m_pm.GetAnimationManager().AddAnimation(spinner, kAnimSpinner, 100, SpinnerFrames(false));
    const std::string paperName = VLAppState::Get().signIn.paperName;
    m_pm.FindControl(kIdPaperNameLoading)->SetText(paperName);
    m_pm.FindControl(kIdPaperNameFailure)->SetText(paperName);

    // A retry starts from scratch: no element may keep pointing at an old record.
    if (auto* area = dynamic_cast<UIContainer*>(m_pm.FindControl(kIdQuestionArea)))
        area->RemoveAll();
    m_curElement = nullptr;
    m_curQuestion = nullptr;
    m_curIndex = -1;
    KillTimer(kTimerStartExam);
    KillTimer(kTimerSnapshot);
    m_answersLoaded = false;
    m_services.downloads->RemoveQueuedTasks();
    {
        auto lock = m_services.exam->Lock();
        m_services.exam->Clear();
    }
    m_downloadDone = 0;
    m_downloadTotal = 0;
    m_missingFiles.clear();
    m_paperRequested = true;

    if (IsDirectMode()) {
        m_services.requests->SendExamQuestionReq(m_paperId, this);
    } else {
        const UIControl* method = m_pm.GetGroupSelected(kGroupMethod);
        const std::string instrument = method ? method->GetUserData() : std::string();
        const VLSignInRecord& signIn = VLAppState::Get().signIn;
        m_services.requests->SendExamQuestionReq(m_binding.SchoolId, m_binding.ClassId, signIn.recordId,
                                                 instrument, this);
    }
}

void VLStudentWnd::OnQuestionList(int code, std::unique_ptr<VLQuestionList> list) {
    if (!m_paperRequested || m_page != 4)
        return;
    m_downloadTotal = static_cast<int>(list->m_downloads.size());
    if (code != 0) {
        VL_LOG_ERROR("the paper request was answered with code %d", code);
        SetTimer(kTimerPaperError, 1000);
        return;
    }
    // A paper with no question the client can show is a failure to get the
    // paper, not an exam to start (a direct start would hand it in at once).
    if (QuestionCount() == 0) {
        VL_LOG_ERROR("the paper came without any usable question");
        SetTimer(kTimerPaperError, 1000);
        return;
    }
    if (list->m_downloads.empty()) {
        SetTimer(kTimerStartExam, 1000);
        return;
    }
    UIControl* spinner = m_pm.FindControl(kIdLoadingSpinner);
    spinner->SetText("0%");
    for (VLDownloadTask& task : list->m_downloads) {
        task.m_receiver = this;
        m_missingFiles.insert(task.m_savePath);
    }
    m_services.downloads->AddTasks(list->m_downloads);
}

void VLStudentWnd::OnDownloadDone(std::unique_ptr<VLDownloadTask> task) {
    if (task->m_kind == VLDownloadTask::kHeadImage) {
        if (task->m_savePath == m_headImagePath) {
            SetPhoto(kIdPhoto, task->m_savePath);
            SetPhoto(kIdPanelPhoto, task->m_savePath);
        }
        return;
    }
    if (task->m_kind != VLDownloadTask::kQuestionFile || m_missingFiles.erase(task->m_savePath) == 0)
        return;  // a file of an earlier request
    ++m_downloadDone;
    if (m_downloadTotal > 0) {
        const int percent = std::min(100, m_downloadDone * 100 / m_downloadTotal);
        m_pm.FindControl(kIdLoadingSpinner)->SetText(KWStringUtils::Format("%d%%", percent));
    }
    // Every file the paper asked for must be on disk, the one last in transfer too.
    if (m_missingFiles.empty())
        SetTimer(kTimerStartExam, 1000);
}

void VLStudentWnd::OnDownloadFailed(std::unique_ptr<VLDownloadTask> task) {
    if (task->m_kind != VLDownloadTask::kQuestionFile || m_missingFiles.count(task->m_savePath) == 0)
        return;
    VL_LOG_ERROR("paper file %s could not be downloaded", task->m_url.c_str());
    m_services.downloads->RemoveQueuedTasks();
    m_missingFiles.clear();
    ShowPaperFailure();
}

void VLStudentWnd::ShowPaperFailure() {
    if (m_page != 4)
        return;
    KillTimer(kTimerStartExam);
    m_paperRequested = false;
    UIControl* spinner = m_pm.FindControl(kIdLoadingSpinner);
    m_pm.GetAnimationManager().RemoveAnimation(spinner, kAnimSpinner);
    m_pm.FindControl(kIdLoadingBox)->SetVisible(false);
    m_pm.FindControl(kIdLoadingFailure)->SetVisible(true);
}

void VLStudentWnd::StartExam() {
    if (QuestionCount() == 0) {
        ShowPaperFailure();
        return;
    }
    m_paperRequested = false;
    m_pm.GetAnimationManager().RemoveAnimation(m_pm.FindControl(kIdLoadingSpinner), kAnimSpinner);
    m_pm.FindControl(kIdPrevious)->SetEnabled(false);
    m_pm.FindControl(kIdNext)->SetEnabled(true);
    m_examInProgress = true;
    m_questionCount = QuestionCount();
    RestoreAnswers();
    m_answersLoaded = true;
    ShowPage(5);
    SetProgressText(0, "00:00");
    SetTimer(kTimerSnapshot, kSnapshotMs);
    ShowCurQuestion(true);
}

// ---- questions ----

void VLStudentWnd::ShowCurQuestion(bool forward) {
    m_curIndex += forward ? 1 : -1;
    VLQuestionBase* record = QuestionAt(m_curIndex);

    if (m_examState == 0 || m_examState == 2) {
        KillTimer(kTimerCountdown);
        ShowMessage("考试尚未开始/已结束。");
        StopQuestionActivity();
        ReturnToSignIn();
        return;
    }
    if (!record) {
        if (IsDirectMode()) {
            FinishQuestion();
            StopQuestionActivity();
            if (m_player)
                m_player->StopPlayback();
            Submit();
            ShowPage(7);
        } else {
            OnAnswerSheet();
        }
        return;
    }
    VL_LOG_DEBUG("VLStudentWnd::ShowCurQuestion()...sequence id:%d", record->m_addIndex);
    if (!IsDirectMode())
        ReportExamState(1, record->m_id, record->m_groupIndex, record->m_sequence);
    UIControl* previous = m_pm.FindControl(kIdPrevious);
    UIControl* next = m_pm.FindControl(kIdNext);
    previous->SetEnabled(m_curIndex > 0);
    next->SetEnabled(true);
    previous->SetVisible(true);
    next->SetVisible(true);

    // The element of the question.
    m_pm.RemoveAllGroups();
    auto* area = dynamic_cast<UIContainer*>(m_pm.FindControl(kIdQuestionArea));
    area->RemoveAll();
    m_curElement = nullptr;
    m_curQuestion = record;
    m_recordState = 0;
    m_recorded = false;
    m_recordingHandedOver = false;
    m_lastStopResult = 0;
    m_takeFile.clear();
    m_takeComplete = false;
    m_rhythmAttempt = false;
    m_rhythmComplete = false;
    if (std::unique_ptr<UIQuestionElement> element = CreateQuestionElement(record->m_type)) {
        UIQuestionElement* e = element.get();
        if (AddsToAreaFirst(record->m_type)) {
            area->Add(element.release());
            e->SetManager(&m_pm, area, true);
            e->InitQuestion(record);
            e->SetAnswer(record->m_answer);
        } else {
            e->SetManager(&m_pm, nullptr, true);
            e->InitQuestion(record);
            e->SetAnswer(record->m_answer);
            area->Add(element.release());
        }
        m_curElement = e;
        // Answers are given in the answering phase only.
        e->SetEnabled(false);
    }
    if (record->m_type >= 3 && record->m_type <= 9 && m_player) {
        const std::string& audio =
            record->m_accompanimentFile.empty() ? record->m_backgroundFile : record->m_accompanimentFile;
        record->m_audioDuration = static_cast<int64_t>(m_player->GetFileDuration(audio));
    }

    // The first prompt: the type's introduction for the first question of a group.
    const bool newSet = record->m_isNew != 0;
    if (record->m_indexInGroup == 0) {
        const std::string intro = VLQuestionTexts::GetPromptFile(record->m_type, newSet);
        const uint32_t length = PlayAudioFile(intro.empty() ? std::string() : m_services.paths.GetAudioDir() + intro);
        record->m_phase = 0;
        SetTimer(kTimerPhase, length + 1000);
    } else {
        const uint32_t length = PlayAudioFile(PromptPath(4));
        record->m_phase = 1;
        SetTimer(kTimerPhase, length + 1000);
    }
    ShowPage(5);
}

void VLStudentWnd::OnPhaseTimer() {
    SetProgressText(0, "00:00");
    VLQuestionBase* q = m_curQuestion;
    if (!q)
        return;
    const bool listening = !q->m_backgroundFile.empty();
    switch (q->m_phase) {
        case 0: {
            const uint32_t length = PlayAudioFile(PromptPath(4));
            q->m_phase = 1;
            SetTimer(kTimerPhase, length + 1000);
            break;
        }
        case 1:
        case 3: {
            const bool first = q->m_phase == 1;
            if (listening) {
                const uint32_t length = PlayAudioFile(PromptPath(first ? 5 : 6));
                q->m_phase = first ? 2 : 4;
                SetTimer(kTimerPhase, length + 1000);
            } else {
                q->m_phase = 5;
                SetTimer(kTimerPhase, 1);
            }
            if (first && !IsChoiceType(q->m_type)) {
                // The student may start answering before the listening is over.
                m_pm.FindControl(kIdPrevious)->SetVisible(false);
                m_pm.FindControl(kIdNext)->SetVisible(false);
                UIControl* start = m_pm.FindControl(kIdStartAnswer);
                start->SetVisible(true);
                start->SetEnabled(true);
            }
            break;
        }
        case 2:
        case 4: {
            const uint32_t length = PlayAudioFile(q->m_backgroundFile);
            q->m_phase = q->m_phase == 2 ? 3 : 5;
            SetTimer(kTimerPhase, length + 1000);
            break;
        }
        case 5: {
            const uint32_t length = PlayAudioFile(PromptPath(7));
            const uint32_t l = length + 1000;
            q->m_phase = 6;
            if (!IsChoiceType(q->m_type)) {
                UIControl* start = m_pm.FindControl(kIdStartAnswer);
                start->SetVisible(true);
                start->SetEnabled(false);
            }
            if (IsSingType(q->m_type) && dynamic_cast<VLSingQuestion*>(q)) {
                const int s = static_cast<VLSingQuestion*>(q)->m_startMs;
                m_singTipsCounter = 3;
                SetTimer(kTimerSingTips, s > 3000 ? static_cast<uint32_t>(s - 3000) + l : l);
                const uint32_t answerAt = s == 0      ? l + 3000 + 500
                                          : s <= 3000 ? l + static_cast<uint32_t>(3000 - s) + 500
                                                      : l + 500;
                SetTimer(kTimerPhase, answerAt);
                SetTimer(kTimerSingTipsShow, l);
            } else {
                SetTimer(kTimerPhase, l + 500);
            }
            break;
        }
        case 6:
            StartAnswering();
            break;
        case kPhaseAnswering:
            EndAnswering();
            break;
        default:
            break;
    }
}

void VLStudentWnd::StartAnswering() {
    VLQuestionBase* q = m_curQuestion;
    UIControl* previous = m_pm.FindControl(kIdPrevious);
    UIControl* next = m_pm.FindControl(kIdNext);
    previous->SetVisible(true);
    previous->SetEnabled(m_curIndex != 0);
    next->SetVisible(true);
    next->SetEnabled(true);
    m_pm.FindControl(kIdStartAnswer)->SetVisible(false);
    q->m_phase = kPhaseAnswering;
    SetElementEnabled(true);
    const int type = q->m_type;
    if (IsChoiceType(type)) {
        // With a clip among the options the student needs the time to listen: no time-out.
        if (!HasAudioOption(q))
            SetTimer(kTimerPhase, static_cast<uint32_t>(std::max(q->m_durations[2], 1)));
    } else if (type == 11 || (type >= 13 && type <= 16)) {
        // The student moves on with the buttons.
    } else if (type == 8 || type == 9) {
        m_rhythmEarlier = q->m_answer;
        m_rhythmAttempt = true;
        m_rhythmComplete = false;
        BringToFront();
        const uint32_t countIn = m_curElement ? m_curElement->StartActivity(q) : 0;
        SetTimer(kTimerRhythmMusic, std::max<uint32_t>(countIn, 1));
    } else if (IsSingType(type)) {
        // An earlier recording (and its address) stays the answer until a new
        // take has run to its end: leaving early must not lose it.
        auto* sing = dynamic_cast<VLSingQuestion*>(q);
        m_takeComplete = false;
        const std::string& audio = q->m_accompanimentFile.empty() ? q->m_backgroundFile : q->m_accompanimentFile;
        const uint32_t p = PlayAudioFile(audio) + 100;
        if (sing) {
            if (!q->m_midFile.empty() && m_player) {
                const double melody = m_player->GetFileDuration(q->m_midFile);
                if (melody > 0) {
                    sing->m_endMs = static_cast<int>(melody * 1000) + sing->m_startMs + 100;
                } else {
                    // A length nobody could read must not end the singing 100 ms after
                    // it began: the accompaniment decides instead.
                    VL_LOG_WARN("the length of melody %s is unknown; question %s records to the end of its music",
                                q->m_midFile.c_str(), q->m_id.c_str());
                    sing->m_endMs = static_cast<int>(p);
                }
            }
            if (sing->m_endMs == 0 || static_cast<uint32_t>(sing->m_endMs) > p)
                sing->m_endMs = static_cast<int>(p);
            if (sing->m_startMs == 0)
                StartSingRecording(sing);
            else
                m_recordState = 1;  // the progress tick starts it at the start mark
        }
        SetTimer(kTimerPhase, p);
    } else {
        SetTimer(kTimerPhase, 1);
    }
}

void VLStudentWnd::EndAnswering() {
    if (m_rhythmAttempt)
        m_rhythmComplete = true;
    // A recording still running when the answering time ends has run its course.
    if (m_recordState == 2 && m_recorded)
        m_takeComplete = true;
    m_recordState = 3;
    FinishQuestion();
    if (m_services.exam->GetTiming().timeType != 3)
        return;  // the student moves on with the buttons
    if (m_curIndex + 1 >= QuestionCount()) {
        ShowCurQuestion(true);
        return;
    }
    const uint32_t length = PlayAudioFile(PromptPath(8));
    m_pm.FindControl(kIdPrevious)->SetEnabled(false);
    m_pm.FindControl(kIdNext)->SetEnabled(false);
    SetElementEnabled(false);
    SetTimer(kTimerNext, length + 1000);
}

void VLStudentWnd::MoveByButton(bool forward) {
    if (!m_curQuestion)
        return;
    FinishQuestion();
    StopQuestionActivity();
    SetElementEnabled(false);
    if (forward && m_curIndex + 1 >= QuestionCount()) {
        ShowCurQuestion(true);
        return;
    }
    const uint32_t length = PlayAudioFile(PromptPath(forward ? 8 : 9));
    m_pm.FindControl(kIdPrevious)->SetEnabled(false);
    m_pm.FindControl(kIdNext)->SetEnabled(false);
    SetTimer(forward ? kTimerNext : kTimerPrevious, length + 1000);
}

void VLStudentWnd::AfterMoveTimer(bool forward) {
    ShowCurQuestion(forward);
    if (m_page != 5)
        return;
    m_pm.FindControl(kIdPrevious)->SetEnabled(m_curIndex != 0);
    m_pm.FindControl(kIdNext)->SetEnabled(true);
}

// ---- clips of choice options ----

void VLStudentWnd::OnClipOption(UIControl* option) {
    auto* toggle = dynamic_cast<UIOption*>(option);
    if (!toggle || !m_player)
        return;
    // The click arrives before the option changes: an unselected one is being switched on.
    if (!toggle->IsSelected()) {
        const std::vector<UIControl*>* group = m_pm.GetGroup(kGroupClip);
        if (group) {
            for (UIControl* other : *group) {
                if (auto* player = dynamic_cast<UIVirtualMusicPlayer*>(other->GetParent()))
                    player->SetProgressValue(0);
            }
        }
        auto* player = dynamic_cast<UIVirtualMusicPlayer*>(toggle->GetParent());
        const uint32_t length = player ? PlayAudioFile(player->GetFilePath()) : 0;
        m_tickMode = 3;
        SetTimer(kTimerClip, length + 1000);
    } else {
        if (auto* player = dynamic_cast<UIVirtualMusicPlayer*>(toggle->GetParent()))
            player->SetProgressValue(0);
        KillTimer(kTimerClip);
        m_player->StopPlayback();
    }
}

void VLStudentWnd::StopClip(const std::string& group, int timerId) {
    KillTimer(timerId);
    if (auto* selected = dynamic_cast<UIOption*>(m_pm.GetGroupSelected(group))) {
        selected->Selected(false, false);
        if (auto* player = dynamic_cast<UIVirtualMusicPlayer*>(selected->GetParent()))
            player->SetProgressValue(0);
    }
    if (m_player)
        m_player->StopPlayback();
}

// ---- the progress tick ----

void VLStudentWnd::StartProgressTick(uint32_t periodMs) {
    m_progressTickMs = periodMs;
    m_progressTickArmed = false;
    WakeProgressTick();
}

void VLStudentWnd::WakeProgressTick() {
    if (m_progressTickMs == 0 || m_progressTickArmed)
        return;
    m_progressTickArmed = true;
    SetTimer(kTimerProgress, m_progressTickMs);
}

void VLStudentWnd::OnProgressTick() {
    if (!m_player)
        return;
    const bool playing = m_player->IsPlaying();
    const bool recording = m_player->IsRecording();
    if (!playing && !recording) {
        SetProgressText(0, "00:00");
        // Nothing to follow until the next sound: the tick rests.
        KillTimer(kTimerProgress);
        m_progressTickArmed = false;
        return;
    }
    switch (m_tickMode) {
        case 0: {
            SetProgressText(m_player->PlaybackProgressPermille(),
                            FormatTime(m_player->RemainingPlaySeconds(), false));
            auto* sing = dynamic_cast<VLSingQuestion*>(m_curQuestion);
            if (sing && IsSingType(sing->m_type) && (m_recordState == 1 || m_recordState == 2)) {
                const int p = static_cast<int>(m_player->GetPlayPosition() * 1000);
                if (p >= sing->m_startMs && m_recordState == 1)
                    StartSingRecording(sing);
                if (p > sing->m_endMs && sing->m_endMs != 0 && m_recordState == 2) {
                    StopRecording();
                    m_recordState = 3;
                    // The whole take is in: it becomes the answer now, not only when
                    // the question is left, so a crash meanwhile keeps it.
                    m_takeComplete = true;
                    m_recordingHandedOver = true;
                    TakeRecording(sing);
                    sing->m_answered = HasRecordingAnswer(sing);
                    StoreAnswers();
                }
            }
            break;
        }
        case 1: {
            const int s = static_cast<int>(m_player->GetRecordPosition());
            if (s > 10) {
                m_player->StopRecord();
            } else {
                const int64_t limit = std::max<int64_t>(m_player->RecordSecondsToBytes(10), 1);
                SetProgressText(static_cast<int>(m_player->GetRecordPositionBytes() * 1000 / limit),
                                FormatTime(10 - s, false));
            }
            break;
        }
        case 3: {
            SetProgressText(0, "00:00");
            auto* selected = m_pm.GetGroupSelected(kGroupClip);
            auto* player = selected ? dynamic_cast<UIVirtualMusicPlayer*>(selected->GetParent()) : nullptr;
            const double length = m_player->GetPlayLength();
            if (player && length > 0)
                player->SetProgressValue(static_cast<int>(m_player->GetPlayPosition() * 1000 / length));
            break;
        }
        default:
            break;
    }
}

void VLStudentWnd::OnSingTipsTick() {
    if (!m_singTips) {
        KillTimer(kTimerSingTips);
        return;
    }
    if (m_singTipsCounter > 0) {
        m_singTips->SetLevel(m_singTipsCounter);
        --m_singTipsCounter;
        m_singTips->SetVisible(true);
        SetTimer(kTimerSingTips, 1000);
    } else {
        KillTimer(kTimerSingTips);
        m_singTips->SetVisible(false);
    }
}

// ---- the countdown ----

void VLStudentWnd::OnCountdownTick() {
    UIControl* text = m_pm.FindControl(kIdCountdown);
    if (!text || !text->IsVisible())
        return;
    const int64_t remaining = m_services.exam->GetTiming().deadline - m_services.now();
    if (remaining < 1 && !m_openBoxes.empty()) {
        // Time is up while the student is asked something (hand in? close?):
        // the question goes first, answered as cancelled, and the next tick
        // hands in, so the paper never goes out twice or under a box.
        CloseMessageBoxes();
        return;
    }
    if (remaining < 1 && (m_submitting || m_closeWait)) {
        KillTimer(kTimerCountdown);
        return;
    }
    if (remaining < 1) {
        KillTimer(kTimerCountdown);
        m_pm.GetAnimationManager().RemoveAnimation(text, kAnimSpinner);
        m_blinking = false;
        text->SetText(FormatTime(0, true));
        FinishQuestion();
        StopQuestionActivity();
        if (m_player)
            m_player->StopPlayback();
        Submit();
        ShowPage(7);
        return;
    }
    if (remaining < 300 && !m_blinking) {
        std::vector<std::string> frames;
        for (int i = 0; i < 8; ++i)
            frames.push_back(KWStringUtils::Format("res='%d' restype='PNG'", 1300 + i));
        m_pm.GetAnimationManager().AddAnimation(text, kAnimSpinner, 200, frames);
        text->SetTextColor(0xFFFF0000);
        m_blinking = true;
    }
    text->SetText(FormatTime(remaining, true));
}

}  // namespace KwLib
