#include "platform/common/KWPortOwner.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "platform/common/KWFile.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {

// Socket inodes listening on `port`, from the kernel's table of one family.
void ListeningInodes(const std::string& table, int port, std::set<std::string>& inodes) {
    const auto text = KWFile::ReadAll(table);
    if (!text)
        return;
    std::istringstream lines(*text);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode))
            continue;
        const size_t colon = local.rfind(':');
        // State 0A is LISTEN.
        if (colon == std::string::npos || state != "0A" ||
            std::strtol(local.c_str() + colon + 1, nullptr, 16) != port)
            continue;
        inodes.insert(inode);
    }
}

}  // namespace

bool KWPortOwner::IsFree(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(fd, 1) == 0;
    close(fd);
    return free;
}

pid_t KWPortOwner::FindListener(int port) {
    std::set<std::string> inodes;
    ListeningInodes("/proc/net/tcp", port, inodes);
    ListeningInodes("/proc/net/tcp6", port, inodes);
    if (inodes.empty())
        return -1;
    std::error_code ec;
    for (const auto& proc : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid = proc.path().filename();
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])))
            continue;
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(proc.path() / "fd", fdError)) {
            std::error_code linkError;
            const std::string target = std::filesystem::read_symlink(fd.path(), linkError);
            if (linkError || target.rfind("socket:[", 0) != 0)
                continue;
            if (inodes.count(target.substr(8, target.size() - 9)))
                return static_cast<pid_t>(std::stoi(pid));
        }
    }
    return -1;
}

std::string KWPortOwner::ExeName(pid_t pid) {
    std::error_code ec;
    std::string name = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename();
    if (ec)
        return std::string();
    // A replaced executable reads "name (deleted)".
    if (KWStringUtils::EndWithNoCase(name, " (deleted)"))
        name.resize(name.size() - 10);
    return name;
}

}  // namespace KwLib
