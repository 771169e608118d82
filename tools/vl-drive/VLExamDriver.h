#pragma once
// VLExamDriver: takes an exam in a running VLStudent through its automation
// channel, as a student with a mouse and a keyboard would: signs in, passes the
// device check, picks the first performance method offered, answers every
// question it meets by its type, opens the answer sheet and hands in. It knows
// nothing of the paper beyond what the screen and the "state" answers show.
//
// Used by the end-to-end tests, the rehearsal run and scripts/e2e.sh.
// One thread; the program it drives runs in another process.
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/common/KWJson.h"
#include "platform/common/KWLineSocketClient.h"

namespace KwLib {

struct VLDriveOptions {
    std::string socket;            // the client's -automation path
    std::string student = "1001";  // student number for the sign-in screen
    std::string screenshotDir;     // a PNG of every page and question when not empty
    int timeoutSeconds = 1200;     // the whole exam
    // Each step as it happens ("signed in", "question 3/24 choice answered").
    std::function<void(const std::string&)> log;
    // Asked after every look at the screen, before acting on it: true ends Run
    // with 3 (kill trials stop the driver at a moment of their choice).
    std::function<bool(const KWJsonValue& state)> stop;
    // Listens to all the material instead of starting to answer early, as a
    // student who waits does (the rehearsal's timing).
    bool listenFully = false;
};

class VLExamDriver {
public:
    explicit VLExamDriver(VLDriveOptions options);

    // Drives until the finished page (0), a time-out (1), a lost connection (2)
    // or the stop callback's say (3).
    int Run();
    // Questions answered, and questions passed over because the driver has no way to answer their kind.
    int AnsweredCount() const { return static_cast<int>(m_answered.size() - m_skipped.size()); }
    int SkippedCount() const { return static_cast<int>(m_skipped.size()); }
    int QuestionCount() const { return m_count; }
    // Beats and long notes of the rhythm questions that were not judged a hit.
    int RhythmBeatsMissed() const { return m_rhythmMissed; }
    const std::string& LastError() const { return m_error; }

    // ---- the channel, for drivers built on this one (the wandering student) ----
    bool Connect();
    bool Send(const KWJsonValue& request, KWJsonValue& answer);
    // A command as JSON text; true when the program answered "ok".
    bool Cmd(const std::string& json, KWJsonValue* answer = nullptr);
    bool Click(int id);
    bool ClickAt(int x, int y);
    bool DragFrom(int x, int y, int toX, int toY);
    bool State(KWJsonValue& state);
    // The program's answers: the list, what user.db holds and the answer on screen.
    bool Answers(KWJsonValue& answers);
    void Screenshot(const std::string& name);
    // Sweeps the dot-line picture for a segment and drags it aside.
    bool AnswerDotLine(const KWJsonValue& state);
    // The usable controls with an id inside the question area, in the order "state" lists them.
    static std::vector<const KWJsonValue*> InArea(const KWJsonValue& state, int id);
    static const KWJsonValue* Control(const KWJsonValue& state, int id);
    static bool Usable(const KWJsonValue* control);
    static std::string TypeName(int type);

private:
    void Log(const std::string& line);

    // One look at the screen and at most one action; false when nothing moves any more.
    bool Step(const KWJsonValue& state);
    void OnQuestion(const KWJsonValue& state);
    void AnswerBox(const KWJsonValue& state);
    // Taps the space bar at the rhythm's beat times; false when the question
    // went away or its music never started.
    bool AnswerRhythm(const KWJsonValue& state);
    // A key going down or up at `time` on the program's clock.
    bool Key(const char* key, bool down, double time);
    // The drag-and-draw kinds, one drag or click per look; true once the question is answered
    // (or there is nothing left to do on it).
    bool AnswerByHand(int type, const KWJsonValue& state);
    bool AnswerConnection(const KWJsonValue& state);
    bool AnswerSort(const KWJsonValue& state);
    bool AnswerJigsaw(const KWJsonValue& state);
    bool AnswerColouring(const KWJsonValue& state);

    VLDriveOptions m_options;
    KWLineSocketClient m_client;
    std::string m_error;
    std::set<std::string> m_answered;  // question ids dealt with
    std::set<std::string> m_skipped;   // of those, the ones left unanswered
    std::set<std::string> m_shot;      // screenshots taken
    std::string m_lastStep;
    std::string m_handQuestion;  // the drag-and-draw question being answered
    int m_handStep = 0;          // drags and clicks made on it
    int m_count = 0;
    int m_rhythmMissed = 0;
    int m_paperRetries = 0;
    int m_submitRetries = 0;
    int m_pendingUploads = 0;  // recordings waiting for their upload at the last look
    bool m_signedIn = false;
    bool m_typedNumber = false;
    std::chrono::steady_clock::time_point m_signInSent;
    bool m_handedIn = false;
};

}  // namespace KwLib
