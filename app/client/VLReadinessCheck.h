#pragma once
// VLReadinessCheck: "VLStudent -check", the classroom readiness check a
// technician runs on every student PC before exam day. It looks at what an
// exam needs of this PC and says, one line each, what is fine, what deserves a
// look (warning) and what would stop an exam (blocker):
//   audio output and recording devices; the agent address and its four ports
//   (answering the agent's "/request" probe); free disk space for recordings;
//   the question font; user.db and sys.db readable with their key; the guard's
//   control port free or held by our guard.
// Nothing is changed on the PC. One thread (the probes of the ports run side by side).
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/VLPaths.h"

namespace KwLib {

struct VLReadinessItem {
    enum Level { kOk = 0, kWarning = 1, kBlocker = 2 };
    std::string name;
    Level level = kOk;
    std::string detail;
};

struct VLReadinessInputs {
    VLPathSet paths;
    std::string clientVersion;
    // From config.cfg: the classroom agent's address and its ports.
    std::string agentHost;
    int requestPort = 9500;
    int downloadPort = 9501;
    int uploadPort = 9502;
    int remotePort = 9600;
    int guardPort = 9182;
    // A recording takes 32 KB a second; a paper's recordings and files stay far below these.
    uint64_t blockerFreeBytes = 100ull << 20;
    uint64_t warningFreeBytes = 500ull << 20;
    bool checkAudio = true;
};

class VLReadinessCheck {
public:
    explicit VLReadinessCheck(VLReadinessInputs inputs) : m_in(std::move(inputs)) {}

    std::vector<VLReadinessItem> Run();

    VLReadinessItem CheckAudioOutput();
    VLReadinessItem CheckRecording();
    VLReadinessItem CheckAgentAddress();
    // The four agent ports, probed at once.
    std::vector<VLReadinessItem> CheckAgentPorts();
    VLReadinessItem CheckDiskSpace();
    VLReadinessItem CheckFonts();
    VLReadinessItem CheckUserDb();
    VLReadinessItem CheckSysDb();
    VLReadinessItem CheckGuardPort();

    // The report as printed: a heading, one line per item, and the verdict.
    static std::string Format(const std::vector<VLReadinessItem>& items, const std::string& clientVersion);
    static bool HasBlocker(const std::vector<VLReadinessItem>& items);

private:
    VLReadinessInputs m_in;
};

// The program's "-check": reads the installation and config.cfg as a start
// would, prints the report and returns 1 when something blocks an exam, else 0.
int RunReadinessCheck();

}  // namespace KwLib
