#include "platform/common/KWShellUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>

#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {
std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir;
}

// Reads XDG_<NAME>_DIR from ~/.config/user-dirs.dirs, expanding $HOME.
std::string UserDirFromConfig(const std::string& key, const std::string& home) {
    std::string configHome = KWEnvironmentVariable::GetEnvironmentVar("XDG_CONFIG_HOME");
    if (configHome.empty())
        configHome = home + "/.config";
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    const std::string prefix = "XDG_" + key + "_DIR=";
    while (std::getline(in, line)) {
        line = KWStringUtils::Trim(line);
        if (line.rfind(prefix, 0) != 0)
            continue;
        std::string value = KWStringUtils::Trim(line.substr(prefix.size()), "\"");
        KWStringUtils::Replace(value, "$HOME", home);
        return value;
    }
    return std::string();
}
}  // namespace

std::string KWShellUtils::GetCUAppDataDirectory() {
    std::string data = KWEnvironmentVariable::GetEnvironmentVar("XDG_DATA_HOME");
    if (!data.empty())
        return WithSlash(data);
    std::string home = KWEnvironmentVariable::GetEnvironmentVar("HOME");
    if (home.empty())
        return std::string();
    return WithSlash(home) + ".local/share/";
}

std::string KWShellUtils::GetDesktopDirectory() {
    std::string home = KWEnvironmentVariable::GetEnvironmentVar("HOME");
    if (home.empty())
        return std::string();
    std::string dir = UserDirFromConfig("DESKTOP", home);
    if (dir.empty())
        dir = WithSlash(home) + "Desktop";
    return WithSlash(dir);
}

std::string KWShellUtils::GetRuntimeDirectory() {
    std::string run = KWEnvironmentVariable::GetEnvironmentVar("XDG_RUNTIME_DIR");
    if (!run.empty() && KWFilePathUtils::IsDirectory(run))
        return WithSlash(run);
    // The shared temporary folder lets any account take our lock and socket
    // names first; a private folder of this user's avoids that.
    std::string tmp = KWFileSystemUtils::MyGetTempPath();
    std::string own = tmp + "virelo-" + std::to_string(getuid());
    mkdir(own.c_str(), 0700);
    struct stat st;
    if (lstat(own.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
        (st.st_mode & 077) == 0)
        return own + "/";
    return tmp;
}

std::string KWSharedLibrary::GetModuleFullName() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

std::string KWEnvironmentVariable::GetEnvironmentVar(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? std::string(v) : std::string();
}

bool KWEnvironmentVariable::IsSet(const std::string& name) {
    return std::getenv(name.c_str()) != nullptr;
}

bool KWEnvironmentVariable::SetEnvironmentVar(const std::string& name, const std::string& value) {
    return setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace KwLib
