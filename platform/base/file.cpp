// Files with Windows open modes over POSIX descriptors.
//
// Sharing is kept with open file description locks, which belong to one
// open (not to the process), so they hold between two opens of one process as
// between two processes, and vanish when the open is closed or its process
// dies. They lie on bytes far past any real file size, so they never meet the
// record locks that the code above takes on real bytes:
//
//   byte (from kShareRegion)  held shared by every open that
//   0                         has read access
//   1                         has write access
//   2                         does not share read
//   3                         does not share write
//   4                         does not share delete
//
// An open first takes an exclusive flock on the file (the "gate", held only
// for the check and the take, and usable on a read-only descriptor, unlike an
// exclusive byte lock), then asks F_OFD_GETLK whether any other open holds a
// byte that conflicts with it: its access against the others' refusals, its
// refusals against the others' access. Only when nothing conflicts does it take
// its own bytes (shared, so that equal opens coexist) and, for the dispositions
// that do so, truncate the file: a refused open changes nothing.
//
// Reads and writes go through pread/pwrite at the object's own pointer.
#include "platform/base/file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "platform/base/shared_state.h"

namespace platform {

// The crash tests' interposer, once per process (every copy of this layer
// binds to one definition).
PLATFORM_SHARED_STATE WriteInterposer& sharedWriteInterposer() {
  static WriteInterposer interposer = nullptr;
  return interposer;
}

namespace {

constexpr off_t kShareRegion = 0x7FFF000000000000LL;
enum ShareByte : off_t { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3, kDeniesDelete = 4 };
constexpr uint32_t kErrorNegativeSeek = 131;

// The share bytes of a set (bit n: byte n), run by run of neighbouring
// bytes, so that an exclusive open asks and takes its bytes in one call each.
template <typename Run>
bool eachRun(unsigned bytes, Run&& run) {
  for (off_t first = 0; first < 8; ++first) {
    if (!(bytes & (1u << first))) continue;
    off_t end = first;
    while (end < 8 && (bytes & (1u << end))) ++end;
    if (!run(first, end - first)) return false;
    first = end;
  }
  return true;
}

// Whether any open other than fd's holds one of the share bytes.
bool heldByOther(int fd, unsigned bytes) {
  bool held = false;
  eachRun(bytes, [&](off_t first, off_t length) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShareRegion + first;
    lock.l_len = length;
    lock.l_pid = 0;
    held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    return !held;
  });
  return held;
}

// Takes the share bytes, shared.
bool takeShareBytes(int fd, unsigned bytes) {
  return eachRun(bytes, [&](off_t first, off_t length) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShareRegion + first;
    lock.l_len = length;
    lock.l_pid = 0;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
  });
}

constexpr unsigned bit(ShareByte byte) { return 1u << byte; }

// The gate: exclusive, short, and given up on after a while so that a
// process stopped while holding it cannot hang every other open.
bool enterGate(int fd) {
  for (int attempt = 0; attempt < 2000; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    usleep(1000);
  }
  return false;
}

void leaveGate(int fd) { flock(fd, LOCK_UN); }

bool existsAsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.empty() ? "." : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The error for a missing name: 3 when its folder is missing too.
uint32_t missingError(const std::string& native) {
  return existsAsDirectory(folderOf(native)) ? kErrorFileNotFound : kErrorPathNotFound;
}

// Sets the last error for a failed call on native from errno.
void failFromErrno(const std::string& native, int err) {
  if (err == ENOENT) setLastError(missingError(native));
  else setLastError(errorFromErrno(err));
}

// Whether an open of the file refuses to share deletion. Unopenable files
// (no read permission) are not checked.
bool deletionRefused(const std::string& native) {
  int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  bool refused = heldByOther(fd, bit(kDeniesDelete));
  ::close(fd);
  return refused;
}

// Data files and folders belong to the shop: its users share one group, and
// nobody else may read them (a table can hold a password or customers'
// names), whatever the umask of whoever started the program.
constexpr mode_t kFileMode = 0660;
constexpr mode_t kFolderMode = 0770;

// Lets the interposer see a write (or, with no data, a cut) before it
// happens. Told to stop, the process dies there, after writing the part of
// the data it was told to write.
void interposeWrite(int fd, const std::string& path, int64_t position, const char* data, uint32_t count) {
  WriteInterposer interposer = sharedWriteInterposer();
  if (!interposer) return;
  const int32_t keep = interposer(path, count);
  if (keep < 0) return;
  if (data && keep > 0) {
    const uint32_t part = static_cast<uint32_t>(keep) < count ? static_cast<uint32_t>(keep) : count;
    ssize_t ignored = pwrite(fd, data, part, position);
    (void)ignored;
  }
  kill(getpid(), SIGKILL);
}

}  // namespace

