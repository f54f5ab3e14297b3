// Tables kept as record stores by the remote file service: the value forms
// of record fields, and every table operation against a scripted server
// whose stores are tables of a real container disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "lib/container/container_test_support.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/store/tables/remote_table.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "peers/file_service_peer.h"
#include "peers/record_store_backend.h"
#include "platform/base/clock.h"
#include "support/temp_folder.h"
#include "zemta/fileaccess.h"
#include "zemta/filedb.h"
#include "zemta/fileproj.h"
#include "zemta/fileidx.h"
#include "zemta/fileproj_upkeep.h"
#include "zemta/filesearch.h"
#include "zemta/ifs.h"
#include "zemta/sockifs.h"
#include "zemta/tempidx.h"

namespace {

using namespace zemta::filedb;
using testing_support::FileServicePeer;
using testing_support::RecordStoreBackend;
using testing_support::TempFolder;

using Bytes = std::vector<uint8_t>;

uint16_t dateWord(int year, int month, int day) {
  return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
}
uint16_t timeWord(int hour, int minute, int seconds) {
  return static_cast<uint16_t>(hour << 11 | minute << 5 | seconds);
}

RemoteColumn column(uint16_t type, uint16_t itemType, uint16_t offset, uint16_t size, uint16_t fieldWord = 0) {
  RemoteColumn c;
  c.id = 1;
  c.type = type;
  c.itemType = itemType;
  c.offset = offset;
  c.size = size;
  c.bitPosition = static_cast<uint8_t>(fieldWord);
  c.bitCount = static_cast<uint8_t>(fieldWord >> 8);
  return c;
}

Bytes le(uint64_t value, size_t bytes) {
  Bytes out;
  for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return out;
}

TEST(RemoteValueForms, FieldsTurnIntoServiceValuesAndBack) {
  const int64_t newYear2001 = platform::unixSecondsOf({2001, 1, 1, 0, 0, 0, 0, 0});
  const int64_t lastDay1979 = platform::unixSecondsOf({1979, 12, 31, 0, 13, 45, 7, 0});
  const int64_t sale = platform::unixSecondsOf({2026, 12, 11, 0, 10, 35, 20, 0});
  struct Case {
    const char* what;
    RemoteColumn column;
    Bytes field;  // the record bytes of the field
    Bytes value;  // what the service gets
    Bytes back;   // the field read back from that value
  };
  const Case cases[] = {
      {"text cut after its last non-zero byte", column(kColumnText, 0, 0, 6), {'A', 0, 'B', 0, 0, 0},
       {'A', 0, 'B', 0}, {'A', 0, 'B', 0, 0, 0}},
      {"full text", column(kColumnText, 0, 0, 3), {'X', 'Y', 'Z'}, {'X', 'Y', 'Z', 0}, {'X', 'Y', 'Z'}},
      {"bit field of 3 bits at 4", column(2, 2, 0, 2, 0x0304), {0x50, 0xFF}, {0x05}, {0x50, 0x00}},
      {"bit field of 12 bits", column(2, 2, 0, 2, 0x0C00), {0x34, 0x12}, {0x34, 0x02}, {0x34, 0x02}},
      {"time", column(kColumnTime, 15, 0, 2), le(timeWord(13, 45, 7), 2),
       le(13u << 27 | 45u << 21 | 7u << 15 | 1, 4), le(timeWord(13, 45, 7), 2)},
      {"date", column(kColumnDate, 14, 0, 2), le(dateWord(2026, 12, 11), 2), le(2026u << 9 | 12u << 5 | 11, 4),
       le(dateWord(2026, 12, 11), 2)},
      {"date 0 goes as the year 1980", column(kColumnDate, 14, 0, 2), {0, 0}, le(1980u << 9, 4), {0, 0}},
      {"date word as local seconds", column(kColumnDateTime, kItemDateWord, 0, 2), le(dateWord(2001, 1, 1), 2),
       le(static_cast<uint64_t>(newYear2001), 8), le(dateWord(2001, 1, 1), 2)},
      {"time word alone is on the last day of 1979", column(kColumnDateTime, kItemTimeWord, 0, 2),
       le(timeWord(13, 45, 7), 2), le(static_cast<uint64_t>(lastDay1979), 8), le(timeWord(13, 45, 7), 2)},
      {"date and time words", column(kColumnDateTime, kItemDateTimeWords, 0, 4),
       [&] {
         Bytes b = le(dateWord(2026, 12, 11), 2);
         Bytes t = le(timeWord(10, 35, 20), 2);
         b.insert(b.end(), t.begin(), t.end());
         return b;
       }(),
       le(static_cast<uint64_t>(sale), 8),
       [&] {
         Bytes b = le(dateWord(2026, 12, 11), 2);
         Bytes t = le(timeWord(10, 35, 20), 2);
         b.insert(b.end(), t.begin(), t.end());
         return b;
       }()},
      {"an empty date counts as 1 January 1980 and reads back as 0", column(kColumnDateTime, kItemDateWord, 0, 2),
       {0, 0}, le(static_cast<uint64_t>(platform::unixSecondsOf({1980, 1, 1, 0, 0, 0, 0, 0})), 8), {0, 0}},
      {"other types go as they are", column(2, 2, 0, 4), {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(valueOfField(c.column, c.field.data()), c.value);
    Bytes back(c.field.size(), 0xEE);
    if (c.column.bitCount) back.assign(c.field.size(), 0);
    if (c.column.kind() == kColumnText || c.column.bitCount == 0) std::fill(back.begin(), back.end(), 0);
    placeValue(c.column, c.value.data(), c.value.size(), back.data());
    EXPECT_EQ(back, c.back);
  }
}

TEST(RemoteValueForms, ValuesLongerThanTheFieldStopAtItsEnd) {
  // A record of 4 bytes with a 2-byte text field at 1: a long value from the
  // server fills the field and nothing after it.
  Bytes record(4, 0);
  const Bytes value{'L', 'O', 'N', 'G', 'E', 'R', 0};
  placeValue(column(kColumnText, 0, 1, 2), value.data(), value.size(), record.data());
  EXPECT_EQ(record, (Bytes{0, 'L', 'O', 0}));
  // A short date-and-time value is ignored, a short date reads what came.
  record.assign(4, 0x11);
  placeValue(column(kColumnDateTime, kItemDateWord, 0, 2), value.data(), 3, record.data());
  EXPECT_EQ(record, Bytes(4, 0x11));
  placeValue(column(kColumnDate, 14, 0, 2), nullptr, 0, record.data());
  EXPECT_EQ(record, (Bytes{0, 0, 0x11, 0x11}));
}

TEST(RemoteValueForms, PrefixSearchesOfTheKeywordComparesHaveTheirKinds) {
  IndexEntry keyword;
  keyword.compare = compareKeyword;
  IndexEntry alpha;
  alpha.compare = compareAlphaNumeric;
  IndexEntry bytes;
  bytes.compare = compareBytes;
  const uint8_t from[6] = {'A', 'B', 0, 0, 0, 0};
  const uint8_t prefixTo[6] = {'A', 'B', 0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t sameTo[6] = {'A', 'B', 0, 0, 0, 0};
  const uint8_t otherTo[6] = {'A', 'C', 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(searchKind(keyword, from, prefixTo, 6, 0), 48u);
  EXPECT_EQ(searchKind(keyword, from, sameTo, 6, 1), 49u);
  EXPECT_EQ(searchKind(alpha, from, prefixTo, 6, 0), 16u);
  EXPECT_EQ(searchKind(alpha, from, prefixTo, 6, 2), 18u);
  EXPECT_EQ(searchKind(keyword, from, otherTo, 6, 0), 0u);
  EXPECT_EQ(searchKind(bytes, from, prefixTo, 6, 0), 0u);
}

// A record of the test table: code (u32 at 0), name (8 bytes at 4), sale
// date word at 12, sale time word at 14.
constexpr uint32_t kRecordLen = 16;
constexpr uint32_t kHeaderLen = 8;

Bytes item(uint32_t code, const char* name, uint16_t date, uint16_t time) {
  Bytes r(kRecordLen, 0);
  std::memcpy(r.data(), &code, 4);
  std::memcpy(r.data() + 4, name, std::min<size_t>(std::strlen(name), 8));
  std::memcpy(r.data() + 12, &date, 2);
  std::memcpy(r.data() + 14, &time, 2);
  return r;
}

class RemoteTable : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(backend_.addTable("Items", {{1, "Code", 4, 2}, {2, "Name", 9, 0}, {3, "SaleDate", 4, 13},
                                            {4, "SaleTime", 4, 12}, {5, "Unused", 4, 2}}));
    peer_.serveRecords([this](const std::string& request) { return backend_.answer(request); });
    ASSERT_EQ(SockConnect("127.0.0.1", peer_.port()), 0);
    ASSERT_EQ(SockBindWVSrv("Varnex", "1.0"), 0);
    ZemtaSetSockIfs(1);
    ASSERT_EQ(ZemtaAddSockIfsDir(mapped_.c_str(), "shop", 2), 0);
  }
  void TearDown() override {
    if (table_) FileDBDelete(table_);
    ZemtaSetSockIfs(0);
    SockDisconnect();
  }
  // The table over the store, its fields bound to the service's columns.
  FileDBHandle open() {
    table_ = FileDBCreate((mapped_ + "/Items").c_str(), 7, kHeaderLen, kRecordLen, "Items", nullptr);
    if (!table_) return 0;
    Table& t = *findTable(table_);
    bindRemoteColumn(t, "Code", 0, 4, 2, 0);
    bindRemoteColumn(t, "Name", 4, 8, 0, 0);
    bindRemoteColumn(t, "SaleDate", 12, 2, 14, 0);
    bindRemoteColumn(t, "SaleTime", 14, 2, 15, 0);
    keepBoundColumns(t);
    return table_;
  }
  // Record n (from 1) as the server holds it: column id -> value bytes.
  std::map<uint16_t, Bytes> stored(uint32_t n) {
    std::map<uint16_t, Bytes> values;
    IfsFieldValue* items = nullptr;
    const int32_t count = IfsGetCID(backend_.table("Items"), 10, &items, 1, n, 0);
    for (int32_t i = 0; i < count; ++i) {
      const auto* p = static_cast<const uint8_t*>(items[i].value);
      values[items[i].field] = Bytes(p, p + items[i].length);
    }
    std::free(items);
    return values;
  }

  TempFolder folder_;
  RecordStoreBackend backend_{folder_.file("store.ifs")};
  FileServicePeer peer_;
  std::string mapped_ = folder_.file("mapped");
  FileDBHandle table_ = 0;
};

TEST_F(RemoteTable, RecordsTravelAsColumnValues) {
  FileDBHandle h = open();
  ASSERT_NE(h, 0u);
  const Table& t = *findTable(h);
  EXPECT_EQ(t.storageKind, kRemoteRecordStore);
  ASSERT_EQ(t.remoteColumns.size(), 4u);  // the unbound column is not kept
  EXPECT_EQ(t.remoteColumns[1].name, "Name");
  EXPECT_EQ(t.remoteColumns[1].offset, 4);
  EXPECT_EQ(FileDBRecGetSize(h), 0);

  const Bytes first = item(120, "apple", dateWord(2026, 12, 11), timeWord(10, 35, 20));
  EXPECT_EQ(FileDBRecWrite(h, 5, first.data()), 0);  // past the end: appended by the service
  EXPECT_EQ(FileDBRecGetSize(h), 1);
  const Bytes second = item(80, "pear", 0, 0);
  EXPECT_EQ(FileDBRecWrite(h, 1, second.data()), 0);
  EXPECT_EQ(FileDBRecGetSize(h), 2);

  // The server holds service forms: text with one zero, the full year.
  auto values = stored(1);
  EXPECT_EQ(values[2], (Bytes{'a', 'p', 'p', 'l', 'e', 0}));
  EXPECT_EQ(values[3], le(2026u << 9 | 12u << 5 | 11, 4));
  EXPECT_EQ(values[4], le(10u << 27 | 35u << 21 | 20u << 15 | 1, 4));
  EXPECT_EQ(stored(2)[3], le(1980u << 9, 4));

  Bytes got(kRecordLen, 0xEE);
  EXPECT_EQ(FileDBRecRead(h, 0, got.data()), 0);
  EXPECT_EQ(got, first);
  EXPECT_EQ(FileDBRecRead(h, 1, got.data()), 0);
  EXPECT_EQ(got, second);  // the date 0 reads back as 0
  EXPECT_EQ(FileDBRecRead(h, 2, got.data()), 1);
  EXPECT_EQ(got, Bytes(kRecordLen, 0));

  // An overwrite after a read; the same bytes again send nothing.
  EXPECT_EQ(FileDBRecRead(h, 0, got.data()), 0);
  const Bytes changed = item(121, "apples", dateWord(2026, 12, 12), timeWord(9, 0, 0));
  EXPECT_EQ(FileDBRecWrite(h, 0, changed.data()), 0);
  const size_t before = peer_.requests().size();
  EXPECT_EQ(FileDBRecWrite(h, 0, changed.data()), 0);
  for (size_t i = before; i < peer_.requests().size(); ++i) EXPECT_NE(peer_.requests()[i][8], 'u');
  EXPECT_EQ(FileDBRecRead(h, 0, got.data()), 0);
  EXPECT_EQ(got, changed);

  // Another register changes the record on the server: this one's write of
  // its older image is refused.
  const uint32_t other = 999;
  const IfsFieldValue value{1, 2, 4, 0, const_cast<uint32_t*>(&other)};
  ASSERT_EQ(IfsSetCID(backend_.table("Items"), 10, 1, &value, 1, 0), 0);
  EXPECT_EQ(FileDBRecWrite(h, 0, first.data()), 2);
  EXPECT_EQ(stored(1)[1], le(999, 4));
}

TEST_F(RemoteTable, DeletesAndTheHeaderGoThroughTheService) {
  FileDBHandle h = open();
  ASSERT_NE(h, 0u);
  for (uint32_t code : {1u, 2u, 3u, 4u}) {
    const Bytes r = item(code, "x", 0, 0);
    ASSERT_EQ(FileDBRecWrite(h, 99, r.data()), 0);
  }
  const std::string save = folder_.file("saved.dat");
  EXPECT_EQ(FileDBRecDelete(h, 1, 2, save.c_str()), 0);
  EXPECT_EQ(FileDBRecGetSize(h), 2);
  EXPECT_EQ(IfsRecTotal(backend_.table("Items")), 2u);
  Bytes got(kRecordLen);
  EXPECT_EQ(FileDBRecRead(h, 1, got.data()), 0);
  EXPECT_EQ(got, item(4, "x", 0, 0));
  // The save file holds the deleted records, read one by one.
  const Bytes two = item(2, "x", 0, 0), three = item(3, "x", 0, 0);
  std::string expected(two.begin(), two.end());
  expected.append(three.begin(), three.end());
  EXPECT_EQ(folder_.read("saved.dat"), expected);

  // No header image: within the header length both accesses are refused.
  container_test::Reports reports;
  char header[kHeaderLen] = {};
  EXPECT_EQ(FileDBRead(h, 0, header, kHeaderLen), -1);
  EXPECT_TRUE(reports.last(0x200000FF));
  reports.clear();
  EXPECT_EQ(FileDBWrite(h, 2, header, 4), -1);
  EXPECT_TRUE(reports.last(0x200000FF));
}

TEST_F(RemoteTable, KeysAreLookedUpAndSearchedByTheService) {
  FileDBHandle h = open();
  ASSERT_NE(h, 0u);
  // Index files of a record store are never made.
  const std::string indexFile = folder_.file("code.bxx");
  ASSERT_EQ(FileAddIndex(h, indexFile.c_str(), 8, 2, 0, 4, 0, compareUnsigned, nullptr, nullptr), 0);
  ASSERT_EQ(FileAddIndex(h, folder_.file("date.bxx").c_str(), 8, 14, 12, 2, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_FALSE(std::filesystem::exists(indexFile));
  EXPECT_EQ(findTable(h)->indexes[0].check, -1);
  EXPECT_EQ(FileIdxCheck(h, 0, FILEIDX_CHECK_REBUILD, nullptr), 0);

  const uint32_t codes[] = {30, 10, 20, 10, 40};
  for (size_t i = 0; i < 5; ++i) {
    const Bytes r = item(codes[i], "n", dateWord(2026, 12, static_cast<int>(i + 1)), 0);
    ASSERT_EQ(FileDBRecWrite(h, 99, r.data()), 0);
  }
  int32_t record = 0;
  uint32_t key = 20;
  EXPECT_EQ(FileIdxEqu(h, 0, &record, &key), 1);
  EXPECT_EQ(record, 2);
  key = 10;
  EXPECT_EQ(FileIdxEqu(h, 0, &record, &key), 2);
  EXPECT_EQ(record, 1);
  key = 11;
  EXPECT_EQ(FileIdxEqu(h, 0, &record, &key), 0);
  EXPECT_EQ(record, -1);
  // A date key travels in the service's date form.
  uint16_t date = dateWord(2026, 12, 4);
  EXPECT_EQ(FileIdxEqu(h, 1, &record, &date), 1);
  EXPECT_EQ(record, 3);

  // A range search: the service's list and its record numbers from 0.
  FileRecList list{};
  uint32_t from = 10, to = 30;
  ASSERT_EQ(FileIdxSear(h, 0, &from, &to, &list, 0, 1), 0);
  ASSERT_EQ(list.count, 4);
  EXPECT_NE(list.remoteId, 0u);
  std::vector<uint32_t> found(list.items, list.items + list.count);
  EXPECT_EQ(found, (std::vector<uint32_t>{1, 3, 2, 0}));
  // Narrowed on the service by the date.
  uint16_t fromDate = dateWord(2026, 12, 2), toDate = dateWord(2026, 12, 3);
  ASSERT_EQ(FileIdxAndSear(h, 1, &fromDate, &toDate, &list, 0, 1), 0);
  found.assign(list.items, list.items + list.count);
  EXPECT_EQ(found, (std::vector<uint32_t>{1, 2}));
  // Without the remote word only the count comes back.
  FileRecList counted{};
  from = 20;
  to = 40;
  ASSERT_EQ(FileIdxSear(h, 0, &from, &to, &counted, 0, 0), 0);
  ASSERT_EQ(counted.count, 3);
  EXPECT_EQ(counted.items[0], 0xFFFFFFFFu);
  // Combined on the service: the first list keeps its id.
  const uint32_t firstId = list.remoteId;
  ASSERT_EQ(FileDBIdxCombine(h, &list, &counted, 0), 0);
  EXPECT_EQ(list.remoteId, firstId);
  found.assign(list.items, list.items + list.count);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<uint32_t>{0, 1, 2, 4}));
  // Ordered by the date index, downward.
  const int32_t byDate[] = {1};
  const uint32_t down[] = {2};
  ASSERT_EQ(FileIdxOrder(h, &list, 1, byDate, down), 0);
  found.assign(list.items, list.items + list.count);
  EXPECT_EQ(found, (std::vector<uint32_t>{4, 2, 1, 0}));

  // Nothing found: an empty list of the usual capacity.
  FileRecList none{};
  from = 50;
  to = 60;
  EXPECT_EQ(FileIdxSear(h, 0, &from, &to, &none, 0, 1), 0);
  EXPECT_EQ(none.count, 0);
  EXPECT_EQ(none.capacity, 0x4000);
  EXPECT_EQ(none.remoteId, 0u);

  // Freeing the lists drops them on the service.
  EXPECT_EQ(backend_.openLists(), 2u);
  EXPECT_EQ(FileDeleteRecList(&list), 0);
  EXPECT_EQ(FileDeleteRecList(&counted), 0);
  EXPECT_EQ(FileDeleteRecList(&none), 0);
  EXPECT_EQ(backend_.openLists(), 0u);
  EXPECT_EQ(list.remoteId, 0u);
}

TEST_F(RemoteTable, TemporaryIndexesAreBuiltSearchedAndDroppedByTheService) {
  FileDBHandle h = open();
  ASSERT_NE(h, 0u);
  ASSERT_EQ(FileAddIndex(h, folder_.file("code.bxx").c_str(), 8, 2, 0, 4, 0, compareUnsigned, nullptr, nullptr), 0);
  const uint32_t codes[] = {30, 10, 20, 10, 40};
  for (size_t i = 0; i < 5; ++i) {
    const Bytes r = item(codes[i], "n", dateWord(2026, 12, static_cast<int>(i + 1)), 0);
    ASSERT_EQ(FileDBRecWrite(h, 99, r.data()), 0);
  }
  const FileTempIndexKey byDate{12, 2, 0, 14};
  auto datesFound = [&](intptr_t index, int fromDay, int toDay) {
    FileRecList list{};
    uint16_t from = dateWord(2026, 12, fromDay), to = dateWord(2026, 12, toDay);
    EXPECT_EQ(FileIdxSear(h, index, &from, &to, &list, FILEIDX_INDEX_POINTER, 1), 0);
    std::vector<uint32_t> found(list.items, list.items + list.count);
    FileDeleteRecList(&list);
    return found;
  };

  // Over every record: the service builds it on the date column and is
  // searched through it with dates in its own form.
  intptr_t all = FileMakeTempIndex(h, &byDate, nullptr, nullptr);
  ASSERT_NE(all, -1);
  EXPECT_EQ(backend_.openIndexes(), 1u);
  const std::string made = peer_.requests().at(peer_.requests().size() - 2);  // before the table's release
  ASSERT_EQ(made[8], 'x');
  EXPECT_EQ(made.substr(10), FileServicePeer::u32(0) + FileServicePeer::u16(1) + FileServicePeer::u16(3));
  EXPECT_EQ(datesFound(all, 2, 4), (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(datesFound(all, 5, 1), (std::vector<uint32_t>{4, 3, 2, 1, 0}));
  const uint32_t id = static_cast<uint32_t>(reinterpret_cast<IndexEntry*>(all)->remoteIndex);
  EXPECT_EQ(FileDeleteTempIndex(all), 0);
  EXPECT_EQ(peer_.requests().back(), FileServicePeer::frame('d', 0, id));
  EXPECT_EQ(backend_.openIndexes(), 0u);

  // Over the records of a list the service holds: only those are in it.
  FileRecList tens{};
  uint32_t from = 10, to = 20;
  ASSERT_EQ(FileIdxSear(h, 0, &from, &to, &tens, 0, 1), 0);
  ASSERT_EQ(tens.count, 3);  // records 1, 3 and 2
  intptr_t listed = FileMakeTempIndex(h, &byDate, &tens, nullptr);
  ASSERT_NE(listed, -1);
  EXPECT_EQ(datesFound(listed, 1, 5), (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(FileDeleteTempIndex(listed), 0);
  EXPECT_EQ(backend_.openIndexes(), 0u);

  // A field with no column on the service, or a list the service does not
  // hold, builds nothing.
  container_test::Reports reports;
  const FileTempIndexKey inside{1, 2, 0, 2};
  EXPECT_EQ(FileMakeTempIndex(h, &inside, nullptr, nullptr), -1);
  EXPECT_TRUE(reports.last(0x20000085));
  FileRecList local{};
  ASSERT_EQ(FileNewRecList(&local, 4), 0);
  local.items[0] = 0;
  local.count = 1;
  reports.clear();
  EXPECT_EQ(FileMakeTempIndex(h, &byDate, &local, nullptr), -1);
  EXPECT_TRUE(reports.last(0x20000085));
  EXPECT_EQ(backend_.openIndexes(), 0u);
  FileDeleteRecList(&local);
  FileDeleteRecList(&tens);
}

TEST_F(RemoteTable, RecordsMatchingAnotherTablesListAreFoundByTheService) {
  // Sales: code (u32 at 0) and quantity (u32 at 4), no header.
  ASSERT_TRUE(backend_.addTable("Sales", {{1, "Code", 4, 2}, {2, "Qty", 4, 2}}));
  FileDBHandle items = open();
  ASSERT_NE(items, 0u);
  FileDBHandle sales = FileDBCreate((mapped_ + "/Sales").c_str(), 8, 0, 8, "Sales", nullptr);
  ASSERT_NE(sales, 0u);
  Table& s = *findTable(sales);
  bindRemoteColumn(s, "Code", 0, 4, 2, 0);
  bindRemoteColumn(s, "Qty", 4, 4, 2, 0);
  keepBoundColumns(s);
  ASSERT_EQ(FileAddIndex(items, folder_.file("i.bxx").c_str(), 8, 2, 0, 4, 0, compareUnsigned, nullptr, nullptr), 0);
  ASSERT_EQ(FileAddIndex(sales, folder_.file("c.bxx").c_str(), 8, 2, 0, 4, 0, compareUnsigned, nullptr, nullptr), 0);
  ASSERT_EQ(FileAddIndex(sales, folder_.file("q.bxx").c_str(), 8, 2, 4, 4, 0, compareUnsigned, nullptr, nullptr), 0);
  for (uint32_t code : {30u, 10u, 20u, 10u, 40u}) {
    const Bytes r = item(code, "n", 0, 0);
    ASSERT_EQ(FileDBRecWrite(items, 99, r.data()), 0);
  }
  const uint32_t sold[][2] = {{10, 1}, {40, 5}, {99, 7}, {20, 2}};
  for (const auto& sale : sold) ASSERT_EQ(FileDBRecWrite(sales, 99, sale), 0);

  struct Case {
    uint32_t fromQty, toQty;
    std::vector<uint32_t> items;  // sorted
  };
  const Case cases[] = {{1, 2, {1, 2, 3}}, {5, 5, {4}}, {7, 7, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fromQty);
    FileRecList in{}, out{};
    ASSERT_EQ(FileIdxSear(sales, 1, &c.fromQty, &c.toQty, &in, 0, 1), 0);
    ASSERT_EQ(FileLstFromIndLst(items, 0, &out, sales, 0, &in), 0);
    std::vector<uint32_t> found(out.items, out.items + out.count);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, c.items);
    EXPECT_EQ(out.remoteId != 0, !c.items.empty());
    EXPECT_EQ(FileDeleteRecList(&in), 0);
    EXPECT_EQ(FileDeleteRecList(&out), 0);
  }
  EXPECT_EQ(backend_.openLists(), 0u);
  FileDBDelete(sales);
}

TEST_F(RemoteTable, ARecordTotalTooLargeForTheTableIsRefused) {
  // The table's size (total x record length + header) must stay within 32
  // bits, and the count within a signed one.
  struct Case {
    uint32_t headerLen, recordLen;
    uint64_t total;
    bool taken;
  };
  const Case cases[] = {{8, 16, 0x0FFFFFFF, true},
                        {8, 16, 0x10000000, false},
                        {0, 1, 0x80000000, false},
                        {0, 1, 0x100000000ull, false}};
  container_test::Reports reports;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.total);
    reports.clear();
    peer_.queue(FileServicePeer::frame(0x06, 0, 0x9200));  // the open
    peer_.queue(FileServicePeer::frame(0x06, 0, 0x9200));  // no columns
    peer_.queue(FileServicePeer::frame(0x42, 0, 0x9200,
                                       FileServicePeer::u32(static_cast<uint32_t>(c.total)) +
                                           FileServicePeer::u32(static_cast<uint32_t>(c.total >> 32))));
    peer_.queue(FileServicePeer::frame(0x06, 0, 0x9200));  // the release
    FileDBHandle h = FileDBCreate((mapped_ + "/Items").c_str(), 7, c.headerLen, c.recordLen, "Items", nullptr);
    EXPECT_EQ(h != 0, c.taken);
    if (h) {
      EXPECT_EQ(findTable(h)->count, c.total);
      FileDBDelete(h);
    } else {
      EXPECT_TRUE(reports.last(0x20000002));
    }
    // The table was released on the service either way.
    EXPECT_EQ(peer_.requests().back(), FileServicePeer::frame('D', 0, 0x9200));
  }
}

TEST_F(RemoteTable, AFailedColumnListFreesTheTable) {
  // The service refuses the column list: the table is not made.
  peer_.queue(FileServicePeer::frame(0x06, 0, 0x9001));  // the open
  peer_.queue(FileServicePeer::frame(0x15, 5, 0x9001));  // the column list: access denied
  container_test::Reports reports;
  EXPECT_EQ(FileDBCreate((mapped_ + "/Items").c_str(), 7, 0, kRecordLen, "Items", nullptr), 0u);
  EXPECT_GE(reports.count(), 1u);
}

TEST_F(RemoteTable, ValuesLongerThanTheirReplyAreCut) {
  FileDBHandle h = open();
  ASSERT_NE(h, 0u);
  ASSERT_EQ(FileDBRecGetSize(h), 0);
  const Bytes r = item(5, "abc", 0, 0);
  ASSERT_EQ(FileDBRecWrite(h, 0, r.data()), 0);
  // A record reply whose name value claims 300 bytes but brings 3.
  const std::string items = FileServicePeer::u16(1) + FileServicePeer::u16(2) + FileServicePeer::u16(0) +
                            FileServicePeer::u16(300) + "xyz";
  peer_.queue(FileServicePeer::frame(0x06, 0, 0x9100));          // the open
  peer_.queue(FileServicePeer::frame(0x42, 0, 0x9100,
                                     FileServicePeer::u32(1) + FileServicePeer::u32(0)));  // the total
  peer_.queue(FileServicePeer::frame(0x42, 0, 0x9100, items));  // the record
  peer_.queue(FileServicePeer::frame(0x06, 0, 0x9100));          // the release
  Bytes got(kRecordLen, 0xEE);
  EXPECT_EQ(FileDBRecRead(h, 0, got.data()), 0);
  EXPECT_EQ(got, item(0, "xyz", 0, 0));
}

// A project whose data folder is a record-store mapping: its table reaches
// the store named like the table, its fields bound by name.
const char8_t kProjectText[] = u8R"(# remote project
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=0 record=32 file="DEPT"
  field "番号" id=501 offset=0 size=2 type=4 index="NO" rules=0x80000000
  field "名前" id=502 offset=2 size=20 type=0
  field "区分" id=503 offset=22 size=2 type=4
end
)";

TEST(RemoteProject, TablesOfARecordStoreMappingAreTheServicesStores) {
  TempFolder folder;
  const int32_t messages = ZemtaEnableLastErrorMessage(0);
  const std::string catalog = folder.file("App/Res/Test.dbf");
  zemta::fileproj::ProjectDefinition definition;
  std::string error;
  ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(reinterpret_cast<const char*>(kProjectText), definition, error))
      << error;
  ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog, error)) << error;
  // The tables live on the service only; the data folder stays as the
  // place the project is found at.
  const std::string tables = folder.file("App/Res/Data/Tab");
  std::filesystem::remove_all(tables);
  std::filesystem::create_directories(tables);

