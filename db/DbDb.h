// The database session: the one connection of the process.
#pragma once

#include <cstdint>

// Reads the login (Ini_GetDbLogin), joins "user/password@service" and
// connects.  Returns sqlcode: 0 on success; SQL_CONNECT_TOO_LONG, without
// any connect attempt, when the joined string exceeds 100 characters.
int32_t Db_Connect();
// Commit and rollback of the current transaction; the outcome is in sqlca.
void Db_Commit();
void Db_Rollback();
