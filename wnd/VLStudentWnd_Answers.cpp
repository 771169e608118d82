// Taking, storing and restoring answers, and the singing recordings that are answers.
#include <algorithm>
#include <set>

#include "app/core/VLAppState.h"
#include "audio/UIMusicPlayer.h"
#include "audio/VLDenoiseWorker.h"
#include "elements/UIQuestionElement.h"
#include "exam/VLDatabaseManager.h"
#include "exam/VLExamManager.h"
#include "net/VLAgentSettings.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"
#include "wnd/VLStudentWnd.h"
#include "wnd/VLStudentWndIds.h"

namespace KwLib {

namespace {

// Below this size a WAV file holds no sound at all: its header only.
constexpr int64_t kWavHeaderBytes = 44;

// A recording's name as the answer list keeps it: a file of the answer folder,
// never a path that could lead out of it.
bool IsBareFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// A recording and the copy kept of it as captured, before cleaning.
void RemoveRecording(const std::string& path) {
    if (path.empty())
        return;
    KWFilePathUtils::RemoveFile(path);
    KWFilePathUtils::RemoveFile(path + ".bak");
}

// A sort or jigsaw answer counts only when some slot holds something.
bool HasRealPiece(const std::string& answer) {
    std::vector<std::string> pieces;
    KWStringToken::StringToken(answer, ",", pieces);
    return std::any_of(pieces.begin(), pieces.end(),
                       [](const std::string& p) { return KWStringUtils::CompareNoCase(p, "-1") != 0; });
}

}  // namespace

// ---- taking the answer ----

void VLStudentWnd::FinishQuestion() {
    if (m_player)
        m_player->StopPlayback();
    StopAudio();
    VLQuestionBase* q = m_curQuestion;
    if (!q || q->m_type == 12)
        return;
    const int type = q->m_type;
    if (IsSingType(type)) {
        auto* sing = dynamic_cast<VLSingQuestion*>(q);
        if (sing && m_recorded && !m_recordingHandedOver) {
            m_recordingHandedOver = true;
            TakeRecording(sing);
        }
        // Nothing new on this visit: an earlier recording still counts.
        q->m_answered = HasRecordingAnswer(q);
    } else if (m_curElement) {
        if (type == 8 || type == 9)
            m_curElement->StopActivity();
        q->m_answer = m_curElement->GetAnswer();
        if ((type == 8 || type == 9) && m_rhythmAttempt && !m_rhythmComplete && !m_rhythmEarlier.empty()) {
            VL_LOG_INFO("question %s left before its music ended; its earlier taps stay its answer", q->m_id.c_str());
            q->m_answer = m_rhythmEarlier;
        }
        q->m_answered = (type == 13 || type == 14) ? HasRealPiece(q->m_answer) : !q->m_answer.empty();
    }
    StoreAnswers();
}

bool VLStudentWnd::HasRecordingAnswer(const VLQuestionBase* q) const {
    return !q->m_answer.empty() || std::any_of(m_pendingUploads.begin(), m_pendingUploads.end(), [q](const auto& p) {
               return p.second.m_userText == q->m_id;
           });
}

void VLStudentWnd::TakeRecording(VLSingQuestion* sing) {
    const std::string take = m_takeFile;
    m_takeFile.clear();
    if (take.empty())
        return;
    const int64_t size = KWFilePathUtils::FileSize(take);
    if (m_lastStopResult < 0 || size < kWavHeaderBytes) {
        // Not on disk, or cut off by a failing device: nothing to clean or
        // upload. An earlier recording of the question stays its answer.
        // A part captured before the device failed stays on disk, for a teacher to find.
        VL_LOG_ERROR("recording %s of question %s was not written whole (stop %d, size %lld)", take.c_str(),
                     sing->m_id.c_str(), m_lastStopResult, static_cast<long long>(size));
        return;
    }
    if (!m_takeComplete && HasRecordingAnswer(sing)) {
        // Left before the end: a fragment never replaces a whole earlier take.
        VL_LOG_INFO("question %s left during a new recording; the earlier recording stays its answer",
                    sing->m_id.c_str());
        RemoveRecording(take);
        return;
    }
    if (!sing->m_recordFile.empty() && sing->m_recordFile != take)
        RemoveRecording(sing->m_recordFile);
    sing->m_recordFile = take;
    // The earlier take's address goes only now that the new one has run its course.
    sing->m_answer.clear();
    QueueRecordingUpload(sing, true);
}

void VLStudentWnd::SnapshotAnswers() {
    VLQuestionBase* q = m_curQuestion;
    if (!StoresAnswers() || !q || !m_curElement || IsSingType(q->m_type) || q->m_type == 12)
        return;
    // A new rhythm attempt under way does not overwrite the taps it may yet give way to.
    if ((q->m_type == 8 || q->m_type == 9) && m_rhythmAttempt && !m_rhythmComplete && !m_rhythmEarlier.empty())
        return;
    // Read without stopping anything: the question goes on.
    const std::string answer = m_curElement->GetAnswer();
    if (answer != q->m_answer) {
        q->m_answer = answer;
        q->m_answered = (q->m_type == 13 || q->m_type == 14) ? HasRealPiece(answer) : !answer.empty();
    }
    StoreAnswers();
}

void VLStudentWnd::StoreAnswers() {
    if (!StoresAnswers())
        return;
    // Only while an exam's answers are loaded: before (a paper loading) or after
    // (back at sign-in) the list is empty or not yet restored, and storing it
    // would replace the answers the database keeps.
    if (!m_answersLoaded)
        return;
    const std::string list = BuildAnswerList();
    if (list == m_storedAnswers)
        return;
    VLExamAnswer row;
    row.RecordId = VLAppState::Get().signIn.recordId;
    row.UserId = VLAppState::Get().signIn.studentId;
    row.AnswerParam = list;
    if (!m_services.db->SaveExamAnswer(row)) {
        // Kept as unsaved: the next snapshot or question switch tries again.
        VL_LOG_ERROR("the answers could not be stored in the local database");
        return;
    }
    m_storedAnswers = list;
}

std::string VLStudentWnd::BuildAnswerList() {
    KWJsonValue root(Json::objectValue);
    root["uid"] = std::to_string(m_user.UserId);
    KWJsonValue list(Json::arrayValue);
    {
        auto lock = m_services.exam->Lock();
        for (int i = 0; i < m_services.exam->GetCount(); ++i) {
            const VLQuestionBase* q = m_services.exam->GetQuestion(i);
            KWJsonValue item(Json::objectValue);
            item["id"] = q->m_id;
            item["answer"] = q->m_answer;
            if (IsSingType(q->m_type)) {
                if (const auto* sing = dynamic_cast<const VLSingQuestion*>(q))
                    item["userdata"] =
                        sing->m_recordFile.empty() ? std::string() : KWFilePathUtils::FileName(sing->m_recordFile);
            }
            list.append(item);
        }
    }
    root["answerlist"] = list;
    // Rows written before the count existed simply have none: readers take 0.
    if (m_focusLosses > 0)
        root["focuslosses"] = m_focusLosses;
    return KWJsonWriter::Write(root);
}

std::string VLStudentWnd::BuildShortAnswers() {
    std::string text;
    auto lock = m_services.exam->Lock();
    m_services.exam->SortByAddIndex();
    for (int i = 0; i < m_services.exam->GetCount(); ++i) {
        const VLQuestionBase* q = m_services.exam->GetQuestion(i);
        text += KWStringUtils::Format("%s:%s|", q->m_id.c_str(), q->m_answer.c_str());
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

void VLStudentWnd::RestoreAnswers() {
    if (!StoresAnswers())
        return;
    std::vector<VLExamAnswer> rows;
    if (!m_services.db->LoadExamAnswer(VLAppState::Get().signIn.recordId, rows))
        return;
    const std::string uid = std::to_string(m_user.UserId);
    for (const VLExamAnswer& row : rows) {
        KWJsonValue root;
        if (!KWJsonReader::Parse(row.AnswerParam, root) || !root.isObject())
            continue;
        if (!root["uid"].isString() || root["uid"].asString() != uid)
            continue;  // another student's answers on this PC
        const KWJsonValue& list = root["answerlist"];
        if (!list.isArray())
            break;
        // The exam goes on where it stopped, focus losses included.
        if (root["focuslosses"].isInt() && root["focuslosses"].asInt() > m_focusLosses)
            m_focusLosses = root["focuslosses"].asInt();
        auto lock = m_services.exam->Lock();
        for (const KWJsonValue& item : list) {
            if (!item.isObject() || !item.isMember("id"))
                continue;
            const std::string id = KWJsonUtils::AsString(item["id"]);
            for (int i = 0; i < m_services.exam->GetCount(); ++i) {
                VLQuestionBase* q = m_services.exam->GetQuestion(i);
                if (q->m_id != id)
                    continue;
                q->m_answer = KWJsonUtils::AsString(item["answer"]);
                if (q->m_type == 13 || q->m_type == 14)
                    q->m_answered = HasRealPiece(q->m_answer);
                else
                    q->m_answered = !q->m_answer.empty();
                auto* sing = dynamic_cast<VLSingQuestion*>(q);
                const std::string userdata = KWJsonUtils::AsString(item["userdata"]);
                if (sing && IsSingType(q->m_type) && !userdata.empty() && !IsBareFileName(userdata)) {
                    VL_LOG_ERROR("the stored recording name of question %s is not a file name of the answer "
                                 "folder and is ignored: %s", q->m_id.c_str(), userdata.c_str());
                } else if (sing && IsSingType(q->m_type) && !userdata.empty()) {
                    sing->m_recordFile = m_answerDataDir + userdata;
                    // Uploaded before the interruption: the address is the answer already.
                    if (q->m_answer.empty() && KWFilePathUtils::FileSize(sing->m_recordFile) >= kWavHeaderBytes) {
                        q->m_answered = true;
                        // A recording cleaned before (its original kept as .bak) is not cleaned twice.
                        QueueRecordingUpload(sing, !KWFilePathUtils::IsExistsFile(sing->m_recordFile + ".bak"));
                    }
                }
            }
        }
        m_storedAnswers = BuildAnswerList();
        break;
    }
}

// ---- recordings ----

bool VLStudentWnd::StartSingRecording(VLSingQuestion* sing) {
    if (!KWFilePathUtils::IsExists(m_answerDataDir))
        KWFilePathUtils::CreateDirectories(m_answerDataDir);
    KWTempFile temp;
    std::string path;
    if (temp.CreateTempFile(m_answerDataDir, "rec", "")) {
        path = KWFilePathUtils::ChangeExtension(temp.Path(), ".wav");
        if (KWFilePathUtils::Rename(temp.Path(), path))
            temp.DisableDeleting();
        else
            path.clear();
    }
    if (path.empty())
        VL_LOG_ERROR("no file for the recording of question %s in %s", sing->m_id.c_str(), m_answerDataDir.c_str());
    // A take of its own: the question's earlier recording stays its answer
    // until this one has run to its end.
    m_takeFile = path;
    m_takeComplete = false;
    StartRecording(path, 1);
    m_recordState = 2;
    m_recorded = true;
    m_recordingHandedOver = false;
    m_lastStopResult = 0;
    return !path.empty();
}

void VLStudentWnd::StartRecording(const std::string& path, int mode) {
    if (!m_player)
        return;
    if (mode == 2)
        m_player->StopPlayback();
    if (!m_player->StartRecord(path))
        VL_LOG_ERROR("recording could not start (%s)", path.c_str());
    m_player->SetMode(mode);
    ApplyMicLevel();
    WakeProgressTick();
    m_pm.FindControl(kIdRecordIdle)->SetVisible(false);
    m_pm.FindControl(kIdRecording)->SetVisible(true);
    // A child singing must see at a glance that the microphone listens.
    m_pm.FindControl(kIdRecordingBanner)->SetVisible(mode == 1);
}

int VLStudentWnd::StopRecording() {
    int result = 0;
    if (m_player && m_player->HasOpenRecording()) {
        result = m_player->StopRecord();
        m_lastStopResult = result;
    }
    m_pm.FindControl(kIdRecordIdle)->SetVisible(true);
    m_pm.FindControl(kIdRecording)->SetVisible(false);
    m_pm.FindControl(kIdRecordingBanner)->SetVisible(false);
    return result;
}

VLUploadTask VLStudentWnd::MakeRecordingUpload(const std::string& path, const std::string& questionId) const {
    VLUploadTask task;
    task.m_kind = VLUploadTask::kRecording;
    task.m_url = m_services.agent->RewriteUploadUrl(m_services.db->GetSysUrlInfo().FileUploadUrl);
    task.m_filePath = path;
    task.m_userText = questionId;
    task.m_userText2 = "wav";
    task.m_fileSize = std::max<int64_t>(KWFilePathUtils::FileSize(path), 0);
    task.m_receiver = const_cast<VLStudentWnd*>(this);
    task.m_ownerRecordId = VLAppState::Get().signIn.recordId;
    task.m_ownerUserId = VLAppState::Get().signIn.studentId;
    return task;
}

void VLStudentWnd::QueueRecordingUpload(VLSingQuestion* sing, bool denoise) {
    // A newer recording of the same question replaces one still waiting.
    for (auto it = m_pendingUploads.begin(); it != m_pendingUploads.end();) {
        if (it->second.m_userText == sing->m_id && it->first != sing->m_recordFile)
            it = m_pendingUploads.erase(it);
        else
            ++it;
    }
    const VLUploadTask task = MakeRecordingUpload(sing->m_recordFile, sing->m_id);
    m_pendingUploads[sing->m_recordFile] = task;
    if (denoise && m_services.denoise->AddFile(sing->m_recordFile))
        return;
    if (denoise)
        VL_LOG_ERROR("noise reduction does not run: %s is uploaded as recorded", sing->m_recordFile.c_str());
    QueueUpload(task);
}

void VLStudentWnd::QueueUpload(const VLUploadTask& task) {
    m_services.uploads->AddTask(task);
}

void VLStudentWnd::OnDenoiseFinished(const std::string& path) {
    auto it = m_pendingUploads.find(path);
    if (it == m_pendingUploads.end())
        return;
    // Sized now: cleaning rewrote the file.
    it->second.m_fileSize = std::max<int64_t>(KWFilePathUtils::FileSize(path), 0);
    QueueUpload(it->second);
}

bool VLStudentWnd::IsLoadedExam(const VLUploadTask& task) const {
    const VLSignInRecord& signIn = VLAppState::Get().signIn;
    return (m_answersLoaded || !StoresAnswers()) && task.m_ownerRecordId == signIn.recordId &&
           task.m_ownerUserId == signIn.studentId;
}

void VLStudentWnd::OnUploadDone(std::unique_ptr<VLUploadTask> task) {
    if (task->m_kind == VLUploadTask::kRecording) {
        auto it = m_pendingUploads.find(task->m_filePath);
        if (it == m_pendingUploads.end())
            return;  // replaced by a newer recording of its question
        const VLUploadTask owner = it->second;
        m_pendingUploads.erase(it);
        if (IsLoadedExam(owner)) {
            {
                auto lock = m_services.exam->Lock();
                for (int i = 0; i < m_services.exam->GetCount(); ++i) {
                    auto* sing = dynamic_cast<VLSingQuestion*>(m_services.exam->GetQuestion(i));
                    if (sing && sing->m_id == task->m_userText && sing->m_recordFile == task->m_filePath) {
                        sing->m_answer = task->m_result;
                        sing->m_answered = true;
                    }
                }
            }
            // The address is stored at once, so a restart does not upload the file again.
            StoreAnswers();
        } else {
            // Its exam is not on screen (back at sign-in, or its paper loading
            // again): only the stored row learns the address.
            StoreUploadAddress(owner, task->m_result);
        }
        OnPendingUploadsChanged();
        return;
    }
    OnLogUploaded(*task);
}

void VLStudentWnd::StoreUploadAddress(const VLUploadTask& upload, const std::string& address) {
    if (!StoresAnswers())
        return;
    std::vector<VLExamAnswer> rows;
    if (!m_services.db->LoadExamAnswer(upload.m_ownerRecordId, rows))
        return;
    const std::string name = KWFilePathUtils::FileName(upload.m_filePath);
    for (VLExamAnswer& row : rows) {
        KWJsonValue root;
        if (row.UserId != upload.m_ownerUserId || !KWJsonReader::Parse(row.AnswerParam, root) || !root.isObject() ||
            !root["answerlist"].isArray())
            continue;
        bool changed = false;
        for (KWJsonValue& item : root["answerlist"]) {
            if (item.isObject() && KWJsonUtils::AsString(item["id"]) == upload.m_userText &&
                KWJsonUtils::AsString(item["userdata"]) == name) {
                item["answer"] = address;
                changed = true;
            }
        }
        if (!changed)
            continue;
        row.AnswerParam = KWJsonWriter::Write(root);
        if (!m_services.db->SaveExamAnswer(row))
            VL_LOG_ERROR("the address of recording %s could not be stored", name.c_str());
        return;
    }
    VL_LOG_INFO("recording %s was uploaded, but no stored answer names it any more", name.c_str());
}

void VLStudentWnd::ClearFinishedExam(bool recordings) {
    const VLSignInRecord& signIn = VLAppState::Get().signIn;
    // The recordings of this exam only: another student's interrupted exam on
    // this computer keeps its own.
    std::set<std::string> files;
    {
        auto lock = m_services.exam->Lock();
        for (int i = 0; i < m_services.exam->GetCount(); ++i) {
            const auto* sing = dynamic_cast<const VLSingQuestion*>(m_services.exam->GetQuestion(i));
            if (sing && !sing->m_recordFile.empty())
                files.insert(sing->m_recordFile);
        }
    }
    std::vector<VLExamAnswer> rows;
    if (m_services.db->LoadExamAnswer(signIn.recordId, rows)) {
        for (const VLExamAnswer& row : rows) {
            KWJsonValue root;
            if (row.UserId != signIn.studentId || !KWJsonReader::Parse(row.AnswerParam, root) || !root.isObject() ||
                !root["answerlist"].isArray())
                continue;
            for (const KWJsonValue& item : root["answerlist"]) {
                const std::string name = item.isObject() ? KWJsonUtils::AsString(item["userdata"]) : std::string();
                if (IsBareFileName(name))
                    files.insert(m_answerDataDir + name);
            }
        }
    }
    if (recordings) {
        for (const std::string& file : files)
            RemoveRecording(file);
    }
    if (!m_services.db->ClearExamAnswer(signIn.recordId, signIn.studentId))
        VL_LOG_ERROR("the answers of the finished exam could not be cleared");
    m_storedAnswers.clear();
}

void VLStudentWnd::OnUploadFailed(std::unique_ptr<VLUploadTask> task) {
    if (task->m_kind == VLUploadTask::kLogFile) {
        // The student asked for it: a failure is said, and the key works again.
        VL_LOG_ERROR("the log file could not be uploaded");
        OnLogUploadResult(-1);
        return;
    }
    if (task->m_kind != VLUploadTask::kRecording)
        return;
    auto it = m_pendingUploads.find(task->m_filePath);
    if (it == m_pendingUploads.end())
        return;
    VL_LOG_ERROR("upload of %s failed; queued again", task->m_filePath.c_str());
    VLUploadTask again = it->second;
    again.m_attempts = 0;
    QueueUpload(again);
}

}  // namespace KwLib
