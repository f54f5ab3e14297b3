// Views bound to a project: the table grid and a form from the project's
// resources, record moves by ViewProjRecSeek and by the record bar's
// controls, driven by real key and mouse events in a shown window.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/store/store_test_support.h"
#include "lib/views/edit/edit_object.h"
#include "lib/views/view/view_bind.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/draw.h"
#include "platform/ui/input.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "support/wait_until.h"
#include "support/while_modal.h"
#include "zemta/errors.h"
#include "zemta/fileproj.h"
#include "zemta/view.h"

namespace {

namespace ui = platform::ui;
using namespace zemta::views;
using store_test::TempFolder;
using testing_support::ScriptedMessageBox;

const char8_t kDefinitionText[] = u8R"(# view project
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=0 record=32 file="DEPT"
  field "部門番号" id=501 offset=0 size=2 type=4 index="DNO"
  field "部門名" id=502 offset=2 size=20 type=0
  field "単価" id=503 offset=24 size=4 type=7
end
table "空" fdb=6 id=6 header=0 record=8 file="EMPTY"
  field "番号" id=601 offset=0 size=4 type=4
end
resource "部門設定" file="DEPTF" flags=0x40007 tables=103,5
resource "部門一覧" file="DEPTL" flags=0x30001 tables=5
)";

void putLe(std::string& bytes, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
}

// A field of a form: ids, column, row, width, type, record offset and size.
std::string formField(uint16_t id, uint16_t column, uint16_t row, uint16_t width, uint16_t type, uint16_t offset,
                      uint16_t size) {
  ViewFieldLayout f{};
  f.ids[0] = id;
  f.column = column;
  f.row = row;
  f.width = width;
  f.lines = 1;
  f.colour = 0xE5;
  f.type = type;
  f.offset = offset;
  f.size = size;
  f.tabOrder = id;
  return std::string(reinterpret_cast<const char*>(&f), sizeof f);
}

// The department form: three labelled fields.
std::string departmentForm() {
  const uint16_t width = 40, height = 5;
  std::string b = {'N', 'A'};
  putLe(b, 256, 2);
  putLe(b, width, 2);
  putLe(b, height, 2);
  b.append(8, '\0');
  b += "部門番号:\r部門名  :\r単価    :\r\r\r";
  const std::vector<std::string> items = {formField(1, 10, 0, 5, 4, 0, 2), formField(2, 10, 1, 20, 0, 2, 20),
                                          formField(3, 10, 2, 10, 7, 24, 4)};
  putLe(b, static_cast<uint32_t>(items.size()), 2);
  for (const auto& i : items) b += i;
  std::string trailer = "ZEMTA RESOURCE\r\n";
  putLe(trailer, 1, 2);
  putLe(trailer, 5, 2);
  putLe(b, static_cast<uint32_t>(trailer.size()), 2);
  return b + trailer;
}

// The department list for picking one: a header line and one row a record.
std::string departmentList() {
  const uint16_t width = 30, height = 2;
  std::string b = {'N', 'A'};
  putLe(b, 256, 2);
  putLe(b, width, 2);
  putLe(b, height, 2);
  b.append(8, '\0');
  b += "番号  部門名\r\r";
  std::string number = formField(1, 0, 1, 5, 4, 0, 2), name = formField(2, 6, 1, 20, 0, 2, 20);
  number[26] = name[26] = 1;  // both repeat over the list rows
  putLe(b, 2, 2);
  b += number + name;
  std::string trailer = "ZEMTA RESOURCE\r\n";
  putLe(trailer, 1, 2);
  putLe(trailer, 5, 2);
  putLe(b, static_cast<uint32_t>(trailer.size()), 2);
  return b + trailer;
}

std::vector<uint8_t> department(uint16_t number, const char* name, int32_t price) {
  std::vector<uint8_t> r(32, 0);
  std::memcpy(r.data(), &number, 2);
  std::memcpy(r.data() + 2, name, std::strlen(name));
  std::memcpy(r.data() + 24, &price, 4);
  return r;
}

