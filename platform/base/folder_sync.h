// Forcing a folder's entries (files made, renamed or removed in it) to the disk.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Opens the folder and flushes it to the disk: true when done; false with the
// thread's last error set.
bool syncFolder(const std::string& folder);

// Forces to the disk the data of every file below the folder written at or
// after sinceUnixSeconds (by its modification time), and the folders' own
// entries: the sync of everything one program wrote since an earlier point,
// without waiting for what other programs wrote elsewhere. true when done;
// false with the thread's last error set.
bool syncChangedFiles(const std::string& folder, int64_t sinceUnixSeconds);

}  // namespace platform
