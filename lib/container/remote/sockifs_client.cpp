// The client of the remote file service. No connection can be opened yet, so
// every call answers as it does with no connection: 10093.
#include "zemta/sockifs.h"

#include "platform/base/last_error.h"

namespace {

int32_t noConnection() {
  platform::setLastError(platform::kWsaNotInitialised);
  return -1;
}

}  // namespace

ZEMTA_API uint32_t SockIfsCreate(const char*, int32_t, const char*, uint32_t, uint32_t, uint32_t) {
  noConnection();
  return 0;
}

ZEMTA_API int32_t SockIfsRelease(uint32_t) { return noConnection(); }

ZEMTA_API int64_t SockIfsSetPointer(uint32_t, uint32_t, int32_t, uint32_t) { return noConnection(); }

ZEMTA_API int64_t SockIfsGetSize(uint32_t) { return noConnection(); }

ZEMTA_API int32_t SockIfsSetSize(uint32_t, uint32_t, int32_t) { return noConnection(); }

ZEMTA_API int32_t SockIfsRead(uint32_t, void*, uint32_t, uint32_t* bytesRead, uint32_t, int32_t, uint32_t) {
  if (bytesRead) *bytesRead = 0;
  return noConnection();
}

ZEMTA_API int32_t SockIfsWrite(uint32_t, const void*, uint32_t, uint32_t, int32_t, uint32_t) {
  return noConnection();
}

ZEMTA_API int32_t SockIfsRollback(uint32_t, uint32_t, int32_t, const char*, uint32_t) { return noConnection(); }
