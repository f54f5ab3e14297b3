#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/base/cp932.h"
#include "platform/base/message_box.h"
#include "platform/ui/dialog.h"
#include "platform/ui/draw.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "tests/platform/ui/test_resources.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui = platform::ui;

namespace {

std::string cp(const char* utf8) {
  std::string out;
  EXPECT_TRUE(platform::utf8ToCp932(utf8, out));
  return out;
}

struct Received {
  HWND window;
  uint32_t message;
  WPARAM wParam;
  LPARAM lParam;
};

// A window that records what reaches its procedure.
struct RecordingWindow {
  std::vector<Received> got;
  HWND handle = nullptr;
  explicit RecordingWindow(HWND parent = nullptr) {
    ui::WindowSpec windowSpec;
    windowSpec.className = "RecordingWindow";
    windowSpec.title = cp("記録");
    windowSpec.parent = parent;
    handle = ui::createWindow(windowSpec, [this](HWND h, uint32_t m, WPARAM w, LPARAM l) -> LRESULT {
      got.push_back({h, m, w, l});
      if (m == ui::kWmUser + 1) return static_cast<LRESULT>(w * 2);
      return ui::defaultWindowProc(h, m, w, l);
    });
  }
  ~RecordingWindow() {
    if (ui::isWindow(handle)) ui::destroyWindow(handle);
  }
  std::vector<Received> only(uint32_t message) const {
    std::vector<Received> out;
    for (auto& r : got)
      if (r.message == message) out.push_back(r);
    return out;
  }
};

class WindowTest : public UiTest {};

TEST_F(WindowTest, PostedMessagesArriveOnceInOrderAndNotBeforeTheLoopRuns) {
  RecordingWindow w;
  ASSERT_TRUE(ui::isWindow(w.handle));
  EXPECT_EQ(w.got.front().message, ui::kWmCreate);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(ui::postMessage(w.handle, ui::kWmUser + 0x65, i, -i));
  EXPECT_TRUE(w.only(ui::kWmUser + 0x65).empty());
  // A sent message runs at once, ahead of what is queued.
  EXPECT_EQ(ui::sendMessage(w.handle, ui::kWmUser + 1, 21, 0), 42);
  ui::processPendingMessages();
  ui::processPendingMessages();
  auto posted = w.only(ui::kWmUser + 0x65);
  ASSERT_EQ(posted.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(posted[i].wParam, static_cast<WPARAM>(i));
    EXPECT_EQ(posted[i].lParam, -i);
  }
}

TEST_F(WindowTest, MessagesToADestroyedWindowAreDroppedAndRefused) {
  auto* w = new RecordingWindow;
  HWND h = w->handle;
  EXPECT_TRUE(ui::postMessage(h, ui::kWmUser + 2, 0, 0));
  ui::destroyWindow(h);
  EXPECT_FALSE(ui::isWindow(h));
  EXPECT_FALSE(ui::postMessage(h, ui::kWmUser + 2, 0, 0));
  ui::processPendingMessages();
  EXPECT_TRUE(w->only(ui::kWmUser + 2).empty());
  EXPECT_EQ(w->only(ui::kWmDestroy).size(), 1u);
  delete w;
}

TEST_F(WindowTest, WorkerThreadsPostAndSendToTheUiThread) {
  RecordingWindow w;
  std::atomic<LRESULT> answer{0};
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) ui::postMessage(w.handle, ui::kWmUser + 3, i, 0);
    answer = ui::sendMessage(w.handle, ui::kWmUser + 1, 50, 0);
  });
  ASSERT_TRUE(ui::pumpUntil([&] { return answer.load() != 0; }, 5000));
  worker.join();
  ui::processPendingMessages();
  EXPECT_EQ(answer.load(), 100);
  auto posted = w.only(ui::kWmUser + 3);
  ASSERT_EQ(posted.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(posted[i].wParam, static_cast<WPARAM>(i));
  // All of it ran on the UI thread, so the window saw the send after the posts.
  EXPECT_EQ(w.got.back().message, ui::kWmUser + 1);
}

