// Record-buffer sets: up to 32 per project, each with one slot of buffer rows
// per table, a row map from visible positions to buffer rows and the visible
// entries the owner reads the shown images through (the entries' address is
// the set's handle).
//
// All images of a set are one block that never moves: the images of every
// slot, then their saved copies (as last read or written) at a fixed distance
// (the sum of all images), so that an address inside an image finds its row
// and its saved copy.
#include <cstdarg>
#include <cstring>

#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/table_hold.h"
#include "lib/store/tables/filedb_internal.h"
#include "zemta/filebuf.h"
#include "zemta/fileidx.h"
#include "zemta/view.h"

namespace zemta::fileproj {
namespace {

void mapRow(BufferSet& set, size_t slot, int position, uint16_t row) {
  set.mapAt(slot, position) = row;
  VisibleEntry& e = set.entries[slot * set.visible + position];
  if (row == kNoRow) {
    e = {};
  } else {
    e.length = static_cast<uint16_t>(set.slots[slot].size());
    e.image = set.image(set.slots[slot], row);
  }
}

// Lays the entries out for the set's visible count: identity mapping.
void layOut(BufferSet& set, bool identity) {
  std::fill(set.entries.begin(), set.entries.end(), VisibleEntry{});
  set.rowMap.assign(set.slots.size() * set.visible, kNoRow);
  if (!identity) return;
  for (size_t s = 0; s < set.slots.size(); ++s)
    for (int p = 0; p < set.visible; ++p) mapRow(set, s, p, static_cast<uint16_t>(p));
}

int32_t setNumberOf(Project& p, const void* handle) {
  for (size_t i = 0; i < p.sets.size(); ++i)
    if (handle && p.sets[i]->handle() == handle) return static_cast<int32_t>(i);
  return -1;
}

// The set and slot whose visible entries hold the entry address.
bool findEntry(Project& p, const void* address, BufferSet*& set, size_t& slot, int& position) {
  for (auto& s : p.sets) {
    const auto* first = reinterpret_cast<const uint8_t*>(s->entries.data());
    const auto* at = static_cast<const uint8_t*>(address);
    size_t used = s->slots.size() * s->visible;
    if (at < first || at >= first + used * sizeof(VisibleEntry)) continue;
    size_t n = static_cast<size_t>(at - first) / sizeof(VisibleEntry);
    set = s.get();
    slot = n / s->visible;
    position = static_cast<int>(n % s->visible);
    return true;
  }
  return false;
}

}  // namespace

BufferSet* bufferSet(Project& project, int32_t number) {
  if (number < 0 || static_cast<size_t>(number) >= project.sets.size()) return nullptr;
  return project.sets[number].get();
}

int32_t tableIndexOf(const Project& p, int32_t fdbId) {
  for (size_t i = 0; i < p.tables.size(); ++i)
    if (p.tables[i].fdbId() == fdbId) return static_cast<int32_t>(i);
  return -1;
}

void removeAllSets(Project& p) {
  for (auto& set : p.sets)
    for (auto& slot : set->slots)
      if (slot.list.items) FileDeleteRecList(&slot.list);
  p.sets.clear();
}

bool findRowAt(Project& p, const void* address, RowAt& at) {
  const auto* a = static_cast<const uint8_t*>(address);
  for (size_t s = 0; s < p.sets.size(); ++s) {
    BufferSet& set = *p.sets[s];
    const uint8_t* base = set.images.data();
    if (!address || a < base || a >= base + set.total) continue;
    size_t off = static_cast<size_t>(a - base);
    for (size_t k = 0; k < set.slots.size(); ++k) {
      const BufferSlot& slot = set.slots[k];
      size_t len = slot.rows * slot.size();
      if (off >= slot.imageAt && off < slot.imageAt + len) {
        at = {static_cast<int32_t>(s), static_cast<int32_t>(k), static_cast<int32_t>((off - slot.imageAt) / slot.size())};
        return true;
      }
    }
  }
  return false;
}

int32_t visiblePosition(BufferSet& set, size_t slot, int row) {
  for (int p = 0; p < set.visible; ++p)
    if (set.mapAt(slot, p) == row) return p;
  return -1;
}

bool findSlot(Project& p, uint32_t owner, int32_t tableIndex, int32_t after, int32_t& setNumber, int32_t& slot) {
  for (size_t s = after < 0 ? 0 : static_cast<size_t>(after) + 1; s < p.sets.size(); ++s) {
    BufferSet& set = *p.sets[s];
    if (owner && set.owner != owner) continue;
    for (size_t k = 0; k < set.slots.size(); ++k)
      if (set.slots[k].table == tableIndex) {
        setNumber = static_cast<int32_t>(s);
        slot = static_cast<int32_t>(k);
        return true;
      }
  }
  return false;
}

int32_t readRows(Project& p, int32_t setNumber, int32_t slotNumber, int32_t position, const FileRecList* list,
                 int32_t first) {
  BufferSet* set = bufferSet(p, setNumber);
  if (!set || slotNumber < 0 || static_cast<size_t>(slotNumber) >= set->slots.size() || position < -1 ||
      position >= set->visible) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  BufferSlot& slot = set->slots[slotNumber];
  if (slot.table < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  TableEntry& entry = p.tables[slot.table];
  const int from = position < 0 ? 0 : position;
  const int to = position < 0 ? set->visible - 1 : position;
  for (int q = from; q <= to; ++q) {
    uint16_t r = set->mapAt(slotNumber, q);
    if (r != kNoRow) slot.flags[r] &= ~kRowWatched;
  }
  TableHold hold;
  if (!hold.take(entry.table, FILEDB_MODE_READ)) return -1;
  const int32_t count = slot.header() ? 1 : FileDBRecGetSize(entry.table);
  if (count < 0) return -1;
  for (int q = from; q <= to; ++q) {
    const int32_t index = first + (q - from);
    int32_t wanted = index;
    if (list) wanted = index >= 0 && index < list->count && list->items ? static_cast<int32_t>(list->items[index]) : -1;
    const uint16_t before = set->mapAt(slotNumber, q);
    // A row that holds the record already is shown again; nothing is read.
    int found = -1;
    for (int r = 0; r < slot.rows && wanted >= 0 && found < 0; ++r)
      if ((slot.flags[r] & kRowHoldsRecord) && slot.recordNumbers[r] == wanted) found = r;
    if (found >= 0) {
      int elsewhere = visiblePosition(*set, slotNumber, found);
      if (elsewhere >= 0 && elsewhere != q) mapRow(*set, slotNumber, elsewhere, kNoRow);
      mapRow(*set, slotNumber, q, static_cast<uint16_t>(found));
      slot.flags[found] |= kRowWatched;
      if (before != found) slot.flags[found] |= kRowChanged;
      continue;
    }
    int take = -1;
    for (int r = 0; r < slot.rows && take < 0; ++r)
      if (!(slot.flags[r] & kRowHoldsRecord)) take = r;
    for (int r = 0; r < slot.rows && take < 0; ++r) {
      if (slot.flags[r] & (kRowEdited | kRowWatched | kRowPending)) continue;
      int shown = visiblePosition(*set, slotNumber, r);
      if (shown < 0 || shown == q) take = r;
    }
    if (take < 0) {
      mapRow(*set, slotNumber, q, kNoRow);
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return -1;
    }
    if (before != kNoRow && before != take) mapRow(*set, slotNumber, q, kNoRow);
    int other = visiblePosition(*set, slotNumber, take);
    if (other >= 0 && other != q) mapRow(*set, slotNumber, other, kNoRow);
    uint8_t* image = set->image(slot, take);
    auto failRow = [&]() {
      slot.flags[take] = 0;
      slot.recordNumbers[take] = -1;
      mapRow(*set, slotNumber, q, kNoRow);
      return -1;
    };
    bool fresh = false;
    if (slot.header()) {
      if (wanted != 0) {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
        return failRow();
      }
      if (FileDBRead(entry.table, 0, image, static_cast<uint32_t>(slot.size())) != static_cast<int32_t>(slot.size())) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
        return failRow();
      }
      slot.recordNumbers[take] = 0;
    } else if (wanted < 0 || wanted >= count) {
      fresh = true;
    } else {
      int32_t read = FileDBRecRead(entry.table, wanted, image);
      if (read < 0) return failRow();
      fresh = read == 1;
      slot.recordNumbers[take] = fresh ? -1 : wanted;
    }
    slot.flags[take] = kRowHoldsRecord | kRowChanged | kRowWatched;
    mapRow(*set, slotNumber, q, static_cast<uint16_t>(take));
    if (fresh) {
      std::memset(image, 0, slot.size());
      slot.recordNumbers[take] = -1;
      slot.flags[take] |= kRowNew;
      if (initRow(p, setNumber, slotNumber, q, image) < 0) return failRow();
      for (const auto& f : entry.fields)
        if ((f.kind() & 0xF) == 5 || ((f.kind() >> 16) & 0xFF) == 2)
          if (notifyRow(p, setNumber, 5, &f, image) < 0) return failRow();
    }
    std::memcpy(set->saved(slot, take), image, slot.size());
    if (notifyRow(p, setNumber, 7, nullptr, image) == -1) return failRow();
  }
  return 0;
}

}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

