#include "tools/vl-drive/VLWanderer.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/common/KWMD5Utils.h"
#include "platform/common/KWStringUtils.h"
#include "tools/vl-drive/VLAnswerChecks.h"

namespace KwLib {

namespace {

constexpr int kAnswerSheet = 1950, kPrevious = 1955, kNext = 1956, kStartAnswer = 1957;
constexpr int kUndo = 2056, kReset = 2057, kSheetNumber = 2064, kSheetArea = 1650;
constexpr int kSingleOption = 2058, kMultipleOption = 2059;
constexpr int kFirstPoint = 2101, kSecondPoint = 2102;
constexpr int kSortPicture = 2065, kSortSlot = 2066;
constexpr int kJigsawPiece = 2067, kJigsawCell = 2068;
constexpr int kSwatch = 2070;
constexpr int kBoxOk = 105;
constexpr int kPhaseAnswering = 7;

using VLAnswerChecks::CentreX;
using VLAnswerChecks::CentreY;
using VLAnswerChecks::Int;
using VLAnswerChecks::Quoted;
using VLAnswerChecks::Str;

}  // namespace

VLWanderer::VLWanderer(VLWanderOptions options)
    : m_options(std::move(options)),
      m_driver([this] {
          VLDriveOptions drive;
          drive.socket = m_options.socket;
          drive.student = m_options.student;
          drive.timeoutSeconds = m_options.timeoutSeconds;
          return drive;
      }()),
      m_random(m_options.seed) {}

void VLWanderer::Log(const std::string& line) {
    if (m_options.log)
        m_options.log(line);
}

int VLWanderer::Pick(int count) {
    return count <= 1 ? 0 : std::uniform_int_distribution<int>(0, count - 1)(m_random);
}

void VLWanderer::Expect(bool ok, const std::string& problem) {
    ++m_checks;
    if (!ok && std::find(m_problems.begin(), m_problems.end(), problem) == m_problems.end()) {
        m_problems.push_back(problem);
        Log("LOST: " + problem);
    }
}

int VLWanderer::Run() {
    // The sign-in and the device check as the straight driver takes them, up to the first question.
    {
        VLDriveOptions drive;
        drive.socket = m_options.socket;
        drive.student = m_options.student;
        drive.timeoutSeconds = m_options.timeoutSeconds;
        drive.log = m_options.log;
        bool stopped = false;
        drive.stop = [&](const KWJsonValue& state) {
            if (m_options.stop && m_options.stop(state)) {
                stopped = true;
                return true;
            }
            return Int(state, "screen") == 4 && Int(state, "page") == 5 && !Str(state, "questionId").empty();
        };
        VLExamDriver straight(drive);
        const int rc = straight.Run();
        if (rc != 3)
            return rc == 0 ? 1 : rc;
        if (stopped)
            return 3;
    }
    if (!m_driver.Connect())
        return 2;
    const int64_t firstSeq = m_options.records ? VLAnswerChecks::LastSeq(m_options.records()) : 0;
    if (!Look())
        return 2;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(m_options.timeoutSeconds);
    while (m_moves < m_options.moves) {
        if (std::chrono::steady_clock::now() > end) {
            m_problems.push_back("the wandering did not end in time");
            return 1;
        }
        if (m_options.stop && m_options.stop(m_state))
            return 3;
        const std::string move = Move();
        ++m_moves;
        Log(KWStringUtils::Format("move %d: %s", m_moves, move.c_str()));
        if (!Look())
            return 2;
    }
    // To the sheet, which takes the answer on screen, and hand in from there.
    for (int i = 0; i < 100 && Int(m_state, "page") != 6; ++i) {
        if (Str(m_state, "window") == "VLMessagebox")
            m_driver.Click(kBoxOk);
        else if (Int(m_state, "page") == 5 &&
                 VLExamDriver::Usable(VLExamDriver::Control(m_state, kAnswerSheet)))
            m_driver.Click(kAnswerSheet);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (!Look())
            return 2;
    }
    if (Int(m_state, "page") != 6) {
        m_problems.push_back("the answer sheet did not open after the last move");
        return 1;
    }
    if (!m_options.handIn)
        return m_problems.empty() ? 0 : 1;
    VLDriveOptions drive;
    drive.socket = m_options.socket;
    drive.student = m_options.student;
    drive.timeoutSeconds = m_options.timeoutSeconds;
    drive.stop = m_options.stop;
    Log("handing in");
    VLExamDriver finish(drive);
    const int rc = finish.Run();
    if (rc != 0) {
        if (rc != 3)
            m_problems.push_back("the hand-in did not end with an accepted result: " + finish.LastError());
        return rc == 3 ? 3 : 1;
    }
    if (m_options.records)
        CheckResult(firstSeq);
    return m_problems.empty() ? 0 : 1;
}

// ---- looking ----

bool VLWanderer::Look() {
    if (!m_driver.State(m_state))
        return false;
    if (!m_driver.Answers(m_answers))
        return false;
    Observe();
    return true;
}

std::string VLWanderer::ListValue(const std::string& id, const char* member) const {
    for (const KWJsonValue& item : m_answers["list"]["answerlist"])
        if (Str(item, "id") == id)
            return Str(item, member);
    return std::string();
}

const KWJsonValue* VLWanderer::StoredRow() const {
    const std::string uid = Str(m_answers["list"], "uid");
    for (const KWJsonValue& row : m_answers["stored"])
        if (Str(row, "uid") == uid)
            return &row;
    return nullptr;
}

void VLWanderer::Observe() {
    for (const KWJsonValue& item : m_answers["list"]["answerlist"])
        if (item.isMember("userdata"))
            m_singing.insert(Str(item, "id"));
    const bool onQuestion = Int(m_state, "screen") == 4 && Int(m_state, "page") == 5;
    const std::string here = onQuestion ? Str(m_state, "questionId") : std::string();
    if (here != m_here) {
        if (!m_here.empty())
            OnLeft(m_here);
        m_here = here;
        if (!here.empty())
            OnArrived(here);
    }
    if (!m_here.empty()) {
        m_types[m_here] = Int(m_state, "type");
        const KWJsonValue& current = m_answers["current"];
        if (Str(current, "id") == m_here) {
            m_lastCurrent = Str(current, "answer");
            m_currentSeen = true;
            // Two store periods and a margin for a loaded machine.
            constexpr int64_t kStoredWithinMs = 6000;
            const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
            m_recentCurrent.emplace_back(now, m_lastCurrent);
            m_recentCurrent.erase(
                std::remove_if(m_recentCurrent.begin(), m_recentCurrent.end(),
                               [&](const auto& seen) { return seen.first < now - kStoredWithinMs; }),
                m_recentCurrent.end());
        }
        m_lastRecordState = Int(m_state, "recordState", 0);
        m_lastRhythmStarted = m_state["rhythm"].isObject() && m_state["rhythm"]["started"].asBool();
        // A take that ran to its end is the question's answer from now on.
        if (IsSinging(m_here) && m_lastRecordState == 3 && Int(m_state, "phase") == kPhaseAnswering &&
            !m_takeComplete) {
            m_takeComplete = true;
            const std::string file = ListValue(m_here, "userdata");
            if (file != m_takes[m_here])
                Log("question " + m_here + ": a whole take, " + file);
            m_takes[m_here] = file;
            if (!m_options.answerDir.empty())
                Expect(file.empty() || VLAnswerChecks::IsFinishedRecording(m_options.answerDir + file),
                       "question " + m_here + ": its finished take " + file +
                           " is not a whole recording on disk");
        }
    }
    CheckStored();
    if (Int(m_state, "page") == 6 && m_answers["sheet"].isArray())
        CheckSheet();
}

void VLWanderer::OnLeft(const std::string& id) {
    if (IsSinging(id)) {
        // Left during a recording: it replaces nothing whole; a first take, even cut short, is the answer.
        if (m_lastRecordState == 2 && !m_takeComplete && m_takes[id].empty())
            m_takes[id] = ListValue(id, "userdata");
        return;
    }
    const int type = m_types[id];
    // A rhythm attempt left before its music ended keeps the earlier taps.
    if ((type == 8 || type == 9) && m_lastRhythmStarted && !m_model[id].empty())
        return;
    if (!m_currentSeen) {
        // Nothing seen and no look acted on it: what it held before stands.
        if (!m_model.count(id) || !VLAnswerChecks::IsRealAnswer(m_model[id])) {
            m_model[id] = std::string();
            m_untouchedUnseen.insert(id);
        }
        return;
    }
    m_untouchedUnseen.erase(id);
    m_model[id] = m_lastCurrent;
}

bool VLWanderer::AsModelled(const std::string& id, const std::string& got) const {
    // A question passed over between two looks (queued clicks) was built and left all the same.
    auto it = m_model.find(id);
    if (it == m_model.end())
        return !VLAnswerChecks::IsRealAnswer(got);
    return got == it->second || (m_untouchedUnseen.count(id) && !VLAnswerChecks::IsRealAnswer(got));
}

void VLWanderer::OnArrived(const std::string& id) {
    m_takeComplete = false;
    m_recentCurrent.clear();
    m_lastRecordState = Int(m_state, "recordState", 0);
    m_lastRhythmStarted = false;
    const KWJsonValue& current = m_answers["current"];
    m_currentSeen = Str(current, "id") == id;
    m_lastCurrent = m_currentSeen ? Str(current, "answer") : std::string();
    // A question reopened shows what it was left with.
    if (IsSinging(id)) {
        if (m_takes.count(id))
            Expect(ListValue(id, "userdata") == m_takes[id], "question " + id + " reopened: its recording " +
                                                                 Quoted(ListValue(id, "userdata")) +
                                                                 " instead of " + Quoted(m_takes[id]));
        return;
    }
    auto it = m_model.find(id);
    if (it != m_model.end() && Str(current, "id") == id)
        Expect(AsModelled(id, m_lastCurrent), "question " + id + " reopened shows " + Quoted(m_lastCurrent) +
                                                  " instead of the answer it was left with, " +
                                                  Quoted(it->second));
}

void VLWanderer::CheckStored() {
    const KWJsonValue* row = StoredRow();
    if (!row) {
        Expect(m_model.empty() && m_takes.empty(), "user.db holds no answers of the exam");
        return;
    }
    std::map<std::string, const KWJsonValue*> stored;
    for (const KWJsonValue& item : (*row)["answerlist"])
        stored[Str(item, "id")] = &item;
    for (const auto& [id, answer] : m_model) {
        auto it = stored.find(id);
        const std::string value = it == stored.end() ? std::string("(missing)") : Str(*it->second, "answer");
        // The answer being given on screen reaches user.db within moments: what it showed lately is right
        // meanwhile.
        bool ok = AsModelled(id, value) || (id == m_here && value == m_lastCurrent);
        if (!ok && id == m_here)
            ok = std::any_of(m_recentCurrent.begin(), m_recentCurrent.end(),
                             [&](const auto& seen) { return seen.second == value; });
        Expect(ok, "question " + id + ": user.db holds " + Quoted(value) + " instead of " + Quoted(answer));
    }
    for (const auto& [id, file] : m_takes) {
        auto it = stored.find(id);
        const std::string value =
            it == stored.end() ? std::string("(missing)") : Str(*it->second, "userdata");
        Expect(value == file, "question " + id + ": user.db names the recording " + Quoted(value) +
                                  " instead of " + Quoted(file));
    }
}

void VLWanderer::CheckSheet() {
    for (const KWJsonValue& entry : m_answers["sheet"]) {
        const std::string id = Str(entry, "id");
        bool expected = false;
        if (IsSinging(id))
            expected = m_takes.count(id) && !m_takes[id].empty();
        else if (m_model.count(id))
            expected = VLAnswerChecks::IsRealAnswer(m_model[id]);
        Expect(entry["answered"].asBool() == expected, "question " + id + " shows as " +
                                                           (expected ? "unanswered" : "answered") +
                                                           " on the answer sheet");
    }
}

void VLWanderer::CheckResult(int64_t firstSeq) {
    const KWJsonValue records = m_options.records();
    const KWJsonValue* result = VLAnswerChecks::LatestResult(records, firstSeq, m_options.student);
    m_resultReceived = result != nullptr;
    if (!result) {
        Expect(false, "the platform received no result");
        return;
    }
    std::set<std::string> ids;
    for (const KWJsonValue& item : m_answers["list"]["answerlist"])
        ids.insert(Str(item, "id"));
    const auto sent = VLAnswerChecks::ParseResult((*result)["fields"]["result"].asString(), ids);
    for (const std::string& id : ids) {
        auto s = sent.find(id);
        const std::string got = s == sent.end() ? std::string("(nothing)") : s->second;
        ++m_resultAnswers;
        if (!IsSinging(id)) {
            const std::string want = m_model.count(id) ? m_model[id] : std::string();
            const bool same = AsModelled(id, got);
            m_resultDiffering += same ? 0 : 1;
            Expect(same,
                   "question " + id + ": the result carries " + Quoted(got) + " instead of " + Quoted(want));
            continue;
        }
        const std::string file = m_takes.count(id) ? m_takes[id] : std::string();
        if (file.empty()) {
            m_resultDiffering += got.empty() ? 0 : 1;
            Expect(got.empty(),
                   "question " + id + " was never recorded, yet the result carries " + Quoted(got));
            continue;
        }
        const KWJsonValue* upload = VLAnswerChecks::UploadNamedBy(records, got, firstSeq);
        const bool sameTake = upload && (m_options.answerDir.empty() ||
                                         (*upload)["md5"].asString() ==
                                             KWMD5Utils::CalcuteFileMD5String(m_options.answerDir + file));
        m_resultDiffering += sameTake ? 0 : 1;
        Expect(upload != nullptr, "question " + id + ": the result's answer " + Quoted(got) +
                                      " is not an upload of its take " + file);
        if (upload && !m_options.answerDir.empty())
            Expect(
                (*upload)["md5"].asString() == KWMD5Utils::CalcuteFileMD5String(m_options.answerDir + file),
                "question " + id + ": the upload its result names is not its take " + file);
    }
}

// ---- moving ----

std::string VLWanderer::Wait(int minMs, int maxMs) {
    const int ms = std::uniform_int_distribution<int>(minMs, maxMs)(m_random);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return KWStringUtils::Format("waits %.1f s", ms / 1000.0);
}

std::string VLWanderer::Move() {
    if (Str(m_state, "window") == "VLMessagebox") {
        m_driver.Click(kBoxOk);
        return "answers a message box";
    }
    if (Str(m_state, "window") != "VLStudentWnd") {
        m_driver.Cmd("{\"cmd\":\"key\",\"key\":\"escape\"}");
        return "closes " + Str(m_state, "window");
    }
    switch (Int(m_state, "page")) {
        case 5:
            return MoveOnQuestion();
        case 6:
            return Pick(8) == 0 ? Wait(200, 1500) : JumpFromSheet();
        default:
            return Wait(300, 1000);
    }
}

std::string VLWanderer::MoveOnQuestion() {
    const int phase = Int(m_state, "phase");
    const int type = Int(m_state, "type");
    const std::string where =
        "question " + Str(m_state, "questionId") + " (" + VLExamDriver::TypeName(type) +
        KWStringUtils::Format(", phase %d, recording %d, %d upload(s))", phase,
                              Int(m_state, "recordState", 0), Int(m_state, "pendingUploads", 0));
    const bool singing = type >= 3 && type <= 7;
    // The answers' look caught another question: the screen is changing over, and a
    // move now would change an answer the model did not see.
    if (!singing && type != 12 && Str(m_answers["current"], "id") != m_here)
        return where + ": " + Wait(100, 400);
    // Mostly on to the answering, sometimes away in the middle of the listening.
    if (phase != kPhaseAnswering) {
        const int roll = Pick(20);
        if (roll < 6 && VLExamDriver::Usable(VLExamDriver::Control(m_state, kStartAnswer))) {
            m_driver.Click(kStartAnswer);
            return where + ": starts answering early";
        }
        if (roll < 17)
            return where + ": " + Wait(1500, 6000);
        return where + ": " + Leave();
    }
    const int roll = Pick(20);
    if (!singing && roll < 9)
        return where + ": " + Answer(type);
    if (roll < 11 && VLExamDriver::Usable(VLExamDriver::Control(m_state, kUndo))) {
        m_driver.Click(kUndo);
        return where + ": 撤消";
    }
    if (roll < 12 && VLExamDriver::Usable(VLExamDriver::Control(m_state, kReset))) {
        m_driver.Click(kReset);
        return where + ": 重置";
    }
    if (roll < (singing ? 15 : 14))
        return where + ": " + Wait(300, singing ? 3500 : 1500);
    return where + ": " + Leave();
}

std::string VLWanderer::Answer(int type) {
    auto pick = [this](const std::vector<const KWJsonValue*>& list) -> const KWJsonValue* {
        return list.empty() ? nullptr : list[static_cast<size_t>(Pick(static_cast<int>(list.size())))];
    };
    auto drag = [this](const KWJsonValue* from, const KWJsonValue* to, const char* what) -> std::string {
        if (!from || !to)
            return std::string("finds nothing to drag for ") + what;
        m_driver.DragFrom(CentreX(from), CentreY(from), CentreX(to), CentreY(to));
        return std::string("drags ") + what;
    };
    switch (type) {
        case 1:
        case 2:
        case 10: {
            std::vector<const KWJsonValue*> options = VLExamDriver::InArea(m_state, kSingleOption);
            for (const KWJsonValue* c : VLExamDriver::InArea(m_state, kMultipleOption))
                options.push_back(c);
            const KWJsonValue* option = pick(options);
            if (!option)
                return "finds no option";
            m_driver.ClickAt(Int(*option, "x") + 8, CentreY(option));
            return "clicks option " + Str(*option, "text");
        }
        case 8:
        case 9:
            // A tap, pressed and released: the student never leaves with the key held.
            m_driver.Cmd("{\"cmd\":\"key\",\"key\":\"space\"}");
            return "taps the space bar";
        case 11:
            return drag(pick(VLExamDriver::InArea(m_state, kFirstPoint)),
                        pick(VLExamDriver::InArea(m_state, kSecondPoint)), "a line");
        case 13:
            return drag(pick(VLExamDriver::InArea(m_state, kSortPicture)),
                        pick(VLExamDriver::InArea(m_state, kSortSlot)), "a picture");
        case 14: {
            // A loose piece, or one on the board, onto a cell.
            std::vector<const KWJsonValue*> from = VLExamDriver::InArea(m_state, kJigsawPiece);
            if (from.empty() || Pick(3) == 0)
                from = VLExamDriver::InArea(m_state, kJigsawCell);
            return drag(pick(from), pick(VLExamDriver::InArea(m_state, kJigsawCell)), "a piece");
        }
        case 15:
            m_driver.AnswerDotLine(m_state);
            return "drags a segment";
        case 16: {
            const KWJsonValue* swatch = pick(VLExamDriver::InArea(m_state, kSwatch));
            if (!swatch)
                return "finds no colour";
            m_driver.ClickAt(CentreX(swatch), CentreY(swatch));
            return "picks a colour";
        }
        default:
            return Wait(500, 3000);
    }
}

std::string VLWanderer::Leave() {
    std::vector<std::pair<int, const char*>> ways;
    if (VLExamDriver::Usable(VLExamDriver::Control(m_state, kPrevious)))
        ways.emplace_back(kPrevious, "上一题");
    if (VLExamDriver::Usable(VLExamDriver::Control(m_state, kNext))) {
        // Forward more often than back: the student gets through the paper.
        ways.emplace_back(kNext, "下一题");
        ways.emplace_back(kNext, "下一题");
    }
    if (VLExamDriver::Usable(VLExamDriver::Control(m_state, kAnswerSheet)))
        ways.emplace_back(kAnswerSheet, "答题卡");
    if (ways.empty())
        return Wait(300, 1500);
    const auto& [id, name] = ways[static_cast<size_t>(Pick(static_cast<int>(ways.size())))];
    m_driver.Click(id);
    return std::string("leaves by ") + name;
}

std::string VLWanderer::JumpFromSheet() {
    // The sheet's numbers in the order the sheet lists its questions.
    std::vector<const KWJsonValue*> numbers;
    for (const KWJsonValue& c : m_state["controls"])
        if (Int(c, "id") == kSheetNumber)
            numbers.push_back(&c);
    const KWJsonValue& sheet = m_answers["sheet"];
    if (numbers.empty() || !sheet.isArray() || numbers.size() != sheet.size())
        return Wait(200, 800);
    // Only what the sheet shows without scrolling it.
    const KWJsonValue* area = VLExamDriver::Control(m_state, kSheetArea);
    std::vector<size_t> reachable;
    for (size_t k = 0; k < numbers.size(); ++k) {
        const int y = CentreY(numbers[k]);
        if ((*numbers[k])["enabled"].asBool() &&
            (!area || (y > Int(*area, "y") && y < Int(*area, "y") + Int(*area, "h"))))
            reachable.push_back(k);
    }
    if (reachable.empty())
        return Wait(200, 800);
    const size_t i = reachable[static_cast<size_t>(Pick(static_cast<int>(reachable.size())))];
    KWJsonValue reply;
    const bool clicked = m_driver.Cmd(KWStringUtils::Format("{\"cmd\":\"click\",\"x\":%d,\"y\":%d}",
                                                            CentreX(numbers[i]), CentreY(numbers[i])),
                                      &reply);
    return "reopens question " + Str(sheet[static_cast<Json::ArrayIndex>(i)], "id") + " from the sheet" +
           (clicked ? std::string() : " (refused: " + Str(reply, "error") + ")");
}

}  // namespace KwLib
