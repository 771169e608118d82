#include "exam/VLDatabaseManager.h"

#include <algorithm>
#include <ctime>
#include <iterator>
#include <memory>

#include "platform/common/KWFile.h"
#include "platform/common/KWFilePathUtils.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWThread.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"
#include "platform/common/KWSystem.h"

namespace KwLib {

namespace {

// Both files are encrypted with this key.
constexpr char kDbKey[] = "pbrvosk7316";
constexpr int kDbKeyLength = sizeof(kDbKey) - 1;

constexpr const char* kCreateUser =
    "create table User(UserId integer primary key, UserName varchar(100), Password varchar(100), "
    "SavePassword "
    "boolean default 0, AutoLogin boolean default 0, Used boolean default 0, ClearTimestamp integer default "
    "0);";
constexpr const char* kCreateVersion =
    "create table Version(ProductName varchar(100) primary key, VersionNum varchar(100));";
constexpr const char* kCreateExamAnswer =
    "create table ExamAnswer(RecordId integer, UserId integer, AnswerParam TEXT, primary key (RecordId, "
    "UserId));";
constexpr const char* kCreateAuthorisation =
    "create table Authorisation(AuthKey varchar(100) primary key, SchoolId varchar(100), SchoolName "
    "varchar(100), "
    "ClassId varchar(100), ClassName varchar(100), Addr varchar(100), Used boolean default 0);";

enum class Server { Api, TeacherWeb, Upload, PublicWeb, ClientVersion };

struct SysUrlColumn {
    const char* name;
    std::string VLSysUrlInfo::*field;
    Server server;
    const char* path;
};

// Column order of table SysUrl after ProductName.
const SysUrlColumn kSysUrlColumns[] = {
    {"ClientVersionUrl", &VLSysUrlInfo::ClientVersionUrl, Server::ClientVersion,
     "/api2/getClientVersion?client_type=1&type=%d&school_id=%s"},
    {"StudentInfoUploadUrl", &VLSysUrlInfo::StudentInfoUploadUrl, Server::Api, "/api2/checkImportFormat?"},
    {"StudentInfoConformUrl", &VLSysUrlInfo::StudentInfoConformUrl, Server::Api,
     "/api2/importStudent?school_id=%s&url=%s"},
    {"TeacherLoginUrl", &VLSysUrlInfo::TeacherLoginUrl, Server::Api,
     "/api2/checkLogin?account=%s&password=%s&school_id=%s&classroom_id=%s&useragent=%s"},
    {"HomepageUrl", &VLSysUrlInfo::HomepageUrl, Server::TeacherWeb, "/?"},
    {"ExamMonitorUrl", &VLSysUrlInfo::ExamMonitorUrl, Server::TeacherWeb, "/index/index?url=monitor"},
    {"StudentInfoDetailUrl", &VLSysUrlInfo::StudentInfoDetailUrl, Server::Api, "/pc/show_student?url=%s"},
    {"VerificationCodeMsgUrl", &VLSysUrlInfo::VerificationCodeMsgUrl, Server::Api,
     "/api2/forgetSendMessage?school_id=%s&mobile=%s"},
    {"VerificationCodeCheckUrl", &VLSysUrlInfo::VerificationCodeCheckUrl, Server::Api,
     "/api2/forgetCheckCode?school_id=%s&mobile=%s&code=%s"},
    {"PasswordResetUrl", &VLSysUrlInfo::PasswordResetUrl, Server::Api,
     "/api2/forgetResetPasswd?school_id=%s&admin_id=%s&new_passwd=%s&re_passwd=%s"},
    {"StudentLoginUrl", &VLSysUrlInfo::StudentLoginUrl, Server::Api,
     "/api2/studentLogin?account=%s&password=%s&school_id=%s&classroom_id=%s&useragent=%s"},
    {"ExamQuestionListUrl", &VLSysUrlInfo::ExamQuestionListUrl, Server::Api,
     "/api2/get_exam_question?school_id=%s&classroom_id=%s&record_id=%I64d"},
    {"ExamQuestionUrl", &VLSysUrlInfo::ExamQuestionUrl, Server::Api, "/api2/getQuestion?id=%s"},
    {"ExamStatusUrl", &VLSysUrlInfo::ExamStatusUrl, Server::Api,
     "/api2/"
     "studentClientSchedule?school_id=%s&classroom_id=%s&exam_record_id=%I64d&student_id=%I64d&question_id=%"
     "s&status=%d&number_first=%d&number_second=%d"},
    {"ExamResultListUrl", &VLSysUrlInfo::ExamResultListUrl, Server::Api,
     "/api2/"
     "testResult?school_id=%s&classroom_id=%s&paper_id=%I64d&student_id=%I64d&student_num=%s&student_name=%"
     "s&result=%s"},
    {"ExamResultUrl", &VLSysUrlInfo::ExamResultUrl, Server::Api, "/api2/singleTestResult?result=%s"},
    {"FileUploadUrl", &VLSysUrlInfo::FileUploadUrl, Server::Upload, "/api2?c=file&m=upFile&dataType=json"},
    {"BugReportUrl", &VLSysUrlInfo::BugReportUrl, Server::Api, "/api2/clientUploadBreakdown?"},
    {"ServerCfgUrl", &VLSysUrlInfo::ServerCfgUrl, Server::Api, "/api2/getCfg?school_id=%s"},
    {"ShowResultUrl", &VLSysUrlInfo::ShowResultUrl, Server::PublicWeb, "/resulter?schoolid=%s"},
    {"StatisticsUrl", &VLSysUrlInfo::StatisticsUrl, Server::Api, "/api2/pcClientVersionStatistics"},
    {"StudentHeardUrl", &VLSysUrlInfo::StudentHeardUrl, Server::Api,
     "/api2/getStudentHeadImg?school_id=%s&student_no=%s"},
    {"WebLoginUrl", &VLSysUrlInfo::WebLoginUrl, Server::TeacherWeb, "/"},
    {"ExamQuestionListByPIDUrl", &VLSysUrlInfo::ExamQuestionListByPIDUrl, Server::Api,
     "/api2/getExamQuestionByPaper?paper_id=%d"},
    {"ExamScoreUrl", &VLSysUrlInfo::ExamScoreUrl, Server::Api,
     "/api2/getStudentResultScore?school_id=%s&classroom_id=%s&paper_id=%I64d&student_id=%I64d"},
};

std::string CreateSysUrlStatement() {
    std::string sql = "create table SysUrl(ProductName varchar(100) primary key";
    for (const SysUrlColumn& c : kSysUrlColumns)
        sql += KWStringUtils::Format(", %s varchar(1024)", c.name);
    return sql + ");";
}

// Result columns keep the case of their declaration; rows are read by name
// whatever case the caller spells it in.
const char* Column(const KWSqliteData& data, int row, const char* name) {
    for (const std::string& column : data.Columns()) {
        if (KWStringUtils::CompareNoCase(column, name) == 0)
            return data(row, column);
    }
    return nullptr;
}

bool ReadText(const KWSqliteData& data, int row, const char* name, std::string& out) {
    const char* v = Column(data, row, name);
    if (v)
        out = v;
    return v != nullptr;
}

void ReadInt32(const KWSqliteData& data, int row, const char* name, int32_t& out) {
    if (const char* v = Column(data, row, name))
        out = KWStringUtils::ConvertStringToInt32(v);
}

void ReadInt64(const KWSqliteData& data, int row, const char* name, int64_t& out) {
    if (const char* v = Column(data, row, name))
        out = KWStringUtils::ConvertStringToInt64(v);
}

// Runs a batch as one unit: a failure part-way leaves the file as it was.
bool ExecAtomically(KWSqlite& db, const std::string& batch) {
    if (db.ExecSQL("begin immediate;" + batch + "commit;") == 0)
        return true;
    db.ExecSQL("rollback;");
    return false;
}

// Ends a transaction begun by the caller. A commit that fails (a reader kept
// the file busy, the disk is full) can leave the transaction open; it is rolled
// back so that later statements, answers among them, are not written into it
// and lost at close.
bool FinishTransaction(KWSqlite& db, bool ok) {
    if (ok && db.ExecSQL("commit;") == 0)
        return true;
    db.ExecSQL("rollback;");
    return false;
}

bool IsTableConstraint(const std::string& word) {
    static const char* const kWords[] = {"primary", "unique", "check", "foreign", "constraint"};
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](const char* w) { return KWStringUtils::CompareNoCase(word, w) == 0; });
}

