// Every transfer of the client keeps to http and https, redirects included:
// a platform or relay that answers with a redirect, or a question document that
// names a file:// address, must not make the client read local files or speak
// other protocols to machines of the school's network.
#include "net/VLHttpClient.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "net/VLDownloadManager.h"
#include "net/VLUploadManager.h"
#include "tests/net/VLNetTestSupport.h"

namespace KwLib {
namespace {

// A loopback listener; Accepted() tells whether anybody connected to it.
class Listener {
public:
    Listener() {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(m_fd, 8) == 0 &&
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~Listener() { close(m_fd); }
    int Port() const { return m_port; }
    int Fd() const { return m_fd; }
    bool Accepted() const {
        pollfd p{m_fd, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Answers every request with a redirect to `location`.
class Redirector {
public:
    explicit Redirector(std::string location) : m_location(std::move(location)) {
        m_thread = std::thread([this] {
            while (!m_stop) {
                pollfd p{m_listener.Fd(), POLLIN, 0};
                if (poll(&p, 1, 50) <= 0)
                    continue;
                int client = accept(m_listener.Fd(), nullptr, nullptr);
                if (client < 0)
                    continue;
                char request[4096];
                (void)!recv(client, request, sizeof request, 0);
                const std::string reply = "HTTP/1.1 302 Found\r\nLocation: " + m_location +
                                          "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                (void)!send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
                close(client);
            }
        });
    }
    ~Redirector() {
        m_stop = true;
        m_thread.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_listener.Port()) + path;
    }

private:
    Listener m_listener;
    std::string m_location;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST(VLHttpClient, OnlyHttpAndHttpsAreSpokenAndFollowed) {
    const std::string dir = MakeTestDir("protocols");
    const std::string secret = dir + "secret.txt";
    ASSERT_TRUE(KWFile::WriteAtomic(secret, "LOCAL-SECRET"));

    // Asked for directly: a local file is not read.
    std::string response;
    EXPECT_EQ(VLHttpClient::HttpGet("file://" + secret, response), CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(response, "");
    VLDownloadManager downloads;
    const std::string save = dir + "copy.txt";
    EXPECT_NE(downloads.DownloadFile("file://" + secret, save, "t"), 0);
    EXPECT_FALSE(KWFilePathUtils::IsExists(save));

    // Redirected: to a local file, and to another protocol on a machine of the network.
    Listener ftp;
    for (const std::string& location :
         {"file://" + secret, "ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/x.png",
          "gopher://127.0.0.1:" + std::to_string(ftp.Port()) + "/x",
          "dict://127.0.0.1:" + std::to_string(ftp.Port())}) {
        Redirector redirect(location);
        response.clear();
        EXPECT_EQ(VLHttpClient::HttpGet(redirect.Url("/api2/x?y=1"), response), CURLE_UNSUPPORTED_PROTOCOL)
            << location;
        EXPECT_EQ(response.find("LOCAL-SECRET"), std::string::npos);
        EXPECT_NE(downloads.DownloadFile(redirect.Url("/files/x.png"), save, "t"), 0) << location;
        EXPECT_FALSE(KWFilePathUtils::IsExists(save)) << location;
        EXPECT_FALSE(ftp.Accepted()) << location;
    }

    // An upload to anything but http(s) sends nothing.
    VLUploadManager uploads;
    const std::string target = dir + "uploaded.txt";
    EXPECT_EQ(uploads.UploadFile("file://" + target, secret, response), CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(uploads.UploadFile("ftp://127.0.0.1:" + std::to_string(ftp.Port()) + "/up", secret, response),
              CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_FALSE(ftp.Accepted());
    EXPECT_FALSE(KWFilePathUtils::IsExists(target));
    downloads.Release();
    uploads.Release();
    KWFilePathUtils::RemoveAll(dir);
}

}  // namespace
}  // namespace KwLib
