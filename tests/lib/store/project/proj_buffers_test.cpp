// Record-buffer sets over a project the maker built: rows read from tables,
// edited and saved back (compared with a model), references and calculated
// fields, line insertion, notifications to the bound window, the field-wise
// merge of two processes saving one record, and automatic numbers drawn by
// the duplicate check and by saving alike.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/store/store_test_support.h"
#include "platform/base/file.h"
#include "platform/ui/application.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"
#include "zemta/filebuf.h"
#include "zemta/fileidx.h"
#include "zemta/fileproj.h"
#include "zemta/fileproj_upkeep.h"

namespace {

using store_test::TempFolder;

// 部門: number (unique), name, kind. 商品: a code numbered from the header's
// counter, a reference to its department with the department's name
// inherited, and 金額 = 単価 × 数量 (a chain: 金額 refers to 単価, which adds
// and goes on to 数量, which multiplies); 予備 is 数量 plus one. 明細: lines
// with a line number.
const char8_t kDefinitionText[] = u8R"(# buffer-set project
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=16 record=32 file="DEPT"
  field "番号" id=501 offset=0 size=2 type=4 index="DNO" rules=0x80000000
  field "名前" id=502 offset=2 size=20 type=0 index="DNAME"
  field "区分" id=503 offset=22 size=2 type=4 index="DKIND" rules=3
end
table "商品" fdb=6 id=6 header=16 record=64 file="ITEM"
  hfield "最終番号" id=600 offset=0 size=4 type=4
  field "コード" id=601 offset=0 size=4 type=4 index="ICODE" rules=0x80010008 ref=商品:最終番号
  field "名前" id=602 offset=4 size=20 type=0
  field "部門番号" id=603 offset=24 size=2 type=4 index="IDEPT" rules=1 ref=部門:番号
  field "部門名" id=604 offset=26 size=20 type=0 rules=4 ref=部門:名前
  field "単価" id=605 offset=48 size=4 type=7 rules=0x00040007 ref=商品:数量
  field "数量" id=606 offset=52 size=4 type=7 rules=0x00060000
  field "金額" id=607 offset=56 size=4 type=7 rules=0x00030007 ref=商品:単価
  field "予備" id=608 offset=60 size=4 type=7 rules=0x00010006 ref=商品:数量
end
table "明細" fdb=7 id=7 header=16 record=16 file="LINE"
  field "行" id=701 offset=0 size=2 type=4 rules=0x00010000
  field "品名" id=702 offset=2 size=14 type=0
end
)";

constexpr uint32_t kView = 0x7101;

std::vector<uint8_t> dept(uint16_t number, const char* name, uint16_t kind = 1) {
  std::vector<uint8_t> r(32, 0);
  std::memcpy(r.data(), &number, 2);
  std::memcpy(r.data() + 2, name, std::strlen(name));
  std::memcpy(r.data() + 22, &kind, 2);
  return r;
}

std::vector<uint8_t> item(uint32_t code, const char* name, uint16_t department, int32_t price = 0,
                          int32_t quantity = 0) {
  std::vector<uint8_t> r(64, 0);
  std::memcpy(r.data(), &code, 4);
  std::memcpy(r.data() + 4, name, std::strlen(name));
  std::memcpy(r.data() + 24, &department, 2);
  std::memcpy(r.data() + 48, &price, 4);
  std::memcpy(r.data() + 52, &quantity, 4);
  return r;
}

template <typename T>
T at(const void* image, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const uint8_t*>(image) + offset, sizeof value);
  return value;
}

std::string text(const void* image, size_t offset) { return static_cast<const char*>(image) + offset; }

void putText(void* image, size_t offset, size_t width, const char* value) {
  std::memset(static_cast<uint8_t*>(image) + offset, 0, width);
  std::memcpy(static_cast<uint8_t*>(image) + offset, value, std::strlen(value));
}

class BufferSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = ZemtaEnableLastErrorMessage(0);
    catalog_ = folder_.file("App/Res/Test.dbf");
    zemta::fileproj::ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(reinterpret_cast<const char*>(kDefinitionText), definition,
                                                        error))
        << error;
    ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog_, error)) << error;
    open(nullptr);
    const char* names[] = {"総務", "営業部門", "経理"};
    for (uint16_t i = 0; i < 3; ++i) ASSERT_EQ(FileDBRecWrite(depts_, i, dept(10 + i, names[i]).data()), 0);
  }
  void open(HWND owner) {
    if (project_) FileProjClose(project_);
    project_ = FileProjOpen(catalog_.c_str(), 5, owner);
    ASSERT_NE(project_, 0u);
    depts_ = FileProjGetFdb(project_, 5);
    items_ = FileProjGetFdb(project_, 6);
    lines_ = FileProjGetFdb(project_, 7);
  }
  void TearDown() override {
    if (project_) FileProjClose(project_);
    if (window_) platform::ui::destroyWindow(window_);
    ZemtaEnableLastErrorMessage(messages_);
  }

  // A set of rows buffer rows over the tables, bound to kView (and the window).
  int32_t addSet(int32_t rows, std::vector<int32_t> ids, int32_t main) {
    handle_ = FileProjBufAdd(project_, rows, static_cast<int32_t>(ids.size()), ids.data());
    if (!handle_) return -1;
    return FileProjBufBind(project_, kView, window_, main, 0);
  }
  uint8_t* row(int32_t fdb, int32_t r) { return static_cast<uint8_t*>(FileProjGetBufFdb(project_, kView, fdb, r)); }
  void edit(uint8_t* image) { ASSERT_EQ(FileProjRbfSetAct(project_, image, FILEBUF_ROW_EDITED, 1), 0); }

  std::vector<uint8_t> record(FileDBHandle t, int32_t n, size_t length) {
    std::vector<uint8_t> r(length);
    EXPECT_EQ(FileDBRecRead(t, n, r.data()), 0);
    return r;
  }

  // A window that records every notification: code, fdb id, record number
  // and visible position; answer() decides the reply.
  struct Heard {
    int32_t code, fdb, record;
    uint16_t position;
  };
  void makeWindow() {
    platform::ui::ensureApplication();
    window_ = platform::ui::createWindow(
        {"BufferOwner", "owner", nullptr, {0, 0, 100, 100}, false},
        [this](HWND w, uint32_t message, WPARAM wParam, LPARAM lParam) -> LRESULT {
          if (message != g_nMsgRefExt || g_nMsgRefExt == 0)
            return platform::ui::defaultWindowProc(w, message, wParam, lParam);
          auto* block = reinterpret_cast<uint8_t*>(lParam);
          heard_.push_back({static_cast<int32_t>(wParam), at<int32_t>(block, 24), at<int32_t>(block, 4172),
                            at<uint16_t>(block, 4170)});
          return answer_ ? answer_(static_cast<int32_t>(wParam), block) : 0;
        });
    ASSERT_NE(window_, nullptr);
    open(window_);
  }

  TempFolder folder_;
  std::string catalog_;
  FileProjHandle project_ = 0;
  FileDBHandle depts_ = 0, items_ = 0, lines_ = 0;
  HWND window_ = nullptr;
  FileProjBufHandle handle_ = nullptr;
  std::vector<Heard> heard_;
  std::function<LRESULT(int32_t, uint8_t*)> answer_;
  int32_t messages_ = 0;
};

