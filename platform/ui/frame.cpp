#include "platform/ui/frame.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

#include "platform/base/last_error.h"
#include "platform/ui/class_internal.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "platform/ui/internal.h"
#include "platform/ui/resources.h"
#include "platform/ui/view.h"

namespace platform::ui {

using namespace detail;

namespace {

constexpr const char* kChildProperty = "platform.ui.childframe";
constexpr const char* kFrameProperty = "platform.ui.frame";

QWidget* makeLayoutHost(QWidget* parent) {
  auto* w = new QWidget(parent);
  auto* layout = new QVBoxLayout(w);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  return w;
}

std::string builtInIndicatorText(uint32_t id) {
  switch (id) {
    case kIndicatorCaps: return "CAP";
    case kIndicatorNum: return "NUM";
    case kIndicatorScroll: return "SCRL";
    case kIndicatorKana: return toCp932(QString::fromUtf8("ｶﾅ"));
    default: return {};
  }
}

// Dialog units of a template to pixels, with the template's font.
QRect dialogPixels(const Rect& units, const QFontMetrics& metrics) {
  static const QString kSample = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
  int baseX = std::max(1, (metrics.horizontalAdvance(kSample) / 26 + 1) / 2);
  int baseY = std::max(1, metrics.height());
  return QRect(units.left * baseX / 4, units.top * baseY / 8, units.width() * baseX / 4, units.height() * baseY / 8);
}

// The frame's close button (or a close by the window manager) becomes
// WM_CLOSE to the frame's procedure, which may refuse it; the frame's own
// procedure accepts it by hiding the window.
class FrameCloseFilter : public QObject {
 public:
  explicit FrameCloseFilter(QObject* parent) : QObject(parent) {}

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::Close) return false;
    HWND h = handleOfWidget(object);
    if (!h) return false;
    event->ignore();
    sendMessage(h, kWmClose, 0, 0);
    return true;
  }
};

}  // namespace

struct Frame::Impl {
  Frame* self = nullptr;
  FrameKind kind = FrameKind::Single;
  QPointer<QMainWindow> window;
  QPointer<QMdiArea> area;
  HWND handle = nullptr;
  HWND client = nullptr;
  QToolBar* toolBar = nullptr;
  QPointer<QToolBar> dialogBarHolder;
  HWND dialogBar = nullptr;
  CommandHandler commandHandler;
  UpdateHandler updateHandler;
  std::map<uint32_t, CommandState> states;
  std::vector<AcceleratorEntry> accelerators;
  int32_t ownMenu = 0, ownAccelerators = 0;
  int32_t shownMenu = 0, shownAccelerators = 0;
  std::vector<std::pair<uint32_t, QPointer<QLabel>>> indicators;
  std::map<uint32_t, std::pair<QPointer<QDockWidget>, HWND>> panes;
  std::unique_ptr<View> view;
  // Shared with the deferred deletions of closed child frames, which check
  // that the frame still lists the child before deleting it.
  std::shared_ptr<std::vector<ChildFrame*>> children = std::make_shared<std::vector<ChildFrame*>>();
  ChildFrame* active = nullptr;
  int keyHook = 0;
  QMetaObject::Connection idle;
  bool updating = false;

  std::vector<QAction*> actions() const {
    std::vector<QAction*> out;
    if (window) collect(window->menuBar()->actions(), out);
    return out;
  }

  static void collect(const QList<QAction*>& list, std::vector<QAction*>& out) {
    for (QAction* a : list) {
      if (a->menu()) collect(a->menu()->actions(), out);
      else if (a->data().isValid()) out.push_back(a);
    }
  }

  void addItems(QMenu* menu, const std::vector<MenuItemTemplate>& items) {
    for (const MenuItemTemplate& item : items) {
      if (item.separator) {
        menu->addSeparator();
      } else if (!item.children.empty()) {
        addItems(menu->addMenu(fromCp932(item.text)), item.children);
      } else {
        QAction* action = menu->addAction(fromCp932(item.text));
        action->setData(item.command);
        uint32_t command = item.command;
        Frame* frame = self;
        QObject::connect(action, &QAction::triggered, [frame, command]() { frame->runCommand(command); });
      }
    }
  }