TEST_F(WindowTest, TwoTimersTickWithTheirIdsAtTheirPeriods) {
  RecordingWindow w;
  ASSERT_TRUE(ui::setTimer(w.handle, 101, 50));
  ASSERT_TRUE(ui::setTimer(w.handle, 102, 200));
  auto count = [&](WPARAM id) {
    int n = 0;
    for (auto& r : w.only(ui::kWmTimer)) n += r.wParam == id;
    return n;
  };
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ui::pumpUntil([&] { return count(102) >= 3; }, 3000));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(590));
  EXPECT_GE(count(101), 10);
  EXPECT_LE(count(101), 14);
  EXPECT_TRUE(ui::killTimer(w.handle, 101));
  EXPECT_FALSE(ui::killTimer(w.handle, 101));
  int before = count(101);
  ui::pumpUntil([] { return false; }, 150);
  EXPECT_EQ(count(101), before);
}

TEST_F(WindowTest, TimersOnTheManualClockFireOnlyWhenItIsMoved) {
  ui::useManualTimerClock(true);
  RecordingWindow w;
  ASSERT_TRUE(ui::setTimer(w.handle, 106, 2000));
  ASSERT_TRUE(ui::setTimer(w.handle, 7, 500));
  auto ticks = [&] {
    std::vector<WPARAM> ids;
    for (auto& r : w.only(ui::kWmTimer)) ids.push_back(r.wParam);
    return ids;
  };
  ui::pumpUntil([] { return false; }, 50);
  EXPECT_TRUE(ticks().empty());
  ui::advanceTimerClock(1999);
  EXPECT_EQ(ticks(), (std::vector<WPARAM>{7, 7, 7}));
  ui::advanceTimerClock(1);  // 2000: both fall due, the one set first goes first
  EXPECT_EQ(ticks(), (std::vector<WPARAM>{7, 7, 7, 106, 7}));
  EXPECT_TRUE(ui::killTimer(w.handle, 7));
  EXPECT_FALSE(ui::killTimer(w.handle, 7));
  ui::advanceTimerClock(2000);
  EXPECT_EQ(ticks().size(), 6u);
  EXPECT_EQ(ticks().back(), 106u);
  ui::useManualTimerClock(false);
  ui::advanceTimerClock(10000);
  EXPECT_EQ(ticks().size(), 6u);
}

TEST_F(WindowTest, AFramelessTopmostWindowSaysSo) {
  ui::WindowSpec window;
  window.className = "Plain";
  HWND plain = ui::createWindow(window, ui::defaultWindowProc);
  window.frameless = window.topmost = true;
  HWND bare = ui::createWindow(window, ui::defaultWindowProc);
  EXPECT_FALSE(ui::isFrameless(plain));
  EXPECT_FALSE(ui::isTopmost(plain));
  EXPECT_TRUE(ui::isFrameless(bare));
  EXPECT_TRUE(ui::isTopmost(bare));
  ui::destroyWindow(plain);
  ui::destroyWindow(bare);
}

TEST_F(WindowTest, RegisteredMessageIdsAreOnePerName) {
  uint32_t a = ui::registerWindowMessage("ZEMTA_REF_EXTERN");
  uint32_t b = ui::registerWindowMessage("zemta_ref_extern");
  uint32_t c = ui::registerWindowMessage("ANOTHER_MESSAGE");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(ui::registerWindowMessage(""), 0u);
}

TEST_F(WindowTest, QuitEndsTheMessageLoopWithItsCode) {
  RecordingWindow w;
  ui::postMessage(w.handle, ui::kWmUser + 4, 0, 0);
  ui::setWindowProc(w.handle, [](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == ui::kWmUser + 4) ui::postQuitMessage(7);
    return ui::defaultWindowProc(h, m, wp, lp);
  });
  EXPECT_EQ(ui::runMessageLoop(), 7);
}

