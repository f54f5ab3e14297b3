// References, derived and calculated fields of record-buffer sets: how the
// slots of an owner's sets follow each other when a value changes, the values
// a new row inherits, lines inserted into and deleted from a detail list, the
// reference check and rewrite across tables, and rows refreshed from their
// tables.
//
// Field kinds (low four bits of the descriptor's kind word): 0 plain (with
// sub-kind 1 a line number), 1 and 9 reference, 2 detail key, 3 key field, 4
// inherited, 5 calculated by the window, 6 derived from another field of the
// record by the rule in the sub-kind (bits 16-23), 7 calculated here from a
// chain of operand fields, 8 drawn from record 0 (or the header) of another
// table. A record-number link is a plain 4-byte whole field whose reference
// names a table and no field: it holds a record number of that table.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/item_types.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/table_hold.h"
#include "lib/store/tables/filedb_internal.h"
#include "zemta/date.h"
#include "zemta/filebuf.h"
#include "zemta/fileidx.h"
#include "zemta/tax.h"

namespace zemta::fileproj {
namespace {

constexpr int32_t kFlagModulo = 0x10000000;  // bit 28: numbers kept below 10000
constexpr uint16_t kDateType = 14;

int kindOf(const Field& f) { return f.kind() & 0xF; }
int subKindOf(const Field& f) { return (f.kind() >> 16) & 0xFF; }

bool isText(const Field& f) { return f.typeCode() < 2; }
bool isFloat(const Field& f) { return IsFloatType(f.typeCode()) && (f.size() == 4 || f.size() == 8); }
bool isNumber(const Field& f) { return !isText(f) && (isFloat(f) || f.size() <= 4 || f.size() == 8); }

struct Value {
  enum Kind { kText, kInt, kFloat, kBytes } kind = kInt;
  int64_t i = 0;
  double d = 0;
  std::string bytes;
  double asDouble() const { return kind == kFloat ? d : static_cast<double>(i); }
  int64_t asInt() const { return kind == kFloat ? static_cast<int64_t>(d) : i; }
};

Value readValue(const Field& f, const uint8_t* image) {
  const uint8_t* at = image + f.offset();
  Value v;
  if (isText(f)) {
    v.kind = Value::kText;
    v.bytes = fixedText(at, f.size());
  } else if (isFloat(f)) {
    v.kind = Value::kFloat;
    if (f.size() == 8) {
      std::memcpy(&v.d, at, 8);
    } else {
      float x;
      std::memcpy(&x, at, 4);
      v.d = x;
    }
  } else if (f.size() <= 4) {
    bool sign = IsSignedIntType(f.typeCode());
    uint32_t raw = GetBitData(f.size(), at, f.fieldWord(), sign);
    v.i = sign ? static_cast<int64_t>(static_cast<int32_t>(raw)) : static_cast<int64_t>(raw);
  } else if (f.size() == 8) {
    std::memcpy(&v.i, at, 8);
  } else {
    v.kind = Value::kBytes;
    v.bytes.assign(reinterpret_cast<const char*>(at), f.size());
  }
  return v;
}

void writeValue(const Field& f, uint8_t* image, const Value& v) {
  uint8_t* at = image + f.offset();
  if (isText(f) || !isNumber(f)) {
    std::string text = v.bytes;
    if (v.kind == Value::kInt) text = std::to_string(v.i);
    if (v.kind == Value::kFloat) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.15g", v.d);
      text = buffer;
    }
    std::memset(at, 0, f.size());
    std::memcpy(at, text.data(), std::min<size_t>(text.size(), f.size()));
    return;
  }
  Value n = v;
  if (v.kind == Value::kText || v.kind == Value::kBytes) {
    n.kind = Value::kFloat;
    n.d = std::strtod(v.bytes.c_str(), nullptr);
  }
  if (isFloat(f)) {
    double d = n.asDouble();
    if (f.size() == 8) {
      std::memcpy(at, &d, 8);
    } else {
      float x = static_cast<float>(d);
      std::memcpy(at, &x, 4);
    }
  } else if (f.size() <= 4) {
    SetBitData(f.fieldWord(), f.size(), at, static_cast<uint32_t>(n.asInt()));
  } else {
    int64_t x = n.asInt();
    std::memcpy(at, &x, 8);
  }
}

// A 2-byte date is a DOS date; a wider one the typed data's date (full year
// shifted left 9, month left 5, day).
uint32_t stepDate(uint32_t date, size_t size, int rule) {
  if (date == 0) return 0;
  if (size <= 2) {
    auto d = static_cast<uint16_t>(date);
    return rule == 8 ? GetTomorrow(d) : GetYesterday(GetNextMonth(d));
  }
  if (rule == 8) return GetTomorrowEx(date);
  uint32_t year = date >> 9, month = (date >> 5) & 0xF, day = date & 0x1F;
  if (year < 1980 || year > 2107) return date;
  auto dos = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  uint16_t next = GetYesterday(GetNextMonth(dos));
  return ((1980u + (next >> 9)) << 9) | (((next >> 5) & 0xF) << 5) | (next & 0x1F);
}

// The derived value of field to, made from the source field's value.
void derive(const Field& from, const uint8_t* source, const Field& to, uint8_t* target) {
  const int rule = subKindOf(to);
  if (rule == 1) {
    Value v = readValue(from, source);
    int64_t n = v.asInt() + 1;
    if (to.kind() & kFlagModulo) n %= 10000;
    Value out;
    out.i = n;
    writeValue(to, target, out);
  } else if ((rule == 8 || rule == 9) && from.typeCode() == kDateType && from.size() <= 4) {
    Value v = readValue(from, source);
    Value out;
    out.i = stepDate(static_cast<uint32_t>(v.i), from.size(), rule);
    writeValue(to, target, out);
  } else {
    copyFieldValue(from, source, to, target);
  }
}

const Field* fieldById(const TableEntry& entry, int32_t id, bool& header) {
  for (const auto& f : entry.fields)
    if (f.id() == id) {
      header = false;
      return &f;
    }
  for (const auto& f : entry.headerFields)
    if (f.id() == id) {
      header = true;
      return &f;
    }
  return nullptr;
}

const TableEntry* entryOf(const Project& p, int32_t fdbId) {
  int32_t t = tableIndexOf(p, fdbId);
  return t < 0 ? nullptr : &p.tables[t];
}

// The image shown at a position of a slot, null when none.
uint8_t* shownImage(BufferSet& set, size_t slot, int position) {
  if (position < 0 || position >= set.visible) return nullptr;
  uint16_t row = set.mapAt(slot, position);
  return row == kNoRow ? nullptr : set.image(set.slots[slot], row);
}

// The slot of a table in the set, or else in the owner's other sets.
bool slotOfTable(Project& p, int32_t setNumber, int32_t tableIndex, int32_t& outSet, int32_t& outSlot) {
  BufferSet& set = *p.sets[setNumber];
  for (size_t k = 0; k < set.slots.size(); ++k)
    if (set.slots[k].table == tableIndex && !set.slots[k].header()) {
      outSet = setNumber;
      outSlot = static_cast<int32_t>(k);
      return true;
    }
  if (!set.owner) return false;
  return findSlot(p, set.owner, tableIndex, -1, outSet, outSlot) && !p.sets[outSet]->slots[outSlot].header();
}

// The record of the referenced table whose key in the index of the
// referenced field equals value; -1 when none (or the value is empty text).
int32_t findByKey(Project& p, const Field& from, const uint8_t* image, const TableEntry& target, const Field& key) {
  if (isText(from) && image[from.offset()] == 0) return -1;
  filedb::Table* t = filedb::findTable(target.table);
  if (!t) return -1;
  int32_t index = FileGetIndexPos(target.table, key.offset(), key.size(), 1);
  if (index < 0 || static_cast<size_t>(index) >= t->indexes.size()) return -1;
  std::vector<uint8_t> record(target.recordLen(), 0);
  copyFieldValue(from, image, key, record.data());
  std::vector<uint8_t> k(t->indexes[index].keyLen + 8u, 0);
  filedb::buildKey(t->indexes[index], record.data(), k.data());
  int32_t first = -1;
  int32_t found = FileIdxEqu(target.table, index, &first, k.data());
  return found > 0 ? first : -1;
}

bool isRecordLink(const Field& f) {
  return kindOf(f) == 0 && subKindOf(f) == 0 && f.size() == 4 && f.fieldWord() == 0 && f.refTable() != 0 &&
         f.refField() == 0;
}

int32_t fillFrom(Project& p, int32_t setNumber, int32_t slotNumber);

// Refills one target slot position by position from record numbers.
int32_t fillTarget(Project& p, int32_t setNumber, int32_t targetSlot, const std::vector<int32_t>& wanted) {
  BufferSet& set = *p.sets[setNumber];
  for (int q = 0; q < set.visible; ++q)
    if (readRows(p, setNumber, targetSlot, q, nullptr, wanted[q]) < 0) return -1;
  set.slots[targetSlot].current = true;
  return fillFrom(p, setNumber, targetSlot);
}

int32_t fillFrom(Project& p, int32_t setNumber, int32_t slotNumber) {
  BufferSet& set = *p.sets[setNumber];
  if (set.slots[slotNumber].header()) return 0;
  const TableEntry& entry = p.tables[set.slots[slotNumber].table];
  for (const auto& f : entry.fields) {
    const int kind = kindOf(f);
    const bool link = isRecordLink(f);
    if (!link && kind != 1 && kind != 2 && kind != 3) continue;
    const int32_t targetTable = tableIndexOf(p, f.refTable());
    if (targetTable < 0) continue;
    const TableEntry& target = p.tables[targetTable];
    if (kind == 2) {
      if (set.slots[slotNumber].rows != 1) continue;
      bool header = false;
      const Field* key = fieldById(target, f.refField(), header);
      uint8_t* image = shownImage(set, slotNumber, 0);
      if (!key || header || !image) continue;
      int32_t index = FileGetIndexPos(target.table, key->offset(), key->size(), 1);
      filedb::Table* t = filedb::findTable(target.table);
      if (index < 0 || !t || static_cast<size_t>(index) >= t->indexes.size()) continue;
      std::vector<uint8_t> record(target.recordLen(), 0);
      copyFieldValue(f, image, *key, record.data());
      std::vector<uint8_t> k(t->indexes[index].keyLen + 8u, 0);
      filedb::buildKey(t->indexes[index], record.data(), k.data());
      for (int32_t s = 0; s < static_cast<int32_t>(p.sets.size()); ++s) {
        BufferSet& other = *p.sets[s];
        if (s != setNumber && (!set.owner || other.owner != set.owner)) continue;
        for (size_t k2 = 0; k2 < other.slots.size(); ++k2) {
          BufferSlot& slot = other.slots[k2];
          if (slot.table != targetTable || slot.header() || slot.current) continue;
          if (slot.list.items) FileDeleteRecList(&slot.list);
          slot.list = FileRecList{};
          if (FileIdxSear(target.table, index, k.data(), k.data(), &slot.list, 0, 0) < 0) return -1;
          slot.listPos = 0;
          slot.current = true;
          FileRecList empty{};
          if (readRows(p, s, static_cast<int32_t>(k2), -1, slot.list.items ? &slot.list : &empty, 0) < 0) return -1;
          if (fillFrom(p, s, static_cast<int32_t>(k2)) < 0) return -1;
        }
      }
      continue;
    }
    int32_t targetSlot = -1;
    for (size_t k = 0; k < set.slots.size(); ++k)
      if (set.slots[k].table == targetTable && !set.slots[k].header() && static_cast<int32_t>(k) != slotNumber)
        targetSlot = static_cast<int32_t>(k);
    if (targetSlot < 0 || set.slots[targetSlot].current) continue;
    std::vector<int32_t> wanted(set.visible, -1);
    bool header = false;
    const Field* key = link ? nullptr : fieldById(target, f.refField(), header);
    if (!link && (!key || header)) continue;
    for (int q = 0; q < set.visible; ++q) {
      uint8_t* image = shownImage(set, slotNumber, q);
      if (!image) continue;
      if (link) {
        uint32_t n = GetBitData(4, image + f.offset(), 0, false);
        wanted[q] = n > 0x7FFFFFFFu ? -1 : static_cast<int32_t>(n);
      } else {
        wanted[q] = findByKey(p, f, image, target, *key);
      }
    }
    if (fillTarget(p, setNumber, targetSlot, wanted) < 0) return -1;
  }
  return 0;
}

void clearMarks(Project& p, uint32_t owner, int32_t setNumber) {
  for (int32_t s = 0; s < static_cast<int32_t>(p.sets.size()); ++s) {
    if (s != setNumber && (!owner || p.sets[s]->owner != owner)) continue;
    for (auto& slot : p.sets[s]->slots) slot.current = false;
  }
}

// The calculated field that takes the changed field as an operand: the head
// of the chain that runs through it. An operand that is itself of kind 7 and
// does not end its chain (operator 3) belongs to the chain of the field that
// refers to it.
struct FieldRef {
  int32_t set = -1, slot = -1;
  const Field* field = nullptr;
};

FieldRef referrer(Project& p, uint32_t owner, int32_t homeSet, int32_t fdbId, int32_t fieldId) {
  for (int32_t s = 0; s < static_cast<int32_t>(p.sets.size()); ++s) {
    BufferSet& set = *p.sets[s];
    if (s != homeSet && (!owner || set.owner != owner)) continue;
    for (size_t k = 0; k < set.slots.size(); ++k) {
      const BufferSlot& slot = set.slots[k];
      const TableEntry& e = p.tables[slot.table];
      for (const auto& f : slot.header() ? e.headerFields : e.fields)
        if (kindOf(f) == 7 && f.refTable() == fdbId && f.refField() == fieldId)
          return {s, static_cast<int32_t>(k), &f};
    }
  }
  return {};
}

int32_t calculateFrom(Project& p, uint32_t owner, int32_t setNumber, int32_t slotNumber, int32_t row,
                      const Field* changed) {
  int32_t result = 0;
  for (int guard = 0; guard < 64 && changed; ++guard) {
    BufferSet& home = *p.sets[setNumber];
    int32_t fdb = p.tables[home.slots[slotNumber].table].fdbId();
    FieldRef head = referrer(p, owner, setNumber, fdb, changed->id());
    if (!head.field) return result;
    for (int up = 0; up < 64; ++up) {
      const int op = subKindOf(*head.field);
      if (op == 3) break;
      FieldRef above =
          referrer(p, owner, head.set, p.tables[p.sets[head.set]->slots[head.slot].table].fdbId(), head.field->id());
      if (!above.field) break;
      head = above;
    }
    BufferSet& cset = *p.sets[head.set];
    BufferSlot& cslot = cset.slots[head.slot];
    const int32_t crow = cslot.rows == home.slots[slotNumber].rows ? row : 0;
    if (visiblePosition(cset, head.slot, crow) < 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
      return -1;
    }
    const int cpos = visiblePosition(cset, head.slot, crow);
    bool floating = isFloat(*head.field);
    int64_t iresult = 0;
    double dresult = 0;
    bool marked = false;
    double noted = 0;
    FieldRef taxField;
    uint8_t* taxImage = nullptr;
    const Field* operand = nullptr;
    int32_t opSet = -1, opSlot = -1;
    const TableEntry* opEntry = entryOf(p, head.field->refTable());
    bool header = false;
    if (opEntry) operand = fieldById(*opEntry, head.field->refField(), header);
    for (int step = 0; operand && step < 256; ++step) {
      const int op = subKindOf(*operand);
      if (!slotOfTable(p, head.set, static_cast<int32_t>(opEntry - p.tables.data()), opSet, opSlot)) break;
      BufferSet& oset = *p.sets[opSet];
      BufferSlot& oslot = oset.slots[opSlot];
      std::vector<uint8_t*> images;
      if (oslot.rows == cslot.rows) {
        if (uint8_t* image = shownImage(oset, opSlot, cpos)) images.push_back(image);
      } else if (cslot.rows == 1) {
        for (int q = 0; q < oset.visible; ++q)
          if (uint8_t* image = shownImage(oset, opSlot, q)) images.push_back(image);
      }
      if (op == 11) {
        marked = true;
        noted = floating ? dresult : static_cast<double>(iresult);
        taxField = {opSet, opSlot, operand};
        taxImage = images.empty() ? nullptr : images.front();
      } else {
        for (uint8_t* image : images) {
          Value v = readValue(*operand, image);
          if (v.kind == Value::kFloat && !floating) {
            floating = true;
            dresult = static_cast<double>(iresult);
          }
          if (floating) {
            double x = v.asDouble();
            switch (op) {
              case 3: case 4: dresult += x; break;
              case 5: dresult -= x; break;
              case 6: dresult *= x; break;
              case 13: if (x != 0) dresult *= x; break;
              case 7: if (x != 0) dresult /= x; break;  // a zero divisor leaves the result as it was
              default: break;
            }
          } else {
            int64_t x = v.asInt();
            switch (op) {
              case 3: case 4: iresult += x; break;
              case 5: iresult -= x; break;
              case 6: iresult *= x; break;
              case 13: if (x != 0) iresult *= x; break;
              case 7: if (x != 0) iresult /= x; break;
              default: break;
            }
          }
        }
      }
      if (kindOf(*operand) != 7 || op == 3) break;
      opEntry = entryOf(p, operand->refTable());
      operand = opEntry ? fieldById(*opEntry, operand->refField(), header) : nullptr;
    }
    if (marked) {
      double final = floating ? dresult : static_cast<double>(iresult);
      double tax = (final - noted) * static_cast<double>(g_nTaxRate[0]) / 10000.0;
      const double nudge = 0.01 - 1e-13;
      tax = tax > 0 ? std::trunc(tax + nudge) : tax < 0 ? std::trunc(tax - nudge) : 0;
      if (taxImage) {
        Value t;
        t.i = static_cast<int64_t>(tax);
        t.d = tax;
        t.kind = isFloat(*taxField.field) ? Value::kFloat : Value::kInt;
        writeValue(*taxField.field, taxImage, t);
        RowAt at;
        if (findRowAt(p, taxImage, at)) p.sets[at.set]->slots[at.slot].flags[at.row] |= kRowChanged | kRowEdited;
      }
      if (floating)
        dresult += tax;
      else
        iresult += static_cast<int64_t>(tax);
    }
    uint8_t* cimage = cset.image(cslot, crow);
    std::vector<uint8_t> before(cimage + head.field->offset(), cimage + head.field->offset() + head.field->size());
    Value out;
    out.kind = floating ? Value::kFloat : Value::kInt;
    out.i = iresult;
    out.d = dresult;
    writeValue(*head.field, cimage, out);
    if (std::memcmp(before.data(), cimage + head.field->offset(), before.size()) == 0) return result;
    cslot.flags[crow] |= kRowChanged | kRowEdited;
    result = 2;
    setNumber = head.set;
    slotNumber = head.slot;
    row = crow;
    changed = head.field;
  }
  return result;
}

Project* checkedProject(FileProjHandle handle) {
  if (FileProjCheckHandle(handle) < 0) return nullptr;
  return findProject(handle);
}

}  // namespace

