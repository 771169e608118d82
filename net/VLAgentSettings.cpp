#include "net/VLAgentSettings.h"

#include "exam/VLQuestionParser.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

VLAgentSettings* VLAgentSettings::GetInstance() {
    static VLAgentSettings instance;
    return &instance;
}

void VLAgentSettings::SetConfigReaders(StringReader readString, IntReader readInt) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_readString = std::move(readString);
        m_readInt = std::move(readInt);
    }
    LoadAgentSettings();
}

void VLAgentSettings::LoadAgentSettings() {
    StringReader readString;
    IntReader readInt;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        readString = m_readString;
        readInt = m_readInt;
    }
    // Read outside the lock (the readers go to the configuration file), then
    // swap the values in at once: the request worker may be rewriting a URL.
    if (readString) {
        std::string host = readString("AGENT", "IP");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_host = std::move(host);
    }
    if (readInt) {
        const int32_t requestPort = readInt("AGENT", "Port1", 9500);
        const int32_t downloadPort = readInt("AGENT", "Port2", 9501);
        const int32_t uploadPort = readInt("AGENT", "Port3", 9502);
        const int32_t remotePort = readInt("REMOTESERVER", "Port1", 9600);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requestPort = requestPort;
        m_downloadPort = downloadPort;
        m_uploadPort = uploadPort;
        m_remotePort = remotePort;
    }
}

void VLAgentSettings::SetValues(const std::string& host, int32_t requestPort, int32_t downloadPort,
                                int32_t uploadPort, int32_t remotePort) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_host = host;
    m_requestPort = requestPort;
    m_downloadPort = downloadPort;
    m_uploadPort = uploadPort;
    m_remotePort = remotePort;
}

void VLAgentSettings::SetRunMode(int32_t runMode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_runMode = runMode;
}

void VLAgentSettings::SetDownloadDir(const std::string& dir) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_downloadDir = dir;
}

bool VLAgentSettings::IsAgentMode() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_runMode != 5 && m_runMode != 6;
}

int32_t VLAgentSettings::GetRequestPort() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requestPort;
}

int32_t VLAgentSettings::GetDownloadPort() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_downloadPort;
}

int32_t VLAgentSettings::GetUploadPort() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_uploadPort;
}

int32_t VLAgentSettings::GetRemotePort() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_remotePort;
}

std::string VLAgentSettings::GetAgentHost() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_host.empty() ? std::string("0.0.0.0") : m_host;
}

std::string VLAgentSettings::Rewrite(const std::string& url, Port which, bool useRemotePort) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_runMode == 5 || m_runMode == 6)
        return url;
    // Only the host decides: ".com" in a query (the address of an uploaded
    // file in a result, a log address) once cut the URL there. The host's own
    // port, if any, goes with it; what follows the host is kept whole.
    const size_t hostStart = [&url] {
        const size_t scheme = url.find("://");
        const size_t firstStop = url.find_first_of("/?#");
        size_t start = scheme != std::string::npos && scheme < firstStop ? scheme + 3 : 0;
        const size_t authorityEnd = url.find_first_of("/?#", start);
        const size_t at = url.rfind('@', authorityEnd == std::string::npos ? url.size() : authorityEnd);
        if (at != std::string::npos && at >= start)
            start = at + 1;
        return start;
    }();
    size_t rest = url.find_first_of("/?#", hostStart);
    if (rest == std::string::npos)
        rest = url.size();
    std::string host = url.substr(hostStart, rest - hostStart);
    if (!host.empty() && host[0] != '[') {
        const size_t colon = host.find(':');
        if (colon != std::string::npos)
            host.resize(colon);
    }
    if (KWStringUtils::FindNoCase(host, ".com") == std::string::npos)
        return url;
    int32_t port = useRemotePort             ? m_remotePort
                   : which == Port::Request  ? m_requestPort
                   : which == Port::Download ? m_downloadPort
                                             : m_uploadPort;
    const std::string agent = m_host.empty() ? std::string("0.0.0.0") : m_host;
    // No scheme: libcurl takes HTTP for a bare host.
    return KWStringUtils::Format("%s:%d%s", agent.c_str(), port, url.substr(rest).c_str());
}

std::string VLAgentSettings::RewriteRequestUrl(const std::string& url, bool useRemotePort) const {
    return Rewrite(url, Port::Request, useRemotePort);
}

std::string VLAgentSettings::RewriteDownloadUrl(const std::string& url, bool useRemotePort) const {
    return Rewrite(url, Port::Download, useRemotePort);
}

std::string VLAgentSettings::RewriteUploadUrl(const std::string& url, bool useRemotePort) const {
    return Rewrite(url, Port::Upload, useRemotePort);
}

std::string VLAgentSettings::CachePath(const std::string& downloadDir, const std::string& url) {
    // One rule for question files and head images: the paper parser's.
    return VLQuestionParser::GetCachePath(downloadDir, url);
}

std::string VLAgentSettings::GetCachePath(const std::string& url) const {
    std::string dir;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dir = m_downloadDir;
    }
    return CachePath(dir, url);
}

}  // namespace KwLib
