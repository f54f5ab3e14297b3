// The transaction commit: a finished sale, refund, reading or settlement (a
// memory block of 96-byte line records in entry order) is posted to the
// masters and counters, its totals to the 36 fixed totalizers, and its lines
// with a closing record are appended to today's daily receipt file, as one
// unit: a failure before the commit point leaves nothing of it anywhere.
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
// The receipt number is one more than that of the file's last closing record,
// modulo 10000, so each day's file numbers from 1 and 9999 is followed by 0.
//
// How the commit stays whole through a crash or a power cut (the staging of
// the posting, the journal, the commit point and the checkpoints) is written
// at the top of commit_journal.cpp.
//
// Once its journal entry is on disk the sale is committed: a step after that
// which fails (writing the daily file or the tables, which the journal then
// mends, the link's commit, closing a table, the receipt CSV) shows its
// message and the result still says committed, so
// that the caller never commits the same sale twice. A sale whose link
// commit failed is posted outside again later (commit_outside.cpp).
#include <cstring>
#include <iterator>
#include <vector>

#include "app/register/engine/commit_run.h"
#include "app/register/engine/journal.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "platform/base/precise_clock.h"
#include "zemta/date.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

namespace varnex::reg {
namespace {

const char kOperation[] = "PrfUpdate";
constexpr int32_t kAppend = 0x7FFFFFFF;

// The tables a commit holds, in the order they are opened.
// The commit's tables are held without write-through: the journal carries
// the sale to disk, the tables follow at the checkpoint. The hold lingers
// between sales (ReleaseHolds).
constexpr uint32_t kHoldMode = FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH | FILEDB_MODE_LINGER;

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
    if (FileDBOpenEx(tables_[t], kHoldMode) != 0) return fail();
    opened.push_back(tables_[t]);
  }
  // The customers are posted too (a heading line, points).
  if (FileDBOpenEx(tables_[kCustomerTable], kHoldMode) != 0) return fail();
  opened.push_back(tables_[kCustomerTable]);
  if (!keepInTemporary_) {
    for (TableIndex t : kHeldUnlessKept) {
      if (FileDBOpenEx(tables_[t], kHoldMode) != 0) return fail();
      opened.push_back(tables_[t]);
    }
    // The daily file is written by the commit itself (one write per sale).
    if (receipt && FileDBOpenEx(receipt, FILEDB_MODE_READ_WRITE) != 0) return fail();
  }
  return 0;
}

int32_t CRegCom::CloseAfterUpdate(FileDBHandle receipt) {
  if (!keepInTemporary_) {
    if (receipt && FileDBCloseEx(receipt) != 0) return -1;
    for (int i = static_cast<int>(std::size(kHeldUnlessKept)) - 1; i >= 0; --i)
      if (FileDBCloseEx(tables_[kHeldUnlessKept[i]]) != 0) return -1;
  }
  if (FileDBCloseEx(tables_[kCustomerTable]) != 0) return -1;
  for (int i = static_cast<int>(std::size(kAlwaysHeld)) - 1; i >= 0; --i)
    if (FileDBCloseEx(tables_[kAlwaysHeld[i]]) != 0) return -1;
  if (!keepInTemporary_ && receipt && FileDBDelete(receipt) != 0) return -1;
  holding_ = true;
  lastCommitNs_ = platform::monotonicNanoseconds();
  return 0;
}

void CRegCom::ReleaseHolds() {
  releaseTables();
  journal_.close();
}

void CRegCom::releaseTables() {
  if (!holding_) return;
  holding_ = false;
  for (FileDBHandle t : tables_)
    if (t) FileDBEndLinger(t);
}

void CRegCom::ReleaseIdleHolds() {
  if (holding_ && platform::monotonicNanoseconds() - lastCommitNs_ >= kHoldIdleMilliseconds * 1000000ull)
    ReleaseHolds();
}

// Works out the posting of every line, then of the totals to the fixed
// totalizers, into the staging: 0, or -1 with nothing written anywhere.
int32_t CRegCom::commitPost(CommitRun& run) {
  using namespace saletotal;
  for (int32_t i = 0; i < run.lineCount; ++i) {
    const uint8_t* l = run.lineAt(i);
    if (keyType(getU16(l, line::kKeyCode)) == kKeyCustomer) {
      std::memset(run.context.customerCode, 0, sizeof run.context.customerCode);
      std::memcpy(run.context.customerCode, l + line::kCode, line::kCodeLen);
    }
    if (CommitLine(l, run.totals, run.reverse(), &run.context, run.customerBuffer) != 0) return -1;
  }
  if (run.totals[kGuests] == 0) run.totals[kGuests] = 1;
  for (int32_t slot = 0; slot < fixedtotal::kSlots; ++slot)
    if (UpdateTotalizers(slot, run.totals, run.reverse()) != 0) return -1;
  return 0;
}

