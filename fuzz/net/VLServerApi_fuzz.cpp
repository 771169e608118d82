// Feeds one arbitrary response body to every parser of the platform's answers:
// the API results, the upload answers of both formats and the two question
// responses. Whatever arrives, a parser must neither crash nor leave a result
// that contradicts itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "exam/VLExamManager.h"
#include "exam/VLQuestionParser.h"
#include "net/VLServerApi.h"
#include "net/VLUploadManager.h"
#include "platform/common/KWMessage.h"

using namespace KwLib;

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A folder that does not exist: a head image is never cached yet.
    const std::string downloadDir = "/nonexistent-vl-fuzz/Download/";
    KWMessageQueue receiver;

    VLServerCfgResult cfg;
    VLServerApi::ParseServerCfgRsp(text, cfg);

    VLStudentInfoResult info;
    std::vector<VLDownloadTask> downloads;
    VLServerApi::ParseInformationCheckRsp(
        text, info, downloadDir, [](const std::string& url) { return "127.0.0.1:9501" + url; }, &receiver,
        downloads);
    Check(downloads.size() <= 1);
    for (const VLDownloadTask& task : downloads) {
        Check(task.m_kind == VLDownloadTask::kHeadImage);
        Check(!task.m_url.empty() && task.m_savePath == info.m_headImagePath);
        Check(task.m_savePath.rfind(downloadDir, 0) == 0);
        // The cache name is a digest and an extension: nothing in the URL may lead
        // the file out of the download folder.
        Check(task.m_savePath.find('/', downloadDir.size()) == std::string::npos);
    }

    VLStudentLoginResult login;
    VLServerApi::ParseStudentLoginRsp(text, login, [] { return int64_t{1800000000}; });

    VLExamStateResult state;
    VLServerApi::ParseExamStateRsp(text, state);
    Check(state.m_code == 0 || state.m_examState == 0);

    VLExamResultResult result, single;
    VLServerApi::ParseExamResultRsp(text, result);
    VLServerApi::ParseExamResultSignalRsp(text, single);
    Check(result.m_score == 0 && result.m_msg.empty());

    VLExamScoreResult score;
    VLServerApi::ParsesExamScoreRsp(text, score);

    VLUpdateCheckResult update;
    VLServerApi::ParseUpdateCheckRsp(text, "1.7.1.1393", update);
    Check(!update.m_updateAvailable || !update.m_versionNumber.empty());
    Check(update.m_updateAvailable || update.m_downloadUrl.empty());

    VLLogUploadResult log;
    VLServerApi::ParseLogUploadRsp(text, log);
    Check(log.m_code == result.m_code);

    VLUploadTask recording, archive;
    archive.m_kind = VLUploadTask::kDataUrlAnswer;
    const bool recordingDone = VLUploadManager::ParseUploadResponse(text, recording);
    const bool archiveDone = VLUploadManager::ParseUploadResponse(text, archive);
    // A recording reported as stored always comes with the address it was stored at.
    Check(!recordingDone || !recording.m_result.empty());
    Check(recording.m_resultCode == -1);
    Check(archiveDone || archive.m_result.empty());

    // The two question answers, on their own exam manager.
    for (int single = 0; single < 2; ++single) {
        VLExamManager manager;
        manager.SetClock([] { return int64_t{1700000000}; });
        VLQuestionParser parser(manager, downloadDir, [](const std::string& url) { return url; });
        VLQuestionParseResult parsed = single ? parser.ParseSingleQuestionResponse(text, &receiver)
                                              : parser.ParsePaperResponse(text, 2, &receiver);
        {
            auto lock = manager.Lock();
            Check(parsed.questionCount == manager.GetCount());
        }
        manager.Release();
    }
    return 0;
}
