#pragma once
#include <string>

namespace KwLib {

class KWMD5Utils {
public:
    // The digest as 32 upper-case hexadecimal digits; callers that need lower
    // case say so with KWStringUtils::MakeLower.
    static std::string CalcuteMD5String(const std::string& bytes);
    static std::string CalcuteMD5String(const void* data, size_t size);
    // The digest of a whole file, empty when it cannot be read.
    static std::string CalcuteFileMD5String(const std::string& path);
};

}  // namespace KwLib
