#include "platform/ui/UIWindowWnd.h"

#include <SDL.h>

#include <cmath>

#include "platform/common/KWLog.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIInputLockWatchdog.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

UIWindowWnd::UIWindowWnd() : m_alive(std::make_shared<bool>(true)) {}

UIWindowWnd::~UIWindowWnd() {
    *m_alive = false;
    {
        // The derived window is gone already, so OnUnreadMessage cannot run.
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_acceptPosts = false;
        if (!m_posted.empty())
            VL_LOG_ERROR("window object %s deleted with %zu posted messages unread; their payloads leak",
                         GetWindowClassName().c_str(), m_posted.size());
    }
    if (m_created) {
        // Destroyed without DestroyWindow (an owner deleting a window object):
        // do the native part so nothing keeps a dangling pointer. The windows
        // this one owns go too, as they would with DestroyWindow: they point
        // at their owner.
        auto& app = UIApplication::Instance();
        std::vector<UIWindowWnd*> owned;
        for (UIWindowWnd* w : app.Windows())
            if (w->m_parent == this)
                owned.push_back(w);
        for (UIWindowWnd* w : owned)
            if (app.IsAlive(w))
                w->DestroyWindow();
        UIApplication::Instance().KillTimers(this);
        UIApplication::Instance().Unregister(this);
        DestroyNative();
    }
}

bool UIWindowWnd::Create(UIWindowWnd* parent, const std::string& title, int x, int y, int cx, int cy) {
    if (m_created)
        return false;
    m_parent = parent;
    m_title = title;
    m_centerPending = x < 0 || y < 0;
    // A window shown over another is drawn at the same scale, as one piece with it.
    m_scale = parent && parent->IsWindow() ? parent->GetScale() : UIApplication::Instance().GetWindowScale();
    m_client = {std::max(1, cx), std::max(1, cy)};
    const UISize device = DeviceSizeFor(m_client);
    m_rcWindow = {std::max(0, x), std::max(0, y), std::max(0, x) + device.cx, std::max(0, y) + device.cy};
    if (!CreateNative())
        return false;
    m_created = true;
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_acceptPosts = true;
    }
    UIApplication::Instance().Register(this);
    ApplyGeometry(false);
    std::shared_ptr<bool> alive = m_alive;
    if (SendMessageW(WM_CREATE, 0, 0) == -1) {
        // As with any window system: a window that refuses its creation is destroyed.
        DestroyWindow();
        return false;
    }
    if (!*alive)
        return false;
    if (m_centerPending && m_created)
        CenterWindow();
    return m_created;
}

bool UIWindowWnd::CreateNative() {
    auto& app = UIApplication::Instance();
    if (app.IsHeadless())
        return true;
    if (!app.EnsureVideo()) {
        VL_LOG_ERROR("no display for window %s", GetWindowClassName().c_str());
        return false;
    }
    if (!MakeNativeWindow())
        return false;
    int w = 0, h = 0, pw = 0, ph = 0;
    SDL_GetWindowSize(m_sdlWindow, &w, &h);
    SDL_GetWindowSizeInPixels(m_sdlWindow, &pw, &ph);
    if (w > 0 && pw > w) {
        m_pixelRatio = static_cast<double>(pw) / w;
        if (!m_parent)
            m_scale *= m_pixelRatio;
        const UISize device = DeviceSizeFor(m_client);
        m_rcWindow = {m_rcWindow.left, m_rcWindow.top, m_rcWindow.left + device.cx,
                      m_rcWindow.top + device.cy};
        PlaceNative();
    }
    return true;
}

