// Names of the system lines (key type 8) that the register builds among the
// lines of a sale or report: subtotal, tax, change, counts and the like.
#pragma once

#include <cstdint>

namespace varnex::reg {

// Column of the name table: the display name, the print name, and the print
// name for the SA device (its half-width form, or the print name where there
// is none).
enum SystemLineColumn : int { kSystemDisplayName = 0, kSystemPrintName = 1, kSystemPrintNameSa = 2 };
inline constexpr uint16_t kSystemLineKinds = 55;

// The name of a kind (0-54) in a column; "" for kinds outside the table.
const char* SystemLineName(uint16_t kind, SystemLineColumn column);

// Flag word bits every builder of a system line gives a kind: double width
// (0x0100) for 0, 20-25, 40 and 45; 0x0200 (printed without the yen sign) for
// 20, 22 and 24.
uint16_t SystemLineFlags(uint16_t kind);

}  // namespace varnex::reg
