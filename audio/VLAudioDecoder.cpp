#include "audio/VLAudioDecoder.h"

#include <libopenmpt/libopenmpt.h>
#include <mpg123.h>
#include <sndfile.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/common/KWFile.h"
#include "platform/common/KWLog.h"

namespace KwLib {

namespace {

constexpr uint64_t kChunkFrames = 4096;

struct SndFileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

struct ModuleDestroyer {
    void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using ModulePtr = std::unique_ptr<openmpt_module, ModuleDestroyer>;

struct Mpg123Closer {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Closer>;

// An MP3 file opened for 16-bit output at its own rate, with its length counted
// over every frame. libsndfile stops reading an MP3 at its own length estimate,
// which for a variable-rate file without a length tag can be a fraction of the
// file, so MP3 files are read with libmpg123 itself.
struct Mp3File {
    Mpg123Ptr handle;
    long rate = 0;
    int channels = 0;
    uint64_t frames = 0;
};

std::optional<Mp3File> OpenMp3(const std::string& path) {
    mpg123_init();  // a no-op since libmpg123 1.27, needed before that
    int err = MPG123_OK;
    Mp3File mp3;
    mp3.handle.reset(mpg123_new(nullptr, &err));
    mpg123_handle* h = mp3.handle.get();
    if (!h)
        return std::nullopt;
    // Gapless: the encoder's delay and padding are cut when its tag states them.
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
    int encoding = 0;
    if (mpg123_open(h, path.c_str()) != MPG123_OK ||
        mpg123_getformat(h, &mp3.rate, &mp3.channels, &encoding) != MPG123_OK || mp3.rate <= 0 ||
        mp3.channels < 1 || mp3.channels > 2)
        return std::nullopt;
    // One output format for the whole file, whatever later frames say.
    mpg123_format_none(h);
    if (mpg123_format(h, mp3.rate, mp3.channels, MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_scan(h) != MPG123_OK)
        return std::nullopt;
    const auto length = mpg123_length(h);
    if (length < 0)
        return std::nullopt;
    mp3.frames = static_cast<uint64_t>(length);
    return mp3;
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

bool IsMpeg(const SF_INFO& info) {
    return (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
}

// An MP3 whose first frame carries a Xing, Info or VBRI tag states its exact
// length (and its encoder delay), which libsndfile then reports exactly.
bool Mp3HasLengthTag(const std::string& path) {
    KWFile file;
    if (!file.Create(path, KWFile::ReadOnly))
        return false;
    std::vector<uint8_t> head(64 * 1024);
    size_t got = 0;
    if (!file.Read(head.data(), head.size(), got))
        return false;
    head.resize(got);
    size_t at = 0;
    if (got >= 10 && std::memcmp(head.data(), "ID3", 3) == 0) {
        const size_t size =
            (head[6] & 0x7f) << 21 | (head[7] & 0x7f) << 14 | (head[8] & 0x7f) << 7 | (head[9] & 0x7f);
        at = 10 + size + ((head[5] & 0x10) ? 10 : 0);
    }
    for (; at + 1 < head.size(); ++at)
        if (head[at] == 0xff && (head[at + 1] & 0xe0) == 0xe0)
            break;
    const size_t end = std::min(head.size(), at + 64);
    for (size_t i = at + 4; i + 4 <= end; ++i) {
        if (std::memcmp(&head[i], "Xing", 4) == 0 || std::memcmp(&head[i], "Info", 4) == 0 ||
            std::memcmp(&head[i], "VBRI", 4) == 0)
            return true;
    }
    return false;
}

// Durations counted by decoding, by path; an entry counts only while the
// file's size and modification time are unchanged.
class DurationCache {
public:
    static DurationCache& Instance() {
        static DurationCache cache;
        return cache;
    }
    std::optional<double> Find(const std::string& path) {
        const auto stamp = Stamp(path);
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(path);
        if (!stamp || it == m_entries.end() || it->second.stamp != *stamp)
            return std::nullopt;
        return it->second.seconds;
    }
    void Store(const std::string& path, double seconds) {
        const auto stamp = Stamp(path);
        if (!stamp)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries[path] = {*stamp, seconds};
    }

private:
    using FileStamp = std::pair<uintmax_t, std::filesystem::file_time_type>;
    static std::optional<FileStamp> Stamp(const std::string& path) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        if (ec)
            return std::nullopt;
        const auto time = std::filesystem::last_write_time(path, ec);
        if (ec)
            return std::nullopt;
        return FileStamp{size, time};
    }
    struct Entry {
        FileStamp stamp;
        double seconds;
    };
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};

}  // namespace

// Where the samples come from, at the source's own rate, 1 or 2 channels.
class VLDecodeStream::Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Read(int16_t* out, uint64_t frames) = 0;
    int channels = 0;
    int sampleRate = 0;
    uint64_t estimate = 0;  // frames at sampleRate
    bool countWorthKeeping = false;
};

namespace {

class SndSource : public VLDecodeStream::Source {
public:
    SndSource(SndFilePtr file, const SF_INFO& info) : m_file(std::move(file)), m_srcChannels(info.channels) {
        channels = std::min(info.channels, 2);
        sampleRate = info.samplerate;
        estimate = info.frames > 0 ? static_cast<uint64_t>(info.frames) : 0;
        countWorthKeeping = IsMpeg(info);
        if (m_srcChannels > 2)
            m_scratch.resize(kChunkFrames * m_srcChannels);
    }
    uint64_t Read(int16_t* out, uint64_t frames) override {
        frames = std::min(frames, kChunkFrames);
        if (m_srcChannels <= 2) {
            const sf_count_t got = sf_readf_short(m_file.get(), out, static_cast<sf_count_t>(frames));
            return got > 0 ? static_cast<uint64_t>(got) : 0;
        }
        // Surround files keep their front left and right.
        const sf_count_t got =
            sf_readf_short(m_file.get(), m_scratch.data(), static_cast<sf_count_t>(frames));
        for (sf_count_t i = 0; i < got; ++i) {
            out[2 * i] = m_scratch[i * m_srcChannels];
            out[2 * i + 1] = m_scratch[i * m_srcChannels + 1];
        }
        return got > 0 ? static_cast<uint64_t>(got) : 0;
    }

private:
    SndFilePtr m_file;
    int m_srcChannels;
    std::vector<int16_t> m_scratch;
};

class Mp3Source : public VLDecodeStream::Source {
public:
    explicit Mp3Source(Mp3File mp3) : m_handle(std::move(mp3.handle)) {
        channels = mp3.channels;
        sampleRate = static_cast<int>(mp3.rate);
        estimate = mp3.frames;  // counted, so exact
    }
    uint64_t Read(int16_t* out, uint64_t frames) override {
        frames = std::min(frames, kChunkFrames);
        const size_t frameBytes = static_cast<size_t>(channels) * sizeof(int16_t);
        size_t done = 0;
        // A format change or a frame cut by gapless decoding can give nothing
        // once; the end or an error gives nothing for good.
        for (int attempt = 0; attempt < 4 && done == 0; ++attempt) {
            const int result = mpg123_read(m_handle.get(), out, frames * frameBytes, &done);
            if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
                break;
        }
        return done / frameBytes;
    }

private:
    Mpg123Ptr m_handle;
};

class ModuleSource : public VLDecodeStream::Source {
public:
    ModuleSource(ModulePtr module, int outRate) : m_module(std::move(module)) {
        channels = 2;
        sampleRate = outRate;  // rendered straight at the output rate
        estimate = static_cast<uint64_t>(std::max(0.0, openmpt_module_get_duration_seconds(m_module.get())) *
                                         outRate);
        countWorthKeeping = true;
    }
    uint64_t Read(int16_t* out, uint64_t frames) override {
        return openmpt_module_read_interleaved_stereo(m_module.get(), sampleRate,
                                                      std::min(frames, kChunkFrames), out);
    }

private:
    ModulePtr m_module;
};

}  // namespace

std::unique_ptr<VLDecodeStream> VLDecodeStream::Open(const std::string& path, int sampleRate) {
    if (sampleRate <= 0)
        return nullptr;
    std::unique_ptr<Source> source;
    SF_INFO info;
    if (SndFilePtr file = OpenSndFile(path, info)) {
        if (IsMpeg(info)) {
            if (auto mp3 = OpenMp3(path))
                source = std::make_unique<Mp3Source>(std::move(*mp3));
        }
        if (!source)
            source = std::make_unique<SndSource>(std::move(file), info);
    } else if (ModulePtr module = OpenModule(path)) {
        source = std::make_unique<ModuleSource>(std::move(module), sampleRate);
    } else {
        return nullptr;
    }
    std::unique_ptr<VLDecodeStream> stream(new VLDecodeStream);
    stream->m_path = path;
    stream->m_channels = source->channels;
    stream->m_outRate = sampleRate;
    const auto known = source->countWorthKeeping ? DurationCache::Instance().Find(path) : std::nullopt;
    stream->m_estimate = known
                             ? static_cast<uint64_t>(std::llround(*known * sampleRate))
                             : (source->estimate * sampleRate + source->sampleRate / 2) / source->sampleRate;
    stream->m_maxFrames = static_cast<uint64_t>(kMaxSeconds * sampleRate);
    stream->m_blocks = std::make_unique<std::unique_ptr<int16_t[]>[]>(stream->m_maxFrames / kBlockFrames + 1);
    stream->m_source = std::move(source);
    stream->m_thread = std::make_unique<KWThread>([s = stream.get()] { s->Run(); });
    if (!stream->m_thread->Start()) {
        VL_LOG_ERROR("no thread to decode %s", path.c_str());
        stream->m_thread.reset();
        return nullptr;
    }
    return stream;
}

VLDecodeStream::~VLDecodeStream() {
    m_cancel = true;
    if (m_thread)
        m_thread->Join();
}

uint64_t VLDecodeStream::LengthFrames() const {
    const uint64_t ready = ReadyFrames();
    return Done() ? ready : std::max(ready, m_estimate);
}

void VLDecodeStream::WaitDone() {
    if (m_thread)
        m_thread->Join();
}

void VLDecodeStream::Append(const int16_t* samples, uint64_t frames) {
    frames = std::min(frames, m_maxFrames - m_written);
    while (frames > 0) {
        const uint64_t block = m_written / kBlockFrames;
        const uint64_t offset = m_written % kBlockFrames;
        if (!m_blocks[block])
            m_blocks[block] = std::make_unique<int16_t[]>(kBlockFrames * m_channels);
        const uint64_t n = std::min(frames, kBlockFrames - offset);
        std::memcpy(m_blocks[block].get() + offset * m_channels, samples, n * m_channels * sizeof(int16_t));
        samples += n * m_channels;
        frames -= n;
        m_written += n;
    }
    m_ready.store(m_written, std::memory_order_release);
}

void VLDecodeStream::Run() {
    Source& src = *m_source;
    const int ch = m_channels;
    SpeexResamplerState* resampler = nullptr;
    if (src.sampleRate != m_outRate) {
        int err = 0;
        resampler =
            speex_resampler_init(ch, src.sampleRate, m_outRate, SPEEX_RESAMPLER_QUALITY_DEFAULT, &err);
        if (resampler)
            speex_resampler_skip_zeros(resampler);
    }
    std::vector<int16_t> in(kChunkFrames * ch);
    std::vector<int16_t> out((kChunkFrames * m_outRate / src.sampleRate + 64) * ch);
    uint64_t inTotal = 0;
    bool cut = false;
    // Feeds `frames` input frames through the resampler and appends what comes out.
    auto resample = [&](const int16_t* data, uint64_t frames) {
        while (frames > 0) {
            spx_uint32_t inLen = static_cast<spx_uint32_t>(frames);
            spx_uint32_t outLen = static_cast<spx_uint32_t>(out.size() / ch);
            speex_resampler_process_interleaved_int(resampler, data, &inLen, out.data(), &outLen);
            Append(out.data(), outLen);
            data += static_cast<size_t>(inLen) * ch;
            frames -= inLen;
            if (inLen == 0 && outLen == 0)
                break;
        }
    };
    while (!m_cancel) {
        const uint64_t got = src.Read(in.data(), kChunkFrames);
        if (got == 0)
            break;
        inTotal += got;
        if (resampler)
            resample(in.data(), got);
        else
            Append(in.data(), got);
        if (m_written >= m_maxFrames) {
            VL_LOG_ERROR("%s plays longer than %d s; cut there", m_path.c_str(),
                         static_cast<int>(kMaxSeconds));
            cut = true;
            break;
        }
    }
    if (resampler) {
        // Push the resampler's last samples out with silence, up to exactly
        // round(input frames * output rate / input rate) frames.
        const uint64_t target =
            std::min(m_maxFrames, (inTotal * m_outRate + src.sampleRate / 2) / src.sampleRate);
        std::vector<int16_t> zeros(kChunkFrames * ch, 0);
        for (int guard = 0; !m_cancel && m_written < target && guard < 64; ++guard) {
            spx_uint32_t inLen = kChunkFrames;
            spx_uint32_t outLen =
                static_cast<spx_uint32_t>(std::min<uint64_t>(out.size() / ch, target - m_written));
            speex_resampler_process_interleaved_int(resampler, zeros.data(), &inLen, out.data(), &outLen);
            Append(out.data(), outLen);
        }
        speex_resampler_destroy(resampler);
    }
    if (!m_cancel && !cut && src.countWorthKeeping)
        DurationCache::Instance().Store(m_path, static_cast<double>(m_written) / m_outRate);
    m_source.reset();  // closes the file as soon as it is read
    m_done.store(true, std::memory_order_release);
}

std::optional<VLDecodedAudio> VLAudioDecoder::Decode(const std::string& path, int sampleRate) {
    auto stream = VLDecodeStream::Open(path, sampleRate);
    if (!stream)
        return std::nullopt;
    stream->WaitDone();
    VLDecodedAudio audio;
    audio.channels = stream->Channels();
    audio.sampleRate = sampleRate;
    const uint64_t frames = stream->ReadyFrames();
    audio.samples.resize(frames * audio.channels);
    for (uint64_t f = 0; f < frames; ++f)
        std::memcpy(&audio.samples[f * audio.channels], stream->Frame(f), audio.channels * sizeof(int16_t));
    return audio;
}

namespace {

// A Standard MIDI File read with every length checked against the bytes that are
// there: a melody comes from the paper's server, and a damaged one must give "no
// length", never a read past its end.
class MidiReader {
public:
    MidiReader(const uint8_t* data, size_t size) : m_bytes(data, size) {}

