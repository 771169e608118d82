// A program that installs the client's crash handler and then crashes the way
// its first argument says: "segv" (the client's test crash), "abort",
// "disabled" (the test crash without "-crashtest": it must not crash),
// "overflow" (runaway recursion, handled on the alternate stack), "thread"
// (the test crash on a second thread that prepares its own signal stack), or
// "worker-overflow" (runaway recursion on a worker started the program's way,
// through KWThread), or "busy-workers" (four workers spin, one of them prints
// the ids of every thread of the process and crashes once all four run, the
// main thread waits for them).
// The second argument, when given, is the crash socket; else the default one.
#include <sys/syscall.h>
#include <unistd.h>
#include <atomic>
#include <cstdint>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/common/KWThread.h"
#include "platform/crash/KWCrashHandler.h"

namespace {
__attribute__((noinline)) int Recurse(int depth) {
    if (depth < 0)
        return 0;
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    return Recurse(depth + 1) + pad[0];
}
}  // namespace

int main(int argc, char** argv) {
    using KwLib::KWCrashHandler;
    std::string mode = argc > 1 ? argv[1] : "segv";
    std::string socket = argc > 2 ? argv[2] : KWCrashHandler::GetDefaultSocketPath();
    if (!KWCrashHandler::Install(socket)) {
        fprintf(stderr, "install failed\n");
        return 3;
    }
    if (mode == "abort")
        abort();
    if (mode == "overflow")
        return Recurse(0);
    if (mode == "worker-overflow") {
        KwLib::KWThread worker([] { Recurse(0); });
        worker.Start();
        worker.Join();
    }
    KWCrashHandler::EnableTestCrash(mode != "disabled");
    if (mode == "busy-workers") {
        std::atomic<int> running{0};
        std::vector<std::unique_ptr<KwLib::KWThread>> workers;
        for (int i = 0; i < 4; ++i) {
            workers.push_back(std::make_unique<KwLib::KWThread>([&running, i] {
                ++running;
                volatile uint64_t spin = 0;
                if (i == 2) {
                    while (running.load() < 4)
                        spin = spin + 1;
                    // Libraries may run threads of their own: the test compares with all of them.
                    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
                        printf("%s %s\n", task.path().filename().c_str(),
                               syscall(SYS_gettid) == std::stol(task.path().filename()) ? "crashing" : "");
                    fflush(stdout);
                    KWCrashHandler::TriggerTestCrash();
                }
                for (;;)
                    spin = spin + 1;
            }));
            workers.back()->Start();
        }
        for (auto& worker : workers)
            worker->Join();
    }
    if (mode == "thread") {
        std::thread worker([] {
            KWCrashHandler::PrepareCurrentThread();
            KWCrashHandler::TriggerTestCrash();
        });
        worker.join();
    }
    KWCrashHandler::TriggerTestCrash();
    printf("still running\n");
    return 0;
}
