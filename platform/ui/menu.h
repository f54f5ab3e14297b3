// Popup (context) menus: shown at a point, answering the chosen command. In
// tests a scripted answerer picks the item instead of a user, as the message
// box's answerer does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace platform::ui {

struct PopupItem {
  uint32_t command = 0;
  std::string text;        // code page 932, "&" marks the mnemonic
  bool separator = false;
  bool enabled = true;
  bool checked = false;
};

// The items of popup number index (from 0) of a menu resource, its nested
// popups flattened; empty when there is none.
std::vector<PopupItem> popupItemsOf(int32_t menuId, int32_t index);

// Shows the menu at the screen point and returns the chosen command, 0 when
// it was dismissed (a disabled item or a separator cannot be chosen). With
// notify the command also goes to owner as WM_COMMAND (sent).
uint32_t trackPopupMenu(const std::vector<PopupItem>& items, HWND owner, int32_t x, int32_t y, bool notify);

// The answerer gets the items as they would show and returns the command to
// choose (0: dismiss). An empty function restores the real menu; the previous
// answerer is returned.
using PopupMenuAnswerer = std::function<uint32_t(const std::vector<PopupItem>& items)>;
PopupMenuAnswerer setPopupMenuAnswerer(PopupMenuAnswerer answerer);

// Draws the menu the items make, as trackPopupMenu would show it, into a PNG
// file (for a test's answerer to look at what the clerk sees).
bool grabPopupMenuToPng(const std::vector<PopupItem>& items, const std::string& path);

}  // namespace platform::ui
