// Container disks on real files: the fresh header byte for byte, system
// entries and IDs, entries made, found, described, renamed and removed,
// data in blocks, index keys, a disk held by another process, and a disk
// whose writer is killed between two writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/container/container_test_support.h"
#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/entry_model.h"
#include "lib/container/disk_writer_rounds.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/process.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "zemta/btreeex.h"
#include "zemta/fileex.h"

namespace {

using testing_support::fileBytes;
using testing_support::TempFolder;
using zemta::container::Entry;

uint32_t u32At(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}
uint64_t u64At(const std::string& bytes, size_t at) {
  uint64_t v = 0;
  std::memcpy(&v, bytes.data() + at, 8);
  return v;
}

class DiskTest : public ::testing::Test {
 protected:
  void SetUp() override { BtreeExNew(); }
  void TearDown() override {
    for (FileExDiskHandle disk : disks_) FileExDiskRelease(disk);
    BtreeExDelete();
  }
  FileExDiskHandle make(const std::string& name, const char* title = "shop", int32_t type = 0) {
    FileExDiskHandle disk = FileExDiskCreate((folder_ / name).c_str(), title, nullptr, type);
    if (disk) disks_.push_back(disk);
    return disk;
  }
  void release(FileExDiskHandle disk) {
    disks_.erase(std::remove(disks_.begin(), disks_.end(), disk), disks_.end());
    EXPECT_EQ(FileExDiskRelease(disk), 0);
  }
  static uint64_t idOf(FileExHandle entry) {
    uint64_t id = 0;
    EXPECT_EQ(FileExGetID(entry, &id), 0);
    return id;
  }

