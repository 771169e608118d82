#include "app/client/VLGuardWatchdog.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWProcess.h"

namespace KwLib {

VLGuardWatchdog::VLGuardWatchdog(std::string guardPath, int periodMs)
    : m_guardPath(std::move(guardPath)), m_guardName(KWFilePathUtils::FileName(m_guardPath)), m_periodMs(periodMs) {}

VLGuardWatchdog::~VLGuardWatchdog() { Stop(); }

bool VLGuardWatchdog::Start() {
    if (m_thread.joinable()) return true;
    m_stop = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void VLGuardWatchdog::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_sleepMutex);
        m_stop = true;
    }
    m_sleepCv.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void VLGuardWatchdog::Run() {
    while (!m_stop) {
        if (!KWProcess::IsRunning(m_guardName)) {
            // A failed start is retried on the next cycle; the log says why once per try.
            if (KWProcess::Spawn(m_guardPath, {}) > 0) {
                ++m_starts;
                VL_LOG_INFO("started %s", m_guardPath.c_str());
            }
        }
        std::unique_lock<std::mutex> lock(m_sleepMutex);
        m_sleepCv.wait_for(lock, std::chrono::milliseconds(m_periodMs), [this] { return m_stop.load(); });
    }
}

}  // namespace KwLib
