#include "zemta/winhelp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/core/report.h"
#include "platform/ui/desktop.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"

namespace {

namespace ui = platform::ui;
using testing_support::ScriptedMessageBox;

class WindowHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override { ui::ensureApplication(); }
  void TearDown() override { ui::processPendingMessages(); }
};

TEST_F(WindowHelpersTest, CursorStackHoldsTwoLevels) {
  ScriptedMessageBox box;
  ui::CursorShape before = ui::currentCursor();
  EXPECT_EQ(PushCursor(ZEMTA_IDC_WAIT), 0);
  EXPECT_EQ(PushCursor(ZEMTA_IDC_APPSTARTING), 0);
  EXPECT_EQ(PushCursor(ZEMTA_IDC_IBEAM), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_NEST_FULL));
  EXPECT_EQ(ui::currentCursor(), ui::CursorShape::AppStarting);  // left as it was
  EXPECT_EQ(PopCursor(), 0);
  EXPECT_EQ(ui::currentCursor(), ui::CursorShape::Wait);
  EXPECT_EQ(PopCursor(), 0);
  EXPECT_EQ(ui::currentCursor(), before);
  EXPECT_EQ(PopCursor(), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_NEST_EMPTY));
  EXPECT_EQ(PushCursor(ZEMTA_CURSOR(1)), -1);  // no such system cursor
  EXPECT_EQ(box.count(), 3u);
  EXPECT_EQ(ui::currentCursor(), before);
}

TEST_F(WindowHelpersTest, ClipboardTextRoundTripsInCodePage932) {
  ASSERT_EQ(SetClipboardText(nullptr, "小計 ①"), 1);
  EXPECT_EQ(IsClipboardText(nullptr), 1);
  char buffer[32];
  ASSERT_EQ(GetClipboardText(nullptr, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "小計 ①");
  char* copy = GetClipboardTextAlloc(nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "小計 ①");
  std::free(copy);
  // A buffer too small gets the first bytes and no terminator.
  char small[4] = {'x', 'x', 'x', 'x'};
  ASSERT_EQ(SetClipboardText(nullptr, "12345"), 1);
  EXPECT_EQ(GetClipboardText(nullptr, small, 3), 1);
  EXPECT_EQ(std::string(small, 4), "123x");
  ASSERT_EQ(SetClipboardText(nullptr, ""), 1);
  EXPECT_EQ(IsClipboardText(nullptr), 0);
}

TEST_F(WindowHelpersTest, ClipboardNumericFollowsTheItemType) {
  struct Case {
    const char* text;
    uint32_t type;
    int32_t accepted;
  } cases[] = {
      {"-5", 0, 0},        {"1,234", 0, 1},      {"-5", 0x1000, 1},  {"1.5", 0x1000, 0},
      {"-1.5", 0x2000, 1}, {"12\r\n34", 0, 1},   {"12a", 0x3000, 0}, {"１２", 0x3000, 0},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(SetClipboardText(nullptr, c.text), 1);
    EXPECT_EQ(IsClipboardNumeric(nullptr, c.type), c.accepted) << c.text << " " << c.type;
  }
}

TEST_F(WindowHelpersTest, ScrollBarSteps) {
  ui::WindowSpec windowSpec;
  HWND owner = ui::createWindow(windowSpec, ui::defaultWindowProc);
  HWND bar = ui::createScrollBar(owner, {0, 0, 16, 200}, true);
  struct Case {
    int32_t from;
    uint32_t code;
    int32_t to;
  } cases[] = {
      {5, 0, 4},   {0, 0, 0},   {90, 1, 91},  {91, 1, 91},       {15, 2, 5},  {5, 2, 0},
      {50, 3, 60}, {85, 3, 91}, {0, 4 | (33u << 16), 33}, {0, 5 | (200u << 16), 91}, {7, 6, -1},
  };
  ASSERT_TRUE(ui::setScrollInfo(bar, {0, 100, 10, 0}));
  for (const auto& c : cases) {
    ui::setScrollPosition(bar, c.from);
    EXPECT_EQ(ScrollCtlBar(bar, c.code), c.to) << c.from << " code " << c.code;
  }
  EXPECT_EQ(ScrollCtlBar(owner, 0), -1);  // no scroll bar
  ui::destroyWindow(owner);
}

TEST_F(WindowHelpersTest, FolderPickerCopiesTheChoiceOrLeavesTheText) {
  std::string startedAt;
  auto previous = ui::setFolderPickerAnswerer([&](const std::string&, std::string& folder) {
    startedAt = folder;
    folder = "/home/shop/画像";
    return true;
  });
  char folder[260] = "/start";
  EXPECT_EQ(GetPathDlg(nullptr, "選択", folder, sizeof folder), 1);
  EXPECT_EQ(startedAt, "/start");
  EXPECT_STREQ(folder, "/home/shop/画像");
  ScriptedMessageBox box;
  char tiny[8] = "/s";
  EXPECT_EQ(GetPathDlg(nullptr, "選択", tiny, sizeof tiny), 2);  // never a cut path
  EXPECT_STREQ(tiny, "/s");
  ui::setFolderPickerAnswerer([](const std::string&, std::string& folder) {
    folder = "ignored";
    return false;
  });
  EXPECT_EQ(GetPathDlg(nullptr, "選択", folder, sizeof folder), 2);
  EXPECT_STREQ(folder, "/home/shop/画像");
  ui::setFolderPickerAnswerer(previous);
}

TEST_F(WindowHelpersTest, ImeStatusIsKeptPerWindow) {
  ui::WindowSpec windowSpec;
  HWND w = ui::createWindow(windowSpec, ui::defaultWindowProc);
  int32_t open = -1;
  uint32_t conversion = 0, sentence = 0;
  HIMC context = ImeGetStatus(w, &open, nullptr, nullptr, nullptr);
  ASSERT_NE(context, nullptr);
  ZemtaLogFont font{};
  font.height = -16;
  std::strcpy(font.faceName, "ＭＳ ゴシック");
  ImeSetStatus(context, 1, 9, 8, &font);
  ZemtaLogFont back{};
  EXPECT_EQ(ImeGetStatus(w, &open, &conversion, &sentence, &back), context);
  EXPECT_EQ(open, 1);
  EXPECT_EQ(conversion, 9u);
  EXPECT_EQ(sentence, 8u);
  EXPECT_STREQ(back.faceName, "ＭＳ ゴシック");
  ImeSetStatus(context, 0, 0, 0, nullptr);
  ImeGetStatus(w, &open, nullptr, nullptr, nullptr);
  EXPECT_EQ(open, 0);
  ui::destroyWindow(w);
  EXPECT_EQ(ImeGetStatus(w, &open, nullptr, nullptr, nullptr), nullptr);
}

TEST(WindowHelpers, ColoursCapAt255) {
  auto rgb = [](uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); };
  EXPECT_EQ(ZemtaChangeBright(rgb(200, 100, 50), 150), rgb(255, 150, 75));
  EXPECT_EQ(ZemtaChangeBright(rgb(200, 100, 50), 50), rgb(100, 50, 25));
  EXPECT_EQ(ZemtaChangeContrast(rgb(200, 100, 50), 150), rgb(200, 100, 255));  // red largest: blue
  EXPECT_EQ(ZemtaChangeContrast(rgb(10, 100, 50), 50), rgb(50, 100, 50));      // green largest: red
  EXPECT_EQ(ZemtaChangeContrast(rgb(10, 100, 200), 100), rgb(10, 255, 200));   // else green + blue
}

