// The file-access layer: local files through platform::File, files under a
// registered folder on the remote file server in remote mode, and the waiting
// open that everyone uses.
//
// A ZemtaFileHandle is a checked handle into one table of open files, in
// either mode; each entry knows whether it is a local or a remote file, so a
// handle keeps its meaning whatever the mode is when it is used.
#include "lib/store/tables/file_access.h"
#include "lib/store/tables/filedb_internal.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "lib/core/handle_table.h"
#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "platform/base/clock.h"
#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/folder_sync.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "zemta/errors.h"
#include "zemta/sockifs.h"

namespace zemta {

const char kFileWaitCaption[] = "ｱﾝﾛｯｸ待機中";

namespace {

// Win32 attribute bits that mean something here.
constexpr uint32_t kAttributeWriteThrough = 0x80000000u;
constexpr uint32_t kAttributeDeleteOnClose = 0x04000000u;

// Remote open mode words of the remote file service.
constexpr uint32_t kRemoteRead = 0x2000;
constexpr uint32_t kRemoteWrite = 0x4000;
constexpr uint32_t kRemoteOpenOrCreate = 0x401;

// An entry's descriptor as the remote file server gives it.
constexpr size_t kRemoteDescriptorSize = 360;
constexpr uint8_t kDescriptorMark = 125;
constexpr size_t kDescriptorWriteTime = 56;

// The remote path is built in a buffer of this size (its last byte the NUL).
constexpr size_t kRemotePathBuffer = 4096;

constexpr uint32_t kFileCheckWord = 0x46410000;
constexpr uint32_t kFileSlotMask = 0x0000FFFF;
constexpr size_t kMaxOpenFiles = 4096;

constexpr uint32_t kWaitRetryMs = 1000;

struct OpenFile {
  platform::File local;  // open when the file is local
  uint32_t remote = 0;   // remote handle when the file is on the server
  int32_t mappingFlag = 0;
};

struct Mapping {
  std::string localPrefix;
  std::string remotePrefix;
  uint16_t flag = 0;
};

std::atomic<int32_t> g_remoteMode{0};

std::mutex g_mappingMutex;
std::vector<Mapping> g_mappings;

std::mutex g_fileMutex;
HandleTable<OpenFile>& openFiles() {
  static HandleTable<OpenFile> table(kFileCheckWord, kFileSlotMask, kMaxOpenFiles);
  return table;
}

std::mutex g_waitMutex;
FileWaitUi g_waitUi;
// The wait dialog is one per process: set while some waiting open has it up.
bool g_waitDialogUp = false;

// The open file behind a handle, or null with the last error set (22 in
// remote mode, as the original answers a null record there, else 6).
OpenFile* lookUp(ZemtaFileHandle handle) {
  OpenFile* file;
  {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    file = openFiles().find(handle);
  }
  if (!file)
    platform::setLastError(g_remoteMode.load() == 1 ? platform::kErrorBadCommand : platform::kErrorInvalidHandle);
  return file;
}

ZemtaFileHandle addFile(std::unique_ptr<OpenFile> file) {
  uint32_t handle;
  {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    handle = openFiles().add(std::move(file));
  }
  if (handle == 0) {
    platform::setLastError(platform::kErrorTooManyOpenFiles);
    return ZEMTA_INVALID_FILE;
  }
  return handle;
}

uint32_t platformFlags(uint32_t attributes) {
  uint32_t flags = platform::kFileFlagNone;
  if (attributes & kAttributeWriteThrough) flags |= platform::kFileWriteThrough;
  if (attributes & kAttributeDeleteOnClose) flags |= platform::kFileDeleteOnClose;
  return flags;
}

uint32_t remoteOpenMode(uint32_t access, uint32_t disposition) {
  uint32_t mode = 0;
  if (access & ZEMTA_GENERIC_READ) mode |= kRemoteRead;
  if (access & ZEMTA_GENERIC_WRITE) mode |= kRemoteWrite;
  if (disposition & 4) mode |= kRemoteOpenOrCreate;  // OPEN_ALWAYS, TRUNCATE_EXISTING
  return mode;
}

// Without regard to case, and with a backslash and '/' alike: the library names
// files under a folder with either separator, and a mapping must hold for
// all of them (a table under it opened locally while its catalog opens on
// the server would split the project in two).
bool prefixMatches(const std::string& path, const std::string& prefix) {
  if (path.size() < prefix.size()) return false;
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  for (size_t i = 0; i < prefix.size();) {
    const size_t n = platform::cp932::charLength(prefix, i);
    if (n == 2 || platform::cp932::charLength(path, i) == 2) {
      if (path.compare(i, n, prefix, i, n) != 0) return false;
    } else if (!(separator(path[i]) && separator(prefix[i])) &&
               std::toupper(static_cast<unsigned char>(path[i])) != std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
    i += n;
  }
  return true;
}

int32_t high32(int32_t value) { return value < 0 ? -1 : 0; }

// The message switch of the error reporter, read without changing it.
bool messagesOn() {
  int32_t value = ZemtaEnableLastErrorMessage(0);
  ZemtaEnableLastErrorMessage(value);
  return value != 0;
}

// Without a dialog installed: a Retry/Cancel box, and a second's pause after
// Retry so that a box answered at once does not spin.
bool waitWithMessageBox(const std::string& name) {
  platform::MessageBoxRequest request;
  request.text = name + "\n\n" + errorText(platform::kErrorSharingViolation);
  request.caption = kFileWaitCaption;
  request.style = platform::kMbRetryCancel | platform::kMbIconWarning;
  if (platform::showMessageBox(request) != platform::kIdRetry) return false;
  platform::sleepMilliseconds(kWaitRetryMs);
  return true;
}

FileWaitUi currentWaitUi() {
  std::lock_guard<std::mutex> guard(g_waitMutex);
  return g_waitUi;
}

}  // namespace

FileWaitUi setFileWaitUi(FileWaitUi ui) {
  std::lock_guard<std::mutex> guard(g_waitMutex);
  FileWaitUi previous = std::move(g_waitUi);
  g_waitUi = std::move(ui);
  return previous;
}

bool isLocalFile(ZemtaFileHandle handle) {
  std::lock_guard<std::mutex> guard(g_fileMutex);
  OpenFile* file = openFiles().find(handle);
  return file && file->local.isOpen();
}

bool remoteModeOn() { return g_remoteMode.load() == 1; }

int32_t remoteMappingFlag(const std::string& path) {
  if (g_remoteMode.load() != 1) return 0;
  std::lock_guard<std::mutex> guard(g_mappingMutex);
  for (const Mapping& mapping : g_mappings)
    if (mapping.flag != 0 && prefixMatches(path, mapping.localPrefix)) return mapping.flag;
  return 0;
}

uint32_t remoteHandleOf(ZemtaFileHandle handle) {
  std::lock_guard<std::mutex> guard(g_fileMutex);
  OpenFile* file = openFiles().find(handle);
  return file ? file->remote : 0;
}

int32_t mappingFlagOf(ZemtaFileHandle handle) {
  std::lock_guard<std::mutex> guard(g_fileMutex);
  OpenFile* file = openFiles().find(handle);
  return file && file->remote != 0 ? file->mappingFlag : 0;
}

namespace {

platform::File* localOf(ZemtaFileHandle handle) {
  OpenFile* file = lookUp(handle);
  if (!file) return nullptr;
  if (!file->local.isOpen()) {
    platform::setLastError(platform::kErrorInvalidFunction);
    return nullptr;
  }
  return &file->local;
}

}  // namespace

bool readFileAt(ZemtaFileHandle handle, int64_t position, void* buffer, uint32_t length, uint32_t* done) {
  platform::File* file = localOf(handle);
  return file && file->readAt(position, buffer, length, done);
}

bool writeFileAt(ZemtaFileHandle handle, int64_t position, const void* data, uint32_t length, uint32_t* done) {
  platform::File* file = localOf(handle);
  return file && file->writeAt(position, data, length, done);
}

int64_t fileSize64(ZemtaFileHandle handle) {
  platform::File* file = localOf(handle);
  return file ? file->size() : -1;
}

bool setFileSize64(ZemtaFileHandle handle, int64_t size) {
  platform::File* file = localOf(handle);
  if (!file) return false;
  const int64_t keep = file->position();
  if (file->seek(size, platform::kSeekBegin) < 0 || !file->setEndOfFile()) return false;
  file->seek(keep, platform::kSeekBegin);
  return true;
}

bool flushFile(ZemtaFileHandle handle) {
  platform::File* file = localOf(handle);
  return file && file->flush();
}

}  // namespace zemta

using zemta::OpenFile;

ZEMTA_API int32_t ZemtaSetSockIfs(int32_t mode) {
  int32_t flag = mode == 1 ? 1 : 0;
  zemta::g_remoteMode.store(flag);
  return flag;
}

ZEMTA_API int32_t ZemtaAddSockIfsDir(const char* localPrefix, const char* remotePrefix, int32_t flag) {
  if (!localPrefix || !remotePrefix) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return -1;
  }
  try {
    zemta::Mapping mapping;
    // The stored lengths are 16-bit: a longer prefix keeps its first 65535 bytes.
    mapping.localPrefix.assign(localPrefix, std::min<size_t>(std::strlen(localPrefix), 0xFFFF));
    mapping.remotePrefix.assign(remotePrefix, std::min<size_t>(std::strlen(remotePrefix), 0xFFFF));
    mapping.flag = static_cast<uint16_t>(flag);
    std::lock_guard<std::mutex> guard(zemta::g_mappingMutex);
    zemta::g_mappings.push_back(std::move(mapping));
  } catch (const std::bad_alloc&) {
    platform::setLastError(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return 0;
}

ZEMTA_API ZemtaFileHandle ZemtaCreateFile(const char* path, uint32_t access, uint32_t shareMode,
                                          uint32_t disposition, uint32_t flagsAndAttributes) {
  if (!path) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return ZEMTA_INVALID_FILE;
  }
  std::unique_ptr<OpenFile> file(new (std::nothrow) OpenFile);
  if (!file) {
    platform::setLastError(ZEMTA_ERR_NO_MEMORY);
    return ZEMTA_INVALID_FILE;
  }
  const std::string localPath(path);

  if (zemta::g_remoteMode.load() == 1) {
    const uint32_t mode = zemta::remoteOpenMode(access, disposition);
    std::vector<zemta::Mapping> mappings;
    {
      std::lock_guard<std::mutex> guard(zemta::g_mappingMutex);
      mappings = zemta::g_mappings;
    }
    for (const zemta::Mapping& mapping : mappings) {
      file->mappingFlag = mapping.flag;
      if (mapping.flag == 0) continue;
      if (!zemta::prefixMatches(localPath, mapping.localPrefix)) continue;
      std::string remotePath = mapping.remotePrefix + localPath.substr(mapping.localPrefix.size());
      if (remotePath.size() >= zemta::kRemotePathBuffer) {
        platform::setLastError(platform::kErrorFilenameTooLong);
        return ZEMTA_INVALID_FILE;
      }
      uint32_t remote = SockIfsCreate(remotePath.c_str(), -1, nullptr, mode, 0, 0);
      if (remote == 0) {
        uint32_t error = platform::lastError();
        // A broken server connection ends the table refresh timer for good.
        if (error == platform::kWsaConnectionAborted && zemta::refreshLock().exists())
          zemta::refreshLock().destroy();
        platform::setLastError(error);
        return ZEMTA_INVALID_FILE;
      }
      file->remote = remote;
      ZemtaFileHandle handle = zemta::addFile(std::move(file));
      if (handle == ZEMTA_INVALID_FILE) {
        uint32_t error = platform::lastError();
        SockIfsRelease(remote);
        platform::setLastError(error);
      }
      return handle;
    }
  }

  file->local = platform::File::open(localPath, access, shareMode, disposition,
                                     zemta::platformFlags(flagsAndAttributes));
  // Tables this thread left lingering open give way to its own opens.
  if (!file->local.isOpen() && platform::lastError() == platform::kErrorSharingViolation &&
      zemta::filedb::endLingeringHolds())
    file->local = platform::File::open(localPath, access, shareMode, disposition,
                                       zemta::platformFlags(flagsAndAttributes));
  if (!file->local.isOpen()) return ZEMTA_INVALID_FILE;
  // As on Windows, the open leaves 183 behind when it found an existing file
  // with a creating disposition.
  uint32_t openError = platform::lastError();
  ZemtaFileHandle handle = zemta::addFile(std::move(file));
  if (handle != ZEMTA_INVALID_FILE) platform::setLastError(openError);
  return handle;
}

ZEMTA_API int32_t ZemtaIsFileAccess(const char* path, uint32_t access, uint32_t shareMode) {
  ZemtaFileHandle file =
      ZemtaCreateFile(path, access, shareMode, ZEMTA_OPEN_EXISTING, ZEMTA_FILE_ATTRIBUTE_NORMAL);
  if (file == ZEMTA_INVALID_FILE) return 0;
  return ZemtaCloseFile(file) ? 1 : 0;
}

ZEMTA_API int32_t ZemtaCloseFile(ZemtaFileHandle handle) {
  std::unique_ptr<OpenFile> file;
  {
    std::lock_guard<std::mutex> guard(zemta::g_fileMutex);
    file = zemta::openFiles().remove(handle);
  }
  if (!file) {
    platform::setLastError(zemta::g_remoteMode.load() == 1 ? platform::kErrorBadCommand
                                                           : platform::kErrorInvalidHandle);
    return 0;
  }
  if (file->remote != 0) return SockIfsRelease(file->remote) == 0 ? 1 : 0;
  file->local.close();
  return 1;
}

ZEMTA_API uint32_t ZemtaSetFilePointer(ZemtaFileHandle handle, int32_t distance, uint32_t moveMethod) {
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return 0xFFFFFFFFu;
  int64_t position;
  if (file->remote != 0) {
    position = SockIfsSetPointer(file->remote, static_cast<uint32_t>(distance), zemta::high32(distance), moveMethod);
  } else {
    position = file->local.seek(distance, moveMethod);
  }
  return position < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(position);
}

ZEMTA_API uint32_t ZemtaGetFileSize(ZemtaFileHandle handle) {
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return 0xFFFFFFFFu;
  int64_t size = file->remote != 0 ? SockIfsGetSize(file->remote) : file->local.size();
  return size < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
}

ZEMTA_API int32_t ZemtaSetEndOfFile(ZemtaFileHandle handle, int32_t offset) {
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return 0;
  if (file->remote != 0)
    return SockIfsSetSize(file->remote, static_cast<uint32_t>(offset), zemta::high32(offset)) >= 0 ? 1 : 0;
  if (offset != -1 && file->local.seek(offset, platform::kSeekBegin) < 0) return 0;
  return file->local.setEndOfFile() ? 1 : 0;
}

ZEMTA_API int32_t ZemtaReadFile(ZemtaFileHandle handle, void* buffer, uint32_t length, uint32_t* bytesRead,
                                int32_t offset, uint32_t moveMethod) {
  if (bytesRead) *bytesRead = 0;
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return 0;
  if (file->remote != 0) {
    uint32_t got = 0;
    int32_t result = SockIfsRead(file->remote, buffer, length, &got, static_cast<uint32_t>(offset),
                                 zemta::high32(offset), moveMethod);
    if (bytesRead) *bytesRead = got;
    return result == 0 ? 1 : 0;
  }
  if (!(moveMethod == ZEMTA_FILE_CURRENT && offset == 0) && file->local.seek(offset, moveMethod) < 0) return 0;
  return file->local.read(buffer, length, bytesRead) ? 1 : 0;
}

ZEMTA_API int32_t ZemtaWriteFile(ZemtaFileHandle handle, const void* data, uint32_t length,
                                 uint32_t* bytesWritten, int32_t offset, uint32_t moveMethod) {
  if (bytesWritten) *bytesWritten = 0;
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return 0;
  if (file->remote != 0) {
    int32_t result = SockIfsWrite(file->remote, data, length, static_cast<uint32_t>(offset),
                                  zemta::high32(offset), moveMethod);
    if (result != 0) return 0;
    if (bytesWritten) *bytesWritten = length;
    return 1;
  }
  if (!(moveMethod == ZEMTA_FILE_CURRENT && offset == 0) && file->local.seek(offset, moveMethod) < 0) return 0;
  return file->local.write(data, length, bytesWritten) ? 1 : 0;
}

namespace zemta {
namespace {

// The path on the server of a path that opens remotely (remote mode and a
// mapping in use that matches, the first one winning); nothing for a local
// path. A remote path too long for the layer's buffer is refused with the
// last error set (filled in, true).
bool remotePathOf(const char* path, std::optional<std::string>* remote) {
  remote->reset();
  if (g_remoteMode.load() != 1) return true;
  const std::string localPath(path);
  std::lock_guard<std::mutex> guard(g_mappingMutex);
  for (const Mapping& mapping : g_mappings) {
    if (mapping.flag == 0 || !prefixMatches(localPath, mapping.localPrefix)) continue;
    std::string mapped = mapping.remotePrefix + localPath.substr(mapping.localPrefix.size());
    if (mapped.size() >= kRemotePathBuffer) {
      platform::setLastError(platform::kErrorFilenameTooLong);
      return false;
    }
    *remote = std::move(mapped);
    return true;
  }
  return true;
}

}  // namespace
}  // namespace zemta

ZEMTA_API int32_t ZemtaReadFileAt(ZemtaFileHandle handle, int64_t position, void* buffer, uint32_t length,
                                  uint32_t* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return 0;
  if (position < 0) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return 0;
  }
  if (file->remote != 0) {
    uint32_t got = 0;
    const int32_t result = SockIfsRead(file->remote, buffer, length, &got, static_cast<uint32_t>(position),
                                       static_cast<int32_t>(position >> 32), ZEMTA_FILE_BEGIN);
    if (bytesRead) *bytesRead = got;
    return result == 0 ? 1 : 0;
  }
  uint32_t got = 0;
  const bool done = file->local.readAt(position, buffer, length, &got);
  if (bytesRead) *bytesRead = got;
  return done ? 1 : 0;
}

