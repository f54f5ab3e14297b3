// The registration screen driven by real key events in the offscreen
// platform on the demo shop: the sale of one department item paid in cash,
// the entry register, the checks that refuse keys (nothing written), the
// end of a sale and an interrupted sale taken over at the next start.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/register/demo_project.h"
#include "app/register/engine/journal.h"
#include "app/register/engine/records.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/bottom_view.h"
#include "platform/base/message_box.h"
#include "platform/base/profile.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/frame.h"
#include "platform/ui/input.h"
#include "platform/ui/resources.h"
#include "support/pdf_tools.h"
#include "zemta/date.h"
#include "zemta/filedb.h"

namespace {

using namespace varnex::reg;
namespace fs = std::filesystem;
namespace ui = platform::ui;
using Line = std::vector<uint8_t>;

std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string outputFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  fs::path folder = fs::path(data ? data : "/tmp") / "reg_view";
  fs::create_directories(folder);
  return folder.string();
}

// The registration frame's two menus (sale open, idle), as the shell's
// resources will give them.
void loadMenus() {
  static bool loaded = [] {
    return ui::loadResourceText(utf8(u8R"(
MENU 122
  POPUP "登録"
    ITEM 32800 "レシート発行"
    ITEM 57607 "レシート再発行"
  END
END
MENU 126
  POPUP "取引"
    ITEM 32792 "取消"
    ITEM 32796 "クリア"
  END
END
)"));
  }();
  ASSERT_TRUE(loaded);
}

class RegViewTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    loadMenus();
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection(kSettingsSection);
    profile.setInt(kSettingsSection, "Tax Detail", 0);
    // The store manager: every right, no questions.
    engine->SetManager(read(kClerkTable, 0).data());
    // Outer tax rounded half away from zero.
    auto settingsRecord = read(kSettingsTable, 0);
    putU16(settingsRecord.data(), settings::kTaxWord, 1);
    write(kSettingsTable, 0, settingsRecord);
    // Department 1 at the standard rate (10 %), six digits at most.
    setDepartment(1, 6 | attribute::kPointTarget);
    ASSERT_EQ(engine->ReloadSettings(), 0);

    app = std::make_unique<varnex::shell::CREGApp>();
    app->m_pRegCom = engine.get();
    app->SetPrintEngine(engine.get());
    app->LoadReceiptSettings();
    app->LoadPrinterSettings();
    ASSERT_EQ(app->m_bPrinterReady, 1);

    frame = std::make_unique<ui::Frame>("RegFrame", "登録１", ui::Rect{0, 0, 800, 600});
    frame->setMenu(kIdleMenu);
    makeView(7);
  }

  void TearDown() override {
    frame.reset();
    app.reset();
    ui::processPendingMessages();
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }

  void makeView(int32_t viewMode) {
    auto made = std::make_unique<CRegView>(engine.get(), app.get(), viewMode);
    CRegView::Host host;
    host.setMenus = [this](int32_t id) { frame->setMenu(id); };
    made->SetHost(std::move(host));
    view = static_cast<CRegView*>(frame->setView(std::move(made)));
    ASSERT_NE(view, nullptr);
    if (!bottom) {
      HWND pane = frame->addPane(0xE801, ui::DockSide::Bottom, 150);
      bottom = std::make_unique<varnex::shell::CBottomView>();
      bottom->m_pRegCom = engine.get();
      bottom->create(pane);
    }
    view->SetBottomView(bottom.get());
    ui::showWindow(frame->handle(), true);
    ui::processPendingMessages();
    view->setFocus();
  }

  void setDepartment(int32_t record, uint16_t attributes, int32_t preset = 0) {
    auto d = read(kDepartmentTable, record);
    putU16(d.data(), department::kAttributes.offset, attributes);
    putI32(d.data(), department::kUnitPrice.offset, preset);
    write(kDepartmentTable, record, d);
  }

  // A key typed on the keyboard, through the input filter.
  void press(uint32_t virtualKey) {
    ASSERT_TRUE(ui::sendKeyInput(view->handle(), virtualKey, true, false, false, false));
    ASSERT_TRUE(ui::sendKeyInput(view->handle(), virtualKey, false, false, false, false));
  }
  void type(const std::string& digits) {
    for (char c : digits) press(static_cast<uint32_t>(c));
  }
  // A touch key of the key panel.
  LRESULT panel(uint16_t type, uint16_t code) {
    const std::string text = std::to_string(code);
    return ui::sendMessage(view->handle(), WM_REG_PANELKEY, type, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void department(uint16_t number) { panel(kKeyDepartment, number); }
  void cash() { press(ui::kVkReturn); }

  std::vector<Line> dailyRecords() {
    std::vector<Line> lines;
    FileDBHandle file = engine->PrfOpen(3, nullptr);
    if (!file) return lines;
    const int32_t count = FileDBRecGetSize(file);
    for (int32_t n = 0; n < count; ++n) {
      Line l(line::kSize);
      EXPECT_EQ(FileDBRecRead(file, n, l.data()), 0);
      lines.push_back(l);
    }
    FileDBDelete(file);
    return lines;
  }
  std::vector<Line> blockLines() {
    std::vector<Line> lines;
    for (int32_t n = 0; n < view->Sale().LineCount(); ++n) {
      Line l(line::kSize);
      EXPECT_TRUE(view->Sale().ReadLine(n, l.data()));
      lines.push_back(l);
    }
    return lines;
  }
  // The program ends with its sale's file left on disk, written before the
  // next start: the file system's clock ticks coarsely, so a file written a
  // moment ago could otherwise carry the start's own time.
  void endProgram() {
    frame->setView(nullptr);
    for (const fs::path& left : temporaryFiles())
      fs::last_write_time(left, fs::last_write_time(left) - std::chrono::seconds(2));
  }
  std::vector<fs::path> temporaryFiles() {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.path().extension() == ".log") found.push_back(e.path());
    return found;
  }
  int32_t departmentAmount(int32_t record) {
    return getI32(read(kDepartmentTable, record).data(), department::kAmount.offset);
  }

  Line departmentLine(int32_t record, int32_t unitPrice, uint16_t flags) {
    const auto d = read(kDepartmentTable, record);
    Line l(line::kSize, 0);
    std::memcpy(l.data(), d.data(), line::kDisplayNameLen + line::kPrintNameLen);
    putU16(l.data(), line::kFlags, flags);
    putU16(l.data(), line::kKeyCode, makeKeyCode(kKeyDepartment, static_cast<uint16_t>(record)));
    putI32(l.data(), line::kUnit, 1);
    putI32(l.data(), line::kUnitPrice, unitPrice);
    putI32(l.data(), line::kPrice, unitPrice);
    return l;
  }
  Line systemLine(uint16_t kind, int32_t amount) {
    Line l(line::kSize, 0);
    app->MakeSystemLine(l.data(), kind, amount, 0);
    return l;
  }
  Line cashLine(int32_t amount) {
    const auto k = read(kTrans1Table, 0);
    Line l(line::kSize, 0);
    std::memcpy(l.data(), k.data(), line::kDisplayNameLen + line::kPrintNameLen);
    putU16(l.data(), line::kFlags, line::kDouble);
    putU16(l.data(), line::kKeyCode, makeKeyCode(kKeyTrans1, kTenderCash));
    putI32(l.data(), line::kPrice, amount);
    return l;
  }

  void grab(const std::string& name) {
    bottom->invalidate();
    view->invalidate();
    ui::processPendingMessages();
    EXPECT_TRUE(ui::grabWindowToPng(frame->handle(), outputFolder() + "/" + name));
  }

  std::unique_ptr<varnex::shell::CREGApp> app;
  std::unique_ptr<ui::Frame> frame;
  std::unique_ptr<varnex::shell::CBottomView> bottom;
  CRegView* view = nullptr;
};

