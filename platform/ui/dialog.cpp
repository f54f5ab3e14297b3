#include "platform/ui/dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLocale>
#include <QDialog>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

#include "platform/base/last_error.h"
#include "platform/ui/internal.h"

namespace platform::ui {

using namespace detail;

namespace {

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// The dialog widget: its buttons, Enter and Esc become WM_COMMAND to the
// dialog procedure.
class DialogWidget : public QDialog {
 public:
  explicit DialogWidget(QWidget* parent) : QDialog(parent) {}
  bool modal = false;
  bool ended = false;

  void command(int id, int code, HWND from) {
    HWND self = handleOfWidget(this);
    if (!self) return;
    LRESULT handled = deliver(self, kWmCommand, makeWParam(static_cast<uint32_t>(id), static_cast<uint32_t>(code)),
                              reinterpret_cast<LPARAM>(from));
    if (!handled && code == kBnClicked && (id == kIdOk || id == kIdCancel) && platform::ui::isWindow(self)) endDialog(self, id);
  }

 protected:
  void reject() override {
    if (ended) {
      QDialog::reject();
      return;
    }
    HWND cancel = dialogItem(handleOfWidget(this), kIdCancel);
    command(kIdCancel, kBnClicked, cancel);
  }
  void accept() override {
    if (ended) QDialog::accept();
  }
  void closeEvent(QCloseEvent* event) override {
    if (ended) return;
    event->ignore();
    if (HWND self = handleOfWidget(this)) {
      if (!deliver(self, kWmClose, 0, 0)) reject();
    }
  }
};

DialogWidget* dialogOf(QWidget* w) {
  for (; w; w = w->parentWidget())
    if (auto* d = dynamic_cast<DialogWidget*>(w)) return d;
  return nullptr;
}

void notify(QWidget* control, int code) {
  DialogWidget* d = dialogOf(control->parentWidget());
  HWND h = handleOfWidget(control);
  if (!h) return;
  int id = control->property("platform.ui.id").toInt();
  if (d) {
    d->command(id, code, h);
  } else if (HWND parent = parentWindow(h)) {
    sendMessage(parent, kWmCommand, makeWParam(static_cast<uint32_t>(id), static_cast<uint32_t>(code)),
                reinterpret_cast<LPARAM>(h));
  }
}

const char* classNameOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton: case ControlKind::DefPushButton: case ControlKind::CheckBox:
    case ControlKind::RadioButton: case ControlKind::GroupBox: return "Button";
    case ControlKind::Edit: return "Edit";
    case ControlKind::Static: return "Static";
    case ControlKind::ListBox: return "ListBox";
    case ControlKind::ComboBox: return "ComboBox";
    case ControlKind::ListView: return "SysListView32";
    case ControlKind::DatePicker: return "SysDateTimePick32";
    case ControlKind::Progress: return "msctls_progress32";
    case ControlKind::Spin: return "msctls_updown32";
  }
  return "Static";
}

// A control tells its parent when it gets the focus and when the user or the
// program moves the focus from it to another control (a one-line edit, a
// combo box). Leaving the window (a message box, another program) or a popup
// (the combo box's own list) is no leaving of the field: the focus comes back
// to it, and a handler run under a box would act in the box's loop; coming
// back is then no new arrival either. An editable combo box's focus is held
// by its edit field, which tells for the box: the flag that pairs the notices
// lives on the control told about.
constexpr const char* kFocusTold = "platform.ui.focusTold";

bool focusWithin(QWidget* control) {
  QWidget* focus = QApplication::focusWidget();
  return focus && (focus == control || control->isAncestorOf(focus));
}

void tellFocus(QWidget* control, bool gotFocus, Qt::FocusReason reason, int code) {
  const bool told = control->property(kFocusTold).toBool();
  if (gotFocus) {
    if (told) return;
    if (!control->isVisible()) {
      // A window shown with the control focused activates before its
      // controls count as shown: tell once they do, if the focus stayed.
      QPointer<QWidget> later(control);
      QMetaObject::invokeMethod(
          control,
          [later, code] {
            if (later && later->isVisible() && focusWithin(later) && !later->property(kFocusTold).toBool())
              tellFocus(later, true, Qt::OtherFocusReason, code);
          },
          Qt::QueuedConnection);
      return;
    }
  } else if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason || !told) {
    return;
  }
  control->setProperty(kFocusTold, gotFocus);
  if (control->isVisible()) notify(control, code);
}