namespace {

Project* checkedProject(FileProjHandle handle) {
  if (FileProjCheckHandle(handle) < 0) return nullptr;
  return findProject(handle);
}

// The set and slot of the owner's sets (every set with owner 0) that serve
// the table; reports as FileProjGetBufFdb does.
bool ownerSlot(Project& p, uint32_t owner, int32_t fdbId, int32_t& setNumber, int32_t& slot) {
  if (p.tables.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return false;
  }
  // Bit 15 of the fdb id asks for the table's header slot.
  const bool header = (fdbId & 0x8000) != 0;
  int32_t t = fdbId ? tableIndexOf(p, fdbId & ~0x8000) : -1;
  for (int32_t after = -1; t >= 0 && findSlot(p, owner, t, after, setNumber, slot); after = setNumber) {
    BufferSet& set = *p.sets[setNumber];
    for (size_t k = static_cast<size_t>(slot); k < set.slots.size(); ++k)
      if (set.slots[k].table == t && set.slots[k].header() == header) {
        slot = static_cast<int32_t>(k);
        return true;
      }
  }
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return false;
}

FileProjBufHandle addSet(FileProjHandle handle, int32_t rows, int32_t tableCount, const int32_t* fdbIds) {
  Project* p = checkedProject(handle);
  if (!p) return nullptr;
  if (rows <= 0 || tableCount <= 0 || rows > 0xFFFF || !fdbIds) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  if (p->tables.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return nullptr;
  }
  if (p->sets.size() >= kMaxSets) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  auto set = std::make_unique<BufferSet>();
  set->rows = set->visible = static_cast<uint16_t>(rows);
  for (int32_t i = 0; i < tableCount; ++i) {
    BufferSlot slot;
    slot.fdbId = fdbIds[i];
    slot.table = tableIndexOf(*p, fdbIds[i] & ~0x8000);
    if (slot.table < 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return nullptr;
    }
    const TableEntry& e = p->tables[slot.table];
    slot.rows = set->rows;
    slot.imageLen = slot.header() ? e.headerLen() : e.recordLen();
    if (slot.imageLen == 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return nullptr;
    }
    slot.imageAt = set->total;
    set->total += static_cast<size_t>(slot.rows) * slot.size();
    slot.flags.assign(slot.rows, kRowWatched);
    slot.recordNumbers.assign(slot.rows, -1);
    set->slots.push_back(std::move(slot));
  }
  try {
    set->images.assign(2 * set->total, 0);
    set->entries.assign(set->slots.size() * set->rows, VisibleEntry{});
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  layOut(*set, true);
  FileProjBufHandle out = reinterpret_cast<FileProjBufHandle>(set->handle());
  p->sets.push_back(std::move(set));
  return out;
}

}  // namespace

static_assert(sizeof(VisibleEntry) == sizeof(FileProjBufEntry), "visible entries are the callers' entries");

ZEMTA_API FileProjBufHandle FileProjBufAdd(FileProjHandle project, int32_t rows, int32_t tableCount,
                                           const int32_t* fdbIds) {
  return addSet(project, rows, tableCount, fdbIds);
}

ZEMTA_API FileProjBufHandle FileProjBufAddV(FileProjHandle project, int32_t rows, int32_t tableCount, ...) {
  if (tableCount <= 0 || tableCount > 128) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  std::vector<int32_t> ids(static_cast<size_t>(tableCount));
  va_list args;
  va_start(args, tableCount);
  for (auto& id : ids) id = va_arg(args, int32_t);
  va_end(args);
  return addSet(project, rows, tableCount, ids.data());
}

ZEMTA_API int32_t FileProjBufBind(FileProjHandle project, uint32_t owner, HWND window, int32_t mainFdbId,
                                  uint16_t item) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  for (size_t s = 0; s < p->sets.size(); ++s) {
    BufferSet& set = *p->sets[s];
    if (set.owner) continue;
    if (!owner) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    set.owner = owner;
    set.window = window;
    set.item = item;
    set.mainTable = mainFdbId ? tableIndexOf(*p, mainFdbId) : -1;
    if (set.mainTable >= 0) {
      int32_t n = FileDBRecGetSize(p->tables[set.mainTable].table);
      set.recordCount = n < 0 ? 0 : n;
    }
    return static_cast<int32_t>(s);
  }
  ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
  return -1;
}