  TempFolder folder_;
  std::vector<FileExDiskHandle> disks_;
};

TEST_F(DiskTest, AFreshDiskHeaderIsLaidOutByteForByte) {
  const std::string title(200, 'T');
  FileExDiskHandle disk = make("shop.ifs", title.c_str());
  ASSERT_NE(disk, nullptr);
  const std::string bytes = fileBytes(folder_ / "shop.ifs");
  ASSERT_GE(bytes.size(), 512u);
  EXPECT_EQ(bytes.size() % 512, 0u);
  EXPECT_EQ(u32At(bytes, 0), 0xFFFF0000u);
  EXPECT_EQ(bytes.substr(4, 128), std::string(128, '\0'));
  EXPECT_EQ(bytes.substr(132, 127), std::string(127, 'T'));
  EXPECT_EQ(bytes[259], '\0');
  const uint64_t created = u64At(bytes, 424);
  EXPECT_NE(created, 0u);
  EXPECT_EQ(u64At(bytes, 432), created);
  EXPECT_EQ(u64At(bytes, 440), created);
  EXPECT_EQ(u32At(bytes, 448), 16u);
  EXPECT_EQ(u32At(bytes, 452), 1u);
  // The three roots are set.
  for (size_t slot : {488u, 496u, 504u}) EXPECT_NE(u64At(bytes, slot), 0u) << slot;

  FileExDiskHandle temporary = make("work.ifs", nullptr, FILEEX_DISK_TEMPORARY);
  ASSERT_NE(temporary, nullptr);
  const std::string temp = fileBytes(folder_ / "work.ifs");
  EXPECT_EQ(u32At(temp, 448), 272u);
  EXPECT_EQ(u32At(temp, 452), 0x80000001u);
  release(temporary);
  EXPECT_FALSE(platform::fileExists(folder_ / "work.ifs"));
}

TEST_F(DiskTest, AFileOfAnotherFormatIsRefusedUntouched) {
  container_test::Reports reports;
  const std::string other(1024, 'x');
  testing_support::writeFileBytes(folder_ / "other.ifs", other);
  EXPECT_EQ(make("other.ifs"), nullptr);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(fileBytes(folder_ / "other.ifs"), other);
}

TEST_F(DiskTest, SystemEntriesTakeTheLowIdsAndUserEntriesStartAt16) {
  FileExDiskHandle disk = make("ids.ifs");
  ASSERT_NE(disk, nullptr);
  char name[128] = {};
  EXPECT_EQ(FileExDiskGetName(disk, name, sizeof name, 0), 1);
  EXPECT_STREQ(name, "SYSTEM");
  EXPECT_EQ(FileExDiskGetName(disk, name, sizeof name, 1), 0);

  ASSERT_EQ(FileExStartLog(disk, 0), 0);
  FileExHandle log = FileExGetLogFile(disk, nullptr);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(idOf(log), 14u);
  FileExHandle first = FileExCreate(disk, "\\Sales", -1, nullptr, FILEEX_KIND_DIRECTORY, 0, 0, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(idOf(first), 16u);
  container_test::Reports reports;
  EXPECT_EQ(FileExStartLog(disk, 0), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(FileExStopLog(disk), 0);
  EXPECT_EQ(FileExStopLog(disk), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(FileExRelease(first, nullptr), 0);

  // Made again on the same file: the system entries and IDs stay.
  release(disk);
  disk = make("ids.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle next = FileExCreate(disk, "\\Stock", -1, nullptr, FILEEX_KIND_FILE, 0, 0, nullptr);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(idOf(next), 17u) << "the counter kept on the disk";
  EXPECT_EQ(FileExRelease(next, nullptr), 0);
}

TEST_F(DiskTest, IndexKeysUpTo228BytesGetAnOrder) {
  FileExDiskHandle disk = make("keys.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle index = FileExCreate(disk, "\\wide", -1, nullptr, FILEEX_KIND_INDEX, 0, 228, nullptr);
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(zemta::get_u16le(static_cast<Entry*>(index)->record + 352), 1u);
  EXPECT_EQ(FileExRelease(index, nullptr), 0);
  container_test::Reports reports;
  EXPECT_EQ(FileExCreate(disk, "\\wider", -1, nullptr, FILEEX_KIND_INDEX, 0, 229, nullptr), nullptr);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(FileExCreate(disk, "\\badwidth", -1, nullptr, FILEEX_KIND_INDEX, 2, 12, nullptr), nullptr);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(FileExIsExist(disk, "\\wider", -1, nullptr), 0);
}

TEST_F(DiskTest, EntriesAreMadeFoundDescribedRenamedAndRemoved) {
  FileExDiskHandle disk = make("entries.ifs");
  ASSERT_NE(disk, nullptr);
  container_test::Reports reports;
  // Two names sharing their first 14 bytes are two entries, both found.
  const char* a = "\\Department-0001a";
  const char* b = "\\Department-0001b";
  FileExHandle first = FileExCreate(disk, a, -1, "first", FILEEX_KIND_FILE, 0, 0, nullptr);
  FileExHandle second = FileExCreate(disk, b, -1, "second", FILEEX_KIND_FILE, 0, 0, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(idOf(first), idOf(second));
  ASSERT_EQ(FileExRelease(first, nullptr), 0);
  ASSERT_EQ(FileExRelease(second, nullptr), 0);
  uint8_t info[FILEEX_ENTRY_INFO_SIZE];
  ASSERT_EQ(FileExIsExist(disk, b, -1, info), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(info + 200), "second");
  EXPECT_EQ(zemta::get_u32le(info), 125u);
  EXPECT_EQ(zemta::get_u32le(info + 36), 0x80u);

  // An existing entry: refused without 0x400, opened with it; kind 0 on a
  // missing one is "not found".
  EXPECT_EQ(FileExCreate(disk, a, -1, nullptr, FILEEX_KIND_FILE, 0, 0, nullptr), nullptr);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  FileExHandle again = FileExCreate(disk, a, -1, nullptr, FILEEX_KIND_FILE | FILEEX_CREATE_OPEN, 0, 0, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(FileExCreate(disk, "\\missing", -1, nullptr, 0, 0, 0, nullptr), nullptr);
  EXPECT_TRUE(reports.last(2));

  // By ID: with the flag the open handle comes back, without it error 32.
  int32_t already = 0;
  EXPECT_EQ(FileExCreateByID(disk, static_cast<uint32_t>(idOf(again)), 0, nullptr, &already), again);
  EXPECT_EQ(already, 1);
  EXPECT_EQ(FileExCreateByID(disk, static_cast<uint32_t>(idOf(again)), 0, nullptr, nullptr), nullptr);
  EXPECT_TRUE(reports.last(32));
  ASSERT_EQ(FileExRelease(again, nullptr), 0);

  // Folders, paths, the current folder and the enumeration.
  FileExHandle folder = FileExCreate(disk, "\\Shop", -1, nullptr, FILEEX_KIND_DIRECTORY, 0, 0, nullptr);
  ASSERT_NE(folder, nullptr);
  ASSERT_EQ(FileExRelease(folder, nullptr), 0);
  FileExHandle deep = FileExCreate(disk, "\\Shop\\Till", -1, nullptr, FILEEX_KIND_FILE, 0, 0, nullptr);
  ASSERT_NE(deep, nullptr);
  char path[64] = {};
  EXPECT_EQ(FileExGetPath(deep, sizeof path, path), 10);
  EXPECT_STREQ(path, "\\Shop\\Till");
  char tiny[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(FileExGetPath(deep, sizeof tiny, tiny), 10);
  EXPECT_EQ(tiny[0], 'x');
  ASSERT_EQ(FileExRelease(deep, nullptr), 0);
  ASSERT_EQ(FileExSetCurrent(disk, "\\Shop"), 0);
  EXPECT_EQ(FileExIsExist(disk, "Till", -1, nullptr), 1);
  EXPECT_EQ(FileExIsExist(disk, "\\Till", -1, nullptr), 0);
  FileExHandle root = FileExCreate(disk, nullptr, -1, nullptr, 0, 0, 0, nullptr);
  ASSERT_EQ(root, disk);
  std::vector<std::string> names;
  for (int mode = 0; FileExDescriptor(root, info, mode) == 1; mode = 1)
    names.push_back(reinterpret_cast<char*>(info + 72));
  EXPECT_EQ(names, (std::vector<std::string>{"Department-0001a", "Department-0001b", "SYSTEM", "Shop"}));
  ASSERT_EQ(FileExRelease(root, nullptr), 0);

  // Renaming: to the same name changes nothing; to a taken one is refused.
  const std::string before = fileBytes(folder_ / "entries.ifs");
  EXPECT_EQ(FileExRename(disk, a, "Department-0001a"), 0);
  EXPECT_EQ(fileBytes(folder_ / "entries.ifs"), before);
  EXPECT_EQ(FileExRename(disk, a, "Department-0001b"), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_NAME));
  EXPECT_EQ(FileExRename(disk, a, "Renamed"), 0);
  EXPECT_EQ(FileExIsExist(disk, "\\Renamed", -1, nullptr), 1);
  EXPECT_EQ(FileExIsExist(disk, a, -1, nullptr), 0);

  // Removal gives the blocks back to the free space, and a folder goes with
  // what it holds.
  EXPECT_EQ(FileExRemove(disk, "\\Shop", -1), 0);
  EXPECT_EQ(FileExIsExist(disk, "\\Shop", -1, nullptr), 0);
  EXPECT_GT(FileExDiskGetDelCount(disk), 0u);
  EXPECT_EQ(FileExRemove(disk, "\\Shop", -1), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_FILE_NAME));
}

TEST_F(DiskTest, TablesGetARecordStoreAndRecordsAreNotRemovedByPath) {
  FileExDiskHandle disk = make("tables.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle table = FileExCreate(disk, "\\Items", -1, nullptr, FILEEX_KIND_TABLE, 0, 0, nullptr);
  ASSERT_NE(table, nullptr);
  const uint64_t storeId = zemta::container::get_u64le(static_cast<Entry*>(table)->record + 344);
  EXPECT_EQ(storeId, idOf(table) + 1);
  // A record named by its ID key under the table.
  std::string path = "\\Items\\";
  uint8_t key[14] = {};
  zemta::container::put_u64le(key + 2, ~0ull);
  zemta::put_u16le(key + 10, FILEEX_KIND_RECORD);
  path.append(reinterpret_cast<char*>(key), 14);
  FileExHandle record = FileExCreate(disk, path.data(), static_cast<int32_t>(path.size()), nullptr, FILEEX_KIND_RECORD,
                                     0, 0, nullptr);
  ASSERT_NE(record, nullptr);
  const uint64_t recordId = idOf(record);
  EXPECT_EQ(recordId, storeId + 1);
  ASSERT_EQ(FileExRelease(record, nullptr), 0);
  ASSERT_EQ(FileExRelease(table, nullptr), 0);
  zemta::container::put_u64le(key + 2, recordId);
  path = "\\Items\\" + std::string(reinterpret_cast<char*>(key), 14);
  container_test::Reports reports;
  EXPECT_EQ(FileExIsExist(disk, path.data(), static_cast<int32_t>(path.size()), nullptr), 1);
  EXPECT_EQ(FileExRemove(disk, path.data(), static_cast<int32_t>(path.size())), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_FILE_NAME));
  // The table goes with its store and records.
  EXPECT_EQ(FileExRemove(disk, "\\Items", -1), 0);
}

TEST_F(DiskTest, DataLivesInBlocksWithFiller) {
  FileExDiskHandle disk = make("data.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle file = FileExCreate(disk, "\\receipt", -1, nullptr, FILEEX_KIND_FILE | 0x6000, 0, 0, "till");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(FileExSetPointer(file, 2000, 0), 2000u);
  ASSERT_EQ(FileExWrite(file, "0123456789", 10), 0);
  EXPECT_EQ(FileExGetSize(file), 2010u);
  // Blocks 0 to 2 are filler, block 3 holds the bytes at 464.
  std::vector<char> all(2010);
  uint32_t count = 0;
  ASSERT_EQ(FileExSetPointer(file, 0, 0), 0u);
  ASSERT_EQ(FileExRead(file, all.data(), 2010, &count), 0);
  ASSERT_EQ(count, 2010u);
  EXPECT_EQ(std::string(all.data(), 2000), std::string(2000, '\xFF'));
  EXPECT_EQ(std::string(all.data() + 2000, 10), "0123456789");
  EXPECT_EQ(FileExClose(file), 0);
  {
    zemta::container::Disk* d = zemta::container::findDisk(disk);
    ASSERT_EQ(zemta::container::FileExDiskHold(*d), 0);
    for (uint64_t n = 0; n < 4; ++n) {
      uint8_t nkey[8];
      zemta::container::put_u64le(nkey, n);
      uint64_t position = 0;
      ASSERT_EQ(BtreeExEqu(static_cast<Entry*>(file)->secondTree, &position, nkey), 1) << n;
      std::string block = fileBytes(folder_ / "data.ifs").substr(position, 512);
      if (n == 3) {
        EXPECT_EQ(block.substr(464, 10), "0123456789");
        EXPECT_EQ(block.substr(474), std::string(38, '\xFF'));
      }
    }
    ASSERT_EQ(zemta::container::FileExDiskUnhold(*d), 0);
  }

  // Reading 100 bytes at 500 of a 520-byte entry gives 20; without a count it fails.
  ASSERT_EQ(FileExSetSize(file, 520, 0), 0);
  EXPECT_EQ(FileExGetSize(file), 520u);
  ASSERT_EQ(FileExSetPointer(file, 500, 0), 500u);
  ASSERT_EQ(FileExRead(file, all.data(), 100, &count), 0);
  EXPECT_EQ(count, 20u);
  container_test::Reports reports;
  ASSERT_EQ(FileExSetPointer(file, 500, 0), 500u);
  EXPECT_EQ(FileExRead(file, all.data(), 100, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_FILE_SIZE));

  // Shrinking to 511 fills byte 511 with 0xFF; growing again reads 0xFF on.
  ASSERT_EQ(FileExSetSize(file, 511, 0), 0);
  ASSERT_EQ(FileExSetSize(file, 1000, 0), 0);
  ASSERT_EQ(FileExSetPointer(file, 511, 0), 511u);
  ASSERT_EQ(FileExRead(file, all.data(), 489, &count), 0);
  EXPECT_EQ(std::string(all.data(), 489), std::string(489, '\xFF'));
  // A pointer before the start is refused and left where it was.
  EXPECT_EQ(FileExSetPointer(file, -2000, 2), ~0ull);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(FileExSetPointer(file, 0, 1), 1000u);
  ASSERT_EQ(FileExRelease(file, nullptr), 0);

  // The data is on the disk after the disk goes.
  release(disk);
  disk = make("data.ifs");
  ASSERT_NE(disk, nullptr);
  file = FileExCreate(disk, "\\receipt", -1, nullptr, 0, 0, 0, nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(FileExGetSize(file), 1000u);
  ASSERT_EQ(FileExRelease(file, nullptr), 0);
}

TEST_F(DiskTest, KeysOfSeveralColumnsSortSignedNumbersByValue) {
  // An 8-byte signed column and a double column, then a text column.
  struct Row {
    int64_t number;
    double real;
  };
  std::vector<Row> rows;
  std::mt19937_64 random(7);
  const int64_t numbers[] = {-5000000000LL, -300, -2, -1, 0, 1, 2, 255, 256, 70000, 5000000000LL};
  const double reals[] = {-1e300, -2.5, -1.0, -0.25, 0.0, 0.25, 1.0, 2.5, 1e300};
  for (int64_t n : numbers)
    for (double r : reals) rows.push_back({n, r});
  std::shuffle(rows.begin(), rows.end(), random);
  std::vector<std::pair<std::vector<uint8_t>, Row>> keys;
  for (const Row& row : rows) {
    std::vector<zemta::container::KeyColumn> columns = {
        {1, 8, reinterpret_cast<const uint8_t*>(&row.number)},
        {3, 8, reinterpret_cast<const uint8_t*>(&row.real)},
    };
    keys.push_back({zemta::container::makeIndexKey(columns), row});
  }
  std::sort(keys.begin(), keys.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  for (size_t i = 1; i < keys.size(); ++i) {
    const Row& p = keys[i - 1].second;
    const Row& q = keys[i].second;
    EXPECT_TRUE(p.number < q.number || (p.number == q.number && p.real < q.real))
        << p.number << "/" << p.real << " before " << q.number << "/" << q.real;
  }
  // Through an index tree of the disk as well.
  FileExDiskHandle disk = make("index.ifs");
  ASSERT_NE(disk, nullptr);
  FileExHandle index = FileExCreate(disk, "\\byvalue", -1, nullptr, FILEEX_KIND_INDEX | 0x6000, 0, 16, "till");
  ASSERT_NE(index, nullptr);
  const int32_t tree = static_cast<Entry*>(index)->firstTree;
  for (size_t i = 0; i < keys.size(); ++i)
    ASSERT_EQ(BtreeExIns(tree, static_cast<uint32_t>(i + 1), 0, keys[(i * 7) % keys.size()].first.data()), 0);
  uint64_t id = 0;
  uint8_t key[16];
  std::vector<uint8_t> previous;
  size_t seen = 0;
  ASSERT_EQ(BtreeExSetCurPos(tree, 0xFFFFFFFF, 0xFFFFFFFF, 0), 0);
  while (BtreeExNext(tree, &id, key) == 1) {
    std::vector<uint8_t> current(key, key + 16);
    EXPECT_LT(previous, current);
    previous = current;
    ++seen;
  }
  EXPECT_EQ(seen, keys.size());
  ASSERT_EQ(FileExRelease(index, nullptr), 0);
}

TEST_F(DiskTest, AttributeItemsAreReplacedInPlaceAndRemovedByLengthZero) {
  zemta::container::AttrList list;
  uint8_t record[512] = {};
  ASSERT_EQ(zemta::container::setItem(list, record, 2, 1, 2, 4, "\x01\x00\x00\x00"), 0x00010002);
  ASSERT_EQ(zemta::container::setItem(list, record, 2, 2, 0, -1, "name"), 0x00020002);
  ASSERT_EQ(zemta::container::setItem(list, record, 2, 1, 0, -1, "a longer value"), 0x00010002);
  auto items = zemta::container::itemsOf(list, 2);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].item, 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(items[0].bytes), "a longer value");
  EXPECT_EQ(zemta::container::setItem(list, record, 2, 1, 0, 0, nullptr), 0x00010002);
  EXPECT_EQ(zemta::container::findItem(list, 2, 1), nullptr);
  EXPECT_NE(zemta::container::findItem(list, 2, 2), nullptr);
  // New group and item numbers follow the record's counters.
  EXPECT_EQ(zemta::container::setItem(list, record, 0, 0, 1, -1, "\x05\x00\x00\x00"), 0x00030003);
  container_test::Reports reports;
  EXPECT_EQ(zemta::container::setItem(list, record, 4, 1, 3, 6, "123456"), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
}

TEST_F(DiskTest, TheErrorCopyOfADamagedLogIsNamedByTheTime) {
  platform::LocalTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 1;
  t.hour = 9;
  t.minute = 5;
  t.second = 7;
  EXPECT_EQ(zemta::container::errorCopyName("C:\\shop\\log.ifs", t), "C:\\shop\\log_Err20261201090507.ifs");
}

#ifdef VARNEX_FILE_HOLDER
TEST_F(DiskTest, ADiskHeldByAnotherProcessMakesAnOpenWaitThenGetIn) {
  FileExDiskHandle disk = make("held.ifs");
  ASSERT_NE(disk, nullptr);
  const std::string ready = folder_ / "ready", letGo = folder_ / "letgo";
  int32_t holder = 0;
  ASSERT_TRUE(platform::startProcess(std::string(VARNEX_FILE_HOLDER) + " \"" + (folder_ / "held.ifs") + "\" \"" + ready +
                                         "\" \"" + letGo + "\"",
                                     platform::ProcessPriority::Normal, "", holder));
  ASSERT_TRUE(testing_support::waitUntil([&] { return platform::fileExists(ready); }));
  int shown = 0, retries = 0;
  zemta::FileWaitUi ui;
  ui.show = [&](void*, const std::string&) {
    ++shown;
    return true;
  };
  ui.waitForRetry = [&] {
    // The other process lets go while the open waits; the next retry gets in.
    if (++retries == 2) {
      testing_support::writeFileBytes(letGo, "");
      return testing_support::waitUntil([&] {
        return platform::File::open(folder_ / "held.ifs", platform::kFileRead, platform::kShareNone,
                                    platform::kOpenExisting)
            .isOpen();
      });
    }
    return retries < 10;
  };
  ui.hide = [] {};
  zemta::FileWaitUi previous = zemta::setFileWaitUi(ui);
  const int32_t messages = ZemtaEnableLastErrorMessage(1);
  const int32_t opened = FileExDiskOpen(disk, 3);
  ZemtaEnableLastErrorMessage(messages);
  zemta::setFileWaitUi(previous);
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(shown, 1);
  EXPECT_GE(retries, 2);
  FileExHandle file = FileExCreate(disk, "\\after", -1, nullptr, FILEEX_KIND_FILE, 0, 0, nullptr);
  EXPECT_NE(file, nullptr);
  EXPECT_EQ(FileExRelease(file, nullptr), 0);
  EXPECT_EQ(FileExDiskClose(disk), 0);
}
#endif

#ifdef VARNEX_DISK_WRITER
namespace {

// Every finished round of a writer's run is on the disk, whole. The writer
// was killed inside the round after lastWhole: each call of that round is a
// change of its own, so when it is a fifth round its removal of round
// lastWhole - 2 and its renaming of round lastWhole (in that order) may each
// have been done or not, and a test of the disk takes whichever it finds.
void expectRounds(FileExDiskHandle disk, const std::string& tag, int lastWhole) {
  auto exists = [&](const std::string& name) { return FileExIsExist(disk, name.c_str(), -1, nullptr) == 1; };
  const bool cut = (lastWhole + 1) % 5 == 0 && lastWhole + 1 > 3;
  const bool cutRemoved = cut && !exists(disk_writer::fileName(tag, lastWhole - 2));
  const bool cutRenamed = cut && exists(disk_writer::renamedName(tag, lastWhole));
  EXPECT_TRUE(!cutRenamed || cutRemoved) << tag << ": renamed before the removal";
  for (int round = 1; round <= lastWhole; ++round) {
    if (disk_writer::removedAfter(round, lastWhole) || (cutRemoved && round == lastWhole - 2)) {
      EXPECT_EQ(FileExIsExist(disk, disk_writer::fileName(tag, round).c_str(), -1, nullptr), 0) << tag << round;
      continue;
    }
    const bool renamed = disk_writer::renamedAfter(round, lastWhole) || (cutRenamed && round == lastWhole);
    const std::string name = renamed ? disk_writer::renamedName(tag, round) : disk_writer::fileName(tag, round);
    if (renamed) {
      EXPECT_FALSE(exists(disk_writer::fileName(tag, round))) << tag << round << " under both names";
    }
    FileExHandle file = FileExCreate(disk, name.c_str(), -1, nullptr, 0, 0, 0, nullptr);
    ASSERT_NE(file, nullptr) << name << " after round " << lastWhole;
    const std::string expected = disk_writer::contents(round);
    std::string got(expected.size() + 10, '\0');
    uint32_t count = 0;
    EXPECT_EQ(FileExRead(file, got.data(), static_cast<uint32_t>(got.size()), &count), 0);
    got.resize(count);
    EXPECT_EQ(got, expected) << name;
    ASSERT_EQ(FileExRelease(file, nullptr), 0);
  }
}

}  // namespace

// The writer is killed inside a round, again and again on the same disk;
// every open afterwards finds sound trees and every round that finished, and
// the disk goes on taking work in the space it kept free without harming
// what it holds.
TEST_F(DiskTest, AWriterKilledBetweenTwoWritesLeavesTheDiskWhole) {
  const std::string path = folder_ / "killed.ifs", progress = folder_ / "progress";
  std::mt19937 random(31);
  std::vector<std::pair<std::string, int>> runs;
  for (int kill = 0; kill < 8; ++kill) {
    const std::string tag = std::to_string(kill);
    int32_t writer = 0;
    testing_support::writeFileBytes(progress, "");
    ASSERT_TRUE(platform::startProcess(
        std::string(VARNEX_DISK_WRITER) + " \"" + path + "\" \"" + progress + "\" " + tag,
        platform::ProcessPriority::Normal, "", writer));
    // Let it finish some rounds, then kill it inside the next one.
    const int target = 2 + static_cast<int>(random() % 8);
    ASSERT_TRUE(testing_support::waitUntil([&] { return std::atoi(fileBytes(progress).c_str()) >= target; }));
    ASSERT_TRUE(platform::killProcess(writer));
    // Its unshared open is gone once the disk opens again.
    FileExDiskHandle disk = nullptr;
    ASSERT_TRUE(testing_support::waitUntil([&] {
      const int32_t messages = ZemtaEnableLastErrorMessage(0);
      disk = FileExDiskCreate(path.c_str(), nullptr, nullptr, 0);
      ZemtaEnableLastErrorMessage(messages);
      return disk != nullptr;
    }));
    runs.push_back({tag, std::atoi(fileBytes(progress).c_str())});
    zemta::container::Disk* d = zemta::container::findDisk(disk);
    ASSERT_EQ(zemta::container::FileExDiskHold(*d), 0);
    for (int32_t tree : {d->rootTree, d->spaceTree, d->idTree}) EXPECT_EQ(zemta::BtreeExValidate(tree), "");
    ASSERT_EQ(zemta::container::FileExDiskUnhold(*d), 0);
    // Work in this process reuses the free space; nothing finished is harmed.
    ASSERT_TRUE(disk_writer::runRound(disk, "here" + tag, 1));
    ASSERT_TRUE(disk_writer::runRound(disk, "here" + tag, 2));
    for (const auto& [runTag, last] : runs) expectRounds(disk, runTag, last);
    expectRounds(disk, "here" + tag, 2);
    ASSERT_EQ(FileExDiskRelease(disk), 0);
  }
}
#endif

}  // namespace

namespace {
// Freed blocks are reused over many rounds and reopenings without harming
// what the disk holds.
TEST_F(DiskTest, ManyRoundsInOneProcessKeepEveryFileWhole) {
  const std::string path = folder_ / "rounds.ifs";
  FileExDiskHandle disk = FileExDiskCreate(path.c_str(), nullptr, nullptr, 0);
  ASSERT_NE(disk, nullptr);
  for (int round = 1; round <= 40; ++round) {
    ASSERT_TRUE(disk_writer::runRound(disk, "a", round)) << round;
    if (round % 7 == 0) {
      ASSERT_EQ(FileExDiskRelease(disk), 0);
      disk = FileExDiskCreate(path.c_str(), nullptr, nullptr, 0);
      ASSERT_NE(disk, nullptr);
    }
    if (round % 7 == 0 || round == 40) expectRounds(disk, "a", round);
    if (HasFailure()) {
      ADD_FAILURE() << "at round " << round;
      break;
    }
  }
  FileExDiskRelease(disk);
}
}  // namespace
