// Top-level windows of the user's other processes, for the running-instance
// check and for sending a registered message to another instance.
//
// A process that publishes its windows listens on a local socket named by
// its process id in the runtime folder's "varnex-windows" sub-folder; another
// process lists those windows and sends them messages over it. A window of
// another process is reached through a local stand-in: a hidden window of
// this process whose messages are sent on to the real one, registered
// message ids translated by their names. Only registered messages cross
// (an id of 0xC000 or more that has a name): their parameters are numbers.
// A fixed message id may carry a pointer in its parameters, which would
// mean nothing in the receiver and must never be followed there, so it is
// neither forwarded nor delivered. The channel serves the same user only
// (platform/base/local_channel.h).
#pragma once

#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace platform::ui {

// Makes this process's top-level windows visible to the others (idempotent;
// the socket is removed when the process ends normally). False with the last
// error when the socket cannot be made.
bool publishWindows();

struct ForeignWindow {
  HWND standIn = nullptr;  // the local handle
  std::string className;
  std::string title;       // code page 932
};
// The top-level windows of the other processes that published theirs, in
// the order of their process ids and their creation.
std::vector<ForeignWindow> foreignWindows();
bool isForeignWindow(HWND window);
// Brings the real window behind a stand-in to the front in its own process
// (restored when minimised). False when it is gone or the process does not
// answer.
bool activateForeignWindow(HWND standIn);

}  // namespace platform::ui
