// Saving record-buffer rows back to their tables: one slot at a time, or all
// slots of an owner at once, with unique-key checks, automatic numbers and a
// merge when another process changed the stored record since the row was read.
//
// The merge goes field by field: a field the user changed (its bytes differ
// from the saved copy) keeps the user's value, every other field takes the
// stored value. No field ends up holding bytes of both writers.
//
// Each row's read, compare and write run under the table's write hold, so no
// other process writes the record in between.
#include <cstring>
#include <set>

#include "lib/core/item_types.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/table_hold.h"
#include "platform/base/message_box.h"
#include "zemta/filebuf.h"

namespace zemta::fileproj {
namespace {

const char kMergeQuestion[] =
    "他のユーザーによって変更されているレコードを更新しようとしました。\nレコードの更新を強行しますか？\n\n"
    "※レコードの更新を強行すると、データがマージされます。";

constexpr int32_t kKindReset = 0x01000000;  // bit 24: an appended record starts the field at 0

int kindOf(const Field& f) { return f.kind() & 0xF; }
int subKindOf(const Field& f) { return (f.kind() >> 16) & 0xFF; }

bool isBitField(const Field& f) { return (f.fieldWord() >> 8) != 0 && f.size() <= 4; }

HWND windowOf(Project& p, BufferSet& set) { return set.window ? set.window : p.owner; }

// Merges the stored image into the row image field by field. false when the
// user declined.
bool mergeRow(Project& p, BufferSet& set, const TableEntry& entry, bool header, uint8_t* image, uint8_t* saved,
              const uint8_t* stored, size_t length, uint32_t& flags) {
  int answer = UnlockedMessageBox(windowOf(p, set), kMergeQuestion, entry.name(),
                                  platform::kMbOkCancel | platform::kMbIconWarning | platform::kMbDefButton2);
  if (answer != platform::kIdOk) return false;
  std::vector<uint8_t> out(length);
  // Bytes that belong to no field follow the same rule byte by byte.
  for (size_t i = 0; i < length; ++i) out[i] = image[i] != saved[i] ? image[i] : stored[i];
  const auto& fields = header ? entry.headerFields : entry.fields;
  for (const auto& f : fields) {
    if (f.offset() + f.size() > length || isBitField(f)) continue;
    const bool changed = std::memcmp(image + f.offset(), saved + f.offset(), f.size()) != 0;
    std::memcpy(out.data() + f.offset(), (changed ? image : stored) + f.offset(), f.size());
  }
  for (const auto& f : fields) {
    if (f.offset() + f.size() > length || !isBitField(f)) continue;
    uint32_t mine = GetBitData(f.size(), image + f.offset(), f.fieldWord(), false);
    uint32_t before = GetBitData(f.size(), saved + f.offset(), f.fieldWord(), false);
    uint32_t theirs = GetBitData(f.size(), stored + f.offset(), f.fieldWord(), false);
    SetBitData(f.fieldWord(), f.size(), out.data() + f.offset(), mine != before ? mine : theirs);
  }
  if (std::memcmp(out.data(), image, length) != 0) flags |= kRowChanged;
  std::memcpy(image, out.data(), length);
  std::memcpy(saved, stored, length);
  return true;
}

// The automatic values of a row about to be appended. 0, or -1.
int32_t drawAutomatic(Project& p, BufferSet& set, const TableEntry& entry, uint8_t* image) {
  for (const auto& f : entry.fields) {
    if (f.kind() & kKindReset) {
      if (isBitField(f))
        SetBitData(f.fieldWord(), f.size(), image + f.offset(), 0);
      else
        std::memset(image + f.offset(), 0, f.size());
    }
    if (subKindOf(f) != 1) continue;
    switch (kindOf(f)) {
      case 8:
        if (drawCounterNumber(p, f, image) < 0) return -1;
        break;
      case 0:
        writeFieldInteger(f, image, set.recordCount);
        break;
      case 6:  // derived by rule 1 (plus one), not a number of its own
        break;
      default:
        ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
        return -1;
    }
  }
  return 0;
}

// Key and derived fields that refer to another table take their values from
// the row shown first in that table's slot of the owner's sets.
void takeReferencedValues(Project& p, int32_t setNumber, const TableEntry& entry, uint8_t* image) {
  BufferSet& set = *p.sets[setNumber];
  for (const auto& f : entry.fields) {
    const int kind = kindOf(f);
    if ((kind != 3 && kind != 6) || f.refTable() == 0 || f.refTable() == static_cast<uint16_t>(entry.fdbId()))
      continue;
    const int32_t t = tableIndexOf(p, f.refTable());
    if (t < 0) continue;
    int32_t s = -1, k = -1;
    bool found = false;
    for (size_t m = 0; m < set.slots.size() && !found; ++m)
      if (set.slots[m].table == t && !set.slots[m].header()) {
        s = setNumber;
        k = static_cast<int32_t>(m);
        found = true;
      }
    if (!found && !(set.owner && findSlot(p, set.owner, t, -1, s, k))) continue;
    BufferSet& other = *p.sets[s];
    if (other.visible == 0 || other.mapAt(k, 0) == kNoRow) continue;
    const uint8_t* shown = other.image(other.slots[k], other.mapAt(k, 0));
    for (const auto& from : p.tables[t].fields)
      if (from.id() == f.refField()) copyFieldValue(from, shown, f, image);
  }
}

int32_t saveSlot(Project& p, int32_t setNumber, int32_t slotNumber, bool asNew, bool keepEdit) {
  BufferSet* setp = bufferSet(p, setNumber);
  if (!setp || slotNumber < 0 || static_cast<size_t>(slotNumber) >= setp->slots.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  BufferSet& set = *setp;
  BufferSlot& slot = set.slots[slotNumber];
  if (slot.header() && asNew) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (asNew) set.recordCount = 0;
  const TableEntry& entry = p.tables[slot.table];
  const size_t length = slot.size();
  std::vector<uint8_t> stored(length);
  for (int r = 0; r < slot.rows; ++r) {
    uint32_t& flags = slot.flags[r];
    const bool holds = (flags & kRowHoldsRecord) != 0;
    const bool storedRow = holds && slot.recordNumbers[r] >= 0;
    const bool edited = holds && (flags & kRowEdited);
    const bool release = (flags & kRowRelease) && !(flags & kRowEdited);
    const bool write = asNew ? (storedRow && edited) || (!(flags & kRowLeftOut) && (storedRow || edited))
                             : edited || release;
    uint8_t* image = set.image(slot, r);
    uint8_t* saved = set.saved(slot, r);
    if (!write) {
      if (asNew && storedRow) {
        std::memset(image, 0, length);
        flags |= kRowChanged;
        slot.recordNumbers[r] = -1;
      }
      continue;
    }
    TableHold hold;
    if (!hold.take(entry.table, FILEDB_MODE_READ_WRITE)) return -1;
    int32_t number = slot.recordNumbers[r];
    bool appended = false;
    if (slot.header()) {
      if (FileDBRead(entry.table, 0, stored.data(), static_cast<uint32_t>(length)) != static_cast<int32_t>(length)) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        return -1;
      }
      if (std::memcmp(stored.data(), saved, length) != 0 &&
          !mergeRow(p, set, entry, true, image, saved, stored.data(), length, flags))
        return 2;
      int32_t written = FileDBWrite(entry.table, 0, image, static_cast<uint32_t>(length));
      if (written != static_cast<int32_t>(length)) {
        if (written >= 0) ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        return -1;
      }
      number = 0;
    } else {
      appended = asNew || number < 0;
      if (appended) {
        ++set.recordCount;
        if (drawAutomatic(p, set, entry, image) < 0) return -1;
      }
      if (!release) {
        takeReferencedValues(p, setNumber, entry, image);
        if (notifyRow(p, setNumber, appended ? 9 : 8, nullptr, image) == -1) return -1;
      }
      if (!appended) {
        int32_t read = FileDBRecRead(entry.table, number, stored.data());
        if (read < 0) return -1;
        if (read == 1) {
          // The record is gone from under the row: it is stored anew.
          appended = true;
        } else if (std::memcmp(stored.data(), saved, length) != 0 &&
                   !mergeRow(p, set, entry, false, image, saved, stored.data(), length, flags)) {
          return 2;
        }
      }
      if (appended) {
        number = FileDBRecGetSize(entry.table);
        if (number < 0) return -1;
      }
      int32_t written = FileDBRecWrite(entry.table, number, image);
      if (written != 0) return written == 2 ? 2 : -1;
    }
    std::memcpy(saved, image, length);
    if (release) {
      flags &= ~(kRowHoldsRecord | kRowRelease);
      slot.recordNumbers[r] = -1;
      continue;
    }
    flags &= ~kRowNew;
    if (!(asNew && keepEdit)) flags &= ~kRowEdited;
    flags |= kRowHoldsRecord;
    if (appended) flags |= kRowChanged;
    slot.recordNumbers[r] = number;
    hold.release();
    if (notifyRow(p, setNumber, appended ? 13 : 12, nullptr, image) == -1) return -1;
  }
  return 0;
}

int32_t dupCheckSlot(Project& p, int32_t setNumber, int32_t slotNumber, bool asNew, HWND window) {
  BufferSet* setp = bufferSet(p, setNumber);
  if (!setp || slotNumber < 0 || static_cast<size_t>(slotNumber) >= setp->slots.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  BufferSet& set = *setp;
  BufferSlot& slot = set.slots[slotNumber];
  if (slot.header()) return 0;
  TableEntry& entry = p.tables[slot.table];
  for (int r = 0; r < slot.rows; ++r) {
    const uint32_t flags = slot.flags[r];
    if (!(flags & kRowHoldsRecord) || !(asNew || (flags & kRowEdited))) continue;
    uint8_t* image = set.image(slot, r);
    int32_t result = uniqueKeyCheck(p, entry, image, asNew ? nullptr : set.saved(slot, r),
                                    asNew ? -1 : slot.recordNumbers[r], window ? window : set.window, asNew);
    if (result < 0 || result == 3) return result;
    int32_t answer = notifyRow(p, setNumber, asNew ? 11 : 10, nullptr, image);
    if (answer != 0) return answer;
  }
  return 0;
}

bool isRecordLink(const Field& f) {
  return kindOf(f) == 0 && subKindOf(f) == 0 && f.size() == 4 && f.fieldWord() == 0 && f.refTable() != 0 &&
         f.refField() == 0;
}

// Tables tied to the main table: a record-number link either way, or a key
// field of theirs that refers to it.
bool tiedToMain(const Project& p, int32_t mainTable, int32_t table) {
  if (mainTable < 0) return false;
  if (table == mainTable) return true;
  const TableEntry& main = p.tables[mainTable];
  const TableEntry& other = p.tables[table];
  for (const auto& f : main.fields)
    if (isRecordLink(f) && f.refTable() == static_cast<uint16_t>(other.fdbId())) return true;
  for (const auto& f : other.fields)
    if ((isRecordLink(f) || kindOf(f) == 3) && f.refTable() == static_cast<uint16_t>(main.fdbId())) return true;
  return false;
}

Project* checkedProject(FileProjHandle handle) {
  if (FileProjCheckHandle(handle) < 0) return nullptr;
  return findProject(handle);
}

}  // namespace
}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

ZEMTA_API int32_t FileProjBufSaveRow(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t asNew,
                                     int32_t keepEdit) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  return saveSlot(*p, setNumber, slot, asNew != 0, keepEdit != 0);
}

