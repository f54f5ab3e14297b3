// Held sales on the demo shop, through key events: a sale put aside under a
// numbered name (with its slip) and brought back by typing the number and
// the PLU key, names never reused within a minute, numbers without a file,
// sales of the wrong mode, lines that cannot be replayed, a replay that fails
// part-way, in-store item codes of the same form, and class 0 names.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/register/demo_project.h"
#include "app/register/view/register_screen.h"
#include "platform/base/file.h"
#include "platform/ui/common_dialogs.h"
#include "support/pdf_tools.h"
#include "zemta/memory.h"
#include "zemta/tax.h"

namespace {

using namespace varnex::reg;
namespace fs = std::filesystem;
namespace ui = platform::ui;
using Line = varnex_test::RegisterScreen::Line;

// The held-sale number of class 1 for a minute.
std::string numberAt(int day, int hour, int minute) {
  char text[32];
  std::snprintf(text, sizeof text, "022412%02d%02d%02dC", day, hour, minute);
  BccMake(text, 13);
  return text;
}

class HeldSaleTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection(kSettingsSection);
    profile.setInt(kSettingsSection, "Reserve Name Class", 1);
    // A manager who is asked before a sale is put aside.
    auto manager = read(kClerkTable, 0);
    manager[clerk::kConfirmLevel.offset] = 0;
    write(kClerkTable, 0, manager);
    engine->SetManager(manager.data());
    hold = folder / "hold";
    fs::create_directories(hold);
    CRegSale::SetHeldSaleClock([](int* y, int* mo, int* d, int* h, int* mi) {
      *y = 2024, *mo = 12, *d = 8, *h = 15, *mi = 30;
    });
    screen = makeScreen(7);
  }
  void TearDown() override {
    screen.reset();
    CRegSale::SetHeldSaleClock(nullptr);
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }
  std::unique_ptr<varnex_test::RegisterScreen> makeScreen(int32_t viewMode) {
    auto made = std::make_unique<varnex_test::RegisterScreen>(engine.get(), viewMode);
    made->app->m_strReservePath = hold.string();
    made->app->m_nReserveNameClass = 1;
    made->app->MakeReserveClassCode();
    return made;
  }
  // Two department lines: 300 in department 1, three at 150 in department 2.
  void ringUp() {
    screen->type("300");
    screen->panel(kKeyDepartment, 1);
    screen->type("3");
    screen->panel(kKeyFunction, kFunctionQuantity);
    screen->type("150");
    screen->panel(kKeyDepartment, 2);
    ASSERT_EQ(screen->lines().size(), 2u) << screen->view->PaneMessage();
  }
  void putAside() {
    boxes->answer(platform::kIdYes);
    screen->panel(kKeyFunction, kFunctionReprintOrReserve);
  }
  bool held(const std::string& number) const { return fs::exists(hold / (number + ".csv")); }
  void addItem(const std::string& code, const char* name, int32_t price) {
    std::vector<uint8_t> r(kTables[kPluTable].recordLen, 0);
    putText(r.data(), plu::kName.offset, plu::kName.size, name);
    putText(r.data(), plu::kPrintName.offset, plu::kPrintName.size, name);
    putText(r.data(), plu::kCode.offset, plu::kCode.size, code);
    putU16(r.data(), plu::kDepartment.offset, 1);
    putU16(r.data(), plu::kAttributes.offset, 6);
    putI32(r.data(), plu::kUnitPrice.offset, price);
    write(kPluTable, FileDBRecGetSize(engine->Table(kPluTable)), r);
  }
  // A held-sale file written by the engine itself from lines and a mode.
  void writeFile(const std::string& number, uint16_t mode, const std::vector<Line>& lines) {
    MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
    for (const Line& l : lines) WriteDataMemory(block, l.data(), line::kSize);
    char path[260] = {};
    std::snprintf(path, sizeof path, "%s", (hold / number).string().c_str());
    ASSERT_EQ(engine->ExportReceiptCsv(mode, block, 1, 0, 0, path), 0);
    DeleteMemory(block);
    ASSERT_TRUE(held(number));
  }
  Line departmentLine(uint16_t number, int32_t unitPrice) {
    Line l(line::kSize, 0);
    const auto d = read(kDepartmentTable, number);
    putText(l.data(), line::kDisplayName, line::kDisplayNameLen,
            getText(d.data(), department::kName.offset, department::kName.size));
    putU16(l.data(), line::kKeyCode, makeKeyCode(kKeyDepartment, number));
    // The department's own tax rate, as a live line carries it.
    const uint16_t slot = (getU16(d.data(), department::kAttributes.offset) >> attribute::kRateShift) & 3;
    putU16(l.data(), line::kFlags, static_cast<uint16_t>((slot << 2) | (slot << line::kRateShift)));
    putI32(l.data(), line::kUnit, 1);
    putI32(l.data(), line::kUnitPrice, unitPrice);
    putI32(l.data(), line::kPrice, unitPrice);
    return l;
  }

  fs::path hold;
  std::unique_ptr<varnex_test::RegisterScreen> screen;
};