const Field* fieldAt(const TableEntry& entry, bool header, size_t offset) {
  for (const auto& f : header ? entry.headerFields : entry.fields)
    if (offset >= f.offset() && offset < static_cast<size_t>(f.offset()) + f.size()) return &f;
  return nullptr;
}

void writeFieldInteger(const Field& field, uint8_t* image, int64_t value) {
  Value v;
  v.i = value;
  writeValue(field, image, v);
}

void copyFieldValue(const Field& from, const uint8_t* source, const Field& to, uint8_t* target) {
  if (isText(from) && isText(to)) {
    std::string text = fixedText(source + from.offset(), from.size());
    std::memset(target + to.offset(), 0, to.size());
    std::memcpy(target + to.offset(), text.data(), std::min<size_t>(text.size(), to.size()));
    return;
  }
  if (!isNumber(from) && !isText(from) && !isNumber(to) && !isText(to)) {
    std::memset(target + to.offset(), 0, to.size());
    std::memcpy(target + to.offset(), source + from.offset(), std::min(from.size(), to.size()));
    return;
  }
  writeValue(to, target, readValue(from, source));
}

int32_t refreshDerived(const TableEntry& entry, const Field& changed, uint8_t* image) {
  for (const auto& f : entry.fields) {
    if (kindOf(f) != 6 || f.refField() != changed.id() ||
        (f.refTable() != 0 && f.refTable() != static_cast<uint16_t>(entry.fdbId())))
      continue;
    derive(changed, image, f, image);
  }
  return 0;
}

