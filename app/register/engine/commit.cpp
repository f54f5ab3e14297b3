// The transaction commit: a finished sale, refund, reading or settlement (a
// memory block of 96-byte line records in entry order) is posted to the
// masters and counters, its totals to the 36 fixed totalizers, and its lines
// with a closing record are appended to today's daily receipt file, as one
// unit: a failure on the way undoes what was posted and appended.
//
// The closing record (a line record appended after the lines):
//
//   offset width  content
//    0     24     zero
//   24      8     bytes 16-23 of the manager's clerk record (print name)
//   32      4     zero
//   36     14     bytes 0-13 of settings record 0 (store/machine text)
//   50     14     zero
//   64     u16    flags 0x400, plus 0x001 for a refund
//   66     u16    0xF000 | register mode code
//   68     i32    item quantity (sale totals word 25)
//   72     u32    DOS date << 16 | DOS time
//   76     u32    manager's clerk number << 16 | receipt number
//   80     i32    settings record 0, the word at offset 24
//   84     i32    the caller's value
//   88      8     zero
//
// The receipt number is one more than that of the file's last record, modulo
// 10000, so each day's file numbers from 1 and 9999 is followed by 0.
//
// Once the daily file holds the sale the sale is committed: a step after that
// which fails (the settlement row, the link's commit, closing a table, the
// receipt CSV) shows its message and the result still says committed, so
// that the caller never commits the same sale twice.
#include <cstring>
#include <iterator>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "zemta/date.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

