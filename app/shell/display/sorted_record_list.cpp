#include "app/shell/display/sorted_record_list.h"

#include <cstring>
#include <vector>

namespace varnex::shell {

namespace {

constexpr uint32_t kGrowth = 4096;

int32_t blockSize(MemoryBlockHandle block) { return block ? SeekMemory(block, 0, MEMORY_SEEK_END) : -1; }

}  // namespace

bool SortedRecordList::Create(bool numericKey, int32_t keyOffset, int32_t keyLength, int32_t recordSize) {
  Destroy();
  // A key must lie inside the record, and a numeric key fits 32 bits.
  if (recordSize <= 0 || keyOffset < 0 || keyLength < 0 || keyOffset + keyLength > recordSize ||
      (numericKey && keyLength > 4))
    return false;
  numericKey_ = numericKey;
  keyOffset_ = keyOffset;
  keyLength_ = keyLength;
  recordSize_ = recordSize;
  index_ = CreateMemory(nullptr, 0, kGrowth);
  data_ = CreateMemory(nullptr, 0, kGrowth);
  if (!index_ || !data_) {
    Destroy();
    return false;
  }
  return true;
}

void SortedRecordList::Destroy() {
  if (index_) DeleteMemory(index_);
  if (data_) DeleteMemory(data_);
  index_ = data_ = nullptr;
}

int32_t SortedRecordList::Count() const {
  const int32_t size = blockSize(index_);
  return size < 0 ? 0 : size / 4;
}

bool SortedRecordList::OffsetAt(int32_t i, uint32_t* offset) const {
  if (i < 0 || i >= Count()) return false;
  uint8_t entry[4];
  if (SeekMemory(index_, i * 4, MEMORY_SEEK_BEGIN) != i * 4 || ReadDataMemory(index_, entry, 4) != 4) return false;
  *offset = static_cast<uint32_t>(entry[0]) | static_cast<uint32_t>(entry[1]) << 8 |
            static_cast<uint32_t>(entry[2]) << 16 | static_cast<uint32_t>(entry[3]) << 24;
  return true;
}

bool SortedRecordList::Read(int32_t i, void* out) const {
  uint32_t offset;
  if (!OffsetAt(i, &offset)) return false;
  if (SeekMemory(data_, static_cast<int32_t>(offset), MEMORY_SEEK_BEGIN) != static_cast<int32_t>(offset))
    return false;
  return ReadDataMemory(data_, out, static_cast<uint32_t>(recordSize_)) == recordSize_;
}

bool SortedRecordList::ReadKey(int32_t i, void* out) const {
  if (keyLength_ == 0) return false;
  uint32_t offset;
  if (!OffsetAt(i, &offset)) return false;
  const int32_t at = static_cast<int32_t>(offset) + keyOffset_;
  if (SeekMemory(data_, at, MEMORY_SEEK_BEGIN) != at) return false;
  return ReadDataMemory(data_, out, static_cast<uint32_t>(keyLength_)) == keyLength_;
}

int32_t SortedRecordList::Compare(const uint8_t* a, const uint8_t* b) const {
  if (numericKey_) {
    uint32_t x = 0, y = 0;
    for (int32_t i = keyLength_ - 1; i >= 0; --i) {
      x = x << 8 | a[i];
      y = y << 8 | b[i];
    }
    return x < y ? -1 : x > y ? 1 : 0;
  }
  for (int32_t i = 0; i < keyLength_; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

int32_t SortedRecordList::Search(const void* key, int32_t* insertionPosition) const {
  *insertionPosition = -1;
  const int32_t count = Count();
  if (keyLength_ == 0 || !index_ || count == 0) return -1;
  std::vector<uint8_t> probe(static_cast<size_t>(keyLength_));
  const auto* wanted = static_cast<const uint8_t*>(key);
  int32_t lo = 0, hi = count;
  while (lo < hi) {
    const int32_t mid = (lo + hi) / 2;
    if (!ReadKey(mid, probe.data())) return -1;
    const int32_t order = Compare(probe.data(), wanted);
    if (order == 0) {
      *insertionPosition = mid;
      return mid;
    }
    if (order < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo < count) *insertionPosition = lo;
  return -1;
}

void SortedRecordList::Insert(const void* record) {
  if (!index_ || !data_) return;
  const auto* bytes = static_cast<const uint8_t*>(record);
  int32_t position = -1;
  if (keyLength_ > 0) {
    const uint8_t* key = bytes + keyOffset_;
    const int32_t found = Search(key, &position);
    if (found >= 0) {
      // After the last record of an equal key: equal keys keep their order.
      std::vector<uint8_t> probe(static_cast<size_t>(keyLength_));
      const int32_t count = Count();
      position = found + 1;
      while (position < count) {
        if (!ReadKey(position, probe.data())) return;
        if (Compare(probe.data(), key) != 0) break;
        ++position;
      }
      if (position >= count) position = -1;
    }
  }
  // The record first, then its index entry: a list never holds an entry
  // that points past its records. A failed entry takes the record back.
  const int32_t offset = blockSize(data_);
  if (offset < 0 || SeekMemory(data_, offset, MEMORY_SEEK_BEGIN) != offset) return;
  if (WriteDataMemory(data_, record, static_cast<uint32_t>(recordSize_)) != recordSize_) {
    if (blockSize(data_) > offset && SeekMemory(data_, offset, MEMORY_SEEK_BEGIN) == offset)
      DeleteDataMemory(data_, static_cast<uint32_t>(blockSize(data_) - offset));
    return;
  }
  const uint8_t entry[4] = {static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8),
                            static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 24)};
  int32_t written;
  if (position >= 0) {
    written = SeekMemory(index_, position * 4, MEMORY_SEEK_BEGIN) == position * 4 ? InsertDataMemory(index_, entry, 4)
                                                                                 : -1;
  } else {
    const int32_t end = blockSize(index_);
    written = end >= 0 && SeekMemory(index_, end, MEMORY_SEEK_BEGIN) == end ? WriteDataMemory(index_, entry, 4) : -1;
  }
  if (written != 4 && SeekMemory(data_, offset, MEMORY_SEEK_BEGIN) == offset)
    DeleteDataMemory(data_, static_cast<uint32_t>(recordSize_));
}

}  // namespace varnex::shell