template <class Control>
class FocusTelling : public Control {
 public:
  // teller: the control the notices are about (null: this one).
  template <class... Args>
  FocusTelling(int setFocusCode, int killFocusCode, QWidget* teller, Args&&... args)
      : Control(std::forward<Args>(args)...), setFocusCode_(setFocusCode), killFocusCode_(killFocusCode),
        teller_(teller ? teller : this) {}

 protected:
  void focusInEvent(QFocusEvent* event) override {
    Control::focusInEvent(event);
    tellFocus(teller_, true, event->reason(), setFocusCode_);
  }
  void focusOutEvent(QFocusEvent* event) override {
    Control::focusOutEvent(event);
    tellFocus(teller_, false, event->reason(), killFocusCode_);
  }

 private:
  int setFocusCode_;
  int killFocusCode_;
  QWidget* teller_;
};

QWidget* makeControl(QWidget* parent, const ControlTemplate& c) {
  QString text = fromCp932(c.text);
  QWidget* w = nullptr;
  switch (c.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      auto* b = new QPushButton(text, parent);
      b->setAutoDefault(false);
      if (c.kind == ControlKind::DefPushButton) b->setDefault(true);
      QObject::connect(b, &QPushButton::clicked, [b]() { notify(b, kBnClicked); });
      w = b;
      break;
    }
    case ControlKind::CheckBox: {
      auto* b = new QCheckBox(text, parent);
      QObject::connect(b, &QCheckBox::clicked, [b]() { notify(b, kBnClicked); });
      w = b;
      break;
    }
    case ControlKind::RadioButton: {
      auto* b = new QRadioButton(text, parent);
      QObject::connect(b, &QRadioButton::clicked, [b]() { notify(b, kBnClicked); });
      w = b;
      break;
    }
    case ControlKind::GroupBox: w = new QGroupBox(text, parent); break;
    case ControlKind::Static: w = new QLabel(text, parent); break;
    case ControlKind::Edit: {
      if (c.flags & kControlMultiline) {
        auto* e = new QPlainTextEdit(text, parent);
        e->setReadOnly(c.flags & kControlReadOnly);
        QObject::connect(e, &QPlainTextEdit::textChanged, [e]() { notify(e, kEnChange); });
        w = e;
      } else {
        auto* e = new FocusTelling<QLineEdit>(kEnSetFocus, kEnKillFocus, nullptr, text, parent);
        e->setReadOnly(c.flags & kControlReadOnly);
        if (c.flags & kControlPassword) e->setEchoMode(QLineEdit::Password);
        if (c.flags & kControlNumber) e->setInputMask(QString());
        QObject::connect(e, &QLineEdit::textEdited, [e]() { notify(e, kEnChange); });
        w = e;
      }
      break;
    }
    case ControlKind::ListBox: {
      auto* l = new QListWidget(parent);
      QObject::connect(l, &QListWidget::currentRowChanged, [l]() { notify(l, kLbnSelChange); });
      QObject::connect(l, &QListWidget::itemDoubleClicked, [l]() { notify(l, kLbnDblClk); });
      w = l;
      break;
    }
    case ControlKind::ComboBox: {
      auto* b = new FocusTelling<QComboBox>(kCbnSetFocus, kCbnKillFocus, nullptr, parent);
      if (!(c.flags & kControlDropList))
        b->setLineEdit(new FocusTelling<QLineEdit>(kCbnSetFocus, kCbnKillFocus, b, b));
      QObject::connect(b, &QComboBox::activated, [b]() { notify(b, kCbnSelChange); });
      if (QLineEdit* e = b->lineEdit())
        QObject::connect(e, &QLineEdit::textEdited, [b]() { notify(b, kCbnEditChange); });
      w = b;
      break;
    }
    case ControlKind::ListView: {
      auto* t = new QTreeWidget(parent);
      t->setRootIsDecorated(false);
      t->setColumnCount(0);
      t->setContextMenuPolicy(Qt::CustomContextMenu);
      auto clicked = [t](const QPoint& at, int code) {
        const QModelIndex index = t->indexAt(at);
        const QPoint global = t->viewport()->mapToGlobal(at);
        t->setProperty("platform.ui.clickRow", index.isValid() ? index.row() : -1);
        t->setProperty("platform.ui.clickX", global.x());
        t->setProperty("platform.ui.clickY", global.y());
        notify(t, code);
      };
      QObject::connect(t, &QTreeWidget::customContextMenuRequested,
                       [clicked](const QPoint& at) { clicked(at, static_cast<int>(kNmRClick)); });
      QObject::connect(t, &QTreeWidget::itemClicked, [t, clicked](QTreeWidgetItem* item, int) {
        clicked(t->visualItemRect(item).center(), static_cast<int>(kNmClick));
      });
      QObject::connect(t, &QTreeWidget::currentItemChanged, [t]() { notify(t, kLvnItemChanged); });
      w = t;
      break;
    }
    case ControlKind::DatePicker: {
      auto* d = new QDateEdit(QDate::currentDate(), parent);
      d->setDisplayFormat(c.format.empty() ? QStringLiteral("yyyy/MM/dd") : fromCp932(c.format));
      w = d;
      break;
    }
    case ControlKind::Progress: {
      auto* p = new QProgressBar(parent);
      p->setRange(0, 100);
      p->setValue(0);
      w = p;
      break;
    }
    case ControlKind::Spin: w = new QSpinBox(parent); break;
  }
  if (c.flags & kControlDisabled) w->setEnabled(false);
  w->setProperty("platform.ui.id", c.id);
  return w;
}

