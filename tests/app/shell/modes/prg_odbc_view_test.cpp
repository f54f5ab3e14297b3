// The ODBC link screen against a real outside database of each backend,
// reached through a data source of odbc.ini chosen in the screen's chooser:
// its tables and columns listed, the link saved, and a link that does not
// connect kept as saved with the driver's message while the screen stays.
#include <gtest/gtest.h>

#include <fstream>

#include "app/register/odbc/odbc_fixture.h"
#include "app/shell/frames/child_frame.h"
#include "app/shell/modes/menu_views.h"
#include "app/shell/modes/mode_screens.h"
#include "app/shell/modes/prg_odbc_view.h"
#include "app/shell/shell_fixture.h"
#include "platform/base/message_box.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "support/scripted_message_box.h"
#include "support/while_modal.h"

namespace varnex_test {
namespace {

namespace reg = varnex::reg;
namespace shell = varnex::shell;
namespace ui = platform::ui;
using testing_support::WhileModal;

class OdbcLinkScreenTest : public OdbcLinkTest {
 protected:
  void SetUp() override {
    OdbcLinkTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A data source of the shop's own in odbc.ini for the outside database.
    static int serial = 0;
    dsn = "varnex_link_" + std::string(nameOf(GetParam())) + std::to_string(++serial);
    {
      std::ofstream ini(testRoot() / "odbc" / "odbc.ini", std::ios::app);
      ini << "[" << dsn << "]\nDriver=" << driverName << "\nDatabase=" << database << "\n";
      if (onPostgres())
        ini << "Servername=" << server->host() << "\nPort=" << server->port() << "\nUsername=" << user << "\n";
      ini << "\n";
    }
    userProfile().deleteSection("Settings");
    userProfile().reload();
    app = std::make_unique<shell::CREGApp>();
    app->m_strWorkFolder = folder.string();
    app->m_strProgramFolder = (folder / "program").string();
    screens = shell::InstallModeScreens(*app);
    ASSERT_TRUE(app->InitInstance());
    ui::processPendingMessages();
    ui::killTimer(app->m_pMainFrame->GetSafeHwnd(), shell::kTimerIdle);
    uint8_t manager[48] = {};
    ASSERT_GE(app->m_pRegCom->GetClerkRecord(1, manager), 0);
    app->m_pRegCom->SetManager(manager);
    app->m_bManagerSelected = 1;
    ui::sendMessage(app->m_pMainFrame->GetSafeHwnd(), shell::WM_TENKEY_PAD, 0, 0);
    // The link records of the outside tables, no connection string yet.
    const auto records = fullMap();
    for (size_t i = 0; i < records.size(); ++i)
      ASSERT_EQ(FileDBRecWrite(app->m_pRegCom->Table(reg::kOdbcLinkTable), static_cast<int32_t>(i), records[i].data()), 0);
    char empty[512] = {};
    ASSERT_EQ(FileDBWrite(app->m_pRegCom->Table(reg::kOdbcLinkTable), 0, empty, sizeof empty), 512);
    // The setup menu stays open behind the screen.
    ASSERT_EQ(app->OpenModeView(4, 0), 1);
    ASSERT_EQ(app->OpenModeView(114, 0), 1);
    view = dynamic_cast<shell::CPrgOdbcView*>(screens->FindModeFrame(114, nullptr)->activeView());
    ASSERT_NE(view, nullptr);
  }
  void TearDown() override {
    app.reset();
    ui::processPendingMessages();
    screens.reset();
    OdbcLinkTest::TearDown();
  }
  HWND control(int32_t id) { return view->Control(id); }
  // The setup menu's item k (from 0) is offered.
  bool menuItemEnabled(int32_t k) {
    auto* menu = dynamic_cast<shell::CMenuView*>(screens->FindModeFrame(4, nullptr)->activeView());
    EXPECT_NE(menu, nullptr);
    return menu && ui::isWindowEnabled(menu->Button(k));
  }
  std::vector<std::string> items(HWND combo) {
    std::vector<std::string> out;
    for (int32_t i = 0, n = ui::listItemCount(combo); i < n; ++i) out.push_back(ui::listItemText(combo, i));
    return out;
  }
  int32_t indexOf(HWND combo, const std::string& text) {
    const auto all = items(combo);
    auto it = std::find(all.begin(), all.end(), text);
    return it == all.end() ? -1 : static_cast<int32_t>(it - all.begin());
  }
  void pick(HWND combo, const std::string& text) {
    const int32_t i = indexOf(combo, text);
    ASSERT_GE(i, 0) << text;
    ui::setListSelection(combo, i);
    ui::sendMessage(view->handle(), ui::kWmCommand, ui::makeWParam(ui::controlId(combo), ui::kCbnSelChange),
                    reinterpret_cast<LPARAM>(combo));
  }
  std::string storedHeader() {
    char header[513] = {};
    EXPECT_EQ(FileDBRead(app->m_pRegCom->Table(reg::kOdbcLinkTable), 0, header, 512), 512);
    return header;
  }
  void save() {
    app->m_pMainFrame->Frame().updateCommands();
    ui::setFocus(view->handle());
    ui::sendKeyInput(view->handle(), 0x70, true, false, false, false);
    ui::sendKeyInput(view->handle(), 0x70, false, false, false, false);
    ui::processPendingMessages();
  }

