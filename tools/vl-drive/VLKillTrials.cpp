#include "tools/vl-drive/VLKillTrials.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWMD5Utils.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"
#include "tools/vl-drive/VLAnswerChecks.h"
#include "tools/vl-drive/VLClientProcess.h"
#include "tools/vl-drive/VLExamDriver.h"
#include "tools/vl-drive/VLWanderer.h"

namespace KwLib {

namespace {

using VLAnswerChecks::IsFinishedRecording;
using VLAnswerChecks::IsRealAnswer;
using VLAnswerChecks::ParseResult;

constexpr int kAnswerSheetButton = 1950;
// An answer changed longer ago than this must survive a crash.
constexpr double kStoredWithinSeconds = 2.0;

using VLAnswerChecks::Int;
using VLAnswerChecks::Quoted;
using VLAnswerChecks::Str;

std::string Describe(const KWJsonValue& state) {
    const int page = Int(state, "page");
    if (Int(state, "screen") != 4)
        return "before the exam";
    if (page != 5)
        return KWStringUtils::Format("on page %d", page);
    std::string where = KWStringUtils::Format("at question %d/%d (type %d", Int(state, "index") + 1,
                                              Int(state, "count"), Int(state, "type"));
    const int phase = Int(state, "phase");
    if (phase == 7)
        where += Int(state, "recordState") == 2 ? ", recording" : ", answering";
    else
        where += ", listening";
    if (Int(state, "pendingUploads", 0) > 0)
        where += KWStringUtils::Format(", %d upload(s) under way", Int(state, "pendingUploads"));
    return where + ")";
}

}  // namespace

VLKillTrials::VLKillTrials(VLKillTrialOptions options)
    : m_options(std::move(options)), m_random(m_options.seed) {}

double VLKillTrials::Now() const {
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    return static_cast<double>(ms - m_trialStart) / 1000.0;
}

void VLKillTrials::Log(const std::string& line) {
    if (m_options.log)
        m_options.log(line);
}

void VLKillTrials::Problem(const std::string& text) {
    m_problems.push_back(text);
}

bool VLKillTrials::Connect(KWLineSocketClient& client) {
    client.Close();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
        if (client.Connect(m_options.socket))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool VLKillTrials::Command(const std::string& json, KWJsonValue& answer) {
    std::string line;
    if (!m_watch.IsConnected() || !m_watch.Exchange(json, line, 60000)) {
        m_watch.Close();
        return false;
    }
    return KWJsonReader::Parse(line, answer) && answer.isObject() && answer["ok"].asBool();
}

bool VLKillTrials::Answers(KWJsonValue& answer) {
    return Command("{\"cmd\":\"answers\"}", answer);
}

void VLKillTrials::Watch(const KWJsonValue& answers, double now) {
    const KWJsonValue& current = answers["current"];
    for (const KWJsonValue& item : answers["list"]["answerlist"]) {
        const std::string id = Str(item, "id");
        if (id.empty())
            continue;
        std::string live = Str(item, "answer");
        if (Str(current, "id") == id)
            live = Str(current, "answer");
        auto [it, fresh] = m_seen.try_emplace(id);
        Seen& seen = it->second;
        if (item.isMember("userdata"))
            m_singing.insert(id);
        if (fresh || seen.live != live) {
            seen.live = live;
            seen.liveSince = now;
        }
        seen.values.insert(live);
    }
    // The rows of user.db for the exam: the window keeps one.
    for (const KWJsonValue& row : answers["stored"]) {
        if (!row["answerlist"].isArray())
            continue;
        for (const KWJsonValue& item : row["answerlist"]) {
            Seen& seen = m_seen[Str(item, "id")];
            seen.stored = Str(item, "answer");
            seen.storedFile = Str(item, "userdata");
            seen.hasStored = true;
            seen.values.insert(seen.stored);
        }
        break;
    }
}

bool VLKillTrials::Drive(const std::function<bool(const KWJsonValue&)>& stop, int& rc,
                         std::string& lastStep) {
    VLDriveOptions drive;
    drive.socket = m_options.socket;
    drive.student = m_options.student;
    drive.timeoutSeconds = m_options.trialTimeoutSeconds;
    drive.stop = stop;
    drive.log = [&lastStep](const std::string& line) { lastStep = line; };
    VLExamDriver driver(drive);
    rc = driver.Run();
    if (rc != 0 && rc != 3)
        lastStep += " (" + driver.LastError() + ")";
    return rc == 0 || rc == 3;
}

bool VLKillTrials::RunOne(int number) {
    m_problems.clear();
    m_seen.clear();
    m_singing.clear();
    m_trialStart = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count();
    const int64_t firstSeq = m_options.records ? VLAnswerChecks::LastSeq(m_options.records()) : 0;

    std::vector<std::string> args = m_options.clientArgs;
    args.push_back("-automation=" + m_options.socket);
    VLClientProcess client;
    if (!client.Start(m_options.client, args, m_options.clientEnv, m_options.clientOutput)) {
        Problem("the client could not be started");
        return false;
    }
    if (!Connect(m_watch)) {
        Problem("the client's automation channel did not open");
        return false;
    }

    // The first run: up to a random question, then a random moment more.
    int target = 0;
    double killAt = -1, killedAt = 0;
    bool started = false;
    KWJsonValue lastState;
    std::set<std::string> dwelt;
    auto finalLook = [&](const KWJsonValue& state) {
        KWJsonValue answers;
        if (Answers(answers))
            Watch(answers, Now());
        killedAt = Now();
        lastState = state;
        return true;
    };
    auto beforeKill = [&](const KWJsonValue& state) {
        KWJsonValue answers;
        if (Answers(answers))
            Watch(answers, Now());
        const int count = Int(state, "count", 0);
        if (Int(state, "screen") == 4 && Int(state, "page") == 5 && Int(state, "index") >= 0 && count > 0) {
            started = true;
            if (target == 0 && !m_options.killWhen)
                target = std::uniform_int_distribution<int>(1, count)(m_random);
            if (killAt < 0 && target > 0 && Int(state, "index") + 1 >= target)
                killAt = Now() +
                         std::uniform_int_distribution<int>(0, m_options.maxKillDelayMs)(m_random) / 1000.0;
        }
        // The exam must still be running when it is killed: not handed in (a wandering
        // student opens the sheet on her way, and may be killed there).
        const int lastPage = m_options.wanderMoves > 0 ? 7 : 6;
        if ((started && Int(state, "page") >= lastPage) || (killAt >= 0 && Now() >= killAt))
            return finalLook(state);
        // An answer on screen that the question has not been left with yet: a while to look at it.
        const std::string question = Str(state, "questionId");
        if (Int(state, "page") == 5 && Int(state, "phase") == 7 && !m_singing.count(question) &&
            IsRealAnswer(m_seen[question].live) && dwelt.insert(question).second) {
            const double until =
                Now() +
                std::uniform_int_distribution<int>(0, std::max(m_options.maxDwellMs, 0))(m_random) / 1000.0;
            while (Now() < until) {
                if (killAt >= 0 && Now() >= killAt)
                    return finalLook(state);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (Answers(answers))
                    Watch(answers, Now());
            }
        }
        if (started && m_options.killWhen && m_options.killWhen(state))
            return finalLook(state);
        lastState = state;
        return false;
    };
    int rc = 0;
    std::string lastStep;
    if (m_options.wanderMoves > 0) {
        VLWanderOptions wander;
        wander.socket = m_options.socket;
        wander.student = m_options.student;
        wander.answerDir = m_options.answerDir;
        wander.moves = m_options.wanderMoves;
        wander.seed = static_cast<uint32_t>(m_random());
        wander.timeoutSeconds = m_options.trialTimeoutSeconds;
        wander.stop = beforeKill;
        wander.handIn = false;
        wander.log = [&lastStep](const std::string& line) { lastStep = line; };
        VLWanderer wanderer(wander);
        rc = wanderer.Run();
        for (const std::string& p : wanderer.Problems())
            Problem("before the kill: " + p);
        // Moves all made before the moment came: the kill comes now.
        if (rc == 0) {
            KWJsonValue state;
            if (Command("{\"cmd\":\"state\"}", state))
                finalLook(state);
            rc = 3;
        }
    } else {
        Drive(beforeKill, rc, lastStep);
    }
    if (rc != 3) {
        Problem("the first run did not reach the moment of the kill: " + lastStep);
        return false;
    }
    client.Stop(SIGKILL, 10000);
    m_watch.Close();
    if (m_options.afterKill)
        m_options.afterKill();
    const std::string moment = Describe(lastState);
    int storedAnswers = 0;
    for (const auto& [id, seen] : m_seen)
        storedAnswers += seen.hasStored && (IsRealAnswer(seen.stored) || !seen.storedFile.empty()) ? 1 : 0;

    // Recordings finished before the kill, and named in user.db.
    std::map<std::string, std::string> recordings;  // question id -> file name
    for (const auto& [id, seen] : m_seen) {
        if (!m_singing.count(id) || !seen.hasStored || seen.storedFile.empty())
            continue;
        if (!seen.stored.empty() || IsFinishedRecording(m_options.answerDir + seen.storedFile))
            recordings[id] = seen.storedFile;
    }

    // The second run: sign in again and stop at the first question shown.
    if (!client.Start(m_options.client, args, m_options.clientEnv, m_options.clientOutput) ||
        !Connect(m_watch)) {
        Problem("the client did not start again after the kill");
        return false;
    }
    auto resumed = [](const KWJsonValue& state) {
        return Int(state, "screen") == 4 && Int(state, "page") == 5 && Int(state, "index") >= 0 &&
               !Str(state, "questionId").empty();
    };
    if (!Drive(resumed, rc, lastStep) || rc != 3) {
        Problem("the restarted client did not reach the exam: " + lastStep);
        return false;
    }
    KWJsonValue restored;
    if (!Answers(restored)) {
        Problem("the restarted client did not answer \"answers\"");
        return false;
    }
    const std::map<std::string, std::string> owed = Check(restored, killedAt);

    std::map<std::string, std::string> restoredAnswers, restoredFiles;
    for (const KWJsonValue& item : restored["list"]["answerlist"]) {
        restoredAnswers[Str(item, "id")] = Str(item, "answer");
        restoredFiles[Str(item, "id")] = Str(item, "userdata");
    }
    for (const auto& [id, file] : recordings) {
        if (restoredFiles[id] != file)
            Problem("question " + id + ": the finished recording " + file + " is no longer its answer (" +
                    Quoted(restoredFiles[id]) + ")");
    }
    // A recording finished in the last moment before the kill, stored after the last look, counts too.
    for (const auto& [id, file] : restoredFiles) {
        if (m_singing.count(id) && !file.empty() && !recordings.count(id) &&
            (!restoredAnswers[id].empty() || IsFinishedRecording(m_options.answerDir + file)))
            recordings[id] = file;
    }

    // The answer sheet, as the student opens it.
    KWJsonValue ignored;
    Command(KWStringUtils::Format("{\"cmd\":\"click\",\"id\":%d}", kAnswerSheetButton), ignored);
    KWJsonValue sheetAnswers;
    const auto sheetDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < sheetDeadline) {
        if (Answers(sheetAnswers) && sheetAnswers["sheet"].isArray())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!sheetAnswers["sheet"].isArray())
        Problem("the answer sheet did not open after the restart");
    else
        CheckSheet(sheetAnswers["sheet"], restoredAnswers, owed, recordings);

    // Hand in from the sheet; the result must carry everything.
    if (!Drive(nullptr, rc, lastStep) || rc != 0) {
        Problem("the resumed exam did not end with an accepted result: " + lastStep);
    } else {
        // The question on screen after the restart was left through the answer sheet, which
        // takes its element's answer: an element may write an untouched answer its own way.
        std::map<std::string, std::string> sentAnswers = restoredAnswers;
        const KWJsonValue& current = restored["current"];
        if (!Str(current, "id").empty() && !IsRealAnswer(restoredAnswers[Str(current, "id")]) &&
            !IsRealAnswer(Str(current, "answer")))
            sentAnswers[Str(current, "id")] = Str(current, "answer");
        CheckResult(firstSeq, sentAnswers, recordings);
    }
    client.Stop(SIGTERM, 30000);
    if (client.IsRunning())
        client.Stop(SIGKILL, 10000);
    m_watch.Close();

    const bool ok = m_problems.empty();
    Log(KWStringUtils::Format(
        "trial %d: killed %s %.1f s into the trial; %d answer(s) stored, %d recording(s) "
        "finished: %s",
        number, moment.c_str(), killedAt, storedAnswers, static_cast<int>(recordings.size()),
        ok ? "lost nothing" : "LOST SOMETHING"));
    for (const std::string& p : m_problems)
        Log("  " + p);
    return ok;
}

std::map<std::string, std::string> VLKillTrials::Check(const KWJsonValue& restored, double killedAt) {
    std::map<std::string, std::string> back, owed;
    for (const KWJsonValue& item : restored["list"]["answerlist"])
        back[Str(item, "id")] = Str(item, "answer");
    for (const auto& [id, seen] : m_seen) {
        if (id.empty() || m_singing.count(id))
            continue;  // recordings are checked by their uploads
        const double age = killedAt - seen.liveSince;
        if (age > kStoredWithinSeconds)
            owed[id] = seen.live;
        else if (seen.hasStored)
            owed[id] = seen.stored;
        if (!back.count(id)) {
            Problem("question " + id + " is missing from the paper after the restart");
            continue;
        }
        const std::string& now = back[id];
        // A change stored after the last look before the kill may have replaced the stored one.
        if (seen.hasStored && now != seen.stored && now != seen.live)
            Problem("question " + id + ": the stored answer " + Quoted(seen.stored) + " came back as " +
                    Quoted(now));
        if (age > kStoredWithinSeconds && now != seen.live)
            Problem(KWStringUtils::Format(
                "question %s: the answer %s, given %.1f s before the kill, came back as %s", id.c_str(),
                Quoted(seen.live).c_str(), age, Quoted(now).c_str()));
    }
    return owed;
}

void VLKillTrials::CheckSheet(const KWJsonValue& sheet, const std::map<std::string, std::string>& restored,
                              const std::map<std::string, std::string>& owed,
                              const std::map<std::string, std::string>& recordings) {
    for (const KWJsonValue& entry : sheet) {
        const std::string id = Str(entry, "id");
        const bool answered = entry["answered"].asBool();
        bool expected = false;
        if (m_singing.count(id)) {
            expected = recordings.count(id) > 0;
        } else {
            // What must have come back decides; otherwise what did.
            auto it = owed.find(id);
            auto back = restored.find(id);
            expected = it != owed.end() ? IsRealAnswer(it->second)
                                        : back != restored.end() && IsRealAnswer(back->second);
        }
        if (expected && !answered)
            Problem("question " + id + " shows as unanswered on the answer sheet after the restart");
        if (!expected && answered)
            Problem("question " + id + " shows as answered on the answer sheet without an answer");
    }
}

void VLKillTrials::CheckResult(int64_t firstSeq, const std::map<std::string, std::string>& restoredAnswers,
                               const std::map<std::string, std::string>& recordings) {
    if (!m_options.records)
        return;
    const KWJsonValue records = m_options.records();
    const KWJsonValue* result = VLAnswerChecks::LatestResult(records, firstSeq, m_options.student);
    if (!result) {
        Problem("the platform received no result");
        return;
    }
    std::set<std::string> ids;
    for (const auto& [id, answer] : restoredAnswers)
        ids.insert(id);
    const std::map<std::string, std::string> sent =
        ParseResult((*result)["fields"]["result"].asString(), ids);
    for (const auto& [id, answer] : restoredAnswers) {
        if (m_singing.count(id))
            continue;
        auto it = sent.find(id);
        if (it == sent.end() || it->second != answer)
            Problem("question " + id + ": the result carries " +
                    Quoted(it == sent.end() ? std::string("nothing") : it->second) + " instead of " +
                    Quoted(answer));
    }
    const int64_t resultSeq = (*result)["seq"].asInt64();
    for (const auto& [id, file] : recordings) {
        auto it = sent.find(id);
        const std::string url = it == sent.end() ? std::string() : it->second;
        const KWJsonValue* upload = VLAnswerChecks::UploadNamedBy(records, url, firstSeq);
        if (!upload) {
            Problem("question " + id + ": the result's answer " + Quoted(url) +
                    " is not the address of an upload of its recording " + file);
            continue;
        }
        if ((*upload)["seq"].asInt64() > resultSeq)
            Problem("question " + id + ": its recording was uploaded after the result was sent");
        const std::string md5 = KWMD5Utils::CalcuteFileMD5String(m_options.answerDir + file);
        if ((*upload)["md5"].asString() != md5)
            Problem("question " + id + ": the upload is not the recording " + file + " as it is on disk");
    }
}

int VLKillTrials::Run(int count) {
    int passed = 0;
    for (int i = 1; i <= count; ++i)
        passed += RunOne(i) ? 1 : 0;
    return passed;
}

}  // namespace KwLib
