// Memory blocks. A byte offset lies in chunk offset / chunk size at offset mod
// chunk size; a fixed block is one chunk, the caller's buffer, so the same
// addressing serves both modes. Chunks are zero-filled when allocated, never
// moved, added only at the end and freed only from the end.
//
// Invariants of a growable block: the chunks cover the length, and every byte
// from the length to the end of the last chunk is zero, so a write past the
// end finds the gap already zero.
#include "lib/core/memory_block.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include "lib/core/report.h"
#include "zemta/scan.h"

namespace zemta {
namespace {

constexpr uint64_t kMaxResult = INT32_MAX;

// The most bytes a growable block holds: 4096 chunks, and no more than a
// position the signed 32-bit results can tell.
uint64_t capacity(const MemoryBlock* block) {
  return std::min<uint64_t>(uint64_t{kMemoryMaxChunks} * block->chunkSize, kMaxResult);
}

// Where the data ends: the length, or in fixed mode the end of the buffer.
uint64_t dataEnd(const MemoryBlock* block) {
  return block->growable ? block->length : block->chunkSize;
}

bool ensureChunks(MemoryBlock* block, uint64_t needed) {
  assert(needed <= kMemoryMaxChunks);
  while (block->chunkCount < needed) {
    auto* chunk = static_cast<uint8_t*>(std::calloc(block->chunkSize, 1));
    if (!chunk) {
      ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
      return false;
    }
    block->chunks[block->chunkCount++] = chunk;
  }
  return true;
}

uint64_t chunksFor(const MemoryBlock* block, uint64_t bytes) {
  return (bytes + block->chunkSize - 1) / block->chunkSize;
}

void copyOut(const MemoryBlock* block, uint64_t at, uint8_t* destination, uint64_t count) {
  while (count > 0) {
    const uint64_t offset = at % block->chunkSize;
    const uint64_t piece = std::min(count, block->chunkSize - offset);
    std::memcpy(destination, block->chunks[at / block->chunkSize] + offset, piece);
    destination += piece;
    at += piece;
    count -= piece;
  }
}

void copyIn(MemoryBlock* block, uint64_t at, const uint8_t* source, uint64_t count) {
  while (count > 0) {
    const uint64_t offset = at % block->chunkSize;
    const uint64_t piece = std::min(count, block->chunkSize - offset);
    std::memcpy(block->chunks[at / block->chunkSize] + offset, source, piece);
    source += piece;
    at += piece;
    count -= piece;
  }
}

void zeroBytes(MemoryBlock* block, uint64_t at, uint64_t count) {
  while (count > 0) {
    const uint64_t offset = at % block->chunkSize;
    const uint64_t piece = std::min(count, block->chunkSize - offset);
    std::memset(block->chunks[at / block->chunkSize] + offset, 0, piece);
    at += piece;
    count -= piece;
  }
}

// Moves count bytes from one offset to another, piece by piece within chunks;
// upwards from the end backwards, so overlapping ranges are safe.
void moveBytes(MemoryBlock* block, uint64_t from, uint64_t to, uint64_t count) {
  const uint64_t size = block->chunkSize;
  if (to > from) {
    uint64_t sourceEnd = from + count;
    uint64_t targetEnd = to + count;
    while (count > 0) {
      const uint64_t sourceRoom = (sourceEnd - 1) % size + 1;
      const uint64_t targetRoom = (targetEnd - 1) % size + 1;
      const uint64_t piece = std::min({count, sourceRoom, targetRoom});
      sourceEnd -= piece;
      targetEnd -= piece;
      std::memmove(block->chunks[targetEnd / size] + targetEnd % size,
                   block->chunks[sourceEnd / size] + sourceEnd % size, piece);
      count -= piece;
    }
  } else if (to < from) {
    while (count > 0) {
      const uint64_t piece = std::min({count, size - from % size, size - to % size});
      std::memmove(block->chunks[to / size] + to % size, block->chunks[from / size] + from % size,
                   piece);
      from += piece;
      to += piece;
      count -= piece;
    }
  }
}

// A fixed block's position past the end of the caller's buffer reaches
// nothing the block may touch.
bool fixedPositionOutside(const MemoryBlock* block) {
  if (block->growable || block->position <= block->chunkSize) return false;
  ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return true;
}

int32_t writeGrowable(MemoryBlock* block, const uint8_t* source, uint32_t count) {
  const uint64_t limit = capacity(block);
  uint32_t done = 0;
  while (done < count) {
    const uint64_t position = block->position;
    if (position >= limit) return -1;
    const uint64_t chunk = position / block->chunkSize;
    const uint64_t offset = position % block->chunkSize;
    if (!ensureChunks(block, chunk + 1)) return -1;
    const uint64_t piece =
        std::min({uint64_t{count - done}, block->chunkSize - offset, limit - position});
    std::memcpy(block->chunks[chunk] + offset, source + done, piece);
    done += static_cast<uint32_t>(piece);
    block->position = static_cast<uint32_t>(position + piece);
    if (block->position > block->length) block->length = block->position;
  }
  return static_cast<int32_t>(count);
}

// One CR LF terminated line from the position; lineStart receives where the
// line began (after the empty lines that were stepped over).
int32_t readLine(MemoryBlock* block, char* destination, uint32_t size, uint32_t* lineStart) {
  if (size == 0) return 0;
  destination[0] = '\0';
  if (fixedPositionOutside(block)) return 0;
  const uint64_t take = std::min<uint64_t>(size - 1, kMaxResult);
  if (take == 0) return 0;
  const uint64_t end = dataEnd(block);
  for (;;) {
    const uint64_t position = block->position;
    if (position >= end) {
      destination[0] = '\0';  // the skipped empty lines may have been copied here
      return 0;
    }
    const uint64_t available = end - position;
    const auto count = static_cast<int32_t>(std::min(available, take));
    copyOut(block, position, reinterpret_cast<uint8_t*>(destination), count);
    int32_t length = FindData(count, destination, 2, "\r\n", 0, 0);
    bool lineEnd = length >= 0;
    if (!lineEnd) {
      length = count;
      // The CR may be the last byte taken and its LF the next one.
      if (destination[count - 1] == '\r' && available > static_cast<uint64_t>(count)) {
        uint8_t next = 0;
        copyOut(block, position + count, &next, 1);
        if (next == '\n') {
          lineEnd = true;
          length = count - 1;
        }
      }
    }
    if (lineEnd && length == 0) {
      block->position = static_cast<uint32_t>(position + 2);
      continue;
    }
    block->position = static_cast<uint32_t>(position + length + (lineEnd ? 2 : 0));
    if (lineStart) *lineStart = static_cast<uint32_t>(position);
    if (destination[length - 1] == '\x1A') --length;  // the end-of-file mark
    destination[length] = '\0';
    return length;
  }
}

}  // namespace
}  // namespace zemta

