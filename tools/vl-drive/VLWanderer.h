#pragma once
// VLWanderer: takes an exam as a wandering student does. After the sign-in it
// makes random moves over the real window: answers, changes an answer, undoes,
// resets, goes back and forth, opens the answer sheet and reopens any question
// from it, leaves a question in any phase (while its prompt plays, before a
// singing start mark, during a recording, while an upload runs). It keeps its
// own model of every answer given: what each element showed when it was left,
// and for singing the take that ran to its end. After every move it checks
// that user.db, the element of a reopened question and the answer sheet agree
// with the model, and after the hand-in that the result the platform received
// carries exactly the model's answers, every finished recording as the address
// of its own upload.
//
// One thread; the program it drives runs in another process.
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/common/KWJson.h"
#include "tools/vl-drive/VLExamDriver.h"

namespace KwLib {

struct VLWanderOptions {
    std::string socket;
    std::string student = "1001";
    std::string answerDir;  // the client's "AnswerData" folder (recordings are compared with their uploads)
    int moves = 50;
    uint32_t seed = 1;
    int timeoutSeconds = 1800;
    // Every request the platform received, oldest first; without it the result is not checked.
    std::function<KWJsonValue()> records;
    std::function<void(const std::string&)> log;
    // Asked at every look, before the next move: true ends Run with 3 (a kill trial's moment).
    std::function<bool(const KWJsonValue& state)> stop;
    // Hands in after the last move (otherwise Run ends there with 0).
    bool handIn = true;
};

class VLWanderer {
public:
    explicit VLWanderer(VLWanderOptions options);

    // 0 when every check held, 1 when one did not (Problems() says which),
    // 2 when the program could not be reached or stopped answering, 3 when `stop` ended it.
    int Run();
    int MovesMade() const { return m_moves; }
    int ChecksMade() const { return m_checks; }
    const std::vector<std::string>& Problems() const { return m_problems; }
    // The platform's record of the hand-in against the model (with `records`):
    // whether a result came, how many answers it was checked for, how many differ.
    bool ResultReceived() const { return m_resultReceived; }
    int ResultAnswers() const { return m_resultAnswers; }
    int ResultDiffering() const { return m_resultDiffering; }

private:
    bool Look();
    void Observe();
    void OnLeft(const std::string& id);
    void OnArrived(const std::string& id);
    void CheckStored();
    void CheckSheet();
    void CheckResult(int64_t firstSeq);
    void Expect(bool ok, const std::string& problem);
    // `got` is what the model says question `id` holds.
    bool AsModelled(const std::string& id, const std::string& got) const;
    // One random move from what the screen shows; its description.
    std::string Move();
    std::string MoveOnQuestion();
    std::string Answer(int type);
    std::string Leave();
    std::string JumpFromSheet();
    std::string Wait(int minMs, int maxMs);
    bool IsSinging(const std::string& id) const { return m_singing.count(id) > 0; }
    std::string ListValue(const std::string& id, const char* member) const;
    const KWJsonValue* StoredRow() const;
    int Pick(int count);
    void Log(const std::string& line);

    VLWanderOptions m_options;
    VLExamDriver m_driver;
    std::mt19937 m_random;
    KWJsonValue m_state;
    KWJsonValue m_answers;

    // The model: the answer each question's element showed when it was left,
    // and the take each singing question keeps (its file name).
    std::map<std::string, std::string> m_model;
    std::map<std::string, std::string> m_takes;
    std::set<std::string> m_singing;
    std::map<std::string, int> m_types;

    // The question on screen at the last look and what it showed then.
    std::string m_here;
    std::string m_lastCurrent;
    // Whether any look of this visit caught the element's answer: the state and the
    // answers are two requests, so a visit cut short by a queued click may see none.
    bool m_currentSeen = false;
    // Questions left without a seen answer and with none given before: their element
    // handed in its untouched form ("" or a sort's "-1,-1,-1,-1"), which the model cannot spell;
    // so does a question the model never saw at all.
    std::set<std::string> m_untouchedUnseen;
    // What the element on screen showed at each check, with when (steady clock, ms): the
    // window stores the answer being given every 2 s, so user.db may hold any of the last
    // few seconds' answers while the student clicks on.
    std::vector<std::pair<int64_t, std::string>> m_recentCurrent;
    int m_lastRecordState = 0;
    bool m_lastRhythmStarted = false;
    bool m_takeComplete = false;  // this visit's recording ran to its end

    int m_moves = 0;
    int m_checks = 0;
    bool m_resultReceived = false;
    int m_resultAnswers = 0;
    int m_resultDiffering = 0;
    std::vector<std::string> m_problems;
};

}  // namespace KwLib
