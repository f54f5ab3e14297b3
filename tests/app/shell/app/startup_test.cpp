#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/shell/app/reg_app.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/ui/desktop.h"
#include "platform/ui/instance_link.h"
#include "quorex/serial.h"
#include "app/shell/shell_fixture.h"
#include "support/temp_folder.h"
#include "zemta/combine.h"
#include "zemta/system.h"
#include "zemta/tax.h"

namespace varnex_test {
namespace {

using StartUp = ShellTest;

TEST(StartUpSettings, DisplayDeviceReserveCodeAndMarks) {
  struct Device {
    const char* device;
    const char* cdPort;
    int32_t second, dmd, kanji, idle;
  };
  const Device devices[] = {
      {"", "", 0, 0, 0, 0},
      {"EPSON DM-D30", "", 0, 1, 1, 0},
      {"epson dm-d30", "", 0, 1, 1, 0},
      {"EPSON DM-D110", "", 0, 1, 0, 0},
      {"EPSON DM-D", "", 0, 1, 0, 0},
      {"サブディスプレイウインドウ", "", 1, 0, 1, 0},
      {"サブディスプレイウインドウ", "待機表示を隠す", 1, 0, 1, 1},
      {"サブディスプレイウインドウ", "待機中は非表示", 1, 0, 1, 2},
  };
  for (const Device& d : devices) {
    SCOPED_TRACE(d.device);
    const shell::DisplayDevice got = shell::SelectDisplayDevice(d.device, d.cdPort);
    EXPECT_EQ(got.secondDisplay, d.second);
    EXPECT_EQ(got.dmd, d.dmd);
    EXPECT_EQ(got.kanji, d.kanji);
    EXPECT_EQ(got.idleOption, d.idle);
  }
  EXPECT_EQ(shell::ReserveClassCode(-1), "");
  EXPECT_EQ(shell::ReserveClassCode(0), "");
  EXPECT_EQ(shell::ReserveClassCode(1), "02");
  EXPECT_EQ(shell::ReserveClassCode(2), "20");
  EXPECT_EQ(shell::ReserveClassCode(5), "23");
  EXPECT_EQ(shell::PadMark(""), "    ");
  EXPECT_EQ(shell::PadMark("*"), "*   ");
  EXPECT_EQ(shell::PadMark("ABCDE"), "ABCDE");
}

// A fresh profile: every key takes its default, the window gets 640 x 480,
// and a normal close writes the placement back and ends "Fault" at 0.
TEST_F(StartUp, ReadsDefaultsOpensTheWindowAndClosesInOrder) {
  setSetting("Prn SA", 1);  // not read without the SA device
  setSetting("JET Interface", 1);
  ASSERT_TRUE(start()) << boxes->lastText();
  EXPECT_EQ(boxes->count(), 0u) << boxes->lastText();
  EXPECT_EQ(app->m_nKeyHeight, 75);
  EXPECT_EQ(app->m_nKeyNumber, 12);
  EXPECT_EQ(app->m_nBmpWidth, 133);
  EXPECT_EQ(app->m_nBmpHeight, 100);
  EXPECT_EQ(app->m_nJetSequenceNumber, 1);
  EXPECT_EQ(app->m_nListFontHeight, 16);
  EXPECT_EQ(app->m_nLogoRate, 100);
  EXPECT_EQ(app->m_strTaxIn, "xxxx");
  EXPECT_EQ(app->m_strTaxOut, "    ");
  EXPECT_EQ(app->m_strJetSpeed, "9600");
  EXPECT_EQ(app->m_bPrnSA, 0);
  EXPECT_EQ(app->m_bJetInterface, 1);
  EXPECT_EQ(app->m_strReserveClassCode, "");
  EXPECT_EQ(setting("PayPay support"), 1);
  EXPECT_EQ(setting("Fault"), 1);
  EXPECT_TRUE(fs::is_directory(folder / "Thumbnails"));
  EXPECT_EQ(app->m_strPicturePath, (folder / "Thumbnails").string() + "\\");
  EXPECT_EQ(app->m_strProductVersion, "1.00.0.0");
  // The window and its lock: nobody is signed on yet.
  HWND main = frame().GetSafeHwnd();
  EXPECT_TRUE(ui::isWindowVisible(main));
  EXPECT_EQ(ui::windowRect(main).width(), 640);
  EXPECT_EQ(ui::windowRect(main).height(), 480);
  EXPECT_TRUE(frame().IsLocked());
  EXPECT_FALSE(ui::isWindowEnabled(main));
  // The general settings loaded the demo shop's tax rates.
  EXPECT_EQ(g_nTaxRate[0], 1000);
  ui::moveWindow(main, {30, 40, 830, 640});
  ASSERT_TRUE(app->SaveAllModified());
  EXPECT_EQ(setting("Fault"), 0);
  EXPECT_EQ(setting("IsIconic"), 0);
  EXPECT_EQ(setting("IsZoomed"), 0);
  EXPECT_EQ(setting("LeftPt"), 30);
  EXPECT_EQ(setting("TopPt"), 40);
  EXPECT_EQ(setting("RightPt"), 830);
  EXPECT_EQ(setting("BottomPt"), 640);
  app->ExitInstance();
  EXPECT_EQ(app->m_pMainFrame, nullptr);
  EXPECT_EQ(app->m_pRegCom, nullptr);
  EXPECT_EQ(setting("IsStatusBar"), 1);
  EXPECT_EQ(setting("IsToolBar"), 0);
}

// Stored settings are read; a missing corner of the placement defaults from
// the window's current place.
TEST_F(StartUp, ReadsStoredSettingsAndPlacement) {
  setSetting("Key Height", 90);
  setSetting("Tax Out", std::string("ab"));
  setSetting("Reserve Name Class", 3);
  setSetting("Use SA", 0);
  setSetting("Big Dialog", 1);
  setSetting("LeftPt", 100);
  setSetting("TopPt", 50);
  setSetting("BottomPt", 450);
  ASSERT_TRUE(start()) << boxes->lastText();
  EXPECT_EQ(app->m_nKeyHeight, 90);
  EXPECT_EQ(app->m_strTaxOut, "ab  ");
  EXPECT_EQ(app->m_strReserveClassCode, "21");
  EXPECT_EQ(frame().TemplateOf(120), 121);
  const ui::Rect r = ui::windowRect(frame().GetSafeHwnd());
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 50);
  EXPECT_EQ(r.height(), 400);
}

// "Fault" left at 3 by runs that ended abnormally: the indexes are checked,
// the counter is reset and raised again for this run; a normal close ends it.
TEST_F(StartUp, FaultCounterRunsTheIndexCheckAfterAnAbnormalEnd) {
  setSetting("Fault", 3);
  // A damaged index that the check rebuilds.
  ASSERT_TRUE(start()) << boxes->lastText();
  EXPECT_EQ(setting("Fault"), 1);
  ASSERT_TRUE(app->SaveAllModified());
  EXPECT_EQ(setting("Fault"), 0);
  ASSERT_TRUE(app->SaveAllModified());  // never below 0
  EXPECT_EQ(setting("Fault"), 0);
}

// The first run restores the shipped data beside the program when the base
// data file is missing; without the backup the start ends.
TEST_F(StartUp, FirstRunRestoresTheShippedBackup) {
  const fs::path program = folder / "program";
  fs::create_directories(program);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder / "LocDat"))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  std::vector<const char*> pointers;
  for (const auto& n : names) pointers.push_back(n.c_str());
  ASSERT_EQ(CombineFiles(static_cast<int32_t>(pointers.size()), pointers.data(), (program / "Varnex.dbk").c_str(),
                         (folder / "LocDat").c_str()),
            0);
  fs::remove_all(folder / "LocDat");
  ASSERT_TRUE(start()) << boxes->lastText();
  EXPECT_TRUE(platform::fileExists((folder / "LocDat" / "POS_BAS.dbf").string()));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder / "LocDat"), fs::directory_iterator{}),
            static_cast<std::ptrdiff_t>(names.size()));
  app->ExitInstance();

  // Present: no backup is looked for.
  fs::remove(program / "Varnex.dbk");
  app = std::make_unique<shell::CREGApp>();
  app->m_strWorkFolder = folder.string();
  app->m_strProgramFolder = program.string();
  EXPECT_TRUE(start()) << boxes->lastText();
  app->ExitInstance();

  // Missing with no backup: the start ends.
  for (const auto& e : fs::directory_iterator(folder / "LocDat"))
    if (e.path().stem() == "POS_BAS") fs::remove(e.path());
  app = std::make_unique<shell::CREGApp>();
  app->m_strWorkFolder = folder.string();
  app->m_strProgramFolder = program.string();
  EXPECT_FALSE(start());
}