  std::string dsn;
  std::unique_ptr<shell::CREGApp> app;
  std::shared_ptr<shell::CModeScreens> screens;
  shell::CPrgOdbcView* view = nullptr;
};

// The tables of a data source listed; a link that fails is kept as saved.
TEST_P(OdbcLinkScreenTest, TablesAndFailedLink) {
  // No link yet: the screen is switched off until the box is ticked.
  EXPECT_EQ(ui::buttonState(control(shell::IDC_ODBC_USE)), 0);
  EXPECT_FALSE(ui::isWindowEnabled(control(shell::IDC_ODBC_SOURCE)));
  ui::clickButton(control(shell::IDC_ODBC_USE));
  ui::processPendingMessages();
  ASSERT_TRUE(ui::isWindowEnabled(control(shell::IDC_ODBC_SOURCE)));
  // The chooser offers the data source; choosing it fills the string.
  bool offered = false;
  WhileModal driver("データソースの選択", [&](HWND chooser) {
    HWND list = ui::dialogItem(chooser, shell::IDC_SOURCE_LIST);
    for (int32_t i = 0, n = ui::listItemCount(list); i < n; ++i)
      if (ui::listItemText(list, i).find(dsn) != std::string::npos) {
        offered = true;
        ui::setListSelection(list, i);
      }
    EXPECT_EQ(ui::windowText(ui::dialogItem(chooser, shell::IDC_SOURCE_TEXT)), "DSN=" + dsn + ";");
    ui::processPendingMessages();
    screenshot(chooser, "odbc_source_chooser");
    ui::clickButton(ui::dialogItem(chooser, 1));
  });
  ui::clickButton(control(shell::IDC_ODBC_SOURCE));
  ui::processPendingMessages();
  ASSERT_TRUE(driver.done());
  EXPECT_TRUE(offered);
  EXPECT_NE(ui::windowText(control(shell::IDC_ODBC_CONNECT)).find(dsn), std::string::npos) << boxes->lastText();
  const auto tables = items(control(shell::IDC_ODBC_TABLE));
  for (const char* t : {"customers", "plu", "orders", "sales", "settlement"})
    EXPECT_NE(std::find(tables.begin(), tables.end(), schemaPrefix + t), tables.end()) << t;

  EXPECT_TRUE(view->Modified());
  save();
  EXPECT_FALSE(view->Modified());
  EXPECT_NE(storedHeader().find(dsn), std::string::npos);
  EXPECT_TRUE(app->m_pRegCom->OdbcIsOpen()) << boxes->lastText();
  // The outside database now serves the PLU and customer files: the setup
  // menu no longer offers them.
  EXPECT_FALSE(menuItemEnabled(3));
  EXPECT_FALSE(menuItemEnabled(15));
  EXPECT_TRUE(menuItemEnabled(2));

  // 商品: the PLU fields with their linked columns, the outside table's
  // columns offered.
  pick(control(shell::IDC_ODBC_KIND), "商品");
  const auto columns = items(control(shell::IDC_ODBC_COLUMN));
  EXPECT_NE(std::find(columns.begin(), columns.end(), "price"), columns.end());
  HWND list = control(shell::IDC_ODBC_LIST);
  bool priceRow = false;
  for (int32_t row = 0, n = ui::listItemCount(list); row < n; ++row)
    if (ui::reportCell(list, row, 0) == "販売単価") priceRow = ui::reportCell(list, row, 2) == "price";
  EXPECT_TRUE(priceRow);
  EXPECT_FALSE(view->Modified());
  // The idle update gives the screen its programming bar and no panes.
  for (int i = 0; i < 3; ++i) app->m_pMainFrame->SelectBar();
  ui::processPendingMessages();
  screenshot(app->m_pMainFrame->GetSafeHwnd(), "odbc_link_screen_" + std::string(nameOf(GetParam())));

  // A source that does not connect: stored as saved, the driver's message
  // shown, the screen and the program still there.
  const std::string wrong = "DSN=" + dsn + "_missing;";
  ui::setWindowText(control(shell::IDC_ODBC_CONNECT), wrong);
  view->ModifyCheck();
  boxes->clear();
  save();
  EXPECT_EQ(storedHeader(), wrong);
  ASSERT_GT(boxes->count(), 0u);
  EXPECT_NE(boxes->lastText().find("[unixODBC]"), std::string::npos) << boxes->lastText();
  EXPECT_FALSE(app->m_pRegCom->OdbcIsOpen());
  // The register keeps its own files again, and the menu offers them.
  EXPECT_TRUE(menuItemEnabled(3));
  EXPECT_TRUE(menuItemEnabled(15));
  EXPECT_NE(screens->FindModeFrame(114, nullptr), nullptr);
  EXPECT_TRUE(ui::isWindow(app->m_pMainFrame->GetSafeHwnd()));
}

VARNEX_ODBC_BACKENDS(OdbcLinkScreenTest);

}  // namespace
}  // namespace varnex_test
