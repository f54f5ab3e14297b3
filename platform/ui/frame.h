// The class level's frames. A Frame is a top-level window with a menu bar, a
// tool bar, an optional dialog bar, a status bar with indicator panes, docked
// resizable panes and a central area: one view (a single frame) or, for an
// MDI frame, the MDI client holding child frames. Commands (ids from menus,
// buttons, the dialog bar and accelerators) are routed to the active view,
// then its child frame, then the frame, then the application (command.h);
// menu items and bar controls are enabled, checked and renamed by the update
// handlers along the same route whenever the message loop falls idle.
//
// Menus and accelerator tables come from resources. The frame has its own;
// a child frame may carry its own pair (setHandles), which the frame swaps in
// while that child is active and swaps back out when another becomes active.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/command.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

namespace platform::ui {

class View;
class ChildFrame;

enum class FrameKind { Single, Mdi };
enum class DockSide { Top, Bottom, Left, Right };

// Status-bar indicator ids (their pane shows its text while its update says
// enabled). Caps follows the Caps Lock the input filter has seen, Num is on,
// Scroll off, Kana follows the input method of the focus window, unless a
// target's update handler says otherwise.
enum : uint32_t {
  kIndicatorCaps = 0xE041,
  kIndicatorNum = 0xE042,
  kIndicatorScroll = 0xE043,
  kIndicatorKana = 0xE044,
};

// Sent to the MDI client: wParam null, answers the active child frame's handle.
inline constexpr uint32_t kWmMdiGetActive = 0x0229;

class Frame : public CommandTarget {
 public:
  using CommandHandler = std::function<bool(uint32_t command)>;
  using UpdateHandler = std::function<void(uint32_t command, CommandState& state)>;

  Frame(const std::string& className, const std::string& title, const Rect& rect, FrameKind kind = FrameKind::Single);
  ~Frame() override;

  HWND handle() const;
  // The central area: the window a single frame's view lives in, or the MDI
  // client of an MDI frame (WM_MDIACTIVATE with a child's handle in wParam
  // activates that child).
  HWND client() const;
  bool isMdi() const;
  // The frame whose central area (MDI client or single frame's client) is
  // the window, or null.
  static Frame* fromClient(HWND client);

  // The frame's own menu and accelerators (0 removes them).
  bool setMenu(int32_t menuId);
  bool setAccelerators(int32_t tableId);
  // The menu and table in force now (the active child's, or the frame's).
  int32_t currentMenu() const;
  int32_t currentAccelerators() const;

  // A catch-all command handler and update handler of the frame, besides its
  // message map (they answer before it).
  void onCommand(CommandHandler handler);
  void onUpdate(UpdateHandler handler);

  // Adds a push button for a command to the frame's tool bar.
  HWND addToolButton(uint32_t command, const std::string& text);
  void setStatusText(const std::string& text);

  // --- status bar: the message pane (0), then indicator panes ------------------
  // Each indicator's text is its string-table entry, else the built-in one.
  bool setStatusIndicators(const std::vector<uint32_t>& ids);
  std::string statusPaneText(int32_t index) const;

  // --- dialog bar: a strip of controls from a dialog template ----------------------
  // Above the tool bar; buttons send their id as a command; every control
  // with an id is updated at idle through the route (state.control is the
  // control), and is disabled when nobody handles its id. 0 removes the bar.
  // Null when the template does not exist.
  HWND setDialogBar(int32_t templateId);
  HWND dialogBar() const;
  void showToolBar(bool show);
  bool isToolBarVisible() const;
  void showStatusBar(bool show);
  bool isStatusBarVisible() const;

  // --- docked panes: resizable strips at an edge, each one window ------------------
  // The pane's window lays out the view made in it (View::create). size is
  // the height of a top or bottom pane, the width of a side pane.
  HWND addPane(uint32_t id, DockSide side, int32_t size);
  HWND pane(uint32_t id) const;
  bool removePane(uint32_t id);
  bool resizePane(uint32_t id, int32_t size);

  // --- views and child frames ----------------------------------------------------------
  // A single frame's view, made in the central area and owned by the frame.
  View* setView(std::unique_ptr<View> view);
  // The view commands go to first: a single frame's view, or the active
  // child's active view.
  View* activeView() const;
  ChildFrame* activeChild() const;
  // Child frames in window order: the active one first, then the others from
  // the most recently active.
  std::vector<ChildFrame*> childFrames() const;

  // --- commands ----------------------------------------------------------------------
  // Routes a command as a menu choice would; false when nobody handled it or
  // it is disabled.
  bool runCommand(uint32_t command);
  // Runs the update handlers now (the loop does it when idle).
  void updateCommands();
  // What the last update gave a command (enabled when never updated).
  CommandState commandState(uint32_t command) const;
  // Triggers a menu item by its command as a user would (false when the
  // current menu has no enabled item for it).
  bool chooseMenuItem(uint32_t command);
  // The texts of the current menu bar's popups, code page 932.
  std::vector<std::string> menuTitles() const;
  // Shows a popup menu at the screen point after updating its items through
  // the route, and routes the chosen command; returns it (0: none).
  uint32_t trackPopupMenu(std::vector<PopupItem> items, int32_t x, int32_t y);

  bool handleCommand(uint32_t command) override;
  bool updateCommand(uint32_t command, CommandState& state) override;
  bool handlesCommand(uint32_t command) const override;

 private:
  friend class ChildFrame;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A child frame of an MDI frame: made with new, shown and activated at once;
// it deletes itself when closed (close(), its close button, WM_CLOSE) and the
// frame deletes those left when it goes.
class ChildFrame : public CommandTarget {
 public:
  ChildFrame(Frame& mdiFrame, const std::string& title, const std::string& className = "MDIChild");
  ~ChildFrame() override;

  HWND handle() const;
  Frame& mainFrame() const;
  // The area the view (or a library's window) lives in; it lays out what is
  // made in it.
  HWND client() const;

  // The menu and accelerator table shown while this frame is active; 0 uses
  // the main frame's own.
  bool setHandles(int32_t menuId, int32_t acceleratorsId);
  int32_t menuId() const;
  int32_t acceleratorsId() const;

  // Makes the view in the client area; the frame owns it and it becomes the
  // active view. Null when the view could not be made.
  View* setView(std::unique_ptr<View> view);
  View* activeView() const;
  void setActiveView(View* view);   // a view of this frame, or null

  void setTitle(const std::string& title);
  std::string title() const;
  void activate();
  bool isActive() const;
  void showMaximized();
  // Asks onClose; when it agrees, the frame's window goes at once and the
  // object is deleted when the loop next runs. False when refused.
  bool close();

  static ChildFrame* fromHandle(HWND window);

 protected:
  // False keeps the frame open.
  virtual bool onClose() { return true; }
  virtual void onActivate(bool active) {}

 private:
  friend class Frame;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::ui
