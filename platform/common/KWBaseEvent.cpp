#include "platform/common/KWBaseEvent.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/common/KWShellUtils.h"
#include "platform/common/KWTypes.h"

namespace KwLib {

KWBaseEvent::~KWBaseEvent() {
    if (m_lockFd >= 0)
        close(m_lockFd);
}

std::string KWBaseEvent::LockPathForName(const std::string& name) {
    return KWShellUtils::GetRuntimeDirectory() + name + ".lock";
}

bool KWBaseEvent::Create(bool manualReset, bool initiallySet, const std::string& name, void*) {
    m_manualReset = manualReset;
    m_set = initiallySet;
    m_lastError = 0;
    if (name.empty())
        return true;
    int fd = open(LockPathForName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_lastError = errno;
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_lastError = errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS_CODE : errno;
        close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

void KWBaseEvent::Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
    if (m_manualReset)
        m_cv.notify_all();
    else
        m_cv.notify_one();
}

void KWBaseEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = false;
}

bool KWBaseEvent::Wait(int milliseconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto ready = [this] { return m_set; };
    if (milliseconds < 0)
        m_cv.wait(lock, ready);
    else if (!m_cv.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
        return false;
    if (!m_manualReset)
        m_set = false;
    return true;
}

}  // namespace KwLib
