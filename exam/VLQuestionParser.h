#pragma once
#include <functional>
#include <string>
#include <vector>

#include "exam/VLDownloadTask.h"
#include "exam/VLExamManager.h"
#include "exam/VLQuestion.h"
#include "platform/common/KWJson.h"

namespace KwLib {

// Rewrites a download URL before it is queued (agent mode); pass-through when empty.
using VLUrlRewriter = std::function<std::string(const std::string&)>;

// What a whole response gave: the envelope's code (-1 when the text is not a
// JSON object with an integer code), the number of records the manager holds
// afterwards, and the files that are not on disk yet (each once).
struct VLQuestionParseResult {
    int code = -1;
    int questionCount = 0;
    std::vector<VLDownloadTask> downloads;
};

// Turns question documents into records in a VLExamManager and lists the files
// they need. Runs on the request worker; never fails as a whole: malformed
// groups and items are skipped, malformed members leave fields empty.
class VLQuestionParser {
public:
    // `downloadDir` ends with "/"; every file of a question is cached below it.
    VLQuestionParser(VLExamManager& manager, std::string downloadDir, VLUrlRewriter rewriteUrl = nullptr);

    // Entry point for the paper request: parses the response text, hands its
    // sections "1", "2" and "3" to ParseQuestionGroups, then regroups the paper.
    // `instrument` is the selected instrument code, 0 when none.
    VLQuestionParseResult ParsePaperResponse(const std::string& responseText, int instrument,
                                             IKWMessageReceiver* receiver);
    // Entry point for the single-question request (`data` is an array of items).
    VLQuestionParseResult ParseSingleQuestionResponse(const std::string& responseText,
                                                      IKWMessageReceiver* receiver);

    // One section of a paper: its array of groups.
    void ParseQuestionGroups(const KWJsonValue& groups, int section, int instrument,
                             IKWMessageReceiver* receiver, std::vector<VLDownloadTask>& downloads);
    // The items of a single-question document.
    void ParseSingleQuestions(const KWJsonValue& items, IKWMessageReceiver* receiver,
                              std::vector<VLDownloadTask>& downloads);

    // Local cache path of a URL: the folder, the upper-case MD5 text of the URL and
    // the URL's extension. The download manager saves to the same path.
    static std::string GetCachePath(const std::string& downloadDir, const std::string& url);

    // The internal code of a raw type in a section; 0 when it is no known type.
    static int MapQuestionType(int rawType, int section, bool paperDocument);
    // "12.500" -> 12500, "12.5" -> 12005, "30" -> 30000.
    static int ParseTimeMs(const std::string& text);

private:
    struct GroupInfo;
    struct CallState;

    void ParseItem(const KWJsonValue& item, int itemIndex, const GroupInfo& group, CallState& state);
    std::string CacheFile(const KWJsonValue& url, bool picture, CallState& state);
    std::string CacheUrl(const std::string& url, bool picture, CallState& state);
    void ParseContent(const KWJsonValue& content, VLQuestionBase& question, CallState& state);
    void ParseOption(const KWJsonValue& option, int index, VLChoiceQuestion& owner, CallState& state);

    VLExamManager& m_manager;
    std::string m_downloadDir;
    VLUrlRewriter m_rewriteUrl;
};

}  // namespace KwLib
