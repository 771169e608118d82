#pragma once
// UIFrameExchange: hands finished pictures from a thread that draws them to the
// thread that shows them, newest first. Three buffers rotate: the producer
// draws into its own, publishes it and gets the one the consumer left; the
// consumer takes the newest published one. Neither side ever waits for the
// other, and a picture the consumer never took is simply replaced.
//
// One producer thread and one consumer thread; each calls only its own side.
#include <atomic>
#include <cstdint>
#include <vector>

namespace KwLib {

class UIFrameExchange {
public:
    // One picture: opaque or premultiplied ARGB32 pixels (cairo's layout), row
    // after row without padding.
    struct Frame {
        int width = 0;
        int height = 0;
        std::vector<uint32_t> pixels;
        uint64_t sequence = 0;  // 1 for the first picture published, then counting
        uint64_t timeMs = 0;    // the moment the picture shows, on the drawing thread's clock
        uint32_t Pixel(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    };

    UIFrameExchange(int width, int height);
    UIFrameExchange(const UIFrameExchange&) = delete;
    UIFrameExchange& operator=(const UIFrameExchange&) = delete;

    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // ---- producer ----
    // The buffer to draw the next picture into.
    Frame& Back() { return m_buffers[m_back]; }
    // Makes the back buffer the newest picture and hands out another one.
    void Publish(uint64_t timeMs);
    uint64_t PublishedCount() const { return m_published.load(std::memory_order_acquire); }

    // ---- consumer ----
    // Takes the newest picture when one was published since the last call;
    // false when there is nothing new (Front stays as it was).
    bool TakeLatest();
    // The picture taken last; sequence 0 before the first one.
    const Frame& Front() const { return m_buffers[m_front]; }

private:
    static constexpr uint8_t kFresh = 4;  // set beside the index of an untaken picture
    int m_width;
    int m_height;
    Frame m_buffers[3];
    int m_back = 0;                    // producer's
    int m_front = 1;                   // consumer's
    std::atomic<uint8_t> m_middle{2};  // the buffer in between, with kFresh
    std::atomic<uint64_t> m_published{0};
};

}  // namespace KwLib
