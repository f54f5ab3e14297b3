// Customers, PLU items and orders read from the outside database.
#include <cstring>
#include <map>

#include "app/register/odbc/odbc_fixture.h"
#include "app/shell/frames/dpt_view.h"

using namespace varnex::reg;
using varnex_test::OdbcLinkTest;

namespace {

class OdbcLookupTest : public OdbcLinkTest {
 protected:
  void SetUp() override {
    OdbcLinkTest::SetUp();
    if (IsSkipped()) return;
    exec("INSERT INTO customers (code, name, kw1, balance) VALUES ('12', '鈴木', 'x', 10), ('120', '佐藤', NULL, 20), "
         "('13', '田中', NULL, 30), ('77', '高橋', '1234', 40), ('a''b;--c', '引用', NULL, 50)");
    exec("INSERT INTO plu (code, name, dept, listorder, price, stock) VALUES ('4900000000017', 'みかん', 1, 2, 150, 5), "
         "('4900000000024', 'ぶどう', 1, 1, 480, 0), ('4900000000031', 'もも', 1, NULL, 300, 0), "
         "('4900000000048', 'なし', 2, 1, 200, 0), ('DUP', '一', 3, 1, 1, 0), ('DUP', '二', 3, 2, 2, 0), "
         "('x''y;--', '記号', 4, 1, 10, 0)");
    exec("INSERT INTO orders (orderno, orderer, quantity, itemcode) VALUES (123, 1, 5, 'A'), (123, 2, 9, 'B'), (124, 3, 1, 'C')");
    openLinked();
  }
};
VARNEX_ODBC_BACKENDS(OdbcLookupTest);

TEST_P(OdbcLookupTest, FindsCustomersByCodeAndByPrefix) {
  uint8_t customer[208];
  OdbcStmt statement = nullptr;
  std::vector<std::string> names;
  ASSERT_EQ(engine->OdbcSelectByCode("12", customer, &statement), 1) << boxes->lastText();
  do names.push_back(getText(customer, 32, 32));
  while (engine->OdbcFetchNextByCode(customer, &statement) == 1);
  EXPECT_EQ(statement, nullptr);
  // Codes from 12 up to (not including) 13, and the keyword 1234.
  EXPECT_EQ(names, (std::vector<std::string>{"鈴木", "佐藤", "高橋"}));

  ASSERT_EQ(engine->OdbcSelectByCode("a'b;--c", customer, &statement), 1) << boxes->lastText();
  EXPECT_EQ(getText(customer, 32, 32), "引用");
  EXPECT_EQ(getText(customer, 0, 28), "a'b;--c");
  EXPECT_EQ(getI32(customer, 172), 50);
  EXPECT_EQ(engine->OdbcFetchNextByCode(customer, &statement), 0);
  EXPECT_EQ(engine->OdbcSelectByCode("99", customer, &statement), 0);
  EXPECT_EQ(engine->OdbcSelectByCode("", customer, &statement), 0);
  EXPECT_EQ(boxes->count(), 0u);
}

TEST_P(OdbcLookupTest, ReadsAPluItemThatTheRegisterThenKeeps) {
  uint8_t item[168];
  ASSERT_EQ(engine->OdbcSelectPlu("4900000000017", item), 1);
  EXPECT_EQ(getText(item, 0, 24), "みかん");
  EXPECT_EQ(getU16(item, 50), 1);
  EXPECT_EQ(getI32(item, 60), 150);
  EXPECT_EQ(getI32(item, 100), 5);
  EXPECT_EQ(getI32(item, 64), 0);  // NULL reads as zero
  // The first 80 bytes are laid out like the register's own PLU record.
  ASSERT_EQ(FileDBRecWrite(engine->Table(kPluTable), 0x7FFFFFFF, item), 0);  // appended
  std::vector<uint8_t> local(80);
  ASSERT_GE(engine->GetPluRecord("4900000000017", local.data()), 0);
  EXPECT_EQ(text(local, plu::kName), "みかん");
  EXPECT_EQ(getI32(local.data(), plu::kUnitPrice.offset), 150);

  EXPECT_EQ(engine->OdbcSelectPlu("DUP", item), 2);
  EXPECT_EQ(getText(item, 0, 24), "一");
  EXPECT_EQ(engine->OdbcSelectPlu("x'y;--", item), 1);
  EXPECT_EQ(getText(item, 0, 24), "記号");
  EXPECT_EQ(engine->OdbcSelectPlu("nothing", item), 0);
}

TEST_P(OdbcLookupTest, ListsADepartmentInDisplayOrder) {
  uint8_t item[168];
  OdbcStmt statement = nullptr;
  std::vector<std::string> names;
  ASSERT_EQ(engine->OdbcSelectByNumber(1, item, &statement), 1) << boxes->lastText();
  do names.push_back(getText(item, 0, 24));
  while (engine->OdbcFetchNextByNumber(item, &statement) == 1);
  // A foreign database skips items without a display order.
  EXPECT_EQ(names, (std::vector<std::string>{"ぶどう", "みかん"}));
  EXPECT_EQ(engine->OdbcSelectByNumber(9, item, &statement), 0);
  EXPECT_EQ(engine->OdbcSelectByNumber(0, item, &statement), 0);
}

// The picker lists a department's items from the outside database, in its
// display order, not the register's own (empty) copy of them.
TEST_P(OdbcLookupTest, PickerListsTheOutsideItems) {
  varnex::shell::CDptView picker(nullptr, engine.get(), 1, false, false);
  picker.Load(false);
  std::vector<std::string> names;
  for (int32_t i = 0; i < picker.Count(); ++i)
    if (!varnex::shell::CDptView::IsEmpty(picker.ItemAt(i))) names.push_back(getText(picker.ItemAt(i).data(), 0, 24));
  EXPECT_EQ(names, (std::vector<std::string>{"ぶどう", "みかん"}));
  EXPECT_EQ(picker.CodeOf(0), "4900000000024");
  EXPECT_EQ(getI32(picker.ItemAt(0).data(), 60), 480);
  EXPECT_EQ(boxes->count(), 0u);

  // Display-order editing writes the numbers back outside: みかん dragged
  // before ぶどう.
  varnex::shell::CDptView order(nullptr, engine.get(), 1, false, true);
  order.Load(false);
  ASSERT_EQ(order.CodeOf(1), "4900000000017");
  order.MoveItemTo(1, 0);
  EXPECT_EQ(one("SELECT listorder FROM plu WHERE code = '4900000000017'"), "1");
  EXPECT_EQ(one("SELECT listorder FROM plu WHERE code = '4900000000024'"), "2");
  EXPECT_EQ(order.CodeOf(0), "4900000000017");
}

TEST_P(OdbcLookupTest, FindsTheNewestOrderOfANumber) {
  uint8_t order[154];
  exec("UPDATE orders SET orderno = 123 WHERE orderer = 2");
  ASSERT_EQ(engine->OdbcSelectOrder("00123", order), 1) << boxes->lastText();
  EXPECT_EQ(getI32(order, 0), 123);
  EXPECT_EQ(getI32(order, 92) == 5 || getI32(order, 92) == 9, true);
  EXPECT_EQ(engine->OdbcSelectOrder("124", order), 1);
  EXPECT_EQ(getText(order, 42, 14), "C");
  EXPECT_EQ(engine->OdbcSelectOrder("999", order), -1);
  EXPECT_EQ(boxes->count(), 0u);  // not found is silent
}

TEST_P(OdbcLookupTest, WritesADisplayOrderByACodeWithQuotes) {
  std::vector<uint8_t> item(80, 0);
  putText(item.data(), plu::kCode.offset, plu::kCode.size, "x'y;--");
  putU16(item.data(), 54, 9);
  OdbcStmt statement = nullptr;
  ASSERT_EQ(engine->OdbcExecText(&statement, item.data()), 1) << boxes->lastText();
  OdbcDrop(&statement);
  EXPECT_EQ(one("SELECT listorder FROM plu WHERE code = 'x''y;--'"), "9");
  EXPECT_EQ(one("SELECT COUNT(*) FROM plu"), "7");
}

TEST_P(OdbcLookupTest, ALinkMadeFromTheCatalogsNamesAndTypesReadsAndPosts) {
  // The table as the listing names it (with its schema where the database
  // has one) and each column with the type the driver reports for it.
  OdbcStmt statement = nullptr;
  ASSERT_EQ(engine->OdbcOpenTables(engine->OdbcDatabase(), &statement), 0);
  std::string name, table;
  while (engine->OdbcFetchTable(&statement, &name) == 1)
    if (name.size() >= 9 && name.compare(name.size() - 9, 9, "customers") == 0) table = name;
  ASSERT_EQ(table, schemaPrefix + "customers");
  ASSERT_EQ(engine->OdbcOpenColumns(engine->OdbcDatabase(), &statement, table.c_str()), 0);
  std::map<std::string, int16_t> types;
  int16_t type = 0;
  while (engine->OdbcFetchColumn(&statement, &name, &type) == 1) types[name] = type;
  using odbclink::kCustomers;
  FileDBHandle link = engine->Table(kOdbcLinkTable);
  ASSERT_EQ(FileDBRecDelete(link, 0, FileDBRecGetSize(link) - 1, nullptr), 0);
  writeLink({varnex_test::linkRecord(kCustomers, 0, 28, 0, table.c_str(), "code", 3, types["code"]),
             varnex_test::linkRecord(kCustomers, 32, 32, 0, table.c_str(), "name", 0, types["name"]),
             varnex_test::linkRecord(kCustomers, 172, 4, 7, table.c_str(), "balance", 0, types["balance"])},
            connectString);
  ASSERT_EQ(engine->OdbcConnect(), 1) << boxes->lastText();
  ASSERT_EQ(engine->PrepareOdbcQueries(), 0);

  uint8_t customer[208];
  ASSERT_EQ(engine->OdbcSelectByCode("a'b;--c", customer, &statement), 1) << boxes->lastText();
  OdbcDrop(&statement);
  EXPECT_EQ(getText(customer, 32, 32), "引用");
  EXPECT_EQ(engine->OdbcPostCustomerPoints("a'b;--c", 5, 0), 1) << boxes->lastText();
  EXPECT_EQ(one("SELECT balance FROM customers WHERE code = 'a''b;--c'"), "55");
  EXPECT_EQ(boxes->count(), 0u);
}

}  // namespace
