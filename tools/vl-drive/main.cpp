// vl-drive: takes a whole exam in a running VLStudent through its automation
// channel and says each step as it goes. Exit status 0 only when the platform
// accepted the result; the last line then reads
// "exam complete: N questions answered, result accepted".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/vl-drive/VLExamDriver.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: vl-drive --socket PATH [--student NUMBER] [--screenshots DIR] [--timeout SECONDS]\n"
                 "Takes the exam on screen in a VLStudent started with -automation=PATH.\n");
}

}  // namespace

int main(int argc, char** argv) {
    KwLib::VLDriveOptions options;
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
        else {
            Usage();
            return 2;
        }
    }
    if (options.socket.empty()) {
        Usage();
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    options.log = [start](const std::string& line) {
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("[%6.1fs] %s\n", s, line.c_str());
        std::fflush(stdout);
    };
    KwLib::VLExamDriver driver(options);
    const int rc = driver.Run();
    if (rc != 0) {
        std::printf("exam not complete: %s\n", driver.LastError().c_str());
        return rc;
    }
    std::printf("exam complete: %d questions answered, result accepted\n", driver.AnsweredCount());
    return 0;
}