  bool buildMenu(int32_t menuId) {
    if (!window) return false;
    const MenuTemplate* tmpl = menuId ? findMenuTemplate(menuId) : nullptr;
    if (menuId && !tmpl) return false;
    QMenuBar* bar = window->menuBar();
    std::vector<QMenu*> old;
    for (QAction* a : bar->actions())
      if (a->menu()) old.push_back(a->menu());
    bar->clear();
    for (QMenu* m : old) m->deleteLater();  // a menu may be running the command that swaps it
    shownMenu = menuId;
    if (!tmpl) return true;
    for (const MenuItemTemplate& item : tmpl->items) {
      if (item.children.empty()) {
        QAction* action = bar->addAction(fromCp932(item.text));
        action->setData(item.command);
        uint32_t command = item.command;
        Frame* frame = self;
        QObject::connect(action, &QAction::triggered, [frame, command]() { frame->runCommand(command); });
      } else {
        addItems(bar->addMenu(fromCp932(item.text)), item.children);
      }
    }
    return true;
  }

  bool loadAccelerators(int32_t tableId) {
    if (tableId == 0) {
      accelerators.clear();
      shownAccelerators = 0;
      return true;
    }
    const AcceleratorTable* table = findAcceleratorTable(tableId);
    if (!table) return false;
    accelerators = table->entries;
    shownAccelerators = tableId;
    return true;
  }

  // Puts in force the active child's menu and table, or the frame's own.
  void applyHandles();

  bool focusInside() const {
    if (!window) return false;
    QWidget* focus = QApplication::focusWidget();
    if (focus) return focus == window || window->isAncestorOf(focus);
    return QApplication::activeWindow() == window;
  }

  std::vector<CommandTarget*> chain() const;

  void activated(QMdiSubWindow* sub);
};

struct ChildFrame::Impl {
  Frame* frame = nullptr;
  QPointer<QMdiSubWindow> sub;
  QWidget* clientWidget = nullptr;
  HWND handle = nullptr;
  HWND client = nullptr;
  int32_t menu = 0, accelerators = 0;
  std::vector<std::unique_ptr<View>> views;
  View* activeView = nullptr;
  bool closing = false;
  bool constructing = true;
};

namespace detail {

ChildFrame* childFrameAbove(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    QVariant v = w->property(kChildProperty);
    if (v.isValid()) return reinterpret_cast<ChildFrame*>(static_cast<quintptr>(v.toULongLong()));
  }
  return nullptr;
}

}  // namespace detail

namespace {

ChildFrame* childOfSub(QMdiSubWindow* sub) {
  if (!sub) return nullptr;
  QVariant v = sub->property(kChildProperty);
  return v.isValid() ? reinterpret_cast<ChildFrame*>(static_cast<quintptr>(v.toULongLong())) : nullptr;
}

// A child frame's close button asks the frame object, which may refuse.
class ChildCloseFilter : public QObject {
 public:
  explicit ChildCloseFilter(QObject* parent) : QObject(parent) {}

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::Close) return false;
    ChildFrame* child = childOfSub(qobject_cast<QMdiSubWindow*>(object));
    if (!child) return false;
    event->ignore();
    if (HWND h = child->handle()) postMessage(h, kWmClose, 0, 0);
    return true;
  }
};

}  // namespace

void Frame::Impl::applyHandles() {
  int32_t menu = ownMenu, table = ownAccelerators;
  if (active) {
    if (active->impl_->menu) menu = active->impl_->menu;
    if (active->impl_->accelerators) table = active->impl_->accelerators;
  }
  if (menu != shownMenu) buildMenu(menu);
  if (table != shownAccelerators) loadAccelerators(table);
}

std::vector<CommandTarget*> Frame::Impl::chain() const {
  std::vector<CommandTarget*> out;
  if (kind == FrameKind::Mdi) {
    if (active) {
      if (View* v = active->activeView()) out.push_back(v);
      out.push_back(active);
    }
  } else if (view) {
    out.push_back(view.get());
  }
  out.push_back(self);
  return out;
}

