// Windows, the message loop and time: modal boxes in a running loop, timers
// and animations on the manual clock, messages posted from other threads,
// message filters, full screen and the string table.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "UITestWindow.h"
#include "platform/ui/UIAnimationManager.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIRichEdit.h"

namespace KwLib {
namespace {

class UIWindowTest : public ::testing::Test, public UITestBase {};

TEST_F(UIWindowTest, ModalBoxInsideTheRunningLoop) {
    auto owner = Open("ModalOwner");
    std::unique_ptr<TestWindow> box;
    int ownerClicks = 0;
    int result = 0;
    bool done = false;
    owner->onNotify = [&](UINotification& msg) {
        if (msg.type != kNotifyClick || msg.sender->GetId() != 1)
            return;
        ++ownerClicks;
        box = std::make_unique<TestWindow>("ModalBox");
        ASSERT_TRUE(box->Create(owner.get(), "box"));
        box->onNotify = [&](UINotification& m) {
            if (m.type == kNotifyClick && m.sender->GetId() == 105)
                box->Close(IDOK);
        };
        result = box->ShowModal();
        done = true;
    };
    // The user opens the box from the main loop, tries the owner behind it
    // (refused), then presses OK.
    driver.QueueIdle([&] { driver.Click(1); });
    driver.QueueIdle([&] {
        EXPECT_FALSE(owner->IsInputEnabled());
        EXPECT_EQ(UIApplication::Instance().ModalDepth(), 1);
        driver.Click(1);
        driver.Attach(box.get());
        EXPECT_TRUE(driver.Click(105));
    });
    UIApplication::Instance().RunUntil([&] { return done; });
    EXPECT_TRUE(done);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(ownerClicks, 1);
    EXPECT_TRUE(box->destroyed);
    EXPECT_FALSE(box->IsWindow());
    EXPECT_TRUE(owner->IsInputEnabled());
    EXPECT_EQ(UIApplication::Instance().ModalDepth(), 0);

    // The close button's result reaches the caller the same way.
    box = std::make_unique<TestWindow>("ModalBox");
    box->Create(owner.get(), "box");
    box->onNotify = [&](UINotification& msg) {
        if (msg.type == kNotifyClick && msg.sender->GetId() == 106)
            box->Close(IDCLOSE);
    };
    driver.QueueIdle([&] {
        driver.Attach(box.get());
        driver.Click(106);
    });
    EXPECT_EQ(box->ShowModal(), IDCLOSE);

    // Closing the owner while its box is up takes the box with it.
    box = std::make_unique<TestWindow>("ModalBox");
    box->Create(owner.get(), "box");
    auto second = std::make_unique<TestWindow>("ModalOwner");
    second->Create(nullptr, "second");
    driver.QueueIdle([&] { owner->DestroyWindow(); });
    EXPECT_EQ(box->ShowModal(), -1);
    EXPECT_TRUE(box->destroyed);
    EXPECT_FALSE(owner->IsWindow());
    EXPECT_TRUE(second->IsWindow());
    second->DestroyWindow();
    owner = Open("ModalOwner");

    // A headless modal box nobody answers ends instead of hanging the test run.
    box = std::make_unique<TestWindow>("ModalBox");
    box->Create(owner.get(), "box");
    EXPECT_EQ(box->ShowModal(), -1);
    owner->DestroyWindow();
}

// A window made with new that deletes itself at the end, as the client's windows do.
class SelfDeletingWindow : public TestWindow {
public:
    SelfDeletingWindow(bool* deleted, bool veto) : TestWindow("ModalBox"), m_veto(veto), m_deleted(deleted) {}
    ~SelfDeletingWindow() override { *m_deleted = true; }
    intptr_t OnClose(uint32_t, uintptr_t, intptr_t, bool& handled) override {
        ++closeAsks;
        handled = m_veto;  // a window may refuse to close (an exam still running)
        return 0;
    }
    void OnFinalMessage() override { delete this; }
    int closeAsks = 0;
    bool m_veto;

private:
    bool* m_deleted;
};

TEST_F(UIWindowTest, CloseCanBeRefusedAndWindowsMayDeleteThemselves) {
    bool deleted = false;
    auto* w = new SelfDeletingWindow(&deleted, true);
    ASSERT_TRUE(w->Create(nullptr, "self"));
    driver.Attach(w);
    w->Close();
    driver.Pump();
    EXPECT_EQ(w->closeAsks, 1);
    EXPECT_TRUE(w->IsWindow());
    w->m_veto = false;
    w->Close();
    driver.Pump();  // WM_CLOSE, WM_DESTROY, OnFinalMessage: the object is gone
    EXPECT_TRUE(deleted);
    EXPECT_FALSE(UIApplication::Instance().IsAlive(w));

    // A window whose creation fails is cleaned up the same way.
    bool brokenDeleted = false;
    class Broken : public SelfDeletingWindow {
    public:
        using SelfDeletingWindow::SelfDeletingWindow;
        std::string GetSkinWindowName() const override { return "NoSuchWindow"; }
    };
    auto* broken = new Broken(&brokenDeleted, false);
    EXPECT_FALSE(broken->Create(nullptr, "broken"));
    EXPECT_TRUE(brokenDeleted);
}

class OrderNotifier : public INotifyUI {
public:
    OrderNotifier(std::vector<std::string>& log, std::string name) : m_log(log), m_name(std::move(name)) {}
    void Notify(UINotification& msg) override {
        m_log.push_back(m_name + ":" + std::to_string(msg.type));
        if (onNotify)
            onNotify();
    }
    std::function<void()> onNotify;

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

TEST_F(UIWindowTest, NotifiersInOrderAndAsyncNotificationsLater) {
    auto w = Open("ModalOwner");
    auto& pm = w->PaintManager();
    std::vector<std::string> log;
    OrderNotifier first(log, "first"), second(log, "second");
    ASSERT_TRUE(pm.AddNotifier(&first));
    ASSERT_TRUE(pm.AddNotifier(&second));
    EXPECT_FALSE(pm.AddNotifier(&first));
    UIControl* button = driver.Find(1);
    pm.SendNotify(button, kNotifyClick);
    EXPECT_EQ(log, (std::vector<std::string>{"first:2", "second:2"}));
    // A notifier that removes another during a notification: the removed one is not called.
    log.clear();
    first.onNotify = [&] { pm.RemoveNotifier(&second); };
    pm.SendNotify(button, kNotifyClick);
    EXPECT_EQ(log, (std::vector<std::string>{"first:2"}));
    first.onNotify = nullptr;
    // Async notifications wait for the loop.
    log.clear();
    pm.SendNotify(button, kNotifyTimer, 0, 0, true);
    EXPECT_TRUE(log.empty());
    driver.Pump();
    EXPECT_EQ(log, (std::vector<std::string>{"first:10"}));
    // ...and are dropped when their sender goes first.
    log.clear();
    pm.SendNotify(button, kNotifyTimer, 0, 0, true);
    dynamic_cast<UIContainer*>(pm.GetRoot())->Remove(button);
    driver.Pump();
    EXPECT_TRUE(log.empty());
    pm.RemoveNotifier(&first);
    w->DestroyWindow();
}

TEST_F(UIWindowTest, NestedModalBoxes) {
    auto owner = Open("ModalOwner");
    std::unique_ptr<TestWindow> outer, inner;
    std::vector<std::string> order;
    driver.QueueIdle([&] {
        inner = std::make_unique<TestWindow>("ModalBox");
        inner->Create(outer.get(), "inner");
        driver.QueueIdle([&] {
            EXPECT_FALSE(outer->IsInputEnabled());
            inner->Close(IDCANCEL);
        });
        order.push_back("inner " + std::to_string(inner->ShowModal()));
        EXPECT_TRUE(outer->IsInputEnabled());
        outer->Close(IDOK);
    });
    outer = std::make_unique<TestWindow>("ModalBox");
    outer->Create(owner.get(), "outer");
    order.push_back("outer " + std::to_string(outer->ShowModal()));
    EXPECT_EQ(order, (std::vector<std::string>{"inner 2", "outer 1"}));
    EXPECT_TRUE(owner->IsInputEnabled());
    owner->DestroyWindow();
}

TEST_F(UIWindowTest, WindowTimersFireInTimeOrderOnTheManualClock) {
    auto w = Open("ModalOwner");
    uint64_t start = driver.Now();
    w->SetTimer(7, 100);
    w->SetTimer(8, 250);
    driver.Advance(99);
    EXPECT_TRUE(w->timers.empty());
    driver.Advance(401);
    std::vector<std::pair<int, uint64_t>> expected = {{7, start + 100}, {7, start + 200}, {8, start + 250},
                                                      {7, start + 300}, {7, start + 400}, {7, start + 500},
                                                      {8, start + 500}};
    EXPECT_EQ(w->timers, expected);
    // A timer killed from its own handler stops; the others go on.
    w->timers.clear();
    w->onTimer = [&](int id) {
        if (id == 8)
            w->KillTimer(8);
    };
    driver.Advance(1000);
    int eights = 0, sevens = 0;
    for (auto& [id, at] : w->timers)
        (id == 8 ? eights : sevens)++;
    EXPECT_EQ(eights, 1);
    EXPECT_EQ(sevens, 10);
    // Setting a timer again restarts its period.
    w->timers.clear();
    w->onTimer = nullptr;
    driver.Advance(50);
    w->SetTimer(7, 100);
    driver.Advance(99);
    EXPECT_TRUE(w->timers.empty());
    driver.Advance(1);
    EXPECT_EQ(w->timers.size(), 1u);
    w->DestroyWindow();
    // A destroyed window's timers are gone with it.
    EXPECT_FALSE(UIApplication::Instance().HasTimer(w.get(), nullptr, 7));
}

class FrameRecorder : public UIControl {
public:
    void OnAnimationStart(int id) override { events.push_back("start " + std::to_string(id)); }
    void OnAnimationStep(int id, int frame, int count) override {
        UIControl::OnAnimationStep(id, frame, count);
        frames.push_back(frame);
    }
    void OnAnimationStop(int id) override { events.push_back("stop " + std::to_string(id)); }
    std::vector<int> frames;
    std::vector<std::string> events;
};

TEST_F(UIWindowTest, AnimationsStepWithTheClock) {
    auto w = Open("ModalOwner");
    auto* root = dynamic_cast<UIContainer*>(w->PaintManager().GetRoot());
    auto* spinner = new FrameRecorder;
    spinner->SetFixedHeight(48);
    root->Add(spinner);
    driver.Pump();
    std::vector<std::string> images;
    for (int id = 1200; id <= 1215; ++id)
        images.push_back("res='" + std::to_string(id) + "' restype='PNG'");
    auto& anim = w->PaintManager().GetAnimationManager();
    ASSERT_TRUE(anim.AddAnimation(spinner, 8201, 100, images));
    EXPECT_EQ(spinner->GetBkImage(), images[0]);
    driver.Advance(350);
    EXPECT_EQ(anim.GetCurrentFrame(spinner, 8201), 3);
    EXPECT_EQ(spinner->GetBkImage(), images[3]);
    driver.Advance(1300);  // wraps after the sixteenth frame
    EXPECT_EQ(anim.GetCurrentFrame(spinner, 8201), 0);
    anim.RemoveAnimation(spinner, 8201);
    EXPECT_FALSE(anim.IsAnimating(spinner, 8201));
    size_t seen = spinner->frames.size();
    driver.Advance(1000);
    EXPECT_EQ(spinner->frames.size(), seen);

    // A run-once animation stops after its last frame.
    spinner->frames.clear();
    spinner->events.clear();
    anim.AddAnimation(spinner, 3, 40, 3, false);
    driver.Advance(200);
    EXPECT_EQ(spinner->frames, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(spinner->events, (std::vector<std::string>{"start 3", "stop 3"}));
    // Removing a control ends its animations.
    anim.AddAnimation(spinner, 4, 10, 0);
    root->Remove(spinner);
    driver.Advance(100);  // a stale animation would touch freed memory here

    // A control may remove itself on a frame (a toast that is done).
    class SelfRemoving : public UIControl {
    public:
        void OnAnimationStep(int id, int frame, int count) override {
            UIControl::OnAnimationStep(id, frame, count);
            if (frame == 2)
                static_cast<UIContainer*>(GetParent())->Remove(this);
        }
    };
    auto* toast = new SelfRemoving;
    root->Add(toast);
    anim.AddAnimation(toast, 5, 10, 0);
    driver.Advance(100);
    EXPECT_EQ(root->GetItemIndex(toast), -1);
    w->DestroyWindow();
}

TEST_F(UIWindowTest, MessagesPostedFromAWorkerArriveInOrderOnTheUiThread) {
    auto w = Open("ModalOwner");
    std::thread::id uiThread = std::this_thread::get_id();
    std::thread::id seenOn;
    constexpr int kCount = 2000;
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            auto* payload = new std::string("result " + std::to_string(i));
            if (!w->PostMessageW(WM_USER + 10, static_cast<uintptr_t>(i),
                                 reinterpret_cast<intptr_t>(payload)))
                delete payload;
        }
    });
    worker.join();
    EXPECT_TRUE(w->messages.empty());  // nothing runs before the loop does
    driver.Pump();
    seenOn = std::this_thread::get_id();
    ASSERT_EQ(w->messages.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(w->messages[i].message, WM_USER + 10);
        EXPECT_EQ(w->messages[i].wParam, static_cast<uintptr_t>(i));
        std::unique_ptr<std::string> payload(reinterpret_cast<std::string*>(w->messages[i].lParam));
        EXPECT_EQ(*payload, "result " + std::to_string(i));
    }
    EXPECT_EQ(seenOn, uiThread);
    // SendMessageW runs at once.
    w->messages.clear();
    w->SendMessageW(WM_USER + 1, 5, 0);
    ASSERT_EQ(w->messages.size(), 1u);
    // After the window is gone a post is refused, so the sender keeps its payload.
    w->DestroyWindow();
    EXPECT_FALSE(w->PostMessageW(WM_USER + 1, 0, 0));
}

// Owns the std::string payloads its worker posts, as the client's windows do.
class PayloadWindow : public TestWindow {
public:
    using TestWindow::TestWindow;
    intptr_t HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override {
        if (msg == WM_USER + 20) {
            std::unique_ptr<std::string> payload(reinterpret_cast<std::string*>(lParam));
            handled_.push_back(*payload);
            handled = true;
            if (onMessage)
                onMessage(*payload);
            return 0;
        }
        return TestWindow::HandleCustomMessage(msg, wParam, lParam, handled);
    }
    void OnUnreadMessage(const KWMessage& m) override {
        if (m.message == WM_USER + 20) {
            std::unique_ptr<std::string> payload(reinterpret_cast<std::string*>(m.lParam));
            unreadOut->push_back(*payload);
        }
    }
    void OnFinalMessage() override {
        if (deleteSelf)
            delete this;
    }
    std::vector<std::string> handled_;
    std::function<void(const std::string&)> onMessage;
    std::vector<std::string>* unreadOut = &unread;
    std::vector<std::string> unread;
    bool deleteSelf = false;
};

TEST_F(UIWindowTest, MessagesPostedWhileTheLoopRunsAreNeitherLostNorRepeated) {
    auto w = std::make_unique<PayloadWindow>("ModalOwner");
    ASSERT_TRUE(w->Create(nullptr, "posts"));
    driver.Attach(w.get());
    constexpr int kPerWorker = 3000;
    std::atomic<int> running{2};
    auto work = [&](int base) {
        for (int i = 0; i < kPerWorker; ++i) {
            auto* payload = new std::string(std::to_string(base + i));
            if (!w->PostMessageW(WM_USER + 20, 0, reinterpret_cast<intptr_t>(payload)))
                delete payload;
        }
        --running;
    };
    std::thread a(work, 0), b(work, 100000);
    // The UI thread pumps while both workers post.
    while (running > 0 || w->HasPosted())
        UIApplication::Instance().PumpOnce(0);
    a.join();
    b.join();
    driver.Pump();
    ASSERT_EQ(w->handled_.size(), static_cast<size_t>(2 * kPerWorker));
    // Each worker's results come in the order it posted them, each exactly once.
    int nextA = 0, nextB = 100000;
    for (const std::string& s : w->handled_) {
        int v = std::stoi(s);
        if (v < 100000)
            EXPECT_EQ(v, nextA++);
        else
            EXPECT_EQ(v, nextB++);
    }
    EXPECT_EQ(nextA, kPerWorker);
    EXPECT_EQ(nextB, 100000 + kPerWorker);
    w->DestroyWindow();
}

TEST_F(UIWindowTest, MessagesLeftUnreadByADestroyedWindowReachItsHook) {
    // A window closed with results still queued behind WM_CLOSE: those are
    // handed to OnUnreadMessage (which frees the payloads; the leak checker
    // sees any that are lost), none is handled after WM_DESTROY.
    for (bool deleteSelf : {false, true}) {
        auto* w = new PayloadWindow("ModalOwner");
        w->deleteSelf = deleteSelf;
        ASSERT_TRUE(w->Create(nullptr, "closing"));
        driver.Attach(w);
        std::vector<std::string> unread;
        w->unreadOut = &unread;
        auto post = [w](const char* text) {
            ASSERT_TRUE(w->PostMessageW(WM_USER + 20, 0, reinterpret_cast<intptr_t>(new std::string(text))));
        };
        post("first");
        w->Close(IDOK);
        post("late 1");
        post("late 2");
        if (!deleteSelf) {
            driver.Pump();
            EXPECT_FALSE(w->IsWindow());
            EXPECT_EQ(w->handled_, (std::vector<std::string>{"first"}));
            EXPECT_FALSE(w->PostMessageW(WM_USER + 20, 0, 0));
            delete w;
        } else {
            driver.Pump();  // the window deletes itself in OnFinalMessage
            EXPECT_FALSE(UIApplication::Instance().IsAlive(w));
        }
        EXPECT_EQ(unread, (std::vector<std::string>{"late 1", "late 2"}));
    }
}

class SpaceFilter : public IMessageFilterUI {
public:
    intptr_t MessageHandler(uint32_t message, uintptr_t wParam, intptr_t, bool& handled) override {
        if (message == WM_KEYDOWN)
            seen.push_back(static_cast<uint32_t>(wParam));
        if (message == WM_KEYDOWN && wParam == VK_SPACE)
            handled = true;
        return 0;
    }
    std::vector<uint32_t> seen;
};

TEST_F(UIWindowTest, HeadlessModalBoxOnTheRealClockWaitsForItsWorker) {
    // A program run with VL_UI_HEADLESS=1 keeps the real clock: a box waiting
    // for a worker's result must wait for it, not end as soon as it is idle.
    auto owner = Open("ModalOwner");
    UIClock::SetManual(false);
    auto box = std::make_unique<TestWindow>("ModalBox");
    ASSERT_TRUE(box->Create(owner.get(), "box"));
    TestWindow* raw = box.get();
    std::thread worker([raw] {
        // Stands for work that takes a while (an upload, say).
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        raw->PostMessageW(WM_CLOSE, IDOK, 0);
    });
    int result = box->ShowModal();
    worker.join();
    UIClock::SetManual(true);
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(box->IsWindow());
    EXPECT_TRUE(owner->IsInputEnabled());
}

TEST_F(UIWindowTest, TasksFromOtherThreadsRunOnTheUiThreadInOrderAndInsideModalLoops) {
    auto owner = Open("ModalOwner");
    auto& app = UIApplication::Instance();
    std::thread::id uiThread = std::this_thread::get_id();
    std::vector<int> order;
    bool allOnUi = true;
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i)
            app.RunOnUiThread([&, i] {
                order.push_back(i);
                allOnUi = allOnUi && std::this_thread::get_id() == uiThread;
            });
    });
    worker.join();
    EXPECT_TRUE(app.HasQueuedTasks());
    // A task that queues another does not run it in the same pass: the
    // message posted in between is handled first.
    size_t messagesBeforeInner = 99;
    app.RunOnUiThread([&] {
        owner->PostMessageW(WM_USER + 1);
        app.RunOnUiThread([&] { messagesBeforeInner = owner->messages.size(); });
    });
    driver.Pump();
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_TRUE(allOnUi);
    EXPECT_EQ(messagesBeforeInner, 1u);
    EXPECT_FALSE(app.HasQueuedTasks());

    // While an outside driver is attached, a headless modal box on the manual
    // clock waits for it instead of ending when it is idle; the driver's tasks
    // run inside the box's loop and can answer it.
    auto box = std::make_unique<TestWindow>("ModalBox");
    ASSERT_TRUE(box->Create(owner.get(), "box"));
    std::atomic<bool> boxRunning{false};
    app.AddExternalDriver();
    std::thread outside([&] {
        app.RunOnUiThread([&] { boxRunning = box->IsModal() && app.ModalDepth() == 1; });
        while (!boxRunning)
            std::this_thread::yield();
        // The box has been idle meanwhile, and is still up.
        app.RunOnUiThread([&] { box->Close(IDOK); });
    });
    int result = box->ShowModal();
    outside.join();
    app.RemoveExternalDriver();
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(app.HasExternalDriver());
}

