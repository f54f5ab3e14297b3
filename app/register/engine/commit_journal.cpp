// The commit journal: how a sale's posting survives a crash at any write and
// a power cut, with one sync of the journal and one of the daily file per
// sale, and the tables synced only at checkpoints.
//
// A commit (commit.cpp) first works the whole posting out without writing a
// table: every record the posting reads and changes is staged here, with its
// image before and after (later reads of the commit see the staged image;
// records the commit adds, a new customer or PLU item, are staged as
// appended). Then, in this order:
//   1. the staged images go into one journal entry, written and synced;
//   2. the sale's lines and its closing record go into the daily receipt
//      file in one write, synced: the commit point. A sale whose closing
//      record is on disk is committed; one whose closing record is not is not;
//   3. the after-images are written to the tables, without syncing them.
// Every CRegCom::kCheckpointInterval sales (and at close and after a
// recovery) the checkpoint forces every file of the data folder written since
// the last checkpoint to disk (tables, indexes, and the receipt CSV wherever
// it lies) and empties the journal:
// the journal therefore always covers every table change that may not be on
// disk yet.
//
// Recovery at start (RecoverCommits) replays the journal in order. An entry
// whose closing record is in its target file, at its place and byte for byte,
// is committed: each of its records is set to the after-image when it holds
// the before-image (or a write of the after-image cut short), and left when
// it holds anything else: the after-image already, or a later image (of a
// later sale, or of a change made outside the commit). Replaying in order takes a record through
// the same chain of images the commits did, so a record that reached disk at
// any point of the chain ends at its last image, and replaying twice changes
// nothing. An entry whose closing record is not on disk belongs to a sale that
// was never committed, and none of its images was written: it is skipped.
//
// Journal file "Commit.jnl" beside the daily receipt files, entries one
// after the other from offset 0, little-endian:
//
//   offset  size  content
//   0       4     "VXJ1"
//   4       4     entry length L in bytes, all of it
//   8       4     record number of the closing record in the target file
//   12      96    the closing record
//   108     260   the target file's native path, relative to the data folder
//                 when it lies in it, zero-padded
//   368     2     image count
//   370     ...   images, each: u16 table index (records.h), u16 flags (bit 0:
//                 appended by the commit), i32 record number, u16 record
//                 length n, then n bytes before and n bytes after (the
//                 before-image of an appended record is zero)
//   L - 4   4     CRC-32 of bytes 0 to L - 5
//
// An entry cut short or failing its CRC ends the journal (the crash came
// while it was written; its sale's daily write had not begun).
#include <algorithm>
#include <array>
#include <cstring>

#include "app/register/engine/data_file.h"
#include "app/register/engine/journal.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

