// The window level of the framework: windows reached by handles, each with a
// window procedure; messages (id and two parameters) sent and posted; message
// ids registered by name; timers by id on a window; one message loop on the
// UI thread. No Qt type appears here: the library, Quorex and the program are
// written against this header alone.
//
// Texts crossing this header are code page 932 bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/types.h"

namespace platform::ui {

// Message ids in the Windows numbering, which stored and compared values use.
enum : uint32_t {
  kWmCreate = 0x0001,
  kWmDestroy = 0x0002,
  kWmSize = 0x0005,
  kWmActivate = 0x0006,
  kWmSetFocus = 0x0007,
  kWmKillFocus = 0x0008,
  kWmPaint = 0x000F,
  kWmClose = 0x0010,
  kWmQuit = 0x0012,
  kWmEraseBkgnd = 0x0014,
  kWmKeyDown = 0x0100,
  kWmKeyUp = 0x0101,
  kWmChar = 0x0102,
  kWmSysKeyDown = 0x0104,
  kWmInitDialog = 0x0110,
  kWmCommand = 0x0111,
  kWmTimer = 0x0113,
  // From a scroll-bar control to its parent: wParam the request code (0 line
  // back, 1 line on, 2 page back, 3 page on, 4 thumb released and 5 thumb
  // dragged with the position in the high word), lParam the bar's handle.
  kWmHScroll = 0x0114,
  kWmVScroll = 0x0115,
  kWmMouseMove = 0x0200,
  kWmLButtonDown = 0x0201,
  kWmLButtonUp = 0x0202,
  kWmLButtonDblClk = 0x0203,
  kWmRButtonDown = 0x0204,
  kWmRButtonUp = 0x0205,
  kWmRButtonDblClk = 0x0206,
  kWmMouseWheel = 0x020A,
  kWmCaptureChanged = 0x0215,
  kWmMdiActivate = 0x0222,
  kWmImeNotify = 0x0282,
  kWmSysKeyUp = 0x0105,
  kWmSysChar = 0x0106,
  kWmContextMenu = 0x007B,
  kWmUser = 0x0400,
};

// WM_COMMAND notification codes (high word of wParam).
enum : uint32_t {
  kBnClicked = 0,
  kCommandFromAccelerator = 1,
  kEnChange = 0x0300,
  // A one-line edit got the focus, and lost it to another control of its
  // window (not when the window itself goes inactive, a popup opens or the
  // edit goes). The two come in pairs: a window that comes back to the front
  // with the edit still focused tells nothing again.
  kEnSetFocus = 0x0100,
  kEnKillFocus = 0x0200,
  kCbnSelChange = 1,
  // A combo box got the focus, and lost it to another control of its window;
  // told as the one-line edit's pair above (its own list dropping down is no
  // leaving).
  kCbnSetFocus = 3,
  kCbnKillFocus = 4,
  kCbnEditChange = 5,  // the user typed into a combo box's edit field
  kLbnSelChange = 1,
  kLbnDblClk = 2,  // a row of a list box double-clicked
  // Report lists: a click of the left or the right button (the row and the
  // screen point in listClickRow, listClickPoint).
  kNmClick = 0xFFFE,
  kNmRClick = 0xFFFB,
};

inline constexpr WPARAM makeWParam(uint32_t low, uint32_t high) {
  return static_cast<WPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}
inline constexpr uint32_t lowWord(uintptr_t v) { return static_cast<uint32_t>(v & 0xFFFF); }
inline constexpr uint32_t highWord(uintptr_t v) { return static_cast<uint32_t>((v >> 16) & 0xFFFF); }

using WindowProc = std::function<LRESULT(HWND, uint32_t, WPARAM, LPARAM)>;

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

// Creates the application object when the process has none yet (tests, the
// library loaded by a program that made none). Installs the framework's
// message-box answerer and its input filter. Must run on the thread that
// will be the UI thread.
void ensureApplication();
bool isUiThread();

// For command-line tools that draw (print to a PDF, render a page): called
// first thing in main, before any window work. Without a display (none of
// DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM set) the tool then draws with
// Qt's offscreen platform instead of aborting; with one, nothing changes.
void useOffscreenWithoutDisplay();

// --- windows ---------------------------------------------------------------

struct WindowSpec {
  std::string className;    // compared by window searches
  std::string title;        // code page 932
  HWND parent = nullptr;    // null: a top-level window
  Rect rect{0, 0, 320, 240};
  bool visible = true;
  // Top-level windows only: no caption or sizing border; kept above every
  // other window and shown without taking the activation.
  bool frameless = false;
  bool topmost = false;
};

// Creates a plain window whose messages go to proc (WM_CREATE is sent before
// this returns). Unhandled messages should be passed to defaultWindowProc.
HWND createWindow(const WindowSpec& windowSpec, WindowProc proc);
// WM_CLOSE destroys the window; everything else answers 0.
LRESULT defaultWindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
// Sends WM_DESTROY, stops the window's timers and deletes it and its children.
bool destroyWindow(HWND window);
bool isWindow(HWND window);
// Replaces the procedure of any window (a control, a frame) and returns the
// old one (empty when it had none).
WindowProc setWindowProc(HWND window, WindowProc proc);

HWND parentWindow(HWND window);
std::vector<HWND> childWindows(HWND window);   // direct children with handles
std::vector<HWND> topLevelWindows();           // in creation order
std::string windowClassName(HWND window);
std::string windowText(HWND window);
bool setWindowText(HWND window, const std::string& text);
bool showWindow(HWND window, bool show);
bool isWindowVisible(HWND window);
bool enableWindow(HWND window, bool enable);
bool isWindowEnabled(HWND window);
bool moveWindow(HWND window, const Rect& rect);
Rect windowRect(HWND window);    // position in its parent (screen for top level)
// A point of the window's client area, and the whole window, on the screen.
struct Point {
  int32_t x = 0, y = 0;
};
Point clientToScreen(HWND window, int32_t x, int32_t y);
Rect screenRect(HWND window);
bool setFocus(HWND window);
HWND focusWindow();
HWND activeWindow();
// Shows the window's top-level window (restored when minimised), raises it
// above the others and activates it.
bool bringToFront(HWND window);
// The desktop's warning sound (MessageBeep).
void messageBeep();
// Window states of a top-level window.
enum class WindowShow { Normal, Minimized, Maximized };
bool showWindowState(HWND window, WindowShow how);
bool isMinimized(HWND window);
// Sets the font of a window (a control, a bar button) by face (code page 932)
// and height in pixels; a face the machine lacks falls back to its Japanese
// fonts.
bool setWindowFont(HWND window, const std::string& face, int32_t pixelHeight);
// The width in pixels a text takes in the window's own font (the '&' of a
// mnemonic not counted), and the width a button or other control leaves for
// its caption inside its frame and padding.
int32_t textWidth(HWND window, const std::string& text);
int32_t textRoom(HWND window);
bool isMaximized(HWND window);
// What createWindow made of the window's frameless and topmost.
bool isFrameless(HWND window);
bool isTopmost(HWND window);
void updateWindow(HWND window);  // repaints now
// Renders the window (and its children) into a PNG file.
bool grabWindowToPng(HWND window, const std::string& path);
// Renders the whole screen as the user sees it (every shown top-level window
// at its place, dialogs above the windows they belong to) into a PNG file.
bool grabScreenToPng(const std::string& path);

// --- messages ----------------------------------------------------------------

// Queues the message for the window's procedure; callable from any thread.
// Messages posted are delivered once each, in the order they were posted. A
// window destroyed before delivery drops its messages. False (last error
// invalid handle) for a handle that is not a window at the time of posting.
bool postMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
// Looks into the window's queue without removing anything: true when a
// posted message of that id waits there, with the wParam of the first one.
// Callable from any thread.
bool peekMessage(HWND window, uint32_t message, WPARAM* wParam);
// Calls the window's procedure and returns its answer. From another thread
// the call runs on the UI thread and the caller waits for it.
LRESULT sendMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
// A process-wide message id for a name, 0xC000-0xFFFF; the same name always
// gives the same id (names compare without regard to ASCII case). 0 for an
// empty name.
uint32_t registerWindowMessage(const std::string& name);

// Runs the message loop until postQuitMessage; returns its exit code.
int runMessageLoop();
void postQuitMessage(int exitCode);
// Delivers what is queued now (posted messages, timers, paints) and returns.
void processPendingMessages();
// Pumps messages until the predicate holds or the time runs out (tests, and
// waits that must keep the windows alive). True when the predicate held.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs);

// --- timers ------------------------------------------------------------------

// Starts (or restarts with a new period) the timer id of the window: the
// window receives WM_TIMER with wParam the id every periodMs. Precise
// timers: the register's 200 ms ticks must not drift.
bool setTimer(HWND window, uint32_t id, uint32_t periodMs);
bool killTimer(HWND window, uint32_t id);
// Tests: with the manual clock on, timers set from then on run on a clock
// that only advanceTimerClock moves (real time never fires them);
// turning it off drops them.
void useManualTimerClock(bool manual);
// Moves the manual clock forward by ms, delivering WM_TIMER for every timer
// that falls due on the way, in the order of their due times.
void advanceTimerClock(uint32_t ms);

// --- the clipboard, cursors, screens -------------------------------------------

bool setClipboardText(const std::string& cp932);
// The clipboard's text in code page 932; false when there is none or it has
// characters code page 932 cannot hold.
bool clipboardText(std::string& cp932);

enum class CursorShape { Arrow, Wait, AppStarting, IBeam, Cross, SizeAll, No, Hand, UpArrow };
// Overrides the application's cursor; restoreCursor undoes the last override.
void overrideCursor(CursorShape shape);
void restoreCursor();
// The shape in force now (Arrow when none is overridden).
CursorShape currentCursor();

struct ScreenInfo {
  std::string name;
  Rect geometry;
  Rect workArea;
  bool primary = false;
};
std::vector<ScreenInfo> screens();

// Shows a message box through the installed answerer (the framework's real
// box, or a test's scripted one): platform::showMessageBox with the owner.
int messageBox(HWND owner, const std::string& text, const std::string& caption, uint32_t style);

}  // namespace platform::ui
