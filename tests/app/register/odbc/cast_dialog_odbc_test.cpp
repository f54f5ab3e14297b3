// The customer dialog over the ODBC link: a code that is the prefix of
// several customers (or one of their keywords) drops the name list down
// instead of closing, and the customer picked from it is the answer with its
// own code and point balance. The search hint names the keyword columns.
#include <functional>
#include <string>

#include "app/register/odbc/odbc_fixture.h"
#include "app/resources/varnex_resources.h"
#include "app/shell/dialogs/sale_dialogs.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "support/while_modal.h"

using namespace varnex::reg;
using varnex_test::OdbcLinkTest;
namespace ui = platform::ui;
namespace shell = varnex::shell;

namespace {

using testing_support::WhileModal;

class CastDialogOdbcTest : public OdbcLinkTest {
 protected:
  void SetUp() override {
    OdbcLinkTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(varnex::LoadVarnexResources());
    exec("INSERT INTO customers (code, name, kw1, balance) VALUES ('12', '鈴木', 'x', 10), ('120', '佐藤', NULL, 20), "
         "('13', '田中', NULL, 30), ('77', '高橋', '1234', 40)");
    openLinked();
  }
};
VARNEX_ODBC_BACKENDS(CastDialogOdbcTest);

TEST_P(CastDialogOdbcTest, SeveralFoundDropTheListAndThePickIsTheAnswer) {
  std::vector<std::string> listed;
  std::string hint;
  bool stayedOpen = false;
  WhileModal driver("取引先挿入", [&](HWND d) {
    HWND code = ui::dialogItem(d, shell::IDC_CAST_CODE);
    ui::setFocus(code);
    for (char c : std::string("12")) {
      ui::sendKeyInput(code, static_cast<uint32_t>(c), true, false, false, false);
      ui::sendKeyInput(code, static_cast<uint32_t>(c), false, false, false, false);
    }
    ui::processPendingMessages();
    hint = ui::dialogItemText(d, shell::IDC_CAST_HINT);
    ui::clickButton(ui::dialogItem(d, 1));
    stayedOpen = ui::isWindow(d) && ui::isWindowVisible(d);
    HWND names = ui::dialogItem(d, shell::IDC_CAST_NAME);
    for (int32_t i = 0; i < ui::listItemCount(names); ++i) listed.push_back(ui::listItemText(names, i));
    // The clerk picks 佐藤 from the list, then OK.
    for (int32_t i = 0; i < ui::listItemCount(names); ++i)
      if (ui::listItemText(names, i) == "佐藤") {
        ui::setListSelection(names, i);
        ui::sendMessage(d, ui::kWmCommand, ui::makeWParam(shell::IDC_CAST_NAME, ui::kCbnSelChange),
                        reinterpret_cast<LPARAM>(names));
      }
    EXPECT_EQ(ui::dialogItemText(d, shell::IDC_CAST_CODE), "120");
    ui::clickButton(ui::dialogItem(d, 1));
    if (ui::isWindow(d) && ui::isWindowVisible(d)) ui::endDialog(d, 2);
  });
  CustomerChoice choice;
  ASSERT_TRUE(shell::RunEditCastDialog(nullptr, engine.get(), &choice, true, false)) << boxes->lastText();
  ASSERT_TRUE(driver.done());
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(listed, (std::vector<std::string>{"鈴木", "佐藤", "高橋"}));
  EXPECT_NE(hint.find("「kw1」"), std::string::npos) << hint;
  EXPECT_EQ(choice.code, "120");
  EXPECT_EQ(choice.name, "佐藤");
  EXPECT_EQ(choice.pointBalance, 20);
}

}  // namespace
