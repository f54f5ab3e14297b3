#include "support/scripted_message_box.h"

namespace testing_support {

ScriptedMessageBox::ScriptedMessageBox() {
  previous_ = platform::setMessageBoxAnswerer([this](const platform::MessageBoxRequest& request) {
    std::function<void(const platform::MessageBoxRequest&)> action;
    int result;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      shown_.push_back(request);
      action = whileShown_;
      if (answers_.empty()) {
        result = platform::defaultMessageBoxResult(request.style);
      } else {
        result = answers_.front();
        answers_.pop_front();
      }
    }
    if (action) action(request);
    return result;
  });
}

ScriptedMessageBox::~ScriptedMessageBox() { platform::setMessageBoxAnswerer(std::move(previous_)); }

void ScriptedMessageBox::answer(int result) {
  std::lock_guard<std::mutex> guard(mutex_);
  answers_.push_back(result);
}

void ScriptedMessageBox::whileShown(std::function<void(const platform::MessageBoxRequest&)> action) {
  std::lock_guard<std::mutex> guard(mutex_);
  whileShown_ = std::move(action);
}

std::vector<platform::MessageBoxRequest> ScriptedMessageBox::shown() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return shown_;
}

size_t ScriptedMessageBox::count() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return shown_.size();
}

std::string ScriptedMessageBox::lastText() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return shown_.empty() ? std::string() : shown_.back().text;
}

void ScriptedMessageBox::clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  shown_.clear();
  answers_.clear();
}

}  // namespace testing_support