std::string testOutput(const std::string& name) {
  std::filesystem::path folder = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "lib" / "views";
  std::filesystem::create_directories(folder);
  return (folder / name).string();
}

class ViewBindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ensureApplication();
    messages_ = ZemtaEnableLastErrorMessage(0);
    catalog_ = folder_.file("App/Res/Test.dbf");
    zemta::fileproj::ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(reinterpret_cast<const char*>(kDefinitionText), definition,
                                                        error))
        << error;
    ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog_, error)) << error;
    store_test::writeFileBytes(folder_.file("App/Res/Data/Res/DEPTF.daf"), departmentForm());
    store_test::writeFileBytes(folder_.file("App/Res/Data/Res/DEPTL.daf"), departmentList());
    project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
    ASSERT_NE(project_, 0u);
    const char* names[] = {"野菜", "果物", "鮮魚", "精肉", "惣菜", "日配", "冷凍", "菓子", "飲料", "酒類"};
    for (uint16_t i = 0; i < 10; ++i)
      ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, 5), i, department(i + 1, names[i], 100 * (i + 1)).data()), 0);
    ui::WindowSpec shape;
    shape.className = "ViewHost";
    shape.title = "部門";
    shape.rect = {40, 40, 40 + 640, 40 + 360};
    host_ = ui::createWindow(shape, ui::defaultWindowProc);
    ASSERT_NE(host_, nullptr);
    ui::bringToFront(host_);
    ui::processPendingMessages();
  }
  void TearDown() override {
    if (view_) destroyViewObject(view_);
    ui::destroyWindow(host_);
    if (project_) FileProjClose(project_);
    ZemtaEnableLastErrorMessage(messages_);
  }

  ViewObject& openGrid(int32_t table = 5) {
    view_ = ViewTableOpen(project_, table, host_, nullptr);
    EXPECT_NE(view_, 0u);
    ui::processPendingMessages();
    return *viewOfHandle(view_);
  }
  ViewObject& openForm() {
    ZemtaEnableLastErrorMessage(1);
    ScriptedMessageBox box;
    view_ = ViewResourceOpen(project_, 103, host_, nullptr, -1, nullptr, nullptr);
    ZemtaEnableLastErrorMessage(0);
    EXPECT_EQ(box.count(), 0u) << box.lastText();
    EXPECT_NE(view_, 0u);
    ui::processPendingMessages();
    return *viewOfHandle(view_);
  }
  HWND bar(int32_t id) { return ui::dialogItem(viewOfHandle(view_)->recordBar, id); }
  // The text of a row of the item's cells.
  static std::string cells(const ViewItem& item, int32_t row) {
    EditObject* e = zemta::edit::checked(item.edit);
    return std::string(e->row(row), static_cast<size_t>(e->allocatedColumns));
  }
  void click(HWND control) {
    ASSERT_TRUE(ui::sendMouseInput(control, ui::kWmLButtonDown, 4, 4, ui::kMkLButton));
    ASSERT_TRUE(ui::sendMouseInput(control, ui::kWmLButtonUp, 4, 4, 0));
    ui::processPendingMessages();
  }
  // Types into the bar's number entry and presses Enter there.
  void enterNumber(const std::string& digits) {
    HWND entry = bar(kBarEntry);
    click(entry);
    ui::setFocus(entry);
    ASSERT_TRUE(testing_support::waitUntil([&] {
      ui::processPendingMessages();
      return ui::focusWindow() == entry;
    }));
    ui::selectAllText(entry);
    for (char c : digits) {
      const uint32_t key = c == '-' ? 0xBD : static_cast<uint32_t>(c);
      ASSERT_TRUE(ui::sendKeyInput(entry, key, true, false, false, false));
      ASSERT_TRUE(ui::sendKeyInput(entry, key, false, false, false, false));
    }
    ASSERT_EQ(ui::windowText(entry), digits);
    ASSERT_TRUE(ui::sendKeyInput(entry, ui::kVkReturn, true, false, false, false));
    ASSERT_TRUE(ui::sendKeyInput(entry, ui::kVkReturn, false, false, false, false));
    ui::processPendingMessages();
  }

  TempFolder folder_;
  std::string catalog_;
  FileProjHandle project_ = 0;
  int32_t messages_ = 0;
  HWND host_ = nullptr;
  ViewHandle view_ = 0;
};

