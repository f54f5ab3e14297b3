// The commit journal: how a sale's posting survives a crash at any write and
// a power cut with one sync per sale, the tables and the daily receipt file
// synced only at checkpoints.
//
// A commit (commit.cpp) first works the whole posting out without writing a
// table: every record the posting reads and changes is staged here, with its
// image before and after (later reads of the commit see the staged image;
// records the commit adds, a new customer or PLU item, are staged as
// appended). Then, in this order:
//   1. one journal entry carries the whole sale: the records it appends to
//      its target file (its lines and its closing record, at their record
//      numbers) and the staged images. It is written in one write and synced:
//      the commit point. A sale whose entry is whole in the journal is
//      committed; one whose entry is not was never committed, and nothing of
//      it was written anywhere else;
//   2. the sale's records go into the daily receipt file in one write, and
//      the after-images into the tables, none of them synced. Should the
//      daily file refuse the sale's records (a full disk), the entry is
//      taken back (its head zeroed and synced) before anything else of the
//      sale is written, and the commit fails.
// Every CRegCom::kCheckpointInterval sales (and at close, after a recovery
// and before an entry that would not fit) the checkpoint forces every file of
// the data folder written since the last checkpoint to disk (the daily file,
// the tables, their indexes, the folders whose entries changed, and the
// receipt CSV wherever it lies), then starts a new generation of the journal:
// the journal therefore always covers every change of a committed sale that
// may not be on disk yet. A temporary file removed after its sale's commit
// is synced away at the checkpoint too (at once when its folder lies outside
// the data folder): until then a power cut may bring it back, and the
// interrupted-sale scan, which asks the daily file first (after the start
// has finished every committed sale), removes it unasked.
//
// Between sales the commit's tables and the journal stay open (the
// library's lingering holds, zemta/filedb.h), so that sales following one
// another open and lock nothing: the tables' records are read from memory
// and their changes wait for the checkpoint, which closes the holds first.
// Any other change to a table, a project operation or an open of one of its
// files from this process ends the holds at once, and the main window's
// idle tick ends them a second after the last sale, so that another program
// or register of the data folder waits that long at most.
//
// Recovery at start (RecoverCommits) replays the entries of the current
// generation in order. The sale's records are written to the target where
// the file does not hold them already (the daily file stays byte for byte
// its own format; a daily file made by the sale is made again). Each image's
// record is set to the after-image when it holds the before-image (or a
// write of the after-image cut short), and left when it holds anything else:
// the after-image already, or a later image (of a later sale, or of a change
// made outside the commit). Replaying in order takes a record through the
// same chain of images the commits did, so a record that reached disk at any
// point of the chain ends at its last image, and replaying twice changes
// nothing. Should a write after the commit point fail while the register
// runs, the same replay mends the files before the next commit.
//
// The journal is written ahead to its full size once (zeros), so that a
// sync after an entry has no block to allocate and no size to record: only
// the entry's own blocks go to the disk. Entries of an earlier generation
// stay behind in the file, and their generation number tells them apart.
//
// Journal file "Commit.jnl" beside the daily receipt files, little-endian:
//
//   offset  size  content
//   0       512   header slot 0
//   512     512   header slot 1
//   1024    ...   entries of the current generation, one after the other,
//                 then whatever an earlier generation left (zeros at first)
//
// A header slot (the rest of its 512 bytes zero):
//
//   0       4     "VXJH"
//   4       4     generation number, from 1
//   8       4     CRC-32 of bytes 0 to 7
//
// The current generation is the larger of the sound slots; the checkpoint
// writes generation g + 1 into slot (g + 1) mod 2 and syncs it, so that a
// header write cut short leaves the other slot standing. With no sound slot
// the journal holds no committed sale.
//
// An entry:
//
//   0       4     "VXJ2"
//   4       4     entry length L in bytes, all of it
//   8       4     generation number of the header it was written under
//   12      4     record number of the sale's first record in the target
//   16      4     the sale's record count d (its lines and closing record)
//   20      260   the target file's native path, relative to the data folder
//                 when it lies in it, zero-padded
//   280     2     image count
//   282     96 d  the sale's records as the target holds them
//   ...     ...   images, each: u16 table index (records.h), u16 flags (bit 0:
//                 appended by the commit), i32 record number, u16 record
//                 length n, then n bytes before and n bytes after (the
//                 before-image of an appended record is zero)
//   L - 4   4     CRC-32 of bytes 0 to L - 5
//
// The entries end at the first one that is cut short, fails its CRC or
// carries another generation (the crash came while it was written, or it is
// left from before the last checkpoint).
#include <algorithm>
#include <array>
#include <cstring>

