#include <gtest/gtest.h>

#include "app/register/view/reg_view.h"
#include "app/register/view/ten_key_dlg.h"
#include "app/shell/signon/clerk_code.h"
#include "app/shell/signon/manager_dialogs.h"
#include "app/shell/modes/mode_shell.h"
#include "platform/ui/input.h"

namespace varnex_test {
namespace {

namespace reg = varnex::reg;

TEST(ClerkCodes, PackAndReadBack) {
  EXPECT_EQ(shell::ClerkCode(5, 1234, nullptr), "0259835248822");
  const shell::ClerkCodeDate expiry{2025, 1, 31};
  const std::string code = shell::ClerkCode(5, 1234, &expiry);
  EXPECT_EQ(code, "0259835131339");
  uint32_t p = 0, century = 0;
  ASSERT_TRUE(shell::ReadClerkCode(code, &p, &century));
  EXPECT_EQ(p >> 16, shell::ClerkCodeIdentity(5, 1234));
  EXPECT_EQ(century, 20u);
  EXPECT_TRUE(shell::ClerkCodeValidOn(p, century, {2025, 1, 31}));
  EXPECT_FALSE(shell::ClerkCodeValidOn(p, century, {2025, 2, 1}));
  // The next century keeps ten digits and reads back its century.
  const shell::ClerkCodeDate late{2150, 6, 1};
  const std::string next = shell::ClerkCode(5, 1234, &late);
  ASSERT_EQ(next.size(), 13u);
  EXPECT_LT(std::stoull(next.substr(2, 10)), 5705032704ull);
  ASSERT_TRUE(shell::ReadClerkCode(next, &p, &century));
  EXPECT_EQ(century, 21u);
  // A wrong check digit is no code.
  EXPECT_FALSE(shell::ReadClerkCode("0259835248823", &p, &century));
}

class SignOnTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    ASSERT_TRUE(startShell()) << boxes->lastText();
    ASSERT_TRUE(frame().IsLocked());
    dialog = app->m_hAccountDlg;
    ASSERT_NE(dialog, nullptr);
  }
  void TearDown() override {
    shell::SetSignOnToday({});
    ModeShellTest::TearDown();
  }
  HWND item(int32_t id) { return ui::dialogItem(dialog, id); }
  void typePin(const std::string& pin) {
    ui::setWindowText(item(shell::IDC_MANAGER_PIN), "");
    ui::setFocus(item(shell::IDC_MANAGER_PIN));
    type(pin, item(shell::IDC_MANAGER_PIN));
  }
  // A barcode scanner types the code into the focused control.
  void scan(const std::string& code) {
    ui::setFocus(item(shell::IDC_MANAGER_NAME));
    type(code, item(shell::IDC_MANAGER_NAME));
    press(ui::kVkReturn, false, false, false, item(shell::IDC_MANAGER_NAME));
  }
  std::vector<uint8_t> read0() {
    std::vector<uint8_t> r(48);
    EXPECT_EQ(FileDBRecRead(app->m_pRegCom->Table(reg::kClerkTable), 0, r.data()), 0);
    return r;
  }
  uint16_t managerNumber() { return reg::getU16(app->m_pRegCom->Manager(), reg::clerk::kNumber.offset); }
  HWND dialog = nullptr;
};

// A clerk barcode with expiry signs on through its expiry day only.
TEST_F(SignOnTest, ClerkCodeWithAndWithoutExpiry) {
  writeClerk(3, "code clerk", 5, 1234);
  screenshot(dialog, "sign_on_dialog");
  shell::SetSignOnToday([] { return shell::ClerkCodeDate{2025, 2, 1}; });
  scan("0259835131339");
  EXPECT_EQ(app->m_bManagerSelected, 0);
  EXPECT_EQ(boxes->lastText(), "有効期限が過ぎています\n認証は失敗しました");

  shell::SetSignOnToday([] { return shell::ClerkCodeDate{2025, 1, 31}; });
  scan("0259835131339");
  EXPECT_EQ(app->m_bManagerSelected, 1);
  EXPECT_EQ(managerNumber(), 5);
  ui::processPendingMessages();
  EXPECT_FALSE(frame().IsLocked());
}

