// Windows drawn at more than one pixel per layout unit: the layout keeps its
// units, edges land on whole pixels, a click hits what the pixel shows, text
// measured at a scale fits the box made for it, resources drawn at twice the
// size are used pixel for pixel, and a fixed layout fills a whole screen.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "UITestWindow.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDesktopScale.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {
namespace {

constexpr double kScales[] = {1.0, 1.25, 1.40625, 1.875, 2.0, 2.5};
constexpr uint32_t kRowColours[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF};

class UIScaleTest : public ::testing::Test, public UITestBase {
protected:
    ~UIScaleTest() override {
        UIApplication::Instance().SetHeadlessScreenSize({1920, 1080});
        UIApplication::Instance().SetScaleOverride(0);
        UIApplication::Instance().SetDesktopScale(0);
    }
};

TEST_F(UIScaleTest, TheLayoutKeepsItsUnitsOnALargerSurface) {
    auto w = Open("ScaleTest");
    std::vector<UIRect> at1;
    for (int id : {11, 12, 13, 14, 15, 20, 21, 22, 30})
        at1.push_back(driver.Find(id)->GetPos());
    for (double s : kScales) {
        w->SetScale(s);
        driver.Pump();
        SCOPED_TRACE(s);
        EXPECT_EQ(w->GetClientSize(), (UISize{301, 160}));
        const UISize device{static_cast<int>(std::lround(301 * s)), static_cast<int>(std::lround(160 * s))};
        EXPECT_EQ(w->PaintManager().GetDeviceSize(), device);
        EXPECT_EQ(w->GetWindowRect().Width(), device.cx);
        EXPECT_EQ(w->GetWindowRect().Height(), device.cy);
        size_t i = 0;
        for (int id : {11, 12, 13, 14, 15, 20, 21, 22, 30})
            EXPECT_EQ(driver.Find(id)->GetPos(), at1[i++]) << id;
        // The picture of the window is the surface's: device pixels.
        const std::string shot =
            TestOutputDir() + "scale_" + std::to_string(static_cast<int>(s * 1000)) + ".png";
        ASSERT_TRUE(driver.Screenshot(shot));
        UIImageInfo info;
        ASSERT_TRUE(UILoadResource::ImageInfoFromFile(shot, info));
        EXPECT_EQ(info.width, device.cx);
        EXPECT_EQ(info.height, device.cy);
    }
    // A window shown over another takes its scale, and is centred on it in pixels.
    w->SetScale(1.875);
    TestWindow box("ModalBox");
    ASSERT_TRUE(box.Create(w.get(), "box"));
    EXPECT_DOUBLE_EQ(box.GetScale(), 1.875);
    EXPECT_EQ(box.GetWindowRect().Width(), static_cast<int>(std::lround(box.GetClientSize().cx * 1.875)));
    const UIRect owner = w->GetWindowRect(), rc = box.GetWindowRect();
    EXPECT_NEAR(rc.left + rc.Width() / 2.0, owner.left + owner.Width() / 2.0, 1.0);
    EXPECT_NEAR(rc.top + rc.Height() / 2.0, owner.top + owner.Height() / 2.0, 1.0);
    box.DestroyWindow();
}

// Along a row of neighbours of odd widths every pixel is one control's colour
// (no seam, no blend), and the point a pixel maps to lies in that control: a
// click at any pixel reaches the control that pixel shows.
TEST_F(UIScaleTest, NeighboursMeetOnWholePixelsAndEveryPixelClicksWhatItShows) {
    auto w = Open("ScaleTest");
    for (double s : kScales) {
        SCOPED_TRACE(s);
        w->SetScale(s);
        driver.Pump();
        const int y = static_cast<int>(20 * s);
        const int width = w->PaintManager().GetDeviceSize().cx;
        std::set<int> clicked;
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = driver.DevicePixelAt(x, y);
            const UIPoint pt = w->WindowPointToClient(x, y);
            UIControl* hit = w->PaintManager().FindControl(pt);
            ASSERT_NE(hit, nullptr) << x;
            ASSERT_EQ(pixel, hit->GetBkColor()) << "pixel " << x << " shows another control than it hits";
            ASSERT_NE(std::find(std::begin(kRowColours), std::end(kRowColours), pixel), std::end(kRowColours))
                << "blended pixel " << std::hex << pixel << " at " << std::dec << x;
            // The first and last pixel of each control, clicked as a student would.
            const bool edge = x == 0 || x == width - 1 || driver.DevicePixelAt(x - 1, y) != pixel ||
                              driver.DevicePixelAt(x + 1, y) != pixel;
            if (edge) {
                const size_t before = w->notes.size();
                driver.ClickAt(pt);
                ASSERT_EQ(w->notes.size(), before + 1) << x;
                EXPECT_EQ(w->notes.back().id, hit->GetId());
                clicked.insert(hit->GetId());
            }
        }
        EXPECT_EQ(clicked, (std::set<int>{11, 12, 13, 14, 15}));
        // Pixels off the window map outside the layout: nothing is there.
        EXPECT_EQ(w->PaintManager().FindControl(w->WindowPointToClient(-3, y)), nullptr);
        EXPECT_EQ(w->PaintManager().FindControl(w->WindowPointToClient(width + 2, y)), nullptr);
        // A one-unit border is whole pixels wide: pure black, then the fill.
        const UIRect border = w->PaintManager().ClientToDevice(driver.Find(22)->GetPos());
        const int bw = std::max(1, static_cast<int>(std::lround(s)));
        const int my = (border.top + border.bottom) / 2;
        for (int i = 0; i < bw; ++i)
            EXPECT_EQ(driver.DevicePixelAt(border.left + i, my), 0xFF000000u) << i;
        EXPECT_EQ(driver.DevicePixelAt(border.left + bw, my), 0xFF808080u);
    }
}

