#include "exam/VLDatabaseManager.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWMD5Utils.h"
#include "tests/exam/VLExamTestUtils.h"

namespace KwLib {
namespace {

constexpr char kKey[] = "pbrvosk7316";

class DatabaseManagerTest : public ::testing::Test {
protected:
    VLDatabaseConfig Config(int runMode = 3, const std::string& version = "1.7.1.1393") {
        return VLDatabaseConfig{dir.Path() + "Student/", dir.Path() + "Student/user.db",
                                dir.Path() + "sys.db", version, runMode};
    }

    // Opens a file the way the client does, for setting up and checking.
    std::unique_ptr<KWSqlite> Open(const std::string& path) {
        auto db = std::make_unique<KWSqlite>();
        EXPECT_EQ(db->Open(path, kKey, 11), 0) << path;
        return db;
    }

    std::set<std::string> Tables(KWSqlite& db) {
        KWSqliteData data;
        EXPECT_EQ(db.Query(data, "select name from sqlite_master where type='table';"), 0);
        std::set<std::string> names;
        for (int r = 1; r <= data.RowCount(); ++r)
            names.insert(data.Text(r, "name"));
        return names;
    }

    // A user.db as an older client left it.
    void WriteUserDb(const std::string& version, const std::vector<std::string>& statements) {
        KWFilePathUtils::CreateDirectories(Config().userDataDir);
        auto db = Open(Config().userDbPath);
        for (const std::string& sql : statements)
            ASSERT_EQ(db->ExecSQL(sql), 0) << sql;
        if (!version.empty()) {
            ASSERT_EQ(
                db->ExecSQL(
                    "create table Version(ProductName varchar(100) primary key, VersionNum varchar(100));"),
                0);
            ASSERT_EQ(db->ExecSQL("insert into Version values (?, ?);", {"Virelo", version}), 0);
        }
    }

