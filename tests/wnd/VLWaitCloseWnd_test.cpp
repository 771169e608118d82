// The closing wait window: it waits for the paper's result (or the loss of
// its request), stays up at least a second, frees what the worker posted and
// turns its spinner. Leaked result records fail the run under LeakSanitizer.
#include "wnd/VLWaitCloseWnd.h"

#include <gtest/gtest.h>

#include <string>

#include "net/VLHttpRequest.h"
#include "net/VLNetMessages.h"
#include "net/VLServerApi.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIResource.h"
#include "platform/ui/UITestDriver.h"

namespace KwLib {
namespace {

class VLWaitCloseWndTest : public ::testing::Test {
protected:
    VLWaitCloseWndTest() {
        UIResourceSingleton::Instance().SetResourcePath(std::string(VL_BINARY_DIR) + "/install/bin/res/");
        owner.Create(nullptr, "VLStudent", 0, 0, 1920, 1080);
        owner.ShowWindow(true);
    }
    ~VLWaitCloseWndTest() override {
        if (owner.IsWindow())
            owner.DestroyWindow();
    }

    // What the request worker posts for the paper result.
    static void PostResult(VLWaitCloseWnd& wnd, int code) {
        auto* result = new VLExamResultResult;
        result->m_code = code;
        result->m_msg = code == 0 ? "成功" : "提交失败";
        if (!wnd.PostMessageW(WM_EXAM_RESULT_RSP, reinterpret_cast<uintptr_t>(result), 0))
            delete result;
    }

    // Runs the window modally; `steps` are what happens while it is up, one
    // after another whenever the window has nothing else to do.
    int RunModal(VLWaitCloseWnd& wnd, std::initializer_list<std::function<void()>> steps) {
        driver.QueueIdle([&] { driver.Attach(&wnd); });
        for (const auto& step : steps)
            driver.QueueIdle(step);
        int result = wnd.ShowModal();
        closedAt = driver.Now();
        UIApplication::Instance().ClearIdleActions();
        return result;
    }

