// CSV files of three masters (customers, departments, PLU items) and the
// reader of a file of sales lines.
//
// Master files: comma-separated, code page 932; the first line names the
// columns, each further line is one record. The exports write the columns of
// kCustomerColumns, kDepartmentColumns and kPluColumns in that order; the
// imports match columns by the names of their first line, so the order is
// free and unknown names are ignored. Texts are written trimmed of trailing
// blanks, numbers as decimal integers, flag columns as the value of their bit
// field, the unit price as an unsigned 32-bit value.
//
// An import reads and checks the whole file before it touches the master:
// a missing, unreadable or malformed file leaves the master as it was.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "zemta/csv.h"
#include "zemta/errors.h"
#include "zemta/fileaccess.h"
#include "zemta/filedb.h"

namespace varnex::reg {

namespace {

const char kAskDeleteAll[] = "既存のレコードを全て削除しますか？";
const char kDepartmentsRegistered[] = "登録済みの部門があるため削除できません\n部門の精算を行って下さい";
const char kPluRegistered[] = "登録済みのＰＬＵがあるため削除できません\nＰＬＵの精算を行って下さい";
const char kOpenFailed[] = "ファイルのオープンに失敗しました";
const char kBadFormat[] = "ファイルのフォーマットが異なっています";

// A line of this many fields or more is not one of ours.
constexpr size_t kMaxFields = 256;
// Field buffer of the reader (a longer field is cut).
constexpr int32_t kFieldBuffer = 4096;

// How a column's text becomes record bytes.
enum class ColumnKind : uint8_t { Text, U16, I32, U32, Bits };

struct Column {
  const char* name;  // code page 932 at run time
  ColumnKind kind;
  uint16_t offset;
  uint16_t size;          // Text: width in bytes
  uint8_t bitPosition;    // Bits: lowest bit of the 16-bit word at offset
  uint8_t bitCount;       // Bits: width
  bool exported;          // false: read by the import only
};

constexpr Column text(const char* name, const FieldPlace& f) {
  return {name, ColumnKind::Text, f.offset, f.size, 0, 0, true};
}
constexpr Column text(const char* name, uint16_t offset, uint16_t size) {
  return {name, ColumnKind::Text, offset, size, 0, 0, true};
}
constexpr Column number(const char* name, ColumnKind kind, uint16_t offset) {
  return {name, kind, offset, static_cast<uint16_t>(kind == ColumnKind::U16 ? 2 : 4), 0, 0, true};
}
constexpr Column bits(const char* name, uint16_t offset, uint8_t position, uint8_t count, bool exported = true) {
  return {name, ColumnKind::Bits, offset, 2, position, count, exported};
}

const Column kCustomerColumns[] = {
    text("コード", customer::kCode),
    text("名称", customer::kName),
    number("ポイント残高", ColumnKind::I32, customer::kPointBalance.offset),
    number("付与ポイント", ColumnKind::I32, customer::kPointsGranted.offset),
    number("ポイント倍率", ColumnKind::I32, customer::kPointRate.offset),
};

// The flag columns of departments and PLU items over the attribute word at
// offset `word`.
#define VARNEX_FLAG_COLUMNS(word)                                  \
  bits("入力桁制限", word, 0, 4), bits("置数オーバーライド不可", word, 8, 1), \
      bits("内税指定", word, 9, 1), bits("消費税非課税指定", word, 10, 1),     \
      bits("特別地方税非課税指定", word, 11, 1),                              \
      bits("税率指定", word, attribute::kRateShift, 2), bits("ポイント対象指定", word, 4, 1)

const Column kDepartmentColumns[] = {
    text("表示名", department::kName),
    text("印刷名", department::kPrintName),
    number("部門番号", ColumnKind::U16, department::kNumber.offset),
    number("グループリンク", ColumnKind::U16, department::kGroupLink.offset),
    number("部門一覧選択", ColumnKind::U16, department::kListSelect.offset),
    number("単価", ColumnKind::U32, department::kUnitPrice.offset),
    VARNEX_FLAG_COLUMNS(department::kAttributes.offset),
    bits("戻取引禁止指定", department::kAttributes.offset, 5, 1, false),
    bits("登録１禁止指定", department::kAttributes.offset, 6, 1, false),
    bits("登録２禁止指定", department::kAttributes.offset, 7, 1, false),
};

const Column kPluColumns[] = {
    text("表示名", plu::kName),
    text("印刷名", plu::kPrintName),
    number("部門一覧選択表示順番", ColumnKind::U16, plu::kDisplayOrder.offset),
    text("コード", plu::kCode),
    number("部門リンク", ColumnKind::U16, plu::kDepartment.offset),
    number("単価", ColumnKind::U32, plu::kUnitPrice.offset),
    VARNEX_FLAG_COLUMNS(plu::kAttributes.offset),
};
#undef VARNEX_FLAG_COLUMNS

// The columns of a file of sales lines and where they go in a line record.
enum class LineColumn : uint8_t { Table, Record, DisplayName, PrintName, Code, SubCode, Flag, Rate, Unit, UnitPrice, Price };
struct SalesColumn {
  const char* name;
  LineColumn kind;
  uint16_t flagBit;  // Flag: the bit of the flag word
};
const SalesColumn kSalesColumns[] = {
    {"テーブル№", LineColumn::Table, 0},
    {"レコード№", LineColumn::Record, 0},
    {"表示名", LineColumn::DisplayName, 0},
    {"印刷名", LineColumn::PrintName, 0},
    {"コード", LineColumn::Code, 0},
    {"サブコード", LineColumn::SubCode, 0},
    {"内税指定", LineColumn::Flag, line::kInnerTax},
    {"消費税非課税指定", LineColumn::Flag, line::kNonTaxable},
    {"消費税免税指定", LineColumn::Flag, line::kTaxExempt},
    {"特別地方税非課税指定", LineColumn::Flag, line::kNoSpecialTax},
    {"税率指定", LineColumn::Rate, 0},
    {"ポイント対象指定", LineColumn::Flag, line::kPointTarget},
    {"数量", LineColumn::Unit, 0},
    {"単価", LineColumn::UnitPrice, 0},
    {"金額", LineColumn::Price, 0},
};

// The decimal text-to-integer rule: leading blanks, a sign, digits; anything
// else ends the number; no digits is 0. Saturates far beyond 32 bits, so the
// low bits that a field takes are those of the number as written.
int64_t parseNumber(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= 9 && s[i] <= 13))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
    if (value < (int64_t{1} << 40)) value = value * 10 + (s[i] - '0');
  return negative ? -value : value;
}

