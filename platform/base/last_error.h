// The calling thread's last error, in the Windows numbering that the library
// and the program report and compare against (2 not found, 32 sharing
// violation, ...). Every platform call that fails sets it.
#pragma once

#include <cstdint>

namespace platform {

enum WinError : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorOutOfMemory = 14,
  kErrorWriteProtect = 19,
  kErrorBadCommand = 22,
  kErrorSeek = 25,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleEof = 38,
  kErrorHandleDiskFull = 39,
  kErrorNotSupported = 50,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorDiskFull = 112,
  kErrorInvalidName = 123,
  kErrorDirNotEmpty = 145,
  kErrorBusy = 170,
  kErrorAlreadyExists = 183,
  kErrorFilenameTooLong = 206,
  kErrorNoData = 232,
  kErrorWaitTimeout = 258,
  kErrorOperationAborted = 995,
  kErrorIoPending = 997,
  kErrorCancelled = 1223,
  kErrorTimeout = 1460,
  kErrorInvalidPrinterName = 1801,
  // Socket errors keep their Winsock numbers.
  kWsaInterrupted = 10004,
  kWsaWouldBlock = 10035,
  kWsaConnectionAborted = 10053,
  kWsaConnectionReset = 10054,
  kWsaNotConnected = 10057,
  kWsaTimedOut = 10060,
  kWsaConnectionRefused = 10061,
  kWsaHostUnreachable = 10065,
  kWsaSystemNotReady = 10091,
  kWsaNotInitialised = 10093,
  kWsaHostNotFound = 11001,
};

uint32_t lastError();
void setLastError(uint32_t code);

// The Windows number closest to a POSIX errno value.
uint32_t errorFromErrno(int err);
// Sets the last error from errno and returns it.
uint32_t setLastErrorFromErrno();

}  // namespace platform
