#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/crash/KWCrashWire.h"

namespace KwLib {

// Minidump constants of the standard MDMP layout that the writer and readers share.
namespace Minidump {
constexpr uint32_t kSignature = 0x504d444d;  // "MDMP"
constexpr uint32_t kVersion = 0xa793;
constexpr uint32_t kThreadListStream = 3;
constexpr uint32_t kModuleListStream = 4;
constexpr uint32_t kMemoryListStream = 5;
constexpr uint32_t kExceptionStream = 6;
constexpr uint32_t kSystemInfoStream = 7;
constexpr uint32_t kLinuxMapsStream = 0x47670009;
constexpr uint16_t kCpuAmd64 = 9;
constexpr uint16_t kCpuArm64 = 12;
constexpr uint16_t kCpuUnknown = 0xffff;
constexpr uint32_t kOsLinux = 0x8201;
constexpr uint32_t kContextAmd64 = 0x00100000;
constexpr uint32_t kContextArm64 = 0x00400000;
constexpr size_t kContextAmd64Size = 1232;
constexpr size_t kContextArm64Size = 912;
constexpr size_t kRawModuleSize = 108;
constexpr size_t kRawThreadSize = 48;
constexpr uint32_t kCvSignatureElf = 0x4270454c;  // "BpEL": an ELF build id follows
}  // namespace Minidump

// One file-backed module of the crashed process, from its memory map.
struct VLMappedModule {
    uint64_t base = 0;
    uint64_t size = 0;
    std::string path;
};

// Turns a client's crash report into a minidump file. Used on the crash
// server's thread only; it keeps no state between reports.
class VLMinidumpWriter {
public:
    // The modules of a /proc/<pid>/maps text: every file below "/" outside
    // "/dev/", in map order; consecutive mappings of one file make one module
    // from its lowest to its highest address, so modules never overlap.
    static std::vector<VLMappedModule> ModulesFromMaps(const std::string& maps);

    // The GNU build id of a 64-bit ELF file; empty when it has none.
    static std::string ReadBuildId(const std::string& path);

    // The complete dump image of a report.
    static std::string Build(const KWCrashReportData& report);

    // Writes the dump to a new file with a unique name in `dir` (readable by the
    // owner only, synced to disk) and returns its path; empty on failure.
    static std::string WriteToFolder(const KWCrashReportData& report, const std::string& dir);

    // The dumps kept in a folder: at most kMaxDumps files and kMaxDumpBytes in
    // all, so that repeated crashes (or anything of this user's that sends
    // reports) cannot fill the temporary folder. Dumps are the files this
    // writer names (a UUID and ".dmp"), of this user, holding a minidump;
    // the oldest go first and `keep` (the one just written) never.
    static constexpr size_t kMaxDumps = 10;
    static constexpr uint64_t kMaxDumpBytes = 64ull * 1024 * 1024;
    static void PruneFolder(const std::string& dir, const std::string& keep = std::string(),
                            size_t maxDumps = kMaxDumps, uint64_t maxBytes = kMaxDumpBytes);
    // True for a name this writer gives its dumps.
    static bool IsDumpName(const std::string& fileName);
};

}  // namespace KwLib
