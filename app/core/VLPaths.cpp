#include "app/core/VLPaths.h"

#include <mutex>

#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWShellUtils.h"

namespace KwLib {

namespace {
std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir;
}
VLPathSet g_paths;
bool g_pathsSet = false;
std::mutex g_pathsMutex;
}  // namespace

VLPathSet VLPathSet::Compute(const std::string& exeDir, const std::string& appDataDir, bool inner) {
    VLPathSet p;
    p.m_exeDir = WithSlash(exeDir);
    p.m_installDir = KWFileName::GetParentDirectory(p.m_exeDir);
    if (!appDataDir.empty())
        p.m_userDir = WithSlash(appDataDir) + "Virelo/" + (inner ? "Student_Inner" : "Student") + "/";
    return p;
}

VLPathSet VLPathSet::ForCurrentProcess(bool inner) {
    std::string exeDir = KWFileSystemUtils::GetOnlyDirPrefix(KWSharedLibrary::GetModuleFullName());
    return Compute(exeDir, KWShellUtils::GetCUAppDataDirectory(), inner);
}

std::string VLPathSet::GetClientAlivePath() {
    return KWShellUtils::GetRuntimeDirectory() + "VLStudent.alive";
}

std::string VLPathSet::GetLogPath() {
    return LogImpl::OwnFolder(KWFileSystemUtils::MyGetTempPath() + "VireloLog") + "/vl.log";
}

std::string VLPathSet::ExtendedLibraryPath(const std::string& oldValue) const {
    std::string value = m_installDir + "oss:" + m_installDir + ":" + m_exeDir;
    if (!oldValue.empty())
        value += ":" + oldValue;
    return value;
}

void VLPaths::Set(const VLPathSet& paths) {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    g_paths = paths;
    g_pathsSet = true;
}

const VLPathSet& VLPaths::Get() {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    if (!g_pathsSet) {
        g_paths = VLPathSet::ForCurrentProcess(false);
        g_pathsSet = true;
    }
    return g_paths;
}

}  // namespace KwLib
