// platform-sim: the platform's servers on 127.0.0.1 for tests, demos and benchmarks.
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/common/KWFilePathUtils.h"
#include "tools/platform-sim/VLSimServer.h"

namespace {

void PrintHelp() {
    std::printf(
        "Usage: platform-sim [options]\n"
        "Plays the platform's API, file and upload servers on 127.0.0.1.\n\n"
        "  --data DIR            working folder (sample files, uploads); default $TMPDIR/platform-sim/\n"
        "  --files DIR           folder of the served files (default DIR/files/ of --data)\n"
        "  --api-port N          API requests (default 9500)\n"
        "  --download-port N     file downloads (default 9501)\n"
        "  --upload-port N       file uploads (default 9502)\n"
        "  --remote-port N       remote server: paper and results (default 9600)\n"
        "                        a port of 0 picks a free one; the ports are printed on start\n"
        "  --file-base URL       prefix of the file URLs handed out\n"
        "                        (default http://127.0.0.1:<download port>)\n"
        "  --paper FILE          serve this paper document instead of the sample paper\n"
        "  --log FILE            append every received request to FILE as one JSON line\n"
        "  --client-version V    newest client version the update check offers (default 1.7.1.1393)\n"
        "  --exam-state N        exam state reported at sign-in and in progress answers (default 1)\n"
        "  --students N          a classroom: students 1001 to 1000+N, each with an exam and file\n"
        "                        addresses of its own, so /__sim/stats can tell whose every request is\n"
        "  --help                this text\n\n"
        "Control paths on every port:\n"
        "  /__sim/fault?path=P&delay=MS&drop=1&ignore_range=1&status=404&truncate=N&non_json=1&times=N\n"
        "  /__sim/fault?port=api|download|upload|remote&...   the same for every request on that port\n"
        "  /__sim/clear_faults   /__sim/records   /__sim/clear_records   /__sim/exam_state?state=N   "
        "/__sim/info\n"
        "  /__sim/stats (requests, connections and bytes per student, totals, the busiest second)\n"
        "  /__sim/paper (POST a paper document to serve instead)\n"
        "  /__sim/paper?keep=ID,ID (only those items of the paper)\n");
}

bool ParsePort(const char* text, int& port) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!end || *end || v < 0 || v > 65535)
        return false;
    port = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    KwLib::VLSimConfig config;
    config.m_dataDir = KwLib::KWFileSystemUtils::MyGetTempPath() + "platform-sim/";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "platform-sim: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        auto port = [&](int& out) {
            const char* v = value(a.c_str());
            if (!ParsePort(v, out)) {
                std::fprintf(stderr, "platform-sim: bad port for %s: %s\n", a.c_str(), v);
                std::exit(2);
            }
        };
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return 0;
        } else if (a == "--data") {
            config.m_dataDir = value("--data");
        } else if (a == "--files") {
            config.m_filesDir = value("--files");
        } else if (a == "--api-port") {
            port(config.m_apiPort);
        } else if (a == "--download-port") {
            port(config.m_downloadPort);
        } else if (a == "--upload-port") {
            port(config.m_uploadPort);
        } else if (a == "--remote-port") {
            port(config.m_remotePort);
        } else if (a == "--file-base") {
            config.m_fileBase = value("--file-base");
        } else if (a == "--paper") {
            config.m_paperFile = value("--paper");
        } else if (a == "--log") {
            config.m_logFile = value("--log");
        } else if (a == "--client-version") {
            config.m_clientVersion = value("--client-version");
        } else if (a == "--exam-state") {
            config.m_examState = std::atoi(value("--exam-state"));
        } else if (a == "--students") {
            config.m_students = std::atoi(value("--students"));
            if (config.m_students < 1 || config.m_students > 8999) {
                std::fprintf(stderr, "platform-sim: --students takes 1 to 8999\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "platform-sim: unknown option %s (see --help)\n", a.c_str());
            return 2;
        }
    }

    // The stop signals are taken by sigwait on this thread only: blocked before the
    // server's thread starts, so no handler ever runs inside the event loop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    KwLib::VLSimServer server(config);
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "platform-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("platform-sim listening on 127.0.0.1: api %d, download %d, upload %d, remote %d; data %s\n",
                server.ApiPort(), server.DownloadPort(), server.UploadPort(), server.RemotePort(),
                server.DataDir().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    // Drop the font caches cairo's text drawing filled, so leak checkers see a clean exit.
    cairo_debug_reset_static_data();
    FcFini();
    return 0;
}
