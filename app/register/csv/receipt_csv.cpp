// The receipt CSV: the line records of one transaction as rows of a CSV text
// file, ended by a row standing for the transaction's closing record.
//
// File: CSV with the separator ",", lines ending in LF. A new (empty) file
// gets one header row first; then one row per line record and the closing
// row. Columns, in order:
//
//   日時                 only in the receipt CSV of the settings with its time
//                        column on: "%Y/%m/%d %H:%M:%S", the same on every row
//   テーブル№           key type (bits 12-15 of the key word)
//   レコード№           key code (bits 0-11)
//   表示名               display name (24 bytes), trailing blanks removed; on a
//                        heading line (key type 0) the first 36 bytes
//   印刷名               print name (12 bytes at 24); empty on a heading line
//   コード, サブコード   14 bytes at 36 and at 50
//   内税指定 .. 特別地方税非課税指定   flag bits 11, 12, 13, 14 (0 or 1)
//   税率指定             flag bits 4-5
//   ポイント対象指定     flag bit 15
//   数量                 quantity × sign (sign -1 for a refund, mode 197)
//   単価                 unit price
//   金額                 price × sign
//
// The closing row: display name the export time "%Y/%m/%d %H:%M", print name
// bytes 16-23 of the manager's clerk record, code bytes 0-13 of the settings,
// flag word the manager's clerk number, key word 0xF000 | mode code, quantity
// the item quantity, unit price the receipt number ((last + 1) mod 10000)
// plus the settings' receipt-number addend, price the caller's value.
//
// Names: the receipt CSV of the settings is its path format through strftime,
// always appended to. A sale saved under a name of the caller's choosing uses
// the caller's path as it is. A name made from a pattern (caller's value 0)
// expands the pattern with strftime; the pattern's own placeholder "C" of its
// file-name part (never a letter that the date brings, such as the "c" of
// "Dec") becomes the check digit of the name's characters before it, and
// what follows it is cut. A made name never replaces an existing file.
#include "app/register/csv/receipt_csv.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "platform/base/clock.h"
#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "zemta/csv.h"
#include "zemta/tax.h"