// A column name without quotes, and without the parentheses that a table
// constraint's list leaves on it ("UserId)" of "primary key (RecordId, UserId)").
std::string Unquote(const std::string& name) {
    return KWStringUtils::Trim(name, "\"'`[]()");
}

bool ContainsNoCase(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) {
        return KWStringUtils::CompareNoCase(Unquote(n), name) == 0;
    });
}

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty())
            out += ",";
        out += p;
    }
    return out;
}

}  // namespace

VLDatabaseManager::VLDatabaseManager(VLDatabaseConfig config) : m_config(std::move(config)) {}

VLDatabaseManager::~VLDatabaseManager() = default;

VLDatabaseManager& VLDatabaseManager::GetInstance() {
    static VLDatabaseManager instance;
    return instance;
}

void VLDatabaseManager::SetConfig(const VLDatabaseConfig& config) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_config = config;
}

std::map<std::string, std::string> VLDatabaseManager::UserDbSchema() {
    return {{"Authorisation", kCreateAuthorisation},
            {"ExamAnswer", kCreateExamAnswer},
            {"User", kCreateUser},
            {"Version", kCreateVersion}};
}

std::map<std::string, std::string> VLDatabaseManager::SysDbSchema() {
    return {{"SysUrl", CreateSysUrlStatement()}};
}

