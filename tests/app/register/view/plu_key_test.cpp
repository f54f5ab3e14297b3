// Items by code on the demo shop, through key events: scanned JAN codes and
// the PLU key, check digits, unknown codes, the "Uchi Hen" price, two-stage
// price tags, open-price items, and refused codes that leave the line being
// built as it was.
#include <gtest/gtest.h>

#include <memory>

#include "app/register/demo_project.h"
#include "app/register/view/register_screen.h"

namespace {

using namespace varnex::reg;
using Line = varnex_test::RegisterScreen::Line;

class PluKeyTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection(kSettingsSection);
    profile.setInt(kSettingsSection, "Tax Detail", 0);
    engine->SetManager(read(kClerkTable, 0).data());
    auto s = read(kSettingsTable, 0);
    putU16(s.data(), settings::kTaxWord, 1);  // outer tax rounded half away from zero
    write(kSettingsTable, 0, s);
    // A drink of the drinks department (reduced rate), an outer-tax item of
    // the liquor department (standard rate 10 %) and an open-price item.
    addItem("4901234567894", "緑茶５００ｍｌ", 4, 150);
    addItem("4912345999993", "純米大吟醸", 5, 1000);
    addItem("4912345999986", "量り売り野菜", 1, 0);
    ASSERT_EQ(engine->ReloadSettings(), 0);
    screen = std::make_unique<varnex_test::RegisterScreen>(engine.get());
  }
  void TearDown() override {
    screen.reset();
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }

  void addItem(const char* code, const char* name, uint16_t departmentNumber, int32_t price) {
    const auto d = read(kDepartmentTable, departmentNumber);
    std::vector<uint8_t> r(kTables[kPluTable].recordLen, 0);
    putText(r.data(), plu::kName.offset, plu::kName.size, name);
    putText(r.data(), plu::kPrintName.offset, plu::kPrintName.size, name);
    putText(r.data(), plu::kCode.offset, plu::kCode.size, code);
    putU16(r.data(), plu::kDepartment.offset, departmentNumber);
    const uint16_t rate = getU16(d.data(), department::kAttributes.offset) & (3u << attribute::kRateShift);
    putU16(r.data(), plu::kAttributes.offset, static_cast<uint16_t>(6 | attribute::kPointTarget | rate));
    putI32(r.data(), plu::kUnitPrice.offset, price);
    write(kPluTable, FileDBRecGetSize(engine->Table(kPluTable)), r);
  }

  void setTagMasks(const char* first, const char* second, uint8_t exponent) {
    auto s = read(kSettingsTable, 0);
    putText(s.data(), settings::kPriceMask1.offset, 12, first);
    putText(s.data(), settings::kPriceMask2.offset, 12, second);
    s[76] = 1;  // a completed tag line carries flag 0x40
    s[92] = 0;
    s[93] = exponent;
    write(kSettingsTable, 0, s);
    ASSERT_EQ(engine->ReloadSettings(), 0);
  }

  CRegView& view() { return *screen->view; }
  std::unique_ptr<varnex_test::RegisterScreen> screen;
};

TEST_F(PluKeyTest, ScannedCodeRegistersTheItem) {
  screen->scan("4901234567894");
  auto lines = screen->lines();
  ASSERT_EQ(lines.size(), 1u) << view().PaneMessage();
  const Line& l = lines[0];
  EXPECT_EQ(getU16(l.data(), line::kKeyCode), makeKeyCode(kKeyDepartment, 4));
  EXPECT_EQ(getText(l.data(), line::kCode, line::kCodeLen), "4901234567894");
  EXPECT_EQ(getText(l.data(), line::kDisplayName, line::kDisplayNameLen), "緑茶５００ｍｌ");
  EXPECT_EQ(getI32(l.data(), line::kUnit), 1);
  EXPECT_EQ(getI32(l.data(), line::kUnitPrice), 150);
  EXPECT_EQ(getI32(l.data(), line::kPrice), 150);
  // The reduced rate (slot 1) in both rate fields, and the points mark.
  EXPECT_EQ(getU16(l.data(), line::kFlags), line::kPointTarget | (1 << 2) | (1 << line::kRateShift));
  EXPECT_EQ(view().PaneAmount(), 162);  // 150 and 8 % outer tax
  EXPECT_TRUE(view().Sale().Entry().empty());

  // The PLU key itself does the same for a typed code.
  screen->type("4901234567894");
  screen->plu();
  ASSERT_EQ(screen->lines().size(), 2u);
  EXPECT_EQ(screen->lines()[1], l);

  // Codes the register refuses: nothing is written and the code stays for
  // the clerk to see.
  const struct {
    const char* code;
    int32_t error;
  } refused[] = {{"4901234567890", kErrCheckDigit}, {"4900000000016", kErrUnknownPlu}, {"4", kErrCheckDigit}};
  for (const auto& r : refused) {
    SCOPED_TRACE(r.code);
    screen->type(r.code);
    const Line before = screen->current();
    if (std::string(r.code).size() == 13)
      screen->press(platform::ui::kVkReturn);  // as the scanner ends a code
    else
      screen->plu();
    EXPECT_TRUE(screen->showsError(r.error)) << view().PaneMessage();
    EXPECT_EQ(screen->lines().size(), 2u);
    EXPECT_EQ(screen->current(), before);
    EXPECT_EQ(view().Sale().Entry(), r.code);
    screen->panel(kKeyFunction, kFunctionClear);
    EXPECT_TRUE(view().Sale().Entry().empty()) << view().PaneMessage();
  }
  EXPECT_TRUE(screen->grab("plu_scanned_sale.png"));
}

