#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace KwLib {

// A playing stream on the output device; 0 means none.
using VLChannel = uint32_t;

struct VLRecordDevice {
    std::string name;
    bool enabled = true;
    bool isDefault = false;
};

// The microphone to record from: the system default unless it is a loopback or
// virtual device, else the first real device; -1 (open without a name: the
// system default) when the default is not known or no device qualifies.
// Returns an index into `devices`.
int ChooseRecordingDevice(const std::vector<VLRecordDevice>& devices);

// The client's sound output and capture, on SDL2 audio. One output device is
// opened by Init; any number of channels are mixed into it (the player keeps
// one at a time). Files are decoded completely when the stream is created, so
// lengths and positions count frames that were really decoded.
//
// Threads: every method is called from the UI thread; the spectrum tick may
// call the const Channel* readers. SDL's output thread runs the mixer and its
// capture thread runs the record procedure; both share state with the UI thread
// only under m_mutex or through atomics.
class VLAudioEngine {
public:
    static constexpr int kOutputRate = 44100;
    static constexpr int kRecentFrames = 2048;
    static constexpr int kOutputBufferFrames = 1024;
    // Called on the capture thread with each block of captured bytes; returning
    // false ends the recording.
    using RecordProc = std::function<bool(const void* data, uint32_t length)>;

    VLAudioEngine();
    ~VLAudioEngine();
    VLAudioEngine(const VLAudioEngine&) = delete;
    VLAudioEngine& operator=(const VLAudioEngine&) = delete;

    // Opens the default output device (44100 Hz stereo); true when it is open.
    bool Init();
    // Stops the recording, frees every channel and closes the devices.
    void Free();
    bool IsInitialized() const { return m_output != 0; }
    // How much sound one output buffer holds.
    int OutputLatencyMs() const { return kOutputBufferFrames * 1000 / kOutputRate; }
    // The engine's clock: steady milliseconds, fractional.
    static double ClockMs();
    // How long a buffer the mixer hands over waits in the device before it
    // sounds: the buffer still playing ahead of it on a sound card, nothing on
    // the file and null drivers, which take each buffer as it comes.
    double DeviceDelayMs() const { return m_deviceDelayMs; }

    // Decodes a sound file or a module; 0 when neither opens or no device is open.
    VLChannel StreamCreateFile(const std::string& path);
    // A stream fed with StreamPutData: 16-bit samples at `sampleRate`.
    VLChannel StreamCreatePush(int sampleRate, int channels);
    // Starts a channel, or resumes it; false for an unknown channel.
    bool ChannelPlay(VLChannel channel);
    // Stops a channel and frees it.
    bool ChannelStop(VLChannel channel);
    // True while the channel is being played and has data left.
    bool ChannelIsPlaying(VLChannel channel) const;
    // When the channel's first frame reaches the output, on ClockMs: the moment
    // the mixer handed the buffer holding it to the device plus the device's
    // delay. False until the mixer has taken that frame, and for an unknown channel.
    bool ChannelGetOutputStart(VLChannel channel, double& clockMs) const;
    double ChannelGetLength(VLChannel channel) const;
    double ChannelGetPosition(VLChannel channel) const;
    // The last kRecentFrames mono samples the channel sent out, oldest first
    // (silence before its start). False for an unknown channel and for one that
    // is not playing (played out, or not started).
    bool ChannelGetRecent(VLChannel channel, float* out) const;
    // Changes the rate a push stream is played at, for latency control.
    bool ChannelSetFrequency(VLChannel channel, int sampleRate);

    bool StreamPutData(VLChannel push, const void* data, uint32_t length);
    // Bytes queued in a push stream and not yet played.
    uint32_t StreamGetAvailable(VLChannel push) const;

    // Master output level, 0..1, applied to everything the device plays.
    void SetVolume(float volume);
    float GetVolume() const { return m_volume.load(); }

    // Capture devices in the order the system lists them. The system does not
    // say which one is its default; the first one listed is taken as it.
    std::vector<VLRecordDevice> ListRecordDevices();
    // Opens capture device `device` (-1 = system default) with 16-bit samples.
    bool RecordStart(int device, int sampleRate, int channels, RecordProc proc);
    // Ends the recording; after it returns the record procedure is not called again.
    bool RecordStop();
    bool IsRecording() const;
    uint64_t RecordGetBytes() const { return m_recordBytes.load(); }
    double RecordGetSeconds() const;
    uint64_t RecordSecondsToBytes(double seconds) const;
    // Input level, 0..1, applied to the captured samples before they are handed on.
    void RecordSetVolume(float volume);

    class Channel;

private:
    static void MixCallback(void* self, uint8_t* stream, int length);
    static void CaptureCallback(void* self, uint8_t* stream, int length);
    VLChannel AddChannel(std::unique_ptr<Channel> channel);
    bool EnsureSdlAudio();

    uint32_t m_output = 0;  // SDL_AudioDeviceID
    bool m_sdlAudioUp = false;
    double m_deviceDelayMs = 0.0;  // set before the device starts calling the mixer
    mutable std::mutex m_mutex;    // guards m_channels and every channel's state
    std::map<VLChannel, std::unique_ptr<Channel>> m_channels;
    VLChannel m_nextHandle = 1;
    std::vector<float> m_mixScratch;
    std::atomic<float> m_volume{1.0f};

    uint32_t m_capture = 0;  // SDL_AudioDeviceID
    RecordProc m_recordProc;
    int m_recordRate = 0;
    int m_recordChannels = 0;
    std::atomic<bool> m_recordEnded{false};
    std::atomic<uint64_t> m_recordBytes{0};
    std::atomic<float> m_recordVolume{1.0f};
};

}  // namespace KwLib
