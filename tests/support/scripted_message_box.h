// A message-box answerer for tests: records every box shown and answers from
// a script (the default button when the script runs out). Installed for the
// life of the object.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/message_box.h"

namespace testing_support {

class ScriptedMessageBox {
 public:
  ScriptedMessageBox();
  ~ScriptedMessageBox();

  // Queues the answer of the next box.
  void answer(int result);
  // Runs while the next box is up, before it answers (to look at locks, say).
  void whileShown(std::function<void(const platform::MessageBoxRequest&)> action);

  std::vector<platform::MessageBoxRequest> shown() const;
  size_t count() const;
  // Text of the last box, code page 932.
  std::string lastText() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::function<void(const platform::MessageBoxRequest&)> whileShown_;
  std::vector<platform::MessageBoxRequest> shown_;
  platform::MessageBoxAnswerer previous_;
};

}  // namespace testing_support
