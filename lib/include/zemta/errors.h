// The library's error codes and the switch for its error messages.
//
// Codes with bit 29 set are the library's own; every other value is a system
// error number in the Windows numbering (2 not found, 32 sharing violation...).
// -1 handed to the reporter stands for the calling thread's last error.
#pragma once

#include "zemta/export.h"

enum LibErrorCode : uint32_t {
  ZEMTA_ERR_FILE_SIZE = 0x20000001,          // read or written size differed
  ZEMTA_ERR_FILE_FORMAT = 0x20000002,        // file format differed
  ZEMTA_ERR_FILE_ACCESS = 0x20000003,        // file cannot be reached
  ZEMTA_ERR_INDEX_UPDATE = 0x20000004,       // index update failed
  ZEMTA_ERR_FILE_IN_USE = 0x20000005,        // file in use
  ZEMTA_ERR_COMPRESS = 0x20000006,           // compressing a file failed
  ZEMTA_ERR_NO_PASSTHROUGH = 0x20000007,     // printer takes no pass-through bytes
  ZEMTA_ERR_BAD_MODE = 0x20000080,
  ZEMTA_ERR_BAD_SIZE = 0x20000081,
  ZEMTA_ERR_BAD_FILE_NAME = 0x20000082,
  ZEMTA_ERR_BAD_ACCESS_CODE = 0x20000083,
  ZEMTA_ERR_BAD_NAME = 0x20000084,
  ZEMTA_ERR_BAD_PARAMETER = 0x20000085,
  ZEMTA_ERR_BAD_POINTER = 0x200000FF,
  ZEMTA_ERR_BAD_HANDLE = 0x20000100,
  ZEMTA_ERR_BAD_INDEX_HANDLE = 0x20000101,
  ZEMTA_ERR_BAD_FILEDB_HANDLE = 0x20000102,
  ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE = 0x20000103,
  ZEMTA_ERR_BAD_PROJECT_HANDLE = 0x20000104,
  ZEMTA_ERR_BAD_VIEW_HANDLE = 0x20000105,
  ZEMTA_ERR_BAD_DISK_HANDLE = 0x20000106,
  ZEMTA_ERR_NO_MEMORY = 0x20001001,
  ZEMTA_ERR_MEMORY_RANGE = 0x20001002,
  ZEMTA_ERR_MEMORY_IN_USE = 0x20001003,
  ZEMTA_ERR_NEST_FULL = 0x200010F1,
  ZEMTA_ERR_NEST_EMPTY = 0x200010F2,
  ZEMTA_ERR_NO_TIMER = 0x20002001,
  ZEMTA_ERR_PROJECT_SETTINGS = 0x20008001,
  ZEMTA_ERR_SQL_CONNECT = 0x20009001,
  ZEMTA_ERR_SQL_BROWSE = 0x20009002,
};

// Sets the message switch (1 on, 0 off) and returns its previous value.
ZEMTA_API int32_t ZemtaEnableLastErrorMessage(int32_t enable);
