// The data engine on the demo shop: opening, the tables and fields, the tax
// rates, the master lookups, a missing or damaged project, the error box.
#include <cstring>

#include "app/register/engine/records.h"
#include "app/register/demo_project.h"
#include "app/register/sale_lines.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "zemta/fileproj.h"
#include "zemta/fileproj_upkeep.h"
#include "zemta/tax.h"

using namespace varnex::reg;
using varnex_test::DemoProject;
namespace fs = std::filesystem;

namespace {

const char kMissing[] = "プロジェクトデータベースが見つかりません\nアプリケーションの起動に失敗しました";
const char kBroken[] = "プロジェクトデータベースが壊れています\nアプリケーションの起動に失敗しました";

std::string jan(int n) {
  char code[16];
  std::snprintf(code, sizeof code, "4912345%05dC", n);
  BccMake(code, 13);
  return code;
}

using OpenTest = DemoProject;

TEST_F(OpenTest, FindsTablesFieldsAndSetsTaxRates) {
  SetTaxRate(1, 2, 3, 4);
  ASSERT_TRUE(open()) << boxes->lastText();
  EXPECT_EQ(boxes->count(), 0u);
  for (int t = 0; t < kTableCount; ++t) {
    EXPECT_NE(engine->TableTypeId(static_cast<TableIndex>(t)), 0) << kTables[t].name;
    if (t != kMenuTable) {
      EXPECT_NE(engine->Table(static_cast<TableIndex>(t)), 0u) << kTables[t].name;
    }
  }
  // Every field the engine names is found where the record layouts put it.
  const FieldPlace* places[kEngineFieldCount] = {
      &keylayout::kPosition, &keylayout::kKeyWord, &settings::kStoreText, &settings::kReceiptMessage,
      &settings::kPriceMask1, &settings::kReportKind1, &customer::kCode, &customer::kName,
      &customer::kPointBalance, &customer::kPointsGranted, &department::kName, &department::kNumber,
      &department::kListSelect, &plu::kName, &plu::kCode, &plu::kDepartment, &plu::kDisplayOrder,
      &group::kName, &group::kNumber, &clerk::kName, &clerk::kNumber, &transkey::kName, &transkey::kName,
      &transkey::kName, &fixedtotal::kName, &odbclink::kOrderCode};
  for (int f = 0; f < kEngineFieldCount; ++f) {
    EXPECT_EQ(engine->Field(static_cast<EngineField>(f)).offset, places[f]->offset) << kEngineFields[f].name;
    EXPECT_EQ(engine->Field(static_cast<EngineField>(f)).size, places[f]->size) << kEngineFields[f].name;
  }
  EXPECT_EQ(g_nTaxRate[0], 1000u);
  EXPECT_EQ(g_nTaxRate[1], 800u);
  EXPECT_EQ(g_nTaxRate[2], 0u);
  EXPECT_EQ(g_nTaxRate[3], 0u);
  EXPECT_EQ(getText(engine->Settings(), 0, settings::kStoreTextCopied), "ZEMTAマート 01");
  EXPECT_EQ(engine->KeepInTemporary(), 0);
}

// The layouts the register code uses agree with the project definition.
TEST_F(OpenTest, RecordLayoutsAgreeWithTheProject) {
  ASSERT_TRUE(open());
  struct Check {
    TableIndex table;
    const FieldPlace* field;
  };
  const Check checks[] = {
      {kKeyLayoutTable, &keylayout::kFunction}, {kSettingsTable, &settings::kReceiptNumberAdd},
      {kSettingsTable, &settings::kRate0},      {kSettingsTable, &settings::kRate1},
      {kSettingsTable, &settings::kRate3},      {kSettingsTable, &settings::kSpecialRate},
      {kSettingsTable, &settings::kPriceMask2}, {kSettingsTable, &settings::kCash},
      {kSettingsTable, &settings::kPointUnit},  {kSettingsTable, &settings::kStampThreshold},
      {kSettingsTable, &settings::kPaymentService},
      {kCustomerTable, &customer::kPointRate},  {kDepartmentTable, &department::kGroupLink},
      {kDepartmentTable, &department::kAttributes}, {kDepartmentTable, &department::kUnitPrice},
      {kDepartmentTable, &department::kMarginBase}, {kPluTable, &plu::kUnitPrice}, {kPluTable, &plu::kAttributes},
      {kPluTable, &plu::kMarginBase},           {kGroupTable, &group::kAmount},
      {kClerkTable, &clerk::kPrintName},        {kClerkTable, &clerk::kPin},
      {kClerkTable, &clerk::kConfirmLevel},     {kClerkTable, &clerk::kProgramLevel},
      {kClerkTable, &clerk::kGrossAmount},      {kTrans1Table, &transkey::kPrintName},
      {kTrans2Table, &transkey::kPreset},       {kTrans3Table, &transkey::kAmount},
      {kFixedTotalTable, &fixedtotal::kDate},   {kFixedTotalTable, &fixedtotal::kAmount},
      {kOdbcLinkTable, &odbclink::kFieldWord},  {kOdbcLinkTable, &odbclink::kOuterColumn},
  };
  for (const Check& c : checks) {
    FileProjTypeInfo info{};
    ASSERT_NE(FileProjGetType(engine->Project(), engine->TableTypeId(c.table), nullptr, 0, c.field->name, &info,
                              nullptr, 1),
              0)
        << c.field->name;
    EXPECT_EQ(info.offset, c.field->offset) << c.field->name;
    EXPECT_EQ(info.size, c.field->size) << c.field->name;
    if (c.field->kind == FieldKind::Bits) {
      EXPECT_EQ(info.fieldWord, (c.field->bitCount << 8) | c.field->bitPosition) << c.field->name;
    }
  }
}

TEST_F(OpenTest, MasterLookups) {
  ASSERT_TRUE(open());
  uint8_t r[256];
  EXPECT_EQ(engine->GetDepartmentRecord(3, r), 3);
  EXPECT_EQ(getText(r, department::kName.offset, department::kName.size), "食品");
  EXPECT_EQ(engine->GetDepartmentRecord(99, r), -1);
  EXPECT_EQ(engine->GetDepartmentRecord(0x10003, r), -1);  // wider than the field: no alias of 3

  EXPECT_EQ(engine->GetPluRecord(jan(14).c_str(), r), 14);
  EXPECT_EQ(getText(r, plu::kName.offset, plu::kName.size), "ビール350ml");
  EXPECT_EQ(BccCheck(getText(r, plu::kCode.offset, plu::kCode.size).c_str(), -1), 1);
  EXPECT_EQ(getU16(r, plu::kDepartment.offset), 5);
  EXPECT_EQ(engine->GetPluRecord("4900000000000", r), -1);

  EXPECT_EQ(engine->GetGroupRecord(2, r), 2);
  EXPECT_EQ(getText(r, group::kName.offset, group::kName.size), "非食品");

  std::memset(r, 0x55, sizeof r);
  EXPECT_EQ(engine->GetClerkRecord(3, r), 2);
  EXPECT_EQ(getText(r, clerk::kName.offset, clerk::kName.size), "鈴木 一郎");
  EXPECT_EQ(getU16(r, clerk::kPin.offset), 1234);
  std::memset(r, 0x55, sizeof r);
  EXPECT_EQ(engine->GetClerkRecord(77, r), -1);
  EXPECT_TRUE(isBlank(r, 0, 48));  // zeroed when not found

  EXPECT_EQ(engine->GetCustomerRecord("C0001", r), 0);
  EXPECT_EQ(getText(r, customer::kName.offset, customer::kName.size), "山田商店");
  EXPECT_EQ(getI32(r, customer::kPointBalance.offset), 120);
  // An empty code fails without a message; a 32-character code is a valid
  // key; a longer one cannot be a code at all.
  EXPECT_EQ(engine->GetCustomerRecord("", r), -1);
  EXPECT_EQ(engine->GetCustomerRecord(std::string(32, '9').c_str(), r), -1);
  EXPECT_EQ(engine->GetCustomerRecord(std::string(300, '9').c_str(), r), -1);
  EXPECT_EQ(boxes->count(), 0u);
}

TEST_F(OpenTest, KeyLookupsOfEveryKeyType) {
  ASSERT_TRUE(open());
  uint8_t key[8];
  // A department key on the touch panel: row 0, column 2 is the third cell.
  EXPECT_EQ(engine->GetKeyByPosition(0 + 2 * 100 + 101, key), 2);
  EXPECT_EQ(getU16(key, 0), makeKeyCode(kKeyDepartment, 3));
  // The cash key on Enter, the point key on Shift+F4, a function key on F12.
  EXPECT_GE(engine->GetKeyByCode(0x100D, key), 0);
  EXPECT_EQ(getU16(key, 0), 0x2001);
  EXPECT_GE(engine->GetKeyByCode(0x3073, key), 0);
  EXPECT_EQ(getU16(key, 0), 0x2005);
  EXPECT_GE(engine->GetKeyByCode(0x3072, key), 0);
  EXPECT_EQ(getU16(key, 0), 0x3016);
  EXPECT_GE(engine->GetKeyByCode(0x107B, key), 0);
  EXPECT_EQ(getU16(key, 0), 0x403B);
  EXPECT_EQ(engine->GetKeyByCode(0x9999, key), -1);
  const int32_t found = engine->FindKeyByCode(0x4055, key);
  EXPECT_GE(found, 0);
  EXPECT_EQ(getU16(key, 4), 0x307A);
  EXPECT_EQ(engine->FindKeyByCode(0x4FFF, key), -1);

  uint8_t r[48];
  EXPECT_EQ(engine->GetTransKeyRecord(0x2001, r), 0);
  EXPECT_EQ(getText(r, 0, 24), "現計");
  EXPECT_EQ(engine->GetTransKeyRecord(0x3016, r), 2);
  EXPECT_EQ(getText(r, 0, 24), "ｶｰﾄﾞ入金");
  EXPECT_EQ(engine->GetTransKeyRecord(0x404B, r), 25);  // code 75: the guest count
  EXPECT_EQ(getText(r, 0, 24), "客数");
  EXPECT_EQ(engine->GetTransKeyRecord(0x4055, r), 35);
  EXPECT_EQ(getText(r, transkey::kPrintName.offset, transkey::kPrintName.size), "取引先");
  EXPECT_EQ(boxes->count(), 0u);
  // A department key is no transaction key: the program sequence error.
  EXPECT_EQ(engine->GetTransKeyRecord(0x1003, r), -1);
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->lastText(),
            "プログラムシーケンスに誤りがあります。\nお手数ですが、システム管理者に、ご相談下さい。\nPOS System "
            "Function: CRegCom");
  EXPECT_EQ(boxes->shown().back().style, static_cast<uint32_t>(platform::kMbIconInformation));
}

