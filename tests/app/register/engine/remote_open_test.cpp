// A shop whose data folder lies on the remote file server: a project that
// does not open there is told apart, missing or broken, by asking the server
// whether its catalog is there.
#include "app/register/demo_project.h"
#include "peers/file_service_peer.h"
#include "zemta/fileaccess.h"
#include "zemta/sockifs.h"

using testing_support::FileServicePeer;
using varnex_test::DemoProject;
namespace fs = std::filesystem;

namespace {

const char kMissing[] = "プロジェクトデータベースが見つかりません\nアプリケーションの起動に失敗しました";

// The demo shop's folder is the server's; the engine sees it under a mapped
// folder that exists nowhere on the local disk.
class RemoteOpenTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    mapped = folder.parent_path() / (folder.filename().string() + ".mapped");
    peer.serveFolder(folder.parent_path().string());
    ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
    ASSERT_EQ(SockBindWVSrv("Varnex", "1.0"), 0);
    ZemtaSetSockIfs(1);
    ASSERT_EQ(ZemtaAddSockIfsDir((mapped.string() + "/").c_str(), (folder.filename().string() + "/").c_str(), 1), 0);
  }
  void TearDown() override {
    engine.reset();
    ZemtaSetSockIfs(0);
    SockDisconnect();
    DemoProject::TearDown();
  }

  fs::path mapped;
  FileServicePeer peer;
};

TEST_F(RemoteOpenTest, AProjectThatDoesNotOpenOnTheServerIsToldMissingOrBroken) {
  struct Damage {
    const char* what;
    std::function<void()> apply;
    std::string text;
  };
  const Damage damages[] = {
      {"catalog cut short", [&] { fs::resize_file(folder / "Res/Varnex.dbf", 1000); },
       "プロジェクトデータベースが壊れています\n" + (mapped / "Res/Varnex.dbf").string() +
           "\nアプリケーションの起動に失敗しました"},
      {"no project", [&] { fs::remove_all(folder / "Res"); }, kMissing},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    d.apply();
    boxes->clear();
    engine = std::make_unique<varnex::reg::CRegCom>();
    engine->SetDataFolder(mapped.string());
    EXPECT_FALSE(open());
    ASSERT_GE(boxes->count(), 1u);
    EXPECT_EQ(boxes->lastText(), d.text);
  }
  // The catalog was asked after on the server; nothing was made locally.
  bool asked = false;
  for (const std::string& request : peer.requests())
    asked = asked || (request[8] == 'I' && request.find("Varnex.dbf") != std::string::npos);
  EXPECT_TRUE(asked);
  EXPECT_FALSE(fs::exists(mapped));
}

}  // namespace
