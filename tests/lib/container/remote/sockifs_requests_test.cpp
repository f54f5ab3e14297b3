// Requests of the remote file service client against a scripted server:
// transfers split into parts, lengths from the wire checked, 'f' paging,
// 'p' progress, column items and list requests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "lib/container/remote/connection.h"
#include "peers/file_service_peer.h"
#include "platform/base/last_error.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "zemta/sockifs.h"

namespace {

using testing_support::FileServicePeer;

constexpr uint32_t kTable = 0x51;

class SockIfsRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    zemta::remote::setReplyTimeout(5000);
    peer_ = std::make_unique<FileServicePeer>();
    ASSERT_EQ(SockConnect("127.0.0.1", peer_->port()), 0);
  }
  void TearDown() override {
    SockDisconnect();
    peer_.reset();
    zemta::remote::setReplyTimeout(30000);
  }
  std::string request(size_t i) const { return peer_->requests().at(i); }
  static std::string data(uint32_t handle, size_t count, char fill) {
    return FileServicePeer::frame(0x42, 0, handle, std::string(count, fill));
  }
  static std::string done(uint32_t handle) { return FileServicePeer::frame(0x06, 0, handle); }
  static std::string entries(uint32_t first, uint32_t count) {
    std::string bytes;
    for (uint32_t i = 0; i < count; ++i) bytes += FileServicePeer::u32(first + i) + FileServicePeer::u32(0);
    return bytes;
  }

  std::unique_ptr<FileServicePeer> peer_;
};

TEST_F(SockIfsRequests, ReadAtAnOffsetSendsOnePositionedPartThenPlainParts) {
  peer_->queue(data(kTable, 409, 'a'));
  peer_->queue(data(kTable, 4096, 'b'));
  peer_->queue(data(kTable, 495, 'c'));
  std::vector<char> buffer(5000);
  uint32_t got = 0;
  ASSERT_EQ(SockIfsRead(kTable, buffer.data(), 5000, &got, 100, 0, 0), 0);
  EXPECT_EQ(got, 5000u);
  ASSERT_EQ(peer_->requests().size(), 3u);
  EXPECT_EQ(request(0), FileServicePeer::frame('R', 0, kTable, FileServicePeer::u16(409) + FileServicePeer::u32(100) +
                                                                  FileServicePeer::u32(0)));
  EXPECT_EQ(request(0).size(), 20u);
  EXPECT_EQ(request(1), FileServicePeer::frame('R', 0xFF, kTable, FileServicePeer::u16(4096)));
  EXPECT_EQ(request(1).size(), 12u);
  EXPECT_EQ(request(2), FileServicePeer::frame('R', 0xFF, kTable, FileServicePeer::u16(495)));
  EXPECT_EQ(buffer[408], 'a');
  EXPECT_EQ(buffer[409], 'b');
  EXPECT_EQ(buffer[4999], 'c');
}

TEST_F(SockIfsRequests, ReadAtTheCurrentPositionSendsPlainPartsOnly) {
  peer_->queue(data(kTable, 4096, 'b'));
  peer_->queue(data(kTable, 904, 'c'));
  std::vector<char> buffer(5000);
  uint32_t got = 0;
  ASSERT_EQ(SockIfsRead(kTable, buffer.data(), 5000, &got, 0, 0, 1), 0);
  EXPECT_EQ(got, 5000u);
  EXPECT_EQ(static_cast<uint8_t>(request(0)[9]), 0xFF);
  EXPECT_EQ(static_cast<uint8_t>(request(1)[9]), 0xFF);
}

TEST_F(SockIfsRequests, ReadEndsAtTheEndOfTheFile) {
  peer_->queue(data(kTable, 300, 'a'));
  std::vector<char> buffer(5000);
  uint32_t got = 0;
  ASSERT_EQ(SockIfsRead(kTable, buffer.data(), 5000, &got, 100, 0, 0), 0);
  EXPECT_EQ(got, 300u);
  EXPECT_EQ(peer_->requests().size(), 1u);
}

