// The class level: MDI frame and child frames, views, command routing and
// idle updates, dialog classes, popup menus, the status bar and the file
// dialogs' script.
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>

#include "platform/base/cp932.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/dialog_class.h"
#include "platform/ui/frame.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/view.h"
#include "tests/platform/ui/test_resources.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui = platform::ui;

namespace {

std::string cp(const char* utf8) {
  std::string out;
  EXPECT_TRUE(platform::utf8ToCp932(utf8, out));
  return out;
}

void idle() { ui::pumpUntil([] { return false; }, 40); }

// A view that records what reaches it and paints a text.
class TestView : public ui::View {
 public:
  std::vector<uint32_t> keys;
  std::string chars;
  std::string text;
  int paints = 0;
  void onPaint(ui::DrawContext& dc) override {
    ++paints;
    dc.fillRect(clientRect(), 0xFFFFFF);
    dc.setFont(cp("IPAGothic"), 40, 700);
    dc.textOut(10, 10, text);
  }
  bool onKeyDown(uint32_t vk, LPARAM) override {
    keys.push_back(vk);
    return true;
  }
  bool onChar(uint8_t byte) override {
    chars += static_cast<char>(byte);
    return true;
  }
  ui::Size sizeHint() const override { return {300, 120}; }
};

class ClassLevelTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    std::string error;
    ASSERT_TRUE(ui::loadResourceText(kUiTestResources, &error)) << error;
  }
};

void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  QTest::keyClick(focus, key, modifiers);
  ui::processPendingMessages();
}

TEST_F(ClassLevelTest, ChildFramesSwapMenusAndAcceleratorsWhenActivated) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 640, 480}, ui::FrameKind::Mdi);
  ASSERT_TRUE(frame.setMenu(200));
  ASSERT_TRUE(frame.setAccelerators(300));
  auto* reg = new ui::ChildFrame(frame, cp("登録１"));
  ASSERT_TRUE(reg->setHandles(201, 301));
  auto* regView = static_cast<TestView*>(reg->setView(std::make_unique<TestView>()));
  ASSERT_NE(regView, nullptr);
  std::vector<std::string> ran;
  regView->mapCommand(0x8003, [&](uint32_t) { ran.push_back("reg view"); });
  EXPECT_EQ(frame.menuTitles(), std::vector<std::string>{cp("登録(&R)")});

  auto* setup = new ui::ChildFrame(frame, cp("設定メニュー"));
  setup->setView(std::make_unique<TestView>());
  ASSERT_TRUE(setup->setHandles(202, 302));
  setup->mapCommand(0x8101, [&](uint32_t) { ran.push_back("setup frame"); });
  EXPECT_TRUE(setup->isActive());
  EXPECT_EQ(frame.menuTitles(), std::vector<std::string>{cp("設定(&S)")});
  EXPECT_EQ(frame.currentAccelerators(), 302);
  EXPECT_EQ(frame.childFrames(), (std::vector<ui::ChildFrame*>{setup, reg}));

  // F6 belongs to the register frame's table, F7 to the setup frame's.
  ui::setFocus(setup->activeView()->handle());
  pressKey(Qt::Key_F6);
  pressKey(Qt::Key_F7);
  EXPECT_EQ(ran, std::vector<std::string>{"setup frame"});

  // Activation through the MDI client, as the program asks for it.
  ui::sendMessage(frame.client(), ui::kWmMdiActivate, reinterpret_cast<WPARAM>(reg->handle()), 0);
  EXPECT_TRUE(reg->isActive());
  EXPECT_EQ(reinterpret_cast<HWND>(ui::sendMessage(frame.client(), ui::kWmMdiGetActive, 0, 0)), reg->handle());
  EXPECT_EQ(frame.menuTitles(), std::vector<std::string>{cp("登録(&R)")});
  EXPECT_EQ(frame.childFrames(), (std::vector<ui::ChildFrame*>{reg, setup}));
  ui::setFocus(regView->handle());
  pressKey(Qt::Key_F7);
  pressKey(Qt::Key_F6);
  EXPECT_EQ(ran, (std::vector<std::string>{"setup frame", "reg view"}));
  // F7 is no accelerator here and reaches the view; F6 went to the table.
  EXPECT_EQ(regView->keys, std::vector<uint32_t>{ui::kVkF1 + 6});

  // Closing the active frame hands the menus to the next one; closing the
  // last gives back the frame's own.
  EXPECT_TRUE(reg->close());
  EXPECT_TRUE(setup->isActive());
  EXPECT_EQ(frame.menuTitles(), std::vector<std::string>{cp("設定(&S)")});
  ui::postMessage(setup->handle(), ui::kWmClose, 0, 0);
  ui::processPendingMessages();
  ui::processPendingMessages();
  EXPECT_EQ(frame.activeChild(), nullptr);
  EXPECT_TRUE(frame.childFrames().empty());
  EXPECT_EQ(frame.menuTitles(), std::vector<std::string>{cp("ファイル(&F)")});
  EXPECT_EQ(frame.currentAccelerators(), 300);
}

