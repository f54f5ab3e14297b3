// A project's forms: the resource file loaded from bytes laid out here, the
// look-ups over the catalog's resource entries of a project made by the
// project maker, and the two project dialogs (form choice, key entry with
// three tries) driven by real key and mouse events in the offscreen window
// system, with a screenshot of each.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/store/store_test_support.h"
#include "platform/base/path.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "support/while_modal.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileproj.h"
#include "zemta/fileproj_resource.h"

namespace ui = platform::ui;
using store_test::TempFolder;
using testing_support::ScriptedMessageBox;
using testing_support::WhileModal;

namespace {

// Clerks (fdb 7) with a code and a PIN, each indexed; departments (fdb 5);
// items (fdb 8) without a form of their own.
const char8_t kDefinitionText[] = u8R"(
project folder="\\Proj\Data" folders="Res\" "Tab\" "" "" ""
table "担当者" fdb=7 id=7 header=0 record=16 file="CLERK"
  field "コード" id=1 offset=0 size=2 type=2 index="CLK01"
  field "暗証番号" id=2 offset=2 size=4 type=2 index="CLK02"
  field "氏名" id=3 offset=6 size=10 type=0 index="CLK03"
end
table "部門" fdb=5 id=5 header=0 record=8 file="DEPT"
  field "コード" id=1 offset=0 size=2 type=2 index="DPT01"
end
table "商品" fdb=8 id=8 header=0 record=8 file="PLU"
  field "コード" id=1 offset=0 size=4 type=2
end
resource "担当者一覧" file="CLERK" flags=1 tables=7
resource "担当者別部門売上票" file="CLERKP" flags=0x10001 attr=1 tables=7,5 form=2
resource "部門" file="DEPT" flags=0x10000 tables=5
resource "商品" file="PLU.daf" flags=0 tables=8
)";
const char* const kDefinition = reinterpret_cast<const char*>(kDefinitionText);

std::string outputFile(const std::string& name) {
  std::filesystem::path folder = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "lib" / "store";
  std::filesystem::create_directories(folder);
  return (folder / name).string();
}

void putLe(std::string& bytes, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
}

// One 64-byte form item: column, line, width, line count, attribute, record
// offset, field size, step (words 3, 4, 5, 6, 7, 10, 11, 13).
std::string item(uint16_t column, uint16_t line, uint16_t width, uint16_t lines, uint8_t attribute, uint16_t offset,
                 uint16_t size, uint16_t step) {
  std::string bytes(64, '\0');
  auto word = [&](int index, uint16_t value) {
    bytes[2 * index] = static_cast<char>(value);
    bytes[2 * index + 1] = static_cast<char>(value >> 8);
  };
  word(3, column), word(4, line), word(5, width), word(6, lines), word(7, attribute);
  word(10, offset), word(11, size), word(13, step);
  return bytes;
}

struct FormFile {
  char format = 'A';
  uint16_t version = 256;
  uint16_t width = 0, height = 0;
  std::string screen;                 // bytes as stored
  std::string block;                  // format 'B': 32 bytes
  std::vector<std::string> items;
  std::vector<uint16_t> words;        // the trailer's word table; none when empty
  std::string rest;                   // trailer bytes after the word table

  std::string bytes() const {
    std::string b = {'N', format};
    putLe(b, version, 2);
    putLe(b, width, 2);
    putLe(b, height, 2);
    b.append(8, '\0');
    b += screen;
    if (format == 'B') b += block;
    putLe(b, static_cast<uint32_t>(items.size()), 2);
    for (const auto& i : items) b += i;
    std::string trailer;
    if (!words.empty()) {
      trailer = "ZEMTA RESOURCE\r\n";
      putLe(trailer, static_cast<uint32_t>(words.size()), 2);
      for (uint16_t w : words) putLe(trailer, w, 2);
    }
    trailer += rest;
    putLe(b, static_cast<uint32_t>(trailer.size()), 2);
    return b + trailer;
  }
};