TEST_F(WindowTest, ScriptedAnswererAnswersTheFrameworksBoxes) {
  testing_support::ScriptedMessageBox boxes;
  boxes.answer(platform::kIdNo);
  RecordingWindow w;
  EXPECT_EQ(ui::messageBox(w.handle, cp("保存しますか？"), cp("確認"), platform::kMbYesNo), platform::kIdNo);
  EXPECT_EQ(ui::messageBox(w.handle, cp("続けますか？"), cp("確認"), platform::kMbOkCancel | platform::kMbDefButton2),
            platform::kIdCancel);
  ASSERT_EQ(boxes.count(), 2u);
  EXPECT_EQ(boxes.shown()[0].text, cp("保存しますか？"));
  EXPECT_EQ(boxes.shown()[0].owner, static_cast<void*>(w.handle));
}

// The real box, answered by keys: Enter takes the default button, Esc gives
// Cancel when there is one.
TEST_F(WindowTest, RealBoxHasJapaneseButtonsAndAnswersByKeys) {
  struct Case {
    uint32_t style;
    Qt::Key key;
    int expected;
    std::vector<QString> captions;
  } cases[] = {
      {platform::kMbYesNo | platform::kMbDefButton2, Qt::Key_Return, platform::kIdNo,
       {QStringLiteral("はい"), QStringLiteral("いいえ")}},
      {platform::kMbYesNoCancel, Qt::Key_Escape, platform::kIdCancel,
       {QStringLiteral("はい"), QStringLiteral("いいえ"), QStringLiteral("キャンセル")}},
      {platform::kMbOk | platform::kMbIconWarning, Qt::Key_Return, platform::kIdOk, {QStringLiteral("OK")}},
  };
  for (const Case& c : cases) {
    QStringList seen;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      for (auto* b : box->buttons()) seen << b->text();
      QTest::keyClick(box, c.key);
    });
    EXPECT_EQ(ui::messageBox(nullptr, cp("テスト"), cp("確認"), c.style), c.expected);
    for (const QString& caption : c.captions) EXPECT_TRUE(seen.contains(caption)) << caption.toStdString();
  }
}

TEST_F(WindowTest, WindowGrabbedToPngShowsJapaneseText) {
  RecordingWindow w;
  ui::moveWindow(w.handle, {0, 0, 240, 60});
  ui::ControlTemplate label;
  label.kind = ui::ControlKind::Static;
  label.id = 10;
  label.rect = {4, 4, 236, 56};
  label.text = cp("小計　１，２３４円");
  HWND h = ui::createControl(w.handle, label);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ui::windowText(h), label.text);
  auto path = std::filesystem::temp_directory_path() / ("ui_grab_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".png");
  ASSERT_TRUE(ui::grabWindowToPng(w.handle, path.string()));
  QImage image(QString::fromStdString(path.string()));
  ASSERT_FALSE(image.isNull());
  // Kanji drawn as glyphs leave many dark pixels; with no CJK font Qt draws
  // a few hollow boxes.
  int dark = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 96;
  EXPECT_GT(dark, 150);
  QFontMetrics metrics(QApplication::font());
  EXPECT_TRUE(metrics.inFontUcs4(0x5C0F));  // 小
  std::filesystem::remove(path);
}

