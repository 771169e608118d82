// A program that installs the client's crash handler and then crashes the way
// its first argument says: "segv" (the client's test crash), "abort",
// "disabled" (the test crash without "-crashtest": it must not crash),
// "overflow" (runaway recursion, handled on the alternate stack), "thread"
// (the test crash on a second thread that prepares its own signal stack), or
// "worker-overflow" (runaway recursion on a worker started the program's way,
// through KWThread).
// The second argument, when given, is the crash socket; else the default one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

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
