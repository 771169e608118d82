#include "platform/common/KWStringUtils.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/common/KWStringConvert.h"

namespace KwLib {

namespace {
char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Byte offset of the code point with index `cp`, or s.size() when past the end.
// Counts exactly as KWStringConvert does, so that a stray byte in malformed text
// is one character everywhere and never swallows the character after it.
size_t OffsetOfCodePoint(const std::string& s, size_t cp) {
    return KWStringConvert::CutToCodePoints(s, cp).size();
}

int64_t ParseLeadingInteger(const std::string& s, int64_t minValue, int64_t maxValue) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that the minimum value fits.
    int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        int digit = s[i] - '0';
        if (value < (INT64_MIN + digit) / 10) {
            value = INT64_MIN;
            for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
            }
            break;
        }
        value = value * 10 - digit;
    }
    if (!negative)
        value = value == INT64_MIN ? INT64_MAX : -value;
    return std::clamp(value, minValue, maxValue);
}
}  // namespace

std::string KWStringUtils::FormatV(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string KWStringUtils::Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string out = FormatV(fmt, args);
    va_end(args);
    return out;
}

std::string KWStringUtils::TrimLeft(const std::string& s, const char* chars) {
    size_t b = s.find_first_not_of(chars);
    return b == std::string::npos ? std::string() : s.substr(b);
}

std::string KWStringUtils::TrimRight(const std::string& s, const char* chars) {
    size_t e = s.find_last_not_of(chars);
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

std::string KWStringUtils::Trim(const std::string& s, const char* chars) {
    return TrimRight(TrimLeft(s, chars), chars);
}

int KWStringUtils::Replace(std::string& s, const std::string& from, const std::string& to) {
    if (from.empty())
        return 0;
    int count = 0;
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
        ++count;
    }
    return count;
}

std::string KWStringUtils::MakeLower(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
    return out;
}

std::string KWStringUtils::MakeUpper(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(), UpperAscii);
    return out;
}

int KWStringUtils::Compare(const std::string& a, const std::string& b) {
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int KWStringUtils::CompareNoCase(const std::string& a, const std::string& b) {
    return Compare(MakeLower(a), MakeLower(b));
}

bool KWStringUtils::BeginWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && CompareNoCase(s.substr(0, prefix.size()), prefix) == 0;
}

bool KWStringUtils::EndWithNoCase(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && CompareNoCase(s.substr(s.size() - suffix.size()), suffix) == 0;
}

size_t KWStringUtils::FindNoCase(const std::string& s, const std::string& what, size_t from) {
    return MakeLower(s).find(MakeLower(what), from);
}

std::string KWStringUtils::Left(const std::string& s, size_t count) {
    return s.substr(0, OffsetOfCodePoint(s, count));
}

std::string KWStringUtils::Mid(const std::string& s, size_t first, size_t count) {
    size_t b = OffsetOfCodePoint(s, first);
    if (count == std::string::npos)
        return s.substr(b);
    std::string rest = s.substr(b);
    return rest.substr(0, OffsetOfCodePoint(rest, count));
}

std::string KWStringUtils::GetSubStr(const std::string& s, const std::string& begin, const std::string& end) {
    size_t b = s.find(begin);
    if (b == std::string::npos)
        return std::string();
    b += begin.size();
    size_t e = s.find(end, b);
    if (e == std::string::npos)
        return std::string();
    return s.substr(b, e - b);
}

int32_t KWStringUtils::ConvertStringToInt32(const std::string& s) {
    return static_cast<int32_t>(ParseLeadingInteger(s, INT32_MIN, INT32_MAX));
}

int64_t KWStringUtils::ConvertStringToInt64(const std::string& s) {
    return ParseLeadingInteger(s, INT64_MIN, INT64_MAX);
}

double KWStringUtils::ConvertStringToDouble(const std::string& s) {
    // strtod follows the locale; the program never changes LC_NUMERIC, so "." is the separator.
    const char* p = s.c_str();
    char* end = nullptr;
    double v = std::strtod(p, &end);
    return end == p ? 0.0 : v;
}

std::string KWStringUtils::ConvertInt32ToString(int32_t v) {
    return std::to_string(v);
}
std::string KWStringUtils::ConvertInt64ToString(int64_t v) {
    return std::to_string(v);
}

}  // namespace KwLib