bool VLDatabaseManager::Init() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_userSchema = UserDbSchema();
    m_sysSchema = SysDbSchema();
    // Opening a keyed file derives its key, the slow part of the client's start:
    // sys.db is opened on a second thread while user.db is set up here. Only that
    // thread touches m_sysDb until it is joined.
    std::unique_ptr<KWThread> sysOpener;
    if (!m_sysDb.Connected() && KWFilePathUtils::IsExistsFile(m_config.sysDbPath)) {
        sysOpener = std::make_unique<KWThread>([this] { Connect(m_sysDb, m_config.sysDbPath); });
        if (!sysOpener->Start())
            sysOpener.reset();
    }
    bool userOk = InitUserDb();
    if (sysOpener)
        sysOpener->Join();
    bool sysOk = InitSysDb();
    return userOk && sysOk;
}

bool VLDatabaseManager::Connect(KWSqlite& db, const std::string& path) {
    if (db.Connected())
        return true;
    // SQLite takes an empty name for a private temporary file: everything stored
    // there, answers included, would vanish at close while every save succeeded.
    if (path.empty()) {
        VL_LOG_ERROR("%s,code:%d", "数据库文件创建失败", -1);
        return false;
    }
    int rc = db.Open(path, kDbKey, kDbKeyLength);
    if (rc != 0) {
        VL_LOG_ERROR("%s,code:%d", "数据库文件创建失败", rc);
        return false;
    }
    return true;
}

bool VLDatabaseManager::ConnectUserDb() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return Connect(m_userDb, m_config.userDbPath);
}

bool VLDatabaseManager::ConnectSysDb() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return Connect(m_sysDb, m_config.sysDbPath);
}

