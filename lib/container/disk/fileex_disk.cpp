// The error row of a disk.
#include "zemta/fileex.h"

#include "lib/container/disk/container_internal.h"
#include "lib/core/report.h"

// The rows of "\SYSTEM\ERROR" are written by the table record layer, which
// this store does not have yet: a good disk answers -1 unreported (the
// reporter that calls this ignores the result and must not report again).
ZEMTA_API int32_t FileExRecInsErr(void* disk, int32_t, const char*, uint32_t, const char*, const char*) {
  if (!zemta::container::findDisk(disk)) ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
  return -1;
}