int32_t initRow(Project& p, int32_t setNumber, int32_t slotNumber, int32_t position, uint8_t* image) {
  BufferSet& set = *p.sets[setNumber];
  BufferSlot& slot = set.slots[slotNumber];
  if (slot.header()) return 0;
  const TableEntry& entry = p.tables[slot.table];
  for (const auto& f : entry.fields) {
    const int kind = kindOf(f);
    if (kind != 4 && kind != 8) continue;
    const int32_t refTable = tableIndexOf(p, f.refTable());
    if (refTable < 0) continue;
    const TableEntry& source = p.tables[refTable];
    bool header = false;
    const Field* from = fieldById(source, f.refField(), header);
    if (!from) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return -1;
    }
    if (kind == 4) {
      int32_t s = -1, k = -1;
      if (header || !slotOfTable(p, setNumber, refTable, s, k)) continue;
      uint8_t* shown = shownImage(*p.sets[s], k, position);
      if (!shown) continue;
      copyFieldValue(*from, shown, f, image);
    } else {
      std::vector<uint8_t> stored(header ? source.headerLen() : source.recordLen(), 0);
      if (header) {
        if (FileDBRead(source.table, 0, stored.data(), static_cast<uint32_t>(stored.size())) < 0) return -1;
      } else if (FileDBRecRead(source.table, 0, stored.data()) < 0) {
        return -1;
      }
      copyFieldValue(*from, stored.data(), f, image);
    }
    refreshDerived(entry, f, image);
  }
  return 0;
}

