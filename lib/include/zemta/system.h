// System services: version information of the system's modules, the
// running-instance check and messages to another instance, registry values
// (kept in the profile store), privileges, starting another program and
// listing SQL Server instances and their databases.
#pragma once

#include <stdint.h>

#include "zemta/export.h"
#include "zemta/types.h"

// Root keys: the per-user profile and the machine-wide one.
#define ZEMTA_HKEY_CURRENT_USER 0x80000001u
#define ZEMTA_HKEY_LOCAL_MACHINE 0x80000002u

// Each text of ZemtaGetVerInfo needs a buffer of this many bytes.
#define ZEMTA_VERINFO_TEXT_SIZE 256

// Priority words of ExecProcess.
#define ZEMTA_PRIORITY_IDLE 0x40
#define ZEMTA_PRIORITY_HIGH 0x80
#define ZEMTA_PRIORITY_REALTIME 0x100

// What ExecProcess hands out: the handles are the process id here (nothing
// to close), the thread id is the process id as well.
typedef struct ZemtaProcessInfo {
  uint64_t process;
  uint64_t thread;
  uint32_t processId;
  uint32_t threadId;
} ZemtaProcessInfo;

ZEMTA_API int32_t ZemtaGetVerInfo(const char* moduleName, char* fileVersion, char* productVersion, char* legalNotice);
ZEMTA_API HWND ZemtaIsSameWindow(HWND window, int32_t classLength, const char* title);
ZEMTA_API LRESULT ZemtaSendMessageEx(const char* title, const char* messageName, WPARAM wParam, LPARAM lParam);
ZEMTA_API int32_t ZemtaRegKeySetDWORD(uint32_t rootKey, const char* subKey, const char* valueName, uint32_t value);
ZEMTA_API int32_t ZemtaRegKeySetString(uint32_t rootKey, const char* subKey, const char* valueName, const char* text);
ZEMTA_API uint32_t ZemtaRegKeyQueryDWORD(uint32_t rootKey, const char* subKey, const char* valueName, uint32_t defaultValue);
// buffer null: the size the value needs, zero included. The buffer must hold
// that size.
ZEMTA_API int32_t ZemtaRegKeyQueryString(uint32_t rootKey, const char* subKey, const char* valueName, char* buffer,
                                         const char* defaultText);
ZEMTA_API int32_t ZemtaAdjustToken(const char* privilegeName, int32_t disable);
ZEMTA_API int32_t ExecProcess(const char* commandLine, uint32_t priority, const char* currentFolder,
                              ZemtaProcessInfo* processInfo);
ZEMTA_API int32_t ZemtaEnumSqlServer(int32_t size, char* buffer);
ZEMTA_API int32_t ZemtaEnumDatabase(const char* server, int32_t size, char* buffer, int32_t quick, int32_t trusted);
