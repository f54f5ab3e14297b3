// One commit under way: the sale's lines, its totals, where it goes. Shared
// by the commit (commit.cpp) and the posting of committed sales to the
// outside database again (commit_outside.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/register/engine/data_file.h"

namespace varnex::reg {

struct CRegCom::CommitRun {
  uint32_t modeCode = 0;
  int32_t callerValue = 0;
  std::vector<uint8_t> lines;
  int32_t lineCount = 0;
  bool refund = false;
  int32_t totals[saletotal::kWords] = {};
  uint8_t customerBuffer[256] = {};
  OdbcPostContext context;
  bool kept = false;           // the sale's temporary file is the target
  FileDBHandle target = 0;     // that file, when kept
  std::string targetPath;      // native path of the target
  DataFile daily;              // the daily file, held while the sale goes in
  int32_t oldCount = 0;        // the target's records before the commit
  uint16_t lastReceipt = 0;    // receipt number of the target's last closing record
  uint8_t closing[line::kSize] = {};
  // What the sale appends to the target: its lines (refund lines flagged
  // void) and the closing record.
  std::vector<uint8_t> records;

  const uint8_t* lineAt(int32_t i) const { return lines.data() + static_cast<size_t>(i) * line::kSize; }
  int32_t reverse() const { return refund ? 1 : 0; }
  // The flags of the sale totals by the mode code, and the customer of the
  // heading line.
  void start() {
    using namespace saletotal;
    refund = modeCode == kModeRefund;
    totals[kRefund] = refund ? 1 : 0;
    totals[kSettlement] = modeCode == kModeSettlement ? 1 : 0;
    totals[kReading] = modeCode == kModeSettlement || modeCode == kModeXReading ? 1 : 0;
    if (lineCount > 0 && keyType(getU16(lineAt(0), line::kKeyCode)) == kKeyCustomer)
      std::memcpy(customerBuffer, lineAt(0) + line::kCode, line::kCodeLen);
  }
};

}  // namespace varnex::reg
