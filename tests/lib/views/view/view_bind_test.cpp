// Views bound to a project: the table grid and a form from the project's
// resources, record moves by ViewProjRecSeek and by the record bar's
// controls, driven by real key and mouse events in a shown window.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
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
table "分類" fdb=7 id=7 header=0 record=16 file="CLASS"
  field "分類コード" id=701 offset=0 size=4 type=0 index="CCODE"
  field "分類名" id=702 offset=4 size=12 type=0
end
table "商品" fdb=8 id=8 header=0 record=32 file="GOODS"
  field "商品名" id=801 offset=0 size=20 type=0
  field "分類" id=802 offset=20 size=4 type=0 index="GCLASS" rules=0x1 ref=分類:分類コード
end
resource "部門設定" file="DEPTF" flags=0x40007 tables=103,5
resource "部門一覧" file="DEPTL" flags=0x30001 tables=5
resource "分類一覧" file="CLASSL" flags=0x30001 tables=7
resource "分類リスト" file="CLASSL" flags=0x10003 tables=109,7
resource "商品設定" file="GOODSF" flags=0x40007 tables=108,8
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

// A form file of the table: its screen (rows ended by CR) and its fields.
std::string formFile(uint16_t table, uint16_t width, uint16_t height, const std::string& screen,
                     const std::vector<std::string>& fields) {
  std::string b = {'N', 'A'};
  putLe(b, 256, 2);
  putLe(b, width, 2);
  putLe(b, height, 2);
  b.append(8, '\0');
  b += screen;
  putLe(b, static_cast<uint32_t>(fields.size()), 2);
  for (const auto& f : fields) b += f;
  std::string trailer = "ZEMTA RESOURCE\r\n";
  putLe(trailer, 1, 2);
  putLe(trailer, table, 2);
  putLe(b, static_cast<uint32_t>(trailer.size()), 2);
  return b + trailer;
}

// A field of a list: it repeats over the list rows.
std::string listField(uint16_t id, uint16_t column, uint16_t width, uint16_t type, uint16_t offset, uint16_t size) {
  std::string f = formField(id, column, 1, width, type, offset, size);
  f[26] = 1;
  return f;
}

// The department form: three labelled fields.
std::string departmentForm() {
  return formFile(5, 40, 5, "部門番号:\r部門名  :\r単価    :\r\r\r",
                  {formField(1, 10, 0, 5, 4, 0, 2), formField(2, 10, 1, 20, 0, 2, 20), formField(3, 10, 2, 10, 7, 24, 4)});
}

// The department list for picking one: a header line and one row a record.
std::string departmentList() {
  return formFile(5, 30, 2, "番号  部門名\r\r", {listField(1, 0, 5, 4, 0, 2), listField(2, 6, 20, 0, 2, 20)});
}

// The classes of goods, listed: code and name.
std::string classList() {
  return formFile(7, 20, 2, "ｺｰﾄﾞ 分類名\r\r", {listField(1, 0, 4, 0, 0, 4), listField(2, 5, 12, 0, 4, 12)});
}