#include "app/register/engine/commit_run.h"
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
const char kHeaderMagic[4] = {'V', 'X', 'J', 'H'};
const char kEntryMagic[4] = {'V', 'X', 'J', '2'};
constexpr int64_t kSlotSize = 512;
constexpr int64_t kFirstEntry = 2 * kSlotSize;
// Room for the sales of the usual size between checkpoints (a five-line sale
// takes about 7 KiB); a sale that does not fit after the others brings the
// checkpoint forward, one that does not fit alone makes the file longer.
constexpr int64_t kJournalSize = 1024 * 1024;
constexpr uint32_t kPathField = 260;
constexpr uint32_t kEntryHead = 282;
constexpr int32_t kAppend = 0x7FFFFFFF;

DataFile openJournal(const std::string& path) {
  return DataFile::open(path, platform::kFileRead | platform::kFileWrite, platform::kShareNone,
                        platform::kOpenAlways);
}

// The generation the header names; 0 when no slot is sound.
uint32_t headerGeneration(DataFile& journal) {
  uint8_t slots[kFirstEntry] = {};
  uint32_t done = 0;
  if (!journal.readAt(0, slots, sizeof slots, &done)) return 0;
  uint32_t generation = 0;
  for (int64_t at = 0; at + 12 <= done; at += kSlotSize) {
    const uint8_t* slot = slots + at;
    if (std::memcmp(slot, kHeaderMagic, 4) == 0 && JournalCrc32(slot, 8) == getU32(slot, 8))
      generation = std::max(generation, getU32(slot, 4));
  }
  return generation;
}

bool writeHeader(DataFile& journal, uint32_t generation) {
  uint8_t slot[12];
  std::memcpy(slot, kHeaderMagic, 4);
  putU32(slot, 4, generation);
  putU32(slot, 8, JournalCrc32(slot, 8));
  uint32_t done = 0;
  return journal.writeAt((generation % 2) * kSlotSize, slot, sizeof slot, &done) && done == sizeof slot &&
         journal.syncData();
}

// One entry as read back from the journal.
struct Entry {
  int32_t first = 0;
  std::vector<uint8_t> records;
  std::string target;
  struct Image {
    TableIndex table;
    bool appended;
    int32_t number;
    std::vector<uint8_t> before, after;
  };
  std::vector<Image> images;
};

// Whether an entry of the generation begins at offset.
bool entryBegins(DataFile& file, int64_t offset, uint32_t generation) {
  uint8_t head[12];
  uint32_t done = 0;
  return file.readAt(offset, head, sizeof head, &done) && done == sizeof head &&
         std::memcmp(head, kEntryMagic, 4) == 0 && getU32(head, 8) == generation;
}

