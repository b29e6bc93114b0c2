// The database layer and the two tables, on real databases.  One suite,
// run for every backend that this machine offers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "db/DbDb.h"
#include "db/DbUpl.h"
#include "db/dialect.h"
#include "db/runtime.h"
#include "settings/idea.h"
#include "sql_scripts.h"
#include "tests/dbbackends.h"
#include "tests/dbsite.h"

extern const char* const DbUpl_StatementTexts[];

namespace {

class DbTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    backend = tu::FindBackend(GetParam());
    if (backend == nullptr) GTEST_SKIP() << GetParam() << " is not available here";
    site = std::make_unique<tu::Site>(backend->NewDatabase());
    ASSERT_EQ(chdir(site->work.c_str()), 0);
    Sql_SetDefaultConnectFlags(SQL_CONNECT_CREATE);
    ASSERT_EQ(Db_Connect(), 0) << sqlca.sqlerrm;
    Sql_SetDefaultConnectFlags(0);
    Sql_ExecuteScript(backend->TablesScript());
    ASSERT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
    Db_Commit();
  }
  void TearDown() override {
    Sql_Disconnect();
    ASSERT_EQ(chdir("/"), 0);
  }
  // Rows of the receive table as "lfn|dta|esb", in cursor order.
  std::vector<std::string> RcvRows() {
    std::vector<std::string> rows;
    EXPECT_EQ(Rcv_CurOpen(), 0) << sqlca.sqlerrm;
    RcvRow r;
    while (Rcv_CurFetch(&r) == 0) rows.push_back(std::to_string(r.RcvLfn) + "|" + r.RcvDta + "|" + r.RcvEsb);
    EXPECT_NE(sqlca.sqlcode, 0);
    EXPECT_EQ(Rcv_CurClose(), 0);
    return rows;
  }
  // Runs an Oracle query of one text column through the runtime.
  std::vector<std::string> Column(const char* query) {
    std::vector<std::string> out;
    Sql_Open(3, query, nullptr, 0);
    EXPECT_EQ(sqlca.sqlcode, 0) << sqlca.sqlerrm;
    char buf[600];
    SqlBind b{SQL_TYPE_TEXT, buf, sizeof buf, nullptr};
    for (Sql_Fetch(3, &b, 1); sqlca.sqlcode == 0; Sql_Fetch(3, &b, 1)) out.push_back(buf);
    Sql_Close(3);
    return out;
  }
  const tu::Backend* backend = nullptr;
  std::unique_ptr<tu::Site> site;
};

TEST_P(DbTest, InsertCursorCountAndDelete) {
  EXPECT_EQ(Rcv_Count(), 0);
  EXPECT_EQ(Rcv_PKeyIns(1, "first", "RcvUsr"), 0);
  EXPECT_EQ(Rcv_PKeyIns(2, "second", "RcvUsr"), 0);
  EXPECT_EQ(Rcv_PKeyIns(1, "same number, same second", "RcvUsr"), 0) << "no unique key on (RcvMdt, RcvLfn)";
  EXPECT_EQ(Rcv_Count(), 3);
  ASSERT_EQ(Rcv_CurOpen(), 0);
  RcvRow row;
  ASSERT_EQ(Rcv_CurFetch(&row), 0);
  EXPECT_EQ(strlen(row.RcvMdt), 14u);
  RcvRow kept = row;
  while (Rcv_CurFetch(&row) == 0) {
  }
  RcvRow after = row;
  EXPECT_NE(Rcv_CurFetch(&row), 0) << "a fetch after the last row fails";
  EXPECT_EQ(memcmp(&row, &after, sizeof row), 0) << "and leaves the row unchanged";
  EXPECT_EQ(Rcv_CurClose(), 0);
  // Delete by (RcvMdt, RcvLfn): both rows numbered 1 of that second go.
  RcvRow key = kept;
  key.RcvLfn = 1;
  EXPECT_EQ(Rcv_PKeyDel(&key), 0);
  EXPECT_EQ(RcvRows(), std::vector<std::string>{"2|second|RcvUsr"});
  key.RcvLfn = 77;
  EXPECT_EQ(Rcv_PKeyDel(&key), 0) << "a delete that matches nothing";
  EXPECT_EQ(Rcv_Count(), 1);
}

