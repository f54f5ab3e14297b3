// Customers on the demo shop, through key events and the real dialogs: a
// customer attached by code with its points lines, a customer put into a
// sale already stored in the day's receipt file (and a failure on the way
// that leaves that file as it was), line names changed in their dialog, and
// the formal receipt in its three formats printed to the PDF target.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/register/demo_project.h"
#include "app/register/view/register_screen.h"
#include "app/resources/varnex_resources.h"
#include "app/shell/dialogs/sale_dialogs.h"
#include "platform/base/path.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "support/pdf_tools.h"
#include "support/while_modal.h"

namespace {

using testing_support::WhileModal;

using namespace varnex::reg;
namespace fs = std::filesystem;
namespace ui = platform::ui;
namespace shell = varnex::shell;
using Line = varnex_test::RegisterScreen::Line;

// Keys typed into a control as the keyboard sends them.
void typeInto(HWND control, const std::string& text) {
  ui::setFocus(control);
  for (char c : text) {
    ui::sendKeyInput(control, static_cast<uint32_t>(c), true, false, false, false);
    ui::sendKeyInput(control, static_cast<uint32_t>(c), false, false, false, false);
  }
  ui::processPendingMessages();
}

std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

void screenshot(HWND window, const std::string& name) {
  const fs::path folder = fs::path(VARNEX_TEST_OUTPUT_DIR) / "register";
  fs::create_directories(folder);
  EXPECT_TRUE(ui::grabWindowToPng(window, (folder / name).string()));
}

class CustomerTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(varnex::LoadVarnexResources());
    ASSERT_TRUE(open());
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection(kSettingsSection);
    profile.setInt(kSettingsSection, "Reserve Name Class", 1);
    // A manager who is asked before a customer goes into a stored sale.
    auto manager = read(kClerkTable, 0);
    manager[clerk::kConfirmLevel.offset] = 0;
    write(kClerkTable, 0, manager);
    engine->SetManager(manager.data());
    // One point for every 100 yen of point-target sales, times the rate.
    auto s = read(kSettingsTable, 0);
    putU16(s.data(), settings::kPointUnit.offset, 0x1064);
    putU16(s.data(), settings::kTaxWord, 1);
    write(kSettingsTable, 0, s);
    auto d = read(kDepartmentTable, 1);
    putU16(d.data(), department::kAttributes.offset,
           static_cast<uint16_t>(getU16(d.data(), department::kAttributes.offset) | attribute::kPointTarget |
                                 attribute::kInnerTax));
    write(kDepartmentTable, 1, d);
    std::vector<uint8_t> c(kTables[kCustomerTable].recordLen, 0);
    putText(c.data(), customer::kCode.offset, customer::kCode.size, "1001");
    putText(c.data(), customer::kName.offset, customer::kName.size, "山田商店");
    putI32(c.data(), customer::kPointBalance.offset, 500);
    putI32(c.data(), customer::kPointRate.offset, 200);
    write(kCustomerTable, FileDBRecGetSize(engine->Table(kCustomerTable)), c);
    ASSERT_EQ(engine->ReloadSettings(), 0);
    screen = std::make_unique<varnex_test::RegisterScreen>(engine.get());
    fs::create_directories(folder / "hold");
    screen->app->m_strReservePath = (folder / "hold").string();
  }
  void TearDown() override {
    screen.reset();
    CRegSale::SetStoredSaleRewriteProbe(nullptr);
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }

  // The customer dialog answered with a code typed into its code field.
  std::unique_ptr<WhileModal> customerByCode(const std::string& caption, const std::string& code,
                                             const std::string& picture = "") {
    return std::make_unique<WhileModal>(caption, [code, picture](HWND d) {
      typeInto(ui::dialogItem(d, shell::IDC_CAST_CODE), code);
      if (!picture.empty()) screenshot(d, picture);
      ui::clickButton(ui::dialogItem(d, 1));
      if (ui::isWindow(d) && ui::isWindowVisible(d)) ui::endDialog(d, 2);
    });
  }
  void sell(const std::string& price) {
    screen->type(price);
    screen->panel(kKeyDepartment, 1);
  }
  void payCash() { screen->panel(kKeyTrans1, kTenderCash); }
  fs::path dailyFile() {
    FileDBHandle daily = engine->PrfOpen(3, nullptr);
    char path[300] = {};
    FileDBGetPathName(daily, path);
    FileDBDelete(daily);
    return platform::mapPath(path);
  }
  std::vector<Line> dailyRecords() {
    const std::string bytes = testing_support::readFileBytes(dailyFile());
    std::vector<Line> out;
    FileDBHandle daily = engine->PrfOpen(3, nullptr);
    const int32_t n = FileDBRecGetSize(daily);
    for (int32_t i = 0; i < n; ++i) {
      Line l(line::kSize);
      EXPECT_EQ(FileDBRecRead(daily, i, l.data()), 0);
      out.push_back(l);
    }
    FileDBDelete(daily);
    return out;
  }

  std::unique_ptr<varnex_test::RegisterScreen> screen;
};

