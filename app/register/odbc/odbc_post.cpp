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
#include <iterator>

#include "app/register/engine/reg_com.h"

namespace varnex::reg {

namespace {

constexpr int kCustomerSlot = 0, kPluSlot = 1, kOrderSlot = 2, kSalesSlot = 3, kSettlementSlot = 4;
using platform::odbc::Statement;

// Field values of the described places.
int32_t i32(const void* buffer, const FieldPlace& f) { return getI32(buffer, f.offset); }
void put(void* buffer, const FieldPlace& f, int32_t value) { putI32(buffer, f.offset, value); }
void put(void* buffer, const FieldPlace& f, double value) {
  std::memcpy(static_cast<uint8_t*>(buffer) + f.offset, &value, sizeof value);
}
void put(void* buffer, const FieldPlace& f, const platform::odbc::Timestamp& value) {
  std::memcpy(static_cast<uint8_t*>(buffer) + f.offset, &value, sizeof value);
}

bool lineSkipsLink(const void* line) { return (getU16(line, line::kFlags) & (line::kCcts | line::kClct)) != 0; }

// A statement of the context, allocated on first use.
bool ensure(OdbcStmt& statement, CDatabase& database) {
  if (!statement) statement = Statement::allocate(database.Connection());
  return statement != nullptr;
}

}  // namespace

int32_t CRegCom::OdbcPostCustomerPoints(const char* code, int32_t delta, int32_t reverse) {
  const OdbcKindMap& map = odbc_.kinds[kCustomerSlot];
  if (map.count == 0 || odbc_.pointsLinked == 0 || delta == 0) return 0;
  if (!OdbcIsOpen()) return -1;
  if (!code || !*code) return 0;
  // The customer is read by its exact code: a prefix would find "120" for "12".
  OdbcStmt statement = Statement::allocate(odbc_.database->Connection());
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
  uint8_t record[odbccustomer::kLen] = {};
  put(record, odbccustomer::kPointBalance, reverse ? -delta : delta);
  const OdbcField field = linkField(odbccustomer::kPointBalance);
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
  uint8_t item[odbcplu::kLen];
  const int32_t found = OdbcSelectPlu(code.c_str(), item);
  if (found != 1) return found;

  const int32_t q = getI32(line, line::kUnit), amount = getI32(line, line::kPrice), cost = getI32(line, line::kUnitNet);
  const int32_t u = i32(item, odbcplu::kSaleUnit), s = i32(item, odbcplu::kStock), b = i32(item, odbcplu::kBaseStock);
  const int64_t n = static_cast<int64_t>(q) * u;
  const bool shortage = !reverse && s >= 0 && s < n;
  const bool reorder = !reverse && b != 0 && u != 0 && s >= 1 && s >= b && s < n + b;
  const uint8_t* block = orderBlock_;
  const uint16_t orderer = getU16(block, orderblock::kOrderer.offset);
  const std::string supplier = getText(block, orderblock::kSupplier.offset, orderblock::kSupplier.size);

  // The changes to write: counters as additions, state texts as values.
  uint8_t change[odbcplu::kLen] = {};
  OdbcField fields[8];
  int32_t count = 0;
  uint32_t additive = 0;
  auto add = [&](const FieldPlace& f, int32_t value) {
    put(change, f, value);
    additive |= 1u << count;
    fields[count++] = linkField(f);
  };
  auto set = [&](const FieldPlace& f, const std::string& text) {
    putText(change, f.offset, f.size, text);
    fields[count++] = linkField(f);
  };

  bool ordered = false;
  int32_t orderQuantity = 0;
  if (reorder && !(odbc_.orderFlags & odbclink::kTextKey) && odbc_.kinds[kOrderSlot].count > 0) {
    using namespace odbcorder;
    uint8_t order[kLen] = {};
    const std::time_t now = std::time(nullptr);
    putU32(order, kOrderer.offset, orderer);
    putU32(order, kStatus.offset, getU16(block, orderblock::kStatus.offset));
    platform::odbc::Timestamp ts;
    MakeSqlTimestamp(&ts, now, 0);
    put(order, kDate, ts);
    putText(order, kSupplier.offset, kSupplier.size, supplier);
    putText(order, kItemCode.offset, kItemCode.size, getText(item, odbcplu::kCode.offset, odbcplu::kCode.size));
    put(order, kUnitPrice, static_cast<double>(getU32(item, odbcplu::kUnitPrice.offset)) / (u > 1 ? u : 1));
    int32_t days = i32(item, odbcplu::kLeadDays);
    if (days == 0) days = getU16(block, orderblock::kLeadDays.offset);
    MakeSqlTimestamp(&ts, now + static_cast<int64_t>(days) * 24 * 3600, 0);
    put(order, kDueDate, ts);
    // Enough whole order units to bring the stock back to its proper level.
    const int64_t shortfall = n - s + i32(item, odbcplu::kProperStock);
    const int32_t w = i32(item, odbcplu::kOrderUnit);
    const int64_t v = w > 1 ? w : 1;
    int64_t k = shortfall / v;
    if (w > 1 && shortfall % w != 0) k += 1;
    int64_t quantity = v * k;
    if (quantity < i32(item, odbcplu::kLeastOrder)) quantity = i32(item, odbcplu::kLeastOrder);
    orderQuantity = static_cast<int32_t>(quantity);
    put(order, kQuantity, orderQuantity);
    static constexpr OdbcField kOrderFields[] = {linkField(kOrderer),  linkField(kStatus),   linkField(kDate),
                                                 linkField(kSupplier), linkField(kItemCode), linkField(kQuantity),
                                                 linkField(kUnitPrice), linkField(kDueDate)};
    OdbcStmt& statement = context->statements[OdbcPostContext::kOrderInsert];
    if (!ensure(statement, *odbc_.database)) {
      ReportOdbcError(&statement);
      return -1;
    }
    std::string text;
    const int32_t bound = BuildLinkInsert(odbclink::kOrders, &text, static_cast<int32_t>(std::size(kOrderFields)),
                                          kOrderFields, order, &statement, nullptr);
    if (bound < 0) return -1;
    if (bound > 0) {
      if (odbcExecute(&statement, text) != 0) return -1;
      if (!statement->close()) {
        ReportOdbcError(&statement);
        return -1;
      }
      ordered = true;
    }
  }

  const int32_t g = reverse ? -1 : 1;
  add(odbcplu::kCount, q * g);
  add(odbcplu::kAmount, amount * g);
  const bool costed = q != 0 && cost != 0;
  add(odbcplu::kCost, costed ? cost * q * g : 0);
  add(odbcplu::kMarginBase, costed ? amount * g : 0);
  add(odbcplu::kStock, static_cast<int32_t>(-n * g));
  if (ordered) add(odbcplu::kOrdered, orderQuantity);
  char number[16];
  std::snprintf(number, sizeof number, "%04u", static_cast<unsigned>(orderer));
  if (shortage) set(odbcplu::kStockError, orderer ? std::string(number) : std::string("在庫数異常"));
  if (reorder) {
    std::string state = orderer ? number : "";
    if (!supplier.empty()) state += (orderer ? "," : "") + supplier;
    set(odbcplu::kShortage, state);
  }

  OdbcStmt& statement = context->statements[OdbcPostContext::kPluUpdate];
  if (!ensure(statement, *odbc_.database)) {
    ReportOdbcError(&statement);
    return -1;
  }
  std::string text;
  const int32_t bound =
      BuildLinkUpdate(odbclink::kPlu, &text, count, fields, change, &statement, nullptr, additive);
  if (bound < 0) return -1;
  if (bound > 0) {
    if (!statement->bindText(bound + 1, 0, 0, code) || !statement->execute(text + "?") || !statement->close()) {
      ReportOdbcError(&statement);
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
  using namespace odbcsale;
  uint8_t sale[kLen] = {};
  const uint8_t* l = static_cast<const uint8_t*>(line);
  platform::odbc::Timestamp ts;
  MakeSqlTimestamp(&ts, std::time(nullptr), 1);
  put(sale, kTime, ts);
  putU32(sale, kStore.offset, getU32(orderBlock_, orderblock::kStore.offset));
  putU16(sale, kClerk.offset, manager_ ? getU16(manager_, clerk::kNumber.offset) : 0);
  putU16(sale, kDepartment.offset, keyNumber(getU16(line, line::kKeyCode)));
  std::memcpy(sale + kCustomer.offset, context->customerCode, kCustomer.size);
  std::memcpy(sale + kName.offset, l + line::kDisplayName, line::kDisplayNameLen);
  std::memcpy(sale + kCode.offset, l + line::kCode, line::kCodeLen);
  std::memcpy(sale + kSubCode.offset, l + line::kSubCode, line::kSubCodeLen);
  const uint16_t flags = getU16(line, line::kFlags);
  sale[kInnerTax.offset] = (flags & line::kInnerTax) ? 1 : 0;
  sale[kNonTaxable.offset] = (flags & line::kNonTaxable) ? 1 : 0;
  sale[kTaxExempt.offset] = (flags & line::kTaxExempt) ? 1 : 0;
  sale[kNoSpecialTax.offset] = (flags & line::kNoSpecialTax) ? 1 : 0;
  put(sale, kCount, q * g);
  put(sale, kUnitPrice, getI32(line, line::kUnitPrice));
  put(sale, kAmount, getI32(line, line::kPrice) * g);
  put(sale, kPurchasePrice, q != 0 && cost != 0 ? static_cast<double>(cost) : 0.0);
  static constexpr OdbcField kFields[] = {
      linkField(kTime),      linkField(kStore),       linkField(kClerk),         linkField(kDepartment),
      linkField(kCustomer),  linkField(kName),        linkField(kCode),          linkField(kSubCode),
      linkField(kInnerTax),  linkField(kNonTaxable),  linkField(kTaxExempt),     linkField(kNoSpecialTax),
      linkField(kCount),     linkField(kUnitPrice),   linkField(kAmount),        linkField(kPurchasePrice)};
  OdbcStmt& statement = context->statements[OdbcPostContext::kSalesInsert];
  if (!ensure(statement, *odbc_.database)) {
    ReportOdbcError(&statement);
    return -1;
  }
  std::string text;
  const int32_t bound = BuildLinkInsert(odbclink::kSalesLines, &text, static_cast<int32_t>(std::size(kFields)), kFields,
                                        sale, &statement, nullptr);
  if (bound < 0) return -1;
  if (bound == 0) return 1;
  if (!statement->execute(text) || !statement->close()) {
    ReportOdbcError(&statement);
    return -1;
  }
  return 1;
}

int32_t CRegCom::OdbcPostSettlement(OdbcPostContext* context) {
  const std::time_t now = std::time(nullptr);
  if (odbc_.kinds[kSettlementSlot].count == 0) return 0;
  if (!OdbcIsOpen() || !context) return -1;
  uint8_t row[odbcsettle::kLen] = {};
  OdbcStmt& statement = context->statements[OdbcPostContext::kSettlementRow];
  auto failed = [&]() {
    ReportOdbcError(&statement);
    return -1;
  };
  if (!ensure(statement, *odbc_.database)) return failed();

  // Today's row of this store: the window of today's local date and the
  // store id, both as parameters.
  const char* dateColumn = GetLinkColumnName(odbcsettle::kTime.offset, odbclink::kSettlement);
  const char* storeColumn = GetLinkColumnName(odbcsettle::kStore.offset, odbclink::kSettlement);
  const uint32_t store = getU32(orderBlock_, orderblock::kStore.offset);
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

  using namespace odbcsettle;
  static_assert(kTotalCount == OdbcPostContext::kSums, "one settlement total for each sum of a commit");
  platform::odbc::Timestamp ts;
  MakeSqlTimestamp(&ts, now, 1);
  put(row, kTime, ts);
  putU32(row, kStore.offset, store);
  putU16(row, kSection.offset, static_cast<uint16_t>(context->sectionPrice));
  putU16(row, kClerk.offset, manager_ ? getU16(manager_, clerk::kNumber.offset) : 0);
  constexpr int kHead = 4;  // time, store, section, clerk; then the totals
  OdbcField fields[kHead + kTotalCount] = {linkField(kTime), linkField(kStore), linkField(kSection),
                                           linkField(kClerk)};
  uint32_t additive = 0;
  for (int i = 0; i < kTotalCount; ++i) {
    put(row, kTotals[i], context->sums[i]);
    fields[kHead + i] = linkField(kTotals[i]);
    additive |= 1u << (kHead + i);
  }
  std::string text;
  int32_t bound;
  // Exactly one row of today: this transaction is added to it. None, or
  // several (two registers that both began the day), get a row of this
  // transaction's own, so no total is counted twice.
  if (rows == 1) {
    bound = BuildLinkUpdate(odbclink::kSettlement, &text, kHead + kTotalCount, fields, row, &statement, nullptr,
                            additive);
    if (bound > 0) {
      text += window;
      if (!bindWindow(bound + 1)) return failed();
    }
  } else {
    bound = BuildLinkInsert(odbclink::kSettlement, &text, kHead + kTotalCount, fields, row, &statement, nullptr);
  }
  if (bound < 0) return -1;
  if (bound > 0 && (!statement->execute(text) || !statement->close())) return failed();
  return 1;
}

int32_t CRegCom::OdbcExecText(OdbcStmt* statement, const void* plu) {
  if (odbc_.kinds[kPluSlot].count == 0) return 0;
  if (!OdbcIsOpen() || !statement || !plu) return -1;
  const std::string code = getText(plu, plu::kCode.offset, plu::kCode.size);
  if (code.empty()) return -1;
  uint8_t record[odbcplu::kLen] = {};
  std::memcpy(record, plu, kTables[kPluTable].recordLen);
  if (!*statement) *statement = Statement::allocate(odbc_.database->Connection());
  if (!*statement) {
    ReportOdbcError(statement);
    return -1;
  }
  const OdbcField field = linkField(odbcplu::kListOrder);
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
