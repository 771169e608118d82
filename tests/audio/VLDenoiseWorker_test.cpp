#include "audio/VLDenoiseWorker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>

#include "audio/VLAudioDecoder.h"
#include "tests/audio/VLAudioTestUtil.h"

namespace KwLib {
namespace {

using namespace AudioTest;
using namespace std::chrono_literals;

// Takes the next 1034 message and returns the path it carries (the receiver owns it).
std::optional<std::string> TakeReport(KWMessageQueue& queue, std::chrono::milliseconds timeout = 20s) {
    auto m = queue.Take(timeout);
    if (!m)
        return std::nullopt;
    EXPECT_EQ(m->message, 1034u);
    EXPECT_EQ(m->lParam, 0);
    std::unique_ptr<std::string> path(reinterpret_cast<std::string*>(m->wParam));
    return *path;
}

std::vector<int16_t> Noise(size_t count, double rms, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> dist(0.0, rms * 32767);
    std::vector<int16_t> s(count);
    for (auto& v : s)
        v = static_cast<int16_t>(std::clamp(std::lround(dist(rng)), -32768L, 32767L));
    return s;
}

double LevelDb(const std::vector<int16_t>& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return 10 * std::log10(sum / (to - from) / (32768.0 * 32768.0) + 1e-20);
}

class VLDenoiseWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_worker.Init(&m_queue));
        ASSERT_TRUE(m_worker.Start());
    }
    void TearDown() override { m_worker.Stop(); }
    TempDir m_dir;
    KWMessageQueue m_queue;
    VLDenoiseWorker m_worker;
};

TEST_F(VLDenoiseWorkerTest, CleansAWholeFileAndKeepsTheOriginalAsBak) {
    // Not a multiple of 320 samples: the last, short frame must be written too.
    const auto samples = Tone(300, 1.0, 16000, 1, 0.3);
    std::vector<int16_t> input(samples.begin(), samples.begin() + 16000 - 197);
    const std::string path = m_dir.File("q1.wav");
    ASSERT_TRUE(WriteWav(path, input, 16000, 1));
    const auto original = ReadBytes(path);

    m_worker.AddFile(path);
    EXPECT_EQ(TakeReport(m_queue), path);

    EXPECT_EQ(ReadBytes(path + ".bak"), original);
    const auto cleaned = ReadBytes(path);
    ASSERT_EQ(cleaned.size(), original.size());
    EXPECT_EQ(Le32(cleaned, 4), cleaned.size() - 8);
    EXPECT_EQ(Le32(cleaned, 40), input.size() * 2);
    EXPECT_EQ(Le32(cleaned, 24), 16000u);
    EXPECT_EQ(Le16(cleaned, 22), 1u);
    EXPECT_EQ(Le16(cleaned, 34), 16u);
    EXPECT_NE(cleaned, original);
    // No working files are left behind.
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(m_dir.Path()))
        ++files;
    EXPECT_EQ(files, 2u);
}

TEST_F(VLDenoiseWorkerTest, ReportsEveryFileOnceInTheOrderAdded) {
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(m_dir.File("take" + std::to_string(i) + ".wav"));
        ASSERT_TRUE(WriteWav(paths.back(), Noise(16000 * (3 - i), 0.1, i), 16000, 1));
    }
    // A file that is missing and one that is not a 16 kHz recording are reported too, and left alone.
    paths.push_back(m_dir.File("absent.wav"));
    paths.push_back(m_dir.File("cd.wav"));
    ASSERT_TRUE(WriteWav(paths.back(), Tone(440, 0.2, 44100, 2), 44100, 2));
    const auto cdBytes = ReadBytes(paths.back());
    for (const auto& p : paths)
        m_worker.AddFile(p);

    for (const auto& p : paths)
        EXPECT_EQ(TakeReport(m_queue), p);
    EXPECT_FALSE(m_queue.Take(100ms));
    EXPECT_EQ(m_worker.PendingCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists(paths[3]));
    EXPECT_FALSE(std::filesystem::exists(paths[3] + ".bak"));
    EXPECT_EQ(ReadBytes(paths[4]), cdBytes);
    EXPECT_TRUE(std::filesystem::exists(paths[0] + ".bak"));
}

TEST_F(VLDenoiseWorkerTest, AFailedBackupLeavesTheRecordingAndStillReportsIt) {
    const std::string path = m_dir.File("q2.wav");
    ASSERT_TRUE(WriteWav(path, Noise(8000, 0.2, 7), 16000, 1));
    const auto original = ReadBytes(path);
    // A folder in the way of the ".bak" name makes the rename fail.
    std::filesystem::create_directories(path + ".bak/keep");

    m_worker.AddFile(path);
    EXPECT_EQ(TakeReport(m_queue), path);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_TRUE(std::filesystem::is_directory(path + ".bak"));
    EXPECT_FALSE(std::filesystem::exists(path + ".denoise"));

    // An older ".bak" file from an earlier take is replaced by this take's original.
    std::filesystem::remove_all(path + ".bak");
    WriteBytes(path + ".bak", "old", 3);
    m_worker.AddFile(path);
    EXPECT_EQ(TakeReport(m_queue), path);
    EXPECT_EQ(ReadBytes(path + ".bak"), original);
}