    // Seconds to the last event of the longest track; 0 when the file is damaged.
    double Seconds() {
        if (!Header())
            return 0.0;
        for (int t = 0; t < m_tracks; ++t) {
            size_t begin = 0, length = 0;
            if (!Chunk("MTrk", begin, length) || !Track(begin, begin + length))
                return 0.0;
        }
        return TicksToSeconds(m_lastTick);
    }

private:
    bool Read32(size_t at, uint32_t& value) const {
        if (at + 4 > m_bytes.size())
            return false;
        value = (uint32_t(m_bytes[at]) << 24) | (uint32_t(m_bytes[at + 1]) << 16) |
                (uint32_t(m_bytes[at + 2]) << 8) | m_bytes[at + 3];
        return true;
    }

    // The next chunk of the given kind, skipping unknown ones as the format asks.
    bool Chunk(const char* kind, size_t& begin, size_t& length) {
        while (m_pos + 8 <= m_bytes.size()) {
            uint32_t size = 0;
            Read32(m_pos + 4, size);
            const bool wanted = std::memcmp(&m_bytes[m_pos], kind, 4) == 0;
            begin = m_pos + 8;
            if (size > m_bytes.size() - begin)
                return false;
            length = size;
            m_pos = begin + size;
            if (wanted)
                return true;
        }
        return false;
    }

