#include "platform/common/KWStringConvert.h"

namespace KwLib {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i]; advances i. Overlong forms, surrogates and
// values past U+10FFFF are invalid.
char32_t DecodeOne(const std::string& s, size_t& i, bool& valid) {
    valid = true;
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    size_t len;
    char32_t cp;
    char32_t min;
    if ((c >> 5) == 0x6) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c >> 4) == 0xE) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c >> 3) == 0x1E) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        ++i;
        valid = false;
        return kReplacement;
    }
    if (i + len > s.size()) {
        ++i;
        valid = false;
        return kReplacement;
    }
    for (size_t k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc >> 6) != 0x2) {
            ++i;
            valid = false;
            return kReplacement;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        i += len;
        valid = false;
        return kReplacement;
    }
    i += len;
    return cp;
}
}  // namespace

std::string KWStringConvert::CodePointToUtf8(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp <= 0x10FFFF) {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        return CodePointToUtf8(kReplacement);
    }
    return out;
}

std::u32string KWStringConvert::Utf8ToUtf32(const std::string& s) {
    std::u32string out;
    out.reserve(s.size());
    bool valid;
    for (size_t i = 0; i < s.size();)
        out += DecodeOne(s, i, valid);
    return out;
}

std::string KWStringConvert::Utf32ToUtf8(const std::u32string& s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t cp : s)
        out += CodePointToUtf8(cp);
    return out;
}

size_t KWStringConvert::CodePointCount(const std::string& s) {
    size_t n = 0;
    bool valid;
    for (size_t i = 0; i < s.size(); ++n)
        DecodeOne(s, i, valid);
    return n;
}

std::string KWStringConvert::CutToCodePoints(const std::string& s, size_t count) {
    size_t i = 0;
    bool valid;
    for (size_t n = 0; i < s.size() && n < count; ++n)
        DecodeOne(s, i, valid);
    return s.substr(0, i);
}

bool KWStringConvert::IsValidUtf8(const std::string& s) {
    bool valid;
    for (size_t i = 0; i < s.size();) {
        DecodeOne(s, i, valid);
        if (!valid)
            return false;
    }
    return true;
}

std::string KWStringConvert::SanitizeUtf8(const std::string& s) {
    if (IsValidUtf8(s))
        return s;
    return Utf32ToUtf8(Utf8ToUtf32(s));
}

std::string KWStringConvert::FullWidthToAscii(const std::string& s) {
    std::u32string in = Utf8ToUtf32(s);
    std::u32string out;
    out.reserve(in.size());
    for (char32_t cp : in) {
        if (cp == 0x3000)
            continue;
        if (cp >= 0xFF01 && cp <= 0xFF5E)
            cp = cp - 0xFF01 + 0x21;
        out += cp;
    }
    return Utf32ToUtf8(out);
}

}  // namespace KwLib
