#include "audio/VLAudioEngine.h"

#include <SDL.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "audio/VLAudioDecoder.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWThread.h"

namespace KwLib {

int ChooseRecordingDevice(const std::vector<VLRecordDevice>& devices) {
    std::vector<int> candidates;
    int systemDefault = -1;
    bool defaultKnown = false;
    for (size_t i = 0; i < devices.size(); ++i) {
        const VLRecordDevice& d = devices[i];
        defaultKnown = defaultKnown || d.isDefault;
        if (!d.enabled)
            continue;
        // Loopback ("stereo mix") and virtual devices record the computer's own
        // output, never the student's voice.
        const bool loopback =
            d.name.find("立体声混音") != std::string::npos || d.name.find("Virtual") != std::string::npos;
        if (!loopback)
            candidates.push_back(static_cast<int>(i));
        if (d.isDefault)
            systemDefault = static_cast<int>(i);
    }
    if (systemDefault >= 0 &&
        std::find(candidates.begin(), candidates.end(), systemDefault) != candidates.end())
        return systemDefault;
    // Nobody says which device the desktop chose: opening without a name takes it.
    if (!defaultKnown)
        return -1;
    // The default records the computer's own sound: the first real microphone instead.
    return candidates.empty() ? -1 : candidates.front();
}

// One source mixed into the output. All members are used under the engine's mutex.
class VLAudioEngine::Channel {
public:
    virtual ~Channel() = default;
    // Adds up to `frames` stereo frames to `out`.
    virtual void Mix(float* out, int frames) = 0;
    virtual void Recent(float* out) const = 0;
    virtual double Length() const = 0;
    virtual double Position() const = 0;
    virtual bool HasData() const = 0;
    // Frames sent to the output so far.
    virtual uint64_t FramesMixed() const = 0;
    bool playing = false;
    bool started = false;      // the first frame went out
    double outputStart = 0.0;  // when it reaches the output, on ClockMs
};

namespace {

constexpr float kSampleScale = 1.0f / 32768.0f;

// A file played while it is still being decoded; its samples stay in memory
// at the output rate.
class FileChannel : public VLAudioEngine::Channel {
public:
    explicit FileChannel(std::unique_ptr<VLDecodeStream> stream) : m_stream(std::move(stream)) {}

    void Mix(float* out, int frames) override {
        const uint64_t ready = m_stream->ReadyFrames();
        const uint64_t n = std::min<uint64_t>(frames, ready - m_pos);
        const bool stereo = m_stream->Channels() == 2;
        for (uint64_t i = 0; i < n; ++i) {
            const int16_t* s = m_stream->Frame(m_pos + i);
            out[2 * i] += s[0] * kSampleScale;
            out[2 * i + 1] += s[stereo ? 1 : 0] * kSampleScale;
        }
        m_pos += n;
        // Running ahead of the decoder plays silence until it catches up.
        if (m_pos >= ready && m_stream->Done())
            playing = false;
    }

    void Recent(float* out) const override {
        const int64_t start = static_cast<int64_t>(m_pos) - VLAudioEngine::kRecentFrames;
        const bool stereo = m_stream->Channels() == 2;
        for (int k = 0; k < VLAudioEngine::kRecentFrames; ++k) {
            const int64_t f = start + k;
            if (f < 0) {
                out[k] = 0.0f;
                continue;
            }
            const int16_t* s = m_stream->Frame(static_cast<uint64_t>(f));
            out[k] = stereo ? (s[0] + s[1]) * 0.5f * kSampleScale : s[0] * kSampleScale;
        }
    }

    double Length() const override {
        return static_cast<double>(m_stream->LengthFrames()) / m_stream->SampleRate();
    }
    double Position() const override { return static_cast<double>(m_pos) / m_stream->SampleRate(); }
    bool HasData() const override { return m_pos < m_stream->ReadyFrames() || !m_stream->Done(); }
    uint64_t FramesMixed() const override { return m_pos; }

private:
    std::unique_ptr<VLDecodeStream> m_stream;
    uint64_t m_pos = 0;
};

// A stream whose samples arrive while it plays (the microphone monitor). Its
// play rate can be nudged to keep the queued amount steady.
class PushChannel : public VLAudioEngine::Channel {
public:
    PushChannel(int sampleRate, int channels) : m_rate(sampleRate), m_channels(channels) {
        int err = 0;
        m_resampler = speex_resampler_init(channels, sampleRate, VLAudioEngine::kOutputRate, 3, &err);
    }
    ~PushChannel() override {
        if (m_resampler)
            speex_resampler_destroy(m_resampler);
    }
    bool Valid() const { return m_resampler != nullptr; }