    test::ScopedTempDir dir;
};

TEST_F(DatabaseManagerTest, FreshInstallCreatesBothFiles) {
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    manager.Release();

    auto user = Open(Config().userDbPath);
    EXPECT_EQ(Tables(*user), (std::set<std::string>{"Authorisation", "ExamAnswer", "User", "Version"}));
    KWSqliteData data;
    ASSERT_EQ(user->Query(data, "select * from Version;"), 0);
    ASSERT_EQ(data.RowCount(), 1);
    EXPECT_EQ(data.Text(1, "ProductName"), "Virelo");
    EXPECT_EQ(data.Text(1, "VersionNum"), "1.7.1.1393");

    // The files are encrypted: without the key they read as no database.
    KWSqlite plain;
    EXPECT_NE(plain.Open(Config().userDbPath, nullptr, 0), 0);

    auto sys = Open(Config().sysDbPath);
    ASSERT_EQ(sys->Query(data, "select * from SysUrl order by ProductName;"), 0);
    ASSERT_EQ(data.RowCount(), 2);
    EXPECT_EQ(data.Text(1, "ProductName"), "Virelo");
    EXPECT_EQ(data.Text(2, "ProductName"), "Virelo_Inner");
    EXPECT_EQ(data.ColumnCount(), 26);
    EXPECT_EQ(data.Columns()[1], "ClientVersionUrl");
    EXPECT_EQ(data.Columns()[25], "ExamScoreUrl");
    EXPECT_EQ(data.Text(1, "ClientVersionUrl"), data.Text(2, "ClientVersionUrl"))
        << "updates come from production";
    EXPECT_NE(data.Text(1, "StudentLoginUrl"), data.Text(2, "StudentLoginUrl"));
    for (int r = 1; r <= 2; ++r) {
        EXPECT_NE(data.Text(r, "ExamQuestionListUrl")
                      .find(".com/api2/get_exam_question?school_id=%s&classroom_id=%s&record_id=%I64d"),
                  std::string::npos);
        EXPECT_NE(data.Text(r, "FileUploadUrl").find(".com/api2?c=file&m=upFile&dataType=json"),
                  std::string::npos);
    }
}

TEST_F(DatabaseManagerTest, SecondStartLoadsFlaggedRecordsWithoutWriting) {
    {
        VLDatabaseManager first(Config());
        ASSERT_TRUE(first.Init());
        EXPECT_EQ(first.GetCurrentUser().UserId, 0) << "nothing is loaded on a fresh install";
        ASSERT_TRUE(first.SaveUser({1001, "stu1001", "pw", 1, 0, 1, 1765000000}));
        ASSERT_TRUE(first.SaveBinding({"key-1", "S01", "第一中学", "C07", "七年级二班", "北京", 1}));
        first.Release();
    }
    const std::string before = KWMD5Utils::CalcuteFileMD5String(Config().userDbPath);
    const std::string sysBefore = KWMD5Utils::CalcuteFileMD5String(Config().sysDbPath);

    VLDatabaseManager second(Config());
    ASSERT_TRUE(second.Init());
    VLUserInfo user = second.GetCurrentUser();
    EXPECT_EQ(user.UserId, 1001);
    EXPECT_EQ(user.UserName, "stu1001");
    EXPECT_EQ(user.Password, "pw");
    EXPECT_EQ(user.SavePassword, 1);
    EXPECT_EQ(user.Used, 1);
    EXPECT_EQ(user.ClearTimestamp, 1765000000);
    VLClassroomBinding binding = second.GetBinding();
    EXPECT_EQ(binding.AuthKey, "key-1");
    EXPECT_EQ(binding.SchoolId, "S01");
    EXPECT_EQ(binding.SchoolName, "第一中学");
    EXPECT_EQ(binding.ClassName, "七年级二班");
    EXPECT_EQ(binding.Used, 1);
    second.Release();
    EXPECT_EQ(KWMD5Utils::CalcuteFileMD5String(Config().userDbPath), before);
    EXPECT_EQ(KWMD5Utils::CalcuteFileMD5String(Config().sysDbPath), sysBefore);
}

TEST_F(DatabaseManagerTest, StartWhileAnotherProcessWritesWaitsAndLoadsTheUser) {
    {
        VLDatabaseManager first(Config());
        ASSERT_TRUE(first.Init());
        ASSERT_TRUE(first.SaveUser({1001, "stu1001", "pw", 1, 0, 1, 0}));
        ASSERT_TRUE(first.SaveBinding({"key-1", "S01", "第一中学", "C07", "七年级二班", "", 1}));
        first.Release();
    }
    // A second program holds user.db's write lock for a second while the client starts.
    const std::string command =
        std::string(VL_SQLITE_LOCKER) + " '" + Config().userDbPath + "' " + kKey + " 1000";
    FILE* locker = popen(command.c_str(), "r");
    ASSERT_NE(locker, nullptr);
    char line[32] = {};
    ASSERT_NE(fgets(line, sizeof line, locker), nullptr);
    ASSERT_STREQ(line, "locked\n");

    VLDatabaseManager manager(Config());
    EXPECT_TRUE(manager.Init());
    EXPECT_EQ(manager.GetCurrentUser().UserId, 1001);
    EXPECT_EQ(manager.GetCurrentUser().UserName, "stu1001");
    EXPECT_EQ(manager.GetBinding().SchoolId, "S01");
    EXPECT_EQ(pclose(locker), 0);
    EXPECT_TRUE(manager.SaveExamAnswer({5, 1001, "after the wait"}));
}

TEST_F(DatabaseManagerTest, SavingASecondUserMovesTheFlag) {
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    ASSERT_TRUE(manager.SaveUser({1, "first", "a", 0, 0, 1, 100}));
    ASSERT_TRUE(manager.SaveUser({2, "second", "b", 1, 1, 1, 200}));
    ASSERT_TRUE(manager.LoadUsedUser());
    EXPECT_EQ(manager.GetCurrentUser().UserName, "second");

    auto db = Open(Config().userDbPath);
    KWSqliteData data;
    ASSERT_EQ(db->Query(data, "select UserName, Used from User order by UserId;"), 0);
    ASSERT_EQ(data.RowCount(), 2) << "the first user stays remembered";
    EXPECT_EQ(data.Text(1, "UserName"), "first");
    EXPECT_EQ(data.Text(1, "Used"), "0");
    EXPECT_EQ(data.Text(2, "Used"), "1");

    ASSERT_TRUE(manager.SaveBinding({"k1", "S1", "A", "C1", "B", "", 1}));
    ASSERT_TRUE(manager.SaveBinding({"k2", "S2", "A2", "C2", "B2", "", 1}));
    ASSERT_TRUE(manager.LoadUsedBinding());
    EXPECT_EQ(manager.GetBinding().SchoolId, "S2");
    ASSERT_EQ(db->Query(data, "select count(*) as n from Authorisation where Used=1;"), 0);
    EXPECT_EQ(data.Text(1, "n"), "1");

    int64_t max = 0;
    ASSERT_TRUE(manager.GetMaxClearTimestamp(max));
    EXPECT_EQ(max, 200);
}

TEST_F(DatabaseManagerTest, SaveThatCannotCommitFailsAndLeavesNoOpenTransaction) {
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    ASSERT_TRUE(manager.SaveUser({1, "first", "a", 0, 0, 1, 0}));

    // Another connection in the middle of a read keeps the save from committing
    // (after the busy wait).
    auto reader = Open(Config().userDbPath);
    ASSERT_EQ(reader->ExecSQL("begin;"), 0);
    KWSqliteData data;
    ASSERT_EQ(reader->Query(data, "select count(*) from User;"), 0);
    EXPECT_FALSE(manager.SaveUser({2, "second", "b", 0, 0, 1, 0}))
        << "a save that did not commit is no success";
    ASSERT_EQ(reader->ExecSQL("commit;"), 0);
    reader.reset();

    // The next answer must reach the file, not an abandoned transaction.
    ASSERT_TRUE(manager.SaveExamAnswer({77, 2, "answers"}));
    auto check = Open(Config().userDbPath);
    ASSERT_EQ(check->Query(data, "select AnswerParam from ExamAnswer where RecordId = 77;"), 0);
    ASSERT_EQ(data.RowCount(), 1);
    EXPECT_EQ(data.Text(1, "AnswerParam"), "answers");
    ASSERT_EQ(check->Query(data, "select UserName from User where Used = 1;"), 0);
    ASSERT_EQ(data.RowCount(), 1);
    EXPECT_EQ(data.Text(1, "UserName"), "first") << "the failed save changed nothing";
    EXPECT_TRUE(manager.SaveUser({2, "second", "b", 0, 0, 1, 0}));
}

TEST_F(DatabaseManagerTest, ApostrophesRoundTripUnchanged) {
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    const std::string name = "O'Brien'); drop table User; --";
    const std::string answers = R"([{"id":"q'1","answer":"it's 'A'"},{"id":"q2","answer":"','"}])";
    ASSERT_TRUE(manager.SaveUser({7, name, "p'w", 1, 1, 1, 0}));
    ASSERT_TRUE(manager.SaveExamAnswer({99, 7, answers}));
    ASSERT_TRUE(manager.SaveBinding({"k'", "S'1", "St. Mary's", "C'", "Year 7's", "x'y", 1}));

    VLDatabaseManager reader(Config());
    ASSERT_TRUE(reader.Init());
    EXPECT_EQ(reader.GetCurrentUser().UserName, name);
    EXPECT_EQ(reader.GetCurrentUser().Password, "p'w");
    EXPECT_EQ(reader.GetBinding().SchoolName, "St. Mary's");
    std::vector<VLExamAnswer> loaded;
    ASSERT_TRUE(reader.LoadExamAnswer(99, loaded));
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].AnswerParam, answers);
    EXPECT_EQ(loaded[0].UserId, 7);
}

