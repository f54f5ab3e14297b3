// Backup and restore of a project the maker built in a temporary folder: a
// restore brings tables and indexes back byte for byte and the open project
// works on them at once; a damaged backup is refused with nothing changed.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "platform/ui/common_dialogs.h"
#include "lib/store/department_project.h"
#include "lib/store/store_test_support.h"
#include "support/cp932_names.h"
#include "zemta/combine.h"
#include "zemta/date.h"
#include "zemta/errors.h"
#include "zemta/fileproj.h"
#include "zemta/fileproj_upkeep.h"

namespace {

using namespace zemta::fileproj;
using store_test::department;

const char8_t kDefinitionText[] = u8R"(# backup project
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=16 record=32 file="DEPT"
  hfield "件数" id=500 offset=0 size=4 type=4
  field "番号" id=501 offset=0 size=2 type=4 index="NO"
  field "名前" id=502 offset=2 size=20 type=0 index="NAME.BXX"
  field "区分" id=503 offset=22 size=2 type=4
  composite "KINDNO" 2 0
end
)";
const char* const kDefinition = reinterpret_cast<const char*>(kDefinitionText);

// The files a backup holds (the composite index is not one of them).
const char* const kBackedUp[] = {"DEPT.dbf", "NO.bxx", "NAME.BXX"};

std::string restoredFolder;
void rememberFolder(const char* folder) { restoredFolder = folder; }

class BackupTest : public store_test::DepartmentProject {
 protected:
  void SetUp() override {
    openProject(kDefinition);
    const uint8_t header[16] = {3, 0, 0, 0, 7};
    ASSERT_EQ(FileDBWrite(table_, 0, header, sizeof header), 16);
    restoredFolder.clear();
  }
  void TearDown() override {
    platform::ui::setFileDialogAnswerer({});
    DepartmentProject::TearDown();
  }
  std::map<std::string, std::string> snapshot() {
    std::map<std::string, std::string> files;
    for (const char* name : {"DEPT.dbf", "NO.bxx", "NAME.BXX", "KINDNO.bxx"}) files[name] = folder_.read("App/Res/Data/Tab/" + std::string(name));
    return files;
  }
  // Changes every backed-up file: a record rewritten, one appended, the header.
  void changeRecords() {
    ASSERT_EQ(FileDBRecWrite(table_, 0, department(99, "変更", 2).data()), 0);
    ASSERT_EQ(FileDBRecWrite(table_, 3, department(13, "追加", 3).data()), 0);
    const uint8_t header[4] = {4, 0, 0, 0};
    ASSERT_EQ(FileDBWrite(table_, 0, header, sizeof header), 4);
  }
  int32_t findNumber(uint16_t number) {
    const uint8_t key[2] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8)};
    int32_t first = -2;
    return FileIdxEqu(table_, FileGetIndexPos(table_, 0, 2, 1), &first, key) == 1 ? first : -1;
  }

};

TEST_F(BackupTest, RestoreGivesTablesAndIndexesBackByteForByte) {
  const auto before = snapshot();
  const std::string backup = folder_.file("save.dbk");
  ASSERT_EQ(FileProjBackup(project_, backup.c_str()), 0);
  changeRecords();
  ASSERT_NE(snapshot(), before);

  EXPECT_EQ(FileProjRestore(project_, backup.c_str(), 0, rememberFolder), 3);
  const auto after = snapshot();
  for (const char* name : kBackedUp) EXPECT_EQ(after.at(name), before.at(name)) << name;
  EXPECT_EQ(restoredFolder.back(), '\\');
  // A partial header write straight after the restore goes through and keeps
  // the restored rest of the header.
  const uint8_t one = 1;
  ASSERT_EQ(FileDBWrite(table_, 8, &one, 1), 1);
  std::string table = folder_.read("App/Res/Data/Tab/DEPT.dbf");
  EXPECT_EQ(table[0], 3);
  EXPECT_EQ(table[4], 7);
  EXPECT_EQ(table[8], 1);

  // The open project works on the restored files: count, header, indexes
  // (the composite one rebuilt to agree with the restored records).
  EXPECT_EQ(FileDBRecGetSize(table_), 3);
  uint8_t header[16] = {};
  EXPECT_EQ(FileDBRead(table_, 0, header, 4), 4);
  EXPECT_EQ(header[0], 3);
  EXPECT_EQ(findNumber(10), 0);
  EXPECT_EQ(findNumber(99), -1);
  EXPECT_EQ(findNumber(13), -1);
  EXPECT_EQ(FileProjIdxCheck(project_, 0, 0), 0);
}

