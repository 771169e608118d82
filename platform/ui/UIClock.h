#pragma once
#include <cstdint>

namespace KwLib {

// The toolkit's millisecond clock. Timers, animations, tooltips, caret blink
// and double-click detection all read it, so a test can switch it to manual
// and move time forward itself instead of sleeping. Safe from any thread.
class UIClock {
public:
    // Monotonic milliseconds (the manual value when the clock is manual).
    static uint64_t NowMs();
    // Same as NowMs, truncated the way tick counts always were.
    static uint32_t GetTickCount() { return static_cast<uint32_t>(NowMs()); }

    // Switches to a manual clock starting at `startMs`, or back to the real one.
    static void SetManual(bool manual, uint64_t startMs = 1000);
    static bool IsManual();
    // Moves the manual clock; ignored by the real clock. Prefer
    // UITestDriver::Advance, which also fires the timers that fall due.
    static void SetManualNow(uint64_t ms);
};

}  // namespace KwLib
