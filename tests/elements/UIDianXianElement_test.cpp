// The dot-line element: segments displaced on the picture, taken hold of
// within 3 pixels and dragged along their direction, "撤消" and "重置", the
// answer string and its restoring.
#include "elements/UIDianXianElement.h"

#include <gtest/gtest.h>

#include "elements/UIDianXianControl.h"
#include "tests/elements/DragTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

class UIDianXianElementTest : public DragFixture {
protected:
    UIDianXianElement* ShowLines(std::vector<VLQuestionLine> lines, const std::string& answer = "") {
        const std::string path = m_dir.File("dots.png");
        EXPECT_TRUE(WritePng(path, 600, 400, [](cairo_t* cr) {
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_paint(cr);
            cairo_set_source_rgb(cr, 0.25, 0.3, 0.35);
            for (auto [x, y] :
                 {std::pair{100, 300}, std::pair{240, 60}, std::pair{380, 300}, std::pair{500, 120}}) {
                cairo_arc(cr, x, y, 7, 0, 2 * std::numbers::pi);
                cairo_fill(cr);
            }
        }));
        m_record = MakeDotLine(path, std::move(lines));
        m_record->m_instruction = "请仔细阅读题目内容，听到开始答题提示后，绘制出正确的答案。";
        m_record->m_content = "用线把点连起来，画出一个三角形。";
        m_record->m_answer = answer;
        return Show<UIDianXianElement>(*m_record);
    }
    // A point of the surface in window coordinates.
    UIPoint At(UIDianXianElement* e, int x, int y) {
        const UIRect& rc = e->GetSurface()->GetPos();
        return {rc.left + x, rc.top + y};
    }
    const VLQuestionLine& Segment(UIDianXianElement* e, size_t i) {
        return e->GetSurface()->GetSegments().at(i);
    }
    std::unique_ptr<VLDianXianQuestion> m_record;
};

TEST_F(UIDianXianElementTest, SegmentsStartDisplacedAndTheAnswerEmpty) {
    UIDianXianElement* e = ShowLines(
        {{100, 300, 240, 60, 1}, {240, 60, 380, 300, 1}, {300, 100, 300, 250, 2}, {50, 350, 150, 350, 0}});
    ASSERT_NE(e, nullptr);
    Shot("dotline_untouched.png");
    ExpectTidy(e);
    EXPECT_EQ(e->GetAnswer(), "");
    EXPECT_EQ(e->GetSurface()->GetWidth(), 600);
    EXPECT_EQ(e->GetSurface()->GetHeight(), 400);
    EXPECT_EQ(e->GetSurface()->GetBkImage(), "file='" + m_record->m_picture + "'");
    // Sideways segments keep their height and length, their middle anywhere across;
    // up-and-down ones likewise; a fixed one stays.
    for (size_t i : {0u, 1u}) {
        const VLQuestionLine& s = Segment(e, i);
        EXPECT_EQ(s.y1, m_record->m_lines[i].y1);
        EXPECT_EQ(s.y2, m_record->m_lines[i].y2);
        EXPECT_EQ(s.x2 - s.x1, m_record->m_lines[i].x2 - m_record->m_lines[i].x1);
        EXPECT_GE((s.x1 + s.x2) / 2, -1);
        EXPECT_LT((s.x1 + s.x2) / 2, 600);
    }
    const VLQuestionLine& upDown = Segment(e, 2);
    EXPECT_EQ(upDown.x1, 300);
    EXPECT_EQ(upDown.y2 - upDown.y1, 150);
    EXPECT_GE((upDown.y1 + upDown.y2) / 2, 0);
    EXPECT_LT((upDown.y1 + upDown.y2) / 2, 400);
    const VLQuestionLine& fixed = Segment(e, 3);
    EXPECT_EQ(fixed.x1, 50);
    EXPECT_EQ(fixed.x2, 150);
    // The buttons below the picture.
    UIControl* undo = m_driver.Find(2056);
    UIControl* reset = m_driver.Find(2057);
    ASSERT_TRUE(undo && reset);
    EXPECT_EQ(undo->GetText(), "撤消");
    EXPECT_EQ(reset->GetText(), "重置");
    EXPECT_EQ(undo->GetWidth(), 66);
    EXPECT_EQ(undo->GetHeight(), 24);
    EXPECT_GT(undo->GetY(), e->GetSurface()->GetPos().bottom);
    EXPECT_LE(reset->GetPos().right, e->GetSurface()->GetPos().right);
}

