#pragma once
// VLKillTrials: crash-and-resume trials of the exam client. Each trial starts
// the client, takes the exam with VLExamDriver up to a random question, kills
// the client with SIGKILL at a random moment (while a prompt plays, an answer
// is being given, a recording runs or an upload is under way), starts it
// again, signs in and checks that nothing was lost:
//   - every answer the database held at the kill is back;
//   - every answer given on screen more than two seconds before the kill is
//     back (the window stores a changed answer within that time);
//   - the answer sheet shows each of them as answered;
//   - every finished recording is uploaded before the result is sent, and the
//     result carries the address of exactly that upload.
// What the client holds is read through the automation channel's "answers"
// command; what the platform received through `records` (the simulator's
// record of requests).
//
// One thread; the client runs as a child process.
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/common/KWJson.h"
#include "platform/common/KWLineSocketClient.h"

namespace KwLib {

struct VLKillTrialOptions {
    std::string client;                   // the VLStudent program
    std::vector<std::string> clientArgs;  // besides -automation
    std::vector<std::string> clientEnv;   // "NAME=value" over the inherited environment
    std::string clientOutput;             // the client's standard output and error (appended)
    std::string socket;                   // automation socket the client is started with
    std::string student = "1001";
    std::string answerDir;  // the client's "AnswerData" folder, where recordings are written
    uint32_t seed = 1;
    int maxKillDelayMs = 12000;  // after the chosen question is reached
    // A student looks at an answer before moving on: up to this long, chosen at
    // random for each question, the driver waits after answering (and the kill may come then).
    int maxDwellMs = 4000;
    // Up to this many moves of a wandering student (back, the sheet, reopening,
    // leaving in any phase) before the kill, instead of the straight walk; 0: straight.
    int wanderMoves = 0;
    int trialTimeoutSeconds = 1200;
    // Every request the platform received, oldest first ("kind", "seq", "fields", ...).
    std::function<KWJsonValue()> records;
    // A chosen moment instead of a random one: the client is killed at the first
    // look at the screen (a "state" answer) for which this is true.
    std::function<bool(const KWJsonValue& state)> killWhen;
    // Runs between the kill and the new start (what a crash could leave behind).
    std::function<void()> afterKill;
    std::function<void(const std::string&)> log;
};

class VLKillTrials {
public:
    explicit VLKillTrials(VLKillTrialOptions options);

    // Runs trial `number` (from 1); true when nothing was lost. Problems() then
    // says what went wrong.
    bool RunOne(int number);
    // Runs `count` trials and returns how many lost nothing.
    int Run(int count);
    const std::vector<std::string>& Problems() const { return m_problems; }

private:
    // What one question looked like to the watcher before the kill.
    struct Seen {
        std::string live;        // the answer on screen (or, off screen, in the list)
        double liveSince = 0;    // seconds since the trial's start when `live` was first seen
        std::string stored;      // the answer in user.db
        std::string storedFile;  // the recording named in user.db (file name)
        bool hasStored = false;
        std::set<std::string> values;  // every answer seen in the list, on screen or stored
    };

    bool Connect(KWLineSocketClient& client);
    bool Command(const std::string& json, KWJsonValue& answer);
    bool Answers(KWJsonValue& answer);
    void Watch(const KWJsonValue& answers, double now);
    bool Drive(const std::function<bool(const KWJsonValue&)>& stop, int& rc, std::string& lastStep);
    // Reports answers that did not come back; returns those that had to, by question.
    std::map<std::string, std::string> Check(const KWJsonValue& restored, double killedAt);
    void CheckSheet(const KWJsonValue& sheet, const std::map<std::string, std::string>& restored,
                    const std::map<std::string, std::string>& owed,
                    const std::map<std::string, std::string>& recordings);
    void CheckResult(int64_t firstSeq, const std::map<std::string, std::string>& restored,
                     const std::map<std::string, std::string>& recordings);
    void Problem(const std::string& text);
    void Log(const std::string& line);
    double Now() const;

    VLKillTrialOptions m_options;
    std::mt19937 m_random;
    KWLineSocketClient m_watch;
    std::vector<std::string> m_problems;
    std::map<std::string, Seen> m_seen;
    std::set<std::string> m_singing;  // questions answered by a recording
    int64_t m_trialStart = 0;         // steady clock, ms
};

}  // namespace KwLib