// A picture drawn at twice the size is copied pixel for pixel at scale 2
// (an enlarged one would blend its edges), and a nine-grid keeps its edges'
// size in units at any scale.
TEST_F(UIScaleTest, ResourcesAtTwiceTheSizeAreUsedWhereTheyAreSharper) {
    auto w = Open("ScaleTest");
    UIImageInfo twice;
    ASSERT_TRUE(UILoadResource::ImageInfoFromFile(TestResourceDir() + "9005@2x.png", twice));
    ASSERT_EQ(twice.width, 160);
    ASSERT_EQ(twice.height, 80);
    w->SetScale(2.0);
    driver.Pump();
    const UIRect pic = w->PaintManager().ClientToDevice(driver.Find(20)->GetPos());
    ASSERT_EQ(pic.Width(), 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x)
            ASSERT_EQ(driver.DevicePixelAt(pic.left + x, pic.top + y), twice.pixels[y * 160 + x])
                << x << "," << y;
    for (double s : {1.40625, 1.875, 2.5}) {
        SCOPED_TRACE(s);
        w->SetScale(s);
        driver.Pump();
        // The 10-unit red band of the nine-grid is 10 units wide in pixels, its middle blue.
        const UIRect grid = w->PaintManager().ClientToDevice(driver.Find(21)->GetPos());
        const int band = static_cast<int>(std::lround(10 * s));
        const int my = (grid.top + grid.bottom) / 2;
        for (int x = 0; x < band - 1; ++x)
            EXPECT_EQ(driver.DevicePixelAt(grid.left + x, my), 0xFFFF0000u) << x;
        for (int x = band + 1; x < grid.Width() - band - 1; ++x)
            EXPECT_EQ(driver.DevicePixelAt(grid.left + x, my), 0xFF0000FFu) << x;
    }
}