void setWriteInterposer(WriteInterposer interposer) { sharedWriteInterposer() = interposer; }

File::~File() { close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_), position_(other.position_), flags_(other.flags_), access_(other.access_),
      path_(std::move(other.path_)) {
  other.fd_ = -1;
  other.position_ = 0;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    position_ = other.position_;
    flags_ = other.flags_;
    access_ = other.access_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
    other.position_ = 0;
  }
  return *this;
}

File File::open(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                uint32_t flags) {
  File file;
  if (disposition < kCreateNew || disposition > kTruncateExisting || path.empty()) {
    setLastError(kErrorInvalidParameter);
    return file;
  }
  if (disposition == kTruncateExisting && !(access & kFileWrite)) {
    setLastError(kErrorInvalidParameter);
    return file;
  }
  const std::string native = mapPath(path);
  const bool wantRead = access & kFileRead;
  const bool wantWrite = access & kFileWrite;
  const bool truncates = disposition == kCreateAlways || disposition == kTruncateExisting;

  int extra = O_CLOEXEC | O_NOCTTY;
  if (flags & kFileWriteThrough) extra |= O_DSYNC;

  bool created = false;
  auto openWith = [&](int mode) -> int {
    mode |= extra;
    switch (disposition) {
      case kCreateNew: {
        int fd = ::open(native.c_str(), mode | O_CREAT | O_EXCL, kFileMode);
        created = fd >= 0;
        if (created) fchmod(fd, kFileMode);
        return fd;
      }
      case kOpenExisting:
      case kTruncateExisting:
        return ::open(native.c_str(), mode);
      default:
        // Open first, create only when missing: so we know whether the file
        // was there (and a refused open never creates one).
        for (int attempt = 0; attempt < 16; ++attempt) {
          int fd = ::open(native.c_str(), mode);
          if (fd >= 0 || errno != ENOENT) return fd;
          fd = ::open(native.c_str(), mode | O_CREAT | O_EXCL, kFileMode);
          if (fd >= 0) {
            fchmod(fd, kFileMode);
            created = true;
            return fd;
          }
          if (errno != EEXIST) return fd;
        }
        return -1;
    }
  };

  // The descriptor is readable whenever it can be, because the shared share
  // locks need a readable descriptor; access_ keeps what the caller asked.
  bool lockable = true;
  int fd = openWith((wantWrite || truncates) ? O_RDWR : O_RDONLY);
  if (fd < 0 && errno == EACCES && wantWrite && !wantRead) {
    fd = openWith(O_WRONLY);
    lockable = false;  // write-only file: no share locks possible
  }
  if (fd < 0) {
    int err = errno;
    if (err == EEXIST && disposition == kCreateNew) setLastError(kErrorFileExists);
    else failFromErrno(native, err);
    return file;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    setLastError(kErrorAccessDenied);
    return file;
  }

  if (lockable) {
    if (!enterGate(fd)) {
      ::close(fd);
      setLastError(kErrorSharingViolation);
      return file;
    }
    const unsigned refusedByOthers = (wantRead ? bit(kDeniesRead) : 0) | (wantWrite ? bit(kDeniesWrite) : 0) |
                                     ((share & kShareRead) ? 0 : bit(kHasRead)) |
                                     ((share & kShareWrite) ? 0 : bit(kHasWrite));
    const unsigned mine = (wantRead ? bit(kHasRead) : 0) | (wantWrite ? bit(kHasWrite) : 0) |
                          ((share & kShareRead) ? 0 : bit(kDeniesRead)) |
                          ((share & kShareWrite) ? 0 : bit(kDeniesWrite)) |
                          ((share & kShareDelete) ? 0 : bit(kDeniesDelete));
    bool conflict = heldByOther(fd, refusedByOthers) || !takeShareBytes(fd, mine);
    leaveGate(fd);
    if (conflict) {
      ::close(fd);
      setLastError(kErrorSharingViolation);
      return file;
    }
  }

  if (truncates && !created && st.st_size != 0 && ftruncate(fd, 0) != 0) {
    int err = errno;
    ::close(fd);
    failFromErrno(native, err);
    return file;
  }

  file.fd_ = fd;
  file.access_ = access;
  file.flags_ = flags;
  file.path_ = native;
  // As on Windows, opening an existing file with a creating disposition
  // succeeds with 183 as the last error.
  bool reportExisting = !created && (disposition == kCreateAlways || disposition == kOpenAlways);
  setLastError(reportExisting ? kErrorAlreadyExists : kErrorSuccess);
  return file;
}