std::string row(const FileProjForm& form, uint16_t line) {
  return std::string(reinterpret_cast<const char*>(form.chars) + line * form.width, form.width);
}

class ProjectResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = ZemtaEnableLastErrorMessage(0);
    catalog_ = folder_.file("App/Res/Test.dbf");
    zemta::fileproj::ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(kDefinition, definition, error)) << error;
    ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog_, error)) << error;
    project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
    ASSERT_NE(project_, 0u);
  }
  void TearDown() override {
    if (project_) FileProjClose(project_);
    ZemtaEnableLastErrorMessage(messages_);
  }
  // The text of the box a failing call showed.
  template <typename Call>
  std::string shownBy(Call call) {
    ZemtaEnableLastErrorMessage(1);
    ScriptedMessageBox box;
    call();
    ZemtaEnableLastErrorMessage(0);
    return box.lastText();
  }
  void writeClerk(int32_t n, uint16_t code, uint32_t pin, const char* name) {
    std::vector<uint8_t> r(16, 0);
    r[0] = code & 0xFF, r[1] = code >> 8;
    for (int i = 0; i < 4; ++i) r[2 + i] = static_cast<uint8_t>(pin >> (8 * i));
    std::memcpy(r.data() + 6, name, std::strlen(name));
    ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, 7), n, r.data()), 0);
  }

  TempFolder folder_;
  std::string catalog_;
  FileProjHandle project_ = 0;
  int32_t messages_ = 0;
};

TEST_F(ProjectResourceTest, FormFileRoundTrip) {
  FormFile f;
  f.format = 'B';
  f.width = 8;
  f.height = 3;
  // Line 1 is longer than the width; ESC sets the attribute of what follows;
  // LF is skipped; a double-byte character that would cross the edge is dropped.
  f.screen = "コード\r\nABCDEFGHIJ\r\n\x1b\x07x\x82\xa0\x82\xa0\x82\xa0\x82\xa0\r";
  f.block = std::string(32, '\x5A');
  f.items = {item(4, 0, 3, 1, 0x0B, 2, 4, 0), item(0, 1, 2, 1, 0x0C, 10, 6, 0), item(0, 0, 1, 0, 0, 300, 9, 0)};
  f.words = {7, 0x8005};
  f.rest = "tail";
  const std::string path = folder_.file("form.daf");
  store_test::writeFileBytes(path, f.bytes() + "after");

  uint8_t header[16];
  ASSERT_EQ(FileProjResourceCheck(path.c_str(), header), 0);
  EXPECT_EQ(header[1], 'B');
  FileProjForm form;
  int32_t itemPosition = 0;
  // The largest end of record data over drawn items: 10 + 6 (the item not
  // drawn does not count).
  ASSERT_EQ(FileProjResourceLoad(path.c_str(), &form, &itemPosition), 16);
  EXPECT_EQ(form.width, 8);
  EXPECT_EQ(form.height, 3);
  EXPECT_EQ(row(form, 0), "コー*** ");
  EXPECT_EQ(row(form, 1), "**CDEFGH");
  EXPECT_EQ(row(form, 2), "x\x82\xa0\x82\xa0\x82\xa0 ");
  EXPECT_EQ(form.attributes[0], 0xE1);
  EXPECT_EQ(form.attributes[4], 0x0B);
  EXPECT_EQ(form.attributes[8], 0x0C);
  EXPECT_EQ(form.attributes[2 * 8 + 2], 0x07);
  EXPECT_EQ(form.attributes[2 * 8 + 7], 0xE1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(form.block), 32), f.block);
  ASSERT_EQ(form.itemCount, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(form.items), 64 * 3), f.items[0] + f.items[1] + f.items[2]);
  EXPECT_EQ(itemPosition, static_cast<int32_t>(16 + f.screen.size() + 32 + 2));
  ASSERT_EQ(form.wordCount, 2);
  EXPECT_EQ(form.words[0], 7);
  EXPECT_EQ(form.words[1], 0x8005);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(form.trailer), form.trailerLen), "tail");
  FileProjResourceFree(&form);
  EXPECT_EQ(form.chars, nullptr);

  // Format 'A' has no block; an item in a table header sets bit 30; a 0 byte
  // ends the block of 4096 being read, and the text goes on in the next
  // (on the same line).
  FormFile a;
  a.width = 4;
  a.height = 2;
  a.screen = std::string("ab\0", 3) + std::string(4093, 'z') + "cd\r\x1a";
  a.items = {item(0, 1, 2, 3, 1, 0x8000 | 20, 4, 8)};
  store_test::writeFileBytes(path, a.bytes());
  ASSERT_EQ(FileProjResourceLoad(path.c_str(), &form, nullptr), 0x40000000 | (2 * 8 + 20 + 4));
  EXPECT_EQ(row(form, 0), "abcd");
  EXPECT_EQ(row(form, 1), "**  ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(form.block), 32), std::string(32, '\0'));
  FileProjResourceFree(&form);
}