class RefusingFrame : public ui::ChildFrame {
 public:
  using ChildFrame::ChildFrame;
  bool allow = false;
  std::vector<bool> activations;

 protected:
  bool onClose() override { return allow; }
  void onActivate(bool active) override { activations.push_back(active); }
};

TEST_F(ClassLevelTest, ChildFrameMayRefuseToClose) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 640, 480}, ui::FrameKind::Mdi);
  auto* child = new RefusingFrame(frame, cp("登録１"));
  HWND h = child->handle();
  ui::processPendingMessages();
  ui::sendMessage(h, ui::kWmClose, 0, 0);
  ui::processPendingMessages();
  EXPECT_EQ(ui::ChildFrame::fromHandle(h), child);
  child->allow = true;
  EXPECT_TRUE(child->close());
  EXPECT_EQ(child->activations, (std::vector<bool>{true, false}));
  ui::processPendingMessages();
  EXPECT_FALSE(ui::isWindow(h));
  EXPECT_TRUE(frame.childFrames().empty());
}

TEST_F(ClassLevelTest, CommandGoesToTheActiveViewFirstAndUpdatesRunAtIdle) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 640, 480}, ui::FrameKind::Mdi);
  ui::CommandTarget app;
  ui::setApplicationTarget(&app);
  auto* child = new ui::ChildFrame(frame, cp("登録１"));
  ASSERT_TRUE(child->setHandles(201, 0));
  ui::View* view = child->setView(std::make_unique<TestView>());
  HWND button = frame.addToolButton(0x8004, cp("未処理"));
  std::vector<std::string> ran;
  bool allowed = false;
  view->mapCommand(0x8001, [&](uint32_t) { ran.push_back("view"); });
  view->mapUpdate(0x8001, [&](uint32_t, ui::CommandState& s) {
    s.enabled = allowed;
    s.hasText = true;
    s.text = allowed ? cp("小計") : cp("小計（不可）");
  });
  child->mapCommand(0x8001, [&](uint32_t) { ran.push_back("child"); });
  child->mapCommand(0x8002, [&](uint32_t) { ran.push_back("child"); });
  frame.mapCommandRange(0x8001, 0x8003, [&](uint32_t) { ran.push_back("frame"); });
  app.mapCommand(0x9000, [&](uint32_t) { ran.push_back("app"); });

  idle();
  EXPECT_FALSE(frame.commandState(0x8001).enabled);
  EXPECT_EQ(frame.commandState(0x8001).text, cp("小計（不可）"));
  EXPECT_FALSE(frame.chooseMenuItem(0x8001));
  EXPECT_FALSE(ui::isWindowEnabled(button));  // nobody handles 0x8004
  allowed = true;
  idle();
  EXPECT_TRUE(frame.chooseMenuItem(0x8001));
  EXPECT_TRUE(frame.runCommand(0x8002));
  EXPECT_TRUE(frame.runCommand(0x8003));
  EXPECT_TRUE(frame.runCommand(0x9000));
  EXPECT_FALSE(frame.runCommand(0x8888));
  EXPECT_EQ(ran, (std::vector<std::string>{"view", "child", "frame", "app"}));
  app.mapCommand(0x8004, [&](uint32_t) { ran.push_back("app"); });
  idle();
  EXPECT_TRUE(ui::isWindowEnabled(button));
  ui::setApplicationTarget(nullptr);
}

class AmountDialog : public ui::Dialog {
 public:
  AmountDialog() : Dialog(102) {
    mapCommand(1201, [this](uint32_t) {
      ++clicks;
      ui::setDialogItemText(handle(), 1202, cp("１２３"));
    });
    mapNotify(1202, ui::kEnChange, [this] { ++edits; });
  }
  int clicks = 0, edits = 0;
  std::string amount;
  bool initialised = false;

