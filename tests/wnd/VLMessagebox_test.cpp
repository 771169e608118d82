// The message box as the main window uses it: built from the real layout,
// shown modally over an owner, answered by clicking its buttons.
#include "wnd/VLMessagebox.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIContainer.h"
#include "platform/ui/UIRenderUtils.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"

namespace KwLib {
namespace {

class VLMessageboxTest : public ::testing::Test {
protected:
    VLMessageboxTest() {
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        owner.Create(nullptr, "VLStudent", 160, 90, 1600, 900);
        owner.ShowWindow(true);
    }
    ~VLMessageboxTest() override {
        if (owner.IsWindow())
            owner.DestroyWindow();
    }

    static VLMessagebox* OpenBox() {
        for (UIWindowWnd* w : UIApplication::Instance().Windows())
            if (auto* box = dynamic_cast<VLMessagebox*>(w))
                return box;
        return nullptr;
    }

    // Shows a box and, while it is up, runs `user` with the driver pointed at it.
    int ShowAnd(int buttonKind, int iconKind, const std::string& text,
                std::function<void(VLMessagebox*)> user) {
        driver.QueueIdle([this, user] {
            VLMessagebox* box = OpenBox();
            ASSERT_NE(box, nullptr);
            driver.Attach(box);
            user(box);
        });
        return VLMessagebox::Show(&owner, buttonKind, iconKind, text);
    }

    static std::string Shot(const std::string& name) {
        return std::string(VL_BINARY_DIR) + "/tests/wnd/" + name;
    }

