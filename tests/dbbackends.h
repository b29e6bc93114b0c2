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
  // Makes the database accept an insert whose RcvDta is "late" but refuse
  // its commit (a deferred constraint).
  virtual void InstallCommitRefusal() const = 0;
  // Runs SQL of the backend's own dialect on the runtime's connection.
  void RawSql(const std::string& sql) const;
};

// The port of the test run's PostgreSQL server (a failure when there is none).
std::string PgTestPort();

// A PostgreSQL server of a test's own (one that the test may stop and start).
class PgServer {
 public:
  PgServer();   // started; check ok()
  ~PgServer();  // stopped and removed
  bool ok() const { return ok_; }
  bool Stop();
  bool Resume();
  // A URI for the database "postgres" of this server.
  std::string Uri() const;

 private:
  bool Script(const char* verb);
  std::string dir_;
  std::string port_;
  bool ok_ = false;
};

// The names of the backends available on this machine.
std::vector<std::string> BackendNames();
const Backend* FindBackend(const std::string& name);

}  // namespace tu
