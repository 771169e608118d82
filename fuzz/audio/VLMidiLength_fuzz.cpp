// Melody files come from the paper's server: any bytes must give a length or none,
// never a read outside them.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "audio/VLAudioDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const double seconds = KwLib::VLAudioDecoder::MidiDurationOfBytes(data, size);
    if (!(seconds >= 0.0) || std::isinf(seconds))
        std::abort();
    return 0;
}