    void Put(const int16_t* samples, size_t count) {
        // Drop what was played before growing, so the queue stays the size of the backlog.
        if (m_read > 0 && m_read >= m_queue.size() / 2) {
            m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(m_read));
            m_read = 0;
        }
        m_queue.insert(m_queue.end(), samples, samples + count);
    }
    uint32_t AvailableBytes() const {
        return static_cast<uint32_t>((m_queue.size() - m_read) * sizeof(int16_t));
    }
    void SetRate(int rate) {
        m_rate = rate;
        speex_resampler_set_rate(m_resampler, rate, VLAudioEngine::kOutputRate);
    }

    void Mix(float* out, int frames) override {
        if (m_scratch.size() < static_cast<size_t>(frames) * m_channels)
            m_scratch.resize(static_cast<size_t>(frames) * m_channels);
        spx_uint32_t inLen = static_cast<spx_uint32_t>((m_queue.size() - m_read) / m_channels);
        spx_uint32_t outLen = static_cast<spx_uint32_t>(frames);
        if (inLen == 0) {
            outLen = 0;
        } else {
            speex_resampler_process_interleaved_int(m_resampler, m_queue.data() + m_read, &inLen,
                                                    m_scratch.data(), &outLen);
            m_read += static_cast<size_t>(inLen) * m_channels;
        }
        for (spx_uint32_t i = 0; i < outLen; ++i) {
            float l = m_scratch[i * m_channels] * kSampleScale;
            float r = m_channels == 2 ? m_scratch[i * m_channels + 1] * kSampleScale : l;
            out[2 * i] += l;
            out[2 * i + 1] += r;
            m_recent[m_recentPos] = (l + r) * 0.5f;
            m_recentPos = (m_recentPos + 1) % VLAudioEngine::kRecentFrames;
        }
        m_played += outLen;
        // An underrun plays silence until data arrives; the spectrum must show
        // that silence, not the last samples before it.
        for (int i = static_cast<int>(outLen); i < frames; ++i) {
            m_recent[m_recentPos] = 0.0f;
            m_recentPos = (m_recentPos + 1) % VLAudioEngine::kRecentFrames;
        }
    }

    void Recent(float* out) const override {
        for (int k = 0; k < VLAudioEngine::kRecentFrames; ++k)
            out[k] = m_recent[(m_recentPos + k) % VLAudioEngine::kRecentFrames];
    }
    double Length() const override {
        return Position() + static_cast<double>(AvailableBytes()) / 2 / m_channels / m_rate;
    }
    double Position() const override { return static_cast<double>(m_played) / VLAudioEngine::kOutputRate; }
    // A push stream never ends by itself: it waits for more data.
    bool HasData() const override { return true; }
    uint64_t FramesMixed() const override { return m_played; }

private:
    int m_rate;
    int m_channels;
    SpeexResamplerState* m_resampler = nullptr;
    std::vector<int16_t> m_queue;
    size_t m_read = 0;
    std::vector<int16_t> m_scratch;
    float m_recent[VLAudioEngine::kRecentFrames] = {};
    int m_recentPos = 0;
    uint64_t m_played = 0;
};

}  // namespace

VLAudioEngine::VLAudioEngine() = default;

VLAudioEngine::~VLAudioEngine() {
    Free();
}

bool VLAudioEngine::EnsureSdlAudio() {
    if (m_sdlAudioUp)
        return true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        VL_LOG_ERROR("SDL audio cannot start: %s", SDL_GetError());
        return false;
    }
    m_sdlAudioUp = true;
    return true;
}

bool VLAudioEngine::Init() {
    if (m_output != 0)
        return true;
    if (!EnsureSdlAudio())
        return false;
    SDL_AudioSpec want{};
    want.freq = kOutputRate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = kOutputBufferFrames;
    want.callback = &VLAudioEngine::MixCallback;
    want.userdata = this;
    // No changes allowed: SDL converts to whatever the hardware wants, so the
    // mixer always works at 44100 Hz stereo float.
    m_output = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (m_output == 0) {
        VL_LOG_ERROR("no output device: %s", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_sdlAudioUp = false;
        return false;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    const std::string name = driver ? driver : "";
    // A sound card plays the buffer before the one just mixed; the file and
    // null drivers write or drop each buffer the moment they get it.
    m_deviceDelayMs = name == "disk" || name == "dummy" ? 0.0 : 1000.0 * kOutputBufferFrames / kOutputRate;
    VL_LOG_DEBUG("output device open on driver %s", name.c_str());
    SDL_PauseAudioDevice(m_output, 0);
    return true;
}

void VLAudioEngine::Free() {
    RecordStop();
    if (m_output != 0) {
        SDL_CloseAudioDevice(m_output);
        m_output = 0;
    }
    std::map<VLChannel, std::unique_ptr<Channel>> freed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        freed.swap(m_channels);
    }
    freed.clear();  // joins decoders outside the lock
    if (m_sdlAudioUp) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_sdlAudioUp = false;
    }
}