int32_t fillDependents(Project& p, int32_t setNumber, int32_t slotNumber) {
  BufferSet& set = *p.sets[setNumber];
  clearMarks(p, set.owner, setNumber);
  set.slots[slotNumber].current = true;
  return fillFrom(p, setNumber, slotNumber);
}

int32_t recalculate(Project& p, uint32_t owner, const void* address) {
  RowAt at;
  if (!findRowAt(p, address, at)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  BufferSet& set = *p.sets[at.set];
  BufferSlot& slot = set.slots[at.slot];
  if (slot.table < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  size_t offset = static_cast<size_t>(static_cast<const uint8_t*>(address) - set.image(slot, at.row));
  const Field* changed = fieldAt(p.tables[slot.table], slot.header(), offset);
  if (!changed) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return calculateFrom(p, owner ? owner : set.owner, at.set, at.slot, at.row, changed);
}

}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

ZEMTA_API int32_t FileProjBufFill(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t refill) {
  (void)refill;
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t t = tableIndexOf(*p, fdbId);
  int32_t s = -1, k = -1;
  if (t < 0 || !findSlot(*p, owner, t, -1, s, k)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return fillDependents(*p, s, k);
}

ZEMTA_API int32_t FileProjBufInitRow(FileProjHandle project, int32_t setNumber, int32_t slot, int32_t position,
                                     void* image) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  BufferSet* set = bufferSet(*p, setNumber);
  if (!set || slot < 0 || static_cast<size_t>(slot) >= set->slots.size() || !image) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return initRow(*p, setNumber, slot, position, static_cast<uint8_t*>(image));
}

ZEMTA_API int32_t FileProjRefCalBfp(FileProjHandle project, uint32_t owner, const void* address) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  return recalculate(*p, owner, address);
}

