#include "platform/crash/KWCrashThreads.h"

#include <dirent.h>
#include <elf.h>
#include <sys/ptrace.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace KwLib {

namespace {

using Clock = std::chrono::steady_clock;
// Bytes below the stack pointer that leaf functions may still use (x86_64 red zone).
constexpr uint64_t kRedZone = 128;

std::vector<pid_t> TasksOf(pid_t pid) {
    std::vector<pid_t> tids;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d)
        return tids;
    while (dirent* entry = readdir(d)) {
        char* end = nullptr;
        const long tid = strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && tid > 0)
            tids.push_back(static_cast<pid_t>(tid));
    }
    closedir(d);
    std::sort(tids.begin(), tids.end());
    return tids;
}

bool ParseHex(const std::string& text, size_t& at, uint64_t& value) {
    const size_t begin = at;
    value = 0;
    while (at < text.size()) {
        const char c = text[at];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            break;
        value = value * 16 + static_cast<uint64_t>(digit);
        ++at;
    }
    return at > begin;
}

// Waits until the thread reports its stop; false when it ended or did not stop in time.
bool WaitForStop(pid_t tid, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t got = waitpid(tid, &status, __WALL | WNOHANG);
        if (got == tid)
            return WIFSTOPPED(status);
        if (got < 0 && errno != EINTR)
            return false;
        if (Clock::now() >= deadline)
            return false;
        usleep(500);
    }
}

bool ReadRegisters(pid_t tid, KWCrashThread& thread) {
#if defined(__x86_64__)
    user_regs_struct r{};
    iovec io{&r, sizeof r};
    if (ptrace(PTRACE_GETREGSET, tid, NT_PRSTATUS, &io) != 0)
        return false;
    // The order of <sys/ucontext.h>, as the crashing thread's registers travel.
    thread.arch = static_cast<uint32_t>(KWCrashArch::X86_64);
    thread.gregCount = NGREG;
    uint64_t* g = thread.gregs;
    g[REG_R8] = r.r8;
    g[REG_R9] = r.r9;
    g[REG_R10] = r.r10;
    g[REG_R11] = r.r11;
    g[REG_R12] = r.r12;
    g[REG_R13] = r.r13;
    g[REG_R14] = r.r14;
    g[REG_R15] = r.r15;
    g[REG_RDI] = r.rdi;
    g[REG_RSI] = r.rsi;
    g[REG_RBP] = r.rbp;
    g[REG_RBX] = r.rbx;
    g[REG_RDX] = r.rdx;
    g[REG_RAX] = r.rax;
    g[REG_RCX] = r.rcx;
    g[REG_RSP] = r.rsp;
    g[REG_RIP] = r.rip;
    g[REG_EFL] = r.eflags;
    g[REG_CSGSFS] = (r.cs & 0xffff) | (r.gs & 0xffff) << 16 | (r.fs & 0xffff) << 32 | (r.ss & 0xffff) << 48;
    thread.stackPointer = r.rsp;
    user_fpregs_struct f{};
    iovec fio{&f, sizeof f};
    static_assert(sizeof f == sizeof thread.fpregs, "the FXSAVE area");
    if (ptrace(PTRACE_GETREGSET, tid, NT_PRFPREG, &fio) == 0 && fio.iov_len == sizeof f) {
        std::memcpy(thread.fpregs, &f, sizeof f);
        thread.hasFpregs = 1;
    }
    return true;
#elif defined(__aarch64__)
    user_pt_regs r{};
    iovec io{&r, sizeof r};
    if (ptrace(PTRACE_GETREGSET, tid, NT_PRSTATUS, &io) != 0)
        return false;
    thread.arch = static_cast<uint32_t>(KWCrashArch::Arm64);
    thread.gregCount = 34;
    for (int i = 0; i < 31; ++i)
        thread.gregs[i] = r.regs[i];
    thread.gregs[31] = r.sp;
    thread.gregs[32] = r.pc;
    thread.gregs[33] = r.pstate;
    thread.stackPointer = r.sp;
    return true;
#else
    (void)tid;
    (void)thread;
    return false;
#endif
}

void CopyStack(pid_t pid, const std::string& maps, KWCrashThread& thread) {
    uint64_t start = 0, end = 0;
    const uint64_t sp = thread.stackPointer;
    if (!KWCrashThreads::FindMapping(maps, sp, start, end))
        return;
    const uint64_t from = sp - start >= kRedZone ? sp - kRedZone : start;
    const uint64_t size = std::min<uint64_t>(end - from, kCrashWireMaxStack);
    thread.stack.resize(size);
    iovec local{thread.stack.data(), size};
    iovec remote{reinterpret_cast<void*>(from), size};
    const ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    thread.stack.resize(got > 0 ? static_cast<size_t>(got) : 0);
    thread.stackStart = from;
}

}  // namespace

bool KWCrashThreads::FindMapping(const std::string& maps, uint64_t address, uint64_t& start, uint64_t& end) {
    size_t line = 0;
    while (line < maps.size()) {
        size_t next = maps.find('\n', line);
        if (next == std::string::npos)
            next = maps.size();
        size_t at = line;
        uint64_t from = 0, to = 0;
        // "start-end perms ..."
        if (ParseHex(maps, at, from) && at < next && maps[at] == '-' && ParseHex(maps, ++at, to) &&
            at + 1 < next && maps[at + 1] == 'r' && address >= from && address < to) {
            start = from;
            end = to;
            return true;
        }
        line = next + 1;
    }
    return false;
}

std::vector<KWCrashThread> KWCrashThreads::Read(pid_t pid, pid_t crashingTid, const std::string& maps,
                                                std::string* error) {
    std::vector<KWCrashThread> threads;
    auto fail = [error](const std::string& why) {
        if (error && error->empty())
            *error = why;
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(kBudgetMs);
    for (pid_t tid : TasksOf(pid)) {
        if (tid == crashingTid)
            continue;
        if (threads.size() >= kMaxThreads || Clock::now() >= deadline) {
            fail("too many threads or out of time");
            break;
        }
        // Seize rather than attach: no SIGSTOP is sent, so the thread sees
        // nothing of this once it is let go.
        if (ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0) {
            fail(std::string("cannot trace thread ") + std::to_string(tid) + ": " + strerror(errno));
            continue;
        }
        int status = 0;
        if (ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) != 0 || !WaitForStop(tid, deadline, status)) {
            // A thread that never stops in time cannot be let go here; it ends
            // with its process once the client has its answer.
            fail("thread " + std::to_string(tid) + " did not stop");
            continue;
        }
        KWCrashThread thread;
        thread.tid = tid;
        const bool read = ReadRegisters(tid, thread);
        if (read)
            CopyStack(pid, maps, thread);
        // A signal the thread was about to receive is handed back to it.
        const int pending = (status >> 16) == 0 ? WSTOPSIG(status) : 0;
        ptrace(PTRACE_DETACH, tid, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(pending)));
        if (read)
            threads.push_back(std::move(thread));
        else
            fail("cannot read the registers of thread " + std::to_string(tid));
    }
    return threads;
}

}  // namespace KwLib
