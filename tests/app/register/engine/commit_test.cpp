// The transaction commit on the demo shop: a sale as the sales screen hands
// it over, its refund, failures on the way, receipt numbers, the monthly
// totalizer, points and the settlement's report lines.
#include <algorithm>
#include <cstring>
#include <map>
#include <thread>

#include "app/register/engine/journal.h"
#include "app/register/engine/records.h"
#include "app/register/demo_project.h"
#include "platform/base/clock.h"
#include "app/register/sale_lines.h"
#include "zemta/date.h"

using namespace varnex::reg;
using varnex_test::BlockOwner;
using varnex_test::DemoProject;
using varnex_test::demoJan;
using varnex_test::itemLine;
using varnex_test::keyLine;
using varnex_test::Line;
using varnex_test::systemLine;
namespace fs = std::filesystem;

namespace {

using Records = std::map<std::pair<int, int32_t>, std::vector<uint8_t>>;

const TableIndex kCounted[] = {kSettingsTable, kCustomerTable, kDepartmentTable, kPluTable, kGroupTable,
                               kClerkTable,    kTrans1Table,   kTrans2Table,     kTrans3Table, kFixedTotalTable};

// Two items (2 apples at 128 in a department at 8 %, one 500 item at 10 %),
// the total, the tax, the subtotal, 1000 tendered and 174 change.
std::vector<Line> demoSale() {
  return {itemLine(1, 2, 128, demoJan(1), 1, line::kPointTarget, "りんご"),
          itemLine(5, 1, 500, "", 0, 0, "酒類"),
          varnex_test::totalLine(),
          systemLine(4, 70),
          systemLine(0, 826),
          keyLine(kKeyTrans1, 1, 1000),
          systemLine(2, 174)};
}

class CommitTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    engine->SetManager(read(kClerkTable, 0).data());
    temp = folder / "LocDat";
    uint16_t today = 0;
    GetDate(&today, nullptr);
    daily = temp / ReceiptFileName(today);
  }

  Records state() {
    Records r;
    for (TableIndex t : kCounted) {
      const int32_t count = FileDBRecGetSize(engine->Table(t));
      for (int32_t n = 0; n < count; ++n) r[{t, n}] = read(t, n);
    }
    return r;
  }

  std::vector<Line> dailyRecords() {
    std::vector<Line> lines;
    FileDBHandle file = engine->PrfOpen(3, nullptr);
    EXPECT_NE(file, 0u);
    const int32_t count = FileDBRecGetSize(file);
    for (int32_t n = 0; n < count; ++n) {
      Line l(96);
      EXPECT_EQ(FileDBRecRead(file, n, l.data()), 0);
      lines.push_back(l);
    }
    FileDBDelete(file);
    return lines;
  }

  static void add(Records& r, TableIndex t, int32_t n, const FieldPlace& f, int32_t by) {
    auto& image = r.at({t, n});
    putI32(image.data(), f.offset, getI32(image.data(), f.offset) + by);
  }

  // What the demo sale moves, with sign s (refund: -1).
  Records moved(Records r, int32_t s, bool refund) {
    auto item = [&](TableIndex t, const FieldPlace& count, const FieldPlace& amount, int32_t n, int32_t q,
                    int32_t p) {
      add(r, t, n, count, q * s);
      add(r, t, n, amount, p * s);
    };
    item(kDepartmentTable, department::kCount, department::kAmount, 1, 2, 256);
    item(kDepartmentTable, department::kCount, department::kAmount, 5, 1, 500);
    item(kDepartmentTable, department::kCount, department::kAmount, 0, 3, 756);
    item(kPluTable, plu::kCount, plu::kAmount, 1, 2, 256);
    item(kPluTable, plu::kCount, plu::kAmount, 0, 2, 256);
    item(kGroupTable, group::kCount, group::kAmount, 1, 2, 256);
    item(kGroupTable, group::kCount, group::kAmount, 2, 1, 500);
    item(kGroupTable, group::kCount, group::kAmount, 0, 3, 756);
    item(kTrans1Table, transkey::kCount, transkey::kAmount, 0, 1, 826);
    add(r, kSettingsTable, 0, settings::kCash, 826 * s);
    item(kClerkTable, clerk::kNetCount, clerk::kNetAmount, 0, 1, 826);
    item(kClerkTable, clerk::kGrossCount, clerk::kGrossAmount, 0, 3, 826);
    auto slot = [&](int32_t n, int32_t count, int32_t amount) {
      item(kFixedTotalTable, fixedtotal::kCount, fixedtotal::kAmount, n, count, amount);
    };
    slot(0, 1, 826);
    slot(1, 3, 826);
    if (refund) slot(2, -1, -826);
    slot(3, 0, 826);
    slot(4, 0, 826);
    slot(5, 0, 500);   // outer taxable at 10 %
    slot(6, 0, 50);    // its tax
    slot(11, 0, 256);  // outer taxable at 8 %
    slot(12, 0, 20);   // its tax
    uint16_t today = 0;
    GetDate(&today, nullptr);
    putU16(r.at({kFixedTotalTable, 4}).data(), fixedtotal::kDate.offset, today);
    return r;
  }

  void expectSame(const Records& expected, const Records& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (const auto& [where, image] : expected) {
      const auto& got = actual.at(where);
      for (size_t i = 0; i < image.size(); i += 4)
        if (std::memcmp(image.data() + i, got.data() + i, std::min<size_t>(4, image.size() - i)) != 0)
          ADD_FAILURE() << kTables[where.first].name << " record " << where.second << " offset " << i
                        << ": expected " << getI32(image.data(), i) << " got " << getI32(got.data(), i);
    }
  }

  std::vector<std::string> temporaryFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(temp))
      if (e.path().extension() == ".log") names.push_back(e.path().filename().string());
    return names;
  }

  fs::path temp, daily;
};

