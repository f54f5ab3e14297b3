#include "platform/ui/paint.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>

#include <mutex>
#include <vector>

#include "platform/base/last_error.h"
#include "platform/base/shared_state.h"
#include "platform/ui/class_internal.h"
#include "platform/ui/internal.h"

namespace platform::ui {

using namespace detail;

namespace detail {

struct CaretState {
  HWND owner = nullptr;
  QRect rect;
  int hideCount = 1;
  bool phaseOn = true;
  uint32_t blinkMs = 530;
  QPointer<QTimer> timer;
};

struct ExtrasState {
  std::recursive_mutex mutex;
  HWND capture = nullptr;
  bool captureFilterInstalled = false;
  CaretState caret;
};

// One per process, like the window registry.
PLATFORM_SHARED_STATE void* sharedWindowExtras() {
  static ExtrasState* s = new ExtrasState;
  return s;
}

}  // namespace detail

namespace {

ExtrasState& extras() { return *static_cast<ExtrasState*>(sharedWindowExtras()); }

// Per window: its paint handler and whether its mouse events become messages.
class WindowEvents : public QObject {
 public:
  explicit WindowEvents(QWidget* widget) : QObject(widget), widget_(widget) {}
  PaintHandler paint;
  bool mouse = false;

  static WindowEvents* of(QWidget* widget, bool make) {
    // findChild would match any child object here (this class has no meta
    // object of its own), such as a child window: look for the type itself.
    WindowEvents* found = nullptr;
    for (QObject* child : widget->children()) {
      if ((found = dynamic_cast<WindowEvents*>(child))) break;
    }
    if (!found && make) {
      found = new WindowEvents(widget);
      widget->installEventFilter(found);
    }
    return found;
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (object != widget_) return false;
    switch (event->type()) {
      case QEvent::Paint: {
        HWND h = handleOfWidget(widget_);
        bool ownsCaret;
        {
          std::lock_guard<std::recursive_mutex> guard(extras().mutex);
          ownsCaret = h && extras().caret.owner == h;
        }
        // A view paints itself and draws the caret over it.
        if (!paint && (!ownsCaret || widget_->property(kPaintsOwnCaret).toBool())) return false;
        std::unique_ptr<DrawContext> dc = DrawAccess::onDevice(widget_);
        if (!dc) return false;
        QPainter& painter = DrawAccess::painter(*dc);
        painter.setClipRegion(static_cast<QPaintEvent*>(event)->region());
        if (paint) {
          PaintHandler handler = paint;  // the handler may replace itself
          PaintScope scope(h, *dc, static_cast<QPaintEvent*>(event)->rect());
          handler(h, *dc);
        }
        paintCaret(widget_, painter);
        return true;
      }
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove: {
        if (!mouse) return false;
        HWND h = handleOfWidget(widget_);
        auto* m = static_cast<QMouseEvent*>(event);
        WPARAM wp = 0;
        LPARAM lp = 0;
        uint32_t message = mouseMessageOf(m, wp, lp, m->position().toPoint());
        if (!h || !message) return false;
        sendMessage(h, message, wp, lp);
        return true;
      }
      default:
        return false;
    }
  }

 private:
  QWidget* widget_;
};

// Sends the mouse events of the whole application to the capture holder.
class CaptureFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (!object->isWidgetType()) return false;
    return deliverToCapture(static_cast<QWidget*>(object), event);
  }
};

void repaintCaretArea() {
  HWND owner;
  QRect r;
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    owner = extras().caret.owner;
    r = extras().caret.rect;
  }
  if (QWidget* w = widgetOf(owner)) w->update(r.adjusted(-1, -1, 1, 1));
}

}  // namespace

