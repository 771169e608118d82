// Feeds arbitrary configuration text to the INI reader and writer: a lookup
// must never crash, and a key that was set must read back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/common/KWIniFile.h"
#include "platform/common/KWStringConvert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string value;
    KwLib::KWIniFile::Lookup(text, "AGENT", "IP", value);
    KwLib::KWStringConvert::SanitizeUtf8(text);
    std::string updated = KwLib::KWIniFile::SetInText(text, "AGENT", "Port1", "9500");
    if (!KwLib::KWIniFile::Lookup(updated, "AGENT", "Port1", value)) __builtin_trap();
    return 0;
}
