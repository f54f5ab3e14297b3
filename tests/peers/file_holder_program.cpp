// Another process holding a file the way a running register holds its sale:
//   file_holder <file> <ready mark> <release mark>
// opens the file exclusively, makes the ready mark, and lets go once the
// release mark exists (or after a minute).
#include <string>

#include "platform/base/clock.h"
#include "platform/base/file.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  platform::File held =
      platform::File::open(argv[1], platform::kFileRead | platform::kFileWrite, platform::kShareNone,
                           platform::kOpenExisting);
  if (!held.isOpen()) return 1;
  platform::File ready = platform::File::open(argv[2], platform::kFileWrite, platform::kShareRead,
                                              platform::kCreateAlways);
  if (!ready.isOpen()) return 1;
  ready.close();
  for (int i = 0; i < 1200; ++i) {
    platform::File release =
        platform::File::open(argv[3], platform::kFileRead, platform::kShareRead | platform::kShareWrite,
                             platform::kOpenExisting);
    if (release.isOpen()) break;
    platform::sleepMilliseconds(50);
  }
  return 0;
}