ZEMTA_API int32_t FileProjBufRemove(FileProjHandle project, FileProjBufHandle handle) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t n = setNumberOf(*p, handle);
  if (n < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  for (auto& slot : p->sets[n]->slots)
    if (slot.list.items) FileDeleteRecList(&slot.list);
  p->sets.erase(p->sets.begin() + n);
  return 0;
}

ZEMTA_API int32_t FileProjBufNumber(FileProjHandle project, FileProjBufHandle handle) {
  Project* p = findProject(project);
  return p ? setNumberOf(*p, handle) : -1;
}

ZEMTA_API int32_t FileProjBufSetRows(FileProjHandle project, FileProjBufHandle handle, int32_t visibleRows) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t n = setNumberOf(*p, handle);
  if (n < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  BufferSet& set = *p->sets[n];
  if (visibleRows < 0 || visibleRows > set.rows) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (visibleRows == set.visible) return 0;
  for (auto& slot : set.slots)
    for (auto& f : slot.flags) f &= ~kRowWatched;
  set.visible = static_cast<uint16_t>(visibleRows);
  layOut(set, false);
  return 0;
}

ZEMTA_API int32_t FileProjBufNextSet(FileProjHandle project, uint32_t owner, int32_t number) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  for (size_t s = number < 0 ? 0 : static_cast<size_t>(number) + 1; s < p->sets.size(); ++s)
    if (!owner || p->sets[s]->owner == owner) return static_cast<int32_t>(s);
  return -1;
}