TEST_P(DbTest, TextsAreStoredByteForByte) {
  std::string full(512, 'x');
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<char>(1 + i % 255);
  ASSERT_EQ(Rcv_PKeyIns(9, full.c_str(), "RcvUsr"), 0) << sqlca.sqlerrm;
  std::string high;
  for (int b = 128; b < 256; ++b) high += static_cast<char>(b);
  ASSERT_EQ(Rcv_PKeyIns(10, high.c_str(), "\xe4\xf6\xfc"), 0) << sqlca.sqlerrm;
  ASSERT_EQ(Rcv_CurOpen(), 0);
  RcvRow r;
  std::vector<std::string> texts;
  while (Rcv_CurFetch(&r) == 0) texts.push_back(std::string(r.RcvDta) + "|" + r.RcvEsb);
  Rcv_CurClose();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_TRUE(texts[0] == full + "|RcvUsr" || texts[1] == full + "|RcvUsr");
  EXPECT_TRUE(texts[0] == high + "|\xe4\xf6\xfc" || texts[1] == high + "|\xe4\xf6\xfc");
}

TEST_P(DbTest, RefusedInsertLeavesNothingAndKeepsEarlierRows) {
  ASSERT_EQ(Rcv_PKeyIns(1, "good", "RcvUsr"), 0);
  backend->InstallRefusal();
  EXPECT_NE(Rcv_PKeyIns(2, "poison", "RcvUsr"), 0);
  EXPECT_FALSE(Sql_IsConnectionLost(sqlca.sqlcode));
  EXPECT_EQ(Rcv_PKeyIns(3, "after", "RcvUsr"), 0) << "the transaction is still usable: " << sqlca.sqlerrm;
  EXPECT_EQ(Rcv_Count(), 2);
  std::vector<std::string> rows = RcvRows();
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"1|good|RcvUsr", "3|after|RcvUsr"}));
}

TEST_P(DbTest, FailedCommitIsReportedAndLeavesNothing) {
  backend->InstallCommitRefusal();
  EXPECT_NE(Rcv_PKeyIns(1, "late", "RcvUsr"), 0) << "a change whose commit failed is not done";
  EXPECT_EQ(Rcv_PKeyIns(2, "fine", "RcvUsr"), 0) << sqlca.sqlerrm;
  EXPECT_EQ(RcvRows(), std::vector<std::string>{"2|fine|RcvUsr"});
}

TEST_P(DbTest, NullColumnsAreFetchedWithResultZero) {
  backend->RawSql("insert into Quz570Rcv (RcvLfn, RcvDta, RcvEsb) values (NULL, NULL, NULL)");
  backend->RawSql(
      "insert into Quz571Rvs (RvsMdt, RvsMzt, RvsLfn, RvsVkz, RvsVdt, RvsDta, RvsEsb) values "
      "('2020-01-01 00:00:00', NULL, NULL, NULL, NULL, NULL, NULL)");
  ASSERT_EQ(Rcv_CurOpen(), 0);
  RcvRow r;
  memset(&r, 'q', sizeof r);
  EXPECT_EQ(Rcv_CurFetch(&r), 0);
  EXPECT_EQ(r.RcvLfn, 0);
  EXPECT_STREQ(r.RcvDta, "");
  Rcv_CurClose();
  ASSERT_EQ(Rvs_CurOpen("20300101000000"), 0);
  RvsRow v;
  EXPECT_EQ(Rvs_CurFetch(&v), 0);
  EXPECT_STREQ(v.RvsMdt, "20200101000000");
  EXPECT_STREQ(v.RvsVkz, "");
  Rvs_CurClose();
}

TEST_P(DbTest, SecondTableCursorIsBoundStrictlyOlderAndOrderedByMzt) {
  RvsRow a{"20250102030405", 1, "ABC", "a", "E1"};
  RvsRow b{"20250102030406", 2, "X", "b", "E2"};
  RvsRow c{"20240101000000", 3, "Y", "c", "E3"};
  for (const RvsRow* r : {&a, &b, &c}) ASSERT_EQ(Rvs_PKeyIns(r), 0) << sqlca.sqlerrm;
  ASSERT_EQ(Rvs_CurOpen("20250102030406"), 0);
  std::vector<std::string> got;
  RvsRow r;
  while (Rvs_CurFetch(&r) == 0) got.push_back(std::string(r.RvsMdt) + "|" + std::to_string(r.RvsLfn) + "|" + r.RvsVkz + "|" + r.RvsDta + "|" + r.RvsEsb);
  Rvs_CurClose();
  EXPECT_EQ(got, (std::vector<std::string>{"20240101000000|3|Y|c|E3", "20250102030405|1|ABC|a|E1"}))
      << "the row equal to the bound is not delivered";
  // RvsMzt equals RvsMdt; RvsVdt is the database's clock at the insert.
  EXPECT_EQ(Column("select TO_CHAR(RvsMzt,'yyyymmddHH24MISS') from Quz571Rvs order by RvsLfn"),
            (std::vector<std::string>{"20250102030405", "20250102030406", "20240101000000"}));
  std::vector<std::string> vdt = Column("select TO_CHAR(RvsVdt,'yyyymmddHH24MISS') from Quz571Rvs");
  time_t now = time(nullptr);
  char expect[16];
  strftime(expect, sizeof expect, "%Y%m%d%H", localtime(&now));
  ASSERT_EQ(vdt.size(), 3u);
  EXPECT_EQ(vdt[0].substr(0, 10), std::string(expect)) << "local time of the insert";
  EXPECT_EQ(Rvs_PKeyDel(&a), 0);
  ASSERT_EQ(Rvs_CurOpen("99991231235959"), 0);
  int n = 0;
  while (Rvs_CurFetch(&r) == 0) ++n;
  Rvs_CurClose();
  EXPECT_EQ(n, 2);
  RvsRow bad{"20251302030405", 4, "", "", ""};
  EXPECT_NE(Rvs_PKeyIns(&bad), 0) << "month 13 is no date";
}