namespace varnex::reg {
namespace {

constexpr uint32_t kPathSize = 260;
constexpr int32_t kRowSize = 4096;

const char* const kHeader[] = {"テーブル№", "レコード№", "表示名", "印刷名", "コード", "サブコード",
                               "内税指定", "消費税非課税指定", "消費税免税指定", "特別地方税非課税指定",
                               "税率指定", "ポイント対象指定", "数量", "単価", "金額"};

std::tm tmOf(const platform::LocalTime& now) {
  std::tm t{};
  t.tm_year = now.year - 1900;
  t.tm_mon = now.month - 1;
  t.tm_mday = now.day;
  t.tm_hour = now.hour;
  t.tm_min = now.minute;
  t.tm_sec = now.second;
  t.tm_wday = now.dayOfWeek;
  t.tm_isdst = -1;
  return t;
}

std::string formatTime(const std::string& format, const std::tm& t) {
  if (format.empty()) return {};
  std::vector<char> out(1024 + format.size() * 8);
  const size_t n = std::strftime(out.data(), out.size(), format.c_str(), &t);
  return std::string(out.data(), n);
}

// A fixed-width text field read to its width or its zero, trailing blanks
// removed.
std::string fieldText(const uint8_t* record, size_t offset, size_t width) {
  std::string s = getText(record, offset, width);
  while (!s.empty() && (s.back() == ' ')) s.pop_back();
  return s;
}

size_t nameStart(const std::string& path) {
  const size_t cut = platform::lastSeparator(path, true);
  return cut == std::string::npos ? 0 : cut + 1;
}

// The check digit of data by the library's own rule.
char checkDigitOf(const std::string& data) {
  std::string probe = data + '0';
  for (char d = '0'; d <= '9'; ++d) {
    probe.back() = d;
    if (BccCheck(probe.c_str(), static_cast<int32_t>(probe.size())) == 1) return d;
  }
  return '0';
}

}  // namespace

// The name a pattern makes: see the comment at the top.
std::string MakeCheckDigitName(const std::string& pattern, const std::tm& time) {
  const size_t start = nameStart(pattern);
  size_t placeholder = std::string::npos;
  for (size_t i = start; i < pattern.size(); ++i) {
    if (platform::cp932::charLength(pattern, i) == 2) {
      ++i;  // a trail byte is never the placeholder
      continue;
    }
    if (pattern[i] == '%') {
      ++i;  // the conversion's letter (a modifier E or O takes one more)
      if (i < pattern.size() && (pattern[i] == 'E' || pattern[i] == 'O')) ++i;
      continue;
    }
    if (pattern[i] == 'C' || pattern[i] == 'c') {
      placeholder = i;
      break;
    }
  }
  if (placeholder == std::string::npos) return formatTime(pattern, time) + ".csv";
  const std::string before = formatTime(pattern.substr(0, placeholder), time);
  const std::string name = before.substr(nameStart(before));
  return before + checkDigitOf(name) + ".csv";
}

int32_t CRegCom::ExportReceiptCsv(uint32_t modeCode, MemoryBlockHandle block, int32_t quantity, int32_t lastReceipt,
                                  int32_t callerValue, char* pathBuffer) {
  const platform::LocalTime now = platform::localTime();
  const std::tm nowTm = tmOf(now);
  std::string path;
  uint32_t disposition;
  bool timeColumn = false;
  if (pathBuffer) {
    const std::string given(pathBuffer, std::find(pathBuffer, pathBuffer + kPathSize, 0));
    if (callerValue != 0) {
      path = given;
      disposition = platform::kCreateAlways;
    } else {
      path = MakeCheckDigitName(given, nowTm);
      if (path.size() >= kPathSize) return -1;
      std::memcpy(pathBuffer, path.c_str(), path.size() + 1);
      // A made name never replaces a file that is already there.
      disposition = platform::kCreateNew;
    }
  } else {
    if (!saveReceiptCsv_) return 0;
    path = formatTime(receiptCsvPathFormat_, nowTm);
    disposition = platform::kOpenAlways;
    timeColumn = csvTimeColumn_ != 0;
  }
  if (path.empty()) return -1;

  platform::File file = platform::File::open(path, platform::kFileWrite, platform::kShareRead, disposition);
  if (!file.isOpen()) {
    ReportError(nullptr, platform::lastError());
    return -1;
  }
  if (file.seek(0, platform::kSeekEnd) < 0) return -1;
  const bool empty = file.size() == 0;
  // The commit's receipt CSV reaches the disk with the commit's next checkpoint.
  if (!pathBuffer) syncAtCheckpoint(file.path());

  CsvHandle csv = CsvCreate(nullptr, 0, ',', 0);
  if (!csv) return -1;
  std::vector<char> row(kRowSize);
  auto flush = [&]() {
    // A row that fills the whole buffer may have been cut: not written.
    const int32_t n = CsvGetStr(csv, row.data(), kRowSize);
    if (n <= 0 || n >= kRowSize) return false;
    const uint32_t length = static_cast<uint32_t>(n) - 1;  // without the zero
    uint32_t done = 0;
    return file.write(row.data(), length, &done) && done == length;
  };
  auto finish = [&](int32_t result) {
    CsvDelete(csv);
    file.close();
    return result;
  };
  char stamp[32] = {};
  std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &nowTm);

