#include "exam/VLQuestionParser.h"

#include <cctype>
#include <climits>
#include <optional>
#include <unordered_set>

#include "exam/VLQuestionTexts.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWMD5Utils.h"
#include "platform/common/KWStringConvert.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {

const KWJsonValue& Get(const KWJsonValue& obj, const char* name) {
    return KWJsonUtils::Member(obj, name);
}

// Text members; any other JSON kind leaves the field empty.
std::string Text(const KWJsonValue& v) {
    return v.isString() ? v.asString() : std::string();
}

// Text shown to the student: invalid UTF-8 from the server must not reach the renderer.
std::string DisplayText(const KWJsonValue& v) {
    if (!v.isString())
        return std::string();
    std::string s = v.asString();
    return KWStringConvert::IsValidUtf8(s) ? s : KWStringConvert::SanitizeUtf8(s);
}

// Numbers that the documents send as decimal text.
int TextInt(const KWJsonValue& v) {
    return v.isString() ? KWStringUtils::ConvertStringToInt32(v.asString()) : 0;
}

// Numbers that the documents send as JSON integers.
std::optional<int> JsonInt(const KWJsonValue& v) {
    if (v.isInt())
        return v.asInt();
    return std::nullopt;
}

// Score texts are shown as sent.
std::string ScoreText(const KWJsonValue& v) {
    if (v.isString())
        return v.asString();
    if (v.isInt64())
        return std::to_string(v.asInt64());
    return std::string();
}

bool InRange(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}

// Leading decimal digits as an unsigned number, saturating; anything else reads as 0.
int64_t UnsignedDecimal(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    if (i < s.size() && s[i] == '+')
        ++i;
    int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > INT32_MAX)
            return INT32_MAX;
    }
    return value;
}

// The whole text must be a decimal integer.
std::optional<int> StrictInt(const std::string& s) {
    std::string t = KWStringUtils::Trim(s);
    if (t.empty() || t.size() > 9)
        return std::nullopt;
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i == t.size())
        return std::nullopt;
    for (size_t k = i; k < t.size(); ++k) {
        if (t[k] < '0' || t[k] > '9')
            return std::nullopt;
    }
    return KWStringUtils::ConvertStringToInt32(t);
}

void ParsePoints(const std::string& points, VLQuestionLine& line) {
    std::vector<std::string> ends;
    KWStringToken::StringToArray(points, ",", ends, true);
    if (ends.size() != 2)
        return;
    int* coords[2][2] = {{&line.x1, &line.y1}, {&line.x2, &line.y2}};
    for (size_t e = 0; e < 2; ++e) {
        std::vector<std::string> xy;
        KWStringToken::StringToArray(ends[e], "-", xy, true);
        if (xy.size() != 2)
            continue;
        auto x = StrictInt(xy[0]);
        auto y = StrictInt(xy[1]);
        if (!x || !y)
            continue;
        *coords[e][0] = *x;
        *coords[e][1] = *y;
    }
}

constexpr const char* kImgOpen = "<img>";
constexpr const char* kImgClose = "</img>";
constexpr const char* kImgMarker = "/:img";

}  // namespace

struct VLQuestionParser::GroupInfo {
    int type = 0;
    int section = 1;
    int isNew = 0;
    int groupIndex = 0;
    std::string scoreText;
};

struct VLQuestionParser::CallState {
    int instrument = 0;
    IKWMessageReceiver* receiver = nullptr;
    std::vector<VLDownloadTask>& downloads;
    std::unordered_set<std::string> queued;  // save paths already in `downloads`
    int singCounter = 0;
    int rhythmCounter = 0;
};

VLQuestionParser::VLQuestionParser(VLExamManager& manager, std::string downloadDir, VLUrlRewriter rewriteUrl)
    : m_manager(manager), m_downloadDir(std::move(downloadDir)), m_rewriteUrl(std::move(rewriteUrl)) {}

namespace {

// The URL's extension as a file name may carry it: at most 16 letters and
// digits. Anything else (a query, a path, a name too long for the folder)
// would make a file name that cannot be created, or one outside the cache.
std::string CacheExtension(const std::string& url) {
    constexpr size_t kMaxExtension = 16;
    const std::string extension = KWFilePathUtils::Extension(url);
    if (extension.size() < 2 || extension.size() > kMaxExtension + 1)
        return std::string();
    for (size_t i = 1; i < extension.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(extension[i])))
            return std::string();
    return extension;
}

