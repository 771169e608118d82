#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace KwLib {

// The classroom agent: one address with a port for API requests, one for
// downloads and one for uploads, plus the remote-server port. Rewrites every
// outgoing URL to the agent unless the run mode is 5 or 6. Read on the UI
// thread and the request worker; changed only on the UI thread.
class VLAgentSettings {
public:
    // Reads a configuration value; the start-up code hands in the configuration
    // manager's GetString and GetInt ("AGENT"/"IP", "Port1".."Port3",
    // "REMOTESERVER"/"Port1"). An int reader gives its default when the key is missing.
    using StringReader = std::function<std::string(const std::string& section, const std::string& key)>;
    using IntReader = std::function<int(const std::string& section, const std::string& key, int fallback)>;

    VLAgentSettings() = default;
    static VLAgentSettings* GetInstance();

    void SetConfigReaders(StringReader readString, IntReader readInt);
    // Reads the five values again through the readers.
    void LoadAgentSettings();
    void SetRunMode(int32_t runMode) { m_runMode = runMode; }
    void SetValues(const std::string& host, int32_t requestPort, int32_t downloadPort, int32_t uploadPort,
                   int32_t remotePort);
    // Folder of the download cache (ends in "/"), for GetCachePath.
    void SetDownloadDir(const std::string& dir) { m_downloadDir = dir; }

    bool IsAgentMode() const { return m_runMode != 5 && m_runMode != 6; }
    // The agent host, or "0.0.0.0" when none is set.
    std::string GetAgentHost() const;
    int32_t GetRequestPort() const { return m_requestPort; }
    int32_t GetDownloadPort() const { return m_downloadPort; }
    int32_t GetUploadPort() const { return m_uploadPort; }
    int32_t GetRemotePort() const { return m_remotePort; }

    std::string RewriteRequestUrl(const std::string& url, bool useRemotePort = false) const;
    std::string RewriteDownloadUrl(const std::string& url, bool useRemotePort = false) const;
    std::string RewriteUploadUrl(const std::string& url, bool useRemotePort = false) const;
    // Download folder + MD5 of the URL + the URL's extension.
    std::string GetCachePath(const std::string& url) const;
    static std::string CachePath(const std::string& downloadDir, const std::string& url);

private:
    std::string Rewrite(const std::string& url, int32_t port) const;

    int32_t m_runMode = 0;
    std::string m_host;
    int32_t m_requestPort = 9500;
    int32_t m_downloadPort = 9501;
    int32_t m_uploadPort = 9502;
    int32_t m_remotePort = 9600;
    std::string m_downloadDir;
    StringReader m_readString;
    IntReader m_readInt;
};

}  // namespace KwLib
