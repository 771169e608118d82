// The singing element's score display and notation switch, and the
// three-lamp countdown.
#include "elements/UISingElement.h"

#include <gtest/gtest.h>

#include "elements/UIChoiceElement.h"
#include "elements/UISingTips.h"
#include "tests/elements/ElementTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

class UISingElementTest : public ElementFixture {
protected:
    UISingElement* ShowSong(const std::string& staff, const std::string& numbered) {
        m_record = std::make_unique<VLSingQuestion>();
        m_record->m_type = kQuestionSing;
        m_record->m_content = "请跟着伴奏演唱歌曲《小星星》。";
        m_record->m_staffPic = staff;
        m_record->m_numberedPic = numbered;
        return Show<UISingElement>(*m_record);
    }
    std::string Score(const std::string& name, int w, int h, bool staff) {
        std::string path = m_dir.File(name);
        EXPECT_TRUE(WriteScore(path, w, h, staff));
        return path;
    }
    UIControl* Block(UISingElement* e) {
        auto blocks = FindAll(e, UISingElement::kScoreBlockId);
        EXPECT_LE(blocks.size(), 1u);
        return blocks.empty() ? nullptr : blocks[0];
    }
    std::unique_ptr<VLSingQuestion> m_record;
};

TEST_F(UISingElementTest, TheNotationButtonSwitchesBetweenTheTwoScores) {
    const std::string staff = Score("staff.png", 1356, 400, true);
    const std::string numbered = Score("numbered.png", 600, 400, false);
    UISingElement* e = ShowSong(staff, numbered);
    ASSERT_NE(e, nullptr);
    auto* button = m_driver.FindAs<UIButton>(UISingElement::kNotationButtonId);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->GetText(), "切换到五线谱");
    EXPECT_EQ(button->GetPos().Width(), 98);
    EXPECT_EQ(button->GetPos().Height(), 32);
    EXPECT_EQ(button->GetPos().right, e->GetStem()->GetPos().left + 684);
    EXPECT_EQ(button->GetNormalImage(), "res='1036' restype='PNG' source='0,0,98,32'");
    EXPECT_FALSE(e->IsStaffShown());
    // Numbered first: 600 wide, at its own size in the middle, no zoom button.
    UIControl* block = Block(e);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->GetUserData(), numbered);
    EXPECT_EQ(block->GetBkImage(), "file='" + numbered + "' dest='42,3,642,403'");
    EXPECT_EQ(block->GetPos().Width(), 684);
    EXPECT_EQ(block->GetPos().Height(), 406);
    EXPECT_EQ(FindAll(block, UIQuestionElement::kZoomButtonId).size(), 0u);
    const int stemHeight = e->GetStem()->GetFixedHeight();

    ASSERT_TRUE(m_driver.Click(UISingElement::kNotationButtonId));
    EXPECT_TRUE(e->IsStaffShown());
    EXPECT_EQ(button->GetText(), "切换到简谱");
    block = Block(e);
    ASSERT_NE(block, nullptr);
    // 1356 x 400 shrinks to 678 x 200, centred at x = 3, with a zoom button.
    EXPECT_EQ(block->GetUserData(), staff);
    EXPECT_EQ(block->GetBkImage(), "file='" + staff + "' dest='3,3,681,203'");
    EXPECT_EQ(block->GetPos().Height(), 206);
    const auto zoom = FindAll(block, UIQuestionElement::kZoomButtonId);
    ASSERT_EQ(zoom.size(), 1u);
    EXPECT_EQ(zoom[0]->GetPos(), (UIRect{block->GetPos().right - 28, block->GetPos().bottom - 28,
                                         block->GetPos().right - 3, block->GetPos().bottom - 3}));
    EXPECT_EQ(zoom[0]->GetUserData(), staff);
    // The score stays where it was, and the stem follows its new height.
    EXPECT_EQ(e->GetStem()->GetItemIndex(block), e->GetStem()->GetItemIndex(button) + 1);
    EXPECT_EQ(e->GetStem()->GetFixedHeight(), stemHeight - 200);

    ASSERT_TRUE(m_driver.Click(UISingElement::kNotationButtonId));
    EXPECT_FALSE(e->IsStaffShown());
    EXPECT_EQ(button->GetText(), "切换到五线谱");
    EXPECT_EQ(Block(e)->GetUserData(), numbered);
    EXPECT_EQ(e->GetStem()->GetFixedHeight(), stemHeight);

    // The block reports double-clicks for the picture viewer.
    m_driver.DoubleClickAt(Center(Block(e)));
    EXPECT_EQ(m_window->Count(kNotifyDblClick, UISingElement::kScoreBlockId), 1);
    EXPECT_EQ(m_window->notes.back().userData, numbered);
    EXPECT_FALSE(e->IsStaffShown());
}

