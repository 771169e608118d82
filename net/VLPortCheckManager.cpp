#include "net/VLPortCheckManager.h"

#include "platform/common/KWLog.h"

namespace KwLib {

VLPortCheckManager* VLPortCheckManager::GetInstance() {
    static VLPortCheckManager instance;
    return &instance;
}

VLPortCheckManager::~VLPortCheckManager() {
    if (m_thread)
        m_thread->Join();
}

void VLPortCheckManager::StartCheck(IKWMessageReceiver* window) {
    KWMutexGuard lock(m_mutex);
    m_window = window;
    if (m_thread)
        return;
    m_thread = std::make_unique<KWThread>([] {});
    m_thread->Start();
}

bool VLPortCheckManager::HasStarted() {
    KWMutexGuard lock(m_mutex);
    return m_thread != nullptr;
}

void VLPortCheckManager::Release() {
    std::unique_ptr<KWThread> thread;
    {
        KWMutexGuard lock(m_mutex);
        thread = std::move(m_thread);
    }
    if (thread)
        thread->Join();
    VL_LOG_DEBUG("VLPortCheckManager::Release()");
}

}  // namespace KwLib