bool UIWindowWnd::MakeNativeWindow() {
    // Our layouts draw their own title bars; the caption area drags the window.
    // A desktop that scales windows (Wayland's output scale) then hands us its
    // real pixels, and the layout is drawn at that scale instead of enlarged.
    uint32_t flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALLOW_HIGHDPI;
    const int w = std::max(1, static_cast<int>(std::lround(m_rcWindow.Width() / m_pixelRatio)));
    const int h = std::max(1, static_cast<int>(std::lround(m_rcWindow.Height() / m_pixelRatio)));
    m_sdlWindow = SDL_CreateWindow(m_title.c_str(), static_cast<int>(std::lround(m_rcWindow.left / m_pixelRatio)),
                                   static_cast<int>(std::lround(m_rcWindow.top / m_pixelRatio)), w, h, flags);
    if (!m_sdlWindow) {
        VL_LOG_ERROR("SDL_CreateWindow failed: %s", SDL_GetError());
        return false;
    }
    m_nativeSize = {w, h};
    if (m_topmost)
        SDL_SetWindowAlwaysOnTop(m_sdlWindow, SDL_TRUE);
    m_sdlId = SDL_GetWindowID(m_sdlWindow);
    if (UIApplication::Instance().IsKeyboardLocked())
        m_keyboardLock = true;
    if (m_keyboardLock) {
        SDL_SetWindowKeyboardGrab(m_sdlWindow, SDL_TRUE);
        UIInputLockWatchdog::Instance().NoteGrab(m_sdlWindow, true);
    }
    SDL_SetWindowHitTest(
        m_sdlWindow,
        [](SDL_Window*, const SDL_Point* area, void* data) -> SDL_HitTestResult {
            auto* self = static_cast<UIWindowWnd*>(data);
            UIPaintManager* pm = self->GetPaintManager();
            if (pm && self->IsInputEnabled() &&
                pm->IsCaptionPoint(self->WindowPointToClient(area->x, area->y)))
                return SDL_HITTEST_DRAGGABLE;
            return SDL_HITTEST_NORMAL;
        },
        this);
    return true;
}

void UIWindowWnd::DestroyNative() {
    if (m_sdlWindow) {
        UIInputLockWatchdog::Instance().NoteGrab(m_sdlWindow, false);
        SDL_DestroyWindow(m_sdlWindow);
        m_sdlWindow = nullptr;
        m_sdlId = 0;
    }
}

void UIWindowWnd::RecreateBeforeFirstShow() {
    // A window is created before its layout gives it a size. X11 window
    // managers that take no resize requests for unmapped windows (XWayland
    // under a wlroots kiosk) would map it at its first size and show nothing
    // of what is drawn into it; a window never shown is made anew at its size.
    const UISize wanted{std::max(1, static_cast<int>(std::lround(m_rcWindow.Width() / m_pixelRatio))),
                        std::max(1, static_cast<int>(std::lround(m_rcWindow.Height() / m_pixelRatio)))};
    if (wanted == m_nativeSize)
        return;
    SDL_Window* old = m_sdlWindow;
    const uint32_t oldId = m_sdlId;
    if (!MakeNativeWindow()) {
        m_sdlWindow = old;
        m_sdlId = oldId;
        return;
    }
    UIInputLockWatchdog::Instance().NoteGrab(old, false);
    SDL_DestroyWindow(old);
    if (m_iconRes)
        SetIcon(m_iconRes);
}

void UIWindowWnd::ShowWindow(bool show, bool takeFocus) {
    if (!m_created)
        return;
    m_visible = show;
    if (show && m_sdlWindow && !m_nativeShown)
        RecreateBeforeFirstShow();
    if (m_sdlWindow) {
        if (show) {
            m_nativeShown = true;
            SDL_ShowWindow(m_sdlWindow);
            // A box over the exam is the exam's dialog: a kiosk compositor
            // centres it over its owner instead of filling the screen with it.
            // Wayland knows a window's role only once it is shown.
            if (m_parent && m_parent->m_sdlWindow && m_parent->m_nativeShown)
                SDL_SetWindowModalFor(m_sdlWindow, m_parent->m_sdlWindow);
            if (takeFocus)
                SDL_RaiseWindow(m_sdlWindow);
        } else {
            SDL_HideWindow(m_sdlWindow);
        }
    }
    if (show) {
        m_minimized = false;
        UIPaintManager* pm = GetPaintManager();
        if (m_sdlWindow && pm && pm->GetMinInfo().cx > 0 && pm->GetMinInfo().cy > 0 && !m_fullScreen) {
            const UISize min = DeviceSizeFor(pm->GetMinInfo());
            SDL_SetWindowMinimumSize(m_sdlWindow, static_cast<int>(std::lround(min.cx / m_pixelRatio)),
                                     static_cast<int>(std::lround(min.cy / m_pixelRatio)));
        }
        if (UIPaintManager* pm = GetPaintManager())
            pm->Invalidate();
    }
}