QRect pixelsOf(const Rect& units, const QFontMetrics& metrics) {
  static const QString kSample = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
  int baseX = std::max(1, (metrics.horizontalAdvance(kSample) / 26 + 1) / 2);
  int baseY = std::max(1, metrics.height());
  auto x = [&](int v) { return v * baseX / 4; };
  auto y = [&](int v) { return v * baseY / 8; };
  return QRect(x(units.left), y(units.top), x(units.width()), y(units.height()));
}

DialogWidget* buildDialog(const DialogTemplate& tmpl, HWND parent, DialogProc proc, LPARAM initParam, bool modal) {
  ensureApplication();
  auto* d = new DialogWidget(widgetOf(parent));
  d->modal = modal;
  d->setWindowTitle(fromCp932(tmpl.caption));
  if (!tmpl.fontFace.empty()) d->setFont(QFont(fromCp932(tmpl.fontFace), tmpl.fontPoints));
  QFontMetrics metrics(d->font());
  QRect outer = pixelsOf(tmpl.rect, metrics);
  d->resize(outer.size());
  if (!parent) d->move(outer.topLeft());
  HWND self = attach(d, "#32770", std::move(proc));
  bool focusSet = false;
  // A static text's mnemonic ("&O") leads to the next control that takes the
  // focus, as on the desktop the program was written for; without a partner
  // the label would show the "&" itself.
  QLabel* pendingLabel = nullptr;
  for (const ControlTemplate& c : tmpl.controls) {
    QWidget* w = makeControl(d, c);
    w->setGeometry(pixelsOf(c.rect, metrics));
    attach(w, classNameOf(c.kind));
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text().contains(u'&')) pendingLabel = label;
    } else if (pendingLabel && w->focusPolicy() != Qt::NoFocus) {
      pendingLabel->setBuddy(w);
      pendingLabel = nullptr;
    }
    if (!focusSet && w->focusPolicy() != Qt::NoFocus && w->isEnabled()) {
      w->setFocus();
      focusSet = true;
    }
  }
  // A procedure that answers 0 to WM_INITDIALOG has set the focus itself.
  deliver(self, kWmInitDialog, 0, initParam);
  return d;
}

}  // namespace

intptr_t dialogBoxFromTemplate(const DialogTemplate& tmpl, HWND parent, DialogProc proc, LPARAM initParam) {
  QPointer<DialogWidget> d = buildDialog(tmpl, parent, std::move(proc), initParam, true);
  intptr_t result = -1;
  if (d && !d->ended) {
    d->setModal(true);
    d->exec();
  }
  if (d) {
    result = d->property("platform.ui.result").toLongLong();
    if (HWND h = handleOfWidget(d)) destroyWindow(h);
    else d->deleteLater();
  }
  return result;
}

