#include "tools/vl-drive/VLExamDriver.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <thread>
#include <vector>

#include "platform/common/KWStringUtils.h"
#include "tools/vl-drive/VLAnswerChecks.h"

namespace KwLib {

namespace {

// Control ids of the exam window that a student uses.
constexpr int kStudentNumber = 516, kSignIn = 514, kConfirm = 2002;
constexpr int kHeadphoneTest = 1951, kClear = 1952, kStartExam = 1954, kMethodOk = 1959;
constexpr int kPaperFailure = 1602, kPaperRetry = 1604;
constexpr int kNext = 1956, kStartAnswer = 1957, kHandIn = 1958;
constexpr int kSubmitFailure = 1702, kSubmitRetry = 1703;
constexpr int kBoxOk = 105, kBoxText = 104;
constexpr int kSingleOption = 2058, kMultipleOption = 2059;
constexpr int kQuestionArea = 2050;
// The drag-and-draw elements' parts.
constexpr int kFirstPoint = 2101, kSecondPoint = 2102;  // connection
constexpr int kSortPicture = 2065, kSortSlot = 2066;    // sort
constexpr int kJigsawPiece = 2067, kJigsawCell = 2068;  // jigsaw
constexpr int kResetButton = 2057;                      // under the dot-line picture
constexpr int kDotLineWidth = 600, kDotLineHeight = 400, kDotLineGap = 10;
constexpr int kSwatch = 2070;  // colouring

using VLAnswerChecks::CentreX;
using VLAnswerChecks::CentreY;
using VLAnswerChecks::Int;

// This machine's steady clock in milliseconds, fractional.
double SteadyMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Raises the calling thread to the lowest real-time priority while it lives,
// when the system allows it; otherwise changes nothing.
class RealTimeScope {
public:
    RealTimeScope() {
        sched_param param{};
        param.sched_priority = 1;
        m_raised = pthread_getschedparam(pthread_self(), &m_policy, &m_param) == 0 &&
                   pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    }
    ~RealTimeScope() {
        if (m_raised)
            pthread_setschedparam(pthread_self(), m_policy, &m_param);
    }

private:
    bool m_raised = false;
    int m_policy = SCHED_OTHER;
    sched_param m_param{};
};

// Sleeps until `ms` on the steady clock; the last stretch is spun, so the key
// leaves within a few microseconds of its time.
void SleepUntil(double ms) {
    const double coarse = ms - 3.0 - SteadyMs();
    if (coarse > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(coarse * 1000)));
    while (SteadyMs() < ms) {
    }
}

// Reading order: top to bottom, then left to right.
bool Before(const KWJsonValue* a, const KWJsonValue* b) {
    return std::make_pair(Int(*a, "y"), Int(*a, "x")) < std::make_pair(Int(*b, "y"), Int(*b, "x"));
}

}  // namespace

VLExamDriver::VLExamDriver(VLDriveOptions options) : m_options(std::move(options)) {}

void VLExamDriver::Log(const std::string& line) {
    if (line == m_lastStep)
        return;
    m_lastStep = line;
    if (m_options.log)
        m_options.log(line);
}

