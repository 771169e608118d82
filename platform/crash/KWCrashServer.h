#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/common/KWThread.h"

#include "platform/crash/KWCrashWire.h"

namespace KwLib {

// The guard's end of the crash socket. A thread of its own reads the reports
// of several clients at once, adds a finished report's other threads to it
// (KWCrashThreads), hands the checked report to the callback on that thread
// and then acknowledges, so the crashed client may end. Only processes of the
// server's own user are served. A connection that does not deliver its report
// within kClientTimeoutMs (well inside the client's own wait for the answer)
// is closed, and when kMaxClients are connected a new one pushes out the one
// that has been quiet the longest, so that nothing that merely holds a
// connection open can keep a real crash from being recorded.
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

    // How long one client may take to send its report; the time spent on
    // other clients' reports meanwhile is not counted.
    static constexpr int kClientTimeoutMs = 10000;
    static constexpr size_t kMaxClients = 8;

private:
    struct Client;
    void Loop();
    void Accept(std::vector<Client>& clients);
    // Reads what has arrived; true when the client is done with (answered or refused).
    bool ReadFrom(Client& client);
    void Serve(Client& client);

    std::string m_socketPath;
    ReportCallback m_onReport;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    std::unique_ptr<KWThread> m_thread;
};

}  // namespace KwLib
