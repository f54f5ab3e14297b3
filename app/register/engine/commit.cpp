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

// One commit under way: the sale's lines, its totals, where it goes and how
// much of it has been posted and appended.
struct CRegCom::CommitRun {
  uint32_t modeCode = 0;
  int32_t callerValue = 0;
  std::vector<uint8_t> lines;
  int32_t lineCount = 0;
  bool refund = false;
  int32_t totals[saletotal::kWords] = {};
  uint8_t customerBuffer[256] = {};
  OdbcPostContext context;
  FileDBHandle target = 0;
  int32_t oldCount = 0;       // the target's records before the commit
  uint16_t lastReceipt = 0;   // receipt number of the target's last record
  uint8_t monthlyImage[48] = {};
  bool monthlyKept = false;   // the monthly slot's record as it was
  uint8_t closing[line::kSize] = {};

  const uint8_t* lineAt(int32_t i) const { return lines.data() + static_cast<size_t>(i) * line::kSize; }
  int32_t reverse() const { return refund ? 1 : 0; }
  int32_t undoReverse() const { return refund ? 0 : 1; }
};

// Takes back what a failed commit posted and appended: every line up to the
// one that failed posted again with the other sign (that one stops again at
// the same place, so only what it posted is taken back), the fixed
// totalizers likewise, the customers' records as they were, and the records
// appended to the target. Whatever of that fails is remembered, so that the
// commit never reports "nothing remains" when something does.
class CRegCom::CommitUndo {
 public:
  CommitUndo(CRegCom& engine, CommitRun& run) : engine_(engine), run_(run) {}

  // Lines 0 to through; failed: the last of them is the one that failed.
  void lines(int32_t through, bool failed) {
    using namespace saletotal;
    engine_.undoing_ = true;
    int32_t scratch[kWords] = {};
    scratch[kRefund] = run_.totals[kRefund];
    scratch[kSettlement] = run_.totals[kSettlement];
    scratch[kReading] = run_.totals[kReading];
    for (int32_t i = 0; i <= through && i < run_.lineCount; ++i) {
      const int32_t reposted =
          engine_.CommitLine(run_.lineAt(i), scratch, run_.undoReverse(), &run_.context, run_.customerBuffer);
      if (reposted != 0 && !(failed && i == through)) failed_ = true;
    }
    if (engine_.restoreCustomers() != 0) failed_ = true;
    engine_.undoing_ = false;
  }

  // Slots 0 to through, likewise.
  void slots(int32_t through, bool failed) {
    for (int32_t slot = 0; slot <= through && slot < fixedtotal::kSlots; ++slot) {
      if (slot == kMonthlySlot) continue;
      const int32_t reposted = engine_.UpdateTotalizers(slot, run_.totals, run_.undoReverse());
      if (reposted != 0 && !(failed && slot == through)) failed_ = true;
    }
    // The monthly slot may have started a new month: its record comes back whole.
    if (through >= kMonthlySlot && run_.monthlyKept && !run_.totals[saletotal::kReading] &&
        FileDBRecWrite(engine_.tables_[kFixedTotalTable], kMonthlySlot, run_.monthlyImage) != 0)
      failed_ = true;
  }

  void appended() {
    const int32_t count = FileDBRecGetSize(run_.target);
    if (count < 0 || (count > run_.oldCount && FileDBRecDelete(run_.target, run_.oldCount, count - 1, nullptr) != 0))
      failed_ = true;
  }

  // -1 when everything was taken back, -2 (after the message) when not.
  int32_t result() const {
    if (!failed_) return -1;
    engine_.ReportError(kOperation, ZEMTA_ERR_FILE_ACCESS);
    return -2;
  }

 private:
  CRegCom& engine_;
  CommitRun& run_;
  bool failed_ = false;
};

// Posts every line, then the totals to the fixed totalizers. 0, or the
// undo's result.
int32_t CRegCom::commitPost(CommitRun& run) {
  using namespace saletotal;
  CommitUndo undo(*this, run);
  for (int32_t i = 0; i < run.lineCount; ++i) {
    const uint8_t* l = run.lineAt(i);
    if (keyType(getU16(l, line::kKeyCode)) == kKeyCustomer) {
      std::memset(run.context.customerCode, 0, sizeof run.context.customerCode);
      std::memcpy(run.context.customerCode, l + line::kCode, line::kCodeLen);
    }
    if (CommitLine(l, run.totals, run.reverse(), &run.context, run.customerBuffer) != 0) {
      undo.lines(i, true);
      return undo.result();
    }
  }
  if (run.totals[kGuests] == 0) run.totals[kGuests] = 1;
  for (int32_t slot = 0; slot < fixedtotal::kSlots; ++slot) {
    if (UpdateTotalizers(slot, run.totals, run.reverse()) != 0) {
      undo.slots(slot, true);
      undo.lines(run.lineCount - 1, false);
      return undo.result();
    }
  }
  return 0;
}

