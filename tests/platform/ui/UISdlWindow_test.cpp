// The SDL back end: a real SDL window (SDL's offscreen video driver, so no
// display is needed) shows what the paint manager drew and turns SDL's mouse
// and text events into the toolkit's messages.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "UITestWindow.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIRichEdit.h"

namespace KwLib {
namespace {

uint32_t SurfacePixel(SDL_Surface* s, int x, int y) {
    SDL_LockSurface(s);
    const uint8_t* row = static_cast<const uint8_t*>(s->pixels) + y * s->pitch;
    uint32_t raw = *reinterpret_cast<const uint32_t*>(row + x * s->format->BytesPerPixel);
    SDL_UnlockSurface(s);
    uint8_t r, g, b;
    SDL_GetRGB(raw, s->format, &r, &g, &b);
    return 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

void PushButton(SDL_Window* w, uint32_t type, UIPoint pt, int clicks = 1) {
    SDL_Event e{};
    e.type = type;
    e.button.windowID = SDL_GetWindowID(w);
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = static_cast<uint8_t>(clicks);
    e.button.x = pt.x;
    e.button.y = pt.y;
    SDL_PushEvent(&e);
}

// Real SDL windows on SDL's offscreen driver, for the length of a test.
class UISdlWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        UIApplication::Instance().SetHeadless(false);
        ASSERT_TRUE(UIApplication::Instance().EnsureVideo()) << SDL_GetError();
        UIResourceSingleton::Instance().SetResourcePath(TestResourceDir());
    }
    void TearDown() override {
        auto& app = UIApplication::Instance();
        app.ShutdownVideo();
        EXPECT_FALSE(app.IsVideoActive());
        app.SetHeadless(true);
    }
    UITestDriver driver;
};

TEST_F(UISdlWindowTest, RealWindowShowsThePaintAndTakesSdlInput) {
    {
        TestWindow w("ControlTest");
        ASSERT_TRUE(w.Create(nullptr, "sdl window"));
        ASSERT_NE(w.GetNativeWindow(), nullptr);
        w.ShowWindow();
        driver.Attach(&w);
        driver.Pump();

        // The window's own surface holds what the toolkit painted.
        SDL_Surface* surface = SDL_GetWindowSurface(w.GetNativeWindow());
        ASSERT_NE(surface, nullptr);
        UIControl* progress = driver.Find(402);
        UIPoint filled{progress->GetPos().left + 5, (progress->GetPos().top + progress->GetPos().bottom) / 2};
        EXPECT_EQ(SurfacePixel(surface, filled.x, filled.y), driver.PixelAt(filled.x, filled.y));
        EXPECT_NE(driver.PixelAt(filled.x, filled.y), 0xFFFFFFFFu);

        // SDL mouse events become a click.
        UIPoint ok;
        ASSERT_TRUE(driver.CenterOf(201, ok));
        PushButton(w.GetNativeWindow(), SDL_MOUSEBUTTONDOWN, ok);
        PushButton(w.GetNativeWindow(), SDL_MOUSEBUTTONUP, ok);
        driver.Pump();
        int clicks = 0;
        for (auto& n : w.notes)
            clicks += n.type == kNotifyClick && n.id == 201;
        EXPECT_EQ(clicks, 1);

        // SDL text input reaches the focused field, character by character.
        UIPoint edit;
        ASSERT_TRUE(driver.CenterOf(501, edit));
        PushButton(w.GetNativeWindow(), SDL_MOUSEBUTTONDOWN, edit);
        PushButton(w.GetNativeWindow(), SDL_MOUSEBUTTONUP, edit);
        driver.Pump();
        SDL_Event text{};
        text.type = SDL_TEXTINPUT;
        text.text.windowID = SDL_GetWindowID(w.GetNativeWindow());
        std::strcpy(text.text.text, "音乐");
        SDL_PushEvent(&text);
        SDL_Event key{};
        key.type = SDL_KEYDOWN;
        key.key.windowID = text.text.windowID;
        key.key.keysym.sym = SDLK_RETURN;
        SDL_PushEvent(&key);
        driver.Pump();
        EXPECT_EQ(driver.Find(501)->GetText(), "音乐");
        bool entered = false;
        for (auto& n : w.notes)
            entered |= n.type == kNotifyReturn && n.id == 501;
        EXPECT_TRUE(entered);

        // A worker's flood of results wakes the loop once, not once per
        // message: SDL's queue keeps room for the user's input.
        constexpr int kPosts = 70000;  // more than SDL's queue holds
        std::thread worker([&w] {
            for (int i = 0; i < kPosts; ++i)
                w.PostMessageW(WM_USER + 30, static_cast<uintptr_t>(i), 0);
        });
        worker.join();
        EXPECT_LE(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_USEREVENT, SDL_LASTEVENT), 1);
        PushButton(w.GetNativeWindow(), SDL_MOUSEBUTTONDOWN, ok);
        PushButton(w.GetNativeWindow(), SDL_MOUSEBUTTONUP, ok);
        w.messages.clear();
        clicks = 0;
        driver.Pump();
        ASSERT_EQ(w.messages.size(), static_cast<size_t>(kPosts));
        EXPECT_EQ(w.messages.back().wParam, static_cast<uintptr_t>(kPosts - 1));
        for (auto& n : w.notes)
            clicks += n.type == kNotifyClick && n.id == 201;
        EXPECT_EQ(clicks, 2);  // the click after the flood was not lost
        // And the loop is woken again after it drained the queue.
        w.PostMessageW(WM_USER + 30, 1, 0);
        EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_USEREVENT, SDL_LASTEVENT), 1);
        driver.Pump();

        // Closing the SDL window asks the window to close.
        SDL_Event close{};
        close.type = SDL_WINDOWEVENT;
        close.window.windowID = text.text.windowID;
        close.window.event = SDL_WINDOWEVENT_CLOSE;
        SDL_PushEvent(&close);
        driver.Pump();
        EXPECT_TRUE(w.destroyed);
        EXPECT_EQ(w.GetNativeWindow(), nullptr);
    }
}

