#pragma once
#include <optional>
#include <string>
#include <vector>

namespace KwLib {

// The rules of the control server's static-file handler, free of any HTTP
// object so that they can be tested and fuzzed on their own. Stateless; any
// thread may use them.
class VLStaticFiles {
public:
    // The content type of a file name by its extension, ignoring case;
    // "application/misc" for anything unknown or without an extension.
    static std::string ContentTypeFor(const std::string& path);

    // Maps a decoded request path onto a file or folder below `root` (a folder
    // whose symbolic links are already resolved, without a trailing "/").
    // Returns the resolved path, or nothing when the path holds "..", a NUL or
    // a backslash, does not exist, or leads outside the root by any route
    // (symbolic links included).
    static std::optional<std::string> Resolve(const std::string& root, const std::string& decodedPath);

    // What a GET request's URI names: a bad URI (400), nothing servable (404),
    // or a file or folder inside the root.
    struct Target {
        enum Kind { BadRequest, NotFound, Found } kind = NotFound;
        std::string uriPath;      // the URI's path as sent, "/" when it has none
        std::string decodedPath;  // that path URL-decoded
        std::string resolved;     // Found: the resolved file-system path
    };
    static Target MapUri(const std::string& uri, const std::string& root);

    // The page listing `names` (already sorted) of the folder `decodedPath`.
    // `baseHref` is the server's base URL followed by the request's path.
    static std::string ListingPage(const std::string& decodedPath, const std::string& baseHref,
                                   const std::vector<std::string>& names);

    // The entries of a folder, "." and ".." included, sorted by name; nothing
    // when it cannot be read.
    static std::optional<std::vector<std::string>> ListFolder(const std::string& path);

    static std::string HtmlEscape(const std::string& text);
    // Percent-encodes everything outside the unreserved characters and "/".
    static std::string UrlEncodePath(const std::string& text);
};

}  // namespace KwLib
