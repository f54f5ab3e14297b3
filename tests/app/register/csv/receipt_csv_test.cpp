// The receipt CSV written after each commit, a sale saved under a name made
// from a pattern, and a commit whose follow-up step fails.
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/register/engine/journal.h"
#include "app/register/csv/receipt_csv.h"
#include "app/register/engine/records.h"
#include "app/register/demo_project.h"
#include "platform/base/clock.h"
#include "support/cp932_names.h"
#include "app/register/sale_lines.h"
#include "zemta/date.h"
#include "zemta/tax.h"

using namespace varnex::reg;
using varnex_test::BlockOwner;
using varnex_test::DemoProject;
using varnex_test::demoJan;
using varnex_test::itemLine;
using varnex_test::keyLine;
using varnex_test::Line;
using varnex_test::systemLine;
namespace fs = std::filesystem;

namespace {

std::vector<Line> demoSale() {
  return {itemLine(1, 2, 128, demoJan(1), 1, line::kPointTarget, "りんご"),
          itemLine(5, 1, 500, "", 0, 0, "酒類"),
          varnex_test::totalLine(),
          systemLine(4, 70),
          systemLine(0, 826),
          keyLine(kKeyTrans1, 1, 1000),
          systemLine(2, 174)};
}

std::vector<std::string> linesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string l;
  while (std::getline(in, l)) lines.push_back(l);
  return lines;
}

std::string bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ReceiptCsvTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    engine->SetManager(read(kClerkTable, 0).data());
  }
};

const char kHeader[] =
    "テーブル№,レコード№,表示名,印刷名,コード,サブコード,内税指定,消費税非課税指定,消費税免税指定,"
    "特別地方税非課税指定,税率指定,ポイント対象指定,数量,単価,金額";

TEST_F(ReceiptCsvTest, EveryCommitAppendsItsRowsAndClosingRow) {
  const fs::path csv = folder / "receipts.csv";
  engine->SetSaveReceiptCsv(1);
  engine->SetReceiptCsvPathFormat((folder / "receipts.csv").string());
  BlockOwner sale(demoSale());
  ASSERT_EQ(engine->PrfUpdate(kModeRegister1, sale, nullptr, nullptr, 0), 0) << boxes->lastText();
  std::vector<std::string> rows = linesOf(csv);
  ASSERT_EQ(rows.size(), 9u);
  const std::string jan = demoJan(1);
  const std::vector<std::string> expected = {
      kHeader,
      "1,1,りんご,りんご," + jan + ",,0,0,0,0,1,1,2,128,256",
      "1,5,酒類,酒類,,,0,0,0,0,0,0,1,500,500",
      "13,0,\" 合計 －－－－－－－－－\",合計 -------,,,0,0,0,0,0,0,0,0,0",
      "8,4,消費税,消費税,,,0,0,0,0,0,0,0,0,70",
      "8,0,小計,小計,,,0,0,0,0,0,0,0,0,826",
      "2,1,,,,,0,0,0,0,0,0,1,0,1000",
      "8,2,釣銭,釣,,,0,0,0,0,0,0,0,0,174",
  };
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(rows[i], expected[i]) << "row " << i;
  // Closing row: the time to the minute, the manager, the store, receipt 1.
  const std::string& closing = rows[8];
  EXPECT_EQ(closing.rfind("15,195,", 0), 0u) << closing;
  EXPECT_EQ(closing.size(), std::string("15,195,2026/01/01 10:00").size() +
                                std::string(",ﾃﾝﾁｮｳ,ZEMTAマート 01,,0,0,0,0,0,0,3,1,0").size());
  const std::string tail = ",ﾃﾝﾁｮｳ,ZEMTAマート 01,,0,0,0,0,0,0,3,1,0";
  EXPECT_EQ(closing.substr(closing.size() - tail.size()), tail);

  // Appending adds no header; a refund has negative quantities and amounts.
  ASSERT_EQ(engine->PrfUpdate(kModeRefund, sale, nullptr, nullptr, 0), 0);
  rows = linesOf(csv);
  ASSERT_EQ(rows.size(), 17u);
  EXPECT_EQ(rows[9], "1,1,りんご,りんご," + jan + ",,0,0,0,0,1,1,-2,128,-256");
  EXPECT_EQ(rows[14], "2,1,,,,,0,0,0,0,0,0,-1,0,-1000");
  EXPECT_EQ(rows[16].rfind("15,197,", 0), 0u);
  EXPECT_NE(rows[16].find(",-3,2,0"), std::string::npos) << rows[16];
}

TEST_F(ReceiptCsvTest, TimeColumnAndNoLines) {
  engine->SetSaveReceiptCsv(1);
  engine->SetCsvTimeColumn(1);
  engine->SetReceiptCsvPathFormat((folder / "r%Y.csv").string());
  ASSERT_EQ(engine->ExportReceiptCsv(kModeRegister1, nullptr, 0, 0, 0, nullptr), 0);
  char year[8];
  std::snprintf(year, sizeof year, "%d", platform::localTime().year);
  const fs::path csv = folder / (std::string("r") + year + ".csv");
  EXPECT_EQ(bytesOf(csv), std::string("日時,") + kHeader + "\n");
  BlockOwner one({itemLine(5, 1, 500)});
  ASSERT_EQ(engine->ExportReceiptCsv(kModeRegister1, one, 1, 41, 9, nullptr), 0);
  const auto rows = linesOf(csv);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].size(), std::string("2026/01/01 10:00:00,1,5,商品,商品,,,0,0,0,0,0,0,1,500,500").size());
  EXPECT_NE(rows[2].find(",1,42,9"), std::string::npos) << rows[2];
  // Without the setting nothing is written.
  engine->SetSaveReceiptCsv(0);
  EXPECT_EQ(engine->ExportReceiptCsv(kModeRegister1, one, 1, 0, 0, nullptr), 0);
  EXPECT_EQ(linesOf(csv).size(), 3u);
}

