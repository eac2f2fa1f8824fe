#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

// The few SQLite calls the Thunderbird store makes, over the system's SQLite: libsqlite3 on
// Linux, the winsqlite3.dll that Windows 10 and later carry, loaded when first needed. Every
// failure throws SqliteError with SQLite's own words; the store turns it into a StoreError.

struct sqlite3;
struct sqlite3_stmt;

namespace dialmend {

class SqliteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One prepared statement; its text values are views that last until the next Step() or Reset().
class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* statement) : m_db(db), m_statement(statement) {}
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&&) = delete;
  ~SqliteStatement();

  // The next row: true while there is one.
  [[nodiscard]] bool Step();
  // Ready to run again, its bindings kept.
  void Reset();
  // Parameters count from 1; the text is copied.
  void Bind(int index, std::string_view text);
  void Bind(int index, std::int64_t value);
  // Columns count from 0.
  [[nodiscard]] std::string_view Text(int column);
  [[nodiscard]] std::int64_t Int(int column);

 private:
  sqlite3* m_db;
  sqlite3_stmt* m_statement;
};

// How a database file is opened.
enum class SqliteAccess { ReadOnly, ReadWrite, Create };

class SqliteDatabase {
 public:
  // Opens the database file at `path` (UTF-8); only Create makes one that is not there. Waits up
  // to a few seconds for another connection's lock before a statement fails.
  SqliteDatabase(const std::string& path, SqliteAccess access);
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;
  ~SqliteDatabase();

  [[nodiscard]] SqliteStatement Prepare(std::string_view sql);
  // Runs a statement that gives no rows.
  void Execute(std::string_view sql);
  // The rows the last INSERT, UPDATE or DELETE changed.
  [[nodiscard]] std::int64_t Changes();

 private:
  sqlite3* m_db = nullptr;
};

// Whether SQLite can be used here, or why not (Windows without winsqlite3.dll), in words.
[[nodiscard]] std::string SqliteMissing();

}  // namespace dialmend
