// The long operations of the Ifs front end: a check and backup, or a
// roll-back, of the attached disk on a worker thread, while the calling
// window thread shows a progress dialog and keeps its messages going.
#pragma once

#include "zemta/export.h"
#include "zemta/fileex.h"
#include "zemta/ifs.h"

// Checks the disk and its indexes and, when both are sound, backs it up
// (modes of FileExDiskBackup; 4 checks only). -1 failed; 0 done; the disk
// check's count of missing blocks; the index check's count with bit
// 0x40000000 set.
ZEMTA_API int32_t IfsBackup(int32_t mode);
// Undoes the logged changes down to the row (64-bit, low word first).
ZEMTA_API int32_t IfsRollback(uint32_t targetLow, uint32_t targetHigh);
