// Container disks. None can be opened yet, so every disk handle is unknown.
#include "zemta/fileex.h"

#include "lib/core/report.h"

ZEMTA_API int32_t FileExRecInsErr(void*, int32_t, const char*, uint32_t, const char*, const char*) {
  ZEMTA_REPORT(ZEMTA_ERR_BAD_DISK_HANDLE);
  return -1;
}
