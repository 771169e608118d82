#pragma once
// UIPaintManager: one per window. Holds the control tree, routes mouse and
// keyboard input to controls, sends notifications, keeps fonts and option
// groups, lays out and paints only what was invalidated.
// UI thread only.
#include <cairo.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/UIControl.h"
#include "platform/ui/UIDefines.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

class UIWindowWnd;
class UIAnimationManager;

// A notification: what happened (UINotifyType), which control, two parameters.
struct UINotification {
    int type = 0;
    UIControl* sender = nullptr;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    UIPoint ptMouse;
    uint64_t timestamp = 0;
};

class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(UINotification& msg) = 0;
};

// Sees raw window messages before anything else (key capture, focus rules).
class IMessageFilterUI {
public:
    virtual ~IMessageFilterUI() = default;
    virtual intptr_t MessageHandler(uint32_t message, uintptr_t wParam, intptr_t lParam, bool& handled) = 0;
};

class UIPaintManager {
public:
    UIPaintManager();
    ~UIPaintManager();
    UIPaintManager(const UIPaintManager&) = delete;
    UIPaintManager& operator=(const UIPaintManager&) = delete;

    void Init(UIWindowWnd* window);
    UIWindowWnd* GetWindow() const { return m_window; }

    // Takes ownership of the root of the control tree.
    bool AttachDialog(UIControl* root);
    UIControl* GetRoot() const { return m_root.get(); }

    // ---- notifications and filters ----
    bool AddNotifier(INotifyUI* notifier);
    bool RemoveNotifier(INotifyUI* notifier);
    // Calls every notifier now, or from the message loop when `async`.
    void SendNotify(UIControl* sender, int type, uintptr_t wParam = 0, intptr_t lParam = 0,
                    bool async = false);
    bool AddMessageFilter(IMessageFilterUI* filter);
    bool RemoveMessageFilter(IMessageFilterUI* filter);
    // Runs the message filters; true when one marked the message handled.
    bool PreMessageHandler(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result);
    // Input, timers, size and paint messages for the controls.
    bool MessageHandler(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result);

    // ---- finding controls ----
    UIControl* FindControl(int id) const;
    UIControl* FindControl(UIPoint pt) const;
    UIControl* FindControl(const std::string& name) const;
    template <class T>
    T* FindControlAs(int id) const {
        return dynamic_cast<T*>(FindControl(id));
    }

    // ---- fonts ----
    // Fonts are looked up by name ("CustomFont16"); an unknown or empty name
    // gives the default font.
    void AddFont(const std::string& name, const std::string& face, int size, bool bold = false,
                 bool underline = false, bool italic = false, bool isDefault = false);
    const UIFont& GetFont(const std::string& name) const;
    const UIFont& GetDefaultFont() const { return m_defaultFont; }
    bool HasFont(const std::string& name) const { return m_fonts.count(name) > 0; }

    // ---- option groups ----
    bool AddGroup(const std::string& group, UIControl* option);
    const std::vector<UIControl*>* GetGroup(const std::string& group) const;
    // The selected option of a group, or nullptr.
    UIControl* GetGroupSelected(const std::string& group) const;
    void RemoveGroup(const std::string& group, UIControl* option);
    void RemoveAllGroups();