TEST_F(ProjectResourceTest, FilesThatAreNoFormsAreRefused) {
  const std::string path = folder_.file("bad.daf");
  FormFile f;
  f.height = 0;
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t code;
  } cases[] = {
      {"format C", [&] { auto b = f.bytes(); b[1] = 'C'; return b; }(), ZEMTA_ERR_FILE_FORMAT},
      {"version 255", [&] { auto b = f.bytes(); b[2] = '\xff'; b[3] = 0; return b; }(), ZEMTA_ERR_FILE_FORMAT},
      {"short header", "NA\x00\x01", ZEMTA_ERR_FILE_SIZE},
      {"items cut short", f.bytes().substr(0, 17), ZEMTA_ERR_FILE_SIZE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    store_test::writeFileBytes(path, c.bytes);
    FileProjForm form;
    const std::string shown = shownBy([&] {
      if (c.code == ZEMTA_ERR_FILE_SIZE && c.bytes.size() > 16) EXPECT_EQ(FileProjResourceLoad(path.c_str(), &form, nullptr), -1);
      else EXPECT_EQ(FileProjResourceCheck(path.c_str(), nullptr), -1);
    });
    EXPECT_EQ(shown, zemta::errorText(c.code));
  }
  // A word table longer than its trailer.
  f.words = {1, 2};
  std::string b = f.bytes();
  b[b.size() - 6] = 9;  // the count
  store_test::writeFileBytes(path, b);
  FileProjForm form;
  EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileProjResourceLoad(path.c_str(), &form, nullptr), -1); }),
            zemta::errorText(ZEMTA_ERR_FILE_FORMAT));
}

