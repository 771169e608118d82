#include "platform/ui/UIPaintManager.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>

#include "platform/common/KWLog.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIContainer.h"
#include "platform/ui/UIWindowWnd.h"

namespace KwLib {

UIPaintManager::UIPaintManager() : m_animations(std::make_unique<UIAnimationManager>(this)) {
    UIRenderUtils::PrepareFont(m_defaultFont);
}

UIPaintManager::~UIPaintManager() {
    // Controls call back into the manager while they are destroyed, so they
    // go first.
    m_delayedCleanup.clear();
    m_root.reset();
    UIApplication::Instance().KillTimers(this);
    m_animations.reset();
    for (auto& [name, font] : m_fonts)
        UIRenderUtils::ReleaseFont(font);
    UIRenderUtils::ReleaseFont(m_defaultFont);
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

void UIPaintManager::Init(UIWindowWnd* window) {
    m_window = window;
    if (window)
        SetClientSize(window->GetClientSize());
}

bool UIPaintManager::AttachDialog(UIControl* root) {
    if (!root)
        return false;
    if (m_root) {
        ReapObjects(m_root.get());
        if (IsDispatching())
            AddDelayedCleanup(std::move(m_root));
        m_root.reset();
    }
    m_root.reset(root);
    root->SetManager(this, nullptr, true);
    UpdateAndInvalidate();
    return true;
}

// ---- notifications and filters ----

namespace {
// Notifier and filter lists hold each listener once, in registration order.
template <typename T>
bool AddOnce(std::vector<T*>& list, T* item) {
    if (!item || std::find(list.begin(), list.end(), item) != list.end())
        return false;
    list.push_back(item);
    return true;
}

template <typename T>
bool RemoveOnce(std::vector<T*>& list, T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}
}  // namespace

bool UIPaintManager::AddNotifier(INotifyUI* notifier) {
    return AddOnce(m_notifiers, notifier);
}

bool UIPaintManager::RemoveNotifier(INotifyUI* notifier) {
    return RemoveOnce(m_notifiers, notifier);
}

void UIPaintManager::SendNotify(UIControl* sender, int type, uintptr_t wParam, intptr_t lParam, bool async) {
    UINotification msg{type, sender, wParam, lParam, m_mouse, UIClock::NowMs()};
    if (async) {
        m_asyncNotify.push_back(msg);
        UIApplication::Instance().Wake();
        return;
    }
    // A notifier may remove controls (even the sender): keep them alive until
    // the notification is done.
    ++m_dispatchDepth;
    std::vector<INotifyUI*> notifiers = m_notifiers;
    for (INotifyUI* n : notifiers) {
        if (std::find(m_notifiers.begin(), m_notifiers.end(), n) == m_notifiers.end())
            continue;
        n->Notify(msg);
    }
    if (--m_dispatchDepth == 0)
        Cleanup();
}

void UIPaintManager::FlushAsyncNotify() {
    std::vector<UINotification> pending;
    pending.swap(m_asyncNotify);
    for (auto& msg : pending)
        SendNotify(msg.sender, msg.type, msg.wParam, msg.lParam, false);
}

bool UIPaintManager::AddMessageFilter(IMessageFilterUI* filter) {
    return AddOnce(m_filters, filter);
}

bool UIPaintManager::RemoveMessageFilter(IMessageFilterUI* filter) {
    return RemoveOnce(m_filters, filter);
}

bool UIPaintManager::PreMessageHandler(uint32_t message, uintptr_t wParam, intptr_t lParam,
                                       intptr_t& result) {
    std::vector<IMessageFilterUI*> filters = m_filters;
    for (IMessageFilterUI* f : filters) {
        if (std::find(m_filters.begin(), m_filters.end(), f) == m_filters.end())
            continue;
        bool handled = false;
        intptr_t r = f->MessageHandler(message, wParam, lParam, handled);
        if (handled) {
            result = r;
            return true;
        }
    }
    return false;
}

// ---- input ----

namespace {
// The dispatch flag by which a container asks for one kind of event over its descendants.
int ListenFlag(int eventType) {
    switch (eventType) {
        case kEventMouseMove:
            return kDispatchMouseMove;
        case kEventButtonDown:
            return kDispatchButtonDown;
        case kEventButtonUp:
            return kDispatchButtonUp;
        case kEventDblClick:
            return kDispatchDblClick;
        default:
            return 0;
    }
}
}  // namespace

void UIPaintManager::DispatchEvent(UIControl* target, UIEvent& event) {
    if (!target)
        return;
    ++m_dispatchDepth;
    event.sender = target;
    target->Event(event);
    // Mouse events go on up the tree: to a parent while each control passes
    // them on (flag 10), and to any ancestor that asked for their kind, so an
    // element sees the mouse over the labels and pictures it is made of. Each
    // control sees an event once.
    if (event.type >= kEventMouseMove && event.type <= kEventScrollWheel) {
        const int listen = ListenFlag(event.type);
        bool passing = target->GetControlDispatch(kDispatchMouseToParent);
        for (UIControl* c = target->GetParent(); c; c = c->GetParent()) {
            if (passing || (listen && c->GetControlDispatch(listen))) {
                c->Event(event);
                passing = c->GetControlDispatch(kDispatchMouseToParent);
            } else {
                passing = false;
            }
        }
    }
    if (--m_dispatchDepth == 0)
        Cleanup();
}

void UIPaintManager::SetHot(UIControl* control, UIPoint pt) {
    if (control == m_hot)
        return;
    UIEvent e;
    e.ptMouse = pt;
    e.timestamp = UIApplication::Instance().GetMessageTime();
    e.modifiers = GetModifiers();
    if (m_hot) {
        UIControl* old = m_hot;
        m_hot = nullptr;
        e.type = kEventMouseLeave;
        DispatchEvent(old, e);
    }
    HideToolTip();
    m_hot = control;
    if (m_hot) {
        e.type = kEventMouseEnter;
        DispatchEvent(m_hot, e);
        if (m_hot && !m_hot->GetToolTip().empty()) {
            m_toolTipControl = m_hot;
            UIApplication::Instance().SetTimer(this, nullptr, kToolTipTimerId,
                                               static_cast<uint32_t>(std::max(1, m_hot->GetToolTipDelay())),
                                               [this] { UpdateToolTip(); });
        }
    }
    UpdateCursor(m_hot);
}

void UIPaintManager::UpdateCursor(UIControl* control) {
    std::string cursor = "arrow";
    for (UIControl* c = control; c; c = c->GetParent()) {
        if (!c->GetCursor().empty()) {
            cursor = c->GetCursor();
            break;
        }
    }
    if (control && !control->IsEnabled())
        cursor = "arrow";
    m_cursor = cursor;
    if (!m_cursorDeferred)
        ShowCursor();
}

void UIPaintManager::SetCursor(const std::string& cursor) {
    m_cursor = cursor == "hand" || cursor == "ibeam" ? cursor : "arrow";
    if (!m_cursorDeferred)
        ShowCursor();
}

void UIPaintManager::ShowCursor() {
    if (m_cursor == m_shownCursor)
        return;
    m_shownCursor = m_cursor;
    if (m_window && m_window->GetNativeWindow()) {
        static SDL_Cursor* hand = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
        static SDL_Cursor* arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
        static SDL_Cursor* ibeam = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_IBEAM);
        SDL_SetCursor(m_cursor == "hand" ? hand : m_cursor == "ibeam" ? ibeam : arrow);
    }
}

void UIPaintManager::SetCapture(UIControl* control) {
    if (control == m_capture)
        return;
    m_capture = control;
    // The desktop reports the pointer outside the window too while a control holds it.
    if (m_window && m_window->GetNativeWindow())
        SDL_CaptureMouse(control ? SDL_TRUE : SDL_FALSE);
}

void UIPaintManager::ReleaseCapture() {
    SetCapture(nullptr);
}

void UIPaintManager::UpdateToolTip() {
    UIApplication::Instance().KillTimer(this, nullptr, kToolTipTimerId);
    if (!m_toolTipControl || m_toolTipControl != m_hot)
        return;
    m_toolTipText = m_toolTipControl->GetToolTip();
    m_toolTipPoint = m_mouse;
    UIEvent e;
    e.type = kEventMouseHover;
    e.ptMouse = m_mouse;
    DispatchEvent(m_toolTipControl, e);
    Invalidate();
}

void UIPaintManager::HideToolTip() {
    UIApplication::Instance().KillTimer(this, nullptr, kToolTipTimerId);
    m_toolTipControl = nullptr;
    if (!m_toolTipText.empty()) {
        m_toolTipText.clear();
        Invalidate();
    }
}

bool UIPaintManager::MessageHandler(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result) {
    result = 0;
    if (!m_root)
        return false;
    UIEvent e;
    e.timestamp = UIApplication::Instance().GetMessageTime();
    e.wParam = wParam;
    e.lParam = lParam;
    auto mouseModifiers = [&] {
        e.modifiers = (GetModifiers() & kModAlt) | ((wParam & MK_SHIFT) ? kModShift : 0) |
                      ((wParam & MK_CONTROL) ? kModCtrl : 0);
    };
    switch (message) {
        case WM_SIZE: {
            // The window has placed the layout on its surface already; a
            // size of its own is taken only from a window that did not.
            UIPoint p = PointFromLParam(lParam);
            if (UISize{p.x, p.y} != m_clientSize)
                SetClientSize({p.x, p.y});
            return false;
        }
        case WM_MOUSEMOVE: {
            m_mouse = PointFromLParam(lParam);
            m_mouseInside = true;
            mouseModifiers();
            e.ptMouse = m_mouse;
            if (m_toolTipControl && !m_toolTipText.empty())
                HideToolTip();
            if (m_capture) {
                // A drag keeps the cursor its control chose until that control changes it.
                e.type = kEventMouseMove;
                DispatchEvent(m_capture, e);
                return true;
            }
            // The control under the pointer decides the cursor anew on every
            // move, and may choose another for the point it is at; the
            // desktop sees only the final choice.
            m_cursorDeferred = true;
            UIControl* over = FindControl(m_mouse);
            SetHot(over, m_mouse);
            UpdateCursor(m_hot);
            if (m_hot) {
                e.type = kEventMouseMove;
                DispatchEvent(m_hot, e);
            }
            m_cursorDeferred = false;
            ShowCursor();
            return true;
        }
        case WM_MOUSELEAVE:
            m_mouseInside = false;
            if (!m_capture)
                SetHot(nullptr, m_mouse);
            return true;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            m_mouse = PointFromLParam(lParam);
            mouseModifiers();
            HideToolTip();
            UIControl* target = FindControl(m_mouse);
            if (m_overlay && target != m_overlay) {
                // A click anywhere else closes an open drop-down.
                UIControl* overlay = m_overlay;
                SetOverlay(nullptr);
                overlay->OnOverlayDismissed();
            }
            if (!target) {
                SetFocus(nullptr);
                return true;
            }
            SetHot(target, m_mouse);
            if (target->IsEnabled())
                SetFocus(target);
            // The pressed control has the mouse until the release, wherever it goes.
            SetCapture(target);
            m_lastDownPoint = m_mouse;
            e.type = message == WM_LBUTTONDOWN ? kEventButtonDown : kEventDblClick;
            e.ptMouse = m_mouse;
            DispatchEvent(target, e);
            return true;
        }
        case WM_LBUTTONUP: {
            m_mouse = PointFromLParam(lParam);
            mouseModifiers();
            UIControl* target = m_capture ? m_capture : FindControl(m_mouse);
            ReleaseCapture();
            if (!target)
                return true;
            e.type = kEventButtonUp;
            e.ptMouse = m_mouse;
            DispatchEvent(target, e);
            // The control under the mouse may have changed while it was held.
            SetHot(FindControl(m_mouse), m_mouse);
            return true;
        }
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP: {
            m_mouse = PointFromLParam(lParam);
            UIControl* target = FindControl(m_mouse);
            if (!target)
                return false;
            e.type = message == WM_RBUTTONDOWN ? kEventRButtonDown : kEventRButtonUp;
            e.ptMouse = m_mouse;
            DispatchEvent(target, e);
            return false;  // the window may still want it
        }
        case WM_MOUSEWHEEL: {
            m_mouse = PointFromLParam(lParam);
            int delta = static_cast<int16_t>((wParam >> 16) & 0xFFFF);
            UIControl* target = FindControl(m_mouse);
            if (!target)
                return false;
            e.type = kEventScrollWheel;
            e.ptMouse = m_mouse;
            e.wParam = static_cast<uintptr_t>(static_cast<intptr_t>(delta));
            DispatchEvent(target, e);
            for (UIControl* c = target; c; c = c->GetParent()) {
                auto* container = dynamic_cast<UIContainer*>(c);
                if (container && container->ScrollByWheel(delta)) {
                    SetHot(FindControl(m_mouse), m_mouse);
                    return true;
                }
            }
            return false;
        }
        case WM_KEYDOWN:
        case WM_KEYUP: {
            if (!m_focus || !m_focus->IsEnabled() || !m_focus->IsKeyboardEnabled())
                return false;
            e.type = message == WM_KEYDOWN ? kEventKeyDown : kEventKeyUp;
            e.key = static_cast<uint32_t>(wParam);
            e.modifiers = GetModifiers();
            e.ptMouse = m_mouse;
            UIControl* focus = m_focus;
            ++m_dispatchDepth;
            e.sender = focus;
            focus->Event(e);
            if (--m_dispatchDepth == 0)
                Cleanup();
            return false;  // windows still see keys (hot keys, Escape)
        }
        case WM_CHAR:
        case WM_IME_COMPOSITION: {
            if (!m_focus || !m_focus->IsEnabled() || !m_focus->IsKeyboardEnabled())
                return false;
            e.type = message == WM_CHAR ? kEventChar : kEventImeComposition;
            e.key = static_cast<uint32_t>(wParam);
            e.modifiers = GetModifiers();
            UIControl* focus = m_focus;
            ++m_dispatchDepth;
            e.sender = focus;
            focus->Event(e);
            if (--m_dispatchDepth == 0)
                Cleanup();
            return true;
        }
        case WM_KILLFOCUS:
            if (m_capture) {
                // The button was released somewhere we cannot see.
                UIControl* c = m_capture;
                ReleaseCapture();
                e.type = kEventButtonUp;
                e.ptMouse = {-1, -1};
                DispatchEvent(c, e);
            }
            return false;
        default:
            return false;
    }
}

