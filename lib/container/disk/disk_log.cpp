// The disk's change log: the table "\SYSTEM\LOG", in the disk itself or in a
// separate log disk (a disk of type 2) named by the configuration's "Log
// File Path". A log disk found damaged is kept under an error copy name,
// "<folder>\<base name>_Err%Y%m%d%H%M%S.ifs", and a fresh one takes its place.
#include <cstdio>
#include <cstring>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/entry_model.h"
#include "lib/core/report.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"

namespace zemta::container {

namespace {

constexpr uint32_t kLogCreateWord = 1027;
constexpr uint16_t kLogFilePathKey = 1;

// A text configuration value of the disk's one configuration record; empty
// while the record holds none.
std::string configText(Disk& disk, uint16_t key) {
  if (!disk.config) return std::string();
  char text[261] = {};
  if (FileExReadCfgFldStr(&disk, key, text, sizeof text) <= 0) return std::string();
  return text;
}

// Faults of a disk's trees: 0 sound, above 0 faults found, -1 the check failed.
int32_t checkTrees(Disk& disk) {
  if (FileExDiskHold(disk) != 0) return -1;
  int32_t faults = 0;
  for (int32_t tree : {disk.rootTree, disk.spaceTree, disk.idTree})
    if (!BtreeExValidate(tree).empty()) ++faults;
  if (FileExDiskUnhold(disk) != 0) return -1;
  return faults;
}

}  // namespace

std::string errorCopyName(const std::string& logPath, const platform::LocalTime& now) {
  const size_t slash = logPath.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : logPath.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? logPath : logPath.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "_Err%04d%02d%02d%02d%02d%02d.ifs", now.year, now.month, now.day, now.hour, now.minute,
                now.second);
  return folder + base + stamp;
}

}  // namespace zemta::container

namespace container = zemta::container;
using container::Disk;

ZEMTA_API int32_t FileExStartLog(FileExDiskHandle handle, int32_t check) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (disk->temporary || disk->logTable) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const std::string logPath = container::configText(*disk, container::kLogFilePathKey).substr(0, 260);
  Disk* logDisk = nullptr;
  if (!logPath.empty()) {
    logDisk = static_cast<Disk*>(FileExDiskCreate(logPath.c_str(), nullptr, disk->owner, FILEEX_DISK_LOG));
    if (!logDisk) return -1;
    if (check) {
      const int32_t faults = container::checkTrees(*logDisk);
      if (faults < 0) {
        FileExDiskRelease(logDisk);
        return -1;
      }
      if (faults > 0) {
        FileExDiskRelease(logDisk);
        const std::string copy = container::errorCopyName(logPath, platform::localTime());
        if (!platform::moveFile(logPath, copy, false)) {
          ZEMTA_REPORT(platform::lastError());
          return -1;
        }
        logDisk = static_cast<Disk*>(FileExDiskCreate(logPath.c_str(), nullptr, disk->owner, FILEEX_DISK_LOG));
        if (!logDisk) return -1;
        FileExRecInsErr(disk, __LINE__, __FILE__, ZEMTA_ERR_FILE_FORMAT, copy.c_str(), nullptr);
      }
    }
  }
  Disk& target = logDisk ? *logDisk : *disk;
  auto* table = static_cast<container::Entry*>(
      FileExCreate(&target, "\\SYSTEM\\LOG", -1, nullptr, container::kLogCreateWord, 0, 0, nullptr));
  if (!table) {
    if (logDisk) FileExDiskRelease(logDisk);
    return -1;
  }
  if (container::setUpSystemTable("\\SYSTEM\\LOG", table) < 0) {
    FileExRelease(table, nullptr);
    if (logDisk) FileExDiskRelease(logDisk);
    return -1;
  }
  uint32_t attributes = 0;
  FileExGetAttribute(table, &attributes);
  if ((attributes & container::kAttrSetUp) != container::kAttrSetUp &&
      FileExSetAttribute(table, attributes | container::kAttrSetUp) != 0) {
    FileExRelease(table, nullptr);
    if (logDisk) FileExDiskRelease(logDisk);
    return -1;
  }
  disk->logTable = table;
  disk->logDiskHandle = logDisk;
  return 0;
}

ZEMTA_API int32_t FileExStopLog(FileExDiskHandle handle) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (disk->temporary || !disk->logTable) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  int32_t result = FileExRelease(disk->logTable, nullptr);
  disk->logTable = nullptr;
  if (disk->logDiskHandle && FileExDiskRelease(disk->logDiskHandle) != 0) result = -1;
  disk->logDiskHandle = nullptr;
  return result;
}

ZEMTA_API FileExHandle FileExGetCfgFile(FileExDiskHandle handle, void* info) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return nullptr;
  }
  if (disk->config && info && FileExDescriptor(disk->config, info, 8) < 0) return nullptr;
  return disk->config;
}

ZEMTA_API FileExHandle FileExGetLogFile(FileExDiskHandle handle, void* info) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return nullptr;
  }
  if (disk->logTable && info && FileExDescriptor(disk->logTable, info, 8) < 0) return nullptr;
  return disk->logTable;
}
