// reading_bench: the X readings of departments and of PLU items over a large
// day, and the Z report's number (a scan of the whole day's file), set
// beside SQLite's GROUP BY over the same rows in memory, measured in the
// same run.
//
//   reading_bench <data folder made by mkdemo> [sale lines, default 100000] [PLU items, default 5000]
//
// The tool adds PLU items up to the count, writes the sale lines into
// today's daily receipt file and posts their sums to the departments and
// items (what the commits of the day would have left), then reads. Use a
// copy of a demo project made for the purpose.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/precise_clock.h"
#include "platform/ui/frame.h"
#include "platform/ui/window.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

using namespace varnex::reg;
namespace ui = platform::ui;

namespace {

double millisecondsSince(uint64_t start) {
  return static_cast<double>(platform::monotonicNanoseconds() - start) / 1e6;
}

struct SaleLine {
  int32_t plu;         // record number of the item
  uint16_t department;
  int32_t quantity, amount;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: reading_bench <data folder made by mkdemo> [sale lines] [PLU items]\n");
    return 2;
  }
  const int32_t lines = argc > 2 ? std::atoi(argv[2]) : 100000;
  const int32_t items = argc > 3 ? std::atoi(argv[3]) : 5000;
  if (lines <= 0 || items <= 0) return 2;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ui::ensureApplication();
  ZemtaEnableLastErrorMessage(0);

