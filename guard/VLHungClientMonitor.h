#pragma once
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace KwLib {

// Ends a client that stays hung while it holds the keyboard, and starts it again
// (it resumes the exam from its stored answers): a hung client must never lock a PC.
// It reads the client's alive record (KWAliveRecord) once a second; a client seen
// hung on two reads in a row gets SIGABRT, so that its crash handler leaves a dump
// of where it hung, and SIGKILL when it has not ended after the grace time. It is
// started again with its own arguments and the guard's clean client environment,
// at most `maxRestarts` times within `restartWindowMs`, so a client that hangs at
// once every time does not run in a loop. Used on the guard's event loop thread.
class VLHungClientMonitor {
public:
    struct Settings {
        std::string alivePath;
        std::string clientPath;  // the program started again, and the name a hung one must have
        std::vector<std::string> environment;
        uint64_t graceMs = 5000;
        int maxRestarts = 3;
        uint64_t restartWindowMs = 600000;
    };
    explicit VLHungClientMonitor(Settings settings);

    void Check(uint64_t nowMs);
    int Ended() const { return m_ended; }
    int Restarts() const { return m_restarts; }

private:
    bool IsOurClient(pid_t pid) const;
    static bool IsAlive(pid_t pid);
    static std::vector<std::string> ArgumentsOf(pid_t pid);
    void StartAgain(uint64_t nowMs);

    Settings m_settings;
    pid_t m_suspect = 0;  // seen hung on the last read
    pid_t m_ending = 0;   // sent SIGABRT, not yet gone
    uint64_t m_endingSince = 0;
    bool m_killed = false;
    std::vector<std::string> m_arguments;
    std::deque<uint64_t> m_startTimes;
    int m_ended = 0;
    int m_restarts = 0;
};

}  // namespace KwLib
