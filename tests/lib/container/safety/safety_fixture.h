// A disk with a logged, indexed table of sales codes for the backup,
// roll-back and check tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lib/container/container_test_support.h"
#include "lib/container/disk_writer_rounds.h"
#include "support/temp_folder.h"
#include "zemta/btreeex.h"
#include "zemta/fileex.h"

namespace safety_test {

class SafetyTest : public ::testing::Test {
 protected:
  void SetUp() override { BtreeExNew(); }
  void TearDown() override {
    for (FileExDiskHandle disk : disks_) FileExDiskRelease(disk);
    BtreeExDelete();
  }
  FileExDiskHandle make(const std::string& name) {
    FileExDiskHandle disk = FileExDiskCreate((folder_ / name).c_str(), "shop", nullptr, 0);
    if (disk) disks_.push_back(disk);
    return disk;
  }
  void release(FileExDiskHandle disk) {
    disks_.erase(std::remove(disks_.begin(), disks_.end(), disk), disks_.end());
    EXPECT_EQ(FileExDiskRelease(disk), 0);
  }
  // Appends a sale with the code; its record ID.
  static uint64_t addSale(FileExHandle table, uint32_t code) {
    FileExHandle record = FileExRecInsert(table, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 0, nullptr);
    EXPECT_NE(record, nullptr);
    if (!record) return 0;
    EXPECT_TRUE(disk_writer::setCode(record, table, code));
    uint64_t id = 0;
    FileExGetID(record, &id);
    EXPECT_EQ(FileExRelease(record, nullptr), 0);
    return id;
  }
  static std::vector<uint32_t> codes(FileExHandle table) {
    std::vector<uint32_t> found;
    uint64_t count = 0;
    EXPECT_EQ(FileExGetRecCount(table, &count), 0);
    for (uint64_t n = 1; n <= count; ++n) {
      FileExHandle record = FileExRecOpen(table, uint32_t(n), 0, 0, nullptr);
      EXPECT_NE(record, nullptr);
      if (!record) break;
      uint32_t code = 0;
      FileExGetFld(record, FILEEX_FIELD_KEY(10, 1), &code, 4, nullptr);
      found.push_back(code);
      FileExRelease(record, nullptr);
    }
    return found;
  }
  static uint64_t rows(FileExHandle table) {
    uint64_t count = 0;
    EXPECT_EQ(FileExGetRecCount(table, &count), 0);
    return count;
  }
  // The text of field 1 (or another) of a row of a system table.
  static std::string text(FileExDiskHandle disk, const char* path, uint64_t row, uint16_t field = 1) {
    FileExHandle table = FileExCreate(disk, path, -1, nullptr, FILEEX_KIND_TABLE | FILEEX_CREATE_OPEN, 0, 0, nullptr);
    if (!table) return "<no table>";
    std::string result = "<no row>";
    if (FileExHandle record = FileExRecOpen(table, uint32_t(row), 0, 0, nullptr)) {
      char buffer[300] = {};
      FileExGetFld(record, FILEEX_FIELD_KEY(10, field), buffer, sizeof buffer - 1, nullptr);
      result = buffer;
      FileExRelease(record, nullptr);
    }
    FileExRelease(table, nullptr);
    return result;
  }
  static uint64_t tableRows(FileExDiskHandle disk, const char* path) {
    FileExHandle table = FileExCreate(disk, path, -1, nullptr, FILEEX_KIND_TABLE | FILEEX_CREATE_OPEN, 0, 0, nullptr);
    if (!table) return ~0ull;
    const uint64_t count = rows(table);
    FileExRelease(table, nullptr);
    return count;
  }

  testing_support::TempFolder folder_;
  std::vector<FileExDiskHandle> disks_;
};

}  // namespace safety_test
