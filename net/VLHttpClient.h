#pragma once
#include <string>

namespace KwLib {

// Plain libcurl transfers shared by the request manager and the agent test: one
// easy handle per call, the body collected into `response`. The result is the
// CURLcode of the transfer (0 on success, whatever the HTTP status), or 2 when
// no handle could be made.
class VLHttpClient {
public:
    // Makes libcurl's process-wide set-up happen once, before any worker uses it.
    static void GlobalInit();

    static int HttpGet(const std::string& url, std::string& response, long connectTimeoutSec = 5,
                       long timeoutSec = 10);
    static int HttpPost(const std::string& url, const std::string& fields, std::string& response,
                        long connectTimeoutSec = 5, long timeoutSec = 10);

    // Limits a transfer, and every redirect it follows, to http and https: a
    // platform or relay that answers with a redirect must not lead the client
    // to read local files (file://) or speak other protocols to machines of
    // the school's network. False when libcurl refuses the setting.
    static bool RestrictToHttp(void* curlHandle);
};

}  // namespace KwLib
