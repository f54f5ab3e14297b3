// commit_bench: commits sales of five lines into a demo shop's project and
// sets the time of one commit beside the time of one fsync in the same
// folder, measured in the same run.
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
  std::vector<double> fileSyncs, folderSyncs;
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
      const uint64_t t1 = platform::monotonicNanoseconds();
      if (!platform::syncFolder(folder)) return 1;
      folderSyncs.push_back(microsecondsSince(t1));
    }
  }
  platform::deleteFile(probePath);
  const double fsyncFile = medianMicroseconds(fileSyncs);
  const double fsyncFolder = medianMicroseconds(folderSyncs);
  std::printf("sales committed:              %d (five lines each)\n", sales);
  std::printf("time per commit:              %.1f us\n", perCommit);
  std::printf("one fsync (96-byte append):   %.1f us (median of %zu)\n", fsyncFile, fileSyncs.size());
  std::printf("one fsync of the folder:      %.1f us (median of %zu)\n", fsyncFolder, folderSyncs.size());
  std::printf("commit / fsync:               %.1f\n", fsyncFile > 0 ? perCommit / fsyncFile : 0.0);
  return 0;
}
