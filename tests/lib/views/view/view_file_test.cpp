// The view's file operations and its filter dialog over a department table of
// ten records: filters typed into the dialog by keys, narrowed, widened and
// cancelled; deletes on filtered and unfiltered views; the question before
// unsaved changes are lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/views/view/view_file_internal.h"
#include "lib/views/view/view_object.h"
#include "platform/base/message_box.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "support/while_modal.h"
#include "department_views.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileproj.h"
#include "zemta/filesearch.h"
#include "zemta/tempidx.h"
#include "zemta/view.h"

namespace {

namespace ui = platform::ui;
using testing_support::ScriptedMessageBox;
using testing_support::WhileModal;
using namespace zemta::views;
using namespace view_test;

constexpr int32_t kPriceRow = 1;  // the searchable rows: name, price

class ViewFileTest : public view_test::DepartmentViews {
 protected:
  void SetUp() override {
    DepartmentViews::SetUp();
    if (HasFatalFailure()) return;
    auto object = std::make_unique<ViewObject>();
    object->window = window_;
    object->checkWord = kCheckBase | 1;
    object->project = project_;
    object->mainTable = kDepartments;
    object->recordCount = 10;
    object->currentRecord = 0;
    object->title = "部門";
    view_ = addView(std::move(object));
    ASSERT_NE(view_, 0u);
  }
  void TearDown() override {
    if (ViewObject* v = viewOfHandle(view_)) dropRecordList(*v);
    removeView(view_);
    DepartmentViews::TearDown();
  }

  ViewObject& view() { return *viewOfHandle(view_); }
  std::vector<uint32_t> list() {
    const FileRecList& l = view().recordList;
    return l.items ? std::vector<uint32_t>(l.items, l.items + l.count) : std::vector<uint32_t>{};
  }
  // Runs the filter dialog, typing the key into the row and pressing Enter.
  int32_t filterBy(int32_t row, const std::string& key, int32_t searchType = 0, const std::string& shot = "") {
    WhileModal driver("部門検索", [&](HWND dialog) {
      if (searchType) ui::clickButton(ui::dialogItem(dialog, searchType));
      HWND edit = ui::dialogItem(dialog, 21900 + row);
      ui::setFocus(edit);
      typeText(edit, key);
      EXPECT_EQ(ui::dialogItemText(dialog, 21900 + row), key);
      if (!shot.empty()) {
        EXPECT_TRUE(ui::grabWindowToPng(dialog, outputFile(shot)));
      }
      pressKey(edit, ui::kVkReturn);
    });
    const int32_t result = ViewFileSetFilterDlg(view_, 0, window_);
    EXPECT_TRUE(driver.done());
    return result;
  }

