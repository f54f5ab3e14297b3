// Receipts printed for real: to the PDF target in the data folder's receipts
// folder (no CUPS queue in tests), read back with pdftotext and pdftoppm; the
// cutter and drawer bytes in the pass-through file beside each PDF.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/register/demo_project.h"
#include "app/register/print/receipt_printer.h"
#include "app/register/engine/records.h"
#include "platform/base/cp932.h"
#include "platform/base/profile.h"
#include "platform/ui/draw.h"
#include "platform/ui/roll_printer.h"
#include "support/pdf_tools.h"
#include "zemta/filedb.h"
#include "zemta/memory.h"

namespace {

using namespace varnex::reg;
namespace fs = std::filesystem;
using Line = std::vector<uint8_t>;

std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

const std::string kCut = "\\x1Bi", kDrawer = "\\x1Bp\\x00\\x19\\xFA";
const std::string kCutBytes = "\x1Bi", kDrawerBytes = std::string("\x1Bp\x00\x19\xFA", 5);

Line departmentLine(const std::vector<uint8_t>& department, uint16_t number, int32_t quantity, int32_t unitPrice) {
  Line l(line::kSize, 0);
  putText(l.data(), line::kDisplayName, line::kDisplayNameLen,
          getText(department.data(), department::kName.offset, department::kName.size));
  putText(l.data(), line::kPrintName, line::kPrintNameLen,
          getText(department.data(), department::kPrintName.offset, department::kPrintName.size));
  putU16(l.data(), line::kKeyCode, makeKeyCode(kKeyDepartment, number));
  putI32(l.data(), line::kUnit, quantity);
  putI32(l.data(), line::kUnitPrice, unitPrice);
  putI32(l.data(), line::kPrice, quantity * unitPrice);
  return l;
}

struct Block {
  MemoryBlockHandle handle = CreateMemory(nullptr, 0, 4096);
  ~Block() { DeleteMemory(handle); }
  void add(const Line& l) {
    SeekMemory(handle, 0, MEMORY_SEEK_END);
    WriteDataMemory(handle, l.data(), static_cast<uint32_t>(l.size()));
  }
};

class ReceiptPdf : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection(kSettingsSection);
    profile.setString(kSettingsSection, "Prn Ctrl Cut", kCut);
    profile.setString(kSettingsSection, "Prn Ctrl Drawer", kDrawer);
    printer.SetPrintEngine(engine.get());
    printer.LoadReceiptSettings();
    printer.LoadPrinterSettings();
    ASSERT_EQ(printer.m_bPrinterReady, 1);
    receipts = fs::path(engine->DataFolder()) / kReceiptFolder;
  }
  void TearDown() override {
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }
  std::vector<fs::path> files(const std::string& extension) {
    std::vector<fs::path> found;
    if (fs::exists(receipts))
      for (const auto& e : fs::directory_iterator(receipts))
        if (e.path().extension() == extension) found.push_back(e.path());
    return found;
  }
  // Keeps a copy of a page for people to look at in the test program's output folder.
  void keep(const fs::path& file, const std::string& name) {
    std::error_code ec;
    const fs::path out = fs::current_path() / "receipt-pictures";
    fs::create_directories(out, ec);
    fs::copy_file(file, out / name, fs::copy_options::overwrite_existing, ec);
  }

  CReceiptPrinter printer;
  fs::path receipts;
};

TEST_F(ReceiptPdf, PrinterSetUpSizesTheFonts) {
  EXPECT_EQ(printer.m_nPrnCol, 46);
  ASSERT_TRUE(printer.m_pFontNormal);
  EXPECT_EQ(printer.m_pFontNormal->width, 12);
  EXPECT_EQ(printer.m_pFontNormal->height, 30);
  ASSERT_TRUE(printer.m_pFontDouble);
  EXPECT_EQ(printer.m_pFontDouble->width, 24);
  EXPECT_EQ(printer.m_bPassThrough, 1);

  auto& profile = platform::Profile::of(platform::ProfileScope::User);
  profile.setInt(kSettingsSection, "Prn Col", -1);
  profile.setString(kSettingsSection, "Prn Font", "Japanese Receipt Font");
  printer.LoadPrinterSettings();
  EXPECT_EQ(printer.m_nPrnCol, 35);
  EXPECT_EQ(printer.m_nPaperWidth, 580);
  EXPECT_EQ(printer.m_bNarrowLayout, 1);
  EXPECT_EQ(printer.m_bPrinterFontSize, 1);
  EXPECT_EQ(printer.m_pFontNormal->width, 0);

  // A control font without any command text: not ready.
  profile.setString(kSettingsSection, "Prn Font Ctrl", "control");
  profile.setString(kSettingsSection, "Prn Ctrl Cut", "");
  profile.setString(kSettingsSection, "Prn Ctrl Drawer", "");
  printer.LoadPrinterSettings();
  EXPECT_EQ(printer.m_bPrinterReady, 0);

  // Receipts going to the SA device: no printer.
  profile.setString(kSettingsSection, "Prn Font Ctrl", "");
  profile.setInt(kSettingsSection, "Use SA", 1);
  profile.setInt(kSettingsSection, "Prn SA", 1);
  printer.LoadPrinterSettings();
  EXPECT_EQ(printer.m_bPrinterReady, 0);
  EXPECT_FALSE(printer.m_pFontNormal);
}

