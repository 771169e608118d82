#pragma once
#include <cstdint>
#include <string>

namespace KwLib {

// One row of table User: a remembered student account.
struct VLUserInfo {
    int64_t UserId = 0;
    std::string UserName;
    std::string Password;
    int32_t SavePassword = 0;
    int32_t AutoLogin = 0;
    int32_t Used = 0;            // 1 on the row of the student who signed in last
    int64_t ClearTimestamp = 0;  // seconds since 1970: when the download cache was last cleared
};

// One row of table Authorisation: the school and classroom this PC belongs to.
struct VLClassroomBinding {
    std::string AuthKey;  // identifies the row
    std::string SchoolId;
    std::string SchoolName;
    std::string ClassId;
    std::string ClassName;
    std::string Addr;
    int32_t Used = 0;  // 1 on the binding in force
};

// One row of table ExamAnswer: the answer list of an exam under way.
struct VLExamAnswer {
    int64_t RecordId = 0;
    int64_t UserId = 0;
    std::string AnswerParam;
};

// One row of table SysUrl: printf-style URL templates of the platform's servers.
struct VLSysUrlInfo {
    std::string ProductName;
    std::string ClientVersionUrl;
    std::string StudentInfoUploadUrl;
    std::string StudentInfoConformUrl;
    std::string TeacherLoginUrl;
    std::string HomepageUrl;
    std::string ExamMonitorUrl;
    std::string StudentInfoDetailUrl;
    std::string VerificationCodeMsgUrl;
    std::string VerificationCodeCheckUrl;
    std::string PasswordResetUrl;
    std::string StudentLoginUrl;
    std::string ExamQuestionListUrl;
    std::string ExamQuestionUrl;
    std::string ExamStatusUrl;
    std::string ExamResultListUrl;
    std::string ExamResultUrl;
    std::string FileUploadUrl;
    std::string BugReportUrl;
    std::string ServerCfgUrl;
    std::string ShowResultUrl;
    std::string StatisticsUrl;
    std::string StudentHeardUrl;
    std::string WebLoginUrl;
    std::string ExamQuestionListByPIDUrl;
    std::string ExamScoreUrl;
};

// The scheme and host of each server that the SysUrl templates address.
struct VLSysUrlHosts {
    std::string api;            // API server
    std::string teacherWeb;     // teacher web site
    std::string upload;         // upload server
    std::string publicWeb;      // public web site
    std::string clientVersion;  // API server answering the update check
};

}  // namespace KwLib
