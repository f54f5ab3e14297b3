// Resources by id: dialog templates, menus, accelerator tables and string
// tables, written as readable text files in res/ and compiled into the
// binaries: a resource file's first line is R"RES( and its last )RES", so a
// source file includes it as one string literal and hands it to
// loadResourceText at start-up. Ids keep the values the code uses.
//
// The text format, one statement a line; "//" starts a comment; texts are in
// double quotes (UTF-8 in the file, code page 932 once loaded; a backslash
// escapes the next character); numbers are decimal or 0x hexadecimal:
//
//   DIALOG <id> <x> <y> <width> <height> "<caption>" [FONT <points> "<face>"]
//     <kind> <id> <x> <y> <width> <height> ["<text>"] [flag ...]
//   END
//       kinds: BUTTON DEFBUTTON EDIT STATIC CHECKBOX RADIO GROUPBOX LISTBOX
//              COMBOBOX LISTVIEW DATEPICKER PROGRESS SPIN
//       flags: READONLY PASSWORD MULTILINE NUMBER DROPLIST DISABLED
//              FORMAT "<date display format>"
//       positions and sizes are dialog units (4 per average character width
//       across, 8 per character height down, of the dialog's font).
//   MENU <id>
//     POPUP "<text>" ... END | ITEM <command id> "<text>" | SEPARATOR
//   END
//   ACCELERATORS <id>
//     <virtual key> <command id> [SHIFT] [CONTROL] [ALT]
//   END
//       a virtual key is a number, a letter or digit in quotes ("A"), or a
//       name: F1..F24 RETURN ESCAPE TAB BACK SPACE DELETE INSERT HOME END
//       PRIOR NEXT LEFT UP RIGHT DOWN
//   STRINGTABLE
//     <id> "<text>"
//   END
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/window.h"

namespace platform::ui {

enum class ControlKind {
  PushButton, DefPushButton, Edit, Static, CheckBox, RadioButton, GroupBox,
  ListBox, ComboBox, ListView, DatePicker, Progress, Spin,
};

enum ControlFlag : uint32_t {
  kControlReadOnly = 0x01,
  kControlPassword = 0x02,
  kControlMultiline = 0x04,
  kControlNumber = 0x08,
  kControlDropList = 0x10,
  kControlDisabled = 0x20,
};

struct ControlTemplate {
  ControlKind kind = ControlKind::Static;
  int32_t id = -1;
  Rect rect;              // dialog units
  std::string text;       // code page 932
  uint32_t flags = 0;
  std::string format;     // date pickers: display format ("yyyy/MM/dd")
};

struct DialogTemplate {
  int32_t id = 0;
  Rect rect;              // dialog units
  std::string caption;    // code page 932
  int32_t fontPoints = 9;
  std::string fontFace;   // code page 932; empty: the application's font
  std::vector<ControlTemplate> controls;
};

struct MenuItemTemplate {
  std::string text;       // code page 932, "&" marks the mnemonic
  uint32_t command = 0;   // 0 for a popup or a separator
  bool separator = false;
  std::vector<MenuItemTemplate> children;  // a popup when not empty
};

struct MenuTemplate {
  int32_t id = 0;
  std::vector<MenuItemTemplate> items;
};

struct AcceleratorEntry {
  uint32_t virtualKey = 0;
  bool shift = false, ctrl = false, alt = false;
  uint32_t command = 0;
};

struct AcceleratorTable {
  int32_t id = 0;
  std::vector<AcceleratorEntry> entries;
};

// Parses a resource text and adds what it defines (a later definition of
// the same id replaces the earlier). False with a message naming the line on
// a syntax error; nothing of that text is added then.
bool loadResourceText(std::string_view utf8Text, std::string* error = nullptr);

const DialogTemplate* findDialogTemplate(int32_t id);
const MenuTemplate* findMenuTemplate(int32_t id);
const AcceleratorTable* findAcceleratorTable(int32_t id);
// Adds or replaces an accelerator table the program builds at run time (from
// its own data); frames pick it up when they next set their handles.
bool setAcceleratorTable(const AcceleratorTable& table);
// The string of a string table, code page 932; false when there is none.
bool loadString(int32_t id, std::string& text);

}  // namespace platform::ui
