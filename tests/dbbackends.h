// The database backends the table tests run on.
#pragma once

#include <string>
#include <vector>

namespace tu {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::string Name() const = 0;
  // A service name for a new, empty database (relative to a site's working directory).
  virtual std::string NewDatabase() const = 0;
  // A service name whose connect fails.
  virtual std::string UnreachableService() const = 0;
  virtual const char* TablesScript() const = 0;
  // Makes the connected database refuse an insert whose RcvDta is "poison".
  virtual void InstallRefusal() const = 0;
  // Runs SQL of the backend's own dialect on the runtime's connection.
  void RawSql(const std::string& sql) const;
};

// The port of the test run's PostgreSQL server (a failure when there is none).
std::string PgTestPort();

// The names of the backends available on this machine.
std::vector<std::string> BackendNames();
const Backend* FindBackend(const std::string& name);

}  // namespace tu
