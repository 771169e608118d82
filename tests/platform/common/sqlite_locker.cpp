// Holds an exclusive lock on an encrypted database for a while, as another
// process in the middle of a commit would:
//   vl_sqlite_locker PATH KEY MILLISECONDS
// prints "locked" once the lock is held, releases it after the given time.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/common/KWSqlite.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s PATH KEY MILLISECONDS\n", argv[0]);
        return 2;
    }
    KwLib::KWSqlite db;
    if (db.Open(argv[1], argv[2], static_cast<int>(strlen(argv[2]))) != 0)
        return 3;
    if (db.ExecSQL("begin exclusive;") != 0)
        return 4;
    printf("locked\n");
    fflush(stdout);
    usleep(static_cast<useconds_t>(atoi(argv[3])) * 1000);
    return db.ExecSQL("commit;") == 0 ? 0 : 5;
}
