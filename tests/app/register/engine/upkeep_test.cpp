// Upkeep of older projects: transaction keys with their key layout, the link
// columns of points and payments, the per-rate tax totalizers.
#include "app/register/engine/records.h"
#include "app/register/demo_project.h"

using namespace varnex::reg;
using varnex_test::DemoProject;

namespace {

class UpkeepTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
  }
  void clearNames(TableIndex t, int32_t n) { write(t, n, std::vector<uint8_t>(48, 0)); }
  void name(TableIndex t, int32_t n, const char* text) {
    auto r = read(t, n);
    putText(r.data(), transkey::kName.offset, transkey::kName.size, text);
    putText(r.data(), transkey::kPrintName.offset, transkey::kPrintName.size, text);
    write(t, n, r);
  }
  // Takes the keyboard key off the layout record of a register key code.
  void unbindKey(uint16_t keyCode) {
    uint8_t r[8];
    const int32_t n = engine->FindKeyByCode(keyCode, r);
    ASSERT_GE(n, 0);
    putU16(r, keylayout::kKeyWord.offset, 0);
    write(kKeyLayoutTable, n, std::vector<uint8_t>(r, r + 8));
  }
  // Removes the layout record of a register key code altogether.
  void dropKey(uint16_t keyCode) {
    uint8_t r[8];
    const int32_t n = engine->FindKeyByCode(keyCode, r);
    ASSERT_GE(n, 0);
    ASSERT_EQ(FileDBRecDelete(engine->Table(kKeyLayoutTable), n, n, nullptr), 0);
  }
  uint16_t boundFunction(uint16_t keyWord) {
    uint8_t r[8];
    return engine->GetKeyByCode(keyWord, r) >= 0 ? getU16(r, keylayout::kFunction.offset) : 0;
  }
  std::vector<uint8_t> linkRecord(uint32_t kind, uint16_t offset, uint16_t fieldWord, const char* column) {
    std::vector<uint8_t> r(80, 0);
    putU32(r.data(), odbclink::kKind.offset, kind);
    putU16(r.data(), odbclink::kFieldOffset.offset, offset);
    putU16(r.data(), odbclink::kFieldWord.offset, fieldWord);
    putText(r.data(), odbclink::kOuterTable.offset, 32, "items");
    putText(r.data(), odbclink::kOuterColumn.offset, 32, column);
    return r;
  }
};

TEST_F(UpkeepTest, CurrentProjectStaysAsItIs) {
  engine.reset();
  const auto before = varnex_test::snapshot(folder);
  engine = std::make_unique<CRegCom>();
  engine->SetDataFolder(folder.string());
  ASSERT_TRUE(open());
  EXPECT_EQ(engine->AddPointAndTaxKeys(), 1);
  EXPECT_EQ(engine->AddPaymentKeys(), 1);
  EXPECT_EQ(engine->CheckTransKeys(), 1);
  engine.reset();
  EXPECT_TRUE(before == varnex_test::snapshot(folder));
}

TEST_F(UpkeepTest, CodeSaleKeys) {
  // Record 6 named: the project has these keys; 7-9 stay as they are.
  for (int n = 7; n <= 9; ++n) clearNames(kTrans1Table, n);
  unbindKey(0x2008);
  EXPECT_EQ(engine->CheckTransKeys(), 1);
  EXPECT_EQ(text(read(kTrans1Table, 7), transkey::kName), "");
  EXPECT_EQ(boundFunction(0x3077), 0);

  // Record 7 alone named: 6, 8 and 9 get their names and keys.
  for (int n = 6; n <= 9; ++n) clearNames(kTrans1Table, n);
  name(kTrans1Table, 7, "自社券");
  unbindKey(0x2007);
  dropKey(0x200A);
  const int32_t layoutCount = FileDBRecGetSize(engine->Table(kKeyLayoutTable));
  EXPECT_EQ(engine->CheckTransKeys(), 1);
  EXPECT_EQ(text(read(kTrans1Table, 6), transkey::kName), "ｺｰﾄﾞ売2");
  EXPECT_EQ(text(read(kTrans1Table, 6), transkey::kPrintName), "ｺｰﾄﾞ売2");
  EXPECT_EQ(text(read(kTrans1Table, 7), transkey::kName), "自社券");
  EXPECT_EQ(text(read(kTrans1Table, 8), transkey::kName), "ｺｰﾄﾞ売4");
  EXPECT_EQ(text(read(kTrans1Table, 9), transkey::kName), "ｺｰﾄﾞ売5");
  // Shift+F7 goes back to the record that carries 0x2007; 0x200A had no
  // record, so one is appended; record 7 was skipped, so Shift+F8 stays free.
  EXPECT_EQ(boundFunction(0x3076), 0x2007);
  EXPECT_EQ(boundFunction(0x3079), 0x200A);
  EXPECT_EQ(boundFunction(0x3077), 0);
  EXPECT_EQ(FileDBRecGetSize(engine->Table(kKeyLayoutTable)), layoutCount + 1);
}

