#include "platform/crash/KWCrashHandler.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/common/KWShellUtils.h"
#include "platform/common/KWThread.h"
#include "platform/crash/KWCrashWire.h"

// Everything reached from the signal handler uses raw system calls and static
// storage: the heap, stdio and locks may be in any state when a crash arrives.
// Sanitizer instrumentation is off there because the crashing thread's stack is
// sent as it is, redzones included.
#define VL_CRASH_SAFE __attribute__((no_sanitize("address", "undefined")))

namespace KwLib {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
constexpr size_t kAltStackSize = 128 * 1024;
// Bytes below the stack pointer that leaf functions may still use (x86_64 red zone).
constexpr uint64_t kRedZone = 128;

struct sigaction g_oldActions[kSignalCount];
bool g_installed = false;
char g_socketPath[sizeof(sockaddr_un::sun_path)];
std::atomic<long> g_handlingTid{0};
std::atomic<bool> g_testCrashEnabled{false};

KWCrashWireHeader g_header;
char g_maps[1 << 20];

VL_CRASH_SAFE long SysCall3(long number, long a, long b, long c) {
    return syscall(number, a, b, c);
}

VL_CRASH_SAFE bool SendAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        // sendto through syscall(): the libc wrapper may be intercepted by a
        // sanitizer that would check the stack bytes it is handed.
        long n = syscall(SYS_sendto, fd, p, size, MSG_NOSIGNAL, nullptr, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

VL_CRASH_SAFE size_t ReadSome(int fd, char* buffer, size_t size) {
    size_t total = 0;
    while (total < size) {
        long n =
            SysCall3(SYS_read, fd, reinterpret_cast<long>(buffer + total), static_cast<long>(size - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
    return total;
}

// The socket may sit in the shared temporary folder when there is no runtime
// folder: the crashed process's memory goes only to a guard of its own user.
VL_CRASH_SAFE bool PeerIsSameUser(int fd, pid_t& peerPid) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (syscall(SYS_getsockopt, fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        return false;
    peerPid = peer.pid;
    return length == sizeof peer && peer.uid == static_cast<uid_t>(syscall(SYS_getuid));
}

VL_CRASH_SAFE uint64_t ParseHex(const char*& p, const char* end) {
    uint64_t v = 0;
    while (p < end) {
        char c = *p;
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            break;
        v = v * 16 + static_cast<uint64_t>(d);
        ++p;
    }
    return v;
}

// The guard reads the other threads with ptrace while this one waits for its
// answer. Where Yama lets only ancestors trace (the guard is a child of the
// client's watchdog, not an ancestor), the client names it as its tracer.
// Without Yama the call fails harmlessly; the report goes out either way.
VL_CRASH_SAFE bool AllowTracing(pid_t guard) {
    if (guard > 0)
        syscall(SYS_prctl, PR_SET_PTRACER, static_cast<unsigned long>(guard), 0UL, 0UL, 0UL);
    return true;
}

// Finds the readable mapping that holds `sp` in the maps text and fills the
// stack range of the header from it.
VL_CRASH_SAFE void LocateStack(const char* maps, size_t length, uint64_t sp) {
    const char* p = maps;
    const char* end = maps + length;
    while (p < end) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n')
            ++lineEnd;
        const char* q = p;
        uint64_t start = ParseHex(q, lineEnd);
        if (q < lineEnd && *q == '-') {
            ++q;
            uint64_t stop = ParseHex(q, lineEnd);
            bool readable = q + 1 < lineEnd && q[1] == 'r';
            if (readable && sp >= start && sp < stop) {
                uint64_t from = sp - start >= kRedZone ? sp - kRedZone : start;
                uint64_t size = stop - from;
                if (size > kCrashWireMaxStack)
                    size = kCrashWireMaxStack;
                g_header.stackStart = from;
                g_header.stackSize = size;
                return;
            }
        }
        p = lineEnd + 1;
    }
}

VL_CRASH_SAFE void FillRegisters(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
    if (!uc)
        return;
#if defined(__x86_64__)
    g_header.arch = static_cast<uint32_t>(KWCrashArch::X86_64);
    g_header.gregCount = NGREG;
    for (int i = 0; i < NGREG; ++i)
        g_header.gregs[i] = static_cast<uint64_t>(uc->uc_mcontext.gregs[i]);
    g_header.instructionPointer = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
    g_header.stackPointer = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RSP]);
    if (uc->uc_mcontext.fpregs) {
        const auto* src = reinterpret_cast<const uint8_t*>(uc->uc_mcontext.fpregs);
        for (size_t i = 0; i < sizeof g_header.fpregs; ++i)
            g_header.fpregs[i] = src[i];
        g_header.hasFpregs = 1;
    }
#elif defined(__aarch64__)
    g_header.arch = static_cast<uint32_t>(KWCrashArch::Arm64);
    g_header.gregCount = 34;
    for (int i = 0; i < 31; ++i)
        g_header.gregs[i] = uc->uc_mcontext.regs[i];
    g_header.gregs[31] = uc->uc_mcontext.sp;
    g_header.gregs[32] = uc->uc_mcontext.pc;
    g_header.gregs[33] = uc->uc_mcontext.pstate;
    g_header.instructionPointer = uc->uc_mcontext.pc;
    g_header.stackPointer = uc->uc_mcontext.sp;
#else
    g_header.arch = static_cast<uint32_t>(KWCrashArch::Unknown);
#endif
}

VL_CRASH_SAFE void ReportCrash(int signo, siginfo_t* info, void* context, long tid) {
    auto* raw = reinterpret_cast<volatile char*>(&g_header);
    for (size_t i = 0; i < sizeof g_header; ++i)
        raw[i] = 0;
    g_header.magic = kCrashWireMagic;
    g_header.version = kCrashWireVersion;
    g_header.headerSize = sizeof g_header;
    g_header.pid = static_cast<int32_t>(getpid());
    g_header.tid = static_cast<int32_t>(tid);
    g_header.signo = signo;
    g_header.code = info ? info->si_code : 0;
    g_header.faultAddress = info ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    g_header.crashTime = static_cast<uint64_t>(now.tv_sec);
    FillRegisters(context);

    int mapsFd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, "/proc/self/maps", O_RDONLY | O_CLOEXEC));
    size_t mapsLength = mapsFd >= 0 ? ReadSome(mapsFd, g_maps, sizeof g_maps) : 0;
    if (g_header.stackPointer != 0)
        LocateStack(g_maps, mapsLength, g_header.stackPointer);

    int fd = static_cast<int>(syscall(SYS_socket, AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd >= 0) {
        // A guard that hangs must not keep the crashed client on screen forever.
        timeval timeout{KWCrashHandler::kAckTimeoutMs / 1000, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        for (size_t i = 0; i + 1 < sizeof addr.sun_path && g_socketPath[i]; ++i)
            addr.sun_path[i] = g_socketPath[i];
        pid_t guard = 0;
        if (syscall(SYS_connect, fd, &addr, sizeof addr) == 0 && PeerIsSameUser(fd, guard) &&
            AllowTracing(guard) && SendAll(fd, &g_header, sizeof g_header) &&
            SendAll(fd, reinterpret_cast<const void*>(g_header.stackStart), g_header.stackSize) &&
            SendAll(fd, g_maps, mapsLength)) {
            bool sent = true;
            // A map larger than the buffer follows piece by piece.
            size_t total = mapsLength;
            while (sent && mapsFd >= 0 && mapsLength == sizeof g_maps && total < kCrashWireMaxMaps) {
                mapsLength = ReadSome(mapsFd, g_maps, sizeof g_maps);
                if (mapsLength > kCrashWireMaxMaps - total)
                    mapsLength = kCrashWireMaxMaps - total;
                total += mapsLength;
                sent = mapsLength == 0 || SendAll(fd, g_maps, mapsLength);
            }
            if (sent) {
                shutdown(fd, SHUT_WR);
                char ack = 0;
                while (syscall(SYS_recvfrom, fd, &ack, 1, 0, nullptr, nullptr) < 0 && errno == EINTR) {
                }
            }
        }
        syscall(SYS_close, fd);
    }
    if (mapsFd >= 0)
        syscall(SYS_close, mapsFd);
}

void RestoreHandlers() {
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &g_oldActions[i], nullptr);
}

VL_CRASH_SAFE void OnCrashSignal(int signo, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    const long tid = syscall(SYS_gettid);
    long expected = 0;
    if (g_handlingTid.compare_exchange_strong(expected, tid)) {
        ReportCrash(signo, info, context, tid);
    } else if (expected != tid) {
        // Another thread is reporting; the process ends when it is done. Give it
        // a little longer than its own wait for the guard.
        timespec pause{0, 100 * 1000 * 1000};
        for (int i = 0; i < KWCrashHandler::kAckTimeoutMs / 100 + 50; ++i)
            nanosleep(&pause, nullptr);
    }
    // Let the signal take the course it had before Install: a fault returns to
    // the faulting instruction and hits again; a sent signal is sent again.
    RestoreHandlers();
    if (!info || info->si_code <= 0 || signo == SIGABRT)
        syscall(SYS_tgkill, getpid(), tid, signo);
    errno = savedErrno;
}

}  // namespace

std::string KWCrashHandler::GetDefaultSocketPath() {
    return KWShellUtils::GetRuntimeDirectory() + "VLStudentServer";
}

bool KWCrashHandler::Install(const std::string& socketPath) {
    if (socketPath.empty() || socketPath.size() >= sizeof g_socketPath)
        return false;
    std::memset(g_socketPath, 0, sizeof g_socketPath);
    std::memcpy(g_socketPath, socketPath.data(), socketPath.size());
    if (g_installed)
        return true;
    PrepareCurrentThread();
    struct sigaction action {};
    action.sa_sigaction = OnCrashSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
        if (sigaction(kSignals[i], &action, &g_oldActions[i]) != 0) {
            for (int j = 0; j < i; ++j)
                sigaction(kSignals[j], &g_oldActions[j], nullptr);
            return false;
        }
    }
    g_handlingTid = 0;
    g_installed = true;
    // Every thread started through KWThread from now on gets a signal stack of
    // its own, so that a stack overflow there is reported too.
    KWThread::SetThreadStartHook([] { PrepareCurrentThread(); });
    return true;
}

