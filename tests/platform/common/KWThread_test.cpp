#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/common/KWBaseEvent.h"
#include "platform/common/KWInstanceChannel.h"
#include "platform/common/KWMessage.h"
#include "platform/common/KWProcess.h"
#include "platform/common/KWThread.h"
#include "platform/common/KWTypes.h"
#include "tests/platform/common/KWThreadHookProbe.h"

using namespace KwLib;

TEST(KWThread, TimeJoinWaitsForTheWorker) {
    KWBaseEvent release;
    release.Create(true, false);
    std::atomic<bool> ran{false};
    KWThread t([&] {
        release.Wait();
        ran = true;
    });
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.Start());
    EXPECT_FALSE(t.TimeJoin(20));
    EXPECT_TRUE(t.IsRunning());
    release.Set();
    EXPECT_TRUE(t.TimeJoin(10000));
    EXPECT_TRUE(ran);
}

TEST(KWBaseEvent, AutoResetWakesOnceAndNamedEventIsExclusive) {
    KWBaseEvent e;
    ASSERT_TRUE(e.Create(false, true));
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));

    std::string name = "kwtest_" + std::to_string(getpid());
    KWBaseEvent first, second;
    EXPECT_TRUE(first.Create(false, false, name));
    EXPECT_FALSE(second.Create(false, false, name));
    EXPECT_EQ(second.GetLastError(), ERROR_ALREADY_EXISTS_CODE);
}

TEST(KWMessageQueue, MessagesFromThreadsArriveInOrder) {
    KWMessageQueue q;
    std::thread producer([&] {
        for (int i = 0; i < 100; ++i)
            q.PostMessageW(WM_USER + 1, static_cast<uintptr_t>(i), 0);
    });
    for (int i = 0; i < 100; ++i) {
        auto m = q.Take(std::chrono::seconds(10));
        ASSERT_TRUE(m);
        EXPECT_EQ(m->wParam, static_cast<uintptr_t>(i));
    }
    producer.join();
    EXPECT_FALSE(q.Take(std::chrono::milliseconds(1)));
}

TEST(KWMessageQueue, AReceiverGoneRightAfterItsLastTakeIsNotTouchedAgain) {
    // The window takes the last result and is destroyed at once, while the
    // worker that posted it is still returning from the post. (A sender that
    // touched the queue after letting go of its lock shows under ThreadSanitizer.)
    for (int round = 0; round < 300; ++round) {
        auto inbox = std::make_unique<KWMessageQueue>();
        std::thread worker([queue = inbox.get()] { queue->PostMessageW(WM_USER + 7, 1, 0); });
        auto m = inbox->Take(std::chrono::seconds(10));
        ASSERT_TRUE(m);
        EXPECT_EQ(m->message, WM_USER + 7);
        inbox.reset();
        worker.join();
    }
}

TEST(KWMessageQueue, AClosedQueueRefusesAndCountsLatePosts) {
    KWMessageQueue q;
    EXPECT_TRUE(q.PostMessageW(WM_USER + 1, 0, 0));
    q.Close();
    EXPECT_FALSE(q.PostMessageW(WM_USER + 2, 0, 0));
    EXPECT_FALSE(q.PostMessageW(WM_USER + 3, 0, 0));
    EXPECT_EQ(q.RefusedPosts(), 2u);
    // What arrived before stays to be taken.
    auto m = q.Take(std::chrono::milliseconds(0));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->message, WM_USER + 1);
    EXPECT_FALSE(q.Take(std::chrono::milliseconds(0)));
}

namespace {
std::atomic<int> g_hookRuns{0};
thread_local bool t_hookRan = false;
}  // namespace

TEST(KWThread, StartHookRunsOnTheNewThreadBeforeItsWork) {
    KWThread::SetThreadStartHook([] {
        ++g_hookRuns;
        t_hookRan = true;
    });
    bool sawHook = false;
    KWThread t([&] { sawHook = t_hookRan; });
    ASSERT_TRUE(t.Start());
    t.Join();
    KWThread::SetThreadStartHook(nullptr);
    EXPECT_TRUE(sawHook);
    EXPECT_EQ(g_hookRuns.load(), 1);
    EXPECT_FALSE(t_hookRan);
}

TEST(KWThread, EveryWorkerOfTheUtilityLibraryRunsTheStartHook) {
    using TestSupport::KWThreadHookProbe;
    KWThreadHookProbe probe;
    std::atomic<long> detached{0};
    ASSERT_TRUE(KWThread::StartDetached([&] { detached = KWThreadHookProbe::CurrentTid(); }));
    ASSERT_TRUE(KWThreadHookProbe::Eventually([&] { return detached.load() != 0; }));
    EXPECT_TRUE(probe.Ran(detached));

    // The instance channel's listener.
    KWInstanceChannel channel;
    const std::string name = "kwhook_" + std::to_string(getpid());
    std::atomic<long> listener{0};
    ASSERT_TRUE(
        channel.Listen(name, [&](const std::string&) { listener = KWThreadHookProbe::CurrentTid(); }));
    ASSERT_TRUE(KWInstanceChannel::Send(name, "raise"));
    ASSERT_TRUE(KWThreadHookProbe::Eventually([&] { return listener.load() != 0; }));
    EXPECT_TRUE(probe.Ran(listener));

    // The thread that reaps a started program, while the program still runs.
    ASSERT_GT(KWProcess::Spawn("/bin/sleep", {"2"}), 0);
    EXPECT_TRUE(KWThreadHookProbe::Eventually([&] { return probe.RunCount() >= 3; }));
    EXPECT_EQ(probe.Unprepared(), std::set<long>{});

    // A thread a library started runs it at its first call into our code, once.
    const size_t runs = probe.RunCount();
    long foreign = 0;
    std::thread library([&] {
        KWThread::PrepareForeignThread();
        KWThread::PrepareForeignThread();
        foreign = KWThreadHookProbe::CurrentTid();
    });
    library.join();
    EXPECT_TRUE(probe.Ran(foreign));
    EXPECT_EQ(probe.RunCount(), runs + 1);
    channel.Stop();
}
