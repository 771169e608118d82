// The private line socket: who may create it where, what it answers, and
// that clients which misbehave or vanish hurt nobody else.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/common/KWLineSocketClient.h"
#include "platform/common/KWLineSocketServer.h"

using namespace KwLib;

namespace {

constexpr int kAnswerWaitMs = 30000;  // only a guard against hanging the suite

// A folder of our own, closed to everyone else, removed afterwards.
class PrivateFolder {
public:
    PrivateFolder() {
        std::string tmpl = std::filesystem::temp_directory_path() / "kwline.XXXXXX";
        char* made = mkdtemp(tmpl.data());
        EXPECT_NE(made, nullptr);
        m_path = tmpl;
    }
    ~PrivateFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string Echo(const std::string& line) {
    return "echo:" + line;
}
std::string Refuse(const std::string& problem) {
    return "refused:" + problem;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A socket file nobody listens on, as a crashed program leaves it.
void MakeStaleSocket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);
}

}  // namespace

TEST(KWLineSocketServer, AnswersEveryLineOfSeveralClientsAndCleansUp) {
    PrivateFolder dir;
    std::string path = dir.File("auto.sock");
    KWLineSocketServer server;
    EXPECT_FALSE(Exists(path));  // nothing before Start
    std::string error;
    ASSERT_TRUE(server.Start(path, Echo, Refuse, &error)) << error;
    EXPECT_TRUE(S_ISSOCK(ModeOf(path)));
    EXPECT_EQ(ModeOf(path) & 0777, 0600u);

    KWLineSocketClient a, b;
    ASSERT_TRUE(a.Connect(path, &error)) << error;
    ASSERT_TRUE(b.Connect(path, &error)) << error;
    std::string answer;
    // Two lines in one write, a CR-LF line end, and a second client in between.
    ASSERT_TRUE(a.SendLine("one\ntwo\r"));
    ASSERT_TRUE(b.Exchange("音乐", answer, kAnswerWaitMs));
    EXPECT_EQ(answer, "echo:音乐");
    ASSERT_TRUE(a.ReadLine(answer, kAnswerWaitMs));
    EXPECT_EQ(answer, "echo:one");
    ASSERT_TRUE(a.ReadLine(answer, kAnswerWaitMs));
    EXPECT_EQ(answer, "echo:two");
    ASSERT_TRUE(a.Exchange("", answer, kAnswerWaitMs));
    EXPECT_EQ(answer, "echo:");  // an empty line is a request too: one answer per line

    // Clients come and go; the server serves them in turn.
    a.Close();
    for (int i = 0; i < 3; ++i) {
        KWLineSocketClient c;
        ASSERT_TRUE(c.Connect(path));
        ASSERT_TRUE(c.Exchange("n" + std::to_string(i), answer, kAnswerWaitMs));
        EXPECT_EQ(answer, "echo:n" + std::to_string(i));
    }

    // Past the connection limit a client hears why and is let go; the others stay.
    while (server.ConnectionCount() > 1)  // the clients above have hung up; only b is left
        std::this_thread::yield();
    std::vector<std::unique_ptr<KWLineSocketClient>> crowd;
    while (crowd.size() + 1 < KWLineSocketServer::kMaxConnections) {
        crowd.push_back(std::make_unique<KWLineSocketClient>());
        ASSERT_TRUE(crowd.back()->Connect(path));
        ASSERT_TRUE(crowd.back()->Exchange("hello", answer, kAnswerWaitMs));  // served, so counted
    }
    KWLineSocketClient extra;
    ASSERT_TRUE(extra.Connect(path));
    ASSERT_TRUE(extra.ReadLine(answer, kAnswerWaitMs));
    EXPECT_EQ(answer.rfind("refused:too many connections", 0), 0u) << answer;
    EXPECT_FALSE(extra.ReadLine(answer, kAnswerWaitMs));  // and the connection is closed
    ASSERT_TRUE(crowd.front()->Exchange("still", answer, kAnswerWaitMs));
    EXPECT_EQ(answer, "echo:still");
    crowd.clear();

    // A second server on the same path is refused while the first one lives.
    KWLineSocketServer second;
    EXPECT_FALSE(second.Start(path, Echo, Refuse, &error));
    EXPECT_NE(error.find("another program is listening"), std::string::npos) << error;

    server.Stop();
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(b.Exchange("late", answer, kAnswerWaitMs));  // the connection ended with the server
    KWLineSocketClient late;
    EXPECT_FALSE(late.Connect(path));
}