// A layout may give nine-grid edges wider than the picture part they cut;
// what is drawn then still comes from the part alone, never from beyond the
// picture (a fuzzed layout once read past the end of the image).
TEST_F(UIScaleTest, NineGridEdgesWiderThanThePartReadNothingBeyondIt) {
    for (double s : {1.0, 1.875, 2.0}) {
        SCOPED_TRACE(s);
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 300, 300);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_scale(cr, s, s);
        // The last two columns of the green cell, with 30-unit edges on every side.
        EXPECT_TRUE(UIRenderUtils::DrawImageString(
            cr, {10, 10, 130, 130}, "res='9005' restype='PNG' source='78,0,80,40' corner='30,30,30,30'"));
        EXPECT_TRUE(UIRenderUtils::DrawImageString(
            cr, {0, 0, 20, 20}, "res='9005' restype='PNG' source='0,0,2,525' corner='5,5,5,5'"));
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        std::set<uint32_t> seen;
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 300; ++x)
                seen.insert(*reinterpret_cast<const uint32_t*>(
                    data + y * cairo_image_surface_get_stride(surface) + x * 4));
        cairo_surface_destroy(surface);
        for (uint32_t p : seen) {
            const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            // White, green, red and their blends with white: nothing from elsewhere.
            EXPECT_TRUE((p >> 24) == 0xFF &&
                        (b == 255 || (b == 0 && (r == 255 || g == 255)) || r == b || g == b))
                << std::hex << p;
        }
    }
}

// Text measured at a scale fits a box of that size: drawn there with an
// ellipsis allowed, it shows exactly as in a box with room to spare. The
// same for wrapped text and its measured height.
TEST_F(UIScaleTest, TextMeasuredAtAScaleFitsItsBox) {
    auto w = Open("ScaleTest");
    UIPaintManager& pm = w->PaintManager();
    pm.AddFont("f14", "微软雅黑", 14);
    pm.AddFont("f18b", "微软雅黑", 18, true);
    pm.AddFont("f28", "微软雅黑", 28);
    const std::vector<std::string> texts = {"单项选择题（每题5分，共计10分）",
                                            "下一题",
                                            "Virelo 音乐美术素养测评",
                                            "学号：1001",
                                            "Latin text with kerning: AVAWAy Tf.",
                                            "00:59:30",
                                            "1.下面哪一幅图画是小提琴？",
                                            "端口1（HTTP请求）：",
                                            "iiiiiiiiiilllllll1111111",
                                            "WWWWMMMM@@@@"};
    const std::vector<std::string> fonts = {"", "f14", "f18b", "f28"};
    for (double s : kScales) {
        w->SetScale(s);
        SCOPED_TRACE(s);
        for (const std::string& font : fonts) {
            for (const std::string& text : texts) {
                const UISize size = UIRenderUtils::GetTextSize(&pm, text, font, DT_SINGLELINE);
                const UISize wrapped = UIRenderUtils::GetTextSize(&pm, text, font, DT_WORDBREAK, 90);
                // The text in its measured box and in a roomy one, on surfaces of this scale;
                // compared with a margin round the box, where glyphs may reach.
                constexpr int kMargin = 10;
                auto render = [&](int boxW, int boxH, uint32_t format) {
                    const int pw = static_cast<int>(std::ceil((boxW + 300) * s)),
                              ph = static_cast<int>(std::ceil((boxH + 300) * s));
                    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
                    cairo_t* cr = cairo_create(surface);
                    cairo_set_source_rgb(cr, 1, 1, 1);
                    cairo_paint(cr);
                    cairo_scale(cr, s, s);
                    UIRenderUtils::DrawText(cr, &pm, {kMargin, kMargin, kMargin + boxW, kMargin + boxH}, text,
                                            0xFF000000, font, format);
                    cairo_destroy(cr);
                    cairo_surface_flush(surface);
                    const int cw = static_cast<int>(std::ceil((std::max(size.cx, 90) + 2 * kMargin) * s)),
                              ch = static_cast<int>(std::ceil((std::max(size.cy, wrapped.cy) + kMargin) * s));
                    std::vector<uint32_t> out;
                    const unsigned char* data = cairo_image_surface_get_data(surface);
                    for (int y = 0; y < ch; ++y)
                        for (int x = 0; x < cw; ++x)
                            out.push_back(*reinterpret_cast<const uint32_t*>(
                                data + y * cairo_image_surface_get_stride(surface) + x * 4));
                    cairo_surface_destroy(surface);
                    return out;
                };
                const uint32_t single = DT_SINGLELINE | DT_END_ELLIPSIS;
                ASSERT_EQ(render(size.cx, size.cy, single), render(size.cx + 200, size.cy, single))
                    << "\"" << text << "\" in font \"" << font << "\" is cut in its own width " << size.cx;
                const uint32_t wrap = DT_WORDBREAK | DT_END_ELLIPSIS;
                ASSERT_EQ(render(90, wrapped.cy, wrap), render(90, wrapped.cy + 200, wrap))
                    << "\"" << text << "\" in font \"" << font << "\" loses a line in its own height "
                    << wrapped.cy;
            }
        }
    }
}

