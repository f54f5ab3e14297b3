#include "platform/ui/view.h"

#include <algorithm>

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QPaintEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QWheelEvent>

#include "platform/base/last_error.h"
#include "platform/ui/class_internal.h"
#include "platform/ui/desktop.h"
#include "platform/ui/frame.h"
#include "platform/ui/input.h"
#include "platform/ui/internal.h"
#include "platform/ui/paint.h"

namespace platform::ui {

using namespace detail;

namespace {

// The view's Qt side: Qt's events become the view's messages.
class ViewWidget : public QWidget {
 public:
  ViewWidget(View* owner, QWidget* parent) : QWidget(parent), owner(owner) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setProperty(kPaintsOwnCaret, true);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
  }
  View* owner;

  // The scroll bars, made by the first setScrollSizes; a hidden bar has the
  // range 0..0, so its value is the position on its axis.
  QPointer<QScrollBar> bars[2];  // horizontal, vertical
  Size total, line, page;
  QSize client{-1, -1};  // the client size the view was last told

  QSize clientSize() const {
    return QSize(width() - (bars[1] && !bars[1]->isHidden() ? bars[1]->width() : 0),
                 height() - (bars[0] && !bars[0]->isHidden() ? bars[0]->height() : 0));
  }

  void setScrollSizes(Size t, Size l, Size p) {
    total = t;
    line = l;
    page = p;
    for (int axis = 0; axis < 2; ++axis) {
      if (bars[axis]) continue;
      auto* bar = new QScrollBar(axis ? Qt::Vertical : Qt::Horizontal, this);
      bar->setFocusPolicy(Qt::NoFocus);
      bar->hide();
      connect(bar, &QScrollBar::valueChanged, this, [this] { update(); });
      bars[axis] = bar;
    }
    layoutBars();
  }

  // Shows the bars the content needs, sets their ranges, then tells the view
  // its client size when that changed.
  void layoutBars() {
    if (bars[0] && bars[1]) {
      const int across = bars[1]->sizeHint().width(), down = bars[0]->sizeHint().height();
      // A bar on one axis takes room from the other, which may then need
      // its own bar too.
      bool vertical = total.height > height(), horizontal = total.width > width() - (vertical ? across : 0);
      vertical = total.height > height() - (horizontal ? down : 0);
      const int w = width() - (vertical ? across : 0), h = height() - (horizontal ? down : 0);
      bars[0]->setGeometry(0, h, w, down);
      bars[1]->setGeometry(w, 0, across, h);
      const int clientExtent[2] = {w, h}, totalExtent[2] = {total.width, total.height};
      const int lineStep[2] = {line.width, line.height}, pageStep[2] = {page.width, page.height};
      const bool shown[2] = {horizontal, vertical};
      for (int axis = 0; axis < 2; ++axis) {
        QScrollBar* bar = bars[axis];
        const int extent = std::max(1, clientExtent[axis]);
        bar->setRange(0, shown[axis] ? std::max(0, totalExtent[axis] - extent) : 0);
        bar->setPageStep(pageStep[axis] > 0 ? pageStep[axis] : extent);
        bar->setSingleStep(lineStep[axis] > 0 ? lineStep[axis] : std::max(1, extent / 10));
        bar->setVisible(shown[axis]);
      }
    }
    const QSize now = clientSize();
    if (now == client) return;
    client = now;
    if (HWND h = handleOfWidget(this))
      sendMessage(h, kWmSize, 0, static_cast<LPARAM>((now.width() & 0xFFFF) | ((now.height() & 0xFFFF) << 16)));
  }

  QSize sizeHint() const override {
    if (!owner) return QWidget::sizeHint();
    Size s = owner->sizeHint();
    return QSize(s.width, s.height);
  }

 protected:
  bool event(QEvent* e) override {
    // Tab and Shift+Tab belong to the view, not to the focus chain.
    if (e->type() == QEvent::KeyPress) {
      auto* k = static_cast<QKeyEvent*>(e);
      if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
        keyPressEvent(k);
        return true;
      }
    }
    return QWidget::event(e);
  }