ZEMTA_API int32_t FileProjBufRecordCount(FileProjHandle project, int32_t setNumber) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  BufferSet* set = bufferSet(*p, setNumber);
  if (!set) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return set->recordCount;
}

ZEMTA_API void* FileProjGetBufFdb(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row) {
  Project* p = checkedProject(project);
  if (!p) return nullptr;
  if (p->tables.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return nullptr;
  }
  int32_t setNumber = -1, slot = -1;
  if (fdbId == 0 || row < 0 || !ownerSlot(*p, owner, fdbId, setNumber, slot)) {
    if (fdbId == 0 || row < 0) ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  BufferSet& set = *p->sets[setNumber];
  if (row >= set.slots[slot].rows) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  int32_t position = visiblePosition(set, slot, row);
  if (position < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return nullptr;
  }
  return set.entries[slot * set.visible + position].image;
}

namespace {

// The flag word of a row of the owner's slot for the table; null (reported)
// for a bad project, table or row.
uint32_t* ownerRowFlags(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row) {
  Project* p = checkedProject(project);
  if (!p) return nullptr;
  int32_t setNumber = -1, slot = -1;
  if (!ownerSlot(*p, owner, fdbId, setNumber, slot)) return nullptr;
  BufferSlot& s = p->sets[setNumber]->slots[slot];
  if (row < 0 || row >= s.rows) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  return &s.flags[row];
}

}  // namespace

ZEMTA_API int32_t FileProjGetAct(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row) {
  const uint32_t* flags = ownerRowFlags(project, owner, fdbId, row);
  return flags ? static_cast<int32_t>(*flags) : -1;
}

ZEMTA_API int32_t FileProjSetAct(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row, uint32_t bits,
                                 int32_t set) {
  uint32_t* flags = ownerRowFlags(project, owner, fdbId, row);
  if (!flags) return -1;
  *flags = set ? (*flags | bits) : (*flags & ~bits);
  return 0;
}

ZEMTA_API uint32_t FileProjBufRowFlags(FileProjHandle project, const FileProjBufEntry* entry) {
  Project* p = checkedProject(project);
  if (!p) return 0;
  BufferSet* set = nullptr;
  size_t slot = 0;
  int position = 0;
  if (!findEntry(*p, entry, set, slot, position)) return 0;
  uint16_t row = set->mapAt(slot, position);
  return row == kNoRow ? 0 : set->slots[slot].flags[row];
}

ZEMTA_API int32_t FileProjBufSetFlag(FileProjHandle project, const FileProjBufEntry* entry, uint32_t bits,
                                     int32_t on) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  BufferSet* set = nullptr;
  size_t slot = 0;
  int position = 0;
  if (!findEntry(*p, entry, set, slot, position) || set->mapAt(slot, position) == kNoRow) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  uint32_t& f = set->slots[slot].flags[set->mapAt(slot, position)];
  f = on ? (f | bits) : (f & ~bits);
  return 0;
}