  if (empty) {
    if (timeColumn && CsvSetNextStr(csv, "日時", -1, 0) < 0) return finish(-1);
    for (size_t i = 0; i < std::size(kHeader); ++i)
      if (CsvSetNextStr(csv, kHeader[i], -1, i + 1 == std::size(kHeader)) < 0) return finish(-1);
    if (!flush()) return finish(-1);
  }
  if (!block) return finish(0);
  const int32_t size = SeekMemory(block, 0, MEMORY_SEEK_END);
  if (size < static_cast<int32_t>(line::kSize)) return finish(0);
  int32_t rows = size / static_cast<int32_t>(line::kSize);
  {
    uint8_t last[line::kSize];
    SeekMemory(block, (rows - 1) * static_cast<int32_t>(line::kSize), MEMORY_SEEK_BEGIN);
    if (ReadDataMemory(block, last, line::kSize) == static_cast<int32_t>(line::kSize) &&
        keyType(getU16(last, line::kKeyCode)) == kKeyClosing)
      --rows;
  }
  const int64_t sign = modeCode == kModeRefund ? -1 : 1;

  auto writeRow = [&](const uint8_t* r) {
    const uint16_t key = getU16(r, line::kKeyCode), flags = getU16(r, line::kFlags);
    const uint16_t type = keyType(key);
    bool ok = true;
    auto text = [&](const std::string& s) { ok = ok && CsvSetNextStr(csv, s.c_str(), -1, 0) >= 0; };
    auto number = [&](int64_t v, bool last = false) { ok = ok && CsvSetNextInt64(csv, v, last ? 1 : 0) >= 0; };
    if (timeColumn) text(stamp);
    number(type);
    number(keyNumber(key));
    if (type == kKeyCustomer) {
      text(fieldText(r, line::kDisplayName, line::kDisplayNameLen + line::kPrintNameLen));
      text("");
    } else {
      text(fieldText(r, line::kDisplayName, line::kDisplayNameLen));
      text(fieldText(r, line::kPrintName, line::kPrintNameLen));
    }
    text(fieldText(r, line::kCode, line::kCodeLen));
    text(fieldText(r, line::kSubCode, line::kSubCodeLen));
    number((flags & line::kInnerTax) ? 1 : 0);
    number((flags & line::kNonTaxable) ? 1 : 0);
    number((flags & line::kTaxExempt) ? 1 : 0);
    number((flags & line::kNoSpecialTax) ? 1 : 0);
    number((flags >> line::kRateShift) & 3);
    number((flags & line::kPointTarget) ? 1 : 0);
    number(getI32(r, line::kUnit) * sign);
    number(getI32(r, line::kUnitPrice));
    number(getI32(r, line::kPrice) * sign, true);
    return ok && flush();
  };

  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  for (int32_t i = 0; i < rows; ++i) {
    uint8_t r[line::kSize];
    // A record that cannot be read ends the rows.
    if (ReadDataMemory(block, r, line::kSize) != static_cast<int32_t>(line::kSize)) return finish(0);
    if (!writeRow(r)) return finish(-1);
  }

  uint8_t closing[line::kSize] = {};
  char minute[32] = {};
  std::strftime(minute, sizeof minute, "%Y/%m/%d %H:%M", &nowTm);
  putText(closing, line::kDisplayName, line::kDisplayNameLen, minute);
  if (manager_) std::memcpy(closing + line::kPrintName, manager_ + 16, 8);
  if (settings_) std::memcpy(closing + line::kCode, settings_, line::kCodeLen);
  putU16(closing, line::kFlags, manager_ ? getU16(manager_, clerk::kNumber.offset) : 0);
  putU16(closing, line::kKeyCode, closingKey(static_cast<uint16_t>(modeCode)));
  putI32(closing, line::kUnit, quantity);
  const int32_t receipt = static_cast<int32_t>((static_cast<uint32_t>(lastReceipt) + 1u) % 10000u);
  putI32(closing, line::kUnitPrice,
         receipt + (settings_ ? getI32(settings_, settings::kReceiptNumberAdd.offset) : 0));
  putI32(closing, line::kPrice, callerValue);
  return finish(writeRow(closing) ? 0 : -1);
}

}  // namespace varnex::reg
