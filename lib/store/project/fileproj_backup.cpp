// Backing a project up and restoring it.
//
// A backup (".dbk") is one combined file (combine.h) holding each table file
// and the index file of each of its indexed record fields, named as the
// catalog names them, relative to the table folder (project folder + folder 1
// of the catalog). A table named ".\name" and its indexes lie in the local
// data folder (+ folder 1) instead: they are read from there and restored
// there. Composite index files are not kept: after a restore they are checked
// against the restored records and rebuilt when they no longer agree.
//
// A restore unpacks as ApartFile does, which checks the whole backup and
// unpacks it into a temporary folder first, so a damaged or cut backup leaves
// every current file as it was; a backup holding any file that is not one
// of the project's tables or indexes is refused whole. Afterwards every table forgets what it had
// cached of the old files (record image, header, record count) and its index
// trees re-read their header and root.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/combine_internal.h"
#include "lib/core/report.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/change_listener.h"
#include "platform/base/cp932.h"
#include "platform/base/path.h"
#include "platform/ui/common_dialogs.h"
#include "zemta/btree.h"
#include "zemta/combine.h"
#include "zemta/date.h"
#include "zemta/errors.h"
#include "zemta/fileaccess.h"
#include "zemta/fileproj_upkeep.h"

using namespace zemta;
using namespace zemta::filedb;
using namespace zemta::fileproj;

namespace {

const char kBackupFilter[] = "Backup Files (*.dbk)|*.dbk|All Files (*.*)|*.*||";
const char kRestoreCaption[] = "リストアを行うファイルを選択して下さい";

// "DT" + two-digit year, then month and day padded with a space.
std::string defaultBackupName(const std::string& tableFolder) {
  uint16_t date = 0;
  GetDate(&date, nullptr);
  unsigned year = ((date >> 9) + 1980u) % 100u, month = (date >> 5) & 0x0F, day = date & 0x1F;
  char name[32];
  std::snprintf(name, sizeof name, "DT%02u%2u%2u.dbk", year, month, day);
  return tableFolder + name;
}

// Splits a path after its last separator or drive colon into the folder and
// the file name.
void splitPath(const std::string& path, std::string& folder, std::string& file) {
  const size_t cut = platform::lastSeparator(path, true);
  if (cut == std::string::npos) {
    folder.clear();
    file = path;
  } else {
    folder = path.substr(0, cut + 1);
    file = path.substr(cut + 1);
  }
}

HWND projectWindow(const Project& p) {
  if (p.owner) return p.owner;
  for (const auto& s : p.sets)
    if (s && s->window) return s->window;
  return nullptr;
}

// Makes an open table take up its restored file: no cached record, the header
// and record count read anew, every own tree re-reading its header and root.
bool reloadTable(Table& t) {
  t.cached = -1;
  if (!openTable(t, FILEDB_MODE_READ)) return false;
  bool ok = true;
  for (auto& e : t.indexes) {
    if (!e.own()) continue;
    if (e.handle < 0) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
      ok = false;
      break;
    }
    if (BtreeReOpen(e.handle) < 0) {
      ok = false;
      break;
    }
  }
  uint32_t count = 0;
  if (ok && !fileRecordCount(t, count)) ok = false;
  if (ok) {
    t.count = count;
    // A later partial header write writes the whole kept header back: it
    // must be the restored one, not the one from before.
    t.header.assign(t.headerLen, 0);
    uint32_t done = 0;
    if (t.headerLen > 0 && !ZemtaReadFile(t.file, t.header.data(), t.headerLen, &done, 0, ZEMTA_FILE_BEGIN)) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      ok = false;
    }
  }
  if (!closeTable(t)) ok = false;
  return ok;
}

// One of the project's own files in a backup: the name the backup gives it
// (as the catalog names it, relative to its folder) and that folder. A table
// whose file name begins ".\" lies in the local data folder with its
// indexes, every other one in the table folder.
struct BackupMember {
  std::string name;
  std::string folder;
};

std::string folderOf(const Project& p, const TableEntry& entry) {
  const std::string folder1 = p.folderText(1);
  const std::string local = filedb::localDataPath();
  if (entry.local && !local.empty()) return platform::withSeparator(local) + folder1;
  return p.folder + folder1;
}

