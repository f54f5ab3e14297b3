// prtreceipt: prints the receipt of a committed transaction again, from the
// daily receipt file of a day, to the register's receipt printer (the PDF
// files of the receipts folder when no printer is set up), so that a receipt
// can be seen without the register's screens.
//
//   prtreceipt <data folder> <receipt number> [<date YYYYMMDD>]
//
// The printer settings are the register's own (profile section "Settings").
// Without a display it draws off screen.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/register/print/receipt_printer.h"
#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/path.h"
#include "platform/ui/window.h"
#include "zemta/date.h"
#include "zemta/filedb.h"
#include "zemta/memory.h"

using namespace varnex::reg;

int main(int argc, char** argv) {
  platform::ui::useOffscreenWithoutDisplay();
  if (argc < 3) {
    std::fprintf(stderr, "usage: prtreceipt <data folder> <receipt number> [<date YYYYMMDD>]\n");
    return 2;
  }
  const long wanted = std::strtol(argv[2], nullptr, 10);
  uint16_t date = 0;
  if (argc > 3) {
    const long ymd = std::strtol(argv[3], nullptr, 10);
    date = dosDate(static_cast<int>(ymd / 10000), static_cast<int>(ymd / 100 % 100), static_cast<int>(ymd % 100));
  } else {
    GetDate(&date, nullptr);
  }
  std::string folder = argv[1];
  folder = platform::withSeparator(folder, '/');

  CRegCom engine;
  engine.SetDataFolder(folder);
  if (!engine.Open()) {
    std::fprintf(stderr, "prtreceipt: the register's project in %s cannot be opened\n", folder.c_str());
    return 1;
  }
  FileDBHandle daily = engine.PrfOpen(3, &date);
  if (!daily) {
    std::fprintf(stderr, "prtreceipt: no daily receipt file for that day\n");
    return 1;
  }
  // The transaction runs from the record after the previous closing record
  // to its own closing record.
  // Held open for the scan: a day holds many thousands of lines, and a
  // table not held is opened again for every record.
  const bool held = FileDBOpenEx(daily, FILEDB_MODE_READ) == 0;
  std::vector<uint8_t> lines;
  int32_t start = 0;
  bool found = false;
  const int32_t count = FileDBRecGetSize(daily);
  std::vector<uint8_t> record(line::kSize);
  for (int32_t n = 0; n < count && !found; ++n) {
    if (FileDBRecRead(daily, n, record.data()) != 0) break;
    if (keyType(getU16(record.data(), line::kKeyCode)) != kKeyClosing) continue;
    const long number = static_cast<long>(getU32(record.data(), line::kPrice) & 0xFFFF) +
                        getI32(record.data(), line::kUnitNet);
    if (number == wanted) {
      for (int32_t r = start; r <= n; ++r) {
        if (FileDBRecRead(daily, r, record.data()) != 0) break;
        lines.insert(lines.end(), record.begin(), record.end());
      }
      found = true;
    }
    start = n + 1;
  }
  if (held) FileDBCloseEx(daily);
  FileDBDelete(daily);
  if (!found) {
    std::fprintf(stderr, "prtreceipt: receipt %ld is not in that day's file\n", wanted);
    return 1;
  }

  CReceiptPrinter printer;
  printer.SetPrintEngine(&engine);
  printer.LoadReceiptSettings();
  printer.LoadPrinterSettings();
  if (!printer.m_bPrinterReady) {
    std::fprintf(stderr, "prtreceipt: no printer is ready (and the receipts folder cannot be written)\n");
    return 1;
  }
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  WriteDataMemory(block, lines.data(), static_cast<uint32_t>(lines.size()));
  const int32_t result = printer.PrintReceipt(block, 1, 0, -1, 0, 0, nullptr);
  DeleteMemory(block);
  if (result != 0) {
    std::fprintf(stderr, "prtreceipt: the transaction has no closing record\n");
    return 1;
  }
  if (!printer.LastPrintFile().empty()) std::printf("%s\n", printer.LastPrintFile().c_str());
  return 0;
}
