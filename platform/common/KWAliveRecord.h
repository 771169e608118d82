#pragma once
// KWAliveRecord: what a program with a window says about its UI thread, in a small
// file of the session's runtime folder, so that a companion process can tell a hung
// program from a busy one without asking it anything (a hung program answers nothing).
// The writer maps the file and stores plain aligned words; a reader takes a copy.
// Times are CLOCK_MONOTONIC milliseconds, the same clock in every process of the PC.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace KwLib {

struct KWAliveState {
    pid_t pid = 0;
    // The program holds the keyboard now: a hang there locks the PC.
    bool holding = false;
    // The program can let the keyboard go by itself on a hang (an X11 grab), so it
    // may be given longer before it is ended.
    bool releasesItself = false;
    // How long the UI thread may be busy with one piece of work (or the whole
    // program silent) before it is taken for hung and ended.
    uint32_t endAfterMs = 0;
    // The program's watchdog thread was last heard then (0: never).
    uint64_t heartbeatMs = 0;
    // The UI thread has been busy with one piece of work since then (0: it waits for events).
    uint64_t busySinceMs = 0;
};

class KWAliveRecord {
public:
    static uint64_t NowMs();

    // Writer: creates the file (0600) afresh and maps it. False when it cannot.
    bool Publish(const std::string& path);
    bool IsPublished() const { return m_words != nullptr; }
    ~KWAliveRecord();
    KWAliveRecord() = default;
    KWAliveRecord(const KWAliveRecord&) = delete;
    KWAliveRecord& operator=(const KWAliveRecord&) = delete;

    // Any thread; each is one store, nothing when the file is not published.
    void SetHolding(bool holding, bool releasesItself, uint32_t endAfterMs);
    void Heartbeat(uint64_t nowMs);
    void Busy(uint64_t sinceMs);

    // A whole record at once, for another program's pid (tools and the readers'
    // tests; a program publishes its own with Publish). False when it cannot.
    static bool Write(const std::string& path, const KWAliveState& state);

    // Reader: the record in the file, or nothing when it is missing, short or not one.
    static std::optional<KWAliveState> Read(const std::string& path);

    // Whether the program of `state` is to be taken for hung at `nowMs`: it holds the
    // keyboard, and its UI thread has been on one piece of work, or the whole program
    // silent, for longer than it allows.
    static bool IsHung(const KWAliveState& state, uint64_t nowMs);

private:
    uint64_t* m_words = nullptr;
};

}  // namespace KwLib
