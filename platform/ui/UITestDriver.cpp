#include "platform/ui/UITestDriver.h"

#include <cmath>

#include "platform/common/KWStringConvert.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UIWindowWnd.h"

namespace KwLib {

UITestDriver::UITestDriver(uint64_t startMs) {
    UIApplication::Instance().SetHeadless(true);
    UIApplication::Instance().ResetQuit();
    UIClock::SetManual(true, startMs);
}

UITestDriver::~UITestDriver() {
    auto& app = UIApplication::Instance();
    // Actions nobody ran may refer to objects of the finished test: drop them.
    app.ClearIdleActions();
    app.ResetQuit();
    UIClock::SetManual(false);
}

UIPaintManager* UITestDriver::GetPaintManager() const {
    return m_window && UIApplication::Instance().IsAlive(m_window) ? m_window->GetPaintManager() : nullptr;
}

UIControl* UITestDriver::Find(int id) const {
    UIPaintManager* pm = GetPaintManager();
    return pm ? pm->FindControl(id) : nullptr;
}

UIControl* UITestDriver::Find(const std::string& name) const {
    UIPaintManager* pm = GetPaintManager();
    return pm ? pm->FindControl(name) : nullptr;
}

bool UITestDriver::CenterOf(int id, UIPoint& pt) const {
    UIControl* c = Find(id);
    if (!c || !c->IsVisible())
        return false;
    // Layout may be pending: the centre must be where the user would see it.
    if (UIPaintManager* pm = GetPaintManager())
        pm->Paint();
    const UIRect& r = c->GetPos();
    if (r.IsEmpty())
        return false;
    pt = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    return true;
}

void UITestDriver::Send(uint32_t message, uintptr_t wParam, intptr_t lParam, std::optional<uint64_t> timeMs) {
    auto& app = UIApplication::Instance();
    if (!m_window || !app.IsAlive(m_window) || !m_window->IsWindow())
        return;
    bool input = message != WM_SETFOCUS && message != WM_KILLFOCUS;
    if (input && !m_window->IsInputEnabled())
        return;  // a modal window is up
    if (timeMs)
        m_window->DispatchMessage(message, wParam, lParam, *timeMs);
    else
        m_window->DispatchMessage(message, wParam, lParam);
    Pump();
}

uintptr_t UITestDriver::MouseFlags(bool leftDown) const {
    uintptr_t f = leftDown ? MK_LBUTTON : 0;
    if (m_modifiers & kModShift)
        f |= MK_SHIFT;
    if (m_modifiers & kModCtrl)
        f |= MK_CONTROL;
    return f;
}

bool UITestDriver::Click(int id) {
    UIPoint pt;
    if (!CenterOf(id, pt))
        return false;
    ClickAt(pt);
    return true;
}

void UITestDriver::ClickAt(UIPoint pt) {
    MouseMove(pt);
    MouseDown(pt);
    MouseUp(pt);
}

bool UITestDriver::DoubleClick(int id) {
    UIPoint pt;
    if (!CenterOf(id, pt))
        return false;
    DoubleClickAt(pt);
    return true;
}

void UITestDriver::DoubleClickAt(UIPoint pt) {
    // The sequence a desktop delivers for a double-click.
    MouseMove(pt);
    Send(WM_LBUTTONDOWN, MouseFlags(true), MakeMouseLParam(pt.x, pt.y));
    Send(WM_LBUTTONUP, MouseFlags(false), MakeMouseLParam(pt.x, pt.y));
    Send(WM_LBUTTONDBLCLK, MouseFlags(true), MakeMouseLParam(pt.x, pt.y));
    Send(WM_LBUTTONUP, MouseFlags(false), MakeMouseLParam(pt.x, pt.y));
}

void UITestDriver::Drag(UIPoint from, UIPoint to, int steps) {
    MouseMove(from);
    MouseDown(from);
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i) {
        UIPoint p{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps};
        Send(WM_MOUSEMOVE, MouseFlags(true), MakeMouseLParam(p.x, p.y));
    }
    MouseUp(to);
}

bool UITestDriver::Drag(int id, UIPoint to, int steps) {
    UIPoint pt;
    if (!CenterOf(id, pt))
        return false;
    Drag(pt, to, steps);
    return true;
}

void UITestDriver::MouseMove(UIPoint pt) {
    Send(WM_MOUSEMOVE, MouseFlags(false), MakeMouseLParam(pt.x, pt.y));
}
void UITestDriver::MouseDown(UIPoint pt) {
    Send(WM_LBUTTONDOWN, MouseFlags(true), MakeMouseLParam(pt.x, pt.y));
}
void UITestDriver::MouseUp(UIPoint pt) {
    Send(WM_LBUTTONUP, MouseFlags(false), MakeMouseLParam(pt.x, pt.y));
}

