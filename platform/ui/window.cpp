#include "platform/ui/window.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFont>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QColor>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "platform/base/shared_state.h"
#include "platform/ui/input.h"
#include "platform/ui/internal.h"

namespace platform::ui {

void installInputFilter();  // input.cpp

namespace detail {

PLATFORM_SHARED_STATE UiState& sharedUiState() {
  static UiState* s = new UiState;  // lives until the process ends
  return *s;
}

UiState& state() { return sharedUiState(); }

QString fromCp932(const std::string& text) {
  std::string utf8;
  if (!cp932ToUtf8(text, utf8)) utf8 = toUtf8Lossy(text);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string toCp932(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  return toCp932Lossy(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

// A message posted to a window: carried to the UI thread by the dispatcher's
// queue, which keeps the order of posting.
class PostedMessage : public QEvent {
 public:
  // A fixed number, not one handed out at run time: the layer is linked into
  // each library and the program, and every copy must agree on it. Qt hands
  // out registered types from the top of the user range down, far from here.
  static QEvent::Type eventType() { return static_cast<QEvent::Type>(QEvent::User + 0x0E0); }
  PostedMessage(HWND w, uint32_t m, WPARAM wp, LPARAM lp)
      : QEvent(eventType()), window(w), message(m), wParam(wp), lParam(lp) {}
  HWND window;
  uint32_t message;
  WPARAM wParam;
  LPARAM lParam;
};

// What has been posted and not yet taken for delivery, in posting order, so
// that a window's queue can be looked into without removing anything. An
// event leaves it as its delivery starts, or when Qt discards it undelivered.
struct PostedRecord {
  const QEvent* event;
  HWND window;
  uint32_t message;
  WPARAM wParam;
};
struct PostedQueue {
  std::recursive_mutex lock;  // Qt may delete an event it refuses inside postEvent
  std::vector<PostedRecord> records;
};

// One per process, like the window registry: the module that posts and the
// one that delivers may be different.
PLATFORM_SHARED_STATE void* sharedPostedQueue() {
  static PostedQueue* q = new PostedQueue;  // lives until the process ends
  return q;
}

PostedQueue& postedQueue() { return *static_cast<PostedQueue*>(sharedPostedQueue()); }

void forgetPosted(const QEvent* event) {
  PostedQueue& q = postedQueue();
  std::lock_guard<std::recursive_mutex> guard(q.lock);
  for (auto it = q.records.begin(); it != q.records.end(); ++it) {
    if (it->event == event) {
      q.records.erase(it);
      return;
    }
  }
}

class RecordedMessage : public PostedMessage {
 public:
  using PostedMessage::PostedMessage;
  ~RecordedMessage() override { forgetPosted(this); }
};

class Dispatcher : public QObject {
 public:
  using QObject::QObject;

 protected:
  void customEvent(QEvent* event) override {
    if (event->type() == PostedMessage::eventType()) {
      auto* posted = static_cast<PostedMessage*>(event);
      forgetPosted(event);
      if (isWindow(posted->window)) deliver(posted->window, posted->message, posted->wParam, posted->lParam);
    }
  }
};

QWidget* widgetOf(HWND window) {
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  auto it = s.windows.find(key(window));
  if (it == s.windows.end()) return nullptr;
  return it->second.widget.data();
}

QWidget* liveWidget(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) setLastError(kErrorInvalidHandle);
  return w;
}

HWND handleOfWidget(const QObject* widget) {
  if (!widget) return nullptr;
  QVariant v = widget->property("platform.ui.handle");
  if (!v.isValid()) return nullptr;
  HWND h = handleOf(static_cast<uintptr_t>(v.toULongLong()));
  return isWindow(h) ? h : nullptr;
}

HWND attach(QWidget* widget, const std::string& className, WindowProc proc) {
  if (HWND existing = handleOfWidget(widget)) {
    if (proc) setWindowProc(existing, std::move(proc));
    return existing;
  }
  UiState& s = state();
  uintptr_t k;
  {
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    k = s.nextHandle;
    s.nextHandle += 0x10;
    WindowEntry& entry = s.windows[k];
    entry.widget = widget;
    entry.proc = std::move(proc);
    entry.className = className;
    entry.order = s.nextOrder++;
  }
  widget->setProperty("platform.ui.handle", QVariant::fromValue<qulonglong>(k));
  QObject::connect(widget, &QObject::destroyed, [k]() {
    UiState& st = state();
    std::lock_guard<std::recursive_mutex> guard(st.mutex);
    st.windows.erase(k);
  });
  return handleOf(k);
}

LRESULT deliver(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  WindowProc proc;
  {
    UiState& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    auto it = s.windows.find(key(window));
    if (it == s.windows.end()) return 0;
    proc = it->second.proc;
  }
  if (proc) return proc(window, message, wParam, lParam);
  return defaultWindowProc(window, message, wParam, lParam);
}

// A window made by createWindow: its close button, resizes and keys become
// messages to its procedure.
class HostWidget : public QWidget {
 public:
  explicit HostWidget(QWidget* parent) : QWidget(parent) {}
  bool destroying = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (destroying) return;
    event->ignore();
    if (HWND h = handleOfWidget(this)) sendMessage(h, kWmClose, 0, 0);
  }
  void resizeEvent(QResizeEvent*) override {
    if (HWND h = handleOfWidget(this))
      sendMessage(h, kWmSize, 0, static_cast<LPARAM>((width() & 0xFFFF) | ((height() & 0xFFFF) << 16)));
  }
};

}  // namespace detail

using namespace detail;

namespace {

int showRealMessageBox(const MessageBoxRequest& request) {
  QMessageBox box(widgetOf(static_cast<HWND>(request.owner)));
  box.setText(fromCp932(request.text));
  box.setWindowTitle(request.caption.empty() ? QCoreApplication::applicationName() : fromCp932(request.caption));
  switch (request.style & kMbIconMask) {
    case kMbIconError: box.setIcon(QMessageBox::Critical); break;
    case kMbIconQuestion: box.setIcon(QMessageBox::Question); break;
    case kMbIconWarning: box.setIcon(QMessageBox::Warning); break;
    case kMbIconInformation: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  struct Button { int result; const char* caption; QMessageBox::ButtonRole role; };
  static const Button kOk{kIdOk, "OK", QMessageBox::AcceptRole};
  static const Button kCancel{kIdCancel, "キャンセル", QMessageBox::RejectRole};
  static const Button kAbort{kIdAbort, "中止", QMessageBox::RejectRole};
  static const Button kRetry{kIdRetry, "再試行", QMessageBox::AcceptRole};
  static const Button kIgnore{kIdIgnore, "無視", QMessageBox::AcceptRole};
  static const Button kYes{kIdYes, "はい", QMessageBox::YesRole};
  static const Button kNo{kIdNo, "いいえ", QMessageBox::NoRole};
  std::vector<Button> buttons;
  switch (request.style & kMbTypeMask) {
    case kMbOkCancel: buttons = {kOk, kCancel}; break;
    case kMbAbortRetryIgnore: buttons = {kAbort, kRetry, kIgnore}; break;
    case kMbYesNoCancel: buttons = {kYes, kNo, kCancel}; break;
    case kMbYesNo: buttons = {kYes, kNo}; break;
    case kMbRetryCancel: buttons = {kRetry, kCancel}; break;
    default: buttons = {kOk}; break;
  }
  size_t defaultIndex = (request.style & kMbDefMask) >> 8;
  if (defaultIndex >= buttons.size()) defaultIndex = 0;
  std::vector<std::pair<QAbstractButton*, int>> made;
  for (size_t i = 0; i < buttons.size(); ++i) {
    QPushButton* b = box.addButton(QString::fromUtf8(buttons[i].caption), buttons[i].role);
    made.emplace_back(b, buttons[i].result);
    if (i == defaultIndex) box.setDefaultButton(b);
    if (buttons[i].result == kIdCancel || (buttons.size() == 1)) box.setEscapeButton(b);
  }
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (auto& [b, result] : made)
    if (b == clicked) return result;
  // Closed without a button (Esc with no Cancel): Windows answers Cancel when
  // there is one, else the only button.
  for (auto& [b, result] : made)
    if (result == kIdCancel) return kIdCancel;
  return made.front().second;
}

}  // namespace

void useOffscreenWithoutDisplay() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

void ensureApplication() {
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "varnex";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  if (s.initialized) return;
  s.initialized = true;
  s.dispatcher = new Dispatcher(QCoreApplication::instance());
  setMessageBoxAnswerer([](const MessageBoxRequest& request) {
    if (!isUiThread()) {
      int result = 0;
      QMetaObject::invokeMethod(state().dispatcher, [&]() { result = showRealMessageBox(request); },
                                Qt::BlockingQueuedConnection);
      return result;
    }
    return showRealMessageBox(request);
  });
  installInputFilter();
}

bool isUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

HWND createWindow(const WindowSpec& windowSpec, WindowProc proc) {
  ensureApplication();
  QWidget* parent = widgetOf(windowSpec.parent);
  if (windowSpec.parent && !parent) {
    setLastError(kErrorInvalidHandle);
    return nullptr;
  }
  auto* widget = new HostWidget(parent);
  if (!parent && (windowSpec.frameless || windowSpec.topmost)) {
    Qt::WindowFlags flags = Qt::Window;
    if (windowSpec.frameless) flags |= Qt::FramelessWindowHint;
    if (windowSpec.topmost) flags |= Qt::WindowStaysOnTopHint;
    widget->setWindowFlags(flags);
    if (windowSpec.topmost) widget->setAttribute(Qt::WA_ShowWithoutActivating);
  }
  widget->setWindowTitle(fromCp932(windowSpec.title));
  widget->setGeometry(windowSpec.rect.left, windowSpec.rect.top, std::max(1, windowSpec.rect.width()), std::max(1, windowSpec.rect.height()));
  HWND h = attach(widget, windowSpec.className, std::move(proc));
  sendMessage(h, kWmCreate, 0, 0);
  if (!isWindow(h)) return nullptr;  // the procedure refused to be created
  if (windowSpec.visible) widget->show();
  return h;
}

LRESULT defaultWindowProc(HWND window, uint32_t message, WPARAM, LPARAM) {
  if (message == kWmClose) destroyWindow(window);
  return 0;
}

bool destroyWindow(HWND window) {
  QWidget* widget = widgetOf(window);
  if (!widget) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  sendMessage(window, kWmDestroy, 0, 0);
  // Children first go out of the registry, so none of them is reachable
  // while the widgets wait for deletion.
  std::vector<HWND> gone{window};
  for (QWidget* child : widget->findChildren<QWidget*>())
    if (HWND h = handleOfWidget(child)) gone.push_back(h);
  {
    UiState& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    for (HWND h : gone) {
      auto it = s.windows.find(key(h));
      if (it == s.windows.end()) continue;
      for (auto& [id, timer] : it->second.timers)
        if (timer) timer->stop();
      s.windows.erase(it);
      for (auto m = s.manualTimerList.begin(); m != s.manualTimerList.end();)
        m = m->first.first == key(h) ? s.manualTimerList.erase(m) : std::next(m);
    }
  }
  if (auto* host = dynamic_cast<HostWidget*>(widget)) host->destroying = true;
  widget->hide();
  widget->deleteLater();
  return true;
}

bool isWindow(HWND window) {
  if (!window) return false;
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  auto it = s.windows.find(key(window));
  return it != s.windows.end() && !it->second.widget.isNull();
}

WindowProc setWindowProc(HWND window, WindowProc proc) {
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  auto it = s.windows.find(key(window));
  if (it == s.windows.end()) return nullptr;
  WindowProc old = std::move(it->second.proc);
  it->second.proc = std::move(proc);
  return old;
}

HWND parentWindow(HWND window) {
  QWidget* w = widgetOf(window);
  for (QWidget* p = w ? w->parentWidget() : nullptr; p; p = p->parentWidget())
    if (HWND h = handleOfWidget(p)) return h;
  return nullptr;
}

std::vector<HWND> childWindows(HWND window) {
  std::vector<HWND> result;
  QWidget* w = widgetOf(window);
  if (!w) return result;
  for (QWidget* child : w->findChildren<QWidget*>())
    if (HWND h = handleOfWidget(child); h && parentWindow(h) == window) result.push_back(h);
  return result;
}

std::vector<HWND> topLevelWindows() {
  std::vector<std::pair<uint64_t, HWND>> found;
  {
    UiState& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    for (auto& [k, entry] : s.windows)
      if (entry.widget && entry.widget->isWindow()) found.emplace_back(entry.order, handleOf(k));
  }
  std::sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.first < b.first; });
  std::vector<HWND> result;
  for (auto& [order, h] : found) result.push_back(h);
  return result;
}

std::string windowClassName(HWND window) {
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  auto it = s.windows.find(key(window));
  return it == s.windows.end() ? std::string() : it->second.className;
}

void updateWindow(HWND window) {
  if (QWidget* w = widgetOf(window)) w->repaint();
}

bool showWindow(HWND window, bool show) {
  QWidget* w = widgetOf(window);
  if (!w) return false;
  bool was = w->isVisible();
  w->setVisible(show);
  return was;
}

bool isWindowVisible(HWND window) {
  QWidget* w = widgetOf(window);
  return w && w->isVisible();
}

bool enableWindow(HWND window, bool enable) {
  QWidget* w = widgetOf(window);
  if (!w) return false;
  bool wasDisabled = !w->isEnabled();
  w->setEnabled(enable);
  return wasDisabled;
}

bool isWindowEnabled(HWND window) {
  QWidget* w = widgetOf(window);
  return w && w->isEnabled();
}

bool moveWindow(HWND window, const Rect& rect) {
  QWidget* w = widgetOf(window);
  if (!w) return false;
  w->setGeometry(rect.left, rect.top, rect.width(), rect.height());
  return true;
}

Rect windowRect(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) return {};
  QRect g = w->geometry();
  return {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

Point clientToScreen(HWND window, int32_t x, int32_t y) {
  QWidget* w = widgetOf(window);
  if (!w) return {x, y};
  const QPoint at = w->mapToGlobal(QPoint(x, y));
  return {at.x(), at.y()};
}

Rect screenRect(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) return {};
  const QPoint at = w->mapToGlobal(QPoint(0, 0));
  return {at.x(), at.y(), at.x() + w->width(), at.y() + w->height()};
}

bool setFocus(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) return false;
  // Offscreen there is no window manager to activate the window, and a
  // widget of an inactive window does not get the focus.
  if (w->window() && QApplication::activeWindow() != w->window()) {
    w->window()->activateWindow();
    QApplication::setActiveWindow(w->window());
  }
  w->setFocus(Qt::OtherFocusReason);
  return true;
}

