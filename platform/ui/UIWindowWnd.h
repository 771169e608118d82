#pragma once
// UIWindowWnd: one top-level window, an SDL2 window or a headless one that
// renders into memory only. Messages keep their classic numbers; other
// threads hand results to a window with PostMessageW, which is safe from any
// thread (the heap payload in lParam then belongs to the window).
//
// Lifetime: Close posts WM_CLOSE; HandleMessage(WM_CLOSE) ends in
// DestroyWindow, which sends WM_DESTROY and finally calls OnFinalMessage,
// where a window created with new may delete itself.
// UI thread only, except PostMessageW.
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include <cairo.h>

#include "platform/common/KWMessage.h"
#include "platform/ui/UIDefines.h"

struct SDL_Window;

namespace KwLib {

class UIPaintManager;

// Results of modal windows.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDCLOSE = 8;

class UIWindowWnd : public IKWMessageReceiver {
public:
    UIWindowWnd();
    ~UIWindowWnd() override;
    UIWindowWnd(const UIWindowWnd&) = delete;
    UIWindowWnd& operator=(const UIWindowWnd&) = delete;

    virtual std::string GetWindowClassName() const { return "UIWindow"; }
    // The paint manager of the window, if it has one.
    virtual UIPaintManager* GetPaintManager() { return nullptr; }

    // Creates the window (hidden) and sends WM_CREATE. A zero size lets the
    // layout decide; x or y of -1 centres the window. When WM_CREATE returns
    // -1 the window is destroyed again (OnFinalMessage runs) and false returned.
    bool Create(UIWindowWnd* parent, const std::string& title, int x = -1, int y = -1, int cx = 0,
                int cy = 0);
    bool IsWindow() const { return m_created; }
    void ShowWindow(bool show = true, bool takeFocus = true);
    bool IsVisible() const { return m_visible; }
    // Shows the window and runs a nested loop until it closes; the owner takes
    // no input meanwhile. Returns the value given to Close.
    int ShowModal();
    bool IsModal() const { return m_modal; }
    // Asks the window to close (WM_CLOSE with `result` as wParam).
    void Close(int result = IDOK);
    // Destroys the windows this one owns, then this one. Prefer Close from
    // inside the window's own handlers.
    void DestroyWindow();
    void CenterWindow();
    void SetIcon(int resId);
    int GetIcon() const { return m_iconRes; }

    bool PostMessageW(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) override;
    intptr_t SendMessageW(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
    // Runs the message filters, then HandleMessage (the path of queued and input messages).
    intptr_t DispatchMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    // The same for an input event that happened at `timeMs` on the toolkit
    // clock; handlers read it with UIApplication::GetMessageTime.
    intptr_t DispatchMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, uint64_t timeMs);
    virtual intptr_t HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    // Called before the nested loop of ShowModal starts.
    virtual void OnBeforeModal() {}
    // The very last call, after the window is gone. A window made with new
    // may `delete this` here.
    virtual void OnFinalMessage() {}
    // A message posted to this window that it will never handle: the window
    // is being destroyed with it still queued. Workers hand over heap payloads
    // in wParam or lParam; a window that takes such messages frees them here.
    virtual void OnUnreadMessage(const KWMessage& message) { (void)message; }

    // ---- geometry and style ----
    // A window has two kinds of size. Its layout works in layout units (the
    // client size, what controls, input and automation see); the screen
    // shows `scale` pixels per unit. Places on the screen are in the
    // screen's pixels. At scale 1 the two are the same.
    //
    // The window's place and size on the screen, in pixels.
    UIRect GetWindowRect() const { return m_rcWindow; }
    // The client area in layout units.
    UISize GetClientSize() const { return m_client; }
    // Screen pixels per layout unit.
    double GetScale() const { return m_scale; }
    // Shows the window `scale` times larger (the layout keeps its size in
    // units). A window takes its owner's scale when it is created, a window
    // without owner the desktop's (UIApplication::GetWindowScale).
    void SetScale(double scale);
    // Puts the window at x, y (screen pixels) with a client area of cx x cy
    // layout units. A window without owner is never scaled past the screen.
    void MoveWindow(int x, int y, int cx, int cy);
    void ResizeClient(int cx, int cy);
    // The screen's size in this window's layout units.
    UISize GetScreenSizeInUnits() const;
    void SetWindowText(const std::string& title);
    const std::string& GetWindowText() const { return m_title; }
    void SetTopMost(bool topmost);
    bool IsTopMost() const { return m_topmost; }
    // Full screen with the layout growing to fill it (in layout units at the
    // window's scale); off returns to the window's place, size and scale.
    void SetFullScreen(bool on);
    // Full screen showing a layout of fixed size `layout`: scaled to fill
    // the screen as far as its shape allows (`scale` 0: the largest scale
    // that shows it whole, never below 1; else that scale, at most the
    // largest), centred, the rest of the screen showing its backdrop.
    void SetFullScreenFit(UISize layout, double scale = 0);
    bool IsFullScreen() const { return m_fullScreen; }
    // The scale that shows `layout` whole on a screen of `screen` pixels:
    // the smaller of the two ratios, never below 1 (a smaller screen shows
    // the layout at its size, from its top left corner).
    static double FitScale(UISize layout, UISize screen);
    bool IsMinimized() const { return m_minimized; }
    void Minimize();
    void Restore();
    // Shows, restores and raises the window (a second start of the program
    // brings the first one to the front this way).
    void BringToFront();
    // A layout point of the client area on the screen, in pixels.
    UIPoint ClientToScreen(UIPoint pt) const;
    // The layout point under a pixel of the window (x, y from its top left
    // corner, in the desktop's window coordinates): what mouse events carry.
    UIPoint WindowPointToClient(int x, int y) const;
    UIWindowWnd* GetParent() const { return m_parent; }

