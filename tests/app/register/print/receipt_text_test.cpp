// Receipt texts as bytes: item, double-width and footer lines at the four
// paper widths, the head with its date, message lines, the formal receipt
// block, system lines with their rates, tax-inclusive printing and report
// lines. A printer without an engine reads an empty settings record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/register/print/receipt_printer.h"
#include "app/register/engine/records.h"
#include "app/register/demo_project.h"
#include "zemta/tax.h"

namespace {

using namespace varnex::reg;
using Line = std::vector<uint8_t>;

const std::string SO = "\x0E", SI = "\x0F", ESC = "\x1B";

Line itemLine(const char* name, int32_t quantity, int32_t unitPrice, uint16_t flags = 0, uint16_t type = 1,
              uint16_t code = 1) {
  Line l(line::kSize, 0);
  putText(l.data(), line::kDisplayName, line::kDisplayNameLen, name);
  putText(l.data(), line::kPrintName, line::kPrintNameLen, name);
  putU16(l.data(), line::kFlags, flags);
  putU16(l.data(), line::kKeyCode, makeKeyCode(type, code));
  putI32(l.data(), line::kUnit, quantity);
  putI32(l.data(), line::kUnitPrice, unitPrice);
  putI32(l.data(), line::kPrice, quantity * unitPrice);
  return l;
}

Line closingLine(uint16_t mode, const char* clerk, int32_t items, uint16_t date, uint16_t time, uint16_t receipt,
                 int32_t total) {
  Line l(line::kSize, 0);
  putText(l.data(), line::kPrintName, line::kPrintNameLen, clerk);
  putU16(l.data(), line::kFlags, line::kClct);
  putU16(l.data(), line::kKeyCode, closingKey(mode));
  putI32(l.data(), line::kUnit, items);
  putU32(l.data(), line::kUnitPrice, (static_cast<uint32_t>(date) << 16) | time);
  putU32(l.data(), line::kPrice, receipt);
  putI32(l.data(), line::kNetPrice, total);
  return l;
}

void setWidth(CReceiptPrinter& p, int32_t columns) {
  p.m_nPrnCol = columns;
  p.m_bNarrowLayout = columns < 42 ? 1 : 0;
}

// The columns a text takes on paper (control bytes take none, a double-byte
// character two, double width twice as many).
int32_t columnsOf(const std::string& text) {
  int32_t col = 0;
  bool wide = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b == 0x0E || b == 0x0F) {
      wide = b == 0x0E;
      continue;
    }
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    col += (lead ? 2 : 1) * (wide ? 2 : 1);
    if (lead) ++i;
  }
  return col;
}

TEST(ReceiptText, ItemLineAtEachWidth) {
  struct Case {
    int32_t columns;
    std::string expected;
  } cases[] = {
      {46, "ITEM         " "        3" "X     @120" "          \x5C" "360"},
      {42, "ITEM         " "        3" "X     @120" "      \x5C" "360"},
      {35, "ITEM         " "\r\n " "             3" "X     @120" "      \x5C" "360"},
      {30, "ITEM         " "\r\n " "        3" "X     @120" "      \x5C" "360"},
  };
  CReceiptPrinter printer;
  const Line item = itemLine("ITEM", 3, 120);
  for (const Case& c : cases) {
    setWidth(printer, c.columns);
    const std::string text = printer.BuildLineText(item.data(), 0, nullptr, 0);
    EXPECT_EQ(text, c.expected) << c.columns << " columns";
    const size_t lastLine = text.rfind('\n');
    const int32_t used = columnsOf(lastLine == std::string::npos ? text : text.substr(lastLine + 1));
    EXPECT_EQ(used, c.columns) << c.columns << " columns";
  }
  setWidth(printer, 46);
  EXPECT_EQ(printer.BuildLineText(item.data(), 0, nullptr, 0).size(), 46u);
}

