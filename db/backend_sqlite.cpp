// The embedded default: an SQLite database file.
//
// Durable commits: WAL with synchronous=FULL, so a commit is on stable
// storage when it returns.  Readers (brakmorctl) and the service's writer
// meet through WAL and a busy time-out.  Texts are bound and read as bytes.
// Dates are stored as "YYYY-MM-DD HH:MM:SS" local time; TO_CHAR and TO_DATE
// are defined here for the one format the system uses.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "db/backend.h"
#include "db/runtime.h"
#include "platform/plat.h"

namespace db {
namespace {

constexpr int kBusyTimeoutMs = 10000;

bool IsOurFormat(const unsigned char* fmt) {
  return fmt != nullptr && sqlite3_stricmp(reinterpret_cast<const char*>(fmt), "yyyymmddHH24MISS") == 0;
}

// TO_CHAR(date, 'yyyymmddHH24MISS') -> 14 digits.
void ToChar(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  if (!IsOurFormat(sqlite3_value_text(argv[1]))) return sqlite3_result_error(ctx, "TO_CHAR: unsupported format", -1);
  const char* d = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  // "YYYY-MM-DD HH:MM:SS": take the digits.
  char out[15];
  int n = 0;
  for (const char* p = d; *p != '\0' && n < 14; ++p) {
    if (*p >= '0' && *p <= '9') out[n++] = *p;
  }
  if (n != 14) return sqlite3_result_error(ctx, "TO_CHAR: not a date", -1);
  sqlite3_result_text(ctx, out, 14, SQLITE_TRANSIENT);
}

// TO_DATE('yyyymmddHH24MISS' text) -> "YYYY-MM-DD HH:MM:SS", refusing what
// is no date, as the database the texts were written for does.
void ToDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  if (!IsOurFormat(sqlite3_value_text(argv[1]))) return sqlite3_result_error(ctx, "TO_DATE: unsupported format", -1);
  const char* s = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  if (strlen(s) != 14) return sqlite3_result_error(ctx, "TO_DATE: not 14 digits", -1);
  int v[14];
  for (int i = 0; i < 14; ++i) {
    if (s[i] < '0' || s[i] > '9') return sqlite3_result_error(ctx, "TO_DATE: not 14 digits", -1);
    v[i] = s[i] - '0';
  }
  int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int month = v[4] * 10 + v[5];
  int day = v[6] * 10 + v[7];
  int hour = v[8] * 10 + v[9];
  int minute = v[10] * 10 + v[11];
  int second = v[12] * 10 + v[13];
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap) ||
      hour > 23 || minute > 59 || second > 59) {
    return sqlite3_result_error(ctx, "TO_DATE: not a valid date", -1);
  }
  char out[64];
  snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", year % 10000, month % 100, day % 100, hour % 100,
           minute % 100, second % 100);
  sqlite3_result_text(ctx, out, -1, SQLITE_TRANSIENT);
}

bool IsLost(int rc) {
  int primary = rc & 0xFF;
  return primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN || primary == SQLITE_NOTADB ||
         primary == SQLITE_CORRUPT;
}

Status Fail(sqlite3* db, int rc) {
  Status s;
  s.code = -(rc == 0 ? 1 : rc);  // the extended result code, negative
  s.message = std::string("sqlite: ") + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  s.lost = IsLost(rc);
  return s;
}

