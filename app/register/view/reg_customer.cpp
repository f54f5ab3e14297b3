// Customers and line names (see reg_sale.h).
//
// A sale may name its customer (取引先): a line of key type 0, first in the
// sale, holding the customer's name over the display and print name fields
// (36 bytes), its code, its point balance in "price" and its point rate in
// "untprc". The customer can be named while the sale is open, or afterwards
// for a sale already stored in the day's receipt file (for a formal receipt
// made out to the customer). Other register views showing the same finished
// sale mirror the line without touching the file.
//
// The day's receipt file is never shifted in place: the file is copied
// beside itself, the customer line is put into the copy, the copy reaches the
// disk, and one rename puts it in the file's place. A failure at any step
// leaves the old file whole.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/register/engine/data_file.h"
#include "app/register/engine/journal.h"
#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/ui/window.h"

namespace varnex::reg {

namespace {

uint16_t keyOf(const uint8_t* record) { return getU16(record, line::kKeyCode); }

std::string trimmed(const uint8_t* record, size_t offset, size_t width) {
  std::string s = getText(record, offset, width);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

std::function<void(const std::string&)>& rewriteProbe() {
  static std::function<void(const std::string&)> probe;
  return probe;
}

uint16_t receiptOf(const uint8_t* closing) { return static_cast<uint16_t>(getU32(closing, line::kPrice) & 0xFFFF); }

}  // namespace

void CRegSale::SetStoredSaleRewriteProbe(std::function<void(const std::string& copyPath)> probe) {
  rewriteProbe() = std::move(probe);
}

// ---- the customer line --------------------------------------------------------------

int32_t CRegSale::InsertCustomerLine(int32_t position, int32_t row, const uint8_t* preset) {
  (void)row;
  CustomerChoice choice;
  if (!preset) {
    const uint8_t* manager = engine_->Manager();
    const uint8_t confirm = manager ? manager[clerk::kConfirmLevel.offset] : 2;
    for (;;) {
      if (!screen_->ChooseCustomer(&choice, true)) return 1;
      if (temporary_ || confirm >= 2) break;
      char text[512];
      std::snprintf(text, sizeof text,
                    "取引先コード： %s\n取引先名： %s\n\n上記の取引先で登録してもよろしいですか?",
                    choice.code.empty() ? "（なし）" : choice.code.c_str(), choice.name.c_str());
      const int answer =
          platform::ui::messageBox(nullptr, text, "", platform::kMbYesNoCancel | platform::kMbIconQuestion);
      if (answer == platform::kIdCancel) return 1;
      if (answer == platform::kIdYes) break;
    }
  } else {
    // The line as it came: its name and its code both stay.
    choice.name = trimmed(preset, line::kDisplayName, line::kCustomerNameLen);
    choice.code = trimmed(preset, line::kCode, line::kCodeLen);
    choice.pointBalance = getI32(preset, line::kPrice);
    choice.pointRate = getI32(preset, line::kUnitPrice);
  }

  uint8_t customer[line::kSize] = {};
  putText(customer, line::kDisplayName, line::kCustomerNameLen, choice.name);
  putText(customer, line::kCode, line::kCodeLen, choice.code);
  putU16(customer, line::kFlags, refundView_ ? line::kVoid : 0);
  putU16(customer, line::kKeyCode, makeKeyCode(kKeyCustomer, 0));
  putI32(customer, line::kUnitPrice, choice.pointRate);
  putI32(customer, line::kPrice, choice.pointBalance);

  if (!block_) return ShowRegError(kErrBadHandle);
  const int32_t at = position < 0 ? 0 : position;
  if (at > lineCount_) return ShowRegError(kErrBadHandle);
  const int32_t offset = at * static_cast<int32_t>(line::kSize);
  if (SeekMemory(block_, offset, MEMORY_SEEK_BEGIN) != offset ||
      InsertDataMemory(block_, customer, line::kSize) != static_cast<int32_t>(line::kSize))
    return ShowRegError(kErrBadHandle);
  ++lineCount_;
  pointsAvailable_ += choice.pointBalance;
  ReshowList();
  if (!temporary_) screen_->ShowLastListRow();
  if (preset && !temporary_) return 1;  // a mirror of a line stored elsewhere

  if (temporary_) {
    // The sale in progress: its temporary file follows the block. A line
    // put in before others moves them on, which only a whole rewrite does
    // without a kill leaving one of them twice.
    std::vector<std::array<uint8_t, line::kSize>> lines;
    if (!ReadAllLines(&lines)) return ShowRegError(kErrBadHandle);
    const bool written = at == lineCount_ - 1
                             ? FileDBRecWrite(temporary_, at, lines.back().data()) == 0
                             : engine_->RewriteTemporary(temporary_, lines.front().data(), lineCount_);
    if (!written) return ShowRegError(kErrBadHandle);
    return 1;
  }

  // A stored sale: the last line shown is its closing record.
  uint8_t closing[line::kSize];
  if (!ReadLine(lineCount_ - 1, closing) || keyType(keyOf(closing)) != kKeyClosing)
    return ShowRegError(kErrBadHandle);
  const uint16_t receipt = receiptOf(closing);
  if (!InsertIntoStoredSale(receipt, customer)) {
    // The screen shows what is stored: the line goes again.
    if (SeekMemory(block_, offset, MEMORY_SEEK_BEGIN) == offset && DeleteDataMemory(block_, line::kSize) >= 0) {
      --lineCount_;
      pointsAvailable_ -= choice.pointBalance;
      ReshowList();
      screen_->ShowLastListRow();
    }
    return ShowRegError(kErrBadHandle);
  }
  screen_->BroadcastCustomerLine(receipt, customer);
  return 1;
}

int32_t CRegSale::OnCastInput(int32_t receipt, const uint8_t* customerLine) {
  if (!registrationView_ || !block_ || lineCount_ < 1 || !customerLine) return 1;
  uint8_t last[line::kSize];
  if (!ReadLine(lineCount_ - 1, last)) return ShowRegError(kErrBadHandle);
  if (keyType(keyOf(last)) != kKeyClosing || receiptOf(last) != static_cast<uint16_t>(receipt)) return 1;
  return InsertCustomerLine(-1, -1, customerLine);
}

// The customer line goes first in the stored sale of that receipt number:
// right after the closing record of the sale before it, or at the start of
// the file.
int32_t CRegSale::InsertIntoStoredSale(int32_t receipt, const uint8_t* customerLine) {
  // No commit journal entry may name record places that are about to move.
  if (engine_->Checkpoint() != 0) return 0;
  FileDBHandle daily = engine_->PrfOpen(3, nullptr);
  if (!daily) return 0;
  char code[300] = {};
  FileDBGetPathName(daily, code);
  FileDBDelete(daily);
  const std::string path = platform::mapPath(code);
  const std::string copyCode = std::string(code) + ".new";
  const std::string copy = platform::mapPath(copyCode);
  platform::deleteFile(copy);
  if (!platform::copyFile(path, copy, false)) return 0;
  auto drop = [&](FileDBHandle table) {
    if (table) {
      FileDBCloseEx(table);
      FileDBDelete(table);
    }
    platform::deleteFile(copy);
    return 0;
  };
  if (rewriteProbe()) rewriteProbe()(copy);

  FileDBHandle table = FileDBCreate(copyCode.c_str(), kJournalTableId, 0, kJournalRecordLen, nullptr, nullptr);
  if (!table) return drop(0);
  if (FileDBOpenEx(table, 3) != 0) {
    FileDBDelete(table);
    return drop(0);
  }
  const int32_t count = FileDBRecGetSize(table);
  if (count <= 0) return drop(table);
  // The sale's own closing record, the last of that number.
  uint8_t l[line::kSize];
  int32_t end = -1;
  for (int32_t n = count - 1; n >= 0 && end < 0; --n) {
    if (FileDBRecRead(table, n, l) != 0) return drop(table);
    if (keyType(keyOf(l)) == kKeyClosing && receiptOf(l) == static_cast<uint16_t>(receipt)) end = n;
  }
  if (end < 0) return drop(table);
  // Every record after the closing record before it moves one place on.
  int32_t start = 0;
  for (int32_t n = count - 1; n >= 0; --n) {
    if (FileDBRecRead(table, n, l) != 0) return drop(table);
    if (n < end && keyType(keyOf(l)) == kKeyClosing) {
      start = n + 1;
      break;
    }
    if (FileDBRecWrite(table, n + 1, l) != 0) return drop(table);
  }
  if (FileDBRecWrite(table, start, customerLine) != 0) return drop(table);
  if (FileDBCloseEx(table) != 0) {
    FileDBDelete(table);
    return drop(0);
  }
  FileDBDelete(table);
  if (!replaceDataFile(copy, path)) return drop(0);
  return 1;
}

// ---- line names --------------------------------------------------------------------

int32_t CRegSale::EditLineNames(int32_t row, int32_t index) {
  uint8_t record[line::kSize] = {};
  if (index < 0) {
    putU16(record, line::kFlags, refundView_ ? line::kVoid : 0);
    putU16(current_, line::kKeyCode, keyNumber(keyOf(current_)));
  } else if (!ReadLine(index, record)) {
    return ShowRegError(kErrBadHandle);
  }
  if (keyType(keyOf(record)) == kKeyCustomer) {
    CustomerChoice choice;
    choice.name = trimmed(record, line::kDisplayName, line::kCustomerNameLen);
    choice.code = trimmed(record, line::kCode, line::kCodeLen);
    choice.pointBalance = getI32(record, line::kPrice);
    choice.pointRate = getI32(record, line::kUnitPrice);
    pointsAvailable_ -= lastCustomerPoints_;
    if (!screen_->ChooseCustomer(&choice, false)) {
      pointsAvailable_ += lastCustomerPoints_;
      return 1;
    }
    std::memset(record + line::kDisplayName, 0, line::kCustomerNameLen);
    std::memset(record + line::kCode, 0, line::kCodeLen);
    putText(record, line::kDisplayName, line::kCustomerNameLen, choice.name);
    putText(record, line::kCode, line::kCodeLen, choice.code);
    putI32(record, line::kPrice, choice.pointBalance);
    putI32(record, line::kUnitPrice, choice.pointRate);
    pointsAvailable_ += choice.pointBalance;
    lastCustomerPoints_ = choice.pointBalance;
  } else {
    std::string displayName = trimmed(record, line::kDisplayName, line::kDisplayNameLen);
    std::string printName = trimmed(record, line::kPrintName, line::kPrintNameLen);
    const int32_t answer = screen_->EditNames(&displayName, &printName, row == -1);
    if (answer == 6) return InsertCustomerLine(-1, -1, nullptr);
    if (answer != 1) return 1;
    std::memset(record + line::kDisplayName, 0, line::kDisplayNameLen + line::kPrintNameLen);
    putText(record, line::kDisplayName, line::kDisplayNameLen, displayName);
    putText(record, line::kPrintName, line::kPrintNameLen, printName);
  }
  if (index < 0) {
    std::memcpy(current_, record, sizeof record);
    return WriteLine(1, 0);
  }
  return WriteLineAt(index, record) ? 1 : ShowRegError(kErrBadHandle);
}

// 4:81: a formal receipt (領収証) of the sale shown, made out to its
// customer when the clerk names one.
int32_t CRegSale::FormalReceiptKey() {
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, kFunctionFormalReceipt));
  uint8_t first[line::kSize];
  if (lineCount_ > 0 && ReadLine(0, first) && keyType(keyOf(first)) != kKeyCustomer) {
    const int answer = platform::ui::messageBox(
        nullptr,
        "取引先が入力されていません\n領収証に取引先の印刷を行うには、取引先が入力されている必要があります\n\n取引先を入力しますか?",
        "", platform::kMbYesNo | platform::kMbIconQuestion);
    if (answer == platform::kIdYes && !InsertCustomerLine(-1, -1, nullptr)) return 0;
  }
  int32_t kind = 0;
  std::string note;
  if (!RunFormalReceiptDialog(&kind, &note)) return 1;
  if (app_->PrintReceipt(block_, 1, 0, -1, static_cast<uint32_t>(kind), 0, note.empty() ? nullptr : note.c_str()) != 0)
    return ShowRegError(kErrBadHandle);
  if (app_->m_pPrinterDC) app_->PrintReceiptText("");
  return 1;
}

int32_t CRegSale::RunFormalReceiptDialog(int32_t* kind, std::string* note) {
  int32_t chosen = 0;
  std::string text;
  if (!screen_->AskFormalReceipt(&chosen, &text)) return 0;
  if (kind) *kind = chosen;
  if (note) *note = text;
  return 1;
}

}  // namespace varnex::reg
