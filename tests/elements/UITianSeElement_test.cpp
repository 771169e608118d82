// The colouring element: rows of swatches under the picture, a chosen colour
// painting its region in the cached picture itself (mask alpha rules, only
// the picture drawn again), the answer string and its restoring.
#include "elements/UITianSeElement.h"

#include <gtest/gtest.h>

#include "platform/ui/UIButton.h"
#include "platform/ui/UIResource.h"
#include "tests/elements/DragTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

constexpr UIColor kSkyBlue = 0xFF4A90E2, kLightBlue = 0xFF87CEEB, kOrange = 0xFFF5A623, kRed = 0xFFFF0000,
                  kGreen = 0xFF7ED321, kDarkGreen = 0xFF228B22;

class UITianSeElementTest : public DragFixture {
protected:
    void SetUp() override {
        DragFixture::SetUp();
        m_scene = WriteColouringScene(m_dir);
    }
    UITianSeElement* ShowScene(const std::string& answer = "") {
        m_record = MakeColouring(m_scene.picture, {{"天空", m_scene.sky, {"4A90E2", "87CEEB"}},
                                                   {"太阳", m_scene.sun, {"F5A623", "#FF0000"}},
                                                   {"草地", m_scene.meadow, {"7ED321", "228B22"}}});
        m_record->m_instruction = "请仔细阅读题目内容，听到开始答题提示后，选填出正确的颜色。";
        m_record->m_content = "给图画填上合适的颜色。";
        m_record->m_answer = answer;
        return Show<UITianSeElement>(*m_record);
    }
    void Choose(UITianSeElement* e, size_t row, size_t colour) {
        m_driver.ClickAt(Center(e->GetSwatches(row).at(colour)));
    }
    // A pixel of the decoded picture, unpremultiplied back to ARGB.
    static UIColor PictureAt(UITianSeElement* e, int x, int y) {
        const uint32_t p = e->GetPicture()->Pixels()[y * e->GetPicture()->Width() + x];
        const uint32_t a = p >> 24;
        if (a == 0 || a == 255)
            return p;
        auto un = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
        return (a << 24) | un((p >> 16) & 0xFF) << 16 | un((p >> 8) & 0xFF) << 8 | un(p & 0xFF);
    }
    // On screen, a point of the picture given in picture pixels (shown unscaled here).
    UIColor ScreenAt(UITianSeElement* e, int x, int y) {
        const UIRect& rc = e->GetPictureBlock()->GetPos();
        return m_driver.PixelAt(rc.left + x, rc.top + y);
    }
    ColouringScene m_scene;
    std::unique_ptr<VLTianSeQuestiont> m_record;
};

TEST_F(UITianSeElementTest, RowsOfSwatchesUnderThePicture) {
    UITianSeElement* e = ShowScene();
    ASSERT_NE(e, nullptr);
    Shot("colouring_untouched.png");
    ExpectTidy(e);
    EXPECT_EQ(e->GetAnswer(), "");
    EXPECT_EQ(e->GetPictureBlock()->GetWidth(), kSceneW);
    EXPECT_EQ(e->GetPictureBlock()->GetHeight(), kSceneH);
    ASSERT_EQ(e->GetRowCount(), 3u);
    const UIColor colours[3][2] = {{kSkyBlue, kLightBlue}, {kOrange, kRed}, {kGreen, kDarkGreen}};
    int previousBottom = e->GetPictureBlock()->GetPos().bottom;
    for (size_t row = 0; row < 3; ++row) {
        const auto& swatches = e->GetSwatches(row);
        ASSERT_EQ(swatches.size(), 2u);
        for (size_t k = 0; k < 2; ++k) {
            UIOption* s = swatches[k];
            EXPECT_EQ(s->GetId(), 2070);
            EXPECT_EQ(s->GetTag(), static_cast<intptr_t>(k));
            EXPECT_EQ(s->GetGroup(), std::to_string(2150 + row));
            EXPECT_EQ(s->GetNormalBkColor(), colours[row][k]) << row << "/" << k;
            EXPECT_EQ(s->GetWidth(), 50);
            EXPECT_EQ(s->GetHeight(), 50);
            EXPECT_EQ(s->GetBorderSize(), 1);
            EXPECT_EQ(m_driver.PixelAt(Center(s).x, Center(s).y), colours[row][k]);
        }
        EXPECT_GT(swatches[0]->GetY(), previousBottom);
        previousBottom = swatches[0]->GetPos().bottom;
        ASSERT_NE(Pm().GetGroup(std::to_string(2150 + row)), nullptr);
        EXPECT_EQ(Pm().GetGroup(std::to_string(2150 + row))->size(), 2u);
    }
    // Each row has its caption above its palette.
    std::vector<std::string> captions;
    e->GetStem()->ForEach([&](UIControl* c) {
        if (c->GetText() == "天空" || c->GetText() == "太阳" || c->GetText() == "草地")
            captions.push_back(c->GetText());
    });
    EXPECT_EQ(captions, (std::vector<std::string>{"天空", "太阳", "草地"}));
}

