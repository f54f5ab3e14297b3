// CSV objects.
//
// A writer keeps the lines built so far as one zero-terminated text; its used
// length counts the zero. A reader keeps the data to parse in the same buffer
// (a copy of the caller's text, or a window over a file) with a parse
// position into it; its used length counts data bytes only.
//
// A file reader buffers the file in blocks of 4096 bytes: before each field it
// drops the whole blocks the position has passed and reads blocks until 12288
// bytes are buffered or the file is exhausted. A field that runs past what is
// buffered (only a field longer than the window can) makes the buffer grow by
// further blocks until the field ends, so no field is ever split in two.
//
// Reading a field: one that begins with a double quote runs to a single
// double quote (two stand for one) and keeps its spaces; whatever follows the
// closing quote up to the separator or line end is kept as it is. Any other
// field runs to the separator, a CR or an LF, without its leading and
// trailing spaces. A line ends in LF, CR, or CR LF. The second byte of a code
// page 932 double-byte character is never taken for a separator.
#include "zemta/csv.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>

#include "lib/core/report.h"
#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "zemta/errors.h"
#include "zemta/fileaccess.h"

struct CsvObject {
  uint64_t fileSize = 0;   // file reader: the file's size
  uint64_t bytesRead = 0;  // file reader: bytes of the file read into the buffer so far
  uint32_t callerWord = 0;
  ZemtaFileHandle file = 0;  // non-zero only for a file reader
  bool reader = false;       // a text or file reader (no writer operation applies)
  int32_t complete = 0;      // all input is in the buffer
  int32_t lineEnded = 1;     // writer: the next field starts a line; reader: the last field ended one
  uint32_t position = 0;     // reader: where the next field starts
  uint32_t used = 0;         // writer: text and its zero; reader: data bytes
  uint32_t capacity = 0;
  char* buffer = nullptr;
  char separator = ',';
};

namespace zemta {
namespace {

constexpr uint32_t kCsvBlock = 4096;
constexpr uint32_t kFileReaderFirstBuffer = 8192;
constexpr uint32_t kFileReaderWindow = 12288;
// Results are signed 32-bit lengths.
constexpr uint64_t kMaxUsed = INT32_MAX;

// Grows the buffer to the next multiple of 4096 bytes holding needed bytes.
bool reserve(CsvObject* csv, uint64_t needed) {
  if (needed <= csv->capacity) return true;
  if (needed > kMaxUsed) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return false;
  }
  const uint64_t capacity = (needed + kCsvBlock - 1) / kCsvBlock * kCsvBlock;
  auto* grown = static_cast<char*>(std::realloc(csv->buffer, capacity));
  if (!grown) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return false;
  }
  csv->buffer = grown;
  csv->capacity = static_cast<uint32_t>(capacity);
  return true;
}

void freeObject(CsvObject* csv) {
  std::free(csv->buffer);
  delete csv;
}

bool isWriter(const CsvObject* csv) { return csv && !csv->reader; }

bool isDoubleByteAt(const char* data, uint64_t length, uint64_t at) {
  return platform::cp932::isDoubleByteAt(std::string_view(data, length), at);
}

bool needsQuotes(const char* text, uint32_t length, char separator) {
  if (length == 0) return false;
  if (text[0] == ' ' || text[length - 1] == ' ') return true;
  for (uint32_t i = 0; i < length; ++i) {
    if (isDoubleByteAt(text, length, i)) {
      ++i;
      continue;
    }
    const char c = text[i];
    if (c == separator || c == '\r' || c == '\n' || c == '"') return true;
  }
  return false;
}

