#pragma once
#include <cstdint>

#include "platform/common/KWMessage.h"

namespace KwLib {

// Messages the network workers post to their receivers. A heap payload in
// wParam or lParam belongs to the receiver, which deletes it after handling.
enum : uint32_t {
    WM_DOWNLOAD_FAILED = WM_USER + 2,            // wParam: VLDownloadTask*
    WM_DOWNLOAD_DONE = WM_USER + 3,              // wParam: VLDownloadTask*
    WM_DOWNLOAD_PROGRESS = WM_USER + 4,          // wParam: percent
    WM_UPLOAD_DONE = WM_USER + 5,                // wParam: VLUploadTask* with its result
    WM_UPLOAD_FAILED = WM_USER + 6,              // wParam: VLUploadTask*
    WM_UPLOAD_PROGRESS = WM_USER + 7,            // wParam: VLUploadTask*, lParam: percent
    WM_HTTP_FAILED = WM_USER + 28,               // wParam: request id, lParam: libcurl code
    WM_SERVER_CFG_RSP = WM_USER + 29,            // wParam: VLServerCfgResult*
    WM_INFORMATION_CHECK_RSP = WM_USER + 37,     // wParam: VLStudentInfoResult*
    WM_STUDENT_LOGIN_RSP = WM_USER + 38,         // wParam: VLStudentLoginResult*
    WM_EXAM_QUESTION_RSP = WM_USER + 39,         // wParam: result code, lParam: VLQuestionList*
    WM_EXAM_QUESTION_SIGNAL_RSP = WM_USER + 40,  // wParam: result code, lParam: VLQuestionList*
    WM_EXAM_STATE_RSP = WM_USER + 41,            // wParam: VLExamStateResult*
    WM_EXAM_RESULT_RSP = WM_USER + 42,           // wParam: VLExamResultResult*
    WM_EXAM_RESULT_SIGNAL_RSP = WM_USER + 43,    // wParam: VLExamResultResult*
    WM_UPDATE_CHECK_RSP = WM_USER + 45,          // wParam: VLUpdateCheckResult*
    WM_LOG_UPLOAD_RSP = WM_USER + 47,            // wParam: VLLogUploadResult*
    WM_EXAM_SCORE_RSP = WM_USER + 49,            // wParam: VLExamScoreResult*
    WM_AGENT_RELAY_RSP = WM_USER + 50,
};

}  // namespace KwLib
