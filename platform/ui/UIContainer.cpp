#include "platform/ui/UIContainer.h"

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

UIContainer::UIContainer() = default;

UIContainer::~UIContainer() {
    // Children go first, while the manager pointers they may use are still valid.
    m_items.clear();
}

bool UIContainer::Add(UIControl* control) {
    return AddAt(control, GetCount());
}

bool UIContainer::AddAt(UIControl* control, int index) {
    if (!control)
        return false;
    if (index < 0 || index > GetCount()) {
        delete control;
        return false;
    }
    m_items.insert(m_items.begin() + index, std::unique_ptr<UIControl>(control));
    if (m_manager)
        control->SetManager(m_manager, this, true);
    else
        control->SetManager(nullptr, this, false);
    if (!IsVisible())
        control->SetInternVisible(false);
    NeedUpdate();
    if (m_manager)
        m_manager->NeedUpdate();
    return true;
}

std::unique_ptr<UIControl> UIContainer::Detach(UIControl* control) {
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
        if (it->get() != control)
            continue;
        if (m_manager)
            m_manager->ReapObjects(control);
        std::unique_ptr<UIControl> owned = std::move(*it);
        m_items.erase(it);
        NeedUpdate();
        if (m_manager)
            m_manager->NeedUpdate();
        return owned;
    }
    return nullptr;
}

bool UIContainer::Remove(UIControl* control) {
    std::unique_ptr<UIControl> owned = Detach(control);
    if (!owned)
        return false;
    if (m_manager && m_manager->IsDispatching())
        m_manager->AddDelayedCleanup(std::move(owned));
    return true;
}

bool UIContainer::RemoveAt(int index) {
    UIControl* c = GetItemAt(index);
    return c && Remove(c);
}

void UIContainer::RemoveAll() {
    while (!m_items.empty())
        Remove(m_items.back().get());
    m_scrollPos = 0;
}

UIControl* UIContainer::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount())
        return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

int UIContainer::GetItemIndex(UIControl* control) const {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == control)
            return static_cast<int>(i);
    return -1;
}

bool UIContainer::SetItemIndex(UIControl* control, int index) {
    int from = GetItemIndex(control);
    if (from < 0 || index < 0 || index >= GetCount())
        return false;
    auto owned = std::move(m_items[static_cast<size_t>(from)]);
    m_items.erase(m_items.begin() + from);
    m_items.insert(m_items.begin() + index, std::move(owned));
    NeedUpdate();
    return true;
}

void UIContainer::SetInset(const UIRect& inset) {
    m_rcInset = ClampRect(inset);
    NeedUpdate();
}

void UIContainer::SetChildPadding(int padding) {
    m_childPadding = std::clamp(padding, -1000, 10000);
    NeedUpdate();
}

void UIContainer::SetAutoMinHeight(bool on) {
    m_autoMinHeight = on;
    NeedParentUpdate();
}

void UIContainer::EnableScrollBar(bool vertical, bool horizontal) {
    m_vscrollEnabled = vertical;
    // FIXME: horizontal scrolling is accepted but not implemented; no layout needs it yet.
    m_hscrollEnabled = horizontal;
    if (!vertical)
        m_scrollPos = 0;
    NeedUpdate();
}

void UIContainer::SetScrollPos(int pos) {
    pos = std::clamp(pos, 0, m_scrollRange);
    if (pos == m_scrollPos)
        return;
    m_scrollPos = pos;
    // Children move; lay them out again at once so hit tests see the new places.
    SetPos(m_rcItem, false);
    Invalidate();
}

bool UIContainer::ScrollByWheel(int delta) {
    if (!m_vscrollEnabled || m_scrollRange <= 0)
        return false;
    int before = m_scrollPos;
    SetScrollPos(m_scrollPos - delta * 60 / 120);
    return before != m_scrollPos;
}

void UIContainer::EnsureVisible(UIControl* control) {
    if (!control || m_scrollRange <= 0)
        return;
    UIRect inner = GetInnerRect();
    const UIRect& rc = control->GetPos();
    if (rc.top < inner.top)
        SetScrollPos(m_scrollPos - (inner.top - rc.top));
    else if (rc.bottom > inner.bottom)
        SetScrollPos(m_scrollPos + (rc.bottom - inner.bottom));
}

void UIContainer::SetManager(UIPaintManager* manager, UIControl* parent, bool init) {
    for (auto& c : m_items)
        c->SetManager(manager, this, init);
    UIControl::SetManager(manager, parent, init);
}

void UIContainer::ForEach(const std::function<void(UIControl*)>& fn) {
    fn(this);
    for (auto& c : m_items)
        c->ForEach(fn);
}

