#include "platform/base/last_error.h"

#include <cerrno>

#include "platform/base/shared_state.h"

namespace platform {

// One last error per thread for the whole process: the libraries and the
// program each link this layer, and all of them must see the same value.
PLATFORM_SHARED_STATE thread_local uint32_t g_platformLastError = 0;

uint32_t lastError() { return g_platformLastError; }

void setLastError(uint32_t code) { g_platformLastError = code; }

uint32_t errorFromErrno(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES: case EPERM: case EROFS: case EISDIR: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EMFILE: case ENFILE: return kErrorTooManyOpenFiles;
    case EEXIST: return kErrorFileExists;
    case EINVAL: return kErrorInvalidParameter;
    case ENOSPC: case EDQUOT: return kErrorDiskFull;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case EBUSY: return kErrorBusy;
    case EAGAIN: return kErrorLockViolation;
    case EPIPE: return kErrorBrokenPipe;
    case EIO: return kErrorGenFailure;
    case ETIMEDOUT: return kErrorTimeout;
    case ECONNABORTED: return kWsaConnectionAborted;
    case ECONNRESET: return kWsaConnectionReset;
    case ENOTCONN: return kWsaNotConnected;
    case ECONNREFUSED: return kWsaConnectionRefused;
    case EHOSTUNREACH: case ENETUNREACH: return kWsaHostUnreachable;
    case EINTR: return kWsaInterrupted;
    case EOPNOTSUPP: return kErrorNotSupported;
    default: return kErrorGenFailure;
  }
}

uint32_t setLastErrorFromErrno() {
  uint32_t code = errorFromErrno(errno);
  setLastError(code);
  return code;
}

}  // namespace platform
