#include "audio/VLAudioPlayer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "audio/VLAudioDecoder.h"
#include "tests/audio/VLAudioTestUtil.h"
#include "tests/platform/common/KWThreadHookProbe.h"

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

// A stereo frame as the output holds it.
using Frame = std::pair<float, float>;

// The frames of the output that sound (not both channels 0). Files play while
// they are decoded, so on a loaded machine the driver may write silence in the
// middle of a file; what matters is what sounded, in order.
std::vector<Frame> Sounding(const std::vector<float>& out) {
    std::vector<Frame> frames;
    for (size_t f = 0; f + 1 < out.size(); f += 2)
        if (out[f] != 0.0f || out[f + 1] != 0.0f)
            frames.emplace_back(out[f], out[f + 1]);
    return frames;
}

// The sounding frames of a file's samples as the mixer outputs them, scaled by `gain`.
std::vector<Frame> Sounding(const std::vector<int16_t>& samples, int channels, float gain = 1.0f) {
    std::vector<Frame> frames;
    for (size_t i = 0; i + channels <= samples.size(); i += channels) {
        const float l = samples[i] / 32768.0f * gain;
        const float r = samples[i + channels - 1] / 32768.0f * gain;
        if (l != 0.0f || r != 0.0f)
            frames.emplace_back(l, r);
    }
    return frames;
}

// How many frames of `actual` from `at` differ from `expected` by more than
// `tolerance` (all of them when `actual` is too short).
size_t Mismatches(const std::vector<Frame>& actual, size_t at, const std::vector<Frame>& expected,
                  float tolerance = 1e-6f) {
    if (at + expected.size() > actual.size())
        return expected.size();
    size_t bad = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::abs(actual[at + i].first - expected[i].first) > tolerance ||
            std::abs(actual[at + i].second - expected[i].second) > tolerance)
            ++bad;
    return bad;
}

// Two MP3 decoders may round a sample differently by one step.
constexpr float kOneStep = 1.5f / 32768;

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

    // Exactly the WAV, then the MP3, sounded; nothing after them (no file
    // is played in a loop).
    const auto sounded = Sounding(ReadOutput(m_out));
    const auto wavFrames = Sounding(tone, 2);
    const auto mp3Frames = Sounding(mp3Samples, 2);
    EXPECT_EQ(sounded.size(), wavFrames.size() + mp3Frames.size());
    EXPECT_EQ(Mismatches(sounded, 0, wavFrames), 0u);
    EXPECT_EQ(Mismatches(sounded, wavFrames.size(), mp3Frames, kOneStep), 0u);
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

    // A part of the first file sounded, then the whole second file alone
    // (not mixed with the first), and the first never resumed.
    const auto sounded = Sounding(ReadOutput(m_out));
    const auto firstFrames = Sounding(first, 1);
    const auto secondFrames = Sounding(second, 1);
    ASSERT_GT(sounded.size(), secondFrames.size());
    const size_t firstPlayed = sounded.size() - secondFrames.size();
    EXPECT_LT(firstPlayed, firstFrames.size());
    EXPECT_EQ(
        Mismatches(sounded, 0, std::vector<Frame>(firstFrames.begin(), firstFrames.begin() + firstPlayed)),
        0u);
    EXPECT_EQ(Mismatches(sounded, firstPlayed, secondFrames), 0u);
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
    const auto sounded = Sounding(ReadOutput(m_out));
    const auto expected = Sounding(tone, 1, 0.25f);
    EXPECT_EQ(sounded.size(), expected.size());
    EXPECT_EQ(Mismatches(sounded, 0, expected), 0u);
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

TEST_F(VLAudioPlayerDisk, ARecordingThatCannotBeWrittenIsReportedAsFailed) {
    std::vector<int16_t> input(16000, 1000);
    WriteBytes(m_in, input.data(), input.size() * 2);
    UseDiskDriver("/dev/null", m_in, 0);
    ASSERT_TRUE(m_player.InitAudio());
    // The folder vanished while the student sang.
    const std::string take = m_dir.File("gone/take.wav");
    ASSERT_TRUE(m_player.StartRecord(take));
    m_player.SetMode(VLAudioPlayer::ModeRecordToFile);
    ASSERT_TRUE(WaitUntil([&] { return m_player.GetRecordPositionBytes() >= 3200; }));
    EXPECT_EQ(m_player.StopRecord(), -1);
    EXPECT_FALSE(m_player.IsRecording());
    EXPECT_FALSE(std::filesystem::exists(take));
}