void CRegCom::buildClosing(CommitRun& run) {
  using namespace saletotal;
  uint8_t* closing = run.closing;
  std::memset(closing, 0, line::kSize);
  std::memcpy(closing + line::kPrintName, manager_ + 16, 8);
  std::memcpy(closing + line::kCode, settings_, line::kCodeLen);
  putU16(closing, line::kFlags, static_cast<uint16_t>(line::kClct | (run.refund ? line::kVoid : 0)));
  putU16(closing, line::kKeyCode, closingKey(static_cast<uint16_t>(run.modeCode)));
  putI32(closing, line::kUnit, run.totals[kQuantity]);
  uint16_t date = 0, time = 0;
  GetDate(&date, &time);
  putU32(closing, line::kUnitPrice, (static_cast<uint32_t>(date) << 16) | time);
  const uint16_t receipt = ReceiptAfter(run.lastReceipt);
  putU32(closing, line::kPrice, (static_cast<uint32_t>(getU16(manager_, clerk::kNumber.offset)) << 16) | receipt);
  putI32(closing, line::kUnitNet, getI32(settings_, settings::kReceiptNumberAdd.offset));
  putI32(closing, line::kNetPrice, run.callerValue);
}

// The daily file, held for the commit: cut back to whole sales, its record
// count and last receipt number read. 0 or -1.
std::string CRegCom::todaysDailyPath() const {
  const platform::LocalTime now = platform::localTime();
  char path[300] = {};
  if (FileProjGetPathName(project_, path, 3, ReceiptFileName(dosDate(now.year, now.month, now.day)).c_str()) != 0)
    return {};
  return platform::mapPath(path);
}

int32_t CRegCom::openDaily(CommitRun& run) {
  run.targetPath = todaysDailyPath();
  if (run.targetPath.empty()) return -1;
  run.daily = DataFile::open(run.targetPath, platform::kFileRead | platform::kFileWrite, platform::kShareRead,
                             platform::kOpenAlways);
  if (!run.daily.isOpen()) {
    ReportError(kOperation, platform::lastError());
    return -1;
  }
  const DailyTail tail = TrimToWholeSales(run.daily);
  if (tail.count < 0) {
    ReportError(kOperation, platform::lastError());
    return -1;
  }
  if (tail.cutBytes > 0)
    noteInErrorLog(std::string(kOperation) + ": " + std::to_string(tail.cutBytes) +
                   " bytes after the last whole sale cut off " + run.targetPath);
  run.oldCount = tail.count;
  run.lastReceipt = tail.lastReceipt;
  return 0;
}

// What the sale appends to its target: the lines (refund lines flagged
// void) and the closing record.
void CRegCom::buildRecords(CommitRun& run) {
  run.records.resize(static_cast<size_t>(run.lineCount + 1) * line::kSize);
  for (int32_t i = 0; i < run.lineCount; ++i) {
    uint8_t* copy = run.records.data() + static_cast<size_t>(i) * line::kSize;
    std::memcpy(copy, run.lineAt(i), line::kSize);
    if (run.refund) putU16(copy, line::kFlags, static_cast<uint16_t>(getU16(copy, line::kFlags) | line::kVoid));
  }
  std::memcpy(run.records.data() + static_cast<size_t>(run.lineCount) * line::kSize, run.closing, line::kSize);
}

// Right after the commit point: the sale's records reach the target, the
// daily file in one write (synced with the checkpoint), a kept temporary file
// record by record. 0, or -1 with the target as it was.
int32_t CRegCom::commitAppend(CommitRun& run) {
  const uint32_t length = static_cast<uint32_t>(run.records.size());
  if (run.kept) {
    bool written = true;
    for (uint32_t at = 0; at < length && written; at += line::kSize)
      written = FileDBRecWrite(run.target, kAppend, run.records.data() + at) == 0;
    if (written) return 0;
    const int32_t count = FileDBRecGetSize(run.target);
    if (count > run.oldCount) FileDBRecDelete(run.target, run.oldCount, count - 1, nullptr);
    return -1;
  }
  const int64_t at = static_cast<int64_t>(run.oldCount) * line::kSize;
  uint32_t done = 0;
  if (run.daily.writeAt(at, run.records.data(), length, &done) && done == length) return 0;
  ReportError(kOperation, platform::lastError());
  run.daily.cutAt(at);
  return -1;
}