  ViewHandle view_ = 0;
};

TEST_F(ViewFileTest, FilterAtOrAboveKeepsTheValueAndAboveStartsPastIt) {
  ASSERT_EQ(filterBy(kPriceRow, ">=100"), 0);
  std::vector<uint32_t> prices;
  for (uint32_t r : list()) prices.push_back(priceOf(r));
  EXPECT_EQ(prices, (std::vector<uint32_t>{100, 100, 101, 120, 150, 200, 300}));
  EXPECT_EQ(ViewFileGetSelCount(view_, nullptr), 7);

  ASSERT_EQ(filterBy(kPriceRow, ">100", 0, "filter_dialog.png"), 0);  // a new search, the list replaced
  prices.clear();
  for (uint32_t r : list()) prices.push_back(priceOf(r));
  EXPECT_EQ(prices, (std::vector<uint32_t>{101, 120, 150, 200, 300}));

  ASSERT_EQ(filterBy(kPriceRow, "<100"), 0);
  prices.clear();
  for (uint32_t r : list()) prices.push_back(priceOf(r));
  EXPECT_EQ(prices, (std::vector<uint32_t>{50, 80, 99}));
}

TEST_F(ViewFileTest, SortChosenInTheDialogOrdersTheList) {
  WhileModal driver("部門検索", [&](HWND dialog) {
    ui::setListSelection(ui::dialogItem(dialog, 21927), 1);  // 単価
    ui::clickButton(ui::dialogItem(dialog, 21928));          // 昇順 off: descending
    HWND price = ui::dialogItem(dialog, 21901);
    ui::setFocus(price);
    typeText(price, ">=120");
    pressKey(price, ui::kVkReturn);
  });
  ASSERT_EQ(ViewFileSetFilterDlg(view_, 0, window_), 0);
  std::vector<uint32_t> prices;
  for (uint32_t r : list()) prices.push_back(priceOf(r));
  EXPECT_EQ(prices, (std::vector<uint32_t>{300, 200, 150, 120}));
}

TEST_F(ViewFileTest, FilterDialogShowsTheSearchableKeysUnderTheTablesName) {
  std::vector<std::string> labels;
  bool numberShown = true;
  WhileModal driver("部門検索", [&](HWND dialog) {
    for (int32_t i = 0; i < 8; ++i) {
      HWND label = ui::dialogItem(dialog, 21892 + i);
      if (label && ui::isWindowVisible(label)) labels.push_back(ui::windowText(label));
    }
    numberShown = ui::isWindowVisible(ui::dialogItem(dialog, 21883));
    ui::clickButton(ui::dialogItem(dialog, 2));
  });
  EXPECT_EQ(ViewFileSetFilterDlg(view_, 0, window_), 1);
  EXPECT_EQ(labels, (std::vector<std::string>{"部門名", "単価"}));
  EXPECT_FALSE(numberShown);  // no list yet: no search types
}

TEST_F(ViewFileTest, NarrowAddAndTwoKeys) {
  ASSERT_EQ(filterBy(kPriceRow, ">=100"), 0);
  ASSERT_EQ(filterBy(kPriceRow, "<=100", 21885), 0);  // 絞込検索
  std::vector<uint32_t> narrowed = list();
  std::sort(narrowed.begin(), narrowed.end());
  EXPECT_EQ(narrowed, (std::vector<uint32_t>{3, 4}));
  ASSERT_EQ(filterBy(kPriceRow, "50", 21887), 0);  // 追加検索
  EXPECT_EQ(list().size(), 3u);
  EXPECT_NE(std::find(list().begin(), list().end(), 0u), list().end());
  ASSERT_EQ(filterBy(kPriceRow, "999", 21885), 0);  // nothing matches: an empty list
  EXPECT_TRUE(list().empty());
  EXPECT_NE(view().recordList.items, nullptr);

  // Two keys: the records matching both.
  ASSERT_EQ(ViewFileSetFilter(view_, 2, 1, nullptr, nullptr), 0);  // all records again
  WhileModal driver("部門検索", [&](HWND dialog) {
    HWND name = ui::dialogItem(dialog, 21900), price = ui::dialogItem(dialog, 21901);
    ui::setWindowText(name, "酒");
    ui::setFocus(price);
    typeText(price, ">=100");
    pressKey(price, ui::kVkReturn);
  });
  ASSERT_EQ(ViewFileSetFilterDlg(view_, 0, window_), 0);
  EXPECT_EQ(list(), (std::vector<uint32_t>{3}));
}

// Moves the focus inside a dialog the way Tab or a click does, and lets the
// dialog hear of it.
void focusKey(HWND edit) {
  ui::setFocus(edit);
  testing_support::waitUntil([&] {
    ui::processPendingMessages();
    return ui::focusWindow() == edit;
  });
}

TEST_F(ViewFileTest, EachKeyRowIsTypedInItsFieldsInputMode) {
  bool driven = false;
  WhileModal driver("部門検索", [&](HWND dialog) {
    driven = true;
    HWND name = ui::dialogItem(dialog, 21900), price = ui::dialogItem(dialog, 21901);
    ui::ImeState start, state;
    EXPECT_TRUE(ui::imeState(dialog, start));
    focusKey(price);
    // A number goes without the input method.
    EXPECT_FALSE(ui::imeAttached(price));
    EXPECT_FALSE(ui::sendImeCommit(price, "１００"));
    EXPECT_TRUE(ui::imeState(price, state));
    EXPECT_FALSE(state.open);
    EXPECT_EQ(state.conversion, 0x900u);
    typeText(price, "100");
    focusKey(name);
    // Left, the price edit has the input method back as the dialog found it.
    EXPECT_TRUE(ui::imeAttached(price));
    EXPECT_TRUE(ui::imeState(price, state));
    EXPECT_EQ(state.open, start.open);
    EXPECT_EQ(state.conversion, start.conversion);
    // The name is typed in kanji: its field opens the input method.
    EXPECT_TRUE(ui::imeState(name, state));
    EXPECT_TRUE(state.open);
    EXPECT_TRUE(ui::sendImeCommit(name, "酒類"));
    EXPECT_EQ(ui::windowText(name), "酒類");
    pressKey(name, ui::kVkReturn);
  });
  ASSERT_EQ(ViewFileSetFilterDlg(view_, 0, window_), 0);
  EXPECT_TRUE(driven);
  EXPECT_EQ(list(), (std::vector<uint32_t>{3}));  // 酒類 at 100
}

TEST_F(ViewFileTest, AKeyOnALinkedTablesIndexFindsTheRecordsLinkedToItsHits) {
  // Items of departments 1, 2 and 8; the departments borrow the items' index
  // on their names, linked by the items' department number.
  const FileDBHandle items = FileProjGetFdb(project_, kItems);
  ASSERT_NE(items, 0u);
  const std::pair<const char*, uint16_t> stock[] = {{"牛乳", 2}, {"牛肉", 1}, {"牛タン", 1}, {"緑茶", 2}, {"鉛筆", 8}};
  int32_t n = 0;
  for (const auto& [name, number] : stock) {
    std::vector<uint8_t> r(32, 0);
    std::memcpy(r.data(), name, std::strlen(name));
    std::memcpy(r.data() + 20, &number, 2);
    ASSERT_EQ(FileDBRecWrite(items, n++, r.data()), 0);
  }
  ASSERT_EQ(FileAddIndIndex(project_, kDepartments, kItems, 20, 0, 20), 0);

  std::vector<std::string> labels, sorts;
  auto search = [&](const std::string& item, const std::string& price) {
    WhileModal driver("部門検索", [&](HWND dialog) {
      labels.clear();
      sorts.clear();
      for (int32_t i = 0; i < 8; ++i) {
        HWND label = ui::dialogItem(dialog, 21892 + i);
        if (label && ui::isWindowVisible(label)) labels.push_back(ui::windowText(label));
      }
      HWND sortList = ui::dialogItem(dialog, 21927);
      for (int32_t i = 0; i < ui::listItemCount(sortList); ++i) sorts.push_back(ui::listItemText(sortList, i));
      HWND key = ui::dialogItem(dialog, 21902);
      focusKey(key);
      EXPECT_TRUE(ui::sendImeCommit(key, item));  // a name in kanji: the input method is open
      HWND priceKey = ui::dialogItem(dialog, 21901);
      focusKey(priceKey);
      typeText(priceKey, price);
      EXPECT_TRUE(ui::grabWindowToPng(dialog, outputFile("filter_dialog_linked.png")));
      pressKey(priceKey, ui::kVkReturn);
    });
    return ViewFileSetFilterDlg(view_, 0, window_);
  };
  ASSERT_EQ(search("牛", ""), 0);
  EXPECT_EQ(labels, (std::vector<std::string>{"部門名", "単価", "商品名"}));
  EXPECT_EQ(sorts, (std::vector<std::string>{"部門名", "単価"}));  // the departments' own keys
  // Departments 1 and 2, each once, however many of its items matched.
  EXPECT_EQ(list(), (std::vector<uint32_t>{0, 1}));
  // With a key on the table's own index too: both must match.
  ASSERT_EQ(search("牛", ">=80"), 0);
  EXPECT_EQ(list(), (std::vector<uint32_t>{1}));
}

TEST_F(ViewFileTest, CancelledOrClosedDialogLeavesTheListAlone) {
  ASSERT_EQ(filterBy(kPriceRow, ">=150"), 0);
  const std::vector<uint32_t> before = list();
  {
    WhileModal driver("部門検索", [&](HWND dialog) {
      typeText(ui::dialogItem(dialog, 21901), "1");
      ui::sendKeyInput(dialog, ui::kVkEscape, true, false, false, false);
      ui::sendKeyInput(dialog, ui::kVkEscape, false, false, false, false);
    });
    EXPECT_EQ(ViewFileSetFilterDlg(view_, 0, window_), 1);
  }
  EXPECT_EQ(list(), before);
  {
    WhileModal driver("部門検索", [&](HWND dialog) { ui::postMessage(dialog, ui::kWmClose, 0, 0); });
    EXPECT_EQ(ViewFilterRun(view_, 5, window_, &view().recordList), 8);
  }
  EXPECT_EQ(list(), before);
}

TEST_F(ViewFileTest, TableWithoutSearchableKeysEndsAtOnce) {
  FileRecList l{};
  EXPECT_EQ(ViewFilterRun(view_, 6, window_, &l), 4);
  view().mainTable = 6;
  EXPECT_EQ(ViewFileSetFilterDlg(view_, 0, window_), 1);
  EXPECT_EQ(ViewFileIsFilterVisible(view_), 0);
  view().mainTable = 5;
  EXPECT_EQ(ViewFileIsFilterVisible(view_), 1);
}

TEST_F(ViewFileTest, UnsavedChangesAskBeforeTheFilterAndCancelChangesNothing) {
  ViewItem item;
  item.changed = {0, 4};
  view().items.push_back(item);
  ScriptedMessageBox boxes;
  boxes.answer(platform::kIdCancel);
  {
    WhileModal driver("部門検索", [&](HWND dialog) {
      typeText(ui::dialogItem(dialog, 21901), "100");
      pressKey(ui::dialogItem(dialog, 21901), ui::kVkReturn);
    });
    EXPECT_EQ(ViewFileSetFilterDlg(view_, 0, window_), 1);
  }
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.lastText(), "レコードの移動を行うと変更が失われます。実行しますか？");
  EXPECT_EQ(view().recordList.items, nullptr);
  EXPECT_EQ(view().items[0].changed[1], 4);

