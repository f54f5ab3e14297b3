// Resources: the form files of a project, the look-ups over the catalog's
// resource entries and the loader.
//
// Resource entry (one 128-byte catalog record, little-endian):
//   offset  size  content
//   0       20    title, zero-terminated; the form-choice dialog shows 16 bytes
//   20      4     flags: bit 0 offered for its tables (a default), bit 1 a
//                 stop mark for the default search, bit 16 told to the caller
//                 of the default search
//   24      2     attribute word: 0 data form, non-zero print form
//   26      2     first table id (fdb id, 0 none)
//   28      2     second table id
//   30      2     third table id
//   32      22    not used here (kept)
//   54      2     form word, compared by the form-choice dialog
//   56      72    file name, zero-terminated (".daf" or ".paf" added without a dot)
//
// Resource file (".daf", ".paf"; little-endian):
//   offset  size    content
//   0       1       'N'
//   1       1       format 'A' or 'B'
//   2       2       version, at least 256
//   4       2       screen width in character cells
//   6       2       screen height in lines
//   8       8       not read here
//   16      varies  screen text: code page 932, CR ends a line, LF is skipped,
//                   ESC makes the next byte the attribute of what follows
//                   (0xE1 at the start), 0x1A ends the text, a 0 byte ends the
//                   block of 4096 bytes being read; bytes beyond the width are
//                   dropped; the text ends when every line is filled, and the
//                   file goes on right after the last byte used
//   then    32      format 'B' only: a block kept for the views
//   then    2       item count n
//   then    n x 64  items
//   then    2       trailer length L
//   then    L       trailer: when it begins "ZEMTA RESOURCE\r\n", a count c
//                   and c 16-bit words follow and are split off as the word
//                   table (low 15 bits an fdb id, bit 15 its header); the rest
//                   is kept as it stands
//
// Item words used here (16-bit words of the 64-byte item): 3 column, 4 line,
// 5 width, 6 line count (0: not drawn), 7 attribute, 10 record offset (bit
// 15: the field lies in the table header), 11 field size, 13 step between
// lines in the record data.
#include "lib/store/project/fileproj_resource.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/tables/filedb_internal.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "zemta/fileaccess.h"
#include "zemta/fileidx.h"
#include "zemta/filesearch.h"

