#include "tests/dbbackends.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#ifdef BRAKMOR_HAVE_POSTGRES
#include <libpq-fe.h>
#endif

#include "db/runtime.h"
#include "sql_scripts.h"
#include "tests/testutil.h"
#include <unistd.h>

namespace tu {

void Backend::RawSql(const std::string& sql) const {
  Sql_ExecuteScript(sql.c_str());
  EXPECT_EQ(sqlca.sqlcode, 0) << sql << ": " << sqlca.sqlerrm;
  Sql_Commit();
}

std::string PgTestPort() {
  const char* dir = getenv("BRAKMOR_PGTEST_DIR");
  std::string port = dir != nullptr ? ReadFile(std::string(dir) + "/port") : "";
  while (!port.empty() && (port.back() == '\n' || port.back() == ' ')) port.pop_back();
  EXPECT_FALSE(port.empty()) << "the test PostgreSQL server is not running (ctest starts it: pg_server_start)";
  return port;
}

PgServer::PgServer() {
  static int counter = 0;
  dir_ = "/tmp/brakmor-pg-own-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  ok_ = Script("start");
  port_ = ReadFile(dir_ + "/port");
  while (!port_.empty() && (port_.back() == '\n' || port_.back() == ' ')) port_.pop_back();
  ok_ = ok_ && !port_.empty();
}

PgServer::~PgServer() {
  Script("stop");
  std::string out;
  Run({"/bin/rm", "-rf", dir_}, &out);
}

bool PgServer::Stop() { return Script("stop"); }
bool PgServer::Resume() { return Script("resume"); }
std::string PgServer::Uri() const { return "postgresql://127.0.0.1:" + port_ + "/postgres"; }

bool PgServer::Script(const char* verb) {
  std::string out;
  int rc = Run({"/bin/bash", BinDir() + "/../tests/pg_server.sh", verb, dir_}, &out);
  EXPECT_EQ(rc, 0) << verb << ": " << out;
  return rc == 0;
}

namespace {

class SqliteBackend : public Backend {
 public:
  std::string Name() const override { return "sqlite"; }
  std::string NewDatabase() const override { return "sqlite:brakmor.db"; }
  std::string UnreachableService() const override { return "sqlite:no/such/dir/brakmor.db"; }
  const char* TablesScript() const override { return kSqliteTables; }
  void InstallRefusal() const override {
    RawSql("CREATE TRIGGER refuse BEFORE INSERT ON Quz570Rcv WHEN NEW.RcvDta = 'poison' "
           "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END;");
  }
  void InstallCommitRefusal() const override {
    RawSql("CREATE TABLE late_parent (id INTEGER PRIMARY KEY); "
           "CREATE TABLE late_child (pid INTEGER REFERENCES late_parent(id) DEFERRABLE INITIALLY DEFERRED); "
           "CREATE TRIGGER late AFTER INSERT ON Quz570Rcv WHEN NEW.RcvDta = 'late' "
           "BEGIN INSERT INTO late_child VALUES (1); END;");
  }
};

#ifdef BRAKMOR_HAVE_POSTGRES
// The test run's own server (tests/pg_server.sh, started by ctest); each
// test gets a database of its own on it.
class PostgresBackend : public Backend {
 public:
  std::string Name() const override { return "postgresql"; }
  std::string NewDatabase() const override {
    std::string port = PgTestPort();
    static int counter = 0;
    std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    std::string admin = "postgresql://postgres@127.0.0.1:" + port + "/postgres";
    PGconn* c = PQconnectdb(admin.c_str());
    EXPECT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
    PGresult* r = PQexec(c, ("DROP DATABASE IF EXISTS " + name).c_str());
    PQclear(r);
    r = PQexec(c, ("CREATE DATABASE " + name + " ENCODING 'UTF8' TEMPLATE template0").c_str());
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
    return "postgresql://127.0.0.1:" + port + "/" + name;
  }
  std::string UnreachableService() const override { return "postgresql://127.0.0.1:1/none"; }
  const char* TablesScript() const override { return kPostgresTables; }
  void InstallRefusal() const override {
    RawSql("CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN IF NEW.RcvDta = 'poison' THEN "
           "RAISE EXCEPTION 'refused by the test'; END IF; RETURN NEW; END $$ LANGUAGE plpgsql; "
           "CREATE TRIGGER refuse BEFORE INSERT ON Quz570Rcv FOR EACH ROW EXECUTE FUNCTION refuse();");
  }
  void InstallCommitRefusal() const override {
    RawSql("CREATE FUNCTION late() RETURNS trigger AS $$ BEGIN IF NEW.RcvDta = 'late' THEN "
           "RAISE EXCEPTION 'refused at commit by the test'; END IF; RETURN NULL; END $$ LANGUAGE plpgsql; "
           "CREATE CONSTRAINT TRIGGER late AFTER INSERT ON Quz570Rcv DEFERRABLE INITIALLY DEFERRED "
           "FOR EACH ROW EXECUTE FUNCTION late();");
  }
};
#endif

std::vector<std::unique_ptr<Backend>>& All() {
  static std::vector<std::unique_ptr<Backend>> all = [] {
    std::vector<std::unique_ptr<Backend>> v;
    v.push_back(std::make_unique<SqliteBackend>());
#ifdef BRAKMOR_HAVE_POSTGRES
    v.push_back(std::make_unique<PostgresBackend>());
#endif
    return v;
  }();
  return all;
}

}  // namespace

std::vector<std::string> BackendNames() {
  std::vector<std::string> names;
  for (const auto& b : All()) names.push_back(b->Name());
  return names;
}

const Backend* FindBackend(const std::string& name) {
  for (const auto& b : All()) {
    if (b->Name() == name) return b.get();
  }
  return nullptr;
}

}  // namespace tu