TEST(ViewSeekTarget, WhereEachModeLands) {
  struct Case {
    int32_t value, mode, current;
    uint32_t total;
    bool append;
    int32_t record, result;
  } cases[] = {
      {25, 1, 0, 10, false, 9, 1},     // past the end: the last record
      {4, 1, 0, 10, false, 4, 0},      // exact
      {-2, 1, 5, 10, false, 0, 1},     // negative: the first
      {0, 1, 0, 1, false, 0, 1},       // the only record
      {-3, 3, 0, 10, false, 6, 0},     // from the last
      {2, 3, 0, 10, false, 9, 1},
      {0, 0x103, 3, 10, true, 10, 0},  // the append row
      {0, 3, 3, 10, true, 9, 0},       // not without bit 0x100
      {0, 0x103, 3, 10, false, 9, 0},  // nor without the style
      {-1, 2, 0, 10, false, 0, 1},     // Prev on the first record
      {1, 2, 9, 10, false, 9, 1},      // Next on the last
      {0, 2, 10, 10, true, 10, 0},     // standing on the append row
      {-1, 2, 10, 10, true, 9, 0},
      {5, 1, 0, 0, false, 0, 1},       // an empty table: always 0
      {-1, 3, 0, 0, true, 0, 1},
      {0, 7, 0, 10, false, 0, -1},
  };
  for (const Case& c : cases) {
    const SeekTarget t = seekTarget(c.value, c.mode, c.current, c.total, c.append);
    EXPECT_EQ(t.record, c.record) << c.value << " mode " << c.mode << " from " << c.current;
    EXPECT_EQ(t.result, c.result) << c.value << " mode " << c.mode << " from " << c.current;
  }
}

TEST(ViewFieldWidth, ByTypeAndName) {
  EXPECT_EQ(fieldDisplayWidth(4, 2, 0, "", false), 5);    // 65536
  EXPECT_EQ(fieldDisplayWidth(4, 4, 0, "", false), 10);   // 4294967296
  EXPECT_EQ(fieldDisplayWidth(7, 4, 0, "", false), 11);   // sign and 10 digits
  EXPECT_EQ(fieldDisplayWidth(0, 20, 0, "", false), 20);
  EXPECT_EQ(fieldDisplayWidth(4, 2, 0, "部門番号", true), 8);
  EXPECT_EQ(fieldDisplayWidth(14, 4, 0, "", false), 9);
  EXPECT_EQ(fieldDisplayWidth(20, 2, 0, "", false), 6);
}

TEST_F(ViewBindTest, GridSeeksAndShowsTheCurrentRecord) {
  ViewObject& v = openGrid();
  ASSERT_EQ(v.items.size(), 1u);
  const ViewItem& item = v.items[0];
  EXPECT_EQ(v.title, "部門");
  EXPECT_EQ(v.style, kStyleTableGrid);
  EXPECT_NE(cells(item, 0).find("部門番号"), std::string::npos);
  EXPECT_EQ(v.currentRecord, 0);
  EXPECT_EQ(cells(item, 1)[1], 'R');  // under the current row's arrow button
  EXPECT_NE(cells(item, 1).find("野菜"), std::string::npos);

  EXPECT_EQ(ViewProjRecSeek(view_, 25, 1), 1);
  EXPECT_EQ(v.currentRecord, 9);
  EXPECT_EQ(ViewProjRecSeek(view_, -3, 3), 0);
  EXPECT_EQ(v.currentRecord, 6);
  const int32_t row = item.firstRecordRow + v.currentRecord - v.topRecord;
  EXPECT_EQ(cells(item, row)[1], 'R');
  EXPECT_EQ(cells(item, 1)[1], ' ');
  EXPECT_NE(cells(item, row).find("冷凍"), std::string::npos);
  EXPECT_NE(cells(item, row).find("700"), std::string::npos);
  EXPECT_EQ(ui::windowText(bar(kBarEntry)), "7");
  EXPECT_EQ(ui::windowText(bar(kBarTotal)), "/ 10");
  EXPECT_EQ(ViewProjRecSeek(view_, 0, 9), -1);
}

