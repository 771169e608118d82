#include "app/client/VLGuardWatchdog.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "app/core/VLPaths.h"
#include "platform/common/KWBaseEvent.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWProcess.h"

namespace KwLib {

VLGuardWatchdog::VLGuardWatchdog(std::string guardPath, int periodMs)
    : m_guardPath(std::move(guardPath)),
      m_guardName(KWFilePathUtils::FileName(m_guardPath)),
      m_lockPath(KWBaseEvent::LockPathForName(kGuardInstanceName)),
      m_periodMs(periodMs) {}

VLGuardWatchdog::~VLGuardWatchdog() {
    Stop();
}

bool VLGuardWatchdog::Start() {
    if (m_thread)
        return true;
    m_stop = false;
    m_thread = std::make_unique<KWThread>([this] { Run(); });
    if (!m_thread->Start()) {
        m_thread.reset();
        return false;
    }
    return true;
}

void VLGuardWatchdog::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_sleepMutex);
        m_stop = true;
    }
    m_sleepCv.notify_all();
    if (m_thread) {
        m_thread->Join();
        m_thread.reset();
    }
}

bool VLGuardWatchdog::OurGuardRuns() const {
    for (pid_t pid : KWProcess::FindByName(m_guardName))
        if (pid == m_started || KWProcess::HasOpen(pid, m_lockPath))
            return true;
    return false;
}

void VLGuardWatchdog::Run() {
    bool reportedMissing = false;
    while (!m_stop) {
        if (!OurGuardRuns()) {
            // A missing guard is tried again every cycle, but said once: the log
            // is shared and sent to the platform, a line a second would swamp it.
            if (!KWFilePathUtils::IsExistsFile(m_guardPath)) {
                if (!reportedMissing)
                    VL_LOG_WARN("%s is missing; waiting for it", m_guardPath.c_str());
                reportedMissing = true;
            } else if ((m_started = KWProcess::Spawn(m_guardPath, {})) > 0) {
                reportedMissing = false;
                ++m_starts;
                VL_LOG_INFO("started %s", m_guardPath.c_str());
            }
        }
        std::unique_lock<std::mutex> lock(m_sleepMutex);
        m_sleepCv.wait_for(lock, std::chrono::milliseconds(m_periodMs), [this] { return m_stop.load(); });
    }
}

}  // namespace KwLib
