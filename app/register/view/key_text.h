// The texts of keyboard keys as the touch panel, the department pane and the
// function-key layout screen show them: the Windows name of a virtual-key
// code and the whole key-layout word with its modifiers.
#pragma once

#include <cstdint>
#include <string>

namespace varnex::reg {

// The Windows name of a virtual-key code ("VK_RETURN" for 13); empty for a
// code without a name and for a value above 255.
std::string GetVirtualKeyName(uint32_t virtualKey);

// The text of the key-layout word of a key-layout record (8 bytes): empty for
// no key; "Ctrl + ", "Alt + " and "Shift + " for the modifier bits, then the
// virtual key's name (bit 12; "?n" for a code without one) or the character.
std::string GetKeyCodeText(const void* layoutRecord);
std::string KeyWordText(uint16_t keyWord);

}  // namespace varnex::reg