TEST_F(UpkeepTest, PointKeysKeepUserNames) {
  clearNames(kTrans1Table, 4);
  name(kTrans2Table, 9, "スタンプ");
  name(kTrans3Table, 8, "拡張1");
  name(kTrans3Table, 9, "両替");
  clearNames(kTrans3Table, 34);
  unbindKey(0x2005);
  EXPECT_EQ(engine->AddPointAndTaxKeys(), 1);
  EXPECT_EQ(text(read(kTrans1Table, 4), transkey::kName), "Ｐ使用");
  EXPECT_EQ(text(read(kTrans1Table, 4), transkey::kPrintName), "ﾎﾟｲﾝﾄ使用");
  EXPECT_EQ(text(read(kTrans2Table, 9), transkey::kName), "スタンプ");
  EXPECT_EQ(text(read(kTrans3Table, 8), transkey::kName), "予約");  // the old default name is replaced
  EXPECT_EQ(text(read(kTrans3Table, 9), transkey::kName), "両替");
  EXPECT_EQ(text(read(kTrans3Table, 34), transkey::kName), "減税");
  EXPECT_EQ(boundFunction(0x3073), 0x2005);
}

TEST_F(UpkeepTest, ReservationKeyNeedsItsLayoutRecord) {
  dropKey(0x403A);
  EXPECT_EQ(engine->AddPointAndTaxKeys(), 0);
}

TEST_F(UpkeepTest, FunctionKeysPastTheEndOfTheirTable) {
  // An older table of 30 function keys: records 34 and 35 come at their places.
  ASSERT_EQ(FileDBRecDelete(engine->Table(kTrans3Table), 30, 35, nullptr), 0);
  EXPECT_EQ(engine->AddPointAndTaxKeys(), 1);
  EXPECT_EQ(FileDBRecGetSize(engine->Table(kTrans3Table)), 36);
  EXPECT_EQ(text(read(kTrans3Table, 33), transkey::kName), "");
  EXPECT_EQ(text(read(kTrans3Table, 34), transkey::kName), "減税");
  EXPECT_EQ(text(read(kTrans3Table, 35), transkey::kName), "取引先");
}

TEST_F(UpkeepTest, TaxTotalizersMoveEveryOldRecord) {
  FileDBHandle fixed = engine->Table(kFixedTotalTable);
  struct Case {
    int32_t count;
    int32_t result;
    int32_t after;
  };
  for (const Case& c : {Case{18, 1, 36}, Case{20, 1, 38}, Case{35, 1, 53}, Case{36, 1, 36}, Case{17, 0, 17}}) {
    SCOPED_TRACE(c.count);
    ASSERT_EQ(FileDBRecDelete(fixed, 0, FileDBRecGetSize(fixed) - 1, nullptr), 0);
    for (int32_t n = 0; n < c.count; ++n) {
      std::vector<uint8_t> r(48, 0);
      putText(r.data(), 0, 24, "旧" + std::to_string(n));
      putI32(r.data(), fixedtotal::kAmount.offset, 1000 + n);
      write(kFixedTotalTable, n, r);
    }
    EXPECT_EQ(engine->AddPointAndTaxKeys(), c.result);
    ASSERT_EQ(FileDBRecGetSize(fixed), c.after);
    if (c.count >= 36 || c.result == 0) {
      EXPECT_EQ(text(read(kFixedTotalTable, 11), fixedtotal::kName), "旧11");
      continue;
    }
    EXPECT_EQ(text(read(kFixedTotalTable, 10), fixedtotal::kName), "旧10");
    EXPECT_EQ(text(read(kFixedTotalTable, 11), fixedtotal::kName), "外税課税額1");
    EXPECT_EQ(text(read(kFixedTotalTable, 11), fixedtotal::kPrintName), "ｿﾄ課税1");
    EXPECT_EQ(text(read(kFixedTotalTable, 22), fixedtotal::kName), "内税免税額2");
    EXPECT_EQ(text(read(kFixedTotalTable, 28), fixedtotal::kPrintName), "ｳﾁ免税3");
    EXPECT_EQ(getI32(read(kFixedTotalTable, 28).data(), fixedtotal::kAmount.offset), 0);
    // Every old record from 11 on, in order, behind the tax totalizers.
    for (int32_t n = 11; n < c.count; ++n) {
      auto r = read(kFixedTotalTable, 29 + (n - 11));
      EXPECT_EQ(text(r, fixedtotal::kName), "旧" + std::to_string(n));
      EXPECT_EQ(getI32(r.data(), fixedtotal::kAmount.offset), 1000 + n);
    }
  }
}

