// CSV files of the masters on the demo shop: round trips of departments and
// PLU items (merge and append), imports that must change nothing (a missing
// file, a malformed one, registered totals), the merge of single columns,
// columns in any order, and the reader of sales lines.
#include <cstring>
#include <fstream>
#include <vector>

#include "app/register/engine/records.h"
#include "app/register/demo_project.h"
#include "support/temp_folder.h"
#include "zemta/filedb.h"
#include "zemta/memory.h"

using namespace varnex::reg;
using varnex_test::DemoProject;

namespace {

const char kAsk[] = "既存のレコードを全て削除しますか？";
const char kOpenFailed[] = "ファイルのオープンに失敗しました";
const char kBadFormat[] = "ファイルのフォーマットが異なっています";
const char kDepartmentsRegistered[] = "登録済みの部門があるため削除できません\n部門の精算を行って下さい";
const char kDepartmentHeader[] =
    "表示名,印刷名,部門番号,グループリンク,部門一覧選択,単価,入力桁制限,置数オーバーライド不可,内税指定,"
    "消費税非課税指定,特別地方税非課税指定,税率指定,ポイント対象指定\n";
const char kPluHeader[] =
    "表示名,印刷名,部門一覧選択表示順番,コード,部門リンク,単価,入力桁制限,置数オーバーライド不可,内税指定,"
    "消費税非課税指定,特別地方税非課税指定,税率指定,ポイント対象指定\n";

using Records = std::vector<std::vector<uint8_t>>;

class CsvMastersTest : public DemoProject {
 protected:
  Records all(TableIndex t) {
    Records out;
    const int32_t count = FileDBRecGetSize(engine->Table(t));
    for (int32_t n = 0; n < count; ++n) out.push_back(read(t, n));
    return out;
  }
  std::string path(const std::string& name) { return (folder / name).string(); }
  void writeFile(const std::string& name, const std::string& bytes) {
    testing_support::writeFileBytes(path(name), bytes);
  }

