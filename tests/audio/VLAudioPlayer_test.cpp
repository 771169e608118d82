#include "audio/VLAudioPlayer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "audio/VLAudioDecoder.h"
#include "tests/audio/VLAudioTestUtil.h"

namespace KwLib {
namespace {

using namespace AudioTest;

// Stereo float frames that SDL's disk driver wrote.
std::vector<float> ReadOutput(const std::string& path) {
    const auto bytes = ReadBytes(path);
    std::vector<float> out(bytes.size() / sizeof(float));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
    return out;
}

// First frame at or after `from` with a non-zero channel.
size_t FirstSoundingFrame(const std::vector<float>& out, size_t from) {
    for (size_t f = from; f < out.size() / 2; ++f)
        if (out[2 * f] != 0.0f || out[2 * f + 1] != 0.0f)
            return f;
    return out.size() / 2;
}

// Compares the output from frame `at` with the file's samples scaled by `gain`;
// returns the number of frames that differ.
size_t Mismatches(const std::vector<float>& out, size_t at, const std::vector<int16_t>& samples, int channels,
                  float gain = 1.0f) {
    const size_t frames = samples.size() / channels;
    if ((at + frames) * 2 > out.size())
        return frames;
    size_t bad = 0;
    for (size_t i = 0; i < frames; ++i) {
        const float l = samples[i * channels] / 32768.0f * gain;
        const float r = samples[i * channels + channels - 1] / 32768.0f * gain;
        if (std::abs(out[2 * (at + i)] - l) > 1e-6f || std::abs(out[2 * (at + i) + 1] - r) > 1e-6f)
            ++bad;
    }
    return bad;
}

class VLAudioPlayerDisk : public ::testing::Test {
protected:
    void SetUp() override {
        m_out = m_dir.File("out.raw");
        m_in = m_dir.File("in.raw");
        UseDiskDriver(m_out, m_in, 1);
        m_player.SetAutomaticTick(false);
    }
    TempDir m_dir;
    std::string m_out, m_in;
    VLAudioPlayer m_player{232, 137};
};

TEST_F(VLAudioPlayerDisk, PlaysWavAndMp3SamplesWithTheirLength) {
    const std::string wav = m_dir.File("tone.wav");
    const auto tone = Tone(440, 0.5, 44100, 2);
    ASSERT_TRUE(WriteWav(wav, tone, 44100, 2));
    const std::string mp3 = m_dir.File("tone.mp3");
    ASSERT_TRUE(WriteWav(m_dir.File("src.wav"), Tone(660, 0.75, 44100, 2), 44100, 2));
    ASSERT_TRUE(RunCommand("lame --quiet -b 160 '" + m_dir.File("src.wav") + "' '" + mp3 + "'"));
    const auto mp3Samples = ReadSound(mp3);

    ASSERT_TRUE(m_player.InitAudio());
    EXPECT_EQ(m_player.StartPlayback(wav), 500u);
    EXPECT_NE(m_player.PlaybackChannel(), 0u);
    EXPECT_DOUBLE_EQ(m_player.GetPlayLength(), 0.5);
    ASSERT_TRUE(WaitUntil([&] { return !m_player.IsPlaying(); }));
    EXPECT_DOUBLE_EQ(m_player.GetPlayPosition(), 0.5);
    EXPECT_EQ(m_player.PlaybackProgressPermille(), 1000);
    EXPECT_EQ(m_player.RemainingPlaySeconds(), 0);

    const uint32_t mp3Ms = m_player.StartPlayback(mp3);
    EXPECT_NEAR(mp3Ms, 750, 30);
    EXPECT_NEAR(m_player.GetPlayLength(), m_player.GetFileDuration(mp3), 1e-6);
    EXPECT_DOUBLE_EQ(m_player.GetPlayLength(), static_cast<double>(mp3Samples.size() / 2) / 44100);
    ASSERT_TRUE(WaitUntil([&] { return !m_player.IsPlaying(); }));
    EXPECT_DOUBLE_EQ(m_player.GetPlayPosition(), m_player.GetPlayLength());
    m_player.ReleaseAudio();

    const auto out = ReadOutput(m_out);
    const size_t wavAt = FirstSoundingFrame(out, 0);
    EXPECT_EQ(Mismatches(out, wavAt, tone, 2), 0u);
    size_t mp3Lead = 0;
    while (mp3Samples[2 * mp3Lead] == 0 && mp3Samples[2 * mp3Lead + 1] == 0)
        ++mp3Lead;
    const size_t mp3At = FirstSoundingFrame(out, wavAt + tone.size() / 2) - mp3Lead;
    EXPECT_EQ(Mismatches(out, mp3At, mp3Samples, 2), 0u);
    // Nothing sounds after the second file: no file is played in a loop.
    EXPECT_EQ(FirstSoundingFrame(out, mp3At + mp3Samples.size() / 2), out.size() / 2);
}

TEST_F(VLAudioPlayerDisk, ASecondPlayStopsTheFirst) {
    const std::string longFile = m_dir.File("long.wav");
    const std::string shortFile = m_dir.File("short.wav");
    const auto first = Tone(220, 20, 44100, 1, 0.3);
    const auto second = Tone(880, 0.3, 44100, 1, 0.6);
    ASSERT_TRUE(WriteWav(longFile, first, 44100, 1));
    ASSERT_TRUE(WriteWav(shortFile, second, 44100, 1));
    // About 5 times real time, so the first file is still playing when the second starts even on a busy
    // machine.
    UseDiskDriver(m_out, m_in, 5);
    ASSERT_TRUE(m_player.InitAudio());
    ASSERT_GT(m_player.StartPlayback(longFile), 0u);
    const VLChannel firstChannel = m_player.PlaybackChannel();
    ASSERT_TRUE(WaitUntil([&] { return m_player.GetPlayPosition() > 0.05; }));
    ASSERT_GT(m_player.StartPlayback(shortFile), 0u);
    EXPECT_NE(m_player.PlaybackChannel(), firstChannel);
    EXPECT_FALSE(m_player.Engine().ChannelIsPlaying(firstChannel));
    ASSERT_TRUE(WaitUntil([&] { return !m_player.IsPlaying(); }));
    m_player.ReleaseAudio();

    const auto out = ReadOutput(m_out);
    // The second tone is the only one louder than 0.3: find its first loud
    // sample, then check it sounded whole and alone (not mixed with the
    // first), that only part of the first played, and that the first never
    // resumed after it.
    size_t loud = 0;
    while (std::abs(second[loud]) <= 0.31 * 32768)
        ++loud;
    size_t at = 0;
    while (at < out.size() / 2 && std::abs(out[2 * at]) <= 0.31f)
        ++at;
    ASSERT_GE(at, loud);
    at -= loud;
    EXPECT_EQ(Mismatches(out, at, second, 1), 0u);
    EXPECT_EQ(FirstSoundingFrame(out, at + second.size()), out.size() / 2);
    size_t firstPlayed = 0;
    for (size_t f = 0; f < at; ++f)
        if (out[2 * f] != 0.0f)
            ++firstPlayed;
    EXPECT_GT(firstPlayed, 0u);
    EXPECT_LT(firstPlayed, first.size());
}

TEST_F(VLAudioPlayerDisk, VolumeScalesTheOutputAndBadFilesPlayNothing) {
    const std::string wav = m_dir.File("tone.wav");
    const auto tone = Tone(440, 0.2, 44100, 1, 0.8);
    ASSERT_TRUE(WriteWav(wav, tone, 44100, 1));
    const std::string text = m_dir.File("readme.txt");
    WriteBytes(text, "hello", 5);

    // Before InitAudio nothing can play.
    EXPECT_FALSE(m_player.PlayFile(wav));
    ASSERT_TRUE(m_player.InitAudio());
    EXPECT_EQ(m_player.StartPlayback(text), 0u);
    EXPECT_EQ(m_player.PlaybackChannel(), 0u);
    EXPECT_FALSE(m_player.IsPlaying());
    EXPECT_EQ(m_player.GetPlayLength(), 0.0);

    m_player.SetVolume(25);
    ASSERT_GT(m_player.StartPlayback(wav), 0u);
    ASSERT_TRUE(WaitUntil([&] { return !m_player.IsPlaying(); }));
    m_player.ReleaseAudio();
    const auto out = ReadOutput(m_out);
    const size_t at = FirstSoundingFrame(out, 0);
    // The tone's first sample is 0, the second is the first that sounds.
    EXPECT_EQ(Mismatches(out, at - 1, tone, 1, 0.25f), 0u);
}

TEST_F(VLAudioPlayerDisk, RecordsTheInputIntoAWavAcrossBufferSteps) {
    // 300000 bytes of known samples: more than one 200000-byte step of the buffer.
    std::vector<int16_t> input(150000);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<int16_t>((i * 37) % 60000 - 30000);
    WriteBytes(m_in, input.data(), input.size() * 2);
    UseDiskDriver("/dev/null", m_in, 0);

    ASSERT_TRUE(m_player.InitAudio());
    const std::string take = m_dir.File("take.wav");
    ASSERT_TRUE(m_player.StartRecord(take));
    m_player.SetMode(VLAudioPlayer::ModeRecordToFile);
    ASSERT_TRUE(WaitUntil([&] { return m_player.GetRecordPositionBytes() >= 320000; }));
    EXPECT_TRUE(m_player.IsRecording());
    EXPECT_GE(m_player.GetRecordPosition(), 10.0);
    EXPECT_EQ(m_player.RecordSecondsToBytes(10), 320000);
    EXPECT_EQ(m_player.RecordProgressPermille(10), 1000);  // capped once past the limit
    // The recording goes on meanwhile: the progress lies between readings taken before and after.
    const uint64_t before = m_player.GetRecordPositionBytes();
    const int hourProgress = m_player.RecordProgressPermille(3600);
    const uint64_t after = m_player.GetRecordPositionBytes();
    EXPECT_GE(hourProgress, static_cast<int>(before * 1000 / (3600 * 32000)));
    EXPECT_LE(hourProgress, static_cast<int>(after * 1000 / (3600 * 32000)));
    EXPECT_EQ(m_player.StopRecord(), 1);
    EXPECT_FALSE(m_player.IsRecording());
    EXPECT_EQ(m_player.StopRecord(), 0);  // a second stop does nothing

    const auto bytes = ReadBytes(take);
    ASSERT_GT(bytes.size(), 44 + input.size() * 2);
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(Le32(bytes, 40), bytes.size() - 44);
    EXPECT_EQ(Le32(bytes, 24), 16000u);
    EXPECT_EQ(Le16(bytes, 22), 1u);
    EXPECT_EQ(Le16(bytes, 34), 16u);
    EXPECT_EQ(std::memcmp(bytes.data() + 44, input.data(), input.size() * 2), 0);
    // After the input file ends the disk driver delivers silence.
    EXPECT_TRUE(
        std::all_of(bytes.begin() + 44 + input.size() * 2, bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(VLAudioPlayerDisk, MonitoringPlaysTheMicrophoneAndWritesNoFile) {
    std::vector<int16_t> input = Tone(500, 3.0, 16000, 1, 0.5);
    WriteBytes(m_in, input.data(), input.size() * 2);
    ASSERT_TRUE(m_player.InitAudio());
    ASSERT_TRUE(m_player.StartRecord(""));
    m_player.SetMode(VLAudioPlayer::ModeMonitor);
    ASSERT_NE(m_player.MonitorStream(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return m_player.GetRecordPositionBytes() >= input.size() * 2; }));
    ASSERT_TRUE(
        WaitUntil([&] { return m_player.Engine().ChannelGetPosition(m_player.MonitorStream()) > 0.5; }));
    // The latency control nudged the monitor's rate, within a few percent of 16000 Hz.
    EXPECT_GE(m_player.MonitorRate(), 15200u);
    EXPECT_LE(m_player.MonitorRate(), 16800u);
    EXPECT_EQ(m_player.StopRecord(), 1);
    m_player.ReleaseAudio();
    EXPECT_EQ(m_player.MonitorStream(), 0u);

    // Only the driver's own files are in the folder.
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(m_dir.Path()))
        files.push_back(e.path().filename());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"in.raw", "out.raw"}));
    // The microphone was heard: the tone reached the output at about its level.
    const auto out = ReadOutput(m_out);
    float peak = 0;
    for (float v : out)
        peak = std::max(peak, std::abs(v));
    EXPECT_NEAR(peak, 0.5f, 0.05f);
}

