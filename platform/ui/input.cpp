#include "platform/ui/input.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <mutex>
#include <vector>

#include "platform/base/shared_state.h"
#include "platform/ui/internal.h"

namespace platform::ui {

namespace {

struct Hooks {
  std::mutex mutex;
  int nextId = 1;
  std::vector<std::pair<int, KeyHook>> keys;
  std::vector<std::pair<int, MouseHook>> mice;
  bool capsLock = false;
  bool shiftDown = false;
  bool ctrlDown = false, altDown = false;  // as the last key event had them
  uint32_t beeps = 0;
};

}  // namespace

namespace detail {

PLATFORM_SHARED_STATE void* sharedInputHooks() {
  static Hooks* hooks = new Hooks;
  return hooks;
}

// Qt key -> Windows virtual key on a Japanese (106/109) keyboard. Shifted
// characters come back to the key that types them.
uint32_t virtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers, quint32) {
  if (modifiers & Qt::KeypadModifier) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return kVkNumpad0 + static_cast<uint32_t>(qtKey - Qt::Key_0);
    switch (qtKey) {
      case Qt::Key_Asterisk: return kVkMultiply;
      case Qt::Key_Plus: return kVkAdd;
      case Qt::Key_Minus: return kVkSubtract;
      case Qt::Key_Period: return kVkDecimal;
      case Qt::Key_Slash: return kVkDivide;
      case Qt::Key_Comma: return kVkSeparator;
      case Qt::Key_Enter: return kVkReturn;
      default: break;
    }
  }
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<uint32_t>(qtKey);
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return static_cast<uint32_t>(qtKey);
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return kVkF1 + static_cast<uint32_t>(qtKey - Qt::Key_F1);
  switch (qtKey) {
    case Qt::Key_Exclam: return '1';
    case Qt::Key_QuoteDbl: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_Ampersand: return '6';
    case Qt::Key_Apostrophe: return '7';
    case Qt::Key_ParenLeft: return '8';
    case Qt::Key_ParenRight: return '9';
    case Qt::Key_Minus: case Qt::Key_Equal: return kVkOemMinus;
    case Qt::Key_AsciiCircum: case Qt::Key_AsciiTilde: return kVkOem7;
    case Qt::Key_yen: case Qt::Key_Bar: return kVkOem5;
    case Qt::Key_At: case Qt::Key_QuoteLeft: return kVkOem3;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return kVkOem4;
    case Qt::Key_Semicolon: case Qt::Key_Plus: return kVkOemPlus;
    case Qt::Key_Colon: case Qt::Key_Asterisk: return kVkOem1;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return kVkOem6;
    case Qt::Key_Comma: case Qt::Key_Less: return kVkOemComma;
    case Qt::Key_Period: case Qt::Key_Greater: return kVkOemPeriod;
    case Qt::Key_Slash: case Qt::Key_Question: return kVkOem2;
    case Qt::Key_Backslash: case Qt::Key_Underscore: return kVkOem102;
    case Qt::Key_Space: return kVkSpace;
    case Qt::Key_Return: case Qt::Key_Enter: return kVkReturn;
    case Qt::Key_Escape: return kVkEscape;
    case Qt::Key_Tab: case Qt::Key_Backtab: return kVkTab;
    case Qt::Key_Backspace: return kVkBack;
    case Qt::Key_Cancel: return kVkCancel;
    case Qt::Key_PageUp: return kVkPrior;
    case Qt::Key_PageDown: return kVkNext;
    case Qt::Key_End: return kVkEnd;
    case Qt::Key_Home: return kVkHome;
    case Qt::Key_Left: return kVkLeft;
    case Qt::Key_Up: return kVkUp;
    case Qt::Key_Right: return kVkRight;
    case Qt::Key_Down: return kVkDown;
    case Qt::Key_Insert: return kVkInsert;
    case Qt::Key_Delete: return kVkDelete;
    case Qt::Key_Shift: return kVkShift;
    case Qt::Key_Control: return kVkControl;
    case Qt::Key_Alt: return kVkMenu;
    case Qt::Key_Pause: return kVkPause;
    case Qt::Key_CapsLock: case Qt::Key_Eisu_toggle: return kVkCapital;
    case Qt::Key_Henkan: return kVkConvert;
    case Qt::Key_Muhenkan: return kVkNonConvert;
    case Qt::Key_Zenkaku_Hankaku: case Qt::Key_Zenkaku: case Qt::Key_Hankaku: return kVkKanji;
    case Qt::Key_Hiragana_Katakana: case Qt::Key_Katakana: case Qt::Key_Hiragana: return kVkKana;
    default: return 0;
  }
}

}  // namespace detail

