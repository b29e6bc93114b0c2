// Translation of the system's Oracle statement texts into a backend's dialect.
#pragma once

#include <string>

#include "db/backend.h"

namespace db {

struct Translated {
  std::string sql;
  int placeholders = 0;  // occurrences, each bound to its own value
  bool ok = true;
  std::string error;
};

// Outside quoted literals: "into :x" of a single-row query is dropped (its
// outputs are bound instead); each placeholder ":name" becomes "?" (SQLite)
// or "$n" by occurrence (PostgreSQL); "sysdate" becomes the database's local
// time to the second; TO_DATE(x, fmt) becomes a timestamp for PostgreSQL.
// TO_CHAR passes unchanged: PostgreSQL has it, and the SQLite backend
// defines TO_CHAR and TO_DATE for the one format the system uses.  For
// Oracle the text passes as it is, placeholders included.
Translated Translate(const std::string& oracle, Dialect dialect);

}  // namespace db
