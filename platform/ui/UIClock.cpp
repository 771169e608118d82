#include "platform/ui/UIClock.h"

#include <atomic>
#include <chrono>

namespace KwLib {

namespace {
std::atomic<bool> g_manual{false};
std::atomic<uint64_t> g_manualNow{0};
}  // namespace

uint64_t UIClock::NowMs() {
    if (g_manual.load(std::memory_order_acquire))
        return g_manualNow.load(std::memory_order_acquire);
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void UIClock::SetManual(bool manual, uint64_t startMs) {
    g_manualNow.store(startMs, std::memory_order_release);
    g_manual.store(manual, std::memory_order_release);
}

bool UIClock::IsManual() {
    return g_manual.load(std::memory_order_acquire);
}

void UIClock::SetManualNow(uint64_t ms) {
    if (IsManual())
        g_manualNow.store(ms, std::memory_order_release);
}

}  // namespace KwLib
