#pragma once
#include <string>

namespace KwLib {

// Well-known folders of the current user and process; every folder ends with "/".
class KWShellUtils {
public:
    // $XDG_DATA_HOME, else ~/.local/share; empty when neither can be found.
    static std::string GetCUAppDataDirectory();
    // `xdg-user-dir DESKTOP` from user-dirs.dirs, else ~/Desktop.
    static std::string GetDesktopDirectory();
    // $XDG_RUNTIME_DIR, else the temporary folder.
    static std::string GetRuntimeDirectory();
};

class KWSharedLibrary {
public:
    // Full path of the running executable.
    static std::string GetModuleFullName();
};

class KWEnvironmentVariable {
public:
    // Empty when unset.
    static std::string GetEnvironmentVar(const std::string& name);
    static bool IsSet(const std::string& name);
    static bool SetEnvironmentVar(const std::string& name, const std::string& value);
};

}  // namespace KwLib
