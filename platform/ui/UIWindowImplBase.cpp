#include "platform/ui/UIWindowImplBase.h"

#include "platform/common/KWLog.h"

namespace KwLib {

intptr_t UIWindowImplBase::HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    bool handled = true;
    intptr_t result = 0;
    switch (message) {
        case WM_CREATE:
            result = OnCreate(message, wParam, lParam, handled);
            break;
        case WM_CLOSE:
            result = OnClose(message, wParam, lParam, handled);
            break;
        case WM_DESTROY:
            result = OnDestroy(message, wParam, lParam, handled);
            break;
        case WM_TIMER:
            result = OnTimer(message, wParam, lParam, handled);
            break;
        case WM_KEYDOWN:
            result = OnKeyDown(message, wParam, lParam, handled);
            break;
        case WM_KEYUP:
            result = OnKeyUp(message, wParam, lParam, handled);
            break;
        case WM_LBUTTONDOWN:
            result = OnLButtonDown(message, wParam, lParam, handled);
            break;
        case WM_LBUTTONUP:
            result = OnLButtonUp(message, wParam, lParam, handled);
            break;
        case WM_LBUTTONDBLCLK:
            result = OnLButtonDblClk(message, wParam, lParam, handled);
            break;
        case WM_RBUTTONDOWN:
            result = OnRButtonDown(message, wParam, lParam, handled);
            break;
        case WM_MOUSEMOVE:
            result = OnMouseMove(message, wParam, lParam, handled);
            break;
        case WM_MOUSEWHEEL:
            result = OnMouseWheel(message, wParam, lParam, handled);
            break;
        case WM_SETFOCUS:
            result = OnSetFocus(message, wParam, lParam, handled);
            break;
        case WM_KILLFOCUS:
            result = OnKillFocus(message, wParam, lParam, handled);
            break;
        case WM_SIZE:
            result = OnSize(message, wParam, lParam, handled);
            break;
        case WM_SYSCOMMAND:
            result = OnSysCommand(message, wParam, lParam, handled);
            break;
        default:
            handled = false;
            break;
    }
    if (handled)
        return result;
    result = HandleCustomMessage(message, wParam, lParam, handled);
    if (handled)
        return result;
    if (m_pm.MessageHandler(message, wParam, lParam, result))
        return result;
    return UIWindowWnd::HandleMessage(message, wParam, lParam);
}

intptr_t UIWindowImplBase::OnCreate(uint32_t, uintptr_t, intptr_t, bool& handled) {
    handled = true;
    m_pm.Init(this);
    UIDialogBuilder builder;
    UIControl* root = builder.Create(GetSkinFile(), GetSkinWindowName(), this, &m_pm, this);
    if (!root) {
        VL_LOG_ERROR("layout of window %s: %s", GetSkinWindowName().c_str(), builder.GetError().c_str());
        return -1;
    }
    m_pm.AttachDialog(root);
    m_pm.AddNotifier(this);
    InitWindow();
    m_pm.SendNotify(root, kNotifyWindowInit, 0, 0, true);
    return 0;
}

#define VL_UNHANDLED(name)                                                          \
    intptr_t UIWindowImplBase::name(uint32_t, uintptr_t, intptr_t, bool& handled) { \
        handled = false;                                                            \
        return 0;                                                                   \
    }
VL_UNHANDLED(OnClose)
VL_UNHANDLED(OnDestroy)
VL_UNHANDLED(OnTimer)
VL_UNHANDLED(OnKeyDown)
VL_UNHANDLED(OnKeyUp)
VL_UNHANDLED(OnLButtonDown)
VL_UNHANDLED(OnLButtonUp)
VL_UNHANDLED(OnLButtonDblClk)
VL_UNHANDLED(OnRButtonDown)
VL_UNHANDLED(OnMouseMove)
VL_UNHANDLED(OnMouseWheel)
VL_UNHANDLED(OnSetFocus)
VL_UNHANDLED(OnKillFocus)
VL_UNHANDLED(OnSize)
VL_UNHANDLED(OnSysCommand)
VL_UNHANDLED(HandleCustomMessage)
#undef VL_UNHANDLED

}  // namespace KwLib
