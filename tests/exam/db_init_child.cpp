// A client's database start-up on its own, for tests that end it at any
// moment:   vl_db_init_child USER_DATA_DIR SYS_DB_PATH
// Exits 0 when both databases were opened (or created) and loaded.
#include <cstdio>
#include <string>

#include "exam/VLDatabaseManager.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s USER_DATA_DIR SYS_DB_PATH\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    KwLib::VLDatabaseManager manager(KwLib::VLDatabaseConfig{dir, dir + "user.db", argv[2], "1.7.1.1393", 3});
    const bool ok = manager.Init();
    manager.Release();
    return ok ? 0 : 1;
}
