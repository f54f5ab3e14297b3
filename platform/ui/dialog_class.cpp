#include "platform/ui/dialog_class.h"

namespace platform::ui {

namespace {
constexpr int32_t kIdOk = 1;
constexpr int32_t kIdCancel = 2;
}  // namespace

Dialog::Dialog(int32_t templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() {
  if (isWindow(handle_)) {
    setWindowProc(handle_, nullptr);
    destroyWindow(handle_);
  }
}

intptr_t Dialog::doModal() {
  intptr_t result = dialogBox(templateId_, parent_, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) {
    return procedure(h, m, wp, lp);
  });
  handle_ = nullptr;
  return result;
}

HWND Dialog::create() {
  HWND h = createDialog(templateId_, parent_, [this](HWND d, uint32_t m, WPARAM wp, LPARAM lp) {
    return procedure(d, m, wp, lp);
  });
  if (h) handle_ = h;
  return h;
}

HWND Dialog::handle() const { return isWindow(handle_) ? handle_ : nullptr; }
HWND Dialog::item(int32_t id) const { return dialogItem(handle_, id); }

bool Dialog::endDialog(intptr_t result) {
  HWND h = handle_;
  if (!isWindow(h)) return false;
  return platform::ui::endDialog(h, result);
}

void Dialog::mapNotify(int32_t id, uint32_t code, std::function<void()> handler) {
  notifications_[{id, code}] = std::move(handler);
}

void Dialog::mapMessage(uint32_t message, std::function<LRESULT(WPARAM, LPARAM)> handler) {
  messages_[message] = std::move(handler);
}

LRESULT Dialog::procedure(HWND dialog, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kWmInitDialog:
      handle_ = dialog;
      return onInitDialog() ? 1 : 0;
    case kWmCommand: {
      int32_t id = static_cast<int32_t>(lowWord(wParam));
      uint32_t code = highWord(wParam);
      auto n = notifications_.find({id, code});
      if (n != notifications_.end()) {
        auto handler = n->second;  // the handler may change the map
        handler();
        return 1;
      }
      if (code != kBnClicked && code != kCommandFromAccelerator) return 0;
      if (handleCommand(static_cast<uint32_t>(id))) return 1;
      if (id == kIdOk) {
        onOK();
        return 1;
      }
      if (id == kIdCancel) {
        onCancel();
        return 1;
      }
      return 0;
    }
    case kWmDestroy: {
      auto m = messages_.find(message);
      if (m != messages_.end()) m->second(wParam, lParam);
      return 0;
    }
    default: {
      auto m = messages_.find(message);
      if (m != messages_.end()) {
        auto handler = m->second;
        return handler(wParam, lParam);
      }
      return 0;
    }
  }
}

}  // namespace platform::ui
