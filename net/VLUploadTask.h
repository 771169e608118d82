#pragma once
#include <cstdint>
#include <string>

#include "platform/common/KWMessage.h"

namespace KwLib {

// One file to send to the upload server as the multipart part "userfile". The
// creator's own fields travel unchanged and come back with the result.
struct VLUploadTask {
    // Kind 2 (the log archive) is answered with code, msg and data.url; every
    // other kind with img_path.
    static constexpr int32_t kLogArchive = 2;

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
    IKWMessageReceiver* m_receiver = nullptr;  // borrowed
};

}  // namespace KwLib
