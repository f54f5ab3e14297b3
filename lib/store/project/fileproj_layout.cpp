// Table layout change: a project's tables carried over to the field layouts
// of a new catalog, fields matched by name, and the forms' items moved with
// their fields.
//
// The change never touches a file of the project until everything new is on
// the disk beside the old files:
//   1. every changed table is written whole into "<table>.$db" (the target's
//      extension replaced), every changed form into "<form>.$fm", and the new
//      catalog into "<catalog>.$dc", all written through to the disk;
//   2. the switch list "<catalog>.$sw" is written as "<catalog>.$sx" and then
//      renamed (the one step at which the change takes effect). Its lines:
//        D<tab><path>           an index file of a changed table to delete
//                               (the next open builds it from the records)
//        M<tab><from><tab><to>  a new file to rename over the old one
//      the catalog's rename last;
//   3. the list is carried out, the folders synced, and the list deleted.
// A process that stops before step 2 leaves the project as it was (the new
// files beside it are overwritten by the next change); one that stops in step
// 3 leaves the list, and FileProjOpen finishes it before it reads the catalog.
#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "lib/core/item_types.h"
#include "lib/core/library_locks.h"
#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_layout_internal.h"
#include "lib/store/project/fileproj_resource.h"
#include "lib/store/tables/filedb_internal.h"
#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/folder_sync.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "zemta/fileaccess.h"
#include "zemta/fileproj_layout.h"

namespace zemta::fileproj {
namespace {

const char kCatalogTitle[] = "ﾌﾟﾛｼﾞｪｸﾄﾃﾞｰﾀﾍﾞｰｽ";
constexpr size_t kMaxPathLen = 259;

LayoutStepHook& stepHook() {
  static LayoutStepHook hook = nullptr;
  return hook;
}

void step(const char* what) {
  if (stepHook()) stepHook()(what);
}

uint32_t lastErrorCode() {
  uint32_t code = platform::lastError();
  return code ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
}

// The path with its extension replaced by (or, without one, extended with) ext.
std::string withExtension(const std::string& path, const char* ext) {
  const size_t separator = platform::lastSeparator(path, true);
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && (separator == std::string::npos || dot > separator)) return path.substr(0, dot) + ext;
  return path + ext;
}

std::string switchList(const std::string& catalogPath) { return withExtension(catalogPath, ".$sw"); }
std::string switchListDraft(const std::string& catalogPath) { return withExtension(catalogPath, ".$sx"); }

bool syncFolderOf(const std::string& path) {
  if (platform::syncFolder(platform::folderOf(platform::mapPath(path)))) return true;
  ZEMTA_REPORT(lastErrorCode());
  return false;
}

// Reads a whole file; false after a report.
bool readWhole(const std::string& path, std::vector<uint8_t>& bytes) {
  ZemtaFileHandle file = ZemtaOpenFileWait(path.c_str(), ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ,
                                           ZEMTA_OPEN_EXISTING, ZEMTA_FILE_ATTRIBUTE_NORMAL, nullptr, nullptr, nullptr,
                                           0);
  if (!file) return false;
  const uint32_t size = ZemtaGetFileSize(file);
  bytes.resize(size == 0xFFFFFFFFu ? 0 : size);
  uint32_t done = 0;
  const bool ok = size != 0xFFFFFFFFu &&
                  (bytes.empty() || ZemtaReadFile(file, bytes.data(), size, &done, 0, ZEMTA_FILE_BEGIN) != 0);
  ZemtaCloseFile(file);
  if (!ok) {
    ZEMTA_REPORT(lastErrorCode());
    return false;
  }
  if (done != bytes.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  return true;
}

// Writes a whole new file through to the disk; false after a report.
bool writeWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
  ZemtaFileHandle file = ZemtaCreateFile(path.c_str(), ZEMTA_GENERIC_WRITE, 0, ZEMTA_CREATE_ALWAYS,
                                         ZEMTA_FILE_ATTRIBUTE_NORMAL | ZEMTA_FILE_FLAG_WRITE_THROUGH);
  if (file == ZEMTA_INVALID_FILE) {
    ZEMTA_REPORT(lastErrorCode());
    return false;
  }
  uint32_t done = 0;
  bool ok = bytes.empty() ||
            ZemtaWriteFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done, 0, ZEMTA_FILE_BEGIN) != 0;
  const uint32_t failure = ok ? 0 : lastErrorCode();
  ZemtaCloseFile(file);
  if (!ok) {
    ZEMTA_REPORT(failure);
    return false;
  }
  if (done != bytes.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  return true;
}

bool removeIfThere(const std::string& path) {
  if (!platform::fileExists(platform::mapPath(path)) || platform::deleteFile(path)) return true;
  ZEMTA_REPORT(lastErrorCode());
  return false;
}

const Field* namesake(const std::vector<Field>& fields, const std::string& name) {
  for (const auto& f : fields)
    if (f.name() == name) return &f;
  return nullptr;
}

// One field from the old layout into the new (the new area starts zero).
void convertField(const Field& from, const uint8_t* oldArea, const Field& to, uint8_t* newArea) {
  const uint8_t* source = oldArea + from.offset();
  uint8_t* target = newArea + to.offset();
  const bool oldInteger = IsIntType(from.typeCode()), newInteger = IsIntType(to.typeCode());
  if (newInteger) {
    uint32_t value = 0;
    if (oldInteger) {
      value = GetBitData(from.size(), source, from.fieldWord(), IsSignedIntType(from.typeCode()));
    } else {
      for (size_t i = 0; i < std::min<size_t>(from.size(), 4); ++i) value |= static_cast<uint32_t>(source[i]) << (8 * i);
    }
    SetBitData(to.fieldWord(), to.size(), target, value);
    // A signed value widened past 4 bytes keeps its sign in the bytes above.
    if (to.size() > 4 && to.fieldWord() == 0 && IsSignedIntType(to.typeCode()) && (value & 0x80000000u))
      std::memset(target + 4, 0xFF, to.size() - 4u);
    return;
  }
  std::memcpy(target, source, std::min<size_t>(from.size(), to.size()));
}

void convertArea(const std::vector<Field>& oldFields, const uint8_t* oldArea, const std::vector<Field>& newFields,
                 uint8_t* newArea) {
  for (const auto& from : oldFields)
    if (const Field* to = namesake(newFields, from.name())) convertField(from, oldArea, *to, newArea);
}

bool sameFields(const std::vector<Field>& a, const std::vector<Field>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name() != b[i].name() || a[i].size() != b[i].size() || (a[i].fieldWord() >> 8) != (b[i].fieldWord() >> 8))
      return false;
  return true;
}

