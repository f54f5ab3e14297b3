// Times a table with one index against SQLite on the same work: records of
// 64 bytes with a random 8-byte key appended one by one, then each record
// looked up by its key.
//
//   filedb_bench [count [order]]     (defaults: 100000 records, order 8 as in projects)
//
// The table is held open for reading and writing without write-through
// (FileDBOpenEx), as a bulk change holds it: the index is marked dirty at the
// first append and clean when the hold ends, and appended records and the
// index's changed nodes wait in memory until the hold ends (or their room is
// needed). The appends' time ends with that hold's end, when everything is
// in the files, as SQLite's ends with its commit; the lookups run in a hold
// of their own. SQLite gets one table with an index on the key, one
// transaction and synchronous=OFF. Both files lie in the system's temporary
// folder and are removed afterwards.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/base/clock.h"
#include "zemta/btree.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"

#if __has_include(<sqlite3.h>)
#include <sqlite3.h>
#define BENCH_HAS_SQLITE 1
#endif

namespace {

constexpr uint32_t kRecordLen = 64;
constexpr uint32_t kKeyOffset = 8;

double millisecondsSince(uint64_t start) { return static_cast<double>(platform::tickCount64() - start); }

struct Timing {
  double append = 0;
  double lookup = 0;
  double total() const { return append + lookup; }
};

std::vector<uint8_t> recordOf(uint64_t key, size_t n) {
  std::vector<uint8_t> record(kRecordLen, static_cast<uint8_t>(n));
  std::memcpy(record.data() + kKeyOffset, &key, 8);
  return record;
}

bool benchTable(const std::string& folder, const std::vector<uint64_t>& keys, uint32_t order, Timing* timing) {
  const std::string table = folder + "/filedb_bench.dbf", index = folder + "/filedb_bench.bxx";
  std::filesystem::remove(table);
  std::filesystem::remove(index);
  BtreeNew();
  FileDBHandle h = FileDBCreate(table.c_str(), 1, 16, kRecordLen, nullptr, nullptr);
  if (!h || FileAddIndex(h, index.c_str(), order, 0, kKeyOffset, 8, 0, nullptr, nullptr, nullptr) != 0) return false;
  const uint32_t hold = FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH;
  uint64_t start = platform::tickCount64();
  bool ok = FileDBOpenEx(h, hold) == 0;
  for (size_t i = 0; ok && i < keys.size(); ++i) {
    std::vector<uint8_t> record = recordOf(keys[i], i);
    ok = FileDBRecWrite(h, static_cast<int32_t>(i), record.data()) == 0;
  }
  ok = FileDBCloseEx(h) == 0 && ok;
  timing->append = millisecondsSince(start);
  start = platform::tickCount64();
  ok = ok && FileDBOpenEx(h, hold) == 0;
  for (size_t i = 0; ok && i < keys.size(); ++i) {
    int32_t record = -1;
    ok = FileIdxEqu(h, 0, &record, &keys[i]) == 1 && record == static_cast<int32_t>(i);
  }
  ok = FileDBCloseEx(h) == 0 && ok;
  timing->lookup = millisecondsSince(start);
  ok = FileDBRecGetSize(h) == static_cast<int32_t>(keys.size()) && ok;
  FileDBDelete(h);
  BtreeNew();
  std::filesystem::remove(table);
  std::filesystem::remove(index);
  return ok;
}

#ifdef BENCH_HAS_SQLITE
bool benchSqlite(const std::string& path, const std::vector<uint64_t>& keys, Timing* timing) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  bool ok = sqlite3_exec(db,
                         "PRAGMA synchronous=OFF;"
                         "CREATE TABLE records(k BLOB NOT NULL, data BLOB NOT NULL);"
                         "CREATE INDEX records_k ON records(k);",
                         nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* select = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO records(rowid, k, data) VALUES(?, ?, ?)", -1, &insert, nullptr) ==
                 SQLITE_OK;
  ok = ok && sqlite3_prepare_v2(db, "SELECT rowid FROM records WHERE k = ?", -1, &select, nullptr) == SQLITE_OK;

  uint64_t start = platform::tickCount64();
  ok = ok && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  for (size_t i = 0; ok && i < keys.size(); ++i) {
    std::vector<uint8_t> record = recordOf(keys[i], i);
    sqlite3_bind_int64(insert, 1, static_cast<sqlite3_int64>(i));
    sqlite3_bind_blob(insert, 2, &keys[i], 8, SQLITE_STATIC);
    sqlite3_bind_blob(insert, 3, record.data(), kRecordLen, SQLITE_TRANSIENT);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  timing->append = millisecondsSince(start);
  // Lookups in one read transaction, as the table is held open for them.
  start = platform::tickCount64();
  ok = ok && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  for (size_t i = 0; ok && i < keys.size(); ++i) {
    sqlite3_bind_blob(select, 1, &keys[i], 8, SQLITE_STATIC);
    ok = sqlite3_step(select) == SQLITE_ROW && sqlite3_column_int64(select, 0) == static_cast<sqlite3_int64>(i);
    sqlite3_reset(select);
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  timing->lookup = millisecondsSince(start);
  sqlite3_finalize(insert);
  sqlite3_finalize(select);
  sqlite3_close(db);
  std::filesystem::remove(path);
  return ok;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
  const uint32_t order = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 8;
  if (count == 0 || count > 0x7FFFFFFF || order == 0) {
    std::fprintf(stderr, "usage: filedb_bench [count [order]]\n");
    return 2;
  }
  ZemtaEnableLastErrorMessage(0);
  std::mt19937_64 random(20240611);
  std::vector<uint64_t> keys(count);
  for (uint64_t& key : keys) key = random();

  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("filedb_bench_" + std::to_string(platform::tickCount64()));
  std::filesystem::create_directories(folder);
  Timing table, sqlite;
  bool ok = benchTable(folder.string(), keys, order, &table);
  if (!ok) {
    std::fprintf(stderr, "the table run failed\n");
  } else {
    std::printf("%zu records of %u bytes, random 8-byte keys: appends, then exact lookups by key\n", count,
                kRecordLen);
    std::printf("table + index (order %u, held open, no write-through): append %8.1f ms  lookup %8.1f ms  total %8.1f ms\n",
                order, table.append, table.lookup, table.total());
#ifdef BENCH_HAS_SQLITE
    ok = benchSqlite((folder / "filedb_bench.sqlite").string(), keys, &sqlite);
    if (!ok) {
      std::fprintf(stderr, "the SQLite run failed\n");
    } else {
      std::printf("SQLite (indexed table, one transaction, synchronous=OFF): append %8.1f ms  lookup %8.1f ms  total %8.1f ms\n",
                  sqlite.append, sqlite.lookup, sqlite.total());
      std::printf("ratio table / SQLite: append %.2f  lookup %.2f  total %.2f\n", table.append / sqlite.append,
                  table.lookup / sqlite.lookup, table.total() / sqlite.total());
    }
#else
    std::printf("SQLite not found at build time: no comparison\n");
#endif
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return ok ? 0 : 1;
}
