#pragma once
#include <cstdint>
#include <string>

#include "platform/common/KWMessage.h"

namespace KwLib {

// One file to send to the upload server as the multipart part "userfile". The
// creator's own fields travel unchanged and come back with the result.
struct VLUploadTask {
    // The kinds the main window sends: a singing recording, the client's log
    // file. Both are answered with img_path, the stored file's address.
    static constexpr int32_t kRecording = 1;
    static constexpr int32_t kLogFile = 3;
    // The one kind answered differently: code, msg and data.url.
    static constexpr int32_t kDataUrlAnswer = 2;

    int32_t m_kind = 0;
    int32_t m_userValue = 0;    // the creator's
    int32_t m_resultCode = -1;  // set by a kind-2 answer
    std::string m_url;          // upload URL, already rewritten for agent mode
    std::string m_filePath;     // the local file to send
    std::string m_result;       // from the answer: data.url or msg (kind 2), img_path (others)
    std::string m_userText;     // the creator's
    int64_t m_fileSize = 0;     // set by the creator
    int32_t m_maxAttempts = 3;
    int32_t m_attempts = 0;
    std::string m_userText2;                   // the creator's
    // The exam (record and student) a recording answers, so that a result
    // arriving after that exam left the screen still reaches its stored answers.
    int64_t m_ownerRecordId = 0;
    int64_t m_ownerUserId = 0;
    IKWMessageReceiver* m_receiver = nullptr;  // borrowed
};

}  // namespace KwLib
