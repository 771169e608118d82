// The connection element: its columns and points, lines drawn by dragging
// between the first two columns, undo and reset, the answer string and its
// restoring wherever the shuffle placed the items.
#include "elements/UIConnectionElement.h"

#include <gtest/gtest.h>

#include "audio/UIVirtualMusicPlayer.h"
#include "tests/elements/DragTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

class UIConnectionElementTest : public DragFixture {
protected:
    // Names (first column) against pictures (second column), both shown shuffled.
    UIConnectionElement* ShowNamesAndPictures(const std::string& answer = "") {
        std::vector<VLQuestionOption> pictures;
        for (int index : {1, 2, 0}) {
            const std::string path = m_dir.File("c" + std::to_string(index) + ".png");
            EXPECT_TRUE(WritePicture(path, 160 + 40 * index, 120, index / 2.0));
            pictures.push_back(Picture(index, path));
        }
        m_record = MakeConnection({{Text(2, "草地"), Text(0, "太阳"), Text(1, "天空")}, std::move(pictures)});
        m_record->m_instruction = "请仔细阅读题目内容，通过鼠标点击滑动将有关联的内容连接起来。";
        m_record->m_content = "把名称和图画连起来。";
        m_record->m_answer = answer;
        return Show<UIConnectionElement>(*m_record);
    }
    // The point of a column (0 or 1) whose item has the document position `index`.
    UIControl* PointOf(UIConnectionElement* e, int column, int index) {
        for (UIControl* p : e->GetPoints())
            if (p->GetId() == UIConnectionElement::kFirstPointId + column &&
                p->GetUserData() == std::to_string(index + 1))
                return p;
        ADD_FAILURE() << "no point " << column << "/" << index;
        return nullptr;
    }
    void Connect(UIConnectionElement* e, int fromColumn, int fromIndex, int toColumn, int toIndex) {
        m_driver.Drag(Center(PointOf(e, fromColumn, fromIndex)), Center(PointOf(e, toColumn, toIndex)), 6);
    }
    std::unique_ptr<VLConnectionQuestion> m_record;
};

TEST_F(UIConnectionElementTest, ColumnsShowTheirItemsWithAPointEach) {
    UIConnectionElement* e = ShowNamesAndPictures();
    ASSERT_NE(e, nullptr);
    Shot("connection_untouched.png");
    ExpectTidy(e);
    const auto& points = e->GetPoints();
    ASSERT_EQ(points.size(), 6u);
    // Building order is the shown (shuffled) order; user data the document position + 1.
    const char* expected[] = {"3", "1", "2", "2", "3", "1"};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(points[i]->GetId(), i < 3 ? 2101 : 2102);
        EXPECT_EQ(points[i]->GetUserData(), expected[i]);
        EXPECT_EQ(points[i]->GetWidth(), 28);
        EXPECT_EQ(points[i]->GetHeight(), 29);
        EXPECT_EQ(points[i]->GetBkImage(), "res='1052' restype='PNG'");
    }
    // Text column 210 wide, picture column 134; the first column's points on
    // the right of their items, the second's on the left.
    UIControl* textColumn = points[0]->GetParent()->GetParent();
    UIControl* pictureColumn = points[3]->GetParent()->GetParent();
    EXPECT_EQ(textColumn->GetWidth(), 210);
    EXPECT_EQ(pictureColumn->GetWidth(), 134);
    EXPECT_EQ(points[0]->GetPos().right, textColumn->GetPos().right);
    EXPECT_EQ(points[3]->GetPos().left, pictureColumn->GetPos().left);
    EXPECT_LT(textColumn->GetPos().right, pictureColumn->GetPos().left);

    // A text item: 170 wide, as high as its lines plus 22, the point at its middle.
    const UISize line = Measure("草地", "");
    auto* item = dynamic_cast<UIContainer*>(dynamic_cast<UIContainer*>(points[0]->GetParent())->GetItemAt(0));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetWidth(), 170);
    EXPECT_EQ(item->GetHeight(), line.cy + 22);
    EXPECT_EQ(item->GetItemAt(0)->GetText(), "草地");
    EXPECT_LE(std::abs(Center(points[0]).y - Center(item).y), 1);
    // Pictures are thumbnails in the frame: 200 x 120 is cut to 82 x 62 proportions.
    auto boxes = FindAll(e, UIQuestionElement::kPictureBoxId);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0]->GetWidth(), 94);
    EXPECT_EQ(boxes[0]->GetHeight(), 74);
    EXPECT_EQ(boxes[0]->GetUserData(), m_dir.File("c1.png"));
    // 200 x 120: wider than 82/62, so the middle 158 x 120 is shown.
    EXPECT_EQ(boxes[0]->GetForeImage(),
              "file='" + m_dir.File("c1.png") + "' source='21,0,179,120' dest='6,6,88,68'");
    // The picture opens in the window on a double-click.
    m_driver.DoubleClickAt(Center(boxes[0]));
    ASSERT_EQ(m_window->Count(kNotifyDblClick, UIQuestionElement::kPictureBoxId), 1);
    EXPECT_EQ(m_window->notes.back().userData, m_dir.File("c1.png"));
    EXPECT_EQ(e->GetAnswer(), "");
    // "撤消" and "重置" at the panel's bottom right.
    UIControl* undo = m_driver.Find(2056);
    UIControl* reset = m_driver.Find(2057);
    ASSERT_TRUE(undo && reset);
    EXPECT_EQ(undo->GetText(), "撤消");
    EXPECT_EQ(reset->GetText(), "重置");
    EXPECT_EQ(undo->GetWidth(), 66);
    EXPECT_EQ(undo->GetHeight(), 26);
    EXPECT_LT(undo->GetPos().right, reset->GetPos().left);
}

