// Projects: the catalog, opening and closing a project with its tables and
// indexes, lookups of tables and fields, and the storage of record-buffer sets.
//
// Project catalog: a table (filedb.cpp) with a 1152-byte header and 128-byte
// records, little-endian.
//
// Header:
//   offset  size  content
//   0       32    not used here (kept)
//   32      36    project data folder, zero-terminated: absolute, relative, or
//                 beginning with the 7 characters "\\Proj\" = relative to the
//                 catalog's own folder; also the table qualifier
//   68      2     table count T
//   70      2     resource count R
//   72      128   folder 0, zero-terminated, relative to the project folder
//   200     128   folder 1: tables and index files
//   328     128   folder 2
//   456     128   folder 3
//   584     128   folder 4
//   712     440   not used here (kept)
//
// Records, in this order: T table records, R resource records, then table by
// table its header-field descriptors and its record-field descriptors, each
// descriptor two records (256 bytes). Nothing may follow the last descriptor.
//
// Table record:
//   0    16  table name (cut to 16 bytes without splitting a double-byte
//            character; no terminator when all 16 are used)
//   16   4   fdb id (i32)
//   20   2   table id given to FileDBCreate
//   22   6   not used here (kept)
//   28   2   header length
//   30   2   record length
//   32   2   header-field count
//   34   2   record-field count
//   36   18  file name, zero-terminated; ".dbf" added when it has no dot; a
//            name beginning with ".\" lies in the local data folder
//   54   2   composite index count (at most 3)
//   56   72  three composite definitions of 24 bytes: index file name (16;
//            ".bxx" added when it has no dot), part count (u16), three field
//            numbers (u16, 0-based in the record-field list)
//
// Field descriptor (256 bytes, header and record fields alike):
//   0    16  field name
//   16   4   field id (i32)
//   20   4   not used here
//   24   4   index flags: 0x10000 alphanumeric, 0x20000 keyword, 0x10000000 byte compare
//   28   2   offset in the record (or header)
//   30   2   size
//   32   2   field word: bit count in the high byte, bit position in the low byte (0 whole)
//   34   16  index file name, empty when none (header fields never have one)
//   50   2   referenced table (fdb id)
//   52   2   referenced field (field id)
//   54   2   not used here
//   56   4   kind and key rules: bits 0-3 kind, 16-23 sub-kind, 29 empty exempt
//            from unique, 30 duplicate after confirmation, 31 unique
//   60   94  not used here
//   154  2   type word: bits 0-5 type code (below 2 byte string), 8-12 decimals
//   156  100 not used here
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/handle_table.h"
#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/core/little_endian.h"
#include "lib/store/change_listener.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "platform/ui/window.h"

uint32_t g_nMsgRefExt = 0;

namespace zemta::fileproj {
namespace {

// The catalog table's title in the wait dialog.
const char kCatalogTitle[] = "ﾌﾟﾛｼﾞｪｸﾄﾃﾞｰﾀﾍﾞｰｽ";
const char kProjPrefix[] = "\\\\Proj\\";
constexpr size_t kMaxPathLen = 259;

HandleTable<Project>& registry() {
  static HandleTable<Project> table(0x5A500000, 0xFF, kMaxProjects);
  return table;
}

uint32_t lastErrorCode() {
  uint32_t code = platform::lastError();
  return code ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
}

bool sameName(const std::string& stored, const char* given) {
  return cutName(given) == stored;
}

// Frees what a project holds; every step runs even when one fails.
bool freeProject(Project& p) {
  bool ok = true;
  if (!store::tellProjectClosing(p.handle)) ok = false;
  removeAllSets(p);
  for (auto& entry : p.tables) {
    if (entry.table && FileDBDelete(entry.table) != 0) ok = false;
    entry.table = 0;
  }
  p.tables.clear();
  p.resources.clear();
  if (p.catalog && FileDBDelete(p.catalog) != 0) ok = false;
  p.catalog = 0;
  return ok;
}

// The library-wide machinery lives while any project is open.
void stopMachinery() {
  stopRefreshTimer();
  refreshLock().destroy();
  apiLock().destroy();
  lockUseCounter() = 0;
}

bool startMachinery() {
  uint32_t id = platform::ui::registerWindowMessage("ZEMTA_REF_EXTERN");
  if (id == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_ACCESS_CODE);
    return false;
  }
  g_nMsgRefExt = id;
  if (!startRefreshTimer()) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_TIMER);
    return false;
  }
  refreshLock().create();
  apiLock().create();
  return true;
}