void KWCrashHandler::Uninstall() {
    if (!g_installed)
        return;
    KWThread::SetThreadStartHook(nullptr);
    RestoreHandlers();
    g_installed = false;
}

bool KWCrashHandler::IsInstalled() {
    return g_installed;
}

namespace {
// The signal stack of one thread, given back when the thread ends: workers
// come and go (one decodes each sound that plays), and their stacks would add up.
class AltStackOwner {
public:
    ~AltStackOwner() {
        if (!m_memory)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(m_memory, kAltStackSize);
    }
    void Own(void* memory) { m_memory = memory; }

private:
    void* m_memory = nullptr;
};
thread_local AltStackOwner t_altStack;
}  // namespace

bool KWCrashHandler::PrepareCurrentThread() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kAltStackSize)
        return true;
    // Mapped for as long as the thread lives: it may crash at any moment, and
    // the handler must find the stack there.
    void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return false;
    stack_t alt{};
    alt.ss_sp = memory;
    alt.ss_size = kAltStackSize;
    if (sigaltstack(&alt, nullptr) != 0) {
        munmap(memory, kAltStackSize);
        return false;
    }
    t_altStack.Own(memory);
    return true;
}

void KWCrashHandler::EnableTestCrash(bool enable) {
    g_testCrashEnabled = enable;
}

bool KWCrashHandler::IsTestCrashEnabled() {
    return g_testCrashEnabled;
}

__attribute__((noinline)) VL_CRASH_SAFE void KWCrashHandler::TriggerTestCrash() {
    if (!g_testCrashEnabled)
        return;
    volatile uintptr_t address = kTestCrashAddress;
    *reinterpret_cast<volatile int*>(address) = 0x5A;
}

}  // namespace KwLib
