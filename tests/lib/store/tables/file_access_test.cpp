#include "zemta/fileaccess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/clock.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "lib/store/store_test_support.h"
#include "support/scripted_message_box.h"
#include "support/wait_until.h"
#include "zemta/errors.h"

namespace {

using store_test::fileBytes;
using store_test::TempFolder;
using testing_support::ScriptedMessageBox;

constexpr uint32_t kReadWrite = ZEMTA_GENERIC_READ | ZEMTA_GENERIC_WRITE;

ZemtaFileHandle openExclusive(const std::string& path) {
  return ZemtaCreateFile(path.c_str(), kReadWrite, 0, ZEMTA_OPEN_ALWAYS, ZEMTA_FILE_ATTRIBUTE_NORMAL);
}

TEST(ZemtaFile, ReadsWritesAndMovesThePointerAsAsked) {
  TempFolder folder;
  const std::string path = folder.file("data.bin");
  ZemtaFileHandle file = ZemtaCreateFile(path.c_str(), kReadWrite, 0, ZEMTA_CREATE_ALWAYS,
                                         ZEMTA_FILE_FLAG_WRITE_THROUGH);
  ASSERT_NE(file, ZEMTA_INVALID_FILE);
  uint32_t done = 0;
  ASSERT_TRUE(ZemtaWriteFile(file, "abcdefgh", 8, &done, 0, ZEMTA_FILE_BEGIN));
  EXPECT_EQ(done, 8u);
  EXPECT_EQ(ZemtaGetFileSize(file), 8u);

  // Method "current" with offset 0 reads on where the pointer stands.
  EXPECT_EQ(ZemtaSetFilePointer(file, 2, ZEMTA_FILE_BEGIN), 2u);
  char buffer[16] = {};
  ASSERT_TRUE(ZemtaReadFile(file, buffer, 2, &done, 0, ZEMTA_FILE_CURRENT));
  EXPECT_EQ(std::string(buffer, done), "cd");
  ASSERT_TRUE(ZemtaWriteFile(file, "XY", 2, nullptr, 0, ZEMTA_FILE_CURRENT));
  EXPECT_EQ(fileBytes(path), "abcdXYgh");
  EXPECT_EQ(ZemtaSetFilePointer(file, -3, ZEMTA_FILE_END), 5u);

  // A short read at the end is no failure.
  ASSERT_TRUE(ZemtaReadFile(file, buffer, 16, &done, 6, ZEMTA_FILE_BEGIN));
  EXPECT_EQ(std::string(buffer, done), "gh");

  // -1 ends the file where the pointer stands; an offset moves there first.
  EXPECT_EQ(ZemtaSetFilePointer(file, 7, ZEMTA_FILE_BEGIN), 7u);
  ASSERT_TRUE(ZemtaSetEndOfFile(file, -1));
  EXPECT_EQ(fileBytes(path), "abcdXYg");
  ASSERT_TRUE(ZemtaSetEndOfFile(file, 3));
  EXPECT_EQ(fileBytes(path), "abc");
  EXPECT_TRUE(ZemtaCloseFile(file));

  // A closed handle is gone.
  EXPECT_FALSE(ZemtaCloseFile(file));
  EXPECT_EQ(platform::lastError(), static_cast<uint32_t>(platform::kErrorInvalidHandle));
  EXPECT_FALSE(ZemtaReadFile(file, buffer, 1, &done, 0, ZEMTA_FILE_BEGIN));
  EXPECT_EQ(ZemtaGetFileSize(0x12345678), 0xFFFFFFFFu);
}

TEST(ZemtaFile, SharingFollowsTheOpenModes) {
  TempFolder folder;
  const std::string path = folder.file("shared.bin");
  store_test::writeFileBytes(path, "x");
  ZemtaFileHandle reader = ZemtaCreateFile(path.c_str(), ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ,
                                           ZEMTA_OPEN_EXISTING, ZEMTA_FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(reader, ZEMTA_INVALID_FILE);
  EXPECT_EQ(ZemtaIsFileAccess(path.c_str(), ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ), 1);
  EXPECT_EQ(ZemtaIsFileAccess(path.c_str(), kReadWrite, 0), 0);
  EXPECT_EQ(platform::lastError(), static_cast<uint32_t>(platform::kErrorSharingViolation));
  EXPECT_EQ(ZemtaIsFileAccess(folder.file("missing.bin").c_str(), ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ), 0);
  EXPECT_TRUE(ZemtaCloseFile(reader));
  EXPECT_EQ(ZemtaIsFileAccess(path.c_str(), kReadWrite, 0), 1);
}

TEST(ZemtaFile, RemoteModeOpensOnlyMappedPathsOnTheServer) {
  TempFolder folder;
  const std::string local = folder.file("plain.bin");
  EXPECT_EQ(ZemtaSetSockIfs(7), 0);
  EXPECT_EQ(ZemtaSetSockIfs(1), 1);

  // No mapping matches: the file opens locally.
  ZemtaFileHandle file = openExclusive(local);
  ASSERT_NE(file, ZEMTA_INVALID_FILE);
  EXPECT_TRUE(zemta::isLocalFile(file));
  EXPECT_TRUE(ZemtaCloseFile(file));

  // A mapping with flag 0 is never used.
  const std::string inert = folder.file("inert");
  std::filesystem::create_directories(inert);
  ASSERT_EQ(ZemtaAddSockIfsDir(inert.c_str(), "\\\\server\\inert", 0), 0);
  file = openExclusive(inert + "/a.bin");
  ASSERT_NE(file, ZEMTA_INVALID_FILE);
  EXPECT_TRUE(ZemtaCloseFile(file));

  // A mapped path goes to the server (in any case), which is not connected.
  const std::string mapped = folder.file("Remote");
  ASSERT_EQ(ZemtaAddSockIfsDir(mapped.c_str(), "\\\\server\\shop", 1), 0);
  std::string upper = mapped;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(openExclusive(upper + "\\POS.DBF"), ZEMTA_INVALID_FILE);
  EXPECT_EQ(platform::lastError(), static_cast<uint32_t>(platform::kWsaNotInitialised));
  // A remote name that does not fit the path buffer is refused here.
  EXPECT_EQ(openExclusive(mapped + "/" + std::string(5000, 'n')), ZEMTA_INVALID_FILE);
  EXPECT_EQ(platform::lastError(), static_cast<uint32_t>(platform::kErrorFilenameTooLong));
  EXPECT_FALSE(std::filesystem::exists(mapped));

  EXPECT_EQ(ZemtaSetSockIfs(0), 0);
  file = openExclusive(mapped + "_local.bin");
  ASSERT_NE(file, ZEMTA_INVALID_FILE);
  EXPECT_TRUE(ZemtaCloseFile(file));
}

// --- the waiting open ----------------------------------------------------------

// A wait dialog that records what it was asked and answers from the test.
struct RecordingWaitUi {
  std::atomic<int> shows{0}, retriesFailed{0}, waits{0}, hides{0};
  std::string name;
  std::function<bool(int wait)> answer = [](int) { return true; };
  bool apiLockHeldWhileUp = true;

  RecordingWaitUi() {
    zemta::FileWaitUi ui;
    ui.show = [this](void*, const std::string& shown) {
      ++shows;
      name = shown;
      return true;
    };
    ui.retryFailed = [this] { ++retriesFailed; };
    ui.waitForRetry = [this] {
      apiLockHeldWhileUp = zemta::apiLock().isHeld();
      return answer(++waits);
    };
    ui.hide = [this] { ++hides; };
    previous_ = zemta::setFileWaitUi(std::move(ui));
  }
  ~RecordingWaitUi() { zemta::setFileWaitUi(std::move(previous_)); }

 private:
  zemta::FileWaitUi previous_;
};

class ZemtaOpenFileWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = folder_.file("table.dbf"); }