// A push button that shows a picture: the picture is drawn in place of the
// text, greyed while the button is disabled; the text stays the window text
// (and comes back on the face when the picture is taken away).
TEST_F(WindowTest, ButtonShowsPictureInPlaceOfItsText) {
  RecordingWindow w;
  ui::moveWindow(w.handle, {0, 0, 60, 40});
  ui::ControlTemplate button;
  button.kind = ui::ControlKind::PushButton;
  button.id = 11;
  button.rect = {0, 0, 40, 24};
  button.text = "Next";
  HWND h = ui::createControl(w.handle, button);
  ASSERT_NE(h, nullptr);
  ui::Image picture = ui::Image::transparent(12, 12);
  {
    ui::DrawContext dc(picture);
    dc.fillRect({2, 2, 10, 10}, 0x000000);
  }
  EXPECT_TRUE(picture.isTransparent(0, 0));
  EXPECT_FALSE(picture.isTransparent(5, 5));
  EXPECT_FALSE(ui::setButtonImage(w.handle, picture));  // no button
  ASSERT_TRUE(ui::setButtonImage(h, picture));
  EXPECT_TRUE(ui::buttonHasImage(h));
  EXPECT_EQ(ui::windowText(h), "Next");
  ui::setWindowText(h, "Forward");
  EXPECT_EQ(ui::windowText(h), "Forward");
  EXPECT_TRUE(ui::buttonHasImage(h));

  // Dark pixels in the middle of the face: the black square, or its grey
  // when disabled.
  auto darkest = [&]() {
    auto path = std::filesystem::temp_directory_path() /
                ("ui_button_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".png");
    EXPECT_TRUE(ui::grabWindowToPng(h, path.string()));
    QImage image(QString::fromStdString(path.string()));
    std::filesystem::remove(path);
    int least = 255;
    for (int y = 10; y < 14; ++y)
      for (int x = 18; x < 22; ++x) least = std::min(least, qGray(image.pixel(x, y)));
    return least;
  };
  EXPECT_LT(darkest(), 40);
  ui::enableWindow(h, false);
  const int greyed = darkest();
  EXPECT_GT(greyed, 60);
  EXPECT_LT(greyed, 230);
  ui::enableWindow(h, true);

  ASSERT_TRUE(ui::setButtonImage(h, ui::Image()));
  EXPECT_FALSE(ui::buttonHasImage(h));
  EXPECT_EQ(ui::windowText(h), "Forward");
}

// The modal dialog of template 100: keys type a number into the first edit,
// Tab moves on to the password, Enter presses the default button.
TEST_F(WindowTest, ModalDialogFromTemplateDrivenByKeys) {
  std::string error;
  ASSERT_TRUE(ui::loadResourceText(kUiTestResources, &error)) << error;
  std::string number, password;
  int initParam = 0;
  QTimer::singleShot(50, [] {
    // The dialog may take a while to show and take focus on a loaded machine.
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() && QApplication::focusWidget(); },
                                30000));
    QTest::keyClicks(QApplication::focusWidget(), "12345");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), "pw");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  });
  intptr_t result = ui::dialogBox(100, nullptr, [&](HWND d, uint32_t m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == ui::kWmInitDialog) {
      initParam = static_cast<int>(l);
      EXPECT_EQ(ui::windowText(d), cp("会員番号の入力"));
      EXPECT_EQ(ui::dialogItemText(d, 1000), cp("会員番号"));
      return 1;
    }
    if (m == ui::kWmCommand && ui::lowWord(w) == 1) {
      number = ui::dialogItemText(d, 1001);
      password = ui::dialogItemText(d, 1002);
      ui::endDialog(d, 77);
      return 1;
    }
    return 0;
  }, 5);
  EXPECT_EQ(result, 77);
  EXPECT_EQ(initParam, 5);
  EXPECT_EQ(number, "12345");
  EXPECT_EQ(password, "pw");
}

TEST_F(WindowTest, EscapeCancelsADialogWhoseProcedureLeavesIt) {
  std::string error;
  ASSERT_TRUE(ui::loadResourceText(kUiTestResources, &error)) << error;
  QTimer::singleShot(50, [] {
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 30000));
    QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
  });
  EXPECT_EQ(ui::dialogBox(100, nullptr, [](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 0; }), 2);
  EXPECT_EQ(ui::dialogBox(9999, nullptr, nullptr), -1);
}