// Rounds of edits over a window of four rows scrolled through the table,
// saved each time: the table and its indexes hold exactly the model.
TEST_F(BufferSetTest, SetBoundToTableReadsEditsAndSavesLikeTheModel) {
  std::vector<std::vector<uint8_t>> model;
  for (int32_t n = 0; n < 3; ++n) model.push_back(record(depts_, n, 32));
  const int32_t set = addSet(4, {5}, 5);
  ASSERT_EQ(set, 0);
  EXPECT_EQ(FileProjBufRecordCount(project_, set), 3);
  for (int round = 0; round < 6; ++round) {
    const int32_t first = round % 2 == 0 ? 0 : static_cast<int32_t>(model.size()) - 2;
    ASSERT_EQ(FileProjBufSetList(project_, kView, 5, first, nullptr), 0) << round;
    for (int32_t r = 0; r < 4; ++r) {
      // The rows are reached through the visible entries: which buffer row
      // shows a position changes as the window scrolls.
      auto* image = static_cast<uint8_t*>(handle_[r].image);
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(handle_[r].length, 32);
      const int32_t n = first + r;
      const uint32_t flags = FileProjBufRowFlags(project_, &handle_[r]);
      if (n < static_cast<int32_t>(model.size())) {
        EXPECT_EQ(std::vector<uint8_t>(image, image + 32), model[n]) << round << " " << r;
        EXPECT_EQ(flags & FILEBUF_ROW_NEW, 0u);
        if ((n + round) % 3 == 0) {
          const std::string name = "部署" + std::to_string(round) + "-" + std::to_string(n);
          putText(image, 2, 20, name.c_str());
          image[22] = static_cast<uint8_t>(round);
          edit(image);
          model[n] = std::vector<uint8_t>(image, image + 32);
        }
      } else {
        EXPECT_NE(flags & FILEBUF_ROW_NEW, 0u) << round << " " << r;
        if (r == 3 || round % 2 == 0) {
          auto fresh = dept(static_cast<uint16_t>(100 + model.size()), ("新" + std::to_string(round)).c_str());
          std::memcpy(image, fresh.data(), 32);
          edit(image);
          model.push_back(fresh);
        }
      }
    }
    ASSERT_EQ(FileProjBufSaveAll(project_, kView, 5, 0, nullptr), 0) << round;
    EXPECT_EQ(FileProjBufIsModify(project_, kView), 0);
    ASSERT_EQ(FileDBRecGetSize(depts_), static_cast<int32_t>(model.size())) << round;
    for (size_t n = 0; n < model.size(); ++n) EXPECT_EQ(record(depts_, static_cast<int32_t>(n), 32), model[n]);
    EXPECT_EQ(FileProjIdxCheck(project_, 5, 0), 0) << round;
    for (size_t n = 0; n < model.size(); ++n) {
      int32_t found = -1;
      EXPECT_EQ(FileIdxEqu(depts_, FileGetIndexPos(depts_, 2, 20, 1), &found, model[n].data() + 2), 1);
      EXPECT_EQ(found, static_cast<int32_t>(n));
    }
  }
  EXPECT_EQ(FileProjBufRecordCount(project_, set), static_cast<int32_t>(model.size()));
}

TEST_F(BufferSetTest, RowsAreReusedAndLimitsHold) {
  testing_support::ScriptedMessageBox boxes;
  ZemtaEnableLastErrorMessage(1);
  auto lastError = [&]() { return boxes.lastText(); };
  const int32_t set = addSet(3, {5}, 5);
  ASSERT_EQ(FileProjBufReadRow(project_, set, 0, -1, nullptr, 0), 0);
  uint8_t* first = row(5, 0);
  // Reading the record a row already holds maps that row again.
  FileProjBufClearChanged(project_, kView);
  ASSERT_EQ(FileProjBufReadRow(project_, set, 0, 0, nullptr, 0), 0);
  EXPECT_EQ(row(5, 0), first);
  EXPECT_EQ(FileProjGetAct(project_, kView, 5, 0) & FILEBUF_ROW_CHANGED, 0);
  // Past the last record: a new, empty row.
  ASSERT_EQ(FileProjBufReadRow(project_, set, 0, 2, nullptr, 7), 0);
  EXPECT_NE(FileProjGetAct(project_, kView, 5, 2) & FILEBUF_ROW_NEW, 0);
  EXPECT_EQ(text(row(5, 2), 2), "");
  // Every row edited: a fourth record finds no row.
  for (int r = 0; r < 3; ++r) edit(row(5, r));
  boxes.clear();
  EXPECT_EQ(FileProjBufReadRow(project_, set, 0, 1, nullptr, 2), -1);
  EXPECT_EQ(lastError(), zemta::errorText(ZEMTA_ERR_MEMORY_RANGE));
  // Visible rows: the same count changes nothing, more than the rows fails.
  FileProjBufHandle handle = handle_;
  EXPECT_EQ(FileProjBufNumber(project_, handle), 0);
  EXPECT_EQ(FileProjBufSetRows(project_, handle, 3), 0);
  EXPECT_EQ(handle[0].image, row(5, 0));
  EXPECT_EQ(FileProjBufSetRows(project_, handle, 4), -1);
  // One byte past the last image of every set.
  uint8_t* end = row(5, 2) + 32;
  boxes.clear();
  EXPECT_EQ(FileProjRbfSetAct(project_, end, 1, 1), -1);
  EXPECT_EQ(lastError(), zemta::errorText(ZEMTA_ERR_BAD_POINTER));
  // 32 sets at most; the 33rd leaves the others alone.
  const int32_t ids[] = {5};
  for (int s = 1; s < 32; ++s) ASSERT_NE(FileProjBufAdd(project_, 1, 1, ids), nullptr) << s;
  boxes.clear();
  EXPECT_EQ(FileProjBufAdd(project_, 1, 1, ids), nullptr);
  EXPECT_EQ(lastError(), zemta::errorText(ZEMTA_ERR_NO_MEMORY));
  EXPECT_EQ(row(5, 0), first);
  EXPECT_EQ(FileProjBufRemove(project_, handle), 0);
  EXPECT_EQ(FileProjBufNumber(project_, handle), -1);
}

