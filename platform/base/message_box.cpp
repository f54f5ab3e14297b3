#include "platform/base/message_box.h"

#include <cstdio>
#include <mutex>

#include "platform/base/cp932.h"
#include "platform/base/shared_state.h"

namespace platform {

struct MessageBoxPort {
  std::mutex mutex;
  MessageBoxAnswerer answerer;
};

PLATFORM_SHARED_STATE MessageBoxPort g_platformMessageBoxPort;

MessageBoxAnswerer setMessageBoxAnswerer(MessageBoxAnswerer answerer) {
  std::lock_guard<std::mutex> guard(g_platformMessageBoxPort.mutex);
  MessageBoxAnswerer previous = std::move(g_platformMessageBoxPort.answerer);
  g_platformMessageBoxPort.answerer = std::move(answerer);
  return previous;
}

int defaultMessageBoxResult(uint32_t style) {
  static const int kButtons[][3] = {
      {kIdOk, kIdOk, kIdOk},             {kIdOk, kIdCancel, kIdCancel},
      {kIdAbort, kIdRetry, kIdIgnore},   {kIdYes, kIdNo, kIdCancel},
      {kIdYes, kIdNo, kIdNo},            {kIdRetry, kIdCancel, kIdCancel},
  };
  uint32_t type = style & kMbTypeMask;
  uint32_t button = (style & kMbDefMask) >> 8;
  if (type > 5) type = 0;
  if (button > 2) button = 0;
  return kButtons[type][button];
}

int showMessageBox(const MessageBoxRequest& request) {
  MessageBoxAnswerer answerer;
  {
    std::lock_guard<std::mutex> guard(g_platformMessageBoxPort.mutex);
    answerer = g_platformMessageBoxPort.answerer;
  }
  if (answerer) return answerer(request);
  std::string text, caption;
  if (!cp932ToUtf8(request.text, text)) text = request.text;
  if (!cp932ToUtf8(request.caption, caption)) caption = request.caption;
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  return defaultMessageBoxResult(request.style);
}

}  // namespace platform
