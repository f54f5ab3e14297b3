// Ringing up by touch, in the offscreen platform on the demo shop, with real
// mouse events: the touch-key panel above the sales list, the department and
// PLU picker and the floating ten-key pad. A sale by touch leaves the same
// records as the same sale by keys; only drawn keys answer; a pick passes
// the same mode gate and checks as the key; the display order edited by drag
// is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/register/demo_project.h"
#include "app/resources/varnex_resources.h"
#include "app/register/engine/records.h"
#include "app/register/view/reg_view.h"
#include "app/register/view/ten_key_dlg.h"
#include "app/register/view/top_view.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/bottom_view.h"
#include "app/shell/frames/dpt_view.h"
#include "platform/base/profile.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/frame.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "tests/support/cp932_names.h"
#include "zemta/filedb.h"

namespace {

using namespace varnex::reg;
namespace fs = std::filesystem;
namespace ui = platform::ui;
using varnex::shell::CDptFrm;
using varnex::shell::CDptView;
using Line = std::vector<uint8_t>;

std::string outputFolder() {
  fs::path folder = fs::path(VARNEX_TEST_OUTPUT_DIR) / "touch";
  fs::create_directories(folder);
  return folder.string();
}

platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

// A press and release at a point of a window, after the pointer moved there.
void click(HWND window, int32_t x, int32_t y) {
  ASSERT_TRUE(ui::sendMouseInput(window, ui::kWmMouseMove, x, y));
  ASSERT_TRUE(ui::sendMouseInput(window, ui::kWmLButtonDown, x, y));
  ASSERT_TRUE(ui::sendMouseInput(window, ui::kWmLButtonUp, x, y, 0));
}

// Answers the next modal dialog with the caption from inside its loop: the
// number goes into its value field and OK is pressed.
class AnswerDialog {
 public:
  AnswerDialog(std::string caption, int32_t valueId, std::string value) {
    window_ = ui::createWindow({"DialogAnswerer", "", nullptr, {0, 0, 1, 1}, false},
                               [this, caption, valueId, value](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
                                 if (m != ui::kWmTimer || done_) return ui::defaultWindowProc(h, m, wp, lp);
                                 for (HWND t : ui::topLevelWindows())
                                   if (ui::isWindowVisible(t) && ui::windowText(t) == caption) {
                                     done_ = true;
                                     ui::killTimer(h, 1);
                                     prompt_ = ui::dialogItemText(t, 1544);
                                     ui::setDialogItemText(t, valueId, value);
                                     ui::clickButton(ui::dialogItem(t, 1));
                                     break;
                                   }
                                 return 0;
                               });
    ui::setTimer(window_, 1, 20);
  }
  ~AnswerDialog() { ui::destroyWindow(window_); }
  bool done() const { return done_; }
  const std::string& prompt() const { return prompt_; }

 private:
  HWND window_ = nullptr;
  bool done_ = false;
  std::string prompt_;
};

class TouchTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(varnex::LoadVarnexResources());
    ASSERT_TRUE(open());
    profile().deleteSection(kSettingsSection);
    profile().setInt(kSettingsSection, "Tax Detail", 0);
    engine->SetManager(read(kClerkTable, 0).data());
    auto settingsRecord = read(kSettingsTable, 0);
    putU16(settingsRecord.data(), settings::kTaxWord, 1);
    write(kSettingsTable, 0, settingsRecord);
    ASSERT_EQ(engine->ReloadSettings(), 0);
    // The cash key on the panel: the demo lays it out beside the sixth
    // column, where the panel draws nothing.
    moveKey(makeKeyCode(kKeyTrans1, kTenderCash), 103);

    app = std::make_unique<varnex::shell::CREGApp>();
    app->m_pRegCom = engine.get();
    app->SetPrintEngine(engine.get());
    app->LoadReceiptSettings();
    app->LoadPrinterSettings();
    app->m_nKeyNumber = 13;
    app->m_strPicturePath = (folder / "Thumbnails").string() + "/";
    fs::create_directories(folder / "Thumbnails");

