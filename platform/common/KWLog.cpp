#include "platform/common/KWLog.h"

#include <log4cplus/fileappender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>
#include <log4cplus/logger.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>

namespace KwLib {

namespace {
std::atomic<bool> g_logReady{false};
std::mutex g_initMutex;

// The appender opens its file without close-on-exec; programs this process
// starts must not inherit the log.
void MarkCloseOnExec(const std::filesystem::path& file) {
    std::error_code ec;
    auto target = std::filesystem::canonical(file, ec);
    if (ec)
        return;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkEc;
        if (std::filesystem::read_symlink(entry.path(), linkEc) != target)
            continue;
        int fd = std::atoi(entry.path().filename().c_str());
        int flags = fcntl(fd, F_GETFD);
        if (flags >= 0)
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}
}  // namespace

LogImpl& LogImpl::Instance() {
    static LogImpl instance;
    return instance;
}

bool LogImpl::Init(const std::string& logFilePath) {
    std::lock_guard<std::mutex> lock(g_initMutex);
    std::error_code ec;
    std::filesystem::path p(logFilePath);
    if (p.has_parent_path())
        std::filesystem::create_directories(p.parent_path(), ec);
    // The log lies in the temporary folder, which other accounts can write to:
    // a link planted there would make us append to a file of the link's choosing.
    struct stat st;
    if (lstat(logFilePath.c_str(), &st) == 0 && (S_ISLNK(st.st_mode) || st.st_uid != geteuid()))
        return false;

    log4cplus::initialize();
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.removeAllAppenders();
    // Append mode and a flush per line: the client and the guard write the same
    // file, and a crash must not swallow the last lines.
    log4cplus::SharedAppenderPtr appender(new log4cplus::FileAppender(
        LOG4CPLUS_STRING_TO_TSTRING(logFilePath), std::ios_base::app, true, true));
    if (!appender->getErrorHandler() || !std::filesystem::exists(p, ec))
        return false;
    appender->setName(LOG4CPLUS_TEXT("file"));
    appender->setLayout(std::make_unique<log4cplus::PatternLayout>(
        LOG4CPLUS_TEXT("%D{%Y-%m-%d %H:%M:%S.%q} [%t] %-5p %M (%F:%L) - %m%n")));
    root.addAppender(appender);
    MarkCloseOnExec(p);
    root.setLogLevel(log4cplus::DEBUG_LOG_LEVEL);
    m_initialized = true;
    g_logReady = true;
    return true;
}

void LogImpl::Shutdown() {
    std::lock_guard<std::mutex> lock(g_initMutex);
    g_logReady = false;
    m_initialized = false;
    log4cplus::Logger::getRoot().removeAllAppenders();
}

void LogImpl::Write(Level level, const char* file, int line, const char* function,
                    const std::string& message) {
    if (!g_logReady)
        return;
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    if (!root.isEnabledFor(level))
        return;
    root.forcedLog(level, LOG4CPLUS_STRING_TO_TSTRING(message), file, line, function);
}

}  // namespace KwLib
