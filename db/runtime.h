// The database runtime: one connection per process, statements given as the
// system's own (Oracle) texts, results in the one result area `sqlca`.
//
// Every call sets sqlca.sqlcode: 0 success, anything else failure
// (SQL_NO_DATA at the end of a cursor's rows).  The texts are translated to
// the backend's dialect here, once per text, and prepared once per
// connection.  Transactions begin implicitly with the first change after a
// commit or rollback; a failed statement fails alone, the transaction stays
// usable.
#pragma once

#include <cstddef>
#include <cstdint>

struct Sqlca {
  int32_t sqlcode;
  char sqlerrm[512];  // what the backend said; never holds the login
};
extern Sqlca sqlca;

constexpr int32_t SQL_OK = 0;
constexpr int32_t SQL_NO_DATA = 1403;           // a fetch after the last row
constexpr int32_t SQL_NOT_CONNECTED = -1012;    // no connection (never made, or refused)
constexpr int32_t SQL_CONNECTION_LOST = -3113;  // the connection broke
constexpr int32_t SQL_BAD_SERVICE = -12154;     // empty or unknown service name
constexpr int32_t SQL_CONNECT_TOO_LONG = -12899;  // connect string over 100 characters
constexpr int32_t SQL_BAD_STATEMENT = -900;     // a text the runtime cannot translate
constexpr int32_t SQL_BAD_CURSOR = -1001;       // fetch or close of a cursor not open

// True for the codes after which a new connect is the way back.
bool Sql_IsConnectionLost(int32_t code);

// The connect string: a 16-bit length and at most 100 characters.
struct SqlVarChar {
  uint16_t len;
  char arr[100];
};

enum SqlType { SQL_TYPE_TEXT, SQL_TYPE_INT };

// One bound value.  Text: zero-terminated, `cap` bytes with the terminator;
// inputs are read up to the terminator, outputs come back terminated (cut to
// cap - 1).  Int: an int32_t.  `indicator` (outputs, may be null) becomes -1
// for a NULL column (the value then is "" or 0), else 0.
struct SqlBind {
  SqlType type;
  void* data;
  size_t cap;
  int16_t* indicator;
};

// Connect flags.
constexpr uint32_t SQL_CONNECT_CREATE = 1;  // an embedded database file may be created

// Logs on with "user/password@service".  The service name selects the
// backend: "sqlite:PATH" (user and password unused).  An existing
// connection is closed first.
void Sql_Connect(const SqlVarChar* connect, uint32_t flags);
// Flags added to every later connect (the operator tool's `db init` lets
// Db_Connect create the embedded database file).
void Sql_SetDefaultConnectFlags(uint32_t flags);
// Drops the connection (no commit).
void Sql_Disconnect();
bool Sql_Connected();
// The backend's name, "" when not connected.
const char* Sql_BackendName();

// A change (insert, delete, savepoint, rollback to a savepoint), inputs by
// position: one value per placeholder occurrence.
void Sql_Execute(const char* text, const SqlBind* in, int inCount);
// A single-row query "select ... into :x ..." into the outputs.
void Sql_SelectInto(const char* text, const SqlBind* in, int inCount, const SqlBind* out, int outCount);
// Cursors: a small number of slots, each open on one query at a time.
constexpr int SQL_CURSORS = 4;
void Sql_Open(int cursor, const char* text, const SqlBind* in, int inCount);
void Sql_Fetch(int cursor, const SqlBind* out, int outCount);
void Sql_Close(int cursor);
// A commit that fails is rolled back: nothing of the transaction stays.
void Sql_Commit();
void Sql_Rollback();

// Runs a script of the backend's own dialect (table definitions), untranslated.
void Sql_ExecuteScript(const char* script);

// How many statement texts were prepared on this connection (tests check
// that a statement is prepared once, not per call).
long Sql_PrepareCount();
