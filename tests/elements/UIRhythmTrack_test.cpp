// The track's pictures at chosen times, drawn headless: where notes and
// long-note bars are, that nothing passes the hit zone, and the frames of the
// hit, hold and miss animations. Then the whole element on the exam page,
// before, during and after the answering time, as screenshots.
#include "elements/UIRhythmTrack.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "elements/UIRhythmElement.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIFrameView.h"
#include "tests/elements/ElementTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;
using Frame = UIFrameExchange::Frame;

constexpr int64_t kOrigin = 100000;

class UIRhythmTrackTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        m_frame.width = UIRhythmTrack::kWidth;
        m_frame.height = UIRhythmTrack::kHeight;
        m_frame.pixels.assign(static_cast<size_t>(m_frame.width) * m_frame.height, 0);
        m_plain = m_frame;
        UIRhythmTrack empty;
        ASSERT_TRUE(empty.Load());
        empty.Render(0, m_plain);
    }
    // The picture of `track` at `ms` after the origin.
    const Frame& At(UIRhythmTrack& track, int64_t ms) {
        track.SetOrigin(kOrigin);
        track.Render(static_cast<uint64_t>(kOrigin + ms), m_frame);
        return m_frame;
    }
    // Whether column x of the note lane differs from the empty track.
    bool Marked(const Frame& f, int x) const {
        for (int y = UIRhythmTrack::kSpriteY; y < UIRhythmTrack::kSpriteY + UIRhythmTrack::kBarHeight; ++y)
            if (f.Pixel(x, y) != m_plain.Pixel(x, y))
                return true;
        return false;
    }
    // The first and last marked columns of the lane left of the hit zone (-1 when none).
    std::pair<int, int> MarkedSpan(const Frame& f, int from = 0) const {
        int first = -1, last = -1;
        for (int x = from; x < UIRhythmTrack::kWidth; ++x)
            if (Marked(f, x)) {
                if (first < 0)
                    first = x;
                last = x;
            }
        return {first, last};
    }
    // The feedback square, as pixels.
    std::vector<uint32_t> Zone(const Frame& f) const {
        std::vector<uint32_t> out;
        for (int y = UIRhythmTrack::kFeedbackY; y < UIRhythmTrack::kFeedbackY + UIRhythmTrack::kFeedbackSize;
             ++y)
            for (int x = UIRhythmTrack::kFeedbackX;
                 x < UIRhythmTrack::kFeedbackX + UIRhythmTrack::kFeedbackSize; ++x)
                out.push_back(f.Pixel(x, y));
        return out;
    }

    Frame m_frame;
    Frame m_plain;
};

TEST_F(UIRhythmTrackTest, TheEmptyTrackIsTheFrameWithItsHitZoneOnTheTrackColour) {
    // Top left: the track colour under the frame's left part; every pixel opaque.
    for (uint32_t p : m_plain.pixels)
        ASSERT_EQ(p >> 24, 0xFFu);
    // The hit zone's ring is lighter than the lane beside it.
    const uint32_t ring = m_plain.Pixel(579 + 23, 81);
    const uint32_t lane = m_plain.Pixel(300, 81);
    EXPECT_GT(ring & 0xFF, lane & 0xFF);
}

TEST_F(UIRhythmTrackTest, ANotesRightEdgeReachesTheHitZoneAtItsTime) {
    UIRhythmTrack track;
    ASSERT_TRUE(track.Load());
    track.SetNotes({1000}, {}, 0.2f);
    // Exactly at its time: the right edge at 598.
    auto span = MarkedSpan(At(track, 1000));
    EXPECT_EQ(span.second, UIRhythmTrack::kHitEdge - 1);
    EXPECT_GE(span.first, UIRhythmTrack::kHitEdge - UIRhythmTrack::kNoteWidth);
    // 100 ms before: 20 pixels short.
    span = MarkedSpan(At(track, 900));
    EXPECT_EQ(span.second, UIRhythmTrack::kHitEdge - 21);
    // Entering from the left 2990 ms ahead of its time (598 pixels away), not before.
    span = MarkedSpan(At(track, 1000 - 2990 + 5));
    EXPECT_EQ(span.first, 0);
    EXPECT_EQ(span.second, 0);
    EXPECT_EQ(MarkedSpan(At(track, 1000 - 2990 - 10)).first, -1);
    // Past its time it slides into the hit zone and is cut there.
    span = MarkedSpan(At(track, 1100));
    EXPECT_EQ(span.second, UIRhythmTrack::kHitEdge - 1);
    EXPECT_GT(span.first, UIRhythmTrack::kHitEdge - UIRhythmTrack::kNoteWidth + 10);
    EXPECT_EQ(MarkedSpan(At(track, 1000 + 200)).first, -1);
}