std::string CachePathFromDigest(const std::string& downloadDir, const std::string& digest,
                                const std::string& url) {
    std::string path;
    std::string extension = CacheExtension(url);
    path.reserve(downloadDir.size() + digest.size() + extension.size());
    return path.append(downloadDir).append(digest).append(extension);
}

}  // namespace

std::string VLQuestionParser::GetCachePath(const std::string& downloadDir, const std::string& url) {
    return CachePathFromDigest(downloadDir, KWMD5Utils::CalcuteMD5String(url), url);
}

int VLQuestionParser::MapQuestionType(int rawType, int section, bool paperDocument) {
    int type = rawType;
    if (section == 2) {
        switch (rawType) {
            case 3:
                type = kQuestionJudge;
                break;
            case 4:
                type = kQuestionConnection;
                break;
            case 6:
                type = kQuestionSort;
                break;
            case 7:
                type = kQuestionJigsaw;
                break;
            case 8:
                type = kQuestionDotLine;
                break;
            case 9:
                type = kQuestionColouring;
                break;
            default:
                break;
        }
    } else if (section == 3 && paperDocument && rawType == 3) {
        type = kQuestionInstrument;
    }
    return InRange(type, kQuestionTypeMin, kQuestionTypeMax) ? type : 0;
}

int VLQuestionParser::ParseTimeMs(const std::string& text) {
    std::vector<std::string> parts;
    KWStringToken::StringToArray(text, ".", parts);
    int64_t ms = parts.size() == 2 ? UnsignedDecimal(parts[0]) * 1000 + UnsignedDecimal(parts[1])
                                   : UnsignedDecimal(text) * 1000;
    return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

std::string VLQuestionParser::CacheUrl(const std::string& url, bool picture, CallState& state) {
    // An empty reference names no file: nothing to show and nothing to fetch.
    if (url.empty())
        return std::string();
    std::string digest = KWMD5Utils::CalcuteMD5String(url);
    std::string path = CachePathFromDigest(m_downloadDir, digest, url);
    if (!state.queued.count(path) && !KWFilePathUtils::IsExistsFile(path)) {
        VLDownloadTask task;
        task.m_kind = VLDownloadTask::kQuestionFile;
        task.m_url = m_rewriteUrl ? m_rewriteUrl(url) : url;
        task.m_savePath = path;
        task.m_tag = std::move(digest);
        task.m_value = picture ? VLDownloadTask::kValuePicture : VLDownloadTask::kValueFile;
        task.m_receiver = state.receiver;
        state.downloads.push_back(std::move(task));
        state.queued.insert(path);
    }
    return path;
}

std::string VLQuestionParser::CacheFile(const KWJsonValue& url, bool picture, CallState& state) {
    return CacheUrl(Text(url), picture, state);
}

void VLQuestionParser::ParseContent(const KWJsonValue& content, VLQuestionBase& question, CallState& state) {
    std::string text = DisplayText(content);
    const std::string open = kImgOpen;
    const std::string close = kImgClose;
    // One marker and one path per picture, in reading order, so that the element
    // can pair them up even when the same picture appears twice.
    size_t from = 0;
    while (true) {
        size_t begin = text.find(open, from);
        if (begin == std::string::npos)
            break;
        size_t end = text.find(close, begin + open.size());
        if (end == std::string::npos)
            break;
        std::string url = text.substr(begin + open.size(), end - begin - open.size());
        question.m_contentImages.push_back(CacheUrl(url, true, state));
        text.replace(begin, end + close.size() - begin, kImgMarker);
        from = begin + std::char_traits<char>::length(kImgMarker);
    }
    question.m_content = std::move(text);
}

void VLQuestionParser::ParseOption(const KWJsonValue& option, int index, VLChoiceQuestion& owner,
                                   CallState& state) {
    auto record = std::make_unique<VLQuestionOption>();
    // Every option keeps its own array position, so that no two options of a
    // question share an index even when one of them is empty.
    record->index = index;
    const KWJsonValue& text = Get(option, "text");
    const KWJsonValue& image = Get(option, "image");
    const KWJsonValue& audio = Get(option, "audio");
    if (text.isString()) {
        record->kind = VLQuestionOption::kText;
        record->value = DisplayText(text);
    } else if (image.isString()) {
        record->kind = VLQuestionOption::kPicture;
        record->value = CacheUrl(image.asString(), true, state);
    } else if (audio.isString()) {
        record->kind = VLQuestionOption::kAudio;
        record->value = CacheUrl(audio.asString(), false, state);
    }
    owner.m_options.push_back(std::move(record));
}

void VLQuestionParser::ParseItem(const KWJsonValue& item, int itemIndex, const GroupInfo& group,
                                 CallState& state) {
    if (!item.isObject())
        return;
    const KWJsonValue& answer = Get(item, "answer");
    const int type = group.type;
    std::unique_ptr<VLQuestionBase> record;
    bool oldSet = false;
    int indexInGroup = itemIndex;

    switch (type) {
        case kQuestionSingleChoice:
        case kQuestionMultiChoice:
        case kQuestionJudge:
        case kQuestionSort: {
            auto choice = std::make_unique<VLChoiceQuestion>();
            const KWJsonValue& options = Get(answer, "options");
            if (options.isArray()) {
                for (Json::ArrayIndex i = 0; i < options.size(); ++i)
                    ParseOption(options[i], static_cast<int>(i), *choice, state);
            }
            record = std::move(choice);
            break;
        }
        case kQuestionConnection: {
            auto connection = std::make_unique<VLConnectionQuestion>();
            const KWJsonValue& columns = Get(answer, "options");
            if (columns.isArray()) {
                for (const KWJsonValue& column : columns) {
                    auto columnRecord = std::make_unique<VLChoiceQuestion>();
                    if (column.isArray()) {
                        for (Json::ArrayIndex i = 0; i < column.size(); ++i)
                            ParseOption(column[i], static_cast<int>(i), *columnRecord, state);
                    }
                    connection->m_columns.push_back(std::move(columnRecord));
                }
            }
            record = std::move(connection);
            break;
        }
        case kQuestionSing:
        case kQuestionPitchImitation:
        case kQuestionCooperativeSing:
        case kQuestionDuet:
        case kQuestionAccompaniedSing:
        case kQuestionInstrument: {
            // A student who chose an instrument plays it instead of singing; one who
            // chose none sings and skips every instrument item.
            const int itemType = TextInt(Get(item, "question_type"));
            if (type != kQuestionInstrument && state.instrument != 0)
                return;
            if (type == kQuestionInstrument && (state.instrument == 0 || state.instrument != itemType - 1))
                return;
            auto sing = std::make_unique<VLSingQuestion>();
            if (type == kQuestionInstrument)
                sing->m_instrument = itemType - 1;
            sing->m_startMs = ParseTimeMs(Text(Get(answer, "start")));
            sing->m_endMs = ParseTimeMs(Text(Get(answer, "end")));
            record = std::move(sing);
            break;
        }
        case kQuestionRhythm:
        case kQuestionRhythmImitation: {
            auto rhythm = std::make_unique<VLRhythmQuestion>();
            // A tempo of 0 or below would stall the rhythm track; keep the default then.
            int bpm = TextInt(Get(answer, "bpm"));
            if (bpm > 0)
                rhythm->m_bpm = bpm;
            record = std::move(rhythm);
            break;
        }
        case kQuestionJigsaw: {
            auto jigsaw = std::make_unique<VLPinTuQuestion>();
            jigsaw->m_picture = CacheFile(Get(answer, "pt_art_pic"), false, state);
            jigsaw->m_fragmentCount = TextInt(Get(answer, "pt_art_pic_frag"));
            jigsaw->m_nIndexX = TextInt(Get(answer, "pt_art_pic_frag_x"));
            jigsaw->m_nIndexY = TextInt(Get(answer, "pt_art_pic_frag_y"));
            if (Get(answer, "set_type").isString())
                jigsaw->m_setType = TextInt(Get(answer, "set_type"));
            jigsaw->m_defaultNo = TextInt(Get(answer, "default_no"));
            record = std::move(jigsaw);
            break;
        }
        case kQuestionDotLine: {
            auto dotLine = std::make_unique<VLDianXianQuestion>();
            dotLine->m_picture = CacheFile(Get(answer, "art_pic"), false, state);
            const KWJsonValue& correct = Get(answer, "correct");
            if (correct.isArray()) {
                for (const KWJsonValue& entry : correct) {
                    VLQuestionLine line;
                    ParsePoints(Text(Get(entry, "points")), line);
                    if (auto move = JsonInt(Get(entry, "move")))
                        line.move = *move;
                    dotLine->m_lines.push_back(line);
                }
            }
            record = std::move(dotLine);
            break;
        }
        case kQuestionColouring: {
            auto colouring = std::make_unique<VLTianSeQuestiont>();
            colouring->m_picture = CacheFile(Get(answer, "art_color_pic"), false, state);
            const KWJsonValue& options = Get(answer, "options");
            if (options.isArray()) {
                for (const KWJsonValue& entry : options) {
                    VLColouringOption option;
                    option.text = DisplayText(Get(entry, "text"));
                    option.picture = CacheFile(Get(entry, "url"), true, state);
                    const KWJsonValue& colors = Get(entry, "colors");
                    if (colors.isArray()) {
                        for (const KWJsonValue& color : colors) {
                            const KWJsonValue& rgb = Get(color, "rgb");
                            if (rgb.isString())
                                option.colors.push_back(rgb.asString());
                        }
                    }
                    colouring->m_options.push_back(std::move(option));
                }
            }
            record = std::move(colouring);
            break;
        }
        default:
            return;
    }

    // Singing and rhythm items of new papers collapse onto one type each and are
    // numbered across the whole section.
    record->m_type = type;
    const bool singing =
        InRange(type, kQuestionSing, kQuestionAccompaniedSing) || type == kQuestionInstrument;
    const bool rhythm = type == kQuestionRhythm || type == kQuestionRhythmImitation;
    if (singing || rhythm) {
        if (group.isNew == 1) {
            record->m_type = singing ? kQuestionSing : kQuestionRhythm;
            indexInGroup = singing ? state.singCounter++ : state.rhythmCounter++;
        } else {
            oldSet = true;
        }
    }

    record->m_id = Text(Get(item, "id"));
    ParseContent(Get(item, "content"), *record, state);
    if (InRange(type, 1, 11) || type == kQuestionSort)
        record->m_backgroundFile = CacheFile(Get(answer, "background_file"), false, state);
    if (InRange(type, 1, 13)) {
        record->m_staffPic = CacheFile(Get(answer, "wx_music_pic"), false, state);
        record->m_numberedPic = CacheFile(Get(answer, "jp_music_pic"), false, state);
    }
    if (InRange(type, 3, 9) || type == kQuestionInstrument) {
        record->m_accompanimentFile = CacheFile(Get(answer, "banzou_file"), false, state);
        record->m_midFile = CacheFile(Get(answer, "mid_file"), false, state);
        record->m_rhythmFile = Text(Get(answer, "rhythm_file"));
    }
    record->m_scoreText = group.scoreText;
    record->m_instruction = VLQuestionTexts::GetInstruction(record->m_type, !oldSet);
    {
        auto lock = m_manager.Lock();
        record->m_addIndex = m_manager.GetCount();
        record->m_sequence = m_manager.GetCount();
    }
    record->m_groupIndex = group.groupIndex;
    record->m_indexInGroup = indexInGroup;
    // Singing records always count as section 1, the instrument section included.
    if (!singing)
        record->m_section = group.section;
    record->m_isNew = group.isNew;
    m_manager.AddQuestion(std::move(record));
}

void VLQuestionParser::ParseQuestionGroups(const KWJsonValue& groups, int section, int instrument,
                                           IKWMessageReceiver* receiver,
                                           std::vector<VLDownloadTask>& downloads) {
    if (!groups.isArray())
        return;
    CallState state{instrument, receiver, downloads, {}, 0, 0};
    for (const VLDownloadTask& task : downloads)
        state.queued.insert(task.m_savePath);

    static const char* const kConfMembers[] = {"question_type", "number", "score", "total", "desc", "is_new"};
    for (Json::ArrayIndex g = 0; g < groups.size(); ++g) {
        const KWJsonValue& group = groups[g];
        const KWJsonValue& conf = Get(group, "conf");
        const KWJsonValue& items = Get(group, "question");
        if (!conf.isObject() || !items.isArray())
            continue;
        bool complete = true;
        for (const char* name : kConfMembers)
            complete = complete && conf.isMember(name);
        if (!complete)
            continue;

        GroupInfo info;
        info.type = MapQuestionType(TextInt(conf["question_type"]), section, true);
        if (info.type == 0) {
            VL_LOG_WARN("skipping group %u of section %d: unknown question type", g, section);
            continue;
        }
        info.section = section;
        info.isNew = JsonInt(conf["is_new"]).value_or(0);
        info.groupIndex = static_cast<int>(g);
        info.scoreText =
            KWStringUtils::Format(VLQuestionTexts::kScoreTextFormat, ScoreText(conf["score"]).c_str(),
                                  ScoreText(conf["total"]).c_str());
        for (Json::ArrayIndex i = 0; i < items.size(); ++i)
            ParseItem(items[i], static_cast<int>(i), info, state);
    }
}

void VLQuestionParser::ParseSingleQuestions(const KWJsonValue& items, IKWMessageReceiver* receiver,
                                            std::vector<VLDownloadTask>& downloads) {
    if (!items.isArray())
        return;
    CallState state{0, receiver, downloads, {}, 0, 0};
    for (const VLDownloadTask& task : downloads)
        state.queued.insert(task.m_savePath);

    const std::string scoreText = KWStringUtils::Format(VLQuestionTexts::kScoreTextFormat, "100", "100");
    for (Json::ArrayIndex i = 0; i < items.size(); ++i) {
        const KWJsonValue& item = items[i];
        if (!item.isObject())
            continue;
        GroupInfo info;
        info.section = TextInt(Get(item, "stype"));
        info.type = MapQuestionType(TextInt(Get(item, "question_type")), info.section, false);
        if (info.type == 0)
            continue;
        info.isNew = 1;
        info.groupIndex = 0;
        info.scoreText = scoreText;
        ParseItem(item, static_cast<int>(i), info, state);
    }
}

namespace {

// The common envelope: a JSON object with an integer code; `data` only on success.
int ParseEnvelope(const std::string& text, KWJsonValue& root) {
    // jsoncpp throws on input nested deeper than its stack limit; a hostile or
    // broken response must not take the worker down.
    try {
        if (!KWJsonReader::Parse(text, root))
            return -1;
    } catch (const std::exception& e) {
        VL_LOG_ERROR("question document rejected: %s", e.what());
        root = KWJsonValue();
        return -1;
    }
    if (!root.isObject())
        return -1;
    const KWJsonValue& code = Get(root, "code");
    return code.isInt() ? code.asInt() : -1;
}

}  // namespace

VLQuestionParseResult VLQuestionParser::ParsePaperResponse(const std::string& responseText, int instrument,
                                                           IKWMessageReceiver* receiver) {
    VLQuestionParseResult result;
    KWJsonValue root;
    result.code = ParseEnvelope(responseText, root);
    const KWJsonValue& data = Get(root, "data");
    if (result.code == 0 && data.isObject()) {
        static const char* const kSections[] = {"1", "2", "3"};
        for (int s = 0; s < 3; ++s) {
            const KWJsonValue* groups = data.find(kSections[s], kSections[s] + 1);
            if (groups)
                ParseQuestionGroups(*groups, s + 1, instrument, receiver, result.downloads);
        }
        m_manager.RegroupQuestions();
    }
    auto lock = m_manager.Lock();
    result.questionCount = m_manager.GetCount();
    return result;
}

VLQuestionParseResult VLQuestionParser::ParseSingleQuestionResponse(const std::string& responseText,
                                                                    IKWMessageReceiver* receiver) {
    VLQuestionParseResult result;
    KWJsonValue root;
    result.code = ParseEnvelope(responseText, root);
    if (result.code == 0)
        ParseSingleQuestions(Get(root, "data"), receiver, result.downloads);
    auto lock = m_manager.Lock();
    result.questionCount = m_manager.GetCount();
    return result;
}

}  // namespace KwLib
