#include "audio/VLAudioDecoder.h"

#include <gtest/gtest.h>

#include "tests/audio/VLAudioTestUtil.h"

namespace KwLib {
namespace {

using namespace AudioTest;

TEST(VLAudioDecoder, DurationOfWavMp3ModuleAndNonAudio) {
    TempDir dir;
    const std::string wav = dir.File("a.wav");
    ASSERT_TRUE(WriteWav(wav, Tone(440, 2.5, 44100, 2), 44100, 2));
    EXPECT_DOUBLE_EQ(VLAudioDecoder::DurationSeconds(wav), 2.5);

    const std::string mp3 = dir.File("a.mp3");
    ASSERT_TRUE(RunCommand("lame --quiet -b 128 '" + wav + "' '" + mp3 + "'"));
    EXPECT_NEAR(VLAudioDecoder::DurationSeconds(mp3), 2.5, 0.03);

    // FLAC and Ogg Vorbis through the same reader.
    for (const auto& [name, format] : {std::pair{"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                       std::pair{"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS}}) {
        SF_INFO info{};
        info.samplerate = 22050;
        info.channels = 1;
        info.format = format;
        const std::string path = dir.File(name);
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr) << name;
        const auto tone = Tone(330, 1.25, 22050);
        sf_writef_short(f, tone.data(), static_cast<sf_count_t>(tone.size()));
        sf_close(f);
        EXPECT_NEAR(VLAudioDecoder::DurationSeconds(path), 1.25, 1e-3) << name;
        auto decoded = VLAudioDecoder::Decode(path, 44100);
        ASSERT_TRUE(decoded) << name;
        EXPECT_NEAR(decoded->Seconds(), 1.25, 1e-3) << name;
    }

    const std::string mod = dir.File("a.mod");
    const auto module = MakeModule();
    WriteBytes(mod, module.data(), module.size());
    EXPECT_NEAR(VLAudioDecoder::DurationSeconds(mod), 7.68, 0.15);

    const std::string text = dir.File("notes.txt");
    const std::string words = "This is not a sound file, only a few words of text.\n";
    WriteBytes(text, words.data(), words.size());
    EXPECT_EQ(VLAudioDecoder::DurationSeconds(text), 0.0);
    EXPECT_FALSE(VLAudioDecoder::Decode(text, 44100));
    EXPECT_EQ(VLAudioDecoder::DurationSeconds(dir.File("absent.wav")), 0.0);
}

// A format-0 MIDI file, 480 ticks a quarter: two quarters at 120 beats a
// minute, then two at 60 (the tempo map changes halfway): 1 s + 2 s.
std::string TwoTempoMelody() {
    const std::string track = std::string("\x00\xFF\x51\x03\x07\xA1\x20", 7) +         // 500000 us a quarter
                              std::string("\x00\x90\x3C\x50\x83\x60\x80\x3C\x40", 9) +  // C for 480 ticks
                              std::string("\x00\x90\x3E\x50\x83\x60\x80\x3E\x40", 9) +
                              std::string("\x00\xFF\x51\x03\x0F\x42\x40", 7) +         // 1000000 us a quarter
                              std::string("\x00\x90\x40\x50\x83\x60\x80\x40\x40", 9) +
                              std::string("\x00\x90\x43\x50\x83\x60\x80\x43\x40", 9) +
                              std::string("\x00\xFF\x2F\x00", 4);
    std::string file = std::string("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xE0", 14);
    file += std::string("MTrk", 4);
    const auto n = static_cast<uint32_t>(track.size());
    file += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
    return file + track;
}

TEST(VLAudioDecoder, AMelodyFileLastsWhatItsTempoMapSays) {
    TempDir dir;
    const std::string mid = dir.File("mel.mid");
    const std::string melody = TwoTempoMelody();
    WriteBytes(mid, melody.data(), melody.size());
    EXPECT_NEAR(VLAudioDecoder::DurationSeconds(mid), 3.0, 1e-6);
    EXPECT_NEAR(VLAudioDecoder::MidiDurationSeconds(mid), 3.0, 1e-6);
    // A damaged melody has no length rather than a wrong one; other files are not melodies.
    const std::string cut = dir.File("cut.mid");
    WriteBytes(cut, melody.data(), 30);
    EXPECT_EQ(VLAudioDecoder::DurationSeconds(cut), 0.0);
    // Cut anywhere, the file is read no further than it goes (the sanitizers watch) and has no length.
    for (size_t n = 0; n < melody.size(); ++n) {
        WriteBytes(cut, melody.data(), n);
        EXPECT_EQ(VLAudioDecoder::MidiDurationSeconds(cut), 0.0) << n << " bytes";
    }
    // A track that claims more bytes than the file holds.
    std::string swollen = melody;
    swollen[21] = '\x7F';
    WriteBytes(cut, swollen.data(), swollen.size());
    EXPECT_EQ(VLAudioDecoder::MidiDurationSeconds(cut), 0.0);
    const std::string wav = dir.File("a.wav");
    ASSERT_TRUE(WriteWav(wav, Tone(440, 1.0, 22050), 22050, 1));
    EXPECT_EQ(VLAudioDecoder::MidiDurationSeconds(wav), 0.0);
}

// Format 1: the tempo track and a longer melody track with running status (notes
// written without repeating their status byte) and an unknown chunk between them.
TEST(VLAudioDecoder, AMelodyOfSeveralTracksLastsAsLongAsItsLongestTrack) {
    auto chunk = [](const std::string& kind, const std::string& body) {
        const auto n = static_cast<uint32_t>(body.size());
        return kind + std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                                  static_cast<char>(n >> 8), static_cast<char>(n)} + body;
    };
    const std::string tempo = std::string("\x00\xFF\x51\x03\x0F\x42\x40\x00\xFF\x2F\x00", 11);  // 1 s a quarter
    // Four quarters of 240 ticks (division 240): on at 0, off after 960 with running status.
    const std::string notes = std::string("\x00\x90\x3C\x50\x87\x40\x3C\x00\x00\xFF\x2F\x00", 12);
    const std::string file = chunk("MThd", std::string("\x00\x01\x00\x02\x00\xF0", 6)) + chunk("MTrk", tempo) +
                             chunk("XFIH", "vendor data") + chunk("MTrk", notes);
    TempDir dir;
    const std::string mid = dir.File("two.mid");
    WriteBytes(mid, file.data(), file.size());
    EXPECT_NEAR(VLAudioDecoder::MidiDurationSeconds(mid), 4.0, 1e-6);
}