TEST_P(DbTest, StatementsArePreparedOnce) {
  ASSERT_EQ(Rcv_PKeyIns(1, "a", "RcvUsr"), 0);
  long prepared = Sql_PrepareCount();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Rcv_PKeyIns(i, "b", "RcvUsr"), 0);
  EXPECT_EQ(Sql_PrepareCount(), prepared);
}

TEST_P(DbTest, FailedConnectThenEveryOperationFails) {
  site->WriteSettings(backend->UnreachableService());
  EXPECT_NE(Db_Connect(), 0);
  EXPECT_EQ(std::string(sqlca.sqlerrm).find("secret"), std::string::npos) << "no password in messages";
  RcvRow r{};
  RvsRow v{"20250101000000", 1, "", "", ""};
  EXPECT_NE(Rcv_PKeyIns(1, "x", "RcvUsr"), 0);
  EXPECT_TRUE(Sql_IsConnectionLost(sqlca.sqlcode));
  EXPECT_NE(Rcv_CurOpen(), 0);
  EXPECT_NE(Rcv_CurFetch(&r), 0);
  EXPECT_NE(Rcv_CurClose(), 0);
  EXPECT_NE(Rcv_PKeyDel(&r), 0);
  EXPECT_EQ(Rcv_Count(), -1);
  EXPECT_NE(Rvs_CurOpen("20250101000000"), 0);
  EXPECT_NE(Rvs_PKeyIns(&v), 0);
  EXPECT_NE(Rvs_PKeyDel(&v), 0);
  Db_Commit();
  EXPECT_NE(sqlca.sqlcode, 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, DbTest, ::testing::ValuesIn(tu::BackendNames()),
                         [](const auto& info) { return info.param; });

// ---- Independent of the backend ----

TEST(ConnectTest, ConnectStringRules) {
  tu::Site site;
  ASSERT_EQ(chdir(site.work.c_str()), 0);
  site.WriteSettings("");
  EXPECT_EQ(Db_Connect(), SQL_BAD_SERVICE) << "empty service name";
  site.WriteSettings("oracle-prod");
  EXPECT_NE(Db_Connect(), 0) << "unknown service name";
  // Over 100 characters the tool refuses to write such a file ...
  std::string out;
  site.Ctl({"settings", "write", "--force", "--user", std::string(40, 'u'), "--password", std::string(21, 'p'),
            "--service", "sqlite:" + std::string(33, 'd')},
           &out);
  EXPECT_NE(out.find("more than 100"), std::string::npos) << out;
  // ... and the service, given one by hand, refuses the connect; exactly 100 is tried.
  auto write = [&](size_t passwordLength) {
    char u[256], p[256], s[256];
    Idea_EncryptText(std::string(40, 'u').c_str(), u, sizeof u, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
    Idea_EncryptText(std::string(passwordLength, 'p').c_str(), p, sizeof p, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
    Idea_EncryptText(("sqlite:" + std::string(33, 'd')).c_str(), s, sizeof s, IDEA_SYSTEM_KEY, IDEA_MODE_DIGITS);
    tu::WriteFile(site.root / "files/velquaris.ini", std::string(";DB;\n1;LOGIN;") + u + "\n;DB;\n2;PASS;" + p +
                                                         "\n;DB;\n3;NET8;" + s + "\n");
  };
  write(21);
  EXPECT_EQ(Db_Connect(), SQL_CONNECT_TOO_LONG);
  write(18);
  EXPECT_EQ(Db_Connect(), SQL_NOT_CONNECTED) << "100 characters: tried, and the file is missing";
  EXPECT_EQ(chdir("/"), 0);
}

TEST(DialectTest, EveryStatementTextTranslates) {
  struct Expect {
    const char* sqlite;
    const char* postgres;
  };
  const Expect expected[] = {
      {"select TO_CHAR(RcvMdt,'yyyymmddHH24MISS') ,RcvLfn ,RcvDta ,RcvEsb  from Quz570Rcv  order by RcvMdt            ",
       "select TO_CHAR(RcvMdt,'yyyymmddHH24MISS') ,RcvLfn ,RcvDta ,RcvEsb  from Quz570Rcv  order by RcvMdt            "},
      {"savepoint Rcv_PKeyIns_Sp", "savepoint Rcv_PKeyIns_Sp"},
      {"insert into Quz570Rcv (RcvLfn,RcvDta,RcvEsb) values (?,?,?)",
       "insert into Quz570Rcv (RcvLfn,RcvDta,RcvEsb) values ($1,$2,$3)"},
      {"rollback  to Rcv_PKeyIns_Sp", "rollback  to Rcv_PKeyIns_Sp"},
      {"savepoint Rcv_PKeyDel_Sp", "savepoint Rcv_PKeyDel_Sp"},
      {"delete  from Quz570Rcv  where (TO_CHAR(RcvMdt,'yyyymmddHH24MISS')=? and RcvLfn=?)",
       "delete  from Quz570Rcv  where (TO_CHAR(RcvMdt,'yyyymmddHH24MISS')=$1 and RcvLfn=$2)"},
      {"rollback  to Rcv_PKeyDel_Sp", "rollback  to Rcv_PKeyDel_Sp"},
      {"select count(*)    from Quz570Rcv ", "select count(*)    from Quz570Rcv "},
      {"select TO_CHAR(RvsMdt,'yyyymmddHH24MISS') ,RvsLfn ,RvsVkz ,RvsDta ,RvsEsb  from Quz571Rvs where "
       "TO_CHAR(RvsMdt,'yyyymmddHH24MISS')<? order by RvsMzt            ",
       "select TO_CHAR(RvsMdt,'yyyymmddHH24MISS') ,RvsLfn ,RvsVkz ,RvsDta ,RvsEsb  from Quz571Rvs where "
       "TO_CHAR(RvsMdt,'yyyymmddHH24MISS')<$1 order by RvsMzt            "},
      {"savepoint Rvs_PKeyIns_Sp", "savepoint Rvs_PKeyIns_Sp"},
      {"insert into Quz571Rvs (RvsMdt,RvsMzt,RvsLfn,RvsVkz,RvsVdt,RvsDta,RvsEsb) values "
       "(TO_DATE(?,'yyyymmddHH24MISS'),TO_DATE(?,'yyyymmddHH24MISS'),?,?,datetime('now','localtime'),?,?)",
       "insert into Quz571Rvs (RvsMdt,RvsMzt,RvsLfn,RvsVkz,RvsVdt,RvsDta,RvsEsb) values "
       "(CAST(to_timestamp($1,'yyyymmddHH24MISS') AS timestamp(0)),CAST(to_timestamp($2,'yyyymmddHH24MISS') AS "
       "timestamp(0)),$3,$4,LOCALTIMESTAMP(0),$5,$6)"},
      {"rollback  to Rvs_PKeyIns_Sp", "rollback  to Rvs_PKeyIns_Sp"},
      {"savepoint Rvs_PKeyDel_Sp", "savepoint Rvs_PKeyDel_Sp"},
      {"delete  from Quz571Rvs  where (TO_CHAR(RvsMdt,'yyyymmddHH24MISS')=? and RvsLfn=?)",
       "delete  from Quz571Rvs  where (TO_CHAR(RvsMdt,'yyyymmddHH24MISS')=$1 and RvsLfn=$2)"},
      {"rollback  to Rvs_PKeyDel_Sp", "rollback  to Rvs_PKeyDel_Sp"},
  };
  const int counts[] = {0, 0, 3, 0, 0, 2, 0, 0, 1, 0, 6, 0, 0, 2, 0};
  int i = 0;
  for (const char* const* text = DbUpl_StatementTexts; *text != nullptr; ++text, ++i) {
    ASSERT_LT(i, 15);
    db::Translated s = db::Translate(*text, db::Dialect::Sqlite);
    db::Translated p = db::Translate(*text, db::Dialect::Postgres);
    db::Translated o = db::Translate(*text, db::Dialect::Oracle);
    EXPECT_EQ(s.sql, expected[i].sqlite);
    EXPECT_EQ(p.sql, expected[i].postgres);
    EXPECT_EQ(o.sql, *text) << "Oracle gets the text as it is";
    EXPECT_EQ(s.placeholders, counts[i]) << *text;
    EXPECT_EQ(p.placeholders, counts[i]) << *text;
  }
  EXPECT_EQ(i, 15);
  // Literals are left alone.
  EXPECT_EQ(db::Translate("select ':b0 sysdate' from t where a=:x", db::Dialect::Sqlite).sql,
            "select ':b0 sysdate' from t where a=?");
  EXPECT_FALSE(db::Translate("select 'open", db::Dialect::Sqlite).ok);
}

}  // namespace
