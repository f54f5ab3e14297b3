// Sale computations and line builders on the demo shop's settings (tax rates
// 10 % in slot 0 and 8 % in slot 1).
#include <cstring>

#include "app/register/engine/records.h"
#include "app/register/engine/sale_calc.h"
#include "app/register/demo_project.h"
#include "app/register/sale_lines.h"

using namespace varnex::reg;
using varnex_test::DemoProject;
using varnex_test::itemLine;
using varnex_test::keyLine;
using varnex_test::Line;

namespace {

class SaleCalcTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
  }
  void setTaxWord(uint16_t word) { putU16(engine->Settings(), settings::kTaxWord, word); }
  void setMasks(const char* mask1, const char* mask2) {
    putText(engine->Settings(), settings::kPriceMask1.offset, settings::kPriceMask1.size, mask1);
    putText(engine->Settings(), settings::kPriceMask2.offset, settings::kPriceMask2.size, mask2);
  }
  std::string name(const Line& l, uint16_t offset, uint16_t width) { return getText(l.data(), offset, width); }
};

TEST_F(SaleCalcTest, UnitRounding) {
  struct Case {
    uint16_t mode;
    int32_t in, out;
  };
  const Case cases[] = {{1, 1234, 1230}, {1, -1234, -1230}, {1, 1237, 1235}, {2, 1239, 1230},
                        {2, -1239, -1230}, {0, 1239, 1239}, {3, 1239, 1239}};
  for (const Case& c : cases) {
    setTaxWord(static_cast<uint16_t>(c.mode << 4));
    EXPECT_EQ(engine->RoundUnit(c.in), c.out) << "mode " << c.mode << " amount " << c.in;
  }
}

TEST_F(SaleCalcTest, LineAndItemTax) {
  struct Case {
    uint16_t taxWord;
    uint16_t lineFlags;
    int32_t amount, result;
  };
  const uint16_t rate1 = 1 << line::kRateShift;
  const Case lines[] = {
      {0, 0, 1000, 1100},                          // outer tax, 10 %
      {0, rate1, 256, 276},                        // 8 %, 20.48 rounded toward zero
      {1, rate1, 256, 276},                        // half away from zero: 20.48 stays 20
      {1, 0, 1005, 1106},                          // ... and 100.5 becomes 101
      {2, rate1, 256, 277},                        // away from zero
      {0, line::kInnerTax, 1100, 1100},            // inner-tax lines keep their amount
      {0, line::kNonTaxable, 500, 500},
      {0, line::kTaxExempt, 500, 500},
      {0x200, line::kInnerTax, 1000, 910},         // inner-tax base: net of 1000 at 10 %
      {0x200, 0, 1000, 1000},
  };
  for (const Case& c : lines) {
    setTaxWord(c.taxWord);
    EXPECT_EQ(engine->ApplyLineTax(c.lineFlags, c.amount), c.result)
        << "word " << c.taxWord << " flags " << c.lineFlags << " amount " << c.amount;
  }
  const uint16_t itemRate1 = 1 << attribute::kRateShift;
  const Case items[] = {
      {0, 0, 1000, 1100},
      {0, itemRate1, 256, 276},
      {0, attribute::kInnerTax, 1100, 1100},
      {0, attribute::kNonTaxable, 500, 500},
      {0x200, attribute::kInnerTax, 1000, 910},
      {0x200, attribute::kInnerTax | attribute::kNonTaxable, 1000, 1000},
      {0x200, 0, 1000, 1000},
  };
  for (const Case& c : items) {
    setTaxWord(c.taxWord);
    EXPECT_EQ(engine->ApplyItemTax(c.lineFlags, c.amount), c.result)
        << "word " << c.taxWord << " flags " << c.lineFlags << " amount " << c.amount;
  }
}

TEST_F(SaleCalcTest, SumsOverRates) {
  setTaxWord(0);
  const int32_t amounts[4] = {1000, 256, 0, 0};
  EXPECT_EQ(CRegCom::SumOfRates(amounts), 1256);
  EXPECT_EQ(engine->OuterTaxOfRates(amounts), 100 + 20);
  const int32_t gross[4] = {1100, 1080, 0, 0};
  EXPECT_EQ(engine->NetOfInnerRates(gross), 1000 + 1000);
}

