#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/common/KWThread.h"

#include "platform/crash/KWCrashWire.h"

namespace KwLib {

// The guard's end of the crash socket. A thread of its own accepts one client
// report at a time, adds the client's other threads to it (KWCrashThreads),
// hands the checked report to the callback on that thread and then
// acknowledges, so the crashed client may end. Only processes of the server's
// own user are served.
class KWCrashServer {
public:
    using ReportCallback = std::function<void(const KWCrashReportData& report)>;

    KWCrashServer(std::string socketPath, ReportCallback onReport);
    ~KWCrashServer();
    KWCrashServer(const KWCrashServer&) = delete;
    KWCrashServer& operator=(const KWCrashServer&) = delete;

    // Binds the socket (replacing a stale one left by an ended server) and starts the thread.
    bool Start();
    // Ends the thread and removes the socket file. Safe to call more than once.
    void Stop();

    // How long one client may take to send its report.
    static constexpr int kClientTimeoutMs = 20000;

private:
    void Loop();
    void Serve(int fd);

    std::string m_socketPath;
    ReportCallback m_onReport;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    std::unique_ptr<KWThread> m_thread;
};

}  // namespace KwLib