TEST_F(UIWindowTest, DeletingAnOwnerObjectTakesItsOwnedWindowsAlong) {
    // An owner deleted without DestroyWindow (a unique_ptr going out of
    // scope): its owned windows must not keep pointing at it.
    auto owner = Open("ModalOwner");
    auto box = std::make_unique<TestWindow>("ModalBox");
    ASSERT_TRUE(box->Create(owner.get(), "box"));
    owner.reset();
    EXPECT_TRUE(box->destroyed);
    EXPECT_FALSE(box->IsWindow());
    EXPECT_FALSE(UIApplication::Instance().IsAlive(box.get()));
    ASSERT_TRUE(box->Create(nullptr, "again"));  // a fresh window, centred on the screen
    box->CenterWindow();
    box->DestroyWindow();
}

TEST_F(UIWindowTest, AModalBoxOpenedByAPostedMessageKeepsTheRestInOrder) {
    // The handler of one result opens a box (an error, say); the results
    // queued behind it and those posted while the box is up arrive in the
    // order they were posted.
    auto w = std::make_unique<PayloadWindow>("ModalOwner");
    ASSERT_TRUE(w->Create(nullptr, "results"));
    driver.Attach(w.get());
    std::unique_ptr<TestWindow> box;
    auto post = [&w](const char* text) {
        ASSERT_TRUE(w->PostMessageW(WM_USER + 20, 0, reinterpret_cast<intptr_t>(new std::string(text))));
    };
    bool opened = false;
    driver.QueueIdle([&] {
        post("4");
        box->Close(IDOK);
    });
    w->onMessage = [&](const std::string& text) {
        if (text != "1" || opened)
            return;
        opened = true;
        box = std::make_unique<TestWindow>("ModalBox");
        ASSERT_TRUE(box->Create(w.get(), "box"));
        EXPECT_EQ(box->ShowModal(), IDOK);
    };
    post("1");
    post("2");
    post("3");
    driver.Pump();
    EXPECT_EQ(w->handled_, (std::vector<std::string>{"1", "2", "3", "4"}));
    w->DestroyWindow();
}

