#include "platform/ui/UIFrameExchange.h"

namespace KwLib {

UIFrameExchange::UIFrameExchange(int width, int height) : m_width(width), m_height(height) {
    for (Frame& f : m_buffers) {
        f.width = width;
        f.height = height;
        f.pixels.assign(static_cast<size_t>(width) * height, 0);
    }
}

void UIFrameExchange::Publish(uint64_t timeMs) {
    Frame& back = m_buffers[m_back];
    const uint64_t sequence = m_published.load(std::memory_order_relaxed) + 1;
    back.sequence = sequence;
    back.timeMs = timeMs;
    // Release: the pixels are written before the consumer can see the index.
    const uint8_t previous =
        m_middle.exchange(static_cast<uint8_t>(m_back | kFresh), std::memory_order_acq_rel);
    m_back = previous & 3;
    m_published.store(sequence, std::memory_order_release);
}

bool UIFrameExchange::TakeLatest() {
    if (!(m_middle.load(std::memory_order_acquire) & kFresh))
        return false;
    const uint8_t previous = m_middle.exchange(static_cast<uint8_t>(m_front), std::memory_order_acq_rel);
    m_front = previous & 3;
    return true;
}

}  // namespace KwLib