ZEMTA_API int32_t FileProjRbfSetAct(FileProjHandle project, const void* address, uint32_t bits, int32_t on) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  RowAt at;
  if (!findRowAt(*p, address, at)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  uint32_t& f = p->sets[at.set]->slots[at.slot].flags[at.row];
  f = on ? (f | bits) : (f & ~bits);
  return 0;
}

ZEMTA_API int32_t FileProjBufRecordNumber(FileProjHandle project, const void* address) {
  Project* p = checkedProject(project);
  if (!p) return -2;
  RowAt at;
  if (!findRowAt(*p, address, at)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -2;
  }
  return p->sets[at.set]->slots[at.slot].recordNumbers[at.row];
}

ZEMTA_API int32_t FileProjBufIsModify(FileProjHandle project, uint32_t owner) {
  Project* p = checkedProject(project);
  if (!p) return 0;
  for (auto& set : p->sets) {
    if (owner && set->owner != owner) continue;
    for (auto& slot : set->slots)
      for (uint32_t f : slot.flags)
        if (f & (kRowEdited | kRowRelease)) return 1;
  }
  return 0;
}

ZEMTA_API int32_t FileProjBufReadRow(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t position,
                                     FileRecList* list, int32_t first) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  return readRows(*p, setNumber, slot, position, list, first);
}

namespace {

// Shows the slot's list from entry first and refills what follows it.
int32_t showFrom(Project& p, int32_t setNumber, int32_t slot, int32_t first) {
  BufferSet& set = *p.sets[setNumber];
  BufferSlot& s = set.slots[slot];
  s.listPos = first;
  const FileRecList* list = s.list.items ? &s.list : nullptr;
  if (readRows(p, setNumber, slot, -1, list, first) < 0) return -1;
  return fillDependents(p, setNumber, slot);
}

}  // namespace

ZEMTA_API int32_t FileProjBufSetList(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t first,
                                     const FileRecList* list) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t setNumber = -1, slot = -1;
  if (!ownerSlot(*p, owner, fdbId, setNumber, slot)) return -1;
  BufferSet& set = *p->sets[setNumber];
  BufferSlot& s = set.slots[slot];
  if (s.list.items) FileDeleteRecList(&s.list);
  s.list = FileRecList{};
  if (list && list->count > 0 && list->items) {
    if (FileNewRecList(&s.list, list->count) != 0) return -1;
    std::memcpy(s.list.items, list->items, sizeof(uint32_t) * static_cast<size_t>(list->count));
    s.list.count = list->count;
  }
  if (set.mainTable == s.table) {
    set.recordCount = list ? list->count : FileDBRecGetSize(p->tables[s.table].table);
    if (set.recordCount < 0) set.recordCount = 0;
  }
  if (list && list->count == 0) {
    // An empty list shows nothing but new rows.
    FileRecList none{};
    s.listPos = first;
    if (readRows(*p, setNumber, slot, -1, &none, first) < 0) return -1;
    return fillDependents(*p, setNumber, slot);
  }
  return showFrom(*p, setNumber, slot, first);
}

ZEMTA_API int32_t FileProjBufScroll(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t first) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t setNumber = -1, slot = -1;
  if (!ownerSlot(*p, owner, fdbId, setNumber, slot)) return -1;
  BufferSlot& s = p->sets[setNumber]->slots[slot];
  if (s.listPos == first) return 0;
  return showFrom(*p, setNumber, slot, first);
}