    frame = std::make_unique<ui::Frame>("RegFrame", "登録１", ui::Rect{0, 0, 800, 600});
    auto made = std::make_unique<CRegView>(engine.get(), app.get(), 7);
    view = static_cast<CRegView*>(frame->setView(std::move(made)));
    HWND topPane = frame->addPane(0xE8FD, ui::DockSide::Top, 3 * 75);
    top = std::make_unique<CTopView>(engine.get(), app.get(), [this] { return view->handle(); });
    ASSERT_TRUE(top->create(topPane, 0xE9FD));
    HWND bottomPane = frame->addPane(0xE8FF, ui::DockSide::Bottom, 112);
    bottom = std::make_unique<varnex::shell::CBottomView>();
    bottom->m_pRegCom = engine.get();
    bottom->create(bottomPane);
    view->SetBottomView(bottom.get());
    ui::showWindow(frame->handle(), true);
    ui::processPendingMessages();
    top->onInitialUpdate();
    view->setFocus();
  }

  void TearDown() override {
    if (CDptFrm* picker = CDptFrm::Current()) picker->Close();
    if (app->m_hTenKeyDlg && ui::isWindow(app->m_hTenKeyDlg)) ui::destroyWindow(app->m_hTenKeyDlg);
    ui::processPendingMessages();
    top.reset();
    frame.reset();
    app.reset();
    ui::processPendingMessages();
    profile().deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }

  // The key layout record of a key code gets the panel position; the key
  // that stood there goes off the panel.
  void moveKey(uint16_t keyCode, uint16_t position) {
    FileDBHandle t = engine->Table(kKeyLayoutTable);
    for (int32_t n = 0; n < FileDBRecGetSize(t); ++n) {
      auto r = read(kKeyLayoutTable, n);
      if (getU16(r.data(), keylayout::kPosition.offset) == position) {
        putU16(r.data(), keylayout::kPosition.offset, 0);
        write(kKeyLayoutTable, n, r);
      }
    }
    for (int32_t n = 0; n < FileDBRecGetSize(t); ++n) {
      auto r = read(kKeyLayoutTable, n);
      if (getU16(r.data(), keylayout::kFunction.offset) == keyCode) {
        putU16(r.data(), keylayout::kPosition.offset, position);
        write(kKeyLayoutTable, n, r);
      }
    }
  }
  void setDepartment(int32_t record, uint16_t attributes, int32_t preset, uint16_t listSelect = 1) {
    auto d = read(kDepartmentTable, record);
    putU16(d.data(), department::kAttributes.offset, attributes);
    putI32(d.data(), department::kUnitPrice.offset, preset);
    putU16(d.data(), department::kListSelect.offset, listSelect);
    write(kDepartmentTable, record, d);
  }

  // The centre of the panel's key at index i (row-major, six a row).
  void touchKey(int32_t index) {
    click(top->handle(), (index % 6) * 100 + 50, (index / 6) * app->m_nKeyHeight + 30);
  }
  // A pad button, pressed with the mouse.
  void touchPad(int32_t id) {
    HWND button = ui::dialogItem(app->m_hTenKeyDlg, id);
    ASSERT_NE(button, nullptr) << id;
    const ui::Rect r = ui::windowRect(button);
    click(app->m_hTenKeyDlg, r.left + r.width() / 2, r.top + r.height() / 2);
  }
  void touchPadDigits(const std::string& digits) {
    static const int32_t ids[] = {1548, 1549, 1560, 1571, 1572, 1573, 1574, 1575, 1576, 1577};
    for (char c : digits) touchPad(ids[c - '0']);
  }
  // The picker's cell i, touched.
  void touchCell(int32_t i) {
    CDptFrm* picker = CDptFrm::Current();
    ASSERT_NE(picker, nullptr);
    const ui::Rect r = picker->View()->CellRect(i);
    click(picker->View()->handle(), r.left + r.width() / 2, r.top + r.height() / 2);
    ui::processPendingMessages();
  }
  // A key typed as on a keyboard; with ctrl, Ctrl is held around it.
  void press(uint32_t virtualKey, bool ctrl = false) {
    if (ctrl) {
      ASSERT_TRUE(ui::sendKeyInput(view->handle(), ui::kVkControl, true, false, true, false));
    }
    ASSERT_TRUE(ui::sendKeyInput(view->handle(), virtualKey, true, false, ctrl, false));
    ASSERT_TRUE(ui::sendKeyInput(view->handle(), virtualKey, false, false, ctrl, false));
    if (ctrl) {
      ASSERT_TRUE(ui::sendKeyInput(view->handle(), ui::kVkControl, false, false, false, false));
    }
  }
  void type(const std::string& digits) {
    for (char c : digits) press(static_cast<uint32_t>(c));
  }

  std::vector<Line> dailyRecords() {
    std::vector<Line> lines;
    FileDBHandle file = engine->PrfOpen(3, nullptr);
    if (!file) return lines;
    for (int32_t n = 0; n < FileDBRecGetSize(file); ++n) {
      Line l(line::kSize);
      EXPECT_EQ(FileDBRecRead(file, n, l.data()), 0);
      lines.push_back(l);
    }
    FileDBDelete(file);
    return lines;
  }
  void grab(HWND window, const std::string& name) {
    ui::processPendingMessages();
    EXPECT_TRUE(ui::grabWindowToPng(window, outputFolder() + "/" + name));
  }
  // The keyboard key (a key word of the layout) of a key code.
  void assignKey(uint16_t keyCode, uint16_t word) {
    FileDBHandle t = engine->Table(kKeyLayoutTable);
    for (int32_t n = 0; n < FileDBRecGetSize(t); ++n) {
      auto r = read(kKeyLayoutTable, n);
      if (getU16(r.data(), keylayout::kKeyWord.offset) == word) {
        putU16(r.data(), keylayout::kKeyWord.offset, 0);
        write(kKeyLayoutTable, n, r);
      }
    }
    for (int32_t n = 0; n < FileDBRecGetSize(t); ++n) {
      auto r = read(kKeyLayoutTable, n);
      if (getU16(r.data(), keylayout::kFunction.offset) == keyCode) {
        putU16(r.data(), keylayout::kKeyWord.offset, word);
        write(kKeyLayoutTable, n, r);
      }
    }
  }
  // A key of the layout pressed on the picker as the keyboard gives it.
  void pressPickerKey(uint16_t keyCode) {
    uint8_t layout[8] = {};
    ASSERT_GE(engine->FindKeyByCode(keyCode, layout), 0) << keyCode;
    const uint16_t word = getU16(layout, keylayout::kKeyWord.offset);
    const bool shift = word & keylayout::kShift, ctrl = word & keylayout::kCtrl, alt = word & keylayout::kAlt;
    HWND h = CDptFrm::Current()->View()->handle();
    const uint32_t vk = word & 0xFF;
    ASSERT_TRUE(ui::sendKeyInput(h, vk, true, shift, ctrl, alt)) << std::hex << word;
    ASSERT_TRUE(ui::sendKeyInput(h, vk, false, shift, ctrl, alt)) << std::hex << word;
    ui::processPendingMessages();
  }
  std::vector<std::string> pickerCodes() {
    std::vector<std::string> codes;
    for (int32_t i = 0; i < CDptFrm::Current()->View()->Count(); ++i)
      codes.push_back(CDptFrm::Current()->View()->CodeOf(i));
    return codes;
  }

  std::unique_ptr<varnex::shell::CREGApp> app;
  std::unique_ptr<ui::Frame> frame;
  std::unique_ptr<CTopView> top;
  std::unique_ptr<varnex::shell::CBottomView> bottom;
  CRegView* view = nullptr;
};

