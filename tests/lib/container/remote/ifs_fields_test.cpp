// The Ifs field arrays, field text, record names, filters and orderings, on
// a local disk and through the remote service.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/container/container_test_support.h"
#include "peers/file_service_peer.h"
#include "support/temp_folder.h"
#include "zemta/btreeex.h"
#include "zemta/ifs.h"
#include "zemta/sockifs.h"

namespace {

using testing_support::FileServicePeer;
using testing_support::TempFolder;

constexpr uint32_t kAll = ~0u;

IfsFieldValue value(uint16_t field, uint16_t type, const void* data, uint16_t length) {
  return {field, type, length, 0, const_cast<void*>(data)};
}

class IfsFields : public ::testing::Test {
 protected:
  void SetUp() override {
    BtreeExNew();
    disk_ = FileExDiskCreate(folder_.file("shop.ifs").c_str(), "shop", nullptr, 0);
    alternate_ = FileExDiskCreate(folder_.file("work.ifs").c_str(), "work", nullptr, 0);
    ASSERT_NE(disk_, nullptr);
    ASSERT_NE(alternate_, nullptr);
    IfsChgDisk(disk_, alternate_);
    table_ = IfsCreate("\\Items", -1, nullptr, FILEEX_KIND_TABLE, 0, 0);
    ASSERT_NE(table_, nullptr);
    // Price (unsigned, 4 bytes) and name (text, 8 bytes); no index on either.
    ASSERT_EQ(FileExInsColumn(table_, 1, "Price", 4, 2, 0, 0, 0, -1), 0);
    ASSERT_EQ(FileExInsColumn(table_, 2, "Name", 8, 0, 0, 0, 0, -1), 0);
  }
  void TearDown() override {
    if (table_) IfsRelease(table_);
    IfsChgDisk(nullptr, nullptr);
    FileExDiskRelease(disk_);
    FileExDiskRelease(alternate_);
    BtreeExDelete();
  }
  // Appends a record through IfsSetCID (a number above the count inserts).
  void add(uint32_t price, const char* name) {
    char text[8] = {};
    std::memcpy(text, name, std::min<size_t>(std::strlen(name), 8));
    const IfsFieldValue values[2] = {value(1, 2, &price, 4), value(2, 0, text, 8)};
    ASSERT_EQ(IfsSetCID(table_, 10, 2, values, uint32_t(IfsRecTotal(table_) + 1), 0), 0);
  }
  std::vector<uint32_t> prices(const IfsRecList& list) {
    std::vector<uint32_t> out;
    for (int32_t i = 0; i < list.count; ++i) {
      IfsFieldValue* items = nullptr;
      EXPECT_EQ(IfsGetCID(table_, 10, &items, 1, uint32_t(list.ids[i]), 0), 2);
      uint32_t price = 0;
      if (items) std::memcpy(&price, items[0].value, 4);
      std::free(items);
      out.push_back(price);
    }
    return out;
  }
  bool anyIndex() {
    const uint16_t one = 1, two = 2;
    return FileExIsIndex(table_, 1, &one) != 0 || FileExIsIndex(table_, 1, &two) != 0;
  }

