#include "audio/VLWavRecorder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "audio/VLWavFormat.h"
#include "tests/audio/VLAudioTestUtil.h"

namespace KwLib {
namespace {

using namespace AudioTest;

TEST(VLWavRecorder, WritesTheRecordingHeaderAndSamples) {
    TempDir dir;
    VLWavRecorder rec;
    ASSERT_TRUE(rec.Begin());
    EXPECT_EQ(rec.CapturedLength(), 44u);
    // While recording, the two length fields are still 0.
    EXPECT_EQ(Le32(std::vector<uint8_t>(rec.Data(), rec.Data() + 44), 4), 0u);

    std::vector<int16_t> samples = Tone(440, 0.5, 16000);
    ASSERT_TRUE(rec.Append(samples.data(), static_cast<uint32_t>(samples.size() * 2)));
    const std::string path = dir.File("take.wav");
    ASSERT_TRUE(rec.Finish(path));
    EXPECT_FALSE(rec.HasBuffer());

    const auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 44 + samples.size() * 2);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(bytes, 16), 16u);
    EXPECT_EQ(Le16(bytes, 20), 1u);
    EXPECT_EQ(Le16(bytes, 22), 1u);
    EXPECT_EQ(Le32(bytes, 24), 16000u);
    EXPECT_EQ(Le32(bytes, 28), 32000u);
    EXPECT_EQ(Le16(bytes, 32), 2u);
    EXPECT_EQ(Le16(bytes, 34), 16u);
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(Le32(bytes, 40), samples.size() * 2);
    // Another reader agrees about the format and the samples.
    SF_INFO info;
    EXPECT_EQ(ReadSound(path, &info), samples);
    EXPECT_EQ(info.samplerate, 16000);
    EXPECT_EQ(info.channels, 1);
}

TEST(VLWavRecorder, ZeroSamplesGiveAHeaderOnlyFile) {
    TempDir dir;
    VLWavRecorder rec;
    ASSERT_TRUE(rec.Begin());
    ASSERT_TRUE(rec.Finish(dir.File("empty.wav")));
    const auto bytes = ReadBytes(dir.File("empty.wav"));
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(Le32(bytes, 4), 36u);
    EXPECT_EQ(Le32(bytes, 40), 0u);
}

TEST(VLWavRecorder, GrowsInStepsAndLosesNothingAcrossThem) {
    TempDir dir;
    VLWavRecorder rec;
    ASSERT_TRUE(rec.Begin());
    EXPECT_EQ(rec.Capacity(), 200000u);
    // Odd block sizes so that blocks straddle the 200000-byte boundaries.
    std::vector<uint8_t> expected;
    uint32_t counter = 0;
    while (expected.size() < 450000) {
        std::vector<uint8_t> block(1234 + counter % 7);
        for (auto& b : block)
            b = static_cast<uint8_t>(counter++ * 31);
        ASSERT_TRUE(rec.Append(block.data(), static_cast<uint32_t>(block.size())));
        expected.insert(expected.end(), block.begin(), block.end());
        EXPECT_EQ(rec.Capacity() % 200000, 0u);
        EXPECT_GT(rec.Capacity(), rec.CapturedLength());
    }
    EXPECT_EQ(rec.Capacity(), 600000u);
    ASSERT_TRUE(rec.Finish(dir.File("long.wav")));
    const auto bytes = ReadBytes(dir.File("long.wav"));
    ASSERT_EQ(bytes.size(), 44 + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + 44));
    EXPECT_EQ(Le32(bytes, 40), expected.size());
}

TEST(VLWavRecorder, EmptyPathOrUnwritablePathWritesNoFile) {
    TempDir dir;
    VLWavRecorder rec;
    ASSERT_TRUE(rec.Begin());
    int16_t s[100] = {1, 2, 3};
    ASSERT_TRUE(rec.Append(s, sizeof(s)));
    EXPECT_TRUE(rec.Finish(""));
    EXPECT_FALSE(rec.HasBuffer());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    ASSERT_TRUE(rec.Begin());
    ASSERT_TRUE(rec.Append(s, sizeof(s)));
    EXPECT_FALSE(rec.Finish(dir.File("missing-folder/take.wav")));
    EXPECT_FALSE(rec.HasBuffer());
    EXPECT_FALSE(rec.Append(s, sizeof(s)));  // nothing to append to once finished
}

TEST(VLWavFormat, ParsesWhatItWritesAndRejectsOtherBytes) {
    uint8_t header[44];
    VLWavFormat::ForRecording(640).Write(header);
    auto parsed = VLWavFormat::Parse(header, sizeof(header));
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->IsRecordingFormat());
    EXPECT_EQ(parsed->dataLength, 640u);
    EXPECT_EQ(parsed->riffLength, 676u);
    EXPECT_FALSE(VLWavFormat::Parse(header, 43));
    header[0] = 'X';
    EXPECT_FALSE(VLWavFormat::Parse(header, sizeof(header)));
}

}  // namespace
}  // namespace KwLib