TEST_F(ReceiptPdf, CommittedSalePrintsToPdfWithCutAndDrawer) {
  const auto food = read(kDepartmentTable, 1);
  const auto drink = read(kDepartmentTable, 2);
  Block sale;
  sale.add(departmentLine(food, 1, 3, 120));
  sale.add(departmentLine(drink, 2, 1, 500));
  Line subtotal(line::kSize, 0);
  printer.MakeSystemLine(subtotal.data(), 0, 860, 0);
  sale.add(subtotal);
  uint8_t closing[line::kSize] = {};
  ASSERT_GE(engine->PrfUpdate(kModeRegister1, sale.handle, closing, nullptr, 860), 0);
  sale.add(Line(closing, closing + line::kSize));

  printer.m_bDrawerRequest = 1;
  ASSERT_EQ(printer.PrintReceipt(sale.handle, 0, 0, -1, 0, 0, nullptr), 0);
  EXPECT_EQ(printer.m_bDrawerRequest, 0);
  ASSERT_EQ(files(".pdf").size(), 1u);
  const fs::path pdf = printer.LastPrintFile();
  ASSERT_TRUE(fs::exists(pdf)) << pdf;

  const std::string text = testing_support::pdfText(pdf);
  const std::string foodName = platform::toUtf8Lossy(getText(food.data(), department::kPrintName.offset, 12));
  const std::string drinkName = platform::toUtf8Lossy(getText(drink.data(), department::kPrintName.offset, 12));
  const size_t first = text.find(foodName), second = text.find(drinkName);
  const size_t x3 = text.find("@120"), amount = text.find(utf8(u8"¥360"));
  const size_t sub = text.find(utf8(u8"小")), total = text.find(utf8(u8"¥860"));
  const size_t footer = text.find("REG1");
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_LT(first, x3);
  EXPECT_LT(x3, amount);
  EXPECT_LT(amount, second);
  EXPECT_LT(second, sub);
  EXPECT_LT(sub, total);
  EXPECT_LT(total, footer);
  EXPECT_NE(footer, std::string::npos) << text;
  EXPECT_NE(text.find(utf8(u8"4 点")), std::string::npos) << text;  // 3 + 1 items

  // The cutter, then the drawer, beside the PDF.
  EXPECT_EQ(testing_support::readFileBytes(fs::path(pdf).replace_extension(".bin")), kCutBytes + kDrawerBytes);

  const fs::path png = testing_support::pdfPage(pdf, 203);
  ASSERT_FALSE(png.empty());
  platform::ui::Image page;
  ASSERT_TRUE(page.load(png.string()));
  // 80 mm of paper at 203 dots per inch; longer than wide, as a receipt is.
  EXPECT_NEAR(page.width(), 639, 2);
  EXPECT_GT(page.height(), page.width() / 2);
  keep(png, "receipt.png");
  keep(pdf, "receipt.pdf");
}

// The tool that prints a receipt again draws without any display: started
// with neither DISPLAY nor QT_QPA_PLATFORM, it still writes the receipt.
TEST_F(ReceiptPdf, ToolPrintsAReceiptAgainWithoutADisplay) {
  const auto food = read(kDepartmentTable, 1);
  Block sale;
  sale.add(departmentLine(food, 1, 2, 150));
  uint8_t closing[line::kSize] = {};
  ASSERT_GE(engine->PrfUpdate(kModeRegister1, sale.handle, closing, nullptr, 300), 0);
  const long number =
      static_cast<long>(getU32(closing, line::kPrice) & 0xFFFF) + getI32(closing, line::kUnitNet);
  // The register lets go of the commit's files once idle (its window's idle
  // tick); this engine has no window.
  engine->ReleaseHolds();

  // The answer (the PDF's path) on standard output, anything else apart.
  const fs::path out = receipts.parent_path() / "prtreceipt.out";
  const fs::path err = receipts.parent_path() / "prtreceipt.err";
  const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \"") +
                              VARNEX_PRTRECEIPT + "\" \"" + engine->DataFolder() + "\" " + std::to_string(number) +
                              " > \"" + out.string() + "\" 2> \"" + err.string() + "\"";
  const int rc = std::system(command.c_str());
  const std::string printed = testing_support::readFileBytes(out);
  const std::string said = testing_support::readFileBytes(err);
  ASSERT_EQ(rc, 0) << command << "\n" << printed << said;
  const fs::path pdf = printed.substr(0, printed.find('\n'));
  ASSERT_TRUE(fs::exists(pdf)) << printed << said;
  const std::string text = testing_support::pdfText(pdf);
  EXPECT_NE(text.find(utf8(u8"¥300")), std::string::npos) << text;
  const fs::path png = testing_support::pdfPage(pdf, 203);
  ASSERT_FALSE(png.empty());
  keep(png, "receipt-from-tool.png");
}

