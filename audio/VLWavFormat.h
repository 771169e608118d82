#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

namespace KwLib {

// The 44-byte PCM WAV header that every recording of the client carries.
// Recordings are always 16000 Hz, 16-bit, mono; the server and the denoiser
// rely on the data starting at byte 44.
struct VLWavFormat {
    static constexpr uint32_t kHeaderSize = 44;
    static constexpr uint32_t kSampleRate = 16000;
    static constexpr uint16_t kChannels = 1;
    static constexpr uint16_t kBitsPerSample = 16;

    uint32_t sampleRate = kSampleRate;
    uint16_t channels = kChannels;
    uint16_t bitsPerSample = kBitsPerSample;
    uint32_t riffLength = 0;  // file length - 8
    uint32_t dataLength = 0;  // file length - 44

    uint16_t BlockAlign() const { return static_cast<uint16_t>(channels * bitsPerSample / 8); }
    uint32_t ByteRate() const { return BlockAlign() * sampleRate; }

    // Writes the header into `out` (44 bytes), little-endian.
    void Write(uint8_t* out) const;
    // Reads a canonical 44-byte PCM header; nullopt when the bytes are not one.
    static std::optional<VLWavFormat> Parse(const uint8_t* in, size_t size);
    // A recording header whose lengths describe `dataLength` bytes of samples.
    static VLWavFormat ForRecording(uint32_t dataLength);
    bool IsRecordingFormat() const {
        return sampleRate == kSampleRate && channels == kChannels && bitsPerSample == kBitsPerSample;
    }
};

}  // namespace KwLib