TEST_F(ProjectResourceTest, CatalogLookups) {
  char path[260];
  ASSERT_EQ(FileProjResourcePath(project_, 0, path), 0);
  EXPECT_EQ(platform::mapPath(path), folder_.file("App/Res/Data/Res/CLERK.daf"));
  ASSERT_EQ(FileProjResourcePath(project_, 1, path), 0);
  EXPECT_EQ(platform::mapPath(path), folder_.file("App/Res/Data/Res/CLERKP.paf"));
  ASSERT_EQ(FileProjResourcePath(project_, 3, path), 0);
  EXPECT_EQ(platform::mapPath(path), folder_.file("App/Res/Data/Res/PLU.daf"));

  // The entries that name a table, in catalog order.
  std::vector<int32_t> found;
  for (int32_t at = -1; FileProjResourceNext(project_, 5, &at) >= 0;) found.push_back(at);
  EXPECT_EQ(found, (std::vector<int32_t>{1, 2}));
  found.clear();
  for (int32_t at = -1; FileProjResourceNext(project_, 0, &at) >= 0;) found.push_back(at);
  EXPECT_EQ(found.size(), 4u);

  // Departments: one default, and an entry that asks for the flag.
  int32_t flag = 0;
  EXPECT_EQ(FileProjResourceDefault(project_, 5, &flag), 1);
  EXPECT_EQ(flag, 1);
  // Clerks have two defaults: an error.
  EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileProjResourceDefault(project_, 7, nullptr), -1); }),
            zemta::errorText(ZEMTA_ERR_FILE_FORMAT));
  EXPECT_EQ(FileProjResourceDefault(project_, 8, &flag), -1);  // none flagged: none, no error
  EXPECT_EQ(flag, 0);

  EXPECT_EQ(FileProjGetResourceAtr(project_, 7), 0);
  EXPECT_EQ(FileProjGetResourceAtr(project_, 5), 1);
  EXPECT_EQ(FileProjGetResourceAtr(project_, 8), -1);
  EXPECT_EQ(FileProjGetResourceAtr(0x1234, 5), -1);

  // A table with one offered form takes it without a dialog: its related
  // table is the other table it names, else the table itself.
  EXPECT_EQ(FileProjSelResourceDlg(project_, 5, nullptr, 0), 7);
  EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileProjSelResourceDlg(project_, 8, nullptr, 0), -1); }),
            zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
}

TEST_F(ProjectResourceTest, FormChoiceDialog) {
  // Two forms offered for clerks: the list shows their titles (16 bytes).
  std::vector<std::string> titles;
  bool shot = false;
  {
    WhileModal driver("書式選択 - 担当者", [&](HWND dialog) {
      HWND list = ui::dialogItem(dialog, 21891);
      for (int32_t i = 0; i < ui::listItemCount(list); ++i) titles.push_back(ui::listItemText(list, i));
      ui::processPendingMessages();
      shot = ui::grabWindowToPng(dialog, outputFile("form_choice.png"));
      ui::setFocus(list);
      ui::sendKeyInput(list, ui::kVkDown, true, false, false, false);
      ui::sendKeyInput(list, ui::kVkDown, false, false, false, false);
      ui::sendKeyInput(list, ui::kVkReturn, true, false, false, false);
      ui::sendKeyInput(list, ui::kVkReturn, false, false, false, false);
    });
    // The second form (clerks and departments) relates to departments.
    EXPECT_EQ(FileProjSelResourceDlg(project_, 7, nullptr, 0), 5);
    EXPECT_TRUE(driver.done());
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"担当者一覧", "担当者別部門売上"}));
  EXPECT_TRUE(shot);

  // The form word picks the first line shown; Esc cancels.
  {
    int32_t selected = -1;
    WhileModal driver("書式選択 - 担当者", [&](HWND dialog) {
      selected = ui::listSelection(ui::dialogItem(dialog, 21891));
      ui::sendKeyInput(dialog, ui::kVkEscape, true, false, false, false);
      ui::sendKeyInput(dialog, ui::kVkEscape, false, false, false, false);
    });
    EXPECT_EQ(FileProjSelResourceDlg(project_, 7, nullptr, 2), 0);
    EXPECT_EQ(selected, 1);
  }
  // A double click on the first line takes it; closing the window cancels.
  {
    WhileModal driver("書式選択 - 担当者", [&](HWND dialog) {
      HWND list = ui::dialogItem(dialog, 21891);
      ui::sendMouseInput(list, ui::kWmLButtonDown, 20, 8, 1);
      ui::sendMouseInput(list, ui::kWmLButtonUp, 20, 8);
      ui::sendMouseInput(list, ui::kWmLButtonDblClk, 20, 8, 1);
      ui::sendMouseInput(list, ui::kWmLButtonUp, 20, 8);
    });
    EXPECT_EQ(FileProjSelResourceDlg(project_, 7, nullptr, 2), 7);
  }
  {
    WhileModal driver("書式選択 - 担当者", [&](HWND dialog) { ui::postMessage(dialog, ui::kWmClose, 0, 0); });
    EXPECT_EQ(FileProjSelResourceDlg(project_, 7, nullptr, 0), 0);
  }
}

