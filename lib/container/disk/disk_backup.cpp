// Backups of a disk: plain copies of the disk file (and of its log disk) or
// one zip archive of both, each recorded in a history table of the disk,
// with old generations deleted; restoring from a zip backup; replaying a
// log disk onto a disk.
//
// A plain copy is written under "<name>.part" and renamed to its name when
// it is whole and on the disk, so a backup cut off by a kill or a power cut
// never leaves a file that looks like a backup. The disk itself changes only
// through its journaled writes (history rows, the log reset, deleted
// generations), so it stays whole whenever a backup stops.
//
// Restoring extracts every file of the archive beside its final place
// first; only when all of them are whole are the old disk and log kept
// under their error-copy names and the extracted files renamed over them,
// one rename each, so a damaged archive changes nothing.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "lib/container/disk/container_internal.h"
#include "lib/container/disk/entry_model.h"
#include "lib/container/disk/progress.h"
#include "lib/core/report.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/archive.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"

namespace zemta::container {

namespace {

constexpr uint32_t kCopyChunk = 8192;
constexpr size_t kMaxName = 259;
constexpr uint32_t kHistoryCreateWord = 25603;
constexpr uint16_t kKeyDataPattern = 2;
constexpr uint16_t kKeyLogPattern = 3;
constexpr uint16_t kKeyZipPattern = 4;
constexpr uint16_t kKeyDataCount = 5;
constexpr uint16_t kKeyLogCount = 6;
constexpr uint16_t kKeyZipCount = 7;
constexpr uint32_t kLastLogIdOffset = 328;

// Backup steps (their titles: FileExGetPlsTitle).
constexpr int32_t kStepData = 2;
constexpr int32_t kStepLog = 3;
constexpr int32_t kStepLogReset = 4;
constexpr int32_t kStepZipData = 5;
constexpr int32_t kStepZipLog = 6;
constexpr int32_t kStepGenerations = 7;
constexpr int32_t kStepExtract = 11;
constexpr int32_t kStepRollforward = 12;

uint32_t systemError() {
  const uint32_t code = platform::lastError();
  return code != 0 ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
}

int32_t failWithSystemError() {
  ZEMTA_REPORT(systemError());
  return -1;
}

std::string formatTime(const std::string& pattern, const platform::LocalTime& now) {
  std::tm tm{};
  tm.tm_year = now.year - 1900;
  tm.tm_mon = now.month - 1;
  tm.tm_mday = now.day;
  tm.tm_hour = now.hour;
  tm.tm_min = now.minute;
  tm.tm_sec = now.second;
  tm.tm_wday = now.dayOfWeek;
  char text[1024];
  const size_t n = std::strftime(text, sizeof text, pattern.c_str(), &tm);
  return std::string(text, n).substr(0, kMaxName);
}

std::string configString(Disk& disk, uint16_t key) {
  if (!disk.config) return std::string();
  char text[261] = {};
  if (FileExReadCfgFldStr(&disk, key, text, sizeof text) <= 0) return std::string();
  return text;
}

int32_t configCount(Disk& disk, uint16_t key) {
  if (!disk.config) return 0;
  const int32_t value = FileExReadCfgFldInt(&disk, key);
  return value < 0 ? 0 : value;
}

// The folder of a path with its separator ("" when it has none).
std::string folderOf(const std::string& path) {
  const size_t slash = platform::lastSeparator(path, true);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
std::string fileNameOf(const std::string& path) {
  const size_t slash = platform::lastSeparator(path, true);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
// The base name and the extension (with its dot) of a file name.
void splitName(const std::string& name, std::string* base, std::string* extension) {
  const size_t dot = name.rfind('.');
  *base = dot == std::string::npos ? name : name.substr(0, dot);
  *extension = dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string copyName(const std::string& pattern, const std::string& copied, const platform::LocalTime& now) {
  if (!pattern.empty()) return formatTime(pattern, now);
  std::string base, extension;
  splitName(fileNameOf(copied), &base, &extension);
  return (folderOf(copied) + base + formatTime("_%Y%m%d%H%M%S.ifs", now)).substr(0, kMaxName);
}

// The ID of the newest row of the disk's log, 0 when it has none.
uint64_t lastLogRowId(Disk& disk) {
  if (!disk.logTable) return 0;
  uint64_t count = 0, id = 0;
  if (FileExGetRecCount(disk.logTable, &count) != 0 || count == 0) return 0;
  if (FileExGetTblRecID(disk.logTable, static_cast<uint32_t>(count), static_cast<uint32_t>(count >> 32), &id) != 0)
    return 0;
  return id;
}

// Copies the disk's file to the name, the header carrying the newest log
// row's ID when one is given. The copy is made beside its name and renamed
// when whole.
int32_t copyDiskFile(Disk& disk, const std::string& name, uint64_t lastLogId, FileExProgress* progress, int32_t step) {
  Percent percent(progress, step, 0);
  if (FileExDiskHold(disk) != 0) return -1;
  int32_t result = -1;
  const std::string part = name + ".part";
  do {
    if (FileExDiskFlushAll(disk) != 0) break;
    const int64_t size = diskSize(disk);
    Percent bytes(progress, step, static_cast<uint64_t>(std::max<int64_t>(size, 1)));
    platform::File copy = platform::File::open(part, platform::kFileWrite, platform::kShareNone, platform::kCreateAlways);
    if (!copy.isOpen()) {
      failWithSystemError();
      break;
    }
    std::vector<uint8_t> buffer(kCopyChunk);
    uint32_t got = 0;
    if (!readFileAt(disk.file, 0, buffer.data(), kBlock, &got) || got != kBlock) {
      ZEMTA_REPORT(got != kBlock && platform::lastError() == 0 ? ZEMTA_ERR_FILE_SIZE : systemError());
      break;
    }
    if (lastLogId != 0) put_u64le(buffer.data() + kLastLogIdOffset, lastLogId);
    bool ok = copy.write(buffer.data(), kBlock, nullptr);
    int64_t position = kBlock;
    while (ok) {
      if (!readFileAt(disk.file, position, buffer.data(), kCopyChunk, &got)) {
        ok = false;
        break;
      }
      if (got > 0 && !copy.write(buffer.data(), got, nullptr)) ok = false;
      position += got;
      bytes.at(static_cast<uint64_t>(position));
      if (got < kCopyChunk) break;
    }
    if (!ok || !copy.flush()) {
      failWithSystemError();
      break;
    }
    copy.close();
    if (!platform::moveFile(part, name, true)) {
      failWithSystemError();
      break;
    }
    bytes.done();
    result = 0;
  } while (false);
  if (result != 0) platform::deleteFile(part);
  if (FileExDiskUnhold(disk) != 0) result = -1;
  return result;
}

// Appends a row naming the backup file to a history table.
int32_t appendHistory(FileExHandle table, const std::string& file) {
  FileExHandle record = FileExRecInsert(table, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 1, nullptr);
  if (!record) return -1;
  uint32_t key = FILEEX_FIELD_KEY(10, 1);
  int32_t result = FileExSetFld(record, &key, file.c_str(), static_cast<int32_t>(file.size() + 1), 0);
  if (result == 0) result = FileExFldWrite(record, table, 0);
  if (FileExRelease(record, nullptr) != 0) result = -1;
  return result;
}

// Mode 3 empties the log once it is saved: a separate log disk is made
// anew, a log inside the disk loses every row, the newest first.
int32_t resetLog(Disk& disk, int32_t mode, FileExProgress* progress) {
  if (mode != 3 || !disk.logTable) return 0;
  if (disk.logDiskHandle) {
    Percent percent(progress, kStepLogReset, 1);
    const std::string logPath = disk.logDiskHandle->path;
    if (FileExStopLog(&disk) != 0) return -1;
    if (!platform::deleteFile(logPath) && platform::lastError() != platform::kErrorFileNotFound) {
      failWithSystemError();
      FileExStartLog(&disk, 1);
      return -1;
    }
    if (FileExStartLog(&disk, 1) != 0) return -1;
    percent.done();
    return 0;
  }
  uint64_t count = 0;
  if (FileExGetRecCount(disk.logTable, &count) != 0) return -1;
  Percent percent(progress, kStepLogReset, count);
  for (uint64_t n = count; n >= 1; --n) {
    if (FileExRecDelete(disk.logTable, static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32)) != 0) return -1;
    percent.at(count - n + 1);
  }
  percent.done();
  return 0;
}

int32_t recordInHistory(Disk& disk, const char* table, const std::string& file, int32_t mode, FileExProgress* progress) {
  FileExHandle history = FileExCreate(&disk, table, -1, nullptr, kHistoryCreateWord, 0, 0, nullptr);
  if (!history) return -1;
  int32_t result = resetLog(disk, mode, progress);
  if (result == 0) result = appendHistory(history, file);
  if (FileExRelease(history, nullptr) != 0) result = -1;
  return result;
}

// The backup file a history row names ("" for a row whose path was never
// written: a backup cut off between the row and its field).
std::string historyPath(FileExHandle history, uint64_t row, int32_t* result) {
  FileExHandle record = FileExRecOpen(history, static_cast<uint32_t>(row), static_cast<uint32_t>(row >> 32), 0, nullptr);
  if (!record) {
    *result = -1;
    return std::string();
  }
  char path[300] = {};
  FileExGetFld(record, FILEEX_FIELD_KEY(10, 1), path, sizeof path - 1, nullptr);
  if (FileExRelease(record, nullptr) != 0) *result = -1;
  return path;
}

// Deletes the oldest backups of a history table beyond the count. The
// backup just made is always kept, whatever the count says. Rows that name
// no file go first.
int32_t pruneHistory(Disk& disk, const char* table, int32_t count) {
  const uint64_t keep = static_cast<uint64_t>(std::max(count, 1));
  FileExHandle history = FileExCreate(&disk, table, -1, nullptr, kHistoryCreateWord, 0, 0, nullptr);
  if (!history) return -1;
  int32_t result = 0;
  uint64_t rows = 0;
  if (FileExGetRecCount(history, &rows) != 0) result = -1;
  for (uint64_t n = rows; result == 0 && n >= 1; --n) {
    if (historyPath(history, n, &result).empty() && result == 0 &&
        FileExRecDelete(history, static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32)) != 0)
      result = -1;
  }
  while (result == 0 && FileExGetRecCount(history, &rows) == 0 && rows > keep) {
    const std::string path = historyPath(history, 1, &result);
    if (result != 0) break;
    // A backup file somebody already removed is no reason to stop.
    if (!path.empty()) platform::deleteFile(path);
    if (FileExRecDelete(history, 1, 0) != 0) result = -1;
  }
  if (FileExRelease(history, nullptr) != 0) result = -1;
  return result;
}

int32_t pruneGenerations(Disk& disk, FileExProgress* progress) {
  if (FileExDiskHold(disk) != 0) return -1;
  progressStep(progress, kStepGenerations);
  progressValue(progress, 0);
  int32_t result = pruneHistory(disk, "\\SYSTEM\\HISTORY\\DATA", configCount(disk, kKeyDataCount));
  progressValue(progress, 33);
  if (result == 0) result = pruneHistory(disk, "\\SYSTEM\\HISTORY\\LOG", configCount(disk, kKeyLogCount));
  progressValue(progress, 66);
  if (result == 0) result = pruneHistory(disk, "\\SYSTEM\\HISTORY\\LIB", configCount(disk, kKeyZipCount));
  progressValue(progress, 100);
  if (FileExDiskUnhold(disk) != 0) result = -1;
  return result;
}

void giveName(char* buffer, const std::string& name) {
  if (!buffer) return;
  const size_t n = std::min(name.size(), kMaxName);
  std::memcpy(buffer, name.data(), n);
  buffer[n] = 0;
}

// Adds the disk's file to the archive while the disk is held and written
// back, so the archiver reads it whole.
int32_t zipDiskFile(Disk& disk, Disk& target, const std::string& archive, FileExProgress* progress, int32_t step) {
  Percent percent(progress, step, 100);
  if (FileExDiskHold(target) != 0) return -1;
  int32_t result = FileExDiskFlushAll(target);
  if (result == 0) {
    std::string output;
    const int32_t code = platform::zipAddFile(archive, target.path, &output, [&](uint64_t written, uint64_t total) {
      percent.at(total ? written * 100 / total : 100);
    });
    if (code != 0) {
      const uint32_t error = static_cast<uint32_t>(ZEMTA_ERR_COMPRESS) | (static_cast<uint32_t>(code) << 8);
      ZEMTA_REPORT(error);
      FileExRecInsErr(&disk, __LINE__, __FILE__, error, output.c_str(), nullptr);
      result = -1;
    }
  }
  percent.done();
  if (FileExDiskUnhold(target) != 0) result = -1;
  return result;
}

int32_t backupPlain(Disk& disk, char* name, int32_t mode, FileExProgress* progress, const platform::LocalTime& now) {
  Disk* logDisk = disk.logDiskHandle;
  std::string dataName, logName;
  if (mode != 1) {
    dataName = copyName(configString(disk, kKeyDataPattern), disk.path, now);
    giveName(name, dataName);
    if (copyDiskFile(disk, dataName, lastLogRowId(disk), progress, kStepData) != 0) return -1;
  }
  if (mode != 0 && logDisk) {
    logName = copyName(configString(disk, kKeyLogPattern), logDisk->path, now);
    if (mode == 1) giveName(name, logName);
    if (copyDiskFile(*logDisk, logName, 0, progress, kStepLog) != 0) return -1;
  }
  if (FileExDiskHold(disk) != 0) return -1;
  int32_t result = 0;
  if (mode != 1)
    result = recordInHistory(disk, "\\SYSTEM\\HISTORY\\DATA", dataName, logDisk ? 0 : mode, progress);
  if (result == 0 && mode != 0 && logDisk)
    result = recordInHistory(disk, "\\SYSTEM\\HISTORY\\LOG", logName, mode, progress);
  if (FileExDiskUnhold(disk) != 0) result = -1;
  return result;
}

int32_t backupZip(Disk& disk, char* name, int32_t mode, FileExProgress* progress, const std::string& pattern,
                  const platform::LocalTime& now) {
  const std::string archive = formatTime(pattern, now);
  giveName(name, archive);
  if (mode != 1 && zipDiskFile(disk, disk, archive, progress, kStepZipData) != 0) return -1;
  if (mode != 0 && disk.logDiskHandle && zipDiskFile(disk, *disk.logDiskHandle, archive, progress, kStepZipLog) != 0)
    return -1;
  if (FileExDiskHold(disk) != 0) return -1;
  int32_t result = recordInHistory(disk, "\\SYSTEM\\HISTORY\\LIB", archive, mode, progress);
  if (FileExDiskUnhold(disk) != 0) result = -1;
  return result;
}

// Copies a file into a new one (on the disk when the call returns).
bool keepCopy(const std::string& from, const std::string& to) {
  platform::File source = platform::File::open(from, platform::kFileRead, platform::kShareRead, platform::kOpenExisting);
  if (!source.isOpen()) return false;
  platform::File target = platform::File::open(to, platform::kFileWrite, platform::kShareNone, platform::kCreateNew);
  if (!target.isOpen()) return false;
  std::vector<uint8_t> buffer(1 << 16);
  for (;;) {
    uint32_t got = 0;
    if (!source.read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) return false;
    if (got == 0) break;
    if (!target.write(buffer.data(), got, nullptr)) return false;
  }
  return target.flush();
}

}  // namespace

}  // namespace zemta::container

namespace container = zemta::container;
using container::Disk;

ZEMTA_API int32_t FileExDiskBackup(FileExDiskHandle handle, char* name, int32_t mode, FileExProgress* progress) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (mode < 0 || mode > 3 || (mode == 1 && (!disk->logDiskHandle || !disk->logTable))) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (name) name[0] = 0;
  const std::string pattern = container::configString(*disk, container::kKeyZipPattern);
  const platform::LocalTime now = platform::localTime();
  const int32_t made = pattern.empty() ? container::backupPlain(*disk, name, mode, progress, now)
                                       : container::backupZip(*disk, name, mode, progress, pattern, now);
  if (made != 0) return -1;
  return container::pruneGenerations(*disk, progress);
}