// Opening twice leaves every file of the project as it was.
TEST_F(OpenTest, SecondOpenChangesNothing) {
  ASSERT_TRUE(open());
  // Make the project an older one, so the first open's upkeep has work.
  std::vector<uint8_t> empty(48, 0);
  for (int n = 6; n <= 9; ++n) write(kTrans1Table, n, empty);
  ASSERT_EQ(FileDBRecDelete(engine->Table(kFixedTotalTable), 18, 35, nullptr), 0);
  engine.reset();

  engine = std::make_unique<CRegCom>();
  engine->SetDataFolder(folder.string());
  ASSERT_TRUE(open());
  EXPECT_EQ(FileDBRecGetSize(engine->Table(kFixedTotalTable)), 36);
  EXPECT_EQ(text(read(kTrans1Table, 7), transkey::kName), "ｺｰﾄﾞ売3");
  engine.reset();
  const auto before = varnex_test::snapshot(folder);

  engine = std::make_unique<CRegCom>();
  engine->SetDataFolder(folder.string());
  ASSERT_TRUE(open());
  engine.reset();
  EXPECT_TRUE(before == varnex_test::snapshot(folder));
  EXPECT_EQ(boxes->count(), 0u);
}

TEST_F(OpenTest, MissingProject) {
  fs::remove_all(folder / "Res");
  EXPECT_FALSE(open());
  ASSERT_GE(boxes->count(), 1u);
  EXPECT_EQ(boxes->lastText(), kMissing);
  EXPECT_EQ(boxes->shown().back().style, static_cast<uint32_t>(platform::kMbIconError));
  EXPECT_FALSE(engine->IsOpen());
  // Every later call reports the engine as not open.
  boxes->clear();
  uint8_t r[256];
  EXPECT_EQ(engine->GetDepartmentRecord(1, r), -1);
  EXPECT_EQ(engine->CheckPermission(kModeXReading, 0), 0);
  uint16_t mode = 1;
  EXPECT_EQ(engine->PrfOpen(4, &mode), 0u);
  ASSERT_EQ(boxes->count(), 3u);
  EXPECT_EQ(boxes->shown()[0].text,
            "関数への引数に無効なポインタを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。\nPOS System "
            "Function: CRegCom");
  EXPECT_NE(boxes->shown()[2].text.find("POS System Function: PrfOpen"), std::string::npos);
}