TEST(ReceiptCsvNames, OnlyThePatternsPlaceholderBecomesTheCheckDigit) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 25;
  t.tm_hour = 10;
  t.tm_min = 30;
  auto checked = [](const std::string& name) {
    return BccCheck(name.c_str(), static_cast<int32_t>(name.size())) == 1;
  };
  struct Case {
    const char* pattern;
    const char* prefix;  // the name before its check digit
    const char* data;    // what the check digit is computed over
  };
  const Case cases[] = {
      {"/data/csv/R%b%dC", "/data/csv/RDec25", "RDec25"},  // "Dec" keeps its own c
      {"D:\\csv\\%y%m%d%H%MC", "D:\\csv\\2612251030", "2612251030"},
      {"AB%y%mC-cut", "AB2612", "AB2612"},               // no separator; what follows is cut
      {"D:%H%Mc", "D:1030", "1030"},
      {"x/%cR%dC", nullptr, nullptr},                   // %c is a conversion, not the placeholder
  };
  for (const Case& c : cases) {
    const std::string name = MakeCheckDigitName(c.pattern, t);
    if (!c.prefix) {
      EXPECT_EQ(name.substr(name.size() - 4), ".csv");
      continue;
    }
    const std::string prefix = c.prefix;
    ASSERT_EQ(name.size(), prefix.size() + 5) << name;
    EXPECT_EQ(name.substr(0, prefix.size()), prefix);
    EXPECT_EQ(name.substr(name.size() - 4), ".csv");
    EXPECT_TRUE(checked(std::string(c.data) + name[prefix.size()])) << name;
  }
  EXPECT_EQ(MakeCheckDigitName("/a/plain", t), "/a/plain.csv");

  // Double-byte names: a trail byte 0x5C is no separator and a trail byte
  // 0x63 ("ツ" is 83 63) no placeholder.
  for (const auto& n : testing_support::cp932Names()) {
    const std::string folder = "D:\\" + n.name + "\\";
    const std::string data = n.name + "\x83\x63" "R25";
    const std::string name = MakeCheckDigitName(folder + n.name + "\x83\x63" "R%dC", t);
    ASSERT_EQ(name.size(), folder.size() + data.size() + 5) << n.label;
    EXPECT_EQ(name.substr(0, folder.size() + data.size()), folder + data) << n.label;
    EXPECT_TRUE(checked(data + name[folder.size() + data.size()])) << n.label;
  }
}

TEST_F(ReceiptCsvTest, AMadeNameNeverReplacesAFile) {
  BlockOwner sale(demoSale());
  char path[260] = {};
  const std::string pattern = (folder / "SALE01C").string();
  std::snprintf(path, sizeof path, "%s", pattern.c_str());
  ASSERT_EQ(engine->ExportReceiptCsv(kModeRegister1, sale, 3, 0, 0, path), 0);
  const std::string made = path;
  EXPECT_EQ(made.substr(0, pattern.size() - 1), pattern.substr(0, pattern.size() - 1));
  EXPECT_EQ(made.substr(made.size() - 4), ".csv");
  const std::string first = bytesOf(made);
  EXPECT_EQ(linesOf(made).size(), 9u);
  std::snprintf(path, sizeof path, "%s", pattern.c_str());
  EXPECT_EQ(engine->ExportReceiptCsv(kModeRegister1, sale, 3, 0, 0, path), -1);
  EXPECT_EQ(boxes->count(), 1u);
  EXPECT_EQ(bytesOf(made), first);
  // A path of the caller's own (non-zero value) is written anew.
  BlockOwner one({itemLine(5, 1, 500)});
  std::snprintf(path, sizeof path, "%s", made.c_str());
  ASSERT_EQ(engine->ExportReceiptCsv(kModeRegister1, one, 1, 0, 1, path), 0);
  EXPECT_EQ(linesOf(made).size(), 3u);
}

// Once the daily file holds the sale, a later step's failure is shown and the
// sale still counts as committed: its temporary file goes.
TEST_F(ReceiptCsvTest, FailedReceiptCsvLeavesTheSaleCommitted) {
  engine->SetSaveReceiptCsv(1);
  engine->SetReceiptCsvPathFormat((folder / "no-such-folder" / "r.csv").string());
  uint16_t mode = kSaleRegister1;
  FileDBHandle temporary = engine->PrfOpen(4, &mode);
  ASSERT_NE(temporary, 0u);
  char tempPath[300] = {};
  FileDBGetPathName(temporary, tempPath);
  BlockOwner sale(demoSale());
  const int32_t result = engine->PrfUpdate(kModeRegister1, sale, nullptr, &temporary, 0);
  EXPECT_EQ(result, 2);
  EXPECT_GE(boxes->count(), 1u);
  EXPECT_EQ(temporary, 0u);
  EXPECT_FALSE(fs::exists(tempPath));
  FileDBHandle today = engine->PrfOpen(3, nullptr);
  EXPECT_EQ(FileDBRecGetSize(today), 8);
  FileDBDelete(today);
  EXPECT_EQ(getI32(read(kDepartmentTable, 1).data(), department::kCount.offset), 2);
}

}  // namespace
