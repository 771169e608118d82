#include "net/VLDownloadManager.h"

#include <gtest/gtest.h>

#include <set>

#include "net/VLNetMessages.h"
#include "tests/net/VLNetTestSupport.h"
#include "tools/platform-sim/VLSimAssets.h"

namespace KwLib {
namespace {

class VLDownloadManagerTest : public VLSimTest {
protected:
    static void SetUpTestSuite() {
        VLSimTest::SetUpTestSuite();
        // A file large enough for several progress reports and a resume in the middle.
        if (!s_sim)
            return;
        const std::string big = s_sim->FilesDir() + "big.bin";
        const std::string part = big + ".part" + std::to_string(::getpid());
        if (KWFilePathUtils::FileSize(big) != 3 * 1024 * 1024 + 17 &&
            VLSimAssets::WritePatternFile(part, 3 * 1024 * 1024 + 17, 7))
            KWFilePathUtils::Rename(part, big);
    }
    std::string Source(const std::string& name) { return ReadFile(s_sim->FilesDir() + name); }
    // Requests the simulator saw for one file, as "METHOD range" texts.
    std::vector<std::string> Seen(const std::string& name) {
        std::vector<std::string> out;
        for (const auto& r : s_sim->GetRecords())
            if (r["path"].asString() == "/files/" + name)
                out.push_back(r["method"].asString() +
                              (r.isMember("range") ? " " + r["range"].asString() : ""));
        return out;
    }
    void TearDown() override {
        m_manager.Release();
        ExpectNoSenderLeft(m_queue);
    }
    // Declared first: the receiver outlives the manager that posts to it.
    KWMessageQueue m_queue;
    VLDownloadManager m_manager;
};

TEST_F(VLDownloadManagerTest, WholeFileArrivesIntactAndTheTemporaryFileIsGone) {
    const std::string save = m_work + "sub/dir/big.bin";
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("big.bin"), save, "t1"), 0);
    EXPECT_EQ(ReadFile(save), Source("big.bin"));
    EXPECT_FALSE(KWFilePathUtils::IsExists(VLDownloadManager::TempFilePath(save, "t1")));
    EXPECT_EQ(VLDownloadManager::TempFilePath(save, "t1"), m_work + "sub/dir/big_t1.dl");
    EXPECT_EQ(m_manager.DownloadFile("", save, "t1"), 2);
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("big.bin"), "", "t1"), 2);
}

TEST_F(VLDownloadManagerTest, FileWithoutAPartOnDiskIsOneRequest) {
    // One GET, no probe; a file already at the save path is replaced.
    const std::string source = Source("jigsaw.png");
    const std::string save = m_work + "fresh.png";
    KWFile::WriteAtomic(save, "an older download");
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("jigsaw.png"), save, "f"), 0);
    EXPECT_EQ(ReadFile(save), source);
    EXPECT_EQ(Seen("jigsaw.png"), std::vector<std::string>{"GET"});
    EXPECT_FALSE(KWFilePathUtils::IsExists(VLDownloadManager::TempFilePath(save, "f")));

    // A paper's files through the worker: one request each, all over one connection.
    s_sim->ClearRecords();
    const std::vector<std::string> names = {"opt_a.png", "opt_b.png", "opt_c.png", "jigsaw.png"};
    std::vector<VLDownloadTask> tasks;
    for (const std::string& name : names) {
        VLDownloadTask t;
        t.m_url = FileUrl(name);
        t.m_savePath = m_work + "paper/" + name;
        t.m_tag = "w";
        t.m_receiver = &m_queue;
        tasks.push_back(t);
    }
    m_manager.AddTasks(tasks);
    m_manager.Start();
    for (size_t i = 0; i < names.size(); ++i) {
        auto done = WaitFor(m_queue, WM_DOWNLOAD_DONE);
        ASSERT_TRUE(done);
        DropPayload(*done);
    }
    m_manager.Release();
    std::set<std::string> connections;
    for (const std::string& name : names) {
        EXPECT_EQ(Seen(name), std::vector<std::string>{"GET"}) << name;
        EXPECT_EQ(ReadFile(m_work + "paper/" + name), Source(name));
    }
    for (const auto& r : s_sim->GetRecords())
        connections.insert(r["conn"].asString());
    EXPECT_EQ(connections.size(), 1u) << "the worker's connection was not kept between files";
}

