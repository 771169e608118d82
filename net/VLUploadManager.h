#pragma once
#include <atomic>
#include <list>
#include <memory>
#include <string>

#include "net/VLUploadTask.h"
#include "platform/common/KWThread.h"

namespace KwLib {

// Sends files to the upload server one at a time on its own worker thread and
// posts each answer to the task's receiver (WM_UPLOAD_*). A failed transfer, an
// answer that is not a JSON object, or (for every kind but kDataUrlAnswer) an
// answer without the stored file's address is retried at the back of the queue,
// then reported once with WM_UPLOAD_FAILED. AddTask may be called from any thread.
class VLUploadManager {
public:
    VLUploadManager();
    ~VLUploadManager();
    VLUploadManager(const VLUploadManager&) = delete;
    VLUploadManager& operator=(const VLUploadManager&) = delete;

    static VLUploadManager* GetInstance();

    void Start();
    bool IsStarted();
    void AddTask(const VLUploadTask& task);
    // Tasks queued and not yet taken by the worker.
    size_t QueuedCount();
    // Aborts a running upload and joins the worker.
    void Release();

    // One multipart upload on the calling thread: 0 or a libcurl code (2 for an
    // empty URL or path); the answer body goes to `response`.
    int UploadFile(const std::string& url, const std::string& filePath, std::string& response);

    // Fills the task's result from an answer body; false when it is not a JSON
    // object, or when an answer of another kind than kDataUrlAnswer has no img_path text.
    static bool ParseUploadResponse(const std::string& response, VLUploadTask& task);

private:
    static int OnProgress(void* user, int64_t dlTotal, int64_t dlNow, int64_t ulTotal, int64_t ulNow);
    void UploadFunc();
    void UploadFileByCurl();
    bool Aborting() const { return m_abort || m_stop; }

    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_stop{false};
    int m_lastPercent = -1;
    VLUploadTask m_current;  // worker thread only
    std::list<VLUploadTask> m_queue;
    std::unique_ptr<KWThread> m_thread;
    KWMutex m_mutex;  // guards m_queue and m_thread
};

}  // namespace KwLib