void VLDatabaseManager::Release() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_userDb.Close();
    m_sysDb.Close();
    VL_LOG_DEBUG("VLDatabaseManager::Release()");
}

bool VLDatabaseManager::CreateUserDb() {
    if (!ConnectUserDb())
        return false;
    bool ok = true;
    for (const auto& [name, sql] : m_userSchema)
        ok = m_userDb.ExecSQL(sql) == 0 && ok;
    return SetVersion(m_config.clientVersion) && ok;
}

bool VLDatabaseManager::InitUserDb() {
    if (!m_config.userDataDir.empty() && !KWFilePathUtils::IsDirectory(m_config.userDataDir))
        KWFilePathUtils::CreateDirectories(m_config.userDataDir);

    if (!KWFilePathUtils::IsExists(m_config.userDbPath))
        return CreateUserDb();

    if (!ConnectUserDb()) {
        // A file that is not a database under our key can never be read, and
        // without user.db no answer of the coming exam could be kept. Keep its
        // bytes beside it and start a fresh file. Other failures (permissions,
        // a full disk) leave the file alone.
        if (m_userDb.LastError().find("not a database") == std::string::npos)
            return false;
        std::string aside = KWStringUtils::Format("%s.unreadable-%lld", m_config.userDbPath.c_str(),
                                                  static_cast<long long>(std::time(nullptr)));
        if (!KWFilePathUtils::Rename(m_config.userDbPath, aside))
            return false;
        VL_LOG_ERROR("user.db could not be read; kept as %s, starting a new one", aside.c_str());
        return CreateUserDb();
    }
    std::string stored;
    GetVersion(stored);
    bool ok = true;
    if (KWVersionUtils::VersionCompare(m_config.clientVersion, stored) > 0) {
        VL_LOG_INFO("upgrading user.db from version '%s' to %s", stored.c_str(),
                    m_config.clientVersion.c_str());
        // A failed upgrade leaves the version as it was, so the next start tries
        // again; so does a table whose rebuild waits for a later run, since with
        // the version advanced no later start would rebuild it.
        bool pending = false;
        ok = UpgradeUserDb(stored, pending) && (pending || SetVersion(m_config.clientVersion));
    }
    LoadUsedUser();
    LoadUsedBinding();
    return ok;
}

std::vector<std::string> VLDatabaseManager::ParseColumnNames(const std::string& createStatement) {
    std::vector<std::string> names;
    size_t open = createStatement.find('(');
    size_t close = createStatement.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close <= open)
        return names;
    std::vector<std::string> pieces;
    KWStringToken::StringToArray(createStatement.substr(open + 1, close - open - 1), ",", pieces, true);
    for (const std::string& piece : pieces) {
        std::vector<std::string> words;
        KWStringToken::StringToken(piece, " \t\r\n", words);
        if (!words.empty())
            names.push_back(words.front());
    }
    return names;
}

