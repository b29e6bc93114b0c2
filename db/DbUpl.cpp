#include "db/DbUpl.h"

#include <cstring>

#include "db/runtime.h"

namespace {

// The statements, as the system issues them.
const char kRcvCursor[] =
    "select TO_CHAR(RcvMdt,'yyyymmddHH24MISS') ,RcvLfn ,RcvDta ,RcvEsb  from Quz570Rcv  order by RcvMdt            ";
const char kRcvInsSp[] = "savepoint Rcv_PKeyIns_Sp";
const char kRcvIns[] = "insert into Quz570Rcv (RcvLfn,RcvDta,RcvEsb) values (:b0,:b1,:b2)";
const char kRcvInsUndo[] = "rollback  to Rcv_PKeyIns_Sp";
const char kRcvDelSp[] = "savepoint Rcv_PKeyDel_Sp";
const char kRcvDel[] = "delete  from Quz570Rcv  where (TO_CHAR(RcvMdt,'yyyymmddHH24MISS')=:b0 and RcvLfn=:b1)";
const char kRcvDelUndo[] = "rollback  to Rcv_PKeyDel_Sp";
const char kRcvCount[] = "select count(*)  into :b0  from Quz570Rcv ";

const char kRvsCursor[] =
    "select TO_CHAR(RvsMdt,'yyyymmddHH24MISS') ,RvsLfn ,RvsVkz ,RvsDta ,RvsEsb  from Quz571Rvs where "
    "TO_CHAR(RvsMdt,'yyyymmddHH24MISS')<:b0 order by RvsMzt            ";
const char kRvsInsSp[] = "savepoint Rvs_PKeyIns_Sp";
const char kRvsIns[] =
    "insert into Quz571Rvs (RvsMdt,RvsMzt,RvsLfn,RvsVkz,RvsVdt,RvsDta,RvsEsb) values "
    "(TO_DATE(:b0,'yyyymmddHH24MISS'),TO_DATE(:b0,'yyyymmddHH24MISS'),:b2,:b3,sysdate,:b4,:b5)";
const char kRvsInsUndo[] = "rollback  to Rvs_PKeyIns_Sp";
const char kRvsDelSp[] = "savepoint Rvs_PKeyDel_Sp";
const char kRvsDel[] = "delete  from Quz571Rvs  where (TO_CHAR(RvsMdt,'yyyymmddHH24MISS')=:b0 and RvsLfn=:b1)";
const char kRvsDelUndo[] = "rollback  to Rvs_PKeyDel_Sp";

static_assert(sizeof kRcvCursor - 1 == 110, "the receive cursor text is 110 characters");
static_assert(sizeof kRvsCursor - 1 == 162, "the second cursor text is 162 characters");

constexpr int kRcvCursorSlot = 0;
constexpr int kRvsCursorSlot = 1;

// The shared bind buffers, each as wide as the field it carries.
char DbMdt[15];
int32_t DbInt;
char DbDta[513];
char DbEsb[9];
char DbVkz[4];
int16_t DbInd[5];

// Bounded copy into a bind buffer: the callers keep within the lengths, but
// a longer text is cut rather than written past the buffer.
template <size_t N>
void Put(char (&dst)[N], const char* src) {
  size_t n = strnlen(src == nullptr ? "" : src, N - 1);
  memcpy(dst, src == nullptr ? "" : src, n);
  dst[n] = '\0';
}

template <size_t N>
SqlBind Text(char (&buf)[N], int16_t* ind = nullptr) {
  return SqlBind{SQL_TYPE_TEXT, buf, N, ind};
}
SqlBind Int(int16_t* ind = nullptr) { return SqlBind{SQL_TYPE_INT, &DbInt, sizeof DbInt, ind}; }

// Savepoint, change, then commit or roll back to the savepoint; the result
// is the change's, or the commit's when the commit fails: a change that was
// not committed must never be reported as done, or its record would be
// marked and lost.
int32_t Change(const char* savepoint, const char* change, const SqlBind* in, int n, const char* undo) {
  Sql_Execute(savepoint, nullptr, 0);  // a failing savepoint does not stop the change
  Sql_Execute(change, in, n);
  int32_t result = sqlca.sqlcode;
  if (result == 0) {
    Sql_Commit();
    result = sqlca.sqlcode;
  } else if (!Sql_IsConnectionLost(result)) {
    Sql_Execute(undo, nullptr, 0);
  }
  return result;
}

}  // namespace

