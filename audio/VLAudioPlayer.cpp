#include "audio/VLAudioPlayer.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "audio/VLAudioDecoder.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {
// The monitor's rate is nudged by 1 Hz at a time; these bounds keep a device
// that never settles from bending the student's voice audibly.
constexpr uint32_t kMinMonitorRate = VLAudioPlayer::kCaptureRate * 95 / 100;
constexpr uint32_t kMaxMonitorRate = VLAudioPlayer::kCaptureRate * 105 / 100;
}  // namespace

VLAudioPlayer::VLAudioPlayer(int width, int height) : m_spectrum(width, height) {}

VLAudioPlayer::~VLAudioPlayer() {
    ReleaseAudio();
}

void VLAudioPlayer::SetInvalidateCallback(std::function<void()> invalidate) {
    std::lock_guard<std::mutex> lock(m_spectrumMutex);
    m_invalidate = std::move(invalidate);
}

void VLAudioPlayer::SetSpectrumSize(int width, int height) {
    std::lock_guard<std::mutex> lock(m_spectrumMutex);
    if (width == m_spectrum.Width() && height == m_spectrum.Height())
        return;
    m_spectrum = VLSpectrumBitmap(width, height);
    m_spectrumBlank = true;
    ++m_spectrumFrames;
}

bool VLAudioPlayer::InitAudio() {
    if (m_initialized)
        return true;
    if (!m_engine.Init())
        return false;
    // Chosen afresh each time: after a repair the headset may sit at another index.
    const auto devices = m_engine.ListRecordDevices();
    m_recordDevice = ChooseRecordingDevice(devices);
    VL_LOG_DEBUG("recording device %d of %d", m_recordDevice, static_cast<int>(devices.size()));
    {
        std::lock_guard<std::mutex> lock(m_spectrumMutex);
        m_spectrum.Clear();
    }
    if (m_autoTick)
        StartTicker();
    m_initialized = true;
    return true;
}

void VLAudioPlayer::ReleaseAudio() {
    StopPlayback();
    StopRecord();
    StopTicker();
    m_engine.Free();
    m_monitor = 0;
    m_initialized = false;
    std::function<void()> invalidate;
    {
        std::lock_guard<std::mutex> lock(m_spectrumMutex);
        m_spectrum.Clear();
        m_spectrumBlank = true;
        ++m_spectrumFrames;
        invalidate = m_invalidate;
    }
    if (invalidate)
        invalidate();
}

bool VLAudioPlayer::PlayFile(const std::string& path) {
    StopPlayback();
    const VLChannel channel = m_engine.StreamCreateFile(path);
    if (channel == 0)
        return false;
    m_playChannel = channel;
    return m_engine.ChannelPlay(channel);
}

uint32_t VLAudioPlayer::StartPlayback(const std::string& path) {
    const bool played = PlayFile(path);
    SetMode(ModePlayback);
    if (!played)
        return 0;
    return static_cast<uint32_t>(GetPlayLength() * 1000);
}

void VLAudioPlayer::StopPlayback() {
    const VLChannel channel = m_playChannel.exchange(0);
    if (channel != 0)
        m_engine.ChannelStop(channel);
}

void VLAudioPlayer::SetVolume(int percent) {
    m_engine.SetVolume(std::clamp(percent, 0, 100) / 100.0f);
}

double VLAudioPlayer::GetPlayLength() const {
    return m_engine.ChannelGetLength(m_playChannel.load());
}

bool VLAudioPlayer::GetPlaybackStartFromNow(double& ms) const {
    double start = 0.0;
    if (!m_engine.ChannelGetOutputStart(m_playChannel.load(), start))
        return false;
    ms = start - VLAudioEngine::ClockMs();
    return true;
}

double VLAudioPlayer::GetPlayPosition() const {
    return m_engine.ChannelGetPosition(m_playChannel.load());
}

double VLAudioPlayer::GetFileDuration(const std::string& path) const {
    return VLAudioDecoder::DurationSeconds(path);
}

bool VLAudioPlayer::IsPlaying() const {
    return m_engine.ChannelIsPlaying(m_playChannel.load());
}

