#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/common/KWThread.h"

namespace KwLib {

// A Unix socket in the runtime folder through which a later start of the same
// program talks to the running one (for example to ask it to raise its window).
// The listener's callback runs on the channel's own thread.
class KWInstanceChannel {
public:
    using Handler = std::function<void(const std::string& request)>;
    KWInstanceChannel() = default;
    ~KWInstanceChannel();
    KWInstanceChannel(const KWInstanceChannel&) = delete;
    KWInstanceChannel& operator=(const KWInstanceChannel&) = delete;

    bool Listen(const std::string& name, Handler handler);
    void Stop();
    // Sends one request line to the listener of `name`; false when none answers.
    static bool Send(const std::string& name, const std::string& request);
    static std::string SocketPath(const std::string& name);

private:
    void Run();
    int m_fd = -1;
    int m_wakeFd[2] = {-1, -1};
    std::string m_path;
    Handler m_handler;
    std::unique_ptr<KWThread> m_thread;
};

}  // namespace KwLib