// ---- finding ----

UIControl* UIPaintManager::FindControl(int id) const {
    return m_root ? m_root->FindControlById(id) : nullptr;
}

UIControl* UIPaintManager::FindControl(UIPoint pt) const {
    if (m_overlay && m_overlay->IsVisible()) {
        if (UIControl* hit = m_overlay->FindControlAt(pt))
            return hit;
    }
    return m_root ? m_root->FindControlAt(pt) : nullptr;
}

UIControl* UIPaintManager::FindControl(const std::string& name) const {
    return m_root ? m_root->FindControlByName(name) : nullptr;
}

// ---- fonts ----

void UIPaintManager::AddFont(const std::string& name, const std::string& face, int size, bool bold,
                             bool underline, bool italic, bool isDefault) {
    UIFont font;
    font.face = face.empty() ? m_defaultFont.face : face;
    font.size = size > 0 ? size : m_defaultFont.size;
    font.bold = bold;
    font.underline = underline;
    font.italic = italic;
    UIRenderUtils::PrepareFont(font);
    UIRenderUtils::SetFontScale(font, m_scale);
    if (!name.empty()) {
        auto it = m_fonts.find(name);
        if (it != m_fonts.end())
            UIRenderUtils::ReleaseFont(it->second);
        UIFont copy = font;
        copy.desc = nullptr;
        UIRenderUtils::PrepareFont(copy);
        m_fonts[name] = copy;
    }
    if (isDefault) {
        UIRenderUtils::ReleaseFont(m_defaultFont);
        m_defaultFont = font;
    } else {
        UIRenderUtils::ReleaseFont(font);
    }
    Invalidate();
}