// Closes a project the registry still holds: unregisters it first.
int32_t closeProject(FileProjHandle handle, bool takeLock) {
  std::unique_ptr<Project> owned;
  {
    std::unique_ptr<ApiLockGuard> lock;
    if (takeLock) {
      lock = std::make_unique<ApiLockGuard>();
      if (!lock->ok()) {
        ZEMTA_REPORT(-1);
        return -1;
      }
    }
    owned = registry().remove(handle);
  }
  if (!owned) return -1;
  bool ok = freeProject(*owned);
  owned.reset();
  if (registry().count() == 0) stopMachinery();
  return ok ? 0 : -1;
}

}  // namespace

bool readCatalog(Project& p) {
  filedb::Table* t = filedb::findTable(p.catalog);
  if (!t || !filedb::holdTable(*t, FILEDB_MODE_READ)) return false;
  struct Release {
    filedb::Table* t;
    ~Release() { filedb::releaseHold(*t); }
  } release{t};
  uint32_t done = 0;
  if (!ZemtaReadFile(t->file, p.header.data(), kCatalogHeaderLen, &done, 0, ZEMTA_FILE_BEGIN)) {
    ZEMTA_REPORT(lastErrorCode());
    return false;
  }
  uint32_t count = 0;
  if (done != kCatalogHeaderLen || !filedb::fileRecordCount(*t, count)) {
    if (done != kCatalogHeaderLen) ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  std::vector<uint8_t> records(static_cast<size_t>(count) * kCatalogRecordLen);
  if (count > 0) {
    if (!ZemtaReadFile(t->file, records.data(), static_cast<uint32_t>(records.size()), &done, kCatalogHeaderLen,
                       ZEMTA_FILE_BEGIN)) {
      ZEMTA_REPORT(lastErrorCode());
      return false;
    }
    if (done != records.size()) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      return false;
    }
  }
  const uint32_t tableCount = get_u16le(p.header.data() + kHeaderTableCount);
  const uint32_t resourceCount = get_u16le(p.header.data() + kHeaderResourceCount);
  if (tableCount + resourceCount > count) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  uint64_t expected = tableCount + resourceCount;
  p.tables.resize(tableCount);
  for (uint32_t i = 0; i < tableCount; ++i) {
    TableEntry& e = p.tables[i];
    std::memcpy(e.record.data(), records.data() + i * kCatalogRecordLen, kCatalogRecordLen);
    expected += 2ull * (e.headerFieldCount() + e.recordFieldCount());
  }
  if (expected != count) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  for (uint32_t i = 0; i < resourceCount; ++i) {
    p.resources.emplace_back();
    std::memcpy(p.resources.back().data(), records.data() + (tableCount + i) * kCatalogRecordLen, kCatalogRecordLen);
  }
  size_t at = static_cast<size_t>(tableCount + resourceCount) * kCatalogRecordLen;
  for (auto& e : p.tables) {
    for (auto* list : {&e.headerFields, &e.fields}) {
      size_t n = list == &e.headerFields ? e.headerFieldCount() : e.recordFieldCount();
      list->resize(n);
      for (auto& f : *list) {
        std::memcpy(f.raw.data(), records.data() + at, kDescriptorLen);
        at += kDescriptorLen;
      }
    }
  }
  return true;
}

