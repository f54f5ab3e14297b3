// Attribute lists, multi-column index keys and the log information block of
// the entry model (formats at the top of entry.cpp).
#include "lib/container/disk/entry_model.h"

#include <algorithm>
#include <cstring>

#include "lib/core/report.h"

namespace zemta::container {

namespace {

constexpr size_t kGroupStep = 32;
constexpr size_t kBufferStep = 512;
constexpr uint16_t kMaxGroup = 255;
constexpr uint16_t kMaxItem = 65535;
constexpr uint32_t kItemHead = 6;

// The stored length of a value of the type, or -1 when refused.
int32_t storedLength(uint16_t type, int32_t length) {
  const uint16_t base = type & 0x1F;
  const int32_t extra = (type & 0x20) ? 1 : 0;
  switch (base) {
    case 0: return length;  // a negative length is text (the caller measured it)
    case 1:
    case 2:
      if (length < 0) return 4 + extra;
      return length >= 1 + extra && length <= 8 + extra ? length : -1;
    case 3:
      if (length < 0) return 8 + extra;
      return length == 4 + extra || length == 8 + extra ? length : -1;
    case 12:
    case 13: return length < 0 || length == 4 + extra ? 4 + extra : -1;
    case 14:
    case 15: return length < 0 || length == 8 + extra ? 8 + extra : -1;
    case 31: return length < 0 ? -1 : length;
    default: return -1;
  }
}

AttrGroup* groupOf(AttrList& list, uint16_t number) {
  for (AttrGroup& group : list.groups)
    if (group.number == number) return &group;
  return nullptr;
}

// Offset of the item in the group's bytes, or npos.
size_t itemOffset(const AttrGroup& group, uint16_t item) {
  size_t at = 0;
  while (at + kItemHead <= group.bytes.size()) {
    const uint16_t number = get_u16le(&group.bytes[at]);
    const uint16_t length = get_u16le(&group.bytes[at + 4]);
    if (number == item) return at;
    at += kItemHead + length;
  }
  return std::string::npos;
}

}  // namespace

int64_t setItem(AttrList& list, uint8_t* record, uint16_t groupNumber, uint16_t item, uint16_t type, int32_t length,
                const void* bytes) {
  if ((type & 0x1F) == 0 && length < 0) length = bytes ? static_cast<int32_t>(std::strlen(static_cast<const char*>(bytes)) + 1) : -1;
  const int32_t size = length == 0 ? 0 : storedLength(type, length);
  if (size < 0 || size > 0xFFFF || (size > 0 && !bytes)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (groupNumber == 0) {
    const uint16_t highest = get_u16le(record + kFieldGroups);
    if (highest >= kMaxGroup) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return -1;
    }
    groupNumber = static_cast<uint16_t>(highest + 1);
  }
  if (item == 0) {
    const uint16_t highest = get_u16le(record + kFieldItems);
    if (highest >= kMaxItem) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return -1;
    }
    item = static_cast<uint16_t>(highest + 1);
  }
  AttrGroup* group = groupOf(list, groupNumber);
  if (!group) {
    if (size == 0) return groupNumber | (static_cast<int64_t>(item) << 16);
    if (list.groups.size() == list.groups.capacity()) list.groups.reserve(list.groups.size() + kGroupStep);
    list.groups.push_back(AttrGroup{groupNumber, {}});
    group = &list.groups.back();
  }
  const size_t at = itemOffset(*group, item);
  std::vector<uint8_t> encoded;
  if (size > 0) {
    encoded.resize(kItemHead + static_cast<size_t>(size));
    put_u16le(encoded.data(), item);
    put_u16le(encoded.data() + 2, type);
    put_u16le(encoded.data() + 4, static_cast<uint16_t>(size));
    std::memcpy(encoded.data() + kItemHead, bytes, static_cast<size_t>(size));
  }
  if (at != std::string::npos) {
    // Replaced in place: the old item taken out, the new one put back there.
    const size_t oldSize = kItemHead + get_u16le(&group->bytes[at + 4]);
    group->bytes.erase(group->bytes.begin() + static_cast<long>(at), group->bytes.begin() + static_cast<long>(at + oldSize));
    group->bytes.insert(group->bytes.begin() + static_cast<long>(at), encoded.begin(), encoded.end());
  } else if (size > 0) {
    if (group->bytes.size() + encoded.size() > group->bytes.capacity())
      group->bytes.reserve((group->bytes.size() + encoded.size() + kBufferStep - 1) / kBufferStep * kBufferStep);
    group->bytes.insert(group->bytes.end(), encoded.begin(), encoded.end());
  }
  if (size > 0) {
    if (groupNumber > get_u16le(record + kFieldGroups)) put_u16le(record + kFieldGroups, groupNumber);
    if (item > get_u16le(record + kFieldItems)) put_u16le(record + kFieldItems, item);
  }
  return groupNumber | (static_cast<int64_t>(item) << 16);
}