// Department 2 at a typed price, an item of department 1 from its picker,
// cash: once by touch (pad, panel, picker, pad's Enter) and once by keys.
// Both sales leave the same records in the day's file.
TEST_F(TouchTest, SaleByTouchCommitsLikeTheSameSaleByKeys) {
  // The code of department 1's first item, as the picker will show it.
  std::string firstCode;
  {
    FileDBHandle t = engine->Table(kPluTable);
    for (int32_t n = 1; n < FileDBRecGetSize(t) && firstCode.empty(); ++n) {
      auto r = read(kPluTable, n);
      if (getU16(r.data(), plu::kDepartment.offset) == 1) firstCode = getText(r.data(), plu::kCode.offset, plu::kCode.size);
    }
  }
  while (!firstCode.empty() && (firstCode.back() == ' ' || firstCode.back() == '\0')) firstCode.pop_back();
  ASSERT_FALSE(firstCode.empty());

  // By touch.
  view->OpenTenKeyPad();
  ASSERT_NE(app->m_hTenKeyDlg, nullptr);
  touchPadDigits("1000");
  touchKey(1);  // department 2
  ASSERT_EQ(view->Sale().LineCount(), 1);
  touchKey(0);  // department 1: a list department without a price opens its items
  ASSERT_NE(CDptFrm::Current(), nullptr);
  EXPECT_EQ(CDptFrm::Current()->View()->Kind(), 1);
  EXPECT_EQ(pickerCodes().front(), firstCode);
  grab(CDptFrm::Current()->handle(), "picker_items.png");
  touchCell(0);
  // A pick the register kept leaves the picker up for the next; F10 closes it.
  if (CDptFrm* picker = CDptFrm::Current()) {
    ASSERT_TRUE(ui::sendKeyInput(picker->View()->handle(), ui::kVkF1 + 9, true, false, false, false));
    ui::processPendingMessages();
  }
  EXPECT_EQ(CDptFrm::Current(), nullptr);
  EXPECT_TRUE(ui::isWindowEnabled(frame->handle()));
  const int32_t linesByTouch = view->Sale().LineCount();
  touchPad(CTenKeyDlg::kButtonEscape);  // what a refused PLU key left in the entry
  touchPadDigits("3000");
  touchPad(CTenKeyDlg::kButtonEnter);
  EXPECT_FALSE(view->Sale().SaleOpen());
  const std::vector<Line> touched = dailyRecords();

  // By keys.
  type("1000");
  const std::string two = "2";
  ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyDepartment, reinterpret_cast<LPARAM>(two.c_str()));
  type(firstCode);
  press(ui::kVkF1 + 4, true);  // Ctrl+F5: PLU
  EXPECT_EQ(view->Sale().LineCount(), linesByTouch);
  press(ui::kVkEscape);
  type("3000");
  press(ui::kVkReturn);
  EXPECT_FALSE(view->Sale().SaleOpen());
  const std::vector<Line> all = dailyRecords();
  ASSERT_EQ(all.size(), 2 * touched.size());
  for (size_t i = 0; i + 1 < touched.size(); ++i)
    EXPECT_EQ(all[touched.size() + i], touched[i]) << "record " << i;
  EXPECT_EQ(getU16(touched.back().data(), line::kKeyCode), getU16(all.back().data(), line::kKeyCode));
}

