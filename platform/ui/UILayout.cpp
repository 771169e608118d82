#include "platform/ui/UILayout.h"

#include <algorithm>

#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {

int ClampHeight(UIControl* c, int cy) {
    return std::clamp(cy, c->GetMinHeight(), std::max(c->GetMinHeight(), c->GetMaxHeight()));
}
int ClampWidth(UIControl* c, int cx) {
    return std::clamp(cx, c->GetMinWidth(), std::max(c->GetMinWidth(), c->GetMaxWidth()));
}

// The part of the free space for the `nth` (from 1) of `count` children without
// a fixed size; the last one takes the rounding rest.
int ShareOfRest(int left, int count, int nth) {
    int share = count ? left / count : 0;
    return nth == count ? left - share * (count - 1) : share;
}

}  // namespace

// ---- vertical ----

int UIVerticalLayout::LayoutChildren(const UIRect& rc) {
    UISize available{rc.Width(), rc.Height()};
    int fixed = 0, adjustables = 0, count = 0;
    std::vector<UISize> sizes(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i) {
        UIControl* c = m_items[i].get();
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        const UIRect& pad = c->GetPadding();
        sizes[i] = c->EstimateSize({available.cx - pad.left - pad.right, available.cy});
        if (sizes[i].cy == 0) {
            ++adjustables;
            fixed += c->GetMinHeight();
        } else {
            sizes[i].cy = ClampHeight(c, sizes[i].cy);
            fixed += sizes[i].cy;
        }
        fixed += pad.top + pad.bottom;
        ++count;
    }
    if (count > 1)
        fixed += (count - 1) * m_childPadding;
    // Space left is shared by the children without a height; the last takes the rounding rest.
    int left = std::max(0, available.cy - fixed);
    int y = rc.top - m_scrollPos;
    int seen = 0, adjusted = 0;
    for (size_t i = 0; i < m_items.size(); ++i) {
        UIControl* c = m_items[i].get();
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        const UIRect& pad = c->GetPadding();
        int cy = sizes[i].cy;
        if (cy == 0)
            cy = ClampHeight(c, c->GetMinHeight() + ShareOfRest(left, adjustables, ++adjusted));
        int cx = sizes[i].cx ? sizes[i].cx : available.cx - pad.left - pad.right;
        cx = ClampWidth(c, cx);
        c->SetPos({rc.left + pad.left, y + pad.top, rc.left + pad.left + cx, y + pad.top + cy});
        y += pad.top + cy + pad.bottom;
        if (++seen < count)
            y += m_childPadding;
    }
    return y - (rc.top - m_scrollPos);
}

int UIVerticalLayout::EstimateContentHeight(int width) {
    int total = 0, count = 0;
    for (auto& item : m_items) {
        UIControl* c = item.get();
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        const UIRect& pad = c->GetPadding();
        UISize sz = c->EstimateSize({width - pad.left - pad.right, 0});
        total += pad.top + (sz.cy ? ClampHeight(c, sz.cy) : c->GetMinHeight()) + pad.bottom;
        ++count;
    }
    if (count > 1)
        total += (count - 1) * m_childPadding;
    return total;
}

// ---- horizontal ----

int UIHorizontalLayout::LayoutChildren(const UIRect& rc) {
    UISize available{rc.Width(), rc.Height()};
    int fixed = 0, adjustables = 0, count = 0;
    std::vector<UISize> sizes(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i) {
        UIControl* c = m_items[i].get();
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        const UIRect& pad = c->GetPadding();
        sizes[i] = c->EstimateSize({available.cx, available.cy - pad.top - pad.bottom});
        if (sizes[i].cx == 0) {
            ++adjustables;
            fixed += c->GetMinWidth();
        } else {
            sizes[i].cx = ClampWidth(c, sizes[i].cx);
            fixed += sizes[i].cx;
        }
        fixed += pad.left + pad.right;
        ++count;
    }
    if (count > 1)
        fixed += (count - 1) * m_childPadding;
    int left = std::max(0, available.cx - fixed);
    int x = rc.left;
    int seen = 0, adjusted = 0, content = 0;
    for (size_t i = 0; i < m_items.size(); ++i) {
        UIControl* c = m_items[i].get();
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        const UIRect& pad = c->GetPadding();
        int cx = sizes[i].cx;
        if (cx == 0)
            cx = ClampWidth(c, c->GetMinWidth() + ShareOfRest(left, adjustables, ++adjusted));
        int cy = sizes[i].cy ? sizes[i].cy : available.cy - pad.top - pad.bottom;
        cy = ClampHeight(c, cy);
        int top = rc.top + pad.top - m_scrollPos;
        c->SetPos({x + pad.left, top, x + pad.left + cx, top + cy});
        x += pad.left + cx + pad.right;
        if (++seen < count)
            x += m_childPadding;
        content = std::max(content, pad.top + cy + pad.bottom);
    }
    return content;
}