    // ---- holding the keyboard ----
    // While locked, the window holds the keyboard whenever it has the focus
    // (an X11 keyboard grab, or Wayland's keyboard-shortcuts-inhibit), so the
    // desktop's shortcuts (Alt+Tab, Super) reach it instead of leaving it.
    // UIApplication::SetKeyboardLock locks every window of the program.
    void SetKeyboardLock(bool on);
    bool IsKeyboardLocked() const { return m_keyboardLock; }
    // Whether the desktop hands the keyboard to this window alone now.
    bool HoldsKeyboard() const;
    // Raises the window and asks the desktop for the keyboard focus.
    void TakeFocus();
    // Where the window's screen lies on the desktop, in pixels.
    UIRect GetDisplayBounds() const;

    // Input is refused while a modal window owned by this one is up.
    void EnableInput(bool enable);
    bool IsInputEnabled() const { return m_inputDisabled == 0; }

    // Window timers: WM_TIMER with the id in wParam, every `elapseMs`.
    bool SetTimer(int timerId, uint32_t elapseMs);
    void KillTimer(int timerId);

    // Takes the messages posted so far.
    std::deque<KWMessage> TakePosted();
    // Takes the oldest posted message; the message loop calls this, one message
    // at a time, so whatever a destroyed window left unread is still queued
    // for OnUnreadMessage.
    bool TakeOnePosted(KWMessage& out);
    bool HasPosted() const;
    size_t PostedCount() const;
    SDL_Window* GetNativeWindow() const { return m_sdlWindow; }
    uint32_t GetNativeId() const { return m_sdlId; }

    // Ends the message loop (WM_QUIT).
    static void PostQuitMessage(int exitCode = 0);

    // Shows the painted pixels of `dirty` (surface pixels) in the native window.
    void PresentSurface(cairo_surface_t* surface, const UIRect& dirty);

protected:
    // Called when the native window changed size on its own (the desktop
    // resized it), with its new size in the desktop's window coordinates.
    void OnNativeResize(int cx, int cy);

private:
    friend class UIApplication;
    bool CreateNative();
    bool MakeNativeWindow();
    void RecreateBeforeFirstShow();
    void DestroyNative();
    // The window's surface size in pixels for a client size in units.
    UISize DeviceSizeFor(UISize client) const;
    // Hands client size, scale and surface to the paint manager; sends
    // WM_SIZE when the client size changed.
    void ApplyGeometry(bool clientChanged);
    void PlaceNative();
    void EnterFullScreenState();

    UIWindowWnd* m_parent = nullptr;
    std::string m_title;
    UIRect m_rcWindow;      // screen pixels
    UISize m_client{1, 1};  // layout units
    double m_scale = 1.0;
    // Pixels per window coordinate of the desktop (above 1 where the desktop
    // scales windows itself and hands us their real pixels).
    double m_pixelRatio = 1.0;
    bool m_fit = false;  // full screen of a fixed layout, scaled and centred
    double m_fitRequest = 0;
    UISize m_clientBeforeFullScreen;
    double m_scaleBeforeFullScreen = 1.0;
    bool m_created = false;
    bool m_visible = false;
    bool m_topmost = false;
    bool m_minimized = false;
    bool m_fullScreen = false;
    UIRect m_rcBeforeFullScreen;
    int m_iconRes = 0;
    int m_inputDisabled = 0;
    bool m_modal = false;
    bool m_centerPending = false;
    bool m_destroying = false;
    std::shared_ptr<bool> m_alive;
    int* m_modalResult = nullptr;

    SDL_Window* m_sdlWindow = nullptr;
    uint32_t m_sdlId = 0;
    UISize m_nativeSize;  // the native window's size when it was made
    bool m_nativeShown = false;
    bool m_keyboardLock = false;

    mutable std::mutex m_postMutex;
    std::deque<KWMessage> m_posted;
    bool m_acceptPosts = false;
};

}  // namespace KwLib