namespace varnex::reg {
namespace {

const char kJournalName[] = "Commit.jnl";
const char kEntryMagic[4] = {'V', 'X', 'J', '1'};
constexpr uint32_t kPathField = 260;
constexpr uint32_t kEntryHead = 370;
constexpr int32_t kAppend = 0x7FFFFFFF;

DataFile openJournal(const std::string& path) {
  return DataFile::open(path, platform::kFileRead | platform::kFileWrite, platform::kShareNone,
                        platform::kOpenAlways);
}

// One entry as read back from the journal.
struct Entry {
  int32_t closingNumber = 0;
  uint8_t closing[line::kSize] = {};
  std::string target;
  struct Image {
    TableIndex table;
    bool appended;
    int32_t number;
    std::vector<uint8_t> before, after;
  };
  std::vector<Image> images;
};

// Reads the entry at offset; its length, or 0 at the end or at a torn entry.
uint32_t readEntry(DataFile& file, int64_t offset, int64_t size, Entry& entry) {
  if (size - offset < static_cast<int64_t>(kEntryHead + 4)) return 0;
  uint8_t head[8];
  uint32_t done = 0;
  if (!file.readAt(offset, head, 8, &done) || done != 8 || std::memcmp(head, kEntryMagic, 4) != 0) return 0;
  const uint32_t length = getU32(head, 4);
  if (length < kEntryHead + 4 || length > size - offset) return 0;
  std::vector<uint8_t> bytes(length);
  if (!file.readAt(offset, bytes.data(), length, &done) || done != length) return 0;
  if (JournalCrc32(bytes.data(), length - 4) != getU32(bytes.data(), length - 4)) return 0;
  entry.closingNumber = getI32(bytes.data(), 8);
  std::memcpy(entry.closing, bytes.data() + 12, line::kSize);
  entry.target = getText(bytes.data(), 108, kPathField);
  const uint16_t count = getU16(bytes.data(), 368);
  size_t at = kEntryHead;
  for (uint16_t i = 0; i < count; ++i) {
    if (at + 10 > length - 4) return 0;
    Entry::Image image;
    const uint16_t table = getU16(bytes.data(), at);
    image.appended = getU16(bytes.data(), at + 2) & 1;
    image.number = getI32(bytes.data(), at + 4);
    const uint16_t n = getU16(bytes.data(), at + 8);
    at += 10;
    if (table >= kTableCount || n != kTables[table].recordLen || at + 2u * n > length - 4) return 0;
    image.table = static_cast<TableIndex>(table);
    image.before.assign(bytes.begin() + at, bytes.begin() + at + n);
    image.after.assign(bytes.begin() + at + n, bytes.begin() + at + 2 * n);
    at += 2u * n;
    entry.images.push_back(std::move(image));
  }
  return length;
}

bool committed(const Entry& entry) { return ClosingRecordIsAt(entry.target, entry.closingNumber, entry.closing); }

// Whether a record holds the before-image, or the start of the after-image
// and the rest of the before-image (a write the crash cut short).
bool tornBetween(const std::vector<uint8_t>& current, const std::vector<uint8_t>& before,
                 const std::vector<uint8_t>& after) {
  size_t i = 0;
  while (i < current.size() && current[i] == after[i]) ++i;
  return std::equal(current.begin() + static_cast<std::ptrdiff_t>(i), current.end(),
                    before.begin() + static_cast<std::ptrdiff_t>(i));
}

}  // namespace

uint32_t JournalCrc32(const uint8_t* data, size_t length) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFFu];
  return ~crc;
}

bool ClosingRecordIsAt(const std::string& target, int32_t number, const uint8_t* closing) {
  DataFile file = DataFile::open(target, platform::kFileRead,
                                 platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                                 platform::kOpenExisting);
  if (!file.isOpen() || number < 0) return false;
  uint8_t record[line::kSize];
  uint32_t done = 0;
  return file.readAt(static_cast<int64_t>(number) * line::kSize, record, line::kSize, &done) &&
         done == line::kSize && std::memcmp(record, closing, line::kSize) == 0;
}

std::string CRegCom::dataRelative(const std::string& nativePath) const {
  const std::string folder = platform::mapPath(dataFolder_);
  return nativePath.compare(0, folder.size(), folder) == 0 ? nativePath.substr(folder.size()) : nativePath;
}

std::string CRegCom::dataNative(const std::string& stored) const {
  return !stored.empty() && stored[0] != '/' ? platform::mapPath(dataFolder_) + stored : stored;
}

std::string CRegCom::journalPath() const {
  char path[300];
  if (!project_ || FileProjGetPathName(project_, path, 3, kJournalName) != 0) return {};
  return platform::mapPath(path);
}

void CRegCom::noteInErrorLog(const std::string& text) const {
  if (dataFolder_.empty()) return;
  DataFile log = DataFile::open(platform::mapPath(dataFolder_ + "Error.log"), platform::kFileWrite,
                                platform::kShareRead, platform::kOpenAlways);
  if (!log.isOpen()) return;
  const platform::LocalTime t = platform::localTime();
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  const std::string line = stamp + text + "\r\n";
  uint32_t done = 0;
  log.append(line.data(), static_cast<uint32_t>(line.size()), &done);
}

int32_t CRegCom::readForPosting(TableIndex table, int32_t n, uint8_t* image) {
  if (staging_) {
    const auto found = stagedAt_.find({table, n});
    if (found != stagedAt_.end()) {
      std::memcpy(image, staged_[found->second].after.data(), kTables[table].recordLen);
      return 0;
    }
  }
  if (FileDBRecRead(tables_[table], n, image) != 0) return -1;
  // Kept in its temporary file, a sale leaves some of its tables unheld:
  // those are read again for the before-image.
  if (staging_ && !keepInTemporary_) readInStaging_[{table, n}].assign(image, image + kTables[table].recordLen);
  return 0;
}

