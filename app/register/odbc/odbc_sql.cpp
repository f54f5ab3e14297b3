// The statements of the ODBC link: quoted names, the UPDATE and INSERT texts
// of a link kind with their parameters bound to a register record.
//
// Every value travels as a bound parameter, never inside the text: a code
// typed or scanned at the counter may hold quotes, semicolons or "--" and is
// still only a value. Texts are bound with their own length (the bytes up
// to the first zero of the field), so no terminating zero reaches the
// outside database.
#include <cstring>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "zemta/filedb.h"
#include "zemta/typed.h"

namespace varnex::reg {

namespace {

// Database systems that take square brackets around names.
bool takesBrackets(const platform::odbc::Connection& c) {
  const char quote = c.identifierQuote();
  if (quote == 0 || quote == '[') return true;
  const std::string& dbms = c.dbmsName();
  for (const char* name : {"Microsoft SQL Server", "ACCESS", "EXCEL", "SQLite", "ZEMTA"})
    if (dbms.compare(0, std::strlen(name), name) == 0) return true;
  return false;
}

std::string quoted(const std::string& name, char open, char close) {
  std::string out(1, open);
  for (char c : name) {
    out += c;
    if (c == close) out += c;  // a closing quote inside a name is doubled
  }
  out += close;
  return out;
}

}  // namespace

std::string CRegCom::quoteColumn(const std::string& name) const {
  if (OdbcIsOpen() && !takesBrackets(odbc_.database->Connection())) {
    const char q = odbc_.database->Connection().identifierQuote();
    return quoted(name, q, q);
  }
  return quoted(name, '[', ']');
}

std::string CRegCom::QuoteSqlName(const char* name) const {
  if (!name) return std::string();
  const std::string text = name;
  // A schema part: split at the first "." that is neither first nor last.
  const size_t dot = text.find('.', 1);
  if (dot != std::string::npos && dot + 1 < text.size())
    return quoteColumn(text.substr(0, dot)) + "." + quoteColumn(text.substr(dot + 1));
  return quoteColumn(text);
}

namespace {

// Binds one register field as parameter n. length receives the length bound.
bool bindField(platform::odbc::Statement& s, int n, const OdbcField& f, int16_t outsideType, const void* record,
               int32_t& length) {
  using platform::odbc::CType;
  ItemValue item{};
  item.offset = f.offset;
  item.size = f.size;
  item.position = f.position;
  item.type = f.type;
  item.record = static_cast<uint8_t*>(const_cast<void*>(record));
  int16_t t = 0;
  int32_t column = 0;
  ItemConvSqlType(&item, &t, nullptr, &column);
  const uint8_t* field = static_cast<const uint8_t*>(record) + (f.offset & 0x7FFF);
  const uint16_t itemType = f.type & 63;
  length = f.size;
  switch (t) {
    case platform::odbc::kSqlChar: {
      const std::string text = getText(record, f.offset & 0x7FFF, f.size);
      length = static_cast<int32_t>(text.size());
      return s.bindText(n, outsideType, static_cast<uint32_t>(column), text);
    }
    case platform::odbc::kSqlDouble: {
      double d;
      std::memcpy(&d, field, 8);
      return s.bindValue(n, CType::Double, outsideType, 15, &d);
    }
    case platform::odbc::kSqlReal: {
      float x;
      std::memcpy(&x, field, 4);
      return s.bindValue(n, CType::Float, outsideType, 7, &x);
    }
    case platform::odbc::kSqlTimestamp: {
      platform::odbc::Timestamp ts{};
      if (f.size >= sizeof ts) {
        std::memcpy(&ts, field, sizeof ts);
      } else {
        // A date word of the register: year - 1980, month, day.
        const uint16_t w = getU16(field, 0);
        ts.year = static_cast<int16_t>(1980 + (w >> 9));
        ts.month = (w >> 5) & 15;
        ts.day = w & 31;
      }
      return s.bindValue(n, CType::Timestamp, outsideType, 19, &ts);
    }
    case platform::odbc::kSqlBigInt: {
      int64_t v;
      std::memcpy(&v, field, 8);
      return s.bindValue(n, CType::Int64, outsideType, 19, &v);
    }
    default: {
      // Integers and bit fields: the field's value, through its bit field.
      item.kind = ITEM_VALUE_INTEGER;
      if (ItemGetData(&item) < 0) return false;
      const bool isSigned = itemType == 7 || itemType == 28 || itemType == 29 || itemType == 36 ||
                            itemType == 46 || itemType == 47 || itemType == 3;
      if (isSigned) {
        int32_t v = item.integer;
        return s.bindValue(n, CType::Int32, outsideType, 10, &v);
      }
      uint32_t v = static_cast<uint32_t>(item.integer);
      return s.bindValue(n, CType::UInt32, outsideType, 10, &v);
    }
  }
}

}  // namespace

int32_t CRegCom::odbcBuild(bool update, uint32_t kind, std::string* text, int32_t n, const OdbcField* fields,
                           const void* record, OdbcStmt* statement, int32_t* lengths, uint32_t additive) {
  if (kind == 0 || !tables_[kOdbcLinkTable] || !fields || !record || !statement || !*statement || !text) return -1;
  std::vector<std::vector<uint8_t>> records;
  const int32_t count = FileDBRecGetSize(tables_[kOdbcLinkTable]);
  if (count < 0) return -1;
  std::vector<uint8_t> r(kTables[kOdbcLinkTable].recordLen);
  for (int32_t i = 0; i < count; ++i) {
    if (FileDBRecRead(tables_[kOdbcLinkTable], i, r.data()) != 0) return -1;
    if (getU32(r.data(), odbclink::kKind.offset) == kind) records.push_back(r);
  }
  if (records.empty()) return -1;
  std::string table, keyColumn, columns;
  bool hasKey = false;
  int32_t bound = 0;
  // The records are read in order until n parameters are bound: a key
  // record or another table after that is not looked at.
  for (const auto& rec : records) {
    if (bound >= n) break;
    const uint16_t linkFlags = getU16(rec.data(), odbclink::kLinkFlags.offset);
    const std::string t = getText(rec.data(), odbclink::kOuterTable.offset, odbclink::kOuterTable.size);
    const std::string c = getText(rec.data(), odbclink::kOuterColumn.offset, odbclink::kOuterColumn.size);
    if (update && (linkFlags & odbclink::kKeyColumn) && !c.empty()) {
      if (hasKey) return -1;
      hasKey = true;
      keyColumn = c;
    }
    if (t.empty() || c.empty()) continue;
    if (table.empty()) table = t;
    else if (table != t) return -1;
    const OdbcField linked = descriptorField(rec.data() + odbclink::kFieldOffset.offset);
    int listed = -1;
    for (int32_t i = 0; i < n && listed < 0; ++i) {
      const OdbcField& f = fields[i];
      if (linked.offset == f.offset && linked.size == f.size && linked.position == f.position && linked.type == f.type)
        listed = static_cast<int>(i);
    }
    if (listed < 0) continue;
    if (bound > 0) columns += ", ";
    const std::string name = quoteColumn(c);
    if (!update) columns += name;
    else if (additive & (1u << listed)) columns += name + " = COALESCE(" + name + ", 0) + ?";
    else columns += name + " = ?";
    int32_t length = 0;
    ++bound;
    if (!bindField(**statement, bound, fields[listed], static_cast<int16_t>(getU16(rec.data(), odbclink::kSqlType.offset)), record, length)) {
      ReportOdbcError(statement);
      return -1;
    }
    if (lengths) lengths[bound - 1] = length;
  }
  if (update) {
    *text = "UPDATE " + QuoteSqlName(table.c_str()) + " SET " + columns;
    if (hasKey) *text += " WHERE " + quoteColumn(keyColumn) + " = ";
    // Without a key only sales lines and settlement rows (whose callers
    // append a window of their own, or none) are updated; any other kind
    // fails, also when nothing was bound.
    else if (kind != odbclink::kSalesLines && kind != odbclink::kSettlement) return -1;
  } else {
    *text = "INSERT INTO " + QuoteSqlName(table.c_str()) + " (" + columns + ") VALUES (";
    for (int32_t i = 0; i < bound; ++i) *text += i ? ", ?" : "?";
    *text += ")";
  }
  return bound;
}

int32_t CRegCom::BuildLinkUpdate(uint32_t kind, std::string* text, int32_t n, const OdbcField* fields,
                                 const void* record, OdbcStmt* statement, int32_t* lengths, uint32_t additive) {
  return odbcBuild(true, kind, text, n, fields, record, statement, lengths, additive);
}

int32_t CRegCom::BuildLinkInsert(uint32_t kind, std::string* text, int32_t n, const OdbcField* fields,
                                 const void* record, OdbcStmt* statement, int32_t* lengths) {
  return odbcBuild(false, kind, text, n, fields, record, statement, lengths, 0);
}

int32_t CRegCom::odbcExecute(OdbcStmt* statement, const std::string& text) {
  if (!(*statement)->execute(text)) {
    ReportOdbcError(statement);
    return -1;
  }
  return 0;
}

}  // namespace varnex::reg
