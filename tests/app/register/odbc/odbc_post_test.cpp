// Postings of committed transactions to the outside database: points, PLU
// totals and stock with the reorder row, sales lines and the settlement row,
// inside the commit's transaction.
#include <cstring>

#include "app/register/odbc/odbc_fixture.h"
#include "app/register/sale_lines.h"

using namespace varnex::reg;
using varnex_test::BlockOwner;
using varnex_test::demoJan;
using varnex_test::itemLine;
using varnex_test::keyLine;
using varnex_test::Line;
using varnex_test::OdbcLinkTest;

namespace {

class OdbcPostTest : public OdbcLinkTest {
 protected:
  void SetUp() override {
    OdbcLinkTest::SetUp();
    if (IsSkipped()) return;
    exec("INSERT INTO customers (code, name, balance) VALUES ('C001', '鈴木', 100), ('C0010', '佐藤', 500)");
    openLinked();
  }
  // An outside PLU row with its stock settings.
  void item(const std::string& code, int stock, int base, int proper, int unit, int minimum, int saleUnit = 1) {
    exec("INSERT INTO plu (code, name, dept, price, qty, amount, stock, basestock, properstock, orderunit, minorder, "
         "saleunit, ordered) VALUES ('" + code + "', 'りんご', 1, 128, 0, 0, " + std::to_string(stock) + ", " +
         std::to_string(base) + ", " + std::to_string(proper) + ", " + std::to_string(unit) + ", " +
         std::to_string(minimum) + ", " + std::to_string(saleUnit) + ", 0)");
  }
  // The orderer number and supplier of the order-code block.
  void orderer(uint16_t number, const char* supplier) {
    uint8_t block[24] = {};
    putU16(block, 0, number);
    putText(block, 2, 14, supplier);
    ASSERT_EQ(FileDBWrite(engine->Table(kOdbcLinkTable), odbclink::kOrderCode.offset + orderblock::kOrderer.offset,
                          block, 16),
              16);
    ASSERT_EQ(engine->ReloadSettings(), 0);
  }
  int32_t post(const Line& line, int32_t reverse = 0) {
    OdbcPostContext context;
    const int32_t r = engine->OdbcPostPluSale(&context, line.data(), reverse);
    engine->OdbcDropStatements(&context);
    return r;
  }
};
VARNEX_ODBC_BACKENDS(OdbcPostTest);

TEST_P(OdbcPostTest, ASaleBelowTheBaseLevelOrdersWholeUnits) {
  const std::string code = demoJan(1);
  item(code, 12, 10, 20, 6, 0);
  orderer(7, "SUP1");
  ASSERT_EQ(post(itemLine(1, 3, 128, code)), 1) << boxes->lastText();
  // Shortfall 3 - 12 + 20 = 11: two units of 6.
  EXPECT_EQ(query("SELECT stock, qty, amount, ordered, stockerror, shortage FROM plu", 6),
            (std::vector<std::vector<std::string>>{{"9", "3", "384", "12", "NULL", "0007,SUP1"}}));
  EXPECT_EQ(query("SELECT orderer, quantity, itemcode, supplier, CAST(unitprice * 100 AS INTEGER) FROM orders", 5),
            (std::vector<std::vector<std::string>>{{"7", "12", code, "SUP1", "12800"}}));
  // The refund moves totals and stock back and orders nothing.
  ASSERT_EQ(post(itemLine(1, 3, 128, code), 1), 1);
  EXPECT_EQ(query("SELECT stock, qty, amount FROM plu", 3), (std::vector<std::vector<std::string>>{{"12", "0", "0"}}));
  EXPECT_EQ(one("SELECT COUNT(*) FROM orders"), "1");
}

TEST_P(OdbcPostTest, ALinePostedOutsideACommitFreesItsStatements) {
  // The sale reorders: the PLU update, the order insert and the sales line
  // each take a statement of the posting context the line makes itself.
  const std::string code = demoJan(1);
  item(code, 12, 10, 20, 6, 0);
  const int64_t before = platform::odbc::Statement::liveCount();
  int32_t totals[saletotal::kWords] = {};
  const Line sale = itemLine(1, 3, 128, code);
  ASSERT_EQ(engine->CommitLine(sale.data(), totals, 0, nullptr, nullptr), 0) << boxes->lastText();
  EXPECT_EQ(platform::odbc::Statement::liveCount(), before);
  EXPECT_EQ(one("SELECT COUNT(*) FROM orders"), "1");
  EXPECT_EQ(one("SELECT COUNT(*) FROM sales"), "1");
}

TEST_P(OdbcPostTest, TheLeastOrderAndTheShortageState) {
  item("A1", 12, 10, 20, 6, 20);
  item("A2", 2, 10, 20, 6, 0);
  ASSERT_EQ(post(itemLine(1, 3, 100, "A1")), 1);
  EXPECT_EQ(one("SELECT quantity FROM orders"), "20");
  // Below the base already: no order; short of the sale: the shortage text.
  ASSERT_EQ(post(itemLine(1, 3, 100, "A2")), 1);
  EXPECT_EQ(one("SELECT COUNT(*) FROM orders"), "1");
  EXPECT_EQ(query("SELECT stock, stockerror FROM plu WHERE code = 'A2'", 2),
            (std::vector<std::vector<std::string>>{{"-1", "在庫数異常"}}));
  // Report and total lines post nothing; an item twice outside writes nothing.
  Line total = itemLine(1, 3, 100, "A1");
  putU16(total.data(), line::kFlags, line::kCcts);
  EXPECT_EQ(post(total), 0);
  item("A1", 0, 0, 0, 0, 0);
  EXPECT_EQ(post(itemLine(1, 1, 100, "A1")), 2);
  EXPECT_EQ(one("SELECT SUM(qty) FROM plu WHERE code = 'A1'"), "3");
}

TEST_P(OdbcPostTest, PointsGoToTheCustomerOfThatExactCode) {
  EXPECT_EQ(engine->OdbcPostCustomerPoints("C001", 25, 0), 1) << boxes->lastText();
  EXPECT_EQ(engine->OdbcPostCustomerPoints("C001", 5, 1), 1);
  EXPECT_EQ(engine->OdbcPostCustomerPoints("C00", 5, 0), 0);  // no such customer
  EXPECT_EQ(query("SELECT code, balance FROM customers ORDER BY code", 2),
            (std::vector<std::vector<std::string>>{{"C001", "120"}, {"C0010", "500"}}));
}

TEST_P(OdbcPostTest, TheDaysSettlementRowIsMadeOnceThenAddedTo) {
  OdbcPostContext context;
  context.sums[0] = 2;
  context.sums[1] = 1000;
  context.sectionPrice = 0x10006;
  ASSERT_EQ(engine->OdbcPostSettlement(&context), 1) << boxes->lastText();
  ASSERT_EQ(engine->OdbcPostSettlement(&context), 1) << boxes->lastText();
  engine->OdbcDropStatements(&context);
  EXPECT_EQ(query("SELECT netcount, netamount, section FROM settlement", 3),
            (std::vector<std::vector<std::string>>{{"4", "2000", "6"}}));
  // Two rows of the day already (two registers began it): a row of its own,
  // nothing counted twice.
  exec("INSERT INTO settlement SELECT * FROM settlement");
  ASSERT_EQ(engine->OdbcPostSettlement(&context), 1);
  engine->OdbcDropStatements(&context);
  EXPECT_EQ(one("SELECT SUM(netamount) FROM settlement"), "5000");
  EXPECT_EQ(one("SELECT COUNT(*) FROM settlement"), "3");
}

TEST_P(OdbcPostTest, ACommittedSaleMovesTheOutsideDatabaseOnce) {
  const std::string code = demoJan(1);
  item(code, 12, 10, 20, 6, 0);
  Line heading = varnex_test::blankLine();
  putText(heading.data(), line::kCode, line::kCodeLen, "C001");
  putU16(heading.data(), line::kKeyCode, makeKeyCode(kKeyCustomer, 0));
  putI32(heading.data(), line::kPrice, 100);
  BlockOwner block({heading, itemLine(1, 3, 128, code), keyLine(kKeyTrans1, 5, 30)});
  uint8_t closing[96];
  const int32_t r = engine->PrfUpdate(kModeRegister1, block, closing, nullptr, 0);
  ASSERT_TRUE(r == 0 || r == 2) << r << " " << boxes->lastText();
  EXPECT_EQ(query("SELECT stock, qty, amount, ordered FROM plu", 4),
            (std::vector<std::vector<std::string>>{{"9", "3", "384", "12"}}));
  EXPECT_EQ(one("SELECT COUNT(*) FROM orders"), "1");
  EXPECT_EQ(query("SELECT itemcode, qty, amount, customer, itemname FROM sales", 5),
            (std::vector<std::vector<std::string>>{{code, "3", "384", "C001", "商品"}}));
  EXPECT_EQ(one("SELECT balance FROM customers WHERE code = 'C001'"), "70");
}

TEST_P(OdbcPostTest, ACommitWhoseOutsidePostingFailsChangesNothing) {
  const std::string code = demoJan(1);
  item(code, 12, 10, 20, 6, 0);
  exec("DROP TABLE sales");
  std::vector<uint8_t> before(80);
  const int32_t n = engine->GetPluRecord(code.c_str(), before.data());
  ASSERT_GE(n, 0);
  BlockOwner block({itemLine(1, 3, 128, code)});
  EXPECT_EQ(engine->PrfUpdate(kModeRegister1, block, nullptr, nullptr, 0), -1);
  EXPECT_GE(boxes->count(), 1u);  // the driver's message
  EXPECT_EQ(query("SELECT stock, qty, ordered FROM plu", 3), (std::vector<std::vector<std::string>>{{"12", "0", "0"}}));
  EXPECT_EQ(one("SELECT COUNT(*) FROM orders"), "0");
  std::vector<uint8_t> after(80);
  ASSERT_EQ(engine->GetPluRecord(code.c_str(), after.data()), n);
  EXPECT_EQ(after, before);
}

}  // namespace
