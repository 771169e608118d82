#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace KwLib {

// Interleaved 16-bit samples of a whole file, at the rate asked for.
struct VLDecodedAudio {
    std::vector<int16_t> samples;
    int channels = 0;  // 1 or 2
    int sampleRate = 0;
    uint64_t Frames() const { return channels ? samples.size() / channels : 0; }
    double Seconds() const { return sampleRate ? static_cast<double>(Frames()) / sampleRate : 0.0; }
};

// Decodes sound files (WAV, FLAC, Ogg, MP3 through libsndfile) and tracker
// modules (through libopenmpt). Stateless; safe on any thread.
class VLAudioDecoder {
public:
    // Longest file we agree to hold in memory (15 minutes of 44.1 kHz stereo
    // is 160 MB); longer files are refused rather than exhausting memory in the
    // middle of an exam. Exam prompts and accompaniments last a few minutes.
    static constexpr double kMaxSeconds = 15 * 60;

    // The whole file resampled to `sampleRate`; nullopt when the file is neither a
    // sound file nor a module.
    static std::optional<VLDecodedAudio> Decode(const std::string& path, int sampleRate);
    // Length in seconds without keeping the samples; 0.0 when the file cannot be
    // opened as sound. MP3 headers and modules only estimate their length, so
    // those are counted by decoding (at the output rate for modules).
    static double DurationSeconds(const std::string& path);
};

}  // namespace KwLib
