#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace KwLib {

// What a crashing client sends over the guard's socket, in this order:
//   1. one KWCrashWireHeader,
//   2. `stackSize` bytes of the crashing thread's stack, starting at `stackStart`,
//   3. the text of /proc/<pid>/maps, up to the end of the stream (the client
//      shuts down its sending side when done).
// The guard answers with the single byte kCrashWireAck once the dump is on disk.
// Both ends are built from the same tree and run on the same machine, so the
// header travels in the machine's own byte order.

constexpr uint32_t kCrashWireMagic = 0x52434c56;  // "VLCR"
constexpr uint32_t kCrashWireVersion = 1;
constexpr char kCrashWireAck = 'K';
// Limits the guard accepts; the client never sends more. A client's map is
// some hundred kilobytes; a larger one only makes a larger dump (every line
// can name a module), and anything of this user's may connect.
constexpr uint64_t kCrashWireMaxStack = 256 * 1024;
constexpr uint64_t kCrashWireMaxMaps = 1024 * 1024;

enum class KWCrashArch : uint32_t { Unknown = 0, X86_64 = 1, Arm64 = 2 };

struct KWCrashWireHeader {
    uint32_t magic;
    uint32_t version;
    uint32_t headerSize;
    uint32_t arch;  // KWCrashArch
    int32_t pid;
    int32_t tid;
    int32_t signo;
    int32_t code;  // si_code
    uint64_t faultAddress;
    uint64_t instructionPointer;
    uint64_t stackPointer;
    uint64_t stackStart;
    uint64_t stackSize;
    uint64_t crashTime;  // seconds since the epoch
    // x86_64: the 23 general registers in <sys/ucontext.h> order (REG_R8 .. REG_CR2).
    // arm64: x0..x30, sp, pc, pstate.
    uint32_t gregCount;
    uint32_t hasFpregs;
    uint64_t gregs[34];
    // x86_64: the FXSAVE area of the interrupted thread.
    uint8_t fpregs[512];
};
static_assert(sizeof(KWCrashWireHeader) == 88 + 34 * 8 + 512, "the header layout is part of the wire format");

// Another thread of the crashed process, as the guard read it while the
// client waited: registers in the header's order and the stack from just
// below its stack pointer.
struct KWCrashThread {
    int32_t tid = 0;
    uint32_t arch = 0;  // KWCrashArch
    uint32_t gregCount = 0;
    uint32_t hasFpregs = 0;
    uint64_t gregs[34] = {};
    uint8_t fpregs[512] = {};
    uint64_t stackPointer = 0;
    uint64_t stackStart = 0;
    std::string stack;
};

// One received crash report, checked for consistency.
struct KWCrashReportData {
    KWCrashWireHeader header{};
    std::string stack;  // header.stackSize bytes from header.stackStart
    std::string maps;   // /proc/<pid>/maps text
    // Every other thread of the process, when the guard could read them.
    std::vector<KWCrashThread> otherThreads;
};

class KWCrashWire {
public:
    // Splits a complete stream into its parts. False (with a reason) when the
    // stream is not a report of this version or its sizes do not add up.
    static bool Parse(const std::string& stream, KWCrashReportData& out, std::string* error = nullptr);
};

}  // namespace KwLib
