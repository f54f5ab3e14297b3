// What the rest of the library (and the window framework) sees of the
// file-access layer beyond its flat exports.
#pragma once

#include <functional>
#include <string>

#include "zemta/fileaccess.h"

namespace zemta {

// The wait dialog of ZemtaOpenFileWait ("ｱﾝﾛｯｸ待機中": the file's name in a
// read-only box and a Cancel button that is disabled unless Ctrl and Alt were
// held when a retry failed). The window framework installs one that shows the
// real dialog; tests install their own. The library locks are already let go
// while it is up.
struct FileWaitUi {
  // Puts the dialog up, owned by the owner window's top-level window (null:
  // none), showing name, and disables that owner. False, with the last error
  // set, when it cannot be made.
  std::function<bool(void* owner, const std::string& name)> show;
  // A retry found the file still held (may be empty).
  std::function<void()> retryFailed;
  // Runs the message loop until the dialog's one-second timer fires (true:
  // retry) or the wait is cancelled: the dialog was closed or the loop ended
  // (false).
  std::function<bool()> waitForRetry;
  // Enables the owner again and destroys the dialog.
  std::function<void()> hide;
};

// Installs the wait dialog and returns the one it replaces. With none
// installed (an empty show), a waiting open asks with a Retry/Cancel message
// box instead and retries a second after each Retry.
FileWaitUi setFileWaitUi(FileWaitUi ui);

// The dialog's caption, code page 932.
extern const char kFileWaitCaption[];

// Whether the handle is an open file on the local disk (not on the remote
// file server).
bool isLocalFile(ZemtaFileHandle file);

// The handle of a file opened on the remote file server (0 for a local
// file or none), and the flag of the folder mapping it was opened under
// (0 for a local file): flag 2 marks a record store rather than a byte file.
uint32_t remoteHandleOf(ZemtaFileHandle file);
// Whether the library works in remote mode.
bool remoteModeOn();
// In remote mode, the flag of the mapping a path would be opened under; 0
// when it stays local.
int32_t remoteMappingFlag(const std::string& path);
int32_t mappingFlagOf(ZemtaFileHandle file);

// 64-bit positioned transfers on a local file, for stores whose files grow
// past 4 GB (the container store). A file on the remote file server fails
// with 1 (invalid function) as the last error. False / -1 on failure.
bool readFileAt(ZemtaFileHandle file, int64_t position, void* buffer, uint32_t length, uint32_t* done);
bool writeFileAt(ZemtaFileHandle file, int64_t position, const void* data, uint32_t length, uint32_t* done);
int64_t fileSize64(ZemtaFileHandle file);
// Cuts or extends the file to size bytes.
bool setFileSize64(ZemtaFileHandle file, int64_t size);
// Puts what was written on the disk.
bool flushFile(ZemtaFileHandle file);

}  // namespace zemta
