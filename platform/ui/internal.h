// What the framework's own files share: the process-wide window registry and
// the Qt side of handles. Included only inside platform/ui.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui/window.h"

namespace platform::ui::detail {

struct WindowEntry {
  QPointer<QWidget> widget;
  WindowProc proc;
  std::string className;
  std::map<uint32_t, QPointer<QTimer>> timers;
  uint64_t order = 0;
};

class Dispatcher;

// One registry per process, whichever module (libzemta.so, libquorex.so, the
// program) asks: reached through sharedUiState(), which keeps default
// visibility so every module's copy binds to one definition.
struct UiState {
  std::recursive_mutex mutex;
  std::unordered_map<uintptr_t, WindowEntry> windows;
  uintptr_t nextHandle = 0x10000;
  uint64_t nextOrder = 1;
  std::map<std::string, uint32_t> messageIds;
  uint32_t nextMessageId = 0xC000;
  Dispatcher* dispatcher = nullptr;
  bool initialized = false;
  std::vector<CursorShape> cursorStack;
  // Timers on the clock a test moves (useManualTimerClock): by window and
  // id, each with its period, the clock reading it falls due at and the
  // order it was set in (which breaks ties).
  struct ManualTimer {
    uint32_t period = 0;
    uint64_t due = 0;
    uint64_t order = 0;
  };
  bool manualTimers = false;
  uint64_t manualNow = 0;
  uint64_t manualOrder = 0;
  std::map<std::pair<uintptr_t, uint32_t>, ManualTimer> manualTimerList;
};

UiState& state();

inline uintptr_t key(HWND h) { return reinterpret_cast<uintptr_t>(h); }
inline HWND handleOf(uintptr_t k) { return reinterpret_cast<HWND>(k); }

// The widget behind a handle (null for a dead or unknown handle); UI thread.
QWidget* widgetOf(HWND window);
// widgetOf, with the last error set to an invalid handle when there is none.
QWidget* liveWidget(HWND window);
// The handle of a widget, or null when it has none.
HWND handleOfWidget(const QObject* widget);
// Gives a widget a handle (or returns the one it has).
HWND attach(QWidget* widget, const std::string& className, WindowProc proc = nullptr);
// Calls the window's procedure, or the built-in handling when it has none.
LRESULT deliver(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

QString fromCp932(const std::string& text);
std::string toCp932(const QString& text);

// Windows virtual-key code of a Qt key on a Japanese keyboard (0 when none).
uint32_t virtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey);

}  // namespace platform::ui::detail
