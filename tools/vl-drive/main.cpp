// vl-drive: takes a whole exam in a running VLStudent through its automation
// channel and says each step as it goes. Exit status 0 only when the platform
// accepted the result; the last line then reads
// "exam complete: N questions answered, result accepted".
//
// With --kill-trials N it starts the client itself N times over, kills it at a
// random moment of the exam, starts it again and checks that nothing was lost;
// the last line then reads "kill trials: K/N lost nothing".
#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/common/KWFile.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"
#include "tools/vl-drive/VLExamDriver.h"
#include "tools/vl-drive/VLKillTrials.h"
#include "tools/vl-drive/VLWanderer.h"

namespace {

void Usage() {
    std::fprintf(
        stderr,
        "usage: vl-drive --socket PATH [--student NUMBER] [--screenshots DIR] [--timeout SECONDS] "
        "[--listen]\n"
        "                [--measure-pid PID]\n"
        "       vl-drive --kill-trials N --client PROGRAM --socket PATH --answer-dir DIR\n"
        "                [--records URL] [--student NUMBER] [--seed N] [--client-arg ARG]... "
        "[--client-output FILE] [--wander M]\n"
        "       vl-drive --wander N --socket PATH [--seed S] [--records URL] [--answer-dir DIR] [--student NUMBER]\n"
        "Takes the exam on screen in a VLStudent started with -automation=PATH. --listen waits for all\n"
        "the listening material. --measure-pid reports the client's CPU while idle on the answer sheet\n"
        "and its memory at the end. --kill-trials starts PROGRAM itself, kills it at random moments and\n"
        "checks the resumed exam; --records is the simulator's address (http://127.0.0.1:PORT) whose\n"
        "record of uploads and results the checks read. --wander takes the exam as a wandering student:\n"
        "N random moves (back, next, the sheet, reopening, undo, reset, leaving in any phase) checked against\n"
        "a model of the answers given, then the hand-in; last line \"wander: N moves, K checks, L lost\".\n"
        "With --kill-trials, --wander M wanders (up to M moves) until each trial's kill.\n");
}

size_t Append(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// The simulator's record of what it received, through its control path.
KwLib::KWJsonValue FetchRecords(const std::string& base) {
    std::string body;
    CURL* curl = curl_easy_init();
    if (!curl)
        return KwLib::KWJsonValue(Json::arrayValue);
    const std::string url = base + "/__sim/records";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    KwLib::KWJsonValue root;
    if (!KwLib::KWJsonReader::Parse(body, root) || !root["data"].isArray())
        return KwLib::KWJsonValue(Json::arrayValue);
    return root["data"];
}

// User plus system CPU time of a process, in clock ticks; -1 when it cannot be read.
long long CpuTicks(int pid) {
    const auto text = KwLib::KWFile::ReadAll("/proc/" + std::to_string(pid) + "/stat");
    if (!text)
        return -1;
    // Fields after the command name, which is in parentheses and may hold spaces.
    const size_t close = text->rfind(')');
    if (close == std::string::npos)
        return -1;
    std::vector<std::string> fields;
    KwLib::KWStringToken::StringToken(text->substr(close + 2), " ", fields);
    return fields.size() > 12 ? std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str()) : -1;
}

long long ResidentKb(int pid) {
    const auto text = KwLib::KWFile::ReadAll("/proc/" + std::to_string(pid) + "/status");
    const size_t at = text ? text->find("VmRSS:") : std::string::npos;
    return at == std::string::npos ? -1 : std::atoll(text->c_str() + at + 6);
}

}  // namespace