TEST_F(DatabaseManagerTest, ExamAnswersAreKeptPerRecordAndUser) {
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    ASSERT_TRUE(manager.SaveExamAnswer({5000000000LL, 1, "first"}));
    ASSERT_TRUE(manager.SaveExamAnswer({5000000000LL, 1, "replaced"}));
    ASSERT_TRUE(manager.SaveExamAnswer({5000000000LL, 2, "other user"}));
    ASSERT_TRUE(manager.SaveExamAnswer({6, 1, "other exam"}));

    std::vector<VLExamAnswer> loaded{{0, 0, "kept"}};
    ASSERT_TRUE(manager.LoadExamAnswer(5000000000LL, loaded));
    ASSERT_EQ(loaded.size(), 3u) << "appended to what the caller passed";
    EXPECT_EQ(loaded[1].RecordId, 5000000000LL);
    EXPECT_EQ(loaded[1].AnswerParam, "replaced");
    EXPECT_EQ(loaded[2].AnswerParam, "other user") << "not filtered by user";

    // Clearing one finished exam leaves every other student's and exam's answers.
    ASSERT_TRUE(manager.ClearExamAnswer(5000000000LL, 1));
    loaded.clear();
    ASSERT_TRUE(manager.LoadExamAnswer(5000000000LL, loaded));
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].AnswerParam, "other user");
    loaded.clear();
    ASSERT_TRUE(manager.LoadExamAnswer(6, loaded));
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].AnswerParam, "other exam");
}

