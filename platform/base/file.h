// Files with the Windows open modes and sharing rules, between threads and
// between processes alike.
//
// Sharing: an open names what it wants to do (read, write) and what it lets
// later opens of the same file do (share read, share write, share delete). An
// open that wants something an earlier open does not share, or that refuses
// to share something an earlier open already does, fails with 32 (sharing
// violation). The rule holds between processes: it is kept with open file
// description locks on bytes far past any real file size (from
// 0x7FFF000000000000), and a short flock() while an open checks them. Byte
// locks that other code takes on a File's descriptor must therefore name a
// length (never 0, "to the end of the file") and must not use flock().
//
// Opening an existing file with kCreateAlways or kOpenAlways succeeds with
// 183 (already exists) as the last error, as on Windows; other successful
// opens leave 0. deleteFile and moveFile fail with 32 while an open does not
// share delete.
//
// Failures set the thread's last error (platform/base/last_error.h) and
// return false, -1 or an unopened File.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum FileAccess : uint32_t {
  kFileRead = 0x80000000,   // GENERIC_READ
  kFileWrite = 0x40000000,  // GENERIC_WRITE
};

enum FileShare : uint32_t {
  kShareNone = 0,
  kShareRead = 1,
  kShareWrite = 2,
  kShareDelete = 4,
};

enum FileDisposition : uint32_t {
  kCreateNew = 1,         // fails with 80 when the file exists
  kCreateAlways = 2,      // creates or truncates
  kOpenExisting = 3,      // fails with 2 (or 3 for a missing folder)
  kOpenAlways = 4,        // opens or creates
  kTruncateExisting = 5,  // opens and truncates; fails when missing
};

enum FileFlags : uint32_t {
  kFileFlagNone = 0,
  // Every write is on the disk when the call returns.
  kFileWriteThrough = 0x80000000,
  kFileDeleteOnClose = 0x04000000,
};

enum SeekOrigin : uint32_t { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // The path is a native path or one with '\' separators; it goes through
  // mapPath (platform/base/path.h) first.
  static File open(const std::string& path, uint32_t access, uint32_t share,
                   uint32_t disposition, uint32_t flags = kFileFlagNone);

  bool isOpen() const { return fd_ >= 0; }
  // Reads up to count bytes at the pointer; a short read at the end of the
  // file is not an error.
  bool read(void* buffer, uint32_t count, uint32_t* done);
  bool write(const void* data, uint32_t count, uint32_t* done);
  // Reads or writes at a position without moving the pointer.
  bool readAt(int64_t position, void* buffer, uint32_t count, uint32_t* done);
  bool writeAt(int64_t position, const void* data, uint32_t count, uint32_t* done);
  // Moves the pointer; returns the new position or -1.
  int64_t seek(int64_t distance, uint32_t origin);
  int64_t position() const { return position_; }
  int64_t size() const;
  // Cuts or extends the file at the pointer.
  bool setEndOfFile();
  // Forces the file's data (and the size it needs) to the disk: fdatasync.
  bool syncData();
  // Forces the data and every attribute to the disk: fsync.
  bool flush();
  void close();

  // The native path the file was opened under (after mapPath).
  const std::string& path() const { return path_; }
  // The underlying descriptor, for the rest of the platform layer only.
  int nativeHandle() const { return fd_; }

 private:
  // Whether a read or write (access: kFileRead or kFileWrite) at a position
  // may go ahead; sets the last error when not.
  bool canTransfer(uint32_t access, int64_t position) const;

  int fd_ = -1;
  int64_t position_ = 0;
  uint32_t flags_ = 0;
  uint32_t access_ = 0;
  std::string path_;
};

bool fileExists(const std::string& path);               // a file, not a folder
bool deleteFile(const std::string& path);
// Fails with 183 when the target exists and replace is false; across file
// systems it copies and removes the original.
bool moveFile(const std::string& from, const std::string& to, bool replace);
bool copyFile(const std::string& from, const std::string& to, bool failIfExists);  // 80 when it exists
bool createDirectory(const std::string& path);       // one level; 183 when it exists
bool createDirectories(const std::string& path);     // every missing level; true when it exists
bool removeDirectory(const std::string& path);
bool isDirectory(const std::string& path);
// The time of a file's last write in seconds since 1970 (UTC), or -1 with
// the thread's last error set.
int64_t fileWriteTime(const std::string& path);
// The same to the file system's full precision, as a Windows FILETIME
// (100-nanosecond steps since 1601-01-01 UTC); 0 with the last error set.
uint64_t fileWriteFileTime(const std::string& path);

// For crash tests only: called before every write and every cut of a File
// with the native path and the byte count (0 for a cut). A result below 0
// lets the write go ahead; 0 or more kills the process at once with SIGKILL,
// after writing that many bytes of the data first (a torn write). Null
// removes it.
using WriteInterposer = int32_t (*)(const std::string& path, uint32_t count);
void setWriteInterposer(WriteInterposer interposer);

}  // namespace platform