intptr_t dialogBox(int32_t templateId, HWND parent, DialogProc proc, LPARAM initParam) {
  const DialogTemplate* tmpl = findDialogTemplate(templateId);
  if (!tmpl) {
    setLastError(kErrorInvalidParameter);
    return -1;
  }
  DialogTemplate copy = *tmpl;
  return dialogBoxFromTemplate(copy, parent, std::move(proc), initParam);
}

HWND createDialogFromTemplate(const DialogTemplate& tmpl, HWND parent, DialogProc proc, LPARAM initParam) {
  DialogWidget* d = buildDialog(tmpl, parent, std::move(proc), initParam, false);
  HWND h = handleOfWidget(d);
  if (h) d->show();
  return h;
}

HWND createDialog(int32_t templateId, HWND parent, DialogProc proc, LPARAM initParam) {
  const DialogTemplate* tmpl = findDialogTemplate(templateId);
  if (!tmpl) {
    setLastError(kErrorInvalidParameter);
    return nullptr;
  }
  DialogTemplate copy = *tmpl;
  return createDialogFromTemplate(copy, parent, std::move(proc), initParam);
}

bool endDialog(HWND dialog, intptr_t result) {
  auto* d = dynamic_cast<DialogWidget*>(widgetOf(dialog));
  if (!d) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  d->setProperty("platform.ui.result", QVariant::fromValue<qlonglong>(result));
  d->ended = true;
  if (d->modal) {
    if (d->isVisible()) d->done(static_cast<int>(result));
  } else {
    destroyWindow(dialog);
  }
  return true;
}

bool setLabelPartner(HWND label, HWND partner) {
  auto* l = qobject_cast<QLabel*>(widgetOf(label));
  QWidget* p = widgetOf(partner);
  if (!l || !p) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  l->setBuddy(p);
  return true;
}

HWND createControl(HWND parent, const ControlTemplate& control) {
  QWidget* p = widgetOf(parent);
  if (!p) {
    setLastError(kErrorInvalidHandle);
    return nullptr;
  }
  QWidget* w = makeControl(p, control);
  const Rect& r = control.rect;
  w->setGeometry(r.left, r.top, r.width(), r.height());
  w->show();
  return attach(w, classNameOf(control.kind));
}

HWND dialogItem(HWND dialog, int32_t id) {
  QWidget* d = widgetOf(dialog);
  if (!d) return nullptr;
  for (QWidget* child : d->findChildren<QWidget*>()) {
    QVariant v = child->property("platform.ui.id");
    if (v.isValid() && v.toInt() == id) return handleOfWidget(child);
  }
  return nullptr;
}

int32_t controlId(HWND control) {
  QWidget* w = widgetOf(control);
  return w ? w->property("platform.ui.id").toInt() : 0;
}

std::string windowText(HWND window) {
  QWidget* w = widgetOf(window);
  if (!w) return {};
  if (auto* e = qobject_cast<QLineEdit*>(w)) return toCp932(e->text());
  if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return toCp932(e->toPlainText());
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    // A button that shows a picture keeps its text aside.
    const QVariant kept = b->property("platform.ui.pictureText");
    return toCp932(kept.isValid() ? kept.toString() : b->text());
  }
  if (auto* l = qobject_cast<QLabel*>(w)) return toCp932(l->text());
  if (auto* g = qobject_cast<QGroupBox*>(w)) return toCp932(g->title());
  if (auto* c = qobject_cast<QComboBox*>(w)) return toCp932(c->currentText());
  if (auto* d = qobject_cast<QDateEdit*>(w)) return toCp932(d->text());
  if (auto* s = qobject_cast<QSpinBox*>(w)) return toCp932(s->text());
  return toCp932(w->windowTitle());
}

bool setWindowText(HWND window, const std::string& text) {
  QWidget* w = widgetOf(window);
  if (!w) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  QString t = fromCp932(text);
  if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(t);
  else if (auto* e = qobject_cast<QPlainTextEdit*>(w)) e->setPlainText(t);
  else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    if (b->property("platform.ui.pictureText").isValid()) {
      b->setProperty("platform.ui.pictureText", t);
      b->setToolTip(t);
    } else {
      b->setText(t);
    }
  }
  else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(t);
  else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(t);
  else if (auto* c = qobject_cast<QComboBox*>(w)) c->setEditText(t);
  else if (auto* s = qobject_cast<QSpinBox*>(w)) {
    bool number = false;
    const int value = t.trimmed().toInt(&number);
    if (number) s->setValue(value);  // kept within its range
  }
  else w->setWindowTitle(t);
  return true;
}