class SqliteCursor : public Cursor {
 public:
  SqliteCursor(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  ~SqliteCursor() override {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Status Next(std::vector<Value>* row) override {
    // After its last row a statement would start again: the cursor stays ended.
    int rc = done_ ? SQLITE_DONE : sqlite3_step(stmt_);
    if (rc == SQLITE_DONE) {
      done_ = true;
      Status s;
      s.code = SQL_NO_DATA;
      s.message = "no more rows";
      return s;
    }
    if (rc != SQLITE_ROW) return Fail(db_, rc);
    row->clear();
    int n = sqlite3_column_count(stmt_);
    for (int i = 0; i < n; ++i) {
      Value v;
      switch (sqlite3_column_type(stmt_, i)) {
        case SQLITE_NULL: v.null = true; break;
        case SQLITE_INTEGER: v.isInt = true; v.i = sqlite3_column_int64(stmt_, i); break;
        default: {
          const void* p = sqlite3_column_blob(stmt_, i);
          int len = sqlite3_column_bytes(stmt_, i);
          if (p != nullptr) v.s.assign(static_cast<const char*>(p), static_cast<size_t>(len));
        }
      }
      row->push_back(std::move(v));
    }
    return Status::Ok();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  bool done_ = false;
};

class SqliteConnection : public Connection {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  ~SqliteConnection() override {
    for (auto& kv : stmts_) sqlite3_finalize(kv.second);
    sqlite3_close_v2(db_);
  }
  const char* Name() const override { return "sqlite"; }
  Dialect dialect() const override { return Dialect::Sqlite; }

  Status Execute(const std::string& sql, const std::vector<Value>& in) override {
    sqlite3_stmt* st = nullptr;
    Status s = PrepareBound(sql, in, &st);
    if (s.code != 0) return s;
    int rc = sqlite3_step(st);
    while (rc == SQLITE_ROW) rc = sqlite3_step(st);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    // A failed statement undoes only itself; the transaction stays open.
    return rc == SQLITE_DONE ? Status::Ok() : Fail(db_, rc);
  }

  Status Query(const std::string& sql, const std::vector<Value>& in, std::unique_ptr<Cursor>* out) override {
    sqlite3_stmt* st = nullptr;
    Status s = PrepareBound(sql, in, &st);
    if (s.code != 0) return s;
    out->reset(new SqliteCursor(db_, st));
    return Status::Ok();
  }

  Status Begin() override { return Exec("BEGIN"); }
  Status Commit() override { return Exec("COMMIT"); }
  Status Rollback() override { return Exec("ROLLBACK"); }
  bool InTransaction() override { return sqlite3_get_autocommit(db_) == 0; }
  Status ExecuteScript(const std::string& script) override {
    char* err = nullptr;
    int rc = sqlite3_exec(db_, script.c_str(), nullptr, nullptr, &err);
    Status s = rc == SQLITE_OK ? Status::Ok() : Fail(db_, rc);
    sqlite3_free(err);
    return s;
  }
  long PrepareCount() const override { return prepares_; }

  Status Exec(const char* sql) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? Status::Ok() : Fail(db_, rc);
  }

 private:
  Status PrepareBound(const std::string& sql, const std::vector<Value>& in, sqlite3_stmt** out) {
    sqlite3_stmt*& st = stmts_[sql];
    if (st == nullptr) {
      int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &st,
                                  nullptr);
      if (rc != SQLITE_OK) {
        Status s = Fail(db_, rc);
        stmts_.erase(sql);
        return s;
      }
      ++prepares_;
    } else {
      sqlite3_reset(st);
    }
    for (size_t i = 0; i < in.size(); ++i) {
      int idx = static_cast<int>(i) + 1;
      int rc = in[i].null ? sqlite3_bind_null(st, idx)
               : in[i].isInt ? sqlite3_bind_int64(st, idx, in[i].i)
                             : sqlite3_bind_text(st, idx, in[i].s.data(), static_cast<int>(in[i].s.size()),
                                                 SQLITE_TRANSIENT);
      if (rc != SQLITE_OK) return Fail(db_, rc);
    }
    *out = st;
    return Status::Ok();
  }

  sqlite3* db_;
  std::map<std::string, sqlite3_stmt*> stmts_;
  long prepares_ = 0;
};

}  // namespace

std::unique_ptr<Connection> OpenSqlite(const Login& login, Status* status) {
  char path[4096];
  if (login.service.empty() || !Plat_NativePath(login.service.c_str(), path, sizeof path)) {
    status->code = SQL_BAD_SERVICE;
    status->message = "sqlite: no database path after \"sqlite:\"";
    return nullptr;
  }
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | (login.create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path, &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    *status = Fail(db, rc);
    status->code = SQL_NOT_CONNECTED;
    status->message = "sqlite: cannot open " + login.service + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    return nullptr;
  }
  auto conn = std::make_unique<SqliteConnection>(db);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_create_function(db, "TO_CHAR", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, ToChar, nullptr, nullptr);
  sqlite3_create_function(db, "TO_DATE", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, ToDate, nullptr, nullptr);
  // The first read tells a file that is no database; WAL and FULL make each
  // commit durable when it returns.
  for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db, pragma, -1, &st, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(st);
      if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_OK) {
      *status = Fail(db, rc);
      status->code = SQL_NOT_CONNECTED;
      status->message = "sqlite: " + login.service + " is not usable: " + sqlite3_errmsg(db);
      return nullptr;
    }
  }
  return conn;
}

}  // namespace db