const UIFont& UIPaintManager::GetFont(const std::string& name) const {
    if (!name.empty()) {
        auto it = m_fonts.find(name);
        if (it != m_fonts.end())
            return it->second;
    }
    return m_defaultFont;
}

// ---- groups ----

bool UIPaintManager::AddGroup(const std::string& group, UIControl* option) {
    if (group.empty() || !option)
        return false;
    auto& list = m_groups[group];
    if (std::find(list.begin(), list.end(), option) != list.end())
        return false;
    list.push_back(option);
    return true;
}

const std::vector<UIControl*>* UIPaintManager::GetGroup(const std::string& group) const {
    auto it = m_groups.find(group);
    return it == m_groups.end() ? nullptr : &it->second;
}

UIControl* UIPaintManager::GetGroupSelected(const std::string& group) const {
    const auto* list = GetGroup(group);
    if (!list)
        return nullptr;
    for (UIControl* c : *list)
        if (c->GetState() & UISTATE_SELECTED)
            return c;
    return nullptr;
}

void UIPaintManager::RemoveGroup(const std::string& group, UIControl* option) {
    auto it = m_groups.find(group);
    if (it == m_groups.end())
        return;
    auto& list = it->second;
    list.erase(std::remove(list.begin(), list.end(), option), list.end());
    if (list.empty())
        m_groups.erase(it);
}