TEST_F(ViewBindTest, AnEmptyTableStandsOnZeroAndShowsOne) {
  ViewObject& v = openGrid(6);
  for (int32_t mode : {1, 2, 3, 0x103}) {
    EXPECT_GE(ViewProjRecSeek(view_, 3, mode), 0);
    EXPECT_EQ(v.currentRecord, 0);
  }
  EXPECT_EQ(ui::windowText(bar(kBarEntry)), "1");
  EXPECT_EQ(ui::windowText(bar(kBarTotal)), "/ 0");
  EXPECT_FALSE(ui::isWindowEnabled(bar(kBarNext)));
  EXPECT_FALSE(ui::isWindowEnabled(bar(kBarPrev)));
}

TEST_F(ViewBindTest, TheNumberEntryShowsTheRecordMovedTo) {
  ViewObject& v = openGrid();
  enterNumber("99");
  EXPECT_EQ(v.currentRecord, 9);
  EXPECT_EQ(ui::windowText(bar(kBarEntry)), "10");
  enterNumber("4");
  EXPECT_EQ(v.currentRecord, 3);
  EXPECT_EQ(ui::windowText(bar(kBarEntry)), "4");
  // 0 and a negative number go to the first record, and the entry says so.
  enterNumber("0");
  EXPECT_EQ(v.currentRecord, 0);
  EXPECT_EQ(ui::windowText(bar(kBarEntry)), "1");
  enterNumber("6");
  enterNumber("-5");
  EXPECT_EQ(v.currentRecord, 0);
  EXPECT_EQ(ui::windowText(bar(kBarEntry)), "1");
}

TEST_F(ViewBindTest, BarButtonsMoveAsTheirPicturesSay) {
  ViewObject& v = openGrid();
  // The move buttons show pictures; their texts name them.
  const struct {
    int32_t id;
    const char* text;
  } named[] = {{kBarTop, "Top"}, {kBarPrev, "Prev"}, {kBarNext, "Next"}, {kBarBottom, "Bottom"}, {kBarAppend, "Append"}};
  for (const auto& n : named) {
    EXPECT_TRUE(ui::buttonHasImage(bar(n.id))) << n.text;
    EXPECT_EQ(ui::windowText(bar(n.id)), n.text);
  }
  EXPECT_FALSE(ui::buttonHasImage(bar(kBarOk)));
  EXPECT_EQ(ui::windowText(bar(kBarOk)), "OK");
  EXPECT_FALSE(ui::isWindowEnabled(bar(kBarTop)));
  EXPECT_FALSE(ui::isWindowEnabled(bar(kBarPrev)));
  ASSERT_EQ(ViewProjRecSeek(view_, 4, 1), 0);
  click(bar(kBarNext));
  EXPECT_EQ(v.currentRecord, 5);
  click(bar(kBarPrev));
  click(bar(kBarPrev));
  EXPECT_EQ(v.currentRecord, 3);
  click(bar(kBarBottom));
  EXPECT_EQ(v.currentRecord, 9);
  EXPECT_FALSE(ui::isWindowEnabled(bar(kBarNext)));
  click(bar(kBarTop));
  EXPECT_EQ(v.currentRecord, 0);

  // Append: the empty new record after the last one.
  click(bar(kBarAppend));
  EXPECT_EQ(v.currentRecord, 10);
  EXPECT_EQ(ui::windowText(bar(kBarEntry)), "11");
  EXPECT_FALSE(ui::isWindowEnabled(bar(kBarAppend)));
  EXPECT_FALSE(ui::isWindowEnabled(bar(kBarNext)));
  EXPECT_FALSE(ui::isWindowEnabled(bar(kBarBottom)));
  EXPECT_TRUE(ui::isWindowEnabled(bar(kBarPrev)));
  EXPECT_EQ(ViewIsRecMove(view_, 5), 0);
  EXPECT_EQ(ViewIsRecMove(view_, 2), 1);
  EXPECT_EQ(ViewRecMove(view_, 2), 0);
  EXPECT_EQ(v.currentRecord, 9);
  EXPECT_EQ(ViewRecMove(view_, 7), -1);

  ui::updateWindow(host_);
  ASSERT_TRUE(ui::grabWindowToPng(host_, testOutput("view_table_grid.png")));
  ASSERT_TRUE(ui::grabWindowToPng(v.recordBar, testOutput("view_record_bar.png")));
}

