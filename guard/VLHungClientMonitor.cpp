#include "guard/VLHungClientMonitor.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "platform/common/KWAliveRecord.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWProcess.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

VLHungClientMonitor::VLHungClientMonitor(Settings settings) : m_settings(std::move(settings)) {}

bool VLHungClientMonitor::IsAlive(pid_t pid) {
    if (kill(pid, 0) != 0)
        return false;
    // A zombie has ended; its parent has not yet heard of it.
    auto stat = KWFile::ReadAll("/proc/" + std::to_string(pid) + "/stat");
    if (!stat)
        return false;
    const size_t close = stat->rfind(')');
    return close == std::string::npos || close + 2 >= stat->size() || (*stat)[close + 2] != 'Z';
}

bool VLHungClientMonitor::IsOurClient(pid_t pid) const {
    // The record lies in this session's private folder; the process it names must
    // still be the client program (a pid is reused once its owner has ended).
    std::error_code ec;
    std::string exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename();
    if (ec)
        return false;
    if (KWStringUtils::EndWithNoCase(exe, " (deleted)"))
        exe.resize(exe.size() - 10);
    return exe == KWFilePathUtils::FileName(m_settings.clientPath);
}

std::vector<std::string> VLHungClientMonitor::ArgumentsOf(pid_t pid) {
    std::vector<std::string> args;
    const std::string cmdline = KWFile::ReadAll("/proc/" + std::to_string(pid) + "/cmdline").value_or("");
    size_t start = 0;
    while (start < cmdline.size()) {
        size_t end = cmdline.find('\0', start);
        if (end == std::string::npos)
            end = cmdline.size();
        args.push_back(cmdline.substr(start, end - start));
        start = end + 1;
    }
    if (!args.empty())
        args.erase(args.begin());  // the program: ours is started, whatever it was called
    return args;
}

void VLHungClientMonitor::Check(uint64_t nowMs) {
    if (m_ending > 0) {
        if (!IsAlive(m_ending)) {
            VL_LOG_INFO("the hung client (pid %d) has ended", m_ending);
            m_ending = 0;
            StartAgain(nowMs);
        } else if (!m_killed && nowMs - m_endingSince >= m_settings.graceMs) {
            VL_LOG_WARN("the hung client (pid %d) did not end on SIGABRT: SIGKILL", m_ending);
            kill(m_ending, SIGKILL);
            m_killed = true;
        }
        return;
    }
    const auto state = KWAliveRecord::Read(m_settings.alivePath);
    if (!state || !KWAliveRecord::IsHung(*state, nowMs) || !IsAlive(state->pid) || !IsOurClient(state->pid)) {
        m_suspect = 0;
        return;
    }
    // Twice in a row: one read could have met a record half written.
    if (m_suspect != state->pid) {
        m_suspect = state->pid;
        return;
    }
    m_suspect = 0;
    const uint64_t busy = state->busySinceMs ? nowMs - state->busySinceMs : 0;
    const uint64_t silent = state->heartbeatMs ? nowMs - state->heartbeatMs : 0;
    VL_LOG_ERROR("the client (pid %d) holds the keyboard and has not answered for %llu ms (silent for %llu ms, "
                 "limit %u ms): it is ended and started again",
                 state->pid, static_cast<unsigned long long>(busy), static_cast<unsigned long long>(silent),
                 state->endAfterMs);
    m_arguments = ArgumentsOf(state->pid);
    m_ending = state->pid;
    m_endingSince = nowMs;
    m_killed = false;
    ++m_ended;
    // Its crash handler writes a dump of where the UI thread hung; a process that
    // is stopped or cannot run its handler gets SIGKILL after the grace time.
    kill(state->pid, SIGABRT);
}

void VLHungClientMonitor::StartAgain(uint64_t nowMs) {
    while (!m_startTimes.empty() && nowMs - m_startTimes.front() > m_settings.restartWindowMs)
        m_startTimes.pop_front();
    if (static_cast<int>(m_startTimes.size()) >= m_settings.maxRestarts) {
        VL_LOG_ERROR("the client is not started again: it hung %d times within %llu s", m_settings.maxRestarts,
                     static_cast<unsigned long long>(m_settings.restartWindowMs / 1000));
        return;
    }
    KWProcess::SpawnOptions options;
    options.environment = m_settings.environment;
    const pid_t pid = KWProcess::Spawn(m_settings.clientPath, m_arguments, options);
    if (pid <= 0) {
        VL_LOG_ERROR("the client could not be started again (%s)", m_settings.clientPath.c_str());
        return;
    }
    m_startTimes.push_back(nowMs);
    ++m_restarts;
    VL_LOG_INFO("the client is started again (pid %d, %zu arguments)", pid, m_arguments.size());
}

}  // namespace KwLib