TEST_F(TouchTest, OnlyDrawnKeysAnswer) {
  struct Case {
    const char* name;
    int32_t x, y;
  };
  const int32_t h = app->m_nKeyHeight;
  const std::vector<Case> cases = {
      {"beside the sixth column: position 701, the demo's cash key", 650, 30},
      {"after the thirteenth key, in the third row", 150, 2 * h + 30},
      {"the thirteenth key's position 103, where the layout has no key", 50, 2 * h + 30},
  };
  moveKey(makeKeyCode(kKeyTrans1, kTenderCash), 701);
  top->LoadKeys();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t beeps = ui::beepCount();
    click(top->handle(), c.x, c.y);
    EXPECT_GT(ui::beepCount(), beeps);
    EXPECT_EQ(top->Highlight(), -1);
    EXPECT_FALSE(view->Sale().SaleOpen());
  }
  // Hover lights a drawn key and moving off the keys puts it out.
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, 250, 30));
  EXPECT_EQ(top->Highlight(), 2);
  EXPECT_EQ(top->PositionAt(250, 30), 301);
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, 700, 30));
  EXPECT_EQ(top->Highlight(), -1);
  // Key Number 13: three rows, the third with the one key at 103.
  EXPECT_EQ(top->Rows(), 3);
  EXPECT_EQ(CTopView::PositionOfIndex(12), 103);
}

// A panel with more rows than its pane shows a vertical bar beside the keys;
// the wheel, a click on the bar's track and a drag of its thumb scroll it, and
// a touch after scrolling presses the key drawn under the finger.
TEST_F(TouchTest, PanelScrollBar) {
  const int32_t h = app->m_nKeyHeight;
  const auto paneWidth = [&] { return ui::windowRect(top->handle()).width(); };
  app->m_nKeyNumber = 12;  // two rows fit: no bar
  top->LoadKeys();
  ui::processPendingMessages();
  ASSERT_GE(top->clientRect().height(), 2 * h);
  EXPECT_EQ(top->clientRect().width(), paneWidth());

  // Ten rows; department 2, at its preset price, on the last row's first key.
  setDepartment(2, 6, 398);
  moveKey(makeKeyCode(kKeyDepartment, 2), static_cast<uint16_t>(CTopView::PositionOfIndex(54)));
  app->m_nKeyNumber = 60;
  top->LoadKeys();
  ui::processPendingMessages();
  const ui::Rect client = top->clientRect();
  const int32_t bar = paneWidth() - client.width();
  ASSERT_GT(bar, 0);
  EXPECT_EQ(client.height(), ui::windowRect(top->handle()).height()) << "no bar at the bottom: the keys fit across";
  const int32_t most = 10 * h - client.height(), barX = client.width() + bar / 2;
  EXPECT_EQ(top->ScrollY(), 0);

  ASSERT_TRUE(ui::sendWheelInput(top->handle(), -120));
  EXPECT_EQ(top->ScrollY(), h) << "a notch: one key";
  // The track below the thumb: a page, the client's height.
  click(top->handle(), barX, client.height() * 9 / 10);
  EXPECT_EQ(top->ScrollY(), h + client.height());
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(ui::sendWheelInput(top->handle(), -120));
  EXPECT_EQ(top->ScrollY(), most) << "never past the last row";

  // The thumb, at the bottom of the track, dragged to the top.
  const int32_t thumbY = client.height() * 8 / 10;
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, barX, thumbY));
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmLButtonDown, barX, thumbY));
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, barX, thumbY / 2, ui::kMkLButton));
  EXPECT_GT(top->ScrollY(), 0);
  EXPECT_LT(top->ScrollY(), most);
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, barX, 1, ui::kMkLButton));
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmLButtonUp, barX, 1));
  EXPECT_EQ(top->ScrollY(), 0);
  EXPECT_FALSE(view->Sale().SaleOpen()) << "the bar presses no key";

  // Hovering the last visible row's key scrolls it whole into view.
  const int32_t hoverY = client.height() - 5, hoverRow = hoverY / h;
  ASSERT_NE(top->PositionAt(50, hoverY), 0);
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, 50, hoverY));
  EXPECT_EQ(top->Highlight(), hoverRow * 6);
  EXPECT_EQ(top->ScrollY(), std::max(0, (hoverRow + 1) * h - client.height()));

  // Scrolled to the bottom, department 2 is under the finger.
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(ui::sendWheelInput(top->handle(), -120));
  const int32_t keyY = 9 * h - top->ScrollY() + h / 2;
  EXPECT_EQ(top->PositionAt(50, keyY), CTopView::PositionOfIndex(54));
  grab(frame->handle(), "register_panel_scrolled.png");
  click(top->handle(), 50, keyY);
  ASSERT_EQ(view->Sale().LineCount(), 1);
  EXPECT_TRUE(view->Sale().SaleOpen());
}