TEST_F(CommitTest, SaleThenRefundOfTheSameSale) {
  const std::vector<Line> sale = demoSale();
  BlockOwner block(sale);
  uint16_t mode = kSaleRegister1;
  FileDBHandle temporary = engine->PrfOpen(4, &mode);
  ASSERT_NE(temporary, 0u);
  for (size_t i = 0; i < sale.size(); ++i) ASSERT_EQ(FileDBRecWrite(temporary, static_cast<int32_t>(i), sale[i].data()), 0);
  ASSERT_EQ(temporaryFiles().size(), 1u);

  const Records before = state();
  uint8_t closing[96] = {};
  ASSERT_EQ(engine->PrfUpdate(kModeRegister1, block, closing, &temporary, 77), 0) << boxes->lastText();
  EXPECT_EQ(boxes->count(), 0u) << boxes->lastText();
  EXPECT_EQ(temporary, 0u);
  EXPECT_TRUE(temporaryFiles().empty());
  expectSame(moved(before, 1, false), state());

  // The daily file: the lines as given, then the closing record.
  std::vector<Line> records = dailyRecords();
  ASSERT_EQ(records.size(), sale.size() + 1);
  for (size_t i = 0; i < sale.size(); ++i) EXPECT_EQ(records[i], sale[i]) << "line " << i;
  const Line& c = records.back();
  EXPECT_EQ(std::memcmp(c.data(), closing, 96), 0);
  EXPECT_TRUE(isBlank(c.data(), 0, 24));
  EXPECT_EQ(getText(c.data(), 24, 8), "ﾃﾝﾁｮｳ");
  EXPECT_EQ(getText(c.data(), 36, 14), "ZEMTAマート 01");
  EXPECT_EQ(getU16(c.data(), line::kFlags), 0x400);
  EXPECT_EQ(getU16(c.data(), line::kKeyCode), 0xF000 | kModeRegister1);
  EXPECT_EQ(getI32(c.data(), line::kUnit), 3);
  uint16_t today = 0;
  GetDate(&today, nullptr);
  EXPECT_EQ(getU32(c.data(), line::kUnitPrice) >> 16, today);
  EXPECT_EQ(getU32(c.data(), line::kPrice), (1u << 16) | 1u);  // clerk 1, receipt 1
  EXPECT_EQ(getI32(c.data(), line::kUnitNet), 0);
  EXPECT_EQ(getI32(c.data(), line::kNetPrice), 77);

  // The refund takes every counter back; only the refund totalizer keeps it.
  ASSERT_EQ(engine->PrfUpdate(kModeRefund, block, nullptr, nullptr, 0), 0) << boxes->lastText();
  Records expected = before;
  add(expected, kFixedTotalTable, 2, fixedtotal::kCount, 1);
  add(expected, kFixedTotalTable, 2, fixedtotal::kAmount, 826);
  putU16(expected.at({kFixedTotalTable, 4}).data(), fixedtotal::kDate.offset, today);
  expectSame(expected, state());
  records = dailyRecords();
  ASSERT_EQ(records.size(), 2 * (sale.size() + 1));
  for (size_t i = sale.size() + 1; i + 1 < records.size(); ++i)
    EXPECT_EQ(getU16(records[i].data(), line::kFlags) & line::kVoid, line::kVoid) << "line " << i;
  EXPECT_EQ(getU16(records.back().data(), line::kFlags), 0x401);
  EXPECT_EQ(getU16(records.back().data(), line::kKeyCode), 0xF000 | kModeRefund);
  EXPECT_EQ(getU16(records.back().data(), line::kPrice), 2);
}

