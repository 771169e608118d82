#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "app/client/VLMainWindowHost.h"
#include "platform/common/KWLog.h"
#include "platform/crash/KWCrashHandler.h"

namespace KwLib {

namespace {
int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int signal) {
    char c = signal == SIGUSR1 ? 'c' : 's';
    (void)!write(g_stopPipe[1], &c, 1);
}

class VLConsoleMainWindowHost : public IVLMainWindowHost {
public:
    bool Create(const std::string& paperId) override {
        if (g_stopPipe[0] < 0 && pipe2(g_stopPipe, O_CLOEXEC) != 0)
            return false;
        struct sigaction sa = {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        // Without a window there is no button for the test crash; SIGUSR1 stands in for it.
        sigaction(SIGUSR1, &sa, nullptr);
        VL_LOG_INFO("client running without a window, paper id \"%s\"", paperId.c_str());
        return true;
    }
    void RequestRaise() override {
        ++m_raises;
        VL_LOG_INFO("raise request received (%d)", m_raises.load());
    }
    void RunMessageLoop() override {
        while (true) {
            pollfd p = {g_stopPipe[0], POLLIN, 0};
            if (poll(&p, 1, -1) < 0)
                continue;
            char c = 0;
            if (read(g_stopPipe[0], &c, 1) != 1)
                continue;
            if (c == 'c') {
                // Does nothing unless "-crashtest" was given.
                KWCrashHandler::TriggerTestCrash();
                continue;
            }
            break;
        }
        VL_LOG_INFO("client stopping");
    }

private:
    std::atomic<int> m_raises{0};
};
}  // namespace

std::unique_ptr<IVLMainWindowHost> CreateConsoleMainWindowHost() {
    return std::make_unique<VLConsoleMainWindowHost>();
}

}  // namespace KwLib