// A department forbidden in 登録１ picked from the department list is refused
// with the error its key gives, and nothing is written.
TEST_F(TouchTest, PickInAModeThatForbidsTheDepartment) {
  setDepartment(3, 6 | attribute::kNoRegistration1, 500);
  ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyDepartment, reinterpret_cast<LPARAM>("3"));
  const std::string byKey = view->PaneMessage();
  EXPECT_NE(byKey.find(RegErrorText(kErrModeRegister1)), std::string::npos) << byKey;
  ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyFunction,
                  reinterpret_cast<LPARAM>(std::to_string(kFunctionCancelSale).c_str()));

  // 部門一覧選択 without an entry opens the department list.
  const std::string link = std::to_string(kFunctionDepartmentLink);
  ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyFunction, reinterpret_cast<LPARAM>(link.c_str()));
  ASSERT_NE(CDptFrm::Current(), nullptr);
  EXPECT_FALSE(ui::isWindowEnabled(frame->handle()));
  const auto codes = pickerCodes();
  const auto at = std::find(codes.begin(), codes.end(), "3");
  ASSERT_NE(at, codes.end());
  grab(CDptFrm::Current()->handle(), "picker_departments.png");
  touchCell(static_cast<int32_t>(at - codes.begin()));
  EXPECT_EQ(view->PaneMessage(), byKey);
  EXPECT_EQ(view->Sale().LineCount(), 0);
  EXPECT_EQ(CDptFrm::Current(), nullptr);  // refused: the picker closed
  EXPECT_TRUE(ui::isWindowEnabled(frame->handle()));
}

// A department without a price of its own leads to its items; a double
// click closes the picker and gives the main window back.
TEST_F(TouchTest, DepartmentWithoutPriceLeadsToItsItems) {
  const std::string link = std::to_string(kFunctionDepartmentLink);
  ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyFunction, reinterpret_cast<LPARAM>(link.c_str()));
  ASSERT_NE(CDptFrm::Current(), nullptr);
  ASSERT_EQ(CDptFrm::Current()->View()->Kind(), 0);
  touchCell(0);  // 青果, department 1
  ASSERT_NE(CDptFrm::Current(), nullptr);
  EXPECT_EQ(CDptFrm::Current()->View()->Kind(), 1);
  EXPECT_EQ(view->Sale().LineCount(), 0);
  CDptView* picker = CDptFrm::Current()->View();
  const ui::Rect r = picker->CellRect(0);
  ASSERT_TRUE(ui::sendMouseInput(picker->handle(), ui::kWmLButtonDblClk, r.left + 20, r.top + 20));
  ui::processPendingMessages();
  EXPECT_EQ(CDptFrm::Current(), nullptr);
  EXPECT_TRUE(ui::isWindowEnabled(frame->handle()));
  EXPECT_EQ(view->Sale().LineCount(), 0);
}

// Items dragged in the display-order picker keep their new order in the PLU
// table: a new picker after the engine was opened again shows it.
TEST_F(TouchTest, DisplayOrderByDragIsStored) {
  ASSERT_NE(CDptFrm::Open(*app, engine.get(), 1, true, nullptr, nullptr), nullptr);
  const auto before = pickerCodes();
  ASSERT_GE(before.size(), 3u);
  CDptView* picker = CDptFrm::Current()->View();
  const ui::Rect first = picker->CellRect(0), third = picker->CellRect(2);
  HWND h = picker->handle();
  ASSERT_TRUE(ui::sendMouseInput(h, ui::kWmMouseMove, first.left + 20, first.top + 20));
  ASSERT_TRUE(ui::sendMouseInput(h, ui::kWmLButtonDown, first.left + 20, first.top + 20));
  ASSERT_TRUE(ui::sendMouseInput(h, ui::kWmMouseMove, third.left + 20, third.top + 20, ui::kMkLButton));
  ASSERT_TRUE(ui::sendMouseInput(h, ui::kWmLButtonUp, third.left + 20, third.top + 20));
  const std::vector<std::string> expected = {before[1], before[2], before[0]};
  const auto moved = pickerCodes();
  ASSERT_GE(moved.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(moved.begin(), moved.begin() + 3), expected);
  CDptFrm::Current()->Close();
  ui::processPendingMessages();

  // The program starts again.
  top.reset();
  frame.reset();
  engine = std::make_unique<CRegCom>();
  engine->SetDataFolder(folder.string());
  ASSERT_TRUE(open());
  app->m_pRegCom = engine.get();
  ASSERT_NE(CDptFrm::Open(*app, engine.get(), 1, true, nullptr, nullptr), nullptr);
  const auto after = pickerCodes();
  ASSERT_GE(after.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 3), expected);
  EXPECT_EQ(after.size(), before.size());
}