ZEMTA_API int32_t ZemtaWriteFileAt(ZemtaFileHandle handle, int64_t position, const void* data, uint32_t length,
                                   uint32_t* bytesWritten) {
  if (bytesWritten) *bytesWritten = 0;
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return 0;
  if (position < 0) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return 0;
  }
  if (file->remote != 0) {
    if (SockIfsWrite(file->remote, data, length, static_cast<uint32_t>(position),
                     static_cast<int32_t>(position >> 32), ZEMTA_FILE_BEGIN) != 0)
      return 0;
    if (bytesWritten) *bytesWritten = length;
    return 1;
  }
  uint32_t put = 0;
  const bool done = file->local.writeAt(position, data, length, &put);
  if (bytesWritten) *bytesWritten = put;
  return done ? 1 : 0;
}

ZEMTA_API int64_t ZemtaGetFileSize64(ZemtaFileHandle handle) {
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return -1;
  return file->remote != 0 ? SockIfsGetSize(file->remote) : file->local.size();
}

ZEMTA_API int32_t ZemtaFlushFile(ZemtaFileHandle handle) {
  OpenFile* file = zemta::lookUp(handle);
  if (!file) return 0;
  // The service has no request for it: the server answers each write once
  // it has it, and keeps its files itself.
  if (file->remote != 0) return 1;
  return file->local.syncData() ? 1 : 0;
}

