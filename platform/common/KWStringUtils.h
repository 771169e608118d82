#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform/common/KWTypes.h"

namespace KwLib {

// String helpers over UTF-8 text. Case-insensitive operations fold ASCII only,
// which is what every key, extension and protocol token here needs.
class KWStringUtils {
public:
    static std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
    static std::string FormatV(const char* fmt, va_list args);

    static std::string Trim(const std::string& s, const char* chars = " \t\r\n");
    static std::string TrimLeft(const std::string& s, const char* chars = " \t\r\n");
    static std::string TrimRight(const std::string& s, const char* chars = " \t\r\n");
    // Replaces every occurrence of `from`; returns the number of replacements.
    static int Replace(std::string& s, const std::string& from, const std::string& to);
    static std::string MakeLower(const std::string& s);
    static std::string MakeUpper(const std::string& s);

    static int Compare(const std::string& a, const std::string& b);
    static int CompareNoCase(const std::string& a, const std::string& b);
    static bool BeginWithNoCase(const std::string& s, const std::string& prefix);
    static bool EndWithNoCase(const std::string& s, const std::string& suffix);
    // Byte offset of the first match ignoring case, or std::string::npos.
    static size_t FindNoCase(const std::string& s, const std::string& what, size_t from = 0);

    // Left, Mid and GetSubStr count Unicode code points, never cutting a character.
    static std::string Left(const std::string& s, size_t count);
    static std::string Mid(const std::string& s, size_t first, size_t count = std::string::npos);
    // The text between `begin` and `end` markers (exclusive), empty when either is missing.
    static std::string GetSubStr(const std::string& s, const std::string& begin, const std::string& end);

    // Leading whitespace, an optional sign and decimal digits; anything after is
    // ignored and no digits give 0 (the classic atoi rule, without overflow).
    static int32_t ConvertStringToInt32(const std::string& s);
    static int64_t ConvertStringToInt64(const std::string& s);
    static double ConvertStringToDouble(const std::string& s);
    static std::string ConvertInt32ToString(int32_t v);
    static std::string ConvertInt64ToString(int64_t v);
};

}  // namespace KwLib