    bool Header() {
        size_t begin = 0, length = 0;
        if (m_bytes.size() < 4 || std::memcmp(m_bytes.data(), "MThd", 4) != 0 || !Chunk("MThd", begin, length) ||
            length < 6)
            return false;
        const int format = (m_bytes[begin] << 8) | m_bytes[begin + 1];
        m_tracks = (m_bytes[begin + 2] << 8) | m_bytes[begin + 3];
        m_division = (m_bytes[begin + 4] << 8) | m_bytes[begin + 5];
        // Format 2 holds separate songs and SMPTE time has no tempo map: neither is a melody here.
        return format <= 1 && m_tracks > 0 && m_division > 0 && (m_division & 0x8000) == 0;
    }

    bool Number(size_t& at, size_t end, uint32_t& value) const {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (at >= end)
                return false;
            const uint8_t b = m_bytes[at++];
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        return false;
    }

    bool Track(size_t at, size_t end) {
        uint64_t tick = 0;
        uint8_t running = 0;
        while (at < end) {
            uint32_t delta = 0;
            if (!Number(at, end, delta) || at >= end)
                return false;
            tick += delta;
            uint8_t status = m_bytes[at];
            if (status & 0x80)
                ++at;
            else if (running)
                status = running;
            else
                return false;
            if (status == 0xFF) {
                if (at >= end)
                    return false;
                const uint8_t type = m_bytes[at++];
                uint32_t size = 0;
                if (!Number(at, end, size) || size > end - at)
                    return false;
                if (type == 0x51 && size == 3)
                    m_tempos.push_back({tick, (uint32_t(m_bytes[at]) << 16) | (m_bytes[at + 1] << 8) | m_bytes[at + 2]});
                at += size;
                m_lastTick = std::max(m_lastTick, tick);
                if (type == 0x2F)
                    return true;
                continue;
            }
            if (status == 0xF0 || status == 0xF7) {
                uint32_t size = 0;
                if (!Number(at, end, size) || size > end - at)
                    return false;
                at += size;
            } else if (status >= 0x80 && status < 0xF0) {
                running = status;
                const size_t data = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
                if (data > end - at)
                    return false;
                at += data;
            } else {
                return false;
            }
            m_lastTick = std::max(m_lastTick, tick);
        }
        // A track without its end mark is cut short.
        return false;
    }