TEST_F(UIDianXianElementTest, ASegmentIsTakenWithinThreePixels) {
    // Vertical, horizontal and slanted (x = 300 + (y - 50) / 2), all moving sideways.
    UIDianXianElement* e = ShowLines({{0, 0, 0, 0, 1}, {0, 0, 0, 0, 1}, {0, 0, 0, 0, 1}},
                                     "100^50,100^150;200^300,400^300;300^50,400^250");
    UIDianXianControl* surface = e->GetSurface();
    EXPECT_EQ(surface->HitTest({103, 100}), 0);
    EXPECT_EQ(surface->HitTest({97, 100}), 0);
    EXPECT_EQ(surface->HitTest({104, 100}), -1);
    EXPECT_EQ(surface->HitTest({100, 151}), -1);  // past its end
    EXPECT_EQ(surface->HitTest({300, 303}), 1);
    EXPECT_EQ(surface->HitTest({300, 296}), -1);
    EXPECT_EQ(surface->HitTest({401, 300}), -1);
    // The slanted one at y = 150 runs through x = 350: 4 pixels sideways is 3.58
    // away, 5 pixels is 4.47 away.
    EXPECT_EQ(surface->HitTest({354, 150}), 2);
    EXPECT_EQ(surface->HitTest({346, 150}), 2);
    EXPECT_EQ(surface->HitTest({355, 150}), -1);
    EXPECT_EQ(surface->HitTest({345, 150}), -1);

    // The same with the mouse: the hand shows where a press takes hold.
    m_driver.MouseMove(At(e, 103, 100));
    EXPECT_EQ(Pm().GetCurrentCursor(), "hand");
    m_driver.MouseMove(At(e, 104, 100));
    EXPECT_EQ(Pm().GetCurrentCursor(), "arrow");
    m_driver.MouseMove(At(e, 354, 150));
    EXPECT_EQ(Pm().GetCurrentCursor(), "hand");
    m_driver.MouseMove(At(e, 355, 150));
    EXPECT_EQ(Pm().GetCurrentCursor(), "arrow");
    // A press 4 pixels beside the vertical segment misses; 3 pixels beside takes it.
    m_driver.Drag(At(e, 104, 100), At(e, 154, 100), 5);
    EXPECT_EQ(Segment(e, 0).x1, 100);
    m_driver.Drag(At(e, 103, 100), At(e, 153, 100), 5);
    EXPECT_EQ(Segment(e, 0).x1, 150);
    EXPECT_EQ(Segment(e, 0).x2, 150);
    EXPECT_EQ(Segment(e, 0).y1, 50);
}

TEST_F(UIDianXianElementTest, SegmentsMoveOnlyTheirOwnWay) {
    UIDianXianElement* e = ShowLines({{100, 200, 300, 200, 1}, {100, 200, 300, 200, 2}, {0, 0, 0, 0, 1}});
    EXPECT_EQ(e->GetAnswer(), "");
    e->SetAnswer("100^100,300^100;100^250,300^250;300^50,400^250");
    // Sideways: 50 pixels to the right ends 50 further right, the pointer's height change ignored.
    m_driver.MouseMove(At(e, 150, 101));
    m_driver.MouseDown(At(e, 150, 101));
    EXPECT_EQ(Pm().GetCurrentCursor(), "hand");
    m_driver.MouseMove(At(e, 175, 120));
    m_driver.MouseMove(At(e, 200, 131));
    // While dragging, the segment is shown where it would land.
    EXPECT_EQ(m_driver.PixelAt(At(e, 350, 100).x, At(e, 350, 100).y), UIDianXianControl::kLineColor);
    ShotNow("dotline_dragging.png");
    m_driver.MouseUp(At(e, 200, 131));
    EXPECT_EQ(Pm().GetCurrentCursor(), "arrow");
    EXPECT_EQ(e->GetAnswer(), "150^100,350^100;100^250,300^250;300^50,400^250");
    // Up and down: it follows the pointer's vertical offset instead.
    m_driver.Drag(At(e, 200, 250), At(e, 250, 220), 5);
    EXPECT_EQ(e->GetAnswer(), "150^100,350^100;100^220,300^220;300^50,400^250");
    // A slanted one moves sideways until it runs through where it was let go.
    m_driver.Drag(At(e, 350, 150), At(e, 420, 190), 5);
    const VLQuestionLine& s = Segment(e, 2);
    EXPECT_EQ(s.y1, 50);
    EXPECT_EQ(s.y2, 250);
    EXPECT_EQ(s.x1 + (190 - s.y1) / 2, 420);
    Shot("dotline_answered.png");

    // Let go outside the picture: the drag is called off.
    const std::string before = e->GetAnswer();
    m_driver.Drag(At(e, 200, 100), At(e, 250, 480), 5);
    EXPECT_EQ(e->GetAnswer(), before);
    m_driver.MouseMove(At(e, 10, 10));
    EXPECT_EQ(Pm().GetCurrentCursor(), "arrow");
}