TEST_F(VLDownloadManagerTest, BodyShorterThanAnnouncedIsAFailureAndTheNextAttemptResumes) {
    const std::string source = Source("jigsaw.png");
    ASSERT_GT(source.size(), 3000u);
    const std::string save = m_work + "cut.png";
    const std::string temp = VLDownloadManager::TempFilePath(save, "s");
    VLSimFault fault;
    fault.m_truncate = 3000;
    fault.m_times = 1;
    s_sim->SetFault("/files/jigsaw.png", fault);
    // The answer announced the whole file and delivered less: not a success.
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("jigsaw.png"), save, "s"), 18);
    EXPECT_FALSE(KWFilePathUtils::IsExists(save));
    EXPECT_EQ(KWFilePathUtils::FileSize(temp), 3000);
    // The part on disk brings the probe back, and only the rest is fetched.
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("jigsaw.png"), save, "s"), 0);
    EXPECT_EQ(ReadFile(save), source);
    EXPECT_EQ(Seen("jigsaw.png"), (std::vector<std::string>{"GET", "HEAD",
                                                            "GET bytes=3000-" + std::to_string(source.size())}));
}

TEST_F(VLDownloadManagerTest, TemporaryFileFromAnEarlierRun) {
    const std::string source = Source("jigsaw.png");
    // Complete: moved into place without a transfer, replacing an old file.
    {
        const std::string save = m_work + "complete.png";
        KWFile::WriteAtomic(save, "old content");
        KWFile::WriteAtomic(VLDownloadManager::TempFilePath(save, "x"), source);
        EXPECT_EQ(m_manager.DownloadFile(FileUrl("jigsaw.png"), save, "x"), 0);
        EXPECT_EQ(ReadFile(save), source);
        EXPECT_EQ(Seen("jigsaw.png"), std::vector<std::string>{"HEAD"});
    }
    s_sim->ClearRecords();
    // Partial: only the rest is requested and the result equals the source.
    {
        const std::string save = m_work + "partial.png";
        KWFile::WriteAtomic(VLDownloadManager::TempFilePath(save, "x"), source.substr(0, 1000));
        EXPECT_EQ(m_manager.DownloadFile(FileUrl("jigsaw.png"), save, "x"), 0);
        EXPECT_EQ(ReadFile(save), source);
        EXPECT_EQ(Seen("jigsaw.png"),
                  (std::vector<std::string>{"HEAD", "GET bytes=1000-" + std::to_string(source.size())}));
    }
    s_sim->ClearRecords();
    // Larger than the file on the server: stale, discarded, fetched whole.
    {
        const std::string save = m_work + "stale.png";
        KWFile::WriteAtomic(VLDownloadManager::TempFilePath(save, "x"), source + "trailing garbage");
        EXPECT_EQ(m_manager.DownloadFile(FileUrl("jigsaw.png"), save, "x"), 0);
        EXPECT_EQ(ReadFile(save), source);
        EXPECT_EQ(Seen("jigsaw.png"), (std::vector<std::string>{"HEAD", "GET"}));
    }
}

TEST_F(VLDownloadManagerTest, ServerIgnoringRangeFailsTheAttemptAndTheNextStartsFromZero) {
    const std::string source = Source("big.bin");
    const std::string save = m_work + "big.bin";
    const std::string temp = VLDownloadManager::TempFilePath(save, "r");
    KWFile::WriteAtomic(temp, source.substr(0, 5000));
    VLSimFault fault;
    fault.m_ignoreRange = true;
    fault.m_times = 1;
    s_sim->SetFault("/files/big.bin", fault);
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("big.bin"), save, "r"), 63);
    EXPECT_FALSE(KWFilePathUtils::IsExists(temp));
    EXPECT_FALSE(KWFilePathUtils::IsExists(save));
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("big.bin"), save, "r"), 0);
    EXPECT_EQ(ReadFile(save), source);
}

