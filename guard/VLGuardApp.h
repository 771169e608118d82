#pragma once
#include <string>
#include <vector>

namespace KwLib {

struct VLGuardOptions {
    // The guard's own folder (the install folder), ending with "/".
    std::string guardDir;
    std::string bindAddress = "127.0.0.1";
    int port = 9182;
    // A development build passes the project's test switches on to the client
    // it starts (VLClientEnvironment); the installed package does not.
    bool developmentBuild = false;
};

// The guard process from start to end: single instance, crash server, library
// path, inner flag, configuration, log, desktop shortcut, then the control
// server until "/exit". Runs on the main thread; the crash server has its own.
class VLGuardApp {
public:
    explicit VLGuardApp(VLGuardOptions options);
    // 0 when another guard runs; 1 after the control server has stopped.
    int Run();

    // The inner decision for platform.txt, read in pieces of 100 bytes; the
    // same answer as IsInnerPlatformText on the whole text.
    static bool ReadInnerFlag(const std::string& platformFile);
    // The library search path with the guard's folders in front of `oldValue`.
    static std::string ExtendLibraryPath(const std::string& guardDir, const std::string& oldValue);
    // Removes a shortcut under the former name and creates the current one when missing.
    static void UpdateDesktopShortcut(const std::string& desktopDir, const std::string& clientPath);
    // The web origins whose pages may drive the control server: the teacher's
    // and the public web site of the edition's row in sys.db, and those listed
    // in config.cfg ("GUARD", "WebOrigins") for a school's own site; each once.
    static std::vector<std::string> PlatformOrigins(const std::string& sysDbPath, bool inner,
                                                    const std::string& configPath);

    static constexpr const char* kShortcutName = "Virelo学生端";
    static constexpr const char* kFormerShortcutName = "Virelo Student";
    static constexpr size_t kPlatformPieceSize = 100;

private:
    VLGuardOptions m_options;
};

}  // namespace KwLib
