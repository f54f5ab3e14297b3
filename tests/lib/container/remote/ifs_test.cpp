// The Ifs front end: local disks, the alternate disk, and the remote
// service when no disk is attached.
#include "zemta/ifs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/container/container_test_support.h"
#include "lib/container/remote/connection.h"
#include "peers/file_service_peer.h"
#include "support/temp_folder.h"
#include "zemta/btreeex.h"
#include "zemta/sockifs.h"

namespace {

using testing_support::FileServicePeer;
using testing_support::TempFolder;
namespace fs = std::filesystem;

class IfsLocal : public ::testing::Test {
 protected:
  void SetUp() override {
    BtreeExNew();
    disk_ = FileExDiskCreate(folder_.file("shop.ifs").c_str(), "shop", nullptr, 0);
    alternate_ = FileExDiskCreate(folder_.file("work.ifs").c_str(), "work", nullptr, 0);
    ASSERT_NE(disk_, nullptr);
    ASSERT_NE(alternate_, nullptr);
  }
  void TearDown() override {
    IfsChgDisk(nullptr, nullptr);
    FileExDiskRelease(disk_);
    FileExDiskRelease(alternate_);
    BtreeExDelete();
  }
  uint64_t count(FileExHandle table) {
    uint64_t n = 0;
    FileExGetRecCount(table, &n);
    return n;
  }
  uint64_t idAt(FileExHandle table, uint64_t number) {
    uint64_t id = 0;
    FileExGetTblRecID(table, uint32_t(number), uint32_t(number >> 32), &id);
    return id;
  }

