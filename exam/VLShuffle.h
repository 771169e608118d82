#pragma once
#include <cstdint>
#include <utility>
#include <vector>

namespace KwLib {

// The C library's classic linear congruential generator (the sequence rand()
// gives after srand() on the platform the papers were first shuffled on), kept
// per instance so that parsing on a worker thread shares no global state.
class VLRandom {
public:
    explicit VLRandom(uint32_t seed) : m_state(seed) {}
    int Next() {
        m_state = m_state * 214013u + 2531011u;
        return static_cast<int>((m_state >> 16) & 0x7FFF);
    }

private:
    uint32_t m_state;
};

// The swap walk: for each position from the first, swap with a random position.
template <typename T>
void VLShuffle(std::vector<T>& items, VLRandom& random) {
    const size_t n = items.size();
    if (n < 2)
        return;
    for (size_t i = 0; i < n; ++i) {
        size_t j = static_cast<size_t>(random.Next()) % n;
        std::swap(items[i], items[j]);
    }
}

}  // namespace KwLib