void typeText(HWND edit, const std::string& digits) {
  for (char c : digits) {
    ui::sendKeyInput(edit, static_cast<uint32_t>(c), true, false, false, false);
    ui::sendKeyInput(edit, static_cast<uint32_t>(c), false, false, false, false);
  }
}

TEST_F(ProjectResourceTest, KeyEntryDialogFindsOneRecord) {
  writeClerk(0, 1, 1234, "山田");
  writeClerk(1, 2, 5678, "佐藤");
  writeClerk(2, 3, 5678, "鈴木");  // a PIN two clerks share finds nobody
  int32_t record = -1;
  bool shot = false;
  {
    WhileModal driver("暗証番号入力", [&](HWND dialog) {
      HWND edit = ui::dialogItem(dialog, 21916);
      ui::setFocus(edit);
      typeText(edit, "567");  // shorter than 4: no search yet
      ui::processPendingMessages();
      shot = ui::grabWindowToPng(dialog, outputFile("key_entry.png"));
      EXPECT_EQ(ui::dialogItemText(dialog, 21916), "567");
      typeText(edit, "8");  // two records: a failed try, the text cleared
      EXPECT_EQ(ui::dialogItemText(dialog, 21916), "");
      typeText(edit, "1234");
    });
    EXPECT_EQ(FileProjKeyWordDlg(project_, 7, "暗証番号", 4, nullptr, &record), 1);
    EXPECT_TRUE(driver.done());
  }
  EXPECT_EQ(record, 0);
  EXPECT_TRUE(shot);

  // A text key: the name field.
  {
    WhileModal driver("暗証番号入力", [&](HWND dialog) {
      // Typed as the clerk's name would be by an input method.
      ui::setDialogItemText(dialog, 21916, "佐藤");
      ui::sendMessage(dialog, ui::kWmCommand, ui::makeWParam(21916, ui::kEnChange),
                      reinterpret_cast<LPARAM>(ui::dialogItem(dialog, 21916)));
    });
    EXPECT_EQ(FileProjKeyWordDlg(project_, 7, "氏名", 1, nullptr, &record), 1);
  }
  EXPECT_EQ(record, 1);
}

TEST_F(ProjectResourceTest, KeyEntryDialogEndsAfterThreeFailedTries) {
  writeClerk(0, 1, 1234, "山田");
  const uint32_t beeps = ui::beepCount();
  int32_t record = -7;
  {
    WhileModal driver("暗証番号入力", [&](HWND dialog) {
      HWND edit = ui::dialogItem(dialog, 21916);
      ui::setFocus(edit);
      typeText(edit, "1111");
      typeText(edit, "2222");
      typeText(edit, "3333");
    });
    EXPECT_EQ(FileProjKeyWordDlg(project_, 7, "暗証番号", 4, nullptr, &record), 2);
  }
  EXPECT_EQ(ui::beepCount() - beeps, 3u);
  EXPECT_EQ(record, -7);
  {
    WhileModal driver("暗証番号入力", [&](HWND dialog) { ui::postMessage(dialog, ui::kWmClose, 0, 0); });
    EXPECT_EQ(FileProjKeyWordDlg(project_, 7, "暗証番号", 4, nullptr, &record), 8);
  }
  // A field without an index, and a table without indexes.
  EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileProjKeyWordDlg(project_, 7, "なし", 4, nullptr, &record), 3); }),
            zemta::errorText(ZEMTA_ERR_BAD_NAME));
  EXPECT_EQ(shownBy([&] { EXPECT_EQ(FileProjKeyWordDlg(project_, 8, "コード", 4, nullptr, &record), 3); }),
            zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
}

}  // namespace
