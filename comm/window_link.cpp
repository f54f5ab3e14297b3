#include "comm/window_link.h"

#include <mutex>

#include "platform/ui/window.h"

namespace quorex {

namespace {

WindowLink frameworkLink() {
  WindowLink link;
  link.isWindow = [](HWND w) { return w != nullptr && platform::ui::isWindow(w); };
  link.peekMessage = [](HWND w, uint32_t m, WPARAM* wp) { return platform::ui::peekMessage(w, m, wp); };
  link.postMessage = [](HWND w, uint32_t m, WPARAM wp, LPARAM lp) {
    return platform::ui::postMessage(w, m, wp, lp);
  };
  link.setTimer = [](HWND w, uint32_t id, uint32_t ms) { return platform::ui::setTimer(w, id, ms); };
  link.killTimer = [](HWND w, uint32_t id) { return platform::ui::killTimer(w, id); };
  link.isOwnerThread = [](HWND) { return platform::ui::isUiThread(); };
  return link;
}

WindowLink& currentLink() {
  static WindowLink link = frameworkLink();
  return link;
}

}  // namespace

const WindowLink& windowLink() { return currentLink(); }

WindowLink setWindowLink(const WindowLink& link) {
  WindowLink before = currentLink();
  WindowLink fallback = frameworkLink();
  WindowLink next = link;
  if (!next.isWindow) next.isWindow = fallback.isWindow;
  if (!next.peekMessage) next.peekMessage = fallback.peekMessage;
  if (!next.postMessage) next.postMessage = fallback.postMessage;
  if (!next.setTimer) next.setTimer = fallback.setTimer;
  if (!next.killTimer) next.killTimer = fallback.killTimer;
  if (!next.isOwnerThread) next.isOwnerThread = fallback.isOwnerThread;
  currentLink() = next;
  return before;
}

int32_t postCoalesced(HWND owner, uint32_t message, WPARAM event) {
  const WindowLink& link = windowLink();
  WPARAM queued = 0;
  if (link.peekMessage(owner, message, &queued) && queued == event) return 0;
  return link.postMessage(owner, message, event, 0) ? 0 : -1;
}

}  // namespace quorex