TEST_F(CustomerTest, CustomerByCodeGetsItsPointsLines) {
  sell("1000");
  {
    auto driver = customerByCode("取引先挿入", "1001", "customer_dialog.png");
    screen->panel(kKeyFunction, kFunctionCustomer);
    EXPECT_TRUE(driver->done());
  }
  auto lines = screen->lines();
  ASSERT_EQ(lines.size(), 2u) << screen->view->PaneMessage();
  const Line& c = lines[0];
  EXPECT_EQ(getU16(c.data(), line::kKeyCode), makeKeyCode(kKeyCustomer, 0));
  EXPECT_EQ(getText(c.data(), line::kCode, line::kCodeLen), "1001");
  EXPECT_EQ(getText(c.data(), line::kDisplayName, line::kCustomerNameLen), "山田商店");
  EXPECT_EQ(getI32(c.data(), line::kPrice), 500);
  EXPECT_EQ(getI32(c.data(), line::kUnitPrice), 200);
  // The temporary file follows: the customer first, the item after it.
  EXPECT_EQ(FileDBRecGetSize(screen->view->Sale().TemporaryFile()), 2);

  // A second customer is refused.
  screen->panel(kKeyFunction, kFunctionCustomer);
  EXPECT_TRUE(screen->showsError(kErrCustomerPresent)) << screen->view->PaneMessage();

  payCash();
  lines = screen->lines();
  const Line* balance = nullptr;
  const Line* earned = nullptr;
  for (const Line& l : lines) {
    if (getU16(l.data(), line::kKeyCode) == systemLineKey(kLinePointBalance)) balance = &l;
    if (getU16(l.data(), line::kKeyCode) == systemLineKey(kLinePointsEarned)) earned = &l;
  }
  ASSERT_TRUE(balance && earned) << lines.size();
  EXPECT_EQ(getI32(balance->data(), line::kPrice), 500);
  // 1,000 yen of point-target sales: ten units of one point, at rate 200 %.
  EXPECT_EQ(getI32(earned->data(), line::kPrice), 20);
  EXPECT_TRUE(screen->grab("customer_points.png"));
}

