#pragma once
// UIWindowImplBase: the base of every window of the client. On WM_CREATE it
// builds its control tree from the layout window named GetSkinWindowName()
// (the class name by default), attaches it to its paint manager and becomes
// the notifier and the layout callback; then InitWindow runs.
//
// HandleMessage first calls the On* handler of the message; a handler that
// leaves `handled` false passes the message on to HandleCustomMessage, then to
// the controls, then to the default handling (WM_CLOSE destroys the window).
// UI thread only.
#include "platform/ui/UIDialogBuilder.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIWindowWnd.h"

namespace KwLib {

class UIWindowImplBase : public UIWindowWnd, public INotifyUI, public IDialogBuilderCallback {
public:
    UIWindowImplBase() = default;
    ~UIWindowImplBase() override = default;

    UIPaintManager* GetPaintManager() override { return &m_pm; }
    UIPaintManager& PaintManager() { return m_pm; }

    // The layout file (a name in the resource folder, or a path).
    virtual std::string GetSkinFile() const { return "skin.xml"; }
    virtual std::string GetSkinWindowName() const { return GetWindowClassName(); }
    // Runs once the control tree is attached.
    virtual void InitWindow() {}
    UIControl* CreateControl(const std::string& tag) override {
        (void)tag;
        return nullptr;
    }
    void Notify(UINotification& msg) override { (void)msg; }

    intptr_t HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    virtual intptr_t OnCreate(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnClose(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnDestroy(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnTimer(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnKeyDown(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnKeyUp(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnLButtonDown(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnLButtonUp(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnLButtonDblClk(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnRButtonDown(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnMouseMove(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnMouseWheel(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnSetFocus(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnKillFocus(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnSize(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    virtual intptr_t OnSysCommand(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);
    // Every other message (worker results, WM_USER + n).
    virtual intptr_t HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled);

protected:
    UIPaintManager m_pm;
};

}  // namespace KwLib
