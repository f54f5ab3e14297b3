// The Ifs front end: local disks, the alternate disk, and the remote
// service when no disk is attached.
#include "zemta/ifs.h"

#include <gtest/gtest.h>

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
