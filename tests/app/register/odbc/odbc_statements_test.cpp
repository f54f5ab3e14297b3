// The link's field map, statement texts with their parameters, value
// conversion, upkeep of older link records and the outside catalog, against
// each outside backend.
#include <algorithm>
#include <cstring>

#include "app/register/odbc/odbc_fixture.h"

using namespace varnex::reg;
using varnex_test::linkRecord;
using varnex_test::OdbcLinkTest;

namespace {

class OdbcMapTest : public OdbcLinkTest {
 protected:
  // Replaces every link record of the open engine.
  void relink(const std::vector<std::vector<uint8_t>>& records) {
    FileDBHandle link = engine->Table(kOdbcLinkTable);
    FileDBRecDelete(link, 0, std::max(0, FileDBRecGetSize(link) - 1), nullptr);
    for (size_t i = 0; i < records.size(); ++i) FileDBRecWrite(link, static_cast<int32_t>(i), records[i].data());
  }
};
VARNEX_ODBC_BACKENDS(OdbcMapTest);

TEST_P(OdbcMapTest, QuotesNamesAsTheDriverDoesSplittingASchema) {
  // Without a connection: brackets.
  ASSERT_TRUE(open());
  EXPECT_EQ(engine->QuoteSqlName("dbo.PLU"), "[dbo].[PLU]");
  // SQLite takes brackets; PostgreSQL reports the double quote.
  openLinked();
  const struct { const char* name; const char* brackets; const char* quotes; } cases[] = {
      {"dbo.PLU", "[dbo].[PLU]", "\"dbo\".\"PLU\""}, {".PLU", "[.PLU]", "\".PLU\""}, {"PLU.", "[PLU.]", "\"PLU.\""},
      {"PLU", "[PLU]", "\"PLU\""},                   {"a]b", "[a]]b]", "\"a]b\""},   {"a\"b", "[a\"b]", "\"a\"\"b\""}};
  for (const auto& c : cases) EXPECT_EQ(engine->QuoteSqlName(c.name), onPostgres() ? c.quotes : c.brackets) << c.name;
  EXPECT_EQ(engine->QuoteSqlName(nullptr), "");
}

TEST_P(OdbcMapTest, LoadsEachKindOrSwitchesItOff) {
  using odbclink::kCustomers;
  openLinked();
  auto load = [&](const std::vector<std::vector<uint8_t>>& records, uint32_t kind, std::string* text) {
    relink(records);
    int32_t count = 14;
    uint8_t descriptors[34][8];
    char names[34][32];
    const int32_t r = engine->BuildLinkSelect(kind, text, &count, descriptors, names, nullptr);
    return r < 0 ? -1 : count;
  };
  std::string text;
  EXPECT_EQ(load({linkRecord(kCustomers, 0, 28, 0, "T", "C1", 1), linkRecord(kCustomers, 32, 32, 0, "T", "C2")},
                 kCustomers, &text),
            2);
  EXPECT_EQ(text, quoted("SELECT [C1], [C2] FROM [T] WHERE [C1] = "));
  // No column names at all: off, without an error.
  EXPECT_EQ(load({linkRecord(kCustomers, 0, 28, 0, "", "", 1)}, kCustomers, &text), 0);
  // Two keys, two tables: the kind fails.
  EXPECT_EQ(load({linkRecord(kCustomers, 0, 28, 0, "T", "A", 1), linkRecord(kCustomers, 32, 32, 0, "T", "B", 1)},
                 kCustomers, &text),
            -1);
  EXPECT_EQ(load({linkRecord(kCustomers, 0, 28, 0, "T", "A", 1), linkRecord(kCustomers, 32, 32, 0, "U", "B")},
                 kCustomers, &text),
            -1);
  // Customers without a key: off. Sales lines need none.
  EXPECT_EQ(load({linkRecord(kCustomers, 32, 32, 0, "T", "B")}, kCustomers, &text), 0);
  EXPECT_EQ(load({linkRecord(odbclink::kSalesLines, 136, 4, 7, "S", "qty")}, odbclink::kSalesLines, &text), 1);
  EXPECT_EQ(text, quoted("SELECT [qty] FROM [S]"));
}

TEST_P(OdbcMapTest, UpdateAndInsertTextsBindEveryValueWithItsOwnLength) {
  openLinked({linkRecord(odbclink::kPlu, 36, 14, 0, "T", "K", 3, 12), linkRecord(odbclink::kPlu, 0, 24, 0, "T", "A", 0, 12),
              linkRecord(odbclink::kPlu, 60, 4, 7, "T", "B", 0, 4), linkRecord(odbclink::kPlu, 24, 12, 0, "T", "C", 0, 12)});
  uint8_t record[168] = {};
  putText(record, 0, 24, "abc");
  std::memset(record + 24, 'x', 12);  // a full field without a zero byte
  putI32(record, 60, 500);
  const OdbcField a{0, 24, 0, 0}, b{60, 4, 0, 7}, c{24, 12, 0, 0}, none{80, 4, 0, 7};
  OdbcStmt statement = platform::odbc::Statement::allocate(engine->OdbcDatabase()->Connection());
  std::string text;
  int32_t lengths[3] = {};
  const OdbcField two[] = {a, b};
  EXPECT_EQ(engine->BuildLinkUpdate(odbclink::kPlu, &text, 2, two, record, &statement, lengths), 2);
  EXPECT_EQ(text, quoted("UPDATE [T] SET [A] = ?, [B] = ? WHERE [K] = "));
  EXPECT_EQ(lengths[0], 3);  // the text alone, no terminating zero
  EXPECT_EQ(lengths[1], 4);
  statement->close();
  const OdbcField three[] = {a, b, c};
  EXPECT_EQ(engine->BuildLinkInsert(odbclink::kPlu, &text, 3, three, record, &statement, lengths), 3);
  EXPECT_EQ(text, quoted("INSERT INTO [T] ([A], [B], [C]) VALUES (?, ?, ?)"));
  EXPECT_EQ(lengths[0], 3);
  EXPECT_EQ(lengths[2], 12);
  statement->close();
  EXPECT_EQ(engine->BuildLinkUpdate(odbclink::kPlu, &text, 1, &none, record, &statement, lengths), 0);
  EXPECT_EQ(engine->BuildLinkUpdate(odbclink::kPlu, &text, 1, &b, record, &statement, lengths, 1), 1);
  EXPECT_EQ(text, quoted("UPDATE [T] SET [B] = COALESCE([B], 0) + ? WHERE [K] = "));
  OdbcDrop(&statement);
}

TEST_P(OdbcMapTest, AnUpdateReadsTheLinkRecordsOnlyUntilEveryFieldIsBound) {
  using odbclink::kPlu;
  using odbclink::kSalesLines;
  openLinked();
  uint8_t record[odbcplu::kLen] = {};
  putText(record, odbcplu::kName.offset, odbcplu::kName.size, "abc");
  const OdbcField name = linkField(odbcplu::kName), unlinked = linkField(odbcplu::kStock);
  const auto key = linkRecord(kPlu, 36, 14, 0, "T", "K", 3), a = linkRecord(kPlu, 0, 24, 0, "T", "A");
  const struct {
    const char* what;
    std::vector<std::vector<uint8_t>> records;
    uint32_t kind;
    OdbcField field;
    int32_t result;
    const char* text;  // of a result above 0
  } cases[] = {
      {"another table after the last field bound", {key, a, linkRecord(kPlu, 24, 12, 0, "U", "C")}, kPlu, name, 1,
       "UPDATE [T] SET [A] = ? WHERE [K] = "},
      {"a key after the last field bound", {a, key}, kPlu, name, -1, nullptr},
      {"no key, nothing bound", {a}, kPlu, unlinked, -1, nullptr},
      {"a key, nothing bound", {key, a}, kPlu, unlinked, 0, nullptr},
      {"sales lines need no key", {linkRecord(kSalesLines, 136, 4, 7, "S", "qty")}, kSalesLines, unlinked, 0, nullptr},
  };
  for (const auto& c : cases) {
    relink(c.records);
    OdbcStmt statement = platform::odbc::Statement::allocate(engine->OdbcDatabase()->Connection());
    std::string text;
    EXPECT_EQ(engine->BuildLinkUpdate(c.kind, &text, 1, &c.field, record, &statement, nullptr), c.result) << c.what;
    if (c.text) {
      EXPECT_EQ(text, quoted(c.text)) << c.what;
    }
  }
}

// The buffers the link fills and writes: every described field inside its
// buffer, none over another, each as wide as its kind.
TEST(OdbcBuffers, FieldsFitTheirBuffersWithoutOverlapping) {
  using namespace odbcplu;
  std::vector<FieldPlace> settlement = {odbcsettle::kTime, odbcsettle::kStore, odbcsettle::kSection,
                                        odbcsettle::kClerk};
  settlement.insert(settlement.end(), std::begin(odbcsettle::kTotals), std::end(odbcsettle::kTotals));
  const struct {
    const char* buffer;
    uint16_t length;
    std::vector<FieldPlace> fields;
  } buffers[] = {
      {"customer", odbccustomer::kLen,
       {odbccustomer::kCode, odbccustomer::kName, odbccustomer::kKeyword1, odbccustomer::kKeyword2,
        odbccustomer::kKeyword3, odbccustomer::kPointRate, odbccustomer::kPointBalance}},
      {"PLU", kLen,
       {kName, kPrintName, kCode, kDepartment, kAttributes, kListOrder, kUnitPrice, kCount, kAmount, kCost,
        kMarginBase, kPriceDivisor, kPurchasePrice, kSaleUnit, kBaseStock, kStock, kProperStock, kLeastOrder,
        kOrdered, kLeadDays, kOrderUnit, kStockError, kShortage}},
      {"order", odbcorder::kLen,
       {odbcorder::kNumber, odbcorder::kOrderer, odbcorder::kStatus, odbcorder::kDate, odbcorder::kSupplier,
        odbcorder::kItemCode, odbcorder::kName, odbcorder::kPrintName, odbcorder::kQuantity, odbcorder::kUnitPrice,
        odbcorder::kPurchasePrice, odbcorder::kDueDate, odbcorder::kDepartment, odbcorder::kTextNumber}},
      {"sales line", odbcsale::kLen,
       {odbcsale::kTime, odbcsale::kStore, odbcsale::kClerk, odbcsale::kDepartment, odbcsale::kCustomer,
        odbcsale::kName, odbcsale::kCode, odbcsale::kSubCode, odbcsale::kInnerTax, odbcsale::kNonTaxable,
        odbcsale::kTaxExempt, odbcsale::kNoSpecialTax, odbcsale::kCount, odbcsale::kUnitPrice, odbcsale::kAmount,
        odbcsale::kPurchasePrice}},
      {"settlement", odbcsettle::kLen, settlement},
      {"order-sales block", odbclink::kOrderBlockLen,
       {orderblock::kOrderer, orderblock::kSupplier, orderblock::kStatus, orderblock::kLeadDays, orderblock::kStore}},
  };
  for (const auto& b : buffers) {
    std::vector<FieldPlace> fields = b.fields;
    std::sort(fields.begin(), fields.end(),
              [](const FieldPlace& x, const FieldPlace& y) { return x.offset < y.offset; });
    uint16_t end = 0;
    for (const FieldPlace& f : fields) {
      const uint16_t at = f.offset;
      EXPECT_GE(at, end) << b.buffer << " " << at;
      EXPECT_LE(at + f.size, b.length) << b.buffer << " " << at;
      if (f.kind == FieldKind::Real) {
        EXPECT_EQ(f.size, 8) << b.buffer << " " << at;
      }
      if (f.kind == FieldKind::Date) {
        EXPECT_EQ(f.size, sizeof(platform::odbc::Timestamp)) << b.buffer << " " << at;
      }
      end = static_cast<uint16_t>(at + f.size);
    }
  }
}

TEST_P(OdbcMapTest, StoresFetchedValuesIntoRegisterFields) {
  ASSERT_TRUE(open());
  uint8_t record[168] = {};
  uint8_t text[8] = {0, 0, 6, 0, 0, 0, 0, 0}, number[8] = {4, 0, 4, 0, 0, 0, 7, 0}, date[8] = {2, 0, 2, 0, 0, 0, 14, 0},
          stamp[8] = {12, 0, 16, 0, 0, 0, 14, 0}, odd[8] = {40, 0, 4, 0, 0, 0, 9, 0};
  EXPECT_EQ(engine->OdbcColumnToItem(text, record, "りんごの", 8), 0);
  EXPECT_EQ(getText(record, 0, 6), "りんご");  // whole characters only
  const int32_t v = -42;
  EXPECT_EQ(engine->OdbcColumnToItem(number, record, &v, 4), 0);
  EXPECT_EQ(getI32(record, 4), -42);
  EXPECT_EQ(engine->OdbcColumnToItem(number, record + 100, &v, platform::odbc::kNullData), 0);
  EXPECT_EQ(getI32(record + 100, 4), 0);  // NULL leaves the zero
  platform::odbc::Timestamp t{2024, 3, 15, 10, 20, 30, 0};
  EXPECT_EQ(engine->OdbcColumnToItem(date, record + 40, &t, 16), 0);
  EXPECT_EQ(getU16(record + 40, 2), (44 << 9) | (3 << 5) | 15);
  EXPECT_EQ(engine->OdbcColumnToItem(stamp, record, &t, 16), 0);
  EXPECT_EQ(std::memcmp(record + 12, &t, 16), 0);
  EXPECT_EQ(engine->OdbcColumnToItem(odd, record, &v, 4), -1);
}

TEST_P(OdbcMapTest, UpkeepAdaptsOlderRecordsOnce) {
  ASSERT_TRUE(open());
  using odbclink::kPlu;
  const std::vector<std::vector<uint8_t>> old = {
      linkRecord(kPlu, 52, 2, 4, "T", "", 0, 4, 0x0104), linkRecord(kPlu, 84, 4, 7, "T", "cost"),
      linkRecord(kPlu, 88, 4, 7, "T", "unit"),           linkRecord(kPlu, 120, 4, 7, "T", "err"),
      linkRecord(kPlu, 124, 4, 7, "T", "short"),         linkRecord(odbclink::kOrders, 140, 4, 7, "O", "no"),
      linkRecord(odbclink::kSalesLines, 148, 4, 7, "S", "cost")};
  FileDBHandle link = engine->Table(kOdbcLinkTable);
  for (size_t i = 0; i < old.size(); ++i) FileDBRecWrite(link, static_cast<int32_t>(i), old[i].data());
  ASSERT_EQ(engine->CheckOdbcLinkRecords(), 0);
  auto at = [&](int n) { return std::make_pair(getU16(read(kOdbcLinkTable, n).data(), 4), getU16(read(kOdbcLinkTable, n).data(), 6)); };
  EXPECT_EQ(at(1), std::make_pair(uint16_t(84), uint16_t(8)));
  EXPECT_EQ(at(2), std::make_pair(uint16_t(92), uint16_t(4)));
  EXPECT_EQ(at(3), std::make_pair(uint16_t(124), uint16_t(14)));  // 120 moved to 124 and became the text
  EXPECT_EQ(at(4), std::make_pair(uint16_t(138), uint16_t(14)));  // 124 moved to 128, then became 138
  EXPECT_EQ(at(5), std::make_pair(uint16_t(140), uint16_t(14)));
  EXPECT_EQ(getU16(read(kOdbcLinkTable, 5).data(), 12), 3);
  EXPECT_EQ(at(6), std::make_pair(uint16_t(148), uint16_t(8)));
  const auto before = varnex_test::snapshot(folder / "Res");
  ASSERT_EQ(engine->CheckOdbcLinkRecords(), 0);
  EXPECT_EQ(varnex_test::snapshot(folder / "Res"), before);
}

TEST_P(OdbcMapTest, ListsTheOutsideTablesAndColumns) {
  openLinked();
  OdbcStmt statement = nullptr;
  ASSERT_EQ(engine->OdbcOpenTables(engine->OdbcDatabase(), &statement), 0);
  std::vector<std::string> tables;
  std::string name;
  int32_t r;
  while ((r = engine->OdbcFetchTable(&statement, &name)) == 1) tables.push_back(name);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(statement, nullptr);
  std::sort(tables.begin(), tables.end());
  std::vector<std::string> expected;
  for (const char* t : {"customers", "orders", "plu", "sales", "settlement"}) expected.push_back(schemaPrefix + t);
  EXPECT_EQ(tables, expected);
  ASSERT_EQ(engine->OdbcOpenColumns(engine->OdbcDatabase(), &statement, "main.customers"), 0);
  std::vector<std::string> columns;
  int16_t type = 0, balanceType = 0;
  while (engine->OdbcFetchColumn(&statement, &name, &type) == 1) {
    columns.push_back(name);
    if (name == "balance") balanceType = type;
  }
  EXPECT_EQ(columns, (std::vector<std::string>{"code", "name", "kw1", "kw2", "kw3", "balance"}));
  EXPECT_EQ(balanceType, platform::odbc::kSqlInteger);
}

}  // namespace
