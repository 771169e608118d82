#include "platform/ui/UIDefines.h"

#include <cstdlib>
#include <sstream>

#include "platform/common/KWStringUtils.h"

namespace KwLib {

uint32_t ParseTextAlign(const std::string& text) {
    uint32_t flags = 0;
    std::istringstream in(KWStringUtils::MakeLower(text));
    std::string word;
    while (in >> word) {
        if (word == "center" || word == "hcenter")
            flags |= DT_CENTER;
        else if (word == "right")
            flags |= DT_RIGHT;
        else if (word == "vcen" || word == "vcenter")
            flags |= DT_VCENTER;
        else if (word == "bottom")
            flags |= DT_BOTTOM;
        else if (word == "singleline")
            flags |= DT_SINGLELINE;
        else if (word == "wordbreak" || word == "wrap")
            flags |= DT_WORDBREAK;
        else if (word == "endellipsis")
            flags |= DT_END_ELLIPSIS;
        else if (word == "noprefix")
            flags |= DT_NOPREFIX;
        // "left" and "top" are the zero defaults.
    }
    return flags;
}

bool ParseColor(const std::string& raw, UIColor& out) {
    std::string s = KWStringUtils::Trim(raw);
    if (!s.empty() && s[0] == '#')
        s = s.substr(1);
    else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s = s.substr(2);
    if (s.empty() || s.size() > 8)
        return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(s.c_str(), &end, 16);
    if (*end != '\0')
        return false;
    out = static_cast<UIColor>(v);
    if (s.size() <= 6)
        out |= 0xFF000000u;
    return true;
}

UIRect ParseRect(const std::string& text) {
    int v[4] = {0, 0, 0, 0};
    const char* p = text.c_str();
    for (int i = 0; i < 4 && *p; ++i) {
        char* end = nullptr;
        v[i] = static_cast<int>(std::strtol(p, &end, 10));
        if (end == p)
            break;
        p = end;
        while (*p == ',' || *p == ' ')
            ++p;
    }
    return ClampRect({v[0], v[1], v[2], v[3]});
}

UISize ParseSize(const std::string& text) {
    UIRect r = ParseRect(text);
    return {r.left, r.top};
}

}  // namespace KwLib
