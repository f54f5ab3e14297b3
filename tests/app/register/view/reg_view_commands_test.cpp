// The registration view's own commands on the demo shop: the right-button
// menu built for the view's state, the enable rules of its commands, and the
// export of its lines as a CSV file that a real CSV reader reads back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/register/demo_project.h"
#include "app/register/view/register_screen.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/dialog.h"
#include "platform/ui/menu.h"
#include "platform/base/clock.h"

namespace {

using namespace varnex::reg;
namespace ui = platform::ui;
namespace fs = std::filesystem;

class RegViewCommandsTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    engine->SetManager(read(kClerkTable, 0).data());
    // An item whose name holds a quote and a comma.
    std::vector<uint8_t> r(kTables[kPluTable].recordLen, 0);
    putText(r.data(), plu::kName.offset, plu::kName.size, "お茶\"特,選\"");
    putText(r.data(), plu::kPrintName.offset, plu::kPrintName.size, "ｵﾁｬ");
    putText(r.data(), plu::kCode.offset, plu::kCode.size, "4901234567894");
    putU16(r.data(), plu::kDepartment.offset, 4);
    putU16(r.data(), plu::kAttributes.offset, static_cast<uint16_t>(6 | (1 << attribute::kRateShift)));
    putI32(r.data(), plu::kUnitPrice.offset, 150);
    write(kPluTable, FileDBRecGetSize(engine->Table(kPluTable)), r);
    ASSERT_EQ(engine->ReloadSettings(), 0);
    screen = std::make_unique<varnex_test::RegisterScreen>(engine.get());
  }
  void TearDown() override {
    ui::setPopupMenuAnswerer({});
    ui::setFileDialogAnswerer({});
    screen.reset();
    DemoProject::TearDown();
  }

  // The right button on a row of the list (-1: below the rows); the menu
  // shown is kept and answered with the item of the text (none: dismissed).
  std::vector<ui::PopupItem> rightClick(int32_t row, const std::string& choose = "", const std::string& png = "") {
    std::vector<ui::PopupItem> shown;
    ui::setPopupMenuAnswerer([&](const std::vector<ui::PopupItem>& items) -> uint32_t {
      shown = items;
      if (!png.empty()) {
        const fs::path folder = fs::path(VARNEX_TEST_OUTPUT_DIR) / "register";
        fs::create_directories(folder);
        EXPECT_TRUE(ui::grabPopupMenuToPng(items, (folder / png).string()));
      }
      for (const auto& i : items)
        if (!i.separator && i.text == choose) return i.command;
      return 0;
    });
    EXPECT_TRUE(ui::clickReportRow(screen->view->ListControl(), row, true));
    ui::processPendingMessages();
    ui::setPopupMenuAnswerer({});
    return shown;
  }
  static std::vector<std::string> texts(const std::vector<ui::PopupItem>& items) {
    std::vector<std::string> out;
    for (const auto& i : items) out.push_back(i.separator ? "-" : i.text);
    return out;
  }
  bool enabled(uint32_t command) {
    ui::CommandState state;
    screen->view->updateCommand(command, state);
    return state.enabled;
  }

  std::unique_ptr<varnex_test::RegisterScreen> screen;
};

TEST_F(RegViewCommandsTest, PopupMenuFollowsTheViewsState) {
  // No sale and no lines: nothing to print again, nothing to refund.
  EXPECT_EQ(texts(rightClick(-1)),
            (std::vector<std::string>{"ﾚｼｰﾄｵﾝ/ｵﾌ", "-", "責任者№", "-", "取引先／商品名入力...", "両替", "-",
                                      "部門一覧選択..."}));

  // A sale open: the line keys, 訂正 only on a row.
  screen->scan("4901234567894");
  screen->type("300");
  screen->panel(kKeyDepartment, 1);
  ASSERT_EQ(screen->lines().size(), 2u);
  EXPECT_TRUE(screen->grab("popup_sale.png"));
  const auto onRow = rightClick(0, "", "popup_menu_sale.png");
  EXPECT_EQ(texts(onRow), (std::vector<std::string>{"取引先／商品名入力...", "売価変更", "クリア", "訂正", "取消", "-",
                                                    "部門一覧選択..."}));
  EXPECT_EQ(texts(rightClick(-1)),
            (std::vector<std::string>{"売価変更", "クリア", "取消", "-", "部門一覧選択..."}));
  // With an entry the department picker is grayed.
  screen->type("5");
  const auto withEntry = rightClick(0);
  ASSERT_FALSE(withEntry.empty());
  EXPECT_FALSE(withEntry.back().enabled);
  screen->panel(kKeyFunction, kFunctionClear);

  // 取消 from the menu cancels the sale (this manager is not asked).
  rightClick(1, "取消");
  EXPECT_FALSE(screen->view->Sale().SaleOpen()) << screen->view->PaneMessage();

  // A finished sale: its receipt can be printed again and refunded.
  screen->scan("4901234567894");
  screen->type("1000");
  screen->press(ui::kVkReturn);
  ASSERT_FALSE(screen->view->Sale().SaleOpen());
  const auto done = texts(rightClick(0, "", "popup_menu_idle.png"));
  EXPECT_EQ(done, (std::vector<std::string>{"ﾚｼｰﾄｵﾝ/ｵﾌ", "ﾚｼｰﾄ発行", "領収証発行", "-", "責任者№", "-",
                                            "取引先／商品名入力...", "両替", "戻し", "-", "部門一覧選択..."}));
}