TEST_F(SockIfsRequests, ReplyLongerThanAskedIsRefusedWithoutOverrun) {
  // The caller's buffer is exactly as large as asked: under the sanitizer
  // build a copy of the server's extra bytes would be caught.
  peer_->queue(data(kTable, 409, 'a'));
  peer_->queue(data(kTable, 600, 'x'));
  auto buffer = std::make_unique<char[]>(500);
  uint32_t got = 0;
  EXPECT_EQ(SockIfsRead(kTable, buffer.get(), 500, &got, 0, 0, 0), -1);
  EXPECT_EQ(platform::lastError(), 22u);
  EXPECT_EQ(got, 409u);  // the part that arrived stays
  EXPECT_EQ(SockIsConnect(), 1);

  // Fixed-size answers of the wrong size.
  peer_->queue(data(kTable, 12, 's'));
  EXPECT_EQ(SockIfsGetSize(kTable), -1);
  EXPECT_EQ(platform::lastError(), 22u);
  peer_->queue(FileServicePeer::frame(0x42, 0, 0, std::string(400, 'd')));
  char descriptor[360];
  EXPECT_EQ(SockIfsIsExist("a.dbf", -1, descriptor), -1);
  EXPECT_EQ(platform::lastError(), 22u);
}

TEST_F(SockIfsRequests, WriteAtOffsetZeroSendsThreeParts) {
  for (int i = 0; i < 3; ++i) peer_->queue(done(kTable));
  std::vector<char> bytes(10000, 'w');
  ASSERT_EQ(SockIfsWrite(kTable, bytes.data(), 10000, 0, 0, 0), 0);
  ASSERT_EQ(peer_->requests().size(), 3u);
  EXPECT_EQ(request(0).size(), 10u + 8u + 4088u);
  EXPECT_EQ(static_cast<uint8_t>(request(0)[9]), 0);
  EXPECT_EQ(request(1).size(), 10u + 4096u);
  EXPECT_EQ(static_cast<uint8_t>(request(1)[9]), 0xFF);
  EXPECT_EQ(request(2).size(), 10u + 1816u);
}

TEST_F(SockIfsRequests, NamesAreCheckedBeforeSending) {
  const std::string longName(128, 'n');
  EXPECT_EQ(SockIfsCreate(longName.c_str(), -1, nullptr, 0x2000, 0, 0), 0u);
  EXPECT_EQ(platform::lastError(), 22u);
  EXPECT_EQ(SockIfsRemove("abc", 0), -1);
  EXPECT_EQ(SockIfsIsExist(longName.c_str(), 129, nullptr), -1);
  EXPECT_EQ(SockIfsUser(1, 2, longName.c_str()), -1);
  EXPECT_EQ(platform::lastError(), 22u);
  EXPECT_TRUE(peer_->requests().empty());

  peer_->queue(done(0x77));
  EXPECT_EQ(SockIfsCreate("shop\\a.dbf", -1, nullptr, 0x401, 0, 0), 0x77u);
  EXPECT_EQ(request(0), FileServicePeer::frame('A', 0, 0,
                                               FileServicePeer::u32(0x401) + FileServicePeer::u32(0) +
                                                   FileServicePeer::u32(0xFFFFFFFF) + std::string("shop\\a.dbf") +
                                                   std::string(1, '\0')));
}

TEST_F(SockIfsRequests, RollbackAcknowledgedAtOnceWaitsForNothing) {
  peer_->queue(done(0));
  EXPECT_EQ(SockIfsRollback(0, 0, 42, "report.cpp", 0x20000085), 0);
  EXPECT_EQ(request(0), FileServicePeer::frame('e', 0, 0,
                                               FileServicePeer::u32(0) + FileServicePeer::u32(0) +
                                                   FileServicePeer::u32(42) + FileServicePeer::u32(0x20000085) +
                                                   std::string("report.cpp") + std::string(1, '\0')));
}

std::string progressReply(int32_t phase, int32_t value, const std::string& detail) {
  return FileServicePeer::frame(0x42, 0, 0,
                                FileServicePeer::u32(static_cast<uint32_t>(phase)) +
                                    FileServicePeer::u32(static_cast<uint32_t>(value)) + FileServicePeer::u32(0) +
                                    FileServicePeer::u32(0) + detail);
}

