// The project maker: a definition (project_definition.h) becomes a catalog
// in the layout described in fileproj.cpp, and its empty tables and indexes.
#include "lib/store/project/project_writer.h"

#include <cstring>

#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/core/little_endian.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "zemta/fileaccess.h"
#include "zemta/fileidx.h"

namespace zemta::fileproj {
namespace {

void putText(uint8_t* at, const std::string& text, size_t width) {
  std::memcpy(at, text.data(), std::min(text.size(), width));
}

void putField(uint8_t* d, const FieldDefinition& f) {
  putText(d + kFieldName, f.name, kNameLen);
  put_i32le(d + kFieldId, f.id);
  put_u32le(d + kFieldFlags, f.flags);
  put_u16le(d + kFieldOffset, f.offset);
  put_u16le(d + kFieldSize, f.size);
  put_u16le(d + kFieldWord, f.fieldWord);
  putText(d + kFieldIndex, f.index, kFieldIndexLen - 1);
  put_u16le(d + kFieldRefTable, f.refTableId);
  put_u16le(d + kFieldRefField, f.refFieldId);
  put_u32le(d + kFieldKind, f.rules);
  put_u16le(d + kFieldTypeWord, static_cast<uint16_t>(f.typeCode | (f.decimals << 8)));
  d[kFieldImeMode] = f.imeMode;
}

std::string osError() { return "system error " + std::to_string(platform::lastError()); }

}  // namespace

std::string catalogBytes(const ProjectDefinition& def) {
  std::string bytes(kCatalogHeaderLen, '\0');
  auto* h = reinterpret_cast<uint8_t*>(bytes.data());
  putText(h + kHeaderDataFolder, def.dataFolder, kHeaderDataFolderLen - 1);
  put_u16le(h + kHeaderTableCount, static_cast<uint16_t>(def.tables.size()));
  put_u16le(h + kHeaderResourceCount, static_cast<uint16_t>(def.resources.size()));
  for (size_t i = 0; i < 5; ++i) putText(h + kHeaderFolders + i * kHeaderFolderLen, def.folders[i], kHeaderFolderLen - 1);
  for (const auto& t : def.tables) {
    uint8_t r[kCatalogRecordLen]{};
    putText(r + kTableName, t.name, kNameLen);
    put_i32le(r + kTableFdbId, t.fdbId);
    put_u16le(r + kTableId, t.id);
    put_u16le(r + kTableHeaderLen, t.headerLen);
    put_u16le(r + kTableRecordLen, t.recordLen);
    put_u16le(r + kTableHeaderFields, static_cast<uint16_t>(t.headerFields.size()));
    put_u16le(r + kTableRecordFields, static_cast<uint16_t>(t.fields.size()));
    putText(r + kTableFile, t.file, kTableFileLen - 1);
    put_u16le(r + kTableCompositeCount, static_cast<uint16_t>(t.composites.size()));
    for (size_t c = 0; c < t.composites.size(); ++c) {
      uint8_t* at = r + kTableComposites + c * kCompositeLen;
      putText(at, t.composites[c].file, kCompositeFileLen - 1);
      put_u16le(at + 16, static_cast<uint16_t>(t.composites[c].fields.size()));
      for (size_t k = 0; k < t.composites[c].fields.size(); ++k) put_u16le(at + 18 + 2 * k, t.composites[c].fields[k]);
    }
    bytes.append(reinterpret_cast<const char*>(r), kCatalogRecordLen);
  }
  // Resource entries: title 0, flags 20, attribute 24, table ids 26, 28, 30,
  // form word 54, file name 56 (the resource functions' layout).
  for (const auto& r : def.resources) {
    uint8_t e[kCatalogRecordLen]{};
    putText(e, r.title, 19);
    put_u32le(e + 20, r.flags);
    put_u16le(e + 24, r.attribute);
    for (size_t k = 0; k < 3; ++k) put_u16le(e + 26 + 2 * k, r.tables[k]);
    put_u16le(e + 54, r.formWord);
    putText(e + 56, r.file, 71);
    bytes.append(reinterpret_cast<const char*>(e), kCatalogRecordLen);
  }
  for (const auto& t : def.tables)
    for (const auto* list : {&t.headerFields, &t.fields})
      for (const auto& f : *list) {
        uint8_t d[kDescriptorLen]{};
        putField(d, f);
        bytes.append(reinterpret_cast<const char*>(d), kDescriptorLen);
      }
  return bytes;
}

bool makeProject(const ProjectDefinition& def, const std::string& catalogPath, std::string& error) {
  const std::string nativeCatalog = platform::mapPath(catalogPath);
  if (platform::fileExists(nativeCatalog)) {
    error = "the catalog exists already: " + catalogPath;
    return false;
  }
  const std::string folderOfCatalog = platform::folderOf(nativeCatalog);
  if (!folderOfCatalog.empty() && !platform::createDirectories(folderOfCatalog)) {
    error = "cannot make the folder " + folderOfCatalog + ": " + osError();
    return false;
  }
  const std::string bytes = catalogBytes(def);
  ZemtaFileHandle file = ZemtaCreateFile(catalogPath.c_str(), ZEMTA_GENERIC_WRITE, 0, ZEMTA_CREATE_NEW,
                                         ZEMTA_FILE_ATTRIBUTE_NORMAL | ZEMTA_FILE_FLAG_WRITE_THROUGH);
  if (file == ZEMTA_INVALID_FILE) {
    error = "cannot create " + catalogPath + ": " + osError();
    return false;
  }
  uint32_t done = 0;
  bool written = ZemtaWriteFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done, 0, ZEMTA_FILE_BEGIN) &&
                 done == bytes.size();
  ZemtaCloseFile(file);
  if (!written) {
    error = "cannot write " + catalogPath + ": " + osError();
    return false;
  }
  std::string projectFolder;
  // The project folder may not exist yet: make it from the catalog's rule first.
  const std::string wanted = projectFolderWanted(catalogPath, def.dataFolder);
  if (!wanted.empty() && !platform::createDirectories(platform::mapPath(wanted))) {
    error = "cannot make the project folder " + wanted + ": " + osError();
    return false;
  }
  if (!resolveProjectFolder(catalogPath, def.dataFolder, projectFolder)) {
    error = "cannot reach the project folder: " + osError();
    return false;
  }
  for (const auto& folder : def.folders)
    if (!folder.empty() && !platform::createDirectories(platform::mapPath(projectFolder + folder))) {
      error = "cannot make the folder " + projectFolder + folder + ": " + osError();
      return false;
    }
  const std::string localFolder = filedb::localDataPath();
  if (!localFolder.empty() && !platform::createDirectories(platform::mapPath(platform::withSeparator(localFolder) + def.folders[1]))) {
    error = "cannot make the local data folder: " + osError();
    return false;
  }
  for (const auto& t : def.tables) {
    bool local = false;
    const std::string path = tablePath(projectFolder, def.folders[1], t.file, local);
    FileDBHandle table = FileDBCreate(path.c_str(), t.id, t.headerLen, t.recordLen, t.name.c_str(), nullptr);
    if (!table) {
      error = "cannot create the table " + path;
      return false;
    }
    bool ok = true;
    for (const auto& f : t.fields) {
      if (f.index.empty()) continue;
      const std::string index = indexPath(projectFolder, def.folders[1], f.index, local);
      BtreeCompareFunc compare = filedb::projectIndexCompare(f.flags, f.typeCode, f.typeCode, f.size);
      if (FileAddIndex(table, index.c_str(), 8, f.typeCode, f.offset, f.size, f.fieldWord, compare, nullptr,
                       nullptr) != 0) {
        error = "cannot create the index " + index;
        ok = false;
        break;
      }
    }
    for (const auto& c : t.composites) {
      if (!ok) break;
      FileIndexKeyPart parts[FILEIDX_MAX_PARTS]{};
      uint32_t keyLen = 0;
      for (size_t k = 0; k < c.fields.size(); ++k) {
        const FieldDefinition& f = t.fields[c.fields[k]];
        parts[k] = {f.typeCode, f.offset, f.size};
        keyLen += f.typeCode < 2 ? f.size : 2u * f.size;
      }
      const std::string index = indexPath(projectFolder, def.folders[1], c.file, local);
      if (FileAddIndex(table, index.c_str(), 8, 0, -static_cast<int32_t>(c.fields.size()), keyLen, 0,
                       filedb::compareBytes, parts, nullptr) != 0) {
        error = "cannot create the index " + index;
        ok = false;
      }
    }
    FileDBDelete(table);
    if (!ok) return false;
  }
  return true;
}

}  // namespace zemta::fileproj