TEST_F(VLAudioPlayerDisk, ARecordingTheBufferCouldNotHoldIsReportedCutShort) {
    std::vector<int16_t> input(64000, 1000);
    WriteBytes(m_in, input.data(), input.size() * 2);
    UseDiskDriver("/dev/null", m_in, 0);
    ASSERT_TRUE(m_player.InitAudio());
    // Room for a second only: the capture ends where the buffer could not grow.
    m_player.SetRecordLimitBytes(44 + 32000);
    const std::string take = m_dir.File("take.wav");
    ASSERT_TRUE(m_player.StartRecord(take));
    m_player.SetMode(VLAudioPlayer::ModeRecordToFile);
    ASSERT_TRUE(WaitUntil([&] { return !m_player.IsRecording(); }));
    EXPECT_TRUE(m_player.HasOpenRecording());
    EXPECT_EQ(m_player.StopRecord(), VLAudioPlayer::kRecordCutShort);
    // What was captured is kept on disk, a valid WAV that ends at the limit.
    const auto bytes = ReadBytes(take);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_LE(bytes.size(), 44u + 32000u);
    EXPECT_EQ(Le32(bytes, 40), bytes.size() - 44);

    // The next recording starts whole again.
    m_player.SetRecordLimitBytes(44 + 3600u * 32000u);
    ASSERT_TRUE(m_player.StartRecord(m_dir.File("next.wav")));
    m_player.SetMode(VLAudioPlayer::ModeRecordToFile);
    ASSERT_TRUE(WaitUntil([&] { return m_player.GetRecordPositionBytes() >= 3200; }));
    EXPECT_EQ(m_player.StopRecord(), 1);
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

TEST_F(VLAudioPlayerDisk, SpectrumIsBlackOnceTheSoundHasEnded) {
    auto lit = [](const VLSpectrumBitmap& b) {
        return std::count_if(b.Pixels().begin(), b.Pixels().end(), [](uint8_t p) { return p != 0; });
    };
    // A file that has played out: its channel is still the playback channel,
    // but nothing sounds any more.
    const std::string wav = m_dir.File("short.wav");
    ASSERT_TRUE(WriteWav(wav, Tone(1000, 0.3, 44100, 1, 0.9), 44100, 1));
    ASSERT_TRUE(m_player.InitAudio());
    ASSERT_GT(m_player.StartPlayback(wav), 0u);
    ASSERT_TRUE(WaitUntil([&] { return !m_player.IsPlaying(); }));
    ASSERT_NE(m_player.PlaybackChannel(), 0u);
    m_player.SpectrumTick();
    EXPECT_EQ(lit(m_player.SpectrumSnapshot()), 0);

    // The microphone test has stopped: the monitor runs dry and falls silent.
    // The tone lasts long enough to be seen however late this thread looks.
    const auto input = Tone(1000, 20, 16000, 1, 0.9);
    WriteBytes(m_in, input.data(), input.size() * 2);
    ASSERT_TRUE(m_player.StartRecord(""));
    m_player.SetMode(VLAudioPlayer::ModeMonitor);
    ASSERT_TRUE(WaitUntil([&] {
        m_player.SpectrumTick();
        return lit(m_player.SpectrumSnapshot()) > 0;
    }));
    EXPECT_EQ(m_player.StopRecord(), 1);
    EXPECT_TRUE(WaitUntil([&] {
        m_player.SpectrumTick();
        return lit(m_player.SpectrumSnapshot()) == 0;
    }));
}

// Device repair while everything runs at once: the mixer, the capture thread
// feeding the monitor, the spectrum tick thread and a decoding file. Nothing
// may be used after it is freed (the sanitizers watch), the recording is still
// written, and the player works again afterwards.
TEST_F(VLAudioPlayerDisk, RepairWhileMonitoringAndPlayingIsSafe) {
    const auto input = Tone(700, 20, 16000, 1, 0.5);
    WriteBytes(m_in, input.data(), input.size() * 2);
    const std::string wav = m_dir.File("long.wav");
    ASSERT_TRUE(WriteWav(wav, Tone(300, 30, 22050, 2), 22050, 2));
    VLAudioPlayer player(232, 137);  // with its own tick thread
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(player.InitAudio());
        ASSERT_GT(player.StartPlayback(wav), 0u);
        const std::string take = m_dir.File("take" + std::to_string(round) + ".wav");
        ASSERT_TRUE(player.StartRecord(take));
        player.SetMode(VLAudioPlayer::ModeMonitor);
        ASSERT_TRUE(WaitUntil([&] { return player.GetRecordPositionBytes() >= 64000; }));
        ASSERT_TRUE(WaitUntil([&] { return player.SpectrumFrameCount() > 0; }));
        player.ReleaseAudio();
        EXPECT_FALSE(player.IsInitialized());
        EXPECT_EQ(player.MonitorStream(), 0u);
        EXPECT_EQ(player.PlaybackChannel(), 0u);
        const auto bytes = ReadBytes(take);
        ASSERT_GE(bytes.size(), 44u + 64000u) << round;
        EXPECT_EQ(Le32(bytes, 40), bytes.size() - 44);
        EXPECT_EQ(std::memcmp(bytes.data() + 44, input.data(), 64000), 0);
    }
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
    // Long enough to be still sounding however late this thread looks.
    ASSERT_TRUE(WriteWav(wav, Tone(1000, 20, 44100, 1, 0.9), 44100, 1));
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

TEST(VLAudioPlayerDummy, EveryAudioThreadRanTheStartHook) {
    // The start hook gives each thread the crash handler's signal stack: the
    // spectrum tick, the decoder of the playing file and the device's own
    // thread (started by SDL) must all have run it.
    UseDummyDriver();
    TempDir dir;
    const std::string wav = dir.File("tone.wav");
    ASSERT_TRUE(WriteWav(wav, Tone(500, 5.0, 44100, 1), 44100, 1));
    TestSupport::KWThreadHookProbe probe;
    VLAudioPlayer player(232, 137);
    std::atomic<long> tick{0};
    player.SetInvalidateCallback([&] { tick = TestSupport::KWThreadHookProbe::CurrentTid(); });
    ASSERT_TRUE(player.InitAudio());
    ASSERT_GT(player.StartPlayback(wav), 0u);
    EXPECT_TRUE(WaitUntil([&] { return tick.load() != 0; }));
    EXPECT_TRUE(probe.Ran(tick));
    EXPECT_TRUE(WaitUntil([&] { return probe.Unprepared().empty() && probe.RunCount() >= 2; }))
        << probe.Unprepared().size() << " threads without it";
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
    // Where the driver cannot tell the default, the first device listed is not
    // taken for it: the device opened without a name is the one the desktop chose.
    EXPECT_EQ(ChooseRecordingDevice({D{"Webcam", true, false}, D{"Headset Mic", true, false}}), -1);
}

}  // namespace
}  // namespace KwLib