TEST(VLAudioDecoder, DecodedLengthAgreesWithDurationAfterResampling) {
    TempDir dir;
    const std::string wav = dir.File("speech.wav");
    const auto tone = Tone(300, 1.3, 22050, 1);
    ASSERT_TRUE(WriteWav(wav, tone, 22050, 1));
    auto decoded = VLAudioDecoder::Decode(wav, 44100);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->channels, 1);
    EXPECT_EQ(decoded->sampleRate, 44100);
    EXPECT_EQ(decoded->Frames(), tone.size() * 2);
    EXPECT_NEAR(decoded->Seconds(), VLAudioDecoder::DurationSeconds(wav), 1e-9);
    // The resampled tone keeps its level (no silence or clipping introduced).
    int16_t peak = 0;
    for (size_t i = 1000; i < decoded->samples.size() - 1000; ++i)
        peak = std::max<int16_t>(peak, decoded->samples[i]);
    EXPECT_NEAR(peak, 0.5 * 32767, 0.03 * 32767);

    const std::string mod = dir.File("a.mod");
    const auto module = MakeModule();
    WriteBytes(mod, module.data(), module.size());
    auto song = VLAudioDecoder::Decode(mod, 44100);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->channels, 2);
    EXPECT_NEAR(song->Seconds(), 7.68, 0.15);
    EXPECT_DOUBLE_EQ(song->Seconds(), VLAudioDecoder::DurationSeconds(mod));
}

}  // namespace
}  // namespace KwLib

namespace KwLib {
namespace {

using namespace AudioTest;

TEST(VLAudioDecoder, Mp3LengthsWithAndWithoutTagAndAfterTheFileChanged) {
    TempDir dir;
    const std::string wav = dir.File("a.wav");
    ASSERT_TRUE(WriteWav(wav, Tone(440, 1.5, 44100, 2), 44100, 2));
    // With the encoder's length tag the header is exact and gapless: 1.5 s.
    const std::string tagged = dir.File("tagged.mp3");
    ASSERT_TRUE(RunCommand("lame --quiet -b 128 '" + wav + "' '" + tagged + "'"));
    EXPECT_DOUBLE_EQ(VLAudioDecoder::DurationSeconds(tagged), 1.5);
    auto decoded = VLAudioDecoder::Decode(tagged, 44100);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->Frames(), 66150u);

