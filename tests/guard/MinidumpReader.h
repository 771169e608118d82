#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace KwLib::TestSupport {

// A reader of the standard minidump layout, written from the format and not
// from the guard's writer, for checking what the guard wrote.
struct MinidumpFile {
    struct Module {
        uint64_t base = 0;
        uint32_t size = 0;
        std::string name;
        std::string cvRecord;
    };
    struct Thread {
        uint32_t id = 0;
        uint64_t stackStart = 0;
        std::string stack;
        std::string context;
    };
    uint32_t version = 0;
    uint32_t timeStamp = 0;
    std::map<uint32_t, std::string> streams;  // type -> raw bytes
    std::vector<Thread> threads;
    std::vector<Module> modules;
    uint32_t exceptionThread = 0;
    uint32_t exceptionCode = 0;
    uint32_t exceptionFlags = 0;
    uint64_t exceptionAddress = 0;
    std::string exceptionContext;
    uint16_t cpu = 0;
    uint32_t platformId = 0;
    std::string osDescription;

    // AMD64 context fields (offsets of the format).
    static uint64_t ContextRip(const std::string& context);
    static uint64_t ContextRsp(const std::string& context);
    static uint32_t ContextFlags(const std::string& context);
};

// Nothing when the data is not a well-formed minidump (bad signature, a stream
// or a reference outside the file).
std::optional<MinidumpFile> ReadMinidump(const std::string& data, std::string* error = nullptr);

}  // namespace KwLib::TestSupport
