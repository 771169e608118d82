#include "guard/VLMinidumpWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringConvert.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"

namespace KwLib {

namespace {

// Little-endian image built field by field, so nothing depends on how the
// compiler would pack the format's structures.
class DumpImage {
public:
    uint32_t Rva() const { return static_cast<uint32_t>(m_data.size()); }
    void U8(uint8_t v) { m_data.push_back(static_cast<char>(v)); }
    void U16(uint16_t v) { Little(v, 2); }
    void U32(uint32_t v) { Little(v, 4); }
    void U64(uint64_t v) { Little(v, 8); }
    void Bytes(const void* data, size_t size) { m_data.append(static_cast<const char*>(data), size); }
    void Zeros(size_t count) { m_data.append(count, '\0'); }
    void Align(size_t to) {
        while (m_data.size() % to)
            m_data.push_back('\0');
    }
    void PatchU32(uint32_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            m_data[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
    }
    // MDString: byte length, UTF-16LE text, a two-byte terminator.
    uint32_t String(const std::string& utf8) {
        Align(4);
        uint32_t rva = Rva();
        std::u16string text;
        for (char32_t cp : KWStringConvert::Utf8ToUtf32(utf8)) {
            if (cp >= 0x10000) {
                cp -= 0x10000;
                text.push_back(static_cast<char16_t>(0xd800 + (cp >> 10)));
                text.push_back(static_cast<char16_t>(0xdc00 + (cp & 0x3ff)));
            } else {
                text.push_back(static_cast<char16_t>(cp));
            }
        }
        U32(static_cast<uint32_t>(text.size() * 2));
        for (char16_t c : text)
            U16(c);
        U16(0);
        return rva;
    }
    std::string& Data() { return m_data; }

private:
    void Little(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            m_data.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
    std::string m_data;
};

struct Location {
    uint32_t size = 0;
    uint32_t rva = 0;
};

// The registers of one thread, from the report's header or from a thread the
// guard read itself; both keep them in the same order.
struct ThreadRegisters {
    uint32_t arch = 0;
    uint32_t gregCount = 0;
    const uint64_t* gregs = nullptr;
    bool hasFpregs = false;
    const uint8_t* fpregs = nullptr;
};

ThreadRegisters RegistersOf(const KWCrashWireHeader& h) {
    return {h.arch, h.gregCount, h.gregs, h.hasFpregs != 0, h.fpregs};
}

ThreadRegisters RegistersOf(const KWCrashThread& t) {
    return {t.arch, t.gregCount, t.gregs, t.hasFpregs != 0, t.fpregs};
}

Location WriteAmd64Context(DumpImage& img, const ThreadRegisters& h) {
    // Register order of the report: R8..R15, RDI, RSI, RBP, RBX, RDX, RAX, RCX, RSP, RIP, EFL, CSGSFS.
    auto g = [&](int i) -> uint64_t { return i < static_cast<int>(h.gregCount) ? h.gregs[i] : 0; };
    img.Align(16);
    Location loc{static_cast<uint32_t>(Minidump::kContextAmd64Size), img.Rva()};
    const uint32_t flags = Minidump::kContextAmd64 | 0x1 | 0x2 | 0x4 | (h.hasFpregs ? 0x8 : 0);
    img.Zeros(48);  // parameter home addresses
    img.U32(flags);
    uint32_t mxcsr = 0;
    if (h.hasFpregs)
        std::memcpy(&mxcsr, h.fpregs + 24, 4);
    img.U32(mxcsr);
    const uint64_t csgsfs = g(18);
    img.U16(static_cast<uint16_t>(csgsfs & 0xffff));                             // cs
    img.U16(0);                                                                  // ds
    img.U16(0);                                                                  // es
    img.U16(static_cast<uint16_t>((csgsfs >> 32) & 0xffff));                     // fs
    img.U16(static_cast<uint16_t>((csgsfs >> 16) & 0xffff));                     // gs
    img.U16(0);                                                                  // ss
    img.U32(static_cast<uint32_t>(g(17)));                                       // eflags
    img.Zeros(6 * 8);                                                            // debug registers
    const int order[] = {13, 14, 12, 11, 15, 10, 9, 8, 0, 1, 2, 3, 4, 5, 6, 7};  // rax .. r15
    for (int i : order)
        img.U64(g(i));
    img.U64(g(16));  // rip
    if (h.hasFpregs)
        img.Bytes(h.fpregs, 512);
    else
        img.Zeros(512);
    img.Zeros(26 * 16 + 6 * 8);  // vector registers and branch records
    return loc;
}

Location WriteArm64Context(DumpImage& img, const ThreadRegisters& h) {
    img.Align(16);
    Location loc{static_cast<uint32_t>(Minidump::kContextArm64Size), img.Rva()};
    img.U32(Minidump::kContextArm64 | 0x1 | 0x2);  // control and integer registers
    img.U32(static_cast<uint32_t>(h.gregs[33]));   // cpsr
    for (int i = 0; i < 33; ++i)
        img.U64(h.gregs[i]);  // x0..x30, sp, pc
    img.Zeros(Minidump::kContextArm64Size - 8 - 33 * 8);
    return loc;
}

std::string RandomDumpName() {
    std::random_device rd;
    std::uniform_int_distribution<uint32_t> dist;
    uint32_t a = dist(rd), b = dist(rd), c = dist(rd), d = dist(rd);
    return KWStringUtils::Format("%08x-%04x-%04x-%04x-%04x%08x.dmp", a, b >> 16, (b & 0x0fff) | 0x4000,
                                 (c >> 16 & 0x3fff) | 0x8000, c & 0xffff, d);
}

}  // namespace

std::string VLMinidumpWriter::ReadBuildId(const std::string& path) {
    // Only regular files: a name in a report must not make the guard wait on a pipe.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::string();
    KWFile file;
    if (!file.Create(path, KWFile::ReadOnly))
        return std::string();
    auto readAt = [&file](uint64_t offset, void* out, size_t size) {
        size_t got = 0;
        return file.Seek(static_cast<int64_t>(offset)) && file.Read(out, size, got) && got == size;
    };
    unsigned char ident[16];
    if (!readAt(0, ident, sizeof ident) ||
        std::memcmp(ident,
                    "\x7f"
                    "ELF",
                    4) != 0 ||
        ident[4] != 2 || ident[5] != 1)
        return std::string();  // only 64-bit little-endian ELF files
    uint64_t phoff = 0;
    uint16_t phentsize = 0, phnum = 0;
    if (!readAt(32, &phoff, 8) || !readAt(54, &phentsize, 2) || !readAt(56, &phnum, 2) || phentsize < 56)
        return std::string();
    for (uint16_t i = 0; i < phnum && i < 256; ++i) {
        uint32_t type = 0;
        uint64_t offset = 0, size = 0;
        const uint64_t header = phoff + static_cast<uint64_t>(i) * phentsize;
        if (!readAt(header, &type, 4) || type != 4 /* PT_NOTE */ || !readAt(header + 8, &offset, 8) ||
            !readAt(header + 32, &size, 8) || size > 64 * 1024)
            continue;
        std::string notes(size, '\0');
        if (!readAt(offset, notes.data(), notes.size()))
            continue;
        size_t at = 0;
        while (at + 12 <= notes.size()) {
            uint32_t nameSize, descSize, noteType;
            std::memcpy(&nameSize, notes.data() + at, 4);
            std::memcpy(&descSize, notes.data() + at + 4, 4);
            std::memcpy(&noteType, notes.data() + at + 8, 4);
            const size_t nameAt = at + 12;
            const size_t descAt = nameAt + ((nameSize + 3) & ~3u);
            const size_t next = descAt + ((descSize + 3) & ~3u);
            if (next > notes.size() || next <= at)
                break;
            if (noteType == 3 /* NT_GNU_BUILD_ID */ && nameSize == 4 &&
                notes.compare(nameAt, 4, "GNU\0", 4) == 0 && descSize > 0 && descSize <= 64)
                return notes.substr(descAt, descSize);
            at = next;
        }
    }
    return std::string();
}

std::vector<VLMappedModule> VLMinidumpWriter::ModulesFromMaps(const std::string& maps) {
    std::vector<VLMappedModule> modules;
    size_t pos = 0;
    while (pos < maps.size()) {
        size_t end = maps.find('\n', pos);
        if (end == std::string::npos)
            end = maps.size();
        const std::string line = maps.substr(pos, end - pos);
        pos = end + 1;
        // "start-end perms offset dev inode   path"
        unsigned long long start = 0, stop = 0;
        int pathAt = -1;
        if (sscanf(line.c_str(), "%llx-%llx %*s %*s %*s %*s %n", &start, &stop, &pathAt) < 2 || pathAt < 0)
            continue;
        std::string path = line.substr(static_cast<size_t>(pathAt));
        if (path.empty() || path[0] != '/' || path.rfind("/dev/", 0) == 0 || stop <= start)
            continue;
        // The segments of one loaded file follow each other in the map. A file
        // mapped again further on (a font opened twice) is another entry: one
        // range over both would cover the libraries in between, and readers
        // drop modules that overlap.
        VLMappedModule* last = modules.empty() ? nullptr : &modules.back();
        if (last && last->path == path && start >= last->base) {
            last->size = std::max<uint64_t>(last->base + last->size, stop) - last->base;
        } else {
            modules.push_back({start, stop - start, path});
        }
    }
    return modules;
}

std::string VLMinidumpWriter::Build(const KWCrashReportData& report) {
    const KWCrashWireHeader& h = report.header;
    constexpr uint32_t kStreams = 6;
    DumpImage img;
    img.U32(Minidump::kSignature);
    img.U32(Minidump::kVersion);
    img.U32(kStreams);
    img.U32(32);  // the directory follows the header
    img.U32(0);   // checksum
    img.U32(static_cast<uint32_t>(h.crashTime));
    img.U64(0);  // flags: a normal dump
    const uint32_t directory = img.Rva();
    img.Zeros(kStreams * 12);
    uint32_t entry = 0;
    auto setEntry = [&](uint32_t type, uint32_t rva) {
        const uint32_t at = directory + entry * 12;
        img.PatchU32(at, type);
        img.PatchU32(at + 4, img.Rva() - rva);
        img.PatchU32(at + 8, rva);
        ++entry;
    };

    // Memory the streams point to comes first: each thread's context and stack,
    // the crashing thread's first.
    auto writeContext = [&img](const ThreadRegisters& regs) {
        if (regs.arch == static_cast<uint32_t>(KWCrashArch::X86_64))
            return WriteAmd64Context(img, regs);
        if (regs.arch == static_cast<uint32_t>(KWCrashArch::Arm64))
            return WriteArm64Context(img, regs);
        return Location{};
    };
    struct ThreadEntry {
        uint32_t id;
        uint64_t stackStart;
        Location stack;
        Location context;
    };
    std::vector<ThreadEntry> threads;
    const Location context = writeContext(RegistersOf(h));
    img.Align(16);
    threads.push_back({static_cast<uint32_t>(h.tid), h.stackStart,
                       Location{static_cast<uint32_t>(report.stack.size()), img.Rva()}, context});
    img.Bytes(report.stack.data(), report.stack.size());
    for (const KWCrashThread& t : report.otherThreads) {
        if (t.tid == h.tid)
            continue;
        const Location threadContext = writeContext(RegistersOf(t));
        img.Align(16);
        threads.push_back({static_cast<uint32_t>(t.tid), t.stackStart,
                           Location{static_cast<uint32_t>(t.stack.size()), img.Rva()}, threadContext});
        img.Bytes(t.stack.data(), t.stack.size());
    }

    // Thread list: every thread with its stack and registers.
    img.Align(8);
    uint32_t rva = img.Rva();
    img.U32(static_cast<uint32_t>(threads.size()));
    for (const ThreadEntry& t : threads) {
        img.U32(t.id);
        img.U32(0);  // suspend count
        img.U32(0);  // priority class
        img.U32(0);  // priority
        img.U64(0);  // thread environment block
        img.U64(t.stackStart);
        img.U32(t.stack.size);
        img.U32(t.stack.rva);
        img.U32(t.context.size);
        img.U32(t.context.rva);
    }
    setEntry(Minidump::kThreadListStream, rva);

    // Module list: names are written after the entries, then patched in.
    const auto modules = ModulesFromMaps(report.maps);
    img.Align(8);
    rva = img.Rva();
    img.U32(static_cast<uint32_t>(modules.size()));
    const uint32_t firstModule = img.Rva();
    for (const auto& m : modules) {
        img.U64(m.base);
        img.U32(static_cast<uint32_t>(std::min<uint64_t>(m.size, UINT32_MAX)));
        img.U32(0);  // checksum
        img.U32(0);  // time stamp
        img.U32(0);  // name, patched below
        img.Zeros(Minidump::kRawModuleSize - 24);
    }
    setEntry(Minidump::kModuleListStream, rva);
    for (size_t i = 0; i < modules.size(); ++i) {
        const uint32_t entryAt = firstModule + static_cast<uint32_t>(i * Minidump::kRawModuleSize);
        img.PatchU32(entryAt + 20, img.String(modules[i].path));
        // The build id lets a symbol server find the matching debug file.
        const std::string buildId = ReadBuildId(modules[i].path);
        if (!buildId.empty()) {
            img.Align(4);
            img.PatchU32(entryAt + 76, static_cast<uint32_t>(4 + buildId.size()));
            img.PatchU32(entryAt + 80, img.Rva());
            img.U32(Minidump::kCvSignatureElf);
            img.Bytes(buildId.data(), buildId.size());
        }
    }

    // Memory list: the same stacks, for readers that look only here.
    img.Align(8);
    rva = img.Rva();
    img.U32(static_cast<uint32_t>(threads.size()));
    for (const ThreadEntry& t : threads) {
        img.U64(t.stackStart);
        img.U32(t.stack.size);
        img.U32(t.stack.rva);
    }
    setEntry(Minidump::kMemoryListStream, rva);

    // Exception: the signal as the code, its si_code as the flags.
    img.Align(8);
    rva = img.Rva();
    img.U32(static_cast<uint32_t>(h.tid));
    img.U32(0);
    img.U32(static_cast<uint32_t>(h.signo));
    img.U32(static_cast<uint32_t>(h.code));
    img.U64(0);  // nested record
    img.U64(h.faultAddress);
    img.U32(0);  // parameter count
    img.U32(0);
    img.Zeros(15 * 8);
    img.U32(context.size);
    img.U32(context.rva);
    setEntry(Minidump::kExceptionStream, rva);

    // System information of the machine the guard and the client share.
    std::string system;
    int major = 0, minor = 0;
    KWSystemInfo::GetWindowsVersion(system, major, minor);
    const uint32_t description = img.String(system);
    img.Align(8);
    rva = img.Rva();
    uint16_t cpu = Minidump::kCpuUnknown;
    if (h.arch == static_cast<uint32_t>(KWCrashArch::X86_64))
        cpu = Minidump::kCpuAmd64;
    if (h.arch == static_cast<uint32_t>(KWCrashArch::Arm64))
        cpu = Minidump::kCpuArm64;
    img.U16(cpu);
    img.U16(0);  // level
    img.U16(0);  // revision
    const unsigned cpus = std::thread::hardware_concurrency();
    img.U8(static_cast<uint8_t>(cpus < 256 ? cpus : 255));
    img.U8(1);  // workstation
    img.U32(static_cast<uint32_t>(major));
    img.U32(static_cast<uint32_t>(minor));
    img.U32(0);  // build
    img.U32(Minidump::kOsLinux);
    img.U32(description);
    img.U16(0);
    img.U16(0);
    img.Zeros(24);  // processor details
    setEntry(Minidump::kSystemInfoStream, rva);

    rva = img.Rva();
    img.Bytes(report.maps.data(), report.maps.size());
    setEntry(Minidump::kLinuxMapsStream, rva);
    return std::move(img.Data());
}

std::string VLMinidumpWriter::WriteToFolder(const KWCrashReportData& report, const std::string& dir) {
    const std::string image = Build(report);
    // The dump holds memory of an exam session and the folder may be shared:
    // the file is created new (never through a name someone else placed) and
    // owner-only from its first moment, so nobody can open it while it is written.
    std::string path;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        path = dir + RandomDumpName();
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        VL_LOG_ERROR("cannot create a dump file in %s: %s", dir.c_str(), strerror(errno));
        return std::string();
    }
    bool ok = true;
    for (size_t done = 0; ok && done < image.size();) {
        const ssize_t n = write(fd, image.data() + done, image.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? static_cast<size_t>(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        VL_LOG_ERROR("cannot write %s", path.c_str());
        KWFilePathUtils::RemoveFile(path);
        return std::string();
    }
    return path;
}

bool VLMinidumpWriter::IsDumpName(const std::string& name) {
    // "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx.dmp", as RandomDumpName makes them.
    static const size_t kDashes[] = {8, 13, 18, 23};
    if (name.size() != 36 + 4 || name.compare(36, 4, ".dmp") != 0)
        return false;
    for (size_t i = 0; i < 36; ++i) {
        const bool dash = std::find(std::begin(kDashes), std::end(kDashes), i) != std::end(kDashes);
        if (dash ? name[i] != '-' : !std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

void VLMinidumpWriter::PruneFolder(const std::string& dir, const std::string& keep, size_t maxDumps,
                                   uint64_t maxBytes) {
    struct Dump {
        std::string path;
        uint64_t size;
        std::filesystem::file_time_type time;
    };
    std::vector<Dump> dumps;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (!IsDumpName(name))
            continue;
        struct stat st {};
        const std::string path = entry.path().string();
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())
            continue;
        char magic[4] = {};
        KWFile file;
        size_t got = 0;
        if (!file.Create(path, KWFile::ReadOnly) || !file.Read(magic, sizeof magic, got) || got != 4 ||
            std::memcmp(magic, "MDMP", 4) != 0)
            continue;
        std::error_code timeEc;
        dumps.push_back(
            {path, static_cast<uint64_t>(st.st_size), std::filesystem::last_write_time(path, timeEc)});
    }
    // Newest first; what lies beyond the limits is removed.
    std::sort(dumps.begin(), dumps.end(), [](const Dump& a, const Dump& b) { return a.time > b.time; });
    std::stable_partition(dumps.begin(), dumps.end(), [&keep](const Dump& d) { return d.path == keep; });
    size_t count = 0;
    uint64_t bytes = 0;
    for (const Dump& d : dumps) {
        ++count;
        bytes += d.size;
        if (d.path == keep || (count <= maxDumps && bytes <= maxBytes))
            continue;
        if (KWFilePathUtils::RemoveFile(d.path))
            VL_LOG_INFO("removed the old dump %s", d.path.c_str());
    }
}

}  // namespace KwLib
