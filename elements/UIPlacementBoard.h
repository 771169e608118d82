#pragma once
// UIPlacementBoard: the drag-and-place logic the ordering and jigsaw elements
// share. Sources (pictures, pieces) are placed on targets (slots, cells); the
// board keeps the placements in the order they were made, so the last one, the
// one on a given target or all of them can be taken back; it follows a drag
// from the press to the release and paints the faded copy under the pointer.
//
// What a placement looks like stays with the element, in three hooks. Whether
// a source is placed is the board's own record, never read back from the
// controls: an answer restored while the question area is hidden (a question
// reopened from the answer sheet) is placed exactly as on a visible one.
// UI thread only.
#include <cairo.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/UIControl.h"

namespace KwLib {

class UIPaintManager;

class UIPlacementBoard {
public:
    struct Placement {
        UIControl* source;
        UIControl* target;
    };
    struct Hooks {
        // `target` shows `source`.
        std::function<void(UIControl* source, UIControl* target)> fill;
        // `target` shows nothing any more.
        std::function<void(UIControl* target)> empty;
        // `source` leaves its place (placed) or is back in it.
        std::function<void(UIControl* source, bool placed)> away;
    };

    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    // Forgets every placement without calling a hook (the element builds anew).
    void Clear();

    bool IsPlaced(const UIControl* source) const;
    // The source placed on `target`, or nullptr.
    UIControl* SourceOn(const UIControl* target) const;
    const std::vector<Placement>& GetPlacements() const { return m_placements; }

    // A drop: refused (false) when the source is placed already or the target is taken.
    bool Place(UIControl* source, UIControl* target);
    // The source on `from` moves to the free target `to`; its placement keeps its turn.
    bool Move(UIControl* from, UIControl* to);
    // Takes back the newest placement, the one on `target`, or all of them.
    bool UndoLast();
    bool UndoOn(const UIControl* target);
    void UndoAll();

    // Lays out a saved answer as drops would: entry i names (the entry and its
    // number, see `sourceNamed`) what target i holds; "-1", 0, junk and numbers naming no
    // source leave their target empty, a source named twice goes to its first
    // target only, and targets `accepts` refuses are skipped. Nothing at all
    // unless there is one entry per target.
    void Restore(const std::vector<std::string>& entries, const std::vector<UIControl*>& targets,
                 const std::function<UIControl*(const std::string& entry, int number)>& sourceNamed,
                 const std::function<bool(const UIControl* target)>& accepts);

    // ---- a drag ----
    // The press on `from` (a source, or a filled target that can move) at `pt`.
    void BeginDrag(UIControl* from, UIPoint pt);
    UIControl* GetDragFrom() const { return m_dragFrom; }
    bool HasMoved() const { return m_dragFrom && m_dragMoved; }
    // The pointer moved with the button held: the faded copy follows it.
    void DragTo(UIPaintManager* pm, UIPoint pt);
    // The drag is over (dropped, refused or abandoned).
    void EndDrag(UIPaintManager* pm);
    // Where the copy is drawn: the dragged control's size, one pixel around.
    UIRect GhostRect() const;
    // Draws `image` faded at the copy's place, with a frame when `border` > 0.
    void PaintGhost(cairo_t* cr, const UIRect& clip, const std::string& image, int border, UIColor borderColor) const;

private:
    void Undo(size_t index);

    Hooks m_hooks;
    std::vector<Placement> m_placements;  // oldest first
    UIControl* m_dragFrom = nullptr;      // owned by the control tree
    UIPoint m_grabOffset;                 // the press, from the dragged control's corner
    UIPoint m_mousePos;
    bool m_dragMoved = false;
};

}  // namespace KwLib