ZEMTA_API int32_t ZemtaFlushFolder(const char* folder) {
  if (!folder) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return 0;
  }
  std::optional<std::string> remote;
  if (!zemta::remotePathOf(folder, &remote)) return 0;
  if (remote) return 1;
  return platform::syncFolder(folder) ? 1 : 0;
}

ZEMTA_API int32_t ZemtaIsRemotePath(const char* path) {
  if (!path) return 0;
  std::optional<std::string> remote;
  return zemta::remotePathOf(path, &remote) && remote ? 1 : 0;
}

ZEMTA_API int32_t ZemtaFileExists(const char* path) {
  if (!path) return 0;
  std::optional<std::string> remote;
  if (!zemta::remotePathOf(path, &remote)) return 0;
  if (!remote) return platform::fileExists(path) ? 1 : 0;
  return SockIfsIsExist(remote->c_str(), -1, nullptr) == 1 ? 1 : 0;
}

ZEMTA_API int32_t ZemtaGetFileWriteTime(const char* path, uint64_t* fileTime) {
  if (!path || !fileTime) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return 0;
  }
  *fileTime = 0;
  std::optional<std::string> remote;
  if (!zemta::remotePathOf(path, &remote)) return 0;
  if (!remote) {
    *fileTime = platform::fileWriteFileTime(path);
    return *fileTime != 0 ? 1 : 0;
  }
  // The entry's descriptor: the layout of the container store's entry
  // information, its first word 125 and its last write time at offset 56.
  uint8_t descriptor[zemta::kRemoteDescriptorSize] = {};
  const int32_t found = SockIfsIsExist(remote->c_str(), -1, descriptor);
  if (found < 0) return 0;
  if (found == 0) {
    platform::setLastError(platform::kErrorFileNotFound);
    return 0;
  }
  uint64_t written = 0;
  for (int i = 7; i >= 0; --i) written = (written << 8) | descriptor[zemta::kDescriptorWriteTime + i];
  if (descriptor[0] != zemta::kDescriptorMark || written == 0) {
    platform::setLastError(platform::kErrorNotSupported);
    return 0;
  }
  *fileTime = written;
  return 1;
}