namespace {

Hooks& hooks() { return *static_cast<Hooks*>(detail::sharedInputHooks()); }

HWND handleAbove(QWidget* w) {
  for (; w; w = w->parentWidget())
    if (HWND h = detail::handleOfWidget(w)) return h;
  return nullptr;
}

class InputFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        if (!object->isWidgetType() || propagated(object, event)) return false;
        return onKey(static_cast<QWidget*>(object), static_cast<QKeyEvent*>(event));
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
        if (!object->isWidgetType() || propagated(object, event)) return false;
        return onMouse(static_cast<QWidget*>(object), event);
      default:
        return false;
    }
  }

 private:
  // Qt hands an ignored event on to the parents and runs the filter for each:
  // only its first receiver counts.
  bool propagated(QObject* object, QEvent* event) {
    auto* widget = static_cast<QWidget*>(object);
    bool again = event == lastEvent_ && lastReceiver_ && lastReceiver_->isAncestorOf(widget) == false &&
                 widget->isAncestorOf(lastReceiver_);
    if (!again) {
      lastEvent_ = event;
      lastReceiver_ = widget;
    }
    return again;
  }

  bool onKey(QWidget* widget, QKeyEvent* key) {
    Hooks& h = hooks();
    KeyInput input;
    input.virtualKey = detail::virtualKeyOf(key->key(), key->modifiers(), key->nativeVirtualKey());
    input.down = key->type() == QEvent::KeyPress;
    input.repeat = key->isAutoRepeat();
    input.shift = key->modifiers() & Qt::ShiftModifier;
    input.ctrl = key->modifiers() & Qt::ControlModifier;
    input.alt = key->modifiers() & Qt::AltModifier;
    if (input.down && !key->text().isEmpty() && key->text().at(0).isPrint())
      input.chars = detail::toCp932(key->text());
    input.focus = handleAbove(QApplication::focusWidget() ? QApplication::focusWidget() : widget);
    std::vector<KeyHook> list;
    {
      std::lock_guard<std::mutex> guard(h.mutex);
      if (input.virtualKey == kVkShift) h.shiftDown = input.down;
      h.ctrlDown = input.virtualKey == kVkControl ? input.down : input.ctrl;
      h.altDown = input.virtualKey == kVkMenu ? input.down : input.alt;
      if (input.virtualKey == kVkCapital && input.down && !input.repeat) h.capsLock = !h.capsLock;
      for (auto& [id, hook] : h.keys) list.push_back(hook);
    }
    for (auto& hook : list)
      if (hook(input)) {
        key->accept();
        return true;
      }
    return false;
  }

  bool onMouse(QWidget* widget, QEvent* event) {
    Hooks& h = hooks();
    MouseInput input;
    switch (event->type()) {
      case QEvent::Wheel:
        input.message = kWmMouseWheel;
        input.wheelDelta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        break;
      case QEvent::MouseMove: input.message = 0x200; break;
      case QEvent::MouseButtonPress: input.message = 0x201; break;
      case QEvent::MouseButtonRelease: input.message = 0x202; break;
      default: input.message = 0x203; break;
    }
    input.focus = handleAbove(QApplication::focusWidget());
    input.target = handleAbove(widget);
    std::vector<MouseHook> list;
    {
      std::lock_guard<std::mutex> guard(h.mutex);
      for (auto& [id, hook] : h.mice) list.push_back(hook);
    }
    for (auto& hook : list)
      if (hook(input)) {
        event->accept();
        return true;
      }
    return false;
  }

  QEvent* lastEvent_ = nullptr;
  QPointer<QWidget> lastReceiver_;
};

}  // namespace

void installInputFilter() {
  QCoreApplication::instance()->installEventFilter(new InputFilter(QCoreApplication::instance()));
}

int addKeyHook(KeyHook hook, bool first) {
  Hooks& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  h.keys.emplace(first ? h.keys.begin() : h.keys.end(), h.nextId, std::move(hook));
  return h.nextId++;
}

int addMouseHook(MouseHook hook) {
  Hooks& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  h.mice.emplace_back(h.nextId, std::move(hook));
  return h.nextId++;
}

void removeInputHook(int id) {
  Hooks& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  std::erase_if(h.keys, [id](auto& p) { return p.first == id; });
  std::erase_if(h.mice, [id](auto& p) { return p.first == id; });
}

bool isShiftDown() {
  if (QGuiApplication::instance()) {
    if (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) return true;
  }
  std::lock_guard<std::mutex> guard(hooks().mutex);
  return hooks().shiftDown;
}

bool isControlDown() {
  std::lock_guard<std::mutex> guard(hooks().mutex);
  return hooks().ctrlDown;
}

bool isAltDown() {
  std::lock_guard<std::mutex> guard(hooks().mutex);
  return hooks().altDown;
}

void messageBeep(uint32_t) {
  {
    std::lock_guard<std::mutex> guard(hooks().mutex);
    ++hooks().beeps;
  }
  if (QApplication::instance()) QApplication::beep();
}

uint32_t beepCount() {
  std::lock_guard<std::mutex> guard(hooks().mutex);
  return hooks().beeps;
}

bool isCapsLockOn() {
  std::lock_guard<std::mutex> guard(hooks().mutex);
  return hooks().capsLock;
}

void setCapsLock(bool on) {
  std::lock_guard<std::mutex> guard(hooks().mutex);
  hooks().capsLock = on;
}

}  // namespace platform::ui