ZEMTA_API int32_t FileExDiskRestore(const char* diskPath, const char* logPath, const char* archivePath, char* keptLog,
                                    int32_t keptLogSize, int32_t, FileExProgress* progress) {
  if (!diskPath || !*diskPath || !logPath || !*logPath || !archivePath || !*archivePath) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const platform::LocalTime now = platform::localTime();
  const std::string stamp = container::formatTime("%Y%m%d%H%M%S", now);
  std::string folder = container::folderOf(diskPath);
  if (folder.empty()) folder = platform::withSeparator(platform::currentFolder());
  std::string diskBase, diskExtension, logBase, logExtension;
  container::splitName(container::fileNameOf(diskPath), &diskBase, &diskExtension);
  container::splitName(container::fileNameOf(logPath), &logBase, &logExtension);
  const std::string diskName = container::fileNameOf(diskPath);
  const std::string logName = container::fileNameOf(logPath);
  const std::string diskKept = folder + diskBase + "_Err" + stamp + diskExtension;
  const std::string logKept = container::folderOf(logPath) + logBase + "_" + stamp + logExtension;

  // Every file of the archive, beside where it goes.
  container::Percent percent(progress, container::kStepExtract, 100);
  struct Placed {
    std::string extracted, final;
  };
  std::vector<Placed> placed;
  std::string output;
  const int32_t code = platform::zipExtract(archivePath, [&](const std::string& entry) {
    std::string final = folder + entry;
    if (platform::sameName(entry, logName) && !platform::sameName(logPath, folder + entry)) final = logPath;
    else if (platform::sameName(entry, diskName)) final = diskPath;
    placed.push_back({folder + entry + "_Rst" + stamp, final});
    return placed.back().extracted;
  }, &output);
  if (code != 0) {
    ZEMTA_REPORT(static_cast<uint32_t>(ZEMTA_ERR_COMPRESS) | (static_cast<uint32_t>(code) << 8));
    return -1;
  }
  auto dropExtracted = [&]() {
    for (const Placed& p : placed) platform::deleteFile(p.extracted);
  };
  // The files replaced are kept; a disk or log in use by somebody else
  // stops the restore here, before anything changed.
  bool keptDisk = false;
  for (const Placed& p : placed) {
    const bool isDisk = platform::sameName(p.final, diskPath);
    const bool isLog = platform::sameName(p.final, logPath);
    if (!isDisk && !isLog) continue;
    if (!platform::fileExists(p.final)) continue;
    if (!container::keepCopy(p.final, isDisk ? diskKept : logKept)) {
      const uint32_t error = container::systemError();
      dropExtracted();
      if (keptDisk) platform::deleteFile(diskKept);
      ZEMTA_REPORT(error);
      return -1;
    }
    keptDisk = keptDisk || isDisk;
    if (isLog && keptLog && keptLogSize > 0) {
      const size_t n = std::min(logKept.size(), static_cast<size_t>(keptLogSize - 1));
      std::memcpy(keptLog, logKept.data(), n);
      keptLog[n] = 0;
    }
  }
  for (const Placed& p : placed) {
    if (!platform::moveFile(p.extracted, p.final, true)) {
      const uint32_t error = container::systemError();
      dropExtracted();
      ZEMTA_REPORT(error);
      return -1;
    }
  }
  percent.done();
  return 0;
}

