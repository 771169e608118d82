#pragma once
// Drives toolkit windows the way a user would, without a display and without
// waiting: headless windows, a manual clock, synchronous input.
//
//     UITestDriver driver;                       // headless + manual clock
//     auto* wnd = new MyWindow;                  // a UIWindowImplBase
//     wnd->Create(nullptr, "test");
//     driver.Attach(wnd);
//     driver.Click(105);                         // by control id
//     driver.TypeText("张三");
//     driver.PressKey(VK_RETURN);
//     driver.Advance(1000);                      // timers and animations fire in order
//     driver.Screenshot("/tmp/shot.png");
//
// A modal window runs its own loop; queue what the user does inside it with
// QueueIdle before calling ShowModal.
// UI thread only.
#include <functional>
#include <optional>
#include <string>

#include "platform/ui/UIDefines.h"
#include "platform/ui/UIPaintManager.h"

namespace KwLib {

class UIWindowWnd;
class UIControl;

class UITestDriver {
public:
    // Switches the toolkit to headless windows and a manual clock at `startMs`.
    explicit UITestDriver(uint64_t startMs = 1000);
    // Returns the clock to real time and drops idle actions that never ran.
    ~UITestDriver();
    UITestDriver(const UITestDriver&) = delete;
    UITestDriver& operator=(const UITestDriver&) = delete;

    // The window that input goes to.
    void Attach(UIWindowWnd* window) { m_window = window; }
    UIWindowWnd* GetWindow() const { return m_window; }
    UIPaintManager* GetPaintManager() const;

    UIControl* Find(int id) const;
    UIControl* Find(const std::string& name) const;
    template <class T>
    T* FindAs(int id) const {
        return dynamic_cast<T*>(Find(id));
    }
    // Centre of a visible control; false when it is absent or hidden.
    bool CenterOf(int id, UIPoint& pt) const;

    // ---- mouse (input goes through the window's filters and handlers) ----
    bool Click(int id);
    void ClickAt(UIPoint pt);
    bool DoubleClick(int id);
    void DoubleClickAt(UIPoint pt);
    // Presses at `from`, moves in `steps` steps and releases at `to`.
    void Drag(UIPoint from, UIPoint to, int steps = 4);
    bool Drag(int id, UIPoint to, int steps = 4);
    void MouseMove(UIPoint pt);
    void MouseDown(UIPoint pt);
    void MouseUp(UIPoint pt);
    void Wheel(UIPoint pt, int notches);
    void RightClickAt(UIPoint pt);

    // ---- keyboard ----
    // Modifiers (kModShift | kModCtrl | kModAlt) are pressed first and
    // released last, as a user does.
    void KeyDown(uint32_t vk, uint32_t modifiers = 0);
    void KeyUp(uint32_t vk, uint32_t modifiers = 0);
    void PressKey(uint32_t vk, uint32_t modifiers = 0);
    // A key event that happened at `timeMs` on the toolkit clock, handled now:
    // what a window sees when it gets round to a key pressed while it was busy.
    void KeyDownAt(uint32_t vk, uint64_t timeMs);
    void KeyUpAt(uint32_t vk, uint64_t timeMs);
    // Text as the input method hands it over: one WM_CHAR per character.
    void TypeText(const std::string& utf8);
    void Compose(const std::string& unfinished);

    // ---- time and messages ----
    // Moves the manual clock forward; every timer due on the way fires at its
    // own time, in order, with posted messages handled in between.
    void Advance(uint64_t ms);
    uint64_t Now() const;
    // Handles posted messages, async notifications and painting until idle.
    void Pump();
    // Something for a headless modal loop to do when it runs out of work.
    void QueueIdle(std::function<void()> action);

    // ---- output ----
    bool Screenshot(const std::string& path);
    // ARGB of the window at a point of its layout after painting what is
    // pending (at a scale above 1: the pixel under the unit's middle).
    uint32_t PixelAt(int x, int y);
    // ARGB of a pixel of the window's surface, in screen pixels.
    uint32_t DevicePixelAt(int x, int y);

private:
    void Send(uint32_t message, uintptr_t wParam, intptr_t lParam, std::optional<uint64_t> timeMs = {});
    uintptr_t MouseFlags(bool leftDown) const;

    UIWindowWnd* m_window = nullptr;
    uint32_t m_modifiers = 0;
};

}  // namespace KwLib