int VLAudioPlayer::PlaybackProgressPermille() const {
    const float length = static_cast<float>(GetPlayLength());
    if (length <= 0.0f)
        return 0;
    const float position = static_cast<float>(GetPlayPosition());
    return std::clamp(static_cast<int>(position * 1000.0f / length), 0, 1000);
}

int VLAudioPlayer::RemainingPlaySeconds() const {
    return std::max(0, static_cast<int>(GetPlayLength() - GetPlayPosition()));
}

int VLAudioPlayer::RecordProgressPermille(int limitSeconds) const {
    const int64_t limit = RecordSecondsToBytes(limitSeconds);
    if (limit <= 0)
        return 0;
    return static_cast<int>(std::min<uint64_t>(GetRecordPositionBytes() * 1000 / limit, 1000));
}

std::string VLAudioPlayer::FormatMinutesSeconds(int seconds) {
    seconds = std::max(seconds, 0);
    return KWStringUtils::Format("%02d:%02d", seconds / 60, seconds % 60);
}

bool VLAudioPlayer::StartRecord(const std::string& path) {
    // A recording still running is finished properly rather than thrown away.
    if (m_recording)
        StopRecord();
    m_capturePath = path;
    if (m_monitor.load() == 0 && m_engine.IsInitialized()) {
        const VLChannel monitor = m_engine.StreamCreatePush(kCaptureRate, kCaptureChannels);
        if (monitor != 0) {
            // Start the monitor once one output buffer of data is queued.
            m_prebuffer = static_cast<uint32_t>(kCaptureRate * m_engine.OutputLatencyMs() / 1000 *
                                                kCaptureChannels * (kCaptureBits / 8));
            m_targetLevel = 0;
            m_previousLevel = 0;
            m_monitorRate = kCaptureRate;
            m_monitor = monitor;
        }
    }
    if (!m_recorder.Begin()) {
        VL_LOG_ERROR("no memory for a recording");
        return false;
    }
    m_recorder.SetMaxLength(m_recordLimitBytes);
    m_captureCut = false;
    if (!m_engine.RecordStart(
            m_recordDevice, kCaptureRate, kCaptureChannels,
            [this](const void* data, uint32_t length) { return OnCapture(data, length); })) {
        m_recorder.Discard();
        return false;
    }
    m_recording = true;
    return true;
}

bool VLAudioPlayer::OnCapture(const void* data, uint32_t length) {
    if (!m_recorder.Append(data, length)) {
        // The recording ends here, but what was captured is kept and written at the stop.
        VL_LOG_ERROR("the recording buffer cannot grow past %u bytes", m_recorder.CapturedLength());
        m_captureCut = true;
        return false;
    }
    const VLChannel monitor = m_monitor.load();
    if (m_mode.load() != ModeMonitor || monitor == 0)
        return true;
    m_engine.StreamPutData(monitor, data, length);
    const uint32_t buffered = m_engine.StreamGetAvailable(monitor);
    if (m_prebuffer != 0) {
        if (buffered >= m_prebuffer + length) {
            m_targetLevel = buffered;
            m_previousLevel = 0;
            m_prebuffer = 0;
            m_engine.ChannelPlay(monitor);
        }
    } else if (buffered < m_targetLevel) {
        // Too little queued: play slower so that the backlog builds up again.
        m_monitorRate = std::max(m_monitorRate.load() - 1, kMinMonitorRate);
        m_engine.ChannelSetFrequency(monitor, static_cast<int>(m_monitorRate.load()));
        m_previousLevel = 0;
    } else if (buffered > m_targetLevel && buffered >= m_previousLevel) {
        // The backlog keeps growing: play faster so that the delay does not.
        m_monitorRate = std::min(m_monitorRate.load() + 1, kMaxMonitorRate);
        m_engine.ChannelSetFrequency(monitor, static_cast<int>(m_monitorRate.load()));
        m_previousLevel = buffered;
    }
    return true;
}

int VLAudioPlayer::StopRecord() {
    if (!m_recording)
        return 0;
    const bool stopped = m_engine.RecordStop();
    m_recording = false;
    // A recording that did not reach its file is a lost answer: say so, so the
    // caller does not hand a missing file on for upload.
    if (!m_recorder.Finish(m_capturePath)) {
        VL_LOG_ERROR("the recording could not be written to %s", m_capturePath.c_str());
        return -1;
    }
    // What was captured is on disk, but it ends where the buffer could not grow:
    // not the whole answer, and not to be sent as one.
    if (m_captureCut) {
        VL_LOG_ERROR("the recording %s was cut short and is kept apart", m_capturePath.c_str());
        return kRecordCutShort;
    }
    return stopped ? 1 : 0;
}

