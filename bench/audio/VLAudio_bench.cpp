// Speed of the audio work that runs while an exam is going on: cleaning a
// recording on the denoise worker and one frame of the spectrum display.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "audio/VLAudioDecoder.h"
#include "audio/VLAudioPlayer.h"
#include "audio/VLDenoiseWorker.h"
#include "audio/VLSpectrum.h"
#include "audio/VLWavFormat.h"
#include "platform/common/KWFile.h"

namespace {

using namespace KwLib;

std::string TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vlaudiobenchXXXXXX").string();
    return mkdtemp(pattern.data());
}

// A sung-like signal (a gliding tone with harmonics, phrased in notes) over white noise.
std::vector<int16_t> SungWithNoise(double seconds, int rate) {
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<int16_t> s(static_cast<size_t>(seconds * rate));
    double phase = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double f = 220 * std::pow(2.0, std::floor(std::fmod(t, 4.0) * 2) / 12);
        phase += 2 * M_PI * f / rate;
        const double note = std::fmod(t, 0.5) < 0.4 ? 1.0 : 0.0;
        const double v =
            note * 0.3 * (std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase)) +
            noise(rng);
        s[i] = static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
    }
    return s;
}

void WriteRecording(const std::string& path, const std::vector<int16_t>& samples) {
    std::string bytes(VLWavFormat::kHeaderSize + samples.size() * 2, '\0');
    VLWavFormat::ForRecording(static_cast<uint32_t>(samples.size() * 2))
        .Write(reinterpret_cast<uint8_t*>(bytes.data()));
    std::memcpy(bytes.data() + VLWavFormat::kHeaderSize, samples.data(), samples.size() * 2);
    KWFile::WriteAtomic(path, bytes);
}

// One 60 s recording at 16 kHz cleaned in place, as the worker does it
// (reading, 320-sample frames through speexdsp, writing, keeping the ".bak").
void BM_DenoiseSixtySeconds(benchmark::State& state) {
    constexpr double kSeconds = 60;
    const std::string dir = TempFolder();
    const std::string path = dir + "/take.wav";
    WriteRecording(path, SungWithNoise(kSeconds, 16000));
    VLDenoiseWorker worker;
    worker.Init(nullptr);
    for (auto _ : state) {
        if (!worker.DenoiseFile(path))
            state.SkipWithError("denoise failed");
    }
    // Audio seconds cleaned per CPU second of the calling thread: the real-time
    // factor on one core (the wall-clock column adds the final fsync and any load).
    state.counters["realtime_x"] =
        benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DenoiseSixtySeconds)->Unit(benchmark::kMillisecond);

// One spectrum tick of the player while a file plays: take the latest 2048
// samples, FFT them and redraw the 28 bars.
void BM_SpectrumTick(benchmark::State& state) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const std::string dir = TempFolder();
    const std::string path = dir + "/music.wav";
    WriteRecording(path, SungWithNoise(30, 16000));
    VLAudioPlayer player(232, 137);
    player.SetAutomaticTick(false);
    if (!player.InitAudio() || player.StartPlayback(path) == 0) {
        state.SkipWithError("cannot play");
        return;
    }
    for (auto _ : state)
        player.SpectrumTick();
    player.ReleaseAudio();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SpectrumTick)->Unit(benchmark::kMicrosecond);

// The two halves of a tick on their own.
void BM_Fft2048(benchmark::State& state) {
    VLFft2048 fft;
    std::vector<float> samples(VLFft2048::kSize), mags(VLFft2048::kBins);
    for (int i = 0; i < VLFft2048::kSize; ++i)
        samples[i] = std::sin(i * 0.1f) * 0.5f;
    for (auto _ : state) {
        fft.Magnitudes(samples.data(), mags.data());
        benchmark::DoNotOptimize(mags.data());
    }
}
BENCHMARK(BM_Fft2048)->Unit(benchmark::kMicrosecond);

void BM_DrawBars(benchmark::State& state) {
    VLSpectrumBitmap bitmap(232, 137);
    std::vector<float> mags(VLFft2048::kBins, 0.02f);
    for (auto _ : state) {
        bitmap.DrawBars(mags.data());
        benchmark::DoNotOptimize(bitmap.Pixels().data());
    }
}
BENCHMARK(BM_DrawBars)->Unit(benchmark::kMicrosecond);

// A 3-minute MP3 accompaniment at 44.1 kHz stereo, made once.
const std::string& ThreeMinuteMp3() {
    static const std::string path = [] {
        const std::string dir = TempFolder();
        const std::string raw = dir + "/song.wav", mp3 = dir + "/song.mp3";
        const auto mono = SungWithNoise(180, 44100);
        std::vector<int16_t> stereo(mono.size() * 2);
        for (size_t i = 0; i < mono.size(); ++i)
            stereo[2 * i] = stereo[2 * i + 1] = mono[i];
        std::string bytes(VLWavFormat::kHeaderSize + stereo.size() * 2, '\0');
        VLWavFormat header = VLWavFormat::ForRecording(static_cast<uint32_t>(stereo.size() * 2));
        header.sampleRate = 44100;
        header.channels = 2;
        header.Write(reinterpret_cast<uint8_t*>(bytes.data()));
        std::memcpy(bytes.data() + VLWavFormat::kHeaderSize, stereo.data(), stereo.size() * 2);
        KWFile::WriteAtomic(raw, bytes);
        if (std::system(("lame --quiet -b 192 '" + raw + "' '" + mp3 + "'").c_str()) != 0)
            return std::string();
        return mp3;
    }();
    return path;
}

// What the UI thread waits for when a file starts: opening it and having the
// first 100 ms decoded; the rest decodes on the stream's own thread.
void BM_OpenThreeMinuteMp3UntilFirstSound(benchmark::State& state) {
    if (ThreeMinuteMp3().empty())
        return state.SkipWithError("lame failed");
    for (auto _ : state) {
        auto stream = VLDecodeStream::Open(ThreeMinuteMp3(), 44100);
        while (stream->ReadyFrames() < 4410 && !stream->Done())
            std::this_thread::yield();
        state.PauseTiming();
        stream.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenThreeMinuteMp3UntilFirstSound)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole file, as the decoder thread does it in the background.
void BM_DecodeThreeMinuteMp3(benchmark::State& state) {
    if (ThreeMinuteMp3().empty())
        return state.SkipWithError("lame failed");
    for (auto _ : state) {
        auto audio = VLAudioDecoder::Decode(ThreeMinuteMp3(), 44100);
        benchmark::DoNotOptimize(audio);
    }
}
BENCHMARK(BM_DecodeThreeMinuteMp3)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
