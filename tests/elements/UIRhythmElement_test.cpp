// The rhythm element: its rhythm text, how taps on the space bar are judged
// and written into the answer, the moment taps count from, and the track's
// pictures at chosen times. Keys carry chosen timestamps under the manual
// clock, as they would arrive from a window that was busy for a while.
#include "elements/UIRhythmElement.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/core/VLAppState.h"
#include "audio/VLAudioPlayer.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIFrameView.h"
#include "platform/ui/UIWindowWnd.h"
#include "tests/elements/ElementTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;
using LongNote = UIRhythmElement::LongNote;

class UIRhythmElementTest : public ElementFixture {
protected:
    void TearDown() override {
        VLAppState::Get().rhythmDeviation = 100;
        ElementFixture::TearDown();
    }

    // As the window shows a rhythm question: into the area first, then built.
    UIRhythmElement* ShowRhythm(const std::string& rhythm, int bpm = 80) {
        m_record = std::make_unique<VLRhythmQuestion>();
        m_record->m_type = kQuestionRhythm;
        m_record->m_id = "r1";
        m_record->m_content = "跟着音乐敲击出节奏。";
        m_record->m_rhythmFile = rhythm;
        m_record->m_bpm = bpm;
        Pm().RemoveAllGroups();
        m_area->RemoveAll();
        std::unique_ptr<UIQuestionElement> element = CreateQuestionElement(kQuestionRhythm);
        auto* e = dynamic_cast<UIRhythmElement*>(element.get());
        EXPECT_NE(e, nullptr);
        if (!e)
            return nullptr;
        EXPECT_TRUE(AddsToAreaFirst(kQuestionRhythm));
        m_area->Add(std::move(element));
        e->SetManager(&Pm(), m_area, true);
        e->InitQuestion(m_record.get());
        e->SetAnswer(m_record->m_answer);
        e->SetEnabled(false);
        m_driver.Pump();
        return e;
    }

    // The answering phase begins, as the window starts it.
    void Begin(UIRhythmElement* e) {
        e->SetEnabled(true);
        m_leadIn = e->StartActivity(m_record.get());
        m_origin = e->GetOrigin();
    }

    // The space bar goes down or up `ms` after the origin; the window gets
    // round to the key only `late` ms afterwards.
    void Down(int64_t ms, uint64_t late = 5) {
        MoveTo(ms + static_cast<int64_t>(late));
        m_driver.KeyDownAt(VK_SPACE, static_cast<uint64_t>(m_origin + ms));
    }
    void Up(int64_t ms, uint64_t late = 5) {
        MoveTo(ms + static_cast<int64_t>(late));
        m_driver.KeyUpAt(VK_SPACE, static_cast<uint64_t>(m_origin + ms));
    }
    void Tap(int64_t ms) {
        Down(ms);
        Up(ms + 60);
    }
    void MoveTo(int64_t ms) {
        const int64_t target = m_origin + ms;
        const int64_t now = static_cast<int64_t>(UIClock::NowMs());
        if (target > now)
            m_driver.Advance(static_cast<uint64_t>(target - now));
    }

    std::unique_ptr<VLRhythmQuestion> m_record;
    uint32_t m_leadIn = 0;
    int64_t m_origin = 0;
};

TEST_F(UIRhythmElementTest, TheRhythmTextGivesBeatsAndLongNotes) {
    std::vector<uint32_t> beats;
    std::vector<LongNote> longs;
    UIRhythmElement::ParseRhythm("750\n1500\n2250-3000\n3750\n4500", beats, longs);
    EXPECT_EQ(beats, (std::vector<uint32_t>{750, 1500, 3750, 4500}));
    EXPECT_EQ(longs, (std::vector<LongNote>{{2250, 3000}}));

    // Windows line ends, a line of three parts, a closing newline, junk.
    UIRhythmElement::ParseRhythm("100\r\n200-300\r\n1-2-3\nabc\n400\n", beats, longs);
    EXPECT_EQ(beats, (std::vector<uint32_t>{100, 400}));
    EXPECT_EQ(longs, (std::vector<LongNote>{{200, 300}}));

    UIRhythmElement::ParseRhythm("", beats, longs);
    EXPECT_TRUE(beats.empty());
    EXPECT_TRUE(longs.empty());

    // Out of file order stays in file order.
    UIRhythmElement::ParseRhythm("900\n300\n800-700\n50-60", beats, longs);
    EXPECT_EQ(beats, (std::vector<uint32_t>{900, 300}));
    EXPECT_EQ(longs, (std::vector<LongNote>{{50, 60}}));
}

