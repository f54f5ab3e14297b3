// The library's resource text, compiled in. This file is compiled without the
// code page 932 execution character set: the resource reader takes UTF-8.
#include "lib/resources/zemta_resources.h"

#include <mutex>

#include "platform/ui/resources.h"

namespace zemta {

namespace {
const char* const kLibraryResources =
#include "res/zemta/zemta.res"
    ;
}  // namespace

bool loadLibraryResources() {
  static std::once_flag once;
  static bool loaded = false;
  std::call_once(once, [] { loaded = platform::ui::loadResourceText(kLibraryResources); });
  return loaded;
}

}  // namespace zemta