int32_t CRegCom::writeForPosting(TableIndex table, int32_t n, const uint8_t* image) {
  if (!staging_) return FileDBRecWrite(tables_[table], n, image) == 0 ? 0 : -1;
  const size_t length = kTables[table].recordLen;
  const auto found = stagedAt_.find({table, n});
  if (found != stagedAt_.end()) {
    staged_[found->second].after.assign(image, image + length);
    return 0;
  }
  StagedRecord record{table, n, false, std::vector<uint8_t>(length, 0), std::vector<uint8_t>(image, image + length)};
  const int32_t count = FileDBRecGetSize(tables_[table]);
  if (count < 0) return -1;
  if (n == kAppend || n >= count) {
    // Numbered after the table's records and this commit's earlier additions.
    int32_t added = 0;
    for (const StagedRecord& s : staged_)
      if (s.table == table && s.appended) ++added;
    record.number = count + added;
    record.appended = true;
  } else if (const auto read = readInStaging_.find({table, n}); read != readInStaging_.end()) {
    // The tables are held for the commit: the record is as the staging read it.
    record.before = read->second;
  } else if (FileDBRecRead(tables_[table], n, record.before.data()) != 0) {
    return -1;
  }
  stagedAt_[{table, record.number}] = staged_.size();
  staged_.push_back(std::move(record));
  return 0;
}

int32_t CRegCom::findStagedAppend(TableIndex table, const FieldPlace& field, const std::string& code,
                                  uint8_t* image) {
  if (!staging_) return -1;
  for (const StagedRecord& s : staged_)
    if (s.table == table && s.appended && getText(s.after.data(), field.offset, field.size) == code) {
      std::memcpy(image, s.after.data(), s.after.size());
      return s.number;
    }
  return -1;
}

void CRegCom::dropStaged() {
  staging_ = false;
  staged_.clear();
  stagedAt_.clear();
  readInStaging_.clear();
}

int32_t CRegCom::journalWrite(int32_t closingNumber, const uint8_t* closing, const std::string& target) {
  std::vector<uint8_t> bytes(kEntryHead, 0);
  std::memcpy(bytes.data(), kEntryMagic, 4);
  putI32(bytes.data(), 8, closingNumber);
  std::memcpy(bytes.data() + 12, closing, line::kSize);
  // The target by its place in the data folder, so that a data folder
  // moved or mounted elsewhere still finds it.
  putText(bytes.data(), 108, kPathField, dataRelative(target));
  putU16(bytes.data(), 368, static_cast<uint16_t>(staged_.size()));
  for (const StagedRecord& s : staged_) {
    uint8_t head[10];
    putU16(head, 0, static_cast<uint16_t>(s.table));
    putU16(head, 2, s.appended ? 1 : 0);
    putI32(head, 4, s.number);
    putU16(head, 8, static_cast<uint16_t>(s.after.size()));
    bytes.insert(bytes.end(), head, head + 10);
    bytes.insert(bytes.end(), s.before.begin(), s.before.end());
    bytes.insert(bytes.end(), s.after.begin(), s.after.end());
  }
  bytes.resize(bytes.size() + 4);
  putU32(bytes.data(), 4, static_cast<uint32_t>(bytes.size()));
  putU32(bytes.data(), bytes.size() - 4, JournalCrc32(bytes.data(), bytes.size() - 4));

  DataFile journal = openJournal(journalPath());
  if (!journal.isOpen()) return -1;
  // A torn entry of an earlier crash ends the journal: the new one replaces
  // it. The end this engine wrote last stands while the file still ends
  // there (no one else wrote to it since); else the entries are read to
  // find it.
  int64_t end = 0;
  const int64_t size = journal.size();
  if (size >= 0 && size == journalEnd_) {
    end = size;
  } else {
    for (Entry entry; size >= 0; entry = Entry()) {
      const uint32_t length = readEntry(journal, end, size, entry);
      if (length == 0) break;
      end += length;
    }
  }
  uint32_t done = 0;
  if (size < 0 || !journal.writeAt(end, bytes.data(), static_cast<uint32_t>(bytes.size()), &done) ||
      done != bytes.size() || !journal.syncData())
    return -1;
  // A journal made just now needs its folder entry on disk too.
  if (size == 0 && !syncFolderOf(journal.path())) return -1;
  journalEntryStart_ = end;
  journalEnd_ = end + static_cast<int64_t>(bytes.size());
  return 0;
}

