// The sales list's columns of line records: full-width digits where they fit,
// half width with commas where they are long, the marks, the compact and the
// single-row forms, the closing record and "Rollback View".
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/register/engine/records.h"
#include "app/shell/app/reg_app.h"

using namespace varnex::reg;
using varnex::shell::CREGApp;

namespace {

struct Line {
  uint16_t type = kKeyDepartment, code = 1, flags = 0;
  int32_t unit = 0, unitPrice = 0, price = 0, unitNet = 0;
  std::string name = "青果";
};

std::vector<uint8_t> record(const Line& l) {
  std::vector<uint8_t> r(line::kSize, 0);
  putText(r.data(), line::kDisplayName, line::kDisplayNameLen, l.name);
  putU16(r.data(), line::kFlags, l.flags);
  putU16(r.data(), line::kKeyCode, makeKeyCode(l.type, l.code));
  putI32(r.data(), line::kUnit, l.unit);
  putI32(r.data(), line::kUnitPrice, l.unitPrice);
  putI32(r.data(), line::kPrice, l.price);
  putI32(r.data(), line::kUnitNet, l.unitNet);
  return r;
}

struct Columns {
  std::string name, quantity, unitPrice, amount;
};

Columns columns(const CREGApp& app, const Line& l) {
  Columns c;
  const auto r = record(l);
  app.GetLineColumns(r.data(), &c.name, &c.quantity, &c.unitPrice, &c.amount);
  return c;
}

std::string spaces(size_t n) { return std::string(n, ' '); }

TEST(LineColumnsTest, QuantityUnitPriceAndAmount) {
  CREGApp app;
  struct Case {
    const char* what;
    Line line;
    std::string quantity, unitPrice, amount;
  };
  auto item = [](int32_t unit, int32_t unitPrice, int32_t price) {
    Line l;
    l.unit = unit;
    l.unitPrice = unitPrice;
    l.price = price;
    return l;
  };
  Line points;
  points.type = kKeySystemLine;
  points.code = 53;
  points.price = 120;
  Line manyPoints = points;
  manyPoints.price = 12345678;
  Line code28;
  code28.type = kKeyTrans2;
  code28.code = 28;
  code28.unit = 4;
  code28.price = 123;
  Line percent;
  percent.type = kKeyTrans2;
  percent.code = 31;
  percent.unit = 1;
  percent.unitPrice = 10;
  percent.price = -50;
  const Case cases[] = {
      {"a few", item(5, 128, 640), "      ５", spaces(8) + "１２８", spaces(18) + "６４０"},
      {"quantity 1500", item(1500, 1, 1500), "   1,500", spaces(12) + "１", spaces(14) + "１，５００"},
      {"amount at the full-width limit", item(1, 9999999, 9999999), spaces(6) + "１", "     9,999,999",
       spaces(6) + "９，９９９，９９９"},
      {"negative amount at the limit", item(-1, 9999999, -9999999), "    －１", "     9,999,999",
       spaces(4) + "－９，９９９，９９９"},
      {"long amount", item(1, 999999, 10000000), spaces(6) + "１", "９９９，９９９", spaces(14) + "10,000,000"},
      {"longest amount", item(1, 1000000, -2147483647 - 1), spaces(6) + "１", "     1,000,000",
       spaces(10) + "-2,147,483,648"},
      {"points", points, "", "", spaces(16) + "１２０Ｐ"},
      {"many points", manyPoints, "", "", spaces(13) + "12,345,678P"},
      {"code of 4 digits", code28, "", "", spaces(14) + "＃０１２３"},
      {"percent off", percent, "", spaces(6) + "－１０％", spaces(18) + "－５０"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Columns got = columns(app, c.line);
    EXPECT_EQ(got.name, c.line.name);
    EXPECT_EQ(got.quantity, c.quantity);
    EXPECT_EQ(got.unitPrice, c.unitPrice);
    EXPECT_EQ(got.amount, c.amount);
  }
}

TEST(LineColumnsTest, MarksBesideTheAmount) {
  CREGApp app;
  app.m_strTaxOut = "ab  ";
  app.m_strTaxIn = "xyzw";
  Line l;
  l.unit = 1;
  l.unitPrice = 100;
  l.price = 100;
  l.flags = static_cast<uint16_t>(line::kInnerTax | line::kNonTaxable | line::kNoSpecialTax | line::kTaxExempt |
                                  (1 << line::kRateShift));
  EXPECT_EQ(columns(app, l).amount, "y*/$" + spaces(14) + "１００");
  l.flags = 1 << line::kRateShift;
  EXPECT_EQ(columns(app, l).amount, "b" + spaces(17) + "１００");
  l.flags = line::kClct;
  EXPECT_EQ(columns(app, l).amount, "訂正" + spaces(14) + "１００");
}

// Where full width does not fit the column, half width is shown instead of a
// row of stars.
TEST(LineColumnsTest, FiguresTooWideForFullWidthGoHalfWidth) {
  CREGApp app;
  Line weight;
  weight.type = kKeyReportTotal;
  weight.code = 75;
  weight.unit = 150;
  EXPECT_EQ(columns(app, weight).quantity, "１．５０");
  weight.unit = -50;
  EXPECT_EQ(columns(app, weight).quantity, "   -0.50");
  weight.unit = 123456;
  EXPECT_EQ(columns(app, weight).quantity, " 1234.56");

  Line many;
  many.unit = 2147483647;
  many.price = 1;
  Columns compact;
  const auto r = record(many);
  app.GetLineColumns(r.data(), &compact.name, &compact.quantity, &compact.unitPrice, nullptr);
  EXPECT_EQ(compact.quantity, spaces(9) + "2,147,483,647");
}

TEST(LineColumnsTest, CompactAndSingleRowForms) {
  CREGApp app;
  Line l;
  l.unit = 5;
  l.unitPrice = 128;
  l.price = 640;
  const auto r = record(l);
  Columns c;
  app.GetLineColumns(r.data(), &c.name, &c.quantity, &c.unitPrice, nullptr);
  EXPECT_EQ(c.quantity, spaces(20) + "５");
  EXPECT_EQ(c.unitPrice, spaces(18) + "６４０");  // the amount

  std::string row;
  app.GetLineColumns(r.data(), &row, nullptr, nullptr, nullptr);
  EXPECT_EQ(row, "青果" + spaces(20) + "      ５" + spaces(8) + "１２８" + spaces(18) + "６４０");
  EXPECT_EQ(row.size(), 70u);
}

TEST(LineColumnsTest, ClosingRecordIsOneRowCutIntoColumns) {
  CREGApp app;
  Line closing;
  closing.type = kKeyClosing;
  closing.code = kModeRegister1;
  closing.flags = line::kClct;
  closing.unit = 3;
  closing.unitPrice = static_cast<int32_t>((dosDate(2024, 5, 1) << 16) | (10 << 11) | (25 << 5));
  closing.price = 42;
  closing.unitNet = 100;
  const auto r = record(closing);
  std::string row;
  app.GetLineColumns(r.data(), &row, nullptr, nullptr, nullptr);
  EXPECT_EQ(row, spaces(16) + "     " + "    3 点" + "      " + " REG1 " + "        " + "10:25" + spaces(11) +
                     "00142");
  EXPECT_EQ(row.size(), 70u);
  const Columns c = columns(app, closing);
  EXPECT_EQ(c.name + c.quantity + c.unitPrice + c.amount, row);

  closing.code = kModeSettlement;
  const Columns z = columns(app, closing);
  EXPECT_EQ(z.quantity, spaces(8));
  EXPECT_EQ(z.unitPrice, spaces(3) + "  Ｚ  " + spaces(5));
}

TEST(LineColumnsTest, SeparatorsHeadingsAndFreeText) {
  CREGApp app;
  Line separator;
  separator.type = kKeySeparator;
  Columns c = columns(app, separator);
  EXPECT_EQ(c.quantity, "－－－－");
  EXPECT_EQ(c.unitPrice, "－－－－－－－");
  EXPECT_EQ(c.amount, "－－－－－－－－－－－－");
  separator.flags = line::kClct;
  EXPECT_EQ(columns(app, separator).quantity, "＊＊＊＊");

  Line heading;
  heading.type = kKeyReportHeading;
  heading.unit = 3;
  heading.unitPrice = 5;
  heading.price = 7;
  c = columns(app, heading);
  EXPECT_EQ(c.quantity, "");
  EXPECT_EQ(c.unitPrice, "");
  EXPECT_EQ(c.amount, spaces(20) + "0007");

  Line text;
  text.type = kKeyReportTotal;
  text.code = 4095;
  text.name = "";
  auto r = record(text);
  const std::string free = "ご来店ありがとうございました 又のお越しを";  // 41 bytes over the fields
  std::memcpy(r.data(), free.data(), free.size());
  app.GetLineColumns(r.data(), &c.name, &c.quantity, &c.unitPrice, &c.amount);
  EXPECT_EQ(c.name + c.quantity + c.unitPrice + c.amount, free + spaces(70 - free.size()));
  EXPECT_EQ(c.amount.size(), 24u);
}

// "Rollback View" shows a void line negated; the record keeps its values.
TEST(LineColumnsTest, RollbackViewNegatesVoidLinesOnly) {
  CREGApp app;
  app.m_bRollbackView = 1;
  Line l;
  l.flags = line::kVoid;
  l.unit = 2;
  l.unitPrice = 128;
  l.price = 256;
  const auto r = record(l);
  const auto kept = r;
  Columns c;
  app.GetLineColumns(r.data(), &c.name, &c.quantity, &c.unitPrice, &c.amount);
  EXPECT_EQ(c.quantity, "    －２");
  EXPECT_EQ(c.amount, spaces(16) + "－２５６");
  EXPECT_EQ(r, kept);
  l.flags = 0;
  EXPECT_EQ(columns(app, l).amount, spaces(18) + "２５６");
  app.m_bRollbackView = 0;
  l.flags = line::kVoid;
  EXPECT_EQ(columns(app, l).amount, spaces(18) + "２５６");
}

}  // namespace
