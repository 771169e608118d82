#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "exam/VLDownloadTask.h"

namespace KwLib {

// Result records of the platform API. The request worker creates them on the
// heap and posts them; the receiver owns and deletes them.
struct VLServerCfgResult {
    int32_t m_code = -1;
    int32_t m_rhythmDeviation = 100;
};

struct VLStudentInfoResult {
    int32_t m_code = -1;
    int32_t m_number = 1;
    std::string m_headImagePath;
    std::string m_studentName;
    std::string m_msg;
};

struct VLStudentLoginResult {
    int32_t m_code = -1;
    int32_t m_examState = 0;
    int64_t m_recordId = 0;
    int64_t m_studentId = 0;
    int32_t m_timeType = 0;
    int64_t m_deadline = 0;  // seconds since 1970
    std::string m_schoolName;
    std::string m_schoolAddress;
    std::string m_classroomName;
    std::string m_paperName;
    std::string m_teacherName;
    std::string m_instrument;
    std::string m_msg;
};

struct VLExamStateResult {
    int32_t m_code = -1;
    int32_t m_examState = 0;
};

struct VLExamResultResult {
    int32_t m_code = -1;
    int32_t m_score = 0;
    std::string m_msg;
};

struct VLUpdateCheckResult {
    int32_t m_code = -1;
    bool m_updateAvailable = false;
    std::string m_versionNumber;
    std::string m_downloadUrl;
};

struct VLLogUploadResult {
    int32_t m_code = -1;
};

struct VLExamScoreResult {
    int32_t m_code = -1;
    std::string m_msg;
    int32_t m_state = 0;
    std::string m_score;
};

// Posted with the two question responses (lParam): the records themselves are
// in VLExamManager already; this carries what the window still has to do.
struct VLQuestionList {
    int32_t m_questionCount = 0;
    std::vector<VLDownloadTask> m_downloads;  // files that are not on disk yet
};

// The parsers of the platform's responses. Each starts from the initial values
// of its record and reads a member only when it is present with the expected
// JSON type.
class VLServerApi {
public:
    using Clock = std::function<int64_t()>;  // seconds since 1970

    static void ParseServerCfgRsp(const std::string& text, VLServerCfgResult& result);
    // A head image that is not cached yet adds a task of kind 2 to `downloads`,
    // its URL passed through `rewriteDownloadUrl` (when given).
    static void ParseInformationCheckRsp(
        const std::string& text, VLStudentInfoResult& result, const std::string& downloadDir,
        const std::function<std::string(const std::string&)>& rewriteDownloadUrl,
        IKWMessageReceiver* receiver, std::vector<VLDownloadTask>& downloads);
    static void ParseStudentLoginRsp(const std::string& text, VLStudentLoginResult& result,
                                     const Clock& now = nullptr);
    static void ParseExamStateRsp(const std::string& text, VLExamStateResult& result);
    static void ParseExamResultRsp(const std::string& text, VLExamResultResult& result);
    static void ParseExamResultSignalRsp(const std::string& text, VLExamResultResult& result);
    static void ParsesExamScoreRsp(const std::string& text, VLExamScoreResult& result);
    static void ParseUpdateCheckRsp(const std::string& text, const std::string& clientVersion,
                                    VLUpdateCheckResult& result);
    static void ParseLogUploadRsp(const std::string& text, VLLogUploadResult& result);
};

}  // namespace KwLib
