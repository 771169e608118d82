#include "platform/common/KWIniFile.h"

#include <vector>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"

namespace KwLib {

namespace {
struct Line {
    std::string text;
    std::string section;  // set on section headers
    std::string key;      // set on key lines
    std::string value;
    bool isSection = false;
    bool isKey = false;
};

std::vector<Line> ParseLines(const std::string& text) {
    std::vector<std::string> raw;
    KWStringToken::StringToArray(text, "\n", raw, true);
    if (!raw.empty() && raw.back().empty())
        raw.pop_back();
    std::vector<Line> lines;
    for (auto& r : raw) {
        Line l;
        l.text = KWStringUtils::TrimRight(r, "\r");
        std::string t = KWStringUtils::Trim(l.text);
        if (t.size() >= 2 && t.front() == '[' && t.find(']') != std::string::npos) {
            l.isSection = true;
            l.section = KWStringUtils::Trim(t.substr(1, t.find(']') - 1));
        } else if (!t.empty() && t[0] != ';' && t[0] != '#' && t.find('=') != std::string::npos) {
            size_t eq = t.find('=');
            l.isKey = true;
            l.key = KWStringUtils::Trim(t.substr(0, eq));
            l.value = KWStringUtils::Trim(t.substr(eq + 1));
            if (l.value.size() >= 2 && ((l.value.front() == '"' && l.value.back() == '"') ||
                                        (l.value.front() == '\'' && l.value.back() == '\'')))
                l.value = l.value.substr(1, l.value.size() - 2);
        }
        lines.push_back(std::move(l));
    }
    return lines;
}
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}
}  // namespace

bool KWIniFile::Lookup(const std::string& text, const std::string& section, const std::string& key,
                       std::string& value) {
    std::string current;
    bool inSection = false;
    for (const auto& l : ParseLines(text)) {
        if (l.isSection) {
            current = l.section;
            inSection = KWStringUtils::CompareNoCase(current, section) == 0;
        } else if (inSection && l.isKey && KWStringUtils::CompareNoCase(l.key, key) == 0) {
            value = l.value;
            return true;
        }
    }
    return false;
}

std::string KWIniFile::GetString(const std::string& path, const std::string& section, const std::string& key,
                                 const std::string& defaultValue) {
    auto text = KWFile::ReadAll(path);
    std::string value;
    if (!text || !Lookup(*text, section, key, value))
        return defaultValue;
    return value;
}

int KWIniFile::GetInt(const std::string& path, const std::string& section, const std::string& key,
                      int defaultValue) {
    auto text = KWFile::ReadAll(path);
    std::string value;
    // An empty value counts as absent, as with the classic profile calls.
    if (!text || !Lookup(*text, section, key, value) || value.empty())
        return defaultValue;
    return KWStringUtils::ConvertStringToInt32(value);
}

std::string KWIniFile::SetInText(const std::string& text, const std::string& section, const std::string& key,
                                 const std::string& value) {
    std::vector<Line> lines = ParseLines(text);
    int sectionStart = -1, lastInSection = -1, keyLine = -1;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        if (l.isSection) {
            inSection = KWStringUtils::CompareNoCase(l.section, section) == 0;
            if (inSection && sectionStart < 0) {
                sectionStart = static_cast<int>(i);
                lastInSection = static_cast<int>(i);
            }
            continue;
        }
        if (inSection && sectionStart >= 0) {
            if (!KWStringUtils::Trim(l.text).empty())
                lastInSection = static_cast<int>(i);
            if (l.isKey && keyLine < 0 && KWStringUtils::CompareNoCase(l.key, key) == 0)
                keyLine = static_cast<int>(i);
        }
    }
    std::vector<std::string> out;
    for (const auto& l : lines)
        out.push_back(l.text);
    // A line break inside a value would start a new line of the file: the rest
    // of the value would turn into a stray key or section.
    std::string entry = OneLine(key) + "=" + OneLine(value);
    if (keyLine >= 0) {
        out[static_cast<size_t>(keyLine)] = entry;
    } else if (sectionStart >= 0) {
        out.insert(out.begin() + lastInSection + 1, entry);
    } else {
        out.push_back("[" + OneLine(section) + "]");
        out.push_back(entry);
    }
    std::string result;
    for (const auto& o : out)
        result += o + "\n";
    return result;
}

bool KWIniFile::WriteString(const std::string& path, const std::string& section, const std::string& key,
                            const std::string& value) {
    auto text = KWFile::ReadAll(path);
    // A file that exists but cannot be read is left alone rather than replaced
    // by one that holds only this key.
    if (!text && KWFilePathUtils::IsExists(path))
        return false;
    return KWFile::WriteAtomic(path, SetInText(text.value_or(std::string()), section, key, value));
}

}  // namespace KwLib