using zemta::fixedPositionOutside;

ZEMTA_API MemoryBlockHandle CreateMemory(void* buffer, uint32_t bufferLength, uint32_t chunkSize) {
  if ((buffer && bufferLength == 0) || chunkSize == 0) return nullptr;
  auto* block = new (std::nothrow) MemoryBlock{};
  if (!block) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  if (buffer) {
    block->growable = 0;
    block->chunkSize = bufferLength;
    block->chunkCount = 1;
    block->chunks[0] = static_cast<uint8_t*>(buffer);
  } else {
    block->growable = 1;
    block->chunkSize = chunkSize;
  }
  return block;
}

ZEMTA_API void DeleteMemory(MemoryBlockHandle block) {
  if (!block) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return;
  }
  if (block->growable)
    for (uint32_t i = 0; i < block->chunkCount; ++i) std::free(block->chunks[i]);
  delete block;
}

ZEMTA_API int32_t SeekMemory(MemoryBlockHandle block, int32_t offset, int32_t origin) {
  if (!block) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const auto distance = static_cast<uint32_t>(offset);
  switch (origin) {
    case MEMORY_SEEK_BEGIN: block->position = distance; break;
    case MEMORY_SEEK_CURRENT: block->position += distance; break;
    case MEMORY_SEEK_END: block->position = block->length + distance; break;
    default: return -1;
  }
  return static_cast<int32_t>(block->position);
}

