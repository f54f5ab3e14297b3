// Changing a sale on the demo shop through key events: discounts and
// surcharges by tax rate, line correction with and without history, the
// quantity typed into a list row, repeated items, the sale-wide tax switches
// and the special local tax line. After each change the sale is paid and
// the totalizers the commit moved are checked against its lines.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "app/register/demo_project.h"
#include "app/register/view/register_screen.h"
#include "platform/base/file.h"
#include "platform/base/path.h"
#include "platform/ui/dialog.h"

namespace {

using namespace varnex::reg;
using Line = varnex_test::RegisterScreen::Line;
namespace ui = platform::ui;

uint16_t keyOf(const Line& l) { return getU16(l.data(), line::kKeyCode); }
uint16_t flagsOf(const Line& l) { return getU16(l.data(), line::kFlags); }
int32_t priceOf(const Line& l) { return getI32(l.data(), line::kPrice); }
int32_t unitOf(const Line& l) { return getI32(l.data(), line::kUnit); }
int32_t slotOf(const Line& l) { return (flagsOf(l) >> line::kRateShift) & 3; }

// Files of this process cannot grow past a size while it lives (a full
// disk); a write beyond fails instead of ending the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uintmax_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousSignal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousSignal_);
  }

 private:
  rlimit saved_{};
  void (*previousSignal_)(int) = nullptr;
};

class ChangeSaleTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    profile.deleteSection(kSettingsSection);
    profile.setInt(kSettingsSection, "Tax Detail", 0);
    engine->SetManager(read(kClerkTable, 0).data());
    // Outer tax rounded half away from zero; department 5 (酒類) is of the
    // standard rate (slot 0, 10 %), department 1 (青果) of the reduced one
    // (slot 1, 8 %).
    setTaxWord(1);
    startScreen();
  }
  void TearDown() override {
    screen.reset();
    platform::Profile::of(platform::ProfileScope::User).deleteSection(kSettingsSection);
    DemoProject::TearDown();
  }
  void startScreen() {
    screen.reset();
    ASSERT_EQ(engine->ReloadSettings(), 0);
    screen = std::make_unique<varnex_test::RegisterScreen>(engine.get());
  }

  void setTaxWord(uint16_t word) {
    auto s = read(kSettingsTable, 0);
    putU16(s.data(), settings::kTaxWord, word);
    write(kSettingsTable, 0, s);
  }
  void setSettingsWord(const FieldPlace& f, int32_t value) {
    auto s = read(kSettingsTable, 0);
    if (f.size == 2) putU16(s.data(), f.offset, static_cast<uint16_t>(value));
    else putI32(s.data(), f.offset, value);
    write(kSettingsTable, 0, s);
  }
  // A department of its own rate slot.
  void setDepartmentSlot(int32_t record, uint16_t slot) {
    auto d = read(kDepartmentTable, record);
    putU16(d.data(), department::kAttributes.offset,
           static_cast<uint16_t>(6 | attribute::kPointTarget | (slot << attribute::kRateShift)));
    write(kDepartmentTable, record, d);
  }
  void hideHistory() {
    screen->app->m_bHideHistory = 1;
    screen->app->m_bHistory = 0;
  }

  void item(const std::string& price, uint16_t department) {
    screen->type(price);
    screen->panel(kKeyDepartment, department);
  }
  void key(uint16_t type, uint16_t code) { screen->panel(type, code); }
  // Five lines: an item with its discount, a second item, a subtotal and a
  // third item.
  void ringItemDiscountSubtotalItem() {
    item("1000", 5);
    key("100", kKeyTrans2, kTrans2AmountDiscount);
    item("200", 1);
    key(kKeyFunction, kFunctionSubtotal);
    item("300", 6);
  }
  void key(const std::string& entry, uint16_t type, uint16_t code) {
    screen->type(entry);
    screen->panel(type, code);
  }
  // The list's cursor on the row of line n (the rows follow the lines).
  void focusLine(int32_t n) {
    key(kKeyFunction, kFunctionFirstRow);
    for (int32_t i = 0; i < n; ++i) key(kKeyFunction, kFunctionCursorDown);
    ASSERT_EQ(view().FocusedListNumber(), n);
  }
  std::vector<Line> lines() { return screen->lines(); }
  bool refused(int32_t code) { return screen->showsError(code); }
  CRegView& view() { return *screen->view; }

  // Pays the sale in cash and checks what the commit posted: the departments'
  // grand total moved by the sum of the item lines, the net sales totalizer
  // by the sale's amount as the screen showed it.
  void payAndCheckTotals() {
    const auto sale = lines();
    const int32_t amount = view().Sale().Amount();
    const int32_t departments = getI32(read(kDepartmentTable, 0).data(), department::kAmount.offset);
    const int32_t net = getI32(read(kFixedTotalTable, 0).data(), fixedtotal::kAmount.offset);
    // The special local tax has totalizers of its own, outside net sales.
    int32_t items = 0, specialTax = 0;
    for (const Line& l : sale) {
      if (keyType(keyOf(l)) == kKeyDepartment) items += priceOf(l);
      if (keyOf(l) == systemLineKey(kLineSpecialTax)) specialTax += priceOf(l);
    }
    key(std::to_string(amount + 1000), kKeyTrans1, kTenderCash);
    ASSERT_FALSE(view().Sale().SaleOpen()) << view().PaneMessage();
    EXPECT_EQ(getI32(read(kDepartmentTable, 0).data(), department::kAmount.offset) - departments, items);
    EXPECT_EQ(getI32(read(kFixedTotalTable, 0).data(), fixedtotal::kAmount.offset) - net, amount - specialTax);
  }

  std::unique_ptr<varnex_test::RegisterScreen> screen;
};

