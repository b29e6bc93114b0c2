// A PostgreSQL server through libpq.
//
// Texts cross as 8-bit bytes: the client encoding is LATIN1, in which every
// byte 1..255 is one character, so a UTF-8 database stores any record and
// gives it back byte for byte.  Each change inside a transaction runs under
// a savepoint of the runtime's own, so that a refused statement fails alone
// and leaves the transaction usable, as the modules expect.  Statements are
// prepared once per connection.
#include <libpq-fe.h>

#include <cstring>
#include <map>

#include "db/backend.h"
#include "db/runtime.h"

namespace db {
namespace {

constexpr const char* kConnectTimeoutSeconds = "5";

class PgResult {
 public:
  explicit PgResult(PGresult* r) : r_(r) {}
  ~PgResult() { PQclear(r_); }
  PgResult(const PgResult&) = delete;
  PgResult& operator=(const PgResult&) = delete;
  PGresult* get() const { return r_; }

 private:
  PGresult* r_;
};

// A SQLSTATE as a negative number: its five characters in base 36.
int32_t CodeOf(const char* state) {
  if (state == nullptr || strlen(state) != 5) return -1;
  int32_t v = 0;
  for (int i = 0; i < 5; ++i) {
    char c = state[i];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'Z' ? c - 'A' + 10 : 0;
    v = v * 36 + d;
  }
  return v == 0 ? -1 : -v;
}

class PgCursor : public Cursor {
 public:
  explicit PgCursor(PGresult* r) : r_(r) {}
  ~PgCursor() override { PQclear(r_); }
  Status Next(std::vector<Value>* row) override {
    if (next_ >= PQntuples(r_)) {
      Status s;
      s.code = SQL_NO_DATA;
      s.message = "no more rows";
      return s;
    }
    row->clear();
    for (int c = 0; c < PQnfields(r_); ++c) {
      Value v;
      if (PQgetisnull(r_, next_, c)) {
        v.null = true;
      } else {
        v.s.assign(PQgetvalue(r_, next_, c), static_cast<size_t>(PQgetlength(r_, next_, c)));
      }
      row->push_back(std::move(v));
    }
    ++next_;
    return Status::Ok();
  }

 private:
  PGresult* r_;
  int next_ = 0;
};

bool StartsWithWord(const std::string& sql, const char* word) {
  size_t i = 0;
  while (i < sql.size() && sql[i] == ' ') ++i;
  size_t n = strlen(word);
  return sql.size() >= i + n && strncasecmp(sql.c_str() + i, word, n) == 0 &&
         (sql.size() == i + n || sql[i + n] == ' ');
}

class PgConnection : public Connection {
 public:
  explicit PgConnection(PGconn* c) : c_(c) {}
  ~PgConnection() override { PQfinish(c_); }
  const char* Name() const override { return "postgresql"; }
  Dialect dialect() const override { return Dialect::Postgres; }

  Status Execute(const std::string& sql, const std::vector<Value>& in) override {
    // Savepoints and their rollbacks are the transaction's own structure;
    // every other change gets a savepoint around it.
    bool guard = InTransaction() && !StartsWithWord(sql, "savepoint") && !StartsWithWord(sql, "rollback") &&
                 !StartsWithWord(sql, "release");
    if (guard) {
      Status s = Simple("SAVEPOINT brakmor_stmt");
      if (s.code != 0) return s;
    }
    PGresult* r = nullptr;
    Status s = RunPrepared(sql, in, &r);
    PQclear(r);
    if (guard) {
      Status undo = Simple(s.code == 0 ? "RELEASE SAVEPOINT brakmor_stmt" : "ROLLBACK TO SAVEPOINT brakmor_stmt");
      if (undo.lost) return undo;
    }
    return s;
  }

  Status Query(const std::string& sql, const std::vector<Value>& in, std::unique_ptr<Cursor>* out) override {
    // The rows come whole with the result, so a query inside a transaction
    // is guarded like a change: a failing one must not abort the transaction.
    bool guard = InTransaction();
    if (guard) {
      Status g = Simple("SAVEPOINT brakmor_stmt");
      if (g.code != 0) return g;
    }
    PGresult* r = nullptr;
    Status s = RunPrepared(sql, in, &r);
    if (guard) {
      Status undo = Simple(s.code == 0 ? "RELEASE SAVEPOINT brakmor_stmt" : "ROLLBACK TO SAVEPOINT brakmor_stmt");
      if (undo.lost && s.code == 0) s = undo;
    }
    if (s.code != 0) {
      PQclear(r);
      return s;
    }
    out->reset(new PgCursor(r));
    return s;
  }