  // The filter call asks the same; declined, it changes nothing.
  const uint8_t from[4] = {100, 0, 0, 0}, to[4] = {100, 0, 0, 0};
  boxes.answer(platform::kIdCancel);
  view().currentRecord = 5;
  EXPECT_EQ(ViewFileSetFilter(view_, 2, 1, from, to), -1);
  EXPECT_EQ(boxes.count(), 2u);
  EXPECT_EQ(view().recordList.items, nullptr);
  EXPECT_EQ(view().currentRecord, 5);
  EXPECT_EQ(view().items[0].changed[1], 4);

  boxes.answer(platform::kIdOk);
  EXPECT_EQ(ViewFileSetFilter(view_, 2, 1, from, to), 0);
  EXPECT_EQ(list(), (std::vector<uint32_t>{3, 4}));
  EXPECT_EQ(view().items[0].changed[1], 0);
}

TEST_F(ViewFileTest, DeletingFromAFilteredListKeepsItPointingAtTheSameRecords) {
  const uint8_t from[4] = {100, 0, 0, 0}, to[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(ViewFileSetFilter(view_, 2, 1, from, to), 0);
  ASSERT_EQ(list(), (std::vector<uint32_t>{3, 4, 5, 6, 7, 8, 9}));
  std::vector<uint16_t> numbers;
  for (uint32_t r : list()) numbers.push_back(numberOf(r));

  view().currentRecord = 1;  // department 5
  ASSERT_EQ(ViewFileRecDelete(view_), 0);
  numbers.erase(numbers.begin() + 1);
  std::vector<uint16_t> after;
  for (uint32_t r : list()) after.push_back(numberOf(r));
  EXPECT_EQ(after, numbers);
  EXPECT_EQ(FileDBRecGetSize(table_), 9);
  EXPECT_EQ(view().recordCount, 9u);

  view().currentRecord = 0;  // department 4, by the other delete
  ASSERT_EQ(ViewFileDelRecPos(view_), 0);
  numbers.erase(numbers.begin());
  after.clear();
  for (uint32_t r : list()) after.push_back(numberOf(r));
  EXPECT_EQ(after, numbers);

  // The last entry: the view moves back onto the new last one.
  view().currentRecord = static_cast<int32_t>(list().size()) - 1;
  ASSERT_EQ(ViewFileDelRecPos(view_), 0);
  EXPECT_EQ(view().currentRecord, static_cast<int32_t>(list().size()) - 1);
  EXPECT_EQ(ViewFileIsDelRecPos(view_), 1);
}

TEST_F(ViewFileTest, DeletesWithoutAList) {
  view().currentRecord = 9;
  ASSERT_EQ(ViewFileDelRecPos(view_), 0);
  EXPECT_EQ(view().currentRecord, 8);
  EXPECT_EQ(FileDBRecGetSize(table_), 9);
  EXPECT_EQ(ViewFileIsAppend(view_), 0);

  view().currentRecord = 6;
  ASSERT_EQ(ViewFileDelRecPosAftAll(view_), 0);
  EXPECT_EQ(FileDBRecGetSize(table_), 6);
  EXPECT_EQ(view().currentRecord, 5);

  // After all, from a filtered view: the filter goes too.
  const uint8_t from[4] = {80, 0, 0, 0}, to[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(ViewFileSetFilter(view_, 2, 1, from, to), 0);
  view().currentRecord = 2;  // record 3
  ASSERT_EQ(ViewFileDelRecPosAftAll(view_), 0);
  EXPECT_EQ(view().recordList.items, nullptr);
  EXPECT_EQ(FileDBRecGetSize(table_), 3);
  EXPECT_EQ(view().currentRecord, 2);
}

TEST_F(ViewFileTest, SaveWithReseekKeepsANewRecordInTheListOnce) {
  const uint8_t from[4] = {200, 0, 0, 0}, to[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(ViewFileSetFilter(view_, 2, 1, from, to), 0);
  ASSERT_EQ(list(), (std::vector<uint32_t>{8, 9}));
  // A record saved as new is the table's last.
  ASSERT_EQ(FileDBRecWrite(table_, 10, department(11, "家電", 500).data()), 0);
  ASSERT_EQ(ViewFileSave(view_, 1), 0);
  EXPECT_EQ(list(), (std::vector<uint32_t>{8, 9, 10}));
  // Saved again: it is listed already and the list stays as it is.
  ASSERT_EQ(ViewFileSave(view_, 1), 0);
  EXPECT_EQ(list(), (std::vector<uint32_t>{8, 9, 10}));

  // A list holding every record is sized to the records.
  FileRecList all{};
  ASSERT_EQ(FileNewRecList(&all, 11), 0);
  for (uint32_t i = 0; i < 11; ++i) all.items[all.count++] = i;
  ASSERT_EQ(ViewFileSetRecList(view_, &all), 0);
  ASSERT_EQ(ViewFileSave(view_, 1), 0);
  EXPECT_EQ(view().recordList.count, 11);
  EXPECT_EQ(view().recordList.capacity, 11);
}

TEST_F(ViewFileTest, CheckSeesRecordsOtherProcessesAdded) {
  EXPECT_EQ(ViewFileCheck(view_, 0), 0);
  ASSERT_EQ(FileDBRecWrite(table_, 10, department(11, "家電", 500).data()), 0);
  EXPECT_EQ(ViewFileCheck(view_, 0), 1);
  EXPECT_EQ(view().recordCount, 11u);
  EXPECT_EQ(ViewFileCheck(view_, 0), 0);
  EXPECT_EQ(ViewFileCheck(view_, 1), 1);
}

TEST_F(ViewFileTest, BadHandlesFailQuietlyForQueries) {
  EXPECT_EQ(ViewFileSave(0, 0), -1);
  EXPECT_EQ(ViewFileIsAppend(12345), 0);
  EXPECT_EQ(ViewFileGetFdbID(12345), 0);
  EXPECT_EQ(ViewFileSetFilter(view_, 2, 4, nullptr, nullptr), -1);
  EXPECT_EQ(ViewFileSetFilterDlg(0, 0, nullptr), -1);
}

}  // namespace