// Copies text into record[offset..offset + width): cut to the width without
// splitting a double-byte character, the rest of the field zeroed.
void putFieldText(uint8_t* record, uint16_t offset, uint16_t width, const std::string& value) {
  size_t n = 0;
  while (n < value.size()) {
    const size_t step = platform::cp932::isDoubleByteAt(value, n) ? 2 : 1;
    if (n + step > width) break;
    n += step;
  }
  putText(record, offset, width, value.substr(0, n));
}

std::string trimmedText(const uint8_t* record, uint16_t offset, uint16_t width) {
  std::string s = getText(record, offset, width);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The value of a column of a record as the export writes it.
int64_t columnValue(const uint8_t* record, const Column& c) {
  switch (c.kind) {
    case ColumnKind::U16: return getU16(record, c.offset);
    case ColumnKind::I32: return getI32(record, c.offset);
    case ColumnKind::U32: return getU32(record, c.offset);
    case ColumnKind::Bits: return (getU16(record, c.offset) >> c.bitPosition) & ((1u << c.bitCount) - 1u);
    case ColumnKind::Text: break;
  }
  return 0;
}

// Stores one field into the record by its column's meaning.
void storeColumn(uint8_t* record, const Column& c, const std::string& value) {
  const int64_t n = c.kind == ColumnKind::Text ? 0 : parseNumber(value);
  switch (c.kind) {
    case ColumnKind::Text: putFieldText(record, c.offset, c.size, value); break;
    case ColumnKind::U16: putU16(record, c.offset, static_cast<uint16_t>(n)); break;
    case ColumnKind::I32:
    case ColumnKind::U32: putU32(record, c.offset, static_cast<uint32_t>(n)); break;
    case ColumnKind::Bits: {
      const uint16_t mask = static_cast<uint16_t>(((1u << c.bitCount) - 1u) << c.bitPosition);
      const uint16_t word = getU16(record, c.offset);
      putU16(record, c.offset,
             static_cast<uint16_t>((word & ~mask) | ((static_cast<uint32_t>(n) << c.bitPosition) & mask)));
      break;
    }
  }
}

using CsvRows = std::vector<std::vector<std::string>>;
enum class CsvRead { Ok, OpenFailed, BadFormat };

// Reads the whole file into its lines of fields. A line that is wholly empty
// is no line at all (a blank last line would otherwise import as a blank
// record).
CsvRead readCsvFile(const char* path, CsvRows& rows) {
  rows.clear();
  if (!path) return CsvRead::OpenFailed;
  CsvHandle reader = OpenCsvFile(path, ',', 0);
  if (!reader) return CsvRead::OpenFailed;
  std::vector<char> field(kFieldBuffer);
  std::vector<std::string> current;
  CsvRead result = CsvRead::Ok;
  for (;;) {
    const int32_t rc = CsvGetNextStr(reader, field.data(), kFieldBuffer, nullptr);
    if (rc == CSV_NO_MORE_DATA) break;
    if (rc != CSV_FIELD && rc != CSV_LAST_FIELD) {
      result = CsvRead::BadFormat;
      break;
    }
    current.emplace_back(field.data());
    if (current.size() >= kMaxFields) {
      result = CsvRead::BadFormat;
      break;
    }
    if (rc == CSV_LAST_FIELD) {
      if (!(current.size() == 1 && current[0].empty())) rows.push_back(std::move(current));
      current.clear();
    }
  }
  if (result == CsvRead::Ok && !current.empty()) rows.push_back(std::move(current));
  CloseCsvFile(reader);
  return result;
}

// The text the framework shows when a file cannot be opened for writing.
std::string fileErrorText(const char* path, uint32_t code) {
  const std::string name = path ? path : "";
  switch (code) {
    case platform::kErrorFileNotFound:
    case platform::kErrorPathNotFound: return name + " が見つかりません。";
    case platform::kErrorAccessDenied:
    case platform::kErrorWriteProtect: return name + " にアクセスできません。";
    case platform::kErrorSharingViolation:
    case platform::kErrorLockViolation: return name + " は他のプロセスが使用中です。";
    case platform::kErrorDiskFull:
    case platform::kErrorHandleDiskFull: return name + " の書き込み中にディスクがいっぱいになりました。";
    case platform::kErrorInvalidName:
    case platform::kErrorFilenameTooLong: return name + " は無効なファイル名です。";
    default: return name + " を開くときに予期しないエラーが発生しました。";
  }
}

}  // namespace

