#include "platform/common/KWFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/common/KWFilePathUtils.h"

namespace KwLib {

KWFile::~KWFile() {
    Close();
}

bool KWFile::Create(const std::string& path, Mode mode) {
    Close();
    if (mode == ReadOnly || mode == ReadWrite) {
        m_file = std::fopen(path.c_str(), mode == ReadOnly ? "rbe" : "r+be");
        return m_file != nullptr;
    }
    // Everything this program writes (answers, recordings, settings) belongs
    // to its user alone: a new file is made 0600, whatever the umask allows.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == WriteTruncate ? O_TRUNC : O_APPEND);
    const int fd = open(path.c_str(), flags, 0600);
    if (fd < 0)
        return false;
    m_file = fdopen(fd, mode == WriteTruncate ? "wb" : "ab");
    if (!m_file)
        close(fd);
    return m_file != nullptr;
}

bool KWFile::Read(void* buffer, size_t size, size_t& bytesRead) {
    bytesRead = 0;
    if (!m_file)
        return false;
    bytesRead = std::fread(buffer, 1, size, m_file);
    return !std::ferror(m_file);
}

bool KWFile::Write(const void* buffer, size_t size) {
    return m_file && std::fwrite(buffer, 1, size, m_file) == size;
}

bool KWFile::Seek(int64_t offset) {
    return m_file && fseeko(m_file, offset, SEEK_SET) == 0;
}

bool KWFile::Sync() {
    return m_file && std::fflush(m_file) == 0 && fsync(fileno(m_file)) == 0;
}

int64_t KWFile::Size() const {
    if (!m_file)
        return -1;
    struct stat st;
    std::fflush(m_file);
    return fstat(fileno(m_file), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

void KWFile::Close() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

std::optional<std::string> KWFile::ReadAll(const std::string& path) {
    KWFile f;
    if (!f.Create(path, ReadOnly))
        return std::nullopt;
    std::string out;
    std::vector<char> buf(64 * 1024);
    size_t n = 0;
    while (true) {
        // A read error (or a folder in place of the file) is not an empty file:
        // callers that rewrite the file would otherwise lose its content.
        if (!f.Read(buf.data(), buf.size(), n))
            return std::nullopt;
        if (n == 0)
            break;
        out.append(buf.data(), n);
    }
    return out;
}

bool KWFile::WriteAtomic(const std::string& path, const std::string& content) {
    std::string tmp = path + ".tmp";
    {
        KWFile f;
        if (!f.Create(tmp, WriteTruncate))
            return false;
        if (!f.Write(content.data(), content.size()) || !f.Sync()) {
            f.Close();
            KWFilePathUtils::RemoveFile(tmp);
            return false;
        }
    }
    if (!SyncAndRename(tmp, path)) {
        KWFilePathUtils::RemoveFile(tmp);
        return false;
    }
    return true;
}

bool KWFile::SyncAndRename(const std::string& from, const std::string& to) {
    int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    if (!synced || !KWFilePathUtils::Rename(from, to))
        return false;
    // The rename lives in the folder: without syncing it a power cut can still
    // bring back the old file (or none) after we reported the new one saved.
    std::string dir = KWFileSystemUtils::GetOnlyDirPrefix(to);
    int dirFd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

KWTempFile::~KWTempFile() {
    if (m_delete && !m_path.empty())
        unlink(m_path.c_str());
}

bool KWTempFile::CreateTempFile(const std::string& dir, const std::string& prefix,
                                const std::string& suffix) {
    std::string folder = dir.empty() ? KWFileSystemUtils::MyGetTempPath() : dir;
    std::string pattern = KWFilePathUtils::Join(folder, prefix + "XXXXXX" + suffix);
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0)
        return false;
    close(fd);
    m_path = name.data();
    return true;
}

}  // namespace KwLib