bool VLDatabaseManager::UpgradeUserDb(const std::string& storedVersion, bool& pending) {
    pending = false;
    KWSqliteData tables;
    if (m_userDb.Query(tables, "select * from sqlite_master where type=\"table\";") != 0)
        return false;
    std::map<std::string, std::string> existing;
    for (int row = 1; row <= tables.RowCount(); ++row)
        existing[tables.Text(row, "tbl_name")] = tables.Text(row, "sql");

    std::map<std::string, std::string> working = m_userSchema;
    std::map<std::string, std::string> creates;
    std::map<std::string, std::string> rebuilds;

    for (auto it = working.begin(); it != working.end(); ++it) {
        auto found = existing.find(it->first);
        if (found == existing.end())
            continue;
        std::vector<std::string> expected = ParseColumnNames(it->second);
        std::vector<std::string> old = ParseColumnNames(found->second);
        if (expected.size() == old.size())
            continue;

        // Only real columns that the new definition still has can be copied;
        // the others keep their defaults (new) or are dropped (removed).
        std::vector<std::string> copied;
        for (const std::string& name : old) {
            std::string column = Unquote(name);
            if (!IsTableConstraint(column) && ContainsNoCase(expected, column) &&
                !ContainsNoCase(copied, column))
                copied.push_back(column);
        }
        const std::string& table = it->first;
        std::string batch;
        if (!copied.empty()) {
            std::string columns = Join(copied);
            batch += KWStringUtils::Format("CREATE TEMPORARY TABLE %s_backup(%s);", table.c_str(),
                                           columns.c_str());
            batch += KWStringUtils::Format("INSERT INTO %s_backup SELECT %s FROM %s;", table.c_str(),
                                           columns.c_str(), table.c_str());
        }
        batch += KWStringUtils::Format("DROP TABLE %s;", table.c_str());
        batch += it->second;
        if (!copied.empty()) {
            std::string columns = Join(copied);
            batch += KWStringUtils::Format("INSERT INTO %s(%s) SELECT %s FROM %s_backup;", table.c_str(),
                                           columns.c_str(), columns.c_str(), table.c_str());
            batch += KWStringUtils::Format("DROP TABLE %s_backup;", table.c_str());
        }
        rebuilds[table] = batch;
        // One table per run; note whether another one waits.
        for (auto next = std::next(it); next != working.end() && !pending; ++next) {
            auto other = existing.find(next->first);
            pending = other != existing.end() &&
                      ParseColumnNames(next->second).size() != ParseColumnNames(other->second).size();
        }
        working.erase(it);
        break;
    }

    for (const auto& expected : working) {
        bool present = std::any_of(existing.begin(), existing.end(), [&](const auto& e) {
            return KWStringUtils::CompareNoCase(e.first, expected.first) == 0;
        });
        if (!present)
            creates[expected.first] = expected.second;
    }

    bool ok = true;
    for (const auto& [name, sql] : creates)
        ok = m_userDb.ExecSQL(sql) == 0 && ok;
    for (const auto& [name, batch] : rebuilds) {
        VL_LOG_INFO("rebuilding table %s of user.db", name.c_str());
        ok = ExecAtomically(m_userDb, batch) && ok;
    }
    return MigrateUserDb(storedVersion) && ok;
}

bool VLDatabaseManager::MigrateUserDb(const std::string& storedVersion) {
    bool ok = true;
    // The step exists to give rows of those versions a UserId. A User table that
    // has the column already (a file whose Version row went missing reads as the
    // oldest version) keeps its rows' ids: they are the students' platform ids.
    bool userHasId = false;
    KWSqliteData user;
    if (m_userDb.Query(
            user, "select sql from sqlite_master where type='table' and name='User' collate nocase;") == 0 &&
        user.RowCount() > 0)
        userHasId = ContainsNoCase(ParseColumnNames(user.Text(1, "sql")), "UserId");
    if (!userHasId && KWVersionUtils::VersionCompare(storedVersion, "1.0.1.285") < 0) {
        // Rows of these versions had no UserId; copying them gives them new row ids.
        std::string batch =
            "create temporary table User_bak(UserName, Password, SavePassword, AutoLogin, Used, "
            "ClearTimestamp);"
            "insert into User_bak select UserName, Password, SavePassword, AutoLogin, Used, ClearTimestamp "
            "from User;"
            "drop table User;";
        batch += kCreateUser;
        batch +=
            "insert into User(UserName, Password, SavePassword, AutoLogin, Used, ClearTimestamp) select "
            "UserName, "
            "Password, SavePassword, AutoLogin, Used, ClearTimestamp from User_bak;"
            "drop table User_bak;";
        ok = ExecAtomically(m_userDb, batch);
    }
    if (KWVersionUtils::VersionCompare(storedVersion, "1.7.0.1390") < 0) {
        // Leftovers of older versions; their absence is not an error.
        m_userDb.ExecSQL("drop table StudentAnswer;drop table FileUpload;");
    }
    return ok;
}

