// The field map of the ODBC link: the link records of "ODBCリンク" (layout
// in odbc_link.h) loaded after each connect, fetched values stored into
// register records, the upkeep of older link records, and the outside
// catalog that the link screen offers.
#include <cstring>
#include <ctime>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "platform/base/clock.h"
#include "platform/base/cp932.h"
#include "zemta/filedb.h"
#include "zemta/typed.h"

namespace varnex::reg {

namespace {

using Record = std::vector<uint8_t>;

// The link records of one kind in record order, with their numbers; false
// on a read failure.
bool linkRecords(FileDBHandle link, uint32_t kind, std::vector<Record>& records, std::vector<int32_t>* numbers) {
  records.clear();
  if (numbers) numbers->clear();
  const int32_t count = FileDBRecGetSize(link);
  if (count < 0) return false;
  Record r(kTables[kOdbcLinkTable].recordLen);
  for (int32_t n = 0; n < count; ++n) {
    if (FileDBRecRead(link, n, r.data()) != 0) return false;
    if (getU32(r.data(), odbclink::kKind.offset) != kind) continue;
    records.push_back(r);
    if (numbers) numbers->push_back(n);
  }
  return true;
}

std::string fieldText(const Record& r, const FieldPlace& f) { return getText(r.data(), f.offset, f.size); }

}  // namespace

// ---- the map -----------------------------------------------------------------

int32_t CRegCom::BuildLinkSelect(uint32_t kind, std::string* text, int32_t* count, uint8_t (*descriptors)[8],
                                 char (*names)[32], uint16_t* flags) {
  if (flags) *flags = 0;
  if (!count) return -1;
  const int32_t capacity = *count;
  *count = 0;
  if (kind == 0 || !tables_[kOdbcLinkTable] || !descriptors || !names) return -1;
  std::vector<Record> records;
  if (!linkRecords(tables_[kOdbcLinkTable], kind, records, nullptr)) return -1;
  if (records.empty()) return 0;
  if (kind == odbclink::kCustomers) odbc_.pointsLinked = 0;
  std::string columns, table, keyColumn;
  int32_t linked = 0;
  bool hasKey = false;
  for (const Record& r : records) {
    const uint16_t linkFlags = getU16(r.data(), odbclink::kLinkFlags.offset);
    const std::string t = fieldText(r, odbclink::kOuterTable), c = fieldText(r, odbclink::kOuterColumn);
    if ((linkFlags & odbclink::kKeyColumn) && !c.empty()) {
      if (hasKey) return -1;
      hasKey = true;
      keyColumn = c;
      if ((linkFlags & odbclink::kTextKey) && flags) *flags |= odbclink::kTextKey;
    }
    if (t.empty() || c.empty()) continue;
    if (kind == odbclink::kCustomers &&
        getU16(r.data(), odbclink::kFieldOffset.offset) == odbccustomer::kPointBalance.offset)
      odbc_.pointsLinked = 1;
    if ((linkFlags & odbclink::kPriceByDivisor) && flags) *flags |= odbclink::kPriceByDivisor;
    if (table.empty()) table = t;
    else if (table != t) return -1;
    if (linked >= capacity) return -1;
    if (linked > 0) columns += ", ";
    columns += quoteColumn(c);
    std::memcpy(descriptors[linked], r.data() + odbclink::kFieldOffset.offset, 8);
    std::memset(names[linked], 0, 32);
    std::memcpy(names[linked], c.data(), std::min<size_t>(c.size(), 31));
    ++linked;
  }
  if (text) {
    *text = "SELECT " + columns + " FROM " + QuoteSqlName(table.c_str());
    if (hasKey) *text += " WHERE " + quoteColumn(keyColumn) + " = ";
  }
  if (hasKey || kind == odbclink::kSalesLines || kind == odbclink::kSettlement) *count = linked;
  return 0;
}

int32_t CRegCom::PrepareOdbcQueries() {
  int32_t result = 0;
  for (int slot = 0; slot < odbcmap::kKinds; ++slot) {
    OdbcKindMap& map = odbc_.kinds[slot];
    map.count = odbcmap::kCapacity[slot];
    map.select.clear();
    uint16_t* flags = slot == 1 ? &odbc_.pluFlags : slot == 2 ? &odbc_.orderFlags : nullptr;
    if (BuildLinkSelect(odbcmap::kKindOf[slot], &map.select, &map.count, map.descriptors, map.names, flags) != 0) {
      map.count = 0;
      if (slot <= 1) result = -1;
    }
  }
  return result;
}

const char* CRegCom::GetLinkColumnName(uint16_t offset, uint32_t kind) const {
  const int slot = odbcmap::slotOf(kind);
  if (slot < 0) return nullptr;
  const OdbcKindMap& map = odbc_.kinds[slot];
  for (int32_t i = 0; i < map.count; ++i)
    if (descriptorField(map.descriptors[i]).offset == offset) return map.names[i];
  return nullptr;
}

void CRegCom::MakeSqlTimestamp(platform::odbc::Timestamp* out, int64_t time, int32_t withTime) {
  if (!out) return;
  std::memset(out, 0, sizeof *out);
  const platform::LocalTime t = platform::localTimeOf(time);
  out->year = static_cast<int16_t>(t.year);
  out->month = static_cast<uint16_t>(t.month);
  out->day = static_cast<uint16_t>(t.day);
  if (withTime) {
    out->hour = static_cast<uint16_t>(t.hour);
    out->minute = static_cast<uint16_t>(t.minute);
    out->second = static_cast<uint16_t>(t.second);
  }
}

int32_t CRegCom::OdbcColumnToItem(const uint8_t* descriptor, void* record, const void* value, int64_t indicator) {
  if (indicator == platform::odbc::kNullData) return 0;
  if (!descriptor || !record || !value) return -1;
  ItemValue item{};
  const OdbcField field = descriptorField(descriptor);
  item.offset = field.offset;
  item.size = field.size;
  item.position = field.position;
  item.type = field.type;
  item.record = static_cast<uint8_t*>(record);
  if (item.size == 0) return -1;
  switch (item.type) {
    case 0:
    case 1: {
      // Text: as many whole characters as the field takes, the rest zero.
      const char* text = static_cast<const char*>(value);
      size_t n = std::min<size_t>(std::min<size_t>(item.size, static_cast<size_t>(indicator)), sizeof item.text);
      const size_t whole = platform::cp932::fitLength(std::string_view(text, n), n);
      std::memcpy(item.text, text, whole);
      item.kind = 0;  // raw bytes
      return ItemSetData(&item) < 0 ? -1 : 0;
    }
    case 4:
    case 7:
      std::memcpy(&item.integer, value, 4);
      item.kind = ITEM_VALUE_INTEGER;
      return ItemSetData(&item) < 0 ? -1 : 0;
    case 8:
      std::memcpy(&item.real, value, 8);
      item.kind = ITEM_VALUE_DOUBLE;
      return ItemSetData(&item) < 0 ? -1 : 0;
    case 14: {
      platform::odbc::Timestamp t;
      std::memcpy(&t, value, sizeof t);
      // A field of the timestamp's size keeps the whole timestamp; a smaller
      // one the date word.
      if (item.size >= sizeof t) {
        std::memcpy(static_cast<uint8_t*>(record) + (item.offset & 0x7FFF), &t, sizeof t);
        return 0;
      }
      item.integer = ((t.year - 1980) % 128) * 512 + (t.month % 16) * 32 + (t.day % 32);
      item.kind = ITEM_VALUE_INTEGER;
      return ItemSetData(&item) < 0 ? -1 : 0;
    }
    default:
      return -1;
  }
}

int32_t CRegCom::odbcReadRow(int slot, OdbcStmt* statement, void* buffer) {
  const OdbcKindMap& map = odbc_.kinds[slot];
  for (int32_t i = 0; i < map.count; ++i) {
    const uint16_t type = descriptorField(map.descriptors[i]).type;
    int64_t indicator = 0;
    bool ok = true;
    alignas(8) uint8_t number[16] = {};
    std::string text;
    switch (type) {
      case 0: case 1: ok = (*statement)->getText(i + 1, text, indicator); break;
      case 4: case 7: ok = (*statement)->getValue(i + 1, platform::odbc::CType::Int32, number, indicator); break;
      case 8: ok = (*statement)->getValue(i + 1, platform::odbc::CType::Double, number, indicator); break;
      case 14: ok = (*statement)->getValue(i + 1, platform::odbc::CType::Timestamp, number, indicator); break;
      default: ok = false; break;
    }
    if (!ok) return -1;
    const void* value = type <= 1 ? static_cast<const void*>(text.c_str()) : number;
    if (OdbcColumnToItem(map.descriptors[i], buffer, value, indicator) != 0) return -1;
  }
  return 0;
}

// ---- upkeep of older link records ------------------------------------------------

int32_t CRegCom::CheckOdbcLinkRecords() {
  FileDBHandle link = tables_[kOdbcLinkTable];
  if (!link) return -1;
  std::vector<Record> records;
  std::vector<int32_t> numbers;
  auto has = [&](uint16_t offset, uint16_t size) {
    for (const Record& r : records)
      if (getU16(r.data(), odbclink::kFieldOffset.offset) == offset && getU16(r.data(), odbclink::kFieldSize.offset) == size)
        return true;
    return false;
  };
  // Rewrites the records from offset `from` on; change() edits one and
  // answers whether it changed.
  auto rewrite = [&](uint16_t from, auto change) -> bool {
    for (size_t i = 0; i < records.size(); ++i) {
      Record& r = records[i];
      const uint16_t offset = getU16(r.data(), odbclink::kFieldOffset.offset);
      if (offset < from) continue;
      change(r, offset);
      if (FileDBRecWrite(link, numbers[i], r.data()) < 0) return false;
    }
    return true;
  };
  auto set = [](Record& r, uint16_t offset, uint16_t size, uint16_t type) {
    putU16(r.data(), odbclink::kFieldOffset.offset, offset);
    putU16(r.data(), odbclink::kFieldSize.offset, size);
    putU16(r.data(), odbclink::kItemType.offset, type);
  };
  auto shift = [](Record& r, uint16_t offset, uint16_t by) {
    putU16(r.data(), odbclink::kFieldOffset.offset, static_cast<uint16_t>(offset + by));
  };
  // Each step adapts one generation of records and leaves current ones alone.
  // Older layouts held each of the changed fields in 4 bytes; everything
  // behind a field moves by what it grew.
  constexpr uint16_t kOldSize = 4;
  auto grown = [](const FieldPlace& f) { return static_cast<uint16_t>(f.size - kOldSize); };
  auto becomes = [&](Record& r, const FieldPlace& f) { set(r, f.offset, f.size, linkItemType(f.kind)); };
  // PLU: the purchase price became a double.
  const FieldPlace& price = odbcplu::kPurchasePrice;
  if (!linkRecords(link, odbclink::kPlu, records, &numbers)) return -1;
  if (!records.empty() && has(price.offset, kOldSize)) {
    if (!rewrite(price.offset,
                 [&](Record& r, uint16_t o) { o == price.offset ? becomes(r, price) : shift(r, o, grown(price)); }))
      return -1;
  }
  // PLU: the two stock state fields, once side by side, became texts.
  const FieldPlace &error = odbcplu::kStockError, &shortage = odbcplu::kShortage;
  const uint16_t oldShortage = error.offset + kOldSize;
  if (!linkRecords(link, odbclink::kPlu, records, &numbers)) return -1;
  if (!records.empty() && has(error.offset, kOldSize)) {
    if (!rewrite(error.offset, [&](Record& r, uint16_t o) {
          if (o == error.offset) becomes(r, error);
          else if (o == oldShortage) becomes(r, shortage);
          else shift(r, o, grown(error) + grown(shortage));
        }))
      return -1;
  }
  // Orders: the text order number became a text key.
  const FieldPlace& number = odbcorder::kTextNumber;
  if (!linkRecords(link, odbclink::kOrders, records, &numbers)) return -1;
  if (!records.empty() && has(number.offset, kOldSize)) {
    if (!rewrite(number.offset, [&](Record& r, uint16_t o) {
          if (o == number.offset) {
            becomes(r, number);
            putU16(r.data(), odbclink::kLinkFlags.offset, odbclink::kKeyColumn | odbclink::kTextKey);
          } else {
            shift(r, o, grown(number));
          }
        }))
      return -1;
  }
  // Sales lines: the purchase price became a double.
  const FieldPlace& cost = odbcsale::kPurchasePrice;
  if (!linkRecords(link, odbclink::kSalesLines, records, &numbers)) return -1;
  if (!records.empty() && has(cost.offset, kOldSize)) {
    if (!rewrite(cost.offset,
                 [&](Record& r, uint16_t o) { o == cost.offset ? becomes(r, cost) : shift(r, o, grown(cost)); }))
      return -1;
  }
  return 0;
}

// ---- the outside catalog ------------------------------------------------------------

int32_t CRegCom::OdbcOpenTables(CDatabase* database, OdbcStmt* statement) {
  if (!statement) return -1;
  *statement = nullptr;
  if (!database || !database->IsOpen()) {
    ReportError("CRegCom", 0x20003001u);
    return -1;
  }
  *statement = platform::odbc::Statement::allocate(database->Connection());
  if (!*statement) {
    ReportOdbcError(statement);
    return -1;
  }
  // An Excel source lists every type, its worksheets included.
  if (!(*statement)->tables(odbc_.excel ? "" : "'TABLE', 'VIEW'")) {
    ReportOdbcError(statement);
    return -1;
  }
  return 0;
}

int32_t CRegCom::OdbcFetchTable(OdbcStmt* statement, std::string* name) {
  if (!statement || !*statement || !name) return -1;
  switch ((*statement)->fetch()) {
    case platform::odbc::Statement::Fetch::End: OdbcDrop(statement); return 0;
    case platform::odbc::Statement::Fetch::Error: ReportOdbcError(statement); return -1;
    case platform::odbc::Statement::Fetch::Row: break;
  }
  std::string schema, table;
  int64_t schemaIndicator = 0, tableIndicator = 0;
  if (!(*statement)->getText(2, schema, schemaIndicator) || !(*statement)->getText(3, table, tableIndicator)) {
    ReportOdbcError(statement);
    return -1;
  }
  if (tableIndicator == platform::odbc::kNullData) {
    ReportOdbcError(statement);
    return -1;
  }
  *name = schema.empty() ? table : schema + "." + table;
  return 1;
}

int32_t CRegCom::OdbcOpenColumns(CDatabase* database, OdbcStmt* statement, const char* table) {
  if (!statement) return -1;
  *statement = nullptr;
  if (!database || !database->IsOpen() || !table) {
    ReportError("CRegCom", 0x20003001u);
    return -1;
  }
  *statement = platform::odbc::Statement::allocate(database->Connection());
  if (!*statement) {
    ReportOdbcError(statement);
    return -1;
  }
  // The schema part is not passed on.
  std::string name = table;
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  if (!(*statement)->columns(name)) {
    ReportOdbcError(statement);
    return -1;
  }
  return 0;
}

int32_t CRegCom::OdbcFetchColumn(OdbcStmt* statement, std::string* name, int16_t* sqlType) {
  if (!statement || !*statement || !name) return -1;
  switch ((*statement)->fetch()) {
    case platform::odbc::Statement::Fetch::End: OdbcDrop(statement); return 0;
    case platform::odbc::Statement::Fetch::Error: ReportOdbcError(statement); return -1;
    case platform::odbc::Statement::Fetch::Row: break;
  }
  int64_t indicator = 0;
  if (!(*statement)->getText(4, *name, indicator) || indicator == platform::odbc::kNullData) {
    ReportOdbcError(statement);
    return -1;
  }
  if (sqlType) {
    int16_t type = 0;
    if (!(*statement)->getValue(5, platform::odbc::CType::Int16, &type, indicator) ||
        indicator == platform::odbc::kNullData) {
      ReportOdbcError(statement);
      return -1;
    }
    *sqlType = type;
  }
  return 1;
}

}  // namespace varnex::reg
