#include "guard/VLStaticFiles.h"

#include <event2/http.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/common/KWStringUtils.h"

namespace KwLib {

std::string VLStaticFiles::ContentTypeFor(const std::string& path) {
    // "htm" and "ps" once had types no browser knows ("text/htm",
    // "application/postsript"); they are served as what they are.
    static const struct {
        const char* ext;
        const char* type;
    } kTable[] = {
        {"txt", "text/plain"}, {"c", "text/plain"},        {"h", "text/plain"},
        {"html", "text/html"}, {"htm", "text/html"},       {"css", "text/css"},
        {"gif", "image/gif"},  {"jpg", "image/jpeg"},      {"jpeg", "image/jpeg"},
        {"png", "image/png"},  {"pdf", "application/pdf"}, {"ps", "application/postscript"},
    };
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return "application/misc";
    const std::string ext = path.substr(dot + 1);
    for (const auto& entry : kTable)
        if (KWStringUtils::CompareNoCase(ext, entry.ext) == 0)
            return entry.type;
    return "application/misc";
}

std::optional<std::string> VLStaticFiles::Resolve(const std::string& root, const std::string& decodedPath) {
    if (root.empty() || decodedPath.find("..") != std::string::npos ||
        decodedPath.find('\0') != std::string::npos || decodedPath.find('\\') != std::string::npos)
        return std::nullopt;
    std::error_code ec;
    const std::string resolved = std::filesystem::canonical(root + "/" + decodedPath, ec).string();
    if (ec)
        return std::nullopt;
    if (resolved != root && resolved.compare(0, root.size() + 1, root + "/") != 0)
        return std::nullopt;
    return resolved;
}

VLStaticFiles::Target VLStaticFiles::MapUri(const std::string& uri, const std::string& root) {
    Target target;
    std::unique_ptr<evhttp_uri, decltype(&evhttp_uri_free)> parsed(evhttp_uri_parse(uri.c_str()),
                                                                   &evhttp_uri_free);
    if (!parsed || uri.find('\0') != std::string::npos) {
        target.kind = Target::BadRequest;
        return target;
    }
    const char* path = evhttp_uri_get_path(parsed.get());
    target.uriPath = path && *path ? path : "/";
    size_t length = 0;
    std::unique_ptr<char, decltype(&free)> decoded(evhttp_uridecode(target.uriPath.c_str(), 0, &length),
                                                   &free);
    if (!decoded)
        return target;
    target.decodedPath.assign(decoded.get(), length);
    auto resolved = Resolve(root, target.decodedPath);
    if (!resolved)
        return target;
    target.kind = Target::Found;
    target.resolved = *resolved;
    return target;
}

std::string VLStaticFiles::HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string VLStaticFiles::UrlEncodePath(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string VLStaticFiles::ListingPage(const std::string& decodedPath, const std::string& baseHref,
                                       const std::vector<std::string>& names) {
    // Names come from the disk and the path from the request: both are escaped,
    // so a file name cannot put markup or script into the page.
    const std::string title = HtmlEscape(decodedPath);
    std::string page = KWStringUtils::Format(
        "<html>\n <head>\n  <title>%s</title>\n  <base href='%s'>\n </head>\n <body>\n  <h1>%s</h1>\n  "
        "<ul>\n",
        title.c_str(), HtmlEscape(baseHref).c_str(), title.c_str());
    for (const auto& name : names)
        page += KWStringUtils::Format("    <li><a href=\"%s\">%s</a>\n",
                                      HtmlEscape(UrlEncodePath(name)).c_str(), HtmlEscape(name).c_str());
    page += "</ul></body></html>\n";
    return page;
}

std::optional<std::vector<std::string>> VLStaticFiles::ListFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::directory_iterator it(path, ec);
    if (ec)
        return std::nullopt;
    // A listing has always shown the folder itself and its parent too.
    std::vector<std::string> names{".", ".."};
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace KwLib
