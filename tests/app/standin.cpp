// A stand-in for the programs the client and the guard start (the guard, the
// updater, the crash reporter): it appends its name and arguments to the file
// named by VL_STANDIN_LOG and then waits until it is killed, its parent ends
// or the folder of that file is removed. With VL_STANDIN_LOCK it first takes
// that file's lock, as the guard takes its single-instance lock; with
// VL_STANDIN_IGNORE_ABRT it stands for a program whose crash handler cannot run.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (std::getenv("VL_STANDIN_IGNORE_ABRT"))
        signal(SIGABRT, SIG_IGN);
    if (const char* lock = std::getenv("VL_STANDIN_LOCK")) {
        int fd = open(lock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0)
            return 3;
    }
    if (const char* log = std::getenv("VL_STANDIN_LOG")) {
        std::string line = std::to_string(getpid());
        for (int i = 0; i < argc; ++i)
            line += std::string("\t") + argv[i];
        line += "\n";
        if (FILE* f = std::fopen(log, "a")) {
            std::fputs(line.c_str(), f);
            std::fclose(f);
        }
    }
    if (std::getenv("VL_STANDIN_EXIT"))
        return 0;
    // The parent-death signal is missed when the starting thread ended before
    // prctl ran, and a test may have read the log before the line above was
    // written: so also end once the test's folder is gone.
    const char* log = std::getenv("VL_STANDIN_LOG");
    std::string folder = log ? std::string(log).substr(0, std::string(log).rfind('/') + 1) : std::string();
    while (folder.empty() || access(folder.c_str(), F_OK) == 0)
        usleep(100 * 1000);
    return 0;
}
