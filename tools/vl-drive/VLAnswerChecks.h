#pragma once
// What the drivers share: reading the program's answers, when an answer counts
// as given, when a recording on disk is finished, the result text taken apart,
// and the upload whose address a result names.
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "platform/common/KWJson.h"

namespace KwLib::VLAnswerChecks {

// A member of an answer, or `fallback` (an empty text) when it is not there as that type.
inline int Int(const KWJsonValue& v, const char* name, int fallback = -1) {
    return v.isObject() && v[name].isInt() ? v[name].asInt() : fallback;
}
inline std::string Str(const KWJsonValue& v, const char* name) {
    return v.isObject() && v[name].isString() ? v[name].asString() : std::string();
}
inline std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}
// The centre of a control of a "state" answer.
inline int CentreX(const KWJsonValue* c) {
    return Int(*c, "x", 0) + Int(*c, "w", 0) / 2;
}
inline int CentreY(const KWJsonValue* c) {
    return Int(*c, "y", 0) + Int(*c, "h", 0) / 2;
}

// Counts as an answer on the sheet: something chosen, placed or drawn (an
// ordering of "-1" slots only is an untouched one).
bool IsRealAnswer(const std::string& answer);

// A recording the client finished: the 16 kHz WAV image is written in one go
// when the recording stops, so a file that is there and whose header matches
// its length is complete.
bool IsFinishedRecording(const std::string& path);

// "id:answer|id:answer" of the result back into answers. An answer may hold
// "|" or ":" itself, so a piece starts a new answer only at a known id.
std::map<std::string, std::string> ParseResult(const std::string& text, const std::set<std::string>& ids);

// The newest result the platform received after record `afterSeq`, or nullptr;
// with `student`, only a result of that student number (a classroom shares the platform).
const KWJsonValue* LatestResult(const KWJsonValue& records, int64_t afterSeq, const std::string& student = "");

// The upload (after `afterSeq`) whose stored file the address `url` names, or nullptr.
const KWJsonValue* UploadNamedBy(const KWJsonValue& records, const std::string& url, int64_t afterSeq);

// The newest record number, 0 when there is none.
int64_t LastSeq(const KWJsonValue& records);

}  // namespace KwLib::VLAnswerChecks
