#pragma once
#include <string>

namespace KwLib {

// Conversions between UTF-8 and code points. Text is UTF-8 everywhere, so the
// old wide/narrow conversions are not needed; what remains is counting and
// cutting by character and repairing text that arrives from outside.
class KWStringConvert {
public:
    // Invalid sequences become U+FFFD.
    static std::u32string Utf8ToUtf32(const std::string& s);
    static std::string Utf32ToUtf8(const std::u32string& s);
    static std::string CodePointToUtf8(char32_t cp);

    static size_t CodePointCount(const std::string& s);
    // The first `count` characters, never splitting one.
    static std::string CutToCodePoints(const std::string& s, size_t count);
    static bool IsValidUtf8(const std::string& s);
    // Returns the text with invalid sequences replaced by U+FFFD.
    static std::string SanitizeUtf8(const std::string& s);
    // Full-width forms U+FF01..U+FF5E become ASCII, the ideographic space is dropped.
    static std::string FullWidthToAscii(const std::string& s);
};

}  // namespace KwLib