    UITestDriver driver;
    UIWindowWnd owner;
};

TEST_F(VLMessageboxTest, EachButtonGivesItsResultAndTheBoxGoesAway) {
    EXPECT_EQ(
        ShowAnd(VLMessagebox::kOkCancel, 0, "是否确认提交答案？", [&](VLMessagebox*) { driver.Click(105); }),
        IDOK);
    EXPECT_EQ(
        ShowAnd(VLMessagebox::kOkCancel, 0, "是否确认提交答案？", [&](VLMessagebox*) { driver.Click(106); }),
        IDCANCEL);
    EXPECT_EQ(
        ShowAnd(VLMessagebox::kOkCancel, 0, "是否确认提交答案？", [&](VLMessagebox*) { driver.Click(101); }),
        IDCLOSE);
    // Escape is the close button; Enter and Space never answer a question.
    EXPECT_EQ(ShowAnd(VLMessagebox::kOkCancel, 0, "是否确认提交答案？",
                      [&](VLMessagebox* box) {
                          driver.PressKey(VK_RETURN);
                          driver.PressKey(VK_SPACE);
                          driver.Pump();
                          EXPECT_TRUE(box->IsWindow());
                          driver.PressKey(VK_ESCAPE);
                      }),
              IDCLOSE);
    EXPECT_EQ(VLMessagebox::OpenCount(), 0);
    EXPECT_TRUE(owner.IsInputEnabled());
}

TEST_F(VLMessageboxTest, ShowsTitleTextIconAndButtonsByKind) {
    int result =
        ShowAnd(VLMessagebox::kOkCancel, 0, "考试正在进行中，是否确认关闭？", [&](VLMessagebox* box) {
            EXPECT_EQ(driver.Find(100)->GetText(), "提示");
            EXPECT_EQ(driver.Find(104)->GetText(), "考试正在进行中，是否确认关闭？");
            EXPECT_EQ(box->GetWindowText(), "VLStudent");
            EXPECT_TRUE(driver.Find(105)->IsVisible());
            EXPECT_TRUE(driver.Find(106)->IsVisible());
            EXPECT_FALSE(driver.Find(102)->IsVisible());
            EXPECT_EQ(driver.Find(103)->GetBkImage(), "res='2001' restype='PNG' source='0,0,36,36'");
            // Modal and centred on its owner.
            EXPECT_FALSE(owner.IsInputEnabled());
            UIRect o = owner.GetWindowRect(), b = box->GetWindowRect();
            EXPECT_EQ(b.Width(), VLMessagebox::kWidth);
            EXPECT_NEAR(b.left + b.Width() / 2, o.left + o.Width() / 2, 1);
            EXPECT_NEAR(b.top + b.Height() / 2, o.top + o.Height() / 2, 1);
            // The icon is drawn, not just named: most of its cell is coloured.
            UIRect icon = driver.Find(103)->GetPos();
            int coloured = 0;
            for (int y = icon.top; y < icon.bottom; ++y)
                for (int x = icon.left; x < icon.right; ++x)
                    coloured += driver.PixelAt(x, y) != 0xFFFFFFFFu;
            EXPECT_GT(coloured, 36 * 36 / 2);
            driver.Screenshot(Shot("VLMessagebox_okcancel.png"));
            driver.Click(106);
        });
    EXPECT_EQ(result, IDCANCEL);

    // An OK-only notice has no Cancel; its close button still gives 8, which
    // every caller treats like Cancel.
    result = ShowAnd(VLMessagebox::kOkOnly, 2, "日志发送成功！", [&](VLMessagebox*) {
        UIPoint pt;
        EXPECT_FALSE(driver.CenterOf(106, pt));
        EXPECT_TRUE(driver.CenterOf(105, pt));
        EXPECT_EQ(driver.Find(103)->GetBkImage(), "res='2001' restype='PNG' source='72,0,108,36'");
        driver.Screenshot(Shot("VLMessagebox_okonly.png"));
        driver.Click(101);
    });
    EXPECT_EQ(result, IDCLOSE);

    // Every icon kind names its own cell of PNG 2001.
    EXPECT_EQ(VLMessagebox::IconImage(1), "res='2001' restype='PNG' source='36,0,72,36'");
    EXPECT_EQ(VLMessagebox::IconImage(3), "res='2001' restype='PNG' source='108,0,144,36'");
}

TEST_F(VLMessageboxTest, LongTextMakesTheBoxTallerInsteadOfCuttingIt) {
    int shortHeight = 0, longHeight = 0;
    ShowAnd(VLMessagebox::kOkOnly, 1, "网络连接失败！", [&](VLMessagebox* box) {
        shortHeight = box->GetClientSize().cy;
        driver.Click(105);
    });
    std::string longText;
    for (int i = 0; i < 6; ++i)
        longText += "试卷下载失败，请检查网络连接后重新登录。如果问题仍然存在，请举手告诉监考老师。";
    ShowAnd(VLMessagebox::kOkOnly, 1, longText, [&](VLMessagebox* box) {
        longHeight = box->GetClientSize().cy;
        UIControl* text = driver.Find(104);
        UISize needed = UIRenderUtils::GetTextSize(box->GetPaintManager(), longText, text->GetFont(),
                                                   DT_WORDBREAK, text->GetWidth());
        driver.PixelAt(0, 0);  // lays the box out
        EXPECT_GE(text->GetHeight(), needed.cy);
        // All of it is inside the box, above the buttons.
        EXPECT_LE(text->GetPos().bottom, driver.Find(105)->GetPos().top);
        EXPECT_EQ(static_cast<UIContainer*>(driver.Find(107))->GetScrollRange(), 0);
        EXPECT_EQ(box->GetClientSize().cx, VLMessagebox::kWidth);
        driver.Screenshot(Shot("VLMessagebox_longtext.png"));
        driver.Click(105);
    });
    EXPECT_GT(longHeight, shortHeight + 100);

    // Past the limit the box stops growing and the text scrolls instead.
    std::string hugeText;
    for (int i = 0; i < 40; ++i)
        hugeText += "第" + std::to_string(i + 1) + "行：答案已保存在本机。\n";
    ShowAnd(VLMessagebox::kOkOnly, 1, hugeText, [&](VLMessagebox* box) {
        EXPECT_EQ(box->GetClientSize().cy, VLMessagebox::kMaxHeight);
        driver.PixelAt(0, 0);
        auto* column = static_cast<UIContainer*>(driver.Find(107));
        EXPECT_GT(column->GetScrollRange(), 0);
        EXPECT_GE(column->GetScrollRange() + column->GetHeight(), driver.Find(104)->GetHeight());
        EXPECT_TRUE(driver.Find(105)->IsVisible());
        driver.Screenshot(Shot("VLMessagebox_scrolling.png"));
        driver.Click(105);
    });
}

// Over an exam drawn at 1.875 pixels per unit the box is drawn at that scale
// too: the same box in its units, its text measured at that size and whole,
// centred on its owner in pixels, and never taller than the screen.
TEST_F(VLMessageboxTest, OverAScaledOwnerTheBoxIsScaledAndItsTextWhole) {
    UIApplication::Instance().SetHeadlessScreenSize({1920, 1080});
    owner.SetFullScreenFit({1024, 576});
    ASSERT_DOUBLE_EQ(owner.GetScale(), 1.875);
    std::string longText;
    for (int i = 0; i < 3; ++i)
        longText += "试卷下载失败，请检查网络连接后重新登录。如果问题仍然存在，请举手告诉监考老师。";
    ShowAnd(VLMessagebox::kOkCancel, 1, longText, [&](VLMessagebox* box) {
        EXPECT_DOUBLE_EQ(box->GetScale(), 1.875);
        EXPECT_EQ(box->GetClientSize().cx, VLMessagebox::kWidth);
        UIControl* text = driver.Find(104);
        driver.PixelAt(0, 0);
        const UISize needed = UIRenderUtils::GetTextSize(box->GetPaintManager(), longText, text->GetFont(),
                                                         DT_WORDBREAK, text->GetWidth());
        EXPECT_GE(text->GetHeight(), needed.cy);
        EXPECT_LE(text->GetPos().bottom, driver.Find(105)->GetPos().top);
        EXPECT_EQ(static_cast<UIContainer*>(driver.Find(107))->GetScrollRange(), 0);
        const UIRect rc = box->GetWindowRect(), o = owner.GetWindowRect();
        EXPECT_NEAR(rc.left + rc.Width() / 2.0, o.left + o.Width() / 2.0, 1.0);
        EXPECT_EQ(rc.Width(), static_cast<int>(std::lround(VLMessagebox::kWidth * 1.875)));
        driver.Screenshot(Shot("VLMessagebox_scaled.png"));
        driver.Click(106);
    });
    // 40 lines on a 1920 x 1080 screen at 1.875: the box stops at the screen's height in units.
    std::string hugeText;
    for (int i = 0; i < 40; ++i)
        hugeText += "第" + std::to_string(i + 1) + "行：答案已保存在本机。\n";
    ShowAnd(VLMessagebox::kOkOnly, 1, hugeText, [&](VLMessagebox* box) {
        EXPECT_LE(box->GetWindowRect().Height(), 1080);
        EXPECT_GT(static_cast<UIContainer*>(driver.Find(107))->GetScrollRange(), 0);
        driver.Click(105);
    });
}

TEST_F(VLMessageboxTest, OwnerClosesItsOpenBoxes) {
    int result = ShowAnd(VLMessagebox::kOkCancel, 0, "是否发送日志？",
                         [&](VLMessagebox*) { VLMessagebox::CloseAll(&owner); });
    EXPECT_EQ(result, IDCLOSE);

    // An owner that goes away takes its box with it; the answer is never OK.
    result =
        ShowAnd(VLMessagebox::kOkCancel, 0, "是否发送日志？", [&](VLMessagebox*) { owner.DestroyWindow(); });
    EXPECT_EQ(result, IDCLOSE);
    EXPECT_EQ(VLMessagebox::OpenCount(), 0);
}

}  // namespace
}  // namespace KwLib
