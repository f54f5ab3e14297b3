// Command ids and their routing at the class level. A command (a menu item,
// a tool or dialog-bar button, an accelerator) is offered along a chain of
// targets: the active view, its child frame, the main frame, then the
// application; the first target whose message map (or override) takes it
// handles it. Enable, check and text updates run along the same chain
// whenever the message loop falls idle: the first target with an update
// handler for the id decides; without one the item is enabled exactly when
// some target of the chain handles the command.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/types.h"

namespace platform::ui {

struct CommandState {
  bool enabled = true;
  bool checked = false;
  bool hasText = false;
  std::string text;       // code page 932, used when hasText
  HWND control = nullptr; // the bar control being updated (null for a menu item)
};

class CommandTarget {
 public:
  using Handler = std::function<void(uint32_t command)>;
  using Updater = std::function<void(uint32_t command, CommandState& state)>;

  CommandTarget() = default;
  virtual ~CommandTarget();
  CommandTarget(const CommandTarget&) = delete;
  CommandTarget& operator=(const CommandTarget&) = delete;

  // The message map: handlers and update handlers by id or id range
  // (inclusive). A later entry for the same id goes first.
  void mapCommand(uint32_t command, Handler handler);
  void mapCommandRange(uint32_t first, uint32_t last, Handler handler);
  void mapUpdate(uint32_t command, Updater updater);
  void mapUpdateRange(uint32_t first, uint32_t last, Updater updater);

  // Runs the handler of the command; false when this target has none.
  virtual bool handleCommand(uint32_t command);
  // Runs the update handler; false when this target has none.
  virtual bool updateCommand(uint32_t command, CommandState& state);
  // True when handleCommand would take the command.
  virtual bool handlesCommand(uint32_t command) const;

 private:
  struct Entry {
    uint32_t first, last;
    Handler handler;
    Updater updater;
  };
  std::vector<Entry> map_;
};

// The application's own target, last in every chain (null: none). Process-wide.
void setApplicationTarget(CommandTarget* target);
CommandTarget* applicationTarget();

// Offers the command along the chain (null entries are skipped; the
// application target is added at the end). False when nobody took it.
bool routeCommand(const std::vector<CommandTarget*>& chain, uint32_t command);
// The state of a command along the chain, as described above.
CommandState routeUpdate(const std::vector<CommandTarget*>& chain, uint32_t command, HWND control = nullptr);

}  // namespace platform::ui
