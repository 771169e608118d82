#pragma once
#include <cstdint>
#include <string>

namespace KwLib {

// The platform's answer to the student's sign-in, kept for the whole exam.
struct VLSignInRecord {
    int32_t code = -1;
    std::string msg;
    int32_t examState = 0;
    int64_t recordId = 0;
    int64_t studentId = 0;
    int32_t timeType = 0;
    int64_t deadline = 0;  // seconds since 1970
    std::string schoolName;
    std::string schoolAddress;
    std::string classroomName;
    std::string paperName;
    std::string teacherName;
    std::string instrument;
};

// Process-wide facts fixed at start-up, read by every folder. Only the UI
// thread writes them. The run mode never changes after start-up; the server
// fields are filled from the platform's answers.
struct VLAppState {
    int32_t runMode = 0;  // 0, 3, 4, 5 or 6
    bool isInner = false;
    VLSignInRecord signIn;
    // From the server configuration: its code and the rhythm questions' tolerance in ms.
    int32_t serverCfgCode = -1;
    int32_t rhythmDeviation = 100;

    static VLAppState& Get();
};

constexpr const char* kClientVersion = "1.7.1.1393";

// "1.7.1.1393", built as the version is everywhere else in the system.
std::string GetClientVersion();

// 3 or 4 (inner) without "-role"; 5 or 6 (inner) for "-role" 3; 0 for any other value.
int32_t DecideRunMode(bool hasRole, const std::string& roleValue, bool inner);
// Whether a run mode belongs to the inner edition (2, 4 and 6).
bool IsInnerRunMode(int32_t runMode);

// The inner decision for a platform.txt file: the last line that does not begin
// with "#" equals "inner" ignoring case. Missing or empty file: false.
bool IsInnerPlatform(const std::string& path);
bool IsInnerPlatformText(const std::string& text);

// Point sizes of the question fonts "CustomFont16", "CustomFont14" and
// "CustomFont18", in that order, for the configured ("FONT","QuesFont").
struct VLQuestionFontSizes {
    int font16, font14, font18;
};
VLQuestionFontSizes QuestionFontSizes(int quesFont);
constexpr const char* kQuestionFontFace = "微软雅黑";

// "Mozilla/5.0 (Windows NT %d.%d; ...) /VL <version>" with the system's release numbers.
std::string BuildUserAgent();
// The same text for given numbers and version, cut to kUserAgentMaxChars
// characters (it once filled a 512-character buffer), never inside one.
std::string FormatUserAgent(int major, int minor, const std::string& version);
constexpr size_t kUserAgentMaxChars = 511;

}  // namespace KwLib