 protected:
  bool onInitDialog() override {
    initialised = true;
    ui::setDialogItemText(handle(), 1202, cp("０"));
    return true;
  }
  void onOK() override {
    amount = ui::dialogItemText(handle(), 1202);
    endDialog(amount.empty() ? 1 : 42);
  }
};

TEST_F(ClassLevelTest, DialogClassHandlesItsButtonAndEndsWithItsResult) {
  AmountDialog dialog;
  QTimer::singleShot(50, [&] {
    ui::clickButton(dialog.item(1201));
    QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
  });
  EXPECT_EQ(dialog.doModal(), 42);
  EXPECT_TRUE(dialog.initialised);
  EXPECT_EQ(dialog.clicks, 1);
  EXPECT_EQ(dialog.amount, cp("１２３"));

  AmountDialog cancelled;
  QTimer::singleShot(50, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  EXPECT_EQ(cancelled.doModal(), 2);
  EXPECT_EQ(ui::Dialog(999).doModal(), -1);
}

TEST_F(ClassLevelTest, PopupMenuIsChosenByScriptAndRouted) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 400, 300});
  std::vector<uint32_t> ran;
  frame.mapCommand(0xE141, [&](uint32_t c) { ran.push_back(c); });
  frame.mapCommand(0xE101, [&](uint32_t c) { ran.push_back(c); });
  frame.mapUpdate(0xE101, [](uint32_t, ui::CommandState& s) { s.enabled = false; });
  std::vector<ui::PopupItem> items = ui::popupItemsOf(200, 0);
  ASSERT_EQ(items.size(), 3u);
  std::vector<ui::PopupItem> seen;
  uint32_t answer = 0xE141;
  auto previous = ui::setPopupMenuAnswerer([&](const std::vector<ui::PopupItem>& shown) {
    seen = shown;
    return answer;
  });
  EXPECT_EQ(frame.trackPopupMenu(items, 10, 10), 0xE141u);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].text, cp("終了(&X)"));
  EXPECT_FALSE(seen[0].enabled);
  EXPECT_TRUE(seen[1].separator);
  answer = 0xE101;  // disabled: cannot be chosen
  EXPECT_EQ(frame.trackPopupMenu(items, 10, 10), 0u);
  // The flat form sends the choice to its owner.
  answer = 0xE141;
  EXPECT_EQ(ui::trackPopupMenu(items, frame.handle(), 0, 0, true), 0xE141u);
  EXPECT_EQ(ran, (std::vector<uint32_t>{0xE141, 0xE141}));
  ui::setPopupMenuAnswerer(previous);
}

TEST_F(ClassLevelTest, StatusBarIndicatorsShowTheirStateAndDialogBarButtonsAreCommands) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 640, 400}, ui::FrameKind::Mdi);
  ASSERT_TRUE(frame.setStatusIndicators({ui::kIndicatorKana, ui::kIndicatorCaps, ui::kIndicatorNum, ui::kIndicatorScroll}));
  bool kana = false;
  frame.mapUpdate(ui::kIndicatorKana, [&](uint32_t, ui::CommandState& s) { s.enabled = kana; });
  frame.setStatusText(cp("レシートＯＦＦ"));
  ui::setCapsLock(true);
  frame.updateCommands();
  EXPECT_EQ(frame.statusPaneText(0), cp("レシートＯＦＦ"));
  EXPECT_EQ(frame.statusPaneText(1), "");
  EXPECT_EQ(frame.statusPaneText(2), "CAP");
  EXPECT_EQ(frame.statusPaneText(3), "NUM");
  EXPECT_EQ(frame.statusPaneText(4), "");
  kana = true;
  ui::setCapsLock(false);
  frame.updateCommands();
  EXPECT_EQ(frame.statusPaneText(1), cp("ｶﾅ"));
  EXPECT_EQ(frame.statusPaneText(2), "");

  HWND bar = frame.setDialogBar(120);
  ASSERT_NE(bar, nullptr);
  std::vector<uint32_t> ran;
  frame.mapCommand(1002, [&](uint32_t c) { ran.push_back(c); });
  frame.mapUpdate(1080, [&](uint32_t, ui::CommandState& s) {
    s.hasText = true;
    s.text = cp("レシートＯＦＦ");
    s.enabled = s.control != nullptr;
  });
  frame.updateCommands();
  EXPECT_TRUE(ui::isWindowEnabled(ui::dialogItem(bar, 1002)));
  EXPECT_FALSE(ui::isWindowEnabled(ui::dialogItem(bar, 1003)));  // nobody handles it
  EXPECT_EQ(ui::dialogItemText(bar, 1080), cp("レシートＯＦＦ"));
  EXPECT_TRUE(ui::isWindowEnabled(ui::dialogItem(bar, 1080)));
  ui::clickButton(ui::dialogItem(bar, 1002));
  EXPECT_EQ(ran, std::vector<uint32_t>{1002});
  EXPECT_EQ(frame.setDialogBar(999), nullptr);

  // A docked pane holds a view and keeps the height it is given.
  HWND bottom = frame.addPane(0xE8FF, ui::DockSide::Bottom, 112);
  ASSERT_NE(bottom, nullptr);
  TestView paneView;
  ASSERT_NE(paneView.create(bottom), nullptr);
  idle();
  EXPECT_NEAR(ui::windowRect(bottom).height(), 112, 4);
  EXPECT_TRUE(frame.resizePane(0xE8FF, 60));
  idle();
  EXPECT_NEAR(ui::windowRect(bottom).height(), 60, 4);
  EXPECT_TRUE(frame.removePane(0xE8FF));
  EXPECT_EQ(frame.pane(0xE8FF), nullptr);
}