HWND focusWindow() {
  for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
    if (HWND h = handleOfWidget(w)) return h;
  return nullptr;
}

HWND activeWindow() { return handleOfWidget(QApplication::activeWindow()); }

void messageBeep() { QApplication::beep(); }

bool bringToFront(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w || !w->window()) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  QWidget* top = w->window();
  if (top->isMinimized()) top->showNormal();
  else top->show();
  top->raise();
  top->activateWindow();
  QApplication::setActiveWindow(top);
  return true;
}

bool setWindowFont(HWND window, const std::string& face, int32_t pixelHeight) {
  QWidget* w = widgetOf(window);
  if (!w || pixelHeight <= 0) return false;
  QFont font;
  // The Windows faces the code names fall back to the Japanese fonts of the
  // machine, fixed pitch first.
  font.setFamilies({fromCp932(face), QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic"),
                    QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP")});
  font.setPixelSize(pixelHeight);
  w->setFont(font);
  return true;
}

namespace {
QString withoutMnemonics(QString text) {
  for (qsizetype i = 0; i < text.size(); ++i)
    if (text[i] == u'&') text.remove(i, 1);  // "&&" keeps one
  return text;
}
}  // namespace

int32_t textWidth(HWND window, const std::string& text) {
  QWidget* w = widgetOf(window);
  if (!w) return 0;
  return w->fontMetrics().horizontalAdvance(withoutMnemonics(fromCp932(text)));
}

int32_t textRoom(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) return 0;
  if (auto* b = qobject_cast<QPushButton*>(w)) {
    QStyleOptionButton option;
    option.initFrom(b);
    option.text = b->text();
    option.rect = b->rect();
    return b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b).width();
  }
  return w->contentsRect().width();
}

