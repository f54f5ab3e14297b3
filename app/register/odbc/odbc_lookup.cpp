// Lookups in the outside database: customers by code or keyword, PLU items
// by code or department, orders by number. Each fills a register buffer laid
// out as the kind's fields (unlinked fields and NULL columns read as zero).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "platform/base/cp932.h"

namespace varnex::reg {

namespace {

constexpr int kCustomerSlot = 0, kPluSlot = 1, kOrderSlot = 2;

// The kind's SELECT up to and including "WHERE " (empty when it has none).
std::string upToWhere(const std::string& select) {
  const size_t at = select.find(" WHERE ");
  return at == std::string::npos ? std::string() : select.substr(0, at + 7);
}

}  // namespace

int32_t CRegCom::OdbcSelectByCode(const char* code, void* customer, OdbcStmt* statement) {
  const OdbcKindMap& map = odbc_.kinds[kCustomerSlot];
  if (map.count == 0 || !code || !*code) return 0;
  if (!customer || !statement || !OdbcIsOpen()) return -1;
  std::string text = upToWhere(map.select);
  if (text.empty()) return -1;
  const std::string value = code;
  // The upper bound of a prefix: the code with its last byte raised. A code
  // that ends in a double-byte character or a byte above the ASCII range has
  // no clean bound: it is matched exactly.
  const uint8_t last = static_cast<uint8_t>(value.back());
  bool prefixable = last < 0x7F;
  if (prefixable && value.size() >= 2) {
    // The last byte may be the trail byte of a double-byte character.
    size_t i = 0;
    while (i < value.size() - 1) i += platform::cp932::charLength(value, i);
    prefixable = i == value.size() - 1;
  }
  std::string bound = value;
  bound.back() = static_cast<char>(last + 1);
  std::vector<const std::string*> parameters;
  int conditions = 0;
  for (int32_t i = 0; i < map.count; ++i) {
    const uint16_t offset = descriptorField(map.descriptors[i]).offset;
    // The code and the keywords; the name is not searched.
    if (offset == odbccustomer::kName.offset) continue;
    if (offset > odbccustomer::kKeyword3.offset) break;
    if (conditions++) text += " OR ";
    const std::string column = quoteColumn(map.names[i]);
    if ((odbc_.foreign == 0 && offset != 0) || !prefixable) {
      text += "(" + column + " = ?)";
      parameters.push_back(&value);
    } else {
      text += "(" + column + " >= ? AND " + column + " < ?)";
      parameters.push_back(&value);
      parameters.push_back(&bound);
    }
  }
  std::memset(customer, 0, odbccustomer::kLen);
  OdbcDrop(statement);
  *statement = platform::odbc::Statement::allocate(odbc_.database->Connection());
  if (!*statement) {
    ReportOdbcError(statement);
    return -1;
  }
  for (size_t p = 0; p < parameters.size(); ++p) {
    if (!(*statement)->bindText(static_cast<int>(p + 1), 0, 0, *parameters[p])) {
      ReportOdbcError(statement);
      return -1;
    }
  }
  if (odbcExecute(statement, text) != 0) return -1;
  switch ((*statement)->fetch()) {
    case platform::odbc::Statement::Fetch::End: OdbcDrop(statement); return 0;
    case platform::odbc::Statement::Fetch::Error: ReportOdbcError(statement); return -1;
    case platform::odbc::Statement::Fetch::Row: break;
  }
  if (odbcReadRow(kCustomerSlot, statement, customer) != 0) {
    ReportOdbcError(statement);
    return -1;
  }
  return 1;
}

namespace {

// The next row of an open search into buffer.
template <typename ReadRow>
int32_t fetchNext(OdbcStmt* statement, ReadRow readRow, CRegCom& engine) {
  switch ((*statement)->fetch()) {
    case platform::odbc::Statement::Fetch::End: OdbcDrop(statement); return 0;
    case platform::odbc::Statement::Fetch::Error: engine.ReportOdbcError(statement); return -1;
    case platform::odbc::Statement::Fetch::Row: break;
  }
  if (readRow() != 0) {
    engine.ReportOdbcError(statement);
    return -1;
  }
  return 1;
}

}  // namespace

int32_t CRegCom::OdbcFetchNextByCode(void* customer, OdbcStmt* statement) {
  if (odbc_.kinds[kCustomerSlot].count == 0) return 0;
  if (!customer || !statement || !*statement || !OdbcIsOpen()) return -1;
  std::memset(customer, 0, odbccustomer::kLen);
  return fetchNext(statement, [&] { return odbcReadRow(kCustomerSlot, statement, customer); }, *this);
}

int32_t CRegCom::OdbcSelectPlu(const char* code, void* plu) {
  const OdbcKindMap& map = odbc_.kinds[kPluSlot];
  if (map.count == 0 || !code || !*code) return 0;
  if (!plu || !OdbcIsOpen()) return -1;
  std::memset(plu, 0, odbcplu::kLen);
  OdbcStmt statement = platform::odbc::Statement::allocate(odbc_.database->Connection());
  if (!statement) {
    ReportOdbcError(&statement);
    return -1;
  }
  if (!statement->bindText(1, 0, 0, code)) {
    ReportOdbcError(&statement);
    return -1;
  }
  if (odbcExecute(&statement, map.select + "?") != 0) return -1;
  int32_t rows = 0;
  for (;;) {
    const auto fetched = statement->fetch();
    if (fetched == platform::odbc::Statement::Fetch::End) break;
    if (fetched == platform::odbc::Statement::Fetch::Error) {
      ReportOdbcError(&statement);
      return -1;
    }
    if (rows++ == 0 && odbcReadRow(kPluSlot, &statement, plu) != 0) {
      ReportOdbcError(&statement);
      return -1;
    }
  }
  OdbcDrop(&statement);
  return rows;
}

bool CRegCom::OdbcPluLinked() const { return odbc_.kinds[kPluSlot].count > 0; }

int32_t CRegCom::OdbcSelectByNumber(int32_t department, void* plu, OdbcStmt* statement) {
  const OdbcKindMap& map = odbc_.kinds[kPluSlot];
  if (map.count == 0 || department == 0) return 0;
  if (!plu || !statement || !OdbcIsOpen()) return -1;
  std::string text = upToWhere(map.select);
  if (text.empty()) return -1;
  const char* departmentColumn = GetLinkColumnName(odbcplu::kDepartment.offset, odbclink::kPlu);
  if (!departmentColumn) return 0;
  text += "(" + quoteColumn(departmentColumn) + " = ?)";
  bool ordered = false;
  if (const char* order = GetLinkColumnName(odbcplu::kListOrder.offset, odbclink::kPlu)) {
    if (odbc_.foreign == 1) text += "And (Not " + quoteColumn(order) + " Is Null)";
    text += " ORDER BY " + quoteColumn(order);
    ordered = true;
  }
  if (const char* name = GetLinkColumnName(odbcplu::kName.offset, odbclink::kPlu))
    text += (ordered ? ", " : " ORDER BY ") + quoteColumn(name);
  std::memset(plu, 0, odbcplu::kLen);
  OdbcDrop(statement);
  *statement = platform::odbc::Statement::allocate(odbc_.database->Connection());
  if (!*statement) {
    ReportOdbcError(statement);
    return -1;
  }
  if (!(*statement)->bindValue(1, platform::odbc::CType::Int32, platform::odbc::kSqlInteger, 10, &department)) {
    ReportOdbcError(statement);
    return -1;
  }
  if (odbcExecute(statement, text) != 0) return -1;
  return fetchNext(statement, [&] { return odbcReadRow(kPluSlot, statement, plu); }, *this);
}

int32_t CRegCom::OdbcFetchNextByNumber(void* plu, OdbcStmt* statement) {
  if (odbc_.kinds[kPluSlot].count == 0) return 0;
  if (!plu || !statement || !*statement || !OdbcIsOpen()) return -1;
  std::memset(plu, 0, odbcplu::kLen);
  return fetchNext(statement, [&] { return odbcReadRow(kPluSlot, statement, plu); }, *this);
}

int32_t CRegCom::OdbcSelectOrder(const char* number, void* order) {
  if (odbc_.kinds[kOrderSlot].count == 0) return 0;
  const int32_t found = selectOrder(number, order, true);
  return found == 1 ? 1 : -1;
}

int32_t CRegCom::GetOrderRecord(const char* number, void* order) {
  if (odbc_.kinds[kOrderSlot].count == 0) return -1;
  return selectOrder(number, order, false);
}

int32_t CRegCom::selectOrder(const char* number, void* order, bool reportNotFound) {
  const OdbcKindMap& map = odbc_.kinds[kOrderSlot];
  if (!order || !OdbcIsOpen()) return -1;
  std::memset(order, 0, odbcorder::kLen);
  const bool textKey = (odbc_.orderFlags & odbclink::kTextKey) != 0;
  const char* orderColumn = GetLinkColumnName(textKey ? odbcorder::kTextNumber.offset : odbcorder::kNumber.offset, odbclink::kOrders);
  if (!orderColumn) return -1;
  OdbcStmt statement = platform::odbc::Statement::allocate(odbc_.database->Connection());
  if (!statement) {
    ReportOdbcError(&statement);
    return -1;
  }
  const char* text = number ? number : "";
  bool bound;
  if (textKey) {
    bound = statement->bindText(1, 0, 0, text);
  } else {
    // The number the text begins with, as atol reads it.
    const uint32_t value = static_cast<uint32_t>(std::atol(text));
    bound = statement->bindValue(1, platform::odbc::CType::UInt32, platform::odbc::kSqlInteger, 10, &value);
  }
  if (!bound) {
    ReportOdbcError(&statement);
    return -1;
  }
  if (odbcExecute(&statement, map.select + "? ORDER BY " + quoteColumn(orderColumn) + " DESC") != 0) return -1;
  const auto fetched = statement->fetch();
  if (fetched == platform::odbc::Statement::Fetch::End && !reportNotFound) {
    OdbcDrop(&statement);
    return 0;
  }
  if (fetched != platform::odbc::Statement::Fetch::Row || odbcReadRow(kOrderSlot, &statement, order) != 0) {
    // Not found or failed: released through the report (silent without a
    // diagnostic).
    ReportOdbcError(&statement);
    return -1;
  }
  OdbcDrop(&statement);
  return 1;
}

int32_t CRegCom::CacheLinkedPlu(const void* item) {
  FileDBHandle table = Table(kPluTable);
  if (!table) return -1;
  uint8_t record[80] = {};
  uint8_t local[80] = {};
  std::memcpy(record, item, sizeof record);
  const std::string code = getText(record, plu::kCode.offset, plu::kCode.size);
  int32_t n = GetPluRecord(code.c_str(), local);
  // A code the table does not hold yet is a new record at its end; record 0
  // holds the grand totals and is never an item's place.
  if (n <= 0) {
    std::memset(local, 0, sizeof local);
    n = FileDBRecGetSize(table);
    if (n < 1) n = 1;
  }
  // The totals are the shop's own; the outside database does not keep them.
  std::memcpy(record + plu::kCount.offset, local + plu::kCount.offset, sizeof record - plu::kCount.offset);
  return FileDBRecWrite(table, n, record) == 0 ? 0 : -1;
}

}  // namespace varnex::reg
