// The reading views of the register: X readings (点検: totals shown and
// printed, nothing reset), Z readings (精算), the cash count of the cash
// balance report, the day-end settlement run that chains Z reports, and the
// receipt journal of a day (see reg_sale.h).
//
// A report is no document of its own: it is a run of 96-byte line records
// written to the view's line block exactly like the lines of a sale, listed,
// printed when lines print as they come, and committed at the end with the
// reading's register mode code (193 X, 192 Z), so that it lands in the day's
// receipt file beside the sales. A Z reading resets nothing itself: the
// commit posts its item and total lines, which take what the report showed
// off the counters, in one unit that is undone as a whole when any write of
// it fails.
//
// Report lines by kind (key code, fields):
//   heading            0xC000 | kind (CRegCom::BuildReportHeader)
//   1-3 item           0xA000 | number; names, PLU code; unit = count,
//                      unit price = the table's total amount, price = amount,
//                      unit net = cost, net price = margin-base sales
//   4 clerk            0xB040 twice: net count and amount, then (flag 0x200)
//                      gross; unit price = clerk number, unit net = record
//   5, 6 key/slot      0xB000 | code; unit = count, price = amount
//   6 average          0xB04B 客平均: unit = items x 100 / customers
//   labels             system lines 20-27 and 30-46 (value in price)
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/message_box.h"
#include "platform/base/profile.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "zemta/date.h"
#include "zemta/filesearch.h"
#include "zemta/scan.h"

