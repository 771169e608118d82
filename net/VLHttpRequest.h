#pragma once
#include <cstdint>
#include <string>

#include "platform/common/KWMessage.h"

namespace KwLib {

// Request kinds of the platform API; each selects its parser and result message.
enum VLRequestId : int32_t {
    kReqServerCfg = 1,
    kReqInformationCheck = 8,
    kReqStudentLogin = 9,
    kReqExamQuestion = 10,
    kReqExamQuestionSignal = 11,
    kReqExamState = 13,
    kReqExamResult = 14,
    kReqExamResultSignal = 15,
    kReqExamScore = 16,
    kReqUpdateCheck = 18,
    kReqLogUpload = 20,
    kReqAgentRelay = 24,
};

// One queued request, copied by value into and out of the queue.
struct VLHttpRequest {
    static constexpr int32_t kGet = 0;
    static constexpr int32_t kPost = 1;

    int32_t m_method = kGet;
    int32_t m_id = 0;
    std::string m_url;       // complete, with its query, already rewritten for agent mode
    std::string m_response;  // filled by the worker
    IKWMessageReceiver* m_receiver = nullptr;
    std::string m_extra;  // the selected instrument code of a paper request
};

}  // namespace KwLib
