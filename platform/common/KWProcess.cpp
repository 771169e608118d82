#include "platform/common/KWProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWThread.h"

extern char** environ;

namespace KwLib {

pid_t KWProcess::Spawn(const std::string& path, const std::vector<std::string>& args,
                       const std::string& workDir) {
    SpawnOptions options;
    options.workDir = workDir;
    return Spawn(path, args, options);
}

pid_t KWProcess::Spawn(const std::string& path, const std::vector<std::string>& args,
                       const SpawnOptions& options) {
    const std::string& workDir = options.workDir;
    std::vector<std::string> argvStore;
    argvStore.push_back(path);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::string program = path;
    if (!workDir.empty()) {
        // posix_spawn has no working-directory attribute before glibc 2.29's
        // extension; a relative program path would be resolved against the new folder.
        std::error_code ec;
        program = std::filesystem::absolute(path, ec).string();
    }
    // The child gets no open files of ours beyond the standard three (sockets,
    // databases, the log), and a clean signal mask whatever thread starts it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> envStore = options.environment.value_or(std::vector<std::string>());
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(),
                         options.environment ? envp.data() : environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        VL_LOG_ERROR("start %s failed: %d", path.c_str(), rc);
        return -1;
    }
    // Nobody waits for these programs; reap them so they leave no zombie behind.
    if (!KWThread::StartDetached([pid, onExit = options.onExit] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (onExit)
                onExit(status);
        })) {
        VL_LOG_WARN("no thread to reap %d; it stays a zombie after it ends", static_cast<int>(pid));
        // Its end will never be heard of: a caller that waits for it must not wait forever.
        if (options.onExit)
            options.onExit(-1);
    }
    return pid;
}

std::vector<pid_t> KWProcess::FindByName(const std::string& exeName) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::string pidText = entry.path().filename();
        if (pidText.empty() || !std::isdigit(static_cast<unsigned char>(pidText[0])))
            continue;
        std::string base = entry.path().string();
        auto stat = KWFile::ReadAll(base + "/stat");
        if (!stat)
            continue;
        // The state follows the parenthesised command name; skip zombies.
        size_t close = stat->rfind(')');
        if (close == std::string::npos || close + 2 >= stat->size() || (*stat)[close + 2] == 'Z')
            continue;
        std::string name;
        std::error_code ec2;
        auto exe = std::filesystem::read_symlink(base + "/exe", ec2);
        if (!ec2) {
            name = exe.filename();
            // A replaced executable reads "name (deleted)".
            if (KWStringUtils::EndWithNoCase(name, " (deleted)"))
                name.resize(name.size() - 10);
        } else {
            auto cmdline = KWFile::ReadAll(base + "/cmdline");
            if (cmdline && !cmdline->empty())
                name = KWFilePathUtils::FileName(cmdline->c_str());
        }
        if (!name.empty() && KWStringUtils::CompareNoCase(name, exeName) == 0)
            found.push_back(static_cast<pid_t>(std::stoi(pidText)));
    }
    return found;
}

bool KWProcess::HasOpen(pid_t pid, const std::string& path) {
    struct stat wanted;
    if (stat(path.c_str(), &wanted) != 0)
        return false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        struct stat open;
        // stat follows the descriptor's link to the open file itself.
        if (stat(entry.path().c_str(), &open) == 0 && open.st_dev == wanted.st_dev && open.st_ino == wanted.st_ino)
            return true;
    }
    return false;
}

bool KWProcess::IsRunning(const std::string& exeName) {
    return !FindByName(exeName).empty();
}

pid_t KWProcess::CurrentId() {
    return getpid();
}

}  // namespace KwLib
