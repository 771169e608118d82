#include "platform/common/KWSystem.h"

#include <unistd.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {
std::string NormalizeKey(const std::string& key) {
    std::string k = key;
    while (!k.empty() && (k.front() == '-' || k.front() == '/'))
        k.erase(k.begin());
    return KWStringUtils::MakeLower(k);
}

// Splits a command line at blanks outside double quotes; quotes are removed.
std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any)
                out.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any)
        out.push_back(cur);
    return out;
}

std::string DesktopEscape(const std::string& arg) {
    // Desktop entries quote arguments with double quotes and escape \ " ` $.
    std::string out = "\"";
    for (char c : arg) {
        if (c == '\\' || c == '"' || c == '`' || c == '$')
            out += '\\';
        out += c;
    }
    return out + "\"";
}
}  // namespace

KWCmdLineParser::KWCmdLineParser(const std::string& commandLine, int) {
    for (const auto& arg : SplitCommandLine(commandLine))
        AddArgument(arg);
}

KWCmdLineParser::KWCmdLineParser(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        AddArgument(argv[i]);
}

void KWCmdLineParser::AddArgument(const std::string& arg) {
    if (arg.empty() || arg[0] != '-')
        return;
    size_t eq = arg.find('=');
    std::string key = NormalizeKey(eq == std::string::npos ? arg : arg.substr(0, eq));
    std::string value = eq == std::string::npos ? std::string() : arg.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    if (key.empty())
        return;
    m_values.emplace_back(key, value);
}

bool KWCmdLineParser::HasKey(const std::string& key) const {
    std::string k = NormalizeKey(key);
    return std::any_of(m_values.begin(), m_values.end(), [&](const auto& kv) { return kv.first == k; });
}

std::string KWCmdLineParser::GetValue(const std::string& key) const {
    std::string k = NormalizeKey(key);
    for (const auto& kv : m_values)
        if (kv.first == k)
            return kv.second;
    return std::string();
}

int KWVersionUtils::VersionCompare(const std::string& a, const std::string& b) {
    std::vector<std::string> pa, pb;
    KWStringToken::StringToArray(a, ".", pa, true);
    KWStringToken::StringToArray(b, ".", pb, true);
    size_t n = std::max(pa.size(), pb.size());
    for (size_t i = 0; i < n; ++i) {
        int64_t va = i < pa.size() ? KWStringUtils::ConvertStringToInt64(pa[i]) : 0;
        int64_t vb = i < pb.size() ? KWStringUtils::ConvertStringToInt64(pb[i]) : 0;
        if (va != vb)
            return va < vb ? -1 : 1;
    }
    return 0;
}

std::string KWNetworkAdapter::SelectMacAddress() {
    return SelectMacAddress("/sys/class/net");
}

std::string KWNetworkAdapter::SelectMacAddress(const std::string& classNetDir) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(classNetDir, ec))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    for (bool physicalOnly : {true, false}) {
        for (const auto& name : names) {
            if (name == "lo")
                continue;
            std::string base = classNetDir + "/" + name;
            if (physicalOnly && !fs::exists(base + "/device", ec))
                continue;
            auto addr = KWFile::ReadAll(base + "/address");
            if (!addr)
                continue;
            std::string mac = KWStringUtils::MakeUpper(KWStringUtils::Trim(*addr));
            if (mac.size() != 17 || mac == "00:00:00:00:00:00")
                continue;
            KWStringUtils::Replace(mac, ":", "-");
            return mac;
        }
    }
    return std::string();
}

bool KWSystemInfo::GetWindowsVersion(std::string& name, int& major, int& minor) {
    struct utsname u;
    if (uname(&u) != 0) {
        name = "Linux";
        major = minor = 0;
        return false;
    }
    name = std::string(u.sysname) + " " + u.release;
    std::vector<std::string> parts;
    KWStringToken::StringToArray(u.release, ".", parts);
    major = parts.size() > 0 ? KWStringUtils::ConvertStringToInt32(parts[0]) : 0;
    minor = parts.size() > 1 ? KWStringUtils::ConvertStringToInt32(parts[1]) : 0;
    return true;
}

bool KWQuickLaunch::CreateQuickLaunch(const std::string& target, const std::string& arguments,
                                      const std::string& workDir, const std::string& shortcutPath,
                                      const std::string& description, int, const std::string& iconFile,
                                      bool overwrite) {
    if (!overwrite && KWFilePathUtils::IsExists(shortcutPath))
        return false;
    std::string dir = KWFileSystemUtils::GetOnlyDirPrefix(shortcutPath);
    if (!dir.empty())
        KWFilePathUtils::CreateDirectories(dir);
    std::string exec = DesktopEscape(target);
    if (!arguments.empty())
        exec += " " + arguments;
    std::string text = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
    text += "Name=" + KWFilePathUtils::BaseName(shortcutPath) + "\n";
    if (!description.empty())
        text += "Comment=" + description + "\n";
    text += "Exec=" + exec + "\n";
    if (!workDir.empty())
        text += "Path=" + workDir + "\n";
    if (!iconFile.empty())
        text += "Icon=" + iconFile + "\n";
    text += "Terminal=false\n";
    if (!KWFile::WriteAtomic(shortcutPath, text))
        return false;
    chmod(shortcutPath.c_str(), 0755);
    return true;
}

int64_t KWSystemInfo::ProcessAgeMs() {
    // Field 22 of /proc/self/stat: the start time in clock ticks since boot.
    std::ifstream in("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');  // the name may hold spaces
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long start = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22)
            start = std::strtoull(field.c_str(), nullptr, 10);
    timespec now{};
    const long ticks = sysconf(_SC_CLK_TCK);
    if (start == 0 || ticks <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return -1;
    const int64_t nowMs = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return nowMs - static_cast<int64_t>(start * 1000 / ticks);
}

}  // namespace KwLib
