#include "tools/gpsfwstation/record/sqlite_store.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace gpsfw::station::record {
namespace {

// Another station on the same file holds the write lock for one row's transaction at most:
// a few milliseconds. Waiting this long for it still never touches an update, which the
// record's writer thread keeps apart.
constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyRetries = 5;

// SQLite numbers its parameters ?1, ?2...; the shared statements say $1, $2...
std::string Numbered(const std::string& sql) {
  std::string text = sql;
  for (char& c : text) {
    if (c == '$') c = '?';
  }
  return text;
}

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  ~Statement() { sqlite3_finalize(stmt); }
};

}  // namespace

std::unique_ptr<SqliteStore> SqliteStore::Open(const std::string& path, bool create,
                                               std::string& error) {
  sqlite3* db = nullptr;
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = "cannot open the record " + path + ": " +
            (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<SqliteStore> store(new SqliteStore(db, path));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  for (const char* pragma :
       {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
    std::vector<SqlRow> ignored;
    if (!store->Run(pragma, {}, &ignored, error)) return nullptr;
  }
  return store;
}

SqliteStore::~SqliteStore() {
  sqlite3_close(db_);
}

bool SqliteStore::Run(const std::string& sql, const SqlRow& params, std::vector<SqlRow>* rows,
                      std::string& error) {
  Statement s;
  if (sqlite3_prepare_v2(db_, Numbered(sql).c_str(), -1, &s.stmt, nullptr) != SQLITE_OK) {
    error = "the record " + path_ + ": " + sqlite3_errmsg(db_);
    return false;
  }
  for (size_t i = 0; i < params.size(); ++i) {
    const int at = static_cast<int>(i + 1);
    if (params[i]) {
      sqlite3_bind_text(s.stmt, at, params[i]->data(), static_cast<int>(params[i]->size()),
                        SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(s.stmt, at);
    }
  }
  int rc = StepOutsideLock(s.stmt);
  for (; rc == SQLITE_ROW; rc = sqlite3_step(s.stmt)) {
    if (rows == nullptr) continue;
    SqlRow row;
    for (int c = 0; c < sqlite3_column_count(s.stmt); ++c) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.stmt, c));
      row.push_back(text ? SqlValue(std::string(text, sqlite3_column_bytes(s.stmt, c)))
                         : SqlValue());
    }
    rows->push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    error = "the record " + path_ + ": " + sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

// The busy handler does not cover every lock: switching a new file to WAL, or a reader that
// meets another station's checkpoint, can answer SQLITE_BUSY at once. Outside a transaction
// nothing was done yet, so the first step is simply tried again, within the same bound.
int SqliteStore::StepOutsideLock(sqlite3_stmt* stmt) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    const int rc = sqlite3_step(stmt);
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || !sqlite3_get_autocommit(db_) ||
        std::chrono::steady_clock::now() >= deadline) {
      return rc;
    }
    sqlite3_reset(stmt);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool SqliteStore::Exec(const std::string& sql, const SqlRow& params, std::string& error) {
  return Run(sql, params, nullptr, error);
}

bool SqliteStore::Query(const std::string& sql, const SqlRow& params, std::vector<SqlRow>& rows,
                        std::string& error) {
  rows.clear();
  return Run(sql, params, &rows, error);
}

bool SqliteStore::Transaction(const std::function<bool(std::string&)>& body, std::string& error) {
  for (int attempt = 1;; ++attempt) {
    error.clear();
    // IMMEDIATE takes the write lock before the first read, so that two stations never
    // deadlock upgrading their read locks.
    if (!Exec("BEGIN IMMEDIATE", {}, error)) {
      if (sqlite3_errcode(db_) == SQLITE_BUSY && attempt < kBusyRetries) continue;
      return false;
    }
    if (body(error) && Exec("COMMIT", {}, error)) return true;
    const bool busy = sqlite3_errcode(db_) == SQLITE_BUSY;
    std::string ignored;
    Exec("ROLLBACK", {}, ignored);
    if (!busy || attempt >= kBusyRetries) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt));
  }
}

}  // namespace gpsfw::station::record
