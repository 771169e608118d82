#pragma once
#include <cstdint>
#include <string>

namespace KwLib {

// Path operations on UTF-8 paths. Directory texts end with the delimiter "/".
class KWFilePathUtils {
public:
    static bool IsExists(const std::string& path);
    static bool IsExistsFile(const std::string& path);
    static bool IsDirectory(const std::string& path);
    // The folder and its missing parents; what it creates is 0700 (this user's
    // alone). True when the folder exists afterwards.
    static bool CreateDirectories(const std::string& path);
    // The same, and the folder itself, when it exists already and is this
    // user's, closed to everybody else.
    static bool CreatePrivateDirectories(const std::string& path);
    // Closes an existing file of this user's to everybody else (0600 at most).
    static bool MakePrivateFile(const std::string& path);
    // Replaces an existing target.
    static bool Rename(const std::string& from, const std::string& to);
    static bool RemoveAll(const std::string& path);
    static bool RemoveFile(const std::string& path);
    static int64_t FileSize(const std::string& path);  // -1 when absent
    // "a/b/name.ext" -> "name"
    static std::string BaseName(const std::string& path);
    // "a/b/name.ext" -> "name.ext"
    static std::string FileName(const std::string& path);
    // "a/b/name.ext" -> ".ext"; empty when the last component has no dot.
    static std::string Extension(const std::string& path);
    // Replaces or appends the extension; `ext` is given with its dot.
    static std::string ChangeExtension(const std::string& path, const std::string& ext);
    // Joins with exactly one delimiter.
    static std::string Join(const std::string& dir, const std::string& name);
};

class KWFileName {
public:
    static char GetDirDelimiter() { return '/'; }
    // The folder of a file path, with its delimiter: "a/b/c.txt" -> "a/b/".
    static std::string GetDirectory(const std::string& path);
    // The folder above a folder: "a/b/" or "a/b" -> "a/".
    static std::string GetParentDirectory(const std::string& dir);
};

class KWFileSystemUtils {
public:
    // Everything up to and including the last delimiter.
    static std::string GetOnlyDirPrefix(const std::string& path);
    // Everything after the last delimiter.
    static std::string GetOnlyName(const std::string& path);
    // $TMPDIR or /tmp, ending with the delimiter.
    static std::string MyGetTempPath();
};

}  // namespace KwLib
