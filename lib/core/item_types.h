// Item types of table and form fields: bit fields, input and display forms.
#pragma once

#include <cstdint>
#include <string>

namespace zemta {

// Bit-field position word, normalised: shift 32 or more is the whole field,
// shift + width above 32 cuts the width.
uint32_t GetBitData(int32_t size, const uint8_t* field, uint16_t position, bool isSigned);
void SetBitData(uint16_t position, int32_t size, uint8_t* field, uint32_t value);

bool IsIntType(uint32_t itemType);     // 2-7, 14-21, 28-32, 34-36, 40, 41, 46, 47
bool IsSignedIntType(uint32_t itemType);  // 7, 28, 29, 34-36, 46, 47
bool IsFloatType(uint32_t itemType);   // 8-13, 48, 49

// Input text into the field; 1 changed, 0 unchanged, -1 when the text or the
// field size does not fit the type.
int32_t ItemStrToData(uint16_t itemType, uint16_t position, int32_t size, uint8_t* field, const char* text);
// The display text of a value at a display width (value: the integer as 4
// bytes, a float as an 8-byte double, other types their bytes).
std::string ItemDataToStr(uint16_t itemType, int32_t width, const uint8_t* value, int32_t size);
// Smallest and largest values of a field.
void ItemMinData(uint16_t itemType, uint16_t position, int32_t size, uint8_t* out);
void ItemMaxData(uint16_t itemType, uint16_t position, int32_t size, uint8_t* out);

}  // namespace zemta