TEST_F(SockIfsRequests, BackupFollowsProgressUntilTheServerIsDone) {
  auto progress = [](int32_t phase, int32_t value) {
    return progressReply(phase, value, std::string("detail") + '\0');
  };
  peer_->queue(done(0));
  peer_->queue(progress(1, 40));
  peer_->queue(progress(2, 90));
  peer_->queue(progress(0, 7));
  EXPECT_EQ(SockIfsBackup(1), 7);
  ASSERT_EQ(peer_->requests().size(), 4u);
  EXPECT_EQ(request(0), FileServicePeer::frame('b', 1, 0));
  EXPECT_EQ(request(3), FileServicePeer::frame('p', 0, 0));

  // A failed operation fails with the server's status.
  peer_->queue(done(0));
  peer_->queue(progress(-1, 0x400000A3));
  EXPECT_EQ(SockIfsBackup(4), -1);
  EXPECT_EQ(platform::lastError(), 0x20000083u);
}

// What the progress dialog of a backup showed while the server worked: each
// step text in turn, and at the first of them the bar, whether the main
// window was disabled, and a picture of the dialog.
struct ProgressSeen {
  int32_t result = 0;
  std::vector<std::string> texts;
  int32_t bar = -1;
  bool ownerDisabled = false;
};

ProgressSeen backupWithDialog(HWND owner, const std::string& shot) {
  namespace ui = platform::ui;
  ProgressSeen seen;
  ui::WindowSpec shape;
  shape.visible = false;
  HWND driver = ui::createWindow(shape, [&](HWND w, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m != ui::kWmTimer) return ui::defaultWindowProc(w, m, wp, lp);
    for (HWND top : ui::topLevelWindows()) {
      if (!ui::isWindowVisible(top) || ui::windowText(top) != "バックアップ") continue;
      const std::string text = ui::dialogItemText(top, 21886);
      if (text.empty() || (!seen.texts.empty() && seen.texts.back() == text)) continue;
      seen.texts.push_back(text);
      if (seen.texts.size() > 1) continue;
      seen.bar = ui::controlPosition(ui::dialogItem(top, 21884));
      seen.ownerDisabled = !ui::isWindowEnabled(owner);
      ui::processPendingMessages();
      ui::grabWindowToPng(top, shot);
    }
    return 0;
  });
  ui::setTimer(driver, 1, 20);
  seen.result = SockIfsBackup(1);
  ui::destroyWindow(driver);
  return seen;
}

class SockIfsProgressDialog : public SockIfsRequests {
 protected:
  void SetUp() override {
    SockIfsRequests::SetUp();
    namespace ui = platform::ui;
    ui::ensureApplication();
    ui::WindowSpec shape;
    shape.title = "main";
    owner_ = ui::createWindow(shape, ui::defaultWindowProc);
    ASSERT_EQ(ui::mainWindow(), owner_);
    folder_ = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "container";
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    for (HWND top : platform::ui::topLevelWindows())
      EXPECT_NE(platform::ui::windowText(top), "バックアップ") << "the dialog is gone";
    platform::ui::destroyWindow(owner_);
    SockIfsRequests::TearDown();
  }
  HWND owner_ = nullptr;
  std::filesystem::path folder_;
};

TEST_F(SockIfsProgressDialog, BackupShowsTheServersStepInItsProgressDialog) {
  const std::string shot = (folder_ / "sockifs_backup_progress.png").string();
  // The step stays up for a few polls, so that the dialog is seen at it.
  peer_->queue(done(0));
  for (int i = 0; i < 3; ++i) peer_->queue(progressReply(2, 40, std::string("shop.ifs") + '\0'));
  peer_->queue(progressReply(0, 0, std::string(1, '\0')));
  const ProgressSeen seen = backupWithDialog(owner_, shot);
  EXPECT_EQ(seen.result, 0);
  EXPECT_EQ(seen.texts, std::vector<std::string>{"データの保存中 - shop.ifs"});
  EXPECT_EQ(seen.bar, 40);
  EXPECT_TRUE(seen.ownerDisabled);
  EXPECT_TRUE(platform::ui::isWindowEnabled(owner_));
  EXPECT_TRUE(std::filesystem::exists(shot));
}

TEST_F(SockIfsProgressDialog, DetailTextIsReadWithinItsFieldAndTheReply) {
  // A detail without its terminating zero: cut at its 128 bytes, or at the
  // end of the reply when that comes first.
  peer_->queue(done(0));
  for (int i = 0; i < 2; ++i) peer_->queue(progressReply(2, 10, std::string(200, 'x')));
  for (int i = 0; i < 2; ++i) peer_->queue(progressReply(2, 20, "abc"));
  peer_->queue(progressReply(0, 0, ""));
  const ProgressSeen seen = backupWithDialog(owner_, (folder_ / "sockifs_backup_detail.png").string());
  EXPECT_EQ(seen.result, 0);
  EXPECT_EQ(seen.texts, (std::vector<std::string>{"データの保存中 - " + std::string(128, 'x'),
                                                  "データの保存中 - abc"}));
}

