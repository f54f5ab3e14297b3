// Key mapping, the keyboard and mouse hooks, accelerators and key capture.
//
// The hooks run on the application thread, inside the window framework's
// application-wide input filter, before any window sees the event.
#include "zemta/keys.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "lib/core/report.h"
#include "lib/core/zemta_app.h"
#include "platform/ui/desktop.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"

uint32_t g_nCaptureCount = 0;

namespace zemta {
namespace {

namespace ui = platform::ui;

// For each virtual key the character it types on a Japanese keyboard,
// without and with Shift (0: none).
struct KeyTable {
  uint8_t plain[256] = {};
  uint8_t shifted[256] = {};

  KeyTable() {
    for (int k = 'A'; k <= 'Z'; ++k) {
      plain[k] = static_cast<uint8_t>(k + 0x20);
      shifted[k] = static_cast<uint8_t>(k);
    }
    const char* digitsShifted = "\0!\"#$%&'()";
    for (int d = 0; d <= 9; ++d) {
      plain['0' + d] = static_cast<uint8_t>('0' + d);
      shifted['0' + d] = static_cast<uint8_t>(digitsShifted[d]);
      plain[0x60 + d] = shifted[0x60 + d] = static_cast<uint8_t>('0' + d);  // numeric pad
    }
    set(0x20, ' ', ' ');
    set(0x6A, '*', '*');
    set(0x6B, '+', '+');
    set(0x6D, '-', '-');
    set(0x6E, '.', '.');
    set(0x6F, '/', '/');
    set(0xBA, ':', '*');
    set(0xBB, ';', '+');
    set(0xBC, ',', '<');
    set(0xBD, '-', '=');
    set(0xBE, '.', '>');
    set(0xBF, '/', '?');
    set(0xC0, '@', '`');
    set(0xDB, '[', '{');
    set(0xDC, '\\', '|');  // the yen key: code page 932 shows 0x5C as the yen sign
    set(0xDD, ']', '}');
    set(0xDE, '^', '~');
    set(0xE2, '\\', '_');
  }
  void set(int key, char a, char b) {
    plain[key] = static_cast<uint8_t>(a);
    shifted[key] = static_cast<uint8_t>(b);
  }
};

const KeyTable& keyTable() {
  static const KeyTable table;
  return table;
}

bool isLetterKey(uint32_t vk) { return vk >= 'A' && vk <= 'Z'; }

int32_t charOfKey(uint32_t vk, bool shift, bool capsLock) {
  if (vk > 0xFF) return 0;
  const KeyTable& t = keyTable();
  int32_t c = shift ? t.shifted[vk] : t.plain[vk];
  if (c && capsLock && isLetterKey(vk)) c ^= 0x20;
  return c;
}

struct HookState {
  std::mutex mutex;
  HWND accelWindow = nullptr;
  std::vector<ZemtaKeyRecord> accel;
  HWND captureWindow = nullptr;
  ZemtaKeyRecord* captureRecord = nullptr;
  char* captureBuffer = nullptr;
  int32_t captureSize = 0;
  int32_t captured = 0;
  int32_t wheelSwitch = 1;
  HWND wheelWindow = nullptr;
  uint32_t wheelOption = 0;
  int keyHook = 0, mouseHook = 0, lowLevelKeyHook = 0, lowLevelMouseHook = 0;
};

HookState& hooks() {
  static HookState* state = new HookState;  // outlives every static destructor
  return *state;
}

void countEvent() { __atomic_add_fetch(&g_nCaptureCount, 1, __ATOMIC_RELAXED); }

uint8_t flagsOf(const ui::KeyInput& in) {
  return static_cast<uint8_t>(ZEMTA_KEY_VALID | (in.shift ? ZEMTA_KEY_SHIFT : 0) | (in.ctrl ? ZEMTA_KEY_CTRL : 0) |
                              (in.alt ? ZEMTA_KEY_ALT : 0));
}

bool matches(const ZemtaKeyRecord& r, const ui::KeyInput& in) {
  if (!(r.flags & ZEMTA_KEY_VALID) || r.virtualKey != in.virtualKey) return false;
  return ((r.flags & ZEMTA_KEY_SHIFT) != 0) == in.shift && ((r.flags & ZEMTA_KEY_CTRL) != 0) == in.ctrl &&
         ((r.flags & ZEMTA_KEY_ALT) != 0) == in.alt;
}

void postCommand(HWND window, uint16_t command) {
  ui::postMessage(window, ui::kWmCommand, ui::makeWParam(command, ui::kCommandFromAccelerator), 0);
}

bool isCaptureEndKey(uint32_t vk) {
  return vk == ui::kVkCancel || vk == ui::kVkBack || vk == ui::kVkTab || vk == ui::kVkReturn || vk == ui::kVkEscape;
}

// The keyboard hook: capture first, then the accelerators. Answers true to
// swallow the event.
bool keyboardHook(const ui::KeyInput& in) {
  countEvent();
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  const bool keyDown = in.down && !in.repeat;  // releases and repeats never post
  if (h.captureWindow && h.captureRecord && ui::isWindow(h.captureWindow)) {
    // Only a press describes the combination: a release (of Ctrl, say) would
    // otherwise overwrite the captured key before the window reads it.
    if (keyDown) {
      h.captureRecord->flags = flagsOf(in);
      h.captureRecord->virtualKey = static_cast<uint16_t>(in.virtualKey);
    }
    if (!h.captureBuffer) {
      if (keyDown) postCommand(h.captureWindow, h.captureRecord->command);
      return true;
    }
    if (keyDown) {
      int32_t c = isCaptureEndKey(in.virtualKey) ? 0 : charOfKey(in.virtualKey, in.shift, ui::isCapsLockOn());
      if (c == 0) {
        if (h.captured >= h.captureSize) postCommand(h.captureWindow, h.captureRecord->command);
      } else if (h.captured >= h.captureSize) {
        // Full: keep the latest characters.
        std::memmove(h.captureBuffer, h.captureBuffer + 1, static_cast<size_t>(h.captureSize - 1));
        h.captureBuffer[h.captureSize - 1] = static_cast<char>(c);
        h.captureBuffer[h.captureSize] = '\0';
      } else {
        h.captureBuffer[h.captured++] = static_cast<char>(c);
        h.captureBuffer[h.captured] = '\0';
      }
    }
    return false;
  }
  if (h.accelWindow && ui::isWindow(h.accelWindow)) {
    for (const ZemtaKeyRecord& r : h.accel) {
      if (!matches(r, in)) continue;
      if (keyDown) postCommand(h.accelWindow, r.command);
      return true;
    }
  }
  return false;
}

bool mouseHook(const ui::MouseInput&) {
  countEvent();
  return false;
}

bool lowLevelKeyHook(const ui::KeyInput&) {
  countEvent();
  return false;
}

// Counts the event and, while the wheel switch is 0, keeps the wheel from the
// wheel window and its children.
bool lowLevelMouseHook(const ui::MouseInput& in) {
  countEvent();
  if (in.message != ui::kWmMouseWheel) return false;
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  if (h.wheelSwitch != 0) return false;
  if (!h.wheelWindow || in.focus == h.wheelWindow) return true;
  if (in.focus && ui::isChildWindow(h.wheelWindow, in.focus)) {
    if ((h.wheelOption & 1) && ui::windowClassName(in.focus) != "ComboBox") return false;
    return true;
  }
  return false;
}

}  // namespace

void installInputHooks() {
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  if (!h.keyHook) h.keyHook = ui::addKeyHook(keyboardHook);
  if (!h.mouseHook) h.mouseHook = ui::addMouseHook(mouseHook);
}

void removeInputHooks() {
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  for (int* id : {&h.keyHook, &h.mouseHook, &h.lowLevelKeyHook, &h.lowLevelMouseHook}) {
    if (*id) ui::removeInputHook(*id);
    *id = 0;
  }
  h.accel.clear();
  h.accel.shrink_to_fit();
  h.accelWindow = nullptr;
}

}  // namespace zemta

