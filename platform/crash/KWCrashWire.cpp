#include "platform/crash/KWCrashWire.h"

#include <cstring>

namespace KwLib {

namespace {
bool Fail(std::string* error, const char* reason) {
    if (error)
        *error = reason;
    return false;
}
}  // namespace

bool KWCrashWire::Parse(const std::string& stream, KWCrashReportData& out, std::string* error) {
    if (stream.size() < sizeof(KWCrashWireHeader))
        return Fail(error, "shorter than the header");
    KWCrashWireHeader h;
    std::memcpy(&h, stream.data(), sizeof h);
    if (h.magic != kCrashWireMagic)
        return Fail(error, "not a crash report");
    if (h.version != kCrashWireVersion || h.headerSize != sizeof h)
        return Fail(error, "another report version");
    if (h.gregCount > sizeof h.gregs / sizeof h.gregs[0])
        return Fail(error, "too many registers");
    if (h.stackSize > kCrashWireMaxStack)
        return Fail(error, "stack too large");
    if (h.stackStart + h.stackSize < h.stackStart)
        return Fail(error, "stack range wraps");
    const size_t rest = stream.size() - sizeof h;
    if (rest < h.stackSize)
        return Fail(error, "stack cut short");
    if (rest - h.stackSize > kCrashWireMaxMaps)
        return Fail(error, "memory map too large");
    out.header = h;
    out.stack.assign(stream, sizeof h, h.stackSize);
    out.maps.assign(stream, sizeof h + h.stackSize, std::string::npos);
    return true;
}

}  // namespace KwLib
