#include "platform/common/KWAliveRecord.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace KwLib {

namespace {
// Five 64-bit words: magic, pid, flags and limit, heartbeat, busy-since.
constexpr size_t kWords = 5;
constexpr size_t kSize = kWords * sizeof(uint64_t);
constexpr uint64_t kMagic = 0x314556494c414c56ull;  // "VLALIVE1"
enum : size_t { kMagicWord, kPidWord, kFlagsWord, kHeartbeatWord, kBusyWord };
constexpr uint64_t kHolding = 1ull << 32, kReleasesItself = 1ull << 33;

void Store(uint64_t* words, size_t index, uint64_t value) {
    if (words)
        __atomic_store_n(&words[index], value, __ATOMIC_RELEASE);
}
}  // namespace

uint64_t KWAliveRecord::NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

bool KWAliveRecord::Publish(const std::string& path) {
    if (m_words)
        return true;
    // A new file: a reader never mixes this program's words with an earlier one's.
    unlink(path.c_str());
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    void* map = MAP_FAILED;
    if (ftruncate(fd, kSize) == 0)
        map = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED)
        return false;
    m_words = static_cast<uint64_t*>(map);
    Store(m_words, kPidWord, static_cast<uint64_t>(getpid()));
    Store(m_words, kMagicWord, kMagic);
    return true;
}

KWAliveRecord::~KWAliveRecord() {
    if (m_words)
        munmap(m_words, kSize);
}

namespace {
uint64_t Flags(bool holding, bool releasesItself, uint32_t endAfterMs) {
    return (holding ? kHolding : 0) | (releasesItself ? kReleasesItself : 0) | endAfterMs;
}
}  // namespace

void KWAliveRecord::SetHolding(bool holding, bool releasesItself, uint32_t endAfterMs) {
    Store(m_words, kFlagsWord, Flags(holding, releasesItself, endAfterMs));
}

bool KWAliveRecord::Write(const std::string& path, const KWAliveState& state) {
    const uint64_t words[kWords] = {kMagic, static_cast<uint64_t>(state.pid),
                                    Flags(state.holding, state.releasesItself, state.endAfterMs),
                                    state.heartbeatMs, state.busySinceMs};
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool ok = write(fd, words, kSize) == static_cast<ssize_t>(kSize);
    return close(fd) == 0 && ok;
}

void KWAliveRecord::Heartbeat(uint64_t nowMs) {
    Store(m_words, kHeartbeatWord, nowMs);
}

void KWAliveRecord::Busy(uint64_t sinceMs) {
    Store(m_words, kBusyWord, sinceMs);
}

std::optional<KWAliveState> KWAliveRecord::Read(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    uint64_t words[kWords] = {};
    const ssize_t got = pread(fd, words, kSize, 0);
    close(fd);
    if (got != static_cast<ssize_t>(kSize) || words[kMagicWord] != kMagic || words[kPidWord] == 0 ||
        words[kPidWord] > 0x7fffffff)
        return std::nullopt;
    KWAliveState state;
    state.pid = static_cast<pid_t>(words[kPidWord]);
    state.holding = (words[kFlagsWord] & kHolding) != 0;
    state.releasesItself = (words[kFlagsWord] & kReleasesItself) != 0;
    state.endAfterMs = static_cast<uint32_t>(words[kFlagsWord] & 0xffffffffull);
    state.heartbeatMs = words[kHeartbeatWord];
    state.busySinceMs = words[kBusyWord];
    return state;
}

bool KWAliveRecord::IsHung(const KWAliveState& state, uint64_t nowMs) {
    if (!state.holding || state.endAfterMs == 0 || state.heartbeatMs == 0)
        return false;
    const bool busyTooLong = state.busySinceMs != 0 && nowMs > state.busySinceMs &&
                             nowMs - state.busySinceMs > state.endAfterMs;
    // The watchdog thread beats four times a second: silence this long is a stopped program.
    const bool silent = nowMs > state.heartbeatMs && nowMs - state.heartbeatMs > state.endAfterMs;
    return busyTooLong || silent;
}

}  // namespace KwLib
