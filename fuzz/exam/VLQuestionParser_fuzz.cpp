// Feeds arbitrary response text to the paper and single-question parsers.
// The first byte picks the document kind and the chosen instrument.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exam/VLQuestionParser.h"

using namespace KwLib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    VLExamManager manager;
    manager.SetClock([] { return int64_t{1700000000}; });
    // A folder that does not exist: every file is missing and gets a task.
    VLQuestionParser parser(manager, "/nonexistent-vl-fuzz/Download/",
                            [](const std::string& url) { return "127.0.0.1:9501" + url; });
    KWMessageQueue receiver;
    VLQuestionParseResult result = (selector & 1)
                                       ? parser.ParseSingleQuestionResponse(text, &receiver)
                                       : parser.ParsePaperResponse(text, (selector >> 1) & 7, &receiver);

    // Whatever came in, the records must be consistent enough to walk.
    auto lock = manager.Lock();
    for (int i = 0; i < manager.GetCount(); ++i) {
        VLQuestionBase* q = manager.GetQuestion(i);
        if (!q || q->m_type < kQuestionTypeMin || q->m_type > kQuestionTypeMax)
            __builtin_trap();
    }
    for (const VLDownloadTask& task : result.downloads) {
        if (task.m_url.empty() || task.m_savePath.empty())
            __builtin_trap();
    }
    manager.Release();
    return 0;
}
