#pragma once
// UIControl: the base of every control and question element.
//
// Making a custom control: derive from UIControl (or a container), override
// GetClass, SetAttribute for your own layout attributes (call the base for the
// rest), DoPaint or one of the Paint* hooks, and the event hooks you need
// (OnLButtonDown, OnMouseMove, OnTimer, ...). Register the tag for layouts with
// an IDialogBuilderCallback (UIDialogBuilder.h), for example:
//
//     class UIMusicPlayer : public UIControl { ... };
//     struct Callback : IDialogBuilderCallback {
//         UIControl* CreateControl(const std::string& tag) override {
//             return tag == "MusicPlayer" ? new UIMusicPlayer : nullptr;
//         }
//     };
//
// Controls belong to the UI thread. A container owns its children.
#include <cairo.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/UIDefines.h"

namespace KwLib {

class UIPaintManager;
class UIContainer;
class UIControl;

enum UIEventType : int {
    kEventMouseMove = 1,
    kEventMouseEnter,
    kEventMouseLeave,
    kEventMouseHover,  // the mouse rested on the control for its tooltip delay
    kEventButtonDown,
    kEventButtonUp,
    kEventDblClick,
    kEventRButtonDown,
    kEventRButtonUp,
    kEventScrollWheel,  // wParam: signed wheel delta (120 per notch)
    kEventKeyDown,      // key: virtual key code
    kEventKeyUp,
    kEventChar,            // key: a Unicode code point
    kEventImeComposition,  // lParam: const std::string* composition text
    kEventSetFocus,
    kEventKillFocus,
    kEventTimer,  // wParam: timer id
};

struct UIEvent {
    int type = 0;
    UIControl* sender = nullptr;  // the control the event was aimed at
    UIPoint ptMouse;              // window coordinates
    uint32_t key = 0;
    uint32_t modifiers = 0;  // kModShift | kModCtrl | kModAlt
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    uint64_t timestamp = 0;
};

// Control state bits.
enum UIState : uint32_t {
    UISTATE_FOCUSED = 0x01,
    UISTATE_SELECTED = 0x02,
    UISTATE_DISABLED = 0x04,
    UISTATE_HOT = 0x08,
    UISTATE_PUSHED = 0x10,
    UISTATE_CAPTURED = 0x40,
};

class UIControl {
public:
    UIControl();
    virtual ~UIControl();
    UIControl(const UIControl&) = delete;
    UIControl& operator=(const UIControl&) = delete;

    virtual std::string GetClass() const { return "Control"; }

    // ---- identity ----
    int GetId() const { return m_id; }
    void SetId(int id) { m_id = id; }
    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    intptr_t GetTag() const { return m_tag; }
    void SetTag(intptr_t tag) { m_tag = tag; }
    const std::string& GetUserData() const { return m_userData; }
    void SetUserData(const std::string& data) { m_userData = data; }
    const std::string& GetText() const { return m_text; }
    virtual void SetText(const std::string& text);

    UIPaintManager* GetManager() const { return m_manager; }
    UIControl* GetParent() const { return m_parent; }
    // Attaches the control (and its children) to a window's paint manager.
    virtual void SetManager(UIPaintManager* manager, UIControl* parent, bool init = true);
    // Calls `fn` on this control and, for containers, on every descendant.
    virtual void ForEach(const std::function<void(UIControl*)>& fn);
    // The deepest visible control at `pt` that takes the mouse.
    virtual UIControl* FindControlAt(UIPoint pt);
    virtual UIControl* FindControlById(int id);
    virtual UIControl* FindControlByName(const std::string& name);

    // ---- position ----
    const UIRect& GetPos() const { return m_rcItem; }
    virtual void SetPos(UIRect rc, bool needInvalidate = true);
    int GetX() const { return m_rcItem.left; }
    int GetY() const { return m_rcItem.top; }
    int GetWidth() const { return m_rcItem.Width(); }
    int GetHeight() const { return m_rcItem.Height(); }
    const UIRect& GetPadding() const { return m_rcPadding; }
    void SetPadding(const UIRect& padding);
    int GetFixedWidth() const { return m_cxyFixed.cx; }
    void SetFixedWidth(int cx);
    int GetFixedHeight() const { return m_cxyFixed.cy; }
    void SetFixedHeight(int cy);
    int GetMinWidth() const { return m_cxyMin.cx; }
    void SetMinWidth(int cx);
    int GetMaxWidth() const { return m_cxyMax.cx; }
    void SetMaxWidth(int cx);
    int GetMinHeight() const { return m_cxyMin.cy; }
    void SetMinHeight(int cy);
    int GetMaxHeight() const { return m_cxyMax.cy; }
    void SetMaxHeight(int cy);
    // The size this control wants, given the space available. 0 in a
    // dimension means "share what is left".
    virtual UISize EstimateSize(UISize available);
    // Float placement: a control with float="true" sits at its "pos"
    // ("left,top,right,bottom" relative to the parent's top-left corner)
    // instead of taking part in its parent's layout. SetFloatPos also makes
    // the control float.
    bool IsFloat() const { return m_float; }
    void SetFloat(bool on);
    const UIRect& GetFloatPos() const { return m_floatPos; }
    void SetFloatPos(const UIRect& pos);

