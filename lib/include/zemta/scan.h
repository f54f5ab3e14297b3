// Field scanning, byte-string search and number formatting.
//
// The scanners split delimited text into fields and search byte strings; when
// told to, they treat a code page 932 double-byte character (a lead byte with
// a trail byte) as one character that is never split or matched in its middle.
// White space is the bytes 9-13 and the space.
//
// StrCnvf turns a number already printed into a text field into the form
// screens and receipts show; LongToStr and DoubleToStr print a number and pass
// it through StrCnvf.
#pragma once

#include "zemta/export.h"

// StrCnvf flags; they may be combined.
#define STRCNVF_COMMA 0x02u       // a comma after every three digits of the integer part
#define STRCNVF_FULLWIDTH 0x04u   // the result in full-width (double-byte) characters
#define STRCNVF_MINUS 0x08u       // a "-" after the number
#define STRCNVF_LEFT 0x10u        // left-justified, zero bytes after the text
#define STRCNVF_KEEPZERO 0x20u    // keep leading zeros
#define STRCNVF_YEN 0x40u         // the yen sign (byte 0x5C) in front

// Reads one field from data[*position]. fieldLength: in, the field buffer's
// capacity; out, the length copied (no terminating zero is written). quote: the
// quote character (0: none). separators: null means ",". Returns the 1-based
// index of the separator that ended the field, 0 when none followed (the
// position then rests on the next byte, or is -1 at the end of the data), -1
// for bad arguments.
ZEMTA_API int32_t NextData(int32_t dataLength, const char* data, int32_t* fieldLength, char* field,
                           int32_t* position, char quote, const char* separators,
                           int32_t doubleByte, int32_t keepInnerBlanks);
// NextData on a zero-terminated text, double-byte aware, into a 4096-byte field
// buffer that receives a zero-terminated field.
ZEMTA_API int32_t NextString(const char* text, char* field, int32_t* position, char quote,
                             const char* separators);

// Position of the first match at or after start, or -1.
ZEMTA_API int32_t FindData(int32_t dataLength, const char* data, int32_t patternLength,
                           const char* pattern, int32_t start, int32_t doubleByte);
// Position of the last match at or before start (-1: from the end), or -1.
ZEMTA_API int32_t ReverseFindData(int32_t dataLength, const char* data, int32_t patternLength,
                                  const char* pattern, int32_t start, int32_t doubleByte);
ZEMTA_API int32_t FindString(const char* text, const char* pattern, int32_t start);
ZEMTA_API int32_t ReverseFindString(const char* text, const char* pattern, int32_t start);

// Formats the number in field[0..width) in place (the low 16 bits of width
// count). 0 done; 1 when the result does not fit (the field is then all "*").
ZEMTA_API int32_t StrCnvf(uint32_t flags, uint32_t width, char* field);

// Characters the formatted number needs, without the yen sign and the
// trailing minus.
ZEMTA_API int32_t GetLongLength(uint32_t flags, int32_t value);
ZEMTA_API int32_t GetDoubleLength(uint32_t flags, const double* value, int32_t decimals);

// Print the number into buffer (size bytes, the last one always zero) and
// format it with StrCnvf over size - 1 bytes; "*" when it cannot fit.
ZEMTA_API void LongToStr(uint32_t flags, char* buffer, int32_t value, int32_t size);
ZEMTA_API void DoubleToStr(uint32_t flags, char* buffer, const double* value, int32_t decimals,
                           int32_t size);