namespace {

// The file the last failed FileProjOpen of this process stopped at: the
// catalog, a table or an index (empty when it opened, or stopped before any
// file). The start names it in its message.
std::string& failedOpenFile() {
  static std::string path;
  return path;
}

bool openTables(Project& p) {
  const std::string folder1 = p.folderText(1);
  // Record stores of the remote file service are named by table; tables
  // sharing one file name share the store of the first of them.
  std::vector<std::pair<std::string, std::string>> storeNames;
  for (auto& e : p.tables) {
    for (const auto& f : e.headerFields)
      if (!f.indexFile().empty() || f.offset() + f.size() > e.headerLen()) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
        return false;
      }
    for (const auto& f : e.fields)
      if (f.size() == 0 || f.offset() + f.size() > e.recordLen()) {
        ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
        return false;
      }
    bool local = false;
    std::string path = tablePath(p.folder, folder1, e.fileName(), local);
    e.local = local;
    const std::string name = e.name();
    if (zemta::remoteMappingFlag(path) == static_cast<int32_t>(filedb::kRemoteRecordStore)) {
      std::string store = name;
      for (const auto& [file, earlier] : storeNames)
        if (file == e.fileName()) {
          store = earlier;
          break;
        }
      storeNames.emplace_back(e.fileName(), store);
      path = p.folder + folder1 + store;
    }
    e.table = FileDBCreate(path.c_str(), e.tableId(), e.headerLen(), e.recordLen(), name.c_str(), p.owner);
    if (!e.table) {
      failedOpenFile() = path;
      return false;
    }
    if (filedb::Table* t = filedb::findTable(e.table); t && t->remote()) {
      // Each record field takes the service's column of its name; columns
      // no field names are not sent.
      for (const auto& f : e.fields)
        filedb::bindRemoteColumn(*t, f.name(), f.offset(), f.size(), f.typeCode(), f.fieldWord());
      filedb::keepBoundColumns(*t);
    }
    for (const auto& f : e.fields) {
      const std::string file = f.indexFile();
      if (file.empty()) continue;
      std::string index = indexPath(p.folder, folder1, file, e.local);
      std::string title = "[" + name + "] - [" + f.name() + "]";
      BtreeCompareFunc compare = filedb::projectIndexCompare(static_cast<uint32_t>(f.indexFlags()), f.typeCode(),
                                                             f.typeCode(), f.size());
      if (FileAddIndex(e.table, index.c_str(), 8, f.typeCode(), f.offset(), f.size(), f.fieldWord(), compare,
                       nullptr, title.c_str()) != 0) {
        failedOpenFile() = index;
        return false;
      }
    }
    for (const auto& c : e.composites()) {
      if (c.file.empty()) continue;
      FileIndexKeyPart parts[FILEIDX_MAX_PARTS]{};
      std::string title = "[" + name + "] - [";
      uint32_t keyLen = 0;
      for (size_t i = 0; i < c.fields.size(); ++i) {
        if (c.fields[i] >= e.fields.size()) {
          ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
          return false;
        }
        const Field& f = e.fields[c.fields[i]];
        parts[i] = {f.typeCode(), f.offset(), f.size()};
        keyLen += f.typeCode() < 2 ? f.size() : 2u * f.size();
        title += (i ? " + " : "") + f.name();
      }
      title += "]";
      std::string index = indexPath(p.folder, folder1, c.file, e.local);
      if (FileAddIndex(e.table, index.c_str(), 8, 0, -static_cast<int32_t>(c.fields.size()), keyLen, 0,
                       filedb::compareBytes, parts, title.c_str()) != 0) {
        failedOpenFile() = index;
        return false;
      }
    }
    e.work.assign(e.recordLen(), 0);
  }
  return true;
}

Project* checkedProject(FileProjHandle handle) {
  if (FileProjCheckHandle(handle) < 0) return nullptr;
  return findProject(handle);
}

}  // namespace