namespace zemta::fileproj {
namespace {

// After a field of a row changed: calculated fields, dependent slots, then
// code 6 to the window. 2 when the row changed, -1.
int32_t afterFieldChange(Project& p, uint32_t owner, const void* address) {
  RowAt at;
  if (!findRowAt(p, address, at)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  int32_t result = recalculate(p, owner, address);
  if (result < 0) return -1;
  if (fillDependents(p, at.set, at.slot) < 0) return -1;
  BufferSet& set = *p.sets[at.set];
  BufferSlot& slot = set.slots[at.slot];
  uint8_t* image = set.image(slot, at.row);
  const Field* field =
      fieldAt(p.tables[slot.table], slot.header(), static_cast<size_t>(static_cast<const uint8_t*>(address) - image));
  int32_t answer = notifyRow(p, at.set, 6, field, image);
  if (answer == -1) return -1;
  if (answer != 0) {
    slot.flags[at.row] |= kRowChanged;
    result = 2;
  }
  return result;
}

}  // namespace

const Field* referenceFieldAt(Project& p, const void* address) {
  RowAt at;
  if (!findRowAt(p, address, at)) return nullptr;
  BufferSet& set = *p.sets[at.set];
  const BufferSlot& slot = set.slots[at.slot];
  if (slot.header() || slot.table < 0) return nullptr;
  const TableEntry& entry = p.tables[slot.table];
  const size_t offset = static_cast<size_t>(static_cast<const uint8_t*>(address) - set.image(slot, at.row));
  const Field* f = fieldAt(entry, false, offset);
  if (!f || (kindOf(*f) != 1 && kindOf(*f) != 9)) return nullptr;
  const TableEntry* target = entryOf(p, f->refTable());
  bool header = false;
  if (!target || !fieldById(*target, f->refField(), header) || header) return nullptr;
  return f;
}

}  // namespace zemta::fileproj

ZEMTA_API int32_t FileProjBufRefUpdate(FileProjHandle project, uint32_t owner, const void* address) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  return afterFieldChange(*p, owner, address);
}

