#pragma once
// UIContainer: a control that owns children. It places each child over its
// inner rectangle (inside the inset); the layouts place them in a row, a
// column or a grid. Containers can scroll vertically.
// UI thread only.
#include <memory>
#include <vector>

#include "platform/ui/UIControl.h"

namespace KwLib {

class UIContainer : public UIControl {
public:
    UIContainer();
    ~UIContainer() override;

    std::string GetClass() const override { return "Container"; }

    // ---- children ----
    // Add and AddAt take ownership of `control`.
    bool Add(UIControl* control);
    bool Add(std::unique_ptr<UIControl> control) { return Add(control.release()); }
    bool AddAt(UIControl* control, int index);
    // Removes and destroys a child (after the current event, if one runs).
    bool Remove(UIControl* control);
    bool RemoveAt(int index);
    void RemoveAll();
    // Removes a child and hands it back instead of destroying it.
    std::unique_ptr<UIControl> Detach(UIControl* control);
    UIControl* GetItemAt(int index) const;
    int GetItemIndex(UIControl* control) const;
    bool SetItemIndex(UIControl* control, int index);
    int GetCount() const { return static_cast<int>(m_items.size()); }

    // ---- layout ----
    const UIRect& GetInset() const { return m_rcInset; }
    void SetInset(const UIRect& inset);
    int GetChildPadding() const { return m_childPadding; }
    void SetChildPadding(int padding);
    // With "autominheight" the container asks for the height of its content.
    bool IsAutoMinHeight() const { return m_autoMinHeight; }
    void SetAutoMinHeight(bool on);

    // ---- scrolling ----
    void EnableScrollBar(bool vertical = true, bool horizontal = false);
    bool IsVScrollEnabled() const { return m_vscrollEnabled; }
    int GetScrollPos() const { return m_scrollPos; }
    void SetScrollPos(int pos);
    // How far the content can scroll (content height - visible height, or 0).
    int GetScrollRange() const { return m_scrollRange; }
    // True when the scroll position moved.
    bool ScrollByWheel(int delta);
    // Scrolls so that `control` (a descendant) is fully visible.
    void EnsureVisible(UIControl* control);

    // ---- overrides ----
    void SetManager(UIPaintManager* manager, UIControl* parent, bool init = true) override;
    void ForEach(const std::function<void(UIControl*)>& fn) override;
    UIControl* FindControlAt(UIPoint pt) override;
    UIControl* FindControlById(int id) override;
    UIControl* FindControlByName(const std::string& name) override;
    void SetPos(UIRect rc, bool needInvalidate = true) override;
    UISize EstimateSize(UISize available) override;
    void SetVisible(bool visible = true) override;
    void SetInternVisible(bool visible = true) override;
    void DoPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void DoPostPaint(cairo_t* cr, const UIRect& rcPaint) override;
    void SetAttribute(const std::string& name, const std::string& value) override;
    void Event(UIEvent& event) override;

    static constexpr int kScrollBarWidth = 8;

protected:
    // The area children are laid out in (inside the inset).
    UIRect GetInnerRect() const;
    // Places a floating child from its "pos", relative to this container.
    void SetFloatPos(UIControl* child);
    // Lays out the non-floating children in `rc`; returns the content height.
    virtual int LayoutChildren(const UIRect& rc);
    // Height the content needs for a given width (for "autominheight").
    virtual int EstimateContentHeight(int width);
    void UpdateScroll(int contentHeight, int visibleHeight);
    UIRect GetScrollBarRect() const;
    UIRect GetThumbRect() const;

    std::vector<std::unique_ptr<UIControl>> m_items;
    UIRect m_rcInset;
    int m_childPadding = 0;
    bool m_autoMinHeight = false;
    bool m_vscrollEnabled = false;
    bool m_hscrollEnabled = false;
    int m_scrollPos = 0;
    int m_scrollRange = 0;
    int m_contentHeight = 0;
    bool m_thumbDragging = false;
    int m_thumbDragOffset = 0;
};

}  // namespace KwLib