VLChannel VLAudioEngine::AddChannel(std::unique_ptr<Channel> channel) {
    std::lock_guard<std::mutex> lock(m_mutex);
    VLChannel handle = m_nextHandle++;
    if (m_nextHandle == 0)
        m_nextHandle = 1;
    m_channels.emplace(handle, std::move(channel));
    return handle;
}

VLChannel VLAudioEngine::StreamCreateFile(const std::string& path) {
    if (m_output == 0)
        return 0;
    auto stream = VLDecodeStream::Open(path, kOutputRate);
    if (!stream) {
        VL_LOG_ERROR("cannot open %s as sound", path.c_str());
        return 0;
    }
    return AddChannel(std::make_unique<FileChannel>(std::move(stream)));
}

VLChannel VLAudioEngine::StreamCreatePush(int sampleRate, int channels) {
    if (m_output == 0 || sampleRate <= 0 || channels < 1 || channels > 2)
        return 0;
    auto push = std::make_unique<PushChannel>(sampleRate, channels);
    if (!push->Valid())
        return 0;
    return AddChannel(std::move(push));
}

bool VLAudioEngine::ChannelPlay(VLChannel channel) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    if (it == m_channels.end())
        return false;
    it->second->playing = true;
    return true;
}

bool VLAudioEngine::ChannelStop(VLChannel channel) {
    std::unique_ptr<Channel> freed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_channels.find(channel);
        if (it == m_channels.end())
            return false;
        freed = std::move(it->second);
        m_channels.erase(it);
    }
    return true;  // the samples are released outside the lock the mixer waits on
}

bool VLAudioEngine::ChannelIsPlaying(VLChannel channel) const {
    // An unplugged device stops calling the mixer; nothing it held is playing any more.
    if (m_output == 0 || SDL_GetAudioDeviceStatus(m_output) == SDL_AUDIO_STOPPED)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    return it != m_channels.end() && it->second->playing && it->second->HasData();
}

double VLAudioEngine::ClockMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

bool VLAudioEngine::ChannelGetOutputStart(VLChannel channel, double& clockMs) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    if (it == m_channels.end() || !it->second->started)
        return false;
    clockMs = it->second->outputStart;
    return true;
}

double VLAudioEngine::ChannelGetLength(VLChannel channel) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    return it == m_channels.end() ? 0.0 : it->second->Length();
}

double VLAudioEngine::ChannelGetPosition(VLChannel channel) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    return it == m_channels.end() ? 0.0 : it->second->Position();
}

bool VLAudioEngine::ChannelGetRecent(VLChannel channel, float* out) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    // A file that has played out (or a stream not started yet) sounds nothing.
    if (it == m_channels.end() || !it->second->playing)
        return false;
    it->second->Recent(out);
    return true;
}

bool VLAudioEngine::ChannelSetFrequency(VLChannel channel, int sampleRate) {
    if (sampleRate <= 0)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    auto* push = it == m_channels.end() ? nullptr : dynamic_cast<PushChannel*>(it->second.get());
    if (!push)
        return false;
    push->SetRate(sampleRate);
    return true;
}

bool VLAudioEngine::StreamPutData(VLChannel channel, const void* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    auto* push = it == m_channels.end() ? nullptr : dynamic_cast<PushChannel*>(it->second.get());
    if (!push)
        return false;
    push->Put(static_cast<const int16_t*>(data), length / sizeof(int16_t));
    return true;
}

uint32_t VLAudioEngine::StreamGetAvailable(VLChannel channel) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    auto* push = it == m_channels.end() ? nullptr : dynamic_cast<PushChannel*>(it->second.get());
    return push ? push->AvailableBytes() : 0;
}

void VLAudioEngine::SetVolume(float volume) {
    m_volume.store(std::clamp(volume, 0.0f, 1.0f));
}

