// The disk check: every 512-byte block of a disk file must be the header, a
// node or data block that a tree reaches, or a free block. Blocks that are
// none of these are counted as missing and, when the disk names a check
// report ("Check Log File Path" of its configuration), reported in it as
// gaps with a hex dump of each block.
//
// The used blocks are kept as a sorted list of positions, eight bytes for
// each block of the file.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/progress.h"
#include "lib/core/report.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"

namespace zemta::container {

namespace {

constexpr int32_t kStepDiskCheck = 8;
constexpr uint16_t kKeyCheckLog = 9;
constexpr int kMaxDepth = 64;

// Where a check failed: the code to report (0: reported already).
struct CheckFailure {
  uint32_t code;
};

class Report {
 public:
  bool open(const std::string& path) {
    if (path.empty()) return true;
    file_ = platform::File::open(path, platform::kFileWrite, platform::kShareRead, platform::kOpenAlways);
    if (!file_.isOpen()) return false;
    return file_.seek(0, platform::kSeekEnd) >= 0;
  }
  bool active() const { return file_.isOpen(); }
  void line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (!file_.isOpen()) return;
    char text[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0) text_.append(text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1));
    if (text_.size() >= 65536) flush();
  }
  void flush() {
    if (file_.isOpen() && !text_.empty()) file_.write(text_.data(), static_cast<uint32_t>(text_.size()), nullptr);
    text_.clear();
  }
  void close() {
    flush();
    file_.flush();
    file_.close();
  }

 private:
  platform::File file_;
  std::string text_;
};

struct Walk {
  Disk& disk;
  std::vector<uint64_t>& used;
  Percent& percent;
  uint64_t fileSize;

  void add(uint64_t position) {
    used.push_back(position);
    percent.at(static_cast<uint64_t>(used.size()) * kBlock);
  }

  // Adds every node of the tree rooted in the slot and, for a tree whose
  // entries name blocks (data trees, the free-space tree), their blocks.
  // Returns the number of entries seen.
  uint64_t tree(int64_t slotPosition, uint32_t order, uint32_t keyLength, bool entriesAreBlocks) {
    uint8_t slot[8];
    uint32_t code = 0;
    if (!diskRead(disk, slotPosition, slot, 8, &code)) throw CheckFailure{code};
    const int64_t root = get_i64le(slot);
    if (root == 0 || root == -1) return 0;
    return node(root, order, keyLength, entriesAreBlocks, 0);
  }

  uint64_t node(int64_t position, uint32_t order, uint32_t keyLength, bool entriesAreBlocks, int depth) {
    if (depth > kMaxDepth || order == 0 || position < 0) throw CheckFailure{ZEMTA_ERR_FILE_FORMAT};
    uint8_t block[kBlock];
    uint32_t code = 0;
    if (!diskRead(disk, position, block, kBlock, &code)) throw CheckFailure{code};
    add(static_cast<uint64_t>(position));
    const uint32_t count = get_u16le(block);
    const uint32_t entriesAt = 24 + 16 * order;
    const uint32_t entrySize = 8 + keyLength;
    if (count > 2 * order || entriesAt + count * entrySize > kBlock) throw CheckFailure{ZEMTA_ERR_FILE_FORMAT};
    uint64_t seen = count;
    if (entriesAreBlocks)
      for (uint32_t i = 0; i < count; ++i) add(get_u64le(block + entriesAt + i * entrySize));
    for (uint32_t i = 0; i <= count; ++i) {
      const int64_t child = get_i64le(block + 16 + 8 * i);
      if (child != -1) seen += node(child, order, keyLength, entriesAreBlocks, depth + 1);
    }
    return seen;
  }
};

void dumpBlock(Disk& disk, Report& report, uint64_t position, uint64_t fileSize) {
  report.line("\nDump Block: %016llX\n      00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n",
              static_cast<unsigned long long>(position));
  uint8_t block[kBlock];
  const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kBlock, fileSize - position));
  uint32_t got = 0;
  if (!readFileAt(disk.file, static_cast<int64_t>(position), block, want, &got)) throw CheckFailure{static_cast<uint32_t>(-1)};
  for (uint32_t at = 0; at < got; at += 16) {
    report.line("%04X: ", at);
    const uint32_t end = std::min(at + 16, got);
    for (uint32_t i = at; i < end; ++i) report.line(i + 1 == end ? "%02X\n" : "%02X ", block[i]);
  }
}

std::string configPath(Disk& disk) {
  if (!disk.config) return std::string();
  char text[261] = {};
  if (FileExReadCfgFldStr(&disk, kKeyCheckLog, text, sizeof text) <= 0) return std::string();
  return text;
}

}  // namespace

}  // namespace zemta::container

namespace container = zemta::container;
using container::Disk;
using container::get_u64le;
using container::put_u64le;
using zemta::get_u16le;
using zemta::get_u32le;

