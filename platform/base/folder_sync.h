// Forcing a folder's entries (files made, renamed or removed in it) to the disk.
#pragma once

#include <string>

namespace platform {

// Opens the folder and flushes it to the disk: true when done; false with the
// thread's last error set.
bool syncFolder(const std::string& folder);

}  // namespace platform
