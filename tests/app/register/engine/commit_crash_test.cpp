// The commit killed at each of its writes: a forked register commits a sale
// and dies (SIGKILL) before its k-th write, or halfway through it; the next
// start must leave every counter as a crash-free run of the sales whose
// closing records are in the daily file left them, offer the temporary file
// only of a sale that is not committed, and commit the next sale with the
// next receipt number.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>

#include "app/register/demo_project.h"
#include "app/register/engine/journal.h"
#include "app/register/engine/records.h"
#include "app/register/sale_lines.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
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

// Five lines: two items (one a PLU item), the total, cash and change.
std::vector<Line> fiveLineSale(int32_t apples) {
  return {itemLine(1, apples, 128, demoJan(1), 1, line::kPointTarget, "りんご"),
          itemLine(5, 1, 500, "", 0, 0, "酒類"), varnex_test::totalLine(), keyLine(kKeyTrans1, 1, 2000),
          systemLine(2, 2000 - 500 - apples * 128 - 90)};
}

// The interposer's plan: count writes, or kill at write number killAt.
int32_t g_writes = 0;
int32_t g_killAt = -1;
int32_t g_keep = -1;  // bytes of the fatal write that still go (-1: none)

int32_t interpose(const std::string&, uint32_t count) {
  const int32_t n = g_writes++;
  if (n != g_killAt) return -1;
  return g_keep < 0 ? 0 : static_cast<int32_t>(count / 2);
}

class CommitCrashTest : public DemoProject {
 protected:
  // A kill loses nothing the process wrote (the system keeps it), so the
  // project lives in memory where there is such a file system: the test
  // checks what the commit wrote, not the disk, and its many starts and
  // syncs then cost little.
  void SetUp() override {
    DemoProject::SetUp();
    if (fs::is_directory("/dev/shm")) {
      const fs::path inMemory = fs::path("/dev/shm") / ("varnex-crash-" + std::to_string(getpid()));
      fs::remove_all(inMemory);
      fs::copy(folder, inMemory, fs::copy_options::recursive);
      fs::remove_all(folder);
      folder = inMemory;
    }
  }

  Records state() {
    Records r;
    for (TableIndex t : kCounted) {
      const int32_t count = FileDBRecGetSize(engine->Table(t));
      for (int32_t n = 0; n < count; ++n) r[{t, n}] = read(t, n);
    }
    return r;
  }

  void reopen() {
    engine = std::make_unique<CRegCom>();
    engine->SetDataFolder(folder.string());
    ASSERT_TRUE(open()) << boxes->lastText();
    engine->SetManager(read(kClerkTable, 0).data());
  }

  // Commits a sale as the sales screen does: lines into a temporary file,
  // then the commit. The commit's result.
  // With thenCheckpoint the checkpoint that follows the sale is watched too.
  int32_t sell(const std::vector<Line>& sale, bool thenCheckpoint = false) {
    BlockOwner block(sale);
    uint16_t mode = kSaleRegister1;
    FileDBHandle temporary = engine->PrfOpen(4, &mode);
    if (!temporary) return -10;
    for (size_t i = 0; i < sale.size(); ++i)
      if (FileDBRecWrite(temporary, static_cast<int32_t>(i), sale[i].data()) != 0) return -11;
    g_writes = 0;
    platform::setWriteInterposer(interpose);
    int32_t result = engine->PrfUpdate(kModeRegister1, block, nullptr, &temporary, 0);
    if (thenCheckpoint && result == 0 && engine->Checkpoint() != 0) result = -12;
    platform::setWriteInterposer(nullptr);
    if (temporary) FileDBDelete(temporary);
    return result;
  }

  // Receipt numbers of the closing records of today's daily file.
  std::vector<uint16_t> receipts() {
    std::vector<uint16_t> numbers;
    FileDBHandle file = engine->PrfOpen(3, nullptr);
    const int32_t count = FileDBRecGetSize(file);
    EXPECT_GE(count, 0) << "the daily file is not whole records";
    for (int32_t n = 0; n < count; ++n) {
      Line l(96);
      EXPECT_EQ(FileDBRecRead(file, n, l.data()), 0);
      if (keyType(getU16(l.data(), line::kKeyCode)) == kKeyClosing) numbers.push_back(getU16(l.data(), line::kPrice));
    }
    FileDBDelete(file);
    return numbers;
  }