TEST(WindowHelpers, LineCharMasksAndByteClasses) {
  EXPECT_EQ(GetLineCharMask(0x86A2), 0x000Au);
  EXPECT_EQ(GetLineCharMask(0x86D1), 0x0A04u);
  EXPECT_EQ(GetLineCharMask(0x86DE), 0x000Fu);
  EXPECT_EQ(GetLineCharMask(0x86A6), 0u);
  EXPECT_EQ(GetLineCharMask(0x889F), 0u);
  struct Case {
    int32_t c;
    int32_t space, digit, alnum, kana, lead, trail, upper;
  } cases[] = {
      {' ', 1, 0, 0, 0, 0, 0, ' '},   {'\t', 1, 0, 0, 0, 0, 0, '\t'}, {'7', 0, 1, 1, 1, 0, 0, '7'},
      {'q', 0, 0, 1, 1, 0, 1, 'Q'},   {0xB1, 0, 0, 0, 1, 0, 1, 0xB1}, {0x81, 0, 0, 0, 0, 1, 1, 0x81},
      {0xE0, 0, 0, 0, 0, 1, 1, 0xE0}, {0x7F, 0, 0, 0, 0, 0, 0, 0x7F}, {0xFD, 0, 0, 0, 0, 0, 0, 0xFD},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZemtaIsSpace(c.c), c.space) << c.c;
    EXPECT_EQ(ZemtaIsDigit(c.c), c.digit) << c.c;
    EXPECT_EQ(ZemtaIsAlnum(c.c), c.alnum) << c.c;
    EXPECT_EQ(ZemtaIsAlnumKana(c.c), c.kana) << c.c;
    EXPECT_EQ(ZemtaIsLeadByte(c.c), c.lead) << c.c;
    EXPECT_EQ(ZemtaIsTrailByte(c.c), c.trail) << c.c;
    EXPECT_EQ(ZemtaToUpper(c.c), c.upper) << c.c;
  }
}

}  // namespace
