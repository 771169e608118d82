#include "net/VLServerApi.h"

#include "net/VLAgentSettings.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWJson.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"

namespace KwLib {

namespace {

// The common start of every parser: the root object and its integer code.
bool ReadEnvelope(const std::string& text, KWJsonValue& root, int32_t& code) {
    if (!KWJsonReader::Parse(text, root) || !root.isObject())
        return false;
    if (root["code"].isInt())
        code = root["code"].asInt();
    return true;
}

const KWJsonValue& DataOf(const KWJsonValue& root) {
    static const KWJsonValue kNull;
    const KWJsonValue& data = root["data"];
    return data.isObject() ? data : kNull;
}

void ReadText(const KWJsonValue& obj, const char* name, std::string& out) {
    if (obj.isObject() && obj[name].isString())
        out = obj[name].asString();
}

void ReadInt(const KWJsonValue& obj, const char* name, int32_t& out) {
    if (obj.isObject() && obj[name].isInt())
        out = obj[name].asInt();
}

// A text that holds a decimal integer and nothing else ("80", " -5 "): an empty
// or garbled text must not pass as 0.
bool HoldsDecimal(const std::string& text) {
    const std::string t = KWStringUtils::Trim(text);
    size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
    if (i == t.size())
        return false;
    for (; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9')
            return false;
    return true;
}

void ReadInt64(const KWJsonValue& obj, const char* name, int64_t& out) {
    if (obj.isObject() && obj[name].isInt64())
        out = obj[name].asInt64();
}

}  // namespace

void VLServerApi::ParseServerCfgRsp(const std::string& text, VLServerCfgResult& result) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParseServerCfgRsp()");
    KWJsonValue root;
    if (!ReadEnvelope(text, root, result.m_code))
        return;
    const KWJsonValue& data = DataOf(root);
    // The rhythm element's tolerance: a text without a number keeps the default
    // rather than judging every tap with no tolerance at all.
    if (data.isObject() && data["rhythm_deviation"].isString() &&
        HoldsDecimal(data["rhythm_deviation"].asString()))
        result.m_rhythmDeviation = KWStringUtils::ConvertStringToInt32(data["rhythm_deviation"].asString());
}

void VLServerApi::ParseInformationCheckRsp(
    const std::string& text, VLStudentInfoResult& result, const std::string& downloadDir,
    const std::function<std::string(const std::string&)>& rewriteDownloadUrl, IKWMessageReceiver* receiver,
    std::vector<VLDownloadTask>& downloads) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParseInformationCheckRsp()");
    KWJsonValue root;
    if (!ReadEnvelope(text, root, result.m_code))
        return;
    ReadText(root, "msg", result.m_msg);
    const KWJsonValue& data = DataOf(root);
    ReadInt(data, "number", result.m_number);
    ReadText(data, "student_name", result.m_studentName);
    std::string headUrl;
    ReadText(data, "head_img", headUrl);
    if (headUrl.empty())
        return;
    result.m_headImagePath = VLAgentSettings::CachePath(downloadDir, headUrl);
    if (KWFilePathUtils::IsExistsFile(result.m_headImagePath))
        return;
    VLDownloadTask task;
    task.m_kind = VLDownloadTask::kHeadImage;
    task.m_url = rewriteDownloadUrl ? rewriteDownloadUrl(headUrl) : headUrl;
    task.m_savePath = result.m_headImagePath;
    task.m_tag = KWFilePathUtils::BaseName(result.m_headImagePath);
    task.m_value = VLDownloadTask::kValuePicture;
    task.m_receiver = receiver;
    downloads.push_back(task);
}

void VLServerApi::ParseStudentLoginRsp(const std::string& text, VLStudentLoginResult& result,
                                       const Clock& now) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParseStudentLoginRsp()");
    KWJsonValue root;
    if (!ReadEnvelope(text, root, result.m_code) || result.m_code != 0)
        return;
    const KWJsonValue& data = DataOf(root);
    if (!data.isObject())
        return;
    ReadInt(data, "code", result.m_code);
    ReadText(data, "msg", result.m_msg);
    ReadInt(data, "exam_state", result.m_examState);
    // Record ids pass 32 bits on a platform that has run for a while: read all 64.
    if (data["record_id"].isString())
        result.m_recordId = KWStringUtils::ConvertStringToInt64(data["record_id"].asString());
    ReadInt64(data, "student_id", result.m_studentId);
    ReadInt(data, "time_type", result.m_timeType);
    if (data["time_limit"].isInt64()) {
        int64_t t = now ? now() : static_cast<int64_t>(std::time(nullptr));
        // An absurd limit saturates instead of wrapping round into the past.
        if (__builtin_add_overflow(t, data["time_limit"].asInt64(), &result.m_deadline))
            result.m_deadline = data["time_limit"].asInt64() > 0 ? INT64_MAX : INT64_MIN;
    }
    ReadText(data, "school_address", result.m_schoolAddress);
    ReadText(data, "school_name", result.m_schoolName);
    ReadText(data, "classroom_name", result.m_classroomName);
    ReadText(data, "paper_name", result.m_paperName);
    ReadText(data, "teacher_name", result.m_teacherName);
    ReadText(data, "instrument", result.m_instrument);
}

void VLServerApi::ParseExamStateRsp(const std::string& text, VLExamStateResult& result) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParseExamStateRsp()");
    KWJsonValue root;
    if (!ReadEnvelope(text, root, result.m_code) || result.m_code != 0)
        return;
    ReadInt(DataOf(root), "exam_state", result.m_examState);
}

void VLServerApi::ParseExamResultRsp(const std::string& text, VLExamResultResult& result) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParseExamResultRsp()");
    KWJsonValue root;
    ReadEnvelope(text, root, result.m_code);
}

void VLServerApi::ParseExamResultSignalRsp(const std::string& text, VLExamResultResult& result) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParseExamResultSignalRsp()");
    KWJsonValue root;
    if (!ReadEnvelope(text, root, result.m_code))
        return;
    const KWJsonValue& data = DataOf(root);
    ReadInt(data, "score", result.m_score);
    // The score's own message is the more precise one; the envelope's is the fallback.
    ReadText(root, "msg", result.m_msg);
    ReadText(data, "msg", result.m_msg);
}

void VLServerApi::ParsesExamScoreRsp(const std::string& text, VLExamScoreResult& result) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParsesExamScoreRsp()");
    KWJsonValue root;
    if (!ReadEnvelope(text, root, result.m_code))
        return;
    ReadText(root, "msg", result.m_msg);
    const KWJsonValue& data = DataOf(root);
    ReadInt(data, "state", result.m_state);
    ReadText(data, "score", result.m_score);
}

void VLServerApi::ParseUpdateCheckRsp(const std::string& text, const std::string& clientVersion,
                                      VLUpdateCheckResult& result) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParseUpdateCheckRsp()");
    KWJsonValue root;
    if (!ReadEnvelope(text, root, result.m_code) || result.m_code != 0)
        return;
    const KWJsonValue& data = DataOf(root);
    ReadText(data, "number", result.m_versionNumber);
    if (!result.m_versionNumber.empty() &&
        KWVersionUtils::VersionCompare(result.m_versionNumber, clientVersion) > 0) {
        result.m_updateAvailable = true;
        ReadText(data, "url", result.m_downloadUrl);
    }
}

void VLServerApi::ParseLogUploadRsp(const std::string& text, VLLogUploadResult& result) {
    VL_LOG_DEBUG("VLHttpRequestManager::ParseLogUploadRsp()");
    KWJsonValue root;
    ReadEnvelope(text, root, result.m_code);
}

}  // namespace KwLib
