// The PLU key with the PLU and order tables linked to an outside database
// (SQLite through ODBC, and the PostgreSQL server): an item found only
// outside is sold, kept once in the local table with the outside prices, and
// an order code brings its order's item, quantity and price.
#include <cstring>

#include "app/register/odbc/odbc_fixture.h"
#include "app/register/view/register_screen.h"

using namespace varnex::reg;
using varnex_test::OdbcLinkTest;

namespace {

class OdbcPluKeyTest : public OdbcLinkTest {
 protected:
  void SetUp() override {
    OdbcLinkTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A case of twelve whose cost is 10.01 each.
    exec("INSERT INTO plu (code, name, dept, listorder, price, saleunit, unitcost) VALUES "
         "('4900000000016', 'ほうじ茶', 4, 1, 1200, 12, 10.01)");
    exec("INSERT INTO orders (orderno, orderer, quantity, itemcode, unitprice) VALUES (123, 1, 2, '4912345000019', 130.4)");
    openLinked();
    if (HasFatalFailure()) return;
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    engine->SetManager(read(kClerkTable, 0).data());
    auto s = read(kSettingsTable, 0);
    putU16(s.data(), settings::kTaxWord, 1);
    write(kSettingsTable, 0, s);
    ASSERT_EQ(engine->ReloadSettings(), 0);
    screen = std::make_unique<varnex_test::RegisterScreen>(engine.get());
  }
  void TearDown() override {
    screen.reset();
    OdbcLinkTest::TearDown();
  }

  // The local records of a code.
  std::vector<std::vector<uint8_t>> localItems(const std::string& code) {
    std::vector<std::vector<uint8_t>> found;
    FileDBHandle t = engine->Table(kPluTable);
    for (int32_t n = 1; n < FileDBRecGetSize(t); ++n) {
      auto r = read(kPluTable, n);
      if (text(r, plu::kCode) == code) found.push_back(r);
    }
    return found;
  }

  std::unique_ptr<varnex_test::RegisterScreen> screen;
};
VARNEX_ODBC_BACKENDS(OdbcPluKeyTest);

TEST_P(OdbcPluKeyTest, ItemFoundOutsideIsSoldAndKeptOnce) {
  ASSERT_TRUE(localItems("4900000000016").empty());
  uint8_t outsideItem[odbcplu::kLen];
  ASSERT_EQ(engine->OdbcSelectPlu("4900000000016", outsideItem), 1);

  screen->scan("4900000000016");
  auto lines = screen->lines();
  ASSERT_EQ(lines.size(), 1u) << screen->view->PaneMessage() << boxes->lastText();
  EXPECT_EQ(getU16(lines[0].data(), line::kKeyCode), makeKeyCode(kKeyDepartment, 4));
  EXPECT_EQ(getI32(lines[0].data(), line::kUnitPrice), 1200);
  // The net of the case: 12 x 10.01 = 120.12, rounded away from zero.
  EXPECT_EQ(getI32(lines[0].data(), line::kUnitNet), 121);

  // Sold again with "Uchi Hen" on: the line is taxed, the kept item is not.
  screen->app->m_bUchiHen = 1;
  screen->scan("4900000000016");
  lines = screen->lines();
  ASSERT_EQ(lines.size(), 2u) << screen->view->PaneMessage();
  // The outside item carries no rate slot of its own: the standard 10 %.
  EXPECT_EQ(getI32(lines[1].data(), line::kUnitPrice), 1320);
  const auto kept = localItems("4900000000016");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(std::memcmp(kept[0].data(), outsideItem, 64), 0);
  EXPECT_EQ(getI32(kept[0].data(), plu::kUnitPrice.offset), 1200);
  EXPECT_EQ(getU16(kept[0].data(), plu::kAttributes.offset) & attribute::kInnerTax, 0);
}

// An order code (mask "9SSSS": a 9, then the order number) sells the
// order's item (one of the shop's own) at the order's price and quantity.
TEST_P(OdbcPluKeyTest, OrderCodeSellsTheOrderedItem) {
  uint8_t block[odbclink::kOrderBlockLen] = {};
  putText(block, orderblock::kMask.offset, orderblock::kMask.size, "9SSSS");
  const uint16_t at = engine->Field(kFieldOrderCode).offset;
  ASSERT_EQ(FileDBWrite(engine->Table(kOdbcLinkTable), at, block, sizeof block), static_cast<int32_t>(sizeof block));
  ASSERT_EQ(engine->ReloadSettings(), 0);

  screen->type("90123");
  screen->plu();
  auto lines = screen->lines();
  ASSERT_EQ(lines.size(), 1u) << screen->view->PaneMessage() << boxes->lastText();
  EXPECT_EQ(getI32(lines[0].data(), line::kUnit), 2);
  EXPECT_EQ(getI32(lines[0].data(), line::kUnitPrice), 131);  // 130.4 away from zero
  EXPECT_EQ(getI32(lines[0].data(), line::kPrice), 262);
  EXPECT_EQ(getText(lines[0].data(), line::kSubCode, line::kSubCodeLen), "90123");
  EXPECT_EQ(getText(lines[0].data(), line::kCode, line::kCodeLen), "4912345000019");  // the shop's りんご

  // No such order.
  screen->type("90999");
  screen->plu();
  EXPECT_TRUE(screen->showsError(kErrUnknownOrder)) << screen->view->PaneMessage();
  EXPECT_EQ(screen->lines().size(), 1u);
}

}  // namespace
