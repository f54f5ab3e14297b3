// The Tools and File commands chosen from the main frame's menus: backup and
// restore of the project, the index check, the image import and the start of
// the sales-slip program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/shell/modes/mode_shell.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/desktop.h"
#include "platform/ui/draw.h"
#include "support/scripted_message_box.h"
#include "support/wait_until.h"

namespace varnex_test {
namespace {

namespace reg = varnex::reg;

// Answers every file dialog with the path the test sets.
class FileAnswers {
 public:
  FileAnswers() {
    previous_ = ui::setFileDialogAnswerer([this](const ui::FileDialogRequest& request, std::string& answer) {
      requests.push_back(request);
      if (path.empty()) return false;
      answer = path;
      return true;
    });
  }
  ~FileAnswers() { ui::setFileDialogAnswerer(previous_); }
  std::string path;
  std::vector<ui::FileDialogRequest> requests;

 private:
  ui::FileDialogAnswerer previous_;
};

// The names of the files whose bytes differ between two snapshots.
std::vector<std::string> differing(const std::map<std::string, std::string>& a,
                                   const std::map<std::string, std::string>& b) {
  std::vector<std::string> out;
  for (const auto& [name, bytes] : a) {
    auto it = b.find(name);
    if (it == b.end() || it->second != bytes) out.push_back(name);
  }
  for (const auto& [name, bytes] : b)
    if (!a.count(name)) out.push_back(name);
  return out;
}

// The table and index files of the project with their bytes.
std::map<std::string, std::string> tableFiles(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (auto& [name, bytes] : snapshot(folder)) {
    const std::string lower = [&] {
      std::string s = name;
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return s;
    }();
    if (lower.size() > 4 && (lower.ends_with(".dbf") || lower.find(".b") == lower.size() - 4)) out[name] = bytes;
  }
  return out;
}

class ToolsCommandsTest : public ModeShellTest {
 protected:
  void SetUp() override {
    ModeShellTest::SetUp();
    ASSERT_TRUE(startShell());
    signOn();
  }
  bool choose(uint32_t command) {
    frame().Frame().updateCommands();
    const bool chosen = frame().Frame().chooseMenuItem(command);
    ui::processPendingMessages();
    return chosen;
  }
  bool shown(const std::string& text) {
    for (const auto& box : boxes->shown())
      if (box.text == text) return true;
    return false;
  }
};

// Backup, then a restore from a cut file: nothing changes, and it says so;
// a restore from the good file gives the saved project back byte for byte.
TEST_F(ToolsCommandsTest, BackupAndRestore) {
  FileAnswers files;
  const fs::path backup = folder / "saved.dbk";
  files.path = backup.string();
  ASSERT_TRUE(choose(shell::ID_BACKUP_DATABASE));
  ASSERT_TRUE(fs::exists(backup));
  ASSERT_FALSE(files.requests.empty());
  // The proposed name: "Varnex" and today's two-digit year, month and day.
  const platform::LocalTime now = platform::localTime();
  char expected[32];
  std::snprintf(expected, sizeof expected, "Varnex%02d%02d%02d.dbk", now.year % 100, now.month, now.day);
  EXPECT_EQ(files.requests.back().fileName, expected);
  EXPECT_EQ(userProfile().getString("Settings", "Last Backup Path", ""), backup.string());
  const auto before = tableFiles(folder);
  ASSERT_FALSE(before.empty());

  // A change after the backup.
  std::vector<uint8_t> department(reg::kTables[reg::kDepartmentTable].recordLen, 0);
  ASSERT_EQ(FileDBRecRead(app->m_pRegCom->Table(reg::kDepartmentTable), 1, department.data()), 0);
  std::memcpy(department.data(), "CHANGED", 7);
  FileDBHandle departments = app->m_pRegCom->Table(reg::kDepartmentTable);
  ASSERT_EQ(FileDBOpenEx(departments, FILEDB_MODE_READ_WRITE), 0);
  ASSERT_EQ(FileDBRecWrite(departments, 1, department.data()), 0);
  ASSERT_EQ(FileDBCloseEx(departments), 0);
  ASSERT_FALSE(differing(tableFiles(folder), before).empty());

  // A backup cut short: refused whole, nothing changed, and said so.
  const fs::path cut = folder / "cut.dbk";
  {
    std::ifstream in(backup, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(cut, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
  }
  const auto changed = tableFiles(folder);
  files.path = cut.string();
  ASSERT_TRUE(choose(shell::ID_RESTORE_DATABASE));
  EXPECT_EQ(differing(tableFiles(folder), changed), std::vector<std::string>{});
  EXPECT_TRUE(shown("データベースのリストアに失敗しました\n現在のデータは変更されていません"));
  EXPECT_FALSE(shown("プロジェクトデータベースが壊れています\nアプリケーションの起動に失敗しました"));
  EXPECT_FALSE(app->m_bManagerSelected);
  EXPECT_TRUE(ui::isWindow(frame().GetSafeHwnd()));

  // Nobody signed on after a restore: it is not offered again.
  frame().Frame().updateCommands();
  EXPECT_FALSE(frame().Frame().chooseMenuItem(shell::ID_RESTORE_DATABASE));

  // The good backup, restored while the register runs, gives back the
  // project as it was saved, and the register goes on working with it.
  signOn();
  boxes->clear();
  files.path = backup.string();
  ASSERT_TRUE(choose(shell::ID_RESTORE_DATABASE));
  EXPECT_EQ(differing(tableFiles(folder), before), std::vector<std::string>{});
  EXPECT_FALSE(shown("データベースのリストアに失敗しました\n現在のデータは変更されていません"));
  EXPECT_FALSE(shown("プロジェクトデータベースが壊れています\nアプリケーションの起動に失敗しました"));
  EXPECT_TRUE(ui::isWindow(frame().GetSafeHwnd()));
  EXPECT_FALSE(app->m_bManagerSelected);
  std::vector<uint8_t> restored(department.size(), 0);
  ASSERT_EQ(FileDBRecRead(departments, 1, restored.data()), 0);
  EXPECT_NE(std::memcmp(restored.data(), "CHANGED", 7), 0);
  ASSERT_EQ(FileDBOpenEx(departments, FILEDB_MODE_READ_WRITE), 0);
  ASSERT_EQ(FileDBRecWrite(departments, 1, department.data()), 0);
  ASSERT_EQ(FileDBCloseEx(departments), 0);
  ASSERT_EQ(FileDBRecRead(departments, 1, restored.data()), 0);
  EXPECT_EQ(std::memcmp(restored.data(), "CHANGED", 7), 0);
  signOn();

  // The index check finds the indexes sound.
  boxes->clear();
  boxes->answer(platform::kIdOk);
  ASSERT_TRUE(choose(shell::ID_CHECK_INDEXES));
  EXPECT_EQ(boxes->lastText(), "インデックスファイルの検査は正常に終了しました");
}

// Pictures become thumbnails; of two with one title the newest only.
TEST_F(ToolsCommandsTest, ImageImport) {
  const fs::path source = folder / "pictures";
  fs::create_directories(source);
  auto picture = [&](const char* name, uint32_t colour, int w, int h, int age) {
    const ui::Image image = ui::Image::blank(w, h, colour);
    const fs::path path = source / name;
    ASSERT_TRUE(path.extension() == ".png" ? image.savePng(path.string()) : image.saveJpeg(path.string()));
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(age));
  };
  picture("A01.png", 0x0000FF, 300, 200, 5);  // older: skipped
  picture("A01.jpg", 0x00FF00, 300, 200, 1);
  picture("B02.png", 0xFF0000, 64, 64, 1);
  picture("C03.jpg", 0x00FFFF, 500, 500, 1);
  picture("CDlogo.png", 0xFFFFFF, 400, 300, 1);
  const auto previous = ui::setFolderPickerAnswerer([&](const std::string&, std::string& chosen) {
    chosen = source.string();
    return true;
  });
  ASSERT_TRUE(choose(shell::ID_IMPORT_IMAGES));
  ui::setFolderPickerAnswerer(previous);
  EXPECT_EQ(boxes->lastText(), "4 個のイメージファイルを正常にインポートしました"
                               "が、1 個のファイルは除外されました");
  EXPECT_EQ(userProfile().getString("Settings", "Image Folder", ""), source.string());

  const std::string thumbnails = platform::mapPath(app->m_strPicturePath);
  ui::Image a;
  ASSERT_TRUE(a.load(platform::joinPath(thumbnails, "A01.jpg")));
  EXPECT_EQ(a.width(), 133);
  EXPECT_EQ(a.height(), 100);
  // The newer picture's green, not the older one's red.
  const uint32_t p = a.pixel(60, 50);
  EXPECT_GT((p >> 8) & 0xFF, 200u) << std::hex << p;
  EXPECT_LT(p & 0xFF, 60u) << std::hex << p;
  ui::Image logo;
  ASSERT_TRUE(logo.load(platform::joinPath(thumbnails, "CDlogo.jpg")));
  EXPECT_EQ(logo.width(), 400);
  EXPECT_EQ(logo.height(), 300);
  for (const char* name : {"B02.jpg", "C03.jpg"}) EXPECT_TRUE(platform::fileExists(platform::joinPath(thumbnails, name)));
}

TEST_F(ToolsCommandsTest, SalesSlipLaunch) {
  // The token of manager 1 with PIN 1234, worked by hand.
  EXPECT_EQ(shell::CREGApp::SalesSlipToken(1, 1234), "OOIPKRON");

  // A stand-in for the sales-slip program records its command line.
  const fs::path work = folder / "slip";
  fs::create_directories(work);
  const fs::path record = work / "args.txt";
  auto program = [&](const char* name) {
    const fs::path path = work / name;
    std::ofstream(path) << "#!/bin/sh\n{ printf '%s' \"$0\"; for a in \"$@\"; do printf ' %s' \"$a\"; done; echo; } > \""
                        << record.string() << "\"\n";
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  };
  auto run = [&](const std::string& link, const std::string& action) {
    fs::remove(record);
    setSetting("Smp Link", link);
    setSetting("Smp Work", work.string());
    setSetting("Smp Action", action);
    EXPECT_TRUE(choose(shell::ID_SALES_SLIP));
    EXPECT_TRUE(testing_support::waitUntil([&] { return fs::exists(record) && fs::file_size(record) > 0; }));
    std::ifstream in(record);
    std::string line;
    std::getline(in, line);
    return line;
  };
  const uint8_t* manager = app->m_pRegCom->Manager();
  const std::string token = shell::CREGApp::SalesSlipToken(reg::getU16(manager, reg::clerk::kNumber.offset),
                                                           reg::getU16(manager, reg::clerk::kPin.offset));
  const std::string orvane = program("Orvane.exe");
  EXPECT_EQ(run(orvane, "/slip"), orvane + " " + token + " /slip");
  const std::string other = program("Other.exe");
  EXPECT_EQ(run(other, ""), other);

  // No program set: the message, nothing started.
  setSetting("Smp Link", std::string());
  boxes->clear();
  EXPECT_TRUE(choose(shell::ID_SALES_SLIP));
  EXPECT_EQ(boxes->lastText(), "売上伝票処理を実行することができません\n売上伝票処理リンクの設定を確認して下さい");
}

}  // namespace
}  // namespace varnex_test