// Thirteen digits and Enter are a scanned code; fewer digits and Enter are
// still the cash tender the layout gives Enter.
TEST_F(PluKeyTest, EnterAfterFewerDigitsStaysTheTender) {
  screen->scan("4901234567894");
  screen->type("500");
  screen->press(platform::ui::kVkReturn);
  const auto lines = screen->lines();
  ASSERT_GE(lines.size(), 2u);
  bool tendered = false;
  for (const Line& l : lines)
    if (keyType(getU16(l.data(), line::kKeyCode)) == kKeyTrans1) tendered = getI32(l.data(), line::kPrice) == 500;
  EXPECT_TRUE(tendered);
}

TEST_F(PluKeyTest, UchiHenSellsOuterTaxItemsTaxIncluded) {
  screen->app->m_bUchiHen = 1;
  screen->type("4912345999993");
  screen->plu();
  const auto lines = screen->lines();
  ASSERT_EQ(lines.size(), 1u) << view().PaneMessage();
  EXPECT_EQ(getI32(lines[0].data(), line::kUnitPrice), 1100);
  EXPECT_EQ(getI32(lines[0].data(), line::kPrice), 1100);
  EXPECT_NE(getU16(lines[0].data(), line::kFlags) & line::kInnerTax, 0);
  EXPECT_EQ(view().PaneAmount(), 1100);
  // The item itself keeps its price.
  std::vector<uint8_t> item(80);
  ASSERT_GE(engine->GetPluRecord("4912345999993", item.data()), 0);
  EXPECT_EQ(getI32(item.data(), plu::kUnitPrice.offset), 1000);
}

// A two-stage price tag: the first code names the department and the tax
// mark, the second carries the price (digits times ten to the exponent).
TEST_F(PluKeyTest, TwoStagePriceTagRegistersItsPrice) {
  setTagMasks("21DDT", "22\\\\\\\\", 1);
  screen->scan("2103000000006");
  EXPECT_EQ(screen->lines().size(), 0u) << view().PaneMessage();
  EXPECT_EQ(getText(screen->current().data(), line::kCode, line::kCodeLen), "2103000000006");
  screen->scan("2201250000002");
  const auto lines = screen->lines();
  ASSERT_EQ(lines.size(), 1u) << view().PaneMessage();
  const Line& l = lines[0];
  EXPECT_EQ(getU16(l.data(), line::kKeyCode), makeKeyCode(kKeyDepartment, 3));
  EXPECT_EQ(getI32(l.data(), line::kUnitPrice), 1250);  // "0125" x 10
  EXPECT_EQ(getText(l.data(), line::kDisplayName, line::kDisplayNameLen), "食品");
  EXPECT_EQ(getText(l.data(), line::kSubCode, line::kSubCodeLen), "2201250000002");
  const uint16_t flags = getU16(l.data(), line::kFlags);
  EXPECT_NE(flags & line::kInnerTax, 0);  // T over a "0": the price includes tax
  EXPECT_NE(flags & line::kPcd, 0);
  EXPECT_EQ((flags >> line::kRateShift) & 3, 1);  // the food department's reduced rate
  EXPECT_EQ(view().PaneAmount(), 1250);

  // Refused stages change nothing of the line being built: a first stage of
  // a department the shop has not, a second stage before any first.
  const struct {
    const char* code;
    int32_t error;
  } refused[] = {{"2109000000008", kErrUnknownDepartmentLink}, {"2201250000019", kErrFirstStageFirst}};
  for (const auto& r : refused) {
    SCOPED_TRACE(r.code);
    screen->type("2");
    screen->panel(kKeyFunction, kFunctionQuantity);  // a quantity waits on the line
    screen->type(r.code);
    const Line before = screen->current();
    screen->press(platform::ui::kVkReturn);
    EXPECT_TRUE(screen->showsError(r.error)) << view().PaneMessage();
    EXPECT_EQ(screen->current(), before);
    EXPECT_EQ(screen->lines().size(), 1u);
    screen->panel(kKeyFunction, kFunctionClear);
    screen->panel(kKeyFunction, kFunctionCancelLine);
  }
  // After the refusals the next item starts clean.
  screen->scan("4901234567894");
  ASSERT_EQ(screen->lines().size(), 2u);
  EXPECT_EQ(getU16(screen->lines()[1].data(), line::kFlags) & (line::kInnerTax | line::kPcd), 0);
  EXPECT_EQ(getI32(screen->lines()[1].data(), line::kUnit), 1);
}

// An item without a price waits for it: 売価 and Net are shown, 売価変更 is
// on, and the amount typed next with the department amount key sells it.
TEST_F(PluKeyTest, OpenPriceItemWaitsForItsPrice) {
  screen->type("4912345999986");
  screen->plu();
  EXPECT_EQ(screen->lines().size(), 0u);
  EXPECT_NE(view().PaneMessage().find("売価"), std::string::npos) << view().PaneMessage();
  EXPECT_NE(view().PaneMessage().find("Net"), std::string::npos);
  EXPECT_EQ(view().StatusText(), "売価変更");
  EXPECT_TRUE(view().Sale().Entry().empty());
  screen->type("380");
  screen->panel(kKeyFunction, kFunctionLinkAmount);
  const auto lines = screen->lines();
  ASSERT_EQ(lines.size(), 1u) << view().PaneMessage();
  EXPECT_EQ(getU16(lines[0].data(), line::kKeyCode), makeKeyCode(kKeyDepartment, 1));
  EXPECT_EQ(getI32(lines[0].data(), line::kPrice), 380);
  EXPECT_EQ(getText(lines[0].data(), line::kDisplayName, line::kDisplayNameLen), "量り売り野菜");
  EXPECT_EQ(getText(lines[0].data(), line::kCode, line::kCodeLen), "4912345999986");
  EXPECT_TRUE(view().StatusText().empty());
}

}  // namespace
