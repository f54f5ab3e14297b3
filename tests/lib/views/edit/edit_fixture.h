// An owner window for edits (hidden: the model needs no display) and small
// drivers: keys and characters as the owner window passes them on.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/views/edit/edit_object.h"
#include "platform/ui/input.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "zemta/scan.h"
#include "zemta/edit.h"

namespace edit_test {

namespace ui = platform::ui;

class EditFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ensureApplication();
    ui::WindowSpec shape;
    shape.className = "EditOwner";
    shape.rect = {0, 0, 640, 480};
    shape.visible = false;
    owner_ = ui::createWindow(shape, ui::defaultWindowProc);
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override {
    std::vector<EditObject*> left = zemta::edit::liveEdits();
    for (EditObject* e : left) EditDelete(e);
    ui::destroyWindow(owner_);
  }

  // A focused edit (it has a caret) of columns x rows cells.
  EditHandle make(int32_t columns, int32_t rows, uint32_t input = 0, uint32_t create = 0) {
    EditHandle e = EditCreate(create, 0, 0, columns, rows, columns, rows, owner_, input);
    EXPECT_NE(e, nullptr);
    if (e) EditCallBackProc(e, ui::kWmSetFocus, 0, 0);
    return e;
  }
  static void load(EditHandle e, const std::string& text) {
    ASSERT_EQ(EditSetBuf(e, e->allocatedColumns, e->allocatedRows, text.c_str(), nullptr), 0);
  }
  static std::string content(EditHandle e) {
    std::string text(static_cast<size_t>(e->ux) * e->uy, '\0');
    EXPECT_EQ(EditGetBuf(e, text.data(), nullptr), 0);
    return text;
  }
  static LRESULT key(EditHandle e, uint32_t virtualKey) {
    LRESULT r = EditCallBackProc(e, ui::kWmKeyDown, virtualKey, 1);
    EditCallBackProc(e, ui::kWmKeyUp, virtualKey, 0xC0000001);
    return r;
  }
  static int32_t type(EditHandle e, const std::string& bytes) {
    int32_t used = 0;
    for (char c : bytes) used += static_cast<int32_t>(EditCallBackProc(e, ui::kWmChar, static_cast<uint8_t>(c), 1));
    return used;
  }
  static void caretTo(EditHandle e, int32_t column, int32_t row) { zemta::edit::EditMoveCaret(e, column, row, false); }

  HWND owner_ = nullptr;
};

}  // namespace edit_test