// A real window at 1.875 pixels per unit: SDL's window is that many times
// larger, its surface holds the scaled picture, and SDL's mouse events (in
// pixels) reach the control under them at their edges too.
TEST_F(UISdlWindowTest, AScaledRealWindowShowsPixelsAndTakesClicksInUnits) {
    {
        TestWindow w("ScaleTest");
        ASSERT_TRUE(w.Create(nullptr, "scaled sdl window"));
        w.SetScale(1.875);
        w.ShowWindow();
        driver.Attach(&w);
        driver.Pump();
        int sw = 0, sh = 0;
        SDL_GetWindowSize(w.GetNativeWindow(), &sw, &sh);
        EXPECT_EQ(sw, static_cast<int>(std::lround(301 * 1.875)));
        EXPECT_EQ(sh, static_cast<int>(std::lround(160 * 1.875)));
        SDL_Surface* surface = SDL_GetWindowSurface(w.GetNativeWindow());
        ASSERT_NE(surface, nullptr);
        EXPECT_EQ(surface->w, sw);
        // Every control's first and last pixel column: shown in its colour, clicked as it.
        const int y = static_cast<int>(20 * 1.875);
        for (int id : {11, 12, 13, 14, 15}) {
            const UIRect px = w.PaintManager().ClientToDevice(driver.Find(id)->GetPos());
            for (int x : {px.left, px.right - 1}) {
                EXPECT_EQ(SurfacePixel(surface, x, y), driver.Find(id)->GetBkColor()) << id << " at " << x;
                w.notes.clear();
                PushButton(w.GetNativeWindow(), SDL_MOUSEBUTTONDOWN, {x, y});
                PushButton(w.GetNativeWindow(), SDL_MOUSEBUTTONUP, {x, y});
                driver.Pump();
                ASSERT_EQ(w.notes.size(), 1u) << id << " at " << x;
                EXPECT_EQ(w.notes[0].id, id) << "pixel " << x;
            }
        }
        w.DestroyWindow();
    }
}

}  // namespace
}  // namespace KwLib