TEST_F(HeldSaleTest, PutAsideUnderItsNumberAndBroughtBackLineForLine) {
  ringUp();
  const std::vector<Line> original = screen->lines();
  const int32_t amount = screen->view->PaneAmount();
  putAside();
  EXPECT_NE(boxes->lastText().find("ファイルに保存し"), std::string::npos) << boxes->lastText();
  const std::string first = numberAt(8, 15, 30);
  EXPECT_EQ(first, "0224120815300");
  ASSERT_TRUE(held(first));
  // The slip went to the printer and the register is free again.
  EXPECT_FALSE(screen->app->LastPrintFile().empty());
  EXPECT_FALSE(screen->view->Sale().SaleOpen());
  EXPECT_TRUE(screen->lines().empty());

  // A second sale put aside in the same minute takes the next free name.
  screen->type("500");
  screen->panel(kKeyDepartment, 1);
  putAside();
  const std::string second = numberAt(8, 15, 31);
  EXPECT_TRUE(held(first));
  EXPECT_TRUE(held(second));

  // The first comes back line for line, and its file goes.
  screen->type(first);
  screen->plu();
  const std::vector<Line> back = screen->lines();
  ASSERT_EQ(back.size(), original.size()) << screen->view->PaneMessage();
  for (size_t i = 0; i < back.size(); ++i) EXPECT_EQ(back[i], original[i]) << "line " << i;
  EXPECT_EQ(screen->view->PaneAmount(), amount);
  EXPECT_FALSE(held(first));
  EXPECT_TRUE(held(second));
  EXPECT_TRUE(screen->view->Sale().Entry().empty());
  EXPECT_TRUE(screen->grab("held_sale_back.png"));

  // A number that names no file.
  const std::string none = numberAt(8, 15, 40);
  screen->type(none);
  screen->plu();
  EXPECT_TRUE(screen->showsError(kErrNoHeldSale)) << screen->view->PaneMessage();
  EXPECT_EQ(RegErrorText(kErrNoHeldSale), std::string("予約ファイルが見つかりませんでした。入力は拒否されました。"));
  EXPECT_EQ(screen->lines().size(), original.size());
}

TEST_F(HeldSaleTest, RefundSaleIsRefusedInRegistration) {
  const std::string number = numberAt(8, 15, 30);
  writeFile(number, kModeRefund, {departmentLine(1, 300)});
  screen->type(number);
  screen->plu();
  EXPECT_EQ(boxes->lastText(),
            "取引モードが一致していません\nこの取引をインポートするには、\n「F5:戻し」を選択して下さい");
  EXPECT_TRUE(screen->lines().empty());
  EXPECT_TRUE(held(number));

  // A sale of 登録１ comes back in 登録２.
  screen.reset();
  screen = makeScreen(8);
  const std::string other = numberAt(8, 15, 31);
  writeFile(other, kModeRegister1, {departmentLine(1, 300)});
  screen->type(other);
  screen->plu();
  ASSERT_EQ(screen->lines().size(), 1u) << screen->view->PaneMessage() << boxes->lastText();
  EXPECT_EQ(getI32(screen->lines()[0].data(), line::kPrice), 300);
  EXPECT_FALSE(held(other));
}

// A replay refused part-way takes back what it wrote and keeps the file, so
// that bringing the sale back again does not double its lines.
TEST_F(HeldSaleTest, FailedReplayTakesItsLinesBackAndKeepsTheFile) {
  // Something already on the register stays.
  screen->type("120");
  screen->panel(kKeyDepartment, 1);
  const std::vector<Line> before = screen->lines();
  const int32_t amount = screen->view->PaneAmount();
  const std::string number = numberAt(8, 15, 30);
  Line missing = departmentLine(1, 200);
  putU16(missing.data(), line::kKeyCode, makeKeyCode(kKeyDepartment, 999));
  writeFile(number, kModeRegister1, {departmentLine(1, 300), departmentLine(2, 150), missing});
  const std::string bytes = testing_support::readFileBytes(hold / (number + ".csv"));

  boxes->answer(platform::kIdYes);  // 既に取引が存在しています: add to it
  screen->type(number);
  screen->plu();
  EXPECT_EQ(screen->lines(), before);
  EXPECT_EQ(screen->view->PaneAmount(), amount);
  ASSERT_TRUE(held(number));
  EXPECT_EQ(testing_support::readFileBytes(hold / (number + ".csv")), bytes);
  // The temporary file holds what the screen shows.
  EXPECT_EQ(FileDBRecGetSize(screen->view->Sale().TemporaryFile()), static_cast<int32_t>(before.size()));
}