TEST_F(SockIfsRequests, SearchFetchesItsEntriesPageByPageAndNeverPastTheCount) {
  // 5 announced; pages of 2, then 4 (one more than is left).
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u32(5) +
                                                           FileServicePeer::u32(0)));
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, entries(1, 2)));
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, entries(3, 4)));
  SockIfsList list{};
  const uint16_t column = 3;
  EXPECT_EQ(SockIfsIdxSear(kTable, 1, &column, 2, "aa", "zz", &list, 0, 0, 1), 1);
  EXPECT_EQ(list.listId, 9u);
  EXPECT_EQ(list.total, 5);
  ASSERT_EQ(list.received, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(list.entries[i].low, static_cast<uint32_t>(i + 1));
  ASSERT_EQ(peer_->requests().size(), 3u);
  EXPECT_EQ(request(0), FileServicePeer::frame('s', 0, kTable,
                                               FileServicePeer::u32(0) + FileServicePeer::u16(1) +
                                                   FileServicePeer::u16(2) + FileServicePeer::u16(3) + "aazz"));
  EXPECT_EQ(request(1), FileServicePeer::frame('f', 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u32(0) +
                                                                   FileServicePeer::u32(0)));
  EXPECT_EQ(request(1).size(), 22u);
  EXPECT_EQ(request(2), FileServicePeer::frame('f', 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u32(2) +
                                                                   FileServicePeer::u32(0)));

  // Removing frees the entries and the server's list.
  peer_->queue(done(9));
  EXPECT_EQ(SockIfsIdxRemove(&list), 0);
  EXPECT_EQ(list.entries, nullptr);
  EXPECT_EQ(list.listId, 0u);
  EXPECT_EQ(request(3), FileServicePeer::frame('d', 0, 9));
  // A list without a server id sends nothing.
  EXPECT_EQ(SockIfsIdxRemove(&list), 0);
  EXPECT_EQ(peer_->requests().size(), 4u);
}

TEST_F(SockIfsRequests, FetchPagesThatAreNotWholeEntriesOrEmptyAreRefused) {
  const std::string pages[] = {std::string(12, 'e'), std::string()};
  for (const std::string& page : pages) {
    peer_->queue(FileServicePeer::frame(0x42, 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u32(5) +
                                                             FileServicePeer::u32(0)));
    peer_->queue(FileServicePeer::frame(0x42, 0, kTable, page));
    SockIfsList list{};
    const uint16_t column = 3;
    EXPECT_EQ(SockIfsIdxSear(kTable, 1, &column, 2, "aa", "zz", &list, 0, 0, 1), -1);
    EXPECT_EQ(platform::lastError(), 0x20000002u);
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_EQ(list.received, 0);
  }
  // A list the server dropped is an empty result.
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u32(5) +
                                                           FileServicePeer::u32(0)));
  peer_->queue(done(kTable));
  SockIfsList list{};
  const uint16_t column = 3;
  EXPECT_EQ(SockIfsIdxSear(kTable, 1, &column, 2, "aa", "zz", &list, 0, 0, 1), 1);
  EXPECT_EQ(list.received, 0);
  EXPECT_EQ(list.total, 0);
}

TEST_F(SockIfsRequests, ArgumentsOutOfRangeFailBeforeSending) {
  std::vector<SockIfsEntry> ids(511);
  EXPECT_EQ(SockIfsRecDelByID(kTable, 511, ids.data()), -1);
  EXPECT_EQ(platform::lastError(), 0x20000081u);
  EXPECT_EQ(SockIfsRecDelByID(kTable, 1, nullptr), -1);
  EXPECT_EQ(platform::lastError(), 0x200000FFu);
  const std::string key(129, 'k');
  const uint16_t column = 1;
  uint32_t found = 0;
  EXPECT_EQ(SockIfsIdxEqu(kTable, 1, &column, key.data(), 129, &found, nullptr), -1);
  EXPECT_EQ(platform::lastError(), 0x20000085u);
  SockIfsEntry id{};
  EXPECT_EQ(SockIfsIdxEqu(kTable, 1, &column, key.data(), 4, &found, &id), -1);  // both outputs
  EXPECT_EQ(platform::lastError(), 0x20000085u);
  EXPECT_TRUE(peer_->requests().empty());
}

