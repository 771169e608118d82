#pragma once
// UIConnectionElement: the matching question (type 11). The columns of the
// record stand side by side in a panel, each item (a text, a picture or a
// sound) with its connection point (id 2101 in the first column, 2102 in the
// second, 2103 ... after that; user data = the item's document position + 1).
// The student drags from a point in one of the first two columns to a point in
// the other; a green line joins them. "撤消" (2056) takes the last line back,
// "重置" (2057) all of them.
//
// The answer lists the lines, oldest first, as "first-second" pairs of point
// user data joined with ",", e.g. "2-3,1-1"; empty when there are none. The
// same pair is drawn once; a point may take part in any number of lines.
//
// Picture items are picture boxes (2054, the path as user data) that report
// double-clicks; the window opens the picture. Sounds get a clip player.
// UI thread only.
#include <utility>
#include <vector>

#include "elements/UIQuestionElement.h"

namespace KwLib {

class UIButton;
class VLChoiceQuestion;

class UIConnectionElement : public UIQuestionElement {
public:
    static constexpr int kFirstPointId = 2101;   // the point of column c has id 2101 + c
    static constexpr int kSecondPointId = 2102;  // the only two columns that connect
    static constexpr int kPointRes = 1052;       // 28 x 29
    static constexpr int kPointWidth = 28;
    static constexpr int kPointHeight = 29;
    static constexpr int kItemFrameRes = 1051;
    static constexpr int kPanelRes = 1053;
    static constexpr UIColor kLineColor = 0xFF4CD854;  // RGB(76, 216, 84)
    static constexpr int kLineWidth = 3;

    std::string GetClass() const override { return "ConnectionElement"; }

    void AddContent() override;
    std::string GetAnswer() override;
    // Replaces the lines by those of the answer; pairs naming a point that is
    // not there are left out.
    void SetAnswer(const std::string& answer) override;
    // The buttons follow; the points stay as they are and the element ignores the mouse.
    void SetEnabled(bool enabled = true) override;

    void DoPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void OnLButtonDown(UIPoint pt) override;
    void OnMouseMove(UIPoint pt) override;
    void OnLButtonUp(UIPoint pt) override;

    // The lines, oldest first: (first-column point, second-column point).
    const std::vector<std::pair<UIControl*, UIControl*>>& GetLines() const { return m_lines; }
    // Every point built, column after column.
    const std::vector<UIControl*>& GetPoints() const { return m_points; }
    bool IsDragging() const { return m_dragging; }

private:
    enum class ColumnKind { kText, kPicture, kAudio };
    // One column of rows (item, gap, point or point, gap, item); nullptr when empty.
    UIContainer* CreateColumn(VLChoiceQuestion& column, int index, int& height);
    UIControl* CreateItem(ColumnKind kind, const std::string& value, int& height);
    UIControl* FindPoint(int id, const std::string& userData) const;
    // Where a line meets a point: the right edge of a first-column point, the
    // left edge of the others, at half its height.
    static UIPoint Anchor(const UIControl* point);
    void AddLine(UIControl* a, UIControl* b);
    // The area the line that follows the pointer covers.
    UIRect RubberBandRect() const;

    bool m_dragging = false;
    UIControl* m_dragFrom = nullptr;  // a point, owned by the control tree
    UIPoint m_mousePos;
    std::vector<std::pair<UIControl*, UIControl*>> m_lines;
    std::vector<UIControl*> m_points;
    UIButton* m_undoButton = nullptr;
    UIButton* m_resetButton = nullptr;
};

}  // namespace KwLib
