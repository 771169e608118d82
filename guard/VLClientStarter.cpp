#include "guard/VLClientStarter.h"

#include <atomic>

#include "guard/VLHttpLocalServer.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWProcess.h"

namespace KwLib {

// Outlives the starter: a client may end after the guard's server is gone.
struct VLClientStarter::Shared {
    std::atomic<int> running{0};
};

VLClientStarter::VLClientStarter(std::string clientPath, std::vector<std::string> environment, Clock clock)
    : m_clientPath(std::move(clientPath)),
      m_environment(std::move(environment)),
      m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })),
      m_shared(std::make_shared<Shared>()) {}

bool VLClientStarter::IsValidId(const std::string& id) {
    return !id.empty() && id.size() <= kMaxIdDigits &&
           id.find_first_not_of("0123456789") == std::string::npos;
}

bool VLClientStarter::AnyRunning() const {
    return m_shared->running.load() > 0;
}

VLClientStarter::Result VLClientStarter::Start(const std::vector<std::string>& ids) {
    Result result;
    if (ids.empty())
        return result;
    for (const std::string& id : ids) {
        if (!IsValidId(id)) {
            result.outcome = Outcome::BadId;
            return result;
        }
    }
    if (ids.size() > kMaxPerRequest) {
        result.outcome = Outcome::TooMany;
        return result;
    }
    if (AnyRunning()) {
        result.outcome = Outcome::StillRunning;
        return result;
    }
    const auto now = m_clock();
    if (m_startedBefore && now - m_lastStart < kGap) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kGap - (now - m_lastStart));
        result.outcome = Outcome::TooSoon;
        result.retryAfterSeconds = static_cast<int>((left.count() + 999) / 1000);
        return result;
    }

    KWProcess::SpawnOptions options;
    options.environment = m_environment;
    std::weak_ptr<Shared> shared = m_shared;
    options.onExit = [shared](int) {
        if (auto s = shared.lock())
            --s->running;
    };
    result.outcome = Outcome::Started;
    for (const std::string& id : ids) {
        // Counted before the start: a client that ends at once is heard of on
        // another thread, possibly before Spawn returns.
        ++m_shared->running;
        const pid_t pid = KWProcess::Spawn(m_clientPath, VLHttpLocalServer::ClientArguments(id), options);
        VL_LOG_INFO("runClient question %s: pid %d", id.c_str(), static_cast<int>(pid));
        if (pid <= 0) {
            --m_shared->running;
            result.outcome = Outcome::StartFailed;
            continue;
        }
        result.pids.push_back(pid);
    }
    if (!result.pids.empty()) {
        m_startedBefore = true;
        m_lastStart = now;
    }
    return result;
}

}  // namespace KwLib
