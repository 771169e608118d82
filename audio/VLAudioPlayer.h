#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/VLAudioEngine.h"
#include "audio/VLSpectrum.h"
#include "audio/VLWavRecorder.h"
#include "platform/common/KWThread.h"

namespace KwLib {

// Everything the music-player control does apart from drawing itself: the one
// playback channel, the microphone recording and monitor, and the spectrum
// picture. The control forwards to it; tests drive it without a window.
//
// Threads: the UI thread calls every public method except SpectrumTick. The
// spectrum tick runs on its own thread (every 25 ms while the audio is up) and
// reads only the atomics below; the capture procedure runs on the audio
// library's capture thread and writes the recording between StartRecord and
// StopRecord, which join that thread before touching the recording.
class VLAudioPlayer {
public:
    enum Mode { ModePlayback = 0, ModeRecordToFile = 1, ModeMonitor = 2 };
    static constexpr int kCaptureRate = 16000;
    static constexpr int kCaptureChannels = 1;
    static constexpr int kCaptureBits = 16;
    static constexpr int kTickMs = 25;

    // `width` x `height` is the spectrum picture, the control's fixed size.
    VLAudioPlayer(int width, int height);
    ~VLAudioPlayer();
    VLAudioPlayer(const VLAudioPlayer&) = delete;
    VLAudioPlayer& operator=(const VLAudioPlayer&) = delete;

    // Called on the tick thread whenever the spectrum picture changed (not while
    // it stays black).
    void SetInvalidateCallback(std::function<void()> invalidate);
    // Resizes the spectrum picture (the control's fixed size); black afterwards.
    void SetSpectrumSize(int width, int height);
    // Counts the spectrum frames drawn so far; the control repaints when it moves.
    uint64_t SpectrumFrameCount() const { return m_spectrumFrames.load(); }
    // Tests turn the tick thread off and call SpectrumTick themselves.
    void SetAutomaticTick(bool enabled) { m_autoTick = enabled; }

    // Opens the output device, chooses the microphone, starts the spectrum tick.
    bool InitAudio();
    // Stops playback and recording (a running recording is still written), closes
    // the devices and stops the spectrum tick. Safe to call more than once.
    void ReleaseAudio();
    bool IsInitialized() const { return m_initialized; }

    // Plays a sound file or a module once. The channel playing before is stopped
    // first, so only one file sounds at a time. False when the file cannot be
    // opened; the playback channel is then 0.
    bool PlayFile(const std::string& path);
    // What the window does for every prompt, question audio and clip: stop what
    // plays, play `path` in playback mode, and return its length in whole
    // milliseconds (0 when it could not be played) to arm its timers with.
    uint32_t StartPlayback(const std::string& path);
    // Stops the playback channel, if any.
    void StopPlayback();
    // Master output level in percent (0 mutes).
    void SetVolume(int percent);
    double GetPlayLength() const;
    double GetPlayPosition() const;
    // When the first sample of the file playing now reaches the output, in
    // milliseconds from now (negative: it did already). False until the
    // mixer has taken it, or when nothing plays.
    bool GetPlaybackStartFromNow(double& ms) const;
    // Length of a file in seconds without playing it; 0.0 when it is not sound.
    double GetFileDuration(const std::string& path) const;
    // The progress tick's test for "finished": false once the file has played out.
    bool IsPlaying() const;
    VLChannel PlaybackChannel() const { return m_playChannel.load(); }

    // What the window's progress tick shows while a file plays: the position
    // as 0..1000 of the length (computed in single precision), and the whole
    // seconds left.
    int PlaybackProgressPermille() const;
    int RemainingPlaySeconds() const;
    // While the microphone test records: bytes so far as 0..1000 of `limitSeconds`.
    int RecordProgressPermille(int limitSeconds) const;
    // "%02d:%02d" minutes and seconds ("00:00" for 0 or less).
    static std::string FormatMinutesSeconds(int seconds);

    // Starts capturing 16 kHz mono 16-bit from the chosen microphone into memory;
    // `path` empty means nothing is written at the stop (monitoring). The caller
    // sets the mode afterwards.
    bool StartRecord(const std::string& path);
    // Ends the recording and writes the WAV file: 1 when it was written, 0 when
    // nothing was recording, -1 when the file could not be written, and
    // kRecordCutShort when the capture had to end early (the memory it needed,
    // or the length limit): the part captured is on disk, but it is not the
    // whole answer.
    static constexpr int kRecordCutShort = -2;
    int StopRecord();
    // The longest recording in bytes (header included); an hour of 16 kHz mono by default.
    void SetRecordLimitBytes(uint32_t bytes) { m_recordLimitBytes = bytes; }
    // Microphone level in percent (0 records silence).
    void SetRecordVolume(int percent);
    double GetRecordPosition() const;
    int64_t RecordSecondsToBytes(int seconds) const;
    uint64_t GetRecordPositionBytes() const;
    bool IsRecording() const;
    // A recording was started and not stopped yet, even when its capture ended
    // by itself (the device went, the buffer was full): StopRecord still writes it.
    bool HasOpenRecording() const { return m_recording; }

    void SetMode(int mode) { m_mode.store(mode); }
    int GetMode() const { return m_mode.load(); }
    int RecordingDevice() const { return m_recordDevice; }
    VLChannel MonitorStream() const { return m_monitor.load(); }
    uint32_t MonitorRate() const { return m_monitorRate.load(); }

    // One spectrum frame: the playing channel's FFT drawn as bars, or black when
    // nothing plays. Runs on the tick thread; tests call it directly.
    void SpectrumTick();
    int SpectrumWidth() const;
    int SpectrumHeight() const;
    // Copies the current picture as opaque ARGB pixels, top row first.
    void CopySpectrum(uint32_t* argb, int strideInPixels) const;
    // A copy of the palette-index picture (bottom row first), for tests.
    VLSpectrumBitmap SpectrumSnapshot() const;

    VLAudioEngine& Engine() { return m_engine; }

private:
    bool OnCapture(const void* data, uint32_t length);
    void StartTicker();
    void StopTicker();

    VLAudioEngine m_engine;
    std::atomic<VLChannel> m_playChannel{0};
    std::atomic<VLChannel> m_monitor{0};
    std::atomic<int> m_mode{ModePlayback};
    bool m_initialized = false;
    bool m_recording = false;
    std::string m_capturePath;
    VLWavRecorder m_recorder;
    uint32_t m_recordLimitBytes = 44 + 3600u * 32000u;
    std::atomic<bool> m_captureCut{false};
    int m_recordDevice = -1;

    // Monitor latency control; used on the capture thread while recording.
    std::atomic<uint32_t> m_monitorRate{0};
    uint32_t m_prebuffer = 0;
    uint32_t m_targetLevel = 0;
    uint32_t m_previousLevel = 0;

    mutable std::mutex m_spectrumMutex;  // guards m_spectrum between the tick and paint
    VLSpectrumBitmap m_spectrum;
    VLFft2048 m_fft;
    float m_samples[VLFft2048::kSize] = {};
    float m_magnitudes[VLFft2048::kBins] = {};
    std::function<void()> m_invalidate;
    std::atomic<uint64_t> m_spectrumFrames{0};
    bool m_spectrumBlank = true;

    bool m_autoTick = true;
    std::unique_ptr<KWThread> m_ticker;
    std::mutex m_tickMutex;
    std::condition_variable m_tickCv;
    bool m_tickStop = false;
};

}  // namespace KwLib
