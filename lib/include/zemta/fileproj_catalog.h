// A project's tables, columns and indexes in the shape of an SQL catalog, one
// fixed-size row per call.
//
// Each project table appears as up to two catalog tables: its header fields
// under the owner "bas" (addressed by its fdb id with bit 15 set) and its
// record fields under the owner "rec" (addressed by its plain fdb id). Catalog
// tables are numbered in the project's table order, a table's header-field
// table (when it has header fields) before its record table (when it has
// record fields). Record tables lead with the column "RecNo" (the record
// number) and the index "REC_NO" on it.
//
// Rows are little-endian; text fields are 32 bytes, zero-terminated (a longer
// text is cut without splitting a double-byte character); numbers are i32
// unless said.
//
// Table row (FILEPROJ_CATALOG_TABLE_ROW_LEN bytes):
//   0    32  qualifier (the project's data-folder text)
//   32   32  owner, "bas" or "rec"
//   64   32  table name
//   96   32  table type "TABLE"
//   128  4   remarks, -1
//
// Column row (FILEPROJ_CATALOG_COLUMN_ROW_LEN bytes):
//   0    32  qualifier
//   32   32  owner
//   64   32  table name
//   96   32  column name
//   128  4   SQL data type
//   132  32  type name
//   164  4   precision
//   168  4   length
//   172  4   scale
//   176  4   radix
//   180  4   nullable
//   184  4   remarks, -1
//
// Statistics row (FILEPROJ_CATALOG_STATISTICS_ROW_LEN bytes):
//   0    32  qualifier
//   32   32  owner
//   64   32  table name
//   96   4   non-unique flag
//   100  32  index qualifier (the table name)
//   132  32  index name
//   164  4   index type (1 the record number, 3 a field index)
//   168  4   position in the index, 1
//   172  32  column name
//   204  32  collation: u16 'A', then zeros
//   236  4   cardinality, 0
//   240  4   pages, 1
//   244  4   filter, -1
#pragma once

#include "zemta/export.h"
#include "zemta/fileproj.h"

#define FILEPROJ_CATALOG_TABLES 1
#define FILEPROJ_CATALOG_COLUMNS 2
#define FILEPROJ_CATALOG_STATISTICS 3

#define FILEPROJ_CATALOG_TABLE_ROW_LEN 132
#define FILEPROJ_CATALOG_COLUMN_ROW_LEN 188
#define FILEPROJ_CATALOG_STATISTICS_ROW_LEN 248

// Bit 15 of an fdb id: the table's header fields instead of its record fields.
#define FILEPROJ_CATALOG_HEADER_BIT 0x8000

// Kind 1: the number of catalog tables; kind 2: the columns of the table
// (record table: record fields + 1; header table: header fields); kind 3: its
// statistics rows (record table: its indexes + 1; header table: 0); kinds 4
// to 6: 0. A project without tables answers 0 for fdb id 0. The count, or -1.
ZEMTA_API int32_t FileProjGetCatalogNumber(FileProjHandle project, int32_t kind, int32_t fdbId);
// Fills row (of the kind's row length) with table row index (kind 1), column
// row index of the table (kind 2) or statistics row index of a record table
// (kind 3). 0, or -1.
ZEMTA_API int32_t FileProjGetCatalogData(FileProjHandle project, int32_t index, void* row, int32_t kind,
                                         int32_t fdbId);