const AttrItem* findItem(const AttrList& list, uint16_t groupNumber, uint16_t item) {
  static thread_local AttrItem found;
  for (const AttrGroup& group : list.groups) {
    if (group.number != groupNumber) continue;
    const size_t at = itemOffset(group, item);
    if (at == std::string::npos) return nullptr;
    found.item = item;
    found.type = get_u16le(&group.bytes[at + 2]);
    found.length = get_u16le(&group.bytes[at + 4]);
    found.bytes = &group.bytes[at + kItemHead];
    return &found;
  }
  return nullptr;
}

std::vector<AttrItem> itemsOf(const AttrList& list, uint16_t groupNumber) {
  std::vector<AttrItem> items;
  for (const AttrGroup& group : list.groups) {
    if (group.number != groupNumber) continue;
    size_t at = 0;
    while (at + kItemHead <= group.bytes.size()) {
      AttrItem item;
      item.item = get_u16le(&group.bytes[at]);
      item.type = get_u16le(&group.bytes[at + 2]);
      item.length = get_u16le(&group.bytes[at + 4]);
      item.bytes = &group.bytes[at + kItemHead];
      items.push_back(item);
      at += kItemHead + item.length;
    }
  }
  return items;
}

std::vector<uint8_t> makeIndexKey(const std::vector<KeyColumn>& columns) {
  std::vector<uint8_t> key;
  const bool nullable = !columns.empty() && (columns.back().type & 0x20);
  if (nullable) {
    bool all = true;
    for (const KeyColumn& c : columns) all = all && c.value != nullptr;
    key.push_back(all ? 1 : 0);
  }
  for (const KeyColumn& c : columns) {
    const uint16_t base = c.type & 0x1F;
    // A column that may be empty carries its presence byte in front of the value.
    const uint32_t lead = (c.type & 0x20) ? 1 : 0;
    const size_t start = key.size();
    key.resize(start + c.size, 0);
    if (!c.value || c.size <= lead) continue;
    uint8_t* out = &key[start];
    const uint8_t* value = c.value;
    if (lead) {
      out[0] = value[0];
      ++out;
      ++value;
    }
    const uint32_t width = c.size - lead;
    if (base == 0 || width < 2) {
      std::memcpy(out, value, width);
      if (base == 1 && width == 1) out[0] ^= 0x80;
      continue;
    }
    // Numbers big-endian over the width, so bytes compare as values do.
    for (uint32_t i = 0; i < width; ++i) out[i] = value[width - 1 - i];
    if (base == 1 || base == 13 || base == 14 || base == 15) {
      out[0] ^= 0x80;  // two's complement: negatives below positives
    } else if (base == 3) {
      if (out[0] & 0x80) {
        for (uint32_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(~out[i]);  // larger magnitude sorts lower
      } else {
        out[0] ^= 0x80;
      }
    }
  }
  return key;
}

void writeLogInfo(const LogInfo& info, uint8_t out[32]) {
  std::memset(out, 0, 32);
  put_u16le(out, 32);
  put_u16le(out + 2, info.operation);
  put_u16le(out + 4, info.kind);
  put_u64le(out + 8, info.entryId);
  put_u64le(out + 16, info.tableId);
  put_u64le(out + 24, info.recordNumber);
}

bool readLogInfo(const uint8_t* bytes, uint32_t length, LogInfo* info) {
  if (length < 32 || get_u16le(bytes) != 32) return false;
  info->operation = get_u16le(bytes + 2);
  info->kind = get_u16le(bytes + 4);
  info->entryId = get_u64le(bytes + 8);
  info->tableId = get_u64le(bytes + 16);
  info->recordNumber = get_u64le(bytes + 24);
  return true;
}

}  // namespace zemta::container