// A customer for a stored sale: the day's receipt file gets the line first
// in that sale; a failure on the way leaves the file byte for byte.
TEST_F(CustomerTest, CustomerIntoAStoredSaleRewritesTheDailyFile) {
  sell("700");
  payCash();
  sell("1000");
  payCash();
  ASSERT_FALSE(screen->view->Sale().SaleOpen());
  const fs::path daily = dailyFile();
  const std::string before = testing_support::readFileBytes(daily);
  const std::vector<Line> records = dailyRecords();
  ASSERT_GE(records.size(), 4u);

  // The copy becomes unusable as soon as it is made.
  CRegSale::SetStoredSaleRewriteProbe([](const std::string& copy) {
    fs::remove(copy);
    fs::create_directory(copy);
  });
  boxes->answer(platform::kIdYes);  // name a customer for the receipt
  boxes->answer(platform::kIdYes);  // that customer
  {
    auto driver = customerByCode("取引先挿入", "1001");
    screen->panel(kKeyFunction, kFunctionFormalReceipt);
    EXPECT_TRUE(driver->done());
  }
  EXPECT_TRUE(screen->showsError(kErrBadHandle)) << screen->view->PaneMessage();
  EXPECT_EQ(testing_support::readFileBytes(daily), before);
  CRegSale::SetStoredSaleRewriteProbe(nullptr);
  fs::remove_all(daily.string() + ".new");
  // The screen keeps showing what is stored.
  EXPECT_NE(getU16(screen->lines()[0].data(), line::kKeyCode), makeKeyCode(kKeyCustomer, 0));

  boxes->clear();
  boxes->answer(platform::kIdYes);
  boxes->answer(platform::kIdYes);
  {
    auto driver = customerByCode("取引先挿入", "1001");
    WhileModal receipt("領収証発行", [](HWND d) { ui::clickButton(ui::dialogItem(d, 1)); });
    screen->panel(kKeyFunction, kFunctionFormalReceipt);
    EXPECT_TRUE(driver->done());
    EXPECT_TRUE(receipt.done());
  }
  EXPECT_NE(boxes->lastText().find("取引先コード： 1001\n取引先名： 山田商店"), std::string::npos) << boxes->lastText();
  const std::vector<Line> after = dailyRecords();
  ASSERT_EQ(after.size(), records.size() + 1);
  // The first sale ends at its closing record; the customer comes right after.
  size_t firstEnd = 0;
  while (keyType(getU16(records[firstEnd].data(), line::kKeyCode)) != kKeyClosing) ++firstEnd;
  for (size_t i = 0; i <= firstEnd; ++i) EXPECT_EQ(after[i], records[i]) << i;
  EXPECT_EQ(getU16(after[firstEnd + 1].data(), line::kKeyCode), makeKeyCode(kKeyCustomer, 0));
  EXPECT_EQ(getText(after[firstEnd + 1].data(), line::kCode, line::kCodeLen), "1001");
  for (size_t i = firstEnd + 1; i < records.size(); ++i) EXPECT_EQ(after[i + 1], records[i]) << i;
  EXPECT_FALSE(fs::exists(daily.string() + ".new"));
  // The formal receipt names the customer.
  const std::string text = testing_support::pdfText(screen->app->LastPrintFile());
  EXPECT_NE(text.find(utf8(u8"山田商店")), std::string::npos) << text;
}

// Another register view showing the same finished sale mirrors a customer
// put into it, with its code and name, and leaves the day's file alone.
TEST_F(CustomerTest, FinishedSaleMirrorsACustomerLine) {
  sell("1000");
  payCash();
  const auto lines = screen->lines();
  const Line closing = lines.back();
  ASSERT_EQ(keyType(getU16(closing.data(), line::kKeyCode)), kKeyClosing);
  const int32_t receipt = static_cast<int32_t>(getU32(closing.data(), line::kPrice) & 0xFFFF);
  const std::string daily = testing_support::readFileBytes(dailyFile());
  Line customerLine(line::kSize, 0);
  putText(customerLine.data(), line::kDisplayName, line::kCustomerNameLen, "株式会社　山田商店　本店営業部　御中");
  putText(customerLine.data(), line::kCode, line::kCodeLen, "1001");
  putU16(customerLine.data(), line::kKeyCode, makeKeyCode(kKeyCustomer, 0));
  putI32(customerLine.data(), line::kPrice, 500);
  putI32(customerLine.data(), line::kUnitPrice, 200);
  // Another sale's number: nothing changes.
  ui::sendMessage(screen->view->handle(), WM_REG_CASTINPUT, static_cast<WPARAM>(receipt + 1),
                  reinterpret_cast<LPARAM>(customerLine.data()));
  EXPECT_EQ(screen->lines(), lines);
  ui::sendMessage(screen->view->handle(), WM_REG_CASTINPUT, static_cast<WPARAM>(receipt),
                  reinterpret_cast<LPARAM>(customerLine.data()));
  const auto mirrored = screen->lines();
  ASSERT_EQ(mirrored.size(), lines.size() + 1);
  EXPECT_EQ(mirrored[0], customerLine);
  EXPECT_EQ(testing_support::readFileBytes(dailyFile()), daily);
}

