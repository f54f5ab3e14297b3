#include "platform/base/system_info.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>

#include "platform/base/last_error.h"

namespace platform {

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    setLastErrorFromErrno();
    return {};
  }
  return name;
}

std::string userName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found) return {};
  return found->pw_name;
}

}  // namespace platform