std::string fixedText(const uint8_t* at, size_t width) {
  size_t n = 0;
  while (n < width && at[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(at), n);
}

std::string cutName(const std::string& name, size_t limit) {
  size_t end = name.find('\0');
  return platform::cp932::cutText(std::string_view(name).substr(0, end), limit);
}

int32_t Field::id() const { return get_i32le(raw.data() + kFieldId); }
int32_t Field::indexFlags() const { return get_i32le(raw.data() + kFieldFlags); }
uint16_t Field::offset() const { return get_u16le(raw.data() + kFieldOffset); }
uint16_t Field::size() const { return get_u16le(raw.data() + kFieldSize); }
uint16_t Field::fieldWord() const { return get_u16le(raw.data() + kFieldWord); }
uint16_t Field::refTable() const { return get_u16le(raw.data() + kFieldRefTable); }
uint16_t Field::refField() const { return get_u16le(raw.data() + kFieldRefField); }
int32_t Field::kind() const { return get_i32le(raw.data() + kFieldKind); }
uint16_t Field::typeWord() const { return get_u16le(raw.data() + kFieldTypeWord); }

int32_t TableEntry::fdbId() const { return get_i32le(record.data() + kTableFdbId); }
uint16_t TableEntry::tableId() const { return get_u16le(record.data() + kTableId); }
uint16_t TableEntry::headerLen() const { return get_u16le(record.data() + kTableHeaderLen); }
uint16_t TableEntry::recordLen() const { return get_u16le(record.data() + kTableRecordLen); }
uint16_t TableEntry::headerFieldCount() const { return get_u16le(record.data() + kTableHeaderFields); }
uint16_t TableEntry::recordFieldCount() const { return get_u16le(record.data() + kTableRecordFields); }

std::vector<Composite> TableEntry::composites() const {
  std::vector<Composite> out;
  uint16_t n = std::min<uint16_t>(get_u16le(record.data() + kTableCompositeCount), 3);
  for (uint16_t i = 0; i < n; ++i) {
    const uint8_t* at = record.data() + kTableComposites + i * kCompositeLen;
    Composite c;
    c.file = fixedText(at, kCompositeFileLen);
    uint16_t parts = std::min<uint16_t>(get_u16le(at + 16), 3);
    for (uint16_t k = 0; k < parts; ++k) c.fields.push_back(get_u16le(at + 18 + 2 * k));
    if (!c.file.empty() && parts == 0) c.file.clear();
    out.push_back(c);
  }
  return out;
}

std::string projectFolderWanted(const std::string& catalogPath, const std::string& dataFolder) {
  if (!platform::cp932::startsWithNoCase(dataFolder, kProjPrefix)) return dataFolder;
  size_t cut = platform::lastSeparator(catalogPath, true);
  return (cut == std::string::npos ? std::string() : catalogPath.substr(0, cut + 1)) +
         dataFolder.substr(std::strlen(kProjPrefix));
}

// A path with its "." and ".." steps worked out from its text alone, '/'
// separated; empty when ".." climbs above its start.
std::string lexicallyResolved(const std::string& path) {
  std::vector<std::string> steps;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find_first_of("/\\", at);
    if (end == std::string::npos) end = path.size();
    const std::string step = path.substr(at, end - at);
    if (step == "..") {
      if (steps.empty()) return {};
      steps.pop_back();
    } else if (!step.empty() && step != ".") {
      steps.push_back(step);
    }
    at = end + 1;
  }
  std::string resolved = !path.empty() && (path[0] == '/' || path[0] == '\\') ? "/" : "";
  for (size_t i = 0; i < steps.size(); ++i) resolved += (i ? "/" : "") + steps[i];
  return resolved;
}

bool resolveProjectFolder(const std::string& catalogPath, const std::string& dataFolder, std::string& folder) {
  std::string wanted = projectFolderWanted(catalogPath, dataFolder);
  if (platform::endsWithSeparator(wanted)) wanted.pop_back();
  // A project on the remote file server has no folder here to change into:
  // its folder is worked out from the catalog's path.
  if (ZemtaIsRemotePath(platform::withSeparator(wanted, '/').c_str())) {
    const std::string resolved = lexicallyResolved(wanted);
    if (resolved.empty()) {
      platform::setLastError(platform::kErrorPathNotFound);
      return false;
    }
    folder = resolved.substr(0, platform::cp932::fitLength(resolved, kMaxPathLen)) + "\\";
    return true;
  }
  const std::string remembered = platform::currentFolder();
  if (remembered.empty()) return false;
  if (!wanted.empty() && !platform::setCurrentFolder(wanted)) return false;
  std::string absolute = platform::currentFolder();
  uint32_t readError = absolute.empty() ? platform::lastError() : 0;
  platform::setCurrentFolder(remembered);
  if (absolute.empty()) {
    platform::setLastError(readError);
    return false;
  }
  absolute.resize(platform::cp932::fitLength(absolute, kMaxPathLen));
  folder = absolute + "\\";
  return true;
}

bool isLocalFileName(const std::string& fileName) {
  return fileName.size() >= 2 && fileName[0] == '.' && fileName[1] == '\\';
}

std::string tablePath(const std::string& projectFolder, const std::string& folder1, const std::string& fileName,
                      bool& local) {
  std::string path;
  local = false;
  if (isLocalFileName(fileName)) {
    const std::string localFolder = filedb::localDataPath();
    local = !localFolder.empty();
    path = (local ? platform::withSeparator(localFolder) : projectFolder) + folder1 + fileName.substr(2);
  } else {
    path = projectFolder + folder1 + fileName;
  }
  if (!platform::hasExtension(fileName)) path += ".dbf";
  return path;
}