bool VLDatabaseManager::InitSysDb() {
    if (KWFilePathUtils::IsExists(m_config.sysDbPath)) {
        if (LoadSysUrl())
            return true;
        // A file left by a creation that was cut short (the client killed or the
        // power lost half-way, before files were created whole) has no server
        // table and never will: it is created again rather than failing every
        // start. A file with rows, only not the one this edition reads, stays.
        if (!SysDbIsEmptyOrBroken())
            return false;
        VL_LOG_ERROR("sys.db has no server table; creating it again");
        m_sysDb.Close();
    }
    if (!WriteSysDbFile(m_config.sysDbPath, {MakeSysUrlRow(kProductName, ProductionHosts()),
                                             MakeSysUrlRow(kInnerProductName, TestHosts())}))
        return false;
    return LoadSysUrl();
}

bool VLDatabaseManager::SysDbIsEmptyOrBroken() {
    if (!ConnectSysDb())
        return m_sysDb.LastError().find("not a database") != std::string::npos;
    KWSqliteData data;
    if (m_sysDb.Query(data,
                      "select count(*) as n from sqlite_master where type='table' and name='SysUrl';") != 0)
        return false;
    if (data.Text(1, "n") == "0")
        return true;
    return m_sysDb.Query(data, "select count(*) as n from SysUrl;") == 0 && data.Text(1, "n") == "0";
}

bool VLDatabaseManager::WriteSysDbFile(const std::string& path, const std::vector<VLSysUrlInfo>& rows) {
    // Written beside its final name and renamed into place once complete, so
    // that sys.db is never seen half-written. One client runs at a time (the
    // single-instance lock), so the working name is fixed; a leftover of a cut
    // creation is removed first, its journal too: SQLite would otherwise play
    // that journal back into the new file.
    const std::string working = path + ".new";
    KWFilePathUtils::RemoveFile(working);
    KWFilePathUtils::RemoveFile(working + "-journal");
    bool ok = false;
    {
        VLDatabaseManager writer(VLDatabaseConfig{"", "", working, "", 0});
        if (writer.ConnectSysDb()) {
            ok = writer.m_sysDb.ExecSQL("begin immediate;") == 0 &&
                 writer.m_sysDb.ExecSQL(CreateSysUrlStatement()) == 0;
            for (const VLSysUrlInfo& row : rows)
                ok = ok && writer.InsertSysUrl(row);
            ok = FinishTransaction(writer.m_sysDb, ok);
        }
        writer.Release();
    }
    if (ok && KWFile::SyncAndRename(working, path))
        return true;
    VL_LOG_ERROR("cannot create %s", path.c_str());
    KWFilePathUtils::RemoveFile(working);
    KWFilePathUtils::RemoveFile(working + "-journal");
    return false;
}

bool VLDatabaseManager::GetVersion(std::string& version) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    KWSqliteData data;
    if (m_userDb.Query(data, "select * from Version where ProductName = ?;", {kProductName}) != 0)
        return false;
    for (int row = 1; row <= data.RowCount(); ++row)
        ReadText(data, row, "VersionNum", version);
    return true;
}

bool VLDatabaseManager::SetVersion(const std::string& version) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    return m_userDb.ExecSQL("insert or replace into Version values (?, ?);", {kProductName, version}) == 0;
}

bool VLDatabaseManager::SaveUser(const VLUserInfo& user) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    if (m_userDb.ExecSQL("begin immediate;") != 0)
        return false;
    bool ok = m_userDb.ExecSQL("update User set Used=0 where Used=1;") == 0 &&
              m_userDb.ExecSQL("insert or replace into User values (?, ?, ?, ?, ?, ?, ?);",
                               {user.UserId, user.UserName, user.Password, user.SavePassword, user.AutoLogin,
                                user.Used, user.ClearTimestamp}) == 0;
    return FinishTransaction(m_userDb, ok);
}

