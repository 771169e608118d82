#pragma once
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace KwLib {

// Who may make the control server act. The server listens on loopback, but any
// page the browser of this PC shows can send it requests, and a name that a
// page's own DNS points at 127.0.0.1 makes them look same-origin. So:
//   - a request must be addressed to the server itself (its Host header names
//     127.0.0.1, localhost or [::1] with the server's port);
//   - "/runClient" and "/exit" act only for a local tool (no Origin and no
//     Sec-Fetch-Site), a person at the browser ("Sec-Fetch-Site: none", an
//     address typed in), the server's own pages, or a page of one of the
//     platform's web origins.
// Free of any HTTP object so that it can be tested and fuzzed on its own.
class VLRequestGate {
public:
    enum class Verdict { Allowed, WrongHost, ForeignOrigin };

    // `platformOrigins` as origins or URLs (OriginOfUrl); unusable ones are dropped.
    VLRequestGate(int port, const std::vector<std::string>& platformOrigins);

    // Header values as received, null when the header is absent.
    Verdict Judge(const char* host, const char* origin, const char* secFetchSite) const;
    bool IsOwnHost(const char* host) const;
    bool IsTrustedOrigin(const std::string& normalizedOrigin) const;
    const std::set<std::string>& PlatformOrigins() const { return m_platform; }

    // "scheme://host[:port]" in lower case without a default port, for http and
    // https only; nothing for anything else (a path, user information, "null",
    // another scheme, a malformed host or port).
    static std::optional<std::string> NormalizeOrigin(const std::string& origin);
    // The origin of a URL (or URL template): its scheme and authority; the path,
    // query and fragment are ignored.
    static std::optional<std::string> OriginOfUrl(const std::string& url);
    // The entries of a list separated by commas, semicolons or blanks, each a
    // URL or an origin; unusable entries are left out.
    static std::vector<std::string> ParseOriginList(const std::string& list);

private:
    int m_port;
    std::set<std::string> m_own;       // the server's own origins
    std::set<std::string> m_platform;  // normalized
};

}  // namespace KwLib