TEST_F(DatabaseManagerTest, MaxClearTimestampOnEmptyTableLeavesTheValue) {
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    int64_t value = 0;
    ASSERT_TRUE(manager.GetMaxClearTimestamp(value));
    EXPECT_EQ(value, 0);
    value = 42;
    ASSERT_TRUE(manager.GetMaxClearTimestamp(value));
    EXPECT_EQ(value, 42);
}

TEST_F(DatabaseManagerTest, APCForgetsTheStudentsOfMoreThanFifteenDaysAgo) {
    constexpr int64_t kDays15 = 1296000;
    const int64_t now = 1765000000;
    VLDatabaseManager db(Config());
    ASSERT_TRUE(db.Init());
    auto save = [&](int64_t id, const char* name, int64_t clearedAt) {
        VLUserInfo user;
        user.UserId = id;
        user.UserName = name;
        user.Password = std::to_string(1000 + id);
        user.Used = 1;
        user.ClearTimestamp = clearedAt;
        ASSERT_TRUE(db.SaveUser(user));
    };
    save(1, "long ago", now - 40 * 86400);
    save(2, "just too old", now - kDays15 - 1);
    save(3, "exactly the age", now - kDays15);
    save(4, "yesterday", now - 86400);
    save(5, "with answers kept", now - 30 * 86400);
    ASSERT_TRUE(db.SaveExamAnswer({77, 5, R"({"uid":"5","answerlist":[]})"}));
    // The student who signed in last stays whatever the date.
    save(6, "last, long ago", now - 90 * 86400);

    ASSERT_TRUE(db.PruneUsers(now, kDays15));
    auto user = Open(Config().userDbPath);
    KWSqliteData rows;
    ASSERT_EQ(user->Query(rows, "select UserId from User order by UserId;"), 0);
    std::vector<std::string> kept;
    for (int r = 1; r <= rows.RowCount(); ++r)
        kept.push_back(rows.Text(r, "UserId"));
    EXPECT_EQ(kept, (std::vector<std::string>{"3", "4", "5", "6"}));
    // Nothing else of the file changes: the last student and the stored answers load as before.
    ASSERT_TRUE(db.LoadUsedUser());
    EXPECT_EQ(db.GetCurrentUser().UserId, 6);
    std::vector<VLExamAnswer> answers;
    ASSERT_TRUE(db.LoadExamAnswer(77, answers));
    EXPECT_EQ(answers.size(), 1u);
    db.Release();
}