bool setDialogItemText(HWND dialog, int32_t id, const std::string& text) {
  HWND h = dialogItem(dialog, id);
  return h && setWindowText(h, text);
}

std::string dialogItemText(HWND dialog, int32_t id) { return windowText(dialogItem(dialog, id)); }

bool checkButton(HWND control, int32_t state) {
  auto* b = qobject_cast<QAbstractButton*>(widgetOf(control));
  if (!b || !b->isCheckable()) return false;
  b->setChecked(state != 0);
  return true;
}

int32_t buttonState(HWND control) {
  auto* b = qobject_cast<QAbstractButton*>(widgetOf(control));
  return b && b->isChecked() ? 1 : 0;
}

bool clickButton(HWND control) {
  auto* b = qobject_cast<QAbstractButton*>(widgetOf(control));
  if (!b) return false;
  b->click();
  return true;
}

bool setDefaultButton(HWND control, bool isDefault) {
  auto* b = qobject_cast<QPushButton*>(widgetOf(control));
  if (!b) return false;
  b->setDefault(isDefault);
  b->update();
  return true;
}

bool isDefaultButton(HWND control) {
  auto* b = qobject_cast<QPushButton*>(widgetOf(control));
  return b && b->isDefault();
}

int32_t addListItem(HWND control, const std::string& text) {
  QWidget* w = widgetOf(control);
  if (auto* l = qobject_cast<QListWidget*>(w)) {
    l->addItem(fromCp932(text));
    return l->count() - 1;
  }
  if (auto* c = qobject_cast<QComboBox*>(w)) {
    c->addItem(fromCp932(text));
    return c->count() - 1;
  }
  if (qobject_cast<QTreeWidget*>(w)) return addReportRow(control, {text});
  return -1;
}

int32_t listItemCount(HWND control) {
  QWidget* w = widgetOf(control);
  if (auto* l = qobject_cast<QListWidget*>(w)) return l->count();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->count();
  if (auto* t = qobject_cast<QTreeWidget*>(w)) return t->topLevelItemCount();
  return -1;
}

std::string listItemText(HWND control, int32_t index) {
  QWidget* w = widgetOf(control);
  if (auto* l = qobject_cast<QListWidget*>(w)) return l->item(index) ? toCp932(l->item(index)->text()) : std::string();
  if (auto* c = qobject_cast<QComboBox*>(w)) return index >= 0 && index < c->count() ? toCp932(c->itemText(index)) : std::string();
  if (qobject_cast<QTreeWidget*>(w)) return reportCell(control, index, 0);
  return {};
}

int32_t listSelection(HWND control) {
  QWidget* w = widgetOf(control);
  if (auto* l = qobject_cast<QListWidget*>(w)) return l->currentRow();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentIndex();
  if (auto* t = qobject_cast<QTreeWidget*>(w)) return t->currentItem() ? t->indexOfTopLevelItem(t->currentItem()) : -1;
  return -1;
}

bool setListSelection(HWND control, int32_t index) {
  QWidget* w = widgetOf(control);
  if (auto* l = qobject_cast<QListWidget*>(w)) { l->setCurrentRow(index); return true; }
  if (auto* c = qobject_cast<QComboBox*>(w)) { c->setCurrentIndex(index); return true; }
  if (auto* t = qobject_cast<QTreeWidget*>(w)) { t->setCurrentItem(t->topLevelItem(index)); return true; }
  return false;
}

bool clearList(HWND control) {
  QWidget* w = widgetOf(control);
  if (auto* l = qobject_cast<QListWidget*>(w)) { l->clear(); return true; }
  if (auto* c = qobject_cast<QComboBox*>(w)) { c->clear(); return true; }
  if (auto* t = qobject_cast<QTreeWidget*>(w)) { t->clear(); return true; }
  return false;
}