TEST_F(RegViewTest, CashSaleOfOneDepartmentItem) {
  const int32_t before = departmentAmount(1);
  type("1000");
  EXPECT_EQ(view->Sale().Entry(), "1000");
  EXPECT_EQ(frame->currentMenu(), kSaleMenu);
  department(1);
  EXPECT_EQ(view->PaneAmount(), 1100);
  EXPECT_EQ(view->PaneItems(), 1);
  grab("reg_sale_open.png");
  type("2000");
  cash();

  Line total(line::kSize, 0);
  CRegCom::BuildTotalLine(total.data(), 0, 0, 0, 1);
  const std::vector<Line> expected = {departmentLine(1, 1000, line::kPointTarget), total, systemLine(kLineTax, 100),
                                      systemLine(kLineSubtotal, 1100), cashLine(2000), systemLine(kLineChange, 900)};
  const auto lines = blockLines();
  ASSERT_EQ(lines.size(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i;
  EXPECT_EQ(getU16(lines.back().data(), line::kKeyCode), 0xF0C3);

  // The day's file holds the sale as the screen shows it.
  const auto daily = dailyRecords();
  ASSERT_EQ(daily.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(daily[i], lines[i]) << "record " << i;
  EXPECT_EQ(getU32(daily.back().data(), line::kPrice) & 0xFFFF, 1u);
  EXPECT_EQ(departmentAmount(1), before + 1000);
  EXPECT_TRUE(temporaryFiles().empty());

  // The receipt, the change on the message line and the idle menus.
  ASSERT_FALSE(app->LastPrintFile().empty());
  const std::string receipt = testing_support::pdfText(app->LastPrintFile());
  EXPECT_NE(receipt.find(utf8(u8"青果")), std::string::npos) << receipt;
  EXPECT_NE(receipt.find("900"), std::string::npos) << receipt;
  EXPECT_NE(view->PaneMessage().find("９００"), std::string::npos) << view->PaneMessage();
  EXPECT_EQ(view->CurrentMenu(), kIdleMenu);
  EXPECT_EQ(frame->currentMenu(), kIdleMenu);
  EXPECT_FALSE(view->Sale().SaleOpen());
  grab("reg_sale_done.png");
}

TEST_F(RegViewTest, EntryKeepsTheLastThirteenDigits) {
  type("12345678901234");
  EXPECT_EQ(view->Sale().Entry(), "2345678901234");
  EXPECT_EQ(view->Sale().LineCount(), 0);
}

TEST_F(RegViewTest, DepartmentWithoutPriceOrEntry) {
  // (A department of the picker's list would open its items instead.)
  auto d = read(kDepartmentTable, 1);
  putU16(d.data(), department::kListSelect.offset, 0);
  write(kDepartmentTable, 1, d);
  const uint32_t beeps = ui::beepCount();
  type("5");
  panel(kKeyFunction, kFunctionClear);
  department(1);
  EXPECT_EQ(view->PaneMessage(), "置数がありません。先ず置数を入力して下さい。");
  EXPECT_GT(ui::beepCount(), beeps);
  EXPECT_EQ(view->Sale().LineCount(), 0);
}

// A code of 13 digits (a scan or a PLU code the register refused) stays in
// the entry; the keys that edit the entry still take it away.
TEST_F(RegViewTest, LongEntryCanBeEditedAndCleared) {
  type("4912345000019");
  press(ui::kVkBack);
  EXPECT_EQ(view->Sale().Entry(), "491234500001");
  press(ui::kVkEscape);
  EXPECT_EQ(view->Sale().Entry(), "");
}

TEST_F(RegViewTest, DigitLimitOfTheDepartment) {
  setDepartment(1, 4);
  type("12345");
  department(1);
  EXPECT_NE(view->PaneMessage().find("置数が桁制限をオーバーしています。入力は拒否されました。"), std::string::npos);
  EXPECT_EQ(view->Sale().Entry(), "12345");  // left for the clerk to see and clear
  EXPECT_EQ(view->Sale().LineCount(), 0);
  panel(kKeyFunction, kFunctionClear);
  type("1234");
  department(1);
  ASSERT_EQ(view->Sale().LineCount(), 1);
  EXPECT_EQ(getI32(blockLines()[0].data(), line::kUnitPrice), 1234);
}

// A department named by its number: without a price it waits for its
// amount (4:61), or for its price after 売価変更 (4:67).
TEST_F(RegViewTest, DepartmentLinkWaitsForItsAmount) {
  type("2");
  panel(kKeyFunction, kFunctionDepartmentLink);
  EXPECT_EQ(view->Sale().LineCount(), 0);
  EXPECT_TRUE(view->Sale().Entry().empty());
  type("300");
  panel(kKeyFunction, kFunctionLinkAmount);
  panel(kKeyFunction, kFunctionPriceChange);
  EXPECT_EQ(view->StatusText(), "売価変更");
  type("1");
  panel(kKeyFunction, kFunctionDepartmentLink);
  type("250");
  panel(kKeyFunction, kFunctionPriceChange);
  const auto lines = blockLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(getU16(lines[0].data(), line::kKeyCode), makeKeyCode(kKeyDepartment, 2));
  EXPECT_EQ(getI32(lines[0].data(), line::kPrice), 300);
  EXPECT_EQ(getU16(lines[1].data(), line::kKeyCode), makeKeyCode(kKeyDepartment, 1));
  EXPECT_EQ(getI32(lines[1].data(), line::kPrice), 250);
  EXPECT_TRUE(view->StatusText().empty());
  // No department behind the number.
  type("99");
  panel(kKeyFunction, kFunctionDepartmentLink);
  EXPECT_NE(view->PaneMessage().find(RegErrorText(kErrUnknownDepartmentLink)), std::string::npos);
}

// An entry of 13 digits times a quantity is worked out in 64 bits: what the
// line's fields cannot hold is refused, never wrapped into a small amount.
TEST_F(RegViewTest, EntryTimesQuantityBeyondTheLineFields) {
  panel(kKeyFunction, kFunctionDigitRelease);
  type("3");
  panel(kKeyFunction, kFunctionQuantity);
  type("1431655766");  // x 3 = 4,294,967,298: 2 after wrapping to 32 bits
  department(1);
  EXPECT_NE(view->PaneMessage().find(RegErrorText(kErrDigitLimit)), std::string::npos);
  EXPECT_EQ(view->Sale().LineCount(), 0);
}

TEST_F(RegViewTest, RefusalsWriteNothing) {
  setDepartment(2, 6 | attribute::kNoPriceOverride);
  setDepartment(3, 6 | attribute::kNoRegistration1);
  struct Row {
    const char* name;
    std::function<void()> before;
    std::function<void()> key;
    int32_t error;
  };
  const std::vector<Row> rows = {
      {"entry where none may be", [&] { type("5"); }, [&] { panel(kKeyFunction, kFunctionDigitRelease); }, 103},
      {"no entry where one is needed", [] {}, [&] { panel(kKeyFunction, kFunctionPersons); }, 104},
      {"digit limit", [&] { type("1234567"); }, [&] { department(1); }, 106},
      {"price not to be overridden", [&] { type("100"); }, [&] { department(2); }, 105},
      {"no line to act on", [&] { type("10"); }, [&] { panel(kKeyTrans2, kTrans2AmountDiscount); }, 202},
      {"after a tender", [&] { type("1000"); department(1); type("500"); cash(); type("100"); },
       [&] { department(1); }, 107},
      {"quantity pending at a tender", [&] { type("1000"); department(1); type("3"); panel(kKeyFunction, kFunctionQuantity); },
       [&] { cash(); }, 109},
      {"non-taxable pending", [&] { type("1000"); department(1); panel(kKeyFunction, kFunctionNonTaxable); },
       [&] { panel(kKeyFunction, kFunctionSubtotal); }, 122},
      {"key for before a sale", [&] { type("1000"); department(1); }, [&] { panel(kKeyFunction, kFunctionTenKeyPad); },
       205},
      {"cancel without a sale", [] {}, [&] { panel(kKeyFunction, kFunctionCancelSale); }, 206},
      {"tender of an empty sale", [&] { type("1"); panel(kKeyFunction, kFunctionClear); }, [&] { cash(); }, 206},
      {"department forbidden in 登録１", [&] { type("100"); }, [&] { department(3); }, 101},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.before();
    const int32_t lines = view->Sale().LineCount();
    const int32_t records = view->Sale().SaleOpen() ? FileDBRecGetSize(view->Sale().TemporaryFile()) : 0;
    const std::string entry = view->Sale().Entry();
    row.key();
    EXPECT_NE(view->PaneMessage().find(RegErrorText(row.error)), std::string::npos)
        << row.error << ": " << view->PaneMessage();
    EXPECT_EQ(view->Sale().LineCount(), lines);
    if (view->Sale().SaleOpen()) {
      EXPECT_EQ(FileDBRecGetSize(view->Sale().TemporaryFile()), records);
    }
    EXPECT_EQ(view->Sale().Entry(), entry);
    // The next row starts without a sale.
    panel(kKeyFunction, kFunctionCancelSale);
    EXPECT_FALSE(view->Sale().SaleOpen());
  }
}

// A write that fails part-way leaves the block, the file, the list and the
// line count as they were, and the key shows error 1.
TEST_F(RegViewTest, FailedWriteKeepsBlockFileListAndCountInStep) {
  type("1000");
  department(1);
  ASSERT_EQ(view->Sale().LineCount(), 1);
  const int32_t rows = ui::listItemCount(view->ListControl());
  // The temporary file is lost under the sale.
  FileDBCloseEx(view->Sale().TemporaryFile());
  FileDBDelete(view->Sale().TemporaryFile());
  type("500");
  department(1);
  EXPECT_EQ(view->PaneMessage().find(RegErrorText(kErrBadHandle)) != std::string::npos, true) << view->PaneMessage();
  EXPECT_EQ(view->Sale().LineCount(), 1);
  EXPECT_EQ(SeekMemory(view->Sale().LineBlock(), 0, MEMORY_SEEK_END), static_cast<int32_t>(line::kSize));
  EXPECT_EQ(ui::listItemCount(view->ListControl()), rows);
  EXPECT_EQ(view->PaneAmount(), 1100);
}

// The total and tax lines come once per sale, also after a tender of 0.
TEST_F(RegViewTest, TotalAndTaxLinesOncePerSale) {
  type("1000");
  department(1);
  type("0");
  cash();
  const int32_t afterFirst = view->Sale().LineCount();
  type("500");
  cash();
  EXPECT_EQ(view->Sale().LineCount(), afterFirst + 1);  // the tender line only
  int32_t totals = 0;
  for (const Line& l : blockLines())
    if (keyType(getU16(l.data(), line::kKeyCode)) == kKeySeparator) ++totals;
  EXPECT_EQ(totals, 1);
  EXPECT_TRUE(view->Sale().SaleOpen());
}

// A non-taxable line gets no tax added to its price, whatever the settings.
TEST_F(RegViewTest, NonTaxableLineGetsNoTaxAdded) {
  auto s = read(kSettingsTable, 0);
  putU16(s.data(), settings::kTaxWord, static_cast<uint16_t>(1 | 0x100 | (1 << 6)));
  write(kSettingsTable, 0, s);
  ASSERT_EQ(engine->ReloadSettings(), 0);
  CRegSale sale(engine.get(), app.get(), nullptr, 7);
  struct Case {
    uint16_t attributes;
    int32_t unitPrice;
  } cases[] = {{0, 1100}, {attribute::kNonTaxable, 1000}, {attribute::kInnerTax, 1000}};
  for (const Case& c : cases) {
    // The line being built holds a unit price of 1000.
    uint8_t* current = const_cast<uint8_t*>(sale.CurrentLine());
    putI32(current, line::kUnit, 0);
    putI32(current, line::kUnitPrice, 1000);
    uint16_t attributes = c.attributes;
    sale.ApplyTaxToUnitPrice(&attributes);
    EXPECT_EQ(getI32(current, line::kUnitPrice), c.unitPrice) << c.attributes;
    EXPECT_EQ(getI32(current, line::kPrice), c.unitPrice);
  }
}

// An interrupted sale is offered at the next start, and completes to the
// same records as one that was never interrupted.
TEST_F(RegViewTest, InterruptedSaleResumesToTheSameRecords) {
  auto sale = [&](bool interrupt) {
    type("1000");
    department(1);
    type("500");
    department(5);
    if (interrupt) {
      // The program ends with two lines on disk.
      endProgram();
      ASSERT_EQ(temporaryFiles().size(), 1u);
      makeView(7);
      boxes->answer(platform::kIdYes);
      ASSERT_EQ(view->ResumeInterruptedSale(), 1);
      EXPECT_EQ(view->Sale().LineCount(), 2);
      EXPECT_EQ(ui::listItemCount(view->ListControl()), 3);
    }
    type("2000");
    cash();
  };
  sale(false);
  const size_t first = dailyRecords().size();
  sale(true);
  const auto daily = dailyRecords();
  ASSERT_EQ(daily.size(), 2 * first);
  for (size_t i = 0; i + 1 < first; ++i) EXPECT_EQ(daily[first + i], daily[i]) << "record " << i;
  EXPECT_TRUE(temporaryFiles().empty());
}

// A sale taken over at start is still checked against the rights of the
// manager now signed on: a manager without refunds cannot go on with one.
TEST_F(RegViewTest, ResumedRefundAsksForTheManagersRights) {
  frame->setView(nullptr);
  makeView(5);
  type("1000");
  department(1);
  ASSERT_EQ(view->Sale().LineCount(), 1);
  endProgram();
  auto manager = read(kClerkTable, 0);
  putU16(manager.data(), clerk::kForbiddenModes, kForbidRefund);
  engine->SetManager(manager.data());
  // A registration screen leaves it alone: it is no sale of its mode.
  makeView(7);
  boxes->answer(platform::kIdYes);
  EXPECT_EQ(view->ResumeInterruptedSale(), 0);
  EXPECT_EQ(view->Sale().ModeCode(), kModeRegister1);
  ASSERT_EQ(temporaryFiles().size(), 1u);
  makeView(5);
  boxes->answer(platform::kIdYes);
  ASSERT_EQ(view->ResumeInterruptedSale(), 1);
  EXPECT_EQ(view->Sale().ModeCode(), kModeRefund);
  boxes->clear();
  type("500");
  department(1);
  ASSERT_GE(boxes->count(), 1u);
  EXPECT_NE(boxes->shown()[0].text.find("権限がありません"), std::string::npos);
  EXPECT_FALSE(view->Sale().SaleOpen());  // the refused key cancelled the sale
  EXPECT_TRUE(temporaryFiles().empty());
}

}  // namespace
