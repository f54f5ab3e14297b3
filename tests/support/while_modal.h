// Runs an action on a dialog from inside its modal loop, once a visible
// top-level window with the caption is up: the tests drive modal dialogs
// the way a clerk does, while the code under test waits in DoModal.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/window.h"

namespace testing_support {

class WhileModal {
 public:
  WhileModal(std::string caption, std::function<void(HWND)> action) {
    namespace ui = platform::ui;
    window_ = ui::createWindow({"ModalDriver", "", nullptr, {0, 0, 1, 1}, false},
                               [this, caption, action](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
                                 if (m != ui::kWmTimer || done_) return ui::defaultWindowProc(h, m, wp, lp);
                                 for (HWND t : ui::topLevelWindows()) {
                                   if (ui::isWindowVisible(t) && ui::windowText(t) == caption) {
                                     done_ = true;
                                     ui::killTimer(h, 1);
                                     action(t);
                                     break;
                                   }
                                 }
                                 return 0;
                               });
    ui::setTimer(window_, 1, 20);
  }
  ~WhileModal() { platform::ui::destroyWindow(window_); }
  WhileModal(const WhileModal&) = delete;
  WhileModal& operator=(const WhileModal&) = delete;
  bool done() const { return done_; }

 private:
  HWND window_ = nullptr;
  bool done_ = false;
};

}  // namespace testing_support
