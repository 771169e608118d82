#pragma once
#include <condition_variable>
#include <mutex>
#include <string>

namespace KwLib {

// An event that threads wait on. A named event is also process-wide: creating
// a name that another live process holds fails with ERROR_ALREADY_EXISTS_CODE
// (an advisory file lock in the runtime folder, released when the process ends,
// so a crashed holder never blocks the next start).
class KWBaseEvent {
public:
    KWBaseEvent() = default;
    ~KWBaseEvent();
    KWBaseEvent(const KWBaseEvent&) = delete;
    KWBaseEvent& operator=(const KWBaseEvent&) = delete;

    bool Create(bool manualReset, bool initiallySet, const std::string& name = std::string(),
                void* attributes = nullptr);
    int GetLastError() const { return m_lastError; }
    void Set();
    void Reset();
    // True when set within `milliseconds` (negative waits forever).
    bool Wait(int milliseconds = -1);

    // The lock file used for a name, in the runtime folder.
    static std::string LockPathForName(const std::string& name);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_manualReset = false;
    bool m_set = false;
    int m_lockFd = -1;
    int m_lastError = 0;
};

}  // namespace KwLib