void UITestDriver::Wheel(UIPoint pt, int notches) {
    MouseMove(pt);
    int delta = notches * 120;
    Send(WM_MOUSEWHEEL, (static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16) | MouseFlags(false),
         MakeMouseLParam(pt.x, pt.y));
}

void UITestDriver::RightClickAt(UIPoint pt) {
    MouseMove(pt);
    Send(WM_RBUTTONDOWN, MK_RBUTTON, MakeMouseLParam(pt.x, pt.y));
    Send(WM_RBUTTONUP, 0, MakeMouseLParam(pt.x, pt.y));
}

void UITestDriver::KeyDown(uint32_t vk, uint32_t modifiers) {
    if ((modifiers & kModCtrl) && !(m_modifiers & kModCtrl))
        Send(WM_KEYDOWN, VK_CONTROL, 0);
    if ((modifiers & kModShift) && !(m_modifiers & kModShift))
        Send(WM_KEYDOWN, VK_SHIFT, 0);
    if ((modifiers & kModAlt) && !(m_modifiers & kModAlt))
        Send(WM_KEYDOWN, VK_MENU, 0);
    m_modifiers |= modifiers;
    Send(WM_KEYDOWN, vk, 0);
}

void UITestDriver::KeyUp(uint32_t vk, uint32_t modifiers) {
    Send(WM_KEYUP, vk, 0);
    if (modifiers & kModAlt)
        Send(WM_KEYUP, VK_MENU, 0);
    if (modifiers & kModShift)
        Send(WM_KEYUP, VK_SHIFT, 0);
    if (modifiers & kModCtrl)
        Send(WM_KEYUP, VK_CONTROL, 0);
    m_modifiers &= ~modifiers;
}

void UITestDriver::PressKey(uint32_t vk, uint32_t modifiers) {
    KeyDown(vk, modifiers);
    KeyUp(vk, modifiers);
}

void UITestDriver::KeyDownAt(uint32_t vk, uint64_t timeMs) {
    Send(WM_KEYDOWN, vk, 0, timeMs);
}

void UITestDriver::KeyUpAt(uint32_t vk, uint64_t timeMs) {
    Send(WM_KEYUP, vk, 0, timeMs);
}

void UITestDriver::TypeText(const std::string& utf8) {
    for (char32_t cp : KWStringConvert::Utf8ToUtf32(utf8))
        Send(WM_CHAR, cp, 0);
}

void UITestDriver::Compose(const std::string& unfinished) {
    std::string text = unfinished;
    Send(WM_IME_COMPOSITION, 0, reinterpret_cast<intptr_t>(&text));
}

void UITestDriver::Advance(uint64_t ms) {
    auto& app = UIApplication::Instance();
    uint64_t target = UIClock::NowMs() + ms;
    Pump();
    for (int guard = 0; guard < 1000000; ++guard) {
        auto due = app.NextTimerDue();
        if (!due || *due > target)
            break;
        UIClock::SetManualNow(std::max(UIClock::NowMs(), *due));
        app.FireDueTimers(UIClock::NowMs());
        Pump();
    }
    UIClock::SetManualNow(target);
    Pump();
}

uint64_t UITestDriver::Now() const {
    return UIClock::NowMs();
}

void UITestDriver::Pump() {
    auto& app = UIApplication::Instance();
    for (int i = 0; i < 10000 && app.PumpOnce(0); ++i) {
    }
}

void UITestDriver::QueueIdle(std::function<void()> action) {
    UIApplication::Instance().QueueIdleAction(std::move(action));
}

bool UITestDriver::Screenshot(const std::string& path) {
    UIPaintManager* pm = GetPaintManager();
    return pm && pm->SaveScreenshot(path);
}

uint32_t UITestDriver::PixelAt(int x, int y) {
    UIPaintManager* pm = GetPaintManager();
    if (!pm)
        return 0;
    // The pixel under the middle of the layout unit: what the unit shows at any scale.
    const double scale = pm->GetScale();
    const UIPoint origin = pm->GetDeviceOrigin();
    return pm->DevicePixel(origin.x + static_cast<int>(std::floor((x + 0.5) * scale)),
                           origin.y + static_cast<int>(std::floor((y + 0.5) * scale)));
}

uint32_t UITestDriver::DevicePixelAt(int x, int y) {
    UIPaintManager* pm = GetPaintManager();
    return pm ? pm->DevicePixel(x, y) : 0;
}

}  // namespace KwLib