// Between sales the commit's tables stay open for the next sale: other
// programs wait for them until the register is idle, while this program's
// own changes (a programming screen saving a department) go in as always
// and the next sale posts on top of them.
TEST_F(CommitTest, CommitFilesStayOpenBetweenSalesAndGiveWay) {
  BlockOwner block(demoSale());
  auto elsewhereCanRead = [&](TableIndex t) {
    int32_t can = -1;
    std::thread other([&] { can = FileDBIsAccess(engine->Table(t), FILEDB_MODE_READ | FILEDB_MODE_NO_WAIT); });
    other.join();
    return can == 1;
  };
  Records expected = state();
  ASSERT_EQ(engine->PrfUpdate(kModeRegister1, block, nullptr, nullptr, 0), 0) << boxes->lastText();
  expected = moved(expected, 1, false);
  EXPECT_FALSE(elsewhereCanRead(kDepartmentTable));
  EXPECT_FALSE(elsewhereCanRead(kFixedTotalTable));
  engine->ReleaseIdleHolds();  // not idle long enough yet
  EXPECT_FALSE(elsewhereCanRead(kDepartmentTable));

  Line renamed = read(kDepartmentTable, 1);
  putText(renamed.data(), department::kName.offset, department::kName.size, "新鮮青果");
  ASSERT_EQ(FileDBRecWrite(engine->Table(kDepartmentTable), 1, renamed.data()), 0);
  expected.at({kDepartmentTable, 1}) = renamed;
  EXPECT_TRUE(elsewhereCanRead(kDepartmentTable));

  ASSERT_EQ(engine->PrfUpdate(kModeRegister1, block, nullptr, nullptr, 0), 0) << boxes->lastText();
  expected = moved(expected, 1, false);
  expectSame(expected, state());
  EXPECT_EQ(getText(read(kDepartmentTable, 1).data(), department::kName.offset, department::kName.size), "新鮮青果");

  platform::sleepMilliseconds(CRegCom::kHoldIdleMilliseconds + 50);
  engine->ReleaseIdleHolds();
  EXPECT_TRUE(elsewhereCanRead(kDepartmentTable));
  EXPECT_TRUE(elsewhereCanRead(kFixedTotalTable));
  expectSame(expected, state());
}

TEST_F(CommitTest, ReceiptNumberWrapsAfter9999) {
  FileDBHandle file = engine->PrfOpen(3, nullptr);
  ASSERT_NE(file, 0u);
  Line last(96, 0);
  putU16(last.data(), line::kKeyCode, 0xF000 | kModeRegister1);
  putU32(last.data(), line::kPrice, (1u << 16) | 9999u);
  ASSERT_EQ(FileDBRecWrite(file, 0, last.data()), 0);
  FileDBDelete(file);

  // A block that already ends with a closing record: that record is neither
  // posted nor written, a new one is built.
  std::vector<Line> sale = demoSale();
  Line stale(96, 0);
  putU16(stale.data(), line::kKeyCode, 0xF000 | kModeRegister1);
  putI32(stale.data(), line::kUnit, 999);
  sale.push_back(stale);
  BlockOwner block(sale);
  const Records before = state();
  ASSERT_EQ(engine->PrfUpdate(kModeRegister1, block, nullptr, nullptr, 0), 0);
  expectSame(moved(before, 1, false), state());
  const std::vector<Line> records = dailyRecords();
  ASSERT_EQ(records.size(), 1 + sale.size());
  EXPECT_EQ(getU16(records.back().data(), line::kPrice), 0);
  EXPECT_EQ(getI32(records.back().data(), line::kUnit), 3);
}

