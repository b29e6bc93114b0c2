# Writes the table scripts into a header, so that brakmorctl carries them.
file(READ ${SRC}/sqlite.sql SQLITE_SQL)
set(PG_SQL "")
if(EXISTS ${SRC}/postgresql.sql)
  file(READ ${SRC}/postgresql.sql PG_SQL)
endif()
file(WRITE ${OUT}.tmp "// Generated from sql/*.sql.\n#pragma once\n"
  "static const char kSqliteTables[] = R\"BRAKMORSQL(${SQLITE_SQL})BRAKMORSQL\";\n"
  "static const char kPostgresTables[] = R\"BRAKMORSQL(${PG_SQL})BRAKMORSQL\";\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
