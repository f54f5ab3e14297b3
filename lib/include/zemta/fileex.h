// The container store ("disks" of entries, tables, records and indexes): what
// the rest of the library calls of it.
#pragma once

#include "zemta/export.h"

// Appends one row (line, file, error, description, name) to the disk's
// "\SYSTEM\ERROR" table; 0, or -1 (a bad disk is reported as 0x20000106).
ZEMTA_API int32_t FileExRecInsErr(void* disk, int32_t line, const char* file, uint32_t code,
                                  const char* description, const char* name);