TEST(ReceiptText, QuantityOneNegativeAndCountLines) {
  CReceiptPrinter printer;
  setWidth(printer, 46);
  const Line one = itemLine("ITEM", 1, 120);
  EXPECT_EQ(printer.BuildLineText(one.data(), 0, nullptr, 0),
            "ITEM         " "        1" "          " "          \x5C" "120");
  const Line negative = itemLine("ITEM", 1, -120);
  EXPECT_EQ(printer.BuildLineText(negative.data(), 0, nullptr, 0).substr(22), "          " "          -120");
  // A corrected line shows 訂正 in its quantity.
  const Line corrected = itemLine("ITEM", 2, 50, line::kClct);
  EXPECT_EQ(printer.BuildLineText(corrected.data(), 0, nullptr, 0).substr(13, 9), "訂正    2");
}

TEST(ReceiptText, DoubleWidthLineAtEachWidth) {
  CReceiptPrinter printer;
  Line subtotal = itemLine("小計", 0, 0, line::kDouble, 8, 0);
  putI32(subtotal.data(), line::kPrice, 1234);
  const std::string amount = "     \x5C" "1,234" + SI;
  struct Case {
    int32_t columns;
    std::string expected;
  } cases[] = {
      {46, SO + "小計" + std::string(8, ' ') + amount},
      {42, SO + "小計" + std::string(6, ' ') + amount},
      {35, SO + "小計  " + SI + " " + SO + amount},
      {30, "小計    " + SO + amount},
  };
  for (const Case& c : cases) {
    setWidth(printer, c.columns);
    const std::string text = printer.BuildLineText(subtotal.data(), 0, nullptr, 0);
    EXPECT_EQ(text, c.expected) << c.columns;
    EXPECT_EQ(columnsOf(text), c.columns) << c.columns;
  }
}

TEST(ReceiptText, FooterAtEachWidth) {
  CReceiptPrinter printer;
  const Line closing = closingLine(kModeRegister1, "CLERK01", 3, dosDate(2024, 1, 5), (10 << 11) | (5 << 5), 42, 360);
  struct Case {
    int32_t columns;
    std::string expected;
  } cases[] = {
      {46, "\r\nCLERK01     3 点    REG1    10:05        00042"},
      {42, "\r\nCLERK01     3 点    REG1    10:05    00042"},
      {35, "\r\nCLERK01     3点  REG1  10:05  00042"},
      {30, "\r\nCLERK01   3点 REG1 10:05 00042"},
  };
  for (const Case& c : cases) {
    setWidth(printer, c.columns);
    const std::string text = printer.BuildLineText(closing.data(), 0, nullptr, 0);
    EXPECT_EQ(text, c.expected) << c.columns;
    EXPECT_EQ(columnsOf(text.substr(2)), c.columns) << c.columns;
  }
}

TEST(ReceiptText, NumberLineKeepsItsField) {
  // Type 3 code 28 prints a number of |unit| digits in a 14-column field; a
  // digit count beyond the field is held to it.
  CReceiptPrinter printer;
  setWidth(printer, 46);
  Line number = itemLine("CARD", 6, 0, 0, 3, 28);
  putI32(number.data(), line::kPrice, 1234);
  EXPECT_EQ(printer.BuildLineText(number.data(), 0, nullptr, 0),
            "CARD         " + std::string(9, ' ') + "        #" + std::string(8, ' ') + "001234#");
  putI32(number.data(), line::kUnit, 4000);
  const std::string wide = printer.BuildLineText(number.data(), 0, nullptr, 0);
  EXPECT_EQ(wide.size(), 46u);
  EXPECT_EQ(wide.substr(31), "00000000001234#");
}

TEST(ReceiptText, NamesAreNeverCutInsideACharacter) {
  // A 12-byte print name of six double-byte characters cut to 8 columns (the
  // clerk's name of the footer) keeps whole characters.
  CReceiptPrinter printer;
  setWidth(printer, 46);
  Line closing = closingLine(kModeRegister1, "Aあいうえお", 1, dosDate(2024, 1, 5), 0, 1, 1);
  const std::string text = printer.BuildLineText(closing.data(), 0, nullptr, 0);
  EXPECT_EQ(text.substr(2, 8), "Aあいう ");
}