  int32_t exportOf(TableIndex t, const std::string& file) {
    switch (t) {
      case kCustomerTable: return engine->ExportCustomersCsv(file.c_str());
      case kDepartmentTable: return engine->ExportDepartmentsCsv(file.c_str());
      default: return engine->ExportPluCsv(file.c_str());
    }
  }
  int32_t importOf(TableIndex t, const std::string& file) {
    switch (t) {
      case kCustomerTable: return engine->ImportCustomersCsv(file.c_str());
      case kDepartmentTable: return engine->ImportDepartmentsCsv(file.c_str());
      default: return engine->ImportPluCsv(file.c_str());
    }
  }
};

// Exported and read back, the masters are as they were, whether the import
// merges into the records (No) or empties the master and appends (Yes).
TEST_F(CsvMastersTest, ExportedMastersImportBackUnchanged) {
  ASSERT_TRUE(open()) << boxes->lastText();
  struct Case {
    TableIndex table;
    int answer;
  };
  for (const Case c : {Case{kDepartmentTable, platform::kIdNo}, Case{kDepartmentTable, platform::kIdYes},
                       Case{kPluTable, platform::kIdNo}, Case{kPluTable, platform::kIdYes},
                       Case{kCustomerTable, platform::kIdNo}, Case{kCustomerTable, platform::kIdYes}}) {
    SCOPED_TRACE(std::string(kTables[c.table].name) + (c.answer == platform::kIdYes ? " append" : " merge"));
    const Records before = all(c.table);
    ASSERT_GE(before.size(), 2u);
    const std::string file = path("master.csv");
    ASSERT_EQ(exportOf(c.table, file), 0) << boxes->lastText();
    boxes->clear();
    boxes->answer(c.answer);
    ASSERT_EQ(importOf(c.table, file), 0) << boxes->lastText();
    ASSERT_EQ(boxes->count(), 1u);
    EXPECT_EQ(boxes->shown()[0].text, kAsk);
    EXPECT_EQ(boxes->shown()[0].style, platform::kMbYesNo | platform::kMbIconQuestion);
    EXPECT_EQ(all(c.table), before);
    boxes->clear();
  }
}

TEST_F(CsvMastersTest, ExportWritesTheColumnNamesThenOneLinePerRecord) {
  ASSERT_TRUE(open());
  ASSERT_EQ(engine->ExportDepartmentsCsv(path("d.csv").c_str()), 0);
  const std::string text = testing_support::fileBytes(path("d.csv"));
  ASSERT_EQ(text.rfind(kDepartmentHeader, 0), 0u) << text;
  // Department 1 of the demo shop: 6 digits, point target, tax slot 1.
  EXPECT_NE(text.find("\n青果,青果,1,1,1,0,6,0,0,0,0,1,1\n"), std::string::npos) << text;
  ASSERT_EQ(engine->ExportPluCsv(path("p.csv").c_str()), 0);
  EXPECT_EQ(testing_support::fileBytes(path("p.csv")).rfind(kPluHeader, 0), 0u);

  // With only the totals record left, only the column names.
  ASSERT_EQ(FileDBRecDelete(engine->Table(kDepartmentTable), 1, FileDBRecGetSize(engine->Table(kDepartmentTable)) - 1,
                            nullptr),
            0);
  ASSERT_EQ(engine->ExportDepartmentsCsv(path("d.csv").c_str()), 0);
  EXPECT_EQ(testing_support::fileBytes(path("d.csv")), kDepartmentHeader);
}

TEST_F(CsvMastersTest, ExportToAFolderThatDoesNotExistShowsTheFileError) {
  ASSERT_TRUE(open());
  EXPECT_EQ(engine->ExportPluCsv(path("no/such/folder/p.csv").c_str()), -1);
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_NE(boxes->lastText().find("p.csv"), std::string::npos) << boxes->lastText();
}

// The import used to empty the master before it looked at the file: a
// missing file must change nothing, and no question is asked about it.
TEST_F(CsvMastersTest, MissingFileChangesNothingAndSaysSo) {
  ASSERT_TRUE(open());
  for (TableIndex t : {kCustomerTable, kDepartmentTable, kPluTable}) {
    SCOPED_TRACE(kTables[t].name);
    const Records before = all(t);
    boxes->clear();
    boxes->answer(platform::kIdYes);
    EXPECT_EQ(importOf(t, path("missing.csv")), -1);
    ASSERT_EQ(boxes->count(), 1u);
    EXPECT_EQ(boxes->lastText(), kOpenFailed);
    EXPECT_EQ(boxes->shown()[0].style & platform::kMbIconMask, platform::kMbIconWarning);
    EXPECT_EQ(all(t), before);
  }
}

TEST_F(CsvMastersTest, MalformedFilesChangeNothing) {
  ASSERT_TRUE(open());
  std::string wide = "部門番号";
  for (int i = 1; i < 256; ++i) wide += ",x";
  const struct {
    const char* what;
    std::string bytes;
  } files[] = {
      {"a line of 256 fields", std::string("部門番号,単価\n5,120\n") + wide + "\n"},
      {"no column of the master", "名前,値段\nりんご,100\n"},
  };
  const Records before = all(kDepartmentTable);
  for (const auto& f : files) {
    SCOPED_TRACE(f.what);
    writeFile("bad.csv", f.bytes);
    boxes->clear();
    boxes->answer(platform::kIdYes);
    EXPECT_EQ(engine->ImportDepartmentsCsv(path("bad.csv").c_str()), -1);
    ASSERT_EQ(boxes->count(), 1u);
    EXPECT_EQ(boxes->lastText(), kBadFormat);
    EXPECT_EQ(all(kDepartmentTable), before);
  }
}

// "No" merges: only the columns of the file change, an unknown number is
// added with only those columns set.
TEST_F(CsvMastersTest, MergeChangesOnlyTheColumnsOfTheFile) {
  ASSERT_TRUE(open());
  Records before = all(kDepartmentTable);
  writeFile("price.csv", "部門番号,単価\n5,120\n6,300\n77,55\n");
  boxes->answer(platform::kIdNo);
  ASSERT_EQ(engine->ImportDepartmentsCsv(path("price.csv").c_str()), 0);
  Records after = all(kDepartmentTable);
  ASSERT_EQ(after.size(), before.size() + 1);
  putI32(before[5].data(), department::kUnitPrice.offset, 120);
  putI32(before[6].data(), department::kUnitPrice.offset, 300);
  for (size_t n = 0; n < before.size(); ++n) EXPECT_EQ(after[n], before[n]) << "record " << n;
  std::vector<uint8_t> added(kTables[kDepartmentTable].recordLen, 0);
  putU16(added.data(), department::kNumber.offset, 77);
  putI32(added.data(), department::kUnitPrice.offset, 55);
  EXPECT_EQ(after.back(), added);

  // A flag column sets its bits and leaves the others of the word.
  writeFile("flags.csv", "部門番号,戻取引禁止指定,税率指定\n2,1,3\n");
  boxes->answer(platform::kIdNo);
  ASSERT_EQ(engine->ImportDepartmentsCsv(path("flags.csv").c_str()), 0);
  const uint16_t word = getU16(read(kDepartmentTable, 2).data(), department::kAttributes.offset);
  EXPECT_EQ(word, 6 | attribute::kPointTarget | attribute::kNoRefund | (3 << attribute::kRateShift));
}

// A line without its key is not merged into the totals record 0.
TEST_F(CsvMastersTest, MergeNeverWritesIntoTheTotalsRecord) {
  ASSERT_TRUE(open());
  const auto totals = read(kDepartmentTable, 0);
  const int32_t count = FileDBRecGetSize(engine->Table(kDepartmentTable));
  writeFile("nokey.csv", "表示名,単価\n謎,10\n");
  boxes->answer(platform::kIdNo);
  ASSERT_EQ(engine->ImportDepartmentsCsv(path("nokey.csv").c_str()), 0);
  EXPECT_EQ(read(kDepartmentTable, 0), totals);
  EXPECT_EQ(FileDBRecGetSize(engine->Table(kDepartmentTable)), count + 1);
}

TEST_F(CsvMastersTest, RegisteredTotalsKeepTheMaster) {
  ASSERT_TRUE(open());
  auto totals = read(kDepartmentTable, 0);
  putI32(totals.data(), department::kAmount.offset, 1234);
  write(kDepartmentTable, 0, totals);
  const Records before = all(kDepartmentTable);
  writeFile("d.csv", "部門番号,単価\n9,100\n");
  boxes->answer(platform::kIdYes);
  EXPECT_EQ(engine->ImportDepartmentsCsv(path("d.csv").c_str()), 0);
  ASSERT_EQ(boxes->count(), 2u);
  EXPECT_EQ(boxes->lastText(), kDepartmentsRegistered);
  EXPECT_EQ(boxes->shown()[1].style & platform::kMbIconMask, platform::kMbIconInformation);
  EXPECT_EQ(all(kDepartmentTable), before);
}

TEST_F(CsvMastersTest, ColumnsAreMatchedByName) {
  ASSERT_TRUE(open());
  // Blank lines are no records; a name longer than its field is cut without
  // splitting a character.
  writeFile("c.csv", "名称,ポイント倍率,コード\n山田商店,2,C001\n\nXあいうえおかきくけこさしすせそたちつてとなにぬねの,1,C002\n");
  boxes->answer(platform::kIdYes);
  ASSERT_EQ(engine->ImportCustomersCsv(path("c.csv").c_str()), 0);
  ASSERT_EQ(FileDBRecGetSize(engine->Table(kCustomerTable)), 2);
  const auto first = read(kCustomerTable, 0);
  EXPECT_EQ(text(first, customer::kName), "山田商店");
  EXPECT_EQ(text(first, customer::kCode), "C001");
  EXPECT_EQ(getI32(first.data(), customer::kPointRate.offset), 2);
  EXPECT_EQ(text(read(kCustomerTable, 1), customer::kName), "Xあいうえおかきくけこさしすせそたち");
}

TEST_F(CsvMastersTest, SalesLinesBecomeLineRecords) {
  ASSERT_TRUE(open());
  const std::string longName = "山田商店様　ポイントカード会員番号１２";  // 38 bytes
  writeFile("lines.csv",
            "テーブル№,表示名,印刷名,レコード№,コード,数量,単価,金額,内税指定,税率指定,ポイント対象指定,備考\n"
            "0," + longName + ",無視,0,C001,0,0,150,0,0,0,x\n"
            "1,青果,せいか,1,,2,128,256,1,1,1,\n");
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(engine->ImportReceiptCsv(path("lines.csv").c_str(), block), 0);
  ASSERT_EQ(SeekMemory(block, 0, MEMORY_SEEK_END), 2 * static_cast<int32_t>(line::kSize));
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  uint8_t heading[line::kSize], item[line::kSize];
  ASSERT_EQ(ReadDataMemory(block, heading, line::kSize), static_cast<int32_t>(line::kSize));
  ASSERT_EQ(ReadDataMemory(block, item, line::kSize), static_cast<int32_t>(line::kSize));
  DeleteMemory(block);

  // The heading line's name runs over the print name (36 bytes, whole
  // characters); its own print name column is not taken.
  EXPECT_EQ(getText(heading, 0, 36), longName.substr(0, 36));
  EXPECT_EQ(getU16(heading, line::kKeyCode), 0);
  EXPECT_EQ(getText(heading, line::kCode, line::kCodeLen), "C001");
  EXPECT_EQ(getI32(heading, line::kPrice), 150);

  EXPECT_EQ(getU16(item, line::kKeyCode), makeKeyCode(kKeyDepartment, 1));
  EXPECT_EQ(getText(item, line::kDisplayName, line::kDisplayNameLen), "青果");
  EXPECT_EQ(getText(item, line::kPrintName, line::kPrintNameLen), "せいか");
  EXPECT_EQ(getI32(item, line::kUnit), 2);
  EXPECT_EQ(getI32(item, line::kUnitPrice), 128);
  EXPECT_EQ(getI32(item, line::kPrice), 256);
  EXPECT_EQ(getU16(item, line::kFlags), line::kInnerTax | (1 << line::kRateShift) | line::kPointTarget);

  // A file that cannot be opened: -1 without a message.
  boxes->clear();
  block = CreateMemory(nullptr, 0, 4096);
  EXPECT_EQ(engine->ImportReceiptCsv(path("missing.csv").c_str(), block), -1);
  EXPECT_EQ(boxes->count(), 0u);
  DeleteMemory(block);
}

}  // namespace