TEST_F(BackupTest, DamagedBackupIsRefusedAndNothingChanges) {
  const std::string backup = folder_.file("save.dbk");
  ASSERT_EQ(FileProjBackup(project_, backup.c_str()), 0);
  std::string whole = store_test::fileBytes(backup);
  store_test::writeFileBytes(backup, whole.substr(0, whole.size() / 2));
  changeRecords();
  const auto changed = snapshot();

  EXPECT_EQ(FileProjRestore(project_, backup.c_str(), 0, rememberFolder), -1);
  EXPECT_EQ(snapshot(), changed);
  EXPECT_TRUE(restoredFolder.empty());
  EXPECT_EQ(FileDBRecGetSize(table_), 4);
  EXPECT_EQ(findNumber(99), 0);
  EXPECT_EQ(FileProjRestore(project_, folder_.file("missing.dbk").c_str(), 0, nullptr), -1);
  EXPECT_EQ(snapshot(), changed);
}

// A backup holding anything besides the project's own tables and indexes (a
// temporary transaction file the next start would offer to commit) is
// refused whole.
TEST_F(BackupTest, BackupWithAForeignMemberIsRefused) {
  const std::string tableFolder = folder_.file("App/Res/Data/Tab/");
  store_test::writeFileBytes(tableFolder + "R1N00001.log", std::string(96, 'x'));
  const char* names[] = {"DEPT.dbf", "NO.bxx", "NAME.BXX", "R1N00001.log"};
  const std::string backup = folder_.file("planted.dbk");
  ASSERT_EQ(CombineFiles(4, names, backup.c_str(), tableFolder.c_str()), 0);
  std::filesystem::remove(tableFolder + "R1N00001.log");
  changeRecords();
  const auto changed = snapshot();

  EXPECT_EQ(FileProjRestore(project_, backup.c_str(), 0, rememberFolder), -1);
  EXPECT_EQ(snapshot(), changed);
  EXPECT_FALSE(std::filesystem::exists(tableFolder + "R1N00001.log"));
  EXPECT_TRUE(restoredFolder.empty());
}

TEST_F(BackupTest, DefaultNameAndFileDialog) {
  // Without a target the backup is named by today in the table folder.
  ASSERT_EQ(FileProjBackup(project_, nullptr), 0);
  uint16_t date = 0;
  GetDate(&date, nullptr);
  char name[32];
  std::snprintf(name, sizeof name, "DT%02u%2u%2u.dbk", (((date >> 9) + 1980u) % 100u), (date >> 5) & 0x0Fu,
                date & 0x1Fu);
  const std::string made = data_ + name;
  ASSERT_TRUE(std::filesystem::exists(made)) << made;
  changeRecords();

  // Cancelling the dialog changes nothing; choosing a file restores it.
  platform::ui::FileDialogRequest seen;
  bool answer = false;
  platform::ui::setFileDialogAnswerer([&](const platform::ui::FileDialogRequest& r, std::string& path) {
    seen = r;
    path = made;
    return answer;
  });
  EXPECT_EQ(FileProjRestore(project_, "C:\\Backups\\last.dbk", 1, nullptr), 0);
  EXPECT_EQ(seen.caption, std::string("リストアを行うファイルを選択して下さい"));
  EXPECT_EQ(seen.folder, "C:\\Backups\\");
  EXPECT_EQ(seen.fileName, "last.dbk");
  EXPECT_EQ(seen.filters.size(), 2u);
  EXPECT_EQ(FileDBRecGetSize(table_), 4);
  answer = true;
  EXPECT_EQ(FileProjRestore(project_, nullptr, 0, nullptr), 3);
  EXPECT_EQ(seen.fileName, "");
  EXPECT_EQ(FileDBRecGetSize(table_), 3);

  EXPECT_EQ(FileProjBackup(0, nullptr), -1);
  EXPECT_EQ(FileProjRestore(0, made.c_str(), 0, nullptr), -1);
}

// Index files whose names differ only in a trail byte that looks like a
// letter of the other case ("ア.bxx" is 83 41, "ヂ.bxx" 83 61) are two files:
// a backup keeps both and a restore brings both back.
class NameBackupTest : public store_test::DepartmentProject {};