int32_t addReportColumn(HWND control, const std::string& title, int32_t widthPixels) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t) return -1;
  int column = t->columnCount();
  t->setColumnCount(column + 1);
  QTreeWidgetItem* header = t->headerItem();
  header->setText(column, fromCp932(title));
  t->setColumnWidth(column, widthPixels);
  return column;
}

int32_t addReportRow(HWND control, const std::vector<std::string>& cells) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t) return -1;
  if (t->columnCount() < static_cast<int>(cells.size())) t->setColumnCount(static_cast<int>(cells.size()));
  auto* item = new QTreeWidgetItem(t);
  for (size_t i = 0; i < cells.size(); ++i) item->setText(static_cast<int>(i), fromCp932(cells[i]));
  return t->topLevelItemCount() - 1;
}

std::string reportCell(HWND control, int32_t row, int32_t column) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t || !t->topLevelItem(row)) return {};
  return toCp932(t->topLevelItem(row)->text(column));
}

bool setReportCell(HWND control, int32_t row, int32_t column, const std::string& text) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t || !t->topLevelItem(row) || column < 0) return false;
  if (t->columnCount() <= column) t->setColumnCount(column + 1);
  t->topLevelItem(row)->setText(column, fromCp932(text));
  return true;
}

bool setReportRowData(HWND control, int32_t row, intptr_t data) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t || !t->topLevelItem(row)) return false;
  t->topLevelItem(row)->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(data));
  return true;
}

intptr_t reportRowData(HWND control, int32_t row) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t || !t->topLevelItem(row)) return -1;
  const QVariant v = t->topLevelItem(row)->data(0, Qt::UserRole);
  return v.isValid() ? static_cast<intptr_t>(v.toLongLong()) : -1;
}

bool deleteReportRow(HWND control, int32_t row) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t || !t->topLevelItem(row)) return false;
  delete t->takeTopLevelItem(row);
  return true;
}

bool showReportRow(HWND control, int32_t row) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t || !t->topLevelItem(row)) return false;
  t->scrollToItem(t->topLevelItem(row));
  return true;
}

int32_t reportTopRow(HWND control) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t) return -1;
  QTreeWidgetItem* top = t->itemAt(QPoint(1, 1));
  return top ? t->indexOfTopLevelItem(top) : -1;
}

int32_t reportHeightForWholeRows(HWND control, int32_t height) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t) return height;
  const int32_t frame = 2 * t->frameWidth();
  const int32_t heading = t->isHeaderHidden() ? 0 : t->header()->sizeHint().height();
  const int32_t bar = t->horizontalScrollBar()->isVisible() ? t->horizontalScrollBar()->sizeHint().height() : 0;
  // Rows share one height, known once there is a row.
  const int32_t row = t->topLevelItemCount() > 0 ? t->sizeHintForRow(0) : 0;
  if (row <= 0) return height;
  const int32_t rows = (height - frame - heading - bar) / row;
  if (rows < 1) return height;
  return frame + heading + bar + rows * row;
}

bool scrollReportRows(HWND control, int32_t rows) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t || t->topLevelItemCount() == 0) return false;
  const int32_t top = std::max(0, reportTopRow(control));
  const int32_t to = std::clamp(top + rows, 0, t->topLevelItemCount() - 1);
  t->scrollToItem(t->topLevelItem(to), QAbstractItemView::PositionAtTop);
  return true;
}

bool setControlRange(HWND control, int32_t minimum, int32_t maximum) {
  QWidget* w = widgetOf(control);
  if (auto* p = qobject_cast<QProgressBar*>(w)) { p->setRange(minimum, maximum); return true; }
  if (auto* s = qobject_cast<QSpinBox*>(w)) { s->setRange(minimum, maximum); return true; }
  return false;
}

bool setControlPosition(HWND control, int32_t position) {
  QWidget* w = widgetOf(control);
  if (auto* p = qobject_cast<QProgressBar*>(w)) { p->setValue(position); return true; }
  if (auto* s = qobject_cast<QSpinBox*>(w)) { s->setValue(position); return true; }
  return false;
}

int32_t controlPosition(HWND control) {
  QWidget* w = widgetOf(control);
  if (auto* p = qobject_cast<QProgressBar*>(w)) return p->value();
  if (auto* s = qobject_cast<QSpinBox*>(w)) return s->value();
  return 0;
}

