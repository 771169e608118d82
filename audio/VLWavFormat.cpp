#include "audio/VLWavFormat.h"

#include <cstring>

namespace KwLib {

namespace {

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void VLWavFormat::Write(uint8_t* out) const {
    std::memcpy(out + 0, "RIFF", 4);
    Put32(out + 4, riffLength);
    std::memcpy(out + 8, "WAVE", 4);
    std::memcpy(out + 12, "fmt ", 4);
    Put32(out + 16, 16);
    Put16(out + 20, 1);
    Put16(out + 22, channels);
    Put32(out + 24, sampleRate);
    Put32(out + 28, ByteRate());
    Put16(out + 32, BlockAlign());
    Put16(out + 34, bitsPerSample);
    std::memcpy(out + 36, "data", 4);
    Put32(out + 40, dataLength);
}

std::optional<VLWavFormat> VLWavFormat::Parse(const uint8_t* in, size_t size) {
    if (size < kHeaderSize)
        return std::nullopt;
    if (std::memcmp(in, "RIFF", 4) != 0 || std::memcmp(in + 8, "WAVE", 4) != 0 ||
        std::memcmp(in + 12, "fmt ", 4) != 0 || Get32(in + 16) != 16 || Get16(in + 20) != 1 ||
        std::memcmp(in + 36, "data", 4) != 0)
        return std::nullopt;
    VLWavFormat f;
    f.riffLength = Get32(in + 4);
    f.channels = Get16(in + 22);
    f.sampleRate = Get32(in + 24);
    f.bitsPerSample = Get16(in + 34);
    f.dataLength = Get32(in + 40);
    if (f.channels == 0 || f.bitsPerSample == 0)
        return std::nullopt;
    return f;
}

VLWavFormat VLWavFormat::ForRecording(uint32_t dataLength) {
    VLWavFormat f;
    f.dataLength = dataLength;
    f.riffLength = dataLength + 36;
    return f;
}

}  // namespace KwLib