ZEMTA_API int32_t ZemtaDeleteFile(const char* path) {
  if (!path) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return 0;
  }
  std::optional<std::string> remote;
  if (!zemta::remotePathOf(path, &remote)) return 0;
  if (!remote) return platform::deleteFile(path) ? 1 : 0;
  return SockIfsRemove(remote->c_str(), -1) == 0 ? 1 : 0;
}

ZEMTA_API int32_t ZemtaMoveFile(const char* from, const char* to) {
  if (!from || !to) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return 0;
  }
  std::optional<std::string> remoteFrom, remoteTo;
  if (!zemta::remotePathOf(from, &remoteFrom) || !zemta::remotePathOf(to, &remoteTo)) return 0;
  if (remoteFrom.has_value() != remoteTo.has_value()) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return 0;
  }
  if (!remoteFrom) {
    if (!platform::moveFile(from, to, true)) return 0;
    const std::string target(to);
    return platform::syncFolder(platform::folderOf(target)) ? 1 : 0;
  }
  if (SockIfsIsExist(remoteTo->c_str(), -1, nullptr) == 1 && SockIfsRemove(remoteTo->c_str(), -1) != 0) return 0;
  return SockIfsRename(remoteFrom->c_str(), remoteTo->c_str()) == 0 ? 1 : 0;
}

