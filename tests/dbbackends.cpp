#include "tests/dbbackends.h"

#include <gtest/gtest.h>

#include <memory>

#include "db/runtime.h"
#include "sql_scripts.h"

namespace tu {

void Backend::RawSql(const std::string& sql) const {
  Sql_ExecuteScript(sql.c_str());
  EXPECT_EQ(sqlca.sqlcode, 0) << sql << ": " << sqlca.sqlerrm;
  Sql_Commit();
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
};

std::vector<std::unique_ptr<Backend>>& All() {
  static std::vector<std::unique_ptr<Backend>> all = [] {
    std::vector<std::unique_ptr<Backend>> v;
    v.push_back(std::make_unique<SqliteBackend>());
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