ZEMTA_API int32_t FileExDiskCheck(FileExDiskHandle handle, FileExDiskHandle scratch, FileExProgress* progress) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (scratch && !container::findDisk(scratch)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (scratch == handle) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  container::Report report;
  if (!report.open(container::configPath(*disk))) {
    ZEMTA_REPORT(-1);
    return -1;
  }
  const platform::LocalTime now = platform::localTime();
  char started[32];
  std::snprintf(started, sizeof started, "%04d/%02d/%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                now.minute, now.second);
  report.line("\n%s ディスクの検査を開始します\n", started);
  container::progressStep(progress, container::kStepDiskCheck);
  container::progressValue(progress, 0);
  container::progressWords(progress, nullptr, nullptr);

  if (container::FileExDiskHold(*disk) != 0) {
    report.close();
    return -1;
  }
  int64_t missing = 0;
  int32_t result = 0;
  try {
    if (container::FileExDiskFlushAll(*disk) != 0) throw container::CheckFailure{0};
    const int64_t size = container::diskSize(*disk);
    if (size < 0) throw container::CheckFailure{static_cast<uint32_t>(-1)};
    uint8_t header[container::kBlock];
    uint32_t code = 0;
    if (!container::diskRead(*disk, 0, header, container::kBlock, &code)) throw container::CheckFailure{code};
    std::vector<uint64_t> used;
    used.push_back(0);
    container::Percent percent(progress, container::kStepDiskCheck, static_cast<uint64_t>(std::max<int64_t>(size, 1)));
    container::Walk walk{*disk, used, percent, static_cast<uint64_t>(size)};
    // The trees of the header: the root folder's names, the ID tree, the
    // free-space tree's nodes (its blocks are counted below).
    walk.tree(container::kFieldSecondRoot, 10, 8, false);
    walk.tree(container::kFieldFirstRoot, 8, 14, false);
    const uint16_t parked = std::min<uint16_t>(get_u16le(header + container::kFieldParkedCount), 2);
    for (uint16_t i = 0; i < parked; ++i) walk.add(get_u64le(header + container::kFieldParked + 8 * i));
    const uint64_t freeFound = walk.tree(container::kFieldSpaceRoot, 10, 8, true);
    const uint64_t freeCount = get_u64le(header + container::kFieldFreeCount);
    if (report.active()) {
      if (freeFound != freeCount) {
        report.line("削除済みレコードの総数に、%llu 個の異差が見つかりました\n",
                    static_cast<unsigned long long>(freeCount + parked));
        if (freeFound > freeCount) {
          put_u64le(header + container::kFieldFreeCount, freeFound);
          put_u64le(disk->header + container::kFieldFreeCount, freeFound);
          if (!container::diskWrite(*disk, 0, header, container::kBlock, &code)) throw container::CheckFailure{code};
        }
      }
      report.line("\n削除済みレコードの総数： %llu\n", static_cast<unsigned long long>(freeFound));
    }
    // Every entry: its record, and the trees rooted in it.
    std::vector<uint64_t> records;
    {
      const size_t before = used.size();
      walk.tree(container::kFieldSecondRoot, 10, 8, false);
      // The ID tree's entries name the records; read them from its nodes.
      std::vector<uint64_t> nodes(used.begin() + static_cast<ptrdiff_t>(before), used.end());
      used.resize(before);
      for (uint64_t node : nodes) {
        uint8_t block[container::kBlock];
        if (!container::diskRead(*disk, static_cast<int64_t>(node), block, container::kBlock, &code))
          throw container::CheckFailure{code};
        const uint32_t count = std::min<uint32_t>(get_u16le(block), 20);
        for (uint32_t i = 0; i < count; ++i) records.push_back(get_u64le(block + 24 + 160 + i * 16));
      }
    }
    const size_t beforeEntries = used.size();
    for (uint64_t position : records) {
      walk.add(position);
      uint8_t record[container::kBlock];
      if (!container::diskRead(*disk, static_cast<int64_t>(position), record, container::kBlock, &code))
        throw container::CheckFailure{code};
      const uint32_t flags = get_u32le(record + container::kFieldTypeFlags);
      const bool index = (flags & container::kTypeIndex) != 0;
      const uint32_t order = index ? get_u16le(record + container::kFieldOrder) : 0;
      const uint32_t keyLength = index ? get_u16le(record + container::kFieldKeyLength) : 0;
      walk.tree(static_cast<int64_t>(position) + container::kFieldSecondRoot, index ? order : 10, index ? keyLength : 8,
                !index && (flags & container::kTypeData));
      if (get_u64le(record + container::kFieldSpaceRoot) != 0)
        walk.tree(static_cast<int64_t>(position) + container::kFieldSpaceRoot, 10, 8, false);
      walk.tree(static_cast<int64_t>(position) + container::kFieldFirstRoot, index ? order : 8, index ? keyLength : 14,
                false);
    }
    report.line("登録レコードの総数： %llu\n", static_cast<unsigned long long>(used.size() - beforeEntries));

    // Gaps between the used blocks, and after the last one.
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    auto gap = [&](uint64_t first, uint64_t end) {
      const uint64_t blocks = (end - first + container::kBlock - 1) / container::kBlock;
      missing += static_cast<int64_t>(blocks);
      report.line("\n%lld 個の欠損ブロックが見つかりました（%016llX - %016llX）\n", static_cast<long long>(blocks),
                  static_cast<unsigned long long>(first), static_cast<unsigned long long>(end - 1));
      if (report.active())
        for (uint64_t at = first; at < end; at += container::kBlock) container::dumpBlock(*disk, report, at, end);
    };
    uint64_t previous = 0;
    for (uint64_t position : used) {
      if (position > previous + container::kBlock) gap(previous + container::kBlock, position);
      previous = position;
    }
    if (static_cast<uint64_t>(size) > previous + container::kBlock) gap(previous + container::kBlock, static_cast<uint64_t>(size));
    percent.done();
  } catch (const container::CheckFailure& failure) {
    if (failure.code != 0) ZEMTA_REPORT(failure.code);
    result = -1;
  }
  if (result == 0) {
    if (missing > 0) report.line("\n%lu 個のブロックに問題が見つかりました\n", static_cast<unsigned long>(missing));
    else report.line("\nディスクに問題は見つかりませんでした\n");
  }
  report.close();
  if (container::FileExDiskUnhold(*disk) != 0) result = -1;
  return result == 0 ? static_cast<int32_t>(std::min<int64_t>(missing, 0x7FFFFFFF)) : -1;
}
