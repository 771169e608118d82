#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/common/KWThread.h"

namespace KwLib {

// Interleaved 16-bit samples of a whole file, at the rate asked for.
struct VLDecodedAudio {
    std::vector<int16_t> samples;
    int channels = 0;  // 1 or 2
    int sampleRate = 0;
    uint64_t Frames() const { return channels ? samples.size() / channels : 0; }
    double Seconds() const { return sampleRate ? static_cast<double>(Frames()) / sampleRate : 0.0; }
};

// One file being decoded on its own thread, resampled to the output rate, into
// memory that only grows. A reader (the mixer) plays the frames that are ready
// while later ones are still being decoded, so opening a long file does not
// hold up the caller. Sound files go through libsndfile (WAV, FLAC, Ogg, MP3),
// tracker modules through libopenmpt.
//
// Threads: the decoder thread writes; any one reader thread may read frames
// below ReadyFrames(). The frame memory is never moved, so no lock is needed.
class VLDecodeStream {
public:
    // Longest file we agree to hold in memory (15 minutes of 44.1 kHz stereo is
    // 160 MB); anything longer is cut there rather than exhausting memory in the
    // middle of an exam. Exam prompts and accompaniments last a few minutes.
    static constexpr double kMaxSeconds = 15 * 60;

    // Starts decoding `path`; nullptr when it is neither a sound file nor a module.
    static std::unique_ptr<VLDecodeStream> Open(const std::string& path, int sampleRate);
    ~VLDecodeStream();
    VLDecodeStream(const VLDecodeStream&) = delete;
    VLDecodeStream& operator=(const VLDecodeStream&) = delete;

    int Channels() const { return m_channels; }
    int SampleRate() const { return m_outRate; }
    // Frames decoded so far, readable with Frame().
    uint64_t ReadyFrames() const { return m_ready.load(std::memory_order_acquire); }
    bool Done() const { return m_done.load(std::memory_order_acquire); }
    // The frames actually decoded once Done(); before that the length the file
    // states (MP3 files have their frames counted when opened; a module's own
    // estimate can be a little off).
    uint64_t LengthFrames() const;
    // The samples of frame `f` (Channels() values); f < ReadyFrames().
    const int16_t* Frame(uint64_t f) const {
        return m_blocks[f / kBlockFrames].get() + (f % kBlockFrames) * m_channels;
    }
    // Waits until the whole file is decoded.
    void WaitDone();

    class Source;

private:
    static constexpr uint64_t kBlockFrames = 1 << 16;

    VLDecodeStream() = default;
    void Run();
    void Append(const int16_t* samples, uint64_t frames);

    std::unique_ptr<Source> m_source;
    int m_channels = 0;
    int m_outRate = 0;
    uint64_t m_estimate = 0;
    uint64_t m_maxFrames = 0;
    std::unique_ptr<std::unique_ptr<int16_t[]>[]> m_blocks;  // fixed table, never reallocated
    uint64_t m_written = 0;                                  // decoder thread only
    std::atomic<uint64_t> m_ready{0};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_cancel{false};
    std::unique_ptr<KWThread> m_thread;
    std::string m_path;
};

class VLAudioDecoder {
public:
    static constexpr double kMaxSeconds = VLDecodeStream::kMaxSeconds;

    // The whole file resampled to `sampleRate`, waiting for the decoding; nullopt
    // when the file is neither a sound file nor a module.
    static std::optional<VLDecodedAudio> Decode(const std::string& path, int sampleRate);
    // Length in seconds without playing; 0.0 when the file cannot be opened as
    // sound. Read from the header where it is exact; MP3 files have their frames
    // counted and modules are decoded once, and both are remembered (by path,
    // size and modification time), as is every module a stream finished decoding.
    static double DurationSeconds(const std::string& path);
    // The length of a Standard MIDI File from its tempo map; 0 for anything else.
    static double MidiDurationSeconds(const std::string& path);
    // The same for a file's bytes in memory.
    static double MidiDurationOfBytes(const uint8_t* data, size_t size);
};

}  // namespace KwLib
