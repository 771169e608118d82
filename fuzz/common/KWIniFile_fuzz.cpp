// Feeds arbitrary configuration text to the INI reader and writer: a lookup
// must never crash, a key that was set must read back with its value, and
// setting one key must leave every other key as it was.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/common/KWIniFile.h"
#include "platform/common/KWStringConvert.h"

namespace {
struct Found {
    bool present = false;
    std::string value;
    bool operator==(const Found& o) const { return present == o.present && value == o.value; }
};
Found Get(const std::string& text, const char* section, const char* key) {
    Found f;
    f.present = KwLib::KWIniFile::Lookup(text, section, key, f.value);
    return f;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    KwLib::KWStringConvert::SanitizeUtf8(text);
    Found ip = Get(text, "AGENT", "IP");
    Found remote = Get(text, "REMOTESERVER", "Port1");
    std::string updated = KwLib::KWIniFile::SetInText(text, "AGENT", "Port1", "9500");
    Found port = Get(updated, "AGENT", "Port1");
    if (!port.present || port.value != "9500")
        __builtin_trap();
    if (!(Get(updated, "AGENT", "IP") == ip) || !(Get(updated, "REMOTESERVER", "Port1") == remote))
        __builtin_trap();
    // A value with line breaks must not create keys of its own.
    std::string injected = KwLib::KWIniFile::SetInText(updated, "AGENT", "IP", text);
    if (!(Get(injected, "REMOTESERVER", "Port1") == remote))
        __builtin_trap();
    return 0;
}
