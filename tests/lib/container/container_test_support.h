// Helpers of the container store's tests: the codes the library reported.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/core/report.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"

namespace container_test {

// Catches the library's error boxes; reported(code) tells whether the last
// box was that code's.
class Reports {
 public:
  Reports() { previous_ = ZemtaEnableLastErrorMessage(1); }
  ~Reports() { ZemtaEnableLastErrorMessage(previous_); }
  size_t count() const { return box_.count(); }
  void clear() { box_.clear(); }
  bool last(uint32_t code) const { return box_.count() > 0 && box_.lastText() == zemta::errorText(code); }

 private:
  testing_support::ScriptedMessageBox box_;
  int32_t previous_ = 1;
};

}  // namespace container_test
