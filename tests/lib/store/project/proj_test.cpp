// The project database over a project the maker built in a temporary folder:
// three tables (one in the local data folder, one with a name longer than
// the catalog keeps, one with a composite index), lookups, reads and writes,
// the folder rules, and the refresh timer picking up another process's work.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/core/library_locks.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/views/view/view_registry.h"
#include "platform/ui/window.h"
#include "lib/store/store_test_support.h"
#include "support/cp932_names.h"
#include "support/source_tree.h"
#include "zemta/errors.h"
#include "zemta/fileproj.h"
#include "zemta/filesearch.h"

namespace {

using namespace zemta::fileproj;

// UTF-8, as definition files are.
const char8_t kDefinitionText[] = u8R"(# test project
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=16 record=32 file="DEPT"
  hfield "件数" id=500 offset=0 size=4 type=4
  field "部門番号" id=501 offset=0 size=2 type=4 index="DPT_NO"
  field "部門名" id=502 offset=2 size=20 type=0 index="DPT_NAME.BXX" flags=0x10000000
  field "区分" id=503 offset=22 size=2 type=4 bits=3:4
end
table "ファンクションキーレイアウト" fdb=2 id=2 header=0 record=8 file="POS_FKL.DBF"
  field "キーの位置" id=201 offset=0 size=2 type=4 index="FKL_POS.BXX"
  field "キーコード" id=202 offset=2 size=2 type=4
  field "部門" id=203 offset=4 size=2 type=4 rules=0x1 ref=部門:部門番号
  composite "FKL_CPL.BXX" 1 0
end
table "全体設定" fdb=3 id=3 header=0 record=64 file=".\POS_BAS.DBF"
  field "店名" id=301 offset=0 size=24 type=0
  field "番号" id=302 offset=24 size=4 type=7 index="BAS_NO.BXX"
end
)";
const char* const kDefinition = reinterpret_cast<const char*>(kDefinitionText);

std::vector<uint8_t> department(uint16_t number, const char* name) {
  std::vector<uint8_t> r(32, 0);
  r[0] = number & 0xFF;
  r[1] = number >> 8;
  std::memcpy(r.data() + 2, name, std::strlen(name));
  return r;
}

class ProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = ZemtaEnableLastErrorMessage(0);
    catalog_ = folder_.file("App/Res/Test.dbf");
    local_ = folder_.file("Local");
    ASSERT_EQ(FileSetLocPath(local_.c_str()), 0);
    ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(parseProjectDefinition(kDefinition, definition, error)) << error;
    ASSERT_TRUE(makeProject(definition, catalog_, error)) << error;
  }
  void TearDown() override {
    if (project_) FileProjClose(project_);
    FileSetLocPath(nullptr);
    ZemtaEnableLastErrorMessage(messages_);
  }

  store_test::TempFolder folder_;
  std::string catalog_, local_;
  FileProjHandle project_ = 0;
  int32_t messages_ = 0;
};

