#pragma once
// UIDianXianElement: the dot-line question (type 15). Below the stem, the
// drawing surface (UIDianXianControl, 600 x 400) with the question's picture
// and its displaced segments, and under it "撤消" (2056), which takes the last
// drag or reset back, and "重置" (2057), which displaces every segment anew and
// empties the answer. The answer is the surface's.
// UI thread only.
#include "elements/UIQuestionElement.h"

namespace KwLib {

class UIButton;
class UIDianXianControl;

class UIDianXianElement : public UIQuestionElement {
public:
    std::string GetClass() const override { return "DianXianElement"; }

    void AddContent() override;
    std::string GetAnswer() override;
    void SetAnswer(const std::string& answer) override;
    // The surface and the buttons follow.
    void SetEnabled(bool enabled = true) override;
    // The buttons act on the press.
    void OnLButtonDown(UIPoint pt) override;

    UIDianXianControl* GetSurface() const { return m_surface; }

private:
    UIDianXianControl* m_surface = nullptr;  // owned by the control tree
    UIButton* m_undoButton = nullptr;
    UIButton* m_resetButton = nullptr;
};

}  // namespace KwLib