TEST_F(BufferSetTest, ReferencesRefillCalculatedChainsFollowAndUsedKeysAreFound) {
  ASSERT_EQ(FileDBRecWrite(items_, 0, item(1, "りんご", 11, 120, 3).data()), 0);
  ASSERT_EQ(FileDBRecWrite(items_, 1, item(2, "みかん", 12).data()), 0);
  const int32_t set = addSet(1, {6, 5}, 6);
  ASSERT_EQ(set, 0);
  // The item's department number brings its department into the other slot.
  ASSERT_EQ(FileProjBufSetList(project_, kView, 6, 0, nullptr), 0);
  uint8_t* it = row(6, 0);
  ASSERT_EQ(text(it, 4), "りんご");
  EXPECT_EQ(text(row(5, 0), 2), "営業部門");
  EXPECT_EQ(FileProjBufRefTable(project_, it + 24), 5);
  EXPECT_EQ(FileProjBufRefTable(project_, it + 4), 0);
  // The user types another department: the slot follows.
  const uint16_t other = 12;
  std::memcpy(it + 24, &other, 2);
  edit(it);
  EXPECT_GE(FileProjBufRefUpdate(project_, kView, it + 24), 0);
  EXPECT_EQ(text(row(5, 0), 2), "経理");
  // A department nobody has: an empty new row there.
  const uint16_t none = 99;
  std::memcpy(it + 24, &none, 2);
  FileProjBufRefUpdate(project_, kView, it + 24);
  EXPECT_NE(FileProjGetAct(project_, kView, 5, 0) & FILEBUF_ROW_NEW, 0);
  std::memcpy(it + 24, &other, 2);
  FileProjBufRefUpdate(project_, kView, it + 24);

  // 金額 follows 単価 × 数量 through the chain, whichever operand changes.
  const int32_t quantity = 5;
  std::memcpy(it + 52, &quantity, 4);
  EXPECT_EQ(FileProjRefCalBfp(project_, kView, it + 52), 2);
  EXPECT_EQ(at<int32_t>(it, 56), 600);
  const int32_t price = 98;
  std::memcpy(it + 48, &price, 4);
  EXPECT_EQ(FileProjRefCalBfp(project_, kView, it + 48), 2);
  EXPECT_EQ(at<int32_t>(it, 56), 490);
  EXPECT_EQ(FileProjRefCalBfp(project_, kView, it + 48), 0);  // nothing new to store
  EXPECT_NE(FileProjGetAct(project_, kView, 6, 0) & FILEBUF_ROW_EDITED, 0);

  // A new row inherits the department's name shown beside it (the edit is
  // dropped first: an edited row is never reused).
  ASSERT_EQ(FileProjBufDropEdits(project_, kView), 0);
  ASSERT_EQ(FileProjBufReadRow(project_, set, 0, 0, nullptr, 5), 0);
  EXPECT_NE(FileProjGetAct(project_, kView, 6, 0) & FILEBUF_ROW_NEW, 0);
  EXPECT_EQ(text(row(6, 0), 26), "経理");

  // A department that items refer to may not silently lose its number; the
  // rewrite carries the references to the new number.
  const uint16_t used = 11, unused = 10, renamed = 21;
  EXPECT_EQ(FileProjCheckRefKey(project_, 5, 501, &used), 1);
  EXPECT_EQ(FileProjCheckRefKey(project_, 5, 501, &unused), 0);
  EXPECT_EQ(FileProjUpdateRefKey(project_, 5, 501, &used, &renamed, 0, nullptr), 1);
  EXPECT_EQ(at<uint16_t>(record(items_, 0, 64).data(), 24), renamed);
  EXPECT_EQ(FileProjCheckRefKey(project_, 5, 501, &used), 0);
  EXPECT_EQ(FileProjCheckRefKey(project_, 5, 501, &renamed), 1);
}

