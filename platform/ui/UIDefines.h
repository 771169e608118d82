#pragma once
// Basic types of the UI toolkit: geometry, window message numbers, key codes,
// notification kinds and the text-format flags of layouts.
//
// The message and key numbers keep the values the rest of the client was
// written against (the classic desktop numbering), so code that compares
// wParam with 32 or posts 1034 keeps working.
#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/common/KWMessage.h"

namespace KwLib {

struct UIPoint {
    int x = 0;
    int y = 0;
    bool operator==(const UIPoint&) const = default;
};

struct UISize {
    int cx = 0;
    int cy = 0;
    bool operator==(const UISize&) const = default;
};

struct UIRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool Contains(UIPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    bool operator==(const UIRect&) const = default;
    void Offset(int dx, int dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    void Deflate(const UIRect& by) {
        left += by.left;
        top += by.top;
        right -= by.right;
        bottom -= by.bottom;
    }
    // Intersection; an empty result keeps right >= left so IsEmpty is reliable.
    UIRect Intersect(const UIRect& o) const {
        UIRect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                 std::min(bottom, o.bottom)};
        if (r.right < r.left)
            r.right = r.left;
        if (r.bottom < r.top)
            r.bottom = r.top;
        return r;
    }
    UIRect Union(const UIRect& o) const {
        if (IsEmpty())
            return o;
        if (o.IsEmpty())
            return *this;
        return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right),
                std::max(bottom, o.bottom)};
    }
    bool Intersects(const UIRect& o) const { return !Intersect(o).IsEmpty(); }
};

// ARGB colour as written in layouts ("#FF26934E" or "0xFF26934E").
using UIColor = uint32_t;

// Mouse coordinates travel in lParam as two signed 16-bit halves, as they always did.
inline intptr_t MakeMouseLParam(int x, int y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) |
                                 static_cast<uint16_t>(x));
}
inline UIPoint PointFromLParam(intptr_t lParam) {
    return {static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)};
}

// Window messages.
constexpr uint32_t WM_NULL = 0x0000;
constexpr uint32_t WM_CREATE = 0x0001;
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_MOVE = 0x0003;
constexpr uint32_t WM_SIZE = 0x0005;
constexpr uint32_t WM_ACTIVATE = 0x0006;
constexpr uint32_t WM_SETFOCUS = 0x0007;
constexpr uint32_t WM_KILLFOCUS = 0x0008;
constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_SHOWWINDOW = 0x0018;
constexpr uint32_t WM_SETCURSOR = 0x0020;
constexpr uint32_t WM_NCDESTROY = 0x0082;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_CHAR = 0x0102;  // wParam: one Unicode code point
constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uint32_t WM_SYSKEYUP = 0x0105;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_RBUTTONUP = 0x0205;
constexpr uint32_t WM_MOUSEWHEEL = 0x020A;       // HIWORD(wParam): signed delta, 120 per notch
constexpr uint32_t WM_IME_COMPOSITION = 0x010F;  // composition text in progress (lParam: const std::string*)
constexpr uint32_t WM_MOUSELEAVE = 0x02A3;
constexpr uint32_t WM_HOTKEY = 0x0312;

constexpr uintptr_t SC_MINIMIZE = 0xF020;
constexpr uintptr_t SC_MAXIMIZE = 0xF030;
constexpr uintptr_t SC_CLOSE = 0xF060;
constexpr uintptr_t SC_RESTORE = 0xF120;

// Mouse-message key flags in wParam.
constexpr uintptr_t MK_LBUTTON = 0x0001;
constexpr uintptr_t MK_RBUTTON = 0x0002;
constexpr uintptr_t MK_SHIFT = 0x0004;
constexpr uintptr_t MK_CONTROL = 0x0008;