std::string indexPath(const std::string& projectFolder, const std::string& folder1, const std::string& fileName,
                      bool local) {
  const std::string localFolder = filedb::localDataPath();
  std::string path = (local && !localFolder.empty() ? platform::withSeparator(localFolder) : projectFolder) + folder1 + fileName;
  if (!platform::hasExtension(fileName)) path += ".bxx";
  return path;
}

Project* findProject(FileProjHandle handle) {
  Project* p = registry().find(handle);
  if (!p || static_cast<uint32_t>(p->check) != (p->id | kProjectCheck)) return nullptr;
  return p;
}

std::vector<Project*> openProjects() {
  std::vector<Project*> out;
  registry().forEach([&](uint32_t, Project& p) { out.push_back(&p); });
  return out;
}

int32_t FileProjCheckHandle(FileProjHandle handle) {
  if (!findProject(handle)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJECT_HANDLE);
    return -1;
  }
  return static_cast<int32_t>((handle & 0xFF) - 1);
}

TableEntry* FileProjFindTable(FileProjHandle handle, int32_t fdbId) {
  Project* p = checkedProject(handle);
  if (!p) return nullptr;
  if (p->tables.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return nullptr;
  }
  for (auto& e : p->tables)
    if (e.fdbId() == fdbId) return &e;
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return nullptr;
}

const Field* FileProjFindField(const TableEntry& entry, int32_t fieldId) {
  for (const auto& f : entry.fields)
    if (f.id() == fieldId) return &f;
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return nullptr;
}

const Field* FileProjGetIndexField(const TableEntry& entry, int32_t index) {
  filedb::Table* t = filedb::findTable(entry.table);
  if (t && index >= 0 && static_cast<size_t>(index) < t->indexes.size()) {
    const filedb::IndexEntry& ie = t->indexes[index];
    if (!ie.composite())
      for (const auto& f : entry.fields)
        if (f.offset() == ie.keyDesc && (f.fieldWord() & 0xFF) == (ie.fieldWord & 0xFF)) return &f;
  }
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return nullptr;
}

const Field* FileProjFindFieldByPlace(const TableEntry& entry, uint16_t offset, uint16_t size, uint16_t fieldWord) {
  for (const auto& f : entry.fields)
    if (f.offset() == offset && f.size() == size && f.fieldWord() == fieldWord) return &f;
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return nullptr;
}

}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

ZEMTA_API FileProjHandle FileProjOpen(const char* catalogPath, uint32_t projectId, HWND owner) {
  if (registry().count() >= kMaxProjects) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return 0;
  }
  if (!catalogPath || !*catalogPath || std::strlen(catalogPath) >= 260) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return 0;
  }
  if (projectId == 0 || projectId > 0xFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_ACCESS_CODE);
    return 0;
  }
  // A missing catalog is an error here: opening must never create an empty
  // project. (It may lie on the remote file server.)
  if (!ZemtaFileExists(catalogPath)) {
    ZEMTA_REPORT(platform::kErrorFileNotFound);
    return 0;
  }
  failedOpenFile().clear();
  // A layout change that was switching its files over when the process died
  // is finished before anything of the project is read.
  if (!finishLayoutChange(catalogPath)) {
    failedOpenFile() = catalogPath;
    return 0;
  }
  const bool first = registry().count() == 0;
  if (first && !startMachinery()) {
    stopMachinery();
    return 0;
  }
  FileProjHandle handle = 0;
  {
    ApiLockGuard lock;
    if (!lock.ok()) {
      if (first) stopMachinery();
      return 0;
    }
    auto owned = std::make_unique<Project>();
    owned->id = static_cast<uint16_t>(projectId);
    owned->check = static_cast<int32_t>(projectId | kProjectCheck);
    owned->catalogPath = catalogPath;
    owned->owner = owner;
    handle = registry().add(std::move(owned));
    if (!handle) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      if (first) stopMachinery();
      return 0;
    }
  }
  // The table calls below take the API lock themselves; the project stays
  // marked as opening so that a refresh tick (from a wait dialog's loop)
  // leaves it alone.
  Project& p = *findProject(handle);
  p.handle = handle;
  auto fail = [&]() -> FileProjHandle {
    closeProject(handle, false);
    return 0;
  };
  p.catalog = FileDBCreate(catalogPath, projectId, kCatalogHeaderLen, kCatalogRecordLen, kCatalogTitle, owner);
  if (!p.catalog || !readCatalog(p)) {
    failedOpenFile() = catalogPath;
    return fail();
  }
  if (!resolveProjectFolder(p.catalogPath, p.dataFolder(), p.folder)) {
    uint32_t code = platform::lastError();
    if (code != platform::kErrorPathNotFound && code != platform::kErrorFileNotFound) ZEMTA_REPORT(lastErrorCode());
    return fail();
  }
  size_t longest = 0;
  for (int k = 1; k <= 4; ++k) longest = std::max(longest, p.folderText(k).size());
  if (longest > 244 || p.folder.size() > 244 - longest) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return fail();
  }
  if (!openTables(p)) return fail();
  p.opening = false;
  return handle;
}