TEST_F(ReceiptPdf, DrawerOnlyTextOpensTheDrawerAndPrintsNothing) {
  printer.PrintReceiptText("\f\f");
  EXPECT_TRUE(files(".pdf").empty());
  const auto bins = files(".bin");
  ASSERT_EQ(bins.size(), 1u);
  EXPECT_EQ(testing_support::readFileBytes(bins[0]), kDrawerBytes);
}

TEST_F(ReceiptPdf, TextOfExactlyOneLineAndLineEnds) {
  // 46 columns without a line end and then more text: two printed lines.
  printer.PrintReceiptText(std::string(46, 'A'));
  printer.PrintReceiptText("B\r\nC\r\rD\f");
  const std::string text = testing_support::pdfText(printer.LastPrintFile());
  EXPECT_NE(text.find(std::string(46, 'A') + "\nB\nC\n\nD"), std::string::npos) << text;
}

// Decodes an EAN-13 from the element widths of one row of the page.
std::string decodeEan13(const platform::ui::Image& page) {
  static const char* kWidths[10] = {"3211", "2221", "2122", "1411", "1132", "1231", "1114", "1312", "1213", "3112"};
  static const uint8_t kParity[10] = {0x00, 0x0B, 0x0D, 0x0E, 0x13, 0x19, 0x1C, 0x15, 0x16, 0x1A};
  for (int y = 0; y < page.height(); ++y) {
    std::vector<int> runs;  // from the first dark pixel: dark, light, dark...
    bool dark = false;
    int start = -1, lastDark = -1;
    for (int x = 0; x < page.width(); ++x) {
      const uint32_t p = page.pixel(x, y);
      const bool d = (p & 0xFF) < 128;
      if (d) lastDark = x;
      if (start < 0) {
        if (d) start = x, dark = true, runs.push_back(0);
        else continue;
      }
      if (d != dark) runs.push_back(0), dark = d;
      ++runs.back();
    }
    if (start < 0) continue;
    if (!dark) runs.pop_back();
    if (runs.size() != 59) continue;
    const double module = (lastDark - start + 1) / 95.0;
    std::string widths;
    int modules = 0;
    for (int r : runs) {
      const int w = static_cast<int>(r / module + 0.5);
      modules += w;
      widths += static_cast<char>('0' + w);
    }
    if (modules != 95 || widths.find_first_not_of("1234") != std::string::npos) continue;  // a row of text
    std::string digits(13, '?');
    uint8_t parity = 0;
    // The elements after the start guard (bar space bar): space, bar, space, bar per left digit.
    std::string left = widths.substr(3, 24), right = widths.substr(32, 24);
    for (int i = 0; i < 6; ++i) {
      const std::string w = left.substr(4 * i, 4);
      for (int d = 0; d < 10; ++d) {
        std::string reversed(kWidths[d]);
        reversed = std::string(reversed.rbegin(), reversed.rend());
        if (w == kWidths[d]) digits[1 + i] = static_cast<char>('0' + d);
        if (w == reversed) digits[1 + i] = static_cast<char>('0' + d), parity |= 0x20 >> i;
      }
      const std::string r = right.substr(4 * i, 4);
      for (int d = 0; d < 10; ++d)
        if (r == kWidths[d]) digits[7 + i] = static_cast<char>('0' + d);
    }
    for (int d = 0; d < 10; ++d)
      if (kParity[d] == parity) digits[0] = static_cast<char>('0' + d);
    return digits;
  }
  return std::string();
}