TEST_F(UIConnectionElementTest, DraggingBetweenTheColumnsDrawsLinesOnce) {
    UIConnectionElement* e = ShowNamesAndPictures();
    // From the first column to the second, and from the second to the first:
    // the first column's item is always named first.
    Connect(e, 0, 0, 1, 2);
    EXPECT_EQ(e->GetAnswer(), "1-3");
    Connect(e, 1, 0, 0, 1);
    EXPECT_EQ(e->GetAnswer(), "1-3,2-1");
    // The same pair again, either way round: kept once.
    Connect(e, 1, 2, 0, 0);
    Connect(e, 0, 0, 1, 2);
    EXPECT_EQ(e->GetAnswer(), "1-3,2-1");
    // One item to two others: both lines.
    Connect(e, 0, 0, 1, 1);
    EXPECT_EQ(e->GetAnswer(), "1-3,2-1,1-2");
    // The line runs from the first point's right edge to the second's left edge, in green.
    const UIRect a = PointOf(e, 0, 0)->GetPos(), b = PointOf(e, 1, 2)->GetPos();
    const UIPoint mid{(a.right + b.left) / 2, ((a.top + a.bottom) / 2 + (b.top + b.bottom) / 2) / 2};
    EXPECT_EQ(m_driver.PixelAt(mid.x, mid.y), UIConnectionElement::kLineColor);

    // Released over empty space, over an item (not its point), over the
    // starting point or over a point of the same column: nothing.
    const UIPoint from = Center(PointOf(e, 0, 2));
    m_driver.Drag(from, Offset(Center(PointOf(e, 1, 0)), 0, 60), 5);
    m_driver.Drag(from, Center(FindAll(e, UIQuestionElement::kPictureBoxId)[0]), 5);
    m_driver.Drag(from, Offset(from, 2, 2), 2);
    m_driver.Drag(from, Center(PointOf(e, 0, 1)), 5);
    EXPECT_EQ(e->GetAnswer(), "1-3,2-1,1-2");
    Shot("connection_answered.png");

    // "撤消" takes the last line back, "重置" all of them; "撤消" on none does nothing.
    ASSERT_TRUE(m_driver.Click(2056));
    EXPECT_EQ(e->GetAnswer(), "1-3,2-1");
    ASSERT_TRUE(m_driver.Click(2057));
    EXPECT_EQ(e->GetAnswer(), "");
    EXPECT_TRUE(e->GetLines().empty());
    ASSERT_TRUE(m_driver.Click(2056));
    EXPECT_EQ(e->GetAnswer(), "");
    EXPECT_EQ(m_driver.PixelAt(mid.x, mid.y), m_driver.PixelAt(mid.x, mid.y - 20));
}

TEST_F(UIConnectionElementTest, ALineFollowsThePointerWhileDragging) {
    UIConnectionElement* e = ShowNamesAndPictures();
    const UIRect start = PointOf(e, 0, 1)->GetPos();
    const UIPoint anchor{start.right, (start.top + start.bottom) / 2};
    const UIPoint pointer = Offset(anchor, 120, 0);
    m_driver.MouseMove(Center(PointOf(e, 0, 1)));
    m_driver.MouseDown(Center(PointOf(e, 0, 1)));
    EXPECT_TRUE(e->IsDragging());
    EXPECT_EQ(Pm().GetCurrentCursor(), "hand");
    m_driver.Pump();
    m_driver.MouseMove(pointer);
    EXPECT_EQ(m_driver.PixelAt(anchor.x + 60, anchor.y), UIConnectionElement::kLineColor);
    // Only the strip the line covers (and the point it left) is drawn again, not the whole element.
    const UIRect painted = Pm().GetLastPaintRect();
    EXPECT_LE(painted.Height(), start.Height() + 2);
    EXPECT_LE(painted.Width(), start.Width() + 120 + 8);
    ShotNow("connection_dragging.png");
    // Let go in the gap between the columns: no line, and the one that followed the pointer is gone.
    m_driver.MouseUp(pointer);
    EXPECT_FALSE(e->IsDragging());
    EXPECT_NE(m_driver.PixelAt(anchor.x + 60, anchor.y), UIConnectionElement::kLineColor);
    EXPECT_EQ(e->GetAnswer(), "");
}