// A missing and a damaged project stop the start with the engine's message.
TEST_F(StartUp, MissingOrDamagedProjectStopsTheStart) {
  struct Case {
    const char* name;
    std::function<void()> harm;
    const char* message;
  };
  const Case cases[] = {
      {"missing", [&] { fs::remove(folder / "Res" / "Varnex.dbf"); },
       "プロジェクトデータベースが見つかりません\nアプリケーションの起動に失敗しました"},
      {"damaged", [&] { testing_support::writeFileBytes((folder / "Res" / "Varnex.dbf").string(), std::string(700, 'x')); },
       "プロジェクトデータベースが"},
  };
  const std::string pristine = fileBytesOf(folder / "Res" / "Varnex.dbf");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::writeFileBytes((folder / "Res" / "Varnex.dbf").string(), pristine);
    c.harm();
    boxes->clear();
    app = std::make_unique<shell::CREGApp>();
    app->m_strWorkFolder = folder.string();
    EXPECT_FALSE(start());
    bool shown = false;
    for (const auto& box : boxes->shown()) shown |= box.text.rfind(c.message, 0) == 0;
    EXPECT_TRUE(shown) << boxes->lastText();
    app->ExitInstance();
  }
}

// A serial device that is not there is reported; the register opens its
// window and goes on without it.
TEST_F(StartUp, MissingSerialDeviceIsReportedAndTheWindowStillOpens) {
  setSetting("Use SA", 1);
  setSetting("SA Port", std::string((folder / "no-such-tty").string()));
  setSetting("Use JET", 1);
  setSetting("JET Port", std::string((folder / "no-such-tty-either").string()));
  ASSERT_TRUE(start());
  ASSERT_EQ(boxes->count(), 2u);
  EXPECT_EQ(boxes->shown()[0].text, "通信ポートのオープンに失敗しました\nＰＯＳデバイスとの通信はできません");
  EXPECT_EQ(boxes->shown()[1].text, "通信ポートのオープンに失敗しました\nカード決済端末との通信はできません");
  EXPECT_EQ(app->m_bOpenSA, 0);
  EXPECT_EQ(app->m_bOpenJET, 0);
  EXPECT_EQ(app->m_bPrnSA, 1);  // read now that the device is in use
  EXPECT_TRUE(ui::isWindowVisible(frame().GetSafeHwnd()));
  EXPECT_EQ(app->ExitInstance(), 0);  // closes no port that never opened
}

