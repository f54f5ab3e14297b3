// CSelAdjDlg: the small dialog (template 155, "表示順の調整") in which the
// picker asks how far to move an item in the display order, or how many
// free numbers to open or close before it.
#pragma once

#include <cstdint>

#include "platform/ui/dialog_class.h"

namespace varnex::shell {

class CSelAdjDlg : public platform::ui::Dialog {
 public:
  enum Kind { kMove, kClose, kOpen };
  static constexpr int32_t kTemplate = 155, kValueId = 1543, kPromptId = 1544;

  CSelAdjDlg(HWND parent, Kind kind, int32_t largest);
  // The number chosen (1 to the largest), or 0 when the clerk cancelled.
  static int32_t Ask(HWND parent, Kind kind, int32_t largest);
  int32_t Value() const { return value_; }

 protected:
  bool onInitDialog() override;
  void onOK() override;

 private:
  Kind kind_;
  int32_t largest_;
  int32_t value_ = 1;
};

}  // namespace varnex::shell