namespace varnex::reg {

namespace {

constexpr int32_t kSteps = 8;
constexpr uint16_t kStepNoPrint = 0x4000, kStepPrintAgain = 0x8000;
constexpr int32_t kFirstX = 31, kFirstZ = 39, kJournal = 38, kSettlementRun = 46;
constexpr uint16_t kClerkLineCode = kReportReceiptCount;  // 0xB040
constexpr uint16_t kAverageCode = kFunctionPersons;       // 0xB04B, in hundredths

// The cash count's rows: ten denominations, the cheque row, the total, and
// after them the balance.
constexpr uint16_t kCountLabels[12] = {30, 31, 46, 32, 33, 34, 35, 36, 37, 38, 39, 40};
constexpr int32_t kDenominations[10] = {10000, 5000, 2000, 1000, 500, 100, 50, 10, 5, 1};
constexpr int32_t kCountRows = 11;         // denominations and the cheque row
constexpr int32_t kFromEndFirstRow = 13;   // the first denomination, counted from the end
constexpr size_t kDenominationDigits = 5, kChequeDigits = 9;

uint16_t keyOf(const uint8_t* l) { return getU16(l, line::kKeyCode); }
uint16_t flagsOf(const uint8_t* l) { return getU16(l, line::kFlags); }

bool fitsIn32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// Report kind of a report number, 0 for any other number.
int32_t kindOf(int32_t number) {
  if (number >= kFirstX && number <= 37) return 1 + number - kFirstX;
  if (number >= kFirstZ && number <= 45) return 1 + number - kFirstZ;
  return 0;
}

// The name of a reading for its messages.
const char* readingName(int32_t viewMode) {
  static const char* const kX[] = {"部門点検", "ＰＬＵ点検", "グループ点検", "担当者点検", "取引関係点検", "固定合計器点検",
                                   "現金収支点検"};
  static const char* const kZ[] = {"部門精算", "ＰＬＵ精算", "グループ精算", "担当者精算", "取引関係精算", "固定合計器精算",
                                   "現金収支精算", "精算"};
  if (viewMode >= kFirstX && viewMode <= 37) return kX[viewMode - kFirstX];
  if (viewMode >= kFirstZ && viewMode <= kSettlementRun) return kZ[viewMode - kFirstZ];
  return "レシート点検";
}

// The balance as the finish question shows it: commas, the yen sign right
// before the first digit of an amount that is not negative.
std::string balanceText(int64_t balance) {
  char field[32];
  std::snprintf(field, sizeof field, "%*lld", 10, static_cast<long long>(balance));
  std::string text = field;
  StrCnvf(STRCNVF_COMMA, static_cast<uint32_t>(text.size()), text.data());
  size_t lead = 0;
  while (lead < text.size() && text[lead] == ' ') ++lead;
  if (balance >= 0 && lead > 0) text[--lead] = 0x5C;
  return text.substr(lead);
}

}  // namespace

uint16_t CRegSale::StepWord(int32_t step) const {
  const uint8_t* s = engine_->Settings();
  if (!s || step < 0 || step >= kSteps) return 0;
  return getU16(s, settings::kReportKind1.offset + 2 * step);
}

// ---- set-up ----------------------------------------------------------------------

int32_t CRegSale::SetUpReading(uint16_t journalDate) {
  if (!IsReadingView()) return 0;
  settlementStep_ = -1;
  cashCount_ = false;
  countCursor_ = -1;
  earlierStep_ = false;
  lineCount_ = 0;
  if (block_) DeleteMemory(block_);
  block_ = nullptr;
  screen_->DeleteListRows();
  if (!app_->LoadGeneralSettings()) return 0;
  if (journalView_) return ListJournal(journalDate);
  block_ = CreateMemory(nullptr, 0, 4096);
  if (!block_) return 0;
  if (viewMode_ == kSettlementRun) {
    settlementStep_ = 0;
    return RunSettlement();
  }
  if (BuildReport(viewMode_) != 0) {
    platform::ui::messageBox(nullptr, std::string(readingName(viewMode_)) + "のレポートを作成できませんでした", "",
                             platform::kMbIconWarning);
    return 0;
  }
  if (cashCount_) {
    MoveCountCursor(lineCount_ - kFromEndFirstRow);
    ShowModifierStatus();
    return 1;
  }
  if (!CommitReading()) return 0;
  PrintLine();
  if (!app_->m_bPrintEachLine) app_->PrintReceipt(block_, 0, 0, -1, 0, 0, nullptr);
  if (app_->m_pPrinterDC) app_->PrintReceiptText("");
  if (viewMode_ == 40 && !ClearLinkedPlu()) return 0;
  screen_->ShowLastListRow();
  return 1;
}

// ---- the report builder ------------------------------------------------------------

// The four steps of every report line: its list row, the line count, the
// block, the printer.
int32_t CRegSale::WriteReportLine() {
  if (!block_) return -1;
  screen_->SetListRow(current_, lineCount_);
  const int32_t at = lineCount_ * static_cast<int32_t>(line::kSize);
  if (SeekMemory(block_, at, MEMORY_SEEK_BEGIN) != at ||
      WriteDataMemory(block_, current_, line::kSize) != static_cast<int32_t>(line::kSize))
    return -1;
  ++lineCount_;
  return PrintLine() == 0 ? 0 : -1;
}

int32_t CRegSale::ReportHeading(uint16_t kind) {
  engine_->BuildReportHeader(current_, kind, app_->m_bPrnSA, xReadingView_ ? 1 : 0);
  return WriteReportLine();
}

int32_t CRegSale::ReportLabel(uint16_t code, int32_t value) {
  BuildSystemLine(code, value, 0);
  return WriteReportLine();
}

int32_t CRegSale::BuildReport(int32_t number) {
  const int32_t kind = kindOf(number);
  int32_t result = 0;
  switch (kind) {
    case 1: case 2: case 3: result = ItemReport(kind); break;
    case 4: result = ClerkReport(); break;
    case 5: result = TransKeyReport(); break;
    case 6: result = FixedTotalReport(number); break;
    case 7: result = CashBalanceReport(); break;
    default: break;
  }
  if (result == 0 && !cashCount_) screen_->AddEmptyListRow();
  return result;
}

// Departments, PLU items, groups: every item with sales in index order,
// then the sums of record 0 and the gross profit.
int32_t CRegSale::ItemReport(int32_t kind) {
  struct Shape {
    TableIndex table;
    const FieldPlace* number;
    const FieldPlace* counters[4];  // count, amount, cost, margin-base sales
  };
  static const Shape kShapes[3] = {
      {kDepartmentTable, &department::kNumber,
       {&department::kCount, &department::kAmount, &department::kCost, &department::kMarginBase}},
      {kPluTable, &plu::kDepartment, {&plu::kCount, &plu::kAmount, &plu::kCost, &plu::kMarginBase}},
      {kGroupTable, &group::kNumber, {&group::kCount, &group::kAmount, &group::kCost, &group::kMarginBase}},
  };
  const Shape& shape = kShapes[kind - 1];
  FileDBHandle table = engine_->Table(shape.table);
  std::vector<uint8_t> record(kTables[shape.table].recordLen, 0);
  if (ReportHeading(static_cast<uint16_t>(kind)) != 0) return -1;

  // The table is held open for the whole report: one open for all records.
  const bool held = FileDBOpenEx(table, FILEDB_MODE_READ) == 0;
  auto release = [&](int32_t r) {
    if (held) FileDBCloseEx(table);
    return r;
  };
  if (FileDBRecRead(table, 0, record.data()) != 0) return release(-1);
  int32_t totals[4];
  for (int i = 0; i < 4; ++i) totals[i] = getI32(record.data(), shape.counters[i]->offset);

  FileRecList list{};
  const std::vector<uint8_t> low(256, 0x00), high(256, 0xFF);
  if (FileIdxSear(table, 0, low.data(), high.data(), &list, 0, 0) < 0 || !list.items) {
    FileDeleteRecList(&list);
    return release(-1);
  }
  int32_t result = 0;
  for (int32_t i = 0; i < list.count && result == 0; ++i) {
    const int32_t n = static_cast<int32_t>(list.items[i]);
    if (n == 0) continue;
    if (FileDBRecRead(table, n, record.data()) != 0) {
      result = -1;
      break;
    }
    const int32_t count = getI32(record.data(), shape.counters[0]->offset);
    const int32_t amount = getI32(record.data(), shape.counters[1]->offset);
    if (count == 0 && amount == 0) continue;
    std::memset(current_, 0, sizeof current_);
    std::memcpy(current_, record.data(), line::kDisplayNameLen + line::kPrintNameLen);
    if (shape.table == kPluTable) std::memcpy(current_ + line::kCode, record.data() + plu::kCode.offset, line::kCodeLen);
    putU16(current_, line::kKeyCode,
           makeKeyCode(kKeyReportItem, static_cast<uint16_t>(getU16(record.data(), shape.number->offset) & 0xFFF)));
    putI32(current_, line::kUnit, count);
    putI32(current_, line::kUnitPrice, totals[1]);
    putI32(current_, line::kPrice, amount);
    putI32(current_, line::kUnitNet, getI32(record.data(), shape.counters[2]->offset));
    putI32(current_, line::kNetPrice, getI32(record.data(), shape.counters[3]->offset));
    result = WriteReportLine();
  }
  FileDeleteRecList(&list);
  release(0);
  if (result != 0) return -1;

  engine_->BuildTotalLine(current_, static_cast<uint16_t>(kind), 0, app_->m_bPrnSA, 0);
  if (WriteReportLine() != 0 || ReportLabel(kLineCount, totals[0]) != 0 || ReportLabel(kLineSales, totals[1]) != 0)
    return -1;
  const int32_t amount = totals[1], cost = totals[2], marginBase = totals[3];
  if (amount != 0 && cost != 0 && marginBase != 0) {
    if (marginBase != amount &&
        ReportLabel(kLineMarginShare, static_cast<int32_t>(static_cast<int64_t>(marginBase) * 10000 / amount)) != 0)
      return -1;
    if (ReportLabel(kLineMargin, static_cast<int32_t>(static_cast<uint32_t>(marginBase) - static_cast<uint32_t>(cost))) != 0)
      return -1;
  }
  return 0;
}

// Clerks: two lines each (net, then gross), and the four sums.
int32_t CRegSale::ClerkReport() {
  if (ReportHeading(kReportClerks) != 0) return -1;
  FileDBHandle table = engine_->Table(kClerkTable);
  const int32_t records = FileDBRecGetSize(table);
  if (records < 0) return -1;
  int64_t sums[4] = {};
  uint8_t record[48];
  for (int32_t n = 0; n < records; ++n) {
    if (FileDBRecRead(table, n, record) != 0) return -1;
    const int32_t v[4] = {getI32(record, clerk::kNetCount.offset), getI32(record, clerk::kNetAmount.offset),
                          getI32(record, clerk::kGrossCount.offset), getI32(record, clerk::kGrossAmount.offset)};
    if (!v[0] && !v[1] && !v[2] && !v[3]) continue;
    const int32_t number = getU16(record, clerk::kNumber.offset);
    for (int pass = 0; pass < 2; ++pass) {
      std::memset(current_, 0, sizeof current_);
      if (pass == 0) {
        std::memcpy(current_, record, clerk::kName.size);
        std::memcpy(current_ + line::kPrintName, record + clerk::kPrintName.offset, clerk::kPrintName.size);
      } else {
        putU16(current_, line::kFlags, line::kCcts);
      }
      putU16(current_, line::kKeyCode, makeKeyCode(kKeyReportTotal, kClerkLineCode));
      putI32(current_, line::kUnit, v[2 * pass]);
      putI32(current_, line::kUnitPrice, number);
      putI32(current_, line::kPrice, v[2 * pass + 1]);
      putI32(current_, line::kUnitNet, n);
      if (WriteReportLine() != 0) return -1;
    }
    for (int i = 0; i < 4; ++i) sums[i] += v[i];
  }
  engine_->BuildTotalLine(current_, kReportClerks, 0, app_->m_bPrnSA, 0);
  if (WriteReportLine() != 0) return -1;
  const uint16_t labels[4] = {kLineNetCount, kLineNetAmount, kLineGrossCount, kLineGrossAmount};
  for (int i = 0; i < 4; ++i)
    if (ReportLabel(labels[i], static_cast<int32_t>(sums[i])) != 0) return -1;
  return 0;
}

// The keys of "取引１" (codes from 1) and "取引２" (codes from 20) that were used.
int32_t CRegSale::TransKeyReport() {
  if (ReportHeading(kReportTransKeys) != 0) return -1;
  struct Table {
    TableIndex table;
    uint16_t base;
  };
  for (Table t : {Table{kTrans1Table, transkey::kTrans1Base}, Table{kTrans2Table, transkey::kTrans2Base}}) {
    FileDBHandle table = engine_->Table(t.table);
    const int32_t records = FileDBRecGetSize(table);
    if (records < 0) return -1;
    uint8_t record[48];
    for (int32_t n = 0; n < records; ++n) {
      if (FileDBRecRead(table, n, record) != 0) return -1;
      const int32_t count = getI32(record, transkey::kCount.offset), amount = getI32(record, transkey::kAmount.offset);
      if (count == 0 && amount == 0) continue;
      const uint16_t code = static_cast<uint16_t>(n + t.base);
      std::memset(current_, 0, sizeof current_);
      std::memcpy(current_, record, line::kDisplayNameLen + line::kPrintNameLen);
      if (t.table == kTrans2Table && (code == kTrans2PercentDiscount || code == kTrans2PercentSurcharge))
        putU16(current_, line::kFlags, line::kCcts);
      putU16(current_, line::kKeyCode, makeKeyCode(kKeyReportTotal, code));
      putI32(current_, line::kUnit, count);
      putI32(current_, line::kPrice, amount);
      if (WriteReportLine() != 0) return -1;
    }
  }
  return 0;
}

// The fixed totalizers, with the average sale before slot 5.
int32_t CRegSale::FixedTotalReport(int32_t number) {
  if (ReportHeading(kReportFixedTotals) != 0) return -1;
  FileDBHandle table = engine_->Table(kFixedTotalTable);
  const int32_t records = FileDBRecGetSize(table);
  if (records < 0) return -1;
  int32_t customers = 0, sales = 0, items = 0;
  uint8_t record[48];
  for (int32_t n = 0; n < records; ++n) {
    if (FileDBRecRead(table, n, record) != 0) return -1;
    int32_t count = getI32(record, fixedtotal::kCount.offset);
    const int32_t amount = getI32(record, fixedtotal::kAmount.offset);
    if (n == 0) {
      customers = count;
      sales = amount;
    } else if (n == 1) {
      items = count;
    } else if (n == 4 && number == 44) {
      ++count;  // this settlement, as the commit will count it
    }
    if (n == 5 && customers != 0) {
      const int64_t divisor = customers < 0 ? -static_cast<int64_t>(customers) : customers;
      std::memset(current_, 0, sizeof current_);
      putText(current_, line::kDisplayName, line::kDisplayNameLen, "客平均");
      putText(current_, line::kPrintName, line::kPrintNameLen, app_->m_bPrnSA ? "ｷｬｸﾍｲｷﾝ" : "客平均");
      putU16(current_, line::kKeyCode, makeKeyCode(kKeyReportTotal, kAverageCode));
      putU16(current_, line::kFlags, line::kCcts);
      putI32(current_, line::kUnit, static_cast<int32_t>(static_cast<int64_t>(items) * 100 / divisor));
      putI32(current_, line::kPrice, static_cast<int32_t>(sales / divisor));
      if (WriteReportLine() != 0) return -1;
    }
    if (count == 0 && amount == 0) continue;
    std::memset(current_, 0, sizeof current_);
    std::memcpy(current_, record, line::kDisplayNameLen + line::kPrintNameLen);
    if (n == 1) putU16(current_, line::kFlags, line::kCcts);
    if (n == 31 || n == 33) putU16(current_, line::kFlags, line::kClct);
    putU16(current_, line::kKeyCode, makeKeyCode(kKeyReportTotal, static_cast<uint16_t>(n)));
    putI32(current_, line::kUnit, count);
    putI32(current_, line::kPrice, amount);
    if (WriteReportLine() != 0) return -1;
  }
  // The card terminal's sequence starts again with the next day: a Z
  // reading sets it back once its commit stands (an X reading changes
  // nothing).
  if (zReadingView_) resetJetSequence_ = true;
  return 0;
}

// The cash balance: twelve count rows at 0 and the balance the settings
// expect; the report then waits for the counted cash.
int32_t CRegSale::CashBalanceReport() {
  cashCount_ = true;
  countedTotal_ = 0;
  expected_ = 0;
  entry_.clear();
  if (ReportHeading(kReportCashBalance) != 0) return -1;
  for (uint16_t label : kCountLabels)
    if (ReportLabel(label, 0) != 0) return -1;
  const uint8_t* s = engine_->Settings();
  expected_ = -(static_cast<int64_t>(getI32(s, settings::kPreviousBalance.offset)) + getI32(s, settings::kCash.offset) +
                getI32(s, settings::kPaidIn.offset) + getI32(s, settings::kPaidOut.offset));
  if (!fitsIn32(expected_) || ReportLabel(kLineBalance, static_cast<int32_t>(expected_)) != 0) return -1;
  // The drawer opens for the count.
  if (!app_->m_bPrnSA) app_->PrintReceiptText(std::string(2, '\f'));
  screen_->RaiseDeviceRequest(kRequestSaleCommitted);
  return 0;
}

// ---- the cash count ------------------------------------------------------------------

void CRegSale::MoveCountCursor(int32_t line) {
  countCursor_ = line;
  screen_->FocusListNumber(line);
  ShowModifierStatus();
}

// The count row under the cursor takes value (notes or coins, or the cheque
// amount); the total and balance rows follow. 1, or 0 when the sums would
// not fit their fields (nothing changed).
int32_t CRegSale::RewriteCountLines(int32_t row, int64_t value) {
  const int32_t first = lineCount_ - kFromEndFirstRow;
  const int32_t k = row - first;
  uint8_t countLine[line::kSize], totalLine[line::kSize], balanceLine[line::kSize];
  if (!ReadLine(row, countLine) || !ReadLine(lineCount_ - 2, totalLine) || !ReadLine(lineCount_ - 1, balanceLine))
    return 0;
  const int64_t price = k < 10 ? value * kDenominations[k] : value;
  const int64_t total = countedTotal_ - getI32(countLine, line::kPrice) + price;
  if (!fitsIn32(price) || !fitsIn32(total) || !fitsIn32(total + expected_)) return 0;
  if (k < 10) putI32(countLine, line::kUnit, static_cast<int32_t>(value));
  putI32(countLine, line::kPrice, static_cast<int32_t>(price));
  putI32(totalLine, line::kPrice, static_cast<int32_t>(total));
  putI32(balanceLine, line::kPrice, static_cast<int32_t>(total + expected_));
  const struct {
    int32_t n;
    const uint8_t* l;
  } rewrites[3] = {{row, countLine}, {lineCount_ - 2, totalLine}, {lineCount_ - 1, balanceLine}};
  for (const auto& r : rewrites) {
    const int32_t at = r.n * static_cast<int32_t>(line::kSize);
    if (SeekMemory(block_, at, MEMORY_SEEK_BEGIN) != at ||
        WriteDataMemory(block_, r.l, line::kSize) != static_cast<int32_t>(line::kSize))
      return 0;
    screen_->SetListRow(r.l, r.n);
  }
  countedTotal_ = total;
  return 1;
}

int32_t CRegSale::OnCashCountKey(uint16_t keyCode) {
  if (!cashCount_) return 0;
  const int32_t first = lineCount_ - kFromEndFirstRow, cheque = first + kCountRows - 1;
  if (countCursor_ < first) MoveCountCursor(first);
  const bool countRow = countCursor_ >= first && countCursor_ <= cheque;
  const bool denomination = countCursor_ >= first && countCursor_ < cheque;
  const uint16_t type = keyType(keyCode), code = keyNumber(keyCode);
  auto beep = [&]() {
    screen_->Beep(platform::ui::kBeepPlain);
    return 0;
  };
  // An entry changed: the row shows it at once (the old entry stays when
  // the sums would not fit).
  auto changed = [&](const std::string& before) {
    if (!countRow) return 1;
    int64_t value = 0;
    for (char c : entry_) value = value * 10 + (c - '0');
    if (!RewriteCountLines(countCursor_, value)) {
      entry_ = before;
      return beep();
    }
    return 1;
  };
  const std::string before = entry_;
  if (type == kKeyEntry) {
    const char c = static_cast<char>(code & 0xFF);
    if (c == '\b') {
      if (entry_.empty()) return beep();
      entry_.pop_back();
      return changed(before);
    }
    if (c < '0' || c > '9' || !countRow || entry_.size() >= kChequeDigits ||
        (denomination && entry_.size() >= kDenominationDigits))
      return beep();
    entry_ += c;
    return changed(before);
  }
  if (type != kKeyFunction) return beep();
  switch (code) {
    case kFunctionBackspace:
      if (entry_.empty()) return beep();
      entry_.pop_back();
      return changed(before);
    case kFunctionClear:
    case kFunctionCancelLine:
      if (entry_.empty()) return beep();
      entry_.clear();
      return changed(before);
    case kFunctionCursorUp:
      if (countCursor_ <= first) {
        entry_.clear();
        return beep();
      }
      entry_.clear();
      MoveCountCursor(countCursor_ - 1);
      return 1;
    case kFunctionCursorDown:
    case kFunctionSubtotal:
      if (denomination) {
        entry_.clear();
        MoveCountCursor(countCursor_ + 1);
        return 1;
      }
      return FinishCashCount();
    default:
      return beep();
  }
}

void CRegSale::ClickReadingRow(int32_t number) {
  if (!cashCount_) return;
  const int32_t first = lineCount_ - kFromEndFirstRow;
  entry_.clear();
  if (number < first) {
    screen_->Beep(platform::ui::kBeepPlain);
    MoveCountCursor(first);
  } else if (number >= lineCount_ - 2) {
    MoveCountCursor(number);
    OnCashCountKey(makeKeyCode(kKeyFunction, kFunctionCursorDown));
  } else {
    MoveCountCursor(number);
  }
}

// The finish question; Yes ends the count: the counted rows are printed and
// the balance lines follow, then the settlement run goes on or the single
// report is committed.
int32_t CRegSale::FinishCashCount() {
  const int64_t balance = countedTotal_ + expected_;
  std::string text = balance == 0 ? std::string("差引残高はありません")
                                  : "差引残高が " + balanceText(balance) + " あります";
  text += "\n\n現金収支入力を完了してもよろしいですか?";
  if (platform::ui::messageBox(nullptr, text, "", platform::kMbYesNo | platform::kMbIconQuestion) !=
      platform::kIdYes) {
    entry_.clear();
    MoveCountCursor(lineCount_ - kFromEndFirstRow);
    return 1;
  }
  cashCount_ = false;
  entry_.clear();
  countCursor_ = -1;
  ShowModifierStatus();
  --lineCount_;  // the balance row comes back below the settings' words
  for (int32_t n = lineCount_ - 12; n < lineCount_; ++n) {
    if (!ReadLine(n, current_) || PrintLine() != 0) return 0;
  }
  const uint8_t* s = engine_->Settings();
  const struct {
    uint16_t code;
    int32_t value;
  } tail[5] = {{kLinePreviousBalance, getI32(s, settings::kPreviousBalance.offset)},
               {kLineCash, getI32(s, settings::kCash.offset)},
               {kLinePaidIn, getI32(s, settings::kPaidIn.offset)},
               {kLinePaidOut, getI32(s, settings::kPaidOut.offset)},
               {kLineBalance, static_cast<int32_t>(balance)}};
  for (const auto& t : tail)
    if (ReportLabel(t.code, t.value) != 0) return 0;
  screen_->AddEmptyListRow();
  if (settlementStep_ > 0 && settlementStep_ <= kSteps) {
    stepEnd_[settlementStep_ - 1] = lineCount_;
    return RunSettlement();
  }
  if (!CommitReading()) return 0;
  PrintLine();
  if (!app_->m_bPrintEachLine) app_->PrintReceipt(block_, 0, 0, -1, 0, 0, nullptr);
  if (app_->m_pPrinterDC) app_->PrintReceiptText("");
  screen_->ShowLastListRow();
  return 1;
}

// ---- commit and printing --------------------------------------------------------------

// Commits the block with the view's mode code. A failed commit leaves every
// counter as it was (the commit takes back what it posted) and says which
// reading it was; 0 then.
int32_t CRegSale::CommitReading() {
  if (!CommitSale(modeCode_, 0)) {
    std::string text = std::string(readingName(viewMode_)) + "を登録できませんでした";
    if (modeCode_ == kModeSettlement) text += "\n集計はリセットされていません";
    platform::ui::messageBox(nullptr, text, "", platform::kMbIconWarning);
    resetJetSequence_ = false;
    return 0;
  }
  if (resetJetSequence_) {
    platform::Profile::of(platform::ProfileScope::User).setInt(kSettingsSection, "JET Sequence Number", 1);
    app_->m_nJetSequenceNumber = 1;
    resetJetSequence_ = false;
  }
  return 1;
}

void CRegSale::PrintText(const std::string& text) {
  if (app_->m_bPrnSA)
    app_->m_strSaPrintText += text;
  else
    app_->PrintReceiptText(text);
  screen_->RaiseDeviceRequest(kRequestPrint);
}

// Lines first to end (exclusive) of the block, as text.
void CRegSale::PrintRange(int32_t first, int32_t end) {
  uint8_t l[line::kSize];
  for (int32_t n = first; n < end; ++n)
    if (ReadLine(n, l)) PrintText(app_->BuildLineText(l, 0, nullptr, 0));
}

// The settlement's steps whose step word has bit set (whenSet) or has it
// not: under one receipt head, each from its first to its end line, then
// the closing record.
void CRegSale::PrintSettlementSteps(uint16_t bit, bool whenSet) {
  bool head = false;
  auto printHead = [&]() {
    std::string text;
    uint16_t date = 0;
    app_->BuildReceiptHead(text, kModeSettlement, &date, 0, 0, nullptr, nullptr);
    PrintText(text);
    head = true;
  };
  bool any = false;
  for (int32_t i = 0; i < kSteps; ++i) {
    if (((StepWord(i) & bit) != 0) != whenSet) continue;
    int32_t first = stepFirst_[i];
    const int32_t end = stepEnd_[i];
    if (first >= end) continue;
    if (!head) {
      printHead();
      // A later step begins with the rule between steps: the head stands for it.
      if (first != 0) ++first;
    }
    PrintRange(first, end);
    any = true;
  }
  if (!any && whenSet) return;
  if (!head) printHead();
  uint8_t closing[line::kSize];
  if (ReadLine(lineCount_ - 1, closing)) PrintText(app_->BuildLineText(closing, 0, nullptr, 0) + '\f');
  if (app_->m_pPrinterDC) app_->PrintReceiptText("");
}

// The whole block again (the print key of a report).
int32_t CRegSale::PrintBlock() {
  if (cashCount_ || !block_ || lineCount_ == 0) return 0;
  const int32_t result = app_->PrintReceipt(block_, 1, 0, lineCount_, 0, 0, nullptr);
  if (app_->m_pPrinterDC) app_->PrintReceiptText("");
  return result == 0 ? 1 : 0;
}

// ---- the settlement run --------------------------------------------------------------

int32_t CRegSale::RunSettlement() {
  if (settlementStep_ < 0) return 1;
  while (settlementStep_ < kSteps) {
    const int32_t i = settlementStep_;
    stepFirst_[i] = lineCount_;
    const int32_t kind = StepWord(i) & 0xFF;
    if (kind >= 1 && kind <= 7) {
      if (earlierStep_) {
        engine_->BuildTotalLine(current_, 0, 1, app_->m_bPrnSA, 0);
        if (WriteReportLine() != 0) return 0;
        screen_->AddEmptyListRow();
      }
      if (kind == 7) cashCount_ = true;
      if (BuildReport(38 + kind) != 0) {
        platform::ui::messageBox(nullptr, std::string(readingName(38 + kind)) + "のレポートを作成できませんでした\n集計はリセットされていません", "",
                                 platform::kMbIconWarning);
        return 0;
      }
      earlierStep_ = true;
      if (kind == 7 && cashCount_) {
        // The run waits for the counted cash and goes on when it is finished.
        stepEnd_[i] = lineCount_;
        ++settlementStep_;
        MoveCountCursor(lineCount_ - kFromEndFirstRow);
        return 1;
      }
    }
    stepEnd_[i] = lineCount_;
    ++settlementStep_;
  }

  // All steps built: the whole block is committed as one settlement.
  if (!CommitReading()) return 0;
  if (PrintLine() != 0) return 0;
  if (!app_->m_bPrintEachLine) PrintSettlementSteps(kStepNoPrint, false);
  PrintSettlementSteps(kStepPrintAgain, true);
  for (int32_t i = 0; i < kSteps; ++i)
    if ((StepWord(i) & 0xFF) == 2 && !ClearLinkedPlu()) return 0;
  screen_->ShowLastListRow();
  return AskShutdown();
}

// The day is closed: the program ends, and with Yes the machine powers off
// once the program has closed down.
int32_t CRegSale::AskShutdown() {
  const int answer = platform::ui::messageBox(
      nullptr,
      "今日も一日お疲れ様でした\nＶａｒｎｅｘ を終了し、システムをシャットダウンしますか?\n\n"
      "はい: Ｖａｒｎｅｘ を終了し、システムをシャットダウンします\nいいえ: Ｖａｒｎｅｘ を終了します",
      "", platform::kMbYesNoCancel | platform::kMbIconQuestion);
  if (answer == platform::kIdYes)
    app_->CloseMainWindowLater(1);
  else if (answer == platform::kIdNo)
    app_->CloseMainWindowLater(0);
  return 1;
}

int32_t CRegSale::ClearLinkedPlu() {
  if (modeCode_ != kModeSettlement) return 1;
  const int slot = odbcmap::slotOf(odbclink::kPlu);
  if (slot < 0 || engine_->OdbcState().kinds[slot].count == 0) return 1;
  FileDBHandle table = engine_->Table(kPluTable);
  const int32_t records = FileDBRecGetSize(table);
  if (records < 0) return 0;
  if (records < 2) return 1;
  if (FileDBRecDelete(table, 1, records - 1, nullptr) != 0) return 0;
  const std::vector<uint8_t> empty(kTables[kPluTable].recordLen, 0);
  return FileDBRecWrite(table, 0, empty.data()) == 0 ? 1 : 0;
}

// ---- keys of the reading views ----------------------------------------------------------

int32_t CRegSale::ReadingKey(uint16_t keyCode) {
  return cashCount_ ? OnCashCountKey(keyCode) : OnJournalKey(keyCode);
}

int32_t CRegSale::OnJournalKey(uint16_t keyCode) {
  const uint16_t type = keyType(keyCode), code = keyNumber(keyCode);
  auto beep = [&]() {
    screen_->Beep(platform::ui::kBeepPlain);
    return 0;
  };
  if (type != kKeyFunction || code < kFunctionCursorUp || code > kFunctionFormalReceipt) return beep();
  auto move = [&](int32_t step) { return screen_->MoveListFocus(step) ? 1 : beep(); };
  switch (code) {
    case kFunctionCursorUp: return move(-1);
    case kFunctionCursorDown: return move(1);
    case kFunctionPageUp: return move(-2);
    case kFunctionPageDown: return move(2);
    case kFunctionFirstRow: return move(-3);
    case kFunctionLastRow: return move(3);
    case kFunctionReprintOrReserve: return (journalView_ ? PrintJournal() : PrintBlock()) ? 1 : beep();
    case kFunctionCancelLine:
      screen_->CloseFrame();
      return 1;
    default:
      // The formal receipt of a journal's transaction comes with its dialog.
      return beep();
  }
}

// ---- the receipt journal --------------------------------------------------------------

int32_t CRegSale::ListJournal(uint16_t date) {
  uint16_t day = date;
  if (day == 0) GetDate(&day, nullptr);
  FileDBHandle file = engine_->PrfOpen(3, &day);
  if (!file) return 1;  // no receipts that day: an empty list
  block_ = CreateMemory(nullptr, 0, 4096);
  if (!block_) {
    FileDBDelete(file);
    return 0;
  }
  // Held open for the whole copy: one open, then the records in a row.
  const bool held = FileDBOpenEx(file, FILEDB_MODE_READ) == 0;
  const int32_t count = FileDBRecGetSize(file);
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < count; ++n) {
    if (FileDBRecRead(file, n, l) != 0 ||
        WriteDataMemory(block_, l, line::kSize) != static_cast<int32_t>(line::kSize))
      break;
    const uint16_t key = keyOf(l);
    const bool apart = keyType(key) == kKeyClosing || (keyType(key) == kKeySeparator && (flagsOf(l) & line::kClct));
    if (apart) screen_->AddEmptyListRow();
    screen_->SetListRow(l, lineCount_);
    ++lineCount_;
    if (apart) screen_->AddEmptyListRow();
  }
  if (held) FileDBCloseEx(file);
  FileDBDelete(file);
  screen_->ShowLastListRow();
  return 1;
}

