// Screenshots of the elements as the exam page shows them (1024 x 768 window,
// 712-pixel question area), written into the build folder for a look, and a
// check that no text of theirs is cut off or leaves the question area.
#include <gtest/gtest.h>

#include "elements/UIChoiceElement.h"
#include "elements/UISingElement.h"
#include "elements/UISingTips.h"
#include "platform/ui/UIRenderUtils.h"
#include "tests/elements/ElementTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

class ElementScreenshotTest : public ElementFixture {
protected:
    void SetUp() override {
        ElementFixture::SetUp();
        if (auto* tips = dynamic_cast<UISingTips*>(Pm().FindControl("tips")))
            tips->SetVisible(false);
    }
    // Every text fits its control, and every control lies inside the area
    // (left of the element's scroll bar when it has one).
    void ExpectTidy(UIQuestionElement* e) {
        const UIRect area = m_area->GetPos();
        const int right = area.right - (e->GetScrollRange() > 0 ? UIContainer::kScrollBarWidth : 0);
        e->ForEach([&](UIControl* c) {
            if (c == e || !c->IsVisible())
                return;
            const UIRect& rc = c->GetPos();
            EXPECT_GE(rc.left, area.left) << c->GetText();
            EXPECT_LE(rc.right, right) << c->GetClass() << " " << c->GetText();
            if (c->GetText().empty())
                return;
            UIRect text = rc;
            text.Deflate(c->GetTextPadding());
            const uint32_t style = c->GetTextStyle();
            if (style & DT_WORDBREAK) {
                UISize need =
                    UIRenderUtils::GetTextSize(&Pm(), c->GetText(), c->GetFont(), style, text.Width());
                EXPECT_LE(need.cy, text.Height()) << c->GetText();
                EXPECT_LE(need.cx, text.Width()) << c->GetText();
            } else {
                UISize need = UIRenderUtils::GetTextSize(&Pm(), c->GetText(), c->GetFont(), DT_SINGLELINE);
                EXPECT_LE(need.cx, text.Width()) << c->GetText();
                EXPECT_LE(need.cy, text.Height()) << c->GetText();
            }
        });
    }
    void Shot(const std::string& name) {
        m_driver.Pump();
        EXPECT_TRUE(m_driver.Screenshot(ShotPath(name)));
    }
    std::unique_ptr<VLQuestionBase> m_record;
};

TEST_F(ElementScreenshotTest, TextSingleChoice) {
    auto q = MakeChoice(kQuestionSingleChoice, 1,
                        {Text(2, "《茉莉花》"), Text(0, "《小白船》"), Text(3, "《让我们荡起双桨》"),
                         Text(1,
                              "《歌唱祖国》——这首歌曲的旋律由中国作曲家创作，在全国各地广为传唱，"
                              "也常在学校的音乐课上演唱。")});
    q->m_instruction = "根据题目给出的选项，听到“开始答题”提示后，选择出符合题目要求的选项。";
    q->m_content = "听音乐片段，选出这首歌曲的名称。";
    q->m_answer = "0";
    auto* e = Show<UIChoiceElement>(*q);
    ASSERT_NE(e, nullptr);
    ExpectTidy(e);
    Shot("choice_text.png");
    m_record = std::move(q);
}

TEST_F(ElementScreenshotTest, PictureChoiceTwoPerLine) {
    std::vector<VLQuestionOption> options;
    for (int i : {1, 3, 0, 2}) {
        const std::string path = m_dir.File("p" + std::to_string(i) + ".png");
        ASSERT_TRUE(WritePicture(path, 300, 200, i / 3.0));
        options.push_back(Picture(i, path));
    }
    auto q = MakeChoice(kQuestionSingleChoice, 2, std::move(options));
    q->m_instruction = "根据题目给出的选项，听到“开始答题”提示后，选择出符合题目要求的选项。";
    q->m_content = "下面哪一幅画用的是暖色调？";
    q->m_answer = "3";
    auto* e = Show<UIChoiceElement>(*q);
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->IsTwoPerLine());
    ExpectTidy(e);
    Shot("choice_pictures.png");
    m_record = std::move(q);
}

TEST_F(ElementScreenshotTest, MultipleChoiceWithASoundOption) {
    auto q =
        MakeChoice(kQuestionMultiChoice, 1,
                   {Text(0, "二胡"), Audio(1, m_dir.File("erhu.mp3")), Text(2, "琵琶"), Text(3, "古筝")});
    q->m_instruction = "多项选择题，根据题目给出的选项，听到“开始答题”提示后，选择出符合题目要求的选项。";
    q->m_indexInGroup = 0;
    q->m_content = "下面哪些是中国的民族乐器？";
    q->m_answer = "0,1";
    auto* e = Show<UIChoiceElement>(*q);
    ASSERT_NE(e, nullptr);
    ExpectTidy(e);
    Shot("choice_multiple_audio.png");
    m_record = std::move(q);
}

TEST_F(ElementScreenshotTest, Judgement) {
    auto q = MakeChoice(kQuestionJudge, 2, {Text(0, "对"), Text(1, "错")});
    q->m_instruction = "判断题，请仔细阅读题目内容，判断是否正确。";
    q->m_content = "红色、黄色和橙色是暖色。";
    q->m_answer = "0";
    auto* e = Show<UIChoiceElement>(*q);
    ASSERT_NE(e, nullptr);
    ExpectTidy(e);
    Shot("choice_judgement.png");
    // Outside the answering time the options are greyed, the answer still shows.
    e->SetEnabled(false);
    Shot("choice_judgement_disabled.png");
    m_record = std::move(q);
}

TEST_F(ElementScreenshotTest, SingingWithBothNotations) {
    auto q = std::make_unique<VLSingQuestion>();
    q->m_type = kQuestionSing;
    q->m_instruction = "请先聆听音乐，在听到开始答题提示后，根据题目要求演唱出歌曲。";
    q->m_content = "请跟着伴奏演唱歌曲《小星星》的第一段。";
    q->m_staffPic = m_dir.File("staff.png");
    q->m_numberedPic = m_dir.File("numbered.png");
    ASSERT_TRUE(WriteScore(q->m_staffPic, 1356, 400, true));
    ASSERT_TRUE(WriteScore(q->m_numberedPic, 600, 200, false));
    auto* e = Show<UISingElement>(*q);
    ASSERT_NE(e, nullptr);
    auto* tips = dynamic_cast<UISingTips*>(Pm().FindControl("tips"));
    ASSERT_NE(tips, nullptr);
    tips->SetLevel(2);
    tips->SetVisible(true);
    ExpectTidy(e);
    Shot("sing_numbered.png");
    ASSERT_TRUE(m_driver.Click(UISingElement::kNotationButtonId));
    ExpectTidy(e);
    Shot("sing_staff.png");
    m_record = std::move(q);
}

}  // namespace
}  // namespace KwLib