// A static text's "&V" is a mnemonic of the control after it: Alt+V takes
// the focus there (and the label shows no "&").
TEST_F(WindowTest, StaticMnemonicLeadsToTheNextControl) {
  std::string error;
  ASSERT_TRUE(ui::loadResourceText(kUiTestResources, &error)) << error;
  HWND d = ui::createDialog(103, nullptr, [](HWND, uint32_t, WPARAM, LPARAM) -> LRESULT { return 0; });
  ASSERT_NE(d, nullptr);
  ui::bringToFront(d);
  ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeWindow() != nullptr; }, 30000));
  EXPECT_EQ(ui::focusWindow(), ui::dialogItem(d, 1202));
  QTest::keyClick(QApplication::activeWindow(), Qt::Key_V, Qt::AltModifier);
  ASSERT_TRUE(ui::isWindow(d));
  EXPECT_EQ(ui::focusWindow(), ui::dialogItem(d, 1204));
  QTest::keyClick(QApplication::activeWindow(), Qt::Key_N, Qt::AltModifier);
  EXPECT_EQ(ui::focusWindow(), ui::dialogItem(d, 1202));
  EXPECT_EQ(ui::dialogItemText(d, 1203), cp("確認(&V):"));  // the text itself is kept
  ui::destroyWindow(d);
}

TEST_F(WindowTest, StandardControlsByIdInAModelessDialog) {
  std::string error;
  ASSERT_TRUE(ui::loadResourceText(kUiTestResources, &error)) << error;
  std::vector<uint32_t> commands;
  HWND d = ui::createDialog(101, nullptr, [&](HWND, uint32_t m, WPARAM w, LPARAM) -> LRESULT {
    if (m == ui::kWmCommand) commands.push_back(static_cast<uint32_t>(w));
    return 0;
  });
  ASSERT_NE(d, nullptr);
  HWND list = ui::dialogItem(d, 1101), combo = ui::dialogItem(d, 1102), report = ui::dialogItem(d, 1103);
  HWND date = ui::dialogItem(d, 1104), progress = ui::dialogItem(d, 1105), spin = ui::dialogItem(d, 1106);
  EXPECT_EQ(ui::windowClassName(list), "ListBox");
  EXPECT_EQ(ui::controlId(combo), 1102);
  EXPECT_EQ(ui::addListItem(list, cp("現金")), 0);
  EXPECT_EQ(ui::addListItem(list, cp("クレジット")), 1);
  EXPECT_TRUE(ui::setListSelection(list, 1));
  EXPECT_EQ(ui::listSelection(list), 1);
  EXPECT_EQ(ui::listItemText(list, 1), cp("クレジット"));
  ui::addListItem(combo, "A");
  ui::addListItem(combo, "B");
  EXPECT_EQ(ui::listItemCount(combo), 2);
  ui::addReportColumn(report, cp("品名"), 80);
  ui::addReportColumn(report, cp("金額"), 60);
  EXPECT_EQ(ui::addReportRow(report, {cp("りんご"), "120"}), 0);
  EXPECT_EQ(ui::reportCell(report, 0, 1), "120");
  EXPECT_TRUE(ui::setPickerDate(date, {2024, 3, 9}));
  EXPECT_EQ(ui::pickerText(date), cp("2024年03月09日"));
  EXPECT_FALSE(ui::setPickerDate(date, {2024, 2, 30}));
  EXPECT_EQ(ui::pickerDate(date).day, 9);
  ui::setControlRange(progress, 0, 10);
  ui::setControlPosition(progress, 4);
  EXPECT_EQ(ui::controlPosition(progress), 4);
  ui::setControlRange(spin, 1, 5);
  ui::setControlPosition(spin, 9);
  EXPECT_EQ(ui::controlPosition(spin), 5);
  EXPECT_EQ(ui::dialogItemText(d, 1107), cp("変更不可"));
  ui::clickButton(ui::dialogItem(d, 2));
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), 2u);
  EXPECT_FALSE(ui::isWindow(d));  // IDCANCEL left to the default ends it
}

TEST_F(WindowTest, ClipboardTextIsCodePage932BothWays) {
  const std::string text = cp("①㈱～小計\\");
  ASSERT_TRUE(ui::setClipboardText(text));
  std::string back;
  ASSERT_TRUE(ui::clipboardText(back));
  EXPECT_EQ(back, text);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("①㈱～小計\\"));
  EXPECT_FALSE(ui::setClipboardText(std::string("\x81", 1)));  // a lone lead byte
}

}  // namespace