TEST_F(UIDianXianElementTest, UndoAndResetAndNothingOutsideTheAnsweringTime) {
    UIDianXianElement* e = ShowLines({{100, 200, 300, 200, 1}, {50, 50, 50, 150, 1}});
    EXPECT_EQ(e->GetAnswer(), "");
    // Put the segments where the test knows them, then drag the first.
    e->SetAnswer("100^200,300^200;50^50,50^150");
    m_driver.Drag(At(e, 200, 200), At(e, 240, 200), 4);
    EXPECT_EQ(e->GetAnswer(), "140^200,340^200;50^50,50^150");
    // "撤消" takes the drag back.
    ASSERT_TRUE(m_driver.Click(2056));
    EXPECT_EQ(e->GetAnswer(), "100^200,300^200;50^50,50^150");
    // "重置" displaces every segment anew and empties the answer.
    ASSERT_TRUE(m_driver.Click(2057));
    EXPECT_EQ(e->GetAnswer(), "");
    EXPECT_FALSE(e->GetSurface()->IsMoved());
    bool moved = false;
    for (size_t i = 0; i < 2; ++i) {
        const VLQuestionLine& s = Segment(e, i);
        moved = moved || s.x1 != (i == 0 ? 100 : 50);
        EXPECT_GE((s.x1 + s.x2) / 2, 0);
        EXPECT_LT((s.x1 + s.x2) / 2, 600);
    }
    EXPECT_TRUE(moved);
    // ... and "撤消" brings them back from before the reset.
    ASSERT_TRUE(m_driver.Click(2056));
    EXPECT_EQ(e->GetAnswer(), "100^200,300^200;50^50,50^150");
    ASSERT_TRUE(m_driver.Click(2056));
    EXPECT_EQ(e->GetAnswer(), "100^200,300^200;50^50,50^150");

    e->SetEnabled(false);
    EXPECT_FALSE(m_driver.Find(2057)->IsEnabled());
    m_driver.MouseMove(At(e, 200, 200));
    EXPECT_EQ(Pm().GetCurrentCursor(), "arrow");
    m_driver.Drag(At(e, 200, 200), At(e, 260, 200), 4);
    m_driver.Click(2057);
    EXPECT_EQ(e->GetAnswer(), "100^200,300^200;50^50,50^150");
    Shot("dotline_disabled.png");
}

TEST_F(UIDianXianElementTest, ASavedAnswerPlacesTheSegments) {
    UIDianXianElement* e = ShowLines({{0, 0, 10, 10, 1}}, "120^40,220^40");
    EXPECT_EQ(Segment(e, 0).x1, 120);
    EXPECT_EQ(Segment(e, 0).y1, 40);
    EXPECT_EQ(Segment(e, 0).x2, 220);
    EXPECT_EQ(Segment(e, 0).y2, 40);
    EXPECT_EQ(e->GetAnswer(), "120^40,220^40");
    EXPECT_EQ(m_driver.PixelAt(At(e, 170, 40).x, At(e, 170, 40).y), UIDianXianControl::kLineColor);

    // A damaged saved answer (a wrong number of parts, nothing readable) is not
    // restored, and the displaced start positions never become the student's answer.
    for (const char* damaged : {"1^2,3^4;5^6,7^8", "x^y,z^w", ";"}) {
        e = ShowLines({{0, 0, 10, 10, 1}}, damaged);
        EXPECT_FALSE(e->GetSurface()->IsMoved()) << damaged;
        EXPECT_EQ(e->GetAnswer(), "") << damaged;
        EXPECT_EQ(Segment(e, 0).y1, 0) << damaged;
    }
    // A point that is not two numbers leaves its end as it was; huge numbers are held in range.
    e = ShowLines({{0, 0, 10, 10, 1}, {0, 5, 10, 5, 1}}, "1^2,x^4;5^6,99999999999^8");
    EXPECT_EQ(Segment(e, 0).x1, 1);
    EXPECT_EQ(Segment(e, 0).y1, 2);
    EXPECT_EQ(Segment(e, 0).y2, 10);
    EXPECT_EQ(Segment(e, 1).x1, 5);
    EXPECT_EQ(Segment(e, 1).y2, 5);
    e = ShowLines({{0, 0, 10, 10, 1}}, "-2147483648^2147483647,100000000^-100000000");
    EXPECT_EQ(e->GetAnswer(), "-100000^100000,100000^-100000");
}

TEST_F(UIDianXianElementTest, TheAnswerAndTheDrawingSurviveARestart) {
    UIDianXianElement* e =
        ShowLines({{100, 300, 240, 60, 1}, {240, 60, 380, 300, 1}, {380, 300, 100, 300, 1}});
    // Displaced where the test knows them, then dragged home one by one
    // (each taken where it crosses the height 180, the last in its middle).
    e->SetAnswer("200^300,340^60;40^60,180^300;420^300,140^300");
    m_driver.Drag(At(e, 270, 180), At(e, 170, 180), 6);
    m_driver.Drag(At(e, 110, 180), At(e, 310, 180), 6);
    m_driver.Drag(At(e, 280, 300), At(e, 240, 300), 6);
    EXPECT_EQ(e->GetAnswer(), "100^300,240^60;240^60,380^300;380^300,100^300");
    ExpectRestoredAfterRestart(e, *m_record, "dotline");
}

}  // namespace
}  // namespace KwLib
