// Names of the journal files: the temporary transaction file of a sale in
// progress ("R%cN%05lu.log": a letter for the sale's mode and a five-digit
// number) and the daily receipt file ("DT%02u%02u%02u.prf": month, day, year
// mod 100). Both are tables of 96-byte line records.
#pragma once

#include <cstdint>
#include <string>

#include "app/register/engine/data_file.h"

namespace varnex::reg {

inline constexpr uint32_t kJournalRecordLen = 96;
inline constexpr uint32_t kJournalTableId = 5;
inline constexpr uint32_t kTempNumbers = 100000;  // five digits

// "R" refund, "1" registration 1, "2" registration 2, "$" anything else (the
// probe of the interrupted-sale scan).
char TempFileLetter(uint16_t saleMode);
std::string TempFileName(char letter, uint32_t number);
// The first name of that letter, from number start on (mod 100000), that no
// file in folder has; empty when all 100000 are taken.
std::string NextFreeTempFile(const std::string& folder, char letter, uint32_t start = 1);
std::string ReceiptFileName(uint16_t dosDate);

// The receipt number after `last` (0: none yet); four digits.
inline uint16_t ReceiptAfter(uint16_t last) { return static_cast<uint16_t>((last + 1u) % 10000u); }

// What is left of a daily receipt file once it holds whole sales only.
struct DailyTail {
  int32_t count = -1;        // records left; -1 when the file could not be read or cut
  uint16_t lastReceipt = 0;  // receipt number of the last closing record, 0 without one
  int64_t cutBytes = 0;      // bytes cut off its end
};
// Cuts an open daily receipt file (or a temporary file kept as the target)
// back to whole sales: a record cut short by a crash, and the lines of a
// sale that never got its closing record, go.
DailyTail TrimToWholeSales(DataFile& file);
// Whether the lines of an interrupted sale's temporary file (at path,
// written last at unixSeconds) are already in a daily receipt file, followed
// by a closing record made no earlier than that.
bool SaleInDailyFile(const std::string& temporaryPath, int64_t writtenAt, const std::string& dailyPath);

// CRC-32 (the polynomial of zip) of the commit's own files.
uint32_t JournalCrc32(const uint8_t* data, size_t length);
// Whether the closing record `closing` (96 bytes) is record `number` of the
// target file: the sale it closes is committed.
bool ClosingRecordIsAt(const std::string& target, int32_t number, const uint8_t* closing);

}  // namespace varnex::reg