TEST(ReceiptText, DecodeControlText) {
  struct Case {
    std::string text, bytes;
  } cases[] = {
      {"\\x1D\\q", "\x1D"},
      {"\\x1B\\x69", "\x1B\x69"},
      {"\\r\\n\\t\\\\", "\r\n\t\\"},
      {"ab\\x1", "ab"},
      {"\\x1b\\x70\\x00\\x19\\xfa", std::string("\x1B\x70\x00\x19\xFA", 5)},
      {"表\\x0A", "表\n"},  // the trail byte of 表 is 0x5C and starts no escape
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(DecodeControlText(c.text, &out), static_cast<int32_t>(c.bytes.size())) << c.text;
    EXPECT_EQ(out, c.bytes) << c.text;
  }
}

class ReceiptTextDemo : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    printer.SetPrintEngine(engine.get());
    setWidth(printer, 46);
    std::memset(engine->Settings() + settings::kReceiptMessage.offset, 0, 230);
  }
  void setStore(const std::string& name) {
    putText(engine->Settings(), settings::kStoreText.offset, settings::kStoreText.size, name);
  }
  void setMessage(int line, const std::string& text) {
    putText(engine->Settings(), settings::kReceiptMessage.offset + line * 46, 46, text);
  }
  void setForm(int form) {
    uint8_t& b = engine->Settings()[settings::kReceiptForm.offset];
    b = static_cast<uint8_t>((b & ~0x1F) | form);
  }
  CReceiptPrinter printer;
};

TEST_F(ReceiptTextDemo, HeadWithDate) {
  setStore("ABC");
  setForm(0);
  std::string head;
  uint16_t date = dosDate(2024, 1, 5);
  printer.BuildReceiptHead(head, kModeRegister1, &date, 360, 0, nullptr, nullptr);
  EXPECT_EQ(head, "ABC" + std::string(21, ' ') + "    " + "2024年 1月 5日(金)");

  // With messages: each message line ends in CR LF before the store line.
  setMessage(0, "Thank you");
  printer.m_bPrnBlank = 2;
  printer.BuildReceiptHead(head, kModeRegister1, &date, 360, 0, nullptr, nullptr);
  EXPECT_EQ(head, "\r\n\r\nThank you\r\n\r\n\r\n\r\n\r\n\r\nABC" + std::string(25, ' ') + "2024年 1月 5日(金)");
}

TEST_F(ReceiptTextDemo, TitlesOfTheHead) {
  setStore("ABC");
  setForm(1);
  std::string head;
  uint16_t date = dosDate(2024, 1, 5);
  // A refund with a positive total: the refund title, no formal block.
  printer.BuildReceiptHead(head, kModeRefund, &date, 500, 0, nullptr, nullptr);
  EXPECT_EQ(head.substr(0, 12 + 1 + 11 + 3), std::string(11, ' ') + SO + " 払い戻し票" + SI + "\r\n\n");
  EXPECT_EQ(head.find("金額"), std::string::npos);
  // Purchase note.
  printer.BuildReceiptHead(head, kModeRegister1, &date, 500, 0, nullptr, nullptr);
  EXPECT_NE(head.find(SO + "お 買 上 票" + SI + "\r\n" + std::string(11, ' ') + "毎度ありがとうございます\r\n\n"),
            std::string::npos);
  // Formal receipt with details: title, store and date, the block, 明細.
  setForm(3);
  printer.BuildReceiptHead(head, kModeRegister1, &date, 500, 0, nullptr, nullptr);
  EXPECT_EQ(head.find(std::string(11, ' ') + SO + "領   収   証" + SI), 0u);
  EXPECT_NE(head.find("金額"), std::string::npos);
  EXPECT_EQ(head.substr(head.size() - 8), "\r\n明細\r\n");
}