ZEMTA_API int32_t ReadDataMemory(MemoryBlockHandle block, void* destination, uint32_t count) {
  if (!block || (!destination && count > 0)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  if (fixedPositionOutside(block)) return 0;
  const uint64_t end = zemta::dataEnd(block);
  if (block->position >= end) return 0;
  const uint64_t piece = std::min({uint64_t{count}, end - block->position, zemta::kMaxResult});
  zemta::copyOut(block, block->position, static_cast<uint8_t*>(destination), piece);
  block->position += static_cast<uint32_t>(piece);
  return static_cast<int32_t>(piece);
}

ZEMTA_API int32_t WriteDataMemory(MemoryBlockHandle block, const void* source, uint32_t count) {
  if (!block || (!source && count > 0)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (count == 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(source);
  if (block->growable) return zemta::writeGrowable(block, bytes, count);
  if (fixedPositionOutside(block)) return -1;
  // A fixed block keeps no length: a short write at the buffer's end is fine.
  const uint64_t piece =
      std::min({uint64_t{count}, uint64_t{block->chunkSize - block->position}, zemta::kMaxResult});
  zemta::copyIn(block, block->position, bytes, piece);
  block->position += static_cast<uint32_t>(piece);
  return static_cast<int32_t>(piece);
}

ZEMTA_API int32_t InsertDataMemory(MemoryBlockHandle block, const void* source, uint32_t count) {
  if (!block || (!source && count > 0)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (!block->growable) return -1;
  if (count == 0 || block->position >= block->length) return WriteDataMemory(block, source, count);
  const uint64_t newLength = uint64_t{block->length} + count;
  if (newLength > zemta::capacity(block)) return -1;
  if (!zemta::ensureChunks(block, zemta::chunksFor(block, newLength))) return -1;
  zemta::moveBytes(block, block->position, block->position + uint64_t{count},
                   block->length - block->position);
  block->length = static_cast<uint32_t>(newLength);
  return zemta::writeGrowable(block, static_cast<const uint8_t*>(source), count);
}

ZEMTA_API int32_t DeleteDataMemory(MemoryBlockHandle block, uint32_t count) {
  if (!block) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (!block->growable || block->position > block->length) return -1;
  const uint64_t position = block->position;
  const uint64_t oldLength = block->length;
  uint64_t removed;
  if (position + count < oldLength) {
    zemta::moveBytes(block, position + count, position, oldLength - position - count);
    removed = count;
  } else {
    removed = oldLength - position;
  }
  const uint64_t newLength = oldLength - removed;
  // What was behind the new end must read as zero again when a later write
  // past the end leaves a gap.
  zemta::zeroBytes(block, newLength, removed);
  block->length = static_cast<uint32_t>(newLength);
  for (uint64_t freed = removed / block->chunkSize; freed > 0 && block->chunkCount > 0; --freed)
    std::free(block->chunks[--block->chunkCount]), block->chunks[block->chunkCount] = nullptr;
  assert(block->chunkCount >= zemta::chunksFor(block, block->length));
  return static_cast<int32_t>(removed);
}

ZEMTA_API int32_t ReadStringMemory(MemoryBlockHandle block, char* destination, uint32_t size) {
  if (!block || (!destination && size > 0)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  return zemta::readLine(block, destination, size, nullptr);
}

ZEMTA_API int32_t WriteStringMemory(MemoryBlockHandle block, const char* text) {
  if (!text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return WriteDataMemory(block, text, static_cast<uint32_t>(std::strlen(text)));
}

ZEMTA_API int32_t InsertStringMemory(MemoryBlockHandle block, const char* text) {
  if (!text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return InsertDataMemory(block, text, static_cast<uint32_t>(std::strlen(text)));
}

ZEMTA_API int32_t SearchStringMemory(MemoryBlockHandle block, const char* text) {
  if (!block || !text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const auto patternLength = static_cast<int32_t>(std::strlen(text));
  char line[4096];
  for (;;) {
    uint32_t start = 0;
    const int32_t length = zemta::readLine(block, line, sizeof line, &start);
    if (length <= 0) return -1;
    const int32_t at = FindData(length, line, patternLength, text, 0, 0);
    if (at >= 0) {
      block->position = start;
      return static_cast<int32_t>(start) + at;
    }
  }
}
