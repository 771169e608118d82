#pragma once
// A window for the toolkit's tests: built from tests/platform/ui/layouts.xml by
// window name; records notifications, timers and custom messages.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/UIClock.h"
#include "platform/ui/UILayout.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {

inline std::string TestLayoutFile() {
    return std::string(VL_SOURCE_DIR) + "/tests/platform/ui/layouts.xml";
}
inline std::string TestResourceDir() {
    return std::string(VL_BINARY_DIR) + "/install/bin/res/";
}
inline std::string TestOutputDir() {
    return std::string(VL_BINARY_DIR) + "/tests/platform/ui/";
}

// An element-like container that records the mouse events it sees; a test
// may add what the element does with them.
class TestElement : public UIVerticalLayout {
public:
    std::string GetClass() const override { return "TestElement"; }
    void OnLButtonDown(UIPoint pt) override {
        downs.push_back(pt);
        if (onDown)
            onDown(pt);
    }
    void OnLButtonUp(UIPoint pt) override {
        ups.push_back(pt);
        if (onUp)
            onUp(pt);
    }
    void OnLButtonDblClk(UIPoint pt) override { dblclks.push_back(pt); }
    void OnMouseMove(UIPoint pt) override {
        moves.push_back(pt);
        if (onMove)
            onMove(pt);
    }
    std::vector<UIPoint> downs, ups, dblclks, moves;
    std::function<void(UIPoint)> onDown, onUp, onMove;
};

struct RecordedNotify {
    int type;
    int id;
    uintptr_t wParam;
    bool senderSelected;  // for options: the state at notification time
};

class TestWindow : public UIWindowImplBase {
public:
    explicit TestWindow(std::string name) : m_name(std::move(name)) {}
    std::string GetWindowClassName() const override { return m_name; }
    std::string GetSkinFile() const override { return TestLayoutFile(); }
    UIControl* CreateControl(const std::string& tag) override {
        return tag == "TestElement" ? new TestElement : nullptr;
    }
    void Notify(UINotification& msg) override;
    intptr_t OnTimer(uint32_t, uintptr_t wParam, intptr_t, bool& handled) override {
        timers.push_back({static_cast<int>(wParam), UIClock::NowMs()});
        if (onTimer)
            onTimer(static_cast<int>(wParam));
        handled = true;
        return 0;
    }
    intptr_t HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override {
        if (msg >= WM_USER) {
            messages.push_back({msg, wParam, lParam});
            handled = true;
        }
        return 0;
    }
    intptr_t OnDestroy(uint32_t, uintptr_t, intptr_t, bool& handled) override {
        destroyed = true;
        handled = false;
        return 0;
    }

    std::vector<RecordedNotify> notes;
    std::vector<std::pair<int, uint64_t>> timers;
    std::vector<KWMessage> messages;
    std::function<void(UINotification&)> onNotify;
    std::function<void(int)> onTimer;
    bool destroyed = false;

private:
    std::string m_name;
};

// Sets up the headless toolkit for a test, with the resource folder of the build.
class UITestBase {
public:
    UITestBase() { UIResourceSingleton::Instance().SetResourcePath(TestResourceDir()); }
    // Creates a window from the test layouts and points the driver at it.
    std::unique_ptr<TestWindow> Open(const std::string& name) {
        auto w = std::make_unique<TestWindow>(name);
        w->Create(nullptr, name, 0, 0, 0, 0);
        w->ShowWindow(true);
        driver.Attach(w.get());
        driver.Pump();
        return w;
    }
    UITestDriver driver;
};

}  // namespace KwLib
