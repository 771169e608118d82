#include "audio/VLAudioDecoder.h"

#include <libopenmpt/libopenmpt.h>
#include <sndfile.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <memory>

#include "platform/common/KWFile.h"
#include "platform/common/KWLog.h"

namespace KwLib {

namespace {

struct SndFileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

struct ModuleDestroyer {
    void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using ModulePtr = std::unique_ptr<openmpt_module, ModuleDestroyer>;

constexpr int kChunkFrames = 4096;

double MaxFramesAt(int sampleRate) {
    return VLAudioDecoder::kMaxSeconds * sampleRate;
}

SndFilePtr OpenSndFile(const std::string& path, SF_INFO& info) {
    info = SF_INFO{};
    SndFilePtr file(sf_open(path.c_str(), SFM_READ, &info));
    if (file && (info.channels <= 0 || info.samplerate <= 0))
        file.reset();
    return file;
}

ModulePtr OpenModule(const std::string& path) {
    auto bytes = KWFile::ReadAll(path);
    if (!bytes || bytes->empty())
        return nullptr;
    return ModulePtr(openmpt_module_create_from_memory2(bytes->data(), bytes->size(), openmpt_log_func_silent,
                                                        nullptr, nullptr, nullptr, nullptr, nullptr,
                                                        nullptr));
}

// Resamples interleaved samples; the output has exactly round(frames * out / in) frames.
std::vector<int16_t> Resample(const std::vector<int16_t>& in, int channels, int inRate, int outRate) {
    const uint64_t inFrames = in.size() / channels;
    const uint64_t outFrames = (inFrames * outRate + inRate / 2) / inRate;
    std::vector<int16_t> out(outFrames * channels);
    int err = 0;
    SpeexResamplerState* st =
        speex_resampler_init(channels, inRate, outRate, SPEEX_RESAMPLER_QUALITY_DEFAULT, &err);
    if (!st)
        return out;
    speex_resampler_skip_zeros(st);
    uint64_t inDone = 0, outDone = 0;
    std::vector<int16_t> zeros(static_cast<size_t>(kChunkFrames) * channels, 0);
    while (outDone < outFrames) {
        const bool flushing = inDone >= inFrames;
        spx_uint32_t inLen =
            flushing ? kChunkFrames
                     : static_cast<spx_uint32_t>(std::min<uint64_t>(inFrames - inDone, kChunkFrames));
        spx_uint32_t outLen = static_cast<spx_uint32_t>(std::min<uint64_t>(outFrames - outDone, 1u << 20));
        const int16_t* src = flushing ? zeros.data() : in.data() + inDone * channels;
        speex_resampler_process_interleaved_int(st, src, &inLen, out.data() + outDone * channels, &outLen);
        if (!flushing)
            inDone += inLen;
        outDone += outLen;
        if (flushing && outLen == 0)
            break;
    }
    speex_resampler_destroy(st);
    return out;
}

bool DecodeSndFile(const std::string& path, VLDecodedAudio& audio) {
    SF_INFO info;
    SndFilePtr file = OpenSndFile(path, info);
    if (!file)
        return false;
    const int srcChannels = info.channels;
    audio.channels = std::min(srcChannels, 2);
    audio.sampleRate = info.samplerate;
    const uint64_t maxFrames = static_cast<uint64_t>(MaxFramesAt(info.samplerate));
    std::vector<int16_t> chunk(static_cast<size_t>(kChunkFrames) * srcChannels);
    if (info.frames > 0 && static_cast<uint64_t>(info.frames) <= maxFrames)
        audio.samples.reserve(static_cast<size_t>(info.frames) * audio.channels);
    uint64_t frames = 0;
    for (;;) {
        const sf_count_t got = sf_readf_short(file.get(), chunk.data(), kChunkFrames);
        if (got <= 0)
            break;
        frames += got;
        if (frames > maxFrames) {
            VL_LOG_ERROR("%s is longer than %d s, not loaded", path.c_str(),
                         static_cast<int>(VLAudioDecoder::kMaxSeconds));
            return false;
        }
        if (srcChannels == audio.channels) {
            audio.samples.insert(audio.samples.end(), chunk.begin(), chunk.begin() + got * srcChannels);
        } else {
            // Surround files keep their front left and right.
            for (sf_count_t i = 0; i < got; ++i)
                for (int c = 0; c < audio.channels; ++c)
                    audio.samples.push_back(chunk[i * srcChannels + c]);
        }
    }
    return true;
}

bool DecodeModule(const std::string& path, int sampleRate, VLDecodedAudio& audio) {
    ModulePtr module = OpenModule(path);
    if (!module)
        return false;
    audio.channels = 2;
    audio.sampleRate = sampleRate;
    const uint64_t maxFrames = static_cast<uint64_t>(MaxFramesAt(sampleRate));
    std::vector<int16_t> chunk(static_cast<size_t>(kChunkFrames) * 2);
    for (;;) {
        const size_t got =
            openmpt_module_read_interleaved_stereo(module.get(), sampleRate, kChunkFrames, chunk.data());
        if (got == 0)
            break;
        audio.samples.insert(audio.samples.end(), chunk.begin(), chunk.begin() + got * 2);
        if (audio.Frames() > maxFrames) {
            VL_LOG_ERROR("module %s plays longer than %d s, not loaded", path.c_str(),
                         static_cast<int>(VLAudioDecoder::kMaxSeconds));
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<VLDecodedAudio> VLAudioDecoder::Decode(const std::string& path, int sampleRate) {
    VLDecodedAudio audio;
    if (DecodeSndFile(path, audio)) {
        if (audio.sampleRate != sampleRate && !audio.samples.empty()) {
            audio.samples = Resample(audio.samples, audio.channels, audio.sampleRate, sampleRate);
        }
        audio.sampleRate = sampleRate;
        return audio;
    }
    audio = VLDecodedAudio{};
    if (DecodeModule(path, sampleRate, audio))
        return audio;
    return std::nullopt;
}

double VLAudioDecoder::DurationSeconds(const std::string& path) {
    SF_INFO info;
    if (SndFilePtr file = OpenSndFile(path, info)) {
        if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG) {
            return static_cast<double>(info.frames) / info.samplerate;
        }
        std::vector<short> chunk(static_cast<size_t>(kChunkFrames) * info.channels);
        uint64_t frames = 0;
        for (sf_count_t got; (got = sf_readf_short(file.get(), chunk.data(), kChunkFrames)) > 0;)
            frames += got;
        return static_cast<double>(frames) / info.samplerate;
    }
    // A module's own duration estimate can differ from what it renders; count
    // the rendered frames so that this agrees with the playing length.
    VLDecodedAudio module;
    constexpr int kRate = 44100;
    if (DecodeModule(path, kRate, module))
        return module.Seconds();
    return 0.0;
}

}  // namespace KwLib