int UIHorizontalLayout::EstimateContentHeight(int width) {
    int content = 0;
    for (auto& item : m_items) {
        UIControl* c = item.get();
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        const UIRect& pad = c->GetPadding();
        UISize sz = c->EstimateSize({width, 0});
        content =
            std::max(content, pad.top + (sz.cy ? ClampHeight(c, sz.cy) : c->GetMinHeight()) + pad.bottom);
    }
    return content;
}

// ---- grid ----

void UIGridList::SetItemSize(UISize size) {
    m_itemSize = {std::clamp(size.cx, 0, 10000), std::clamp(size.cy, 0, 10000)};
    NeedUpdate();
}

void UIGridList::SetItemMargin(UISize margin) {
    m_itemMargin = {std::clamp(margin.cx, -1000, 10000), std::clamp(margin.cy, -1000, 10000)};
    m_cellMargin = UIRect();
    NeedUpdate();
}

void UIGridList::SetItemMargin(const UIRect& margin) {
    auto clamp = [](int v) { return std::clamp(v, 0, 10000); };
    m_cellMargin = {clamp(margin.left), clamp(margin.top), clamp(margin.right), clamp(margin.bottom)};
    m_itemMargin = UISize();
    NeedUpdate();
}

void UIGridList::SetColumns(int columns) {
    m_columns = std::clamp(columns, 0, 1000);
    NeedUpdate();
}

int UIGridList::StepX() const {
    return m_cellMargin.left + m_itemSize.cx + m_cellMargin.right + m_itemMargin.cx;
}

int UIGridList::StepY() const {
    return m_cellMargin.top + m_itemSize.cy + m_cellMargin.bottom + m_itemMargin.cy;
}

int UIGridList::RowsHeight(int rows) const {
    // Gaps lie between rows only; a cell's own margins belong to every row.
    return rows > 0 ? rows * StepY() - m_itemMargin.cy : 0;
}

int UIGridList::GetColumnCount(int width) const {
    if (m_columns > 0)
        return m_columns;
    int step = StepX();
    return std::max(1, step > 0 ? (width + m_itemMargin.cx) / step : 1);
}

void UIGridList::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "itemsize")
        SetItemSize(ParseSize(value));
    else if (name == "itemmargin") {
        UIRect r = ParseRect(value);
        const size_t commas = std::count(value.begin(), value.end(), ',');
        if (commas == 3)  // left, top, right, bottom around every item
            SetItemMargin(r);
        else  // the gap between items; one number sets both directions
            SetItemMargin(UISize{r.left, commas == 0 ? r.left : r.top});
    } else if (name == "columns")
        SetColumns(KWStringUtils::ConvertStringToInt32(value));
    else
        UIContainer::SetAttribute(name, value);
}

int UIGridList::LayoutChildren(const UIRect& rc) {
    int columns = GetColumnCount(rc.Width());
    int index = 0, rows = 0;
    for (auto& item : m_items) {
        UIControl* c = item.get();
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        int col = index % columns, row = index / columns;
        int x = rc.left + col * StepX() + m_cellMargin.left;
        int y = rc.top - m_scrollPos + row * StepY() + m_cellMargin.top;
        c->SetPos({x, y, x + m_itemSize.cx, y + m_itemSize.cy});
        rows = row + 1;
        ++index;
    }
    return RowsHeight(rows);
}

int UIGridList::EstimateContentHeight(int width) {
    int count = 0;
    for (auto& item : m_items)
        if (item->IsVisibleInLayout() && !item->IsFloat())
            ++count;
    int columns = GetColumnCount(width);
    int rows = (count + columns - 1) / columns;
    return RowsHeight(rows);
}

}  // namespace KwLib
