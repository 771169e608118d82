// Downloads every URL of a list with VLDownloadManager's worker, one after the
// other, into a folder, and prints the seconds and bytes it took. Driven by
// download_bench.sh, which times the curl command on the same files.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "net/VLDownloadManager.h"
#include "net/VLNetMessages.h"
#include "platform/common/KWFilePathUtils.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: net_download_bench URL_LIST OUT_DIR\n");
        return 2;
    }
    std::ifstream list(argv[1]);
    std::string outDir = argv[2];
    if (outDir.back() != '/')
        outDir += '/';
    KwLib::KWMessageQueue queue;
    std::vector<KwLib::VLDownloadTask> tasks;
    std::string url;
    while (std::getline(list, url)) {
        if (url.empty())
            continue;
        KwLib::VLDownloadTask t;
        t.m_url = url;
        t.m_savePath = outDir + KwLib::KWFilePathUtils::FileName(url);
        t.m_tag = "bench";
        t.m_receiver = &queue;
        tasks.push_back(t);
    }
    KwLib::VLDownloadManager manager;
    auto start = std::chrono::steady_clock::now();
    manager.AddTasks(tasks);
    manager.Start();
    size_t done = 0, failed = 0;
    int64_t bytes = 0;
    while (done + failed < tasks.size()) {
        auto m = queue.Take(std::chrono::seconds(120));
        if (!m)
            break;
        if (m->message == KwLib::WM_DOWNLOAD_DONE || m->message == KwLib::WM_DOWNLOAD_FAILED) {
            std::unique_ptr<KwLib::VLDownloadTask> task(reinterpret_cast<KwLib::VLDownloadTask*>(m->wParam));
            if (m->message == KwLib::WM_DOWNLOAD_DONE) {
                ++done;
                bytes += KwLib::KWFilePathUtils::FileSize(task->m_savePath);
            } else {
                ++failed;
            }
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    manager.Release();
    std::printf("%.6f %lld %zu %zu\n", seconds, static_cast<long long>(bytes), done, failed);
    return failed == 0 && done == tasks.size() ? 0 : 1;
}