TEST_F(VLAudioPlayerDisk, RecordVolumeScalesTheCapturedSamples) {
    std::vector<int16_t> input(16000, 10000);
    WriteBytes(m_in, input.data(), input.size() * 2);
    UseDiskDriver("/dev/null", m_in, 0);
    ASSERT_TRUE(m_player.InitAudio());
    m_player.SetRecordVolume(50);
    const std::string take = m_dir.File("half.wav");
    ASSERT_TRUE(m_player.StartRecord(take));
    m_player.SetMode(VLAudioPlayer::ModeRecordToFile);
    ASSERT_TRUE(WaitUntil([&] { return m_player.GetRecordPositionBytes() >= input.size() * 2; }));
    m_player.ReleaseAudio();  // closing the device still writes the recording
    const auto samples = ReadSound(take);
    ASSERT_GE(samples.size(), input.size());
    EXPECT_TRUE(
        std::all_of(samples.begin(), samples.begin() + input.size(), [](int16_t s) { return s == 5000; }));
}

TEST(VLAudioPlayerDummy, SpectrumShowsWhatPlaysAndIsBlackOtherwise) {
    UseDummyDriver();
    TempDir dir;
    const std::string wav = dir.File("loud.wav");
    ASSERT_TRUE(WriteWav(wav, Tone(1000, 3.0, 44100, 1, 0.9), 44100, 1));
    VLAudioPlayer player(232, 137);
    player.SetAutomaticTick(false);
    int invalidated = 0;
    player.SetInvalidateCallback([&] { ++invalidated; });
    ASSERT_TRUE(player.InitAudio());

    auto lit = [](const VLSpectrumBitmap& b) {
        return std::count_if(b.Pixels().begin(), b.Pixels().end(), [](uint8_t p) { return p != 0; });
    };
    player.SpectrumTick();
    EXPECT_EQ(lit(player.SpectrumSnapshot()), 0);
    EXPECT_EQ(invalidated, 0);  // black stays black: nothing to repaint

    ASSERT_GT(player.StartPlayback(wav), 0u);
    ASSERT_TRUE(WaitUntil([&] { return player.GetPlayPosition() > 0.1; }));
    player.SpectrumTick();
    const VLSpectrumBitmap frame = player.SpectrumSnapshot();
    // 1 kHz sits in bin 46 of 1024 at 44.1 kHz, which belongs to band 15.
    int tallest = 0, tallestBand = -1;
    for (int band = 0; band < VLSpectrumBitmap::kBands; ++band) {
        int h = 0;
        while (h < frame.Height() && frame.At(band * 8, h) != 0)
            ++h;
        if (h > tallest)
            tallest = h, tallestBand = band;
    }
    EXPECT_EQ(tallestBand, 15);
    EXPECT_EQ(tallest, frame.Height());

    EXPECT_EQ(invalidated, 1);
    player.StopPlayback();
    player.SpectrumTick();
    EXPECT_EQ(lit(player.SpectrumSnapshot()), 0);
    EXPECT_EQ(invalidated, 2);

    // In monitor mode the spectrum follows the microphone, silent on this driver.
    ASSERT_TRUE(player.StartRecord(""));
    player.SetMode(VLAudioPlayer::ModeMonitor);
    player.SpectrumTick();
    EXPECT_EQ(lit(player.SpectrumSnapshot()), 0);
    player.ReleaseAudio();
}