TEST_F(ProjectTest, OpensFindsEveryTableAndFieldReadsWritesAndCloses) {
  // The refresh timer ticks on the application's loop, so the program has one.
  platform::ui::ensureApplication();
  project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
  ASSERT_NE(project_, 0u);
  EXPECT_NE(g_nMsgRefExt, 0u);
  EXPECT_TRUE(refreshTimerRunning());
  EXPECT_EQ(FileSameProjCheck(5, nullptr), 1);

  // Files where the catalog puts them: "\\Proj\Data\" beside the catalog,
  // ".dbf" and ".bxx" added, the local table under the local data folder.
  const std::string data = folder_.file("App/Res/Data/Tab/");
  EXPECT_TRUE(std::ifstream(data + "DEPT.dbf").good());
  EXPECT_TRUE(std::ifstream(data + "DPT_NO.bxx").good());
  EXPECT_TRUE(std::ifstream(data + "FKL_CPL.BXX").good());
  EXPECT_TRUE(std::ifstream(local_ + "/Tab/POS_BAS.DBF").good());
  EXPECT_TRUE(std::ifstream(local_ + "/Tab/BAS_NO.BXX").good());
  char path[260];
  ASSERT_EQ(FileProjGetPathName(project_, path, 1, "x.txt"), 0);
  EXPECT_EQ(zemta::fileproj::findProject(project_)->folder, folder_.file("App/Res/Data") + "\\");
  EXPECT_EQ(std::string(path), folder_.file("App/Res/Data") + "\\Tab\\x.txt");
  ASSERT_EQ(FileProjGetPathName(project_, path, -1, nullptr), 0);
  EXPECT_EQ(std::string(path), catalog_);
  EXPECT_EQ(FileProjGetPathName(project_, path, 9, nullptr), -1);
  char qualifier[40];
  ASSERT_EQ(FileProjGetTableQualifier(project_, qualifier, sizeof qualifier), 0);
  EXPECT_STREQ(qualifier, "\\\\Proj\\Data\\");

  // Tables by id and by name; the long name by its full text and by what is kept.
  struct TableCase {
    const char* name;
    int32_t fdb;
  };
  for (const auto& c : {TableCase{"部門", 5}, TableCase{"ファンクションキーレイアウト", 2},
                        TableCase{"ファンクションキ", 2}, TableCase{"全体設定", 3}}) {
    EXPECT_EQ(FileProjGetType(project_, 0, c.name, 0, nullptr, nullptr, nullptr, 0), c.fdb) << c.name;
    EXPECT_NE(FileProjGetFdb(project_, c.fdb), 0u);
  }
  EXPECT_EQ(FileProjGetType(project_, 0, "ない", 0, nullptr, nullptr, nullptr, 1), 0);
  EXPECT_EQ(FileProjGetFdb(project_, 99), 0u);

  // Fields by name and by id; header fields first.
  struct FieldCase {
    int32_t fdb;
    const char* name;
    int32_t id;
    FileProjTypeInfo info;
  };
  const FieldCase fields[] = {
      {5, "件数", 500, {0, 4, 0, 4}},     {5, "部門番号", 501, {0, 2, 0, 4}}, {5, "部門名", 502, {2, 20, 0, 0}},
      {5, "区分", 503, {22, 2, 0x0304, 4}}, {2, "キーの位置", 201, {0, 2, 0, 4}}, {2, "部門", 203, {4, 2, 0, 4}},
      {3, "番号", 302, {24, 4, 0, 7}},
  };
  for (const auto& f : fields) {
    FileProjTypeInfo info{};
    int32_t id = 0;
    EXPECT_EQ(FileProjGetType(project_, f.fdb, nullptr, 0, f.name, &info, &id, 0), f.fdb) << f.name;
    EXPECT_EQ(id, f.id);
    EXPECT_EQ(std::memcmp(&info, &f.info, sizeof info), 0) << f.name;
    FileProjTypeInfo byId{};
    EXPECT_EQ(FileProjGetType(project_, f.fdb, nullptr, f.id, nullptr, &byId, nullptr, 0), f.fdb);
    EXPECT_EQ(std::memcmp(&byId, &f.info, sizeof info), 0);
  }
  EXPECT_EQ(FileProjGetType(project_, 5, nullptr, 0, "ない", nullptr, nullptr, 1), 0);
  TableEntry* fkl = FileProjFindTable(project_, 2);
  ASSERT_NE(fkl, nullptr);
  EXPECT_EQ(fkl->fields[2].refTable(), 5);
  EXPECT_EQ(fkl->fields[2].refField(), 501);
  EXPECT_EQ(fkl->fields[2].kind(), 1);
  EXPECT_TRUE(FileProjFindTable(project_, 3)->local);
  EXPECT_EQ(FileProjGetIndexField(*FileProjFindTable(project_, 5), 1)->id(), 502);

  // Records through the tables, found again through their indexes.
  FileDBHandle dept = FileProjGetFdb(project_, 5);
  ASSERT_EQ(FileDBRecWrite(dept, 0, department(20, "菓子").data()), 0);
  ASSERT_EQ(FileDBRecWrite(dept, 1, department(10, "飲料").data()), 0);
  std::vector<uint8_t> back(32);
  ASSERT_EQ(FileDBRecRead(dept, 1, back.data()), 0);
  EXPECT_EQ(back, department(10, "飲料"));
  int32_t record = -1;
  uint16_t key = 20;
  EXPECT_EQ(FileIdxEqu(dept, 0, &record, &key), 1);
  EXPECT_EQ(record, 0);
  std::vector<uint8_t> fklRecord = {3, 0, 0x42, 0x10, 20, 0, 0, 0};
  ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, 2), 0, fklRecord.data()), 0);
  uint8_t cplKey[8];
  ASSERT_EQ(FileMakeCplIndexKey(FileProjGetFdb(project_, 2), 1, cplKey, fklRecord.data()), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(cplKey), 8), "10420003");

  // Closing frees the tables, the catalog and the machinery.
  FileDBHandle catalog = findProject(project_)->catalog;
  EXPECT_EQ(FileProjClose(project_), 0);
  EXPECT_EQ(zemta::filedb::findTable(dept), nullptr);
  EXPECT_EQ(zemta::filedb::findTable(catalog), nullptr);
  EXPECT_EQ(FileProjGetFdb(project_, 5), 0u);
  EXPECT_EQ(FileProjClose(project_), -1);
  project_ = 0;
  EXPECT_FALSE(refreshTimerRunning());
  EXPECT_FALSE(zemta::apiLock().exists());
  EXPECT_EQ(FileSameProjCheck(5, nullptr), 0);

  // Opening again starts it anew.
  project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
  ASSERT_NE(project_, 0u);
  EXPECT_TRUE(refreshTimerRunning());
  EXPECT_EQ(FileDBRecGetSize(FileProjGetFdb(project_, 5)), 2);
}