    // Without it the frames are counted; the count follows a replaced file.
    const std::string bare = dir.File("bare.mp3");
    ASSERT_TRUE(RunCommand("lame --quiet -t -b 128 '" + wav + "' '" + bare + "'"));
    const double first = VLAudioDecoder::DurationSeconds(bare);
    EXPECT_EQ(first, static_cast<double>(ReadSound(bare).size() / 2) / 44100);
    EXPECT_NEAR(first, 1.5, 0.06);  // plus the encoder's delay and padding
    EXPECT_EQ(VLAudioDecoder::DurationSeconds(bare), first);
    ASSERT_TRUE(WriteWav(wav, Tone(440, 3.0, 44100, 2), 44100, 2));
    ASSERT_TRUE(RunCommand("lame --quiet -t -b 128 '" + wav + "' '" + bare + ".new' && mv '" + bare +
                           ".new' '" + bare + "'"));
    EXPECT_NEAR(VLAudioDecoder::DurationSeconds(bare), 3.0, 0.06);
}

TEST(VLAudioDecoder, VariableRateMp3WithoutTagPlaysToItsEnd) {
    // Quiet and loud stretches give frames of very different sizes, so a length
    // guessed from the first frame's rate is far off.
    TempDir dir;
    std::vector<int16_t> music = Tone(440, 12, 44100, 2, 0.02);
    const auto loud = Tone(440, 8, 44100, 2, 0.9);
    music.insert(music.end(), loud.begin(), loud.end());
    const std::string wav = dir.File("music.wav");
    ASSERT_TRUE(WriteWav(wav, music, 44100, 2));
    const std::string mp3 = dir.File("vbr.mp3");
    ASSERT_TRUE(RunCommand("lame --quiet -t -V 4 '" + wav + "' '" + mp3 + "'"));

    // Encoder delay and padding add a few frames of 1152 samples at most.
    const double seconds = VLAudioDecoder::DurationSeconds(mp3);
    EXPECT_NEAR(seconds, 20.0, 0.1);
    auto decoded = VLAudioDecoder::Decode(mp3, 44100);
    ASSERT_TRUE(decoded);
    EXPECT_DOUBLE_EQ(decoded->Seconds(), seconds);
    // A stream knows the length before decoding it, so the caller's timers are right at once.
    auto stream = VLDecodeStream::Open(mp3, 44100);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->LengthFrames(), decoded->Frames());
    // The loud end sounded.
    int16_t peak = 0;
    for (size_t i = decoded->samples.size() - 44100 * 2; i < decoded->samples.size() - 44100; ++i)
        peak = std::max(peak, decoded->samples[i]);
    EXPECT_GT(peak, 0.8 * 32767);
}

TEST(VLAudioDecoder, SurroundKeepsTheFrontPairAndStreamsEndExactly) {
    TempDir dir;
    const std::string path = dir.File("quad.wav");
    std::vector<int16_t> quad(4 * 1000);
    for (int f = 0; f < 1000; ++f)
        for (int c = 0; c < 4; ++c)
            quad[4 * f + c] = static_cast<int16_t>(f * 10 + c);
    ASSERT_TRUE(WriteWav(path, quad, 44100, 4));
    auto decoded = VLAudioDecoder::Decode(path, 44100);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->channels, 2);
    ASSERT_EQ(decoded->Frames(), 1000u);
    EXPECT_EQ(decoded->samples[2 * 500], 5000);
    EXPECT_EQ(decoded->samples[2 * 500 + 1], 5001);

    // A stream knows a WAV's length before it has decoded it, and reports the
    // frames it decoded once done.
    auto stream = VLDecodeStream::Open(path, 48000);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->LengthFrames(), 1088u);  // 1000 * 48000 / 44100, rounded
    stream->WaitDone();
    EXPECT_TRUE(stream->Done());
    EXPECT_EQ(stream->ReadyFrames(), 1088u);
    EXPECT_EQ(stream->LengthFrames(), 1088u);
    EXPECT_FALSE(VLDecodeStream::Open(path, 0));
    // Dropping a stream in the middle of a long decode ends its thread.
    const std::string longFile = dir.File("long.wav");
    ASSERT_TRUE(WriteWav(longFile, Tone(200, 120, 22050, 1), 22050, 1));
    auto cancelled = VLDecodeStream::Open(longFile, 44100);
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->LengthFrames(), 120u * 44100);
    cancelled.reset();
}

}  // namespace
}  // namespace KwLib