TEST_F(SignOnTest, ClerkCodeWithoutExpiryNeverExpires) {
  writeClerk(3, "code clerk", 5, 1234);
  shell::SetSignOnToday([] { return shell::ClerkCodeDate{2199, 12, 31}; });
  scan("0259835248822");
  EXPECT_EQ(app->m_bManagerSelected, 1);
  EXPECT_EQ(managerNumber(), 5);
}

// A manager with a PIN signs on by name and PIN; a wrong PIN is cleared.
TEST_F(SignOnTest, NameAndPin) {
  writeClerk(3, "pin manager", 7, 4321);
  ui::destroyWindow(dialog);
  dialog = shell::CreateAccountDialog(*app, frame().GetSafeHwnd());
  HWND combo = item(shell::IDC_MANAGER_NAME);
  int32_t index = -1;
  for (int32_t i = 0; i < ui::listItemCount(combo); ++i)
    if (ui::listItemText(combo, i) == "pin manager") index = i;
  ASSERT_GE(index, 0);
  ui::setListSelection(combo, index);
  typePin("1111");
  EXPECT_EQ(app->m_bManagerSelected, 0);
  EXPECT_EQ(ui::windowText(item(shell::IDC_MANAGER_PIN)), "");
  typePin("4321");
  EXPECT_EQ(app->m_bManagerSelected, 1);
  EXPECT_EQ(managerNumber(), 7);
  ui::destroyWindow(dialog);
}

// With "Ten Key" on, a touch screen signs on by the pad beside the dialog:
// its digits go into the PIN field, and the pad goes with the lock.
TEST_F(SignOnTest, PadBesideTheSignOnDialog) {
  typePin("6284");
  ASSERT_EQ(app->m_bManagerSelected, 1);
  app->m_bTenKey = 1;
  ASSERT_TRUE(frame().Frame().runCommand(shell::ID_SIGN_OFF));
  ui::processPendingMessages();
  dialog = app->m_hAccountDlg;
  ASSERT_NE(dialog, nullptr);
  HWND pad = app->m_hTenKeyDlg;
  ASSERT_NE(pad, nullptr);
  const ui::Rect beside = ui::windowRect(dialog), at = ui::windowRect(pad);
  EXPECT_EQ(at.left, beside.right + 12);
  EXPECT_EQ(at.top, beside.top);
  screenshotScreen("sign_on_with_pad");
  for (int32_t id : {reg::CTenKeyDlg::kButton6, reg::CTenKeyDlg::kButton2, reg::CTenKeyDlg::kButton8,
                     reg::CTenKeyDlg::kButton4}) {
    ASSERT_TRUE(ui::clickButton(ui::dialogItem(pad, id)));
    ui::processPendingMessages();
  }
  EXPECT_EQ(app->m_bManagerSelected, 1);
  EXPECT_EQ(app->m_hTenKeyDlg, nullptr);
  EXPECT_FALSE(ui::isWindow(pad));
}

// Four digits typed as the name are a clerk number; without a PIN that
// manager is signed on at once.
TEST_F(SignOnTest, ClerkNumberTypedAsName) {
  writeClerk(3, "no pin", 7, 0);
  HWND combo = item(shell::IDC_MANAGER_NAME);
  ui::setFocus(combo);
  type("0007", combo);
  EXPECT_EQ(app->m_bManagerSelected, 1);
  EXPECT_EQ(managerNumber(), 7);
}

// "6284" opens the system manager while its PIN is the first-run one; once
// the system manager has a PIN of its own, "6284" is refused.
TEST_F(SignOnTest, FirstRunPinOfTheSystemManager) {
  typePin("6284");
  ASSERT_EQ(app->m_bManagerSelected, 1);
  EXPECT_EQ(std::memcmp(app->m_pRegCom->Manager(), read0().data(), 48), 0);

  app->m_bManagerSelected = 0;
  uint8_t system[48];
  std::memcpy(system, read0().data(), 48);
  reg::putU16(system, reg::clerk::kPin.offset, 4321);
  ASSERT_EQ(FileDBRecWrite(app->m_pRegCom->Table(reg::kClerkTable), 0, system), 0);
  ui::destroyWindow(dialog);
  dialog = shell::CreateAccountDialog(*app, frame().GetSafeHwnd());
  ui::setListSelection(item(shell::IDC_MANAGER_NAME), -1);
  typePin("6284");
  EXPECT_EQ(app->m_bManagerSelected, 0);
  typePin("4321");
  EXPECT_EQ(app->m_bManagerSelected, 1);
  ui::destroyWindow(dialog);
}

