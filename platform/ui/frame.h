// The class level's frame: a top-level window with a menu bar, a status bar
// and a central area, whose commands (ids from menus, buttons and
// accelerators) go to one command handler, and whose menu items and buttons
// are enabled, checked and renamed by update handlers run whenever the
// message loop falls idle. Menus and accelerator tables come from resources
// and can be swapped while the frame runs (one set per mode).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/ui/window.h"

namespace platform::ui {

struct CommandState {
  bool enabled = true;
  bool checked = false;
  bool hasText = false;
  std::string text;  // code page 932, used when hasText
};

class Frame {
 public:
  using CommandHandler = std::function<bool(uint32_t command)>;
  using UpdateHandler = std::function<void(uint32_t command, CommandState& state)>;

  Frame(const std::string& className, const std::string& title, const Rect& rect);
  ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  HWND handle() const;
  // The window the frame's central area shows (a view), owned by the frame.
  HWND client() const;

  bool setMenu(int32_t menuId);           // 0 removes the menu bar
  bool setAccelerators(int32_t tableId);  // 0 removes the table
  void onCommand(CommandHandler handler);
  void onUpdate(UpdateHandler handler);
  // Adds a push button for a command to the frame's tool bar.
  HWND addToolButton(uint32_t command, const std::string& text);
  void setStatusText(const std::string& text);

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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::ui