void UIPaintManager::RemoveAllGroups() {
    m_groups.clear();
}

// ---- geometry ----

void UIPaintManager::SetClientSize(UISize size) {
    size.cx = std::max(1, size.cx);
    size.cy = std::max(1, size.cy);
    const UISize device{static_cast<int>(std::lround(size.cx * m_scale)),
                        static_cast<int>(std::lround(size.cy * m_scale))};
    SetGeometry(size, m_scale, device, {0, 0});
}

void UIPaintManager::SetGeometry(UISize client, double scale, UISize device, UIPoint origin) {
    client = {std::max(1, client.cx), std::max(1, client.cy)};
    device = {std::max(1, device.cx), std::max(1, device.cy)};
    scale = scale > 0 ? scale : 1.0;
    if (client == m_clientSize && scale == m_scale && device == m_deviceSize && origin == m_origin &&
        m_surface)
        return;
    const bool rescaled = scale != m_scale;
    m_clientSize = client;
    m_scale = scale;
    m_origin = origin;
    if (device != m_deviceSize || !m_surface) {
        m_deviceSize = device;
        CreateSurface();
    }
    if (rescaled) {
        UpdateFontScales();
        // Text sizes (and whatever is measured from them) change with the scale.
        if (m_root)
            m_root->ForEach([](UIControl* c) { c->NeedUpdate(); });
    }
    m_surroundDirty = true;
    UpdateAndInvalidate();
}

