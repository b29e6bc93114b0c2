// The runtime: result area, the one connection, translation, transactions.
#include "db/runtime.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "db/backend.h"
#include "db/dialect.h"

Sqlca sqlca;

namespace {

std::unique_ptr<db::Connection> g_conn;
std::unique_ptr<db::Cursor> g_cursors[SQL_CURSORS];
std::map<std::string, db::Translated> g_translations;  // per connection's dialect
uint32_t g_defaultFlags = 0;
// The savepoint that opened the current transaction, if one did.
std::string g_firstSavepoint;

// "savepoint NAME" -> NAME; "rollback  to NAME" -> NAME (kind 's' or 'r').
std::string SavepointOf(const char* text, char* kind) {
  std::string words[3];
  int n = 0;
  for (const char* p = text; *p != '\0' && n < 3;) {
    while (*p == ' ') ++p;
    const char* start = p;
    while (*p != '\0' && *p != ' ') ++p;
    if (p > start) words[n++] = std::string(start, p);
  }
  auto lower = [](std::string w) {
    for (char& c : w) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return w;
  };
  *kind = 0;
  if (n == 2 && lower(words[0]) == "savepoint") {
    *kind = 's';
    return lower(words[1]);
  }
  if (n == 3 && lower(words[0]) == "rollback" && lower(words[1]) == "to") {
    *kind = 'r';
    return lower(words[2]);
  }
  return "";
}

void SetResult(int32_t code, const std::string& message) {
  sqlca.sqlcode = code;
  snprintf(sqlca.sqlerrm, sizeof sqlca.sqlerrm, "%s", message.c_str());
}

void SetStatus(const db::Status& s) {
  if (s.lost) {
    // The connection is gone: report it as such, once, and drop it, so that
    // every later call says "not connected" until a new connect.
    SetResult(SQL_CONNECTION_LOST, s.message.empty() ? "connection lost" : s.message);
    for (auto& c : g_cursors) c.reset();
    g_conn.reset();
    return;
  }
  SetResult(s.code, s.message);
}

bool Connected() {
  if (g_conn) return true;
  SetResult(SQL_NOT_CONNECTED, "not connected to a database");
  return false;
}

const db::Translated* TranslationOf(const char* text) {
  auto it = g_translations.find(text);
  if (it == g_translations.end()) it = g_translations.emplace(text, db::Translate(text, g_conn->dialect())).first;
  if (!it->second.ok) {
    SetResult(SQL_BAD_STATEMENT, "cannot translate statement: " + it->second.error);
    return nullptr;
  }
  return &it->second;
}

bool Inputs(const db::Translated& t, const SqlBind* in, int inCount, std::vector<db::Value>* values) {
  if (inCount != t.placeholders) {
    SetResult(SQL_BAD_STATEMENT, "statement has " + std::to_string(t.placeholders) + " placeholders, " +
                                     std::to_string(inCount) + " values given");
    return false;
  }
  values->clear();
  for (int i = 0; i < inCount; ++i) {
    db::Value v;
    if (in[i].type == SQL_TYPE_INT) {
      v.isInt = true;
      v.i = *static_cast<const int32_t*>(in[i].data);
    } else {
      const char* s = static_cast<const char*>(in[i].data);
      v.s.assign(s, strnlen(s, in[i].cap));
    }
    values->push_back(std::move(v));
  }
  return true;
}

void Outputs(const std::vector<db::Value>& row, const SqlBind* out, int outCount) {
  for (int i = 0; i < outCount; ++i) {
    const db::Value* v = i < static_cast<int>(row.size()) ? &row[static_cast<size_t>(i)] : nullptr;
    bool null = v == nullptr || v->null;
    if (out[i].indicator != nullptr) *out[i].indicator = null ? -1 : 0;
    if (out[i].type == SQL_TYPE_INT) {
      int64_t x = null ? 0 : v->isInt ? v->i : strtoll(v->s.c_str(), nullptr, 10);
      if (x > INT32_MAX) x = INT32_MAX;
      if (x < INT32_MIN) x = INT32_MIN;
      *static_cast<int32_t*>(out[i].data) = static_cast<int32_t>(x);
    } else if (out[i].cap > 0) {
      char* dst = static_cast<char*>(out[i].data);
      std::string text = null ? "" : v->isInt ? std::to_string(v->i) : v->s;
      size_t n = text.size() < out[i].cap - 1 ? text.size() : out[i].cap - 1;
      memcpy(dst, text.data(), n);
      dst[n] = '\0';
    }
  }
}

// Splits "user/password@service".  The user ends at the first "/".  The
// password may hold "@" and a URI service may hold one too: the service
// starts behind the first "@" that is followed by a known scheme, otherwise
// behind the last "@".
bool SplitConnect(const std::string& s, db::Login* login) {
  size_t slash = s.find('/');
  if (slash == std::string::npos) return false;
  login->user = s.substr(0, slash);
  size_t at = std::string::npos;
  static const char* kSchemes[] = {"sqlite:", "postgresql://", "postgres://", "odbc:"};
  for (size_t p = s.find('@', slash + 1); p != std::string::npos && at == std::string::npos; p = s.find('@', p + 1)) {
    for (const char* scheme : kSchemes) {
      if (s.compare(p + 1, strlen(scheme), scheme) == 0) at = p;
    }
  }
  if (at == std::string::npos) at = s.rfind('@');
  if (at == std::string::npos || at < slash) return false;
  login->password = s.substr(slash + 1, at - slash - 1);
  login->service = s.substr(at + 1);
  return true;
}

}  // namespace