// ---- discounts and surcharges by tax rate ----------------------------------

TEST_F(ChangeSaleTest, SubtotalDiscountIsSplitOverTheRateSlots) {
  setTaxWord(1 | 0x400);
  startScreen();
  item("600", 5);
  item("400", 1);
  key(kKeyFunction, kFunctionSubtotal);
  key("100", kKeyTrans2, kTrans2AmountDiscount);
  const auto l = lines();
  ASSERT_EQ(l.size(), 5u) << view().PaneMessage();
  EXPECT_EQ(priceOf(l[2]), 1000);  // the subtotal, tax excluded
  EXPECT_EQ(keyOf(l[3]), makeKeyCode(kKeyTrans2, kTrans2AmountDiscount));
  EXPECT_EQ(priceOf(l[3]), -60);
  EXPECT_EQ(slotOf(l[3]), 0);
  EXPECT_EQ(priceOf(l[4]), -40);
  EXPECT_EQ(slotOf(l[4]), 1);
  EXPECT_EQ(flagsOf(l[4]) & 0x000C, 0x0004);
  // 540 + 54 tax, 360 + 29 tax.
  EXPECT_EQ(view().Sale().Amount(), 983);
  payAndCheckTotals();
}

// Shares of 33.3 each are rounded down; the largest slot takes the yen left
// over, so the lines add up to the amount entered.
TEST_F(ChangeSaleTest, SplitLinesAddUpToTheAmountEntered) {
  setTaxWord(1 | 0x400);
  setSettingsWord(settings::kRate2, 500);
  setDepartmentSlot(6, 2);
  startScreen();
  item("100", 5);
  item("100", 1);
  item("100", 6);
  key(kKeyFunction, kFunctionSubtotal);
  key("100", kKeyTrans2, kTrans2AmountDiscount);
  const auto l = lines();
  ASSERT_EQ(l.size(), 7u) << view().PaneMessage();
  int32_t sum = 0;
  for (size_t i = 4; i < 7; ++i) {
    EXPECT_EQ(slotOf(l[i]), static_cast<int32_t>(i - 4));
    sum += priceOf(l[i]);
  }
  EXPECT_EQ(sum, -100);
  EXPECT_EQ(priceOf(l[4]), -34);
  payAndCheckTotals();
}

