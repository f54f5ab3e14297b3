#include "lib/core/report.h"

#include <gtest/gtest.h>

#include <thread>

#include "lib/core/library_locks.h"
#include "platform/base/last_error.h"
#include "support/scripted_message_box.h"

namespace {

using testing_support::ScriptedMessageBox;

struct CatalogueCase {
  uint32_t code;
  const char* text;
};

// A sample across the groups, each exactly as the user reads it.
const CatalogueCase kCatalogueCases[] = {
    {0x20000001, "ファイルの読み込み、または、書き込みサイズが異なっていました。\nディスクが壊れている可能性がありますので、スキャンディスクを行ってみて下さい。"},
    {0x20000005, "使用中のため、ファイルにアクセスできません。"},
    {0x20000085, "関数への引数に無効なパラメータを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x200000FF, "関数への引数に無効なポインタを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20000102, "ファイルデータベース関数への引数に無効なハンドルを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20001001, "システムリソースが不足しています。\n幾つかのウィンドウを閉じて下さい。"},
    {0x200010F2, "ネストされた領域はありません。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x20009001, "ＳＱＬサーバーへの接続に失敗しました。\nサーバーが見つからないか、サーバーへの接続権限が無い可能性があります。"},
    // Not in the catalogue: the default text.
    {0x20000999, "未定義のアプリケーションエラーコードを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    {0x2000FFFF, "未定義のアプリケーションエラーコードを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。"},
    // System codes.
    {2, "指定されたファイルが見つかりません。"},
    {32, "プロセスはファイルにアクセスできません。別のプロセスが使用中です。"},
};

TEST(ReportError, ShowsTheCatalogueTextOfEachCode) {
  ScriptedMessageBox box;
  for (const auto& c : kCatalogueCases) {
    ZEMTA_REPORT(c.code);
    EXPECT_EQ(box.lastText(), c.text) << std::hex << c.code;
    EXPECT_EQ(box.shown().back().style, platform::kMbIconInformation);
  }
  EXPECT_EQ(box.count(), std::size(kCatalogueCases));
}

TEST(ReportError, TextsAreCodePage932Bytes) {
  // "使用中" in code page 932.
  EXPECT_EQ(zemta::errorText(0x20000005).substr(0, 6), "\x8E\x67\x97\x70\x92\x86");
}

TEST(ReportError, MinusOneStandsForTheLastError) {
  ScriptedMessageBox box;
  platform::setLastError(platform::kErrorSharingViolation);
  ZEMTA_REPORT(-1);
  EXPECT_EQ(box.lastText(), zemta::errorText(32));
}

TEST(ReportError, UnknownSystemCodeStillGetsAText) {
  EXPECT_FALSE(zemta::errorText(54321).empty());
  EXPECT_NE(zemta::errorText(54321).find("54321"), std::string::npos);
}

TEST(ReportError, MessagesOffDoNothing) {
  ScriptedMessageBox box;
  EXPECT_EQ(ZemtaEnableLastErrorMessage(0), 1);
  ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
  platform::setLastError(5);
  ZEMTA_REPORT(-1);
  EXPECT_EQ(platform::lastError(), 5u);
  EXPECT_EQ(ZemtaEnableLastErrorMessage(1), 0);
  EXPECT_EQ(box.count(), 0u);
}

TEST(UnlockedMessageBox, LetsGoOfHeldLocksWhileUpAndTakesThemBack) {
  ScriptedMessageBox box;
  zemta::apiLock().create();
  zemta::refreshLock().create();
  ASSERT_TRUE(zemta::apiLock().take());
  ASSERT_TRUE(zemta::refreshLock().take());

  bool apiFreeWhileUp = false, refreshFreeWhileUp = false;
  int32_t counterWhileUp = 0;
  box.whileShown([&](const platform::MessageBoxRequest&) {
    // Another thread can take and give back the lock while the box is up.
    std::thread other([&] {
      apiFreeWhileUp = zemta::apiLock().tryTake();
      if (apiFreeWhileUp) zemta::apiLock().release();
      refreshFreeWhileUp = zemta::refreshLock().tryTake();
      if (refreshFreeWhileUp) zemta::refreshLock().release();
    });
    other.join();
    counterWhileUp = zemta::lockUseCounter();
  });
  ZEMTA_REPORT(ZEMTA_ERR_FILE_IN_USE);

  EXPECT_TRUE(apiFreeWhileUp);
  EXPECT_TRUE(refreshFreeWhileUp);
  EXPECT_EQ(counterWhileUp, 2);
  EXPECT_EQ(zemta::lockUseCounter(), 0);
  EXPECT_TRUE(zemta::apiLock().isHeld());
  EXPECT_TRUE(zemta::refreshLock().isHeld());
  zemta::apiLock().release();
  zemta::refreshLock().release();

  // With neither held, the box leaves both alone.
  box.whileShown([&](const platform::MessageBoxRequest&) { counterWhileUp = zemta::lockUseCounter(); });
  ZEMTA_REPORT(ZEMTA_ERR_FILE_IN_USE);
  EXPECT_EQ(counterWhileUp, 0);
  EXPECT_FALSE(zemta::apiLock().isHeld());
  zemta::apiLock().destroy();
  zemta::refreshLock().destroy();
}

TEST(LibraryLock, OnlyOneThreadGetsIn) {
  zemta::LibraryLock lock;
  lock.create();
  int inside = 0, most = 0;
  std::mutex m;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(lock.take());
        {
          std::lock_guard<std::mutex> g(m);
          most = std::max(most, ++inside);
        }
        {
          std::lock_guard<std::mutex> g(m);
          --inside;
        }
        lock.release();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(most, 1);
}

}  // namespace