bool VLExamDriver::Connect() {
    if (m_client.IsConnected())
        return true;
    // A whole classroom started at once on a small machine takes a while to open its channels.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < end) {
        if (m_client.Connect(m_options.socket, &m_error))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

bool VLExamDriver::Send(const KWJsonValue& request, KWJsonValue& answer) {
    std::string line;
    if (!m_client.Exchange(KWJsonWriter::Write(request), line, 120000)) {
        m_error = "the client stopped answering";
        m_client.Close();
        return false;
    }
    if (!KWJsonReader::Parse(line, answer) || !answer.isObject()) {
        m_error = "not an answer: " + line;
        return false;
    }
    return true;
}

bool VLExamDriver::Cmd(const std::string& json, KWJsonValue* answer) {
    KWJsonValue request, reply;
    if (!KWJsonReader::Parse(json, request))
        return false;
    if (!Send(request, reply))
        return false;
    if (answer)
        *answer = reply;
    // A refused input (a control that went away meanwhile) is not fatal: the next look decides.
    return reply["ok"].asBool();
}

bool VLExamDriver::Click(int id) {
    return Cmd(KWStringUtils::Format("{\"cmd\":\"click\",\"id\":%d}", id));
}

bool VLExamDriver::ClickAt(int x, int y) {
    return Cmd(KWStringUtils::Format("{\"cmd\":\"click\",\"x\":%d,\"y\":%d}", x, y));
}

bool VLExamDriver::DragFrom(int x, int y, int toX, int toY) {
    return Cmd(KWStringUtils::Format("{\"cmd\":\"drag\",\"from\":[%d,%d],\"to\":[%d,%d],\"steps\":10}", x, y,
                                     toX, toY));
}

bool VLExamDriver::State(KWJsonValue& state) {
    KWJsonValue request(Json::objectValue);
    request["cmd"] = "state";
    return Send(request, state) && state["ok"].asBool();
}

bool VLExamDriver::Answers(KWJsonValue& answers) {
    KWJsonValue request(Json::objectValue);
    request["cmd"] = "answers";
    return Send(request, answers) && answers["ok"].asBool();
}

void VLExamDriver::Screenshot(const std::string& name) {
    if (m_options.screenshotDir.empty() || !m_shot.insert(name).second)
        return;
    KWJsonValue request(Json::objectValue), answer;
    request["cmd"] = "screenshot";
    request["path"] = m_options.screenshotDir + "/" + name + ".png";
    Send(request, answer);
}

const KWJsonValue* VLExamDriver::Control(const KWJsonValue& state, int id) {
    for (const KWJsonValue& c : state["controls"])
        if (Int(c, "id") == id)
            return &c;
    return nullptr;
}

bool VLExamDriver::Usable(const KWJsonValue* control) {
    return control && (*control)["enabled"].asBool();
}

std::string VLExamDriver::TypeName(int type) {
    switch (type) {
        case 1:
        case 2:
        case 10:
            return "choice";
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
            return "singing";
        case 8:
        case 9:
            return "rhythm";
        case 11:
            return "connection";
        case 13:
            return "sort";
        case 14:
            return "jigsaw";
        case 15:
            return "dot-line";
        case 16:
            return "colouring";
        default:
            return "other";
    }
}

int VLExamDriver::Run() {
    if (!Connect())
        return 2;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(m_options.timeoutSeconds);
    while (std::chrono::steady_clock::now() < end) {
        KWJsonValue state;
        if (!State(state))
            return 2;
        if (Int(state, "page") == 8 && Int(state, "screen") == 4) {
            Screenshot("page8-finished");
            Log("result accepted");
            return 0;
        }
        if (m_options.stop && m_options.stop(state))
            return 3;
        // Recordings leave for the platform in the background: said as they arrive there.
        const int pending = Int(state, "pendingUploads", 0);
        if (pending < m_pendingUploads)
            Log(pending == 0 ? "recording uploaded"
                             : KWStringUtils::Format("recording uploaded (%d to go)", pending));
        m_pendingUploads = pending;
        Step(state);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    m_error = "the exam did not end in time";
    return 1;
}

bool VLExamDriver::Key(const char* key, bool down, double time) {
    return Cmd(KWStringUtils::Format("{\"cmd\":\"key\",\"key\":\"%s\",\"down\":%s,\"time\":%.0f}", key,
                                     down ? "true" : "false", std::floor(time)));
}

bool VLExamDriver::AnswerRhythm(const KWJsonValue& first) {
    const std::string id = first["questionId"].asString();
    KWJsonValue state = first;
    // The beats count from the music's first sample at the output: wait for it.
    const double giveUp = SteadyMs() + 20000;
    while (!state["rhythm"]["originFromAudio"].asBool()) {
        if (SteadyMs() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!State(state) || state["questionId"].asString() != id || Int(state, "phase") != 7)
            return false;
    }
    // The program's clock against ours: from the state answer with the
    // shortest round trip. When its "now" falls inside that trip the two are
    // the same steady clock and need no offset.
    double offset = 0, bestTrip = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double sent = SteadyMs();
        if (!State(state))
            return false;
        const double back = SteadyMs();
        const double now = state["now"].asDouble();
        if (back - sent < bestTrip) {
            bestTrip = back - sent;
            offset = (now >= std::floor(sent) && now <= back) ? 0.0 : (sent + back) / 2 - now;
        }
    }
    const KWJsonValue& rhythm = state["rhythm"];
    const double origin = rhythm["origin"].asDouble();
    // Every key down and up, in time order: a short press for a beat, the
    // whole length for a long note.
    std::vector<std::pair<double, bool>> keys;
    for (const KWJsonValue& beat : rhythm["beats"]) {
        keys.emplace_back(beat.asDouble(), true);
        keys.emplace_back(beat.asDouble() + 80, false);
    }
    for (const KWJsonValue& note : rhythm["longNotes"]) {
        keys.emplace_back(note[0].asDouble(), true);
        keys.emplace_back(note[1].asDouble(), false);
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // A busy machine wakes a sleeping thread late; for the few seconds of
    // tapping this one goes first where the system allows it.
    RealTimeScope onTime;
    double worstLateness = 0;
    for (const auto& [at, down] : keys) {
        // A little past the millisecond, so the program's whole-millisecond stamp is that millisecond.
        SleepUntil(origin + at + offset + 0.3);
        // Stamped now, as a keyboard stamps a key: a busy machine may pass the line on later.
        const double pressed = SteadyMs();
        worstLateness = std::max(worstLateness, pressed - (origin + at + offset));
        if (!Key("space", down, pressed - offset))
            return false;
    }
    Log(KWStringUtils::Format("rhythm: keys at most %.1f ms late", worstLateness));
    // The feedback of the last tap is still on the track.
    Screenshot("rhythm-" + id + "-tapped");
    // What the window judged: the beats still waiting for a tap.
    if (State(state) && state["questionId"].asString() == id)
        m_rhythmMissed += Int(state["rhythm"], "pendingBeats", 0);
    return true;
}

void VLExamDriver::AnswerBox(const KWJsonValue& state) {
    const KWJsonValue* text = Control(state, kBoxText);
    Log("message: " + (text ? (*text)["text"].asString() : std::string()));
    Click(kBoxOk);
    // A box answers the sign-in too: the next look at the sign-in screen may try again.
    m_signInSent = {};
}

bool VLExamDriver::Step(const KWJsonValue& state) {
    const std::string window = state["window"].asString();
    if (window == "VLMessagebox") {
        AnswerBox(state);
        return true;
    }
    if (window != "VLStudentWnd") {
        // A picture viewer or the information card: closed as a student would.
        Cmd("{\"cmd\":\"key\",\"key\":\"escape\"}");
        return true;
    }
    const int screen = Int(state, "screen");
    const int page = Int(state, "page");
    if (screen == 2) {
        Screenshot("screen2-sign-in");
        // The check of the number is on its way: a slow platform gets its time, as a student would give it.
        if (m_typedNumber && std::chrono::steady_clock::now() - m_signInSent < std::chrono::seconds(15)) {
            Log("waiting for the platform");
            return true;
        }
        Click(kStudentNumber);
        Cmd("{\"cmd\":\"key\",\"key\":\"end\"}");
        // Whatever a previous try left in the field goes first.
        for (int i = 0; i < 24; ++i)
            Cmd("{\"cmd\":\"key\",\"key\":\"backspace\"}");
        KWJsonValue type(Json::objectValue), answer;
        type["cmd"] = "type";
        type["text"] = m_options.student;
        Send(type, answer);
        Click(kSignIn);
        m_typedNumber = true;
        m_signInSent = std::chrono::steady_clock::now();
        Log("student number " + m_options.student + " entered");
        return true;
    }
    if (screen == 3) {
        Screenshot("screen3-confirm");
        if (Usable(Control(state, kConfirm)))
            Click(kConfirm);
        return true;
    }
    if (screen != 4)
        return false;
    if (!m_signedIn) {
        m_signedIn = true;
        Log(m_typedNumber ? "signed in" : "direct start, no sign-in");
    }
    Screenshot(KWStringUtils::Format("page%d", page));
    switch (page) {
        case 0:
            if (Usable(Control(state, kHeadphoneTest)))
                Click(kHeadphoneTest);
            Log("headphone test");
            break;
        case 1:
            Click(kClear);
            Log("headphones clear");
            break;
        case 2:
            Click(kMethodOk);
            Log("performance method chosen");
            break;
        case 3:
            if (Usable(Control(state, kStartExam))) {
                Click(kStartExam);
                Log("exam started");
            }
            break;
        case 4:
            if (Control(state, kPaperFailure) && m_paperRetries < 3) {
                ++m_paperRetries;
                Log("paper download failed; retrying");
                Click(kPaperRetry);
            } else {
                Log("loading the paper");
            }
            break;
        case 5:
            OnQuestion(state);
            break;
        case 6:
            if (!m_handedIn && Usable(Control(state, kHandIn))) {
                m_handedIn = true;
                Log("answer sheet: handing in");
                Click(kHandIn);
            }
            break;
        case 7:
            if (Control(state, kSubmitFailure) && m_submitRetries < 3) {
                ++m_submitRetries;
                Log("submission failed; retrying");
                Click(kSubmitRetry);
            } else {
                Log("submitting");
            }
            break;
        default:
            break;
    }
    return true;
}

void VLExamDriver::OnQuestion(const KWJsonValue& state) {
    const std::string id = state["questionId"].asString();
    const int type = Int(state, "type");
    const int phase = Int(state, "phase");
    const int index = Int(state, "index");
    m_count = std::max(m_count, Int(state, "count", 0));
    const std::string where =
        KWStringUtils::Format("question %d/%d %s", index + 1, m_count, TypeName(type).c_str());
    if (id.empty())
        return;
    if (phase != 7) {
        // Listening material can be skipped where the window offers it.
        if (!m_options.listenFully && Usable(Control(state, kStartAnswer)))
            Click(kStartAnswer);
        Log(where + ": listening");
        return;
    }
    Screenshot(KWStringUtils::Format("q%02d-%s", index + 1, TypeName(type).c_str()));
    if (!m_answered.count(id)) {
        if (type == 1 || type == 2 || type == 10) {
            // The first option shown.
            const KWJsonValue* first = nullptr;
            for (const KWJsonValue& c : state["controls"]) {
                const int cid = Int(c, "id");
                if ((cid == kSingleOption || cid == kMultipleOption) && c["enabled"].asBool() &&
                    (!first || Int(c, "y") < Int(*first, "y")))
                    first = &c;
            }
            if (!first)
                return;  // a section without options: nothing to choose
            ClickAt(Int(*first, "x") + 8, Int(*first, "y") + Int(*first, "h") / 2);
            m_answered.insert(id);
            Log(where + " answered");
        } else if (type == 8 || type == 9) {
            if (!AnswerRhythm(state))
                return;
            m_answered.insert(id);
            Log(where + " tapped");
        } else if (type >= 3 && type <= 7) {
            const int record = Int(state, "recordState");
            if (record != 3) {
                Log(where +
                    (record == 2 ? ": singing (recording)" : ": singing (waiting for the start mark)"));
                return;
            }
            m_answered.insert(id);
            Log(where + " recorded");
        } else if (type == 11 || (type >= 13 && type <= 16)) {
            if (id != m_handQuestion) {
                m_handQuestion = id;
                m_handStep = 0;
            }
            if (!AnswerByHand(type, state)) {
                Log(where + ": answering");
                return;
            }
            m_answered.insert(id);
            if (m_handStep == 0) {
                m_skipped.insert(id);
                Log(where + " skipped: nothing to drag");
            } else {
                Log(where + " answered");
            }
        } else {
            // No way to answer this kind yet: moved past, left unanswered.
            m_answered.insert(id);
            m_skipped.insert(id);
            Log(where + " skipped");
        }
        return;  // the answer is taken when the question is left
    }
    if (Usable(Control(state, kNext)))
        Click(kNext);
}

// ---- the drag-and-draw kinds: what the screen shows, nothing else ----

std::vector<const KWJsonValue*> VLExamDriver::InArea(const KWJsonValue& state, int id) {
    std::vector<const KWJsonValue*> found;
    const KWJsonValue* area = Control(state, kQuestionArea);
    if (!area)
        return found;
    const int left = Int(*area, "x"), top = Int(*area, "y");
    const int right = left + Int(*area, "w"), bottom = top + Int(*area, "h");
    for (const KWJsonValue& c : state["controls"]) {
        if (Int(c, "id") != id || !c["enabled"].asBool())
            continue;
        // A part scrolled out of the area cannot be reached with the mouse.
        const int x = CentreX(&c), y = CentreY(&c);
        if (x >= left && x < right && y >= top && y < bottom)
            found.push_back(&c);
    }
    return found;
}

bool VLExamDriver::AnswerByHand(int type, const KWJsonValue& state) {
    switch (type) {
        case 11:
            return AnswerConnection(state);
        case 13:
            return AnswerSort(state);
        case 14:
            return AnswerJigsaw(state);
        case 15:
            return AnswerDotLine(state);
        default:
            return AnswerColouring(state);
    }
}

bool VLExamDriver::AnswerConnection(const KWJsonValue& state) {
    // The n-th point of the first column to the n-th of the second.
    auto left = InArea(state, kFirstPoint), right = InArea(state, kSecondPoint);
    std::sort(left.begin(), left.end(), Before);
    std::sort(right.begin(), right.end(), Before);
    const size_t i = static_cast<size_t>(m_handStep);
    if (i >= std::min(left.size(), right.size()))
        return true;
    DragFrom(CentreX(left[i]), CentreY(left[i]), CentreX(right[i]), CentreY(right[i]));
    ++m_handStep;
    return false;
}

bool VLExamDriver::AnswerSort(const KWJsonValue& state) {
    // The n-th picture into the n-th slot; a placed picture leaves its frame behind.
    auto pictures = InArea(state, kSortPicture), slots = InArea(state, kSortSlot);
    std::sort(pictures.begin(), pictures.end(), Before);
    std::sort(slots.begin(), slots.end(), Before);
    const size_t i = static_cast<size_t>(m_handStep);
    if (i >= std::min(pictures.size(), slots.size()))
        return true;
    DragFrom(CentreX(pictures[i]), CentreY(pictures[i]), CentreX(slots[i]), CentreY(slots[i]));
    ++m_handStep;
    return false;
}

bool VLExamDriver::AnswerJigsaw(const KWJsonValue& state) {
    // The piece on top of the tray (listed last) onto the next cell; the
    // default piece's cell takes nothing, so the piece is tried on the next.
    const auto pieces = InArea(state, kJigsawPiece);
    auto cells = InArea(state, kJigsawCell);
    std::sort(cells.begin(), cells.end(), Before);
    const size_t i = static_cast<size_t>(m_handStep);
    if (pieces.empty() || i >= cells.size())
        return true;
    const KWJsonValue* top = pieces.back();
    DragFrom(CentreX(top), CentreY(top), CentreX(cells[i]), CentreY(cells[i]));
    ++m_handStep;
    return false;
}

bool VLExamDriver::AnswerDotLine(const KWJsonValue& state) {
    // The picture lies above its buttons, its right edge over theirs. The
    // pointer sweeps across it until the hand shows it is over a segment,
    // which is then dragged aside.
    const KWJsonValue* reset = Control(state, kResetButton);
    if (!reset)
        return true;
    const int right = Int(*reset, "x") + Int(*reset, "w");
    const int bottom = Int(*reset, "y") - kDotLineGap;
    const int left = right - kDotLineWidth, top = bottom - kDotLineHeight;
    for (int row : {200, 100, 300, 50, 350}) {
        for (int x = left + 3; x < right; x += 6) {
            KWJsonValue seen;
            if (!Cmd(KWStringUtils::Format("{\"cmd\":\"move\",\"x\":%d,\"y\":%d}", x, top + row)) ||
                !State(seen))
                return true;
            if (seen["cursor"].asString() != "hand")
                continue;
            // Towards the middle: a segment let go outside the picture is not moved.
            const int toX = x < (left + right) / 2 ? x + 40 : x - 40;
            const int toY = row < kDotLineHeight / 2 ? top + row + 25 : top + row - 25;
            if (!DragFrom(x, top + row, toX, toY))
                return true;
            // A drag the element did not take (its answering not yet open, or it closed meanwhile)
            // is no answer: the sweep goes on.
            KWJsonValue answers;
            if (Answers(answers) && answers["current"]["answer"].asString().empty()) {
                Log(KWStringUtils::Format("dot-line: a drag at %d,%d moved nothing; sweeping on", x,
                                          top + row));
                continue;
            }
            ++m_handStep;
            return true;
        }
    }
    return true;
}

bool VLExamDriver::AnswerColouring(const KWJsonValue& state) {
    // The first colour of every row (rows are the swatches' heights), one click at a time.
    std::map<int, const KWJsonValue*> rows;
    for (const KWJsonValue* swatch : InArea(state, kSwatch)) {
        auto it = rows.find(Int(*swatch, "y"));
        if (it == rows.end() || Int(*swatch, "x") < Int(*it->second, "x"))
            rows[Int(*swatch, "y")] = swatch;
    }
    if (static_cast<size_t>(m_handStep) >= rows.size())
        return true;
    auto it = std::next(rows.begin(), m_handStep);
    ClickAt(CentreX(it->second), CentreY(it->second));
    ++m_handStep;
    return false;
}

}  // namespace KwLib
