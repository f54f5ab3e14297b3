// A shop whose data folder lies on the remote file server: the demo project
// opened through the service, a sale committed, and the server's files equal
// to those of the same sale committed on the local disk.
#include <cstring>
#include <map>
#include <memory>

#include "app/register/engine/journal.h"
#include "app/register/remote_project.h"
#include "zemta/date.h"

using namespace varnex::reg;
using varnex_test::Line;
namespace fs = std::filesystem;

namespace {

std::vector<Line> demoSale() {
  using namespace varnex_test;
  return {itemLine(1, 2, 128, demoJan(1), 1, line::kPointTarget, "りんご"),
          itemLine(5, 1, 500, "", 0, 0, "酒類"),
          totalLine(),
          systemLine(4, 70),
          systemLine(0, 826),
          keyLine(kKeyTrans1, 1, 1000),
          systemLine(2, 174)};
}

// The two commits cannot share a clock: the time of day in the closing
// records (low half of the date-time word) is left out of the comparison.
std::map<std::string, std::string> withoutSaleTimes(std::map<std::string, std::string> files) {
  for (auto& [name, bytes] : files) {
    // The commit journal keeps the entries of checkpointed sales behind its
    // header, sale times and all.
    if (fs::path(name).filename() == "Commit.jnl") bytes.clear();
    if (fs::path(name).extension() != ".prf") continue;
    for (size_t at = 0; at + line::kSize <= bytes.size(); at += line::kSize) {
      const auto* record = reinterpret_cast<const uint8_t*>(bytes.data() + at);
      if (keyType(getU16(record, line::kKeyCode)) == kKeyClosing) {
        bytes[at + line::kUnitPrice] = 0;
        bytes[at + line::kUnitPrice + 1] = 0;
      }
    }
  }
  return files;
}

// The names of the files that one side lacks or holds other bytes in.
std::vector<std::string> differing(const std::map<std::string, std::string>& a,
                                   const std::map<std::string, std::string>& b) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : a)
    if (!b.count(name) || b.at(name) != bytes) names.push_back(name);
  for (const auto& [name, bytes] : b)
    if (!a.count(name)) names.push_back(name);
  return names;
}

class RemoteCommitTest : public varnex_test::RemoteProject {
 protected:
  // The demo sale as the sales screen commits it: its temporary file first.
  void commitSale(CRegCom& engine) {
    signAsManager(engine);
    ASSERT_EQ(sell(engine, demoSale()), 0) << boxes->lastText();
  }
};

TEST_F(RemoteCommitTest, SaleThroughTheServiceEqualsLocalSale) {
  ASSERT_TRUE(open()) << boxes->lastText();
  commitSale(*engine);
  ASSERT_FALSE(HasFailure()) << boxes->lastText();
  engine.reset();  // closing checkpoints: the journal empties

  ASSERT_TRUE(openRemote()) << boxes->lastText();
  commitSale(*remote);
  ASSERT_FALSE(HasFailure()) << boxes->lastText();
  EXPECT_EQ(remote->NextReceiptNumber(), 2);
  // The commit took its temporary file away: the interrupted-sale scan
  // finds nothing on the server, and says nothing.
  uint16_t scan = 9;
  EXPECT_EQ(remote->PrfOpen(4, &scan), 0u);
  EXPECT_EQ(scan, kSaleNone);
  remote.reset();
  EXPECT_EQ(boxes->count(), 0u) << boxes->lastText();
  // The sale went through the journal kept on the server.
  size_t journalOpens = 0;
  for (const std::string& request : peer->requests())
    if (request[8] == 'A' && request.find("Commit.jnl") != std::string::npos) ++journalOpens;
  EXPECT_GE(journalOpens, 1u);

  const auto local = varnex_test::snapshot(folder);
  const auto served = varnex_test::snapshot(server / "shop");
  uint16_t today = 0;
  GetDate(&today, nullptr);
  const std::string daily = "LocDat/" + ReceiptFileName(today);
  ASSERT_EQ(served.count(daily), 1u);
  EXPECT_EQ(served.at(daily).size(), 8 * line::kSize);  // seven lines and the closing record
  EXPECT_EQ(served.size(), local.size());
  EXPECT_EQ(differing(withoutSaleTimes(served), withoutSaleTimes(local)), std::vector<std::string>());
  // Nothing of the data folder was made on the local disk.
  EXPECT_FALSE(fs::exists(mapped));
}

}  // namespace