TEST_F(NameBackupTest, IndexFilesThatOnlyByteFoldingWouldConfuseBothComeBack) {
  const testing_support::Cp932Name* pair = nullptr;
  for (const auto& n : testing_support::cp932Names())
    if (!n.twin.empty() && !pair) pair = &n;
  ASSERT_NE(pair, nullptr);
  std::string twinUtf8;
  for (const auto& n : testing_support::cp932Names())
    if (n.name == pair->twin) twinUtf8 = n.utf8;
  const std::string definition = std::string(reinterpret_cast<const char*>(u8R"(# two index files
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=16 record=32 file="DEPT"
  hfield "件数" id=500 offset=0 size=4 type=4
)")) + "  field \"No\" id=501 offset=0 size=2 type=4 index=\"" + pair->utf8 + ".bxx\"\n" +
                                 "  field \"Name\" id=502 offset=2 size=20 type=0 index=\"" + twinUtf8 + ".bxx\"\nend\n";
  openProject(definition.c_str());
  const std::string files[] = {"DEPT.dbf", pair->name + ".bxx", pair->twin + ".bxx"};
  std::map<std::string, std::string> before;
  for (const auto& f : files) before[f] = folder_.read("App/Res/Data/Tab/" + f);
  ASSERT_FALSE(before[files[1]].empty());
  ASSERT_FALSE(before[files[2]].empty());

  const std::string backup = folder_.file("save.dbk");
  ASSERT_EQ(FileProjBackup(project_, backup.c_str()), 0);
  ASSERT_EQ(FileDBRecWrite(table_, 0, department(99, "変更", 2).data()), 0);
  ASSERT_EQ(FileDBRecWrite(table_, 3, department(13, "追加", 3).data()), 0);
  for (const auto& f : files) ASSERT_NE(folder_.read("App/Res/Data/Tab/" + f), before[f]) << f;

  EXPECT_EQ(FileProjRestore(project_, backup.c_str(), 0, nullptr), 3);
  for (const auto& f : files) EXPECT_EQ(folder_.read("App/Res/Data/Tab/" + f), before[f]) << f;
  EXPECT_EQ(FileProjIdxCheck(project_, 0, 0), 0);

  // The restore dialog opens in the folder of the path it is given, whose
  // name may end in 0x5C.
  platform::ui::FileDialogRequest seen;
  platform::ui::setFileDialogAnswerer([&](const platform::ui::FileDialogRequest& r, std::string&) {
    seen = r;
    return false;
  });
  for (const auto& n : testing_support::cp932Names()) {
    EXPECT_EQ(FileProjRestore(project_, ("C:\\" + n.name + "\\" + n.name + ".dbk").c_str(), 1, nullptr), 0);
    EXPECT_EQ(seen.folder, "C:\\" + n.name + "\\") << n.label;
    EXPECT_EQ(seen.fileName, n.name + ".dbk") << n.label;
  }
  platform::ui::setFileDialogAnswerer({});
}

}  // namespace

// A table named ".\name" lies, with its indexes, in the local data folder: a
// backup takes it from there and a restore puts it back there, and nothing of
// it lands in the table folder.
class LocalTableBackupTest : public store_test::DepartmentProject {};

TEST_F(LocalTableBackupTest, LocalTablesComeBackIntoTheLocalDataFolder) {
  const std::string definition = std::string(kDefinition) + reinterpret_cast<const char*>(u8R"(
table "全体設定" fdb=6 id=6 header=0 record=32 file=".\LOC"
  field "番号" id=601 offset=0 size=2 type=4 index="LOC_NO.BXX"
end
)");
  openProject(definition.c_str());
  const FileDBHandle local = FileProjGetFdb(project_, 6);
  ASSERT_NE(local, 0u);
  ASSERT_EQ(FileDBRecWrite(local, 0, department(1, "本店").data()), 0);
  ASSERT_EQ(FileDBRecWrite(local, 1, department(2, "支店").data()), 0);
  const std::string localFolder = "Local/Tab/";
  const std::map<std::string, std::string> before = {
      {"LOC.dbf", folder_.read(localFolder + "LOC.dbf")}, {"LOC_NO.BXX", folder_.read(localFolder + "LOC_NO.BXX")}};
  ASSERT_EQ(before.at("LOC.dbf").size(), 64u);

  const std::string backup = folder_.file("save.dbk");
  ASSERT_EQ(FileProjBackup(project_, backup.c_str()), 0);
  ASSERT_EQ(FileDBRecWrite(local, 0, department(9, "変更").data()), 0);
  ASSERT_EQ(FileDBRecWrite(local, 2, department(3, "追加").data()), 0);
  ASSERT_NE(folder_.read(localFolder + "LOC.dbf"), before.at("LOC.dbf"));

  // The three files of the department table and the two local ones.
  EXPECT_EQ(FileProjRestore(project_, backup.c_str(), 0, nullptr), 5);
  for (const auto& [name, bytes] : before) EXPECT_EQ(folder_.read(localFolder + name), bytes) << name;
  for (const char* name : {"LOC.dbf", "LOC_NO.BXX"})
    EXPECT_FALSE(std::filesystem::exists(data_ + name)) << name;
  EXPECT_EQ(FileDBRecGetSize(local), 2);
  EXPECT_EQ(FileProjIdxCheck(project_, 0, 0), 0);
}