UIControl* UIContainer::FindControlAt(UIPoint pt) {
    if (!IsVisible() || !m_rcItem.Contains(pt))
        return nullptr;
    if (m_scrollRange > 0 && GetScrollBarRect().Contains(pt))
        return this;
    // Later children paint on top, so they are hit first.
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        if (UIControl* hit = (*it)->FindControlAt(pt))
            return hit;
    }
    return m_mouseEnabled ? this : nullptr;
}

UIControl* UIContainer::FindControlById(int id) {
    if (m_id == id)
        return this;
    for (auto& c : m_items)
        if (UIControl* hit = c->FindControlById(id))
            return hit;
    return nullptr;
}

UIControl* UIContainer::FindControlByName(const std::string& name) {
    if (!name.empty() && m_name == name)
        return this;
    for (auto& c : m_items)
        if (UIControl* hit = c->FindControlByName(name))
            return hit;
    return nullptr;
}

UIRect UIContainer::GetInnerRect() const {
    UIRect rc = m_rcItem;
    rc.Deflate(m_rcInset);
    return rc;
}

void UIContainer::SetFloatPos(UIControl* child) {
    const UIRect& p = child->GetFloatPos();
    UIRect rc{m_rcItem.left + p.left, m_rcItem.top + p.top, m_rcItem.left + p.right, m_rcItem.top + p.bottom};
    child->SetPos(rc);
}

int UIContainer::LayoutChildren(const UIRect& rc) {
    int content = 0;
    for (auto& c : m_items) {
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        const UIRect& pad = c->GetPadding();
        UISize sz = c->EstimateSize({rc.Width(), rc.Height()});
        int cx = sz.cx ? sz.cx : rc.Width() - pad.left - pad.right;
        int cy = sz.cy ? sz.cy : rc.Height() - pad.top - pad.bottom;
        cx = std::clamp(cx, c->GetMinWidth(), std::max(c->GetMinWidth(), c->GetMaxWidth()));
        cy = std::clamp(cy, c->GetMinHeight(), std::max(c->GetMinHeight(), c->GetMaxHeight()));
        int top = rc.top + pad.top - m_scrollPos;
        c->SetPos({rc.left + pad.left, top, rc.left + pad.left + cx, top + cy});
        content = std::max(content, pad.top + cy + pad.bottom);
    }
    return content;
}

int UIContainer::EstimateContentHeight(int width) {
    int content = 0;
    for (auto& c : m_items) {
        if (!c->IsVisibleInLayout() || c->IsFloat())
            continue;
        const UIRect& pad = c->GetPadding();
        UISize sz = c->EstimateSize({width - pad.left - pad.right, 0});
        content = std::max(content, pad.top + std::max(sz.cy, c->GetMinHeight()) + pad.bottom);
    }
    return content;
}

void UIContainer::SetPos(UIRect rc, bool needInvalidate) {
    UIControl::SetPos(rc, needInvalidate);
    UIRect inner = GetInnerRect();
    m_contentHeight = LayoutChildren(inner);
    if (m_vscrollEnabled && m_contentHeight > inner.Height()) {
        // Make room for the bar and lay out again in the narrower space.
        inner.right -= kScrollBarWidth;
        m_contentHeight = LayoutChildren(inner);
        int before = m_scrollPos;
        UpdateScroll(m_contentHeight, inner.Height());
        if (m_scrollPos != before)
            LayoutChildren(inner);
    } else {
        bool hadScroll = m_scrollPos != 0;
        UpdateScroll(m_contentHeight, inner.Height());
        if (hadScroll)
            LayoutChildren(inner);
    }
    for (auto& c : m_items)
        if (c->IsVisibleInLayout() && c->IsFloat())
            SetFloatPos(c.get());
}

void UIContainer::UpdateScroll(int contentHeight, int visibleHeight) {
    m_scrollRange = m_vscrollEnabled ? std::max(0, contentHeight - visibleHeight) : 0;
    m_scrollPos = std::clamp(m_scrollPos, 0, m_scrollRange);
}

UISize UIContainer::EstimateSize(UISize available) {
    if (!m_autoMinHeight)
        return m_cxyFixed;
    int width = (m_cxyFixed.cx ? m_cxyFixed.cx : available.cx) - m_rcInset.left - m_rcInset.right;
    int cy = EstimateContentHeight(width) + m_rcInset.top + m_rcInset.bottom;
    return {m_cxyFixed.cx, std::max(cy, m_cxyMin.cy)};
}

