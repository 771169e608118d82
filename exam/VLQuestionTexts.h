#pragma once
#include <string>

namespace KwLib {

// Texts that belong to a question type code. Papers marked new use the new set,
// older papers the old set; the old set ends at code 11 and yields empty text past it.
class VLQuestionTexts {
public:
    static std::string GetTypeName(int code, bool newSet);
    static std::string GetPromptFile(int code, bool newSet);
    static std::string GetInstruction(int code, bool newSet);

    // The score line under a question's title, filled with the group's score and total.
    static constexpr const char* kScoreTextFormat = "每题%s分，共计%s分";
};

}  // namespace KwLib