void VLAudioPlayer::SetRecordVolume(int percent) {
    m_engine.RecordSetVolume(std::clamp(percent, 0, 100) / 100.0f);
}

double VLAudioPlayer::GetRecordPosition() const {
    return m_recording ? m_engine.RecordGetSeconds() : 0.0;
}

int64_t VLAudioPlayer::RecordSecondsToBytes(int seconds) const {
    return static_cast<int64_t>(seconds) * kCaptureRate * kCaptureChannels * (kCaptureBits / 8);
}

uint64_t VLAudioPlayer::GetRecordPositionBytes() const {
    return m_recording ? m_engine.RecordGetBytes() : 0;
}

bool VLAudioPlayer::IsRecording() const {
    return m_recording && m_engine.IsRecording();
}

void VLAudioPlayer::SpectrumTick() {
    const VLChannel channel = m_mode.load() == ModeMonitor ? m_monitor.load() : m_playChannel.load();
    // Digital silence (a monitor that ran dry, a silent lead-in) is drawn as
    // black without redrawing the picture on every tick.
    const bool sounding =
        channel != 0 && m_engine.ChannelGetRecent(channel, m_samples) &&
        std::any_of(std::begin(m_samples), std::end(m_samples), [](float v) { return v != 0.0f; });
    if (sounding)
        m_fft.Magnitudes(m_samples, m_magnitudes);
    std::function<void()> invalidate;
    {
        std::lock_guard<std::mutex> lock(m_spectrumMutex);
        // A black picture that stays black needs no repaint.
        if (!sounding && m_spectrumBlank)
            return;
        if (sounding)
            m_spectrum.DrawBars(m_magnitudes);
        else
            m_spectrum.Clear();
        m_spectrumBlank = !sounding;
        ++m_spectrumFrames;
        invalidate = m_invalidate;
    }
    if (invalidate)
        invalidate();
}

int VLAudioPlayer::SpectrumWidth() const {
    std::lock_guard<std::mutex> lock(m_spectrumMutex);
    return m_spectrum.Width();
}

int VLAudioPlayer::SpectrumHeight() const {
    std::lock_guard<std::mutex> lock(m_spectrumMutex);
    return m_spectrum.Height();
}

void VLAudioPlayer::CopySpectrum(uint32_t* argb, int strideInPixels) const {
    std::lock_guard<std::mutex> lock(m_spectrumMutex);
    m_spectrum.ToArgb(argb, strideInPixels);
}

VLSpectrumBitmap VLAudioPlayer::SpectrumSnapshot() const {
    std::lock_guard<std::mutex> lock(m_spectrumMutex);
    return m_spectrum;
}

void VLAudioPlayer::StartTicker() {
    if (m_ticker)
        return;
    {
        std::lock_guard<std::mutex> lock(m_tickMutex);
        m_tickStop = false;
    }
    m_ticker = std::make_unique<KWThread>([this] {
        std::unique_lock<std::mutex> lock(m_tickMutex);
        auto next = std::chrono::steady_clock::now();
        while (!m_tickStop) {
            // After a stall, tick once rather than catching up with a burst of ticks.
            next = std::max(next + std::chrono::milliseconds(kTickMs), std::chrono::steady_clock::now());
            if (m_tickCv.wait_until(lock, next, [this] { return m_tickStop; }))
                break;
            lock.unlock();
            SpectrumTick();
            lock.lock();
        }
    });
    if (!m_ticker->Start()) {
        VL_LOG_ERROR("no thread for the spectrum tick; the spectrum stays black");
        m_ticker.reset();
    }
}

void VLAudioPlayer::StopTicker() {
    if (!m_ticker)
        return;
    {
        std::lock_guard<std::mutex> lock(m_tickMutex);
        m_tickStop = true;
    }
    m_tickCv.notify_all();
    m_ticker->Join();
    m_ticker.reset();
}

}  // namespace KwLib
