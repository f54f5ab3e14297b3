// The ODBC link of the register: what the data engine keeps of it and the
// blocks it exchanges with its callers.
//
// The connection string lives in the first 512 bytes of the header of the
// project table "ODBCリンク" (zero-terminated); the table's records map
// register fields onto outside columns, one 80-byte record per field:
//
//   offset width field
//    0     u32   link kind (4 customers, 5 PLU, 13 orders, 19 sales lines,
//                20 settlement); index 0 of the table is on it
//    4     u16   register field: record offset
//    6     u16   register field: size
//    8     u16   register field: bit-field position word (start bit low byte)
//   10     u16   register field: item type word
//   12     u16   link flags: bit 0 key column, bit 1 text key, bit 15 (PLU)
//                purchase price per divisor
//   14     i16   SQL data type of the outside column
//   16     32    outside table name (may be "schema.table"), zero-terminated
//   48     32    outside column name; empty: the field is not linked
//
// Texts crossing into ODBC stay code page 932 here; the platform layer
// speaks UTF-8 to the driver (see platform/base/odbc.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/odbc.h"

namespace varnex::reg {

// A statement of the link: owned through this pointer, dropped (deleted and
// cleared) by the engine; null when none is allocated.
using OdbcStmt = platform::odbc::Statement*;

// Drops a statement and clears the handle.
inline void OdbcDrop(OdbcStmt* statement) {
  if (statement && *statement) {
    delete *statement;
    *statement = nullptr;
  }
}

// The parsed connection string. Every text is zero-terminated (255 bytes at
// most).
struct OdbcConnectParams {
  int32_t sourceKind;  // 1: neither DSN nor FILEDSN given, 0: one of them
  char driver[256];
  char dsn[256];
  char fileDsn[256];
  char uid[256];
  char pwd[256];
  int32_t trusted;  // -1 not given, 1 "Yes", 0 "No"
  char database[256];
  char wsid[256];
  char app[256];
  char server[256];
  char description[256];
  char defaultDir[256];
  char dbq[256];
  char other[256];  // every other pair as key=value; in the order met
};

inline constexpr size_t kOdbcHeaderLen = 512;

// The link's connection, our own thin class over the platform's ODBC.
class CDatabase {
 public:
  // Connects without prompting. False: the driver's message in LastError().
  bool OpenEx(const char* connect, uint32_t options = 0);
  void Close() { connection_.close(); }
  bool IsOpen() const { return connection_.isOpen(); }
  // The connection string the driver completed; the one given to OpenEx
  // when the completed one names neither a driver nor a data source (the
  // SQLite driver answers with "DSN=;..." for a string without a DSN).
  std::string GetConnect() const;
  // One unit of work: manual commit until CommitTrans or Rollback.
  bool BeginTrans() { return connection_.setAutoCommit(false); }
  bool CommitTrans();
  bool Rollback();
  bool InTransaction() const { return inTransaction_; }
  const std::string& LastError() const { return connection_.lastError(); }
  platform::odbc::Connection& Connection() { return connection_; }

 private:
  platform::odbc::Connection connection_;
  std::string given_;
  bool inTransaction_ = false;
  friend class CRegCom;
};

// The link kinds and what the engine keeps of each.
namespace odbcmap {
inline constexpr int kKinds = 5;
inline constexpr uint32_t kKindOf[kKinds] = {4, 5, 13, 19, 20};
inline constexpr int32_t kCapacity[kKinds] = {14, 34, 16, 19, 19};
inline constexpr uint32_t kCustomerBufferLen = 208, kPluBufferLen = 168, kOrderBufferLen = 154,
                          kSalesBufferLen = 164, kSettlementBufferLen = 96;
inline constexpr int kMaxCapacity = 34;
// Slot of a kind in the engine's arrays, -1 for any other kind.
inline int slotOf(uint32_t kind) {
  for (int i = 0; i < kKinds; ++i)
    if (kKindOf[i] == kind) return i;
  return -1;
}
}  // namespace odbcmap

// One register field of a statement: record offset, size, position word,
// item type word (the 8 bytes of a link record's descriptor).
struct OdbcField {
  uint16_t offset;
  uint16_t size;
  uint16_t position;
  uint16_t type;
};

// The map of one kind, loaded after each connect.
struct OdbcKindMap {
  int32_t count = 0;
  uint8_t descriptors[odbcmap::kMaxCapacity][8] = {};
  char names[odbcmap::kMaxCapacity][32] = {};
  std::string select;  // the kind's SELECT text
};

// The link state of the engine.
struct OdbcLinkState {
  int32_t foreign = 1;       // 0: the maker's own ODBC server
  int32_t pointsLinked = 0;  // the customer kind links the point balance
  int32_t excel = 0;         // an Excel source
  uint16_t pluFlags = 0;     // bit 1 text key, bit 15 price per divisor
  uint16_t orderFlags = 0;
  OdbcKindMap kinds[odbcmap::kKinds];
  std::unique_ptr<CDatabase> database;
};

}  // namespace varnex::reg
