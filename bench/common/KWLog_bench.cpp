// What making a log line safe costs against writing it: the request worker
// logs whole server answers, a paper's among them (some hundred kilobytes).
// BM_WriteLine is the whole write (made safe, formatted, appended, flushed);
// BM_Sanitize the part that escaping and redaction add to it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/common/KWLog.h"

namespace {

std::string PaperAnswer(size_t bytes) {
    std::string answer =
        "Http get task successfully, type:0, id:3, url:http://h/api2/get_exam_question?"
        "school_id=1&record_id=2&sign=abc, response:";
    while (answer.size() < bytes)
        answer +=
            "{\"id\":\"101\",\"content\":\"听音乐，选择正确的答案<img>http://files.example/q/7/score.png</"
            "img>\","
            "\"answer\":{\"background_file\":\"http://files.example/a.mp3\"}},";
    return answer;
}

void BM_Sanitize(benchmark::State& state) {
    const std::string message = PaperAnswer(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(KwLib::LogImpl::Sanitize(message));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_Sanitize)->Arg(200)->Arg(200 * 1024);

void BM_WriteLine(benchmark::State& state) {
    const std::string dir = "/tmp/kwlog-bench-" + std::to_string(getpid());
    KwLib::LogImpl::Instance().Init(dir + "/VireloLog/vl.log");
    const std::string message = PaperAnswer(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        VL_LOG_DEBUG("%s", message.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
    KwLib::LogImpl::Instance().Shutdown();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WriteLine)->Arg(200)->Arg(200 * 1024);

}  // namespace

BENCHMARK_MAIN();