// The base data file grows once from its old length; other lengths stay.
TEST_F(StartUp, BaseDataFileUpgradeOnlyFromTheOldLength) {
  const fs::path file = folder / "LocDat" / "POS_BAS.DBF";
  fs::path actual = file;
  for (const auto& e : fs::directory_iterator(folder / "LocDat"))
    if (e.path().filename().string() == "POS_BAS.dbf" || e.path().filename().string() == "POS_BAS.DBF") actual = e.path();
  for (auto [length, expected] : {std::pair{352, 1536}, std::pair{353, 353}, std::pair{1536, 1536}}) {
    testing_support::writeFileBytes(actual.string(), std::string(static_cast<size_t>(length), '\1'));
    shell::CREGApp::UpgradeBaseDataFile(folder.string().c_str());
    EXPECT_EQ(fs::file_size(actual), static_cast<uintmax_t>(expected)) << length;
  }
  EXPECT_EQ(setting("PayPay support"), -999);  // the folder form leaves the profile
}

// A link that cannot be reached keeps its stored connection string: the
// register runs without it, says so, and tries again at the next change.
TEST_F(StartUp, UnreachableLinkKeepsItsStoredConnection) {
  ASSERT_TRUE(start()) << boxes->lastText();
  const char connect[] = "DRIVER=PostgreSQL Unicode;SERVER=127.0.0.1;PORT=1;DATABASE=shop;UID=x;PWD=y;";
  char header[512] = {};
  std::memcpy(header, connect, sizeof connect);
  FileDBHandle link = app->m_pRegCom->Table(varnex::reg::kOdbcLinkTable);
  ASSERT_EQ(FileDBWrite(link, 0, header, sizeof header), 512);
  boxes->clear();
  EXPECT_EQ(app->ODBCUpdate(nullptr), 0);
  char stored[512] = {};
  ASSERT_EQ(FileDBRead(link, 0, stored, sizeof stored), 512);
  EXPECT_STREQ(stored, connect);
  EXPECT_FALSE(app->m_pRegCom->OdbcIsOpen());
  EXPECT_EQ(app->m_pRegCom->OdbcState().kinds[1].count, 0);
  EXPECT_EQ(boxes->lastText(),
            "外部データベースに接続できませんでした\nリンクの設定は保存されたまま、リンクなしで動作します");
  // Nothing stored and nothing open: nothing to do.
  std::memset(header, 0, sizeof header);
  ASSERT_EQ(FileDBWrite(link, 0, header, sizeof header), 512);
  EXPECT_EQ(app->ODBCUpdate(nullptr), 1);
}

