// The roll-back journal of a container disk.
//
// A disk is changed in place, block by block, by the trees and the entry
// operations, and is whole again only after its write-back (header, roots).
// Before the first change of a block after the last write-back, the block's
// old 512 bytes are appended to the journal "<disk path>.jnl" and the journal
// is flushed; then the block may change. The write-back ends with the disk
// flushed and the journal deleted. An open that finds a journal puts every
// saved block back, cuts the file to its old size, flushes it and deletes
// the journal, so the disk is as it was at its last write-back.
//
// Journal file (little-endian):
//   | offset | size | field                                          |
//   | 0      | 8    | "ZJNLDISK"                                     |
//   | 8      | 8    | u64 size of the disk file before the change    |
//   | 16     | ...  | records: u64 block position, 512 bytes of data |
// A record cut short by a crash is ignored: its block was not yet changed.
#include "lib/container/disk/disk_journal.h"

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "lib/core/little_endian.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"

namespace zemta::container {

namespace {

constexpr char kMagic[8] = {'Z', 'J', 'N', 'L', 'D', 'I', 'S', 'K'};
constexpr uint32_t kBlock = 512;
constexpr uint32_t kHeader = 16;
constexpr uint32_t kRecord = 8 + kBlock;

void put64(uint8_t* p, uint64_t v) {
  put_u32le(p, static_cast<uint32_t>(v));
  put_u32le(p + 4, static_cast<uint32_t>(v >> 32));
}
uint64_t get64(const uint8_t* p) { return get_u32le(p) | (static_cast<uint64_t>(get_u32le(p + 4)) << 32); }

struct Journal {
  std::string path;
  platform::File file;        // open while a change is under way
  int64_t originalSize = -1;  // disk size when the change began
  std::set<int64_t> saved;    // blocks saved in this change
  int64_t journalSize = 0;
};

std::map<ZemtaFileHandle, Journal>& journals() {
  static std::map<ZemtaFileHandle, Journal> all;
  return all;
}

bool begin(Journal& journal, ZemtaFileHandle disk) {
  journal.originalSize = fileSize64(disk);
  if (journal.originalSize < 0) return false;
  journal.file = platform::File::open(journal.path, platform::kFileRead | platform::kFileWrite, platform::kShareNone,
                                      platform::kCreateAlways);
  if (!journal.file.isOpen()) return false;
  uint8_t header[kHeader];
  std::memcpy(header, kMagic, 8);
  put64(header + 8, static_cast<uint64_t>(journal.originalSize));
  uint32_t done = 0;
  if (!journal.file.writeAt(0, header, kHeader, &done) || done != kHeader || !journal.file.flush()) return false;
  journal.journalSize = kHeader;
  return true;
}

bool save(Journal& journal, ZemtaFileHandle disk, int64_t block) {
  if (journal.saved.count(block) || block >= journal.originalSize) return true;
  uint8_t record[kRecord];
  std::memset(record, 0, kRecord);
  put64(record, static_cast<uint64_t>(block));
  uint32_t done = 0;
  if (!readFileAt(disk, block, record + 8, kBlock, &done)) return false;
  if (!journal.file.writeAt(journal.journalSize, record, kRecord, &done) || done != kRecord) return false;
  journal.journalSize += kRecord;
  journal.saved.insert(block);
  return true;
}

// Puts the blocks of a journal back into the disk file.
bool rollBack(ZemtaFileHandle disk, const std::string& path, bool* rolledBack) {
  *rolledBack = false;
  platform::File file = platform::File::open(path, platform::kFileRead, platform::kShareNone, platform::kOpenExisting);
  if (!file.isOpen()) return platform::lastError() == platform::kErrorFileNotFound;
  *rolledBack = true;
  const int64_t size = file.size();
  uint8_t header[kHeader];
  uint32_t done = 0;
  if (size < kHeader || !file.readAt(0, header, kHeader, &done) || done != kHeader ||
      std::memcmp(header, kMagic, 8) != 0) {
    // A journal cut before its header was whole: nothing was changed yet.
    file.close();
    return platform::deleteFile(path);
  }
  const int64_t originalSize = static_cast<int64_t>(get64(header + 8));
  uint8_t record[kRecord];
  for (int64_t at = kHeader; at + kRecord <= size; at += kRecord) {
    if (!file.readAt(at, record, kRecord, &done) || done != kRecord) return false;
    uint32_t written = 0;
    if (!writeFileAt(disk, static_cast<int64_t>(get64(record)), record + 8, kBlock, &written) || written != kBlock)
      return false;
  }
  if (!setFileSize64(disk, originalSize) || !flushFile(disk)) return false;
  file.close();
  return platform::deleteFile(path);
}

}  // namespace

std::string journalPathOf(const std::string& diskPath) { return diskPath + ".jnl"; }

bool journalBeforeWrite(ZemtaFileHandle file, int64_t position, uint32_t length) {
  auto found = journals().find(file);
  if (found == journals().end()) return true;
  Journal& journal = found->second;
  if (!journal.file.isOpen() && !begin(journal, file)) return false;
  const int64_t end = length == 0 ? journal.originalSize : position + length;
  const size_t before = journal.saved.size();
  for (int64_t block = position - position % kBlock; block < end; block += kBlock)
    if (!save(journal, file, block)) return false;
  return journal.saved.size() == before || journal.file.flush();
}

bool journalAttach(ZemtaFileHandle file, const std::string& diskPath, bool* rolledBack) {
  const std::string path = journalPathOf(diskPath);
  if (!rollBack(file, path, rolledBack)) return false;
  Journal& journal = journals()[file];
  journal = Journal{};
  journal.path = path;
  return true;
}

bool journalCommit(ZemtaFileHandle file) {
  auto found = journals().find(file);
  if (found == journals().end()) return true;
  Journal& journal = found->second;
  if (!journal.file.isOpen()) return true;
  if (!flushFile(file)) return false;
  journal.file.close();
  if (!platform::deleteFile(journal.path)) return false;
  journal.saved.clear();
  journal.originalSize = -1;
  journal.journalSize = 0;
  return true;
}

void journalDetach(ZemtaFileHandle file) { journals().erase(file); }

}  // namespace zemta::container
