// The sort element: pictures dragged into numbered slots, taken back by
// double-click, "撤消" and "重置", the answer string and its restoring.
#include "elements/UISortElement.h"

#include <gtest/gtest.h>

#include "tests/elements/DragTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

class UISortElementTest : public DragFixture {
protected:
    // Pictures with the given document positions, in this shown order.
    UISortElement* ShowPictures(std::vector<int> indexes, const std::string& answer = "") {
        std::vector<VLQuestionOption> options;
        for (int index : indexes) {
            const std::string path = m_dir.File("s" + std::to_string(index) + ".png");
            EXPECT_TRUE(WritePicture(path, 150, 150, index / 4.0));
            options.push_back(Picture(index, path));
        }
        m_record = MakeChoice(kQuestionSort, 2, std::move(options));
        m_record->m_id = "sort";
        m_record->m_instruction = "请仔细阅读题目内容，听到开始答题提示后，排列出正确的图片顺序。";
        m_record->m_content = "按照从早到晚的顺序排列图片。";
        m_record->m_answer = answer;
        return Show<UISortElement>(*m_record);
    }
    // The picture whose document position is `index` (user data index + 1).
    UIContainer* PictureOf(UISortElement* e, int index) {
        for (UIContainer* p : e->GetPictures())
            if (p->GetUserData() == std::to_string(index + 1))
                return p;
        ADD_FAILURE() << "no picture " << index;
        return nullptr;
    }
    void Place(UISortElement* e, int index, size_t slot) {
        m_driver.Drag(Center(PictureOf(e, index)), Center(e->GetSlots().at(slot)), 6);
    }
    static UIControl* ZoomOf(UIControl* box) { return reinterpret_cast<UIControl*>(box->GetTag()); }
    std::unique_ptr<VLChoiceQuestion> m_record;
};

TEST_F(UISortElementTest, SlotsAbovePicturesAndAnUntouchedAnswer) {
    UISortElement* e = ShowPictures({2, 0, 3, 1});
    ASSERT_NE(e, nullptr);
    Shot("sort_untouched.png");
    ExpectTidy(e);
    EXPECT_EQ(e->GetAnswer(), "-1,-1,-1,-1");
    const auto& slots = e->GetSlots();
    const auto& pictures = e->GetPictures();
    ASSERT_EQ(slots.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(slots[i]->GetId(), 2066);
        EXPECT_EQ(slots[i]->GetText(), std::to_string(i + 1));
        EXPECT_EQ(slots[i]->GetFont(), "font28");
        EXPECT_EQ(slots[i]->GetWidth(), 105);
        EXPECT_EQ(slots[i]->GetHeight(), 105);
        EXPECT_EQ(slots[i]->GetBorderSize(), 2);
        EXPECT_FALSE(ZoomOf(slots[i])->IsVisible());
        EXPECT_EQ(pictures[i]->GetId(), 2065);
        EXPECT_TRUE(ZoomOf(pictures[i])->IsVisible());
        EXPECT_EQ(ZoomOf(pictures[i])->GetId(), 2055);
        EXPECT_LT(slots[i]->GetY(), pictures[i]->GetY());
    }
    // Shown in the record's order, named by document position + 1.
    EXPECT_EQ(pictures[0]->GetUserData(), "3");
    EXPECT_EQ(pictures[0]->GetBkImage(), "file='" + m_dir.File("s2.png") + "'");
    EXPECT_EQ(ZoomOf(pictures[0])->GetUserData(), m_dir.File("s2.png"));
    // The zoom button sits in the picture's corner and opens it in the window; no drag starts there.
    EXPECT_EQ(ZoomOf(pictures[0])->GetPos().left, pictures[0]->GetPos().left + 78);
    m_driver.ClickAt(Center(ZoomOf(pictures[0])));
    EXPECT_EQ(m_window->Count(kNotifyClick, 2055), 1);
    m_driver.Drag(Center(ZoomOf(pictures[1])), Center(slots[0]), 4);
    EXPECT_EQ(e->GetAnswer(), "-1,-1,-1,-1");
    // Rows centred under the stem.
    const int left = slots[0]->GetPos().left - e->GetStem()->GetPos().left;
    const int right = e->GetStem()->GetPos().right - slots[3]->GetPos().right;
    EXPECT_LE(std::abs(left - right), 22);  // the stem's padding differs left and right
}

TEST_F(UISortElementTest, DraggingPicturesIntoSlots) {
    UISortElement* e = ShowPictures({1, 2, 0});
    // Document picture 3 into slot 1, picture 1 into slot 3.
    m_driver.MouseMove(Center(PictureOf(e, 2)));
    m_driver.MouseDown(Center(PictureOf(e, 2)));
    EXPECT_EQ(Pm().GetCurrentCursor(), "hand");
    m_driver.MouseMove(Offset(Center(e->GetSlots()[0]), 10, 40));
    m_driver.MouseMove(Center(e->GetSlots()[0]));
    EXPECT_EQ(Pm().GetCurrentCursor(), "hand");
    m_driver.MouseUp(Center(e->GetSlots()[0]));
    EXPECT_EQ(Pm().GetCurrentCursor(), "arrow");
    Place(e, 0, 2);
    EXPECT_EQ(e->GetAnswer(), "3,-1,1");
    Shot("sort_answered.png");

    UIContainer* slot = e->GetSlots()[0];
    UIContainer* picture = PictureOf(e, 2);
    EXPECT_EQ(slot->GetBkImage(), "file='" + m_dir.File("s2.png") + "'");
    EXPECT_EQ(slot->GetToolTip(), "双击撤销答案");
    EXPECT_EQ(slot->GetText(), "");  // the number gives way to the picture
    EXPECT_TRUE(ZoomOf(slot)->IsVisible());
    EXPECT_EQ(ZoomOf(slot)->GetUserData(), m_dir.File("s2.png"));
    // The placed picture leaves an empty frame that cannot be dragged.
    EXPECT_EQ(picture->GetBkImage(), "");
    EXPECT_FALSE(ZoomOf(picture)->IsVisible());
    m_driver.Drag(Center(picture), Center(e->GetSlots()[1]), 4);
    EXPECT_EQ(e->GetAnswer(), "3,-1,1");

    // Onto an occupied slot, onto a picture, outside any slot: nothing changes.
    m_driver.Drag(Center(PictureOf(e, 1)), Center(slot), 4);
    m_driver.Drag(Center(PictureOf(e, 1)), Center(PictureOf(e, 2)), 4);
    m_driver.Drag(Center(PictureOf(e, 1)), Offset(Center(slot), 0, -150), 4);
    m_driver.Drag(Center(PictureOf(e, 1)), {-30, 900}, 4);
    EXPECT_EQ(e->GetAnswer(), "3,-1,1");
    EXPECT_EQ(PictureOf(e, 1)->GetBkImage(), "file='" + m_dir.File("s1.png") + "'");
    EXPECT_EQ(slot->GetUserData(), "3");
}