TEST_F(UIRhythmElementTest, TheTrackFrameSitsAtTheBottomAndTheCountInFollowsTheTempo) {
    UIRhythmElement* e = ShowRhythm("750\n1500");
    ASSERT_NE(e, nullptr);
    UIControl* frame = e->GetTrackFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->GetBkImage(), "res='1041' restype='PNG' corner='10,0,10,0'");
    EXPECT_EQ(frame->GetNormalImage(), "res='1100' restype='PNG' corner='0,0,200,0' dest='3,0,687,155'");
    EXPECT_EQ(frame->GetPos().Height(), 155);
    // A short stem leaves room: the frame lies at the bottom of the question area.
    EXPECT_EQ(frame->GetPos().bottom, m_area->GetPos().bottom - 5);
    EXPECT_EQ(frame->GetPos().left, m_area->GetPos().left + 15);
    EXPECT_EQ(e->GetScrollRange(), 0);
    EXPECT_EQ(e->GetTrackView(), nullptr);
    EXPECT_EQ(e->GetAnswer(), "");

    Begin(e);
    // 598 pixels at 0.2 pixels per ms (80 beats a minute).
    EXPECT_FLOAT_EQ(e->GetSpeed(), 0.2f);
    EXPECT_EQ(m_leadIn, 2990u);
    EXPECT_EQ(m_origin, static_cast<int64_t>(UIClock::NowMs()) + 2990);
    ASSERT_NE(e->GetTrackView(), nullptr);
    m_driver.Pump();
    // The track: 684 x 155, 18 pixels into the area, at its bottom.
    const UIRect track = e->GetTrackView()->GetPos();
    EXPECT_EQ(track.Width(), 684);
    EXPECT_EQ(track.Height(), 155);
    EXPECT_EQ(track.left, m_area->GetPos().left + 18);
    EXPECT_EQ(track.bottom, m_area->GetPos().bottom - 5);
    EXPECT_EQ(track.top, frame->GetPos().top);
    e->Stop();

    // 90 beats a minute: 0.225 pixels per ms; a paper without a tempo keeps 80.
    e = ShowRhythm("750", 90);
    EXPECT_EQ(e->Start(90), 2657u);
    e = ShowRhythm("750", 0);
    EXPECT_EQ(e->Start(0), 2990u);
}

TEST_F(UIRhythmElementTest, BuiltWhileTheQuestionAreaIsHiddenTheFrameStillEndsAtItsBottom) {
    // A question reopened from the answer sheet is built before its area shows.
    m_area->SetVisible(false);
    UIRhythmElement* e = ShowRhythm("750\n1500");
    ASSERT_NE(e, nullptr);
    m_area->SetVisible(true);
    m_driver.Pump();
    const UIControl* frame = e->GetTrackFrame();
    EXPECT_EQ(frame->GetPos().Height(), 155);
    EXPECT_EQ(frame->GetPos().bottom, m_area->GetPos().bottom - 5);
    EXPECT_EQ(e->GetScrollRange(), 0);
    Begin(e);
    m_driver.Pump();
    const UIRect track = e->GetTrackView()->GetPos();
    EXPECT_EQ(track.bottom, m_area->GetPos().bottom - 5);
    EXPECT_EQ(track.top, frame->GetPos().top);
    e->Stop();
}

