// The picture viewer: its first size, zoom steps and limits, the tool bar,
// full screen, dragging and closing, on a real picture file.
#include "wnd/VLImageViewWnd.h"

#include <cairo.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"

namespace KwLib {
namespace {

constexpr uint32_t kRed = 0xFFE74C3C;
constexpr uint32_t kBlue = 0xFF3498DB;
constexpr uint32_t kGreen = 0xFF2ECC71;
constexpr uint32_t kYellow = 0xFFF1C40F;

void Fill(cairo_t* cr, double x, double y, double w, double h, uint32_t argb) {
    cairo_set_source_rgb(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                         (argb & 0xFF) / 255.0);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

// A 640 x 480 picture in four coloured quarters, with a white note in the middle.
std::string MakePicture() {
    // One file per test process: ctest runs the cases side by side, and a
    // picture rewritten while another case reads it cannot be read.
    std::string path = std::string(VL_BINARY_DIR) + "/tests/wnd/VLImageViewWnd_picture_" +
                       std::to_string(getpid()) + ".png";
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 640, 480);
    cairo_t* cr = cairo_create(s);
    Fill(cr, 0, 0, 320, 240, kRed);
    Fill(cr, 320, 0, 320, 240, kBlue);
    Fill(cr, 0, 240, 320, 240, kGreen);
    Fill(cr, 320, 240, 320, 240, kYellow);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_arc(cr, 300, 220, 36, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_rectangle(cr, 332, 150, 10, 120);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(s, path.c_str());
    cairo_surface_destroy(s);
    return path;
}

class VLImageViewWndTest : public ::testing::Test {
protected:
    VLImageViewWndTest() {
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        UIApplication::Instance().SetHeadlessScreenSize({1920, 1080});
        picture = MakePicture();
        owner.Create(nullptr, "VLStudent", 0, 0, 1920, 1080);
        owner.ShowWindow(true);
    }
    ~VLImageViewWndTest() override {
        if (owner.IsWindow())
            owner.DestroyWindow();
        std::remove(picture.c_str());
    }

    VLImageViewWnd* Open() {
        auto* viewer = new VLImageViewWnd(picture, 640, 480);
        EXPECT_TRUE(viewer->Open(&owner));
        viewer->ShowWindow(true);
        driver.Attach(viewer);
        driver.Pump();
        return viewer;
    }

    // The cursor comes in and the tool bar's timer sees it.
    void HoverInside(VLImageViewWnd* viewer) {
        driver.MouseMove({viewer->GetClientSize().cx / 2, viewer->GetClientSize().cy / 2});
        driver.Advance(VLImageViewWnd::kToolbarTimerMs);
    }

    UIPoint Middle(VLImageViewWnd* viewer) {
        return {viewer->GetClientSize().cx / 2, viewer->GetClientSize().cy / 2};
    }

    UITestDriver driver;
    UIWindowWnd owner;
    std::string picture;
};

TEST_F(VLImageViewWndTest, OpensTopmostCentredAndSizedToThePicture) {
    VLImageViewWnd* viewer = Open();
    EXPECT_TRUE(viewer->IsTopMost());
    EXPECT_EQ(viewer->GetClientSize(), (UISize{640, 480}));
    EXPECT_EQ(viewer->GetWindowRect().left, (1920 - 640) / 2);
    EXPECT_EQ(viewer->GetWindowRect().top, (1080 - 480) / 2);
    EXPECT_FLOAT_EQ(viewer->GetZoom(), 1.0f);
    auto* pic = driver.FindAs<UIZoomPicture>(4002);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(pic->GetImage(), "file='" + picture + "'");
    EXPECT_EQ(viewer->GetPictureRect(), (UIRect{0, 0, 640, 480}));
    // The picture itself is on screen: its quarters at their places.
    EXPECT_EQ(driver.PixelAt(100, 100), kRed);
    EXPECT_EQ(driver.PixelAt(540, 380), kYellow);
    // Close 36 x 36 at the top right, 6 below the top; tool bar 200 x 50, 3
    // above the bottom, hidden until the cursor comes in.
    driver.PixelAt(0, 0);
    EXPECT_EQ(driver.Find(4001)->GetPos(), (UIRect{640 - 42, 6, 640 - 6, 42}));
    EXPECT_FALSE(driver.Find(4003)->IsVisible());
    EXPECT_EQ(driver.Find(4003)->GetFloatPos(), (UIRect{220, 480 - 53, 420, 480 - 3}));
    EXPECT_FALSE(driver.Find(4008)->IsVisible());

    // The fit rule: a picture larger than the screen opens whole at the scale
    // that fits; a small one at 1.0 in a window big enough for the tool bar.
    float zoom = 0;
    UISize size = VLImageViewWnd::FitWindowSize({4000, 3000}, {1920, 1080}, zoom);
    EXPECT_NEAR(zoom, 1000.0 / 3000.0, 1e-4);
    EXPECT_LE(size.cy, 1080 - 2 * VLImageViewWnd::kScreenMargin);
    EXPECT_GE(size.cx, static_cast<int>(4000 * zoom));
    EXPECT_GE(size.cy, static_cast<int>(3000 * zoom));
    size = VLImageViewWnd::FitWindowSize({100, 80}, {1920, 1080}, zoom);
    EXPECT_FLOAT_EQ(zoom, 1.0f);
    EXPECT_EQ(size, (UISize{VLImageViewWnd::kMinWidth, VLImageViewWnd::kMinHeight}));
    viewer->Close();
    driver.Pump();
}

TEST_F(VLImageViewWndTest, ZoomStepsStopAtTheirLimits) {
    VLImageViewWnd* viewer = Open();
    HoverInside(viewer);
    ASSERT_TRUE(driver.Find(4003)->IsVisible());
    for (int i = 1; i <= 15; ++i)
        ASSERT_TRUE(driver.Click(4006));
    EXPECT_NEAR(viewer->GetZoom(), std::pow(1.2, 15), 1e-3);
    EXPECT_LT(viewer->GetZoom(), 16.0f);
    driver.Click(4006);
    EXPECT_FLOAT_EQ(viewer->GetZoom(), 16.0f);
    driver.Click(4006);
    EXPECT_FLOAT_EQ(viewer->GetZoom(), 16.0f);
    // Zoomed, the picture is larger than the window and still centred.
    UIRect rc = viewer->GetPictureRect();
    EXPECT_EQ(rc.Width(), 640 * 16);
    EXPECT_EQ((rc.left + rc.right) / 2, 320);

    driver.Click(4004);
    EXPECT_FLOAT_EQ(viewer->GetZoom(), 1.0f);
    for (int i = 0; i < 30; ++i)
        driver.Click(4007);
    EXPECT_FLOAT_EQ(viewer->GetZoom(), 0.05f);
    EXPECT_EQ(viewer->GetPictureRect().Width(), 32);

    // The wheel takes the same steps: up zooms in, down zooms out.
    driver.Click(4004);
    driver.Wheel(Middle(viewer), 1);
    EXPECT_FLOAT_EQ(viewer->GetZoom(), 1.2f);
    driver.Wheel(Middle(viewer), -1);
    driver.Wheel(Middle(viewer), -1);
    EXPECT_NEAR(viewer->GetZoom(), 1.2 * 0.8 * 0.8, 1e-5);
    // Half size: the whole picture in the middle of the window.
    driver.Click(4004);
    for (int i = 0; i < 3; ++i)
        driver.Click(4007);
    EXPECT_EQ(driver.PixelAt(320 - 60, 240 - 60), kRed);
    EXPECT_EQ(driver.PixelAt(320 + 60, 240 + 60), kYellow);
    EXPECT_NE(driver.PixelAt(40, 40), kRed);
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/VLImageViewWnd_zoomedout.png");
    viewer->Close();
    driver.Pump();
}

TEST_F(VLImageViewWndTest, ToolBarShowsOnlyWhileTheCursorIsInside) {
    VLImageViewWnd* viewer = Open();
    driver.Advance(1000);
    EXPECT_FALSE(driver.Find(4003)->IsVisible());
    driver.MouseMove({300, 200});
    EXPECT_FALSE(driver.Find(4003)->IsVisible());  // the timer has not looked yet
    driver.Advance(100);
    EXPECT_TRUE(driver.Find(4003)->IsVisible());
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/VLImageViewWnd.png");
    // The cursor leaves the window.
    viewer->DispatchMessage(WM_MOUSELEAVE, 0, 0);
    driver.Advance(100);
    EXPECT_FALSE(driver.Find(4003)->IsVisible());
    driver.MouseMove({10, 10});
    driver.Advance(100);
    EXPECT_TRUE(driver.Find(4003)->IsVisible());
    viewer->Close();
    driver.Pump();
}

TEST_F(VLImageViewWndTest, FullScreenAndBackSwapsTheButtonsAndMovesTheFloats) {
    VLImageViewWnd* viewer = Open();
    UIRect before = viewer->GetWindowRect();
    HoverInside(viewer);
    ASSERT_TRUE(driver.Click(4005));
    EXPECT_TRUE(viewer->IsFullScreen());
    EXPECT_EQ(viewer->GetClientSize(), (UISize{1920, 1080}));
    EXPECT_FALSE(driver.Find(4005)->IsVisible());
    EXPECT_TRUE(driver.Find(4008)->IsVisible());
    driver.PixelAt(0, 0);
    EXPECT_EQ(driver.Find(4001)->GetPos(), (UIRect{1920 - 42, 6, 1920 - 6, 42}));
    EXPECT_EQ(driver.Find(4003)->GetPos(), (UIRect{860, 1080 - 53, 1060, 1080 - 3}));
    // The picture stays centred at its zoom.
    EXPECT_EQ(viewer->GetPictureRect(), (UIRect{640, 300, 1280, 780}));
    HoverInside(viewer);
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/VLImageViewWnd_fullscreen.png");

    HoverInside(viewer);
    ASSERT_TRUE(driver.Click(4008));
    EXPECT_FALSE(viewer->IsFullScreen());
    EXPECT_EQ(viewer->GetWindowRect(), before);
    EXPECT_TRUE(viewer->IsTopMost());
    EXPECT_TRUE(driver.Find(4005)->IsVisible());
    EXPECT_FALSE(driver.Find(4008)->IsVisible());
    driver.PixelAt(0, 0);
    EXPECT_EQ(driver.Find(4001)->GetPos(), (UIRect{640 - 42, 6, 640 - 6, 42}));
    viewer->Close();
    driver.Pump();
}

// Over an exam drawn at two pixels per unit the viewer's buttons grow with
// it, but "actual size" stays one picture pixel per screen pixel, and the fit
// to the screen is counted in screen pixels.
TEST_F(VLImageViewWndTest, OnAScaledScreenThePictureKeepsScreenPixels) {
    // The exam in full screen at two pixels per unit.
    owner.SetFullScreenFit({960, 540});
    ASSERT_DOUBLE_EQ(owner.GetScale(), 2.0);
    VLImageViewWnd* viewer = Open();
    EXPECT_DOUBLE_EQ(viewer->GetScale(), 2.0);
    EXPECT_FLOAT_EQ(viewer->GetZoom(), 1.0f);
    // 640 x 480 pixels need 320 x 240 units; the tool bar wants 400 x 300.
    EXPECT_EQ(viewer->GetClientSize(), (UISize{VLImageViewWnd::kMinWidth, VLImageViewWnd::kMinHeight}));
    EXPECT_EQ(viewer->GetWindowRect(), (UIRect{560, 240, 1360, 840}));
    auto* pic = driver.FindAs<UIZoomPicture>(4002);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(pic->GetPictureDeviceRect(), (UIRect{80, 60, 720, 540}));
    EXPECT_EQ(viewer->GetPictureRect(), (UIRect{40, 30, 360, 270}));
    // Pixel for pixel: the quarters meet exactly at the picture's middle.
    EXPECT_EQ(driver.DevicePixelAt(80 + 319, 60 + 100), kRed);
    EXPECT_EQ(driver.DevicePixelAt(80 + 320, 60 + 100), kBlue);
    EXPECT_EQ(driver.DevicePixelAt(80 + 100, 60 + 239), kRed);
    EXPECT_EQ(driver.DevicePixelAt(80 + 100, 60 + 240), kGreen);
    EXPECT_NE(driver.DevicePixelAt(79, 300), kRed);
    // The close button is 36 units: 72 pixels.
    EXPECT_EQ(viewer->PaintManager().ClientToDevice(driver.Find(4001)->GetPos()).Width(), 72);
    // A drag of 10 units moves the picture 20 pixels.
    driver.Drag({200, 150}, {210, 150});
    EXPECT_EQ(pic->GetPictureDeviceRect(), (UIRect{100, 60, 740, 540}));
    // A picture larger than the screen fits it in pixels, margins counted in units.
    float zoom = 0;
    UISize size = VLImageViewWnd::FitWindowSize({4000, 3000}, {1920, 1080}, zoom, 2.0);
    EXPECT_NEAR(zoom, (1080 - 2 * 2 * VLImageViewWnd::kScreenMargin) / 3000.0, 1e-4);
    EXPECT_LE(size.cy * 2, 1080 - 2 * 2 * VLImageViewWnd::kScreenMargin + 1);
    EXPECT_GE(size.cx * 2, static_cast<int>(4000 * zoom));
    // Full screen fills the screen in units of the viewer's scale.
    HoverInside(viewer);
    ASSERT_TRUE(driver.Click(4005));
    EXPECT_EQ(viewer->GetClientSize(), (UISize{960, 540}));
    EXPECT_EQ(viewer->GetWindowRect(), (UIRect{0, 0, 1920, 1080}));
    driver.PixelAt(0, 0);
    EXPECT_EQ(driver.Find(4001)->GetPos(), (UIRect{960 - 42, 6, 960 - 6, 42}));
    viewer->Close();
    driver.Pump();
}

TEST_F(VLImageViewWndTest, DraggingMovesThePicture) {
    VLImageViewWnd* viewer = Open();
    driver.Drag({320, 240}, {370, 270});
    EXPECT_EQ(viewer->GetOffset(), (UIPoint{50, 30}));
    EXPECT_EQ(viewer->GetPictureRect(), (UIRect{50, 30, 690, 510}));
    // The red quarter now starts where it was moved to; the window's
    // background shows where it was.
    EXPECT_EQ(driver.PixelAt(55, 35), kRed);
    EXPECT_NE(driver.PixelAt(20, 10), kRed);
    // Zooming keeps the same point of the picture in the middle.
    driver.Wheel({320, 240}, 1);
    EXPECT_EQ(viewer->GetOffset(), (UIPoint{60, 36}));
    // However far it is pulled, part of it stays in the window.
    driver.Drag({320, 240}, {-3000, -3000});
    UIRect rc = viewer->GetPictureRect();
    EXPECT_GT(rc.right, 0);
    EXPECT_GT(rc.bottom, 0);
    // A press on a button is a click, not a drag.
    HoverInside(viewer);
    UIPoint offset = viewer->GetOffset();
    UIPoint zoomOut;
    ASSERT_TRUE(driver.CenterOf(4007, zoomOut));
    driver.Drag(zoomOut, {zoomOut.x + 40, zoomOut.y - 40});
    EXPECT_EQ(viewer->GetOffset(), offset);
    viewer->Close();
    driver.Pump();
}

TEST_F(VLImageViewWndTest, EscapeAndTheCloseButtonClose) {
    auto& app = UIApplication::Instance();
    VLImageViewWnd* viewer = Open();
    driver.PressKey(VK_ESCAPE);
    EXPECT_FALSE(app.IsAlive(viewer));

    viewer = Open();
    ASSERT_TRUE(driver.Click(4001));
    EXPECT_FALSE(app.IsAlive(viewer));

    // Modal over the main window, as the main window opens it.
    driver.QueueIdle([&] {
        for (UIWindowWnd* w : app.Windows())
            if (dynamic_cast<VLImageViewWnd*>(w))
                driver.Attach(w);
        EXPECT_FALSE(owner.IsInputEnabled());
        driver.PressKey(VK_ESCAPE);
    });
    EXPECT_EQ(VLImageViewWnd::Show(&owner, picture, 640, 480), IDCLOSE);
    EXPECT_TRUE(owner.IsInputEnabled());

    // A picture that cannot be read opens no viewer.
    EXPECT_EQ(VLImageViewWnd::Show(&owner, picture + ".missing", 0, 0), IDCLOSE);
    EXPECT_EQ(app.Windows().size(), 1u);
}

}  // namespace
}  // namespace KwLib