struct Change {
  const TableEntry* from = nullptr;
  const TableEntry* to = nullptr;
  std::string oldPath, target, temporary;
  std::vector<std::string> indexFiles;
};

// The old table's bytes in the new layout.
bool rewriteTable(const Change& c, std::vector<uint8_t>& out) {
  std::vector<uint8_t> old;
  if (!readWhole(c.oldPath, old)) return false;
  const size_t oldHeader = c.from->headerLen(), oldRecord = c.from->recordLen();
  if (old.size() < oldHeader || (old.size() - oldHeader) % oldRecord != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  const size_t records = (old.size() - oldHeader) / oldRecord;
  const size_t newHeader = c.to->headerLen(), newRecord = c.to->recordLen();
  out.assign(newHeader + records * newRecord, 0);
  convertArea(c.from->headerFields, old.data(), c.to->headerFields, out.data());
  for (size_t r = 0; r < records; ++r)
    convertArea(c.from->fields, old.data() + oldHeader + r * oldRecord, c.to->fields,
                out.data() + newHeader + r * newRecord);
  return true;
}

// Where an item's record offset goes when its table's fields move: the same
// place inside the namesake field, the table's part of the form's data moved
// by the change of the lengths before it. False when the offset lies in none
// of the tables' data.
struct FormTable {
  const TableEntry* from;
  const TableEntry* to;  // the same as from when the table did not change
  bool header;
};

uint16_t areaLength(const TableEntry& t, bool header) { return header ? t.headerLen() : t.recordLen(); }

bool moveOffset(const std::vector<FormTable>& tables, bool header, uint16_t& offset) {
  uint32_t oldBase = 0, newBase = 0;
  for (const auto& t : tables) {
    if (t.header != header) continue;
    const uint32_t oldLen = areaLength(*t.from, header), newLen = areaLength(*t.to, header);
    if (offset >= oldBase && offset < oldBase + oldLen) {
      const uint32_t inside = offset - oldBase;
      const auto& oldFields = header ? t.from->headerFields : t.from->fields;
      const auto& newFields = header ? t.to->headerFields : t.to->fields;
      uint32_t moved = std::min<uint32_t>(inside, newLen ? newLen - 1 : 0);  // a field without a namesake
      for (const auto& f : oldFields)
        if (inside >= f.offset() && inside < static_cast<uint32_t>(f.offset()) + f.size()) {
          if (const Field* n = namesake(newFields, f.name()))
            moved = n->offset() + std::min<uint32_t>(inside - f.offset(), n->size() - 1u);
          break;
        }
      offset = static_cast<uint16_t>(newBase + moved);
      return true;
    }
    oldBase += oldLen;
    newBase += newLen;
  }
  return false;
}

// A form whose word table names a changed table, rewritten with its items
// moved; false after a report. changed is left false when nothing moved.
bool rewriteForm(const std::string& path, const std::vector<Change>& changes, const Project& current,
                 std::vector<uint8_t>& out, bool& changed) {
  changed = false;
  ResourceForm form;
  if (loadResource(path.c_str(), form, nullptr) < 0) return false;
  std::vector<FormTable> tables;
  bool touched = false;
  for (uint16_t word : form.words) {
    const int32_t fdbId = word & 0x7FFF;
    const bool header = (word & 0x8000) != 0;
    const TableEntry* from = nullptr;
    for (const auto& t : current.tables)
      if (t.fdbId() == fdbId) from = &t;
    if (!from) continue;
    FormTable ft{from, from, header};
    for (const auto& c : changes)
      if (c.from == from) {
        ft.to = c.to;
        touched = true;
      }
    tables.push_back(ft);
  }
  if (!touched) return true;
  if (!readWhole(path, out)) return false;
  if (out.size() < static_cast<size_t>(form.itemPosition) + form.items.size()) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  for (size_t i = 0; i < form.items.size(); i += kResourceItemLen) {
    uint8_t* item = out.data() + form.itemPosition + i;
    const uint16_t word = get_u16le(item + kItemRecordOffset);
    uint16_t offset = word & 0x7FFF;
    if (moveOffset(tables, (word & 0x8000) != 0, offset)) {
      put_u16le(item + kItemRecordOffset, static_cast<uint16_t>(offset | (word & 0x8000)));
      changed = true;
    }
  }
  return true;
}

// Carries out a switch list; false after a report.
bool carryOut(const std::string& list) {
  std::vector<uint8_t> bytes;
  if (!readWhole(list, bytes)) return false;
  const std::string text(bytes.begin(), bytes.end());
  std::set<std::string> folders;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() < 2 || line[1] != '\t') continue;
    const std::string rest = line.substr(2);
    if (line[0] == 'D') {
      step("delete");
      if (!removeIfThere(rest)) return false;
      folders.insert(platform::folderOf(platform::mapPath(rest)));
    } else if (line[0] == 'M') {
      const size_t tab = rest.find('\t');
      if (tab == std::string::npos) continue;
      const std::string from = rest.substr(0, tab), to = rest.substr(tab + 1);
      // Done already when the process stopped after this rename.
      if (!platform::fileExists(platform::mapPath(from))) continue;
      step("rename");
      // One rename over the old file: there is never a moment without it.
      if (!platform::moveFile(from, to, true)) {
        ZEMTA_REPORT(lastErrorCode());
        return false;
      }
      folders.insert(platform::folderOf(platform::mapPath(to)));
    }
  }
  for (const auto& folder : folders)
    if (!platform::syncFolder(folder)) {
      ZEMTA_REPORT(lastErrorCode());
      return false;
    }
  step("finish");
  if (!removeIfThere(list)) return false;
  return syncFolderOf(list);
}

}  // namespace