// The link's steps after the local commit: its commit when the sale is
// committed, else its rollback, and its statements. True when one of them
// failed (each shows its own message).
bool CRegCom::commitFollowUp(CommitRun& run, bool committed) {
  bool failed = false;
  if (committed) {
    const int32_t outside = OdbcCommit();
    if (outside < 0) failed = true;
    // Posted outside: the note of the sale goes; kept, it posts the sale
    // again at the next commit or start.
    if (outside > 0 && outsidePosted() != 0) {
      ReportError(kOperation, platform::lastError());
      failed = true;
    }
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
  // A sale committed earlier whose records or images did not all reach
  // their files is finished first: the new sale is numbered and posted
  // after it.
  if (journalPending_ && mendFromJournal() != 0) {
    ReportError(kOperation, platform::lastError());
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
  run.kept = keepInTemporary_ && temporary && *temporary;
  if (run.kept) {
    run.target = *temporary;
    char path[300] = {};
    FileDBGetPathName(run.target, path);
    run.targetPath = platform::mapPath(path);
  } else if (openDaily(run) != 0) {
    return -1;
  }
  if (OpenForUpdate(run.target) != 0) return -1;
  auto closeAll = [&]() { return CloseAfterUpdate(run.target); };
  if (FileDBRecRead(tables_[kSettingsTable], 0, settings_) != 0) {
    closeAll();
    return -1;
  }
  if (run.kept) {
    run.oldCount = FileDBRecGetSize(run.target);
    if (run.oldCount < 0) {
      closeAll();
      return -1;
    }
    uint8_t last[line::kSize];
    for (int32_t n = run.oldCount - 1; n >= 0; --n) {
      if (FileDBRecRead(run.target, n, last) != 0) {
        closeAll();
        return -1;
      }
      if (keyType(getU16(last, line::kKeyCode)) == kKeyClosing) {
        run.lastReceipt = getU16(last, line::kPrice);
        break;
      }
    }
  }

  run.start();

  // Sales committed here whose outside posting was lost go out first, each
  // in its own transaction of the link.
  if (OdbcIsOpen()) RepostOutside();
  if (OdbcBeginTrans() < 0) {
    closeAll();
    return -1;
  }
  staged_.clear();
  stagedAt_.clear();
  readInStaging_.clear();
  staging_ = true;
  int32_t result = commitPost(run);
  staging_ = false;
  // The settlement row belongs to the outside transaction: it goes in
  // before the local commit, so that either both hold the settlement or
  // neither does.
  if (result == 0 && run.totals[kSettlement] && run.context.settlementInsert &&
      OdbcInsertSettlement(&run.context) < 0)
    result = -1;
  // With the link's transaction open the sale is noted as waiting for its
  // outside commit before the local commit point: should the link's commit
  // fail or the register die before it, the note posts it again later.
  const bool linked = OdbcIsOpen() && odbc_.database->InTransaction();
  if (result == 0) {
    buildClosing(run);
    buildRecords(run);
    if (linked && outsideNote(run) != 0) {
      ReportError(kOperation, platform::lastError());
      result = -1;
    } else if (journalWrite(run) != 0) {
      ReportError(kOperation, platform::lastError());
      result = -1;
    } else if (commitAppend(run) != 0) {
      // The target refuses the sale (a full disk): taken back, the sale
      // leaves nothing behind; should that fail, it stays committed and the
      // journal mends the target later.
      if (journalWithdraw() == 0) result = -1;
      else journalPending_ = true;
    }
    if (result != 0) outsideForget();
  }
  const bool committed = result == 0;
  bool followUpFailed = false;
  if (committed) {
    if (closingOut) std::memcpy(closingOut, run.closing, line::kSize);
    // The tables follow the committed sale; should a write fail, the
    // journal mends them before the next commit (or at the next start).
    if (applyStaged() != 0) {
      ReportError(kOperation, ZEMTA_ERR_FILE_ACCESS);
      journalPending_ = true;
    }
    if (journalPending_) followUpFailed = true;
    ++commitsSinceCheckpoint_;
  } else {
    // The settings buffer forgets what the staged posting did to it.
    FileDBRecRead(tables_[kSettingsTable], 0, settings_);
  }
  dropStaged();
  run.daily.close();

  if (commitFollowUp(run, committed)) followUpFailed = true;
  if (closeAll() != 0) {
    if (!committed) return result;
    ReportError(kOperation, 0xFFFFFFFFu);
    followUpFailed = true;
  }
  if (!committed) return result;
  if (journalPending_) mendFromJournal();

  // The receipt CSV of the settings; a committed sale only.
  if (ExportReceiptCsv(modeCode, block, run.totals[kQuantity], run.lastReceipt, callerValue, nullptr) != 0) {
    ReportError(kOperation, 0xFFFFFFFFu);
    followUpFailed = true;
  }
  if (commitsSinceCheckpoint_ >= kCheckpointInterval && checkpoint() != 0) {
    ReportError(kOperation, 0xFFFFFFFFu);
    followUpFailed = true;
  }

  int32_t outcome = followUpFailed ? 2 : 0;
  if (run.kept || !temporary || !*temporary) return outcome;
  // The sale is in the daily file: its temporary file must go, or the next
  // start would offer to resume a sale already committed (the scan asks the
  // daily file first, should the removal not reach the disk).
  char path[300] = {};
  FileDBGetPathName(*temporary, path);
  FileDBDelete(*temporary);
  *temporary = 0;
  // Its removal reaches the disk with the checkpoint's sync of the data
  // folder's folders (at once when it lies elsewhere).
  const std::string native = platform::mapPath(path);
  if (!deleteDataFile(native) || (dataRelative(native) == native && !syncFolderOf(native))) {
    ReportError(kOperation, platform::lastError());
    return 1;
  }
  return outcome;
}

}  // namespace varnex::reg
