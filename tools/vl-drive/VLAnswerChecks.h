#pragma once
// What the drivers' checks share: when an answer counts as given, when a
// recording on disk is finished, the result text taken apart, and the upload
// whose address a result names.
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "platform/common/KWJson.h"

namespace KwLib::VLAnswerChecks {

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

// The newest result the platform received after record `afterSeq`, or nullptr.
const KWJsonValue* LatestResult(const KWJsonValue& records, int64_t afterSeq);

// The upload (after `afterSeq`) whose stored file the address `url` names, or nullptr.
const KWJsonValue* UploadNamedBy(const KWJsonValue& records, const std::string& url, int64_t afterSeq);

// The newest record number, 0 when there is none.
int64_t LastSeq(const KWJsonValue& records);

}  // namespace KwLib::VLAnswerChecks