  CRegCom engine;
  engine.SetDataFolder(argv[1]);
  if (!engine.Open()) {
    std::fprintf(stderr, "reading_bench: no register project in %s (make one with mkdemo)\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> manager(kTables[kClerkTable].recordLen);
  if (FileDBRecRead(engine.Table(kClerkTable), 0, manager.data()) != 0) return 1;
  engine.SetManager(manager.data());

  // The day: PLU items 1..items over the six departments, sale lines over them.
  std::vector<SaleLine> day(static_cast<size_t>(lines));
  for (int32_t i = 0; i < lines; ++i) {
    const int32_t plu = 1 + (i * 7919) % items;
    day[static_cast<size_t>(i)] = {plu, static_cast<uint16_t>(1 + plu % 6), 1 + i % 3, 100 + (i % 50) * 10};
  }
  std::vector<int64_t> pluCount(static_cast<size_t>(items) + 1), pluAmount(static_cast<size_t>(items) + 1);
  int64_t departmentCount[7] = {}, departmentAmount[7] = {};
  for (const SaleLine& s : day) {
    pluCount[static_cast<size_t>(s.plu)] += s.quantity;
    pluAmount[static_cast<size_t>(s.plu)] += s.amount;
    departmentCount[s.department] += s.quantity;
    departmentAmount[s.department] += s.amount;
  }
  {
    const uint64_t start = platform::monotonicNanoseconds();
    FileDBHandle table = engine.Table(kPluTable);
    if (FileDBOpenEx(table, FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH) != 0) return 1;
    std::vector<uint8_t> r(kTables[kPluTable].recordLen);
    int64_t totalCount = 0, totalAmount = 0;
    for (int32_t n = 1; n <= items; ++n) {
      std::memset(r.data(), 0, r.size());
      char name[32], code[16];
      std::snprintf(name, sizeof name, "ITEM %05d", n);
      std::snprintf(code, sizeof code, "29%010d", n);
      putText(r.data(), plu::kName.offset, plu::kName.size, name);
      putText(r.data(), plu::kPrintName.offset, plu::kPrintName.size, name);
      putText(r.data(), plu::kCode.offset, plu::kCode.size, code);
      putU16(r.data(), plu::kDepartment.offset, static_cast<uint16_t>(1 + n % 6));
      putI32(r.data(), plu::kCount.offset, static_cast<int32_t>(pluCount[static_cast<size_t>(n)]));
      putI32(r.data(), plu::kAmount.offset, static_cast<int32_t>(pluAmount[static_cast<size_t>(n)]));
      totalCount += pluCount[static_cast<size_t>(n)];
      totalAmount += pluAmount[static_cast<size_t>(n)];
      if (FileDBRecWrite(table, n, r.data()) != 0) return 1;
    }
    std::memset(r.data(), 0, r.size());
    putI32(r.data(), plu::kCount.offset, static_cast<int32_t>(totalCount));
    putI32(r.data(), plu::kAmount.offset, static_cast<int32_t>(totalAmount));
    if (FileDBRecWrite(table, 0, r.data()) != 0) return 1;
    FileDBCloseEx(table);
    FileDBHandle departments = engine.Table(kDepartmentTable);
    std::vector<uint8_t> d(kTables[kDepartmentTable].recordLen);
    for (int32_t n = 0; n <= 6; ++n) {
      if (FileDBRecRead(departments, n, d.data()) != 0) return 1;
      putI32(d.data(), department::kCount.offset, static_cast<int32_t>(n ? departmentCount[n] : totalCount));
      putI32(d.data(), department::kAmount.offset, static_cast<int32_t>(n ? departmentAmount[n] : totalAmount));
      if (FileDBRecWrite(departments, n, d.data()) != 0) return 1;
    }
    FileDBHandle daily = engine.PrfOpen(3, nullptr);
    if (!daily || FileDBOpenEx(daily, FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH) != 0) return 1;
    uint8_t l[line::kSize];
    for (const SaleLine& s : day) {
      std::memset(l, 0, sizeof l);
      putU16(l, line::kKeyCode, makeKeyCode(kKeyDepartment, s.department));
      putI32(l, line::kUnit, s.quantity);
      putI32(l, line::kPrice, s.amount);
      if (FileDBRecWrite(daily, 0x7FFFFFFF, l) != 0) return 1;
    }
    FileDBCloseEx(daily);
    FileDBDelete(daily);
    std::printf("day written:                   %d sale lines, %d PLU items (%.0f ms)\n", lines, items,
                millisecondsSince(start));
  }

  varnex::shell::CREGApp app;
  app.m_pRegCom = &engine;
  app.SetPrintEngine(&engine);
  app.LoadReceiptSettings();
  app.LoadPrinterSettings();
  app.m_bReceiptOn = 0;  // the reading, not the printer
  ui::Frame frame("ReadingFrame", "点検", ui::Rect{0, 0, 800, 600});

  // A reading from its set-up to its commit and its list; then its lines
  // committed once more alone, to show what of it is the journaling.
  auto reading = [&](int32_t viewMode, int32_t* count, double* commitMs) {
    auto* view = static_cast<CRegView*>(frame.setView(std::make_unique<CRegView>(&engine, &app, viewMode)));
    const uint64_t start = platform::monotonicNanoseconds();
    static_cast<ui::View*>(view)->onInitialUpdate();
    const double ms = millisecondsSince(start);
    *count = view->Sale().LineCount();
    const uint64_t again = platform::monotonicNanoseconds();
    engine.PrfUpdate(kModeXReading, view->Sale().LineBlock(), nullptr, nullptr, 0);
    *commitMs = millisecondsSince(again);
    return ms;
  };
  int32_t departmentLines = 0, pluLines = 0;
  double departmentsCommitMs = 0, pluCommitMs = 0;
  const double departmentsMs = reading(31, &departmentLines, &departmentsCommitMs);
  const double pluMs = reading(32, &pluLines, &pluCommitMs);
  uint8_t heading[line::kSize];
  uint64_t scanStart = platform::monotonicNanoseconds();
  engine.BuildReportHeader(heading, kReportDepartments, 0, 0);
  const double scanMs = millisecondsSince(scanStart);

  // SQLite over the same rows, in memory.
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK) return 1;
  sqlite3_exec(db, "CREATE TABLE sales(plu INTEGER, department INTEGER, quantity INTEGER, amount INTEGER)", nullptr,
               nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO sales VALUES(?,?,?,?)", -1, &insert, nullptr);
  for (const SaleLine& s : day) {
    sqlite3_bind_int(insert, 1, s.plu);
    sqlite3_bind_int(insert, 2, s.department);
    sqlite3_bind_int(insert, 3, s.quantity);
    sqlite3_bind_int(insert, 4, s.amount);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  auto groupBy = [&](const char* sql) {
    const uint64_t start = platform::monotonicNanoseconds();
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &q, nullptr);
    int64_t rows = 0;
    while (sqlite3_step(q) == SQLITE_ROW) ++rows;
    sqlite3_finalize(q);
    return millisecondsSince(start);
  };
  const double sqlDepartments =
      groupBy("SELECT department, SUM(quantity), SUM(amount) FROM sales GROUP BY department ORDER BY department");
  const double sqlPlu = groupBy("SELECT plu, SUM(quantity), SUM(amount) FROM sales GROUP BY plu ORDER BY plu");
  sqlite3_close(db);

  std::printf("X reading of departments:      %8.2f ms (%d lines)\n", departmentsMs, departmentLines);
  std::printf("  its commit alone:            %8.2f ms\n", departmentsCommitMs);
  std::printf("X reading of PLU items:        %8.2f ms (%d lines)\n", pluMs, pluLines);
  std::printf("  its commit alone:            %8.2f ms (the lines journaled in the day's file)\n", pluCommitMs);
  std::printf("  built and listed:            %8.2f ms\n", pluMs - pluCommitMs);
  std::printf("Z report number (day's file):  %8.2f ms (%d records scanned)\n", scanMs, lines);
  std::printf("SQLite GROUP BY department:    %8.2f ms\n", sqlDepartments);
  std::printf("SQLite GROUP BY PLU:           %8.2f ms\n", sqlPlu);
  std::printf("departments / SQLite:          %8.1f\n", sqlDepartments > 0 ? departmentsMs / sqlDepartments : 0.0);
  std::printf("PLU / SQLite:                  %8.1f\n", sqlPlu > 0 ? pluMs / sqlPlu : 0.0);
  std::printf("day's file scan / SQLite PLU:  %8.1f\n", sqlPlu > 0 ? scanMs / sqlPlu : 0.0);
  return 0;
}