// The goods form: the name and the class, a reference to the classes.
std::string goodsForm() {
  return formFile(8, 32, 3, "商品名:\r分類  :\r\r", {formField(1, 8, 0, 20, 0, 0, 20), formField(2, 8, 1, 4, 0, 20, 4)});
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
    store_test::writeFileBytes(folder_.file("App/Res/Data/Res/CLASSL.daf"), classList());
    store_test::writeFileBytes(folder_.file("App/Res/Data/Res/GOODSF.daf"), goodsForm());
    project_ = FileProjOpen(catalog_.c_str(), 5, nullptr);
    ASSERT_NE(project_, 0u);
    const char* names[] = {"野菜", "果物", "鮮魚", "精肉", "惣菜", "日配", "冷凍", "菓子", "飲料", "酒類"};
    for (uint16_t i = 0; i < 10; ++i)
      ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, 5), i, department(i + 1, names[i], 100 * (i + 1)).data()), 0);
    const char* classes[][2] = {{"A1", "野菜"}, {"A2", "果物"}, {"A3", "鮮魚"}, {"B1", "菓子"}};
    for (uint16_t i = 0; i < 4; ++i) addClass(i, classes[i][0], classes[i][1]);
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

  // A class of goods: code and name.
  void addClass(int32_t record, const char* code, const char* name) {
    std::vector<uint8_t> r(16, 0);
    std::memcpy(r.data(), code, std::strlen(code));
    std::memcpy(r.data() + 4, name, std::strlen(name));
    ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, 7), record, r.data()), 0);
  }
  ViewObject& openGrid(int32_t table = 5) {
    view_ = ViewTableOpen(project_, table, host_, nullptr);
    EXPECT_NE(view_, 0u);
    ui::processPendingMessages();
    return *viewOfHandle(view_);
  }
  ViewObject& openForm(int32_t resource = 103) {
    ZemtaEnableLastErrorMessage(1);
    ScriptedMessageBox box;
    view_ = ViewResourceOpen(project_, resource, host_, nullptr, -1, nullptr, nullptr);
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

  // A click in the middle of the first cell of a field of the form.
  void clickField(size_t fieldNo) {
    ViewObject& v = *viewOfHandle(view_);
    EditObject* e = zemta::edit::checked(v.items[0].edit);
    const ViewFieldLayout& f = v.items[0].fields[fieldNo];
    const int32_t x = (e->x + f.column) * e->cw + e->cw / 2, y = (e->y + f.row) * e->ch + e->ch / 2;
    ASSERT_TRUE(ui::sendMouseInput(v.window, ui::kWmLButtonDown, x, y, ui::kMkLButton));
    ASSERT_TRUE(ui::sendMouseInput(v.window, ui::kWmLButtonUp, x, y, 0));
  }
  // The open cell edit's text, trailing spaces cut.
  std::string editText() {
    ViewObject& v = *viewOfHandle(view_);
    EditObject* e = zemta::edit::checked(v.items[v.edit.tempItemPlusOne - 1u].edit);
    std::string text(e->row(0), static_cast<size_t>(e->allocatedColumns));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  void typeDigits(HWND target, const std::string& digits) {
    for (char c : digits) {
      ASSERT_TRUE(ui::sendKeyInput(target, static_cast<uint32_t>(c), true, false, false, false));
      ASSERT_TRUE(ui::sendKeyInput(target, static_cast<uint32_t>(c), false, false, false, false));
    }
  }
  void focus(HWND window) {
    ui::setFocus(window);
    ASSERT_TRUE(testing_support::waitUntil([&] {
      ui::processPendingMessages();
      return ui::focusWindow() == window;
    }));
  }

  TempFolder folder_;
  std::string catalog_;
  FileProjHandle project_ = 0;
  int32_t messages_ = 0;
  HWND host_ = nullptr;
  ViewHandle view_ = 0;
};

constexpr size_t kFormPrice = 2;

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

// The frames of the rows, one a row, leave every stroke of the text whole:
// each pixel of ink the list's fields show without their frames, they show
// with them too, the foot of a kanji above the next row's frame included.
TEST_F(ViewBindTest, RowFramesLeaveTheTextOfEveryRowWhole) {
  const struct {
    const char* name;
    bool grid;
  } views[] = {{"grid", true}, {"list", false}};
  auto ink = [](uint32_t pixel) {
    return (pixel & 0xFF) < 0x80 && ((pixel >> 8) & 0xFF) < 0x80 && ((pixel >> 16) & 0xFF) < 0x80;
  };
  for (const auto& c : views) {
    SCOPED_TRACE(c.name);
    ViewObject& v = c.grid ? openGrid() : openForm(109);
    ASSERT_EQ(ViewProjRecSeek(view_, 0, 1), 0);
    EditObject* e = zemta::edit::checked(v.items[0].edit);
    ASSERT_NE(e, nullptr);
    auto grab = [&](const std::string& file, ui::Image& shot) {
      ui::invalidateWindow(v.window);
      ui::updateWindow(v.window);
      ASSERT_TRUE(ui::grabWindowToPng(v.window, testOutput(file)));
      ASSERT_TRUE(shot.load(testOutput(file)));
    };
    ui::Image framed, bare;
    grab(std::string("view_row_frames_") + c.name + ".png", framed);
    const std::vector<EditBox> boxes = e->boxes;
    e->boxes.clear();
    grab(std::string("view_row_frames_") + c.name + "_bare.png", bare);
    e->boxes = boxes;
    ASSERT_EQ(framed.width(), bare.width());
    ASSERT_EQ(framed.height(), bare.height());
    int32_t inked = 0, covered = 0;
    for (const ViewFieldLayout& f : v.items[0].fields)
      for (int32_t x = (e->x + f.column) * e->cw; x < (e->x + f.column + f.width) * e->cw && x < bare.width(); ++x)
        for (int32_t y = 0; y < bare.height(); ++y) {
          if (!ink(bare.pixel(x, y))) continue;
          ++inked;
          if (framed.pixel(x, y) != bare.pixel(x, y)) ++covered;
        }
    EXPECT_GT(inked, 500);
    EXPECT_EQ(covered, 0);
    destroyViewObject(view_);
    view_ = 0;
  }
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
    // The window holds the header and all ten rows, nothing more; the
    // highlighted second record stops at its last column, the cells right
    // of it keep the paper.
    ui::Image shot;
    ASSERT_TRUE(shot.load(testOutput("view_record_select.png")));
    EXPECT_EQ(shot.height(), row * 11);
    EditObject* e = zemta::edit::checked(viewOfWindow(list)->items.front().edit);
    ASSERT_NE(e, nullptr);
    const int32_t y = row * 2 + row / 2;
    EXPECT_EQ(shot.pixel(e->cw * 2, y), 0u);  // inside the highlight: black
    for (int32_t x = e->cw * 27; x < std::min(shot.width(), e->ux * e->cw); x += 2)
      EXPECT_NE(shot.pixel(x, y), 0u) << x;
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

// ---- reference look-ups and growing lists --------------------------------------

class ViewLookupTest : public ViewBindTest {
 protected:
  // A click (or another mouse message) in the middle of a field's first cell
  // of the form.
  void mouse(ViewObject& v, size_t fieldNo, uint32_t message = ui::kWmLButtonDown) {
    EditObject* e = zemta::edit::checked(v.items[0].edit);
    const ViewFieldLayout& f = v.items[0].fields[fieldNo];
    const int32_t rowHeight = zemta::edit::cellFontHeight() + v.rowGap;
    const int32_t x = f.column * e->cw + e->cw / 2, y = f.row * rowHeight + e->ch / 2;
    ui::sendMouseInput(v.window, message, x, y);
    if (message == ui::kWmLButtonDown) ui::sendMouseInput(v.window, ui::kWmLButtonUp, x, y);
    ui::processPendingMessages();
  }
  static void press(HWND target, uint32_t key, bool shift = false) {
    ui::sendKeyInput(target, key, true, shift, false, false);
    ui::sendKeyInput(target, key, false, shift, false, false);
  }
  // Capital letters and digits as typed.
  static void type(HWND target, const std::string& text) {
    for (char c : text) press(target, static_cast<uint8_t>(c), c >= 'A' && c <= 'Z');
  }
  static std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
  }
  // The class code of the goods record the form shows.
  static std::string classOf(const ViewObject& v) {
    return trimmed(std::string(reinterpret_cast<const char*>(v.items[0].image) + 20, 4));
  }
  static std::string editText(const ViewObject& v) {
    EditObject* e = zemta::edit::checked(v.items[v.edit.tempItemPlusOne - 1u].edit);
    return trimmed(std::string(e->row(0), static_cast<size_t>(e->allocatedColumns)));
  }
  // The list view of a record-select frame and the records it offers.
  static HWND listOf(HWND frame) {
    HWND list = nullptr;
    for (HWND child : ui::childWindows(frame)) list = child;
    return list;
  }
  static uint32_t offered(HWND frame) {
    ViewObject* v = viewOfWindow(listOf(frame));
    return v ? viewTotal(*v) : 0;
  }
  // Classes added by another program, through its own handle on the table's
  // file: this process hears nothing of them until it looks.
  void addClassesElsewhere(int32_t from, int32_t to) {
    std::string path(260, '\0');
    FileDBGetPathName(FileProjGetFdb(project_, 7), path.data());
    path.resize(std::strlen(path.c_str()));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileDBHandle other = FileDBCreate(path.c_str(), 7, 0, 16, "other", nullptr);
      bool ok = other != 0;
      for (int32_t i = from; i < to && ok; ++i) ok = FileDBRecWrite(other, i, classRecord(i).data()) == 0;
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  static std::vector<uint8_t> classRecord(int32_t i) {
    std::vector<uint8_t> r(16, 0);
    const std::string code = "C" + std::to_string(i);
    std::memcpy(r.data(), code.data(), code.size());
    std::memcpy(r.data() + 4, "雑貨", std::strlen("雑貨"));
    return r;
  }
  void addGoods(int32_t record, const char* name, const char* code) {
    std::vector<uint8_t> r(32, 0);
    std::memcpy(r.data(), name, std::strlen(name));
    std::memcpy(r.data() + 20, code, std::strlen(code));
    ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, 8), record, r.data()), 0);
  }
};