int UIWindowWnd::ShowModal() {
    if (!m_created)
        return -1;
    auto& app = UIApplication::Instance();
    int result = -1;
    m_modalResult = &result;
    m_modal = true;
    std::shared_ptr<bool> alive = m_alive;
    UIWindowWnd* owner = m_parent;
    std::shared_ptr<bool> ownerAlive = owner ? owner->m_alive : nullptr;
    if (owner)
        owner->EnableInput(false);
    OnBeforeModal();
    ShowWindow(true, true);
    app.EnterModal();
    while (*alive && m_created && !app.IsQuitRequested()) {
        // Only a manual clock makes waiting pointless: a headless window on the
        // real clock waits for its timers and workers like any other, and so
        // does one that an outside driver may still answer.
        bool manual = app.IsHeadless() && UIClock::IsManual() && !app.HasExternalDriver();
        bool busy = app.PumpOnce(manual ? 0 : 10);
        if (!*alive || !m_created)
            break;
        if (!busy && manual && !app.RunIdleAction()) {
            VL_LOG_WARN("headless modal window %s has nothing left to do; ending it",
                        GetWindowClassName().c_str());
            Close(-1);
            app.PumpOnce(0);
        }
    }
    app.LeaveModal();
    if (owner && *ownerAlive)
        owner->EnableInput(true);
    if (*alive) {
        m_modal = false;
        m_modalResult = nullptr;
    }
    return result;
}

void UIWindowWnd::Close(int result) {
    if (!m_created)
        return;
    PostMessageW(WM_CLOSE, static_cast<uintptr_t>(result), 0);
}

void UIWindowWnd::DestroyWindow() {
    if (!m_created || m_destroying)
        return;
    m_destroying = true;
    // Owned windows go first, as on any desktop: none may outlive its owner.
    auto& app = UIApplication::Instance();
    std::vector<UIWindowWnd*> owned;
    for (UIWindowWnd* w : app.Windows())
        if (w->m_parent == this)
            owned.push_back(w);
    for (UIWindowWnd* w : owned)
        if (app.IsAlive(w))
            w->DestroyWindow();
    std::deque<KWMessage> unread;
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_acceptPosts = false;
        unread.swap(m_posted);
    }
    std::shared_ptr<bool> alive = m_alive;
    if (!unread.empty()) {
        VL_LOG_WARN("window %s destroyed with %zu posted messages unread", GetWindowClassName().c_str(),
                    unread.size());
        for (const KWMessage& m : unread)
            OnUnreadMessage(m);
        if (!*alive)
            return;
    }
    HandleMessage(WM_DESTROY, 0, 0);
    if (!*alive)
        return;
    m_destroying = true;
    UIApplication::Instance().KillTimers(this);
    if (UIPaintManager* pm = GetPaintManager())
        pm->StopTimers();
    UIApplication::Instance().Unregister(this);
    DestroyNative();
    m_created = false;
    m_visible = false;
    m_destroying = false;
    HandleMessage(WM_NCDESTROY, 0, 0);
    if (!*alive)
        return;
    OnFinalMessage();
}

void UIWindowWnd::CenterWindow() {
    m_centerPending = false;
    UISize area;
    UIRect base;
    if (m_parent && m_parent->IsWindow()) {
        base = m_parent->GetWindowRect();
        area = {base.Width(), base.Height()};
    } else {
        area = UIApplication::Instance().GetScreenSize();
    }
    int x = base.left + (area.cx - m_rcWindow.Width()) / 2;
    int y = base.top + (area.cy - m_rcWindow.Height()) / 2;
    MoveWindow(std::max(0, x), std::max(0, y), m_client.cx, m_client.cy);
}

