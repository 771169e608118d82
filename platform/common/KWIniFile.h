#pragma once
#include <string>

namespace KwLib {

// INI files with the classic profile semantics: a missing file, section or key
// gives the default; sections and keys match ignoring case; writing one key
// keeps every other line of the file.
class KWIniFile {
public:
    static std::string GetString(const std::string& path, const std::string& section, const std::string& key,
                                 const std::string& defaultValue);
    // Leading decimal integer of the value (0 when it has none); the default when absent or empty.
    static int GetInt(const std::string& path, const std::string& section, const std::string& key,
                      int defaultValue);
    static bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                            const std::string& value);
    // Finds a value in INI text; false when the key is absent.
    static bool Lookup(const std::string& text, const std::string& section, const std::string& key,
                       std::string& value);
    // Returns `text` with the key set, adding the section or key when missing.
    static std::string SetInText(const std::string& text, const std::string& section, const std::string& key,
                                 const std::string& value);
};

}  // namespace KwLib
