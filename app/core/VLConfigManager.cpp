#include "app/core/VLConfigManager.h"

#include <cerrno>
#include <cstring>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWIniFile.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringConvert.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {
// Text values were read into a 260-character buffer.
constexpr size_t kMaxTextChars = 259;

std::string ReadText(const std::string& text, const char* section, const char* key, const char* def) {
    std::string value;
    if (!KWIniFile::Lookup(text, section, key, value))
        value = def;
    return KWStringConvert::CutToCodePoints(value, kMaxTextChars);
}

int ReadInt(const std::string& text, const char* section, const char* key, int def) {
    std::string value;
    // An empty value counts as absent ("Port1=" keeps 9500, not port 0).
    if (!KWIniFile::Lookup(text, section, key, value) || value.empty())
        return def;
    return KWStringUtils::ConvertStringToInt32(value);
}
}  // namespace

VLConfigManager& VLConfigManager::GetInstance() {
    static VLConfigManager instance;
    return instance;
}

bool VLConfigManager::Load() {
    std::string text = KWFile::ReadAll(m_path).value_or(std::string());
    m_curVersion = ReadText(text, "VERSION", "CurVersion", "0.0.0.0");
    m_agentVersion = ReadText(text, "AGENT", "Version", "0.0.0.0");
    m_agentEnable = ReadInt(text, "AGENT", "Enable", 1);
    m_agentIp = ReadText(text, "AGENT", "IP", "");
    m_agentPort1 = ReadInt(text, "AGENT", "Port1", 9500);
    m_agentPort2 = ReadInt(text, "AGENT", "Port2", 9501);
    m_agentPort3 = ReadInt(text, "AGENT", "Port3", 9502);
    m_remotePort1 = ReadInt(text, "REMOTESERVER", "Port1", 9600);
    m_remotePort2 = ReadInt(text, "REMOTESERVER", "Port2", 9601);
    m_quesFont = ReadInt(text, "FONT", "QuesFont", 16);
    // A school's own choice, written by hand: read, never written back.
    m_displayScale = ReadText(text, "DISPLAY", "Scale", "");
    m_loaded = true;
    return true;
}

bool VLConfigManager::Save() {
    // Every failure is a false and a line saying why: the agent settings
    // window tells the user that the settings were not saved, instead of
    // letting them find the old address after the next start.
    auto existing = KWFile::ReadAll(m_path);
    if (!existing && KWFilePathUtils::IsExists(m_path)) {
        // Rewriting a file we cannot read would drop every other section in it.
        VL_LOG_ERROR("cannot save %s: it exists but cannot be read (%s); settings kept in memory only",
                     m_path.c_str(), strerror(errno));
        return false;
    }
    std::string text = existing.value_or(std::string());
    auto set = [&text](const char* section, const char* key, const std::string& value) {
        text = KWIniFile::SetInText(text, section, key, value);
    };
    auto num = [](int v) { return KWStringUtils::ConvertInt32ToString(v); };
    set("VERSION", "CurVersion", m_curVersion);
    set("AGENT", "Version", m_agentVersion);
    set("AGENT", "Enable", num(m_agentEnable));
    set("AGENT", "IP", m_agentIp);
    set("AGENT", "Port1", num(m_agentPort1));
    set("AGENT", "Port2", num(m_agentPort2));
    set("AGENT", "Port3", num(m_agentPort3));
    set("REMOTESERVER", "Port1", num(m_remotePort1));
    set("REMOTESERVER", "Port2", num(m_remotePort2));
    set("FONT", "QuesFont", num(m_quesFont));
    std::string dir = KWFileSystemUtils::GetOnlyDirPrefix(m_path);
    if (!dir.empty() && !KWFilePathUtils::IsDirectory(dir) && !KWFilePathUtils::CreateDirectories(dir)) {
        VL_LOG_ERROR("cannot save %s: its folder cannot be created (%s); settings kept in memory only",
                     m_path.c_str(), strerror(errno));
        return false;
    }
    if (!KWFile::WriteAtomic(m_path, text)) {
        VL_LOG_ERROR("cannot save %s: writing failed (%s); settings kept in memory only", m_path.c_str(),
                     strerror(errno));
        return false;
    }
    return true;
}

std::string VLConfigManager::GetString(const std::string& section, const std::string& key) const {
    if (section == "LOGINFO" && key == "Level")
        return m_logLevel;
    if (section == "AGENT" && key == "IP")
        return m_agentIp;
    if (section == "VERSION" && key == "CurVersion")
        return m_curVersion;
    if (section == "AGENT" && key == "Version")
        return m_agentVersion;
    if (section == "DISPLAY" && key == "Scale")
        return m_displayScale;
    return std::string();
}

int VLConfigManager::GetInt(const std::string& section, const std::string& key) const {
    if (section == "SETTING" && key == "ExitType")
        return m_exitType;
    if (section == "AGENT") {
        if (key == "Port1")
            return m_agentPort1;
        if (key == "Port2")
            return m_agentPort2;
        if (key == "Port3")
            return m_agentPort3;
        if (key == "NeedUpdate")
            return m_needUpdate;
    }
    if (section == "LOCALSERVER") {
        if (key == "Port1")
            return m_localPort1;
        if (key == "Port2")
            return m_localPort2;
    }
    if (section == "REMOTESERVER") {
        if (key == "Port1")
            return m_remotePort1;
        if (key == "Port2")
            return m_remotePort2;
    }
    if (section == "FONT" && key == "QuesFont")
        return m_quesFont;
    return 0;
}

bool VLConfigManager::SetString(const std::string& section, const std::string& key,
                                const std::string& value) {
    std::string v = KWStringConvert::CutToCodePoints(value, kMaxTextChars);
    if (section == "VERSION" && key == "CurVersion") {
        m_curVersion = v;
    } else if (section == "AGENT" && key == "Version") {
        m_agentVersion = v;
    } else if (section == "AGENT" && key == "IP") {
        m_agentIp = v;
    } else {
        return false;
    }
    return true;
}

bool VLConfigManager::SetInt(const std::string& section, const std::string& key, int value) {
    if (section == "SETTING" && key == "ExitType") {
        m_exitType = value;
    } else if (section == "AGENT" && key == "Port1") {
        m_agentPort1 = value;
    } else if (section == "AGENT" && key == "Port2") {
        m_agentPort2 = value;
    } else if (section == "AGENT" && key == "Port3") {
        m_agentPort3 = value;
    } else {
        return false;
    }
    return true;
}

}  // namespace KwLib