TEST_F(UISingElementTest, ASingleScoreIsShownWithoutButton) {
    const std::string staff = Score("staff.png", 700, 300, true);
    UISingElement* e = ShowSong(staff, "");
    EXPECT_EQ(m_driver.Find(UISingElement::kNotationButtonId), nullptr);
    ASSERT_NE(Block(e), nullptr);
    EXPECT_EQ(Block(e)->GetUserData(), staff);

    const std::string numbered = Score("numbered.png", 500, 100, false);
    e = ShowSong("", numbered);
    EXPECT_EQ(m_driver.Find(UISingElement::kNotationButtonId), nullptr);
    EXPECT_EQ(Block(e)->GetUserData(), numbered);

    e = ShowSong("", "");
    EXPECT_EQ(Block(e), nullptr);
    EXPECT_EQ(e->GetStem()->GetCount(), 1);  // the question text only

    // A score not yet downloaded keeps its place: a block 6 pixels high.
    e = ShowSong(m_dir.File("not-there.png"), "");
    ASSERT_NE(Block(e), nullptr);
    EXPECT_EQ(Block(e)->GetPos().Height(), 6);
}

TEST_F(UISingElementTest, HasNoAnswerString) {
    UISingElement* e = ShowSong("", "");
    e->SetAnswer("0,1");
    EXPECT_EQ(e->GetAnswer(), "");
    // Disabled, the element still lets the student switch the score.
    const std::string staff = Score("staff.png", 400, 100, true);
    const std::string numbered = Score("numbered.png", 400, 100, false);
    e = ShowSong(staff, numbered);
    e->SetEnabled(false);
    ASSERT_TRUE(m_driver.Click(UISingElement::kNotationButtonId));
    EXPECT_TRUE(e->IsStaffShown());
}

TEST_F(UISingElementTest, ChoiceQuestionsShowTheirScoreAboveTheOptions) {
    const std::string staff = Score("staff.png", 400, 100, true);
    const std::string numbered = Score("numbered.png", 400, 100, false);
    auto record = MakeChoice(kQuestionSingleChoice, 1, {Text(0, "四二拍"), Text(1, "四三拍")});
    record->m_content = "这首歌是几拍子的？";
    record->m_staffPic = staff;
    record->m_numberedPic = numbered;
    auto* e = Show<UIChoiceElement>(*record);
    ASSERT_NE(e, nullptr);
    UIControl* block = Block(e);
    ASSERT_NE(block, nullptr);
    EXPECT_LT(block->GetPos().bottom, e->GetOptions()[0]->GetPos().top);
    ASSERT_TRUE(m_driver.Click(UISingElement::kNotationButtonId));
    EXPECT_EQ(Block(e)->GetUserData(), staff);
    // The options moved with the stem and still answer.
    m_driver.ClickAt(Center(e->GetOptions()[1]));
    EXPECT_EQ(e->GetAnswer(), "1");
}

TEST_F(UISingElementTest, TipsLightAsManyLampsAsTheLevel) {
    auto* tips = dynamic_cast<UISingTips*>(Pm().FindControl("tips"));
    ASSERT_NE(tips, nullptr);
    EXPECT_EQ(tips->GetNormalImage(), "res='1048' restype='PNG'");
    EXPECT_EQ(tips->GetPos().Width(), 111);
    EXPECT_EQ(tips->GetPos().Height(), 69);
    ASSERT_EQ(tips->GetCount(), 3);
    for (int i = 0; i < 3; ++i) {
        UIControl* lamp = tips->GetLamp(i);
        ASSERT_EQ(lamp, tips->GetItemAt(i));
        EXPECT_EQ(lamp->GetNormalImage(), "res='1049' restype='PNG'");
        EXPECT_EQ(lamp->GetPos().Width(), 26);
        EXPECT_EQ(lamp->GetPos().Height(), 28);
        EXPECT_TRUE(tips->GetPos().Intersect(lamp->GetPos()) == lamp->GetPos());
    }
    auto lit = [&] {
        std::string s;
        for (int i = 0; i < 3; ++i)
            s += tips->GetLamp(i)->IsVisible() ? '1' : '0';
        return s;
    };
    tips->SetLevel(3);
    EXPECT_EQ(lit(), "111");
    tips->SetLevel(2);
    EXPECT_EQ(lit(), "110");
    tips->SetLevel(1);
    EXPECT_EQ(lit(), "100");
    tips->SetLevel(0);
    EXPECT_EQ(lit(), "000");
    tips->SetLevel(4);
    EXPECT_EQ(lit(), "000");
    tips->SetLevel(2);
    m_driver.Pump();
    // The lit lamps keep their places.
    EXPECT_LT(tips->GetLamp(0)->GetPos().right, tips->GetLamp(1)->GetPos().left);

    // Made in code, it builds its lamps once it has a window.
    UISingTips own;
    EXPECT_EQ(own.GetCount(), 0);
    own.Init();
    own.Init();
    EXPECT_EQ(own.GetCount(), 3);
    own.SetLevel(1);
    EXPECT_TRUE(own.GetLamp(0)->IsVisible());
    EXPECT_FALSE(own.GetLamp(1)->IsVisible());
}

}  // namespace
}  // namespace KwLib