// A clerk types the PIN and Enter out of habit, but the sign-on happens at
// the fourth digit: that Enter is the sign-on's, whether it arrives while the
// dialog is still up or after the register has opened. It must not reach the
// register (there it is a tender key that opens an empty sale and refuses);
// the next Enter is the register's again. Signed on again after a sign-off,
// the clerk is back at the same screen, with its keys.
TEST_F(SignOnTest, EnterAfterTypedPinStaysWithTheSignOn) {
  for (const bool beforeUnlock : {false, true}) {
    SCOPED_TRACE(beforeUnlock ? "Enter typed before the lock lifts" : "Enter typed after the register opened");
    if (beforeUnlock) {
      ui::setFocus(item(shell::IDC_MANAGER_PIN));
      type("628", item(shell::IDC_MANAGER_PIN));
      // The last digit and Enter in one burst, before the unlock message runs.
      for (uint32_t vk : {static_cast<uint32_t>('4'), static_cast<uint32_t>(ui::kVkReturn)}) {
        ui::sendKeyInput(ui::focusWindow(), vk, true, false, false, false);
        ui::sendKeyInput(ui::focusWindow(), vk, false, false, false, false);
      }
      ui::processPendingMessages();
    } else {
      typePin("6284");
      idle();
      press(ui::kVkReturn);
    }
    ASSERT_EQ(app->m_bManagerSelected, 1);
    idle();
    shell::CChildFrame* registration = modeFrame(7);
    ASSERT_NE(registration, nullptr);
    ASSERT_NE(registration->RegView(), nullptr);
    varnex::reg::CRegView& view = *registration->RegView();
    // The screen in front before the lock is in front again.
    EXPECT_EQ(activeModeFrame(), registration);
    if (!beforeUnlock) screenshotScreen("signed_on_register");
    EXPECT_EQ(view.PaneMessage(), "");
    EXPECT_FALSE(view.Sale().SaleOpen());
    EXPECT_EQ(frame().CurrentBarId(), 122);
    EXPECT_TRUE(ui::focusWindow() == view.handle() || ui::focusWindow() == view.ListControl());

    if (beforeUnlock) {
      press(ui::kVkReturn);
      EXPECT_EQ(view.PaneMessage(), varnex::reg::RegErrorText(varnex::reg::kErrNoSale));
      break;
    }
    // Signed off, the register locks again for the second round.
    ASSERT_TRUE(frame().Frame().runCommand(shell::ID_SIGN_OFF));
    ui::processPendingMessages();
    dialog = app->m_hAccountDlg;
    ASSERT_NE(dialog, nullptr);
  }
}

// With no name chosen, the PIN change is the system manager's: its first-run
// PIN is asked, the new one stored in its record, and "6284" no longer works.
TEST_F(SignOnTest, SystemManagerChangesItsPin) {
  ui::setListSelection(item(shell::IDC_MANAGER_NAME), -1);
  WhileModal driver("暗証番号変更", [&](HWND pinDialog) {
    type("6284", ui::dialogItem(pinDialog, shell::IDC_PIN_OLD));
    type("4321", ui::dialogItem(pinDialog, shell::IDC_PIN_NEW));
    type("4321", ui::dialogItem(pinDialog, shell::IDC_PIN_CONFIRM));
  });
  ui::clickButton(item(shell::IDC_CHANGE_PIN));
  ASSERT_TRUE(driver.done());
  EXPECT_EQ(boxes->lastText(), "暗証番号は、正常に変更されました");
  EXPECT_EQ(reg::getU16(read0().data(), reg::clerk::kPin.offset), 4321);
  typePin("6284");
  EXPECT_EQ(app->m_bManagerSelected, 0);
  typePin("4321");
  EXPECT_EQ(app->m_bManagerSelected, 1);
}

