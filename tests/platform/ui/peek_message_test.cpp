// Looking into a window's queue without taking anything out of it.
#include <thread>
#include <vector>

#include "platform/ui/window.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui = platform::ui;

namespace {

struct PeekWindow {
  HWND handle = nullptr;
  std::vector<WPARAM> got;
  // What a peek for the same message id saw while each one was being delivered.
  std::vector<std::pair<bool, WPARAM>> seenDuring;
  static constexpr uint32_t kNotice = ui::kWmUser + 0x40;

  PeekWindow() {
    ui::WindowSpec windowSpec;
    windowSpec.className = "PeekWindow";
    handle = ui::createWindow(windowSpec, [this](HWND h, uint32_t m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == kNotice) {
        got.push_back(w);
        WPARAM next = 0;
        bool queued = ui::peekMessage(h, kNotice, &next);
        seenDuring.push_back({queued, next});
      }
      return ui::defaultWindowProc(h, m, w, l);
    });
  }
  ~PeekWindow() {
    if (ui::isWindow(handle)) ui::destroyWindow(handle);
  }
};

}  // namespace

class PeekMessageTest : public UiTest {};

TEST_F(PeekMessageTest, SeesTheFirstQueuedMessageOfAnIdAndLeavesItThere) {
  PeekWindow a, b;
  WPARAM wParam = 0;
  EXPECT_FALSE(ui::peekMessage(a.handle, PeekWindow::kNotice, &wParam));
  ASSERT_TRUE(ui::postMessage(a.handle, ui::kWmUser + 1, 9, 0));
  ASSERT_TRUE(ui::postMessage(a.handle, PeekWindow::kNotice, 1, 0));
  ASSERT_TRUE(ui::postMessage(a.handle, PeekWindow::kNotice, 4, 0));
  ASSERT_TRUE(ui::postMessage(b.handle, PeekWindow::kNotice, 7, 0));

  EXPECT_TRUE(ui::peekMessage(a.handle, PeekWindow::kNotice, &wParam));
  EXPECT_EQ(wParam, 1u);
  EXPECT_TRUE(ui::peekMessage(a.handle, PeekWindow::kNotice, &wParam));  // still there
  EXPECT_EQ(wParam, 1u);
  EXPECT_TRUE(ui::peekMessage(b.handle, PeekWindow::kNotice, &wParam));
  EXPECT_EQ(wParam, 7u);
  EXPECT_FALSE(ui::peekMessage(b.handle, ui::kWmUser + 1, &wParam));  // another window's

  ui::processPendingMessages();
  ASSERT_EQ(a.got, (std::vector<WPARAM>{1, 4}));
  // A message being delivered has left the queue; the one behind it has not.
  ASSERT_EQ(a.seenDuring.size(), 2u);
  EXPECT_EQ(a.seenDuring[0], (std::pair<bool, WPARAM>{true, 4}));
  EXPECT_FALSE(a.seenDuring[1].first);
  EXPECT_FALSE(ui::peekMessage(a.handle, PeekWindow::kNotice, &wParam));
  EXPECT_FALSE(ui::peekMessage(b.handle, PeekWindow::kNotice, &wParam));
}

TEST_F(PeekMessageTest, PostsFromAnotherThreadAreSeenAndDroppedOnesForgotten) {
  auto* gone = new PeekWindow;
  HWND goneHandle = gone->handle;
  PeekWindow kept;
  std::thread worker([&] {
    ui::postMessage(goneHandle, PeekWindow::kNotice, 3, 0);
    ui::postMessage(kept.handle, PeekWindow::kNotice, 5, 0);
  });
  worker.join();
  WPARAM wParam = 0;
  EXPECT_TRUE(ui::peekMessage(goneHandle, PeekWindow::kNotice, &wParam));
  EXPECT_EQ(wParam, 3u);
  EXPECT_TRUE(ui::peekMessage(kept.handle, PeekWindow::kNotice, &wParam));
  EXPECT_EQ(wParam, 5u);
  delete gone;  // destroyed before delivery: its message is dropped
  ui::processPendingMessages();
  EXPECT_FALSE(ui::peekMessage(goneHandle, PeekWindow::kNotice, &wParam));
  EXPECT_FALSE(ui::peekMessage(kept.handle, PeekWindow::kNotice, &wParam));
  EXPECT_EQ(kept.got, (std::vector<WPARAM>{5}));
}
