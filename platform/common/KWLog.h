#pragma once
#include <string>

#include "platform/common/KWStringUtils.h"

namespace KwLib {

// Logging through log4cplus into one file that the client and the guard share.
// Lines written before Init are dropped, so libraries may log from tests.
// The log is private to its user (a 0600 file in a 0700 folder) and every line
// is made safe before it is written: control characters are escaped, so a
// value cannot start a forged line, and passwords are replaced by "***".
class LogImpl {
public:
    enum Level { Debug = 10000, Info = 20000, Warn = 30000, Error = 40000 };

    static LogImpl& Instance();
    // Opens `logFilePath` in append mode, creating its folder (0700) and the
    // file (0600). False, with the reason on standard error, when the folder
    // or the file is a link or belongs to another user, or cannot be opened.
    bool Init(const std::string& logFilePath);
    bool IsInitialized() const { return m_initialized; }
    void Shutdown();

    static void Write(Level level, const char* file, int line, const char* function,
                      const std::string& message);

    // `folder` (without a trailing "/") when it is missing or a folder of this
    // user's; when another account holds it (or it is a link), the folder of
    // this user beside it, `folder` + "-<uid>". Several accounts of a shared
    // PC each keep a log in the same temporary folder this way.
    static std::string OwnFolder(const std::string& folder);

    // What Write puts into the file for `message`: Redact, then Escape.
    static std::string Sanitize(const std::string& message);
    // Control characters (C0, DEL, C1, and the Unicode line and paragraph
    // separators) as "\n", "\r", "\t" or "\xNN" / "\uNNNN"; other text unchanged.
    static std::string Escape(const std::string& text);
    // The values of password parameters ("password=", "passwd=", "pwd=",
    // "new_passwd=", "re_passwd=", also as JSON members) and of the password in
    // a URL's user information, replaced by "***".
    static std::string Redact(const std::string& text);

private:
    LogImpl() = default;
    bool m_initialized = false;
};

}  // namespace KwLib

#define VL_LOG_AT(level, ...)                                               \
    ::KwLib::LogImpl::Write(level, __FILE__, __LINE__, __PRETTY_FUNCTION__, \
                            ::KwLib::KWStringUtils::Format(__VA_ARGS__))
#define VL_LOG_DEBUG(...) VL_LOG_AT(::KwLib::LogImpl::Debug, __VA_ARGS__)
#define VL_LOG_INFO(...) VL_LOG_AT(::KwLib::LogImpl::Info, __VA_ARGS__)
#define VL_LOG_WARN(...) VL_LOG_AT(::KwLib::LogImpl::Warn, __VA_ARGS__)
#define VL_LOG_ERROR(...) VL_LOG_AT(::KwLib::LogImpl::Error, __VA_ARGS__)
