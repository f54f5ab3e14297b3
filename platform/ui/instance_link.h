// Top-level windows of the user's other processes, for the running-instance
// check and for sending a registered message to another instance.
//
// A process that publishes its windows listens on a local socket named by
// its process id in the runtime folder's "varnex-windows" sub-folder; another
// process lists those windows and sends them messages over it. A window of
// another process is reached through a local stand-in: a hidden window of
// this process whose messages are sent on to the real one, registered
// message ids translated by their names. Parameters pass by value (no
// pointer crosses the processes).
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

}  // namespace platform::ui
