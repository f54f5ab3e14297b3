#include "platform/ui/resources.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/base/cp932.h"
#include "platform/base/shared_state.h"
#include "platform/ui/input.h"

namespace platform::ui {

namespace {

struct Store {
  std::mutex mutex;
  std::map<int32_t, DialogTemplate> dialogs;
  std::map<int32_t, MenuTemplate> menus;
  std::map<int32_t, AcceleratorTable> accelerators;
  std::map<int32_t, std::string> strings;
};

struct Token {
  std::string text;
  bool quoted = false;
};

bool tokenize(std::string_view line, std::vector<Token>& out, std::string& error) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') { ++i; continue; }
    if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') break;
    Token t;
    if (c == '"') {
      t.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '\\' && i < line.size()) { t.text += line[i++]; continue; }
        if (d == '"') { closed = true; break; }
        t.text += d;
      }
      if (!closed) { error = "unterminated text"; return false; }
      std::string cp;
      if (!utf8ToCp932(t.text, cp)) { error = "text has no code page 932 form"; return false; }
      t.text = cp;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') t.text += line[i++];
    }
    out.push_back(std::move(t));
  }
  return true;
}

bool number(const Token& t, int64_t& value) {
  if (t.quoted || t.text.empty()) return false;
  char* end = nullptr;
  value = std::strtoll(t.text.c_str(), &end, 0);
  return end && *end == 0;
}

bool virtualKey(const Token& t, uint32_t& vk) {
  int64_t n;
  if (t.quoted) {
    if (t.text.size() != 1) return false;
    char c = t.text[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    vk = static_cast<uint8_t>(c);
    return true;
  }
  if (number(t, n)) { vk = static_cast<uint32_t>(n); return true; }
  static const std::map<std::string, uint32_t> kNames = {
      {"RETURN", kVkReturn}, {"ESCAPE", kVkEscape}, {"TAB", kVkTab},     {"BACK", kVkBack},
      {"SPACE", kVkSpace},   {"DELETE", kVkDelete}, {"INSERT", kVkInsert}, {"HOME", kVkHome},
      {"END", kVkEnd},       {"PRIOR", kVkPrior},   {"NEXT", kVkNext},    {"LEFT", kVkLeft},
      {"UP", kVkUp},         {"RIGHT", kVkRight},   {"DOWN", kVkDown}};
  if (auto it = kNames.find(t.text); it != kNames.end()) { vk = it->second; return true; }
  if (t.text.size() >= 2 && t.text[0] == 'F') {
    int f = std::atoi(t.text.c_str() + 1);
    if (f >= 1 && f <= 24) { vk = kVkF1 + static_cast<uint32_t>(f - 1); return true; }
  }
  return false;
}

bool controlKind(const std::string& word, ControlKind& kind) {
  static const std::map<std::string, ControlKind> kKinds = {
      {"BUTTON", ControlKind::PushButton}, {"DEFBUTTON", ControlKind::DefPushButton},
      {"EDIT", ControlKind::Edit},         {"STATIC", ControlKind::Static},
      {"CHECKBOX", ControlKind::CheckBox}, {"RADIO", ControlKind::RadioButton},
      {"GROUPBOX", ControlKind::GroupBox}, {"LISTBOX", ControlKind::ListBox},
      {"COMBOBOX", ControlKind::ComboBox}, {"LISTVIEW", ControlKind::ListView},
      {"DATEPICKER", ControlKind::DatePicker}, {"PROGRESS", ControlKind::Progress},
      {"SPIN", ControlKind::Spin}};
  auto it = kKinds.find(word);
  if (it == kKinds.end()) return false;
  kind = it->second;
  return true;
}

bool rectFrom(const std::vector<Token>& t, size_t at, Rect& r) {
  int64_t v[4];
  if (t.size() < at + 4) return false;
  for (int i = 0; i < 4; ++i)
    if (!number(t[at + i], v[i])) return false;
  r = {static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]), static_cast<int32_t>(v[0] + v[2]),
       static_cast<int32_t>(v[1] + v[3])};
  return true;
}

}  // namespace

namespace detail {
PLATFORM_SHARED_STATE void* sharedResourceStore() {
  static Store* store = new Store;
  return store;
}
}  // namespace detail

static Store& store() { return *static_cast<Store*>(detail::sharedResourceStore()); }

