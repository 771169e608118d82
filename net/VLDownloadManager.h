#pragma once
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "exam/VLDownloadTask.h"
#include "platform/common/KWThread.h"

namespace KwLib {

// Fetches question files and head images into the download folder, one at a
// time on its own worker thread, resuming partial files ("<name>_<tag>.dl").
// AddTasks, RemoveQueuedTasks and HasNoQueuedTask may be called from any
// thread; results are posted to each task's receiver (WM_DOWNLOAD_*).
// A file without a part on disk costs one GET; only a part left by an earlier
// attempt is measured against the server's size first (a body-less request).
class VLDownloadManager {
public:
    VLDownloadManager();
    ~VLDownloadManager();
    VLDownloadManager(const VLDownloadManager&) = delete;
    VLDownloadManager& operator=(const VLDownloadManager&) = delete;

    static VLDownloadManager* GetInstance();

    // Starts the worker unless it runs already.
    void Start();
    void AddTasks(const std::vector<VLDownloadTask>& tasks);
    // Drops every queued question file (kind 1); the one in transfer goes on.
    void RemoveQueuedTasks();
    bool HasNoQueuedTask();
    // Aborts a running transfer, waits up to a second for the worker and stops it.
    void Release();

    // One download, on the calling thread (one caller at a time; not while the
    // worker runs): 0 or a libcurl code (2 for an empty
    // URL or path, 22 for an HTTP error status, 63 for a short or long body).
    int DownloadFile(const std::string& url, const std::string& savePath, const std::string& tag);
    static std::string TempFilePath(const std::string& savePath, const std::string& tag);

private:
    static size_t OnWrite(char* data, size_t size, size_t count, void* user);
    static int OnAbortCheck(void* user, int64_t dlTotal, int64_t dlNow, int64_t ulTotal, int64_t ulNow);
    static int OnProgress(void* user, int64_t dlTotal, int64_t dlNow, int64_t ulTotal, int64_t ulNow);
    void DownloadFunc();
    void* Handle();
    void CloseHandle();
    // Content length from a body-less request; -1 when the server does not say.
    int GetRemoteFileSize(const std::string& url, int64_t& size);
    int OpenTemp(const std::string& temp, const std::string& savePath);
    static int MoveIntoPlace(const std::string& temp, const std::string& savePath);
    bool Aborting() const { return m_abort || m_stop; }
    static void Post(const VLDownloadTask& task, uint32_t message);

    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_stop{false};
    int64_t m_bytesWritten = 0;
    int m_tempFd = -1;
    void* m_curl = nullptr;  // the worker's easy handle, kept for its connections
    int m_lastPercent = -1;
    VLDownloadTask m_current;  // worker thread only, read by the progress callback
    std::list<VLDownloadTask> m_queue;
    std::unique_ptr<KWThread> m_thread;
    KWMutex m_mutex;  // guards m_queue
};

}  // namespace KwLib
