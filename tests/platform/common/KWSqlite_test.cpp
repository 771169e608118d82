#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWSqlite.h"

using namespace KwLib;

namespace {
class KWSqliteTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("kwsql" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        m_path = (m_dir / "user.db").string();
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path m_dir;
    std::string m_path;
};
const char kKey[] = "right-key";
}  // namespace

TEST_F(KWSqliteTest, OpeningWhileAnotherProcessWritesWaitsForTheLock) {
    {
        KWSqlite db;
        ASSERT_EQ(db.Open(m_path, kKey, sizeof kKey - 1), 0);
        ASSERT_EQ(db.ExecSQL("create table T(v integer); insert into T values (1);"), 0);
    }
    {
        // Another process holds the write lock for a second, as a commit of the
        // client's other connection or a second program would.
        const std::string command = std::string(VL_SQLITE_LOCKER) + " '" + m_path + "' " + kKey + " 1000";
        FILE* locker = popen(command.c_str(), "r");
        ASSERT_NE(locker, nullptr);
        char line[32] = {};
        ASSERT_NE(fgets(line, sizeof line, locker), nullptr);
        ASSERT_STREQ(line, "locked\n");

        KWSqlite db;
        EXPECT_EQ(db.Open(m_path, kKey, sizeof kKey - 1), 0) << db.LastError();
        KWSqliteData rows;
        EXPECT_EQ(db.Query(rows, "select v from T;"), 0);
        EXPECT_EQ(rows.Text(1, "v"), "1");
        EXPECT_EQ(pclose(locker), 0);
    }
}

TEST_F(KWSqliteTest, KeyIsCheckedAtOpenAndFileIsEncrypted) {
    {
        KWSqlite db;
        ASSERT_EQ(db.Open(m_path, kKey, sizeof kKey - 1), 0);
        EXPECT_TRUE(db.Connected());
        ASSERT_EQ(db.ExecSQL("CREATE TABLE t(a TEXT); INSERT INTO t VALUES('secret-marker');"), 0);
    }
    KWSqlite wrong;
    EXPECT_NE(wrong.Open(m_path, "wrong-key", 9), 0);
    EXPECT_FALSE(wrong.Connected());
    KWSqlite none;
    EXPECT_NE(none.Open(m_path, nullptr, 0), 0);

    // Nothing of the plain SQLite format or the content shows in the file.
    auto bytes = KWFile::ReadAll(m_path);
    ASSERT_TRUE(bytes);
    EXPECT_NE(bytes->substr(0, 15), "SQLite format 3");
    EXPECT_EQ(bytes->find("secret-marker"), std::string::npos);

    KWSqlite again;
    ASSERT_EQ(again.Open(m_path, kKey, sizeof kKey - 1), 0);
    KWSqliteData rows;
    ASSERT_EQ(again.Query(rows, "SELECT a FROM t"), 0);
    ASSERT_EQ(rows.RowCount(), 1);
    EXPECT_STREQ(rows(1, "a"), "secret-marker");
}

TEST_F(KWSqliteTest, MultiStatementStopsAtFirstFailureAndParamsAreLiteral) {
    KWSqlite db;
    ASSERT_EQ(db.Open(m_path, kKey, sizeof kKey - 1), 0);
    EXPECT_EQ(db.ExecSQL("CREATE TABLE t(a TEXT, n INTEGER); INSERT INTO t VALUES('x', 1); bogus; "
                         "INSERT INTO t VALUES('y', 2);"),
              -1);
    KWSqliteData rows;
    ASSERT_EQ(db.Query(rows, "SELECT a, n FROM t"), 0);
    ASSERT_EQ(rows.RowCount(), 1);

    std::string tricky = "O'Brien'); DROP TABLE t; --";
    ASSERT_EQ(db.ExecSQL("INSERT INTO t VALUES(?, ?)", {tricky, int64_t{5000000000}}), 0);
    ASSERT_EQ(db.Query(rows, "SELECT a, n FROM t WHERE a = ?", {tricky}), 0);
    ASSERT_EQ(rows.RowCount(), 1);
    EXPECT_EQ(rows.Text(1, "a"), tricky);
    EXPECT_STREQ(rows(1, "n"), "5000000000");
    EXPECT_EQ(rows(2, "a"), nullptr);
    EXPECT_EQ(rows(1, "missing"), nullptr);
    EXPECT_EQ(rows(0, "a"), nullptr);

    // Text with a second statement is refused whole instead of running only its first part.
    EXPECT_EQ(db.ExecSQL("INSERT INTO t VALUES(?, 6); DELETE FROM t;", {"first"}), -1);
    EXPECT_EQ(db.Query(rows, "SELECT a FROM t; SELECT 1;"), -1);
    // A placeholder without its value would store NULL; too many values would be lost.
    EXPECT_EQ(db.ExecSQL("INSERT INTO t VALUES(?, ?)", {"only"}), -1);
    EXPECT_EQ(db.ExecSQL("INSERT INTO t VALUES(?, 7)", {"a", "b"}), -1);
    ASSERT_EQ(db.Query(rows, "SELECT count(*) AS c FROM t;  -- a closing remark\n"), 0);
    EXPECT_STREQ(rows(1, "c"), "2");

    ASSERT_EQ(db.ExecSQL("INSERT INTO t VALUES(NULL, 3)"), 0);
    ASSERT_EQ(db.Query(rows, "SELECT a FROM t WHERE n = 3"), 0);
    EXPECT_EQ(rows(1, "a"), nullptr);
    EXPECT_EQ(db.Query(rows, "SELECT * FROM nowhere"), -1);
}