// The daily file's writes fail (it is the full device): nothing of the
// sale remains anywhere, and the sale's temporary file stays for a retry.
TEST_F(CommitTest, FailedAppendLeavesEveryFileAsBefore) {
  std::error_code ec;
  fs::create_symlink("/dev/full", daily, ec);
  if (ec) GTEST_SKIP() << "no symbolic link to the full device: " << ec.message();
  BlockOwner block(demoSale());
  uint16_t mode = kSaleRegister1;
  FileDBHandle temporary = engine->PrfOpen(4, &mode);
  ASSERT_NE(temporary, 0u);
  const auto filesBefore = varnex_test::snapshot(folder);
  const Records before = state();
  EXPECT_EQ(engine->PrfUpdate(kModeRegister1, block, nullptr, &temporary, 0), -1);
  EXPECT_NE(temporary, 0u);
  expectSame(before, state());
  // The commit journal is the commit's own file: it may be made now, and it
  // keeps the sale taken back, which no start replays.
  const std::string journal = "LocDat/Commit.jnl";
  auto filesAfter = varnex_test::snapshot(folder);
  filesAfter.erase(journal);
  for (const auto& [name, bytes] : filesBefore) {
    if (name == journal) continue;
    ASSERT_TRUE(filesAfter.count(name)) << name;
    EXPECT_TRUE(filesAfter.at(name) == bytes) << name << " changed";
  }
  EXPECT_EQ(filesAfter.size(), filesBefore.size() - filesBefore.count(journal));
  FileDBDelete(temporary);
  engine = std::make_unique<CRegCom>();
  engine->SetDataFolder(folder.string());
  ASSERT_TRUE(open()) << boxes->lastText();
  expectSame(before, state());
}

TEST_F(CommitTest, FailedLineTakesBackTheLinesBeforeIt) {
  std::vector<Line> sale = demoSale();
  // Line 3 of 5 names a department the shop does not have.
  sale.insert(sale.begin() + 2, itemLine(99, 1, 100));
  sale.resize(5);
  BlockOwner block(sale);
  const auto filesBefore = varnex_test::snapshot(folder);
  const Records before = state();
  EXPECT_EQ(engine->PrfUpdate(kModeRegister1, block, nullptr, nullptr, 0), -1);
  expectSame(before, state());
  EXPECT_TRUE(dailyRecords().empty());
  // A group that is missing fails a line after its department was posted.
  std::vector<uint8_t> dept = read(kDepartmentTable, 6);
  putU16(dept.data(), department::kGroupLink.offset, 9);
  write(kDepartmentTable, 6, dept);
  const Records withBadGroup = state();
  BlockOwner second({itemLine(1, 1, 100), itemLine(6, 1, 300)});
  EXPECT_EQ(engine->PrfUpdate(kModeRegister1, second, nullptr, nullptr, 0), -1);
  expectSame(withBadGroup, state());
}

TEST_F(CommitTest, ReadingAndSettlement) {
  BlockOwner sale(demoSale());
  ASSERT_EQ(engine->PrfUpdate(kModeRegister1, sale, nullptr, nullptr, 0), 0);
  Records before = state();
  BlockOwner reading({keyLine(kKeyReportHeading, 1, 0)});
  ASSERT_EQ(engine->PrfUpdate(kModeXReading, reading, nullptr, nullptr, 0), 0);
  expectSame(before, state());

  // The settlement reports department 1 (2 items, 256) and subtracts it.
  Line reported = keyLine(kKeyReportItem, 1, 256, 2);
  BlockOwner settlement({keyLine(kKeyReportHeading, 1, 0), reported});
  ASSERT_EQ(engine->PrfUpdate(kModeSettlement, settlement, nullptr, nullptr, 0), 0);
  EXPECT_EQ(getI32(read(kDepartmentTable, 1).data(), department::kCount.offset), 0);
  EXPECT_EQ(getI32(read(kDepartmentTable, 1).data(), department::kAmount.offset), 0);
  EXPECT_EQ(getI32(read(kDepartmentTable, 0).data(), department::kAmount.offset), 500);
  for (int32_t slot = 0; slot < fixedtotal::kSlots; ++slot)
    EXPECT_EQ(read(kFixedTotalTable, slot), before.at({kFixedTotalTable, slot})) << "slot " << slot;
}