namespace zemta::fileproj {
namespace {

constexpr size_t kBlock = 4096;
constexpr uint8_t kStartAttribute = 0xE1;
const char kTrailerMark[] = "ZEMTA RESOURCE\r\n";
constexpr size_t kTrailerMarkLen = 16;

uint32_t lastErrorCode() {
  uint32_t code = platform::lastError();
  return code ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
}

bool isLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Reads count bytes at the position; a short read is 0x20000001.
bool readExact(ZemtaFileHandle file, int64_t position, void* out, uint32_t count) {
  uint32_t done = 0;
  if (!ZemtaReadFile(file, out, count, &done, static_cast<int32_t>(position), ZEMTA_FILE_BEGIN)) {
    ZEMTA_REPORT(lastErrorCode());
    return false;
  }
  if (done != count) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  return true;
}

struct FileCloser {
  ZemtaFileHandle file;
  ~FileCloser() {
    if (file) ZemtaCloseFile(file);
  }
};

ZemtaFileHandle openForReading(const char* path) {
  return ZemtaOpenFileWait(path, ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ, ZEMTA_OPEN_EXISTING,
                           ZEMTA_FILE_ATTRIBUTE_NORMAL, nullptr, nullptr, nullptr, 0);
}

// 0 sound, or the code that rejects the header.
uint32_t headerProblem(const uint8_t* h) {
  if (h[0] != 'N' || (h[1] != 'A' && h[1] != 'B') || get_u16le(h + 2) < 256) return ZEMTA_ERR_FILE_FORMAT;
  return 0;
}

// Reads the screen text from position 16 into the form; position becomes the
// byte after the last one used.
bool readScreen(ZemtaFileHandle file, ResourceForm& form, int64_t& position) {
  const uint32_t width = form.width, height = form.height;
  uint32_t line = 0, column = 0;
  uint8_t attribute = kStartAttribute;
  bool attributeNext = false;
  int lead = -1;  // a lead byte waiting for its trail
  std::vector<uint8_t> block(kBlock);
  auto put = [&](uint8_t b) {
    if (column < width) {
      form.chars[line * width + column] = b;
      form.attributes[line * width + column] = attribute;
    }
    ++column;
  };
  while (line < height) {
    uint32_t done = 0;
    if (!ZemtaReadFile(file, block.data(), kBlock, &done, static_cast<int32_t>(position), ZEMTA_FILE_BEGIN)) {
      ZEMTA_REPORT(lastErrorCode());
      return false;
    }
    if (done == 0) {  // the file ended inside the text
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      return false;
    }
    bool blockEnded = false;
    for (uint32_t i = 0; i < done && line < height; ++i) {
      const uint8_t b = block[i];
      if (attributeNext) {
        attribute = b;
        attributeNext = false;
        continue;
      }
      if (lead >= 0) {
        // A double-byte character takes two cells or none: never half of one.
        if (column + 1 < width) {
          put(static_cast<uint8_t>(lead));
          put(b);
        } else {
          column += 2;
        }
        lead = -1;
        continue;
      }
      switch (b) {
        case 0:
          position += done;
          blockEnded = true;
          break;
        case 13:
          ++line;
          column = 0;
          if (line >= height) position += i + 1;
          continue;
        case 10:
          continue;
        case 27:
          attributeNext = true;
          continue;
        case 26:
          position += i + 1;
          return true;
        default:
          if (isLead(b)) lead = b;
          else put(b);
          continue;
      }
      break;
    }
    if (line >= height) return true;
    if (!blockEnded) position += done;
  }
  return true;
}

void fillItemCells(ResourceForm& form, const uint8_t* item) {
  const uint32_t column = get_u16le(item + 6), line = get_u16le(item + 8), width = get_u16le(item + 10);
  const uint32_t lines = get_u16le(item + 12);
  const uint8_t attribute = static_cast<uint8_t>(get_u16le(item + 14));
  for (uint32_t l = line; l < line + lines && l < form.height; ++l)
    for (uint32_t c = column; c < column + width && c < form.width; ++c) {
      form.chars[l * form.width + c] = '*';
      form.attributes[l * form.width + c] = attribute;
    }
}

const uint8_t* entryBytes(const Project& p, size_t n) { return p.resources[n].data(); }

bool namesTable(const uint8_t* entry, int32_t tableId) {
  if (tableId == 0) return true;
  for (int k = 0; k < 3; ++k)
    if (get_u16le(entry + kResourceTables + 2 * k) == static_cast<uint16_t>(tableId)) return true;
  return false;
}

}  // namespace

uint32_t resourceFlags(const uint8_t* entry) { return get_u32le(entry + kResourceFlags); }
uint16_t resourceAttribute(const uint8_t* entry) { return get_u16le(entry + kResourceAttribute); }
uint16_t resourceFormWord(const uint8_t* entry) { return get_u16le(entry + kResourceFormWord); }
std::string resourceTitle(const uint8_t* entry) { return fixedText(entry + kResourceTitle, kResourceTitleLen); }
std::string resourceFile(const uint8_t* entry) { return fixedText(entry + kResourceFile, kResourceFileLen); }
bool resourceNamesTable(const uint8_t* entry, int32_t tableId) { return namesTable(entry, tableId); }

int32_t relatedTableId(const uint8_t* entry, int32_t tableId) {
  for (int k = 0; k < 3; ++k) {
    const uint16_t id = get_u16le(entry + kResourceTables + 2 * k);
    if (id != 0 && id != static_cast<uint16_t>(tableId)) return id;
  }
  return tableId;
}

std::string resourcePath(const Project& p, const uint8_t* entry) {
  const std::string name = resourceFile(entry);
  std::string path = p.folder + p.folderText(0) + name;
  if (!platform::hasExtension(name)) path += resourceAttribute(entry) != 0 ? ".paf" : ".daf";
  return path;
}

// Opens a form file and reads and checks its header: 0 (reported) when the
// path is empty, the file does not open, its header is cut short (shortCode)
// or not a form's. The caller closes the file.
ZemtaFileHandle openResource(const char* path, uint8_t* header, uint32_t shortCode) {
  if (!path || !*path) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return 0;
  }
  ZemtaFileHandle file = openForReading(path);
  if (!file) return 0;
  FileCloser closer{file};
  uint32_t done = 0;
  if (!ZemtaReadFile(file, header, kResourceHeaderLen, &done, 0, ZEMTA_FILE_BEGIN)) {
    ZEMTA_REPORT(lastErrorCode());
    return 0;
  }
  if (done != kResourceHeaderLen) {
    ZEMTA_REPORT(shortCode);
    return 0;
  }
  if (uint32_t problem = headerProblem(header)) {
    ZEMTA_REPORT(problem);
    return 0;
  }
  closer.file = 0;  // the caller's now
  return file;
}