TEST_F(UIRhythmTrackTest, ALongNoteBarIsCutAtTheHitZone) {
    UIRhythmTrack track;
    ASSERT_TRUE(track.Load());
    // 1000 ms long at 0.2 pixels per ms: 200 pixels plus its 51-pixel ends.
    track.SetNotes({}, {{2000, 3000}}, 0.2f);
    auto span = MarkedSpan(At(track, 2000));
    EXPECT_EQ(span.second, UIRhythmTrack::kHitEdge - 1);
    EXPECT_EQ(span.first, UIRhythmTrack::kHitEdge - 251);
    // Half way through: the front half is gone into the hit zone.
    span = MarkedSpan(At(track, 2500));
    EXPECT_EQ(span.second, UIRhythmTrack::kHitEdge - 1);
    EXPECT_EQ(span.first, UIRhythmTrack::kHitEdge - 251 + 100);
    for (int x = UIRhythmTrack::kHitEdge; x < UIRhythmTrack::kWidth; ++x)
        ASSERT_FALSE(Marked(m_frame, x)) << x;
    // Its ends are round and its middle plain: the middle column looks like its neighbour.
    At(track, 2000);
    const int mid = UIRhythmTrack::kHitEdge - 125;
    EXPECT_EQ(m_frame.Pixel(mid, 80), m_frame.Pixel(mid + 1, 80));
    // At the end its tail (the 51-pixel cap) is what is left.
    span = MarkedSpan(At(track, 3000));
    EXPECT_EQ(span.first, UIRhythmTrack::kHitEdge - 51);
}

// On a screen of more pixels per unit the track is drawn at that size, with
// the notes where they are at scale 1 times the scale, and the same picture.
TEST_F(UIRhythmTrackTest, AtAScaleTheTrackIsDrawnInThatManyPixels) {
    for (double scale : {2.0, 1.875, 1.40625}) {
        SCOPED_TRACE(scale);
        UIRhythmTrack track;
        track.SetScale(scale);
        ASSERT_TRUE(track.Load());
        track.SetNotes({1000}, {}, 0.2f);
        const int w = static_cast<int>(std::lround(UIRhythmTrack::kWidth * scale));
        const int h = static_cast<int>(std::lround(UIRhythmTrack::kHeight * scale));
        EXPECT_EQ(track.Frames()->Width(), w);
        EXPECT_EQ(track.Frames()->Height(), h);
        Frame plain, frame;
        for (Frame* f : {&plain, &frame}) {
            f->width = w;
            f->height = h;
            f->pixels.assign(static_cast<size_t>(w) * h, 0);
        }
        UIRhythmTrack empty;
        empty.SetScale(scale);
        ASSERT_TRUE(empty.Load());
        empty.Render(0, plain);
        // Scaled down again, the empty track is the track at scale 1.
        double diff = 0;
        int samples = 0;
        for (int y = 2; y < UIRhythmTrack::kHeight - 2; y += 7)
            for (int x = 2; x < UIRhythmTrack::kWidth - 2; x += 7, ++samples) {
                const uint32_t a = m_plain.Pixel(x, y);
                const uint32_t b =
                    plain.Pixel(static_cast<int>((x + 0.5) * scale), static_cast<int>((y + 0.5) * scale));
                for (int shift = 0; shift < 24; shift += 8)
                    diff += std::abs(static_cast<int>((a >> shift) & 0xFF) -
                                     static_cast<int>((b >> shift) & 0xFF));
            }
        EXPECT_LT(diff / (3 * samples), 6.0);
        // At its time the note's right edge is at the hit edge, in pixels of this scale.
        track.SetOrigin(kOrigin);
        track.Render(static_cast<uint64_t>(kOrigin + 1000), frame);
        const int lane = static_cast<int>((UIRhythmTrack::kSpriteY + 18) * scale);
        const int edge = static_cast<int>(std::lround(UIRhythmTrack::kHitEdge * scale));
        int last = -1;
        for (int x = 0; x < w; ++x)
            if (frame.Pixel(x, lane) != plain.Pixel(x, lane))
                last = x;
        EXPECT_EQ(last, edge - 1);
        // 100 ms before, 20 units short.
        track.Render(static_cast<uint64_t>(kOrigin + 900), frame);
        last = -1;
        for (int x = 0; x < w; ++x)
            if (frame.Pixel(x, lane) != plain.Pixel(x, lane))
                last = x;
        EXPECT_NEAR(last, edge - 1 - 20 * scale, 1.0);
    }
}

