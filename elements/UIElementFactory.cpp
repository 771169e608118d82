// The element class of each question type.
#include "elements/UIChoiceElement.h"
#include "elements/UIConnectionElement.h"
#include "elements/UIDianXianElement.h"
#include "elements/UIPinTuElement.h"
#include "elements/UIQuestionElement.h"
#include "elements/UIRhythmElement.h"
#include "elements/UISingElement.h"
#include "elements/UISortElement.h"
#include "elements/UITianSeElement.h"
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
        case kQuestionConnection:
            return std::make_unique<UIConnectionElement>();
        case kQuestionSort:
            return std::make_unique<UISortElement>();
        case kQuestionJigsaw:
            return std::make_unique<UIPinTuElement>();
        case kQuestionDotLine:
            return std::make_unique<UIDianXianElement>();
        case kQuestionColouring:
            return std::make_unique<UITianSeElement>();
        default:
            // The instrument type (12) has no element.
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
