// The display-order adjustment dialog (see sel_adj_dlg.h).
#include "app/shell/frames/sel_adj_dlg.h"

#include <cstdlib>
#include <string>

#include "platform/ui/window.h"

namespace varnex::shell {

namespace ui = platform::ui;

CSelAdjDlg::CSelAdjDlg(HWND parent, Kind kind, int32_t largest)
    : Dialog(kTemplate, parent), kind_(kind), largest_(largest) {}

int32_t CSelAdjDlg::Ask(HWND parent, Kind kind, int32_t largest) {
  if (largest < 1) return 0;
  CSelAdjDlg dialog(parent, kind, largest);
  return dialog.doModal() == 1 ? dialog.Value() : 0;
}

bool CSelAdjDlg::onInitDialog() {
  const char* prompt = kind_ == kMove    ? "変更する表示順を指定して下さい。"
                       : kind_ == kClose ? "詰める数を指定して下さい。"
                                         : "空ける数を指定して下さい。";
  ui::setDialogItemText(handle(), kPromptId, prompt);
  HWND value = item(kValueId);
  ui::setControlRange(value, 1, largest_);
  ui::setControlPosition(value, value_);
  ui::setFocus(value);
  return false;
}

void CSelAdjDlg::onOK() {
  // Only a number within the range is taken; anything else leaves the
  // dialog open with a beep.
  const std::string text = ui::dialogItemText(handle(), kValueId);
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || (end && *end != '\0') || n < 1 || n > largest_) {
    ui::messageBeep();
    return;
  }
  value_ = static_cast<int32_t>(n);
  endDialog(1);
}

}  // namespace varnex::shell