int32_t loadResource(const char* path, ResourceForm& form, int32_t* itemPosition) {
  form = ResourceForm{};
  uint8_t header[kResourceHeaderLen];
  ZemtaFileHandle file = openResource(path, header, ZEMTA_ERR_BAD_POINTER);  // no header at all
  if (!file) return -1;
  FileCloser closer{file};
  form.format = header[1];
  form.version = get_u16le(header + 2);
  form.width = get_u16le(header + 4);
  form.height = get_u16le(header + 6);
  const size_t cells = static_cast<size_t>(form.width) * form.height;
  form.chars.assign(cells, ' ');
  form.attributes.assign(cells, kStartAttribute);
  int64_t position = kResourceHeaderLen;
  if (!readScreen(file, form, position)) return -1;
  if (form.format == 'B') {
    if (!readExact(file, position, form.block.data(), 32)) return -1;
    position += 32;
  }
  uint8_t word[2];
  if (!readExact(file, position, word, 2)) return -1;
  position += 2;
  const uint16_t items = get_u16le(word);
  if (itemPosition) *itemPosition = static_cast<int32_t>(position);
  form.itemPosition = static_cast<int32_t>(position);
  form.items.resize(static_cast<size_t>(items) * kResourceItemLen);
  if (items && !readExact(file, position, form.items.data(), static_cast<uint32_t>(form.items.size()))) return -1;
  position += static_cast<int64_t>(form.items.size());
  if (!readExact(file, position, word, 2)) return -1;
  position += 2;
  std::vector<uint8_t> trailer(get_u16le(word));
  if (!trailer.empty() && !readExact(file, position, trailer.data(), static_cast<uint32_t>(trailer.size()))) return -1;
  if (trailer.size() >= kTrailerMarkLen + 2 && std::memcmp(trailer.data(), kTrailerMark, kTrailerMarkLen) == 0) {
    const size_t count = get_u16le(trailer.data() + kTrailerMarkLen);
    const size_t end = kTrailerMarkLen + 2 + 2 * count;
    if (end > trailer.size()) {  // the word table runs past the trailer
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return -1;
    }
    for (size_t i = 0; i < count; ++i) form.words.push_back(get_u16le(trailer.data() + kTrailerMarkLen + 2 + 2 * i));
    trailer.erase(trailer.begin(), trailer.begin() + static_cast<std::ptrdiff_t>(end));
  }
  form.trailer = std::move(trailer);

  uint64_t length = 0, headerLength = 0;
  bool inHeader = false;
  for (uint16_t i = 0; i < items; ++i) {
    const uint8_t* item = form.items.data() + static_cast<size_t>(i) * kResourceItemLen;
    const uint32_t lines = get_u16le(item + 12);
    if (lines == 0) continue;
    fillItemCells(form, item);
    const uint16_t offset = get_u16le(item + 20);
    const uint64_t need = static_cast<uint64_t>(lines - 1) * get_u16le(item + 26) + (offset & 0x7FFF) +
                          get_u16le(item + 22);
    if (offset & 0x8000) {
      inHeader = true;
      headerLength = std::max(headerLength, need);
    } else {
      length = std::max(length, need);
    }
  }
  const uint64_t result = inHeader ? headerLength : length;
  if (result > 0x3FFFFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return -1;
  }
  return static_cast<int32_t>(inHeader ? (result | 0x40000000) : result);
}

}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

