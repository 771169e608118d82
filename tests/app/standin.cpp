// A stand-in for the programs the client and the guard start (the guard, the
// updater, the crash reporter): it appends its name and arguments to the file
// named by VL_STANDIN_LOG and then waits until it is killed or its parent ends.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (const char* log = std::getenv("VL_STANDIN_LOG")) {
        std::string line = std::to_string(getpid());
        for (int i = 0; i < argc; ++i) line += std::string("\t") + argv[i];
        line += "\n";
        if (FILE* f = std::fopen(log, "a")) {
            std::fputs(line.c_str(), f);
            std::fclose(f);
        }
    }
    if (std::getenv("VL_STANDIN_EXIT")) return 0;
    pause();
    return 0;
}
