#include "net/VLDownloadManager.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "net/VLHttpClient.h"
#include "net/VLNetMessages.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"

namespace KwLib {

namespace {
constexpr size_t kMaxTempPath = 1023;
}

VLDownloadManager::VLDownloadManager() {
    VLHttpClient::GlobalInit();
}

VLDownloadManager::~VLDownloadManager() {
    Release();
    CloseHandle();
}

VLDownloadManager* VLDownloadManager::GetInstance() {
    static VLDownloadManager instance;
    return &instance;
}

void VLDownloadManager::Start() {
    KWMutexGuard lock(m_mutex);
    if (m_thread)
        return;
    m_stop = false;
    m_abort = false;
    m_thread = std::make_unique<KWThread>([this] { DownloadFunc(); });
    m_thread->Start();
}

void VLDownloadManager::AddTasks(const std::vector<VLDownloadTask>& tasks) {
    KWMutexGuard lock(m_mutex);
    m_queue.insert(m_queue.end(), tasks.begin(), tasks.end());
}

void VLDownloadManager::RemoveQueuedTasks() {
    KWMutexGuard lock(m_mutex);
    m_queue.remove_if([](const VLDownloadTask& t) { return t.m_kind == VLDownloadTask::kQuestionFile; });
}

bool VLDownloadManager::HasNoQueuedTask() {
    KWMutexGuard lock(m_mutex);
    for (const auto& t : m_queue)
        if (t.m_kind == VLDownloadTask::kQuestionFile)
            return false;
    return true;
}

void VLDownloadManager::Release() {
    std::unique_ptr<KWThread> thread;
    {
        KWMutexGuard lock(m_mutex);
        thread = std::move(m_thread);
    }
    if (!thread)
        return;
    m_stop = true;
    m_abort = true;
    // The abort flag ends a transfer within one progress report, so the wait is
    // short; the thread object joins for good when it is destroyed.
    thread->TimeJoin(1000);
    thread.reset();
    CloseHandle();
    VL_LOG_DEBUG("VLDownloadManager::Release()");
}

void VLDownloadManager::Post(const VLDownloadTask& task, uint32_t message) {
    if (!task.m_receiver)
        return;
    auto* copy = new VLDownloadTask(task);
    if (!task.m_receiver->PostMessageW(message, reinterpret_cast<uintptr_t>(copy), 0))
        delete copy;
}

void VLDownloadManager::DownloadFunc() {
    while (!m_stop) {
        bool have = false;
        {
            KWMutexGuard lock(m_mutex);
            if (!m_queue.empty()) {
                m_current = m_queue.front();
                m_queue.pop_front();
                have = true;
            }
        }
        // A task without URL or path still runs: it fails with 2 and is reported,
        // so that its creator does not wait for it for ever.
        if (!have) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            continue;
        }
        int code = DownloadFile(m_current.m_url, m_current.m_savePath, m_current.m_tag);
        if (code == 0) {
            Post(m_current, WM_DOWNLOAD_DONE);
            VL_LOG_DEBUG("Download successfully, url:%s, save path:%s", m_current.m_url.c_str(),
                         m_current.m_savePath.c_str());
            continue;
        }
        if (Aborting())
            continue;  // dropped silently: the manager is stopping
        ++m_current.m_attempts;
        if (m_current.m_attempts >= m_current.m_maxAttempts) {
            Post(m_current, WM_DOWNLOAD_FAILED);
            VL_LOG_DEBUG("Download failed, url:%s, save path:%s, error code:%d", m_current.m_url.c_str(),
                         m_current.m_savePath.c_str(), code);
        } else {
            KWMutexGuard lock(m_mutex);
            m_queue.push_back(m_current);
        }
    }
}

// One handle for every request of this manager: reset between requests, it keeps
// its connections, so a paper's many small files do not each pay for a new one.
CURL* VLDownloadManager::Handle() {
    if (!m_curl) {
        m_curl = curl_easy_init();
    } else {
        curl_easy_reset(m_curl);
    }
    return m_curl;
}

void VLDownloadManager::CloseHandle() {
    if (m_curl)
        curl_easy_cleanup(m_curl);
    m_curl = nullptr;
}

std::string VLDownloadManager::TempFilePath(const std::string& savePath, const std::string& tag) {
    std::string temp =
        KWFileName::GetDirectory(savePath) + KWFilePathUtils::BaseName(savePath) + "_" + tag + ".dl";
    return temp.size() > kMaxTempPath ? temp.substr(0, kMaxTempPath) : temp;
}

int VLDownloadManager::GetRemoteFileSize(const std::string& url, int64_t& size) {
    size = -1;
    CURL* curl = Handle();
    if (!curl)
        return CURLE_FAILED_INIT;
    if (!VLHttpClient::RestrictToHttp(curl))
        return CURLE_UNSUPPORTED_PROTOCOL;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    // Release must not wait for a slow server's answer to this either.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &VLDownloadManager::OnAbortCheck);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_off_t length = -1;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        // The length of an error page is not the file's: a missing file must not
        // let a stale temporary file of that length pass as complete.
        if (status < 200 || status > 299) {
            VL_LOG_DEBUG("Http response code:%ld", status);
            code = CURLE_HTTP_RETURNED_ERROR;
        } else {
            size = length;
        }
    } else {
        std::printf("%s\n", curl_easy_strerror(code));
    }
    return static_cast<int>(code);
}