  TempFolder folder_;
  FileExDiskHandle disk_ = nullptr;
  FileExDiskHandle alternate_ = nullptr;
};

TEST_F(IfsLocal, PathsBeginningWithTheMarkGoToTheAlternateDisk) {
  ASSERT_NE(FileExCreate(alternate_, "\\OnlyHere", -1, nullptr, FILEEX_KIND_DIRECTORY | FILEEX_CREATE_OPEN, 0, 0,
                         nullptr),
            nullptr);
  EXPECT_EQ(IfsChgDisk(disk_, alternate_), alternate_);
  EXPECT_EQ(IfsIsExist("/:\\OnlyHere", -1, nullptr), 1);
  EXPECT_EQ(IfsIsExist("\\OnlyHere", -1, nullptr), 0);
  // Without an alternate disk the path goes as given, mark included.
  IfsChgDisk(disk_, nullptr);
  container_test::Reports reports;
  EXPECT_NE(IfsIsExist("/:\\OnlyHere", -1, nullptr), 1);
}

TEST_F(IfsLocal, RecordRangesAreDeletedFromTheLastDown) {
  IfsChgDisk(disk_, nullptr);
  FileExHandle table = IfsCreate("\\Items", -1, nullptr, FILEEX_KIND_TABLE, 0, 0);
  ASSERT_NE(table, nullptr);
  for (int i = 0; i < 5; ++i) {
    FileExHandle record = FileExRecInsert(table, ~0u, ~0u, nullptr, 0, nullptr);
    ASSERT_NE(record, nullptr);
    FileExRelease(record, nullptr);
  }
  const uint64_t first = idAt(table, 1), second = idAt(table, 2);
  container_test::Reports reports;
  EXPECT_EQ(IfsRecDelete(table, 0, 0, 5, 0), -1);
  EXPECT_TRUE(reports.last(0x20000085));
  EXPECT_EQ(IfsRecDelete(table, 3, 0, 6, 0), -1);
  EXPECT_EQ(IfsRecTotal(table), 5u);
  EXPECT_EQ(IfsRecDelete(table, 3, 0, 5, 0), 5);
  EXPECT_EQ(IfsRecTotal(table), 2u);
  EXPECT_EQ(idAt(table, 1), first);
  EXPECT_EQ(idAt(table, 2), second);

  // The identifier count is 16 bits: more is refused, not cut.
  std::vector<uint64_t> ids(65536, first);
  reports.clear();
  EXPECT_EQ(IfsRecDelByID(table, 65536, ids.data()), -1);
  EXPECT_TRUE(reports.last(0x20000085));
  EXPECT_EQ(IfsRecDelByID(table, 1, nullptr), -1);
  EXPECT_EQ(IfsRecTotal(table), 2u);
  EXPECT_EQ(IfsRecDelByID(table, 1, &second), 0);
  EXPECT_EQ(IfsRecTotal(table), 1u);
  EXPECT_EQ(IfsRelease(table), 0);
}

TEST_F(IfsLocal, ReadAtTheCurrentPositionDoesNotMove) {
  IfsChgDisk(disk_, nullptr);
  FileExHandle file = IfsCreate("\\Notes", -1, nullptr, FILEEX_KIND_FILE, 0, 0);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(IfsWrite(file, "abcdefgh", 8, 0, 0, 0), 0);
  EXPECT_EQ(IfsGetSize(file), 8u);
  EXPECT_EQ(IfsSetPointer(file, 3, 0, 0), 3u);
  char buffer[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(IfsRead(file, buffer, 2, &got, 0, 0, 1), 0);
  EXPECT_EQ(std::string(buffer, got), "de");
  ASSERT_EQ(IfsRead(file, buffer, 2, &got, 1, 0, 0), 0);
  EXPECT_EQ(std::string(buffer, got), "bc");
  EXPECT_EQ(IfsRelease(file), 0);
}

TEST_F(IfsLocal, SearchesFetchTheRecordsOfAKeyRange) {
  IfsChgDisk(disk_, nullptr);
  FileExHandle table = IfsCreate("\\Items", -1, nullptr, FILEEX_KIND_TABLE, 0, 0);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(FileExInsColumn(table, 1, "Code", 4, 2, 0, 0, 0, -1), 0);
  // An index over column 1: its definition is written with the table.
  std::vector<uint8_t> def(278, 0);
  def[2] = 1;
  std::memcpy(def.data() + 8, "ByCode", 6);
  def[276] = 1;
  uint32_t key = FILEEX_FIELD_KEY(3, 1);
  ASSERT_EQ(FileExSetFld(table, &key, def.data(), int32_t(def.size()), 0x61F), 0);
  ASSERT_EQ(FileExFldWrite(table, nullptr, 0), 0);
  for (uint32_t code : {10u, 20u, 30u, 40u}) {
    FileExHandle record = FileExRecInsert(table, ~0u, ~0u, nullptr, 0, nullptr);
    ASSERT_NE(record, nullptr);
    uint32_t field = FILEEX_FIELD_KEY(10, 1);
    const uint8_t bytes[4] = {uint8_t(code), 0, 0, 0};
    ASSERT_EQ(FileExSetFld(record, &field, bytes, 4, 2), 0);
    ASSERT_EQ(FileExFldWrite(record, table, 0), 0);
    FileExRelease(record, nullptr);
  }
  const uint8_t from[4] = {15, 0, 0, 0}, to[4] = {35, 0, 0, 0};
  uint64_t total = 0;
  IfsRecList list{};
  list.total = &total;
  ASSERT_EQ(IfsIdxSear(table, 1, nullptr, 4, from, to, &list, IFS_SEARCH_NEW, nullptr, 1), 1);
  EXPECT_EQ(total, 2u);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(list.ids[0], 2u);
  EXPECT_EQ(list.ids[1], 3u);
  EXPECT_EQ(IfsIdxRemove(&list), 0);
  EXPECT_EQ(list.ids, nullptr);

  container_test::Reports reports;
  EXPECT_EQ(IfsIdxSear(table, 0, nullptr, 4, from, to, &list, 0, nullptr, 1), -1);
  EXPECT_TRUE(reports.last(0x20000085));
  EXPECT_EQ(IfsIdxSear(table, 1, nullptr, 4, from, to, &list, IFS_SEARCH_AND, nullptr, 1), -1);
  EXPECT_TRUE(reports.last(0x200000FF));
  EXPECT_EQ(IfsRelease(table), 0);
}

TEST(IfsRemote, SearchTotalsBeyondTheCapacityAreRefused) {
  FileServicePeer peer;
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
  IfsChgDisk(nullptr, nullptr);
  peer.queue(FileServicePeer::frame(0x42, 0, 0x51, FileServicePeer::u32(9) + FileServicePeer::u32(0xFFFFFFFF) +
                                                       FileServicePeer::u32(0)));
  IfsRecList list{};
  container_test::Reports reports;
  const uint8_t from[4] = {};
  FileExHandle table = reinterpret_cast<FileExHandle>(uintptr_t{0x51});
  EXPECT_EQ(IfsIdxSear(table, 1, nullptr, 4, from, from, &list, 0, nullptr, 1), -1);
  EXPECT_EQ(list.ids, nullptr);
  EXPECT_EQ(list.count, 0);
  // No page was asked for; the error went to the server's log.
  const auto sent = peer.requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0][8], 's');
  EXPECT_EQ(sent[1][8], 'e');
  EXPECT_EQ(FileServicePeer::u32At(sent[1], 22), 0x20000002u);
  SockDisconnect();
}

TEST(IfsRemote, WithoutADiskCallsGoToTheService) {
  TempFolder folder;
  fs::create_directories(fs::path(folder.path()) / "server");
  FileServicePeer peer;
  peer.serveFolder(folder.file("server"));
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
  IfsChgDisk(nullptr, nullptr);
  FileExHandle file = IfsCreate("notes.txt", -1, nullptr, 0x6401, 0, 0);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(IfsWrite(file, "abcdefgh", 8, 0, 0, 0), 0);
  EXPECT_EQ(IfsGetSize(file), 8u);
  char buffer[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(IfsRead(file, buffer, 3, &got, 2, 0, 0), 0);
  EXPECT_EQ(std::string(buffer, got), "cde");
  EXPECT_EQ(IfsIsExist("notes.txt", -1, nullptr), 1);
  EXPECT_EQ(IfsRelease(file), 0);
  EXPECT_EQ(folder.read("server/notes.txt"), "abcdefgh");

  // A failure of the service is reported as the last system error.
  container_test::Reports reports;
  SockDisconnect();
  EXPECT_EQ(IfsCreate("notes.txt", -1, nullptr, 0x6401, 0, 0), nullptr);
  EXPECT_TRUE(reports.last(10093));
}

}  // namespace