// A form taller than its window ends its rows whole above the record bar:
// none lies half under the bar, whatever the height.
TEST_F(ViewBindTest, FormRowsEndWholeAboveTheRecordBar) {
  ViewObject& v = openForm();
  ASSERT_NE(v.recordBar, nullptr);
  const EditObject* e = v.items.at(0).edit;
  ASSERT_NE(e, nullptr);
  const ui::Rect client = ui::clientRect(v.window);
  for (int32_t cut = 1; cut < e->ch; cut += 5) {
    // Room for two rows and a part of the third above the bar.
    const int32_t height = 16 + 2 * e->ch + cut;
    ViewSize(view_, 0, client.width(), height);
    ui::processPendingMessages();
    const ui::Rect now = ui::clientRect(v.window);
    EXPECT_LE(e->textRegion.bottom, now.bottom - 16) << cut;
    EXPECT_EQ(e->textRegion.height() % e->ch, 0) << cut;
    EXPECT_GE(e->textRegion.height(), e->ch) << cut;
  }
}

TEST_F(ViewBindTest, FormOpensOnTheAppendRowAndMovesThroughRecords) {
  ViewObject& v = openForm();
  EXPECT_EQ(v.title, "部門設定");
  EXPECT_EQ(v.mainTable, 5);
  ASSERT_EQ(v.items.size(), 1u);
  EXPECT_EQ(v.currentRecord, 10);  // a new record to fill in
  EXPECT_EQ(ui::windowText(bar(kBarEntry)), "11");
  ASSERT_EQ(ViewProjRecSeek(view_, 2, 1), 0);
  EXPECT_NE(cells(v.items[0], 1).find("鮮魚"), std::string::npos);
  EXPECT_NE(cells(v.items[0], 2).find("300"), std::string::npos);
  EXPECT_NE(cells(v.items[0], 0).find("部門番号"), std::string::npos);
  click(bar(kBarNext));
  EXPECT_EQ(v.currentRecord, 3);
  EXPECT_NE(cells(v.items[0], 1).find("精肉"), std::string::npos);

  ui::updateWindow(host_);
  ASSERT_TRUE(ui::grabWindowToPng(host_, testOutput("view_form.png")));
}

TEST_F(ViewBindTest, AFormOverARecordRangeLeavesRecordZeroOut) {
  const uint32_t low = 1, high = 0xFFFFFFFFu;
  view_ = ViewResourceOpen(project_, 103, host_, nullptr, 9999, &low, &high);
  ASSERT_NE(view_, 0u);
  ViewObject& v = *viewOfHandle(view_);
  EXPECT_EQ(viewTotal(v), 9u);
  EXPECT_EQ(ui::windowText(bar(kBarTotal)), "/ 9");
  ASSERT_EQ(ViewProjRecSeek(view_, 0, 1), 0);
  EXPECT_NE(cells(v.items[0], 1).find("果物"), std::string::npos);
  // Keys missing: nothing opens.
  EXPECT_EQ(ViewResourceOpen(project_, 103, host_, nullptr, 9999, nullptr, nullptr), 0u);
}

TEST_F(ViewBindTest, LeavingAChangedRecordAsksFirst) {
  ViewObject& v = openForm();
  ASSERT_EQ(ViewProjRecSeek(view_, 2, 1), 0);
  v.items[0].changed[1] = 4;
  {
    ScriptedMessageBox box;
    box.answer(platform::kIdCancel);
    EXPECT_EQ(ViewProjRecSeek(view_, 1, 2), 2);
    EXPECT_EQ(box.lastText(), "レコードの移動を行うと変更が失われます。実行しますか？");
    ASSERT_EQ(box.count(), 1u);
    EXPECT_EQ(box.shown()[0].caption, "警告");
  }
  EXPECT_EQ(v.currentRecord, 2);
  {
    ScriptedMessageBox box;
    box.answer(platform::kIdOk);
    EXPECT_EQ(ViewProjRecSeek(view_, 1, 2), 0);
  }
  EXPECT_EQ(v.currentRecord, 3);
  EXPECT_EQ(v.items[0].changed[1], 0);
}