TEST_F(UIRhythmTrackTest, TheFeedbackAnimationsPlayTheirFramesEveryTenthOfASecond) {
    UIRhythmTrack track;
    ASSERT_TRUE(track.Load());
    const int64_t at = 5000;
    const auto plainZone = Zone(m_plain);

    // Hit: eight different frames, then nothing.
    track.SetFeedback(UIRhythmTrack::kHit, static_cast<uint64_t>(kOrigin + at));
    std::vector<std::vector<uint32_t>> hit;
    for (int f = 0; f < 8; ++f)
        hit.push_back(Zone(At(track, at + f * 100 + 50)));
    for (int f = 0; f < 8; ++f) {
        EXPECT_NE(hit[f], plainZone) << f;
        if (f > 0) {
            EXPECT_NE(hit[f], hit[f - 1]) << f;
        }
    }
    EXPECT_EQ(Zone(At(track, at + 99)), hit[0]);
    EXPECT_EQ(Zone(At(track, at + 800)), plainZone);

    // Miss: five frames, then nothing.
    track.SetFeedback(UIRhythmTrack::kMiss, static_cast<uint64_t>(kOrigin + at));
    std::vector<std::vector<uint32_t>> miss;
    for (int f = 0; f < 5; ++f)
        miss.push_back(Zone(At(track, at + f * 100)));
    for (int f = 0; f < 5; ++f) {
        EXPECT_NE(miss[f], plainZone) << f;
        EXPECT_NE(miss[f], hit[std::min(f, 7)]) << f;
    }
    EXPECT_EQ(Zone(At(track, at + 500)), plainZone);

    // Hold: ten frames over a glow, round and round while the key is held.
    track.SetFeedback(UIRhythmTrack::kHold, static_cast<uint64_t>(kOrigin + at));
    const auto hold0 = Zone(At(track, at));
    EXPECT_NE(hold0, plainZone);
    EXPECT_NE(Zone(At(track, at + 100)), hold0);
    EXPECT_EQ(Zone(At(track, at + 1000)), hold0);
    EXPECT_EQ(Zone(At(track, at + 60000)), hold0);
    // Released: gone.
    track.SetFeedback(UIRhythmTrack::kNone, static_cast<uint64_t>(kOrigin + at + 61000));
    EXPECT_EQ(Zone(At(track, at + 61000)), plainZone);
}

TEST_F(UIRhythmTrackTest, TheThreadPublishesAPictureAboutEveryTenMilliseconds) {
    UIRhythmTrack track;
    ASSERT_TRUE(track.Load());
    track.SetNotes({1000}, {}, 0.2f);
    track.SetOrigin(static_cast<int64_t>(UIClock::NowMs()));
    using Clock = std::chrono::steady_clock;
    constexpr size_t kFrames = 30;
    std::mutex mutex;
    std::vector<Clock::time_point> seen;
    track.SetFrameObserver([&](const Frame&, uint64_t) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(Clock::now());
    });
    // The baseline, beside the track under the same load: a thread that only keeps a 10 ms
    // rhythm the way the drawing thread does, for as many intervals.
    Clock::duration baseline{};
    std::thread reference([&] {
        const auto start = Clock::now();
        auto next = start;
        for (size_t i = 1; i < kFrames; ++i) {
            next += std::chrono::milliseconds(UIRhythmTrack::kRenderIntervalMs);
            std::this_thread::sleep_until(next);
        }
        baseline = Clock::now() - start;
    });
    ASSERT_TRUE(track.Start());
    EXPECT_TRUE(track.IsRunning());
    const auto end = Clock::now() + std::chrono::seconds(10);
    auto count = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    };
    while (count() < kFrames && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    track.Stop();
    reference.join();
    EXPECT_FALSE(track.IsRunning());
    ASSERT_GE(seen.size(), kFrames) << "pictures drawn in 10 s";
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const auto took = duration_cast<milliseconds>(seen[kFrames - 1] - seen[0]);
    // Each tick waits for its own time: never a burst, so 29 intervals take at least 290 ms less
    // the first tick's lateness (under 10 ms).
    EXPECT_GE(took.count(), static_cast<int64_t>((kFrames - 2) * UIRhythmTrack::kRenderIntervalMs));
    // And not slower than three times what a thread that only keeps the rhythm needed.
    EXPECT_LE(took.count(), 3 * duration_cast<milliseconds>(baseline).count() + 30)
        << "the baseline took " << duration_cast<milliseconds>(baseline).count() << " ms";
    auto frames = track.Frames();
    EXPECT_GE(frames->PublishedCount(), kFrames);
    ASSERT_TRUE(frames->TakeLatest());
    EXPECT_EQ(frames->Front().pixels.size(), m_plain.pixels.size());
}

// ---- on the exam page ----