void Frame::Impl::activated(QMdiSubWindow* sub) {
  ChildFrame* child = childOfSub(sub);
  // Qt reports no active child while the whole window is inactive; the MDI
  // frame keeps its active child until another is activated or it closes.
  if (!child || child->impl_->closing) return;
  if (child == active) return;
  ChildFrame* previous = active;
  active = child;
  if (previous) previous->onActivate(false);
  applyHandles();
  if (!child->impl_->constructing) {
    child->onActivate(true);
    return;
  }
  // A frame activated as it is made hears of it once its object is whole.
  std::weak_ptr<std::vector<ChildFrame*>> list = children;
  Impl* frame = this;
  QTimer::singleShot(0, QCoreApplication::instance(), [list, frame, child]() {
    auto alive = list.lock();
    if (alive && std::find(alive->begin(), alive->end(), child) != alive->end() && frame->active == child)
      child->onActivate(true);
  });
}

Frame::Frame(const std::string& className, const std::string& title, const Rect& rect, FrameKind kind)
    : impl_(std::make_unique<Impl>()) {
  ensureApplication();
  impl_->self = this;
  impl_->kind = kind;
  auto* w = new QMainWindow;
  w->setWindowTitle(fromCp932(title));
  w->setGeometry(rect.left, rect.top, rect.width(), rect.height());
  impl_->window = w;
  impl_->handle = attach(w, className, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == kWmCommand) return runCommand(lowWord(wp)) ? 0 : 1;
    if (m == kWmClose) {
      if (impl_->window) impl_->window->hide();
      return 0;
    }
    return defaultWindowProc(h, m, wp, lp);
  });
  w->installEventFilter(new FrameCloseFilter(w));
  if (kind == FrameKind::Mdi) {
    auto* area = new QMdiArea(w);
    area->setActivationOrder(QMdiArea::ActivationHistoryOrder);
    impl_->area = area;
    impl_->client = attach(area, "MDIClient", [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == kWmMdiActivate) {
        if (ChildFrame* child = ChildFrame::fromHandle(reinterpret_cast<HWND>(wp)))
          if (&child->mainFrame() == this) child->activate();
        return 0;
      }
      if (m == kWmMdiGetActive) return reinterpret_cast<LRESULT>(impl_->active ? impl_->active->handle() : nullptr);
      return defaultWindowProc(h, m, wp, lp);
    });
    area->setProperty(kFrameProperty, QVariant::fromValue<qulonglong>(reinterpret_cast<quintptr>(this)));
    w->setCentralWidget(area);
    QObject::connect(area, &QMdiArea::subWindowActivated, [this](QMdiSubWindow* sub) { impl_->activated(sub); });
  } else {
    QWidget* central = makeLayoutHost(w);
    central->setProperty(kFrameProperty, QVariant::fromValue<qulonglong>(reinterpret_cast<quintptr>(this)));
    impl_->client = attach(central, "FrameClient");
    w->setCentralWidget(central);
  }
  impl_->toolBar = w->addToolBar(QStringLiteral("tools"));
  impl_->toolBar->setMovable(false);
  w->statusBar();
  impl_->keyHook = addKeyHook([this](const KeyInput& key) {
    if (!key.down || impl_->accelerators.empty() || !impl_->focusInside()) return false;
    if (QApplication::activeModalWidget()) return false;
    for (const AcceleratorEntry& e : impl_->accelerators) {
      if (e.virtualKey == key.virtualKey && e.shift == key.shift && e.ctrl == key.ctrl && e.alt == key.alt) {
        if (!key.repeat) postMessage(impl_->handle, kWmCommand, makeWParam(e.command, kCommandFromAccelerator), 0);
        return true;
      }
    }
    return false;
  });
  mapUpdate(kIndicatorCaps, [](uint32_t, CommandState& s) { s.enabled = isCapsLockOn(); });
  mapUpdate(kIndicatorNum, [](uint32_t, CommandState& s) { s.enabled = true; });
  mapUpdate(kIndicatorScroll, [](uint32_t, CommandState& s) { s.enabled = false; });
  mapUpdate(kIndicatorKana, [](uint32_t, CommandState& s) {
    ImeState ime;
    HWND focus = focusWindow();
    s.enabled = focus && imeState(focus, ime) && ime.open;
  });
  impl_->idle = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                                 [this]() { updateCommands(); });
  w->show();
}