bool File::read(void* buffer, uint32_t count, uint32_t* done) {
  uint32_t got = 0;
  bool ok = readAt(position_, buffer, count, &got);
  position_ += got;
  if (done) *done = got;
  return ok;
}

bool File::write(const void* data, uint32_t count, uint32_t* done) {
  uint32_t put = 0;
  bool ok = writeAt(position_, data, count, &put);
  position_ += put;
  if (done) *done = put;
  return ok;
}

bool File::canTransfer(uint32_t access, int64_t position) const {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (!(access_ & access)) {
    setLastError(kErrorAccessDenied);
    return false;
  }
  if (position < 0) {
    setLastError(kErrorNegativeSeek);
    return false;
  }
  return true;
}

bool File::readAt(int64_t position, void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (!canTransfer(kFileRead, position)) return false;
  auto* out = static_cast<char*>(buffer);
  uint32_t got = 0;
  while (got < count) {
    ssize_t n = pread(fd_, out + got, count - got, position + got);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done) *done = got;
      setLastErrorFromErrno();
      return false;
    }
    if (n == 0) break;  // end of the file
    got += static_cast<uint32_t>(n);
  }
  if (done) *done = got;
  return true;
}

bool File::writeAt(int64_t position, const void* data, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (!canTransfer(kFileWrite, position)) return false;
  const auto* in = static_cast<const char*>(data);
  uint32_t put = 0;
  interposeWrite(fd_, path_, position, in, count);
  while (put < count) {
    ssize_t n = pwrite(fd_, in + put, count - put, position + put);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done) *done = put;
      setLastErrorFromErrno();
      return false;
    }
    if (n == 0) {
      if (done) *done = put;
      setLastError(kErrorDiskFull);
      return false;
    }
    put += static_cast<uint32_t>(n);
  }
  if (done) *done = put;
  return true;
}

int64_t File::seek(int64_t distance, uint32_t origin) {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return -1;
  }
  int64_t base = 0;
  switch (origin) {
    case kSeekBegin: base = 0; break;
    case kSeekCurrent: base = position_; break;
    case kSeekEnd: {
      base = size();
      if (base < 0) return -1;
      break;
    }
    default:
      setLastError(kErrorInvalidParameter);
      return -1;
  }
  if (distance > 0 && base > INT64_MAX - distance) {
    setLastError(kErrorInvalidParameter);
    return -1;
  }
  int64_t target = base + distance;
  if (target < 0) {
    setLastError(kErrorNegativeSeek);
    return -1;
  }
  position_ = target;
  return position_;
}

int64_t File::size() const {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return -1;
  }
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    setLastErrorFromErrno();
    return -1;
  }
  return st.st_size;
}