TEST_F(RegViewCommandsTest, CommandsEnabledByTheViewsState) {
  EXPECT_FALSE(enabled(kCmdExportReport));
  EXPECT_FALSE(enabled(kCmdReprint));
  EXPECT_TRUE(enabled(kCmdExchange));
  EXPECT_TRUE(enabled(kCmdDepartmentLink));
  screen->scan("4901234567894");
  EXPECT_TRUE(enabled(kCmdExportReport));
  EXPECT_FALSE(enabled(kCmdReprint));
  EXPECT_FALSE(enabled(kCmdFormalReceipt));
  EXPECT_FALSE(enabled(kCmdExchange));
  EXPECT_TRUE(enabled(kCmdRefundShownSale));
  screen->type("1");
  EXPECT_FALSE(enabled(kCmdDepartmentLink));
  screen->panel(kKeyFunction, kFunctionClear);
  screen->type("1000");
  screen->press(ui::kVkReturn);
  EXPECT_FALSE(enabled(kCmdExportReport));
  EXPECT_TRUE(enabled(kCmdReprint));
  EXPECT_TRUE(enabled(kCmdFormalReceipt));
  EXPECT_TRUE(enabled(kCmdEditNames));
}

// A day's receipt journal (view mode 38) lists the day's receipt file; its
// export is a CSV file that Python's csv module reads back to the same
// fields, the quoted name with its quotes and comma whole.
TEST_F(RegViewCommandsTest, ExportedJournalReadsBackFieldByField) {
  screen->scan("4901234567894");
  screen->type("300");
  screen->panel(kKeyDepartment, 1);
  screen->type("1000");
  screen->press(ui::kVkReturn);
  ASSERT_FALSE(screen->view->Sale().SaleOpen());
  const int32_t records = screen->view->Sale().LineCount();
  screen.reset();

  varnex_test::RegisterScreen journal(engine.get(), 38);
  ASSERT_TRUE(journal.view->Sale().JournalOpen());
  ASSERT_EQ(journal.view->Sale().LineCount(), records);
  // The closing record stands between two empty rows.
  EXPECT_EQ(ui::listItemCount(journal.view->ListControl()), records + 2);
  EXPECT_TRUE(journal.grab("receipt_journal.png"));
  ui::CommandState state;
  journal.view->updateCommand(kCmdExportReport, state);
  EXPECT_TRUE(state.enabled);

  const fs::path target = folder / "report";  // no extension: ".csv" is added
  ui::setFileDialogAnswerer([&](const ui::FileDialogRequest& request, std::string& answer) {
    EXPECT_EQ(request.defaultExtension, "csv");
    answer = target.string();
    return true;
  });
  ASSERT_TRUE(journal.view->handleCommand(kCmdExportReport));
  const fs::path written = folder / "report.csv";
  ASSERT_TRUE(fs::exists(written));

  if (std::system("python3 -c 'import csv' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
  // Each row's fields joined by 0x1F, rows by a newline, in code page 932.
  const fs::path script = folder / "read.py", result = folder / "rows.txt";
  std::ofstream(script) << "import csv, sys\n"
                           "rows = list(csv.reader(open(sys.argv[1], encoding='cp932', newline='')))\n"
                           "open(sys.argv[2], 'w', encoding='cp932', newline='').write("
                           "'\\n'.join('\\x1f'.join(r) for r in rows))\n";
  const std::string command = "python3 \"" + script.string() + "\" \"" + written.string() + "\" \"" +
                              result.string() + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(result, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::vector<std::vector<std::string>> rows;
  std::string rowText;
  for (std::istringstream all(bytes.str()); std::getline(all, rowText);) {
    rows.emplace_back();
    std::string field;
    for (std::istringstream r(rowText); std::getline(r, field, '\x1f');) rows.back().push_back(field);
    if (!rowText.empty() && rowText.back() == '\x1f') rows.back().push_back("");
  }
  // Title, an empty line, header, then every record of the day.
  ASSERT_EQ(rows.size(), static_cast<size_t>(3 + records)) << bytes.str();
  ASSERT_EQ(rows[0].size(), 23u);
  EXPECT_EQ(rows[0][0], "レシート点検");
  const platform::LocalTime now = platform::localTime();
  char day[32];
  std::snprintf(day, sizeof day, "%4u/%2u/%2u", static_cast<unsigned>(now.year), static_cast<unsigned>(now.month),
                static_cast<unsigned>(now.day));
  EXPECT_EQ(rows[0][22], day);
  EXPECT_TRUE(rows[1].empty());
  ASSERT_EQ(rows[2].size(), 23u);
  EXPECT_EQ(rows[2][0], "fncn");
  EXPECT_EQ(rows[2][22], "dumy1");
  const std::vector<std::string> item = {"お茶\"特,選\"", "ｵﾁｬ", "JAN:4901234567894", "", "0", "0", "0", "0", "0",
                                         "0", "0", "0", "0", "0", "4", "1", "1", "150", "150", "0", "0", "0", "0"};
  EXPECT_EQ(rows[3], item);
  ASSERT_EQ(rows[4].size(), 23u);
  EXPECT_EQ(rows[4][0], "青果");
  EXPECT_EQ(rows[4][18], "300");
  // The closing record: type 15 with the mode code of 登録１.
  EXPECT_EQ(rows.back()[15], "15");
  EXPECT_EQ(rows.back()[14], "195");
}

}  // namespace