TEST_F(TouchTest, PadSendsTheKeysOfANumericPad) {
  view->OpenTenKeyPad();
  HWND pad = app->m_hTenKeyDlg;
  ASSERT_NE(pad, nullptr);
  // The first time the pad sits in the bottom right corner of the work area.
  ui::Rect work{};
  for (const auto& s : ui::screens())
    if (s.primary) work = s.workArea;
  const ui::Rect at = ui::windowRect(pad);
  EXPECT_EQ(at.right, work.right);
  EXPECT_EQ(at.bottom, work.bottom);
  grab(pad, "ten_key_pad.png");

  touchPadDigits("12");
  touchPad(CTenKeyDlg::kButton00);
  EXPECT_EQ(view->Sale().Entry(), "1200");
  touchPad(CTenKeyDlg::kButtonBack);
  EXPECT_EQ(view->Sale().Entry(), "120");
  touchPad(CTenKeyDlg::kButtonEscape);
  EXPECT_EQ(view->Sale().Entry(), "");

  // It keeps its place for the next time.
  ui::moveWindow(pad, {40, 50, 40 + at.width(), 50 + at.height()});
  ui::destroyWindow(pad);
  app->m_hTenKeyDlg = nullptr;
  EXPECT_EQ(profile().getInt(kSettingsSection, "Ten Key LeftPt", -1), 40);
  EXPECT_EQ(profile().getInt(kSettingsSection, "Ten Key TopPt", -1), 50);
  view->OpenTenKeyPad();
  EXPECT_EQ(ui::windowRect(app->m_hTenKeyDlg).left, 40);
}

TEST_F(TouchTest, PanelScreenshot) {
  // A picture for the first key; the others show their names.
  fs::create_directories(folder / "keys");
  ui::Image picture = ui::Image::blank(90, 40, 0x3080F0);
  ASSERT_TRUE(picture.saveJpeg((folder / "keys" / "KEY101.jpg").string()));
  profile().setString(kSettingsSection, "Image Folder", (folder / "keys").string());
  setDepartment(2, 6, 398);
  top->LoadKeys();
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, 250, 30));
  view->OpenTenKeyPad();
  type("1000");
  grab(frame->handle(), "register_panel.png");
}

TEST_F(TouchTest, PickerWithPictures) {
  // Pictures for two of department 1's three items; the third shows the
  // placeholder.
  const uint32_t colours[] = {0x2040E0, 0x20C0F0};
  int given = 0;
  FileDBHandle t = engine->Table(kPluTable);
  for (int32_t n = 1; n < FileDBRecGetSize(t) && given < 2; ++n) {
    auto r = read(kPluTable, n);
    if (getU16(r.data(), plu::kDepartment.offset) != 1) continue;
    std::string code = getText(r.data(), plu::kCode.offset, plu::kCode.size);
    while (!code.empty() && (code.back() == ' ' || code.back() == '\0')) code.pop_back();
    ASSERT_TRUE(ui::Image::blank(133, 100, colours[given++]).saveJpeg((folder / "Thumbnails" / (code + ".jpg")).string()));
  }
  ASSERT_NE(CDptFrm::Open(*app, engine.get(), 1, false, view->handle(), frame->handle()), nullptr);
  CDptView* picker = CDptFrm::Current()->View();
  EXPECT_TRUE(picker->PictureFound());
  EXPECT_EQ(picker->CellWidth(), 133 + 33);
  EXPECT_EQ(picker->CellHeight(), 100 + 36);
  EXPECT_TRUE(getU16(picker->ItemAt(0).data(), CDptView::kFlags) & CDptView::kHasPicture);
  EXPECT_FALSE(getU16(picker->ItemAt(2).data(), CDptView::kFlags) & CDptView::kHasPicture);
  grab(CDptFrm::Current()->handle(), "picker_pictures.png");
}

// Pictures are found in the register's picture folder even when the
// folder's name is Japanese (code page 932 bytes on disk): the panel's key
// pictures and the picker's item pictures alike.
TEST_F(TouchTest, PicturesInAJapaneseNamedFolder) {
  const std::string name = testing_support::cp932Names().front().name;
  const std::string pictures = folder.string() + "/" + name + "/";
  fs::create_directories(fs::path(pictures));
  app->m_strPicturePath = pictures;
  ASSERT_TRUE(ui::Image::blank(90, 40, 0x3080F0).saveJpeg(pictures + "KEY101.jpg"));
  top->LoadKeys();
  EXPECT_TRUE(top->HasPicture(0));
  EXPECT_FALSE(top->HasPicture(1));

  std::string code;
  FileDBHandle t = engine->Table(kPluTable);
  for (int32_t n = 1; n < FileDBRecGetSize(t) && code.empty(); ++n) {
    auto r = read(kPluTable, n);
    if (getU16(r.data(), plu::kDepartment.offset) == 1) code = getText(r.data(), plu::kCode.offset, plu::kCode.size);
  }
  while (!code.empty() && (code.back() == ' ' || code.back() == '\0')) code.pop_back();
  ASSERT_TRUE(ui::Image::blank(133, 100, 0x2040E0).saveJpeg(pictures + code + ".jpg"));
  ASSERT_NE(CDptFrm::Open(*app, engine.get(), 1, false, view->handle(), frame->handle()), nullptr);
  EXPECT_TRUE(CDptFrm::Current()->View()->PictureFound());
  EXPECT_TRUE(getU16(CDptFrm::Current()->View()->ItemAt(0).data(), CDptView::kFlags) & CDptView::kHasPicture);
}

