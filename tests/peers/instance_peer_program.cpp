// A second register instance for the cross-process message tests: it
// publishes one window titled argv[1] (class "ZemtaPeerFrame") that answers
// the registered message "ZEMTA_TEST_PING" with wParam + lParam and ends at
// "ZEMTA_TEST_QUIT", or after a minute when nobody tells it to.
#include <cstdint>
#include <string>

#include "platform/ui/instance_link.h"
#include "platform/ui/window.h"

namespace ui = platform::ui;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  ui::ensureApplication();
  ui::WindowSpec windowSpec;
  windowSpec.className = "ZemtaPeerFrame";
  windowSpec.title = argv[1];
  bool done = false;
  const uint32_t ping = ui::registerWindowMessage("ZEMTA_TEST_PING");
  const uint32_t quit = ui::registerWindowMessage("ZEMTA_TEST_QUIT");
  HWND w = ui::createWindow(windowSpec, [&](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == ping) return static_cast<LRESULT>(wp) + lp;
    if (m == quit) done = true;
    return ui::defaultWindowProc(h, m, wp, lp);
  });
  if (!ui::publishWindows()) return 1;
  ui::pumpUntil([&] { return done; }, 60000);
  ui::destroyWindow(w);
  return 0;
}