bool isMinimized(HWND window) {
  QWidget* w = widgetOf(window);
  return w && w->window() && w->window()->isMinimized();
}

bool isMaximized(HWND window) {
  QWidget* w = widgetOf(window);
  return w && w->window() && w->window()->isMaximized();
}

bool isFrameless(HWND window) {
  QWidget* w = widgetOf(window);
  return w && w->isWindow() && (w->windowFlags() & Qt::FramelessWindowHint);
}

bool isTopmost(HWND window) {
  QWidget* w = widgetOf(window);
  return w && w->isWindow() && (w->windowFlags() & Qt::WindowStaysOnTopHint);
}

bool showWindowState(HWND window, WindowShow how) {
  QWidget* w = widgetOf(window);
  if (!w) return false;
  switch (how) {
    case WindowShow::Minimized: w->showMinimized(); break;
    case WindowShow::Maximized: w->showMaximized(); break;
    case WindowShow::Normal: w->showNormal(); break;
  }
  return true;
}

bool grabWindowToPng(HWND window, const std::string& path) {
  QWidget* w = liveWidget(window);
  if (!w) return false;
  QPixmap pixmap = w->grab();
  if (!pixmap.save(QString::fromStdString(path), "PNG")) {
    setLastError(kErrorWriteFault);
    return false;
  }
  return true;
}