namespace detail {

namespace {
struct PaintUnderWay {
  HWND window;
  DrawContext* dc;
  Rect damaged;
};
// Paints nest (a paint handler may make another window repaint at once):
// the innermost one of a window counts. UI thread only.
std::vector<PaintUnderWay>& paintsUnderWay() {
  static std::vector<PaintUnderWay> paints;
  return paints;
}
}  // namespace

PaintScope::PaintScope(HWND window, DrawContext& dc, const QRect& damaged) {
  paintsUnderWay().push_back({window, &dc, {damaged.left(), damaged.top(), damaged.right() + 1, damaged.bottom() + 1}});
}

PaintScope::~PaintScope() { paintsUnderWay().pop_back(); }

void paintCaret(QWidget* widget, QPainter& painter) {
  HWND h = handleOfWidget(widget);
  QRect r;
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    const CaretState& c = extras().caret;
    if (!h || c.owner != h || c.hideCount > 0 || !c.phaseOn || c.rect.isEmpty()) return;
    r = c.rect;
  }
  painter.save();
  painter.setClipping(false);
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.fillRect(r, Qt::white);
  painter.restore();
}

uint32_t mouseMessageOf(const QMouseEvent* event, WPARAM& wParam, LPARAM& lParam, const QPoint& at) {
  uint32_t base;
  switch (event->button()) {
    case Qt::LeftButton: base = kWmLButtonDown; break;
    case Qt::RightButton: base = kWmRButtonDown; break;
    case Qt::MiddleButton: base = 0x0207; break;
    default: base = 0; break;
  }
  uint32_t message = 0;
  switch (event->type()) {
    case QEvent::MouseMove: message = kWmMouseMove; break;
    case QEvent::MouseButtonPress: message = base; break;
    case QEvent::MouseButtonRelease: message = base ? base + 1 : 0; break;
    case QEvent::MouseButtonDblClick: message = base ? base + 2 : 0; break;
    default: break;
  }
  uint32_t keys = 0;
  Qt::MouseButtons buttons = event->buttons();
  if (buttons & Qt::LeftButton) keys |= kMkLButton;
  if (buttons & Qt::RightButton) keys |= kMkRButton;
  if (buttons & Qt::MiddleButton) keys |= kMkMButton;
  if (event->modifiers() & Qt::ShiftModifier) keys |= kMkShift;
  if (event->modifiers() & Qt::ControlModifier) keys |= kMkControl;
  wParam = keys;
  lParam = static_cast<LPARAM>((static_cast<uint32_t>(at.x()) & 0xFFFF) | ((static_cast<uint32_t>(at.y()) & 0xFFFF) << 16));
  return message;
}

bool deliverToCapture(QWidget* receiver, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: break;
    default: return false;
  }
  HWND capture;
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    capture = extras().capture;
  }
  QWidget* target = widgetOf(capture);
  if (!target || receiver == target) return false;
  auto* m = static_cast<QMouseEvent*>(event);
  QPoint at = target->mapFromGlobal(receiver->mapToGlobal(m->position().toPoint()));
  WPARAM wp = 0;
  LPARAM lp = 0;
  uint32_t message = mouseMessageOf(m, wp, lp, at);
  if (!message) return false;
  sendMessage(capture, message, wp, lp);
  event->accept();
  return true;
}

}  // namespace detail

bool setPaintHandler(HWND window, PaintHandler handler) {
  QWidget* w = widgetOf(window);
  if (!w) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  WindowEvents::of(w, true)->paint = std::move(handler);
  w->update();
  return true;
}

bool invalidateWindow(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  w->update();
  return true;
}

bool invalidateRect(HWND window, const Rect& rect) {
  QWidget* w = widgetOf(window);
  if (!w) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  w->update(QRect(rect.left, rect.top, rect.width(), rect.height()));
  return true;
}

DrawContext* paintInProgress(HWND window, Rect* damaged) {
  auto& paints = paintsUnderWay();
  for (auto it = paints.rbegin(); it != paints.rend(); ++it)
    if (it->window == window) {
      if (damaged) *damaged = it->damaged;
      return it->dc;
    }
  return nullptr;
}

Rect clientRect(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) return {};
  return {0, 0, w->width(), w->height()};
}

bool setMouseMessages(HWND window, bool on) {
  QWidget* w = widgetOf(window);
  if (!w) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  WindowEvents::of(w, true)->mouse = on;
  w->setMouseTracking(on);
  return true;
}

