#include "platform/ui/desktop.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <map>
#include <set>
#include <mutex>

#include "platform/base/last_error.h"
#include "platform/ui/input.h"
#include "platform/ui/internal.h"

#include "platform/base/shared_state.h"

namespace platform::ui {

using namespace detail;

namespace {

// A virtual key as Qt knows it on a Japanese keyboard: the Qt key and text
// without and with Shift (keys typing nothing have empty texts).
struct QtKeyOfVirtualKey {
  uint32_t virtualKey;
  int key;
  const char* text;
  int shiftedKey;
  const char* shiftedText;
};

const QtKeyOfVirtualKey kQtKeys[] = {
    {'1', Qt::Key_1, "1", Qt::Key_Exclam, "!"},
    {'2', Qt::Key_2, "2", Qt::Key_QuoteDbl, "\""},
    {'3', Qt::Key_3, "3", Qt::Key_NumberSign, "#"},
    {'4', Qt::Key_4, "4", Qt::Key_Dollar, "$"},
    {'5', Qt::Key_5, "5", Qt::Key_Percent, "%"},
    {'6', Qt::Key_6, "6", Qt::Key_Ampersand, "&"},
    {'7', Qt::Key_7, "7", Qt::Key_Apostrophe, "'"},
    {'8', Qt::Key_8, "8", Qt::Key_ParenLeft, "("},
    {'9', Qt::Key_9, "9", Qt::Key_ParenRight, ")"},
    {'0', Qt::Key_0, "0", Qt::Key_0, ""},
    {kVkOemMinus, Qt::Key_Minus, "-", Qt::Key_Equal, "="},
    {kVkOem7, Qt::Key_AsciiCircum, "^", Qt::Key_AsciiTilde, "~"},
    {kVkOem5, Qt::Key_yen, "\\", Qt::Key_Bar, "|"},
    {kVkOem3, Qt::Key_At, "@", Qt::Key_QuoteLeft, "`"},
    {kVkOem4, Qt::Key_BracketLeft, "[", Qt::Key_BraceLeft, "{"},
    {kVkOemPlus, Qt::Key_Semicolon, ";", Qt::Key_Plus, "+"},
    {kVkOem1, Qt::Key_Colon, ":", Qt::Key_Asterisk, "*"},
    {kVkOem6, Qt::Key_BracketRight, "]", Qt::Key_BraceRight, "}"},
    {kVkOemComma, Qt::Key_Comma, ",", Qt::Key_Less, "<"},
    {kVkOemPeriod, Qt::Key_Period, ".", Qt::Key_Greater, ">"},
    {kVkOem2, Qt::Key_Slash, "/", Qt::Key_Question, "?"},
    {kVkOem102, Qt::Key_Backslash, "\\", Qt::Key_Underscore, "_"},
    {kVkSpace, Qt::Key_Space, " ", Qt::Key_Space, " "},
    {kVkReturn, Qt::Key_Return, "\r", Qt::Key_Return, "\r"},
    {kVkEscape, Qt::Key_Escape, "", Qt::Key_Escape, ""},
    {kVkTab, Qt::Key_Tab, "\t", Qt::Key_Backtab, ""},
    {kVkBack, Qt::Key_Backspace, "", Qt::Key_Backspace, ""},
    {kVkCancel, Qt::Key_Cancel, "", Qt::Key_Cancel, ""},
    {kVkPrior, Qt::Key_PageUp, "", Qt::Key_PageUp, ""},
    {kVkNext, Qt::Key_PageDown, "", Qt::Key_PageDown, ""},
    {kVkEnd, Qt::Key_End, "", Qt::Key_End, ""},
    {kVkHome, Qt::Key_Home, "", Qt::Key_Home, ""},
    {kVkLeft, Qt::Key_Left, "", Qt::Key_Left, ""},
    {kVkUp, Qt::Key_Up, "", Qt::Key_Up, ""},
    {kVkRight, Qt::Key_Right, "", Qt::Key_Right, ""},
    {kVkDown, Qt::Key_Down, "", Qt::Key_Down, ""},
    {kVkInsert, Qt::Key_Insert, "", Qt::Key_Insert, ""},
    {kVkDelete, Qt::Key_Delete, "", Qt::Key_Delete, ""},
    {kVkShift, Qt::Key_Shift, "", Qt::Key_Shift, ""},
    {kVkControl, Qt::Key_Control, "", Qt::Key_Control, ""},
    {kVkMenu, Qt::Key_Alt, "", Qt::Key_Alt, ""},
    {kVkPause, Qt::Key_Pause, "", Qt::Key_Pause, ""},
    {kVkCapital, Qt::Key_CapsLock, "", Qt::Key_CapsLock, ""},
    {kVkConvert, Qt::Key_Henkan, "", Qt::Key_Henkan, ""},
    {kVkNonConvert, Qt::Key_Muhenkan, "", Qt::Key_Muhenkan, ""},
    {kVkKanji, Qt::Key_Zenkaku_Hankaku, "", Qt::Key_Zenkaku_Hankaku, ""},
    {kVkKana, Qt::Key_Hiragana_Katakana, "", Qt::Key_Hiragana_Katakana, ""},
};

const QtKeyOfVirtualKey kQtPadKeys[] = {
    {kVkMultiply, Qt::Key_Asterisk, "*", Qt::Key_Asterisk, "*"},
    {kVkAdd, Qt::Key_Plus, "+", Qt::Key_Plus, "+"},
    {kVkSeparator, Qt::Key_Comma, ",", Qt::Key_Comma, ","},
    {kVkSubtract, Qt::Key_Minus, "-", Qt::Key_Minus, "-"},
    {kVkDecimal, Qt::Key_Period, ".", Qt::Key_Period, "."},
    {kVkDivide, Qt::Key_Slash, "/", Qt::Key_Slash, "/"},
};

// The Qt key, keypad flag and text of a virtual key; false when it has none.
bool qtKeyOf(uint32_t vk, bool shift, int& key, bool& keypad, QString& text) {
  keypad = false;
  if (vk >= 'A' && vk <= 'Z') {
    key = Qt::Key_A + static_cast<int>(vk - 'A');
    char c = static_cast<char>(shift ? vk : vk + 0x20);
    text = QString(QChar(c));
    return true;
  }
  if (vk >= kVkNumpad0 && vk <= kVkNumpad0 + 9) {
    key = Qt::Key_0 + static_cast<int>(vk - kVkNumpad0);
    keypad = true;
    text = QString(QChar(static_cast<char>('0' + (vk - kVkNumpad0))));
    return true;
  }
  if (vk >= kVkF1 && vk < kVkF1 + 24) {
    key = Qt::Key_F1 + static_cast<int>(vk - kVkF1);
    text.clear();
    return true;
  }
  for (const auto& k : kQtPadKeys)
    if (k.virtualKey == vk) {
      key = k.key;
      keypad = true;
      text = QString::fromLatin1(k.text);
      return true;
    }
  for (const auto& k : kQtKeys)
    if (k.virtualKey == vk) {
      key = shift ? k.shiftedKey : k.key;
      text = QString::fromLatin1(shift ? k.shiftedText : k.text);
      return true;
    }
  return false;
}

QWidget* receiverOf(HWND target) {
  if (target) return widgetOf(target);
  if (QWidget* focus = QApplication::focusWidget()) return focus;
  return QApplication::activeWindow();
}

struct DesktopState {
  std::mutex mutex;
  std::map<uintptr_t, ImeState> ime;
  std::set<uintptr_t> detached;
  std::map<uintptr_t, Rect> compositionWindows;
  FolderPickerAnswerer picker;
};

}  // namespace

// One per process, like the window registry: the libraries' copies of this
// layer must see the answerer and input-method state the program set.
namespace detail {
PLATFORM_SHARED_STATE void* sharedDesktopState() {
  static void* state = new DesktopState;
  return state;
}
}  // namespace detail

namespace {

DesktopState& desktop() { return *static_cast<DesktopState*>(detail::sharedDesktopState()); }

// A scroll bar keeping the Windows range model (maximum is the last position
// of the range, the thumb stops at maximum - page + 1).
class ScrollBarWidget : public QScrollBar {
 public:
  ScrollBarWidget(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) { request(action); });
  }
  ScrollInfo info;