ZEMTA_API int32_t FileProjBufSearch(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t fieldId) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t setNumber = -1, slot = -1;
  if (!ownerSlot(*p, owner, fdbId, setNumber, slot)) return -1;
  BufferSet& set = *p->sets[setNumber];
  BufferSlot& s = set.slots[slot];
  const TableEntry& entry = p->tables[s.table];
  const Field* field = nullptr;
  for (const auto& f : entry.fields)
    if (f.id() == fieldId) field = &f;
  if (!field || (field->kind() & 0xF) != 3 || s.header() || set.visible == 0 || set.mapAt(slot, 0) == kNoRow) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  filedb::Table* t = filedb::checkedTable(entry.table);
  if (!t) return -1;
  const int32_t index = FileGetIndexPos(entry.table, field->offset(), field->size(), 0);
  if (index < 0) return -1;
  uint8_t* image = set.image(s, set.mapAt(slot, 0));
  if (notifyRow(*p, setNumber, 14, field, image) == -1) return -1;
  std::vector<uint8_t> key(t->indexes[index].keyLen + 8u, 0);
  filedb::buildKey(t->indexes[index], image, key.data());
  const bool narrow = s.list.items != nullptr;
  int32_t found = narrow ? FileIdxAndSear(entry.table, index, key.data(), key.data(), &s.list, 0, 0)
                         : FileIdxSear(entry.table, index, key.data(), key.data(), &s.list, 0, 0);
  if (found < 0) return -1;
  if (notifyRow(*p, setNumber, 15, field, image) == -1) return -1;
  s.listPos = 0;
  FileRecList empty{};
  if (readRows(*p, setNumber, slot, -1, s.list.items ? &s.list : &empty, 0) < 0) return -1;
  if (set.owner) ViewItemAdjustRows(set.owner, set.item);
  if (set.mainTable == s.table) set.recordCount = s.list.count;
  if (fillDependents(*p, setNumber, slot) < 0) return -1;
  return s.list.count;
}

ZEMTA_API int32_t FileProjBufClearRows(FileProjHandle project, uint32_t owner, int32_t fdbId) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t setNumber = -1, slot = -1;
  if (!ownerSlot(*p, owner, fdbId, setNumber, slot)) return -1;
  BufferSet& set = *p->sets[setNumber];
  BufferSlot& s = set.slots[slot];
  for (int q = 0; q < set.visible; ++q) {
    uint16_t r = set.mapAt(slot, q);
    if (r == kNoRow) continue;
    std::memset(set.image(s, r), 0, s.size());
    s.flags[r] |= kRowChanged | kRowEdited;
  }
  return fillDependents(*p, setNumber, slot);
}

ZEMTA_API int32_t FileProjBufDropEdits(FileProjHandle project, uint32_t owner) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  for (auto& set : p->sets) {
    if (owner && set->owner != owner) continue;
    for (size_t k = 0; k < set->slots.size(); ++k) {
      BufferSlot& s = set->slots[k];
      for (int r = 0; r < s.rows; ++r) {
        if ((s.flags[r] & (kRowHoldsRecord | kRowEdited)) != (kRowHoldsRecord | kRowEdited)) continue;
        s.flags[r] = 0;
        s.recordNumbers[r] = -1;
        int q = visiblePosition(*set, k, r);
        if (q >= 0) mapRow(*set, k, q, kNoRow);
      }
    }
  }
  return 0;
}

ZEMTA_API int32_t FileProjBufClearChanged(FileProjHandle project, uint32_t owner) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  for (auto& set : p->sets) {
    if (owner && set->owner != owner) continue;
    for (auto& s : set->slots)
      for (auto& f : s.flags) f &= ~kRowChanged;
  }
  return 0;
}

ZEMTA_API int32_t FileProjBufVisiblePos(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t row) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  BufferSet* set = bufferSet(*p, setNumber);
  if (!set || slot < 0 || static_cast<size_t>(slot) >= set->slots.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return visiblePosition(*set, slot, row);
}

ZEMTA_API int32_t FileProjBufRefTable(FileProjHandle project, const void* address) {
  Project* p = checkedProject(project);
  if (!p) return 0;
  RowAt at;
  if (!findRowAt(*p, address, at)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  BufferSet& set = *p->sets[at.set];
  BufferSlot& slot = set.slots[at.slot];
  if (slot.header()) return 0;
  const TableEntry& entry = p->tables[slot.table];
  size_t offset = static_cast<size_t>(static_cast<const uint8_t*>(address) - set.image(slot, at.row));
  const Field* f = fieldAt(entry, false, offset);
  if (!f) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  int kind = f->kind() & 0xF;
  if (kind != 1 && kind != 9) return 0;
  for (size_t k = 0; k < set.slots.size(); ++k) {
    const BufferSlot& other = set.slots[k];
    if (k == static_cast<size_t>(at.slot) || other.header() || p->tables[other.table].fdbId() != f->refTable()) continue;
    for (uint32_t flags : other.flags)
      if (flags & kRowHoldsRecord) return f->refTable();
  }
  return 0;
}
