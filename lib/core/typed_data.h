// Internal helpers of the typed values, for the record stores and views.
#pragma once

#include <cstdint>
#include <string>

namespace zemta {

// Copies a number text inserting the separator before every group of three
// digits of its integer part; "*" when it does not fit. The length, or -1.
int32_t ToInsSepStr(char* out, int32_t size, const char* text, int32_t length, char separator);

// The text form of a typed value; false when the type, length or format
// cannot be printed.
bool formatTypedValue(uint32_t type, int32_t length, const uint8_t* value, uint32_t format, std::string& text);

// The weekday character of 0 Sunday ... 6 Saturday (日月火水木金土).
const char* japaneseWeekday(int weekday);

// The same test as ChkMbcType.
int32_t ChkMbcPos(const char* text, int32_t index);

// One value action of the container store's records.
int32_t ActionExecVal(uint16_t flags, uint8_t code, int32_t count, int64_t* slots, uint16_t base, int8_t slot,
                      int64_t operand);

}  // namespace zemta
