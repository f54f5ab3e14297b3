// Line records of a sale as the sales screen writes them, and the counters
// of the demo shop that a commit moves, for the commit and posting tests.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "zemta/memory.h"
#include "zemta/tax.h"

namespace varnex_test {

using Line = std::vector<uint8_t>;

inline Line blankLine() { return Line(varnex::reg::line::kSize, 0); }

// The demo's JAN code of PLU item n (1-20).
inline std::string demoJan(int n) {
  char code[16];
  std::snprintf(code, sizeof code, "4912345%05dC", n);
  BccMake(code, 13);
  return code;
}

inline Line itemLine(uint16_t department, int32_t quantity, int32_t unitPrice, const std::string& code = "",
                     uint16_t rate = 0, uint16_t extraFlags = varnex::reg::line::kPointTarget,
                     const char* name = "商品") {
  using namespace varnex::reg;
  Line l = blankLine();
  putText(l.data(), line::kDisplayName, line::kDisplayNameLen, name);
  putText(l.data(), line::kPrintName, line::kPrintNameLen, name);
  putText(l.data(), line::kCode, line::kCodeLen, code);
  putU16(l.data(), line::kFlags, static_cast<uint16_t>((rate << line::kRateShift) | extraFlags));
  putU16(l.data(), line::kKeyCode, makeKeyCode(kKeyDepartment, department));
  putI32(l.data(), line::kUnit, quantity);
  putI32(l.data(), line::kUnitPrice, unitPrice);
  putI32(l.data(), line::kPrice, quantity * unitPrice);
  return l;
}

inline Line keyLine(uint16_t type, uint16_t code, int32_t price, int32_t quantity = 1) {
  using namespace varnex::reg;
  Line l = blankLine();
  putU16(l.data(), line::kKeyCode, makeKeyCode(type, code));
  putI32(l.data(), line::kUnit, quantity);
  putI32(l.data(), line::kPrice, price);
  return l;
}

inline Line systemLine(uint16_t kind, int32_t price) {
  Line l = blankLine();
  varnex::reg::CRegCom::BuildSystemLine(l.data(), kind, price, 0, 0);
  return l;
}

inline Line totalLine() {
  Line l = blankLine();
  varnex::reg::CRegCom::BuildTotalLine(l.data(), 0, 0, 0, 1);
  return l;
}

// A memory block holding the lines in order; freed by the caller.
inline MemoryBlockHandle blockOf(const std::vector<Line>& lines) {
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  for (const Line& l : lines) WriteDataMemory(block, l.data(), static_cast<uint32_t>(l.size()));
  return block;
}

struct BlockOwner {
  MemoryBlockHandle block;
  explicit BlockOwner(const std::vector<Line>& lines) : block(blockOf(lines)) {}
  ~BlockOwner() { DeleteMemory(block); }
  operator MemoryBlockHandle() const { return block; }
};

}  // namespace varnex_test
