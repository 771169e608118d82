#pragma once
#include <cstdint>
#include <string>

#include "platform/common/KWMessage.h"

namespace KwLib {

// One file to fetch into the local download folder. Built by the paper parser
// (question files) and by the server-response parsers (head images) on the
// request worker, consumed by the download worker, and posted back to the
// receiver as a heap copy that the receiver owns.
struct VLDownloadTask {
    // Question resource files; head images use kHeadImage. Other values are the creator's.
    static constexpr int32_t kQuestionFile = 1;
    static constexpr int32_t kHeadImage = 2;

    // Values of m_value set by the paper parser: pictures of the question text
    // and of options are told apart from other question files.
    static constexpr int64_t kValueFile = 0;
    static constexpr int64_t kValuePicture = 1;

    int32_t m_kind = kQuestionFile;
    std::string m_url;             // UTF-8, already rewritten for agent mode
    std::string m_savePath;        // final local file
    std::string m_tag;             // part of the temporary file name
    int64_t m_value = kValueFile;  // chosen by the creator, returned unchanged
    int32_t m_maxAttempts = 3;
    int32_t m_attempts = 0;
    bool m_reportProgress = false;
    IKWMessageReceiver* m_receiver = nullptr;  // borrowed; outlives the task's journey
};

}  // namespace KwLib