size_t VLDownloadManager::OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<VLDownloadManager*>(user);
    if (self->Aborting() || self->m_tempFd < 0)
        return 0;
    size_t total = size * count, done = 0;
    while (done < total) {
        ssize_t n = ::write(self->m_tempFd, data + done, total - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return 0;  // a block that cannot be written stops the transfer
        }
        done += static_cast<size_t>(n);
    }
    self->m_bytesWritten += static_cast<int64_t>(total);
    return total;
}

int VLDownloadManager::OnAbortCheck(void* user, int64_t, int64_t, int64_t, int64_t) {
    return static_cast<VLDownloadManager*>(user)->Aborting() ? 1 : 0;
}

int VLDownloadManager::OnProgress(void* user, int64_t dlTotal, int64_t dlNow, int64_t, int64_t) {
    auto* self = static_cast<VLDownloadManager*>(user);
    if (self->Aborting())
        return 1;
    if (!self->m_current.m_reportProgress || !self->m_current.m_receiver || dlTotal <= 0)
        return 0;
    int percent = static_cast<int>(dlNow * 100 / dlTotal);
    // libcurl reports many times a second; the receiver only needs each new percentage.
    if (percent != self->m_lastPercent) {
        self->m_lastPercent = percent;
        self->m_current.m_receiver->PostMessageW(WM_DOWNLOAD_PROGRESS, static_cast<uintptr_t>(percent), 0);
    }
    return 0;
}

// The temporary file for a transfer, appended to; its folder is made only
// when it is missing, so the usual case costs one open and no mkdir calls.
int VLDownloadManager::OpenTemp(const std::string& temp, const std::string& savePath) {
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        KWFilePathUtils::CreateDirectories(KWFileName::GetDirectory(savePath));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    return fd;
}

// rename replaces a file at the save path in one step, so nobody sees the save
// path empty in between; only where it cannot (a folder in the way) is the old
// entry removed first.
int VLDownloadManager::MoveIntoPlace(const std::string& temp, const std::string& savePath) {
    if (::rename(temp.c_str(), savePath.c_str()) == 0)
        return CURLE_OK;
    KWFilePathUtils::RemoveFile(savePath);
    return KWFilePathUtils::Rename(temp, savePath) ? CURLE_OK : CURLE_WRITE_ERROR;
}

int VLDownloadManager::DownloadFile(const std::string& url, const std::string& savePath,
                                    const std::string& tag) {
    if (url.empty() || savePath.empty())
        return CURLE_FAILED_INIT;
    m_bytesWritten = 0;
    m_lastPercent = -1;
    if (!m_stop)
        m_abort = false;

    const std::string temp = TempFilePath(savePath, tag);
    const int64_t local = KWFilePathUtils::FileSize(temp);
    std::string range;
    // -1: the length the transfer's own answer announces is the one to meet.
    int64_t expected = -1;
    if (local >= 0) {
        // Only a part left by an earlier attempt needs the size before the
        // transfer: to resume it, take it as complete or discard it. Without
        // one, the answer to the transfer itself says all a probe would.
        int64_t remote = -1;
        int code = GetRemoteFileSize(url, remote);
        if (code != CURLE_OK) {
            if (code == CURLE_HTTP_RETURNED_ERROR)
                KWFilePathUtils::RemoveFile(temp);
            return code;
        }
        expected = remote;
        if (remote < 0 || local > remote) {
            // Without a length from the server a partial file cannot be trusted;
            // a larger one is stale.
            KWFilePathUtils::RemoveFile(temp);
        } else if (local == remote) {
            return MoveIntoPlace(temp, savePath);
        } else {
            range = std::to_string(local) + "-" + std::to_string(remote);
            expected = remote - local;
        }
    }

    m_tempFd = OpenTemp(temp, savePath);
    if (m_tempFd < 0)
        return CURLE_WRITE_ERROR;

    CURL* curl = Handle();
    if (!curl) {
        ::close(m_tempFd);
        m_tempFd = -1;
        return CURLE_FAILED_INIT;
    }
    if (!VLHttpClient::RestrictToHttp(curl)) {
        ::close(m_tempFd);
        m_tempFd = -1;
        return CURLE_UNSUPPORTED_PROTOCOL;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &VLDownloadManager::OnWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &VLDownloadManager::OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1024L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 10L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024L);
    if (!range.empty())
        curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());

    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t announced = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    const bool closed = ::close(m_tempFd) == 0;
    m_tempFd = -1;

    if (result != CURLE_OK) {
        // The partial file stays so that the next attempt resumes it; an empty
        // one this attempt made holds nothing to resume.
        if (local < 0 && m_bytesWritten == 0)
            KWFilePathUtils::RemoveFile(temp);
        return static_cast<int>(result);
    }
    if (status < 200 || status > 299) {
        VL_LOG_DEBUG("Http response code:%ld", status);
        KWFilePathUtils::RemoveFile(temp);
        return CURLE_HTTP_RETURNED_ERROR;
    }
    // Both lengths must hold where they are known: the one the probe gave and
    // the one this answer announced.
    const bool lengthOk = (expected < 0 || m_bytesWritten == expected) &&
                          (announced < 0 || m_bytesWritten == announced);
    if (!closed || !lengthOk) {
        KWFilePathUtils::RemoveFile(temp);
        return CURLE_FILESIZE_EXCEEDED;  // 63: the body was not the expected size
    }
    return MoveIntoPlace(temp, savePath);
}

}  // namespace KwLib
