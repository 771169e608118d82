// What ends up on screen: pixel probes of image strings (source, dest,
// nine-grid corner), Chinese text through the font alias, painting only what
// was invalidated, the image cache and loader.
#include <gtest/gtest.h>

#include <SDL_image.h>
#include <fontconfig/fontconfig.h>

#include "UITestWindow.h"
#include "platform/common/KWFile.h"
#include "platform/ui/UICombo.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {
namespace {

class UIRenderTest : public ::testing::Test, public UITestBase {};

constexpr uint32_t kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00, kWhite = 0xFFFFFFFF;

TEST(UIRenderLineTest, LinesAreAntiAliasedWithRoundEnds) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 60, 60);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const uint32_t green = 0xFF4CD854;
    UIRenderUtils::DrawLine(cr, 10, 20, 50, 20, 3, green);
    UIRenderUtils::DrawLine(cr, 10, 30, 50, 55, 3, green);
    UIRenderUtils::DrawLine(cr, 0, 0, 50, 50, 0, green);  // no width: nothing
    cairo_destroy(cr);
    cairo_surface_flush(s);
    auto pixel = [&](int x, int y) {
        const unsigned char* data = cairo_image_surface_get_data(s);
        return *reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(s) + x * 4);
    };
    // 3 pixels wide about y = 20: rows 19 and 20 full, 18 and 21 half covered.
    EXPECT_EQ(pixel(30, 19), green);
    EXPECT_EQ(pixel(30, 20), green);
    EXPECT_NE(pixel(30, 18), green);
    EXPECT_NE(pixel(30, 18), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(30, 23), 0xFFFFFFFFu);
    // Round ends reach half the width past the end points.
    EXPECT_NE(pixel(50, 20), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(53, 20), 0xFFFFFFFFu);
    // A slanted line has blended pixels along its edges.
    int blended = 0;
    for (int y = 30; y < 56; ++y)
        for (int x = 8; x < 53; ++x) {
            const uint32_t p = pixel(x, y);
            blended += p != green && p != 0xFFFFFFFFu;
        }
    EXPECT_GT(blended, 20);
    EXPECT_EQ(pixel(5, 5), 0xFFFFFFFFu);
    cairo_surface_destroy(s);
}

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

    // Malformed corners and a destination beyond the control's top left
    // draw inside the control only, scaled or not.
    for (const char* image : {"res='9005' restype='PNG' corner='-15,-15,-15,-15'",
                              "res='9005' restype='PNG' corner='-15,-15,-15,-15' source='0,0,40,40'",
                              "res='9005' restype='PNG' corner='-30,0,-30,0' dest='0,0,40,40'",
                              "res='9005' restype='PNG' dest='-20,-20,30,30'"}) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 100);
        cairo_t* cr = cairo_create(s);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        EXPECT_TRUE(UIRenderUtils::DrawImageString(cr, {30, 30, 70, 70}, image));
        cairo_destroy(cr);
        cairo_surface_flush(s);
        auto pixel = [s](int x, int y) {
            return *reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                      y * cairo_image_surface_get_stride(s) + x * 4);
        };
        for (int i = 0; i < 100; i += 3) {
            for (int j : {29, 70}) {
                EXPECT_EQ(pixel(i, j), kWhite) << image << " at " << i << "," << j;
                EXPECT_EQ(pixel(j, i), kWhite) << image << " at " << j << "," << i;
            }
        }
        EXPECT_NE(pixel(50, 50), kWhite) << image;
        cairo_surface_destroy(s);
    }
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

TEST_F(UIRenderTest, ScaledPicturesFollowPixelChangesAndFade) {
    auto w = Open("ImageTest");
    const std::string key = "/nonexistent/scaled.png";
    UIImageInfo info;
    info.width = info.height = 4;
    info.pixels.assign(16, kRed);
    auto image = UIResourceSingleton::Instance().AddImage(key, std::move(info));
    UIControl* target = driver.Find(3);  // 200 x 100: the picture is stretched
    target->SetBkImage("file='" + key + "'");
    EXPECT_EQ(driver.PixelAt(100, 190), kRed);
    // The stretched rendering is kept between frames, but not past a change of pixels.
    for (int i = 0; i < 16; ++i)
        image->Pixels()[i] = kGreen;
    image->MarkDirty();
    target->Invalidate();
    EXPECT_EQ(driver.PixelAt(100, 190), kGreen);
    // fade blends the picture over what is behind it (white here).
    target->SetBkImage("file='" + key + "' fade='128'");
    uint32_t faded = driver.PixelAt(100, 190);
    EXPECT_GT((faded >> 16) & 0xFF, 0x70u);
    EXPECT_LT((faded >> 16) & 0xFF, 0x90u);
    EXPECT_EQ((faded >> 8) & 0xFF, 0xFFu);
    // hole leaves the middle of a nine-grid picture out.
    target->SetBkImage("file='" + key + "' corner='1,1,1,1' hole='true'");
    EXPECT_EQ(driver.PixelAt(100, 190), kWhite);
    EXPECT_EQ(driver.PixelAt(0, 140), kGreen);
    EXPECT_EQ(driver.PixelAt(100, 140), kGreen);
    // A picture that cannot be read draws nothing and does not stop the rest.
    target->SetBkImage("file='/nonexistent/missing.png'");
    EXPECT_EQ(driver.PixelAt(100, 190), kWhite);
    EXPECT_EQ(driver.PixelAt(20, 20), kGreen);
    UIResourceSingleton::Instance().RemoveImage(key);
    w->DestroyWindow();
}