TEST_F(UITianSeElementTest, ChoosingAColourPaintsItsRegionAtOnce) {
    UITianSeElement* e = ShowScene();
    const UIColor white = 0xFFFFFFFF;
    EXPECT_EQ(PictureAt(e, 100, 100), white);  // sky
    EXPECT_EQ(PictureAt(e, 380, 80), white);   // sun
    EXPECT_EQ(PictureAt(e, 240, 270), white);  // meadow

    Pm().Paint();
    const uint64_t paints = Pm().GetPaintCount();
    Choose(e, 0, 1);
    // Only the picture (with the swatch that changed below it) is drawn again.
    m_driver.Pump();
    EXPECT_GT(Pm().GetPaintCount(), paints);
    const UIRect block = e->GetPictureBlock()->GetPos();
    const UIRect palette = e->GetSwatches(0)[1]->GetParent()->GetPos();
    const UIRect painted = Pm().GetLastPaintRect();
    EXPECT_EQ(painted.Intersect(block), block);
    EXPECT_EQ(painted.Union(block.Union(palette)), block.Union(palette));
    EXPECT_EQ(PictureAt(e, 100, 100), kLightBlue);
    EXPECT_EQ(ScreenAt(e, 100, 100), kLightBlue);
    EXPECT_EQ(PictureAt(e, 380, 80), white);
    EXPECT_EQ(PictureAt(e, 240, 270), white);
    EXPECT_EQ(e->GetAnswer(), "1,-1,-1");

    // Another colour of the same row paints the same region again.
    Choose(e, 0, 0);
    EXPECT_EQ(PictureAt(e, 100, 100), kSkyBlue);
    Choose(e, 2, 0);
    EXPECT_EQ(e->GetAnswer(), "0,-1,0");
    EXPECT_EQ(ScreenAt(e, 240, 270), kGreen);
    EXPECT_EQ(ScreenAt(e, 380, 80), white);
    Shot("colouring_answered.png");

    // Mask pixels with alpha 0 leave the picture as it was (the outlines
    // between regions); partly transparent ones give their alpha.
    EXPECT_EQ(PictureAt(e, 1, 100), 0xFF333333);  // the frame, outside every mask
    auto mask = UIResourceSingleton::Instance().GetImage(m_scene.meadow);
    ASSERT_NE(mask, nullptr);
    int partial = 0;
    for (int i = 0; i < kSceneW * kSceneH; ++i) {
        const uint32_t a = mask->Pixels()[i] >> 24;
        if (a == 0 || a == 255)
            continue;
        ++partial;
        // Kept premultiplied: each colour byte scaled by the mask's alpha.
        const uint32_t raw = e->GetPicture()->Pixels()[i];
        const uint32_t expected = a << 24 | ((0x7E * a + 127) / 255) << 16 | ((0xD3 * a + 127) / 255) << 8 |
                                  ((0x21 * a + 127) / 255);
        EXPECT_EQ(raw, expected) << i;
        if (raw != expected)
            break;
    }
    EXPECT_GT(partial, 100);

    // A press begun on one swatch and let go on another chooses nothing, and paints nothing either.
    m_driver.Drag(Center(e->GetSwatches(1)[0]), Center(e->GetSwatches(1)[1]), 3);
    EXPECT_EQ(e->GetAnswer(), "0,-1,0");
    EXPECT_EQ(PictureAt(e, 380, 80), white);
}

