// Layout of real layouts through the headless toolkit: fixed and shared
// sizes, padding, inset, child padding, float "pos", "autominheight", grid
// rows and columns, scrolling.
#include <gtest/gtest.h>

#include "UITestWindow.h"

namespace KwLib {
namespace {

class UILayoutTest : public ::testing::Test, public UITestBase {};

UIRect PosOf(UITestDriver& d, int id) {
    UIControl* c = d.Find(id);
    EXPECT_NE(c, nullptr) << "control " << id;
    return c ? c->GetPos() : UIRect{};
}

TEST_F(UILayoutTest, ColumnRowInsetPaddingAndFloat) {
    auto w = Open("LayoutTest");
    EXPECT_EQ(w->GetClientSize(), (UISize{400, 300}));
    // Inset 10 and child padding 5; control 4 takes what the fixed ones leave.
    EXPECT_EQ(PosOf(driver, 2), (UIRect{10, 10, 390, 50}));
    EXPECT_EQ(PosOf(driver, 3), (UIRect{10, 55, 390, 105}));
    EXPECT_EQ(PosOf(driver, 4), (UIRect{10, 110, 390, 182}));
    EXPECT_EQ(PosOf(driver, 6), (UIRect{10, 187, 390, 225}));
    EXPECT_EQ(PosOf(driver, 7), (UIRect{10, 230, 390, 290}));
    // Row: a fixed width, then two sharing; padding sits outside a control.
    EXPECT_EQ(PosOf(driver, 31), (UIRect{10, 55, 110, 105}));
    EXPECT_EQ(PosOf(driver, 32), (UIRect{120, 57, 250, 103}));
    EXPECT_EQ(PosOf(driver, 33), (UIRect{260, 55, 390, 105}));
    // autominheight: the column asks for exactly its content plus inset.
    EXPECT_EQ(PosOf(driver, 61), (UIRect{12, 190, 388, 200}));
    EXPECT_EQ(PosOf(driver, 62), (UIRect{12, 206, 388, 221}));
    // Float "pos" is relative to the parent; a plain container keeps fixed sizes.
    EXPECT_EQ(PosOf(driver, 71), (UIRect{20, 235, 60, 255}));
    EXPECT_EQ(PosOf(driver, 72), (UIRect{14, 234, 44, 254}));

    // Hiding a control gives its space (and its padding) to the shared one.
    driver.Find(2)->SetVisible(false);
    driver.Pump();
    EXPECT_EQ(PosOf(driver, 3), (UIRect{10, 10, 390, 60}));
    EXPECT_EQ(PosOf(driver, 4), (UIRect{10, 65, 390, 182}));
    // Showing one that was hidden takes space back.
    driver.Find(5)->SetVisible(true);
    driver.Pump();
    EXPECT_EQ(PosOf(driver, 4).Height(), 117 - 25);
    // A new float position moves only that control.
    driver.Find(71)->SetAttribute("pos", "0,0,10,10");
    driver.Pump();
    EXPECT_EQ(PosOf(driver, 71), (UIRect{10, 230, 20, 240}));
    w->DestroyWindow();
}

TEST_F(UILayoutTest, GridListFillsRowsThenColumns) {
    auto w = Open("GridTest");
    EXPECT_EQ(PosOf(driver, 11), (UIRect{0, 0, 100, 40}));
    EXPECT_EQ(PosOf(driver, 12), (UIRect{110, 0, 210, 40}));
    EXPECT_EQ(PosOf(driver, 13), (UIRect{220, 0, 320, 40}));
    EXPECT_EQ(PosOf(driver, 14), (UIRect{0, 45, 100, 85}));
    EXPECT_EQ(PosOf(driver, 15), (UIRect{110, 45, 210, 85}));
    auto* grid = driver.FindAs<UIGridList>(1);
    ASSERT_NE(grid, nullptr);
    // A narrower window holds fewer columns.
    w->ResizeClient(230, 200);
    driver.Pump();
    EXPECT_EQ(grid->GetColumnCount(230), 2);
    EXPECT_EQ(PosOf(driver, 13), (UIRect{0, 45, 100, 85}));
    EXPECT_EQ(PosOf(driver, 15), (UIRect{0, 90, 100, 130}));
    w->DestroyWindow();
}

TEST_F(UILayoutTest, GridListMarginsOnEverySideSpaceCellsEvenly) {
    auto w = Open("CellMarginTest");
    auto* grid = driver.FindAs<UIGridList>(1);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->GetCellMargin(), (UIRect{5, 8, 5, 0}));
    for (int i = 0; i < 16; ++i) {
        auto* c = new UIControl;
        c->SetId(100 + i);
        grid->Add(c);
    }
    driver.Pump();
    // Columns 42 apart, rows 40 apart, each item inside its margins.
    EXPECT_EQ(PosOf(driver, 100), (UIRect{5, 8, 37, 40}));
    EXPECT_EQ(PosOf(driver, 101), (UIRect{47, 8, 79, 40}));
    EXPECT_EQ(PosOf(driver, 114), (UIRect{5 + 14 * 42, 8, 37 + 14 * 42, 40}));
    EXPECT_EQ(PosOf(driver, 115), (UIRect{5, 48, 37, 80}));
    EXPECT_EQ(grid->GetPos().Height(), 80);  // two rows of 40
    grid->RemoveAt(15);
    driver.Pump();
    EXPECT_EQ(grid->GetPos().Height(), 40);
    w->DestroyWindow();
}

TEST_F(UILayoutTest, AutoMinHeightRowsAndGrids) {
    auto w = Open("AutoHeightTest");
    EXPECT_EQ(PosOf(driver, 1), (UIRect{0, 0, 300, 80}));
    EXPECT_EQ(PosOf(driver, 11), (UIRect{0, 0, 50, 30}));
    EXPECT_EQ(PosOf(driver, 12), (UIRect{50, 5, 100, 75}));
    EXPECT_EQ(PosOf(driver, 2), (UIRect{0, 80, 300, 140}));
    EXPECT_EQ(PosOf(driver, 3), (UIRect{0, 140, 300, 400}));
    // Adding an item grows the grid by a row.
    auto* grid = driver.FindAs<UIGridList>(2);
    grid->Add(new UIControl);
    grid->Add(new UIControl);
    driver.Pump();
    EXPECT_EQ(PosOf(driver, 2), (UIRect{0, 80, 300, 170}));
    // The estimated size of a detached column is its content, as an element asks for it.
    UIVerticalLayout column;
    column.SetAttribute("autominheight", "true");
    column.SetChildPadding(10);
    column.SetInset({0, 10, 0, 5});
    for (int h : {20, 30}) {
        auto* c = new UIControl;
        c->SetFixedHeight(h);
        c->SetFixedWidth(684);
        column.Add(c);
    }
    EXPECT_EQ(column.EstimateSize({0, 0}).cy, 10 + 20 + 10 + 30 + 5);

    // Measured while an ancestor hides it (a page not shown yet), a column and
    // a grid ask for the size they will have when shown; a child hidden itself
    // still takes no room.
    UIControl* row = driver.Find(1);
    auto* page = dynamic_cast<UIContainer*>(row->GetParent());
    ASSERT_NE(page, nullptr);
    const int rowHeight = row->EstimateSize({300, 0}).cy;
    const int gridHeight = grid->EstimateSize({300, 0}).cy;
    driver.Find(12)->SetVisible(false);
    const int rowWithoutTwelve = row->EstimateSize({300, 0}).cy;
    driver.Find(12)->SetVisible(true);
    page->SetVisible(false);
    EXPECT_FALSE(driver.Find(11)->IsVisible());
    EXPECT_EQ(row->EstimateSize({300, 0}).cy, rowHeight);
    EXPECT_EQ(grid->EstimateSize({300, 0}).cy, gridHeight);
    driver.Find(12)->SetVisible(false);
    EXPECT_EQ(row->EstimateSize({300, 0}).cy, rowWithoutTwelve);
    driver.Find(12)->SetVisible(true);
    page->SetVisible(true);
    driver.Pump();
    EXPECT_EQ(PosOf(driver, 12), (UIRect{50, 5, 100, 75}));
    w->DestroyWindow();
}

TEST_F(UILayoutTest, VerticalScrollByWheelAndThumb) {
    auto w = Open("ScrollTest");
    auto* list = driver.FindAs<UIContainer>(1);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetScrollRange(), 140);
    // Room is made for the bar.
    EXPECT_EQ(PosOf(driver, 11).right, 200 - UIContainer::kScrollBarWidth);
    driver.Wheel({50, 50}, -1);
    EXPECT_EQ(list->GetScrollPos(), 60);
    EXPECT_EQ(PosOf(driver, 11).top, -60);
    // What is under the mouse after scrolling is the control that moved there.
    EXPECT_EQ(w->PaintManager().FindControl(UIPoint{50, 50})->GetId(), 12);
    driver.Wheel({50, 50}, -5);
    EXPECT_EQ(list->GetScrollPos(), 140);
    driver.Wheel({50, 50}, 10);
    EXPECT_EQ(list->GetScrollPos(), 0);
    // Dragging the thumb to the bottom scrolls to the end.
    driver.Drag(UIPoint{196, 10}, UIPoint{196, 200});
    EXPECT_EQ(list->GetScrollPos(), 140);
    w->DestroyWindow();
}