  TempFolder folder_;
  FileExDiskHandle disk_ = nullptr;
  FileExDiskHandle alternate_ = nullptr;
  FileExHandle table_ = nullptr;
};

TEST_F(IfsFields, ValuesWrittenAndReadAsArraysAndText) {
  add(120, "apple");
  add(80, "pear,x");
  EXPECT_EQ(IfsRecTotal(table_), 2u);

  IfsFieldValue* items = nullptr;
  ASSERT_EQ(IfsGetCID(table_, 10, &items, 1, 2, 0), 2);
  EXPECT_EQ(items[0].field, 1);
  EXPECT_EQ(items[0].type, 2);
  EXPECT_EQ(items[0].length, 4);
  EXPECT_EQ(*static_cast<uint32_t*>(items[0].value), 80u);
  EXPECT_EQ(items[1].field, 2);
  EXPECT_EQ(std::string(static_cast<char*>(items[1].value)), "pear,x");
  std::free(items);

  // Mode 2 adds the entry's descriptor.
  ASSERT_EQ(IfsGetCID(table_, 10, &items, 2, 1, 0), 3);
  EXPECT_EQ(items[2].type, 0x71F);
  EXPECT_EQ(items[2].length, 360);
  std::free(items);

  // Mode 0: one field key; with no out pointer only whether it exists.
  EXPECT_EQ(IfsGetCID(table_, FILEEX_FIELD_KEY(2, 1), nullptr, 0, kAll, kAll), 1);
  EXPECT_EQ(IfsGetCID(table_, FILEEX_FIELD_KEY(2, 9), nullptr, 0, kAll, kAll), 0);
  // A class beyond 16 bits is refused in the class modes.
  container_test::Reports reports;
  EXPECT_EQ(IfsGetCID(table_, 0x10000, &items, 1, 1, 0), -1);
  EXPECT_TRUE(reports.last(0x20000085));

  char line[64];
  EXPECT_EQ(IfsGetFldCsv(table_, 10, nullptr, 0, 1, 0), 10);
  EXPECT_EQ(IfsGetFldCsv(table_, 10, line, sizeof line, 1, 0), 10);
  EXPECT_EQ(std::string(line), "120,apple");
  EXPECT_EQ(IfsGetFldCsv(table_, 10, line, 5, 1, 0), 5);
  EXPECT_EQ(std::string(line), "120,");
  // A record with no values: an empty line.
  EXPECT_EQ(IfsGetFldCsv(table_, 7, line, sizeof line, 1, 0), 1);
  EXPECT_EQ(std::string(line), "");
  reports.clear();
  EXPECT_EQ(IfsGetFldCsv(table_, 10, line, 0, 1, 0), -1);
  EXPECT_TRUE(reports.last(0x20000085));

  // Rewriting record 1 in place, and a failing write of a new record
  // leaves no half-made record behind.
  const uint32_t price = 99;
  const IfsFieldValue one = value(1, 2, &price, 4);
  ASSERT_EQ(IfsSetCID(table_, 10, 1, &one, 1, 0), 0);
  EXPECT_EQ(IfsGetFldCsv(table_, 10, line, sizeof line, 1, 0), 9);
  EXPECT_EQ(std::string(line), "99,apple");
  EXPECT_EQ(IfsSetCID(table_, 0xFFFF, 1, &one, 3, 0), -1);
  EXPECT_EQ(IfsRecTotal(table_), 2u);
}

TEST_F(IfsFields, ABinaryRecordNameRemovesThatRecord) {
  add(1, "a");
  add(2, "b");
  uint64_t id = 0;
  ASSERT_EQ(FileExGetTblRecID(table_, 2, 0, &id), 0);
  std::string path = "\\Items\\";
  std::string name(14, '\0');
  std::memcpy(&name[2], &id, 8);
  path += name;
  ASSERT_EQ(IfsRemove(path.data(), int32_t(path.size())), 0);
  EXPECT_EQ(IfsRecTotal(table_), 1u);
  char line[16];
  IfsGetFldCsv(table_, 10, line, sizeof line, 1, 0);
  EXPECT_EQ(std::string(line), "1,a");

  // The folder part must exist.
  container_test::Reports reports;
  const std::string missing = "\\Nothing\\" + name;
  EXPECT_EQ(IfsRemove(missing.data(), int32_t(missing.size())), -1);
  EXPECT_TRUE(reports.last(0x20000082));
}

TEST_F(IfsFields, NamesOfTheAlternateDiskCarryTheMark) {
  FileExHandle made = IfsCreate("/:\\Scratch", -1, nullptr, FILEEX_KIND_DIRECTORY | FILEEX_CREATE_OPEN, 0, 0);
  ASSERT_NE(made, nullptr);
  uint64_t id = 0;
  ASSERT_EQ(FileExGetID(made, &id), 0);
  char name[64] = {};
  EXPECT_EQ(IfsGetName(1, uint32_t(id), uint32_t(id >> 32), 0, name, sizeof name, nullptr), 10);
  EXPECT_EQ(std::string(name), "/:\\Scratch");
  // A descriptor or another selector goes to the alternate disk as asked.
  EXPECT_EQ(IfsGetName(1, uint32_t(id), uint32_t(id >> 32), 0, nullptr, 0, nullptr), 8);
  EXPECT_EQ(IfsRelease(made), 0);
}

TEST_F(IfsFields, FiltersNarrowAndOrdersSortWithoutLeavingIndexes) {
  for (uint32_t p : {150u, 50u, 100u, 101u}) add(p, p == 50 ? "abx" : p == 100 ? "abcd" : p == 101 ? "abc" : "zzz");
  struct Case {
    const char* filter;
    int32_t field;
    std::vector<uint32_t> found;  // prices in record order
  } cases[] = {
      {">=100", 1, {150, 100, 101}}, {">100", 1, {150, 101}}, {"<100", 1, {50}},     {"<=100", 1, {50, 100}},
      {"=101", 1, {101}},            {"101", 1, {101}},        {"abc", 2, {100, 101}}, {"<null>", 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    IfsRecList list{};
    const int32_t result = IfsRecFilter(table_, c.field, c.filter, &list, 1);
    if (c.found.empty()) {
      EXPECT_LE(result, 0);
    } else {
      EXPECT_EQ(result, 1);
      std::vector<uint32_t> got = prices(list);
      std::sort(got.begin(), got.end());
      std::vector<uint32_t> want = c.found;
      std::sort(want.begin(), want.end());
      EXPECT_EQ(got, want);
    }
    IfsIdxRemove(&list);
    EXPECT_FALSE(anyIndex());
  }

  // A second filter narrows the first; the ordering sorts what is left.
  IfsRecList list{};
  ASSERT_EQ(IfsRecFilter(table_, 1, ">=100", &list, 1), 1);
  ASSERT_EQ(IfsRecFilter(table_, 2, "ab", &list, 1), 1);
  EXPECT_EQ(list.count, 2);
  ASSERT_EQ(IfsRecOrder(table_, 1, nullptr, 0, &list), 0);
  EXPECT_EQ(prices(list), (std::vector<uint32_t>{101, 100}));
  ASSERT_EQ(IfsRecOrder(table_, 1, nullptr, 1, &list), 0);
  EXPECT_EQ(prices(list), (std::vector<uint32_t>{100, 101}));
  EXPECT_FALSE(anyIndex());

  // A copy of the searched table with the list's records, on the alternate
  // disk. A path is only for a search that does not know its table.
  container_test::Reports reports;
  EXPECT_EQ(IfsCopyCreate("\\Items", -1, list.search), nullptr);
  EXPECT_TRUE(reports.last(0x20000085));
  FileExHandle copy = IfsCopyCreate(nullptr, 0, list.search);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(IfsRecTotal(copy), 2u);
  EXPECT_EQ(FileExRelease(copy, nullptr), 0);
  IfsIdxRemove(&list);

  // A search that fails on a field without an index leaves none behind.
  const uint8_t key[4] = {};
  EXPECT_EQ(IfsIdxSear(table_, 1, nullptr, 4, key, nullptr, &list, IFS_SEARCH_NO_TO_KEY, nullptr, 1), -1);
  EXPECT_FALSE(anyIndex());
  // A like filter is only for text fields.
  reports.clear();
  EXPECT_EQ(IfsRecFilter(table_, 1, "LIKE 1", &list, 1), -1);
  EXPECT_TRUE(reports.last(0x20000085));
  EXPECT_EQ(IfsRecFilter(table_, 0, "1", &list, 1), -1);
  EXPECT_EQ(IfsRecFilter(table_, 1, nullptr, &list, 1), -1);
  EXPECT_TRUE(reports.last(0x200000FF));
}

TEST(IfsFieldsRemote, ArraysAndFiltersGoToTheService) {
  FileServicePeer peer;
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
  IfsChgDisk(nullptr, nullptr);
  constexpr uint32_t kTable = 0x51;
  FileExHandle table = reinterpret_cast<FileExHandle>(uintptr_t{kTable});
  const std::string price = FileServicePeer::u32(120);
  peer.queue(FileServicePeer::frame(0x42, 0, kTable,
                                    FileServicePeer::u16(2) + FileServicePeer::u16(1) + FileServicePeer::u16(2) +
                                        FileServicePeer::u16(4) + price + FileServicePeer::u16(2) +
                                        FileServicePeer::u16(0) + FileServicePeer::u16(5) + "apple"));
  char line[32];
  EXPECT_EQ(IfsGetFldCsv(table, 10, line, sizeof line, 3, 0), 10);
  EXPECT_EQ(std::string(line), "120,apple");

  // A filter reads the field's definition, then searches on the server.
  std::string definition(270, '\0');
  definition[258] = 4;  // width
  definition[260] = 2;  // unsigned
  peer.queue(FileServicePeer::frame(0x42, 0, kTable,
                                    FileServicePeer::u16(1) + FileServicePeer::u16(0x51F) +
                                        FileServicePeer::u16(270) + definition));
  peer.queue(FileServicePeer::frame(0x42, 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u32(0) +
                                                         FileServicePeer::u32(0)));
  IfsRecList list{};
  EXPECT_GE(IfsRecFilter(table, 1, ">=100", &list, 0), 0);
  const auto sent = peer.requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0][8], 'q');
  EXPECT_EQ(sent[1], FileServicePeer::frame('q', 0, kTable, FileServicePeer::u32(FILEEX_FIELD_KEY(2, 1)) +
                                                                FileServicePeer::u32(kAll) + FileServicePeer::u32(kAll)));
  EXPECT_EQ(sent[2][8], 's');
  SockDisconnect();
}