  void paintEvent(QPaintEvent* e) override {
    if (!owner) return;
    std::unique_ptr<DrawContext> dc = DrawAccess::onDevice(this);
    if (!dc) return;
    QPainter& painter = DrawAccess::painter(*dc);
    painter.setClipRegion(e->region());
    {
      PaintScope scope(handleOfWidget(this), *dc, e->rect());
      owner->onPaint(*dc);
    }
    paintCaret(this, painter);
  }

  void resizeEvent(QResizeEvent*) override {
    client = QSize(-1, -1);  // a resize always tells the view
    layoutBars();
  }

  // Text the input method commits reaches the view as typed characters.
  void inputMethodEvent(QInputMethodEvent* e) override {
    HWND h = handleOfWidget(this);
    if (h && !e->commitString().isEmpty())
      for (char c : toCp932(e->commitString()))
        if (platform::ui::isWindow(h)) sendMessage(h, kWmChar, static_cast<uint8_t>(c), 1);
    e->accept();
  }
  QVariant inputMethodQuery(Qt::InputMethodQuery query) const override {
    Rect caret;
    HWND h = handleOfWidget(this);
    if (query == Qt::ImCursorRectangle && h && imeCompositionWindow(h, caret))
      return QRect(caret.left, caret.top, caret.width(), caret.height());
    return QWidget::inputMethodQuery(query);
  }

  void keyPressEvent(QKeyEvent* k) override { key(k, true); }
  void keyReleaseEvent(QKeyEvent* k) override { key(k, false); }

  void focusInEvent(QFocusEvent*) override {
    if (ChildFrame* frame = childFrameAbove(this))
      if (owner) frame->setActiveView(owner);
    if (HWND h = handleOfWidget(this)) sendMessage(h, kWmSetFocus, 0, 0);
  }
  void focusOutEvent(QFocusEvent*) override {
    if (HWND h = handleOfWidget(this)) sendMessage(h, kWmKillFocus, 0, 0);
  }

  void mousePressEvent(QMouseEvent* m) override {
    setFocus(Qt::MouseFocusReason);
    mouse(m);
  }
  void mouseReleaseEvent(QMouseEvent* m) override { mouse(m); }
  void mouseDoubleClickEvent(QMouseEvent* m) override { mouse(m); }
  void mouseMoveEvent(QMouseEvent* m) override { mouse(m); }
  void wheelEvent(QWheelEvent* w) override {
    HWND h = handleOfWidget(this);
    if (!h) return;
    // WM_MOUSEWHEEL: the delta in the high word, the MK_ flags in the low
    // one, the screen position in lParam.
    uint32_t keys = 0;
    if (w->buttons() & Qt::LeftButton) keys |= kMkLButton;
    if (w->buttons() & Qt::RightButton) keys |= kMkRButton;
    if (w->modifiers() & Qt::ShiftModifier) keys |= kMkShift;
    if (w->modifiers() & Qt::ControlModifier) keys |= kMkControl;
    const int delta = w->angleDelta().y();
    const QPoint at = w->globalPosition().toPoint();
    sendMessage(h, kWmMouseWheel, static_cast<WPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(delta)) << 16) | keys),
                static_cast<LPARAM>((at.x() & 0xFFFF) | ((at.y() & 0xFFFF) << 16)));
    w->accept();
  }

 private:
  void key(QKeyEvent* k, bool down) {
    HWND h = handleOfWidget(this);
    if (!h) return;
    uint32_t vk = virtualKeyOf(k->key(), k->modifiers(), k->nativeVirtualKey());
    bool system = (k->modifiers() & Qt::AltModifier) || vk == 0x79 /* F10 */;
    if (vk) {
      LPARAM flags = 1;
      if (k->isAutoRepeat() && down) flags |= LPARAM(1) << 30;
      if (!down) flags |= (LPARAM(1) << 30) | (LPARAM(1) << 31);
      uint32_t message = down ? (system ? kWmSysKeyDown : kWmKeyDown) : (system ? kWmSysKeyUp : kWmKeyUp);
      sendMessage(h, message, vk, flags);
    }
    if (down && !k->text().isEmpty() && platform::ui::isWindow(h)) {
      std::string bytes = toCp932(k->text());
      uint32_t message = (k->modifiers() & Qt::AltModifier) ? kWmSysChar : kWmChar;
      for (char c : bytes)
        if (platform::ui::isWindow(h)) sendMessage(h, message, static_cast<uint8_t>(c), 1);
    }
    k->accept();
  }

  void mouse(QMouseEvent* m) {
    HWND h = handleOfWidget(this);
    WPARAM wp = 0;
    LPARAM lp = 0;
    uint32_t message = mouseMessageOf(m, wp, lp, m->position().toPoint());
    if (h && message) sendMessage(h, message, wp, lp);
  }
};

}  // namespace