// A master as the CSV functions see it: its table, its columns, whether
// record 0 keeps its totals (and where), and what the import says when those
// totals forbid emptying it.
struct CRegCom::CsvMaster {
  TableIndex table;
  const Column* columns;
  size_t columnCount;
  bool totalsRecord;         // record 0 holds two registered totals
  uint16_t totalsOffset;     // the first of them
  const char* registeredText;

  static const CsvMaster& ofCustomers();
  static const CsvMaster& ofDepartments();
  static const CsvMaster& ofPlu();
};

int32_t CRegCom::exportCsv(const CsvMaster& master, const char* path) {
  if (notOpen("CRegCom")) return -1;
  if (!path) {
    ReportError("CRegCom", ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  uint32_t error = 0;
  const ZemtaFileHandle file = ZemtaOpenFileWait(path, ZEMTA_GENERIC_WRITE, 0, ZEMTA_CREATE_ALWAYS,
                                                 ZEMTA_FILE_ATTRIBUTE_NORMAL, nullptr, owner_, &error, 0);
  if (!file) {
    showBox(fileErrorText(path, error ? error : platform::lastError()), platform::kMbIconWarning);
    return -1;
  }
  CsvHandle writer = CsvCreate(nullptr, 0, ',', 0);
  const FileDBHandle table = tables_[master.table];
  bool tableOpen = false;
  // Writes the writer's lines to the file and empties it.
  auto flush = [&]() -> bool {
    uint32_t needed = 0;
    if (CsvGetStr(writer, nullptr, 0, &needed) != 0 || needed == 0) return false;
    std::vector<char> textBuffer(needed);
    if (CsvGetStr(writer, textBuffer.data(), static_cast<int32_t>(needed), nullptr) < 0) return false;
    uint32_t written = 0;
    return ZemtaWriteFile(file, textBuffer.data(), needed - 1, &written, 0, ZEMTA_FILE_CURRENT) != 0 &&
           written == needed - 1;
  };
  auto finish = [&](int32_t result) {
    if (tableOpen) FileDBCloseEx(table);
    if (writer) CsvDelete(writer);
    ZemtaCloseFile(file);
    return result;
  };
  if (!writer) return finish(-1);

  std::vector<const Column*> columns;
  for (size_t i = 0; i < master.columnCount; ++i)
    if (master.columns[i].exported) columns.push_back(&master.columns[i]);
  for (size_t i = 0; i < columns.size(); ++i)
    if (CsvSetNextStr(writer, columns[i]->name, -1, i + 1 == columns.size()) < 0) return finish(-1);
  if (!flush()) return finish(-1);

  if (FileDBOpenEx(table, FILEDB_MODE_READ_WRITE) != 0) return finish(-1);
  tableOpen = true;
  const int32_t count = FileDBRecGetSize(table);
  if (count < 0) return finish(-1);
  std::vector<uint8_t> record(kTables[master.table].recordLen);
  for (int32_t n = master.totalsRecord ? 1 : 0; n < count; ++n) {
    if (FileDBRecRead(table, n, record.data()) != 0) return finish(-1);
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& c = *columns[i];
      const int32_t endOfLine = i + 1 == columns.size();
      const int32_t rc = c.kind == ColumnKind::Text
                             ? CsvSetNextStr(writer, trimmedText(record.data(), c.offset, c.size).c_str(), -1, endOfLine)
                             : CsvSetNextInt64(writer, columnValue(record.data(), c), endOfLine);
      if (rc < 0) return finish(-1);
    }
    if (!flush()) return finish(-1);
  }
  return finish(0);
}

int32_t CRegCom::importCsv(const CsvMaster& master, const char* path) {
  if (notOpen("CRegCom")) return -1;
  // The file first: until it has been read whole and found sound, the master
  // is not touched, so a wrong or missing file costs no record.
  CsvRows rows;
  switch (readCsvFile(path, rows)) {
    case CsvRead::Ok: break;
    case CsvRead::OpenFailed:
      showBox(kOpenFailed, platform::kMbIconWarning);
      return -1;
    case CsvRead::BadFormat:
      showBox(kBadFormat, platform::kMbIconWarning);
      return -1;
  }
  // Column positions of the first line; a file that names none of the
  // master's columns is some other file.
  std::vector<const Column*> mapping;
  bool anyKnown = false;
  if (!rows.empty()) {
    for (const std::string& name : rows[0]) {
      const Column* found = nullptr;
      for (size_t i = 0; i < master.columnCount && !found; ++i)
        if (name == master.columns[i].name) found = &master.columns[i];
      mapping.push_back(found);
      anyKnown = anyKnown || found;
    }
    if (!anyKnown) {
      showBox(kBadFormat, platform::kMbIconWarning);
      return -1;
    }
  }

  const FileDBHandle table = tables_[master.table];
  const uint32_t recordLen = kTables[master.table].recordLen;
  if (FileDBOpenEx(table, FILEDB_MODE_READ_WRITE) != 0) return -1;
  auto finish = [&](int32_t result) {
    FileDBCloseEx(table);
    return result;
  };
  int32_t count = FileDBRecGetSize(table);
  if (count < 0) return finish(-1);
  std::vector<uint8_t> record(recordLen, 0);
  if (master.totalsRecord) {
    const int32_t rc = FileDBRecRead(table, 0, record.data());
    if (rc < 0) return finish(-1);
    if (rc == 1) {
      std::memset(record.data(), 0, recordLen);
      if (FileDBRecWrite(table, 0, record.data()) != 0) return finish(-1);
      count = 1;
    }
  }
  const int32_t first = master.totalsRecord ? 1 : 0;
  bool append = true;
  if (count > first) {
    platform::MessageBoxRequest ask;
    ask.owner = owner_;
    ask.text = kAskDeleteAll;
    ask.style = platform::kMbYesNo | platform::kMbIconQuestion;
    if (platform::showMessageBox(ask) == platform::kIdYes) {
      if (master.totalsRecord &&
          (getI32(record.data(), master.totalsOffset) != 0 || getI32(record.data(), master.totalsOffset + 4) != 0)) {
        showBox(master.registeredText, platform::kMbIconInformation);
        return finish(0);
      }
      if (FileDBRecDelete(table, first, count - 1, nullptr) != 0) return finish(-1);
    } else {
      append = false;
    }
  }

  std::vector<uint8_t> incoming(recordLen);
  for (size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string>& fields = rows[r];
    std::memset(incoming.data(), 0, recordLen);
    const size_t used = fields.size() < mapping.size() ? fields.size() : mapping.size();
    for (size_t i = 0; i < used; ++i)
      if (mapping[i]) storeColumn(incoming.data(), *mapping[i], fields[i]);

    int32_t target = -1;
    if (!append) {
      std::vector<uint8_t> existing(recordLen);
      if (master.table == kCustomerTable)
        target = GetCustomerRecord(getText(incoming.data(), customer::kCode.offset, customer::kCode.size).c_str(),
                                   existing.data());
      else if (master.table == kDepartmentTable)
        target = GetDepartmentRecord(getU16(incoming.data(), department::kNumber.offset), existing.data());
      else
        target = GetPluRecord(getText(incoming.data(), plu::kCode.offset, plu::kCode.size).c_str(), existing.data());
      // Record 0 of departments and PLU items keeps the totals; it is never
      // a department or an item to merge into.
      if (target < first) target = -1;
      if (target >= 0) {
        for (size_t i = 0; i < used; ++i)
          if (mapping[i]) storeColumn(existing.data(), *mapping[i], fields[i]);
        if (FileDBRecWrite(table, target, existing.data()) != 0) return finish(-1);
        continue;
      }
    }
    const int32_t next = FileDBRecGetSize(table);
    if (next < 0 || FileDBRecWrite(table, next, incoming.data()) != 0) return finish(-1);
  }
  return finish(0);
}

const CRegCom::CsvMaster& CRegCom::CsvMaster::ofCustomers() {
  static const CsvMaster m{kCustomerTable, kCustomerColumns, std::size(kCustomerColumns), false, 0, nullptr};
  return m;
}
const CRegCom::CsvMaster& CRegCom::CsvMaster::ofDepartments() {
  static const CsvMaster m{kDepartmentTable, kDepartmentColumns, std::size(kDepartmentColumns), true,
                           department::kCount.offset, kDepartmentsRegistered};
  return m;
}
const CRegCom::CsvMaster& CRegCom::CsvMaster::ofPlu() {
  static const CsvMaster m{kPluTable, kPluColumns, std::size(kPluColumns), true, plu::kCount.offset, kPluRegistered};
  return m;
}

int32_t CRegCom::ExportCustomersCsv(const char* path) { return exportCsv(CsvMaster::ofCustomers(), path); }
int32_t CRegCom::ExportDepartmentsCsv(const char* path) { return exportCsv(CsvMaster::ofDepartments(), path); }
int32_t CRegCom::ExportPluCsv(const char* path) { return exportCsv(CsvMaster::ofPlu(), path); }
int32_t CRegCom::ImportCustomersCsv(const char* path) { return importCsv(CsvMaster::ofCustomers(), path); }
int32_t CRegCom::ImportDepartmentsCsv(const char* path) { return importCsv(CsvMaster::ofDepartments(), path); }
int32_t CRegCom::ImportPluCsv(const char* path) { return importCsv(CsvMaster::ofPlu(), path); }

int32_t CRegCom::ImportReceiptCsv(const char* path, MemoryBlockHandle block) {
  if (!block) return -1;
  CsvRows rows;
  switch (readCsvFile(path, rows)) {
    case CsvRead::Ok: break;
    case CsvRead::OpenFailed: return -1;
    case CsvRead::BadFormat:
      showBox(kBadFormat, platform::kMbIconWarning);
      return -1;
  }
  if (rows.empty()) return 0;
  std::vector<const SalesColumn*> mapping;
  for (const std::string& name : rows[0]) {
    const SalesColumn* found = nullptr;
    for (const SalesColumn& c : kSalesColumns)
      if (name == c.name) found = &c;
    mapping.push_back(found);
  }
  uint8_t record[line::kSize];
  for (size_t r = 1; r < rows.size(); ++r) {
    std::memset(record, 0, sizeof record);
    const std::vector<std::string>& fields = rows[r];
    const size_t used = fields.size() < mapping.size() ? fields.size() : mapping.size();
    for (size_t i = 0; i < used; ++i) {
      const SalesColumn* c = mapping[i];
      if (!c) continue;
      const std::string& value = fields[i];
      const uint16_t keyCode = getU16(record, line::kKeyCode);
      const uint16_t flags = getU16(record, line::kFlags);
      const uint32_t n = static_cast<uint32_t>(parseNumber(value));
      switch (c->kind) {
        case LineColumn::Table: putU16(record, line::kKeyCode, makeKeyCode(n & 0xF, keyNumber(keyCode))); break;
        case LineColumn::Record: putU16(record, line::kKeyCode, makeKeyCode(keyType(keyCode), n)); break;
        case LineColumn::DisplayName:
          // A customer line's name runs on over the print name.
          if (keyType(keyCode) == kKeyCustomer)
            putFieldText(record, line::kDisplayName, line::kCustomerNameLen, value);
          else
            putFieldText(record, line::kDisplayName, line::kDisplayNameLen, value);
          break;
        case LineColumn::PrintName:
          if (keyType(keyCode) != kKeyCustomer) putFieldText(record, line::kPrintName, line::kPrintNameLen, value);
          break;
        case LineColumn::Code: putFieldText(record, line::kCode, line::kCodeLen, value); break;
        case LineColumn::SubCode: putFieldText(record, line::kSubCode, line::kSubCodeLen, value); break;
        case LineColumn::Flag:
          putU16(record, line::kFlags, static_cast<uint16_t>((n & 1) ? (flags | c->flagBit) : (flags & ~c->flagBit)));
          break;
        case LineColumn::Rate:
          putU16(record, line::kFlags,
                 static_cast<uint16_t>((flags & ~(3u << line::kRateShift)) | ((n & 3u) << line::kRateShift)));
          break;
        case LineColumn::Unit: putU32(record, line::kUnit, n); break;
        case LineColumn::UnitPrice: putU32(record, line::kUnitPrice, n); break;
        case LineColumn::Price: putU32(record, line::kPrice, n); break;
      }
    }
    if (WriteDataMemory(block, record, line::kSize) != static_cast<int32_t>(line::kSize)) return -1;
  }
  return 0;
}

}  // namespace varnex::reg