// The pad floats above the panel and the picker: a touch that lands where
// the pad is (the view holding the mouse still sees it) is the pad's. With
// no pad every point is the view's.
TEST_F(TouchTest, TouchesOverThePadAreThePads) {
  EXPECT_FALSE(app->IsOverTenKeyPad(top->handle(), false, 50, 30));
  view->OpenTenKeyPad();
  HWND pad = app->m_hTenKeyDlg;
  ASSERT_NE(pad, nullptr);
  // The pad over the panel's first key.
  const ui::Point key = ui::clientToScreen(top->handle(), 50, 30);
  const ui::Rect at = ui::windowRect(pad);
  ui::moveWindow(pad, {key.x - 20, key.y - 20, key.x - 20 + at.width(), key.y - 20 + at.height()});
  view->setFocus();
  EXPECT_TRUE(app->IsOverTenKeyPad(top->handle(), false, 50, 30));
  EXPECT_TRUE(app->IsOverTenKeyPad(top->handle(), true, key.x, key.y));
  EXPECT_FALSE(app->IsOverTenKeyPad(top->handle(), false, 550, 30));
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, 50, 30));
  EXPECT_EQ(top->Highlight(), -1);
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmLButtonDown, 50, 30));
  EXPECT_FALSE(view->Sale().SaleOpen());
  // Away from the pad the panel answers.
  ASSERT_TRUE(ui::sendMouseInput(top->handle(), ui::kWmMouseMove, 250, 30));
  EXPECT_EQ(top->Highlight(), 2);
}

// The picker's page keys move by the rows in view, and 4:65 hands the typed
// digits to the register with the quantity key and closes the picker.
TEST_F(TouchTest, PickerPageKeysAndTheQuantityKey) {
  // Enough items in department 1 for several pages.
  std::vector<uint8_t> base = read(kPluTable, 1);
  for (int32_t i = 0; i < 40; ++i) {
    std::vector<uint8_t> r = base;
    const std::string code = "20000000" + std::to_string(10000 + i);
    putText(r.data(), plu::kCode.offset, plu::kCode.size, code.substr(0, 13));
    putU16(r.data(), plu::kDepartment.offset, 1);
    putU16(r.data(), plu::kDisplayOrder.offset, static_cast<uint16_t>(100 + i));
    write(kPluTable, FileDBRecGetSize(engine->Table(kPluTable)), r);
  }
  assignKey(makeKeyCode(kKeyFunction, kFunctionPageUp), keylayout::kVirtual | ui::kVkPrior);
  assignKey(makeKeyCode(kKeyFunction, kFunctionPageDown), keylayout::kVirtual | ui::kVkNext);
  assignKey(makeKeyCode(kKeyFunction, kFunctionQuantity), keylayout::kVirtual | ui::kVkMultiply);
  ASSERT_NE(CDptFrm::Open(*app, engine.get(), 1, false, view->handle(), frame->handle()), nullptr);
  CDptView* picker = CDptFrm::Current()->View();
  ASSERT_EQ(picker->Selection(), 0);
  const int32_t page = std::max(1, picker->clientRect().height() / picker->CellHeight()) * picker->Columns();
  pressPickerKey(makeKeyCode(kKeyFunction, kFunctionPageDown));
  EXPECT_EQ(picker->Selection(), page);
  pressPickerKey(makeKeyCode(kKeyFunction, kFunctionPageUp));
  EXPECT_EQ(picker->Selection(), 0);
  // Page up in the first row: nothing to move to, a beep.
  const uint32_t beeps = ui::beepCount();
  pressPickerKey(makeKeyCode(kKeyFunction, kFunctionPageUp));
  EXPECT_GT(ui::beepCount(), beeps);
  EXPECT_EQ(picker->Selection(), 0);

  // Typed digits and 4:65: the register gets them with its quantity key;
  // kept there, the picker shows its selection again for the item.
  for (char c : std::string("3")) {
    ASSERT_TRUE(ui::sendKeyInput(picker->handle(), static_cast<uint32_t>(c), true, false, false, false));
    ASSERT_TRUE(ui::sendKeyInput(picker->handle(), static_cast<uint32_t>(c), false, false, false, false));
  }
  EXPECT_EQ(picker->Entry(), "3");
  pressPickerKey(makeKeyCode(kKeyFunction, kFunctionQuantity));
  ui::processPendingMessages();
  EXPECT_TRUE(view->Sale().SaleOpen());
  if (CDptFrm::Current()) EXPECT_EQ(picker->Entry(), picker->CodeOf(picker->Selection()));
  else EXPECT_TRUE(ui::isWindowEnabled(frame->handle()));
}