TEST(VLAudioPlayerDummy, TickThreadRunsWhileTheAudioIsUp) {
    UseDummyDriver();
    TempDir dir;
    const std::string wav = dir.File("tone.wav");
    ASSERT_TRUE(WriteWav(wav, Tone(500, 5.0, 44100, 1), 44100, 1));
    VLAudioPlayer player(232, 137);
    std::atomic<int> ticks{0};
    player.SetInvalidateCallback([&] { ++ticks; });
    ASSERT_TRUE(player.InitAudio());
    ASSERT_GT(player.StartPlayback(wav), 0u);
    EXPECT_TRUE(WaitUntil([&] { return ticks.load() >= 3; }));
    EXPECT_GE(player.SpectrumFrameCount(), 3u);
    player.ReleaseAudio();
    const int after = ticks.load();
    player.ReleaseAudio();               // twice is harmless
    EXPECT_EQ(ticks.load(), after + 1);  // the final clear only
    EXPECT_FALSE(player.IsInitialized());
    // After a repair the player works again.
    ASSERT_TRUE(player.InitAudio());
    player.ReleaseAudio();
}

TEST(VLAudioPlayer, ProgressTextAndNothingPlaying) {
    EXPECT_EQ(VLAudioPlayer::FormatMinutesSeconds(0), "00:00");
    EXPECT_EQ(VLAudioPlayer::FormatMinutesSeconds(9), "00:09");
    EXPECT_EQ(VLAudioPlayer::FormatMinutesSeconds(754), "12:34");
    EXPECT_EQ(VLAudioPlayer::FormatMinutesSeconds(-3), "00:00");
    VLAudioPlayer idle(232, 137);
    EXPECT_EQ(idle.PlaybackProgressPermille(), 0);
    EXPECT_EQ(idle.RemainingPlaySeconds(), 0);
    EXPECT_EQ(idle.RecordProgressPermille(10), 0);
    EXPECT_FALSE(idle.IsPlaying());
    EXPECT_FALSE(idle.IsRecording());
    EXPECT_EQ(idle.StopRecord(), 0);
}

TEST(ChooseRecordingDevice, SkipsLoopbackAndVirtualDevices) {
    using D = VLRecordDevice;
    EXPECT_EQ(ChooseRecordingDevice({}), -1);
    EXPECT_EQ(ChooseRecordingDevice({D{"Headset Mic", true, true}, D{"Webcam", true, false}}), 0);
    EXPECT_EQ(ChooseRecordingDevice({D{"Webcam", true, false}, D{"Headset Mic", true, true}}), 1);
    // The system default is a virtual device: the first real one is taken instead.
    EXPECT_EQ(ChooseRecordingDevice({D{"Virtual Cable", true, true}, D{"Line In", true, false}}), 1);
    EXPECT_EQ(ChooseRecordingDevice({D{"立体声混音 (Realtek)", true, true}, D{"Mic", true, false}}), 1);
    // Disabled devices are never candidates.
    EXPECT_EQ(ChooseRecordingDevice({D{"Mic", false, true}, D{"Mic 2", true, false}}), 1);
    EXPECT_EQ(ChooseRecordingDevice({D{"Virtual Cable", true, true}, D{"Mic", false, false}}), -1);
}

}  // namespace
}  // namespace KwLib
