#include "net/VLUploadManager.h"

#include <gtest/gtest.h>

#include <thread>

#include "net/VLNetMessages.h"
#include "platform/common/KWMD5Utils.h"
#include "tests/net/VLNetTestSupport.h"
#include "tools/platform-sim/VLSimAssets.h"

namespace KwLib {
namespace {

class VLUploadManagerTest : public VLSimTest {
protected:
    VLUploadTask MakeTask(const std::string& path, int kind = 0) {
        VLUploadTask task;
        task.m_kind = kind;
        task.m_userValue = 77;
        task.m_userText = "question 5";
        task.m_url =
            "http://127.0.0.1:" + std::to_string(s_sim->UploadPort()) + "/api2?c=file&m=upFile&dataType=json";
        task.m_filePath = path;
        task.m_receiver = &m_queue;
        return task;
    }
    void TearDown() override {
        m_manager.Release();
        ExpectNoSenderLeft(m_queue);
    }
    KWMessageQueue m_queue;
    VLUploadManager m_manager;
};

TEST_F(VLUploadManagerTest, RecordingIsStoredAndItsAddressComesBack) {
    const std::string file = m_work + "answer_5.wav";
    ASSERT_TRUE(VLSimAssets::WritePatternFile(file, 600 * 1024, 3));
    m_manager.Start();
    m_manager.AddTask(MakeTask(file));
    int progress = 0;
    auto done = WaitFor(m_queue, WM_UPLOAD_DONE, std::chrono::seconds(20), &progress);
    ASSERT_TRUE(done);
    std::unique_ptr<VLUploadTask> task(reinterpret_cast<VLUploadTask*>(done->wParam));
    KWJsonValue uploads = RecordsOfKind("upload");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0]["file_name"].asString(), "answer_5.wav");
    EXPECT_EQ(uploads[0]["md5"].asString(), KWMD5Utils::CalcuteFileMD5String(file));
    EXPECT_EQ(task->m_result, s_sim->FileBase() + "/uploads/" + uploads[0]["stored"].asString());
    EXPECT_EQ(task->m_resultCode, -1);  // only the log archive's answer carries a code
    EXPECT_EQ(task->m_userValue, 77);
    EXPECT_EQ(task->m_userText, "question 5");
    EXPECT_GE(progress, 1);
    EXPECT_EQ(ReadFile(s_sim->UploadsDir() + uploads[0]["stored"].asString()), ReadFile(file));
}

TEST_F(VLUploadManagerTest, KindTwoReadsCodeAndDataUrl) {
    const std::string file = m_work + "log.zip";
    ASSERT_TRUE(KWFile::WriteAtomic(file, "PK log archive"));
    m_manager.Start();
    m_manager.AddTask(MakeTask(file, VLUploadTask::kDataUrlAnswer));
    auto done = WaitFor(m_queue, WM_UPLOAD_DONE);
    ASSERT_TRUE(done);
    std::unique_ptr<VLUploadTask> task(reinterpret_cast<VLUploadTask*>(done->wParam));
    EXPECT_EQ(task->m_resultCode, 0);
    EXPECT_EQ(task->m_result.rfind(s_sim->FileBase() + "/uploads/", 0), 0u) << task->m_result;
}