bool VLDatabaseManager::LoadUsedUser() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    KWSqliteData data;
    if (m_userDb.Query(data, "select * from user where Used = ?;", {1}) != 0)
        return false;
    for (int row = 1; row <= data.RowCount(); ++row) {
        ReadInt64(data, row, "UserId", m_user.UserId);
        ReadText(data, row, "USERNAME", m_user.UserName);
        ReadText(data, row, "PASSWORD", m_user.Password);
        ReadInt32(data, row, "SAVEPASSWORD", m_user.SavePassword);
        ReadInt32(data, row, "AUTOLOGIN", m_user.AutoLogin);
        ReadInt32(data, row, "USED", m_user.Used);
        ReadInt64(data, row, "CLEARTIMESTAMP", m_user.ClearTimestamp);
    }
    return true;
}

VLUserInfo VLDatabaseManager::GetCurrentUser() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_user;
}

void VLDatabaseManager::SetCurrentUser(const VLUserInfo& user) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_user = user;
}

bool VLDatabaseManager::SaveBinding(const VLClassroomBinding& binding) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    if (m_userDb.ExecSQL("begin immediate;") != 0)
        return false;
    bool ok = m_userDb.ExecSQL("update Authorisation set Used=0 where Used=1;") == 0 &&
              m_userDb.ExecSQL("insert or replace into Authorisation values (?, ?, ?, ?, ?, ?, ?);",
                               {binding.AuthKey, binding.SchoolId, binding.SchoolName, binding.ClassId,
                                binding.ClassName, binding.Addr, binding.Used}) == 0;
    return FinishTransaction(m_userDb, ok);
}

bool VLDatabaseManager::LoadUsedBinding() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    KWSqliteData data;
    if (m_userDb.Query(data, "select * from Authorisation where Used = ?;", {1}) != 0)
        return false;
    for (int row = 1; row <= data.RowCount(); ++row) {
        ReadText(data, row, "AUTHKEY", m_binding.AuthKey);
        ReadText(data, row, "SCHOOLID", m_binding.SchoolId);
        ReadText(data, row, "SCHOOLNAME", m_binding.SchoolName);
        ReadText(data, row, "CLASSID", m_binding.ClassId);
        ReadText(data, row, "CLASSNAME", m_binding.ClassName);
        ReadText(data, row, "ADDR", m_binding.Addr);
        ReadInt32(data, row, "USED", m_binding.Used);
    }
    return true;
}

VLClassroomBinding VLDatabaseManager::GetBinding() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_binding;
}

void VLDatabaseManager::SetBinding(const VLClassroomBinding& binding) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_binding = binding;
}

bool VLDatabaseManager::GetMaxClearTimestamp(int64_t& value) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    KWSqliteData data;
    if (m_userDb.Query(data, "select max(ClearTimestamp) from User;") != 0)
        return false;
    for (int row = 1; row <= data.RowCount(); ++row)
        ReadInt64(data, row, "max(ClearTimestamp)", value);
    return true;
}

bool VLDatabaseManager::PruneUsers(int64_t now, int64_t maxAgeSeconds) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    // A row's ClearTimestamp is the cache's last clearing when that student
    // signed in, never more than the cache's age before the sign-in: a row
    // older than the age is a sign-in older than it.
    return m_userDb.ExecSQL(
               "delete from User where Used = 0 and ClearTimestamp < ? and "
               "UserId not in (select UserId from ExamAnswer);",
               {now - maxAgeSeconds}) == 0;
}

bool VLDatabaseManager::SaveExamAnswer(const VLExamAnswer& answer) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    return m_userDb.ExecSQL("insert or replace into ExamAnswer values (?, ?, ?);",
                            {answer.RecordId, answer.UserId, answer.AnswerParam}) == 0;
}

