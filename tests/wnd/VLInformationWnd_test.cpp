// The information card of the sign-in screen: its rows, their widths, where
// it opens and how it goes away.
#include "wnd/VLInformationWnd.h"

#include <gtest/gtest.h>

#include <string>

#include "app/core/VLAppState.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIRenderUtils.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"

namespace KwLib {
namespace {

class VLInformationWndTest : public ::testing::Test {
protected:
    VLInformationWndTest() {
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        owner.Create(nullptr, "VLStudent", 0, 0, 1920, 1080);
        owner.ShowWindow(true);
    }
    ~VLInformationWndTest() override {
        if (owner.IsWindow())
            owner.DestroyWindow();
    }

    VLInformationWnd* Open(int x, int y, const std::string& paper = "2024年春季三年级音乐期末测评",
                           bool inner = false) {
        VLInformationWnd* wnd = VLInformationWnd::Show(&owner, x, y, "三年级二班", paper, "王老师", inner);
        driver.Attach(wnd);
        driver.Pump();
        return wnd;
    }

    int TextWidth(int id) {
        UIControl* c = driver.Find(id);
        return UIRenderUtils::GetTextSize(driver.GetPaintManager(), c->GetText(), c->GetFont(), DT_SINGLELINE)
            .cx;
    }

    UITestDriver driver;
    UIWindowWnd owner;
};

TEST_F(VLInformationWndTest, RowsShowTheSignInAndEachTextIsAsWideAsItself) {
    VLInformationWnd* wnd = Open(300, 200);
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(driver.Find(4100)->GetText(), "三年级二班");
    EXPECT_EQ(driver.Find(4101)->GetText(), "2024年春季三年级音乐期末测评");
    EXPECT_EQ(driver.Find(4102)->GetText(), "王老师");
    EXPECT_EQ(driver.Find(4103)->GetText(), GetClientVersion());
    driver.PixelAt(0, 0);  // lays the card out
    for (int id : {4100, 4101, 4102, 4103}) {
        EXPECT_GT(TextWidth(id), 0);
        EXPECT_EQ(driver.Find(id)->GetWidth(), TextWidth(id)) << id;
    }
    // The card is as wide as its widest row: the paper's, which ends just
    // inside the card's right edge.
    UIRect paper = driver.Find(4101)->GetPos();
    EXPECT_GT(paper.right, wnd->GetClientSize().cx - 30);
    EXPECT_LE(paper.right, wnd->GetClientSize().cx);
    EXPECT_EQ(wnd->GetWindowRect().left, 300);
    EXPECT_EQ(wnd->GetWindowRect().top, 200);
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/VLInformationWnd.png");

    // New names after opening take their own widths.
    wnd->SetInfo("五年级一班", "美术", "李老师", true);
    driver.PixelAt(0, 0);
    EXPECT_EQ(driver.Find(4103)->GetText(), "测试版" + GetClientVersion());
    EXPECT_EQ(driver.Find(4101)->GetWidth(), TextWidth(4101));
    EXPECT_LT(wnd->GetClientSize().cx, paper.right);
}

TEST_F(VLInformationWndTest, StaysOnTheScreenAndCutsOnlyWhatCannotFit) {
    // Opened at the screen's lower right corner: it opens to the left and above.
    VLInformationWnd* wnd = Open(1900, 1060);
    ASSERT_NE(wnd, nullptr);
    UIRect rc = wnd->GetWindowRect();
    EXPECT_LE(rc.right, 1920);
    EXPECT_LE(rc.bottom, 1060);
    EXPECT_GE(rc.left, 0);
    wnd->Close();
    driver.Pump();

    std::string longName;
    for (int i = 0; i < 8; ++i)
        longName += "音乐素养综合测评";
    wnd = Open(100, 100, longName);
    driver.PixelAt(0, 0);
    EXPECT_EQ(wnd->GetClientSize().cx, VLInformationWnd::kMaxWidth);
    EXPECT_LT(driver.Find(4101)->GetWidth(), TextWidth(4101));
    EXPECT_LE(driver.Find(4101)->GetPos().right, wnd->GetClientSize().cx);
    EXPECT_EQ(driver.Find(4101)->GetToolTip(), longName);
    EXPECT_EQ(driver.Find(4100)->GetToolTip(), "");
}

// Opened from a scaled exam the card is scaled too; its anchor and the
// screen's edges are counted in pixels, its texts measured at its scale.
TEST_F(VLInformationWndTest, FromAScaledExamTheCardIsScaledAndStaysOnTheScreen) {
    UIApplication::Instance().SetHeadlessScreenSize({1920, 1080});
    owner.SetFullScreenFit({960, 540});
    ASSERT_DOUBLE_EQ(owner.GetScale(), 2.0);
    VLInformationWnd* wnd = Open(1900, 1060);
    ASSERT_NE(wnd, nullptr);
    EXPECT_DOUBLE_EQ(wnd->GetScale(), 2.0);
    const UIRect rc = wnd->GetWindowRect();
    EXPECT_EQ(rc.Width(), wnd->GetClientSize().cx * 2);
    EXPECT_LE(rc.right, 1920);
    EXPECT_LE(rc.bottom, 1060);
    driver.PixelAt(0, 0);
    for (int id : {4100, 4101, 4102, 4103})
        EXPECT_GE(driver.Find(id)->GetWidth(), TextWidth(id)) << id;
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/VLInformationWnd_scaled.png");
    wnd->Close();
    driver.Pump();
    // At the top left it opens to the lower right of the anchor, in pixels.
    wnd = Open(300, 200);
    EXPECT_EQ(wnd->GetWindowRect().left, 300);
    EXPECT_EQ(wnd->GetWindowRect().top, 200);
    wnd->Close();
    driver.Pump();
}

TEST_F(VLInformationWndTest, ClosesWhenItLosesTheFocusOrOnEscape) {
    VLInformationWnd* wnd = Open(300, 200);
    auto& app = UIApplication::Instance();
    driver.ClickAt({20, 20});  // a click inside keeps it
    EXPECT_TRUE(app.IsAlive(wnd));
    // A click on the window behind takes the focus away.
    wnd->DispatchMessage(WM_KILLFOCUS, 0, 0);
    driver.Pump();
    EXPECT_FALSE(app.IsAlive(wnd));

    wnd = Open(300, 200);
    driver.PressKey(VK_ESCAPE);
    EXPECT_FALSE(app.IsAlive(wnd));

    // The owner going away takes an open card with it.
    wnd = Open(300, 200);
    owner.DestroyWindow();
    EXPECT_FALSE(app.IsAlive(wnd));
}

}  // namespace
}  // namespace KwLib
