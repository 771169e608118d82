// Parsing and regrouping a 1000-question paper, against jsoncpp parsing the same
// text alone. Prints the ratio of the two (goal: at most 2.5).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "exam/VLQuestionParser.h"
#include "platform/common/KWStringUtils.h"

using namespace KwLib;

namespace {

std::string GroupJson(const char* rawType, int isNew, const std::string& items) {
    return KWStringUtils::Format(
        R"({"conf":{"question_type":"%s","number":"10","score":"2","total":"20","desc":"说明","is_new":%d},"question":[%s]})",
        rawType, isNew, items.c_str());
}

std::string Url(int q, const char* what, const char* ext) {
    return KWStringUtils::Format("http://files.virelo-edu.com/paper/7/q%d/%s.%s", q, what, ext);
}

// A paper of `count` questions spread over every type of the three sections, in
// groups of ten, with pictures in the text and in options, and music files.
// Every item is kept (no instrument items), so the paper has `count` records.
std::string MakePaper(int count) {
    struct Kind {
        const char* section;
        const char* rawType;
    };
    const Kind kinds[] = {{"1", "1"}, {"1", "2"}, {"1", "10"}, {"1", "11"}, {"1", "3"},
                          {"1", "8"}, {"2", "1"}, {"2", "3"},  {"2", "4"},  {"2", "6"},
                          {"2", "7"}, {"2", "8"}, {"2", "9"},  {"3", "1"}};
    std::map<std::string, std::string> sections;
    int q = 0;
    for (int g = 0; q < count; ++g) {
        const Kind& kind = kinds[g % (sizeof(kinds) / sizeof(kinds[0]))];
        std::string items;
        for (int i = 0; i < 10 && q < count; ++i, ++q) {
            std::string options;
            for (int o = 0; o < 4; ++o) {
                if (!options.empty())
                    options += ",";
                options += o == 3 ? KWStringUtils::Format(R"({"image":"%s"})", Url(q, "opt", "png").c_str())
                                  : KWStringUtils::Format(R"({"text":"选项 %d 的文字"})", o);
            }
            std::string answer = KWStringUtils::Format(
                R"("background_file":"%s","wx_music_pic":"%s","banzou_file":"%s","mid_file":"%s",)"
                R"("rhythm_file":"1 0 1 1 0 1","start":"12.500","end":"42","bpm":"96",)"
                R"("pt_art_pic":"%s","pt_art_pic_frag":"9","pt_art_pic_frag_x":"3","pt_art_pic_frag_y":"3",)"
                R"("art_pic":"%s","correct":[{"points":"10-20,30-40","move":1},{"points":"50-60,70-80","move":0}],)"
                R"("art_color_pic":"%s")",
                Url(q, "bg", "mp3").c_str(), Url(q, "wx", "png").c_str(), Url(q, "acc", "mp3").c_str(),
                Url(q, "mel", "mid").c_str(), Url(q, "jig", "png").c_str(), Url(q, "dot", "png").c_str(),
                Url(q, "col", "png").c_str());
            if (std::string(kind.rawType) == "4" || std::string(kind.rawType) == "11")
                answer +=
                    R"(,"options":[[{"text":"a"},{"text":"b"},{"text":"c"}],[{"text":"1"},{"text":"2"},{"text":"3"}]])";
            else if (std::string(kind.rawType) == "9")
                answer += KWStringUtils::Format(
                    R"(,"options":[{"text":"天空","url":"%s","colors":[{"rgb":"#0000FF"},{"rgb":"#87CEEB"}]}])",
                    Url(q, "sky", "png").c_str());
            else
                answer += ",\"options\":[" + options + "]";
            if (!items.empty())
                items += ",";
            items += KWStringUtils::Format(
                R"({"id":"%d","question_type":"3","content":"第%d题：请看图<img>%s</img>，听音乐后回答问题。","answer":{%s}})",
                q, q + 1, Url(q, "content", "jpg").c_str(), answer.c_str());
        }
        std::string& section = sections[kind.section];
        if (!section.empty())
            section += ",";
        section += GroupJson(kind.rawType, 1, items);
    }
    std::string data;
    for (auto& [key, groups] : sections) {
        if (!data.empty())
            data += ",";
        data += "\"" + key + "\":[" + groups + "]";
    }
    return R"({"code":0,"msg":"","data":{)" + data + "}}";
}

const std::string& Paper() {
    static const std::string text = MakePaper(1000);
    return text;
}

const std::string& DownloadDir() {
    static const std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vlbench-XXXXXX").string();
        return mkdtemp(pattern.data()) ? pattern + "/" : std::string("/tmp/");
    }();
    return dir;
}

void BM_JsonParse(benchmark::State& state) {
    for (auto _ : state) {
        KWJsonValue root;
        benchmark::DoNotOptimize(KWJsonReader::Parse(Paper(), root));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Paper().size()));
}

void BM_ParseAndRegroup(benchmark::State& state) {
    int questions = 0;
    size_t downloads = 0;
    for (auto _ : state) {
        VLExamManager manager;
        VLQuestionParser parser(manager, DownloadDir());
        VLQuestionParseResult result = parser.ParsePaperResponse(Paper(), 0, nullptr);
        questions = result.questionCount;
        downloads = result.downloads.size();
        benchmark::DoNotOptimize(result);
        // Freeing the records belongs to the end of the exam, not to loading it.
        state.PauseTiming();
        manager.Release();
        state.ResumeTiming();
    }
    state.counters["questions"] = questions;
    state.counters["downloads"] = static_cast<double>(downloads);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Paper().size()));
}

BENCHMARK(BM_JsonParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndRegroup)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration so the ratio can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            times[run.benchmark_name()] = run.GetAdjustedRealTime();
            cpuTimes[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, double> cpuTimes;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("paper: %zu bytes\n", Paper().size());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto json = reporter.times.find("BM_JsonParse");
    auto full = reporter.times.find("BM_ParseAndRegroup");
    if (json != reporter.times.end() && full != reporter.times.end() && json->second > 0) {
        double ratio = full->second / json->second;
        double cpuRatio = reporter.cpuTimes["BM_ParseAndRegroup"] / reporter.cpuTimes["BM_JsonParse"];
        std::printf("parse+regroup / jsoncpp parse = %.2f real, %.2f cpu (goal <= 2.5)\n", ratio, cpuRatio);
    }
    std::filesystem::remove_all(DownloadDir());
    benchmark::Shutdown();
    return 0;
}
