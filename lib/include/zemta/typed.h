// Typed values (type codes) and the item types of table and form fields.
//
// Type word: code in bits 0-4 (0 text, 1 signed, 2 unsigned, 3 float or
// double, 4 raw bytes, 12 ExTime, 13 ExDate, 14 ExDate and ExTime, 15 file
// time, 31 log value, list or schedule by bits 8-15); bit 5 marks a nullable
// value whose first byte is a presence flag (bit 0 set: present).
//
// Item type word: item type in bits 0-5, thousands commas bit 6, full-width
// bit 7, decimals bits 8-12, print flag bits 13-15.
#pragma once

#include "zemta/export.h"

enum TypeCode : uint32_t {
  TYPE_TEXT = 0,
  TYPE_SIGNED = 1,
  TYPE_UNSIGNED = 2,
  TYPE_FLOAT = 3,
  TYPE_BINARY = 4,
  TYPE_TIME = 12,
  TYPE_DATE = 13,
  TYPE_DATETIME = 14,
  TYPE_FILETIME = 15,
  TYPE_LOG = 31,
  TYPE_NULLABLE = 0x20,
};

// What ItemSetData and ItemGetData exchange.
enum ItemValueKind : int32_t {
  ITEM_VALUE_INTEGER = 4,
  ITEM_VALUE_DOUBLE = 10,
  ITEM_VALUE_TEXT = 32,
};

typedef struct ItemValue {
  uint16_t offset;    // record offset (low 15 bits)
  uint16_t size;      // field size
  uint16_t position;  // bit-field position word: low byte shift, high byte width
  uint16_t type;      // item type word
  uint8_t* record;    // record buffer
  int32_t kind;       // ItemValueKind, other values: raw bytes
  int32_t integer;
  double real;
  char text[4096];
} ItemValue;

// 0 single-byte character, 1 lead byte, 2 trail byte of a double-byte
// character at the index (code page 932, scanned from the start); 0 past the
// end; -1 for a null text.
ZEMTA_API int32_t ChkMbcType(const char* text, int32_t index);

// The third era of item types 14 and 31: its letter and the Gregorian year of
// its year 0. Starts as 'R', 2018. Returns the base year.
ZEMTA_API int32_t ItemSetEra(char letter, int32_t baseYear);
// Stores the value into the field: 1 changed, 0 unchanged, -1 on failure.
ZEMTA_API int32_t ItemSetData(ItemValue* value);
// Reads the field into the value (display text, integer, double or raw bytes).
ZEMTA_API int32_t ItemGetData(ItemValue* value);

// A form item as the item layer reads it: 32 16-bit words (the words the
// item layer uses are named below; the others belong to the form).
typedef struct ItemFormItem {
  uint16_t words[32];
} ItemFormItem;
enum ItemFormWord : int32_t {
  ITEM_WORD_WIDTH = 5,      // display width in bytes
  ITEM_WORD_LINES = 6,      // line count
  ITEM_WORD_FLAGS = 8,      // boundary marks 0x400 (word 14), 0x800 ... 0x8000 (words 15, 16, 19, 20, 21)
  ITEM_WORD_TYPE = 9,       // item type word
  ITEM_WORD_OFFSET = 10,    // record offset; bit 15: in the table header
  ITEM_WORD_SIZE = 11,      // field size
  ITEM_WORD_POSITION = 12,  // bit-field position word
  ITEM_WORD_STEP = 13,      // step between lines in the record data
  ITEM_WORD_PARAMETER = 14, // value offset, condition or reference offset, choice position
};

// One buffer of a record held in several segments.
typedef struct ItemSegment {
  uint16_t size;
  uint8_t* buffer;
} ItemSegment;

// What the form-item operations work on: the form's items and text, the
// record's segments (rows x columns, entry (row j, column i) at i + columns * j,
// walked column by column) and the table header.
typedef struct ItemForm {
  uint16_t itemCount;
  const ItemFormItem* items;
  uint16_t textLength;
  const char* text;
  uint16_t segmentRows;
  uint16_t segmentColumns;
  const ItemSegment* segments;
  uint16_t headerSize;
  uint8_t* header;
} ItemForm;

// Writes the display text of line n of the item, zero-terminated: 0, or -1.
ZEMTA_API int32_t ItemGetStr(const ItemForm* form, const ItemFormItem* item, int32_t line, char* buffer,
                             int32_t size);