TEST_F(ChangeSaleTest, PercentDiscountAndItsRefusals) {
  item("1000", 5);
  key("101", kKeyTrans2, kTrans2PercentDiscount);
  EXPECT_TRUE(refused(kErrAboveTarget)) << view().PaneMessage();
  EXPECT_EQ(view().Sale().LineCount(), 1);
  key(kKeyFunction, kFunctionClear);
  key("100", kKeyTrans2, kTrans2PercentDiscount);
  auto l = lines();
  ASSERT_EQ(l.size(), 2u) << view().PaneMessage();
  EXPECT_EQ(priceOf(l[1]), -1000);
  EXPECT_EQ(getI32(l[1].data(), line::kUnitPrice), 100);
  EXPECT_EQ(view().Sale().Amount(), 0);
  item("500", 5);
  key(kKeyFunction, kFunctionSubtotal);
  key(kKeyFunction, kFunctionSubtotal);
  EXPECT_TRUE(refused(kErrTwice)) << view().PaneMessage();
  EXPECT_EQ(view().Sale().LineCount(), 4);
  // An amount discount above its target.
  key("600", kKeyTrans2, kTrans2AmountDiscount);
  EXPECT_TRUE(refused(kErrAboveTarget)) << view().PaneMessage();
  key(kKeyFunction, kFunctionClear);
  payAndCheckTotals();
}

// With prices entered with their tax, an amount discount on an outer-tax
// item takes off its tax-exclusive part.
TEST_F(ChangeSaleTest, AmountDiscountEnteredWithItsTax) {
  screen->app->m_bInputIncludPrice = 1;
  item("1000", 5);
  key("110", kKeyTrans2, kTrans2AmountDiscount);
  const auto l = lines();
  ASSERT_EQ(l.size(), 2u) << view().PaneMessage();
  EXPECT_EQ(priceOf(l[1]), -100);
  EXPECT_EQ(view().Sale().Amount(), 990);
  payAndCheckTotals();
}

// The disk fills up after the line of the first slot: the discount is
// taken back whole, and goes in whole once there is room again.
TEST_F(ChangeSaleTest, SplitCutOffByAFullDiskIsTakenBack) {
  setTaxWord(1 | 0x400);
  startScreen();
  item("600", 5);
  item("400", 1);
  key(kKeyFunction, kFunctionSubtotal);
  const auto before = lines();
  const int32_t amount = view().Sale().Amount();
  char path[300] = {};
  FileDBGetPathName(view().Sale().TemporaryFile(), path);
  const auto size = std::filesystem::file_size(platform::mapPath(path));
  {
    FileSizeLimit limit(size + line::kSize);
    key("100", kKeyTrans2, kTrans2AmountDiscount);
  }
  EXPECT_TRUE(refused(kErrBadHandle)) << view().PaneMessage();
  EXPECT_EQ(lines(), before);
  EXPECT_EQ(FileDBRecGetSize(view().Sale().TemporaryFile()), 3);
  EXPECT_EQ(view().Sale().Amount(), amount);
  EXPECT_EQ(ui::listItemCount(view().ListControl()), 4);
  key(kKeyTrans2, kTrans2AmountDiscount);
  const auto l = lines();
  ASSERT_EQ(l.size(), 5u) << view().PaneMessage();
  EXPECT_EQ(priceOf(l[3]) + priceOf(l[4]), -100);
  payAndCheckTotals();
}

