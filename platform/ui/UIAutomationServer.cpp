#include "platform/ui/UIAutomationServer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/common/KWLog.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIAutomationCommands.h"
#include "platform/ui/UIClock.h"

namespace KwLib {

// What the connection threads share with the UI thread. Tasks queued on the
// UI thread hold it, so it outlives a server that stopped meanwhile.
struct UIAutomationServer::Core {
    // UI thread only; reset by Stop, which the tasks notice through `stopping`.
    // Shared so that a command whose host stops the server finishes safely.
    std::shared_ptr<UIAutomationCommands> commands;
    std::atomic<uint32_t> timeoutMs{kDefaultCommandTimeoutMs};

    std::mutex mutex;
    std::condition_variable answered;
    bool stopping = false;
    // Input commands of several clients run one after the other, so the
    // events of one click are never mixed with another's.
    std::mutex order;

    struct Pending {
        bool started = false;
        bool done = false;
        bool cancelled = false;
        KWJsonValue answer;
    };

    std::string HandleLine(const std::shared_ptr<Core>& self, const std::string& line);
};

namespace {

std::string Seconds(uint64_t ms) {
    return std::to_string((ms + 999) / 1000) + " s";
}

}  // namespace

std::string UIAutomationServer::ErrorLine(const std::string& error) {
    return KWJsonWriter::Write(UIAutomationCommands::Error(error));
}

std::string UIAutomationServer::Core::HandleLine(const std::shared_ptr<Core>& self, const std::string& line) {
    // Input is stamped with the moment it arrived, however busy the UI thread is.
    const uint64_t received = UIClock::NowMs();
    KWJsonValue request;
    if (!KWJsonReader::Parse(line, request))
        return ErrorLine("bad JSON: a request is one JSON object on one line");
    if (!request.isObject())
        return ErrorLine("a request is one JSON object, not " + KWJsonWriter::Write(request).substr(0, 40));
    const KWJsonValue& cmdValue = KWJsonUtils::Member(request, "cmd");
    if (cmdValue.isNull())
        return ErrorLine("missing field \"cmd\"");
    if (!cmdValue.isString())
        return ErrorLine("\"cmd\" must be a command name");
    const std::string cmd = cmdValue.asString();

    uint64_t limit = timeoutMs.load();
    bool waits = cmd == "wait";
    if (waits) {
        const KWJsonValue& ms = KWJsonUtils::Member(request, "ms");
        if (ms.isInt() && ms.asInt() > 0)
            limit += static_cast<uint64_t>(ms.asInt());
    }
    // A wait only sets a timer; it need not hold up the other clients.
    std::unique_lock<std::mutex> turn(order, std::defer_lock);
    if (!waits)
        turn.lock();

    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return ErrorLine("the program is shutting down");
    }
    VL_LOG_DEBUG("automation: %s", cmd.c_str());
    UIApplication::Instance().RunOnUiThread([self, pending, request, cmd, received] {
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            if (pending->cancelled || self->stopping)
                return;
            pending->started = true;
        }
        auto reply = [self, pending](KWJsonValue answer) {
            {
                std::lock_guard<std::mutex> lock(self->mutex);
                if (pending->done)
                    return;
                pending->answer = std::move(answer);
                pending->done = true;
            }
            self->answered.notify_all();
        };
        std::shared_ptr<UIAutomationCommands> commands = self->commands;
        commands->Run(cmd, request, reply, received);
    });

    std::unique_lock<std::mutex> lock(mutex);
    answered.wait_for(lock, std::chrono::milliseconds(limit), [&] { return pending->done || stopping; });
    if (pending->done)
        return KWJsonWriter::Write(pending->answer);
    pending->cancelled = true;
    if (stopping)
        return ErrorLine("the program is shutting down");
    if (!pending->started) {
        VL_LOG_WARN("automation: %s not taken by the UI thread within %s", cmd.c_str(),
                    Seconds(limit).c_str());
        return ErrorLine("the program did not take \"" + cmd + "\" within " + Seconds(limit) +
                         " (its window is busy); the command was dropped");
    }
    VL_LOG_WARN("automation: %s not finished within %s", cmd.c_str(), Seconds(limit).c_str());
    return ErrorLine("\"" + cmd + "\" did not finish within " + Seconds(limit));
}

UIAutomationServer::UIAutomationServer() = default;

UIAutomationServer::~UIAutomationServer() {
    Stop();
}

void UIAutomationServer::SetCommandTimeout(uint32_t ms) {
    m_timeoutMs = ms;
    if (m_core)
        m_core->timeoutMs = ms;
}

bool UIAutomationServer::Start(const std::string& socketPath, IUIAutomationHost* host, std::string* error) {
    if (m_core) {
        if (error)
            *error = "the automation channel is already listening on " + GetSocketPath();
        return false;
    }
    auto core = std::make_shared<Core>();
    core->commands = std::make_shared<UIAutomationCommands>(host);
    core->timeoutMs = m_timeoutMs;
    bool ok = m_socket.Start(
        socketPath, [core](const std::string& line) { return core->HandleLine(core, line); },
        [](const std::string& problem) { return ErrorLine(problem); }, error, kMaxLineBytes);
    if (!ok)
        return false;
    m_core = core;
    // Loops on a manual clock now wait for the driver instead of giving up.
    UIApplication::Instance().AddExternalDriver();
    VL_LOG_INFO("automation: listening on %s", socketPath.c_str());
    return true;
}

void UIAutomationServer::Stop() {
    if (!m_core)
        return;
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        m_core->stopping = true;
    }
    // Connections waiting for an answer give up now, so joining them is quick.
    m_core->answered.notify_all();
    m_socket.Stop();
    m_core->commands->Stop();
    m_core->commands.reset();
    m_core.reset();
    UIApplication::Instance().RemoveExternalDriver();
    VL_LOG_INFO("automation: stopped");
}

}  // namespace KwLib