  int temporaryFiles() {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder / "LocDat")) n += e.path().extension() == ".log";
    return n;
  }

  void restore(const fs::path& from) {
    fs::remove_all(folder);
    fs::copy(from, folder, fs::copy_options::recursive);
  }

  // Every crash point of the commit of a sale and the checkpoint after it,
  // after `before` sales of the day.
  void everyCrashPoint(int before) {
    engine.reset();
    reopen();
    for (int i = 0; i < before; ++i) ASSERT_EQ(sell(fiveLineSale(1 + i)), 0) << boxes->lastText();
    engine.reset();
    const fs::path start = folder.string() + ".start";
    fs::remove_all(start);
    fs::copy(folder, start, fs::copy_options::recursive);

    // The crash-free run: the counters before and after, and the writes.
    reopen();
    const Records unchanged = state();
    g_killAt = -1;
    ASSERT_EQ(sell(fiveLineSale(4), true), 0) << boxes->lastText();
    const int32_t writes = g_writes;
    const Records posted = state();
    engine.reset();
    ASSERT_GT(writes, 2);
    RecordProperty("writes", writes);

    for (int32_t k = 0; k < writes; ++k) {
#if defined(__SANITIZE_ADDRESS__)
      // The checking build runs several times slower: every other write there
      // (the normal build takes them all), still the last.
      if (k % 2 == 1 && k + 1 != writes) continue;
#endif
      for (int torn = 0; torn < 2; ++torn) {
        char trace[64];
        std::snprintf(trace, sizeof trace, "killed at write %d%s", k, torn ? ", half written" : "");
        SCOPED_TRACE(trace);
        restore(start);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
          reopen();
          g_killAt = k;
          g_keep = torn ? 1 : -1;
          sell(fiveLineSale(4), true);
          _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

        boxes->clear();
        reopen();
        const std::vector<uint16_t> numbers = receipts();
        const bool committed = static_cast<int>(numbers.size()) == before + 1;
        ASSERT_TRUE(committed || static_cast<int>(numbers.size()) == before);
        const Records now = state();
        for (const auto& [where, image] : committed ? posted : unchanged)
          ASSERT_EQ(image, now.at(where)) << kTables[where.first].name << " record " << where.second
                                          << (committed ? " (committed)" : " (not committed)");
        // The scan offers the sale's temporary file only when it is not committed.
        boxes->answer(platform::kIdNo);
        uint16_t mode = 0xFFFF;
        EXPECT_EQ(engine->PrfOpen(4, &mode), 0u);
        EXPECT_EQ(boxes->count(), committed ? 0u : 1u) << boxes->lastText();
        EXPECT_EQ(temporaryFiles(), 0);

        // The next sale goes in with the next number.
        boxes->clear();
        ASSERT_EQ(sell(fiveLineSale(2)), 0) << boxes->lastText();
        std::vector<uint16_t> expected;
        for (uint16_t n = 1; n <= numbers.size() + 1; ++n) expected.push_back(n);
        EXPECT_EQ(receipts(), expected);
        engine.reset();
      }
    }
    fs::remove_all(start);
  }
};

TEST_F(CommitCrashTest, FirstSaleOfTheDayKilledAtEveryWrite) { everyCrashPoint(0); }

TEST_F(CommitCrashTest, LaterSaleKilledAtEveryWrite) { everyCrashPoint(1); }

// A checkpoint leaves its sales' entries behind in the journal: a start must
// not take them for sales still to finish. A record set back by hand to what
// it held before such a sale stays as it was set.
TEST_F(CommitCrashTest, EntriesBeforeTheCheckpointAreNotReplayed) {
  reopen();
  const std::vector<uint8_t> before = read(kDepartmentTable, 1);
  ASSERT_EQ(sell(fiveLineSale(3)), 0) << boxes->lastText();
  ASSERT_NE(read(kDepartmentTable, 1), before);
  ASSERT_EQ(engine->Checkpoint(), 0);
  ASSERT_EQ(FileDBRecWrite(engine->Table(kDepartmentTable), 1, before.data()), 0);
  engine.reset();
  reopen();
  EXPECT_EQ(read(kDepartmentTable, 1), before);
  EXPECT_EQ(receipts(), std::vector<uint16_t>{1});
}

}  // namespace