void UIPaintManager::CreateSurface() {
    if (m_surface)
        cairo_surface_destroy(m_surface);
    m_deviceSize = {std::max(1, m_deviceSize.cx), std::max(1, m_deviceSize.cy)};
    m_surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, m_deviceSize.cx, m_deviceSize.cy);
    m_surroundDirty = true;
}

void UIPaintManager::UpdateFontScales() {
    UIRenderUtils::SetFontScale(m_defaultFont, m_scale);
    for (auto& [name, font] : m_fonts)
        UIRenderUtils::SetFontScale(font, m_scale);
}

namespace {
// Where painting puts the edge of layout unit `units`: snapped as the toolkit snaps every edge.
int DeviceEdge(int units, double scale, int origin) {
    return origin + static_cast<int>(std::floor(units * scale + 0.5));
}

int ClientAxis(int device, double scale, int origin) {
    int unit = static_cast<int>(std::floor((device - origin + 0.5) / scale));
    while (unit > -100000 && DeviceEdge(unit, scale, origin) > device)
        --unit;
    while (unit < 100000 && DeviceEdge(unit + 1, scale, origin) <= device)
        ++unit;
    return unit;
}
}  // namespace

UIPoint UIPaintManager::DeviceToClient(UIPoint device) const {
    return {ClientAxis(device.x, m_scale, m_origin.x), ClientAxis(device.y, m_scale, m_origin.y)};
}

UIPoint UIPaintManager::ClientToDevice(UIPoint pt) const {
    return {DeviceEdge(pt.x, m_scale, m_origin.x), DeviceEdge(pt.y, m_scale, m_origin.y)};
}

UIRect UIPaintManager::ClientToDevice(const UIRect& rc) const {
    UIPoint a = ClientToDevice(UIPoint{rc.left, rc.top}), b = ClientToDevice(UIPoint{rc.right, rc.bottom});
    return {a.x, a.y, b.x, b.y};
}