TEST_F(UIConnectionElementTest, ASavedAnswerComesBackWhereverTheItemsAreShown) {
    // "2-3,1-1": document item 2 of the first column with item 3 of the second, and item 1 with item 1.
    UIConnectionElement* e = ShowNamesAndPictures("2-3,1-1");
    const auto& lines = e->GetLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, PointOf(e, 0, 1));
    EXPECT_EQ(lines[0].second, PointOf(e, 1, 2));
    EXPECT_EQ(lines[1].first, PointOf(e, 0, 0));
    EXPECT_EQ(lines[1].second, PointOf(e, 1, 0));
    EXPECT_EQ(e->GetAnswer(), "2-3,1-1");

    // Pairs naming a point that is not there, or not a pair, are left out.
    e = ShowNamesAndPictures("2-3,9-1,1-,x,3-2-1,,1-1,1-1");
    EXPECT_EQ(e->GetAnswer(), "2-3,3-2,1-1");
}

TEST_F(UIConnectionElementTest, OnlyTheFirstTwoColumnsConnect) {
    m_record = MakeConnection({{Text(0, "二胡"), Text(1, "笛子")},
                               {Text(0, "拉弦乐器"), Text(1, "吹管乐器")},
                               {Text(0, "中国"), Text(1, "外国")}});
    auto* e = Show<UIConnectionElement>(*m_record);
    ASSERT_NE(e, nullptr);
    auto third = FindAll(e, 2103);
    ASSERT_EQ(third.size(), 2u);
    EXPECT_TRUE(third[0]->IsVisible());
    m_driver.Drag(Center(third[0]), Center(PointOf(e, 0, 0)), 5);
    m_driver.Drag(Center(PointOf(e, 1, 1)), Center(third[1]), 5);
    EXPECT_EQ(e->GetAnswer(), "");
    Connect(e, 0, 1, 1, 1);
    EXPECT_EQ(e->GetAnswer(), "2-2");

    // An empty column is skipped but keeps its place in the point ids.
    m_record = MakeConnection({{}, {Text(0, "甲")}, {Text(0, "乙")}});
    e = Show<UIConnectionElement>(*m_record);
    EXPECT_EQ(FindAll(e, 2101).size(), 0u);
    EXPECT_EQ(FindAll(e, 2102).size(), 1u);
    EXPECT_EQ(FindAll(e, 2103).size(), 1u);
}

TEST_F(UIConnectionElementTest, SoundsHaveClipPlayersAndNothingMovesOutsideTheAnsweringTime) {
    m_record = MakeConnection(
        {{Text(0, "小提琴"), Text(1, "鼓")}, {Audio(0, m_dir.File("a.wav")), Audio(1, m_dir.File("b.wav"))}});
    auto* e = Show<UIConnectionElement>(*m_record);
    auto players = FindAll(e, UIVirtualMusicPlayer::kOptionId);
    EXPECT_EQ(players.size(), 2u);
    UIControl* audioColumn = PointOf(e, 1, 0)->GetParent()->GetParent();
    EXPECT_EQ(audioColumn->GetWidth(), 215);
    Shot("connection_audio.png");
    ExpectTidy(e);

    e->SetEnabled(false);
    EXPECT_FALSE(m_driver.Find(2056)->IsEnabled());
    Connect(e, 0, 0, 1, 1);
    EXPECT_EQ(e->GetAnswer(), "");
    e->SetEnabled(true);
    Connect(e, 0, 0, 1, 1);
    EXPECT_EQ(e->GetAnswer(), "1-2");
    // A drag the window's phase ends half-way draws nothing.
    m_driver.MouseDown(Center(PointOf(e, 0, 1)));
    e->SetEnabled(false);
    e->SetEnabled(true);
    m_driver.MouseUp(Center(PointOf(e, 1, 0)));
    EXPECT_EQ(e->GetAnswer(), "1-2");
}

TEST_F(UIConnectionElementTest, TheAnswerAndTheLinesSurviveARestart) {
    UIConnectionElement* e = ShowNamesAndPictures();
    Connect(e, 0, 0, 1, 1);
    Connect(e, 1, 0, 0, 2);
    Connect(e, 0, 1, 1, 2);
    EXPECT_EQ(e->GetAnswer(), "1-2,3-1,2-3");
    ExpectRestoredAfterRestart(e, *m_record, "connection");
}

}  // namespace
}  // namespace KwLib
