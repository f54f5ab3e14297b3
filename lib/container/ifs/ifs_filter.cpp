// The Ifs calls built on the others, alike for a local disk and the remote
// service: a field class as one line of text, and the short filter texts
// that narrow a record list.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "zemta/ifs.h"
#include "zemta/typed.h"

namespace {

constexpr uint32_t kBadArgument = 0x20000085;
constexpr uint32_t kMissingArgument = 0x200000FF;
constexpr uint64_t kTableItself = ~0ull;
constexpr uint16_t kDefinitionClass = 2;
// A column definition: its width and type words.
constexpr size_t kColumnWidth = 258;
constexpr size_t kColumnType = 260;

int32_t refuse(uint32_t code) {
  zemta::ReportError(__LINE__, __FILE__, code);
  return -1;
}

// The text of one value: definitions as the text they hold, others by type.
bool valueText(uint16_t fieldClass, const IfsFieldValue& item, std::string* out) {
  out->clear();
  if (item.length == 0) return true;
  if (fieldClass == kDefinitionClass) {
    const auto* text = static_cast<const char*>(item.value);
    out->assign(text, strnlen(text, item.length));
    return true;
  }
  const int32_t size = GetTypeStrBufLen(item.type, item.length, item.value, 0);
  if (size <= 0) return false;
  std::vector<char> buffer(static_cast<size_t>(size));
  if (TypeDataToStr(buffer.data(), size, item.type, item.length, item.value, 0) < 0) return false;
  out->assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  return true;
}

}  // namespace

ZEMTA_API int32_t IfsGetFldCsv(FileExHandle entry, uint16_t fieldClass, char* buffer, int32_t size, uint32_t numberLow,
                               uint32_t numberHigh) {
  if (buffer ? size <= 0 : size != 0) return refuse(kBadArgument);
  IfsFieldValue* items = nullptr;
  const int32_t count = IfsGetCID(entry, fieldClass, &items, 1, numberLow, numberHigh);
  if (count < 0) return -1;
  std::string line;
  bool ok = true;
  for (int32_t i = 0; ok && i < count; ++i) {
    std::string text;
    ok = valueText(fieldClass, items[i], &text);
    if (i > 0) line += ',';
    line += text;
  }
  std::free(items);
  if (!ok) return refuse(kBadArgument);
  const size_t needed = line.size() + 1;
  if (!buffer) return static_cast<int32_t>(needed);
  // A line longer than the buffer is cut to it.
  const size_t kept = std::min(line.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buffer, line.data(), kept);
  buffer[kept] = 0;
  return static_cast<int32_t>(kept + 1);
}

namespace {

struct FieldShape {
  uint32_t type = 0;
  int32_t width = 0;
};

bool shapeOf(FileExHandle table, int32_t fieldNumber, FieldShape* shape) {
  IfsFieldValue* definition = nullptr;
  const int32_t found = IfsGetCID(table, FILEEX_FIELD_KEY(kDefinitionClass, static_cast<uint32_t>(fieldNumber)),
                                  &definition, 0, static_cast<uint32_t>(kTableItself),
                                  static_cast<uint32_t>(kTableItself >> 32));
  if (found < 0) return false;
  const bool whole = found > 0 && definition && definition->length >= kColumnType + 2;
  if (whole) {
    const auto* bytes = static_cast<const uint8_t*>(definition->value);
    shape->width = zemta::get_u16le(bytes + kColumnWidth);
    shape->type = zemta::get_u16le(bytes + kColumnType);
  }
  std::free(definition);
  if (!whole || shape->width <= 0) {
    refuse(kBadArgument);
    return false;
  }
  return true;
}

bool isText(const FieldShape& shape) { return (shape.type & 0x1F) == TYPE_TEXT; }

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// "like " in any case.
bool startsWithLike(const char* text) {
  static const char kLike[] = "like ";
  for (size_t i = 0; kLike[i]; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kLike[i]) return false;
  }
  return true;
}

}  // namespace

ZEMTA_API int32_t IfsRecFilter(FileExHandle table, int32_t fieldNumber, const char* filter, IfsRecList* list,
                               int32_t fetch) {
  if (fieldNumber == 0) return refuse(kBadArgument);
  if (!filter || !list) return refuse(kMissingArgument);
  std::free(list->scratch);
  list->scratch = nullptr;
  list->word = 0;
  FieldShape shape;
  if (!shapeOf(table, fieldNumber, &shape)) return -1;
  const auto width = static_cast<size_t>(shape.width);
  std::vector<uint8_t> from(width), to(width);
  uint32_t flags = 0;
  auto key = [&](std::vector<uint8_t>& out, const char* text, int32_t direction) {
    return StrToTypeData(shape.type, shape.width, out.data(), text, direction) >= 0;
  };
  bool ok = false;
  if (startsWithLike(filter)) {
    if (!isText(shape)) return refuse(kBadArgument);
    ok = key(from, filter + 5, 0);
    flags = IFS_SEARCH_NO_TO_KEY | IFS_SEARCH_STRICT;
  } else if (startsWith(filter, "<null>")) {
    ok = key(from, filter, 0) && key(to, filter, 0);
  } else if (startsWith(filter, ">=")) {
    ok = key(from, filter + 2, 0) && TypeMaxData(shape.type, shape.width, to.data()) >= 0;
  } else if (startsWith(filter, ">")) {
    ok = key(from, filter + 1, 1) && TypeMaxData(shape.type, shape.width, to.data()) >= 0;
  } else if (startsWith(filter, "<=")) {
    ok = TypeMinData(shape.type, shape.width, from.data()) >= 0 && key(to, filter + 2, 0);
  } else if (startsWith(filter, "<")) {
    ok = TypeMinData(shape.type, shape.width, from.data()) >= 0 && key(to, filter + 1, -1);
  } else if (startsWith(filter, "=")) {
    ok = key(from, filter + 1, 0) && key(to, filter + 1, 0);
  } else if (isText(shape)) {
    // Every text that begins with the value: its bytes, then all ones.
    ok = key(from, filter, 0);
    to = from;
    const size_t start = (shape.type & TYPE_NULLABLE) ? 1 : 0;
    const size_t end = start + strnlen(reinterpret_cast<const char*>(from.data() + start), width - start);
    std::memset(to.data() + end, 0xFF, width - end);
  } else {
    ok = key(from, filter, 0) && key(to, filter, 0);
  }
  if (!ok) return -1;
  const uint32_t kind = list->search ? IFS_SEARCH_AND : IFS_SEARCH_NEW;
  return IfsIdxSear(table, fieldNumber, nullptr, shape.width, from.data(), to.data(), list, flags | kind, list->search,
                    fetch);
}
