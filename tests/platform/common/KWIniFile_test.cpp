#include <gtest/gtest.h>

#include <filesystem>

#include "platform/common/KWFile.h"
#include "platform/common/KWIniFile.h"

using namespace KwLib;

TEST(KWIniFile, ProfileSemantics) {
    std::string path = (std::filesystem::temp_directory_path() / ("kwini" + std::to_string(getpid()) + ".cfg")).string();
    std::filesystem::remove(path);
    EXPECT_EQ(KWIniFile::GetString(path, "A", "k", "def"), "def");
    EXPECT_EQ(KWIniFile::GetInt(path, "A", "n", 9), 9);

    ASSERT_TRUE(KWFile::WriteAtomic(path, "; comment\r\n[Other]\r\nkeep = yes \r\n\r\n[agent]\r\nIP=\"10.0.0.1\"\r\nPort1=12x\r\nbad=abc\r\n"));
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
    std::filesystem::remove(path);
}