void UIPaintManager::SetBackdrop(int controlId) {
    m_backdropId = controlId;
    m_surroundDirty = true;
    Invalidate();
}

void UIPaintManager::SetFullScreenMode(bool on) {
    m_fullScreen = on;
    if (m_window)
        m_window->SetFullScreen(on);
}

void UIPaintManager::SetFullScreenFit(UISize layout, double scale) {
    m_fullScreen = true;
    if (m_window)
        m_window->SetFullScreenFit(layout, scale);
}

bool UIPaintManager::IsCaptionPoint(UIPoint pt) const {
    if (m_fullScreen)
        return false;
    UIRect rc = m_captionRect;
    int right = rc.right > 0 ? m_clientSize.cx - rc.right : m_clientSize.cx;
    if (pt.x < rc.left || pt.x >= right || pt.y < rc.top || pt.y >= rc.bottom)
        return false;
    UIControl* c = FindControl(pt);
    // Buttons and other controls that react to clicks keep them.
    if (!c || c == m_root.get())
        return true;
    std::string cls = c->GetClass();
    return cls == "Control" || cls == "Label" || cls == "Text" || cls == "VerticalLayout" ||
           cls == "HorizontalLayout" || cls == "Container";
}

// ---- painting ----

void UIPaintManager::Invalidate() {
    Invalidate({0, 0, m_clientSize.cx, m_clientSize.cy});
}

void UIPaintManager::Invalidate(const UIRect& rc) {
    UIRect clipped = rc.Intersect({0, 0, m_clientSize.cx, m_clientSize.cy});
    if (clipped.IsEmpty())
        return;
    m_dirty = m_dirty.Union(clipped);
    UIApplication::Instance().Wake();
}

void UIPaintManager::UpdateAndInvalidate() {
    m_updateNeeded = true;
    Invalidate();
}

