// A project's tables, columns and indexes as SQL catalog rows. The row
// layouts are described in zemta/fileproj_catalog.h; every fixed-width field
// is written here through the little-endian helpers.
#include "zemta/fileproj_catalog.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "lib/core/library_locks.h"
#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "zemta/errors.h"

namespace zemta::fileproj {
namespace {

constexpr size_t kText = 32;

// Row offsets shared by the three row kinds.
constexpr size_t kRowQualifier = 0, kRowOwner = 32, kRowTable = 64;
// Table row.
constexpr size_t kTableRowType = 96, kTableRowRemarks = 128;
// Column row.
constexpr size_t kColName = 96, kColDataType = 128, kColTypeName = 132, kColPrecision = 164, kColLength = 168,
                 kColScale = 172, kColRadix = 176, kColNullable = 180, kColRemarks = 184;
// Statistics row.
constexpr size_t kStatNonUnique = 96, kStatIndexQualifier = 100, kStatIndexName = 132, kStatIndexType = 164,
                 kStatPosition = 168, kStatColumn = 172, kStatCollation = 204, kStatCardinality = 236,
                 kStatPages = 240, kStatFilter = 244;

// Kind and key-rule bits of a field descriptor.
constexpr uint32_t kRuleUnique = 0x80000000u, kRuleEmptyExempt = 0x20000000u, kRuleConfirmDuplicate = 0x40000000u;

// A text field: at most 31 bytes and its zero, never half a double-byte
// character; the rest of the field zero.
void putText(uint8_t* row, size_t at, const std::string& text) {
  const std::string cut = cutName(text, kText - 1);
  std::memset(row + at, 0, kText);
  std::memcpy(row + at, cut.data(), cut.size());
}

// One catalog table: a project table's header fields or its record fields.
struct CatalogTable {
  const TableEntry* entry = nullptr;
  bool header = false;
  const std::vector<Field>& fields() const { return header ? entry->headerFields : entry->fields; }
  const char* owner() const { return header ? "bas" : "rec"; }
};

std::vector<CatalogTable> catalogTables(const Project& p) {
  std::vector<CatalogTable> out;
  for (const auto& e : p.tables) {
    if (!e.headerFields.empty()) out.push_back({&e, true});
    if (!e.fields.empty()) out.push_back({&e, false});
  }
  return out;
}

// The catalog table an fdb id addresses (bit 15: the header fields); false
// when no project table has that id.
bool addressed(const Project& p, int32_t fdbId, CatalogTable& out) {
  const bool header = (fdbId & FILEPROJ_CATALOG_HEADER_BIT) != 0;
  const int32_t id = fdbId & ~FILEPROJ_CATALOG_HEADER_BIT;
  for (const auto& e : p.tables)
    if (e.fdbId() == id) {
      out = {&e, header};
      return true;
    }
  return false;
}

// The table's index count as the statistics rows list them.
size_t indexCount(const TableEntry& e) {
  const filedb::Table* t = filedb::findTable(e.table);
  return t ? t->indexes.size() : 0;
}

void putCommon(uint8_t* row, const Project& p, const CatalogTable& c) {
  putText(row, kRowQualifier, p.dataFolder());
  putText(row, kRowOwner, c.owner());
  putText(row, kRowTable, c.entry->name());
}

struct SqlColumn {
  int32_t dataType;
  const char* typeName;
  int32_t precision, length, scale, radix, nullable;
};

SqlColumn sqlColumn(const Field& f) {
  const uint32_t t = f.typeCode();
  const int32_t s = f.size();
  const uint32_t w = f.fieldWord();
  const int32_t decimals = (f.typeWord() >> 8) & 0x1F;
  if (t <= 1) return {1, "CHAR", std::min(s, 255), s, 255, 255, 0};
  if (t >= 8 && t <= 13) return s > 4 ? SqlColumn{8, "DOUBLE", 15, s, decimals, 10, 0}
                                      : SqlColumn{7, "REAL", 7, s, decimals, 10, 0};
  if (t == 14 || t == 15) return {11, "TIMESTAMP", 19, s, 0, 255, t == 14 ? 1 : 0};
  if ((w >> 8) == 1) return {-7, "BIT", 1, 1, 0, 255, 0};
  if (s < 2 || (w >= 256 && w < 2304)) return {-6, "TINYINT", 3, s, 0, 10, 0};
  if (s < 3 || (w >= 256 && w < 4352)) return {5, "SMALLINT", 5, s, 0, 10, 0};
  if (s > 4) return {-5, "BIGINT", 19, s, 0, 10, 0};
  return {4, "INTEGER", 10, s, 0, 10, 0};
}

void putColumn(uint8_t* row, const std::string& name, const SqlColumn& c) {
  putText(row, kColName, name);
  put_i32le(row + kColDataType, c.dataType);
  putText(row, kColTypeName, c.typeName);
  put_i32le(row + kColPrecision, c.precision);
  put_i32le(row + kColLength, c.length);
  put_i32le(row + kColScale, c.scale);
  put_i32le(row + kColRadix, c.radix);
  put_i32le(row + kColNullable, c.nullable);
  put_i32le(row + kColRemarks, -1);
}

void putStatistics(uint8_t* row, const CatalogTable& c, int32_t nonUnique, const std::string& indexName,
                   int32_t indexType, const std::string& column) {
  put_i32le(row + kStatNonUnique, nonUnique);
  putText(row, kStatIndexQualifier, c.entry->name());
  putText(row, kStatIndexName, indexName);
  put_i32le(row + kStatIndexType, indexType);
  put_i32le(row + kStatPosition, 1);
  putText(row, kStatColumn, column);
  std::memset(row + kStatCollation, 0, kText);
  put_u16le(row + kStatCollation, 'A');
  put_i32le(row + kStatCardinality, 0);
  put_i32le(row + kStatPages, 1);
  put_i32le(row + kStatFilter, -1);
}

// The field a simple index is built on: same key offset, same bit position.
const Field* indexField(const TableEntry& e, size_t index) {
  const filedb::Table* t = filedb::findTable(e.table);
  if (!t || index >= t->indexes.size()) return nullptr;
  const filedb::IndexEntry& ie = t->indexes[index];
  for (const auto& f : e.fields)
    if (static_cast<int32_t>(f.offset()) == ie.keyDesc && (f.fieldWord() & 0xFF) == (ie.fieldWord & 0xFF)) return &f;
  return nullptr;
}

int32_t fail(uint32_t code) {
  ZEMTA_REPORT(code);
  return -1;
}

}  // namespace
}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