    // ---- state ----
    virtual bool IsVisible() const { return m_visible && m_internVisible; }
    // Visible by its own setting, whatever its ancestors: what layout and
    // measuring go by, so that a control measured while its page is hidden
    // gets the size it will have once shown.
    bool IsVisibleInLayout() const { return m_visible; }
    virtual void SetVisible(bool visible = true);
    // Visibility forced by a hidden ancestor.
    virtual void SetInternVisible(bool visible = true);
    virtual bool IsEnabled() const { return m_enabled; }
    virtual void SetEnabled(bool enabled = true);
    bool IsMouseEnabled() const { return m_mouseEnabled; }
    void SetMouseEnabled(bool enabled) { m_mouseEnabled = enabled; }
    bool IsKeyboardEnabled() const { return m_keyboardEnabled; }
    void SetKeyboardEnabled(bool enabled) { m_keyboardEnabled = enabled; }
    bool IsFocused() const { return (m_state & UISTATE_FOCUSED) != 0; }
    void SetFocus();
    uint32_t GetState() const { return m_state; }
    bool IsHot() const { return (m_state & UISTATE_HOT) != 0; }
    bool IsPushed() const { return (m_state & UISTATE_PUSHED) != 0; }
    bool IsCaptured() const { return (m_state & UISTATE_CAPTURED) != 0; }

    // ---- appearance ----
    UIColor GetBkColor() const { return m_bkColor; }
    void SetBkColor(UIColor color);
    UIColor GetBorderColor() const { return m_borderColor; }
    void SetBorderColor(UIColor color);
    int GetBorderSize() const { return m_borderSize; }
    void SetBorderSize(int size);
    int GetBorderRound() const { return m_borderRound; }
    void SetBorderRound(int radius);
    const std::string& GetBkImage() const { return m_bkImage; }
    void SetBkImage(const std::string& image);
    // State images: normal, hot, pushed, focused, disabled; selected ones live
    // in UIOption.
    const std::string& GetNormalImage() const { return m_normalImage; }
    void SetNormalImage(const std::string& image);
    const std::string& GetHotImage() const { return m_hotImage; }
    void SetHotImage(const std::string& image);
    const std::string& GetPushedImage() const { return m_pushedImage; }
    void SetPushedImage(const std::string& image);
    void SetFocusedImage(const std::string& image);
    const std::string& GetDisabledImage() const { return m_disabledImage; }
    void SetDisabledImage(const std::string& image);
    const std::string& GetForeImage() const { return m_foreImage; }
    void SetForeImage(const std::string& image);
    UIColor GetTextColor() const { return m_textColor; }
    void SetTextColor(UIColor color);
    void SetHotTextColor(UIColor color);
    void SetDisabledTextColor(UIColor color);
    const std::string& GetFont() const { return m_font; }
    void SetFont(const std::string& fontName);
    uint32_t GetTextStyle() const { return m_textStyle; }
    void SetTextStyle(uint32_t format);
    const UIRect& GetTextPadding() const { return m_rcTextPadding; }
    void SetTextPadding(const UIRect& padding);
    const std::string& GetToolTip() const { return m_toolTip; }
    void SetToolTip(const std::string& text) { m_toolTip = text; }
    int GetToolTipDelay() const { return m_toolTipDelay; }
    void SetToolTipDelay(int ms) { m_toolTipDelay = ms; }
    // "hand" or "arrow".
    const std::string& GetCursor() const { return m_cursor; }
    void SetCursor(const std::string& cursor) { m_cursor = cursor; }

