#include "stores/thunderbird/sqlite.h"

#include <climits>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <sqlite3.h>
#endif

#include "platform/reason.h"

namespace dialmend {
namespace {

// The values sqlite3.h gives them; Windows has no header to take them from.
constexpr int kOk = 0;
constexpr int kRow = 100;
constexpr int kDone = 101;
constexpr int kOpenReadOnly = 0x1;
constexpr int kOpenReadWrite = 0x2;
constexpr int kOpenCreate = 0x4;
constexpr int kBusyMilliseconds = 5000;

#ifndef _WIN32
static_assert(kOk == SQLITE_OK && kRow == SQLITE_ROW && kDone == SQLITE_DONE &&
              kOpenReadOnly == SQLITE_OPEN_READONLY && kOpenReadWrite == SQLITE_OPEN_READWRITE &&
              kOpenCreate == SQLITE_OPEN_CREATE);
#endif

// The calls used, by address: linked on Linux, looked up in winsqlite3.dll on Windows.
struct Api {
  int (*open_v2)(const char*, sqlite3**, int, const char*) = nullptr;
  int (*close_v2)(sqlite3*) = nullptr;
  const char* (*errmsg)(sqlite3*) = nullptr;
  int (*prepare_v2)(sqlite3*, const char*, int, sqlite3_stmt**, const char**) = nullptr;
  int (*step)(sqlite3_stmt*) = nullptr;
  int (*reset)(sqlite3_stmt*) = nullptr;
  int (*finalize)(sqlite3_stmt*) = nullptr;
  int (*bind_text)(sqlite3_stmt*, int, const char*, int, void (*)(void*)) = nullptr;
  int (*bind_int64)(sqlite3_stmt*, int, long long) = nullptr;
  const unsigned char* (*column_text)(sqlite3_stmt*, int) = nullptr;
  int (*column_bytes)(sqlite3_stmt*, int) = nullptr;
  long long (*column_int64)(sqlite3_stmt*, int) = nullptr;
  int (*changes)(sqlite3*) = nullptr;
  int (*busy_timeout)(sqlite3*, int) = nullptr;
  // Empty when every call is there.
  std::string missing;
};

#ifdef _WIN32

template <class F>
void Find(HMODULE library, const char* name, F& call, std::string& missing) {
  call = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (call == nullptr && missing.empty()) {
    missing = std::string("winsqlite3.dll has no ") + name;
  }
}

Api Load() {
  Api api;
  const HMODULE library = LoadLibraryW(L"winsqlite3.dll");
  if (library == nullptr) {
    api.missing = "this Windows has no SQLite (winsqlite3.dll, part of Windows 10 and later)";
    return api;
  }
  std::string& m = api.missing;
  Find(library, "sqlite3_open_v2", api.open_v2, m);
  Find(library, "sqlite3_close_v2", api.close_v2, m);
  Find(library, "sqlite3_errmsg", api.errmsg, m);
  Find(library, "sqlite3_prepare_v2", api.prepare_v2, m);
  Find(library, "sqlite3_step", api.step, m);
  Find(library, "sqlite3_reset", api.reset, m);
  Find(library, "sqlite3_finalize", api.finalize, m);
  Find(library, "sqlite3_bind_text", api.bind_text, m);
  Find(library, "sqlite3_bind_int64", api.bind_int64, m);
  Find(library, "sqlite3_column_text", api.column_text, m);
  Find(library, "sqlite3_column_bytes", api.column_bytes, m);
  Find(library, "sqlite3_column_int64", api.column_int64, m);
  Find(library, "sqlite3_changes", api.changes, m);
  Find(library, "sqlite3_busy_timeout", api.busy_timeout, m);
  return api;
}

#else

Api Load() {
  Api api;
  api.open_v2 = sqlite3_open_v2;
  api.close_v2 = sqlite3_close_v2;
  api.errmsg = sqlite3_errmsg;
  api.prepare_v2 = sqlite3_prepare_v2;
  api.step = sqlite3_step;
  api.reset = sqlite3_reset;
  api.finalize = sqlite3_finalize;
  api.bind_text = sqlite3_bind_text;
  api.bind_int64 = sqlite3_bind_int64;
  api.column_text = sqlite3_column_text;
  api.column_bytes = sqlite3_column_bytes;
  api.column_int64 = sqlite3_column_int64;
  api.changes = sqlite3_changes;
  api.busy_timeout = sqlite3_busy_timeout;
  return api;
}

#endif

const Api& Sqlite() {
  static const Api api = Load();
  if (!api.missing.empty()) throw SqliteError(api.missing);
  return api;
}

// SQLite's words for the last failure on `db`.
[[noreturn]] void Fail(sqlite3* db) {
  throw SqliteError(AsReason(Sqlite().errmsg(db)));
}

int Size(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) throw SqliteError("the text is too long");
  return static_cast<int>(text.size());
}

// SQLITE_TRANSIENT: SQLite copies the text before the call returns.
void (*const kCopy)(void*) = reinterpret_cast<void (*)(void*)>(-1);

}  // namespace

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_db(other.m_db), m_statement(std::exchange(other.m_statement, nullptr)) {}

