#pragma once
// KWPortOwner: who holds a TCP port on this machine, for the readiness check
// of a classroom PC (is the guard's port free, or held by our guard?).
#include <sys/types.h>

#include <string>

namespace KwLib {

class KWPortOwner {
public:
    // True when a listening socket on 127.0.0.1:`port` could be opened now.
    static bool IsFree(int port);
    // A process listening on `port` on any local address, or -1 when none of
    // the processes this user may look into does (another user's sockets
    // cannot be traced to their process).
    static pid_t FindListener(int port);
    // The executable's file name of a process, "" when it cannot be read.
    static std::string ExeName(pid_t pid);
};

}  // namespace KwLib