bool Sql_IsConnectionLost(int32_t code) { return code == SQL_NOT_CONNECTED || code == SQL_CONNECTION_LOST; }

void Sql_Disconnect() {
  for (auto& c : g_cursors) c.reset();
  g_conn.reset();
  g_translations.clear();
}

bool Sql_Connected() { return g_conn != nullptr; }

const char* Sql_BackendName() { return g_conn ? g_conn->Name() : ""; }

void Sql_SetDefaultConnectFlags(uint32_t flags) { g_defaultFlags = flags; }

void Sql_Connect(const SqlVarChar* connect, uint32_t flags) {
  Sql_Disconnect();
  flags |= g_defaultFlags;
  if (connect->len > sizeof connect->arr) {
    SetResult(SQL_CONNECT_TOO_LONG, "connect string longer than 100 characters");
    return;
  }
  std::string text(connect->arr, connect->len);
  db::Login login;
  if (!SplitConnect(text, &login)) {
    SetResult(SQL_BAD_SERVICE, "connect string is not user/password@service");
    return;
  }
  login.create = (flags & SQL_CONNECT_CREATE) != 0;
  db::Status status;
  const std::string& svc = login.service;
  if (svc.compare(0, 7, "sqlite:") == 0) {
    login.service = svc.substr(7);
    g_conn = db::OpenSqlite(login, &status);
  } else if (svc.compare(0, 13, "postgresql://") == 0 || svc.compare(0, 11, "postgres://") == 0) {
    g_conn = db::OpenPostgres(login, &status);
  } else {
    SetResult(SQL_BAD_SERVICE, svc.empty() ? "empty service name" : "unknown kind of service name");
    return;
  }
  if (!g_conn) {
    SetResult(status.code != 0 ? status.code : SQL_NOT_CONNECTED, status.message);
    return;
  }
  SetResult(SQL_OK, "");
}