TEST_F(SockIfsRequests, ColumnItemsGoInPacketsOfAtMost4096Bytes) {
  std::vector<uint8_t> bytes(1000 * 10, 'v');
  std::vector<SockIfsCidItem> items(1000);
  for (size_t i = 0; i < items.size(); ++i)
    items[i] = {static_cast<uint16_t>(i), 0, 10, bytes.data() + i * 10};
  for (int i = 0; i < 5; ++i) peer_->queue(done(kTable));
  ASSERT_EQ(SockIfsSetCID(kTable, 10, 1000, items.data(), 3, 0), 0);
  const auto sent = peer_->requests();
  ASSERT_GE(sent.size(), 4u);
  size_t itemsSent = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_LE(sent[i].size(), 4096u);
    EXPECT_EQ(static_cast<uint8_t>(sent[i][9]), i + 1 == sent.size() ? 1 : 0);
    itemsSent += FileServicePeer::u16At(sent[i], 22);
  }
  EXPECT_EQ(itemsSent, 1000u);
  EXPECT_EQ(SockIfsSetCID(kTable, 10, 0, nullptr, 3, 0), 0);
  EXPECT_EQ(peer_->requests().size(), sent.size());
}

TEST_F(SockIfsRequests, ColumnItemsReadBackWithLengthsCutToThePayload) {
  // Two items; the second claims 50 bytes of which 3 arrived.
  std::string payload = FileServicePeer::u16(2) + FileServicePeer::u16(1) + FileServicePeer::u16(0) +
                        FileServicePeer::u16(4) + "abcd" + FileServicePeer::u16(2) + FileServicePeer::u16(13) +
                        FileServicePeer::u16(50) + "xyz";
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, payload));
  SockIfsCidItem* items = nullptr;
  ASSERT_EQ(SockIfsRecRead(kTable, 4, 0, &items), 2);
  EXPECT_EQ(request(0), FileServicePeer::frame('q', 1, kTable, FileServicePeer::u32(10) + FileServicePeer::u32(4) +
                                                                   FileServicePeer::u32(0)));
  EXPECT_EQ(items[0].column, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(items[0].data), items[0].length), "abcd");
  EXPECT_EQ(items[1].attribute, 13);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(items[1].data), items[1].length), "xyz");
  std::free(items);

  // A count larger than the items that came stops at what came.
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, FileServicePeer::u16(40) + FileServicePeer::u16(1) +
                                                           FileServicePeer::u16(0) + FileServicePeer::u16(1) + "a"));
  ASSERT_EQ(SockIfsGetCID(kTable, 10, &items, 1, 4, 0), 1);
  std::free(items);
  peer_->queue(done(kTable));
  EXPECT_EQ(SockIfsGetCID(kTable, 10, &items, 1, 4, 0), 0);
  EXPECT_EQ(items, nullptr);
}

TEST_F(SockIfsRequests, EveryReplySplitIntoSingleBytesStillWorks) {
  peer_->setOneByteWrites(true);
  peer_->queue(data(kTable, 409, 'a'));
  peer_->queue(data(kTable, 591, 'b'));
  std::vector<char> buffer(1000);
  uint32_t got = 0;
  ASSERT_EQ(SockIfsRead(kTable, buffer.data(), 1000, &got, 100, 0, 0), 0);
  EXPECT_EQ(got, 1000u);
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, FileServicePeer::u32(1234) + FileServicePeer::u32(0)));
  EXPECT_EQ(SockIfsRecTotal(kTable), 1234);
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, FileServicePeer::u32(9) + FileServicePeer::u32(3) +
                                                           FileServicePeer::u32(0)));
  peer_->queue(FileServicePeer::frame(0x42, 0, kTable, entries(1, 3)));
  SockIfsList list{};
  const uint16_t column = 3;
  EXPECT_EQ(SockIfsIdxSear(kTable, 1, &column, 2, "aa", nullptr, &list, 0x10, 0, 1), 1);
  EXPECT_EQ(list.received, 3);
  std::free(list.entries);
}

}  // namespace
