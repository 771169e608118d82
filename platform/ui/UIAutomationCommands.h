#pragma once
// UIAutomationCommands: what the automation channel's commands do, on the UI
// thread. Input is delivered as the SDL back end delivers it: one window
// message per event, each from its own pass of the message loop (so posted
// messages, timers and painting run in between as they would for a user),
// through the window's filters and handlers. Each event carries the time its
// command reached the program, or the earlier "time" the command gives
// (UIApplication::GetMessageTime), not the time the loop dispatched it, as a
// key a user pressed carries the moment it went down.
//
// Every command answers through its reply exactly once: at once, or, for
// input, after the last event was dispatched or as soon as an event opened
// a nested loop (a modal box), so the box can be answered by the next command.
// UI thread only.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/common/KWJson.h"
#include "platform/ui/UIDefines.h"

namespace KwLib {

class IUIAutomationHost;
class UIWindowWnd;
class UIControl;

class UIAutomationCommands {
public:
    using Reply = std::function<void(KWJsonValue answer)>;

    explicit UIAutomationCommands(IUIAutomationHost* host) : m_host(host) {}
    ~UIAutomationCommands();
    UIAutomationCommands(const UIAutomationCommands&) = delete;
    UIAutomationCommands& operator=(const UIAutomationCommands&) = delete;

    // Runs one request; unknown commands go to the host, then are refused.
    // `receivedMs` is when the request arrived, on the toolkit clock: the time
    // its input events carry. Without it they carry the time Run is called.
    void Run(const std::string& cmd, const KWJsonValue& request, const Reply& reply);
    void Run(const std::string& cmd, const KWJsonValue& request, const Reply& reply, uint64_t receivedMs);
    // Drops waits still running (their replies are never called).
    void Stop();

    // The window input goes to: the topmost modal window, else the host's main
    // window, else the most recent visible window.
    UIWindowWnd* ActiveWindow() const;
    // The host's main window if it is still there, else the active window.
    UIWindowWnd* MainWindow() const;

    static KWJsonValue Error(const std::string& text);
    // The longest "wait", in milliseconds of the toolkit clock.
    static constexpr int kMaxWaitMs = 3600000;
    // How far back an input's "time" may lie.
    static constexpr int kMaxInputAgeMs = 10000;
    // Virtual key code of a key name ("space", "f5", "a"); 0 when unknown.
    static uint32_t KeyCode(const std::string& name);

private:
    KWJsonValue State();
    void Click(const KWJsonValue& request, bool twice, const Reply& reply);
    void Drag(const KWJsonValue& request, const Reply& reply);
    // Moves the pointer to "x","y" with no button held (hover, cursor).
    void Move(const KWJsonValue& request, const Reply& reply);
    void Type(const KWJsonValue& request, const Reply& reply);
    void Key(const KWJsonValue& request, const Reply& reply);
    KWJsonValue Screenshot(const KWJsonValue& request);
    void Wait(const KWJsonValue& request, const Reply& reply);

    // The window a request names with "window", or the active one; null and
    // `error` set when there is none or it takes no input now.
    UIWindowWnd* TargetWindow(const KWJsonValue& request, bool forInput, std::string& error) const;
    // The centre of a control a user can click, or false and `error`.
    bool ClickablePoint(UIWindowWnd* window, int id, UIPoint& pt, std::string& error) const;
    // A point of the request ("x","y" or an [x, y] array) inside the window.
    bool ReadPoint(const KWJsonValue& request, const char* xName, const char* yName, UIWindowWnd* window,
                   UIPoint& pt, std::string& error) const;

    // Queues one input message for its own pass of the loop, stamped with the
    // time the running request arrived.
    void QueueInput(UIWindowWnd* window, uint32_t message, uintptr_t wParam, intptr_t lParam) const;
    void QueueMouse(UIWindowWnd* window, uint32_t message, UIPoint pt, bool leftDown) const;
    // Queues the reply behind the input queued before it.
    static void QueueReply(const Reply& reply, KWJsonValue answer);

    IUIAutomationHost* m_host;
    int m_waitSeq = 0;
    uint64_t m_inputTime = 0;  // arrival of the request being run
};

}  // namespace KwLib