// Virtual key codes in wParam of key messages.
constexpr uint32_t VK_BACK = 0x08;
constexpr uint32_t VK_TAB = 0x09;
constexpr uint32_t VK_RETURN = 0x0D;
constexpr uint32_t VK_SHIFT = 0x10;
constexpr uint32_t VK_CONTROL = 0x11;
constexpr uint32_t VK_MENU = 0x12;  // Alt
constexpr uint32_t VK_ESCAPE = 0x1B;
constexpr uint32_t VK_SPACE = 0x20;
constexpr uint32_t VK_PRIOR = 0x21;
constexpr uint32_t VK_NEXT = 0x22;
constexpr uint32_t VK_END = 0x23;
constexpr uint32_t VK_HOME = 0x24;
constexpr uint32_t VK_LEFT = 0x25;
constexpr uint32_t VK_UP = 0x26;
constexpr uint32_t VK_RIGHT = 0x27;
constexpr uint32_t VK_DOWN = 0x28;
constexpr uint32_t VK_INSERT = 0x2D;
constexpr uint32_t VK_DELETE = 0x2E;
constexpr uint32_t VK_F1 = 0x70;
constexpr uint32_t VK_PROCESSKEY = 0xE5;  // 229: a key an input method consumed
// Letters and digits use their ASCII upper-case codes ('A' = 0x41, '0' = 0x30).

// Key modifier bits (UIKeyState::GetModifiers and the test driver).
constexpr uint32_t kModShift = 1;
constexpr uint32_t kModCtrl = 2;
constexpr uint32_t kModAlt = 4;

// Notification kinds. Type 2 is the click every window dispatches on.
enum UINotifyType : int {
    kNotifyWindowInit = 1,
    kNotifyClick = 2,
    kNotifySelectChanged = 3,  // option selected or deselected
    kNotifyItemSelect = 4,     // combo item chosen; wParam = new index, lParam = old index
    kNotifyValueChanged = 5,   // slide or progress value; wParam = value
    kNotifyReturn = 6,         // Enter in a text field
    kNotifyTextChanged = 7,
    kNotifySetFocus = 8,
    kNotifyKillFocus = 9,
    kNotifyTimer = 10,
    kNotifyMouseEnter = 11,
    kNotifyMouseLeave = 12,
    kNotifyDblClick = 13,       // reported only by controls whose notify flag 13 is set
    kNotifyValueChanging = 14,  // a slide being dragged
    kNotifyLink = 15,
};

// Dispatch flag: mouse events a control receives are passed on to its parent
// as well, so an element sees clicks on the labels and pictures inside it.
constexpr int kDispatchMouseToParent = 10;
// Dispatch flags of a container that wants one kind of mouse event over any
// of its descendants, however deep and whether or not the controls in between
// pass events on: it sees the event after the control it was aimed at (and
// passes it on to its own parent when it has flag 10). An element sets them
// on the container its answer area lives in, so that it sees a drag wherever
// in that area it starts, moves and ends.
constexpr int kDispatchMouseMove = 6;
constexpr int kDispatchButtonDown = 11;
constexpr int kDispatchButtonUp = 12;
constexpr int kDispatchDblClick = 14;

// Text format flags of the "align" attribute.
enum UITextFormat : uint32_t {
    DT_LEFT = 0x0000,
    DT_TOP = 0x0000,
    DT_CENTER = 0x0001,
    DT_RIGHT = 0x0002,
    DT_VCENTER = 0x0004,
    DT_BOTTOM = 0x0008,
    DT_WORDBREAK = 0x0010,
    DT_SINGLELINE = 0x0020,
    DT_NOPREFIX = 0x0800,
    DT_CALCRECT = 0x0400,
    DT_END_ELLIPSIS = 0x8000,
};

// Parses "vcen center singleline", "left top wordbreak", "endellipsis" and the
// long spellings ("vcenter", "right", "bottom", "wrap").
uint32_t ParseTextAlign(const std::string& text);

// Sizes and offsets are kept within this range, so that no sum of them can
// overflow, whatever a layout or a caller asks for.
constexpr int kMaxCoord = 100000;
inline int ClampCoord(int v) {
    return std::clamp(v, -kMaxCoord, kMaxCoord);
}
inline int ClampSize(int v) {
    return std::clamp(v, 0, kMaxCoord);
}
inline UIRect ClampRect(const UIRect& r) {
    return {ClampCoord(r.left), ClampCoord(r.top), ClampCoord(r.right), ClampCoord(r.bottom)};
}

// Parses "#AARRGGBB", "0xAARRGGBB", "#RRGGBB" (opaque). False on bad text.
bool ParseColor(const std::string& text, UIColor& out);
// Parses "l,t,r,b"; missing parts are 0; values are clamped to +-kMaxCoord.
UIRect ParseRect(const std::string& text);
UISize ParseSize(const std::string& text);

}  // namespace KwLib
