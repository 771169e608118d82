#pragma once
#include <functional>
#include <memory>
#include <string>

namespace KwLib {

// The window that start-up creates last and whose message loop is the life of
// the client.
class IVLMainWindowHost {
public:
    virtual ~IVLMainWindowHost() = default;
    // Creates and shows the main window; `paperId` is the "-id" value.
    virtual bool Create(const std::string& paperId) = 0;
    // Asked by a second start of the program; called on another thread.
    virtual void RequestRaise() = 0;
    // Runs until the main window ends.
    virtual void RunMessageLoop() = 0;
};

using VLMainWindowFactory = std::function<std::unique_ptr<IVLMainWindowHost>()>;

// The exam window VLStudentWnd. SIGINT and SIGTERM close it keeping every answer.
// With an automation socket path, scripts drive the window through that socket;
// a socket that cannot be opened safely makes Create fail.
std::unique_ptr<IVLMainWindowHost> CreateStudentWindowHost(const std::string& automationSocket = std::string());

}  // namespace KwLib
