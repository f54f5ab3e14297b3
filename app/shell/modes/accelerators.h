// The accelerator tables of the menu modes: fixed keys (digits, the mode
// keys, Enter) joined with the keyboard keys that the function-key layout
// gives seven register functions. Table 0 serves the setup menu and the OFF
// mode, table 1 the X-reading menu, table 2 the Z menu.
#pragma once

#include <cstdint>

namespace varnex::reg {
class CRegCom;
}

namespace varnex::shell {

// One accelerator entry as the layout stores keys: flags, key, command.
struct AccelEntry {
  uint8_t flags = 0;
  uint16_t key = 0;
  uint16_t command = 0;
};
enum : uint8_t { kFVirtKey = 1, kFShift = 4, kFControl = 8, kFAlt = 16 };
inline constexpr int32_t kAccelEntries = 256;

// The resource ids the three built tables are kept under.
inline constexpr int32_t kLayoutTableBase = 0x7F00;
inline constexpr int32_t LayoutTableId(int32_t table) { return kLayoutTableBase + table; }

// Turns a key-layout word into entry n: 1 when written, 0 when an earlier
// entry has the same flags and key (the earlier one wins).
int32_t AddAccelEntry(AccelEntry* entries, int32_t n, uint16_t keyWord, uint16_t command);

// Fills the entries of one table (0, 1, 2): their number, or -1 when the
// engine or the layout table cannot be read.
int32_t BuildFklAccelTable(reg::CRegCom* engine, AccelEntry* entries, int32_t table);

// Builds the three tables and stores them under LayoutTableId(n): false on
// the first failure (tables made before it stay).
bool BuildLayoutTables(reg::CRegCom* engine);

}  // namespace varnex::shell