// New PINs: "0000" and "6284" are refused, and so is a PIN whose clerk code
// another manager already has.
TEST_F(SignOnTest, RefusedNewPins) {
  writeClerk(3, "first", 130, 0);
  writeClerk(4, "second", 194, 1);
  const struct {
    const char* pin;
    bool system;
    const char* message;
  } cases[] = {
      {"0000", false, "暗証番号 '0000' と '6284' は、使用することができません\n違う暗証番号を入力して下さい"},
      {"6284", false, "暗証番号 '0000' と '6284' は、使用することができません\n違う暗証番号を入力して下さい"},
      {"0000", true, "暗証番号 '0000' と '6284' は、使用することができません\n違う暗証番号を入力して下さい"},
      // Number 194 with 9447 gives the code bits of number 130 without a PIN.
      {"9447", false, "この暗証番号は、他の責任者の担当者コードと重なります\n違う暗証番号を入力して下さい"},
  };
  for (const auto& c : cases) {
    boxes->clear();
    bool refused = false;
    WhileModal driver("暗証番号変更", [&](HWND pinDialog) {
      type("0001", ui::dialogItem(pinDialog, shell::IDC_PIN_OLD));
      type(c.pin, ui::dialogItem(pinDialog, shell::IDC_PIN_NEW));
      type(c.pin, ui::dialogItem(pinDialog, shell::IDC_PIN_CONFIRM));
      refused = boxes->lastText() == c.message;
      if (c.system == false && std::string(c.pin) == "0000") screenshot(pinDialog, "pin_change_dialog");
      ui::endDialog(pinDialog, 2);
    });
    reg::CRegCom& engine = *app->m_pRegCom;
    uint32_t newPin = 0;
    const int32_t result = shell::RunChangePinDialog(
        dialog, 1, c.system, [&](uint32_t pin) { return shell::ClerkCodeCollides(engine, 4, 194, pin); }, &newPin);
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(result, 0) << c.pin;
    EXPECT_TRUE(refused) << c.pin << " " << boxes->lastText();
  }
  // The system manager may take "6284" back.
  WhileModal driver("暗証番号変更", [&](HWND pinDialog) {
    type("0001", ui::dialogItem(pinDialog, shell::IDC_PIN_OLD));
    type("6284", ui::dialogItem(pinDialog, shell::IDC_PIN_NEW));
    type("6284", ui::dialogItem(pinDialog, shell::IDC_PIN_CONFIRM));
  });
  uint32_t newPin = 0;
  EXPECT_EQ(shell::RunChangePinDialog(dialog, 1, true, {}, &newPin), 1);
  EXPECT_EQ(newPin, 6284u);
}

// The clerk-code dialog copies the selected manager's code; it refuses a
// manager whose code another manager's code already matches.
TEST_F(SignOnTest, MakeClerkCodeCopiesAndRefusesCollisions) {
  signOn();
  writeClerk(3, "code clerk", 5, 1234);
  auto makeFor = [&](const std::string& name, bool expires) {
    WhileModal driver("担当者コード生成", [&](HWND d) {
      HWND list = ui::dialogItem(d, shell::IDC_CODE_MANAGER);
      for (int32_t i = 0; i < ui::listItemCount(list); ++i)
        if (ui::listItemText(list, i) == name) ui::setListSelection(list, i);
      if (expires) {
        ui::clickButton(ui::dialogItem(d, shell::IDC_CODE_EXPIRES));
        ui::setPickerDate(ui::dialogItem(d, shell::IDC_CODE_DATE), {2025, 1, 31});
      }
      if (name == "code clerk" && expires) screenshot(d, "clerk_code_dialog");
      ui::clickButton(ui::dialogItem(d, 1));
      if (ui::isWindow(d)) ui::endDialog(d, 2);
    });
    ui::setClipboardText("");
    shell::RunMakeClerkCodeDialog(*app, frame().GetSafeHwnd());
    std::string text;
    ui::clipboardText(text);
    return text;
  };
  EXPECT_EQ(makeFor("code clerk", false), "0259835248822");
  EXPECT_EQ(makeFor("code clerk", true), "0259835131339");
  writeClerk(4, "base", 130, 0);
  writeClerk(5, "twin", 194, 9447);
  boxes->clear();
  EXPECT_EQ(makeFor("twin", false), "");
  EXPECT_NE(boxes->lastText().find("重なります"), std::string::npos);
}

}  // namespace
}  // namespace varnex_test