TEST_F(UIRhythmElementTest, TapsWithinTheToleranceHitAndTheRestMiss) {
    UIRhythmElement* e = ShowRhythm("1000\n2000\n3000");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetTolerance(), 100);
    Begin(e);
    Tap(1099);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
    EXPECT_EQ(e->GetTrack()->GetFeedback(), UIRhythmTrack::kHit);
    Tap(2100);  // 100 ms off: not within
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kMiss);
    EXPECT_EQ(e->GetTrack()->GetFeedback(), UIRhythmTrack::kMiss);
    Tap(2901);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
    // A miss is written like any tap.
    EXPECT_EQ(e->GetAnswer(), "1099,2100,2901");
    EXPECT_EQ(e->GetBeats(), (std::vector<uint32_t>{2000}));

    // The server's tolerance is taken when the element is made.
    VLAppState::Get().rhythmDeviation = 150;
    e = ShowRhythm("1000");
    EXPECT_EQ(e->GetTolerance(), 150);
    Begin(e);
    Tap(1149);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
}

TEST_F(UIRhythmElementTest, ATapJustBeforeTheOriginIsJudgedAndWrittenAsZero) {
    UIRhythmElement* e = ShowRhythm("0\n1000\n2000-3000");
    Begin(e);
    Tap(-120);  // beyond the tolerance before the music: nothing to tap along with yet
    EXPECT_EQ(e->GetAnswer(), "");
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kNone);
    Tap(-40);  // 40 ms early for the beat on the first sample
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
    EXPECT_EQ(e->GetAnswer(), "0");
    EXPECT_EQ(e->GetBeats(), (std::vector<uint32_t>{1000}));

    // The music's first sample reaches the output while the key is held: the
    // release is measured from the same moment as its press.
    Down(2000);
    e->SetOrigin(m_origin + 30);
    Up(3000);
    EXPECT_EQ(e->GetAnswer(), "0,2000-3000");
}

TEST_F(UIRhythmElementTest, EachBeatIsHitOnceAndABeatGoesBeforeALongNote) {
    UIRhythmElement* e = ShowRhythm("1000\n1050\n3000\n3000-3600");
    ASSERT_NE(e, nullptr);
    Begin(e);
    Tap(1000);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
    Tap(1010);  // the first beat is gone, but another is near
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
    Tap(1020);  // none left near
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kMiss);
    EXPECT_EQ(e->GetBeats(), (std::vector<uint32_t>{3000}));

    // A beat and a long note at the same time: the beat first, then the long note.
    Tap(3000);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
    EXPECT_FALSE(e->IsHolding());
    Down(3005);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHold);
    EXPECT_EQ(e->GetTrack()->GetFeedback(), UIRhythmTrack::kHold);
    EXPECT_TRUE(e->IsHolding());
    Up(3600);
    EXPECT_FALSE(e->IsHolding());
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kNone);
    EXPECT_EQ(e->GetAnswer(), "1000,1010,1020,3000,3005-3600");
    EXPECT_TRUE(e->GetLongNotes().empty());
}

TEST_F(UIRhythmElementTest, HoldingTheKeyIsOneTapAndOneReleaseAsInTheExample) {
    UIRhythmElement* e = ShowRhythm("1200\n1800\n2400-3300");
    ASSERT_NE(e, nullptr);
    Begin(e);
    Tap(1200);
    Tap(1800);
    Down(2400);
    // The key's auto-repeat while it is held.
    for (int64_t t = 2900; t < 2990; t += 33)
        Down(t);
    // Read during the hold: the release is now, for the moment, however often it is read.
    MoveTo(3000);
    EXPECT_EQ(e->GetAnswer(), "1200,1800,2400-3000");
    EXPECT_EQ(e->GetAnswer(), "1200,1800,2400-3000");
    for (int64_t t = 3033; t < 3300; t += 33)
        Down(t);
    Up(3300);
    EXPECT_EQ(e->GetAnswer(), "1200,1800,2400-3300");
    // A release with nothing held writes nothing.
    Up(3400);
    EXPECT_EQ(e->GetAnswer(), "1200,1800,2400-3300");
}

TEST_F(UIRhythmElementTest, LeavingDuringAHoldReleasesItAndStopsListening) {
    UIRhythmElement* e = ShowRhythm("500-2500");
    ASSERT_NE(e, nullptr);
    Begin(e);
    Down(510);
    MoveTo(1200);
    e->StopActivity();
    EXPECT_FALSE(e->IsHolding());
    EXPECT_EQ(e->GetAnswer(), "510-1200");
    EXPECT_FALSE(e->GetTrackView()->IsVisible());
    // No longer listening.
    Tap(1500);
    EXPECT_EQ(e->GetAnswer(), "510-1200");
}