ZEMTA_API int32_t FileProjBufDupCheck(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t asNew,
                                      HWND window) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  return dupCheckSlot(*p, setNumber, slot, asNew != 0, window);
}

ZEMTA_API int32_t FileProjBufSaveAll(FileProjHandle project, uint32_t owner, int32_t mainFdbId, int32_t asNew,
                                     HWND window) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  const int32_t mainTable = mainFdbId ? tableIndexOf(*p, mainFdbId) : -1;
  struct SlotRef {
    int32_t set, slot;
  };
  std::vector<SlotRef> slots;
  for (int32_t s = 0; s < static_cast<int32_t>(p->sets.size()); ++s) {
    if (owner && p->sets[s]->owner != owner) continue;
    for (int32_t k = 0; k < static_cast<int32_t>(p->sets[s]->slots.size()); ++k) slots.push_back({s, k});
  }
  // 1. Unique keys.
  for (const auto& r : slots) {
    const bool tied = asNew && tiedToMain(*p, mainTable, p->sets[r.set]->slots[r.slot].table);
    int32_t result = dupCheckSlot(*p, r.set, r.slot, tied, window);
    if (result != 0) return result;
  }
  // 2. Every table written, and every counter table, held for writing.
  std::vector<FileDBHandle> locked;
  std::set<int32_t> wanted;
  for (const auto& r : slots) {
    int32_t t = p->sets[r.set]->slots[r.slot].table;
    wanted.insert(t);
    for (const auto& f : p->tables[t].fields)
      if (isCounterField(f) && tableIndexOf(*p, f.refTable()) >= 0) wanted.insert(tableIndexOf(*p, f.refTable()));
  }
  auto unlockAll = [&]() {
    bool ok = true;
    for (FileDBHandle h : locked)
      if (FileDBCloseEx(h) != 0) ok = false;
    locked.clear();
    return ok;
  };
  for (int32_t t : wanted) {
    if (FileDBOpenEx(p->tables[t].table, FILEDB_MODE_READ_WRITE) != 0) {
      unlockAll();
      return -1;
    }
    locked.push_back(p->tables[t].table);
  }
  // 3. Linked tables first, their record numbers into the main rows, the main
  // table, then the rest.
  int32_t result = 0;
  std::vector<bool> done(slots.size(), false);
  const TableEntry* main = mainTable >= 0 ? &p->tables[mainTable] : nullptr;
  for (size_t i = 0; i < slots.size() && result == 0 && main; ++i) {
    BufferSet& set = *p->sets[slots[i].set];
    BufferSlot& slot = set.slots[slots[i].slot];
    bool linked = false;
    for (const auto& f : main->fields)
      if (isRecordLink(f) && f.refTable() == static_cast<uint16_t>(p->tables[slot.table].fdbId())) linked = true;
    if (!linked || slot.table == mainTable) continue;
    bool anyNew = false;
    for (int r = 0; r < slot.rows; ++r)
      if ((slot.flags[r] & kRowHoldsRecord) && slot.recordNumbers[r] < 0) anyNew = true;
    if (asNew || anyNew) result = saveSlot(*p, slots[i].set, slots[i].slot, asNew != 0, false);
    done[i] = true;
    if (result != 0) break;
    // The main rows take the linked rows' record numbers.
    for (const auto& r2 : slots) {
      BufferSet& mset = *p->sets[r2.set];
      BufferSlot& mslot = mset.slots[r2.slot];
      if (mslot.table != mainTable || r2.set != slots[i].set) continue;
      for (int r = 0; r < mslot.rows; ++r) {
        if (!(mslot.flags[r] & kRowHoldsRecord)) continue;
        const int lr = slot.rows == mslot.rows ? r : 0;
        for (const auto& f : main->fields) {
          if (!isRecordLink(f) || f.refTable() != static_cast<uint16_t>(p->tables[slot.table].fdbId())) continue;
          uint8_t* image = mset.image(mslot, r);
          uint32_t before = GetBitData(4, image + f.offset(), 0, false);
          uint32_t now = static_cast<uint32_t>(slot.recordNumbers[lr]);
          if (before == now) continue;
          SetBitData(0, 4, image + f.offset(), now);
          mslot.flags[r] |= kRowEdited;
        }
      }
    }
  }
  for (size_t i = 0; i < slots.size() && result == 0; ++i)
    if (!done[i] && p->sets[slots[i].set]->slots[slots[i].slot].table == mainTable) {
      result = saveSlot(*p, slots[i].set, slots[i].slot, asNew != 0, false);
      done[i] = true;
    }
  for (size_t i = 0; i < slots.size() && result == 0; ++i)
    if (!done[i]) {
      const bool tied = asNew && tiedToMain(*p, mainTable, p->sets[slots[i].set]->slots[slots[i].slot].table);
      result = saveSlot(*p, slots[i].set, slots[i].slot, tied, false);
      done[i] = true;
    }
  // 4. Unlock.
  if (!unlockAll() && result == 0) result = -1;
  return result;
}

ZEMTA_API int32_t FileProjBufSaveSets(FileProjHandle project, uint32_t owner) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  for (int32_t s = 0; s < static_cast<int32_t>(p->sets.size()); ++s) {
    if (owner && p->sets[s]->owner != owner) continue;
    for (int32_t k = 0; k < static_cast<int32_t>(p->sets[s]->slots.size()); ++k) {
      int32_t result = saveSlot(*p, s, k, false, false);
      if (result != 0) return result;
    }
  }
  int32_t result = 0;
  for (auto& set : p->sets) {
    if (owner && set->owner != owner) continue;
    for (auto& slot : set->slots)
      for (auto& f : slot.flags) {
        if (f & (kRowEdited | kRowPending)) result = -1;
        f &= ~(kRowHoldsRecord | kRowChanged);
      }
  }
  if (result < 0) ZEMTA_REPORT(ZEMTA_ERR_MEMORY_IN_USE);
  return result;
}