struct View::Impl {
  QPointer<ViewWidget> widget;
  HWND handle = nullptr;
};

View::View() : impl_(std::make_unique<Impl>()) {}

View::~View() { destroy(); }

HWND View::create(HWND parent, int32_t id, const std::string& className) {
  ensureApplication();
  QWidget* p = widgetOf(parent);
  if (!p) {
    setLastError(kErrorInvalidHandle);
    return nullptr;
  }
  destroy();
  auto* w = new ViewWidget(this, p);
  w->setProperty("platform.ui.id", id);
  impl_->widget = w;
  impl_->handle = attach(w, className, [this](HWND, uint32_t m, WPARAM wp, LPARAM lp) { return dispatch(m, wp, lp); });
  if (auto* splitter = qobject_cast<QSplitter*>(p)) splitter->addWidget(w);
  else if (p->layout()) p->layout()->addWidget(w);
  w->show();
  sendMessage(impl_->handle, kWmCreate, 0, 0);
  return impl_->handle;
}

HWND View::handle() const { return impl_->widget ? impl_->handle : nullptr; }

void View::destroy() {
  if (!impl_->widget) return;
  impl_->widget->owner = nullptr;
  if (isWindow(impl_->handle)) {
    setWindowProc(impl_->handle, nullptr);
    destroyWindow(impl_->handle);
  }
  impl_->widget = nullptr;
  impl_->handle = nullptr;
}

void View::invalidate() {
  if (impl_->widget) impl_->widget->update();
}

void View::invalidate(const Rect& r) {
  if (impl_->widget) impl_->widget->update(QRect(r.left, r.top, r.width(), r.height()));
}

void View::updateNow() {
  if (impl_->widget) impl_->widget->repaint();
}

Rect View::clientRect() const {
  if (!impl_->widget) return {};
  const QSize size = impl_->widget->clientSize();
  return {0, 0, std::max(0, size.width()), std::max(0, size.height())};
}

void View::setScrollSizes(Size total, Size line, Size page) {
  if (impl_->widget) impl_->widget->setScrollSizes(total, line, page);
}

Point View::scrollPosition() const {
  if (!impl_->widget) return {};
  ViewWidget* w = impl_->widget;
  return {w->bars[0] ? w->bars[0]->value() : 0, w->bars[1] ? w->bars[1]->value() : 0};
}

void View::scrollTo(int32_t x, int32_t y) {
  if (!impl_->widget) return;
  ViewWidget* w = impl_->widget;
  // The bars clamp to their ranges and repaint the view when they move.
  if (w->bars[0]) w->bars[0]->setValue(x);
  if (w->bars[1]) w->bars[1]->setValue(y);
}

bool View::setFocus() { return impl_->widget && platform::ui::setFocus(impl_->handle); }

ChildFrame* View::parentFrame() const { return impl_->widget ? childFrameAbove(impl_->widget) : nullptr; }

LRESULT View::onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  return defaultWindowProc(impl_->handle, message, wParam, lParam);
}