// Kanji that the font lacks draw as one and the same box: two different
// kanji must give two different pictures, each with many dark pixels.
void expectKanjiVisible(const QImage& image, const QRect& first, const QRect& second) {
  auto dark = [&](const QRect& r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x) n += qGray(image.pixel(x, y)) < 96;
    return n;
  };
  EXPECT_GT(dark(first), 60);
  EXPECT_GT(dark(second), 60);
  EXPECT_NE(image.copy(first), image.copy(second));
}

TEST_F(ClassLevelTest, ViewPaintsJapaneseTextIntoAGrab) {
  ui::Frame frame("MainFrame", cp("レジ"), {0, 0, 640, 480}, ui::FrameKind::Mdi);
  auto* child = new ui::ChildFrame(frame, cp("登録１"));
  auto* view = static_cast<TestView*>(child->setView(std::make_unique<TestView>()));
  view->text = cp("小計");
  ui::Rect r = ui::windowRect(view->handle());
  EXPECT_GE(r.width(), 300);  // the view's size hint sized the child frame
  EXPECT_GE(r.height(), 120);
  auto path = std::filesystem::temp_directory_path() /
              ("ui_view_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".png");
  ASSERT_TRUE(ui::grabWindowToPng(view->handle(), path.string()));
  QImage image(QString::fromStdString(path.string()));
  std::filesystem::remove(path);
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(view->paints, 0);
  expectKanjiVisible(image, QRect(10, 10, 40, 40), QRect(50, 10, 40, 40));

  // Keys typed into the view arrive as virtual keys and code page 932 bytes.
  ui::setFocus(view->handle());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::NoModifier);
  QKeyEvent kanji(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("計"));
  QApplication::sendEvent(QApplication::focusWidget(), &kanji);
  EXPECT_EQ(view->keys, std::vector<uint32_t>{'A'});
  EXPECT_EQ(view->chars, "a" + cp("計"));
  // The main frame sends keys to the active view as messages.
  ui::sendMessage(frame.activeView()->handle(), ui::kWmKeyDown, ui::kVkF1 + 7, 0x00420001);
  EXPECT_EQ(view->keys, (std::vector<uint32_t>{'A', ui::kVkF1 + 7}));
}