// In-store item codes have the held-sale form: ten digits that are no date
// and time are an item; a code that is both is a held sale only while its
// file exists.
TEST_F(HeldSaleTest, InStoreCodesAreToldFromHeldSaleNumbers) {
  char sequence[32] = "020000000001C";
  BccMake(sequence, 13);
  addItem(sequence, "店内商品", 180);
  const std::string dated = numberAt(8, 15, 30);
  addItem(dated, "日付形の商品", 240);
  ASSERT_EQ(engine->ReloadSettings(), 0);

  screen->type(sequence);
  screen->plu();
  ASSERT_EQ(screen->lines().size(), 1u) << screen->view->PaneMessage();
  EXPECT_EQ(getI32(screen->lines()[0].data(), line::kPrice), 180);

  screen->type(dated);
  screen->plu();
  ASSERT_EQ(screen->lines().size(), 2u) << screen->view->PaneMessage();
  EXPECT_EQ(getI32(screen->lines()[1].data(), line::kPrice), 240);

  // With a held sale of that number, the number brings it back.
  writeFile(dated, kModeRegister1, {departmentLine(2, 500)});
  boxes->answer(platform::kIdYes);
  screen->type(dated);
  screen->plu();
  ASSERT_EQ(screen->lines().size(), 3u) << screen->view->PaneMessage() << boxes->lastText();
  EXPECT_EQ(getU16(screen->lines()[2].data(), line::kKeyCode), makeKeyCode(kKeyDepartment, 2));
  EXPECT_FALSE(held(dated));
}

// Class 0: the clerk names the file; it is written as named.
TEST_F(HeldSaleTest, ClassZeroWritesTheChosenFile) {
  platform::Profile::of(platform::ProfileScope::User).setInt(kSettingsSection, "Reserve Name Class", 0);
  screen.reset();
  screen = makeScreen(7);
  screen->app->m_nReserveNameClass = 0;
  std::string folderAsked;
  platform::ui::setFileDialogAnswerer([&](const platform::ui::FileDialogRequest& r, std::string& answer) {
    folderAsked = r.folder;
    answer = (hold / "table 4").string();
    return true;
  });
  ringUp();
  screen->panel(kKeyFunction, kFunctionReprintOrReserve);
  platform::ui::setFileDialogAnswerer(nullptr);
  const fs::path file = hold / "table 4.csv";
  EXPECT_TRUE(fs::exists(file));
  EXPECT_FALSE(screen->view->Sale().SaleOpen());
  EXPECT_NE(folderAsked.find(hold.string()), std::string::npos) << folderAsked;

  // The same key with no sale open brings it back, and the register holds
  // the file for itself while the sale is on screen.
  const std::string title = ui::windowText(screen->frame->handle());
  ui::setFileDialogAnswerer([&](const ui::FileDialogRequest& r, std::string& answer) {
    EXPECT_EQ(r.kind, ui::FileDialogKind::Open);
    answer = file.string();
    return true;
  });
  screen->panel(kKeyFunction, kFunctionReserve);
  ui::setFileDialogAnswerer(nullptr);
  ASSERT_EQ(screen->lines().size(), 2u) << screen->view->PaneMessage();
  EXPECT_EQ(ui::windowText(screen->frame->handle()), "table 4.csv");
  EXPECT_FALSE(platform::File::open(file.string(), platform::kFileRead, platform::kShareRead | platform::kShareWrite,
                                    platform::kOpenExisting)
                   .isOpen());
  // Completed: the held file goes and the frame has its title again.
  screen->panel(kKeyTrans1, kTenderCash);
  EXPECT_FALSE(screen->view->Sale().SaleOpen());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(ui::windowText(screen->frame->handle()), title);

  // A new name starts an empty held sale; the finished sale on the screen
  // is nothing to add to, so nothing is asked.
  const size_t asked = boxes->count();
  ui::setFileDialogAnswerer([&](const ui::FileDialogRequest&, std::string& answer) {
    answer = (hold / "table 5.csv").string();
    return true;
  });
  screen->panel(kKeyFunction, kFunctionReserve);
  ui::setFileDialogAnswerer(nullptr);
  EXPECT_EQ(boxes->count(), asked) << boxes->lastText();
  EXPECT_TRUE(fs::exists(hold / "table 5.csv"));
  EXPECT_TRUE(screen->view->Sale().SaleOpen());
  EXPECT_EQ(ui::windowText(screen->frame->handle()), "table 5.csv");
}

}  // namespace
