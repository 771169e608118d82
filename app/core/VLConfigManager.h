#pragma once
#include <string>

namespace KwLib {

// config.cfg, shared by the client and the guard. Used on the UI thread only
// (the guard reads it on its own thread, with its own instance).
class VLConfigManager {
public:
    static VLConfigManager& GetInstance();
    VLConfigManager() = default;
    explicit VLConfigManager(std::string path) : m_path(std::move(path)) {}

    void SetPath(const std::string& path) { m_path = path; }
    const std::string& GetPath() const { return m_path; }

    // Reads every loaded key with its default; a missing file gives the defaults.
    bool Load();
    // Writes the saved keys in their order; other sections and keys of the file
    // stay. False, with the reason in the log, when the file could not be
    // written (or exists but cannot be read); the values stay in memory.
    bool Save();
    bool IsLoaded() const { return m_loaded; }

    // Only the pairs the client answers are known; anything else gives "" or 0.
    // ("DISPLAY","Scale") is the interface's scale a school may set (e.g. "1"
    // for the exam at its layout size on any screen); empty for the screen's fit.
    std::string GetString(const std::string& section, const std::string& key) const;
    int GetInt(const std::string& section, const std::string& key) const;
    // Only the writable pairs are stored; false for any other.
    bool SetString(const std::string& section, const std::string& key, const std::string& value);
    bool SetInt(const std::string& section, const std::string& key, int value);
    // ("AGENT","Enable") is loaded and saved but not answered by GetInt.
    int GetAgentEnable() const { return m_agentEnable; }

private:
    std::string m_path;
    bool m_loaded = false;
    std::string m_curVersion = "0.0.0.0";
    std::string m_agentVersion = "0.0.0.0";
    int m_agentEnable = 1;
    std::string m_agentIp;
    int m_agentPort1 = 9500;
    int m_agentPort2 = 9501;
    int m_agentPort3 = 9502;
    int m_remotePort1 = 9600;
    int m_remotePort2 = 9601;
    int m_quesFont = 16;
    std::string m_displayScale;
    std::string m_logLevel;
    int m_exitType = 0;
    int m_needUpdate = 0;
    int m_localPort1 = 0;
    int m_localPort2 = 0;
};

}  // namespace KwLib