TEST_F(ReceiptTextDemo, FormalBlockWithAndWithoutStampBox) {
  putI32(engine->Settings(), settings::kStampThreshold.offset, 50000);
  Line heading(line::kSize, 0);
  putText(heading.data(), line::kDisplayName, line::kDisplayNameLen, "山田商店");
  const std::string name = "\r\n" + ESC + "X" + "山田商店" + " 様" + ESC + "Y" + "\r\n";
  const std::string amountLine = "\r\n" + SO + ESC + "X" + "金額" + "   \x5C" "54,000" + "-" + ESC + "Y" + SI + "\r\n";
  const std::string P(32, ' ');
  const std::string withBox = printer.BuildFormalBlock(54000, 1, heading.data(), "お品代");
  EXPECT_EQ(withBox, name + amountLine + P + " -----------  " + "但し " + "お品代" + std::string(21, ' ') +
                         "|           | " + P + "|  収   入  | " + P + "|           | " + P + "|  印   紙  | " +
                         P + "|           | " + P + " -----------  " + "  上記の金額正に領収いたしました\r\n");
  // Every box line fills the paper.
  EXPECT_EQ(columnsOf(P + " -----------  "), 46);
  EXPECT_EQ(columnsOf("但し お品代" + std::string(21, ' ') + "|  収   入  | "), 46);

  const std::string noBox = printer.BuildFormalBlock(49999, 1, heading.data(), "お品代");
  EXPECT_EQ(noBox.find("収   入"), std::string::npos);
  EXPECT_NE(noBox.find("\r\n但し お品代\r\n\n  上記の金額正に領収いたしました\r\n"), std::string::npos);
  EXPECT_NE(noBox.find("\x5C" "49,999-"), std::string::npos);
}

// A customer's name is the customer line's 36 bytes, over its display and
// print names: a 30-byte name prints whole above the items and in the
// formal block, and a name of 36 bytes stops at its 36th.
TEST_F(ReceiptTextDemo, CustomerNamesPrintWhole) {
  setForm(0);
  const std::string name = "株式会社山田商店東京本社営業部";
  ASSERT_EQ(name.size(), 30u);
  Line customer(line::kSize, 0);
  putText(customer.data(), line::kDisplayName, line::kCustomerNameLen, name);
  putU16(customer.data(), line::kKeyCode, makeKeyCode(kKeyCustomer, 0));
  EXPECT_EQ(printer.BuildLineText(customer.data(), 0, nullptr, 0), name + " 様\r\n");
  EXPECT_NE(printer.BuildFormalBlock(1000, 0, customer.data(), nullptr).find(ESC + "X" + name + " 様" + ESC + "Y"),
            std::string::npos);
  const std::string longest = name + "一二三";
  putText(customer.data(), line::kDisplayName, line::kCustomerNameLen, longest);
  EXPECT_EQ(printer.BuildLineText(customer.data(), 0, nullptr, 0), longest + " 様\r\n");
  // On 30 columns the name takes what the paper leaves beside " 様".
  setWidth(printer, 30);
  EXPECT_EQ(printer.BuildLineText(customer.data(), 0, nullptr, 0), name.substr(0, 26) + " 様\r\n");
}

// Only a line of a department (type 1, department other than 0) prints in
// two lines on narrow paper and carries the tax marks; an item of
// department 0 prints as the other keys do.
TEST(ReceiptText, DepartmentZeroIsNoDepartmentLine) {
  CReceiptPrinter printer;
  printer.m_strTaxOut = "ABCD";
  const Line department = itemLine("ITEM", 3, 120, line::kNonTaxable, kKeyDepartment, 2);
  const Line none = itemLine("ITEM", 3, 120, line::kNonTaxable, kKeyDepartment, 0);
  setWidth(printer, 35);
  EXPECT_NE(printer.BuildLineText(department.data(), 0, nullptr, 0).find("\r\n "), std::string::npos);
  EXPECT_EQ(printer.BuildLineText(none.data(), 0, nullptr, 0), "ITEM         " "        3" "X     @120" "      \x5C" "360");
  setWidth(printer, 46);
  EXPECT_EQ(printer.BuildLineText(department.data(), 0, nullptr, 0).substr(32), "A*        \x5C" "360");
  EXPECT_EQ(printer.BuildLineText(none.data(), 0, nullptr, 0).substr(32), "          \x5C" "360");
}