TEST_F(KWSqliteTest, ANewDatabaseAndTheFilesThisProgramWritesAreTheOwnersAlone) {
    auto mode = [](const std::string& p) {
        return std::filesystem::status(p).permissions() & std::filesystem::perms::all;
    };
    const auto ownerOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    // Whatever the umask lets through.
    const mode_t old = umask(0);
    {
        KWSqlite db;
        ASSERT_EQ(db.Open(m_path, kKey, sizeof kKey - 1), 0);
        ASSERT_EQ(db.ExecSQL("create table t(x); insert into t values (1);"), 0);
    }
    EXPECT_EQ(mode(m_path), ownerOnly);
    // A database that exists keeps its mode: an installed sys.db is every user's to read.
    const std::string shared = (m_dir / "sys.db").string();
    {
        KWSqlite db;
        ASSERT_EQ(db.Open(shared, kKey, sizeof kKey - 1), 0);
        ASSERT_EQ(db.ExecSQL("create table t(x);"), 0);
    }
    std::filesystem::permissions(shared, std::filesystem::perms(0644),
                                 std::filesystem::perm_options::replace);
    {
        KWSqlite db;
        ASSERT_EQ(db.Open(shared, kKey, sizeof kKey - 1), 0);
    }
    EXPECT_EQ(mode(shared), std::filesystem::perms(0644));

    // Recordings, settings and the paper's files go through KWFile.
    const std::string recording = (m_dir / "answer.wav").string();
    ASSERT_TRUE(KWFile::WriteAtomic(recording, "RIFF"));
    EXPECT_EQ(mode(recording), ownerOnly);
    const std::string appended = (m_dir / "appended.txt").string();
    {
        KWFile f;
        ASSERT_TRUE(f.Create(appended, KWFile::Append));
        ASSERT_TRUE(f.Write("a", 1));
    }
    {
        KWFile f;
        ASSERT_TRUE(f.Create(appended, KWFile::Append));
        ASSERT_TRUE(f.Write("b", 1));
    }
    EXPECT_EQ(KWFile::ReadAll(appended).value_or(""), "ab");
    EXPECT_EQ(mode(appended), ownerOnly);
    {
        KWFile f;
        ASSERT_TRUE(f.Create(appended, KWFile::WriteTruncate));
    }
    EXPECT_EQ(KWFile::ReadAll(appended).value_or("x"), "");

    // Folders: new ones 0700 all the way down; an existing one keeps its mode
    // unless it is asked to be made private.
    const auto ownerAll = std::filesystem::perms::owner_all;
    const std::string nested = (m_dir / "Virelo" / "Student" / "Download").string() + "/";
    ASSERT_TRUE(KWFilePathUtils::CreateDirectories(nested));
    for (const auto& dir :
         {m_dir / "Virelo", m_dir / "Virelo" / "Student", m_dir / "Virelo" / "Student" / "Download"})
        EXPECT_EQ(mode(dir.string()), ownerAll) << dir;
    std::filesystem::permissions(m_dir / "Virelo", std::filesystem::perms(0755),
                                 std::filesystem::perm_options::replace);
    ASSERT_TRUE(KWFilePathUtils::CreateDirectories((m_dir / "Virelo" / "Other").string()));
    EXPECT_EQ(mode((m_dir / "Virelo").string()), std::filesystem::perms(0755));
    ASSERT_TRUE(KWFilePathUtils::CreatePrivateDirectories((m_dir / "Virelo").string() + "/"));
    EXPECT_EQ(mode((m_dir / "Virelo").string()), ownerAll);
    std::filesystem::permissions(recording, std::filesystem::perms(0644),
                                 std::filesystem::perm_options::replace);
    EXPECT_TRUE(KWFilePathUtils::MakePrivateFile(recording));
    EXPECT_EQ(mode(recording), ownerOnly);
    EXPECT_FALSE(KWFilePathUtils::CreateDirectories(recording + "/sub"));
    umask(old);
    KWFile missing;
    EXPECT_FALSE(missing.Create((m_dir / "no" / "such.txt").string(), KWFile::WriteTruncate));
}