void VLAudioEngine::MixCallback(void* userdata, uint8_t* stream, int length) {
    // SDL's device thread: it gets its crash-handler signal stack here, once.
    KWThread::PrepareForeignThread();
    auto* self = static_cast<VLAudioEngine*>(userdata);
    // The device takes this buffer the moment the callback returns.
    const double handedOver = ClockMs() + self->m_deviceDelayMs;
    auto* out = reinterpret_cast<float*>(stream);
    const int frames = length / static_cast<int>(2 * sizeof(float));
    std::fill(out, out + frames * 2, 0.0f);
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        for (auto& [handle, channel] : self->m_channels) {
            if (!channel->playing)
                continue;
            channel->Mix(out, frames);
            // Every channel mixes from the start of the buffer, so its first
            // frame is the buffer's first frame.
            if (!channel->started && channel->FramesMixed() > 0) {
                channel->started = true;
                channel->outputStart = handedOver;
            }
        }
    }
    const float volume = self->m_volume.load();
    for (int i = 0; i < frames * 2; ++i)
        out[i] = std::clamp(out[i] * volume, -1.0f, 1.0f);
}

std::vector<VLRecordDevice> VLAudioEngine::ListRecordDevices() {
    std::vector<VLRecordDevice> devices;
    if (!EnsureSdlAudio())
        return devices;
    // The system's default source where the driver can tell it; SDL's first
    // device is only the first it found, not the one the desktop chose.
    std::string defaultName;
    char* name = nullptr;
    SDL_AudioSpec spec{};
    if (SDL_GetDefaultAudioInfo(&name, &spec, 1) == 0 && name) {
        defaultName = name;
        SDL_free(name);
    }
    const int count = SDL_GetNumAudioDevices(1);
    for (int i = 0; i < count; ++i) {
        const char* device = SDL_GetAudioDeviceName(i, 1);
        const std::string text = device ? device : "";
        devices.push_back({text, true, !defaultName.empty() && text == defaultName});
    }
    return devices;
}

bool VLAudioEngine::RecordStart(int device, int sampleRate, int channels, RecordProc proc) {
    RecordStop();
    if (!proc || !EnsureSdlAudio())
        return false;
    const char* name = nullptr;
    if (device >= 0) {
        name = SDL_GetAudioDeviceName(device, 1);
        if (!name)
            VL_LOG_WARN("recording device %d is gone; using the system default", device);
    }
    m_recordProc = std::move(proc);
    m_recordRate = sampleRate;
    m_recordChannels = channels;
    m_recordEnded = false;
    m_recordBytes = 0;
    SDL_AudioSpec want{};
    want.freq = sampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = 512;
    want.callback = &VLAudioEngine::CaptureCallback;
    want.userdata = this;
    m_capture = SDL_OpenAudioDevice(name, 1, &want, nullptr, 0);
    if (m_capture == 0) {
        VL_LOG_ERROR("cannot open the recording device: %s", SDL_GetError());
        m_recordProc = nullptr;
        return false;
    }
    SDL_PauseAudioDevice(m_capture, 0);
    return true;
}

bool VLAudioEngine::RecordStop() {
    if (m_capture == 0)
        return false;
    // Closing joins SDL's capture thread, so the procedure is not running afterwards.
    SDL_CloseAudioDevice(m_capture);
    m_capture = 0;
    m_recordProc = nullptr;
    return true;
}

bool VLAudioEngine::IsRecording() const {
    return m_capture != 0 && !m_recordEnded.load() &&
           SDL_GetAudioDeviceStatus(m_capture) != SDL_AUDIO_STOPPED;
}

double VLAudioEngine::RecordGetSeconds() const {
    if (m_recordRate == 0)
        return 0.0;
    return static_cast<double>(m_recordBytes.load()) / (m_recordRate * m_recordChannels * sizeof(int16_t));
}

uint64_t VLAudioEngine::RecordSecondsToBytes(double seconds) const {
    if (seconds <= 0)
        return 0;
    const uint64_t frames = static_cast<uint64_t>(seconds * m_recordRate);
    return frames * m_recordChannels * sizeof(int16_t);
}

void VLAudioEngine::RecordSetVolume(float volume) {
    m_recordVolume.store(std::clamp(volume, 0.0f, 1.0f));
}

void VLAudioEngine::CaptureCallback(void* userdata, uint8_t* stream, int length) {
    KWThread::PrepareForeignThread();
    auto* self = static_cast<VLAudioEngine*>(userdata);
    if (self->m_recordEnded.load() || length <= 0)
        return;
    const float volume = self->m_recordVolume.load();
    if (volume < 1.0f) {
        auto* samples = reinterpret_cast<int16_t*>(stream);
        for (int i = 0; i < length / 2; ++i)
            samples[i] = static_cast<int16_t>(std::lround(samples[i] * volume));
    }
    self->m_recordBytes += static_cast<uint64_t>(length);
    if (!self->m_recordProc(stream, static_cast<uint32_t>(length)))
        self->m_recordEnded = true;
}

}  // namespace KwLib