int32_t Rcv_CurOpen() {
  Sql_Open(kRcvCursorSlot, kRcvCursor, nullptr, 0);
  return sqlca.sqlcode;
}

int32_t Rcv_CurFetch(RcvRow* row) {
  SqlBind out[] = {Text(DbMdt, &DbInd[0]), Int(&DbInd[1]), Text(DbDta, &DbInd[2]), Text(DbEsb, &DbInd[3])};
  Sql_Fetch(kRcvCursorSlot, out, 4);
  if (sqlca.sqlcode != 0) return sqlca.sqlcode;
  Put(row->RcvMdt, DbMdt);
  row->RcvLfn = DbInt;
  Put(row->RcvDta, DbDta);
  Put(row->RcvEsb, DbEsb);
  return 0;
}

int32_t Rcv_CurClose() {
  Sql_Close(kRcvCursorSlot);
  return sqlca.sqlcode;
}

int32_t Rcv_PKeyIns(int32_t lfn, const char* dta, const char* esb) {
  DbInt = lfn;
  Put(DbDta, dta);
  Put(DbEsb, esb);
  SqlBind in[] = {Int(), Text(DbDta), Text(DbEsb)};
  return Change(kRcvInsSp, kRcvIns, in, 3, kRcvInsUndo);
}

int32_t Rcv_PKeyDel(const RcvRow* row) {
  Put(DbMdt, row->RcvMdt);
  DbInt = row->RcvLfn;
  SqlBind in[] = {Text(DbMdt), Int()};
  return Change(kRcvDelSp, kRcvDel, in, 2, kRcvDelUndo);
}

int32_t Rcv_Count() {
  DbInt = 0;
  SqlBind out[] = {Int(&DbInd[0])};
  Sql_SelectInto(kRcvCount, nullptr, 0, out, 1);
  return sqlca.sqlcode == 0 ? DbInt : -1;
}

int32_t Rvs_CurOpen(const char* bound) {
  Put(DbMdt, bound);
  SqlBind in[] = {Text(DbMdt)};
  Sql_Open(kRvsCursorSlot, kRvsCursor, in, 1);
  return sqlca.sqlcode;
}

int32_t Rvs_CurFetch(RvsRow* row) {
  SqlBind out[] = {Text(DbMdt, &DbInd[0]), Int(&DbInd[1]), Text(DbVkz, &DbInd[2]), Text(DbDta, &DbInd[3]),
                   Text(DbEsb, &DbInd[4])};
  Sql_Fetch(kRvsCursorSlot, out, 5);
  if (sqlca.sqlcode != 0) return sqlca.sqlcode;
  Put(row->RvsMdt, DbMdt);
  row->RvsLfn = DbInt;
  Put(row->RvsVkz, DbVkz);
  Put(row->RvsDta, DbDta);
  Put(row->RvsEsb, DbEsb);
  return 0;
}

int32_t Rvs_CurClose() {
  Sql_Close(kRvsCursorSlot);
  return sqlca.sqlcode;
}

int32_t Rvs_PKeyIns(const RvsRow* row) {
  Put(DbMdt, row->RvsMdt);
  DbInt = row->RvsLfn;
  Put(DbVkz, row->RvsVkz);
  Put(DbDta, row->RvsDta);
  Put(DbEsb, row->RvsEsb);
  SqlBind in[] = {Text(DbMdt), Text(DbMdt), Int(), Text(DbVkz), Text(DbDta), Text(DbEsb)};
  return Change(kRvsInsSp, kRvsIns, in, 6, kRvsInsUndo);
}

int32_t Rvs_PKeyDel(const RvsRow* row) {
  Put(DbMdt, row->RvsMdt);
  DbInt = row->RvsLfn;
  SqlBind in[] = {Text(DbMdt), Int()};
  return Change(kRvsDelSp, kRvsDel, in, 2, kRvsDelUndo);
}

// For tests of the translation: every statement text of the module.
extern const char* const DbUpl_StatementTexts[];
const char* const DbUpl_StatementTexts[] = {kRcvCursor, kRcvInsSp, kRcvIns, kRcvInsUndo, kRcvDelSp, kRcvDel,
                                            kRcvDelUndo, kRcvCount, kRvsCursor, kRvsInsSp, kRvsIns, kRvsInsUndo,
                                            kRvsDelSp, kRvsDel, kRvsDelUndo, nullptr};
