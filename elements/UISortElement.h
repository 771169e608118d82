#pragma once
// UISortElement: the ordering question (type 13). A row of numbered empty
// slots (id 2066) stands above a row of the question's pictures (id 2065, user
// data = the picture's document position + 1, in the record's shuffled
// order). The student drags pictures into slots; a placed picture leaves an
// empty frame behind. A double-click on a filled slot takes its picture back,
// "重置" (2057) takes all of them back. Every picture, and every filled slot,
// has a zoom button (2055, the path as user data) for the window to open.
//
// The answer is the slots' contents in slot order, "-1" for an empty slot:
// "3,-1,1" has document picture 3 in slot 1 and picture 1 in slot 3.
// UI thread only.
#include <vector>

#include "elements/UIPlacementBoard.h"
#include "elements/UIQuestionElement.h"

namespace KwLib {

class UIButton;
class UIHorizontalLayout;

class UISortElement : public UIQuestionElement {
public:
    static constexpr int kPictureId = 2065;
    static constexpr int kSlotId = 2066;
    static constexpr int kBoxSize = 105;
    static constexpr UIColor kFrameColor = 0xFFCACACA;
    static constexpr const char* kPlacedToolTip = "双击撤销答案";

    std::string GetClass() const override { return "SortElement"; }

    void AddContent() override;
    std::string GetAnswer() override;
    // Places the pictures the answer names into their slots, as drops would;
    // nothing unless it has one entry per slot.
    void SetAnswer(const std::string& answer) override;
    // The buttons follow; the element ignores the mouse while disabled.
    void SetEnabled(bool enabled = true) override;

    void DoPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void OnLButtonDown(UIPoint pt) override;
    void OnMouseMove(UIPoint pt) override;
    void OnLButtonUp(UIPoint pt) override;
    void OnLButtonDblClk(UIPoint pt) override;

    // Slots and pictures in their rows' order.
    const std::vector<UIContainer*>& GetSlots() const { return m_slots; }
    const std::vector<UIContainer*>& GetPictures() const { return m_pictures; }

private:
    UIContainer* CreateBox(int id);
    // 1 for the first slot.
    int SlotNumber(const UIControl* slot) const;
    // What picture `picture` shows while it is not placed.
    std::string PictureImage(const UIControl* picture) const;

    UIHorizontalLayout* m_slotRow = nullptr;
    UIHorizontalLayout* m_pictureRow = nullptr;
    std::vector<UIContainer*> m_slots;
    std::vector<UIContainer*> m_pictures;
    // Pictures in slots, and the drag.
    UIPlacementBoard m_board;
    UIButton* m_undoButton = nullptr;
    UIButton* m_resetButton = nullptr;
};

}  // namespace KwLib