TEST_F(DatabaseManagerTest, RunModeChoosesTheSysUrlRow) {
    for (int mode : {0, 2, 3, 4, 5, 6}) {
        VLDatabaseManager manager(Config(mode));
        ASSERT_TRUE(manager.Init());
        bool inner = mode == 2 || mode == 4 || mode == 6;
        EXPECT_EQ(manager.GetSysUrlInfo().ProductName, inner ? "Virelo_Inner" : "Virelo")
            << "run mode " << mode;
        EXPECT_EQ(manager.GetSysUrlInfo().StudentLoginUrl,
                  (inner ? VLDatabaseManager::TestHosts() : VLDatabaseManager::ProductionHosts()).api +
                      "/api2/studentLogin?account=%s&password=%s&school_id=%s&classroom_id=%s&useragent=%s");
    }
}

TEST_F(DatabaseManagerTest, ExistingSysDbIsReadAsItIs) {
    VLSysUrlHosts local{"http://127.0.0.1:9500", "http://127.0.0.1:9600", "http://127.0.0.1:9502",
                        "http://127.0.0.1:9600", "http://127.0.0.1:9500"};
    ASSERT_TRUE(VLDatabaseManager::CreateSysDb(Config().sysDbPath,
                                               {VLDatabaseManager::MakeSysUrlRow("Virelo", local)}));
    VLDatabaseManager manager(Config(3));
    EXPECT_TRUE(manager.Init());
    EXPECT_EQ(manager.GetSysUrlInfo().ExamQuestionUrl, "http://127.0.0.1:9500/api2/getQuestion?id=%s");
    EXPECT_EQ(manager.GetSysUrlInfo().FileUploadUrl,
              "http://127.0.0.1:9502/api2?c=file&m=upFile&dataType=json");
    manager.Release();
    auto sys = Open(Config().sysDbPath);
    KWSqliteData data;
    ASSERT_EQ(sys->Query(data, "select * from SysUrl;"), 0);
    EXPECT_EQ(data.RowCount(), 1) << "an existing sys.db is never rewritten";

    VLDatabaseManager inner(Config(4));
    EXPECT_FALSE(inner.Init()) << "the file has no row for the inner edition";
    EXPECT_EQ(inner.GetSysUrlInfo().ExamQuestionUrl, "");
}

TEST_F(DatabaseManagerTest, SysDbWithoutItsTableIsCreatedAgain) {
    // What a creation cut short used to leave: an empty file, a file with the
    // table but no rows, and bytes that are no database under the key.
    std::vector<std::function<void()>> leftovers = {
        [&] { std::ofstream(Config().sysDbPath); },
        [&] {
            auto db = Open(Config().sysDbPath);
            ASSERT_EQ(db->ExecSQL("create table SysUrl(ProductName varchar(100) primary key);"), 0);
        },
        [&] { std::ofstream(Config().sysDbPath) << std::string(3000, 'x'); },
    };
    for (size_t i = 0; i < leftovers.size(); ++i) {
        std::filesystem::remove(Config().sysDbPath);
        leftovers[i]();
        VLDatabaseManager manager(Config());
        EXPECT_TRUE(manager.Init()) << "leftover " << i;
        EXPECT_EQ(manager.GetSysUrlInfo().ProductName, "Virelo") << "leftover " << i;
        EXPECT_NE(manager.GetSysUrlInfo().ExamQuestionUrl, "") << "leftover " << i;
        manager.Release();
        EXPECT_FALSE(std::filesystem::exists(Config().sysDbPath + ".new"));
    }
}

