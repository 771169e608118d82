#include "app/core/VLAppState.h"

#include <vector>

#include "platform/common/KWFile.h"
#include "platform/common/KWStringConvert.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"

namespace KwLib {

VLAppState& VLAppState::Get() {
    static VLAppState state;
    return state;
}

std::string GetClientVersion() {
    return KWStringUtils::Format("%d.%d.%d.%d", 1, 7, 1, 1393);
}

int32_t DecideRunMode(bool hasRole, const std::string& roleValue, bool inner) {
    if (!hasRole || roleValue.empty())
        return inner ? 4 : 3;
    if (KWStringUtils::ConvertStringToInt32(roleValue) == 3)
        return inner ? 6 : 5;
    return 0;
}

bool IsInnerRunMode(int32_t runMode) {
    return runMode == 2 || runMode == 4 || runMode == 6;
}

bool IsInnerPlatformText(const std::string& text) {
    std::vector<std::string> lines;
    KWStringToken::StringToArray(text, "\n", lines);
    std::string last;
    for (const auto& raw : lines) {
        // A file saved with CRLF line ends must read the same as one with LF.
        std::string line = KWStringUtils::TrimRight(raw, "\r");
        if (line.empty() || line[0] == '#')
            continue;
        last = line;
    }
    return KWStringUtils::CompareNoCase(last, "inner") == 0;
}

bool IsInnerPlatform(const std::string& path) {
    auto text = KWFile::ReadAll(path);
    return text && IsInnerPlatformText(*text);
}

VLQuestionFontSizes QuestionFontSizes(int quesFont) {
    if (quesFont == 0 || quesFont == 16)
        return {16, 14, 18};
    return {quesFont, quesFont, quesFont};
}

std::string BuildUserAgent() {
    std::string name;
    int major = 0, minor = 0;
    KWSystemInfo::GetWindowsVersion(name, major, minor);
    return FormatUserAgent(major, minor, GetClientVersion());
}

std::string FormatUserAgent(int major, int minor, const std::string& version) {
    const std::string ua = KWStringUtils::Format(
        "Mozilla/5.0 (Windows NT %d.%d; WOW64) AppleWebKit/537.1 (KHTML, like Gecko) Chrome/21.0.1180.91 "
        "Safari/537.1 /VL %s",
        major, minor, version.c_str());
    return KWStringConvert::CutToCodePoints(ua, kUserAgentMaxChars);
}

}  // namespace KwLib
