// The statements against the receive table Quz570Rcv and the second table
// Quz571Rvs.  Every result is an sqlcode (0 success).  Each insert and delete
// is its own committed transaction; a refused one is rolled back to its
// savepoint and leaves nothing behind.  A change whose commit fails returns
// the commit's code: 0 always means committed.  Not reentrant: one thread only.
#pragma once

#include <cstdint>

struct RcvRow {
  char RcvMdt[15];   // "yyyymmddHH24MISS"
  int32_t RcvLfn;
  char RcvDta[513];
  char RcvEsb[9];
};

struct RvsRow {
  char RvsMdt[15];
  int32_t RvsLfn;
  char RvsVkz[4];
  char RvsDta[513];
  char RvsEsb[9];
};

// Cursor over all receive rows, ordered by RcvMdt.  A NULL column is fetched
// as "" or 0.  A fetch fills the row only when it returns 0.
int32_t Rcv_CurOpen();
int32_t Rcv_CurFetch(RcvRow* row);
int32_t Rcv_CurClose();
// Inserts one row (RcvMdt set by the table) and commits it.
int32_t Rcv_PKeyIns(int32_t lfn, const char* dta, const char* esb);
// Deletes the rows whose RcvMdt (14 digits) and RcvLfn equal the row's.
int32_t Rcv_PKeyDel(const RcvRow* row);
// The number of rows; -1 when the count fails (the code is in sqlca).
int32_t Rcv_Count();

// Cursor over the rows whose RvsMdt is older than `bound` (14 digits),
// ordered by RvsMzt.
int32_t Rvs_CurOpen(const char* bound);
int32_t Rvs_CurFetch(RvsRow* row);
int32_t Rvs_CurClose();
// Inserts one row: RvsMdt and RvsMzt from row->RvsMdt, RvsVdt the database's time.
int32_t Rvs_PKeyIns(const RvsRow* row);
int32_t Rvs_PKeyDel(const RvsRow* row);
