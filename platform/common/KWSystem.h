#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace KwLib {

// Arguments of the form -key=value (the value may be quoted). Keys are matched
// ignoring case and with or without their leading "-".
class KWCmdLineParser {
public:
    KWCmdLineParser(const std::string& commandLine, int flag = 0);
    KWCmdLineParser(int argc, const char* const* argv);
    bool HasKey(const std::string& key) const;
    std::string GetValue(const std::string& key) const;

private:
    void AddArgument(const std::string& arg);
    std::vector<std::pair<std::string, std::string>> m_values;
};

class KWVersionUtils {
public:
    // Negative, zero or positive; parts are compared as numbers, missing parts count as 0.
    static int VersionCompare(const std::string& a, const std::string& b);
};

class KWNetworkAdapter {
public:
    // The hardware address of the first non-loopback adapter by name, as
    // "AA-BB-CC-DD-EE-FF"; empty when there is none. Adapters backed by a
    // device come before virtual ones (bridges, containers, tunnels), whose
    // addresses change when they are recreated.
    static std::string SelectMacAddress();
    // The same over another copy of /sys/class/net.
    static std::string SelectMacAddress(const std::string& classNetDir);
};

class KWSystemInfo {
public:
    // System name and release ("Linux 6.1.0-18-amd64"), with the release's
    // major and minor numbers.
    static bool GetWindowsVersion(std::string& name, int& major, int& minor);
    // Milliseconds since this process was started (exec included); -1 when unknown.
    static int64_t ProcessAgeMs();
};

class KWQuickLaunch {
public:
    // Writes a desktop entry at `shortcutPath` that starts `target` with
    // `arguments`; it is made executable so desktops trust it.
    static bool CreateQuickLaunch(const std::string& target, const std::string& arguments,
                                  const std::string& workDir, const std::string& shortcutPath,
                                  const std::string& description, int iconIndex, const std::string& iconFile,
                                  bool overwrite);
};

}  // namespace KwLib