TEST_F(VLUploadManagerTest, AnswerFormats) {
    VLUploadTask log;
    log.m_kind = VLUploadTask::kDataUrlAnswer;
    EXPECT_TRUE(
        VLUploadManager::ParseUploadResponse(R"({"code":5,"msg":"too big","data":{"url":"u"}})", log));
    EXPECT_EQ(log.m_resultCode, 5);
    EXPECT_EQ(log.m_result, "too big");
    // Recordings and the client's log file are answered with the stored file's address.
    for (int32_t kind : {VLUploadTask::kRecording, VLUploadTask::kLogFile}) {
        VLUploadTask other;
        other.m_kind = kind;
        EXPECT_TRUE(VLUploadManager::ParseUploadResponse(R"({"code":0,"img_path":"http://x/y.wav"})", other));
        EXPECT_EQ(other.m_result, "http://x/y.wav");
    }
    VLUploadTask bad;
    EXPECT_FALSE(VLUploadManager::ParseUploadResponse("<html>502</html>", bad));
    EXPECT_FALSE(VLUploadManager::ParseUploadResponse("[1,2]", bad));
    // A recording the server refused or did not place: no address, so no success
    // that would leave the answer without its recording.
    EXPECT_FALSE(VLUploadManager::ParseUploadResponse(R"({"code":1,"msg":"磁盘已满"})", bad));
    EXPECT_FALSE(VLUploadManager::ParseUploadResponse(R"({"code":0,"img_path":""})", bad));
    EXPECT_FALSE(VLUploadManager::ParseUploadResponse(R"({"code":0,"img_path":12})", bad));
    EXPECT_EQ(bad.m_result, "");
    // Kind 2's refusal is an answer of its own, with its code and message.
    VLUploadTask refused;
    refused.m_kind = VLUploadTask::kDataUrlAnswer;
    EXPECT_TRUE(VLUploadManager::ParseUploadResponse(R"({"code":0})", refused));
    EXPECT_EQ(refused.m_resultCode, 0);
    EXPECT_EQ(refused.m_result, "");
}

TEST_F(VLUploadManagerTest, NonJsonAnswerIsNeverTakenForSuccess) {
    const std::string file = m_work + "a.wav";
    ASSERT_TRUE(KWFile::WriteAtomic(file, "RIFF...."));
    // One garbled answer: the attempt is repeated and then succeeds.
    VLSimFault once;
    once.m_nonJson = true;
    once.m_times = 1;
    s_sim->SetFault("/api2", once);
    VLUploadTask first = MakeTask(file);
    first.m_userValue = 1;
    m_manager.AddTask(first);
    m_manager.Start();
    auto done = WaitFor(m_queue, WM_UPLOAD_DONE);
    ASSERT_TRUE(done);
    std::unique_ptr<VLUploadTask> task(reinterpret_cast<VLUploadTask*>(done->wParam));
    EXPECT_EQ(task->m_attempts, 1);
    EXPECT_FALSE(task->m_result.empty());
    EXPECT_EQ(RecordsOfKind("upload").size(), 2u);

    // Garbled every time: no success is ever posted, one failure after three attempts.
    VLSimFault always;
    always.m_nonJson = true;
    s_sim->SetFault("/api2", always);
    s_sim->ClearRecords();
    VLUploadTask second = MakeTask(file);
    second.m_userValue = 2;
    m_manager.AddTask(second);
    int others = 0;
    auto failed = WaitFor(m_queue, WM_UPLOAD_FAILED, std::chrono::seconds(20), &others);
    ASSERT_TRUE(failed);
    std::unique_ptr<VLUploadTask> failedTask(reinterpret_cast<VLUploadTask*>(failed->wParam));
    EXPECT_EQ(failedTask->m_userValue, 2);
    EXPECT_EQ(failedTask->m_attempts, 3);
    EXPECT_TRUE(failedTask->m_result.empty());
    m_manager.Release();
    EXPECT_EQ(RecordsOfKind("upload").size(), 3u);
    while (auto m = m_queue.Take(std::chrono::milliseconds(0))) {
        EXPECT_EQ(m->message, WM_UPLOAD_PROGRESS);
        DropPayload(*m);
    }
}

TEST_F(VLUploadManagerTest, ReleaseAbortsARunningUploadWithoutRetryOrReport) {
    const std::string file = m_work + "slow.wav";
    ASSERT_TRUE(KWFile::WriteAtomic(file, "RIFF...."));
    VLSimFault slow;
    slow.m_delayMs = 60000;
    s_sim->SetFault("/api2", slow);
    m_manager.AddTask(MakeTask(file));
    m_manager.Start();
    // Wait until the worker has taken the task and the server holds its answer.
    for (int i = 0; i < 5000 && m_manager.QueuedCount() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Without the abort this would wait a minute for the server's answer.
    auto started = std::chrono::steady_clock::now();
    m_manager.Release();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, kReleaseBound + kReleaseSlack)
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_FALSE(m_manager.IsStarted());
    EXPECT_EQ(m_manager.QueuedCount(), 0u);  // not put back for another attempt
    while (auto m = m_queue.Take(std::chrono::milliseconds(0))) {
        EXPECT_EQ(m->message, WM_UPLOAD_PROGRESS);
        DropPayload(*m);
    }
}

TEST_F(VLUploadManagerTest, TransportFailuresAreRetriedThenReportedOnce) {
    const std::string file = m_work + "b.wav";
    ASSERT_TRUE(KWFile::WriteAtomic(file, "RIFF...."));
    VLSimFault fault;
    fault.m_drop = true;
    s_sim->SetFault("/api2", fault);
    m_manager.Start();
    m_manager.AddTask(MakeTask(file));
    auto failed = WaitFor(m_queue, WM_UPLOAD_FAILED);
    ASSERT_TRUE(failed);
    std::unique_ptr<VLUploadTask> task(reinterpret_cast<VLUploadTask*>(failed->wParam));
    EXPECT_EQ(task->m_attempts, 3);
    m_manager.Release();
    EXPECT_EQ(RecordsOfKind("dropped").size(), 3u);
    while (auto m = m_queue.Take(std::chrono::milliseconds(0))) {
        EXPECT_NE(m->message, WM_UPLOAD_FAILED);
        DropPayload(*m);
    }
    // A file that does not exist fails the same way, without reaching the server.
    s_sim->ClearRecords();
    std::string response;
    EXPECT_NE(m_manager.UploadFile(MakeTask("").m_url, m_work + "missing.wav", response), 0);
    EXPECT_EQ(m_manager.UploadFile("", file, response), 2);
    EXPECT_EQ(s_sim->GetRecords().size(), 0u);
}

}  // namespace
}  // namespace KwLib
