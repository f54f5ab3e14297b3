// The scan for sales cut short, on a data folder kept on the remote file
// server: the service lists no folders, so the scan looks the register's own
// temporary file names up, and reads their times from the server's
// descriptors.
#include <cstdio>
#include <fstream>

#include "app/register/engine/journal.h"
#include "app/register/remote_project.h"
#include "platform/base/message_box.h"

using namespace varnex::reg;
using varnex_test::BlockOwner;
using varnex_test::Line;
namespace fs = std::filesystem;

namespace {

std::vector<Line> aSale(int32_t apples) {
  using namespace varnex_test;
  return {itemLine(1, apples, 128, demoJan(1), 1, line::kPointTarget, "りんご"), totalLine(),
          keyLine(kKeyTrans1, 1, 1000), systemLine(2, 1000 - apples * 128 - 10)};
}

class RemoteScanTest : public varnex_test::RemoteProject {};

// Two sales cut short, with a free number between them, and a probe file
// left by a scan cut short: the probe goes unasked, the first sale is
// declined and deleted, the second continued and then committed.
TEST_F(RemoteScanTest, SalesCutShortAreOfferedInTurn) {
  ASSERT_TRUE(openRemote()) << boxes->lastText();
  signAsManager(*remote);
  for (int n = 0; n < 3; ++n) {
    FileDBHandle temporary = startSale(*remote, aSale(n + 1));
    ASSERT_NE(temporary, 0u);
    FileDBDelete(temporary);  // the register dies: the file stays
  }
  ASSERT_TRUE(fs::remove(served("R1N00002.log")));  // that sale was committed
  std::ofstream(served("R$N00001.log")).put('x');
  ASSERT_EQ(servedTemporaryFiles(), 3);
  // The register starts again a little later.
  for (const char* name : {"R1N00001.log", "R1N00003.log", "R$N00001.log"})
    fs::last_write_time(served(name), fs::last_write_time(served(name)) - std::chrono::seconds(5));

  boxes->answer(platform::kIdNo);
  boxes->answer(platform::kIdYes);
  uint16_t mode = 0xFFFF;
  FileDBHandle resumed = remote->PrfOpen(4, &mode);
  ASSERT_NE(resumed, 0u) << boxes->lastText();
  EXPECT_EQ(mode, kSaleRegister1);
  ASSERT_EQ(boxes->count(), 2u);
  for (const auto& shown : boxes->shown()) EXPECT_NE(shown.text.find("登録１"), std::string::npos) << shown.text;
  EXPECT_FALSE(fs::exists(served("R1N00001.log")));
  EXPECT_FALSE(fs::exists(served("R$N00001.log")));
  ASSERT_TRUE(fs::exists(served("R1N00003.log")));

  // The continued sale is the third one, whole, and commits.
  const std::vector<Line> third = aSale(3);
  ASSERT_EQ(FileDBRecGetSize(resumed), static_cast<int32_t>(third.size()));
  Line first(line::kSize);
  ASSERT_EQ(FileDBRecRead(resumed, 0, first.data()), 0);
  EXPECT_EQ(first, third[0]);
  BlockOwner block(third);
  ASSERT_EQ(remote->PrfUpdate(kModeRegister1, block, nullptr, &resumed, 0), 0) << boxes->lastText();
  EXPECT_EQ(resumed, 0u);
  EXPECT_EQ(servedTemporaryFiles(), 0);
  EXPECT_EQ(varnex_test::receiptsOf(*remote), std::vector<uint16_t>{1});
}

// A sale whose temporary file outlived its commit is removed without a
// question, whether the server's clock runs with the register's, an hour
// ahead of it or an hour behind (the closing record is dated by the
// register, the file by the server).
TEST_F(RemoteScanTest, CommittedSaleLeftOnTheServerIsRemovedUnasked) {
  ASSERT_TRUE(openRemote()) << boxes->lastText();
  signAsManager(*remote);
  int32_t apples = 1;
  for (int64_t ahead : {0, 3600, -3600}) {
    SCOPED_TRACE("server clock ahead by " + std::to_string(ahead) + " s");
    peer->setClockAhead(ahead);
    const std::vector<Line> sale = aSale(apples++);
    FileDBHandle temporary = startSale(*remote, sale);
    ASSERT_NE(temporary, 0u);
    const fs::path file = served("R1N00001.log");
    const fs::path kept = server / "kept.log";
    ASSERT_TRUE(fs::copy_file(file, kept, fs::copy_options::overwrite_existing));
    const auto written = fs::last_write_time(file);
    BlockOwner block(sale);
    ASSERT_EQ(remote->PrfUpdate(kModeRegister1, block, nullptr, &temporary, 0), 0) << boxes->lastText();
    ASSERT_FALSE(fs::exists(file));
    // The crash took the removal with it: the file is back as it was.
    fs::rename(kept, file);
    fs::last_write_time(file, written);

    boxes->clear();
    boxes->answer(platform::kIdYes);
    uint16_t mode = 0xFFFF;
    EXPECT_EQ(remote->PrfOpen(4, &mode), 0u);
    EXPECT_EQ(mode, kSaleNone);
    EXPECT_EQ(boxes->count(), 0u) << boxes->lastText();
    EXPECT_FALSE(fs::exists(file));
  }
}

}  // namespace
