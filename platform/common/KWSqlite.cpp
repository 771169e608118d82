#include "platform/common/KWSqlite.h"

#include <fcntl.h>
#include <sqlcipher/sqlite3.h>
#include <unistd.h>

#include "platform/common/KWLog.h"

namespace KwLib {

const char* KWSqliteData::operator()(int row, const std::string& column) const {
    if (row < 1 || row > RowCount())
        return nullptr;
    for (size_t c = 0; c < m_columns.size(); ++c) {
        if (m_columns[c] == column) {
            const auto& v = m_rows[static_cast<size_t>(row - 1)][c];
            return v ? v->c_str() : nullptr;
        }
    }
    return nullptr;
}

std::string KWSqliteData::Text(int row, const std::string& column) const {
    const char* v = (*this)(row, column);
    return v ? std::string(v) : std::string();
}

void KWSqliteData::Clear() {
    m_columns.clear();
    m_rows.clear();
}

KWSqlite::~KWSqlite() {
    Close();
}

int KWSqlite::Open(const std::string& utf8Path, const char* key, int keyLength) {
    Close();
    // A database this opens first is made here, owner-only, so that it (and the
    // journals SQLite gives the same mode) never exists readable by others.
    // An existing file keeps its mode: an installed sys.db is shared by every user.
    if (!utf8Path.empty() && utf8Path.rfind(":memory:", 0) != 0) {
        const int fd = open(utf8Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            close(fd);
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(utf8Path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        m_lastError = db ? sqlite3_errmsg(db) : "out of memory";
        VL_LOG_ERROR("open %s failed: %s", utf8Path.c_str(), m_lastError.c_str());
        sqlite3_close(db);
        return -1;
    }
    if (key && keyLength > 0) {
        rc = sqlite3_key(db, key, keyLength);
        if (rc != SQLITE_OK) {
            m_lastError = sqlite3_errmsg(db);
            sqlite3_close(db);
            return -1;
        }
    }
    // Before the first statement: the key check below reads the file, and while
    // another connection commits it would fail at once ("database is locked")
    // instead of waiting, and nothing of the database would be loaded.
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // The key is only checked when the first page is read.
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        m_lastError = sqlite3_errmsg(db);
        VL_LOG_ERROR("open %s refused: %s", utf8Path.c_str(), m_lastError.c_str());
        sqlite3_close(db);
        return -1;
    }
    m_db = db;
    return 0;
}

void KWSqlite::Close() {
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

int KWSqlite::ExecSQL(const std::string& sql) {
    if (!m_db)
        return -1;
    char* err = nullptr;
    int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        m_lastError = err ? err : sqlite3_errstr(rc);
        VL_LOG_ERROR("sql failed: %s (%s)", m_lastError.c_str(), sql.c_str());
        sqlite3_free(err);
        return -1;
    }
    return 0;
}

namespace {
// True when the text from `tail` to `end` (after the first statement) holds
// another statement, not only blanks, semicolons or comments.
bool HasFurtherStatement(sqlite3* db, const char* tail, const char* end) {
    while (tail < end) {
        sqlite3_stmt* next = nullptr;
        const char* rest = nullptr;
        if (sqlite3_prepare_v2(db, tail, static_cast<int>(end - tail), &next, &rest) != SQLITE_OK)
            return true;
        if (next) {
            sqlite3_finalize(next);
            return true;
        }
        if (!rest || rest <= tail)
            return false;
        tail = rest;
    }
    return false;
}

bool BindAll(sqlite3_stmt* stmt, const std::vector<KWSqlValue>& params) {
    for (size_t i = 0; i < params.size(); ++i) {
        int idx = static_cast<int>(i + 1);
        const KWSqlValue& p = params[i];
        int rc =
            p.kind == KWSqlValue::Kind::Int ? sqlite3_bind_int64(stmt, idx, p.i)
            : p.kind == KWSqlValue::Kind::Text
                ? sqlite3_bind_text(stmt, idx, p.s.data(), static_cast<int>(p.s.size()), SQLITE_TRANSIENT)
                : sqlite3_bind_null(stmt, idx);
        if (rc != SQLITE_OK)
            return false;
    }
    return true;
}
}  // namespace

int KWSqlite::ExecSQL(const std::string& sql, const std::vector<KWSqlValue>& params) {
    KWSqliteData ignored;
    return Query(ignored, sql, params);
}

int KWSqlite::Query(KWSqliteData& result, const std::string& sql) {
    return Query(result, sql, {});
}

int KWSqlite::Query(KWSqliteData& result, const std::string& sql, const std::vector<KWSqlValue>& params) {
    result.Clear();
    if (!m_db)
        return -1;
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, &tail);
    if (rc != SQLITE_OK || !stmt) {
        m_lastError = rc != SQLITE_OK ? sqlite3_errmsg(m_db) : "no statement";
        VL_LOG_ERROR("sql prepare failed: %s (%s)", m_lastError.c_str(), sql.c_str());
        sqlite3_finalize(stmt);
        return -1;
    }
    // Only one statement runs here; a second one would be dropped without a
    // word, so text that holds more is refused before anything runs.
    if (tail && HasFurtherStatement(m_db, tail, sql.c_str() + sql.size())) {
        m_lastError = "more than one statement";
        VL_LOG_ERROR("sql refused: %s (%s)", m_lastError.c_str(), sql.c_str());
        sqlite3_finalize(stmt);
        return -1;
    }
    // A placeholder left without a value would silently store NULL.
    if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(params.size())) {
        m_lastError = "wrong number of parameters";
        VL_LOG_ERROR("sql refused: %d values for %d placeholders (%s)", static_cast<int>(params.size()),
                     sqlite3_bind_parameter_count(stmt), sql.c_str());
        sqlite3_finalize(stmt);
        return -1;
    }
    if (!BindAll(stmt, params)) {
        m_lastError = sqlite3_errmsg(m_db);
        sqlite3_finalize(stmt);
        return -1;
    }
    int columns = sqlite3_column_count(stmt);
    for (int c = 0; c < columns; ++c)
        result.m_columns.emplace_back(sqlite3_column_name(stmt, c));
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::vector<std::optional<std::string>> row(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            if (sqlite3_column_type(stmt, c) == SQLITE_NULL)
                continue;
            const unsigned char* text = sqlite3_column_text(stmt, c);
            int bytes = sqlite3_column_bytes(stmt, c);
            row[static_cast<size_t>(c)] =
                std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes));
        }
        result.m_rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        m_lastError = sqlite3_errmsg(m_db);
        VL_LOG_ERROR("sql step failed: %s (%s)", m_lastError.c_str(), sql.c_str());
        result.Clear();
        return -1;
    }
    return 0;
}

int64_t KWSqlite::LastInsertRowId() const {
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

}  // namespace KwLib