void UIWindowWnd::SetIcon(int resId) {
    m_iconRes = resId;
    if (!m_sdlWindow)
        return;
    UIImageInfo info;
    if (!UILoadResource::ImageInfoFromFile(UIResourceSingleton::Instance().GetResourceFile(resId), info))
        return;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(info.pixels.data(), info.width, info.height, 32,
                                                        info.width * 4, SDL_PIXELFORMAT_ARGB8888);
    if (s) {
        SDL_SetWindowIcon(m_sdlWindow, s);
        SDL_FreeSurface(s);
    }
}

bool UIWindowWnd::PostMessageW(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        if (!m_acceptPosts)
            return false;
        m_posted.push_back({message, wParam, lParam});
    }
    UIApplication::Instance().Wake();
    return true;
}

intptr_t UIWindowWnd::SendMessageW(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return HandleMessage(message, wParam, lParam);
}

intptr_t UIWindowWnd::DispatchMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return DispatchMessage(message, wParam, lParam, UIClock::NowMs());
}

intptr_t UIWindowWnd::DispatchMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, uint64_t timeMs) {
    UIApplication::MessageTimeScope time(timeMs);
    auto& app = UIApplication::Instance();
    if (message == WM_KEYDOWN || message == WM_KEYUP)
        app.SetModifierKey(static_cast<uint32_t>(wParam), message == WM_KEYDOWN);
    else if (message == WM_KILLFOCUS)
        app.SetModifiers(0);
    if (message == WM_SETFOCUS || message == WM_KILLFOCUS)
        app.NoteFocus(this, message == WM_SETFOCUS);
    if (UIPaintManager* pm = GetPaintManager()) {
        intptr_t result = 0;
        if (pm->PreMessageHandler(message, wParam, lParam, result))
            return result;
    }
    return HandleMessage(message, wParam, lParam);
}

intptr_t UIWindowWnd::HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    (void)lParam;
    switch (message) {
        case WM_CLOSE:
            if (m_modalResult)
                *m_modalResult = static_cast<int>(wParam);
            DestroyWindow();
            return 0;
        case WM_SYSCOMMAND:
            if (wParam == SC_MINIMIZE)
                Minimize();
            else if (wParam == SC_RESTORE)
                Restore();
            else if (wParam == SC_CLOSE)
                Close(IDCLOSE);
            return 0;
        default:
            return 0;
    }
}

UISize UIWindowWnd::DeviceSizeFor(UISize client) const {
    return {std::max(1, static_cast<int>(std::lround(client.cx * m_scale))),
            std::max(1, static_cast<int>(std::lround(client.cy * m_scale)))};
}

