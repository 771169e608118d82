#include "elements/UIPlacementBoard.h"

#include <algorithm>

#include "elements/UIElementParts.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

void UIPlacementBoard::Clear() {
    m_placements.clear();
    m_dragFrom = nullptr;
    m_dragMoved = false;
}

bool UIPlacementBoard::IsPlaced(const UIControl* source) const {
    return std::any_of(m_placements.begin(), m_placements.end(),
                       [source](const Placement& p) { return p.source == source; });
}

UIControl* UIPlacementBoard::SourceOn(const UIControl* target) const {
    for (const Placement& p : m_placements)
        if (p.target == target)
            return p.source;
    return nullptr;
}

bool UIPlacementBoard::Place(UIControl* source, UIControl* target) {
    if (!source || !target || IsPlaced(source) || SourceOn(target))
        return false;
    m_placements.push_back({source, target});
    if (m_hooks.fill)
        m_hooks.fill(source, target);
    if (m_hooks.away)
        m_hooks.away(source, true);
    return true;
}

bool UIPlacementBoard::Move(UIControl* from, UIControl* to) {
    if (!to || from == to || SourceOn(to))
        return false;
    for (Placement& p : m_placements) {
        if (p.target != from)
            continue;
        p.target = to;
        if (m_hooks.fill)
            m_hooks.fill(p.source, to);
        if (m_hooks.empty)
            m_hooks.empty(from);
        return true;
    }
    return false;
}

void UIPlacementBoard::Undo(size_t index) {
    const Placement p = m_placements[index];
    m_placements.erase(m_placements.begin() + static_cast<std::ptrdiff_t>(index));
    if (m_hooks.away)
        m_hooks.away(p.source, false);
    if (m_hooks.empty)
        m_hooks.empty(p.target);
}

bool UIPlacementBoard::UndoLast() {
    if (m_placements.empty())
        return false;
    Undo(m_placements.size() - 1);
    return true;
}

bool UIPlacementBoard::UndoOn(const UIControl* target) {
    for (size_t i = 0; i < m_placements.size(); ++i) {
        if (m_placements[i].target == target) {
            Undo(i);
            return true;
        }
    }
    return false;
}

void UIPlacementBoard::UndoAll() {
    while (UndoLast()) {
    }
}

void UIPlacementBoard::Restore(const std::vector<std::string>& entries, const std::vector<UIControl*>& targets,
                               const std::function<UIControl*(const std::string& entry, int number)>& sourceNamed,
                               const std::function<bool(const UIControl* target)>& accepts) {
    if (entries.size() != targets.size())
        return;
    for (size_t i = 0; i < entries.size(); ++i) {
        int number = 0;
        if (!UIElementParts::ParseInt(entries[i], number) || number < 1)
            continue;
        UIControl* target = targets[i];
        if (accepts && !accepts(target))
            continue;
        Place(sourceNamed(entries[i], number), target);
    }
}

// ---- a drag ----

void UIPlacementBoard::BeginDrag(UIControl* from, UIPoint pt) {
    m_dragFrom = from;
    m_dragMoved = false;
    m_grabOffset = {pt.x - from->GetX(), pt.y - from->GetY()};
    m_mousePos = pt;
}

void UIPlacementBoard::DragTo(UIPaintManager* pm, UIPoint pt) {
    if (!m_dragFrom)
        return;
    if (m_dragMoved && pm)
        pm->Invalidate(GhostRect());
    m_mousePos = pt;
    m_dragMoved = true;
    if (pm)
        pm->Invalidate(GhostRect());
}

void UIPlacementBoard::EndDrag(UIPaintManager* pm) {
    if (HasMoved() && pm)
        pm->Invalidate(GhostRect());
    m_dragFrom = nullptr;
    m_dragMoved = false;
}

UIRect UIPlacementBoard::GhostRect() const {
    if (!m_dragFrom)
        return {};
    const int x = m_mousePos.x - m_grabOffset.x, y = m_mousePos.y - m_grabOffset.y;
    return {x - 1, y - 1, x + m_dragFrom->GetWidth() + 1, y + m_dragFrom->GetHeight() + 1};
}

void UIPlacementBoard::PaintGhost(cairo_t* cr, const UIRect& clip, const std::string& image, int border,
                                  UIColor borderColor) const {
    if (!HasMoved() || clip.IsEmpty())
        return;
    UIRect ghost = GhostRect();
    ghost.Deflate({1, 1, 1, 1});
    cairo_save(cr);
    cairo_rectangle(cr, clip.left, clip.top, clip.Width(), clip.Height());
    cairo_clip(cr);
    cairo_push_group(cr);
    UIRenderUtils::DrawImageString(cr, ghost, image);
    if (border > 0)
        UIRenderUtils::DrawBorder(cr, ghost, border, borderColor, 0);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, 0.7);
    cairo_restore(cr);
}

}  // namespace KwLib