TEST_F(BufferSetTest, InsertingALineRenumbersTheLinesBelow) {
  for (uint16_t n = 1; n <= 3; ++n) {
    std::vector<uint8_t> line(16, 0);
    std::memcpy(line.data(), &n, 2);
    line[2] = static_cast<uint8_t>('A' + n - 1);
    ASSERT_EQ(FileDBRecWrite(lines_, n - 1, line.data()), 0);
  }
  addSet(5, {7}, 7);
  ASSERT_EQ(FileProjBufSetList(project_, kView, 7, 0, nullptr), 0);
  ASSERT_EQ(FileProjRbfInsertIndex(project_, kView, 7, 1), 1);
  std::vector<uint16_t> numbers;
  std::string names;
  for (int r = 0; r < 4; ++r) {
    numbers.push_back(at<uint16_t>(row(7, r), 0));
    names += row(7, r)[2] ? static_cast<char>(row(7, r)[2]) : '_';
  }
  EXPECT_EQ(numbers, (std::vector<uint16_t>{1, 2, 3, 4}));
  EXPECT_EQ(names, "A_BC");
  // Saved, the lines are stored in their new order.
  ASSERT_EQ(FileProjBufSaveAll(project_, kView, 7, 0, nullptr), 0);
  ASSERT_EQ(FileDBRecGetSize(lines_), 4);
  EXPECT_EQ(record(lines_, 3, 16)[2], 'C');
  EXPECT_EQ(at<uint16_t>(record(lines_, 3, 16).data(), 0), 4);
  // Deleting it again closes the gap.
  ASSERT_EQ(FileProjRbfDeleteIndex(project_, kView, 7, 1), 1);
  ASSERT_EQ(FileProjBufSaveAll(project_, kView, 7, 0, nullptr), 0);
  EXPECT_EQ(record(lines_, 1, 16)[2], 'B');
  EXPECT_EQ(at<uint16_t>(record(lines_, 2, 16).data(), 0), 3);
}

// The bound window hears each step of a read and a save, with the code of
// each; its answers stop a save or fill a field.
TEST_F(BufferSetTest, NotificationsReachTheBoundWindow) {
  makeWindow();
  const int32_t set = addSet(2, {6}, 6);
  ASSERT_EQ(FileDBRecWrite(items_, 0, item(1, "りんご", 11, 120, 3).data()), 0);
  ASSERT_EQ(FileProjBufSetList(project_, kView, 6, 0, nullptr), 0);
  ASSERT_EQ(heard_.size(), 2u);
  EXPECT_EQ(heard_[0].code, 7);
  EXPECT_EQ(heard_[0].fdb, 6);
  EXPECT_EQ(heard_[0].record, 0);
  EXPECT_EQ(heard_[1].record, -1);
  EXPECT_EQ(heard_[1].position, 1);

  // An answer with its flag set is stored into the field; the derived field follows.
  answer_ = [](int32_t code, uint8_t* block) -> LRESULT {
    if (code != 5) return 0;
    uint32_t one = 1;
    std::memcpy(block + 64, &one, 4);
    std::strcpy(reinterpret_cast<char*>(block + 68), "123");
    return 1;
  };
  uint8_t* it = row(6, 0);
  EXPECT_EQ(FileProjNotify(project_, set, 5, 606, it), 1);
  EXPECT_EQ(at<int32_t>(it, 52), 123);
  EXPECT_EQ(at<int32_t>(it, 60), 124);
  const uint16_t same[3] = {52, 4, 0}, otherWord[3] = {52, 4, 0x0800};
  heard_.clear();
  answer_ = [&](int32_t code, uint8_t* block) -> LRESULT {
    EXPECT_EQ(FileCheckRefExtern(same, block), code == 6 ? 1 : 0);
    EXPECT_EQ(FileCheckRefExtern(otherWord, block), 0);
    return 0;
  };
  edit(it);
  FileProjBufRefUpdate(project_, kView, it + 52);
  ASSERT_FALSE(heard_.empty());
  EXPECT_EQ(heard_.back().code, 6);

  // A save: 8 before, then 12; a new row: 9 (after its number), then 13.
  heard_.clear();
  answer_ = nullptr;
  uint8_t* fresh = row(6, 1);
  putText(fresh, 4, 20, "ぶどう");
  edit(fresh);
  ASSERT_EQ(FileProjBufSaveRow(project_, set, 0, 0, 0), 0);
  std::vector<int32_t> codes;
  for (const auto& h : heard_) codes.push_back(h.code);
  EXPECT_EQ(codes, (std::vector<int32_t>{8, 12, 9, 13}));
  EXPECT_EQ(heard_.back().record, 1);
  EXPECT_EQ(at<uint32_t>(record(items_, 1, 64).data(), 0), 1u);

  // A window that answers 1 to code 10 stops the save with 1; -1 to 8 stops it too.
  answer_ = [](int32_t code, uint8_t*) -> LRESULT { return code == 10 ? 1 : 0; };
  putText(it, 4, 20, "なし");
  edit(it);
  EXPECT_EQ(FileProjBufSaveAll(project_, kView, 6, 0, nullptr), 1);
  answer_ = [](int32_t code, uint8_t*) -> LRESULT { return code == 8 ? -1 : 0; };
  EXPECT_EQ(FileProjBufSaveRow(project_, set, 0, 0, 0), -1);
  EXPECT_NE(text(record(items_, 0, 64).data(), 4), "なし");
}