bool grabScreenToPng(const std::string& path) {
  ensureApplication();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  QPixmap shot;
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
    shot = screen->grabWindow(0);
  } else {
    // Without a display server there is no screen to read: paint each shown
    // top-level window at its place, plain windows first and dialogs and
    // tool windows above them, the active window last of its kind.
    shot = QPixmap(screen->geometry().size());
    shot.fill(QColor(0x30, 0x40, 0x58));
    QList<QWidget*> order;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && !top->isMinimized()) order.append(top);
    auto rank = [](QWidget* top) {
      const Qt::WindowType type = top->windowType();
      const int kind = type == Qt::Dialog || type == Qt::Tool || type == Qt::Popup ? 2 : 1;
      return kind * 2 + (top->isActiveWindow() ? 1 : 0);
    };
    std::stable_sort(order.begin(), order.end(), [&](QWidget* a, QWidget* b) { return rank(a) < rank(b); });
    QPainter painter(&shot);
    for (QWidget* top : order) painter.drawPixmap(top->geometry().topLeft(), top->grab());
  }
  if (shot.isNull() || !shot.save(QString::fromStdString(path), "PNG")) {
    setLastError(kErrorWriteFault);
    return false;
  }
  return true;
}

bool postMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  UiState& s = state();
  Dispatcher* dispatcher;
  {
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    auto it = s.windows.find(key(window));
    if (it == s.windows.end() || !s.dispatcher) {
      setLastError(kErrorInvalidHandle);
      return false;
    }
    dispatcher = s.dispatcher;
  }
  auto* event = new RecordedMessage(window, message, wParam, lParam);
  // Recorded and posted under one lock, so the record keeps Qt's order.
  PostedQueue& q = postedQueue();
  std::lock_guard<std::recursive_mutex> guard(q.lock);
  q.records.push_back({event, window, message, wParam});
  QCoreApplication::postEvent(dispatcher, event);
  return true;
}

