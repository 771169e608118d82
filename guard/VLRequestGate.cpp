#include "guard/VLRequestGate.h"

#include <cctype>
#include <cstring>

namespace KwLib {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsHostNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// "host[:port]" of an origin: a DNS name or IPv4 address, or a bracketed IPv6
// address; the port, when given, 1 to 65535 in decimal.
std::optional<std::string> NormalizeAuthority(const std::string& scheme, std::string authority) {
    authority = Lower(authority);
    std::string host;
    std::string port;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos || close < 3)
            return std::nullopt;
        host = authority.substr(0, close + 1);
        for (size_t i = 1; i < close; ++i)
            if (!std::isxdigit(static_cast<unsigned char>(host[i])) && host[i] != ':' && host[i] != '.')
                return std::nullopt;
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return std::nullopt;
            hasPort = true;
            port = rest.substr(1);
        }
    } else {
        const size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            port = authority.substr(colon + 1);
        }
        if (host.empty() || host.front() == '.' || host.front() == '-')
            return std::nullopt;
        for (char c : host)
            if (!IsHostNameChar(c))
                return std::nullopt;
    }
    if (hasPort) {
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const long value = std::stol(port);
        if (value < 1 || value > 65535)
            return std::nullopt;
        const bool isDefault = (scheme == "http" && value == 80) || (scheme == "https" && value == 443);
        port = isDefault ? std::string() : std::to_string(value);
    }
    return scheme + "://" + host + (port.empty() ? std::string() : ":" + port);
}

// Splits "scheme://authority..." and checks the scheme; `rest` is what follows "//".
bool SplitScheme(const std::string& text, std::string& scheme, std::string& rest) {
    const size_t sep = text.find("://");
    if (sep == std::string::npos)
        return false;
    scheme = Lower(text.substr(0, sep));
    if (scheme != "http" && scheme != "https")
        return false;
    rest = text.substr(sep + 3);
    return true;
}

}  // namespace

VLRequestGate::VLRequestGate(int port, const std::vector<std::string>& platformOrigins) : m_port(port) {
    const std::string p = std::to_string(port);
    m_own = {"http://127.0.0.1:" + p, "http://localhost:" + p, "http://[::1]:" + p};
    for (const std::string& origin : platformOrigins)
        if (auto normalized = OriginOfUrl(origin))
            m_platform.insert(*normalized);
}

std::optional<std::string> VLRequestGate::NormalizeOrigin(const std::string& origin) {
    std::string scheme, rest;
    if (!SplitScheme(origin, scheme, rest))
        return std::nullopt;
    // An origin is the scheme and authority alone: no user, path, query or fragment.
    if (rest.empty() || rest.find_first_of("/?#@ \t\r\n") != std::string::npos)
        return std::nullopt;
    return NormalizeAuthority(scheme, rest);
}

std::optional<std::string> VLRequestGate::OriginOfUrl(const std::string& url) {
    std::string scheme, rest;
    if (!SplitScheme(url, scheme, rest))
        return std::nullopt;
    const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.empty() || authority.find_first_of("@ \t\r\n") != std::string::npos)
        return std::nullopt;
    return NormalizeAuthority(scheme, authority);
}

std::vector<std::string> VLRequestGate::ParseOriginList(const std::string& list) {
    std::vector<std::string> origins;
    std::string entry;
    auto take = [&] {
        if (!entry.empty())
            if (auto origin = OriginOfUrl(entry))
                origins.push_back(*origin);
        entry.clear();
    };
    for (char c : list) {
        if (c == ',' || c == ';' || std::isspace(static_cast<unsigned char>(c)))
            take();
        else
            entry += c;
    }
    take();
    return origins;
}

bool VLRequestGate::IsOwnHost(const char* host) const {
    if (!host)
        return false;
    const std::string value = Lower(host);
    const std::string p = ":" + std::to_string(m_port);
    return value == "127.0.0.1" + p || value == "localhost" + p || value == "[::1]" + p;
}

bool VLRequestGate::IsTrustedOrigin(const std::string& normalizedOrigin) const {
    return m_own.count(normalizedOrigin) > 0 || m_platform.count(normalizedOrigin) > 0;
}

VLRequestGate::Verdict VLRequestGate::Judge(const char* host, const char* origin,
                                            const char* secFetchSite) const {
    if (!IsOwnHost(host))
        return Verdict::WrongHost;
    if (origin) {
        // "null" (a sandboxed frame, a file) and anything malformed are nobody we know.
        const auto normalized = NormalizeOrigin(origin);
        return normalized && IsTrustedOrigin(*normalized) ? Verdict::Allowed : Verdict::ForeignOrigin;
    }
    if (!secFetchSite)
        return Verdict::Allowed;
    // Without an Origin a browser still says where the request comes from: an
    // address typed in ("none") or a page of the server itself are fine; a
    // navigation or an image of another site ("cross-site", and "same-site",
    // which takes in every other server on this PC's loopback) is not.
    const std::string site = Lower(secFetchSite);
    return site == "none" || site == "same-origin" ? Verdict::Allowed : Verdict::ForeignOrigin;
}

}  // namespace KwLib