TEST_F(ReceiptTextDemo, MessageLinesFitThePaper) {
  setWidth(printer, 30);
  const std::string forty6(46, 'M');
  EXPECT_EQ(printer.FitPrintLine(forty6.c_str(), 46), std::string(30, 'M'));
  EXPECT_EQ(printer.FitPrintLine("\\eSALE\\f today", 46), SO + "SALE" + SI + " today\r\n");
  EXPECT_EQ(printer.FitPrintLine("a\\nb", 46), "a\r\nb\r\n");
  // A double-byte character whose trail byte is 0x5C stays whole.
  EXPECT_EQ(printer.FitPrintLine("表示", 46), "表示\r\n");
  // Double width stops where the next character would pass the paper.
  const std::string kanji = "\\e" + std::string("あいうえおかきくけこ");
  EXPECT_EQ(printer.FitPrintLine(kanji.c_str(), 46), SO + "あいうえおかき" + SI + "\r\n");
  EXPECT_EQ(printer.BuildMessageLines(0), "");
  setMessage(0, "Hello");
  setMessage(2, "World");
  EXPECT_EQ(printer.BuildMessageLines(0), "\r\nHello\r\n\r\nWorld\r\n\r\n\r\n");
  EXPECT_EQ(printer.BuildMessageLines(1), "Hello\r\n\r\nWorld\r\n\r\n\r\n\r\n");
}

TEST_F(ReceiptTextDemo, SystemLineNamesWithRates) {
  putU16(engine->Settings(), settings::kRate0.offset, 1000);
  putU16(engine->Settings(), settings::kRate1.offset, 800);
  printer.m_bTaxDetail = 1;
  Line l(line::kSize, 0);
  struct Case {
    uint16_t kind;
    std::string taxOut, display, print;
  } cases[] = {
      {3, "    ", "課税額(10%)", "課税額(10%)"},
      {3, "x   ", "課税額(10%対象:x)", "課税額x(10%)"},
      {14, " *  ", "課税額(8%対象:*)", "課税額*(8%)"},
      {4, "    ", "消費税(10%)", "消費税(10%)"},
      {0, "x   ", "小計", "小計"},
  };
  for (const Case& c : cases) {
    printer.m_strTaxOut = c.taxOut;
    printer.MakeSystemLine(l.data(), c.kind, 860, 0);
    EXPECT_EQ(getText(l.data(), line::kDisplayName, line::kDisplayNameLen), c.display) << c.kind;
    EXPECT_EQ(getText(l.data(), line::kPrintName, line::kPrintNameLen), c.print) << c.kind;
    EXPECT_EQ(getU16(l.data(), line::kKeyCode), 0x8000 + c.kind);
    EXPECT_EQ(getI32(l.data(), line::kPrice), 860);
    // The rate text stays inside the print name: the code field is untouched.
    EXPECT_TRUE(isBlank(l.data(), line::kCode, line::kCodeLen)) << c.kind;
  }
  printer.MakeSystemLine(l.data(), 0, 860, 1);
  EXPECT_EQ(getU16(l.data(), line::kFlags), line::kVoid | line::kDouble);
}

TEST_F(ReceiptTextDemo, TaxInclusivePrinting) {
  // 10 % outer tax rounded down in slot 0; 8 % in slot 1.
  SetTaxRate(1000, 800, 0, 0);
  engine->Settings()[settings::kOuterRounding.offset] &= ~3;
  printer.m_bPrnUchiHen = 1;
  const Line item = itemLine("ITEM", 2, 100);
  const std::string text = printer.BuildLineText(item.data(), 0, nullptr, 0);
  // Now tax-included: the mark of its class in "Tax In" ("xxxx") leads the amount.
  EXPECT_EQ(text, "ITEM         " "        2" "X     @110" "x         \x5C" "220");
  EXPECT_EQ(getI32(item.data(), line::kUnitPrice), 100) << "the record is given back unchanged";

  // Only tax-included lines of class 0: no 課税額 or 消費税 of class 0, and 税込額 shows the sum.
  const Line closing = closingLine(kModeRegister1, "C", 1, dosDate(2024, 1, 5), 0, 1, 0);
  printer.BuildLineText(closing.data(), 0, nullptr, 0);
  const Line included = itemLine("IN", 1, 330, line::kInnerTax);
  printer.BuildLineText(included.data(), 0, nullptr, 0);
  Line taxable(line::kSize, 0), tax(line::kSize, 0);
  printer.MakeSystemLine(taxable.data(), 3, 330, 0);
  printer.MakeSystemLine(tax.data(), 4, 30, 0);
  EXPECT_EQ(printer.BuildLineText(taxable.data(), 0, nullptr, 0), "");
  EXPECT_EQ(printer.BuildLineText(tax.data(), 0, nullptr, 0), "");

  // With an outer-tax item of class 1 (8 %): its 課税額 turns into 税込額(1) of the included sum.
  printer.BuildLineText(closing.data(), 0, nullptr, 0);
  const Line outer8 = itemLine("OUT8", 1, 1000, 1 << line::kRateShift);
  EXPECT_NE(printer.BuildLineText(outer8.data(), 0, nullptr, 0).find("\x5C" "1,080"), std::string::npos);
  Line taxable1(line::kSize, 0), tax1(line::kSize, 0);
  printer.MakeSystemLine(taxable1.data(), 14, 1000, 0);
  printer.MakeSystemLine(tax1.data(), 17, 80, 0);
  const std::string includedLine = printer.BuildLineText(taxable1.data(), 0, nullptr, 0);
  EXPECT_EQ(includedLine.substr(0, 13), "税込額(1)    ");
  EXPECT_EQ(includedLine.substr(32), "        \x5C" "1,080");
  const std::string containedLine = printer.BuildLineText(tax1.data(), 0, nullptr, 0);
  EXPECT_EQ(containedLine.substr(0, 13), "税含む(1)    ");
  EXPECT_EQ(containedLine.substr(32), "           \x5C" "80");
}

