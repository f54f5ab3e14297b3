// The library's one error reporter. Every function that fails calls it with
// its source line and file, then returns its failure value:
//
//   if (!handle) { ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER); return -1; }
//
// The failure is logged where the library is attached to a container disk or
// a remote file server, and, while messages are on, shown as a message box
// with the Japanese text of the code (the library's catalogue for codes with
// bit 29 set, the system's text otherwise). -1 stands for the thread's last
// error.
#pragma once

#include <cstdint>
#include <string>

#include "zemta/errors.h"

namespace zemta {

void ReportError(int32_t line, const char* file, uint32_t code);

// The text a code shows: the catalogue's for the library's codes (the default
// text for one it does not know), a Japanese text for the system codes.
std::string errorText(uint32_t code);

// Shows a box with the library's two locks let go while it is up (they are
// taken back when it closes), so other work of the process is not blocked
// behind a user who has not answered yet.
int UnlockedMessageBox(void* owner, const std::string& text, const std::string& caption, uint32_t style);

// What the reporter reads of the file-access layer and the container store:
// the socket of the remote file server (-1 when none is connected) and the
// container disk attached for error logging (null when none).
int32_t& reporterServerSocket();
void*& reporterAttachedDisk();

}  // namespace zemta

#define ZEMTA_REPORT(code) ::zemta::ReportError(__LINE__, __FILE__, static_cast<uint32_t>(code))