TEST_F(ReceiptPdf, HeldSaleTicketCarriesItsBarcode) {
  const auto food = read(kDepartmentTable, 1);
  Block held;
  held.add(departmentLine(food, 1, 2, 150));
  const std::string path = (folder / "Reserve" / "4912345678904.csv").string();
  ASSERT_EQ(printer.PrintHeldSale(held.handle, 2, 300, path.c_str()), 0);
  const fs::path pdf = printer.LastPrintFile();
  ASSERT_TRUE(fs::exists(pdf));
  const std::string text = testing_support::pdfText(pdf);
  EXPECT_NE(text.find("49 12345 67890 4"), std::string::npos) << text;
  EXPECT_NE(text.find(utf8(u8"小計")), std::string::npos) << text;
  EXPECT_NE(text.find(utf8(u8"¥300")), std::string::npos) << text;
  const fs::path png = testing_support::pdfPage(pdf, 203);
  platform::ui::Image page;
  ASSERT_TRUE(page.load(png.string()));
  EXPECT_EQ(decodeEan13(page), "4912345678904");
  keep(png, "held-sale.png");
  keep(pdf, "held-sale.pdf");
  // The ticket is cut; the drawer stays shut.
  EXPECT_EQ(testing_support::readFileBytes(fs::path(pdf).replace_extension(".bin")), kCutBytes);

  // A name that is no EAN: the management code line, no bars.
  ASSERT_EQ(printer.PrintHeldSale(held.handle, 2, 300, (folder / "abc.csv").string().c_str()), 0);
  EXPECT_NE(testing_support::pdfText(printer.LastPrintFile()).find(utf8(u8"管理コード：abc")), std::string::npos);

  // While lines print as they are registered, only the form feed goes out.
  printer.m_bPrintEachLine = 1;
  printer.m_bPrnSA = 1;
  printer.m_strSaPrintText.clear();
  ASSERT_EQ(printer.PrintHeldSale(held.handle, 2, 300, path.c_str()), 0);
  EXPECT_EQ(printer.m_strSaPrintText, "\f");
}

TEST_F(ReceiptPdf, XReportOfDepartments) {
  Block report;
  Line heading(line::kSize, 0);
  engine->BuildReportHeader(heading.data(), 1, 0, 1);
  report.add(heading);
  int32_t sum = 0;
  std::vector<std::string> names;
  for (int32_t n = 1; n <= 3; ++n) {
    const auto d = read(kDepartmentTable, n);
    Line l(line::kSize, 0);
    const std::string name = getText(d.data(), department::kPrintName.offset, 12);
    names.push_back(name);
    putText(l.data(), line::kPrintName, line::kPrintNameLen, name);
    putU16(l.data(), line::kKeyCode, makeKeyCode(10, static_cast<uint16_t>(n)));
    putI32(l.data(), line::kUnit, n);
    putI32(l.data(), line::kPrice, 1000 * n);
    sum += 1000 * n;
    report.add(l);
  }
  // Every line's share is of the report's total.
  for (int32_t n = 1; n <= 3; ++n) {
    SeekMemory(report.handle, n * 96 + line::kUnitPrice, MEMORY_SEEK_BEGIN);
    WriteDataMemory(report.handle, &sum, 4);
  }
  Line closing(line::kSize, 0);
  putU16(closing.data(), line::kKeyCode, 0xF000 | kModeXReading);
  putU32(closing.data(), line::kUnitPrice, static_cast<uint32_t>(dosDate(2024, 1, 5)) << 16);
  report.add(closing);
  ASSERT_EQ(printer.PrintReceipt(report.handle, 1, 0, -1, 0, 0, nullptr), 0);
  const std::string text = testing_support::pdfText(printer.LastPrintFile());
  size_t at = 0;
  for (const std::string& name : names) {
    const size_t found = text.find(platform::toUtf8Lossy(name), at);
    EXPECT_NE(found, std::string::npos) << text;
    at = found;
  }
  EXPECT_NE(text.find("50.00%"), std::string::npos) << text;
  EXPECT_NE(text.find(utf8(u8"2024年 1月 5日(金)")), std::string::npos) << text;
  EXPECT_NE(text.find("X"), std::string::npos);
}

TEST_F(ReceiptPdf, NoPrinterAndNoReceiptsFolderPrintsNothingAndTheSaleStays) {
  // The receipts folder cannot be made: a file stands where it would be.
  fs::remove_all(receipts);
  { std::ofstream(receipts) << "not a folder"; }
  printer.LoadPrinterSettings();
  EXPECT_EQ(printer.m_bPrinterReady, 0);
  const auto food = read(kDepartmentTable, 1);
  Block sale;
  sale.add(departmentLine(food, 1, 1, 100));
  uint8_t closing[line::kSize] = {};
  ASSERT_GE(engine->PrfUpdate(kModeRegister1, sale.handle, closing, nullptr, 100), 0);
  sale.add(Line(closing, closing + line::kSize));
  EXPECT_EQ(printer.PrintReceipt(sale.handle, 1, 0, -1, 0, 0, nullptr), 0);
  EXPECT_EQ(testing_support::readFileBytes(receipts), "not a folder");
  // The sale is in today's daily file all the same.
  FileDBHandle daily = engine->PrfOpen(3, nullptr);
  ASSERT_NE(daily, 0u);
  EXPECT_GE(FileDBRecGetSize(daily), 2);
  FileDBDelete(daily);
}

}  // namespace