Frame::~Frame() {
  QObject::disconnect(impl_->idle);
  removeInputHook(impl_->keyHook);
  std::vector<ChildFrame*> left = *impl_->children;
  for (ChildFrame* child : left) delete child;
  impl_->view.reset();
  if (isWindow(impl_->handle)) {
    setWindowProc(impl_->handle, nullptr);
    if (isWindow(impl_->client)) setWindowProc(impl_->client, nullptr);
    destroyWindow(impl_->handle);
  }
}

HWND Frame::handle() const { return impl_->handle; }
HWND Frame::client() const { return impl_->client; }
bool Frame::isMdi() const { return impl_->kind == FrameKind::Mdi; }

bool Frame::setMenu(int32_t menuId) {
  if (menuId != 0 && !findMenuTemplate(menuId)) return false;
  impl_->ownMenu = menuId;
  if (impl_->active && impl_->active->impl_->menu) return true;  // the child's stays in force
  return impl_->buildMenu(menuId);
}

bool Frame::setAccelerators(int32_t tableId) {
  if (tableId != 0 && !findAcceleratorTable(tableId)) return false;
  impl_->ownAccelerators = tableId;
  if (impl_->active && impl_->active->impl_->accelerators) return true;
  return impl_->loadAccelerators(tableId);
}

int32_t Frame::currentMenu() const { return impl_->shownMenu; }
int32_t Frame::currentAccelerators() const { return impl_->shownAccelerators; }

void Frame::onCommand(CommandHandler handler) { impl_->commandHandler = std::move(handler); }
void Frame::onUpdate(UpdateHandler handler) { impl_->updateHandler = std::move(handler); }

HWND Frame::addToolButton(uint32_t command, const std::string& text) {
  auto* button = new QPushButton(fromCp932(text), impl_->toolBar);
  button->setProperty("platform.ui.id", command);
  button->setFocusPolicy(Qt::NoFocus);
  impl_->toolBar->addWidget(button);
  QObject::connect(button, &QPushButton::clicked, [this, command]() { runCommand(command); });
  return attach(button, "Button");
}

void Frame::setStatusText(const std::string& text) {
  if (impl_->window) impl_->window->statusBar()->showMessage(fromCp932(text));
}

bool Frame::setStatusIndicators(const std::vector<uint32_t>& ids) {
  if (!impl_->window) return false;
  QStatusBar* bar = impl_->window->statusBar();
  for (auto& [id, label] : impl_->indicators)
    if (label) {
      bar->removeWidget(label);
      label->deleteLater();
    }
  impl_->indicators.clear();
  for (uint32_t id : ids) {
    std::string text;
    if (!loadString(static_cast<int32_t>(id), text)) text = builtInIndicatorText(id);
    auto* label = new QLabel(bar);
    label->setProperty("platform.ui.text", fromCp932(text));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(fromCp932(text)) + 8);
    bar->addPermanentWidget(label);
    impl_->indicators.emplace_back(id, label);
  }
  updateCommands();
  return true;
}

std::string Frame::statusPaneText(int32_t index) const {
  if (!impl_->window || index < 0) return {};
  if (index == 0) return toCp932(impl_->window->statusBar()->currentMessage());
  size_t i = static_cast<size_t>(index - 1);
  if (i >= impl_->indicators.size() || !impl_->indicators[i].second) return {};
  return toCp932(impl_->indicators[i].second->text());
}

