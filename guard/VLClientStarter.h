#pragma once
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace KwLib {

// Starts the exam client for "/runClient", within limits: a page may open a
// question, not flood the PC with clients. Ids are digits only, at most
// kMaxPerRequest clients come from one request, and no new start is made while
// a client started here still runs or within kGap of the last start. Used on
// the event loop's thread; a started client's end is heard on the thread that
// reaps it.
class VLClientStarter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr size_t kMaxPerRequest = 2;
    static constexpr size_t kMaxIdDigits = 20;
    static constexpr std::chrono::milliseconds kGap{3000};

    // `environment` is what every client gets ("NAME=value" entries).
    VLClientStarter(std::string clientPath, std::vector<std::string> environment, Clock clock = Clock());

    enum class Outcome { Started, NothingToStart, BadId, TooMany, StillRunning, TooSoon, StartFailed };
    struct Result {
        Outcome outcome = Outcome::NothingToStart;
        std::vector<pid_t> pids;
        // TooSoon: whole seconds until a start is taken again.
        int retryAfterSeconds = 0;
    };
    // One request's ids, in order. Nothing is started unless every id is valid
    // and the limits allow all of them.
    Result Start(const std::vector<std::string>& ids);

    static bool IsValidId(const std::string& id);
    // True while a client started here has not ended.
    bool AnyRunning() const;

private:
    struct Shared;
    std::string m_clientPath;
    std::vector<std::string> m_environment;
    Clock m_clock;
    std::shared_ptr<Shared> m_shared;
    bool m_startedBefore = false;
    std::chrono::steady_clock::time_point m_lastStart{};
};

}  // namespace KwLib
