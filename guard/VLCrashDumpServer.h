#pragma once
#include <functional>
#include <string>
#include <thread>

#include "platform/crash/KWCrashWire.h"

namespace KwLib {

// The guard's end of the crash socket. A thread of its own accepts one client
// report at a time, writes it as a minidump into the dump folder, calls the dump
// callback on that thread and then acknowledges, so the crashed client may end.
// Only processes of the guard's own user are served.
class VLCrashDumpServer {
public:
    using DumpCallback = std::function<void(const std::string& dumpPath, const KWCrashReportData& report)>;

    VLCrashDumpServer(std::string socketPath, std::string dumpDir, DumpCallback onDump);
    ~VLCrashDumpServer();
    VLCrashDumpServer(const VLCrashDumpServer&) = delete;
    VLCrashDumpServer& operator=(const VLCrashDumpServer&) = delete;

    // Binds the socket (replacing a stale one left by an ended guard) and starts the thread.
    bool Start();
    // Ends the thread and removes the socket file. Safe to call more than once.
    void Stop();

    // How long one client may take to send its report.
    static constexpr int kClientTimeoutMs = 20000;

private:
    void Loop();
    void Serve(int fd);

    std::string m_socketPath;
    std::string m_dumpDir;
    DumpCallback m_onDump;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace KwLib