TEST_F(ReceiptTextDemo, ReportLines) {
  Line item(line::kSize, 0);
  putText(item.data(), line::kPrintName, line::kPrintNameLen, "FOOD");
  putU16(item.data(), line::kKeyCode, makeKeyCode(10, 1));
  putI32(item.data(), line::kUnit, 4);
  putI32(item.data(), line::kUnitPrice, 2000);  // the report's total
  putI32(item.data(), line::kPrice, 500);
  const std::string text = printer.BuildLineText(item.data(), 0, nullptr, 0);
  EXPECT_EQ(text, "\r\nFOOD        \r\n" "個数" + std::string(14, ' ') + "4" + "   " + " 平均単価" + std::string(11, ' ') +
                      "@125" + "売上額" + SO + std::string(16, ' ') + "\x5C" "500" + "構成比" + SI +
                      std::string(28, ' ') + "25.00%");
  // Quantity 0: only the name, the code line and the sales part.
  putI32(item.data(), line::kUnit, 0);
  EXPECT_EQ(printer.BuildLineText(item.data(), 0, nullptr, 0).find("個数"), std::string::npos);
  // A report total of 0 prints the sales without a share.
  putI32(item.data(), line::kUnitPrice, 0);
  const std::string noShare = printer.BuildLineText(item.data(), 0, nullptr, 0);
  EXPECT_EQ(noShare.find('%'), std::string::npos);
  EXPECT_EQ(noShare.find("inf"), std::string::npos);
  // Gross profit with sales 0 and a counted amount: no ratio either.
  putI32(item.data(), line::kPrice, 0);
  putI32(item.data(), line::kUnitNet, 100);
  putI32(item.data(), line::kNetPrice, 300);
  const std::string margin = printer.BuildLineText(item.data(), 0, nullptr, 0);
  EXPECT_EQ(margin.find("inf"), std::string::npos);
  EXPECT_NE(margin.find("  粗利額" + std::string(13, ' ') + "\x5C" "200"), std::string::npos);

  // A transaction-key total line with count 3 and amount 0: the count, no amount.
  Line total(line::kSize, 0);
  putText(total.data(), line::kPrintName, line::kPrintNameLen, "PAID IN");
  putU16(total.data(), line::kKeyCode, makeKeyCode(11, 20));
  putI32(total.data(), line::kUnit, 3);
  EXPECT_EQ(printer.BuildLineText(total.data(), 0, nullptr, 0),
            "\r\nPAID IN       " "  " "件数    " + std::string(21, ' ') + "3");

  // Separator of hyphens across the paper.
  Line rule(line::kSize, 0);
  putText(rule.data(), line::kPrintName, line::kPrintNameLen, "------------");
  putU16(rule.data(), line::kKeyCode, makeKeyCode(13, 0));
  EXPECT_EQ(printer.BuildLineText(rule.data(), 0, nullptr, 0), std::string(46, '-'));
}

}  // namespace
