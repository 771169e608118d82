// The element class of each question type.
#include "elements/UIChoiceElement.h"
#include "elements/UIQuestionElement.h"
#include "elements/UIRhythmElement.h"
#include "elements/UISingElement.h"
#include "exam/VLQuestion.h"

namespace KwLib {

std::unique_ptr<UIQuestionElement> CreateQuestionElement(int type) {
    switch (type) {
        case kQuestionSingleChoice:
        case kQuestionMultiChoice:
        case kQuestionJudge:
            return std::make_unique<UIChoiceElement>();
        case kQuestionSing:
        case kQuestionPitchImitation:
        case kQuestionCooperativeSing:
        case kQuestionDuet:
        case kQuestionAccompaniedSing:
            return std::make_unique<UISingElement>();
        case kQuestionRhythm:
        case kQuestionRhythmImitation:
            return std::make_unique<UIRhythmElement>();
        default:
            // FIXME: connection, sort, jigsaw, dot-line and colouring
            // elements are not written yet. The instrument type (12) has none.
            return nullptr;
    }
}

bool AddsToAreaFirst(int type) {
    switch (type) {
        case kQuestionRhythm:
        case kQuestionRhythmImitation:
        case kQuestionConnection:
        case kQuestionSort:
        case kQuestionJigsaw:
        case kQuestionDotLine:
        case kQuestionColouring:
            return true;
        default:
            return false;
    }
}

}  // namespace KwLib