bool setPickerDate(HWND control, const Date& date) {
  auto* d = qobject_cast<QDateEdit*>(widgetOf(control));
  QDate value(date.year, date.month, date.day);
  if (!d || !value.isValid()) return false;
  d->setDate(value);
  return true;
}

Date pickerDate(HWND control) {
  auto* d = qobject_cast<QDateEdit*>(widgetOf(control));
  if (!d) return {};
  QDate v = d->date();
  return {v.year(), v.month(), v.day()};
}

bool setPickerFormat(HWND control, const std::string& format) {
  auto* d = qobject_cast<QDateEdit*>(widgetOf(control));
  if (!d) return false;
  // The Windows picker's "yyy" is the whole year (Qt knows only yy and
  // yyyy), and day names are the Japanese ones the captions go with.
  QString qt = fromCp932(format);
  QString converted;
  for (int i = 0; i < qt.size();) {
    int n = 0;
    while (i + n < qt.size() && qt[i + n] == QLatin1Char('y')) ++n;
    if (n == 3) {
      converted += QStringLiteral("yyyy");
      i += 3;
    } else if (n > 0) {
      converted += QString(n, QLatin1Char('y'));
      i += n;
    } else if (qt[i] == QLatin1Char('\'')) {
      int end = qt.indexOf(QLatin1Char('\''), i + 1);
      if (end < 0) end = qt.size() - 1;
      converted += qt.mid(i, end - i + 1);
      i = end + 1;
    } else {
      converted += qt[i++];
    }
  }
  d->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
  d->setDisplayFormat(converted);
  return true;
}

std::string pickerText(HWND control) {
  auto* d = qobject_cast<QDateEdit*>(widgetOf(control));
  return d ? toCp932(d->text()) : std::string();
}

bool setEditReadOnly(HWND control, bool readOnly) {
  QWidget* w = widgetOf(control);
  if (auto* e = qobject_cast<QLineEdit*>(w)) { e->setReadOnly(readOnly); return true; }
  if (auto* e = qobject_cast<QPlainTextEdit*>(w)) { e->setReadOnly(readOnly); return true; }
  return false;
}

bool setCaretPosition(HWND control, int32_t position) {
  auto* e = qobject_cast<QLineEdit*>(widgetOf(control));
  if (!e) return false;
  e->setCursorPosition(position);
  return true;
}

int32_t caretPosition(HWND control) {
  auto* e = qobject_cast<QLineEdit*>(widgetOf(control));
  return e ? e->cursorPosition() : -1;
}

int32_t listClickRow(HWND control) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t) return -1;
  const QVariant row = t->property("platform.ui.clickRow");
  return row.isValid() ? row.toInt() : -1;
}

bool listClickPoint(HWND control, int32_t* x, int32_t* y) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t || !t->property("platform.ui.clickX").isValid()) return false;
  if (x) *x = t->property("platform.ui.clickX").toInt();
  if (y) *y = t->property("platform.ui.clickY").toInt();
  return true;
}

bool clickReportRow(HWND control, int32_t row, bool rightButton) {
  auto* t = qobject_cast<QTreeWidget*>(widgetOf(control));
  if (!t) return false;
  QPoint at(4, t->viewport()->height() - 2);
  if (row >= 0) {
    QTreeWidgetItem* item = t->topLevelItem(row);
    if (!item) return false;
    t->scrollToItem(item);
    at = t->visualItemRect(item).center();
  }
  const Qt::MouseButton button = rightButton ? Qt::RightButton : Qt::LeftButton;
  QWidget* port = t->viewport();
  const QPointF global = port->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, button, button, Qt::NoModifier);
  QCoreApplication::sendEvent(port, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, button, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(port, &release);
  if (rightButton) {
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, global.toPoint());
    QCoreApplication::sendEvent(port, &menu);
  }
  return true;
}

bool selectAllText(HWND control) {
  QWidget* w = widgetOf(control);
  QLineEdit* e = qobject_cast<QLineEdit*>(w);
  if (auto* c = qobject_cast<QComboBox*>(w)) e = c->lineEdit();
  if (!e) return false;
  e->selectAll();
  return true;
}

}  // namespace platform::ui