ZEMTA_API int32_t FileProjGetCatalogNumber(FileProjHandle project, int32_t kind, int32_t fdbId) {
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  if (FileProjCheckHandle(project) < 0) return -1;
  const Project& p = *findProject(project);
  if (p.tables.empty()) return fdbId == 0 ? 0 : fail(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
  switch (kind) {
    case FILEPROJ_CATALOG_TABLES:
      return static_cast<int32_t>(catalogTables(p).size());
    case FILEPROJ_CATALOG_COLUMNS:
    case FILEPROJ_CATALOG_STATISTICS: {
      CatalogTable c;
      if (!addressed(p, fdbId, c)) return fail(ZEMTA_ERR_BAD_PARAMETER);
      if (kind == FILEPROJ_CATALOG_COLUMNS)
        return static_cast<int32_t>(c.header ? c.fields().size() : c.fields().size() + 1);
      return c.header ? 0 : static_cast<int32_t>(indexCount(*c.entry) + 1);
    }
    case 4:
    case 5:
    case 6:
      return 0;
  }
  return fail(ZEMTA_ERR_BAD_PARAMETER);
}

ZEMTA_API int32_t FileProjGetCatalogData(FileProjHandle project, int32_t index, void* rowBuffer, int32_t kind,
                                         int32_t fdbId) {
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  if (FileProjCheckHandle(project) < 0) return -1;
  const Project& p = *findProject(project);
  if (p.tables.empty()) return fail(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
  if (!rowBuffer || index < 0) return fail(ZEMTA_ERR_BAD_PARAMETER);
  auto* row = static_cast<uint8_t*>(rowBuffer);
  const auto at = static_cast<size_t>(index);

  if (kind == FILEPROJ_CATALOG_TABLES) {
    // Table rows are numbered; the fdb id plays no part.
    const std::vector<CatalogTable> tables = catalogTables(p);
    if (at >= tables.size()) return fail(ZEMTA_ERR_BAD_PARAMETER);
    std::memset(row, 0, FILEPROJ_CATALOG_TABLE_ROW_LEN);
    putCommon(row, p, tables[at]);
    putText(row, kTableRowType, "TABLE");
    put_i32le(row + kTableRowRemarks, -1);
    return 0;
  }
  if (kind != FILEPROJ_CATALOG_COLUMNS && kind != FILEPROJ_CATALOG_STATISTICS) return fail(ZEMTA_ERR_BAD_PARAMETER);
  CatalogTable c;
  if (fdbId == 0 || !addressed(p, fdbId, c)) return fail(ZEMTA_ERR_BAD_PARAMETER);

  if (kind == FILEPROJ_CATALOG_COLUMNS) {
    const std::vector<Field>& fields = c.fields();
    // A record table leads with the record number.
    const size_t lead = c.header ? 0 : 1;
    if (at >= fields.size() + lead) return fail(ZEMTA_ERR_BAD_PARAMETER);
    std::memset(row, 0, FILEPROJ_CATALOG_COLUMN_ROW_LEN);
    putCommon(row, p, c);
    if (at < lead)
      putColumn(row, "RecNo", {4, "INTEGER", 10, 4, 0, 10, 0});
    else
      putColumn(row, fields[at - lead].name(), sqlColumn(fields[at - lead]));
    return 0;
  }

  if (c.header || at >= indexCount(*c.entry) + 1) return fail(ZEMTA_ERR_BAD_PARAMETER);
  const Field* field = nullptr;
  if (at > 0) {
    field = indexField(*c.entry, at - 1);
    // A composite index has no single field to name.
    if (!field) return fail(ZEMTA_ERR_PROJECT_SETTINGS);
  }
  std::memset(row, 0, FILEPROJ_CATALOG_STATISTICS_ROW_LEN);
  putCommon(row, p, c);
  if (!field) {
    putStatistics(row, c, 0, "REC_NO", 1, "RecNo");
  } else {
    const auto rules = static_cast<uint32_t>(field->kind());
    const bool unique = (rules & kRuleUnique) && !(rules & (kRuleEmptyExempt | kRuleConfirmDuplicate));
    putStatistics(row, c, unique ? 0 : 1, field->indexFile(), 3, field->name());
  }
  return 0;
}