// The transaction of line number: from the line after the previous closing
// record to its own closing record.
bool CRegSale::TransactionAt(int32_t number, int32_t* first, int32_t* last) const {
  uint8_t l[line::kSize];
  if (number < 0 || number >= lineCount_) return false;
  int32_t f = number;
  while (f > 0 && ReadLine(f - 1, l) && keyType(keyOf(l)) != kKeyClosing) --f;
  int32_t e = number;
  while (e < lineCount_ && ReadLine(e, l) && keyType(keyOf(l)) != kKeyClosing) ++e;
  if (e >= lineCount_) return false;
  *first = f;
  *last = e;
  return true;
}

int32_t CRegSale::PrintJournal() {
  if (!block_ || lineCount_ == 0) return 0;
  const int answer = platform::ui::messageBox(
      nullptr,
      "レシート控え全件の印刷を行いますか?\n\nはい: レシート控え全件の印刷を行います\nいいえ: 選択された取引のレシート再発行を行います",
      "", platform::kMbYesNoCancel | platform::kMbIconQuestion | platform::kMbDefButton3);
  int32_t first = 0, last = 0;
  if (answer == platform::kIdYes) {
    for (int32_t n = 0; n < lineCount_ && TransactionAt(n, &first, &last); n = last + 1)
      app_->PrintReceipt(block_, 1, first, last + 1, 0, 1, nullptr);
  } else if (answer == platform::kIdNo) {
    int32_t number = screen_->FocusedListNumber();
    // An empty row stands for the line above it.
    if (number < 0) number = lineCount_ - 1;
    if (!TransactionAt(number, &first, &last)) return 0;
    app_->PrintReceipt(block_, 1, first, last + 1, 0, 1, nullptr);
  } else {
    return 1;
  }
  if (app_->m_pPrinterDC) app_->PrintReceiptText("");
  return 1;
}

}  // namespace varnex::reg