TEST_F(ViewLookupTest, AClassCodeMatchingSeveralClassesIsPickedInTheSelectWindow) {
  ViewObject& v = openForm(108);
  ASSERT_EQ(v.mainTable, 8);
  mouse(v, 1);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  type(v.window, "A");
  uint32_t rows = 0;
  testing_support::WhileModal pick("分類一覧", [&](HWND frame) {
    rows = offered(frame);
    EXPECT_FALSE(ui::isWindowEnabled(v.window));
    press(listOf(frame), ui::kVkDown);
    press(listOf(frame), ui::kVkDown);
    press(listOf(frame), ui::kVkReturn);
  });
  press(v.window, ui::kVkTab);  // leaving the field looks its code up
  ASSERT_TRUE(pick.done());
  EXPECT_EQ(rows, 3u);  // A1, A2, A3
  EXPECT_EQ(classOf(v), "A3");
  EXPECT_NE(cells(v.items[0], 1).find("A3  "), std::string::npos);
  EXPECT_TRUE(ui::isWindowEnabled(v.window));
  EXPECT_EQ(ViewIsModify(view_, 0), 1);

  // A code only one class begins with is taken without asking.
  mouse(v, 1);
  press(v.window, ui::kVkBack);
  press(v.window, ui::kVkBack);
  type(v.window, "B");
  press(v.window, ui::kVkTab);
  EXPECT_EQ(classOf(v), "B1");
  EXPECT_EQ(viewOfHandle(view_)->edit.field, 0u);
}

