#pragma once
#include <string>

#include "platform/common/KWStringUtils.h"

namespace KwLib {

// Logging through log4cplus into one file that the client and the guard share.
// Lines written before Init are dropped, so libraries may log from tests.
class LogImpl {
public:
    enum Level { Debug = 10000, Info = 20000, Warn = 30000, Error = 40000 };

    static LogImpl& Instance();
    // Opens `logFilePath` in append mode (creating its folder); false when it cannot.
    bool Init(const std::string& logFilePath);
    bool IsInitialized() const { return m_initialized; }
    void Shutdown();

    static void Write(Level level, const char* file, int line, const char* function,
                      const std::string& message);

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