  // A click or drag asks the parent (WM_HSCROLL, WM_VSCROLL) and leaves the
  // thumb where it was: the parent moves it, as a Windows scroll bar expects.
  void request(int action) {
    uint32_t code;
    switch (action) {
      case QAbstractSlider::SliderSingleStepSub: code = 0; break;
      case QAbstractSlider::SliderSingleStepAdd: code = 1; break;
      case QAbstractSlider::SliderPageStepSub: code = 2; break;
      case QAbstractSlider::SliderPageStepAdd: code = 3; break;
      case QAbstractSlider::SliderMove: code = 5; break;
      default: return;
    }
    const int wanted = sliderPosition();
    setSliderPosition(info.position);
    HWND self = handleOfWidget(this);
    HWND parent = parentWidget() ? handleOfWidget(parentWidget()) : nullptr;
    if (!self || !parent) return;
    const uint32_t message = orientation() == Qt::Horizontal ? kWmHScroll : kWmVScroll;
    sendMessage(parent, message, makeWParam(code, static_cast<uint32_t>(wanted)), reinterpret_cast<LPARAM>(self));
  }

  int32_t lastPosition() const { return std::max(info.minimum, info.maximum - std::max(info.page, 1) + 1); }
  void apply() {
    int32_t top = lastPosition();
    info.position = std::clamp(info.position, info.minimum, top);
    setRange(info.minimum, top);
    setPageStep(std::max(info.page, 1));
    setValue(info.position);
  }
};