TEST_F(ViewLookupTest, ADoubleClickOnTheClassOffersTheClassesAndReopensOnThePick) {
  ViewObject& v = openForm(108);
  mouse(v, 1);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  uint32_t rows = 0;
  testing_support::WhileModal pick("分類一覧", [&](HWND frame) {
    rows = offered(frame);
    ui::updateWindow(frame);
    EXPECT_TRUE(ui::grabWindowToPng(frame, testOutput("view_lookup_select.png")));
    // Every class has its row, the last one too.
    ViewObject* shown = viewOfWindow(listOf(frame));
    ASSERT_NE(shown, nullptr);
    EXPECT_NE(cells(shown->items[0], 4).find("B1   菓子"), std::string::npos);
    press(listOf(frame), ui::kVkEnd);
    press(listOf(frame), ui::kVkReturn);
  });
  mouse(v, 1, ui::kWmLButtonDblClk);
  ASSERT_TRUE(pick.done());
  EXPECT_EQ(rows, 4u);  // an empty code: every class
  EXPECT_EQ(classOf(v), "B1");
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EXPECT_EQ(v.edit.field, 1u);
  EXPECT_EQ(editText(v), "B1");
  // Outside a reference field a double click looks nothing up.
  mouse(v, 0);
  mouse(v, 0, ui::kWmLButtonDblClk);
  EXPECT_EQ(classOf(v), "B1");
}

TEST_F(ViewLookupTest, TheFiltersReferenceButtonTakesTheClassPickedInTheSelectWindow) {
  const char* goods[][2] = {{"大根", "A1"}, {"林檎", "A2"}, {"鯛", "A3"}, {"飴", "B1"}, {"梨", "A2"}};
  for (int32_t i = 0; i < 5; ++i) addGoods(i, goods[i][0], goods[i][1]);
  ViewObject& v = openForm(108);
  std::string key;
  testing_support::WhileModal outer("商品検索", [&](HWND dialog) {
    ui::clickButton(ui::dialogItem(dialog, 21908));  // "参照..." of the class row
    key = ui::dialogItemText(dialog, 21900);
    ui::clickButton(ui::dialogItem(dialog, 1));
  });
  testing_support::WhileModal inner("分類検索", [&](HWND dialog) {
    HWND edit = ui::dialogItem(dialog, 21900);
    ui::setFocus(edit);
    type(edit, "A");
    ui::clickButton(ui::dialogItem(dialog, 1));
  });
  uint32_t rows = 0;
  testing_support::WhileModal pick("分類一覧", [&](HWND frame) {
    rows = offered(frame);
    press(listOf(frame), ui::kVkUp);  // from the last class found, A3
    press(listOf(frame), ui::kVkReturn);
  });
  ASSERT_EQ(ViewFileSetFilterDlg(view_, 0, host_), 0);
  EXPECT_TRUE(inner.done());
  EXPECT_EQ(rows, 3u);
  EXPECT_EQ(key, "A2");
  ASSERT_EQ(v.recordList.count, 2);
  EXPECT_EQ(std::vector<uint32_t>(v.recordList.items, v.recordList.items + 2), (std::vector<uint32_t>{1, 4}));
}

