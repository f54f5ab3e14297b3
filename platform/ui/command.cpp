#include "platform/ui/command.h"

#include <algorithm>
#include <mutex>

#include "platform/base/shared_state.h"

namespace platform::ui {

namespace detail {

struct ApplicationTargetSlot {
  std::mutex mutex;
  CommandTarget* target = nullptr;
};

// One per process: the program's application object registers itself once,
// and the libraries' copies of this layer must see it.
PLATFORM_SHARED_STATE void* sharedApplicationTarget() {
  static ApplicationTargetSlot* slot = new ApplicationTargetSlot;
  return slot;
}

}  // namespace detail

namespace {

detail::ApplicationTargetSlot& slot() {
  return *static_cast<detail::ApplicationTargetSlot*>(detail::sharedApplicationTarget());
}

}  // namespace

CommandTarget::~CommandTarget() {
  std::lock_guard<std::mutex> guard(slot().mutex);
  if (slot().target == this) slot().target = nullptr;
}

void CommandTarget::mapCommand(uint32_t command, Handler handler) { mapCommandRange(command, command, std::move(handler)); }

void CommandTarget::mapCommandRange(uint32_t first, uint32_t last, Handler handler) {
  map_.insert(map_.begin(), Entry{std::min(first, last), std::max(first, last), std::move(handler), nullptr});
}

void CommandTarget::mapUpdate(uint32_t command, Updater updater) { mapUpdateRange(command, command, std::move(updater)); }

void CommandTarget::mapUpdateRange(uint32_t first, uint32_t last, Updater updater) {
  map_.insert(map_.begin(), Entry{std::min(first, last), std::max(first, last), nullptr, std::move(updater)});
}

bool CommandTarget::handleCommand(uint32_t command) {
  for (const Entry& e : map_)
    if (e.handler && command >= e.first && command <= e.last) {
      Handler h = e.handler;  // the handler may change the map
      h(command);
      return true;
    }
  return false;
}

bool CommandTarget::updateCommand(uint32_t command, CommandState& state) {
  for (const Entry& e : map_)
    if (e.updater && command >= e.first && command <= e.last) {
      Updater u = e.updater;
      u(command, state);
      return true;
    }
  return false;
}

bool CommandTarget::handlesCommand(uint32_t command) const {
  for (const Entry& e : map_)
    if (e.handler && command >= e.first && command <= e.last) return true;
  return false;
}

void setApplicationTarget(CommandTarget* target) {
  std::lock_guard<std::mutex> guard(slot().mutex);
  slot().target = target;
}

CommandTarget* applicationTarget() {
  std::lock_guard<std::mutex> guard(slot().mutex);
  return slot().target;
}

namespace {

std::vector<CommandTarget*> withApplication(const std::vector<CommandTarget*>& chain) {
  std::vector<CommandTarget*> all;
  for (CommandTarget* t : chain)
    if (t && std::find(all.begin(), all.end(), t) == all.end()) all.push_back(t);
  if (CommandTarget* app = applicationTarget())
    if (std::find(all.begin(), all.end(), app) == all.end()) all.push_back(app);
  return all;
}

}  // namespace

bool routeCommand(const std::vector<CommandTarget*>& chain, uint32_t command) {
  for (CommandTarget* t : withApplication(chain))
    if (t->handleCommand(command)) return true;
  return false;
}

CommandState routeUpdate(const std::vector<CommandTarget*>& chain, uint32_t command, HWND control) {
  std::vector<CommandTarget*> all = withApplication(chain);
  CommandState state;
  state.control = control;
  for (CommandTarget* t : all)
    if (t->updateCommand(command, state)) return state;
  state.enabled = false;
  for (CommandTarget* t : all)
    if (t->handlesCommand(command)) {
      state.enabled = true;
      break;
    }
  return state;
}

}  // namespace platform::ui
