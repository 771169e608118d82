// The jigsaw element: the board and the tray by layout kind, pieces dragged
// onto cells and between cells, the default piece, taking pieces back, the
// answer string and its restoring.
#include "elements/UIPinTuElement.h"

#include <gtest/gtest.h>

#include "platform/ui/UILayout.h"
#include "tests/elements/DragTestUtil.h"

namespace KwLib {
namespace {

using namespace ElementTest;

class UIPinTuElementTest : public DragFixture {
protected:
    UIPinTuElement* ShowJigsaw(int x, int y, int defaultNo, const std::string& answer = "", int setType = 2,
                               int w = 480, int h = 360) {
        const std::string path = m_dir.File("jigsaw" + std::to_string(w) + "x" + std::to_string(h) + ".png");
        EXPECT_TRUE(WritePicture(path, w, h, 0.4));
        m_record = MakeJigsaw(path, x, y, defaultNo, setType);
        m_record->m_instruction = "请仔细阅读题目内容，听到开始答题提示后，拼出完整的图案。";
        m_record->m_content = "拼出完整的图案。";
        m_record->m_answer = answer;
        return Show<UIPinTuElement>(*m_record);
    }
    UIControl* Piece(UIPinTuElement* e, int number) { return e->GetPieces().at(number - 1); }
    UIControl* Cell(UIPinTuElement* e, int number) { return e->GetCells().at(number - 1); }
    // A point of the piece that no later piece of the tray covers.
    UIPoint Visible(UIPinTuElement* e, int number) {
        UIControl* piece = Piece(e, number);
        const UIRect& rc = piece->GetPos();
        for (int y = rc.top + 2; y < rc.bottom; y += 3)
            for (int x = rc.left + 2; x < rc.right; x += 3)
                if (Pm().FindControl(UIPoint{x, y}) == piece)
                    return {x, y};
        ADD_FAILURE() << "piece " << number << " is covered";
        return Center(piece);
    }
    void Drop(UIPinTuElement* e, int piece, int cell) {
        m_driver.Drag(Visible(e, piece), Center(Cell(e, cell)), 6);
    }
    std::string Source(int number, int x, int y, int w, int h) {
        const int pw = w / x, ph = h / y, col = (number - 1) % x, row = (number - 1) / x;
        return "file='" + m_record->m_picture + "' source='" + std::to_string(col * pw) + "," +
               std::to_string(row * ph) + "," + std::to_string((col + 1) * pw) + "," +
               std::to_string((row + 1) * ph) + "'";
    }
    std::unique_ptr<VLPinTuQuestion> m_record;
};

TEST_F(UIPinTuElementTest, TheUntouchedPuzzleShowsOnlyItsDefaultPiece) {
    UIPinTuElement* e = ShowJigsaw(3, 2, 4);
    ASSERT_NE(e, nullptr);
    Shot("jigsaw_untouched.png");
    ExpectTidy(e);
    EXPECT_EQ(e->GetAnswer(), "-1,-1,-1,-1,-1,-1");
    ASSERT_EQ(e->GetCells().size(), 6u);
    ASSERT_EQ(e->GetPieces().size(), 6u);
    // The fourth cell shows piece 4 all the same; its piece is not in the tray.
    EXPECT_EQ(Cell(e, 4)->GetBkImage(), Source(4, 3, 2, 480, 360));
    EXPECT_EQ(Cell(e, 4)->GetToolTip(), "默认项无法操作");
    EXPECT_FALSE(Piece(e, 4)->IsVisible());
    // Every other piece lies wholly in the tray, showing its part of the picture.
    const UIRect tray = e->GetTray()->GetPos();
    for (int k : {1, 2, 3, 5, 6}) {
        UIControl* piece = Piece(e, k);
        EXPECT_TRUE(piece->IsVisible()) << k;
        EXPECT_EQ(piece->GetId(), 2067);
        EXPECT_EQ(piece->GetUserData(), std::to_string(k));
        EXPECT_EQ(piece->GetBkImage(), Source(k, 3, 2, 480, 360));
        const UIRect& rc = piece->GetPos();
        EXPECT_TRUE(rc.left >= tray.left && rc.top >= tray.top && rc.right <= tray.right &&
                    rc.bottom <= tray.bottom)
            << k;
        Visible(e, k);
    }
    // Board 430 x 380 left of the 235 x 400 tray: 480 x 360 fits as 422 x 316,
    // cells 140 x 158 with a 2-pixel frame round each, the grid centred.
    EXPECT_EQ(Cell(e, 1)->GetWidth(), 140);
    EXPECT_EQ(Cell(e, 1)->GetHeight(), 158);
    EXPECT_EQ(Cell(e, 2)->GetX() - Cell(e, 1)->GetPos().right, 2);
    EXPECT_EQ(e->GetGrid()->GetWidth(), 3 * 142 + 2);
    EXPECT_EQ(e->GetGrid()->GetHeight(), 2 * 160 + 2);
    EXPECT_EQ(e->GetTray()->GetWidth(), 235);
    EXPECT_EQ(e->GetTray()->GetHeight(), 400);
    EXPECT_GT(e->GetTray()->GetX(), e->GetGrid()->GetPos().right);
    const UIRect board = e->GetGrid()->GetParent()->GetPos();
    EXPECT_EQ(board.Width(), 430);
    EXPECT_LE(std::abs((e->GetGrid()->GetX() - board.left) - (board.right - e->GetGrid()->GetPos().right)),
              1);
    // The scatter is the question's own: the same every time it is shown.
    std::vector<UIRect> first;
    for (UIControl* p : e->GetPieces())
        first.push_back(p->GetPos());
    e = ShowJigsaw(3, 2, 4);
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(e->GetPieces()[i]->GetPos(), first[i]);
}

TEST_F(UIPinTuElementTest, PiecesAreDraggedOntoCellsAndBetweenThem) {
    UIPinTuElement* e = ShowJigsaw(3, 2, 4);
    m_driver.MouseMove(Visible(e, 2));
    EXPECT_EQ(Pm().GetCurrentCursor(), "hand");
    m_driver.MouseDown(Visible(e, 2));
    m_driver.MouseMove(Offset(Center(Cell(e, 1)), 0, 20));
    m_driver.MouseMove(Center(Cell(e, 1)));
    EXPECT_EQ(Pm().GetCurrentCursor(), "hand");
    ShotNow("jigsaw_dragging.png");
    m_driver.MouseUp(Center(Cell(e, 1)));
    EXPECT_EQ(Pm().GetCurrentCursor(), "arrow");
    EXPECT_EQ(e->GetAnswer(), "2,-1,-1,-1,-1,-1");
    EXPECT_FALSE(Piece(e, 2)->IsVisible());
    EXPECT_EQ(Cell(e, 1)->GetBkImage(), Source(2, 3, 2, 480, 360));
    EXPECT_EQ(Cell(e, 1)->GetToolTip(), "双击撤销答案");

    // From cell 1 to empty cell 3: cell 1 is empty again.
    m_driver.Drag(Center(Cell(e, 1)), Center(Cell(e, 3)), 5);
    EXPECT_EQ(e->GetAnswer(), "-1,-1,2,-1,-1,-1");
    EXPECT_EQ(Cell(e, 1)->GetBkImage(), "");
    EXPECT_EQ(Cell(e, 1)->GetToolTip(), "");
    // "撤消" returns that piece to the tray and clears cell 3.
    ASSERT_TRUE(m_driver.Click(2056));
    EXPECT_EQ(e->GetAnswer(), "-1,-1,-1,-1,-1,-1");
    EXPECT_TRUE(Piece(e, 2)->IsVisible());
    EXPECT_EQ(Cell(e, 3)->GetBkImage(), "");

    // Onto a filled cell, the default cell, the tray or outside: nothing.
    Drop(e, 1, 1);
    Drop(e, 3, 1);
    Drop(e, 3, 4);
    m_driver.Drag(Visible(e, 3), Offset(Center(e->GetTray()), 0, 150), 4);
    m_driver.Drag(Visible(e, 3), {1000, 700}, 4);
    EXPECT_EQ(e->GetAnswer(), "1,-1,-1,-1,-1,-1");
    EXPECT_TRUE(Piece(e, 3)->IsVisible());
    // The default piece cannot be dragged, and a double-click on it does nothing.
    m_driver.Drag(Center(Cell(e, 4)), Center(Cell(e, 5)), 4);
    m_driver.DoubleClickAt(Center(Cell(e, 4)));
    EXPECT_EQ(e->GetAnswer(), "1,-1,-1,-1,-1,-1");
    EXPECT_EQ(Cell(e, 4)->GetBkImage(), Source(4, 3, 2, 480, 360));

    // A double-click takes a piece back; "重置" takes every piece back.
    Drop(e, 5, 5);
    Drop(e, 6, 6);
    EXPECT_EQ(e->GetAnswer(), "1,-1,-1,-1,5,6");
    Shot("jigsaw_answered.png");
    m_driver.DoubleClickAt(Center(Cell(e, 5)));
    EXPECT_EQ(e->GetAnswer(), "1,-1,-1,-1,-1,6");
    EXPECT_TRUE(Piece(e, 5)->IsVisible());
    ASSERT_TRUE(m_driver.Click(2057));
    EXPECT_EQ(e->GetAnswer(), "-1,-1,-1,-1,-1,-1");
    for (int k : {1, 2, 3, 5, 6})
        EXPECT_TRUE(Piece(e, k)->IsVisible()) << k;
    EXPECT_EQ(Cell(e, 4)->GetBkImage(), Source(4, 3, 2, 480, 360));
}

TEST_F(UIPinTuElementTest, ASavedAnswerPutsThePiecesBack) {
    UIPinTuElement* e = ShowJigsaw(3, 2, 4, "1,2,3,-1,-1,6");
    EXPECT_EQ(e->GetAnswer(), "1,2,3,-1,-1,6");
    for (int k : {1, 2, 3, 6}) {
        EXPECT_EQ(Cell(e, k)->GetBkImage(), Source(k, 3, 2, 480, 360)) << k;
        EXPECT_FALSE(Piece(e, k)->IsVisible()) << k;
    }
    EXPECT_EQ(Cell(e, 4)->GetBkImage(), Source(4, 3, 2, 480, 360));
    EXPECT_FALSE(Piece(e, 4)->IsVisible());
    EXPECT_TRUE(Piece(e, 5)->IsVisible());
    // Restored pieces are taken back like dragged ones.
    m_driver.DoubleClickAt(Center(Cell(e, 2)));
    EXPECT_EQ(e->GetAnswer(), "1,-1,3,-1,-1,6");

    // The default cell keeps its piece whatever the answer says; pieces that
    // do not exist, are named twice or are the default piece stay in the tray.
    EXPECT_EQ(ShowJigsaw(3, 2, 4, "-1,-1,-1,2,-1,-1")->GetAnswer(), "-1,-1,-1,-1,-1,-1");
    EXPECT_EQ(ShowJigsaw(3, 2, 4, "4,9,1,1,0,x")->GetAnswer(), "-1,-1,1,-1,-1,-1");
    // A wrong number of entries changes nothing.
    EXPECT_EQ(ShowJigsaw(3, 2, 4, "1,2,3")->GetAnswer(), "-1,-1,-1,-1,-1,-1");
}

TEST_F(UIPinTuElementTest, WithoutADefaultPieceEveryPieceStartsInTheTray) {
    for (int defaultNo : {0, 7, -3}) {
        UIPinTuElement* e = ShowJigsaw(3, 2, defaultNo);
        for (UIControl* piece : e->GetPieces())
            EXPECT_TRUE(piece->IsVisible()) << defaultNo;
        for (UIControl* cell : e->GetCells())
            EXPECT_EQ(cell->GetBkImage(), "") << defaultNo;
        Drop(e, 4, 4);
        Drop(e, 1, 6);
        EXPECT_EQ(e->GetAnswer(), "-1,-1,-1,4,-1,1") << defaultNo;
    }
}

TEST_F(UIPinTuElementTest, BoardAboveTrayAndRecordsWithoutCells) {
    // Layout 1: a 684 x 230 board above a 684 x 141 tray.
    UIPinTuElement* e = ShowJigsaw(4, 2, 1, "", 1, 600, 300);
    ASSERT_NE(e, nullptr);
    Shot("jigsaw_stacked.png");
    ExpectTidy(e);
    EXPECT_EQ(e->GetTray()->GetWidth(), 684);
    EXPECT_EQ(e->GetTray()->GetHeight(), 141);
    EXPECT_GE(e->GetTray()->GetY(), e->GetGrid()->GetPos().bottom);
    // 600 x 300 into 674 x 224: 448 x 224, cells 112 x 112.
    EXPECT_EQ(Cell(e, 1)->GetWidth(), 112);
    EXPECT_EQ(Cell(e, 1)->GetHeight(), 112);
    const UIRect tray = e->GetTray()->GetPos();
    for (UIControl* piece : e->GetPieces()) {
        if (!piece->IsVisible())
            continue;
        const UIRect& rc = piece->GetPos();
        EXPECT_TRUE(rc.left >= tray.left && rc.top >= tray.top && rc.right <= tray.right &&
                    rc.bottom <= tray.bottom);
    }
    Drop(e, 8, 8);
    EXPECT_EQ(e->GetAnswer(), "-1,-1,-1,-1,-1,-1,-1,8");

    // No columns or no rows: the stem alone and an empty answer.
    for (auto [x, y] : {std::pair{0, 2}, std::pair{3, 0}}) {
        e = ShowJigsaw(x, y, 1, "1,2");
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->GetAnswer(), "");
        EXPECT_TRUE(e->GetCells().empty());
        EXPECT_EQ(FindAll(e, 2056).size(), 0u);
        e->SetAnswer("1");
        EXPECT_EQ(e->GetAnswer(), "");
    }
}

TEST_F(UIPinTuElementTest, NothingMovesOutsideTheAnsweringTime) {
    UIPinTuElement* e = ShowJigsaw(3, 2, 4, "1,-1,-1,-1,-1,-1");
    e->SetEnabled(false);
    Drop(e, 2, 2);
    m_driver.DoubleClickAt(Center(Cell(e, 1)));
    m_driver.Click(2057);
    EXPECT_EQ(e->GetAnswer(), "1,-1,-1,-1,-1,-1");
    EXPECT_FALSE(m_driver.Find(2057)->IsEnabled());
}

TEST_F(UIPinTuElementTest, TheAnswerAndTheBoardSurviveARestart) {
    UIPinTuElement* e = ShowJigsaw(3, 2, 4);
    Drop(e, 2, 2);
    Drop(e, 6, 1);
    Drop(e, 1, 3);
    m_driver.Drag(Center(Cell(e, 1)), Center(Cell(e, 6)), 5);
    EXPECT_EQ(e->GetAnswer(), "-1,2,1,-1,-1,6");
    // Loose pieces too lie where they lay.
    ExpectRestoredAfterRestart(e, *m_record, "jigsaw");
}

}  // namespace
}  // namespace KwLib