// The peer of the next test: a register started on the folder it is given,
// which reports when it is brought to the front.
TEST(SecondInstancePeer, DISABLED_Run) {
  ui::ensureApplication();
  ZemtaEnableLastErrorMessage(0);
  testing_support::ScriptedMessageBox boxes;
  shell::CREGApp app;
  app.m_strWorkFolder = std::getenv("VARNEX_PEER_FOLDER");
  ASSERT_TRUE(app.InitInstance()) << boxes.lastText();
  ui::processPendingMessages();
  // A manager works at it (the locked register would show its sign-on).
  uint8_t manager[48] = {};
  app.m_pRegCom->GetClerkRecord(1, manager);
  app.m_pRegCom->SetManager(manager);
  app.m_bManagerSelected = 1;
  ui::sendMessage(app.m_pMainFrame->GetSafeHwnd(), shell::WM_TENKEY_PAD, 0, 0);
  // Something else has the focus until the second register asks.
  ui::WindowSpec other;
  other.className = "Other";
  other.title = "other program";
  HWND w = ui::createWindow(other, ui::defaultWindowProc);
  ui::bringToFront(w);
  const std::string ready = std::string(std::getenv("VARNEX_PEER_FOLDER")) + "/ready";
  testing_support::writeFileBytes(ready, "1");
  HWND main = app.m_pMainFrame->GetSafeHwnd();
  ASSERT_TRUE(ui::pumpUntil([&] { return ui::activeWindow() == main; }, 60000));
  testing_support::writeFileBytes(std::string(std::getenv("VARNEX_PEER_FOLDER")) + "/raised", "1");
  ui::pumpUntil([] { return false; }, 2000);
  ui::destroyWindow(w);
}

// A second register on the same machine is refused with a message and the
// running one comes to the front.
TEST_F(StartUp, SecondInstanceIsRefusedAndTheFirstComesToTheFront) {
  const std::string self = fs::read_symlink("/proc/self/exe");
  const std::string command = "env VARNEX_PEER_FOLDER='" + folder.string() + "' '" + self +
                              "' --gtest_filter=SecondInstancePeer.DISABLED_Run --gtest_also_run_disabled_tests"
                              " > '" + (folder / "peer.log").string() + "' 2>&1 &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_TRUE(ui::pumpUntil([&] { return fs::exists(folder / "ready"); }, 60000)) << fileBytesOf(folder / "peer.log");
  const auto before = setting("Fault");
  EXPECT_FALSE(start());
  EXPECT_EQ(boxes->lastText(), "Varnexはすでに起動しています\n起動中のVarnexを表示します");
  EXPECT_TRUE(ui::pumpUntil([&] { return fs::exists(folder / "raised"); }, 30000)) << fileBytesOf(folder / "peer.log");
  EXPECT_EQ(setting("Fault"), before);  // the refused one touched nothing
  app->ExitInstance();
  ui::pumpUntil([&] { return fileBytesOf(folder / "peer.log").find("PASSED") != std::string::npos; }, 30000);
}

}  // namespace
}  // namespace varnex_test
