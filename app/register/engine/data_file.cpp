#include "app/register/engine/data_file.h"

#include <utility>

#include "platform/base/file.h"
#include "platform/base/folder_sync.h"
#include "platform/base/last_error.h"

namespace varnex::reg {

DataFile::DataFile(DataFile&& other) noexcept
    : handle_(std::exchange(other.handle_, ZEMTA_INVALID_FILE)), path_(std::move(other.path_)) {}

DataFile& DataFile::operator=(DataFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, ZEMTA_INVALID_FILE);
    path_ = std::move(other.path_);
  }
  return *this;
}

DataFile DataFile::open(const std::string& nativePath, uint32_t access, uint32_t share, uint32_t disposition) {
  DataFile file;
  file.handle_ = ZemtaCreateFile(nativePath.c_str(), access, share, disposition, ZEMTA_FILE_ATTRIBUTE_NORMAL);
  if (file.isOpen()) file.path_ = nativePath;
  return file;
}

bool DataFile::readAt(int64_t position, void* buffer, uint32_t count, uint32_t* done) {
  return ZemtaReadFileAt(handle_, position, buffer, count, done) != 0;
}

bool DataFile::writeAt(int64_t position, const void* data, uint32_t count, uint32_t* done) {
  return ZemtaWriteFileAt(handle_, position, data, count, done) != 0;
}

bool DataFile::append(const void* data, uint32_t count, uint32_t* done) {
  const int64_t end = size();
  return end >= 0 && writeAt(end, data, count, done);
}

int64_t DataFile::size() const { return ZemtaGetFileSize64(handle_); }

bool DataFile::cutAt(int64_t size) {
  if (size < 0 || size > 0x7FFFFFFF) {
    platform::setLastError(platform::kErrorInvalidParameter);
    return false;
  }
  return ZemtaSetEndOfFile(handle_, static_cast<int32_t>(size)) != 0;
}

bool DataFile::syncData() { return ZemtaFlushFile(handle_) != 0; }

void DataFile::close() {
  if (!isOpen()) return;
  // A failed close keeps the caller's last error: the close is the end of
  // a step whose own result already counted.
  const uint32_t error = platform::lastError();
  ZemtaCloseFile(handle_);
  platform::setLastError(error);
  handle_ = ZEMTA_INVALID_FILE;
}

bool dataFileExists(const std::string& nativePath) { return ZemtaFileExists(nativePath.c_str()) != 0; }

bool deleteDataFile(const std::string& nativePath) { return ZemtaDeleteFile(nativePath.c_str()) != 0; }

bool syncFolderOf(const std::string& nativePath) {
  return ZemtaFlushFolder(nativePath.substr(0, nativePath.find_last_of('/') + 1).c_str()) != 0;
}

bool replaceDataFile(const std::string& nativeCopy, const std::string& nativeTarget) {
  {
    DataFile copy = DataFile::open(nativeCopy, platform::kFileRead | platform::kFileWrite, platform::kShareRead,
                                   platform::kOpenExisting);
    if (!copy.isOpen() || !copy.syncData()) return false;
  }
  return ZemtaMoveFile(nativeCopy.c_str(), nativeTarget.c_str()) != 0;
}

bool syncChangedDataFiles(const std::string& nativeFolder, int64_t sinceUnixSeconds) {
  if (ZemtaIsRemotePath(nativeFolder.c_str())) return true;
  return platform::syncChangedFiles(nativeFolder, sinceUnixSeconds);
}

}  // namespace varnex::reg
