// A file of the register's data folder reached through the library's
// file-access layer: on the local disk, or on the remote file server when
// the library runs in remote mode with the data folder mapped there. The
// commit, its journal and the journal files use it for every file they
// touch, so that a shop whose data lies on a file server commits to it.
//
// On the local disk it is the platform file with its sharing rules, and a
// sync is a real sync. On the server a file is the server's to keep: the
// syncs have nothing to do and succeed.
#pragma once

#include <cstdint>
#include <string>

#include "zemta/fileaccess.h"

namespace varnex::reg {

class DataFile {
 public:
  DataFile() = default;
  ~DataFile() { close(); }
  DataFile(DataFile&& other) noexcept;
  DataFile& operator=(DataFile&& other) noexcept;
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  // access, share and disposition as for platform::File (the Windows values);
  // an unopened file with the last error set on failure.
  static DataFile open(const std::string& nativePath, uint32_t access, uint32_t share, uint32_t disposition);

  bool isOpen() const { return handle_ != ZEMTA_INVALID_FILE; }
  bool readAt(int64_t position, void* buffer, uint32_t count, uint32_t* done);
  bool writeAt(int64_t position, const void* data, uint32_t count, uint32_t* done);
  // Appends at the end of the file.
  bool append(const void* data, uint32_t count, uint32_t* done);
  int64_t size() const;
  // Cuts (or extends) the file to size bytes.
  bool cutAt(int64_t size);
  bool syncData();
  void close();
  const std::string& path() const { return path_; }

 private:
  ZemtaFileHandle handle_ = ZEMTA_INVALID_FILE;
  std::string path_;
};

bool dataFileExists(const std::string& nativePath);
bool deleteDataFile(const std::string& nativePath);
// Puts the entries of the folder holding the file (made or removed) on the disk.
bool syncFolderOf(const std::string& nativePath);
// A file rewritten whole: its new content, written into a copy beside it, is
// put on the disk and takes the file's place in one rename, so a kill leaves
// the old content or the new, nothing in between.
bool replaceDataFile(const std::string& nativeCopy, const std::string& nativeTarget);
// Puts every file of the data folder written since then on the disk (a
// checkpoint); nothing to do for a data folder on the server.
bool syncChangedDataFiles(const std::string& nativeFolder, int64_t sinceUnixSeconds);

}  // namespace varnex::reg
