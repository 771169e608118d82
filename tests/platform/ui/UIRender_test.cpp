// What ends up on screen: pixel probes of image strings (source, dest,
// nine-grid corner), Chinese text through the font alias, painting only what
// was invalidated, the image cache and loader.
#include <gtest/gtest.h>

#include <SDL_image.h>
#include <fontconfig/fontconfig.h>

#include "UITestWindow.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {
namespace {

class UIRenderTest : public ::testing::Test, public UITestBase {};

constexpr uint32_t kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00, kWhite = 0xFFFFFFFF;

TEST_F(UIRenderTest, ImageStringsWithSourceDestAndCorner) {
    auto w = Open("ImageTest");
    driver.Screenshot(TestOutputDir() + "image_test.png");
    // source picks the right cell of the sprite sheet.
    EXPECT_EQ(driver.PixelAt(20, 20), kGreen);
    // corner keeps the 10-pixel band unscaled round a stretched middle.
    EXPECT_EQ(driver.PixelAt(3, 43), kRed);
    EXPECT_EQ(driver.PixelAt(100, 45), kRed);
    EXPECT_EQ(driver.PixelAt(5, 90), kRed);
    EXPECT_EQ(driver.PixelAt(30, 90), kBlue);
    EXPECT_EQ(driver.PixelAt(185, 90), kBlue);
    EXPECT_EQ(driver.PixelAt(195, 90), kRed);
    EXPECT_EQ(driver.PixelAt(100, 135), kRed);
    // Without corner the band scales with the picture (five times wider here).
    EXPECT_EQ(driver.PixelAt(30, 190), kRed);
    EXPECT_EQ(driver.PixelAt(100, 190), kBlue);
    // dest places the picture inside the control; the rest stays background.
    EXPECT_EQ(driver.PixelAt(40, 270), kGreen);
    EXPECT_EQ(driver.PixelAt(10, 245), kWhite);
    EXPECT_EQ(driver.PixelAt(100, 270), kWhite);
    // Parsed once: the same text gives the same record.
    const UIImageAttr& a = UIImageString::Parse("res='9005' restype='PNG' source='40,0,80,40'");
    EXPECT_EQ(&a, &UIImageString::Parse("res='9005' restype='PNG' source='40,0,80,40'"));
    EXPECT_EQ(a.source, (UIRect{40, 0, 80, 40}));
    EXPECT_EQ(UIImageString::GetImageFile("res='9005' restype='PNG'"), TestResourceDir() + "9005.png");
    EXPECT_EQ(UIImageString::GetImageFile("file='/x/y.png' corner='5,5,5,5'"), "/x/y.png");
    EXPECT_EQ(UIImageString::Parse("file='/x/y.png' corner='5,5,5,5'").corner, (UIRect{5, 5, 5, 5}));
    w->DestroyWindow();
}

// Sum of darkness over a rectangle.
long Ink(UITestDriver& d, const UIRect& r) {
    long ink = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            ink += 255 - (d.PixelAt(x, y) & 0xFF);
    return ink;
}

TEST_F(UIRenderTest, ChineseTextRendersAsGlyphsThroughTheFontAlias) {
    UIResourceSingleton::Instance().EnsureFonts();
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("微软雅黑"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    ASSERT_NE(match, nullptr);
    FcChar8* family = nullptr;
    FcPatternGetString(match, FC_FAMILY, 0, &family);
    EXPECT_STREQ(reinterpret_cast<const char*>(family), "WenQuanYi Micro Hei");
    FcPatternDestroy(match);
    FcPatternDestroy(pattern);

    auto w = Open("TextTest");
    auto* label = driver.Find(1);
    auto* boxes = driver.Find(2);
    boxes->SetText("\xEE\x80\x80\xEE\x80\x81\xEE\x80\x82\xEE\x80\x83");  // U+E000..E003: no font has them
    driver.Pump();
    driver.Screenshot(TestOutputDir() + "text_test.png");
    // Four full-width characters of a 24-pixel font.
    UISize size = UIRenderUtils::GetTextSize(&w->PaintManager(), label->GetText(), "Big", DT_SINGLELINE);
    EXPECT_GE(size.cx, 92);
    EXPECT_LE(size.cx, 100);
    // Each character cell carries ink, and its shape differs from the
    // missing-glyph box drawn for an unknown character.
    for (int i = 0; i < 4; ++i) {
        UIRect cell{i * 24, 0, i * 24 + 24, 32};
        long glyph = Ink(driver, cell);
        EXPECT_GT(glyph, 255 * 20) << "character " << i;
        long diff = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = cell.left; x < cell.right; ++x)
                diff += std::abs(static_cast<int>(driver.PixelAt(x, y) & 0xFF) -
                                 static_cast<int>(driver.PixelAt(x, y + 60) & 0xFF));
        EXPECT_GT(diff, 255 * 30) << "character " << i << " looks like a missing-glyph box";
    }
    // Different characters have different shapes.
    EXPECT_NE(Ink(driver, {0, 0, 24, 32}), Ink(driver, {24, 0, 48, 32}));
    w->DestroyWindow();
}

TEST_F(UIRenderTest, TextFlagsWrapAndEllipsis) {
    auto w = Open("TextTest");
    UIPaintManager* pm = &w->PaintManager();
    UISize one = UIRenderUtils::GetTextSize(pm, "音乐考试音乐考试", "Small", DT_SINGLELINE);
    UISize wrapped =
        UIRenderUtils::GetTextSize(pm, "音乐考试音乐考试", "Small", DT_WORDBREAK, one.cx / 2 + 1);
    EXPECT_GT(wrapped.cy, one.cy * 3 / 2);
    EXPECT_LE(wrapped.cx, one.cx / 2 + 1);
    EXPECT_EQ(ParseTextAlign("vcen center singleline"), DT_VCENTER | DT_CENTER | DT_SINGLELINE);
    EXPECT_EQ(ParseTextAlign("left top wordbreak"), static_cast<uint32_t>(DT_WORDBREAK));
    EXPECT_EQ(ParseTextAlign("endellipsis"), static_cast<uint32_t>(DT_END_ELLIPSIS));
    // An ellipsised label keeps its ink inside its own box.
    auto* label = driver.Find(1);
    label->SetFixedWidth(60);
    label->SetTextStyle(DT_SINGLELINE | DT_END_ELLIPSIS);
    driver.Pump();
    EXPECT_GT(Ink(driver, {0, 0, 60, 32}), 0);
    EXPECT_EQ(Ink(driver, {60, 0, 300, 32}), 0);
    w->DestroyWindow();
}

TEST_F(UIRenderTest, OnlyTheInvalidatedAreaIsPainted) {
    auto w = Open("ControlTest");
    auto& pm = w->PaintManager();
    driver.Pump();
    uint64_t before = pm.GetPaintCount();
    driver.Pump();
    EXPECT_EQ(pm.GetPaintCount(), before);  // nothing invalid, nothing painted
    UIControl* button = driver.Find(201);
    button->SetText("Again");
    driver.Pump();
    EXPECT_EQ(pm.GetPaintCount(), before + 1);
    EXPECT_EQ(pm.GetLastPaintRect(), button->GetPos());
    w->DestroyWindow();
}

TEST_F(UIRenderTest, ImageCacheAndLoader) {
    UIImageInfo info;
    ASSERT_TRUE(UILoadResource::ImageInfoFromFile(TestResourceDir() + "9007.png", info));
    EXPECT_EQ(info.width, 240);
    EXPECT_EQ(info.height, 140);
    EXPECT_EQ(info.pixels.size(), 240u * 140u);
    EXPECT_FALSE(UILoadResource::ImageInfoFromFile(TestResourceDir() + "missing.png", info));
    EXPECT_FALSE(UILoadResource::ImageInfoFromMemory("not a picture", 13, info));
    // JPEG goes through the same loader.
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 16, 8, 32, SDL_PIXELFORMAT_ARGB8888);
    SDL_FillRect(s, nullptr, 0xFF204080);
    std::string jpeg = TestOutputDir() + "loader.jpg";
    ASSERT_EQ(IMG_SaveJPG(s, jpeg.c_str(), 90), 0);
    SDL_FreeSurface(s);
    UIImageInfo jpg;
    ASSERT_TRUE(UILoadResource::ImageInfoFromFile(jpeg, jpg));
    EXPECT_EQ(jpg.width, 16);
    EXPECT_EQ(jpg.height, 8);

    // A control may change a cached picture's pixels and show the change.
    auto w = Open("ImageTest");
    const std::string key = "/nonexistent/colouring.png";
    UIImageInfo red;
    red.width = red.height = 10;
    red.pixels.assign(100, kRed);
    auto image = UIResourceSingleton::Instance().AddImage(key, std::move(red));
    UIControl* target = driver.Find(4);
    target->SetBkImage("file='" + key + "'");
    driver.Pump();
    EXPECT_EQ(driver.PixelAt(100, 270), kRed);
    for (int i = 0; i < 100; ++i)
        image->Pixels()[i] = kBlue;
    image->MarkDirty();
    target->Invalidate();
    EXPECT_EQ(driver.PixelAt(100, 270), kBlue);
    UIResourceSingleton::Instance().RemoveImage(key);
    w->DestroyWindow();
}

}  // namespace
}  // namespace KwLib