// A surcharge shared out by a subtotal of 0 has no proportions: refused,
// never divided by zero.
TEST_F(ChangeSaleTest, SplitSurchargeOnASubtotalOfZeroIsRefused) {
  setTaxWord(1 | 0x400);
  startScreen();
  item("1000", 5);
  key("100", kKeyTrans2, kTrans2PercentDiscount);
  key(kKeyFunction, kFunctionSubtotal);
  ASSERT_EQ(view().Sale().LineCount(), 3);
  key("100", kKeyTrans2, kTrans2AmountSurcharge);
  EXPECT_TRUE(refused(kErrNoTarget)) << view().PaneMessage();
  EXPECT_EQ(view().Sale().LineCount(), 3);
}

// ---- line correction -------------------------------------------------------

TEST_F(ChangeSaleTest, CorrectionWithHistoryWritesCounterLines) {
  item("1000", 5);
  item("500", 1);
  focusLine(0);
  key(kKeyTrans2, kTrans2Correction);
  auto l = lines();
  ASSERT_EQ(l.size(), 3u) << view().PaneMessage();
  EXPECT_EQ(flagsOf(l[0]) & 0x600, line::kCcts);
  EXPECT_EQ(flagsOf(l[2]) & 0x600, 0x600);
  EXPECT_EQ(keyOf(l[2]), keyOf(l[0]));
  EXPECT_EQ(unitOf(l[2]), -1);
  EXPECT_EQ(priceOf(l[2]), -1000);
  EXPECT_EQ(view().Sale().Amount(), 540);
  // The corrected line again, then the counter-line (the entry row stands
  // for the last line).
  focusLine(0);
  key(kKeyTrans2, kTrans2Correction);
  EXPECT_TRUE(refused(kErrCorrected)) << view().PaneMessage();
  key(kKeyFunction, kFunctionLastRow);
  EXPECT_EQ(view().FocusedListNumber(), 3);
  key(kKeyTrans2, kTrans2Correction);
  EXPECT_TRUE(refused(kErrNotCorrectable)) << view().PaneMessage();
  EXPECT_EQ(view().Sale().LineCount(), 3);

  // An item with its discount: both get their counter-lines.
  item("300", 5);
  key("10", kKeyTrans2, kTrans2PercentDiscount);
  focusLine(3);
  key(kKeyTrans2, kTrans2Correction);
  l = lines();
  ASSERT_EQ(l.size(), 7u) << view().PaneMessage();
  EXPECT_EQ(flagsOf(l[3]) & 0x600, line::kCcts);
  EXPECT_EQ(flagsOf(l[4]) & 0x600, line::kCcts);
  EXPECT_EQ(priceOf(l[5]), -300);
  EXPECT_EQ(priceOf(l[6]), 30);
  EXPECT_EQ(view().Sale().Amount(), 540);
  // The file holds what the block holds.
  for (int32_t n = 0; n < 7; ++n) {
    Line record(line::kSize);
    ASSERT_EQ(FileDBRecRead(view().Sale().TemporaryFile(), n, record.data()), 0);
    EXPECT_EQ(record, l[static_cast<size_t>(n)]) << n;
  }
  screen->grab("change_sale_corrected.png");
  payAndCheckTotals();
}

TEST_F(ChangeSaleTest, CorrectionWithHistoryHiddenRemovesAndRenumbers) {
  hideHistory();
  ringItemDiscountSubtotalItem();
  ASSERT_EQ(view().Sale().LineCount(), 5);
  // The item goes with its discount and with the subtotal after it.
  focusLine(0);
  key(kKeyTrans2, kTrans2Correction);
  auto l = lines();
  ASSERT_EQ(l.size(), 2u) << view().PaneMessage();
  EXPECT_EQ(priceOf(l[0]), 200);
  EXPECT_EQ(priceOf(l[1]), 300);
  EXPECT_EQ(FileDBRecGetSize(view().Sale().TemporaryFile()), 2);
  const HWND list = view().ListControl();
  ASSERT_EQ(ui::listItemCount(list), 3);
  for (int32_t row = 0; row < 3; ++row) EXPECT_EQ(ui::reportRowData(list, row), row);
  EXPECT_EQ(view().Sale().Amount(), 216 + 330);
  // One more, from the middle: the rest moves up.
  item("400", 5);
  focusLine(1);
  key(kKeyTrans2, kTrans2Correction);
  l = lines();
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(priceOf(l[1]), 400);
  EXPECT_EQ(ui::reportRowData(list, 1), 1);
  payAndCheckTotals();
}

