// Whole text files in memory blocks: read in at once, written back at once,
// both in pieces of 4096 bytes through the file-access layer (so a file under
// a registered folder may lie on the remote file server).
#include <algorithm>
#include <cstdint>

#include "lib/core/memory_block.h"
#include "lib/core/report.h"
#include "platform/base/last_error.h"
#include "zemta/csv.h"
#include "zemta/errors.h"
#include "zemta/fileaccess.h"

namespace zemta {
namespace {

constexpr uint32_t kTextPiece = 4096;
// The access hint that the file is read from start to end.
constexpr uint32_t kSequentialScan = 0x08000000u;

// Closes a file whose failure is already reported.
void closeQuietly(ZemtaFileHandle file) {
  const uint32_t code = platform::lastError();
  ZemtaCloseFile(file);
  platform::setLastError(code);
}

// Reads size bytes of the open file into block; false with the failure reported.
bool readWhole(ZemtaFileHandle file, uint32_t size, MemoryBlockHandle block) {
  char piece[kTextPiece];
  uint32_t remaining = size;
  while (remaining > 0) {
    const uint32_t want = std::min(remaining, kTextPiece);
    uint32_t got = 0;
    if (!ZemtaReadFile(file, piece, want, &got, 0, ZEMTA_FILE_CURRENT)) {
      ZEMTA_REPORT(platform::lastError());
      return false;
    }
    if (got != want) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      return false;
    }
    if (WriteDataMemory(block, piece, got) != static_cast<int32_t>(got)) return false;
    remaining -= got;
  }
  return true;
}

// Writes the block's whole contents from its start; false with the failure reported.
bool writeWhole(ZemtaFileHandle file, MemoryBlockHandle block) {
  const int32_t length = SeekMemory(block, 0, MEMORY_SEEK_END);
  if (length < 0 || SeekMemory(block, 0, MEMORY_SEEK_BEGIN) != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return false;
  }
  char piece[kTextPiece];
  uint32_t remaining = static_cast<uint32_t>(length);
  while (remaining > 0) {
    const uint32_t want = std::min(remaining, kTextPiece);
    const int32_t got = ReadDataMemory(block, piece, want);
    if (got != static_cast<int32_t>(want)) {
      ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
      return false;
    }
    uint32_t written = 0;
    if (!ZemtaWriteFile(file, piece, want, &written, 0, ZEMTA_FILE_CURRENT)) {
      ZEMTA_REPORT(platform::lastError());
      return false;
    }
    if (written != want) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      return false;
    }
    remaining -= want;
  }
  return true;
}

}  // namespace
}  // namespace zemta

ZEMTA_API MemoryBlockHandle OpenTextFile(const char* path, const char* waitName, void* ownerWindow,
                                         uint32_t* error) {
  if (!path) {
    if (error) *error = ZEMTA_ERR_BAD_PARAMETER;
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return nullptr;
  }
  const ZemtaFileHandle file =
      ZemtaOpenFileWait(path, ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ, ZEMTA_OPEN_EXISTING,
                        zemta::kSequentialScan, waitName, ownerWindow, error, 0);
  if (file == 0) return nullptr;

  const uint32_t size = ZemtaGetFileSize(file);
  if (size == 0xFFFFFFFFu) {
    ZEMTA_REPORT(platform::lastError());
    zemta::closeQuietly(file);
    return nullptr;
  }
  // A growable block holds at most 4096 chunks of 4096 bytes.
  if (uint64_t{size} > uint64_t{zemta::kMemoryMaxChunks} * zemta::kTextPiece) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    zemta::closeQuietly(file);
    return nullptr;
  }
  MemoryBlockHandle block = CreateMemory(nullptr, 0, zemta::kTextPiece);
  if (!block) {
    zemta::closeQuietly(file);
    return nullptr;
  }
  if (!zemta::readWhole(file, size, block)) {
    DeleteMemory(block);
    zemta::closeQuietly(file);
    return nullptr;
  }
  ZemtaCloseFile(file);
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  return block;
}

ZEMTA_API int32_t CloseTextFile(MemoryBlockHandle block, const char* path, int32_t append, const char* waitName,
                                void* ownerWindow) {
  if (!block) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!path) {
    DeleteMemory(block);
    return 0;
  }
  const ZemtaFileHandle file =
      ZemtaOpenFileWait(path, ZEMTA_GENERIC_WRITE, 0, append ? ZEMTA_OPEN_ALWAYS : ZEMTA_CREATE_ALWAYS,
                        ZEMTA_FILE_ATTRIBUTE_NORMAL, waitName, ownerWindow, nullptr, 0);
  if (file == 0) {
    DeleteMemory(block);
    return -1;
  }
  bool written = true;
  if (append && ZemtaSetFilePointer(file, 0, ZEMTA_FILE_END) == 0xFFFFFFFFu) {
    ZEMTA_REPORT(platform::lastError());
    written = false;
  }
  written = written && zemta::writeWhole(file, block);
  DeleteMemory(block);
  if (!written) {
    zemta::closeQuietly(file);
    return -1;
  }
  if (!ZemtaCloseFile(file)) {
    ZEMTA_REPORT(platform::lastError());
    return -1;
  }
  return 0;
}
