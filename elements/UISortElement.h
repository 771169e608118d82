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
#include <utility>
#include <vector>

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
    // Moves a picture into an empty slot (the drop).
    void Place(UIContainer* picture, UIContainer* slot);
    // Gives a placed picture back to its place in the lower row.
    void Unplace(size_t placement);
    // 1 for the first slot.
    int SlotNumber(const UIContainer* slot) const;
    // Where the dragged picture's ghost is drawn.
    UIRect GhostRect() const;
    void EndDrag();

    UIContainer* m_dragFrom = nullptr;  // a picture, owned by the control tree
    UIPoint m_grabOffset;               // the press, from the picture's corner
    UIPoint m_mousePos;
    bool m_dragMoved = false;
    UIHorizontalLayout* m_slotRow = nullptr;
    UIHorizontalLayout* m_pictureRow = nullptr;
    std::vector<UIContainer*> m_slots;
    std::vector<UIContainer*> m_pictures;
    std::vector<std::pair<UIContainer*, UIContainer*>> m_placements;  // (picture, slot), oldest first
    UIButton* m_undoButton = nullptr;
    UIButton* m_resetButton = nullptr;
};

}  // namespace KwLib