// With history hidden a correction takes lines out and moves the rest up:
// killed before (or halfway through) any of its writes, the sale's
// temporary file holds its old lines or the new ones, never a line twice.
int32_t g_writes = 0;
int32_t g_killAt = -1;
bool g_torn = false;
int32_t killAtWrite(const std::string&, uint32_t count) {
  if (g_writes++ != g_killAt) return -1;
  return g_torn ? static_cast<int32_t>(count / 2) : 0;
}

TEST_F(ChangeSaleTest, CorrectionWithHistoryHiddenKilledAtEachWrite) {
  hideHistory();
  ringItemDiscountSubtotalItem();
  ASSERT_EQ(view().Sale().LineCount(), 5);
  focusLine(0);
  char code[300] = {};
  FileDBGetPathName(view().Sale().TemporaryFile(), code);
  const std::string path = platform::mapPath(code);
  auto bytes = [&]() {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string old = bytes();
  const size_t header = old.size() - 5 * line::kSize;
  auto records = [&](const std::string& b) {
    std::vector<std::string> out;
    for (size_t at = header; at + line::kSize <= b.size(); at += line::kSize) out.push_back(b.substr(at, line::kSize));
    return out;
  };
  // The correction in a child process, killed at write k (none with -1).
  // The file may be replaced only while no other process holds it open, so
  // the child opens it for itself.
  const FileDBHandle temporary = view().Sale().TemporaryFile();
  ASSERT_EQ(FileDBCloseEx(temporary), 0);
  auto correctIn = [&](int32_t k, bool torn) {
    const pid_t child = fork();
    if (child == 0) {
      if (FileDBOpenEx(temporary, FILEDB_MODE_READ_WRITE) != 0) _exit(2);
      g_killAt = k;
      g_torn = torn;
      platform::setWriteInterposer(killAtWrite);
      key(kKeyTrans2, kTrans2Correction);
      _exit(view().Sale().LineCount() == 2 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
  };
  auto restore = [&]() {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << old;
    std::filesystem::remove(path + ".new");
  };
  const int clean = correctIn(-1, false);
  ASSERT_TRUE(WIFEXITED(clean) && WEXITSTATUS(clean) == 0) << "status " << clean;
  const auto after = records(bytes());
  ASSERT_EQ(after.size(), 2u);
  const auto before = records(old);
  int32_t kills = 0;
  for (int32_t k = 0; k < 200; ++k) {
    bool finished = false;
    for (bool torn : {false, true}) {
      restore();
      const int status = correctIn(k, torn);
      const auto now = records(bytes());
      EXPECT_TRUE(now == before || now == after) << "killed at write " << k << (torn ? " halfway" : "") << ": "
                                                 << now.size() << " lines";
      if (WIFSIGNALED(status)) {
        ++kills;
      } else {
        finished = true;
      }
    }
    if (finished) break;
  }
  EXPECT_GT(kills, 2);
  restore();
  EXPECT_EQ(FileDBOpenEx(temporary, FILEDB_MODE_READ_WRITE), 0);
}

// A correction whose file write fails leaves the sale as it was.
TEST_F(ChangeSaleTest, FailedCorrectionChangesNothing) {
  item("300", 5);
  key("10", kKeyTrans2, kTrans2PercentDiscount);
  const auto before = lines();
  const int32_t amount = view().Sale().Amount();
  FileDBCloseEx(view().Sale().TemporaryFile());
  FileDBDelete(view().Sale().TemporaryFile());
  focusLine(0);
  key(kKeyTrans2, kTrans2Correction);
  EXPECT_TRUE(refused(kErrBadHandle)) << view().PaneMessage();
  EXPECT_EQ(lines(), before);
  EXPECT_EQ(view().Sale().Amount(), amount);
  EXPECT_EQ(ui::listItemCount(view().ListControl()), 3);
}

// The disk fills up between the two counter-lines of an item and its
// discount: the first is taken back, and the sale is as it was.
TEST_F(ChangeSaleTest, CorrectionCutOffHalfWayIsTakenBack) {
  item("300", 5);
  key("10", kKeyTrans2, kTrans2PercentDiscount);
  const auto before = lines();
  char path[300] = {};
  FileDBGetPathName(view().Sale().TemporaryFile(), path);
  const auto size = std::filesystem::file_size(platform::mapPath(path));
  focusLine(0);
  {
    // Room for one more line record, not for two.
    FileSizeLimit limit(size + line::kSize);
    key(kKeyTrans2, kTrans2Correction);
  }
  EXPECT_TRUE(refused(kErrBadHandle)) << view().PaneMessage();
  EXPECT_EQ(lines(), before);
  EXPECT_EQ(FileDBRecGetSize(view().Sale().TemporaryFile()), 2);
  for (int32_t n = 0; n < 2; ++n) {
    Line record(line::kSize);
    ASSERT_EQ(FileDBRecRead(view().Sale().TemporaryFile(), n, record.data()), 0);
    EXPECT_EQ(record, before[static_cast<size_t>(n)]) << n;
  }
  EXPECT_EQ(ui::listItemCount(view().ListControl()), 3);
  // With room again the same key corrects both.
  key(kKeyTrans2, kTrans2Correction);
  EXPECT_EQ(view().Sale().LineCount(), 4);
  payAndCheckTotals();
}

// A program stopped between the two writes of a correction leaves the
// counter-line on disk and its line without the mark; taking the sale over
// at the next start makes the mark, so the line cannot be corrected twice.
TEST_F(ChangeSaleTest, ResumedSaleMarksTheLineItsCounterLineCancels) {
  item("1000", 5);
  item("500", 1);
  focusLine(0);
  key(kKeyTrans2, kTrans2Correction);
  ASSERT_EQ(view().Sale().LineCount(), 3);
  char path[300] = {};
  FileDBGetPathName(view().Sale().TemporaryFile(), path);
  const std::string file = platform::mapPath(path);
  screen.reset();
  ASSERT_TRUE(std::filesystem::exists(file));
  {
    // Records lie at the end of the file, 96 bytes each.
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    const auto at = static_cast<std::streamoff>(std::filesystem::file_size(file) - 3 * line::kSize + line::kFlags);
    char flags[2];
    f.seekg(at);
    f.read(flags, 2);
    ASSERT_EQ(flags[1] & 0x02, 0x02);
    flags[1] = static_cast<char>(flags[1] & ~0x02);
    f.seekp(at);
    f.write(flags, 2);
  }
  // Written before the next start, as a file left by an earlier run is.
  std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) - std::chrono::seconds(2));
  startScreen();
  boxes->answer(platform::kIdYes);
  ASSERT_EQ(view().ResumeInterruptedSale(), 1);
  const auto l = lines();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(flagsOf(l[0]) & 0x600, line::kCcts);
  Line record(line::kSize);
  ASSERT_EQ(FileDBRecRead(view().Sale().TemporaryFile(), 0, record.data()), 0);
  EXPECT_EQ(record, l[0]);
  focusLine(0);
  key(kKeyTrans2, kTrans2Correction);
  EXPECT_TRUE(refused(kErrCorrected)) << view().PaneMessage();
  EXPECT_EQ(view().Sale().Amount(), 540);
  payAndCheckTotals();
}

// ---- quantity sub-entry and repeated items ---------------------------------

TEST_F(ChangeSaleTest, QuantityTypedIntoTheRow) {
  key("3", kKeyFunction, kFunctionQuantity);
  item("200", 1);
  ASSERT_EQ(unitOf(lines()[0]), 3);
  const HWND list = view().ListControl();
  key(kKeyFunction, kFunctionQuantity);
  EXPECT_TRUE(view().Sale().SubEntryActive());
  EXPECT_EQ(unitOf(lines()[0]), 0);
  EXPECT_EQ(ui::reportCell(list, 0, 1), "");
  EXPECT_EQ(ui::reportCell(list, 0, 3), "");
  screen->type("12");
  screen->grab("change_sale_quantity.png");
  EXPECT_EQ(unitOf(lines()[0]), 12);
  EXPECT_EQ(priceOf(lines()[0]), 2400);
  EXPECT_EQ(view().Sale().Amount(), 2592);
  EXPECT_EQ(view().Sale().Entry(), "");
  key(kKeyFunction, kFunctionBackspace);
  EXPECT_EQ(unitOf(lines()[0]), 1);
  key(kKeyFunction, kFunctionCancelLine);
  EXPECT_EQ(unitOf(lines()[0]), 3);
  EXPECT_FALSE(view().Sale().SubEntryActive());

  // Six digits take no seventh; "00" multiplies by 100.
  key(kKeyFunction, kFunctionQuantity);
  screen->type("12");
  key(kKeyFunction, kFunctionDoubleZero);
  EXPECT_EQ(unitOf(lines()[0]), 1200);
  screen->type("34");
  EXPECT_EQ(unitOf(lines()[0]), 120034);
  screen->type("5");
  EXPECT_TRUE(refused(kErrDigitLimit)) << view().PaneMessage();
  EXPECT_EQ(unitOf(lines()[0]), 120034);
  EXPECT_TRUE(view().Sale().SubEntryActive());
  // The file holds the line as the block does.
  Line record(line::kSize);
  ASSERT_EQ(FileDBRecRead(view().Sale().TemporaryFile(), 0, record.data()), 0);
  EXPECT_EQ(record, lines()[0]);

  // Finished with 0, the quantity goes back to where this sub-entry started.
  key(kKeyFunction, kFunctionClear);
  EXPECT_EQ(unitOf(lines()[0]), 0);
  key(kKeyFunction, kFunctionSubtotal);
  EXPECT_EQ(unitOf(lines()[0]), 3);
  EXPECT_EQ(priceOf(lines()[0]), 600);
  EXPECT_FALSE(view().Sale().SubEntryActive());
  payAndCheckTotals();
}

// Unit price times quantity beyond the line's 32 bits is refused.
TEST_F(ChangeSaleTest, SubEntryQuantityBeyondTheAmountIsRefused) {
  item("10000", 5);
  key(kKeyFunction, kFunctionQuantity);
  screen->type("99999");
  EXPECT_EQ(priceOf(lines()[0]), 999990000);
  screen->type("9");
  EXPECT_TRUE(refused(kErrDigitLimit)) << view().PaneMessage();
  EXPECT_EQ(unitOf(lines()[0]), 99999);
  EXPECT_EQ(priceOf(lines()[0]), 999990000);
}

TEST_F(ChangeSaleTest, RepeatedItemsMergeOnlyWhenAlike) {
  hideHistory();
  item("100", 5);
  item("100", 5);
  auto l = lines();
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(unitOf(l[0]), 2);
  EXPECT_EQ(priceOf(l[0]), 200);
  EXPECT_EQ(view().Sale().Amount(), 220);
  EXPECT_EQ(ui::listItemCount(view().ListControl()), 2);
  // A non-taxable repeat stays a line of its own, as does another price.
  key(kKeyFunction, kFunctionNonTaxable);
  item("100", 5);
  item("150", 5);
  l = lines();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_NE(flagsOf(l[1]) & line::kNonTaxable, 0);
  EXPECT_EQ(unitOf(l[0]), 2);
  EXPECT_EQ(view().Sale().Amount(), 220 + 100 + 165);
  payAndCheckTotals();
}

// ---- sale-wide tax switches and the special local tax ----------------------

TEST_F(ChangeSaleTest, ReducedRateNeedsItsRate) {
  setSettingsWord(settings::kRate1, 0);
  startScreen();
  item("1000", 5);
  key(kKeyFunction, kFunctionTaxReduction);
  EXPECT_TRUE(refused(kErrReducedRate)) << view().PaneMessage();
  EXPECT_FALSE(view().Sale().TaxReduced());
}

TEST_F(ChangeSaleTest, ReducedRateMovesStandardLinesOnly) {
  setSettingsWord(settings::kRate2, 500);
  setDepartmentSlot(6, 2);
  startScreen();
  item("1000", 5);
  key("10", kKeyTrans2, kTrans2PercentDiscount);
  item("500", 6);
  const auto before = lines();
  key(kKeyFunction, kFunctionTaxReduction);
  EXPECT_TRUE(view().Sale().TaxReduced());
  auto l = lines();
  EXPECT_EQ(slotOf(l[0]), 1);
  EXPECT_EQ(slotOf(l[1]), 1);
  EXPECT_EQ(slotOf(l[2]), 2);
  EXPECT_EQ(view().StatusText(), "消費税減税");
  // 900 at 8 %, 500 at 5 %.
  EXPECT_EQ(view().Sale().Amount(), 972 + 525);
  key(kKeyFunction, kFunctionTaxReduction);
  EXPECT_EQ(lines(), before);
  EXPECT_EQ(view().Sale().Amount(), 990 + 525);
  key(kKeyFunction, kFunctionTaxReduction);
  payAndCheckTotals();
}

// 免税 twice gives every line back as it was, and the totals with them,
// also the number of persons that the special local tax divides by.
TEST_F(ChangeSaleTest, TaxExemptTwiceLeavesTheSaleAsBefore) {
  setSettingsWord(settings::kSpecialRate, 300);
  setSettingsWord(settings::kSpecialThreshold, 750);
  startScreen();
  key("3", kKeyFunction, kFunctionPersons);
  item("1600", 5);
  item("400", 1);
  const auto before = lines();
  const int32_t amount = view().Sale().Amount();
  key(kKeyFunction, kFunctionTaxExempt);
  EXPECT_TRUE(view().Sale().TaxExempt());
  for (const Line& l : lines()) {
    if (keyType(keyOf(l)) == kKeyDepartment) {
      EXPECT_NE(flagsOf(l) & line::kTaxExempt, 0);
    }
  }
  EXPECT_EQ(view().Sale().Amount(), 2000);
  key(kKeyFunction, kFunctionTaxExempt);
  EXPECT_FALSE(view().Sale().TaxExempt());
  EXPECT_EQ(lines(), before);
  EXPECT_EQ(view().Sale().Amount(), amount);
  // Three persons still: 2,000 / 3 is below 750, so no special tax.
  key(kKeyFunction, kFunctionSpecialTax);
  EXPECT_EQ(view().Sale().LineCount(), 3);
  payAndCheckTotals();
}

TEST_F(ChangeSaleTest, SpecialLocalTaxLineForOnePerson) {
  setSettingsWord(settings::kSpecialRate, 300);
  setSettingsWord(settings::kSpecialThreshold, 750);
  startScreen();
  item("1600", 5);
  key(kKeyFunction, kFunctionSpecialTax);
  const auto l = lines();
  ASSERT_EQ(l.size(), 2u) << view().PaneMessage();
  EXPECT_EQ(keyOf(l[1]), systemLineKey(kLineSpecialTax));
  EXPECT_EQ(priceOf(l[1]), 48);
  EXPECT_EQ(view().Sale().Amount(), 1760 + 48);
  // Once per sale.
  key(kKeyFunction, kFunctionSpecialTax);
  EXPECT_TRUE(refused(kErrTaxService)) << view().PaneMessage();
  screen->grab("change_sale_special_tax.png");
  payAndCheckTotals();
}

}  // namespace