int main(int argc, char** argv) {
    KwLib::VLDriveOptions options;
    KwLib::VLKillTrialOptions trials;
    int killTrials = 0;
    int wander = 0;
    int measurePid = 0;
    bool seeded = false;
    std::string records;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--socket" && hasValue)
            options.socket = argv[++i];
        else if (arg == "--student" && hasValue)
            options.student = argv[++i];
        else if (arg == "--screenshots" && hasValue)
            options.screenshotDir = argv[++i];
        else if (arg == "--timeout" && hasValue)
            options.timeoutSeconds = std::atoi(argv[++i]);
        else if (arg == "--listen")
            options.listenFully = true;
        else if (arg == "--measure-pid" && hasValue)
            measurePid = std::atoi(argv[++i]);
        else if (arg == "--wander" && hasValue)
            wander = std::atoi(argv[++i]);
        else if (arg == "--kill-trials" && hasValue)
            killTrials = std::atoi(argv[++i]);
        else if (arg == "--client" && hasValue)
            trials.client = argv[++i];
        else if (arg == "--client-arg" && hasValue)
            trials.clientArgs.push_back(argv[++i]);
        else if (arg == "--client-output" && hasValue)
            trials.clientOutput = argv[++i];
        else if (arg == "--answer-dir" && hasValue)
            trials.answerDir = argv[++i];
        else if (arg == "--records" && hasValue)
            records = argv[++i];
        else if (arg == "--seed" && hasValue) {
            trials.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
            seeded = true;
        } else {
            Usage();
            return 2;
        }
    }
    if (options.socket.empty() || (killTrials > 0 && (trials.client.empty() || trials.answerDir.empty())) ||
        wander < 0) {
        Usage();
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    auto log = [start](const std::string& line) {
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("[%6.1fs] %s\n", s, line.c_str());
        std::fflush(stdout);
    };
    // How long the student waited for the paper, from the driver's start (which
    // is the client's where both are started together, as the classroom bench does).
    auto firstQuestion = [start, log, seen = false](const KwLib::KWJsonValue& state) mutable {
        if (seen || state["screen"].asInt() != 4 || state["page"].asInt() != 5 ||
            state["questionId"].asString().empty())
            return;
        seen = true;
        log(KwLib::KWStringUtils::Format(
            "first question after %.2f s",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()));
    };

    if (killTrials > 0) {
        curl_global_init(CURL_GLOBAL_ALL);
        if (!seeded)
            trials.seed = std::random_device{}();
        if (trials.answerDir.back() != '/')
            trials.answerDir += '/';
        trials.socket = options.socket;
        trials.student = options.student;
        trials.log = log;
        trials.wanderMoves = wander;
        if (!records.empty())
            trials.records = [records] { return FetchRecords(records); };
        log("kill trials with seed " + std::to_string(trials.seed) + " (--seed repeats them)");
        KwLib::VLKillTrials runner(trials);
        int passed = 0;
        for (int i = 1; i <= killTrials; ++i)
            passed += runner.RunOne(i) ? 1 : 0;
        std::printf("kill trials: %d/%d lost nothing\n", passed, killTrials);
        curl_global_cleanup();
        return passed == killTrials ? 0 : 1;
    }

    if (wander > 0) {
        curl_global_init(CURL_GLOBAL_ALL);
        KwLib::VLWanderOptions opts;
        opts.socket = options.socket;
        opts.student = options.student;
        opts.moves = wander;
        opts.seed = seeded ? trials.seed : std::random_device{}();
        opts.answerDir = trials.answerDir;
        if (!opts.answerDir.empty() && opts.answerDir.back() != '/')
            opts.answerDir += '/';
        opts.log = log;
        opts.stop = [firstQuestion](const KwLib::KWJsonValue& state) mutable {
            firstQuestion(state);
            return false;
        };
        if (!records.empty())
            opts.records = [records] { return FetchRecords(records); };
        log("wandering with seed " + std::to_string(opts.seed) + " (--seed repeats the moves)");
        KwLib::VLWanderer wanderer(opts);
        const int rc = wanderer.Run();
        for (const std::string& p : wanderer.Problems())
            log("problem: " + p);
        log("seed " + std::to_string(opts.seed));
        if (!records.empty())
            log(KwLib::KWStringUtils::Format("result %s: %d answers checked, %d differ from the answers given",
                                             wanderer.ResultReceived() ? "received" : "missing",
                                             wanderer.ResultAnswers(), wanderer.ResultDiffering()));
        std::printf("wander: %d moves, %d checks, %d lost\n", wanderer.MovesMade(), wanderer.ChecksMade(),
                    static_cast<int>(wanderer.Problems().size()));
        curl_global_cleanup();
        return rc == 0 ? 0 : 1;
    }

    options.log = log;
    if (measurePid > 0) {
        // Once, on the answer sheet: the client left alone for 10 s, as a student reading it.
        options.stop = [measurePid, &log, measured = false](const KwLib::KWJsonValue& state) mutable {
            if (measured || state["page"].asInt() != 6 || state["window"].asString() != "VLStudentWnd")
                return false;
            measured = true;
            constexpr int kSeconds = 10;
            const long long before = CpuTicks(measurePid);
            std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
            const long long after = CpuTicks(measurePid);
            if (before >= 0 && after >= 0)
                log(KwLib::KWStringUtils::Format(
                    "client CPU while idle on the answer sheet: %.2f %% of one core over %d s",
                    static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) /
                        kSeconds * 100.0,
                    kSeconds));
            return false;
        };
    }
    options.stop = [firstQuestion, measure = options.stop](const KwLib::KWJsonValue& state) mutable {
        firstQuestion(state);
        return measure ? measure(state) : false;
    };
    KwLib::VLExamDriver driver(options);
    const int rc = driver.Run();
    if (measurePid > 0 && rc == 0)
        log(KwLib::KWStringUtils::Format("client resident memory at the end of the exam: %.1f MB",
                                         static_cast<double>(ResidentKb(measurePid)) / 1024.0));
    if (rc != 0) {
        std::printf("exam not complete: %s\n", driver.LastError().c_str());
        return rc;
    }
    std::printf("exam complete: %d questions answered, result accepted\n", driver.AnsweredCount());
    return 0;
}
