// commit_bench: commits sales of five lines into a demo shop's project and
// sets the time of one commit beside the time of one fdatasync (and one
// fsync) in the same folder, and beside SQLite committing the same changes
// durably (WAL, synchronous=FULL: the lines and closing record appended, the
// records a sale's posting changes rewritten, one transaction per sale),
// measured in the same run. A commit syncs its journal entry once; the daily
// file and the tables are synced at a checkpoint every
// CRegCom::kCheckpointInterval sales.
//
//   commit_bench <data folder made by mkdemo> [sales, default 10000]
//
// The project's counters, totalizers and today's daily receipt file grow by
// every sale: use a copy of a demo project made for the purpose.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/file.h"
#include "platform/base/folder_sync.h"
#include "platform/base/path.h"
#include "platform/base/precise_clock.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileproj.h"
#include "zemta/memory.h"

#if __has_include(<sqlite3.h>)
#include <sqlite3.h>
#define BENCH_HAS_SQLITE 1
#endif

using namespace varnex::reg;

namespace {

std::vector<uint8_t> lineOf(uint16_t type, uint16_t code, int32_t quantity, int32_t unitPrice, int32_t price,
                            uint16_t flags = 0) {
  std::vector<uint8_t> l(line::kSize, 0);
  putU16(l.data(), line::kKeyCode, makeKeyCode(type, code));
  putU16(l.data(), line::kFlags, flags);
  putI32(l.data(), line::kUnit, quantity);
  putI32(l.data(), line::kUnitPrice, unitPrice);
  putI32(l.data(), line::kPrice, price);
  return l;
}

double microsecondsSince(uint64_t start) {
  return static_cast<double>(platform::monotonicNanoseconds() - start) / 1000.0;
}

double medianMicroseconds(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[samples.size() / 2];
}

#ifdef BENCH_HAS_SQLITE
// SQLite doing what one commit does: six 96-byte records appended to the
// day's file and the 18 records a five-line sale's posting changes (items,
// record 0 of each item table, group, key, settings, clerk, totalizers)
// rewritten, in one durable transaction per sale. Microseconds per sale, or
// -1.
double sqliteCommit(const std::string& path, int sales) {
  platform::deleteFile(path);
  platform::deleteFile(path + "-wal");
  platform::deleteFile(path + "-shm");
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return -1;
  bool ok = sqlite3_exec(db,
                         "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                         "CREATE TABLE daily(data BLOB);"
                         "CREATE TABLE records(tbl INTEGER, n INTEGER, data BLOB, PRIMARY KEY(tbl, n));",
                         nullptr, nullptr, nullptr) == SQLITE_OK;
  constexpr int kChanged = 18;
  std::vector<uint8_t> record(80, 0);
  ok = ok && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* fill = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO records VALUES(?, ?, ?)", -1, &fill, nullptr) == SQLITE_OK;
  for (int t = 0; ok && t < 10; ++t)
    for (int n = 0; ok && n < 40; ++n) {
      sqlite3_bind_int(fill, 1, t);
      sqlite3_bind_int(fill, 2, n);
      sqlite3_bind_blob(fill, 3, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
      ok = sqlite3_step(fill) == SQLITE_DONE;
      sqlite3_reset(fill);
    }
  sqlite3_finalize(fill);
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* append = nullptr;
  sqlite3_stmt* update = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO daily VALUES(?)", -1, &append, nullptr) == SQLITE_OK;
  ok = ok && sqlite3_prepare_v2(db, "UPDATE records SET data = ? WHERE tbl = ? AND n = ?", -1, &update, nullptr) ==
                 SQLITE_OK;
  std::vector<uint8_t> line(line::kSize, 0x20);
  const uint64_t start = platform::monotonicNanoseconds();
  for (int i = 0; ok && i < sales; ++i) {
    ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    for (int l = 0; ok && l < 6; ++l) {
      sqlite3_bind_blob(append, 1, line.data(), static_cast<int>(line.size()), SQLITE_STATIC);
      ok = sqlite3_step(append) == SQLITE_DONE;
      sqlite3_reset(append);
    }
    for (int c = 0; ok && c < kChanged; ++c) {
      record[0] = static_cast<uint8_t>(i);
      sqlite3_bind_blob(update, 1, record.data(), static_cast<int>(record.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int(update, 2, c % 10);
      sqlite3_bind_int(update, 3, (c * 7 + i) % 40);
      ok = sqlite3_step(update) == SQLITE_DONE;
      sqlite3_reset(update);
    }
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  const double perSale = microsecondsSince(start) / static_cast<double>(sales);
  sqlite3_finalize(append);
  sqlite3_finalize(update);
  sqlite3_close(db);
  platform::deleteFile(path);
  platform::deleteFile(path + "-wal");
  platform::deleteFile(path + "-shm");
  return ok ? perSale : -1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: commit_bench <data folder made by mkdemo> [sales]\n");
    return 2;
  }
  const int sales = argc == 3 ? std::atoi(argv[2]) : 10000;
  if (sales <= 0) return 2;
  ZemtaEnableLastErrorMessage(0);
  CRegCom engine;
  engine.SetDataFolder(argv[1]);
  if (!engine.Open()) {
    std::fprintf(stderr, "commit_bench: no register project in %s (make one with mkdemo)\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> manager(kTables[kClerkTable].recordLen);
  if (FileDBRecRead(engine.Table(kClerkTable), 0, manager.data()) != 0) return 1;
  engine.SetManager(manager.data());

  // Two items in departments of 8 % and 10 %, the subtotal, 1000 tendered
  // and the change.
  const uint16_t rate1 = 1 << line::kRateShift;
  std::vector<std::vector<uint8_t>> sale = {
      lineOf(kKeyDepartment, 1, 2, 128, 256, rate1 | line::kPointTarget),
      lineOf(kKeyDepartment, 5, 1, 500, 500),
      lineOf(kKeySystemLine, kLineSubtotal, 0, 0, 826, line::kDouble),
      lineOf(kKeyTrans1, kTenderCash, 1, 0, 1000),
      lineOf(kKeySystemLine, kLineChange, 0, 0, 174),
  };
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  for (const auto& l : sale) WriteDataMemory(block, l.data(), line::kSize);

  const uint64_t start = platform::monotonicNanoseconds();
  for (int i = 0; i < sales; ++i) {
    if (engine.PrfUpdate(kModeRegister1, block, nullptr, nullptr, 0) == -1) {
      std::fprintf(stderr, "commit_bench: commit %d failed\n", i + 1);
      DeleteMemory(block);
      return 1;
    }
  }
  const double perCommit = microsecondsSince(start) / static_cast<double>(sales);
  DeleteMemory(block);

  // One fsync in the folder of the daily receipt file: a 96-byte append made
  // durable (what each of a commit's record writes costs), and the folder's
  // own entries.
  char folder[300] = {};
  if (FileProjGetPathName(engine.Project(), folder, 3, nullptr) != 0) return 1;
  const std::string probePath = platform::joinPath(folder, "commit_bench.probe");
  std::vector<double> fileSyncs, dataSyncs, folderSyncs;
  {
    platform::File probe = platform::File::open(probePath, platform::kFileWrite, platform::kShareNone,
                                                platform::kCreateAlways);
    if (!probe.isOpen()) return 1;
    const std::vector<uint8_t> record(line::kSize, 0x20);
    for (int i = 0; i < 101; ++i) {
      uint32_t done = 0;
      if (!probe.write(record.data(), line::kSize, &done)) return 1;
      const uint64_t t0 = platform::monotonicNanoseconds();
      if (!probe.flush()) return 1;
      fileSyncs.push_back(microsecondsSince(t0));
      if (!probe.write(record.data(), line::kSize, &done)) return 1;
      const uint64_t t2 = platform::monotonicNanoseconds();
      if (!probe.syncData()) return 1;
      dataSyncs.push_back(microsecondsSince(t2));
      const uint64_t t1 = platform::monotonicNanoseconds();
      if (!platform::syncFolder(folder)) return 1;
      folderSyncs.push_back(microsecondsSince(t1));
    }
  }
  platform::deleteFile(probePath);
  const double fsyncFile = medianMicroseconds(fileSyncs);
  const double fdatasyncFile = medianMicroseconds(dataSyncs);
  const double fsyncFolder = medianMicroseconds(folderSyncs);
  std::printf("sales committed:              %d (five lines each)\n", sales);
  std::printf("checkpoint interval:          %d sales\n", CRegCom::kCheckpointInterval);
  std::printf("time per commit:              %.1f us\n", perCommit);
  std::printf("one fdatasync (96-byte append): %.1f us (median of %zu)\n", fdatasyncFile, dataSyncs.size());
  std::printf("one fsync (96-byte append):   %.1f us (median of %zu)\n", fsyncFile, fileSyncs.size());
  std::printf("one fsync of the folder:      %.1f us (median of %zu)\n", fsyncFolder, folderSyncs.size());
  std::printf("commit / fdatasync:           %.2f\n", fdatasyncFile > 0 ? perCommit / fdatasyncFile : 0.0);
#ifdef BENCH_HAS_SQLITE
  const double sqlite =
      sqliteCommit(platform::mapPath(platform::joinPath(folder, "commit_bench.sqlite")), sales < 2000 ? sales : 2000);
  if (sqlite > 0) {
    std::printf("SQLite, same changes (WAL, synchronous=FULL): %.1f us per sale\n", sqlite);
    std::printf("commit / SQLite:              %.2f\n", perCommit / sqlite);
  }
#endif
  return 0;
}