// Appends the lines (refund lines flagged void) and the closing record to the
// target. 0, or the undo's result after taking the whole commit back.
int32_t CRegCom::commitAppend(CommitRun& run) {
  using namespace saletotal;
  bool written = true;
  for (int32_t i = 0; i < run.lineCount && written; ++i) {
    uint8_t copy[line::kSize];
    std::memcpy(copy, run.lineAt(i), line::kSize);
    if (run.refund) putU16(copy, line::kFlags, static_cast<uint16_t>(getU16(copy, line::kFlags) | line::kVoid));
    written = FileDBRecWrite(run.target, kAppend, copy) == 0;
  }
  if (written) {
    uint8_t* closing = run.closing;
    std::memcpy(closing + line::kPrintName, manager_ + 16, 8);
    std::memcpy(closing + line::kCode, settings_, line::kCodeLen);
    putU16(closing, line::kFlags, static_cast<uint16_t>(line::kClct | (run.refund ? line::kVoid : 0)));
    putU16(closing, line::kKeyCode, closingKey(static_cast<uint16_t>(run.modeCode)));
    putI32(closing, line::kUnit, run.totals[kQuantity]);
    uint16_t date = 0, time = 0;
    GetDate(&date, &time);
    putU32(closing, line::kUnitPrice, (static_cast<uint32_t>(date) << 16) | time);
    const uint16_t receipt = static_cast<uint16_t>((run.lastReceipt + 1u) % 10000u);
    putU32(closing, line::kPrice, (static_cast<uint32_t>(getU16(manager_, clerk::kNumber.offset)) << 16) | receipt);
    putI32(closing, line::kUnitNet, getI32(settings_, settings::kReceiptNumberAdd.offset));
    putI32(closing, line::kNetPrice, run.callerValue);
    written = FileDBRecWrite(run.target, kAppend, closing) == 0;
  }
  if (written) return 0;
  // A failed append: everything goes back, appended records included.
  CommitUndo undo(*this, run);
  undo.slots(fixedtotal::kSlots - 1, false);
  undo.lines(run.lineCount - 1, false);
  undo.appended();
  return undo.result();
}

// The steps after the sale is in the target: the settlement row, the link's
// commit (or its rollback when the sale is not committed) and its
// statements. True when one of them failed (each shows its own message).
bool CRegCom::commitFollowUp(CommitRun& run, bool committed) {
  bool failed = false;
  if (committed && run.totals[saletotal::kSettlement] && run.context.settlementInsert &&
      OdbcInsertSettlement(&run.context) < 0)
    failed = true;
  if (committed) {
    if (OdbcCommit() < 0) failed = true;
  } else {
    OdbcRollback();
  }
  if (OdbcDropStatements(&run.context) < 0 && committed) failed = true;
  return failed;
}

int32_t CRegCom::PrfUpdate(uint32_t modeCode, MemoryBlockHandle block, void* closingOut, FileDBHandle* temporary,
                           int32_t callerValue) {
  using namespace saletotal;
  if (!project_ || !block) {
    ReportError(kOperation, ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  CommitRun run;
  run.modeCode = modeCode;
  run.callerValue = callerValue;
  // The sale's lines, copied out of the block.
  const int32_t size = SeekMemory(block, 0, MEMORY_SEEK_END);
  run.lines.resize(size > 0 ? static_cast<size_t>(size) : 0);
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  if (!run.lines.empty() &&
      ReadDataMemory(block, run.lines.data(), static_cast<uint32_t>(run.lines.size())) != size) {
    ReportError(kOperation, ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  run.lineCount = size / static_cast<int32_t>(line::kSize);
  if (run.lineCount > 0 && keyType(getU16(run.lineAt(run.lineCount - 1), line::kKeyCode)) == kKeyClosing)
    --run.lineCount;

  // The target: the sale's temporary file when it keeps the sale, else
  // today's daily receipt file.
  const bool kept = keepInTemporary_ && temporary && *temporary;
  run.target = kept ? *temporary : PrfOpen(3, nullptr);
  if (!run.target) return -1;
  if (OpenForUpdate(run.target) != 0) return -1;
  auto closeAll = [&]() { return CloseAfterUpdate(run.target); };
  if (FileDBRecRead(tables_[kSettingsTable], 0, settings_) != 0) {
    closeAll();
    return -1;
  }
  run.oldCount = FileDBRecGetSize(run.target);
  if (run.oldCount < 0) {
    closeAll();
    return -1;
  }
  if (run.oldCount > 0) {
    uint8_t last[line::kSize];
    if (FileDBRecRead(run.target, run.oldCount - 1, last) != 0) {
      closeAll();
      return -1;
    }
    run.lastReceipt = getU16(last, line::kPrice);
  }

  run.refund = modeCode == kModeRefund;
  run.totals[kRefund] = run.refund ? 1 : 0;
  run.totals[kSettlement] = modeCode == kModeSettlement ? 1 : 0;
  run.totals[kReading] = modeCode == kModeSettlement || modeCode == kModeXReading ? 1 : 0;
  if (run.lineCount > 0 && keyType(getU16(run.lineAt(0), line::kKeyCode)) == kKeyCustomer)
    std::memcpy(run.customerBuffer, run.lineAt(0) + line::kCode, line::kCodeLen);

  if (OdbcBeginTrans() < 0) {
    closeAll();
    return -1;
  }
  inCommit_ = true;
  undoing_ = false;
  customerImages_.clear();
  customerCount_ = FileDBRecGetSize(tables_[kCustomerTable]);
  run.monthlyKept = FileDBRecRead(tables_[kFixedTotalTable], kMonthlySlot, run.monthlyImage) == 0;

  int32_t result = commitPost(run);
  if (result == 0) result = commitAppend(run);
  const bool committed = result == 0;
  if (committed && closingOut) std::memcpy(closingOut, run.closing, line::kSize);
  inCommit_ = false;
  customerImages_.clear();

  bool followUpFailed = commitFollowUp(run, committed);
  if (closeAll() != 0) {
    if (!committed) return result;
    ReportError(kOperation, 0xFFFFFFFFu);
    followUpFailed = true;
  }
  if (!committed) return result;

  // The receipt CSV of the settings; a committed sale only.
  if (ExportReceiptCsv(modeCode, block, run.totals[kQuantity], run.lastReceipt, callerValue, nullptr) != 0) {
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
