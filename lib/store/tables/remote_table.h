// Tables kept as record stores by the remote file service. Their records
// keep the fixed layout of the project's fields, but travel as lists of
// typed column values; the service counts records from 1, keeps the indexes
// and runs the searches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zemta/filesearch.h"
#include "zemta/sockifs.h"

namespace zemta::filedb {

struct Table;
struct IndexEntry;

// Storage kind of a table opened under a mapping of this kind.
constexpr uint32_t kRemoteRecordStore = 2;

// Column types of the service (bits 0 to 4 of the type word).
constexpr uint16_t kColumnText = 0;
constexpr uint16_t kColumnTime = 12;
constexpr uint16_t kColumnDate = 13;
constexpr uint16_t kColumnDateTime = 14;

// Item types of a record field under a date-and-time column.
constexpr uint16_t kItemDateWord = 14;
constexpr uint16_t kItemTimeWord = 15;
constexpr uint16_t kItemDateTimeWords = 30;

// The column list kind of the service, and the kind of a record's values.
constexpr uint32_t kColumnListKind = 2;
constexpr uint32_t kRecordValuesKind = 10;

// One column of a record store and where its value lies in the record.
struct RemoteColumn {
  uint16_t id = 0;
  uint16_t type = 0;      // service type; bits 0 to 4 count
  uint16_t itemType = 0;  // the bound field's type code
  uint16_t offset = 0;
  uint16_t size = 0;      // 0 while no field is bound
  uint8_t bitPosition = 0;
  uint8_t bitCount = 0;   // 0: the whole field
  std::string name;       // the service's column name, for binding
  bool bound = false;     // a field of the project was bound to it
  bool described = false; // type and size known from its definition

  uint16_t kind() const { return type & 0x1F; }
  uint16_t fieldWord() const { return static_cast<uint16_t>(bitPosition | (bitCount << 8)); }
};

// The columns of the service's column-list reply: each item the column's
// definition (name at 2, size at 258, value type at 260), or its name alone
// (the definition is then asked for by the column).
std::vector<RemoteColumn> columnsFromItems(const SockIfsCidItem* items, int32_t count);
bool describeColumn(RemoteColumn& column, const uint8_t* definition, size_t length);

// The service form of the column's field in the record.
std::vector<uint8_t> valueOfField(const RemoteColumn& column, const uint8_t* record);
// Puts a service value back into the column's field of the record; the
// value's length is never trusted beyond what arrived.
void placeValue(const RemoteColumn& column, const uint8_t* value, size_t length, uint8_t* record);

// Date and time words of a record and the service's numbers.
uint32_t timeToService(uint16_t timeWord);
uint16_t timeFromService(uint32_t value);
uint32_t dateToService(uint16_t dateWord);
uint16_t dateFromService(uint32_t value);
int64_t secondsOfWords(uint16_t itemType, uint16_t dateWord, uint16_t timeWord);
void wordsOfSeconds(int64_t seconds, uint16_t* dateWord, uint16_t* timeWord);

// The column of a record offset and field word low byte; null when none.
const RemoteColumn* columnAt(const Table& table, uint32_t offset, uint8_t bitPosition);

// Binds the column named like the field (first 16 characters) to it; false
// when the service has no such column.
bool bindRemoteColumn(Table& table, const std::string& fieldName, uint16_t offset, uint16_t size,
                      uint16_t typeCode, uint16_t fieldWord);
// Keeps only the columns that a field was bound to.
void keepBoundColumns(Table& table);

// A search key in the service's form and the columns it runs over. False
// (0x20000085 reported) when the index has no column on the service.
struct RemoteKey {
  std::vector<uint16_t> columns;
  std::vector<uint8_t> from;
  std::vector<uint8_t> to;
};
bool convertKey(const Table& table, const IndexEntry& index, const uint8_t* from, const uint8_t* to,
                RemoteKey& out);
// The search kind of a range search: a prefix search on a keyword compare
// (16 or 48), plus 1 to narrow and 2 to widen.
uint32_t searchKind(const IndexEntry& index, const uint8_t* from, const uint8_t* to, uint32_t keyLen,
                    uint32_t step);

// The table operations on a record store. The table is open (per call or
// held) when these run; each reports its failures and returns -1.
bool remoteCreate(Table& table);
int32_t remoteRead(Table& table, uint32_t n, uint8_t* buffer);
// Sends the record's values as record p (p = the count appends).
int32_t remoteWrite(Table& table, uint32_t p, const uint8_t* data);
int32_t remoteDelete(Table& table, uint32_t first, uint32_t last);
int32_t remoteRecordTotal(Table& table, uint32_t* count);
int32_t remoteIdxEqu(Table& table, const IndexEntry& index, const void* key, int32_t* recordNumber);

// Searches of a record store (step 0 new, 1 narrow, 2 widen the list's
// search on the service), its orderings, combinations and joins; the
// service's list id goes with the list. 0 (1: the caller's list was too
// small for the result) or -1 after a report. They open the tables
// themselves.
int32_t remoteSearch(Table& table, IndexEntry& index, const void* from, const void* to, FileRecList& list,
                     uint32_t step, int32_t remoteWord);
int32_t remoteOrder(Table& table, FileRecList& list, const std::vector<IndexEntry*>& keys, bool ascending);
int32_t remoteCombine(Table& table, FileRecList& list, const FileRecList& other, int32_t mode);
int32_t remoteJoin(Table& table, IndexEntry& index, FileRecList& out, Table& other, IndexEntry& otherIndex,
                   const FileRecList& in);
// Asks the service to drop the list's own list and forgets its id.
int32_t dropRemoteList(FileRecList& list);
// Asks the service to drop a list or temporary index of its own (0: none).
int32_t dropServiceObject(uint32_t id);
// Has the service build a temporary index over the column, for the records
// of its list listId or (0) for every record: the service's index, or 0
// after a report.
uint32_t remoteTempIndex(Table& table, const RemoteColumn& column, uint32_t listId);

// The remote handle of the table's open file (0 when it is not on the service).
uint32_t remoteHandleOf(const Table& table);

}  // namespace zemta::filedb
