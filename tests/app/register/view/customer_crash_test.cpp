// A customer put into a stored sale, killed at each of its writes: a forked
// register names the customer of the day's second sale and dies (SIGKILL)
// before its k-th write, or halfway through it. The day's receipt file must
// then be the old file byte for byte, or the old records with the customer
// line in its place: never anything in between.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/register/demo_project.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/file.h"
#include "platform/base/path.h"
#include "support/pdf_tools.h"

namespace {

using namespace varnex::reg;
namespace fs = std::filesystem;
using Line = std::vector<uint8_t>;

int32_t g_writes = 0;
int32_t g_killAt = -1;
bool g_torn = false;

int32_t interpose(const std::string&, uint32_t count) {
  const int32_t n = g_writes++;
  if (n != g_killAt) return -1;
  return g_torn ? static_cast<int32_t>(count / 2) : 0;
}

// The screen of a register without a window: the clerk names customer 1001
// and cancels the formal receipt itself.
struct NamingScreen : SaleScreen {
  int32_t FrameViewMode() const override { return 7; }
  bool ChooseCustomer(CustomerChoice* choice, bool) override {
    choice->code = "1001";
    choice->name = "山田商店";
    choice->pointBalance = 500;
    choice->pointRate = 100;
    return true;
  }
};

class CustomerCrashTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    // What a killed process wrote stays written: the files live in memory.
    if (fs::is_directory("/dev/shm")) {
      const fs::path inMemory = fs::path("/dev/shm") / ("varnex-customer-crash-" + std::to_string(getpid()));
      fs::remove_all(inMemory);
      fs::copy(folder, inMemory, fs::copy_options::recursive);
      fs::remove_all(folder);
      folder = inMemory;
      engine = std::make_unique<CRegCom>();
      engine->SetDataFolder(folder.string());
    }
    ASSERT_TRUE(open());
    engine->SetManager(read(kClerkTable, 0).data());  // confirm level 2: no question
    app.m_pRegCom = engine.get();
    app.SetPrintEngine(engine.get());
    app.m_bReceiptOn = 0;
  }
  void TearDown() override {
    sale.reset();
    DemoProject::TearDown();
  }
  fs::path daily() {
    FileDBHandle file = engine->PrfOpen(3, nullptr);
    char path[300] = {};
    FileDBGetPathName(file, path);
    FileDBDelete(file);
    return platform::mapPath(path);
  }
  std::vector<Line> records(const std::string& bytes, size_t header) {
    std::vector<Line> out;
    for (size_t at = header; at + line::kSize <= bytes.size(); at += line::kSize)
      out.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + line::kSize));
    return out;
  }
  void ring(const char* price) {
    for (const char* c = price; *c; ++c) sale->EnterKey(kKeyEntry, static_cast<uint16_t>(*c));
    ASSERT_EQ(sale->EnterKey(kKeyDepartment, 1), 1) << sale->Message();
    ASSERT_EQ(sale->EnterKey(kKeyTrans1, kTenderCash), 1) << sale->Message();
    ASSERT_FALSE(sale->SaleOpen());
  }

  varnex::shell::CREGApp app;
  NamingScreen screen;
  std::unique_ptr<CRegSale> sale;
};

TEST_F(CustomerCrashTest, KilledAtEveryWriteLeavesTheOldFileOrTheNewOne) {
  sale = std::make_unique<CRegSale>(engine.get(), &app, &screen, 7);
  ring("700");
  ring("1000");
  const fs::path file = daily();
  const std::string old = testing_support::readFileBytes(file);
  // The header is what stays before the first record.
  FileDBHandle table = engine->PrfOpen(3, nullptr);
  const int32_t n = FileDBRecGetSize(table);
  FileDBDelete(table);
  ASSERT_GT(n, 0);
  const size_t header = old.size() - static_cast<size_t>(n) * line::kSize;
  const std::vector<Line> before = records(old, header);
  size_t secondStart = 0;
  while (keyType(getU16(before[secondStart].data(), line::kKeyCode)) != kKeyClosing) ++secondStart;
  ++secondStart;

  bool finished = false;
  int32_t kills = 0;
  for (int32_t k = 0; k < 400 && !finished; ++k) {
    for (bool torn : {false, true}) {
      boxes->clear();
      boxes->answer(platform::kIdYes);  // a customer for the receipt
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        g_writes = 0;
        g_killAt = k;
        g_torn = torn;
        platform::setWriteInterposer(interpose);
        sale->EnterKey(kKeyFunction, kFunctionFormalReceipt);
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      const bool killed = WIFSIGNALED(status);
      const std::string now = testing_support::readFileBytes(file);
      if (now != old) {
        // The new file, whole: the customer first in the second sale.
        const std::vector<Line> after = records(now, header);
        ASSERT_EQ(now.size(), old.size() + line::kSize) << "k " << k;
        for (size_t i = 0; i < secondStart; ++i) ASSERT_EQ(after[i], before[i]) << "k " << k;
        ASSERT_EQ(getU16(after[secondStart].data(), line::kKeyCode), makeKeyCode(kKeyCustomer, 0)) << "k " << k;
        EXPECT_EQ(getText(after[secondStart].data(), line::kCode, line::kCodeLen), "1001");
        for (size_t i = secondStart; i < before.size(); ++i) ASSERT_EQ(after[i + 1], before[i]) << "k " << k;
        // Back to the old file for the next kill.
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(old.data(), 1, old.size(), f);
        std::fclose(f);
      }
      if (killed) {
        ++kills;
      } else {
        ASSERT_NE(now, old) << "a run that was not killed names the customer";
        finished = true;
        break;
      }
    }
  }
  EXPECT_TRUE(finished);
  EXPECT_GT(kills, 4);
}

}  // namespace
