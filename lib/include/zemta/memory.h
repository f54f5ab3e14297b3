// Memory blocks: a byte stream in memory with a length and a current position.
//
// A block either grows in chunks of its own (growable mode: CreateMemory
// without a buffer; at most 4096 chunks) or wraps one buffer that the caller
// owns (fixed mode: CreateMemory with a buffer; the block never frees it and
// never reaches outside it; its data runs to the end of the buffer). The
// handle is the block itself.
#pragma once

#include "zemta/export.h"

typedef struct MemoryBlock* MemoryBlockHandle;

// Origins of SeekMemory.
#define MEMORY_SEEK_BEGIN 1
#define MEMORY_SEEK_CURRENT 2
#define MEMORY_SEEK_END 3

// buffer null: growable with chunks of chunkSize bytes; otherwise fixed over
// buffer[0..bufferLength). Null when refused or out of memory.
ZEMTA_API MemoryBlockHandle CreateMemory(void* buffer, uint32_t bufferLength, uint32_t chunkSize);
ZEMTA_API void DeleteMemory(MemoryBlockHandle block);
// The new position, or -1 for an unknown origin. The position may lie past the
// end: a later write fills the gap with zero bytes.
ZEMTA_API int32_t SeekMemory(MemoryBlockHandle block, int32_t offset, int32_t origin);
// Bytes read (0 for a null handle).
ZEMTA_API int32_t ReadDataMemory(MemoryBlockHandle block, void* destination, uint32_t count);
// Bytes written, or -1.
ZEMTA_API int32_t WriteDataMemory(MemoryBlockHandle block, const void* source, uint32_t count);
// As WriteDataMemory, moving what follows the position up; -1 in fixed mode.
ZEMTA_API int32_t InsertDataMemory(MemoryBlockHandle block, const void* source, uint32_t count);
// Bytes removed at the position, or -1.
ZEMTA_API int32_t DeleteDataMemory(MemoryBlockHandle block, uint32_t count);
// Reads one CR LF terminated line (at most size - 1 bytes, zero-terminated,
// empty lines skipped); its length, 0 at the end of the data.
ZEMTA_API int32_t ReadStringMemory(MemoryBlockHandle block, char* destination, uint32_t size);
ZEMTA_API int32_t WriteStringMemory(MemoryBlockHandle block, const char* text);
ZEMTA_API int32_t InsertStringMemory(MemoryBlockHandle block, const char* text);
// From the position, the byte position of the first line holding text (the
// position is set to that line's start), or -1 with the position at the end.
ZEMTA_API int32_t SearchStringMemory(MemoryBlockHandle block, const char* text);
