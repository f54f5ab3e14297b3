// The register's resource text, compiled in. This file is compiled without
// the code page 932 execution character set: the resource reader takes UTF-8.
#include "app/resources/varnex_resources.h"

#include <string>

#include "platform/ui/resources.h"

namespace varnex {

namespace {
const char* const kVarnexResources =
#include "res/varnex/varnex.res"
    ;
// The mode screens' forms, dialogs and accelerator tables (later ids
// replace earlier ones: the sign-on dialog replaces the start-up notice).
const char* const kModeResources =
#include "res/varnex/modes.res"
    ;
}  // namespace

bool LoadVarnexResources() {
  static bool loaded = false;
  if (!loaded)
    loaded = platform::ui::loadResourceText(kVarnexResources) && platform::ui::loadResourceText(kModeResources);
  return loaded;
}

}  // namespace varnex
