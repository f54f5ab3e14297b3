// The demo shop with its data folder on the remote file server: the scripted
// server serves a copy of the demo project from a folder of real files, and
// the engine opens a local folder name mapped onto it. Also the counters a
// commit moves and the receipt numbers of the day, for the commit tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/register/demo_project.h"
#include "app/register/engine/records.h"
#include "app/register/sale_lines.h"
#include "peers/file_service_peer.h"
#include "zemta/fileaccess.h"
#include "zemta/sockifs.h"

namespace varnex_test {

// Every record of the tables a commit posts to, by table and number.
using Counters = std::map<std::pair<int, int32_t>, std::vector<uint8_t>>;

inline Counters countersOf(varnex::reg::CRegCom& engine) {
  using namespace varnex::reg;
  static const TableIndex counted[] = {kSettingsTable, kCustomerTable, kDepartmentTable, kPluTable,
                                       kGroupTable,    kClerkTable,    kTrans1Table,     kTrans2Table,
                                       kTrans3Table,   kFixedTotalTable};
  Counters counters;
  for (TableIndex t : counted) {
    const int32_t count = FileDBRecGetSize(engine.Table(t));
    for (int32_t n = 0; n < count; ++n) {
      std::vector<uint8_t> record(kTables[t].recordLen, 0);
      EXPECT_EQ(FileDBRecRead(engine.Table(t), n, record.data()), 0) << kTables[t].name << " record " << n;
      counters[{t, n}] = std::move(record);
    }
  }
  return counters;
}

// Receipt numbers of the closing records in today's daily file.
inline std::vector<uint16_t> receiptsOf(varnex::reg::CRegCom& engine) {
  using namespace varnex::reg;
  std::vector<uint16_t> numbers;
  FileDBHandle file = engine.PrfOpen(3, nullptr);
  const int32_t count = FileDBRecGetSize(file);
  EXPECT_GE(count, 0) << "the daily file is not whole records";
  for (int32_t n = 0; n < count; ++n) {
    Line l(line::kSize);
    EXPECT_EQ(FileDBRecRead(file, n, l.data()), 0);
    if (keyType(getU16(l.data(), line::kKeyCode)) == kKeyClosing) numbers.push_back(getU16(l.data(), line::kPrice));
  }
  FileDBDelete(file);
  return numbers;
}

class RemoteProject : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    const std::string name = folder.filename().string();
    server = folder.parent_path() / (name + ".server");
    mapped = folder.parent_path() / (name + ".mapped");
    fs::remove_all(server);
    fs::create_directories(server);
    fs::copy(demoTemplate(), server / "shop", fs::copy_options::recursive);
    fs::remove(server / "shop" / "complete");
    peer = std::make_unique<testing_support::FileServicePeer>();
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

  // A connection to the server, bound, with the mapped folder in remote mode.
  bool connect() {
    if (SockConnect("127.0.0.1", peer->port()) != 0 || SockBindWVSrv("Varnex", "1.0") != 0) return false;
    ZemtaSetSockIfs(1);
    // Mappings last for the process: each test maps a folder of its own, once.
    if (!mappedOnce_) {
      if (ZemtaAddSockIfsDir((mapped.string() + "/").c_str(), "shop/", 1) != 0) return false;
      mappedOnce_ = true;
    }
    return true;
  }
  // The engine on the mapped data folder, through the service.
  bool openRemote() {
    if (!connect()) return false;
    remote = std::make_unique<varnex::reg::CRegCom>();
    remote->SetDataFolder(mapped.string());
    return remote->Open() != 0;
  }
  // The engine closed and the connection ended.
  void closeRemote() {
    remote.reset();
    SockDisconnect();
  }

  // The server's copy of the data folder's file, or its folder of
  // temporary and daily files.
  fs::path served(const std::string& name = "") const { return server / "shop" / "LocDat" / name; }
  int servedTemporaryFiles() const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(served())) n += e.path().extension() == ".log";
    return n;
  }

  // The manager of the demo shop signs the sales.
  static void signAsManager(varnex::reg::CRegCom& engine) {
    std::vector<uint8_t> manager(varnex::reg::kTables[varnex::reg::kClerkTable].recordLen, 0);
    ASSERT_EQ(FileDBRecRead(engine.Table(varnex::reg::kClerkTable), 0, manager.data()), 0);
    engine.SetManager(manager.data());
  }
  // A registration-1 sale's lines written into its temporary file, as the
  // sales screen writes them; the file's handle, 0 on failure.
  static FileDBHandle startSale(varnex::reg::CRegCom& engine, const std::vector<Line>& sale) {
    uint16_t mode = varnex::reg::kSaleRegister1;
    FileDBHandle temporary = engine.PrfOpen(4, &mode);
    for (size_t i = 0; temporary && i < sale.size(); ++i)
      if (FileDBRecWrite(temporary, static_cast<int32_t>(i), sale[i].data()) != 0) {
        FileDBDelete(temporary);
        return 0;
      }
    return temporary;
  }
  // The sale started and committed; the commit's result (-10: not started).
  static int32_t sell(varnex::reg::CRegCom& engine, const std::vector<Line>& sale) {
    FileDBHandle temporary = startSale(engine, sale);
    if (!temporary) return -10;
    BlockOwner block(sale);
    const int32_t result = engine.PrfUpdate(varnex::reg::kModeRegister1, block, nullptr, &temporary, 0);
    if (temporary) FileDBDelete(temporary);
    return result;
  }

  fs::path server, mapped;
  std::unique_ptr<testing_support::FileServicePeer> peer;
  std::unique_ptr<varnex::reg::CRegCom> remote;

 private:
  bool mappedOnce_ = false;
};

}  // namespace varnex_test