TEST_F(DatabaseManagerTest, AStartKilledAtAnyMomentLeavesFilesTheNextStartCanUse) {
    const std::string dataDir = Config().userDataDir;
    const std::string sysDb = Config().sysDbPath;
    auto startChild = [&] {
        pid_t pid = fork();
        if (pid == 0) {
            execl(VL_DB_INIT_CHILD, VL_DB_INIT_CHILD, dataDir.c_str(), sysDb.c_str(), nullptr);
            _exit(127);
        }
        return pid;
    };
    // How long one whole start takes here, to spread the kills over it.
    auto started = std::chrono::steady_clock::now();
    pid_t whole = startChild();
    ASSERT_GT(whole, 0);
    int status = 0;
    ASSERT_EQ(waitpid(whole, &status, 0), whole);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto span =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);

    std::mt19937 rng(20240611);
    for (int round = 0; round < 8; ++round) {
        std::filesystem::remove_all(dataDir);
        std::filesystem::remove(sysDb);
        pid_t pid = startChild();
        ASSERT_GT(pid, 0);
        const auto at = std::chrono::microseconds(rng() % std::max<int64_t>(span.count(), 1));
        std::this_thread::sleep_for(at);
        kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);

        // The next start works, whatever the killed one had written.
        VLDatabaseManager next(Config());
        EXPECT_TRUE(next.Init()) << "round " << round << ", killed after " << at.count() << " us";
        EXPECT_EQ(next.GetSysUrlInfo().ProductName, "Virelo") << "round " << round;
        EXPECT_TRUE(next.SaveUser({7, "after", "pw", 0, 0, 1, 0})) << "round " << round;
        EXPECT_TRUE(next.SaveExamAnswer({9, 7, "[]"})) << "round " << round;
        next.SetCurrentUser({});
        EXPECT_TRUE(next.LoadUsedUser()) << "round " << round;
        EXPECT_EQ(next.GetCurrentUser().UserName, "after") << "round " << round;
        next.Release();
    }
}

TEST_F(DatabaseManagerTest, OldUserTableWithoutUserIdIsRebuilt) {
    WriteUserDb(
        "1.0.0.100",
        {"create table User(UserName varchar(100), Password varchar(100), SavePassword boolean default 0, "
         "AutoLogin boolean default 0, Used boolean default 0, ClearTimestamp integer default 0);",
         "insert into User values ('alice', 'a1', 1, 0, 0, 111);",
         "insert into User values ('bob', 'b2', 0, 1, 1, 222);", "create table StudentAnswer(x);"});
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    EXPECT_EQ(manager.GetCurrentUser().UserName, "bob");
    EXPECT_EQ(manager.GetCurrentUser().ClearTimestamp, 222);
    EXPECT_GT(manager.GetCurrentUser().UserId, 0) << "old rows get new row ids";
    std::string version;
    ASSERT_TRUE(manager.GetVersion(version));
    EXPECT_EQ(version, "1.7.1.1393");
    manager.Release();

    auto db = Open(Config().userDbPath);
    EXPECT_EQ(Tables(*db), (std::set<std::string>{"Authorisation", "ExamAnswer", "User", "Version"}))
        << "missing tables created, leftovers of old versions dropped";
    KWSqliteData data;
    ASSERT_EQ(db->Query(data, "select * from User order by UserId;"), 0);
    ASSERT_EQ(data.RowCount(), 2);
    EXPECT_EQ(data.ColumnCount(), 7);
    EXPECT_EQ(data.Text(1, "UserName"), "alice");
    EXPECT_EQ(data.Text(1, "Password"), "a1");
    EXPECT_EQ(data.Text(1, "SavePassword"), "1");
    EXPECT_EQ(data.Text(2, "AutoLogin"), "1");
    EXPECT_EQ(data.Text(2, "ClearTimestamp"), "222");
    EXPECT_NE(data.Text(1, "UserId"), data.Text(2, "UserId"));
}