ZEMTA_API int32_t FileExDiskRollforward(FileExDiskHandle handle, const char* logDiskPath, uint32_t firstLow,
                                        uint32_t firstHigh, FileExProgress* progress) {
  Disk* disk = container::findDisk(handle);
  if (!disk) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
    return -1;
  }
  if (!logDiskPath) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (container::FileExDiskHold(*disk) != 0) return -1;
  auto* logDisk = static_cast<Disk*>(FileExDiskCreate(logDiskPath, nullptr, disk->owner, FILEEX_DISK_LOG));
  if (!logDisk) {
    container::FileExDiskUnhold(*disk);
    return -1;
  }
  int32_t result = container::FileExDiskHold(*logDisk);
  FileExHandle log = result == 0 ? FileExCreate(logDisk, "\\SYSTEM\\LOG", -1, nullptr, 0, 0, 0, nullptr) : nullptr;
  if (!log) result = -1;
  uint64_t count = 0;
  if (result == 0 && FileExGetRecCount(log, &count) != 0) result = -1;
  const uint64_t first = std::max<uint64_t>(static_cast<uint64_t>(firstHigh) << 32 | firstLow, 1);
  container::Percent percent(progress, container::kStepRollforward, first <= count ? count - first + 1 : 0);
  std::vector<uint8_t> values(65535);
  for (uint64_t n = first; result == 0 && n <= count; ++n) {
    FileExHandle row = FileExRecOpen(log, static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32), 0, nullptr);
    if (!row) {
      result = -1;
      break;
    }
    uint8_t infoBlock[2 + 32] = {};
    zemta::put_u16le(infoBlock, sizeof infoBlock);
    container::LogInfo info;
    if (FileExGetLogInfo(row, infoBlock, nullptr) != 0) result = -1;
    else if (!container::readLogInfo(infoBlock + 2, 32, &info) || info.entryId == 0 || info.tableId == 0) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      result = -1;
    }
    zemta::put_u16le(values.data(), static_cast<uint16_t>(values.size()));
    if (result == 0 && FileExGetLogData(row, 10, nullptr, values.data()) != 0) result = -1;
    if (FileExRelease(row, nullptr) != 0) result = -1;
    if (result != 0) break;
    int32_t alreadyOpen = 0;
    FileExHandle table = FileExCreateByID(disk, static_cast<uint32_t>(info.tableId),
                                          static_cast<uint32_t>(info.tableId >> 32), nullptr, &alreadyOpen);
    if (!table) {
      result = -1;
      break;
    }
    const uint32_t idLow = static_cast<uint32_t>(info.entryId), idHigh = static_cast<uint32_t>(info.entryId >> 32);
    if (info.operation & 0x2000) {
      result = FileExRecDelByID(table, idLow, idHigh);
    } else if (!(info.operation & 8) || !(info.operation & 0x5000)) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      result = -1;
    } else {
      FileExHandle record = (info.operation & 0x1000) ? FileExRecInsByFlif(table, infoBlock + 2, 1)
                                                      : FileExRecOpenByID(table, idLow, idHigh, 1, nullptr);
      if (!record) result = -1;
      if (result == 0 && FileExSetFldByLog(record, 10, values.data()) != 0) result = -1;
      if (result == 0 && FileExFldWrite(record, table, 0) != 0) result = -1;
      if (record && FileExRelease(record, nullptr) != 0) result = -1;
    }
    if (!alreadyOpen && FileExRelease(table, nullptr) != 0) result = -1;
    percent.at(n - first + 1);
  }
  if (result == 0) percent.done();
  if (log && FileExRelease(log, nullptr) != 0) result = -1;
  if (FileExDiskRelease(logDisk) != 0) result = -1;
  if (container::FileExDiskUnhold(*disk) != 0) result = -1;
  return result;
}