// The horizontal extent of dark pixels in a row band.
std::pair<int, int> InkSpan(UITestDriver& d, int top, int bottom, int width) {
    int first = -1, last = -1;
    for (int x = 0; x < width; ++x)
        for (int y = top; y < bottom; ++y)
            if ((d.PixelAt(x, y) & 0xFF) < 128) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

TEST_F(UIRenderTest, TextAlignmentPlacesTheInk) {
    auto w = Open("TextTest");
    UIControl* label = driver.Find(1);
    driver.Find(2)->SetVisible(false);
    label->SetText("音乐");
    label->SetTextStyle(DT_SINGLELINE);
    auto left = InkSpan(driver, 0, 60, 300);
    label->SetTextStyle(DT_SINGLELINE | DT_CENTER);
    auto centre = InkSpan(driver, 0, 60, 300);
    label->SetTextStyle(DT_SINGLELINE | DT_RIGHT);
    auto right = InkSpan(driver, 0, 60, 300);
    EXPECT_LT(left.first, 5);
    EXPECT_NEAR((centre.first + centre.second) / 2, 150, 4);
    EXPECT_GT(right.second, 294);
    // Vertical centring moves the ink down into the middle of the label.
    label->SetTextStyle(DT_SINGLELINE | DT_VCENTER);
    int firstRow = -1;
    for (int y = 0; y < 60 && firstRow < 0; ++y)
        for (int x = 0; x < 60; ++x)
            if ((driver.PixelAt(x, y) & 0xFF) < 128) {
                firstRow = y;
                break;
            }
    EXPECT_GT(firstRow, 10);
    // Word wrap puts the rest of a long text on the next line.
    label->SetFixedWidth(60);
    label->SetTextStyle(DT_WORDBREAK);
    label->SetText("音乐考试音乐考试");
    driver.Pump();
    EXPECT_GT(Ink(driver, {0, 30, 60, 60}), 255 * 20);
    w->DestroyWindow();
}

TEST_F(UIRenderTest, OpenDropDownPaintsOverItsNeighbours) {
    auto w = Open("ControlTest");
    auto* combo = dynamic_cast<UICombo*>(driver.Find(301));
    UIRect drop = combo->GetDropRect();
    auto snapshot = [&] {
        std::vector<uint32_t> px;
        for (int y = drop.top; y < drop.bottom; y += 2)
            for (int x = drop.left; x < drop.right; x += 2)
                px.push_back(driver.PixelAt(x, y));
        return px;
    };
    auto before = snapshot();
    driver.Click(301);
    driver.Screenshot(TestOutputDir() + "combo_open.png");
    auto open = snapshot();
    size_t changed = 0;
    for (size_t i = 0; i < before.size(); ++i)
        changed += before[i] != open[i];
    EXPECT_GT(changed, before.size() / 10);
    // What lies under the open list is out of reach of the mouse.
    UIPoint inside{drop.left + 10, drop.bottom - 10};
    EXPECT_EQ(w->PaintManager().FindControl(inside), combo);
    driver.PressKey(VK_ESCAPE);
    EXPECT_EQ(snapshot(), before);
    w->DestroyWindow();
}

TEST_F(UIRenderTest, ImageCacheStaysWithinItsLimitAndRetriesMissingFiles) {
    auto& res = UIResourceSingleton::Instance();
    res.ClearImages();
    const size_t picture = 240 * 140 * 4;  // 9007.png decoded
    res.SetImageCacheLimit(picture + 80 * 40 * 4 + 1000);
    auto held = res.GetImage(TestResourceDir() + "9007.png");
    ASSERT_NE(held, nullptr);
    driver.Advance(10);
    ASSERT_NE(res.GetImage(TestResourceDir() + "9005.png"), nullptr);
    driver.Advance(10);
    // Over the limit: the least recently used picture nobody holds goes first.
    ASSERT_NE(res.GetImage(TestResourceDir() + "9004.png"), nullptr);
    EXPECT_LE(res.GetImageCacheBytes(), picture + 80 * 40 * 4 + 1000);
    EXPECT_EQ(res.ImageCount(), 2u);  // 9007 (held) and 9004 (newest)
    // A held picture stays even when it is the oldest; it is the same object later.
    EXPECT_EQ(res.GetImage(TestResourceDir() + "9007.png"), held);
    held.reset();
    res.SetImageCacheLimit(1);
    EXPECT_EQ(res.ImageCount(), 0u);
    EXPECT_EQ(res.GetImageCacheBytes(), 0u);
    // Pictures made in memory are never dropped by the limit.
    UIImageInfo info;
    info.width = info.height = 8;
    info.pixels.assign(64, kRed);
    res.AddImage("/nonexistent/painted.png", std::move(info));
    EXPECT_EQ(res.ImageCount(), 1u);
    res.RemoveImage("/nonexistent/painted.png");
    res.SetImageCacheLimit(256u << 20);

    // A picture that arrives after a first failed attempt shows up once the retry time passed.
    std::string late = TestOutputDir() + "late_picture.png";
    std::remove(late.c_str());
    EXPECT_EQ(res.GetImage(late), nullptr);
    auto source = KWFile::ReadAll(TestResourceDir() + "9005.png");
    ASSERT_TRUE(source.has_value());
    ASSERT_TRUE(KWFile::WriteAtomic(late, *source));
    EXPECT_EQ(res.GetImage(late), nullptr);  // not looked for again at once
    driver.Advance(UIResourceSingleton::kRetryMs);
    auto arrived = res.GetImage(late);
    ASSERT_NE(arrived, nullptr);
    EXPECT_EQ(arrived->Width(), 80);
    std::remove(late.c_str());
}

}  // namespace
}  // namespace KwLib
