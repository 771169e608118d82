#pragma once
// Helpers shared by the audio tests: temporary folders, generated sound files
// and SDL's file-backed audio drivers.
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace KwLib::AudioTest {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vlaudioXXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const {
        return (std::filesystem::path(m_path) / name).string();
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Sets SDL's audio driver. The disk driver writes output to `outFile` and reads
// capture from `inFile`, waiting `delayMs` per buffer. With 0 it runs as fast as
// it can, also writing silence at that speed while nothing plays: tests that
// read the output back use 1 ms (about 20 times real time) to keep it small.
inline void UseDiskDriver(const std::string& outFile, const std::string& inFile, int delayMs = 0) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", outFile.c_str(), 1);
    setenv("SDL_DISKAUDIOFILEIN", inFile.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", std::to_string(delayMs).c_str(), 1);
}

inline void UseDummyDriver() {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// Interleaved 16-bit samples of a sine at `hz`.
inline std::vector<int16_t> Tone(double hz, double seconds, int rate, int channels = 1,
                                 double amplitude = 0.5) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> s(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * channels + c] =
                static_cast<int16_t>(std::lround(amplitude * 32767 * std::sin(2 * M_PI * hz * i / rate + c)));
    return s;
}

inline bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, int rate, int channels) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    const bool ok = sf_writef_short(f, samples.data(), frames) == frames;
    sf_close(f);
    return ok;
}

inline std::vector<int16_t> ReadSound(const std::string& path, SF_INFO* infoOut = nullptr) {
    SF_INFO info{};
    std::vector<int16_t> all;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return all;
    std::vector<int16_t> chunk(4096 * info.channels);
    for (sf_count_t got; (got = sf_readf_short(f, chunk.data(), 4096)) > 0;)
        all.insert(all.end(), chunk.begin(), chunk.begin() + got * info.channels);
    sf_close(f);
    if (infoOut)
        *infoOut = info;
    return all;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// Polls a condition that audio threads make true; false after `timeout`.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs a shell command line built from trusted test paths; true on exit status 0.
inline bool RunCommand(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// A one-pattern ProTracker module: a square-wave note on row 0 of a 64-row
// pattern at speed 6 and 125 BPM, which plays for 64 * 6 * 20 ms = 7.68 s.
inline std::vector<uint8_t> MakeModule() {
    std::vector<uint8_t> m(20 + 31 * 30 + 2 + 128 + 4, 0);
    std::copy_n("vltest", 6, m.begin());
    const uint16_t sampleWords = 1000;
    uint8_t* s1 = m.data() + 20;
    std::copy_n("square", 6, s1);
    s1[22] = sampleWords >> 8;
    s1[23] = sampleWords & 0xff;
    s1[25] = 64;  // volume
    s1[29] = 1;   // no loop
    size_t at = 20 + 31 * 30;
    m[at] = 1;  // song length
    m[at + 1] = 127;
    std::copy_n("M.K.", 4, m.begin() + at + 2 + 128);
    std::vector<uint8_t> pattern(64 * 4 * 4, 0);
    const uint16_t period = 428;
    pattern[0] = static_cast<uint8_t>((1 & 0xf0) | (period >> 8));
    pattern[1] = period & 0xff;
    pattern[2] = (1 & 0x0f) << 4;
    m.insert(m.end(), pattern.begin(), pattern.end());
    for (int i = 0; i < sampleWords * 2; ++i)
        m.push_back(static_cast<uint8_t>((i / 16) % 2 ? 100 : -100));
    return m;
}

}  // namespace KwLib::AudioTest