bool File::setEndOfFile() {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (!(access_ & kFileWrite)) {
    setLastError(kErrorAccessDenied);
    return false;
  }
  interposeWrite(fd_, path_, position_, nullptr, 0);
  if (ftruncate(fd_, position_) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  if ((flags_ & kFileWriteThrough) && fsync(fd_) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  return true;
}

bool File::syncData() {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (fdatasync(fd_) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  return true;
}

bool File::flush() {
  if (fd_ < 0) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (fsync(fd_) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  return true;
}

void File::close() {
  if (fd_ < 0) return;
  if (flags_ & kFileDeleteOnClose) unlink(path_.c_str());
  ::close(fd_);  // the share locks go with the open
  fd_ = -1;
  position_ = 0;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(mapPath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool isDirectory(const std::string& path) { return existsAsDirectory(mapPath(path)); }

bool deleteFile(const std::string& path) {
  std::string native = mapPath(path);
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) {
    failFromErrno(native, errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    setLastError(kErrorAccessDenied);
    return false;
  }
  if (S_ISREG(st.st_mode) && deletionRefused(native)) {
    setLastError(kErrorSharingViolation);
    return false;
  }
  if (unlink(native.c_str()) != 0) {
    failFromErrno(native, errno);
    return false;
  }
  return true;
}

bool copyFile(const std::string& from, const std::string& to, bool failIfExists) {
  File source = File::open(from, kFileRead, kShareRead, kOpenExisting);
  if (!source.isOpen()) return false;
  struct stat st;
  if (fstat(source.nativeHandle(), &st) != 0) {
    setLastErrorFromErrno();
    return false;
  }
  File target = File::open(to, kFileWrite, kShareNone, failIfExists ? kCreateNew : kCreateAlways);
  if (!target.isOpen()) return false;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    uint32_t got = 0;
    if (!source.read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) return false;
    if (got == 0) break;
    if (!target.write(buffer.data(), got, nullptr)) return false;
  }
  fchmod(target.nativeHandle(), st.st_mode & 07777);
  setLastError(kErrorSuccess);
  return true;
}

bool moveFile(const std::string& from, const std::string& to, bool replace) {
  std::string source = mapPath(from);
  std::string target = mapPath(to);
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) {
    failFromErrno(source, errno);
    return false;
  }
  if (S_ISREG(st.st_mode) && deletionRefused(source)) {
    setLastError(kErrorSharingViolation);
    return false;
  }
  int rc;
  if (replace) {
    if (S_ISREG(st.st_mode) && fileExists(target) && deletionRefused(target)) {
      setLastError(kErrorSharingViolation);
      return false;
    }
    rc = rename(source.c_str(), target.c_str());
  } else {
    rc = renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without the no-replace form.
      struct stat existing;
      if (lstat(target.c_str(), &existing) == 0) {
        setLastError(kErrorAlreadyExists);
        return false;
      }
      rc = rename(source.c_str(), target.c_str());
    }
  }
  if (rc == 0) return true;
  int err = errno;
  if (err == EEXIST || err == ENOTEMPTY) {
    setLastError(kErrorAlreadyExists);
    return false;
  }
  if (err == EXDEV && S_ISREG(st.st_mode)) {
    // Another file system: copy, then remove the original.
    if (!copyFile(source, target, !replace)) return false;
    return deleteFile(source);
  }
  failFromErrno(err == ENOENT && existsAsDirectory(folderOf(source)) ? target : source, err);
  return false;
}

bool createDirectory(const std::string& path) {
  std::string native = mapPath(path);
  if (mkdir(native.c_str(), kFolderMode) != 0) {
    int err = errno;
    if (err == EEXIST) setLastError(kErrorAlreadyExists);
    else if (err == ENOENT || err == ENOTDIR) setLastError(kErrorPathNotFound);
    else setLastError(errorFromErrno(err));
    return false;
  }
  chmod(native.c_str(), kFolderMode);
  return true;
}

bool createDirectories(const std::string& path) {
  std::string native = mapPath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  // Every prefix ending before a '/', then the whole path.
  for (size_t i = 1; i <= native.size(); ++i) {
    if (i < native.size() && native[i] != '/') continue;
    std::string prefix = native.substr(0, i);
    if (mkdir(prefix.c_str(), kFolderMode) == 0) {
      chmod(prefix.c_str(), kFolderMode);
      continue;
    }
    int err = errno;
    if (err == EEXIST && existsAsDirectory(prefix)) continue;
    if (err == EEXIST) setLastError(i == native.size() ? kErrorAlreadyExists : kErrorPathNotFound);
    else setLastError(errorFromErrno(err));
    return false;
  }
  return true;
}

int64_t fileWriteTime(const std::string& path) {
  struct stat st;
  if (stat(mapPath(path).c_str(), &st) != 0) {
    setLastErrorFromErrno();
    return -1;
  }
  return static_cast<int64_t>(st.st_mtime);
}

uint64_t fileWriteFileTime(const std::string& path) {
  struct stat st;
  if (stat(mapPath(path).c_str(), &st) != 0) {
    setLastErrorFromErrno();
    return 0;
  }
  // Seconds from 1601-01-01 to 1970-01-01.
  constexpr uint64_t kEpochDifference = 11644473600ull;
  return (kEpochDifference + static_cast<uint64_t>(st.st_mtim.tv_sec)) * 10000000ull +
         static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
}

bool removeDirectory(const std::string& path) {
  std::string native = mapPath(path);
  if (rmdir(native.c_str()) != 0) {
    int err = errno;
    if (err == EEXIST) err = ENOTEMPTY;
    if (err == ENOTDIR && !existsAsDirectory(folderOf(native))) setLastError(kErrorPathNotFound);
    else if (err == ENOTDIR) setLastError(267);  // not a folder
    else failFromErrno(native, err);
    return false;
  }
  return true;
}

}  // namespace platform