bool peekMessage(HWND window, uint32_t message, WPARAM* wParam) {
  PostedQueue& q = postedQueue();
  std::lock_guard<std::recursive_mutex> guard(q.lock);
  for (const PostedRecord& r : q.records) {
    if (r.window == window && r.message == message) {
      if (wParam) *wParam = r.wParam;
      return true;
    }
  }
  return false;
}

LRESULT sendMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (!isWindow(window)) {
    setLastError(kErrorInvalidHandle);
    return 0;
  }
  if (isUiThread()) return deliver(window, message, wParam, lParam);
  LRESULT result = 0;
  QMetaObject::invokeMethod(
      state().dispatcher,
      [&]() {
        if (isWindow(window)) result = deliver(window, message, wParam, lParam);
      },
      Qt::BlockingQueuedConnection);
  return result;
}

uint32_t registerWindowMessage(const std::string& name) {
  if (name.empty()) {
    setLastError(kErrorInvalidParameter);
    return 0;
  }
  const std::string folded = cp932::upperAscii(name);
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  auto it = s.messageIds.find(folded);
  if (it != s.messageIds.end()) return it->second;
  if (s.nextMessageId > 0xFFFF) {
    setLastError(kErrorNotEnoughMemory);
    return 0;
  }
  uint32_t id = s.nextMessageId++;
  s.messageIds.emplace(folded, id);
  return id;
}

int runMessageLoop() {
  ensureApplication();
  return QApplication::exec();
}

void postQuitMessage(int exitCode) { QCoreApplication::exit(exitCode); }

void processPendingMessages() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= timeoutMs) return false;
    // A real wait, so the loop falls idle as it does when it runs.
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

bool setTimer(HWND window, uint32_t id, uint32_t periodMs) {
  QWidget* w = liveWidget(window);
  if (!w) return false;
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  if (s.manualTimers) {
    UiState::ManualTimer& t = s.manualTimerList[{key(window), id}];
    t.period = std::max<uint32_t>(1, periodMs);
    t.due = s.manualNow + t.period;
    t.order = ++s.manualOrder;
    return true;
  }
  WindowEntry& entry = s.windows[key(window)];
  QPointer<QTimer>& timer = entry.timers[id];
  if (!timer) {
    timer = new QTimer(w);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.data(), &QTimer::timeout, [window, id]() { deliver(window, kWmTimer, id, 0); });
  }
  timer->start(static_cast<int>(periodMs));
  return true;
}