TEST_F(ProjectTest, BadArgumentsAndDamagedCatalogsFailCleanly) {
  EXPECT_EQ(FileProjOpen(folder_.file("missing.dbf").c_str(), 5, nullptr), 0u);
  EXPECT_EQ(FileProjOpen("", 5, nullptr), 0u);
  EXPECT_EQ(FileProjOpen(catalog_.c_str(), 0, nullptr), 0u);
  EXPECT_FALSE(std::ifstream(folder_.file("missing.dbf")).good());

  // One record too many: refused, and nothing stays registered.
  std::string bytes = store_test::fileBytes(catalog_);
  store_test::writeFileBytes(catalog_, bytes + std::string(128, '\0'));
  EXPECT_EQ(FileProjOpen(catalog_.c_str(), 5, nullptr), 0u);
  EXPECT_EQ(FileSameProjCheck(5, nullptr), 0);
  EXPECT_FALSE(refreshTimerRunning());
  store_test::writeFileBytes(catalog_, bytes.substr(0, bytes.size() - 128));
  EXPECT_EQ(FileProjOpen(catalog_.c_str(), 5, nullptr), 0u);
  store_test::writeFileBytes(catalog_, bytes);
  project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
  EXPECT_NE(project_, 0u);
  EXPECT_EQ(FileProjClose(0x1234), -1);
}

// A project whose data folder and local data folder are named with a second
// byte 0x5C at their end ("売上表" ends in 95 5C) opens, and its files lie
// in those folders.
TEST(ProjectFolderNames, FoldersWhoseLastByteIs5COpen) {
  const int32_t messages = ZemtaEnableLastErrorMessage(0);
  const std::string definitionText = reinterpret_cast<const char*>(kDefinitionText);
  const std::string dataFolder = "folder=\"\\\\Proj\\Data\\\"";
  ASSERT_NE(definitionText.find(dataFolder), std::string::npos);
  for (const auto& n : testing_support::cp932Names()) {
    SCOPED_TRACE(n.label);
    store_test::TempFolder folder;
    const std::string local = folder.file(n.name);  // written without a separator at the end
    ASSERT_EQ(FileSetLocPath(local.c_str()), 0);
    std::string text = definitionText;
    text.replace(text.find(dataFolder), dataFolder.size(), "folder=\"\\\\Proj\\" + n.utf8 + "\"");
    ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(parseProjectDefinition(text, definition, error)) << error;
    const std::string catalog = folder.file("App/Res/Test.dbf");
    ASSERT_TRUE(makeProject(definition, catalog, error)) << error;
    const FileProjHandle project = FileProjOpen(catalog.c_str(), 5, nullptr);
    ASSERT_NE(project, 0u);
    EXPECT_EQ(findProject(project)->folder, folder.file("App/Res/" + n.name) + "\\");
    EXPECT_TRUE(std::ifstream(folder.file("App/Res/" + n.name + "/Tab/DEPT.dbf")).good());
    EXPECT_TRUE(std::ifstream(local + "/Tab/POS_BAS.DBF").good());
    EXPECT_EQ(FileDBRecWrite(FileProjGetFdb(project, 3), 0, std::vector<uint8_t>(64, 0x78).data()), 0);
    EXPECT_EQ(FileProjClose(project), 0);
  }
  FileSetLocPath(nullptr);
  ZemtaEnableLastErrorMessage(messages);
}