TEST_F(UILayoutTest, RemovingControlsKeepsTheTreeConsistent) {
    auto w = Open("LayoutTest");
    auto* row = driver.FindAs<UIContainer>(3);
    ASSERT_EQ(row->GetCount(), 3);
    driver.MouseMove({50, 80});  // control 31 becomes hot
    EXPECT_EQ(w->PaintManager().GetHot()->GetId(), 31);
    EXPECT_TRUE(row->Remove(driver.Find(31)));
    EXPECT_EQ(w->PaintManager().GetHot(), nullptr);
    EXPECT_EQ(driver.Find(31), nullptr);
    driver.Pump();
    EXPECT_EQ(PosOf(driver, 32).left, 16);
    auto detached = row->Detach(driver.Find(33));
    ASSERT_NE(detached, nullptr);
    EXPECT_TRUE(row->AddAt(detached.release(), 0));
    EXPECT_EQ(row->GetItemAt(0)->GetId(), 33);
    EXPECT_EQ(row->GetItemIndex(driver.Find(32)), 1);
    row->RemoveAll();
    EXPECT_EQ(row->GetCount(), 0);
    driver.Pump();
    w->DestroyWindow();
}

TEST_F(UILayoutTest, BadLayoutsAreReportedNotCrashed) {
    UIDialogBuilder builder;
    EXPECT_EQ(builder.Create(TestLayoutFile(), "NoSuchWindow"), nullptr);
    EXPECT_NE(builder.GetError().find("NoSuchWindow"), std::string::npos);
    EXPECT_EQ(builder.CreateFromString("<Layouts><Window name='x'>", "x"), nullptr);
    std::unique_ptr<UIControl> root(
        builder.CreateFromString("<Layouts><Window name='x'><VerticalLayout><Unknown/><Control "
                                 "id='3'/></VerticalLayout></Window></Layouts>",
                                 "x"));
    ASSERT_NE(root, nullptr);
    // The unknown tag is skipped, its siblings are kept.
    EXPECT_NE(root->FindControlById(3), nullptr);
    // A window whose layout is missing fails to create instead of showing nothing.
    TestWindow broken("NoSuchWindow");
    EXPECT_FALSE(broken.Create(nullptr, "broken"));
}

}  // namespace
}  // namespace KwLib