class UIRhythmScreenshotTest : public ElementFixture {
protected:
    void SetUp() override {
        ElementFixture::SetUp();
        if (auto* tips = Pm().FindControl("tips"))
            tips->SetVisible(false);
    }
    UIRhythmElement* ShowRhythm() {
        m_record = std::make_unique<VLRhythmQuestion>();
        m_record->m_type = kQuestionRhythm;
        m_record->m_content = "请先聆听节奏音乐，在听到“开始答题”提示后，用键盘空格键敲击出节奏。";
        m_record->m_rhythmFile = "750\n1500\n2250-3000\n3750\n4500";
        const std::string score = m_dir.File("score.png");
        EXPECT_TRUE(WriteScore(score, 900, 160, false));
        m_record->m_numberedPic = score;
        m_area->RemoveAll();
        std::unique_ptr<UIQuestionElement> element = CreateQuestionElement(kQuestionRhythm);
        auto* e = dynamic_cast<UIRhythmElement*>(element.get());
        m_area->Add(std::move(element));
        e->SetManager(&Pm(), m_area, true);
        e->InitQuestion(m_record.get());
        e->SetEnabled(false);
        m_driver.Pump();
        return e;
    }
    // Shows the track as its thread draws it at the current time.
    void ShowCurrentFrame(UIRhythmElement* e) {
        auto frames = e->GetTrack()->Frames();
        const uint64_t now = UIClock::NowMs();
        // A picture drawn at this time, not one still in hand when the clock moved.
        for (int i = 0; i < 5000; ++i) {
            e->GetTrackView()->Refresh();
            if (frames->Front().timeMs == now)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(frames->Front().timeMs, now);
        m_driver.Pump();
    }
    std::unique_ptr<VLRhythmQuestion> m_record;
};

TEST_F(UIRhythmScreenshotTest, BeforeDuringAndAfterTheAnsweringTime) {
    UIRhythmElement* e = ShowRhythm();
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(m_driver.Screenshot(ShotPath("rhythm-before.png")));

    e->SetEnabled(true);
    const uint32_t leadIn = e->Start(80);
    const int64_t origin = e->GetOrigin();
    m_driver.Advance(leadIn + 300);
    ShowCurrentFrame(e);
    // The track lies over the frame: its hit zone where the frame's is.
    const UIRect track = e->GetTrackView()->GetPos();
    const UIRect frame = e->GetTrackFrame()->GetPos();
    EXPECT_EQ(track.left, frame.left + 3);
    EXPECT_EQ(track.top, frame.top);
    EXPECT_TRUE(m_driver.Screenshot(ShotPath("rhythm-scrolling.png")));

    // A tap right on the first beat, shown 50 ms later.
    m_driver.KeyDownAt(VK_SPACE, static_cast<uint64_t>(origin + 750));
    m_driver.KeyUpAt(VK_SPACE, static_cast<uint64_t>(origin + 800));
    m_driver.Advance(static_cast<uint64_t>(origin + 800 - static_cast<int64_t>(UIClock::NowMs())));
    ShowCurrentFrame(e);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHit);
    // The feedback is on screen over the hit zone.
    const UIPoint zone{track.left + UIRhythmTrack::kFeedbackX + 45,
                       track.top + UIRhythmTrack::kFeedbackY + 45};
    const uint32_t withHit = m_driver.PixelAt(zone.x, zone.y);
    EXPECT_TRUE(m_driver.Screenshot(ShotPath("rhythm-hit.png")));

    // Holding the long note.
    m_driver.KeyDownAt(VK_SPACE, static_cast<uint64_t>(origin + 2260));
    m_driver.Advance(static_cast<uint64_t>(origin + 2600 - static_cast<int64_t>(UIClock::NowMs())));
    ShowCurrentFrame(e);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kHold);
    EXPECT_TRUE(m_driver.Screenshot(ShotPath("rhythm-hold.png")));
    m_driver.KeyUpAt(VK_SPACE, static_cast<uint64_t>(origin + 3000));

    // A tap far from every beat.
    m_driver.KeyDownAt(VK_SPACE, static_cast<uint64_t>(origin + 3300));
    m_driver.KeyUpAt(VK_SPACE, static_cast<uint64_t>(origin + 3350));
    m_driver.Advance(static_cast<uint64_t>(origin + 3420 - static_cast<int64_t>(UIClock::NowMs())));
    ShowCurrentFrame(e);
    EXPECT_EQ(e->GetResult(), UIRhythmElement::kMiss);
    EXPECT_NE(m_driver.PixelAt(zone.x, zone.y), withHit);
    EXPECT_TRUE(m_driver.Screenshot(ShotPath("rhythm-miss.png")));
    EXPECT_EQ(e->GetAnswer(), "750,2260-3000,3300");

    e->StopActivity();
    m_driver.Pump();
    EXPECT_FALSE(e->GetTrackView()->IsVisible());
    EXPECT_TRUE(m_driver.Screenshot(ShotPath("rhythm-after.png")));
}

}  // namespace
}  // namespace KwLib
