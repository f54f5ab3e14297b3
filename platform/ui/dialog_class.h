// Dialogs as classes: a dialog template (resources.h) with a message map of
// command ids, control notifications and messages, and the init, OK and
// Cancel handlers. Built on the template dialogs of dialog.h: Enter presses
// the default button, Esc is Cancel.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "platform/ui/command.h"
#include "platform/ui/dialog.h"

namespace platform::ui {

class Dialog : public CommandTarget {
 public:
  explicit Dialog(int32_t templateId, HWND parent = nullptr);
  ~Dialog() override;

  // Runs the dialog until endDialog and returns its result; -1 when the
  // template does not exist.
  intptr_t doModal();
  // Shows the dialog modeless and returns its handle (null on failure);
  // endDialog or destroyWindow closes it.
  HWND create();
  HWND handle() const;
  HWND item(int32_t id) const;
  bool endDialog(intptr_t result);

  // Control notifications (WM_COMMAND with a code: EN_CHANGE, LBN_SELCHANGE
  // ...). Button clicks and other commands go to the command map
  // (mapCommand) instead; the OK and Cancel ids go there too when mapped,
  // else to onOK and onCancel.
  void mapNotify(int32_t id, uint32_t code, std::function<void()> handler);
  // Any other message; the answer is the dialog procedure's.
  void mapMessage(uint32_t message, std::function<LRESULT(WPARAM, LPARAM)> handler);

 protected:
  // After the controls exist; true lets the framework put the focus on the
  // first control (false: the handler set it).
  virtual bool onInitDialog() { return true; }
  virtual void onOK() { endDialog(1); }
  virtual void onCancel() { endDialog(2); }

 private:
  LRESULT procedure(HWND dialog, uint32_t message, WPARAM wParam, LPARAM lParam);
  int32_t templateId_;
  HWND parent_;
  HWND handle_ = nullptr;
  std::map<std::pair<int32_t, uint32_t>, std::function<void()>> notifications_;
  std::map<uint32_t, std::function<LRESULT(WPARAM, LPARAM)>> messages_;
};

}  // namespace platform::ui
