#include "net/VLUploadManager.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "net/VLHttpClient.h"
#include "net/VLNetMessages.h"
#include "platform/common/KWJson.h"
#include "platform/common/KWLog.h"

namespace KwLib {

namespace {

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

}  // namespace

VLUploadManager::VLUploadManager() {
    VLHttpClient::GlobalInit();
}

VLUploadManager::~VLUploadManager() {
    Release();
}

VLUploadManager* VLUploadManager::GetInstance() {
    static VLUploadManager instance;
    return &instance;
}

void VLUploadManager::Start() {
    KWMutexGuard lock(m_mutex);
    if (m_thread)
        return;
    m_stop = false;
    m_abort = false;
    m_thread = std::make_unique<KWThread>([this] { UploadFunc(); });
    m_thread->Start();
}

bool VLUploadManager::IsStarted() {
    KWMutexGuard lock(m_mutex);
    return m_thread != nullptr;
}

void VLUploadManager::AddTask(const VLUploadTask& task) {
    KWMutexGuard lock(m_mutex);
    m_queue.push_back(task);
}

size_t VLUploadManager::QueuedCount() {
    KWMutexGuard lock(m_mutex);
    return m_queue.size();
}

void VLUploadManager::Release() {
    std::unique_ptr<KWThread> thread;
    {
        KWMutexGuard lock(m_mutex);
        thread = std::move(m_thread);
    }
    if (!thread)
        return;
    m_stop = true;
    m_abort = true;
    thread->Join();
    thread.reset();
    VL_LOG_DEBUG("VLUploadManager::Release()");
}

void VLUploadManager::UploadFunc() {
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
        if (have)
            UploadFileByCurl();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

void VLUploadManager::UploadFileByCurl() {
    std::string response;
    int code = UploadFile(m_current.m_url, m_current.m_filePath, response);
    VLUploadTask done = m_current;
    if (code == CURLE_OK && ParseUploadResponse(response, done)) {
        if (done.m_receiver) {
            auto* copy = new VLUploadTask(done);
            if (!done.m_receiver->PostMessageW(WM_UPLOAD_DONE, reinterpret_cast<uintptr_t>(copy), 0))
                delete copy;
        }
        VL_LOG_DEBUG("%s upload successfully, url:%s, response:%s", m_current.m_filePath.c_str(),
                     m_current.m_url.c_str(), response.c_str());
        return;
    }
    if (Aborting())
        return;  // the manager is stopping; nobody waits for this answer
    if (code == CURLE_OK) {
        // An answer that is not a JSON object (a proxy's error page, a cut-off
        // body), or a refusal without the stored file's address, leaves the
        // recording off the server as far as anyone can tell, and the window
        // waiting for it must hear so.
        VL_LOG_DEBUG("%s upload answered without a stored address, url:%s, response:%s",
                     m_current.m_filePath.c_str(), m_current.m_url.c_str(), response.c_str());
    }
    ++m_current.m_attempts;
    if (m_current.m_attempts < m_current.m_maxAttempts) {
        KWMutexGuard lock(m_mutex);
        m_queue.push_back(m_current);
        return;
    }
    if (m_current.m_receiver) {
        auto* copy = new VLUploadTask(m_current);
        if (!m_current.m_receiver->PostMessageW(WM_UPLOAD_FAILED, reinterpret_cast<uintptr_t>(copy), 0))
            delete copy;
    }
    VL_LOG_DEBUG("%s upload failed, url:%s, error_code:%d, response:%s", m_current.m_filePath.c_str(),
                 m_current.m_url.c_str(), code, response.c_str());
}

bool VLUploadManager::ParseUploadResponse(const std::string& response, VLUploadTask& task) {
    KWJsonValue root;
    if (!KWJsonReader::Parse(response, root) || !root.isObject())
        return false;
    if (task.m_kind == VLUploadTask::kDataUrlAnswer) {
        if (root["code"].isInt())
            task.m_resultCode = root["code"].asInt();
        if (task.m_resultCode != 0) {
            if (root["msg"].isString())
                task.m_result = root["msg"].asString();
        } else {
            const KWJsonValue& data = root["data"];
            if (data.isObject() && data["url"].isString())
                task.m_result = data["url"].asString();
        }
        return true;
    }
    // The stored file's address is the only proof that the upload landed: an
    // answer without it (the server refused or lost the file) is not a success,
    // or the recording's answer would be left without its address.
    if (!root["img_path"].isString() || root["img_path"].asString().empty())
        return false;
    task.m_result = root["img_path"].asString();
    return true;
}

int VLUploadManager::OnProgress(void* user, int64_t, int64_t, int64_t ulTotal, int64_t ulNow) {
    auto* self = static_cast<VLUploadManager*>(user);
    if (self->Aborting())
        return 1;
    if (!self->m_current.m_receiver || ulTotal <= 0)
        return 0;
    int percent = static_cast<int>(ulNow * 100 / ulTotal);
    if (percent != self->m_lastPercent) {
        self->m_lastPercent = percent;
        auto* copy = new VLUploadTask(self->m_current);
        if (!self->m_current.m_receiver->PostMessageW(WM_UPLOAD_PROGRESS, reinterpret_cast<uintptr_t>(copy),
                                                      percent))
            delete copy;
    }
    return 0;
}

int VLUploadManager::UploadFile(const std::string& url, const std::string& filePath, std::string& response) {
    if (url.empty() || filePath.empty())
        return CURLE_FAILED_INIT;
    if (!m_stop)
        m_abort = false;
    m_lastPercent = -1;
    CURL* curl = curl_easy_init();
    if (!curl)
        return CURLE_FAILED_INIT;
    curl_mime* form = curl_mime_init(curl);
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, "userfile");
    CURLcode code = curl_mime_filedata(part, filePath.c_str());
    if (code == CURLE_OK && !VLHttpClient::RestrictToHttp(curl))
        code = CURLE_UNSUPPORTED_PROTOCOL;
    if (code == CURLE_OK) {
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &VLUploadManager::OnProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1024L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 10L);
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
        code = curl_easy_perform(curl);
    }
    if (code != CURLE_OK)
        std::printf("%s\n", curl_easy_strerror(code));
    curl_mime_free(form);
    curl_easy_cleanup(curl);
    return static_cast<int>(code);
}

}  // namespace KwLib
