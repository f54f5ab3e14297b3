// Journal files: temporary transaction files, the scan for interrupted sales
// and the daily receipt files.
#include <algorithm>

#include "app/register/engine/journal.h"
#include "app/register/engine/records.h"
#include "app/register/demo_project.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/process.h"
#include "support/wait_until.h"

using namespace varnex::reg;
using varnex_test::DemoProject;
namespace fs = std::filesystem;

namespace {

const char kQuestion1[] =
    "モード '登録１' で、中断された取引が見つかりました。取引を継続しますか?\n"
    "はい　: 中断された取引を継続します\nいいえ: 中断された取引を削除します";

class JournalTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    temp = folder / "LocDat";
  }
  // A file as a crashed sale leaves it: some line records, written a while ago.
  fs::path leftOver(const std::string& name, int lines = 2, int agoSeconds = 60) {
    fs::path p = temp / name;
    std::FILE* f = std::fopen(p.c_str(), "wb");
    for (int i = 0; i < lines * 96; ++i) std::fputc(i % 96 == 0 ? 'L' : 0, f);
    std::fclose(f);
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(agoSeconds));
    return p;
  }
  FileDBHandle PrfOpen(uint16_t& mode) { return engine->PrfOpen(4, &mode); }
  std::vector<std::string> tempFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(temp)) {
      const std::string n = e.path().filename().string();
      if (n.size() == 12 && n[0] == 'R' && n.substr(8) == ".log") names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path temp;
};

TEST(JournalNames, TemporaryAndReceiptNames) {
  EXPECT_EQ(TempFileName(TempFileLetter(kSaleRegister1), 3), "R1N00003.log");
  EXPECT_EQ(TempFileName(TempFileLetter(kSaleRegister2), 99999), "R2N99999.log");
  EXPECT_EQ(TempFileName(TempFileLetter(kSaleRefund), 100000), "RRN00000.log");
  EXPECT_EQ(TempFileLetter(7), '$');
  EXPECT_EQ(ReceiptFileName(dosDate(2026, 12, 25)), "DT122526.prf");
  EXPECT_EQ(ReceiptFileName(dosDate(2000, 1, 5)), "DT010500.prf");
}

TEST_F(JournalTest, NextFreeTemporaryFile) {
  leftOver("R1N00001.log");
  leftOver("R1N00002.log");
  leftOver("R2N00003.log");
  uint16_t mode = kSaleRegister1;
  FileDBHandle t = PrfOpen(mode);
  ASSERT_NE(t, 0u);
  EXPECT_TRUE(fs::exists(temp / "R1N00003.log"));
  EXPECT_EQ(mode, kSaleRegister1);
  uint8_t line[96] = {'A'};
  EXPECT_EQ(FileDBRecWrite(t, 0, line), 0);
  EXPECT_EQ(FileDBRecGetSize(t), 1);
  // Held for writing: the file's table belongs to this sale alone.
  EXPECT_FALSE(platform::File::open((temp / "R1N00003.log").string(), platform::kFileRead, platform::kShareRead,
                                    platform::kOpenExisting)
                   .isOpen());
  FileDBDelete(t);
  // The number wraps after the largest five-digit one.
  leftOver("R1N99999.log");
  EXPECT_EQ(NextFreeTempFile(temp.string() + "/", '1', 99999), "R1N00000.log");
  leftOver("R1N00000.log");
  EXPECT_EQ(NextFreeTempFile(temp.string() + "/", '1', 99999), "R1N00004.log");
}

TEST_F(JournalTest, InterruptedSaleResumed) {
  leftOver("R1N00004.log", 3);
  boxes->answer(platform::kIdYes);
  uint16_t mode = kSaleNone;
  FileDBHandle t = PrfOpen(mode);
  ASSERT_NE(t, 0u);
  EXPECT_EQ(mode, kSaleRegister1);
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->lastText(), kQuestion1);
  EXPECT_EQ(boxes->shown().back().style, static_cast<uint32_t>(platform::kMbYesNo | platform::kMbIconQuestion));
  // The sale's lines are still there and the sale goes on in the same file.
  EXPECT_EQ(FileDBRecGetSize(t), 3);
  uint8_t line[96] = {'B'};
  EXPECT_EQ(FileDBRecWrite(t, 3, line), 0);
  FileDBDelete(t);
  EXPECT_EQ(fs::file_size(temp / "R1N00004.log"), 4u * 96);
  // The probe is gone.
  EXPECT_EQ(tempFiles(), std::vector<std::string>{"R1N00004.log"});
}

