// Borrowed indexes: a table of a project takes a copy of the entry of
// another table's index, marked with where it came from (the source table,
// its index, the index of the linking field there and the own index whose
// field the link refers to). The copy shares the source table's live B-tree:
// it opens no file of its own, so nothing left in the temporary folder by an
// earlier run can ever be read as its entries. Every index operation of the
// borrowing table (writes, deletes, checks, searches) skips borrowed entries.
#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/tables/filedb_internal.h"
#include "zemta/fileidx.h"
#include "zemta/tempidx.h"

using namespace zemta;
using namespace zemta::fileproj;

ZEMTA_API int32_t FileAddIndIndex(uint32_t project, int32_t fdbId, int32_t sourceFdbId, int32_t linkOffset,
                                  int32_t keyOffset, int32_t keyLen) {
  TableEntry* borrower = FileProjFindTable(project, fdbId);
  if (!borrower) return -1;
  TableEntry* source = FileProjFindTable(project, sourceFdbId);
  if (!source) return -1;
  filedb::Table* t = filedb::checkedTable(borrower->table);
  filedb::Table* s = filedb::checkedTable(source->table);
  if (!t || !s) return -1;
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  if (t->indexes.size() >= filedb::kMaxIndexes) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  const int32_t sourceIndex = FileGetIndexPos(s->handle, keyOffset, keyLen, 0);
  if (sourceIndex < 0 || sourceIndex == FILEIDX_RECORD_ORDER) {
    if (sourceIndex == FILEIDX_RECORD_ORDER) ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const Field* link = nullptr;
  for (const auto& f : source->fields)
    if (f.offset() == linkOffset) {
      link = &f;
      break;
    }
  if (!link) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const int32_t linkIndex = FileGetIndexPos(s->handle, link->offset(), link->size(), 0);
  if (linkIndex < 0) return -1;
  int32_t ownIndex = -1;
  for (size_t i = 0; i < t->indexes.size() && ownIndex < 0; ++i) {
    const filedb::IndexEntry& e = t->indexes[i];
    if (!e.own() || e.composite()) continue;
    for (const auto& f : borrower->fields)
      if (f.offset() == e.keyDesc && (f.fieldWord() & 0xFF) == (e.fieldWord & 0xFF) &&
          f.id() == static_cast<int32_t>(link->refField())) {
        ownIndex = static_cast<int32_t>(i);
        break;
      }
  }
  const filedb::IndexEntry& from = s->indexes[sourceIndex];
  if (ownIndex < 0 || !from.own()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILEDB_HANDLE);
    return -1;
  }
  filedb::IndexEntry borrowed = from;
  borrowed.state = 0;
  borrowed.sourceTable = sourceFdbId;
  borrowed.sourceIndex = sourceIndex;
  borrowed.linkIndex = linkIndex;
  borrowed.ownIndex = ownIndex;
  t->indexes.push_back(borrowed);
  return 0;
}
