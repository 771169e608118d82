#pragma once
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace KwLib {

// Processes started from an argument vector, never through a shell.
class KWProcess {
public:
    // Starts `path` with `args` (not including argv[0]) and the current
    // environment; the child is reaped in the background. Returns its pid, or -1.
    static pid_t Spawn(const std::string& path, const std::vector<std::string>& args,
                       const std::string& workDir = std::string());

    struct SpawnOptions {
        std::string workDir;
        // "NAME=value" entries; the current environment when not set.
        std::optional<std::vector<std::string>> environment;
        // Called on the reaping thread once the child has ended, with its wait status.
        std::function<void(int status)> onExit;
    };
    static pid_t Spawn(const std::string& path, const std::vector<std::string>& args,
                       const SpawnOptions& options);
    // True when a live (not zombie) process runs an executable with this file
    // name, compared ignoring case.
    static bool IsRunning(const std::string& exeName);
    static std::vector<pid_t> FindByName(const std::string& exeName);
    // True when the process has the file at `path` open (compared by device and
    // inode, so any spelling of the path matches). Only our own processes can be looked at.
    static bool HasOpen(pid_t pid, const std::string& path);
    static pid_t CurrentId();
};

}  // namespace KwLib
