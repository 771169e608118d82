#pragma once
// UIPinTuElement: the jigsaw question (type 14). The record's picture is cut
// into X columns by Y rows; the pieces (id 2067, user data = the piece number
// 1 .. X*Y in reading order) lie scattered in a tray beside (or below) an
// empty board of X*Y cells (id 2068). The student drags pieces onto empty
// cells, and placed pieces from cell to cell; a double-click takes a piece
// back, "撤消" (2056) the last placement, "重置" (2057) all of them. One piece,
// the default piece (1 .. X*Y), starts in its own cell and never moves.
//
// The answer is the piece number in each cell, row by row, "-1" for an empty
// cell and for the default cell: "1,2,3,-1,-1,6". An empty saved answer lays
// out the untouched puzzle.
//
// The tray's scatter is the same every time a question is shown (it follows
// from the question id), so a restarted exam looks as it was left.
// UI thread only.
#include <vector>

#include "elements/UIPlacementBoard.h"
#include "elements/UIQuestionElement.h"

namespace KwLib {

class UIButton;
class UIGridList;

class UIPinTuElement : public UIQuestionElement {
public:
    static constexpr int kPieceId = 2067;
    static constexpr int kCellId = 2068;
    static constexpr const char* kPlacedToolTip = "双击撤销答案";
    static constexpr const char* kDefaultToolTip = "默认项无法操作";

    std::string GetClass() const override { return "PinTuElement"; }

    void AddContent() override;
    // Lays out m_defaultAnswer: the default piece in its cell, and each piece
    // the answer names in its cell.
    void InitAnswer();
    std::string GetAnswer() override;
    // Stores the answer as m_defaultAnswer and lays it out.
    void SetAnswer(const std::string& answer) override;
    // The buttons follow; the element ignores the mouse while disabled.
    void SetEnabled(bool enabled = true) override;

    void DoPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void OnLButtonDown(UIPoint pt) override;
    void OnMouseMove(UIPoint pt) override;
    void OnLButtonUp(UIPoint pt) override;
    void OnLButtonDblClk(UIPoint pt) override;

    const std::vector<UIControl*>& GetCells() const { return m_cells; }
    const std::vector<UIControl*>& GetPieces() const { return m_pieces; }
    UIGridList* GetGrid() const { return m_grid; }
    UIContainer* GetTray() const { return m_tray; }
    int GetDefaultNo() const { return m_defaultNo; }

private:
    // Background of a cell or piece showing piece `number`.
    std::string PieceImage(int number) const;
    bool HasDefault() const { return m_defaultNo >= 1 && m_defaultNo <= m_indexX * m_indexY; }
    bool IsDefaultCell(const UIControl* cell) const;
    void ClearCell(UIControl* cell);
    // Spreads the pieces over the tray.
    void ScatterPieces(int cellWidth, int cellHeight);
    bool IsDraggable(const UIControl* c) const;

    int m_indexX = 0;
    int m_indexY = 0;
    int m_defaultNo = 0;
    std::string m_picture;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    UIGridList* m_grid = nullptr;  // owned by the control tree, as everything below
    UIContainer* m_tray = nullptr;
    std::vector<UIControl*> m_cells;
    std::vector<UIControl*> m_pieces;
    // Pieces on cells (the default piece is in no placement) and the drag.
    UIPlacementBoard m_board;
    UIButton* m_undoButton = nullptr;
    UIButton* m_resetButton = nullptr;
};

}  // namespace KwLib
