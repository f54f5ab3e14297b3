// Record stores for the scripted remote file server: tables of a real
// container disk, reached through the library's own Ifs front end with that
// disk attached, answering the record requests of the remote file service
// ('A' opens and 'D' releases of its tables, 'q' column lists and record
// values, 'u' record writes, 't' totals, 'r' deletes, 'l' key look-ups,
// 's' searches, 'f' pages of their record numbers, 'c' combinations, 'o'
// orderings, 'i' joins by reference, 'x' temporary indexes (searched by
// their id in place of a column list) and 'd' drops of lists and temporary
// indexes). Record numbers count from 1.
//
// A temporary index is one of the container store: while it lives it also
// serves the other searches on its columns, as the store's own do.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "zemta/fileex.h"
#include "zemta/ifs.h"

namespace testing_support {

class RecordStoreBackend {
 public:
  struct Column {
    uint16_t id;
    std::string name;
    uint16_t size;
    uint16_t type;  // value type of the container store
  };

  // Makes the disk file and attaches it to the Ifs front end.
  explicit RecordStoreBackend(const std::string& diskPath);
  ~RecordStoreBackend();
  RecordStoreBackend(const RecordStoreBackend&) = delete;
  RecordStoreBackend& operator=(const RecordStoreBackend&) = delete;

  // A table served under its name (the last part of a requested path).
  bool addTable(const std::string& name, const std::vector<Column>& columns);
  FileExHandle table(const std::string& name) const;

  // The reply to a request this backend serves; nothing for the others.
  std::optional<std::string> answer(const std::string& request);

  // Result lists and temporary indexes the service still keeps.
  size_t openLists() const { return lists_.size(); }
  size_t openIndexes() const { return indexes_.size(); }

 private:
  struct List {
    FileExHandle table = nullptr;
    IfsRecList list{};
    uint64_t total = 0;
  };
  struct TempIndex {
    FileExHandle index = nullptr;
    std::vector<uint16_t> columns;
  };
  struct PendingWrite {
    std::vector<IfsFieldValue> values;
    std::vector<std::string> bytes;
  };

  std::string listReply(uint32_t handle, uint32_t id);
  // The reply to a new result set over the table: kept as a list when it
  // holds records, else dropped with a "nothing found".
  std::string newListReply(uint32_t handle, FileExHandle table, FileExHandle set);
  bool refetch(List& list);

  FileExDiskHandle disk_ = nullptr;
  std::map<std::string, FileExHandle> tables_;
  std::map<uint32_t, FileExHandle> open_;
  std::map<uint32_t, List> lists_;
  std::map<uint32_t, TempIndex> indexes_;  // ids shared with the lists
  std::map<uint32_t, PendingWrite> pending_;
  uint32_t nextHandle_ = 0x7000;
  uint32_t nextList_ = 0x500;
};

}  // namespace testing_support
