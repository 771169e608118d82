#pragma once
#include <memory>

#include "platform/common/KWMessage.h"
#include "platform/common/KWThread.h"

namespace KwLib {

// Started once by the main window's port-check timer. The check itself is not
// performed: the thread ends at once. Kept so that start-up and shut-down keep
// their shape. UI thread only.
class VLPortCheckManager {
public:
    static VLPortCheckManager* GetInstance();
    ~VLPortCheckManager();

    // Stores the window and starts the thread unless one exists.
    void StartCheck(IKWMessageReceiver* window);
    bool HasStarted();
    void Release();

private:
    IKWMessageReceiver* m_window = nullptr;
    std::unique_ptr<KWThread> m_thread;
    KWMutex m_mutex;
};

}  // namespace KwLib