TEST_F(CommitTest, MonthlyTotalizerYearAndMonth) {
  const platform::LocalTime now = platform::localTime();
  std::vector<uint8_t> monthly = read(kFixedTotalTable, 4);
  putU16(monthly.data(), fixedtotal::kDate.offset, dosDate(now.year - 1, now.month, 1));
  putI32(monthly.data(), fixedtotal::kCount.offset, 5);
  putI32(monthly.data(), fixedtotal::kAmount.offset, 99999);
  write(kFixedTotalTable, 4, monthly);
  std::vector<uint8_t> first = read(kFixedTotalTable, 0);
  putI32(first.data(), fixedtotal::kAmount.offset, 1000);
  write(kFixedTotalTable, 0, first);
  BlockOwner sale(demoSale());
  ASSERT_EQ(engine->PrfUpdate(kModeRegister1, sale, nullptr, nullptr, 0), 0);
  monthly = read(kFixedTotalTable, 4);
  EXPECT_EQ(getI32(monthly.data(), fixedtotal::kCount.offset), 0);
  EXPECT_EQ(getI32(monthly.data(), fixedtotal::kAmount.offset), 1826);
  // Within the month it adds up.
  ASSERT_EQ(engine->PrfUpdate(kModeRegister1, sale, nullptr, nullptr, 0), 0);
  EXPECT_EQ(getI32(read(kFixedTotalTable, 4).data(), fixedtotal::kAmount.offset), 1826 + 826);
}

TEST_F(CommitTest, EarnedPointsComeBackExactly) {
  std::vector<uint8_t> customer = read(kCustomerTable, 0);
  putI32(customer.data(), customer::kPointsGranted.offset, 7);  // waiting from earlier sales
  write(kCustomerTable, 0, customer);
  // The heading line carries the customer's balance as the screen read it.
  auto saleOf = [](int32_t balance) {
    Line heading = keyLine(kKeyCustomer, 0, balance, 0);
    putText(heading.data(), 0, 24, "山田商店");
    putText(heading.data(), line::kCode, line::kCodeLen, "C0001");
    std::vector<Line> sale = demoSale();
    sale.insert(sale.begin(), heading);
    sale.push_back(systemLine(53, 5));
    return sale;
  };
  for (int atOnce = 0; atOnce <= 1; ++atOnce) {
    engine->SetPointUpdateAtOnce(atOnce);
    const std::vector<uint8_t> start = read(kCustomerTable, 0);
    BlockOwner sale(saleOf(120));
    ASSERT_EQ(engine->PrfUpdate(kModeRegister1, sale, nullptr, nullptr, 0), 0);
    const std::vector<uint8_t> after = read(kCustomerTable, 0);
    const int32_t balance = getI32(after.data(), customer::kPointBalance.offset);
    EXPECT_EQ(balance, atOnce ? 125 : 120);
    EXPECT_EQ(getI32(after.data(), customer::kPointsGranted.offset), atOnce ? 7 : 12);
    BlockOwner refund(saleOf(balance));
    ASSERT_EQ(engine->PrfUpdate(kModeRefund, refund, nullptr, nullptr, 0), 0);
    EXPECT_EQ(read(kCustomerTable, 0), start) << "at once " << atOnce;
  }
  // A commit that fails after the customer was changed gives the record back whole.
  {
    engine->SetPointUpdateAtOnce(1);
    const std::vector<uint8_t> start = read(kCustomerTable, 0);
    Line renamed = keyLine(kKeyCustomer, 0, 300, 0);
    putText(renamed.data(), 0, 24, "山田商店 本店");
    putText(renamed.data(), line::kCode, line::kCodeLen, "C0001");
    BlockOwner failing({renamed, systemLine(53, 5), itemLine(99, 1, 100)});
    EXPECT_EQ(engine->PrfUpdate(kModeRegister1, failing, nullptr, nullptr, 0), -1);
    EXPECT_EQ(read(kCustomerTable, 0), start);
    EXPECT_EQ(FileDBRecGetSize(engine->Table(kCustomerTable)), 2);
  }
  // Posting a points line each way leaves the customer as it was.
  uint8_t buffer[256] = {};
  std::memcpy(buffer, "C0001", 5);
  int32_t totals[saletotal::kWords] = {};
  const std::vector<uint8_t> start = read(kCustomerTable, 0);
  const Line points = systemLine(53, 40);
  ASSERT_EQ(engine->CommitLine(points.data(), totals, 0, nullptr, buffer), 0);
  ASSERT_EQ(engine->CommitLine(points.data(), totals, 1, nullptr, buffer), 0);
  EXPECT_EQ(read(kCustomerTable, 0), start);
}

}  // namespace