TEST_F(UIRhythmElementTest, ATapCountsWhenItsKeyWentDownNotWhenTheWindowGotToIt) {
    UIRhythmElement* e = ShowRhythm("1000");
    ASSERT_NE(e, nullptr);
    Begin(e);
    // The window was busy for 50 ms before it handled the key.
    Down(1000, 50);
    EXPECT_EQ(UIClock::NowMs(), static_cast<uint64_t>(m_origin + 1050));
    EXPECT_EQ(e->GetAnswer(), "1000");
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
}

TEST_F(UIRhythmElementTest, AnEmptyRhythmRecordsEveryTapAsAMiss) {
    UIRhythmElement* e = ShowRhythm("");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->GetAllBeats().empty());
    Begin(e);
    Tap(100);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kMiss);
    Tap(900);
    EXPECT_EQ(e->GetAnswer(), "100,900");
}

TEST_F(UIRhythmElementTest, OnlyTheEnabledElementListensAndKeepsTheKeyboard) {
    UIRhythmElement* e = ShowRhythm("1000");
    ASSERT_NE(e, nullptr);
    Begin(e);
    // Before the music there is nothing to tap along with.
    Tap(-400);
    EXPECT_EQ(e->GetAnswer(), "");
    e->SetEnabled(false);
    Tap(1000);
    EXPECT_EQ(e->GetAnswer(), "");
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kNone);
    // Other keys are not taps.
    e->SetEnabled(true);
    MoveTo(1100);
    m_driver.PressKey('A');
    EXPECT_EQ(e->GetAnswer(), "");

    // Losing the keyboard while enabled brings the exam window back.
    m_window->Minimize();
    ASSERT_TRUE(m_window->IsMinimized());
    m_window->DispatchMessage(WM_KILLFOCUS, 0, 0);
    EXPECT_FALSE(m_window->IsMinimized());
    e->SetEnabled(false);
    m_window->Minimize();
    m_window->DispatchMessage(WM_KILLFOCUS, 0, 0);
    EXPECT_TRUE(m_window->IsMinimized());
    m_window->Restore();
}

TEST_F(UIRhythmElementTest, TapsCountFromTheMusicsFirstSampleAtTheOutput) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    VLAudioPlayer player(64, 32);
    player.SetAutomaticTick(false);
    ASSERT_TRUE(player.InitAudio());
    const std::string music = m_dir.File("music.wav");
    {
        // One second of sound, written by the audio tests' way: a plain WAV.
        std::vector<int16_t> samples(44100, 6000);
        FILE* f = fopen(music.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        auto u32 = [&](uint32_t v) { fwrite(&v, 4, 1, f); };
        auto u16 = [&](uint16_t v) { fwrite(&v, 2, 1, f); };
        fwrite("RIFF", 1, 4, f);
        u32(36 + 88200);
        fwrite("WAVEfmt ", 1, 8, f);
        u32(16);
        u16(1);
        u16(1);
        u32(44100);
        u32(88200);
        u16(2);
        u16(16);
        fwrite("data", 1, 4, f);
        u32(88200);
        fwrite(samples.data(), 2, samples.size(), f);
        fclose(f);
    }
    UIRhythmElement* e = ShowRhythm("750");
    ASSERT_NE(e, nullptr);
    Begin(e);
    MoveTo(0);
    ASSERT_GT(player.StartPlayback(music), 0u);
    e->OnActivityMusicStarted(&player);
    // The mixer takes the first sample within a buffer or two; the element looks every 5 ms.
    for (int i = 0; i < 2000 && !e->IsOriginFromAudio(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_driver.Advance(UIRhythmElement::kOriginPollMs);
    }
    ASSERT_TRUE(e->IsOriginFromAudio());
    const int64_t origin = e->GetOrigin();
    EXPECT_EQ(e->GetTrack()->GetOrigin(), origin);
    m_origin = origin;
    Tap(750);
    EXPECT_EQ(e->GetAnswer(), "750");
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
    e->Stop();
    player.ReleaseAudio();
}

}  // namespace
}  // namespace KwLib
