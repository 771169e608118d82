#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace KwLib {

// The classroom agent: one address with a port for API requests, one for
// downloads and one for uploads, plus the remote-server port. Rewrites every
// outgoing URL to the agent unless the run mode is 5 or 6. Changed on the UI
// thread, read there and by the request worker (its parsers queue downloads), so
// the values sit behind a mutex.
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
    void SetRunMode(int32_t runMode);
    void SetValues(const std::string& host, int32_t requestPort, int32_t downloadPort, int32_t uploadPort,
                   int32_t remotePort);
    // Folder of the download cache (ends in "/"), for GetCachePath.
    void SetDownloadDir(const std::string& dir);

    bool IsAgentMode() const;
    // The agent host, or "0.0.0.0" when none is set.
    std::string GetAgentHost() const;
    int32_t GetRequestPort() const;
    int32_t GetDownloadPort() const;
    int32_t GetUploadPort() const;
    int32_t GetRemotePort() const;

    // A URL whose host holds ".com" (any case) becomes "<agent>:<port>" and
    // everything after the host (path, query, fragment); the host's own port is
    // dropped. Any other URL, and every URL in run modes 5 and 6, is unchanged.
    std::string RewriteRequestUrl(const std::string& url, bool useRemotePort = false) const;
    std::string RewriteDownloadUrl(const std::string& url, bool useRemotePort = false) const;
    std::string RewriteUploadUrl(const std::string& url, bool useRemotePort = false) const;
    // Download folder + MD5 of the URL + the URL's extension.
    std::string GetCachePath(const std::string& url) const;
    static std::string CachePath(const std::string& downloadDir, const std::string& url);

private:
    enum class Port { Request, Download, Upload };
    std::string Rewrite(const std::string& url, Port port, bool useRemotePort) const;

    mutable std::mutex m_mutex;  // guards every field below

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