TEST_F(JournalTest, InterruptedSalesDeletedAndStaleFilesRemoved) {
  leftOver("R1N00004.log");
  leftOver("RRN00011.log");
  leftOver("RXN00007.log");  // no sale mode: removed without a question
  boxes->answer(platform::kIdNo);
  boxes->answer(platform::kIdNo);
  uint16_t mode = kSaleNone;
  EXPECT_EQ(PrfOpen(mode), 0u);
  EXPECT_EQ(mode, kSaleNone);
  ASSERT_EQ(boxes->count(), 2u);
  bool askedRefund = false;
  for (const auto& b : boxes->shown()) askedRefund |= b.text.find("モード '戻し' で") == 0;
  EXPECT_TRUE(askedRefund);
  EXPECT_TRUE(tempFiles().empty());
}

TEST_F(JournalTest, YoungerFilesAreNotTouched) {
  // Written after the scan's probe: a sale another instance has just begun.
  leftOver("R2N00001.log", 1, -60);
  uint16_t mode = kSaleNone;
  EXPECT_EQ(PrfOpen(mode), 0u);
  EXPECT_EQ(boxes->count(), 0u);
  EXPECT_EQ(tempFiles(), std::vector<std::string>{"R2N00001.log"});
}

TEST_F(JournalTest, HeldByAnotherProcess) {
  const fs::path held = leftOver("R2N00005.log");
  const fs::path stale = leftOver("RZN00006.log");
  const fs::path ready = folder / "ready", release = folder / "release";
  auto hold = [&](const fs::path& file) {
    fs::remove(ready);
    fs::remove(release);
    int32_t pid = 0;
    // The holder (tests/peers/file_holder_program.cpp) holds the file the way a
    // running register holds its sale, until the release mark appears.
    const std::string command = std::string("\"") + VARNEX_FILE_HOLDER + "\" \"" + file.string() + "\" \"" +
                                ready.string() + "\" \"" + release.string() + "\"";
    if (!platform::startProcess(command, platform::ProcessPriority::Normal, "", pid)) {
      ADD_FAILURE() << "cannot start " << command << ": error " << platform::lastError();
      return false;
    }
    return testing_support::waitUntil([&] { return fs::exists(ready); });
  };
  ASSERT_TRUE(hold(held));
  uint16_t mode = kSaleNone;
  EXPECT_EQ(PrfOpen(mode), 0u);
  EXPECT_EQ(mode, kSaleNone);
  EXPECT_EQ(boxes->count(), 0u);
  EXPECT_TRUE(fs::exists(held));
  EXPECT_FALSE(fs::exists(stale));
  std::FILE* mark = std::fopen(release.c_str(), "wb");
  std::fclose(mark);
  // Once its owner has gone, the sale is offered at the next scan.
  EXPECT_TRUE(testing_support::waitUntil([&] {
    return platform::File::open(held.string(), platform::kFileRead, platform::kShareNone, platform::kOpenExisting)
        .isOpen();
  }));
  boxes->answer(platform::kIdNo);
  EXPECT_EQ(PrfOpen(mode), 0u);
  EXPECT_EQ(boxes->count(), 1u);
  EXPECT_FALSE(fs::exists(held));
}

TEST_F(JournalTest, DailyReceiptFile) {
  // Today's file is made when missing and handed back unopened.
  FileDBHandle today = engine->PrfOpen(3, nullptr);
  ASSERT_NE(today, 0u);
  const platform::LocalTime now = platform::localTime();
  const std::string name = ReceiptFileName(dosDate(now.year, now.month, now.day));
  EXPECT_TRUE(fs::exists(temp / name));
  uint8_t line[96] = {'C'};
  EXPECT_EQ(FileDBRecWrite(today, 0, line), 0);
  FileDBDelete(today);

  // A past day must exist.
  uint16_t christmas = dosDate(2026, 12, 25);
  EXPECT_EQ(engine->PrfOpen(3, &christmas), 0u);
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->lastText(), "レシートファイルを開くことができません\nレシートの参照は取り消されました");
  EXPECT_EQ(boxes->shown().back().style, static_cast<uint32_t>(platform::kMbIconInformation));
  leftOver("DT122526.prf", 4);
  FileDBHandle past = engine->PrfOpen(3, &christmas);
  ASSERT_NE(past, 0u);
  EXPECT_EQ(FileDBRecGetSize(past), 4);
  FileDBDelete(past);
}

TEST_F(JournalTest, BadCalls) {
  EXPECT_EQ(engine->PrfOpen(4, nullptr), 0u);
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_NE(boxes->lastText().find("\nPOS System Function: PrfOpen"), std::string::npos);
  uint16_t date = dosDate(2026, 1, 1);
  EXPECT_EQ(engine->PrfOpen(9, &date), 0u);  // no such folder kind: no message
  EXPECT_EQ(boxes->count(), 1u);
}

}  // namespace
