// Tables of a container disk on real files: records numbered without gaps,
// fields and their text, the serialised attribute list, log rows, the
// configuration values and the error row, structure reports, index keys,
// searches and result sets, cursor tables and CRC-32; a randomized run
// against a model, and damaged log rows from a bounded fuzz run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/container/container_test_support.h"
#include "lib/container/disk_writer_rounds.h"
#include "lib/container/disk/container_internal.h"
#include "lib/container/tables/table_internal.h"
#include "platform/base/process.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "zemta/btreeex.h"
#include "zemta/csr.h"
#include "zemta/fileex.h"

namespace {

using testing_support::TempFolder;
using zemta::container::Entry;

constexpr uint16_t kFields = 10;

uint64_t idOf(FileExHandle entry) {
  uint64_t id = 0;
  EXPECT_EQ(FileExGetID(entry, &id), 0);
  return id;
}

std::vector<uint8_t> u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// An index definition over the columns, to be built when the table is written.
std::vector<uint8_t> indexDef(const char* name, std::vector<uint16_t> columns) {
  std::vector<uint8_t> def(276 + 2 * columns.size(), 0);
  def[2] = static_cast<uint8_t>(columns.size());
  std::memcpy(def.data() + 8, name, std::strlen(name));
  for (size_t i = 0; i < columns.size(); ++i) {
    def[276 + 2 * i] = uint8_t(columns[i]);
    def[277 + 2 * i] = uint8_t(columns[i] >> 8);
  }
  return def;
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BtreeExNew();
    disk_ = FileExDiskCreate((folder_ / "shop.ifs").c_str(), "shop", nullptr, 0);
    ASSERT_NE(disk_, nullptr);
  }
  void TearDown() override {
    for (FileExHandle h : open_) FileExRelease(h, nullptr);
    if (disk_) FileExDiskRelease(disk_);
    BtreeExDelete();
  }
  // A table of an unsigned code (column 1, 4 bytes) and a name (column 2,
  // 8 bytes of text), with an index on the code and one on the name.
  FileExHandle makeItems(const char* path = "\\Items", bool indexes = true) {
    FileExHandle table = FileExCreate(disk_, path, -1, nullptr, FILEEX_KIND_TABLE, 0, 0, "clerk");
    EXPECT_NE(table, nullptr);
    EXPECT_EQ(FileExInsColumn(table, 1, "Code", 4, 2, 0, 0, 0, -1), 0);
    EXPECT_EQ(FileExInsColumn(table, 2, "Name", 8, 0, 0, 0, 0, -1), 0);
    if (indexes) {
      for (auto [number, def] : {std::pair{1u, indexDef("ByCode", {1})}, std::pair{2u, indexDef("ByName", {2})}}) {
        uint32_t key = FILEEX_FIELD_KEY(3, number);
        EXPECT_EQ(FileExSetFld(table, &key, def.data(), int32_t(def.size()), 0x61F), 0);
      }
    }
    EXPECT_EQ(FileExFldWrite(table, nullptr, 0), 0);
    open_.push_back(table);
    return table;
  }
  // Inserts a record at the number with the code and name, written.
  uint64_t insert(FileExHandle table, uint64_t number, uint32_t code, const std::string& name) {
    FileExHandle record = FileExRecInsert(table, uint32_t(number), uint32_t(number >> 32), nullptr, 0, nullptr);
    EXPECT_NE(record, nullptr);
    if (!record) return 0;
    setCode(record, code);
    setName(record, name);
    EXPECT_EQ(FileExFldWrite(record, table, 0), 0);
    const uint64_t id = idOf(record);
    EXPECT_EQ(FileExRelease(record, nullptr), 0);
    return id;
  }
  static void setCode(FileExHandle record, uint32_t code) {
    uint32_t key = FILEEX_FIELD_KEY(kFields, 1);
    const auto bytes = u32(code);
    EXPECT_EQ(FileExSetFld(record, &key, bytes.data(), 4, 2), 0);
  }
  static void setName(FileExHandle record, const std::string& name) {
    uint32_t key = FILEEX_FIELD_KEY(kFields, 2);
    std::string padded = name;
    padded.resize(8, '\0');
    EXPECT_EQ(FileExSetFld(record, &key, padded.data(), 8, 0), 0);
  }
  static uint32_t codeOf(FileExHandle record) {
    uint8_t bytes[4] = {};
    EXPECT_EQ(FileExGetFld(record, FILEEX_FIELD_KEY(kFields, 1), bytes, 4, nullptr), 4);
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24;
  }
  uint64_t idAt(FileExHandle table, uint64_t number) {
    uint64_t id = 0;
    EXPECT_EQ(FileExGetTblRecID(table, uint32_t(number), 0, &id), 0);
    return id;
  }
  static uint64_t countOf(FileExHandle table) {
    uint64_t count = 0;
    EXPECT_EQ(FileExGetRecCount(table, &count), 0);
    return count;
  }
  // The record numbers of a result set, in its order.
  static std::vector<uint64_t> numbers(FileExHandle table, FileExHandle set) {
    std::vector<uint64_t> out;
    uint64_t position = 0, number = 0;
    while (FileExFetchNextRec(table, set, &position, &number) == 1) out.push_back(number);
    return out;
  }

  TempFolder folder_;
  FileExDiskHandle disk_ = nullptr;
  std::vector<FileExHandle> open_;
};

// --- CRC-32 ---------------------------------------------------------------------

TEST(CursorCrc, StandardCheckValueAndEmptyBuffer) {
  CsrInitCrcTable();
  EXPECT_EQ(CsrCalcCrc32("123456789", 9, 0xFFFFFFFFu), 0xCBF43926u);
  EXPECT_EQ(CsrCalcCrc32("", 0, 0x12345678u), ~0x12345678u);
  // Running in two pieces: the complement of the first result carries on.
  const uint32_t half = CsrCalcCrc32("1234", 4, 0xFFFFFFFFu);
  EXPECT_EQ(CsrCalcCrc32("56789", 5, ~half), 0xCBF43926u);
}

// --- records ---------------------------------------------------------------------

TEST_F(TableTest, RecordsAreNumberedWithoutGaps) {
  FileExHandle table = makeItems();
  const uint64_t a = insert(table, ~0ull, 1, "a"), b = insert(table, ~0ull, 2, "b"), c = insert(table, ~0ull, 3, "c");
  const uint64_t first = insert(table, 1, 4, "d");
  EXPECT_EQ(countOf(table), 4u);
  EXPECT_EQ(idAt(table, 1), first);
  EXPECT_EQ((std::vector<uint64_t>{idAt(table, 2), idAt(table, 3), idAt(table, 4)}), (std::vector<uint64_t>{a, b, c}));
  ASSERT_EQ(FileExRecDelete(table, 1, 0), 0);

  // Number 10 of a table of 3 appends as number 4.
  FileExHandle record = FileExRecInsert(table, 10, 0, nullptr, 0, nullptr);
  ASSERT_NE(record, nullptr);
  uint64_t number = 0;
  EXPECT_EQ(FileExGetTblRecNo(table, uint32_t(idOf(record)), uint32_t(idOf(record) >> 32), &number), 0);
  EXPECT_EQ(number, 4u);
  EXPECT_EQ(FileExRelease(record, nullptr), 0);

  // Deleting number 2 of 4 moves 3 and 4 down; the IDs stay.
  const uint64_t fourth = idAt(table, 4);
  ASSERT_EQ(FileExRecDelete(table, 2, 0), 0);
  EXPECT_EQ(countOf(table), 3u);
  EXPECT_EQ(idAt(table, 2), c);
  EXPECT_EQ(idAt(table, 3), fourth);

  container_test::Reports reports;
  for (uint32_t bad : {0u, 4u}) {
    reports.clear();
    EXPECT_EQ(FileExRecOpen(table, bad, 0, 0, nullptr), nullptr) << bad;
    EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER)) << bad;
  }
}

