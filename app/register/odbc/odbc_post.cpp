// Posting a committed transaction to the outside database: points, PLU
// totals and stock (with the reorder row), sales lines and the day's
// settlement row; and the list display order of a PLU item.
//
// Counters are moved with "SET c = COALESCE(c, 0) + ?" inside the commit's
// transaction, so registers sharing the database never lose each other's
// additions; a row is looked up first only to know whether it exists (and,
// for the reorder, the stock it has).
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/register/engine/reg_com.h"

namespace varnex::reg {

namespace {

constexpr int kCustomerSlot = 0, kPluSlot = 1, kOrderSlot = 2, kSalesSlot = 3, kSettlementSlot = 4;
using platform::odbc::Statement;

// Order-code block: orderer number, supplier code, order status, default
// lead days, store id.
constexpr size_t kOrdererAt = 34, kSupplierAt = 36, kStatusAt = 50, kLeadDaysAt = 52, kStoreAt = 54;
// The current clerk's number in the manager's record.
constexpr size_t kClerkNumberAt = 24;

bool lineSkipsLink(const void* line) { return (getU16(line, line::kFlags) & (line::kCcts | line::kClct)) != 0; }

// A statement of the context, allocated on first use.
bool ensure(OdbcStmt& statement, CDatabase& database) {
  if (!statement) statement = Statement::allocate(database.Connection()).release();
  return statement != nullptr;
}

}  // namespace

int32_t CRegCom::OdbcPostCustomerPoints(const char* code, int32_t delta, int32_t reverse) {
  const OdbcKindMap& map = odbc_.kinds[kCustomerSlot];
  if (map.count == 0 || odbc_.pointsLinked == 0 || delta == 0) return 0;
  if (!OdbcIsOpen()) return -1;
  if (!code || !*code) return 0;
  // The customer is read by its exact code: a prefix would find "120" for "12".
  OdbcStmt statement = Statement::allocate(odbc_.database->Connection()).release();
  if (!statement || !statement->bindText(1, 0, 0, code)) {
    ReportOdbcError(&statement);
    return -1;
  }
  if (odbcExecute(&statement, map.select + "?") != 0) return -1;
  const auto fetched = statement->fetch();
  if (fetched == Statement::Fetch::Error) {
    ReportOdbcError(&statement);
    return -1;
  }
  if (fetched == Statement::Fetch::End) {
    OdbcDrop(&statement);
    return 0;
  }
  if (!statement->close()) {
    ReportOdbcError(&statement);
    return -1;
  }
  uint8_t record[odbcmap::kCustomerBufferLen] = {};
  putI32(record, 172, reverse ? -delta : delta);
  const OdbcField field{172, 4, 0, 7};
  std::string text;
  const int32_t n = BuildLinkUpdate(odbclink::kCustomers, &text, 1, &field, record, &statement, nullptr, 1);
  if (n < 0) {
    OdbcDrop(&statement);
    return -1;
  }
  if (n > 0) {
    if (!statement->bindText(n + 1, 0, 0, code)) {
      ReportOdbcError(&statement);
      return -1;
    }
    if (odbcExecute(&statement, text + "?") != 0) return -1;
  }
  OdbcDrop(&statement);
  return 1;
}

int32_t CRegCom::OdbcPostPluSale(OdbcPostContext* context, const void* line, int32_t reverse) {
  if (odbc_.kinds[kPluSlot].count == 0 || !line || lineSkipsLink(line)) return 0;
  if (!OdbcIsOpen() || !context) return -1;
  const std::string code = getText(line, line::kCode, line::kCodeLen);
  uint8_t item[odbcmap::kPluBufferLen];
  const int32_t found = OdbcSelectPlu(code.c_str(), item);
  if (found != 1) return found;

  const int32_t q = getI32(line, line::kUnit), amount = getI32(line, line::kPrice), cost = getI32(line, line::kUnitNet);
  const int32_t u = getI32(item, 92), s = getI32(item, 100), b = getI32(item, 96);
  const int64_t n = static_cast<int64_t>(q) * u;
  const bool shortage = !reverse && s >= 0 && s < n;
  const bool reorder = !reverse && b != 0 && u != 0 && s >= 1 && s >= b && s < n + b;
  const uint8_t* block = orderBlock_;
  const uint16_t orderer = getU16(block, kOrdererAt);
  const std::string supplier = getText(block, kSupplierAt, 14);

  // The changes to write: counters as additions, state texts as values.
  uint8_t change[odbcmap::kPluBufferLen] = {};
  OdbcField fields[8];
  int32_t count = 0;
  uint32_t additive = 0;
  auto add = [&](uint16_t offset, int32_t value) {
    putI32(change, offset, value);
    additive |= 1u << count;
    fields[count++] = {offset, 4, 0, 7};
  };

  bool ordered = false;
  int32_t orderQuantity = 0;
  if (reorder && !(odbc_.orderFlags & 0x0002) && odbc_.kinds[kOrderSlot].count > 0) {
    uint8_t order[odbcmap::kOrderBufferLen] = {};
    const std::time_t now = std::time(nullptr);
    putU32(order, 4, orderer);
    putU32(order, 8, getU16(block, kStatusAt));
    platform::odbc::Timestamp ts;
    MakeSqlTimestamp(&ts, now, 0);
    std::memcpy(order + 12, &ts, sizeof ts);
    putText(order, 28, 14, supplier);
    putText(order, 42, 14, getText(item, 36, 14));
    const double unitPrice = static_cast<double>(getU32(item, 60)) / (u > 1 ? u : 1);
    std::memcpy(order + 96, &unitPrice, 8);
    int32_t days = getI32(item, 116);
    if (days == 0) days = getU16(block, kLeadDaysAt);
    MakeSqlTimestamp(&ts, now + static_cast<int64_t>(days) * 24 * 3600, 0);
    std::memcpy(order + 112, &ts, sizeof ts);
    // Enough whole order units to bring the stock back to its proper level.
    const int64_t shortfall = n - s + getI32(item, 104);
    const int32_t w = getI32(item, 120);
    const int64_t v = w > 1 ? w : 1;
    int64_t k = shortfall / v;
    if (w > 1 && shortfall % w != 0) k += 1;
    int64_t quantity = v * k;
    if (quantity < getI32(item, 108)) quantity = getI32(item, 108);
    orderQuantity = static_cast<int32_t>(quantity);
    putI32(order, 92, orderQuantity);
    static const OdbcField kOrderFields[] = {{4, 4, 0, 4},   {8, 4, 0, 4},   {12, 16, 0, 14}, {28, 14, 0, 0},
                                             {42, 14, 0, 0}, {92, 4, 0, 7}, {96, 8, 0, 8},   {112, 16, 0, 14}};
    OdbcStmt statement = static_cast<OdbcStmt>(context->statements[1]);
    if (!ensure(statement, *odbc_.database)) {
      ReportOdbcError(&statement);
      context->statements[1] = nullptr;
      return -1;
    }
    std::string text;
    const int32_t bound = BuildLinkInsert(odbclink::kOrders, &text, 8, kOrderFields, order, &statement, nullptr);
    context->statements[1] = statement;
    if (bound < 0) return -1;
    if (bound > 0) {
      if (odbcExecute(&statement, text) != 0 || !statement->close()) {
        if (statement) ReportOdbcError(&statement);
        context->statements[1] = nullptr;
        return -1;
      }
      ordered = true;
    }
  }

  const int32_t g = reverse ? -1 : 1;
  add(64, q * g);
  add(68, amount * g);
  const bool costed = q != 0 && cost != 0;
  add(72, costed ? cost * q * g : 0);
  add(76, costed ? amount * g : 0);
  add(100, static_cast<int32_t>(-n * g));
  if (ordered) add(112, orderQuantity);
  char number[16];
  std::snprintf(number, sizeof number, "%04u", static_cast<unsigned>(orderer));
  if (shortage) {
    putText(change, 124, 14, orderer ? std::string(number) : std::string("在庫数異常"));
    fields[count++] = {124, 14, 0, 0};
  }
  if (reorder) {
    std::string state = orderer ? number : "";
    if (!supplier.empty()) state += (orderer ? "," : "") + supplier;
    putText(change, 138, 14, state);
    fields[count++] = {138, 14, 0, 0};
  }

  OdbcStmt statement = static_cast<OdbcStmt>(context->statements[0]);
  if (!ensure(statement, *odbc_.database)) {
    ReportOdbcError(&statement);
    context->statements[0] = nullptr;
    return -1;
  }
  std::string text;
  const int32_t bound =
      BuildLinkUpdate(odbclink::kPlu, &text, count, fields, change, &statement, nullptr, additive);
  context->statements[0] = statement;
  if (bound < 0) return -1;
  if (bound > 0) {
    if (!statement->bindText(bound + 1, 0, 0, code) || !statement->execute(text + "?") || !statement->close()) {
      ReportOdbcError(&statement);
      context->statements[0] = nullptr;
      return -1;
    }
  }
  return 1;
}

int32_t CRegCom::OdbcPostSalesLine(OdbcPostContext* context, const void* line, int32_t reverse) {
  if (odbc_.kinds[kSalesSlot].count == 0 || !line || lineSkipsLink(line)) return 0;
  if (!OdbcIsOpen() || !context) return -1;
  const int32_t g = reverse ? -1 : 1;
  const int32_t q = getI32(line, line::kUnit), cost = getI32(line, line::kUnitNet);
  uint8_t sale[odbcmap::kSalesBufferLen] = {};
  platform::odbc::Timestamp ts;
  MakeSqlTimestamp(&ts, std::time(nullptr), 1);
  std::memcpy(sale, &ts, sizeof ts);
  putU32(sale, 32, getU32(orderBlock_, kStoreAt));
  putU16(sale, 36, manager_ ? getU16(manager_, kClerkNumberAt) : 0);
  putU16(sale, 38, keyNumber(getU16(line, line::kKeyCode)));
  std::memcpy(sale + 40, context->customerCode, 32);
  std::memcpy(sale + 72, static_cast<const uint8_t*>(line) + line::kDisplayName, line::kDisplayNameLen);
  std::memcpy(sale + 104, static_cast<const uint8_t*>(line) + line::kCode, line::kCodeLen);
  std::memcpy(sale + 118, static_cast<const uint8_t*>(line) + line::kSubCode, line::kSubCodeLen);
  const uint16_t flags = getU16(line, line::kFlags);
  sale[132] = (flags & line::kInnerTax) ? 1 : 0;
  sale[133] = (flags & line::kNonTaxable) ? 1 : 0;
  sale[134] = (flags & line::kTaxExempt) ? 1 : 0;
  sale[135] = (flags & line::kNoSpecialTax) ? 1 : 0;
  putI32(sale, 136, q * g);
  putI32(sale, 140, getI32(line, line::kUnitPrice));
  putI32(sale, 144, getI32(line, line::kPrice) * g);
  const double unitCost = q != 0 && cost != 0 ? static_cast<double>(cost) : 0.0;
  std::memcpy(sale + 148, &unitCost, 8);
  static const OdbcField kFields[] = {{0, 16, 0, 14},  {32, 4, 0, 4},   {36, 2, 0, 4},   {38, 2, 0, 4},
                                      {40, 32, 0, 0},  {72, 32, 0, 0},  {104, 14, 0, 0}, {118, 14, 0, 0},
                                      {132, 1, 0, 4},  {133, 1, 0, 4},  {134, 1, 0, 4},  {135, 1, 0, 4},
                                      {136, 4, 0, 7},  {140, 4, 0, 7},  {144, 4, 0, 7},  {148, 8, 0, 8}};
  OdbcStmt statement = static_cast<OdbcStmt>(context->statements[2]);
  if (!ensure(statement, *odbc_.database)) {
    ReportOdbcError(&statement);
    context->statements[2] = nullptr;
    return -1;
  }
  std::string text;
  const int32_t bound = BuildLinkInsert(odbclink::kSalesLines, &text, 16, kFields, sale, &statement, nullptr);
  context->statements[2] = statement;
  if (bound < 0) return -1;
  if (bound == 0) return 1;
  if (!statement->execute(text) || !statement->close()) {
    ReportOdbcError(&statement);
    context->statements[2] = nullptr;
    return -1;
  }
  return 1;
}

int32_t CRegCom::OdbcPostSettlement(OdbcPostContext* context) {
  const std::time_t now = std::time(nullptr);
  if (odbc_.kinds[kSettlementSlot].count == 0) return 0;
  if (!OdbcIsOpen() || !context) return -1;
  uint8_t row[odbcmap::kSettlementBufferLen] = {};
  OdbcStmt statement = static_cast<OdbcStmt>(context->statements[3]);
  auto failed = [&]() {
    ReportOdbcError(&statement);
    context->statements[3] = nullptr;
    return -1;
  };
  if (!ensure(statement, *odbc_.database)) return failed();
  context->statements[3] = statement;

  // Today's row of this store: the window of today's local date and the
  // store id, both as parameters.
  const char* dateColumn = GetLinkColumnName(0, odbclink::kSettlement);
  const char* storeColumn = GetLinkColumnName(32, odbclink::kSettlement);
  const uint32_t store = getU32(orderBlock_, kStoreAt);
  platform::odbc::Timestamp from, to;
  MakeSqlTimestamp(&from, now, 0);
  to = from;
  to.hour = 23;
  to.minute = 59;
  to.second = 59;
  std::string window;
  if (dateColumn || storeColumn) {
    window = " WHERE (";
    if (dateColumn) window += "(" + quoteColumn(dateColumn) + " BETWEEN ? AND ?)";
    if (dateColumn && storeColumn) window += " AND ";
    if (storeColumn) window += "(" + quoteColumn(storeColumn) + " = ?)";
    window += ")";
  }
  auto bindWindow = [&](int first) {
    int n = first;
    if (dateColumn && (!statement->bindValue(n++, platform::odbc::CType::Timestamp, platform::odbc::kSqlTimestamp, 19, &from) ||
                       !statement->bindValue(n++, platform::odbc::CType::Timestamp, platform::odbc::kSqlTimestamp, 19, &to)))
      return false;
    if (storeColumn && !statement->bindValue(n, platform::odbc::CType::UInt32, platform::odbc::kSqlInteger, 10, &store))
      return false;
    return true;
  };
  int32_t rows = 0;
  if (!window.empty()) {
    if (!bindWindow(1) || !statement->execute(odbc_.kinds[kSettlementSlot].select + window)) return failed();
    for (;;) {
      const auto fetched = statement->fetch();
      if (fetched == Statement::Fetch::End) break;
      if (fetched == Statement::Fetch::Error) return failed();
      ++rows;
    }
    if (!statement->close()) return failed();
  }

  platform::odbc::Timestamp ts;
  MakeSqlTimestamp(&ts, now, 1);
  std::memcpy(row, &ts, sizeof ts);
  putU32(row, 32, store);
  putU16(row, 36, static_cast<uint16_t>(context->sectionPrice));
  putU16(row, 38, manager_ ? getU16(manager_, kClerkNumberAt) : 0);
  OdbcField fields[18] = {{0, 16, 0, 14}, {32, 4, 0, 4}, {36, 2, 0, 4}, {38, 2, 0, 4}};
  uint32_t additive = 0;
  for (int i = 0; i < 14; ++i) {
    putI32(row, 40 + 4 * i, context->sums[i]);
    fields[4 + i] = {static_cast<uint16_t>(40 + 4 * i), 4, 0, 7};
    additive |= 1u << (4 + i);
  }
  std::string text;
  int32_t bound;
  // Exactly one row of today: this transaction is added to it. None, or
  // several (two registers that both began the day), get a row of this
  // transaction's own, so no total is counted twice.
  if (rows == 1) {
    bound = BuildLinkUpdate(odbclink::kSettlement, &text, 18, fields, row, &statement, nullptr, additive);
    if (bound > 0) {
      text += window;
      if (!bindWindow(bound + 1)) return failed();
    }
  } else {
    bound = BuildLinkInsert(odbclink::kSettlement, &text, 18, fields, row, &statement, nullptr);
  }
  context->statements[3] = statement;
  if (bound < 0) return -1;
  if (bound > 0 && (!statement->execute(text) || !statement->close())) return failed();
  return 1;
}

int32_t CRegCom::OdbcExecText(OdbcStmt* statement, const void* plu) {
  if (odbc_.kinds[kPluSlot].count == 0) return 0;
  if (!OdbcIsOpen() || !statement || !plu) return -1;
  const std::string code = getText(plu, plu::kCode.offset, plu::kCode.size);
  if (code.empty()) return -1;
  uint8_t record[odbcmap::kPluBufferLen] = {};
  std::memcpy(record, plu, kTables[kPluTable].recordLen);
  if (!*statement) *statement = Statement::allocate(odbc_.database->Connection()).release();
  if (!*statement) {
    ReportOdbcError(statement);
    return -1;
  }
  const OdbcField field{54, 2, 0, 4};
  std::string text;
  const int32_t bound = BuildLinkUpdate(odbclink::kPlu, &text, 1, &field, record, statement, nullptr);
  if (bound < 0) return -1;
  if (bound > 0) {
    if (!(*statement)->bindText(bound + 1, 0, 0, code) || !(*statement)->execute(text + "?")) {
      ReportOdbcError(statement);
      return -1;
    }
  }
  if (!(*statement)->close()) {
    ReportOdbcError(statement);
    return -1;
  }
  return 1;
}

}  // namespace varnex::reg