// Puts a text into line n of the item (the reverse of ItemGetStr): 1 changed,
// 0 unchanged, -1 on failure.
ZEMTA_API int32_t ItemSetStr(const ItemForm* form, const ItemFormItem* item, int32_t line, const char* text);
// The segment that holds line n of the item and the line's offset inside it;
// null (no report) when there is none.
ZEMTA_API const ItemSegment* ItemGetSegment(uint16_t rows, uint16_t columns, const ItemSegment* segments,
                                            const ItemFormItem* item, int32_t line, int32_t* offset);
// Distance from a position of the form's text to the nearest item boundary
// beyond it (or to the text's end); -1 for a position outside the text.
ZEMTA_API int32_t ItemGetBreakLen(int32_t itemCount, const ItemFormItem* items, int32_t textLength,
                                  int32_t position);
// The address of a record byte held in the segments, with length bytes from
// it inside one segment; null, after a report, when there is none.
ZEMTA_API uint8_t* ItemGetDataPtr(const ItemForm* form, int32_t offset, int32_t length);
// The raw value of line n: the integer of the bit field (4 bytes), a double
// (8 bytes) or the field's bytes; the bytes written, or -1.
ZEMTA_API int32_t ItemGetValue(const ItemForm* form, const ItemFormItem* item, int32_t line, void* out,
                               int32_t size);
// Stores an integer (kind 4, int32_t), a double (kind 10) or raw bytes (other
// kinds, the field size) into line n in the field's own type: 1 changed,
// 0 unchanged, -1 out of range or on failure.
ZEMTA_API int32_t ItemSetValue(const ItemForm* form, const ItemFormItem* item, int32_t line, int32_t kind,
                               const void* value);

// ODBC type information rows: with a null row the row count (23); else fills
// the row (by SQL type when non-zero, else by index) and returns its SQL type.
typedef struct ItemTypeInfoRow {
  char typeName[32];
  int16_t sqlType;
  int32_t columnSize;
  char literalPrefix[4];
  char literalSuffix[4];
  char createParams[16];
  int16_t nullable;
  int16_t caseSensitive;
  int16_t searchable;
} ItemTypeInfoRow;
ZEMTA_API int32_t ItemGetTypeInfo(ItemTypeInfoRow* row, int32_t sqlType, int32_t index);
// The SQL type of a field (item type word, size, position word); the type
// name buffer takes 16 bytes. Returns the SQL type.
ZEMTA_API int32_t ItemConvSqlType(const ItemValue* field, int16_t* sqlType, char* typeName, int32_t* columnSize);

// Text form of a typed value; returns the bytes written with the zero, -1.
ZEMTA_API int32_t TypeDataToStr(char* buffer, int32_t size, uint32_t type, int32_t length, const void* value,
                                uint32_t format);
// Parses a text into a typed value of that length; direction < 0, 0, > 0 asks
// for the value just below, equal to or just above. The bytes written, or -1.
ZEMTA_API int32_t StrToTypeData(uint32_t type, int32_t length, void* out, const char* text, int32_t direction);
// The buffer size (zero included) TypeDataToStr needs; null value: for any
// value of that type and length. -1 when it cannot be printed.
ZEMTA_API int32_t GetTypeStrBufLen(uint32_t type, int32_t length, const void* value, uint32_t format);
ZEMTA_API int32_t TypeMaxData(uint32_t type, int32_t length, void* out);
ZEMTA_API int32_t TypeMinData(uint32_t type, int32_t length, void* out);
// To and from the 8-byte calculation value (a 64-bit integer or a double).
ZEMTA_API int32_t TypeDataToCalcData(void* calc, uint32_t type, int32_t length, const void* value);
ZEMTA_API int32_t CalcDataToTypeData(uint32_t type, int32_t length, void* out, const void* calc);
// Replaces the non-zero groups of the default format word; returns the previous one.
ZEMTA_API uint32_t SetTypeDefFmt(uint32_t format);

// Hiragana to katakana; the length written, -1 on bad arguments.
ZEMTA_API int32_t HiraToKata(char* out, int32_t size, const char* text);
// Full-width to half-width; the length written, -1 on bad arguments.
ZEMTA_API int32_t ZenToHan(char* out, int32_t size, const char* text);
// Whether an action code uses its value slot.
ZEMTA_API int32_t IsActionUseVal(int32_t slot, int32_t code);