ZEMTA_API int32_t FileProjBufRefSearch(FileProjHandle project, uint32_t owner, void* address, int32_t record,
                                       int32_t markEdited) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  const Field* field = referenceFieldAt(*p, address);
  if (!field) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  RowAt at;
  findRowAt(*p, address, at);
  BufferSet& set = *p->sets[at.set];
  BufferSlot& slot = set.slots[at.slot];
  uint8_t* image = set.image(slot, at.row);
  const TableEntry& target = *entryOf(*p, field->refTable());
  bool header = false;
  const Field* referenced = fieldById(target, field->refField(), header);
  std::vector<uint8_t> stored(target.recordLen(), 0);
  if (record < 0 || FileDBRecRead(target.table, record, stored.data()) < 0) {
    if (record < 0) ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const std::vector<uint8_t> before(image + field->offset(), image + field->offset() + field->size());
  copyFieldValue(*referenced, stored.data(), *field, image);
  refreshDerived(p->tables[slot.table], *field, image);
  const bool changed = !std::equal(before.begin(), before.end(), image + field->offset());
  slot.flags[at.row] |= kRowChanged | (markEdited ? kRowEdited : 0u);
  const int32_t result = afterFieldChange(*p, owner, address);
  if (result < 0) return -1;
  return changed ? 2 : result;
}

namespace {

// The owner's slot of the table and a row inside it.
bool lineSlot(Project& p, uint32_t owner, int32_t fdbId, int32_t row, int32_t& setNumber, int32_t& slotNumber) {
  int32_t t = tableIndexOf(p, fdbId);
  if (t < 0 || !findSlot(p, owner, t, -1, setNumber, slotNumber)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return false;
  }
  return row >= 0 && row < p.sets[setNumber]->slots[slotNumber].rows;
}

void addToLineNumbers(const TableEntry& entry, uint8_t* image, int64_t delta) {
  for (const auto& f : entry.fields)
    if (kindOf(f) == 0 && subKindOf(f) == 1) {
      Value v = readValue(f, image);
      v.i += delta;
      writeValue(f, image, v);
    }
}

}  // namespace

// Lines of a detail list: the record numbers stay with their buffer rows and
// the images move, so that saving the slot rewrites the stored lines in their
// new order.
ZEMTA_API int32_t FileProjRbfInsertIndex(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t s = -1, k = -1;
  if (!lineSlot(*p, owner, fdbId, row, s, k)) return -1;
  BufferSet& set = *p->sets[s];
  BufferSlot& named = set.slots[k];
  if ((named.flags[row] & (kRowNew | kRowEdited)) == kRowNew) return row;
  for (size_t m = 0; m < set.slots.size(); ++m) {
    BufferSlot& slot = set.slots[m];
    if (row >= slot.rows || slot.header()) continue;
    const TableEntry& entry = p->tables[slot.table];
    for (int r = slot.rows - 1; r > row; --r) {
      std::memcpy(set.image(slot, r), set.image(slot, r - 1), slot.size());
      addToLineNumbers(entry, set.image(slot, r), 1);
      uint32_t& f = slot.flags[r];
      if (f & kRowRelease) {
        f &= ~kRowRelease;
        if (m == static_cast<size_t>(k)) ++set.recordCount;
      }
      // A stored or edited line moved here must be written; a blank new row
      // moved down stays blank and unsaved.
      const uint32_t from = slot.flags[r - 1];
      const bool line = (from & kRowHoldsRecord) && (slot.recordNumbers[r - 1] >= 0 || (from & kRowEdited));
      if (line || slot.recordNumbers[r] >= 0) {
        f |= kRowHoldsRecord | kRowChanged | kRowEdited;
      } else if (from & kRowHoldsRecord) {
        f = (f | kRowHoldsRecord | kRowChanged) & ~kRowEdited;
      } else {
        f = (f | kRowChanged) & ~(kRowHoldsRecord | kRowEdited | kRowNew);
      }
      if ((f & kRowHoldsRecord) && slot.recordNumbers[r] < 0) f |= kRowNew;
    }
    std::memset(set.image(slot, row), 0, slot.size());
    if (m != static_cast<size_t>(k)) continue;
    slot.flags[row] |= kRowHoldsRecord | kRowChanged | kRowEdited;
    if (slot.recordNumbers[row] < 0) slot.flags[row] |= kRowNew;
    // The new line takes one less than the line below it.
    if (row + 1 < slot.rows)
      for (const auto& f : entry.fields)
        if (kindOf(f) == 0 && subKindOf(f) == 1) {
          Value v = readValue(f, set.image(slot, row + 1));
          v.i -= 1;
          writeValue(f, set.image(slot, row), v);
        }
  }
  return row;
}

