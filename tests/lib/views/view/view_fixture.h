// A shown caller's window (offscreen) to make record views in, the library's
// messages answered by a script, and the views left over deleted after each
// test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_object.h"
#include "platform/ui/desktop.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"
#include "zemta/view.h"

namespace view_test {

namespace ui = platform::ui;
namespace views = zemta::views;

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The application installs its own message-box answerer: the script's
    // goes in after it.
    ui::ensureApplication();
    script_.emplace();
    ui::setCaretBlinkTime(0);
    messages_ = ZemtaEnableLastErrorMessage(1);
    ui::WindowSpec shape;
    shape.className = "ViewCaller";
    shape.title = "ビュー";
    shape.rect = {40, 40, 40 + 400, 40 + 300};
    caller_ = ui::createWindow(shape, ui::defaultWindowProc);
    ASSERT_NE(caller_, nullptr);
    ui::processPendingMessages();
  }
  void TearDown() override {
    for (views::ViewObject* v : views::liveViews()) ViewDelete(v->handle);
    ui::destroyWindow(caller_);
    ui::processPendingMessages();
    ZemtaEnableLastErrorMessage(messages_);
    script_.reset();
  }

  ViewHandle make(uint32_t flags = 0, const std::string& title = "部門") {
    ViewHandle v = ViewCreate(flags, title.c_str(), caller_, nullptr);
    EXPECT_NE(v, 0u);
    return v;
  }
  static views::ViewObject& object(ViewHandle v) { return *views::viewOfHandle(v); }

  // An item of columns x rows cells at (column, row), all of it shown.
  static EditHandle item(ViewHandle v, int32_t column, int32_t row, int32_t columns, int32_t rows) {
    return views::createItem(object(v), 0, columns, rows, column, row, columns, rows, 0, nullptr);
  }
  // A layout entry: the field's id, its cell column and row in the item,
  // its width and lines.
  static views::ViewFieldLayout field(uint16_t id, uint16_t column, uint16_t row, uint16_t width,
                                      uint16_t lines = 1) {
    views::ViewFieldLayout f{};
    f.ids[0] = id;
    f.column = column;
    f.row = row;
    f.width = width;
    f.lines = lines;
    return f;
  }
  // The text of one row of an item's edit.
  static std::string rowText(EditHandle e, int32_t row) {
    return std::string(e->row(row), static_cast<size_t>(e->allocatedColumns));
  }
  static std::string outputFile(const std::string& name) {
    std::filesystem::path folder = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "lib" / "views" / "view";
    std::filesystem::create_directories(folder);
    return (folder / name).string();
  }

  HWND caller_ = nullptr;
  std::optional<testing_support::ScriptedMessageBox> script_;
  // The library's messages, answered by the script.
  testing_support::ScriptedMessageBox& box() { return *script_; }
  int32_t messages_ = 0;
};

}  // namespace view_test