TEST_F(UIWindowTest, MessageFiltersSeeInputFirst) {
    auto w = Open("ControlTest");
    auto* edit = driver.FindAs<UIRichEdit>(501);
    driver.Click(501);
    SpaceFilter filter;
    ASSERT_TRUE(w->PaintManager().AddMessageFilter(&filter));
    EXPECT_FALSE(w->PaintManager().AddMessageFilter(&filter));
    driver.TypeText("ab");
    driver.PressKey(VK_SPACE);
    driver.PressKey(VK_LEFT);
    EXPECT_EQ(filter.seen, (std::vector<uint32_t>{VK_SPACE, VK_LEFT}));
    int s = 0, e = 0;
    edit->GetSel(s, e);
    EXPECT_EQ(s, 1);  // the left arrow reached the field after the filter
    ASSERT_TRUE(w->PaintManager().RemoveMessageFilter(&filter));
    driver.PressKey(VK_SPACE);
    EXPECT_EQ(filter.seen.size(), 2u);
    w->DestroyWindow();
}

class HotKeyWindow : public TestWindow {
public:
    HotKeyWindow() : TestWindow("ControlTest") {}
    intptr_t OnKeyDown(uint32_t, uintptr_t wParam, intptr_t, bool& handled) override {
        // The log-sending combination, checked the way a window always did.
        if (wParam == 'P' && UIIsKeyDown(VK_CONTROL) && UIIsKeyDown(VK_MENU) && UIIsKeyDown(VK_SHIFT))
            ++hotKeys;
        handled = false;
        return 0;
    }
    int hotKeys = 0;
};