// Appends one field (quoted when asked and needed) and, with endOfLine, an LF.
int32_t appendField(CsvObject* csv, const char* text, uint32_t length, bool mayQuote, bool endOfLine) {
  const bool quote = mayQuote && needsQuotes(text, length, csv->separator);
  uint64_t fieldBytes = length;
  if (quote) fieldBytes += 2 + static_cast<uint64_t>(std::count(text, text + length, '"'));
  const uint64_t start = csv->used == 0 ? 0 : csv->used - 1;  // over the terminating zero
  const uint64_t end = start + (csv->lineEnded ? 0 : 1) + fieldBytes + (endOfLine ? 1 : 0);
  if (!reserve(csv, end + 1)) return -1;

  char* out = csv->buffer + start;
  if (!csv->lineEnded) *out++ = csv->separator;
  if (quote) {
    *out++ = '"';
    for (uint32_t i = 0; i < length; ++i) {
      if (text[i] == '"') *out++ = '"';
      *out++ = text[i];
    }
    *out++ = '"';
  } else if (length > 0) {
    std::memcpy(out, text, length);
    out += length;
  }
  if (endOfLine) *out++ = '\n';
  *out = '\0';
  csv->used = static_cast<uint32_t>(end + 1);
  csv->lineEnded = endOfLine ? 1 : 0;
  return static_cast<int32_t>(csv->used);
}

// One field scanned from the buffered data.
struct FieldScan {
  uint64_t length = 0;   // the field's bytes, unquoted and trimmed
  uint32_t next = 0;     // where the field after it starts
  int32_t result = 0;    // CSV_FIELD or CSV_LAST_FIELD
  bool needMore = false; // the buffered data ended before the field did
};

// Scans the field at csv->position, copying up to capacity of its bytes to
// out (when given).
FieldScan scanField(const CsvObject* csv, char* out, uint64_t capacity) {
  const char* data = csv->buffer;
  const uint64_t end = csv->used;
  const bool complete = csv->complete != 0;
  const char separator = csv->separator;
  FieldScan scan;
  uint64_t i = csv->position;
  uint64_t length = 0;
  auto emit = [&](char c) {
    if (out && length < capacity) out[length] = c;
    ++length;
  };
  // A lead byte as the last byte buffered: its partner is still in the file.
  auto leadAtEnd = [&](uint64_t at) {
    return !complete && at + 1 >= end && platform::cp932::isLeadByte(static_cast<uint8_t>(data[at]));
  };
  auto isEnd = [&](char c) { return c == separator || c == '\r' || c == '\n'; };

  if (i < end && data[i] == '"') {
    ++i;
    for (;;) {
      if (i >= end) {
        scan.needMore = !complete;  // an unclosed quote runs to the end of the data
        break;
      }
      if (data[i] == '"') {
        if (i + 1 >= end && !complete) {
          scan.needMore = true;
          break;
        }
        if (i + 1 < end && data[i + 1] == '"') {
          emit('"');
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      if (leadAtEnd(i)) {
        scan.needMore = true;
        break;
      }
      if (isDoubleByteAt(data, end, i)) emit(data[i++]);
      emit(data[i++]);
    }
    while (!scan.needMore && i < end && !isEnd(data[i])) {
      if (leadAtEnd(i)) {
        scan.needMore = true;
        break;
      }
      if (isDoubleByteAt(data, end, i)) emit(data[i++]);
      emit(data[i++]);
    }
  } else {
    if (separator != ' ')
      while (i < end && data[i] == ' ') ++i;
    uint64_t kept = 0;  // the length up to the last byte that is not a space
    while (i < end && !isEnd(data[i])) {
      if (leadAtEnd(i)) {
        scan.needMore = true;
        break;
      }
      if (isDoubleByteAt(data, end, i)) {
        emit(data[i++]);
        emit(data[i++]);
        kept = length;
        continue;
      }
      const char c = data[i++];
      emit(c);
      if (c != ' ') kept = length;
    }
    length = kept;
  }
  scan.length = length;
  if (scan.needMore) return scan;

  if (i >= end) {
    scan.needMore = !complete;
    scan.result = CSV_LAST_FIELD;
  } else if (data[i] == separator) {
    scan.result = CSV_FIELD;
    ++i;
  } else {
    scan.result = CSV_LAST_FIELD;
    if (data[i] == '\r') {
      if (i + 1 >= end && !complete) scan.needMore = true;
      if (i + 1 < end && data[i + 1] == '\n') ++i;
    }
    ++i;
  }
  scan.next = static_cast<uint32_t>(i);
  return scan;
}

// Reads the next block of the file (the last block is the rest of it) onto
// the end of the buffer.
bool readBlock(CsvObject* csv) {
  const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(kCsvBlock, csv->fileSize - csv->bytesRead));
  if (!reserve(csv, uint64_t{csv->used} + piece)) return false;
  uint32_t got = 0;
  if (!ZemtaReadFile(csv->file, csv->buffer + csv->used, piece, &got, 0, ZEMTA_FILE_CURRENT)) {
    ZEMTA_REPORT(platform::lastError());
    return false;
  }
  if (got != piece) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  csv->used += got;
  csv->bytesRead += got;
  csv->complete = csv->bytesRead >= csv->fileSize ? 1 : 0;
  return true;
}

// Drops the blocks the position has passed and fills the window.
bool fillWindow(CsvObject* csv) {
  if (csv->position >= kCsvBlock) {
    const uint32_t drop = csv->position / kCsvBlock * kCsvBlock;
    std::memmove(csv->buffer, csv->buffer + drop, csv->used - drop);
    csv->used -= drop;
    csv->position -= drop;
  }
  while (csv->used < kFileReaderWindow && !csv->complete)
    if (!readBlock(csv)) return false;
  return true;
}

}  // namespace
}  // namespace zemta

