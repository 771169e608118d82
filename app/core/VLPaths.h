#pragma once
#include <string>

namespace KwLib {

// The guard's single-instance lock (KWBaseEvent) in the session's runtime folder:
// its holder is the session's guard.
constexpr const char* kGuardInstanceName = "VLGuard";

// The folders and files of one installation and user. Folders end with "/".
// The client lies in <install>/bin, the guard in <install>.
class VLPathSet {
public:
    // `exeDir` is the folder of the running client program; `appDataDir` the
    // user's application-data folder (may be empty).
    static VLPathSet Compute(const std::string& exeDir, const std::string& appDataDir, bool inner);
    // From the running program, the environment and the inner flag.
    static VLPathSet ForCurrentProcess(bool inner);

    std::string GetExeDir() const { return m_exeDir; }
    std::string GetInstallDir() const { return m_installDir; }
    std::string GetBinDir() const { return m_installDir + "bin/"; }
    std::string GetPlatformFilePath() const { return GetBinDir() + "platform.txt"; }
    std::string GetUpdaterPath() const { return GetBinDir() + "VLUpdate"; }
    std::string GetGuardPath() const { return m_installDir + "VLGuard"; }
    std::string GetClientPath() const { return GetBinDir() + "VLStudent"; }
    std::string GetCrashReporterPath() const { return GetBinDir() + "VLCrashReport"; }
    std::string GetAudioDir() const { return m_installDir + "Audio/"; }
    std::string GetSysDbPath() const { return m_exeDir + "sys.db"; }
    std::string GetUserDataDir() const { return m_userDir; }
    std::string GetUserDbPath() const { return m_userDir + "user.db"; }
    std::string GetConfigPath() const { return m_userDir + "config.cfg"; }
    std::string GetDownloadDir() const { return m_userDir + "Download/"; }
    std::string GetAnswerDataDir() const { return m_userDir + "AnswerData/"; }
    // The temporary folder + "VireloLog/vl.log", unless another account of the
    // PC holds that folder: then "VireloLog-<uid>/vl.log" beside it.
    static std::string GetLogPath();
    // The client's alive record in the session's runtime folder (KWAliveRecord):
    // the client writes it, the guard reads it to end a client that stays hung.
    static std::string GetClientAlivePath();

    // The library search path with the program's own folders in front of `oldValue`.
    std::string ExtendedLibraryPath(const std::string& oldValue) const;

private:
    std::string m_exeDir;
    std::string m_installDir;
    std::string m_userDir;
};

// The process-wide path set, fixed at start-up once the inner flag is known.
class VLPaths {
public:
    static void Set(const VLPathSet& paths);
    static const VLPathSet& Get();
};

}  // namespace KwLib
