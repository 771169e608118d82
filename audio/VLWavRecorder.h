#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace KwLib {

// The whole recording as one in-memory WAV image (header and samples), written
// to disk only when the recording stops. Begin and Finish run on the UI thread
// while no capture runs; Append runs on the capture thread in between.
class VLWavRecorder {
public:
    // The buffer grows in these steps (6.25 s of 16 kHz mono) so that the capture
    // thread reallocates rarely.
    static constexpr uint32_t kGrowStep = 200000;

    VLWavRecorder() = default;
    VLWavRecorder(const VLWavRecorder&) = delete;
    VLWavRecorder& operator=(const VLWavRecorder&) = delete;

    // Allocates the first step and writes the header with both lengths 0.
    bool Begin();
    // Appends captured bytes; false when the buffer could not grow, in which case
    // the recording so far is kept and nothing of this block is added.
    bool Append(const void* data, uint32_t length);
    // Fills in the two length fields and, when `path` is not empty, writes the
    // image to it. Frees the buffer. False when a file was asked for and could
    // not be written completely.
    bool Finish(const std::string& path);
    // Drops the recording without writing anything.
    void Discard();

    // The most the image may hold, header included; Append refuses beyond it
    // as it does when memory runs out.
    void SetMaxLength(uint32_t bytes) { m_maxLength = bytes; }

    bool HasBuffer() const { return m_buffer != nullptr; }
    uint32_t CapturedLength() const { return m_length; }
    uint32_t Capacity() const { return m_capacity; }
    const uint8_t* Data() const { return m_buffer.get(); }

private:
    struct FreeDeleter {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, FreeDeleter> m_buffer;
    uint32_t m_length = 0;
    uint32_t m_capacity = 0;
    uint32_t m_maxLength = UINT32_MAX - kGrowStep;
};

}  // namespace KwLib
