#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace KwLib {

// A file opened for reading or writing; closed on destruction.
class KWFile {
public:
    enum Mode { ReadOnly, WriteTruncate, Append, ReadWrite };
    KWFile() = default;
    ~KWFile();
    KWFile(const KWFile&) = delete;
    KWFile& operator=(const KWFile&) = delete;

    // A file that WriteTruncate or Append creates is readable by its owner only (0600).
    bool Create(const std::string& path, Mode mode = ReadOnly);
    bool Read(void* buffer, size_t size, size_t& bytesRead);
    bool Write(const void* buffer, size_t size);
    bool Seek(int64_t offset);
    // Forces written data to the disk.
    bool Sync();
    int64_t Size() const;
    bool IsOpen() const { return m_file != nullptr; }
    void Close();

    static std::optional<std::string> ReadAll(const std::string& path);
    // Writes through a temporary file in the same folder, syncs it and renames
    // it into place, so a crash leaves either the old or the new content.
    static bool WriteAtomic(const std::string& path, const std::string& content);
    // Flushes a finished file to the disk, renames it over `to` and syncs the
    // folder, so that after a crash or a power cut `to` is the old file or the
    // whole new one. The files must be in the same folder.
    static bool SyncAndRename(const std::string& from, const std::string& to);

private:
    FILE* m_file = nullptr;
};

// A uniquely named file that is removed on destruction unless DisableDeleting
// was called.
class KWTempFile {
public:
    KWTempFile() = default;
    ~KWTempFile();
    KWTempFile(const KWTempFile&) = delete;
    KWTempFile& operator=(const KWTempFile&) = delete;

    // Creates an empty file in `dir` (the temporary folder when empty).
    bool CreateTempFile(const std::string& dir = std::string(), const std::string& prefix = "kw",
                        const std::string& suffix = std::string());
    const std::string& Path() const { return m_path; }
    void DisableDeleting() { m_delete = false; }

private:
    std::string m_path;
    bool m_delete = true;
};

}  // namespace KwLib
