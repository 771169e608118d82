// Build step: writes the sys.db that ships beside the client, with the
// production and inner server rows, so the installed tree never needs to
// create it in a folder the user may not write to.
#include <cstdio>

#include "exam/VLDatabaseManager.h"
#include "platform/common/KWFilePathUtils.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT/sys.db\n", argv[0]);
        return 2;
    }
    using KwLib::VLDatabaseManager;
    KwLib::KWFilePathUtils::RemoveFile(argv[1]);
    bool ok = VLDatabaseManager::CreateSysDb(
        argv[1], {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName,
                                                   VLDatabaseManager::ProductionHosts()),
                  VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName,
                                                   VLDatabaseManager::TestHosts())});
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