bool killTimer(HWND window, uint32_t id) {
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  auto it = s.windows.find(key(window));
  if (it == s.windows.end()) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (s.manualTimerList.erase({key(window), id})) return true;
  auto t = it->second.timers.find(id);
  if (t == it->second.timers.end()) return false;
  if (t->second) {
    t->second->stop();
    t->second->deleteLater();
  }
  it->second.timers.erase(t);
  return true;
}

void useManualTimerClock(bool manual) {
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  s.manualTimers = manual;
  s.manualTimerList.clear();
}

void advanceTimerClock(uint32_t ms) {
  UiState& s = state();
  uint64_t until;
  {
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    until = s.manualNow + ms;
  }
  for (;;) {
    std::pair<uintptr_t, uint32_t> next;
    {
      std::lock_guard<std::recursive_mutex> guard(s.mutex);
      auto first = s.manualTimerList.end();
      for (auto it = s.manualTimerList.begin(); it != s.manualTimerList.end(); ++it) {
        if (it->second.due > until) continue;
        if (first == s.manualTimerList.end() || it->second.due < first->second.due ||
            (it->second.due == first->second.due && it->second.order < first->second.order))
          first = it;
      }
      if (first == s.manualTimerList.end()) {
        s.manualNow = until;
        return;
      }
      s.manualNow = first->second.due;
      first->second.due += first->second.period;
      next = first->first;
    }
    // The handler may kill or restart any timer, its own too.
    deliver(handleOf(next.first), kWmTimer, next.second, 0);
  }
}

bool setClipboardText(const std::string& cp932) {
  ensureApplication();
  std::string utf8;
  if (!cp932ToUtf8(cp932, utf8)) {
    setLastError(kErrorInvalidData);
    return false;
  }
  QGuiApplication::clipboard()->setText(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
  return true;
}

bool clipboardText(std::string& cp932) {
  ensureApplication();
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data || !data->hasText()) {
    setLastError(kErrorNoData);
    return false;
  }
  QByteArray utf8 = data->text().toUtf8();
  cp932.clear();
  if (!utf8ToCp932(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), cp932)) {
    setLastError(kErrorInvalidData);
    return false;
  }
  return true;
}

void overrideCursor(CursorShape shape) {
  static const Qt::CursorShape kShapes[] = {Qt::ArrowCursor,   Qt::WaitCursor,    Qt::BusyCursor,
                                            Qt::IBeamCursor,   Qt::CrossCursor,   Qt::SizeAllCursor,
                                            Qt::ForbiddenCursor, Qt::PointingHandCursor, Qt::UpArrowCursor};
  ensureApplication();
  QApplication::setOverrideCursor(QCursor(kShapes[static_cast<int>(shape)]));
  std::lock_guard<std::recursive_mutex> guard(state().mutex);
  state().cursorStack.push_back(shape);
}

void restoreCursor() {
  std::lock_guard<std::recursive_mutex> guard(state().mutex);
  if (state().cursorStack.empty()) return;
  state().cursorStack.pop_back();
  QApplication::restoreOverrideCursor();
}

CursorShape currentCursor() {
  std::lock_guard<std::recursive_mutex> guard(state().mutex);
  return state().cursorStack.empty() ? CursorShape::Arrow : state().cursorStack.back();
}

std::vector<ScreenInfo> screens() {
  ensureApplication();
  std::vector<ScreenInfo> result;
  QScreen* primary = QGuiApplication::primaryScreen();
  for (QScreen* screen : QGuiApplication::screens()) {
    ScreenInfo info;
    info.name = toCp932(screen->name());
    QRect g = screen->geometry(), a = screen->availableGeometry();
    info.geometry = {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
    info.workArea = {a.left(), a.top(), a.left() + a.width(), a.top() + a.height()};
    info.primary = screen == primary;
    result.push_back(info);
  }
  return result;
}

int messageBox(HWND owner, const std::string& text, const std::string& caption, uint32_t style) {
  MessageBoxRequest request;
  request.owner = owner;
  request.text = text;
  request.caption = caption;
  request.style = style;
  return showMessageBox(request);
}

}  // namespace platform::ui