TEST_F(VLDownloadManagerTest, BrokenTransferKeepsThePartAndTheNextAttemptResumes) {
    const std::string source = Source("big.bin");
    const std::string save = m_work + "big.bin";
    const std::string temp = VLDownloadManager::TempFilePath(save, "b");
    VLSimFault fault;
    fault.m_truncate = 100000;
    fault.m_times = 1;
    s_sim->SetFault("/files/big.bin", fault);
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("big.bin"), save, "b"), 18);  // partial file
    EXPECT_EQ(KWFilePathUtils::FileSize(temp), 100000);
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("big.bin"), save, "b"), 0);
    EXPECT_EQ(ReadFile(save), source);
    EXPECT_EQ(Seen("big.bin").back(), "GET bytes=100000-" + std::to_string(source.size()));
}

TEST_F(VLDownloadManagerTest, NotFoundGives22AndRemovesTheTemporaryFile) {
    const std::string save = m_work + "gone.png";
    const std::string temp = VLDownloadManager::TempFilePath(save, "n");
    KWFile::WriteAtomic(temp, "partial");
    VLSimFault fault;
    fault.m_status = 404;
    s_sim->SetFault("/files/jigsaw.png", fault);
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("jigsaw.png"), save, "n"), 22);
    EXPECT_FALSE(KWFilePathUtils::IsExists(temp));
    EXPECT_FALSE(KWFilePathUtils::IsExists(save));
    // A missing file on the server behaves the same.
    EXPECT_EQ(m_manager.DownloadFile(FileUrl("no-such-file.png"), save, "n"), 22);
}

TEST_F(VLDownloadManagerTest, WorkerRetriesAtTheBackAndReportsOnceAfterThreeFailures) {
    KWMessageQueue& queue = m_queue;
    VLSimFault fault;
    fault.m_status = 404;
    s_sim->SetFault("/files/opt_a.png", fault);
    VLDownloadTask bad;
    bad.m_url = FileUrl("opt_a.png");
    bad.m_savePath = m_work + "a.png";
    bad.m_tag = "a";
    bad.m_value = 41;
    bad.m_receiver = &queue;
    VLDownloadTask good = bad;
    good.m_url = FileUrl("opt_b.png");
    good.m_savePath = m_work + "b.png";
    good.m_value = 42;
    good.m_reportProgress = true;
    m_manager.AddTasks({bad, good});
    m_manager.Start();

    // The good file is fetched between the first and second attempt of the bad one.
    auto done = WaitFor(queue, WM_DOWNLOAD_DONE);
    ASSERT_TRUE(done);
    std::unique_ptr<VLDownloadTask> doneTask(reinterpret_cast<VLDownloadTask*>(done->wParam));
    EXPECT_EQ(doneTask->m_value, 42);
    EXPECT_EQ(ReadFile(good.m_savePath), Source("opt_b.png"));
    auto failed = WaitFor(queue, WM_DOWNLOAD_FAILED);
    ASSERT_TRUE(failed);
    std::unique_ptr<VLDownloadTask> failedTask(reinterpret_cast<VLDownloadTask*>(failed->wParam));
    EXPECT_EQ(failedTask->m_value, 41);
    EXPECT_EQ(failedTask->m_attempts, 3);
    m_manager.Release();
    // No part on disk, so no probe: each attempt is the transfer itself.
    EXPECT_EQ(Seen("opt_a.png"), (std::vector<std::string>{"GET", "GET", "GET"}));
    std::vector<std::string> order;
    for (const auto& r : s_sim->GetRecords())
        order.push_back(r["path"].asString());
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], "/files/opt_a.png");
    EXPECT_EQ(order[1], "/files/opt_b.png");
    // Nothing more: one failure message only.
    int others = 0;
    while (auto m = queue.Take(std::chrono::milliseconds(0))) {
        EXPECT_NE(m->message, WM_DOWNLOAD_FAILED);
        EXPECT_NE(m->message, WM_DOWNLOAD_DONE);
        DropPayload(*m);
        ++others;
    }
}