LayoutStepHook setLayoutStepHook(LayoutStepHook hook) {
  std::swap(stepHook(), hook);
  return hook;
}

bool finishLayoutChange(const std::string& catalogPath) {
  const std::string list = switchList(catalogPath);
  if (!ZemtaFileExists(list.c_str())) return true;
  return carryOut(list);
}

}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

ZEMTA_API int32_t FileProjDBFldChange(FileProjHandle handle, const char* newCatalogPath, int32_t updateForms) {
  if (FileProjCheckHandle(handle) < 0) return -1;
  Project& p = *findProject(handle);
  if (openProjects().size() >= 32) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  if (!newCatalogPath || !*newCatalogPath || std::strlen(newCatalogPath) > kMaxPathLen) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  // Opening creates a missing file: the new catalog must be there.
  if (!platform::fileExists(platform::mapPath(newCatalogPath))) {
    ZEMTA_REPORT(platform::kErrorFileNotFound);
    return -1;
  }
  Project next;
  next.id = p.id;
  next.catalogPath = newCatalogPath;
  next.catalog = FileDBCreate(newCatalogPath, p.id, kCatalogHeaderLen, kCatalogRecordLen, kCatalogTitle, p.owner);
  if (!next.catalog) return -1;
  struct CatalogCloser {
    Project& next;
    ~CatalogCloser() {
      if (next.catalog) FileDBDelete(next.catalog);
    }
  } closer{next};

  const std::string catalogPath = p.catalogPath;
  const std::string list = switchList(catalogPath), draft = switchListDraft(catalogPath);
  std::vector<Change> changes;
  std::string listText;
  {
    ApiLockGuard lock;
    if (!lock.ok()) return -1;
    if (!readCatalog(next)) return -1;
    // Where the tables lie once the new catalog stands at the project's path.
    std::string folder;
    if (!resolveProjectFolder(catalogPath, next.dataFolder(), folder)) {
      ZEMTA_REPORT(lastErrorCode());
      return -1;
    }
    const std::string folder1 = next.folderText(1);
    std::set<std::string> targets;
    for (const auto& from : p.tables) {
      const TableEntry* to = nullptr;
      for (const auto& t : next.tables)
        if (platform::cp932::equalNoCase(t.name(), from.name())) {
          to = &t;
          break;
        }
      if (!to) continue;
      if (sameFields(from.headerFields, to->headerFields) && sameFields(from.fields, to->fields) &&
          from.headerLen() == to->headerLen() && from.recordLen() == to->recordLen())
        continue;
      Change c;
      c.from = &from;
      c.to = to;
      filedb::Table* t = filedb::findTable(from.table);
      if (!t) {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_FILEDB_HANDLE);
        return -1;
      }
      c.oldPath = t->path;
      bool local = false;
      c.target = tablePath(folder, folder1, to->fileName(), local);
      if (!targets.insert(platform::mapPath(c.target)).second) continue;  // one file, rewritten once
      c.temporary = withExtension(c.target, ".$db");
      for (const auto& index : t->indexes)
        if (index.own()) c.indexFiles.push_back(index.path);
      for (const auto& f : to->fields)
        if (!f.indexFile().empty()) c.indexFiles.push_back(indexPath(folder, folder1, f.indexFile(), local));
      for (const auto& composite : to->composites())
        if (!composite.file.empty()) c.indexFiles.push_back(indexPath(folder, folder1, composite.file, local));
      changes.push_back(std::move(c));
    }

    // 1. Everything new beside the old files.
    std::vector<std::pair<std::string, std::string>> moves;
    for (const auto& c : changes) {
      std::vector<uint8_t> bytes;
      if (!rewriteTable(c, bytes) || !writeWhole(c.temporary, bytes)) return -1;
      moves.emplace_back(c.temporary, c.target);
    }
    if (updateForms && !changes.empty()) {
      std::set<std::string> seen;
      for (const auto& entry : p.resources) {
        const std::string path = resourcePath(p, entry.data());
        if (!seen.insert(platform::mapPath(path)).second || !platform::fileExists(platform::mapPath(path))) continue;
        std::vector<uint8_t> bytes;
        bool changed = false;
        if (!rewriteForm(path, changes, p, bytes, changed)) return -1;
        if (!changed) continue;
        const std::string temporary = withExtension(path, ".$fm");
        if (!writeWhole(temporary, bytes)) return -1;
        moves.emplace_back(temporary, path);
      }
    }
    if (!changes.empty()) {
      std::vector<uint8_t> catalog;
      const std::string temporary = withExtension(catalogPath, ".$dc");
      if (!readWhole(newCatalogPath, catalog) || !writeWhole(temporary, catalog)) return -1;
      moves.emplace_back(temporary, catalogPath);  // last: the catalog says which layout stands
      for (const auto& c : changes)
        for (const auto& index : c.indexFiles) listText += "D\t" + index + "\n";
      for (const auto& [from, to] : moves) listText += "M\t" + from + "\t" + to + "\n";
      // 2. The switch list, whole on the disk before it takes its name.
      const std::vector<uint8_t> bytes(listText.begin(), listText.end());
      if (!writeWhole(draft, bytes) || !syncFolderOf(draft)) return -1;
    }
  }
  if (!changes.empty()) {
    step("commit");
    if (!platform::moveFile(draft, list, true)) {
      ZEMTA_REPORT(lastErrorCode());
      removeIfThere(draft);
      return -1;
    }
    if (!syncFolderOf(list)) return -1;
  }
  // From here the change stands: the project closes, and the switch is
  // finished now or by the next open.
  if (next.catalog) {
    FileDBDelete(next.catalog);
    next.catalog = 0;
  }
  FileProjClose(handle);
  if (changes.empty()) return 0;
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  if (!carryOut(list)) return -1;
  return static_cast<int32_t>(changes.size());
}
