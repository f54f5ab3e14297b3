// What Quorex needs of its owner windows: whether a handle is a window, the
// first queued message of an id (for coalescing notices), posting, and the
// window timers. The default goes to the window framework; tests install
// their own owner window with a real queue.
//
// postMessage may be called from any thread. setTimer and killTimer act on
// the owner's thread only: isOwnerThread tells the caller whether it may call
// them directly or must hand the request over (see CSerial).
#pragma once

#include <cstdint>
#include <functional>

#include "platform/ui/types.h"

namespace quorex {

struct WindowLink {
  std::function<bool(HWND)> isWindow;
  // The wParam of the first queued message with that id for the window,
  // left in the queue; false when none waits (or the queue cannot be seen).
  std::function<bool(HWND, uint32_t message, WPARAM* wParam)> peekMessage;
  std::function<bool(HWND, uint32_t message, WPARAM wParam, LPARAM lParam)> postMessage;
  std::function<bool(HWND, uint32_t id, uint32_t periodMs)> setTimer;
  std::function<bool(HWND, uint32_t id)> killTimer;
  std::function<bool(HWND)> isOwnerThread;
};

const WindowLink& windowLink();
// Replaces the link (an empty member keeps the framework's) and returns the
// one in force before. Install before any port opens.
WindowLink setWindowLink(const WindowLink& link);

// The message id of WM_TIMER, which owners forward to CSerial::TimerProc.
constexpr uint32_t kTimerMessage = 0x0113;

// Posts (message, event, 0) unless the first queued message of that id
// already carries the same wParam. 0 posted or dropped, -1 the post failed.
int32_t postCoalesced(HWND owner, uint32_t message, WPARAM event);

}  // namespace quorex
