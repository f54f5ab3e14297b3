// SortedRecordList: fixed-size records kept in the order of a key inside
// each record, on two growable memory blocks of the library.
//
// data block:  the records, record size bytes each, in the order they were
//              inserted (a record never moves once written);
// index block: one 4-byte entry per record, in key order, each the byte
//              offset of its record in the data block. The record count is
//              the index block's size / 4.
//
// Keys compare either as unsigned little-endian numbers of up to 4 bytes
// (numeric) or byte by byte, unsigned. Records with equal keys keep the
// order they were inserted in. A key length of 0 keeps the records unsorted
// (each is appended).
#pragma once

#include <cstdint>

#include "zemta/memory.h"

namespace varnex::shell {

class SortedRecordList {
 public:
  SortedRecordList() = default;
  ~SortedRecordList() { Destroy(); }
  SortedRecordList(const SortedRecordList&) = delete;
  SortedRecordList& operator=(const SortedRecordList&) = delete;

  // Sets the layout and makes both blocks (4096-byte growth); false when a
  // block cannot be made (none is kept then).
  bool Create(bool numericKey, int32_t keyOffset, int32_t keyLength, int32_t recordSize);
  // Deletes whichever blocks exist.
  void Destroy();

  // Puts the record (record size bytes) at its key position. A failure
  // leaves the list as it was.
  void Insert(const void* record);
  int32_t Count() const;
  // The record at key position i; false unless 0 <= i < Count() and the
  // whole record was read.
  bool Read(int32_t i, void* out) const;
  // Only the key of the record at position i; false without a key.
  bool ReadKey(int32_t i, void* out) const;
  // Binary search: the position of a record with that key, or -1. The
  // insertion position is where a new record of that key would go, -1
  // meaning the end.
  int32_t Search(const void* key, int32_t* insertionPosition) const;

  int32_t RecordSize() const { return recordSize_; }

 private:
  int32_t Compare(const uint8_t* a, const uint8_t* b) const;
  bool OffsetAt(int32_t i, uint32_t* offset) const;

  bool numericKey_ = true;
  int32_t keyOffset_ = 0;
  int32_t keyLength_ = 0;
  int32_t recordSize_ = 0;
  MemoryBlockHandle index_ = nullptr;
  MemoryBlockHandle data_ = nullptr;
};

}  // namespace varnex::shell
