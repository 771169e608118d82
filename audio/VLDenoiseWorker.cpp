#include "audio/VLDenoiseWorker.h"

#include <speex/speex_preprocess.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "audio/VLWavFormat.h"
#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"

namespace KwLib {

namespace fs = std::filesystem;

VLDenoiseWorker& VLDenoiseWorker::Instance() {
    static VLDenoiseWorker worker;
    return worker;
}

VLDenoiseWorker::VLDenoiseWorker() = default;

// Static destruction may already have taken the logger down: stop without logging.
VLDenoiseWorker::~VLDenoiseWorker() {
    Shutdown(false);
}

bool VLDenoiseWorker::Init(IKWMessageReceiver* receiver) {
    m_receiver = receiver;
    if (!m_frame)
        m_frame = std::make_unique<int16_t[]>(kFrameSamples);
    if (!m_state) {
        m_state = speex_preprocess_state_init(kFrameSamples, kSampleRate);
        if (!m_state)
            return false;
        int on = 1, off = 0;
        speex_preprocess_ctl(m_state, SPEEX_PREPROCESS_SET_DENOISE, &on);
        speex_preprocess_ctl(m_state, SPEEX_PREPROCESS_SET_AGC, &off);
        speex_preprocess_ctl(m_state, SPEEX_PREPROCESS_SET_DEREVERB, &off);
    }
    return true;
}

bool VLDenoiseWorker::Start() {
    if (m_thread || !m_state)
        return false;
    m_stop = false;
    m_thread = std::make_unique<KWThread>([this] { Run(); });
    if (!m_thread->Start()) {
        m_thread.reset();
        return false;
    }
    return true;
}

bool VLDenoiseWorker::AddFile(const std::string& path) {
    if (!m_thread)
        return false;
    {
        KWMutexGuard lock(m_mutex);
        if (m_stop)
            return false;
        m_files.push_back(path);
    }
    m_wake.notify_all();
    return true;
}

void VLDenoiseWorker::Stop() {
    Shutdown(true);
}

void VLDenoiseWorker::Shutdown(bool log) {
    if (m_thread) {
        {
            // Under the lock so the worker cannot miss the wake-up between its check and its wait.
            KWMutexGuard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread->Join();
        m_thread.reset();
        if (log)
            VL_LOG_DEBUG("VLDenoiseWorker::Release()");
    }
    if (m_state) {
        speex_preprocess_state_destroy(m_state);
        m_state = nullptr;
    }
    m_frame.reset();
}

size_t VLDenoiseWorker::PendingCount() const {
    KWMutexGuard lock(m_mutex);
    return m_files.size();
}

void VLDenoiseWorker::Run() {
    for (;;) {
        std::string path;
        {
            std::unique_lock<KWMutex> lock(m_mutex);
            // Woken by AddFile and Stop; the timeout only bounds a lost wake-up.
            m_wake.wait_for(lock, std::chrono::milliseconds(30),
                            [this] { return m_stop.load() || !m_files.empty(); });
            if (m_stop)
                return;
            if (m_files.empty())
                continue;
            path = std::move(m_files.front());
            m_files.pop_front();
        }
        DenoiseFile(path);
        Post(path);
    }
}

void VLDenoiseWorker::Post(const std::string& path) {
    if (!m_receiver)
        return;
    auto payload = std::make_unique<std::string>(path);
    if (m_receiver->PostMessageW(WM_DENOISE_FINISHED, reinterpret_cast<uintptr_t>(payload.get()), 0))
        (void)payload.release();
    else
        VL_LOG_ERROR("cannot report the cleaned recording %s", path.c_str());
}

bool VLDenoiseWorker::DenoiseFile(const std::string& path) {
    if (!m_state || !m_frame)
        return false;
    const std::string backup = path + ".bak";
    const std::string temp = path + ".denoise";
    if (!WriteCleaned(path, temp)) {
        KWFilePathUtils::RemoveFile(temp);
        return false;
    }
    // Keep the recording as captured under ".bak": a hard link leaves the path
    // holding the original until the cleaned file replaces it in one rename.
    std::error_code ec;
    if (fs::exists(fs::u8path(backup), ec) && !fs::is_directory(fs::u8path(backup), ec))
        fs::remove(fs::u8path(backup), ec);
    bool linked = false;
    if (!fs::exists(fs::u8path(backup), ec)) {
        fs::create_hard_link(fs::u8path(path), fs::u8path(backup), ec);
        linked = !ec;
    }
    if (!linked && !KWFilePathUtils::Rename(path, backup)) {
        VL_LOG_ERROR("cannot keep %s as %s; left as recorded", path.c_str(), backup.c_str());
        KWFilePathUtils::RemoveFile(temp);
        return false;
    }
    if (!KWFilePathUtils::Rename(temp, path)) {
        VL_LOG_ERROR("cannot put the cleaned recording in place of %s", path.c_str());
        KWFilePathUtils::RemoveFile(temp);
        if (!linked)
            KWFilePathUtils::Rename(backup, path);
        return false;
    }
    return true;
}

bool VLDenoiseWorker::WriteCleaned(const std::string& source, const std::string& target) {
    KWFile in;
    if (!in.Create(source, KWFile::ReadOnly)) {
        VL_LOG_ERROR("cannot open the recording %s", source.c_str());
        return false;
    }
    uint8_t header[VLWavFormat::kHeaderSize];
    size_t got = 0;
    const auto format = in.Read(header, sizeof(header), got) ? VLWavFormat::Parse(header, got) : std::nullopt;
    // Cleaning samples of another layout would garble them: such files go on as they are.
    if (!format || !format->IsRecordingFormat()) {
        VL_LOG_ERROR("%s is not a 16 kHz mono 16-bit WAV recording; not cleaned", source.c_str());
        return false;
    }
    KWFile out;
    if (!out.Create(target, KWFile::WriteTruncate)) {
        VL_LOG_ERROR("cannot create %s", target.c_str());
        return false;
    }
    VLWavFormat::ForRecording(0).Write(header);
    if (!out.Write(header, sizeof(header)))
        return false;
    uint32_t dataLength = 0;
    for (;;) {
        size_t bytes = 0;
        if (!in.Read(m_frame.get(), kFrameSamples * sizeof(int16_t), bytes))
            return false;
        const size_t samples = bytes / sizeof(int16_t);
        if (samples == 0)
            break;
        // The suppressor always works on a whole frame; a short last frame is padded with silence.
        if (samples < kFrameSamples)
            std::memset(m_frame.get() + samples, 0, (kFrameSamples - samples) * sizeof(int16_t));
        speex_preprocess_run(m_state, m_frame.get());
        if (!out.Write(m_frame.get(), samples * sizeof(int16_t)))
            return false;
        dataLength += static_cast<uint32_t>(samples * sizeof(int16_t));
        if (samples < kFrameSamples)
            break;
    }
    VLWavFormat::ForRecording(dataLength).Write(header);
    return out.Seek(0) && out.Write(header, sizeof(header)) && out.Sync();
}

}  // namespace KwLib