// Another process appends a record and changes one; one tick later the views
// hear the new count and the bound window gets code 7 for the changed row.
TEST_F(ProjectTest, RefreshTickPicksUpAnotherProcesssChanges) {
  platform::ui::ensureApplication();
  struct Heard {
    int32_t code = 0, fdb = 0, record = -2;
    uint16_t row = 0xFFFF;
    std::vector<uint8_t> image;
  } heard;
  int notices = 0;
  HWND owner = platform::ui::createWindow({"ProjectOwner", "owner", nullptr, {0, 0, 100, 100}, false},
                                          [&](HWND w, uint32_t message, WPARAM wParam, LPARAM lParam) -> LRESULT {
                                            if (message == g_nMsgRefExt && g_nMsgRefExt != 0) {
                                              auto* block = reinterpret_cast<const uint8_t*>(lParam);
                                              ++notices;
                                              heard.code = static_cast<int32_t>(wParam);
                                              std::memcpy(&heard.fdb, block + 24, 4);
                                              std::memcpy(&heard.record, block + 4172, 4);
                                              std::memcpy(&heard.row, block + 4166, 2);
                                              uint8_t* image = nullptr;
                                              std::memcpy(&image, block + 4180, sizeof image);
                                              heard.image.assign(image, image + 32);
                                              return 0;
                                            }
                                            return platform::ui::defaultWindowProc(w, message, wParam, lParam);
                                          });
  ASSERT_NE(owner, nullptr);
  project_ = FileProjOpen(catalog_.c_str(), 5, owner);
  ASSERT_NE(project_, 0u);
  FileDBHandle dept = FileProjGetFdb(project_, 5);
  ASSERT_EQ(FileDBRecWrite(dept, 0, department(1, "野菜").data()), 0);
  ASSERT_EQ(FileDBRecWrite(dept, 1, department(2, "果物").data()), 0);

  std::vector<int32_t> sizes;
  zemta::views::ViewBackend backend;
  backend.updateSize = [&](ZemtaView, uint32_t table, int32_t timer) {
    if (table == dept && timer == 1) sizes.push_back(FileDBRecGetSize(dept));
    return 0;
  };
  auto previous = zemta::views::bindBackend(backend);
  zemta::views::registerView(0x7001, project_);
  zemta::views::bindTable(0x7001, dept);

  int32_t set = createBufferSet(project_, owner, 0, {{5, 2}});
  ASSERT_EQ(set, 0);
  ASSERT_EQ(loadRow(project_, set, 0, 0, 0), 0);
  ASSERT_EQ(loadRow(project_, set, 0, 1, 1), 0);
  EXPECT_EQ(FileProjGetAct(project_, owner, 5, 1), 9);

  refreshTick();
  EXPECT_EQ(notices, 0);
  EXPECT_TRUE(sizes.empty());

  std::string path(260, '\0');
  FileDBGetPathName(dept, path.data());
  path.resize(std::strlen(path.c_str()));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The other process opens the table with its indexes, as a program does.
    FileDBHandle other = FileDBCreate(path.c_str(), 5, 16, 32, "other", nullptr);
    bool ok = other != 0;
    for (const auto& index : zemta::filedb::findTable(dept)->indexes)
      ok = ok && FileAddIndex(other, index.path.c_str(), index.order, index.keyType, index.keyDesc, index.keyLen,
                              index.fieldWord, index.compare, nullptr, nullptr) == 0;
    ok = ok && FileDBRecWrite(other, 2, department(3, "花").data()) == 0 &&
              FileDBRecRead(other, 1, department(0, "").data()) == 0 &&
              FileDBRecWrite(other, 1, department(2, "果実").data()) == 0;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  refreshTick();
  EXPECT_EQ(sizes, std::vector<int32_t>{3});
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(heard.code, 7);
  EXPECT_EQ(heard.fdb, 5);
  EXPECT_EQ(heard.record, 1);
  EXPECT_EQ(heard.row, 1);
  EXPECT_EQ(heard.image, department(2, "果実"));
  EXPECT_EQ(FileProjGetAct(project_, owner, 5, 1), 9 | 2);
  EXPECT_EQ(std::memcmp(FileProjGetBufFdb(project_, owner, 5, 1), department(2, "果実").data(), 32), 0);
  // The table follows too: writing the row back is no conflict.
  EXPECT_EQ(FileDBRecWrite(dept, 1, department(2, "果物").data()), 0);

  // Switched off, or while a locked operation runs, a tick does nothing.
  FileProjSetCallback(project_, 0);
  sizes.clear();
  ASSERT_EQ(FileDBRecWrite(dept, 3, department(4, "米").data()), 0);
  refreshTick();
  FileProjSetCallback(project_, 1);
  {
    zemta::ApiLockGuard busy;
    refreshTick();
  }
  EXPECT_EQ(notices, 1);

  zemta::views::unregisterView(0x7001);
  zemta::views::bindBackend(previous);
  platform::ui::destroyWindow(owner);
}