TEST_F(ViewBindTest, RecordsAddedUnderTheViewShowInTheTotal) {
  ViewObject& v = openGrid();
  ASSERT_EQ(ViewProjRecSeek(view_, 3, 1), 0);
  FileDBHandle table = FileProjGetFdb(project_, 5);
  ASSERT_EQ(FileDBRecWrite(table, 10, department(11, "花", 50).data()), 0);
  ASSERT_EQ(FileDBRecWrite(table, 11, department(12, "雑貨", 60).data()), 0);
  EXPECT_EQ(ViewFileUpdateSize(view_, table, 1), 0);
  ASSERT_TRUE(testing_support::waitUntil([&] {
    ui::processPendingMessages();
    return ui::windowText(bar(kBarTotal)) == "/ 12";
  }));
  EXPECT_EQ(v.recordCount, 12u);
  EXPECT_EQ(v.currentRecord, 3);
  EXPECT_EQ(ViewProjRecSeek(view_, 0, 3), 0);
  EXPECT_EQ(v.currentRecord, 11);
}

TEST_F(ViewBindTest, TheFrameMenuNextGoesForwardAndPreviousBack) {
  view_ = ViewTableOpen(project_, 5, nullptr, nullptr);
  ASSERT_NE(view_, 0u);
  ViewObject& v = *viewOfHandle(view_);
  ASSERT_TRUE(v.frame);
  ASSERT_EQ(ViewProjRecSeek(view_, 4, 1), 0);
  ASSERT_TRUE(v.frame->chooseMenuItem(kCmdNextRecord));  // "次頁(&N)"
  EXPECT_EQ(v.currentRecord, 5);
  ASSERT_TRUE(v.frame->chooseMenuItem(kCmdPrevRecord));  // "前頁(&P)"
  ASSERT_TRUE(v.frame->chooseMenuItem(kCmdPrevRecord));
  EXPECT_EQ(v.currentRecord, 3);
}

TEST_F(ViewBindTest, TheSelectWindowHandsBackTheClickedRecord) {
  ViewObject& v = openGrid();
  ASSERT_EQ(ViewProjRecSeek(view_, 1, 1), 0);
  bool shown = false;
  testing_support::WhileModal driver("部門一覧", [&](HWND frame) {
    shown = true;
    EXPECT_FALSE(ui::isWindowEnabled(host_));  // the owner waits
    HWND list = nullptr;
    for (HWND child : ui::childWindows(frame)) list = child;
    ASSERT_NE(list, nullptr);
    ui::updateWindow(frame);
    EXPECT_TRUE(ui::grabWindowToPng(frame, testOutput("view_record_select.png")));
    // The fifth record's row: below the header line.
    const int32_t row = zemta::edit::cellFontHeight() + 3;
    ui::sendMouseInput(list, ui::kWmLButtonDown, 20, row * 5 + row / 2, ui::kMkLButton);
    ui::sendMouseInput(list, ui::kWmLButtonUp, 20, row * 5 + row / 2, 0);
    ui::postMessage(frame, ui::kWmClose, 0, 0);
  });
  EXPECT_EQ(ViewFileRecSelDlg(view_, 5, host_, nullptr), 0);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(ui::isWindowEnabled(host_));
  EXPECT_EQ(v.currentRecord, 4);
  // A list of one record needs no choice.
  FileRecList one{};
  ASSERT_EQ(FileNewRecList(&one, 1), 0);
  one.items[0] = 7;
  one.count = 1;
  EXPECT_EQ(ViewFileRecSelDlg(view_, 5, host_, &one), 0);
  FileDeleteRecList(&one);
}

}  // namespace