// A fixed layout in full screen: as large as the screen's shape allows and
// centred on whole pixels, or the scale a school chose; the surround shows
// the backdrop's picture continued, and takes no clicks.
TEST_F(UIScaleTest, AFixedLayoutFillsTheScreenAsFarAsItsShapeAllows) {
    auto& app = UIApplication::Instance();
    auto w = Open("FitTest");
    const UIRect before = w->GetWindowRect();
    struct Case {
        UISize screen;
        double request;
        double scale;
        UIPoint origin;
    };
    const Case cases[] = {
        {{1366, 768}, 0, 2.0, {171, 0}},      // as 1024 x 768 on a laptop: the height decides
        {{1920, 1080}, 0, 2.8125, {240, 0}},  // 1440 x 1080 in the middle
        {{2560, 1440}, 0, 3.75, {320, 0}},     {{1280, 1024}, 0, 2.5, {0, 32}},  // 5:4: the width decides
        {{640, 360}, 0, 0.9375, {80, 0}},       // a little smaller than the layout: all of it, a little smaller
        {{200, 150}, 0, 0.75, {0, 0}},          // far smaller: no smaller than three quarters, from the corner
        {{1920, 1080}, 1.5, 1.5, {576, 252}},   // the school's choice
        {{1920, 1080}, 9.0, 2.8125, {240, 0}},  // but never past the screen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.screen.cx) + "x" + std::to_string(c.screen.cy) + " " +
                     std::to_string(c.request));
        app.SetHeadlessScreenSize(c.screen);
        w->PaintManager().SetFullScreenFit({512, 384}, c.request);
        driver.Pump();
        EXPECT_TRUE(w->IsFullScreen());
        EXPECT_DOUBLE_EQ(w->GetScale(), c.scale);
        EXPECT_EQ(w->GetClientSize(), (UISize{512, 384}));
        EXPECT_EQ(w->GetWindowRect(), (UIRect{0, 0, c.screen.cx, c.screen.cy}));
        EXPECT_EQ(w->PaintManager().GetDeviceOrigin(), c.origin);
        EXPECT_EQ(driver.Find(1)->GetPos(), (UIRect{0, 0, 512, 384}));
        // The layout's corner button where the origin is, in pixels and on the screen.
        EXPECT_EQ(driver.DevicePixelAt(c.origin.x + 1, c.origin.y + 1), 0xFFFFFFFFu);
        EXPECT_EQ(w->ClientToScreen({0, 0}), c.origin);
        if (c.origin.x > 2) {
            // Left and right of the layout: the backdrop's red edge, not the root's colour.
            EXPECT_EQ(driver.DevicePixelAt(1, c.screen.cy / 2), 0xFFFF0000u);
            EXPECT_EQ(driver.DevicePixelAt(c.screen.cx - 2, c.screen.cy / 2), 0xFFFF0000u);
            EXPECT_EQ(w->PaintManager().FindControl(w->WindowPointToClient(1, c.screen.cy / 2)), nullptr);
            const size_t notes = w->notes.size();
            driver.ClickAt(w->WindowPointToClient(2, 10));
            EXPECT_EQ(w->notes.size(), notes);
        }
        // The button's corner pixel maps back to the button.
        EXPECT_EQ(w->PaintManager().FindControl(w->WindowPointToClient(c.origin.x, c.origin.y)),
                  driver.Find(3));
    }
    // Without a backdrop the surround is the root's colour.
    app.SetHeadlessScreenSize({1920, 1080});
    w->PaintManager().SetBackdrop(0);
    driver.Pump();
    EXPECT_EQ(driver.DevicePixelAt(1, 540), 0xFF336699u);
    // Leaving full screen gives back place, size and scale.
    w->PaintManager().SetFullScreenMode(false);
    driver.Pump();
    EXPECT_FALSE(w->IsFullScreen());
    EXPECT_EQ(w->GetWindowRect(), before);
    EXPECT_DOUBLE_EQ(w->GetScale(), 1.0);
    EXPECT_EQ(w->PaintManager().GetDeviceOrigin(), (UIPoint{0, 0}));
}