ZEMTA_API ZemtaFileHandle ZemtaOpenFileWait(const char* path, uint32_t access, uint32_t shareMode,
                                            uint32_t disposition, uint32_t flagsAndAttributes,
                                            const char* displayName, void* ownerWindow, uint32_t* error,
                                            int32_t noWait) {
  // Set while this call waits: the locks it let go, and whether it put the
  // dialog up itself (a wait started from inside another wait shares that
  // dialog and leaves it to its owner).
  std::optional<zemta::ScopedLockRelease> released;
  bool ownsDialog = false;
  bool waiting = false;
  zemta::FileWaitUi ui;
  const std::string name =
      displayName && *displayName ? std::string(displayName) : std::string(path ? path : "");

  auto endWait = [&]() {
    if (ownsDialog) {
      if (ui.show) ui.hide();
      std::lock_guard<std::mutex> guard(zemta::g_waitMutex);
      zemta::g_waitDialogUp = false;
      ownsDialog = false;
    }
    released.reset();  // takes the API lock back, then the refresh lock
  };

  for (;;) {
    ZemtaFileHandle file = ZemtaCreateFile(path, access, shareMode, disposition, flagsAndAttributes);
    if (file != ZEMTA_INVALID_FILE) {
      uint32_t openError = platform::lastError();
      endWait();
      if (error) *error = 0;
      platform::setLastError(openError);
      return file;
    }
    uint32_t code = platform::lastError();
    if (error) *error = code;

    if (code != platform::kErrorSharingViolation) {
      if (!error) ZEMTA_REPORT(code);
      endWait();
      platform::setLastError(code);
      return 0;
    }
    if (!waiting && (noWait || !zemta::messagesOn())) return 0;

    if (!waiting) {
      waiting = true;
      ui = zemta::currentWaitUi();
      bool dialogUp;
      {
        std::lock_guard<std::mutex> guard(zemta::g_waitMutex);
        dialogUp = zemta::g_waitDialogUp;
        if (!dialogUp) zemta::g_waitDialogUp = true;
      }
      if (!dialogUp) {
        ownsDialog = true;
        released.emplace();
        if (ui.show && !ui.show(ownerWindow, name)) {
          uint32_t failure = platform::lastError();
          {
            std::lock_guard<std::mutex> guard(zemta::g_waitMutex);
            zemta::g_waitDialogUp = false;
          }
          ownsDialog = false;
          released.reset();
          ZEMTA_REPORT(failure);
          if (error) *error = failure;
          platform::setLastError(failure);
          return 0;
        }
      } else if (ui.show && ui.retryFailed) {
        ui.retryFailed();
      }
    } else if (ui.show && ui.retryFailed) {
      ui.retryFailed();
    }

    bool retry = ui.show ? ui.waitForRetry() : zemta::waitWithMessageBox(name);
    if (!retry) {
      if (ownsDialog && ui.show) ui.hide();
      {
        std::lock_guard<std::mutex> guard(zemta::g_waitMutex);
        if (ownsDialog) zemta::g_waitDialogUp = false;
      }
      ownsDialog = false;
      platform::setLastError(platform::kErrorSharingViolation);
      ZEMTA_REPORT(platform::kErrorSharingViolation);
      released.reset();
      if (error) *error = platform::kErrorSharingViolation;
      platform::setLastError(platform::kErrorSharingViolation);
      return 0;
    }
  }
}