TEST_F(SaleCalcTest, LinesAddToTheTotalsBlock) {
  setTaxWord(0);
  struct Case {
    const char* what;
    Line line;
    std::vector<std::pair<int, int32_t>> moved;  // word, amount
  };
  const Case cases[] = {
      {"outer-tax item at 8 %", itemLine(1, 2, 128, "", 1),
       {{saletotal::kSale, 276}, {saletotal::kOuterTaxable + 1, 256}, {saletotal::kSpecialBase, 256},
        {saletotal::kQuantity, 2}, {saletotal::kPointTarget, 256}}},
      {"inner-tax item", itemLine(5, 1, 1100, "", 0, line::kInnerTax),
       {{saletotal::kSale, 1100}, {saletotal::kInner, 1100}, {saletotal::kSpecialBase, 1000},
        {saletotal::kQuantity, 1}}},
      {"non-taxable item", itemLine(6, 1, 500, "", 0, line::kNonTaxable),
       {{saletotal::kSale, 500}, {saletotal::kExempt, 500}, {saletotal::kSpecialBase, 500},
        {saletotal::kQuantity, 1}}},
      {"exempt inner-tax item without special tax",
       itemLine(3, 1, 300, "", 1, line::kTaxExempt | line::kInnerTax | line::kNoSpecialTax),
       {{saletotal::kSale, 300}, {saletotal::kInner + 1, 300}, {saletotal::kExemptInner + 1, 300},
        {saletotal::kQuantity, 1}}},
      {"guest count", keyLine(kKeyFunction, 75, 3), {{saletotal::kGuests, 3}}},
      {"cash tender adds nothing", keyLine(kKeyTrans1, 1, 1000), {}},
      {"special local tax line", [] {
         Line l = varnex_test::systemLine(7, 30);
         return l;
       }(), {{saletotal::kSale, 33}, {saletotal::kOuterTaxable, 30}, {saletotal::kSpecialBase, 30}}},
  };
  for (const Case& c : cases) {
    int32_t t[saletotal::kWords] = {};
    engine->AddLineToTotals(c.line.data(), t);
    int32_t expected[saletotal::kWords] = {};
    for (const auto& [word, amount] : c.moved) expected[word] = amount;
    for (int w = 0; w < saletotal::kWords; ++w) EXPECT_EQ(t[w], expected[w]) << c.what << ": word " << w;
  }
}

TEST_F(SaleCalcTest, PriceCodeMasks) {
  struct Case {
    const char* mask1;
    const char* mask2;
    const char* code;
    int32_t result, which;
  };
  const Case cases[] = {
      {"20??????????", "", "2012345678906", 0, 1},   // price-embedded by mask 1
      {"20??????????", "", "2", 1, 0},               // too short for the second digit
      {"20??????????", "", "2112345678906", 1, 0},
      {"", "", "4912345000017", 1, 0},               // no masks: every code is ordinary
      {"", "", "", 0, 0},                            // an empty code
      {"", "21", "2112345678906", 0, 2},             // an empty mask matches nothing ...
      {"", "21", "4912345000017", 1, 0},             // ... so ordinary codes stay ordinary
      {"??????", "21", "4912345000017", 1, 0},       // a mask without a digit is empty
      {"2", "20", "2012345678906", 0, -1},           // both
  };
  for (const Case& c : cases) {
    setMasks(c.mask1, c.mask2);
    int32_t which = 99;
    EXPECT_EQ(engine->MatchPriceCodeMasks(c.code, &which), c.result)
        << "masks '" << c.mask1 << "' '" << c.mask2 << "' code " << c.code;
    EXPECT_EQ(which, c.which) << "code " << c.code;
  }
}