LRESULT View::dispatch(uint32_t m, WPARAM wp, LPARAM lp) {
  auto x = [lp]() { return static_cast<int32_t>(static_cast<int16_t>(lowWord(static_cast<uintptr_t>(lp)))); };
  auto y = [lp]() { return static_cast<int32_t>(static_cast<int16_t>(highWord(static_cast<uintptr_t>(lp)))); };
  switch (m) {
    case kWmKeyDown:
    case kWmSysKeyDown:
      if (onKeyDown(static_cast<uint32_t>(wp), lp)) return 0;
      break;
    case kWmKeyUp:
    case kWmSysKeyUp:
      if (onKeyUp(static_cast<uint32_t>(wp), lp)) return 0;
      break;
    case kWmChar:
    case kWmSysChar:
      if (onChar(static_cast<uint8_t>(wp))) return 0;
      break;
    case kWmSize:
      onSize(x() & 0xFFFF, y() & 0xFFFF);
      return 0;
    case kWmSetFocus:
      onSetFocus();
      return 0;
    case kWmKillFocus:
      onKillFocus();
      return 0;
    case kWmTimer:
      onTimer(static_cast<uint32_t>(wp));
      return 0;
    case kWmCommand:
      // A command comes from a menu, an accelerator or a button's click; any
      // other notice of a child control (a list's row change) is the view's
      // own business, whatever the control's number.
      if ((lp == 0 || highWord(wp) == 0) && handleCommand(lowWord(wp))) return 0;
      break;
    case kWmMouseMove:
    case kWmLButtonDown: case kWmLButtonUp: case kWmLButtonDblClk:
    case kWmRButtonDown: case kWmRButtonUp: case kWmRButtonDblClk:
    case 0x0207: case 0x0208: case 0x0209:
      if (onMouse(m, x(), y(), static_cast<uint32_t>(wp))) return 0;
      break;
    default:
      break;
  }
  return onMessage(m, wp, lp);
}

View* viewFromHandle(HWND window) {
  auto* w = dynamic_cast<ViewWidget*>(widgetOf(window));
  return w ? w->owner : nullptr;
}

// --- splitter -------------------------------------------------------------------

struct Splitter::Impl {
  QPointer<QSplitter> splitter;
  HWND handle = nullptr;
  std::vector<std::unique_ptr<View>> views;
};

Splitter::Splitter(HWND parent, bool vertical) : impl_(std::make_unique<Impl>()) {
  ensureApplication();
  QWidget* p = widgetOf(parent);
  auto* s = new QSplitter(vertical ? Qt::Vertical : Qt::Horizontal, p);
  s->setChildrenCollapsible(false);
  impl_->splitter = s;
  impl_->handle = attach(s, "Splitter");
  if (p && p->layout()) p->layout()->addWidget(s);
  s->show();
}

Splitter::~Splitter() {
  impl_->views.clear();
  if (impl_->splitter) {
    if (isWindow(impl_->handle)) destroyWindow(impl_->handle);
    else delete impl_->splitter.data();
  }
}

HWND Splitter::handle() const { return impl_->splitter ? impl_->handle : nullptr; }

View* Splitter::addPane(std::unique_ptr<View> view) {
  if (!impl_->splitter || !view) return nullptr;
  if (!view->create(impl_->handle, 0xE900 + static_cast<int32_t>(impl_->views.size()))) return nullptr;
  impl_->views.push_back(std::move(view));
  return impl_->views.back().get();
}

int32_t Splitter::paneCount() const { return static_cast<int32_t>(impl_->views.size()); }

View* Splitter::pane(int32_t index) const {
  return index >= 0 && index < paneCount() ? impl_->views[static_cast<size_t>(index)].get() : nullptr;
}

bool Splitter::setPaneSizes(const std::vector<int32_t>& sizes) {
  if (!impl_->splitter) return false;
  QList<int> list;
  for (int32_t s : sizes) list.push_back(s);
  impl_->splitter->setSizes(list);
  return true;
}

std::vector<int32_t> Splitter::paneSizes() const {
  std::vector<int32_t> out;
  if (impl_->splitter)
    for (int s : impl_->splitter->sizes()) out.push_back(s);
  return out;
}

}  // namespace platform::ui