ScrollBarWidget* scrollBarOf(HWND control) {
  return dynamic_cast<ScrollBarWidget*>(widgetOf(control));
}

}  // namespace

bool sendKeyInput(HWND target, uint32_t virtualKey, bool down, bool shift, bool ctrl, bool alt) {
  ensureApplication();
  QWidget* receiver = receiverOf(target);
  int key = 0;
  bool keypad = false;
  QString text;
  if (!receiver || !qtKeyOf(virtualKey, shift, key, keypad, text)) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  Qt::KeyboardModifiers modifiers;
  if (shift) modifiers |= Qt::ShiftModifier;
  if (ctrl) modifiers |= Qt::ControlModifier;
  if (alt) modifiers |= Qt::AltModifier;
  if (keypad) modifiers |= Qt::KeypadModifier;
  if (ctrl || alt) text.clear();
  QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(receiver, &event);
  return true;
}

bool sendImeCommit(HWND target, const std::string& cp932) {
  ensureApplication();
  QWidget* receiver = receiverOf(target);
  if (!receiver || !receiver->testAttribute(Qt::WA_InputMethodEnabled)) {
    setLastError(receiver ? kErrorInvalidParameter : kErrorInvalidHandle);
    return false;
  }
  QInputMethodEvent event;
  event.setCommitString(fromCp932(cp932));
  QApplication::sendEvent(receiver, &event);
  return true;
}

bool sendWheelInput(HWND target, int32_t delta) {
  ensureApplication();
  QWidget* receiver = receiverOf(target);
  if (!receiver) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  QPointF at(receiver->width() / 2.0, receiver->height() / 2.0);
  QWheelEvent event(at, receiver->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(receiver, &event);
  return true;
}

bool sendMouseInput(HWND window, uint32_t message, int32_t x, int32_t y, uint32_t keys) {
  ensureApplication();
  QWidget* top = window ? widgetOf(window) : nullptr;
  if (!top) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  QEvent::Type type;
  Qt::MouseButton button = Qt::NoButton;
  switch (message) {
    case kWmMouseMove: type = QEvent::MouseMove; break;
    case kWmLButtonDown: type = QEvent::MouseButtonPress; button = Qt::LeftButton; break;
    case kWmLButtonUp: type = QEvent::MouseButtonRelease; button = Qt::LeftButton; break;
    case kWmLButtonDblClk: type = QEvent::MouseButtonDblClick; button = Qt::LeftButton; break;
    case kWmRButtonDown: type = QEvent::MouseButtonPress; button = Qt::RightButton; break;
    case kWmRButtonUp: type = QEvent::MouseButtonRelease; button = Qt::RightButton; break;
    default:
      setLastError(kErrorInvalidParameter);
      return false;
  }
  Qt::MouseButtons held;
  if (keys & 0x01) held |= Qt::LeftButton;
  if (keys & 0x02) held |= Qt::RightButton;
  if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) held |= button;
  if (type == QEvent::MouseButtonRelease) held &= ~Qt::MouseButtons(button);
  Qt::KeyboardModifiers modifiers;
  if (keys & 0x04) modifiers |= Qt::ShiftModifier;
  if (keys & 0x08) modifiers |= Qt::ControlModifier;
  QWidget* receiver = top->childAt(QPoint(x, y));
  if (!receiver) receiver = top;
  const QPointF global = top->mapToGlobal(QPointF(x, y));
  const QPointF local = receiver->mapFromGlobal(global);
  QMouseEvent event(type, local, local, global, button, held, modifiers);
  QApplication::sendEvent(receiver, &event);
  return true;
}

bool isChildWindow(HWND parent, HWND window) {
  if (!parent || !window) return false;
  for (HWND w = parentWindow(window); w; w = parentWindow(w))
    if (w == parent) return true;
  return false;
}

HWND mainWindow() {
  for (HWND w : topLevelWindows())
    if (isWindowVisible(w)) return w;
  return nullptr;
}

bool imeState(HWND window, ImeState& state) {
  if (!isWindow(window)) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  DesktopState& d = desktop();
  std::lock_guard<std::mutex> guard(d.mutex);
  auto it = d.ime.find(key(window));
  if (it != d.ime.end()) {
    state = it->second;
  } else {
    state = ImeState{};
    if (QWidget* w = widgetOf(window)) state.open = w->testAttribute(Qt::WA_InputMethodEnabled);
  }
  return true;
}