namespace varnex::reg {
namespace {

const char kOperation[] = "PrfUpdate";
constexpr int32_t kAppend = 0x7FFFFFFF;
constexpr int32_t kMonthlySlot = 4;

// The tables a commit holds, in the order they are opened.
const TableIndex kAlwaysHeld[] = {kSettingsTable, kClerkTable, kGroupTable, kTrans2Table, kFixedTotalTable,
                                  kOdbcLinkTable};
const TableIndex kHeldUnlessKept[] = {kDepartmentTable, kPluTable, kTrans1Table};

}  // namespace

int32_t CRegCom::OpenForUpdate(FileDBHandle receipt) {
  std::vector<FileDBHandle> opened;
  auto fail = [&]() {
    for (auto it = opened.rbegin(); it != opened.rend(); ++it) FileDBCloseEx(*it);
    if (!keepInTemporary_ && receipt) FileDBDelete(receipt);
    return -1;
  };
  for (TableIndex t : kAlwaysHeld) {
    if (FileDBOpenEx(tables_[t], FILEDB_MODE_READ_WRITE) != 0) return fail();
    opened.push_back(tables_[t]);
  }
  if (!keepInTemporary_) {
    for (TableIndex t : kHeldUnlessKept) {
      if (FileDBOpenEx(tables_[t], FILEDB_MODE_READ_WRITE) != 0) return fail();
      opened.push_back(tables_[t]);
    }
    if (FileDBOpenEx(receipt, FILEDB_MODE_READ_WRITE) != 0) return fail();
  }
  return 0;
}

int32_t CRegCom::CloseAfterUpdate(FileDBHandle receipt) {
  if (!keepInTemporary_) {
    if (FileDBCloseEx(receipt) != 0) return -1;
    for (int i = static_cast<int>(std::size(kHeldUnlessKept)) - 1; i >= 0; --i)
      if (FileDBCloseEx(tables_[kHeldUnlessKept[i]]) != 0) return -1;
  }
  for (int i = static_cast<int>(std::size(kAlwaysHeld)) - 1; i >= 0; --i)
    if (FileDBCloseEx(tables_[kAlwaysHeld[i]]) != 0) return -1;
  if (!keepInTemporary_ && FileDBDelete(receipt) != 0) return -1;
  return 0;
}

int32_t CRegCom::PrfUpdate(uint32_t modeCode, MemoryBlockHandle block, void* closingOut, FileDBHandle* temporary,
                           int32_t callerValue) {
  using namespace saletotal;
  if (!project_ || !block) {
    ReportError(kOperation, ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  // The sale's lines, copied out of the block.
  const int32_t size = SeekMemory(block, 0, MEMORY_SEEK_END);
  std::vector<uint8_t> lines(size > 0 ? static_cast<size_t>(size) : 0);
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  if (!lines.empty() && ReadDataMemory(block, lines.data(), static_cast<uint32_t>(lines.size())) != size) {
    ReportError(kOperation, ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  int32_t lineCount = size / static_cast<int32_t>(line::kSize);
  auto lineAt = [&](int32_t i) { return lines.data() + static_cast<size_t>(i) * line::kSize; };
  if (lineCount > 0 && keyType(getU16(lineAt(lineCount - 1), line::kKeyCode)) == kKeyClosing) --lineCount;

  // The target: the sale's temporary file when it keeps the sale, else
  // today's daily receipt file.
  const bool kept = keepInTemporary_ && temporary && *temporary;
  FileDBHandle target = kept ? *temporary : PrfOpen(3, nullptr);
  if (!target) return -1;
  if (OpenForUpdate(target) != 0) return -1;
  auto closeAll = [&]() { return CloseAfterUpdate(target); };
  if (FileDBRecRead(tables_[kSettingsTable], 0, settings_) != 0) {
    closeAll();
    return -1;
  }
  const int32_t oldCount = FileDBRecGetSize(target);
  if (oldCount < 0) {
    closeAll();
    return -1;
  }
  uint16_t lastReceipt = 0;
  if (oldCount > 0) {
    uint8_t last[line::kSize];
    if (FileDBRecRead(target, oldCount - 1, last) != 0) {
      closeAll();
      return -1;
    }
    lastReceipt = getU16(last, line::kPrice);
  }

  int32_t totals[kWords] = {};
  const bool refund = modeCode == kModeRefund;
  totals[kRefund] = refund ? 1 : 0;
  totals[kSettlement] = modeCode == kModeSettlement ? 1 : 0;
  totals[kReading] = modeCode == kModeSettlement || modeCode == kModeXReading ? 1 : 0;

  uint8_t customerBuffer[256] = {};
  if (lineCount > 0 && keyType(getU16(lineAt(0), line::kKeyCode)) == kKeyCustomer)
    std::memcpy(customerBuffer, lineAt(0) + line::kCode, line::kCodeLen);

  OdbcPostContext context;
  if (OdbcBeginTrans() < 0) {
    closeAll();
    return -1;
  }
  inCommit_ = true;
  undoing_ = false;
  customerImages_.clear();
  customerCount_ = FileDBRecGetSize(tables_[kCustomerTable]);
  uint8_t monthlyImage[48] = {};
  const bool monthlyKept = FileDBRecRead(tables_[kFixedTotalTable], kMonthlySlot, monthlyImage) == 0;

  // Undo: every line up to (and with) the one that failed is posted again
  // with the other sign; a line that failed half way stops again at the same
  // place, so only what it posted is taken back.
  auto undoLines = [&](int32_t through) {
    undoing_ = true;
    int32_t scratch[kWords] = {};
    scratch[kRefund] = totals[kRefund];
    scratch[kSettlement] = totals[kSettlement];
    scratch[kReading] = totals[kReading];
    for (int32_t i = 0; i <= through && i < lineCount; ++i) CommitLine(lineAt(i), scratch, refund ? 0 : 1, &context, customerBuffer);
    restoreCustomers();
    undoing_ = false;
  };
  auto undoSlots = [&](int32_t through) {
    for (int32_t slot = 0; slot <= through && slot < fixedtotal::kSlots; ++slot)
      if (slot != kMonthlySlot) UpdateTotalizers(slot, totals, refund ? 0 : 1);
    // The monthly slot may have started a new month: its record comes back whole.
    if (through >= kMonthlySlot && monthlyKept && !totals[kReading])
      FileDBRecWrite(tables_[kFixedTotalTable], kMonthlySlot, monthlyImage);
  };

  int32_t result = 0;
  bool committed = false;
  for (int32_t i = 0; i < lineCount && result == 0; ++i) {
    const uint8_t* l = lineAt(i);
    if (keyType(getU16(l, line::kKeyCode)) == kKeyCustomer) {
      std::memset(context.customerCode, 0, sizeof context.customerCode);
      std::memcpy(context.customerCode, l + line::kCode, line::kCodeLen);
    }
    if (CommitLine(l, totals, refund ? 1 : 0, &context, customerBuffer) != 0) {
      undoLines(i);
      result = -1;
    }
  }
  if (result == 0) {
    if (totals[kGuests] == 0) totals[kGuests] = 1;
    for (int32_t slot = 0; slot < fixedtotal::kSlots; ++slot) {
      if (UpdateTotalizers(slot, totals, refund ? 1 : 0) != 0) {
        undoSlots(slot);
        undoLines(lineCount - 1);
        result = -1;
        break;
      }
    }
  }
  if (result == 0) {
    bool written = true;
    for (int32_t i = 0; i < lineCount && written; ++i) {
      uint8_t copy[line::kSize];
      std::memcpy(copy, lineAt(i), line::kSize);
      if (refund) putU16(copy, line::kFlags, static_cast<uint16_t>(getU16(copy, line::kFlags) | line::kVoid));
      written = FileDBRecWrite(target, kAppend, copy) == 0;
    }
    uint8_t closing[line::kSize] = {};
    if (written) {
      std::memcpy(closing + line::kPrintName, manager_ + 16, 8);
      std::memcpy(closing + line::kCode, settings_, line::kCodeLen);
      putU16(closing, line::kFlags, static_cast<uint16_t>(line::kClct | (refund ? line::kVoid : 0)));
      putU16(closing, line::kKeyCode, static_cast<uint16_t>(0xF000 | (modeCode & 0x0FFF)));
      putI32(closing, line::kUnit, totals[kQuantity]);
      uint16_t date = 0, time = 0;
      GetDate(&date, &time);
      putU32(closing, line::kUnitPrice, (static_cast<uint32_t>(date) << 16) | time);
      const uint16_t receipt = static_cast<uint16_t>((lastReceipt + 1u) % 10000u);
      putU32(closing, line::kPrice,
             (static_cast<uint32_t>(getU16(manager_, clerk::kNumber.offset)) << 16) | receipt);
      putI32(closing, line::kUnitNet, getI32(settings_, settings::kReceiptNumberAdd.offset));
      putI32(closing, line::kNetPrice, callerValue);
      written = FileDBRecWrite(target, kAppend, closing) == 0;
    }
    if (written) {
      committed = true;
      if (closingOut) std::memcpy(closingOut, closing, line::kSize);
    } else {
      // A failed append: everything goes back, appended records included.
      undoSlots(fixedtotal::kSlots - 1);
      undoLines(lineCount - 1);
      const int32_t count = FileDBRecGetSize(target);
      if (count > oldCount) FileDBRecDelete(target, oldCount, count - 1, nullptr);
      result = -1;
    }
  }
  inCommit_ = false;
  customerImages_.clear();

  bool followUpFailed = false;
  if (committed && totals[kSettlement] && context.settlementInsert && OdbcInsertSettlement(&context) < 0)
    followUpFailed = true;  // the link showed its message
  if (committed) {
    if (OdbcCommit() < 0) followUpFailed = true;
  } else {
    OdbcRollback();
  }
  if (OdbcDropStatements(&context) < 0 && committed) followUpFailed = true;

  if (closeAll() != 0) {
    if (!committed) return -1;
    ReportError(kOperation, 0xFFFFFFFFu);
    followUpFailed = true;
  }
  if (!committed) return -1;

  // The receipt CSV of the settings; a committed sale only.
  if (ExportReceiptCsv(modeCode, block, totals[kQuantity], lastReceipt, callerValue, nullptr) != 0) {
    ReportError(kOperation, 0xFFFFFFFFu);
    followUpFailed = true;
  }

  int32_t outcome = followUpFailed ? 2 : 0;
  if (kept || !temporary || !*temporary) return outcome;
  // The sale is in the daily file: its temporary file must go, or the next
  // start would offer to resume a sale already committed.
  char path[300] = {};
  FileDBGetPathName(*temporary, path);
  FileDBDelete(*temporary);
  *temporary = 0;
  if (!platform::deleteFile(platform::mapPath(path))) {
    ReportError(kOperation, platform::lastError());
    return 1;
  }
  return outcome;
}

}  // namespace varnex::reg