TEST_F(ViewLookupTest, ListsGrowByTheRecordsOthersAddUpToSixtyFourRows) {
  ViewObject& v = openForm(109);  // the classes as a list
  ASSERT_EQ(ViewProjRecSeek(view_, 0, 1), 0);
  ViewItem& list = v.items[0];
  EditObject* e = zemta::edit::checked(list.edit);
  const int32_t rows = list.slotRows;
  // Opened, the list has a row for every class below its header, the last
  // one too, framed as the rows it grows by will be.
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(e->uy, list.firstRecordRow + 4);
  EXPECT_NE(cells(list, list.firstRecordRow + 3).find("B1   菓子"), std::string::npos);
  auto frames = [&] {
    std::vector<uint32_t> flags;
    for (const EditBox& box : e->boxes) flags.push_back(box.flags);
    return flags;
  };
  const std::vector<uint32_t> opened = frames();
  ui::updateWindow(host_);
  EXPECT_TRUE(ui::grabWindowToPng(host_, testOutput("view_opened_list.png")));
  EXPECT_EQ(ViewFileCheck(view_, 0), 0);
  addClassesElsewhere(4, 6);
  EXPECT_EQ(ViewFileCheck(view_, 0), 1);
  EXPECT_EQ(list.slotRows, rows + 2);
  EXPECT_EQ(e->uy, list.firstRecordRow + rows + 2);
  EXPECT_EQ(viewTotal(v), 6u);
  EXPECT_EQ(ui::windowText(bar(kBarTotal)), "/ 6");
  EXPECT_NE(cells(list, list.firstRecordRow + 5).find("C5   雑貨"), std::string::npos);
  EXPECT_EQ(frames(), opened);
  // The rows it grew by take the fields' colours as its first rows did.
  for (const ViewFieldLayout& f : list.fields)
    EXPECT_EQ(e->atrRow(list.firstRecordRow + 5)[f.column], e->atrRow(list.firstRecordRow)[f.column]) << f.column;
  EXPECT_EQ(ViewFileCheck(view_, 0), 0);
  ui::updateWindow(host_);
  EXPECT_TRUE(ui::grabWindowToPng(host_, testOutput("view_grown_list.png")));

  addClassesElsewhere(6, 80);
  EXPECT_EQ(ViewFileCheck(view_, 0), 1);
  EXPECT_EQ(e->uy, 64);
  EXPECT_EQ(list.slotRows, 64 - list.firstRecordRow);
  EXPECT_EQ(viewTotal(v), 80u);
}

TEST_F(ViewLookupTest, TheGridGrowsWhenTheProjectsRefreshFindsRecordsAdded) {
  ViewObject& v = openGrid(7);
  ASSERT_EQ(cells(v.items[0], 5).find("C4"), std::string::npos);
  addClassesElsewhere(4, 6);
  zemta::fileproj::refreshTick();  // the project's refresh finds them
  ASSERT_TRUE(testing_support::waitUntil([&] {
    ui::processPendingMessages();
    return cells(v.items[0], 6).find("C5") != std::string::npos;
  }));
  EXPECT_EQ(ui::windowText(bar(kBarTotal)), "/ 6");
  EXPECT_EQ(ViewFileCheck(view_, 0), 0);  // seen already
}

