// commit_powercut: the two halves of the power-cut test of the commit
// (scripts/powercut-test.sh runs them against a loop-mounted file system).
//
//   commit_powercut sell <data folder> <sales> <progress file>
//     commits five-line sales one after the other; after each commit returns,
//     its number goes into the progress file (written and synced), so that a
//     copy of the disk taken later must hold at least that many sales.
//   commit_powercut check <data folder> <fresh data folder> <sales returned>
//     opens the data folder of a disk copy (the start finishes what the cut
//     left), counts the sales in today's daily receipt file, commits as many
//     sales into the fresh copy of the project without any cut, and compares
//     every counter of the two. Exit 0 when every returned sale is there,
//     whole, and nothing is half posted; 1 otherwise, with the reason.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/file.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/memory.h"

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

// Sale n: two items in departments of 8 % and 10 %, the subtotal, cash and
// the change; the quantity varies so that each sale moves other amounts.
MemoryBlockHandle saleBlock(int n) {
  const int32_t q = 1 + n % 3;
  const uint16_t rate1 = 1 << line::kRateShift;
  const std::vector<std::vector<uint8_t>> sale = {
      lineOf(kKeyDepartment, 1, q, 128, 128 * q, rate1 | line::kPointTarget),
      lineOf(kKeyDepartment, 5, 1, 500, 500),
      lineOf(kKeySystemLine, kLineSubtotal, 0, 0, 128 * q + 500, line::kDouble),
      lineOf(kKeyTrans1, kTenderCash, 1, 0, 2000),
      lineOf(kKeySystemLine, kLineChange, 0, 0, 2000 - 128 * q - 500),
  };
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  for (const auto& l : sale) WriteDataMemory(block, l.data(), line::kSize);
  return block;
}

bool openEngine(CRegCom& engine, const char* folder) {
  engine.SetDataFolder(folder);
  if (!engine.Open()) {
    std::fprintf(stderr, "commit_powercut: no register project in %s\n", folder);
    return false;
  }
  std::vector<uint8_t> manager(kTables[kClerkTable].recordLen);
  if (FileDBRecRead(engine.Table(kClerkTable), 0, manager.data()) != 0) return false;
  engine.SetManager(manager.data());
  return true;
}

bool commit(CRegCom& engine, int n) {
  MemoryBlockHandle block = saleBlock(n);
  const int32_t result = engine.PrfUpdate(kModeRegister1, block, nullptr, nullptr, 0);
  DeleteMemory(block);
  return result == 0;
}

int sell(const char* folder, int sales, const char* progress) {
  CRegCom engine;
  if (!openEngine(engine, folder)) return 1;
  for (int n = 0; n < sales; ++n) {
    if (!commit(engine, n)) {
      std::fprintf(stderr, "commit_powercut: sale %d failed\n", n + 1);
      return 1;
    }
    platform::File file = platform::File::open(progress, platform::kFileWrite, platform::kShareRead,
                                               platform::kCreateAlways);
    const std::string text = std::to_string(n + 1) + "\n";
    uint32_t done = 0;
    if (!file.isOpen() || !file.write(text.data(), static_cast<uint32_t>(text.size()), &done) || !file.syncData())
      return 1;
  }
  return 0;
}

const TableIndex kCounted[] = {kSettingsTable, kCustomerTable, kDepartmentTable, kPluTable, kGroupTable,
                               kClerkTable,    kTrans1Table,   kTrans2Table,     kTrans3Table, kFixedTotalTable};

struct Counted {
  TableIndex table;
  int32_t number;
  std::vector<uint8_t> image;
};

std::vector<Counted> counters(CRegCom& engine) {
  std::vector<Counted> records;
  for (TableIndex t : kCounted) {
    const int32_t count = FileDBRecGetSize(engine.Table(t));
    for (int32_t n = 0; n < count; ++n) {
      std::vector<uint8_t> r(kTables[t].recordLen);
      FileDBRecRead(engine.Table(t), n, r.data());
      records.push_back({t, n, r});
    }
  }
  return records;
}

// The first record that differs, described; empty when none does.
std::string firstDifference(const std::vector<Counted>& a, const std::vector<Counted>& b) {
  if (a.size() != b.size()) return std::to_string(a.size()) + " records against " + std::to_string(b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].image == b[i].image) continue;
    size_t at = 0;
    while (a[i].image[at] == b[i].image[at]) ++at;
    at &= ~size_t{3};
    return "table " + std::to_string(a[i].table) + " record " + std::to_string(a[i].number) + " offset " +
           std::to_string(at) + ": " + std::to_string(getI32(a[i].image.data(), at)) + " against " +
           std::to_string(getI32(b[i].image.data(), at));
  }
  return {};
}

// Sales in today's daily file (closing records), or -1 when it is not whole.
int salesInDailyFile(CRegCom& engine) {
  FileDBHandle file = engine.PrfOpen(3, nullptr);
  const int32_t count = file ? FileDBRecGetSize(file) : -1;
  int sales = count < 0 ? -1 : 0;
  for (int32_t n = 0; n < count; ++n) {
    std::vector<uint8_t> l(line::kSize);
    FileDBRecRead(file, n, l.data());
    if (keyType(getU16(l.data(), line::kKeyCode)) != kKeyClosing) continue;
    ++sales;
    if (getU16(l.data(), line::kPrice) != sales) {
      std::fprintf(stderr, "commit_powercut: sale %d has receipt number %u\n", sales, getU16(l.data(), line::kPrice));
      sales = -1;
      break;
    }
  }
  if (file) FileDBDelete(file);
  return sales;
}

int check(const char* folder, const char* fresh, int returned) {
  CRegCom cut;
  if (!openEngine(cut, folder)) return 1;
  const int sales = salesInDailyFile(cut);
  if (sales < returned) {
    std::fprintf(stderr, "commit_powercut: %d sales in the daily file, %d had returned\n", sales, returned);
    return 1;
  }
  CRegCom whole;
  if (!openEngine(whole, fresh)) return 1;
  for (int n = 0; n < sales; ++n)
    if (!commit(whole, n)) return 1;
  const std::string difference = firstDifference(counters(cut), counters(whole));
  if (!difference.empty()) {
    std::fprintf(stderr, "commit_powercut: the counters are not those of %d whole sales (%s)\n", sales,
                 difference.c_str());
    return 1;
  }
  std::printf("%d sales whole (%d had returned)\n", sales, returned);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ZemtaEnableLastErrorMessage(0);
  if (argc == 5 && std::strcmp(argv[1], "sell") == 0) return sell(argv[2], std::atoi(argv[3]), argv[4]);
  if (argc == 5 && std::strcmp(argv[1], "check") == 0) return check(argv[2], argv[3], std::atoi(argv[4]));
  std::fprintf(stderr,
               "usage: commit_powercut sell <data folder> <sales> <progress file>\n"
               "       commit_powercut check <data folder> <fresh data folder> <sales returned>\n");
  return 2;
}
