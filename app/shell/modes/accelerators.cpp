#include "app/shell/modes/accelerators.h"

#include <cctype>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/reg_com.h"
#include "app/register/engine/records.h"
#include "platform/ui/resources.h"
#include "zemta/filedb.h"
#include "zemta/keys.h"

namespace varnex::shell {

namespace {

// Command ids of the fixed keys.
enum : uint16_t {
  kCmdItemFirst = 1261, kCmdAltItemFirst = 1270, kCmdExecute = 1280, kCmdFunctionBase = 1100,
  kCmdSetup = 1002, kCmdRefund = 1003, kCmdRegister1 = 1004, kCmdRegister2 = 1005, kCmdXRead = 1006, kCmdZRead = 1007,
};

uint16_t Word(uint16_t flagsOfWord, uint16_t key) { return static_cast<uint16_t>(flagsOfWord | key); }

// The register functions a layout record may give a menu-mode key.
bool MenuFunction(uint16_t code) {
  switch (code) {
    case 50: case 51: case 52: case 53: case 62: case 64: case 69: return true;
    default: return false;
  }
}

}  // namespace

int32_t AddAccelEntry(AccelEntry* entries, int32_t n, uint16_t keyWord, uint16_t command) {
  uint8_t flags = 0;
  if (keyWord & reg::keylayout::kCtrl) flags |= kFControl;
  if (keyWord & reg::keylayout::kAlt) flags |= kFAlt;
  if (keyWord & reg::keylayout::kShift) flags |= kFShift;
  if (keyWord & reg::keylayout::kVirtual) flags |= kFVirtKey;
  const uint16_t key = keyWord & 0xFF;
  for (int32_t i = 0; i < n; ++i)
    if (entries[i].flags == flags && entries[i].key == key) return 0;
  entries[n] = {flags, key, command};
  return 1;
}

int32_t BuildFklAccelTable(reg::CRegCom* engine, AccelEntry* entries, int32_t table) {
  if (!entries || !engine) return -1;
  int32_t n = 0;
  auto add = [&](uint16_t word, uint16_t command) {
    if (n < kAccelEntries) n += AddAccelEntry(entries, n, word, command);
  };
  // Digits select the numbered items; the short menus have eight.
  const char lastDigit = table == 0 ? '9' : '8';
  for (char c = '1'; c <= lastDigit; ++c) add(static_cast<uint16_t>(c), static_cast<uint16_t>(kCmdItemFirst + (c - '1')));
  if (table == 0)
    for (char c = '0'; c <= '5'; ++c)
      add(Word(reg::keylayout::kAlt, static_cast<uint16_t>(c)), static_cast<uint16_t>(kCmdAltItemFirst + (c - '0')));
  const uint16_t v = reg::keylayout::kVirtual;
  const struct {
    uint16_t vk, command;
  } fixed[] = {{0x73, kCmdSetup},     {0x74, kCmdRefund}, {0x76, kCmdRegister1}, {0x77, kCmdRegister2},
               {0x78, kCmdXRead},     {0x79, kCmdZRead},  {0x0D, kCmdExecute}};
  for (const auto& f : fixed) add(Word(v, f.vk), f.command);

  FileDBHandle layout = engine->Table(reg::kKeyLayoutTable);
  if (!layout) return -1;
  const int32_t count = FileDBRecGetSize(layout);
  if (count < 0) return -1;
  uint8_t record[8];
  for (int32_t r = 0; r < count; ++r) {
    if (FileDBRecRead(layout, r, record) != 0) return -1;
    const uint16_t function = reg::getU16(record, reg::keylayout::kFunction.offset);
    if (reg::keyType(function) != reg::kKeyFunction || !MenuFunction(reg::keyNumber(function))) continue;
    add(reg::getU16(record, reg::keylayout::kKeyWord.offset),
        static_cast<uint16_t>(kCmdFunctionBase + reg::keyNumber(function)));
  }
  return n;
}

bool BuildLayoutTables(reg::CRegCom* engine) {
  for (int32_t table = 0; table < 3; ++table) {
    AccelEntry entries[kAccelEntries];
    const int32_t n = BuildFklAccelTable(engine, entries, table);
    if (n < 0) return false;
    platform::ui::AcceleratorTable out;
    out.id = LayoutTableId(table);
    for (int32_t i = 0; i < n; ++i) {
      platform::ui::AcceleratorEntry e;
      e.ctrl = entries[i].flags & kFControl;
      e.alt = entries[i].flags & kFAlt;
      e.shift = entries[i].flags & kFShift;
      e.command = entries[i].command;
      if (entries[i].flags & kFVirtKey) {
        e.virtualKey = entries[i].key;
      } else {
        // A character key: the key that types it (with Shift when it needs it).
        int32_t shift = 0;
        e.virtualKey = entries[i].key ? ZemtaCharToVKey(entries[i].key, &shift) : 0;
        if (shift) e.shift = true;
      }
      out.entries.push_back(e);
    }
    if (!platform::ui::setAcceleratorTable(out)) return false;
  }
  return true;
}

}  // namespace varnex::shell
