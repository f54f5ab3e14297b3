#include "platform/ui/frame.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>

#include <map>

#include "platform/ui/input.h"
#include "platform/ui/internal.h"
#include "platform/ui/resources.h"

namespace platform::ui {

using namespace detail;

struct Frame::Impl {
  QPointer<QMainWindow> window;
  HWND handle = nullptr;
  HWND client = nullptr;
  QToolBar* toolBar = nullptr;
  CommandHandler commandHandler;
  UpdateHandler updateHandler;
  std::map<uint32_t, CommandState> states;
  std::vector<AcceleratorEntry> accelerators;
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

  void addItems(QMenu* menu, const std::vector<MenuItemTemplate>& items, Frame* frame) {
    for (const MenuItemTemplate& item : items) {
      if (item.separator) {
        menu->addSeparator();
      } else if (!item.children.empty()) {
        addItems(menu->addMenu(fromCp932(item.text)), item.children, frame);
      } else {
        QAction* action = menu->addAction(fromCp932(item.text));
        action->setData(item.command);
        uint32_t command = item.command;
        QObject::connect(action, &QAction::triggered, [frame, command]() { frame->runCommand(command); });
      }
    }
  }

  bool focusInside() const {
    if (!window) return false;
    QWidget* focus = QApplication::focusWidget();
    if (focus) return focus == window || window->isAncestorOf(focus);
    return QApplication::activeWindow() == window;
  }
};

Frame::Frame(const std::string& className, const std::string& title, const Rect& rect)
    : impl_(std::make_unique<Impl>()) {
  ensureApplication();
  auto* w = new QMainWindow;
  w->setWindowTitle(fromCp932(title));
  w->setGeometry(rect.left, rect.top, rect.width(), rect.height());
  impl_->window = w;
  impl_->handle = attach(w, className, [this](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == kWmCommand) return runCommand(lowWord(wp)) ? 0 : 1;
    return defaultWindowProc(h, m, wp, lp);
  });
  WindowSpec spec;
  spec.className = "FrameClient";
  spec.parent = impl_->handle;
  impl_->client = createWindow(spec, nullptr);
  w->setCentralWidget(widgetOf(impl_->client));
  impl_->toolBar = w->addToolBar(QStringLiteral("tools"));
  w->statusBar();
  impl_->keyHook = addKeyHook([this](const KeyInput& key) {
    if (!key.down || impl_->accelerators.empty() || !impl_->focusInside()) return false;
    for (const AcceleratorEntry& e : impl_->accelerators) {
      if (e.virtualKey == key.virtualKey && e.shift == key.shift && e.ctrl == key.ctrl && e.alt == key.alt) {
        if (!key.repeat) postMessage(impl_->handle, kWmCommand, makeWParam(e.command, kCommandFromAccelerator), 0);
        return true;
      }
    }
    return false;
  });
  impl_->idle = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                                 [this]() { updateCommands(); });
  w->show();
}

Frame::~Frame() {
  QObject::disconnect(impl_->idle);
  removeInputHook(impl_->keyHook);
  if (isWindow(impl_->handle)) {
    setWindowProc(impl_->handle, nullptr);
    destroyWindow(impl_->handle);
  }
}

HWND Frame::handle() const { return impl_->handle; }
HWND Frame::client() const { return impl_->client; }

bool Frame::setMenu(int32_t menuId) {
  if (!impl_->window) return false;
  QMenuBar* bar = impl_->window->menuBar();
  std::vector<QMenu*> old;
  for (QAction* a : bar->actions())
    if (a->menu()) old.push_back(a->menu());
  bar->clear();
  for (QMenu* m : old) delete m;
  if (menuId == 0) return true;
  const MenuTemplate* tmpl = findMenuTemplate(menuId);
  if (!tmpl) return false;
  for (const MenuItemTemplate& item : tmpl->items) {
    if (item.children.empty()) {
      QAction* action = bar->addAction(fromCp932(item.text));
      action->setData(item.command);
      uint32_t command = item.command;
      QObject::connect(action, &QAction::triggered, [this, command]() { runCommand(command); });
    } else {
      impl_->addItems(bar->addMenu(fromCp932(item.text)), item.children, this);
    }
  }
  return true;
}

bool Frame::setAccelerators(int32_t tableId) {
  if (tableId == 0) {
    impl_->accelerators.clear();
    return true;
  }
  const AcceleratorTable* table = findAcceleratorTable(tableId);
  if (!table) return false;
  impl_->accelerators = table->entries;
  return true;
}

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

bool Frame::runCommand(uint32_t command) {
  auto it = impl_->states.find(command);
  if (it != impl_->states.end() && !it->second.enabled) return false;
  return impl_->commandHandler && impl_->commandHandler(command);
}

void Frame::updateCommands() {
  if (impl_->updating || !impl_->updateHandler || !impl_->window) return;
  impl_->updating = true;
  std::vector<uint32_t> commands;
  for (QAction* a : impl_->actions()) commands.push_back(a->data().toUInt());
  for (QObject* child : impl_->toolBar->children())
    if (auto* b = qobject_cast<QPushButton*>(child)) commands.push_back(b->property("platform.ui.id").toUInt());
  for (uint32_t command : commands) {
    CommandState state;
    impl_->updateHandler(command, state);
    impl_->states[command] = state;
  }
  for (QAction* a : impl_->actions()) {
    const CommandState& s = impl_->states[a->data().toUInt()];
    a->setEnabled(s.enabled);
    a->setCheckable(s.checked || a->isCheckable());
    a->setChecked(s.checked);
    if (s.hasText) a->setText(fromCp932(s.text));
  }
  for (QObject* child : impl_->toolBar->children())
    if (auto* b = qobject_cast<QPushButton*>(child)) {
      const CommandState& s = impl_->states[b->property("platform.ui.id").toUInt()];
      b->setEnabled(s.enabled);
      if (s.hasText) b->setText(fromCp932(s.text));
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

}  // namespace platform::ui