// Asked for a page range, the print dialog offers every page or pages from
// one to another, with the copies preset by the caller: a clerk picks pages 3
// down to 2 and three collated copies with the mouse and keys.
TEST_F(ClassLevelTest, ThePrintDialogTakesAPageRangeAndCollatedCopies) {
  ui::FileDialogRequest request;
  request.pageRange = true;
  request.copies = 2;
  request.printers = {"", cp("レシート")};
  int presetCopies = 0;
  bool collateAtFirst = false;
  const std::filesystem::path shot = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "print" / "print_dialog.png";
  std::filesystem::create_directories(shot.parent_path());
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 30000));
    QWidget* box = QApplication::activeModalWidget();
    const auto spins = box->findChildren<QSpinBox*>();  // from, to, copies
    ASSERT_EQ(spins.size(), 3);
    presetCopies = spins[2]->value();
    auto* collate = box->findChild<QCheckBox*>();
    collateAtFirst = collate && collate->isChecked();
    for (auto* radio : box->findChildren<QRadioButton*>())
      if (radio->text() == QString::fromUtf8("ページ指定(&G)")) QTest::mouseClick(radio, Qt::LeftButton);
    const char* typed[] = {"3", "2", "3"};
    for (int i = 0; i < 3; ++i) {
      QTest::keyClick(spins[i], Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(spins[i], typed[i]);
    }
    QTest::mouseClick(collate, Qt::LeftButton);
    box->grab().save(QString::fromStdString(shot.string()));
    for (auto* button : box->findChildren<QPushButton*>())
      if (button->text() == QStringLiteral("OK")) QTest::mouseClick(button, Qt::LeftButton);
  });
  std::string printer = "keep";
  ui::PrintChoice choice;
  ASSERT_TRUE(ui::printerDialog(nullptr, request, printer, &choice));
  EXPECT_EQ(printer, "");  // the PDF file, listed first
  EXPECT_EQ(presetCopies, 2);
  EXPECT_FALSE(collateAtFirst);
  EXPECT_EQ(choice.firstPage, 2);
  EXPECT_EQ(choice.lastPage, 3);
  EXPECT_EQ(choice.copies, 3);
  EXPECT_TRUE(choice.collate);
  EXPECT_FALSE(QImage(QString::fromStdString(shot.string())).isNull());

  // A scripted answer takes the printer only: every page, the preset copies.
  auto previous = ui::setFileDialogAnswerer([](const ui::FileDialogRequest&, std::string& answer) {
    answer = "queue";
    return true;
  });
  ASSERT_TRUE(ui::printerDialog(nullptr, request, printer, &choice));
  EXPECT_EQ(printer, "queue");
  EXPECT_EQ(choice.firstPage, 1);
  EXPECT_EQ(choice.lastPage, 65535);
  EXPECT_EQ(choice.copies, 2);
  ui::setFileDialogAnswerer(previous);
}

TEST_F(ClassLevelTest, FileDialogsAreAnsweredByScriptWithJapaneseCaptions) {
  std::vector<ui::FileDialogRequest> seen;
  auto previous = ui::setFileDialogAnswerer([&](const ui::FileDialogRequest& r, std::string& answer) {
    seen.push_back(r);
    if (r.kind == ui::FileDialogKind::Printer) return false;  // cancelled
    answer = r.kind == ui::FileDialogKind::Folder ? "/tmp/backup" : "/tmp/plu";
    return true;
  });
  ui::FileDialogRequest open;
  open.filters = ui::parseFileFilter(cp("CSV ファイル (*.csv)|*.csv|すべてのファイル (*.*)|*.*||"));
  std::string path;
  EXPECT_TRUE(ui::openFileDialog(nullptr, open, path));
  EXPECT_EQ(path, "/tmp/plu");
  ui::FileDialogRequest save;
  save.defaultExtension = "csv";
  EXPECT_TRUE(ui::saveFileDialog(nullptr, save, path));
  EXPECT_EQ(path, "/tmp/plu.csv");
  std::string folder, printer = "keep";
  EXPECT_TRUE(ui::folderDialog(nullptr, {}, folder));
  EXPECT_EQ(folder, "/tmp/backup");
  EXPECT_FALSE(ui::printerDialog(nullptr, {}, printer));
  EXPECT_EQ(printer, "keep");
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].caption, cp("ファイルを開く"));
  ASSERT_EQ(seen[0].filters.size(), 2u);
  EXPECT_EQ(seen[0].filters[1].first, cp("すべてのファイル (*.*)"));
  EXPECT_EQ(seen[0].filters[0].second, "*.csv");
  EXPECT_EQ(seen[1].caption, cp("名前を付けて保存"));
  EXPECT_EQ(seen[2].caption, cp("フォルダーの参照"));
  EXPECT_EQ(seen[3].caption, cp("印刷"));
  ASSERT_FALSE(seen[3].printers.empty());
  EXPECT_EQ(seen[3].printers.front(), "");  // the PDF file comes first
  ui::setFileDialogAnswerer(previous);
}

}  // namespace