bool VLDatabaseManager::ClearExamAnswer(int64_t recordId, int64_t userId) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    return m_userDb.ExecSQL("delete from ExamAnswer where RecordId = ? and UserId = ?;", {recordId, userId}) == 0;
}

bool VLDatabaseManager::LoadExamAnswer(int64_t recordId, std::vector<VLExamAnswer>& answers) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectUserDb())
        return false;
    KWSqliteData data;
    if (m_userDb.Query(data, "select * from ExamAnswer where RecordId = ?;", {recordId}) != 0)
        return false;
    for (int row = 1; row <= data.RowCount(); ++row) {
        VLExamAnswer answer;
        ReadInt64(data, row, "RecordId", answer.RecordId);
        ReadInt64(data, row, "UserId", answer.UserId);
        ReadText(data, row, "AnswerParam", answer.AnswerParam);
        answers.push_back(std::move(answer));
    }
    return true;
}

bool VLDatabaseManager::InsertSysUrl(const VLSysUrlInfo& row) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectSysDb())
        return false;
    std::string sql = "insert or replace into SysUrl values (?";
    std::vector<KWSqlValue> values{row.ProductName};
    for (const SysUrlColumn& c : kSysUrlColumns) {
        sql += ", ?";
        values.emplace_back(row.*c.field);
    }
    sql += ");";
    return m_sysDb.ExecSQL(sql, values) == 0;
}

bool VLDatabaseManager::LoadSysUrl() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!ConnectSysDb())
        return false;
    const int mode = m_config.runMode;
    const char* product = (mode == 2 || mode == 4 || mode == 6) ? kInnerProductName : kProductName;
    KWSqliteData data;
    if (m_sysDb.Query(data, "select * from SysUrl where ProductName = ?;", {product}) != 0)
        return false;
    for (int row = 1; row <= data.RowCount(); ++row) {
        ReadText(data, row, "ProductName", m_sysUrl.ProductName);
        for (const SysUrlColumn& c : kSysUrlColumns)
            ReadText(data, row, c.name, m_sysUrl.*c.field);
    }
    if (data.RowCount() == 0) {
        VL_LOG_ERROR("sys.db has no row for %s", product);
        return false;
    }
    return true;
}

VLSysUrlInfo VLDatabaseManager::GetSysUrlInfo() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_sysUrl;
}

VLSysUrlHosts VLDatabaseManager::ProductionHosts() {
    return {"https://api.virelo-edu.com", "https://teacher.virelo-edu.com", "https://upload.virelo-edu.com",
            "https://www.virelo-edu.com", "https://api.virelo-edu.com"};
}

VLSysUrlHosts VLDatabaseManager::TestHosts() {
    // The update check always asks the production server.
    return {"https://api-test.virelo-edu.com", "https://teacher-test.virelo-edu.com",
            "https://upload-test.virelo-edu.com", "https://www-test.virelo-edu.com",
            "https://api.virelo-edu.com"};
}

VLSysUrlInfo VLDatabaseManager::MakeSysUrlRow(const std::string& productName, const VLSysUrlHosts& hosts) {
    VLSysUrlInfo row;
    row.ProductName = productName;
    for (const SysUrlColumn& c : kSysUrlColumns) {
        const std::string* host = &hosts.api;
        switch (c.server) {
            case Server::Api:
                host = &hosts.api;
                break;
            case Server::TeacherWeb:
                host = &hosts.teacherWeb;
                break;
            case Server::Upload:
                host = &hosts.upload;
                break;
            case Server::PublicWeb:
                host = &hosts.publicWeb;
                break;
            case Server::ClientVersion:
                host = &hosts.clientVersion;
                break;
        }
        row.*c.field = *host + c.path;
    }
    return row;
}

bool VLDatabaseManager::CreateSysDb(const std::string& path, const std::vector<VLSysUrlInfo>& rows) {
    return WriteSysDbFile(path, rows);
}

}  // namespace KwLib