HWND Frame::setDialogBar(int32_t templateId) {
  if (!impl_->window) return nullptr;
  const DialogTemplate* tmpl = templateId ? findDialogTemplate(templateId) : nullptr;
  if (templateId && !tmpl) {
    setLastError(kErrorInvalidParameter);
    return nullptr;
  }
  if (impl_->dialogBarHolder) {
    if (isWindow(impl_->dialogBar)) destroyWindow(impl_->dialogBar);
    impl_->window->removeToolBar(impl_->dialogBarHolder);
    impl_->dialogBarHolder->deleteLater();
  }
  impl_->dialogBar = nullptr;
  if (!tmpl) return nullptr;
  auto* holder = new QToolBar(QStringLiteral("dialogbar"), impl_->window);
  holder->setMovable(false);
  auto* bar = new QWidget(holder);
  // Bar buttons carry whole captions in little room: no inner padding.
  bar->setStyleSheet(QStringLiteral("QPushButton { padding: 0px 1px; }"));
  if (!tmpl->fontFace.empty()) bar->setFont(QFont(fromCp932(tmpl->fontFace), tmpl->fontPoints));
  QFontMetrics metrics(bar->font());
  bar->setFixedSize(dialogPixels(tmpl->rect, metrics).size());
  HWND barHandle = attach(bar, "DialogBar", [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == kWmCommand && highWord(wp) == kBnClicked) {
      runCommand(lowWord(wp));
      return 0;
    }
    return defaultWindowProc(h, m, wp, lp);
  });
  bar->setProperty("platform.ui.id", templateId);
  for (const ControlTemplate& c : tmpl->controls) {
    ControlTemplate copy = c;
    QRect r = dialogPixels(c.rect, metrics);
    copy.rect = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    if (HWND h = createControl(barHandle, copy))
      if (auto* b = qobject_cast<QPushButton*>(widgetOf(h))) b->setFocusPolicy(Qt::TabFocus);
  }
  holder->addWidget(bar);
  impl_->window->insertToolBar(impl_->toolBar, holder);
  impl_->window->insertToolBarBreak(impl_->toolBar);
  impl_->dialogBarHolder = holder;
  impl_->dialogBar = barHandle;
  return barHandle;
}

HWND Frame::dialogBar() const { return isWindow(impl_->dialogBar) ? impl_->dialogBar : nullptr; }

void Frame::showToolBar(bool show) { impl_->toolBar->setVisible(show); }
bool Frame::isToolBarVisible() const { return impl_->toolBar->isVisibleTo(impl_->window); }
void Frame::showStatusBar(bool show) {
  if (impl_->window) impl_->window->statusBar()->setVisible(show);
}
bool Frame::isStatusBarVisible() const {
  return impl_->window && impl_->window->statusBar()->isVisibleTo(impl_->window);
}

HWND Frame::addPane(uint32_t id, DockSide side, int32_t size) {
  if (!impl_->window || impl_->panes.count(id)) {
    setLastError(kErrorInvalidParameter);
    return nullptr;
  }
  auto* dock = new QDockWidget(impl_->window);
  dock->setObjectName(QStringLiteral("pane%1").arg(id));
  dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
  // No title: an empty layout host rather than a bare widget, whose size hint
  // of -1 would give the dock a negative minimum height.
  dock->setTitleBarWidget(makeLayoutHost(dock));
  QWidget* content = makeLayoutHost(dock);
  content->setProperty("platform.ui.id", id);
  dock->setWidget(content);
  Qt::DockWidgetArea area = Qt::TopDockWidgetArea;
  Qt::Orientation across = Qt::Vertical;
  switch (side) {
    case DockSide::Top: area = Qt::TopDockWidgetArea; break;
    case DockSide::Bottom: area = Qt::BottomDockWidgetArea; break;
    case DockSide::Left: area = Qt::LeftDockWidgetArea; across = Qt::Horizontal; break;
    case DockSide::Right: area = Qt::RightDockWidgetArea; across = Qt::Horizontal; break;
  }
  dock->setProperty("platform.ui.across", static_cast<int>(across));
  impl_->window->addDockWidget(area, dock);
  impl_->window->resizeDocks({dock}, {std::max(1, size)}, across);
  HWND h = attach(content, "ControlBar");
  impl_->panes[id] = {dock, h};
  return h;
}

HWND Frame::pane(uint32_t id) const {
  auto it = impl_->panes.find(id);
  return it != impl_->panes.end() && it->second.first && isWindow(it->second.second) ? it->second.second : nullptr;
}