    // ---- dispatch and notify flags ----
    // Dispatch flag kDispatchMouseToParent (10) passes this control's mouse
    // events on to its parent too.
    void SetControlDispatch(int flag, bool on = true);
    bool GetControlDispatch(int flag) const;
    // Notify flags enable optional notifications by kind, e.g. kNotifyDblClick (13).
    void SetControlNotify(int type, bool on = true);
    bool GetControlNotify(int type) const;

    // ---- layout attributes ----
    virtual void SetAttribute(const std::string& name, const std::string& value);
    // Applies "name=\"value\" name2=\"value2\"" in order.
    void ApplyAttributeList(const std::string& list);

    // ---- painting ----
    virtual void DoPaint(cairo_t* cr, const UIRect& rcPaint);
    virtual void PaintBkColor(cairo_t* cr);
    virtual void PaintBkImage(cairo_t* cr);
    virtual void PaintStatusImage(cairo_t* cr);
    virtual void PaintText(cairo_t* cr);
    virtual void PaintBorder(cairo_t* cr);
    // Painted after every control of the window, for overlays (drop-downs).
    virtual void DoPostPaint(cairo_t* cr, const UIRect& rcPaint);
    // The paint manager closed this control's overlay (a click elsewhere).
    virtual void OnOverlayDismissed() {}
    // Draws an image string into this control's rectangle.
    bool DrawImage(cairo_t* cr, const std::string& imageString);

    void Invalidate();
    bool IsUpdateNeeded() const { return m_updateNeeded; }
    void NeedUpdate();
    void NeedParentUpdate();

    // ---- events ----
    // Dispatches an event to the hooks below. Override to see every event.
    virtual void Event(UIEvent& event);
    virtual void OnLButtonDown(UIPoint pt);
    virtual void OnLButtonUp(UIPoint pt);
    virtual void OnLButtonDblClk(UIPoint pt);
    virtual void OnMouseMove(UIPoint pt);
    virtual void OnMouseEnter(UIPoint pt);
    virtual void OnMouseLeave(UIPoint pt);
    virtual void OnTimer(int timerId);
    // A click (button released over the control): buttons notify, options toggle.
    virtual bool Activate();

    // ---- animation hooks (UIAnimationManager) ----
    virtual void OnAnimationStart(int animationId) { (void)animationId; }
    // `frame` counts from 0; `frameCount` is 0 for open-ended animations.
    virtual void OnAnimationStep(int animationId, int frame, int frameCount);
    virtual void OnAnimationStop(int animationId) { (void)animationId; }

    // Timers aimed at this control (delivered to OnTimer).
    bool SetTimer(int timerId, uint32_t elapseMs);
    void KillTimer(int timerId);

protected:
    // The rectangle inside the border and text padding, where text goes.
    UIRect GetTextRect() const;

    UIPaintManager* m_manager = nullptr;
    UIControl* m_parent = nullptr;
    int m_id = 0;
    std::string m_name;
    intptr_t m_tag = 0;
    std::string m_userData;
    std::string m_text;

    UIRect m_rcItem;
    UIRect m_rcPadding;
    UISize m_cxyFixed;
    UISize m_cxyMin;
    UISize m_cxyMax{9999, 9999};
    bool m_float = false;
    UIRect m_floatPos;
    bool m_updateNeeded = true;

    bool m_visible = true;
    bool m_internVisible = true;
    bool m_enabled = true;
    bool m_mouseEnabled = true;
    bool m_keyboardEnabled = true;
    uint32_t m_state = 0;

    UIColor m_bkColor = 0;
    UIColor m_borderColor = 0;
    int m_borderSize = 0;
    int m_borderRound = 0;
    std::string m_bkImage;
    std::string m_normalImage;
    std::string m_hotImage;
    std::string m_pushedImage;
    std::string m_focusedImage;
    std::string m_disabledImage;
    std::string m_foreImage;
    UIColor m_textColor = 0xFF333333;
    UIColor m_hotTextColor = 0;
    UIColor m_disabledTextColor = 0xFFA7A6AA;
    std::string m_font;
    uint32_t m_textStyle = DT_VCENTER | DT_SINGLELINE;
    UIRect m_rcTextPadding;
    std::string m_toolTip;
    int m_toolTipDelay = 500;
    std::string m_cursor;
    uint64_t m_dispatchFlags = 0;
    uint64_t m_notifyFlags = 0;
    // Image frames of an animation added with images (UIAnimationManager).
    friend class UIAnimationManager;
    std::map<int, std::vector<std::string>> m_animationFrames;
};

}  // namespace KwLib