  Status Begin() override { return Simple("BEGIN"); }
  Status Commit() override { return Simple("COMMIT"); }
  Status Rollback() override { return Simple("ROLLBACK"); }
  bool InTransaction() override {
    PGTransactionStatusType t = PQtransactionStatus(c_);
    return t == PQTRANS_INTRANS || t == PQTRANS_INERROR || t == PQTRANS_ACTIVE;
  }
  Status ExecuteScript(const std::string& script) override { return Simple(script.c_str()); }
  long PrepareCount() const override { return static_cast<long>(names_.size()); }

 private:
  Status Failure(PGresult* r) {
    Status s;
    const char* state = r != nullptr ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    s.code = CodeOf(state);
    const char* msg = r != nullptr ? PQresultErrorMessage(r) : "";
    if (msg == nullptr || *msg == '\0') msg = PQerrorMessage(c_);
    s.message = std::string("postgresql: ") + msg;
    while (!s.message.empty() && s.message.back() == '\n') s.message.pop_back();
    s.lost = PQstatus(c_) == CONNECTION_BAD;
    return s;
  }

  Status Simple(const char* sql) {
    PgResult r(PQexec(c_, sql));
    ExecStatusType st = PQresultStatus(r.get());
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return Status::Ok();
    return Failure(r.get());
  }

  Status RunPrepared(const std::string& sql, const std::vector<Value>& in, PGresult** out) {
    auto it = names_.find(sql);
    if (it == names_.end()) {
      std::string name = "b" + std::to_string(names_.size() + 1);
      PgResult r(PQprepare(c_, name.c_str(), sql.c_str(), 0, nullptr));
      if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) return Failure(r.get());
      it = names_.emplace(sql, name).first;
    }
    std::vector<std::string> texts(in.size());
    std::vector<const char*> values(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
      if (in[i].null) {
        values[i] = nullptr;
        continue;
      }
      texts[i] = in[i].isInt ? std::to_string(in[i].i) : in[i].s;
      values[i] = texts[i].c_str();
    }
    *out = PQexecPrepared(c_, it->second.c_str(), static_cast<int>(in.size()), values.data(), nullptr, nullptr, 0);
    ExecStatusType st = PQresultStatus(*out);
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return Status::Ok();
    return Failure(*out);
  }

  PGconn* c_;
  std::map<std::string, std::string> names_;
};

}  // namespace

std::unique_ptr<Connection> OpenPostgres(const Login& login, Status* status) {
  // The login's user and password come first, so that a URI that carries
  // its own wins over them.
  std::vector<const char*> keys;
  std::vector<const char*> values;
  if (!login.user.empty()) {
    keys.push_back("user");
    values.push_back(login.user.c_str());
  }
  if (!login.password.empty()) {
    keys.push_back("password");
    values.push_back(login.password.c_str());
  }
  keys.push_back("connect_timeout");
  values.push_back(kConnectTimeoutSeconds);
  keys.push_back("client_encoding");
  values.push_back("LATIN1");
  keys.push_back("application_name");
  values.push_back("brakmor");
  keys.push_back("dbname");
  values.push_back(login.service.c_str());
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* c = PQconnectdbParams(keys.data(), values.data(), 1);
  if (c == nullptr || PQstatus(c) != CONNECTION_OK) {
    status->code = SQL_NOT_CONNECTED;
    std::string msg = c != nullptr ? PQerrorMessage(c) : "out of memory";
    while (!msg.empty() && msg.back() == '\n') msg.pop_back();
    // libpq's messages name host and user, never the password.
    status->message = "postgresql: cannot connect: " + msg;
    PQfinish(c);
    return nullptr;
  }
  // Dates in the database's local time zone; the session keeps the server's.
  return std::make_unique<PgConnection>(c);
}

}  // namespace db