ZEMTA_API int32_t FileProjClose(FileProjHandle handle) {
  if (FileProjCheckHandle(handle) < 0) return -1;
  zemta::filedb::endLingeringHolds();
  return closeProject(handle, true);
}

ZEMTA_API FileDBHandle FileProjGetFdb(FileProjHandle handle, int32_t fdbId) {
  TableEntry* e = FileProjFindTable(handle, fdbId);
  return e ? e->table : 0;
}

ZEMTA_API int32_t FileProjGetType(FileProjHandle handle, int32_t fdbId, const char* tableName, int32_t fieldId,
                                  const char* fieldName, FileProjTypeInfo* info, int32_t* outFieldId,
                                  int32_t quiet) {
  Project* p = checkedProject(handle);
  if (!p) return 0;
  if (p->tables.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return 0;
  }
  if (fdbId == 0 && (!tableName || !*tableName)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return 0;
  }
  const TableEntry* entry = nullptr;
  for (const auto& e : p->tables)
    if (fdbId != 0 ? e.fdbId() == fdbId : sameName(e.name(), tableName)) {
      entry = &e;
      break;
    }
  if (!entry) {
    if (!quiet) ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return 0;
  }
  if (fieldId != 0 || (fieldName && *fieldName)) {
    const Field* found = nullptr;
    for (const auto* list : {&entry->headerFields, &entry->fields}) {
      for (const auto& f : *list)
        if (fieldId != 0 ? f.id() == fieldId : sameName(f.name(), fieldName)) {
          found = &f;
          break;
        }
      if (found) break;
    }
    if (!found) {
      if (!quiet) ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return 0;
    }
    if (info) *info = {found->offset(), found->size(), found->fieldWord(), found->typeCode()};
    if (outFieldId) *outFieldId = found->id();
  }
  return entry->fdbId();
}

ZEMTA_API int32_t FileProjGetPathName(FileProjHandle handle, char* out, int32_t kind, const char* suffix) {
  if (handle == 0 && kind == FILEPROJ_PATH_FAILED_OPEN) {
    if (!out) return -1;
    const std::string& path = failedOpenFile();
    if (path.size() > kMaxPathLen) return -1;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return 0;
  }
  Project* p = checkedProject(handle);
  if (!p) return -1;
  if (!out) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::string path;
  if (kind == -1) {
    path = p->catalogPath;
  } else if (kind >= 0 && kind <= 4) {
    path = p->folder + p->folderText(kind) + (suffix ? suffix : "");
  } else {
    return -1;
  }
  if (path.size() > kMaxPathLen) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  std::memcpy(out, path.c_str(), path.size() + 1);
  return 0;
}

ZEMTA_API int32_t FileProjGetTableQualifier(FileProjHandle handle, char* out, int32_t length) {
  Project* p = checkedProject(handle);
  if (!p) return -1;
  if (!out || length < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const std::string text = p->dataFolder();
  size_t n = std::min(static_cast<size_t>(length), text.size() + 1);
  std::memcpy(out, text.c_str(), n);
  return 0;
}

ZEMTA_API int32_t FileProjSetCallback(FileProjHandle handle, int32_t on) {
  Project* p = checkedProject(handle);
  if (!p) return -1;
  p->refreshOff = on ? 0 : 1;
  return 0;
}

ZEMTA_API int32_t FileSameProjCheck(uint32_t projectId, HWND* window) {
  int32_t n = 0;
  registry().forEach([&](uint32_t, Project& p) {
    if (p.id == projectId && !p.opening) {
      ++n;
      if (window) *window = p.owner;
    }
  });
  return n;
}