TEST_F(UpkeepTest, LinkColumnsOfPointsAndPayment) {
  // An older PLU link: the attribute word's digit limit (bits 0-4) and then
  // the refund bit at 5; no point-target bit yet.
  write(kOdbcLinkTable, 0, linkRecord(odbclink::kPlu, 36, 0, "code"));
  write(kOdbcLinkTable, 1, linkRecord(odbclink::kPlu, 52, 0x0500, "digits"));
  write(kOdbcLinkTable, 2, linkRecord(odbclink::kPlu, 52, 0x0105, "norefund"));
  write(kOdbcLinkTable, 3, linkRecord(odbclink::kPlu, 60, 0, "price"));
  write(kOdbcLinkTable, 4, linkRecord(odbclink::kSettlement, 88, 0, "cash"));
  write(kOdbcLinkTable, 5, linkRecord(odbclink::kSettlement, 92, 0, "card"));
  EXPECT_EQ(engine->AddPointAndTaxKeys(), 1);
  ASSERT_EQ(FileDBRecGetSize(engine->Table(kOdbcLinkTable)), 7);
  auto digits = read(kOdbcLinkTable, 1), point = read(kOdbcLinkTable, 2), refund = read(kOdbcLinkTable, 3);
  EXPECT_EQ(getU16(digits.data(), odbclink::kFieldWord.offset), 0x0400);
  EXPECT_EQ(getU16(point.data(), odbclink::kFieldWord.offset), 0x0104);
  EXPECT_EQ(getU16(point.data(), odbclink::kFieldOffset.offset), 52);
  EXPECT_TRUE(isBlank(point.data(), 16, 64));
  EXPECT_EQ(text(refund, odbclink::kOuterColumn), "norefund");
  EXPECT_EQ(getU16(refund.data(), odbclink::kFieldWord.offset), 0x0105);
  EXPECT_EQ(text(read(kOdbcLinkTable, 4), odbclink::kOuterColumn), "price");
  EXPECT_EQ(text(read(kOdbcLinkTable, 6), odbclink::kOuterColumn), "card");

  EXPECT_EQ(engine->AddPaymentKeys(), 1);
  EXPECT_EQ(getU16(read(kOdbcLinkTable, 6).data(), odbclink::kFieldOffset.offset), 96);

  // Both are current now: nothing changes, even the keys are left alone ...
  clearNames(kTrans1Table, 4);
  clearNames(kTrans1Table, 5);
  EXPECT_EQ(engine->AddPointAndTaxKeys(), 1);
  EXPECT_EQ(engine->AddPaymentKeys(), 1);
  EXPECT_EQ(FileDBRecGetSize(engine->Table(kOdbcLinkTable)), 7);
  EXPECT_EQ(text(read(kTrans1Table, 4), transkey::kName), "");
  // ... unless Shift and Ctrl are held, which re-runs the key upkeep.
  engine->SetForceUpkeepProbe([] { return true; });
  EXPECT_EQ(engine->AddPointAndTaxKeys(), 1);
  EXPECT_EQ(engine->AddPaymentKeys(), 1);
  EXPECT_EQ(FileDBRecGetSize(engine->Table(kOdbcLinkTable)), 7);
  EXPECT_EQ(text(read(kTrans1Table, 4), transkey::kName), "Ｐ使用");
  EXPECT_EQ(text(read(kTrans1Table, 5), transkey::kName), "ｺｰﾄﾞ売");
}

TEST_F(UpkeepTest, LinkWithoutTheExpectedColumnFails) {
  write(kOdbcLinkTable, 0, linkRecord(odbclink::kPlu, 60, 0, "price"));
  EXPECT_EQ(engine->AddPointAndTaxKeys(), 0);
  write(kOdbcLinkTable, 1, linkRecord(odbclink::kSettlement, 88, 0, "cash"));
  EXPECT_EQ(engine->AddPaymentKeys(), 0);
}

}  // namespace