TEST(IfsFieldsRemote, OrderingsRefillTheListAndWritesCarryTheValues) {
  FileServicePeer peer;
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
  IfsChgDisk(nullptr, nullptr);
  constexpr uint32_t kTable = 0x51;
  FileExHandle table = reinterpret_cast<FileExHandle>(uintptr_t{kTable});
  // The server orders list 9 and gives its three entries, last first.
  peer.queue(FileServicePeer::frame(0x42, 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u32(3) +
                                                         FileServicePeer::u32(0)));
  std::string page;
  for (uint32_t id : {7u, 5u, 2u}) page += FileServicePeer::u32(id) + FileServicePeer::u32(0);
  peer.queue(FileServicePeer::frame(0x42, 0, kTable, page));
  IfsRecList list{};
  list.search = reinterpret_cast<FileExHandle>(uintptr_t{9});
  list.ids = static_cast<uint64_t*>(std::calloc(1, sizeof(uint64_t)));
  list.capacity = 1;
  ASSERT_GE(IfsRecOrder(table, 4, nullptr, 0, &list), 0);
  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(list.ids[0], 7u);
  EXPECT_EQ(list.ids[2], 2u);
  auto sent = peer.requests();
  ASSERT_GE(sent.size(), 1u);
  EXPECT_EQ(sent[0], FileServicePeer::frame('o', 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u16(1) +
                                                                FileServicePeer::u16(0) + FileServicePeer::u16(4)));
  std::free(list.ids);

  peer.queue(FileServicePeer::frame(0x06, 0, kTable));
  const uint32_t price = 120;
  const IfsFieldValue one = value(1, 2, &price, 4);
  EXPECT_EQ(IfsSetCID(table, 10, 1, &one, 3, 0), 0);
  sent = peer.requests();
  EXPECT_EQ(sent.back(), FileServicePeer::frame('u', 1, kTable,
                                                FileServicePeer::u32(10) + FileServicePeer::u32(3) +
                                                    FileServicePeer::u32(0) + FileServicePeer::u16(1) +
                                                    FileServicePeer::u16(1) + FileServicePeer::u16(2) +
                                                    FileServicePeer::u16(4) + FileServicePeer::u32(120)));
  SockDisconnect();
}

}  // namespace
