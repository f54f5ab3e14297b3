// Times the library's B-tree index files and the container store's extended
// B-tree against SQLite on the same work: random 8-byte keys inserted one by
// one, then each looked up exactly, then (the index files' tree and SQLite)
// every key deleted in another random order.
//
//   btree_bench [count [order]]     (defaults: 100000 keys, order 32)
//
// The tree is held open for reading and writing without write-through, as
// the table layer holds an index during a bulk change; SQLite gets one
// indexed table, one transaction and synchronous=OFF. The extended tree has
// the store's shape for 8-byte keys (order 10, one 512-byte block a node),
// held open the same way. Both files lie in the
// system's temporary folder and are removed afterwards.
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
#include "zemta/btreeex.h"
#include "zemta/errors.h"

#if __has_include(<sqlite3.h>)
#include <sqlite3.h>
#define BENCH_HAS_SQLITE 1
#endif

namespace {

// Milliseconds of the tick count (<chrono> does not build with the code page
// 932 execution character set).
double millisecondsSince(uint64_t start) { return static_cast<double>(platform::tickCount64() - start); }

struct Timing {
  double insert = 0;
  double lookup = 0;
  double erase = 0;
  double total() const { return insert + lookup + erase; }
};

// The order the keys are deleted in: another random order than the inserts'.
std::vector<size_t> deleteOrder(size_t count) {
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::mt19937_64 random(20240602);
  for (size_t i = count; i > 1; --i) std::swap(order[i - 1], order[random() % i]);
  return order;
}

bool benchTree(const std::string& path, const std::vector<uint64_t>& keys, uint32_t order, Timing* timing) {
  std::filesystem::remove(path);
  BtreeNew();
  int32_t tree = BtreeCreate(path.c_str(), 48, order, 0, 8, nullptr, 0);
  if (tree < 0) return false;
  uint64_t start = platform::tickCount64();
  if (BtreeOpen(tree, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH) != 0) return false;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (BtreeIns(tree, static_cast<uint32_t>(i), &keys[i]) != 0) return false;
  }
  timing->insert = millisecondsSince(start);
  start = platform::tickCount64();
  for (size_t i = 0; i < keys.size(); ++i) {
    uint32_t record = 0;
    if (BtreeEqu(tree, &record, &keys[i]) != 1 || record != i) return false;
  }
  timing->lookup = millisecondsSince(start);
  uint32_t count = 0;
  bool sound = BtreeCheck(tree, &count, nullptr, nullptr) == 0 && count == keys.size();
  start = platform::tickCount64();
  for (size_t i : deleteOrder(keys.size())) {
    if (BtreeDel(tree, static_cast<uint32_t>(i), &keys[i]) != 0) return false;
  }
  if (BtreeClose(tree) != 0) return false;
  timing->erase = millisecondsSince(start);
  sound = sound && BtreeCheck(tree, &count, nullptr, nullptr) == 0 && count == 0;
  BtreeRelease(tree);
  std::filesystem::remove(path);
  return sound;
}

bool benchTreeEx(const std::string& path, const std::vector<uint64_t>& keys, Timing* timing) {
  std::filesystem::remove(path);
  {
    // The root slot: 8 zero bytes at the start of the file.
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const char slot[8] = {};
    std::fwrite(slot, 1, sizeof slot, file);
    std::fclose(file);
  }
  BtreeExNew();
  // Extended tree handles are negative numbers; -1 is the failure.
  int32_t tree = BtreeExCreate(path.c_str(), 0, 0, 10, 2, 8, nullptr, nullptr, 0, nullptr, 0, nullptr);
  if (tree == -1) return false;
  uint64_t start = platform::tickCount64();
  if (BtreeExOpen(tree, 0x100003) != 0) return false;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (BtreeExIns(tree, static_cast<uint32_t>(i), 0, &keys[i]) != 0) return false;
  }
  timing->insert = millisecondsSince(start);
  start = platform::tickCount64();
  for (size_t i = 0; i < keys.size(); ++i) {
    uint64_t id = 0;
    if (BtreeExEqu(tree, &id, &keys[i]) != 1 || id != i) return false;
  }
  if (BtreeExClose(tree) != 0) return false;
  timing->lookup = millisecondsSince(start);
  BtreeExDelete();
  std::filesystem::remove(path);
  return true;
}