TEST_F(SaleCalcTest, OrderCodePattern) {
  auto setPattern = [&](const char* pattern) {
    char block[odbclink::kOrderBlockLen] = {};
    std::strncpy(block, pattern, sizeof block - 1);
    ASSERT_EQ(FileDBWrite(engine->Table(kOdbcLinkTable), odbclink::kOrderCode.offset, block, sizeof block),
              static_cast<int32_t>(sizeof block));
    ASSERT_EQ(engine->ReloadSettings(), 0);
  };
  setPattern("");
  EXPECT_EQ(engine->MatchOrderCodePattern("12345"), 0);
  setPattern("SSSSS");
  EXPECT_EQ(engine->MatchOrderCodePattern("A1234"), 1);
  EXPECT_EQ(engine->MatchOrderCodePattern("A123"), 0);
  setPattern("sSsS");
  EXPECT_EQ(engine->MatchOrderCodePattern("9999"), 1);
  setPattern("99XXXX");
  EXPECT_EQ(engine->MatchOrderCodePattern("991234"), 1);
  EXPECT_EQ(engine->MatchOrderCodePattern("981234"), 0);
  EXPECT_EQ(engine->MatchOrderCodePattern("9"), 0);
  EXPECT_EQ(engine->MatchOrderCodePattern(""), 0);
}

TEST(SaleFlags, LineAndItemFlagsConvert) {
  const uint16_t lineFlags = line::kPointTarget | line::kNoSpecialTax | line::kNonTaxable | line::kInnerTax |
                             (2 << line::kRateShift) | line::kVoid | line::kDouble;
  EXPECT_EQ(CRegCom::LineFlagsToItemFlags(lineFlags), 0x2E10);
  uint16_t back = line::kVoid | line::kDouble | line::kTaxExempt | line::kPointTarget;
  CRegCom::ItemFlagsToLineFlags(0x2E00, &back);  // no point target: that bit is cleared
  EXPECT_EQ(back, line::kVoid | line::kDouble | line::kTaxExempt | line::kNoSpecialTax | line::kNonTaxable |
                      line::kInnerTax | (2 << line::kRateShift) | (2 << 2));
}

TEST(SaleLines, TotalLines) {
  Line l(96, 0xAA);
  CRegCom::BuildTotalLine(l.data(), 3, 1, 0, 1);
  EXPECT_EQ(getU16(l.data(), line::kKeyCode), 0xD003);
  EXPECT_EQ(getU16(l.data(), line::kFlags), line::kClct);
  EXPECT_EQ(getText(l.data(), 0, 24), "＊＊＊＊＊＊＊＊＊＊＊＊");
  EXPECT_EQ(getText(l.data(), 24, 12), "************");
  EXPECT_EQ(getI32(l.data(), line::kPrice), 0);

  CRegCom::BuildTotalLine(l.data(), 0, 0, 1, 1);
  EXPECT_EQ(getU16(l.data(), line::kFlags), line::kCcts);
  EXPECT_EQ(getText(l.data(), 0, 24), " 合計 －－－－－－－－－");
  EXPECT_EQ(getText(l.data(), 24, 12), "ｺﾞｳｹｲ ------");
  CRegCom::BuildTotalLine(l.data(), 0, 0, 0, 1);
  EXPECT_EQ(getText(l.data(), 24, 12), "合計 -------");
  CRegCom::BuildTotalLine(l.data(), 0, 0, 0, 0);
  EXPECT_EQ(getU16(l.data(), line::kFlags), 0);
  EXPECT_EQ(getText(l.data(), 0, 24), "－－－－－－－－－－－－");
}