    // ---- window geometry ----
    // Layout, input, hit testing and automation work in layout units: the
    // client size below. The surface painted for the screen holds `scale`
    // pixels per unit, and the layout's top left corner sits at `origin`
    // on it; a layout smaller than the surface (a fixed layout on a whole
    // screen) is surrounded by its root's background (see SetBackdrop).
    UISize GetClientSize() const { return m_clientSize; }
    // A client of `size` units on a surface exactly that size times the scale.
    void SetClientSize(UISize size);
    void SetGeometry(UISize client, double scale, UISize device, UIPoint origin);
    double GetScale() const { return m_scale; }
    UISize GetDeviceSize() const { return m_deviceSize; }
    UIPoint GetDeviceOrigin() const { return m_origin; }
    // The layout point shown at a pixel of the surface: the one whose
    // painted rectangle holds the pixel, so a click hits what it shows.
    UIPoint DeviceToClient(UIPoint device) const;
    // The pixel of the surface where a layout point's top left corner is.
    UIPoint ClientToDevice(UIPoint pt) const;
    UIRect ClientToDevice(const UIRect& rc) const;
    // The control whose background image also fills the area around the
    // layout (its edges continued), so the layout does not float in a
    // surround of its own (layout attribute "backdrop" of the window).
    void SetBackdrop(int controlId);
    int GetBackdrop() const { return m_backdropId; }
    UISize GetMinInfo() const { return m_minInfo; }
    void SetMinInfo(UISize size) { m_minInfo = size; }
    UISize GetMaxInfo() const { return m_maxInfo; }
    void SetMaxInfo(UISize size) { m_maxInfo = size; }
    // The largest size the window may take (the screen size in full screen).
    void SetMaxWindow(UISize size) { m_maxInfo = size; }
    UISize GetMaxWindow() const { return m_maxInfo; }
    // Full screen, the layout growing to the screen's size (off: back).
    void SetFullScreenMode(bool on);
    // Full screen, a layout of fixed size scaled up to fill the screen as
    // far as its shape allows (UIWindowWnd::SetFullScreenFit); leave it with
    // SetFullScreenMode(false).
    void SetFullScreenFit(UISize layout, double scale = 0);
    bool IsFullScreenMode() const { return m_fullScreen; }
    // The caption area drags the window: "left,top,right,bottom" where bottom
    // is the height from the top edge (0 for right means the full width).
    void SetCaptionRect(const UIRect& rc) { m_captionRect = rc; }
    const UIRect& GetCaptionRect() const { return m_captionRect; }
    // True when `pt` is in the caption area and not on a control that takes clicks.
    bool IsCaptionPoint(UIPoint pt) const;
    void SetRoundCorner(UISize size) { m_roundCorner = size; }
    UISize GetRoundCorner() const { return m_roundCorner; }

    // ---- layout and painting ----
    void Invalidate();
    void Invalidate(const UIRect& rc);
    void NeedUpdate() { m_updateNeeded = true; }
    // Lays out the whole tree again and repaints the whole window.
    void UpdateAndInvalidate();
    bool IsPaintPending() const { return m_updateNeeded || !m_dirty.IsEmpty(); }
    // Lays out if needed and paints the dirty area. Returns the area painted.
    UIRect Paint();
    // The cairo context while painting, nullptr otherwise.
    cairo_t* GetPaintDC() const { return m_paintDC; }
    cairo_surface_t* GetSurface() const { return m_surface; }
    // Paints what is pending and writes the window as a PNG, as the screen
    // shows it (the surface's pixels).
    bool SaveScreenshot(const std::string& path);
    // ARGB of a pixel of the surface after painting what is pending.
    uint32_t DevicePixel(int x, int y);
    uint64_t GetPaintCount() const { return m_paintCount; }
    const UIRect& GetLastPaintRect() const { return m_lastPaint; }

    // ---- focus, capture, hover ----
    UIControl* GetFocus() const { return m_focus; }
    void SetFocus(UIControl* control);
    UIControl* GetHot() const { return m_hot; }
    // The pressed control: it gets the mouse's moves and the button's release
    // (and passes them on by its dispatch flags) wherever the pointer goes,
    // outside the window too, until the button is released.
    UIControl* GetCapture() const { return m_capture; }
    UIPoint GetMousePos() const { return m_mouse; }
    // Modifier keys held now (kModShift | kModCtrl | kModAlt).
    uint32_t GetModifiers() const;
    // False after the mouse left the window.
    bool IsMouseInside() const { return m_mouseInside; }
    // Text of the tooltip on screen, empty when none is shown.
    const std::string& GetToolTipText() const { return m_toolTipText; }
    // "hand", "ibeam" or "arrow": the cursor the window shows now.
    const std::string& GetCurrentCursor() const { return m_cursor; }
    // Shows a cursor at once ("hand", "ibeam", anything else the arrow). It
    // stays while a button is held; when the pointer moves with no button
    // held, the control under it decides again (its "cursor" attribute, then
    // whatever its OnMouseMove sets), so a control can show a cursor over
    // parts of itself only.
    void SetCursor(const std::string& cursor);