  ZemtaFileHandle waitOpen(uint32_t* error, int32_t noWait = 0, const char* name = nullptr) {
    return ZemtaOpenFileWait(path_.c_str(), kReadWrite, 0, ZEMTA_OPEN_ALWAYS, ZEMTA_FILE_ATTRIBUTE_NORMAL, name,
                             nullptr, error, noWait);
  }

  TempFolder folder_;
  std::string path_;
};

TEST_F(ZemtaOpenFileWaitTest, OpensAndReportsOtherFailuresUnlessAnErrorIsAsked) {
  ScriptedMessageBox box;
  uint32_t error = 99;
  ZemtaFileHandle file = waitOpen(&error);
  ASSERT_NE(file, 0u);
  EXPECT_EQ(error, 0u);
  EXPECT_TRUE(ZemtaCloseFile(file));

  const std::string missing = folder_.file("no/such/file.dbf");
  EXPECT_EQ(ZemtaOpenFileWait(missing.c_str(), ZEMTA_GENERIC_READ, 1, ZEMTA_OPEN_EXISTING, 0, nullptr, nullptr,
                              &error, 0),
            0u);
  EXPECT_EQ(error, static_cast<uint32_t>(platform::kErrorPathNotFound));
  EXPECT_EQ(box.count(), 0u);
  EXPECT_EQ(ZemtaOpenFileWait(missing.c_str(), ZEMTA_GENERIC_READ, 1, ZEMTA_OPEN_EXISTING, 0, nullptr, nullptr,
                              nullptr, 0),
            0u);
  EXPECT_EQ(box.lastText(), zemta::errorText(platform::kErrorPathNotFound));
}