// Points given to the customer cannot be given again by a replay: such a
// sale stays on the register rather than go into a held-sale file that
// could never be brought back.
TEST_F(CustomerTest, SaleWithPointsGivenIsNotPutAside) {
  sell("1000");
  {
    auto driver = customerByCode("取引先挿入", "1001");
    screen->panel(kKeyFunction, kFunctionCustomer);
  }
  screen->type("10");
  screen->panel(kKeyTrans2, kTrans2PointsEarned);
  const size_t count = screen->lines().size();
  ASSERT_EQ(count, 3u) << screen->view->PaneMessage();
  boxes->answer(platform::kIdYes);
  screen->panel(kKeyFunction, kFunctionReprintOrReserve);
  EXPECT_NE(boxes->lastText().find("未サポートのファンクション"), std::string::npos) << boxes->lastText();
  EXPECT_TRUE(fs::is_empty(folder / "hold"));
  EXPECT_TRUE(screen->view->Sale().SaleOpen());
  EXPECT_EQ(screen->lines().size(), count);
}

TEST_F(CustomerTest, FormalReceiptInItsThreeFormats) {
  sell("1000");
  {
    auto driver = customerByCode("取引先挿入", "1001");
    screen->panel(kKeyFunction, kFunctionCustomer);
  }
  payCash();
  auto& profile = platform::Profile::of(platform::ProfileScope::User);
  const struct {
    int32_t radio;
    const char* note;
    bool details;
  } formats[] = {{shell::IDC_PROVIDE_PLAIN, "お品代として", false},
                 {shell::IDC_PROVIDE_DETAIL_FIRST, nullptr, true},
                 {shell::IDC_PROVIDE_DETAIL_LAST, nullptr, true}};
  std::string lastPdf;
  for (const auto& f : formats) {
    SCOPED_TRACE(f.radio);
    WhileModal dialog("領収証発行", [&](HWND d) {
      ui::clickButton(ui::dialogItem(d, f.radio));
      if (f.note) {
        ui::clickButton(ui::dialogItem(d, shell::IDC_PROVIDE_NOTE_ON));
        EXPECT_TRUE(ui::isWindowEnabled(ui::dialogItem(d, shell::IDC_PROVIDE_NOTE)));
        ui::setDialogItemText(d, shell::IDC_PROVIDE_NOTE, f.note);
        screenshot(d, "formal_receipt_dialog.png");
      } else {
        // With details the note is not offered.
        EXPECT_FALSE(ui::isWindowEnabled(ui::dialogItem(d, shell::IDC_PROVIDE_NOTE_ON)));
      }
      ui::clickButton(ui::dialogItem(d, 1));
    });
    screen->panel(kKeyFunction, kFunctionFormalReceipt);
    ASSERT_TRUE(dialog.done());
    const std::string pdf = screen->app->LastPrintFile();
    ASSERT_NE(pdf, lastPdf);
    lastPdf = pdf;
    const std::string text = testing_support::pdfText(pdf);
    EXPECT_NE(text.find(utf8(u8"上記の金額正に領収いたしました")), std::string::npos) << text;
    EXPECT_NE(text.find(utf8(u8"山田商店")), std::string::npos) << text;
    const auto department = read(kDepartmentTable, 1);
    (void)department;
    if (f.note) {
      EXPECT_NE(text.find(utf8(u8"お品代として")), std::string::npos) << text;
    }
    EXPECT_EQ(text.find(utf8(u8"明細")) != std::string::npos, f.details) << text;
  }
  EXPECT_EQ(profile.getString(kSettingsSection, "Provide MRU1", ""), "お品代として");
}

// The purpose notes remembered: the newest first, five at most, no twice.
TEST_F(CustomerTest, FormalReceiptNotesAreRemembered) {
  auto& profile = platform::Profile::of(platform::ProfileScope::User);
  for (int i = 1; i <= 5; ++i) profile.setString(kSettingsSection, "Provide MRU" + std::to_string(i), "note" + std::to_string(i));
  auto run = [&](const std::string& note) {
    WhileModal dialog("領収証発行", [&](HWND d) {
      ui::clickButton(ui::dialogItem(d, shell::IDC_PROVIDE_NOTE_ON));
      ui::setDialogItemText(d, shell::IDC_PROVIDE_NOTE, note);
      ui::clickButton(ui::dialogItem(d, 1));
    });
    int32_t kind = 0;
    std::string text;
    EXPECT_TRUE(shell::RunProvideDialog(nullptr, &kind, &text));
    EXPECT_EQ(kind, 0x101);
    EXPECT_EQ(text, note);
  };
  run("note6");
  EXPECT_EQ(profile.getString(kSettingsSection, "Provide MRU1", ""), "note6");
  EXPECT_EQ(profile.getString(kSettingsSection, "Provide MRU5", ""), "note4");
  run("note3");
  EXPECT_EQ(profile.getString(kSettingsSection, "Provide MRU1", ""), "note3");
  EXPECT_EQ(profile.getString(kSettingsSection, "Provide MRU2", ""), "note6");
  EXPECT_EQ(profile.getString(kSettingsSection, "Provide MRU3", ""), "note1");
  EXPECT_EQ(profile.getString(kSettingsSection, "Provide MRU5", ""), "note4");
}

