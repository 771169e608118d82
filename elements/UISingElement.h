#pragma once
// UISingElement: the element of the singing questions (types 3 to 7). Below
// the stem it shows the score, numbered or staff notation; when the question
// has both, a button (id 2061) switches between them. Singing is answered
// with a recording the window makes, so the element's answer string is empty.
// The choice and rhythm elements derive from it for the score display.
//
// The score block (id 2062) carries the picture's path as user data and
// reports double-clicks; a score wider than the stem is shrunk and gets a zoom
// button (id 2055). Opening the picture is the window's business.
// UI thread only.
#include "elements/UIQuestionElement.h"

namespace KwLib {

class UIButton;

class UISingElement : public UIQuestionElement {
public:
    static constexpr int kNotationButtonId = 2061;
    static constexpr int kScoreBlockId = 2062;
    static constexpr int kNotationButtonRes = 1036;   // 98 x 96: normal, hot, pushed stacked
    static constexpr int kToStaffStringId = 1002;     // "切换到五线谱"
    static constexpr int kToNumberedStringId = 1003;  // "切换到简谱"
    static constexpr int kScoreWidth = 678;

    std::string GetClass() const override { return "SingElement"; }

    // Builds the score display into the stem.
    void AddContent() override;
    // Singing answers are recordings, not strings: always empty.
    std::string GetAnswer() override { return std::string(); }
    // Nothing to restore.
    void SetAnswer(const std::string& answer) override { (void)answer; }
    // A release over the enabled notation button switches the notation.
    void OnLButtonUp(UIPoint pt) override;

    // True while the staff notation is shown (false: numbered notation).
    bool IsStaffShown() const { return m_staffShown; }

protected:
    // Shows the other notation and names the one the button now leads to.
    void SwitchNotation();
    // The score block of one picture, shrunk to the stem's width when wider.
    UIContainer* CreateScoreBlock(const std::string& path);

    bool m_staffShown = false;
    UIButton* m_notationButton = nullptr;  // owned by m_stem; only with both notations
    UIContainer* m_scoreBlock = nullptr;   // owned by m_stem
};

}  // namespace KwLib