TEST_F(ZemtaOpenFileWaitTest, HeldFileFailsAtOnceWithMessagesOffOrNoWait) {
  ZemtaFileHandle holder = openExclusive(path_);
  ASSERT_NE(holder, ZEMTA_INVALID_FILE);
  ScriptedMessageBox box;
  RecordingWaitUi ui;
  uint32_t error = 0;
  EXPECT_EQ(waitOpen(&error, 1), 0u);
  EXPECT_EQ(error, 32u);
  int32_t previous = ZemtaEnableLastErrorMessage(0);
  EXPECT_EQ(waitOpen(&error), 0u);
  EXPECT_EQ(error, 32u);
  ZemtaEnableLastErrorMessage(previous);
  EXPECT_EQ(box.count(), 0u);
  EXPECT_EQ(ui.shows.load(), 0);
  ZemtaCloseFile(holder);
}

// Holds the API lock as a table operation would, for the life of the object.
struct HeldApiLock {
  HeldApiLock() {
    zemta::apiLock().create();
    zemta::apiLock().take();
  }
  ~HeldApiLock() {
    zemta::apiLock().release();
    zemta::apiLock().destroy();
  }
};

TEST_F(ZemtaOpenFileWaitTest, WaitsWithTheDialogAndTheLocksLetGoUntilTheFileIsFree) {
  ZemtaFileHandle holder = openExclusive(path_);
  ASSERT_NE(holder, ZEMTA_INVALID_FILE);
  HeldApiLock lock;
  RecordingWaitUi ui;
  ui.answer = [&](int wait) {
    if (wait == 3) ZemtaCloseFile(holder);
    return true;
  };
  uint32_t error = 99;
  ZemtaFileHandle file = waitOpen(&error, 0, "商品マスタ");
  ASSERT_NE(file, 0u);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(ui.shows.load(), 1);
  EXPECT_EQ(ui.name, "商品マスタ");
  EXPECT_EQ(ui.waits.load(), 3);
  EXPECT_EQ(ui.retriesFailed.load(), 2);
  EXPECT_EQ(ui.hides.load(), 1);
  EXPECT_FALSE(ui.apiLockHeldWhileUp);
  EXPECT_TRUE(zemta::apiLock().isHeld());
  EXPECT_EQ(zemta::lockUseCounter(), 0);
  ZemtaCloseFile(file);
}

TEST_F(ZemtaOpenFileWaitTest, CancellingTheWaitReportsASharingViolation) {
  ZemtaFileHandle holder = openExclusive(path_);
  ASSERT_NE(holder, ZEMTA_INVALID_FILE);
  HeldApiLock lock;
  ScriptedMessageBox box;
  RecordingWaitUi ui;
  ui.answer = [](int wait) { return wait < 2; };
  uint32_t error = 0;
  EXPECT_EQ(waitOpen(&error), 0u);
  EXPECT_EQ(error, 32u);
  EXPECT_EQ(ui.name, path_);  // no display name: the path
  EXPECT_EQ(ui.hides.load(), 1);
  EXPECT_EQ(box.count(), 1u);
  EXPECT_EQ(box.lastText(), zemta::errorText(32));
  EXPECT_TRUE(zemta::apiLock().isHeld());
  EXPECT_EQ(zemta::lockUseCounter(), 0);
  ZemtaCloseFile(holder);
}

TEST_F(ZemtaOpenFileWaitTest, ADialogThatCannotBeMadeIsReported) {
  ZemtaFileHandle holder = openExclusive(path_);
  HeldApiLock lock;
  ScriptedMessageBox box;
  zemta::FileWaitUi failing;
  failing.show = [](void*, const std::string&) {
    platform::setLastError(platform::kErrorNotEnoughMemory);
    return false;
  };
  failing.waitForRetry = [] { return true; };
  failing.hide = [] {};
  zemta::FileWaitUi previous = zemta::setFileWaitUi(failing);
  uint32_t error = 0;
  EXPECT_EQ(waitOpen(&error), 0u);
  zemta::setFileWaitUi(previous);
  EXPECT_EQ(error, static_cast<uint32_t>(platform::kErrorNotEnoughMemory));
  EXPECT_EQ(box.lastText(), zemta::errorText(platform::kErrorNotEnoughMemory));
  EXPECT_TRUE(zemta::apiLock().isHeld());
  ZemtaCloseFile(holder);
}

