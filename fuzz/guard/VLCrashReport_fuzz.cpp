// Feeds what a crashing process sends to the guard's crash server: the report
// stream, the memory map text in it, and the ELF files the map names. A report
// that parses must turn into a dump whose directory and stream references stay
// inside the file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "guard/VLMinidumpWriter.h"
#include "platform/crash/KWCrashWire.h"

namespace {

uint32_t U32(const std::string& s, uint64_t at) {
    if (at + 4 > s.size())
        abort();
    uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

void CheckDump(const std::string& dump) {
    if (U32(dump, 0) != KwLib::Minidump::kSignature)
        abort();
    const uint32_t count = U32(dump, 8);
    const uint32_t directory = U32(dump, 12);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t entry = directory + i * 12ull;
        const uint64_t size = U32(dump, entry + 4), rva = U32(dump, entry + 8);
        if (rva + size > dump.size())
            abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace KwLib;
    if (size == 0)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0: {
            for (const auto& m : VLMinidumpWriter::ModulesFromMaps(input))
                if (m.path.empty() || m.path[0] != '/' || m.size == 0)
                    abort();
            break;
        }
        case 1: {
            char path[] = "/tmp/vlcrash-fuzz-XXXXXX";
            int fd = mkstemp(path);
            if (fd < 0)
                break;
            const bool written = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
            close(fd);
            const size_t length = written ? VLMinidumpWriter::ReadBuildId(path).size() : 0;
            unlink(path);
            if (length > 64)
                abort();
            break;
        }
        default: {
            KWCrashReportData report;
            if (!KWCrashWire::Parse(input, report))
                break;
            // Names in the map would be opened for build ids; keep the fuzzer off the disk.
            report.maps.clear();
            CheckDump(VLMinidumpWriter::Build(report));
            break;
        }
    }
    return 0;
}
