#pragma once
// A private world for runs of the real VLStudent program against the
// simulator: a copy of the install tree (client, resources, prompts, a
// stand-in or the real guard, a sys.db pointing at the simulator), user data,
// runtime and temporary folders of its own, a config.cfg whose agent is the
// simulator on free ports of 127.0.0.1, a virtual screen when there is no
// display, and SDL's disk audio driver singing a generated voice into every
// recording. Everything started here is ended and the folder removed on destruction.
#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/platform-sim/VLSimServer.h"
#include "tools/vl-drive/VLClientProcess.h"

namespace KwLib::TestSupport {

// A virtual screen of our own; none when a display is given or Xvfb is missing.
class VirtualScreen {
public:
    VirtualScreen();
    ~VirtualScreen();
    // The DISPLAY to use; empty means the client runs headless.
    std::string Display() const;

private:
    pid_t m_pid = -1;
    std::string m_display;
};

class VLRealClient {
public:
    // `realGuard`: the built VLGuard goes into the tree (else a stand-in that only waits).
    // `prompts`: the spoken prompts too; without them each prompt is the flow's one-second
    // pause, which keeps a run of a test short (the question's own music still plays).
    explicit VLRealClient(bool realGuard = false, bool prompts = false);
    ~VLRealClient();

    bool Ready() const { return m_ready; }
    const std::string& Error() const { return m_error; }

    VLSimServer& Sim() { return *m_sim; }
    std::filesystem::path root;
    std::filesystem::path Install() const { return root / "install"; }
    std::string ClientProgram() const { return (root / "install/bin/VLStudent").string(); }
    std::string Socket() const { return (root / "run/auto.sock").string(); }
    std::string UserDir() const { return (root / "data/Virelo/Student").string() + "/"; }
    std::string AnswerDir() const { return UserDir() + "AnswerData/"; }
    std::string DownloadDir() const { return UserDir() + "Download/"; }
    std::string ClientOutput() const { return (root / "client.out").string(); }
    std::string ReadClientOutput() const;

    // "NAME=value" entries for the client's environment (over the test's own).
    std::vector<std::string> Env() const;
    bool StartClient(const std::vector<std::string>& args);
    VLClientProcess& Client() { return m_client; }

    // Records of one kind that the simulator received, in arrival order.
    KWJsonValue RecordsOfKind(const std::string& kind) const;

private:
    std::unique_ptr<VirtualScreen> m_screen;
    std::unique_ptr<VLSimServer> m_sim;
    VLClientProcess m_client;
    bool m_ready = false;
    std::string m_error;
};

}  // namespace KwLib::TestSupport