TEST_F(TableTest, RecordsSurviveTheDiskBeingOpenedAgain) {
  FileExHandle table = makeItems();
  insert(table, ~0ull, 7, "seven");
  insert(table, ~0ull, 9, "nine");
  ASSERT_EQ(FileExRelease(table, nullptr), 0);
  open_.clear();
  ASSERT_EQ(FileExDiskRelease(disk_), 0);
  disk_ = FileExDiskCreate((folder_ / "shop.ifs").c_str(), "shop", nullptr, 0);
  ASSERT_NE(disk_, nullptr);
  table = FileExCreate(disk_, "\\Items", -1, nullptr, 0, 0, 0, nullptr);
  ASSERT_NE(table, nullptr);
  open_.push_back(table);
  EXPECT_EQ(countOf(table), 2u);
  FileExHandle record = FileExRecOpen(table, 2, 0, 0, nullptr);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(codeOf(record), 9u);
  char text[16] = {};
  EXPECT_EQ(FileExGetFldStr(record, FILEEX_FIELD_KEY(kFields, 2), text, sizeof text, 0), 5);
  EXPECT_STREQ(text, "nine");
  EXPECT_EQ(FileExRelease(record, nullptr), 0);
  // The index kept its keys.
  int32_t kind = -1;
  uint64_t number = 0;
  const auto key = u32(7);
  EXPECT_EQ(FileExRecEqu(table, 1, std::vector<uint16_t>{1}.data(), key.data(), &kind, &number), nullptr);
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(number, 1u);
}

// --- the serialised list ---------------------------------------------------------

