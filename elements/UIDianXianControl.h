#pragma once
// UIDianXianControl: the drawing surface of the dot-line element, 600 x 400
// pixels with the question's picture as background and the question's line
// segments drawn over it in green. The segments start displaced from their
// correct places; the student drags each one, sideways or up and down as its
// record allows (move 1 sideways, 2 up and down, anything else fixed). A
// segment is taken hold of within 3 pixels of it; the hand shows there.
//
// The answer lists every segment's end points, "x1^y1,x2^y2" joined with ";"
// ("120^40,220^40;300^10,300^90"), once the student has moved one (or an
// answer was restored); before that it is empty.
// UI thread only.
#include <vector>

#include "exam/VLQuestion.h"
#include "platform/ui/UILayout.h"

namespace KwLib {

class UIDianXianControl : public UIVerticalLayout {
public:
    static constexpr int kWidth = 600;
    static constexpr int kHeight = 400;
    static constexpr UIColor kLineColor = 0xFF4CD854;  // RGB(76, 216, 84)
    static constexpr int kLineWidth = 3;
    // Coordinates are kept within this range, whatever an answer says.
    static constexpr int kMaxCoord = 100000;

    UIDianXianControl();
    std::string GetClass() const override { return "DianXianControl"; }

    // Shows the question's picture and displaces its segments anew; clears the moved flag.
    void Init(const VLDianXianQuestion& question);
    std::string GetAnswer() const;
    void SetAnswer(const std::string& answer);

    // Displaces the segments anew (the reset button); Undo brings them back.
    void Reset(const VLDianXianQuestion& question);
    // Takes a step back: the segments as they were before the last drag or
    // reset. False when there is nothing to take back.
    bool Undo();

    const std::vector<VLQuestionLine>& GetSegments() const { return m_segments; }
    bool IsMoved() const { return m_moved; }
    // The first segment within reach of a point in surface coordinates, or -1.
    int HitTest(UIPoint pt) const;

    void DoPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void OnMouseEnter(UIPoint pt) override;
    void OnMouseMove(UIPoint pt) override;
    void OnLButtonDown(UIPoint pt) override;
    void OnLButtonUp(UIPoint pt) override;
    void SetEnabled(bool enabled = true) override;

private:
    struct Snapshot {
        std::vector<VLQuestionLine> segments;
        bool moved = false;
    };
    // Where `segment` lands when the pointer that took it at the grab point is released at `pt`.
    VLQuestionLine Dropped(const VLQuestionLine& segment, UIPoint pt) const;
    void ShowHandOverSegment(UIPoint pt);
    bool IsGrabbed() const { return m_grabbed.x1 != m_grabbed.x2 || m_grabbed.y1 != m_grabbed.y2; }
    void CancelGrab();

    std::vector<VLQuestionLine> m_segments;
    VLQuestionLine m_grabbed{0, 0, 0, 0, 0};  // all zero when none
    UIPoint m_grabPoint;                      // window coordinates
    UIPoint m_dragPoint;                      // where the pointer is during a drag
    bool m_moved = false;
    std::vector<Snapshot> m_history;
};

}  // namespace KwLib
