#include "db/DbDb.h"

#include <cstdio>
#include <cstring>

#include "db/runtime.h"
#include "settings/ini.h"

namespace {
constexpr size_t kLoginSize = 52;
}  // namespace

int32_t Db_Connect() {
  char user[kLoginSize];
  char password[kLoginSize];
  char service[kLoginSize];
  Ini_GetDbLogin(user, sizeof user, password, sizeof password, service, sizeof service);
  // Joined in a buffer wide enough for any three values; a string over the
  // connect limit is refused, never cut: a cut one would log on elsewhere.
  char joined[3 * kLoginSize + 2];
  int len = snprintf(joined, sizeof joined, "%s/%s@%s", user, password, service);
  SqlVarChar connect;
  if (len < 0 || static_cast<size_t>(len) > sizeof connect.arr) {
    Sql_Disconnect();
    sqlca.sqlcode = SQL_CONNECT_TOO_LONG;
    snprintf(sqlca.sqlerrm, sizeof sqlca.sqlerrm, "connect string of %d characters; at most 100", len);
    memset(joined, 0, sizeof joined);
    memset(password, 0, sizeof password);
    return sqlca.sqlcode;
  }
  connect.len = static_cast<uint16_t>(len);
  memcpy(connect.arr, joined, static_cast<size_t>(len));
  Sql_Connect(&connect, 0);
  memset(joined, 0, sizeof joined);
  memset(password, 0, sizeof password);
  memset(connect.arr, 0, sizeof connect.arr);
  return sqlca.sqlcode;
}

void Db_Commit() { Sql_Commit(); }
void Db_Rollback() { Sql_Rollback(); }
