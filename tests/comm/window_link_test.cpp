// The framework's window link: owner notices are coalesced on a real window.
#include <gtest/gtest.h>

#include <vector>

#include "comm/window_link.h"
#include "platform/ui/window.h"

namespace ui = platform::ui;

TEST(FrameworkWindowLink, NoticesWaitingWithTheSameEventAreNotPostedAgain) {
  ui::ensureApplication();
  std::vector<WPARAM> got;
  ui::WindowSpec windowSpec;
  windowSpec.className = "Owner";
  windowSpec.visible = false;
  HWND owner = ui::createWindow(windowSpec, [&](HWND h, uint32_t m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == 0x0E00) got.push_back(w);
    return ui::defaultWindowProc(h, m, w, l);
  });
  ASSERT_NE(owner, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(quorex::postCoalesced(owner, 0x0E00, 1), 0);
  // The first waiting notice carries 1, so a 4 goes in behind it.
  EXPECT_EQ(quorex::postCoalesced(owner, 0x0E00, 4), 0);
  ui::processPendingMessages();
  EXPECT_EQ(got, (std::vector<WPARAM>{1, 4}));
  // Once delivered, the next notice is posted again.
  EXPECT_EQ(quorex::postCoalesced(owner, 0x0E00, 1), 0);
  ui::processPendingMessages();
  EXPECT_EQ(got, (std::vector<WPARAM>{1, 4, 1}));
  ui::destroyWindow(owner);
  EXPECT_EQ(quorex::postCoalesced(owner, 0x0E00, 1), -1);
}