TEST_F(VLDownloadManagerTest, TaskWithoutUrlOrPathIsReportedNotLost) {
    KWMessageQueue& queue = m_queue;
    VLDownloadTask empty;
    empty.m_value = 43;
    empty.m_receiver = &queue;
    m_manager.AddTasks({empty});
    m_manager.Start();
    auto failed = WaitFor(queue, WM_DOWNLOAD_FAILED, std::chrono::seconds(10));
    ASSERT_TRUE(failed);
    std::unique_ptr<VLDownloadTask> task(reinterpret_cast<VLDownloadTask*>(failed->wParam));
    EXPECT_EQ(task->m_value, 43);
    EXPECT_EQ(task->m_attempts, 3);
    m_manager.Release();
    EXPECT_EQ(s_sim->GetRecords().size(), 0u);
}

TEST_F(VLDownloadManagerTest, ProgressIsReportedInRisingPercentagesOnlyWhenAsked) {
    KWMessageQueue& queue = m_queue;
    VLDownloadTask task;
    task.m_url = FileUrl("big.bin");
    task.m_savePath = m_work + "big.bin";
    task.m_tag = "p";
    task.m_reportProgress = true;
    task.m_receiver = &queue;
    VLDownloadTask quiet = task;
    quiet.m_savePath = m_work + "quiet.bin";
    quiet.m_reportProgress = false;
    m_manager.AddTasks({task, quiet});
    m_manager.Start();
    std::vector<int> percents;
    int done = 0;
    while (done < 2) {
        auto m = queue.Take(std::chrono::seconds(20));
        ASSERT_TRUE(m);
        if (m->message == WM_DOWNLOAD_PROGRESS) {
            EXPECT_EQ(done, 0) << "progress for a task that did not ask for it";
            percents.push_back(static_cast<int>(m->wParam));
        } else {
            ASSERT_EQ(m->message, WM_DOWNLOAD_DONE);
            ++done;
        }
        DropPayload(*m);
    }
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(std::adjacent_find(percents.begin(), percents.end()), percents.end()) << "repeated percentage";
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(ReadFile(quiet.m_savePath), Source("big.bin"));
}

TEST_F(VLDownloadManagerTest, ReleaseAbortsARunningDownloadWithoutRetryOrReport) {
    KWMessageQueue& queue = m_queue;
    VLSimFault fault;
    fault.m_delayMs = 30000;
    s_sim->SetFault("/files/opt_c.png", fault);
    VLDownloadTask task;
    task.m_url = FileUrl("opt_c.png");
    task.m_savePath = m_work + "c.png";
    task.m_tag = "c";
    task.m_receiver = &queue;
    m_manager.AddTasks({task});
    m_manager.Start();
    // Wait until the worker has taken the task, then stop it while it waits for the server.
    for (int i = 0; i < 2000 && !m_manager.HasNoQueuedTask(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto started = std::chrono::steady_clock::now();
    m_manager.Release();
    const auto took = std::chrono::steady_clock::now() - started;
    // The server would have kept the answer for 30 s.
    EXPECT_LT(took, kReleaseBound + kReleaseSlack)
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_FALSE(KWFilePathUtils::IsExists(task.m_savePath));
    // Nothing had arrived: no empty part is left to be "resumed" later.
    EXPECT_FALSE(KWFilePathUtils::IsExists(VLDownloadManager::TempFilePath(task.m_savePath, "c")));
}

TEST_F(VLDownloadManagerTest, QueuedQuestionFilesCanBeRemovedWhileHeadImagesStay) {
    VLDownloadTask question;
    question.m_url = FileUrl("opt_a.png");
    question.m_savePath = m_work + "q.png";
    VLDownloadTask head = question;
    head.m_kind = VLDownloadTask::kHeadImage;
    EXPECT_TRUE(m_manager.HasNoQueuedTask());
    m_manager.AddTasks({question, head, question});
    EXPECT_FALSE(m_manager.HasNoQueuedTask());
    m_manager.RemoveQueuedTasks();
    EXPECT_TRUE(m_manager.HasNoQueuedTask());
    // The head image is still fetched once the worker runs.
    m_manager.Start();
    for (int i = 0; i < 5000 && !KWFilePathUtils::IsExists(head.m_savePath); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    m_manager.Release();
    EXPECT_EQ(ReadFile(head.m_savePath), Source("opt_a.png"));
}

}  // namespace
}  // namespace KwLib