TEST_F(ZemtaOpenFileWaitTest, WithoutADialogARetryCancelBoxAsks) {
  ZemtaFileHandle holder = openExclusive(path_);
  ScriptedMessageBox box;
  // Retry once (the holder lets go while the box is up), then it opens.
  box.answer(platform::kIdRetry);
  box.whileShown([&](const platform::MessageBoxRequest&) {
    if (holder != ZEMTA_INVALID_FILE) ZemtaCloseFile(holder);
    holder = ZEMTA_INVALID_FILE;
  });
  uint32_t error = 0;
  ZemtaFileHandle file = waitOpen(&error, 0, "TABLE");
  ASSERT_NE(file, 0u);
  ASSERT_EQ(box.count(), 1u);
  const auto request = box.shown()[0];
  EXPECT_EQ(request.caption, zemta::kFileWaitCaption);
  EXPECT_EQ(request.style & platform::kMbTypeMask, platform::kMbRetryCancel);
  EXPECT_EQ(request.text.substr(0, 5), "TABLE");

  // Cancel: the sharing violation is reported.
  box.whileShown(nullptr);
  box.clear();
  box.answer(platform::kIdCancel);
  EXPECT_EQ(waitOpen(&error), 0u);
  EXPECT_EQ(error, 32u);
  ASSERT_EQ(box.count(), 2u);
  EXPECT_EQ(box.lastText(), zemta::errorText(32));
  ZemtaCloseFile(file);
}

// --- two processes -------------------------------------------------------------
//
// The holder runs in a child process (the death-test machinery forks it); the
// waiter runs on a thread of this process while the child holds the file.
// The two meet through marker files.

void waitForFile(const std::string& path) {
  testing_support::waitUntil([&] { return std::filesystem::exists(path); });
}

// The child: holds the file exclusively until told to let go, then exits.
[[noreturn]] void holdInChild(const std::string& path, const std::string& held, const std::string& release) {
  ZemtaFileHandle file = openExclusive(path);
  if (file == ZEMTA_INVALID_FILE) std::_Exit(3);
  store_test::writeFileBytes(held, "held");
  waitForFile(release);  // written by the waiter from inside its retry loop
  ZemtaCloseFile(file);
  std::_Exit(0);
}

TEST_F(ZemtaOpenFileWaitTest, SecondProcessWaitsUntilTheFirstLetsGo) {
  ::testing::FLAGS_gtest_death_test_style = "fast";
  const std::string held = folder_.file("held"), release = folder_.file("release");
  RecordingWaitUi ui;
  ui.answer = [&](int wait) {
    if (wait == 1) store_test::writeFileBytes(release, "go");
    platform::sleepMilliseconds(20);  // the real dialog's timer ticks once a second
    return wait < 1500;               // half a minute: only a wait that never ends gets there
  };
  std::atomic<ZemtaFileHandle> got{0};
  std::atomic<uint32_t> error{99};
  std::thread waiter([&] {
    waitForFile(held);
    uint32_t code = 99;
    got = waitOpen(&code);
    error = code;
  });
  EXPECT_EXIT(holdInChild(path_, held, release), ::testing::ExitedWithCode(0), "");
  waiter.join();
  EXPECT_NE(got.load(), 0u);
  EXPECT_EQ(error.load(), 0u);
  EXPECT_GE(ui.waits.load(), 1);
  EXPECT_EQ(ui.hides.load(), 1);
  if (got.load()) ZemtaCloseFile(got.load());
}

TEST_F(ZemtaOpenFileWaitTest, CancellingTheWaitForAnotherProcessGivesTheSharingViolation) {
  ::testing::FLAGS_gtest_death_test_style = "fast";
  const std::string held = folder_.file("held"), release = folder_.file("release");
  ScriptedMessageBox box;
  RecordingWaitUi ui;
  ui.answer = [](int) { return false; };
  std::atomic<ZemtaFileHandle> got{1};
  std::atomic<uint32_t> error{0};
  std::thread waiter([&] {
    waitForFile(held);
    uint32_t code = 0;
    got = waitOpen(&code);
    error = code;
    store_test::writeFileBytes(release, "go");
  });
  EXPECT_EXIT(holdInChild(path_, held, release), ::testing::ExitedWithCode(0), "");
  waiter.join();
  EXPECT_EQ(got.load(), 0u);
  EXPECT_EQ(error.load(), 32u);
  EXPECT_EQ(box.lastText(), zemta::errorText(32));
}

}  // namespace
