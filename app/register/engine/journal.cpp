// Journal files: the temporary transaction file that mirrors a sale in
// progress, the scan for sales interrupted by a crash, and the daily receipt
// file. Both files are library tables without a header and with 96-byte
// records, one line record each (records.h, namespace line).
//
// A daily receipt file holds whole sales only: each sale's lines and its
// closing record reach it in one write (commit.cpp), and a crash in the middle
// of that write leaves a tail that is no sale (a record cut short, or lines
// without their closing record); the tail is cut off before the next sale
// goes in and at start, and the receipt number always comes from the last
// closing record.
//
// The scan needs "now" on the file system's own clock, so that a file
// written by another instance after the scan began is never taken for a
// left-over one. The register makes a probe file and takes its time: here the
// probe's modification time, since the file systems of this platform keep no
// reliable creation time; a file just created has both the same.
#include "app/register/engine/journal.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/folder_sync.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

namespace varnex::reg {
namespace {

const char kTempTitle[] = "ﾃﾝﾎﾟﾗﾘ ﾃﾞｰﾀﾍﾞｰｽ";
const char kReceiptTitle[] = "ﾚｼｰﾄ ﾃﾞｰﾀﾍﾞｰｽ";
const char kOperation[] = "PrfOpen";
constexpr uint32_t kSequenceError = 0x20003001u;

std::string nativePath(const std::string& path) { return platform::mapPath(path); }

const char* saleModeName(char letter) {
  switch (letter) {
    case '1': return "登録１";
    case '2': return "登録２";
    default: return "戻し";
  }
}

bool readRecords(const std::string& path, std::vector<uint8_t>& bytes) {
  DataFile file = DataFile::open(path, platform::kFileRead,
                                 platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                                 platform::kOpenExisting);
  if (!file.isOpen()) return false;
  const int64_t size = file.size();
  if (size < 0) return false;
  bytes.resize(static_cast<size_t>(size));
  uint32_t done = 0;
  if (size > 0 && (!file.readAt(0, bytes.data(), static_cast<uint32_t>(size), &done) || done != size)) return false;
  bytes.resize(bytes.size() / kJournalRecordLen * kJournalRecordLen);
  return true;
}

bool isClosing(const uint8_t* record) { return keyType(getU16(record, line::kKeyCode)) == kKeyClosing; }

// Two line records alike but for the void bit a refund's commit sets.
bool sameLine(const uint8_t* a, const uint8_t* b) {
  for (uint32_t i = 0; i < kJournalRecordLen; ++i) {
    const uint8_t mask = i == line::kFlags ? static_cast<uint8_t>(~line::kVoid) : 0xFF;
    if ((a[i] & mask) != (b[i] & mask)) return false;
  }
  return true;
}

// Removes a file the scan found left over, for good (the folder's entry on
// the disk too).
bool removeForGood(const std::string& nativePath) {
  return deleteDataFile(nativePath) && syncFolderOf(nativePath);
}

// Letters of the temporary files this register makes: the scan's own probe
// first, so that one left by a scan cut short goes before a sale is offered.
const char kTempLetters[] = {'$', '1', '2', 'R'};
// Free numbers in a row after which no temporary file of a letter is looked
// for (on the file server).
constexpr uint32_t kFreeRunEnd = 16;

// The names of the temporary files in the folder. The local disk lists
// them. The file server lists no folders, but tells whether a name exists,
// and the names are the register's own: each new file takes the lowest free
// number of its letter, so the files of a letter sit at the low numbers,
// with a hole only where a sale that began while a later one was open has
// ended; a run of kFreeRunEnd free numbers ends them unless more sales of
// one mode than that were open at once. false when the server fails to
// answer.
bool temporaryFileNames(const std::string& nativeFolder, bool remote, std::vector<std::string>& names) {
  if (!remote) {
    names = platform::listFolder(nativeFolder, "R?N?????.log");
    return true;
  }
  names.clear();
  for (char letter : kTempLetters) {
    uint32_t free = 0;
    for (uint32_t number = 1; number < kTempNumbers && free < kFreeRunEnd; ++number) {
      const std::string name = TempFileName(letter, number);
      uint64_t written;
      if (ZemtaGetFileWriteTime((nativeFolder + name).c_str(), &written)) {
        names.push_back(name);
        free = 0;
      } else if (platform::lastError() == platform::kErrorFileNotFound) {
        ++free;
      } else {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

DailyTail TrimToWholeSales(DataFile& file) {
  DailyTail tail;
  const int64_t size = file.size();
  if (size < 0) return tail;
  int64_t whole = size / kJournalRecordLen;
  int64_t keep = whole;
  // Back to the last closing record, one record at a time.
  uint8_t record[kJournalRecordLen];
  while (keep > 0) {
    uint32_t done = 0;
    if (!file.readAt((keep - 1) * kJournalRecordLen, record, kJournalRecordLen, &done) || done != kJournalRecordLen)
      return tail;
    if (isClosing(record)) {
      tail.lastReceipt = getU16(record, line::kPrice);
      break;
    }
    --keep;
  }
  tail.cutBytes = size - keep * kJournalRecordLen;
  if (tail.cutBytes > 0) {
    if (!file.cutAt(keep * kJournalRecordLen) || !file.syncData())
      return tail;
  }
  tail.count = static_cast<int32_t>(keep);
  return tail;
}

bool SaleInDailyFile(const std::string& temporaryPath, int64_t writtenAt, const std::string& dailyPath) {
  std::vector<uint8_t> sale, daily;
  if (!readRecords(temporaryPath, sale) || !readRecords(dailyPath, daily)) return false;
  size_t lines = sale.size() / kJournalRecordLen;
  if (lines > 0 && isClosing(sale.data() + (lines - 1) * kJournalRecordLen)) --lines;
  if (lines == 0) return false;
  const platform::LocalTime t = platform::localTimeOf(writtenAt);
  const uint32_t written = (static_cast<uint32_t>(dosDate(t.year, t.month, t.day)) << 16) |
                           static_cast<uint32_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
  const size_t records = daily.size() / kJournalRecordLen;
  for (size_t c = records; c-- > lines;) {
    const uint8_t* closing = daily.data() + c * kJournalRecordLen;
    if (!isClosing(closing) || getU32(closing, line::kUnitPrice) < written) continue;
    bool same = true;
    for (size_t i = 0; i < lines && same; ++i)
      same = sameLine(daily.data() + (c - lines + i) * kJournalRecordLen, sale.data() + i * kJournalRecordLen);
    if (same) return true;
  }
  return false;
}

char TempFileLetter(uint16_t saleMode) {
  switch (saleMode) {
    case kSaleRefund: return 'R';
    case kSaleRegister1: return '1';
    case kSaleRegister2: return '2';
    default: return '$';
  }
}

std::string TempFileName(char letter, uint32_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "R%cN%05u.log", letter, number % kTempNumbers);
  return name;
}

std::string NextFreeTempFile(const std::string& folder, char letter, uint32_t start) {
  uint32_t number = start % kTempNumbers;
  // Every number is tried once; a folder holding all of them has no free name.
  for (uint32_t tries = 0; tries < kTempNumbers; ++tries) {
    std::string name = TempFileName(letter, number);
    if (!dataFileExists(nativePath(folder + name))) return name;
    number = (number + 1) % kTempNumbers;
  }
  return {};
}

std::string ReceiptFileName(uint16_t dosDate) {
  const unsigned day = dosDate & 0x1F, month = (dosDate >> 5) & 0x0F, year = 1980 + (dosDate >> 9);
  char name[32];
  std::snprintf(name, sizeof name, "DT%02u%02u%02u.prf", month, day, year % 100);
  return name;
}

FileDBHandle CRegCom::openTemporary(const std::string& path) {
  FileDBHandle table = FileDBCreate(path.c_str(), kJournalTableId, 0, kJournalRecordLen, kTempTitle, owner_);
  if (!table) return 0;
  if (FileDBOpenEx(table, FILEDB_MODE_READ_WRITE) != 0) {
    FileDBDelete(table);
    deleteDataFile(nativePath(path));
    return 0;
  }
  return table;
}

bool CRegCom::RewriteTemporary(FileDBHandle temporary, const uint8_t* lines, int32_t count) {
  char code[300] = {};
  if (!temporary || count < 0 || (count > 0 && !lines) || FileDBGetPathName(temporary, code) <= 0) return false;
  const std::string copyCode = std::string(code) + ".new";
  const std::string copy = nativePath(copyCode), target = nativePath(code);
  deleteDataFile(copy);
  FileDBHandle table = openTemporary(copyCode);
  if (!table) return false;
  bool written = true;
  for (int32_t n = 0; n < count && written; ++n)
    written = FileDBRecWrite(table, n, lines + static_cast<size_t>(n) * kJournalRecordLen) == 0;
  written = FileDBCloseEx(table) == 0 && written;
  FileDBDelete(table);
  if (!written) {
    deleteDataFile(copy);
    return false;
  }
  // The sale's own table lets go of the file for the rename, and opens the
  // new one under the same name.
  if (FileDBCloseEx(temporary) != 0) {
    deleteDataFile(copy);
    return false;
  }
  const bool replaced = replaceDataFile(copy, target);
  if (!replaced) deleteDataFile(copy);
  return FileDBOpenEx(temporary, FILEDB_MODE_READ_WRITE) == 0 && replaced;
}

FileDBHandle CRegCom::PrfOpen(int32_t kind, uint16_t* modeOrDate) {
  if (!project_ || (kind == 4 && !modeOrDate)) {
    ReportError(kOperation, ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  if (kind == 4) {
    const uint16_t mode = *modeOrDate;
    if (mode != kSaleRefund && mode != kSaleRegister1 && mode != kSaleRegister2) return scanInterrupted(modeOrDate);
    char folder[300];
    if (FileProjGetPathName(project_, folder, 4, nullptr) != 0) return 0;
    const std::string name = NextFreeTempFile(folder, TempFileLetter(mode));
    if (name.empty()) return 0;
    return openTemporary(std::string(folder) + name);
  }

  // The daily receipt file of the date given, or of today.
  uint16_t date;
  if (modeOrDate) {
    date = *modeOrDate;
  } else {
    const platform::LocalTime now = platform::localTime();
    date = dosDate(now.year, now.month, now.day);
  }
  char path[300];
  if (FileProjGetPathName(project_, path, kind, ReceiptFileName(date).c_str()) != 0) return 0;
  if (modeOrDate && !dataFileExists(nativePath(path))) {
    showBox("レシートファイルを開くことができません\nレシートの参照は取り消されました", platform::kMbIconInformation);
    return 0;
  }
  return FileDBCreate(path, kJournalTableId, 0, kJournalRecordLen, kReceiptTitle, owner_);
}

int32_t CRegCom::NextReceiptNumber() {
  FileDBHandle daily = PrfOpen(3, nullptr);
  if (!daily) return -1;
  char code[300] = {};
  FileDBGetPathName(daily, code);
  FileDBDelete(daily);
  const std::string path = nativePath(code);
  if (!dataFileExists(path)) return ReceiptAfter(0);  // the day's first sale
  // Read only: a tail that is no whole sale is the commit's to cut; the
  // number comes from the last closing record, as the commit takes it.
  DataFile file =
      DataFile::open(path, platform::kFileRead, platform::kShareRead | platform::kShareWrite, platform::kOpenExisting);
  const int64_t size = file.isOpen() ? file.size() : -1;
  if (size < 0) return -1;
  uint8_t record[kJournalRecordLen];
  for (int64_t n = size / kJournalRecordLen; n > 0; --n) {
    uint32_t done = 0;
    if (!file.readAt((n - 1) * kJournalRecordLen, record, kJournalRecordLen, &done) || done != kJournalRecordLen)
      return -1;
    if (isClosing(record)) return ReceiptAfter(getU16(record, line::kPrice));
  }
  return ReceiptAfter(0);
}

bool CRegCom::saleCommitted(const std::string& path, int64_t writtenAt) {
  const platform::LocalTime now = platform::localTime(), then = platform::localTimeOf(writtenAt);
  // The day the sale was last written, and today (a sale left over midnight).
  const uint16_t days[2] = {dosDate(then.year, then.month, then.day), dosDate(now.year, now.month, now.day)};
  for (int i = 0; i < 2; ++i) {
    if (i == 1 && days[1] == days[0]) break;
    char daily[300];
    if (FileProjGetPathName(project_, daily, 3, ReceiptFileName(days[i]).c_str()) != 0) continue;
    if (SaleInDailyFile(nativePath(path), writtenAt, nativePath(daily))) return true;
  }
  return false;
}

FileDBHandle CRegCom::scanInterrupted(uint16_t* mode) {
  *mode = kSaleNone;
  char folderText[300];
  if (FileProjGetPathName(project_, folderText, 4, nullptr) != 0) return 0;
  const std::string folder = folderText;
  const std::string nativeFolder = nativePath(folder);
  const bool remote = ZemtaIsRemotePath(nativeFolder.c_str()) != 0;

  // 1. The probe: its time is "now" on the clock of the disk that holds the
  // folder.
  const std::string probeName = NextFreeTempFile(folder, '$');
  if (probeName.empty()) return 0;
  const std::string probePath = folder + probeName;
  FileDBHandle probe = FileDBCreate(probePath.c_str(), kJournalTableId, 0, kJournalRecordLen, kTempTitle, owner_);
  if (!probe) return 0;
  auto dropProbe = [&]() {
    FileDBDelete(probe);
    if (!deleteDataFile(nativePath(probePath))) {
      ReportError(kOperation, platform::lastError());
      return false;
    }
    return true;
  };
  if (!remote) {
    const auto matches = platform::listFolder(nativeFolder, probeName);
    if (matches.empty()) {
      dropProbe();
      return 0;
    }
    if (matches.size() > 1) {
      const uint32_t error = platform::lastError();
      ReportError(kOperation, error ? error : platform::kErrorAlreadyExists);
      dropProbe();
      return 0;
    }
  }
  uint64_t now = 0;
  if (!ZemtaGetFileWriteTime(nativePath(probePath).c_str(), &now)) {
    if (platform::lastError() != platform::kErrorFileNotFound) ReportError(kOperation, kSequenceError);
    dropProbe();
    return 0;
  }
  // The file server's clock need not agree with the register's, by which
  // the closing records are dated: a file's time on it is moved onto the
  // register's clock by the difference the probe shows.
  const int64_t serverAhead = remote ? static_cast<int64_t>(now - platform::fileTimeUtcNow()) : 0;
  if (!dropProbe()) return 0;

  // 2. Every temporary file older than the probe.
  std::vector<std::string> names;
  if (!temporaryFileNames(nativeFolder, remote, names)) {
    ReportError(kOperation, kSequenceError);
    return 0;
  }
  for (const std::string& name : names) {
    const std::string path = folder + name;
    uint64_t written = 0;
    if (!ZemtaGetFileWriteTime(nativePath(path).c_str(), &written)) {
      // Gone since the listing (another instance finished its sale) is no
      // fault; any other failure is.
      if (platform::lastError() == platform::kErrorFileNotFound) continue;
      ReportError(kOperation, kSequenceError);
      return 0;
    }
    if (written >= now) continue;
    const char letter = name[1] == 'r' ? 'R' : name[1];
    const bool sale = letter == '1' || letter == '2' || letter == 'R';
    // Nobody else may hold it: a file held open by another running instance
    // is that instance's. The file server is told no sharing; a file it
    // refuses as held is left alone all the same, and one that was opened
    // for reading only is never created again by the check.
    const uint32_t access =
        sale || remote ? platform::kFileRead : platform::kFileRead | platform::kFileWrite;
    uint32_t error = 0;
    {
      DataFile exclusive = DataFile::open(nativePath(path), access, platform::kShareNone, platform::kOpenExisting);
      if (!exclusive.isOpen()) error = platform::lastError();
    }
    if (!sale) {
      // A stale file of no sale mode: removed when nobody holds it.
      if (error == 0 && !removeForGood(nativePath(path))) {
        ReportError(kOperation, platform::lastError());
        return 0;
      }
      continue;
    }
    if (error == platform::kErrorSharingViolation || error == platform::kErrorFileNotFound) continue;
    if (error != 0) {
      ReportError(kOperation, error);
      return 0;
    }
    // A sale already in the daily file was committed before the crash
    // took its temporary file with it: removed, never offered again.
    const int64_t onOurClock = static_cast<int64_t>(written) - serverAhead;
    if (saleCommitted(path, platform::unixSecondsOfFileTime(static_cast<uint64_t>(onOurClock)))) {
      if (!removeForGood(nativePath(path))) {
        ReportError(kOperation, platform::lastError());
        return 0;
      }
      continue;
    }
    *mode = letter == '1' ? kSaleRegister1 : letter == '2' ? kSaleRegister2 : kSaleRefund;
    char text[400];
    std::snprintf(text, sizeof text,
                  "モード '%s' で、中断された取引が見つかりました。取引を継続しますか?\n"
                  "はい　: 中断された取引を継続します\nいいえ: 中断された取引を削除します",
                  saleModeName(letter));
    if (showBox(text, platform::kMbYesNo | platform::kMbIconQuestion) == platform::kIdYes) {
      FileDBHandle table = openTemporary(path);
      if (!table) *mode = kSaleNone;
      return table;
    }
    *mode = kSaleNone;
    if (!removeForGood(nativePath(path))) {
      ReportError(kOperation, platform::lastError());
      return 0;
    }
  }
  return 0;
}

}  // namespace varnex::reg