    UITestDriver driver;
    UIWindowWnd owner;
    uint64_t closedAt = 0;
};

TEST_F(VLWaitCloseWndTest, StaysUpUntilTheResultAndNoLessThanASecond) {
    // No result: it stays, whatever time passes and whoever tries to close it.
    VLWaitCloseWnd wnd;
    ASSERT_TRUE(wnd.CreateOver(&owner));
    EXPECT_EQ(wnd.GetPaintManager()->FindControl(3901)->GetText(), "程序正在关闭中，请稍等...");
    int result = RunModal(wnd, {[&] {
                                    driver.Advance(60000);
                                    wnd.PostMessageW(WM_CLOSE, IDCLOSE, 0);
                                    wnd.PostMessageW(WM_HTTP_FAILED, kReqExamState, 7);
                                    driver.Pump();
                                    EXPECT_TRUE(wnd.IsWindow());
                                    EXPECT_FALSE(wnd.ResultArrived());
                                },
                                [&] {
                                    // Now it comes, long after the window was shown: it closes at once.
                                    PostResult(wnd, 0);
                                }});
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(wnd.IsWindow());
    EXPECT_TRUE(wnd.ResultAccepted());
    EXPECT_EQ(closedAt, wnd.ShownAtMs() + 60000);
    EXPECT_TRUE(owner.IsInputEnabled());
}

TEST_F(VLWaitCloseWndTest, AResultAtOnceClosesOneSecondAfterShowing) {
    VLWaitCloseWnd wnd;
    ASSERT_TRUE(wnd.CreateOver(&owner));
    bool told = false, toldAccepted = true;
    wnd.SetOnResult([&](bool accepted) {
        told = true;
        toldAccepted = accepted;
    });
    int result = RunModal(wnd, {[&] {
                                    driver.Advance(200);
                                    PostResult(wnd, 1);
                                    PostResult(wnd, 0);  // a second answer changes nothing
                                    driver.Pump();
                                    EXPECT_TRUE(told);
                                },
                                [&] {
                                    driver.Advance(799);
                                    EXPECT_TRUE(wnd.IsWindow());
                                },
                                [&] { driver.Advance(1); }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(toldAccepted);
    EXPECT_FALSE(wnd.ResultAccepted());
    EXPECT_EQ(closedAt, wnd.ShownAtMs() + VLWaitCloseWnd::kMinShownMs);
}

TEST_F(VLWaitCloseWndTest, TheLostResultRequestEndsItToo) {
    VLWaitCloseWnd wnd;
    ASSERT_TRUE(wnd.CreateOver(&owner));
    int result = RunModal(wnd, {[&] {
                              driver.Advance(3000);
                              wnd.PostMessageW(WM_HTTP_FAILED, kReqExamResult, 28);
                          }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(wnd.ResultArrived());
    EXPECT_FALSE(wnd.ResultAccepted());
    EXPECT_EQ(closedAt, wnd.ShownAtMs() + 3000);
}

TEST_F(VLWaitCloseWndTest, FreesResultsItNeverRead) {
    // The owner goes away with results still queued: the window frees them.
    VLWaitCloseWnd wnd;
    ASSERT_TRUE(wnd.CreateOver(&owner));
    PostResult(wnd, 0);
    PostResult(wnd, 0);
    EXPECT_EQ(wnd.PostedCount(), 2u);
    owner.DestroyWindow();
    EXPECT_FALSE(wnd.IsWindow());
    EXPECT_FALSE(wnd.ResultArrived());
}

TEST_F(VLWaitCloseWndTest, SpinnerTurnsAndTheNoteShowsUnderTheText) {
    VLWaitCloseWnd wnd;
    ASSERT_TRUE(wnd.CreateOver(&owner));
    wnd.ShowWindow(true);
    driver.Attach(&wnd);
    UIControl* spinner = driver.Find(3900);
    EXPECT_EQ(spinner->GetBkImage(), "res='1027' restype='PNG' source='0,0,96,104'");
    driver.Advance(100);
    EXPECT_EQ(spinner->GetBkImage(), "res='1027' restype='PNG' source='96,0,192,104'");
    driver.Advance(200);
    EXPECT_EQ(spinner->GetBkImage(), "res='1027' restype='PNG' source='288,0,384,104'");
    driver.Advance(100);
    EXPECT_EQ(spinner->GetBkImage(), VLWaitCloseWnd::SpinnerFrame(0));
    EXPECT_TRUE(wnd.GetPaintManager()->GetAnimationManager().IsAnimating(spinner, 8201));

    // The note: hidden while empty; given a text, the window grows to show it.
    UIControl* note = driver.Find(3902);
    EXPECT_FALSE(note->IsVisible());
    UIRect before = wnd.GetWindowRect();
    wnd.SetNote("答案已保存在本机，下次登录可继续作答。");
    driver.PixelAt(0, 0);
    EXPECT_TRUE(note->IsVisible());
    EXPECT_GT(wnd.GetClientSize().cy, before.Height());
    EXPECT_LE(note->GetPos().bottom, wnd.GetClientSize().cy);
    EXPECT_GT(note->GetPos().top, driver.Find(3901)->GetPos().bottom);
    EXPECT_NEAR((wnd.GetWindowRect().top + wnd.GetWindowRect().bottom) / 2, (before.top + before.bottom) / 2,
                1);
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/VLWaitCloseWnd.png");
    wnd.SetNote("");
    EXPECT_FALSE(note->IsVisible());
    EXPECT_EQ(wnd.GetWindowRect().Height(), before.Height());
    wnd.DestroyWindow();
}

// Over a scaled exam the closing window grows round its middle in pixels too.
TEST_F(VLWaitCloseWndTest, OverAScaledExamTheNoteGrowsTheWindowRoundItsMiddle) {
    UIApplication::Instance().SetHeadlessScreenSize({1920, 1080});
    owner.SetFullScreenFit({1024, 576});
    ASSERT_DOUBLE_EQ(owner.GetScale(), 1.875);
    VLWaitCloseWnd wnd;
    ASSERT_TRUE(wnd.CreateOver(&owner));
    wnd.ShowWindow(true);
    driver.Attach(&wnd);
    EXPECT_DOUBLE_EQ(wnd.GetScale(), 1.875);
    const UIRect before = wnd.GetWindowRect();
    wnd.SetNote("答案已保存在本机，下次登录可继续作答。");
    driver.PixelAt(0, 0);
    const UIRect after = wnd.GetWindowRect();
    EXPECT_GT(after.Height(), before.Height());
    EXPECT_NEAR((after.top + after.bottom) / 2.0, (before.top + before.bottom) / 2.0, 1.5);
    EXPECT_LE(driver.Find(3902)->GetPos().bottom, wnd.GetClientSize().cy);
    driver.Screenshot(std::string(VL_BINARY_DIR) + "/tests/wnd/VLWaitCloseWnd_scaled.png");
    wnd.DestroyWindow();
}

}  // namespace
}  // namespace KwLib
