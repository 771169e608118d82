// Input carries the moment it happened: SDL's event stamp, the arrival of an
// automation command, or a time the test driver chooses reaches the message
// filters and the controls' events, however long the UI thread took to get
// there. And pictures drawn on another thread reach the window through a
// UIFrameExchange without either side waiting.
#include <gtest/gtest.h>
#include <unistd.h>

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "UITestWindow.h"
#include "platform/common/KWJson.h"
#include "platform/common/KWLineSocketClient.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIAutomationServer.h"
#include "platform/ui/UIFrameExchange.h"
#include "platform/ui/UIFrameView.h"

namespace KwLib {
namespace {

// Records when the keys it sees happened and when they were handled.
class KeyTimes : public IMessageFilterUI {
public:
    struct Key {
        uint32_t message;
        uint32_t vk;
        uint64_t happened;
        uint64_t handled;
    };
    intptr_t MessageHandler(uint32_t message, uintptr_t wParam, intptr_t, bool&) override {
        if (message == WM_KEYDOWN || message == WM_KEYUP)
            keys.push_back({message, static_cast<uint32_t>(wParam),
                            UIApplication::Instance().GetMessageTime(), UIClock::NowMs()});
        return 0;
    }
    std::vector<Key> keys;
};

void Busy(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST(UIInputTimeTest, TheDriverHandsOverChosenTimesAndOtherMessagesCarryNow) {
    UITestBase base;
    auto w = base.Open("ControlTest");
    KeyTimes filter;
    w->PaintManager().AddMessageFilter(&filter);
    base.driver.Advance(500);
    const uint64_t now = UIClock::NowMs();
    base.driver.KeyDownAt(VK_SPACE, now - 50);
    base.driver.KeyUpAt(VK_SPACE, now - 20);
    base.driver.PressKey('A');
    ASSERT_EQ(filter.keys.size(), 4u);
    EXPECT_EQ(filter.keys[0].happened, now - 50);
    EXPECT_EQ(filter.keys[0].handled, now);
    EXPECT_EQ(filter.keys[1].happened, now - 20);
    EXPECT_EQ(filter.keys[2].happened, now);
    // Outside any message the time is simply now.
    base.driver.Advance(30);
    EXPECT_EQ(UIApplication::Instance().GetMessageTime(), now + 30);
    w->PaintManager().RemoveMessageFilter(&filter);
}

TEST(UIInputTimeTest, SdlKeysKeepTheirMomentWhileTheLoopIsBusy) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    UITestDriver driver;
    auto& app = UIApplication::Instance();
    app.SetHeadless(false);
    if (!app.EnsureVideo())
        GTEST_SKIP() << "no SDL video: " << SDL_GetError();
    // This test is about real time passing.
    UIClock::SetManual(false);
    UIResourceSingleton::Instance().SetResourcePath(TestResourceDir());
    {
        TestWindow w("ControlTest");
        ASSERT_TRUE(w.Create(nullptr, "sdl keys"));
        w.ShowWindow();
        driver.Attach(&w);
        app.PumpOnce(0);
        KeyTimes filter;
        w.PaintManager().AddMessageFilter(&filter);

        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.windowID = SDL_GetWindowID(w.GetNativeWindow());
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = SDLK_SPACE;
        const uint64_t pressed = UIClock::NowMs();
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        const uint64_t pushed = UIClock::NowMs();
        Busy(60);  // the UI thread is busy painting a big page
        for (int i = 0; i < 50 && filter.keys.empty(); ++i)
            app.PumpOnce(0);
        ASSERT_EQ(filter.keys.size(), 1u);
        const KeyTimes::Key& key = filter.keys[0];
        EXPECT_EQ(key.vk, VK_SPACE);
        // The key counts from when it was pressed (SDL's clock and ours round
        // their milliseconds apart, hence one either side)...
        EXPECT_GE(key.happened + 1, pressed);
        EXPECT_LE(key.happened, pushed + 1);
        // ... not from when the loop got to it.
        EXPECT_GE(key.handled, key.happened + 58);
        w.PaintManager().RemoveMessageFilter(&filter);
        w.DestroyWindow();
    }
    app.ShutdownVideo();
    app.SetHeadless(true);
}

TEST(UIInputTimeTest, AutomationKeysCarryTheMomentTheyArrived) {
    std::string folder = std::filesystem::temp_directory_path() / "vlkeys.XXXXXX";
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    const std::string socket = folder + "/auto.sock";
    UITestBase base;
    UIClock::SetManual(false);
    auto w = base.Open("ControlTest");
    KeyTimes filter;
    w->PaintManager().AddMessageFilter(&filter);

    struct Host : IUIAutomationHost {
        UIWindowWnd* main = nullptr;
        UIWindowWnd* GetAutomationMainWindow() override { return main; }
    } host;
    host.main = w.get();
    UIAutomationServer server;
    std::string error;
    ASSERT_TRUE(server.Start(socket, &host, &error)) << error;

    auto& app = UIApplication::Instance();
    std::atomic<uint64_t> sent{0};
    std::atomic<bool> done{false};
    std::string answer, stamped, future;
    std::atomic<uint64_t> chosen{0};
    std::thread client([&] {
        KWLineSocketClient c;
        if (c.Connect(socket, &error)) {
            sent = UIClock::NowMs();
            c.Exchange(R"({"cmd":"key","key":"space","down":true})", answer, 120000);
            // A driver that stamped its key itself: that moment counts.
            chosen = UIClock::NowMs() - 30;
            c.Exchange(
                R"({"cmd":"key","key":"space","down":false,"time":)" + std::to_string(chosen.load()) + "}",
                stamped, 120000);
            c.Exchange(
                R"({"cmd":"key","key":"space","time":)" + std::to_string(UIClock::NowMs() + 5000) + "}",
                future, 120000);
        }
        done = true;
        app.Wake();
    });
    // The command waits in the queue while the UI thread is busy.
    while (!app.HasQueuedTasks() && !done)
        Busy(1);
    const uint64_t queued = UIClock::NowMs();
    Busy(60);
    app.RunUntil([&] { return done.load(); });
    client.join();
    ASSERT_NE(answer.find("\"ok\":true"), std::string::npos) << answer;
    ASSERT_EQ(filter.keys.size(), 2u);
    EXPECT_EQ(filter.keys[1].message, static_cast<uint32_t>(WM_KEYUP));
    EXPECT_EQ(filter.keys[1].happened, chosen.load());
    EXPECT_NE(stamped.find("\"ok\":true"), std::string::npos) << stamped;
    // Input from the future is refused.
    EXPECT_NE(future.find("\"ok\":false"), std::string::npos) << future;
    EXPECT_GE(filter.keys[0].happened, sent.load());
    EXPECT_LE(filter.keys[0].happened, queued);
    EXPECT_GE(filter.keys[0].handled, filter.keys[0].happened + 60);

    server.Stop();
    w->PaintManager().RemoveMessageFilter(&filter);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

// A frame whose every pixel says which picture it is.
void Paint(UIFrameExchange::Frame& f, uint32_t value) {
    std::fill(f.pixels.begin(), f.pixels.end(), value);
}

TEST(UIFrameExchangeTest, TheConsumerGetsTheNewestWholePictureAndNeverWaits) {
    UIFrameExchange frames(64, 32);
    EXPECT_FALSE(frames.TakeLatest());
    EXPECT_EQ(frames.Front().sequence, 0u);

    Paint(frames.Back(), 0xFF000001);
    frames.Publish(10);
    Paint(frames.Back(), 0xFF000002);
    frames.Publish(20);
    // Two published, one taken: the newer one; the older is gone.
    ASSERT_TRUE(frames.TakeLatest());
    EXPECT_EQ(frames.Front().sequence, 2u);
    EXPECT_EQ(frames.Front().timeMs, 20u);
    EXPECT_EQ(frames.Front().Pixel(63, 31), 0xFF000002u);
    EXPECT_FALSE(frames.TakeLatest());
    EXPECT_EQ(frames.Front().sequence, 2u);

    // A producer running flat out: every picture taken is whole and newer than the last.
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        for (uint32_t n = 3; !stop; ++n) {
            Paint(frames.Back(), 0xFF000000 | n);
            frames.Publish(n);
        }
    });
    uint64_t last = 2;
    int taken = 0;
    while (taken < 2000) {
        if (!frames.TakeLatest())
            continue;
        const auto& f = frames.Front();
        ASSERT_GT(f.sequence, last);
        last = f.sequence;
        const uint32_t expected = 0xFF000000 | static_cast<uint32_t>(f.timeMs);
        ASSERT_EQ(f.Pixel(0, 0), expected);
        ASSERT_EQ(f.Pixel(63, 31), expected);
        ++taken;
    }
    stop = true;
    producer.join();
}

TEST(UIFrameExchangeTest, AFrameViewShowsTheNewestPictureWhenItLooks) {
    UITestBase base;
    auto w = base.Open("ControlTest");
    auto frames = std::make_shared<UIFrameExchange>(40, 20);
    auto* view = new UIFrameView;
    view->SetFloatPos({10, 10, 50, 30});
    auto* root = dynamic_cast<UIContainer*>(w->PaintManager().GetRoot());
    ASSERT_NE(root, nullptr);
    root->Add(view);
    view->SetExchange(frames);
    view->StartPolling(10);
    base.driver.Pump();
    const uint32_t before = base.driver.PixelAt(20, 20);

    Paint(frames->Back(), 0xFF3366CC);
    frames->Publish(UIClock::NowMs());
    // Nothing shows until the view looks.
    EXPECT_EQ(base.driver.PixelAt(20, 20), before);
    base.driver.Advance(10);
    EXPECT_EQ(view->ShownSequence(), 1u);
    EXPECT_EQ(base.driver.PixelAt(20, 20), 0xFF3366CCu);
    EXPECT_EQ(base.driver.PixelAt(49, 29), 0xFF3366CCu);
    // Clicks fall through it.
    EXPECT_EQ(w->PaintManager().FindControl(UIPoint{20, 20}) == view, false);

    Paint(frames->Back(), 0xFFCC6633);
    frames->Publish(UIClock::NowMs());
    view->StopPolling();
    base.driver.Advance(50);
    EXPECT_EQ(base.driver.PixelAt(20, 20), 0xFF3366CCu);
    EXPECT_TRUE(view->Refresh());
    EXPECT_EQ(base.driver.PixelAt(20, 20), 0xFFCC6633u);
}

}  // namespace
}  // namespace KwLib
