// A register writing to a container disk until it is killed:
//   disk_writer <disk> <progress file> <tag>
// Round i creates the file entry "\F<tag>_<i>" and writes contents(i) into
// it; every fifth round also removes round i-3's file and renames round
// i-1's from "F" to "G". A tag beginning with "T" runs the table rounds
// instead (tests/lib/container/disk_writer_rounds.h).
// After each round it writes i into the progress file, so that a test that
// kills it knows which rounds were whole.
#include <cstdio>
#include <string>

#include "platform/base/file.h"
#include "tests/lib/container/disk_writer_rounds.h"
#include "zemta/btreeex.h"
#include "zemta/errors.h"
#include "zemta/fileex.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  ZemtaEnableLastErrorMessage(0);
  BtreeExNew();
  FileExDiskHandle disk = FileExDiskCreate(argv[1], "writer", nullptr, 0);
  if (!disk) return 1;
  for (int round = 1; round < 100000; ++round) {
    const bool table = argv[3][0] == 'T';
    if (!(table ? disk_writer::runTableRound(disk, round) : disk_writer::runRound(disk, argv[3], round))) return 3;
    platform::File progress = platform::File::open(argv[2], platform::kFileWrite, platform::kShareRead,
                                                   platform::kCreateAlways);
    const std::string text = std::to_string(round);
    uint32_t done = 0;
    if (!progress.isOpen() || !progress.write(text.data(), static_cast<uint32_t>(text.size()), &done) ||
        !progress.flush())
      return 4;
  }
  return 0;
}