TEST_F(UIWindowTest, ModifierStateAndMousePresence) {
    HotKeyWindow w;
    ASSERT_TRUE(w.Create(nullptr, "keys"));
    driver.Attach(&w);
    driver.PressKey('P', kModCtrl | kModShift);
    EXPECT_EQ(w.hotKeys, 0);
    driver.PressKey('P', kModCtrl | kModShift | kModAlt);
    EXPECT_EQ(w.hotKeys, 1);
    EXPECT_FALSE(UIIsKeyDown(VK_CONTROL));  // released again
    // Losing the focus forgets keys held at that moment.
    driver.KeyDown(VK_CONTROL);
    EXPECT_TRUE(UIIsKeyDown(VK_CONTROL));
    w.DispatchMessage(WM_KILLFOCUS, 0, 0);
    EXPECT_FALSE(UIIsKeyDown(VK_CONTROL));
    driver.KeyUp(VK_CONTROL);

    EXPECT_FALSE(w.PaintManager().IsMouseInside());
    driver.MouseMove({10, 10});
    EXPECT_TRUE(w.PaintManager().IsMouseInside());
    w.DispatchMessage(WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(w.PaintManager().IsMouseInside());
    w.MoveWindow(100, 50, 420, 320);
    EXPECT_EQ(w.ClientToScreen({10, 20}), (UIPoint{110, 70}));
    w.DestroyWindow();
}

TEST_F(UIWindowTest, FullScreenCentreCaptionAndStrings) {
    auto w = Open("LayoutTest");
    UIApplication::Instance().SetHeadlessScreenSize({1280, 720});
    w->CenterWindow();
    EXPECT_EQ(w->GetWindowRect(), (UIRect{440, 210, 840, 510}));
    auto& pm = w->PaintManager();
    pm.SetFullScreenMode(true);
    EXPECT_TRUE(pm.IsFullScreenMode());
    EXPECT_EQ(w->GetClientSize(), (UISize{1280, 720}));
    driver.Pump();
    EXPECT_EQ(driver.Find(1)->GetPos(), (UIRect{0, 0, 1280, 720}));
    pm.SetFullScreenMode(false);
    EXPECT_EQ(w->GetWindowRect(), (UIRect{440, 210, 840, 510}));
    // The caption drags except over buttons; full screen has no caption.
    EXPECT_TRUE(pm.IsCaptionPoint({200, 20}));
    EXPECT_FALSE(pm.IsCaptionPoint({200, 40}));
    EXPECT_EQ(LoadStr(1000), "VLStudent");
    EXPECT_EQ(LoadStr(424242), "");
    UIApplication::Instance().SetHeadlessScreenSize({1920, 1080});
    w->DestroyWindow();
}

}  // namespace
}  // namespace KwLib
