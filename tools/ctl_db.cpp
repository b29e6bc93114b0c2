// db init, rows, count, delete: the tables, through the service's own modules.
#include <cstdio>
#include <cstring>
#include <string>

#include "db/DbDb.h"
#include "db/DbUpl.h"
#include "db/runtime.h"
#include "settings/ini.h"
#include "sql_scripts.h"
#include "tools/ctl.h"

namespace {

bool Connect(const char* verb) {
  WarnIfReadableByOthers(INI_LOGIN_FILE);
  if (Db_Connect() == 0) return true;
  // sqlerrm never carries the login; the settings file is named instead.
  CtlError(verb, "cannot connect to the database named in %s: %s (sqlcode %d)", INI_LOGIN_FILE, sqlca.sqlerrm,
           static_cast<int>(sqlca.sqlcode));
  return false;
}

bool IsDateText(const std::string& s) {
  if (s.size() != 14) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Plain output: tab-separated; a tab, line break or backslash inside a value
// is written as \t, \n, \r or \\ so that each row stays one line.
std::string Plain(const char* s) {
  std::string out;
  for (; *s != '\0'; ++s) {
    switch (*s) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += *s;
    }
  }
  return out;
}

// JSON: bytes are not text of any known encoding, so every byte above 127
// is written as the code point of the same value (ISO 8859-1 reading).
std::string Json(const char* s) {
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p != 0; ++p) {
    unsigned char c = *p;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool TableOption(Args& args, const char* verb, bool* rvs) {
  std::string table = "rcv";
  args.Option("--table", &table);
  if (table != "rcv" && table != "rvs") {
    CtlError(verb, "--table is rcv or rvs, not '%s'", table.c_str());
    return false;
  }
  *rvs = table == "rvs";
  return true;
}

}  // namespace

int Verb_DbInit(Args& args) {
  args.Rest();
  if (!args.ok()) {
    CtlError("db init", "%s", args.error().c_str());
    return CTL_USAGE;
  }
  Sql_SetDefaultConnectFlags(SQL_CONNECT_CREATE);
  if (!Connect("db init")) return CTL_FAIL;
  if (Rcv_Count() >= 0) {
    CtlError("db init", "the table Quz570Rcv exists already (%d rows); nothing was changed", Rcv_Count());
    return CTL_FAIL;
  }
  const char* script = strcmp(Sql_BackendName(), "sqlite") == 0 ? kSqliteTables : kPostgresTables;
  if (script[0] == '\0') {
    CtlError("db init", "no table definitions for the %s backend", Sql_BackendName());
    return CTL_FAIL;
  }
  Sql_ExecuteScript(script);
  if (sqlca.sqlcode != 0) {
    CtlError("db init", "creating the tables failed: %s", sqlca.sqlerrm);
    return CTL_FAIL;
  }
  Db_Commit();
  printf("created Quz570Rcv and Quz571Rvs (%s)\n", Sql_BackendName());
  return CTL_OK;
}

int Verb_Rows(Args& args) {
  bool rvs = false;
  if (!TableOption(args, "rows", &rvs)) return CTL_USAGE;
  std::string before = "99991231235959";
  bool bounded = args.Option("--before", &before);
  bool json = args.Flag("--json");
  args.Rest();
  if (!args.ok()) {
    CtlError("rows", "%s", args.error().c_str());
    return CTL_USAGE;
  }
  if (!IsDateText(before)) {
    CtlError("rows", "--before takes 14 digits YYYYMMDDHHMMSS, not '%s'", before.c_str());
    return CTL_USAGE;
  }
  if (bounded && !rvs) {
    CtlError("rows", "--before applies to --table rvs; the receive table's cursor has no bound");
    return CTL_USAGE;
  }
  if (!Connect("rows")) return CTL_FAIL;
  long n = 0;
  if (!rvs) {
    if (Rcv_CurOpen() != 0) {
      CtlError("rows", "cannot read Quz570Rcv: %s", sqlca.sqlerrm);
      return CTL_FAIL;
    }
    RcvRow r;
    while (Rcv_CurFetch(&r) == 0) {
      ++n;
      if (json) {
        printf("{\"RcvMdt\":%s,\"RcvLfn\":%d,\"RcvDta\":%s,\"RcvEsb\":%s}\n", Json(r.RcvMdt).c_str(),
               static_cast<int>(r.RcvLfn), Json(r.RcvDta).c_str(), Json(r.RcvEsb).c_str());
      } else {
        printf("%s\t%d\t%s\t%s\n", r.RcvMdt, static_cast<int>(r.RcvLfn), Plain(r.RcvDta).c_str(),
               Plain(r.RcvEsb).c_str());
      }
    }
  } else {
    if (Rvs_CurOpen(before.c_str()) != 0) {
      CtlError("rows", "cannot read Quz571Rvs: %s", sqlca.sqlerrm);
      return CTL_FAIL;
    }
    RvsRow r;
    while (Rvs_CurFetch(&r) == 0) {
      ++n;
      if (json) {
        printf("{\"RvsMdt\":%s,\"RvsLfn\":%d,\"RvsVkz\":%s,\"RvsDta\":%s,\"RvsEsb\":%s}\n", Json(r.RvsMdt).c_str(),
               static_cast<int>(r.RvsLfn), Json(r.RvsVkz).c_str(), Json(r.RvsDta).c_str(), Json(r.RvsEsb).c_str());
      } else {
        printf("%s\t%d\t%s\t%s\t%s\n", r.RvsMdt, static_cast<int>(r.RvsLfn), Plain(r.RvsVkz).c_str(),
               Plain(r.RvsDta).c_str(), Plain(r.RvsEsb).c_str());
      }
    }
  }
  int32_t end = sqlca.sqlcode;
  if (rvs) Rvs_CurClose();
  else Rcv_CurClose();
  if (end != SQL_NO_DATA) {
    CtlError("rows", "reading stopped after %ld rows: %s", n, sqlca.sqlerrm);
    return CTL_FAIL;
  }
  return CTL_OK;
}

int Verb_Count(Args& args) {
  bool json = args.Flag("--json");
  args.Rest();
  if (!args.ok()) {
    CtlError("count", "%s", args.error().c_str());
    return CTL_USAGE;
  }
  if (!Connect("count")) return CTL_FAIL;
  int32_t n = Rcv_Count();
  if (n < 0) {
    CtlError("count", "cannot count Quz570Rcv: %s", sqlca.sqlerrm);
    return CTL_FAIL;
  }
  if (json) printf("{\"Quz570Rcv\":%d}\n", static_cast<int>(n));
  else printf("%d\n", static_cast<int>(n));
  return CTL_OK;
}

int Verb_Delete(Args& args) {
  bool rvs = false;
  if (!TableOption(args, "delete", &rvs)) return CTL_USAGE;
  std::string mdt;
  std::string lfnText;
  bool haveMdt = args.Option("--mdt", &mdt);
  bool haveLfn = args.Option("--lfn", &lfnText);
  args.Rest();
  if (!args.ok() || !haveMdt || !haveLfn) {
    CtlError("delete", "%s", args.ok() ? "needs --mdt YYYYMMDDHHMMSS and --lfn N" : args.error().c_str());
    return CTL_USAGE;
  }
  char* end = nullptr;
  long lfn = strtol(lfnText.c_str(), &end, 10);
  if (!IsDateText(mdt) || lfnText.empty() || *end != '\0' || lfn < INT32_MIN || lfn > INT32_MAX) {
    CtlError("delete", "--mdt takes 14 digits and --lfn a whole number");
    return CTL_USAGE;
  }
  if (!Connect("delete")) return CTL_FAIL;
  int32_t rc;
  if (rvs) {
    RvsRow r{};
    snprintf(r.RvsMdt, sizeof r.RvsMdt, "%s", mdt.c_str());
    r.RvsLfn = static_cast<int32_t>(lfn);
    rc = Rvs_PKeyDel(&r);
  } else {
    RcvRow r{};
    snprintf(r.RcvMdt, sizeof r.RcvMdt, "%s", mdt.c_str());
    r.RcvLfn = static_cast<int32_t>(lfn);
    rc = Rcv_PKeyDel(&r);
  }
  if (rc != 0) {
    CtlError("delete", "the delete failed: %s", sqlca.sqlerrm);
    return CTL_FAIL;
  }
  printf("deleted\n");
  return CTL_OK;
}