// The wheel over the sales list moves it one row a notch.
TEST_F(TouchTest, WheelMovesTheListARowANotch) {
  setDepartment(2, 6, 100);
  for (int32_t i = 0; i < 30; ++i)
    ui::sendMessage(view->handle(), WM_REG_PANELKEY, kKeyDepartment, reinterpret_cast<LPARAM>("2"));
  ASSERT_GT(view->Sale().LineCount(), 20);
  HWND list = view->ListControl();
  ui::showReportRow(list, 0);
  ui::processPendingMessages();
  ASSERT_EQ(ui::reportTopRow(list), 0);
  ASSERT_TRUE(ui::sendWheelInput(list, -120));
  EXPECT_EQ(ui::reportTopRow(list), 1);
  ASSERT_TRUE(ui::sendWheelInput(list, -120));
  EXPECT_EQ(ui::reportTopRow(list), 2);
  ASSERT_TRUE(ui::sendWheelInput(list, 120));
  EXPECT_EQ(ui::reportTopRow(list), 1);
}

// The display-order picker's right-button menu opens free numbers before an
// item, closes them again and moves an item to a number the clerk types;
// every change is in the PLU table.
TEST_F(TouchTest, DisplayOrderMenuOpensClosesAndMoves) {
  // Department 1's items numbered 1, 2, 3.
  std::vector<int32_t> records;
  FileDBHandle t = engine->Table(kPluTable);
  for (int32_t n = 1; n < FileDBRecGetSize(t); ++n)
    if (getU16(read(kPluTable, n).data(), plu::kDepartment.offset) == 1) records.push_back(n);
  ASSERT_GE(records.size(), 3u);
  records.resize(3);
  std::vector<std::string> codes;
  for (size_t i = 0; i < records.size(); ++i) {
    auto r = read(kPluTable, records[i]);
    putU16(r.data(), plu::kDisplayOrder.offset, static_cast<uint16_t>(i + 1));
    write(kPluTable, records[i], r);
    std::string code = getText(r.data(), plu::kCode.offset, plu::kCode.size);
    while (!code.empty() && (code.back() == ' ' || code.back() == '\0')) code.pop_back();
    codes.push_back(code);
  }
  auto orderOf = [&](size_t i) { return getU16(read(kPluTable, records[i]).data(), plu::kDisplayOrder.offset); };
  ASSERT_NE(CDptFrm::Open(*app, engine.get(), 1, true, nullptr, nullptr), nullptr);
  CDptView* picker = CDptFrm::Current()->View();
  ASSERT_EQ(pickerCodes(), codes);
  auto hover = [&](int32_t cell) {
    const ui::Rect r = picker->CellRect(cell);
    ASSERT_TRUE(ui::sendMouseInput(picker->handle(), ui::kWmMouseMove, r.left + 20, r.top + 20));
  };
  // The right button on a cell; the menu is kept and answered with `choose`.
  auto menu = [&](int32_t cell, const std::string& choose, const std::string& value) {
    std::vector<ui::PopupItem> shown;
    ui::setPopupMenuAnswerer([&](const std::vector<ui::PopupItem>& items) -> uint32_t {
      shown = items;
      EXPECT_TRUE(ui::grabPopupMenuToPng(items, outputFolder() + "/picker_menu.png"));
      for (const auto& i : items)
        if (!i.separator && i.text == choose && i.enabled) return i.command;
      return 0;
    });
    AnswerDialog answer("表示順の調整", 1543, value);
    const ui::Rect r = picker->CellRect(cell);
    EXPECT_TRUE(ui::sendMouseInput(picker->handle(), ui::kWmRButtonDown, r.left + 20, r.top + 20));
    ui::processPendingMessages();
    ui::setPopupMenuAnswerer({});
    return shown;
  };
  auto enabledOf = [](const std::vector<ui::PopupItem>& items, const std::string& text) {
    for (const auto& i : items)
      if (i.text == text) return i.enabled;
    return false;
  };

  // 空ける: two free numbers before the second item.
  hover(1);
  const auto first = menu(1, "表示順を空ける...", "2");
  EXPECT_TRUE(enabledOf(first, "表示順を空ける..."));
  EXPECT_FALSE(enabledOf(first, "表示順を詰める..."));
  EXPECT_EQ(pickerCodes(), (std::vector<std::string>{codes[0], "", "", codes[1], codes[2]}));
  EXPECT_EQ(orderOf(1), 4);
  EXPECT_EQ(orderOf(2), 5);
  grab(CDptFrm::Current()->handle(), "picker_display_order.png");

  // 詰める: one of them closed again.
  hover(3);
  const auto second = menu(3, "表示順を詰める...", "1");
  EXPECT_TRUE(enabledOf(second, "表示順を詰める..."));
  EXPECT_EQ(pickerCodes(), (std::vector<std::string>{codes[0], "", codes[1], codes[2]}));
  EXPECT_EQ(orderOf(1), 3);

  // 変える: the last item to number 1; the first moves up behind it.
  hover(3);
  menu(3, "表示順を変える...", "1");
  EXPECT_EQ(orderOf(2), 1);
  EXPECT_EQ(orderOf(0), 2);
  EXPECT_EQ(orderOf(1), 4);
  EXPECT_EQ(pickerCodes(), (std::vector<std::string>{codes[2], codes[0], "", codes[1]}));
}

}  // namespace