bool loadResourceText(std::string_view text, std::string* errorOut) {
  Store parsed;
  enum class Block { None, Dialog, Menu, Accel, Strings } block = Block::None;
  DialogTemplate dialog;
  MenuTemplate menu;
  std::vector<std::vector<MenuItemTemplate>*> menuStack;
  AcceleratorTable accel;
  std::string error;
  int lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size() && error.empty()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    std::vector<Token> t;
    if (!tokenize(line, t, error)) break;
    if (t.empty()) continue;
    const std::string& word = t[0].quoted ? std::string() : t[0].text;
    int64_t n = 0;
    switch (block) {
      case Block::None:
        if (word == "DIALOG") {
          dialog = DialogTemplate{};
          if (t.size() < 7 || !number(t[1], n) || !rectFrom(t, 2, dialog.rect) || !t[6].quoted) {
            error = "DIALOG needs id, position, size and caption";
            break;
          }
          dialog.id = static_cast<int32_t>(n);
          dialog.caption = t[6].text;
          if (t.size() >= 10 && t[7].text == "FONT" && number(t[8], n) && t[9].quoted) {
            dialog.fontPoints = static_cast<int32_t>(n);
            dialog.fontFace = t[9].text;
          }
          block = Block::Dialog;
        } else if (word == "MENU") {
          menu = MenuTemplate{};
          if (t.size() < 2 || !number(t[1], n)) { error = "MENU needs an id"; break; }
          menu.id = static_cast<int32_t>(n);
          menuStack = {&menu.items};
          block = Block::Menu;
        } else if (word == "ACCELERATORS") {
          accel = AcceleratorTable{};
          if (t.size() < 2 || !number(t[1], n)) { error = "ACCELERATORS needs an id"; break; }
          accel.id = static_cast<int32_t>(n);
          block = Block::Accel;
        } else if (word == "STRINGTABLE") {
          block = Block::Strings;
        } else {
          error = "unknown statement";
        }
        break;
      case Block::Dialog: {
        if (word == "END") { parsed.dialogs[dialog.id] = dialog; block = Block::None; break; }
        ControlTemplate c;
        if (!controlKind(word, c.kind) || t.size() < 6 || !number(t[1], n) || !rectFrom(t, 2, c.rect)) {
          error = "a control needs kind, id, position and size";
          break;
        }
        c.id = static_cast<int32_t>(n);
        size_t i = 6;
        if (i < t.size() && t[i].quoted) c.text = t[i++].text;
        for (; i < t.size() && error.empty(); ++i) {
          const std::string& f = t[i].text;
          if (f == "READONLY") c.flags |= kControlReadOnly;
          else if (f == "PASSWORD") c.flags |= kControlPassword;
          else if (f == "MULTILINE") c.flags |= kControlMultiline;
          else if (f == "NUMBER") c.flags |= kControlNumber;
          else if (f == "DROPLIST") c.flags |= kControlDropList;
          else if (f == "DISABLED") c.flags |= kControlDisabled;
          else if (f == "FORMAT" && i + 1 < t.size() && t[i + 1].quoted) c.format = t[++i].text;
          else error = "unknown control flag " + f;
        }
        dialog.controls.push_back(c);
        break;
      }
      case Block::Menu:
        if (word == "END") {
          menuStack.pop_back();
          if (menuStack.empty()) { parsed.menus[menu.id] = menu; block = Block::None; }
        } else if (word == "POPUP" && t.size() >= 2 && t[1].quoted) {
          MenuItemTemplate item;
          item.text = t[1].text;
          menuStack.back()->push_back(item);
          menuStack.push_back(&menuStack.back()->back().children);
        } else if (word == "ITEM" && t.size() >= 3 && number(t[1], n) && t[2].quoted) {
          MenuItemTemplate item;
          item.command = static_cast<uint32_t>(n);
          item.text = t[2].text;
          menuStack.back()->push_back(item);
        } else if (word == "SEPARATOR") {
          MenuItemTemplate item;
          item.separator = true;
          menuStack.back()->push_back(item);
        } else {
          error = "bad menu line";
        }
        break;
      case Block::Accel: {
        if (word == "END" && t.size() == 1) { parsed.accelerators[accel.id] = accel; block = Block::None; break; }
        AcceleratorEntry e;
        if (t.size() < 2 || !virtualKey(t[0], e.virtualKey) || !number(t[1], n)) {
          error = "an accelerator needs a key and a command id";
          break;
        }
        e.command = static_cast<uint32_t>(n);
        for (size_t i = 2; i < t.size(); ++i) {
          if (t[i].text == "SHIFT") e.shift = true;
          else if (t[i].text == "CONTROL") e.ctrl = true;
          else if (t[i].text == "ALT") e.alt = true;
          else error = "unknown accelerator modifier";
        }
        accel.entries.push_back(e);
        break;
      }
      case Block::Strings:
        if (word == "END") { block = Block::None; break; }
        if (t.size() != 2 || !number(t[0], n) || !t[1].quoted) { error = "a string needs an id and a text"; break; }
        parsed.strings[static_cast<int32_t>(n)] = t[1].text;
        break;
    }
  }
  if (error.empty() && block != Block::None) error = "missing END";
  if (!error.empty()) {
    if (errorOut) *errorOut = "line " + std::to_string(lineNo) + ": " + error;
    return false;
  }
  Store& s = store();
  std::lock_guard<std::mutex> guard(s.mutex);
  for (auto& [id, d] : parsed.dialogs) s.dialogs[id] = d;
  for (auto& [id, m] : parsed.menus) s.menus[id] = m;
  for (auto& [id, a] : parsed.accelerators) s.accelerators[id] = a;
  for (auto& [id, str] : parsed.strings) s.strings[id] = str;
  return true;
}

// Entries are never removed, only replaced by a later load of the same id;
// callers use a template during creation on the UI thread.
const DialogTemplate* findDialogTemplate(int32_t id) {
  std::lock_guard<std::mutex> guard(store().mutex);
  auto it = store().dialogs.find(id);
  return it == store().dialogs.end() ? nullptr : &it->second;
}

const MenuTemplate* findMenuTemplate(int32_t id) {
  std::lock_guard<std::mutex> guard(store().mutex);
  auto it = store().menus.find(id);
  return it == store().menus.end() ? nullptr : &it->second;
}

const AcceleratorTable* findAcceleratorTable(int32_t id) {
  std::lock_guard<std::mutex> guard(store().mutex);
  auto it = store().accelerators.find(id);
  return it == store().accelerators.end() ? nullptr : &it->second;
}

bool setAcceleratorTable(const AcceleratorTable& table) {
  if (table.id == 0) return false;
  std::lock_guard<std::mutex> guard(store().mutex);
  store().accelerators[table.id] = table;
  return true;
}

bool loadString(int32_t id, std::string& text) {
  std::lock_guard<std::mutex> guard(store().mutex);
  auto it = store().strings.find(id);
  if (it == store().strings.end()) return false;
  text = it->second;
  return true;
}

}  // namespace platform::ui
