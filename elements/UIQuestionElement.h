#pragma once
// UIQuestionElement: the base of every question element. An element shows one
// question record: the stem (number, text, pictures) at the top and the answer
// area its class builds below it. It turns what the student does into an answer
// string and restores a saved one. Elements know nothing of the main window:
// the window hands them a record and reads their answer.
//
// The window creates an element with CreateQuestionElement, binds it to its
// paint manager, calls InitQuestion and SetAnswer, and adds it to the question
// area (AddsToAreaFirst says in which order). UI thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/UILayout.h"

namespace KwLib {

class VLQuestionBase;

class UIQuestionElement : public UIVerticalLayout {
public:
    // Width of the stem's text and pictures.
    static constexpr int kContentWidth = 684;

    UIQuestionElement() = default;
    ~UIQuestionElement() override;
    std::string GetClass() const override { return "QuestionElement"; }

    // Binds the record (not owned) and builds the stem and the answer area.
    // Once, after the element was given the window's paint manager.
    void InitQuestion(VLQuestionBase* question);
    VLQuestionBase* GetQuestion() const { return m_question; }

    // Fills m_stem from the record; nothing without a record.
    virtual void BuildStem();
    // The answer string of the current state.
    virtual std::string GetAnswer() = 0;
    // Restores the state from an answer string; an empty string leaves it untouched.
    virtual void SetAnswer(const std::string& answer) = 0;
    // Builds the answer area into m_stem, after the question body.
    virtual void AddContent() {}
    void SetEnabled(bool enabled = true) override;

    // Elements that run something of their own in the answering phase (the
    // rhythm element's track) start it here and return how long its count-in
    // lasts in ms; the others return 0.
    virtual uint32_t StartActivity(VLQuestionBase* question) {
        (void)question;
        return 0;
    }
    // Stops what StartActivity started; called whenever the question is left.
    virtual void StopActivity() {}

    // Height in pixels of a text label kContentWidth wide holding `text` in `font`.
    int CalcTextHeight(const std::string& font, const std::string& text);

protected:
    VLQuestionBase* m_question = nullptr;  // not owned
    UIVerticalLayout* m_stem = nullptr;    // owned by the control tree
    std::string m_defaultAnswer;
};

// The element class of a question type, or nullptr for a type without one.
std::unique_ptr<UIQuestionElement> CreateQuestionElement(int type);

// True for the types whose element joins the question area before it is bound
// to the paint manager and built (the drawing elements measure their place).
bool AddsToAreaFirst(int type);

}  // namespace KwLib
