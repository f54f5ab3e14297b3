#include "app/register/view/key_text.h"

#include <cstdio>

#include "app/register/engine/records.h"

namespace varnex::reg {

namespace {

struct NamedKey {
  uint8_t code;
  const char* name;
};

// The named codes of the Windows virtual-key list; the runs of letters,
// digits, keypad and function keys are made below.
const NamedKey kNamedKeys[] = {
    {1, "VK_LBUTTON"}, {2, "VK_RBUTTON"}, {3, "VK_CANCEL"}, {4, "VK_MBUTTON"}, {8, "VK_BACK"}, {9, "VK_TAB"},
    {12, "VK_CLEAR"}, {13, "VK_RETURN"}, {16, "VK_SHIFT"}, {17, "VK_CONTROL"}, {18, "VK_MENU"},
    {19, "VK_PAUSE"}, {20, "VK_CAPITAL"}, {21, "VK_KANA"}, {23, "VK_JUNJA"}, {24, "VK_FINAL"},
    {25, "VK_KANJI"}, {27, "VK_ESCAPE"}, {28, "VK_CONVERT"}, {29, "VK_NONCONVERT"}, {30, "VK_ACCEPT"},
    {31, "VK_MODECHANGE"}, {32, "VK_SPACE"}, {33, "VK_PRIOR"}, {34, "VK_NEXT"}, {35, "VK_END"},
    {36, "VK_HOME"}, {37, "VK_LEFT"}, {38, "VK_UP"}, {39, "VK_RIGHT"}, {40, "VK_DOWN"}, {41, "VK_SELECT"},
    {42, "VK_PRINT"}, {43, "VK_EXECUTE"}, {44, "VK_SNAPSHOT"}, {45, "VK_INSERT"}, {46, "VK_DELETE"},
    {47, "VK_HELP"}, {91, "VK_LWIN"}, {92, "VK_RWIN"}, {93, "VK_APPS"}, {106, "VK_MULTIPLY"},
    {107, "VK_ADD"}, {108, "VK_SEPARATOR"}, {109, "VK_SUBTRACT"}, {110, "VK_DECIMAL"}, {111, "VK_DIVIDE"},
    {144, "VK_NUMLOCK"}, {145, "VK_SCROLL"}, {160, "VK_LSHIFT"}, {161, "VK_RSHIFT"}, {162, "VK_LCONTROL"},
    {163, "VK_RCONTROL"}, {164, "VK_LMENU"}, {165, "VK_RMENU"}, {229, "VK_PROCESSKEY"}, {246, "VK_ATTN"},
    {247, "VK_CRSEL"}, {248, "VK_EXSEL"}, {249, "VK_EREOF"}, {250, "VK_PLAY"}, {251, "VK_ZOOM"},
    {252, "VK_NONAME"}, {253, "VK_PA1"}, {254, "VK_OEM_CLEAR"},
};

}  // namespace

std::string GetVirtualKeyName(uint32_t virtualKey) {
  if (virtualKey > 255) return std::string();
  if (virtualKey >= '0' && virtualKey <= '9') return "VK_" + std::string(1, static_cast<char>(virtualKey));
  if (virtualKey >= 'A' && virtualKey <= 'Z') return "VK_" + std::string(1, static_cast<char>(virtualKey));
  if (virtualKey >= 96 && virtualKey <= 105) return "VK_NUMPAD" + std::to_string(virtualKey - 96);
  if (virtualKey >= 112 && virtualKey <= 135) return "VK_F" + std::to_string(virtualKey - 111);
  for (const NamedKey& k : kNamedKeys)
    if (k.code == virtualKey) return k.name;
  return std::string();
}

std::string KeyWordText(uint16_t word) {
  if (word == 0) return std::string();
  std::string text;
  if (word & keylayout::kCtrl) text += "Ctrl + ";
  if (word & keylayout::kAlt) text += "Alt + ";
  if (word & keylayout::kShift) text += "Shift + ";
  const uint8_t low = static_cast<uint8_t>(word & 0xFF);
  if (word & keylayout::kVirtual) {
    const std::string name = GetVirtualKeyName(low);
    text += name.empty() ? "?" + std::to_string(low) : name;
  } else {
    text += static_cast<char>(low);
  }
  return text;
}

std::string GetKeyCodeText(const void* layoutRecord) {
  if (!layoutRecord) return std::string();
  return KeyWordText(getU16(static_cast<const uint8_t*>(layoutRecord), keylayout::kKeyWord.offset));
}

}  // namespace varnex::reg
