#include "tests/guard/VLGuardSandbox.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "exam/VLDatabaseManager.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWStringUtils.h"

namespace fs = std::filesystem;

namespace KwLib::TestSupport {

namespace {
std::string StandInScript(const std::string& recordsDir, const std::string& program) {
    // Written to a temporary name and renamed, so a reader never sees half a
    // record; the environment it got goes beside it. It keeps running while
    // the sandbox's hold file exists.
    return "#!/bin/sh\n"
           "f=\"" +
           recordsDir + program +
           "-$$.args\"\n"
           "/usr/bin/env > \"" +
           recordsDir + program +
           "-$$.env\"\n"
           ": > \"$f.part\"\n"
           "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$f.part\"; done\n"
           "/bin/mv \"$f.part\" \"$f\"\n"
           "while [ -e \"" +
           recordsDir + "hold\" ]; do /bin/sleep 0.05; done\n";
}
}  // namespace

VLGuardSandbox::VLGuardSandbox() {
    std::string pattern = KWFileSystemUtils::MyGetTempPath() + "vlguard-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    root = std::string(mkdtemp(buf.data())) + "/";
    install = root + "install/";
    records = root + "records/";
    home = root + "home/";
    runtime = root + "run/";
    tmp = root + "tmp/";
    data = root + "data/";
    for (const auto& dir : {install + "bin", install + "web", records, home, runtime, tmp, data})
        fs::create_directories(dir);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    fs::copy_file(VL_GUARD_BINARY, install + "VLGuard");
    for (const char* program : {"VLStudent", "VLCrashReport"}) {
        std::string path = install + "bin/" + program;
        WriteFile(path, StandInScript(records, program));
        fs::permissions(path, fs::perms::owner_all);
    }
}

VLGuardSandbox::~VLGuardSandbox() {
    std::error_code ec;
    fs::remove_all(root, ec);
}

std::map<std::string, std::string> VLGuardSandbox::Env() const {
    return {{"HOME", home},          {"XDG_RUNTIME_DIR", runtime},          {"TMPDIR", tmp},
            {"XDG_DATA_HOME", data}, {"XDG_CONFIG_HOME", home + ".config"}, {"VL_GUARD_PORT", "0"},
            // Clients started here show their window headless and use no sound card.
            {"VL_UI_HEADLESS", "1"},  {"SDL_AUDIODRIVER", "dummy"}};
}

bool VLGuardSandbox::StartGuard(VLTestProcess& process, int& port, const std::string& tag,
                                const std::map<std::string, std::string>& extraEnv) {
    auto env = Env();
    for (const auto& [name, value] : extraEnv)
        env[name] = value;
    if (!process.Start(install + "VLGuard", {}, env, root + tag + ".out", root + tag + ".err"))
        return false;
    const std::regex listening("Listening on 127\\.0\\.0\\.1:([0-9]+)");
    std::smatch m;
    bool ok = WaitUntil(
        [&] {
            std::string out = GuardOutput(tag);
            return std::regex_search(out, m, listening) || !process.IsRunning();
        },
        20000);
    if (!ok || !process.IsRunning())
        return false;
    std::string out = GuardOutput(tag);
    if (!std::regex_search(out, m, listening))
        return false;
    port = std::stoi(m[1]);
    return true;
}

void VLGuardSandbox::WritePlatform(const std::string& teacherWeb, const std::string& schoolOrigins) const {
    const VLSysUrlHosts hosts{"http://127.0.0.1:1", teacherWeb, "http://127.0.0.1:1", teacherWeb,
                              "http://127.0.0.1:1"};
    VLDatabaseManager::CreateSysDb(
        install + "bin/sys.db",
        {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, hosts),
         VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName, hosts)});
    WriteFile(ConfigPath(), "[GUARD]\nWebOrigins=" + schoolOrigins + "\n");
}

std::string VLGuardSandbox::GuardOutput(const std::string& tag) const {
    return ReadFile(root + tag + ".out");
}

std::map<std::string, std::string> VLGuardSandbox::RecordedEnvironment(const std::string& program) const {
    std::map<std::string, std::string> env;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(records, ec)) {
        const std::string name = entry.path().filename();
        if (name.rfind(program + "-", 0) != 0 || !KWStringUtils::EndWithNoCase(name, ".env"))
            continue;
        std::istringstream in(ReadFile(entry.path()));
        for (std::string line; std::getline(in, line);) {
            const size_t equals = line.find('=');
            if (equals != std::string::npos)
                env[line.substr(0, equals)] = line.substr(equals + 1);
        }
        break;
    }
    return env;
}

void VLGuardSandbox::ClearRecords() const {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(records, ec))
        if (entry.path().filename() != "hold")
            fs::remove(entry.path(), ec);
}

void VLGuardSandbox::HoldStartedPrograms(bool hold) const {
    if (hold)
        WriteFile(records + "hold", "");
    else
        fs::remove(records + "hold");
}

std::vector<std::vector<std::string>> VLGuardSandbox::Records(const std::string& program) const {
    std::vector<std::vector<std::string>> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(records, ec)) {
        std::string name = entry.path().filename();
        if (name.rfind(program + "-", 0) != 0 || !KWStringUtils::EndWithNoCase(name, ".args"))
            continue;
        std::vector<std::string> args;
        std::istringstream in(ReadFile(entry.path()));
        for (std::string line; std::getline(in, line);)
            args.push_back(line);
        found.push_back(args);
    }
    return found;
}

void VLGuardSandbox::WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string VLGuardSandbox::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

HttpReply HttpExchange(int port, const std::string& request, int timeoutMs) {
    HttpReply reply;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return reply;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return reply;
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string raw;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            reply.closed = true;
            break;
        }
        raw.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    reply.received = !raw.empty();
    size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return reply;
    std::istringstream head(raw.substr(0, headEnd));
    std::string line;
    std::getline(head, line);
    std::smatch m;
    if (std::regex_search(line, m, std::regex("^HTTP/1\\.[01] ([0-9]{3}) ?([^\r]*)"))) {
        reply.status = std::stoi(m[1]);
        reply.reason = m[2];
    }
    while (std::getline(head, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = KWStringUtils::MakeLower(line.substr(0, colon));
        reply.headers[name] = KWStringUtils::Trim(line.substr(colon + 1));
    }
    reply.body = raw.substr(headEnd + 4);
    return reply;
}

HttpReply HttpGet(int port, const std::string& target, int timeoutMs) {
    return HttpExchange(
        port, "GET " + target + " HTTP/1.1\r\nHost: " + HostOf(port) + "\r\nConnection: close\r\n\r\n",
        timeoutMs);
}

std::string HostOf(int port) {
    return "127.0.0.1:" + std::to_string(port);
}

}  // namespace KwLib::TestSupport
