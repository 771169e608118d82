#include "platform/common/KWFilePathUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace KwLib {

bool KWFilePathUtils::IsExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::u8path(path), ec);
}

bool KWFilePathUtils::IsExistsFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(fs::u8path(path), ec);
}

bool KWFilePathUtils::IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(fs::u8path(path), ec);
}

bool KWFilePathUtils::CreateDirectories(const std::string& path) {
    if (path.empty())
        return false;
    // Every folder this program makes (the user's data, the paper's files,
    // recordings, the log) is its user's alone; existing ones are left as they are.
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
    mkdir(path.c_str(), 0700);
    return IsDirectory(path);
}

bool KWFilePathUtils::CreatePrivateDirectories(const std::string& path) {
    if (!CreateDirectories(path))
        return false;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (st.st_uid == geteuid() && (st.st_mode & 077) != 0)
        chmod(p.c_str(), st.st_mode & 07700);
    return true;
}

bool KWFilePathUtils::MakePrivateFile(const std::string& path) {
    struct stat st {};
    if (path.empty() || lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())
        return false;
    return (st.st_mode & 077) == 0 || chmod(path.c_str(), st.st_mode & 0700) == 0;
}

bool KWFilePathUtils::Rename(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(fs::u8path(from), fs::u8path(to), ec);
    return !ec;
}

bool KWFilePathUtils::RemoveAll(const std::string& path) {
    std::error_code ec;
    fs::remove_all(fs::u8path(path), ec);
    return !ec;
}

bool KWFilePathUtils::RemoveFile(const std::string& path) {
    std::error_code ec;
    return fs::remove(fs::u8path(path), ec) && !ec;
}

int64_t KWFilePathUtils::FileSize(const std::string& path) {
    std::error_code ec;
    auto size = fs::file_size(fs::u8path(path), ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

std::string KWFilePathUtils::FileName(const std::string& path) {
    return KWFileSystemUtils::GetOnlyName(path);
}

std::string KWFilePathUtils::BaseName(const std::string& path) {
    std::string name = FileName(path);
    size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
}

std::string KWFilePathUtils::Extension(const std::string& path) {
    std::string name = FileName(path);
    size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot == 0) ? std::string() : name.substr(dot);
}

std::string KWFilePathUtils::ChangeExtension(const std::string& path, const std::string& ext) {
    std::string oldExt = Extension(path);
    return path.substr(0, path.size() - oldExt.size()) + ext;
}

std::string KWFilePathUtils::Join(const std::string& dir, const std::string& name) {
    if (dir.empty())
        return name;
    if (dir.back() == '/')
        return dir + (name.size() && name.front() == '/' ? name.substr(1) : name);
    return dir + "/" + (name.size() && name.front() == '/' ? name.substr(1) : name);
}

std::string KWFileName::GetDirectory(const std::string& path) {
    return KWFileSystemUtils::GetOnlyDirPrefix(path);
}

std::string KWFileName::GetParentDirectory(const std::string& dir) {
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/')
        d.pop_back();
    size_t slash = d.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return d.substr(0, slash + 1);
}

std::string KWFileSystemUtils::GetOnlyDirPrefix(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string KWFileSystemUtils::GetOnlyName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string KWFileSystemUtils::MyGetTempPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

}  // namespace KwLib
