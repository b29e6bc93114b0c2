// The one small interface behind which each database backend sits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace db {

struct Value {
  bool null = false;
  bool isInt = false;
  int64_t i = 0;
  std::string s;  // bytes, no conversion
};

enum class Dialect { Sqlite, Postgres, Oracle };

// A result code as the runtime reports it: 0, SQL_NO_DATA, or a negative
// code with a message; `lost` when the connection is gone.
struct Status {
  int32_t code = 0;
  std::string message;
  bool lost = false;
  static Status Ok() { return Status{}; }
};

class Cursor {
 public:
  virtual ~Cursor() = default;
  // One row into `row`; SQL_NO_DATA after the last.
  virtual Status Next(std::vector<Value>* row) = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;
  virtual const char* Name() const = 0;
  virtual Dialect dialect() const = 0;
  // `sql` is in the backend's dialect, with placeholders numbered by
  // occurrence; each text is prepared once and kept.
  virtual Status Execute(const std::string& sql, const std::vector<Value>& in) = 0;
  virtual Status Query(const std::string& sql, const std::vector<Value>& in, std::unique_ptr<Cursor>* out) = 0;
  virtual Status Begin() = 0;
  virtual Status Commit() = 0;
  virtual Status Rollback() = 0;
  virtual bool InTransaction() = 0;
  virtual Status ExecuteScript(const std::string& script) = 0;
  virtual long PrepareCount() const = 0;
};

struct Login {
  std::string user;
  std::string password;
  std::string service;  // what follows the scheme's ":" for sqlite
  bool create = false;
};

// Backend factories; each returns null with a status when it cannot connect.
std::unique_ptr<Connection> OpenSqlite(const Login& login, Status* status);
std::unique_ptr<Connection> OpenPostgres(const Login& login, Status* status);

}  // namespace db
