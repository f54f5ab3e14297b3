// The ODBC link's steps inside a commit: the transaction around the
// postings, the per-line postings to the outside database, the settlement row
// and the statements of the posting context.
//
// Each answers 1 when done, 0 when there is nothing to do, -1 after the
// driver's message. While no link is open there is nothing to do: every step
// answers 0 and the commit runs on the register's own files alone.
//
// Everything a commit writes outside belongs to one transaction of the link:
// when the commit fails it is rolled back whole, so the reposting with which
// the commit undoes its own counters posts nothing outside (a second posting
// would also fail on a database that refuses work after an error).
#include "app/register/engine/reg_com.h"

namespace varnex::reg {

int32_t CRegCom::OdbcBeginTrans() {
  if (!OdbcIsOpen()) return 0;
  if (odbc_.database->BeginTrans()) {
    odbc_.database->inTransaction_ = true;
    return 1;
  }
  ReportOdbcError(nullptr);
  return -1;
}

int32_t CRegCom::OdbcCommit() {
  if (!OdbcIsOpen() || !odbc_.database->inTransaction_) return 0;
  odbc_.database->inTransaction_ = false;
  if (odbc_.database->CommitTrans()) return 1;
  ReportOdbcError(nullptr);
  return -1;
}

int32_t CRegCom::OdbcRollback() {
  if (!OdbcIsOpen() || !odbc_.database->inTransaction_) return 0;
  odbc_.database->inTransaction_ = false;
  if (odbc_.database->Rollback()) return 1;
  ReportOdbcError(nullptr);
  return -1;
}

int32_t CRegCom::OdbcInsertSettlement(OdbcPostContext* context) {
  if (!OdbcIsOpen() || !context) return 0;
  return OdbcPostSettlement(context);
}

int32_t CRegCom::OdbcDropStatements(OdbcPostContext* context) {
  if (!context) return 0;
  int32_t result = 0;
  for (OdbcStmt& statement : context->statements) {
    if (!statement) continue;
    OdbcDrop(&statement);
    result = 1;
  }
  return result;
}

int32_t CRegCom::OdbcLinePoints(const char* customerCode, int32_t points, int32_t reverse) {
  if (!OdbcIsOpen()) return 0;
  return OdbcPostCustomerPoints(customerCode, points, reverse);
}

int32_t CRegCom::OdbcLinePluSale(OdbcPostContext* context, const void* line, int32_t reverse) {
  if (!OdbcIsOpen()) return 0;
  return OdbcPostPluSale(context, line, reverse);
}

int32_t CRegCom::OdbcLineSales(OdbcPostContext* context, const void* line, int32_t reverse) {
  if (!OdbcIsOpen()) return 0;
  return OdbcPostSalesLine(context, line, reverse);
}

}  // namespace varnex::reg
