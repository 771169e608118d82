#include "net/VLHttpRequestManager.h"

#include <cstdarg>

#include "exam/VLExamManager.h"
#include "exam/VLQuestionParser.h"
#include "net/VLAgentSettings.h"
#include "net/VLDownloadManager.h"
#include "net/VLHttpClient.h"
#include "net/VLNetMessages.h"
#include "net/VLServerApi.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWMD5Utils.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"

namespace KwLib {

namespace {

template <typename T>
void PostRecord(IKWMessageReceiver* receiver, uint32_t message, T* record) {
    if (!receiver || !receiver->PostMessageW(message, reinterpret_cast<uintptr_t>(record), 0))
        delete record;
}

}  // namespace

// Stands in for the receiver of the request in flight, posting only while it is not forgotten.
class VLHttpRequestManager::InFlightReceiver : public IKWMessageReceiver {
public:
    explicit InFlightReceiver(VLHttpRequestManager& manager) : m_manager(manager) {}
    bool PostMessageW(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard<std::mutex> lock(m_manager.m_receiverMutex);
        return m_manager.m_inFlightReceiver && m_manager.m_inFlightReceiver->PostMessageW(message, wParam, lParam);
    }

private:
    VLHttpRequestManager& m_manager;
};

VLHttpRequestManager::VLHttpRequestManager() {
    VLHttpClient::GlobalInit();
}

VLHttpRequestManager::~VLHttpRequestManager() {
    Release();
}

VLHttpRequestManager* VLHttpRequestManager::GetInstance() {
    static VLHttpRequestManager instance;
    return &instance;
}

void VLHttpRequestManager::Start() {
    KWMutexGuard lock(m_mutex);
    if (m_thread)
        return;
    m_stop = false;
    m_thread = std::make_unique<KWThread>([this] { HttpRequestFunc(); });
    m_thread->Start();
}

void VLHttpRequestManager::Release() {
    std::unique_ptr<KWThread> thread;
    {
        KWMutexGuard lock(m_mutex);
        thread = std::move(m_thread);
        m_stop = true;
    }
    m_wake.notify_all();
    if (!thread)
        return;
    thread->Join();
    thread.reset();
    {
        KWMutexGuard lock(m_mutex);
        m_queue.clear();
    }
    VL_LOG_DEBUG("VLHttpRequestManager::Release()");
}

void VLHttpRequestManager::AddRequest(const VLHttpRequest& request) {
    {
        KWMutexGuard lock(m_mutex);
        m_queue.push_back(request);
    }
    m_wake.notify_all();
}

void VLHttpRequestManager::ForgetReceiver(IKWMessageReceiver* receiver) {
    if (!receiver)
        return;
    {
        KWMutexGuard lock(m_mutex);
        m_queue.remove_if([receiver](const VLHttpRequest& r) { return r.m_receiver == receiver; });
    }
    std::lock_guard<std::mutex> lock(m_receiverMutex);
    if (m_inFlightReceiver == receiver)
        m_inFlightReceiver = nullptr;
}

size_t VLHttpRequestManager::QueuedCount() {
    KWMutexGuard lock(m_mutex);
    return m_queue.size();
}

std::string VLHttpRequestManager::FormatTemplate(const char* tmpl, ...) {
    // The stored templates write 64-bit numbers the Windows way.
    std::string format = tmpl ? tmpl : "";
    KWStringUtils::Replace(format, "%I64d", "%lld");
    va_list args;
    va_start(args, tmpl);
    std::string out = KWStringUtils::FormatV(format.c_str(), args);
    va_end(args);
    return out;
}

void VLHttpRequestManager::Queue(int32_t method, int32_t id, const std::string& url, bool useRemotePort,
                                 IKWMessageReceiver* receiver, const std::string& extra) {
    // Fail closed: without its server table row, or without the agent settings
    // that decide where it may go, a request goes nowhere rather than to a
    // default production address.
    if (url.empty() || !m_agent) {
        VL_LOG_ERROR("request %d refused: %s", id,
                     url.empty() ? "no server address for it in sys.db" : "the agent settings were never set");
        if (receiver)
            receiver->PostMessageW(WM_HTTP_FAILED, static_cast<uintptr_t>(id), kRefusedCode);
        return;
    }
    VLHttpRequest request;
    request.m_method = method;
    request.m_id = id;
    request.m_url = m_agent->RewriteRequestUrl(url, useRemotePort);
    request.m_receiver = receiver;
    request.m_extra = extra;
    AddRequest(request);
}

void VLHttpRequestManager::SendServerCfgReq(const std::string& schoolId, IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendServerCfgReq()");
    Queue(VLHttpRequest::kGet, kReqServerCfg, FormatTemplate(m_urls.ServerCfgUrl.c_str(), schoolId.c_str()),
          false, receiver);
}

void VLHttpRequestManager::SendInfomationCheckReq(const std::string& schoolId,
                                                  const std::string& studentNumber,
                                                  IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendInfomationCheckReq()");
    Queue(VLHttpRequest::kGet, kReqInformationCheck,
          FormatTemplate(m_urls.StudentHeardUrl.c_str(), schoolId.c_str(), studentNumber.c_str()), false,
          receiver);
}

void VLHttpRequestManager::SendStudentLoginReq(const std::string& account, const std::string& password,
                                               const std::string& schoolId, const std::string& classroomId,
                                               const std::string& userAgent, IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendStudentLoginReq()");
    Queue(VLHttpRequest::kPost, kReqStudentLogin,
          FormatTemplate(m_urls.StudentLoginUrl.c_str(), account.c_str(), password.c_str(), schoolId.c_str(),
                         classroomId.c_str(), userAgent.c_str()),
          false, receiver);
}

void VLHttpRequestManager::SendExamQuestionReq(const std::string& schoolId, const std::string& classroomId,
                                               int64_t recordId, const std::string& instrument,
                                               IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendExamQuestionReq()");
    Queue(VLHttpRequest::kGet, kReqExamQuestion,
          FormatTemplate(m_urls.ExamQuestionListUrl.c_str(), schoolId.c_str(), classroomId.c_str(),
                         static_cast<long long>(recordId)),
          true, receiver, instrument);
}

void VLHttpRequestManager::SendExamQuestionReq(const std::string& questionId, IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendExamQuestionReq()");
    Queue(VLHttpRequest::kGet, kReqExamQuestionSignal,
          FormatTemplate(m_urls.ExamQuestionUrl.c_str(), questionId.c_str()), false, receiver);
}

void VLHttpRequestManager::SendExamStateReq(const std::string& schoolId, const std::string& classroomId,
                                            int64_t recordId, int64_t studentId,
                                            const std::string& questionId, int32_t state,
                                            uint32_t numberFirst, uint32_t numberSecond,
                                            IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendExamStateReq()");
    Queue(VLHttpRequest::kGet, kReqExamState,
          FormatTemplate(m_urls.ExamStatusUrl.c_str(), schoolId.c_str(), classroomId.c_str(),
                         static_cast<long long>(recordId), static_cast<long long>(studentId),
                         questionId.c_str(), state, numberFirst, numberSecond),
          false, receiver);
}

void VLHttpRequestManager::SendExamResultReq(const std::string& schoolId, const std::string& classroomId,
                                             int64_t paperId, int64_t studentId,
                                             const std::string& studentNumber, const std::string& studentName,
                                             const std::string& result, IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendExamResultReq()");
    Queue(VLHttpRequest::kPost, kReqExamResult,
          FormatTemplate(m_urls.ExamResultListUrl.c_str(), schoolId.c_str(), classroomId.c_str(),
                         static_cast<long long>(paperId), static_cast<long long>(studentId),
                         studentNumber.c_str(), studentName.c_str(), result.c_str()),
          true, receiver);
}

void VLHttpRequestManager::SendExamResultReq(const std::string& result, IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendExamResultReq()");
    Queue(VLHttpRequest::kPost, kReqExamResultSignal,
          FormatTemplate(m_urls.ExamResultUrl.c_str(), result.c_str()), false, receiver);
}

void VLHttpRequestManager::SendExamScoreReq(const std::string& schoolId, const std::string& classroomId,
                                            int64_t paperId, int64_t studentId,
                                            IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendExamScoreReq()");
    Queue(VLHttpRequest::kPost, kReqExamScore,
          FormatTemplate(m_urls.ExamScoreUrl.c_str(), schoolId.c_str(), classroomId.c_str(),
                         static_cast<long long>(paperId), static_cast<long long>(studentId)),
          false, receiver);
}

void VLHttpRequestManager::SendUpdateCheckReq(int32_t type, const std::string& schoolId,
                                              IKWMessageReceiver* receiver) {
    VL_LOG_DEBUG("VLHttpRequestManager::SendUpdateCheckReq()");
    Queue(VLHttpRequest::kGet, kReqUpdateCheck,
          FormatTemplate(m_urls.ClientVersionUrl.c_str(), type, schoolId.c_str()), false, receiver);
}

void VLHttpRequestManager::SendLogUploadReq(const std::string& logUrl, IKWMessageReceiver* receiver) {
    std::string systemName;
    int major = 0, minor = 0;
    KWSystemInfo::GetWindowsVersion(systemName, major, minor);
    // The template is the address; the fields only follow it.
    std::string url = m_urls.BugReportUrl.empty() ? std::string() : KWStringUtils::Format(
        "%sversion=%s&description=%s&windows=%s&dump_url=%s&log_url=%s&mac=%s&type=%s",
        m_urls.BugReportUrl.c_str(), m_clientVersion.c_str(), "学生端日志", systemName.c_str(), "",
        logUrl.c_str(), KWNetworkAdapter::SelectMacAddress().c_str(), "student");
    Queue(VLHttpRequest::kPost, kReqLogUpload, url, false, receiver);
}

std::string VLHttpRequestManager::SignUrl(const std::string& url) {
    size_t q = url.find('?');
    if (q == std::string::npos || q + 1 >= url.size())
        return url;
    std::string digest = KWMD5Utils::CalcuteMD5String(url.substr(q + 1) + kSignatureSalt);
    return url + "&signature=" + KWStringUtils::MakeLower(digest);
}

void VLHttpRequestManager::SplitPostUrl(const std::string& url, std::string& postUrl, std::string& fields) {
    size_t q = url.find('?');
    if (q == std::string::npos) {
        postUrl = url;
        fields.clear();
        return;
    }
    postUrl = url.substr(0, q + 1);
    fields = url.substr(q + 1);
}

void VLHttpRequestManager::HttpRequestFunc() {
    while (!m_stop) {
        VLHttpRequest request;
        {
            std::unique_lock<KWMutex> lock(m_mutex);
            if (m_queue.empty()) {
                m_wake.wait_for(lock, std::chrono::milliseconds(10));
                continue;
            }
            request = m_queue.front();
            m_queue.pop_front();
            // Under the queue's lock too: a ForgetReceiver running now either
            // dropped this request or will find it in flight.
            std::lock_guard<std::mutex> receiverLock(m_receiverMutex);
            m_inFlightReceiver = request.m_receiver;
        }
        InFlightReceiver proxy(*this);
        Process(request, request.m_receiver ? &proxy : nullptr);
        std::lock_guard<std::mutex> receiverLock(m_receiverMutex);
        m_inFlightReceiver = nullptr;
    }
}

void VLHttpRequestManager::Process(VLHttpRequest& request, IKWMessageReceiver* answerTo) {
    const std::string url = request.m_url + "&client_version=" + m_clientVersion;
    int code = 0;
    if (request.m_method == VLHttpRequest::kGet) {
        const std::string signedUrl = SignUrl(url);
        code = VLHttpClient::HttpGet(signedUrl, request.m_response);
        if (code != 0) {
            VL_LOG_DEBUG("Http get task failed, type:%d, id:%d, url:%s, error code:%d, response:%s",
                         request.m_method, request.m_id, signedUrl.c_str(), code, request.m_response.c_str());
        } else {
            VL_LOG_DEBUG("Http get task successfully, type:%d, id:%d, url:%s, response:%s", request.m_method,
                         request.m_id, signedUrl.c_str(), request.m_response.c_str());
        }
    } else {
        std::string postUrl, fields;
        SplitPostUrl(url, postUrl, fields);
        code = VLHttpClient::HttpPost(postUrl, fields, request.m_response, 5, 10);
        if (code != 0) {
            VL_LOG_DEBUG(
                "Http post task failed, type:%d, id:%d, url:%s, fields:%s, error code:%d, response:%s",
                request.m_method, request.m_id, postUrl.c_str(), fields.c_str(), code,
                request.m_response.c_str());
        } else {
            VL_LOG_DEBUG("Http post task successfully, type:%d, id:%d, url:%s, fields:%s, response:%s",
                         request.m_method, request.m_id, postUrl.c_str(), fields.c_str(),
                         request.m_response.c_str());
        }
    }
    if (code != 0) {
        if (answerTo)
            answerTo->PostMessageW(WM_HTTP_FAILED, static_cast<uintptr_t>(request.m_id), code);
        return;
    }
    Dispatch(request, answerTo);
}

void VLHttpRequestManager::Dispatch(VLHttpRequest& request, IKWMessageReceiver* answerTo) {
    // Answers go through `answerTo`, which stops posting once the receiver is
    // forgotten; files the answer asks for are the receiver's own tasks.
    IKWMessageReceiver* receiver = answerTo;
    IKWMessageReceiver* owner = request.m_receiver;
    const std::string& text = request.m_response;
    switch (request.m_id) {
        case kReqServerCfg: {
            auto* r = new VLServerCfgResult;
            VLServerApi::ParseServerCfgRsp(text, *r);
            PostRecord(receiver, WM_SERVER_CFG_RSP, r);
            break;
        }
        case kReqInformationCheck: {
            auto* r = new VLStudentInfoResult;
            std::vector<VLDownloadTask> downloads;
            VLAgentSettings* agent = m_agent;
            VLServerApi::ParseInformationCheckRsp(
                text, *r, m_downloadDir,
                [agent](const std::string& u) { return agent ? agent->RewriteDownloadUrl(u) : u; }, owner,
                downloads);
            if (!downloads.empty() && m_downloads)
                m_downloads->AddTasks(downloads);
            PostRecord(receiver, WM_INFORMATION_CHECK_RSP, r);
            break;
        }
        case kReqStudentLogin: {
            auto* r = new VLStudentLoginResult;
            VLServerApi::ParseStudentLoginRsp(text, *r);
            PostRecord(receiver, WM_STUDENT_LOGIN_RSP, r);
            break;
        }
        case kReqExamQuestion:
        case kReqExamQuestionSignal: {
            const bool paper = request.m_id == kReqExamQuestion;
            VL_LOG_DEBUG(paper ? "VLHttpRequestManager::ParseExamQuestionRsp()"
                               : "VLHttpRequestManager::ParseExamQuestionSignalRsp()");
            VLExamManager& exam = m_exam ? *m_exam : VLExamManager::GetInstance();
            VLAgentSettings* agent = m_agent;
            VLQuestionParser parser(exam, m_downloadDir, [agent](const std::string& u) {
                return agent ? agent->RewriteDownloadUrl(u) : u;
            });
            // The paper parser regroups the records itself before it returns.
            VLQuestionParseResult parsed =
                paper ? parser.ParsePaperResponse(text, KWStringUtils::ConvertStringToInt32(request.m_extra),
                                                  owner)
                      : parser.ParseSingleQuestionResponse(text, owner);
            auto* list = new VLQuestionList;
            list->m_questionCount = parsed.questionCount;
            list->m_downloads = std::move(parsed.downloads);
            const uint32_t message = paper ? WM_EXAM_QUESTION_RSP : WM_EXAM_QUESTION_SIGNAL_RSP;
            if (!receiver ||
                !receiver->PostMessageW(message, static_cast<uintptr_t>(static_cast<intptr_t>(parsed.code)),
                                        reinterpret_cast<intptr_t>(list)))
                delete list;
            break;
        }
        case kReqExamState: {
            auto* r = new VLExamStateResult;
            VLServerApi::ParseExamStateRsp(text, *r);
            PostRecord(receiver, WM_EXAM_STATE_RSP, r);
            break;
        }
        case kReqExamResult: {
            auto* r = new VLExamResultResult;
            VLServerApi::ParseExamResultRsp(text, *r);
            PostRecord(receiver, WM_EXAM_RESULT_RSP, r);
            break;
        }
        case kReqExamResultSignal: {
            auto* r = new VLExamResultResult;
            VLServerApi::ParseExamResultSignalRsp(text, *r);
            PostRecord(receiver, WM_EXAM_RESULT_SIGNAL_RSP, r);
            break;
        }
        case kReqExamScore: {
            auto* r = new VLExamScoreResult;
            VLServerApi::ParsesExamScoreRsp(text, *r);
            PostRecord(receiver, WM_EXAM_SCORE_RSP, r);
            break;
        }
        case kReqUpdateCheck: {
            auto* r = new VLUpdateCheckResult;
            VLServerApi::ParseUpdateCheckRsp(text, m_clientVersion, *r);
            PostRecord(receiver, WM_UPDATE_CHECK_RSP, r);
            break;
        }
        case kReqLogUpload: {
            auto* r = new VLLogUploadResult;
            VLServerApi::ParseLogUploadRsp(text, *r);
            PostRecord(receiver, WM_LOG_UPLOAD_RSP, r);
            break;
        }
        case kReqAgentRelay:
            if (receiver)
                receiver->PostMessageW(WM_AGENT_RELAY_RSP, 0, 0);
            break;
        default:
            break;
    }
}

}  // namespace KwLib
