// Forcing a folder's entries to the disk: fsync on the folder itself.
#include "platform/base/folder_sync.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/base/last_error.h"
#include "platform/base/path.h"

namespace platform {

bool syncFolder(const std::string& folder) {
  const std::string native = mapPath(folder);
  const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    setLastErrorFromErrno();
    return false;
  }
  const bool ok = ::fsync(fd) == 0;
  if (!ok) setLastErrorFromErrno();
  ::close(fd);
  return ok;
}

bool syncChangedFiles(const std::string& folder, int64_t sinceUnixSeconds) {
  const std::string native = mapPath(folder);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) {
    setLastErrorFromErrno();
    return false;
  }
  bool ok = true;
  std::vector<std::string> folders;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = native + (native.empty() || native.back() == '/' ? "" : "/") + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;  // gone since the listing
    if (S_ISDIR(st.st_mode)) {
      folders.push_back(path);
      continue;
    }
    if (!S_ISREG(st.st_mode) || st.st_mtime < sinceUnixSeconds) continue;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) continue;
    if (::fdatasync(fd) != 0) {
      setLastErrorFromErrno();
      ok = false;
    }
    ::close(fd);
  }
  ::closedir(dir);
  for (const std::string& sub : folders)
    if (!syncChangedFiles(sub, sinceUnixSeconds)) ok = false;
  return syncFolder(native) && ok;
}

}  // namespace platform