TEST_F(UIScaleTest, WindowsStartAtTheDesktopsScaleOrTheOneChosen) {
    auto& app = UIApplication::Instance();
    app.SetDesktopScale(1.5);
    auto w = Open("ScaleTest");
    EXPECT_DOUBLE_EQ(w->GetScale(), 1.5);
    EXPECT_EQ(w->GetWindowRect().Width(), static_cast<int>(std::lround(301 * 1.5)));
    app.SetScaleOverride(1.0);
    auto chosen = Open("ScaleTest");
    EXPECT_DOUBLE_EQ(chosen->GetScale(), 1.0);
    // Choices out of reason are kept within reason.
    app.SetScaleOverride(0.2);
    EXPECT_DOUBLE_EQ(app.GetScaleOverride(), 1.0);
    app.SetScaleOverride(50);
    EXPECT_DOUBLE_EQ(app.GetScaleOverride(), 4.0);
    app.SetScaleOverride(0);
    EXPECT_DOUBLE_EQ(app.GetWindowScale(), 1.5);
    // A 1024 x 768 window at a desktop's 2 on a 2560 x 1440 screen: as large as fits.
    app.SetDesktopScale(2.0);
    app.SetHeadlessScreenSize({2560, 1440});
    TestWindow big("FitTest");
    ASSERT_TRUE(big.Create(nullptr, "big"));
    EXPECT_DOUBLE_EQ(big.GetScale(), 2.0);  // 512 x 384 units fit at 2
    big.ResizeClient(1024, 768);
    EXPECT_DOUBLE_EQ(big.GetScale(), 1440.0 / 768);
    EXPECT_LE(big.GetWindowRect().Height(), 1440);
    big.DestroyWindow();
}

TEST(UIDesktopScaleTest, XftDpiAndSettingsGiveTheScale) {
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xft.dpi:\t144\n"), 1.5);
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xcursor.size:\t24\nXft.dpi:\t120\nXft.antialias:\t1\n"),
                     1.25);
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xft.dpi: 192.0"), 2.0);
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xft.dpi:\t96\nXft.dpi:\t144\n"),
                     1.5);  // the last one counts
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi(""), 1.0);
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xft.dpi:\tlarge\n"), 1.0);
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xft.dpi:\t-144\n"), 1.0);
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xft.dpi:\t72\n"), 1.0);  // never below the layout's size
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xft.dpi:\t9000\n"), 4.0);
    EXPECT_DOUBLE_EQ(UIDesktopScale::FromXftDpi("Xft.dpix:\t144\nMyXft.dpi:\t144\n"), 1.0);

    EXPECT_DOUBLE_EQ(UIApplication::ParseScale("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(UIApplication::ParseScale(" 1 "), 1.0);
    EXPECT_DOUBLE_EQ(UIApplication::ParseScale("2\r"), 2.0);
    for (const char* bad : {"", "auto", "1.5x", "-1", "0", "nan", "inf", "1e9", "x1"})
        EXPECT_DOUBLE_EQ(UIApplication::ParseScale(bad), 0.0) << bad;
}

}  // namespace
}  // namespace KwLib
