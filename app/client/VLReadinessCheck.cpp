#include "app/client/VLReadinessCheck.h"

#include <curl/curl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "app/core/VLAppState.h"
#include "app/core/VLConfigManager.h"
#include "audio/VLAudioEngine.h"
#include "exam/VLDatabaseManager.h"
#include "net/VLHttpClient.h"
#include "net/VLHttpRequestManager.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWPortOwner.h"
#include "platform/common/KWShellUtils.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"
#include "platform/ui/UIRenderUtils.h"

namespace KwLib {

namespace fs = std::filesystem;

namespace {

// The face every question is drawn in, and text a paper is sure to hold.
constexpr const char* kQuestionFace = "微软雅黑";
constexpr const char* kSampleText = "考试音乐美术第一题请选择";

VLReadinessItem Item(const std::string& name, VLReadinessItem::Level level, const std::string& detail) {
    return VLReadinessItem{name, level, detail};
}

// The folder itself, or the nearest one above it that exists.
fs::path ExistingFolder(fs::path path) {
    std::error_code ec;
    while (!path.empty() && !fs::is_directory(path, ec)) {
        if (path == path.parent_path())
            break;
        path = path.parent_path();
    }
    return path;
}

std::string Megabytes(uint64_t bytes) {
    return KWStringUtils::Format("%.0f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

}  // namespace

std::vector<VLReadinessItem> VLReadinessCheck::Run() {
    std::vector<VLReadinessItem> items;
    if (m_in.checkAudio) {
        items.push_back(CheckAudioOutput());
        items.push_back(CheckRecording());
    }
    items.push_back(CheckAgentAddress());
    for (VLReadinessItem& port : CheckAgentPorts())
        items.push_back(std::move(port));
    items.push_back(CheckDiskSpace());
    items.push_back(CheckFonts());
    items.push_back(CheckUserDb());
    items.push_back(CheckSysDb());
    items.push_back(CheckGuardPort());
    return items;
}

VLReadinessItem VLReadinessCheck::CheckAudioOutput() {
    VLAudioEngine engine;
    if (!engine.Init())
        return Item("audio output", VLReadinessItem::kBlocker,
                    "no sound output device opens: plug in the headphones or check the sound settings");
    engine.Free();
    return Item("audio output", VLReadinessItem::kOk, "the default output device opens");
}

VLReadinessItem VLReadinessCheck::CheckRecording() {
    VLAudioEngine engine;
    const std::vector<VLRecordDevice> devices = engine.ListRecordDevices();
    const int chosen = ChooseRecordingDevice(devices);
    std::atomic<uint64_t> bytes{0};
    if (!engine.RecordStart(chosen, 16000, 1, [&bytes](const void*, uint32_t length) {
            bytes += length;
            return true;
        }))
        return Item("recording", VLReadinessItem::kBlocker,
                    devices.empty()
                        ? "no microphone: singing questions cannot be answered"
                        : "the microphone cannot be opened: singing questions cannot be answered");
    // A working microphone delivers its first block within a few tens of milliseconds.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (bytes == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    engine.RecordStop();
    engine.Free();
    const std::string name = chosen >= 0 && chosen < static_cast<int>(devices.size())
                                 ? "\"" + devices[static_cast<size_t>(chosen)].name + "\""
                                 : std::string("the system default");
    if (bytes == 0)
        return Item("recording", VLReadinessItem::kBlocker, name + " opens but delivers no sound");
    return Item(
        "recording", VLReadinessItem::kOk,
        KWStringUtils::Format("%d device(s); %s records", static_cast<int>(devices.size()), name.c_str()));
}

VLReadinessItem VLReadinessCheck::CheckAgentAddress() {
    if (m_in.agentHost.empty())
        return Item("agent address", VLReadinessItem::kBlocker,
                    "none in config.cfg: enter the teacher's agent in the network settings (设置网络)");
    return Item("agent address", VLReadinessItem::kOk, m_in.agentHost + " (config.cfg)");
}

std::vector<VLReadinessItem> VLReadinessCheck::CheckAgentPorts() {
    const struct {
        const char* name;
        int port;
    } ports[] = {{"request port", m_in.requestPort},
                 {"download port", m_in.downloadPort},
                 {"upload port", m_in.uploadPort},
                 {"remote server port", m_in.remotePort}};
    std::vector<VLReadinessItem> items;
    if (m_in.agentHost.empty()) {
        for (const auto& p : ports)
            items.push_back(Item(p.name, VLReadinessItem::kBlocker,
                                 KWStringUtils::Format("%d: no agent address", p.port)));
        return items;
    }
    // The agent's own probe, signed and versioned like every request of the client.
    std::vector<std::future<std::pair<int, std::string>>> probes;
    for (const auto& p : ports) {
        const std::string url = VLHttpRequestManager::SignUrl(
            KWStringUtils::Format("%s:%d/request?", m_in.agentHost.c_str(), p.port) +
            "&client_version=" + m_in.clientVersion);
        probes.push_back(std::async(std::launch::async, [url] {
            std::string body;
            const int code = VLHttpClient::HttpGet(url, body, 3, 5);
            return std::make_pair(code, body);
        }));
    }
    for (size_t i = 0; i < probes.size(); ++i) {
        const auto [code, body] = probes[i].get();
        const std::string where = KWStringUtils::Format("%s:%d", m_in.agentHost.c_str(), ports[i].port);
        if (code == 0)
            items.push_back(Item(ports[i].name, VLReadinessItem::kOk, where + " answers"));
        else
            items.push_back(
                Item(ports[i].name, VLReadinessItem::kBlocker,
                     KWStringUtils::Format("%s does not answer (%s, code %d)", where.c_str(),
                                           curl_easy_strerror(static_cast<CURLcode>(code)), code)));
    }
    return items;
}

VLReadinessItem VLReadinessCheck::CheckDiskSpace() {
    const fs::path folder = ExistingFolder(m_in.paths.GetAnswerDataDir());
    std::error_code ec;
    const fs::space_info space = fs::space(folder, ec);
    if (ec)
        return Item("disk space", VLReadinessItem::kBlocker, "cannot be read for " + folder.string());
    const std::string detail = Megabytes(space.available) + " free for recordings in " + folder.string();
    if (space.available < m_in.blockerFreeBytes)
        return Item("disk space", VLReadinessItem::kBlocker,
                    detail + " (at least " + Megabytes(m_in.blockerFreeBytes) + " needed)");
    if (space.available < m_in.warningFreeBytes)
        return Item("disk space", VLReadinessItem::kWarning, detail + " (tight)");
    return Item("disk space", VLReadinessItem::kOk, detail);
}

VLReadinessItem VLReadinessCheck::CheckFonts() {
    std::string family;
    const int missing = UIRenderUtils::ResolveFace(kQuestionFace, kSampleText, family);
    if (missing > 0)
        return Item("fonts", VLReadinessItem::kBlocker,
                    KWStringUtils::Format(
                        "%d of the sample characters have no font: install fonts-wqy-microhei", missing));
    const bool aliased = KWStringUtils::FindNoCase(family, "WenQuanYi") != std::string::npos;
    return Item("fonts", aliased ? VLReadinessItem::kOk : VLReadinessItem::kWarning,
                std::string("questions are drawn in \"") + family + "\"" +
                    (aliased ? "" : " (the shipped alias to WenQuanYi Micro Hei was not applied)"));
}

VLReadinessItem VLReadinessCheck::CheckUserDb() {
    const std::string path = m_in.paths.GetUserDbPath();
    if (!KWFilePathUtils::IsExistsFile(path)) {
        const fs::path folder = ExistingFolder(m_in.paths.GetUserDataDir());
        if (access(folder.c_str(), W_OK) != 0)
            return Item(
                "user.db", VLReadinessItem::kBlocker,
                "not there yet, and " + folder.string() + " cannot be written: answers could not be kept");
        return Item("user.db", VLReadinessItem::kOk,
                    "not there yet; the first start creates it in " + m_in.paths.GetUserDataDir());
    }
    VLDatabaseConfig config;
    config.userDataDir = m_in.paths.GetUserDataDir();
    config.userDbPath = path;
    config.clientVersion = m_in.clientVersion;
    config.runMode = 3;
    VLDatabaseManager db(config);
    std::string version;
    const bool readable = db.ConnectUserDb() && db.GetVersion(version);
    db.Release();
    if (!readable)
        return Item("user.db", VLReadinessItem::kBlocker,
                    path +
                        " cannot be read with the client's key: the answers of an interrupted exam would be "
                        "lost (move the file aside)");
    if (access(path.c_str(), W_OK) != 0)
        return Item("user.db", VLReadinessItem::kBlocker, path + " is read-only: answers could not be kept");
    return Item(
        "user.db", VLReadinessItem::kOk,
        path + " opens with its key" + (version.empty() ? std::string() : " (version " + version + ")"));
}

VLReadinessItem VLReadinessCheck::CheckSysDb() {
    const std::string path = m_in.paths.GetSysDbPath();
    if (!KWFilePathUtils::IsExistsFile(path))
        return Item("sys.db", VLReadinessItem::kBlocker, path + " is missing: reinstall the client");
    VLDatabaseConfig config;
    config.sysDbPath = path;
    config.clientVersion = m_in.clientVersion;
    config.runMode = 3;
    VLDatabaseManager db(config);
    const bool readable = db.ConnectSysDb() && db.LoadSysUrl();
    db.Release();
    if (!readable)
        return Item("sys.db", VLReadinessItem::kBlocker, path + " holds no server table the client can read");
    return Item("sys.db", VLReadinessItem::kOk, "the server table opens with its key");
}

VLReadinessItem VLReadinessCheck::CheckGuardPort() {
    const std::string name = KWStringUtils::Format("guard port %d", m_in.guardPort);
    if (KWPortOwner::IsFree(m_in.guardPort))
        return Item(name, VLReadinessItem::kOk, "free (VLGuard listens there once the client runs)");
    const pid_t holder = KWPortOwner::FindListener(m_in.guardPort);
    const std::string exe = holder > 0 ? KWPortOwner::ExeName(holder) : std::string();
    if (exe == "VLGuard")
        return Item(name, VLReadinessItem::kOk, KWStringUtils::Format("held by VLGuard (pid %d)", holder));
    if (holder > 0)
        return Item(name, VLReadinessItem::kBlocker,
                    KWStringUtils::Format("held by %s (pid %d): pages cannot start questions on this PC",
                                          exe.empty() ? "another program" : exe.c_str(), holder));
    return Item(name, VLReadinessItem::kBlocker,
                "held by a program of another user: pages cannot start questions on this PC");
}

bool VLReadinessCheck::HasBlocker(const std::vector<VLReadinessItem>& items) {
    for (const VLReadinessItem& item : items)
        if (item.level == VLReadinessItem::kBlocker)
            return true;
    return false;
}

std::string VLReadinessCheck::Format(const std::vector<VLReadinessItem>& items,
                                     const std::string& clientVersion) {
    std::string out = "VLStudent " + clientVersion + " classroom readiness check\n";
    int blockers = 0, warnings = 0;
    for (const VLReadinessItem& item : items) {
        const char* level = item.level == VLReadinessItem::kOk        ? "ok"
                            : item.level == VLReadinessItem::kWarning ? "warning"
                                                                      : "BLOCKER";
        blockers += item.level == VLReadinessItem::kBlocker ? 1 : 0;
        warnings += item.level == VLReadinessItem::kWarning ? 1 : 0;
        out += KWStringUtils::Format("  %-8s %-19s %s\n", level, item.name.c_str(), item.detail.c_str());
    }
    if (blockers > 0)
        out += KWStringUtils::Format("NOT READY: %d blocker(s), %d warning(s)\n", blockers, warnings);
    else
        out += KWStringUtils::Format("ready for the exam (%d warning(s))\n", warnings);
    return out;
}

int RunReadinessCheck() {
    bool inner = IsInnerPlatform(VLPathSet::ForCurrentProcess(false).GetPlatformFilePath());
    VLReadinessInputs in;
    in.paths = VLPathSet::ForCurrentProcess(inner);
    in.clientVersion = GetClientVersion();
    VLConfigManager& config = VLConfigManager::GetInstance();
    config.SetPath(in.paths.GetConfigPath());
    config.Load();
    in.agentHost = config.GetString("AGENT", "IP");
    in.requestPort = config.GetInt("AGENT", "Port1");
    in.downloadPort = config.GetInt("AGENT", "Port2");
    in.uploadPort = config.GetInt("AGENT", "Port3");
    in.remotePort = config.GetInt("REMOTESERVER", "Port1");
    // The guard may be moved off its port (VL_GUARD_PORT); 0 means any port, nothing to check then.
    const std::string guardPort = KWEnvironmentVariable::GetEnvironmentVar("VL_GUARD_PORT");
    if (!guardPort.empty() && KWStringUtils::ConvertStringToInt32(guardPort) > 0)
        in.guardPort = KWStringUtils::ConvertStringToInt32(guardPort);

    LogImpl::Instance().Init(VLPathSet::GetLogPath());
    curl_global_init(CURL_GLOBAL_ALL);
    VLReadinessCheck check(in);
    const std::vector<VLReadinessItem> items = check.Run();
    curl_global_cleanup();
    const std::string report = VLReadinessCheck::Format(items, in.clientVersion);
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
    VL_LOG_INFO("readiness check:\n%s", report.c_str());
    return VLReadinessCheck::HasBlocker(items) ? 1 : 0;
}

}  // namespace KwLib