TEST_F(ViewBindTest, ACellEditStaysOnItsFieldAcrossRecordMoves) {
  ViewObject& v = openForm();
  ASSERT_EQ(ViewProjRecSeek(view_, 2, 1), 0);
  clickField(kFormPrice);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EXPECT_NE(editText().find("300"), std::string::npos) << editText();
  click(bar(kBarNext));
  EXPECT_EQ(v.currentRecord, 3);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EXPECT_EQ(v.edit.field, kFormPrice);
  EXPECT_NE(editText().find("400"), std::string::npos) << editText();
  ui::updateWindow(host_);
  EXPECT_TRUE(ui::grabWindowToPng(host_, testOutput("view_form_price_edit.png")));

  // A changed price: the move asks first. Kept, the record and its open
  // edit stay as they were.
  typeDigits(v.window, "5");
  {
    ScriptedMessageBox box;
    box.answer(platform::kIdCancel);
    click(bar(kBarPrev));
    EXPECT_EQ(box.lastText(), "レコードの移動を行うと変更が失われます。実行しますか？");
  }
  EXPECT_EQ(v.currentRecord, 3);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EXPECT_EQ(v.edit.field, kFormPrice);
  EXPECT_NE(editText().find("4005"), std::string::npos) << editText();
  // Let go, by the program's Prev command: the previous record, its price
  // in the edit, the table unchanged.
  {
    ScriptedMessageBox box;
    box.answer(platform::kIdOk);
    EXPECT_EQ(ViewRecMove(view_, 2), 0);
  }
  EXPECT_EQ(v.currentRecord, 2);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EXPECT_EQ(v.edit.field, kFormPrice);
  EXPECT_NE(editText().find("300"), std::string::npos) << editText();
  int32_t price = 0;
  ASSERT_EQ(FileDBRecReadField(FileProjGetFdb(project_, 5), 3, 24, 4, &price), 0);
  EXPECT_EQ(price, 400);
}

TEST_F(ViewBindTest, InAGridTheCellEditFollowsTheRecordDown) {
  ViewObject& v = openGrid();
  ASSERT_EQ(ViewProjRecSeek(view_, 3, 1), 0);
  EditObject* e = zemta::edit::checked(v.items[0].edit);
  const ViewFieldLayout& name = v.items[0].fields[1];
  const int32_t row = v.items[0].firstRecordRow + 3 - v.topRecord;
  const int32_t x = (e->x + name.column) * e->cw + e->cw / 2, y = (e->y + row) * e->ch + e->ch / 2;
  ASSERT_TRUE(ui::sendMouseInput(v.window, ui::kWmLButtonDown, x, y, ui::kMkLButton));
  ASSERT_TRUE(ui::sendMouseInput(v.window, ui::kWmLButtonUp, x, y, 0));
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EXPECT_NE(editText().find("精肉"), std::string::npos) << editText();
  click(bar(kBarNext));
  EXPECT_EQ(v.currentRecord, 4);
  ASSERT_EQ(ViewIsEdit(view_), 1);
  EXPECT_EQ(v.edit.field, 1u);
  EXPECT_EQ(v.edit.line, 4 - std::max(v.topRecord, 0));  // the record's row
  EXPECT_NE(editText().find("惣菜"), std::string::npos) << editText();
}

TEST_F(ViewBindTest, TheNumberEntryTakesTheCellEditBackAndKeepsTheInputMethodOut) {
  ViewObject& v = openForm();
  ASSERT_EQ(ViewProjRecSeek(view_, 2, 1), 0);
  clickField(kFormPrice);
  typeDigits(v.window, "7");
  HWND entry = bar(kBarEntry);
  EXPECT_TRUE(ui::imeAttached(entry));
  focus(entry);
  // The edit is written back into the record shown.
  EXPECT_EQ(ViewIsEdit(view_), 0);
  EXPECT_NE(cells(v.items[0], 2).find("3007"), std::string::npos) << cells(v.items[0], 2);
  EXPECT_EQ(ViewIsModify(view_, 0), 1);
  // Digits only: the input method gives the entry nothing.
  EXPECT_FALSE(ui::imeAttached(entry));
  EXPECT_FALSE(ui::sendImeCommit(entry, "５"));
  // The number stands selected: what is typed replaces it.
  typeDigits(entry, "5");
  EXPECT_EQ(ui::windowText(entry), "5");
  {
    ScriptedMessageBox box;
    box.answer(platform::kIdOk);
    ASSERT_TRUE(ui::sendKeyInput(entry, ui::kVkReturn, true, false, false, false));
    ASSERT_TRUE(ui::sendKeyInput(entry, ui::kVkReturn, false, false, false, false));
    ui::processPendingMessages();
  }
  EXPECT_EQ(v.currentRecord, 4);
  // Leaving the entry gives it its input method back.
  focus(bar(kBarNext));
  EXPECT_TRUE(ui::imeAttached(entry));
}

}  // namespace