  RecordStoreBackend backend(folder.file("store.ifs"));
  ASSERT_TRUE(backend.addTable("部門", {{7, "区分", 2, 2}, {3, "番号", 2, 2}, {4, "名前", 21, 0}, {9, "備考", 8, 0}}));
  FileServicePeer peer;
  peer.serveRecords([&](const std::string& request) { return backend.answer(request); });
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
  ASSERT_EQ(SockBindWVSrv("Varnex", "1.0"), 0);
  ZemtaSetSockIfs(1);
  ASSERT_EQ(ZemtaAddSockIfsDir(folder.file("App/Res/Data").c_str(), "shop", 2), 0);

  FileProjHandle project = FileProjOpen(catalog.c_str(), 5, nullptr);
  ASSERT_NE(project, 0u);
  FileDBHandle table = FileProjGetFdb(project, 5);
  ASSERT_NE(table, 0u);
  const Table& t = *findTable(table);
  ASSERT_TRUE(t.remote());
  // The table's path names the table, not its file; the columns follow the
  // fields' order of the service, the unnamed one left out.
  EXPECT_NE(t.path.find("部門"), std::string::npos);
  ASSERT_EQ(t.remoteColumns.size(), 3u);
  EXPECT_EQ(t.remoteColumns[0].id, 7);
  EXPECT_EQ(t.remoteColumns[0].offset, 22);
  EXPECT_EQ(t.remoteColumns[2].size, 20);

  Bytes record(32, 0);
  record[0] = 11;
  std::memcpy(record.data() + 2, "営業", std::strlen("営業"));
  record[22] = 2;
  ASSERT_EQ(FileDBRecWrite(table, 0, record.data()), 0);
  EXPECT_EQ(IfsRecTotal(backend.table("部門")), 1u);
  Bytes got(32, 0xEE);
  ASSERT_EQ(FileDBRecRead(table, 0, got.data()), 0);
  EXPECT_EQ(got, record);
  // The look-up runs on the service.
  int32_t first = -2;
  const uint16_t number = 11;
  EXPECT_EQ(FileIdxEqu(table, 0, &first, &number), 1);
  EXPECT_EQ(first, 0);
  // Nothing of the table, nor an index file, was made locally.
  EXPECT_TRUE(std::filesystem::is_empty(tables));

  EXPECT_EQ(FileProjClose(project), 0);
  ZemtaSetSockIfs(0);
  SockDisconnect();
  ZemtaEnableLastErrorMessage(messages);
}

}  // namespace
