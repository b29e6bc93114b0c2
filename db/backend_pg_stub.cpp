// Built when libpq is not available: PostgreSQL service names are refused.
#include "db/backend.h"
#include "db/runtime.h"

namespace db {
std::unique_ptr<Connection> OpenPostgres(const Login&, Status* status) {
  status->code = SQL_BAD_SERVICE;
  status->message = "this build has no PostgreSQL support";
  return nullptr;
}
}  // namespace db
