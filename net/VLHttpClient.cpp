#include "net/VLHttpClient.h"

#include <curl/curl.h>

#include <mutex>

namespace KwLib {

namespace {

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

int Perform(const std::string& url, const std::string* fields, std::string& response, long connectTimeoutSec,
            long timeoutSec) {
    VLHttpClient::GlobalInit();
    CURL* curl = curl_easy_init();
    if (!curl)
        return CURLE_FAILED_INIT;
    if (!VLHttpClient::RestrictToHttp(curl)) {
        curl_easy_cleanup(curl);
        return CURLE_UNSUPPORTED_PROTOCOL;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeoutSec);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSec);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (fields) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(fields->size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, fields->c_str());
    }
    CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return static_cast<int>(code);
}

}  // namespace

bool VLHttpClient::RestrictToHttp(void* curlHandle) {
    CURL* curl = static_cast<CURL*>(curlHandle);
    return curl && curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
}

void VLHttpClient::GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int VLHttpClient::HttpGet(const std::string& url, std::string& response, long connectTimeoutSec,
                          long timeoutSec) {
    return Perform(url, nullptr, response, connectTimeoutSec, timeoutSec);
}

int VLHttpClient::HttpPost(const std::string& url, const std::string& fields, std::string& response,
                           long connectTimeoutSec, long timeoutSec) {
    return Perform(url, &fields, response, connectTimeoutSec, timeoutSec);
}

}  // namespace KwLib