TEST_F(UITianSeElementTest, ASavedAnswerChoosesAndPaints) {
    UITianSeElement* e = ShowScene("1,-1,0");
    EXPECT_TRUE(e->GetSwatches(0)[1]->IsSelected());
    EXPECT_FALSE(e->GetSwatches(1)[0]->IsSelected());
    EXPECT_FALSE(e->GetSwatches(1)[1]->IsSelected());
    EXPECT_TRUE(e->GetSwatches(2)[0]->IsSelected());
    EXPECT_EQ(e->GetAnswer(), "1,-1,0");
    EXPECT_EQ(ScreenAt(e, 100, 100), kLightBlue);
    EXPECT_EQ(ScreenAt(e, 380, 80), 0xFFFFFFFFu);
    EXPECT_EQ(ScreenAt(e, 240, 270), kGreen);

    // A wrong number of parts is ignored; parts that are no colour of the row choose none.
    EXPECT_EQ(ShowScene("1,0")->GetAnswer(), "");
    EXPECT_EQ(ShowScene("1,0,0,0")->GetAnswer(), "");
    EXPECT_EQ(ShowScene("x,5,1")->GetAnswer(), "-1,-1,1");
    EXPECT_EQ(ShowScene("-1,-1,-1")->GetAnswer(), "");
    // Each element starts from the picture file, whatever the one before painted.
    e = ShowScene();
    EXPECT_EQ(PictureAt(e, 100, 100), 0xFFFFFFFFu);
}

TEST_F(UITianSeElementTest, PicturesAndMasksOfOtherSizes) {
    // A picture wider than the stem is shown 684 wide, in its proportions.
    const std::string wide = m_dir.File("wide.png");
    ASSERT_TRUE(WritePicture(wide, 1368, 600));
    const std::string bigMask = m_dir.File("big.png");
    ASSERT_TRUE(WritePng(bigMask, 1400, 600, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_paint(cr);
    }));
    m_record = MakeColouring(wide, {{"大", bigMask, {"FF0000"}}, {"小", m_scene.sun, {"0000FF"}}});
    auto* e = Show<UITianSeElement>(*m_record);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetPictureBlock()->GetWidth(), 684);
    EXPECT_EQ(e->GetPictureBlock()->GetHeight(), 300);
    // A mask larger than the picture paints nothing, but its choice counts.
    const UIColor before = PictureAt(e, 10, 10);
    Choose(e, 0, 0);
    EXPECT_EQ(e->GetAnswer(), "0,-1");
    EXPECT_EQ(PictureAt(e, 10, 10), before);
    // A smaller mask paints pixel for pixel by index: its row 80 lies in the picture's rows 28 and 29.
    Choose(e, 1, 0);
    const int index = 80 * kSceneW + 380;
    EXPECT_EQ(PictureAt(e, index % 1368, index / 1368), 0xFF0000FFu);
}

TEST_F(UITianSeElementTest, ColoursAreChosenInTheAnsweringTimeOnly) {
    UITianSeElement* e = ShowScene("0,-1,-1");
    e->SetEnabled(false);
    for (size_t row = 0; row < 3; ++row)
        for (UIOption* s : e->GetSwatches(row))
            EXPECT_FALSE(s->IsEnabled());
    Choose(e, 1, 1);
    EXPECT_EQ(e->GetAnswer(), "0,-1,-1");
    EXPECT_EQ(PictureAt(e, 380, 80), 0xFFFFFFFFu);
    // The chosen colour stays visible, the swatches keep their colours.
    EXPECT_EQ(m_driver.PixelAt(Center(e->GetSwatches(1)[1]).x, Center(e->GetSwatches(1)[1]).y), kRed);
    Shot("colouring_disabled.png");
    e->SetEnabled(true);
    Choose(e, 1, 1);
    EXPECT_EQ(e->GetAnswer(), "0,1,-1");
    EXPECT_EQ(PictureAt(e, 380, 80), kRed);
}

TEST_F(UITianSeElementTest, TheAnswerAndThePaintingSurviveARestart) {
    UITianSeElement* e = ShowScene();
    Choose(e, 2, 1);
    Choose(e, 0, 0);
    Choose(e, 1, 0);
    EXPECT_EQ(e->GetAnswer(), "0,0,1");
    ExpectRestoredAfterRestart(e, *m_record, "colouring");
}

}  // namespace
}  // namespace KwLib
