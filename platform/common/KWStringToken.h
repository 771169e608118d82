#pragma once
#include <string>
#include <vector>

namespace KwLib {

class KWStringToken {
public:
    // Splits at any character of `delimiters`; empty parts are dropped.
    static void StringToken(const std::string& text, const std::string& delimiters,
                            std::vector<std::string>& parts);
    // Splits at every occurrence of the whole `delimiter` text. Empty parts are
    // dropped unless `keepEmpty` is set.
    static void StringToArray(const std::string& text, const std::string& delimiter,
                              std::vector<std::string>& parts, bool keepEmpty = false);
};

}  // namespace KwLib