// A key search fills the slot from the records that share the shown row's
// key, telling the window before and after.
TEST_F(BufferSetTest, KeySearchListsTheMatchingRecords) {
  makeWindow();
  ASSERT_EQ(FileDBRecWrite(depts_, 1, dept(11, "営業部門", 2).data()), 0);
  const int32_t set = addSet(3, {5}, 5);
  ASSERT_EQ(FileProjBufSetList(project_, kView, 5, 0, nullptr), 0);
  heard_.clear();
  EXPECT_EQ(FileProjBufSearch(project_, kView, 5, 503), 2);  // 総務 and 経理 share kind 1
  ASSERT_GE(heard_.size(), 2u);
  EXPECT_EQ(heard_[0].code, 14);
  EXPECT_EQ(heard_[1].code, 15);
  EXPECT_EQ(text(handle_[0].image, 2), "総務");
  EXPECT_EQ(text(handle_[1].image, 2), "経理");
  EXPECT_NE(FileProjBufRowFlags(project_, &handle_[2]) & FILEBUF_ROW_NEW, 0u);
  EXPECT_EQ(FileProjBufRecordCount(project_, set), 2);
  EXPECT_EQ(FileProjBufSearch(project_, kView, 5, 502), -1);  // not a key field
}

// Two processes save the same record: changes to different fields are both
// kept; where both changed one field the saving user's value wins whole.
TEST_F(BufferSetTest, TwoProcessesSavingOneRecordMergeByField) {
  struct Case {
    const char* what;
    const char* childName;  // null: the child leaves the name alone
    uint16_t childKind;
    const char* myName;
    int answer;
    int32_t result;
    const char* storedName;
    uint16_t storedKind;
  };
  const Case cases[] = {
      {"different fields", nullptr, 7, "営業課", platform::kIdOk, 0, "営業課", 7},
      {"the same field", "総務部門", 1, "営業課", platform::kIdOk, 0, "営業課", 1},
      {"cancelled", "総務部門", 5, "営業課", platform::kIdCancel, 2, "総務部門", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(FileDBRecWrite(depts_, 1, dept(11, "営業部門").data()), 0);
    const int32_t ids[] = {5};
    FileProjBufHandle handle = FileProjBufAdd(project_, 1, 1, ids);
    const int32_t set = FileProjBufBind(project_, kView, nullptr, 5, 0);
    ASSERT_EQ(FileProjBufReadRow(project_, set, 0, 0, nullptr, 1), 0);
    // The other process edits the record through a set of its own and saves it.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileProjBufAdd(project_, 1, 1, ids);
      int32_t mine = FileProjBufBind(project_, 0x9999, nullptr, 5, 0);
      bool ok = mine >= 0 && FileProjBufReadRow(project_, mine, 0, 0, nullptr, 1) == 0;
      auto* image = static_cast<uint8_t*>(FileProjGetBufFdb(project_, 0x9999, 5, 0));
      ok = ok && image;
      if (ok) {
        if (c.childName) putText(image, 2, 20, c.childName);
        std::memcpy(image + 22, &c.childKind, 2);
        FileProjRbfSetAct(project_, image, FILEBUF_ROW_EDITED, 1);
        ok = FileProjBufSaveRow(project_, mine, 0, 0, 0) == 0;
      }
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    testing_support::ScriptedMessageBox boxes;
    boxes.answer(c.answer);
    uint8_t* image = row(5, 0);
    putText(image, 2, 20, c.myName);
    edit(image);
    EXPECT_EQ(FileProjBufSaveRow(project_, set, 0, 0, 0), c.result);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.shown()[0].caption, std::string("部門"));
    const auto stored = record(depts_, 1, 32);
    EXPECT_EQ(text(stored.data(), 2), c.storedName);
    EXPECT_EQ(at<uint16_t>(stored.data(), 22), c.storedKind);
    // No byte of the other writer's name is left behind the saved one.
    for (size_t i = 2 + std::strlen(c.storedName); i < 22; ++i) EXPECT_EQ(stored[i], 0) << i;
    EXPECT_EQ(FileProjIdxCheck(project_, 5, 0), 0);
    FileProjBufRemove(project_, handle);
  }
}

