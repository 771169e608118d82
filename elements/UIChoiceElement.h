#pragma once
// UIChoiceElement: single choice (type 1), multiple choice (type 2) and
// judgement (type 10). Below the stem and any score (UISingElement) it shows
// one option per option record, in the record's (shuffled) order, lettered A,
// B, C... by display position. An option is a text, a picture (id 2054 box
// inside it, zoom button 2055 when cut) or a sound (a UIVirtualMusicPlayer of
// width 270 beside it, toggle 2060, played by the window).
//
// Options are UIOption controls with id 2058 (single choice, judgement: radio
// group "2053") or 2059 (multiple choice: each toggles on its own). Every
// option is also in the paint manager's group "2053" or "2052"; the window
// clears the groups (RemoveAllGroups) before it builds the next element. Each
// option's user data is its record's document index in decimal; the answer is
// the selected options' indexes in display order, joined with ",".
//
// The check sprites (202 round, 1050 square) are strips of five 15 x 15 cells:
// normal, hot, selected, disabled, and selected while disabled, so that the
// student's answer stays visible outside the answering time. The check is
// centred on the option's height.
//
// Single and multiple choice of section 3 show no options. Pictures are laid
// out two per line when every option is a picture and each fits half the
// width. Clicking an option's picture selects the option; double-clicking it
// is reported by the box (kNotifyDblClick) for the window to open it.
// UI thread only.
#include <vector>

#include "elements/UISingElement.h"

namespace KwLib {

class UIHorizontalLayout;
class UIOption;
class VLChoiceQuestion;
struct VLQuestionOption;

class UIChoiceElement : public UISingElement {
public:
    static constexpr int kSingleOptionId = 2058;  // single choice and judgement
    static constexpr int kMultiOptionId = 2059;
    static constexpr const char* kRadioGroup = "2053";
    static constexpr const char* kMultiGroup = "2052";
    static constexpr int kRadioSpriteRes = 202;   // 75 x 15: five 15 x 15 cells
    static constexpr int kCheckSpriteRes = 1050;  // 75 x 15: five 15 x 15 cells
    static constexpr int kCheckSize = 15;
    static constexpr int kOptionTextIndent = 25;  // room for the check sprite
    static constexpr int kClipPlayerWidth = 270;
    static constexpr int kHalfWidth = kContentWidth / 2;

    std::string GetClass() const override { return "ChoiceElement"; }

    // The score display first, then the options.
    void AddContent() override;
    // Document indexes of the selected options in display order, e.g. "2,0";
    // empty when none is selected.
    std::string GetAnswer() override;
    // Selects every option whose document index is one of the comma-separated
    // tokens; an empty text changes nothing.
    void SetAnswer(const std::string& answer) override;
    // Enables or disables the options (greyed, not clickable); the element, its
    // score and its clip players stay as they are.
    void SetEnabled(bool enabled = true) override;

    // The option controls in display order.
    const std::vector<UIOption*>& GetOptions() const { return m_options; }
    // True when the options are laid out two per line.
    bool IsTwoPerLine() const { return m_twoPerLine; }

protected:
    struct Style {
        int optionId = kSingleOptionId;
        const char* radioGroup = "";  // empty: options toggle on their own
        const char* managerGroup = kRadioGroup;
        int spriteRes = kRadioSpriteRes;
        int maxPictureWidth = 645;  // before the letter is taken off
        bool letters = true;        // text options show "A. "
    };
    // The style of the bound question; false when it shows no options.
    bool GetStyle(Style& style) const;

    // One option row; `height` receives the row's height.
    UIHorizontalLayout* CreateOptionRow(const VLQuestionOption& record, const Style& style, int& height);
    // Adds the rows to the stem, one or two per line.
    void PlaceRows(const std::vector<std::pair<UIHorizontalLayout*, int>>& rows, bool twoPerLine);

    std::vector<UIOption*> m_options;  // owned by the control tree
    bool m_twoPerLine = false;
    // The letter column: width and height of "D. " in the option font.
    int m_letterWidth = 0;
    int m_letterHeight = 0;
};

}  // namespace KwLib