UIRect UIPaintManager::Paint() {
    if (!m_surface)
        CreateSurface();
    UIRect client{0, 0, m_clientSize.cx, m_clientSize.cy};
    if (m_updateNeeded && m_root) {
        m_updateNeeded = false;
        m_root->SetPos(client, true);
        // A layout pass may leave controls wanting another (text sizes settled).
        m_updateNeeded = false;
    }
    const UIRect surface{0, 0, m_deviceSize.cx, m_deviceSize.cy};
    const UIRect layoutArea = ClientToDevice(client).Intersect(surface);
    // The area round a layout smaller than the surface shows the backdrop;
    // it is painted again only when that changes.
    bool surround = layoutArea != surface;
    if (surround) {
        UIControl* backdrop = m_backdropId ? FindControl(m_backdropId) : nullptr;
        const std::string image = backdrop && backdrop->IsVisible() ? backdrop->GetBkImage() : std::string();
        if (image != m_surroundPainted)
            m_surroundDirty = true;
        surround = m_surroundDirty;
    }
    m_surroundDirty = false;
    UIRect dirty = m_dirty.Intersect(client);
    m_dirty = {};
    if (dirty.IsEmpty() && !surround)
        return {};
    // Every pixel the dirty area touches is painted whole, by everything on it.
    UIRect devDirty = surround ? surface : UIRect{};
    if (!dirty.IsEmpty()) {
        UIRect d{static_cast<int>(std::floor(m_origin.x + dirty.left * m_scale)),
                 static_cast<int>(std::floor(m_origin.y + dirty.top * m_scale)),
                 static_cast<int>(std::ceil(m_origin.x + dirty.right * m_scale)),
                 static_cast<int>(std::ceil(m_origin.y + dirty.bottom * m_scale))};
        devDirty = devDirty.Union(d.Intersect(surface));
    }
    UIRect paintRect = client;
    if (!surround) {
        UIPoint a = DeviceToClient({devDirty.left, devDirty.top});
        UIPoint b = DeviceToClient({devDirty.right - 1, devDirty.bottom - 1});
        paintRect = UIRect{a.x, a.y, b.x + 1, b.y + 1}.Intersect(client);
    }
    cairo_t* cr = cairo_create(m_surface);
    cairo_rectangle(cr, devDirty.left, devDirty.top, devDirty.Width(), devDirty.Height());
    cairo_clip(cr);
    if (surround)
        PaintSurround(cr);
    // Whatever the tree leaves uncovered shows as plain white; a root that
    // paints all of it in a solid colour leaves nothing uncovered.
    const bool rootCovers = m_root && m_root->IsVisible() && (m_root->GetBkColor() >> 24) == 0xFF &&
                            m_root->GetBorderRound() == 0 && m_root->GetPos() == client;
    if (!rootCovers) {
        cairo_save(cr);
        cairo_rectangle(cr, layoutArea.left, layoutArea.top, layoutArea.Width(), layoutArea.Height());
        cairo_clip(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    cairo_translate(cr, m_origin.x, m_origin.y);
    cairo_scale(cr, m_scale, m_scale);
    m_paintDC = cr;
    if (m_root) {
        // Nothing of the layout spills over onto the surround.
        cairo_save(cr);
        UIRenderUtils::ClipRect(cr, client);
        m_root->DoPaint(cr, paintRect);
        m_root->DoPostPaint(cr, paintRect);
        cairo_restore(cr);
    }
    if (!m_toolTipText.empty()) {
        UISize sz = UIRenderUtils::GetTextSize(this, m_toolTipText, "", DT_SINGLELINE);
        int x = std::min(m_toolTipPoint.x + 12, std::max(0, m_clientSize.cx - sz.cx - 20));
        int y = m_toolTipPoint.y + 20;
        if (y + sz.cy + 12 > m_clientSize.cy)
            y = m_toolTipPoint.y - sz.cy - 16;
        UIRect box{x, y, x + sz.cx + 16, y + sz.cy + 10};
        UIRenderUtils::FillRoundRect(cr, box, 4, 0xEE2F3542);
        UIRect text = box;
        text.Deflate({8, 5, 8, 5});
        UIRenderUtils::DrawText(cr, this, text, m_toolTipText, 0xFFFFFFFF, "", DT_SINGLELINE | DT_VCENTER);
    }
    m_paintDC = nullptr;
    cairo_destroy(cr);
    cairo_surface_flush(m_surface);
    ++m_paintCount;
    m_lastPaint = surround ? client : dirty;

    if (m_window && m_window->GetNativeWindow())
        m_window->PresentSurface(m_surface, devDirty);
    return m_lastPaint;
}

void UIPaintManager::PaintSurround(cairo_t* cr) {
    cairo_save(cr);
    UIColor bk = m_root && m_root->GetBkColor() ? m_root->GetBkColor() : 0xFFFFFFFF;
    UIRenderUtils::SetSourceColor(cr, bk | 0xFF000000);
    cairo_paint(cr);
    UIControl* backdrop = m_backdropId ? FindControl(m_backdropId) : nullptr;
    m_surroundPainted = backdrop && backdrop->IsVisible() ? backdrop->GetBkImage() : std::string();
    if (!m_surroundPainted.empty()) {
        // The backdrop's picture as the layout shows it, its edges continued
        // to the surface's: the layout's background reaches the screen's edges.
        const UIRect rc = backdrop->GetPos();
        const UIRect dev = ClientToDevice(rc);
        if (!dev.IsEmpty()) {
            cairo_surface_t* picture =
                cairo_image_surface_create(CAIRO_FORMAT_ARGB32, dev.Width(), dev.Height());
            cairo_t* pc = cairo_create(picture);
            cairo_translate(pc, m_origin.x - dev.left, m_origin.y - dev.top);
            cairo_scale(pc, m_scale, m_scale);
            UIRenderUtils::DrawImageString(pc, rc, m_surroundPainted);
            cairo_destroy(pc);
            cairo_set_source_surface(cr, picture, dev.left, dev.top);
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
            cairo_paint(cr);
            cairo_surface_destroy(picture);
        }
    }
    cairo_restore(cr);
}

bool UIPaintManager::SaveScreenshot(const std::string& path) {
    Paint();
    if (!m_surface)
        return false;
    return cairo_surface_write_to_png(m_surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

uint32_t UIPaintManager::DevicePixel(int x, int y) {
    Paint();
    if (!m_surface || x < 0 || y < 0 || x >= m_deviceSize.cx || y >= m_deviceSize.cy)
        return 0;
    cairo_surface_flush(m_surface);
    const unsigned char* data = cairo_image_surface_get_data(m_surface);
    return *reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(m_surface) + x * 4);
}

// ---- focus ----

void UIPaintManager::SetFocus(UIControl* control) {
    if (control == m_focus)
        return;
    UIEvent e;
    e.timestamp = UIApplication::Instance().GetMessageTime();
    e.ptMouse = m_mouse;
    if (m_focus) {
        UIControl* old = m_focus;
        m_focus = nullptr;
        e.type = kEventKillFocus;
        e.sender = old;
        ++m_dispatchDepth;
        old->Event(e);
        --m_dispatchDepth;
    }
    m_focus = control;
    if (m_focus) {
        e.type = kEventSetFocus;
        e.sender = m_focus;
        ++m_dispatchDepth;
        m_focus->Event(e);
        --m_dispatchDepth;
    }
    if (m_dispatchDepth == 0)
        Cleanup();
}

// ---- timers ----

bool UIPaintManager::SetTimer(UIControl* control, int timerId, uint32_t elapseMs) {
    if (!control)
        return false;
    UIApplication::Instance().SetTimer(this, control, timerId, elapseMs,
                                       [this, control, timerId] { FireControlTimer(control, timerId); });
    return true;
}

void UIPaintManager::KillTimer(UIControl* control, int timerId) {
    UIApplication::Instance().KillTimer(this, control, timerId);
}

void UIPaintManager::StopTimers() {
    auto& app = UIApplication::Instance();
    app.KillTimers(this);
    app.KillTimers(m_animations.get());
    if (m_root)
        m_root->ForEach([this](UIControl* c) { m_animations->RemoveAnimations(c); });
}

void UIPaintManager::KillTimer(UIControl* control) {
    UIApplication::Instance().KillTimers(control);
}

void UIPaintManager::FireControlTimer(UIControl* control, int timerId) {
    UIEvent e;
    e.type = kEventTimer;
    e.wParam = static_cast<uintptr_t>(timerId);
    e.timestamp = UIClock::NowMs();
    ++m_dispatchDepth;
    e.sender = control;
    control->Event(e);
    if (--m_dispatchDepth == 0)
        Cleanup();
}

void UIPaintManager::SetOverlay(UIControl* control) {
    if (m_overlay == control)
        return;
    UIControl* old = m_overlay;
    m_overlay = control;
    if (old)
        old->Invalidate();
    Invalidate();
}

// ---- lifetime ----

void UIPaintManager::ReapObjects(UIControl* control, bool keepGroups) {
    if (!control)
        return;
    auto inside = [control](UIControl* c) {
        for (; c; c = c->GetParent())
            if (c == control)
                return true;
        return false;
    };
    if (inside(m_hot))
        m_hot = nullptr;
    if (inside(m_capture))
        ReleaseCapture();
    if (inside(m_overlay))
        m_overlay = nullptr;
    if (inside(m_toolTipControl))
        HideToolTip();
    if (inside(m_focus)) {
        UIControl* old = m_focus;
        m_focus = nullptr;
        UIEvent e;
        e.type = kEventKillFocus;
        e.sender = old;
        old->Event(e);
    }
    m_asyncNotify.erase(std::remove_if(m_asyncNotify.begin(), m_asyncNotify.end(),
                                       [&](const UINotification& n) { return inside(n.sender); }),
                        m_asyncNotify.end());
    if (keepGroups)
        return;
    control->ForEach([this](UIControl* c) {
        for (auto it = m_groups.begin(); it != m_groups.end();) {
            auto& list = it->second;
            list.erase(std::remove(list.begin(), list.end(), c), list.end());
            it = list.empty() ? m_groups.erase(it) : std::next(it);
        }
    });
}

void UIPaintManager::AddDelayedCleanup(std::unique_ptr<UIControl> control) {
    if (control)
        m_delayedCleanup.push_back(std::move(control));
}

void UIPaintManager::Cleanup() {
    m_delayedCleanup.clear();
}

uint32_t UIPaintManager::GetModifiers() const {
    return UIApplication::Instance().GetModifiers();
}

void UIPaintManager::MessageLoop() {
    UIApplication::Instance().RunUntil([] { return false; });
}

}  // namespace KwLib