TEST(AttributeList, SerialisedSizeAndLoadChecks) {
  zemta::container::AttrList list;
  uint8_t record[512] = {};
  const char text[] = "abc";
  ASSERT_GE(zemta::container::setItem(list, record, 10, 1, 0, 4, text), 0);
  ASSERT_GE(zemta::container::setItem(list, record, 10, 2, 2, 4, "\1\0\0\0"), 0);
  ASSERT_GE(zemta::container::setItem(list, record, 4, 1, 0, 2, "x"), 0);
  const std::vector<uint8_t> bytes = zemta::container::serialiseList(list);
  EXPECT_EQ(bytes.size(), 2u + (6 + 2 * 6 + 4 + 4) + (6 + 6 + 2));
  zemta::container::AttrList back;
  EXPECT_TRUE(zemta::container::parseList(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(zemta::container::serialiseList(back), bytes);

  struct Case {
    const char* what;
    std::vector<uint8_t> data;
  };
  std::vector<uint8_t> many = {0, 1};  // 256 groups
  for (int g = 0; g < 256; ++g) many.insert(many.end(), {uint8_t(g % 255 + 1), 0, 0, 0, 0, 0});
  std::vector<uint8_t> shortened(bytes.begin(), bytes.end() - 1);
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  std::vector<uint8_t> itemPastGroup = bytes;
  itemPastGroup[2 + 6 + 4] = 200;  // the first item's length runs past its group
  const Case cases[] = {{"7 bytes", std::vector<uint8_t>(7, 1)},
                        {"256 groups", many},
                        {"one byte short", shortened},
                        {"one byte more", longer},
                        {"an item past its group", itemPastGroup}};
  for (const Case& c : cases) {
    EXPECT_FALSE(zemta::container::parseList(c.data.data(), c.data.size(), &back)) << c.what;
    EXPECT_TRUE(back.groups.empty()) << c.what;
  }
}

TEST_F(TableTest, DamagedRecordDataFailsToLoadAndLeavesTheListsEmpty) {
  FileExHandle table = makeItems();
  insert(table, ~0ull, 5, "five");
  FileExHandle record = FileExRecOpen(table, 1, 0, 0, nullptr);
  ASSERT_NE(record, nullptr);
  for (size_t size : {7u, 2u + 256u * 6u}) {
    std::vector<uint8_t> data(size, 0);
    data[0] = uint8_t(size == 7 ? 1 : 0);
    data[1] = uint8_t(size == 7 ? 0 : 1);
    for (size_t g = 0; size > 7 && g < 256; ++g) data[2 + 6 * g] = uint8_t(g % 255 + 1);
    ASSERT_EQ(FileExSetPointer(record, 0, 0), 0u);
    ASSERT_EQ(FileExWrite(record, data.data(), uint32_t(size)), 0);
    ASSERT_EQ(FileExSetSize(record, uint32_t(size), 0), 0);
    container_test::Reports reports;
    EXPECT_EQ(FileExFldRead(record), -1) << size;
    EXPECT_TRUE(reports.last(ZEMTA_ERR_FILE_FORMAT)) << size;
    EXPECT_EQ(FileExGetFldCount(record, kFields, nullptr, 0), 0) << size;
  }
  EXPECT_EQ(FileExRelease(record, nullptr), 0);
}

// --- field text ------------------------------------------------------------------

TEST_F(TableTest, FieldTextsJoinAsCsv) {
  FileExHandle table = FileExCreate(disk_, "\\Notes", -1, nullptr, FILEEX_KIND_TABLE, 0, 0, nullptr);
  ASSERT_NE(table, nullptr);
  open_.push_back(table);
  for (uint16_t c = 1; c <= 3; ++c) ASSERT_EQ(FileExInsColumn(table, c, "Text", 16, 0x20, 0, 0, 0, -1), 0);
  FileExHandle record = FileExRecInsert(table, ~0u, ~0u, nullptr, 0, nullptr);
  ASSERT_NE(record, nullptr);
  auto set = [&](uint16_t column, const char* text) {
    uint32_t key = FILEEX_FIELD_KEY(kFields, column);
    EXPECT_EQ(FileExSetFld(record, &key, text, -1, 0), 0);
  };
  const uint16_t items[] = {1, 2, 3};
  struct Case {
    const char* first;
    const char* second;  // null: absent
    const char* third;
    const char* joined;
  };
  const Case cases[] = {
      {"a", nullptr, "c", "a,,c"},
      {"a", "b,c", "d", "a,\"b,c\",d"},
      {"say \"hi\"", "x", "y", "\"say \"\"hi\"\"\",x,y"},
  };
  for (const Case& c : cases) {
    set(1, c.first);
    uint32_t key = FILEEX_FIELD_KEY(kFields, 2);
    if (c.second) set(2, c.second);
    else EXPECT_EQ(FileExSetFld(record, &key, nullptr, 0, 0), 0);
    set(3, c.third);
    const int32_t needed = FileExGetFldCsv(record, kFields, 3, items, nullptr, 0);
    EXPECT_EQ(needed, int32_t(std::strlen(c.joined) + 1)) << c.joined;
    std::vector<char> text(size_t(std::max(needed, 1)), 'z');
    EXPECT_EQ(FileExGetFldCsv(record, kFields, 3, items, text.data(), needed), needed);
    EXPECT_STREQ(text.data(), c.joined);
  }
  // A buffer too small is refused, not written past.
  container_test::Reports reports;
  char small[4] = {'q', 'q', 'q', 'q'};
  EXPECT_EQ(FileExGetFldCsv(record, kFields, 3, items, small, 3), -1);
  EXPECT_EQ(small[3], 'q');
  EXPECT_EQ(FileExRelease(record, nullptr), 0);
}

TEST_F(TableTest, FieldsGetSetAndClear) {
  FileExHandle table = makeItems("\\Items", false);
  FileExHandle record = FileExRecInsert(table, ~0u, ~0u, nullptr, 0, nullptr);
  ASSERT_NE(record, nullptr);
  uint16_t type = 0;
  EXPECT_EQ(FileExGetFld(record, FILEEX_FIELD_KEY(kFields, 1), nullptr, 0, &type), 0);
  EXPECT_EQ(type, 0xFFFF);
  setCode(record, 42);
  EXPECT_EQ(FileExGetFld(record, FILEEX_FIELD_KEY(kFields, 1), nullptr, 0, &type), 4);
  EXPECT_EQ(type, 2);
  uint32_t key = FILEEX_FIELD_KEY(kFields, 0);
  EXPECT_EQ(FileExSetFld(record, &key, "x", 2, 0), 0);
  EXPECT_EQ(key >> 16, 2u) << "the next free item number";
  EXPECT_EQ(FileExGetFldCount(record, kFields, nullptr, 0), 2);
  EXPECT_EQ(FileExClrFld(record), 0);
  EXPECT_EQ(FileExGetFldCount(record, kFields, nullptr, 0), 0);
  EXPECT_EQ(FileExRelease(record, nullptr), 0);
}

// --- log rows --------------------------------------------------------------------

TEST_F(TableTest, WritesAreLoggedWithTheirBeforeAndAfterValues) {
  ASSERT_EQ(FileExStartLog(disk_, 0), 0);
  FileExHandle log = FileExGetLogFile(disk_, nullptr);
  FileExHandle table = makeItems();
  const uint64_t id = insert(table, ~0ull, 1, "one");
  ASSERT_EQ(countOf(log), 1u);

  auto row = [&](uint64_t number, uint16_t* flags, std::vector<uint8_t>* before, std::vector<uint8_t>* after) {
    FileExHandle r = FileExRecOpen(log, uint32_t(number), 0, 0, nullptr);
    ASSERT_NE(r, nullptr);
    uint8_t info[2 + 32] = {sizeof info, 0};
    ASSERT_EQ(FileExGetLogInfo(r, info, nullptr), 0);
    *flags = uint16_t(info[2 + 2] | info[2 + 3] << 8);
    uint64_t logged = 0;
    std::memcpy(&logged, info + 2 + 8, 8);
    EXPECT_EQ(logged, id);
    for (auto* out : {before, after}) {
      uint8_t size[2] = {0, 0};
      ASSERT_EQ(FileExGetLogData(r, kFields, out == before ? size : nullptr, out == after ? size : nullptr), 0);
      out->assign(size[0] | size[1] << 8, 0);
      (*out)[0] = size[0];
      (*out)[1] = size[1];
      ASSERT_EQ(FileExGetLogData(r, kFields, out == before ? out->data() : nullptr, out == after ? out->data() : nullptr), 0);
    }
    EXPECT_EQ(FileExRelease(r, nullptr), 0);
  };
  uint16_t flags = 0;
  std::vector<uint8_t> before, after;
  row(1, &flags, &before, &after);
  EXPECT_EQ(flags, 0x1008);
  EXPECT_EQ(before.size(), 2u) << "no before data for an insertion";
  EXPECT_GT(after.size(), 2u + 12u);

  // Changing one column of the two logs one entry each way.
  FileExHandle record = FileExRecOpen(table, 1, 0, 0, nullptr);
  ASSERT_NE(record, nullptr);
  setCode(record, 2);
  ASSERT_EQ(FileExFldWrite(record, table, 0), 0);
  ASSERT_EQ(countOf(log), 2u);
  row(2, &flags, &before, &after);
  EXPECT_EQ(flags, 0x400C);
  const std::vector<uint8_t> one = {1, 0, 2, 0, 4, 0};
  EXPECT_EQ(before.size(), 2u + 6u + 4u + 2u);
  EXPECT_TRUE(std::equal(one.begin(), one.end(), before.begin() + 2));
  EXPECT_EQ(before[8], 1);
  EXPECT_EQ(after[8], 2);

  // Unchanged: nothing written, nothing logged.
  ASSERT_EQ(FileExFldWrite(record, table, 0), 0);
  EXPECT_EQ(countOf(log), 2u);
  EXPECT_EQ(FileExRelease(record, nullptr), 0);

  ASSERT_EQ(FileExRecDelete(table, 1, 0), 0);
  ASSERT_EQ(countOf(log), 3u);
  row(3, &flags, &before, &after);
  EXPECT_EQ(flags, 0x2004);
  EXPECT_EQ(after.size(), 2u);
  EXPECT_EQ(FileExStopLog(disk_), 0);
}

TEST_F(TableTest, DamagedLogRowsAreReportedAndNeverReadPast) {
  FileExHandle table = makeItems("\\Items", false);
  FileExHandle record = FileExRecInsert(table, ~0u, ~0u, nullptr, 0, nullptr);
  ASSERT_NE(record, nullptr);
  // A sound row first: two items set.
  const std::vector<uint8_t> sound = {20, 0, 1, 0, 2, 0, 4, 0, 9, 0, 0, 0, 2, 0, 0, 0, 2, 0, 'h', 0};
  ASSERT_EQ(FileExSetFldByLog(record, kFields, sound.data()), 0);
  EXPECT_EQ(codeOf(record), 9u);
  container_test::Reports reports;
  // An item whose length runs past the block changes nothing.
  std::vector<uint8_t> damaged = sound;
  damaged[16] = 200;
  EXPECT_EQ(FileExSetFldByLog(record, kFields, damaged.data()), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(codeOf(record), 9u);

  // A bounded fuzz run: each block lies in a buffer of exactly its length, so
  // a read past it is caught by the address checker of the checking build.
  std::mt19937 random(35);
  int refused = 0;
  for (int round = 0; round < 3000; ++round) {
    const size_t length = 2 + random() % 60;
    std::vector<uint8_t> block(length);
    for (auto& b : block) b = uint8_t(random());
    if (round % 2 == 0) std::copy(sound.begin(), sound.begin() + std::min(sound.size(), length), block.begin());
    if (round % 3 == 0) block[6 % length] = uint8_t(random() % 40);
    block[0] = uint8_t(length);
    block[1] = 0;
    reports.clear();
    const int32_t result = FileExSetFldByLog(record, uint16_t(1 + random() % 200), block.data());
    if (result != 0) {
      ++refused;
      EXPECT_EQ(reports.count(), 1u);
    }
  }
  EXPECT_GT(refused, 100);
  EXPECT_EQ(FileExRelease(record, nullptr), 0);
}

// --- configuration and the error row ----------------------------------------------

TEST_F(TableTest, ConfigurationValuesAreKeptInTheConfigurationRecord) {
  char text[64] = {};
  EXPECT_EQ(FileExReadCfgFldInt(disk_, 5), 0);
  EXPECT_EQ(FileExReadCfgFldStr(disk_, 2, text, sizeof text), 0);
  ASSERT_EQ(FileExWriteCfgFldStr(disk_, 2, "bk%Y%m%d.ifs"), 0);
  ASSERT_EQ(FileExWriteCfgFldInt(disk_, 5, 3), 0);
  const uint8_t schedule[4] = {1, 2, 3, 4};
  ASSERT_EQ(FileExWriteCfgFldSch(disk_, 8, schedule), 0);
  ASSERT_EQ(FileExDiskRelease(disk_), 0);
  disk_ = FileExDiskCreate((folder_ / "shop.ifs").c_str(), "shop", nullptr, 0);
  ASSERT_NE(disk_, nullptr);
  EXPECT_EQ(FileExReadCfgFldStr(disk_, 2, text, sizeof text), 12);
  EXPECT_STREQ(text, "bk%Y%m%d.ifs");
  EXPECT_EQ(FileExReadCfgFldInt(disk_, 5), 3);
  uint8_t back[4] = {};
  EXPECT_EQ(FileExReadCfgFldSch(disk_, 8, back), 1);
  EXPECT_EQ(std::memcmp(back, schedule, 4), 0);
  container_test::Reports reports;
  EXPECT_EQ(FileExReadCfgFldInt(disk_, 2), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
}

TEST_F(TableTest, AnErrorRowKeepsLineFileAndCode) {
  ASSERT_EQ(FileExRecInsErr(disk_, 120, "till.cpp", 0x20000085u, nullptr, nullptr), 0);
  FileExHandle errors = FileExCreate(disk_, "\\SYSTEM\\ERROR", -1, nullptr, 0, 0, 0, nullptr);
  ASSERT_NE(errors, nullptr);
  open_.push_back(errors);
  EXPECT_EQ(countOf(errors), 1u);
  FileExHandle row = FileExRecOpen(errors, 1, 0, 0, nullptr);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(FileExGetFldCount(row, kFields, nullptr, 0), 3);
  const uint16_t items[] = {1, 2, 3};
  char text[64] = {};
  ASSERT_GT(FileExGetFldCsv(row, kFields, 3, items, text, sizeof text), 0);
  EXPECT_STREQ(text, "120,till.cpp,536871045");
  EXPECT_EQ(FileExRelease(row, nullptr), 0);
}

// --- structure reports -------------------------------------------------------------

TEST_F(TableTest, StructureReportsComeInColumnOrderAndAreFreedByTheLibrary) {
  FileExHandle table = makeItems("\\Items", false);
  ASSERT_EQ(FileExInsColumn(table, 3, "First", 2, 1, 0, 0, 0, 0), 0);
  uint8_t* columns = nullptr;
  uint8_t* links = nullptr;
  uint8_t* actions = nullptr;
  uint16_t* order = nullptr;
  EXPECT_EQ(FileExGetTblStruct(table, &columns, &links, &actions, &order), 3);
  ASSERT_NE(order, nullptr);
  EXPECT_EQ((std::vector<uint16_t>(order, order + 3)), (std::vector<uint16_t>{3, 1, 2}));
  EXPECT_STREQ(reinterpret_cast<char*>(columns + 2), "First");
  EXPECT_STREQ(reinterpret_cast<char*>(columns + 270 + 2), "Code");
  EXPECT_EQ(actions, nullptr) << "no column has actions";
  EXPECT_EQ(FileExFreeTblStruct(reinterpret_cast<void**>(&columns)), 0);
  EXPECT_EQ(columns, nullptr);
  EXPECT_EQ(FileExFreeTblStruct(reinterpret_cast<void**>(&links)), 0);
  EXPECT_EQ(FileExFreeOdr(table, &order), 0);

  // Only the middle column has an action list: 2 + its size + 2.
  std::vector<uint8_t> list(8 + 16, 0);
  list[0] = uint8_t(list.size());
  list[6] = 1;
  uint32_t key = FILEEX_FIELD_KEY(5, 1);
  ASSERT_EQ(FileExSetFld(table, &key, list.data(), int32_t(list.size()), 0xA1F), 0);
  EXPECT_EQ(FileExGetTblStruct(table, nullptr, nullptr, &actions, nullptr), 3);
  ASSERT_NE(actions, nullptr);
  EXPECT_EQ(actions[0], 2);
  EXPECT_EQ(actions[2], list.size());
  EXPECT_EQ(actions[2 + list.size()], 2);
  EXPECT_EQ(FileExFreeTblStruct(reinterpret_cast<void**>(&actions)), 0);

  uint8_t* defs = reinterpret_cast<uint8_t*>(1);
  uint16_t* numbers = reinterpret_cast<uint16_t*>(1);
  EXPECT_EQ(FileExGetTblIdxStruct(table, &defs, &numbers), 0);
  EXPECT_EQ(defs, nullptr);
  EXPECT_EQ(numbers, nullptr);
  // A link stored short fails the report.
  key = FILEEX_FIELD_KEY(4, 2);
  ASSERT_EQ(FileExSetFld(table, &key, "123456789012", 12, 0x91F), 0);
  container_test::Reports reports;
  EXPECT_EQ(FileExGetTblStruct(table, nullptr, &links, nullptr, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_FILE_FORMAT));
}

TEST_F(TableTest, ColumnActionsRunWhenARecordIsOpened) {
  FileExHandle table = makeItems("\\Items", false);
  ASSERT_EQ(FileExInsColumn(table, 3, "Total", 4, 2, 0, 0, 0, -1), 0);
  // Total = Code + 10: the code into the list's slot, then 10 added and stored.
  std::vector<uint8_t> list(8 + 2 * 16, 0);
  list[0] = uint8_t(list.size());
  list[4] = 1;  // one slot of its own
  list[6] = 2;
  uint8_t* first = list.data() + 8;
  first[0] = 0x04;  // at opening
  first[1] = 0x80;  // operand: a field of the record
  first[3] = 1;     // set
  first[6] = 1;     // column 1
  uint8_t* second = list.data() + 24;
  second[0] = 0x04;
  second[1] = 0x40;  // store into the column
  second[3] = 3;     // add
  second[8] = 10;
  uint32_t key = FILEEX_FIELD_KEY(5, 3);
  ASSERT_EQ(FileExSetFld(table, &key, list.data(), int32_t(list.size()), 0xA1F), 0);
  ASSERT_EQ(FileExFldWrite(table, nullptr, 0), 0);
  insert(table, ~0ull, 32, "x");
  FileExHandle record = FileExRecOpen(table, 1, 0, 0, nullptr);
  ASSERT_NE(record, nullptr);
  uint8_t total[4] = {};
  EXPECT_EQ(FileExGetFld(record, FILEEX_FIELD_KEY(kFields, 3), total, 4, nullptr), 4);
  EXPECT_EQ(total[0], 42);
  EXPECT_EQ(FileExRelease(record, nullptr), 0);
}

// --- index keys and searches -------------------------------------------------------

TEST_F(TableTest, AnUnsignedAndTextKeyIsBigEndianThenTheText) {
  FileExHandle table = makeItems("\\Items", false);
  const auto def = indexDef("CodeName", {1, 2});
  uint32_t key = FILEEX_FIELD_KEY(3, 1);
  ASSERT_EQ(FileExSetFld(table, &key, def.data(), int32_t(def.size()), 0x61F), 0);
  ASSERT_EQ(FileExFldWrite(table, nullptr, 0), 0);
  insert(table, ~0ull, 0x01020304, "ab");
  const uint8_t expected[12] = {1, 2, 3, 4, 'a', 'b', 0, 0, 0, 0, 0, 0};
  int32_t kind = -1;
  uint64_t number = 0;
  const uint16_t columns[] = {1, 2};
  EXPECT_EQ(FileExRecEqu(table, 2, columns, expected, &kind, &number), nullptr);
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(number, 1u);
  EXPECT_EQ(FileExIsIndex(table, 2, columns), 1);
  EXPECT_EQ(FileExIsIndex(table, 1, columns), 0);
}

TEST_F(TableTest, RecEquCountsDuplicatesAndGivesTheFirst) {
  FileExHandle table = makeItems();
  insert(table, ~0ull, 9, "x");
  const uint64_t first = insert(table, ~0ull, 5, "a");
  insert(table, ~0ull, 5, "b");
  insert(table, ~0ull, 5, "c");
  insert(table, ~0ull, 6, "d");
  const uint16_t code[] = {1};
  struct Case {
    uint32_t key;
    int32_t kind;
  };
  for (const Case& c : {Case{5, 2}, Case{6, 1}, Case{7, 0}, Case{1, 0}, Case{10, 0}}) {
    int32_t kind = -1;
    const auto k = u32(c.key);
    FileExHandle record = FileExRecEqu(table, 1, code, k.data(), &kind, nullptr);
    EXPECT_EQ(kind, c.kind) << c.key;
    EXPECT_EQ(record != nullptr, c.kind != 0) << c.key;
    if (c.key == 5 && record) {
      EXPECT_EQ(idOf(record), first);
    }
    if (record) {
      EXPECT_EQ(FileExRelease(record, nullptr), 0);
    }
  }
}

TEST_F(TableTest, RangeSearchesAscendDescendAndCombine) {
  FileExHandle table = makeItems();
  for (uint32_t code : {30u, 10u, 20u, 40u, 20u}) insert(table, ~0ull, code, "n");
  const uint16_t code[] = {1};
  auto search = [&](uint32_t from, uint32_t to) {
    const auto f = u32(from), t = u32(to);
    FileExHandle set = FileExRecSear(table, 1, code, f.data(), t.data(), nullptr);
    EXPECT_NE(set, nullptr);
    return set;
  };
  FileExHandle up = search(15, 30);
  EXPECT_EQ(numbers(table, up), (std::vector<uint64_t>{3, 5, 1}));
  FileExHandle down = search(30, 15);
  EXPECT_EQ(numbers(table, down), (std::vector<uint64_t>{1, 5, 3}));
  FileExHandle none = search(50, 60);
  EXPECT_EQ(numbers(table, none), std::vector<uint64_t>{});
  FileExHandle gap = search(21, 29);
  EXPECT_EQ(numbers(table, gap), std::vector<uint64_t>{});
  FileExHandle same = search(20, 20);
  EXPECT_EQ(numbers(table, same), (std::vector<uint64_t>{3, 5}));

  // Widening appends new records in index order; narrowing keeps those in range.
  const auto f = u32(35), t = u32(45);
  ASSERT_EQ(FileExRecOrSear(table, 1, code, f.data(), t.data(), up), 0);
  EXPECT_EQ(numbers(table, up), (std::vector<uint64_t>{3, 5, 1, 4}));
  const auto f2 = u32(20), t2 = u32(35);
  ASSERT_EQ(FileExRecAndSear(table, 1, code, f2.data(), t2.data(), up), 0);
  EXPECT_EQ(numbers(table, up), (std::vector<uint64_t>{3, 5, 1}));
  // Combining: or appends what is missing, and keeps what both hold.
  FileExHandle low = search(0, 20);
  ASSERT_EQ(FileExRecCombine(low, up, 0), 0);
  EXPECT_EQ(numbers(table, low), (std::vector<uint64_t>{2, 3, 5, 1}));
  container_test::Reports reports;
  EXPECT_EQ(FileExRecCombine(low, up, 2), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  ASSERT_EQ(FileExRecCombine(low, down, 1), 0);
  uint64_t count = 0;
  EXPECT_EQ(FileExGetSearCount(low, &count), 0);
  EXPECT_EQ(count, 3u);
  // Ordered by name descending, then fetched from a jump.
  ASSERT_EQ(FileExRecOrder(table, 1, code, 0, low), 0);
  EXPECT_EQ(numbers(table, low).front(), 1u);
  uint64_t position = 1, id = 0;
  EXPECT_EQ(FileExFetchNextID(table, low, &position, &id), 1);
  EXPECT_EQ(position, 2u);
  position = 3;
  EXPECT_EQ(FileExFetchNextID(table, low, &position, &id), 0);
  EXPECT_EQ(position, 0u);
  for (FileExHandle set : {up, down, none, gap, same, low}) EXPECT_EQ(FileExIdxRemove(set), 0);
}

TEST_F(TableTest, PatternSearchIgnoresDashesAndCaseOnlyWhenAsked) {
  FileExHandle table = makeItems();
  insert(table, ~0ull, 1, "AB-CD");
  insert(table, ~0ull, 2, "xabcdy");
  insert(table, ~0ull, 3, "ab");
  const uint16_t name[] = {2};
  char pattern[8] = "abcd";
  FileExHandle loose = FileExRecSear(table, 1, name, pattern, FILEEX_PATTERN_LOOSE, nullptr);
  ASSERT_NE(loose, nullptr);
  EXPECT_EQ(numbers(table, loose), (std::vector<uint64_t>{1, 2}));
  FileExHandle strict = FileExRecSear(table, 1, name, pattern, FILEEX_PATTERN_STRICT, nullptr);
  ASSERT_NE(strict, nullptr);
  EXPECT_EQ(numbers(table, strict), (std::vector<uint64_t>{2}));
  // A full-width pattern matches the half-width key.
  char wide[8] = "\x82\x60\x82\x61";  // full-width "AB"
  FileExHandle full = FileExRecSear(table, 1, name, wide, FILEEX_PATTERN_STRICT, nullptr);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(numbers(table, full).size(), 3u);
  container_test::Reports reports;
  const uint16_t code[] = {1};
  EXPECT_EQ(FileExRecSear(table, 1, code, pattern, FILEEX_PATTERN_LOOSE, nullptr), nullptr);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  for (FileExHandle set : {loose, strict, full}) EXPECT_EQ(FileExIdxRemove(set), 0);
}

TEST_F(TableTest, JoinThroughAReferencingIndex) {
  FileExHandle items = makeItems();
  FileExHandle sales = makeItems("\\Sales");
  for (uint32_t code : {1u, 2u, 3u, 2u}) insert(items, ~0ull, code, "i");
  for (uint32_t code : {2u, 3u, 2u, 9u}) insert(sales, ~0ull, code, "s");
  const uint16_t code[] = {1};
  const auto f = u32(0), t = u32(100);
  FileExHandle allSales = FileExRecSear(sales, 1, code, f.data(), t.data(), nullptr);
  ASSERT_NE(allSales, nullptr);
  FileExHandle joined = FileExRecRefSearByIdx(items, sales, 1, code, code, allSales);
  ASSERT_NE(joined, nullptr);
  std::vector<uint64_t> got = numbers(items, joined);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<uint64_t>{2, 3, 4}));
  EXPECT_EQ(FileExIdxRemove(joined), 0);
  EXPECT_EQ(FileExIdxRemove(allSales), 0);
}

// Result sets kept on a scratch disk: every operation that makes or replaces
// a set puts it on the disk of the set's owner, and the table's disk gets
// nothing.
TEST_F(TableTest, ResultSetsLiveOnTheOwnersDisk) {
  FileExHandle items = makeItems();
  FileExHandle sales = makeItems("\\Sales");
  for (uint32_t code : {30u, 10u, 20u, 40u, 20u}) insert(items, ~0ull, code, "n");
  for (uint32_t code : {20u, 40u}) insert(sales, ~0ull, code, "s");
  FileExDiskHandle scratch = FileExDiskCreate((folder_ / "scratch.ifs").c_str(), "scratch", nullptr, 0);
  ASSERT_NE(scratch, nullptr);
  FileExHandle folder = FileExCreate(scratch, "\\Work", -1, nullptr, FILEEX_KIND_DIRECTORY, 0, 0, "clerk");
  ASSERT_NE(folder, nullptr);
  const uint16_t code[] = {1};
  auto search = [&](FileExHandle table, uint32_t from, uint32_t to, FileExHandle owner) {
    const auto f = u32(from), t = u32(to);
    FileExHandle set = FileExRecSear(table, 1, code, f.data(), t.data(), owner);
    EXPECT_NE(set, nullptr);
    return set;
  };
  auto diskOf = [](FileExHandle set) { return static_cast<Entry*>(set)->diskSlot; };
  const size_t scratchSlot = diskOf(folder);
  FileExHandle up = search(items, 15, 30, folder);   // under a folder of the scratch disk
  FileExHandle low = search(items, 0, 20, scratch);  // in the scratch disk's root
  for (FileExHandle set : {up, low}) EXPECT_EQ(diskOf(set), scratchSlot);
  EXPECT_EQ(numbers(items, up), (std::vector<uint64_t>{3, 5, 1}));

  const auto f = u32(35), t = u32(45);
  ASSERT_EQ(FileExRecOrSear(items, 1, code, f.data(), t.data(), up), 0);
  const auto f2 = u32(20), t2 = u32(35);
  ASSERT_EQ(FileExRecAndSear(items, 1, code, f2.data(), t2.data(), up), 0);
  EXPECT_EQ(numbers(items, up), (std::vector<uint64_t>{3, 5, 1}));
  ASSERT_EQ(FileExRecCombine(low, up, 1), 0);
  EXPECT_EQ(numbers(items, low), (std::vector<uint64_t>{3, 5}));
  ASSERT_EQ(FileExRecOrder(items, 1, code, 0, up), 0);
  EXPECT_EQ(numbers(items, up).front(), 1u) << "the code 30 first, descending";
  EXPECT_EQ(numbers(items, up).size(), 3u);
  FileExHandle allSales = search(sales, 0, 100, folder);
  FileExHandle joined = FileExRecRefSearByIdx(items, sales, 1, code, code, allSales);
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(diskOf(joined), scratchSlot);
  std::vector<uint64_t> got = numbers(items, joined);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<uint64_t>{3, 4, 5}));
  uint64_t position = 0;
  FileExHandle record = FileExFetchNext(items, up, &position);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(codeOf(record), 30u);
  EXPECT_EQ(FileExRelease(record, nullptr), 0);
  for (FileExHandle set : {up, low, allSales, joined}) EXPECT_EQ(FileExIdxRemove(set), 0);

  EXPECT_EQ(FileExRelease(folder, nullptr), 0);
  EXPECT_EQ(FileExDiskRelease(scratch), 0);
}

// --- cursor tables ------------------------------------------------------------------

TEST_F(TableTest, CursorTablesCopyAStructureAndTheRowsOfASearch) {
  FileExHandle items = makeItems();
  for (uint32_t c : {4u, 8u, 6u}) insert(items, ~0ull, c, "c");
  const uint16_t code[] = {1};
  const auto f = u32(5), t = u32(9);
  FileExHandle set = FileExRecSear(items, 1, code, f.data(), t.data(), nullptr);
  ASSERT_NE(set, nullptr);
  FileExHandle cursor = CsrCopyCreate(disk_, nullptr, 0, disk_, nullptr, 0, set);
  ASSERT_NE(cursor, nullptr);
  char path[64] = {};
  ASSERT_EQ(FileExGetPath(cursor, sizeof path, path), 17);
  EXPECT_EQ(std::strlen(path), 17u) << "\\ and sixteen hex digits";
  EXPECT_EQ(countOf(cursor), 2u);
  int32_t kind = -1;
  uint64_t number = 0;
  const auto k = u32(8);
  EXPECT_EQ(FileExRecEqu(cursor, 1, code, k.data(), &kind, &number), nullptr);
  EXPECT_EQ(kind, 1) << "the copied index was built";
  EXPECT_EQ(CsrDelete(cursor), 0);
  EXPECT_EQ(FileExIsExist(disk_, path, -1, nullptr), 0);

  // A column-link record of 30 bytes with one link is refused.
  uint8_t column[270], link[16] = {16};
  ASSERT_EQ(CsrSetCol(column, "A", nullptr, 4, 2, 0, 0, 0), 0);
  uint8_t columnLink[30] = {30, 0, 0, 0, 0, 0, 1, 0};
  container_test::Reports reports;
  EXPECT_EQ(CsrCreate(disk_, "\\C", -1, disk_, 1, column, link, columnLink, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  // A count of 0 and no links gives the 2-byte record of no link.
  uint8_t* links = reinterpret_cast<uint8_t*>(0x1);
  EXPECT_EQ(CsrSetColLink(0, &links, 0, 0, 0, nullptr), 1);
  ASSERT_NE(links, nullptr);
  EXPECT_EQ(links[0], 2);
  FileExHandle plain = CsrCreate(disk_, "\\C", -1, disk_, 1, column, link, links, nullptr, nullptr, 0, 0);
  EXPECT_NE(plain, nullptr);
  std::free(links);
  if (plain) {
    EXPECT_EQ(CsrDelete(plain), 0);
  }
  EXPECT_EQ(FileExIdxRemove(set), 0);
}

TEST_F(TableTest, TableLinksAreFoundByColumnAndIndexNames) {
  FileExHandle items = makeItems();
  uint8_t link[16] = {}, column[270] = {};
  ASSERT_EQ(CsrSetTblLinkByName(link, disk_, "\\Items", "name", sizeof column, column, "bycode"), 0);
  EXPECT_EQ(link[0], 16);
  EXPECT_EQ(link[4], 2) << "the field number";
  EXPECT_EQ(link[6], 1) << "the index number";
  uint64_t id = 0;
  std::memcpy(&id, link + 8, 8);
  EXPECT_EQ(id, idOf(items));
  EXPECT_STREQ(reinterpret_cast<char*>(column + 2), "Name");
  container_test::Reports reports;
  EXPECT_EQ(CsrSetTblLinkByName(link, disk_, "\\Items", "Price", 0, nullptr, nullptr), -1);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
}

// A sales table linked to the items by code: opening a sale finds the item
// through the items' code index, and a column action reads the item's price.
TEST_F(TableTest, ActionsReadFieldsOfTheLinkedRecordFoundByKey) {
  FileExHandle items = makeItems();
  ASSERT_EQ(FileExInsColumn(items, 3, "Price", 4, 2, 0, 0, 0, -1), 0);
  ASSERT_EQ(FileExFldWrite(items, nullptr, 0), 0);
  for (auto [code, price] : {std::pair{7u, 300u}, std::pair{8u, 450u}}) {
    FileExHandle record = FileExRecInsert(items, ~0u, ~0u, nullptr, 0, nullptr);
    ASSERT_NE(record, nullptr);
    setCode(record, code);
    uint32_t key = FILEEX_FIELD_KEY(kFields, 3);
    const auto bytes = u32(price);
    ASSERT_EQ(FileExSetFld(record, &key, bytes.data(), 4, 2), 0);
    ASSERT_EQ(FileExFldWrite(record, items, 0), 0);
    ASSERT_EQ(FileExRelease(record, nullptr), 0);
  }
  const uint64_t itemsId = idOf(items);

  FileExHandle sales = FileExCreate(disk_, "\\Sales", -1, nullptr, FILEEX_KIND_TABLE, 0, 0, "clerk");
  ASSERT_NE(sales, nullptr);
  open_.push_back(sales);
  ASSERT_EQ(FileExInsColumn(sales, 1, "Code", 4, 2, 0, 0, 0, -1), 0);
  ASSERT_EQ(FileExInsColumn(sales, 2, "Qty", 4, 2, 0, 0, 0, -1), 0);
  ASSERT_EQ(FileExInsColumn(sales, 3, "Amount", 4, 2, 0, 0, 0, -1), 0);
  // Column 3 links to the items' price through their code index (number 1),
  // keyed by this table's column 1.
  uint8_t link[16] = {};
  link[2] = 1;
  link[4] = 3;
  link[6] = 1;
  std::memcpy(link + 8, &itemsId, 8);
  uint32_t key = FILEEX_FIELD_KEY(4, 3);
  ASSERT_EQ(FileExSetFld(sales, &key, link, 16, 0x91F), 0);
  // Amount = the item's price + the quantity.
  auto actions = [&](uint64_t table) {
    std::vector<uint8_t> list(8 + 2 * 16, 0);
    list[0] = uint8_t(list.size());
    list[4] = 1;
    list[6] = 2;
    uint8_t* first = list.data() + 8;
    first[0] = 0x04;
    first[1] = 0x80;
    first[3] = 1;
    first[6] = 3;
    std::memcpy(first + 8, &table, 8);
    uint8_t* second = list.data() + 24;
    second[0] = 0x04;
    second[1] = 0xC0;  // a field of the record itself, stored into the column
    second[3] = 3;
    second[6] = 2;
    return list;
  };
  auto list = actions(itemsId);
  key = FILEEX_FIELD_KEY(5, 3);
  ASSERT_EQ(FileExSetFld(sales, &key, list.data(), int32_t(list.size()), 0xA1F), 0);
  const auto byCode = indexDef("ByCode", {1});
  key = FILEEX_FIELD_KEY(3, 1);
  ASSERT_EQ(FileExSetFld(sales, &key, byCode.data(), int32_t(byCode.size()), 0x61F), 0);
  ASSERT_EQ(FileExFldWrite(sales, nullptr, 0), 0);

  auto sell = [&](uint32_t code, uint32_t qty) {
    FileExHandle record = FileExRecInsert(sales, ~0u, ~0u, nullptr, 0, nullptr);
    ASSERT_NE(record, nullptr);
    setCode(record, code);
    uint32_t k = FILEEX_FIELD_KEY(kFields, 2);
    const auto bytes = u32(qty);
    ASSERT_EQ(FileExSetFld(record, &k, bytes.data(), 4, 2), 0);
    ASSERT_EQ(FileExFldWrite(record, sales, 0), 0);
    ASSERT_EQ(FileExRelease(record, nullptr), 0);
  };
  sell(7, 2);
  sell(8, 1);
  sell(8, 5);
  sell(99, 4);  // no such item: the link finds nothing and the price reads as 0
  auto amountOf = [&](uint64_t number) -> int64_t {
    FileExHandle record = FileExRecOpen(sales, uint32_t(number), 0, 0, nullptr);
    if (!record) return -1;
    uint8_t amount[4] = {};
    EXPECT_EQ(FileExGetFld(record, FILEEX_FIELD_KEY(kFields, 3), amount, 4, nullptr), 4);
    EXPECT_EQ(FileExRelease(record, nullptr), 0);
    return amount[0] | amount[1] << 8 | amount[2] << 16 | int64_t(amount[3]) << 24;
  };
  EXPECT_EQ(amountOf(1), 302);
  EXPECT_EQ(amountOf(2), 451);
  EXPECT_EQ(amountOf(3), 455);
  EXPECT_EQ(amountOf(4), 4);
  EXPECT_EQ(amountOf(1), 302) << "after the slot moved on to other items";

  // A cursor over the sales takes the sale's code, the item's price through
  // the link and the calculated amount.
  {
    const uint16_t code[] = {1};
    const auto from = u32(0), to = u32(1000);
    FileExHandle set = FileExRecSear(sales, 1, code, from.data(), to.data(), nullptr);
    ASSERT_NE(set, nullptr);
    uint8_t columns[3 * 270] = {}, links[3 * 16] = {};
    ASSERT_EQ(CsrSetCol(columns, "Code", nullptr, 4, 2, 0, 0, 0), 0);
    ASSERT_EQ(CsrSetCol(columns + 270, "Price", nullptr, 4, 2, 0, 0, 0), 0);
    ASSERT_EQ(CsrSetCol(columns + 540, "Amount", nullptr, 4, 2, 0, 0, 0), 0);
    const uint64_t salesId = idOf(sales);
    ASSERT_EQ(CsrSetTblLink(links, 0, 1, 0, uint32_t(salesId), uint32_t(salesId >> 32)), 0);
    ASSERT_EQ(CsrSetTblLink(links + 16, 0, 3, 1, uint32_t(itemsId), uint32_t(itemsId >> 32)), 0);
    ASSERT_EQ(CsrSetTblLink(links + 32, 0, 3, 0, 0, 0), 0);
    FileExHandle cursor = CsrCreate(disk_, "\\SaleRows", -1, disk_, 3, columns, links, nullptr, nullptr, set, 1, 1);
    ASSERT_NE(cursor, nullptr);
    struct Row {
      int64_t code, price, amount;
    };
    const Row expected[] = {{7, 300, 302}, {8, 450, 451}, {8, 450, 455}, {99, -1, 4}};
    ASSERT_EQ(countOf(cursor), 4u);
    for (uint32_t n = 1; n <= 4; ++n) {
      FileExHandle row = FileExRecOpen(cursor, n, 0, 0, nullptr);
      ASSERT_NE(row, nullptr);
      int64_t got[3] = {};
      for (uint16_t c = 1; c <= 3; ++c) {
        uint8_t bytes[4] = {};
        const int32_t length = FileExGetFld(row, FILEEX_FIELD_KEY(kFields, c), bytes, 4, nullptr);
        got[c - 1] = length == 4 ? int64_t(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24) : -1;
      }
      EXPECT_EQ(got[0], expected[n - 1].code) << n;
      EXPECT_EQ(got[1], expected[n - 1].price) << n;
      EXPECT_EQ(got[2], expected[n - 1].amount) << n;
      EXPECT_EQ(FileExRelease(row, nullptr), 0);
    }
    EXPECT_EQ(CsrDelete(cursor), 0);
    EXPECT_EQ(FileExIdxRemove(set), 0);
  }

  // An action naming a table the sales table has no link to fails the open.
  list = actions(itemsId + 1000);
  key = FILEEX_FIELD_KEY(5, 3);
  ASSERT_EQ(FileExSetFld(sales, &key, list.data(), int32_t(list.size()), 0xA1F), 0);
  ASSERT_EQ(FileExFldWrite(sales, nullptr, 0), 0);
  container_test::Reports reports;
  EXPECT_EQ(FileExRecOpen(sales, 1, 0, 0, nullptr), nullptr);
  EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
}

// A linked table shows the records of its base table (the link without an
// index) and adds columns from other tables found by key.
TEST_F(TableTest, ALinkedTableShowsItsBaseRecordsWithColumnsOfOtherTables) {
  FileExHandle items = makeItems();
  insert(items, ~0ull, 7, "tea");
  insert(items, ~0ull, 8, "rice");
  FileExHandle sales = makeItems("\\Sales", false);  // code and quantity-as-name
  insert(sales, ~0ull, 8, "s1");
  insert(sales, ~0ull, 7, "s2");
  insert(sales, ~0ull, 9, "s3");

  FileExHandle view = FileExCreate(disk_, "\\SaleView", -1, nullptr, FILEEX_KIND_TABLE, 0, 0, "clerk");
  ASSERT_NE(view, nullptr);
  open_.push_back(view);
  ASSERT_EQ(FileExInsColumn(view, 1, "Code", 4, 2, 0, 0, 0, -1), 0);
  ASSERT_EQ(FileExInsColumn(view, 2, "Item", 8, 0, 0, 0, 0, -1), 0);
  auto setLink = [&](uint16_t column, uint16_t keyColumn, uint16_t linkedColumn, uint16_t index, uint64_t table) {
    uint8_t link[16] = {};
    link[2] = uint8_t(keyColumn);
    link[4] = uint8_t(linkedColumn);
    link[6] = uint8_t(index);
    std::memcpy(link + 8, &table, 8);
    uint32_t key = FILEEX_FIELD_KEY(4, column);
    ASSERT_EQ(FileExSetFld(view, &key, link, 16, 0x91F), 0);
  };
  setLink(1, 0, 1, 0, idOf(sales));  // the sale's code
  setLink(2, 1, 2, 1, idOf(items));  // the item's name, by the sale's code
  ASSERT_EQ(FileExFldWrite(view, nullptr, 0), 0);
  EXPECT_TRUE(static_cast<Entry*>(view)->typeFlags() & zemta::container::kTypeLinked);
  // The view opens the other tables itself when no handle has them.
  const uint64_t salesId = idOf(sales);
  for (FileExHandle h : {items, sales}) {
    EXPECT_EQ(FileExRelease(h, nullptr), 0);
    open_.erase(std::find(open_.begin(), open_.end(), h));
  }

  EXPECT_EQ(countOf(view), 3u);
  struct Row {
    uint64_t number;
    uint32_t code;
    const char* item;
  };
  for (const Row& row : {Row{1, 8, "rice"}, Row{2, 7, "tea"}, Row{3, 9, ""}, Row{1, 8, "rice"}}) {
    FileExHandle record = FileExRecOpen(view, uint32_t(row.number), 0, 0, nullptr);
    ASSERT_NE(record, nullptr) << row.number;
    EXPECT_EQ(codeOf(record), row.code) << row.number;
    char name[9] = {};
    const int32_t length = FileExGetFld(record, FILEEX_FIELD_KEY(kFields, 2), name, 8, nullptr);
    EXPECT_EQ(length, *row.item ? 8 : 0) << row.number;
    EXPECT_STREQ(name, row.item) << row.number;
    if (row.number == 2) {
      char csv[32] = {};
      const uint16_t both[] = {1, 2};
      EXPECT_GT(FileExGetFldCsv(record, kFields, 2, both, csv, sizeof csv), 0);
      EXPECT_STREQ(csv, "7,tea");
    }
    EXPECT_EQ(FileExRelease(record, nullptr), 0);
  }
  {
    container_test::Reports reports;
    EXPECT_EQ(FileExRecOpen(view, 4, 0, 0, nullptr), nullptr);
    EXPECT_TRUE(reports.last(ZEMTA_ERR_BAD_PARAMETER));
  }
  // Records inserted and deleted through the view are the base table's.
  FileExHandle added = FileExRecInsert(view, 1, 0, nullptr, 0, nullptr);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(FileExRelease(added, nullptr), 0);
  EXPECT_EQ(countOf(view), 4u);
  EXPECT_EQ(FileExRecDelete(view, 1, 0), 0);
  sales = FileExCreateByID(disk_, uint32_t(salesId), uint32_t(salesId >> 32), "clerk", nullptr);
  ASSERT_NE(sales, nullptr);
  open_.push_back(sales);
  EXPECT_EQ(countOf(sales), 3u);
  FileExHandle record = FileExRecOpen(sales, 1, 0, 0, nullptr);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(codeOf(record), 8u) << "the base table's own record reads its own fields";
  EXPECT_EQ(FileExRelease(record, nullptr), 0);
}

// --- a randomized run against a model ----------------------------------------------

// Every record's index keys agree with its fields, and every tree is sound.
// A record takes its keys with its first field write: up to unwritten
// records that were inserted and never written (a writer killed between the
// two calls) stand without fields and without keys.
void checkTable(FileExHandle handle, uint64_t unwritten = 0) {
  auto* table = static_cast<Entry*>(handle);
  for (int32_t tree : {table->storeNumberTree, table->storeIdTree}) EXPECT_EQ(zemta::BtreeExValidate(tree), "");
  const auto defs = zemta::container::itemsOf(table->attributes, 3);
  ASSERT_EQ(defs.size(), table->indexes.size());
  const uint64_t count = zemta::container::get_u64le(table->record + zemta::container::kFieldRecordCount);
  for (size_t i = 0; i < defs.size(); ++i) {
    Entry* index = table->indexes[i];
    EXPECT_EQ(zemta::BtreeExValidate(index->firstTree), "");
    EXPECT_EQ(zemta::BtreeExValidate(index->secondTree), "");
    uint64_t entries = 0, id = 0, keyless = 0;
    BtreeExSetCurPos(index->firstTree, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    while (BtreeExNext(index->firstTree, &id, nullptr) == 1) ++entries;
    for (uint64_t n = 1; n <= count; ++n) {
      FileExHandle record = FileExRecOpen(handle, uint32_t(n), 0, 0, nullptr);
      ASSERT_NE(record, nullptr);
      auto* r = static_cast<Entry*>(record);
      const auto key = zemta::container::buildKey(table->attributes, defs[i].bytes, defs[i].length, r->attributes);
      std::vector<uint8_t> stored(key.size());
      const bool keyed = zemta::container::treeKeyOfId(index->secondTree, r->id(), stored.data(), stored.size());
      if (!keyed && unwritten > 0 && zemta::container::itemsOf(r->attributes, kFields).empty()) {
        ++keyless;
      } else {
        EXPECT_TRUE(keyed) << "record " << n;
        EXPECT_EQ(stored, key);
      }
      FileExRelease(record, nullptr);
    }
    EXPECT_LE(keyless, unwritten);
    EXPECT_EQ(entries + keyless, count) << "one key per written record";
  }
}

TEST_F(TableTest, RandomizedRunAgreesWithAModel) {
  ASSERT_EQ(FileExStartLog(disk_, 0), 0);
  FileExHandle table = makeItems();
  // Open for the whole run without waiting for each write to reach the
  // platter: the run checks the logic, the writer tests check the syncing.
  ASSERT_EQ(FileExDiskOpen(disk_, 3 | 0x100000), 0);
  std::mt19937 random(2035);
  std::vector<uint32_t> model;  // codes by record number - 1
  const uint16_t code[] = {1};
  for (int batch = 0; batch < 8; ++batch) {
    for (int step = 0; step < 20; ++step) {
      const int what = int(random() % 10);
      if (what < 5 || model.empty()) {
        const uint64_t at = random() % (model.size() + 3) + 1;
        const uint32_t value = random() % 50;
        insert(table, at, value, std::to_string(value));
        model.insert(model.begin() + long(std::min<uint64_t>(at, model.size() + 1) - 1), value);
      } else if (what < 7) {
        const uint64_t at = random() % model.size() + 1;
        ASSERT_EQ(FileExRecDelete(table, uint32_t(at), 0), 0);
        model.erase(model.begin() + long(at - 1));
      } else if (what < 9) {
        const uint64_t at = random() % model.size() + 1;
        const uint32_t value = random() % 50;
        FileExHandle record = FileExRecOpen(table, uint32_t(at), 0, 0, nullptr);
        ASSERT_NE(record, nullptr);
        setCode(record, value);
        ASSERT_EQ(FileExFldWrite(record, table, 0), 0);
        FileExRelease(record, nullptr);
        model[at - 1] = value;
      } else {
        const uint32_t from = random() % 50, to = random() % 50;
        const auto f = u32(from), t = u32(to);
        FileExHandle set = FileExRecSear(table, 1, code, f.data(), t.data(), nullptr);
        ASSERT_NE(set, nullptr);
        std::multiset<uint32_t> want, got;
        for (uint32_t v : model)
          if (v >= std::min(from, to) && v <= std::max(from, to)) want.insert(v);
        uint32_t last = from;
        for (uint64_t n : numbers(table, set)) {
          const uint32_t v = model[n - 1];
          EXPECT_TRUE(from <= to ? v >= last : v <= last) << "index order";
          last = v;
          got.insert(v);
        }
        EXPECT_EQ(got, want);
        EXPECT_EQ(FileExIdxRemove(set), 0);
      }
    }
    ASSERT_EQ(countOf(table), model.size());
    for (uint64_t n = 1; n <= model.size(); ++n) {
      FileExHandle record = FileExRecOpen(table, uint32_t(n), 0, 0, nullptr);
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(codeOf(record), model[n - 1]) << n;
      FileExRelease(record, nullptr);
    }
    checkTable(table);
    if (HasFatalFailure()) break;
  }
  EXPECT_EQ(FileExDiskClose(disk_), 0);
  EXPECT_EQ(FileExStopLog(disk_), 0);
}

#ifdef VARNEX_DISK_WRITER
// A writer appending and changing records is killed inside a round, again
// and again: every finished round's record is there with its code, the
// index agrees with every record, and the trees are sound.
TEST(TableKill, AWriterKilledInsideARecordWriteLeavesTheTableWhole) {
  BtreeExNew();
  TempFolder folder;
  const std::string path = folder / "sales.ifs", progress = folder / "progress";
  std::mt19937 random(47);
  for (int kill = 0; kill < 5; ++kill) {
    testing_support::writeFileBytes(progress, "");
    int32_t writer = 0;
    ASSERT_TRUE(platform::startProcess(std::string(VARNEX_DISK_WRITER) + " \"" + path + "\" \"" + progress + "\" T",
                                       platform::ProcessPriority::Normal, "", writer));
    const int target = 2 + static_cast<int>(random() % 6);
    ASSERT_TRUE(testing_support::waitUntil(
        [&] { return std::atoi(testing_support::fileBytes(progress).c_str()) >= target; }));
    ASSERT_TRUE(platform::killProcess(writer));
    FileExDiskHandle disk = nullptr;
    ASSERT_TRUE(testing_support::waitUntil([&] {
      const int32_t messages = ZemtaEnableLastErrorMessage(0);
      disk = FileExDiskCreate(path.c_str(), nullptr, nullptr, 0);
      ZemtaEnableLastErrorMessage(messages);
      return disk != nullptr;
    }));
    const int whole = std::atoi(testing_support::fileBytes(progress).c_str());
    FileExHandle table = disk_writer::openSales(disk);
    ASSERT_NE(table, nullptr);
    uint64_t count = 0;
    ASSERT_EQ(FileExGetRecCount(table, &count), 0);
    EXPECT_GE(count, uint64_t(whole));
    ASSERT_EQ(FileExDiskOpen(disk, 3), 0);
    // Each killed run may leave the record of its last round inserted and
    // not yet written.
    checkTable(table, uint64_t(kill) + 1);
    // Each finished round of this run is found by its code (the first
    // record of the disk carries changed codes).
    const uint16_t code[] = {1};
    for (int round = 2; round <= whole; ++round) {
      int32_t kind = -1;
      uint64_t number = 0;
      const auto key = u32(uint32_t(round));
      FileExRecEqu(table, 1, code, key.data(), &kind, &number);
      EXPECT_GE(kind, 1) << "round " << round << " of run " << kill;
    }
    ASSERT_EQ(FileExDiskClose(disk), 0);
    ASSERT_EQ(FileExRelease(table, nullptr), 0);
    // The disk takes more work.
    ASSERT_TRUE(disk_writer::runTableRound(disk, 1));
    ASSERT_EQ(FileExDiskRelease(disk), 0);
    if (HasFailure()) break;
  }
  BtreeExDelete();
}
#endif

}  // namespace
