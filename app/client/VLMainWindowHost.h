#pragma once
#include <functional>
#include <memory>
#include <string>

namespace KwLib {

// The window that start-up creates last and whose message loop is the life of
// the client. The toolkit's main window implements it; until then a console
// host keeps the process alive.
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

// Runs until SIGINT or SIGTERM; logs raise requests.
std::unique_ptr<IVLMainWindowHost> CreateConsoleMainWindowHost();

}  // namespace KwLib