using zemta::hooks;
using zemta::HookState;

int32_t ZemtaVKeyToChar(uint32_t virtualKey) {
  return zemta::charOfKey(virtualKey, platform::ui::isShiftDown(), platform::ui::isCapsLockOn());
}

uint32_t ZemtaCharToVKey(int32_t character, int32_t* shift) {
  const auto& t = zemta::keyTable();
  const uint8_t c = static_cast<uint8_t>(character);
  uint32_t vk = 0;
  int32_t needShift = 0;
  if (c != 0) {
    for (uint32_t k = 0; k < 256 && !vk; ++k)
      if (t.plain[k] == c) vk = k;
    for (uint32_t k = 0; k < 256 && !vk; ++k)
      if (t.shifted[k] == c) {
        vk = k;
        needShift = 1;
      }
    if (vk && zemta::isLetterKey(vk) && platform::ui::isCapsLockOn()) needShift ^= 1;
  }
  if (shift) *shift = vk ? needShift : 0;
  return vk;
}

void ZemtaSetAccel(HWND window, const ZemtaKeyRecord* records, int32_t count) {
  zemta::theApp();
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  h.accel.clear();
  h.accel.shrink_to_fit();
  if (count <= 0) {
    h.accelWindow = nullptr;
    if (count < 0) ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return;
  }
  if (!records) {
    h.accelWindow = nullptr;
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return;
  }
  try {
    h.accel.assign(records, records + count);
  } catch (const std::bad_alloc&) {
    h.accel.clear();
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
  }
  h.accelWindow = window;
}

void ZemtaGetAccel(HWND window, ZemtaKeyRecord* record) {
  zemta::theApp();
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  h.captureWindow = window;
  h.captureRecord = record;
}

void ZemtaSetKeyCapture(char* buffer, int32_t size) {
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  h.captured = 0;
  if (size > 0 && !buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    size = 0;
  }
  if (size > 0) {
    h.captureBuffer = buffer;
    h.captureSize = size;
    buffer[0] = '\0';
  } else {
    h.captureBuffer = nullptr;
    h.captureSize = 0;
  }
}

int32_t ZemtaEnableCaptureHook(void) {
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  if (h.lowLevelKeyHook) platform::ui::removeInputHook(h.lowLevelKeyHook);
  if (h.lowLevelMouseHook) platform::ui::removeInputHook(h.lowLevelMouseHook);
  h.lowLevelKeyHook = platform::ui::addKeyHook(zemta::lowLevelKeyHook);
  h.lowLevelMouseHook = platform::ui::addMouseHook(zemta::lowLevelMouseHook);
  return 1;
}

int32_t ZemtaEnableMouseWheel(int32_t enable, HWND window, uint32_t option) {
  HookState& h = hooks();
  std::lock_guard<std::mutex> guard(h.mutex);
  int32_t previous = h.wheelSwitch;
  h.wheelSwitch = enable;
  h.wheelWindow = window;
  h.wheelOption = option;
  return previous;
}

uint32_t ZemtaGetCaptureCount(void) { return __atomic_load_n(&g_nCaptureCount, __ATOMIC_RELAXED); }