// New items numbered by the duplicate check (a record written by hand) and by
// saving a new row through a set, alternately: one counter, no number twice,
// none skipped.
TEST_F(BufferSetTest, AutomaticNumbersAgreeBetweenDuplicateCheckAndSave) {
  const int32_t set = addSet(1, {6}, 6);
  constexpr int kRecords = 1000;
  for (int i = 0; i < kRecords; ++i) {
    if (i % 2 == 0) {
      auto r = item(0, "手書き", 10);
      ASSERT_EQ(FileProjIdxDupCheck(project_, 6, r.data(), -1, nullptr), 0) << i;
      ASSERT_EQ(FileDBRecWrite(items_, i, r.data()), 0) << i;
    } else {
      ASSERT_EQ(FileProjBufReadRow(project_, set, 0, 0, nullptr, i), 0) << i;
      uint8_t* image = row(6, 0);
      ASSERT_NE(FileProjGetAct(project_, kView, 6, 0) & FILEBUF_ROW_NEW, 0) << i;
      putText(image, 4, 20, "画面");
      edit(image);
      ASSERT_EQ(FileProjBufSaveRow(project_, set, 0, 0, 0), 0) << i;
    }
  }
  ASSERT_EQ(FileDBRecGetSize(items_), kRecords);
  for (int i = 0; i < kRecords; ++i)
    ASSERT_EQ(at<uint32_t>(record(items_, i, 64).data(), 0), static_cast<uint32_t>(i + 1)) << i;
  uint32_t counter = 0;
  ASSERT_EQ(FileDBRead(items_, 0, &counter, 4), 4);
  EXPECT_EQ(counter, static_cast<uint32_t>(kRecords));
}

// The write interposer of the crash test: kill before write number killAt.
int32_t g_writes = 0;
int32_t g_killAt = -1;
int32_t killBefore(const std::string&, uint32_t) { return g_writes++ == g_killAt ? 0 : -1; }