SqliteStatement::~SqliteStatement() {
  if (m_statement != nullptr) Sqlite().finalize(m_statement);
}

bool SqliteStatement::Step() {
  const int result = Sqlite().step(m_statement);
  if (result == kRow) return true;
  if (result == kDone) return false;
  Fail(m_db);
}

void SqliteStatement::Reset() {
  // A failed step reports its error again here; it has been thrown already.
  (void)Sqlite().reset(m_statement);
}

void SqliteStatement::Bind(int index, std::string_view text) {
  if (Sqlite().bind_text(m_statement, index, text.data(), Size(text), kCopy) != kOk) Fail(m_db);
}

void SqliteStatement::Bind(int index, std::int64_t value) {
  if (Sqlite().bind_int64(m_statement, index, value) != kOk) Fail(m_db);
}

std::string_view SqliteStatement::Text(int column) {
  const unsigned char* text = Sqlite().column_text(m_statement, column);
  if (text == nullptr) return {};
  const int bytes = Sqlite().column_bytes(m_statement, column);
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes)};
}

std::int64_t SqliteStatement::Int(int column) {
  return Sqlite().column_int64(m_statement, column);
}

SqliteDatabase::SqliteDatabase(const std::string& path, SqliteAccess access) {
  const Api& api = Sqlite();
  const int flags = access == SqliteAccess::ReadOnly    ? kOpenReadOnly
                    : access == SqliteAccess::ReadWrite ? kOpenReadWrite
                                                        : kOpenReadWrite | kOpenCreate;
  const int result = api.open_v2(path.c_str(), &m_db, flags, nullptr);
  if (result != kOk) {
    const std::string reason = m_db != nullptr ? AsReason(api.errmsg(m_db)) : "out of memory";
    api.close_v2(m_db);
    m_db = nullptr;
    throw SqliteError(reason);
  }
  api.busy_timeout(m_db, kBusyMilliseconds);
}

SqliteDatabase::~SqliteDatabase() {
  if (m_db != nullptr) Sqlite().close_v2(m_db);
}

SqliteStatement SqliteDatabase::Prepare(std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  if (Sqlite().prepare_v2(m_db, sql.data(), Size(sql), &statement, nullptr) != kOk) Fail(m_db);
  return SqliteStatement(m_db, statement);
}

void SqliteDatabase::Execute(std::string_view sql) {
  SqliteStatement statement = Prepare(sql);
  while (statement.Step()) {
  }
}

std::int64_t SqliteDatabase::Changes() {
  return Sqlite().changes(m_db);
}

std::string SqliteMissing() {
  try {
    (void)Sqlite();
  } catch (const SqliteError& error) {
    return error.what();
  }
  return {};
}

}  // namespace dialmend
