#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "exam/VLDatabaseRecords.h"
#include "net/VLHttpRequest.h"
#include "platform/common/KWThread.h"

namespace KwLib {

class VLAgentSettings;
class VLDownloadManager;
class VLExamManager;

// Carries every platform API request off the UI thread. The request operations
// (UI thread) format a URL from the SysUrl templates, rewrite it for agent mode
// and queue it; one worker performs the requests strictly in arrival order,
// parses each answer and posts the result record to the request's receiver.
class VLHttpRequestManager {
public:
    static constexpr const char* kSignatureSalt = "qlvzmtrewyhodsnapkbu";
    // The code of WM_HTTP_FAILED for a request refused before it left (libcurl's
    // "URL using bad/illegal format"): no address, or no agent settings.
    static constexpr int kRefusedCode = 3;

    VLHttpRequestManager();
    ~VLHttpRequestManager();
    VLHttpRequestManager(const VLHttpRequestManager&) = delete;
    VLHttpRequestManager& operator=(const VLHttpRequestManager&) = delete;

    static VLHttpRequestManager* GetInstance();

    // Wiring done by the main window before it starts the worker. Until the
    // server table and the agent settings are set, every request is refused.
    void SetClientVersion(const std::string& version) { m_clientVersion = version; }
    void SetSysUrls(const VLSysUrlInfo& urls) { m_urls = urls; }
    void SetAgentSettings(VLAgentSettings* agent) { m_agent = agent; }
    // Where question files and head images are cached, and who fetches head images.
    void SetDownloadDir(const std::string& dir) { m_downloadDir = dir; }
    void SetDownloadManager(VLDownloadManager* downloads) { m_downloads = downloads; }
    void SetExamManager(VLExamManager* exam) { m_exam = exam; }

    void Start();
    // Stops the worker after the transfer under way; queued requests are dropped.
    void Release();
    void AddRequest(const VLHttpRequest& request);
    // Requests waiting for the worker (the one in transfer not counted).
    size_t QueuedCount();
    // A receiver that goes away (a window closed while its request runs): its
    // queued requests are dropped, and nothing is posted to it any more, also
    // not the answer of the one the worker is sending now. After the return it
    // may be destroyed.
    void ForgetReceiver(IKWMessageReceiver* receiver);

    void SendServerCfgReq(const std::string& schoolId, IKWMessageReceiver* receiver);
    void SendInfomationCheckReq(const std::string& schoolId, const std::string& studentNumber,
                                IKWMessageReceiver* receiver);
    void SendStudentLoginReq(const std::string& account, const std::string& password,
                             const std::string& schoolId, const std::string& classroomId,
                             const std::string& userAgent, IKWMessageReceiver* receiver);
    // The paper of an exam record; `instrument` is the selected instrument code.
    void SendExamQuestionReq(const std::string& schoolId, const std::string& classroomId, int64_t recordId,
                             const std::string& instrument, IKWMessageReceiver* receiver);
    // One question by id.
    void SendExamQuestionReq(const std::string& questionId, IKWMessageReceiver* receiver);
    void SendExamStateReq(const std::string& schoolId, const std::string& classroomId, int64_t recordId,
                          int64_t studentId, const std::string& questionId, int32_t state,
                          uint32_t numberFirst, uint32_t numberSecond, IKWMessageReceiver* receiver);
    // The whole paper's result.
    void SendExamResultReq(const std::string& schoolId, const std::string& classroomId, int64_t paperId,
                           int64_t studentId, const std::string& studentNumber,
                           const std::string& studentName, const std::string& result,
                           IKWMessageReceiver* receiver);
    // One question's result.
    void SendExamResultReq(const std::string& result, IKWMessageReceiver* receiver);
    void SendExamScoreReq(const std::string& schoolId, const std::string& classroomId, int64_t paperId,
                          int64_t studentId, IKWMessageReceiver* receiver);
    void SendUpdateCheckReq(int32_t type, const std::string& schoolId, IKWMessageReceiver* receiver);
    void SendLogUploadReq(const std::string& logUrl, IKWMessageReceiver* receiver);

    // "...?query" -> "...?query&signature=<md5(query + salt), lower case>"; a URL
    // without a query is returned unchanged.
    static std::string SignUrl(const std::string& url);
    // Splits at the first "?": the URL up to and including it, and the form fields.
    static void SplitPostUrl(const std::string& url, std::string& postUrl, std::string& fields);
    // printf-style templates with the Windows "%I64d" for 64-bit numbers.
    static std::string FormatTemplate(const char* tmpl, ...);

private:
    void HttpRequestFunc();
    void Process(VLHttpRequest& request, IKWMessageReceiver* answerTo);
    void Dispatch(VLHttpRequest& request, IKWMessageReceiver* answerTo);
    void Queue(int32_t method, int32_t id, const std::string& url, bool useRemotePort,
               IKWMessageReceiver* receiver, const std::string& extra = std::string());

    std::string m_clientVersion;
    VLSysUrlInfo m_urls;
    VLAgentSettings* m_agent = nullptr;
    VLDownloadManager* m_downloads = nullptr;
    VLExamManager* m_exam = nullptr;
    std::string m_downloadDir;

    std::unique_ptr<KWThread> m_thread;
    std::atomic<bool> m_stop{false};
    std::list<VLHttpRequest> m_queue;
    KWMutex m_mutex;  // guards m_queue and m_thread
    std::condition_variable_any m_wake;
    // The receiver of the request being sent: the worker posts to it only
    // under this lock, so ForgetReceiver can take it away at any moment.
    IKWMessageReceiver* m_inFlightReceiver = nullptr;
    std::mutex m_receiverMutex;
    class InFlightReceiver;
};

}  // namespace KwLib