TEST(KWLineSocketServer, RefusesFoldersOthersMayWriteAndPathsThatAreNotItsOwn) {
    PrivateFolder dir;
    KWLineSocketServer server;
    std::string error;

    EXPECT_FALSE(server.Start("relative.sock", Echo, Refuse, &error));
    EXPECT_NE(error.find("absolute"), std::string::npos) << error;

    // A folder group or others may write to: anyone could swap the socket.
    std::string shared = dir.File("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0770), 0);
    EXPECT_FALSE(server.Start(shared + "/auto.sock", Echo, Refuse, &error));
    EXPECT_NE(error.find("writable by group or others"), std::string::npos) << error;
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);  // like /tmp
    EXPECT_FALSE(server.Start(shared + "/auto.sock", Echo, Refuse, &error));
    EXPECT_FALSE(Exists(shared + "/auto.sock"));

    if (geteuid() == 0) {
        // Only root can hand a folder to somebody else.
        std::string foreign = dir.File("foreign");
        ASSERT_EQ(mkdir(foreign.c_str(), 0700), 0);
        ASSERT_EQ(chown(foreign.c_str(), 4242, 4242), 0);
        EXPECT_FALSE(server.Start(foreign + "/auto.sock", Echo, Refuse, &error));
        EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
    }
    EXPECT_FALSE(server.Start(dir.File("missing") + "/auto.sock", Echo, Refuse, &error));

    // A file that is not a socket stays as it is.
    std::string file = dir.File("notes.txt");
    std::ofstream(file) << "keep me";
    EXPECT_FALSE(server.Start(file, Echo, Refuse, &error));
    EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
    std::ifstream in(file);
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "keep me");
    EXPECT_FALSE(server.IsRunning());

    // The stale socket of a crashed run is replaced.
    std::string stale = dir.File("stale.sock");
    MakeStaleSocket(stale);
    ASSERT_TRUE(server.Start(stale, Echo, Refuse, &error)) << error;
    KWLineSocketClient c;
    std::string answer;
    ASSERT_TRUE(c.Connect(stale));
    ASSERT_TRUE(c.Exchange("hi", answer, kAnswerWaitMs));
    EXPECT_EQ(answer, "echo:hi");
}

TEST(KWLineSocketServer, OverlongLinesAreRefusedAndTheConnectionGoesOn) {
    PrivateFolder dir;
    std::string path = dir.File("auto.sock");
    KWLineSocketServer server;
    std::string error;
    ASSERT_TRUE(server.Start(path, Echo, Refuse, &error, 1024)) << error;
    KWLineSocketClient c;
    ASSERT_TRUE(c.Connect(path));
    std::string answer;
    ASSERT_TRUE(c.Exchange(std::string(1024, 'x'), answer, kAnswerWaitMs));  // at the limit: fine
    EXPECT_EQ(answer, "echo:" + std::string(1024, 'x'));
    ASSERT_TRUE(c.Exchange(std::string(200000, 'y'), answer, kAnswerWaitMs));
    EXPECT_EQ(answer.rfind("refused:", 0), 0u) << answer.substr(0, 80);
    EXPECT_NE(answer.find("longer than 1024 bytes"), std::string::npos);
    ASSERT_TRUE(c.Exchange("after", answer, kAnswerWaitMs));
    EXPECT_EQ(answer, "echo:after");
}

TEST(KWLineSocketServer, AClientThatVanishesBeforeItsAnswerHurtsNobody) {
    PrivateFolder dir;
    std::string path = dir.File("auto.sock");
    std::mutex mutex;
    std::condition_variable cv;
    bool seen = false;
    bool gone = false;
    std::atomic<int> handled{0};
    // The answer to "slow" is written only after its client has hung up, and it
    // is large, so the write meets a closed connection (SIGPIPE if unguarded).
    auto handler = [&](const std::string& line) {
        if (line == "slow") {
            std::unique_lock<std::mutex> lock(mutex);
            seen = true;
            cv.notify_all();
            cv.wait(lock, [&] { return gone; });
        }
        ++handled;
        return line == "slow" ? std::string(4 << 20, 'z') : Echo(line);
    };
    KWLineSocketServer server;
    std::string error;
    ASSERT_TRUE(server.Start(path, handler, Refuse, &error)) << error;
    {
        KWLineSocketClient quitter;
        ASSERT_TRUE(quitter.Connect(path));
        ASSERT_TRUE(quitter.SendLine("slow"));
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return seen; });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        gone = true;
    }
    cv.notify_all();

    KWLineSocketClient next;
    std::string answer;
    ASSERT_TRUE(next.Connect(path));
    ASSERT_TRUE(next.Exchange("still here", answer, kAnswerWaitMs));
    EXPECT_EQ(answer, "echo:still here");
    server.Stop();  // joins the quitter's thread, which must have ended its write
    EXPECT_EQ(handled.load(), 2);
}
