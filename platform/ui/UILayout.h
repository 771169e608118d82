#pragma once
// The three layouts: a column, a row, and a grid of equal cells.
// UI thread only.
#include "platform/ui/UIContainer.h"

namespace KwLib {

// Children top to bottom. Children without a height share the space left.
class UIVerticalLayout : public UIContainer {
public:
    std::string GetClass() const override { return "VerticalLayout"; }

protected:
    int LayoutChildren(const UIRect& rc) override;
    int EstimateContentHeight(int width) override;
};

// Children left to right. Children without a width share the space left.
class UIHorizontalLayout : public UIContainer {
public:
    std::string GetClass() const override { return "HorizontalLayout"; }

protected:
    int LayoutChildren(const UIRect& rc) override;
    int EstimateContentHeight(int width) override;
};

// Children in cells of one item size, row after row ("itemsize", "itemmargin",
// "columns"; without columns as many as fit).
class UIGridList : public UIContainer {
public:
    std::string GetClass() const override { return "GridList"; }
    UISize GetItemSize() const { return m_itemSize; }
    void SetItemSize(UISize size);
    // The gap between neighbouring items (two values: across, down).
    UISize GetItemMargin() const { return m_itemMargin; }
    void SetItemMargin(UISize margin);
    // Space around every item instead ("itemmargin" with four values: left,
    // top, right, bottom): 5,8,5,0 puts 32-pixel items 42 apart across and 40 down.
    const UIRect& GetCellMargin() const { return m_cellMargin; }
    void SetItemMargin(const UIRect& margin);
    int GetColumns() const { return m_columns; }
    void SetColumns(int columns);
    // The number of columns for the current width.
    int GetColumnCount(int width) const;
    void SetAttribute(const std::string& name, const std::string& value) override;

protected:
    int LayoutChildren(const UIRect& rc) override;
    int EstimateContentHeight(int width) override;

private:
    int StepX() const;
    int StepY() const;
    int RowsHeight(int rows) const;

    UISize m_itemSize{80, 80};
    UISize m_itemMargin;
    UIRect m_cellMargin;
    int m_columns = 0;
};

}  // namespace KwLib