// Reads the entry of the generation at offset; its length, or 0 where the
// generation's entries end.
uint32_t readEntry(DataFile& file, int64_t offset, int64_t size, uint32_t generation, Entry& entry) {
  if (size - offset < static_cast<int64_t>(kEntryHead + 4) || !entryBegins(file, offset, generation)) return 0;
  uint8_t head[8];
  uint32_t done = 0;
  if (!file.readAt(offset, head, 8, &done) || done != 8) return 0;
  const uint32_t length = getU32(head, 4);
  if (length < kEntryHead + 4 || length > size - offset) return 0;
  std::vector<uint8_t> bytes(length);
  if (!file.readAt(offset, bytes.data(), length, &done) || done != length) return 0;
  if (JournalCrc32(bytes.data(), length - 4) != getU32(bytes.data(), length - 4)) return 0;
  entry.first = getI32(bytes.data(), 12);
  const uint32_t records = getU32(bytes.data(), 16);
  entry.target = getText(bytes.data(), 20, kPathField);
  const uint16_t count = getU16(bytes.data(), 280);
  size_t at = kEntryHead;
  if (entry.first < 0 || records > (length - 4 - at) / line::kSize) return 0;
  entry.records.assign(bytes.begin() + at, bytes.begin() + at + records * line::kSize);
  at += records * line::kSize;
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

// Where the generation's entries end.
int64_t entriesEnd(DataFile& file, uint32_t generation) {
  const int64_t size = file.size();
  int64_t end = kFirstEntry;
  for (Entry entry; size >= 0; entry = Entry()) {
    const uint32_t length = readEntry(file, end, size, generation, entry);
    if (length == 0) break;
    end += length;
  }
  return end;
}

// Puts a committed sale's records into its target where the file does not
// hold them already. False when a read or write failed.
bool writeSaleRecords(const Entry& entry, const std::string& target) {
  if (entry.records.empty()) return true;
  // A file the sale began is made again should the cut have taken it; a
  // file that already held records is never made anew.
  DataFile file = DataFile::open(target, platform::kFileRead | platform::kFileWrite, platform::kShareRead,
                                 entry.first == 0 ? platform::kOpenAlways : platform::kOpenExisting);
  if (!file.isOpen()) return entry.first != 0 && !dataFileExists(target);
  const int64_t at = static_cast<int64_t>(entry.first) * line::kSize;
  const uint32_t length = static_cast<uint32_t>(entry.records.size());
  std::vector<uint8_t> current(length, 0);
  uint32_t done = 0;
  if (!file.readAt(at, current.data(), length, &done)) return false;
  if (done == length && current == entry.records) return true;
  return file.writeAt(at, entry.records.data(), length, &done) && done == length;
}

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

// Made, or found spoilt (no sound header: nothing committed in it), the
// journal is written to its full size with the header of generation 1, and
// synced with its folder entry. The current generation, or 0 on failure.
uint32_t CRegCom::readyJournal(DataFile& journal) {
  const int64_t size = journal.size();
  if (size < 0) return 0;
  if (size >= kFirstEntry) {
    const uint32_t generation = headerGeneration(journal);
    if (generation != 0) return generation;
  }
  const std::vector<uint8_t> zeros(static_cast<size_t>(std::max(size, kJournalSize)), 0);
  uint32_t done = 0;
  if (!journal.writeAt(0, zeros.data(), static_cast<uint32_t>(zeros.size()), &done) || done != zeros.size() ||
      !writeHeader(journal, 1) || (size == 0 && !syncFolderOf(journal.path())))
    return 0;
  journalEnd_ = kFirstEntry;
  return 1;
}

int32_t CRegCom::journalWrite(const CommitRun& run) {
  std::vector<uint8_t> bytes(kEntryHead, 0);
  std::memcpy(bytes.data(), kEntryMagic, 4);
  putI32(bytes.data(), 12, run.oldCount);
  putU32(bytes.data(), 16, static_cast<uint32_t>(run.records.size() / line::kSize));
  // The target by its place in the data folder, so that a data folder
  // moved or mounted elsewhere still finds it.
  putText(bytes.data(), 20, kPathField, dataRelative(run.targetPath));
  putU16(bytes.data(), 280, static_cast<uint16_t>(staged_.size()));
  bytes.insert(bytes.end(), run.records.begin(), run.records.end());
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

  for (int tries = 0; tries < 2; ++tries) {
    DataFile* journal = heldJournal();
    if (!journal) return -1;
    uint32_t generation = journalGeneration_;
    int64_t end = journalEnd_;
    int64_t size = journalSize_;
    if (!journalKnown_) {
      generation = readyJournal(*journal);
      if (generation == 0) return -1;
      // The end this engine wrote last stands while its generation does and
      // no entry follows it (another register of the data folder wrote none
      // since); else the entries are read to find it.
      end = journalEnd_;
      if (generation != journalGeneration_ || end < kFirstEntry || entryBegins(*journal, end, generation))
        end = entriesEnd(*journal, generation);
      size = journal->size();
      if (size < 0) return -1;
    }
    if (end > kFirstEntry && end + static_cast<int64_t>(bytes.size()) > size && tries == 0) {
      // Full: the entries so far are made good on disk, and the sale goes
      // first into the next generation.
      if (checkpoint() != 0) return -1;
      continue;
    }
    putU32(bytes.data(), 8, generation);
    putU32(bytes.data(), bytes.size() - 4, JournalCrc32(bytes.data(), bytes.size() - 4));
    uint32_t done = 0;
    journalKnown_ = false;
    if (!journal->writeAt(end, bytes.data(), static_cast<uint32_t>(bytes.size()), &done) ||
        done != bytes.size() || !journal->syncData())
      return -1;
    journalGeneration_ = generation;
    journalEntryStart_ = end;
    journalEnd_ = end + static_cast<int64_t>(bytes.size());
    journalSize_ = std::max(size, journalEnd_);
    journalKnown_ = true;
    return 0;
  }
  return -1;
}

DataFile* CRegCom::heldJournal() {
  if (!journal_.isOpen()) {
    journalKnown_ = false;
    const std::string path = journalPath();
    if (path.empty()) return nullptr;
    journal_ = openJournal(path);
  }
  return journal_.isOpen() ? &journal_ : nullptr;
}

int32_t CRegCom::journalWithdraw() {
  if (journalEntryStart_ < kFirstEntry) return -1;
  DataFile* journal = heldJournal();
  const uint8_t zeros[4] = {};
  uint32_t done = 0;
  if (!journal || !journal->writeAt(journalEntryStart_, zeros, sizeof zeros, &done) || done != sizeof zeros ||
      !journal->syncData()) {
    journalKnown_ = false;
    return -1;
  }
  journalEnd_ = journalEntryStart_;
  journalEntryStart_ = -1;
  return 0;
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
  // The lingering tables close first: their indexes are marked clean
  // before everything goes to the disk.
  releaseTables();
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
  if (!journal_.isOpen() && !dataFileExists(path)) return 0;
  DataFile* journal = heldJournal();
  if (!journal) return -1;
  journalEnd_ = -1;
  journalKnown_ = false;
  // A journal with no sound header holds nothing to leave behind.
  const uint32_t generation = headerGeneration(*journal);
  if (generation == 0) return 0;
  if (!writeHeader(*journal, generation + 1)) return -1;
  journalGeneration_ = generation + 1;
  journalEnd_ = kFirstEntry;
  return 0;
}

void CRegCom::syncAtCheckpoint(const std::string& nativePath) {
  if (std::find(syncAtCheckpoint_.begin(), syncAtCheckpoint_.end(), nativePath) == syncAtCheckpoint_.end())
    syncAtCheckpoint_.push_back(nativePath);
}

int32_t CRegCom::replayJournal() {
  const std::string path = journalPath();
  if (path.empty()) return -1;
  if (!journal_.isOpen() && !dataFileExists(path)) return 0;
  DataFile* held = heldJournal();
  if (!held) {
    ReportError("CRegCom", platform::lastError());
    return -1;
  }
  DataFile& journal = *held;
  journalKnown_ = false;
  const uint32_t generation = headerGeneration(journal);
  if (generation == 0) return 0;
  const int64_t size = journal.size();
  int64_t at = kFirstEntry;
  int32_t replayed = 0;
  for (Entry entry; size > 0; entry = Entry()) {
    const uint32_t length = readEntry(journal, at, size, generation, entry);
    if (length == 0) break;
    at += length;
    ++replayed;
    if (!writeSaleRecords(entry, dataNative(entry.target))) return -1;
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
  journalGeneration_ = generation;
  journalEnd_ = at;
  return replayed;
}

int32_t CRegCom::RecoverCommits() {
  if (notOpen("CRegCom")) return -1;
  // Today's daily file loses a tail that is no whole sale: what of it was
  // committed comes back from the journal.
  {
    const std::string dailyPath = todaysDailyPath();
    if (!dailyPath.empty()) {
      DataFile file = DataFile::open(dailyPath, platform::kFileRead | platform::kFileWrite, platform::kShareNone,
                                     platform::kOpenExisting);
      const DailyTail tail = file.isOpen() ? TrimToWholeSales(file) : DailyTail();
      if (tail.cutBytes > 0)
        noteInErrorLog("PrfUpdate: " + std::to_string(tail.cutBytes) + " bytes after the last whole sale cut off " +
                       file.path());
    }
  }
  const int32_t replayed = replayJournal();
  if (replayed < 0) return -1;
  journalPending_ = false;
  return replayed > 0 ? checkpoint() : 0;
}

int32_t CRegCom::mendFromJournal() {
  if (replayJournal() < 0 || checkpoint() != 0) return -1;
  journalPending_ = false;
  return 0;
}

}  // namespace varnex::reg
