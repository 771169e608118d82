// The rhythm track's costs: one picture, the rhythm of the drawing thread over
// ten seconds (how far each interval strays from 10 ms, and the thread's share
// of a core), and the delay from a space-bar press to the first picture that
// shows its feedback.
//
//     VL_TARGETS=VLRhythm_bench bash scripts/build.sh release
//     build/bench/elements/VLRhythm_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "elements/UIQuestionElement.h"
#include "elements/UIRhythmElement.h"
#include "elements/UIRhythmTrack.h"
#include "exam/VLQuestion.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIClock.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {
namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

// A busy track: a note every 250 ms and a long note every two seconds, so the
// lane is full, with the hit animation playing.
void FillTrack(UIRhythmTrack& track) {
    std::vector<uint32_t> beats;
    std::vector<UIRhythmTrack::LongNote> longs;
    for (uint32_t t = 0; t < 60000; t += 250)
        beats.push_back(t);
    for (uint32_t t = 1000; t < 60000; t += 2000)
        longs.push_back({t, t + 600});
    track.SetNotes(beats, longs, 0.2f);
    track.Load();
}

void BM_TrackFrame(benchmark::State& state) {
    UIResourceSingleton::Instance().SetResourcePath(VL_RES_DIR);
    UIRhythmTrack track;
    FillTrack(track);
    track.SetOrigin(0);
    UIFrameExchange::Frame frame;
    frame.width = UIRhythmTrack::kWidth;
    frame.height = UIRhythmTrack::kHeight;
    frame.pixels.assign(static_cast<size_t>(frame.width) * frame.height, 0);
    uint64_t now = 10000;
    for (auto _ : state) {
        if (now % 1000 == 0)
            track.SetFeedback(now % 3000 == 0 ? UIRhythmTrack::kHold : UIRhythmTrack::kHit, now);
        track.Render(now, frame);
        benchmark::DoNotOptimize(frame.pixels.data());
        now += 10;
    }
    state.SetLabel("684 x 155, notes, bars and feedback");
}
BENCHMARK(BM_TrackFrame)->Unit(benchmark::kMicrosecond);

// Ten seconds of the real drawing thread.
void BM_TrackThreadTenSeconds(benchmark::State& state) {
    UIResourceSingleton::Instance().SetResourcePath(VL_RES_DIR);
    for (auto _ : state) {
        UIRhythmTrack track;
        FillTrack(track);
        track.SetOrigin(static_cast<int64_t>(UIClock::NowMs()));
        std::vector<Clock::time_point> published;
        published.reserve(2000);
        std::mutex mutex;
        track.SetFrameObserver([&](const UIFrameExchange::Frame&, uint64_t) {
            std::lock_guard<std::mutex> lock(mutex);
            published.push_back(Clock::now());
        });
        track.Start();
        const double cpuBefore = track.ThreadCpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        track.Stop();
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        std::vector<double> stray;
        for (size_t i = 1; i < published.size(); ++i)
            stray.push_back(std::abs(Micros(published[i] - published[i - 1]) - 10000.0) / 1000.0);
        state.counters["frames"] = static_cast<double>(published.size());
        state.counters["stray_p50_ms"] = Percentile(stray, 0.50);
        state.counters["stray_p99_ms"] = Percentile(stray, 0.99);
        state.counters["stray_max_ms"] = Percentile(stray, 1.0);
        state.counters["cpu_pct_of_core"] = 100.0 * (track.ThreadCpuSeconds() - cpuBefore) / wall;
    }
}
BENCHMARK(BM_TrackThreadTenSeconds)->Iterations(1)->Unit(benchmark::kSecond);

class BenchWindow : public UIWindowImplBase {
public:
    std::string GetWindowClassName() const override { return "ElementTest"; }
    std::string GetSkinFile() const override {
        return std::string(VL_SOURCE_DIR) + "/tests/elements/layouts.xml";
    }
    UIControl* CreateControl(const std::string&) override { return nullptr; }
};

// A space-bar press handled by the rhythm element in a (headless) window, to
// the first picture of the drawing thread that shows the feedback.
void BM_KeyToFeedbackFrame(benchmark::State& state) {
    UIResourceSingleton::Instance().SetResourcePath(VL_RES_DIR);
    UIApplication::Instance().SetHeadless(true);
    BenchWindow window;
    window.Create(nullptr, "bench", 0, 0, 0, 0);
    auto* area = dynamic_cast<UIContainer*>(window.PaintManager().FindControl("area"));
    VLRhythmQuestion record;
    record.m_type = kQuestionRhythm;
    std::string rhythm;
    for (int t = 0; t < 600000; t += 500)
        rhythm += std::to_string(t) + "\n";
    record.m_rhythmFile = rhythm;
    std::unique_ptr<UIQuestionElement> owned = CreateQuestionElement(kQuestionRhythm);
    auto* element = dynamic_cast<UIRhythmElement*>(owned.get());
    area->Add(std::move(owned));
    element->SetManager(&window.PaintManager(), area, true);
    element->InitQuestion(&record);
    element->SetEnabled(true);
    element->Start(80);
    // The music is playing: taps count.
    element->SetOrigin(static_cast<int64_t>(UIClock::NowMs()) - 1000);
    UIRhythmTrack* track = element->GetTrack();

    std::atomic<uint64_t> wanted{0};
    std::atomic<int64_t> shownAt{0};
    track->SetFrameObserver([&](const UIFrameExchange::Frame&, uint64_t serial) {
        if (wanted.load() != 0 && serial >= wanted.load() && shownAt.load() == 0)
            shownAt = Clock::now().time_since_epoch().count();
    });
    std::vector<double> delays;
    for (auto _ : state) {
        // Presses land anywhere between two pictures, as a child's do.
        std::this_thread::sleep_for(std::chrono::microseconds(3000 + (delays.size() * 1777) % 7000));
        shownAt = 0;
        wanted = track->FeedbackSerial() + 1;
        const auto pressed = Clock::now();
        window.DispatchMessage(WM_KEYDOWN, VK_SPACE, 0, UIClock::NowMs());
        window.DispatchMessage(WM_KEYUP, VK_SPACE, 0, UIClock::NowMs());
        const auto giveUp = Clock::now() + std::chrono::seconds(2);
        while (shownAt.load() == 0 && Clock::now() < giveUp)
            std::this_thread::yield();
        if (shownAt.load() == 0) {
            state.SkipWithError("no picture showed the feedback");
            break;
        }
        const double ms = (shownAt.load() - pressed.time_since_epoch().count()) / 1e6;
        delays.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
    element->Stop();
    state.counters["delay_p50_ms"] = Percentile(delays, 0.5);
    state.counters["delay_p99_ms"] = Percentile(delays, 0.99);
    state.counters["delay_max_ms"] = Percentile(delays, 1.0);
    window.DestroyWindow();
}
BENCHMARK(BM_KeyToFeedbackFrame)->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace KwLib
