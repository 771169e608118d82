#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace KwLib {

// Result rows of a query: every value as UTF-8 text (NULL stays absent).
class KWSqliteData {
public:
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    const std::vector<std::string>& Columns() const { return m_columns; }
    // Row counted from 1; null when the row, the column or the value is absent.
    const char* operator()(int row, const std::string& column) const;
    // The same as text, empty when absent.
    std::string Text(int row, const std::string& column) const;
    void Clear();

private:
    friend class KWSqlite;
    std::vector<std::string> m_columns;
    std::vector<std::vector<std::optional<std::string>>> m_rows;
};

// One value bound to a "?" placeholder. Values always travel as bound
// parameters so that quotes in user text never change a statement.
struct KWSqlValue {
    enum class Kind { Null, Int, Text } kind = Kind::Null;
    int64_t i = 0;
    std::string s;
    KWSqlValue() = default;
    KWSqlValue(int v) : kind(Kind::Int), i(v) {}
    KWSqlValue(int64_t v) : kind(Kind::Int), i(v) {}
    KWSqlValue(const char* v) : kind(Kind::Text), s(v) {}
    KWSqlValue(std::string v) : kind(Kind::Text), s(std::move(v)) {}
};

// A SQLCipher connection. Used by one thread at a time.
class KWSqlite {
public:
    KWSqlite() = default;
    ~KWSqlite();
    KWSqlite(const KWSqlite&) = delete;
    KWSqlite& operator=(const KWSqlite&) = delete;

    // 0 on success. A wrong or missing key is detected here, not at the first
    // query. Here and in every statement, a lock held by another connection is
    // waited for up to kBusyTimeoutMs.
    int Open(const std::string& utf8Path, const char* key, int keyLength);
    static constexpr int kBusyTimeoutMs = 5000;
    bool Connected() const { return m_db != nullptr; }
    void Close();

    // Runs one or more statements; stops at the first failure and returns -1, else 0.
    int ExecSQL(const std::string& sql);
    // One statement with bound parameters; -1 on failure, and also when the text
    // holds a second statement or the values do not match the placeholders.
    int ExecSQL(const std::string& sql, const std::vector<KWSqlValue>& params);
    // 0 on success with the rows in `result`, -1 on failure (same rules).
    int Query(KWSqliteData& result, const std::string& sql);
    int Query(KWSqliteData& result, const std::string& sql, const std::vector<KWSqlValue>& params);

    int64_t LastInsertRowId() const;
    std::string LastError() const { return m_lastError; }

private:
    sqlite3* m_db = nullptr;
    std::string m_lastError;
};

}  // namespace KwLib