// The sale's entry goes again when its sale could not be committed after all.
void CRegCom::journalForget() {
  if (journalEntryStart_ < 0) return;
  const std::string path = journalPath();
  {
    DataFile journal = openJournal(path);
    if (journal.isOpen()) journal.cutAt(journalEntryStart_);
  }
  // A journal that held nothing else goes with it: the sale leaves no file behind.
  if (journalEntryStart_ == 0) deleteDataFile(path);
  journalEnd_ = -1;
  journalEntryStart_ = -1;
}

int32_t CRegCom::applyStaged() {
  int32_t result = 0;
  for (const StagedRecord& s : staged_)
    if (FileDBRecWrite(tables_[s.table], s.appended ? kAppend : s.number, s.after.data()) != 0) result = -1;
  return result;
}

int32_t CRegCom::checkpoint() {
  const std::string path = journalPath();
  if (path.empty()) return -1;
  // Everything written since the last checkpoint began (a second early, for
  // file systems that keep whole seconds).
  const int64_t started = platform::unixSecondsOf(platform::localTime()) - 1;
  if (!syncChangedDataFiles(platform::mapPath(dataFolder_), checkpointSince_)) return -1;
  for (const std::string& other : syncAtCheckpoint_) {
    DataFile file = DataFile::open(other, platform::kFileRead,
                                   platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                                   platform::kOpenExisting);
    if (file.isOpen() && !file.syncData()) return -1;
  }
  syncAtCheckpoint_.clear();
  checkpointSince_ = started;
  commitsSinceCheckpoint_ = 0;
  if (!dataFileExists(path)) return 0;
  DataFile journal = openJournal(path);
  if (!journal.isOpen()) return -1;
  journalEnd_ = -1;
  if (journal.size() > 0 && (!journal.cutAt(0) || !journal.syncData())) return -1;
  journalEnd_ = 0;
  return 0;
}

void CRegCom::syncAtCheckpoint(const std::string& nativePath) {
  if (std::find(syncAtCheckpoint_.begin(), syncAtCheckpoint_.end(), nativePath) == syncAtCheckpoint_.end())
    syncAtCheckpoint_.push_back(nativePath);
}

int32_t CRegCom::RecoverCommits() {
  if (notOpen("CRegCom")) return -1;
  const std::string path = journalPath();
  if (path.empty()) return -1;
  // Today's daily file loses a tail that is no whole sale.
  {
    const platform::LocalTime now = platform::localTime();
    char dailyPath[300] = {};
    if (FileProjGetPathName(project_, dailyPath, 3,
                            ReceiptFileName(dosDate(now.year, now.month, now.day)).c_str()) == 0) {
      DataFile file = DataFile::open(platform::mapPath(dailyPath), platform::kFileRead | platform::kFileWrite,
                                     platform::kShareNone, platform::kOpenExisting);
      const DailyTail tail = file.isOpen() ? TrimToWholeSales(file) : DailyTail();
      if (tail.cutBytes > 0)
        noteInErrorLog("PrfUpdate: " + std::to_string(tail.cutBytes) + " bytes after the last whole sale cut off " +
                       file.path());
    }
  }
  if (!dataFileExists(path)) return 0;
  DataFile journal = openJournal(path);
  if (!journal.isOpen()) {
    ReportError("CRegCom", platform::lastError());
    return -1;
  }
  const int64_t size = journal.size();
  int64_t at = 0;
  int32_t replayed = 0;
  for (Entry entry; size > 0; entry = Entry()) {
    const uint32_t length = readEntry(journal, at, size, entry);
    if (length == 0) break;
    at += length;
    entry.target = dataNative(entry.target);
    if (!committed(entry)) continue;
    ++replayed;
    for (const Entry::Image& image : entry.images) {
      FileDBHandle table = tables_[image.table];
      const int32_t count = FileDBRecGetSize(table);
      if (count < 0) return -1;
      std::vector<uint8_t> current(image.after.size(), 0);
      if (image.number < count) {
        if (FileDBRecRead(table, image.number, current.data()) != 0) return -1;
        if (current == image.after) continue;
        if (!image.appended && !tornBetween(current, image.before, image.after)) continue;
        if (FileDBRecWrite(table, image.number, image.after.data()) != 0) return -1;
      } else if (image.appended && image.number == count) {
        if (FileDBRecWrite(table, kAppend, image.after.data()) != 0) return -1;
      }
    }
  }
  journal.close();
  if (size > 0 || replayed > 0) return checkpoint();
  return 0;
}

}  // namespace varnex::reg
