#pragma once
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace KwLib::test {

// A fresh folder under the temporary folder, removed with everything in it.
class ScopedTempDir {
public:
    ScopedTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vlexam-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern + "/";
    }
    ~ScopedTempDir() {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    // Ends with "/".
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace KwLib::test