TEST_F(DatabaseManagerTest, OnlyTheFirstChangedTableIsRebuiltPerRun) {
    // Both Authorisation (one column short) and User (one column extra) differ;
    // the version is new enough that no version-specific step runs.
    WriteUserDb(
        "1.7.0.1391",
        {"create table Authorisation(AuthKey varchar(100) primary key, SchoolId varchar(100), SchoolName "
         "varchar(100), ClassId varchar(100), ClassName varchar(100), Used boolean default 0);",
         "insert into Authorisation values ('k', 'S9', 'School', 'C9', 'Class', 1);",
         "create table User(UserId integer primary key, UserName varchar(100), Password varchar(100), "
         "SavePassword boolean default 0, AutoLogin boolean default 0, Used boolean default 0, "
         "ClearTimestamp "
         "integer default 0, Nickname varchar(100));",
         "insert into User values (5, 'eve', 'e', 0, 0, 1, 7, 'evie');",
         "create table ExamAnswer(RecordId integer, UserId integer, AnswerParam TEXT, primary key (RecordId, "
         "UserId));"});
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    EXPECT_EQ(manager.GetBinding().SchoolId, "S9") << "rows survive the rebuild";
    EXPECT_EQ(manager.GetBinding().Addr, "") << "the new column takes its default";
    EXPECT_EQ(manager.GetCurrentUser().UserName, "eve");
    manager.Release();

    auto db = Open(Config().userDbPath);
    KWSqliteData data;
    ASSERT_EQ(db->Query(data, "select * from Authorisation;"), 0);
    EXPECT_EQ(data.ColumnCount(), 7);
    ASSERT_EQ(data.RowCount(), 1);
    EXPECT_EQ(data.Text(1, "ClassName"), "Class");
    ASSERT_EQ(db->Query(data, "select * from User;"), 0);
    EXPECT_EQ(data.ColumnCount(), 8) << "the second changed table waits for a later run";
    ASSERT_EQ(db->Query(data, "select VersionNum from Version;"), 0);
    EXPECT_EQ(data.Text(1, "VersionNum"), "1.7.0.1391") << "the version waits with it";
    db.reset();

    // The next start of the same client rebuilds the table that waited.
    VLDatabaseManager next(Config());
    ASSERT_TRUE(next.Init());
    EXPECT_EQ(next.GetCurrentUser().UserId, 5);
    EXPECT_EQ(next.GetCurrentUser().ClearTimestamp, 7);
    next.Release();
    db = Open(Config().userDbPath);
    ASSERT_EQ(db->Query(data, "select * from User;"), 0);
    EXPECT_EQ(data.ColumnCount(), 7);
    ASSERT_EQ(data.RowCount(), 1);
    EXPECT_EQ(data.Text(1, "UserName"), "eve");
    ASSERT_EQ(db->Query(data, "select VersionNum from Version;"), 0);
    EXPECT_EQ(data.Text(1, "VersionNum"), "1.7.1.1393");
    ASSERT_EQ(db->Query(data, "select * from Authorisation;"), 0);
    EXPECT_EQ(data.Text(1, "SchoolId"), "S9");
}

TEST_F(DatabaseManagerTest, MissingVersionRowKeepsTheUsersIds) {
    // Current tables, but the Version row is gone: the file reads as the oldest
    // version. The users already have their platform ids and keep them.
    auto schema = VLDatabaseManager::UserDbSchema();
    WriteUserDb("", {schema["Authorisation"], schema["ExamAnswer"], schema["User"], schema["Version"],
                     "insert into User values (1001, 'ann', 'a', 1, 0, 0, 10);",
                     "insert into User values (2002, 'ben', 'b', 0, 0, 1, 20);",
                     "insert into ExamAnswer values (9, 2002, 'answers');"});
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    EXPECT_EQ(manager.GetCurrentUser().UserId, 2002);
    EXPECT_EQ(manager.GetCurrentUser().UserName, "ben");
    std::vector<VLExamAnswer> loaded;
    ASSERT_TRUE(manager.LoadExamAnswer(9, loaded));
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].UserId, 2002);
    std::string version;
    ASSERT_TRUE(manager.GetVersion(version));
    EXPECT_EQ(version, "1.7.1.1393");
    manager.Release();

    auto db = Open(Config().userDbPath);
    KWSqliteData data;
    ASSERT_EQ(db->Query(data, "select UserId from User order by UserId;"), 0);
    ASSERT_EQ(data.RowCount(), 2);
    EXPECT_EQ(data.Text(1, "UserId"), "1001");
    EXPECT_EQ(data.Text(2, "UserId"), "2002");
}

