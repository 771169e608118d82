#include <gtest/gtest.h>

#include <filesystem>

#include "platform/common/KWFile.h"
#include "platform/common/KWIniFile.h"

using namespace KwLib;

TEST(KWIniFile, ProfileSemantics) {
    std::string path =
        (std::filesystem::temp_directory_path() / ("kwini" + std::to_string(getpid()) + ".cfg")).string();
    std::filesystem::remove(path);
    EXPECT_EQ(KWIniFile::GetString(path, "A", "k", "def"), "def");
    EXPECT_EQ(KWIniFile::GetInt(path, "A", "n", 9), 9);

    ASSERT_TRUE(KWFile::WriteAtomic(
        path,
        "; comment\r\n[Other]\r\nkeep = yes \r\n\r\n[agent]\r\nIP=\"10.0.0.1\"\r\nPort1=12x\r\nbad=abc\r\n"));
    EXPECT_EQ(KWIniFile::GetString(path, "AGENT", "ip", ""), "10.0.0.1");
    EXPECT_EQ(KWIniFile::GetInt(path, "AGENT", "Port1", 0), 12);
    EXPECT_EQ(KWIniFile::GetInt(path, "AGENT", "bad", 5), 0);
    EXPECT_EQ(KWIniFile::GetString(path, "Other", "keep", ""), "yes");

    ASSERT_TRUE(KWIniFile::WriteString(path, "AGENT", "Port1", "9500"));
    ASSERT_TRUE(KWIniFile::WriteString(path, "AGENT", "Port9", "1"));
    ASSERT_TRUE(KWIniFile::WriteString(path, "NEW", "x", "y"));
    EXPECT_EQ(KWIniFile::GetInt(path, "AGENT", "Port1", 0), 9500);
    EXPECT_EQ(KWIniFile::GetInt(path, "AGENT", "Port9", 0), 1);
    EXPECT_EQ(KWIniFile::GetString(path, "NEW", "x", ""), "y");
    EXPECT_EQ(KWIniFile::GetString(path, "Other", "keep", ""), "yes");
    auto text = KWFile::ReadAll(path);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("; comment"), std::string::npos);
    // The new key lands inside its section, not at the end of the file.
    EXPECT_LT(text->find("Port9=1"), text->find("[NEW]"));

    // An empty value is absent for numbers and empty for text.
    ASSERT_TRUE(KWFile::WriteAtomic(path, "[AGENT]\nPort1=\nIP=\n"));
    EXPECT_EQ(KWIniFile::GetInt(path, "AGENT", "Port1", 9500), 9500);
    EXPECT_EQ(KWIniFile::GetString(path, "AGENT", "IP", "def"), "");

    // A line break in a value cannot add lines to the file.
    ASSERT_TRUE(KWIniFile::WriteString(path, "AGENT", "IP", "1.2.3.4\n[VERSION]\r\nCurVersion=9"));
    EXPECT_EQ(KWIniFile::GetString(path, "VERSION", "CurVersion", "none"), "none");
    EXPECT_EQ(KWIniFile::GetString(path, "AGENT", "IP", ""), "1.2.3.4 [VERSION]  CurVersion=9");
    std::filesystem::remove(path);

    // Something that cannot be read as a file is neither empty nor replaced.
    std::filesystem::create_directories(path);
    EXPECT_FALSE(KWFile::ReadAll(path).has_value());
    EXPECT_FALSE(KWIniFile::WriteString(path, "A", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    std::filesystem::remove_all(path);
}