// A save of an edited item and a new one, killed before each of its writes:
// the project opens, every index checks sound once rebuilt as the start-up
// does, the edited record holds the old or the new value whole, and the
// counter never lags behind a number given (so none is given twice).
TEST_F(BufferSetTest, SaveKilledBeforeEachWriteLosesNothing) {
  ASSERT_EQ(FileDBRecWrite(items_, 0, item(1, "りんご", 11).data()), 0);
  ASSERT_EQ(FileDBRecWrite(items_, 1, item(2, "みかん", 12).data()), 0);
  const uint32_t two = 2;
  ASSERT_EQ(FileDBWrite(items_, 0, &two, 4), 4);
  FileProjClose(project_);
  project_ = 0;
  namespace fs = std::filesystem;
  const fs::path data = folder_.file("App/Res/Data");
  const fs::path snapshot = folder_.file("snapshot");
  fs::copy(data, snapshot, fs::copy_options::recursive);
  // The child saves through the project the parent opened for it; the
  // parent opens it afresh to look at what the child left.
  auto saveInChild = [&](int32_t killAt) {
    if (!project_) open(nullptr);
    pid_t child = fork();
    if (child == 0) {
      const int32_t ids[] = {6};
      bool ok = FileProjBufAdd(project_, 3, 1, ids) && FileProjBufBind(project_, kView, nullptr, 6, 0) == 0 &&
                FileProjBufSetList(project_, kView, 6, 0, nullptr) == 0;
      auto* first = ok ? row(6, 0) : nullptr;
      auto* fresh = ok ? row(6, 2) : nullptr;
      if (!first || !fresh) _exit(2);
      putText(first, 4, 20, "青りんご");
      putText(fresh, 4, 20, "ぶどう");
      FileProjRbfSetAct(project_, first, FILEBUF_ROW_EDITED, 1);
      FileProjRbfSetAct(project_, fresh, FILEBUF_ROW_EDITED, 1);
      g_writes = 0;
      g_killAt = killAt;
      platform::setWriteInterposer(killBefore);
      ok = FileProjBufSaveAll(project_, kView, 6, 0, nullptr) == 0;
      platform::setWriteInterposer(nullptr);
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    FileProjClose(project_);
    project_ = 0;
    return status;
  };
  // The crash-free run counts the writes.
  int32_t writes = 0;
  {
    const int status = saveInChild(1 << 30);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_NO_FATAL_FAILURE(open(nullptr));
    EXPECT_EQ(text(record(items_, 0, 64).data(), 4), "青りんご");
    EXPECT_EQ(at<uint32_t>(record(items_, 2, 64).data(), 0), 3u);
    FileProjClose(project_);
    project_ = 0;
  }
  for (int32_t k = 0;; ++k) {
    SCOPED_TRACE("killed before write " + std::to_string(k));
    fs::remove_all(data);
    fs::copy(snapshot, data, fs::copy_options::recursive);
    const int status = saveInChild(k);
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (!killed) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      writes = k;
      break;
    }
    ASSERT_NO_FATAL_FAILURE(open(nullptr));
    ASSERT_GE(FileProjIdxCheck(project_, 0, FILEIDX_CHECK_REBUILD), 0);
    EXPECT_EQ(FileProjIdxCheck(project_, 0, 0), 0);
    const std::string name = text(record(items_, 0, 64).data(), 4);
    EXPECT_TRUE(name == "りんご" || name == "青りんご") << name;
    EXPECT_EQ(text(record(items_, 1, 64).data(), 4), "みかん");
    const int32_t count = FileDBRecGetSize(items_);
    ASSERT_TRUE(count == 2 || count == 3) << count;
    uint32_t counter = 0;
    ASSERT_EQ(FileDBRead(items_, 0, &counter, 4), 4);
    uint32_t highest = 0;
    for (int32_t n = 0; n < count; ++n) highest = std::max(highest, at<uint32_t>(record(items_, n, 64).data(), 0));
    EXPECT_GE(counter, highest);
    if (count == 3) {
      EXPECT_EQ(text(record(items_, 2, 64).data(), 4), "ぶどう");
    }
    FileProjClose(project_);
    project_ = 0;
  }
  EXPECT_GT(writes, 2);
  ASSERT_NO_FATAL_FAILURE(open(nullptr));
}

TEST_F(BufferSetTest, DuplicateKeysStopTheSave) {
  testing_support::ScriptedMessageBox boxes;
  boxes.answer(platform::kIdOk);
  const int32_t set = addSet(4, {5}, 5);
  ASSERT_EQ(FileProjBufSetList(project_, kView, 5, 0, nullptr), 0);
  uint8_t* fresh = row(5, 3);
  auto taken = dept(10, "重複");
  std::memcpy(fresh, taken.data(), 32);
  edit(fresh);
  HWND window = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(FileProjBufSaveAll(project_, kView, 5, 0, window), 3);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.lastText(), std::string("上書き保存（更新登録）に失敗しました\n\n番号を重複して使用することは禁止されています"));
  EXPECT_EQ(FileDBRecGetSize(depts_), 3);
  EXPECT_EQ(FileProjBufDupCheck(project_, set, 0, 0, nullptr), 3);
}

}  // namespace