    // ---- timers and animations ----
    bool SetTimer(UIControl* control, int timerId, uint32_t elapseMs);
    void KillTimer(UIControl* control, int timerId);
    void KillTimer(UIControl* control);
    UIAnimationManager& GetAnimationManager() { return *m_animations; }
    // Stops every timer, animation and tooltip of this window's controls (the
    // window is being destroyed).
    void StopTimers();

    // A control that paints over everything and sees the mouse first while set
    // (an open drop-down list).
    void SetOverlay(UIControl* control);
    UIControl* GetOverlay() const { return m_overlay; }

    // Called by a container before it lets go of a control: forgets every
    // pointer to it and its children, and its option-group entries unless
    // `keepGroups` (a control that is only hidden keeps them).
    void ReapObjects(UIControl* control, bool keepGroups = false);
    // Destroys a removed control once the current event is finished, so a
    // notifier may remove the control that notified.
    void AddDelayedCleanup(std::unique_ptr<UIControl> control);
    bool IsDispatching() const { return m_dispatchDepth > 0; }

    // Runs the notifications sent with `async` (the message loop calls this).
    void FlushAsyncNotify();
    bool HasAsyncNotify() const { return !m_asyncNotify.empty(); }

    // Delivers a timer event (used by the timer service).
    void FireControlTimer(UIControl* control, int timerId);

    // The default message loop: runs until PostQuitMessage or until the last
    // window is gone.
    static void MessageLoop();

private:
    void DispatchEvent(UIControl* target, UIEvent& event);
    void SetHot(UIControl* control, UIPoint pt);
    void UpdateCursor(UIControl* control);
    void ShowCursor();
    void SetCapture(UIControl* control);
    void ReleaseCapture();
    void UpdateToolTip();
    void HideToolTip();
    void Cleanup();
    void CreateSurface();
    void PaintSurround(cairo_t* cr);
    void UpdateFontScales();

    UIWindowWnd* m_window = nullptr;
    std::unique_ptr<UIControl> m_root;
    std::vector<INotifyUI*> m_notifiers;
    std::vector<IMessageFilterUI*> m_filters;
    std::map<std::string, UIFont> m_fonts;
    UIFont m_defaultFont;
    std::map<std::string, std::vector<UIControl*>> m_groups;

    UISize m_clientSize;
    double m_scale = 1.0;
    UISize m_deviceSize;
    UIPoint m_origin;
    int m_backdropId = 0;
    bool m_surroundDirty = true;
    std::string m_surroundPainted;  // the backdrop image the surround shows
    UISize m_minInfo;
    UISize m_maxInfo;
    bool m_fullScreen = false;
    UIRect m_captionRect;
    UISize m_roundCorner;

    bool m_updateNeeded = true;
    UIRect m_dirty;
    UIRect m_lastPaint;
    cairo_surface_t* m_surface = nullptr;
    cairo_t* m_paintDC = nullptr;
    uint64_t m_paintCount = 0;

    UIControl* m_focus = nullptr;
    UIControl* m_hot = nullptr;
    UIControl* m_capture = nullptr;
    UIControl* m_overlay = nullptr;
    UIControl* m_toolTipControl = nullptr;
    UIPoint m_mouse;
    UIPoint m_lastDownPoint;
    bool m_mouseInside = false;
    std::string m_toolTipText;
    UIPoint m_toolTipPoint;
    std::string m_cursor = "arrow";
    std::string m_shownCursor = "arrow";
    bool m_cursorDeferred = false;  // a mouse move is being handled: show the cursor after it

    std::unique_ptr<UIAnimationManager> m_animations;
    std::vector<std::unique_ptr<UIControl>> m_delayedCleanup;
    std::vector<UINotification> m_asyncNotify;
    int m_dispatchDepth = 0;

    static constexpr int kToolTipTimerId = -100;
};

}  // namespace KwLib