void UIWindowWnd::PlaceNative() {
    if (!m_sdlWindow)
        return;
    // A Wayland client cannot place itself: full screen is the compositor's
    // own state there. X11 keeps a window covering its screen, which works
    // with and without a window manager.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::string(driver) == "wayland") {
        const bool native = (SDL_GetWindowFlags(m_sdlWindow) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
        if (native != m_fullScreen)
            SDL_SetWindowFullscreen(m_sdlWindow, m_fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
        if (m_fullScreen)
            return;
    }
    auto units = [this](int px) { return std::max(1, static_cast<int>(std::lround(px / m_pixelRatio))); };
    SDL_SetWindowPosition(m_sdlWindow, static_cast<int>(std::lround(m_rcWindow.left / m_pixelRatio)),
                          static_cast<int>(std::lround(m_rcWindow.top / m_pixelRatio)));
    int w = 0, h = 0;
    SDL_GetWindowSize(m_sdlWindow, &w, &h);
    if (w != units(m_rcWindow.Width()) || h != units(m_rcWindow.Height()))
        SDL_SetWindowSize(m_sdlWindow, units(m_rcWindow.Width()), units(m_rcWindow.Height()));
}

void UIWindowWnd::ApplyGeometry(bool clientChanged) {
    if (UIPaintManager* pm = GetPaintManager()) {
        const UISize device{m_rcWindow.Width(), m_rcWindow.Height()};
        UIPoint origin;
        if (m_fit) {
            // The layout in the middle of the screen, on whole pixels.
            const UISize shown = DeviceSizeFor(m_client);
            origin = {std::max(0, (device.cx - shown.cx) / 2), std::max(0, (device.cy - shown.cy) / 2)};
        }
        pm->SetGeometry(m_client, m_scale, device, origin);
    }
    if (clientChanged && m_created)
        SendMessageW(WM_SIZE, 0, MakeMouseLParam(m_client.cx, m_client.cy));
}

void UIWindowWnd::MoveWindow(int x, int y, int cx, int cy) {
    const UISize client{std::max(1, cx), std::max(1, cy)};
    const bool resized = client != m_client;
    m_client = client;
    if (!m_parent && !m_fullScreen && m_scale > 1.0) {
        // A desktop's scale never makes a window larger than the screen.
        const double fit = FitScale(client, UIApplication::Instance().GetScreenSize());
        if (m_scale > fit)
            m_scale = fit;
    }
    const UISize device = DeviceSizeFor(client);
    m_rcWindow = {x, y, x + device.cx, y + device.cy};
    PlaceNative();
    ApplyGeometry(resized);
}

void UIWindowWnd::ResizeClient(int cx, int cy) {
    MoveWindow(m_rcWindow.left, m_rcWindow.top, cx, cy);
}

void UIWindowWnd::SetScale(double scale) {
    scale = std::clamp(scale, 0.25, 8.0);
    if (scale == m_scale)
        return;
    m_scale = scale;
    if (m_fullScreen) {
        // Full screen keeps the screen's size; the layout is measured again in units.
        if (m_fit) {
            m_fitRequest = scale;
            SetFullScreenFit(m_client, scale);
            return;
        }
        const UISize screen{m_rcWindow.Width(), m_rcWindow.Height()};
        const UISize client{std::max(1, static_cast<int>(std::lround(screen.cx / m_scale))),
                            std::max(1, static_cast<int>(std::lround(screen.cy / m_scale)))};
        const bool resized = client != m_client;
        m_client = client;
        ApplyGeometry(resized);
        return;
    }
    MoveWindow(m_rcWindow.left, m_rcWindow.top, m_client.cx, m_client.cy);
}

UISize UIWindowWnd::GetScreenSizeInUnits() const {
    const UISize screen = UIApplication::Instance().GetScreenSize();
    return {static_cast<int>(screen.cx / m_scale), static_cast<int>(screen.cy / m_scale)};
}

void UIWindowWnd::OnNativeResize(int cx, int cy) {
    const UISize device{std::max(1, static_cast<int>(std::lround(cx * m_pixelRatio))),
                        std::max(1, static_cast<int>(std::lround(cy * m_pixelRatio)))};
    if (device == UISize{m_rcWindow.Width(), m_rcWindow.Height()})
        return;  // the size we asked for
    m_rcWindow.right = m_rcWindow.left + device.cx;
    m_rcWindow.bottom = m_rcWindow.top + device.cy;
    if (m_fit) {
        ApplyGeometry(false);
        return;
    }
    const UISize client{std::max(1, static_cast<int>(std::lround(device.cx / m_scale))),
                        std::max(1, static_cast<int>(std::lround(device.cy / m_scale)))};
    const bool resized = client != m_client;
    m_client = client;
    ApplyGeometry(resized);
}

UIPoint UIWindowWnd::WindowPointToClient(int x, int y) const {
    const UIPoint px{static_cast<int>(std::floor(x * m_pixelRatio)),
                     static_cast<int>(std::floor(y * m_pixelRatio))};
    if (UIPaintManager* pm = const_cast<UIWindowWnd*>(this)->GetPaintManager())
        return pm->DeviceToClient(px);
    return px;
}

void UIWindowWnd::PresentSurface(cairo_surface_t* surface, const UIRect& dirty) {
    if (!m_sdlWindow || !surface || dirty.IsEmpty())
        return;
    SDL_Surface* target = SDL_GetWindowSurface(m_sdlWindow);
    if (!target)
        return;
    const int width = cairo_image_surface_get_width(surface),
              height = cairo_image_surface_get_height(surface);
    SDL_Surface* src =
        SDL_CreateRGBSurfaceWithFormatFrom(cairo_image_surface_get_data(surface), width, height, 32,
                                           cairo_image_surface_get_stride(surface), SDL_PIXELFORMAT_ARGB8888);
    if (!src)
        return;
    SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
    if (target->w == width && target->h == height) {
        SDL_Rect r{dirty.left, dirty.top, dirty.Width(), dirty.Height()};
        SDL_BlitSurface(src, &r, target, &r);
        SDL_UpdateWindowSurfaceRects(m_sdlWindow, &r, 1);
    } else {
        // A desktop that hands over another size than the window's pixels
        // (mid-resize, or scaling windows itself) gets the whole picture fitted.
        SDL_BlitScaled(src, nullptr, target, nullptr);
        SDL_UpdateWindowSurface(m_sdlWindow);
    }
    SDL_FreeSurface(src);
}

void UIWindowWnd::SetWindowText(const std::string& title) {
    m_title = title;
    if (m_sdlWindow)
        SDL_SetWindowTitle(m_sdlWindow, title.c_str());
}

void UIWindowWnd::SetKeyboardLock(bool on) {
    m_keyboardLock = on;
    if (!m_sdlWindow)
        return;
    SDL_SetWindowKeyboardGrab(m_sdlWindow, on ? SDL_TRUE : SDL_FALSE);
    UIInputLockWatchdog::Instance().NoteGrab(m_sdlWindow, on);
}

bool UIWindowWnd::HoldsKeyboard() const {
    return m_sdlWindow && SDL_GetWindowKeyboardGrab(m_sdlWindow) == SDL_TRUE;
}

void UIWindowWnd::TakeFocus() {
    if (!m_sdlWindow || !m_visible)
        return;
    SDL_RaiseWindow(m_sdlWindow);
    // X11 without a window manager answers only an explicit focus request;
    // Wayland refuses it (the compositor decides) and says so harmlessly.
    SDL_SetWindowInputFocus(m_sdlWindow);
}

UIRect UIWindowWnd::GetDisplayBounds() const {
    const UISize screen = UIApplication::Instance().GetScreenSize();
    UIRect bounds{0, 0, screen.cx, screen.cy};
    if (!m_sdlWindow)
        return bounds;
    const int index = SDL_GetWindowDisplayIndex(m_sdlWindow);
    SDL_Rect r;
    if (index >= 0 && SDL_GetDisplayBounds(index, &r) == 0 && r.w > 0 && r.h > 0)
        bounds = {static_cast<int>(std::lround(r.x * m_pixelRatio)), static_cast<int>(std::lround(r.y * m_pixelRatio)),
                  static_cast<int>(std::lround((r.x + r.w) * m_pixelRatio)),
                  static_cast<int>(std::lround((r.y + r.h) * m_pixelRatio))};
    return bounds;
}

void UIWindowWnd::SetTopMost(bool topmost) {
    m_topmost = topmost;
    if (m_sdlWindow)
        SDL_SetWindowAlwaysOnTop(m_sdlWindow, topmost ? SDL_TRUE : SDL_FALSE);
}

double UIWindowWnd::FitScale(UISize layout, UISize screen) {
    if (layout.cx <= 0 || layout.cy <= 0)
        return 1.0;
    // A screen a little smaller than the layout (1280 x 720 under a 1024 x 768 exam)
    // shows all of it a little smaller rather than cutting off its bottom row of
    // buttons; below three quarters text would be too small to read, and the rest is cut.
    constexpr double kSmallest = 0.75;
    return std::max(kSmallest, std::min(static_cast<double>(screen.cx) / layout.cx,
                                        static_cast<double>(screen.cy) / layout.cy));
}

void UIWindowWnd::EnterFullScreenState() {
    if (m_fullScreen)
        return;
    m_fullScreen = true;
    m_rcBeforeFullScreen = m_rcWindow;
    m_clientBeforeFullScreen = m_client;
    m_scaleBeforeFullScreen = m_scale;
}

void UIWindowWnd::SetFullScreen(bool on) {
    if (!on) {
        if (!m_fullScreen)
            return;
        m_fullScreen = false;
        m_fit = false;
        m_scale = m_scaleBeforeFullScreen;
        const UIRect& r = m_rcBeforeFullScreen;
        MoveWindow(r.left, r.top, m_clientBeforeFullScreen.cx, m_clientBeforeFullScreen.cy);
        return;
    }
    if (m_fullScreen && !m_fit)
        return;
    EnterFullScreenState();
    m_fit = false;
    const UIRect display = GetDisplayBounds();
    const UISize screen{display.Width(), display.Height()};
    m_rcWindow = display;
    const UISize client{std::max(1, static_cast<int>(std::lround(screen.cx / m_scale))),
                        std::max(1, static_cast<int>(std::lround(screen.cy / m_scale)))};
    const bool resized = client != m_client;
    m_client = client;
    PlaceNative();
    ApplyGeometry(resized);
}

void UIWindowWnd::SetFullScreenFit(UISize layout, double scale) {
    EnterFullScreenState();
    m_fit = true;
    m_fitRequest = scale;
    layout = {std::max(1, layout.cx), std::max(1, layout.cy)};
    // The screen the window is on: on a desktop of several, the exam fills its own.
    const UIRect display = GetDisplayBounds();
    const UISize screen{display.Width(), display.Height()};
    const double fit = FitScale(layout, screen);
    m_scale = scale > 0 ? std::min(scale, fit) : fit;
    m_rcWindow = display;
    const bool resized = layout != m_client;
    m_client = layout;
    PlaceNative();
    ApplyGeometry(resized);
}

void UIWindowWnd::BringToFront() {
    if (!m_created)
        return;
    if (m_minimized)
        Restore();
    if (!m_visible)
        ShowWindow(true);
    if (m_sdlWindow)
        SDL_RaiseWindow(m_sdlWindow);
}

UIPoint UIWindowWnd::ClientToScreen(UIPoint pt) const {
    UIPoint px = pt;
    if (UIPaintManager* pm = const_cast<UIWindowWnd*>(this)->GetPaintManager())
        px = pm->ClientToDevice(pt);
    return {px.x + m_rcWindow.left, px.y + m_rcWindow.top};
}

void UIWindowWnd::Minimize() {
    m_minimized = true;
    if (m_sdlWindow)
        SDL_MinimizeWindow(m_sdlWindow);
}

void UIWindowWnd::Restore() {
    m_minimized = false;
    if (m_sdlWindow)
        SDL_RestoreWindow(m_sdlWindow);
}

void UIWindowWnd::EnableInput(bool enable) {
    m_inputDisabled += enable ? -1 : 1;
    if (m_inputDisabled < 0)
        m_inputDisabled = 0;
}

bool UIWindowWnd::SetTimer(int timerId, uint32_t elapseMs) {
    if (!m_created)
        return false;
    std::shared_ptr<bool> alive = m_alive;
    UIApplication::Instance().SetTimer(this, nullptr, timerId, elapseMs, [this, alive, timerId] {
        if (*alive)
            DispatchMessage(WM_TIMER, static_cast<uintptr_t>(timerId), 0);
    });
    return true;
}

void UIWindowWnd::KillTimer(int timerId) {
    UIApplication::Instance().KillTimer(this, nullptr, timerId);
}

std::deque<KWMessage> UIWindowWnd::TakePosted() {
    std::lock_guard<std::mutex> lock(m_postMutex);
    std::deque<KWMessage> out;
    out.swap(m_posted);
    return out;
}

bool UIWindowWnd::TakeOnePosted(KWMessage& out) {
    std::lock_guard<std::mutex> lock(m_postMutex);
    if (m_posted.empty())
        return false;
    out = m_posted.front();
    m_posted.pop_front();
    return true;
}

size_t UIWindowWnd::PostedCount() const {
    std::lock_guard<std::mutex> lock(m_postMutex);
    return m_posted.size();
}

bool UIWindowWnd::HasPosted() const {
    std::lock_guard<std::mutex> lock(m_postMutex);
    return !m_posted.empty();
}

void UIWindowWnd::PostQuitMessage(int exitCode) {
    UIApplication::Instance().PostQuitMessage(exitCode);
}

}  // namespace KwLib
