#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "exam/VLDatabaseRecords.h"
#include "platform/common/KWSqlite.h"

namespace KwLib {

// Where the databases live and what the running client is.
struct VLDatabaseConfig {
    std::string userDataDir;    // created with its parents when missing
    std::string userDbPath;     // user.db in the user data folder
    std::string sysDbPath;      // sys.db beside the program
    std::string clientVersion;  // dotted, e.g. 1.7.1.1393
    int runMode = 0;            // picks the SysUrl row
};

// The client's two encrypted SQLite files: user.db (remembered user, classroom
// binding, schema version, answers of the exam under way) and sys.db (the
// server URL templates). Used from the UI thread; an internal lock makes the
// occasional call from a worker safe. Connections open lazily and stay open
// until Release(). Every value reaches SQLite as a bound parameter.
class VLDatabaseManager {
public:
    static constexpr const char* kProductName = "Virelo";
    static constexpr const char* kInnerProductName = "Virelo_Inner";

    VLDatabaseManager() = default;
    explicit VLDatabaseManager(VLDatabaseConfig config);
    ~VLDatabaseManager();
    VLDatabaseManager(const VLDatabaseManager&) = delete;
    VLDatabaseManager& operator=(const VLDatabaseManager&) = delete;

    static VLDatabaseManager& GetInstance();
    // The process-wide instance learns its paths here, before Init.
    void SetConfig(const VLDatabaseConfig& config);

    // Builds the schema maps, opens or creates user.db (upgrading an older one)
    // and sys.db, and loads the cached records. False when either database failed.
    bool Init();
    bool ConnectUserDb();
    bool ConnectSysDb();
    void Release();

    bool GetVersion(std::string& version);
    bool SetVersion(const std::string& version);

    // Clears the flag of every other user and stores `user` with its own flag, atomically.
    bool SaveUser(const VLUserInfo& user);
    bool LoadUsedUser();
    VLUserInfo GetCurrentUser() const;
    void SetCurrentUser(const VLUserInfo& user);

    bool SaveBinding(const VLClassroomBinding& binding);
    bool LoadUsedBinding();
    VLClassroomBinding GetBinding() const;
    void SetBinding(const VLClassroomBinding& binding);

    // Leaves `value` unchanged when the User table is empty.
    bool GetMaxClearTimestamp(int64_t& value);
    // Forgets the students who signed in on this PC before the download cache's
    // age (`now` - `maxAgeSeconds`, seconds since 1970), so that a shared PC
    // does not collect a roster. The row of the student who signed in last and
    // the students with answers still stored stay.
    bool PruneUsers(int64_t now, int64_t maxAgeSeconds);

    bool SaveExamAnswer(const VLExamAnswer& answer);
    // Removes the answers of one finished exam of one student; another
    // student's interrupted exam on the same computer keeps its own.
    bool ClearExamAnswer(int64_t recordId, int64_t userId);
    // Appends every stored answer of the exam record, whichever user gave it.
    bool LoadExamAnswer(int64_t recordId, std::vector<VLExamAnswer>& answers);

    bool InsertSysUrl(const VLSysUrlInfo& row);
    // Loads the row of the run mode: "Virelo_Inner" in run modes 2, 4 and 6, else
    // "Virelo". False when the query fails or the row is missing.
    bool LoadSysUrl();
    VLSysUrlInfo GetSysUrlInfo() const;

    // The rows a new sys.db receives, and a helper that writes a sys.db with any
    // rows (the platform simulator and tests point theirs at 127.0.0.1).
    static VLSysUrlHosts ProductionHosts();
    static VLSysUrlHosts TestHosts();
    static VLSysUrlInfo MakeSysUrlRow(const std::string& productName, const VLSysUrlHosts& hosts);
    // Creates the file whole or not at all (written aside, then renamed over `path`).
    static bool CreateSysDb(const std::string& path, const std::vector<VLSysUrlInfo>& rows);

    // The first word of each comma-separated piece between the outer parentheses
    // of a CREATE statement (table constraints included).
    static std::vector<std::string> ParseColumnNames(const std::string& createStatement);

    // The CREATE statements of each file, by table name in byte order.
    static std::map<std::string, std::string> UserDbSchema();
    static std::map<std::string, std::string> SysDbSchema();

private:
    bool InitUserDb();
    bool CreateUserDb();
    bool InitSysDb();
    // True when sys.db has no SysUrl table, an empty one, or is no database under our key.
    bool SysDbIsEmptyOrBroken();
    static bool WriteSysDbFile(const std::string& path, const std::vector<VLSysUrlInfo>& rows);
    // `pending` is set when another table still differs and waits for the next run.
    bool UpgradeUserDb(const std::string& storedVersion, bool& pending);
    bool MigrateUserDb(const std::string& storedVersion);
    bool Connect(KWSqlite& db, const std::string& path);

    VLDatabaseConfig m_config;
    std::map<std::string, std::string> m_userSchema;
    std::map<std::string, std::string> m_sysSchema;
    KWSqlite m_userDb;
    KWSqlite m_sysDb;
    VLUserInfo m_user;
    VLClassroomBinding m_binding;
    VLSysUrlInfo m_sysUrl;
    mutable std::recursive_mutex m_mutex;
};

}  // namespace KwLib