void UIContainer::SetVisible(bool visible) {
    if (m_visible == visible)
        return;
    UIControl::SetVisible(visible);
    for (auto& c : m_items)
        c->SetInternVisible(IsVisible());
}

void UIContainer::SetInternVisible(bool visible) {
    UIControl::SetInternVisible(visible);
    for (auto& c : m_items)
        c->SetInternVisible(IsVisible());
}

UIRect UIContainer::GetScrollBarRect() const {
    UIRect inner = GetInnerRect();
    return {inner.right - kScrollBarWidth, inner.top, inner.right, inner.bottom};
}

UIRect UIContainer::GetThumbRect() const {
    UIRect bar = GetScrollBarRect();
    // In 64 bits: a tall container squares past the int range.
    int64_t total = std::max(1, m_contentHeight);
    int64_t height = bar.Height();
    int thumb =
        static_cast<int>(std::clamp<int64_t>(height * height / total, 24, std::max<int64_t>(24, height)));
    int64_t travel = height - thumb;
    int top = bar.top + static_cast<int>(m_scrollRange > 0 ? travel * m_scrollPos / m_scrollRange : 0);
    return {bar.left + 1, top, bar.right - 1, top + thumb};
}

void UIContainer::DoPaint(cairo_t* cr, const UIRect& rcPaint) {
    if (!m_rcItem.Intersects(rcPaint))
        return;
    cairo_save(cr);
    if (m_borderRound > 0) {
        UIRenderUtils::RoundRectPath(cr, m_rcItem, m_borderRound);
    } else {
        UIRenderUtils::SnappedRectangle(cr, m_rcItem);
    }
    cairo_clip(cr);
    PaintBkColor(cr);
    PaintBkImage(cr);
    PaintStatusImage(cr);
    PaintText(cr);
    UIRect clip = m_rcItem.Intersect(rcPaint);
    for (auto& c : m_items) {
        if (!c->IsVisible() || !c->GetPos().Intersects(clip))
            continue;
        c->DoPaint(cr, clip);
    }
    if (m_scrollRange > 0) {
        UIRenderUtils::FillRoundRect(cr, GetScrollBarRect(), kScrollBarWidth / 2, 0x14000000);
        UIRenderUtils::FillRoundRect(cr, GetThumbRect(), kScrollBarWidth / 2,
                                     m_thumbDragging ? 0xA0000000 : 0x66000000);
    }
    cairo_restore(cr);
    PaintBorder(cr);
}

void UIContainer::DoPostPaint(cairo_t* cr, const UIRect& rcPaint) {
    for (auto& c : m_items)
        if (c->IsVisible())
            c->DoPostPaint(cr, rcPaint);
}

void UIContainer::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "inset")
        SetInset(ParseRect(value));
    else if (name == "childpadding")
        SetChildPadding(KWStringUtils::ConvertStringToInt32(value));
    else if (name == "autominheight")
        SetAutoMinHeight(value == "true");
    else if (name == "vscrollbar")
        EnableScrollBar(value == "true", m_hscrollEnabled);
    else if (name == "hscrollbar")
        EnableScrollBar(m_vscrollEnabled, value == "true");
    else
        UIControl::SetAttribute(name, value);
}

void UIContainer::Event(UIEvent& event) {
    bool onBar = m_scrollRange > 0 && event.sender == this;
    if (onBar && event.type == kEventButtonDown && GetScrollBarRect().Contains(event.ptMouse)) {
        UIRect thumb = GetThumbRect();
        if (thumb.Contains(event.ptMouse)) {
            m_thumbDragging = true;
            m_thumbDragOffset = event.ptMouse.y - thumb.top;
        } else {
            // A click on the track pages towards the click.
            int page = GetInnerRect().Height();
            SetScrollPos(m_scrollPos + (event.ptMouse.y < thumb.top ? -page : page));
        }
        m_state |= UISTATE_CAPTURED;
        Invalidate();
        return;
    }
    if (m_thumbDragging && event.type == kEventMouseMove) {
        UIRect bar = GetScrollBarRect();
        UIRect thumb = GetThumbRect();
        int64_t travel = std::max(1, bar.Height() - thumb.Height());
        int64_t top = std::clamp<int64_t>(int64_t{event.ptMouse.y} - m_thumbDragOffset - bar.top, 0, travel);
        SetScrollPos(static_cast<int>(top * m_scrollRange / travel));
        return;
    }
    if (m_thumbDragging && event.type == kEventButtonUp) {
        m_thumbDragging = false;
        m_state &= ~UISTATE_CAPTURED;
        Invalidate();
        return;
    }
    UIControl::Event(event);
}

}  // namespace KwLib
