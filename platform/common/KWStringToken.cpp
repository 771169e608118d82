#include "platform/common/KWStringToken.h"

namespace KwLib {

void KWStringToken::StringToken(const std::string& text, const std::string& delimiters,
                                std::vector<std::string>& parts) {
    parts.clear();
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t next = text.find_first_of(delimiters, pos);
        if (next == std::string::npos)
            next = text.size();
        if (next > pos)
            parts.push_back(text.substr(pos, next - pos));
        pos = next + 1;
    }
}

void KWStringToken::StringToArray(const std::string& text, const std::string& delimiter,
                                  std::vector<std::string>& parts, bool keepEmpty) {
    parts.clear();
    if (delimiter.empty()) {
        if (keepEmpty || !text.empty())
            parts.push_back(text);
        return;
    }
    size_t pos = 0;
    while (true) {
        size_t next = text.find(delimiter, pos);
        std::string part = text.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        if (keepEmpty || !part.empty())
            parts.push_back(part);
        if (next == std::string::npos)
            break;
        pos = next + delimiter.size();
    }
}

}  // namespace KwLib