bool Frame::removePane(uint32_t id) {
  auto it = impl_->panes.find(id);
  if (it == impl_->panes.end()) return false;
  QPointer<QDockWidget> dock = it->second.first;
  HWND h = it->second.second;
  impl_->panes.erase(it);
  if (isWindow(h)) destroyWindow(h);
  if (dock) {
    impl_->window->removeDockWidget(dock);
    dock->deleteLater();
  }
  return true;
}

bool Frame::resizePane(uint32_t id, int32_t size) {
  auto it = impl_->panes.find(id);
  if (it == impl_->panes.end() || !it->second.first) return false;
  QDockWidget* dock = it->second.first;
  auto across = static_cast<Qt::Orientation>(dock->property("platform.ui.across").toInt());
  impl_->window->resizeDocks({dock}, {std::max(1, size)}, across);
  return true;
}

View* Frame::setView(std::unique_ptr<View> view) {
  impl_->view.reset();
  if (!view || impl_->kind == FrameKind::Mdi) return nullptr;
  if (!view->create(impl_->client)) return nullptr;
  impl_->view = std::move(view);
  return impl_->view.get();
}

View* Frame::activeView() const {
  if (impl_->kind == FrameKind::Mdi) return impl_->active ? impl_->active->activeView() : nullptr;
  return impl_->view.get();
}

ChildFrame* Frame::activeChild() const { return impl_->active; }

std::vector<ChildFrame*> Frame::childFrames() const {
  std::vector<ChildFrame*> out;
  if (!impl_->area) return out;
  if (impl_->active) out.push_back(impl_->active);
  QList<QMdiSubWindow*> list = impl_->area->subWindowList(QMdiArea::ActivationHistoryOrder);
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    ChildFrame* c = childOfSub(*it);
    if (c && !c->impl_->closing && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
  }
  return out;
}

bool Frame::handleCommand(uint32_t command) {
  if (impl_->commandHandler && impl_->commandHandler(command)) return true;
  return CommandTarget::handleCommand(command);
}

bool Frame::updateCommand(uint32_t command, CommandState& state) {
  if (CommandTarget::updateCommand(command, state)) return true;
  if (!impl_->updateHandler) return false;
  impl_->updateHandler(command, state);
  return true;
}

bool Frame::handlesCommand(uint32_t command) const {
  return impl_->commandHandler || CommandTarget::handlesCommand(command);
}

bool Frame::runCommand(uint32_t command) {
  auto it = impl_->states.find(command);
  if (it != impl_->states.end() && !it->second.enabled) return false;
  return routeCommand(impl_->chain(), command);
}

void Frame::updateCommands() {
  if (impl_->updating || !impl_->window) return;
  impl_->updating = true;
  std::vector<CommandTarget*> chain = impl_->chain();
  auto update = [&](uint32_t command, HWND control) {
    CommandState s = routeUpdate(chain, command, control);
    impl_->states[command] = s;
    return s;
  };
  for (QAction* a : impl_->actions()) {
    CommandState s = update(a->data().toUInt(), nullptr);
    a->setEnabled(s.enabled);
    a->setCheckable(s.checked || a->isCheckable());
    a->setChecked(s.checked);
    if (s.hasText) a->setText(fromCp932(s.text));
  }
  for (QObject* child : impl_->toolBar->children())
    if (auto* b = qobject_cast<QPushButton*>(child)) {
      CommandState s = update(b->property("platform.ui.id").toUInt(), handleOfWidget(b));
      b->setEnabled(s.enabled);
      if (s.hasText) b->setText(fromCp932(s.text));
    }
  if (QWidget* bar = widgetOf(impl_->dialogBar)) {
    for (QWidget* w : bar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      int id = w->property("platform.ui.id").toInt();
      HWND h = handleOfWidget(w);
      if (id <= 0 || id == 0xFFFF || !h || qobject_cast<QLabel*>(w) || qobject_cast<QGroupBox*>(w)) continue;
      CommandState s = update(static_cast<uint32_t>(id), h);
      if (!isWindow(h)) continue;  // the update rebuilt the bar
      w->setEnabled(s.enabled);
      if (s.hasText && windowText(h) != s.text) setWindowText(h, s.text);
      if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) b->setChecked(s.checked);
    }
  }
  for (auto& [id, label] : impl_->indicators) {
    if (!label) continue;
    CommandState s = update(id, nullptr);
    QString text = s.hasText ? fromCp932(s.text) : label->property("platform.ui.text").toString();
    label->setText(s.enabled ? text : QString());
  }
  impl_->updating = false;
}

