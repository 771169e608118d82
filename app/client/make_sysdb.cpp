// Build step and test tool: writes a sys.db. Without options it holds the
// production and inner server rows that ship beside the client, so the
// installed tree never needs to create it in a folder the user may not write
// to. With --local it points both rows at a platform on this machine (the
// simulator), for the demo and the tests, so that nothing leaves the machine.
#include <cstdio>
#include <cstring>
#include <string>

#include "exam/VLDatabaseManager.h"
#include "platform/common/KWFilePathUtils.h"

int main(int argc, char** argv) {
    using KwLib::VLDatabaseManager;
    using KwLib::VLSysUrlHosts;
    const bool local = argc == 5 && std::strcmp(argv[2], "--local") == 0;
    if (argc != 2 && !local) {
        std::fprintf(stderr,
                     "usage: %s OUTPUT/sys.db [--local http://127.0.0.1:API_PORT http://127.0.0.1:UPLOAD_PORT]\n",
                     argv[0]);
        return 2;
    }
    VLSysUrlHosts production = VLDatabaseManager::ProductionHosts();
    VLSysUrlHosts inner = VLDatabaseManager::TestHosts();
    if (local) {
        const std::string api = argv[3], upload = argv[4];
        for (const std::string& host : {api, upload}) {
            if (host.rfind("http://127.0.0.1:", 0) != 0) {
                std::fprintf(stderr, "--local takes addresses on 127.0.0.1 only: %s\n", host.c_str());
                return 2;
            }
        }
        production = inner = VLSysUrlHosts{api, api, upload, api, api};
    }
    KwLib::KWFilePathUtils::RemoveFile(argv[1]);
    bool ok = VLDatabaseManager::CreateSysDb(
        argv[1], {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, production),
                  VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName, inner)});
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
