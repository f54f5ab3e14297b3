// A shop whose data folder lies on the remote file server: the demo project
// opened through the service, a sale committed, and the server's files equal
// to those of the same sale committed on the local disk.
#include <cstring>
#include <map>
#include <memory>

#include "app/register/demo_project.h"
#include "app/register/engine/journal.h"
#include "app/register/engine/records.h"
#include "app/register/sale_lines.h"
#include "peers/file_service_peer.h"
#include "zemta/date.h"
#include "zemta/fileaccess.h"
#include "zemta/sockifs.h"

using namespace varnex::reg;
using testing_support::FileServicePeer;
using varnex_test::BlockOwner;
using varnex_test::DemoProject;
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

class RemoteCommitTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    const std::string name = folder.filename().string();
    server = folder.parent_path() / (name + ".server");
    mapped = folder.parent_path() / (name + ".mapped");
    fs::remove_all(server);
    fs::create_directories(server);
    fs::copy(varnex_test::demoTemplate(), server / "shop", fs::copy_options::recursive);
    fs::remove(server / "shop" / "complete");
    peer = std::make_unique<FileServicePeer>();
    peer->serveFolder(server.string());
  }
  void TearDown() override {
    remote.reset();
    ZemtaSetSockIfs(0);
    SockDisconnect();
    peer.reset();
    fs::remove_all(server);
    DemoProject::TearDown();
  }

  // The engine on the mapped data folder, through the service.
  bool openRemote() {
    if (SockConnect("127.0.0.1", peer->port()) != 0 || SockBindWVSrv("Varnex", "1.0") != 0) return false;
    ZemtaSetSockIfs(1);
    // Mappings last for the process: each test maps a folder of its own.
    if (ZemtaAddSockIfsDir((mapped.string() + "/").c_str(), "shop/", 1) != 0) return false;
    remote = std::make_unique<CRegCom>();
    remote->SetDataFolder(mapped.string());
    return remote->Open() != 0;
  }

  // The demo sale as the sales screen commits it: its temporary file first.
  static void commitSale(CRegCom& engine) {
    std::vector<uint8_t> manager(kTables[kClerkTable].recordLen, 0);
    ASSERT_EQ(FileDBRecRead(engine.Table(kClerkTable), 0, manager.data()), 0);
    engine.SetManager(manager.data());
    const std::vector<Line> sale = demoSale();
    uint16_t mode = kSaleRegister1;
    FileDBHandle temporary = engine.PrfOpen(4, &mode);
    ASSERT_NE(temporary, 0u);
    for (size_t i = 0; i < sale.size(); ++i)
      ASSERT_EQ(FileDBRecWrite(temporary, static_cast<int32_t>(i), sale[i].data()), 0);
    BlockOwner block(sale);
    ASSERT_EQ(engine.PrfUpdate(kModeRegister1, block, nullptr, &temporary, 0), 0);
    EXPECT_EQ(temporary, 0u);
  }

  fs::path server, mapped;
  std::unique_ptr<FileServicePeer> peer;
  std::unique_ptr<CRegCom> remote;
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
  // The service lists no folders: the interrupted-sale scan finds nothing
  // there, and says nothing.
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
