#include "platform/ui/menu.h"

#include <QAction>
#include <QMenu>
#include <QPixmap>
#include <QPoint>

#include <mutex>

#include "platform/base/shared_state.h"
#include "platform/ui/internal.h"
#include "platform/ui/resources.h"

namespace platform::ui {

using namespace detail;

namespace detail {

struct PopupAnswerSlot {
  std::mutex mutex;
  PopupMenuAnswerer answerer;
};

PLATFORM_SHARED_STATE void* sharedPopupAnswerer() {
  static PopupAnswerSlot* slot = new PopupAnswerSlot;
  return slot;
}

}  // namespace detail

namespace {

PopupAnswerSlot& answerSlot() { return *static_cast<PopupAnswerSlot*>(sharedPopupAnswerer()); }

void flatten(const std::vector<MenuItemTemplate>& items, std::vector<PopupItem>& out) {
  for (const MenuItemTemplate& item : items) {
    if (!item.children.empty()) {
      flatten(item.children, out);
      continue;
    }
    PopupItem p;
    p.command = item.command;
    p.text = item.text;
    p.separator = item.separator;
    out.push_back(p);
  }
}

}  // namespace

std::vector<PopupItem> popupItemsOf(int32_t menuId, int32_t index) {
  std::vector<PopupItem> out;
  const MenuTemplate* tmpl = findMenuTemplate(menuId);
  if (!tmpl || index < 0) return out;
  int32_t n = 0;
  for (const MenuItemTemplate& item : tmpl->items) {
    if (item.children.empty()) continue;
    if (n++ == index) {
      flatten(item.children, out);
      break;
    }
  }
  return out;
}

PopupMenuAnswerer setPopupMenuAnswerer(PopupMenuAnswerer answerer) {
  std::lock_guard<std::mutex> guard(answerSlot().mutex);
  PopupMenuAnswerer old = std::move(answerSlot().answerer);
  answerSlot().answerer = std::move(answerer);
  return old;
}

namespace {

void fillMenu(QMenu& menu, const std::vector<PopupItem>& items) {
  for (const PopupItem& item : items) {
    if (item.separator) {
      menu.addSeparator();
      continue;
    }
    QAction* a = menu.addAction(fromCp932(item.text));
    a->setData(item.command);
    a->setEnabled(item.enabled);
    a->setCheckable(item.checked);
    a->setChecked(item.checked);
  }
}

}  // namespace

bool grabPopupMenuToPng(const std::vector<PopupItem>& items, const std::string& path) {
  ensureApplication();
  QMenu menu;
  fillMenu(menu, items);
  menu.ensurePolished();
  menu.resize(menu.sizeHint());
  return menu.grab().save(QString::fromUtf8(path.c_str()), "PNG");
}

uint32_t trackPopupMenu(const std::vector<PopupItem>& items, HWND owner, int32_t x, int32_t y, bool notify) {
  ensureApplication();
  PopupMenuAnswerer scripted;
  {
    std::lock_guard<std::mutex> guard(answerSlot().mutex);
    scripted = answerSlot().answerer;
  }
  uint32_t chosen = 0;
  if (scripted) {
    uint32_t answer = scripted(items);
    for (const PopupItem& item : items)
      if (!item.separator && item.enabled && item.command != 0 && item.command == answer) chosen = answer;
  } else {
    QMenu menu(widgetOf(owner));
    fillMenu(menu, items);
    if (QAction* a = menu.exec(QPoint(x, y))) chosen = a->data().toUInt();
  }
  if (chosen && notify && isWindow(owner)) sendMessage(owner, kWmCommand, makeWParam(chosen, 0), 0);
  return chosen;
}

}  // namespace platform::ui
