// CSV lines and whole text files.
//
// A CSV object is one of three kinds: a writer that builds CSV lines in
// memory (CsvCreate without a text), a reader over a copy of one text
// (CsvCreate with a text), or a reader that streams a file (OpenCsvFile).
// Lines are written ending in LF alone; readers take LF, CR or CR LF.
//
// Text files are read whole into a growable memory block (zemta/memory.h) and
// written back whole from one; their lines are read and searched with the
// memory block's string calls.
#pragma once

#include "zemta/export.h"
#include "zemta/memory.h"

typedef struct CsvObject* CsvHandle;

// Results of CsvGetNextStr.
#define CSV_NO_MORE_DATA 0
#define CSV_FIELD 1         // a field with more fields after it on its line
#define CSV_LAST_FIELD 2    // the last field of a line

// text null: an empty writer. Otherwise a reader over a copy of text
// (textLength -1: up to its zero). callerWord is kept with the object for the
// caller. Null when out of memory (0x20001001).
ZEMTA_API CsvHandle CsvCreate(const char* text, int32_t textLength, char separator, uint32_t callerWord);
// Frees a writer or a text reader: 0; -1 (0x20000085) for null or a file reader.
ZEMTA_API int32_t CsvDelete(CsvHandle csv);

// Appends one field (textLength -1: up to its zero), quoted when it begins or
// ends with a space or holds the separator, a CR, an LF or a double quote;
// endOfLine non-zero ends the line after it. The used length (text and its
// terminating zero), or -1.
ZEMTA_API int32_t CsvSetNextStr(CsvHandle writer, const char* text, int32_t textLength, int32_t endOfLine);
// Appends a number as "%lld", never quoted. The used length, or -1.
ZEMTA_API int32_t CsvSetNextInt64(CsvHandle writer, int64_t value, int32_t endOfLine);
// Ends the current line. The used length, or -1 (0x20000085) for an empty writer.
ZEMTA_API int32_t CsvSetEol(CsvHandle writer);
// Copies min(bufferSize, used length) bytes of the text into buffer, puts a
// zero in the last byte copied, and empties the writer; returns the bytes
// copied. A text that does not fit is cut (its last byte copied becomes the
// zero) and reported (0x20000081); the writer is emptied all the same, so
// callers size the buffer for their longest line and take a result equal to
// bufferSize as a line that may have been cut.
// An empty writer, a null buffer or a bufferSize of 0 or less gives -1
// (0x20000085).
ZEMTA_API int32_t CsvGetStr(CsvHandle writer, char* buffer, int32_t bufferSize);

// A reader of a file (opened for reading, sharing reading, existing only), or
// null with the error reported.
ZEMTA_API CsvHandle OpenCsvFile(const char* path, char separator, uint32_t callerWord);
// Closes a file reader and frees it: 0, or -1.
ZEMTA_API int32_t CloseCsvFile(CsvHandle reader);
// Reads the next field into buffer (at most bufferSize - 1 bytes and a zero;
// the rest of a longer field is skipped) and gives its length + 1 through
// neededSize (may be null). With a null buffer the field is only measured and
// the next call reads it again. CSV_FIELD, CSV_LAST_FIELD, CSV_NO_MORE_DATA,
// or -1.
ZEMTA_API int32_t CsvGetNextStr(CsvHandle reader, char* buffer, int32_t bufferSize, uint32_t* neededSize);

// The whole file in a new growable memory block, positioned at 0; null on
// failure. The open waits while another process holds the file (showing
// waitName, owned by ownerWindow); error, when given, receives the open's
// failure code, and the open's failures are then not reported.
ZEMTA_API MemoryBlockHandle OpenTextFile(const char* path, const char* waitName, void* ownerWindow,
                                         uint32_t* error);
// Writes the block's whole contents to path (created or truncated; with
// append non-zero, added to its end) and frees the block. A null path only
// frees the block. 0, or -1 (the block is freed either way).
ZEMTA_API int32_t CloseTextFile(MemoryBlockHandle block, const char* path, int32_t append, const char* waitName,
                                void* ownerWindow);