TEST(VLDenoiseWorker, OnlyARunningWorkerTakesFilesAndStopLeavesQueuedOnesAsRecorded) {
    TempDir dir;
    KWMessageQueue queue;
    VLDenoiseWorker worker;
    ASSERT_TRUE(worker.Init(&queue));
    // Not started: a file would wait for ever, so it is refused and the caller uploads it as it is.
    const std::string path = dir.File("late.wav");
    ASSERT_TRUE(WriteWav(path, Noise(3200, 0.1, 3), 16000, 1));
    const auto original = ReadBytes(path);
    EXPECT_FALSE(worker.AddFile(path));
    EXPECT_EQ(worker.PendingCount(), 0u);
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.AddFile(path));
    EXPECT_EQ(TakeReport(queue), path);
    worker.AddFile(dir.File("never.wav"));
    worker.Stop();
    EXPECT_FALSE(worker.AddFile(path));
    // The worker may or may not have reached the last file before the stop; a report it sent is freed here.
    while (queue.Size() > 0)
        TakeReport(queue);
    EXPECT_FALSE(worker.Start());  // needs Init again
    EXPECT_NE(ReadBytes(path), original);
}

// Speech from espeak-ng with white noise added: the noise-only stretches must
// lose at least 10 dB while the voice keeps most of its level.
TEST(VLDenoiseQuality, SpeechWithWhiteNoise) {
    TempDir dir;
    const std::string spoken = dir.File("spoken.wav");
    ASSERT_TRUE(
        RunCommand("espeak-ng -v en -s 150 -w '" + spoken +
                   "' 'Please sing the melody you have just heard, then wait for the next question.'"));
    auto speech = VLAudioDecoder::Decode(spoken, 16000);
    ASSERT_TRUE(speech);
    ASSERT_EQ(speech->channels, 1);

    const size_t lead = 3 * 16000, tail = 2 * 16000;
    std::vector<int16_t> clean(lead, 0);
    clean.insert(clean.end(), speech->samples.begin(), speech->samples.end());
    clean.resize(clean.size() + tail, 0);
    const auto noise = Noise(clean.size(), 0.02, 42);  // about -34 dBFS
    std::vector<int16_t> noisy(clean.size());
    for (size_t i = 0; i < clean.size(); ++i)
        noisy[i] = static_cast<int16_t>(std::clamp(clean[i] + noise[i], -32768, 32767));
    const std::string path = dir.File("sung.wav");
    ASSERT_TRUE(WriteWav(path, noisy, 16000, 1));

    KWMessageQueue queue;
    VLDenoiseWorker worker;
    ASSERT_TRUE(worker.Init(&queue));
    ASSERT_TRUE(worker.DenoiseFile(path));
    const auto out = ReadSound(path);
    ASSERT_EQ(out.size(), noisy.size());

    // Noise-only stretches. A fresh suppressor needs about 1.5 s to learn the
    // noise (the worker keeps its state, so only its first recording pays this).
    const size_t learnt = 24000;
    const size_t voiceEnd = lead + speech->samples.size();
    const double learningBefore = LevelDb(noisy, 0, learnt);
    const double learningAfter = LevelDb(out, 0, learnt);
    const double noiseBefore = LevelDb(noisy, learnt, lead);
    const double noiseAfter = LevelDb(out, learnt, lead);
    const double tailBefore = LevelDb(noisy, voiceEnd + 1600, noisy.size());
    const double tailAfter = LevelDb(out, voiceEnd + 1600, out.size());
    const double voiceClean = LevelDb(clean, lead, voiceEnd);
    const double voiceNoisy = LevelDb(noisy, lead, voiceEnd);
    const double voiceAfter = LevelDb(out, lead, voiceEnd);
    std::printf("first 1.5 s while learning: %.1f dB -> %.1f dB (%.1f dB less)\n", learningBefore,
                learningAfter, learningBefore - learningAfter);
    std::printf("noise-only lead: %.1f dB -> %.1f dB (%.1f dB less)\n", noiseBefore, noiseAfter,
                noiseBefore - noiseAfter);
    std::printf("noise-only tail: %.1f dB -> %.1f dB (%.1f dB less)\n", tailBefore, tailAfter,
                tailBefore - tailAfter);
    std::printf("voice: clean %.1f dB, noisy %.1f dB, cleaned %.1f dB\n", voiceClean, voiceNoisy, voiceAfter);
    EXPECT_GE(noiseBefore - noiseAfter, 10.0);
    EXPECT_GE(tailBefore - tailAfter, 10.0);
    EXPECT_GT(voiceAfter, voiceClean - 3.0);
}

}  // namespace
}  // namespace KwLib
