#include "tools/vl-drive/VLAnswerChecks.h"

#include <algorithm>
#include <vector>

#include "platform/common/KWFile.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib::VLAnswerChecks {

bool IsRealAnswer(const std::string& answer) {
    std::vector<std::string> pieces;
    KWStringToken::StringToken(answer, ",", pieces);
    return std::any_of(pieces.begin(), pieces.end(), [](const std::string& p) {
        return !p.empty() && KWStringUtils::CompareNoCase(p, "-1") != 0;
    });
}

bool IsFinishedRecording(const std::string& path) {
    const auto bytes = KWFile::ReadAll(path);
    if (!bytes || bytes->size() <= 44 || bytes->compare(0, 4, "RIFF") != 0 ||
        bytes->compare(8, 4, "WAVE") != 0)
        return false;
    auto le32 = [&](size_t at) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes->data() + at);
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    };
    return le32(4) == bytes->size() - 8 && le32(40) == bytes->size() - 44;
}

std::map<std::string, std::string> ParseResult(const std::string& text, const std::set<std::string>& ids) {
    std::map<std::string, std::string> out;
    std::vector<std::string> pieces;
    KWStringToken::StringToken(text, "|", pieces);
    std::string current;
    for (const std::string& piece : pieces) {
        const size_t colon = piece.find(':');
        const std::string id = colon == std::string::npos ? std::string() : piece.substr(0, colon);
        if (!id.empty() && ids.count(id) && !out.count(id)) {
            current = id;
            out[id] = piece.substr(colon + 1);
        } else if (!current.empty()) {
            out[current] += "|" + piece;
        }
    }
    return out;
}

const KWJsonValue* LatestResult(const KWJsonValue& records, int64_t afterSeq, const std::string& student) {
    const KWJsonValue* result = nullptr;
    for (const KWJsonValue& r : records)
        if (r["seq"].asInt64() > afterSeq && r["kind"].asString() == "result" &&
            (student.empty() || r["fields"]["student_num"].asString() == student))
            result = &r;
    return result;
}

const KWJsonValue* UploadNamedBy(const KWJsonValue& records, const std::string& url, int64_t afterSeq) {
    const KWJsonValue* upload = nullptr;
    for (const KWJsonValue& r : records) {
        const std::string stored = r["stored"].asString();
        if (r["kind"].asString() == "upload" && !stored.empty() && r["seq"].asInt64() > afterSeq &&
            url.size() > stored.size() + 9 && url.compare(url.size() - stored.size(), stored.size(), stored) == 0 &&
            url.compare(url.size() - stored.size() - 9, 9, "/uploads/") == 0)
            upload = &r;
    }
    return upload;
}

int64_t LastSeq(const KWJsonValue& records) {
    int64_t seq = 0;
    for (const KWJsonValue& r : records)
        seq = std::max<int64_t>(seq, r["seq"].asInt64());
    return seq;
}

}  // namespace KwLib::VLAnswerChecks
