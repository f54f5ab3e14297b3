// Quorex's resource text, compiled in. This file is compiled without the
// code page 932 execution character set: the resource reader takes UTF-8.
#include "comm/resources/quorex_resources.h"

#include "platform/ui/resources.h"

namespace quorex {

namespace {
const char* const kQuorexResources =
#include "res/quorex/quorex.res"
    ;
}  // namespace

bool LoadQuorexResources() {
  static bool loaded = false;
  if (!loaded) loaded = platform::ui::loadResourceText(kQuorexResources);
  return loaded;
}

}  // namespace quorex
