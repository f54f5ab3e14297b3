// Holds a project table's file (and its indexes) open for the length of a
// scope, so that several reads and writes of one operation see no other
// process in between. A table already held (by the caller or FileDBOpenEx)
// is left as it is.
#pragma once

#include "lib/core/report.h"
#include "lib/store/tables/filedb_internal.h"

namespace zemta::fileproj {

class TableHold {
 public:
  TableHold() = default;
  TableHold(const TableHold&) = delete;
  TableHold& operator=(const TableHold&) = delete;
  ~TableHold() { release(); }

  bool take(FileDBHandle handle, uint32_t mode) {
    release();
    table_ = filedb::checkedTable(handle);
    if (!table_) return false;
    if (table_->held || table_->heldEx) return true;
    if (!filedb::holdTable(*table_, mode)) return false;
    mine_ = true;
    return true;
  }
  void release() {
    if (mine_ && table_) filedb::releaseHold(*table_);
    mine_ = false;
  }

 private:
  filedb::Table* table_ = nullptr;
  bool mine_ = false;
};

}  // namespace zemta::fileproj
