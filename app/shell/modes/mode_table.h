// The view modes of the register and what each opens: title, menu and
// accelerator table, icon and the register mode code whose right it needs.
//   4 設定 menu, 5 戻し, 6 OFF, 7 登録１, 8 登録２, 9 点検 menu, 10 精算 menu,
//   31-38 X readings (38 the receipt journal), 39-46 Z readings (46 the
//   settlement run), 101 function-key layout, 114 ODBC link, and the
//   programming files 102-116 opened as record views.
#pragma once

#include <cstdint>
#include <string>

namespace varnex::shell {

struct ModeInfo {
  const char* title;
  int32_t menu;
  // An accelerator resource id, or -1, -2, -3 for the layout tables 0, 1, 2.
  int32_t accelerators;
  int32_t frameResource;
  int32_t icon;
  uint32_t right;  // 0: none
};

ModeInfo ModeInfoOf(int32_t mode);

// Whether the mode's frame hosts the sales-registration view.
inline bool IsRegisterViewMode(int32_t mode) { return mode == 5 || mode == 7 || mode == 8 || (mode >= 31 && mode <= 46); }
inline bool IsSaleMode(int32_t mode) { return mode == 5 || mode == 7 || mode == 8; }

// " - " and the base name of a reserve file path (no folder, no extension).
std::string ReserveFileTitle(const std::string& path);

// The mode's title; modes 5, 7 and 8 add the reserve title when a reserve
// file path is set.
std::string ModeName(int32_t mode, const std::string& reserveFile);

}  // namespace varnex::shell
