// Automatic numbers: a field of kind 8 with sub-kind 1 takes its number from
// a counter kept in the referenced field of the referenced table's header (or
// record 0). The counter holds the highest number given so far; a new record
// takes the next one, one past it, and the counter moves on to it. The
// unique-key check of a new record and the save of new buffer rows both draw
// through here, so that neither hands out a number twice nor skips one.
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "zemta/filedb.h"

namespace zemta::fileproj {

namespace {
constexpr int32_t kFlagModulo = 0x10000000;  // bit 28: numbers kept below 10000
}

bool isCounterField(const Field& field) {
  return (field.kind() & 0xF) == 8 && ((field.kind() >> 16) & 0xFF) == 1;
}

int32_t drawCounterNumber(Project& p, const Field& field, uint8_t* image) {
  const TableEntry* counter = nullptr;
  for (const auto& e : p.tables)
    if (e.fdbId() == field.refTable()) counter = &e;
  if (!counter) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return -1;
  }
  const Field* source = nullptr;
  int32_t record = -1;
  for (const auto& f : counter->headerFields)
    if (f.id() == field.refField()) source = &f;
  if (!source) {
    record = 0;
    for (const auto& f : counter->fields)
      if (f.id() == field.refField()) source = &f;
  }
  if (!source) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return -1;
  }
  // One step under the counter table's write hold: read, raise, write back.
  FileFieldPlace place{source->offset(), source->size(), source->fieldWord()};
  const int32_t given = FileDBUpdateOffset(counter->table, record, &place, 1);
  if (given == -1) return -1;
  int64_t number = static_cast<uint32_t>(given);
  if (field.kind() & kFlagModulo) number %= 10000;
  writeFieldInteger(field, image, number);
  return 0;
}

}  // namespace zemta::fileproj