    double TicksToSeconds(uint64_t ticks) {
        std::stable_sort(m_tempos.begin(), m_tempos.end(),
                         [](const Tempo& a, const Tempo& b) { return a.tick < b.tick; });
        double seconds = 0.0;
        uint64_t at = 0;
        uint32_t usPerQuarter = 500000;  // 120 beats a minute until the map says otherwise
        for (const Tempo& change : m_tempos) {
            if (change.tick >= ticks)
                break;
            seconds += double(change.tick - at) * usPerQuarter / 1e6 / m_division;
            at = change.tick;
            usPerQuarter = change.usPerQuarter;
        }
        return seconds + double(ticks - at) * usPerQuarter / 1e6 / m_division;
    }

    struct Tempo {
        uint64_t tick;
        uint32_t usPerQuarter;
    };
    std::basic_string_view<uint8_t> m_bytes;
    size_t m_pos = 0;
    int m_tracks = 0;
    int m_division = 0;
    uint64_t m_lastTick = 0;
    std::vector<Tempo> m_tempos;
};

}  // namespace

double VLAudioDecoder::MidiDurationOfBytes(const uint8_t* data, size_t size) {
    return data && size ? MidiReader(data, size).Seconds() : 0.0;
}

double VLAudioDecoder::MidiDurationSeconds(const std::string& path) {
    // A melody is a few kilobytes; anything past a few megabytes is not one.
    constexpr long kMaxMidiBytes = 4 << 20;
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char magic[4] = {};
        if (std::fread(magic, 1, sizeof magic, f) == sizeof magic && std::memcmp(magic, "MThd", 4) == 0 &&
            std::fseek(f, 0, SEEK_END) == 0) {
            const long size = std::ftell(f);
            if (size > 0 && size <= kMaxMidiBytes && std::fseek(f, 0, SEEK_SET) == 0) {
                bytes.resize(size_t(size));
                if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size())
                    bytes.clear();
            }
        }
        std::fclose(f);
    }
    if (bytes.empty())
        return 0.0;
    const double seconds = MidiDurationOfBytes(bytes.data(), bytes.size());
    if (seconds <= 0.0)
        VL_LOG_ERROR("the MIDI file %s cannot be read", path.c_str());
    return seconds;
}

double VLAudioDecoder::DurationSeconds(const std::string& path) {
    SF_INFO info;
    if (SndFilePtr file = OpenSndFile(path, info)) {
        if (IsMpeg(info)) {
            // Counting reads every frame header of the file: once per version of it.
            if (auto known = DurationCache::Instance().Find(path))
                return *known;
            if (auto mp3 = OpenMp3(path)) {
                const double seconds = static_cast<double>(mp3->frames) / mp3->rate;
                DurationCache::Instance().Store(path, seconds);
                return seconds;
            }
        }
        if (!IsMpeg(info) || Mp3HasLengthTag(path))
            return static_cast<double>(info.frames) / info.samplerate;
        if (auto known = DurationCache::Instance().Find(path))
            return *known;
        std::vector<int16_t> chunk(kChunkFrames * info.channels);
        uint64_t frames = 0;
        for (sf_count_t got; (got = sf_readf_short(file.get(), chunk.data(), kChunkFrames)) > 0;)
            frames += got;
        const double seconds = static_cast<double>(frames) / info.samplerate;
        DurationCache::Instance().Store(path, seconds);
        return seconds;
    }
    if (auto known = DurationCache::Instance().Find(path))
        return *known;
    // A melody file: no decoder here plays MIDI, but its tempo map gives its length.
    if (const double midi = MidiDurationSeconds(path); midi > 0.0) {
        DurationCache::Instance().Store(path, midi);
        return midi;
    }
    // A module's own duration estimate can differ from what it renders; count
    // the rendered frames (at the output rate) so that this agrees with playing.
    constexpr int kModuleRate = 44100;
    auto stream = VLDecodeStream::Open(path, kModuleRate);
    if (!stream)
        return 0.0;
    stream->WaitDone();
    return static_cast<double>(stream->ReadyFrames()) / kModuleRate;
}

}  // namespace KwLib