void Sql_Execute(const char* text, const SqlBind* in, int inCount) {
  if (!Connected()) return;
  const db::Translated* t = TranslationOf(text);
  std::vector<db::Value> values;
  if (t == nullptr || !Inputs(*t, in, inCount, &values)) return;
  char kind = 0;
  std::string savepoint = SavepointOf(text, &kind);
  if (!g_conn->InTransaction()) {
    db::Status b = g_conn->Begin();
    if (b.code != 0 || b.lost) {
      SetStatus(b);
      return;
    }
    g_firstSavepoint = kind == 's' ? savepoint : "";
  }
  db::Status s = g_conn->Execute(t->sql, values);
  // Rolled back to the savepoint that opened the transaction, nothing of it
  // is left: end it, so that an embedded database does not keep its write
  // lock (and every other writer waiting) until the next commit.
  if (s.code == 0 && !s.lost && kind == 'r' && !g_firstSavepoint.empty() && savepoint == g_firstSavepoint) {
    db::Status r = g_conn->Rollback();
    g_firstSavepoint.clear();
    if (r.lost || r.code != 0) s = r;
  }
  SetStatus(s);
}

void Sql_SelectInto(const char* text, const SqlBind* in, int inCount, const SqlBind* out, int outCount) {
  if (!Connected()) return;
  const db::Translated* t = TranslationOf(text);
  std::vector<db::Value> values;
  if (t == nullptr || !Inputs(*t, in, inCount, &values)) return;
  std::unique_ptr<db::Cursor> cur;
  db::Status s = g_conn->Query(t->sql, values, &cur);
  if (s.code != 0 || s.lost) {
    SetStatus(s);
    return;
  }
  std::vector<db::Value> row;
  s = cur->Next(&row);
  cur.reset();
  if (s.code == 0 && !s.lost) Outputs(row, out, outCount);
  SetStatus(s);
}

void Sql_Open(int cursor, const char* text, const SqlBind* in, int inCount) {
  if (cursor < 0 || cursor >= SQL_CURSORS) {
    SetResult(SQL_BAD_CURSOR, "no such cursor");
    return;
  }
  if (!Connected()) return;
  const db::Translated* t = TranslationOf(text);
  std::vector<db::Value> values;
  if (t == nullptr || !Inputs(*t, in, inCount, &values)) return;
  g_cursors[cursor].reset();
  SetStatus(g_conn->Query(t->sql, values, &g_cursors[cursor]));
}

void Sql_Fetch(int cursor, const SqlBind* out, int outCount) {
  if (cursor < 0 || cursor >= SQL_CURSORS || !g_cursors[cursor]) {
    if (Connected()) SetResult(SQL_BAD_CURSOR, "cursor is not open");
    return;
  }
  std::vector<db::Value> row;
  db::Status s = g_cursors[cursor]->Next(&row);
  if (s.code == 0 && !s.lost) Outputs(row, out, outCount);
  SetStatus(s);
}

void Sql_Close(int cursor) {
  if (cursor < 0 || cursor >= SQL_CURSORS || !g_cursors[cursor]) {
    if (Connected()) SetResult(SQL_BAD_CURSOR, "cursor is not open");
    return;
  }
  g_cursors[cursor].reset();
  SetResult(SQL_OK, "");
}

void Sql_Commit() {
  if (!Connected()) return;
  db::Status s = g_conn->InTransaction() ? g_conn->Commit() : db::Status::Ok();
  // A commit that fails leaves nothing behind: some databases keep the
  // transaction open after a refused commit (a deferred constraint), and a
  // later commit would then store what was reported as not stored.
  if (s.code != 0 && !s.lost && g_conn->InTransaction()) g_conn->Rollback();
  g_firstSavepoint.clear();
  SetStatus(s);
}

void Sql_Rollback() {
  if (!Connected()) return;
  g_firstSavepoint.clear();
  SetStatus(g_conn->InTransaction() ? g_conn->Rollback() : db::Status::Ok());
}

void Sql_ExecuteScript(const char* script) {
  if (!Connected()) return;
  SetStatus(g_conn->ExecuteScript(script));
}

long Sql_PrepareCount() { return g_conn ? g_conn->PrepareCount() : 0; }
