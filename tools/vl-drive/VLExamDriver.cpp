#include "tools/vl-drive/VLExamDriver.h"

#include <chrono>
#include <thread>

#include "platform/common/KWStringUtils.h"

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

int Int(const KWJsonValue& v, const char* name, int fallback = -1) {
    return v.isObject() && v[name].isInt() ? v[name].asInt() : fallback;
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
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
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

bool VLExamDriver::State(KWJsonValue& state) {
    KWJsonValue request(Json::objectValue);
    request["cmd"] = "state";
    return Send(request, state) && state["ok"].asBool();
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
    const std::string where = KWStringUtils::Format("question %d/%d %s", index + 1, m_count, TypeName(type).c_str());
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
        } else if (type >= 3 && type <= 7) {
            const int record = Int(state, "recordState");
            if (record != 3) {
                Log(where + (record == 2 ? ": singing (recording)" : ": singing (waiting for the start mark)"));
                return;
            }
            m_answered.insert(id);
            Log(where + " recorded");
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

}  // namespace KwLib