HWND setCapture(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) {
    setLastError(kErrorInvalidHandle);
    return nullptr;
  }
  HWND previous;
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    if (!extras().captureFilterInstalled) {
      QCoreApplication::instance()->installEventFilter(new CaptureFilter(QCoreApplication::instance()));
      extras().captureFilterInstalled = true;
    }
    previous = extras().capture;
    extras().capture = window;
  }
  if (previous && previous != window && isWindow(previous))
    sendMessage(previous, kWmCaptureChanged, 0, reinterpret_cast<LPARAM>(window));
  return isWindow(previous) ? previous : nullptr;
}

bool releaseCapture() {
  HWND previous;
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    previous = extras().capture;
    extras().capture = nullptr;
  }
  if (previous && isWindow(previous)) sendMessage(previous, kWmCaptureChanged, 0, 0);
  return true;
}

HWND captureWindow() {
  std::lock_guard<std::recursive_mutex> guard(extras().mutex);
  return isWindow(extras().capture) ? extras().capture : nullptr;
}

bool createCaret(HWND owner, int32_t width, int32_t height) {
  QWidget* w = widgetOf(owner);
  if (!w) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  destroyCaret();
  WindowEvents::of(w, true);
  std::lock_guard<std::recursive_mutex> guard(extras().mutex);
  CaretState& c = extras().caret;
  c.owner = owner;
  c.rect = QRect(0, 0, std::max(1, width), std::max(1, height));
  c.hideCount = 1;
  c.phaseOn = true;
  if (!c.timer) {
    c.timer = new QTimer(QCoreApplication::instance());
    QObject::connect(c.timer.data(), &QTimer::timeout, []() {
      {
        std::lock_guard<std::recursive_mutex> g(extras().mutex);
        extras().caret.phaseOn = !extras().caret.phaseOn;
      }
      repaintCaretArea();
    });
  }
  if (c.blinkMs) c.timer->start(static_cast<int>(c.blinkMs));
  return true;
}

bool destroyCaret() {
  repaintCaretArea();
  std::lock_guard<std::recursive_mutex> guard(extras().mutex);
  CaretState& c = extras().caret;
  if (!c.owner) return false;
  c.owner = nullptr;
  c.hideCount = 1;
  if (c.timer) c.timer->stop();
  return true;
}

bool setCaretPos(int32_t x, int32_t y) {
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    if (!extras().caret.owner) return false;
  }
  repaintCaretArea();
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    CaretState& c = extras().caret;
    c.rect.moveTo(x, y);
    c.phaseOn = true;  // a moved caret shows at once, as typing expects
    if (c.timer && c.blinkMs) c.timer->start(static_cast<int>(c.blinkMs));
  }
  repaintCaretArea();
  return true;
}

bool caretPos(int32_t& x, int32_t& y) {
  std::lock_guard<std::recursive_mutex> guard(extras().mutex);
  const CaretState& c = extras().caret;
  if (!c.owner) return false;
  x = c.rect.x();
  y = c.rect.y();
  return true;
}

bool showCaret(HWND owner) {
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    CaretState& c = extras().caret;
    if (!c.owner || (owner && owner != c.owner) || c.hideCount == 0) return false;
    --c.hideCount;
  }
  repaintCaretArea();
  return true;
}

bool hideCaret(HWND owner) {
  {
    std::lock_guard<std::recursive_mutex> guard(extras().mutex);
    CaretState& c = extras().caret;
    if (!c.owner || (owner && owner != c.owner)) return false;
    ++c.hideCount;
  }
  repaintCaretArea();
  return true;
}

HWND caretOwner() {
  std::lock_guard<std::recursive_mutex> guard(extras().mutex);
  return extras().caret.owner;
}

bool isCaretShown() {
  std::lock_guard<std::recursive_mutex> guard(extras().mutex);
  return extras().caret.owner && extras().caret.hideCount == 0;
}

void setCaretBlinkTime(uint32_t ms) {
  std::lock_guard<std::recursive_mutex> guard(extras().mutex);
  CaretState& c = extras().caret;
  c.blinkMs = ms;
  c.phaseOn = true;
  if (c.timer) {
    if (ms && c.owner) c.timer->start(static_cast<int>(ms));
    else c.timer->stop();
  }
}

uint32_t caretBlinkTime() {
  std::lock_guard<std::recursive_mutex> guard(extras().mutex);
  return extras().caret.blinkMs;
}

}  // namespace platform::ui