TEST_F(DatabaseManagerTest, ChangedTableWithACompositeKeyKeepsItsRows) {
    WriteUserDb("1.7.0.1391", {"create table ExamAnswer(RecordId integer, UserId integer, AnswerParam TEXT, "
                               "Extra TEXT, primary key "
                               "(RecordId, UserId));",
                               "insert into ExamAnswer values (3, 4, 'answers', 'x');"});
    VLDatabaseManager manager(Config());
    ASSERT_TRUE(manager.Init());
    std::vector<VLExamAnswer> loaded;
    ASSERT_TRUE(manager.LoadExamAnswer(3, loaded));
    ASSERT_EQ(loaded.size(), 1u) << "the answers of an interrupted exam survive the upgrade";
    EXPECT_EQ(loaded[0].AnswerParam, "answers");
}

TEST_F(DatabaseManagerTest, ColumnNamesOfCreateStatements) {
    auto schema = VLDatabaseManager::UserDbSchema();
    EXPECT_EQ(VLDatabaseManager::ParseColumnNames(schema["User"]),
              (std::vector<std::string>{"UserId", "UserName", "Password", "SavePassword", "AutoLogin", "Used",
                                        "ClearTimestamp"}));
    EXPECT_EQ(VLDatabaseManager::ParseColumnNames(schema["ExamAnswer"]),
              (std::vector<std::string>{"RecordId", "UserId", "AnswerParam", "primary", "UserId)"}));
    EXPECT_EQ(VLDatabaseManager::ParseColumnNames(schema["Authorisation"]).size(), 7u);
    EXPECT_TRUE(VLDatabaseManager::ParseColumnNames("no parentheses").empty());
    std::vector<std::string> names;
    for (const auto& [name, sql] : schema)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Authorisation", "ExamAnswer", "User", "Version"}));
}

TEST_F(DatabaseManagerTest, UnreadableUserDbIsKeptAsideAndReplaced) {
    KWFilePathUtils::CreateDirectories(Config().userDataDir);
    const std::string garbage(8192, 'x');
    std::ofstream(Config().userDbPath) << garbage;
    VLDatabaseManager manager(Config());
    EXPECT_TRUE(manager.Init());
    EXPECT_EQ(manager.GetCurrentUser().UserId, 0);
    EXPECT_TRUE(manager.SaveExamAnswer({1, 1, "answers of the coming exam"})) << "answers can be kept again";

    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Config().userDataDir)) {
        if (entry.path().filename().string().rfind("user.db.unreadable-", 0) != 0)
            continue;
        ++aside;
        std::ifstream in(entry.path());
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, garbage) << "the unreadable file is kept byte for byte";
    }
    EXPECT_EQ(aside, 1);
}

TEST_F(DatabaseManagerTest, ManagerWithoutPathsStoresNothingAndSaysSo) {
    // The process-wide instance before it has learnt its paths.
    VLDatabaseManager manager;
    EXPECT_FALSE(manager.Init());
    EXPECT_FALSE(manager.ConnectUserDb());
    EXPECT_FALSE(manager.SaveExamAnswer({1, 1, "answers"}));
    EXPECT_FALSE(manager.SaveUser({1, "x", "y", 0, 0, 1, 0}));
    EXPECT_FALSE(manager.LoadSysUrl());
}

TEST_F(DatabaseManagerTest, UnopenableUserDbLeavesEmptyRecords) {
    // A folder where the file should be: not a key problem, so nothing is moved.
    KWFilePathUtils::CreateDirectories(Config().userDbPath + "/");
    VLDatabaseManager manager(Config());
    EXPECT_FALSE(manager.Init());
    EXPECT_EQ(manager.GetCurrentUser().UserId, 0);
    EXPECT_FALSE(manager.SaveUser({1, "x", "y", 0, 0, 1, 0}));
    EXPECT_TRUE(KWFilePathUtils::IsDirectory(Config().userDbPath));
    EXPECT_EQ(manager.GetSysUrlInfo().ProductName, "Virelo") << "sys.db still works";
}

}  // namespace
}  // namespace KwLib