ZEMTA_API int32_t FileProjRbfDeleteIndex(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t row) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t s = -1, k = -1;
  if (!lineSlot(*p, owner, fdbId, row, s, k)) return -1;
  BufferSet& set = *p->sets[s];
  for (size_t m = 0; m < set.slots.size(); ++m) {
    BufferSlot& slot = set.slots[m];
    if (row >= slot.rows || slot.header()) continue;
    const TableEntry& entry = p->tables[slot.table];
    int last = -1;
    for (int r = row; r < slot.rows; ++r)
      if (slot.flags[r] & kRowHoldsRecord) last = r;
    if (last < 0) continue;
    for (int r = row; r < last; ++r) {
      std::memcpy(set.image(slot, r), set.image(slot, r + 1), slot.size());
      addToLineNumbers(entry, set.image(slot, r), -1);
      slot.flags[r] = (slot.flags[r] | kRowHoldsRecord | kRowChanged | kRowEdited) & ~kRowRelease;
      if (slot.recordNumbers[r] < 0) slot.flags[r] |= kRowNew;
    }
    // The row whose image moved away: a stored line is written once more
    // (emptied) and released; a new one is simply let go.
    std::memset(set.image(slot, last), 0, slot.size());
    uint32_t& f = slot.flags[last];
    if (slot.recordNumbers[last] >= 0)
      f = (f | kRowChanged | kRowRelease) & ~kRowEdited;
    else
      f = (f | kRowChanged) & ~(kRowHoldsRecord | kRowEdited | kRowNew);
  }
  if (set.recordCount > 0) --set.recordCount;
  // The sums over the list follow the emptied line.
  for (const auto& f : p->tables[set.slots[k].table].fields)
    if (calculateFrom(*p, set.owner, s, k, row, &f) < 0) return -1;
  return row;
}

ZEMTA_API int32_t FileProjRbfRefresh(FileProjHandle project, uint32_t owner, int32_t all) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  for (auto& set : p->sets) {
    if (owner && set->owner != owner) continue;
    for (auto& slot : set->slots)
      for (uint32_t f : slot.flags)
        if (f & kRowPending) {
          ZEMTA_REPORT(ZEMTA_ERR_MEMORY_IN_USE);
          return -1;
        }
  }
  for (auto& set : p->sets) {
    if (owner && set->owner != owner) continue;
    for (auto& slot : set->slots) {
      const TableEntry& entry = p->tables[slot.table];
      for (int r = 0; r < slot.rows; ++r) {
        uint32_t& f = slot.flags[r];
        if (!(f & kRowHoldsRecord) || !(all || (f & kRowEdited))) continue;
        uint8_t* image = set->image(slot, r);
        if (slot.recordNumbers[r] < 0) {
          std::memcpy(image, set->saved(slot, r), slot.size());
        } else if (slot.header()) {
          if (FileDBRead(entry.table, 0, image, static_cast<uint32_t>(slot.size())) < 0) return -1;
        } else if (FileDBRecRead(entry.table, slot.recordNumbers[r], image) < 0) {
          return -1;
        }
        std::memcpy(set->saved(slot, r), image, slot.size());
        f = (f & ~kRowEdited) | kRowChanged;
      }
    }
  }
  return 0;
}

ZEMTA_API int32_t FileProjRefreshFdb(FileProjHandle project, uint32_t owner, int32_t fdbId, int32_t position) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  int32_t t = tableIndexOf(*p, fdbId);
  int32_t s = -1, k = -1;
  if (t < 0 || !findSlot(*p, owner, t, -1, s, k)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  BufferSet& set = *p->sets[s];
  BufferSlot& slot = set.slots[k];
  if (position < 0 || position >= set.visible) return 0;
  uint16_t r = set.mapAt(k, position);
  if (r == kNoRow || !(slot.flags[r] & kRowHoldsRecord) || slot.recordNumbers[r] < 0) return 0;
  if (slot.flags[r] & kRowEdited) return 5;
  std::vector<uint8_t> stored(slot.size());
  const TableEntry& entry = p->tables[slot.table];
  if (slot.header() ? FileDBRead(entry.table, 0, stored.data(), static_cast<uint32_t>(stored.size())) < 0
                    : FileDBRecRead(entry.table, slot.recordNumbers[r], stored.data()) < 0)
    return -1;
  uint8_t* image = set.image(slot, r);
  if (std::memcmp(image, stored.data(), stored.size()) == 0) return 2;
  std::memcpy(image, stored.data(), stored.size());
  std::memcpy(set.saved(slot, r), stored.data(), stored.size());
  slot.flags[r] |= kRowChanged;
  return 1;
}