#ifdef BENCH_HAS_SQLITE
bool benchSqlite(const std::string& path, const std::vector<uint64_t>& keys, Timing* timing) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  bool ok = sqlite3_exec(db,
                         "PRAGMA synchronous=OFF;"
                         "CREATE TABLE entries(k BLOB NOT NULL, rec INTEGER NOT NULL);"
                         "CREATE INDEX entries_k ON entries(k, rec);",
                         nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* erase = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO entries(k, rec) VALUES(?, ?)", -1, &insert, nullptr) == SQLITE_OK;
  ok = ok && sqlite3_prepare_v2(db, "SELECT rec FROM entries WHERE k = ?", -1, &select, nullptr) == SQLITE_OK;
  ok = ok && sqlite3_prepare_v2(db, "DELETE FROM entries WHERE k = ? AND rec = ?", -1, &erase, nullptr) == SQLITE_OK;

  uint64_t start = platform::tickCount64();
  ok = ok && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  for (size_t i = 0; ok && i < keys.size(); ++i) {
    sqlite3_bind_blob(insert, 1, &keys[i], 8, SQLITE_STATIC);
    sqlite3_bind_int64(insert, 2, static_cast<sqlite3_int64>(i));
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  timing->insert = millisecondsSince(start);
  start = platform::tickCount64();
  for (size_t i = 0; ok && i < keys.size(); ++i) {
    sqlite3_bind_blob(select, 1, &keys[i], 8, SQLITE_STATIC);
    ok = sqlite3_step(select) == SQLITE_ROW && sqlite3_column_int64(select, 0) == static_cast<sqlite3_int64>(i);
    sqlite3_reset(select);
  }
  timing->lookup = millisecondsSince(start);
  start = platform::tickCount64();
  for (size_t i : deleteOrder(keys.size())) {
    if (!ok) break;
    sqlite3_bind_blob(erase, 1, &keys[i], 8, SQLITE_STATIC);
    sqlite3_bind_int64(erase, 2, static_cast<sqlite3_int64>(i));
    ok = sqlite3_step(erase) == SQLITE_DONE && sqlite3_changes(db) == 1;
    sqlite3_reset(erase);
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  timing->erase = millisecondsSince(start);

  sqlite3_finalize(insert);
  sqlite3_finalize(select);
  sqlite3_finalize(erase);
  sqlite3_close(db);
  std::filesystem::remove(path);
  return ok;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
  const uint32_t order = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 32;
  if (count == 0 || order == 0) {
    std::fprintf(stderr, "usage: btree_bench [count [order]]\n");
    return 2;
  }
  ZemtaEnableLastErrorMessage(0);

  // Distinct random keys, in random order.
  std::mt19937_64 random(20240601);
  std::vector<uint64_t> keys(count);
  for (uint64_t& key : keys) key = random();

  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  const std::string stamp = std::to_string(platform::tickCount64());
  Timing tree, sqlite;
  if (!benchTree((folder / ("btree_bench_" + stamp + ".bt")).string(), keys, order, &tree)) {
    std::fprintf(stderr, "the B-tree run failed\n");
    return 1;
  }
  Timing treeEx;
  if (!benchTreeEx((folder / ("btree_bench_" + stamp + ".bx")).string(), keys, &treeEx)) {
    std::fprintf(stderr, "the extended B-tree run failed\n");
    return 1;
  }
  std::printf("%zu random 8-byte keys: inserts, then exact lookups, then deletes (not in the extended B-tree)\n",
              count);
  std::printf("B-tree (order %u, held open, no write-through): insert %8.1f ms  lookup %8.1f ms  delete %8.1f ms  "
              "total %8.1f ms\n",
              order, tree.insert, tree.lookup, tree.erase, tree.total());
  std::printf("extended B-tree (order 10, 512-byte nodes, held open): insert %8.1f ms  lookup %8.1f ms  total %8.1f ms\n",
              treeEx.insert, treeEx.lookup, treeEx.total());
#ifdef BENCH_HAS_SQLITE
  if (!benchSqlite((folder / ("btree_bench_" + stamp + ".sqlite")).string(), keys, &sqlite)) {
    std::fprintf(stderr, "the SQLite run failed\n");
    return 1;
  }
  std::printf("SQLite (indexed table, one transaction, synchronous=OFF): insert %8.1f ms  lookup %8.1f ms  "
              "delete %8.1f ms  total %8.1f ms\n",
              sqlite.insert, sqlite.lookup, sqlite.erase, sqlite.total());
  std::printf("ratio B-tree / SQLite: insert %.2f  lookup %.2f  delete %.2f  total %.2f\n", tree.insert / sqlite.insert,
              tree.lookup / sqlite.lookup, tree.erase / sqlite.erase, tree.total() / sqlite.total());
  // Without deletes: its total beside SQLite's inserts and lookups only.
  std::printf("ratio extended B-tree / SQLite: insert %.2f  lookup %.2f  total %.2f\n", treeEx.insert / sqlite.insert,
              treeEx.lookup / sqlite.lookup, treeEx.total() / (sqlite.insert + sqlite.lookup));
#else
  std::printf("SQLite: not built (no sqlite3.h)\n");
#endif
  return 0;
}
