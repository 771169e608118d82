#include "tests/app/VLRealClient.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <fstream>

#include "exam/VLDatabaseManager.h"
#include "platform/common/KWFile.h"

namespace fs = std::filesystem;

namespace KwLib::TestSupport {

VirtualScreen::VirtualScreen() {
    if (getenv("DISPLAY") || !fs::exists("/usr/bin/Xvfb"))
        return;
    int fds[2];
    if (pipe(fds) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten",
              "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (!number.empty())
        m_display = ":" + number;
}

VirtualScreen::~VirtualScreen() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string VirtualScreen::Display() const {
    return getenv("DISPLAY") ? getenv("DISPLAY") : m_display;
}

VLRealClient::VLRealClient(bool realGuard, bool prompts) {
    std::signal(SIGPIPE, SIG_IGN);
    root = fs::temp_directory_path() / ("vlreal_" + std::to_string(getpid()) + "_" +
                                        std::to_string(reinterpret_cast<uintptr_t>(this) & 0xffff));
    fs::remove_all(root);
    for (auto d :
         {"install/bin", "install/web", "install/Audio", "run", "tmp", "data/Virelo/Student", "home", "sim"})
        fs::create_directories(root / d);
    fs::permissions(root / "run", fs::perms::owner_all, fs::perm_options::replace);
    const fs::path built = fs::path(VL_CLIENT_PATH).parent_path();
    fs::copy_file(VL_CLIENT_PATH, root / "install/bin/VLStudent");
    fs::copy_file(built / "platform.txt", root / "install/bin/platform.txt");
    fs::copy(built / "res", root / "install/bin/res", fs::copy_options::recursive);
    if (prompts)
        fs::copy(built.parent_path() / "Audio", root / "install/Audio", fs::copy_options::recursive);
    fs::copy_file(realGuard ? VL_GUARD_PATH : VL_STANDIN_PATH, root / "install/VLGuard");

    // The student's voice: a rising, wavering tone, 16 kHz mono 16-bit, for every recording.
    {
        std::ofstream voice(root / "voice.raw", std::ios::binary);
        for (int i = 0; i < 16000 * 30; ++i) {
            const double t = i / 16000.0;
            const double hz = 220.0 + 15.0 * t;
            const auto sample = static_cast<int16_t>(9000.0 * (0.7 + 0.3 * std::sin(2 * M_PI * 5 * t)) *
                                                     std::sin(2 * M_PI * hz * t));
            voice.write(reinterpret_cast<const char*>(&sample), sizeof(sample));
        }
    }

    VLSimConfig config;
    config.m_dataDir = (root / "sim").string() + "/";
    config.m_filesDir = std::string(VL_BINARY_DIR) + "/tests/sim-files/";
    config.m_apiPort = config.m_downloadPort = config.m_uploadPort = config.m_remotePort = 0;
    m_sim = std::make_unique<VLSimServer>(config);
    if (!m_sim->Start(&m_error))
        return;
    const std::string api = "http://127.0.0.1:" + std::to_string(m_sim->ApiPort());
    const std::string upload = "http://127.0.0.1:" + std::to_string(m_sim->UploadPort());
    const VLSysUrlHosts hosts{api, api, upload, api, api};
    if (!VLDatabaseManager::CreateSysDb(
            (root / "install/bin/sys.db").string(),
            {VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kProductName, hosts),
             VLDatabaseManager::MakeSysUrlRow(VLDatabaseManager::kInnerProductName, hosts)})) {
        m_error = "cannot write sys.db";
        return;
    }
    // The classroom's agent is the simulator.
    if (!KWFile::WriteAtomic(UserDir() + "config.cfg",
                             "[AGENT]\nEnable=1\nIP=127.0.0.1\nPort1=" + std::to_string(m_sim->ApiPort()) +
                                 "\nPort2=" + std::to_string(m_sim->DownloadPort()) +
                                 "\nPort3=" + std::to_string(m_sim->UploadPort()) +
                                 "\n[REMOTESERVER]\nPort1=" + std::to_string(m_sim->RemotePort()) + "\n")) {
        m_error = "cannot write config.cfg";
        return;
    }
    m_screen = std::make_unique<VirtualScreen>();
    m_ready = true;
}

VLRealClient::~VLRealClient() {
    m_client.Stop(SIGKILL, 10000);
    // A real guard outlives the client, and a client it started is not ours:
    // end every program of this tree.
    std::error_code ec;
    const fs::path guard = Install() / "VLGuard", client = ClientProgram();
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        std::error_code linkError;
        const fs::path exe = fs::read_symlink(proc.path() / "exe", linkError);
        if (!linkError && (exe == guard || exe == client)) {
            const pid_t pid = static_cast<pid_t>(std::stoi(proc.path().filename().string()));
            kill(pid, SIGKILL);
        }
    }
    if (m_sim)
        m_sim->Stop();
    m_screen.reset();
    fs::remove_all(root, ec);
}

std::vector<std::string> VLRealClient::Env() const {
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + (root / "run").string(),
                                    "TMPDIR=" + (root / "tmp").string(),
                                    "XDG_DATA_HOME=" + (root / "data").string(),
                                    "HOME=" + (root / "home").string(),
                                    "VL_STANDIN_LOG=" + (root / "standin.log").string(),
                                    "VL_GUARD_PORT=0",
                                    "SDL_AUDIODRIVER=disk",
                                    "SDL_DISKAUDIOFILE=/dev/null",
                                    "SDL_DISKAUDIOFILEIN=" + (root / "voice.raw").string()};
    const std::string display = m_screen ? m_screen->Display() : std::string();
    env.push_back(display.empty() ? "VL_UI_HEADLESS=1" : "DISPLAY=" + display);
    return env;
}

bool VLRealClient::StartClient(const std::vector<std::string>& args) {
    return m_client.Start(ClientProgram(), args, Env(), ClientOutput());
}

std::string VLRealClient::ReadClientOutput() const {
    return KWFile::ReadAll(ClientOutput()).value_or("");
}

KWJsonValue VLRealClient::RecordsOfKind(const std::string& kind) const {
    KWJsonValue out(Json::arrayValue);
    for (const KWJsonValue& r : m_sim->GetRecords())
        if (r["kind"].asString() == kind)
            out.append(r);
    return out;
}

}  // namespace KwLib::TestSupport