TEST(ProjectDefinitionTest, TheRegistersDefinitionParsesAndBuilds) {
  const std::string& source = testing_support::sourceTree();
  std::ifstream in(source + "/res/varnex/Varnex.project", std::ios::binary);
  ASSERT_TRUE(in) << "the tree's res/varnex/Varnex.project is missing";
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ProjectDefinition definition;
  std::string error;
  ASSERT_TRUE(parseProjectDefinition(text, definition, error)) << error;
  EXPECT_EQ(definition.tables.size(), 13u);
  store_test::TempFolder folder;
  int32_t messages = ZemtaEnableLastErrorMessage(0);
  ASSERT_TRUE(makeProject(definition, folder.file("Res/Varnex.dbf"), error)) << error;
  FileProjHandle project = FileProjOpen(folder.file("Res/Varnex.dbf").c_str(), 5, nullptr);
  ASSERT_NE(project, 0u);
  EXPECT_EQ(FileProjGetType(project, 0, "ファンクションキーレイアウト", 0, "キーコード", nullptr, nullptr, 0), 2);
  EXPECT_EQ(FileProjClose(project), 0);
  ZemtaEnableLastErrorMessage(messages);
}

TEST(ProjectDefinitionTest, MistakesNameTheirLine) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"table \"a\" fdb=1 id=1 header=0 record=4 file=\"A\"\nend\n", "line 1: \"table\" before \"project\""},
      {"project folder=\"\" folders=\"\" \"\" \"\" \"\" \"\"\ntable \"a\" fdb=1 id=1 header=0 record=4 file=\"A\"\n"
       "  field \"x\" id=1 offset=2 size=4 type=4\nend\n",
       "line 3: field \"x\" lies beyond the record"},
      {"project folder=\"\" folders=\"\" \"\" \"\" \"\" \"\"\ntable \"a\" fdb=1 id=1 header=0 record=4 file=\"A\"\n"
       "  field \"x\" id=1 offset=0 size=4 type=4 ref=b:c\nend\n",
       "line 3: ref= names no table of the project"},
      {"project folder=\"\" folders=\"\" \"\" \"\" \"\" \"\"\ntable \"a\" fdb=1 id=1 header=0 record=4 file=\"A\"\n",
       "line 0: the last table has no \"end\""},
  };
  for (const auto& c : cases) {
    ProjectDefinition definition;
    std::string error;
    EXPECT_FALSE(parseProjectDefinition(c.text, definition, error));
    EXPECT_EQ(error, c.message);
  }
}

}  // namespace

namespace {

using namespace zemta::fileproj;

TEST_F(ProjectTest, OpensWithoutARefreshTimerWhereNoApplicationRuns) {
  // A tool without a display opens a project too; it only goes without the
  // refresh. The child is started afresh, so no other test made it an
  // application.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        FileProjHandle project = FileProjOpen(catalog_.c_str(), 5, nullptr);
        if (!project) std::exit(3);
        bool running = refreshTimerRunning();
        FileProjClose(project);
        std::exit(running ? 4 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