TEST_F(OpenTest, DamagedProjectsNameTheDamagedFile) {
  struct Damage {
    const char* what;
    std::function<void(const fs::path&)> apply;
    const char* file;  // named in the message; null: the generic message or "missing"
  };
  auto truncate = [](const fs::path& file, uintmax_t size) { fs::resize_file(file, size); };
  const Damage damages[] = {
      {"catalog cut short", [&](const fs::path& f) { truncate(f / "Res/Varnex.dbf", 1000); }, "Res/Varnex.dbf"},
      {"catalog of garbage", [&](const fs::path& f) {
         std::FILE* out = std::fopen((f / "Res/Varnex.dbf").c_str(), "r+b");
         std::fseek(out, 1152, SEEK_SET);
         for (int i = 0; i < 128; ++i) std::fputc(0xFF, out);
         std::fclose(out);
       }, nullptr},
      {"no settings record", [&](const fs::path& f) { truncate(f / "LocDat/POS_BAS.DBF", 0); }, "LocDat/POS_BAS.DBF"},
      {"table file torn", [&](const fs::path& f) { truncate(f / "LocDat/POS_PLU.DBF", 100); }, "LocDat/POS_PLU.DBF"},
      {"one byte cut off a table",
       [&](const fs::path& f) { truncate(f / "LocDat/POS_DPT.DBF", fs::file_size(f / "LocDat/POS_DPT.DBF") - 1); },
       "LocDat/POS_DPT.DBF"},
      {"seventeen totalizers", [&](const fs::path& f) { truncate(f / "LocDat/POS_FIX.DBF", 17 * 48); }, nullptr},
      {"link header cut", [&](const fs::path& f) { truncate(f / "LocDat/POS_ODBC.DBF", 100); }, "LocDat/POS_ODBC.DBF"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    fs::remove_all(folder);
    fs::copy(varnex_test::demoTemplate(), folder, fs::copy_options::recursive);
    d.apply(folder);
    const uintmax_t size = d.file ? fs::file_size(folder / d.file) : 0;
    boxes->clear();
    engine = std::make_unique<CRegCom>();
    engine->SetDataFolder(folder.string());
    EXPECT_FALSE(open());
    EXPECT_FALSE(engine->IsOpen());
    ASSERT_GE(boxes->count(), 1u);
    if (d.file) {
      EXPECT_EQ(boxes->lastText(), "プロジェクトデータベースが壊れています\n" + (folder / d.file).string() +
                                       "\nアプリケーションの起動に失敗しました");
      // The damaged file stays as it was, for the engineer.
      EXPECT_EQ(fs::file_size(folder / d.file), size);
    } else {
      EXPECT_TRUE(boxes->lastText() == kMissing || boxes->lastText().rfind("プロジェクトデータベースが壊れています", 0) == 0)
          << boxes->lastText();
    }
    EXPECT_EQ(boxes->shown().back().style, static_cast<uint32_t>(platform::kMbIconError));
  }
}

// A damaged index loses nothing: the records are all in the table. Cut short
// it is rebuilt as the project opens; with sound header and size but garbage
// in its nodes the index check of a start after an abnormal end rebuilds it.
TEST_F(OpenTest, DamagedIndexesAreRebuiltFromTheirTables) {
  const fs::path index = folder / "LocDat" / "PLU_CODE.BXX";
  const std::string code = varnex_test::demoJan(1);
  uint8_t plu[80];
  {
    ASSERT_TRUE(open()) << boxes->lastText();
    ASSERT_GE(engine->GetPluRecord(code.c_str(), plu), 0);
    engine.reset();
  }
  struct Damage {
    const char* what;
    std::function<void()> apply;
    int32_t foundByCheck;
  };
  const uintmax_t size = fs::file_size(index);
  const Damage damages[] = {
      {"cut short", [&] { fs::resize_file(index, size / 2); }, 0},
      {"garbage in its nodes", [&] {
         std::FILE* out = std::fopen(index.c_str(), "r+b");
         std::fseek(out, 64, SEEK_SET);
         for (uintmax_t i = 64; i + 4 < size; ++i) std::fputc(0x5A, out);
         std::fclose(out);
       }, 1},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    d.apply();
    boxes->clear();
    engine = std::make_unique<CRegCom>();
    engine->SetDataFolder(folder.string());
    ASSERT_TRUE(open()) << boxes->lastText();
    EXPECT_EQ(FileProjIdxCheck(engine->Project(), 0, 4), d.foundByCheck);
    uint8_t found[80];
    EXPECT_GE(engine->GetPluRecord(code.c_str(), found), 0);
    EXPECT_EQ(std::memcmp(found, plu, sizeof plu), 0);
    EXPECT_EQ(FileProjIdxCheck(engine->Project(), 0, 4), 0);
    engine.reset();
  }
}

TEST_F(OpenTest, ReloadSettingsSetsTheRatesAgain) {
  ASSERT_TRUE(open());
  auto s = read(kSettingsTable, 0);
  putU16(s.data(), settings::kRate2.offset, 500);
  write(kSettingsTable, 0, s);
  EXPECT_EQ(g_nTaxRate[2], 0u);
  EXPECT_EQ(engine->ReloadSettings(), 0);
  EXPECT_EQ(g_nTaxRate[2], 500u);
  EXPECT_EQ(getU16(engine->Settings(), settings::kRate2.offset), 500);
}

TEST_F(OpenTest, DataFolderFromTheMachineTarget) {
  auto& machine = platform::Profile::of(platform::ProfileScope::Machine);
  ASSERT_TRUE(machine.setString(kMachineKey, kTargetValue, folder.string()));
  engine = std::make_unique<CRegCom>();  // no folder of its own
  const bool opened = open();
  machine.deleteValue(kMachineKey, kTargetValue);
  ASSERT_TRUE(opened) << boxes->lastText();
  EXPECT_EQ(engine->Target(), folder.string());
  EXPECT_EQ(engine->DataFolder(), folder.string() + "/");
  // Without the value the user's data folder serves.
  EXPECT_EQ(DefaultDataFolder(), platform::dataFolder("ZEMTA/Varnex") + "/");
}

TEST(RegComNames, MatchDriverName) {
  struct Case {
    const char* reference;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"SQL Server Native Client 11.0 (x86)", "SQL Server Native Client 11.0",
       "SQL Server Native Client 11.0 (x86)"},
      {"SQL Server Native Client 11.0", "sql server native client 11.0 (x86)", "sql server native client 11.0"},
      {"SQL Server (x86)", "SQL Server (x86)", "SQL Server (x86)"},
      {"SQL Server Native Client (x86)", "MySQL ODBC 8.0 Driver", "MySQL ODBC 8.0 Driver"},
      // Names that differ within their first 16 characters are not aligned.
      {"Access Driver (x86)", "Access Driver", "Access Driver"},
      {nullptr, "Driver", "Driver"},
  };
  for (const Case& c : cases) {
    char out[64];
    CRegCom::MatchDriverName(c.reference, c.name, out, sizeof out);
    EXPECT_STREQ(out, c.expected) << c.name;
  }
  char small[8];
  CRegCom::MatchDriverName("A (x86)", "A long driver name", small, sizeof small);
  EXPECT_STREQ(small, "A long ");
}

TEST(RegComNames, UserHostAndServer) {
  CRegCom engine;
  engine.SetUserName("tanaka");
  engine.SetUserName(nullptr);
  EXPECT_EQ(engine.UserName(), "tanaka");
  engine.SetUserName(std::string(400, 'u').c_str());
  EXPECT_EQ(engine.UserName().size(), 256u);
  engine.SetHostName();
  EXPECT_FALSE(engine.HostName().empty());
  engine.SetServerName("srv");
  engine.SetServerName(nullptr);
  EXPECT_EQ(engine.ServerName(), "");
}

}  // namespace