namespace {

// What the input method may give the widget: its open state while it holds
// its input context.
void applyIme(QWidget* w, const ImeState& state, bool attached) {
  w->setAttribute(Qt::WA_InputMethodEnabled, state.open && attached);
  // Conversion mode bit 0 (native): kana and kanji; without it the method
  // should prefer Latin input.
  w->setInputMethodHints((state.conversion & 1) ? Qt::ImhNone : Qt::ImhPreferLatin);
  if (QGuiApplication::focusObject() == w) QGuiApplication::inputMethod()->update(Qt::ImEnabled | Qt::ImHints);
}

}  // namespace

bool setImeState(HWND window, const ImeState& state) {
  QWidget* w = liveWidget(window);
  if (!w) return false;
  bool attached;
  {
    DesktopState& d = desktop();
    std::lock_guard<std::mutex> guard(d.mutex);
    d.ime[key(window)] = state;
    attached = d.detached.count(key(window)) == 0;
  }
  applyIme(w, state, attached);
  return true;
}

bool setImeAttached(HWND window, bool attached) {
  ImeState state;
  if (!imeState(window, state)) return false;
  QWidget* w = liveWidget(window);
  if (!w) return false;
  {
    DesktopState& d = desktop();
    std::lock_guard<std::mutex> guard(d.mutex);
    // The state as it stands is what the window gets back when attached.
    d.ime[key(window)] = state;
    if (attached) d.detached.erase(key(window));
    else d.detached.insert(key(window));
  }
  applyIme(w, state, attached);
  return true;
}

bool imeAttached(HWND window) {
  if (!isWindow(window)) return false;
  DesktopState& d = desktop();
  std::lock_guard<std::mutex> guard(d.mutex);
  return d.detached.count(key(window)) == 0;
}

bool setImeCompositionWindow(HWND window, const Rect& caret) {
  QWidget* w = liveWidget(window);
  if (!w) return false;
  {
    DesktopState& d = desktop();
    std::lock_guard<std::mutex> guard(d.mutex);
    d.compositionWindows[key(window)] = caret;
  }
  if (QGuiApplication::focusObject() == w) QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
  return true;
}

bool imeCompositionWindow(HWND window, Rect& caret) {
  DesktopState& d = desktop();
  std::lock_guard<std::mutex> guard(d.mutex);
  auto it = d.compositionWindows.find(key(window));
  if (it == d.compositionWindows.end()) return false;
  caret = it->second;
  return true;
}

FolderPickerAnswerer setFolderPickerAnswerer(FolderPickerAnswerer answerer) {
  DesktopState& d = desktop();
  std::lock_guard<std::mutex> guard(d.mutex);
  FolderPickerAnswerer old = std::move(d.picker);
  d.picker = std::move(answerer);
  return old;
}

bool pickFolder(HWND owner, const std::string& title, std::string& folder) {
  FolderPickerAnswerer scripted;
  {
    DesktopState& d = desktop();
    std::lock_guard<std::mutex> guard(d.mutex);
    scripted = d.picker;
  }
  if (scripted) return scripted(title, folder);
  ensureApplication();
  QString chosen = QFileDialog::getExistingDirectory(widgetOf(owner), fromCp932(title), fromCp932(folder),
                                                     QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return false;
  folder = toCp932(chosen);
  return true;
}

HWND createScrollBar(HWND parent, const Rect& rect, bool vertical) {
  ensureApplication();
  QWidget* p = widgetOf(parent);
  if (parent && !p) {
    setLastError(kErrorInvalidHandle);
    return nullptr;
  }
  auto* bar = new ScrollBarWidget(vertical ? Qt::Vertical : Qt::Horizontal, p);
  bar->setGeometry(rect.left, rect.top, std::max(1, rect.width()), std::max(1, rect.height()));
  bar->apply();
  bar->show();
  return attach(bar, "ScrollBar");
}

bool scrollInfo(HWND control, ScrollInfo& info) {
  ScrollBarWidget* bar = scrollBarOf(control);
  if (!bar) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  info = bar->info;
  return true;
}

bool setScrollInfo(HWND control, const ScrollInfo& info) {
  ScrollBarWidget* bar = scrollBarOf(control);
  if (!bar || info.maximum < info.minimum || info.page < 0) {
    setLastError(bar ? kErrorInvalidParameter : kErrorInvalidHandle);
    return false;
  }
  bar->info = info;
  bar->apply();
  return true;
}

bool setScrollPosition(HWND control, int32_t position) {
  ScrollBarWidget* bar = scrollBarOf(control);
  if (!bar) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  bar->info.position = position;
  bar->apply();
  bar->update();
  return true;
}

}  // namespace platform::ui