TEST_F(UISortElementTest, TakingPicturesBack) {
    UISortElement* e = ShowPictures({1, 2, 0});
    Place(e, 2, 0);
    Place(e, 0, 2);
    // A double-click on an empty slot does nothing; on a filled one the picture goes home.
    m_driver.DoubleClickAt(Center(e->GetSlots()[1]));
    EXPECT_EQ(e->GetAnswer(), "3,-1,1");
    m_driver.DoubleClickAt(Center(e->GetSlots()[0]));
    EXPECT_EQ(e->GetAnswer(), "-1,-1,1");
    EXPECT_EQ(PictureOf(e, 2), e->GetPictures()[1]);
    EXPECT_EQ(PictureOf(e, 2)->GetBkImage(), "file='" + m_dir.File("s2.png") + "'");
    EXPECT_TRUE(ZoomOf(PictureOf(e, 2))->IsVisible());
    EXPECT_FALSE(ZoomOf(e->GetSlots()[0])->IsVisible());
    EXPECT_EQ(e->GetSlots()[0]->GetToolTip(), "");
    EXPECT_EQ(e->GetSlots()[0]->GetText(), "1");
    // "撤消" takes the last placement back, "重置" every one.
    Place(e, 1, 1);
    Place(e, 2, 0);
    EXPECT_EQ(e->GetAnswer(), "3,2,1");
    ASSERT_TRUE(m_driver.Click(2056));
    EXPECT_EQ(e->GetAnswer(), "-1,2,1");
    ASSERT_TRUE(m_driver.Click(2057));
    EXPECT_EQ(e->GetAnswer(), "-1,-1,-1");
    for (UIContainer* p : e->GetPictures())
        EXPECT_FALSE(p->GetBkImage().empty());
    ASSERT_TRUE(m_driver.Click(2056));
    EXPECT_EQ(e->GetAnswer(), "-1,-1,-1");
}

TEST_F(UISortElementTest, ASavedAnswerIsPlacedAsDropsWouldPlaceIt) {
    UISortElement* e = ShowPictures({1, 2, 0}, "3,-1,1");
    EXPECT_EQ(e->GetAnswer(), "3,-1,1");
    EXPECT_EQ(PictureOf(e, 2)->GetBkImage(), "");
    EXPECT_EQ(e->GetSlots()[2]->GetBkImage(), "file='" + m_dir.File("s0.png") + "'");
    // Placed pictures come back by double-click as if dragged there.
    m_driver.DoubleClickAt(Center(e->GetSlots()[2]));
    EXPECT_EQ(e->GetAnswer(), "3,-1,-1");

    // Fewer or more entries than slots: nothing. Unknown or repeated pictures are left out.
    EXPECT_EQ(ShowPictures({1, 2, 0}, "3,1")->GetAnswer(), "-1,-1,-1");
    EXPECT_EQ(ShowPictures({1, 2, 0}, "3,1,2,-1")->GetAnswer(), "-1,-1,-1");
    EXPECT_EQ(ShowPictures({1, 2, 0}, "1,1,7")->GetAnswer(), "1,-1,-1");
    EXPECT_EQ(ShowPictures({1, 2, 0}, "x,02,2")->GetAnswer(), "-1,-1,2");
}

TEST_F(UISortElementTest, NothingMovesOutsideTheAnsweringTime) {
    UISortElement* e = ShowPictures({0, 1});
    e->SetEnabled(false);
    EXPECT_FALSE(m_driver.Find(2057)->IsEnabled());
    Place(e, 0, 0);
    EXPECT_EQ(e->GetAnswer(), "-1,-1");
    Shot("sort_disabled.png");
    e->SetEnabled(true);
    Place(e, 0, 0);
    EXPECT_EQ(e->GetAnswer(), "1,-1");
    e->SetEnabled(false);
    m_driver.DoubleClickAt(Center(e->GetSlots()[0]));
    EXPECT_EQ(e->GetAnswer(), "1,-1");
}

TEST_F(UISortElementTest, TheAnswerAndThePicturesSurviveARestart) {
    UISortElement* e = ShowPictures({2, 0, 3, 1});
    Place(e, 0, 0);
    Place(e, 3, 1);
    Place(e, 2, 3);
    EXPECT_EQ(e->GetAnswer(), "1,4,-1,3");
    ExpectRestoredAfterRestart(e, *m_record, "sort");
}

}  // namespace
}  // namespace KwLib
