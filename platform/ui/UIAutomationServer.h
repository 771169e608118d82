#pragma once
// UIAutomationServer: lets a script drive the running program through a
// private Unix socket, one JSON object per line each way. Commands run on the
// UI thread and feed input through the same window messages the SDL back end
// produces, so filters, hot states, tooltips and disabled controls behave as
// they do for a user. Without Start nothing listens.
//
//     {"cmd":"state"}                          windows, active window, its controls
//     {"cmd":"click","id":514}                 or "x","y"; "dblclick" alike
//     {"cmd":"drag","from":[x,y],"to":[x,y],"steps":10}
//     {"cmd":"move","x":100,"y":40}            the pointer alone; "state" tells the cursor
//     {"cmd":"type","text":"音乐"}              {"cmd":"key","key":"space","down":true}
//     {"cmd":"screenshot","path":"/abs/shot.png"}
//     {"cmd":"wait","ms":500}                  on the program's own clock
//
// Every other command goes to the host (IUIAutomationHost::HandleCommand).
// Answers carry "ok": true, or "ok": false and "error".
//
// Start and Stop on the UI thread; the connections have their own threads.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/common/KWJson.h"
#include "platform/common/KWLineSocketServer.h"

namespace KwLib {

class UIWindowWnd;

// What the program adds to the channel. Called on the UI thread only.
class IUIAutomationHost {
public:
    virtual ~IUIAutomationHost() = default;
    // The window the student works in: the active window while no modal
    // window is up, and the background of screenshots.
    virtual UIWindowWnd* GetAutomationMainWindow() = 0;
    // Adds the program's own fields to the answer of "state" (screen, page, ...).
    virtual void FillState(KWJsonValue& state) { (void)state; }
    // A command the channel does not know itself. Returns true when the host
    // knows it, with the answer filled in ("ok" is added as true when missing).
    virtual bool HandleCommand(const std::string& cmd, const KWJsonValue& request, KWJsonValue& answer) {
        (void)cmd;
        (void)request;
        (void)answer;
        return false;
    }
};

class UIAutomationServer {
public:
    UIAutomationServer();
    // Stops the server.
    ~UIAutomationServer();
    UIAutomationServer(const UIAutomationServer&) = delete;
    UIAutomationServer& operator=(const UIAutomationServer&) = delete;

    // Listens on `socketPath` (absolute; its folder must belong to the user
    // and be closed to group and others). `host` may be null and must outlive
    // the server or Stop. False, with the reason in `error`, when refused.
    bool Start(const std::string& socketPath, IUIAutomationHost* host, std::string* error);
    // Ends every connection (a command still waiting is answered with an
    // error), stops listening and removes the socket.
    void Stop();
    bool IsRunning() const { return m_core != nullptr; }
    const std::string& GetSocketPath() const { return m_socket.GetPath(); }

    // How long a connection waits for the UI thread to run a command before
    // answering with an error ("wait" adds its own length).
    void SetCommandTimeout(uint32_t ms);
    uint32_t GetCommandTimeout() const { return m_timeoutMs; }

    static constexpr size_t kMaxLineBytes = 1 << 20;
    static constexpr uint32_t kDefaultCommandTimeoutMs = 60000;

    // The answer line for a request refused before it reached a command.
    static std::string ErrorLine(const std::string& error);

    struct Core;

private:
    std::shared_ptr<Core> m_core;
    uint32_t m_timeoutMs = kDefaultCommandTimeoutMs;
    KWLineSocketServer m_socket;
};

}  // namespace KwLib