CommandState Frame::commandState(uint32_t command) const {
  auto it = impl_->states.find(command);
  return it == impl_->states.end() ? CommandState{} : it->second;
}

bool Frame::chooseMenuItem(uint32_t command) {
  for (QAction* a : impl_->actions())
    if (a->data().toUInt() == command && a->isEnabled()) {
      a->trigger();
      return true;
    }
  return false;
}

std::vector<std::string> Frame::menuTitles() const {
  std::vector<std::string> titles;
  if (!impl_->window) return titles;
  for (QAction* a : impl_->window->menuBar()->actions()) titles.push_back(toCp932(a->text()));
  return titles;
}

uint32_t Frame::trackPopupMenu(std::vector<PopupItem> items, int32_t x, int32_t y) {
  std::vector<CommandTarget*> chain = impl_->chain();
  for (PopupItem& item : items) {
    if (item.separator || item.command == 0) continue;
    CommandState s = routeUpdate(chain, item.command);
    item.enabled = s.enabled;
    item.checked = s.checked;
    if (s.hasText) item.text = s.text;
  }
  uint32_t chosen = platform::ui::trackPopupMenu(items, impl_->handle, x, y, false);
  if (chosen) routeCommand(impl_->chain(), chosen);
  return chosen;
}

// --- child frames ------------------------------------------------------------------

ChildFrame::ChildFrame(Frame& mdiFrame, const std::string& title, const std::string& className)
    : impl_(std::make_unique<Impl>()) {
  impl_->frame = &mdiFrame;
  QMdiArea* area = mdiFrame.impl_->area;
  auto* sub = new QMdiSubWindow;
  sub->setAttribute(Qt::WA_DeleteOnClose, false);
  sub->setProperty(kChildProperty, QVariant::fromValue<qulonglong>(reinterpret_cast<quintptr>(this)));
  sub->setWindowTitle(fromCp932(title));
  sub->installEventFilter(new ChildCloseFilter(sub));
  impl_->clientWidget = makeLayoutHost(sub);
  sub->setWidget(impl_->clientWidget);
  impl_->sub = sub;
  impl_->handle = attach(sub, className, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == kWmClose) {
      close();
      return 0;
    }
    if (m == kWmCommand) return routeCommand({activeView(), this}, lowWord(wp)) ? 0 : 1;
    return defaultWindowProc(h, m, wp, lp);
  });
  impl_->client = attach(impl_->clientWidget, "MDIChildClient");
  mdiFrame.impl_->children->push_back(this);
  if (area) {
    area->addSubWindow(sub);
    sub->resize(sub->sizeHint().expandedTo(QSize(320, 240)));
    sub->show();
  }
  activate();
  impl_->constructing = false;
}

ChildFrame::~ChildFrame() {
  Frame::Impl& f = *impl_->frame->impl_;
  std::erase(*f.children, this);
  bool wasActive = f.active == this;
  if (wasActive) f.active = nullptr;
  impl_->views.clear();
  if (impl_->sub) {
    impl_->sub->setProperty(kChildProperty, QVariant());
    QMdiSubWindow* sub = impl_->sub;
    if (isWindow(impl_->handle)) {
      setWindowProc(impl_->handle, nullptr);
      destroyWindow(impl_->handle);
    } else {
      sub->deleteLater();
    }
    if (f.area) f.area->removeSubWindow(sub);
  }
  if (wasActive && !f.children->empty()) {
    // The most recently active of the others takes over.
    ChildFrame* next = nullptr;
    if (f.area) {
      QList<QMdiSubWindow*> list = f.area->subWindowList(QMdiArea::ActivationHistoryOrder);
      for (auto it = list.rbegin(); it != list.rend() && !next; ++it)
        if (ChildFrame* c = childOfSub(*it); c && !c->impl_->closing) next = c;
    }
    if (next) next->activate();
  } else if (wasActive) {
    f.applyHandles();
  }
}