// The project's own files: each table and the index file of each indexed
// field. A file named by two catalog entries comes once.
std::vector<BackupMember> backupMembers(const Project& p) {
  std::vector<BackupMember> members;
  auto addOnce = [&members](const std::string& name, const std::string& folder) {
    for (const auto& m : members)
      if (platform::sameName(m.name, name) && m.folder == folder) return;
    members.push_back({name, folder});
  };
  for (const auto& entry : p.tables) {
    const std::string folder = folderOf(p, entry);
    std::string table = entry.fileName();
    if (!platform::hasExtension(table)) table += ".dbf";
    addOnce(table, folder);
    for (const auto& f : entry.fields) {
      std::string index = f.indexFile();
      if (index.empty()) continue;
      if (!platform::hasExtension(index)) index += ".bxx";
      addOnce(index, folder);
    }
  }
  return members;
}

}  // namespace

ZEMTA_API int32_t FileProjBackup(FileProjHandle handle, const char* targetPath) {
  if (FileProjCheckHandle(handle) < 0) return -1;
  // Copied whole and unchanged: lingering holds close first.
  zemta::filedb::endLingeringHolds();
  Project* p = findProject(handle);
  if (!p) return -1;
  if (p->tables.empty()) return 0;
  const std::string tableFolder = p->folder + p->folderText(1);

  std::vector<CombineMember> list;
  for (const auto& m : backupMembers(*p)) list.push_back({m.name, m.folder + memberNameOf(m.name)});
  const std::string target = targetPath && *targetPath ? std::string(targetPath) : defaultBackupName(tableFolder);
  return combineFilesOf(list, target.c_str());
}

ZEMTA_API int32_t FileProjRestore(FileProjHandle handle, const char* backupPath, int32_t ask,
                                  FileProjRestoreFunc callback) {
  if (FileProjCheckHandle(handle) < 0) return -1;
  // The tables are put back under lingering holds: those close first.
  zemta::filedb::endLingeringHolds();
  Project* p = findProject(handle);
  if (!p) return -1;
  const std::string restoreFolder = p->folder + p->folderText(1);

  std::string chosen = backupPath ? backupPath : "";
  if (chosen.empty() || ask != 0) {
    platform::ui::FileDialogRequest request;
    request.kind = platform::ui::FileDialogKind::Open;
    request.caption = kRestoreCaption;
    request.filters = platform::ui::parseFileFilter(kBackupFilter);
    std::string folder, file;
    splitPath(chosen, folder, file);
    request.folder = folder.empty() ? restoreFolder : folder;
    request.fileName = file;
    std::string answer;
    if (!platform::ui::openFileDialog(projectWindow(*p), request, answer)) return 0;
    chosen = answer;
  }

  // The whole backup is checked before anything is replaced, and it holds
  // the project's own tables and indexes only: anything else (a temporary
  // transaction file, a program) refuses it.
  // Each goes back to the folder it was taken from: a table of the local data
  // folder (".\POS_BAS.DBF") and its indexes there, the rest into the table
  // folder. A name is matched as the backup stores it, else as the
  // unpacking resolves it ("POS_BAS.DBF").
  const std::vector<BackupMember> members = backupMembers(*p);
  auto place = [&members](const std::string& stored, const std::string& name, std::string& folder) {
    for (const auto& m : members)
      if (platform::sameName(m.name, stored)) {
        folder = m.folder;
        return true;
      }
    for (const auto& m : members) {
      const std::string resolved = memberNameOf(m.name);
      if (!resolved.empty() && platform::sameName(resolved, name)) {
        folder = m.folder;
        return true;
      }
    }
    return false;
  };
  int32_t restored = apartFileOf(chosen.c_str(), restoreFolder.c_str(), place);
  if (restored < 0) return -1;

  if (callback) callback(p->folder.c_str());

  for (auto& entry : p->tables) {
    Table* t = checkedTable(entry.table);
    if (!t) return -1;
    if (!reloadTable(*t)) return -1;
    store::tellTableResized(entry.table, 0);
    // Composite indexes are not in a backup: rebuild any that no longer
    // agree with the restored records.
    for (size_t i = 0; i < t->indexes.size(); ++i)
      if (t->indexes[i].own() && t->indexes[i].composite() &&
          FileIdxCheck(entry.table, static_cast<int32_t>(i), FILEIDX_CHECK_REBUILD, nullptr) < 0)
        return -1;
  }
  return restored;
}