namespace {

// Every index of the project built on a field that refers to the table's
// field: the referring table, its index number and its field.
struct Referrer {
  const TableEntry* entry;
  int32_t index;
  const Field* field;
};

std::vector<Referrer> referrers(Project& p, int32_t fdbId, int32_t fieldId) {
  std::vector<Referrer> out;
  for (const auto& e : p.tables) {
    filedb::Table* t = filedb::findTable(e.table);
    if (!t) continue;
    for (size_t i = 0; i < t->indexes.size(); ++i) {
      if (!t->indexes[i].own() || t->indexes[i].composite()) continue;
      for (const auto& f : e.fields)
        if (f.offset() == static_cast<uint16_t>(t->indexes[i].keyDesc) && f.refTable() == fdbId &&
            f.refField() == fieldId && (f.fieldWord() & 0xFF) == (t->indexes[i].fieldWord & 0xFF)) {
          out.push_back({&e, static_cast<int32_t>(i), &f});
          break;
        }
    }
  }
  return out;
}

// The key of a referring index for the value of the referenced field.
std::vector<uint8_t> referringKey(const Referrer& r, const Field& keyField, const void* value) {
  filedb::Table* t = filedb::findTable(r.entry->table);
  std::vector<uint8_t> source(keyField.offset() + keyField.size(), 0);
  std::memcpy(source.data() + keyField.offset(), value, keyField.size());
  std::vector<uint8_t> record(r.entry->recordLen(), 0);
  copyFieldValue(keyField, source.data(), *r.field, record.data());
  std::vector<uint8_t> key(t->indexes[r.index].keyLen + 8u, 0);
  filedb::buildKey(t->indexes[r.index], record.data(), key.data());
  return key;
}

}  // namespace

ZEMTA_API int32_t FileProjCheckRefKey(FileProjHandle project, int32_t fdbId, int32_t fieldId, const void* key) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  const TableEntry* entry = entryOf(*p, fdbId);
  bool header = false;
  const Field* field = entry ? fieldById(*entry, fieldId, header) : nullptr;
  if (!field || header || !key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  for (const auto& r : referrers(*p, fdbId, fieldId)) {
    std::vector<uint8_t> k = referringKey(r, *field, key);
    FileRecList list{};
    int32_t found = FileIdxSear(r.entry->table, r.index, k.data(), k.data(), &list, 0, 0);
    int32_t count = list.count;
    FileDeleteRecList(&list);
    if (found < 0) return -1;
    if (count > 0) return 1;
  }
  return 0;
}

ZEMTA_API int32_t FileProjUpdateRefKey(FileProjHandle project, int32_t fdbId, int32_t fieldId, const void* oldKey,
                                       const void* newKey, int32_t secondFieldId, const void* secondKey) {
  Project* p = checkedProject(project);
  if (!p) return -1;
  const TableEntry* entry = entryOf(*p, fdbId);
  bool header = false;
  const Field* field = entry ? fieldById(*entry, fieldId, header) : nullptr;
  if (!field || header || !oldKey || !newKey || (secondFieldId && !secondKey)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const Field* second = secondFieldId ? fieldById(*entry, secondFieldId, header) : nullptr;
  if (secondFieldId && (!second || header)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  int32_t rewritten = 0;
  for (const auto& r : referrers(*p, fdbId, fieldId)) {
    std::vector<uint8_t> k = referringKey(r, *field, oldKey);
    FileRecList list{};
    TableHold hold;
    if (!hold.take(r.entry->table, FILEDB_MODE_READ_WRITE)) return -1;
    if (FileIdxSear(r.entry->table, r.index, k.data(), k.data(), &list, 0, 0) < 0) return -1;
    if (second) {
      for (const auto& r2 : referrers(*p, fdbId, secondFieldId)) {
        if (r2.entry != r.entry) continue;
        std::vector<uint8_t> k2 = referringKey(r2, *second, secondKey);
        if (FileIdxAndSear(r.entry->table, r2.index, k2.data(), k2.data(), &list, 0, 0) < 0) {
          FileDeleteRecList(&list);
          return -1;
        }
      }
    }
    std::vector<uint8_t> source(field->offset() + field->size(), 0);
    std::memcpy(source.data() + field->offset(), newKey, field->size());
    std::vector<uint8_t> record(r.entry->recordLen());
    for (int32_t i = 0; i < list.count; ++i) {
      int32_t n = static_cast<int32_t>(list.items[i]);
      if (FileDBRecRead(r.entry->table, n, record.data()) != 0) {
        FileDeleteRecList(&list);
        return -1;
      }
      copyFieldValue(*field, source.data(), *r.field, record.data());
      if (FileDBRecWrite(r.entry->table, n, record.data()) != 0) {
        FileDeleteRecList(&list);
        return -1;
      }
      ++rewritten;
    }
    FileDeleteRecList(&list);
  }
  return rewritten;
}