TEST_F(CustomerTest, LineNamesChangeInTheirDialog) {
  sell("300");
  WhileModal dialog("商品名変更", [](HWND d) {
    HWND display = ui::dialogItem(d, shell::IDC_NAME_DISPLAY);
    ui::setWindowText(display, "");
    typeInto(display, "ABC");  // the letter keys, without Shift
    screenshot(d, "name_dialog.png");
    ui::clickButton(ui::dialogItem(d, 1));
  });
  screen->panel(kKeyFunction, kFunctionEditNames);
  ASSERT_TRUE(dialog.done());
  const auto lines = screen->lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(getText(lines[0].data(), line::kDisplayName, line::kDisplayNameLen), "abc");
  // The temporary file has the new name too.
  Line stored(line::kSize);
  ASSERT_EQ(FileDBRecRead(screen->view->Sale().TemporaryFile(), 0, stored.data()), 0);
  EXPECT_EQ(stored, lines[0]);
}

// The customer's name is typed in kana and kanji: the name field turns the
// input method on while it has the focus, and the code field does so only
// with the "Cast Code IMC" setting; otherwise it keeps the dialog's own
// (closed) state. Focus moves by Shift+Tab and Tab, as a clerk moves it.
TEST_F(CustomerTest, InputMethodFollowsTheFocusedField) {
  for (const bool codeInputMethod : {false, true}) {
    SCOPED_TRACE(codeInputMethod ? "code field with the input method" : "code field without it");
    struct Seen {
      bool nameOpen = false, codeOpen = true, focusedTakesKanji = false;
    } first, onCode, back;
    WhileModal dialog("取引先挿入", [&](HWND d) {
      HWND code = ui::dialogItem(d, shell::IDC_CAST_CODE), names = ui::dialogItem(d, shell::IDC_CAST_NAME);
      auto look = [&](Seen& seen) {
        ui::processPendingMessages();
        ui::ImeState state;
        seen.nameOpen = ui::imeState(names, state) && state.open;
        seen.codeOpen = ui::imeState(code, state) && state.open;
        // What an input method commits goes to the focused field only when it is open there.
        seen.focusedTakesKanji = ui::sendImeCommit(nullptr, "山田");
      };
      look(first);  // the name field has the focus at opening
      ui::sendKeyInput(nullptr, 0x09, true, true, false, false);
      ui::sendKeyInput(nullptr, 0x09, false, true, false, false);
      look(onCode);
      EXPECT_EQ(ui::focusWindow(), code);
      ui::sendKeyInput(nullptr, 0x09, true, false, false, false);
      ui::sendKeyInput(nullptr, 0x09, false, false, false, false);
      look(back);
      if (codeInputMethod) screenshot(d, "customer_dialog_name_typed.png");
      ui::endDialog(d, 2);
    });
    CustomerChoice choice;
    EXPECT_FALSE(shell::RunEditCastDialog(nullptr, engine.get(), &choice, true, codeInputMethod));
    ASSERT_TRUE(dialog.done());
    EXPECT_TRUE(first.nameOpen);
    EXPECT_FALSE(first.codeOpen);
    EXPECT_TRUE(first.focusedTakesKanji);
    EXPECT_FALSE(onCode.nameOpen);
    EXPECT_EQ(onCode.codeOpen, codeInputMethod);
    EXPECT_EQ(onCode.focusedTakesKanji, codeInputMethod);
    EXPECT_TRUE(back.nameOpen);
    EXPECT_FALSE(back.codeOpen);
    EXPECT_TRUE(back.focusedTakesKanji);
  }
}

}  // namespace
