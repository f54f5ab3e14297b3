// Forcing a folder's entries to the disk: fsync on the folder itself.
#include "platform/base/folder_sync.h"

#include <fcntl.h>
#include <unistd.h>

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

}  // namespace platform
