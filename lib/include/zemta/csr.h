// Cursor tables of the container store (tables built from column
// descriptors, table links, calculated columns and a search) and the
// library's CRC-32. Descriptor layouts are in lib/container/cursor/cursor.cpp.
#pragma once

#include "zemta/export.h"
#include "zemta/fileex.h"

#define CSR_COLUMN_SIZE 270
#define CSR_LINK_SIZE 16

ZEMTA_API void CsrInitCrcTable(void);
// The complement of the running value updated over the bytes.
ZEMTA_API uint32_t CsrCalcCrc32(const void* data, uint32_t length, uint32_t value);

ZEMTA_API int32_t CsrSetCol(void* column, const char* name, const char* second, uint16_t width, uint16_t type,
                            uint16_t third, uint16_t fourth, int32_t fifth);
ZEMTA_API int32_t CsrSetTblLink(void* link, uint16_t kind, uint16_t field, uint16_t index, uint32_t idLow, uint32_t idHigh);
ZEMTA_API int32_t CsrSetTblLinkByName(void* link, FileExDiskHandle disk, const char* tablePath, const char* fieldName,
                                      int32_t columnLength, void* column, const char* indexName);
// The growing builders take a count of 0 with any pointer (reset to none) and
// return the new count, or -1; their buffers are freed with free().
ZEMTA_API int32_t CsrSetColFldByName(int32_t count, uint16_t** fields, FileExDiskHandle disk, const char* tablePath,
                                     const char* fieldName);
ZEMTA_API int32_t CsrSetColLink(int32_t count, uint8_t** buffer, uint16_t value, int16_t level, uint16_t linkCount,
                                const void* links);
ZEMTA_API int32_t CsrSetColCalc(int32_t count, uint8_t** array, uint16_t a, uint8_t b, uint8_t c, uint16_t d, uint16_t e,
                                const uint64_t* operand);
ZEMTA_API int32_t CsrSetIdx(int32_t count, uint8_t** buffer, int32_t attributes, const char* name, const char* second,
                            uint16_t columnCount, const uint16_t* columns);
ZEMTA_API FileExHandle CsrCreate(FileExDiskHandle disk, const char* name, int32_t nameLength, FileExDiskHandle sourceDisk,
                                 int32_t columnCount, const void* columns, const void* links, const void* columnLinks,
                                 const uint16_t* numbers, FileExHandle search, uint32_t extraA, uint32_t extraB);
ZEMTA_API int32_t CsrSetIndex(FileExHandle table, int32_t count, const void* indexes, const uint16_t* numbers);
ZEMTA_API FileExHandle CsrCopyCreate(FileExDiskHandle disk, const char* name, int32_t nameLength, FileExDiskHandle sourceDisk,
                                     const char* sourcePath, int32_t sourceLength, FileExHandle search);
ZEMTA_API int32_t CsrDelete(FileExHandle table);