namespace {

Project* checkedProject(FileProjHandle handle) {
  if (FileProjCheckHandle(handle) < 0) return nullptr;
  return findProject(handle);
}

template <typename T>
T* copyOut(const std::vector<T>& from) {
  if (from.empty()) return nullptr;
  T* to = static_cast<T*>(std::malloc(from.size() * sizeof(T)));
  if (to) std::memcpy(to, from.data(), from.size() * sizeof(T));
  return to;
}

}  // namespace

ZEMTA_API int32_t FileProjResourcePath(FileProjHandle handle, int32_t entry, char* outPath) {
  Project* p = checkedProject(handle);
  if (!p) return -1;
  if (!outPath) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (entry < 0 || static_cast<size_t>(entry) >= p->resources.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const std::string path = resourcePath(*p, entryBytes(*p, static_cast<size_t>(entry)));
  if (path.size() >= 260) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  std::memcpy(outPath, path.c_str(), path.size() + 1);
  return 0;
}

ZEMTA_API int32_t FileProjResourceCheck(const char* path, uint8_t* outHeader) {
  uint8_t header[kResourceHeaderLen];
  ZemtaFileHandle file = openResource(path, header, ZEMTA_ERR_FILE_SIZE);
  if (!file) return -1;
  FileCloser closer{file};
  if (outHeader) std::memcpy(outHeader, header, kResourceHeaderLen);
  return 0;
}

ZEMTA_API int32_t FileProjResourceLoad(const char* path, FileProjForm* out, int32_t* itemPosition) {
  if (!out) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::memset(out, 0, sizeof *out);
  ResourceForm form;
  const int32_t length = loadResource(path, form, itemPosition);
  if (length < 0) return -1;
  out->format = form.format;
  out->version = form.version;
  out->width = form.width;
  out->height = form.height;
  std::memcpy(out->block, form.block.data(), 32);
  out->itemCount = static_cast<uint16_t>(form.items.size() / kResourceItemLen);
  out->trailerLen = static_cast<uint16_t>(form.trailer.size());
  out->wordCount = static_cast<uint16_t>(form.words.size());
  out->chars = copyOut(form.chars);
  out->attributes = copyOut(form.attributes);
  out->items = copyOut(form.items);
  out->trailer = copyOut(form.trailer);
  out->words = copyOut(form.words);
  if ((!form.chars.empty() && (!out->chars || !out->attributes)) || (!form.items.empty() && !out->items) ||
      (!form.trailer.empty() && !out->trailer) || (!form.words.empty() && !out->words)) {
    FileProjResourceFree(out);
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return length;
}

ZEMTA_API void FileProjResourceFree(FileProjForm* form) {
  if (!form) return;
  std::free(form->chars);
  std::free(form->attributes);
  std::free(form->items);
  std::free(form->trailer);
  std::free(form->words);
  std::memset(form, 0, sizeof *form);
}

ZEMTA_API int32_t FileProjResourceNext(FileProjHandle handle, int32_t tableId, int32_t* position) {
  Project* p = checkedProject(handle);
  if (!p) return -1;
  if (!position) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const int32_t start = *position < 0 ? 0 : *position + 1;
  for (size_t n = static_cast<size_t>(start); n < p->resources.size(); ++n)
    if (namesTable(entryBytes(*p, n), tableId)) {
      *position = static_cast<int32_t>(n);
      return *position;
    }
  *position = -1;
  return -1;
}

ZEMTA_API int32_t FileProjResourceDefault(FileProjHandle handle, int32_t tableId, int32_t* flag) {
  Project* p = checkedProject(handle);
  if (!p) return -1;
  if (flag) *flag = 0;
  int32_t found = -1;
  for (size_t n = 0; n < p->resources.size(); ++n) {
    const uint8_t* e = entryBytes(*p, n);
    if (!namesTable(e, tableId)) continue;
    const uint32_t flags = resourceFlags(e);
    if (flags & FILEPROJ_RESOURCE_REPORTED && flag) *flag = 1;
    if (flags & FILEPROJ_RESOURCE_DEFAULT) {
      if (found >= 0) {  // two defaults for one table
        ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
        return -1;
      }
      found = static_cast<int32_t>(n);
    } else if (flags & FILEPROJ_RESOURCE_STOP) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return -1;
    }
  }
  return found;
}

ZEMTA_API int32_t FileProjGetResourceAtr(FileProjHandle handle, int32_t tableId) {
  Project* p = findProject(handle);
  if (!p) return -1;
  for (size_t n = 0; n < p->resources.size(); ++n) {
    const uint8_t* e = entryBytes(*p, n);
    if (namesTable(e, tableId) && (resourceFlags(e) & FILEPROJ_RESOURCE_DEFAULT)) return resourceAttribute(e);
  }
  return -1;
}

ZEMTA_API int32_t FileProjKeySearch(FileProjHandle handle, const void* address, FileRecList* list) {
  Project* p = checkedProject(handle);
  if (!p) return -1;
  if (!address || !list) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  // The row and field that hold the address.
  const uint8_t* at = static_cast<const uint8_t*>(address);
  const TableEntry* owner = nullptr;
  const uint8_t* rowStart = nullptr;
  bool header = false;
  for (const auto& set : p->sets)
    for (const auto& slot : set->slots) {
      const uint8_t* first = set->images.data() + slot.imageAt;
      const size_t length = static_cast<size_t>(slot.rows) * slot.size();
      if (at >= first && at < first + length) {
        owner = &p->tables[slot.table];
        rowStart = first + (static_cast<size_t>(at - first) / slot.size()) * slot.size();
        header = slot.header();
      }
    }
  const Field* field = nullptr;
  if (owner && !header) {
    const size_t inside = static_cast<size_t>(at - rowStart);
    for (const auto& f : owner->fields)
      if (f.size() > 0 && inside >= f.offset() && inside < static_cast<size_t>(f.offset()) + f.size()) {
        field = &f;
        break;
      }
  }
  if (!field) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const int32_t kind = field->kind() & 0xF;
  const TableEntry* target = nullptr;
  if (kind == 1 || kind == 9)
    for (const auto& t : p->tables)
      if (t.fdbId() == field->refTable()) target = &t;
  const Field* referenced = nullptr;
  if (target)
    for (const auto& f : target->fields)
      if (f.id() == field->refField()) referenced = &f;
  if (!referenced) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const int32_t index = FileGetIndexPos(target->table, referenced->offset(), referenced->size(), 0);
  if (index < 0) return -1;
  // The value as the keys hold it: a text is a prefix (the rest of the from
  // key 0, of the to key 0xFF), anything else the value itself.
  constexpr size_t kKeyRoom = 4096;
  std::vector<uint8_t> from(kKeyRoom, 0), to(kKeyRoom, 0);
  const uint8_t* value = rowStart + field->offset();
  const size_t size = std::min<size_t>(field->size(), kKeyRoom);
  const bool text = field->typeCode() < 2;
  size_t textLength = size;
  if (text) {
    textLength = 0;
    while (textLength < size && value[textLength] != 0) ++textLength;
    std::fill(to.begin() + static_cast<std::ptrdiff_t>(textLength), to.end(), 0xFF);
  }
  std::memcpy(from.data(), value, text ? textLength : size);
  std::memcpy(to.data(), value, text ? textLength : size);
  const bool callersArray = list->items != nullptr;
  int32_t result = FileIdxSear(target->table, index, from.data(), to.data(), list, 0, 0);
  if (result < 0 || !text || list->count > 0) return result;
  filedb::Table* t = filedb::findTable(target->table);
  for (size_t other = 0; t && other < t->indexes.size() && list->count == 0; ++other) {
    const filedb::IndexEntry& e = t->indexes[other];
    if (static_cast<int32_t>(other) == index || !e.own() || e.keyLen < textLength) continue;
    if (!callersArray && list->items) FileDeleteRecList(list);
    result = FileIdxSear(target->table, static_cast<intptr_t>(other), from.data(), to.data(), list, 0, 0);
    if (result < 0) return result;
  }
  return result;
}