HWND ChildFrame::handle() const { return impl_->sub ? impl_->handle : nullptr; }
Frame& ChildFrame::mainFrame() const { return *impl_->frame; }
HWND ChildFrame::client() const { return impl_->client; }

bool ChildFrame::setHandles(int32_t menuId, int32_t acceleratorsId) {
  if ((menuId && !findMenuTemplate(menuId)) || (acceleratorsId && !findAcceleratorTable(acceleratorsId))) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  impl_->menu = menuId;
  impl_->accelerators = acceleratorsId;
  if (isActive()) {
    // The table may have been rebuilt under the same id: load it again.
    impl_->frame->impl_->shownAccelerators = -1;
    impl_->frame->impl_->applyHandles();
  }
  return true;
}

int32_t ChildFrame::menuId() const { return impl_->menu; }
int32_t ChildFrame::acceleratorsId() const { return impl_->accelerators; }

View* ChildFrame::setView(std::unique_ptr<View> view) {
  if (!view || !view->create(impl_->client)) return nullptr;
  impl_->views.push_back(std::move(view));
  impl_->activeView = impl_->views.back().get();
  if (impl_->sub) impl_->sub->adjustSize();
  return impl_->activeView;
}

View* ChildFrame::activeView() const { return impl_->activeView; }
void ChildFrame::setActiveView(View* view) { impl_->activeView = view; }

void ChildFrame::setTitle(const std::string& title) {
  if (impl_->sub) impl_->sub->setWindowTitle(fromCp932(title));
}

std::string ChildFrame::title() const { return impl_->sub ? toCp932(impl_->sub->windowTitle()) : std::string(); }

void ChildFrame::activate() {
  Frame::Impl& f = *impl_->frame->impl_;
  if (impl_->closing) return;
  if (f.area && impl_->sub) f.area->setActiveSubWindow(impl_->sub);
  // Offscreen, or while the main window is inactive, Qt may not report the
  // activation: the frame's own bookkeeping decides.
  f.activated(impl_->sub);
  if (impl_->activeView && impl_->activeView->handle()) {
    if (QWidget* w = widgetOf(impl_->activeView->handle())) w->setFocus(Qt::OtherFocusReason);
  }
}

bool ChildFrame::isActive() const { return impl_->frame->impl_->active == this; }

void ChildFrame::showMaximized() {
  if (impl_->sub) impl_->sub->showMaximized();
}

bool ChildFrame::close() {
  if (impl_->closing) return true;
  if (!onClose()) return false;
  impl_->closing = true;
  Frame::Impl& f = *impl_->frame->impl_;
  if (impl_->sub) impl_->sub->hide();
  if (f.active == this) {
    // Hand the menus and the commands to the next frame at once.
    f.active = nullptr;
    ChildFrame* next = nullptr;
    if (f.area) {
      QList<QMdiSubWindow*> list = f.area->subWindowList(QMdiArea::ActivationHistoryOrder);
      for (auto it = list.rbegin(); it != list.rend() && !next; ++it)
        if (ChildFrame* c = childOfSub(*it); c && !c->impl_->closing) next = c;
    }
    onActivate(false);
    if (next) next->activate();
    else f.applyHandles();
  }
  std::weak_ptr<std::vector<ChildFrame*>> list = f.children;
  ChildFrame* self = this;
  QTimer::singleShot(0, QCoreApplication::instance(), [list, self]() {
    auto children = list.lock();
    if (children && std::find(children->begin(), children->end(), self) != children->end()) delete self;
  });
  return true;
}

Frame* Frame::fromClient(HWND client) {
  QWidget* w = widgetOf(client);
  if (!w) return nullptr;
  QVariant v = w->property(kFrameProperty);
  return v.isValid() ? reinterpret_cast<Frame*>(static_cast<quintptr>(v.toULongLong())) : nullptr;
}

ChildFrame* ChildFrame::fromHandle(HWND window) {
  ChildFrame* c = childOfSub(qobject_cast<QMdiSubWindow*>(widgetOf(window)));
  return c && !c->impl_->closing ? c : nullptr;
}

}  // namespace platform::ui