TEST(SaleLines, SystemAndTextLines) {
  struct Case {
    uint16_t kind;
    int32_t printForm;
    const char* display;
    const char* print;
    uint16_t flags;
  };
  const Case cases[] = {
      {0, 0, "小計", "小計", line::kDouble},
      {2, 0, "釣銭", "釣", 0},
      {20, 1, "個数", "個ｽｳ", line::kDouble | line::kCcts},
      {23, 0, "純売金額", "純売金額", line::kDouble},
      {26, 1, "粗利計算対象", "ｱﾗﾘｹｲｻﾝﾀｲｼｮｳ", 0},  // twelve half-width letters fill the field
      {40, 1, "合計", "ｺﾞｳｹｲ", line::kDouble},
      {53, 0, "獲得ポイント", "獲得ポイント", 0},
  };
  for (const Case& c : cases) {
    Line l(96, 0xAA);
    CRegCom::BuildSystemLine(l.data(), c.kind, 1234, 0, c.printForm);
    EXPECT_EQ(getU16(l.data(), line::kKeyCode), 0x8000 | c.kind);
    EXPECT_EQ(getText(l.data(), 0, 24), c.display) << c.kind;
    EXPECT_EQ(getText(l.data(), 24, 12), c.print) << c.kind;
    EXPECT_EQ(getU16(l.data(), line::kFlags), c.flags) << c.kind;
    EXPECT_EQ(getI32(l.data(), line::kUnit), 0);
    EXPECT_EQ(getI32(l.data(), line::kPrice), 1234);
    EXPECT_TRUE(isBlank(l.data(), 36, 28));
  }
  Line text(96, 0xAA);
  CRegCom::BuildTextLine(text.data(), std::string(100, 'x').c_str());
  EXPECT_EQ(getU16(text.data(), line::kKeyCode), 0xBFFF);
  EXPECT_EQ(getText(text.data(), 0, 64), std::string(64, 'x'));
  EXPECT_EQ(getU16(text.data(), line::kFlags), 0);
}

TEST_F(SaleCalcTest, ReportHeadingsAndTheirNumbers) {
  Line l(96, 0);
  engine->BuildReportHeader(l.data(), 1, 0, 1);
  EXPECT_EQ(getU16(l.data(), line::kKeyCode), 0xC001);
  EXPECT_EQ(getU16(l.data(), line::kFlags), line::kCcts);
  EXPECT_EQ(getText(l.data(), 0, 24), "＊  部門一括点検  ＊");
  engine->BuildReportHeader(l.data(), 12, 0, 1);
  EXPECT_EQ(getText(l.data(), 0, 24), "＊全体 PGM 点検    ＊");

  // Settlement headings fill the display name and count the day's reports.
  engine->BuildReportHeader(l.data(), 1, 0, 0);
  EXPECT_EQ(getText(l.data(), 0, 24), "＊  部門レポート精算  ＊");
  EXPECT_EQ(getU16(l.data(), line::kFlags), 0);
  EXPECT_EQ(getI32(l.data(), line::kPrice), 1);
  engine->BuildReportHeader(l.data(), 3, 0, 0);
  EXPECT_EQ(getText(l.data(), 0, 24), "＊グループレポート精算＊");

  FileDBHandle today = engine->PrfOpen(3, nullptr);
  ASSERT_NE(today, 0u);
  Line first(96, 0), reading(96, 0);
  engine->BuildReportHeader(first.data(), 1, 0, 0);
  engine->BuildReportHeader(reading.data(), 1, 0, 1);
  putI32(reading.data(), line::kPrice, 40);  // an X reading's heading is no settlement report
  ASSERT_EQ(FileDBRecWrite(today, 0, first.data()), 0);
  ASSERT_EQ(FileDBRecWrite(today, 1, reading.data()), 0);
  FileDBDelete(today);
  engine->BuildReportHeader(l.data(), 1, 0, 0);
  EXPECT_EQ(getI32(l.data(), line::kPrice), 2);
  engine->BuildReportHeader(l.data(), 2, 0, 0);
  EXPECT_EQ(getI32(l.data(), line::kPrice), 1);
}

TEST(SystemLineNames, EveryKindHasItsColumns) {
  EXPECT_STREQ(SystemLineName(4, kSystemPrintNameSa), "消ﾋ税");
  EXPECT_STREQ(SystemLineName(3, kSystemPrintNameSa), "課税額");  // no half-width form: the print name
  EXPECT_STREQ(SystemLineName(30, kSystemDisplayName), "１０，０００円");
  EXPECT_STREQ(SystemLineName(38, kSystemPrintName), "     1円");
  EXPECT_STREQ(SystemLineName(54, kSystemPrintNameSa), "ﾎﾟｲﾝﾄ残高");
  EXPECT_STREQ(SystemLineName(55, kSystemDisplayName), "");
}

}  // namespace
