// The reading views on a demo shop whose day was rung up by the key path of
// the registration screen: X and Z readings of departments line by line, the
// fixed totalizers and the card terminal's sequence, the cash count's keys
// and its finish question, a Z reading whose commit fails part-way, and the
// totals of a day of scripted sales after the settlement.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/register/demo_project.h"
#include "app/register/engine/records.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/message_box.h"
#include "platform/base/profile.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/frame.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "zemta/filedb.h"

namespace {

using namespace varnex::reg;
namespace fs = std::filesystem;
namespace ui = platform::ui;
using Line = std::vector<uint8_t>;

class ReadingsTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection(kSettingsSection);
    engine->SetManager(read(kClerkTable, 0).data());
    ASSERT_EQ(engine->ReloadSettings(), 0);
    app = std::make_unique<varnex::shell::CREGApp>();
    app->m_pRegCom = engine.get();
    app->SetPrintEngine(engine.get());
    app->LoadReceiptSettings();
    app->LoadPrinterSettings();
    ASSERT_EQ(app->m_bPrinterReady, 1);
    frame = std::make_unique<ui::Frame>("ReadingFrame", "点検", ui::Rect{0, 0, 800, 600});
    ui::showWindow(frame->handle(), true);
  }
  void TearDown() override {
    frame.reset();
    app.reset();
    ui::processPendingMessages();
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }

  // A view of the mode in the frame, set up as its mode frame does it.
  void openView(int32_t viewMode) {
    auto made = std::make_unique<CRegView>(engine.get(), app.get(), viewMode);
    view = static_cast<CRegView*>(frame->setView(std::move(made)));
    ASSERT_NE(view, nullptr);
    ui::processPendingMessages();
    static_cast<ui::View*>(view)->onInitialUpdate();
    view->setFocus();
  }
  LRESULT panel(uint16_t type, uint16_t code) {
    const std::string text = std::to_string(code);
    return ui::sendMessage(view->handle(), WM_REG_PANELKEY, type, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void key(uint16_t code) { panel(kKeyFunction, code); }
  void type(const std::string& digits) {
    for (char c : digits) {
      ASSERT_TRUE(ui::sendKeyInput(view->handle(), static_cast<uint32_t>(c), true, false, false, false));
      ASSERT_TRUE(ui::sendKeyInput(view->handle(), static_cast<uint32_t>(c), false, false, false, false));
    }
  }
  // One sale rung up on the registration screen: items of (department,
  // price) paid in cash.
  void sale(const std::vector<std::pair<uint16_t, int32_t>>& items) {
    if (!view || view->Sale().ViewMode() != 7) openView(7);
    for (const auto& [department, price] : items) {
      type(std::to_string(price));
      panel(kKeyDepartment, department);
    }
    type("99999");  // paid in cash
    ASSERT_TRUE(ui::sendKeyInput(view->handle(), ui::kVkReturn, true, false, false, false));
    ASSERT_FALSE(view->Sale().SaleOpen());
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
  // The tables (and their indexes) as bytes: everything but the journals and
  // the printed receipts.
  std::map<std::string, std::string> tables() {
    auto files = varnex_test::snapshot(folder);
    for (auto it = files.begin(); it != files.end();) {
      const std::string& name = it->first;
      const bool journal = name.size() > 4 && (name.substr(name.size() - 4) == ".prf" || name.substr(name.size() - 4) == ".log" ||
                                                   name.substr(name.size() - 4) == ".jnl");
      if (journal || name.rfind("receipts", 0) == 0)
        it = files.erase(it);
      else
        ++it;
    }
    return files;
  }
  void setStepWords(const std::vector<uint16_t>& words) {
    auto s = read(kSettingsTable, 0);
    for (int i = 0; i < 8; ++i)
      putU16(s.data(), settings::kReportKind1.offset + 2 * i, i < static_cast<int>(words.size()) ? words[i] : 0);
    write(kSettingsTable, 0, s);
  }
  Line itemLine(int32_t record, int32_t tableTotal) {
    const auto d = read(kDepartmentTable, record);
    Line l(line::kSize, 0);
    std::memcpy(l.data(), d.data(), 36);
    putU16(l.data(), line::kKeyCode, makeKeyCode(kKeyReportItem, getU16(d.data(), department::kNumber.offset)));
    putI32(l.data(), line::kUnit, getI32(d.data(), department::kCount.offset));
    putI32(l.data(), line::kUnitPrice, tableTotal);
    putI32(l.data(), line::kPrice, getI32(d.data(), department::kAmount.offset));
    return l;
  }
  Line label(uint16_t code, int32_t value) {
    Line l(line::kSize, 0);
    app->MakeSystemLine(l.data(), code, value, 0);
    return l;
  }
  std::string grabAs(const std::string& name) {
    view->invalidate();
    ui::processPendingMessages();
    const std::string path = (fs::path(VARNEX_TEST_OUTPUT_DIR) / name).string();
    fs::create_directories(VARNEX_TEST_OUTPUT_DIR);
    EXPECT_TRUE(ui::grabWindowToPng(frame->handle(), path));
    return path;
  }

  // Departments 1 and 2 sold three times: 2 x 1,000 and 500.
  void ringUpThreeItems() {
    sale({{1, 1000}});
    sale({{1, 1000}, {2, 500}});
  }
  // The department lines of a reading of the three items, from its heading
  // to the sums.
  std::vector<Line> expectedDepartmentLines(int32_t xFlag) {
    std::vector<Line> expected(1, Line(line::kSize, 0));
    engine->BuildReportHeader(expected[0].data(), kReportDepartments, 0, xFlag);
    expected.push_back(itemLine(1, 2500));
    expected.push_back(itemLine(2, 2500));
    Line separator(line::kSize, 0);
    CRegCom::BuildTotalLine(separator.data(), kReportDepartments, 0, 0, 0);
    expected.push_back(separator);
    expected.push_back(label(kLineCount, 3));
    expected.push_back(label(kLineSales, 2500));
    return expected;
  }

  std::unique_ptr<varnex::shell::CREGApp> app;
  std::unique_ptr<ui::Frame> frame;
  CRegView* view = nullptr;
};

TEST_F(ReadingsTest, XReadingOfDepartmentsChangesNoTable) {
  ringUpThreeItems();
  const auto expected = expectedDepartmentLines(1);
  const auto before = tables();
  const size_t dailyBefore = dailyRecords().size();
  openView(31);
  const auto lines = blockLines();
  ASSERT_EQ(lines.size(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i;
  EXPECT_EQ(getU16(lines.back().data(), line::kKeyCode), closingKey(kModeXReading));
  // Journaled beside the sales, printed, and not a byte of a table changed.
  const auto daily = dailyRecords();
  ASSERT_EQ(daily.size(), dailyBefore + lines.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(daily[dailyBefore + i], lines[i]) << "record " << i;
  EXPECT_FALSE(app->LastPrintFile().empty());
  EXPECT_EQ(tables(), before);
  // Heading, six lines, an empty row, the closing record.
  EXPECT_EQ(ui::listItemCount(view->ListControl()), static_cast<int32_t>(lines.size()) + 1);
  grabAs("reading_x_departments.png");
}

TEST_F(ReadingsTest, ZReadingOfDepartmentsResetsThemAndNothingElse) {
  ringUpThreeItems();
  const auto expected = expectedDepartmentLines(0);
  const auto groupsBefore = read(kGroupTable, 1);
  const auto cashBefore = read(kTrans1Table, 0);
  openView(39);
  const auto lines = blockLines();
  ASSERT_EQ(lines.size(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i;
  EXPECT_EQ(getU16(lines.back().data(), line::kKeyCode), closingKey(kModeSettlement));
  EXPECT_EQ(getU16(dailyRecords().back().data(), line::kKeyCode), closingKey(kModeSettlement));
  for (int32_t r = 0; r <= 6; ++r) {
    const auto d = read(kDepartmentTable, r);
    EXPECT_EQ(getI32(d.data(), department::kCount.offset), 0) << "department record " << r;
    EXPECT_EQ(getI32(d.data(), department::kAmount.offset), 0) << "department record " << r;
  }
  // Groups and keys are other readings' to reset.
  EXPECT_EQ(read(kGroupTable, 1), groupsBefore);
  EXPECT_EQ(read(kTrans1Table, 0), cashBefore);
  // A second Z reading of the day numbers itself 2.
  openView(39);
  EXPECT_EQ(getI32(blockLines()[0].data(), line::kPrice), 2);
}

// The card terminal's sequence starts again with a Z reading of the fixed
// totalizers only; the X reading changes nothing.
TEST_F(ReadingsTest, FixedTotalizersAndTheTerminalSequence) {
  ringUpThreeItems();
  auto& profile = platform::Profile::of(platform::ProfileScope::User);
  profile.setInt(kSettingsSection, "JET Sequence Number", 57);
  app->m_nJetSequenceNumber = 57;
  openView(36);
  EXPECT_EQ(profile.getInt(kSettingsSection, "JET Sequence Number", 0), 57);
  EXPECT_EQ(app->m_nJetSequenceNumber, 57);
  // Two customers, three items: the average line before slot 5.
  bool average = false;
  for (const Line& l : blockLines())
    if (getU16(l.data(), line::kKeyCode) == makeKeyCode(kKeyReportTotal, kFunctionPersons)) {
      average = true;
      EXPECT_EQ(getI32(l.data(), line::kUnit), 150);  // 1.50 items a customer
      EXPECT_EQ(getI32(l.data(), line::kPrice), getI32(read(kFixedTotalTable, 0).data(), fixedtotal::kAmount.offset) / 2);
    }
  EXPECT_TRUE(average);
  openView(44);
  EXPECT_EQ(profile.getInt(kSettingsSection, "JET Sequence Number", 0), 1);
  EXPECT_EQ(app->m_nJetSequenceNumber, 1);
  EXPECT_EQ(getI32(read(kFixedTotalTable, 0).data(), fixedtotal::kAmount.offset), 0);
}

TEST_F(ReadingsTest, CashCountKeysAndTheFinishQuestion) {
  openView(37);
  CRegSale& count = view->Sale();
  ASSERT_TRUE(count.CashCountOpen());
  const int32_t first = count.LineCount() - 13;
  EXPECT_EQ(count.CountCursor(), first);  // the 10,000-yen row
  EXPECT_EQ(view->StatusText(), "枚数を入力して下さい");
  grabAs("reading_cash_count_open.png");

  key(kFunctionCursorDown);  // the 5,000-yen row
  type("3");
  Line l(line::kSize);
  ASSERT_TRUE(count.ReadLine(first + 1, l.data()));
  EXPECT_EQ(getI32(l.data(), line::kUnit), 3);
  EXPECT_EQ(getI32(l.data(), line::kPrice), 15000);
  ASSERT_TRUE(count.ReadLine(count.LineCount() - 2, l.data()));  // 合計
  EXPECT_EQ(getI32(l.data(), line::kPrice), 15000);
  ASSERT_TRUE(count.ReadLine(count.LineCount() - 1, l.data()));  // 差引残高
  EXPECT_EQ(getI32(l.data(), line::kPrice), 15000);
  EXPECT_NE(ui::reportCell(view->ListControl(), first + 1, 2).find("１５，０００"), std::string::npos)
      << ui::reportCell(view->ListControl(), first + 1, 2);

  // Five digits on a denomination row; the sixth beeps and changes nothing.
  type("0000");
  const uint32_t beeps = ui::beepCount();
  type("1");
  EXPECT_GT(ui::beepCount(), beeps);
  ASSERT_TRUE(count.ReadLine(first + 1, l.data()));
  EXPECT_EQ(getI32(l.data(), line::kUnit), 30000);
  for (int i = 0; i < 4; ++i) key(kFunctionBackspace);
  ASSERT_TRUE(count.ReadLine(first + 1, l.data()));
  EXPECT_EQ(getI32(l.data(), line::kUnit), 3);
  grabAs("reading_cash_count.png");

  // Down to the cheque row, which takes nine digits, and on to the question.
  for (int i = 0; i < 9; ++i) key(kFunctionCursorDown);
  EXPECT_EQ(count.CountCursor(), first + 10);
  EXPECT_EQ(view->StatusText(), "金額を入力して下さい");
  type("123456789");
  ASSERT_TRUE(count.ReadLine(first + 10, l.data()));
  EXPECT_EQ(getI32(l.data(), line::kPrice), 123456789);
  key(kFunctionClear);
  boxes->answer(platform::kIdNo);
  key(kFunctionCursorDown);
  EXPECT_EQ(boxes->lastText(), "差引残高が \\15,000 あります\n\n現金収支入力を完了してもよろしいですか?");
  EXPECT_EQ(count.CountCursor(), first);
  EXPECT_TRUE(count.CashCountOpen());

  // Back to nothing counted: nothing left to balance.
  key(kFunctionCursorDown);
  type("0");
  for (int i = 0; i < 9; ++i) key(kFunctionCursorDown);
  boxes->answer(platform::kIdYes);
  key(kFunctionCursorDown);
  EXPECT_EQ(boxes->lastText(), "差引残高はありません\n\n現金収支入力を完了してもよろしいですか?");
  EXPECT_FALSE(count.CashCountOpen());
  const auto lines = blockLines();
  ASSERT_EQ(lines.size(), 1u + 12 + 5 + 1);
  EXPECT_EQ(lines[13], label(kLinePreviousBalance, 0));
  EXPECT_EQ(lines[17], label(kLineBalance, 0));
  EXPECT_EQ(getU16(lines.back().data(), line::kKeyCode), closingKey(kModeXReading));
}

// The balance the finish question shows: a minus sign without the yen sign.
TEST_F(ReadingsTest, NegativeBalanceOfTheCount) {
  sale({{1, 1000}});  // 1,000 yen more in the drawer than counted
  openView(37);
  const int32_t first = view->Sale().LineCount() - 13;
  for (int i = 0; i < 10; ++i) key(kFunctionCursorDown);
  EXPECT_EQ(view->Sale().CountCursor(), first + 10);
  boxes->answer(platform::kIdNo);
  key(kFunctionCursorDown);
  EXPECT_EQ(boxes->lastText(), "差引残高が -1,080 あります\n\n現金収支入力を完了してもよろしいですか?");
}

TEST_F(ReadingsTest, EmptySettlementCommitsPrintsAndAsks) {
  setStepWords({});
  boxes->answer(platform::kIdNo);
  openView(46);
  const auto lines = blockLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(getU16(lines[0].data(), line::kKeyCode), closingKey(kModeSettlement));
  EXPECT_FALSE(app->LastPrintFile().empty());
  ASSERT_GE(boxes->count(), 1u);
  EXPECT_EQ(boxes->lastText().rfind("今日も一日お疲れ様でした\n", 0), 0u) << boxes->lastText();
  EXPECT_EQ(app->m_bPowerOffAtExit, 0);
}

// A settlement whose commit fails part-way (a department is renumbered by
// another register while the run waits for the cash count) resets nothing.
TEST_F(ReadingsTest, FailedSettlementResetsNothing) {
  ringUpThreeItems();
  setStepWords({1, 7});
  const size_t dailyBefore = dailyRecords().size();
  openView(46);
  ASSERT_TRUE(view->Sale().CashCountOpen());
  auto d = read(kDepartmentTable, 2);
  putU16(d.data(), department::kNumber.offset, 99);
  write(kDepartmentTable, 2, d);
  auto changed = tables();
  for (int i = 0; i < 10; ++i) key(kFunctionCursorDown);
  boxes->answer(platform::kIdYes);
  key(kFunctionCursorDown);
  ASSERT_GE(boxes->count(), 2u);
  EXPECT_EQ(boxes->shown()[boxes->count() - 2].text.rfind("差引残高が -2,700 あります", 0), 0u);
  EXPECT_EQ(boxes->lastText(), "精算を登録できませんでした\n集計はリセットされていません");
  EXPECT_EQ(tables(), changed);
  EXPECT_EQ(dailyRecords().size(), dailyBefore);
  EXPECT_EQ(getI32(read(kDepartmentTable, 0).data(), department::kAmount.offset), 2500);
}

// A day of scripted sales: the settlement's reports agree with the daily
// file to the yen, and the counters they reported are zero afterwards.
TEST_F(ReadingsTest, SettlementAgreesWithTheDailyFile) {
  for (int i = 0; i < 200; ++i)
    sale({{static_cast<uint16_t>(1 + i % 6), 100 + 7 * i}, {static_cast<uint16_t>(1 + (i * 5) % 6), 50 + i % 13}});
  // What the daily file holds: item amounts and sale totals of the sales.
  int64_t items = 0, itemCount = 0, sales = 0;
  for (const Line& l : dailyRecords()) {
    if (keyType(getU16(l.data(), line::kKeyCode)) == kKeyDepartment) {
      items += getI32(l.data(), line::kPrice);
      itemCount += getI32(l.data(), line::kUnit);
    }
    if (getU16(l.data(), line::kKeyCode) == closingKey(kModeRegister1)) ++sales;
  }
  EXPECT_EQ(sales, 200);
  setStepWords({1, 6});
  boxes->answer(platform::kIdCancel);
  openView(46);
  int64_t reportedItems = -1, reportedCount = -1, reportedCustomers = -1, reportedItemCount = -1;
  int32_t section = 0;
  for (const Line& l : blockLines()) {
    const uint16_t k = getU16(l.data(), line::kKeyCode);
    if (keyType(k) == kKeyReportHeading) section = keyNumber(k);
    if (section == kReportDepartments && k == systemLineKey(kLineSales)) reportedItems = getI32(l.data(), line::kPrice);
    if (section == kReportDepartments && k == systemLineKey(kLineCount)) reportedCount = getI32(l.data(), line::kPrice);
    if (section == kReportFixedTotals && k == makeKeyCode(kKeyReportTotal, 0)) reportedCustomers = getI32(l.data(), line::kUnit);
    if (section == kReportFixedTotals && k == makeKeyCode(kKeyReportTotal, 1)) reportedItemCount = getI32(l.data(), line::kUnit);
  }
  EXPECT_EQ(reportedItems, items);
  EXPECT_EQ(reportedCount, itemCount);
  // The fixed totalizers counted every sale and every item.
  EXPECT_EQ(reportedCustomers, sales);
  EXPECT_EQ(reportedItemCount, itemCount);
  for (int32_t r = 0; r <= 6; ++r)
    EXPECT_EQ(getI32(read(kDepartmentTable, r).data(), department::kAmount.offset), 0) << r;
  EXPECT_EQ(getI32(read(kFixedTotalTable, 0).data(), fixedtotal::kAmount.offset), 0);
}

}  // namespace