using zemta::appendField;

ZEMTA_API CsvHandle CsvCreate(const char* text, int32_t textLength, char separator, uint32_t callerWord) {
  auto* csv = new (std::nothrow) CsvObject;
  if (!csv) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  csv->callerWord = callerWord;
  csv->separator = separator;
  if (text) {
    const uint64_t length = textLength < 0 ? std::strlen(text) : static_cast<uint64_t>(textLength);
    csv->reader = true;
    csv->complete = 1;
    if (!zemta::reserve(csv, length + 1)) {
      zemta::freeObject(csv);
      return nullptr;
    }
    if (length > 0) std::memcpy(csv->buffer, text, length);
    csv->buffer[length] = '\0';
    csv->used = static_cast<uint32_t>(length);
  }
  return csv;
}

ZEMTA_API int32_t CsvDelete(CsvHandle csv) {
  if (!csv || csv->file != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  zemta::freeObject(csv);
  return 0;
}

ZEMTA_API int32_t CsvSetNextStr(CsvHandle writer, const char* text, int32_t textLength, int32_t endOfLine) {
  if (!zemta::isWriter(writer) || (!text && textLength > 0)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const uint64_t length = !text ? 0 : textLength < 0 ? std::strlen(text) : static_cast<uint64_t>(textLength);
  if (length > zemta::kMaxUsed) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return appendField(writer, text ? text : "", static_cast<uint32_t>(length), true, endOfLine != 0);
}

ZEMTA_API int32_t CsvSetNextInt64(CsvHandle writer, int64_t value, int32_t endOfLine) {
  if (!zemta::isWriter(writer)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  char digits[24];
  const auto printed = std::to_chars(digits, digits + sizeof digits, value);
  return appendField(writer, digits, static_cast<uint32_t>(printed.ptr - digits), false, endOfLine != 0);
}

ZEMTA_API int32_t CsvSetEol(CsvHandle writer) {
  if (!zemta::isWriter(writer) || writer->used == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!zemta::reserve(writer, uint64_t{writer->used} + 1)) return -1;
  writer->buffer[writer->used - 1] = '\n';
  writer->buffer[writer->used] = '\0';
  writer->used += 1;
  writer->lineEnded = 1;
  return static_cast<int32_t>(writer->used);
}

ZEMTA_API int32_t CsvGetStr(CsvHandle writer, char* buffer, int32_t bufferSize) {
  if (!zemta::isWriter(writer) || writer->used == 0 || !buffer || bufferSize <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  // Callers written to this call expect the writer emptied and as much as
  // fits copied, so that is kept; a text cut short is reported, not passed
  // off as whole.
  const uint32_t copied = std::min(static_cast<uint32_t>(bufferSize), writer->used);
  std::memcpy(buffer, writer->buffer, copied);
  buffer[copied - 1] = '\0';
  const bool cut = copied < writer->used;
  writer->used = 0;
  writer->lineEnded = 1;
  if (cut) ZEMTA_REPORT(ZEMTA_ERR_BAD_SIZE);
  return static_cast<int32_t>(copied);
}

ZEMTA_API CsvHandle OpenCsvFile(const char* path, char separator, uint32_t callerWord) {
  if (!path) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  const ZemtaFileHandle file =
      ZemtaCreateFile(path, ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ, ZEMTA_OPEN_EXISTING, ZEMTA_FILE_ATTRIBUTE_NORMAL);
  if (file == ZEMTA_INVALID_FILE) {
    ZEMTA_REPORT(platform::lastError());
    return nullptr;
  }
  const uint32_t size = ZemtaGetFileSize(file);
  if (size == 0xFFFFFFFFu) {
    const uint32_t code = platform::lastError();
    ZemtaCloseFile(file);
    ZEMTA_REPORT(code);
    return nullptr;
  }
  auto* csv = new (std::nothrow) CsvObject;
  if (!csv || !zemta::reserve(csv, zemta::kFileReaderFirstBuffer)) {
    if (!csv) ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    if (csv) zemta::freeObject(csv);
    ZemtaCloseFile(file);
    return nullptr;
  }
  csv->callerWord = callerWord;
  csv->separator = separator;
  csv->reader = true;
  csv->file = file;
  csv->fileSize = size;
  csv->complete = size == 0 ? 1 : 0;
  return csv;
}

ZEMTA_API int32_t CloseCsvFile(CsvHandle reader) {
  if (!reader || reader->file == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const ZemtaFileHandle file = reader->file;
  zemta::freeObject(reader);
  if (!ZemtaCloseFile(file)) {
    ZEMTA_REPORT(platform::lastError());
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t CsvGetNextStr(CsvHandle reader, char* buffer, int32_t bufferSize, uint32_t* neededSize) {
  if (!reader || !reader->reader || (buffer && bufferSize < 1)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (reader->file != 0 && !zemta::fillWindow(reader)) return -1;

  zemta::FieldScan scan;
  for (;;) {
    if (reader->position >= reader->used && reader->complete) {
      // Nothing left: after a separator at the very end one empty field is
      // still due; after a line end, no more data.
      if (buffer) buffer[0] = '\0';
      if (reader->lineEnded) {
        if (neededSize) *neededSize = 0;
        return CSV_NO_MORE_DATA;
      }
      if (neededSize) *neededSize = 1;
      if (buffer) reader->lineEnded = 1;
      return CSV_LAST_FIELD;
    }
    scan = zemta::scanField(reader, buffer, buffer ? static_cast<uint64_t>(bufferSize - 1) : 0);
    if (!scan.needMore) break;
    if (!zemta::readBlock(reader)) return -1;
  }
  if (neededSize) *neededSize = static_cast<uint32_t>(std::min<uint64_t>(scan.length + 1, UINT32_MAX));
  if (buffer) {
    buffer[std::min<uint64_t>(scan.length, static_cast<uint64_t>(bufferSize - 1))] = '\0';
    reader->position = scan.next;
    reader->lineEnded = scan.result == CSV_LAST_FIELD ? 1 : 0;
  }
  return scan.result;
}
